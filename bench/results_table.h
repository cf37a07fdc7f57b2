#pragma once

#include <functional>
#include <string>
#include <vector>

namespace norva::bench {

// One table: a row per measurement, a column per run, the target and whether every run met it.
class ResultsTable {
public:
    using Format = std::function<std::string(double)>;
    using Meets = std::function<bool(double)>;

    explicit ResultsTable(int runs) : runs_(runs) {}

    // values: one per run, NaN where the run could not measure it. Without meets the row only
    // informs.
    void Add(std::string measure, std::string target, const std::vector<double>& values,
             const Format& format, const Meets& meets = {});
    // A row whose cells are already text.
    void AddText(std::string measure, std::string target, std::vector<std::string> cells,
                 std::string verdict);

    std::string Markdown() const;

private:
    struct Row {
        std::string measure;
        std::string target;
        std::vector<std::string> cells;
        std::string verdict;
    };
    int runs_;
    std::vector<Row> rows_;
};

// "%.<digits>f" of the value, with thousands separated by a thin space when large.
std::string Fixed(double value, int digits);

// Cores, processor, memory and kernel, in one line.
std::string MachineSummary();

}  // namespace norva::bench
