#include "protocol/window_steps.h"

#include "protocol/wire.h"

namespace norva {

void SendAndLog(EngineWindow& window, const ByteSender& send, std::uint8_t command) {
    const bool written = send(command);
    window.AppendLogLine(wire::SentLine(command));
    if (!written) window.LastLineNotWritten();
}

void DisableDecisionButtons(EngineWindow& window) {
    window.SetAcceptEnabled(false);
    window.SetRejectEnabled(false);
}

}  // namespace norva
