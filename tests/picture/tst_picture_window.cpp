// A picture window on the offscreen platform: the wheel zooms around the pointer, a drag pans,
// a double click fits the whole session, a mark's tooltip gives its time, bytes and log lines,
// and Save Picture As writes PNG and SVG files that parse, or shows why it could not.
#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QListView>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>
#include <QXmlStreamReader>

#include "app/session_picture_window.h"
#include "modal_watcher.h"

using namespace norva;
using namespace norva::picture;

namespace {

constexpr std::int64_t kT0 = 1796786055LL * 1'000'000;  // 2026-12-09T03:14:15Z

// Ten seconds: a poll each second, the acceptor's status 50 ms after it, a note held at 4.2 s.
std::shared_ptr<SessionPicture> TenSeconds() {
    auto p = std::make_shared<SessionPicture>();
    const std::vector<std::string> poll{"Send      [0x0C]"};
    const std::vector<std::string> status{"Receive [0x3E]"};
    const std::vector<std::string> escrow{"Receive [0x81][0x8F][0x44]"};
    const std::vector<std::uint8_t> pollBytes{0x0C}, statusBytes{0x3E},
        escrowBytes{0x81, 0x8F, 0x44};
    const auto add = [&](std::int64_t t, MarkKind kind, Lane lane,
                         const std::vector<std::string>& lines,
                         const std::vector<std::uint8_t>& bytes, std::uint8_t detail) {
        Mark m;
        m.detail = detail;
        m.unixMicros = t;
        m.kind = kind;
        m.lane = lane;
        m.firstLine = p->texts().AddLines(lines);
        m.lineCount = std::uint8_t(lines.size());
        m.bytes = p->texts().AddBytes(bytes);
        p->AddMark(m);
    };
    for (int s = 0; s < 10; ++s) {
        add(kT0 + s * 1'000'000, MarkKind::Poll, Lane::Host, poll, pollBytes, 0x0C);
        add(kT0 + s * 1'000'000 + 50'000, MarkKind::StatusCode, Lane::Acceptor, status, statusBytes,
            0x3E);
        if (s == 4)
            add(kT0 + 4'200'000, MarkKind::EscrowHeld, Lane::Acceptor, escrow, escrowBytes, 5);
    }
    p->numbers().firstMicros = kT0;
    p->numbers().lastMicros = kT0 + 9'050'000;
    p->Finish();
    return p;
}

void Wheel(QWidget* w, QPointF at, int delta) {
    QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
}

void Mouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, w->mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

}  // namespace

class PictureWindowTest : public QObject {
    Q_OBJECT

private slots:
    void wheelZoomsAroundThePointerDragPansDoubleClickFits() {
        SessionPictureWindow window(QStringLiteral("Session Picture"), false);
        window.SetPicture(TenSeconds());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        PictureCanvas* canvas = window.canvas();
        const PictureLayout l = canvas->Layout();
        const TimeWindow whole = canvas->window();
        const QPointF at(l.plot.left() + l.plot.width() * 0.25, l.plot.center().y());
        const double under = l.MicrosAt(whole, at.x());

        Wheel(canvas, at, 120);  // one notch in
        QCOMPARE(canvas->window().Width(), whole.Width() * 0.8);
        QCOMPARE(l.MicrosAt(canvas->window(), at.x()), under);
        Wheel(canvas, at, -240);  // two out: never wider than the whole
        QCOMPARE(canvas->window().Width(), whole.Width());
        Wheel(canvas, at, 120 * 10);
        const TimeWindow zoomed = canvas->window();

        // A drag to the left by a tenth of the plot shows a tenth of a window later.
        Mouse(canvas, QEvent::MouseButtonPress, at, Qt::LeftButton);
        Mouse(canvas, QEvent::MouseMove, at - QPointF(l.plot.width() / 10, 0), Qt::LeftButton);
        Mouse(canvas, QEvent::MouseButtonRelease, at - QPointF(l.plot.width() / 10, 0),
              Qt::NoButton);
        QCOMPARE(canvas->window().fromMicros, zoomed.fromMicros + zoomed.Width() / 10);

        QTest::mouseDClick(canvas, Qt::LeftButton, {}, at.toPoint());
        QCOMPARE(canvas->window().fromMicros, whole.fromMicros);
        QCOMPARE(canvas->window().toMicros, whole.toMicros);
    }

