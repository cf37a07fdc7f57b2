// The engine and the operator's commands against an independent model of the escrow
// transaction, over many seeded random sequences.
#include <QTest>
#include <cstdlib>
#include <random>

#include "protocol/engine.h"
#include "protocol/operator_commands.h"
#include "protocol/shared_state.h"
#include "protocol_tables.h"
#include "recording_window.h"

using namespace norva;

namespace {

// What can happen to a note: the acceptor's codes, reduced to their meaning, and the
// operator's commands.
enum class Event {
    EscrowTickedAwait,  // escrow message, ticked channel, "Escrow"
    EscrowTickedAuto,   // escrow message, ticked channel, "No Escrow"
    EscrowRefused,      // escrow message, unticked channel or a value that is no number
    Stacked,            // 0x10
    Returned,           // 0x11
    Status,             // 0x20..0x29, 0x3E, 0x5E, 0x71
    LoggedOnly,         // 0x2F
    AckRequest,         // 0xA1
    PowerUp,            // 0x80 0x8F
    Accept,
    Reject,
    Reset,
    ClearCredit,
    Poll,
};

enum class Op {
    PendingOn,
    PendingOff,
    AwaitingOn,
    AwaitingOff,
    PollOn,
    PollOff,
    TakeValue,         // EscrowValue := the note's value, and show it
    EscrowDisplayOff,  // escrow display := 0
    ButtonsOn,
    ButtonsOff,
    CountNote,  // count + 1, shown
    Credit,     // credit display := credit + EscrowValue
    ZeroAll,    // the three displays and the count to 0
    Send02,
    Send0F,
    Send30,
    Send0C,
    IfPending,  // the rest of the row only while a note is pending
};

enum class Guard { Always, Awaiting, PollPermitted };

struct Row {
    Event event;
    Guard guard;
    std::vector<Op> ops;
};

// One row per event, from the transaction's rules.
const std::vector<Row> kTable{
    {Event::EscrowTickedAwait,
     Guard::Always,
     {Op::PendingOn, Op::PollOff, Op::TakeValue, Op::AwaitingOn, Op::ButtonsOn}},
    {Event::EscrowTickedAuto,
     Guard::Always,
     {Op::PendingOn, Op::PollOff, Op::TakeValue, Op::Send02}},
    {Event::EscrowRefused, Guard::Always, {Op::PendingOn, Op::PollOff, Op::Send0F}},
    {Event::Stacked,
     Guard::Always,
     {Op::ButtonsOff, Op::CountNote, Op::EscrowDisplayOff, Op::Credit, Op::PollOn}},
    {Event::Returned, Guard::Always, {Op::ButtonsOff, Op::EscrowDisplayOff, Op::PollOn}},
    {Event::Status,
     Guard::Always,
     {Op::PollOn, Op::IfPending, Op::EscrowDisplayOff, Op::PendingOff, Op::ButtonsOff}},
    {Event::LoggedOnly, Guard::Always, {}},
    {Event::AckRequest, Guard::Always, {Op::PollOn, Op::Send02}},
    {Event::PowerUp, Guard::Always, {Op::Send02}},
    {Event::Accept, Guard::Awaiting, {Op::AwaitingOff, Op::PendingOff, Op::Send02}},
    {Event::Reject, Guard::Awaiting, {Op::AwaitingOff, Op::Send0F}},
    {Event::Reset,
     Guard::Always,
     {Op::AwaitingOff, Op::Send30, Op::IfPending, Op::EscrowDisplayOff, Op::ButtonsOff}},
    {Event::ClearCredit, Guard::Always, {Op::ZeroAll}},
    {Event::Poll, Guard::PollPermitted, {Op::Send0C}},
};

struct Model {
    int poll = 1, pending = 0, awaiting = 0;
    std::int32_t escrowValue = 0, noteCount = 0;
    std::array<std::int32_t, 3> displays{};
    bool buttons = false;
    std::vector<std::uint8_t> sent;

