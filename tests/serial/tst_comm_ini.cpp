#include <sys/stat.h>

#include <QTest>

#include "child_process.h"
#include "serial/comm_ini.h"
#include "temp_cwd.h"

using namespace norva;

class CommIniTest : public QObject {
    Q_OBJECT

private slots:
    void exactBytesAndReadBack_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("COM3") << 3 << QByteArray("[COMMAND]\r\nPORT=COM3\r\nCOMM=9600,E,8,1\r\n");
        QTest::newRow("COM10") << 10
                               << QByteArray("[COMMAND]\r\nPORT=COM10\r\nCOMM=9600,E,8,1\r\n");
    }
    void exactBytesAndReadBack() {
        QFETCH(int, port);
        QFETCH(QByteArray, bytes);
        TempCwd cwd;
        WriteFileBytes("comm.ini", "stale text that is replaced whole\r\n\r\n\r\n\r\n");
        QVERIFY(WriteCommIni(port).ok());
        QCOMPARE(ReadFileBytes("comm.ini"), bytes.toStdString());
        QCOMPARE(int(bytes.size()), port == 10 ? 40 : 39);
        const auto settings = ReadCommIni();
        QVERIFY(settings.ok());
        QCOMPARE(settings->portName, "COM" + std::to_string(port));
        QCOMPARE(settings->modeString, std::string("9600,E,8,1"));
    }

    // Values are taken by position; keys are not looked at, and short lines give nothing.
    void valuesByPosition() {
        TempCwd cwd;
        WriteFileBytes("comm.ini", "x\nABCDECOM4\nMODE:300,N,8,1");
        auto s = ReadCommIni();
        QCOMPARE(s->portName, std::string("COM4"));
        QCOMPARE(s->modeString, std::string("300,N,8,1"));
        WriteFileBytes("comm.ini", "[COMMAND]\r\nPORT=\r\n");
        s = ReadCommIni();
        QVERIFY(s.ok());
        QCOMPARE(s->portName, std::string());
        QCOMPARE(s->modeString, std::string());
    }

    void failures() {
        TempCwd cwd;
        const Outcome missing = ReadCommIni().outcome();
        QCOMPARE(missing.text(), std::string("Cannot open file comm.ini"));
        QCOMPARE(missing.osError(), ENOENT);
        QVERIFY(QDir().mkdir("comm.ini"));
        const Outcome written = WriteCommIni(1);
        QCOMPARE(written.text(), std::string("Cannot create file comm.ini"));
        QVERIFY(written.osError() != 0);
        QCOMPARE(ReadCommIni().text(), std::string("Cannot open file comm.ini"));
        QVERIFY(QDir().rmdir("comm.ini"));
        WriteFileBytes("comm.ini", "keep\r\n");
        QCOMPARE(::chmod("comm.ini", 0444), 0);
        QCOMPARE(::chmod(".", 0777), 0);
        QCOMPARE(RunInChild([] { return WriteCommIni(2).text(); }, true),
                 std::string("Cannot create file comm.ini"));
        QCOMPARE(ReadFileBytes("comm.ini"), std::string("keep\r\n"));
    }
};

QTEST_GUILESS_MAIN(CommIniTest)
#include "tst_comm_ini.moc"
