// The simulator's protocol behaviour, driven in-process: the device on the master of a real
// pseudo-terminal, the test playing the bench tool on its slave and typing on a pipe.
#include <fcntl.h>
#include <unistd.h>

#include <QTest>
#include <optional>

#include "host_end.h"
#include "pty_pair.h"
#include "tools/acceptor-sim/serial_line.h"
#include "tools/acceptor-sim/simulator.h"

using namespace norva::sim;

namespace {

class Bench {
public:
    explicit Bench(std::optional<double> soakRate = std::nullopt, std::uint32_t seed = 0,
                   std::optional<std::chrono::milliseconds> escrowTimeout = std::nullopt) {
        ok_ = pty_.ok() && ::pipe2(in_, O_CLOEXEC) == 0 && ::pipe2(out_, O_CLOEXEC) == 0 &&
              ::pipe2(err_, O_CLOEXEC) == 0 &&
              ::fcntl(pty_.master(), F_SETFL, ::fcntl(pty_.master(), F_GETFL) | O_NONBLOCK) == 0;
        host_ = pty_.slave();
        SimulatorSetup setup;
        setup.lineFd = pty_.master();
        setup.inputFd = in_[0];
        setup.outFd = out_[1];
        setup.errFd = err_[1];
        setup.soakRate = soakRate;
        setup.seed = seed;
        setup.escrowTimeout = escrowTimeout;
        sim_.emplace(std::move(setup));
        sim_->Start();
    }
    ~Bench() {
        for (int fd : {in_[0], in_[1], out_[0], out_[1], err_[0], err_[1]}) {
            if (fd >= 0) ::close(fd);
        }
        if (host_ != pty_.slave() && host_ >= 0) ::close(host_);
    }

    bool ok() const { return ok_; }
    Simulator& sim() { return *sim_; }
    const std::string& err() const { return errText_; }

    void Type(const std::string& line) {
        const std::string text = line + "\n";
        WriteBytes(in_[1], Bytes(text.begin(), text.end()));
    }
    void Send(const Bytes& bytes) { WriteBytes(host_, bytes); }

    Simulator::StepResult Pump(int waitMs = 10) {
        const auto result = sim_->Step(waitMs);
        const Bytes out = ReadAvailable(out_[0]);
        outText_.append(out.begin(), out.end());
        const Bytes err = ReadAvailable(err_[0]);
        errText_.append(err.begin(), err.end());
        const Bytes host = host_ >= 0 ? ReadAvailable(host_) : Bytes{};
        received_.insert(received_.end(), host.begin(), host.end());
        return result;
    }

    // The next count bytes the host end receives.
    Bytes Receive(std::size_t count) {
        Until([&] { return received_.size() >= count; });
        const std::size_t n = std::min(count, received_.size());
        Bytes first(received_.begin(), received_.begin() + static_cast<long>(n));
        received_.erase(received_.begin(), received_.begin() + static_cast<long>(n));
        return first;
    }

    // The answer to a poll; anything the device sent before it comes first and shows up here.
    Bytes Poll() {
        Send({0x0C});
        return Receive(1);
    }

    // Waits for text on standard error after what earlier waits have already matched.
    bool WaitErr(const std::string& text) { return WaitFor(errText_, errMark_, text); }
    bool WaitOut(const std::string& text) { return WaitFor(outText_, outMark_, text); }

    void Enable() {
        Send({0x5E});
        QVERIFY(WaitErr("enabled by the host"));
    }

    // The host end goes away and comes back, as the bench tool closing and reopening its port.
    void HangUp() {
        if (host_ == pty_.slave())
            pty_.CloseSlave();
        else
            ::close(host_);
        host_ = -1;
    }
    void Reopen() { host_ = OpenHostEnd(pty_.slavePath()); }

    template <typename Predicate>
    bool Until(Predicate done) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            Pump();
        }
        return true;
    }

private:
    bool WaitFor(const std::string& text, std::size_t& mark, const std::string& wanted) {
        std::size_t at = std::string::npos;
        Until([&] { return (at = text.find(wanted, mark)) != std::string::npos; });
        if (at == std::string::npos) return false;
        mark = at + wanted.size();
        return true;
    }

    PtyPair pty_;
    int in_[2] = {-1, -1}, out_[2] = {-1, -1}, err_[2] = {-1, -1};
    int host_ = -1;
    bool ok_ = false;
    std::optional<Simulator> sim_;
    std::string outText_, errText_;
    std::size_t outMark_ = 0, errMark_ = 0;
    Bytes received_;
};

const Bytes kPowerUp{0x80, 0x8F};

}  // namespace

