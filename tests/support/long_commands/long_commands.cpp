#include "support/long_commands/long_commands.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "support/wav_builder.h"

namespace zandrel::test {

const std::vector<LongCommandCase>& LongCommandCases() {
  static const std::vector<LongCommandCase> all = [] {
    std::vector<LongCommandCase> cases;
    AddProcessingCases(cases);
    AddStretchCases(cases);
    AddRateAndPitchCases(cases);
    AddChopAndTempoCases(cases);
    AddLoopAndSoundDesignCases(cases);
    return cases;
  }();
  return all;
}

std::vector<uint8_t> LongCommandWav(double seconds, int bits, uint32_t rate) {
  const int64_t frames = std::max<int64_t>(1, std::llround(seconds * rate));
  const int bytesPerSample = bits / 8;
  Bytes data(static_cast<size_t>(frames) * 2 * static_cast<size_t>(bytesPerSample));
  // A note of the C major scale every half second, a decaying noise burst on
  // every beat (120 BPM): pitch and beat analyses both find work.
  static constexpr int kScale[] = {60, 62, 64, 65, 67, 69, 71, 72};
  const double full = bits == 24 ? 8388607.0 : 32767.0;
  uint32_t noise = 12345;
  size_t at = 0;
  double phase = 0.0;
  for (int64_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const int step = static_cast<int>(t * 2.0);
    const double hz = 440.0 * std::pow(2.0, (kScale[step % 8] - 69) / 12.0);
    phase += 2.0 * std::numbers::pi * hz / rate;
    const double sinceBeat = t - std::floor(t * 2.0) / 2.0;
    noise = noise * 1664525u + 1013904223u;
    const double hit = (static_cast<double>(noise >> 8) / 8388608.0 - 1.0) * std::exp(-sinceBeat * 40.0);
    const double tone = 0.35 * std::sin(phase);
    const double channels[2] = {tone + 0.3 * hit, 0.8 * tone + 0.35 * hit};
    for (double v : channels) {
      const auto s = static_cast<int32_t>(std::lround(std::clamp(v, -1.0, 1.0) * full));
      for (int b = 0; b < bytesPerSample; ++b) data[at++] = static_cast<uint8_t>((s >> (8 * b)) & 0xff);
    }
  }
  WavBuilder wav;
  wav.Fmt(1, 2, rate, static_cast<uint16_t>(bits));
  wav.Data(data);
  return wav.Build();
}

void PrepareLongCommandScene(CQuorvelDoc& doc, ViewModel& view) {
  const int64_t frames = doc.FrameCount();
  const int64_t half = frames / 2;
  doc.instrument.hasInstrument = true;
  doc.instrument.params.bpm = 120.0f;
  doc.instrument.regions.clear();
  for (int64_t start : {int64_t{0}, half}) {
    const int64_t end = start == 0 ? half : frames;
    Region r{};
    r.startSample = start;
    r.endSample = end;
    r.loopStart = start + (end - start) / 4;
    r.loopEnd = start + 3 * (end - start) / 4;
    r.rootNote = 60;
    r.loKey = start == 0 ? 0 : 61;
    r.hiKey = start == 0 ? 60 : 127;
    doc.instrument.regions.push_back(r);
  }
  view.clientWidth = 1000;
  view.clientHeight = 400;
  view.snapToZeroCrossing = false;
  view.selectedRegion = 0;
  view.loopIn = doc.instrument.regions[0].loopStart;
  view.loopOut = doc.instrument.regions[0].loopEnd;
  view.cursorFrame = view.loopIn;
}

void RunRegisteredCommand(LongCommandScene& scene, int id, const std::function<void(CommandRegistry&)>& declare) {
  CommandRegistry registry;
  declare(registry);
  registry.Run(id, scene.context);
  scene.context.RunPosted();
}

}  // namespace zandrel::test
