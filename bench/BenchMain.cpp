#include "Metrics.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

namespace lodestrum::bench {

std::map<std::string, Metric>& Metrics() {
    static std::map<std::string, Metric> metrics;
    return metrics;
}

void Record(const std::string& name, double value, const std::string& unit) {
    Metrics()[name] = {value, unit};
}

static std::vector<void (*)(std::map<std::string, Metric>&)>& Finishers() {
    static std::vector<void (*)(std::map<std::string, Metric>&)> finishers;
    return finishers;
}

void AddFinisher(void (*finisher)(std::map<std::string, Metric>&)) {
    Finishers().push_back(finisher);
}

} // namespace lodestrum::bench

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    auto& metrics = lodestrum::bench::Metrics();
    for (auto finisher : lodestrum::bench::Finishers()) finisher(metrics);
    for (const auto& [name, metric] : metrics)
        std::printf("metric %s %.6g %s\n", name.c_str(), metric.Value, metric.Unit.c_str());
    return 0;
}
