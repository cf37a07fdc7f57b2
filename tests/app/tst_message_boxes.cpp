#include <QScreen>
#include <QTest>

#include "app/application_title.h"
#include "app/message_boxes.h"
#include "modal_watcher.h"

class MessageBoxesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { norva::SetApplicationTitle("Norva Protocol "); }

    void fullStop_data() {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("shown");
        QTest::newRow("file") << "Cannot open file BILLVALUE.TXT"
                              << "Cannot open file BILLVALUE.TXT.";
        QTest::newRow("stream") << "Stream write error"
                                << "Stream write error.";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("full stop") << "Done."
                                   << "Done.";
        QTest::newRow("exclamation") << "The COMPort open error !"
                                     << "The COMPort open error !";
        QTest::newRow("blank") << "trailing "
                               << "trailing ";
        QTest::newRow("hyphen") << "x-"
                                << "x-";
        QTest::newRow("slash is above") << "x/"
                                        << "x/.";
        QTest::newRow("quote") << "'abc' is not a valid integer value"
                               << "'abc' is not a valid integer value.";
    }

    void fullStop() {
        QFETCH(QString, failure);
        QFETCH(QString, shown);
        QCOMPARE(norva::ErrorBoxText(failure), shown);
    }

    void boxes() {
        MessageBoxWatcher watcher;
        norva::ShowErrorBox(QStringLiteral("Cannot create file BILLVALUE.TXT"));
        norva::ShowNoticeBox(QStringLiteral("The COMPort open error !"));
        QCOMPARE(watcher.boxes.size(), std::size_t{2});

        const SeenBox& error = watcher.boxes[0];
        QCOMPARE(error.text, QStringLiteral("Cannot create file BILLVALUE.TXT."));
        QCOMPARE(error.title, QStringLiteral("Norva Protocol "));
        QCOMPARE(error.icon, QMessageBox::Critical);
        QCOMPARE(error.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

        const SeenBox& notice = watcher.boxes[1];
        QCOMPARE(notice.text, QStringLiteral("The COMPort open error !"));
        QCOMPARE(notice.title, QStringLiteral("Norva Protocol "));
        QCOMPARE(notice.icon, QMessageBox::NoIcon);
        QCOMPARE(notice.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY(qAbs(notice.frame.center().x() - centre.x()) <= 1);
        QVERIFY(qAbs(notice.frame.center().y() - centre.y()) <= 1);
    }
};

QTEST_MAIN(MessageBoxesTest)
#include "tst_message_boxes.moc"
