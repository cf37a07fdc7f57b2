#pragma once

#include <sys/resource.h>

// Processor time this process has used so far, user and system, in milliseconds. A loop that
// spins shows up here however busy the rest of the machine is.
inline double ProcessCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
           usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
}
