#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/result.h"
#include "capture/traffic_reading.h"
#include "picture/session_picture.h"

namespace norva {
class TrafficRecord;
}

namespace norva::picture {

// The one adapter from the reading of traffic to the picture: each event becomes a mark with
// its lines and bytes, a silence, or a step of a note's escrow span; the numbers are the
// reading's tallies as they stand. Hand OnEvent to the reading as its visitor.
class PictureFiller {
public:
    explicit PictureFiller(SessionPicture& picture) : picture_(picture) {}

    void OnEvent(const TrafficEvent& event);
    // The tallies into the picture's numbers and histograms, then the picture's index. Call
    // after the reading's own Finish for a whole session; any time for a live one.
    void Finish(const TrafficTallies& tallies, bool sessionOver);

private:
    void EndSpan(std::int64_t at, EscrowEnd end);

    SessionPicture& picture_;
    std::optional<EscrowSpan> open_;
    std::optional<AnswerKind> decision_;
    std::array<std::optional<std::int64_t>, kChannels> values_{};
};

// A capture file, the bench's or a tap's, read one line at a time. A failure carries the
// reader's words: Describe() gives "FILE:LINE: why", or "FILE: cannot read: why". `stop` ends the
// reading early when set from another thread; the picture then holds what was read.
Result<std::shared_ptr<SessionPicture>> PictureOfCapture(const std::string& fileName,
                                                         const std::atomic<bool>* stop = nullptr);

// The bench's own session, followed in its traffic record: each Update reads what the record
// gained since the last one, at most `maxEvents` at a time (More() then says so), or all of it
// again once the record was cleared or trimmed. `values` are the note values the credit is
// counted with, as the window's channels carry them.
class RecordPicture {
public:
    RecordPicture(std::string title, std::optional<std::array<std::string, 16>> values);

    // False when the record had nothing new.
    bool Update(const TrafficRecord& record, std::size_t maxEvents = kEventsAtOnce);
    bool More() const { return more_; }
    std::shared_ptr<const SessionPicture> picture() const { return picture_; }

    // A turn of the event loop spends at most about this long on it (a fortieth of a second).
    static constexpr std::size_t kEventsAtOnce = 100'000;

private:
    void Restart();

    std::string title_;
    std::optional<std::array<std::string, 16>> values_;
    std::shared_ptr<SessionPicture> picture_;
    std::unique_ptr<PictureFiller> filler_;
    std::unique_ptr<TrafficReading> reading_;
    std::size_t fed_ = 0;
    std::int64_t lastFedMicros_ = 0;
    bool more_ = false;
};

}  // namespace norva::picture
