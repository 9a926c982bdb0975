#include "sound_design/micro_synth.h"
#include "support/comma_locale.h"
#include "support/pcm_measures.h"
#include "widgets/model/knob_panel_model.h"

#include <gmock/gmock.h>

#include <cmath>
#include <limits>
#include <set>

namespace zandrel {
namespace {

const std::map<int, SynthEngine>& Table() {
  static const std::map<int, SynthEngine> table = BuildSynthEngines();
  return table;
}

SynthKnobValues Defaults(int engine) { return DefaultKnobValues(Table().at(engine)); }

// Rising zero crossings per second of the first channel: the pitch of a
// plain periodic note.
double CrossingsPerSecond(const std::vector<int16_t>& pcm, uint16_t channels, uint32_t rate) {
  const size_t frames = pcm.size() / channels;
  int crossings = 0;
  for (size_t i = 1; i < frames; ++i)
    if (pcm[(i - 1) * channels] < 0 && pcm[i * channels] >= 0) ++crossings;
  return crossings * static_cast<double>(rate) / static_cast<double>(frames);
}

TEST(SynthEngineTable, NineEnginesWithTheirKnobCountsAndMixLast) {
  const std::vector<std::tuple<int, std::string, size_t>> expected = {
      {0, "Basic Waveform", 11},   {1, "Physical Strings", 9}, {2, "Physical Piano", 7},
      {3, "Analog Drum", 9},       {4, "Metallic Cymbal", 5},  {5, "Flute / Woodwind", 15},
      {7, "Violin / Bowed", 9},    {8, "Voice 2 / Formant", 12}, {9, "Brass / Trumpet", 13}};
  ASSERT_EQ(Table().size(), expected.size());
  size_t rows = 0;
  for (const auto& [index, name, count] : expected) {
    SCOPED_TRACE(name);
    const SynthEngine& engine = Table().at(index);
    EXPECT_EQ(engine.name, name);
    ASSERT_EQ(engine.knobs.size(), count);
    EXPECT_EQ(engine.knobs.back().id, kSynthMixId);
    EXPECT_EQ(engine.knobs.back().label, "Mix");
    std::set<int> ids;
    for (const KnobParam& p : engine.knobs) {
      EXPECT_TRUE(ids.insert(p.id).second) << "duplicate id " << p.id;
      if (p.items.empty()) {
        EXPECT_GE(p.defaultValue, p.minimum) << p.label;
        EXPECT_LE(p.defaultValue, p.maximum) << p.label;
      }
    }
    const bool hasOctave = index != kEngineDrum && index != kEngineCymbal;
    EXPECT_EQ(engine.knobs.front().label == "Octave", hasOctave);
    rows += engine.knobs.size();
  }
  EXPECT_EQ(rows, 90u);
  EXPECT_FALSE(Table().count(6));
}

TEST(SynthEngineTable, SelectorsStartOnTheirThirdChoice) {
  for (const auto& [index, engine] : Table()) {
    const SynthKnobValues knobs = DefaultKnobValues(engine);
    if (index != kEngineDrum && index != kEngineCymbal) {
      EXPECT_EQ(knobs.Selection(kSynthOctaveId), 2) << engine.name;
    }
  }
  const KnobParam& waveform = Table().at(kEngineBasic).knobs[1];
  EXPECT_FLOAT_EQ(waveform.defaultValue, 2.5f / 7.0f);
  EXPECT_EQ(waveform.items[static_cast<size_t>(Defaults(kEngineBasic).Selection(kSynthWaveformId))].label, "Saw");
  KnobParam two;
  two.items = {{"a", 0}, {"b", 0}};
  DefaultToThirdChoice(two);
  EXPECT_EQ(two.defaultValue, 0.0f);
}

TEST(SynthMapping, OctaveChoicesScaleTheRootNote) {
  struct Case {
    int engine;
    int root;
    int octave;  // selector index; -1 leaves the table's default
    float hz;
  };
  const Case cases[] = {
      {kEngineBasic, 69, 2, 440.0f},  {kEngineBasic, 69, 0, 110.0f},   {kEngineBasic, 69, 4, 1760.0f},
      {kEngineFlute, 69, 2, 440.0f},  {kEngineStrings, 81, 1, 440.0f}, {kEngineBrass, 57, 3, 440.0f},
      {kEngineBowed, 60, -1, 261.6256f},
  };
  for (const Case& c : cases) {
    SynthKnobValues knobs = Defaults(c.engine);
    if (c.octave >= 0) knobs.selections[kSynthOctaveId] = c.octave;
    EXPECT_NEAR(SynthFrequency(knobs, c.root), c.hz, c.hz * 1e-5) << c.engine << " root " << c.root;
  }
  // Without the knob the factor is 1; an "Octave" that is no selector gives 1/8.
  SynthKnobValues none;
  EXPECT_FLOAT_EQ(SynthFrequency(none, 69), 440.0f);
  none.values[kSynthOctaveId] = 0.5f;
  EXPECT_FLOAT_EQ(SynthFrequency(none, 69), 55.0f);
}

TEST(SynthMapping, RootNoteSixtyNinePlaysFourHundredForty) {
  SynthKnobValues knobs = Defaults(kEngineBasic);
  knobs.selections[kSynthWaveformId] = 0;  // sine
  SynthStates states;
  std::vector<int16_t> out;
  for (const auto& [octave, hz] : {std::pair{0, 110.0}, {2, 440.0}, {4, 1760.0}}) {
    knobs.selections[kSynthOctaveId] = octave;
    ASSERT_FALSE(RenderSynth(kEngineBasic, knobs, 69, 44100, 1, 44100, states, out).refused);
    EXPECT_NEAR(CrossingsPerSecond(out, 1, 44100), hz, 1.0);
  }
}

TEST(SynthMapping, ParameterBlocksFromTheDefaultKnobs) {
  const BasicWaveParams basic = MapBasicWaveParams(Defaults(kEngineBasic));
  EXPECT_EQ(basic.shape, 2);
  EXPECT_FALSE(basic.secondOn);
  EXPECT_EQ(basic.unisonVoices, 1);
  EXPECT_FLOAT_EQ(basic.cutoff, 1.0f);
  EXPECT_TRUE(basic.loopExact);
  EXPECT_FLOAT_EQ(MapStringParams(Defaults(kEngineStrings)).feedback, 0.8f * 0.099f + 0.9f);
  EXPECT_FLOAT_EQ(MapStringParams(Defaults(kEngineStrings)).damping, 1.0f - 0.8f);
  EXPECT_FLOAT_EQ(MapPianoParams(Defaults(kEnginePiano)).decay, 0.8f * 0.049f + 0.95f);
  EXPECT_EQ(MapPianoParams(Defaults(kEnginePiano)).strings, 2);
  const DrumParams drum = MapDrumParams(Defaults(kEngineDrum));
  EXPECT_FLOAT_EQ(drum.basePitch, 55.0f);
  EXPECT_FLOAT_EQ(drum.snap, 0.2f);
  EXPECT_FLOAT_EQ(drum.gain, 0.8f);
  const BowedParams bowed = MapBowedParams(Defaults(kEngineBowed));
  EXPECT_FLOAT_EQ(bowed.bowSpeed, 0.28f * 0.33f + 0.05f);
  EXPECT_FLOAT_EQ(bowed.bowPosition, 0.35f * 0.45f + 0.05f);
  EXPECT_FLOAT_EQ(bowed.release, bowed.attack + 0.1f);
  EXPECT_FLOAT_EQ(MapFluteParams(Defaults(kEngineFlute)).darkness, 1.0f - 0.5f);
  EXPECT_FLOAT_EQ(MapFluteParams(Defaults(kEngineFlute)).airLoss, 0.15f);
  EXPECT_FLOAT_EQ(MapVoiceParams(Defaults(kEngineVoice)).breath, 0.2f * 0.2f);
  EXPECT_FLOAT_EQ(MapBrassParams(Defaults(kEngineBrass)).vibratoSpeed, 5.0f);
  EXPECT_FLOAT_EQ(MapCymbalParams(Defaults(kEngineCymbal)).attack, 0.0f);
}

TEST(SynthMapping, KnobCasesOfTheBasicWaveform) {
  struct Case {
    int id;
    float value;
    float cutoff;
    int voices;
    bool second;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {8, 0.0f, 0.001f, 1, false},   // Cutoff 0: a 20 Hz low-pass, not none
      {8, 0.0005f, 0.001f, 1, false},
      {8, 0.25f, 0.25f, 1, false},
      {8, nan, 0.001f, 1, false},    // not finite: 0
      {4, 3.9f, 1.0f, 3, false},     // Unison truncates
      {4, 0.0f, 1.0f, 1, false},     // below 1 counts as 1
      {4, inf, 1.0f, 1, false},      // not finite: 0, then 1
      {4, 1e30f, 1.0f, kMaxToneVoices, false},
      {3, 0.01f, 1.0f, 1, false},    // |Detune| must exceed 0.01
      {3, -0.2f, 1.0f, 1, true},
  };
  for (const Case& c : cases) {
    SynthKnobValues knobs = Defaults(kEngineBasic);
    knobs.values[c.id] = c.value;
    const BasicWaveParams p = MapBasicWaveParams(knobs);
    EXPECT_FLOAT_EQ(p.cutoff, c.cutoff) << c.id << " = " << c.value;
    EXPECT_EQ(p.unisonVoices, c.voices) << c.id << " = " << c.value;
    EXPECT_EQ(p.secondOn, c.second) << c.id << " = " << c.value;
    if (c.second) {
      EXPECT_EQ(p.secondShape, p.shape);
    }
  }
  SynthKnobValues knobs = Defaults(kEngineBasic);
  for (const auto& [index, shape] : {std::pair{0, 0}, {1, 1}, {2, 2}, {3, 3}, {6, 6}, {7, 2}, {-5, 2}}) {
    knobs.selections[kSynthWaveformId] = index;
    EXPECT_EQ(MapBasicWaveParams(knobs).shape, index < 0 ? 2 : shape) << index;
  }
}

TEST(SynthMapping, DrumIgnoresTheRootNote) {
  SynthStates states;
  std::vector<int16_t> low, high;
  RenderSynth(kEngineDrum, Defaults(kEngineDrum), 0, 44100, 1, 4410, states, low);
  RenderSynth(kEngineDrum, Defaults(kEngineDrum), 127, 44100, 1, 4410, states, high);
  EXPECT_EQ(low, high);
  EXPECT_EQ(low.size(), 4410u);
}

// The strings' "Fine Tune" moves the note by its value in semitones.
TEST(SynthRender, StringsFineTuneIsInSemitones) {
  const uint32_t rate = 44100;
  const uint64_t frames = 22050;
  auto pitch = [&](float fineTune, float* asked) {
    SynthKnobValues knobs = Defaults(kEngineStrings);
    knobs.values[3] = fineTune;
    SynthStates states;
    std::vector<int16_t> out;
    const SynthRenderResult r = RenderSynth(kEngineStrings, knobs, 57, rate, 1, frames, states, out);
    EXPECT_FALSE(r.refused);
    *asked = r.note.frequency;
    return test::MonoPitch(out, 2205, 6615, rate);
  };
  float askedFlat = 0, askedUp = 0, askedDown = 0;
  const double flat = pitch(0.0f, &askedFlat);
  const double up = pitch(0.5f, &askedUp);
  const double down = pitch(-0.5f, &askedDown);
  EXPECT_NEAR(askedFlat, 220.0f, 0.01f);
  EXPECT_NEAR(askedUp, 220.0f * std::exp2(0.5f / 12.0f), 0.01f);
  EXPECT_NEAR(askedDown, 220.0f * std::exp2(-0.5f / 12.0f), 0.01f);
  // Heard: a quarter to three quarters of a semitone each way (the delay line
  // rounds the period to whole samples).
  ASSERT_GT(flat, 0.0);
  EXPECT_NEAR(12.0 * std::log2(up / flat), 0.5, 0.25);
  EXPECT_NEAR(12.0 * std::log2(down / flat), -0.5, 0.25);
}

// The note covers every frame of the loop, also for the loop lengths whose
// float seconds x rate truncates one frame short.
TEST(SynthRender, NoteIsExactlyAsLongAsTheLoop) {
  const uint32_t rate = 44100;
  uint64_t shortOne = 0;
  for (uint64_t n = 1000; n < 200000 && !shortOne; ++n)
    if (FramesForSeconds(static_cast<float>(n) / static_cast<float>(rate), rate) != n) shortOne = n;
  ASSERT_NE(shortOne, 0u) << "no loop length loses a frame in seconds";
  SynthStates states;
  for (const uint64_t frames : {uint64_t{44100}, shortOne}) {
    for (const uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
      std::vector<int16_t> out;
      const SynthRenderResult r = RenderSynth(kEngineBasic, Defaults(kEngineBasic), 60, rate, channels, frames,
                                              states, out);
      ASSERT_FALSE(r.refused);
      EXPECT_EQ(out.size(), frames * channels);
      EXPECT_FLOAT_EQ(r.note.seconds, static_cast<float>(frames) / rate);
      // The last frame carries the note too (no click at the wrap).
      EXPECT_NE(out[out.size() - 1], 0);
    }
  }
}

// With loop exact the note's end runs into its start no harder than it moves
// inside itself.
TEST(SynthRender, BasicLoopSeamIsNoLargerThanAStepInside) {
  SynthStates states;
  for (const int waveform : {0, 1, 2, 3}) {
    for (const uint64_t frames : {uint64_t{22057}, uint64_t{30001}}) {
      SynthKnobValues knobs = Defaults(kEngineBasic);
      knobs.selections[kSynthWaveformId] = waveform;
      knobs.values[8] = 0.6f;  // some filtering, whose state must settle
      std::vector<int16_t> out;
      ASSERT_FALSE(RenderSynth(kEngineBasic, knobs, 57, 44100, 1, frames, states, out).refused);
      int inside = 0;
      for (size_t i = 1; i < out.size(); ++i) inside = std::max(inside, std::abs(out[i] - out[i - 1]));
      const int seam = std::abs(out.front() - out.back());
      EXPECT_LE(seam, inside) << "waveform " << waveform << ", " << frames << " frames";
      EXPECT_GT(inside, 0);
    }
  }
}

// Each knob at its minimum, default and maximum, the others at their
// defaults, over roots, octaves, rates and channel counts: the note has the
// loop's length, or the engine refuses exactly where its range ends; and the
// note is a note, not a rail.
TEST(SynthRender, KnobCornersGiveTheLengthOrARefusal) {
  const int roots[] = {0, 60, 127};
  const uint32_t rates[] = {2000, 8000, 44100, 192000};
  SynthStates states;
  std::vector<int16_t> out;
  for (const auto& [index, engine] : Table()) {
    const bool hasOctave = engine.knobs.front().id == kSynthOctaveId;
    for (const KnobParam& knob : engine.knobs) {
      if (!knob.items.empty()) continue;  // selectors are walked through below
      for (const float value : {knob.minimum, knob.defaultValue, knob.maximum}) {
        for (const int root : roots) {
          for (int octave = 0; octave < (hasOctave ? 5 : 1); ++octave) {
            for (const uint32_t rate : rates) {
              for (const uint16_t channels : {uint16_t{1}, uint16_t{2}}) {
                SynthKnobValues knobs = DefaultKnobValues(engine);
                knobs.values[knob.id] = value;
                if (hasOctave) knobs.selections[kSynthOctaveId] = octave;
                const uint64_t frames = rate / 20;
                const SynthRenderResult r = RenderSynth(index, knobs, root, rate, channels, frames, states, out);
                const float f = r.note.frequency;
                bool refuses = false;
                if (index == kEngineStrings || index == kEnginePiano) refuses = f <= 10.0f;
                if (index == kEngineBowed) refuses = f < 20.0f || f > 10000.0f;
                const auto trace = engine.name + " " + knob.label + "=" + std::to_string(value) + " root " +
                                   std::to_string(root) + " octave " + std::to_string(octave) + " rate " +
                                   std::to_string(rate) + " ch " + std::to_string(channels);
                ASSERT_EQ(r.refused, refuses) << trace;
                if (refuses) {
                  ASSERT_TRUE(out.empty()) << trace;
                  continue;
                }
                ASSERT_EQ(out.size(), frames * channels) << trace;
                size_t railed = 0;
                for (const int16_t s : out) railed += (s == 32767 || s == -32768);
                ASSERT_LT(railed, out.size() / 2) << trace;
              }
            }
          }
        }
      }
    }
  }
}

TEST(SynthRender, RefusalSaysWhichNoteCannotBePlayed) {
  SynthStates states;
  std::vector<int16_t> out = {1, 2, 3};
  SynthKnobValues knobs = Defaults(kEngineStrings);
  knobs.selections[kSynthOctaveId] = 0;  // root 24 two octaves down: 8.2 Hz
  const SynthRenderResult r = RenderSynth(kEngineStrings, knobs, 24, 44100, 1, 22050, states, out);
  EXPECT_TRUE(r.refused);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(SynthRefusalText("Physical Strings", r.note),
            "The Physical Strings engine cannot play this note (8.2 Hz, 0.500 s).");
  EXPECT_TRUE(RenderSynth(kEngineBasic, Defaults(kEngineBasic), 60, 44100, 3, 100, states, out).refused);
  EXPECT_TRUE(RenderSynth(kEngineBasic, Defaults(kEngineBasic), 60, 44100, 1, 44, states, out).refused);
}

TEST(SynthRender, RefusalTextKeepsItsPointsUnderACommaLocale) {
  test::ScopedCommaLocale comma;
  SynthNote note;
  note.frequency = 2.0f;
  note.frames = 5512;
  note.seconds = 0.125f;
  EXPECT_EQ(SynthRefusalText("Basic Synth", note), "The Basic Synth engine cannot play this note (2.0 Hz, 0.125 s).");
}

TEST(SynthRender, EqualInputsGiveEqualSamples) {
  for (const int engine : {kEngineBasic, kEngineStrings, kEnginePiano, kEngineDrum}) {
    SynthStates a, b;
    std::vector<int16_t> first, second, again;
    RenderSynth(engine, Defaults(engine), 60, 44100, 2, 8000, a, first);
    RenderSynth(engine, Defaults(engine), 60, 44100, 2, 8000, b, second);
    RenderSynth(engine, Defaults(engine), 60, 44100, 2, 8000, a, again);
    EXPECT_EQ(first, second) << engine;
    EXPECT_EQ(first, again) << engine;
  }
}

TEST(SynthRender, TheProbeRefusesExactlyWhatTheEnginesRefuse) {
  // Every engine over notes from 1 Hz to far above the bowed string's
  // range, lengths around the 1 ms limit, channel counts and rates.
  const int roots[] = {0, 12, 24, 60, 127, 200};
  const uint64_t lengths[] = {0, 1, 44, 45, 2000};
  int refusals = 0, plays = 0;
  for (const auto& [engine, table] : Table()) {
    for (int octave = 0; octave < 5; ++octave) {
      SynthKnobValues knobs = Defaults(engine);
      if (knobs.Selection(kSynthOctaveId) >= 0) knobs.selections[kSynthOctaveId] = octave;
      for (int root : roots)
        for (uint64_t frames : lengths)
          for (uint16_t channels : {0, 1, 2, 3})
            for (uint32_t rate : {0u, 44100u}) {
              SynthStates states;
              std::vector<int16_t> out;
              const SynthRenderResult rendered = RenderSynth(engine, knobs, root, rate, channels, frames, states, out);
              const SynthRenderResult probed = ProbeSynth(engine, knobs, root, rate, channels, frames);
              ASSERT_EQ(probed.refused, rendered.refused)
                  << table.name << " root " << root << " octave " << octave << " frames " << frames << " channels "
                  << channels << " rate " << rate;
              EXPECT_EQ(probed.note.frequency, rendered.note.frequency);
              (rendered.refused ? refusals : plays)++;
            }
    }
  }
  EXPECT_GT(refusals, 100);
  EXPECT_GT(plays, 100);
}

TEST(SynthRender, ALongNoteReportsAsItRendersAndStopsWhenTold) {
  const uint64_t frames = 441000;  // ten seconds
  for (const auto& [engine, table] : Table()) {
    const SynthKnobValues knobs = Defaults(engine);
    SynthStates states;
    std::vector<int16_t> out;
    std::vector<double> seen;
    const SynthRenderResult done = RenderSynth(engine, knobs, 60, 44100, 2, frames, states, out, [&](double f) {
      seen.push_back(f);
      return true;
    });
    ASSERT_FALSE(done.refused) << table.name;
    EXPECT_FALSE(done.cancelled);
    EXPECT_EQ(out.size(), 2 * frames);
    ASSERT_GE(seen.size(), 40u) << table.name;
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_LT(seen[i] - seen[i - 1], 0.05) << table.name;

    int after = 0;
    const SynthRenderResult stopped = RenderSynth(engine, knobs, 60, 44100, 2, frames, states, out, [&](double f) {
      if (f >= 0.5) ++after;
      return f < 0.5;
    });
    EXPECT_TRUE(stopped.cancelled) << table.name;
    EXPECT_FALSE(stopped.refused);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(after, 1);
  }
}

TEST(MixSynthWithSource, TheMixRule) {
  struct Case {
    std::vector<int16_t> source;
    std::vector<int16_t> synth;
    float mix;
    std::vector<int16_t> out;
  };
  const Case cases[] = {
      {{3}, {0}, 0.5f, {1}},                       // truncated toward zero
      {{-3}, {0}, 0.5f, {-1}},
      {{1000, 2000}, {3000, -2000}, 0.0f, {1000, 2000}},
      {{1000, 2000}, {3000, -2000}, 1.0f, {3000, -2000}},
      {{100, 100, 100}, {300}, 0.5f, {200, 50, 50}},  // a missing synth sample is 0
      {{100}, {300, 300}, 0.5f, {200, 150}},          // ... and a missing source sample
      {{32767}, {32767}, 1.5f, {32767}},              // held to 16 bits
      {{-32768}, {32767}, -1.0f, {-32768}},
  };
  for (const Case& c : cases) {
    std::vector<int16_t> out = {9, 9, 9, 9};
    MixSynthWithSource(c.source, c.synth, c.mix, out);
    EXPECT_EQ(out, c.out) << "mix " << c.mix;
  }
  std::vector<int16_t> untouched = {7, 7};
  MixSynthWithSource({}, {}, 0.5f, untouched);
  EXPECT_EQ(untouched, (std::vector<int16_t>{7, 7}));
}

TEST(EngineSettings, FileNamesLoseSpacesAndPathCharacters) {
  EXPECT_EQ(EngineIniFileName("Flute / Woodwind"), "Settings_FluteWoodwind.ini");
  EXPECT_EQ(EngineIniFileName("Voice 2 / Formant"), "Settings_Voice2Formant.ini");
  EXPECT_EQ(EngineIniFileName("Basic Waveform"), "Settings_BasicWaveform.ini");
  EXPECT_EQ(EngineIniFileName("a\\b:c*d?e<f>g\"h"), "Settings_abcdefgh.ini");
}

// The settings text of an engine through the knob panel's model, as the
// dialog writes and reads it.
class EngineSettingsText : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const KnobParam& p : Table().at(kEngineBasic).knobs) {
      model.params[p.id] = p;
      model.order.push_back(p.id);
      model.knobs[p.id] = model.CreateKnob(p, 0xF0F0F0);
    }
  }
  int Waveform() const { return model.FindKnob(kSynthWaveformId)->GetSelectedIndex(); }
  KnobPanelModel model;
};

