// norva-cli --report with no X server: the page, the SVG and the PNG of a capture, the page
// carrying the numbers --json prints, and the exit status and words for what cannot be done.
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QXmlStreamReader>

#include "temp_cwd.h"

namespace {

// Two power-ups answered, a note held on channel 2 and stacked.
const char* const kCapture =
    "# norva-protocol traffic capture\n"
    "# port COM1 /dev/ttyUSB0 9600,E,8,1\n"
    "2026-12-09T03:14:15.000000Z RX 80 8F\n"
    "2026-12-09T03:14:15.060000Z TX 02\n"
    "2026-12-09T03:14:17.000000Z RX 81 8F 41\n"
    "2026-12-09T03:14:17.800000Z TX 02\n"
    "2026-12-09T03:14:18.300000Z RX 10\n"
    "2026-12-09T03:14:40.000000Z RX 80 8F\n"
    "2026-12-09T03:14:40.040000Z TX 02\n";

struct Run {
    int status = -1;
    QByteArray out, err;
};

Run Report(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // No window system at all: the command must find its own.
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(NORVA_CLI_BINARY), arguments);
    Run run;
    if (!process.waitForFinished(60000)) return run;  // QProcess kills it on the way out
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QJsonValue At(const QJsonObject& root, const QString& key) {
    QJsonValue value = root;
    for (const QString& part : key.split('.'))
        value = value.toObject().value(part);
    return value;
}

}  // namespace

class ReportCliTest : public QObject {
    Q_OBJECT

private slots:
    void theReportIsWrittenWithoutAWindowSystem() {
        TempCwd cwd;
        WriteFileBytes("session.cap", kCapture);
        for (const char* name : {"session.html", "session.svg", "session.png"}) {
            const Run run = Report({"--report", name, "--from", "session.cap", "--json"});
            QVERIFY2(run.status == 0, run.err.constData());
            const QJsonObject json = QJsonDocument::fromJson(run.out).object();
            QCOMPARE(At(json, "power_ups").toInt(), 2);
            QCOMPARE(At(json, "stacked.channels.2").toInt(), 1);
            QCOMPARE(At(json, "escrow_hold_ms.count").toInt(), 1);
            const QByteArray bytes = QByteArray::fromStdString(ReadFileBytes(name));
            if (QString(name).endsWith(".png")) {
                QVERIFY(!QImage::fromData(bytes, "PNG").isNull());
                continue;
            }
            QXmlStreamReader xml(bytes);
            int numbers = 0;
            while (!xml.atEnd()) {
                if (xml.readNext() != QXmlStreamReader::StartElement) continue;
                const QString key = xml.attributes().value("data-key").toString();
                if (key.isEmpty()) continue;
                const QJsonValue value = At(json, key);
                const QString text = xml.readElementText();
                if (value.isDouble()) {
                    QCOMPARE(text.toDouble(), value.toDouble());
                    ++numbers;
                } else if (value.isString()) {
                    QCOMPARE(text, value.toString());
                }
            }
            QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
            if (QString(name).endsWith(".html")) QVERIFY(numbers > 16 * 4 + 16);
        }
    }

    void whatCannotBeDoneIsSaid() {
        TempCwd cwd;
        WriteFileBytes("session.cap", kCapture);
        WriteFileBytes("bad.cap",
                       "# norva-protocol traffic capture\n2026-12-09T03:14:15.000000Z RX 8G\n");
        const struct {
            QStringList arguments;
            int status;
            const char* says;
        } cases[] = {
            {{"--report", "out.html", "--from", "bad.cap"}, 4, "bad.cap:2: "},
            {{"--report", "out.html", "--from", "missing.cap"}, 4, "missing.cap"},
            {{"--report", "no/folder/out.html", "--from", "session.cap"},
             2,
             "Cannot create file no/folder/out.html"},
            {{"--report", "out.txt", "--from", "session.cap"}, 2, ".html, .svg, .png"},
        };
        for (const auto& c : cases) {
            const Run run = Report(c.arguments);
            QCOMPARE(run.status, c.status);
            QVERIFY2(run.err.contains(c.says), run.err.constData());
            QVERIFY(!QFile::exists("out.html"));
        }
    }
};

QTEST_GUILESS_MAIN(ReportCliTest)

#include "tst_report_cli.moc"
