// The traffic record, the capture text it writes and reads, and the file a recording appends to.
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <thread>
#include <utility>

#include "capture/capture_file_recorder.h"
#include "capture/capture_format.h"
#include "capture/traffic_record.h"
#include "capture/traffic_tee.h"
#include "temp_cwd.h"

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

    void recordingAppendsAndFlushesWithinASecond() {
        TempCwd cwd;
        TrafficRecord record;
        TrafficTee tee;
        CaptureFileRecorder recorder("live.txt", &kCom1);
        tee.Add(&record);
        tee.Add(&recorder);
        QVERIFY(recorder.recording());
        QCOMPARE(ReadFileBytes("live.txt"), std::string("# norva-protocol traffic capture\n"
                                                        "# port COM1 /dev/ttyUSB0 9600,E,8,1\n"));
        const Bytes powerUp{0x80, 0x8F};
        tee.Received(kT0 + 123456, powerUp);
        tee.Sent(kT0 + 174012, 0x02);
        recorder.Flush();
        const std::string twoEvents =
            "# norva-protocol traffic capture\n"
            "# port COM1 /dev/ttyUSB0 9600,E,8,1\n"
            "2026-12-09T03:14:15.123456Z RX 80 8F\n"
            "2026-12-09T03:14:15.174012Z TX 02\n";
        QCOMPARE(ReadFileBytes("live.txt"), twoEvents);

        // No timer: an event more than a second after the last flush flushes on its own.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        tee.PortOpened(kT0 + 2'000'000, kCom2);
        QCOMPARE(ReadFileBytes("live.txt"), twoEvents + "# port COM2 /dev/pts/7 9600,E,8,1\n");

        tee.Sent(kT0 + 2'500'000, 0x0C);
        QCOMPARE(recorder.Stop(), std::string());
        tee.Sent(kT0 + 2'600'000, 0x30);  // after the stop: not written
        QVERIFY(!recorder.recording());
        QCOMPARE(ReadFileBytes("live.txt"), twoEvents +
                                                "# port COM2 /dev/pts/7 9600,E,8,1\n"
                                                "2026-12-09T03:14:17.500000Z TX 0C\n");
        QCOMPARE(record.eventCount(), std::size_t(5));
    }

    void recordingFailuresKeepTheirReason() {
        CaptureFileRecorder missing("/nonexistent/folder/live.txt");
        QVERIFY(!missing.recording() && missing.failed());
        QCOMPARE(missing.error(), std::string("Cannot create file /nonexistent/folder/live.txt"));
        QCOMPARE(missing.reason(), std::string("No such file or directory"));
        missing.Sent(kT0, 0x02);  // ignored, no crash

        // A device that takes no bytes at all: the header is already refused.
        CaptureFileRecorder full("/dev/full", &kCom1);
        QVERIFY(!full.recording());
        QCOMPARE(full.error(), std::string("Stream write error"));
        QCOMPARE(full.reason(), std::string("No space left on device"));
        QCOMPARE(full.Stop(), std::string("Stream write error"));
    }
};

QTEST_GUILESS_MAIN(CaptureTest)
#include "tst_capture.moc"
