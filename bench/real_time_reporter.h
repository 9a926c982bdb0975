// Console output plus, after the runs, each run's CPU time against the
// duration of the audio it produced: the floor of anything that renders
// sound is real time.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zandrel::bench {

// audioSeconds(label) is how much audio the run with that label produced.
using AudioSecondsOf = std::function<double(const std::string& label)>;

class RealTimeReporter : public benchmark::ConsoleReporter {
 public:
  RealTimeReporter(std::string title, AudioSecondsOf audioSeconds)
      : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular),
        title_(std::move(title)),
        audioSeconds_(std::move(audioSeconds)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const double toSeconds = 1.0 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      rows_.push_back({run.report_label, run.GetAdjustedCPUTime() * toSeconds});
    }
  }

  void PrintRatios() const {
    std::printf("\n%-40s %12s %12s %8s\n", title_.c_str(), "ours (ms)", "audio (ms)", "ratio");
    for (const auto& [label, seconds] : rows_) {
      const double audio = audioSeconds_(label);
      std::printf("%-40s %12.1f %12.1f %8.4f  CPU time, one core (floor: real time)\n", label.c_str(),
                  seconds * 1000.0, audio * 1000.0, seconds / audio);
    }
  }

 private:
  std::string title_;
  AudioSecondsOf audioSeconds_;
  std::vector<std::pair<std::string, double>> rows_;
};

// The whole main() of a benchmark program that renders audio.
inline int RunWithRealTimeRatios(int argc, char** argv, std::string title, AudioSecondsOf audioSeconds) {
  benchmark::Initialize(&argc, argv);
  RealTimeReporter reporter(std::move(title), std::move(audioSeconds));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}

}  // namespace zandrel::bench
