#include "sound_design/loop_synth.h"

#include <gmock/gmock.h>

#include <cmath>
#include <algorithm>
#include <complex>
#include <string>

#include "processing/rand15.h"

namespace zandrel {
namespace {

constexpr uint32_t kLoopSynthRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// A sine of |hz| and |amplitude| starting at phase 0 (first sample 0).
std::vector<int16_t> LoopSynthSine(int64_t frames, double hz, double amplitude, uint32_t rate = kLoopSynthRate) {
  std::vector<int16_t> out(static_cast<size_t>(frames));
  for (int64_t i = 0; i < frames; ++i)
    out[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * kPi * hz * double(i) / rate)));
  return out;
}

// Interleaves one channel per vector (all of one length).
std::vector<int16_t> Interleave(const std::vector<std::vector<int16_t>>& channels) {
  std::vector<int16_t> out(channels[0].size() * channels.size());
  for (size_t k = 0; k < channels[0].size(); ++k)
    for (size_t c = 0; c < channels.size(); ++c) out[k * channels.size() + c] = channels[c][k];
  return out;
}

// A harmonic tone plus a little noise, loud but below full scale.
std::vector<int16_t> RichTone(int64_t frames, double hz, uint32_t seed) {
  Rand15 random(seed);
  std::vector<int16_t> out(static_cast<size_t>(frames));
  for (int64_t i = 0; i < frames; ++i) {
    const double t = 2 * kPi * hz * double(i) / kLoopSynthRate;
    const double v = 9000 * std::sin(t) + 5000 * std::sin(2 * t + 0.3) + 3000 * std::sin(5 * t + 1.1) +
                     (random.Next() - 16384) / 16.0;
    out[i] = static_cast<int16_t>(std::lround(v));
  }
  return out;
}

std::vector<int16_t> Channel(const std::vector<int16_t>& interleaved, int channels, int c) {
  std::vector<int16_t> out;
  for (size_t i = c; i < interleaved.size(); i += channels) out.push_back(interleaved[i]);
  return out;
}

// |DFT| of |x| at |cycles| cycles over its whole length.
double Level(const std::vector<int16_t>& x, double cycles) {
  std::complex<double> sum = 0;
  for (size_t i = 0; i < x.size(); ++i)
    sum += double(x[i]) * std::polar(1.0, -2 * kPi * cycles * double(i) / double(x.size()));
  return 2 * std::abs(sum) / double(x.size());
}

LoopSynthParams Params(float offset, float amount, float crossfadeMs, int count) {
  LoopSynthParams p;
  p.cycleOffset = offset;
  p.amount = amount;
  p.crossfadeMs = crossfadeMs;
  p.cycleCount = count;
  return p;
}

// Both engines behind one call, so that what they share runs as one table.
LoopSynthResult RunEngine(bool morph, std::span<const int16_t> loop, int channels, uint32_t rate,
                    const LoopSynthParams& params, const SpectralMorphParams& spectral = {}) {
  return morph ? SynthesizeMorphLoop(loop, channels, rate, params, spectral)
               : SynthesizeSustainLoop(loop, channels, rate, params);
}

// 44100 frames of a 100 Hz sine, amplitude 10000, from phase 0: the crossing
// is frame 1, the threshold 4000, the period 441 frames per counted cycle, and
// the body the whole periods after the crossing.
TEST(LoopSynth, SineFindsItsPeriodAndKeepsWholePeriods) {
  const std::vector<int16_t> sine = LoopSynthSine(44100, 100, 10000);
  struct Case {
    int count;
    int64_t period;
    int64_t length;
  };
  for (const Case& c : {Case{1, 441, 99 * 441}, Case{3, 3 * 441, 33 * 3 * 441}}) {
    for (bool morph : {false, true}) {
      SCOPED_TRACE(testing::Message() << "count " << c.count << (morph ? " morph" : " sustain"));
      const LoopSynthResult r = RunEngine(morph, sine, 1, kLoopSynthRate, Params(0, 1, 200, c.count));
      EXPECT_EQ(r.loopStart, 1);
      EXPECT_EQ(r.period, c.period);
      EXPECT_EQ(r.loopEnd, 1 + c.length);
      ASSERT_EQ(r.samples.size(), size_t(1 + c.length));
      EXPECT_EQ(r.samples[0], sine[0]);  // the lead-in is kept
    }
  }
}