TEST_F(EngineSettingsText, DefaultsAreWrittenOneLinePerKnob) {
  EXPECT_EQ(model.SaveText(),
            "Octave: Octave +0\nWaveform: Saw\nDetune: 0.000000\nNoise: 0.000000\nAttack: 0.000000\n"
            "Release: 0.000000\nCutoff: 1.000000\nResonance: 0.000000\nUnison: 1.000000\nSpread: 0.500000\n"
            "Mix: 0.500000\n");
}

TEST_F(EngineSettingsText, LinesAreReadIgnoringCase) {
  model.LoadTextIgnoringCase("Waveform: square\ncutoff: 0.250000\nNo Such Knob: 3\n");
  EXPECT_EQ(Waveform(), 3);
  EXPECT_FLOAT_EQ(model.GetValue(8), 0.25f);
  EXPECT_THAT(model.SaveText(), ::testing::HasSubstr("Waveform: Square\n"));
  EXPECT_THAT(model.SaveText(), ::testing::HasSubstr("Cutoff: 0.250000\n"));
}

TEST_F(EngineSettingsText, AnUnknownChoiceLeavesTheSelectorOnItsLast) {
  model.LoadTextIgnoringCase("Waveform: Chirp\n");
  EXPECT_EQ(model.FindKnob(kSynthWaveformId)->GetSelectedLabel(), "Noise");
  // The other presets keep the selector where it was.
  model.FindKnob(kSynthWaveformId)->SetSelectedIndex(2);
  model.LoadText("Waveform: Chirp\n");
  EXPECT_EQ(Waveform(), 2);
}

}  // namespace
}  // namespace zandrel
