// The traffic record, the capture text it writes and reads, and the file a recording appends to.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <thread>
#include <utility>

#include "capture/capture_file_recorder.h"
#include "capture/capture_format.h"
#include "capture/traffic_record.h"
#include "pty_pair.h"
#include "temp_cwd.h"
#include "traffic_tee.h"

using namespace norva;
using namespace std::string_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

// 2026-12-09T03:14:15Z, from date -u.
constexpr std::int64_t kT0 = 1796786055LL * 1'000'000;
const PortIdentity kCom1{"COM1", "/dev/ttyUSB0", "9600,E,8,1"};
const PortIdentity kCom2{"COM2", "/dev/pts/7", "9600,E,8,1"};

// A power-up and its answer, a poll on another port, as the link would report them.
void FeedSession(TrafficSink& sink) {
    const Bytes powerUp{0x80, 0x8F};
    const Bytes status{0x3E};
    sink.PortOpened(kT0, kCom1);
    sink.Received(kT0 + 123456, powerUp);
    sink.Sent(kT0 + 174012, 0x02);
    sink.PortOpened(kT0 + 2'000'000, kCom2);
    sink.Sent(kT0 + 2'500'000, 0x0C);
    sink.Received(kT0 + 2'551'000, status);
}

const std::string kSessionText =
    "# norva-protocol traffic capture\n"
    "# port COM1 /dev/ttyUSB0 9600,E,8,1\n"
    "2026-12-09T03:14:15.123456Z RX 80 8F\n"
    "2026-12-09T03:14:15.174012Z TX 02\n"
    "# port COM2 /dev/pts/7 9600,E,8,1\n"
    "2026-12-09T03:14:17.500000Z TX 0C\n"
    "2026-12-09T03:14:17.551000Z RX 3E\n";

CaptureFileRecorder::Setup SetupFor(std::string file, std::vector<ProtectedFile> kept = {}) {
    CaptureFileRecorder::Setup setup;
    setup.fileName = std::move(file);
    setup.currentPort = &kCom1;
    setup.protectedFiles = std::move(kept);
    return setup;
}

std::string Text(const Result<std::vector<CaptureEvent>>& parse) {
    return FormatCapture(parse.value());
}

}  // namespace

class CaptureTest : public QObject {
    Q_OBJECT

private slots:
    void timesAreUtcWithMicroseconds() {
        const struct {
            std::int64_t micros;
            const char* text;
        } rows[] = {
            {0, "1970-01-01T00:00:00.000000Z"},
            {-1, "1969-12-31T23:59:59.999999Z"},
            {946684800LL * 1'000'000 + 7, "2000-01-01T00:00:00.000007Z"},
            {1709251199LL * 1'000'000 + 999999, "2024-02-29T23:59:59.999999Z"},
            {kT0 + 123456, "2026-12-09T03:14:15.123456Z"},
        };
        for (const auto& row : rows) {
            std::string text;
            AppendUtcTime(text, row.micros);
            QCOMPARE(text, std::string(row.text));
            const auto back = ParseCapture(text + " TX 00\n");
            QVERIFY2(back.ok(), back.Describe().c_str());
            QCOMPARE(back->at(0).unixMicros, row.micros);
        }
    }

    void recordSavesTheSessionExactly() {
        TrafficRecord record;
        FeedSession(record);
        QCOMPARE(record.eventCount(), std::size_t(6));
        QCOMPARE(record.Format(), kSessionText);
        QCOMPARE(record.currentPort()->portName, std::string("COM2"));

        TempCwd cwd;
        QVERIFY(record.SaveAs("traffic.txt").ok());
        QCOMPARE(ReadFileBytes("traffic.txt"), kSessionText);
        // The reader gives back what was recorded.
        const auto back = ReadCaptureFile("traffic.txt");
        QVERIFY2(back.ok(), back.Describe().c_str());
        QCOMPARE(back->size(), std::size_t(6));
        QCOMPARE(back->at(1).bytes, (Bytes{0x80, 0x8F}));
        QCOMPARE(back->at(3).port.devicePath, std::string("/dev/pts/7"));
        QCOMPARE(Text(back), kSessionText);

        // A folder that takes no file: the text for the error box, the old file untouched.
        QVERIFY(::mkdir("locked", 0555) == 0);
        WriteFileBytes("locked/old.txt", "");
        if (::access("locked/new.txt", F_OK) != 0 && ::geteuid() != 0) {
            QCOMPARE(record.SaveAs("locked/new.txt").text(),
                     std::string("Cannot create file locked/new.txt"));
        }
        QCOMPARE(record.SaveAs("missing/traffic.txt").text(),
                 std::string("Cannot create file missing/traffic.txt"));
        ::chmod("locked", 0755);
    }

