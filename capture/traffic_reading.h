#pragma once

// The one reading of traffic: the acceptor's blocks and the host's bytes, each with its time, in
// the order they went over the wire, turned into typed events and the session's tallies. It reads
// a live link (as a TrafficSink), a tap's two inputs, or a capture file alike, and every front
// that reports on a session takes its numbers from here; nothing reads log text back.
//
// Feeding. Call PortOpened, Block/Received and Sent in the order the traffic happened, then
// Finish. Times are microseconds since the Unix epoch, UTC. The acceptor's bytes are recognised
// by the engine's own scanner (protocol/message_scanner.h), block by block, a message cut by a
// block boundary joined as the engine joins it, so the received lines and the count of ignored
// bytes are the engine's for the same blocks.
//
// Block times. A block is timed at its first byte and its last byte; the host can act on a block
// only once it has its last byte, so every answer time and hold time counts from there. A live
// link tells the last byte (BlockEnded); a capture keeps only the first, so its last is estimated
// as first + floor((n - 1) x bits a byte x 10^6 / baud) for a block of n bytes, from the line
// settings of the capture's port line (a start bit, the data bits, a parity bit unless none, the
// stop bits; "9600,E,8,1" gives 11 bits, 1145.83 us a byte, and stands in for a field the line
// leaves out). Every duration is clamped at 0: a host byte timed before the estimated end of the
// block it answers, or two inputs' clocks out of step, count as an answer at once.
//
// Who answered. The host owes an answer to a power-up (0x02), to 0xA1 (0x02) and to an escrow
// message (0x02 accept or 0x0F reject). Given a HostProfile (its ticks, captions and escrow
// setting, as norva-cli and the window have them) the reading decides every escrow exactly as
// the engine does, so the bytes the engine sends by rule (acknowledgements; a refusal of an
// unticked channel or of a caption that is not a number; an accept under "No Escrow") are told
// from the operator's or a policy's decisions (0x02 or 0x0F while the engine awaits a decision,
// which a host's RESET ends). The engine sends its answers while it handles a block, so they are
// the host bytes right after that block, in the order of the messages; one that does not come
// (a failed write) is taken as not sent at the first other byte. Without a profile the traffic
// alone cannot tell a rule from a decision, and pairing is by kind and order: 0x02 answers the
// oldest unanswered power-up or 0xA1 first, otherwise the escrow not yet decided; 0x0F answers
// only that escrow. A host byte that answers nothing is a HostOther event.
//
// Notes. An escrow message holds a note until the next 0x10 (stacked) or 0x11 (returned); a
// power-up ends it too, and a new escrow message takes its place. An answer that comes after the
// note ended is late (never one by rule: the engine sent it as it handled the message). A note
// that no answer decided before the next escrow message or Finish was never decided; one the
// acceptor returned before any decision was handed back. The credit is the 8-digit display's:
// each 0x10 adds the held value of the last note whose value counts, 32-bit signed addition,
// |sum| mod 10^8. With a profile that is the last escrow of a ticked channel whose caption is a
// number, as in the engine; without one, the last note the host accepted. A 0x10 is counted on
// the channel of the last escrow message since the previous 0x10, as the credit adds it (channel
// 0 when none announced it); a 0x11 on the note it ends (channel 0 when none was held).
//
// Memory is bounded whatever the session's length except for the duration samples, which are
// kept exactly up to DurationTally::kExactLimit each and in buckets beyond. Events are handed to
// the visitor as they happen and are not kept: a span in an event is valid during the call only.
// Not thread-safe; feed and read on one thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/message_scanner.h"
#include "protocol/traffic_sink.h"

