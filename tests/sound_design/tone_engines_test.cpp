#include "sound_design/tone_engines.h"

#include <gmock/gmock.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>

#include "processing/pitch.h"
#include "support/pcm_measures.h"

#include "counting_new.h"

namespace zandrel {
namespace {

constexpr uint32_t kToneEnginesRate = 44100;

// One engine behind one signature, so that the properties below run as a
// table over the engines rather than as near-copies.
struct ToneEnginesEngine {
  std::string name;
  std::function<size_t(uint32_t& seed, float hz, uint64_t frames, uint32_t rate, uint16_t channels,
                       ToneWorkspace& workspace, std::span<int16_t> out)>
      render;
};

std::vector<ToneEnginesEngine> ToneEnginesEngines(BasicWaveParams basic = {}, StringParams strings = {}, PianoParams piano = {},
                            DrumParams drum = {}) {
  return {
      {"Basic", [=](uint32_t& seed, float hz, uint64_t n, uint32_t rate, uint16_t ch, ToneWorkspace& w,
                    std::span<int16_t> out) { return RenderBasicWaveform(seed, hz, n, rate, ch, basic, w, out); }},
      {"Strings", [=](uint32_t& seed, float hz, uint64_t n, uint32_t rate, uint16_t ch, ToneWorkspace& w,
                      std::span<int16_t> out) { return RenderPhysicalStrings(seed, hz, n, rate, ch, strings, w, out); }},
      {"Piano", [=](uint32_t& seed, float hz, uint64_t n, uint32_t rate, uint16_t ch, ToneWorkspace& w,
                    std::span<int16_t> out) { return RenderPhysicalPiano(seed, hz, n, rate, ch, piano, w, out); }},
      {"Drum", [=](uint32_t& seed, float, uint64_t n, uint32_t rate, uint16_t ch, ToneWorkspace&,
                   std::span<int16_t> out) { return RenderAnalogDrum(seed, n, rate, ch, drum, out); }},
  };
}

std::vector<int16_t> Render(const ToneEnginesEngine& engine, float hz, uint64_t frames, uint16_t channels = 1,
                            uint32_t rate = kToneEnginesRate, uint32_t seed = 1) {
  std::vector<int16_t> out(ToneSamples(frames, channels));
  ToneWorkspace workspace;
  out.resize(engine.render(seed, hz, frames, rate, channels, workspace, out));
  return out;
}

double Pitch(const std::vector<int16_t>& mono, int64_t start, int64_t end, uint32_t rate = kToneEnginesRate) {
  return test::MonoPitch(mono, start, end, rate);
}
using test::Cents;
using test::Peak;
using test::Rms;

TEST(ToneEngineTest, NoiseFollowsTheXorshiftSequence) {
  uint32_t s = 12345;
  EXPECT_FLOAT_EQ(NextNoise(s), 0.819946289f);
  EXPECT_EQ(s, 3336926330u);
  EXPECT_FLOAT_EQ(NextNoise(s), -0.848693848f);
  EXPECT_EQ(s, 1697253807u);
  EXPECT_FLOAT_EQ(NextNoise(s), -0.755859375f);
  EXPECT_EQ(s, 2816511904u);
  uint32_t zero = 0;
  EXPECT_EQ(NextNoise(zero), -1.0f);
  EXPECT_EQ(zero, 0u);
}

TEST(ToneEngineTest, HelpersGiveTheirDefiningValues) {
  EXPECT_FLOAT_EQ(MidiNoteToHz(69), 440.0f);
  EXPECT_NEAR(MidiNoteToHz(60), 261.6256f, 1e-3);
  const StereoGains centre = EqualPowerGains(0.5f);
  EXPECT_NEAR(centre.left, 0.70710678f, 1e-6);
  EXPECT_NEAR(centre.right, 0.70710678f, 1e-6);
  EXPECT_EQ(EqualPowerGains(-3).left, 1.0f);
  EXPECT_EQ(EqualPowerGains(7).right, 1.0f);
  EXPECT_EQ(OscillatorShape(6, 0.3f), 0.0f);
  EXPECT_EQ(OscillatorShape(4, 0.2f), 1.0f);
  EXPECT_EQ(OscillatorShape(5, 0.2f), -1.0f);
  EXPECT_EQ(ClampToPcm16(40000), 32767);
  EXPECT_EQ(ClampToPcm16(-40000), -32768);
  EXPECT_EQ(ClampToPcm16(-3.9f), -3);
  EXPECT_EQ(ClampToPcm16(NAN), 0);
  // The 1 s of a loop that float rounding would shorten by a frame is one
  // frame count, decided once.
  EXPECT_EQ(FramesForSeconds(1.0f, 44100), 44100u);
  EXPECT_EQ(FramesForSeconds(-1.0f, 44100), 0u);
  EXPECT_EQ(FramesForSeconds(INFINITY, 44100), 0u);
}

TEST(ToneEngineTest, NewParameterBlocksHoldTheirDefaults) {
  const BasicWaveParams b;
  EXPECT_EQ(b.shape, 2);
  EXPECT_FALSE(b.secondOn);
  EXPECT_EQ(b.secondShape, 2);
  EXPECT_FLOAT_EQ(b.secondDetune, -0.07f);
  EXPECT_FLOAT_EQ(b.secondMix, 0.5f);
  EXPECT_EQ(b.attack, 0.0f);
  EXPECT_EQ(b.release, 0.0f);
  EXPECT_EQ(b.cutoff, 1.0f);
  EXPECT_EQ(b.resonance, 0.0f);
  EXPECT_EQ(b.noise, 0.0f);
  EXPECT_EQ(b.unisonVoices, 1);
  EXPECT_FLOAT_EQ(b.unisonDetune, 0.1f);
  EXPECT_FLOAT_EQ(b.stereoSpread, 0.5f);
  EXPECT_TRUE(b.loopExact);
  const StringParams s;
  EXPECT_THAT((std::vector<float>{s.damping, s.feedback, s.pluckPosition, s.bodyTone, s.detuneSpread, s.width}),
              ::testing::Pointwise(::testing::FloatEq(), std::vector<float>{0.5f, 0.99f, 0.5f, 1.0f, 0.1f, 0.5f}));
  EXPECT_EQ(s.strings, 1);
  const PianoParams p;
  EXPECT_THAT((std::vector<float>{p.hammer, p.stiffness, p.decay, p.reserved, p.keyWidth}),
              ::testing::Pointwise(::testing::FloatEq(), std::vector<float>{0.5f, 0.0f, 0.98f, 0.1f, 1.0f}));
  EXPECT_EQ(p.strings, 1);
}

TEST(ToneEngineTest, ExciteBuildsTheLoopAndCombsOnlyInsideThePluckRange) {
  ToneWorkspace w;
  std::span<float> storage = w.Floats(64);
  DelayLine line;
  uint32_t seed = 7;
  line.Excite(50000.0f, 44100, seed, 0.3f, storage);
  EXPECT_EQ(line.loop.size(), 2u);  // above the rate: still a two-sample loop

  for (float pluck : {0.5f, 0.01f, 0.0f, 0.7f}) {
    uint32_t a = 99, b = 99;
    line.Excite(4410.0f, 44100, a, pluck, storage);
    ASSERT_EQ(line.loop.size(), 10u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(line.loop[i], NextNoise(b)) << "pluck " << pluck;
  }
  // Pluck 0.25 of a ten-sample loop: d = 2, x[j] -= x[(j - 2) mod 10], in place.
  uint32_t a = 99, b = 99;
  line.Excite(4410.0f, 44100, a, 0.25f, storage);
  std::vector<float> x(10);
  for (float& v : x) v = NextNoise(b);
  for (int j = 0; j < 10; ++j) x[j] -= x[(j + 8) % 10];
  for (int j = 0; j < 10; ++j) EXPECT_EQ(line.loop[j], x[j]);
}

TEST(ToneEnginesTest, EachNoteHasTheRequestedPitch) {
  BasicWaveParams sine;
  sine.shape = 0;
  DrumParams drum;
  drum.basePitch = 110;
  struct Row {
    size_t engine;
    float hz;
    double expected;
    int64_t from;  // where the note is measured (after the drum's sweep)
  };
  // Basic: a whole number of cycles per note; strings and piano: the note
  // itself (their loops come to its period, filters included); the drum
  // settles on its base pitch.
  const Row rows[] = {
      {0, 220.0f, 220.0, 10000},   {0, 261.63f, 262.0, 10000},   {0, 1000.3f, 1000.0, 10000},
      {1, 220.5f, 220.5, 2000},    {1, 441.0f, 441.0, 2000},     {1, 1318.5f, 1318.5, 2000},
      {2, 220.5f, 220.5, 2000},    {2, 110.25f, 110.25, 2000},   {2, 1318.5f, 1318.5, 200},
      {3, 0.0f, 110.0, 2000},
  };
  const auto engines = ToneEnginesEngines(sine, {}, {}, drum);
  for (const Row& row : rows) {
    const auto note = Render(engines[row.engine], row.hz, kToneEnginesRate);
    ASSERT_EQ(note.size(), size_t(kToneEnginesRate));
    const double measured = Pitch(note, row.from, row.from + 4000);
    EXPECT_LT(std::fabs(Cents(measured, row.expected)), 8.0)
        << engines[row.engine].name << " at " << row.hz << " Hz measured " << measured;
  }
}

TEST(ToneEnginesTest, LevelEnvelopeAndEndFollowEachEngine) {
  // Defaults at A3, 2 s: the oscillator sustains at 0.8 of full scale, the
  // string, the piano and the drum decay by themselves.
  const auto engines = ToneEnginesEngines();
  const size_t n = 2 * kToneEnginesRate, tenth = kToneEnginesRate / 10;
  for (const ToneEnginesEngine& engine : engines) {
    SCOPED_TRACE(engine.name);
    const auto note = Render(engine, 220.0f, n);
    const int peak = Peak(note, 0, n);
    EXPECT_GT(peak, 3000);
    int pinned = 0;
    for (int16_t s : note) pinned += (s == 32767 || s == -32768);
    EXPECT_LT(pinned, int(n / 100));
    const double head = Rms(note, tenth, 2 * tenth), tail = Rms(note, n - tenth, n);
    if (engine.name == "Basic") {
      EXPECT_NEAR(tail / head, 1.0, 0.05);
      EXPECT_LE(peak, int(32767 * 0.8) + 1);
    } else {
      EXPECT_LT(tail, head * 0.5);
    }
  }
}

TEST(ToneEnginesTest, ReleasesAndDecaysEndInSilence) {
  BasicWaveParams released;
  released.release = 0.5f;  // the last quarter fades out
  StringParams shortString;
  shortString.feedback = 0.95f;
  PianoParams shortPiano;
  shortPiano.decay = 0.95f;
  DrumParams drum;
  drum.noiseMix = 0.5f;
  const auto engines = ToneEnginesEngines(released, shortString, shortPiano, drum);
  const size_t n = 2 * kToneEnginesRate;
  for (const ToneEnginesEngine& engine : engines) {
    const auto note = Render(engine, 220.0f, n);
    EXPECT_LE(Peak(note, n - 20, n), 40) << engine.name;
  }
  // The fade is a line from full level to 0 over the last quarter.
  const auto note = Render(engines[0], 220.0f, n);
  EXPECT_GT(Rms(note, n * 3 / 4 - 4410, n * 3 / 4), 2.5 * Rms(note, n - 8820, n - 4410));
}

TEST(ToneEnginesTest, BasicAttackRisesFromSilence) {
  BasicWaveParams p;
  p.attack = 1.0f;  // the first half rises
  const auto note = Render(ToneEnginesEngines(p)[0], 220.0f, kToneEnginesRate);
  EXPECT_LT(Peak(note, 0, 200), 400);
  EXPECT_LT(Rms(note, 4410, 8820), 0.5 * Rms(note, kToneEnginesRate / 2, kToneEnginesRate / 2 + 4410));
}

TEST(ToneEnginesTest, SameInputsGiveTheSameSamples) {
  BasicWaveParams noisy;
  noisy.noise = 0.5f;
  noisy.shape = 6;
  for (const ToneEnginesEngine& engine : ToneEnginesEngines(noisy)) {
    EXPECT_EQ(Render(engine, 330.0f, 20000, 2, kToneEnginesRate, 1), Render(engine, 330.0f, 20000, 2, kToneEnginesRate, 777))
        << engine.name;
  }
  // Without loop exact the oscillator continues from the seed it is given.
  noisy.loopExact = false;
  const ToneEnginesEngine free = ToneEnginesEngines(noisy)[0];
  ToneWorkspace w;
  std::vector<int16_t> a(5000), b(5000);
  uint32_t seed = 5;
  free.render(seed, 330.0f, 5000, kToneEnginesRate, 1, w, a);
  free.render(seed, 330.0f, 5000, kToneEnginesRate, 1, w, b);
  EXPECT_NE(a, b);
  uint32_t again = 5;
  free.render(again, 330.0f, 5000, kToneEnginesRate, 1, w, b);
  EXPECT_EQ(a, b);
}

TEST(ToneEnginesTest, RefusedNotesLeaveNoSamples) {
  const auto engines = ToneEnginesEngines();
  struct Row {
    size_t engine;
    float hz;
    uint64_t frames;
    uint16_t channels;
  };
  const Row rows[] = {
      {1, 10.0f, kToneEnginesRate, 1},  {2, 10.0f, kToneEnginesRate, 1},  {1, NAN, kToneEnginesRate, 1},  {0, 0.0f, kToneEnginesRate, 1},
      {0, -5.0f, kToneEnginesRate, 1},  {0, 440.0f, 44, 1},    {3, 0.0f, 44, 2},    {0, 440.0f, kToneEnginesRate, 3},
      {3, 0.0f, kToneEnginesRate, 0},   {2, INFINITY, kToneEnginesRate, 2},
  };
  for (const Row& row : rows) {
    EXPECT_TRUE(Render(engines[row.engine], row.hz, row.frames, row.channels).empty())
        << engines[row.engine].name << " " << row.hz << " Hz " << row.frames << " frames";
  }
  // A span too short for the note is refused rather than overrun.
  ToneWorkspace w;
  std::vector<int16_t> small(100);
  uint32_t seed = 1;
  EXPECT_EQ(engines[0].render(seed, 440.0f, 101, kToneEnginesRate, 1, w, small), 0u);
  // The seconds form: 1 s at 44100 in two channels is 88200 samples; a
  // refusal empties the vector.
  std::vector<int16_t> out(3, 1);
  RenderPhysicalStringsSeconds(seed, 220.0f, 1.0f, kToneEnginesRate, 2, StringParams{}, out);
  EXPECT_EQ(out.size(), 88200u);
  RenderPhysicalStringsSeconds(seed, 9.0f, 1.0f, kToneEnginesRate, 2, StringParams{}, out);
  EXPECT_TRUE(out.empty());
  RenderAnalogDrumSeconds(seed, 0.001f, kToneEnginesRate, 1, DrumParams{}, out);
  EXPECT_TRUE(out.empty());
}

TEST(ToneEnginesTest, BasicLoopExactNoteJoinsItsEndToItsStart) {
  for (int shape : {0, 1, 2, 3, 4}) {
    BasicWaveParams p;
    p.shape = shape;
    p.unisonVoices = 3;
    p.secondOn = true;
    p.cutoff = 0.6f;
    p.resonance = 0.5f;
    const size_t n = 33333;  // not a whole number of 437 Hz cycles
    const auto note = Render(ToneEnginesEngines(p)[0], 437.0f, n);
    int largest = 0;
    for (size_t i = 1; i < n; ++i) largest = std::max(largest, std::abs(note[i] - note[i - 1]));
    EXPECT_LE(std::abs(note[0] - note[n - 1]), largest) << "shape " << shape;
  }
}

TEST(ToneEnginesTest, OneVoiceSitsInTheCentre) {
  BasicWaveParams p;
  p.shape = 0;
  const auto stereo = Render(ToneEnginesEngines(p)[0], 220.0f, 10000, 2);
  for (size_t i = 0; i < 10000; ++i) ASSERT_EQ(stereo[2 * i], stereo[2 * i + 1]);
  // Two drum channels carry the same samples.
  const auto drum = Render(ToneEnginesEngines()[3], 0, 10000, 2);
  for (size_t i = 0; i < 10000; ++i) ASSERT_EQ(drum[2 * i], drum[2 * i + 1]);
}

TEST(ToneEnginesTest, PhasesWrapForNotesAboveTheRate) {
  // Root 127 four octaves up: 50 kHz at a 44.1 kHz rate. A phase that lost 1
  // only once per frame would climb and pin the saw at full scale.
  BasicWaveParams p;
  p.loopExact = false;
  for (float hz : {50175.0f, 100000.0f}) {
    const auto note = Render(ToneEnginesEngines(p)[0], hz, 20000);
    int pinned = 0;
    for (int16_t s : note) pinned += (std::abs(int(s)) >= 26213);
    EXPECT_LT(pinned, 200) << hz;
  }
}

TEST(ToneEnginesTest, CountsBelowOneCountAsOne) {
  BasicWaveParams zero, one;
  zero.unisonVoices = 0;
  one.unisonVoices = 1;
  StringParams noStrings, oneString;
  noStrings.strings = -4;
  oneString.strings = 1;
  PianoParams noKeys, oneKey;
  noKeys.strings = 0;
  const auto none = ToneEnginesEngines(zero, noStrings, noKeys), single = ToneEnginesEngines(one, oneString, oneKey);
  for (size_t e = 0; e < 3; ++e) EXPECT_EQ(Render(none[e], 330, 5000), Render(single[e], 330, 5000)) << e;
}

TEST(ToneEnginesTest, ExtremeSettingsGiveBoundedNotesOfTheRightLength) {
  const float nan = NAN, inf = INFINITY;
  struct Setting {
    BasicWaveParams basic;
    StringParams strings;
    PianoParams piano;
    DrumParams drum;
  };
  std::vector<Setting> settings(5);
  // All knobs at their lowest, at their highest, and values no knob gives.
  settings[1].basic = {6, true, 5, -12, 0, 0, 0, 0, 0, 0, 1, 0, 0, true};
  settings[1].strings = {0, 0.9f, 0, 0, 1, 0, 0};
  settings[1].piano = {0, 0, 0.95f, 0, 1, 0};
  settings[1].drum = {30, 0, 0, 0, 0, 0, 0, 0, 0.8f};
  settings[2].basic = {5, true, 0, 12, 1, 1, 1, 1, 1, 1, 8, 1, 1, true};
  settings[2].strings = {1, 0.999f, 1, 1, 8, 1, 1};
  settings[2].piano = {1, 1, 0.999f, 1, 8, 1};
  settings[2].drum = {300, 1, 1, 1, 1, 1, 1, 1, 0.8f};
  settings[3].basic = {99, true, -3, nan, inf, -inf, 1e30f, nan, inf, -2, 1000, inf, nan, false};
  settings[3].strings = {nan, inf, -1, inf, 1000, 1e20f, nan};
  settings[3].piano = {inf, nan, -inf, nan, 1000, inf};
  settings[3].drum = {nan, inf, -inf, nan, inf, -inf, nan, inf, nan};
  settings[4].basic = {2, true, 2, 1e6f, -3, 7, 7, -9, 1e5f, 3, -1000, -1e6f, 9, true};
  settings[4].strings = {-9, 1.5f, 0.3f, -9, 0, 1e6f, -3};
  settings[4].piano = {-9, 9, 1.5f, 0, -1000, 1e6f};
  settings[4].drum = {-300, -9, 9, 9, -2, 9, -9, -0.125f, 1e6f};
  for (const Setting& s : settings) {
    const auto engines = ToneEnginesEngines(s.basic, s.strings, s.piano, s.drum);
    for (uint32_t rate : {2000u, 44100u, 192000u}) {
      for (int root : {0, 60, 127}) {
        for (int octave = -2; octave <= 2; ++octave) {
          const float hz = MidiNoteToHz(float(root)) * std::exp2(float(octave));
          for (uint16_t channels : {1, 2}) {
            const uint64_t frames = rate / 20;
            for (size_t e = 0; e < engines.size(); ++e) {
              const auto note = Render(engines[e], hz, frames, channels, rate);
              const bool refused = (e == 1 || e == 2) && hz <= 10.0f;
              EXPECT_EQ(note.size(), refused ? 0 : frames * channels)
                  << engines[e].name << " " << hz << " Hz at " << rate;
            }
          }
        }
      }
    }
  }
}

TEST(ToneEnginesTest, AReservedWorkspaceRendersWithoutAllocating) {
  BasicWaveParams basic;
  basic.unisonVoices = 8;
  basic.secondOn = true;
  StringParams strings;
  strings.strings = 8;
  PianoParams piano;
  piano.strings = 8;
  const auto engines = ToneEnginesEngines(basic, strings, piano);
  ToneWorkspace w;
  w.Reserve(kToneEnginesRate, 8, 10.0f);
  std::vector<int16_t> out(2 * 4096);
  for (const ToneEnginesEngine& engine : engines) {
    for (float hz : {10.5f, 220.0f, 3000.0f}) {
      uint32_t seed = 1;
      g_allocations = 0;
      g_counting = true;
      const size_t written = engine.render(seed, hz, 4096, kToneEnginesRate, 2, w, out);
      g_counting = false;
      EXPECT_EQ(written, out.size());
      EXPECT_EQ(g_allocations.load(), 0) << engine.name << " at " << hz;
    }
  }
}

}  // namespace
}  // namespace zandrel
