// The cymbal, flute, bowed string, formant voice and brass engines: length
// and refusals, pitch, level, carried state, and the conditions that once
// made them click, blow up or read outside their lines.
#include "sound_design/modelled_engines.h"

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

constexpr uint32_t kRate = 44100;

// Every engine behind one signature with a fresh state per call unless the
// caller hands one in, so the properties below run as tables.
struct States {
  FluteVoiceState flute;
  FormantVoiceState voice;
  BrassVoiceState brass;
  ToneWorkspace workspace;
};

struct Engine {
  std::string name;
  std::function<size_t(States&, float hz, uint64_t frames, uint32_t rate, uint16_t channels, std::span<int16_t>)>
      render;
};

std::vector<Engine> Engines(CymbalParams cymbal = {}, FluteParams flute = {}, BowedParams bowed = {},
                            VoiceParams voice = {}, BrassParams brass = {}) {
  return {
      {"Cymbal", [=](States&, float, uint64_t n, uint32_t rate, uint16_t ch, std::span<int16_t> out) {
         return RenderMetallicCymbal(n, rate, ch, cymbal, out);
       }},
      {"Flute", [=](States& s, float hz, uint64_t n, uint32_t rate, uint16_t ch, std::span<int16_t> out) {
         return RenderFluteNote(s.flute, hz, n, rate, ch, flute, out);
       }},
      {"Bowed", [=](States& s, float hz, uint64_t n, uint32_t rate, uint16_t ch, std::span<int16_t> out) {
         return RenderBowedString(hz, n, rate, ch, bowed, s.workspace, out);
       }},
      {"Voice", [=](States& s, float hz, uint64_t n, uint32_t rate, uint16_t ch, std::span<int16_t> out) {
         return RenderFormantVoice(s.voice, hz, n, rate, ch, voice, out);
       }},
      {"Brass", [=](States& s, float hz, uint64_t n, uint32_t rate, uint16_t ch, std::span<int16_t> out) {
         return RenderBrass(s.brass, hz, n, rate, ch, brass, out);
       }},
  };
}

std::vector<int16_t> Render(const Engine& engine, float hz, uint64_t frames, uint16_t channels, uint32_t rate,
                            States& states) {
  std::vector<int16_t> out(ToneSamples(frames, channels));
  out.resize(engine.render(states, hz, frames, rate, channels, out));
  return out;
}

std::vector<int16_t> Render(const Engine& engine, float hz, uint64_t frames, uint16_t channels = 1,
                            uint32_t rate = kRate) {
  States fresh;
  return Render(engine, hz, frames, channels, rate, fresh);
}

double Pitch(const std::vector<int16_t>& mono, int64_t start, int64_t end, uint32_t rate = kRate) {
  return test::MonoPitch(mono, start, end, rate);
}
using test::Cents;
using test::Peak;
using test::Rms;

int Pinned(const std::vector<int16_t>& x) {
  int pinned = 0;
  for (int16_t s : x) pinned += (s >= 32767 || s <= -32768);
  return pinned;
}

TEST(ModelledEnginesTest, FiltersPassTheirCentreAtTheirGain) {
  struct Row {
    float centre;
    float gain;  // expected amplitude of a sine at the centre
    bool peaking;
  };
  const Row rows[] = {{1200.0f, 2.0f, true}, {2400.0f, 1.5f, true}, {1000.0f, 1.0f, false}, {300.0f, 1.0f, false}};
  for (const Row& row : rows) {
    BiquadState state;
    float peak = 0;
    for (int i = 0; i < 20000; ++i) {
      const float x = 0.5f * std::sin(2.0f * float(M_PI) * row.centre * float(i) / kRate);
      const float y = row.peaking ? PeakingEqStep(x, row.centre, 0.7f, row.gain, kRate, state)
                                  : BandPassStep(x, row.centre, 4.0f, kRate, state);
      if (i > 15000) peak = std::max(peak, std::fabs(y));
    }
    EXPECT_NEAR(peak, 0.5f * row.gain, 0.01f) << row.centre << (row.peaking ? " peaking" : " band-pass");
  }
  // Far from its centre the band-pass lets little through.
  BiquadState state;
  float peak = 0;
  for (int i = 0; i < 20000; ++i) {
    const float y = BandPassStep(std::sin(2.0f * float(M_PI) * 5000.0f * float(i) / kRate), 300.0f, 4.0f, kRate, state);
    if (i > 15000) peak = std::max(peak, std::fabs(y));
  }
  EXPECT_LT(peak, 0.05f);
}

