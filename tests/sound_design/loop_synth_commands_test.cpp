// The loop re-synthesis commands through the registry with a headless
// context, scripted dialogs and a memory audio output, on generated tones.
#include "sound_design/loop_synth_commands.h"

#include <gmock/gmock.h>

#include <cmath>

#include "commands/editor_commands.h"
#include "document/document_fixture.h"
#include "platform/audio_output.h"
#include "processing/processing_commands.h"
#include "processing/sample_access.h"
#include "processing/snapping.h"
#include "support/platform_fakes.h"
#include "support/region_frames.h"
#include "support/scripted_tasks.h"
#include "view/model/view_model.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using Context = TaskContext;

class LoopSynthCommandsTest : public DocumentTest, public DocumentObserver {
 protected:
  void SetUp() override { Tone(10000, 100.0); }
  void TearDown() override {
    if (model) Doc().RemoveObserver(this);
  }
  void OnDocumentChanged(DocumentChange change) override { model->Follow(change); }

  // |frames| frames of a sine of |hz| (0 for silence), with a fresh model
  // and commands; no regions.
  void Tone(int64_t frames, double hz) {
    std::vector<int16_t> s(static_cast<size_t>(frames));
    for (int64_t i = 0; i < frames; ++i)
      s[static_cast<size_t>(i)] = static_cast<int16_t>(10000.0 * std::sin(2 * M_PI * hz * i / 44100.0));
    ASSERT_TRUE(Doc().LoadWavFromMemory(MakePcm16Wav(s, 1, 44100), "tone.wav"));
    if (model) Doc().RemoveObserver(this);
    model = std::make_unique<ViewModel>(Doc());
    Doc().AddObserver(this);
    registry = CommandRegistry();
    DeclareCoreCommands(registry);
    random = std::make_shared<Rand15>(1);
    DeclareLoopSynthCommands(registry, random);
    context = std::make_unique<Context>(&Doc(), model.get());
    context->tasks = &tasks;
    frame.log.Clear();
    Doc().SetModifiedFlag(false);
  }
  void Regions(std::vector<Region> regions) {
    Doc().instrument.hasInstrument = true;
    Doc().instrument.regions = std::move(regions);
  }
  void Select(int64_t in, int64_t out, int region = -1) {
    model->loopIn = in;
    model->loopOut = out;
    model->selectedRegion = region;
  }
  bool Run(int id) { return registry.Run(id, *context); }
  std::string LastBox() const { return host.Shown().empty() ? std::string() : host.Shown().back().text; }

  std::unique_ptr<ViewModel> model;
  CommandRegistry registry;
  std::unique_ptr<Context> context;
  std::shared_ptr<Rand15> random;
  ScriptedTasks tasks;
  ScriptedParameterDialogs knobs;
  MemoryAudioOutput output;
  ScopedAudioOutput outputScope{&output};
};

TEST_F(LoopSynthCommandsTest, TheToolTableAndTheRegistry) {
  struct Row {
    int id;
    const char* text;
    const char* title;
    const char* config;
    const char* undo;
    const char* log;
    size_t knobs;
  } rows[] = {
      {cmd::kInfiniteSustainSynth, "Infinite Sustain Synth", "Synthesize Loop", "synthesize_loop_mix",
       "Synthesize Loop", "Synthesized loop with mix.", 4},
      {cmd::kMorphLoop, "Morpher...", "Morph Loop", "synthesize_loop_mix", "Synthesize Loop",
       "Synthesized perfect loop (Mix 0).", 6},
      {cmd::kGranularCloud, "Granular Cloud...", "Granular Cloud Settings", "granular", "Granular Cloud",
       "Generated Slow Granular Cloud.", 6},
      {cmd::kFrequencyCloud, "Frequency Cloud...", "Frequency Cloud (Paul's Stretch)", "paulstretch",
       "PaulStretch Slice", "Generated PaulStretch Slice.", 7},
      {cmd::kVocoder, "Vocoder...", "Vocoder", "vocoder_params", "Vocoder", "Vocoder applied.", 3},
  };
  const auto specs = LoopToolSpecs();
  ASSERT_EQ(specs.size(), std::size(rows));
  for (size_t i = 0; i < specs.size(); ++i) {
    const LoopToolSpec& s = specs[i];
    const Row& r = rows[i];
    EXPECT_EQ(s.id, r.id);
    EXPECT_EQ(s.menuText, r.text);
    EXPECT_EQ(s.title, r.title);
    EXPECT_EQ(s.configName, r.config);
    EXPECT_EQ(s.undoLabel, r.undo);
    EXPECT_EQ(s.successLog, r.log);
    // The knobs, then one help text.
    ASSERT_EQ(s.items.size(), r.knobs + 1) << r.text;
    EXPECT_TRUE(s.items.back().section) << r.text;
  }
  EXPECT_THAT(registry.Problems(), IsEmpty());
  for (int id : {cmd::kGranularCloud, cmd::kFrequencyCloud}) {
    ASSERT_TRUE(registry.HasBody(id));
    EXPECT_TRUE(registry.Find(id)->key.empty());
  }
  const Command* frequency = registry.Find(cmd::kFrequencyCloud);
  EXPECT_EQ(frequency->menus[0].menu, "&Audio");
  EXPECT_EQ(registry.Find(cmd::kGranularCloud)->menus[0].order + 1, frequency->menus[0].order);
}

