#pragma once

#include <QString>

#include <cstdint>
#include <deque>
#include <vector>

class QTextBlock;
class QTextDocument;

namespace norva {

// When each line of the log pane was appended, and for a received line its block; 16 bytes a
// line beside Qt's text. Each appended line carries a serial number in its block's user state,
// and its time is found by it; a line the operator edited into another text has none.
class LogLineTimes {
public:
    // A line on its way into the pane; blockSize 0 for a line that is not a received one.
    void Add(const QString& line, std::int64_t nowMicros, std::int64_t blockMicros,
             std::size_t blockSize);
    // The line added last stands for a byte that did not go out, for this reason.
    void MarkLastNotWritten(const QString& reason);
    // The lines added since the last commit are now the document's last blocks, in order.
    void Commit(QTextDocument& document);
    // Forgets the times of the lines that went from the top of the document.
    void ForgetRemoved(const QTextDocument& document);
    void Clear();

    std::size_t Count() const { return times_.size() + pending_.size(); }
    static constexpr std::size_t kBytesPerLine = 16;

    // The tooltip's lines for this block: its time and the gap to the line before, its block,
    // whether its byte went out; empty for a line without a time.
    QString Describe(const QTextBlock& block) const;

private:
    struct LineTime {
        std::int64_t appendedMicros;
        // A received line: its block's first byte to this line, saturated. Any other line: 0
        // when written, else the index of its reason plus one.
        std::uint32_t blockLagOrReason;
        std::uint16_t blockSize;  // 0: not a received line
        std::uint8_t textLength;  // the line as appended, to tell an edited-away line
        std::uint8_t textCheck;
    };
    static_assert(sizeof(LineTime) == kBytesPerLine);

    static bool Matches(const LineTime& time, const QString& text);
    // The index in times_ of the line with this user state; times_.size() when none.
    std::size_t IndexOf(int userState) const;

    std::vector<LineTime> pending_;
    std::deque<LineTime> times_;
    std::uint32_t firstSerial_ = 0;  // serial of times_.front(), modulo 2^31
    std::vector<QString> reasons_;
};

}  // namespace norva
