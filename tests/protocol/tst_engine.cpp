#include <QTest>

#include "protocol/engine.h"
#include "protocol/operator_commands.h"
#include "protocol/shared_state.h"
#include "protocol/wire.h"
#include "protocol_tables.h"
#include "recording_window.h"

using namespace norva;
using Bytes = std::vector<std::uint8_t>;
using Events = std::vector<std::string>;

Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(Events)

namespace {

struct Bench {
    Bench() : engine(window, window.Sender()), commands(window, window.Sender()) {
        ResetSharedState();
    }
    void Feed(const Bytes& block) { engine.HandleBlock(block); }
    RecordingWindow window;
    ProtocolEngine engine;
    OperatorCommands commands;
};

const Events kLinkEvents{"link Linking Now", "status 2 Linking"};

Events WithLink(Events rest) {
    Events all = kLinkEvents;
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

}  // namespace

class EngineTest : public QObject {
    Q_OBJECT

private slots:
    // Each byte on its own, in a block of its own, from the starting state.
    void everySingleByte() {
        for (int b = 0; b < 256; ++b) {
            Bench bench;
            PollPermitted = 0;  // shows which bytes set it
            bench.Feed({std::uint8_t(b)});
            const auto& w = bench.window;
            const std::string hex = QString::asprintf("[0x%02X]", b).toStdString();
            Events expected = kLinkEvents;
            int poll = 0;
            switch (protocol_tables::ReactionTo(std::uint8_t(b))) {
                case protocol_tables::Reaction::Stacked:
                    expected.insert(expected.end(),
                                    {"log Receive [0x10]", "accept off", "reject off",
                                     "display 1 1", "display 2 0", "display 3 0"});
                    poll = 1;
                    break;
                case protocol_tables::Reaction::Returned:
                    expected.insert(expected.end(), {"log Receive [0x11]", "accept off",
                                                     "reject off", "display 2 0"});
                    poll = 1;
                    break;
                case protocol_tables::Reaction::LoggedOnly:
                    expected.push_back("log Receive [0x2F]");
                    break;
                case protocol_tables::Reaction::Status:
                    expected.push_back("log Receive " + hex);
                    poll = 1;
                    break;
                case protocol_tables::Reaction::AckRequest:
                    expected.insert(expected.end(),
                                    {"log Receive [0xA1]", "send 02", "log Send      [0x02]"});
                    poll = 1;
                    break;
                default:
                    break;  // ignored, and 0x80/0x81 alone wait for the next block
            }
            QVERIFY2(w.events == expected, hex.c_str());
            QCOMPARE(PollPermitted, poll);
            QCOMPARE(EscrowPending, 0);
            QCOMPARE(w.linkColour, 0x008000u);
        }
    }

    void messages_data() {
        QTest::addColumn<Bytes>("block");
        QTest::addColumn<Events>("expected");
        const Events powerUp{"log Receive [0x80]", "log Receive [0x8F]", "send 02",
                             "log Send      [0x02]", "caption Enable BA"};
        QTest::newRow("power-up") << Bytes{0x80, 0x8F} << WithLink(powerUp);
        Events twice = powerUp;
        twice.insert(twice.end(), powerUp.begin(), powerUp.end());
        QTest::newRow("power-up twice") << Bytes{0x80, 0x8F, 0x80, 0x8F} << WithLink(twice);
        QTest::newRow("ack then status")
            << Bytes{0xA1, 0x3E}
            << WithLink(
                   {"log Receive [0xA1]", "send 02", "log Send      [0x02]", "log Receive [0x3E]"});
        QTest::newRow("lone 8F") << Bytes{0x8F} << kLinkEvents;
        QTest::newRow("80 00") << Bytes{0x80, 0x00} << kLinkEvents;
        QTest::newRow("81 not 8F") << Bytes{0x81, 0x20} << WithLink({"log Receive [0x20]"});
        QTest::newRow("0A and 2A ignored, 20 logged")
            << Bytes{0x0A, 0x2A, 0x20} << WithLink({"log Receive [0x20]"});
        QTest::newRow("escrow channel 16 low bits")
            << Bytes{0x81, 0x8F, 0x0F}
            << WithLink({"log Receive [0x81][0x8F][0x0F]", "send 0F", "log Send      [0x0F]"});
        // The channel byte is looked at again on its own: 0x3E is also a status code.
        QTest::newRow("channel byte that is a code")
            << Bytes{0x81, 0x8F, 0x3E}
            << WithLink({"log Receive [0x81][0x8F][0x3E]", "send 0F", "log Send      [0x0F]",
                         "log Receive [0x3E]", "display 2 0", "accept off", "reject off"});
        QTest::newRow("power-up inside escrow bytes")
            << Bytes{0x81, 0x80, 0x8F} << WithLink(powerUp);
    }