    static std::int32_t Reduce(std::int64_t v, std::int64_t modulus) {
        return static_cast<std::int32_t>((v < 0 ? -v : v) % modulus);
    }

    void Apply(Event event, std::int32_t noteValue) {
        sent.clear();
        const Row& row = *std::find_if(kTable.begin(), kTable.end(),
                                       [&](const Row& r) { return r.event == event; });
        if (row.guard == Guard::Awaiting && awaiting != 1) return;
        if (row.guard == Guard::PollPermitted && poll != 1) return;
        const int pendingBefore = pending;
        for (Op op : row.ops) {
            switch (op) {
                case Op::PendingOn:
                    pending = 1;
                    break;
                case Op::PendingOff:
                    pending = 0;
                    break;
                case Op::AwaitingOn:
                    awaiting = 1;
                    break;
                case Op::AwaitingOff:
                    awaiting = 0;
                    break;
                case Op::PollOn:
                    poll = 1;
                    break;
                case Op::PollOff:
                    poll = 0;
                    break;
                case Op::TakeValue:
                    escrowValue = noteValue;
                    displays[1] = Reduce(noteValue, 100000);
                    break;
                case Op::EscrowDisplayOff:
                    displays[1] = 0;
                    break;
                case Op::ButtonsOn:
                    buttons = true;
                    break;
                case Op::ButtonsOff:
                    buttons = false;
                    break;
                case Op::CountNote:
                    noteCount = static_cast<std::int32_t>(std::int64_t{noteCount} + 1);
                    displays[0] = Reduce(noteCount, 1000);
                    break;
                case Op::Credit: {
                    // 32-bit addition as the acceptor's credit has always worked.
                    const auto sum =
                        static_cast<std::int32_t>(static_cast<std::uint32_t>(displays[2]) +
                                                  static_cast<std::uint32_t>(escrowValue));
                    displays[2] = Reduce(sum, 100000000);
                    break;
                }
                case Op::ZeroAll:
                    displays = {0, 0, 0};
                    noteCount = 0;
                    break;
                case Op::Send02:
                    sent.push_back(0x02);
                    break;
                case Op::Send0F:
                    sent.push_back(0x0F);
                    break;
                case Op::Send30:
                    sent.push_back(0x30);
                    break;
                case Op::Send0C:
                    sent.push_back(0x0C);
                    break;
                case Op::IfPending:
                    if (pendingBefore != 1) return;
                    break;
            }
        }
    }
};

const std::int32_t kValues[] = {0,      1,        5,        20,         100, 99999,
                                100000, 12345678, 99999999, 2147483647, -5,  INT32_MIN};
using protocol_tables::kStatusCodes;

}  // namespace

