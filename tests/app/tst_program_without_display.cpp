#include <QProcess>
#include <QTest>

// The real program where no window system can be reached: a word on what was tried and what to
// use instead, and exit status 1, never an abort.
class ProgramWithoutDisplayTest : public QObject {
    Q_OBJECT

private slots:
    void saysSoAndEnds_data() {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("display");  // empty: not set
        QTest::addColumn<QString>("tried");
        QTest::newRow("xcb, no DISPLAY") << "xcb" << QString() << "platform xcb; DISPLAY not set";
        QTest::newRow("xcb, no server on the DISPLAY") << "xcb"
                                                       << ":93"
                                                       << "platform xcb; DISPLAY=:93";
        QTest::newRow("a platform not installed")
            << "no-such-platform" << QString() << "platform no-such-platform";
    }

    void saysSoAndEnds() {
        QFETCH(QString, platform);
        QFETCH(QString, display);
        QFETCH(QString, tried);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        if (!display.isEmpty()) environment.insert(QStringLiteral("DISPLAY"), display);
        QProcess program;  // killed and reaped by its destructor if still running
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(NORVA_PROTOCOL_BINARY), {});
        QVERIFY(program.waitForFinished(20000));
        const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QVERIFY2(
            errors.contains(QStringLiteral("norva-protocol: no display could be opened (") + tried),
            qPrintable(errors));
        QVERIFY2(errors.contains(QStringLiteral("norva-cli")), qPrintable(errors));
        QVERIFY2(!errors.contains(QStringLiteral("Reinstalling")), qPrintable(errors));
    }
};

QTEST_GUILESS_MAIN(ProgramWithoutDisplayTest)
#include "tst_program_without_display.moc"