TEST(ModelledEnginesTest, VowelPositionsBlendTheTable) {
  struct Row {
    float vowel, gender;
    Formants expected;
  };
  const Row rows[] = {
      {0.0f, 1.0f, {{730, 1090, 2440}, {1.0f, 0.5f, 0.2f}}},
      {0.125f, 1.0f, {{630, 1465, 2460}, {1.0f, 0.45f, 0.2f}}},
      {0.125f, 2.0f, {{1260, 2930, 4920}, {1.0f, 0.45f, 0.2f}}},
      {0.125f, 0.5f, {{315, 732.5f, 1230}, {1.0f, 0.45f, 0.2f}}},
      {1.0f, 1.0f, {{300, 870, 2240}, {1.0f, 0.5f, 0.1f}}},
      {7.0f, 1.0f, {{300, 870, 2240}, {1.0f, 0.5f, 0.1f}}},  // held at the last vowel
      {-1.0f, 1.0f, {{730, 1090, 2440}, {1.0f, 0.5f, 0.2f}}},
  };
  for (const Row& row : rows) {
    const Formants f = VowelFormants(row.vowel, row.gender);
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(f.frequency[k], row.expected.frequency[k], 0.01f) << row.vowel << " x " << row.gender;
      EXPECT_NEAR(f.amplitude[k], row.expected.amplitude[k], 1e-6f) << row.vowel;
    }
  }
}

TEST(ModelledEnginesTest, NotesFillChannelsTimesFramesWithEqualChannels) {
  for (const Engine& engine : Engines()) {
    for (uint64_t frames : {uint64_t(45), uint64_t(199), uint64_t(12345)}) {
      const auto mono = Render(engine, 440.0f, frames, 1);
      const auto stereo = Render(engine, 440.0f, frames, 2);
      ASSERT_EQ(mono.size(), frames) << engine.name;
      ASSERT_EQ(stereo.size(), 2 * frames) << engine.name;
      for (uint64_t i = 0; i < frames; ++i) {
        ASSERT_EQ(stereo[2 * i], stereo[2 * i + 1]) << engine.name << " frame " << i;
        ASSERT_EQ(stereo[2 * i], mono[i]) << engine.name << " frame " << i;
      }
    }
  }
}

TEST(ModelledEnginesTest, RefusedNotesLeaveNoSamples) {
  const auto engines = Engines();
  struct Row {
    size_t engine;  // 0 cymbal .. 4 brass
    float hz;
    uint64_t frames;
    uint16_t channels;
    uint32_t rate;
  };
  const Row rows[] = {
      {2, 19.9f, kRate, 1, kRate},   {2, 10000.5f, kRate, 1, kRate}, {2, NAN, kRate, 1, kRate},
      {0, 0.0f, 44, 1, kRate},       {1, 440.0f, 44, 2, kRate},      {3, 440.0f, 44, 1, kRate},
      {4, 440.0f, 44, 1, kRate},     {1, 440.0f, kRate, 3, kRate},   {4, 440.0f, kRate, 0, kRate},
      {3, 440.0f, 1000, 1, 0},       {2, 440.0f, 0, 1, kRate},
  };
  for (const Row& row : rows) {
    EXPECT_TRUE(Render(engines[row.engine], row.hz, row.frames, row.channels, row.rate).empty())
        << engines[row.engine].name << " " << row.hz << " Hz " << row.frames << " frames";
  }
  // The bowed string's range is inclusive at both ends.
  EXPECT_EQ(Render(engines[2], 20.0f, 1000).size(), 1000u);
  EXPECT_EQ(Render(engines[2], 10000.0f, 1000).size(), 1000u);
  // A span too short for the note is refused rather than overrun.
  States s;
  std::vector<int16_t> small(100);
  for (const Engine& engine : engines) EXPECT_EQ(engine.render(s, 440.0f, 101, kRate, 1, small), 0u) << engine.name;
  // The seconds forms take trunc(float seconds x rate) frames and empty the
  // vector on a refusal.
  std::vector<int16_t> out(3, 1);
  FluteVoiceState flute;
  RenderFluteNoteSeconds(flute, 440.0f, 0.3f, kRate, 2, FluteParams{}, out);
  EXPECT_EQ(out.size(), 2 * FramesForSeconds(0.3f, kRate));
  EXPECT_EQ(out.size(), 26460u);
  RenderBowedStringSeconds(5.0f, 1.0f, kRate, 1, BowedParams{}, out);
  EXPECT_TRUE(out.empty());
  RenderMetallicCymbalSeconds(0.25f, 8000, 1, CymbalParams{}, out);
  EXPECT_EQ(out.size(), 2000u);
  BrassVoiceState brass;
  RenderBrassSeconds(brass, 440.0f, 0.001f, kRate, 1, BrassParams{}, out);
  EXPECT_TRUE(out.empty());
  FormantVoiceState voice;
  RenderFormantVoiceSeconds(voice, 220.0f, 0.5f, kRate, 1, VoiceParams{}, out);
  EXPECT_EQ(out.size(), 22050u);
}

