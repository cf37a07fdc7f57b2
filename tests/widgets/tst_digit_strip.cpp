#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdint>

#include "child_process.h"
#include "widgets/digits_panel.h"

namespace {

constexpr int kWidth = 418;
constexpr int kHeight = 53;
constexpr int kStride = 420;
constexpr int kCell = 38;
constexpr int kPixelOffset = 14 + 40 + 256 * 4;

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::uint32_t Le(const QByteArray& bytes, int offset, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | static_cast<std::uint8_t>(bytes[offset + i]);
    }
    return value;
}

// Colour of pixel (x, y), y counted from the top, read straight from the file bytes.
QColor PixelAt(const QByteArray& bmp, int x, int y) {
    const auto index =
        static_cast<std::uint8_t>(bmp[kPixelOffset + (kHeight - 1 - y) * kStride + x]);
    const int entry = 54 + 4 * index;
    return QColor(static_cast<std::uint8_t>(bmp[entry + 2]),
                  static_cast<std::uint8_t>(bmp[entry + 1]), static_cast<std::uint8_t>(bmp[entry]));
}

const QColor kLit(0, 255, 0);
const QColor kUnlit(0, 90, 0);
const QColor kBlack(0, 0, 0);

// The generator's exit code; -1 when it crashed or did not end within 30 s (it is then killed).
int RunGenerator(const QStringList& arguments) {
    QProcess generator;
    DiesWithTest(generator);
    generator.start(QStringLiteral(NORVA_DIGITSTRIP_TOOL), arguments);
    if (!generator.waitForFinished(30000) || generator.exitStatus() != QProcess::NormalExit)
        return -1;
    return generator.exitCode();
}

}  // namespace

class TestDigitStrip : public QObject {
    Q_OBJECT

private:
    QByteArray committed_;

private slots:
    void initTestCase() {
        committed_ = ReadAll(QStringLiteral(NORVA_COMMITTED_STRIP));
        QCOMPARE(committed_.size(), 23338);
    }

    void generatorReproducesTheCommittedStrip() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString out = dir.filePath(QStringLiteral("strip.bmp"));
        QCOMPARE(RunGenerator({out}), 0);
        QVERIFY(ReadAll(out) == committed_);

        // A path that cannot be written is a failure, not a silent success.
        QCOMPARE(RunGenerator({dir.path()}), 1);
    }

    void headerDescribesAn8BitBottomUpImage_data() {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("size");
        QTest::addColumn<quint32>("value");
        QTest::newRow("signature") << 0 << 2 << quint32{0x4D42};
        QTest::newRow("file size") << 2 << 4 << quint32{23338};
        QTest::newRow("pixel offset") << 10 << 4 << quint32{kPixelOffset};
        QTest::newRow("information header size") << 14 << 4 << quint32{40};
        QTest::newRow("width") << 18 << 4 << quint32{kWidth};
        QTest::newRow("height, positive for bottom-up") << 22 << 4 << quint32{kHeight};
        QTest::newRow("planes") << 26 << 2 << quint32{1};
        QTest::newRow("bits per pixel") << 28 << 2 << quint32{8};
        QTest::newRow("compression") << 30 << 4 << quint32{0};
        QTest::newRow("image size") << 34 << 4 << quint32{kStride * kHeight};
        QTest::newRow("palette entries") << 46 << 4 << quint32{256};
    }
    void headerDescribesAn8BitBottomUpImage() {
        QFETCH(int, offset);
        QFETCH(int, size);
        QFETCH(quint32, value);
        QCOMPARE(Le(committed_, offset, size), value);
    }

    void artworkUsesTheStripColours() {
        QCOMPARE(PixelAt(committed_, 0, kHeight - 1), kBlack);
        for (int row = 0; row < kHeight; ++row) {
            QCOMPARE(committed_.mid(kPixelOffset + row * kStride + kWidth, 2), QByteArray(2, 0));
        }
        for (int cell = 0; cell < 11; ++cell) {
            const int left = cell * kCell;
            QCOMPARE(PixelAt(committed_, left, 0), kBlack);
            QCOMPARE(PixelAt(committed_, left + kCell - 1, 0), kBlack);
            QCOMPARE(PixelAt(committed_, left, kHeight - 1), kBlack);
            QCOMPARE(PixelAt(committed_, left + kCell - 1, kHeight - 1), kBlack);
        }
        // Every full-strength segment pixel is lit in the 8 and unlit in the blank.
        int full = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kCell; ++x) {
                const QColor eight = PixelAt(committed_, 8 * kCell + x, y);
                const QColor blank = PixelAt(committed_, 10 * kCell + x, y);
                QVERIFY(eight != kUnlit && blank != kLit);
                if (eight == kLit) {
                    QCOMPARE(blank, kUnlit);
                    ++full;
                }
            }
        }
        QVERIFY2(full > 7 * 60, "segments too thin to read from a distance");
    }

    // Centre of each segment of our artwork, a to g: top, upper right, lower right, bottom,
    // lower left, upper left, middle. The glyphs are read back the way a technician reads them.
    void eachCellLightsItsDigitsSegments() {
        const QPoint centres[7] = {{20, 7}, {30, 16}, {29, 36}, {17, 46},
                                   {7, 36}, {8, 16},  {19, 26}};
        const char* lit[11] = {"abcdef", "bc",  "abdeg",   "abcdg",  "bcfg", "acdfg",
                               "acdefg", "abc", "abcdefg", "abcdfg", ""};
        for (int cell = 0; cell < 11; ++cell) {
            for (int s = 0; s < 7; ++s) {
                const bool on = QByteArray(lit[cell]).contains(static_cast<char>('a' + s));
                const QColor got =
                    PixelAt(committed_, cell * kCell + centres[s].x(), centres[s].y());
                QVERIFY2(
                    got == (on ? kLit : kUnlit),
                    qPrintable(QStringLiteral("cell %1 segment %2").arg(cell).arg(QChar('a' + s))));
            }
        }
    }

    void programStripIsTheCommittedFile() {
        const QImage& strip = norva::DigitStrip();
        QCOMPARE(strip.format(), QImage::Format_Indexed8);
        QCOMPARE(strip.size(), QSize(kWidth, kHeight));
        QCOMPARE(strip, QImage::fromData(committed_, "BMP"));
        QCOMPARE(QColor(strip.pixel(8 * kCell + 19, 26)), kLit);
        QCOMPARE(QColor(strip.pixel(0, kHeight - 1)), kBlack);
    }
};

QTEST_MAIN(TestDigitStrip)
#include "tst_digit_strip.moc"
