#pragma once

#include <cstdint>

#include "protocol/engine_window.h"

namespace norva {

// Writes one command byte, then appends its log line; the line goes in whether or not the
// write succeeded, and is only noted as not written when it failed. The poll is the one command
// that logs first and does not come through here.
void SendAndLog(EngineWindow& window, const ByteSender& send, std::uint8_t command);

// Accept, then Reject.
void DisableDecisionButtons(EngineWindow& window);

}  // namespace norva
