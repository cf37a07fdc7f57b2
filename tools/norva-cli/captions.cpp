#include "tools/norva-cli/captions.h"

#include <algorithm>

namespace norva::cli {

Result<Captions> LoadCaptions(const Options& o) {
    Captions captions;
    const BillValueEntries defaults = DefaultBillValues();
    std::copy(defaults.begin(), defaults.end(), captions.texts.begin());
    const Result<TextLines> file = ReadBillValueFile(o.valuesFile);
    if (!file.ok() && o.valuesFileGiven) return file.outcome();
    if (!file.ok()) {
        captions.notice = file.Describe() + "; channel n is worth n";
        return captions;
    }
    ApplyBillValueLines(file.value(), [&](int channel, const std::string& text) {
        captions.texts[static_cast<std::size_t>(channel - 1)] = text;
    });
    return captions;
}

}  // namespace norva::cli
