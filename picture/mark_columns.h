#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/marks.h"

namespace norva::picture {

// Bits of a column: one per row that has a mark there, then one per kind of escrow end whose
// span covers it.
using RowMask = std::uint16_t;
constexpr RowMask RowBit(Row row) {
    return RowMask(1u << unsigned(row));
}
constexpr RowMask SpanBit(EscrowEnd end) {
    return RowMask(1u << (unsigned(kRowCount) + unsigned(end)));
}

// What a pixel column of the timeline can show, built once over the whole session: for each
// bucket of time, which rows have a mark in it and which escrow spans cross it, at the finest
// resolution worth keeping and at every halving of it. A view of any width and zoom then costs
// a few buckets a column, whatever the number of marks.
class MarkColumns {
public:
    void Build(const std::vector<Mark>& marks, const std::vector<EscrowSpan>& spans,
               std::int64_t startMicros, std::int64_t endMicros);
    void Clear();

    // The rows shown in each of `columns` equal columns that split [fromMicros, toMicros). A mark
    // lands in one column: its own, or when the finest buckets are nearly as wide as a column, at
    // most the one before. Zoomed in past the finest buckets, a column packed with more marks
    // than are worth reading one by one shows every row of the buckets around it.
    void Masks(const std::vector<Mark>& marks, double fromMicros, double toMicros, int columns,
               std::vector<RowMask>& out) const;

    std::size_t MemoryBytes() const;
    std::int64_t bucketMicros() const { return bucketMicros_; }

private:
    void FineMasks(const std::vector<Mark>& marks, double fromMicros, double columnMicros,
                   int columns, std::vector<RowMask>& out) const;
    RowMask FinestAt(double micros) const;

    std::int64_t startMicros_ = 0;
    std::int64_t bucketMicros_ = 1;  // of level 0
    std::vector<std::vector<RowMask>> levels_;
};

}  // namespace norva::picture
