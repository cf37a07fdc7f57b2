#pragma once

#include <memory>

#include "serial/rs232.h"

// The receive thread watching the open port, if any. Replaced only on the thread that runs the
// link.
extern std::unique_ptr<norva::RS232> ComThread;

// Stops and joins the receive thread; afterwards no thread touches the port.
void StopReceiveThread();
