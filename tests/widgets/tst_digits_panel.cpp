#include <QImage>
#include <QMetaProperty>
#include <QPalette>
#include <QtTest>

#include <cstdint>
#include <limits>

#include "widgets/digits_panel.h"
#include "widgets/panel_color.h"

using norva::TDigitsPanel;
using Bevel = TDigitsPanel::BevelStyle;

Q_DECLARE_METATYPE(Bevel)

namespace {

const QColor kHighlight(250, 240, 10);
const QColor kShadow(20, 60, 160);
const QRgb kUnpainted = qRgb(255, 0, 255);

QPalette BevelPalette() {
    QPalette palette;
    palette.setColor(QPalette::Light, kHighlight);
    palette.setColor(QPalette::Dark, kShadow);
    palette.setColor(QPalette::Shadow, QColor(1, 2, 3));
    palette.setColor(QPalette::Midlight, QColor(4, 5, 6));
    palette.setColor(QPalette::Button, QColor(7, 8, 9));
    palette.setColor(QPalette::Window, QColor(10, 11, 12));
    return palette;
}

// What the panel paints, on a canvas pre-filled with a colour the panel never uses, so any
// pixel it leaves alone shows up.
QImage Shoot(TDigitsPanel& panel, qreal ratio = 1.0) {
    QImage image(panel.size() * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(kUnpainted);
    panel.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

QString Describe(int x, int y, QRgb got, QRgb want) {
    return QStringLiteral("pixel (%1, %2) is %3, expected %4")
        .arg(x)
        .arg(y)
        .arg(got, 8, 16, QLatin1Char('0'))
        .arg(want, 8, 16, QLatin1Char('0'));
}

// Checks every pixel of a shot against the layout: bevel rings (right column and bottom row of
// each ring in the bottom colour, the rest in the top colour), the background, and each cell a
// pixel-exact copy of its strip cell. Returns the first mismatch, or an empty string.
QString CheckEveryPixel(const QImage& shot, const TDigitsPanel& panel, const QList<int>& glyphs) {
    QRect area = shot.rect();
    if (area.size() != panel.size()) return QStringLiteral("shot size differs from panel size");
    const int bw = panel.BevelWidth();
    QImage expected(shot.size(), QImage::Format_RGB32);
    expected.fill(kUnpainted);
    for (Bevel style : {panel.BevelOuter(), panel.BevelInner()}) {
        if (style == Bevel::None) continue;
        const QColor top = style == Bevel::Lowered ? kShadow : kHighlight;
        const QColor bottom = style == Bevel::Lowered ? kHighlight : kShadow;
        for (int ring = 0; ring < bw; ++ring) {
            const QRect r = area.adjusted(ring, ring, -ring, -ring);
            for (int y = r.top(); y <= r.bottom(); ++y) {
                for (int x = r.left(); x <= r.right(); ++x) {
                    if (x != r.left() && x != r.right() && y != r.top() && y != r.bottom()) {
                        continue;
                    }
                    const bool bottomSide = x == r.right() || y == r.bottom();
                    expected.setPixel(x, y, (bottomSide ? bottom : top).rgb());
                }
            }
        }
        area.adjust(bw, bw, -bw, -bw);
    }
    const QRgb background = norva::ToQColor(panel.Color(), BevelPalette()).rgb();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            expected.setPixel(x, y, background);
    }
    const QImage strip = panel.Digits().convertToFormat(QImage::Format_RGB32);
    const int dw = panel.DigitWidth();
    const int dh = panel.DigitHeight();
    for (int i = 0; i < glyphs.size(); ++i) {
        const int left = area.left() + panel.Margin() + i * (dw + panel.Margin());
        const int top = area.top() + panel.Margin();
        for (int y = 0; y < dh; ++y) {
            for (int x = 0; x < dw; ++x) {
                expected.setPixel(left + x, top + y, strip.pixel(glyphs[i] * dw + x, y));
            }
        }
    }
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb got = shot.pixel(x, y);
            const QRgb want = expected.pixel(x, y);
            if (got != want) return Describe(x, y, got, want);
        }
    }
    return {};
}

