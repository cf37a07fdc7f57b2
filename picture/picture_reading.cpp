#include "picture/picture_reading.h"

#include <algorithm>

#include "capture/capture_format.h"
#include "capture/traffic_record.h"

namespace norva::picture {

namespace {

double Ms(std::int64_t micros) {
    return double(micros) / 1000;
}

Spread SpreadOf(const DurationTally& tally) {
    return {tally.count(), Ms(tally.Quantile(0.5)), Ms(tally.Quantile(0.99)), Ms(tally.max())};
}

void Bin(const DurationTally& tally, SessionPicture& picture, int which) {
    tally.ForEachValue([&](std::int64_t micros, std::uint64_t count) {
        if (which == 0)
            picture.AddAnswerLatency(Ms(micros), count);
        else
            picture.AddHoldTime(Ms(micros), which == 2, count);
    });
}

struct Look {
    MarkKind kind;
    Lane lane;
};

std::optional<Look> LookOf(const TrafficEvent& e) {
    switch (e.kind) {
        case EventKind::PowerUp:
            return Look{MarkKind::PowerUp, Lane::Acceptor};
        case EventKind::EscrowHeld:
            return Look{MarkKind::EscrowHeld, Lane::Acceptor};
        case EventKind::Stacked:
            return Look{MarkKind::Stacked, Lane::Acceptor};
        case EventKind::Returned:
            return Look{MarkKind::Returned, Lane::Acceptor};
        case EventKind::StatusCode:
            return Look{MarkKind::StatusCode, Lane::Acceptor};
        case EventKind::LoggedOnly:
        case EventKind::AckRequest:
        case EventKind::Ignored:
            return Look{MarkKind::Other, Lane::Acceptor};
        case EventKind::Poll:
            return Look{MarkKind::Poll, Lane::Host};
        case EventKind::Answer:
            if (e.answer == AnswerKind::Accept) return Look{MarkKind::HostAccept, Lane::Host};
            if (e.answer == AnswerKind::Reject) return Look{MarkKind::HostReject, Lane::Host};
            return Look{MarkKind::Other, Lane::Host};
        case EventKind::Enable:
        case EventKind::Disable:
        case EventKind::Reset:
        case EventKind::HostOther:
            return Look{MarkKind::Other, Lane::Host};
        case EventKind::PortOpened:
        case EventKind::Silence:
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

void PictureFiller::EndSpan(std::int64_t at, EscrowEnd end) {
    if (!open_) return;
    open_->endMicros = std::max(at, open_->heldMicros);
    open_->end = end;
    picture_.AddEscrow(*open_);
    open_.reset();
    decision_.reset();
}

void PictureFiller::OnEvent(const TrafficEvent& e) {
    if (e.kind == EventKind::PortOpened) {
        if (picture_.source().empty() && e.port != nullptr) {
            // A field the port line left empty is left out.
            std::string source = "port";
            for (const std::string* field :
                 {&e.port->portName, &e.port->devicePath, &e.port->modeString}) {
                if (!field->empty() && *field != "-") source += " " + *field;
            }
            picture_.SetSource(source);
        }
        return;
    }
    if (e.kind == EventKind::Silence) {
        picture_.AddSilence({e.since, e.time});
        return;
    }
    // Acceptor events stand where their block began, as the capture times them.
    const std::int64_t at = e.first;
    switch (e.kind) {
        case EventKind::EscrowHeld:
            EndSpan(at, EscrowEnd::Undecided);
            open_ = EscrowSpan{at, at, std::uint8_t(e.channel), EscrowEnd::Undecided};
            if (e.channel >= 1 && e.channel <= kChannels && e.value &&
                !values_[std::size_t(e.channel - 1)])
                values_[std::size_t(e.channel - 1)] = *e.value;
            break;
        case EventKind::Answer:
            if (e.answered == EventKind::EscrowHeld && !e.late && open_ && !decision_)
                decision_ = e.answer;
            break;
        case EventKind::Stacked:
            EndSpan(at, EscrowEnd::Stacked);
            break;
        case EventKind::Returned:
            EndSpan(at, decision_ ? EscrowEnd::Returned : EscrowEnd::HandedBack);
            break;
        case EventKind::PowerUp:
            EndSpan(at, EscrowEnd::Undecided);
            break;
        default:
            break;
    }
    const std::optional<Look> look = LookOf(e);
    if (!look) return;
    Mark mark;
    mark.unixMicros = at;
    mark.kind = look->kind;
    mark.lane = look->lane;
    mark.detail =
        e.kind == EventKind::StatusCode || look->lane == Lane::Host || look->kind == MarkKind::Other
            ? e.byte
            : std::uint8_t(e.channel);
    if (e.kind == EventKind::Answer && e.late) mark.flags |= kLate;
    const std::vector<std::string> lines = LogLines(e);
    mark.firstLine = picture_.texts().AddLines(lines);
    mark.lineCount = std::uint8_t(std::min<std::size_t>(lines.size(), 255));
    mark.bytes = picture_.texts().AddBytes(e.bytes);
    picture_.AddMark(mark);
}

void PictureFiller::Finish(const TrafficTallies& t, bool sessionOver) {
    SessionNumbers& n = picture_.numbers();
    n = SessionNumbers{};
    for (int c = 1; c <= kChannels; ++c) {
        const ChannelTally& tally = t.channels[std::size_t(c)];
        ChannelNumbers& ch = n.channels[std::size_t(c - 1)];
        ch.held = tally.held;
        ch.stacked = tally.stacked;
        ch.returned = tally.returned;
        ch.refused = tally.refused;
        ch.value = values_[std::size_t(c - 1)];
        if (t.credit) ch.credit = tally.credited;
    }
    n.stacked = t.stacked;
    n.returned = t.returned;
    n.stackedUnannounced = t.channels[0].stacked;
    if (t.credit) n.credit = *t.credit;
    n.refusedUnticked = t.refusedUnticked;
    n.refusedNotANumber = t.refusedNotANumber;
    n.rejectedByDecision = t.rejectedByDecision;
    for (int code = 0; code < 256; ++code) {
        if (t.statusCodes[std::size_t(code)] != 0)
            n.statusCodes[std::uint8_t(code)] = t.statusCodes[std::size_t(code)];
    }
    n.powerUps = t.powerUps;
    n.silences = t.silences;
    n.handBacks = t.handedBack;
    n.lateAnswers = t.lateAnswers;
    n.undecidedEscrows = t.neverDecided;
    n.bytesIgnored = t.bytesIgnored;
    n.answerLatencyMs = SpreadOf(t.answerLatency);
    n.escrowHoldMs = SpreadOf(t.heldToDecision);
    n.firstMicros = t.firstTime == kTimeUnknown ? 0 : t.firstTime;
    n.lastMicros = t.lastTime == kTimeUnknown ? 0 : t.lastTime;
    n.events = t.events;
    n.lines = t.logLines;
    picture_.ClearHistograms();
    Bin(t.answerLatency, picture_, 0);
    Bin(t.heldToDecision, picture_, 1);
    Bin(t.heldToHandBack, picture_, 2);
    // A note still in escrow when the session ended was never decided; a live one may still be.
    if (sessionOver)
        EndSpan(std::max(n.lastMicros, open_ ? open_->heldMicros : 0), EscrowEnd::Undecided);
    picture_.Finish();
}

Result<std::shared_ptr<SessionPicture>> PictureOfCapture(const std::string& fileName,
                                                         const std::atomic<bool>* stop) {
    Result<CaptureReader> reader = CaptureReader::Open(fileName);
    if (!reader.ok()) return reader.outcome();
    auto picture = std::make_shared<SessionPicture>();
    const std::size_t slash = fileName.rfind('/');
    picture->SetTitle("Session Picture - " +
                      fileName.substr(slash == std::string::npos ? 0 : slash + 1));
    PictureFiller filler(*picture);
    TrafficReading reading({}, [&filler](const TrafficEvent& e) { filler.OnEvent(e); });
    for (;;) {
        const Result<bool> next = reader->Next();
        if (!next.ok()) return next.outcome();
        if (!next.value()) break;
        FeedCaptureEvent(reading, reader->event());
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) break;
    }
    reading.Finish();
    filler.Finish(reading.tallies(), true);
    picture->Compact();
    return picture;
}

RecordPicture::RecordPicture(std::string title, std::optional<std::array<std::string, 16>> values)
    : title_(std::move(title)), values_(std::move(values)) {
    Restart();
}

void RecordPicture::Restart() {
    // A new picture, so one still shown is not changed under its painter.
    picture_ = std::make_shared<SessionPicture>();
    picture_->SetTitle(title_);
    filler_ = std::make_unique<PictureFiller>(*picture_);
    ReadingOptions options;
    options.values = values_;
    reading_ = std::make_unique<TrafficReading>(
        options, [filler = filler_.get()](const TrafficEvent& e) { filler->OnEvent(e); });
    fed_ = 0;
    lastFedMicros_ = 0;
}

bool RecordPicture::Update(const TrafficRecord& record, std::size_t maxEvents) {
    // Cleared or trimmed: its indices no longer match what was read.
    const bool restart = record.eventCount() < fed_ ||
                         (fed_ > 0 && record.event(fed_ - 1).unixMicros != lastFedMicros_);
    if (restart) Restart();
    if (!restart && fed_ == record.eventCount() && fed_ > 0) return false;
    const std::size_t end = std::min(record.eventCount(), fed_ + maxEvents);
    for (; fed_ < end; ++fed_) {
        const TrafficRecord::EventView e = record.event(fed_);
        switch (e.kind) {
            case TrafficKind::Port:
                if (e.port != nullptr) reading_->PortOpened(e.unixMicros, *e.port);
                break;
            case TrafficKind::Received:
                reading_->Received(e.unixMicros, e.bytes);
                break;
            case TrafficKind::Sent:
                for (std::uint8_t byte : e.bytes)
                    reading_->Sent(e.unixMicros, byte);
                break;
        }
        lastFedMicros_ = e.unixMicros;
    }
    more_ = fed_ < record.eventCount();
    filler_->Finish(reading_->tallies(), false);
    return true;
}

}  // namespace norva::picture