class EscrowModelTest : public QObject {
    Q_OBJECT

private slots:
    void engineMatchesModel() {
        const char* seedText = std::getenv("NORVA_MODEL_SEED");
        const unsigned seed = seedText ? unsigned(std::strtoul(seedText, nullptr, 10)) : 20261208u;
        std::mt19937 random(seed);
        constexpr int kSequences = 100000;
        for (int sequence = 0; sequence < kSequences; ++sequence) {
            ResetSharedState();
            RecordingWindow window;
            ProtocolEngine engine(window, window.Sender());
            OperatorCommands commands(window, window.Sender());
            Model model;
            // Each channel: ticked or not, a value or a text that is no number.
            std::array<std::int32_t, 16> values{};
            std::array<bool, 16> numeric{};
            for (int c = 0; c < 16; ++c) {
                window.ticks[c] = random() % 3 != 0;
                numeric[c] = random() % 8 != 0;
                values[c] = kValues[random() % std::size(kValues)];
                window.captions[c] = numeric[c] ? std::to_string(values[c]) : "n/a";
            }
            const int steps = 1 + int(random() % 24);
            for (int step = 0; step < steps; ++step) {
                window.sent.clear();
                window.escrowSetting = int(random() % 5 == 0);  // mostly "Escrow"
                const int choice = int(random() % 14);
                Event event = static_cast<Event>(choice);
                std::int32_t noteValue = 0;
                switch (event) {
                    case Event::EscrowTickedAwait:
                    case Event::EscrowTickedAuto:
                    case Event::EscrowRefused: {
                        const int channel = int(random() % 16);
                        const std::uint8_t channelByte =
                            std::uint8_t((random() % 16) << 4 | channel);
                        if (!window.ticks[channel] || !numeric[channel])
                            event = Event::EscrowRefused;
                        else
                            event = window.escrowSetting == 1 ? Event::EscrowTickedAuto
                                                              : Event::EscrowTickedAwait;
                        noteValue = values[channel];
                        // A channel byte that is itself a code would be a second event.
                        if (protocol_tables::ReactionTo(channelByte) !=
                            protocol_tables::Reaction::None) {
                            engine.HandleBlock(std::vector<std::uint8_t>{
                                0x81, 0x8F, std::uint8_t(0x40 | channel)});
                        } else {
                            engine.HandleBlock(std::vector<std::uint8_t>{0x81, 0x8F, channelByte});
                        }
                        break;
                    }
                    case Event::Stacked:
                        engine.HandleBlock(std::vector<std::uint8_t>{0x10});
                        break;
                    case Event::Returned:
                        engine.HandleBlock(std::vector<std::uint8_t>{0x11});
                        break;
                    case Event::Status:
                        engine.HandleBlock(std::vector<std::uint8_t>{
                            kStatusCodes[random() % std::size(kStatusCodes)]});
                        break;
                    case Event::LoggedOnly:
                        engine.HandleBlock(std::vector<std::uint8_t>{0x2F});
                        break;
                    case Event::AckRequest:
                        engine.HandleBlock(std::vector<std::uint8_t>{0xA1});
                        break;
                    case Event::PowerUp:
                        engine.HandleBlock(std::vector<std::uint8_t>{0x80, 0x8F});
                        break;
                    case Event::Accept:
                        commands.Accept();
                        break;
                    case Event::Reject:
                        commands.Reject();
                        break;
                    case Event::Reset:
                        commands.Reset();
                        break;
                    case Event::ClearCredit:
                        commands.ClearCredit();
                        break;
                    case Event::Poll:
                        commands.Poll();
                        break;
                }
                model.Apply(event, noteValue);
                const QString where = QString("seed %1, sequence %2, step %3, event %4")
                                          .arg(seed)
                                          .arg(sequence)
                                          .arg(step)
                                          .arg(int(event));
                const auto& w = window;
                const bool same = PollPermitted == model.poll && EscrowPending == model.pending &&
                                  AwaitingDecision == model.awaiting &&
                                  EscrowValue == model.escrowValue &&
                                  NoteCount == model.noteCount && w.displays == model.displays &&
                                  w.acceptEnabled == model.buttons &&
                                  w.rejectEnabled == model.buttons && w.sent == model.sent;
                if (!same) {
                    QFAIL(qPrintable(where +
                                     QString(": engine poll %1 pending %2 awaiting %3 value %4 "
                                             "count %5 displays %6/%7/%8 buttons %9 sent %10")
                                         .arg(PollPermitted)
                                         .arg(EscrowPending)
                                         .arg(AwaitingDecision)
                                         .arg(EscrowValue)
                                         .arg(NoteCount)
                                         .arg(w.displays[0])
                                         .arg(w.displays[1])
                                         .arg(w.displays[2])
                                         .arg(w.acceptEnabled)
                                         .arg(w.sent.size())));
                }
            }
        }
    }
};

QTEST_APPLESS_MAIN(EscrowModelTest)
#include "tst_escrow_model.moc"
