#include "capture/traffic_reading.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "base/hex.h"
#include "billvalues/bill_values.h"
#include "capture/capture_format.h"
#include "protocol/shared_state.h"
#include "serial/line_mode.h"

namespace norva {

namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int32_t kCreditModulus = 100'000'000;  // the 8-digit display
// Answers owed at once beyond this are taken as never to come, oldest first.
constexpr std::size_t kOwedLimit = 4096;
// Buckets beyond the exact samples: values below kExactBelow one each, then 1024 a doubling.
constexpr std::int64_t kExactBelow = 2048;
constexpr int kSubBucketBits = 10;

std::int64_t NonNegative(std::int64_t micros) {
    return micros < 0 ? 0 : micros;
}

std::int64_t Difference(std::int64_t later, std::int64_t earlier) {
    // Two's complement wraps only for times no clock or capture gives; keep it defined anyway.
    return NonNegative(static_cast<std::int64_t>(static_cast<std::uint64_t>(later) -
                                                 static_cast<std::uint64_t>(earlier)));
}

std::int32_t CreditAfter(std::int32_t credit, std::int32_t added) {
    const std::int64_t sum = WrappingAdd(credit, added);
    return static_cast<std::int32_t>((sum < 0 ? -sum : sum) % kCreditModulus);
}

std::size_t BucketOf(std::int64_t v) {
    if (v < kExactBelow) return static_cast<std::size_t>(v);
    const int shift = std::bit_width(static_cast<std::uint64_t>(v)) - (kSubBucketBits + 1);
    const auto mantissa = static_cast<std::size_t>(v >> shift) - (std::size_t{1} << kSubBucketBits);
    return static_cast<std::size_t>(kExactBelow) +
           (static_cast<std::size_t>(shift) - 1) * (std::size_t{1} << kSubBucketBits) + mantissa;
}

std::int64_t BucketLowerEdge(std::size_t index) {
    if (index < static_cast<std::size_t>(kExactBelow)) return static_cast<std::int64_t>(index);
    const std::size_t k = index - static_cast<std::size_t>(kExactBelow);
    const std::size_t shift = (k >> kSubBucketBits) + 1;
    const std::size_t mantissa =
        (k & ((std::size_t{1} << kSubBucketBits) - 1)) + (std::size_t{1} << kSubBucketBits);
    return static_cast<std::int64_t>(mantissa << shift);
}

int LinesOf(EventKind kind) {
    switch (kind) {
        case EventKind::PortOpened:
        case EventKind::Ignored:
        case EventKind::Silence:
            return 0;
        case EventKind::PowerUp:
            return 2;
        default:
            return 1;
    }
}

std::optional<Scanned> ScannedKindOf(EventKind kind) {
    switch (kind) {
        case EventKind::PowerUp:
            return Scanned::PowerUp;
        case EventKind::EscrowHeld:
            return Scanned::Escrow;
        case EventKind::Stacked:
            return Scanned::Stacked;
        case EventKind::Returned:
            return Scanned::Returned;
        case EventKind::StatusCode:
            return Scanned::Status;
        case EventKind::LoggedOnly:
            return Scanned::LoggedOnly;
        case EventKind::AckRequest:
            return Scanned::AckRequest;
        default:
            return std::nullopt;
    }
}

}  // namespace

std::string HostLine(std::uint8_t byte) {
    const std::string_view named = wire::SentLine(byte);
    if (!named.empty()) return std::string(named);
    // The poll's line with this byte's digits in place of its own.
    const std::string_view form = wire::SentLine(wire::kPoll);
    std::string line(form.substr(0, form.size() - 3));
    AppendHexByte(line, byte);
    line += ']';
    return line;
}

