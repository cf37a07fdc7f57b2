#pragma once

#include "serial/rs232.h"

// The receive thread of the window's link while it runs, else null. That link alone writes it,
// when it starts and stops its thread; nothing else reads it, stops the thread through it or
// frees it. Other links (a command line's, a test's) keep their threads to themselves.
extern norva::RS232* ComThread;
