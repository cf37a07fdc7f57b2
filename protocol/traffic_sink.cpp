#include "protocol/traffic_sink.h"

#include <chrono>

namespace norva {

std::int64_t UnixMicrosNow() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace norva
