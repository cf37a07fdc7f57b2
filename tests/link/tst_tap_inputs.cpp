// The tap's two inputs on real pseudo-terminals: read only, exclusive, one clock, nothing taken
// out of its time, a pulled adapter waited for.
#include <fcntl.h>
#include <sys/stat.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <fstream>
#include <thread>

#include "link/tap_inputs.h"
#include "open_descriptors.h"
#include "pty_pair.h"

using namespace norva;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Heard {
    TapSide side;
    std::int64_t time;
    Bytes bytes;
    LineEvent event;
};

std::unique_ptr<TapInputs> OpenTap(const std::string& host, const std::string& device) {
    Result<std::unique_ptr<TapInputs>> opened =
        TapInputs::Open({{"", host, "9600,E,8,1"}, {"", device, "9600,E,8,1"}});
    if (!opened.ok()) qWarning("the tap did not open: %s", opened.outcome().Describe().c_str());
    return opened.ok() ? std::move(opened).value() : nullptr;
}

// Takes until `until` holds or 5 s pass.
std::vector<Heard> TakeUntil(TapInputs& tap,
                             const std::function<bool(const std::vector<Heard>&)>& until) {
    std::vector<Heard> heard;
    QElapsedTimer clock;
    clock.start();
    while (!until(heard) && clock.elapsed() < 5000) {
        tap.Take([&](TapSide side, const Block& b) {
            heard.push_back({side, b.firstByteUnixMicros, b.bytes, b.event});
        });
        QTest::qWait(5);
    }
    return heard;
}

Bytes BytesOf(const std::vector<Heard>& heard, TapSide side) {
    Bytes all;
    for (const Heard& h : heard)
        if (h.side == side) all.insert(all.end(), h.bytes.begin(), h.bytes.end());
    return all;
}

}  // namespace

class TapInputsTest : public QObject {
    Q_OBJECT

private slots:
    // Both lines heard, on their own sides; neither device ever given a byte, and no write
    // possible: each is open for reading only.
    void hearsBothAndNeverWrites() {
        PtyPair host, device;
        auto tap = OpenTap(host.slavePath(), device.slavePath());
        QVERIFY(tap);
        QCOMPARE(AccessModesOn(::getpid(), host.slavePath(), host.slave()),
                 std::vector<int>{O_RDONLY});
        QCOMPARE(AccessModesOn(::getpid(), device.slavePath(), device.slave()),
                 std::vector<int>{O_RDONLY});
        PtyPair third;
        PortHandle readOnly(PortHandle::Access::ReadOnly);
        QVERIFY(OpenDevice(&readOnly, third.slavePath(), "9600,E,8,1").ok());
        QVERIFY(!SendByte(&readOnly, 0x30));
        QCOMPARE(third.ReadUntilQuiet(50), Bytes{});
        device.Write({0x80, 0x8F});
        host.Write({0x02, 0x5E});
        const auto heard = TakeUntil(*tap, [](const std::vector<Heard>& h) {
            return BytesOf(h, TapSide::Device).size() == 2 && BytesOf(h, TapSide::Host).size() == 2;
        });
        QCOMPARE(BytesOf(heard, TapSide::Device), (Bytes{0x80, 0x8F}));
        QCOMPARE(BytesOf(heard, TapSide::Host), (Bytes{0x02, 0x5E}));
        tap.reset();
        QCOMPARE(host.ReadUntilQuiet(100), Bytes{});
        QCOMPARE(device.ReadUntilQuiet(100), Bytes{});
    }

