#include "protocol/shared_state.h"

namespace norva {

int PollPermitted = 1;
int EscrowPending = 0;
int AwaitingDecision = 0;
std::int32_t EscrowValue = 0;
std::int32_t NoteCount = 0;

void ResetSharedState() {
    PollPermitted = 1;
    EscrowPending = 0;
    AwaitingDecision = 0;
    EscrowValue = 0;
    NoteCount = 0;
}

}  // namespace norva
