// What each knob of the tone engines does to the sound, measured on rendered
// notes: a filter's centre, resonance and shape, decay times, envelope times
// and levels, the partials of the cymbal and the formants of the voice. The
// expected values come from the engines' own constants (a formant at
// 1200 Hz, Q = 0.707 + 9 x resonance, a decay of a stated multiplier per
// frame), with tolerances that a change of one constant does not fit.
//
// Pitch and DC are kept out of the measures where they could move without
// the knob doing anything else: spectra are compared with spectra of the
// same engine, levels with levels, and decays are read at the pitch the note
// actually rings at.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "sound_design/micro_synth.h"
#include "sound_design/modelled_engines.h"
#include "sound_design/tone_engines.h"
#include "spectrum_measures.h"

namespace zandrel {
namespace {

using test::CrossingHz;
using test::LogDecayPerFrame;
using test::PowerSpectrum;
using test::RmsEnvelope;
using test::RmsOf;
using test::Spectrum;
using test::ToneAmplitude;

constexpr uint32_t kRate = 44100;
constexpr double kPi = 3.141592653589793;

// The knobs of one engine at their defaults, by id.
SynthKnobValues Knobs(int engine) { return DefaultKnobValues(BuildSynthEngines().at(engine)); }

// |H| of a one-pole low-pass y += c (x - y) at |hz|.
double OnePoleGain(double c, double hz, uint32_t rate = kRate) {
  const double w = 2 * kPi * hz / rate;
  return c / std::abs(std::complex<double>(1.0) - (1.0 - c) * std::polar(1.0, -w));
}

// The trapezoidal state-variable filter's low-pass and band-pass at |hz| for
// a cutoff |fc| and damping |k|: the analog prototype 1 / (s^2 + k s + 1) and
// s / (...) at the pre-warped frequency.
struct SvfResponse {
  std::complex<double> lp, bp;
};
SvfResponse SvfAt(double hz, double fc, double k, uint32_t rate = kRate) {
  const double omega = std::tan(kPi * hz / rate) / std::tan(kPi * fc / rate);
  const std::complex<double> s(0, omega);
  const std::complex<double> d = s * s + k * s + 1.0;
  return {1.0 / d, s / d};
}

// The audio-EQ cookbook's peaking filter at |hz|: |bandwidth| octaves wide,
// amplitude |gain| at |centre|.
std::complex<double> PeakingAt(double hz, double centre, double bandwidth, double gain, uint32_t rate = kRate) {
  const double w0 = 2 * kPi * std::min(0.45 * rate, centre) / rate;
  const double alpha = std::sin(w0) * std::sinh(std::log(2.0) / 2 * bandwidth * w0 / std::sin(w0));
  const double a = std::sqrt(gain);
  const std::complex<double> z1 = std::polar(1.0, -2 * kPi * hz / rate), z2 = z1 * z1;
  return (1 + alpha * a - 2 * std::cos(w0) * z1 + (1 - alpha * a) * z2) /
         (1 + alpha / a - 2 * std::cos(w0) * z1 + (1 - alpha / a) * z2);
}

// Exponential decay of the component at |hz| from frame |from| to |to|: the
// least-squares slope of its log amplitude over windows of |window| frames,
// per frame.
double ToneDecayPerFrame(const std::vector<int16_t>& x, double hz, size_t from, size_t to, size_t window) {
  double n = 0, st = 0, sy = 0, stt = 0, sty = 0;
  for (size_t at = from; at + window <= to; at += window / 2) {
    const double t = double(at);
    const double y = std::log(ToneAmplitude(x, hz, at, at + window, kRate));
    n += 1;
    st += t;
    sy += y;
    stt += t * t;
    sty += t * y;
  }
  return (n * sty - st * sy) / (n * stt - st * st);
}

// The frequency of the period around frame |at|: the distance of the two
// rising zero crossings on either side of it; |middle| gets the frame half-way
// between them.
double PeriodHzAt(const std::vector<int16_t>& x, size_t at, uint32_t rate, double& middle) {
  double before = -1, after = -1;
  for (size_t i = 1; i < x.size(); ++i) {
    if (x[i - 1] <= 0 && x[i] > 0) {
      const double t = double(i - 1) + double(-x[i - 1]) / double(x[i] - x[i - 1]);
      if (t <= double(at)) {
        before = t;
      } else {
        after = t;
        break;
      }
    }
  }
  middle = (before + after) / 2;
  return before >= 0 && after > before ? rate / (after - before) : 0;
}

// ---------------------------------------------------------------- Basic

std::vector<int16_t> Basic(const BasicWaveParams& p, float hz, uint64_t frames = kRate) {
  std::vector<int16_t> out(frames);
  ToneWorkspace workspace;
  uint32_t seed = 1;
  out.resize(RenderBasicWaveform(seed, hz, frames, kRate, 1, p, workspace, out));
  return out;
}

// The filter seen through the noise oscillator (white, flat): its response at
// the cutoff over its response far below is the resonance's Q, 0.707 +
// 9 x resonance, and the cutoff sits at 20 x 900^cutoff Hz.
TEST(ToneKnobEffects, BasicResonanceSetsTheQAtTheCutoff) {
  struct Case {
    float cutoff, resonance;
  };
  for (const Case c : {Case{0.677f, 0.0f}, {0.677f, 0.5f}, {0.677f, 1.0f}, {0.6f, 0.5f}, {0.8f, 0.7f}}) {
    BasicWaveParams p;
    p.shape = 6;
    p.secondMix = 0.8f;  // the first oscillator at 0.2: the resonance stays below full scale
    p.cutoff = c.cutoff;
    p.resonance = c.resonance;
    const std::vector<int16_t> out = Basic(p, 100.0f, 6 * kRate);
    ASSERT_EQ(out.size(), 6 * kRate);
    const Spectrum s = PowerSpectrum(out, 0, out.size(), 8192, kRate);
    const double fc = 20.0 * std::pow(900.0, double(c.cutoff));
    const double q = 0.707 + 9.0 * c.resonance;
    // |lp| is Q at the cutoff and about 1 well below it (a band far enough
    // above 0 Hz for a DC blocker not to matter); both averaged over the
    // bands measured.
    auto mean = [&](double lo, double hi) {
      double sum = 0;
      int count = 0;
      for (size_t b = s.Bin(lo); b <= s.Bin(hi); ++b, ++count) sum += std::norm(SvfAt(double(b) * s.binHz, fc, 1.0 / q).lp);
      return sum / count;
    };
    const double expected = std::sqrt(mean(fc * 0.96, fc * 1.04) / mean(fc / 6, fc / 4));
    const double measured = std::sqrt(s.Level(fc * 0.96, fc * 1.04) / s.Level(fc / 6, fc / 4));
    SCOPED_TRACE("cutoff " + std::to_string(c.cutoff) + " resonance " + std::to_string(c.resonance));
    EXPECT_NEAR(expected, q, 0.2 * q);  // the band average stays near the peak
    EXPECT_NEAR(measured, expected, 0.07 * expected);
    if (c.resonance >= 0.5f) {
      EXPECT_NEAR(s.PeakHz(fc / 2, fc * 2, 2), fc, 0.03 * fc);
    }
  }
}

// Each waveform has its harmonic series: amplitudes 1/h for the saw, odd
// ones 1/h for the square, odd ones 1/h^2 for the triangle, and
// |sin(pi h d)| / h for a pulse of duty d.
TEST(ToneKnobEffects, BasicWaveformGivesItsHarmonicSeries) {
  struct Case {
    int shape;
    double h2, h3, h4;  // amplitude of harmonics 2..4 over the fundamental's
  };
  const double d25 = std::sin(kPi * 0.25), d10 = std::sin(kPi * 0.1);
  for (const Case c : {Case{0, 0, 0, 0}, {1, 0, 1.0 / 9, 0}, {2, 0.5, 1.0 / 3, 0.25}, {3, 0, 1.0 / 3, 0},
                       {4, 1.0 / 2 / d25, std::sin(3 * kPi * 0.25) / 3 / d25, 0},
                       {5, std::sin(2 * kPi * 0.1) / 2 / d10, std::sin(3 * kPi * 0.1) / 3 / d10,
                        std::sin(4 * kPi * 0.1) / 4 / d10}}) {
    BasicWaveParams p;
    p.shape = c.shape;
    const std::vector<int16_t> out = Basic(p, 220.0f);  // whole cycles in the note: exactly 220 Hz
    const double h1 = ToneAmplitude(out, 220, 0, out.size(), kRate);
    SCOPED_TRACE("shape " + std::to_string(c.shape));
    EXPECT_NEAR(ToneAmplitude(out, 440, 0, out.size(), kRate) / h1, c.h2, 0.02);
    EXPECT_NEAR(ToneAmplitude(out, 660, 0, out.size(), kRate) / h1, c.h3, 0.02);
    EXPECT_NEAR(ToneAmplitude(out, 880, 0, out.size(), kRate) / h1, c.h4, 0.02);
  }
}

// Attack and release are straight ramps over attack x N / 2 and
// release x N / 2 frames: half level half-way through each.
TEST(ToneKnobEffects, BasicAttackAndReleaseRampOverTheirShareOfTheNote) {
  for (const auto& [attack, release] : {std::pair{0.2f, 0.6f}, {0.6f, 0.2f}}) {
    BasicWaveParams p;
    p.shape = 0;
    p.attack = attack;
    p.release = release;
    const std::vector<int16_t> out = Basic(p, 441.0f);
    const double full = RmsOf(out, kRate / 2 - 2000, kRate / 2 + 2000);
    const auto a = size_t(kRate * attack * 0.5f), r = size_t(kRate * release * 0.5f);
    SCOPED_TRACE("attack " + std::to_string(attack) + " release " + std::to_string(release));
    EXPECT_NEAR(RmsOf(out, a / 2 - 100, a / 2 + 100) / full, 0.5, 0.03);
    EXPECT_NEAR(RmsOf(out, a - 200, a) / full, 1.0, 0.03);
    EXPECT_NEAR(RmsOf(out, kRate - r / 2 - 100, kRate - r / 2 + 100) / full, 0.5, 0.03);
    EXPECT_NEAR(RmsOf(out, kRate - r, kRate - r + 200) / full, 1.0, 0.03);
  }
}

// The noise knob blends white noise in: its share of the power above the
// note's harmonics grows with the knob.
TEST(ToneKnobEffects, BasicNoiseShareAddsABroadband) {
  double previous = 0;
  for (const float noise : {0.0f, 0.1f, 0.3f}) {
    BasicWaveParams p;
    p.shape = 0;
    p.noise = noise;
    const std::vector<int16_t> out = Basic(p, 441.0f);
    const Spectrum s = PowerSpectrum(out, 0, out.size(), 4096, kRate);
    // Noise against the sine: the mean level per bin of 2..10 kHz over the
    // sine's line, in amplitude; (noise / (1 - noise)) in proportion.
    const double ratio = std::sqrt(s.Level(2000, 10000) / s.Band(400, 480));
    if (noise == 0.0f) {
      EXPECT_LT(ratio, 1e-3);
    } else {
      EXPECT_GT(ratio, previous * 2.5) << noise;
    }
    previous = ratio;
  }
}

// ---------------------------------------------------------------- Strings

std::vector<int16_t> Strings(const StringParams& p, float hz, uint64_t frames = kRate) {
  std::vector<int16_t> out(frames);
  ToneWorkspace workspace;
  uint32_t seed = 1;
  out.resize(RenderPhysicalStrings(seed, hz, frames, kRate, 1, p, workspace, out));
  return out;
}

// The string's fundamental decays by the loop gain per pass: feedback x
// |(1 - d/2) / (1 - feedback d/2 e^-jw)| for damping d, f passes a second.
TEST(ToneKnobEffects, StringFeedbackAndDampingSetTheDecay) {
  struct Case {
    float feedback, damping;
  };
  for (const Case c : {Case{0.99f, 0.2f}, {0.97f, 0.2f}, {0.99f, 0.9f}, {0.9792f, 0.2f}}) {
    StringParams p;
    p.feedback = c.feedback;
    p.damping = c.damping;
    p.pluckPosition = 0.5f;
    const std::vector<int16_t> out = Strings(p, 220.0f);
    const double f = 220.0;
    const double w = 2 * kPi * f / kRate;
    const double half = c.damping / 2.0;
    const double gain =
        c.feedback * (1 - half) / std::abs(std::complex<double>(1.0) - c.feedback * half * std::polar(1.0, -w));
    const double expected = std::log(gain) * f / kRate;
    const double tau = -1.0 / expected;
    const double measured = ToneDecayPerFrame(out, f, 2000, 2000 + size_t(std::min(2.5 * tau, 40000.0)), 2048);
    SCOPED_TRACE("feedback " + std::to_string(c.feedback) + " damping " + std::to_string(c.damping));
    EXPECT_NEAR(measured / expected, 1.0, 0.1);
  }
}

// The body tone is the output low-pass at 20 x 1000^tone Hz (k = 1.4144272):
// the same string through it and through the open filter differ in each
// harmonic by the ratio of the two responses.
TEST(ToneKnobEffects, StringBodyToneIsTheOutputLowPass) {
  StringParams p;
  p.damping = 0;
  const std::vector<int16_t> open = Strings(p, 110.25f);  // a loop of exactly 400 frames
  const double openFc = 0.45 * kRate;
  for (const float tone : {0.6f, 0.45f}) {
    p.bodyTone = tone;
    const std::vector<int16_t> out = Strings(p, 110.25f);
    const double fc = 20.0 * std::pow(1000.0, double(tone));
    for (const double share : {0.5, 1.0, 2.0, 4.0}) {
      const double f = std::round(fc * share / 110.25) * 110.25;  // the harmonic nearest
      const double expected = std::abs(SvfAt(f, fc, 1.4144272).lp / SvfAt(f, openFc, 1.4144272).lp);
      const double measured =
          ToneAmplitude(out, f, 0, 16384, kRate) / ToneAmplitude(open, f, 0, 16384, kRate);
      EXPECT_NEAR(measured / expected, 1.0, 0.08) << "tone " << tone << " at " << f << " Hz";
    }
  }
}

// ---------------------------------------------------------------- Piano

std::vector<int16_t> Piano(const PianoParams& p, float hz, uint64_t frames = kRate) {
  std::vector<int16_t> out(frames);
  ToneWorkspace workspace;
  uint32_t seed = 1;
  out.resize(RenderPhysicalPiano(seed, hz, frames, kRate, 1, p, workspace, out));
  return out;
}

// Per pass the piano string loses its decay factor and the half-step
// low-pass's |0.5 / (1 - 0.5 e^-jw)|.
TEST(ToneKnobEffects, PianoDecayIsTheLoopGainPerPass) {
  for (const float decay : {0.95f, 0.98f, 0.995f}) {
    PianoParams p;
    p.decay = decay;
    const std::vector<int16_t> out = Piano(p, 220.0f, 2 * kRate);
    const double f = 220.0;
    const double expected = std::log(decay * OnePoleGain(0.5, f)) * f / kRate;
    const double tau = -1.0 / expected;
    const double measured = ToneDecayPerFrame(out, f, 1000, 1000 + size_t(std::min(2.5 * tau, 80000.0)), 2048);
    EXPECT_NEAR(measured / expected, 1.0, 0.1) << decay;
  }
}

// A softer hammer (longer excitation) gives a darker note.
TEST(ToneKnobEffects, PianoHammerBrightensTheNote) {
  double previous = 0;
  for (const float hammer : {0.5f, 0.8f, 1.0f}) {
    PianoParams p;
    p.hammer = hammer;
    const std::vector<int16_t> out = Piano(p, 110.0f);
    const double centroid = PowerSpectrum(out, 0, 8192, 2048, kRate).Centroid(50, 15000);
    EXPECT_GT(centroid, previous * 1.2) << hammer;
    previous = centroid;
  }
}

// The first pass of the string plays the hammer's excitation as it was laid
// into the loop: a raised-cosine pulse over (E x 0.6 + 0.2) of the string's
// period for E = 1 - hammer (plus a little noise for a soft hammer), less its
// mean, so the pulse stands half its height above the rest of the loop for
// half that length (a short mean evens out the noise).
TEST(ToneKnobEffects, PianoHammerSetsTheLengthOfItsPulse) {
  for (const float hz : {220.5f, 110.25f}) {
    const auto loop = size_t(std::lround(kRate / hz));
    for (const float hammer : {0.2f, 0.5f, 0.8f, 1.0f}) {
      PianoParams p;
      p.hammer = hammer;
      const std::vector<int16_t> out = Piano(p, hz, 4 * loop);
      // A 7-frame mean evens out the soft hammer's noise.
      std::vector<double> pulse(loop, 0.0);
      for (size_t i = 3; i + 3 < loop; ++i)
        for (size_t j = i - 3; j <= i + 3; ++j) pulse[i] += out[j] / 7.0;
      const auto peak = size_t(std::max_element(pulse.begin(), pulse.end()) - pulse.begin());
      // The blow has no mean: outside the pulse (its last tenth, which no
      // hammer reaches) the loop sits below zero by the pulse's mean.
      double rest = 0;
      for (size_t i = loop - loop / 10; i + 3 < loop; ++i) rest += pulse[i] / double(loop / 10 - 3);
      const double half = (pulse[peak] + rest) / 2.0;
      size_t first = peak, last = peak;
      while (first > 0 && pulse[first - 1] >= half) --first;
      while (last + 1 < loop && pulse[last + 1] >= half) ++last;
      const double expected = ((1.0 - hammer) * 0.6 + 0.2) / 2;
      EXPECT_NEAR(double(last - first + 1) / double(loop), expected, 0.02) << hz << " Hz, hammer " << hammer;
    }
  }
}

// ---------------------------------------------------------------- Drum

std::vector<int16_t> Drum(const DrumParams& p, uint64_t frames = kRate) {
  std::vector<int16_t> out(frames);
  uint32_t seed = 1;
  out.resize(RenderAnalogDrum(seed, frames, kRate, 1, p, out));
  return out;
}

// Noise only: its spectrum is white noise through 0.5 (lp + bp) of the
// state-variable filter at 100 x 120^colour Hz with Q = 4 snap + 0.5. The
// centroid and, for a sharp filter, the peak are those of that response.
TEST(ToneKnobEffects, DrumNoiseFollowsItsFilter) {
  struct Case {
    float colour, snap;
  };
  for (const Case c : {Case{0.3f, 0.2f}, {0.6f, 0.2f}, {0.6f, 1.0f}, {0.9f, 0.5f}, {0.45f, 1.0f}}) {
    DrumParams p;
    p.noiseMix = 1.0f;
    p.noiseLength = 2.0f;  // beyond the knob's range: a noise that hardly fades, for a steady spectrum
    p.snareColour = c.colour;
    p.snap = c.snap;
    p.gain = 0.1f;
    const std::vector<int16_t> out = Drum(p);
    const Spectrum s = PowerSpectrum(out, 0, out.size(), 1024, kRate);
    const double fc = std::min(0.45 * kRate, 100.0 * std::pow(120.0, double(c.colour)));
    const double k = 1.0 / (c.snap * 4.0 + 0.5);
    Spectrum expected = s;
    for (size_t b = 0; b < expected.power.size(); ++b) {
      const SvfResponse h = SvfAt(double(b) * s.binHz, fc, k);
      expected.power[b] = std::norm(0.5 * (h.lp + h.bp));
    }
    SCOPED_TRACE("colour " + std::to_string(c.colour) + " snap " + std::to_string(c.snap));
    // From 150 Hz up, where a DC blocker would change nothing.
    const double centroid = expected.Centroid(150, 20000);
    EXPECT_NEAR(s.Centroid(150, 20000), centroid, 0.05 * centroid);
    if (c.snap >= 1.0f) {
      const double peak = expected.PeakHz(150, 20000, 0);
      EXPECT_NEAR(s.PeakHz(150, 20000, 3), peak, 0.06 * peak);
      // Peak over the level far below it: |0.5 (lp + bp)| at the peak over 0.5.
      const double rise = std::sqrt(expected.power[expected.Bin(peak)] / expected.power[expected.Bin(fc / 7)]);
      const double measuredRise = std::sqrt(s.Level(peak * 0.95, peak * 1.05) / s.Level(fc / 8, fc / 6));
      EXPECT_NEAR(measuredRise, rise, 0.2 * rise);
    }
  }
}

// The noise envelope falls by 1 - 50^(1 - length) / 1000 a frame.
TEST(ToneKnobEffects, DrumNoiseLengthSetsItsDecay) {
  for (const float length : {0.8f, 1.0f}) {
    DrumParams p;
    p.noiseMix = 1.0f;
    p.noiseLength = length;
    p.gain = 0.1f;
    const std::vector<int16_t> out = Drum(p);
    const double expected = std::log(1.0 - std::pow(50.0, 1.0 - length) * 0.001);
    const double tau = -1.0 / expected;
    EXPECT_NEAR(LogDecayPerFrame(out, 0, size_t(4 * tau), 64) / expected, 1.0, 0.1) << length;
  }
}

// Without sweep or punch the tone is a sine at the base pitch whose level
// falls by 1 - 100^(1 - decay) / 10000 a frame.
TEST(ToneKnobEffects, DrumBasePitchAndToneDecay) {
  for (const auto& [base, decay] : {std::pair{55.0f, 0.6f}, {200.0f, 0.6f}, {200.0f, 0.85f}}) {
    DrumParams p;
    p.basePitch = base;
    p.pitchSweep = 0;
    p.punch = 0;
    p.toneDecay = decay;
    const std::vector<int16_t> out = Drum(p, 2 * kRate);
    const double expected = std::log(1.0 - std::pow(100.0, 1.0 - decay) * 0.0001);
    const double tau = -1.0 / expected;
    const auto period = size_t(std::round(kRate / base));  // one period per window
    SCOPED_TRACE("base " + std::to_string(base) + " decay " + std::to_string(decay));
    EXPECT_NEAR(CrossingHz(out, 0, size_t(2 * tau), kRate), base, 0.005 * base);
    EXPECT_NEAR(LogDecayPerFrame(out, 0, size_t(4 * tau), period) / expected, 1.0, 0.08);
  }
}

// The sweep starts at base x (1 + 4 sweep) and falls by 0.9995 - 0.005
// sweep a frame until it reaches the base.
TEST(ToneKnobEffects, DrumPitchSweepsDownToTheBase) {
  for (const float sweep : {0.25f, 0.5f, 1.0f}) {
    DrumParams p;
    p.basePitch = 300.0f;
    p.pitchSweep = sweep;
    p.punch = 0;
    p.toneDecay = 1.0f;
    const std::vector<int16_t> out = Drum(p, 4000);
    const double start = 300.0 * (1 + 4 * sweep), factor = 0.9995 - 0.005 * sweep;
    for (const size_t at : {size_t(100), size_t(150), size_t(260)}) {
      double middle = 0;
      const double measured = PeriodHzAt(out, at, kRate, middle);
      const double expected = std::max(300.0, start * std::pow(factor, middle));
      EXPECT_NEAR(measured, expected, 0.02 * expected) << "sweep " << sweep << " at " << at;
    }
  }
}

// ---------------------------------------------------------------- Cymbal

std::vector<int16_t> Cymbal(const CymbalParams& p, uint64_t frames = kRate) {
  std::vector<int16_t> out(frames);
  out.resize(RenderMetallicCymbal(frames, kRate, 1, p, out));
  return out;
}

// The cymbal's level falls by 1 - 100^(1 - decay) / 20000 a frame.
TEST(ToneKnobEffects, CymbalDecaySetsItsTimeConstant) {
  for (const float decay : {0.4f, 0.7f, 0.9f}) {
    CymbalParams p;
    p.decay = decay;
    p.gain = 0.2f;
    const std::vector<int16_t> out = Cymbal(p, 2 * kRate);
    const double expected = std::log(1.0 - std::pow(100.0, 1.0 - decay) * 0.00005);
    const double tau = -1.0 / expected;
    EXPECT_NEAR(LogDecayPerFrame(out, 0, size_t(std::min(3 * tau, 88000.0)), 512) / expected, 1.0, 0.08)
        << decay;
  }
}

// Six squares at 200 + 800 tone Hz times 1, 1.48 + d/2, 2.15 + d,
// 2.91 + 1.5 d, 3.84 + 2 d and 5.31 + 2.5 d for dissonance d: each is a line
// of the spectrum, well above the spectrum 2% to either side.
TEST(ToneKnobEffects, CymbalPartialsFollowToneAndDissonance) {
  for (const auto& [tone, dissonance] : {std::pair{0.5f, 0.4f}, {0.2f, 0.8f}}) {
    CymbalParams p;
    p.tone = tone;
    p.dissonance = dissonance;
    p.decay = 1.0f;
    p.colour = 0.5f;
    p.gain = 0.2f;
    const std::vector<int16_t> out = Cymbal(p);
    const double base = 200.0 + 800.0 * tone, d = dissonance;
    for (const double ratio : {1.0, 1.48 + 0.5 * d, 2.15 + d, 2.91 + 1.5 * d, 3.84 + 2 * d, 5.31 + 2.5 * d}) {
      const double f = base * ratio;
      const double line = ToneAmplitude(out, f, 0, out.size(), kRate);
      const double side = std::max(ToneAmplitude(out, f * 0.98, 0, out.size(), kRate),
                                   ToneAmplitude(out, f * 1.02, 0, out.size(), kRate));
      EXPECT_GT(line, 10 * side) << "tone " << tone << " dissonance " << d << " partial " << f;
    }
  }
}

// With an attack the level rises straight over attack x N frames.
TEST(ToneKnobEffects, CymbalAttackRisesOverItsShare) {
  CymbalParams p;
  p.attack = 0.4f;
  p.decay = 1.0f;
  p.gain = 0.2f;
  const std::vector<int16_t> out = Cymbal(p);
  const auto a = size_t(kRate * 0.4f);
  const double top = RmsOf(out, a - 2000, a);
  EXPECT_NEAR(RmsOf(out, a / 2 - 1000, a / 2 + 1000) / top, 0.5, 0.05);
  EXPECT_NEAR(RmsOf(out, a / 4 - 1000, a / 4 + 1000) / top, 0.25, 0.05);
}

// ---------------------------------------------------------------- Flute

std::vector<int16_t> Flute(const FluteParams& p, float hz, uint64_t frames = kRate) {
  FluteVoiceState state;
  std::vector<int16_t> out(frames);
  out.resize(RenderFluteNote(state, hz, frames, kRate, 1, p, out));
  return out;
}

// The formant stage is linear and the rest of the note does not depend on
// it, so the spectrum with the formant at 1 over the spectrum without it is
// the stage's response: a peak of +6 dB (gain 2) at 1200 Hz, lifted a little
// by the second peak's skirt (+3.5 dB at 2400 + 1000 (darkness - 0.5) Hz).
TEST(ToneKnobEffects, FluteFormantPeaksAtTwelveHundredHertz) {
  for (const float darkness : {0.5f, 0.0f, 1.0f}) {
    FluteParams p = MapFluteParams(Knobs(kEngineFlute));
    p.air = 1.0f;  // breath noise fills the spectrum between the harmonics
    p.breathBrightness = 1.0f;
    p.gain = 0.25f;
    p.darkness = darkness;
    p.formant = 0;
    const std::vector<int16_t> dry = Flute(p, 196.0f);
    p.formant = 1.0f;
    const std::vector<int16_t> wet = Flute(p, 196.0f);
    const Spectrum d = PowerSpectrum(dry, 0, dry.size(), 2048, kRate);
    Spectrum ratio = PowerSpectrum(wet, 0, wet.size(), 2048, kRate);
    for (size_t b = 0; b < ratio.power.size(); ++b) ratio.power[b] = d.power[b] > 0 ? ratio.power[b] / d.power[b] : 0;
    SCOPED_TRACE("darkness " + std::to_string(darkness));
    EXPECT_NEAR(ratio.PeakHz(500, 1700, 2), 1200, 70);
    // Across the band, the response of the two cookbook peaks in series:
    // e1 (1200 Hz, 0.7 octave, gain 2), then 0.3 e2 + 0.7 with e2 at
    // 2400 + 1000 (darkness - 0.5) Hz, 0.9 octave, gain 1.5.
    const double second = 2400 + 1000 * (darkness - 0.5);
    for (double f = 300; f <= 6000; f *= 1.12) {
      const std::complex<double> e1 = PeakingAt(f, 1200, 0.7, 2.0), e2 = PeakingAt(f, second, 0.9, 1.5);
      const double expected = std::abs(e1 * (0.3 * e2 + 0.7));
      EXPECT_NEAR(std::sqrt(ratio.Level(f * 0.97, f * 1.03)), expected, 0.06 * expected) << f << " Hz";
    }
  }
}

// A pure sine (no overtones, breath, waveguide, formant or vibrato) follows
// the envelope: (k / o)^2 over o = (swell x 0.4 + 0.02) N frames, then a
// straight release over u = (release x 0.4 + 0.02) N frames.
TEST(ToneKnobEffects, FluteSwellAndReleaseShapeTheEnvelope) {
  for (const auto& [swell, release] : {std::pair{0.2f, 0.3f}, {0.8f, 0.1f}, {0.05f, 0.9f}}) {
    FluteParams p;
    p.harmonics = 0;
    p.air = 0;
    p.breathAttack = 0;
    p.waveguideMix = 0;
    p.formant = 0;
    p.growl = 0;
    p.vibratoAmount = 0;
    p.swell = swell;
    p.release = release;
    const std::vector<int16_t> out = Flute(p, 441.0f);
    const auto o = size_t((swell * 0.4f + 0.02f) * kRate), u = size_t((release * 0.4f + 0.02f) * kRate);
    const size_t releaseStart = kRate - u;
    const double full = RmsOf(out, o, std::min(releaseStart, o + 2000));
    SCOPED_TRACE("swell " + std::to_string(swell) + " release " + std::to_string(release));
    EXPECT_NEAR(RmsOf(out, o / 2 - 100, o / 2 + 100) / full, 0.25, 0.02);
    EXPECT_NEAR(RmsOf(out, releaseStart + u / 2 - 100, releaseStart + u / 2 + 100) / full, 0.5, 0.02);
    EXPECT_NEAR(RmsOf(out, releaseStart + u / 4 - 100, releaseStart + u / 4 + 100) / full, 0.75, 0.02);
  }
}

// ---------------------------------------------------------------- Bowed

std::vector<int16_t> Bowed(const BowedParams& p, float hz, uint64_t frames = kRate) {
  ToneWorkspace workspace;
  std::vector<int16_t> out(frames);
  out.resize(RenderBowedString(hz, frames, kRate, 1, p, workspace, out));
  return out;
}

// The bow's speed and pressure rise as (i / A)^2 over A = rate x attack
// frames, attack = "Attack" x 0.5 + 0.01 s. The string sticks to the bow
// until the bow is well on its way: it is silent half-way through the attack
// (bow at a quarter). Once it slips, its swing follows the bow's speed: the
// note speaks (a tenth of its held level) before the bow reaches full speed,
// passes half its held level within 60 ms of it, and is well on its way
// 0.6 A later. A low note builds its swing up over more periods, and so
// later: the notes measured are high enough for the swing to follow the bow.
TEST(ToneKnobEffects, BowedAttackKnobSetsTheRise) {
  for (const float hz : {698.46f, 880.0f}) {
    for (const float knob : {0.6f, 0.8f, 1.0f}) {
      SynthKnobValues knobs = Knobs(kEngineBowed);
      knobs.values[94] = knob;
      const BowedParams p = MapBowedParams(knobs);
      const std::vector<int16_t> out = Bowed(p, hz, 2 * kRate);
      const double a = (knob * 0.5 + 0.01) * kRate;
      std::vector<double> heldLevels =
          RmsEnvelope(out, size_t(1.6 * a), 2 * kRate - size_t(p.release * kRate) - 2000, 441);
      std::sort(heldLevels.begin(), heldLevels.end());
      const double held = heldLevels[heldLevels.size() / 2];
      auto level = [&](double at) { return RmsOf(out, size_t(at) - 441, size_t(at) + 441) / held; };
      // The middle of the first 10-ms window at |share| of the held level.
      const std::vector<double> windows = RmsEnvelope(out, 0, out.size(), 441);
      auto reaches = [&](double share) {
        size_t at = 0;
        while (at < windows.size() && windows[at] < share * held) ++at;
        return double(at * 441 + 220);
      };
      SCOPED_TRACE(std::to_string(hz) + " Hz, attack knob " + std::to_string(knob));
      EXPECT_LT(level(a / 2), 0.02);
      EXPECT_LT(reaches(0.1), a);
      EXPECT_NEAR(reaches(0.5), a, 0.06 * kRate);
      EXPECT_GT(level(1.6 * a), 0.4);
    }
  }
}

// The body: two resonances, fc1 = 450 x 0.18^size Hz with Q 4 + 4 x size and
// fc2 = 2.8 x fc1 with Q 3, each two-pole y = (alpha x + 2 cos(w) y1 -
// (1 - alpha) y2) / (1 + alpha) scaled to unity at its centre, mixed as
// 0.7 x (0.7 r1 + 0.3 r2) + 0.3 x the bare string. Its response at |hz|.
double BowedBodyAt(double hz, double size) {
  auto resonance = [hz](double fc, double q) {
    const double w = 2 * kPi * fc / kRate, alpha = std::sin(w) / (2 * q);
    auto at = [&](double f) {
      const std::complex<double> z1 = std::polar(1.0, -2 * kPi * f / kRate), z2 = z1 * z1;
      return alpha / (1 + alpha - 2 * std::cos(w) * z1 + (1 - alpha) * z2);
    };
    return at(hz) / std::abs(at(fc));
  };
  const double fc1 = 450.0 * std::pow(0.18, size);
  return std::abs(0.7 * (0.7 * resonance(fc1, 4 + 4 * size) + 0.3 * resonance(2.8 * fc1, 3)) + 0.3);
}

// A larger body lowers both body resonances. The body only colours the
// string (the loop does not pass through it), so the partials of one note
// with two body sizes differ by the ratio of the two bodies' responses: with
// the bow slow enough for the output curve to stay close to straight, each
// strong partial within half a decibel of it. From size 0 to 1 the partials
// near 450 Hz lose some 8 dB and those near 2 kHz gain 2 dB. A low note has
// only its lowest two or three partials strong, so notes from 110 Hz up to
// 698 Hz together lay partials from 110 Hz to 2.8 kHz over both bodies'
// resonances, each note with at least its two lowest.
TEST(ToneKnobEffects, BowedBodySizeMovesItsResonances) {
  for (const float hz : {110.0f, 146.83f, 220.0f, 329.63f, 523.25f, 698.46f}) {
    for (const auto& [from, to] : {std::pair{0.0f, 1.0f}, {0.5f, 0.0f}, {0.25f, 0.75f}}) {
      BowedParams p;
      p.bowSpeed = 0.08f;
      p.bodySize = from;
      const std::vector<int16_t> a = Bowed(p, hz);
      p.bodySize = to;
      const std::vector<int16_t> b = Bowed(p, hz);
      std::vector<double> partials;
      for (double f = hz; f < 3000; f += hz) partials.push_back(ToneAmplitude(a, f, 11025, a.size(), kRate));
      const double strongest = *std::max_element(partials.begin(), partials.end());
      int compared = 0;
      for (size_t k = 0; k < partials.size(); ++k) {
        const double f = hz * double(k + 1);
        const double other = ToneAmplitude(b, f, 11025, b.size(), kRate);
        if (std::min(partials[k], other) < 0.05 * strongest) continue;
        ++compared;
        const double expected = 20 * std::log10(BowedBodyAt(f, to) / BowedBodyAt(f, from));
        EXPECT_NEAR(20 * std::log10(other / partials[k]), expected, 0.5)
            << hz << " Hz, body " << from << " to " << to << ", partial at " << f << " Hz";
      }
      EXPECT_GE(compared, 2) << hz << " Hz, body " << from << " to " << to;
    }
  }
}

// ---------------------------------------------------------------- Voice

std::vector<int16_t> Voice(const VoiceParams& p, float hz, uint64_t frames = kRate) {
  FormantVoiceState state;
  std::vector<int16_t> out(frames);
  out.resize(RenderFormantVoice(state, hz, frames, kRate, 1, p, out));
  return out;
}

// The band-pass of 0 dB peak gain at |hz| (centre |centre|, quality |q|).
std::complex<double> BandPassAt(double hz, double centre, double q, uint32_t rate = kRate) {
  const double w = 2 * kPi * std::max(20.0, std::min(0.45 * rate, centre)) / rate;
  const double alpha = std::sin(w) / (2 * q);
  const std::complex<double> z1 = std::polar(1.0, -2 * kPi * hz / rate), z2 = z1 * z1;
  return alpha * (1.0 - z2) / (1 + alpha - 2 * std::cos(w) * z1 + (1 - alpha) * z2);
}

// The vowel table (F1..F3 in Hz, A1..A3), blended linearly between
// neighbouring vowels and scaled by gender.
Formants TableFormants(float vowel, float gender) {
  static constexpr double kTable[5][6] = {{730, 1090, 2440, 1.0, 0.5, 0.2}, {530, 1840, 2480, 1.0, 0.4, 0.2},
                                          {270, 2290, 3010, 1.0, 0.3, 0.1}, {570, 840, 2410, 1.0, 0.6, 0.2},
                                          {300, 870, 2240, 1.0, 0.5, 0.1}};
  const double w = std::clamp(4.0 * vowel, 0.0, 4.0);
  const int i = int(w), j = std::min(i + 1, 4);
  const double x = w - i;
  Formants f{};
  for (int k = 0; k < 3; ++k) {
    f.frequency[k] = float(((1 - x) * kTable[i][k] + x * kTable[j][k]) * gender);
    f.amplitude[k] = float((1 - x) * kTable[i][k + 3] + x * kTable[j][k + 3]);
  }
  return f;
}

// A breathy voice on a very low note: the breath noise (white noise n in
// breath x (0.1 / (1 - 0.9 z^-1) + (cut - 0.5))) through the three formant
// band-passes of the vowel table, F x gender with quality 3, 4 and 5, weighted
// A1..A3. The spectrum's shape from 200 Hz to 5 kHz is that response.
TEST(ToneKnobEffects, VoiceFormantsFollowVowelAndGender) {
  for (const auto& [vowel, gender] : {std::pair{0.0f, 1.0f}, {0.25f, 1.0f}, {0.5f, 1.0f}, {0.75f, 1.0f},
                                      {1.0f, 1.0f}, {0.25f, 1.3f}, {0.125f, 0.8f}}) {
    VoiceParams p;
    p.vowel = vowel;
    p.gender = gender;
    p.hardness = 0;  // a sine source, far below the formants
    p.breath = 0.05f;
    p.breathCut = 1.0f;
    p.vibratoDepth = 0;
    p.jitter = 0;
    const std::vector<int16_t> out = Voice(p, 25.0f, 2 * kRate);
    const Spectrum s = PowerSpectrum(out, 8820, out.size() - 17640, 2048, kRate);
    const Formants f = TableFormants(vowel, gender);
    auto expected = [&](double hz) {
      const std::complex<double> z1 = std::polar(1.0, -2 * kPi * hz / kRate);
      const std::complex<double> noise = 0.1 / (1.0 - 0.9 * z1) + 0.5;
      return std::norm(noise * (double(f.amplitude[0]) * BandPassAt(hz, f.frequency[0], 3) +
                                double(f.amplitude[1]) * BandPassAt(hz, f.frequency[1], 4) +
                                double(f.amplitude[2]) * BandPassAt(hz, f.frequency[2], 5)));
    };
    // Level in dB against the expectation, after removing the mean offset.
    std::vector<double> db;
    double mean = 0;
    for (double hz = 200; hz <= 5000; hz *= 1.08) {
      db.push_back(10 * std::log10(s.Level(hz * 0.97, hz * 1.03) / expected(hz)));
      mean += db.back();
    }
    mean /= double(db.size());
    SCOPED_TRACE("vowel " + std::to_string(vowel) + " gender " + std::to_string(gender));
    double hz = 200;
    for (const double d : db) {
      EXPECT_NEAR(d, mean, 2.0) << hz << " Hz";
      hz *= 1.08;
    }
    // And the first two formants' peaks sit where the response has them.
    Spectrum response = s;
    for (size_t b = 0; b < response.power.size(); ++b) response.power[b] = expected(double(b) * s.binHz);
    for (int k = 0; k < 2; ++k) {
      const double lo = f.frequency[k] * 0.85, hi = f.frequency[k] * 1.15;
      const double peak = response.PeakHz(lo, hi, 0);
      EXPECT_NEAR(s.PeakHz(lo, hi, 3), peak, std::max(0.04 * peak, 2 * s.binHz)) << "formant " << k + 1;
    }
  }
}

// Attack and release as fractions of the note: (k / o)^2 over
// o = (attack x 0.5 + 0.01) N, a straight release over
// t = (release x 0.5 + 0.01) N.
TEST(ToneKnobEffects, VoiceAttackAndReleaseShapeTheEnvelope) {
  for (const auto& [attack, release] : {std::pair{0.15f, 0.2f}, {0.5f, 0.6f}}) {
    VoiceParams p;
    p.attack = attack;
    p.release = release;
    p.vibratoDepth = 0;
    p.jitter = 0;
    p.breath = 0;
    p.gain = 0.02f;  // below the output's clamp
    const std::vector<int16_t> out = Voice(p, 441.0f);
    const auto o = size_t((attack * 0.5f + 0.01f) * kRate), t = size_t((release * 0.5f + 0.01f) * kRate);
    const size_t releaseStart = kRate - t;
    const double full = RmsOf(out, o, std::min(releaseStart, o + 2000));
    SCOPED_TRACE("attack " + std::to_string(attack) + " release " + std::to_string(release));
    EXPECT_NEAR(RmsOf(out, o / 2 - 100, o / 2 + 100) / full, 0.25, 0.03);
    EXPECT_NEAR(RmsOf(out, releaseStart + t / 2 - 100, releaseStart + t / 2 + 100) / full, 0.5, 0.03);
  }
}

// ---------------------------------------------------------------- Brass

std::vector<int16_t> Brass(const BrassParams& p, float hz, uint64_t frames = kRate) {
  BrassVoiceState state;
  std::vector<int16_t> out(frames);
  out.resize(RenderBrass(state, hz, frames, kRate, 1, p, out));
  return out;
}

// The envelope knobs as the dialog maps them, heard through a quiet note (the
// output's tanh nearly straight) with a steady timbre (no dynamics, breath,
// tube feedback or vibrato): a straight rise over A = (attack x 0.4 + 0.01) N,
// a straight fall to the sustain level over D = (decay x 0.4 + 0.01) N, the
// sustain level held, and a straight release over R = (release x 0.4 + 0.01) N.
TEST(ToneKnobEffects, BrassEnvelopeKnobsSetTimesAndSustainLevel) {
  struct Case {
    float attack, decay, sustain, release;
  };
  for (const Case c : {Case{0.1f, 0.2f, 0.7f, 0.3f}, {0.3f, 0.5f, 0.4f, 0.2f}, {0.05f, 0.8f, 0.2f, 0.5f}}) {
    SynthKnobValues knobs = Knobs(kEngineBrass);
    knobs.values[121] = 0;  // dynamics
    knobs.values[122] = 0;  // breath
    knobs.values[123] = 0;  // tube resonance
    knobs.values[129] = 0;  // vibrato depth
    knobs.values[125] = c.attack;
    knobs.values[126] = c.decay;
    knobs.values[127] = c.sustain;
    knobs.values[128] = c.release;
    BrassParams p = MapBrassParams(knobs);
    p.gain = 0.05f;
    const uint64_t n = 2 * kRate;
    const std::vector<int16_t> out = Brass(p, 441.0f, n);
    const auto a = size_t((c.attack * 0.4f + 0.01f) * float(n)), d = size_t((c.decay * 0.4f + 0.01f) * float(n)),
               r = size_t((c.release * 0.4f + 0.01f) * float(n));
    const size_t releaseStart = n - r;
    const double peak = RmsOf(out, a - 200, a + 200);
    SCOPED_TRACE("attack " + std::to_string(c.attack) + " decay " + std::to_string(c.decay) + " sustain " +
                 std::to_string(c.sustain) + " release " + std::to_string(c.release));
    EXPECT_NEAR(RmsOf(out, a / 2 - 100, a / 2 + 100) / peak, 0.5, 0.04);
    EXPECT_NEAR(RmsOf(out, a + d / 2 - 100, a + d / 2 + 100) / peak, 1.0 - 0.5 * (1.0 - c.sustain), 0.04);
    const size_t held = (a + d + releaseStart) / 2;
    EXPECT_NEAR(RmsOf(out, held - 1000, held + 1000) / peak, c.sustain, 0.03);
    EXPECT_NEAR(RmsOf(out, releaseStart + r / 2 - 100, releaseStart + r / 2 + 100) / peak, 0.5 * c.sustain, 0.03);
  }
}

// With no sustain the tube rings on by itself once the decay has ended: per
// pass it keeps 0.9 x resonance of the sound, through the loop low-pass
// c = damping x 0.6 + 0.1 at the pitch it rings at.
TEST(ToneKnobEffects, BrassTubeResonanceAndDampingSetItsRingOut) {
  struct Case {
    float resonance, damping;
  };
  for (const Case c : {Case{1.0f, 0.3f}, {1.0f, 0.1f}, {1.0f, 0.8f}, {0.7f, 0.3f}}) {
    BrassParams p;
    p.attack = 0;
    p.decay = 0;
    p.sustain = 0;
    p.vibratoDepth = 0;
    p.tubeResonance = c.resonance;
    p.tubeDamping = c.damping;
    p.gain = 0.2f;
    const uint64_t n = kRate;
    const std::vector<int16_t> out = Brass(p, 440.0f, n);
    const double f = 440.0;
    const double c1 = c.damping * 0.6 + 0.1;
    const double expected = std::log(0.9 * c.resonance * OnePoleGain(c1, f)) * f / kRate;
    const double tau = -1.0 / expected;
    // After attack and decay, once the tube's upper modes have died away and
    // its fundamental alone rings.
    const size_t from = size_t(0.02 * n) + size_t(std::max(300.0, 1.5 * tau));
    SCOPED_TRACE("resonance " + std::to_string(c.resonance) + " damping " + std::to_string(c.damping));
    EXPECT_NEAR(LogDecayPerFrame(out, from, from + size_t(2.5 * tau), 100) / expected, 1.0, 0.08);
  }
}

// Brilliance raises the modulation index 6 x brilliance + 1: a brighter note.
TEST(ToneKnobEffects, BrassBrillianceBrightensTheNote) {
  double previous = 0;
  for (const float brilliance : {0.0f, 0.4f, 1.0f}) {
    BrassParams p;
    p.brilliance = brilliance;
    p.gain = 0.05f;
    const std::vector<int16_t> out = Brass(p, 220.0f);
    const double centroid = PowerSpectrum(out, 22050, 30000, 2048, kRate).Centroid(50, 15000);
    EXPECT_GT(centroid, previous * 1.2) << brilliance;
    previous = centroid;
  }
}

}  // namespace
}  // namespace zandrel
