// The chop and tempo commands through the registry with a headless context:
// dialogs and questions scripted, the document's regions, settings, tempo,
// audio and log checked.
#include "processing/chop_tempo_commands.h"

#include <gmock/gmock.h>

#include "commands/editor_commands.h"
#include "document/document_fixture.h"
#include "processing/processing_commands.h"
#include "support/generated_audio.h"
#include "processing/tempo.h"
#include "processing/adjust_bpm_form.h"
#include "view/model/view_model.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;
using ::testing::HasSubstr;

class ScriptedChopDialogs final : public ChopTempoDialogs {
 public:
  bool RunAutoChop(AutoChopValues& values) override {
    ++autoChopRuns;
    seen = values;
    if (!acceptChop) return false;
    if (threshold) values.threshold = *threshold;
    return true;
  }
  bool RunAdjustToBpm(AdjustToBpmValues& values) override {
    adjustSeen = values;
    if (!adjust) return false;
    return adjust(values);
  }

  bool acceptChop = true;
  std::optional<float> threshold;
  int autoChopRuns = 0;
  AutoChopValues seen;
  AdjustToBpmValues adjustSeen;
  // Fills the values as the dialog's OK does; empty: Cancel.
  std::function<bool(AdjustToBpmValues&)> adjust;
};

class ChopTempoCommandsTest : public DocumentTest {
 protected:
  void Open(const std::vector<int16_t>& samples, uint32_t rate = 44100) {
    ASSERT_TRUE(Doc().LoadWav(Write("in.wav", MakePcm16Wav(samples, 1, rate))));
    model = std::make_unique<ViewModel>(Doc());
    model->snapToZeroCrossing = false;
    DeclareCoreCommands(registry);
    DeclareChopTempoCommands(registry, chopDialogs);
    context = std::make_unique<BasicCommandContext>(&Doc(), model.get());
    frame.log.Clear();
  }
  bool Run(int id) { return registry.Run(id, *context); }
  std::vector<std::array<int, 3>> Keys() const {
    std::vector<std::array<int, 3>> k;
    for (const Region& r : doc_regions()) k.push_back({r.rootNote, r.loKey, r.hiKey});
    return k;
  }
  const std::vector<Region>& doc_regions() const { return const_cast<ChopTempoCommandsTest*>(this)->Doc().instrument.regions; }

  ScriptedChopDialogs chopDialogs;
  std::unique_ptr<ViewModel> model;
  CommandRegistry registry;
  std::unique_ptr<BasicCommandContext> context;
};

TEST_F(ChopTempoCommandsTest, RegionMenuHoldsTheCommands) {
  Open(std::vector<int16_t>(1000));
  EXPECT_TRUE(registry.Problems().empty());
  for (int id : {cmd::kAutoChopPercussive, cmd::kAutoChopMelodic, cmd::kAutoChopByFrequency, cmd::kFindBpmFromLength,
                 cmd::kFindBpmFromTransients, cmd::kFindBeats, cmd::kAdjustLoopToBpm})
    EXPECT_TRUE(registry.HasBody(id)) << id;
  std::vector<std::string> texts;
  for (const MenuEntry& menu : registry.MenuBar())
    if (menu.text == "&Region")
      for (const MenuEntry& e : menu.entries)
        if (e.kind == MenuEntry::Kind::kCommand) texts.push_back(e.text);
  EXPECT_THAT(texts, Contains("Find BPM from length"));
  EXPECT_THAT(texts, Contains("Find BPM from Transients"));
  EXPECT_THAT(texts, Contains("Auto Chop (Melodic by Frequency)"));
}

