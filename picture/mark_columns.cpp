#include "picture/mark_columns.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace norva::picture {

namespace {

// About two marks a bucket at the finest level: finer would cost memory and show nothing more.
constexpr std::size_t kFewestBuckets = 1024;
constexpr std::size_t kMostBuckets = std::size_t(1) << 22;
constexpr double kBucketsPerColumn = 8;
// A column with more marks than this is read from the buckets instead of mark by mark.
constexpr std::ptrdiff_t kScanLimit = 64;

std::size_t BucketCount(std::size_t marks) {
    return std::clamp(std::bit_ceil(std::max<std::size_t>(marks / 2, 1)), kFewestBuckets,
                      kMostBuckets);
}

}  // namespace

void MarkColumns::Clear() {
    levels_.clear();
    startMicros_ = 0;
    bucketMicros_ = 1;
}

void MarkColumns::Build(const std::vector<Mark>& marks, const std::vector<EscrowSpan>& spans,
                        std::int64_t startMicros, std::int64_t endMicros) {
    Clear();
    startMicros_ = startMicros;
    const std::int64_t span = std::max<std::int64_t>(endMicros - startMicros, 0) + 1;
    const auto wanted = std::int64_t(BucketCount(marks.size()));
    bucketMicros_ = std::max<std::int64_t>(1, (span + wanted - 1) / wanted);
    const auto count = std::size_t((span + bucketMicros_ - 1) / bucketMicros_);
    std::vector<RowMask> finest(count, 0);
    const auto bucketOf = [&](std::int64_t micros) {
        const std::int64_t i = (micros - startMicros_) / bucketMicros_;
        return std::size_t(std::clamp<std::int64_t>(i, 0, std::int64_t(count) - 1));
    };
    for (const Mark& mark : marks)
        finest[bucketOf(mark.unixMicros)] |= RowBit(RowOf(mark.kind, mark.lane));
    for (std::size_t i = 0; i < spans.size(); ++i) {
        // Spans follow one another; one left open stops where the next begins, so the whole
        // pass stays within a bucket or two for each span.
        std::int64_t end = spans[i].endMicros;
        if (i + 1 < spans.size())
            end = std::min(end, std::max(spans[i + 1].heldMicros, spans[i].heldMicros));
        const RowMask bit = SpanBit(spans[i].end);
        for (std::size_t b = bucketOf(spans[i].heldMicros), last = bucketOf(end); b <= last; ++b)
            finest[b] |= bit;
    }
    levels_.push_back(std::move(finest));
    while (levels_.back().size() > 1) {
        const std::vector<RowMask>& below = levels_.back();
        std::vector<RowMask> above((below.size() + 1) / 2, 0);
        for (std::size_t i = 0; i < below.size(); ++i)
            above[i / 2] |= below[i];
        levels_.push_back(std::move(above));
    }
}

RowMask MarkColumns::FinestAt(double micros) const {
    if (levels_.empty()) return 0;
    const std::vector<RowMask>& finest = levels_.front();
    const double i = std::floor((micros - double(startMicros_)) / double(bucketMicros_));
    if (i < 0 || i >= double(finest.size())) return 0;
    return finest[std::size_t(i)];
}

void MarkColumns::Masks(const std::vector<Mark>& marks, double fromMicros, double toMicros,
                        int columns, std::vector<RowMask>& out) const {
    out.assign(std::size_t(std::max(columns, 0)), 0);
    if (columns <= 0 || levels_.empty() || !(toMicros > fromMicros)) return;
    const double columnMicros = (toMicros - fromMicros) / columns;
    if (double(bucketMicros_) > columnMicros) {
        FineMasks(marks, fromMicros, columnMicros, columns, out);
        return;
    }
    // The coarsest level with several buckets a column, so a mark lands at most a fraction of
    // a column away from its place.
    std::size_t level = 0;
    while (level + 1 < levels_.size() &&
           double(bucketMicros_ << (level + 1)) * kBucketsPerColumn <= columnMicros)
        ++level;
    const std::vector<RowMask>& buckets = levels_[level];
    const double width = double(bucketMicros_ << level);
    const double origin = double(startMicros_);
    const auto first = std::int64_t(std::max(0.0, std::floor((fromMicros - origin) / width)));
    const auto last = std::min<std::int64_t>(std::int64_t(buckets.size()) - 1,
                                             std::int64_t(std::floor((toMicros - origin) / width)));
    for (std::int64_t b = first; b <= last; ++b) {
        const RowMask mask = buckets[std::size_t(b)];
        if (mask == 0) continue;
        // A bucket goes to the column its start falls in, or the first for one begun before.
        const double at = origin + double(b) * width;
        const auto column = std::int64_t(std::floor((at - fromMicros) / columnMicros));
        out[std::size_t(std::clamp<std::int64_t>(column, 0, columns - 1))] |= mask;
    }
}

// Zoomed in past the finest buckets: the marks themselves, unless a flood packs a column.
void MarkColumns::FineMasks(const std::vector<Mark>& marks, double fromMicros, double columnMicros,
                            int columns, std::vector<RowMask>& out) const {
    const auto earlier = [](const Mark& mark, double micros) {
        return double(mark.unixMicros) < micros;
    };
    auto it = std::lower_bound(marks.begin(), marks.end(), fromMicros, earlier);
    for (int c = 0; c < columns && it != marks.end(); ++c) {
        const double end = fromMicros + (c + 1) * columnMicros;
        const auto stop = std::lower_bound(it, marks.end(), end, earlier);
        RowMask mask = 0;
        if (stop - it <= kScanLimit) {
            for (auto m = it; m != stop; ++m)
                mask |= RowBit(RowOf(m->kind, m->lane));
        } else {
            mask = FinestAt(fromMicros + c * columnMicros) | FinestAt(end);
        }
        const RowMask spans = FinestAt(fromMicros + (c + 0.5) * columnMicros);
        out[std::size_t(c)] = mask | RowMask(spans & ~RowMask((1u << kRowCount) - 1));
        it = stop;
    }
    // Columns past the last mark can still be crossed by a span.
    for (int c = 0; c < columns; ++c) {
        if (out[std::size_t(c)] != 0) continue;
        const RowMask spans = FinestAt(fromMicros + (c + 0.5) * columnMicros);
        out[std::size_t(c)] = RowMask(spans & ~RowMask((1u << kRowCount) - 1));
    }
}

std::size_t MarkColumns::MemoryBytes() const {
    std::size_t bytes = levels_.capacity() * sizeof(std::vector<RowMask>);
    for (const auto& level : levels_)
        bytes += level.capacity() * sizeof(RowMask);
    return bytes;
}

}  // namespace norva::picture