// The wave must leave -50..50 both ways before a crossing counts: silence
// and quiet hiss give no cycle, one step louder does.
TEST(LoopSynth, QuietLoopsGiveNoCycle) {
  auto square = [](int amplitude) {
    std::vector<int16_t> x(44100);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<int16_t>((i / 50) % 2 ? -amplitude : amplitude);
    return x;
  };
  struct Case {
    std::string name;
    std::vector<int16_t> loop;
    bool found;
  };
  const std::vector<Case> cases = {
      {"silence", std::vector<int16_t>(44100, 0), false},
      {"sine of 50", LoopSynthSine(44100, 100, 50), false},
      {"square of 50", square(50), false},
      {"square of 51", square(51), true},
      {"empty", {}, false},
  };
  for (const Case& c : cases) {
    for (bool morph : {false, true}) {
      SCOPED_TRACE(c.name + (morph ? " morph" : " sustain"));
      const LoopSynthResult r = RunEngine(morph, c.loop, 1, kLoopSynthRate, Params(0, 1, 200, 1));
      EXPECT_EQ(!r.Empty(), c.found);
      if (!c.found) {
        EXPECT_EQ(r.loopStart + r.loopEnd + r.period, 0);
      }
    }
  }
}

// Sustain at Mix 100% (whatever the crossfade) and Morph at 0% play the pure
// robot: the detected cycle repeated in every channel, whose pitch is
// rate / P rather than the source's. Sustain at 0% without a crossfade keeps
// the source body.
TEST(LoopSynth, RobotRepeatsTheDetectedCycle) {
  // 1010 Hz: a period of 43.66 frames, so rate / P (P = 43 or 44) is 13 or
  // more cents away from the source's pitch.
  const int64_t frames = 30000;
  const std::vector<int16_t> loop = Interleave({LoopSynthSine(frames, 1010, 12000), LoopSynthSine(frames, 1010, 6000)});
  struct Case {
    std::string name;
    bool morph;
    LoopSynthParams params;
    bool robot;
  };
  const std::vector<Case> cases = {
      {"sustain 100%", false, Params(0.2f, 1, 1000, 1), true},
      {"sustain 100%, 3 cycles", false, Params(0.2f, 1, 0, 3), true},
      {"morph 0%", true, Params(0.2f, 0, 200, 1), true},
      {"sustain 0%, no crossfade", false, Params(0.2f, 0, 0, 1), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LoopSynthResult r = RunEngine(c.morph, loop, 2, kLoopSynthRate, c.params);
    ASSERT_FALSE(r.Empty());
    const int64_t p = r.loopStart;
    const int64_t period = r.period;
    EXPECT_GE(p, int64_t(0.2 * frames));
    for (int64_t k = 0; k < r.loopEnd - p; ++k)
      for (int ch = 0; ch < 2; ++ch) {
        const int64_t from = c.robot ? p + k % period : p + k;
        ASSERT_EQ(r.samples[(p + k) * 2 + ch], loop[from * 2 + ch]) << "frame " << p + k << " channel " << ch;
      }
    if (c.robot && c.params.cycleCount == 1) {
      // The pitch from the rising zero crossings of the left channel over
      // the body (the body starts on one).
      const std::vector<int16_t> left = Channel(r.samples, 2, 0);
      int cycles = 1;
      for (int64_t i = p + 1; i < r.loopEnd; ++i) cycles += left[i - 1] <= 0 && left[i] > 0;
      const double hz = cycles * double(kLoopSynthRate) / double(r.loopEnd - p);
      EXPECT_NEAR(1200 * std::log2(hz * double(period) / kLoopSynthRate), 0, 0.01) << hz << " Hz, P " << period;
      EXPECT_GT(std::abs(1200 * std::log2(hz / 1010)), 10) << "the robot plays the source's pitch";
    }
  }
}

// The head of the source body is faded with audio from before its end. Two
// loud samples of one sign reach sqrt(2) x full scale mid-fade: the result
// saturates instead of wrapping to the other sign.
TEST(LoopSynth, SourceCrossfadeSaturates) {
  // A square of period 100 at 32000 and a fade of one whole period, so the
  // fade mixes equal samples.
  std::vector<int16_t> loop(20000);
  for (size_t i = 0; i < loop.size(); ++i) loop[i] = static_cast<int16_t>(i % 100 < 50 ? -32000 : 32000);
  // 100 frames of fade at 1000 frames per second; Mix 0 keeps only the source.
  const LoopSynthResult r = SynthesizeSustainLoop(loop, 1, 1000, Params(0, 0, 100, 1));
  ASSERT_FALSE(r.Empty());
  ASSERT_EQ(r.period, 100);
  const int64_t p = r.loopStart;
  bool reachedFullScale = false;
  for (int64_t m = 0; m < 100; ++m) {
    const int source = loop[p + m];
    const int out = r.samples[p + m];
    ASSERT_TRUE((source > 0) == (out > 0)) << "frame " << m << " wrapped to " << out;
    reachedFullScale |= out == 32767 || out == -32768;
  }
  EXPECT_TRUE(reachedFullScale);
}

// A loop under 100 frames searches from frame 0 whatever the offset.
TEST(LoopSynth, ShortLoopSearchesFromTheStart) {
  const std::vector<int16_t> loop = {1000, 1000, -1000, -1000, 1000, 1000, -1000, -1000, 1000};
  for (float offset : {0.0f, 0.5f, 0.9f}) {
    const LoopSynthResult r = SynthesizeSustainLoop(loop, 1, kLoopSynthRate, Params(offset, 1, 0, 1));
    EXPECT_EQ(r.loopStart, 4) << offset;
    EXPECT_EQ(r.period, 4) << offset;
  }
}

// With morph 0 and no gate, comb or shift, SpectralMorph gives A back. Every
// output sample is divided by the window mass that reached it, so bodies that
// are not whole hops (1025, 44100) get no level bump at their start.
TEST(SpectralMorph, IdentityAtAnyLength) {
  for (int64_t frames : {4096, 1025, 44100}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(testing::Message() << frames << " frames, " << channels << " channels");
      std::vector<std::vector<int16_t>> parts;
      for (int c = 0; c < channels; ++c) parts.push_back(RichTone(frames, 187.3 + 50 * c, 5 + c));
      const std::vector<int16_t> a = Interleave(parts);
      const std::vector<int16_t> out = SpectralMorph(a, a, channels, 0.0f, SpectralMorphParams{});
      ASSERT_EQ(out.size(), a.size());
      int worst = 0;
      for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(out[i] - a[i]));
      EXPECT_LE(worst, 3);
    }
  }
}