    // One clock for both, in the order the bytes came, and nothing timed before a time Take
    // already returned comes later, while a writer keeps both lines busy.
    void oneClockNothingLate() {
        PtyPair host, device;
        auto tap = OpenTap(host.slavePath(), device.slavePath());
        QVERIFY(tap);
        const std::int64_t before = tap->Now();
        device.Write({0x21});
        QTest::qWait(30);
        host.Write({0x0C});
        QTest::qWait(30);
        device.Write({0x22});
        auto heard = TakeUntil(*tap, [](const std::vector<Heard>& h) { return h.size() == 3; });
        QCOMPARE(heard.size(), std::size_t(3));
        std::stable_sort(heard.begin(), heard.end(),
                         [](const Heard& a, const Heard& b) { return a.time < b.time; });
        QCOMPARE(heard[0].bytes, Bytes{0x21});
        QCOMPARE(heard[1].bytes, Bytes{0x0C});
        QCOMPARE(heard[2].bytes, Bytes{0x22});
        QVERIFY(heard[0].time >= before && heard[2].time <= tap->Now());

        std::atomic<bool> writing{true};
        std::thread writer([&] {
            for (int i = 0; writing; ++i) {
                (i % 2 ? host : device).Write({std::uint8_t(i)});
                std::this_thread::sleep_for(std::chrono::microseconds(200 + i % 700));
            }
        });
        std::int64_t heardThrough = 0;
        int late = 0, reads = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 1000) {
            const std::int64_t next = tap->Take([&](TapSide, const Block& b) {
                ++reads;
                late += b.firstByteUnixMicros < heardThrough;
            });
            heardThrough = std::max(heardThrough, next);
            std::this_thread::yield();
        }
        writing = false;
        writer.join();
        QVERIFY(reads > 100);
        QCOMPARE(late, 0);
    }

    // Exclusive as the bench opens a port, and two distinct devices.
    void refusals_data() {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("says");
        QTest::newRow("held by another tap") << 0 << "busy";
        QTest::newRow("one device for both lines") << 1 << "one device cannot hear both lines";
        QTest::newRow("no such device") << 2 << "no such device";
    }
    void refusals() {
        QFETCH(int, which);
        QFETCH(QString, says);
        PtyPair host, device;
        auto first = OpenTap(host.slavePath(), device.slavePath());
        QVERIFY(first);
        const std::string other = which == 0   ? device.slavePath()
                                  : which == 1 ? host.slavePath()
                                               : "/dev/no-such-tap-device";
        if (which != 0) first.reset();
        const Result<std::unique_ptr<TapInputs>> second =
            TapInputs::Open({{"", host.slavePath(), ""}, {"", other, ""}});
        QVERIFY(!second.ok());
        QVERIFY2(second.text().find(says.toStdString()) != std::string::npos,
                 second.text().c_str());
    }

    // What holds an input's bytes back, from what the device is.
    void latencyByDevice_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("latencyTimer");  // the sysfs file's text; empty: no file
        QTest::addColumn<QString>("mode");
        QTest::addColumn<qint64>("micros");
        QTest::newRow("FTDI at 1 ms") << "ttyUSB0"
                                      << "1\n"
                                      << "9600,E,8,1" << 2'000LL;
        QTest::newRow("FTDI at its default") << "ttyUSB1"
                                             << "16\n"
                                             << "" << 17'000LL;
        QTest::newRow("USB without a timer") << "ttyUSB2"
                                             << ""
                                             << "" << 17'000LL;
        QTest::newRow("a nonsense timer") << "ttyUSB3"
                                          << "0\n"
                                          << "" << 17'000LL;
        QTest::newRow("CDC ACM") << "ttyACM0"
                                 << ""
                                 << "" << 17'000LL;
        QTest::newRow("UART at 9600,E,8,1") << "ttyS0"
                                            << ""
                                            << "9600,E,8,1" << 5'580LL;
        QTest::newRow("UART at 115200,N,8,1") << "ttyS1"
                                              << ""
                                              << "115200,N,8,1" << 1'344LL;
    }
    void latencyByDevice() {
        QFETCH(QString, name);
        QFETCH(QString, latencyTimer);
        QFETCH(QString, mode);
        QFETCH(qint64, micros);
        QTemporaryDir dev, sys;
        const std::string node = dev.filePath(name).toStdString();
        std::ofstream(node).put('\n');
        if (!latencyTimer.isEmpty()) {
            const QString folder = sys.filePath("bus/usb-serial/devices/" + name);
            QVERIFY(QDir().mkpath(folder));
            std::ofstream(folder.toStdString() + "/latency_timer") << latencyTimer.toStdString();
        }
        QCOMPARE(InputLatencyMicros(node, mode.toStdString(),
                                    {dev.path().toStdString(), sys.path().toStdString()}),
                 micros);
        PtyPair pty;
        QCOMPARE(InputLatencyMicros(pty.slavePath(), mode.toStdString()), 0);
    }

    // A pulled adapter is said gone, waited for and heard again once its path is back.
    void waitsForAPulledAdapter() {
        QTemporaryDir dir;
        const std::string link = dir.filePath("acceptor").toStdString();
        PtyPair host;
        auto device = std::make_unique<PtyPair>();
        QCOMPARE(::symlink(device->slavePath().c_str(), link.c_str()), 0);
        auto tap = OpenTap(host.slavePath(), link);
        QVERIFY(tap);
        ::unlink(link.c_str());
        device.reset();
        const auto gone = TakeUntil(*tap, [](const std::vector<Heard>& h) {
            return !h.empty() && h.back().event == LineEvent::Gone;
        });
        QVERIFY(!gone.empty() && gone.back().side == TapSide::Device);
        QTRY_VERIFY(tap->waiting(TapSide::Device));
        device = std::make_unique<PtyPair>();
        QCOMPARE(::symlink(device->slavePath().c_str(), link.c_str()), 0);
        auto back = TakeUntil(*tap, [](const std::vector<Heard>& h) {
            return !h.empty() && h.back().event == LineEvent::Back;
        });
        QVERIFY(!back.empty() && back.back().side == TapSide::Device);
        device->Write({0x80, 0x8F});
        back = TakeUntil(*tap, [](const std::vector<Heard>& h) { return !h.empty(); });
        QCOMPARE(BytesOf(back, TapSide::Device), (Bytes{0x80, 0x8F}));
        QCOMPARE(device->ReadUntilQuiet(100), Bytes{});
    }
};

QTEST_GUILESS_MAIN(TapInputsTest)
#include "tst_tap_inputs.moc"