TEST_F(LoopSynthCommandsTest, KnobsTurnIntoEngineParameters) {
  const PaulStretchParams p = PaulStretchFromKnobs(
      {{"str_coarse", 1}, {"str_fine", -1}, {"window", 250}, {"duration", 1000}, {"position", 0.5f}}, false);
  EXPECT_FLOAT_EQ(p.stretch, 0.1f);
  EXPECT_FLOAT_EQ(p.lengthRatio, 10.0f);
  EXPECT_FLOAT_EQ(p.position, 0.5f);
  EXPECT_FLOAT_EQ(PaulStretchFromKnobs({{"duration", 1000}}, true).lengthRatio, 4.0f);
  EXPECT_FLOAT_EQ(PaulStretchFromKnobs({{"duration", 300}}, true).lengthRatio, 3.0f);
  const GranularParams g = GranularFromKnobs({{"duration", 260}, {"grain_size", 50}, {"mix", 0.5f}});
  EXPECT_DOUBLE_EQ(g.lengthRatio, 2.6);
  EXPECT_DOUBLE_EQ(g.grainMs, 50.0);
  EXPECT_FLOAT_EQ(g.mix, 0.5f);
}

TEST_F(LoopSynthCommandsTest, WithoutAudioNothingHappens) {
  Doc().OnNewDocument();
  for (int id : {cmd::kGranularCloud, cmd::kFrequencyCloud}) EXPECT_TRUE(Run(id));
  EXPECT_THAT(knobs.requests, IsEmpty());
  EXPECT_THAT(host.Shown(), IsEmpty());
}

TEST_F(LoopSynthCommandsTest, MissingRangeShowsTheToolsMessage) {
  Regions({R(0, 10000)});
  Select(-1, -1);
  Run(cmd::kFrequencyCloud);
  EXPECT_EQ(LastBox(), "Please select a region to use as the source.");
  Run(cmd::kGranularCloud);
  EXPECT_EQ(LastBox(), "Please set valid loop points first.");
  EXPECT_EQ(host.Shown().back().icon, MessageIcon::Information);
  EXPECT_THAT(knobs.requests, IsEmpty());
  EXPECT_FALSE(Doc().CanUndo());
}

