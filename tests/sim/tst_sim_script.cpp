// Script lines and command-line options: what is accepted, and what each rejection says.
#include <QTemporaryDir>
#include <QTest>

#include "tools/acceptor-sim/commands.h"
#include "tools/acceptor-sim/options.h"

using namespace norva::sim;
using Kind = Command::Kind;

class SimScriptTest : public QObject {
    Q_OBJECT

private slots:
    void goodScriptKeepsLineNumbers() {
        const auto script = ParseScript(
            "# bench set-up\n"
            "\n"
            "insert 16   # the largest\n"
            "  sleep 250\r\n"
            "raw 81 8f 0x4A f\n"
            "status 71\n"
            "status auto\n"
            "status\n"
            "powerup\nquiet\ntalk\nhelp\nquit",
            "day.sim");
        QVERIFY2(script.ok(), script.Describe().c_str());
        QCOMPARE(script->fileName, std::string("day.sim"));
        const std::vector<ScriptStep> expected{
            {3, {Kind::Insert, 16, {}}},
            {4, {Kind::Sleep, 250, {}}},
            {5, {Kind::Raw, 0, {0x81, 0x8F, 0x4A, 0x0F}}},
            {6, {Kind::Status, 0, {0x71}}},
            {7, {Kind::StatusAuto, 0, {}}},
            {8, {Kind::ShowState, 0, {}}},
            {9, {Kind::PowerUp, 0, {}}},
            {10, {Kind::Quiet, 0, {}}},
            {11, {Kind::Talk, 0, {}}},
            {12, {Kind::Help, 0, {}}},
            {13, {Kind::Quit, 0, {}}},
        };
        QCOMPARE(script->steps.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            QCOMPARE(script->steps[i].lineNumber, expected[i].lineNumber);
            QVERIFY2(script->steps[i].command == expected[i].command,
                     qPrintable(QString::number(expected[i].lineNumber)));
        }
    }

