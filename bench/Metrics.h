#pragma once

#include <map>
#include <string>

namespace lodestrum::bench {

// Figures a benchmark wants printed as "metric NAME VALUE UNIT" lines once
// every benchmark has run; derived figures (ratios) are computed there.
struct Metric {
    double Value = 0;
    std::string Unit;
};
std::map<std::string, Metric>& Metrics();
void Record(const std::string& name, double value, const std::string& unit);
// Registered by a benchmark file to add figures computed from the others.
void AddFinisher(void (*finisher)(std::map<std::string, Metric>&));

} // namespace lodestrum::bench