TEST_F(LoopSynthCommandsTest, GranularThousandToTwoThousandMovesRegionsAndUndoRestoresThem) {
  // The range [1000, 2000) lies in region 1, region 0 comes after it; the
  // selected region is 0, which the range is not in.
  Regions({R(5000, 9000, 6000, 8000), R(0, 5000)});
  Select(1000, 2000, 0);
  const std::vector<uint8_t> before = Doc().audio.data;
  const InstrumentData beforeInst = Doc().instrument;
  knobs.Answer(ParameterValues{{"duration", 200}, {"grain_size", 800}, {"density", 4}, {"jitter", 0.01f},
                               {"xfade", 750}, {"mix", 1}});
  ASSERT_TRUE(Run(cmd::kGranularCloud));
  ASSERT_EQ(knobs.requests.size(), 1u);
  EXPECT_EQ(knobs.requests[0].title, "Granular Cloud Settings");
  EXPECT_EQ(knobs.requests[0].configName, "granular");
  EXPECT_TRUE(knobs.requests[0].autoPreview);

  EXPECT_EQ(Doc().FrameCount(), 11000);
  const auto& regions = Doc().instrument.regions;
  EXPECT_EQ(regions[1].endSample, 6000);
  EXPECT_EQ(regions[0].startSample, 6000);
  EXPECT_EQ(regions[0].endSample, 10000);
  const PcmSpan pcm = PcmSpan::Of(Doc().audio);
  for (int64_t x : {regions[0].loopStart, regions[0].loopEnd}) {
    EXPECT_NEAR(x, x < 8000 ? 7000 : 9000, 441);
    EXPECT_EQ(FindRisingZeroCrossing(pcm, x), x) << x;
  }
  // The selection covers the new audio, and the region holding it loops it.
  EXPECT_EQ(model->loopIn, 1000);
  EXPECT_EQ(model->loopOut, 3000);
  EXPECT_EQ(regions[1].loopStart, 1000);
  EXPECT_EQ(regions[1].loopEnd, 3000);
  EXPECT_EQ(frame.Lines().back(), "Generated Slow Granular Cloud.");
  EXPECT_TRUE(Doc().IsModified());
  ASSERT_TRUE(Doc().CanUndo());
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Granular Cloud");
  EXPECT_EQ(Doc().undoHistory.undoStack.back().kind, kUndoWithAudio);

  Doc().Undo();
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_EQ(Doc().instrument, beforeInst);
}

TEST_F(LoopSynthCommandsTest, GranularWithoutRegionsWorksOnTheWholeFile) {
  Select(-1, -1);
  knobs.Answer(ParameterValues{{"duration", 300}});
  ASSERT_TRUE(Run(cmd::kGranularCloud));
  EXPECT_EQ(Doc().FrameCount(), 30000);
  EXPECT_EQ(model->loopIn, 0);
  EXPECT_EQ(model->loopOut, 30000);
}

TEST_F(LoopSynthCommandsTest, FrequencyCloudPreviewsFourLoopsGivesTenAndLogsItsProgress) {
  const int64_t n = 2000;
  Select(1000, 1000 + n);
  model->loopPlayback = true;
  const ParameterValues values{{"str_coarse", 4}, {"window", 20}, {"duration", 1000}, {"xfade", 10}};
  std::vector<int> bar;
  std::vector<float> played;
  bool pulledAfterStop = true;
  knobs.during = [&](const ParameterDialogRequest& request) {
    ASSERT_TRUE(request.preview);
    request.preview(values, [&](int p) { bar.push_back(p); });
    // The preview loops: what plays repeats every 4 N frames.
    ASSERT_TRUE(output.Pull(static_cast<size_t>(9 * n)));
    played = output.Played();
  };
  knobs.Answer(values);
  ASSERT_TRUE(Run(cmd::kFrequencyCloud));
  ASSERT_EQ(played.size(), static_cast<size_t>(9 * n));
  float peak = 0.0f;
  for (int64_t k = 0; k < 4 * n; ++k) {
    EXPECT_EQ(played[static_cast<size_t>(k)], played[static_cast<size_t>(k + 4 * n)]) << k;
    peak = std::max(peak, std::fabs(played[static_cast<size_t>(k)]));
  }
  EXPECT_GT(peak, 0.5f);
  // One period is exactly 4 N: the sound is not a loop of a shorter length.
  EXPECT_NE(played[static_cast<size_t>(n / 2)], played[static_cast<size_t>(n / 2 + n)]);
  EXPECT_FALSE(bar.empty());
  EXPECT_EQ(bar.back(), 100);
  // The sound stopped when the dialog returned.
  pulledAfterStop = output.Pull(100);
  EXPECT_FALSE(pulledAfterStop);

  EXPECT_EQ(Doc().FrameCount(), 10000 + 9 * n);
  EXPECT_EQ(model->loopIn, 1000);
  EXPECT_EQ(model->loopOut, 1000 + 10 * n);
  EXPECT_THAT(frame.Lines(), ElementsAre("Generating PaulStretch... 100%", "Generated PaulStretch Slice."));
  EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "PaulStretch Slice");
}

TEST_F(LoopSynthCommandsTest, FrequencyCloudProgressLineIsAppendedBelowOtherLines) {
  Select(0, 4000);
  model->loopPlayback = true;
  tasks.during = [&](LongTask& task) {
    ASSERT_TRUE(task.onProgress);
    task.onProgress(0.0);  // replaces the starting line
    frame.log.AppendLog("Something else.");
    task.onProgress(0.0);  // no change: nothing written
    while (!task.WaitFor(std::chrono::milliseconds(10))) {
    }
  };
  knobs.Answer(ParameterValues{{"window", 20}});
  ASSERT_TRUE(Run(cmd::kFrequencyCloud));
  EXPECT_THAT(frame.Lines(), ElementsAre("Generating PaulStretch... 0%", "Something else.",
                                         "Generating PaulStretch... 100%", "Generated PaulStretch Slice."));
}