TEST(ModelledEnginesTest, EachNoteHasTheRequestedPitch) {
  FluteParams flute;
  flute.vibratoAmount = 0;
  VoiceParams voice;
  voice.vibratoDepth = 0;
  voice.jitter = 0;
  BrassParams brass;
  brass.vibratoDepth = 0;
  const auto engines = Engines({}, flute, {}, voice, brass);
  // The bowed string's loop comes to the note's period: its two lines, its
  // two smoothers and a tuning all-pass for the fraction of a frame.
  struct Row {
    size_t engine;
    float hz;
    double expected;
  };
  const Row rows[] = {
      {1, 220.0f, 220.0},  {1, 440.0f, 440.0},  {1, 987.77f, 987.77},
      {3, 110.0f, 110.0},  {3, 220.0f, 220.0},  {3, 523.25f, 523.25},
      {4, 130.81f, 130.81}, {4, 440.0f, 440.0},  {4, 880.0f, 880.0},
      {2, 196.0f, 196.0},   {2, 440.0f, 440.0},   {2, 659.26f, 659.26},
  };
  for (const Row& row : rows) {
    const auto note = Render(engines[row.engine], row.hz, kRate);
    ASSERT_EQ(note.size(), size_t(kRate));
    const double measured = Pitch(note, kRate / 2, kRate / 2 + 4000);
    EXPECT_LT(std::fabs(Cents(measured, row.expected)), 5.0)
        << engines[row.engine].name << " at " << row.hz << " Hz measured " << measured << ", expected "
        << row.expected;
  }
}

TEST(ModelledEnginesTest, LevelsStayWithinTheirBounds) {
  // Knobs at their ends: every note is audible, ends near silence and, for
  // the flute, never passes 0.95 x 28000.
  FluteParams loudFlute;
  loudFlute.growl = 1;
  loudFlute.harmonics = 1;
  loudFlute.gain = 8;
  loudFlute.air = 1;
  loudFlute.waveguideMix = 1;
  loudFlute.formant = 1;
  FluteParams quietFlute;
  quietFlute.growl = 0;
  quietFlute.darkness = 1;
  for (const FluteParams& flute : {FluteParams{}, loudFlute, quietFlute}) {
    for (float hz : {65.0f, 440.0f, 4000.0f, 30000.0f}) {
      const auto note = Render(Engines({}, flute)[1], hz, kRate / 2, 2);
      EXPECT_LE(Peak(note, 0, note.size()), 26600) << hz;
      EXPECT_GT(Peak(note, 0, note.size()), 500) << hz;
    }
  }
  for (const Engine& engine : Engines()) {
    const auto note = Render(engine, 220.0f, 2 * kRate);
    EXPECT_GT(Peak(note, 0, note.size()), 2000) << engine.name;
    EXPECT_LT(Pinned(note), int(note.size() / 100)) << engine.name;
    // The bowed string rings on after the bow leaves it; the others fade out.
    if (engine.name != "Bowed") {
      EXPECT_LT(Peak(note, note.size() - 10, note.size()), 2000) << engine.name;
    }
  }
}