TEST_F(ChopTempoCommandsTest, PercussiveChopOfTwelveHits) {
  Open(RenderMono(6 * 44100, 44100, DrumHits(HitTimes(12, 0.5))));
  Doc().instrument.regions = {Region{0, 1000}};
  ASSERT_TRUE(Run(cmd::kAutoChopPercussive));
  // The dialog got the defaults and the help text.
  EXPECT_FLOAT_EQ(chopDialogs.seen.threshold, 1.9f);
  EXPECT_EQ(chopDialogs.seen.minSpacingMs, 200);
  EXPECT_EQ(chopDialogs.seen.helpText, AutoChopHelpText(false));
  EXPECT_THAT(chopDialogs.seen.helpText, HasSubstr("# One-shot Auto Chop\n"));
  EXPECT_THAT(chopDialogs.seen.helpText, HasSubstr("\n```Be aware that EP supports only 8 regions max.```"));
  ASSERT_EQ(doc_regions().size(), 12u);
  const std::vector<std::array<int, 3>> want = {
      {60, 0, 61},  {62, 61, 63}, {64, 63, 65}, {65, 65, 66},  {67, 66, 68},  {69, 68, 70},
      {71, 70, 72}, {72, 72, 73}, {60, 0, 127}, {60, 0, 127}, {60, 0, 127}, {60, 0, 127}};
  EXPECT_EQ(Keys(), want);
  EXPECT_EQ(doc_regions()[0].startSample, 0);
  const InstrumentParams& p = Doc().instrument.params;
  EXPECT_EQ(p.release, 255);
  EXPECT_EQ(p.playMode, "key");
  EXPECT_TRUE(Doc().instrument.hasInstrument);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_EQ(model->selectedRegion, -1);
  EXPECT_EQ(model->loopIn, -1);
  EXPECT_THAT(frame.Lines(), Contains("Auto-Chop: Created 12 regions."));
  EXPECT_TRUE(host.Shown().empty());  // no limit warning for the percussive chop
  // Undo brings back the old region.
  Doc().Undo();
  ASSERT_EQ(doc_regions().size(), 1u);
  EXPECT_EQ(doc_regions()[0].endSample, 1000);
}

TEST_F(ChopTempoCommandsTest, ChopWhileSnappingCutsOnRisingZeroCrossings) {
  // Hits a quarter of a 200 Hz period late: the quiet block before a hit
  // rarely starts on a crossing of its own.
  Open(RenderMono(3 * 44100, 44100, DrumHits(HitTimes(5, 0.5, 0.25 + 0.00125))));
  model->snapToZeroCrossing = true;
  ASSERT_TRUE(Run(cmd::kAutoChopPercussive));
  ASSERT_GE(doc_regions().size(), 4u);
  const auto* x = reinterpret_cast<const int16_t*>(Doc().audio.data.data());
  for (size_t i = 1; i < doc_regions().size(); ++i) {
    const int64_t start = doc_regions()[i].startSample;
    EXPECT_LE(x[start - 1], 0) << i;
    EXPECT_GT(x[start], 0) << i;
  }
}

TEST_F(ChopTempoCommandsTest, MelodicChopMapsAllAndWarnsAboutTheLimit) {
  Open(RenderMono(6 * 44100, 44100, DrumHits(HitTimes(12, 0.5))));
  ASSERT_TRUE(Run(cmd::kAutoChopMelodic));
  EXPECT_EQ(chopDialogs.seen.helpText, AutoChopHelpText(true));
  ASSERT_EQ(doc_regions().size(), 12u);
  EXPECT_EQ(Keys()[8], (std::array<int, 3>{74, 73, 75}));
  EXPECT_EQ(Keys()[11], (std::array<int, 3>{79, 78, 127}));
  EXPECT_EQ(Doc().instrument.params.release, 0);
  EXPECT_THAT(frame.Lines(), Contains("WARNING: Created 12 regions. Maximum of 8 regions supported by EP."));
  ASSERT_EQ(host.Shown().size(), 1u);
  EXPECT_THAT(host.Texts()[0], HasSubstr("Auto-Chop Melodic created more regions than the maximum supported.\n\n"
                                         "Created: 12 regions\nMaximum supported by EP: 8 regions\n\n"));
}

TEST_F(ChopTempoCommandsTest, DialogSettingsWrittenOnOkOnly) {
  Open(RenderMono(44100, 44100, DrumHits({0.5})));
  chopDialogs.acceptChop = false;
  ASSERT_TRUE(Run(cmd::kAutoChopPercussive));
  EXPECT_FALSE(settings.Read("AutoChopSettings", "Sensitivity").has_value());
  EXPECT_FALSE(Doc().CanUndo());
  chopDialogs.acceptChop = true;
  chopDialogs.threshold = 2.5f;
  ASSERT_TRUE(Run(cmd::kAutoChopPercussive));
  EXPECT_EQ(settings.GetInt("AutoChopSettings", "Sensitivity", 0), 25);
  EXPECT_EQ(settings.GetInt("AutoChopSettings", "MinSpacingMs", 0), 200);
  EXPECT_FALSE(settings.Read("AutoChopSettings2", "Sensitivity").has_value());
  // The next run starts from what was written.
  ASSERT_TRUE(Run(cmd::kAutoChopPercussive));
  EXPECT_FLOAT_EQ(chopDialogs.seen.threshold, 2.5f);
}

