#pragma once

#include "tools/norva-cli/cli_options.h"
#include "tools/norva-cli/standard_streams.h"

namespace norva::cli {

// norva-cli --tap-host PATH --tap-device PATH: listens to a live link until a stop, then prints
// the summary; the exit status as for the bench's own sessions. signalFd turns readable at
// SIGINT or SIGTERM.
int RunTap(const Options& o, Streams& streams, int signalFd);

}  // namespace norva::cli