TEST(ModelledEnginesTest, CymbalAttackShapesItsStart) {
  CymbalParams sudden;
  const auto a = Render(Engines(sudden)[0], 0, kRate);
  EXPECT_GT(Rms(a, 0, 2205), 0.8 * Rms(a, 2205, 4410));  // full level from the start
  CymbalParams slow;
  slow.attack = 0.5f;
  const auto b = Render(Engines(slow)[0], 0, kRate);
  // Rising linearly over the first half, then decaying.
  EXPECT_LT(Rms(b, 0, 4410), 0.3 * Rms(b, 17640, 22050));
  EXPECT_GT(Rms(b, 17640, 22050), Rms(b, 39690, 44100));
}

TEST(ModelledEnginesTest, FreshStatesRepeatAndCarriedStatesCarry) {
  for (const Engine& engine : Engines()) {
    EXPECT_EQ(Render(engine, 330.0f, 20000, 2), Render(engine, 330.0f, 20000, 2)) << engine.name;
  }
  const auto engines = Engines();
  // The formant voice resets everything per note: a used state repeats too.
  {
    States used;
    Render(engines[3], 500.0f, 5000, 1, kRate, used);
    EXPECT_EQ(Render(engines[3], 330.0f, 20000, 1, kRate, used), Render(engines[3], 330.0f, 20000));
  }
  // The flute carries its equaliser and breath filter states: a used state's
  // note differs a little at its start, and not at all once those are reset.
  {
    States used;
    Render(engines[1], 500.0f, 5000, 1, kRate, used);
    const auto carried = Render(engines[1], 330.0f, 20000, 1, kRate, used);
    const auto fresh = Render(engines[1], 330.0f, 20000);
    EXPECT_NE(carried, fresh);
    EXPECT_LT(Rms(carried, 0, 20000) / Rms(fresh, 0, 20000), 1.05);
    States reset;
    Render(engines[1], 500.0f, 5000, 1, kRate, reset);
    reset.flute.eq1 = reset.flute.eq2 = {};
    reset.flute.breath1 = reset.flute.breath2 = reset.flute.breath3 = {};
    EXPECT_EQ(Render(engines[1], 330.0f, 20000, 1, kRate, reset), fresh);
  }
  // The brass tube rings on at one tenth: the second note starts with the
  // first one's tail, and a fresh state holding the tube as the first note
  // left it plays exactly the second note.
  {
    States used;
    Render(engines[4], 220.0f, 20000, 1, kRate, used);
    States copy;
    copy.brass.tube = used.brass.tube;
    const auto carried = Render(engines[4], 330.0f, 20000, 1, kRate, used);
    const auto fresh = Render(engines[4], 330.0f, 20000);
    EXPECT_NE(carried, fresh);
    EXPECT_EQ(Render(engines[4], 330.0f, 20000, 1, kRate, copy), carried);
    // At another rate the tube is rebuilt silent.
    States other;
    Render(engines[4], 220.0f, 20000, 1, 48000, other);
    EXPECT_EQ(Render(engines[4], 330.0f, 20000, 1, kRate, other), fresh);
  }
}

TEST(ModelledEnginesTest, ReservedStatesRenderWithoutAllocating) {
  States s;
  s.flute.Reserve(kRate);
  s.brass.Reserve(kRate);
  s.workspace.Reserve(kRate, 2, 20.0f);
  std::vector<int16_t> out(2 * 4000);
  const auto engines = Engines();
  g_allocations = 0;
  g_counting = true;
  for (const Engine& engine : engines) {
    for (float hz : {20.0f, 440.0f, 10000.0f}) engine.render(s, hz, 4000, kRate, 2, out);
  }
  g_counting = false;
  EXPECT_EQ(g_allocations.load(), 0);
}

