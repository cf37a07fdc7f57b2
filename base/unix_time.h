#pragma once

#include <chrono>
#include <cstdint>

namespace norva {

// Microseconds since the Unix epoch, UTC: the time every block, byte and capture line carries.
inline std::int64_t UnixMicrosNow() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace norva
