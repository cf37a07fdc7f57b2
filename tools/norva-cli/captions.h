#pragma once

#include <array>
#include <string>

#include "base/result.h"
#include "billvalues/bill_values.h"
#include "tools/norva-cli/cli_options.h"

namespace norva::cli {

// The captions the window's tick boxes would carry: channel n is n, then the file's lines. A
// missing default file is what the window meets at start, a notice; a named file must be there.
struct Captions {
    std::array<std::string, kChannelCount> texts;
    std::string notice;
};

Result<Captions> LoadCaptions(const Options& o);

}  // namespace norva::cli