TEST_F(LoopSynthCommandsTest, ACancelOfAnyOfAToolsLongWorksChangesNothing) {
  Select(1000, 9000);
  const std::vector<uint8_t> audio = Doc().audio.data;
  const uint32_t state = random->State();
  for (const LoopToolSpec& spec : LoopToolSpecs()) {
    // The Vocoder's carrier is long work of its own, before its dialog.
    const int works = spec.prepare ? 2 : 1;
    for (int cancelled = 0; cancelled < works; ++cancelled) {
      SCOPED_TRACE(spec.menuText + " work " + std::to_string(cancelled));
      int started = 0;
      tasks.during = [&](LongTask& task) {
        if (started++ == cancelled) task.RequestCancel();
      };
      if (cancelled == works - 1) knobs.Answer(ParameterValues{});
      frame.log.Clear();
      ASSERT_TRUE(Run(spec.id));
      EXPECT_EQ(started, cancelled + 1);
      EXPECT_EQ(Doc().audio.data, audio);
      EXPECT_EQ(model->loopIn, 1000);
      EXPECT_EQ(model->loopOut, 9000);
      EXPECT_FALSE(Doc().CanUndo());
      EXPECT_FALSE(Doc().IsModified());
      EXPECT_EQ(random->State(), state);  // the sequence moves on with committed runs only
      EXPECT_THAT(frame.Lines(), ::testing::Contains(spec.title + " cancelled."));
    }
  }
  tasks.during = {};
}

TEST_F(LoopSynthCommandsTest, CancelLeavesEverythingAlone) {
  Regions({R(0, 6000), R(6000, 10000, 7000, 9000)});
  Select(1000, 3000, 1);
  const std::vector<uint8_t> audio = Doc().audio.data;
  const InstrumentData inst = Doc().instrument;
  for (int id : {cmd::kGranularCloud, cmd::kFrequencyCloud}) {
    SCOPED_TRACE(id);
    // The dialog cancelled after a preview: the sound stops, nothing else.
    knobs.during = [&](const ParameterDialogRequest& request) { request.preview({}, {}); };
    knobs.Answer(std::nullopt);
    ASSERT_TRUE(Run(id));
    EXPECT_FALSE(output.Pull(10));
    // The work cancelled while it runs.
    knobs.during = {};
    knobs.Answer(ParameterValues{});
    tasks.during = [](LongTask& task) { task.RequestCancel(); };
    ASSERT_TRUE(Run(id));
    tasks.during = {};
    EXPECT_EQ(Doc().audio.data, audio);
    EXPECT_EQ(Doc().instrument, inst);
    EXPECT_EQ(model->loopIn, 1000);
    EXPECT_EQ(model->loopOut, 3000);
    EXPECT_EQ(model->selectedRegion, 1);
    EXPECT_FALSE(Doc().CanUndo());
    EXPECT_FALSE(Doc().IsModified());
  }
  for (const std::string& line : frame.Lines()) EXPECT_THAT(line, ::testing::Not(HasSubstr("Generated")));
}

TEST_F(LoopSynthCommandsTest, MorphOnSilenceSaysSoAndRecordsNothing) {
  Tone(10000, 0.0);
  Select(1000, 9000);
  knobs.Answer(ParameterValues{});
  ASSERT_TRUE(Run(cmd::kMorphLoop));
  EXPECT_EQ(LastBox(), "Could not detect fundamental frequency.");
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_EQ(Doc().FrameCount(), 10000);
  // An empty selection: the message, and no dialog.
  Select(100, 100);
  ASSERT_TRUE(Run(cmd::kInfiniteSustainSynth));
  EXPECT_EQ(LastBox(), "Please set valid loop points first.");
  EXPECT_EQ(knobs.requests.size(), 1u);
  // The Vocoder finds no carrier in silence: its message before any dialog.
  Select(1000, 9000);
  ASSERT_TRUE(Run(cmd::kVocoder));
  EXPECT_EQ(LastBox(), "Could not detect fundamental frequency for carrier generation.");
  EXPECT_EQ(knobs.requests.size(), 1u);
}

