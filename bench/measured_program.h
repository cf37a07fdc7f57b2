#pragma once

namespace norva::bench {

// The argument that makes the benchmark executable the program under measurement.
inline constexpr const char* kMeasuredProgramArgument = "--measured-program";
// Where the driver's end of the control socket is, and when the driver started the process.
inline constexpr const char* kControlFdVariable = "NORVA_BENCH_CONTROL_FD";
inline constexpr const char* kStartNsVariable = "NORVA_BENCH_START_NS";

// The real program, started as the binary starts it, plus a probe that answers the driver's
// questions on the window's thread between the program's own events.
int RunMeasuredProgram(char* programName);

}  // namespace norva::bench
