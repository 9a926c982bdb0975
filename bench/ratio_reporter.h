// A console reporter that remembers every run's time and, after the run,
// prints our time beside a peer's time and their ratio (ours / peer) for
// each registered pair, so one run shows how far a routine is from its peer.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace zandrel {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  struct Pair {
    std::string label;
    std::string ours;  // benchmark run names as printed, e.g. "BM_X/256/real_time"
    std::string peer;
    std::string peerName;
  };

  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void Add(Pair pair) { pairs_.push_back(std::move(pair)); }

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // Times in microseconds whatever unit the run printed in.
      times_[run.benchmark_name()] = run.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(benchmark::kMicrosecond) /
                                     benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
  }

  void PrintRatios() const {
    bool header = false;
    for (const Pair& pair : pairs_) {
      const auto ours = times_.find(pair.ours);
      const auto peer = times_.find(pair.peer);
      if (ours == times_.end() || peer == times_.end() || peer->second <= 0) continue;
      if (!header) {
        std::printf("\n%-58s %12s %12s %8s\n", "ratio = our time / peer's time", "ours (us)", "peer (us)", "ratio");
        header = true;
      }
      std::printf("%-58s %12.1f %12.1f %7.2fx  (peer: %s)\n", pair.label.c_str(), ours->second, peer->second,
                  ours->second / peer->second, pair.peerName.c_str());
    }
  }

 private:
  std::vector<Pair> pairs_;
  std::map<std::string, double> times_;
};

// Runs the registered benchmarks with |reporter| and prints its ratios.
inline int RunWithRatios(int argc, char** argv, RatioReporter& reporter) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}

}  // namespace zandrel