// A strip whose every column differs, 115 wide: cells of 10 with five spare columns.
QImage ColumnStrip() {
    QImage strip(115, 20, QImage::Format_RGB32);
    for (int y = 0; y < strip.height(); ++y) {
        for (int x = 0; x < strip.width(); ++x)
            strip.setPixel(x, y, qRgb(x * 2, y * 10, 100));
    }
    return strip;
}

}  // namespace

class TestDigitsPanel : public QObject {
    Q_OBJECT

private:
    QWidget host_;

    // A panel on the host with the program's strip, the given digit count and margin.
    TDigitsPanel* MakePanel(int length = 3, int margin = 2) {
        auto* panel = new TDigitsPanel(&host_);
        panel->SetDigits(&norva::DigitStrip());
        panel->SetLength(static_cast<norva::TDigitsLength>(length));
        panel->SetMargin(static_cast<std::uint8_t>(margin));
        panel->SetBounds(8, 240, 0, 0);
        return panel;
    }

private slots:
    void initTestCase() {
        host_.setPalette(BevelPalette());
        QCOMPARE(norva::DigitStrip().size(), QSize(418, 53));
    }
    void cleanup() { qDeleteAll(host_.findChildren<TDigitsPanel*>()); }

    void freshPanelIsEmptyUntilSized() {
        TDigitsPanel panel(&host_);
        QCOMPARE(panel.size(), QSize(0, 0));
        QVERIFY(panel.testAttribute(Qt::WA_OpaquePaintEvent));
        QVERIFY(!panel.testAttribute(Qt::WA_NativeWindow));
        QCOMPARE(panel.BevelOuter(), Bevel::Raised);
        QCOMPARE(panel.BevelInner(), Bevel::Lowered);
        QCOMPARE(panel.BevelWidth(), 2);
        QCOMPARE(panel.Color(), 0u);
        QCOMPARE(panel.Length(), 4);
        QCOMPARE(panel.Margin(), 2);
        QCOMPARE(panel.Value(), 0);
        QCOMPARE(panel.DigitWidth(), 0);
        QCOMPARE(panel.DigitHeight(), 0);

        // Without a strip: frames around a black background, nothing else.
        panel.SetValue(42);
        panel.SetBounds(3, 4, 0, 0);
        QCOMPARE(panel.geometry(), QRect(3, 4, 18, 12));
        QCOMPARE(CheckEveryPixel(Shoot(panel), panel, {}), QString());
    }

    void sizeRule_data() {
        QTest::addColumn<Bevel>("outer");
        QTest::addColumn<Bevel>("inner");
        QTest::addColumn<int>("bevelWidth");
        QTest::addColumn<int>("margin");
        QTest::addColumn<int>("length");
        QTest::addColumn<QSize>("size");
        QTest::newRow("note count")
            << Bevel::Raised << Bevel::Lowered << 2 << 2 << 3 << QSize(130, 65);
        QTest::newRow("escrow") << Bevel::Raised << Bevel::Lowered << 2 << 2 << 5 << QSize(210, 65);
        QTest::newRow("credit") << Bevel::Raised << Bevel::Lowered << 2 << 3 << 8 << QSize(339, 67);
        QTest::newRow("credit, margin 2")
            << Bevel::Raised << Bevel::Lowered << 2 << 2 << 8 << QSize(330, 65);
        QTest::newRow("no bevels")
            << Bevel::None << Bevel::None << 2 << 2 << 4 << QSize(2 + 40 * 4, 57);
        QTest::newRow("inner only") << Bevel::None << Bevel::Space << 3 << 0 << 1 << QSize(44, 59);
        QTest::newRow("outer only")
            << Bevel::Lowered << Bevel::None << 5 << 1 << 2 << QSize(10 + 1 + 78, 10 + 55);
        QTest::newRow("zero-width bevels")
            << Bevel::Raised << Bevel::Raised << 0 << 4 << 1 << QSize(46, 61);
    }
    void sizeRule() {
        QFETCH(Bevel, outer);
        QFETCH(Bevel, inner);
        QFETCH(int, bevelWidth);
        QFETCH(int, margin);
        QFETCH(int, length);
        QFETCH(QSize, size);
        TDigitsPanel* panel = MakePanel(length, margin);
        panel->SetBevelOuter(outer);
        panel->SetBevelInner(inner);
        panel->SetBevelWidth(static_cast<std::uint8_t>(bevelWidth));
        QCOMPARE(panel->geometry(), QRect(QPoint(8, 240), size));

        panel->SetBounds(17, 23, 999, 1);
        QCOMPARE(panel->geometry(), QRect(QPoint(17, 23), size));
        panel->resize(500, 500);
        QCOMPARE(panel->size(), size);
        // One more pixel of margin: one per cell and one more around them.
        panel->SetMargin(static_cast<std::uint8_t>(margin + 1));
        QCOMPARE(panel->geometry(), QRect(QPoint(17, 23), size + QSize(length + 1, 2)));
    }

