#pragma once

#include <initializer_list>

namespace norva::tools {

// A descriptor that turns readable when one of the signals arrives, so that a program's own
// loop ends the run its usual way (a summary, a link removed). A second signal ends the process
// at once, in case the first one is not getting through. SIGPIPE is ignored. -1 on failure.
int StopSignalDescriptor(std::initializer_list<int> which);

}  // namespace norva::tools
