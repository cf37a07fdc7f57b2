#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStyleHints>
#include <QTest>
#include <QVBoxLayout>

#include <functional>
#include <memory>

#include "app/caret_rest.h"
#include "virtual_display.h"

namespace {

// Counts the paints of the widget that draws the caret.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

constexpr int kRestMs = 400;

}  // namespace

class CaretRestTest : public QObject {
    Q_OBJECT

private slots:
    // The caret blinks in each kind of text box the window has while the operator works, stops
    // (and so stops repainting) once input has rested, and blinks again at the next key press.
    void restsAndWakes_data() {
        QTest::addColumn<std::function<QWidget*(QWidget*)>>("make");
        QTest::newRow("line edit")
            << std::function([](QWidget* p) -> QWidget* { return new QLineEdit(p); });
        QTest::newRow("editable combo box") << std::function([](QWidget* p) -> QWidget* {
            auto* box = new QComboBox(p);
            box->setEditable(true);
            return box;
        });
        QTest::newRow("plain text pane")
            << std::function([](QWidget* p) -> QWidget* { return new QPlainTextEdit(p); });
    }

    void restsAndWakes() {
        QFETCH(std::function<QWidget*(QWidget*)>, make);
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            QSKIP("the caret blinks only on a window system, and Xvfb is not installed");
        const int desktopFlashTime = QGuiApplication::styleHints()->cursorFlashTime();
        QVERIFY(desktopFlashTime > 0);

        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        QWidget* box = make(&window);
        layout->addWidget(box);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        box->setFocus();
        auto* combo = qobject_cast<QComboBox*>(box);
        auto* scroll = qobject_cast<QAbstractScrollArea*>(box);
        QWidget* drawn = combo ? combo->lineEdit() : scroll ? scroll->viewport() : box;
        PaintCounter counter;
        drawn->installEventFilter(&counter);

        auto rest = std::make_unique<norva::CaretRest>(&window, kRestMs);
        const auto blinkingFor = [&](int ms) {
            counter.paints = 0;
            QTest::qWait(ms);
            return counter.paints;
        };
        QVERIFY(blinkingFor(desktopFlashTime + 100) >= 2);
        QTRY_VERIFY(rest->resting());
        QCOMPARE(QGuiApplication::styleHints()->cursorFlashTime(), 0);
        QTest::qWait(100);  // the caret's last repaint, shown for good
        QCOMPARE(blinkingFor(desktopFlashTime + 100), 0);

        QTest::keyClick(drawn, Qt::Key_A);
        QVERIFY(!rest->resting());
        QCOMPARE(QGuiApplication::styleHints()->cursorFlashTime(), desktopFlashTime);
        QVERIFY(blinkingFor(kRestMs - 150) >= 1);
        QTRY_VERIFY(rest->resting());

        // Gone, it leaves the desktop's blinking as it found it.
        rest.reset();
        QCOMPARE(QGuiApplication::styleHints()->cursorFlashTime(), desktopFlashTime);
    }
};

// The offscreen platform never blinks a caret, so this suite runs on a private X server.
int main(int argc, char** argv) {
    VirtualDisplay display;
    if (display.ok()) {
        qputenv("DISPLAY", display.name().toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication application(argc, argv);
    CaretRestTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_caret_rest.moc"