    void badScriptLine_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("why");
        QTest::newRow("unknown") << "inject 3"
                                 << "unknown command 'inject'";
        QTest::newRow("channel 0") << "insert 0"
                                   << "bad channel '0'";
        QTest::newRow("channel 17") << "insert 17"
                                    << "bad channel '17'";
        QTest::newRow("not a status") << "status 2F"
                                      << "'2F' is not a status code";
        QTest::newRow("raw empty") << "raw"
                                   << "raw needs at least one hex byte";
        QTest::newRow("raw bad") << "raw 80 8G"
                                 << "bad hex byte '8G'";
        QTest::newRow("raw too wide") << "raw 180"
                                      << "bad hex byte '180'";
        QTest::newRow("sleep negative") << "sleep -5"
                                        << "bad time '-5'";
        QTest::newRow("quit argument") << "quit now"
                                       << "quit takes no arguments";
        QTest::newRow("upper case") << "INSERT 1"
                                    << "unknown command 'INSERT'";
    }

    void badScriptLine() {
        QFETCH(QString, line);
        QFETCH(QString, why);
        const std::string text = "# header\ninsert 1\n\n" + line.toStdString() + "\nquit\n";
        const std::string error = ParseScript(text, "bad.sim").Describe();
        const std::string expected = "bad.sim:4: " + why.toStdString();
        QVERIFY2(error.starts_with(expected), error.c_str());
    }

    void scriptFromFile() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("notes.sim").toStdString();
        const std::string error = LoadScript(path).Describe();
        QVERIFY2(error.starts_with(path + ": cannot read the script"), error.c_str());

        QFile file(QString::fromStdString(path));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("insert 2\nsleep 10\n");
        file.close();
        const auto script = LoadScript(path);
        QVERIFY2(script.ok(), script.Describe().c_str());
        QCOMPARE(script->steps.size(), std::size_t(2));
        QCOMPARE(script->fileName, path);
    }

    void options() {
        auto parsed = ParseOptions({"--device", "/dev/ttyS3", "--script=run.sim",
                                    "--exit-after-script", "--soak", "0.25", "--seed=42"});
        QVERIFY2(parsed.ok(), parsed.Describe().c_str());
        QCOMPARE(parsed->device, std::string("/dev/ttyS3"));
        QCOMPARE(parsed->script, std::string("run.sim"));
        QVERIFY(parsed->exitAfterScript);
        QCOMPARE(*parsed->soakRate, 0.25);
        QCOMPARE(*parsed->seed, 42u);

        parsed = ParseOptions({"--link", "/tmp/acceptor", "--exit-on-eof"});
        QVERIFY(parsed.ok());
        QCOMPARE(parsed->link, std::string("/tmp/acceptor"));
        QVERIFY(parsed->exitOnEof && parsed->device.empty());

        parsed = ParseOptions({"--link", "/tmp/acceptor", "--replay", "c.txt", "--speed=0.5"});
        QVERIFY2(parsed.ok(), parsed.Describe().c_str());
        QCOMPARE(parsed->replay, std::string("c.txt"));
        QCOMPARE(*parsed->replaySpeed, 0.5);

        // The tap's two paths, wherever they stand; a value that starts like an option is one.
        parsed = ParseOptions(
            {"--script", "--tap-links", "--tap-links", "host", "dev", "--escrow-timeout=2.5"});
        QVERIFY2(parsed.ok(), parsed.Describe().c_str());
        QCOMPARE(parsed->script, std::string("--tap-links"));
        QCOMPARE(parsed->tapHostLink, std::string("host"));
        QCOMPARE(parsed->tapDeviceLink, std::string("dev"));
        QCOMPARE(*parsed->escrowTimeoutSeconds, 2.5);

        // Like --help, it stands alone: what else is given need not make a run.
        parsed = ParseOptions({"--version", "--seed", "1"});
        QVERIFY2(parsed.ok() && parsed->version, parsed.Describe().c_str());
    }

    void badOptions_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("why");
        QTest::newRow("unknown") << QStringList{"--baud", "19200"} << "unknown option '--baud'";
        QTest::newRow("zero rate") << QStringList{"--soak", "0"} << "bad --soak rate '0'";
        QTest::newRow("endless rate") << QStringList{"--soak", "inf"} << "bad --soak rate 'inf'";
        QTest::newRow("rate too high") << QStringList{"--soak", "5000"} << "bad --soak rate";
        QTest::newRow("bad seed") << QStringList{"--soak", "1", "--seed", "-1"}
                                  << "bad --seed '-1'";
        QTest::newRow("seed alone") << QStringList{"--seed", "1"} << "--seed needs --soak";
        QTest::newRow("link and device")
            << QStringList{"--device", "/dev/ttyS0", "--link", "x"} << "--link names a";
        QTest::newRow("exit without script")
            << QStringList{"--exit-after-script"} << "--exit-after-script needs --script";
        QTest::newRow("speed alone") << QStringList{"--speed", "2"} << "--speed needs --replay";
        QTest::newRow("zero speed")
            << QStringList{"--replay", "c.txt", "--speed", "0"} << "bad --speed '0'";
        QTest::newRow("replay with soak") << QStringList{"--replay", "c.txt", "--soak", "1"}
                                          << "--replay plays the capture alone";
        QTest::newRow("replay with script")
            << QStringList{"--replay=c.txt", "--script", "s.sim"} << "--replay plays the capture";
        QTest::newRow("replay without file") << QStringList{"--replay="} << "--replay needs a path";
        QTest::newRow("value missing")
            << QStringList{"--replay"} << "Missing value after '--replay'";
        QTest::newRow("stray argument")
            << QStringList{"capture.txt"} << "unexpected argument 'capture.txt'";
        QTest::newRow("one tap link")
            << QStringList{"--tap-links", "h", "--exit-on-eof"} << "--tap-links needs two paths";
        QTest::newRow("tap link twice") << QStringList{"--tap-links", "h", "h"}
                                        << "--tap-links and --link need paths of their own";
        QTest::newRow("tap link is the link")
            << QStringList{"--link", "l", "--tap-links=h", "l"} << "need paths of their own";
        QTest::newRow("zero escrow timeout")
            << QStringList{"--escrow-timeout", "0"} << "bad --escrow-timeout '0'";
        QTest::newRow("escrow timeout in a replay")
            << QStringList{"--replay", "c.txt", "--escrow-timeout", "5"}
            << "--replay plays the capture alone";
    }

    void badOptions() {
        QFETCH(QStringList, args);
        QFETCH(QString, why);
        std::vector<std::string> list;
        for (const QString& a : args)
            list.push_back(a.toStdString());
        const auto parsed = ParseOptions(list);
        QVERIFY(!parsed.ok());
        QVERIFY2(parsed.Describe().find(why.toStdString()) != std::string::npos,
                 parsed.Describe().c_str());
    }
};

QTEST_GUILESS_MAIN(SimScriptTest)
#include "tst_sim_script.moc"
