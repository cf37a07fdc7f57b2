#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "picture/histogram.h"
#include "picture/mark_columns.h"
#include "picture/marks.h"
#include "picture/session_texts.h"

namespace norva::picture {

// The summary figures of a set of samples, in milliseconds.
struct Spread {
    std::uint64_t count = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
};

struct ChannelNumbers {
    std::uint64_t held = 0;
    std::uint64_t stacked = 0;
    std::uint64_t returned = 0;
    std::uint64_t refused = 0;
    std::optional<std::int64_t> value;   // where the reading knows the value table
    std::optional<std::int64_t> credit;  // what the channel's stacked notes brought
};

inline constexpr int kChannels = 16;

// Every number the picture writes, as the reading of the traffic tallied it.
struct SessionNumbers {
    std::array<ChannelNumbers, kChannels> channels{};
    std::uint64_t stacked = 0;             // in all, those no escrow message announced too
    std::uint64_t stackedUnannounced = 0;  // stacks no escrow message announced
    std::uint64_t returned = 0;
    // Why notes were refused, where the reading knows the host's settings.
    std::uint64_t refusedUnticked = 0;
    std::uint64_t refusedNotANumber = 0;
    std::uint64_t rejectedByDecision = 0;
    std::optional<std::int64_t> credit;
    std::map<std::uint8_t, std::uint64_t> statusCodes;
    std::uint64_t powerUps = 0;
    std::uint64_t silences = 0;
    std::uint64_t handBacks = 0;
    std::uint64_t lateAnswers = 0;
    std::uint64_t undecidedEscrows = 0;
    std::uint64_t bytesIgnored = 0;
    Spread answerLatencyMs;
    Spread escrowHoldMs;
    std::int64_t firstMicros = 0;
    std::int64_t lastMicros = 0;
    std::uint64_t events = 0;
    std::uint64_t lines = 0;
};

// Silences at least this long stand out on the timeline.
inline constexpr std::int64_t kStandOutSilenceMicros = 10'000'000;

// The picture's own compact model of a session: the marks of the timeline in time order, the
// escrow spans, the silences, the two histograms and the reading's numbers.
// Filled by an adapter from the reading, then Finish() builds what the drawing needs to stay
// fast at any zoom. Memory stays near 32 bytes an event: past `markCapacity` marks, marks of
// one row closer together than a pixel of the whole session could show are merged.
class SessionPicture {
public:
    explicit SessionPicture(std::size_t markCapacity = DefaultMarkCapacity());

    // A mark earlier than the one before it (two inputs of a tap) is placed at that one's time,
    // so the timeline stays in order; its detail keeps its own.
    void AddMark(const Mark& mark);
    void AddEscrow(const EscrowSpan& span);
    void AddSilence(const Silence& silence);
    void AddAnswerLatency(double ms, std::uint64_t count = 1) { answers_.Add(ms, count); }
    // Held to the host's decision, or to the acceptor's hand-back.
    void AddHoldTime(double ms, bool handedBack, std::uint64_t count = 1) {
        (handedBack ? handBacks_ : holds_).Add(ms, count);
    }
    void ClearHistograms();
    SessionNumbers& numbers() { return numbers_; }
    SessionTexts& texts() { return texts_; }
    void SetTitle(std::string title) { title_ = std::move(title); }
    // The devices the traffic was heard on: a port, or a tap's two inputs.
    void SetSource(std::string source) { source_ = std::move(source); }

    // Builds the column index over what was added; call again after adding more.
    void Finish();
    // Gives back what growing left unused, once nothing more will be added.
    void Compact();
    void Clear();

    const std::vector<Mark>& marks() const { return marks_; }
    const std::vector<EscrowSpan>& escrows() const { return escrows_; }
    const std::vector<Silence>& silences() const { return silences_; }
    const Histogram& answers() const { return answers_; }
    const Histogram& holds() const { return holds_; }
    const Histogram& handBacks() const { return handBacks_; }
    const SessionNumbers& numbers() const { return numbers_; }
    const SessionTexts& texts() const { return texts_; }
    const std::string& title() const { return title_; }
    const std::string& source() const { return source_; }
    const MarkColumns& columns() const { return columns_; }
    bool thinned() const { return thinWindowMicros_ > 0; }

    // The time range the session covers as of Finish(): its numbers' span, widened to every
    // mark, span and silence.
    std::int64_t startMicros() const { return startMicros_; }
    std::int64_t endMicros() const { return endMicros_; }

    // Everything held, for the bytes-an-event figure.
    std::size_t MemoryBytes() const;

    static std::size_t DefaultMarkCapacity();

private:
    void Thin();
    bool KeptUnderThinning(const Mark& mark);
    std::int64_t SpanStart() const;
    std::int64_t SpanEnd(std::int64_t start) const;

    std::size_t markCapacity_;
    std::vector<Mark> marks_;
    std::vector<EscrowSpan> escrows_;
    std::vector<Silence> silences_;
    Histogram answers_{kAnswerAxis};
    Histogram holds_{kHoldAxis};
    Histogram handBacks_{kHoldAxis};
    SessionNumbers numbers_;
    SessionTexts texts_;
    std::string title_;
    std::string source_;
    MarkColumns columns_;
    std::int64_t startMicros_ = 0;
    std::int64_t endMicros_ = 0;
    std::int64_t thinWindowMicros_ = 0;
    std::int64_t thinOriginMicros_ = 0;
    std::array<std::int64_t, kRowCount> lastKeptWindow_{};
    std::array<std::size_t, kRowCount> lastKeptIndex_{};
};

}  // namespace norva::picture
