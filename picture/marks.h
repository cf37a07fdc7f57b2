#pragma once

#include <cstdint>

namespace norva::picture {

enum class Lane : std::uint8_t { Acceptor, Host };

// What a mark on the timeline is coloured by.
enum class MarkKind : std::uint8_t {
    Poll,
    StatusCode,
    PowerUp,
    EscrowHeld,
    Stacked,
    Returned,
    HostAccept,
    HostReject,
    Other,
};

// One event of the reading as the timeline needs it. Its log lines and bytes are kept once
// each whatever their number (SessionTexts) and only looked up when someone looks at the mark.
struct Mark {
    std::int64_t unixMicros = 0;
    std::uint32_t firstLine = 0;  // its log lines: SessionTexts lines from here
    std::uint32_t bytes = 0;      // its bytes: a SessionTexts byte sequence
    MarkKind kind = MarkKind::Other;
    Lane lane = Lane::Acceptor;
    std::uint8_t detail = 0;  // the status code, the channel 1..16, or the byte
    std::uint8_t flags = 0;   // kStandsForMore, kLate
    std::uint8_t lineCount = 0;
};
static_assert(sizeof(Mark) == 24);
// A mark that also stands for later events of its row that memory could not keep.
inline constexpr std::uint8_t kStandsForMore = 1;
// An answer that came after the note it answers had ended.
inline constexpr std::uint8_t kLate = 2;

// How a note's time in escrow ended.
enum class EscrowEnd : std::uint8_t {
    Stacked,
    Returned,    // after the host rejected it
    HandedBack,  // the acceptor returned it with no decision from the host
    Undecided,   // nothing ended it before the next note or the end of the session
};

struct EscrowSpan {
    std::int64_t heldMicros = 0;
    std::int64_t endMicros = 0;  // stacked or returned; for an undecided one, where it stops
    std::uint8_t channel = 0;    // 1..16
    EscrowEnd end = EscrowEnd::Undecided;
};

struct Silence {
    std::int64_t fromMicros = 0;
    std::int64_t toMicros = 0;
};

// The rows of the timeline, top to bottom: the acceptor's lane, then the host's.
enum class Row : std::uint8_t {
    PowerUp,
    Status,
    Escrow,
    Stacked,
    Returned,
    AcceptorOther,
    Poll,
    Accept,
    Reject,
    HostOther,
};
inline constexpr int kRowCount = 10;
inline constexpr int kAcceptorRows = 6;

// The row a mark is drawn in.
Row RowOf(MarkKind kind, Lane lane);

}  // namespace norva::picture