TEST_F(ChopTempoCommandsTest, ChopWithoutAudioSaysSo) {
  Open({});
  ASSERT_TRUE(Run(cmd::kAutoChopPercussive));
  EXPECT_EQ(chopDialogs.autoChopRuns, 0);
  ASSERT_EQ(host.Texts().size(), 1u);
  EXPECT_EQ(host.Texts()[0], "No audio data loaded.");
}

TEST_F(ChopTempoCommandsTest, ByFrequencyOnAMelody) {
  Open(RenderMono(3 * 44100 / 2, 44100, Melody({60, 64, 67}, 0.5)));
  ASSERT_TRUE(Run(cmd::kAutoChopByFrequency));
  EXPECT_EQ(Keys(), (std::vector<std::array<int, 3>>{{60, 0, 61}, {64, 61, 65}, {67, 65, 127}}));
  EXPECT_EQ(doc_regions().back().endSample, 3 * 44100 / 2);
  EXPECT_THAT(frame.Lines(), Contains("Auto-Chop by Frequency: Created 3 regions from detected pitches."));
  EXPECT_TRUE(host.Shown().empty());
}

TEST_F(ChopTempoCommandsTest, ByFrequencyLiftsADescendingNoteAndSaysSo) {
  Open(RenderMono(44100, 44100, Melody({60, 57}, 0.5)));
  ASSERT_TRUE(Run(cmd::kAutoChopByFrequency));
  EXPECT_EQ(Keys(), (std::vector<std::array<int, 3>>{{60, 0, 61}, {69, 61, 127}}));
  EXPECT_THAT(frame.Lines(), Contains("NOTE: Corrected 1 octave error(s) in pitch detection."));
}

TEST_F(ChopTempoCommandsTest, ByFrequencyWithOnlyShortNotesClearsTheRegionsUndoably) {
  // Notes of 0.15 s: all shorter than 0.2 s.
  Open(RenderMono(44100, 44100, Melody({60, 62, 64, 65, 67, 69}, 0.15)));
  Doc().instrument.hasInstrument = true;
  Doc().instrument.regions = {Region{0, 20000}, Region{20000, 44100}};
  ASSERT_TRUE(Run(cmd::kAutoChopByFrequency));
  ASSERT_EQ(host.Texts().size(), 1u);
  EXPECT_EQ(host.Texts()[0], "No valid regions could be created from the detected notes.");
  EXPECT_TRUE(doc_regions().empty());
  Doc().Undo();
  EXPECT_EQ(doc_regions().size(), 2u);
}

TEST_F(ChopTempoCommandsTest, BpmFromLengthAsksAndWrites) {
  Open(std::vector<int16_t>(88200));
  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(Run(cmd::kFindBpmFromLength));
  ASSERT_EQ(host.Texts().size(), 1u);
  EXPECT_EQ(host.Texts()[0], "120.00 BPM (1 bar(s), 4 beats)\nEstimated from entire file\n\nUse this BPM?");
  EXPECT_FLOAT_EQ(Doc().instrument.params.bpm, 120.0f);
  EXPECT_EQ(Doc().instrument.params.beats, 4);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_FALSE(Doc().CanUndo());
}

TEST_F(ChopTempoCommandsTest, BpmFromLengthOfAShortPlaybackRegionNoChanges) {
  Open(std::vector<int16_t>(88200));
  model->loopIn = 1000;
  model->loopOut = 1000 + 13230;  // 0.3 s
  model->loopPlayback = true;
  host.Answer(MessageAnswer::No);
  ASSERT_TRUE(Run(cmd::kFindBpmFromLength));
  EXPECT_EQ(host.Texts()[0], "800.00 BPM (1 bar(s), 4 beats)\nEstimated from playback region\n\nUse this BPM?");
  EXPECT_FLOAT_EQ(Doc().instrument.params.bpm, 120.0f);
  EXPECT_FALSE(Doc().IsModified());
}

