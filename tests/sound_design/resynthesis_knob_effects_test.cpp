// What the knobs of the re-synthesis tools do to the sound: where the
// Granular Cloud's grains read the loop and how far their speeds spread, how
// random the Frequency Cloud's phases are, where its slice starts and how
// fast it reads, and where the Morph Loop's and the Vocoder's frequency
// shifts move a tone. Signals are generated here so that each knob shows in
// one measurable property: tones of their own frequency for each stretch of
// the loop, tones on whole bins of the tools' transforms.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "processing/rand15.h"
#include "sound_design/loop_clouds.h"
#include "sound_design/loop_synth.h"
#include "sound_design/vocoder.h"
#include "spectrum_measures.h"

namespace zandrel {
namespace {

using test::PowerSpectrum;
using test::Spectrum;
using test::ToneAmplitude;
using test::ToneAt;

constexpr uint32_t kResynthesisRate = 44100;
constexpr double kTwoPi = 6.283185307179586;

// |frames| frames of sines at |hz| (equal amplitudes summing to |amplitude|).
std::vector<int16_t> Tones(int64_t frames, const std::vector<double>& hz, double amplitude = 12000) {
  std::vector<int16_t> out(size_t(frames), 0);
  for (int64_t i = 0; i < frames; ++i) {
    double v = 0;
    for (const double f : hz) v += std::sin(kTwoPi * f * double(i) / kResynthesisRate);
    out[size_t(i)] = int16_t(std::lround(v * amplitude / double(hz.size())));
  }
  return out;
}

// A loop of |segments| equal stretches, stretch s a sine at |hz|[s].
std::vector<int16_t> Segments(int64_t segmentFrames, const std::vector<double>& hz) {
  std::vector<int16_t> out;
  for (const double f : hz) {
    const std::vector<int16_t> part = Tones(segmentFrames, {f});
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

// A saw of a 2048-frame period: a steady tone with a harmonic on every bin of
// a 2048-point frame, to give each bin a phase that turns at the bin's own
// frequency.
std::vector<int16_t> Buzz(int64_t frames) {
  std::vector<int16_t> out(static_cast<size_t>(frames));
  for (int64_t i = 0; i < frames; ++i) out[static_cast<size_t>(i)] = int16_t(((i % 2048) - 1024) * 12);
  return out;
}

// The share of the power from |loHz| to |hiHz| that lies within 1.5 bins of
// the 2048-point frame around |hz|.
double ShareAround(const Spectrum& s, double hz, double loHz, double hiHz) {
  const double bin = kResynthesisRate / 2048.0;
  return s.Band(hz - 1.5 * bin, hz + 1.5 * bin) / s.Band(loHz, hiHz);
}

// ---------------------------------------------------------------- Granular Cloud

// A loop of eight tone stretches of |stretchFrames| each, clouded |ratio|
// times as long with grains of each of |grainMs|: every stretch carries at
// least |minShare| of the tones' power, and the second half of the loop
// about half of it (the grains start anywhere in the loop).
void ExpectGrainsReadEveryStretch(int64_t stretchFrames, float ratio, std::initializer_list<double> grainMs,
                                  double minShare) {
  const std::vector<double> hz = {500, 700, 900, 1100, 1300, 1500, 1700, 1900};
  const std::vector<int16_t> loop = Segments(stretchFrames, hz);
  for (const double grain : grainMs) {
    GranularParams p;
    p.lengthRatio = ratio;
    p.grainMs = grain;
    p.jitter = 0;
    p.loopFadeMs = 0;
    Rand15 random(1);
    const std::vector<int16_t> out = GenerateGranularCloud({loop, 1, kResynthesisRate}, p, random);
    ASSERT_EQ(out.size(), static_cast<size_t>(static_cast<double>(loop.size()) * ratio));
    const Spectrum s = PowerSpectrum(out, 0, out.size(), 4096, kResynthesisRate);
    std::vector<double> share;
    double total = 0;
    for (const double f : hz) {
      share.push_back(s.Band(f - 60, f + 60));
      total += share.back();
    }
    double secondHalf = 0;
    for (size_t i = 0; i < share.size(); ++i) {
      share[i] /= total;
      if (i >= share.size() / 2) secondHalf += share[i];
      EXPECT_GT(share[i], minShare) << "grain " << grain << " ms, stretch " << i;
    }
    EXPECT_NEAR(secondHalf, 0.5, 0.1) << "grain " << grain << " ms";
  }
}

// Grain positions are drawn over the whole span N - G: every stretch of the
// loop is heard, the second half of the loop as much as the first (the
// density of grain coverage is symmetric about the middle).
TEST(ResynthesisKnobEffects, GranularGrainsReadTheWholeLoop) {
  // 32000 frames: every position of the span can be drawn from the 15-bit
  // generator.
  ExpectGrainsReadEveryStretch(4000, 6.0, {30.0, 50.0, 100.0}, 0.04);
}

// A loop of 2 s is longer than one 15-bit draw can reach: the grain starts
// still cover the whole of it, so each of its eight stretches is heard and
// its second half (all of it beyond frame 44100, past the 32768 frames of a
// single draw) as much as its first.
TEST(ResynthesisKnobEffects, GranularGrainsReachTheEndOfALongLoop) {
  ExpectGrainsReadEveryStretch(11025, 4.0, {30.0, 100.0}, 0.06);
}

// Speeds are drawn between 1 - jitter and 1 + jitter: a tone comes back
// spread evenly over that band, a standard deviation of jitter / sqrt(3) of
// its frequency (plus the few hertz of the grain's own window).
TEST(ResynthesisKnobEffects, GranularJitterSpreadsThePitch) {
  const std::vector<int16_t> loop = Tones(88200, {1000});  // whole cycles: the loop repeats seamlessly
  for (const float jitter : {0.0f, 0.03f, 0.1f, 0.2f}) {
    GranularParams p;
    p.lengthRatio = 4.0;
    p.grainMs = 200;
    p.density = 4;
    p.jitter = jitter;
    p.loopFadeMs = 0;
    Rand15 random(1);
    const std::vector<int16_t> out = GenerateGranularCloud({loop, 1, kResynthesisRate}, p, random);
    const Spectrum s = PowerSpectrum(out, 0, out.size(), 8192, kResynthesisRate);
    // The spread of a line through a Hann window of n frames is
    // rate / (n sqrt(3)): the grain's (8820 frames) and the analysis's (8192).
    const double grain = kResynthesisRate / (8820 * std::sqrt(3.0)), analysis = kResynthesisRate / (8192 * std::sqrt(3.0));
    const double expected =
        std::sqrt(std::pow(1000.0 * jitter / std::sqrt(3.0), 2) + grain * grain + analysis * analysis);
    EXPECT_NEAR(s.Spread(600, 1400), expected, 0.15 * expected) << jitter;
    EXPECT_NEAR(s.Centroid(600, 1400), 1000, 0.01 * 1000) << jitter;
  }
}

// ---------------------------------------------------------------- Frequency Cloud

// Every bin's phase is drawn anew over the whole turn for every frame. Tones
// on bins that are multiples of 4 repeat exactly from one hop (W / 4) to the
// next, so frames whose phases had any common bias would add up into a steady
// line; with phases spread over the whole turn they add as a random walk, and
// the line is no stronger than its neighbourhood.
TEST(ResynthesisKnobEffects, FrequencyCloudPhasesCoverTheWholeTurn) {
  const int64_t w = PaulStretchWindow(20.0f, kResynthesisRate);
  ASSERT_EQ(w, 1024);
  const std::vector<double> hz = {40.0 * kResynthesisRate / 1024, 96.0 * kResynthesisRate / 1024, 160.0 * kResynthesisRate / 1024};
  const std::vector<int16_t> loop = Tones(43 * 1024, hz);  // whole cycles of every tone
  PaulStretchParams p;
  p.windowMs = 20;
  p.stretch = 4;
  p.lengthRatio = 2;
  p.loopFadeMs = 0;
  Rand15 random(1);
  const std::vector<int16_t> out = PaulStretchSlice({loop, 1, kResynthesisRate}, p, random);
  ASSERT_EQ(out.size(), loop.size() * 2);
  const double step = double(kResynthesisRate) / double(out.size());  // one bin of the whole result
  for (const double f : hz) {
    const double line = std::norm(ToneAt(out, f, 0, out.size(), kResynthesisRate));
    double around = 0;
    int count = 0;
    for (int m = 8; m <= 120; m += 2) {
      around += std::norm(ToneAt(out, f + m * step, 0, out.size(), kResynthesisRate));
      around += std::norm(ToneAt(out, f - m * step, 0, out.size(), kResynthesisRate));
      count += 2;
    }
    around /= count;
    EXPECT_LT(line / around, 8.0) << f;
    EXPECT_GT(around, 0) << f;
  }
}

// The slice starts at stretch x N x position of the stretched loop and reads
// the loop at 1 / stretch of its speed: the window of output frame t is
// centred on source frame (t + Sp + W / 2) / stretch + W / 2 (frames b read
// from b / stretch and land at b - Sp after the lead of W frames is dropped).
// For a loop whose halves are two tones, the output changes tone where that
// centre passes the loop's middle or its end.
TEST(ResynthesisKnobEffects, FrequencyCloudPositionAndStretchPlaceTheSlice) {
  const double a = 64.0 * kResynthesisRate / 2048, b = 160.0 * kResynthesisRate / 2048;  // bins of the 2048-point window
  const int64_t n = 44100, w = 2048;
  std::vector<int16_t> loop = Segments(n / 2, {a, b});
  for (const auto& [stretch, position] :
       {std::pair{2.0f, 0.0f}, {3.0f, 0.0f}, {3.0f, 0.25f}, {4.0f, 0.6f}, {1.5f, 0.8f}}) {
    PaulStretchParams p;
    p.windowMs = 40;
    ASSERT_EQ(PaulStretchWindow(p.windowMs, kResynthesisRate), w);
    p.stretch = stretch;
    p.position = position;
    p.lengthRatio = 3;
    p.loopFadeMs = 0;
    Rand15 random(1);
    const std::vector<int16_t> out = PaulStretchSlice({loop, 1, kResynthesisRate}, p, random);
    ASSERT_EQ(out.size(), size_t(3 * n));
    // Where the centre starts, and the first source frame at which the tone
    // changes after that.
    const double sp = std::floor(double(stretch) * n * double(position));
    const double startCentre = (sp + w / 2.0) / stretch + w / 2.0;
    const double boundary = startCentre < n / 2.0 ? n / 2.0 : double(n);
    const double expected = stretch * (boundary - w / 2.0) - w / 2.0 - sp;
    // The first 4096-frame stretch where the other tone is the louder one.
    auto louderB = [&](size_t at) {
      return ToneAmplitude(out, b, at, at + 4096, kResynthesisRate) > ToneAmplitude(out, a, at, at + 4096, kResynthesisRate);
    };
    const bool startsB = louderB(0);
    size_t change = out.size();
    for (size_t at = 0; at + 4096 <= out.size(); at += 512) {
      if (louderB(at) != startsB) {
        change = at + 2048;
        break;
      }
    }
    EXPECT_EQ(startsB, boundary == double(n)) << "stretch " << stretch << " position " << position;
    EXPECT_NEAR(double(change), expected, 2500) << "stretch " << stretch << " position " << position;
  }
}

// Each frame is the loop through the window v (W points), its phases drawn
// anew, and through v again on the way out: a tone comes back as a band
// whose width is that of v^2's spectrum, rate / (2 pi) x sqrt(sum (dv^2)^2 /
// sum v^4), so the Window knob sets how wide a tone spreads.
TEST(ResynthesisKnobEffects, FrequencyCloudWindowSetsTheBandOfATone) {
  const std::vector<int16_t> loop = Tones(88200, {1000});  // whole cycles
  for (const float windowMs : {20.0f, 40.0f, 90.0f}) {
    PaulStretchParams p;
    p.windowMs = windowMs;
    p.stretch = 2;
    p.lengthRatio = 4;
    p.loopFadeMs = 0;
    Rand15 random(1);
    const std::vector<int16_t> out = PaulStretchSlice({loop, 1, kResynthesisRate}, p, random);
    const int64_t w = PaulStretchWindow(windowMs, kResynthesisRate);
    double slope = 0, energy = 0, previous = 0;
    for (int64_t i = 0; i < w; ++i) {
      const double v = 0.5 - 0.5 * std::cos(double(i) * kTwoPi / double(w - 1));
      slope += (v * v - previous) * (v * v - previous);
      energy += v * v * v * v;
      previous = v * v;
    }
    const double band = kResynthesisRate / kTwoPi * std::sqrt(slope / energy);
    const double analysis = kResynthesisRate / (16384 * std::sqrt(3.0));  // the measuring window's own spread
    const double expected = std::sqrt(band * band + analysis * analysis);
    const Spectrum s = PowerSpectrum(out, 0, out.size(), 16384, kResynthesisRate);
    EXPECT_NEAR(s.Spread(1000 - 8 * band, 1000 + 8 * band), expected, 0.15 * expected) << windowMs << " ms";
  }
}

// ---------------------------------------------------------------- Morph Loop

// The Morph Timbre knob moves the source's spectrum: a negative shift up by
// |shift| bins of the 2048-point frame, a positive one along the power law
// k = 1024 (j / 1024)^(1 / (1 + 0.05 shift)) for source bin j. (All 2048 bins
// move alike, so the mirror image above half the frame moves the other way
// and comes back as a second tone; the tone where the shift puts it carries
// its share.)
TEST(ResynthesisKnobEffects, MorphShiftMovesTheSourceTone) {
  const int64_t frames = 16 * 2048;
  const std::vector<int16_t> source = Tones(frames, {100.0 * kResynthesisRate / 2048});
  // The robot gives the phases.
  const std::vector<int16_t> robot = Buzz(frames);
  for (const int shift : {0, -20, -5, 10, 20}) {
    SpectralMorphParams params;
    params.shift = shift;
    const std::vector<int16_t> out = SpectralMorph(robot, source, 1, 1.0f, params);
    const double bin = shift < 1 ? 100.0 - shift : 1024.0 * std::pow(100.0 / 1024.0, 1.0 / (1.0 + 0.05 * shift));
    const Spectrum s = PowerSpectrum(out, 4096, out.size(), 8192, kResynthesisRate);
    const double expected = bin * kResynthesisRate / 2048;
    EXPECT_GT(ShareAround(s, expected, 100, 20000), shift == 0 ? 0.9 : 0.3) << shift;
    if (shift != 0) {
      EXPECT_LT(ShareAround(s, 100.0 * kResynthesisRate / 2048, 100, 20000), 0.05) << shift;
    }
  }
}

// ---------------------------------------------------------------- Infinite Sustain

// The Mix knob blends the robot with the source body: on a source whose
// level differs from its first cycle's, the body's level lies between the
// two in proportion (no crossfade, so the source body is the source itself).
TEST(ResynthesisKnobEffects, SustainMixBlendsRobotAndSource) {
  // 100 Hz, the first cycles at 10000 and the rest at 4000 (whole cycles).
  std::vector<int16_t> loop = Tones(44100, {100}, 4000);
  for (int i = 0; i < 441 * 3; ++i) loop[size_t(i)] = int16_t(std::lround(10000 * std::sin(kTwoPi * 100 * i / kResynthesisRate)));
  for (const float mix : {0.0f, 0.25f, 0.5f, 1.0f}) {
    LoopSynthParams p;
    p.amount = mix;
    p.crossfadeMs = 0;
    const LoopSynthResult r = SynthesizeSustainLoop(loop, 1, kResynthesisRate, p);
    ASSERT_FALSE(r.Empty());
    const double level = ToneAmplitude(r.samples, 100, 22050, 22050 + 4410, kResynthesisRate);
    EXPECT_NEAR(level, 10000 * mix + 4000 * (1 - mix), 100) << mix;
  }
}

// ---------------------------------------------------------------- Vocoder

// Output bin m takes the modulator's bin m + shift: the modulator's tone moves
// down by the shift (up for a negative one), on the carrier's phases. (As in
// the Morph Loop, the mirror image moves the other way and adds a second
// tone.)
TEST(ResynthesisKnobEffects, VocoderShiftMovesTheModulatorTone) {
  const int64_t frames = 16 * 2048;
  const std::vector<int16_t> modulator = Tones(frames, {100.0 * kResynthesisRate / 2048}, 8000);
  const std::vector<int16_t> carrier = Buzz(frames);
  for (const int shift : {0, 20, -30, 60}) {
    VocoderParams params;
    params.binShift = shift;
    params.envelopeSmooth = 0.3f;
    const std::vector<int16_t> out = VocoderProcess(carrier, modulator, 1, 1.0f, params);
    ASSERT_EQ(out.size(), carrier.size());
    const Spectrum s = PowerSpectrum(out, 4096, out.size(), 8192, kResynthesisRate);
    const double expected = (100.0 - shift) * kResynthesisRate / 2048;
    EXPECT_GT(ShareAround(s, expected, 100, 20000), shift == 0 ? 0.9 : 0.3) << shift;
    if (shift != 0) {
      EXPECT_LT(ShareAround(s, 100.0 * kResynthesisRate / 2048, 100, 20000), 0.05) << shift;
    }
  }
}

// The envelope follows the modulator by E = |M| (1 - s) + s E a hop of 512
// frames: frame k brings a steady modulator's level 1 - s^(k + 1) of the way,
// and the overlap-add blends the frames by their windows.
TEST(ResynthesisKnobEffects, VocoderSmoothingSetsTheRise) {
  const int64_t frames = 64 * 512;
  const std::vector<int16_t> modulator = Tones(frames, {100.0 * kResynthesisRate / 2048}, 8000);
  const std::vector<int16_t> carrier = Buzz(frames);
  for (const float smooth : {0.5f, 0.8f, 0.9f}) {
    VocoderParams params;
    params.envelopeSmooth = smooth;
    const std::vector<int16_t> out = VocoderProcess(carrier, modulator, 1, 1.0f, params);
    // Frame k (from 512 k) brings the envelope 1 - s^(k + 1) of the way, in
    // its synthesis window; a held note gets the full window sum (the carrier's
    // harmonics beat the level once per 2048 frames, so levels are compared
    // over whole 2048-frame stretches).
    auto level = [&](double t) {
      double sum = 0;
      for (int k = 0; k * 512 <= int(t); ++k) {
        const double l = t - 512.0 * k;
        if (l < 2048) sum += (1 - std::pow(double(smooth), k + 1)) * (0.5 - 0.5 * std::cos(l * kTwoPi / 2047));
      }
      return sum / 2.0;  // four Hann windows a quarter apart sum to 2
    };
    const double held = test::RmsOf(out, size_t(frames) - 3 * 2048, size_t(frames) - 2048);
    for (const size_t from : {size_t(2048), size_t(4096), size_t(6144)}) {
      double power = 0;
      for (size_t t = from; t < from + 2048; ++t) power += level(double(t)) * level(double(t));
      const double expected = std::sqrt(power / 2048);
      EXPECT_NEAR(test::RmsOf(out, from, from + 2048) / held, expected, 0.04)
          << "smoothing " << smooth << " from " << from;
    }
  }
}

}  // namespace
}  // namespace zandrel