TEST(ModelledEnginesTest, BowedSoftClipIsContinuous) {
  struct Row {
    float o, expected;
  };
  const Row rows[] = {{0.0f, 0.0f},   {0.5f, 0.6875f}, {1.0f, 1.0f},  {1.0001f, 1.0f},
                      {5.0f, 1.0f},   {-1.0f, -1.0f},  {-1.5f, -1.0f}, {-0.5f, -0.6875f}};
  for (const Row& row : rows) EXPECT_FLOAT_EQ(BowedSoftClip(row.o), row.expected) << row.o;
  // A loud bow at the default knobs: neighbouring samples never jump by half
  // of full scale (14000), which the old 1 - 1 / (o + 1) branch did.
  BowedParams loud;
  loud.pressure = 1;
  for (float hz : {130.81f, 261.63f, 523.25f}) {
    const auto note = Render(Engines({}, {}, loud)[2], hz, kRate);
    int largest = 0;
    for (size_t i = 1; i < note.size(); ++i) largest = std::max(largest, std::abs(note[i] - note[i - 1]));
    EXPECT_LT(largest, 14000) << hz;
  }
}

TEST(ModelledEnginesTest, LowRatesKeepEveryFilterStable) {
  // At 2 kHz, 300 + 1000 x colour Hz and the bowed body's 450 and 1260 Hz lie
  // beyond the Nyquist limit unless held at 0.45 x rate.
  CymbalParams cymbal;
  cymbal.colour = 1;
  cymbal.decay = 1;
  BowedParams bowed;
  bowed.bodySize = 0;
  const auto engines = Engines(cymbal, {}, bowed);
  for (size_t e : {size_t(0), size_t(2)}) {
    for (uint32_t rate : {2000u, 2500u}) {
      const auto note = Render(engines[e], 100.0f, rate * 2, 1, rate);
      ASSERT_EQ(note.size(), size_t(rate * 2));
      EXPECT_LT(Pinned(note), int(note.size() / 50)) << engines[e].name << " at " << rate;
      EXPECT_GT(Peak(note, 0, note.size()), 1000) << engines[e].name << " at " << rate;
    }
  }
}

TEST(ModelledEnginesTest, PhasesWrapForIncrementsAboveOne) {
  struct Row {
    double phase, increment, expected;
  };
  const Row rows[] = {{0.5, 0.25, 0.75}, {0.5, 0.5, 0.0}, {0.5, 3.9, 0.4}, {0.9, 1.2, 0.1}, {0.1, -0.3, 0.8}};
  for (const Row& row : rows) {
    const double wrapped = AdvancePhase(row.phase, row.increment);
    EXPECT_NEAR(wrapped, row.expected, 1e-12) << row.phase << " + " << row.increment;
    EXPECT_GE(wrapped, 0.0);
    EXPECT_LT(wrapped, 1.0);
  }
  // Tone 1 and dissonance 1 at 2 kHz: the top partial moves 3.9 cycles per
  // frame. Phases that lost 1 only once per frame would climb past 0.5 for
  // good, the squares would freeze and the high-pass would leave silence.
  CymbalParams p;
  p.tone = 1;
  p.dissonance = 1;
  p.decay = 1;
  const auto note = Render(Engines(p)[0], 0, 8000, 1, 2000);
  EXPECT_GT(Rms(note, 6000, 8000), 0.3 * Rms(note, 0, 2000));
  // The brass carrier above the rate (root 127 four octaves up) stays a tone.
  BrassParams brass;
  brass.vibratoDepth = 0;
  const auto high = Render(Engines({}, {}, {}, {}, brass)[4], 50175.0f, 20000);
  EXPECT_LT(Pinned(high), 200);
}

