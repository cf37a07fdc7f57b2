// The tap on a Y-cable of pseudo-terminals while the bench's own link is the host: the tap's log
// is the host's own log line for line, its capture holds the host's bytes at the host's times,
// and it writes nothing.
#include <poll.h>

#include <QTest>
#include <QTimer>
#include <random>
#include <thread>

#include "link/acceptor_link.h"
#include "link/tap.h"
#include "protocol/shared_state.h"
#include "pty_pair.h"
#include "recording_window.h"
#include "tools/norva-cli/tap_session.h"

using namespace norva;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr char kMode[] = "9600,E,8,1";

// Every event as the capture keeps it.
struct Evidence : TrafficSink {
    struct Event {
        bool received;
        std::int64_t time;
        Bytes bytes;
    };
    void PortOpened(std::int64_t, const PortIdentity&) override {}
    void Received(std::int64_t t, std::span<const std::uint8_t> b) override {
        events.push_back({true, t, {b.begin(), b.end()}});
    }
    void Sent(std::int64_t t, std::uint8_t byte) override { events.push_back({false, t, {byte}}); }
    std::vector<Event> events;
};

// The acceptor's end of the host's line, with a copy of each direction on the tap's lines: it
// plays the blocks of a script at their times and copies whatever the host writes.
class YCable {
public:
    YCable(PtyPair& line, PtyPair& tapHost, PtyPair& tapDevice,
           std::vector<std::pair<int, Bytes>> script)
        : thread_([&, script = std::move(script)] {
              auto due = std::chrono::steady_clock::now();
              std::size_t next = 0;
              while (!stop_) {
                  if (next < script.size() && std::chrono::steady_clock::now() >= due) {
                      tapDevice.Write(script[next].second);
                      line.Write(script[next].second);
                      if (++next < script.size())
                          due += std::chrono::milliseconds(script[next].first);
                  }
                  pollfd p{line.master(), POLLIN, 0};
                  if (::poll(&p, 1, 2) == 1 && (p.revents & POLLIN)) {
                      std::uint8_t buffer[256];
                      const ssize_t n = ::read(line.master(), buffer, sizeof buffer);
                      if (n > 0) tapHost.Write(Bytes(buffer, buffer + n));
                  }
                  done_ = next == script.size();
              }
          }) {}
    ~YCable() {
        stop_ = true;
        thread_.join();
    }
    bool done() const { return done_; }

private:
    std::atomic<bool> stop_{false}, done_{false};
    std::thread thread_;
};

std::string Unmarked(std::string line, bool* marked = nullptr) {
    const std::string_view marker = cli::kOrderUncertainMarker;
    const bool has = line.size() >= marker.size() && line.ends_with(marker);
    if (has) line.resize(line.size() - marker.size());
    if (marked) *marked = has;
    return line;
}

// Equal, but for the order within each run of lines marked as of uncertain order.
bool SameButMarkedRuns(const std::vector<std::string>& host, const std::vector<std::string>& tap) {
    if (host.size() != tap.size()) return false;
    for (std::size_t i = 0; i < tap.size();) {
        bool marked = false;
        std::size_t end = i;
        std::vector<std::string> run;
        while (end < tap.size() && (run.push_back(Unmarked(tap[end], &marked)), marked))
            ++end;
        if (end == i) {
            if (run.back() != host[i]) return false;
            ++i;
            continue;
        }
        run.pop_back();
        std::vector<std::string> theirs(host.begin() + i, host.begin() + end);
        std::sort(run.begin(), run.end());
        std::sort(theirs.begin(), theirs.end());
        if (run != theirs) return false;
        i = end;
    }
    return true;
}

}  // namespace

class TapTest : public QObject {
    Q_OBJECT

private slots:
    void tapHearsWhatTheHostHandled() {
        PtyPair line, tapHost, tapDevice;
        RecordingWindow window;
        window.escrowSetting = 1;  // the host's rules decide every note
        ResetSharedState();
        AcceptorLink host(window);
        Evidence hostEvidence, tapEvidence;
        host.AddTrafficSink(&hostEvidence);
        QCOMPARE(host.OpenDirect("", line.slavePath()).kind, SelectionOutcome::Kind::Opened);
        QTimer polls;
        QObject::connect(&polls, &QTimer::timeout, [&] { host.Commands().Poll(); });
        polls.start(170);

        std::vector<std::string> tapLines, comments;
        cli::TapSession::Setup setup;
        setup.printLine = [&](std::string_view l) {
            tapLines.emplace_back(l.substr(0, l.size() - 1));
        };
        setup.printNotice = [](std::string_view) {};
        setup.host = {"", tapHost.slavePath(), kMode};
        setup.device = {"", tapDevice.slavePath(), kMode};
        cli::TapSession session(setup);
        session.SetCapture(&tapEvidence, [&](std::string_view c) { comments.emplace_back(c); });
        TapLink tap(session);
        QVERIFY(tap.Open(setup.host, setup.device).ok());
        session.Start(UnixMicrosNow(), tap.boundMicros());

        const Bytes kBlocks[] = {
            {0x80, 0x8F}, {0x81, 0x8F, 0x40}, {0x10}, {0x81, 0x8F, 0x43}, {0x11}, {0xA1},
            {0x21},       {0x3E, 0x0A}};
        std::mt19937 random(19);
        std::vector<std::pair<int, Bytes>> script;
        for (int i = 0; i < 30; ++i)
            script.push_back({60 + int(random() % 200), kBlocks[random() % std::size(kBlocks)]});
        {
            YCable cable(line, tapHost, tapDevice, script);
            QTRY_VERIFY_WITH_TIMEOUT(cable.done(), 20000);
            QTest::qWait(300);
        }
        polls.stop();
        host.Close();
        QTest::qWait(100);
        tap.Close();

        QVERIFY(window.log.size() > 40);
        const auto joined = [](const std::vector<std::string>& lines) {
            std::string text;
            for (const std::string& l : lines)
                text += l + "|";
            return text;
        };
        QVERIFY2(SameButMarkedRuns(window.log, tapLines),
                 (joined(window.log) + "\n" + joined(tapLines)).c_str());
        QVERIFY(comments.front().starts_with("tap host " + tapHost.slavePath()));

        // The same bytes in the same events, each within a few milliseconds of the host's time.
        QCOMPARE(tapEvidence.events.size(), hostEvidence.events.size());
        std::int64_t worst = 0;
        for (std::size_t i = 0; i < hostEvidence.events.size(); ++i) {
            const auto& h = hostEvidence.events[i];
            const auto& t = tapEvidence.events[i];
            QCOMPARE(t.received, h.received);
            QCOMPARE(t.bytes, h.bytes);
            worst = std::max(worst, std::abs(t.time - h.time));
        }
        qInfo("largest time apart: %.3f ms", worst / 1000.0);
        QVERIFY(worst < 30'000);
        QCOMPARE(tapHost.ReadUntilQuiet(0), Bytes{});
        QCOMPARE(tapDevice.ReadUntilQuiet(0), Bytes{});
    }
};

QTEST_GUILESS_MAIN(TapTest)
#include "tst_tap.moc"
