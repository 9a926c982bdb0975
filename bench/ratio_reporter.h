// A console reporter that remembers every run's time and, after the run,
// prints our time beside a peer's time and their ratio (ours / peer) for
// each registered pair, so one run shows how far a routine is from its peer.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zandrel {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  struct Pair {
    std::string label;
    std::string ours;  // benchmark run names as printed, e.g. "BM_X/256/real_time"
    std::string peer;
    std::string peerName;
    // Both sides run on one thread: compare CPU times, which a busy machine
    // disturbs less than wall times. Otherwise wall times are compared.
    bool oneThread = false;
    // Further peers (run name, what it is): the pair compares with the
    // fastest of these and |peer|, and names the one it compared with.
    std::vector<std::pair<std::string, std::string>> peers = {};
  };

  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void Add(Pair pair) { pairs_.push_back(std::move(pair)); }

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // Times in microseconds whatever unit the run printed in.
      const double toMicroseconds = benchmark::GetTimeUnitMultiplier(benchmark::kMicrosecond) /
                                    benchmark::GetTimeUnitMultiplier(run.time_unit);
      // A benchmark run with repetitions reports each one under its name:
      // the fastest is kept, the one a busy machine disturbed least.
      const Times t{run.GetAdjustedRealTime() * toMicroseconds, run.GetAdjustedCPUTime() * toMicroseconds};
      const auto [it, fresh] = times_.emplace(run.benchmark_name(), t);
      if (!fresh) it->second = {std::min(it->second.wall, t.wall), std::min(it->second.cpu, t.cpu)};
    }
  }

  void PrintRatios() const {
    bool header = false;
    for (const Pair& pair : pairs_) {
      const auto ours = times_.find(pair.ours);
      if (ours == times_.end()) continue;
      const double ourTime = pair.oneThread ? ours->second.cpu : ours->second.wall;
      double peerTime = 0;
      std::string peerName = pair.peerName;
      std::vector<std::pair<std::string, std::string>> candidates = pair.peers;
      candidates.insert(candidates.begin(), {pair.peer, ""});
      for (const auto& [run, name] : candidates) {
        const auto peer = times_.find(run);
        if (peer == times_.end()) continue;
        const double time = pair.oneThread ? peer->second.cpu : peer->second.wall;
        if (time > 0 && (peerTime <= 0 || time < peerTime)) {
          peerTime = time;
          peerName = name.empty() ? pair.peerName : pair.peerName + ", " + name;
        }
      }
      if (peerTime <= 0) continue;
      if (!header) {
        std::printf("\n%-62s %12s %12s %8s\n", "ratio = our time / peer's time", "ours (us)", "peer (us)", "ratio");
        header = true;
      }
      std::printf("%-62s %12.1f %12.1f %7.2fx  %s time (peer: %s)\n", pair.label.c_str(), ourTime, peerTime,
                  ourTime / peerTime, pair.oneThread ? "CPU" : "wall", peerName.c_str());
    }
  }

 private:
  std::vector<Pair> pairs_;
  struct Times {
    double wall;
    double cpu;
  };
  std::map<std::string, Times> times_;
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
