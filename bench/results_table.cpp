#include "results_table.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>

namespace norva::bench {

std::string Fixed(double value, int digits) {
    if (std::isnan(value)) return "n/a";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    std::string out = text;
    // Group the whole part in threes so that byte rates read at a glance.
    std::size_t end = out.find('.');
    if (end == std::string::npos) end = out.size();
    const std::size_t begin = out[0] == '-' ? 1 : 0;
    for (std::size_t i = end; i > begin + 3; i -= 3)
        out.insert(i - 3, 1, ',');
    return out;
}

void ResultsTable::Add(std::string measure, std::string target, const std::vector<double>& values,
                       const Format& format, const Meets& meets) {
    Row row{std::move(measure), std::move(target), {}, "—"};
    int measured = 0;
    int met = 0;
    for (double value : values) {
        row.cells.push_back(std::isnan(value) ? "n/a" : format(value));
        if (std::isnan(value)) continue;
        ++measured;
        if (meets && meets(value)) ++met;
    }
    if (meets) {
        if (measured == 0)
            row.verdict = "not measured";
        else if (met == measured && measured == int(values.size()))
            row.verdict = "met";
        else if (met == 0)
            row.verdict = "**missed**";
        else
            row.verdict = "met in " + std::to_string(met) + " of " + std::to_string(values.size());
    }
    rows_.push_back(std::move(row));
}

void ResultsTable::AddText(std::string measure, std::string target, std::vector<std::string> cells,
                           std::string verdict) {
    rows_.push_back({std::move(measure), std::move(target), std::move(cells), std::move(verdict)});
}

std::string ResultsTable::Markdown() const {
    std::string out = "| Measure | Target |";
    for (int run = 1; run <= runs_; ++run)
        out += " Run " + std::to_string(run) + " |";
    out += " Verdict |\n|---|---|";
    for (int run = 1; run <= runs_; ++run)
        out += "---:|";
    out += "---|\n";
    for (const Row& row : rows_) {
        out += "| " + row.measure + " | " + row.target + " |";
        for (int run = 0; run < runs_; ++run)
            out += " " + (run < int(row.cells.size()) ? row.cells[std::size_t(run)] : "") + " |";
        out += " " + row.verdict + " |\n";
    }
    return out;
}

std::string MachineSummary() {
    std::string model = "unknown processor";
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    double memoryGb = 0;
    std::ifstream meminfo("/proc/meminfo");
    for (std::string line; std::getline(meminfo, line);) {
        if (line.rfind("MemTotal:", 0) == 0) {
            memoryGb = std::stod(line.substr(9)) / 1024.0 / 1024.0;
            break;
        }
    }
    utsname system{};
    ::uname(&system);
    return std::to_string(::sysconf(_SC_NPROCESSORS_ONLN)) + " cores (" + model + "), " +
           Fixed(memoryGb, 1) + " GiB memory, Linux " + system.release;
}

}  // namespace norva::bench