    void messages() {
        QFETCH(Bytes, block);
        QFETCH(Events, expected);
        Bench bench;
        bench.Feed(block);
        QCOMPARE(bench.window.events, expected);
        if (block.size() >= 2 && block[0] == 0x80) QCOMPARE(PollPermitted, 1);
    }

    // Bytes that are neither a code nor part of a message, as the command line's summary counts.
    void bytesIgnored() {
        const struct {
            Bytes block;
            std::size_t ignored;
        } rows[] = {
            {{0x80, 0x8F}, 0},        // a power-up
            {{0x81, 0x8F, 0x40}, 0},  // an escrow message, its channel byte included
            {{0x81}, 0},              // a lead held for the next block
            {{0x8F}, 1},              // a second byte without its lead
            {{0x80, 0x00}, 2},        // a lead that starts no message, then noise
            {{0x0A, 0x2A, 0x20}, 2},  // noise around a status code
            {{0x81, 0x80, 0x8F}, 1},  // an escrow lead cut short by a power-up
        };
        for (const auto& row : rows) {
            Bench bench;
            bench.Feed(row.block);
            QCOMPARE(bench.engine.bytesIgnored(), row.ignored);
        }
    }

    void escrowDecisions_data() {
        QTest::addColumn<std::uint8_t>("channelByte");
        QTest::addColumn<bool>("noEscrow");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<Events>("expected");
        QTest::addColumn<int>("awaiting");
        QTest::addColumn<int>("escrowValue");
        QTest::newRow("ticked, Escrow") << std::uint8_t(0x40) << false << "50"
                                        << WithLink({"log Receive [0x81][0x8F][0x40]",
                                                     "display 2 50", "accept on", "reject on"})
                                        << 1 << 50;
        QTest::newRow("ticked, No Escrow")
            << std::uint8_t(0x41) << true << "20"
            << WithLink({"log Receive [0x81][0x8F][0x41]", "display 2 20", "send 02",
                         "log Send      [0x02]"})
            << 0 << 20;
        QTest::newRow("unticked channel 4")
            << std::uint8_t(0x43) << false << "x"
            << WithLink({"log Receive [0x81][0x8F][0x43]", "send 0F", "log Send      [0x0F]"}) << 0
            << 7;
        QTest::newRow("unticked, No Escrow")
            << std::uint8_t(0x4F) << true << "x"
            << WithLink({"log Receive [0x81][0x8F][0x4F]", "send 0F", "log Send      [0x0F]"}) << 0
            << 7;
        QTest::newRow("not a number refuses")
            << std::uint8_t(0x42) << false << "abc"
            << WithLink({"log Receive [0x81][0x8F][0x42]", "send 0F", "log Send      [0x0F]",
                         "problem 'abc' is not a valid integer value"})
            << 0 << 7;
        QTest::newRow("trailing blank refuses under No Escrow")
            << std::uint8_t(0x42) << true << "100 "
            << WithLink({"log Receive [0x81][0x8F][0x42]", "send 0F", "log Send      [0x0F]",
                         "problem '100 ' is not a valid integer value"})
            << 0 << 7;
        QTest::newRow("hex value") << std::uint8_t(0x40) << true << "$FF"
                                   << WithLink({"log Receive [0x81][0x8F][0x40]", "display 2 255",
                                                "send 02", "log Send      [0x02]"})
                                   << 0 << 255;
    }

    // Ticked, unticked and unconvertible channels under both escrow settings. The caption is
    // put on the channel the message names; an earlier EscrowValue of 7 shows what is kept.
    void escrowDecisions() {
        QFETCH(std::uint8_t, channelByte);
        QFETCH(bool, noEscrow);
        QFETCH(QString, caption);
        QFETCH(Events, expected);
        QFETCH(int, awaiting);
        QFETCH(int, escrowValue);
        Bench bench;
        EscrowValue = 7;
        bench.window.escrowSetting = noEscrow ? 1 : 0;
        bench.window.captions[protocol_tables::ChannelOf(channelByte) - 1] = caption.toStdString();
        bench.window.displays[1] = 3;
        bench.Feed({0x81, 0x8F, channelByte});
        QCOMPARE(bench.window.events, expected);
        QCOMPARE(EscrowPending, 1);
        QCOMPARE(PollPermitted, 0);
        QCOMPARE(AwaitingDecision, awaiting);
        QCOMPARE(EscrowValue, escrowValue);
        // Reception goes on after a refused note.
        bench.window.ClearRecords();
        bench.Feed({0x11});
        QCOMPARE(bench.window.log, std::vector<std::string>{"Receive [0x11]"});
    }

