#include "link/com_thread.h"

std::unique_ptr<norva::RS232> ComThread;

void StopReceiveThread() {
    ComThread.reset();
}
