#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "serial/com_port.h"
#include "serial/device_discovery.h"

namespace norva {

// What one receive pass is handed: the port it runs on and the stop request, both as a flag
// and as a descriptor that turns readable once a stop is requested (-1 when there is none), so
// a block read can wait on the line and the stop together.
struct ReceivePass {
    PortHandle& port;
    const std::atomic<bool>& stopRequested;
    int stopEvent;
};

// The receive thread. It sleeps in poll() until the port has input or a stop is requested, so
// an idle or vanished port costs no processor time, and hands waiting input to the callback.
// Destroying it requests a stop and joins the thread, so no receive thread outlives the port it
// watches.
class RS232 {
public:
    using ReceiveFunction = std::function<void(const ReceivePass&)>;
    // Called when the open port hung up or failed. It returns once the port is usable again or
    // a stop is requested. Without one the thread looks at the port again now and then.
    using LostFunction = std::function<void(const ReceivePass&)>;

    // Starts running at once.
    RS232(PortHandle& port, ReceiveFunction receiveBlock, LostFunction portLost = {});
    ~RS232();
    RS232(const RS232&) = delete;
    RS232& operator=(const RS232&) = delete;

    void RequestStop();
    bool StopRequested() const { return stopRequested_; }

    // Receive threads alive in the process: one per link that is receiving.
    static int LiveCount() { return liveCount_; }
    // Receive threads started since the process began.
    static int StartedCount() { return startedCount_; }

    // After a hang-up the port is looked at again this often, in case it recovers.
    static constexpr int kRetryMs = kDeviceRetryMs;

private:
    void Run();

    PortHandle& port_;
    ReceiveFunction receiveBlock_;
    LostFunction portLost_;
    std::atomic<bool> stopRequested_{false};
    int stopEvent_ = -1;
    std::thread thread_;
    static std::atomic<int> liveCount_;
    static std::atomic<int> startedCount_;
};

}  // namespace norva
