// Every pitched tone engine of the micro synth, at its default knobs, plays
// the note it is asked for over five octaves: in tune, centred on zero and
// without clipped samples once its attack is over.
#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "sound_design/micro_synth.h"

namespace zandrel {
namespace {

constexpr uint32_t kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// The normalised square-difference function of |x| over [begin, end) at
// |lag|: 2 r(lag) / (energy of both halves), 1 for a perfect repeat.
double Nsdf(const std::vector<double>& x, size_t begin, size_t width, size_t lag) {
  double r = 0, m = 0;
  for (size_t t = begin; t < begin + width; ++t) {
    r += x[t] * x[t + lag];
    m += x[t] * x[t] + x[t + lag] * x[t + lag];
  }
  return m > 0 ? 2.0 * r / m : 0.0;
}

// The vertex of a parabola through the function at k - 1, k, k + 1.
double Vertex(size_t k, double a, double b, double c) {
  const double bend = a - 2 * b + c;
  return static_cast<double>(k) + (bend < 0 ? 0.5 * (a - c) / bend : 0.0);
}

// The fundamental period, in frames, of |x| over [begin, end), looked for
// between |shortest| and |longest| frames: the first key maximum of the
// square-difference function (the highest point of each stretch above zero)
// that comes within 10% of the highest one (a later one would be a multiple
// of the period). A parabola through the maximum nearest to the first
// multiple of that period at or beyond 256 frames then gives the period to a
// small fraction of a frame. 0 when nothing periodic is found.
double Period(const std::vector<double>& x, size_t begin, size_t end, size_t shortest, size_t longest) {
  const size_t reach = std::max<size_t>(longest, 256 + 2 * longest) + 2;
  if (end - begin <= 2 * reach) return 0;
  const size_t width = end - begin - reach;
  std::vector<double> nsdf(longest + 2, 0.0);
  for (size_t lag = 1; lag <= longest + 1; ++lag) nsdf[lag] = Nsdf(x, begin, width, lag);
  std::vector<size_t> keys;
  size_t lag = std::max<size_t>(shortest, 1);
  while (lag <= longest && nsdf[lag] > 0) ++lag;  // leave the lobe at lag 0
  while (lag <= longest) {
    while (lag <= longest && nsdf[lag] <= 0) ++lag;
    size_t best = lag;
    while (lag <= longest && nsdf[lag] > 0) {
      if (nsdf[lag] > nsdf[best]) best = lag;
      ++lag;
    }
    if (best <= longest && nsdf[best] > 0) keys.push_back(best);
  }
  double highest = 0;
  for (size_t k : keys) highest = std::max(highest, nsdf[k]);
  for (size_t k : keys) {
    if (nsdf[k] < 0.9 * highest) continue;
    const double coarse = Vertex(k, nsdf[k - 1], nsdf[k], nsdf[k + 1]);
    const double multiple = std::ceil(256.0 / coarse);
    const auto around = static_cast<size_t>(std::lround(multiple * coarse));
    size_t top = around;
    double topValue = Nsdf(x, begin, width, around);
    for (size_t l = around - 2; l <= around + 2; ++l) {
      const double v = Nsdf(x, begin, width, l);
      if (v > topValue) top = l, topValue = v;
    }
    const double fine = Vertex(top, Nsdf(x, begin, width, top - 1), topValue, Nsdf(x, begin, width, top + 1));
    return fine / multiple;
  }
  return 0;
}

// The frequency of |signal| over [begin, end), less its mean, for a note
// expected near |hz|: the search runs from a quarter to two and a half
// expected periods, so a note an octave or two off shows as such.
double MeasuredHz(const std::vector<double>& signal, size_t begin, size_t end, double hz) {
  // An offset (checked apart) would keep the function above zero everywhere.
  double mean = 0;
  for (size_t i = begin; i < end; ++i) mean += signal[i];
  mean /= static_cast<double>(end - begin);
  std::vector<double> x(signal.size(), 0.0);
  for (size_t i = begin; i < end; ++i) x[i] = signal[i] - mean;
  const double period = kRate / hz;
  const auto shortest = static_cast<size_t>(std::max(2.0, period / 4));
  const auto longest = static_cast<size_t>(period * 2.5) + 2;
  const double found = Period(x, begin, end, shortest, longest);
  return found > 0 ? kRate / found : 0.0;
}

double Cents(double measured, double expected) { return 1200.0 * std::log2(measured / expected); }

// The mean of |x| over the whole periods that fit in [begin, end): a DC
// offset, free of the part-period a plain mean over any stretch would add.
double MeanOverPeriods(const std::vector<double>& x, size_t begin, size_t end, double period) {
  const double periods = std::floor(static_cast<double>(end - begin) / period);
  const auto length = static_cast<size_t>(std::lround(periods * period));
  double sum = 0;
  for (size_t i = begin; i < begin + length; ++i) sum += x[i];
  return sum / static_cast<double>(length);
}

std::vector<double> Sine(double hz, size_t frames, double amplitude, double offset = 0) {
  std::vector<double> x(frames);
  for (size_t i = 0; i < frames; ++i) x[i] = offset + amplitude * std::sin(2 * kPi * hz * i / kRate);
  return x;
}

TEST(EngineTuningMeasure, FindsThePitchAndOffsetOfPlainSignals) {
  for (const double hz : {65.41, 98.0, 261.63, 440.0, 1046.5, 2093.0, 3000.0}) {
    SCOPED_TRACE(hz);
    const auto sine = Sine(hz, kRate, 20000);
    EXPECT_NEAR(Cents(MeasuredHz(sine, 1000, 1000 + kRate / 4, hz), hz), 0.0, 0.2);
    // A note an octave high, or an octave low, is measured as such.
    EXPECT_NEAR(Cents(MeasuredHz(Sine(2 * hz, kRate, 20000), 1000, 1000 + kRate / 4, hz), hz), 1200.0, 0.2);
    EXPECT_NEAR(Cents(MeasuredHz(Sine(hz / 2, kRate, 20000), 1000, 1000 + kRate / 4, hz), hz), -1200.0, 0.2);
    // A strong second harmonic does not pull it up an octave.
    std::vector<double> bright = sine;
    const auto second = Sine(2 * hz, kRate, 16000);
    for (size_t i = 0; i < bright.size(); ++i) bright[i] += second[i];
    EXPECT_NEAR(Cents(MeasuredHz(bright, 1000, 1000 + kRate / 4, hz), hz), 0.0, 0.2);
    // A note 10 cents sharp reads 10 cents sharp.
    const double sharp = hz * std::exp2(10.0 / 1200);
    EXPECT_NEAR(Cents(MeasuredHz(Sine(sharp, kRate, 20000), 1000, 1000 + kRate / 4, hz), hz), 10.0, 0.2);
    const auto offset = Sine(hz, kRate, 20000, 50);
    EXPECT_NEAR(MeanOverPeriods(offset, 777, 777 + kRate / 4, kRate / hz), 50.0, 1.0);
  }
}

// One row per pitched engine: where its attack has surely ended, the stretch
// it is measured over (as fractions of the note, the sustaining engines over
// whole cycles of their vibrato; 0, 0 for the struck and plucked strings,
// measured from their fourth period on while they still ring), and the level
// its output stage holds the signal to (its full scale: a hard clamp or the
// 16-bit limit; the brass's tanh only approaches its 26000).
struct EngineRow {
  int engine;
  const char* name;
  double attackEnd;
  double measureFrom;
  double measureTo;
  int fullScale;
};

// A 3-second note, so that the oscillator's whole number of cycles per note
// stays within a few cents of the note even at MIDI 36.
constexpr double kSeconds = 3.0;

const EngineRow kEngines[] = {
    {kEngineBasic, "Basic Waveform", 0.0, 0.2, 0.6, 32767},
    {kEngineStrings, "Physical Strings", 0.02, 0, 0, 32767},
    {kEnginePiano, "Physical Piano", 0.02, 0, 0, 32767},
    // Vibrato at 5 Hz: 1.6 s are 8 whole cycles.
    {kEngineFlute, "Flute / Woodwind", 0.15, 0.3, 0.3 + 1.6 / kSeconds, 26600},
    {kEngineBowed, "Violin / Bowed", 0.02, 0.2, 0.6, 28000},
    // Vibrato at 5.5 Hz: 16/11 s are 8 whole cycles.
    {kEngineVoice, "Voice 2 / Formant", 0.15, 0.3, 0.3 + 16.0 / 11 / kSeconds, 27440},
    // Vibrato at 5 Hz; the sustain runs from 0.14 to 0.87 of the note.
    {kEngineBrass, "Brass / Trumpet", 0.15, 0.2, 0.2 + 1.6 / kSeconds, 32767},
};

const int kNotes[] = {36, 48, 60, 72, 84, 96};

struct Rendered {
  std::vector<double> x;
  size_t frames;
};

Rendered RenderDefault(int engine, int note) {
  static const std::map<int, SynthEngine> table = BuildSynthEngines();
  SynthStates states;
  std::vector<int16_t> pcm;
  const auto frames = static_cast<uint64_t>(kSeconds * kRate);
  const SynthRenderResult result =
      RenderSynth(engine, DefaultKnobValues(table.at(engine)), note, kRate, 1, frames, states, pcm);
  EXPECT_FALSE(result.refused);
  return {std::vector<double>(pcm.begin(), pcm.end()), pcm.size()};
}

// One note of |row| at its default knobs: its pitch, offset and railed
// samples checked, and printed.
void CheckDefaultNote(const EngineRow& row, int note) {
  SCOPED_TRACE(std::string(row.name) + " at MIDI " + std::to_string(note));
  const Rendered r = RenderDefault(row.engine, note);
  ASSERT_EQ(r.frames, static_cast<size_t>(kSeconds * kRate));
  const double hz = 440.0 * std::exp2((note - 69) / 12.0);
  auto from = static_cast<size_t>(row.measureFrom * r.frames);
  auto to = static_cast<size_t>(row.measureTo * r.frames);
  if (row.measureTo == 0) {
    from = static_cast<size_t>(4 * kRate / hz);
    to = from + static_cast<size_t>(80 * kRate / hz) + 4096;
  }
  const double measured = MeasuredHz(r.x, from, to, hz);
  ASSERT_GT(measured, 0) << "no pitch found";
  const double cents = Cents(measured, hz);
  EXPECT_LT(std::fabs(cents), 5.0) << "measured " << measured << " Hz for " << hz << " Hz";
  const double dc = MeanOverPeriods(r.x, from, to, kRate / measured);
  EXPECT_LT(std::fabs(dc), 0.001 * 32768) << "DC offset";
  const auto attackEnd = static_cast<size_t>(row.attackEnd * r.frames);
  size_t railed = 0;
  for (size_t i = attackEnd; i < r.frames; ++i) railed += std::fabs(r.x[i]) >= row.fullScale - 1;
  EXPECT_EQ(railed, 0u) << "samples at full scale after the attack";
  std::printf("%-18s %3d  %+8.2f cents  DC %+8.1f  railed %zu\n", row.name, note, cents, dc, railed);
}

TEST(EngineTuning, DefaultNotesAreInTuneCentredAndUnclipped) {
  for (const EngineRow& row : kEngines) {
    for (const int note : kNotes) CheckDefaultNote(row, note);
  }
}

// The bowed string's regime (one slip per period, or two) and its level
// change from one note to the next, not smoothly with the octave: it slipped
// twice per period, an octave high, on notes between the table's, and rails
// at MIDI 42 (its octave on the body's low resonance) when it does. Every
// note of the five octaves is checked.
TEST(EngineTuning, BowedStringPlaysEveryNoteInTuneCentredAndUnclipped) {
  for (const EngineRow& row : kEngines) {
    if (row.engine != kEngineBowed) continue;
    for (int note = 36; note <= 96; ++note) CheckDefaultNote(row, note);
  }
}

}  // namespace
}  // namespace zandrel
