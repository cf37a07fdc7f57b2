#pragma once

#include <QObject>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/block_inbox.h"
#include "protocol/engine.h"
#include "protocol/engine_window.h"
#include "protocol/operator_commands.h"
#include "protocol/traffic_sink.h"
#include "serial/com_port.h"
#include "serial/device_discovery.h"

class QTimer;

namespace norva {

class RivalNotice;

// How a port selection ended. Opened may carry a warning (line settings the driver refused);
// OpenFailed carries the reason, naming the device; SettingsFailed the error box's text.
struct SelectionOutcome {
    enum class Kind { Opened, OpenFailed, SettingsFailed };
    Kind kind = Kind::OpenFailed;
    std::string text;
    std::string devicePath;
};

// The serial link: the port, its own receive thread, the inbox and its drain, the engine and the
// operator's commands, whose bytes go to the port held here; links on ports of their own run side
// by side. It waits for a device that went away and reopens it when it is back, unless its name
// was a pseudo-terminal's own, which only ever comes back on another line. Lives on the thread
// that runs the engine (the window's, or a command line's); it reports through signals and never
// shows anything itself.
class AcceptorLink : public QObject {
    Q_OBJECT

public:
    explicit AcceptorLink(EngineWindow& front, PortHandle& port = ComHandle,
                          QObject* parent = nullptr);
    ~AcceptorLink() override;

    // The whole selection of "Comn": stop the receive thread and handle what it read, release
    // the port, write and read back comm.ini, open, start a receive thread.
    SelectionOutcome SelectPort(int n);
    // The same without a selection, for a front with no port selector: comm.ini is neither
    // written nor read. "COMn" maps to its device as a selection would; a device path given
    // is opened instead, the port name then may be empty.
    SelectionOutcome OpenDirect(const std::string& portName, const std::string& devicePath);
    // Stops receiving and releases the port; blocks already read are still handled.
    void Close();

    // Names this link's receive thread in the slot while it runs (the window's link: ComThread).
    void PublishReceiveThread(RS232*& slot) { published_ = &slot; }
    bool receiving() const { return receiver_ != nullptr; }

    // The poll timer, the one for every front: stopped until a front starts it, and firing every
    // kPollIntervalMs unless a front sets another interval. Each firing runs the poll handler,
    // which is the poll command (sent only while polling is permitted) unless a front sets one.
    QTimer* PollTimer() const { return pollTimer_; }
    void SetPollHandler(std::function<void()> handler) { pollHandler_ = std::move(handler); }

    OperatorCommands& Commands() { return commands_; }
    const ProtocolEngine& Engine() const { return engine_; }

    // Sinks are told of traffic on this object's thread; each must outlive its registration.
    void AddTrafficSink(TrafficSink* sink);
    void RemoveTrafficSink(TrafficSink* sink);

    // The port held ("COM1", empty when none), its device, and whether it is waiting for a device
    // that went away.
    const std::string& portName() const { return identity_.portName; }
    const std::string& devicePath() const { return identity_.devicePath; }
    bool waitingForDevice() const { return waiting_; }

    static constexpr int kPollIntervalMs = 1500;
    // Received bytes handled in one turn of the event loop, at most (plus one block).
    static constexpr std::size_t kDrainBatchBytes = 4 * 1024;
    // A device that went away is looked for whenever its folder changes, and at least this
    // often in case a change went unseen.
    static constexpr int kReopenFallbackMs = 2000;
    // How soon a device that is there but would not open is tried again.
    static constexpr int kReopenRetryMs = kDeviceRetryMs;
    // How often the inbox is looked at when the system gave it no wake descriptor.
    static constexpr int kDrainFallbackMs = 20;

signals:
    // A block batch was handled: the front may show the lines now.
    void BlocksHandled();
    // The device went away ("Com1: /dev/ttyUSB0 gone"); lasts until it is back or another
    // selection is made.
    void DeviceGone(const QString& text);
    // The same device opened again ("Com1: /dev/ttyUSB0 back").
    void DeviceBack(const QString& text);
    // Another process opened the device held ("PATH: also opened by socat (pid 4711); bytes
    // may go to it"), said at once.
    void RivalOpened(const QString& text);

private:
    void Release();
    SelectionOutcome Started(const std::string& portName, const std::string& mode,
                             const Result<OpenedPort>& opened);
    void WatchForRivals();
    void DrainInbox();
    void HandleBlocks(const std::vector<Block>& blocks);
    void StopReceiveThread();
    void StopReceiving();
    void StartReceiving();
    void WaitForDevice(const ReceivePass& pass);
    bool Send(std::uint8_t byte);
    void TellPortOpened();
    QString LineText(const char* what) const;

    PortHandle& port_;
    BlockInbox inbox_;
    std::unique_ptr<RS232> receiver_;
    RS232** published_ = nullptr;
    ProtocolEngine engine_;
    OperatorCommands commands_;
    QTimer* pollTimer_;
    std::function<void()> pollHandler_;
    std::vector<TrafficSink*> sinks_;
    PortIdentity identity_;
    std::string label_;  // "Com1"
    bool waiting_ = false;
    std::unique_ptr<RivalNotice> rivals_;
};

}  // namespace norva