    void hoveringAMarkShowsItsTimeBytesAndLines() {
        SessionPictureWindow window(QStringLiteral("Session Picture - x.cap"), true);
        const auto picture = TenSeconds();
        window.SetPicture(picture);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        PictureCanvas* canvas = window.canvas();
        const PictureLayout l = canvas->Layout();
        const auto point = [&](double micros, Row row) {
            return QPoint(int(std::lround(l.X(canvas->window(), micros))),
                          int(l.RowRect(row).center().y()));
        };
        const struct {
            QPoint at;
            QString text;
        } cases[] = {
            {point(kT0 + 4'200'000, Row::Escrow),
             "escrow held, channel 5\n2026-12-09 03:14:19.200000 UTC\nbytes 81 8F 44\nReceive "
             "[0x81][0x8F][0x44]"},
            {point(kT0 + 3'050'000, Row::Status) + QPoint(2, 0),
             "status 0x3E\n2026-12-09 03:14:18.050000 UTC\nbytes 3E\nReceive [0x3E]"},
            {point(kT0 + 2'500'000, Row::Poll), ""},    // between two polls
            {point(kT0 + 2'000'000, Row::Reject), ""},  // nothing in that row
        };
        for (const auto& c : cases) {
            QHelpEvent help(QEvent::ToolTip, c.at, canvas->mapToGlobal(c.at));
            QApplication::sendEvent(canvas, &help);
            if (c.text.isEmpty()) {
                QTRY_VERIFY(!QToolTip::isVisible());
            } else {
                QTRY_VERIFY(QToolTip::isVisible());
                QCOMPARE(QToolTip::text(), c.text);
            }
        }
        // The capture's log lines beside the picture, in order.
        QCOMPARE(window.logLines()->model()->rowCount(), 21);
        QCOMPARE(window.logLines()->model()->index(20, 0).data().toString(),
                 QStringLiteral("Receive [0x3E]"));
        QCOMPARE(window.logLines()->model()->index(10, 0).data().toString(),
                 QStringLiteral("Receive [0x81][0x8F][0x44]"));
    }

    void savePictureAsWritesPngAndSvgOrSaysWhyNot() {
        QTemporaryDir dir;
        SessionPictureWindow window(QStringLiteral("Session Picture"), false);
        window.SetPicture(TenSeconds());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const struct {
            QString name;
            QString written;  // empty: an error box
        } cases[] = {
            {"day.png", "day.png"},
            {"day.svg", "day.svg"},
            {"plain", "plain.png"},
            {"missing/day.png", ""},
        };
        for (const auto& c : cases) {
            bool answered = false;
            MessageBoxWatcher boxes({}, [&](QWidget* modal) {
                auto* dialog = qobject_cast<QFileDialog*>(modal);
                if (dialog == nullptr || answered) return false;
                answered = true;
                dialog->selectFile(dir.filePath(c.name));
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
                return true;
            });
            // Through the canvas's own menu.
            QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(20, 20),
                                        window.canvas()->mapToGlobal(QPoint(20, 20)));
            QApplication::sendEvent(window.canvas(), &menuEvent);
            QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu->actions().contains(window.saveAction()));
            QCOMPARE(window.saveAction()->text(), QStringLiteral("Save Picture As\u2026"));
            QTimer::singleShot(0, menu, [menu, &window] {
                menu->close();
                window.saveAction()->trigger();
            });
            QTRY_VERIFY(answered && QApplication::activeModalWidget() == nullptr);
            if (c.written.isEmpty()) {
                QTRY_COMPARE(int(boxes.boxes.size()), 1);
                QVERIFY(
                    boxes.boxes[0].text.startsWith("Cannot create file " + dir.filePath(c.name)));
                continue;
            }
            QCOMPARE(int(boxes.boxes.size()), 0);
            QFile file(dir.filePath(c.written));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            if (c.written.endsWith(".png")) {
                QCOMPARE(QImage::fromData(bytes, "PNG").size(), kPictureSize);
            } else {
                QXmlStreamReader xml(bytes);
                while (!xml.atEnd())
                    xml.readNext();
                QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
            }
        }
    }
};

QTEST_MAIN(PictureWindowTest)

#include "tst_picture_window.moc"
