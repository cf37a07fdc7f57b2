// The picture windows from the protocol log's menu in the real window: "Session Picture…"
// follows the bench's own session while it is open, "Open Traffic…" shows a capture with its
// log lines or says why it cannot.
#include <sys/stat.h>

#include <QFileDialog>
#include <QListView>
#include <QMenu>
#include <QSignalSpy>

#include "modal_watcher.h"
#include "port_fixture.h"

using namespace norva;
using namespace norva::picture;

namespace {

// Chooses an entry of the log pane's context menu, answering a file dialog with `path`.
bool ChooseFromLogMenu(const QString& entry, const QString& path = {}) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                            Form1->Memo1->mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(Form1->Memo1->viewport(), &event);
    if (!QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5000))
        return false;
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    const QList<QAction*> actions = menu->actions();
    // Ours come last, in a group of their own.
    const qsizetype at = actions.size() - 2;
    if (at < 1 || !actions[at - 1]->isSeparator() ||
        actions[at]->text() != QStringLiteral("Session Picture\u2026") ||
        actions[at + 1]->text() != QStringLiteral("Open Traffic\u2026"))
        return false;
    QAction* chosen = actions[at]->text() == entry ? actions[at] : actions[at + 1];
    QTimer::singleShot(0, menu, [menu, chosen] {
        menu->close();
        chosen->trigger();
    });
    if (path.isEmpty())
        return QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }, 5000);
    bool answered = false;
    ModalWatcher dialogs([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr || answered) return false;
        answered = true;
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        return true;
    });
    return QTest::qWaitFor([&] { return answered && QApplication::activeModalWidget() == nullptr; },
                           10000);
}

std::vector<MarkKind> Kinds(const SessionPicture* picture) {
    std::vector<MarkKind> kinds;
    if (picture != nullptr) {
        for (const Mark& m : picture->marks())
            kinds.push_back(m.kind);
    }
    return kinds;
}

const SessionPicture* Live() {
    SessionPictureWindow* live = Form1->Pictures().live();
    return live ? live->canvas()->picture() : nullptr;
}

}  // namespace

class PictureMenuTest : public QObject {
    Q_OBJECT

private slots:
    void sessionPictureFollowsTheSessionWhileItIsOpen() {
        WindowsOnDevice bench(DefaultBillValueBytes());
        QVERIFY(bench.ready());
        bench.device().Write({0x80, 0x8F});
        QVERIFY(DeviceReceives(bench.device(), 0x02));

        QVERIFY(ChooseFromLogMenu(QStringLiteral("Session Picture\u2026")));
        QTRY_VERIFY(Form1->Pictures().live() != nullptr && Form1->Pictures().live()->isVisible());
        QCOMPARE(Form1->Pictures().live()->windowTitle(), QStringLiteral("Session Picture"));
        QVERIFY(!Form1->Pictures().live()->isModal());
        using K = MarkKind;
        QTRY_COMPARE(Kinds(Live()), (std::vector<K>{K::PowerUp, K::Other}));

        // A note held on channel 1 (ticked, "Escrow"): the picture shows it within a second or so.
        bench.device().Write({0x81, 0x8F, 0x40});
        QTRY_COMPARE_WITH_TIMEOUT(Kinds(Live()),
                                  (std::vector<K>{K::PowerUp, K::Other, K::EscrowHeld}), 5000);
        QCOMPARE(Live()->numbers().channels[0].held, 1u);

        // Chosen again, the one window comes to the front.
        SessionPictureWindow* first = Form1->Pictures().live();
        QVERIFY(ChooseFromLogMenu(QStringLiteral("Session Picture\u2026")));
        QCOMPARE(Form1->Pictures().live(), first);

        // Closed, nothing is kept or read any more.
        first->close();
        QTRY_VERIFY(Form1->Pictures().live() == nullptr);
        QVERIFY(!Form1->Pictures().following());
    }

    void openTrafficShowsACaptureOrWhyNot() {
        ShownWindows windows;
        QVERIFY(windows.ready());
        WriteFileBytes("good.cap",
                       "# norva-protocol traffic capture\n"
                       "# port COM1 /dev/ttyUSB0 9600,E,8,1\n"
                       "2026-12-09T03:14:15.000000Z RX 80 8F\n"
                       "2026-12-09T03:14:15.060000Z TX 02\n");
        WriteFileBytes("bad.cap", "# norva-protocol traffic capture\n2026-12-09T03:14:15Z RX 80\n");
        WriteFileBytes("picture.png", "\x89PNG\r\n\x1a\n");
        QCOMPARE(::mkfifo("fifo.cap", 0600), 0);
        const struct {
            const char* file;
            const char* box;  // nullptr: a picture window opens
        } cases[] = {
            {"good.cap", nullptr},
            {"bad.cap", "bad.cap:2"},
            {"picture.png", "picture.png:1"},
            {"fifo.cap", "fifo.cap"},  // refused, never waited on
        };
        for (const auto& c : cases) {
            QSignalSpy shown(&Form1->Pictures(), &PictureWindows::CaptureShown);
            MessageBoxWatcher boxes;
            const QString path = QDir::current().absoluteFilePath(c.file);
            QVERIFY2(ChooseFromLogMenu(QStringLiteral("Open Traffic\u2026"), path), c.file);
            if (c.box != nullptr) {
                QTRY_COMPARE(int(boxes.boxes.size()), 1);
                QVERIFY2(boxes.boxes[0].text.contains(c.box), qPrintable(boxes.boxes[0].text));
                QCOMPARE(shown.count(), 0);
                continue;
            }
            QTRY_COMPARE(shown.count(), 1);
            auto* window = shown.at(0).at(0).value<SessionPictureWindow*>();
            QVERIFY(window->isVisible());
            QCOMPARE(window->windowTitle(), QStringLiteral("Session Picture - good.cap"));
            QCOMPARE(Kinds(window->canvas()->picture()),
                     (std::vector<MarkKind>{MarkKind::PowerUp, MarkKind::Other}));
            const QAbstractItemModel* lines = window->logLines()->model();
            QCOMPARE(lines->rowCount(), 3);
            QCOMPARE(lines->index(2, 0).data().toString(), QStringLiteral("Send      [0x02]"));
            QCOMPARE(int(boxes.boxes.size()), 0);
            window->close();
        }
    }
};

QTEST_MAIN(PictureMenuTest)

#include "tst_picture_menu.moc"
