#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norva {

// One store that holds evidence in memory: how much it takes, and a way to give up its oldest
// part (a fraction of what it holds, 0 to 1).
struct BudgetConsumer {
    std::function<std::uint64_t()> bytes;
    std::function<void(double fraction)> dropOldestFraction;
};

// A safety net for everything the bench keeps in memory: when the stores together pass the
// limit, each gives up the same fraction of its oldest, at least a tenth, so that trimming is
// rare and each trim leaves room for a while.
class MemoryBudget {
public:
    static constexpr double kMinimumDropFraction = 0.1;

    explicit MemoryBudget(std::uint64_t limitBytes) : limit_(limitBytes) {}

    std::uint64_t limit() const { return limit_; }
    // Returns an id for RemoveConsumer.
    int AddConsumer(BudgetConsumer consumer);
    void RemoveConsumer(int id);
    std::uint64_t Total() const;
    // Trims when the total is over the limit; true when it did.
    bool Enforce();

private:
    struct Entry {
        int id;
        BudgetConsumer consumer;
    };
    std::uint64_t limit_;
    std::vector<Entry> consumers_;
    int nextId_ = 1;
    bool enforcing_ = false;
};

// The environment variable that overrides the default, in whole megabytes.
inline constexpr const char* kLogBudgetVariable = "NORVA_LOG_BUDGET_MB";
// A whole number of megabytes, 1 or more, digits only; anything else is not a budget.
std::optional<std::uint64_t> ParseBudgetMegabytes(std::string_view text);
// A quarter of the physical memory, at least 1 GiB.
std::uint64_t DefaultLogBudgetBytes(std::uint64_t physicalBytes);
// The override when it is a budget, else the default for this machine.
std::uint64_t LogBudgetBytes();

// "6 GB", "5.9 GB", "200 MB".
std::string BudgetSizeText(std::uint64_t bytes);
// 1200000 -> "1,200,000".
std::string WithThousands(std::uint64_t n);

}  // namespace norva