TEST_F(LoopSynthCommandsTest, SustainMovesLaterRegionsWithTheShorterAudio) {
  Regions({R(0, 6000), R(6000, 10000, 7000, 9000)});
  Select(1000, 5000);
  knobs.Answer(ParameterValues{{"mix", 100}});
  ASSERT_TRUE(Run(cmd::kInfiniteSustainSynth));
  ASSERT_TRUE(Doc().CanUndo());
  const int64_t delta = Doc().FrameCount() - 10000;
  EXPECT_LE(delta, 0);
  EXPECT_EQ(Doc().instrument.regions[0].endSample, 6000 + delta);
  EXPECT_EQ(Doc().instrument.regions[1].startSample, 6000 + delta);
  EXPECT_EQ(Doc().instrument.regions[1].loopStart, 7000 + delta);
  EXPECT_EQ(frame.Lines().back(), "Synthesized loop with mix.");
}

TEST_F(LoopSynthCommandsTest, RunsContinueTheRandomSequence) {
  Select(0, 2000);
  model->loopPlayback = true;
  knobs.Answer(ParameterValues{{"duration", 100}});
  ASSERT_TRUE(Run(cmd::kGranularCloud));
  const uint32_t after = random->State();
  EXPECT_NE(after, 1u);
  knobs.during = [](const ParameterDialogRequest& request) { request.preview({{"duration", 100}}, {}); };
  knobs.Answer(std::nullopt);
  ASSERT_TRUE(Run(cmd::kGranularCloud));
  EXPECT_NE(random->State(), after);  // the preview drew from the same generator
}

}  // namespace
}  // namespace zandrel

namespace zandrel {
namespace {

// The length formula, restated from the tools' help: the loop times "Loop
// Length", truncated, rounded to whole loops when blended.
int64_t ExpectedFrames(int64_t n, int64_t product, float mix) {
  if (mix >= 1.0f) return product;
  return n * std::max<int64_t>(1, (product + n / 2) / n);
}

TEST(LoopSynthKnobCornersTest, EveryCornerGivesTheFormulasLength) {
  struct Loop {
    int64_t frames;
    int channels;
    uint32_t rate;
  } loops[] = {{1, 1, 8000}, {9, 2, 44100}, {513, 1, 192000}, {44100, 2, 8000}, {44100, 1, 44100}};
  // Each knob at its minimum, at its maximum, and the two alternations.
  const std::vector<LoopToolSpec> specs = LoopToolSpecs();
  for (const LoopToolSpec& spec : specs) {
    if (spec.tool != LoopTool::kGranularCloud && spec.tool != LoopTool::kFrequencyCloud) continue;
    std::vector<ParameterValues> corners(4);
    size_t k = 0;
    for (const ParameterItem& item : spec.items) {
      if (item.section) continue;
      corners[0][item.key] = item.minimum;
      corners[1][item.key] = item.maximum;
      corners[2][item.key] = k % 2 ? item.maximum : item.minimum;
      corners[3][item.key] = k % 2 ? item.minimum : item.maximum;
      ++k;
    }
    for (const Loop& l : loops) {
      std::vector<int16_t> samples(static_cast<size_t>(l.frames * l.channels));
      for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>((i * 7919) % 20000 - 10000);
      const LoopPcm pcm{samples, l.channels, l.rate};
      for (const ParameterValues& v : corners) {
        Rand15 random(1);
        const LoopToolOutput out = spec.engine(pcm, v, random, {}, false);
        int64_t product = 0;
        float mix = 1.0f;
        if (spec.tool == LoopTool::kGranularCloud) {
          const GranularParams p = GranularFromKnobs(v);
          product = static_cast<int64_t>(static_cast<double>(l.frames) * p.lengthRatio);
          mix = p.mix;
        } else {
          const PaulStretchParams p = PaulStretchFromKnobs(v, false);
          product = static_cast<int64_t>(static_cast<float>(l.frames) * p.lengthRatio);
          mix = p.mix;
        }
        EXPECT_EQ(static_cast<int64_t>(out.samples.size()), ExpectedFrames(l.frames, product, mix) * l.channels)
            << spec.title << " frames " << l.frames << " rate " << l.rate << " mix " << mix;
      }
    }
  }
}

}  // namespace
}  // namespace zandrel
