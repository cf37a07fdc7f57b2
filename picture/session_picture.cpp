#include "picture/session_picture.h"

#include <unistd.h>

#include <algorithm>

namespace norva::picture {

Row RowOf(MarkKind kind, Lane lane) {
    if (lane == Lane::Host) {
        switch (kind) {
            case MarkKind::Poll:
                return Row::Poll;
            case MarkKind::HostAccept:
                return Row::Accept;
            case MarkKind::HostReject:
                return Row::Reject;
            default:
                return Row::HostOther;
        }
    }
    switch (kind) {
        case MarkKind::PowerUp:
            return Row::PowerUp;
        case MarkKind::StatusCode:
            return Row::Status;
        case MarkKind::EscrowHeld:
            return Row::Escrow;
        case MarkKind::Stacked:
            return Row::Stacked;
        case MarkKind::Returned:
            return Row::Returned;
        default:
            return Row::AcceptorOther;
    }
}

std::size_t SessionPicture::DefaultMarkCapacity() {
    // A quarter of the machine's memory at most, so a capture of any length opens.
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return std::size_t(1) << 24;
    return std::size_t(pages) / 4 * std::size_t(pageSize) / sizeof(Mark);
}

SessionPicture::SessionPicture(std::size_t markCapacity)
    : markCapacity_(std::max<std::size_t>(markCapacity, 16)) {}

void SessionPicture::Clear() {
    *this = SessionPicture(markCapacity_);
}

void SessionPicture::AddMark(const Mark& mark) {
    Mark placed = mark;
    if (!marks_.empty()) placed.unixMicros = std::max(placed.unixMicros, marks_.back().unixMicros);
    if (thinWindowMicros_ > 0 && !KeptUnderThinning(placed)) return;
    marks_.push_back(placed);
    if (marks_.size() >= markCapacity_) Thin();
}

// Under thinning a row keeps one mark a window; the kept one stands for the rest.
bool SessionPicture::KeptUnderThinning(const Mark& mark) {
    const auto row = std::size_t(RowOf(mark.kind, mark.lane));
    const std::int64_t window = (mark.unixMicros - thinOriginMicros_) / thinWindowMicros_;
    if (window == lastKeptWindow_[row]) {
        marks_[lastKeptIndex_[row]].flags |= kStandsForMore;
        return false;
    }
    lastKeptWindow_[row] = window;
    lastKeptIndex_[row] = marks_.size();
    return true;
}

void SessionPicture::Thin() {
    const std::int64_t origin =
        thinWindowMicros_ > 0 ? thinOriginMicros_ : marks_.front().unixMicros;
    const std::int64_t span = marks_.back().unixMicros - origin + 1;
    std::int64_t window =
        std::max<std::int64_t>({thinWindowMicros_ * 2, span / std::int64_t(markCapacity_ / 4), 1});
    std::vector<Mark> kept;
    for (;;) {
        kept.clear();
        lastKeptWindow_.fill(-1);
        for (const Mark& mark : marks_) {
            const auto row = std::size_t(RowOf(mark.kind, mark.lane));
            const std::int64_t w = (mark.unixMicros - origin) / window;
            if (w == lastKeptWindow_[row]) {
                kept[lastKeptIndex_[row]].flags |= kStandsForMore;
                continue;
            }
            lastKeptWindow_[row] = w;
            lastKeptIndex_[row] = kept.size();
            kept.push_back(mark);
        }
        if (kept.size() <= markCapacity_ / 2) break;
        window *= 2;
    }
    thinWindowMicros_ = window;
    thinOriginMicros_ = origin;
    marks_ = std::move(kept);
}

void SessionPicture::ClearHistograms() {
    answers_.Clear();
    holds_.Clear();
    handBacks_.Clear();
}

void SessionPicture::Compact() {
    marks_.shrink_to_fit();
    escrows_.shrink_to_fit();
    silences_.shrink_to_fit();
    texts_.Compact();
}

void SessionPicture::AddEscrow(const EscrowSpan& span) {
    escrows_.push_back(span);
}

void SessionPicture::AddSilence(const Silence& silence) {
    silences_.push_back(silence);
}

std::int64_t SessionPicture::SpanStart() const {
    std::int64_t start = numbers_.firstMicros;
    const auto take = [&](std::int64_t t) { start = start == 0 ? t : std::min(start, t); };
    if (!marks_.empty()) take(marks_.front().unixMicros);
    if (!escrows_.empty()) take(escrows_.front().heldMicros);
    if (!silences_.empty()) take(silences_.front().fromMicros);
    return start;
}

std::int64_t SessionPicture::SpanEnd(std::int64_t start) const {
    std::int64_t end = std::max(numbers_.lastMicros, start);
    if (!marks_.empty()) end = std::max(end, marks_.back().unixMicros);
    for (const EscrowSpan& span : escrows_)
        end = std::max(end, span.endMicros);
    if (!silences_.empty()) end = std::max(end, silences_.back().toMicros);
    return end;
}

void SessionPicture::Finish() {
    startMicros_ = SpanStart();
    endMicros_ = SpanEnd(startMicros_);
    columns_.Build(marks_, escrows_, startMicros_, endMicros_);
}

std::size_t SessionPicture::MemoryBytes() const {
    return sizeof(*this) + marks_.capacity() * sizeof(Mark) +
           escrows_.capacity() * sizeof(EscrowSpan) + silences_.capacity() * sizeof(Silence) +
           std::size_t(kAnswerAxis.Bins() + 2 * kHoldAxis.Bins()) * sizeof(std::uint64_t) +
           title_.capacity() + source_.capacity() + columns_.MemoryBytes() + texts_.MemoryBytes();
}

}  // namespace norva::picture
