// Auto-chop, the tempo estimates, the adaptive gate and compressor and the
// spectral clean-up on a minute of mono 44.1 kHz audio (a drum loop with a
// melody over it). Dynamics and spectral commands run through the
// processing runner as the editor runs them (a copy, a worker thread, the
// commit); the analyses are called directly. Times are wall-clock; the floor
// is real time (the minute itself), and each row reports how many times
// faster than real time it is, against its goal (gate and compressor 500x,
// spectral tools 50x; auto-chop by frequency and the beat search are
// dominated by the note segmentation and the beat tracker).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "document/quorvel_doc.h"
#include "processing/auto_chop.h"
#include "processing/beat_tracker.h"
#include "processing/dynamics.h"
#include "processing/pitch.h"
#include "processing/tempo.h"

namespace zandrel {
namespace {

constexpr int kSeconds = 60;
constexpr uint32_t kRate = 44100;

const std::vector<uint8_t>& Minute() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d(static_cast<size_t>(kRate) * kSeconds * 2);
    for (size_t i = 0; i < d.size() / 2; ++i) {
      const double t = static_cast<double>(i) / kRate;
      const double beat = std::fmod(t, 0.5);
      const int note = 60 + static_cast<int>(t / 0.5) % 8;
      const double hz = 440.0 * std::pow(2.0, (note - 69) / 12.0);
      const double v = 0.5 * std::exp(-beat / 0.03) * std::sin(2 * std::numbers::pi * 200 * beat) +
                       0.25 * std::sin(2 * std::numbers::pi * hz * t);
      const auto s = static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767));
      d[2 * i] = static_cast<uint8_t>(s);
      d[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
    }
    return d;
  }();
  return data;
}

PcmSpan Span() {
  PcmSpan s;
  s.bytes = Minute();
  s.channels = 1;
  s.sampleRate = kRate;
  s.blockAlign = 2;
  s.bitsPerSample = 16;
  return s;
}

void Report(benchmark::State& state, const std::string& label) {
  state.SetLabel(label);
  state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(kSeconds) * state.iterations(),
                                                    benchmark::Counter::kIsRate);
}

void BM_DynamicsCommand(benchmark::State& state) {
  ProcessingCommand command = DynamicsCommands()[static_cast<size_t>(state.range(0))];
  command.undoLabel = {};  // the undo snapshot is not part of the work
  CQuorvelDoc doc;
  doc.audio.format = PcmFormat{1, 1, kRate, kRate * 2, 2, 16};
  ProcessingContext context;
  context.doc = &doc;
  context.selection = SelectionState{0, static_cast<int64_t>(kRate) * kSeconds, true};
  for (auto _ : state) {
    state.PauseTiming();
    doc.audio.data = Minute();
    state.ResumeTiming();
    if (RunProcessingCommand(command, context) != ProcessingResult::kDone) {
      state.SkipWithError("the command did not run");
      break;
    }
  }
  Report(state, std::string(command.menuText));
}
BENCHMARK(BM_DynamicsCommand)->DenseRange(0, 3)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_AutoChopTransients(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<Region> regions = RegionsFromOnsets(TransientOnsets(Span(), 1.9f, 200), Span().Frames(), kRate);
    MapMajorScale(regions, 8);
    benchmark::DoNotOptimize(regions);
  }
  Report(state, "Auto Chop (Percussive Simple)");
}
BENCHMARK(BM_AutoChopTransients)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_AutoChopByFrequency(benchmark::State& state) {
  for (auto _ : state) {
    MelodySegments m = PrepareMelodySegments(DetectNoteSegments(Span()), kRate);
    benchmark::DoNotOptimize(RegionsFromSegments(m.segments, Span().Frames(), nullptr));
  }
  Report(state, "Auto Chop (Melodic by Frequency)");
}
BENCHMARK(BM_AutoChopByFrequency)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_BpmFromTransients(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(BpmFromTransients(Span(), 0, Span().Frames()));
  Report(state, "Find BPM from Transients");
}
BENCHMARK(BM_BpmFromTransients)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_FindBeats(benchmark::State& state) {
  for (auto _ : state) {
    BeatDetector detector;
    benchmark::DoNotOptimize(DetectBeats(detector, Minute(), 1, kRate, 16));
  }
  Report(state, "Find Beats");
}
BENCHMARK(BM_FindBeats)->UseRealTime()->Unit(benchmark::kMillisecond);

double GoalFor(const std::string& label) {
  if (label.find("Adaptive") != std::string::npos) return 500;
  if (label.find("Spectral") != std::string::npos) return 50;
  return 0;
}

class RealTimeReporter : public benchmark::ConsoleReporter {
 public:
  RealTimeReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const double ms = run.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                        benchmark::GetTimeUnitMultiplier(run.time_unit);
      rows_.push_back({run.report_label, ms});
    }
  }

  void PrintSummary() const {
    std::printf("\n%-36s %10s %14s %12s\n", "60 s mono 44.1 kHz", "ours (ms)", "real time (ms)", "x realtime");
    for (const auto& [label, ms] : rows_) {
      const double ratio = kSeconds * 1000.0 / ms;
      const double goal = GoalFor(label);
      std::printf("%-36s %10.1f %14.0f %11.0fx%s\n", label.c_str(), ms, kSeconds * 1000.0, ratio,
                  goal > 0 && ratio < goal ? "  (below the goal)" : "");
    }
  }

 private:
  std::vector<std::pair<std::string, double>> rows_;
};

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  zandrel::RealTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