    void dropAndClearKeepThePortInEffect() {
        TrafficRecord record;
        FeedSession(record);
        record.DropOldest(2);  // the first port and the power-up
        QCOMPARE(record.eventCount(), std::size_t(4));
        QCOMPARE(record.Format(), std::string("# norva-protocol traffic capture\n"
                                              "# port COM1 /dev/ttyUSB0 9600,E,8,1\n"
                                              "2026-12-09T03:14:15.174012Z TX 02\n"
                                              "# port COM2 /dev/pts/7 9600,E,8,1\n"
                                              "2026-12-09T03:14:17.500000Z TX 0C\n"
                                              "2026-12-09T03:14:17.551000Z RX 3E\n"));
        record.DropOldestFraction(0.5);
        QCOMPARE(record.Format(), std::string("# norva-protocol traffic capture\n"
                                              "# port COM2 /dev/pts/7 9600,E,8,1\n"
                                              "2026-12-09T03:14:17.500000Z TX 0C\n"
                                              "2026-12-09T03:14:17.551000Z RX 3E\n"));
        QCOMPARE(record.event(1).bytes[0], std::uint8_t(0x3E));
        record.Clear();
        QCOMPARE(record.eventCount(), std::size_t(0));
        const Bytes block{0x10};
        record.Received(kT0, block);
        QCOMPARE(record.Format(), std::string("# norva-protocol traffic capture\n"
                                              "# port COM2 /dev/pts/7 9600,E,8,1\n"
                                              "2026-12-09T03:14:15.000000Z RX 10\n"));
    }

    // A session's usual mix: polls and their status answers, escrow messages, answers.
    void recordCostsAtMost24BytesAnEventPlusTheBytes() {
        TrafficRecord record;
        record.PortOpened(kT0, kCom1);
        const Bytes escrow{0x81, 0x8F, 0x40};
        const Bytes status{0x3E};
        std::size_t events = 1, payload = 0;
        const std::size_t empty = record.MemoryBytes();
        for (int i = 0; i < 50000; ++i) {
            record.Sent(kT0 + i, 0x0C);
            record.Received(kT0 + i, i % 10 ? status : escrow);
            events += 2;
            payload += i % 10 ? 1 : 3;
        }
        const double perEvent = double(record.MemoryBytes() - empty - payload) / double(events);
        QVERIFY2(perEvent <= 24.0, qPrintable(QString::number(perEvent)));
        record.Clear();
        record.DropOldest(5);
        QCOMPARE(record.eventCount(), std::size_t(0));
    }

    void readerAcceptsWhatEditorsLeave() {
        const auto parse = ParseCapture(
            "# norva-protocol traffic capture\r\n"
            "\n"
            "# a note of the technician's\n"
            "#port is a comment too\n"
            "2026-12-09T03:14:15.123456Z RX 81 8f 4a  \r\n"
            "# port COM10  9600,E,8,1\n"
            "2026-12-09T03:14:15.200000Z TX 0F\n"
            "  \t");
        QVERIFY2(parse.ok(), parse.Describe().c_str());
        QCOMPARE(parse->size(), std::size_t(3));
        QCOMPARE(parse->at(0).bytes, (Bytes{0x81, 0x8F, 0x4A}));
        QCOMPARE(parse->at(1).port.portName, std::string("COM10"));
        QCOMPARE(parse->at(1).port.devicePath, std::string());
        QCOMPARE(parse->at(2).kind, TrafficKind::Sent);
        QCOMPARE(parse->at(2).unixMicros, kT0 + 200000);

        // A device opened by its path has no port name: written "-", read back empty.
        std::string line;
        AppendPortLine(line, {"", "/dev/pts/3", "9600,E,8,1"});
        QCOMPARE(line, std::string("# port - /dev/pts/3 9600,E,8,1\n"));
        const auto back = ParseCapture(std::string(kCaptureHeader) + "\n" + line);
        QVERIFY2(back.ok(), back.Describe().c_str());
        QCOMPARE(back->at(0).port.portName, std::string());
        QCOMPARE(back->at(0).port.devicePath, std::string("/dev/pts/3"));
    }

