#include "protocol/operator_commands.h"

#include "protocol/shared_state.h"
#include "protocol/window_steps.h"
#include "protocol/wire.h"

namespace norva {

OperatorCommands::OperatorCommands(EngineWindow& window, ByteSender send)
    : window_(window), send_(std::move(send)) {}

void OperatorCommands::ToggleEnable() {
    if (window_.EnableButtonCaption() == kDisableBaCaption) {
        window_.SetEnableButtonCaption(kEnableBaCaption);
        Send(wire::kDisable);
    } else {
        window_.SetEnableButtonCaption(kDisableBaCaption);
        Send(wire::kEnable);
    }
}

void OperatorCommands::Accept() {
    if (AwaitingDecision != 1) return;
    AwaitingDecision = 0;
    EscrowPending = 0;
    Send(wire::kAccept);
}

void OperatorCommands::Reject() {
    if (AwaitingDecision != 1) return;
    AwaitingDecision = 0;
    Send(wire::kReject);
}

void OperatorCommands::ClearCredit() {
    window_.SetDisplayValue(Display::NoteCount, 0);
    window_.SetDisplayValue(Display::Escrow, 0);
    window_.SetDisplayValue(Display::Credit, 0);
    NoteCount = 0;
}

void OperatorCommands::Reset() {
    if (EscrowPending == 1) {
        // Zero rather than "display minus the note's value": after a stack, a return, a refused
        // note or an earlier reset the display no longer holds that value.
        window_.SetDisplayValue(Display::Escrow, 0);
        DisableDecisionButtons(window_);
    }
    AwaitingDecision = 0;
    Send(wire::kReset);
}

void OperatorCommands::Poll() {
    if (PollPermitted != 1) return;
    // The one command whose line goes before its byte.
    window_.AppendLogLine(wire::SentLine(wire::kPoll));
    if (!send_(wire::kPoll)) window_.LastLineNotWritten();
}

}  // namespace norva
