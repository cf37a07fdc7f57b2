#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

#include "child_process.h"
#include "pty_pair.h"
#include "scoped_env.h"
#include "serial/com_port.h"
#include "serial/device_discovery.h"
#include "serial/line_mode.h"
#include "serial/port_exclusion.h"
#include "serial/port_name.h"

using namespace norva;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

namespace {

int ElapsedMs(Clock::time_point since) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Points COM7 at the pty for the duration of a test.
struct MappedPort {
    explicit MappedPort(const PtyPair& pty) : mapping("NORVA_COM7", pty.slavePath()) {}
    ScopedEnv mapping;
};

struct Burst {
    Bytes received;
    int worstGapMs = 0;  // the largest gap the writer really produced
};

// Writes the bytes one by one with gapMs between them, while ReadBlock reads.
Burst ReadWhileWriting(const PtyPair& pty, PortHandle& port, const Bytes& bytes, int gapMs) {
    Burst burst;
    std::thread writer([&] {
        auto last = Clock::now();
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
            burst.worstGapMs = std::max(burst.worstGapMs, i > 0 ? ElapsedMs(last) : 0);
            pty.Write({bytes[i]});
            last = Clock::now();
        }
    });
    std::uint8_t buffer[4999];
    const std::size_t n = ReadBlock(&port, buffer, sizeof buffer);
    writer.join();
    burst.received.assign(buffer, buffer + n);
    return burst;
}

}  // namespace

