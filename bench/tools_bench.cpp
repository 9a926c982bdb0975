// The real-time sample synth's audio callback and the loop maker's render.
//
// Synth: 64 looping voices at 48 kHz (a 44.1 kHz source, each voice at its
// own pitch), rendered in 1024-frame blocks as the output's thread does. The
// floor is real time: each run reports audio seconds per CPU second on one
// core (goal: 50x linear, 5x radius-4 sinc), and the program prints the CPU
// time of one block beside the block's own duration.
// Render: an 8-bar pattern of 16 hits per bar onto a four-drum kit, against
// the time it takes to sum the same samples into a buffer (the floor).
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "bench/ratio_reporter.h"
#include "tools/loop_render.h"
#include "tools/realtime_synth.h"

namespace zandrel {
namespace {

constexpr double kOutputRate = 48000.0;
constexpr uint32_t kSourceRate = 44100;

CWavLoader SineKit(int64_t frames) {
  CWavLoader wav;
  wav.format = {1, 1, kSourceRate, kSourceRate * 2, 2, 16};
  wav.data.resize(static_cast<size_t>(frames) * 2);
  for (int64_t i = 0; i < frames; ++i) {
    const auto v = static_cast<int16_t>(
        8000 * std::sin(2 * std::numbers::pi * 220 * static_cast<double>(i) / kSourceRate));
    wav.data[static_cast<size_t>(2 * i)] = static_cast<uint8_t>(v & 0xFF);
    wav.data[static_cast<size_t>(2 * i + 1)] = static_cast<uint8_t>((v >> 8) & 0xFF);
  }
  return wav;
}

void BM_SynthBlock(benchmark::State& state) {
  static const CWavLoader audio = SineKit(kSourceRate * 2);
  InstrumentData inst;
  inst.hasInstrument = true;
  Region r;
  r.startSample = 0;
  r.endSample = kSourceRate * 2;
  r.loopStart = 1000;
  r.loopEnd = 1000 + 2205;  // short loops: every voice wraps several times a block
  r.rootNote = 60;
  inst.regions = {r};
  CRealTimeSynth synth;
  synth.Bind(&audio, &inst, kOutputRate);
  synth.SetInterpolation(static_cast<int>(state.range(0)));
  for (int n = 0; n < 64; ++n) synth.NoteOn(36 + n, 100);
  std::vector<float> out(2 * CRealTimeSynth::kBlockFrames);
  for (auto _ : state) {
    synth.Render(out.data(), CRealTimeSynth::kBlockFrames);
    benchmark::DoNotOptimize(out.data());
  }
  if (synth.ActiveVoices() != 64) state.SkipWithError("voices ended");
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(CRealTimeSynth::kBlockFrames) / kOutputRate * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  state.SetLabel(state.range(0) == 0 ? "64 voices, linear" : "64 voices, sinc radius 4");
}
BENCHMARK(BM_SynthBlock)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The block's duration: what the callback may spend at most.
void BM_BlockDuration(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(static_cast<double>(CRealTimeSynth::kBlockFrames) / kOutputRate);
}

struct RenderSetup {
  CWavLoader kit;
  InstrumentData instrument;
  std::vector<PatternEvent> events;
  int64_t mixedSamples = 0;
};

const RenderSetup& Setup() {
  static const RenderSetup setup = [] {
    RenderSetup s;
    s.kit = SineKit(4 * 22050);  // four drums of half a second
    s.instrument.hasInstrument = true;
    for (int d = 0; d < 4; ++d) {
      Region r;
      r.startSample = d * 22050;
      r.endSample = r.startSample + 22050;
      r.rootNote = 36 + 2 * d;
      s.instrument.regions.push_back(r);
    }
    for (int bar = 0; bar < 8; ++bar)
      for (int step = 0; step < 16; ++step)
        s.events.push_back({2, bar * 3840 + step * 240, 120, 36 + 2 * (step % 4), 0.8, 0, 0, 0});
    s.mixedSamples = static_cast<int64_t>(s.events.size()) * 22050;
    return s;
  }();
  return setup;
}

void BM_LoopRender(benchmark::State& state) {
  const RenderSetup& s = Setup();
  LoopRenderInput in;
  in.kit = &s.kit;
  in.instrument = &s.instrument;
  in.events = &s.events;
  in.bars = 8;
  in.tempo = 120;
  for (auto _ : state) {
    LoopRenderResult r = RenderPatternLoop(in);
    benchmark::DoNotOptimize(r.wav.data.data());
  }
  state.SetLabel("8 bars, 128 hits of 0.5 s, 44.1 kHz mono 16-bit");
}
BENCHMARK(BM_LoopRender)->Unit(benchmark::kMillisecond);

// The floor: the same samples summed into a loop buffer of floats.
void BM_LoopRenderFloor(benchmark::State& state) {
  const RenderSetup& s = Setup();
  const int64_t loop = LoopFrames(8, 120, kSourceRate);
  for (auto _ : state) {
    std::vector<float> mix(static_cast<size_t>(loop), 0.0f);
    std::vector<float> kit(static_cast<size_t>(s.kit.FrameCount()));
    for (size_t i = 0; i < kit.size(); ++i)
      kit[i] = static_cast<float>(static_cast<int16_t>(s.kit.data[2 * i] | (s.kit.data[2 * i + 1] << 8))) / 32768.0f;
    for (const PatternEvent& e : s.events) {
      int64_t p = e.time * 22050 / 960 % loop;
      const size_t base = static_cast<size_t>((e.note - 36) / 2) * 22050;
      for (size_t i = 0; i < 22050; ++i) {
        mix[static_cast<size_t>(p)] += kit[base + i] * 0.8f;
        if (++p == loop) p = 0;
      }
    }
    std::vector<uint8_t> pcm(static_cast<size_t>(loop) * 2);
    for (size_t i = 0; i < mix.size(); ++i) {
      const auto v = static_cast<int16_t>(mix[i] * 32767.0f);
      pcm[2 * i] = static_cast<uint8_t>(v & 0xFF);
      pcm[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    }
    benchmark::DoNotOptimize(pcm.data());
  }
  state.SetLabel("floor: the same sums in a plain loop");
}
BENCHMARK(BM_LoopRenderFloor)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  zandrel::RatioReporter reporter;
  reporter.Add({"synth callback, 64 voices linear, vs the block's duration", "BM_SynthBlock/0",
                "BM_BlockDuration/iterations:10/manual_time", "real time", false});
  reporter.Add({"synth callback, 64 voices sinc 4, vs the block's duration", "BM_SynthBlock/1",
                "BM_BlockDuration/iterations:10/manual_time", "real time", false});
  reporter.Add({"loop render, 8 bars", "BM_LoopRender", "BM_LoopRenderFloor", "plain summing loop", true});
  benchmark::RegisterBenchmark("BM_BlockDuration", zandrel::BM_BlockDuration)->UseManualTime()->Iterations(10);
  return zandrel::RunWithRatios(argc, argv, reporter);
}
