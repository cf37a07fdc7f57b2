#pragma once

#include <cstdio>
#include <optional>

namespace norva {

// The window program's own arguments, --help (or -h) and --version: answered on out (standard
// output) before the window framework starts, so that they need no display. nullopt when there
// is none of them: the window starts, Qt takes its own options and ignores the rest, as always.
std::optional<int> AnswerOwnArguments(int argc, char* const argv[], std::FILE* out);

}  // namespace norva
