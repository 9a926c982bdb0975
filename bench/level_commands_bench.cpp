// The level commands (fades, reverb and echo fades, Silence, Normalize) on a
// minute of audio, run through the processing runner as the editor runs them:
// a copy of the audio, the work on a worker thread, the copy swapped in.
// Times are wall-clock (the work runs on another thread). The floor is real
// time: the minute of audio itself; each run reports how many times faster
// than real time the command is (goal: at least 200). The undo snapshot that
// the editor writes before committing is measured on its own.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "document/quorvel_doc.h"
#include "processing/level_commands.h"
#include "processing/processing_command.h"
#include "processing/sample_frames.h"

namespace zandrel {
namespace {

constexpr int kSeconds = 60;
constexpr uint32_t kRate = 44100;

struct Layout {
  int bits;
  int channels;
  const char* name;
};
constexpr Layout kLayouts[] = {{16, 1, "16-bit mono"}, {24, 2, "24-bit stereo"}, {16, 2, "16-bit stereo"}};

// A minute of a chord at half scale.
std::vector<uint8_t> Audio(const Layout& layout) {
  const size_t frames = static_cast<size_t>(kRate) * kSeconds;
  const int bytes = layout.bits / 8;
  std::vector<uint8_t> data(frames * layout.channels * bytes);
  auto fill = [&](auto s, double full) {
    for (size_t i = 0; i < frames; ++i) {
      const double t = static_cast<double>(i) / kRate;
      const double v = 0.5 * (std::sin(2 * std::numbers::pi * 220 * t) + std::sin(2 * std::numbers::pi * 331 * t)) / 2;
      for (int c = 0; c < layout.channels; ++c) s.Set(static_cast<int64_t>(i), c, std::trunc(v * full));
    }
  };
  if (layout.bits == 16) {
    fill(SampleFrames<SampleFormat::kS16>(data, layout.channels, layout.channels * 2, kRate), 32767.0);
  } else {
    fill(SampleFrames<SampleFormat::kS24>(data, layout.channels, layout.channels * 3, kRate), 8388607.0);
  }
  return data;
}

void Load(CQuorvelDoc& doc, const Layout& layout) {
  static std::map<int, std::vector<uint8_t>> cache;
  const int key = layout.bits * 10 + layout.channels;
  if (!cache.count(key)) cache[key] = Audio(layout);
  const auto block = static_cast<uint16_t>(layout.channels * layout.bits / 8);
  doc.audio.format = PcmFormat{1, static_cast<uint16_t>(layout.channels), kRate, kRate * block, block,
                               static_cast<uint16_t>(layout.bits)};
  doc.audio.data = cache[key];
}

void Report(benchmark::State& state) {
  // Audio seconds per wall second: the ratio to real time.
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(kSeconds) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["floor_s"] = kSeconds;
}

void BM_LevelCommand(benchmark::State& state) {
  const ProcessingCommand& declared = LevelCommands()[static_cast<size_t>(state.range(0))];
  const Layout& layout = kLayouts[state.range(1)];
  // The same command without its undo entry: the snapshot is measured apart.
  ProcessingCommand command = declared;
  command.undoLabel = {};
  CQuorvelDoc doc;
  ProcessingContext context;
  context.doc = &doc;
  // The whole minute, selected (Silence works on the selection only).
  context.selection = SelectionState{0, static_cast<int64_t>(kRate) * kSeconds, true};
  for (auto _ : state) {
    state.PauseTiming();
    Load(doc, layout);
    state.ResumeTiming();
    const ProcessingResult result = RunProcessingCommand(command, context);
    if (result != ProcessingResult::kDone) {
      state.SkipWithError("the command did not run");
      break;
    }
  }
  state.SetLabel(std::string(declared.menuText) + ", " + layout.name);
  Report(state);
}

void LevelArgs(benchmark::internal::Benchmark* b) {
  for (int c = 0; c < static_cast<int>(LevelCommands().size()); ++c) {
    const bool only16 = LevelCommands()[static_cast<size_t>(c)].depths.Has(SampleFormat::kS24) == false;
    b->Args({c, 0});
    b->Args({c, only16 ? 2 : 1});  // the 16-bit-only effects take 16-bit stereo instead
  }
}
BENCHMARK(BM_LevelCommand)->Apply(LevelArgs)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_UndoSnapshot(benchmark::State& state) {
  const Layout& layout = kLayouts[state.range(0)];
  CQuorvelDoc doc;
  Load(doc, layout);
  for (auto _ : state) {
    (void)doc.PushUndo(kUndoWithAudio, "Snapshot");
    state.PauseTiming();
    doc.undoHistory.Clear();
    state.ResumeTiming();
  }
  state.SetLabel(std::string("undo snapshot, ") + layout.name);
  Report(state);
}
BENCHMARK(BM_UndoSnapshot)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Prints, after the runs, each command's wall time beside real time (the
// floor: the minute of audio) and how many times faster than real time it is.
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
    std::printf("\n%-42s %10s %14s %12s\n", "60 s of audio", "ours (ms)", "real time (ms)", "x realtime");
    for (const auto& [label, ms] : rows_) {
      const double ratio = kSeconds * 1000.0 / ms;
      std::printf("%-42s %10.1f %14.0f %11.0fx%s\n", label.c_str(), ms, kSeconds * 1000.0, ratio,
                  ratio < 200 ? "  (below the 200x goal)" : "");
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
