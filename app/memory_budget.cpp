#include "app/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace norva {

namespace {

constexpr std::uint64_t kMiB = 1024ULL * 1024ULL;
constexpr std::uint64_t kGiB = 1024ULL * kMiB;
// Far beyond any machine; keeps the byte count from overflowing.
constexpr std::uint64_t kLargestMegabytes = 1ULL << 40;

}  // namespace

int MemoryBudget::AddConsumer(BudgetConsumer consumer) {
    consumers_.push_back({nextId_, std::move(consumer)});
    return nextId_++;
}

void MemoryBudget::RemoveConsumer(int id) {
    std::erase_if(consumers_, [id](const Entry& entry) { return entry.id == id; });
}

std::uint64_t MemoryBudget::Total() const {
    std::uint64_t total = 0;
    for (const Entry& entry : consumers_)
        total += entry.consumer.bytes();
    return total;
}

bool MemoryBudget::Enforce() {
    // A consumer that adds while it drops must not start a second trim inside the first.
    if (enforcing_) return false;
    const std::uint64_t total = Total();
    if (total <= limit_) return false;
    enforcing_ = true;
    // Down to nine tenths of the limit, however far over it a single addition went.
    const double keep = 0.9 * static_cast<double>(limit_) / static_cast<double>(total);
    const double fraction = std::clamp(1.0 - keep, kMinimumDropFraction, 1.0);
    const std::vector<Entry> consumers = consumers_;
    for (const Entry& entry : consumers)
        entry.consumer.dropOldestFraction(fraction);
    enforcing_ = false;
    return true;
}

std::optional<std::uint64_t> ParseBudgetMegabytes(std::string_view text) {
    if (text.empty() || text.size() > 13) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value == 0 || value > kLargestMegabytes) return std::nullopt;
    return value;
}

std::uint64_t DefaultLogBudgetBytes(std::uint64_t physicalBytes) {
    return std::max(physicalBytes / 4, kGiB);
}

std::uint64_t LogBudgetBytes() {
    if (const char* text = std::getenv(kLogBudgetVariable)) {
        if (const auto megabytes = ParseBudgetMegabytes(text)) return *megabytes * kMiB;
    }
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const std::uint64_t physical =
        pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) : 0;
    return DefaultLogBudgetBytes(physical);
}

std::string BudgetSizeText(std::uint64_t bytes) {
    char text[48];
    if (bytes >= kGiB) {
        const double gigabytes = static_cast<double>(bytes) / static_cast<double>(kGiB);
        const double tenths = static_cast<double>(static_cast<std::uint64_t>(gigabytes * 10 + 0.5));
        if (static_cast<std::uint64_t>(tenths) % 10 == 0)
            std::snprintf(text, sizeof text, "%.0f GB", tenths / 10);
        else
            std::snprintf(text, sizeof text, "%.1f GB", tenths / 10);
    } else {
        std::snprintf(text, sizeof text, "%llu MB",
                      static_cast<unsigned long long>((bytes + kMiB / 2) / kMiB));
    }
    return text;
}

std::string WithThousands(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), 1, ',');
    return digits;
}

}  // namespace norva