    void readerNamesTheBadLine() {
        const std::string timeHint = "': expected one such as 2026-12-09T03:14:15.123456Z";
        const struct {
            const char* line;
            std::string error;
        } rows[] = {
            {"2026-12-09 03:14:15.123456Z RX 80", "bad time '2026-12-09" + timeHint},
            {"2026-02-29T03:14:15.123456Z RX 80",
             "bad time '2026-02-29T03:14:15.123456Z" + timeHint},
            {"2026-12-09T24:00:00.000000Z RX 80",
             "bad time '2026-12-09T24:00:00.000000Z" + timeHint},
            {"2026-12-09T03:14:15.123Z TX 02", "bad time '2026-12-09T03:14:15.123Z" + timeHint},
            {"2026-12-09T03:14:15.123456Z", "expected RX or TX after the time"},
            {"2026-12-09T03:14:15.123456Z rx 80", "expected RX or TX after the time, not 'rx'"},
            {"2026-12-09T03:14:15.123456Z RX", "an RX line needs at least one byte"},
            {"2026-12-09T03:14:15.123456Z TX 02 0F", "a TX line holds exactly one byte"},
            {"2026-12-09T03:14:15.123456Z RX 8F0",
             "bad byte '8F0': expected two hexadecimal digits"},
            {"2026-12-09T03:14:15.123456Z RX 8G", "bad byte '8G': expected two hexadecimal digits"},
            {"2026-12-09T03:14:15.123456Z RX 80  8F", "expected one blank between bytes"},
            {"# port COM1", "bad port line: expected # port NAME DEVICE MODE"},
            {"# port COM1 /dev/tty\tS0 9600,E,8,1", "control character in the port line"},
        };
        for (const auto& row : rows) {
            const std::string text =
                "# norva-protocol traffic capture\n"
                "2026-12-09T03:14:15.000000Z RX 80 8F\n" +
                std::string(row.line) + "\n2026-12-09T03:14:16.000000Z TX 02\n";
            QCOMPARE(QString::fromStdString(ParseCapture(text).Describe()),
                     QString::fromStdString("line 3: " + row.error));
        }

        TempCwd cwd;
        WriteFileBytes("bad.txt", "# norva-protocol traffic capture\n\nnonsense\n");
        QCOMPARE(ReadCaptureFile("bad.txt").Describe(), "bad.txt:3: bad time 'nonsense" + timeHint);
        QCOMPARE(ReadCaptureFile("absent.txt").Describe(),
                 std::string("absent.txt: cannot read: No such file or directory"));
    }

    // Whatever the file, a refusal names it, its line and the reason, fit for a terminal.
    void readerRefusesWhatIsNoCapture() {
        TempCwd cwd;
        const std::string head =
            "# norva-protocol traffic capture\n2026-12-09T03:14:15.000000Z RX 80 8F\n";
        const std::string longest(kMaxCaptureLineBytes, '#');
        const struct {
            const char* name;
            std::string text;  // empty: made otherwise
            std::string error;
        } rows[] = {
            {"cut", head + "2026-12-09T03:14:15.100000Z RX 8",
             "cut:3: cut off: the last line has no line end"},
            {"cut-comment", head + "# port COM1 /dev/tt",
             "cut-comment:3: cut off: the last line has no line end"},
            {"overlong", head + longest + "#\n", "overlong:3: longer than 1048576 bytes"},
            {"longest", head + longest + "\n", ""},
            {"zero", head + "2026-12-09T03:14:15.1Z RX 80\0 8F\n"s,
             "zero:3: a zero byte in the line '2026-12-09T03:14:15.1Z RX 80\\x00 8F'"},
            {"escape", head + "2026-12-09T03:14:15.100000Z RX 8\x1B[2J\n",
             "escape:3: bad byte '8\\x1B[2J': expected two hexadecimal digits"},
            {"folder", "", "folder: cannot read: a folder"},
            {"fifo", "", "fifo: cannot read: a FIFO"},
            {"/dev/zero", "", "/dev/zero: cannot read: a character device"},
        };
        QVERIFY(::mkdir("folder", 0755) == 0 && ::mkfifo("fifo", 0600) == 0);
        for (const auto& row : rows) {
            if (!row.text.empty()) WriteFileBytes(row.name, row.text);
            QCOMPARE(ReadCaptureFile(row.name).Describe(), row.error);
        }
    }