    void noSelectionCountsAsEscrow() {
        Bench bench;
        bench.window.escrowSetting = -1;
        bench.Feed({0x81, 0x8F, 0x40});
        QCOMPARE(AwaitingDecision, 1);
        QVERIFY(bench.window.sent.empty());
    }

    void stackedAndReturned() {
        Bench bench;
        // A 0x10 with no escrow since start adds 0.
        bench.Feed({0x10});
        QCOMPARE(bench.window.displays, (std::array<std::int32_t, 3>{1, 0, 0}));
        bench.window.captions[0] = "20";
        bench.window.displays[2] = 99999990;
        bench.Feed({0x81, 0x8F, 0x40, 0x10});
        QCOMPARE(bench.window.displays, (std::array<std::int32_t, 3>{2, 0, 10}));
        QCOMPARE(NoteCount, 2);
        QCOMPARE(PollPermitted, 1);
        QCOMPARE(EscrowPending, 1);  // until a status code or Accept
        QCOMPARE(AwaitingDecision, 1);
        // A second 0x10 adds the same value again; 0x11 changes no count or credit.
        bench.Feed({0x10, 0x11});
        QCOMPARE(bench.window.displays, (std::array<std::int32_t, 3>{3, 0, 30}));
        QVERIFY(!bench.window.acceptEnabled);
        // The count runs on past the display's three digits.
        NoteCount = 999;
        bench.Feed({0x10});
        QCOMPARE(NoteCount, 1000);
        QCOMPARE(bench.window.displays[0], 0);
        // Credit arithmetic wraps as 32 bits instead of overflowing.
        EscrowValue = INT32_MAX;
        bench.window.displays[2] = 5;
        bench.Feed({0x10});
        QCOMPARE(bench.window.displays[2], std::int32_t((2147483644LL) % 100000000));
    }

    void statusCodesEndEscrowDisplay() {
        Bench bench;
        bench.Feed({0x81, 0x8F, 0x40});
        bench.Feed({0x2F});
        QCOMPARE(PollPermitted, 0);  // 0x2F is only logged
        QCOMPARE(bench.window.displays[1], 1);
        bench.window.ClearRecords();
        bench.Feed({0x3E});
        QCOMPARE(bench.window.events,
                 WithLink({"log Receive [0x3E]", "display 2 0", "accept off", "reject off"}));
        QCOMPARE(PollPermitted, 1);
        QCOMPARE(EscrowPending, 0);
        QCOMPARE(AwaitingDecision, 1);  // only Accept, Reject and RESET clear it
        bench.window.ClearRecords();
        bench.Feed({0x20});
        QCOMPARE(bench.window.events, WithLink({"log Receive [0x20]"}));
    }

    // Every way of cutting a message over two blocks gives the same result as one block.
    void splitMessagesJoined() {
        const std::vector<Bytes> streams{{0x80, 0x8F},
                                         {0x81, 0x8F, 0x40},
                                         {0x81, 0x8F, 0x81, 0x8F, 0x41},
                                         {0x20, 0x81, 0x8F, 0x80, 0x8F, 0x10}};
        for (const Bytes& stream : streams) {
            Bench whole;
            whole.Feed(stream);
            const auto expectedLog = whole.window.log;
            const auto expectedSent = whole.window.sent;
            for (std::size_t cut = 1; cut < stream.size(); ++cut) {
                Bench split;
                split.Feed(Bytes(stream.begin(), stream.begin() + cut));
                split.Feed(Bytes(stream.begin() + cut, stream.end()));
                QCOMPARE(split.window.log, expectedLog);
                QCOMPARE(split.window.sent, expectedSent);
            }
            // Byte by byte, too.
            Bench single;
            for (std::uint8_t b : stream)
                single.Feed({b});
            QCOMPARE(single.window.log, expectedLog);
        }
        // A held tail is dropped when the port changes.
        Bench bench;
        bench.Feed({0x81, 0x8F});
        bench.engine.DropHeldTail();
        bench.Feed({0x40});
        QVERIFY(bench.window.log.empty());
    }

