#include "app/log_line_times.h"

#include <QDateTime>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace norva {

namespace {

constexpr std::uint32_t kSerialMask = 0x7FFFFFFF;
// Reasons are few ("no port open", a write that failed); past this many the last one stands in.
constexpr std::size_t kMostReasons = 64;

QString WallClock(std::int64_t unixMicros) {
    const std::int64_t micros = ((unixMicros % 1'000'000) + 1'000'000) % 1'000'000;
    const QDateTime at = QDateTime::fromSecsSinceEpoch((unixMicros - micros) / 1'000'000);
    return at.toString(QStringLiteral("hh:mm:ss.")) +
           QStringLiteral("%1").arg(micros, 6, 10, QLatin1Char('0'));
}

std::uint8_t TextCheck(const QString& text, qsizetype length) {
    std::uint8_t check = 0;
    for (qsizetype i = 0; i < length; ++i)
        check = static_cast<std::uint8_t>(check * 31 + text[i].unicode());
    return check;
}

}  // namespace

void LogLineTimes::Add(const QString& line, std::int64_t nowMicros, std::int64_t blockMicros,
                       std::size_t blockSize) {
    LineTime time{};
    time.appendedMicros = nowMicros;
    time.textLength = static_cast<std::uint8_t>(std::min<qsizetype>(line.size(), 255));
    time.textCheck = TextCheck(line, time.textLength);
    if (blockSize > 0) {
        const std::int64_t lag = std::clamp<std::int64_t>(nowMicros - blockMicros, 0, UINT32_MAX);
        time.blockLagOrReason = static_cast<std::uint32_t>(lag);
        time.blockSize = static_cast<std::uint16_t>(std::min<std::size_t>(blockSize, UINT16_MAX));
    }
    pending_.push_back(time);
}

void LogLineTimes::MarkLastNotWritten(const QString& reason) {
    LineTime* last = !pending_.empty() ? &pending_.back()
                     : !times_.empty() ? &times_.back()
                                       : nullptr;
    if (last == nullptr || last->blockSize > 0) return;
    auto known = std::find(reasons_.begin(), reasons_.end(), reason);
    if (known == reasons_.end() && reasons_.size() < kMostReasons)
        known = reasons_.insert(reasons_.end(), reason);
    else if (known == reasons_.end())
        known = reasons_.end() - 1;
    last->blockLagOrReason = static_cast<std::uint32_t>(known - reasons_.begin()) + 1;
}

void LogLineTimes::Commit(QTextDocument& document) {
    const std::uint32_t firstNew =
        (firstSerial_ + static_cast<std::uint32_t>(times_.size())) & kSerialMask;
    QTextBlock block = document.lastBlock();
    for (std::size_t i = pending_.size(); i-- > 0 && block.isValid(); block = block.previous())
        block.setUserState(
            static_cast<int>((firstNew + static_cast<std::uint32_t>(i)) & kSerialMask));
    times_.insert(times_.end(), pending_.begin(), pending_.end());
    pending_.clear();
}

// All the times before that of the first timed line left are gone with their lines.
void LogLineTimes::ForgetRemoved(const QTextDocument& document) {
    std::uint32_t keepFrom =
        (firstSerial_ + static_cast<std::uint32_t>(times_.size())) & kSerialMask;
    for (QTextBlock left = document.begin(); left.isValid(); left = left.next()) {
        if (IndexOf(left.userState()) < times_.size()) {
            keepFrom = static_cast<std::uint32_t>(left.userState());
            break;
        }
    }
    const std::size_t gone =
        std::min<std::size_t>((keepFrom - firstSerial_) & kSerialMask, times_.size());
    times_.erase(times_.begin(), times_.begin() + static_cast<std::ptrdiff_t>(gone));
    firstSerial_ = keepFrom;
}

void LogLineTimes::Clear() {
    pending_.clear();
    times_ = {};
    firstSerial_ = 0;
    reasons_.clear();
}

// A line the operator split, joined or typed over may hold another text at the place the
// appended line had; its time then belongs to nobody.
bool LogLineTimes::Matches(const LineTime& time, const QString& text) {
    return text.size() >= time.textLength && TextCheck(text, time.textLength) == time.textCheck;
}

std::size_t LogLineTimes::IndexOf(int userState) const {
    if (userState < 0) return times_.size();
    const std::uint32_t index =
        (static_cast<std::uint32_t>(userState) - firstSerial_) & kSerialMask;
    return std::min<std::size_t>(index, times_.size());
}

QString LogLineTimes::Describe(const QTextBlock& block) const {
    const std::size_t index = IndexOf(block.userState());
    if (index >= times_.size() || !Matches(times_[index], block.text())) return {};
    const LineTime* time = &times_[index];
    QStringList parts;
    QString when = WallClock(time->appendedMicros);
    if (index > 0) {
        const double sinceMs =
            static_cast<double>(time->appendedMicros - times_[index - 1].appendedMicros) / 1000.0;
        when += QStringLiteral(", %1%2 ms")
                    .arg(sinceMs >= 0 ? QStringLiteral("+") : QString())
                    .arg(sinceMs, 0, 'f', 3);
    }
    parts << when;
    if (time->blockSize > 0 && time->blockLagOrReason == UINT32_MAX) {
        parts << QStringLiteral("block of %1 bytes").arg(time->blockSize);  // lag too long
    } else if (time->blockSize > 0) {
        parts << QStringLiteral("block of %1 bytes, first byte at %2")
                     .arg(time->blockSize)
                     .arg(WallClock(time->appendedMicros - time->blockLagOrReason));
    } else if (time->blockLagOrReason > 0) {
        parts << QStringLiteral("not written: ") + reasons_[time->blockLagOrReason - 1];
    }
    return parts.join(u'\n');
}

}  // namespace norva