// The squared Hann windows of four frames a hop apart sum to about 1.5; the
// fixed factor 1/1.5 and the true sum differ by at most 0.052% where they
// both apply (whole hops, at least a window long), so a full-scale body comes
// back within that and rounding.
TEST(SpectralMorph, LoudWholeHopBodyKeepsItsLevel) {
  for (int64_t frames : {2048, 2560, 8192}) {
    const std::vector<int16_t> a = LoopSynthSine(frames, 441, 32000);
    const std::vector<int16_t> out = SpectralMorph(a, a, 1, 0.0f, SpectralMorphParams{});
    for (int64_t i = 0; i < frames; ++i)
      ASSERT_NEAR(out[i], a[i], 0.00052 * 32000 + 2) << frames << " frames, sample " << i;
  }
}

// Gate and comb, seen through tones at whole bins of the 2048-point frame
// (bins 2 apart do not leak into each other through the Hann window): Comb 4
// keeps only bins that are multiples of 4; Gate 1 keeps a bin only when it is
// the loudest so far, counting from bin 0. A kept tone loses the two side
// bins the window gave it and comes back at about 2/3 of its level.
TEST(SpectralMorph, CombAndGateClearBins) {
  const int64_t frames = 8192;
  std::vector<int16_t> a(frames);
  // bin -> amplitude
  const std::vector<std::pair<int, double>> tones = {{40, 8000}, {42, 9000}, {48, 4000}, {50, 4000}};
  for (int64_t i = 0; i < frames; ++i) {
    double v = 0;
    for (auto [bin, amplitude] : tones) v += amplitude * std::sin(2 * kPi * bin * double(i) / 2048);
    a[i] = static_cast<int16_t>(std::lround(v));
  }
  struct Case {
    std::string name;
    SpectralMorphParams params;
    std::vector<int> kept;  // the others are cleared
  };
  const std::vector<Case> cases = {
      {"comb 4", {0, 0.0f, 4}, {40, 48}},
      {"gate 1", {0, 1.0f, 1}, {40, 42}},
      {"comb 1", {0, 0.0f, 1}, {40, 42, 48, 50}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<int16_t> out = SpectralMorph(a, a, 1, 0.0f, c.params);
    const double cyclesPerBin = double(frames) / 2048;
    for (auto [bin, amplitude] : tones) {
      const double level = Level(out, bin * cyclesPerBin);
      if (std::find(c.kept.begin(), c.kept.end(), bin) != c.kept.end())
        EXPECT_GT(level, 0.5 * amplitude) << "bin " << bin;
      else
        EXPECT_LT(level, 0.02 * amplitude) << "bin " << bin;
    }
  }
}

// No body or no channels: nothing to morph.
TEST(SpectralMorph, EmptyAndBadInputs) {
  EXPECT_TRUE(SpectralMorph({}, {}, 1, 0.5f, {}).empty());
  const std::vector<int16_t> a(100, 7);
  EXPECT_TRUE(SpectralMorph(a, a, 0, 0.5f, {}).empty());
  // B shorter than A is read as silence past its end; the result has A's length.
  EXPECT_EQ(SpectralMorph(a, std::span<const int16_t>(a).first(10), 1, 1.0f, {}).size(), a.size());
}

// The tools' loop range: loop out past the audio is clamped to it; loop in
// must be set and below the (clamped) loop out.
TEST(LoopToolRange, FromSelection) {
  struct Case {
    int64_t in, out, frames;
    std::optional<std::pair<int64_t, int64_t>> range;
  };
  const std::vector<Case> cases = {
      {10, 20, 1000, std::pair<int64_t, int64_t>{10, 20}},
      {0, 5000, 1000, std::pair<int64_t, int64_t>{0, 1000}},
      {999, 5000, 1000, std::pair<int64_t, int64_t>{999, 1000}},
      {1000, 5000, 1000, std::nullopt},
      {100, 100, 1000, std::nullopt},
      {20, 10, 1000, std::nullopt},
      {-1, 500, 1000, std::nullopt},
      {-1, -1, 1000, std::nullopt},
      {0, 10, 0, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.in << ".." << c.out << " of " << c.frames);
    const std::optional<LoopToolRange> r = LoopToolRangeFromSelection(c.in, c.out, c.frames);
    ASSERT_EQ(r.has_value(), c.range.has_value());
    if (r) {
      EXPECT_EQ(std::make_pair(r->start, r->end), *c.range);
    }
  }
  EXPECT_EQ(kInvalidLoopPointsMessage, "Please set valid loop points first.");
}

TEST(LoopSynthKnobs, Conversion) {
  const MorphLoopSettings morph = MorphLoopSettingsFromKnobs({45, 300, 50, -2.7f, 0.5f, 4.9f});
  EXPECT_FLOAT_EQ(morph.loop.cycleOffset, 0.45f);
  EXPECT_FLOAT_EQ(morph.loop.crossfadeMs, 300);
  EXPECT_FLOAT_EQ(morph.loop.amount, 0.5f);
  EXPECT_EQ(morph.loop.cycleCount, 1);
  EXPECT_EQ(morph.morph.shift, -2);
  EXPECT_FLOAT_EQ(morph.morph.dull, 0.5f);
  EXPECT_EQ(morph.morph.hollow, 4);

  const LoopSynthParams sustain = SustainLoopParamsFromKnobs({90, 0, 19.9f, 25});
  EXPECT_FLOAT_EQ(sustain.cycleOffset, 0.9f);
  EXPECT_FLOAT_EQ(sustain.crossfadeMs, 0);
  EXPECT_EQ(sustain.cycleCount, 19);
  EXPECT_FLOAT_EQ(sustain.amount, 0.25f);

  // The dialogs' defaults.
  const MorphLoopSettings morphDefaults = MorphLoopSettingsFromKnobs({});
  EXPECT_FLOAT_EQ(morphDefaults.loop.amount, 1);
  EXPECT_FLOAT_EQ(morphDefaults.loop.crossfadeMs, 200);
  EXPECT_EQ(morphDefaults.morph.hollow, 1);
  const LoopSynthParams sustainDefaults = SustainLoopParamsFromKnobs({});
  EXPECT_EQ(sustainDefaults.cycleCount, 1);
  EXPECT_FLOAT_EQ(sustainDefaults.amount, 1);
}

}  // namespace
}  // namespace zandrel
