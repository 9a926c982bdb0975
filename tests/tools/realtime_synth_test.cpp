#include "tools/realtime_synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tools/kit_fixture.h"

namespace zandrel {
namespace {

using test::MakeInstrument;
using test::MakeKitAudio;
using test::MakeRegion;

// Renders |blocks| blocks of 1024 stereo frames through RenderBlock.
std::vector<int16_t> Blocks(CRealTimeSynth& synth, int blocks) {
  std::vector<int16_t> out(static_cast<size_t>(blocks) * 2048);
  for (int b = 0; b < blocks; ++b) synth.RenderBlock(out.data() + static_cast<size_t>(b) * 2048);
  return out;
}

int16_t Expected(double x) { return static_cast<int16_t>(std::clamp(x * 0.8, -1.0, 1.0) * 32767.0); }

std::vector<int16_t> Constant(size_t frames, int16_t v) { return std::vector<int16_t>(frames, v); }

// Frequency from the mean spacing of rising zero crossings of one channel.
double Frequency(const std::vector<int16_t>& out, double rate, size_t from, size_t to) {
  std::vector<size_t> ups;
  for (size_t i = from + 1; i < to; ++i)
    if (out[2 * (i - 1)] < 0 && out[2 * i] >= 0) ups.push_back(i);
  if (ups.size() < 2) return 0;
  return rate * static_cast<double>(ups.size() - 1) / static_cast<double>(ups.back() - ups.front());
}

TEST(RealTimeSynth, NoteAtTheRootReproducesTheSourceTimesPointEight) {
  std::vector<int16_t> source;
  for (int i = 0; i < 3000; ++i) source.push_back(static_cast<int16_t>((i * 97) % 60000 - 30000));
  const CWavLoader audio = MakeKitAudio(source);
  const InstrumentData inst = MakeInstrument({MakeRegion(0, 3000, 60)});
  CRealTimeSynth synth;
  synth.Bind(&audio, &inst);
  ASSERT_TRUE(synth.NoteOn(60, 127));
  const auto out = Blocks(synth, 2);
  for (size_t i = 0; i < 2048; ++i) {
    ASSERT_EQ(out[2 * i], Expected(source[i] / 32768.0)) << i;
    ASSERT_EQ(out[2 * i + 1], out[2 * i]) << i;  // a mono source feeds both sides
  }
}

TEST(RealTimeSynth, IncrementsTable) {
  struct Case {
    uint32_t sourceRate;
    int note, root;
    double outputRate;
    double hz;  // of a 441 Hz source sine
  };
  const Case cases[] = {
      {44100, 72, 60, 44100, 882},     // an octave up
      {44100, 48, 60, 44100, 220.5},   // an octave down
      {22050, 60, 60, 44100, 441},     // increment 0.5: the source's own pitch
      {44100, 67, 60, 48000, 441 * std::pow(2.0, 7 / 12.0)},
  };
  for (const Case& c : cases) {
    const CWavLoader audio = MakeKitAudio(test::Sine(c.sourceRate * 2, 441, c.sourceRate, 0.5), 1, c.sourceRate);
    const InstrumentData inst = MakeInstrument({MakeRegion(0, c.sourceRate * 2, c.root)});
    CRealTimeSynth synth;
    synth.Bind(&audio, &inst, c.outputRate);
    synth.NoteOn(c.note, 127);
    const auto out = Blocks(synth, 8);
    EXPECT_NEAR(Frequency(out, c.outputRate, 100, 8000), c.hz, c.hz * 0.002) << c.note << " @" << c.sourceRate;
    int16_t peak = 0;
    for (size_t i = 100; i < 8000; ++i) peak = std::max<int16_t>(peak, out[2 * i]);
    EXPECT_NEAR(peak, 0.5 * 0.8 * 32767, 0.5 * 0.8 * 32767 * 0.01) << c.note;  // level after the 0.8 copy
  }
}

TEST(RealTimeSynth, VelocityScalesTheLevel) {
  const CWavLoader audio = MakeKitAudio(Constant(4000, 16384));
  const InstrumentData inst = MakeInstrument({MakeRegion(0, 4000, 60)});
  CRealTimeSynth synth;
  synth.Bind(&audio, &inst);
  synth.NoteOn(60, 64);
  const auto out = Blocks(synth, 1);
  EXPECT_EQ(out[100], Expected(0.5 * static_cast<double>(64.0f / 127.0f)));
}

TEST(RealTimeSynth, RegionAndRootChoice) {
  const CWavLoader audio = MakeKitAudio(Constant(1000, 1000));
  InstrumentData inst = MakeInstrument({MakeRegion(0, 100, 50, 40, 60), MakeRegion(100, 200, 200, 55, 70),
                                        MakeRegion(200, 300, -1, 71, 80)});
  inst.params.rootNote = 48;
  CRealTimeSynth synth;
  synth.Bind(&audio, &inst);
  EXPECT_EQ(synth.LastNote(), (CRealTimeSynth::NoteStart{-1, -1}));
  EXPECT_EQ(synth.NoteOn(58, 100), (CRealTimeSynth::NoteStart{0, 50}));  // overlapping ranges: the first wins
  EXPECT_EQ(synth.NoteOn(65, 100), (CRealTimeSynth::NoteStart{1, 48}));  // root 200: the global root
  inst.params.smplUnityNote = 62;
  EXPECT_EQ(synth.NoteOn(75, 100), (CRealTimeSynth::NoteStart{2, 62}));  // root -1: the smpl unity note
  EXPECT_EQ(synth.NoteOn(90, 100), std::nullopt);                        // no region holds it
  EXPECT_EQ(synth.LastNote(), (CRealTimeSynth::NoteStart{2, 62}));
  inst.hasInstrument = false;
  EXPECT_EQ(synth.NoteOn(58, 100), std::nullopt);
  CRealTimeSynth unbound;
  EXPECT_EQ(unbound.NoteOn(58, 100), std::nullopt);
}

TEST(RealTimeSynth, AttackTable) {
  const CWavLoader audio = MakeKitAudio(Constant(44100, 32767));
  struct Case {
    int attack;
    double firstLevel;  // the level the first frame mixes at
    int framesToFull;
  };
  const Case cases[] = {{0, 1.0, 0}, {4, 1.0, 0}, {5, 0.6016, 1}, {128, 1 / (0.6321 * 44100), 27877}};
  for (const Case& c : cases) {
    InstrumentData inst = MakeInstrument({MakeRegion(0, 44100, 60)});
    inst.params.attack = c.attack;
    CRealTimeSynth synth;
    synth.Bind(&audio, &inst);
    synth.NoteOn(60, 127);
    const auto out = Blocks(synth, 30);
    const double full = Expected(32767 / 32768.0);
    EXPECT_NEAR(out[0] / full, c.firstLevel, 0.002) << c.attack;
    int full_at = 0;
    while (out[2 * static_cast<size_t>(full_at)] < full) ++full_at;
    EXPECT_NEAR(full_at, c.framesToFull, 2 + c.framesToFull * 0.002) << c.attack;
  }
}

TEST(RealTimeSynth, ReleaseTableFromFullLevel) {
  const CWavLoader audio = MakeKitAudio(Constant(200000, 32767));
  struct Case {
    int release;
    int frames;  // from the note-off to silence
  };
  for (const Case& c : {Case{0, 441}, Case{25, 441}, Case{60, 5744}}) {
    InstrumentData inst = MakeInstrument({MakeRegion(0, 200000, 60)});
    inst.params.release = c.release;
    CRealTimeSynth synth;
    synth.Bind(&audio, &inst);
    synth.NoteOn(60, 127);
    Blocks(synth, 1);
    synth.NoteOff(60);
    const auto out = Blocks(synth, 8);
    int sounding = 0;
    while (out[2 * static_cast<size_t>(sounding)] > 0) ++sounding;
    EXPECT_NEAR(sounding, c.frames, 2) << c.release;
    EXPECT_EQ(synth.ActiveVoices(), 0u);
  }
}

TEST(RealTimeSynth, LoopsWhileHeldAndFadesInsideTheLoop) {
  // A ramp: each frame's value tells where the voice reads.
  std::vector<int16_t> ramp(3000);
  for (int i = 0; i < 3000; ++i) ramp[static_cast<size_t>(i)] = static_cast<int16_t>(i * 10);
  const CWavLoader audio = MakeKitAudio(ramp);
  Region looped = MakeRegion(0, 3000, 60);
  looped.loopStart = 1000;
  looped.loopEnd = 2000;
  InstrumentData inst = MakeInstrument({looped});
  CRealTimeSynth synth;
  synth.Bind(&audio, &inst);
  synth.NoteOn(60, 127);
  const auto out = Blocks(synth, 6);
  // Frames 0..1999 read 0..1999, then 1000..1999 again and again.
  for (size_t f : {size_t{1999}, size_t{2000}, size_t{2500}, size_t{5999}})
    EXPECT_EQ(out[2 * f], Expected(((f < 2000 ? f : 1000 + (f - 2000) % 1000) * 10) / 32768.0)) << f;
  synth.NoteOff(60);
  const auto tail = Blocks(synth, 1);
  EXPECT_GT(tail[0], 0);
  EXPECT_EQ(synth.ActiveVoices(), 0u);  // the release default (0) fades within the block
}

TEST(RealTimeSynth, BadLoopsPlayUnloopedAndOvershootsWrapIntoTheLoop) {
  const CWavLoader audio = MakeKitAudio(Constant(3000, 8000));
  struct Case {
    int64_t loopStart, loopEnd;
    int note;
    bool soundsAfterRegionEnd;
  };
  const Case cases[] = {
      {2000, 1000, 60, false},  // end before start
      {1500, 1500, 60, false},  // empty loop
      {-5, 1000, 60, false},    // negative start
      {1000, 1010, 108, true},  // increment 16 overshoots a 10-frame loop by more than its length
  };
  for (const Case& c : cases) {
    Region r = MakeRegion(0, 3000, 60);
    r.loopStart = c.loopStart;
    r.loopEnd = c.loopEnd;
    InstrumentData inst = MakeInstrument({r});
    CRealTimeSynth synth;
    synth.Bind(&audio, &inst);
    synth.NoteOn(c.note, 127);
    const auto out = Blocks(synth, 4);
    EXPECT_EQ(out[2 * 3500] != 0, c.soundsAfterRegionEnd) << c.loopStart << ".." << c.loopEnd;
  }
}

TEST(RealTimeSynth, StereoSourcesFeedEachSide) {
  std::vector<int16_t> stereo;
  for (int i = 0; i < 2000; ++i) {
    stereo.push_back(10000);
    stereo.push_back(-20000);
  }
  const CWavLoader audio = MakeKitAudio(stereo, 2);
  const InstrumentData inst = MakeInstrument({MakeRegion(0, 2000, 60)});
  CRealTimeSynth synth;
  synth.Bind(&audio, &inst);
  synth.NoteOn(60, 127);
  const auto out = Blocks(synth, 1);
  EXPECT_EQ(out[200], Expected(10000 / 32768.0));
  EXPECT_EQ(out[201], Expected(-20000 / 32768.0));
}

TEST(RealTimeSynth, SilenceAndClipping) {
  const CWavLoader audio = MakeKitAudio(Constant(5000, 32767));
  const InstrumentData inst = MakeInstrument({MakeRegion(0, 5000, 60)});
  CRealTimeSynth synth;
  synth.Bind(&audio, &inst);
  for (int16_t v : Blocks(synth, 1)) ASSERT_EQ(v, 0);  // no voices, all zeros
  for (int i = 0; i < 4; ++i) synth.NoteOn(60, 127);
  const auto out = Blocks(synth, 1);
  EXPECT_EQ(out[0], 32767);
  // A region reaching past the audio plays silence there, and ends.
  const InstrumentData beyond = MakeInstrument({MakeRegion(4990, 9000, 60)});
  synth.Bind(&audio, &beyond);
  synth.NoteOn(60, 127);
  const auto tail = Blocks(synth, 4);
  EXPECT_GT(tail[2 * 9], 0);
  EXPECT_EQ(tail[2 * 10], 0);
  EXPECT_EQ(synth.ActiveVoices(), 0u);
}

TEST(RealTimeSynth, VoiceCapDropsTheOldestReleasingVoiceFirst) {
  const CWavLoader audio = MakeKitAudio(Constant(500000, 100));
  InstrumentData inst = MakeInstrument({MakeRegion(0, 500000, 60)});
  inst.params.release = 255;  // ten seconds: released voices stay
  CRealTimeSynth synth;
  synth.Bind(&audio, &inst);
  for (int n = 0; n < 64; ++n) synth.NoteOn(n, 100);
  Blocks(synth, 1);
  ASSERT_EQ(synth.ActiveVoices(), 64u);
  synth.NoteOff(10);
  synth.NoteOff(20);
  synth.NoteOn(100, 100);  // drops note 10, the oldest in release
  synth.NoteOn(101, 100);  // drops note 20
  synth.NoteOn(102, 100);  // none in release: drops note 0, the oldest
  Blocks(synth, 1);
  const std::vector<int> notes = synth.SoundingNotes();
  ASSERT_EQ(notes.size(), 64u);
  EXPECT_EQ(notes.front(), 1);
  EXPECT_EQ(std::count(notes.begin(), notes.end(), 10), 0);
  EXPECT_EQ(std::count(notes.begin(), notes.end(), 20), 0);
  EXPECT_EQ(notes.back(), 102);
}

TEST(RealTimeSynth, FullQueueDropsAndCounts) {
  const CWavLoader audio = MakeKitAudio(Constant(5000, 100));
  const InstrumentData inst = MakeInstrument({MakeRegion(0, 5000, 60)});
  CRealTimeSynth synth;
  synth.Bind(&audio, &inst);
  for (int i = 0; i < 300; ++i) synth.NoteOff(60);
  EXPECT_EQ(synth.DroppedEvents(), 44u);
  Blocks(synth, 1);
  synth.NoteOn(60, 100);
  Blocks(synth, 1);
  EXPECT_EQ(synth.ActiveVoices(), 1u);
}

TEST(RealTimeSynth, SincMatchesTheWrittenOutKernel) {
  const CWavLoader audio = MakeKitAudio(test::Sine(400, 1234, 44100, 0.9), 1);
  const InstrumentData inst = MakeInstrument({MakeRegion(0, 400, 60)});
  CRealTimeSynth synth;
  synth.Bind(&audio, &inst);
  for (int mode : {1, 2, 3, 7}) {
    synth.SetInterpolation(mode);
    const int radius = mode == 2 ? 8 : mode == 3 ? 16 : 4;
    for (double p : {0.0, 3.0, 100.25, 100.5, -0.5, 200.49999, 200.000001, 397.7, 2.5, -3.2, 450.0})
      EXPECT_NEAR(synth.InterpolateSample(p, 0), synth.ReferenceSincSample(p, 0, radius), 1e-5)
          << mode << " at " << p;
  }
  // The kernel is not normalised: an integer position reads the sample times the window's centre.
  synth.SetInterpolation(1);
  EXPECT_NEAR(synth.InterpolateSample(100.0, 0), 0.9 * std::sin(2 * M_PI * 1234 * 100 / 44100.0), 1e-4);
  synth.SetInterpolation(0);
  EXPECT_NEAR(synth.InterpolateSample(100.5, 0),
              0.5 * (synth.InterpolateSample(100.0, 0) + synth.InterpolateSample(101.0, 0)), 1e-6);
}

TEST(RealTimeSynth, AllNotesOffEmptiesTheVoices) {
  const CWavLoader audio = MakeKitAudio(Constant(100000, 100));
  const InstrumentData inst = MakeInstrument({MakeRegion(0, 100000, 60)});
  CRealTimeSynth synth;
  synth.Bind(&audio, &inst);
  synth.NoteOn(60, 100);
  synth.NoteOn(61, 100);
  Blocks(synth, 1);
  synth.AllNotesOff();
  for (int16_t v : Blocks(synth, 1)) ASSERT_EQ(v, 0);
}

}  // namespace
}  // namespace zandrel