class SimDeviceTest : public QObject {
    Q_OBJECT

private slots:
    void powerUpAtStartAndAfterReset() {
        Bench b;
        QVERIFY(b.ok());
        QCOMPARE(b.Receive(2), kPowerUp);
        b.Send({0x02});  // the host's acknowledgement has no answer
        QCOMPARE(b.Poll(), Bytes{0x3E});

        b.Enable();
        b.Type("insert 4");
        QCOMPARE(b.Receive(3), (Bytes{0x81, 0x8F, 0x43}));
        b.Send({0x30});
        QCOMPARE(b.Receive(2), kPowerUp);
        QVERIFY(b.WaitErr("note on channel 4 handed back"));
        // The reset emptied the escrow and left the acceptor disabled.
        QCOMPARE(b.Poll(), Bytes{0x3E});
        b.Send({0x02});
        QCOMPARE(b.Poll(), Bytes{0x3E});

        b.Type("powerup");
        QCOMPARE(b.Receive(2), kPowerUp);
    }

    void pollAnsweredWithTheStateCode() {
        Bench b;
        QCOMPARE(b.Receive(2), kPowerUp);
        QCOMPARE(b.Poll(), Bytes{0x3E});
        b.Enable();
        QCOMPARE(b.Poll(), Bytes{0x5E});
        b.Type("insert 7");
        QCOMPARE(b.Receive(3), (Bytes{0x81, 0x8F, 0x46}));
        QCOMPARE(b.Poll(), Bytes{0x71});
        b.Send({0x02});
        QCOMPARE(b.Receive(1), Bytes{0x10});
        QCOMPARE(b.Poll(), Bytes{0x5E});
        b.Send({0x3E});
        QCOMPARE(b.Poll(), Bytes{0x3E});
        QVERIFY(b.WaitOut("<< 0C"));
        QVERIFY(b.WaitOut(">> 3E"));
    }

    void enableAndDisableHonoured() {
        Bench b;
        QCOMPARE(b.Receive(2), kPowerUp);
        b.Type("insert 2");
        QVERIFY(b.WaitErr("!! insert refused: the acceptor is disabled"));
        QCOMPARE(b.Poll(), Bytes{0x3E});  // and no escrow message before it

        b.Enable();
        b.Type("insert 16");
        QCOMPARE(b.Receive(3), (Bytes{0x81, 0x8F, 0x4F}));
        // Disabling does not swallow the note already in escrow.
        b.Send({0x3E});
        QVERIFY(b.WaitErr("disabled by the host"));
        b.Send({0x0F});
        QCOMPARE(b.Receive(1), Bytes{0x11});
        b.Type("insert 1");
        QVERIFY(b.WaitErr("insert refused"));
        QCOMPARE(b.Poll(), Bytes{0x3E});
    }

    void escrowStackedAndReturned() {
        Bench b;
        QCOMPARE(b.Receive(2), kPowerUp);
        b.Enable();
        b.Type("insert 1");
        QCOMPARE(b.Receive(3), (Bytes{0x81, 0x8F, 0x40}));
        b.Type("insert 2");
        QVERIFY(b.WaitErr("insert refused: note on channel 1 is still in escrow"));
        QCOMPARE(b.Poll(), Bytes{0x71});
        b.Send({0x02});
        QCOMPARE(b.Receive(1), Bytes{0x10});
        QVERIFY(b.WaitErr("note on channel 1 stacked"));

        b.Type("insert 5");
        QCOMPARE(b.Receive(3), (Bytes{0x81, 0x8F, 0x44}));
        b.Send({0x0F});
        QCOMPARE(b.Receive(1), Bytes{0x11});
        QVERIFY(b.WaitErr("note on channel 5 returned"));

        // Outside escrow neither has anything to act on.
        b.Send({0x02, 0x0F, 0x02});
        QCOMPARE(b.Poll(), Bytes{0x5E});
        QVERIFY(!b.sim().acceptor().escrow());
    }

    // A note the host leaves in escrow goes back by itself; one decided in time stays decided.
    void escrowTimeoutHandsTheNoteBack() {
        using std::chrono::steady_clock;
        Bench b(std::nullopt, 0, std::chrono::milliseconds(300));
        QCOMPARE(b.Receive(2), kPowerUp);
        b.Enable();
        b.Type("insert 6");
        QCOMPARE(b.Receive(3), (Bytes{0x81, 0x8F, 0x45}));
        const auto held = steady_clock::now();
        QCOMPARE(b.Receive(1), Bytes{0x11});
        QVERIFY(steady_clock::now() - held >= std::chrono::milliseconds(250));
        QVERIFY(b.WaitErr("note on channel 6 handed back: left in escrow longer than 0.3 s"));
        QCOMPARE(b.Poll(), Bytes{0x5E});

        b.Type("insert 2");
        QCOMPARE(b.Receive(3), (Bytes{0x81, 0x8F, 0x41}));
        b.Send({0x02});
        QCOMPARE(b.Receive(1), Bytes{0x10});
        const auto past = steady_clock::now() + std::chrono::milliseconds(600);
        b.Until([&] { return steady_clock::now() > past; });
        QCOMPARE(b.Poll(), Bytes{0x5E});  // and no 11 before it
    }