TEST_F(ChopTempoCommandsTest, BpmFromTransientsOfAClickTrack) {
  Open(RenderMono(8 * 44100, 44100, Clicks(HitTimes(16, 0.5))));
  Doc().instrument.params.bpm = 90.0f;
  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(Run(cmd::kFindBpmFromTransients));
  ASSERT_EQ(host.Texts().size(), 1u);
  EXPECT_EQ(host.Texts()[0],
            "BPM Detection (Volume Analysis):\n\nBase Average Volume Analysis detected peaks at ~120 BPM.\nRefined for "
            "entire file duration:\n\n>> 120.00 BPM\n>> 16 Beats\n\nSet this BPM to Global Data?");
  EXPECT_FLOAT_EQ(Doc().instrument.params.bpm, 120.0f);
  EXPECT_EQ(Doc().instrument.params.beats, 16);
}

TEST_F(ChopTempoCommandsTest, FindBeatsOnShortAudioWarnsAndStillRuns) {
  Open(RenderMono(2 * 44100, 44100, Clicks(HitTimes(4, 0.5))));
  host.Answer(MessageAnswer::No);
  ASSERT_TRUE(Run(cmd::kFindBeats));
  EXPECT_THAT(frame.Lines(), Contains("Processing audio: 2.00 seconds, 44100 Hz, 1 channels, 16 bits, 88200 samples, "
                                      "176400 bytes"));
  EXPECT_THAT(frame.Lines(), Contains("Warning: Audio is only 2.00 seconds long. Beat detection works best with at "
                                      "least 6 seconds of audio."));
  // Either outcome ends in a box and a log line.
  EXPECT_FALSE(host.Texts().empty());
  EXPECT_FALSE(Doc().IsModified());
}

TEST_F(ChopTempoCommandsTest, FindBeatsMarksBeatsOfAClickTrack) {
  Open(RenderMono(8 * 44100, 44100, Clicks(HitTimes(16, 0.5))));
  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(Run(cmd::kFindBeats));
  ASSERT_GE(model->beatMarkers.size(), 8u);
  EXPECT_NEAR(Doc().instrument.params.bpm, 120.0f, 2.0f);  // the tracker works in hops of 512
  EXPECT_THAT(frame.Lines().back(), HasSubstr("Beat Detection: "));
}

TEST_F(ChopTempoCommandsTest, AdjustLoopToBpmCutsAndEmptiesRegions) {
  Open(std::vector<int16_t>(90000, 100));
  InstrumentData& inst = Doc().instrument;
  inst.hasInstrument = true;
  inst.regions = {Region{0, 80000}, Region{80000, 89000, 85000, 89000}, Region{89000, 90000, 89100, 89900}};
  model->beatMarkers = {1, 2, 3};
  model->loopIn = 89500;
  model->loopOut = 89900;
  chopDialogs.adjust = [](AdjustToBpmValues& v) {
    AdjustToBpmForm form(v.currentLength, v.sampleRate, v.bpm);
    form.SetBeatsText("4");
    if (form.Accept()) return false;
    v.bpm = form.Bpm();
    v.targetLength = form.TargetLength();
    return true;
  };
  ASSERT_TRUE(Run(cmd::kAdjustLoopToBpm));
  EXPECT_EQ(chopDialogs.adjustSeen.currentLength, 90000);
  EXPECT_EQ(Doc().FrameCount(), 88200);
  EXPECT_EQ(inst.regions[1].endSample, 88200);
  // The loop that reached past the new end stays inside its region.
  EXPECT_EQ(inst.regions[1].loopStart, 85000);
  EXPECT_EQ(inst.regions[1].loopEnd, 88200);
  // The region past the end is emptied at the new end (not left beyond it,
  // where a click on its key would select frames the audio no longer has)
  // and its loop removed.
  EXPECT_EQ(inst.regions[2].startSample, 88200);
  EXPECT_EQ(inst.regions[2].endSample, 88200);
  EXPECT_FALSE(inst.regions[2].HasLoop());
  EXPECT_THAT(frame.Lines(), Contains("Region 2 loop removed (it lay beyond the new end of the audio)."));
  EXPECT_THAT(frame.Lines(), Contains("Removed 0.041 seconds (1800 samples) to fit BPM"));
  EXPECT_TRUE(model->beatMarkers.empty());
  EXPECT_EQ(model->loopIn, 0);
  EXPECT_EQ(model->loopOut, 0);
  Doc().Undo();
  EXPECT_EQ(Doc().FrameCount(), 90000);
  EXPECT_EQ(inst.regions[2].endSample, 90000);
}