    // Read event by event through a file many times the reader's buffer; the memory figure
    // itself is the benchmark's, only the gross difference from holding the file is pinned.
    void readerStreamsALargeFile() {
        TempCwd cwd;
        constexpr int kEvents = 600'000;
        {
            std::ofstream file("large.txt", std::ios::binary);
            std::string chunk(kCaptureHeader);
            chunk += '\n';
            for (int i = 0; i < kEvents; ++i) {
                i % 2 ? AppendReceivedLine(chunk, kT0 + i, Bytes{std::uint8_t(i)})
                      : AppendSentLine(chunk, kT0 + i, 0x0C);
                if (chunk.size() > 1 << 16) file << std::exchange(chunk, {});
            }
            file << chunk;
        }
        const auto kilobytes = [](const std::string& field) {
            std::ifstream status("/proc/self/status");
            for (std::string line; std::getline(status, line);)
                if (line.starts_with(field)) return std::stoll(line.substr(field.size()));
            return -1LL;
        };
        // Resets the peak, where the kernel allows it.
        const bool peakReset = bool(std::ofstream("/proc/self/clear_refs") << "5" << std::flush);
        const long long before = kilobytes("VmRSS:");

        Result<CaptureReader> reader = CaptureReader::Open("large.txt");
        QVERIFY2(reader.ok(), reader.Describe().c_str());
        int events = 0;
        for (Result<bool> more = reader->Next(); more.ok() && more.value(); more = reader->Next()) {
            const CaptureEvent& event = reader->event();
            if (event.unixMicros != kT0 + events || event.bytes.size() != 1) break;
            ++events;
        }
        QCOMPARE(events, kEvents);
        const long long growth = kilobytes("VmHWM:") - before;
        if (peakReset)
            QVERIFY2(growth < QFileInfo("large.txt").size() / 1024 / 4,
                     qPrintable(QString::number(growth)));
    }

    // The writer writes on its own; it syncs once the oldest unsynced line is syncWithin old
    // (an hour here: only the commit and the stop sync), and an old file stays until the commit.
    void recordingWritesOnItsOwnAndReplacesTheOldFileOnCommit() {
        TempCwd cwd;
        WriteFileBytes("live.txt", "old capture\n");
        CaptureFileRecorder::Setup setup = SetupFor("live.txt");
        setup.syncWithin = std::chrono::hours(1);
        auto started = CaptureFileRecorder::Start(setup);
        QVERIFY(started.ok());
        CaptureFileRecorder& recorder = *started.value();
        TrafficRecord record;
        TrafficTee tee;
        tee.Add(&record);
        tee.Add(&recorder);
        const Bytes powerUp{0x80, 0x8F};
        tee.Received(kT0 + 123456, powerUp);
        QCOMPARE(ReadFileBytes("live.txt"), std::string("old capture\n"));
        QVERIFY(recorder.Commit().ok());
        const std::string head =
            "# norva-protocol traffic capture\n# port COM1 /dev/ttyUSB0 9600,E,8,1\n"
            "2026-12-09T03:14:15.123456Z RX 80 8F\n";
        QCOMPARE(ReadFileBytes("live.txt"), head);
        QCOMPARE(recorder.syncs(), std::uint64_t(1));

        tee.Sent(kT0 + 174012, 0x02);
        tee.PortOpened(kT0 + 2'000'000, kCom2);
        const std::string more = head +
                                 "2026-12-09T03:14:15.174012Z TX 02\n"
                                 "# port COM2 /dev/pts/7 9600,E,8,1\n";
        QTRY_COMPARE(ReadFileBytes("live.txt"), more);
        QCOMPARE(recorder.syncs(), std::uint64_t(1));
        QVERIFY(recorder.Stop().ok());
        QCOMPARE(recorder.syncs(), std::uint64_t(2));
        tee.Sent(kT0 + 2'600'000, 0x30);  // after the stop: not written
        QCOMPARE(ReadFileBytes("live.txt"), more);
        QCOMPARE(record.eventCount(), std::size_t(4));

        // Synced without a stop once the period is up.
        setup.syncWithin = std::chrono::milliseconds(0);
        auto quick = CaptureFileRecorder::Start(setup);
        QVERIFY(quick.ok() && quick.value()->Commit().ok());
        quick.value()->Sent(kT0, 0x0C);
        QTRY_COMPARE(quick.value()->syncs(), std::uint64_t(2));
    }