    void quietIgnoresTheHostUntilTalk() {
        Bench b;
        QCOMPARE(b.Receive(2), kPowerUp);
        b.Type("quiet");
        QVERIFY(b.WaitErr("quiet"));
        b.Send({0x5E});
        QVERIFY(b.WaitOut("<< 5E"));  // still read and shown
        b.Send({0x0C});
        QVERIFY(b.WaitOut("<< 0C"));
        b.Type("insert 3");
        QVERIFY(b.WaitErr("insert refused: the device is quiet"));
        b.Type("raw 2F");  // the person's own bytes still go out
        QCOMPARE(b.Receive(1), Bytes{0x2F});

        b.Type("talk");
        QVERIFY(b.WaitErr("talking to the host again"));
        // The poll while quiet went unanswered and the enable was not acted on.
        QCOMPARE(b.Poll(), Bytes{0x3E});
    }

    void rawGoesOutAsGivenInOneWrite() {
        Bench b;
        QCOMPARE(b.Receive(2), kPowerUp);
        b.Type("raw 81 8f 0x4A 00 FF 7");
        QCOMPARE(b.Receive(6), (Bytes{0x81, 0x8F, 0x4A, 0x00, 0xFF, 0x07}));
        QVERIFY(b.WaitOut(">> 81 8F 4A 00 FF 07\n"));
        // raw changes nothing in the device's own state
        QCOMPARE(b.Poll(), Bytes{0x3E});
    }

    void statusPinsThePollAnswer() {
        Bench b;
        QCOMPARE(b.Receive(2), kPowerUp);
        b.Type("status 24");
        QVERIFY(b.WaitErr("polls answered with 24"));
        QCOMPARE(b.Poll(), Bytes{0x24});
        b.Enable();
        QCOMPARE(b.Poll(), Bytes{0x24});
        b.Send({0x30});  // a fault outlives a reset
        QCOMPARE(b.Receive(2), kPowerUp);
        QCOMPARE(b.Poll(), Bytes{0x24});
        b.Type("status 2A");
        QVERIFY(b.WaitErr("'2A' is not a status code"));
        QCOMPARE(b.Poll(), Bytes{0x24});
        b.Type("status auto");
        QVERIFY(b.WaitErr("polls answered by state again (3E)"));
        QCOMPARE(b.Poll(), Bytes{0x3E});
    }

    // With no slave open at all the master reports a hang-up without end; it must be waited
    // out, not spun on, and the device must answer again once a host is back.
    void hostHangUpWaitedOut() {
        Bench b;
        QCOMPARE(b.Receive(2), kPowerUp);
        b.HangUp();
        QVERIFY(b.WaitErr("the host side hung up"));
        int idle = 0;
        for (int i = 0; i < 20; ++i) {
            if (b.Pump(50) == Simulator::StepResult::Idle) ++idle;
        }
        QVERIFY(idle > 0);
        QVERIFY(b.err().find("hung up", b.err().find("hung up") + 1) == std::string::npos);

        b.Reopen();
        QCOMPARE(b.Poll(), Bytes{0x3E});
    }

    // What --device puts on a real port; a pseudo-terminal cannot hold parity, so it is checked
    // on the settings themselves.
    void deviceLineSettings() {
        termios t{};
        t.c_cflag = CS5 | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL;
        t.c_iflag = IXON | IXOFF | ICRNL | INPCK;
        t.c_lflag = ICANON | ECHO | ISIG;
        t.c_oflag = OPOST;
        cfsetispeed(&t, B115200);
        cfsetospeed(&t, B115200);
        ConfigureDeviceLine(t);
        QCOMPARE(cfgetispeed(&t), speed_t(B9600));
        QCOMPARE(cfgetospeed(&t), speed_t(B9600));
        QCOMPARE(t.c_cflag &
                     (PARENB | PARODD | CMSPAR | CSIZE | CSTOPB | CRTSCTS | HUPCL | CLOCAL | CREAD),
                 tcflag_t(PARENB | CS8 | CLOCAL | CREAD));
        QCOMPARE(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL), tcflag_t(0));
        QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
        QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
    }

    void soakRepeatsWithTheSameSeed() {
        const auto notes = [](std::uint32_t seed) {
            Bench b(200.0, seed);
            std::vector<int> channels;
            if (b.Receive(2) != kPowerUp) return channels;
            b.Enable();
            for (int i = 0; i < 8; ++i) {
                const Bytes escrow = b.Receive(3);
                if (escrow.size() != 3 || escrow[0] != 0x81 || escrow[1] != 0x8F ||
                    (escrow[2] & 0xF0) != 0x40) {
                    break;
                }
                channels.push_back((escrow[2] & 0x0F) + 1);
                b.Send({0x02});
                if (b.Receive(1) != Bytes{0x10}) break;
            }
            return channels;
        };
        const auto first = notes(7);
        QCOMPARE(first.size(), std::size_t(8));
        QCOMPARE(notes(7), first);
        QVERIFY(notes(8) != first);
    }
};

QTEST_GUILESS_MAIN(SimDeviceTest)
#include "tst_sim_device.moc"
