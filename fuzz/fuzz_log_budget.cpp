// The budget override from the environment: no crash, and whatever it accepts is a whole, positive
// number of megabytes spelt in plain digits, whose size text and byte count stay in range.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/memory_budget.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto megabytes = norva::ParseBudgetMegabytes(text);
    if (!megabytes) return 0;
    Check(*megabytes > 0, "accepted zero");
    const std::string_view digits = text.substr(text.find_first_not_of('0'));
    Check(std::to_string(*megabytes) == digits, "accepted something else than its digits");
    const std::uint64_t bytes = *megabytes * 1024ULL * 1024ULL;
    Check(bytes / (1024ULL * 1024ULL) == *megabytes, "byte count overflowed");
    Check(!norva::BudgetSizeText(bytes).empty(), "no size text");
    Check(!norva::WithThousands(*megabytes).empty(), "no count text");
    return 0;
}