TEST(ModelledEnginesTest, BrassBelowTwentyHertzStaysInsideItsTube) {
  // Root 36 two octaves down: 16.35 Hz asks for a delay longer than the tube.
  // The delay is held at rate / 20 and the read wrapped, so the note plays
  // out bounded and the same every time.
  BrassParams p;
  p.vibratoDepth = 0;
  for (float hz : {16.35f, 5.0f, 0.5f, -30.0f}) {
    const Engine brass = Engines({}, {}, {}, {}, p)[4];
    const auto note = Render(brass, hz, kRate);
    ASSERT_EQ(note.size(), size_t(kRate)) << hz;
    EXPECT_LT(Pinned(note), 100) << hz;
    EXPECT_EQ(note, Render(brass, hz, kRate)) << hz;
  }
  // The carrier keeps its frequency: 16.35 and 20 Hz differ.
  const Engine brass = Engines({}, {}, {}, {}, p)[4];
  EXPECT_NE(Render(brass, 16.35f, kRate), Render(brass, 20.0f, kRate));
}

TEST(ModelledEnginesTest, NonFiniteKnobsCountAsZero) {
  // Every field of every block set to NaN, one at a time: the note has its
  // length and bounded samples, and equals the note with that field at 0.
  const auto check = [](auto params, const char* name, size_t engineIndex) {
    constexpr size_t kFields = sizeof(params) / sizeof(float);
    for (size_t f = 0; f < kFields; ++f) {
      auto withNan = params;
      auto withZero = params;
      reinterpret_cast<float*>(&withNan)[f] = NAN;
      reinterpret_cast<float*>(&withZero)[f] = 0.0f;
      std::vector<Engine> a, b;
      if constexpr (std::is_same_v<decltype(params), CymbalParams>) {
        a = Engines(withNan), b = Engines(withZero);
      } else if constexpr (std::is_same_v<decltype(params), FluteParams>) {
        a = Engines({}, withNan), b = Engines({}, withZero);
      } else if constexpr (std::is_same_v<decltype(params), BowedParams>) {
        a = Engines({}, {}, withNan), b = Engines({}, {}, withZero);
      } else if constexpr (std::is_same_v<decltype(params), VoiceParams>) {
        a = Engines({}, {}, {}, withNan), b = Engines({}, {}, {}, withZero);
      } else {
        a = Engines({}, {}, {}, {}, withNan), b = Engines({}, {}, {}, {}, withZero);
      }
      const auto note = Render(a[engineIndex], 220.0f, 3000);
      EXPECT_EQ(note.size(), 3000u) << name << " field " << f;
      EXPECT_EQ(note, Render(b[engineIndex], 220.0f, 3000)) << name << " field " << f;
    }
  };
  check(CymbalParams{}, "cymbal", 0);
  check(FluteParams{}, "flute", 1);
  check(BowedParams{}, "bowed", 2);
  check(VoiceParams{}, "voice", 3);
  check(BrassParams{}, "brass", 4);
  // A non-finite frequency plays as 0 Hz where the engine accepts any.
  for (size_t e : {size_t(1), size_t(3), size_t(4)}) {
    const auto engines = Engines();
    EXPECT_EQ(Render(engines[e], INFINITY, 3000), Render(engines[e], 0.0f, 3000)) << engines[e].name;
    EXPECT_EQ(Render(engines[e], NAN, 3000), Render(engines[e], 0.0f, 3000)) << engines[e].name;
  }
}

TEST(ModelledEnginesTest, FluteHoldsItsPitchBelowTheLimitAndFadesOnlyLongNotes) {
  // A note above 0.45 x rate plays at the limit: the same as one just there.
  FluteParams p;
  p.vibratoAmount = 0;
  const Engine flute = Engines({}, p)[1];
  const auto above = Render(flute, 30000.0f, 3000);
  EXPECT_EQ(above.size(), 3000u);
  // The last 200 frames of a long note fade to silence; a short note of 150
  // frames has no fade and still sounds at its end.
  const auto note = Render(flute, 440.0f, 20000);
  EXPECT_LE(Peak(note, 19995, 20000), 600);
  FluteParams noRelease = p;
  noRelease.release = -1;  // release length 0: full level up to the end
  noRelease.swell = -1;
  const auto shortNote = Render(Engines({}, noRelease)[1], 440.0f, 150);
  EXPECT_GT(Peak(shortNote, 140, 150), 300);
}

}  // namespace
}  // namespace zandrel