    void valueIsReducedToTheDigitCount_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("stored");
        const int min = std::numeric_limits<std::int32_t>::min();
        const int max = std::numeric_limits<std::int32_t>::max();
        QTest::newRow("1234 in 3") << 3 << 1234 << 234;
        QTest::newRow("-5 in 3") << 3 << -5 << 5;
        QTest::newRow("999 in 3") << 3 << 999 << 999;
        QTest::newRow("1000 in 3") << 3 << 1000 << 0;
        QTest::newRow("-9 in 1") << 1 << -9 << 9;
        QTest::newRow("10^8 in 8") << 8 << 100000000 << 0;
        QTest::newRow("99999999 in 8") << 8 << 99999999 << 99999999;
        QTest::newRow("INT32_MIN in 8") << 8 << min << 47483648;
        QTest::newRow("INT32_MIN in 5") << 5 << min << 83648;
        QTest::newRow("INT32_MAX in 8") << 8 << max << 47483647;
        QTest::newRow("-INT32_MAX in 4") << 4 << -max << 3647;
        QTest::newRow("1234567890 in 9") << 9 << 1234567890 << 234567890;
        QTest::newRow("-1000000000 in 9") << 9 << -1000000000 << 0;
        QTest::newRow("-999999999 in 9") << 9 << -999999999 << 999999999;
        QTest::newRow("INT32_MAX in 10") << 10 << max << max;
        QTest::newRow("-INT32_MAX in 255") << 255 << -max << max;
    }
    void valueIsReducedToTheDigitCount() {
        QFETCH(int, length);
        QFETCH(int, input);
        QFETCH(int, stored);
        TDigitsPanel* panel = MakePanel(length);
        panel->SetValue(input);
        QCOMPARE(panel->Value(), stored);
    }

    void paintsFramesBackgroundAndCells_data() {
        QTest::addColumn<int>("lengthAtWrite");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("margin");
        QTest::addColumn<Bevel>("outer");
        QTest::addColumn<Bevel>("inner");
        QTest::addColumn<int>("bevelWidth");
        QTest::addColumn<int>("value");
        QTest::addColumn<QList<int>>("glyphs");
        const int b = TDigitsPanel::kBlankGlyph;
        const Bevel raised = Bevel::Raised;
        const Bevel lowered = Bevel::Lowered;
        QTest::newRow("0 in 3") << 3 << 3 << 2 << raised << lowered << 2 << 0 << QList{b, b, 0};
        QTest::newRow("1234 in 3")
            << 3 << 3 << 2 << raised << lowered << 2 << 1234 << QList{2, 3, 4};
        QTest::newRow("-5 in 3") << 3 << 3 << 2 << raised << lowered << 2 << -5 << QList{b, b, 5};
        QTest::newRow("7, then 5 digits")
            << 3 << 5 << 2 << raised << lowered << 2 << 7 << QList{b, b, b, b, 7};
        QTest::newRow("12345, then 3 digits")
            << 5 << 3 << 2 << raised << lowered << 2 << 12345 << QList{1, 2, 3};
        QTest::newRow("all digits, lowered outer")
            << 8 << 8 << 3 << lowered << raised << 2 << 90876543 << QList{9, 0, 8, 7, 6, 5, 4, 3};
        QTest::newRow("no bevels")
            << 4 << 4 << 2 << Bevel::None << Bevel::None << 2 << 61 << QList{b, b, 6, 1};
        QTest::newRow("space outer, wide")
            << 2 << 2 << 0 << Bevel::Space << Bevel::None << 4 << 8 << QList{b, 8};
    }
    void paintsFramesBackgroundAndCells() {
        QFETCH(int, lengthAtWrite);
        QFETCH(int, length);
        QFETCH(int, margin);
        QFETCH(Bevel, outer);
        QFETCH(Bevel, inner);
        QFETCH(int, bevelWidth);
        QFETCH(int, value);
        QFETCH(QList<int>, glyphs);
        TDigitsPanel* panel = MakePanel(lengthAtWrite, margin);
        panel->SetBevelOuter(outer);
        panel->SetBevelInner(inner);
        panel->SetBevelWidth(static_cast<std::uint8_t>(bevelWidth));
        panel->SetColor(0x02102030);
        panel->SetValue(value);
        const int stored = panel->Value();
        panel->SetLength(static_cast<norva::TDigitsLength>(length));
        QCOMPARE(panel->Value(), stored);
        QCOMPARE(CheckEveryPixel(Shoot(*panel), *panel, glyphs), QString());
    }

    void stripChangeSetsCellsAndBackground_data() {
        QTest::addColumn<QImage>("strip");
        QTest::addColumn<int>("digitWidth");
        QTest::addColumn<int>("digitHeight");
        QTest::addColumn<quint32>("color");
        QImage mono(23, 5, QImage::Format_Mono);
        mono.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
        mono.fill(0);
        QImage narrow(10, 7, QImage::Format_RGB32);
        narrow.fill(qRgb(1, 2, 3));
        QTest::newRow("program strip") << norva::DigitStrip() << 38 << 53 << 0x02000000u;
        QTest::newRow("two colours") << mono << 2 << 5 << 0x02FFFFFFu;
        QTest::newRow("spare columns") << ColumnStrip() << 10 << 20 << 0x0264BE00u;
        QTest::newRow("narrower than 11") << narrow << 0 << 7 << 0x02030201u;
    }
    void stripChangeSetsCellsAndBackground() {
        QFETCH(QImage, strip);
        QFETCH(int, digitWidth);
        QFETCH(int, digitHeight);
        QFETCH(quint32, color);
        // Starts on the program strip, so the new cells must replace glyphs already prepared.
        TDigitsPanel* panel = MakePanel(4);
        panel->SetValue(1234);
        panel->SetColor(0x00ABCDEF);
        panel->SetDigits(&strip);
        QCOMPARE(panel->DigitWidth(), digitWidth);
        QCOMPARE(panel->DigitHeight(), digitHeight);
        QCOMPARE(panel->Color(), color);
        QCOMPARE(panel->size(), QSize(10 + (digitWidth + 2) * 4, 12 + digitHeight));

        panel->SetDigits(nullptr);
        QCOMPARE(panel->Digits(), strip);
        QCOMPARE(panel->Color(), color);

        const QList<int> glyphs = digitWidth > 0 ? QList{1, 2, 3, 4} : QList<int>{};
        QCOMPARE(CheckEveryPixel(Shoot(*panel), *panel, glyphs), QString());

        // An empty strip has no background pixel: the colour stays, the cells go.
        panel->SetDigits(QImage());
        QCOMPARE(panel->DigitWidth(), 0);
        QCOMPARE(panel->DigitHeight(), 0);
        QCOMPARE(panel->Color(), color);
        QCOMPARE(panel->size(), QSize(18, 12));
    }

    void outOfRangeLengthIsStoredAndShownSafely_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("stored");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<int>>("glyphs");
        QTest::newRow("0") << 0 << 0 << QSize(10, 65) << QList<int>{};
        // |INT32_MIN| mod 10^9, then |INT32_MIN| itself, which keeps its 32-bit pattern.
        QTest::newRow("9") << 9 << 147483648 << QSize(330, 65)
                           << QList<int>{1, 4, 7, 4, 8, 3, 6, 4};
        QTest::newRow("255") << 255 << std::numeric_limits<std::int32_t>::min() << QSize(330, 65)
                             << QList<int>{2, 1, 4, 7, 4, 8, 3, 6};
    }
    void outOfRangeLengthIsStoredAndShownSafely() {
        QFETCH(int, length);
        QFETCH(int, stored);
        QFETCH(QSize, size);
        QFETCH(QList<int>, glyphs);
        TDigitsPanel* panel = MakePanel(length);
        QCOMPARE(panel->Length(), length);
        panel->SetValue(std::numeric_limits<std::int32_t>::min());
        QCOMPARE(panel->Value(), stored);
        QCOMPARE(panel->size(), size);
        QCOMPARE(CheckEveryPixel(Shoot(*panel), *panel, glyphs), QString());
    }

    void glyphsAreReplicatedNotSmoothedAtHigherPixelRatios() {
        TDigitsPanel* panel = MakePanel(3);
        panel->SetBevelOuter(Bevel::Lowered);
        panel->SetValue(807);
        const QImage base = Shoot(*panel);
        const QImage doubled = Shoot(*panel, 2.0);
        QCOMPARE(doubled.size(), panel->size() * 2);
        for (int y = 0; y < doubled.height(); ++y) {
            for (int x = 0; x < doubled.width(); ++x) {
                const QRgb want = base.pixel(x / 2, y / 2);
                if (doubled.pixel(x, y) != want) {
                    QFAIL(qPrintable(Describe(x, y, doubled.pixel(x, y), want)));
                }
            }
        }
        const QImage fractional = Shoot(*panel, 1.5);
        for (int y = 0; y < fractional.height(); ++y) {
            for (int x = 0; x < fractional.width(); ++x) {
                if (fractional.pixel(x, y) == kUnpainted) QFAIL("a pixel was left unpainted");
            }
        }
    }

    void colorValues_data() {
        QTest::addColumn<quint32>("value");
        QTest::addColumn<QColor>("color");
        QTest::newRow("black, palette-relative") << 0x02000000u << QColor(0, 0, 0);
        QTest::newRow("red is the low byte") << 0x000000FFu << QColor(255, 0, 0);
        QTest::newRow("blue is the third byte") << 0x02FF0000u << QColor(0, 0, 255);
        QTest::newRow("mixed") << 0x02332211u << QColor(0x11, 0x22, 0x33);
        QTest::newRow("button shadow") << norva::kSystemButtonShadow << kShadow;
        QTest::newRow("button highlight") << norva::kSystemButtonHighlight << kHighlight;
        QTest::newRow("button face") << 0x8000000Fu << QColor(7, 8, 9);
        QTest::newRow("dark shadow") << 0x80000015u << QColor(1, 2, 3);
        QTest::newRow("unknown index") << 0x800000FFu << QColor(10, 11, 12);
    }
    void colorValues() {
        QFETCH(quint32, value);
        QFETCH(QColor, color);
        QCOMPARE(norva::ToQColor(value, BevelPalette()), color);
        if ((value >> 24) != 0x80) {
            QCOMPARE(norva::PaletteRelativeColor(color.rgb()), value | norva::kPaletteRelativeFlag);
        }
    }

    void publishedPropertiesGoThroughTheSetters() {
        TDigitsPanel* panel = MakePanel(4);
        const QMetaObject* meta = panel->metaObject();
        QStringList names;
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            names << QString::fromLatin1(meta->property(i).name());
        }
        QCOMPARE(names, QStringList({"Digits", "BevelOuter", "BevelInner", "BevelWidth", "Color",
                                     "Length", "Margin", "Value"}));

        QVERIFY(panel->setProperty("Length", 3));
        QCOMPARE(panel->size(), QSize(130, 65));
        QVERIFY(panel->setProperty("Value", -1234));
        QCOMPARE(panel->property("Value").toInt(), 234);
        QVERIFY(panel->setProperty("BevelOuter", QVariant::fromValue(Bevel::None)));
        QCOMPARE(panel->size(), QSize(126, 61));
        QVERIFY(panel->setProperty("Digits", ColumnStrip()));
        QCOMPARE(panel->DigitWidth(), 10);
        QCOMPARE(panel->property("Color").toUInt(), 0x0264BE00u);
    }
};

QTEST_MAIN(TestDigitsPanel)
#include "tst_digits_panel.moc"
