#pragma once
// The console table, then one line per pair of benchmarks run side by side:
// the median real time of one over the other's. Benchmarks are named as the
// library registers them, with their arguments ("BM_Read/1").
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    struct Ratio {
        std::string label;
        std::string numerator;
        std::string denominator;
    };
    explicit RatioReporter(std::vector<Ratio> ratios) : ratios_(std::move(ratios)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
            medians_[name] = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const Ratio& ratio : ratios_) {
            const double top = medians_[ratio.numerator];
            const double bottom = medians_[ratio.denominator];
            if (top > 0 && bottom > 0) std::printf("%s: %.2f\n", ratio.label.c_str(), top / bottom);
        }
    }

  private:
    std::vector<Ratio> ratios_;
    std::map<std::string, double> medians_;
};

// Runs the registered benchmarks and prints the ratios after the table.
inline int RunWithRatios(int argc, char** argv, std::vector<RatioReporter::Ratio> ratios) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter(std::move(ratios));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
