#include <QTest>
#include <QWindow>

#include <sys/stat.h>
#include <unistd.h>

#include "app/startup.h"
#include "child_process.h"
#include "modal_watcher.h"
#include "temp_cwd.h"
#include "windows_fixture.h"

namespace {

// Sixteen lines "a" to "p".
std::string LetterBytes() {
    std::string bytes;
    for (char c = 'a'; c <= 'p'; ++c)
        bytes += std::string(1, c) + "\r\n";
    return bytes;
}

QStringList Letters() {
    QStringList letters;
    for (char c = 'a'; c <= 'p'; ++c)
        letters << QString(QChar(c));
    return letters;
}

// Presses Configure on the main window and hands the dialog, once shown modally, to drive();
// returns when the dialog has closed. Message boxes are answered and recorded in watcher.
void Configure(MessageBoxWatcher*& watcher, const std::function<void()>& drive) {
    bool driven = false;
    MessageBoxWatcher boxes({}, [&](QWidget* modal) {
        if (modal != Form3 || driven) return false;
        driven = true;
        QTimer::singleShot(0, Form3, drive);
        return true;
    });
    watcher = &boxes;
    QTest::mouseClick(Form1->Button2, Qt::LeftButton);
    watcher = nullptr;
    QVERIFY(driven);
}

// The platform window's close request, the path the close box takes.
void PressCloseBox(QWidget* window) {
    window->windowHandle()->close();
}

}  // namespace

class BillValueDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        cwd_ = std::make_unique<TempCwd>();
        WriteFileBytes("BILLVALUE.TXT", LetterBytes());
        norva::CreateWindows();
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
    }
    void cleanup() {
        DestroyWindows();
        cwd_.reset();
    }

    void layout() {
        QCOMPARE(Form3->windowTitle(), QStringLiteral("BillValue Configure"));
        QCOMPARE(Form3->size(), QSize(621, 353));
        QCOMPARE(Form3->minimumSize(), Form3->maximumSize());
        QVERIFY(Form3->windowFlags().testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!Form3->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!Form3->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(Form3->font().family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(Form3->font().pixelSize(), 11);
        for (int n = 1; n <= 16; ++n) {
            const int top = 24 + 32 * ((n - 1) % 8);
            const QLabel* label = Form3->findChild<QLabel*>(QStringLiteral("Label%1").arg(n));
            QVERIFY(label != nullptr);
            QCOMPARE(label->text(), QStringLiteral("BillValue%1").arg(n));
            QCOMPARE(label->pos(), QPoint(n <= 8 ? 46 : 326, top));
            QCOMPARE(label->height(), 19);
            QCOMPARE(label->width(), label->sizeHint().width());
            QCOMPARE(label->font().family(), QStringLiteral("Tahoma"));
            QVERIFY(label->font().bold());
            QCOMPARE(label->font().pixelSize(), 16);
            const QLineEdit* edit = Form3->ChannelEdit(n);
            QCOMPARE(edit->objectName(), QStringLiteral("Edit%1").arg(n));
            QCOMPARE(edit->geometry(), QRect(n <= 8 ? 142 : 422, top, 153, 21));
            QCOMPARE(edit->font().family(), QStringLiteral("MS Sans Serif"));
        }
        QCOMPARE(Form3->Button2->text(), QStringLiteral("Default"));
        QCOMPARE(Form3->Button2->geometry(), QRect(161, 296, 121, 33));
        QCOMPARE(Form3->Button1->text(), QStringLiteral("Done"));
        QCOMPARE(Form3->Button1->geometry(), QRect(331, 296, 121, 33));
        for (const QPushButton* button : {Form3->Button1, Form3->Button2}) {
            QCOMPARE(button->font().family(), QStringLiteral("Tahoma"));
            QVERIFY(button->font().bold());
            QVERIFY(!button->autoDefault() && !button->isDefault());
        }

        QPoint shownAt;
        QStringList order;
        MessageBoxWatcher* boxes = nullptr;
        Configure(boxes, [&] {
            shownAt = Form3->pos();
            Form3->Edit1->setFocus();
            for (int i = 0; i < 19; ++i) {
                order << QApplication::focusWidget()->objectName();
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            }
            PressCloseBox(Form3);
        });
        QCOMPARE(shownAt, QPoint(258, 211));
        QStringList expected;
        for (int n = 1; n <= 16; ++n)
            expected << QStringLiteral("Edit%1").arg(n);
        expected << "Button1"
                 << "Button2"
                 << "Edit1";
        QCOMPARE(order, expected);
    }

    void defaultThenDone() {
        Form1->DigitsPanel1->SetValue(7);
        Form1->DigitsPanel3->SetValue(1234);
        norva::NoteCount = 5;
        bool modal = false;
        MessageBoxWatcher* boxes = nullptr;
        Configure(boxes, [&] {
            modal = Form3->isModal() && QApplication::activeModalWidget() == Form3;
            QTest::mouseClick(Form3->Button2, Qt::LeftButton);
            QCOMPARE(ReadFileBytes("BILLVALUE.TXT"), LetterBytes());  // Default writes nothing
            QCOMPARE(ChannelCaptions(), Letters());
            QTest::mouseClick(Form3->Button1, Qt::LeftButton);
            QVERIFY(boxes->boxes.empty());
        });
        QVERIFY(modal);
        QCOMPARE(ReadFileBytes("BILLVALUE.TXT").size(), std::size_t{55});
        QCOMPARE(ReadFileBytes("BILLVALUE.TXT"), DefaultBillValueBytes());
        QCOMPARE(ChannelCaptions(), NumberedTexts());
        QCOMPARE(norva::NoteCount, 0);
        QVERIFY(!Form3->isVisible());
        QCOMPARE(Form1->DigitsPanel1->Value(), 7);
        QCOMPARE(Form1->DigitsPanel3->Value(), 1234);
    }

    // Texts are saved as they stand: letters, an empty entry, blanks and 8-bit text.
    void doneSavesTextsAsTheyStand() {
        const QString euro = QString::fromUtf8("5 \xE2\x82\xAC");
        MessageBoxWatcher* boxes = nullptr;
        Configure(boxes, [&] {
            Form3->Edit3->selectAll();
            QTest::keyClicks(Form3->Edit3, QStringLiteral("abc"));
            Form3->Edit5->clear();
            Form3->Edit6->setText(QStringLiteral(" 100 "));
            Form3->Edit7->setText(euro);
            QTest::mouseClick(Form3->Button1, Qt::LeftButton);
            QVERIFY(boxes->boxes.empty());
        });
        std::string expected = LetterBytes();
        expected.replace(expected.find("c\r\n"), 1, "abc");
        expected.replace(expected.find("e\r\n"), 1, "");
        expected.replace(expected.find("f\r\n"), 1, " 100 ");
        expected.replace(expected.find("g\r\n"), 1, "5 \xE2\x82\xAC");
        QCOMPARE(ReadFileBytes("BILLVALUE.TXT"), expected);
        QStringList captions = Letters();
        captions[2] = "abc";
        captions[4] = "";
        captions[5] = " 100 ";
        captions[6] = euro;
        QCOMPARE(ChannelCaptions(), captions);
    }

    // An entry as long as the file reader keeps comes back whole from an untouched Done.
    void longEntriesSurviveAnUntouchedDone_data() {
        QTest::addColumn<int>("length");
        QTest::newRow("past a plain edit box's limit") << 40000;
        QTest::newRow("the reader's limit, 1 MiB") << (1 << 20);
    }
    void longEntriesSurviveAnUntouchedDone() {
        QFETCH(int, length);
        DestroyWindows();
        std::string bytes = LetterBytes();
        bytes.replace(0, 1, std::string(static_cast<std::size_t>(length), '7'));
        WriteFileBytes("BILLVALUE.TXT", bytes);
        norva::CreateWindows();
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
        MessageBoxWatcher* boxes = nullptr;
        Configure(boxes, [&] {
            QCOMPARE(Form3->Edit1->text().size(), length);
            QTest::mouseClick(Form3->Button1, Qt::LeftButton);
        });
        QCOMPARE(ReadFileBytes("BILLVALUE.TXT"), bytes);
        QCOMPARE(Form1->CheckBox1->text().size(), length);
    }

    // A failed save keeps everything: the file, the typed texts, the captions and the count.
    void doneCannotWrite_data() {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<bool>("asUnprivilegedUser");
        QTest::newRow("read-only file, the suite's own user") << true << false;
        QTest::newRow("read-only file, an ordinary user") << true << true;
        QTest::newRow("name taken by a folder") << false << false;
    }

    void doneCannotWrite() {
        QFETCH(bool, readOnly);
        QFETCH(bool, asUnprivilegedUser);
        if (readOnly) {
            QCOMPARE(::chmod("BILLVALUE.TXT", 0444), 0);
            QCOMPARE(::chmod(".", 0777), 0);
        } else {
            QCOMPARE(::unlink("BILLVALUE.TXT"), 0);
            QCOMPARE(::mkdir("BILLVALUE.TXT", 0755), 0);
        }
        // A child, so that the ordinary user's case can drop root's privileges.
        const std::string seen = RunInChild(
            [] {
                norva::NoteCount = 5;
                QStringList boxTexts;
                QString state;
                MessageBoxWatcher* boxes = nullptr;
                Configure(boxes, [&] {
                    Form3->Edit1->setText(QStringLiteral("typed"));
                    QTest::mouseClick(Form3->Button1, Qt::LeftButton);
                    for (const SeenBox& box : boxes->boxes)
                        boxTexts << box.text;
                    state = QStringLiteral("open=%1 edit1=%2 count=%3")
                                .arg(Form3->isVisible())
                                .arg(Form3->Edit1->text())
                                .arg(norva::NoteCount);
                    PressCloseBox(Form3);
                });
                return (boxTexts.join('|') + "\n" + state + "\n" + ChannelCaptions().join(','))
                    .toStdString();
            },
            asUnprivilegedUser);
        QCOMPARE(QString::fromStdString(seen),
                 "Cannot create file BILLVALUE.TXT.\nopen=1 edit1=typed count=5\n" +
                     Letters().join(','));
        if (readOnly) QCOMPARE(ReadFileBytes("BILLVALUE.TXT"), LetterBytes());
    }

    void closeBoxSavesNothingAndKeepsTyping() {
        MessageBoxWatcher* boxes = nullptr;
        Configure(boxes, [&] {
            QTest::mouseClick(Form3->Button2, Qt::LeftButton);
            Form3->Edit3->selectAll();
            QTest::keyClicks(Form3->Edit3, QStringLiteral("xyz"));
            PressCloseBox(Form3);
        });
        QVERIFY(!Form3->isVisible());
        QCOMPARE(ReadFileBytes("BILLVALUE.TXT"), LetterBytes());
        QCOMPARE(ChannelCaptions(), Letters());

        QStringList shownAgain;
        Configure(boxes, [&] {
            shownAgain = DialogTexts();
            PressCloseBox(Form3);
        });
        QStringList expected = NumberedTexts();
        expected[2] = "xyz";
        QCOMPARE(shownAgain, expected);
    }

    // Neither Enter nor Escape does anything here: no save, no closing.
    void enterAndEscapeAreNotBound() {
        bool stillOpen = false;
        MessageBoxWatcher* boxes = nullptr;
        Configure(boxes, [&] {
            QTest::keyClick(Form3->Edit1, Qt::Key_Return);
            QTest::keyClick(Form3->Edit1, Qt::Key_Enter);
            QTest::keyClick(Form3->Edit1, Qt::Key_Escape);
            Form3->Button1->setFocus();
            QTest::keyClick(Form3->Button1, Qt::Key_Return);
            QTest::keyClick(Form3, Qt::Key_Escape);
            stillOpen = Form3->isVisible();
            PressCloseBox(Form3);
        });
        QVERIFY(stillOpen);
        QCOMPARE(ReadFileBytes("BILLVALUE.TXT"), LetterBytes());
    }

private:
    std::unique_ptr<TempCwd> cwd_;
};

QTEST_MAIN(BillValueDialogTest)
#include "tst_bill_value_dialog.moc"