namespace norva {

struct CaptureEvent;

// A time not known yet: a capture's port line keeps none. The event is then timed by the next.
inline constexpr std::int64_t kTimeUnknown = std::numeric_limits<std::int64_t>::min();

// What the host's engine reads of its window when it handles an escrow message.
struct HostProfile {
    std::array<bool, 16> ticked{};           // channel 1 first
    std::array<std::string, 16> captions{};  // the values as the tick boxes carry them
    int escrowSetting = 0;                   // 0 "Escrow", 1 "No Escrow", -1 none ("Escrow")
};

struct ReadingOptions {
    std::optional<HostProfile> host;
    // Without a host: the bill value table, for the notes' values and the credit. With a host its
    // captions are the values.
    std::optional<std::array<std::string, 16>> values;
    // Longer than this without a byte from the acceptor is a Silence event; 0: none.
    std::int64_t silenceMicros = 10'000'000;
};

enum class EventKind : std::uint8_t {
    PortOpened,
    // From the acceptor, in the order of their positions in the blocks.
    PowerUp,     // 0x80 0x8F
    EscrowHeld,  // 0x81 0x8F c: channel, value when known
    Stacked,     // 0x10: channel as credited, value added
    Returned,    // 0x11: channel of the note it ended
    StatusCode,  // byte
    LoggedOnly,  // 0x2F
    AckRequest,  // 0xA1
    Ignored,     // a run of bytes that are neither a code nor part of a message
    // From the host.
    Answer,  // 0x02 or 0x0F answering a power-up, a 0xA1 or an escrow
    Poll,
    Enable,
    Disable,
    Reset,
    HostOther,  // any other byte, and 0x02 or 0x0F that answer nothing
    Silence,    // nothing from the acceptor from `since` to `time`
};

enum class AnswerKind : std::uint8_t { Acknowledge, Accept, Reject };
// Rule: the host's engine answered by its rules; Decision: its operator or policy; Unknown: no
// profile, the traffic cannot tell.
enum class AnswerBasis : std::uint8_t { Rule, Decision, Unknown };

struct TrafficEvent {
    EventKind kind = EventKind::Ignored;
    std::uint64_t sequence = 0;  // 0, 1, 2, ... in the order handed out
    // When the event's first byte came (an acceptor event: its block's first byte), and when it
    // was complete for the host (its block's last byte). A host byte: both its time.
    std::int64_t first = 0;
    std::int64_t time = 0;
    // Answer: the last byte of the block that asked. Stacked, Returned: when the note they end was
    // held (equal to time when no note was held). Silence: the last byte before it.
    std::int64_t since = 0;
    std::int64_t duration = 0;  // time - since, at least 0
    std::span<const std::uint8_t> bytes;
    // The code; an escrow message's channel byte; a host event's byte.
    std::uint8_t byte = 0;
    int channel = 0;                    // 1..16; 0 none
    std::optional<std::int32_t> value;  // EscrowHeld: the channel's value; Stacked: value added
    // Answer only.
    AnswerKind answer = AnswerKind::Acknowledge;
    AnswerBasis basis = AnswerBasis::Unknown;
    EventKind answered = EventKind::PowerUp;  // PowerUp, AckRequest or EscrowHeld
    bool late = false;                        // the note had ended before this answer
    std::uint64_t asking = 0;                 // the sequence of the event answered
    const PortIdentity* port = nullptr;       // PortOpened only
};

// The protocol log lines the window would show for the event: the engine's received lines for
// the acceptor's, the "Send" line for a host byte, none for the others. A host byte the protocol
// does not name reads "Send      [0xNN]", in the form of the accept, reject, poll and reset lines.
std::vector<std::string> LogLines(const TrafficEvent& event);
std::string HostLine(std::uint8_t byte);

// Durations in microseconds. Quantiles by the nearest-rank rule: the sample of rank
// ceil(q x count), the smallest for rank 0; 0 when there are none.
class DurationTally {
public:
    // Up to this many samples every one is kept; beyond, they go into buckets exact below
    // 2,048 us and 1/1024 of their value wide above, a quantile then being its bucket's lower edge.
    static constexpr std::size_t kExactLimit = 1 << 18;

    void Add(std::int64_t micros);
    std::uint64_t count() const { return count_; }
    std::int64_t max() const { return max_; }
    std::int64_t Quantile(double q) const;
    bool exact() const { return buckets_.empty(); }
    // visit(value, count) in rising order of value: each distinct sample, or each bucket.
    void ForEachValue(const std::function<void(std::int64_t, std::uint64_t)>& visit) const;
    std::size_t MemoryBytes() const;

private:
    mutable std::vector<std::int64_t> samples_;
    mutable bool sorted_ = true;
    std::vector<std::uint64_t> buckets_;
    std::uint64_t count_ = 0;
    std::int64_t max_ = 0;
};

struct ChannelTally {
    std::uint64_t held = 0;      // escrow messages
    std::uint64_t stacked = 0;   // 0x10, on the channel credited
    std::uint64_t returned = 0;  // 0x11, on the note it ended
    std::uint64_t refused = 0;   // notes answered 0x0F, each once
    std::int64_t credited = 0;   // the values its 0x10 added to the credit, not wrapped
};

// norva-cli's summary reads, with its own profile: stacked (total, channels 1..16, unannounced =
// channel 0), credit, refused (unticked, not a number), returned, rejected_by_policy
// (rejectedByDecision), status_codes, power_ups, bytes_ignored, answer_latency_ms (answerLatency)
// and escrow_hold_ms (heldToDecision), the times divided by 1000.
struct TrafficTallies {
    // Index 1..16; index 0 counts a 0x10 or 0x11 that no escrow message announced.
    std::array<ChannelTally, 17> channels{};
    std::uint64_t stacked = 0;
    std::uint64_t returned = 0;
    // The credit display's value; none when the reading knows no values.
    std::optional<std::int32_t> credit;
    // Why notes were refused, where the reading knows it (a profile): counted at the escrow
    // message, as the host's rules decide there.
    std::uint64_t refusedUnticked = 0;
    std::uint64_t refusedNotANumber = 0;
    // 0x0F sent as a decision of the operator or a policy (a profile), late ones included.
    std::uint64_t rejectedByDecision = 0;
    std::array<std::uint64_t, 256> statusCodes{};
    std::uint64_t powerUps = 0;
    std::uint64_t ackRequests = 0;
    std::uint64_t loggedOnly = 0;
    std::uint64_t bytesIgnored = 0;  // as the engine counts them
    std::uint64_t polls = 0, enables = 0, disables = 0, resets = 0, hostOther = 0;
    std::uint64_t lateAnswers = 0;
    std::uint64_t neverDecided = 0;
    std::uint64_t handedBack = 0;
    std::uint64_t silences = 0;
    std::uint64_t blocks = 0, bytesReceived = 0, bytesSent = 0, logLines = 0, events = 0;
    std::int64_t firstTime = kTimeUnknown, lastTime = kTimeUnknown;
    // Block's last byte to answer: answers by rule, and every answer without a profile.
    DurationTally answerLatency;
    // Escrow held (its block's last byte) to the note's first decision, late ones included.
    DurationTally heldToDecision;
    // That decision to the 0x10 or 0x11 that ended the note.
    DurationTally decisionToOutcome;
    // Held to a 0x11 that came before any decision.
    DurationTally heldToHandBack;
};

class TrafficReading : public TrafficSink {
public:
    using Visitor = std::function<void(const TrafficEvent&)>;