std::vector<std::string> LogLines(const TrafficEvent& event) {
    std::vector<std::string> lines;
    if (const auto scanned = ScannedKindOf(event.kind)) {
        ScannedByte s;
        s.kind = *scanned;
        s.byte = event.kind == EventKind::EscrowHeld ? wire::kEscrowLead : event.byte;
        s.channelByte = event.byte;
        ForEachReceivedLine(s, [&](const std::string& line) { lines.push_back(line); });
    } else if (LinesOf(event.kind) == 1) {
        lines.push_back(HostLine(event.byte));
    }
    return lines;
}

void DurationTally::Add(std::int64_t micros) {
    micros = NonNegative(micros);
    ++count_;
    max_ = std::max(max_, micros);
    if (buckets_.empty()) {
        sorted_ = sorted_ && (samples_.empty() || samples_.back() <= micros);
        samples_.push_back(micros);
        if (samples_.size() <= kExactLimit) return;
        // Past the limit every sample moves into the buckets, and the samples' memory goes.
        const std::vector<std::int64_t> all = std::move(samples_);
        samples_ = {};
        buckets_.resize(BucketOf(max_) + 1);
        for (const std::int64_t v : all)
            ++buckets_[BucketOf(v)];
        return;
    }
    const std::size_t index = BucketOf(micros);
    if (index >= buckets_.size()) buckets_.resize(index + 1);
    ++buckets_[index];
}

std::int64_t DurationTally::Quantile(double q) const {
    if (count_ == 0) return 0;
    const double rank = std::ceil(q * static_cast<double>(count_));
    const std::uint64_t index =
        std::min<std::uint64_t>(rank < 1 ? 0 : static_cast<std::uint64_t>(rank) - 1, count_ - 1);
    if (buckets_.empty()) {
        if (!sorted_) {
            std::sort(samples_.begin(), samples_.end());
            sorted_ = true;
        }
        return samples_[index];
    }
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < buckets_.size(); ++i) {
        seen += buckets_[i];
        if (seen > index) return BucketLowerEdge(i);
    }
    return max_;
}

void DurationTally::ForEachValue(
    const std::function<void(std::int64_t, std::uint64_t)>& visit) const {
    if (buckets_.empty()) {
        if (!sorted_) {
            std::sort(samples_.begin(), samples_.end());
            sorted_ = true;
        }
        for (std::size_t i = 0; i < samples_.size();) {
            std::size_t j = i;
            while (j < samples_.size() && samples_[j] == samples_[i])
                ++j;
            visit(samples_[i], j - i);
            i = j;
        }
        return;
    }
    for (std::size_t i = 0; i < buckets_.size(); ++i) {
        if (buckets_[i] != 0) visit(BucketLowerEdge(i), buckets_[i]);
    }
}

std::size_t DurationTally::MemoryBytes() const {
    return samples_.capacity() * sizeof(std::int64_t) + buckets_.capacity() * sizeof(std::uint64_t);
}

TrafficReading::TrafficReading(ReadingOptions options, Visitor visit)
    : options_(std::move(options)), visit_(std::move(visit)) {
    if (options_.host || options_.values) tallies_.credit = 0;
}

void TrafficReading::SetHost(std::optional<HostProfile> host) {
    options_.host = std::move(host);
    if (options_.host && !tallies_.credit) tallies_.credit = 0;
}

std::size_t TrafficReading::MemoryBytes() const {
    std::size_t bytes = sizeof(*this) + owed_.capacity() * sizeof(Owed) + scanner_.MemoryBytes();
    for (const DurationTally* d : {&tallies_.answerLatency, &tallies_.heldToDecision,
                                   &tallies_.decisionToOutcome, &tallies_.heldToHandBack}) {
        bytes += d->MemoryBytes();
    }
    return bytes;
}

void TrafficReading::Emit(TrafficEvent& event) {
    event.sequence = tallies_.events++;
    tallies_.logLines += static_cast<std::uint64_t>(LinesOf(event.kind));
    if (visit_) visit_(event);
}

