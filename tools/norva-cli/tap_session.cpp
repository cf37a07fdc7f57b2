#include "tools/norva-cli/tap_session.h"

#include <cstdio>

#include "base/hex.h"
#include "capture/capture_format.h"

namespace norva::cli {

namespace {

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        AppendHexByte(text, b);
    }
    return text;
}

std::string Ms(std::int64_t micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", static_cast<double>(micros) / 1000.0);
    return text;
}

std::string Time(std::int64_t unixMicros) {
    std::string text;
    AppendUtcTime(text, unixMicros);
    return text;
}

std::string Named(const PortIdentity& port) {
    return (port.portName.empty() ? std::string() : port.portName + " ") + port.devicePath;
}

}  // namespace

TapSession::TapSession(Setup setup)
    : setup_(std::move(setup)), reading_(setup_.reading, [this](const TrafficEvent& e) {
          const bool fromHost = e.kind >= EventKind::Answer && e.kind <= EventKind::HostOther;
          for (std::string& line : LogLines(e))
              lines_.push_back({fromHost ? e.time : e.first, std::move(line)});
          if (e.kind == EventKind::Stacked) stacked_ = true;
      }) {}

void TapSession::SetCapture(TrafficSink* capture, std::function<void(std::string_view)> comment) {
    capture_ = capture;
    comment_ = std::move(comment);
}

void TapSession::Start(std::int64_t now, std::int64_t boundMicros) {
    boundMicros_ = boundMicros;
    if (comment_) {
        comment_("tap host " + Named(setup_.host) + " | device " + Named(setup_.device) +
                 " | order bound " + Ms(boundMicros));
    }
    if (capture_) capture_->PortOpened(now, setup_.device);
    reading_.PortOpened(now, setup_.device);
}

void TapSession::Finish(std::int64_t end) {
    reading_.Finish(end);
}

std::string TapSession::Describe(const UncertainOrder& pair, std::int64_t boundMicros) {
    const std::string block =
        "RX " + Time(pair.blockFirst) +
        (pair.blockLast != pair.blockFirst ? " to " + Time(pair.blockLast) : std::string());
    const std::uint8_t byte[] = {pair.hostByte};
    const std::string host = "TX " + Hex(byte) + " " + Time(pair.hostTime);
    return "order uncertain: " +
           (pair.hostFirst ? host + " before " + block : block + " before " + host) + ", " +
           Ms(pair.margin) + " from the turn, bound " + Ms(boundMicros);
}

void TapSession::OrderUncertain(const UncertainOrder& pair) {
    ++uncertainPairs_;
    if (comment_) comment_(Describe(pair, boundMicros_));
}

void TapSession::Block(const TapBlock& block) {
    lastDeviceByte_ = block.last;
    if (capture_) {
        capture_->BlockEnded(block.last);
        capture_->Received(block.first, block.bytes);
    }
    lines_.clear();
    stacked_ = false;
    reading_.Block(block.first, block.last, block.bytes);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        Print(lines_[i], (i == 0 && block.uncertainBefore) ||
                             (i + 1 == lines_.size() && block.uncertainAfter));
    }
    lines_.clear();
    if (stacked_ && onStacked) onStacked();
}

void TapSession::HostByte(std::int64_t time, std::uint8_t byte, bool uncertain) {
    if (capture_) capture_->Sent(time, byte);
    lines_.clear();
    reading_.Sent(time, byte);
    for (const Line& line : lines_)
        Print(line, uncertain);
    lines_.clear();
}

void TapSession::LineChanged(TapSide side, bool gone, std::int64_t time) {
    const PortIdentity& port = side == TapSide::Host ? setup_.host : setup_.device;
    const std::string label =
        port.portName.size() > 3 ? "Com" + port.portName.substr(3) + ": " : std::string();
    setup_.printNotice("tap " + std::string(side == TapSide::Host ? "host " : "device ") + label +
                       port.devicePath + (gone ? " gone" : " back"));
    // The acceptor's line opened again starts a new stretch of traffic, as a reconnection does.
    if (side == TapSide::Device && !gone) {
        if (capture_) capture_->PortOpened(time, port);
        reading_.PortOpened(time, port);
    }
}

void TapSession::Print(const Line& line, bool uncertain) {
    std::string text;
    if (setup_.timestamps) {
        AppendUtcTime(text, line.time);
        text += ' ';
    }
    text += line.text;
    if (uncertain) text += kOrderUncertainMarker;
    text += '\n';
    setup_.printLine(text);
}

}  // namespace norva::cli
