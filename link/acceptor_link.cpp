#include "link/acceptor_link.h"

#include <poll.h>
#include <sys/stat.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>

#include "link/rival_notice.h"
#include "serial/comm_ini.h"
#include "serial/device_discovery.h"
#include "serial/port_name.h"

namespace norva {

namespace {

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

AcceptorLink::AcceptorLink(EngineWindow& front, PortHandle& port, QObject* parent)
    : QObject(parent),
      port_(port),
      engine_(front, [this](std::uint8_t b) { return Send(b); }),
      commands_(front, [this](std::uint8_t b) { return Send(b); }),
      pollTimer_(new QTimer(this)) {
    pollTimer_->setInterval(kPollIntervalMs);
    connect(pollTimer_, &QTimer::timeout, this, [this] {
        if (pollHandler_)
            pollHandler_();
        else
            commands_.Poll();
    });
    // The receive thread only makes the inbox's descriptor readable; the taking happens here,
    // on this thread's event loop, which sees it readable again on the next turn while blocks
    // are left.
    if (inbox_.wakeDescriptor() >= 0) {
        auto* wake = new QSocketNotifier(inbox_.wakeDescriptor(), QSocketNotifier::Read, this);
        connect(wake, &QSocketNotifier::activated, this, &AcceptorLink::DrainInbox);
    } else {
        auto* look = new QTimer(this);
        connect(look, &QTimer::timeout, this, &AcceptorLink::DrainInbox);
        look->start(kDrainFallbackMs);
    }
}

AcceptorLink::~AcceptorLink() {
    // The receive thread hands blocks to this object's inbox; it must not outlive it.
    StopReceiveThread();
}

void AcceptorLink::AddTrafficSink(TrafficSink* sink) {
    if (sink != nullptr && std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end())
        sinks_.push_back(sink);
}

void AcceptorLink::RemoveTrafficSink(TrafficSink* sink) {
    sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

bool AcceptorLink::Send(std::uint8_t byte) {
    const bool sent = SendByte(&port_, byte);
    if (sent) {
        const std::int64_t now = UnixMicrosNow();
        for (TrafficSink* sink : sinks_)
            sink->Sent(now, byte);
    }
    return sent;
}

void AcceptorLink::TellPortOpened() {
    const std::int64_t now = UnixMicrosNow();
    for (TrafficSink* sink : sinks_)
        sink->PortOpened(now, identity_);
}

QString AcceptorLink::LineText(const char* what) const {
    const std::string port = label_.empty() ? std::string() : label_ + ": ";
    return QString::fromStdString(port + identity_.devicePath + " ") + QLatin1String(what);
}

// Afterwards no thread of this link touches the port.
void AcceptorLink::StopReceiveThread() {
    if (published_ != nullptr && *published_ == receiver_.get()) *published_ = nullptr;
    receiver_.reset();
}

void AcceptorLink::StopReceiving() {
    // Only one receive thread, and none that could use the port after its release: stop it,
    // then handle what it already read while the port it came from is still open.
    StopReceiveThread();
    HandleBlocks(inbox_.TakeAll());
}

void AcceptorLink::Release() {
    rivals_.reset();
    StopReceiving();
    ReleaseComPort(&port_);
    engine_.DropHeldTail();
    waiting_ = false;
    identity_ = {};
    label_.clear();
}

SelectionOutcome AcceptorLink::SelectPort(int n) {
    Release();
    if (const Outcome written = WriteCommIni(n); !written.ok())
        return {SelectionOutcome::Kind::SettingsFailed, written.text(), {}};
    const Result<CommSettings> settings = ReadCommIni();
    if (!settings.ok()) return {SelectionOutcome::Kind::SettingsFailed, settings.text(), {}};
    return Started(settings->portName, settings->modeString,
                   OpenPort(&port_, settings->portName, settings->modeString));
}

SelectionOutcome AcceptorLink::OpenDirect(const std::string& portName,
                                          const std::string& devicePath) {
    Release();
    return Started(portName, kModeString,
                   devicePath.empty() ? OpenPort(&port_, portName, kModeString)
                                      : OpenDevice(&port_, devicePath, kModeString));
}

SelectionOutcome AcceptorLink::Started(const std::string& portName, const std::string& mode,
                                       const Result<OpenedPort>& opened) {
    if (!opened.ok()) return {SelectionOutcome::Kind::OpenFailed, opened.text(), {}};
    identity_ = {portName, opened->devicePath, mode};
    label_ = portName.empty() ? std::string() : PortItemText(portName);
    TellPortOpened();
    StartReceiving();
    WatchForRivals();
    return {SelectionOutcome::Kind::Opened, opened->warning, opened->devicePath};
}

void AcceptorLink::WatchForRivals() {
    rivals_ = std::make_unique<RivalNotice>(identity_.devicePath);
    connect(rivals_.get(), &RivalNotice::Noticed, this, &AcceptorLink::RivalOpened);
}

void AcceptorLink::Close() {
    rivals_.reset();
    StopReceiving();
    CloseComPort(&port_);
    waiting_ = false;
}

void AcceptorLink::StartReceiving() {
    receiver_ = std::make_unique<RS232>(
        port_, [this](const ReceivePass& pass) { ReceiveBlock(pass, inbox_); },
        [this](const ReceivePass& pass) { WaitForDevice(pass); });
    if (published_ != nullptr) *published_ = receiver_.get();
}

// On the receive thread. The dead descriptor goes at once: while it stays open the kernel
// gives a re-plugged adapter a new name.
void AcceptorLink::WaitForDevice(const ReceivePass& pass) {
    const std::string path = pass.port.devicePath();
    const std::string mode = pass.port.modeString();
    const bool mayComeBack = pass.port.mayComeBack();
    CloseComPort(&pass.port);
    inbox_.Push({{}, UnixMicrosNow(), LineEvent::Gone}, pass.stopRequested);
    if (!mayComeBack) {
        // A pseudo-terminal's number goes to the next one made anywhere: looking for it again
        // would take another program's line. Wait for the stop alone.
        pollfd stop{pass.stopEvent, POLLIN, 0};
        while (!pass.stopRequested)
            (void)::poll(&stop, 1, pass.stopEvent >= 0 ? -1 : 100);
        return;
    }
    FolderWatch watch(path);
    int waitMs = 0;  // it may be back already
    while (!pass.stopRequested) {
        pollfd fds[2] = {{pass.stopEvent, POLLIN, 0}, {watch.fd(), POLLIN, 0}};
        (void)::poll(fds, 2, waitMs);
        if (pass.stopRequested) return;
        watch.Rearm(path);
        waitMs = kReopenFallbackMs;
        if (!PathExists(path)) continue;
        if (OpenDevice(&pass.port, path, mode).ok()) {
            inbox_.Push({{}, UnixMicrosNow(), LineEvent::Back}, pass.stopRequested);
            return;
        }
        // There but not yet usable (its permissions still being set, or held by another).
        waitMs = kReopenRetryMs;
    }
}

void AcceptorLink::DrainInbox() {
    // A batch at a time, so that a flood cannot hold off the polling timer and the operator's
    // clicks; the rest waits for the next turn of the event loop.
    HandleBlocks(inbox_.Take(kDrainBatchBytes));
}

void AcceptorLink::HandleBlocks(const std::vector<Block>& blocks) {
    if (blocks.empty()) return;
    for (const Block& block : blocks) {
        switch (block.event) {
            case LineEvent::Gone:
                // A message cut by the pull cannot be finished by a device that starts afresh.
                engine_.DropHeldTail();
                rivals_.reset();
                waiting_ = true;
                emit DeviceGone(LineText("gone"));
                break;
            case LineEvent::Back:
                waiting_ = false;
                WatchForRivals();
                TellPortOpened();
                emit DeviceBack(LineText("back"));
                break;
            case LineEvent::None:
                for (TrafficSink* sink : sinks_) {
                    sink->BlockEnded(block.lastByteUnixMicros);
                    sink->Received(block.firstByteUnixMicros, block.bytes);
                }
                engine_.HandleBlock(block.bytes);
                break;
        }
    }
    emit BlocksHandled();
}

}  // namespace norva
