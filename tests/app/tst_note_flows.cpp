#include <unistd.h>

#include <QTest>
#include <random>
#include <thread>

#include "app/startup.h"
#include "port_fixture.h"
#include "protocol/shared_state.h"
#include "protocol_tables.h"
#include "serial/com_port.h"
#include "temp_cwd.h"
#include "windows_fixture.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

QString Text(std::string_view caption) {
    return QString::fromLatin1(caption.data(), qsizetype(caption.size()));
}

}  // namespace

// Whole notes from slot to stacker: the test plays the acceptor on a pseudo-terminal, the real
// receive thread and engine answer, and the operator clicks the real buttons.
class NoteFlowsTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        // What a failed init left: cleanup does not run after one.
        bench_.reset();
        bench_ = std::make_unique<WindowsOnDevice>("100\r\n200\r\n500\r\n1000\r\n");
        QVERIFY2(bench_->ready(), qPrintable(bench_->why()));
        pty_ = &bench_->device();
    }
    void cleanup() { bench_.reset(); }

    void escrowAcceptStackAndPolling() {
        Form1->Timer1->start(20);
        QVERIFY(DeviceReceives(*pty_, 0x0C));  // polling from the start
        Device({0x81, 0x8F, 0x40});
        QTRY_VERIFY(Form1->BitBtn6->isEnabled());
        QVERIFY(Form1->BitBtn7->isEnabled());
        QCOMPARE(Form1->DigitsPanel2->Value(), 100);
        pty_->ReadUntilQuiet(30);  // polls sent before the note was reported
        // No poll while the note waits, whatever the switch does.
        Form1->Button3->click();
        Form1->Button3->click();
        Form1->Timer1->start(20);
        QTest::qWait(150);
        QCOMPARE(pty_->ReadUntilQuiet(20), Bytes{});
        QTest::mouseClick(Form1->BitBtn6, Qt::LeftButton);
        QCOMPARE(DeviceGets(*pty_, 1), Bytes{0x02});
        Device({0x10});
        QTRY_COMPARE(Form1->DigitsPanel1->Value(), 1);
        QCOMPARE(Form1->DigitsPanel2->Value(), 0);
        QCOMPARE(Form1->DigitsPanel3->Value(), 100);
        QVERIFY(!Form1->BitBtn6->isEnabled());
        QVERIFY(!Form1->BitBtn7->isEnabled());
        QVERIFY(DeviceReceives(*pty_, 0x0C));  // polling resumes
        Form1->Timer1->stop();
        QVERIFY(LogText(Form1).contains(
            "Receive [0x81][0x8F][0x40]\nSend      [0x02]\nReceive [0x10]"));
    }

    void acceptPressedTwiceSendsOnce() {
        Device({0x81, 0x8F, 0x41});
        QTRY_VERIFY(Form1->BitBtn6->isEnabled());
        QTest::mouseClick(Form1->BitBtn6, Qt::LeftButton);
        QTest::mouseClick(Form1->BitBtn6, Qt::LeftButton);
        QCOMPARE(pty_->ReadUntilQuiet(100), Bytes{0x02});
        QVERIFY(Form1->BitBtn6->isEnabled());
        QCOMPARE(LogText(Form1).count("Send      [0x02]"), 1);
    }

    void rejectThenStatusCode() {
        Device({0x81, 0x8F, 0x42});
        QTRY_VERIFY(Form1->BitBtn7->isEnabled());
        QTest::mouseClick(Form1->BitBtn7, Qt::LeftButton);
        QCOMPARE(pty_->ReadUntilQuiet(100), Bytes{0x0F});
        QCOMPARE(Form1->DigitsPanel2->Value(), 500);
        QVERIFY(Form1->BitBtn6->isEnabled());
        Device({0x3E});
        QTRY_COMPARE(Form1->DigitsPanel2->Value(), 0);
        QVERIFY(!Form1->BitBtn6->isEnabled());
        QVERIFY(!Form1->BitBtn7->isEnabled());
        QCOMPARE(Form1->DigitsPanel3->Value(), 0);
    }

    void resetDuringEscrow() {
        Device({0x81, 0x8F, 0x40});
        QTRY_VERIFY(Form1->BitBtn6->isEnabled());
        QTest::mouseClick(Form1->Button1, Qt::LeftButton);
        QCOMPARE(pty_->ReadUntilQuiet(100), Bytes{0x30});
        QCOMPARE(Form1->DigitsPanel2->Value(), 0);
        QVERIFY(!Form1->BitBtn6->isEnabled());
        QVERIFY(!Form1->BitBtn7->isEnabled());
        QVERIFY(LogText(Form1).endsWith("Send      [0x30]"));
        // The note the acceptor then stacks anyway is still credited.
        Device({0x10});
        QTRY_COMPARE(Form1->DigitsPanel3->Value(), 100);
    }

    void resetWithNoEscrow() {
        Form1->SetDisplayValue(norva::Display::Escrow, 7);
        norva::AwaitingDecision = 1;
        QTest::mouseClick(Form1->Button1, Qt::LeftButton);
        QCOMPARE(pty_->ReadUntilQuiet(100), Bytes{0x30});
        QCOMPARE(Form1->DigitsPanel2->Value(), 7);
        QCOMPARE(norva::AwaitingDecision, 0);
        QVERIFY(!Form1->BitBtn6->isEnabled());
    }

    void clearCreditDuringEscrow() {
        Device({0x81, 0x8F, 0x43});  // channel 4 is not ticked at start
        QCOMPARE(DeviceGets(*pty_, 1), Bytes{0x0F});
        Form1->CheckBox4->setChecked(true);
        Device({0x81, 0x8F, 0x43});
        QTRY_VERIFY(Form1->BitBtn6->isEnabled());
        Form1->SetDisplayValue(norva::Display::Credit, 5000);
        const int linesBefore = LogText(Form1).count('\n');
        QTest::mouseClick(Form1->BitBtn8, Qt::LeftButton);
        QCOMPARE(Form1->DigitsPanel1->Value(), 0);
        QCOMPARE(Form1->DigitsPanel2->Value(), 0);
        QCOMPARE(Form1->DigitsPanel3->Value(), 0);
        QVERIFY(Form1->BitBtn6->isEnabled());
        QCOMPARE(LogText(Form1).count('\n'), linesBefore);
        QCOMPARE(pty_->ReadUntilQuiet(50), Bytes{});
        QTest::mouseClick(Form1->BitBtn6, Qt::LeftButton);
        Device({0x10});
        QTRY_COMPARE(Form1->DigitsPanel3->Value(), 1000);
        QCOMPARE(Form1->DigitsPanel1->Value(), 1);
    }

    void noEscrowAcceptsAtOnce() {
        Form1->RadioGroup1->SetItemIndex(1);
        Device({0x81, 0x8F, 0x41});
        QCOMPARE(DeviceGets(*pty_, 1), Bytes{0x02});
        QTRY_COMPARE(Form1->DigitsPanel2->Value(), 200);
        QVERIFY(!Form1->BitBtn6->isEnabled());
        Device({0x10});
        QTRY_COMPARE(Form1->DigitsPanel3->Value(), 200);
    }

    void untickedChannelRefused() {
        Form1->SetDisplayValue(norva::Display::Escrow, 9);
        Device({0x81, 0x8F, 0x4C});
        QCOMPARE(DeviceGets(*pty_, 1), Bytes{0x0F});
        QTRY_VERIFY(LogText(Form1).endsWith("Receive [0x81][0x8F][0x4C]\nSend      [0x0F]"));
        QCOMPARE(Form1->DigitsPanel2->Value(), 9);
        QVERIFY(!Form1->BitBtn6->isEnabled());
    }

    void powerUpThenEnable() {
        Device({0x80, 0x8F});
        QCOMPARE(DeviceGets(*pty_, 1), Bytes{0x02});
        QTRY_COMPARE(Form1->BitBtn5->text(), Text(protocol_tables::kEnableBa));
        QTest::mouseClick(Form1->BitBtn5, Qt::LeftButton);
        QCOMPARE(DeviceGets(*pty_, 1), Bytes{0x5E});
        QCOMPARE(Form1->BitBtn5->text(), Text(protocol_tables::kDisableBa));
    }

    // 50,000 random bytes as fast as the line takes them while the operator works every
    // button: every byte is handled, nothing breaks, and the window keeps up.
    void floodWhileOperating() {
        constexpr std::size_t kBytes = 50000;
        std::mt19937 random(1208);
        Bytes flood(kBytes);
        for (auto& b : flood)
            b = std::uint8_t(random());
        const std::size_t before = Form1->Engine().bytesHandled();
        std::atomic<bool> draining{true};
        std::thread sink([&] {  // the acceptor reads what the host sends, or the host would stall
            while (draining)
                pty_->ReadUntilQuiet(10);
        });
        std::thread writer([&] { pty_->Write(flood); });
        QPushButton* buttons[] = {Form1->BitBtn6, Form1->BitBtn7, Form1->Button1, Form1->BitBtn8,
                                  Form1->Button3};
        Form1->Timer1->start(5);
        int clicks = 0;
        QElapsedTimer clock;
        clock.start();
        while ((Form1->Engine().bytesHandled() - before < kBytes || clicks < 50) &&
               clock.elapsed() < 60000) {
            QTest::mouseClick(buttons[clicks++ % 5], Qt::LeftButton);
            QTest::qWait(1);
        }
        writer.join();
        draining = false;
        sink.join();
        QCOMPARE(Form1->Engine().bytesHandled() - before, kBytes);
        QCOMPARE(norva::RS232::LiveCount(), 1);

        // Whatever state the flood left, the protocol still holds: status codes end a message
        // the flood cut off and any escrow, then a note goes from escrow to stacker.
        Form1->Timer1->stop();
        Device({0x3E, 0x3E, 0x3E});
        QTRY_COMPARE(Form1->Engine().bytesHandled() - before, kBytes + 3);
        QCOMPARE(norva::PollPermitted, 1);
        QCOMPARE(norva::EscrowPending, 0);
        QVERIFY(!Form1->BitBtn6->isEnabled());
        pty_->ReadUntilQuiet(50);  // answers still on the line
        const int credit = Form1->DigitsPanel3->Value();
        const int count = norva::NoteCount;
        Device({0x81, 0x8F, 0x40});
        QTRY_VERIFY(Form1->BitBtn6->isEnabled());
        QCOMPARE(norva::PollPermitted, 0);
        QCOMPARE(norva::AwaitingDecision, 1);
        QCOMPARE(Form1->DigitsPanel2->Value(), 100);
        QTest::mouseClick(Form1->BitBtn6, Qt::LeftButton);
        QCOMPARE(DeviceGets(*pty_, 1), Bytes{0x02});
        Device({0x10});
        QTRY_COMPARE(Form1->DigitsPanel3->Value(), (credit + 100) % 100000000);
        QCOMPARE(norva::NoteCount, count + 1);
        QCOMPARE(norva::PollPermitted, 1);
    }

    // A backlog is worked off a batch per turn of the event loop, so the polling timer and the
    // operator's clicks are never held off for long; nothing is lost on the way.
    void backlogHandledInBatches() {
        constexpr std::size_t kBytes = 40000;
        const std::size_t before = Form1->Engine().bytesHandled();
        // The window's thread stays away until the receive thread has read the whole burst (the
        // driver's queue stays empty for longer than a block's quiet time), so it all waits in
        // the inbox.
        pty_->Write(Bytes(kBytes, 0x20));
        QElapsedTimer clock;
        clock.start();
        for (int emptyLooks = 0; emptyLooks < 2 && clock.elapsed() < 10000;) {
            ::usleep(60 * 1000);
            emptyLooks = norva::InputQueueCount(&norva::ComHandle) == 0 ? emptyLooks + 1 : 0;
        }
        QCoreApplication::processEvents();  // one turn
        const std::size_t firstTurn = Form1->Engine().bytesHandled() - before;
        QVERIFY(firstTurn > 0);
        QVERIFY2(firstTurn <= norva::AcceptorLink::kDrainBatchBytes + norva::kBlockSize,
                 qPrintable(QString::number(firstTurn)));
        QTRY_COMPARE(Form1->Engine().bytesHandled() - before, kBytes);
    }

private:
    void Device(const Bytes& bytes) { pty_->Write(bytes); }

    std::unique_ptr<WindowsOnDevice> bench_;
    const PtyPair* pty_ = nullptr;
};

QTEST_MAIN(NoteFlowsTest)
#include "tst_note_flows.moc"