    void linkIndicatorOncePerBlock() {
        Bench bench;
        bench.Feed({});
        QVERIFY(bench.window.events.empty());
        bench.Feed({0x00});
        QCOMPARE(bench.window.events, kLinkEvents);
        QCOMPARE(bench.window.linkCaption, std::string("Linking Now"));
        QCOMPARE(bench.window.status[2], std::string("Linking"));
        bench.Feed({0x20, 0x21});
        QCOMPARE(std::count(bench.window.events.begin(), bench.window.events.end(),
                            std::string("link Linking Now")),
                 2);
        QCOMPARE(bench.engine.blocksHandled(), std::size_t{2});
    }

    void fullBlockHandledWhole() {
        Bench bench;
        Bytes block(4999, 0x20);
        block[4998] = 0x21;
        bench.Feed(block);
        QCOMPARE(bench.window.log.size(), std::size_t{4999});
        QCOMPARE(bench.window.log.back(), std::string("Receive [0x21]"));
    }

    void operatorCommands() {
        Bench bench;
        auto& w = bench.window;
        // Enable and disable flip the caption and send what the old caption named.
        bench.commands.ToggleEnable();
        bench.commands.ToggleEnable();
        QCOMPARE(w.events, (Events{"caption Enable BA", "send 3E", "log Send [0x3E]",
                                   "caption Disable BA", "send 5E", "log Send [0x5E]"}));
        w.enableCaption = "disable ba";  // not exactly the caption: the enable branch
        w.ClearRecords();
        bench.commands.ToggleEnable();
        QCOMPARE(w.sent, Bytes{0x5E});

        // Accept acts once; Reject does nothing after it.
        bench.Feed({0x81, 0x8F, 0x40});
        w.ClearRecords();
        bench.commands.Accept();
        bench.commands.Accept();
        bench.commands.Reject();
        QCOMPARE(w.events, (Events{"send 02", "log Send      [0x02]"}));
        QCOMPARE(EscrowPending, 0);
        QVERIFY(w.acceptEnabled);

        // Reject keeps EscrowPending, so the next status code clears the display.
        bench.Feed({0x81, 0x8F, 0x41});
        w.ClearRecords();
        bench.commands.Reject();
        QCOMPARE(w.events, (Events{"send 0F", "log Send      [0x0F]"}));
        QCOMPARE(EscrowPending, 1);
        QCOMPARE(w.displays[1], 2);

        // RESET during escrow zeroes the display and disables the buttons.
        bench.Feed({0x81, 0x8F, 0x42});
        w.ClearRecords();
        bench.commands.Reset();
        QCOMPARE(w.events, (Events{"display 2 0", "accept off", "reject off", "send 30",
                                   "log Send      [0x30]"}));
        QCOMPARE(AwaitingDecision, 0);
        // ...and again after a stack, where the display already reads 0.
        bench.Feed({0x10});
        w.ClearRecords();
        bench.commands.Reset();
        QCOMPARE(w.displays[1], 0);
        // RESET with nothing pending touches only the flag and the wire.
        bench.Feed({0x20});
        AwaitingDecision = 1;
        w.ClearRecords();
        bench.commands.Reset();
        QCOMPARE(w.events, (Events{"send 30", "log Send      [0x30]"}));
        QCOMPARE(AwaitingDecision, 0);

        // Clear Credit during escrow: displays and count to 0, buttons and flags kept, the
        // stacked note still credited.
        w.captions[0] = "500";
        bench.Feed({0x81, 0x8F, 0x40});
        w.ClearRecords();
        bench.commands.ClearCredit();
        QCOMPARE(w.events, (Events{"display 1 0", "display 2 0", "display 3 0"}));
        QVERIFY(w.acceptEnabled);
        QCOMPARE(AwaitingDecision, 1);
        bench.commands.Accept();
        bench.Feed({0x10});
        QCOMPARE(w.displays, (std::array<std::int32_t, 3>{1, 0, 500}));

        // The poll: line first, then the byte, and only while permitted.
        w.ClearRecords();
        bench.commands.Poll();
        QCOMPARE(w.events, (Events{"log Send      [0x0C]", "send 0C"}));
        bench.Feed({0x81, 0x8F, 0x43});
        w.ClearRecords();
        bench.commands.Poll();
        QVERIFY(w.events.empty());
    }
};

QTEST_APPLESS_MAIN(EngineTest)
#include "tst_engine.moc"