void TrafficReading::Touch(std::int64_t time) {
    if (pendingPort_) {
        port_ = std::move(*pendingPort_);
        pendingPort_.reset();
        TrafficEvent e;
        e.kind = EventKind::PortOpened;
        e.first = e.time = e.since = time;
        e.port = &port_;
        silenceFrom_ = time;
        Emit(e);
    }
    if (silenceFrom_ == kTimeUnknown) silenceFrom_ = time;
    if (tallies_.firstTime == kTimeUnknown || time < tallies_.firstTime) tallies_.firstTime = time;
    if (tallies_.lastTime == kTimeUnknown || time > tallies_.lastTime) tallies_.lastTime = time;
}

void TrafficReading::PortOpened(std::int64_t unixMicros, const PortIdentity& port) {
    // A new stretch of traffic: what the last port left unfinished is not continued here.
    scanner_.DropHeldTail();
    owed_.clear();
    owedHead_ = 0;
    pendingLast_.reset();
    const std::optional<LineMode> mode = ParseModeString(port.modeString);
    const LineMode m = mode.value_or(LineMode{});
    baud_ = m.baud.value_or(9600) == 0 ? 9600 : m.baud.value_or(9600);
    const unsigned parityBits = m.parity.value_or(Parity::Even) == Parity::None ? 0 : 1;
    const StopBits stop = m.stopBits.value_or(StopBits::One);
    const unsigned stopHalfBits = stop == StopBits::One            ? 2
                                  : stop == StopBits::OnePointFive ? 3
                                                                   : 4;
    halfBitsPerByte_ =
        2 * (1 + static_cast<unsigned>(m.dataBits.value_or(8)) + parityBits) + stopHalfBits;
    pendingPort_ = port;
    if (unixMicros != kTimeUnknown) Touch(unixMicros);
}

void TrafficReading::BlockEnded(std::int64_t lastByteUnixMicros) {
    pendingLast_ = lastByteUnixMicros;
}

void TrafficReading::Received(std::int64_t firstByteUnixMicros,
                              std::span<const std::uint8_t> block) {
    const std::int64_t last =
        pendingLast_ ? *pendingLast_ : EstimatedLast(firstByteUnixMicros, block.size());
    pendingLast_.reset();
    Block(firstByteUnixMicros, last, block);
}

