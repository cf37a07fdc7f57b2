#pragma once

#include "protocol/engine_window.h"
#include "protocol/window_steps.h"

namespace norva {

// The operator's commands that talk to the acceptor or share state with the engine. Each runs
// on the window's thread as one step. None checks whether a port is open.
class OperatorCommands {
public:
    OperatorCommands(EngineWindow& window, ByteSender send);

    void ToggleEnable();  // "Disable BA" / "Enable BA"
    void Accept();
    void Reject();
    void ClearCredit();
    void Reset();
    void Poll();  // one firing of the polling timer

private:
    void Send(std::uint8_t command) { SendAndLog(window_, send_, command); }

    EngineWindow& window_;
    ByteSender send_;
};

}  // namespace norva