    // Whatever the target, a refusal names it with the reason, and the old file stays.
    void recordingTargetsAreRefusedByName() {
        TempCwd cwd;
        PtyPair pty;
        WriteFileBytes("values.txt", "100\n");
        QVERIFY(::mkfifo("fifo", 0600) == 0 && ::mkdir("folder", 0700) == 0);
        QVERIFY(::symlink("values.txt", "values-link") == 0);
        QVERIFY(::symlink(pty.slavePath().c_str(), "device-link") == 0);
        const std::vector<ProtectedFile> protectedFiles{{"device-link", "the serial device"},
                                                        {"values.txt", "the --values file"}};
        const struct {
            std::string target;
            const char* reason;
        } rows[] = {
            {"fifo", "a FIFO"},
            {"folder", "a folder"},
            {"/dev/null", "a character device"},
            {pty.slavePath(), "it is the serial device"},
            {"device-link", "it is the serial device"},
            {"values.txt", "it is the --values file"},
            {"values-link", "it is the --values file"},
            {"missing/run.cap", "No such file or directory"},
        };
        for (const auto& row : rows) {
            const auto started = CaptureFileRecorder::Start(SetupFor(row.target, protectedFiles));
            QCOMPARE(
                QString::fromStdString(started.Describe()),
                QString::fromStdString("Cannot create file " + row.target + ": " + row.reason));
        }
        QCOMPARE(ReadFileBytes("values.txt"), std::string("100\n"));
        // Started but never committed (the port did not open): the old file as it was.
        QVERIFY(CaptureFileRecorder::Start(SetupFor("values-link")).ok());
        QCOMPARE(ReadFileBytes("values.txt"), std::string("100\n"));
        QCOMPARE(QDir(".").entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"device-link", "values-link", "values.txt"}));
    }

    // A full disk (a file size limit): the file keeps whole lines only, and the failure names
    // the file and the reason. Deleted or moved away: the file starts again under its name.
    void recordingSurvivesWhatHappensToItsFile_data() {
        QTest::addColumn<QString>("happening");
        QTest::addColumn<QString>("news");
        QTest::newRow("disk full") << "full"
                                   << "Stream write error: live.txt: File too large";
        QTest::newRow("deleted") << "delete"
                                 << "live.txt: deleted while recording; started again";
        QTest::newRow("moved away") << "move"
                                    << "live.txt: moved away while recording; started again";
        QTest::newRow("name taken")
            << "take"
            << "Stream write error: live.txt: moved away while recording, and another "
               "file took its name";
    }
    void recordingSurvivesWhatHappensToItsFile() {
        QFETCH(QString, happening);
        QFETCH(QString, news);
        TempCwd cwd;
        CaptureFileRecorder::Setup setup = SetupFor("live.txt");
        QStringList told;  // read once the writer has been joined
        setup.onNews = [&told](const RecorderNews& n) { told << QString::fromStdString(n.text); };
        auto started = CaptureFileRecorder::Start(setup);
        QVERIFY(started.ok() && started.value()->Commit().ok());
        CaptureFileRecorder& recorder = *started.value();
        const std::string head =
            "# norva-protocol traffic capture\n# port COM1 /dev/ttyUSB0 9600,E,8,1\n";
        const std::string line = "2026-12-09T03:14:15.000000Z RX 80 8F\n";
        const Bytes powerUp{0x80, 0x8F};
        rlimit before{};
        ::getrlimit(RLIMIT_FSIZE, &before);
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &before); });
        if (happening == "full") {
            rlimit small = before;
            small.rlim_cur = head.size() + 2 * line.size() + line.size() / 2;
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        }
        if (happening == "delete") QVERIFY(::unlink("live.txt") == 0);
        if (happening != "full" && happening != "delete")
            QVERIFY(::rename("live.txt", "old.txt") == 0);
        if (happening == "take") WriteFileBytes("live.txt", "someone else's\n");
        for (int i = 0; i < 4; ++i)
            recorder.Received(kT0, powerUp);
        QTRY_VERIFY(recorder.restarts() == 1 || !recorder.recording());
        QCOMPARE(recorder.recording(), happening == "delete" || happening == "move");
        (void)recorder.Stop();
        QCOMPARE(told, QStringList{news});
        const std::string expected = happening == "full"   ? head + line + line
                                     : happening == "take" ? "someone else's\n"
                                                           : head + line + line + line + line;
        QCOMPARE(ReadFileBytes("live.txt"), expected);
        if (happening == "move" || happening == "take") QCOMPARE(ReadFileBytes("old.txt"), head);
        QCOMPARE(recorder.restarts(), std::uint64_t(happening == "delete" || happening == "move"));
    }
};

QTEST_GUILESS_MAIN(CaptureTest)
#include "tst_capture.moc"