std::int64_t TrafficReading::EstimatedLast(std::int64_t first, std::size_t n) const {
    if (n <= 1) return first;
    const auto gaps = static_cast<std::int64_t>(std::min<std::size_t>(n - 1, 1'000'000'000));
    const std::int64_t span =
        gaps * halfBitsPerByte_ * kMicrosPerSecond / (2 * std::int64_t{baud_});
    return first > std::numeric_limits<std::int64_t>::max() - span
               ? std::numeric_limits<std::int64_t>::max()
               : first + span;
}

void TrafficReading::Block(std::int64_t first, std::int64_t last,
                           std::span<const std::uint8_t> block) {
    if (block.empty()) return;
    Touch(first);
    // The host's engine sends its answers while it handles a block; any it owes still are lost.
    if (options_.host) {
        owed_.clear();
        owedHead_ = 0;
    }
    if (options_.silenceMicros > 0 && Difference(first, silenceFrom_) > options_.silenceMicros) {
        TrafficEvent e;
        e.kind = EventKind::Silence;
        e.first = e.since = silenceFrom_;
        e.time = first;
        e.duration = Difference(first, silenceFrom_);
        ++tallies_.silences;
        Emit(e);
    }
    prevFirst_ = blockFirst_;
    prevLast_ = blockLast_;
    blockFirst_ = first;
    blockLast_ = std::max(first, last);
    carried_ = scanner_.heldTail().size();
    ++tallies_.blocks;
    tallies_.bytesReceived += block.size();
    scanner_.Scan(block, [this](const ScannedByte& s) { OnScanned(s); });
    FlushIgnored();
    silenceFrom_ = blockLast_;
    Touch(blockLast_);
}

void TrafficReading::FlushIgnored() {
    if (ignoredCount_ == 0) return;
    TrafficEvent e;
    e.kind = EventKind::Ignored;
    e.first = ignoredStart_ < carried_ ? prevFirst_ : blockFirst_;
    e.time = ignoredStart_ + ignoredCount_ <= carried_ ? prevLast_ : blockLast_;
    e.since = e.time;
    e.bytes = {ignoredAt_, ignoredCount_};
    e.byte = *ignoredAt_;
    ignoredCount_ = 0;
    Emit(e);
}

void TrafficReading::OnScanned(const ScannedByte& s) {
    if (s.kind == Scanned::Ignored) {
        ++tallies_.bytesIgnored;
        if (ignoredCount_ > 0 && ignoredStart_ + ignoredCount_ != s.position) FlushIgnored();
        if (ignoredCount_ == 0) {
            ignoredAt_ = s.at;
            ignoredStart_ = s.position;
        }
        ++ignoredCount_;
        return;
    }
    if (s.kind == Scanned::MessagePart) return;
    FlushIgnored();
    const std::uint64_t sequence = tallies_.events;  // the one Emit gives this event
    TrafficEvent e;
    e.first = s.position < carried_ ? prevFirst_ : blockFirst_;
    e.time = e.since = blockLast_;
    e.byte = s.byte;
    e.bytes = {s.at, 1};
    switch (s.kind) {
        case Scanned::PowerUp:
            e.kind = EventKind::PowerUp;
            e.bytes = {s.at, 2};
            ++tallies_.powerUps;
            note_.open = false;  // a restarted acceptor holds no note
            Owe({wire::kAccept, EventKind::PowerUp, blockLast_, 0, 0, sequence});
            break;
        case Scanned::Escrow:
            e.kind = EventKind::EscrowHeld;
            e.bytes = {s.at, 3};
            e.byte = s.channelByte;
            Escrow(e, s.channelByte);
            break;
        case Scanned::Stacked:
            e.kind = EventKind::Stacked;
            Stacked(e);
            break;
        case Scanned::Returned:
            e.kind = EventKind::Returned;
            Returned(e);
            break;
        case Scanned::Status:
            e.kind = EventKind::StatusCode;
            ++tallies_.statusCodes[s.byte];
            break;
        case Scanned::LoggedOnly:
            e.kind = EventKind::LoggedOnly;
            ++tallies_.loggedOnly;
            break;
        case Scanned::AckRequest:
            e.kind = EventKind::AckRequest;
            ++tallies_.ackRequests;
            Owe({wire::kAccept, EventKind::AckRequest, blockLast_, 0, 0, sequence});
            break;
        case Scanned::Ignored:
        case Scanned::MessagePart:
            return;
    }
    Emit(e);
}

void TrafficReading::Owe(const Owed& owed) {
    if (owed_.size() - owedHead_ >= kOwedLimit) ++owedHead_;
    if (owedHead_ > kOwedLimit) {
        owed_.erase(owed_.begin(), owed_.begin() + static_cast<std::ptrdiff_t>(owedHead_));
        owedHead_ = 0;
    }
    owed_.push_back(owed);
}

TrafficReading::Owed TrafficReading::PopOwed() {
    const Owed owed = owed_[owedHead_++];
    if (owedHead_ == owed_.size()) {
        owed_.clear();
        owedHead_ = 0;
    }
    return owed;
}

void TrafficReading::Escrow(TrafficEvent& e, std::uint8_t channelByte) {
    if (note_.serial != 0 && !note_.decided) ++tallies_.neverDecided;
    const int channel = wire::ChannelOf(channelByte);
    ++tallies_.channels[static_cast<std::size_t>(channel)].held;
    note_ = Note{};
    note_.serial = ++noteSerial_;
    note_.open = true;
    note_.channel = channel;
    note_.heldAt = blockLast_;
    note_.asking = tallies_.events;  // the sequence this escrow event is about to get
    stackChannel_ = channel;
    e.channel = channel;
    const auto index = static_cast<std::size_t>(channel - 1);
    if (!options_.host) {
        if (options_.values) note_.value = ChannelValue((*options_.values)[index]);
        e.value = note_.value;
        return;
    }
    // As the engine decides: the tick, then the caption's value, then the escrow setting.
    const HostProfile& host = *options_.host;
    note_.value = ChannelValue(host.captions[index]);
    e.value = note_.value;
    std::optional<std::uint8_t> byRule;
    if (!host.ticked[index]) {
        ++tallies_.refusedUnticked;
        byRule = wire::kReject;
    } else if (!note_.value) {
        ++tallies_.refusedNotANumber;
        byRule = wire::kReject;
    } else {
        escrowValue_ = *note_.value;
        if (host.escrowSetting == 1)
            byRule = wire::kAccept;
        else
            awaitingDecision_ = true;
    }
    if (byRule) {
        note_.decided = true;
        Owe({*byRule, EventKind::EscrowHeld, blockLast_, channel, note_.serial, note_.asking});
    }
}

void TrafficReading::Stacked(TrafficEvent& e) {
    ++tallies_.stacked;
    e.channel = stackChannel_;
    ++tallies_.channels[static_cast<std::size_t>(stackChannel_)].stacked;
    stackChannel_ = 0;
    if (tallies_.credit) {
        tallies_.credit = CreditAfter(*tallies_.credit, escrowValue_);
        tallies_.channels[static_cast<std::size_t>(e.channel)].credited += escrowValue_;
        e.value = escrowValue_;
    }
    if (!note_.open) return;
    e.since = note_.heldAt;
    e.duration = Difference(e.time, e.since);
    if (note_.decisionSeen) tallies_.decisionToOutcome.Add(Difference(e.time, note_.decidedAt));
    note_.open = false;
}

void TrafficReading::Returned(TrafficEvent& e) {
    ++tallies_.returned;
    e.channel = note_.open ? note_.channel : 0;
    ++tallies_.channels[static_cast<std::size_t>(e.channel)].returned;
    if (!note_.open) return;
    e.since = note_.heldAt;
    e.duration = Difference(e.time, e.since);
    if (note_.decisionSeen) {
        tallies_.decisionToOutcome.Add(Difference(e.time, note_.decidedAt));
    } else if (!note_.decided) {
        ++tallies_.handedBack;
        tallies_.heldToHandBack.Add(e.duration);
    }
    note_.open = false;
}

void TrafficReading::Sent(std::int64_t unixMicros, std::uint8_t byte) {
    Touch(unixMicros);
    ++tallies_.bytesSent;
    hostByte_ = byte;
    TrafficEvent e;
    e.first = e.time = e.since = unixMicros;
    e.bytes = {&hostByte_, 1};
    e.byte = byte;
    const bool decision = byte == wire::kAccept || byte == wire::kReject;
    const bool owing = owedHead_ < owed_.size();
    if (options_.host) {
        if (owing && owed_[owedHead_].byte == byte) {
            AnswerOwed(e, PopOwed(), AnswerBasis::Rule);
        } else if (owing) {
            owed_.clear();
            owedHead_ = 0;
        }
        if (e.kind != EventKind::Answer && decision && awaitingDecision_) {
            awaitingDecision_ = false;
            AnswerNote(e, AnswerBasis::Decision, byte);
        }
    } else if (owing && byte == wire::kAccept) {
        AnswerOwed(e, PopOwed(), AnswerBasis::Unknown);
    } else if (decision && note_.serial != 0 && !note_.decided) {
        AnswerNote(e, AnswerBasis::Unknown, byte);
    }
    if (e.kind != EventKind::Answer) HostCommand(e, byte);
    Emit(e);
}

void TrafficReading::AnswerOwed(TrafficEvent& e, const Owed& owed, AnswerBasis basis) {
    e.kind = EventKind::Answer;
    e.basis = basis;
    e.answered = owed.asked;
    e.since = owed.blockLast;
    e.duration = Difference(e.time, e.since);
    e.channel = owed.channel;
    e.asking = owed.asking;
    tallies_.answerLatency.Add(e.duration);
    if (owed.asked != EventKind::EscrowHeld) {
        e.answer = AnswerKind::Acknowledge;
        return;
    }
    // The host's rules decided this note as its message was handled: never late.
    e.answer = e.byte == wire::kAccept ? AnswerKind::Accept : AnswerKind::Reject;
    tallies_.heldToDecision.Add(e.duration);
    if (e.answer == AnswerKind::Reject)
        ++tallies_.channels[static_cast<std::size_t>(owed.channel)].refused;
    if (note_.serial == owed.note) {
        note_.decisionSeen = true;
        note_.decidedAt = e.time;
    }
}

void TrafficReading::AnswerNote(TrafficEvent& e, AnswerBasis basis, std::uint8_t byte) {
    e.kind = EventKind::Answer;
    e.basis = basis;
    e.answered = EventKind::EscrowHeld;
    e.answer = byte == wire::kAccept ? AnswerKind::Accept : AnswerKind::Reject;
    e.channel = note_.channel;
    e.asking = note_.asking;
    e.since = note_.heldAt;
    e.duration = Difference(e.time, e.since);
    e.late = !note_.open;
    if (e.late) ++tallies_.lateAnswers;
    if (basis != AnswerBasis::Decision) tallies_.answerLatency.Add(e.duration);
    if (basis == AnswerBasis::Decision && e.answer == AnswerKind::Reject)
        ++tallies_.rejectedByDecision;
    if (!options_.host && e.answer == AnswerKind::Accept && note_.value)
        escrowValue_ = *note_.value;
    if (note_.decided) return;
    note_.decided = note_.decisionSeen = true;
    note_.decidedAt = e.time;
    tallies_.heldToDecision.Add(e.duration);
    if (e.answer == AnswerKind::Reject)
        ++tallies_.channels[static_cast<std::size_t>(e.channel)].refused;
}

void TrafficReading::HostCommand(TrafficEvent& e, std::uint8_t byte) {
    switch (byte) {
        case wire::kPoll:
            e.kind = EventKind::Poll;
            ++tallies_.polls;
            break;
        case wire::kEnable:
            e.kind = EventKind::Enable;
            ++tallies_.enables;
            break;
        case wire::kDisable:
            e.kind = EventKind::Disable;
            ++tallies_.disables;
            break;
        case wire::kReset:
            e.kind = EventKind::Reset;
            ++tallies_.resets;
            awaitingDecision_ = false;  // RESET ends the wait for a decision
            break;
        default:
            e.kind = EventKind::HostOther;
            ++tallies_.hostOther;
            break;
    }
}

void TrafficReading::Finish(std::optional<std::int64_t> end) {
    const std::int64_t t = end.value_or(tallies_.lastTime);
    if (t != kTimeUnknown) {
        Touch(t);
        if (options_.silenceMicros > 0 && Difference(t, silenceFrom_) > options_.silenceMicros) {
            TrafficEvent e;
            e.kind = EventKind::Silence;
            e.first = e.since = silenceFrom_;
            e.time = t;
            e.duration = Difference(t, silenceFrom_);
            ++tallies_.silences;
            silenceFrom_ = t;
            Emit(e);
        }
    }
    if (note_.serial != 0 && !note_.decided) {
        ++tallies_.neverDecided;
        note_.decided = true;
    }
}

void FeedCaptureEvent(TrafficReading& reading, const CaptureEvent& event) {
    switch (event.kind) {
        case TrafficKind::Port:
            reading.PortOpened(kTimeUnknown, event.port);
            break;
        case TrafficKind::Received:
            reading.Received(event.unixMicros, event.bytes);
            break;
        case TrafficKind::Sent:
            for (const std::uint8_t byte : event.bytes)
                reading.Sent(event.unixMicros, byte);
            break;
    }
}

}  // namespace norva