class SerialPortTest : public QObject {
    Q_OBJECT

private slots:
    void modeStrings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");  // -1 not named
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits");
        QTest::newRow("the acceptor's")
            << "9600,E,8,1" << true << 9600 << int(Parity::Even) << 8 << int(StopBits::One);
        QTest::newRow("odd 7 2") << "19200,o,7,2" << true << 19200 << int(Parity::Odd) << 7
                                 << int(StopBits::Two);
        QTest::newRow("mark") << "1200,M,8,1" << true << 1200 << int(Parity::Mark) << 8
                              << int(StopBits::One);
        QTest::newRow("space") << "1200,S,6,1" << true << 1200 << int(Parity::Space) << 6
                               << int(StopBits::One);
        QTest::newRow("none 5 1.5") << "300,N,5,1.5" << true << 300 << int(Parity::None) << 5
                                    << int(StopBits::OnePointFive);
        QTest::newRow("abbreviated baud")
            << "96,E,8,1" << true << 9600 << int(Parity::Even) << 8 << int(StopBits::One);
        QTest::newRow("baud only") << "115200" << true << 115200 << -1 << -1 << -1;
        QTest::newRow("blanks around fields")
            << " 9600 , E , 8 , 1 " << true << 9600 << int(Parity::Even) << 8 << int(StopBits::One);
        QTest::newRow("empty field keeps") << "9600,,8" << true << 9600 << -1 << 8 << -1;
        QTest::newRow("empty") << "" << false << 0 << 0 << 0 << 0;
        QTest::newRow("unknown baud") << "9601,E,8,1" << false << 0 << 0 << 0 << 0;
        QTest::newRow("bad parity") << "9600,X,8,1" << false << 0 << 0 << 0 << 0;
        QTest::newRow("data bits 9") << "9600,E,9,1" << false << 0 << 0 << 0 << 0;
        QTest::newRow("data bits 4") << "9600,E,4,1" << false << 0 << 0 << 0 << 0;
        QTest::newRow("stop 3") << "9600,E,8,3" << false << 0 << 0 << 0 << 0;
        QTest::newRow("1.5 needs 5 bits") << "9600,E,8,1.5" << false << 0 << 0 << 0 << 0;
        QTest::newRow("2 not with 5 bits") << "9600,E,5,2" << false << 0 << 0 << 0 << 0;
        QTest::newRow("five fields") << "9600,E,8,1,1" << false << 0 << 0 << 0 << 0;
        QTest::newRow("garbage") << "COM1" << false << 0 << 0 << 0 << 0;
    }

    // Parsing and the termios bits each field turns into.
    void modeStrings() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto mode = ParseModeString(text.toStdString());
        QCOMPARE(mode.has_value(), valid);
        if (!valid) return;
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, dataBits);
        QFETCH(int, stopBits);
        QCOMPARE(int(*mode->baud), baud);
        QCOMPARE(mode->parity ? int(*mode->parity) : -1, parity);
        QCOMPARE(mode->dataBits ? *mode->dataBits : -1, dataBits);
        QCOMPARE(mode->stopBits ? int(*mode->stopBits) : -1, stopBits);

        // Start from settings that differ from every field, so each named field must change.
        termios t{};
        t.c_cflag = CS5 | PARENB | PARODD | CMSPAR | CSTOPB;
        cfsetispeed(&t, B50);
        cfsetospeed(&t, B50);
        const termios before = t;
        ApplyLineMode(*mode, t);
        QCOMPARE(cfgetospeed(&t), SpeedConstant(baud));
        QCOMPARE(cfgetispeed(&t), SpeedConstant(baud));
        const tcflag_t parityBits = t.c_cflag & (PARENB | PARODD | CMSPAR);
        switch (parity) {
            case -1:
                QCOMPARE(parityBits, before.c_cflag & (PARENB | PARODD | CMSPAR));
                break;
            case int(Parity::None):
                QCOMPARE(parityBits, tcflag_t{0});
                break;
            case int(Parity::Even):
                QCOMPARE(parityBits, tcflag_t(PARENB));
                break;
            case int(Parity::Odd):
                QCOMPARE(parityBits, tcflag_t(PARENB | PARODD));
                break;
            case int(Parity::Mark):
                QCOMPARE(parityBits, tcflag_t(PARENB | PARODD | CMSPAR));
                break;
            case int(Parity::Space):
                QCOMPARE(parityBits, tcflag_t(PARENB | CMSPAR));
                break;
        }
        const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        QCOMPARE(t.c_cflag & CSIZE, dataBits < 0 ? tcflag_t(CS5) : sizes[dataBits - 5]);
        QCOMPARE(bool(t.c_cflag & CSTOPB), stopBits < 0 || stopBits != int(StopBits::One));
    }

    void portNames() {
        QTemporaryDir config;
        const ScopedEnv configHome("XDG_CONFIG_HOME", config.path().toStdString());
        const ScopedEnv com1("NORVA_COM1", std::nullopt);
        {
            const ScopedEnv com10("NORVA_COM10", std::nullopt);
            QCOMPARE(DeviceForPort("COM1")->path, std::string("/dev/ttyS0"));
            QCOMPARE(DeviceForPort("COM10")->path, std::string("/dev/ttyS9"));
        }
        for (const auto& [value, path] :
             {std::pair{"/dev/serial/by-id/usb-x", "/dev/serial/by-id/usb-x"},
              std::pair{"", "/dev/ttyS9"}}) {
            const ScopedEnv com10("NORVA_COM10", value);
            QCOMPARE(DeviceForPort("COM10")->path, std::string(path));
        }
        for (const char* bad : {"", "COM", "COM0", "COM01", "com1", "COM1 ", "LPT1", "COMx"}) {
            QVERIFY2(!DeviceForPort(bad).ok(), bad);
        }
    }

    // The environment over ports.conf over the default; the file's comments, blanks and bad
    // lines; a device given to a port keeps the file's other lines.
    void portsConfMapping() {
        QTemporaryDir config;
        const ScopedEnv configHome("XDG_CONFIG_HOME", config.path().toStdString());
        const std::string file = config.path().toStdString() + "/norva-protocol/ports.conf";
        QCOMPARE(PortsConfPath(), file);
        const std::string text =
            "# bench A\n\n  COM2 = /dev/serial/by-id/usb-A-if00-port0  \r\nCOM3=relative/x\n"
            "COM0=/dev/x\ncom4=/dev/x\nCOM5\n=/dev/x\nCOM6=\nCOM7=/dev/ttyUSB1\nCOM7=/dev/ttyUSB2";
        const std::map<unsigned, std::string> expected{{2, "/dev/serial/by-id/usb-A-if00-port0"},
                                                       {7, "/dev/ttyUSB2"}};
        QCOMPARE(ParsePortsConf(text).ports, expected);

        QVERIFY(AssignPortInPortsConf(7, "/dev/ttyACM0").ok());  // the folder is made
        QCOMPARE(ReadPortsConf()->ports, (std::map<unsigned, std::string>{{7, "/dev/ttyACM0"}}));
        std::ofstream(file) << text;
        QVERIFY(AssignPortInPortsConf(3, "/dev/ttyUSB0").ok());
        std::ifstream in(file);
        const std::string written((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
        QVERIFY2(written.rfind("# bench A\n\n  COM2 = /dev/serial/by-id/usb-A-if00-port0", 0) == 0,
                 written.c_str());
        QVERIFY(written.ends_with("COM3=/dev/ttyUSB0\n"));
        QVERIFY(written.find("COM3=relative/x\n") != std::string::npos);  // kept, still ignored

        const ScopedEnv com2("NORVA_COM2", "/dev/from-environment");
        const struct {
            const char* port;
            const char* path;
        } rows[] = {{"COM2", "/dev/from-environment"},
                    {"COM3", "/dev/ttyUSB0"},
                    {"COM7", "/dev/ttyUSB2"},
                    {"COM8", "/dev/ttyS7"}};
        for (const auto& row : rows)
            QCOMPARE(DeviceForPort(row.port)->path, std::string(row.path));
    }

    // Devices found in a device folder and a kernel tree made of real files: by-id first, then
    // ttyUSB, ttyACM, and only the ttyS ports with a UART; a USB adapter's names in the tooltip.
    void discoveryAndTooltips() {
        QTemporaryDir root;
        const std::string dev = root.path().toStdString() + "/dev";
        const std::string sys = root.path().toStdString() + "/sys";
        const auto file = [](const std::string& path, const std::string& text) {
            QDir().mkpath(QString::fromStdString(path.substr(0, path.rfind('/'))));
            std::ofstream(path) << text << "\n";
        };
        for (const char* node : {"ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "ttyprintk", "tty1"})
            file(dev + "/" + node, "");
        file(sys + "/class/tty/ttyS0/type", "4");
        file(sys + "/class/tty/ttyS1/type", "0");
        const std::string usb = sys + "/devices/pci0/usb1/1-2";
        file(usb + "/idVendor", "0403");
        file(usb + "/manufacturer", "FTDI");
        file(usb + "/product", "FT232R USB UART");
        file(usb + "/serial", "A50285BI");
        QDir().mkpath(QString::fromStdString(usb + "/1-2:1.0/ttyUSB0"));
        QDir().mkpath(QString::fromStdString(sys + "/class/tty/ttyUSB0"));
        (void)::symlink((usb + "/1-2:1.0/ttyUSB0").c_str(),
                        (sys + "/class/tty/ttyUSB0/device").c_str());
        QDir().mkpath(QString::fromStdString(dev + "/serial/by-id"));
        const std::string byId = dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
        (void)::symlink((dev + "/ttyUSB0").c_str(), byId.c_str());

        const DeviceRoots roots{dev, sys};
        QCOMPARE(
            PresentSerialDevices(roots),
            (std::vector<std::string>{byId, dev + "/ttyUSB0", dev + "/ttyACM0", dev + "/ttyS0"}));
        QCOMPARE(PortDescription("Com2", byId, roots),
                 "Com2 \u2192 " + byId + ", FTDI FT232R USB UART, serial A50285BI, present");
        QCOMPARE(PortDescription("Com3", dev + "/ttyACM0", roots),
                 "Com3 \u2192 " + dev + "/ttyACM0, present");
        QCOMPARE(PortDescription("Com4", dev + "/ttyUSB7", roots),
                 "Com4 \u2192 " + dev + "/ttyUSB7, not present");
    }

    // Open applies raw 9600 without flow control; the pty keeps the speed, so check it there.
    void openConfiguresAndCloseRestores() {
        PtyPair pty;
        QVERIFY(pty.ok());
        termios original{};
        ::tcgetattr(pty.slave(), &original);
        cfsetospeed(&original, B1200);
        cfsetispeed(&original, B1200);
        original.c_cflag |= HUPCL;
        original.c_iflag |= IXON;
        original.c_lflag |= ICANON | ECHO;
        ::tcsetattr(pty.slave(), TCSANOW, &original);

        MappedPort mapped(pty);
        PortHandle port;
        QCOMPARE(OpenComPort(&port, "COM7", "9600,E,8,1"), kOpened);
        QVERIFY(port.IsOpen());
        termios now{};
        ::tcgetattr(pty.slave(), &now);
        QCOMPARE(cfgetospeed(&now), speed_t(B9600));
        QVERIFY(!(now.c_lflag & (ICANON | ECHO | ISIG)));
        QVERIFY(!(now.c_iflag & (IXON | IXOFF | ICRNL)));
        QVERIFY(!(now.c_oflag & OPOST));
        QVERIFY(!(now.c_cflag & (HUPCL | CRTSCTS)));
        QVERIFY(now.c_cflag & CLOCAL);
        QVERIFY(now.c_cflag & CREAD);
        QCOMPARE(int(now.c_cc[VMIN]), 0);
        QCOMPARE(int(now.c_cc[VTIME]), 0);

        // Already open: 2, and the port is left alone.
        const int fd = port.fd();
        QCOMPARE(OpenComPort(&port, "COM7", "300,N,8,1"), kAlreadyOpen);
        QCOMPARE(port.fd(), fd);
        ::tcgetattr(pty.slave(), &now);
        QCOMPARE(cfgetospeed(&now), speed_t(B9600));

        CloseComPort(&port);
        QCOMPARE(port.state(), PortHandle::State::NotOpen);
        ::tcgetattr(pty.slave(), &now);
        QCOMPARE(cfgetospeed(&now), speed_t(B1200));
        QVERIFY(now.c_lflag & ICANON);
        QVERIFY(now.c_cflag & HUPCL);
    }

    // Line settings the terminal refuses (here: a background process changing its controlling
    // terminal, interrupted by SIGTTOU) still count as an open, with the reason as a warning.
    void refusedLineSettingsStillOpen() {
        PtyPair pty;
        ChildProcess leader([&](int report) {
            ::setsid();
            if (::ioctl(pty.slave(), TIOCSCTTY, 0) != 0) ::_exit(2);
            ChildProcess background([&](int) {
                ::setpgid(0, 0);
                struct sigaction interrupt {};
                interrupt.sa_handler = [](int) {};
                ::sigaction(SIGTTOU, &interrupt, nullptr);
                PortHandle port;
                const Result<OpenedPort> result = OpenDevice(&port, pty.slavePath(), "9600,E,8,1");
                ChildProcess::Tell(
                    report, result.ok() ? "opened " + result->warning : "failed " + result.text());
                ::signal(SIGTTOU, SIG_IGN);
                CloseComPort(&port);
            });
            ::close(report);
            const int status = background.Wait();
            ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 3);
        });
        const std::string text = leader.Report();
        QVERIFY(ChildProcess::ExitedWith(leader.Wait(), 0));
        QCOMPARE(text, "opened " + pty.slavePath() + ": line settings refused (" +
                           std::strerror(EINTR) + ")");

        // Even parity, which a pseudo-terminal does not keep, is no refusal there.
        PortHandle port;
        const Result<OpenedPort> plain = OpenDevice(&port, pty.slavePath(), "9600,E,8,1");
        QVERIFY2(plain.ok(), plain.text().c_str());
        QVERIFY2(plain->warning.empty(), plain->warning.c_str());
        CloseComPort(&port);
    }

    void rejectedModeStringStillOpens() {
        PtyPair pty;
        termios t{};
        ::tcgetattr(pty.slave(), &t);
        cfsetospeed(&t, B2400);
        cfsetispeed(&t, B2400);
        ::tcsetattr(pty.slave(), TCSANOW, &t);
        MappedPort mapped(pty);
        PortHandle port;
        QCOMPARE(OpenComPort(&port, "COM7", "fast please"), kOpened);
        ::tcgetattr(pty.slave(), &t);
        QCOMPARE(cfgetospeed(&t), speed_t(B2400));
        QVERIFY(!(t.c_lflag & ICANON));  // raw all the same
    }

    void failedOpenAndNotOpenHandles() {
        auto com7 = std::make_unique<ScopedEnv>("NORVA_COM7", "/nonexistent/tty");
        PortHandle port;
        QCOMPARE(OpenComPort(&port, "COM7", "9600,E,8,1"), kOpenFailed);
        QCOMPARE(port.state(), PortHandle::State::Failed);
        QVERIFY(!SendByte(&port, 0x0C));
        QCOMPARE(InputQueueCount(&port), 0);
        std::uint8_t buffer[8];
        QCOMPARE(ReadBlock(&port, buffer, sizeof buffer), std::size_t{0});
        CloseComPort(&port);
        QCOMPARE(port.state(), PortHandle::State::Failed);
        ReleaseComPort(&port);
        QCOMPARE(port.state(), PortHandle::State::NotOpen);

        // Not a terminal at all.
        com7.reset();
        com7 = std::make_unique<ScopedEnv>("NORVA_COM7", "/dev/null");
        QCOMPARE(OpenComPort(&port, "COM7", "9600,E,8,1"), kOpenFailed);
        com7.reset();
        QCOMPARE(OpenComPort(&port, "COM99x", "9600,E,8,1"), kOpenFailed);
    }

    // The lock makes the open exclusive even for root, within the process and across processes.
    void secondOpenOfSameDeviceFails() {
        PtyPair pty;
        MappedPort mapped(pty);
        QTemporaryDir locks;
        const std::vector<std::string> folders = UucpLockFolders();
        UucpLockFolders() = {locks.path().toStdString()};
        const QString lock =
            locks.path() + "/" + QString::fromStdString(LockFileName(pty.slavePath()));
        PortHandle first;
        PortHandle second;
        QCOMPARE(OpenComPort(&first, "COM7", "9600,E,8,1"), kOpened);
        QCOMPARE(OpenComPort(&second, "COM7", "9600,E,8,1"), kOpenFailed);
        QVERIFY(QFile::exists(lock));  // the refused handle leaves the holder's lock alone
        ChildProcess other([](int) {
            PortHandle port;
            ::_exit(OpenComPort(&port, "COM7", "9600,E,8,1"));
        });
        QVERIFY(ChildProcess::ExitedWith(other.Wait(), kOpenFailed));
        ReleaseComPort(&first);
        QVERIFY(!QFile::exists(lock));
        QCOMPARE(OpenComPort(&second, "COM7", "9600,E,8,1"), kOpened);
        QVERIFY(QFile::exists(lock));
        UucpLockFolders() = folders;
    }

    // With standard input closed the port may get descriptor 0; it is still an open port.
    void descriptorZeroIsAnOpenPort() {
        PtyPair pty;
        MappedPort mapped(pty);
        const int savedStdin = ::dup(0);
        ::close(0);
        PortHandle port;
        const int result = OpenComPort(&port, "COM7", "9600,E,8,1");
        const int fd = port.fd();
        const bool sent = SendByte(&port, 0x5A);
        CloseComPort(&port);
        const bool zeroClosed = ::fcntl(0, F_GETFD) < 0;
        ::dup2(savedStdin, 0);
        ::close(savedStdin);
        QCOMPARE(result, kOpened);
        QCOMPARE(fd, 0);
        QVERIFY(sent);
        QVERIFY(zeroClosed);
        QCOMPARE(pty.ReadCount(1, 1000), Bytes{0x5A});
    }

    void sendFromTwoThreadsKeepsWholeBytes() {
        PtyPair pty;
        MappedPort mapped(pty);
        PortHandle port;
        QCOMPARE(OpenComPort(&port, "COM7", "9600,E,8,1"), kOpened);
        constexpr int kEach = 2000;
        Bytes received;
        std::thread reader([&] { received = pty.ReadCount(2 * kEach, 10000); });
        std::thread a([&] {
            for (int i = 0; i < kEach; ++i)
                SendByte(&port, 0xAA);
        });
        std::thread b([&] {
            for (int i = 0; i < kEach; ++i)
                SendByte(&port, 0x55);
        });
        a.join();
        b.join();
        reader.join();
        QCOMPARE(received.size(), std::size_t{2 * kEach});
        QCOMPARE(std::count(received.begin(), received.end(), 0xAA), kEach);
        QCOMPARE(std::count(received.begin(), received.end(), 0x55), kEach);
    }

    void inputQueueCount() {
        PtyPair pty;
        MappedPort mapped(pty);
        PortHandle port;
        QCOMPARE(OpenComPort(&port, "COM7", "9600,E,8,1"), kOpened);
        QCOMPARE(InputQueueCount(&port), 0);
        pty.Write({1, 2, 3, 4, 5});
        QTRY_COMPARE(InputQueueCount(&port), 5);
    }

    // 30 ms gaps stay in one block; an 80 ms gap ends it. A trial whose writer was itself
    // delayed past the boundary by a busy machine proves nothing and is repeated.
    void blockReadJoinsShortGapsAndEndsAtQuiet() {
        PtyPair pty;
        MappedPort mapped(pty);
        PortHandle port;
        QCOMPARE(OpenComPort(&port, "COM7", "9600,E,8,1"), kOpened);
        const Bytes burst{0x81, 0x8F, 0x40, 0x10, 0x11, 0x20};
        bool measured = false;
        for (const auto giveUp = Clock::now() + std::chrono::seconds(20);
             !measured && Clock::now() < giveUp;) {
            const Burst got = ReadWhileWriting(pty, port, burst, 30);
            if (got.worstGapMs >= 45) {
                pty.ReadUntilQuiet(0);
                while (InputQueueCount(&port) > 0) {
                    std::uint8_t drain[64];
                    ReadBlock(&port, drain, sizeof drain);
                }
                continue;
            }
            QCOMPARE(got.received, burst);
            measured = true;
        }
        QVERIFY2(measured, "the machine never produced 30 ms gaps");

        // The read ends once the line has been quiet for 50 ms, not waiting for more; what comes
        // after is the next read's.
        pty.Write({0x10, 0x11});
        const auto started = Clock::now();
        std::uint8_t buffer[4999];
        const std::size_t first = ReadBlock(&port, buffer, sizeof buffer);
        QVERIFY(ElapsedMs(started) >= 50);
        QCOMPARE(Bytes(buffer, buffer + first), (Bytes{0x10, 0x11}));
        pty.Write({0x20});
        const std::size_t second = ReadBlock(&port, buffer, sizeof buffer);
        QCOMPARE(Bytes(buffer, buffer + second), Bytes{0x20});
    }

    void blockReadCapsAtRequestedCount() {
        PtyPair pty;
        MappedPort mapped(pty);
        PortHandle port;
        QCOMPARE(OpenComPort(&port, "COM7", "9600,E,8,1"), kOpened);
        Bytes flood(6000);
        for (std::size_t i = 0; i < flood.size(); ++i)
            flood[i] = std::uint8_t(i * 7);
        std::thread writer([&] { pty.Write(flood); });
        static std::uint8_t buffer[4999];
        const std::size_t first = ReadBlock(&port, buffer, sizeof buffer);
        Bytes all(buffer, buffer + first);
        const std::size_t second = ReadBlock(&port, buffer, sizeof buffer);
        writer.join();
        all.insert(all.end(), buffer, buffer + second);
        QCOMPARE(first, std::size_t{4999});
        QCOMPARE(second, std::size_t{1001});
        QCOMPARE(all, flood);
    }

    // A pulled cable ends a read at once, and later reads return nothing without waiting.
    void hangUpEndsReads() {
        PtyPair pty;
        MappedPort mapped(pty);
        PortHandle port;
        QCOMPARE(OpenComPort(&port, "COM7", "9600,E,8,1"), kOpened);
        pty.CloseSlave();
        pty.Write({0x10});
        pty.CloseMaster();
        std::uint8_t buffer[16];
        const std::size_t n = ReadBlock(&port, buffer, sizeof buffer);
        QVERIFY(n <= 1);
        const auto start = Clock::now();
        for (int i = 0; i < 100; ++i)
            QCOMPARE(ReadBlock(&port, buffer, sizeof buffer), std::size_t{0});
        QVERIFY2(ElapsedMs(start) < 2000, "reads after a hang-up must not wait out the quiet time");
        QVERIFY(!SendByte(&port, 0x0C));
        CloseComPort(&port);
        QCOMPARE(port.state(), PortHandle::State::NotOpen);
    }
};

QTEST_GUILESS_MAIN(SerialPortTest)
#include "tst_serial_port.moc"