    explicit TrafficReading(ReadingOptions options = {}, Visitor visit = {});

    // The host's profile from the next block on (the window's ticks and captions change).
    void SetHost(std::optional<HostProfile> host);

    // TrafficSink, for a live link: BlockEnded comes just before its block's Received.
    void PortOpened(std::int64_t unixMicros, const PortIdentity& port) override;
    void BlockEnded(std::int64_t lastByteUnixMicros) override;
    void Received(std::int64_t firstByteUnixMicros, std::span<const std::uint8_t> block) override;
    void Sent(std::int64_t unixMicros, std::uint8_t byte) override;

    // A block with both its times known (a tap).
    void Block(std::int64_t first, std::int64_t last, std::span<const std::uint8_t> block);

    // The end of the session (default: the last time fed): a silence up to it, and a note still
    // undecided counted as never decided. A message whose tail never came stays unread, as in the
    // engine. Once, at the end; the tallies may be read at any time before.
    void Finish(std::optional<std::int64_t> end = std::nullopt);

    const TrafficTallies& tallies() const { return tallies_; }
    std::size_t MemoryBytes() const;

private:
    struct Owed {  // an answer the host owes, or (with a profile) will send by rule
        std::uint8_t byte;
        EventKind asked;
        std::int64_t blockLast;
        int channel;
        std::uint64_t note;  // the note's serial for an escrow
        std::uint64_t asking;
    };
    struct Note {
        std::uint64_t serial = 0;  // 0: none yet
        bool open = false;
        bool decided = false;
        bool decisionSeen = false;
        int channel = 0;
        std::int64_t heldAt = 0;
        std::int64_t decidedAt = 0;
        std::uint64_t asking = 0;
        std::optional<std::int32_t> value;
    };

    void Touch(std::int64_t time);
    void Emit(TrafficEvent& event);
    void OnScanned(const ScannedByte& s);
    void FlushIgnored();
    void Escrow(TrafficEvent& e, std::uint8_t channelByte);
    void Stacked(TrafficEvent& e);
    void Returned(TrafficEvent& e);
    void EndNote();
    void Owe(const Owed& owed);
    Owed PopOwed();
    void AnswerNote(TrafficEvent& e, AnswerBasis basis, std::uint8_t byte);
    void AnswerOwed(TrafficEvent& e, const Owed& owed, AnswerBasis basis);
    void HostCommand(TrafficEvent& e, std::uint8_t byte);
    std::int64_t EstimatedLast(std::int64_t first, std::size_t n) const;

    ReadingOptions options_;
    Visitor visit_;
    TrafficTallies tallies_;
    MessageScanner scanner_;
    std::optional<std::int64_t> pendingLast_;
    std::optional<PortIdentity> pendingPort_;
    PortIdentity port_;
    // Half-bits a byte and the baud rate, for a block's last byte when only its first is known.
    unsigned halfBitsPerByte_ = 22;
    unsigned baud_ = 9600;

    // The block being scanned, and the one before it (whose held tail comes first).
    std::int64_t blockFirst_ = 0, blockLast_ = 0, prevFirst_ = 0, prevLast_ = 0;
    std::size_t carried_ = 0;
    // A run of ignored bytes not yet handed out: where it starts, and its length.
    const std::uint8_t* ignoredAt_ = nullptr;
    std::size_t ignoredStart_ = 0;
    std::size_t ignoredCount_ = 0;

    std::int64_t silenceFrom_ = kTimeUnknown;
    std::vector<Owed> owed_;  // oldest first; bounded
    std::size_t owedHead_ = 0;
    bool awaitingDecision_ = false;
    Note note_;
    std::uint64_t noteSerial_ = 0;
    int stackChannel_ = 0;
    std::int32_t escrowValue_ = 0;
    std::uint8_t hostByte_ = 0;
};

// Feeds one event read from a capture: the one place the reading meets the capture reader.
void FeedCaptureEvent(TrafficReading& reading, const CaptureEvent& event);

}  // namespace norva