TEST_F(ChopTempoCommandsTest, AdjustLoopToBpmPadsWithSilenceAndStoresTheTempo) {
  Open(std::vector<int16_t>(90000, 100));
  chopDialogs.adjust = [](AdjustToBpmValues& v) {
    v.bpm = 100.0;
    v.targetLength = BeatsLengthFrames(100.0, 4, v.sampleRate);
    return true;
  };
  ASSERT_TRUE(Run(cmd::kAdjustLoopToBpm));
  EXPECT_EQ(Doc().FrameCount(), 105840);
  EXPECT_FLOAT_EQ(Doc().instrument.params.bpm, 100.0f);
  EXPECT_THAT(frame.Lines(), Contains("Added 0.359 seconds (15840 samples) of silence to fit BPM"));
  const auto* x = reinterpret_cast<const int16_t*>(Doc().audio.data.data());
  EXPECT_EQ(x[89999], 100);
  EXPECT_EQ(x[105839], 0);
}

TEST_F(ChopTempoCommandsTest, AdjustLoopToBpmRefusals) {
  Open(std::vector<int16_t>(1000));
  Doc().instrument.params.bpm = 0.0f;
  ASSERT_TRUE(Run(cmd::kAdjustLoopToBpm));
  EXPECT_EQ(host.Texts().back(), "BPM is not set in global parameters. Please set BPM first.");
  // A target no file can hold is refused before anything is allocated.
  Doc().instrument.params.bpm = 120.0f;
  chopDialogs.adjust = [](AdjustToBpmValues& v) {
    v.bpm = 120.0;
    v.targetLength = int64_t{1} << 40;
    return true;
  };
  ASSERT_TRUE(Run(cmd::kAdjustLoopToBpm));
  EXPECT_EQ(Doc().FrameCount(), 1000);
  EXPECT_FALSE(Doc().CanUndo());
}

TEST(AdjustToBpmFormTest, FieldsAndResult) {
  AdjustToBpmForm form(90000, 44100, 120.0);
  EXPECT_EQ(form.bpmText, "120.0");
  EXPECT_EQ(form.CurrentLengthText(), "90000 samples (2.041 sec)");
  EXPECT_EQ(form.CurrentBeatsText(), "4.08");
  EXPECT_EQ(form.beatsText, "4");
  EXPECT_EQ(form.barsText, "1");
  EXPECT_EQ(form.ResultText(), "Will cut 0.041 seconds (1800 samples)");
  form.bpmText = "100";
  EXPECT_EQ(form.ResultText(), "Will add 0.359 seconds (15840 samples)");
  ASSERT_FALSE(form.Accept().has_value());
  EXPECT_EQ(form.TargetLength(), 105840);
  EXPECT_EQ(form.Bpm(), 100.0);
  // A decimal comma, as a German user types it, is the same number.
  form.bpmText = "97,5";
  ASSERT_FALSE(form.Accept().has_value());
  EXPECT_EQ(form.Bpm(), 97.5);
}

TEST(AdjustToBpmFormTest, BarsAndBeatsFollowEachOther) {
  AdjustToBpmForm form(88200, 44100, 120.0);
  form.SetBeatsText("6");
  EXPECT_EQ(form.barsText, "1.50");
  form.SetMode(AdjustToBpmForm::Mode::kBars);
  EXPECT_EQ(form.beatsText, "6");  // 4 x 1.50
  form.SetBarsText("3");
  EXPECT_EQ(form.beatsText, "12");
  form.SetTimeSignature("3", "4");
  EXPECT_EQ(form.beatsText, "9");
  form.StepBars(-5);
  EXPECT_EQ(form.barsText, "1");
  EXPECT_EQ(form.beatsText, "3");
  form.SetMode(AdjustToBpmForm::Mode::kBeats);
  form.StepBeats(-10);
  EXPECT_EQ(form.beatsText, "1");
}

TEST(AdjustToBpmFormTest, OkRefusesWhatItCannotUse) {
  struct Case {
    const char* bpm;
    const char* beats;
    const char* warning;
  };
  const Case cases[] = {
      {"", "4", "Please enter a valid BPM value."},
      {"0.01", "4", "Please enter a BPM value from 20 to 999."},
      {"1000", "4", "Please enter a BPM value from 20 to 999."},
      {"120", "0", "Please enter a valid number of beats."},
  };
  for (const Case& c : cases) {
    AdjustToBpmForm form(1000, 44100, 120.0);
    form.bpmText = c.bpm;
    form.beatsText = c.beats;
    EXPECT_EQ(form.Accept().value_or(""), c.warning) << c.bpm;
  }
}

}  // namespace
}  // namespace zandrel
