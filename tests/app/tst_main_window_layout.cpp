#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTest>

#include "app/application_title.h"
#include "app/startup.h"
#include "temp_cwd.h"
#include "windows_fixture.h"

// The window as the operator first sees it, control by control.
class MainWindowLayoutTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        windows_ = std::make_unique<ShownWindows>();
        QVERIFY(windows_->ready());
    }
    void cleanupTestCase() { windows_.reset(); }

private:
    std::unique_ptr<ShownWindows> windows_;

private slots:

    void controls_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QRect>("geometry");  // height -1: the control's own choice
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("font");  // "" where the control names none
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("handCursor");
        QTest::addColumn<int>("ticked");  // -1 where there is no tick

        const QString tahoma = "Tahoma";
        QTest::newRow("GroupBox1") << "QGroupBox" << QRect(8, 8, 369, 161) << "Accepting Notes"
                                   << tahoma << true << false << -1;
        // The layout table's positions and widths, box by box.
        const QRect boxes[] = {
            {16, 24, 81, 17},  {16, 48, 81, 17},  {16, 72, 81, 17},  {16, 96, 81, 17},
            {96, 24, 81, 17},  {96, 48, 81, 17},  {96, 72, 81, 17},  {96, 96, 81, 17},
            {176, 24, 97, 17}, {176, 48, 89, 17}, {176, 72, 89, 17}, {176, 96, 89, 17},
            {272, 24, 81, 17}, {272, 48, 81, 17}, {272, 72, 81, 17}, {272, 96, 81, 17}};
        for (int n = 1; n <= 16; ++n) {
            QTest::addRow("CheckBox%d", n) << "QCheckBox" << boxes[n - 1] << QString::number(n)
                                           << tahoma << true << false << (n <= 3 ? 1 : 0);
        }
        QTest::newRow("Button2") << "QPushButton" << QRect(264, 128, 97, 25) << "Configure"
                                 << tahoma << true << false << -1;
        QTest::newRow("RadioGroup1") << "QGroupBox" << QRect(8, 176, 249, 57) << "Escrow Setting"
                                     << tahoma << true << false << -1;
        QTest::newRow("DigitsPanel1") << "norva::TDigitsPanel" << QRect(8, 240, 130, 65) << ""
                                      << "" << true << false << -1;
        QTest::newRow("DigitsPanel2") << "norva::TDigitsPanel" << QRect(137, 240, 210, 65) << ""
                                      << "" << true << false << -1;
        QTest::newRow("DigitsPanel3") << "norva::TDigitsPanel" << QRect(8, 304, 339, 67) << ""
                                      << "" << true << false << -1;
        QTest::newRow("Image1") << "QLabel" << QRect(407, 8, 89, 65) << ""
                                << "" << true << false << -1;
        QTest::newRow("ComboBox1") << "QComboBox" << QRect(592, 8, 145, -1) << "Comport  Select"
                                   << "Arial" << true << false << -1;
        QTest::newRow("Memo1") << "QPlainTextEdit" << QRect(520, 40, 289, 329) << ""
                               << "Arial" << true << false << -1;
        QTest::newRow("Button3") << "QPushButton" << QRect(384, 88, 129, 25) << "Polling" << tahoma
                                 << true << false << -1;
        QTest::newRow("BitBtn8") << "QPushButton" << QRect(384, 120, 129, 25) << "Clear Credit"
                                 << tahoma << true << true << -1;
        QTest::newRow("BitBtn5") << "QPushButton" << QRect(384, 152, 129, 25) << "Disable BA"
                                 << tahoma << true << true << -1;
        QTest::newRow("Button1") << "QPushButton" << QRect(384, 184, 129, 25) << "RESET" << tahoma
                                 << true << true << -1;
        QTest::newRow("BitBtn1") << "QPushButton" << QRect(384, 216, 129, 25) << "Clear Memo"
                                 << tahoma << true << true << -1;
        QTest::newRow("BitBtn6") << "QPushButton" << QRect(360, 312, 73, 57) << "Accept" << tahoma
                                 << false << true << -1;
        QTest::newRow("BitBtn7") << "QPushButton" << QRect(432, 312, 73, 57) << "Reject" << tahoma
                                 << false << true << -1;
        QTest::newRow("StatusBar1") << "QWidget" << QRect(0, 377, 817, 20) << ""
                                    << "" << true << false << -1;
    }

    void controls() {
        QFETCH(QString, kind);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        QFETCH(QString, font);
        QFETCH(bool, enabled);
        QFETCH(bool, handCursor);
        QFETCH(int, ticked);

        auto* control = Form1->findChild<QWidget*>(QTest::currentDataTag());
        QVERIFY(control != nullptr);
        QVERIFY2(control->inherits(kind.toLatin1()), control->metaObject()->className());
        QCOMPARE(control->pos(), geometry.topLeft());
        QCOMPARE(control->width(), geometry.width());
        if (geometry.height() >= 0) QCOMPARE(control->height(), geometry.height());
        if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            QCOMPARE(button->text(), caption);
        } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
            QCOMPARE(group->title(), caption);
        } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
            QCOMPARE(combo->currentText(), caption);
        } else if (auto* pane = qobject_cast<QPlainTextEdit*>(control)) {
            QCOMPARE(pane->toPlainText(), caption);
        }
        if (!font.isEmpty()) {
            QCOMPARE(control->font().family(), font);
            QCOMPARE(control->font().pixelSize(), 16);
            QCOMPARE(control->font().bold(), font == "Tahoma");
        }
        QCOMPARE(control->isEnabled(), enabled);
        QCOMPARE(control->cursor().shape(), handCursor ? Qt::PointingHandCursor : Qt::ArrowCursor);
        if (ticked >= 0) QCOMPARE(qobject_cast<QCheckBox*>(control)->isChecked(), ticked == 1);
    }

    void digitsPanels_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("margin");
        QTest::newRow("DigitsPanel1") << 3 << 2;
        QTest::newRow("DigitsPanel2") << 5 << 2;
        QTest::newRow("DigitsPanel3") << 8 << 3;
    }

    void digitsPanels() {
        QFETCH(int, length);
        QFETCH(int, margin);
        auto* panel = Form1->findChild<TDigitsPanel*>(QTest::currentDataTag());
        QVERIFY(panel != nullptr);
        QCOMPARE(int(panel->Length()), length);
        QCOMPARE(int(panel->Margin()), margin);
        QCOMPARE(panel->Value(), 0);
        QVERIFY(!panel->Digits().isNull());
    }

    void statusBar_data() {
        QTest::addColumn<int>("panel");
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << 0 << 50 << "PORT";
        QTest::newRow("1") << 1 << 50 << 45 << "";
        QTest::newRow("2") << 2 << 95 << 80 << "No Link";
        QTest::newRow("3") << 3 << 175 << 525 << "Norva Protocol";
        QTest::newRow("4") << 4 << 700 << 70 << "Version";
        QTest::newRow("5") << 5 << 770 << 50 << "1.0.0.0";
    }

    void statusBar() {
        QFETCH(int, panel);
        QFETCH(int, left);
        QFETCH(int, width);
        QFETCH(QString, text);
        QCOMPARE(Form1->StatusBar1->PanelWidth(panel), width);
        QCOMPARE(Form1->StatusBar1->PanelText(panel), text);
        const QLabel* label = Form1->StatusBar1->PanelLabel(panel);
        QCOMPARE(label->x(), left);
        // The last panel reaches the window's edge.
        QCOMPARE(label->width(), panel == 5 ? 817 - left : width);
        QCOMPARE(label->alignment(), Qt::AlignCenter);
    }

    // Tab from the first tick box round the whole window, Accept and Reject enabled so that they
    // take their turn.
    void keyboardOrder() {
        Form1->BitBtn6->setEnabled(true);
        Form1->BitBtn7->setEnabled(true);
        Form1->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form1));
        Form1->CheckBox1->setFocus();
        QStringList order;
        for (int i = 0; i < 28; ++i) {
            QWidget* focus = QApplication::focusWidget();
            QVERIFY(focus != nullptr);
            const bool inRadioGroup = focus->parentWidget() == Form1->RadioGroup1;
            order << (inRadioGroup ? QStringLiteral("RadioGroup1") : focus->objectName());
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        Form1->BitBtn6->setEnabled(false);
        Form1->BitBtn7->setEnabled(false);

        QStringList expected;
        for (int n = 1; n <= 16; ++n)
            expected << QStringLiteral("CheckBox%1").arg(n);
        expected << "Button2"
                 << "Memo1"
                 << "BitBtn6"
                 << "BitBtn7"
                 << "BitBtn8"
                 << "BitBtn5"
                 << "BitBtn1"
                 << "RadioGroup1"
                 << "Button1"
                 << "ComboBox1"
                 << "Button3"
                 << "CheckBox1";
        QCOMPARE(order, expected);
    }

    void window() {
        QCOMPARE(Form1->windowTitle(), QStringLiteral("Norva Protocol"));
        QCOMPARE(norva::ApplicationTitle(), QStringLiteral("Norva Protocol "));
        QCOMPARE(Form1->size(), QSize(817, 397));
        QCOMPARE(Form1->minimumSize(), QSize(817, 397));
        QCOMPARE(Form1->maximumSize(), QSize(817, 397));
        const Qt::WindowFlags flags = Form1->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(Form1->font().family(), QStringLiteral("Arial"));
        QCOMPARE(Form1->font().pixelSize(), 16);
        QCOMPARE(Form1->palette().color(QPalette::Active, QPalette::Window),
                 Form1->palette().color(QPalette::Inactive, QPalette::Window));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        // The offscreen screen is narrower than the window and nudges it by a pixel or two.
        QVERIFY(qAbs(Form1->frameGeometry().center().x() - screen.center().x()) <= 2);
        QVERIFY(qAbs(Form1->frameGeometry().center().y() - screen.center().y()) <= 2);
    }

    // The emblem of Image1 is also the icon of the main window, of the dialog it owns and of
    // the boxes, which have no parent.
    void windowIcons() {
        QCOMPARE(QImage(QStringLiteral(":/app/emblem.png")).size(), QSize(80, 80));
        QVERIFY(IsEmblem(Form1->windowIcon()));
        QVERIFY(IsEmblem(Form3->windowIcon()));
        QVERIFY(IsEmblem(QGuiApplication::windowIcon()));
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("norva-protocol"));
    }

    void initialStates() {
        QCOMPARE(Form1->ComboBox1->count(), 10);
        for (int n = 1; n <= 10; ++n)
            QCOMPARE(Form1->ComboBox1->itemText(n - 1), QString("Com%1").arg(n));
        QCOMPARE(Form1->ComboBox1->currentIndex(), -1);
        QVERIFY(Form1->ComboBox1->isEditable());
        QVERIFY(Form1->ComboBox1->completer() == nullptr);

        QCOMPARE(Form1->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(!Form1->Memo1->isReadOnly());

        QCOMPARE(Form1->Label2->text(), QStringLiteral("No Link"));
        QCOMPARE(Form1->Label2->pos(), QPoint(272, 200));
        QCOMPARE(Form1->Label2->size(), Form1->Label2->sizeHint());
        QCOMPARE(Form1->Label2->palette().color(QPalette::Window), QColor(255, 0, 0));
        QVERIFY(Form1->Label2->autoFillBackground());
        QCOMPARE(Form1->Label2->font().family(), QStringLiteral("Tahoma"));
        QVERIFY(Form1->Label2->font().bold());

        QCOMPARE(Form1->Image1->pixmap().size(), QSize(80, 80));

        QCOMPARE(Form1->RadioGroup1->ItemCount(), 2);
        QCOMPARE(Form1->RadioGroup1->Item(0)->text(), QStringLiteral("Escrow"));
        QCOMPARE(Form1->RadioGroup1->Item(1)->text(), QStringLiteral("No Escrow"));
        QCOMPARE(Form1->RadioGroup1->ItemIndex(), 0);
        QCOMPARE(Form1->EscrowSetting(), 0);
        // Two columns: side by side.
        QCOMPARE(Form1->RadioGroup1->Item(0)->y(), Form1->RadioGroup1->Item(1)->y());
        QVERIFY(Form1->RadioGroup1->Item(1)->x() >= Form1->RadioGroup1->width() / 2 - 8);

        QCOMPARE(Form1->Timer1->interval(), 1500);
        QVERIFY(Form1->Timer1->isActive());
    }
};

QTEST_MAIN(MainWindowLayoutTest)
#include "tst_main_window_layout.moc"
