#include <poll.h>

#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "link/block_inbox.h"
#include "process_cpu.h"
#include "pty_pair.h"
#include "scoped_env.h"
#include "serial/com_port.h"
#include "serial/rs232.h"

using namespace norva;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

bool Readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}

// A port on a pty, a receive thread on it, and what the thread handed over.
struct Receiver {
    explicit Receiver(const PtyPair& pty) {
        const ScopedEnv mapping("NORVA_COM5", pty.slavePath());
        opened = OpenComPort(&port, "COM5", "9600,E,8,1");
    }
    void Start() {
        thread = std::make_unique<RS232>(port, [this](const ReceivePass& pass) {
            ++calls;
            ReceiveBlock(pass, inbox);
        });
    }
    std::vector<Bytes> Taken() {
        for (auto& b : inbox.TakeAll())
            blocks.push_back(std::move(b.bytes));
        return blocks;
    }
    PortHandle port;
    int opened = 0;
    BlockInbox inbox;
    std::atomic<int> calls{0};
    std::vector<Bytes> blocks;
    std::unique_ptr<RS232> thread;
};

}  // namespace

class ReceiveThreadTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QCOMPARE(RS232::LiveCount(), 0); }

    // Silent port: the thread sleeps. A spinning loop would use the whole interval.
    void idleThreadSleeps() {
        PtyPair pty;
        Receiver r(pty);
        QCOMPARE(r.opened, kOpened);
        r.Start();
        QCOMPARE(RS232::LiveCount(), 1);
        const double before = ProcessCpuMs();
        std::this_thread::sleep_for(400ms);
        QVERIFY2(ProcessCpuMs() - before < 200, "the receive thread burns the processor");
        QCOMPARE(r.calls.load(), 0);
        QVERIFY(!r.thread->StopRequested());
    }

    // Bursts become blocks in order of arrival, each waking the taker.
    void burstsBecomeBlocksInOrder() {
        PtyPair pty;
        Receiver r(pty);
        r.Start();
        pty.Write({0x81, 0x8F, 0x40});
        QVERIFY(Readable(r.inbox.wakeDescriptor(), 5000));
        QTRY_COMPARE(r.Taken().size(), std::size_t{1});
        QVERIFY(!Readable(r.inbox.wakeDescriptor(), 0));
        pty.Write({0x10});
        QTRY_COMPARE(r.Taken().size(), std::size_t{2});
        QCOMPARE(r.blocks[0], (Bytes{0x81, 0x8F, 0x40}));
        QCOMPARE(r.blocks[1], Bytes{0x10});
    }

    // The device vanishes under a running thread: it stays alive, calls nothing, costs nothing.
    void hangUpLeavesThreadIdle() {
        PtyPair pty;
        Receiver r(pty);
        r.Start();
        pty.Write({0x20});
        QTRY_COMPARE(r.Taken().size(), std::size_t{1});
        pty.CloseSlave();
        pty.CloseMaster();
        std::this_thread::sleep_for(100ms);
        const int callsAfterHangUp = r.calls;
        const double before = ProcessCpuMs();
        std::this_thread::sleep_for(600ms);
        QVERIFY2(ProcessCpuMs() - before < 300, "a vanished device makes the thread spin");
        QVERIFY(r.calls - callsAfterHangUp <= 1);
        QCOMPARE(r.Taken().size(), std::size_t{1});
        QCOMPARE(RS232::LiveCount(), 1);
        r.thread.reset();
        QCOMPARE(RS232::LiveCount(), 0);
    }

    // A stop requested while the engine side is busy lets that call finish, then the thread
    // ends; destruction waits for it.
    void stopWaitsForCurrentCall() {
        PtyPair pty;
        Receiver r(pty);
        std::atomic<bool> inCall{false};
        std::atomic<bool> finished{false};
        r.thread = std::make_unique<RS232>(r.port, [&](const ReceivePass&) {
            inCall = true;
            std::this_thread::sleep_for(200ms);
            finished = true;
        });
        pty.Write({0x20});
        QTRY_VERIFY(inCall.load());
        r.thread->RequestStop();
        r.thread.reset();
        QVERIFY(finished.load());
    }

    // A window thread that lags holds the reader back instead of growing without bound, and a
    // stop still gets through; nothing that was read is lost.
    void backPressureAndStop() {
        PtyPair pty;
        BlockInbox inbox(4);
        PortHandle port;
        {
            const ScopedEnv mapping("NORVA_COM5", pty.slavePath());
            QCOMPARE(OpenComPort(&port, "COM5", "9600,E,8,1"), kOpened);
        }
        auto thread = std::make_unique<RS232>(
            port, [&](const ReceivePass& pass) { ReceiveBlock(pass, inbox); });
        pty.Write({1, 2, 3, 4, 5});
        std::this_thread::sleep_for(150ms);
        pty.Write({6});
        std::this_thread::sleep_for(150ms);
        pty.Write({7});  // the reader is now held back by the full inbox
        std::this_thread::sleep_for(150ms);
        thread.reset();  // must not hang
        Bytes all;
        for (const auto& b : inbox.TakeAll())
            all.insert(all.end(), b.bytes.begin(), b.bytes.end());
        // What was read is all there; what was not read is still in the driver.
        std::uint8_t rest[16];
        const std::size_t n = ReadBlock(&port, rest, sizeof rest);
        all.insert(all.end(), rest, rest + n);
        QCOMPARE(all, (Bytes{1, 2, 3, 4, 5, 6, 7}));
    }
};

QTEST_GUILESS_MAIN(ReceiveThreadTest)
#include "tst_receive_thread.moc"
