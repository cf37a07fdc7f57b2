#include "link/com_thread.h"

norva::RS232* ComThread = nullptr;
