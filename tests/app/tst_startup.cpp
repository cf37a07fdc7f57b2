#include <QTest>

#include <utility>

#include "app/startup.h"
#include "modal_watcher.h"
#include "temp_cwd.h"
#include "windows_fixture.h"

// Start-up as far as the windows: the two readings of BILLVALUE.TXT, the main window's first.
class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { DestroyWindows(); }

    void withoutBillValueFile() {
        TempCwd cwd;
        norva::NoteCount = 9;
        std::vector<std::pair<bool, bool>> windowsWhileShown;  // main window, dialog
        std::vector<bool> emblemShown;
        MessageBoxWatcher watcher([&] {
            windowsWhileShown.emplace_back(Form1 != nullptr, Form3 != nullptr);
            emblemShown.push_back(IsEmblem(QApplication::activeModalWidget()->windowIcon()));
        });
        norva::CreateWindows();

        QCOMPARE(watcher.boxes.size(), std::size_t{2});
        for (const SeenBox& box : watcher.boxes) {
            QCOMPARE(box.text, QStringLiteral("Cannot open file BILLVALUE.TXT."));
            QCOMPARE(box.title, QStringLiteral("Norva Protocol "));
            QCOMPARE(box.icon, QMessageBox::Critical);
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        }
        // The first while the main window was being created, the second before the dialog was.
        QCOMPARE(windowsWhileShown[0], std::make_pair(false, false));
        QCOMPARE(windowsWhileShown[1], std::make_pair(true, false));
        QCOMPARE(emblemShown, std::vector<bool>(2, true));

        QCOMPARE(ChannelCaptions(), NumberedTexts());
        for (int n = 1; n <= 16; ++n)
            QCOMPARE(Form1->ChannelBox(n)->isChecked(), n <= 3);
        QCOMPARE(DialogTexts(), QStringList(16, QStringLiteral("0")));
        QCOMPARE(norva::NoteCount, 0);
        QVERIFY(!Form3->isVisible());
    }

    void billValueFile_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<QStringList>("dialog");

        QByteArray twenty;
        QStringList firstSixteen;
        for (int i = 1; i <= 20; ++i)
            twenty += "v" + QByteArray::number(i) + "\r\n";
        for (int i = 1; i <= 16; ++i)
            firstSixteen << QStringLiteral("v%1").arg(i);
        QTest::newRow("twenty lines") << twenty << firstSixteen << firstSixteen;

        QStringList captions = NumberedTexts();
        QStringList dialog(16, QStringLiteral("0"));
        const QStringList three = {"5", "10", "20"};
        for (int i = 0; i < 3; ++i)
            captions[i] = dialog[i] = three[i];
        QTest::newRow("three lines, no final line end")
            << QByteArray("5\r\n10\r\n20") << captions << dialog;

        captions = NumberedTexts();
        dialog = QStringList(16, QStringLiteral("0"));
        const QStringList six = {"a", "b", "c", "d", "", "f"};
        for (int i = 0; i < 6; ++i)
            captions[i] = dialog[i] = six[i];
        QTest::newRow("empty fifth line, LF ends")
            << QByteArray("a\nb\nc\nd\n\nf\n") << captions << dialog;

        QTest::newRow("empty file")
            << QByteArray() << NumberedTexts() << QStringList(16, QStringLiteral("0"));

        captions = NumberedTexts();
        dialog = QStringList(16, QStringLiteral("0"));
        captions[0] = dialog[0] = QStringLiteral(" 100");
        captions[1] = dialog[1] = QString::fromUtf8("5 \xE2\x82\xAC");
        QTest::newRow("blanks and 8-bit text kept")
            << QByteArray(" 100\r5 \xE2\x82\xAC\r") << captions << dialog;
    }

    void billValueFile() {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, captions);
        QFETCH(QStringList, dialog);
        TempCwd cwd;
        WriteFileBytes("BILLVALUE.TXT", file.toStdString());
        norva::NoteCount = 4;
        MessageBoxWatcher watcher;
        norva::CreateWindows();
        QCOMPARE(watcher.boxes.size(), std::size_t{0});
        QCOMPARE(ChannelCaptions(), captions);
        QCOMPARE(DialogTexts(), dialog);
        QCOMPARE(norva::NoteCount, 0);
    }
};

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
