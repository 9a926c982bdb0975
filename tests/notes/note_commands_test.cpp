#include "notes/note_commands.h"

#include <gmock/gmock.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>

#include "notes/tuning_remap.h"
#include "notes/tuning_remap_model.h"
#include "processing/sinc_resampler.h"
#include "support/document_fakes.h"
#include "support/test_host.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Dialogs that answer from fields and remember what they were shown.
class ScriptedNoteDialogs final : public NoteDialogs {
 public:
  std::optional<std::string> AskTranspose() override {
    ++asked;
    return transpose;
  }
  std::optional<PercussiveChoice> AskPercussive(const PercussiveChoice& initial) override {
    ++asked;
    percussiveShown = initial;
    return percussive;
  }
  std::optional<MelodicChoice> AskMelodic(const MelodicChoice& initial) override {
    ++asked;
    melodicShown = initial;
    return melodic;
  }
  std::optional<RemapChoice> AskTuningRemap(const std::vector<Region>& regions) override {
    ++asked;
    if (remapRow < 0) return std::nullopt;
    TuningRemapModel model(regions);
    model.Select(remapRow);
    return RemapChoice{model.BaseOctave(), model.Plan(), model.SelectedName()};
  }

  int asked = 0;
  std::optional<std::string> transpose;
  std::optional<PercussiveChoice> percussive;
  PercussiveChoice percussiveShown;
  std::optional<MelodicChoice> melodic;
  MelodicChoice melodicShown;
  int remapRow = -1;
};

std::vector<int16_t> SineSamples(double hz, int frames, uint32_t rate = 44100) {
  std::vector<int16_t> s(frames);
  for (int i = 0; i < frames; ++i) s[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * hz * i / rate));
  return s;
}

double Hz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

class NoteCommandsTest : public ::testing::Test {
 protected:
  NoteCommandsTest() : settingsScope(&settings), context(&doc) {
    doc.SetFrame(&frame);
    registry.Bind(&context);
    DeclareNoteCommands(registry, dialogs);
  }

  // Audio made of one sine per root, |frames| each, one region per piece.
  void Load(const std::vector<int>& roots, int frames = 8820, uint32_t rate = 44100) {
    std::vector<int16_t> all;
    for (int root : roots) {
      const std::vector<int16_t> s = root < 0 ? std::vector<int16_t>(frames, 0) : SineSamples(Hz(root), frames, rate);
      all.insert(all.end(), s.begin(), s.end());
    }
    ASSERT_TRUE(doc.LoadWavFromMemory(MakePcm16Wav(all, 1, rate), "tone.wav"));
    doc.instrument.hasInstrument = true;
    doc.instrument.regions.clear();
    for (size_t i = 0; i < roots.size(); ++i) {
      Region r;
      r.startSample = static_cast<int64_t>(i) * frames;
      r.endSample = r.startSample + frames;
      r.rootNote = roots[i] < 0 ? 60 : roots[i];
      doc.instrument.regions.push_back(r);
    }
  }

  std::vector<int> Keys(int32_t Region::*field) const {
    std::vector<int> out;
    for (const Region& r : doc.instrument.regions) out.push_back(r.*field);
    return out;
  }

  std::string LastUndo() const {
    return doc.CanUndo() ? doc.undoHistory.undoStack.back().description : std::string();
  }

  MemorySettings settings;
  ScopedSettingsStore settingsScope;
  ScriptedMessageHost host;
  FakeFrame frame;
  CQuorvelDoc doc;
  BasicCommandContext context;
  ScriptedNoteDialogs dialogs;
  CommandRegistry registry;
};

TEST_F(NoteCommandsTest, TransposeMovesKeysAsOneUndoStep) {
  Load({124, 60});
  doc.instrument.regions[0].loKey = 120;
  doc.instrument.regions[0].hiKey = 127;
  context.Selection().selectedRegion = 1;
  dialogs.transpose = "+12";
  ASSERT_TRUE(registry.Run(cmd::kTranspose));
  EXPECT_THAT(Keys(&Region::loKey), ElementsAre(127, 12));
  EXPECT_THAT(Keys(&Region::hiKey), ElementsAre(127, 127));
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(127, 72));
  EXPECT_EQ(doc.instrument.params.rootNote, 60);  // two regions: the global root stays
  EXPECT_EQ(LastUndo(), "Transpose");
  EXPECT_EQ(context.Selection().selectedRegion, -1);
  EXPECT_TRUE(doc.IsModified());
  EXPECT_THAT(frame.Lines(), Contains("Transposed all MIDI notes by 12 semitones (2 regions updated)"));
  doc.Undo();
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(124, 60));
  EXPECT_THAT(Keys(&Region::loKey), ElementsAre(120, 0));
}

TEST_F(NoteCommandsTest, TransposeRefusalsChangeNothing) {
  const struct {
    std::optional<std::string> text;
    std::vector<std::string> boxes;
  } cases[] = {
      {std::nullopt, {}},  // Cancel
      {"0", {}},
      {"abc", {}},  // no digits read as 0
      {"128", {"Transpose value must be between -127 and +127 semitones."}},
      {"-200", {"Transpose value must be between -127 and +127 semitones."}},
      // Past the int range: still out of range, not a wrapped small value.
      {"4294967308", {"Transpose value must be between -127 and +127 semitones."}},
      {"99999999999999999999", {"Transpose value must be between -127 and +127 semitones."}},
  };
  Load({60});
  const InstrumentData before = doc.instrument;
  for (const auto& c : cases) {
    ScriptedMessageHost boxes;
    dialogs.transpose = c.text;
    registry.Run(cmd::kTranspose);
    EXPECT_EQ(boxes.Texts(), c.boxes) << c.text.value_or("(cancel)");
    EXPECT_EQ(doc.instrument, before);
    EXPECT_FALSE(doc.CanUndo());
  }
  doc.instrument.hasInstrument = false;
  ScriptedMessageHost boxes;
  const int asked = dialogs.asked;
  registry.Run(cmd::kTranspose);
  EXPECT_THAT(boxes.Texts(),
              ElementsAre("No instrument data found. Please load a WAV file with embedded instrument data first."));
  EXPECT_EQ(dialogs.asked, asked);
}

TEST_F(NoteCommandsTest, PercussiveRemembersItsChoiceAndLogs) {
  Load({0, 0, 0});
  // Nothing stored yet: the dialog opens with G3 and C major.
  dialogs.percussive = PercussiveChoice{"C4", 1};
  context.playing = true;
  ASSERT_TRUE(registry.Run(cmd::kDistributePercussive));
  EXPECT_EQ(dialogs.percussiveShown.startNoteText, "G3");
  EXPECT_EQ(dialogs.percussiveShown.spreadType, 1);
  EXPECT_FALSE(context.playing);
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(60, 62, 64));
  EXPECT_THAT(Keys(&Region::loKey), ElementsAre(0, 61, 63));
  EXPECT_THAT(Keys(&Region::hiKey), ElementsAre(61, 63, 127));
  EXPECT_EQ(LastUndo(), "Distribute Notes");
  EXPECT_EQ(frame.Lines().back(), "Distributed 3 regions using C Major scale starting from C4.");
  // The next run offers what was chosen.
  dialogs.percussive = PercussiveChoice{"D4", 3};
  registry.Run(cmd::kDistributePercussive);
  EXPECT_EQ(dialogs.percussiveShown.startNoteText, "C4");
  EXPECT_EQ(dialogs.percussiveShown.spreadType, 1);
  EXPECT_EQ(frame.Lines().back(), "Distributed 3 regions using Major (D4 Key) scale starting from D4.");
  EXPECT_EQ(settings.GetString(kSpreadNotesSection, "StartNote", ""), "D4");
  EXPECT_EQ(settings.GetInt(kSpreadNotesSection, "SpreadType", -1), 3);
  doc.Undo();
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(60, 62, 64));
}

TEST_F(NoteCommandsTest, PercussiveRefusals) {
  Load({0, 0});
  // An unreadable start note is stored, but nothing else changes.
  dialogs.percussive = PercussiveChoice{"H2", 0};
  const InstrumentData before = doc.instrument;
  registry.Run(cmd::kDistributePercussive);
  EXPECT_THAT(host.Texts(), ElementsAre("Invalid starting note. Please use format like 'C4', 'D#3', etc."));
  EXPECT_EQ(host.Shown().back().icon, MessageIcon::Error);
  EXPECT_EQ(settings.GetString(kSpreadNotesSection, "StartNote", ""), "H2");
  EXPECT_EQ(doc.instrument, before);
  EXPECT_FALSE(doc.CanUndo());
  // More regions than the device holds, or none.
  frame.maxRegions = 1;
  registry.Run(cmd::kDistributeMelodic);
  EXPECT_EQ(host.Texts().back(),
            "You have 2 regions, but only 1 regions are supported by EP.\nPlease reduce the number of regions first.");
  doc.instrument.regions.clear();
  registry.Run(cmd::kDistributePercussive);
  EXPECT_EQ(host.Texts().back(), "No regions to distribute. Please create regions first.");
  EXPECT_EQ(host.Shown().back().icon, MessageIcon::Warning);
  EXPECT_FALSE(doc.CanUndo());
}

TEST_F(NoteCommandsTest, MelodicZonesAroundSetRoots) {
  Load({48, 60, 72});
  dialogs.melodic = MelodicChoice{0, 1};
  ASSERT_TRUE(registry.Run(cmd::kDistributeMelodic));
  EXPECT_EQ(dialogs.melodicShown.rootNoteCalc, 0);
  EXPECT_EQ(dialogs.melodicShown.distribution, 0);
  EXPECT_THAT(Keys(&Region::loKey), ElementsAre(0, 49, 61));
  EXPECT_THAT(Keys(&Region::hiKey), ElementsAre(49, 61, 127));
  EXPECT_EQ(LastUndo(), "Distribute Notes Melodic");
  EXPECT_THAT(frame.Lines(), Contains("Distributed 3 regions using Sample Downwards distribution."));
  EXPECT_EQ(frame.Lines().back(), "Root notes range from C3 to C5.");
  EXPECT_EQ(settings.GetInt(kSpreadNotesSection, "Distribution", -1), 1);
  registry.Run(cmd::kDistributeMelodic);
  EXPECT_EQ(dialogs.melodicShown.distribution, 1);
}

TEST_F(NoteCommandsTest, MelodicEstimatesRootsFromThePitch) {
  Load({-1, -1, -1});  // silent pieces first, to be replaced by tones
  Load({45, 57, 69});
  for (Region& r : doc.instrument.regions) r.rootNote = 0;
  dialogs.melodic = MelodicChoice{1, 0};
  ASSERT_TRUE(registry.Run(cmd::kDistributeMelodic));
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(45, 57, 69));
  EXPECT_THAT(Keys(&Region::loKey), ElementsAre(0, 51, 63));
  doc.Undo();
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(0, 0, 0));
}

TEST_F(NoteCommandsTest, MelodicFailedEstimateAbortsButKeepsFoundRoots) {
  Load({57, -1});
  doc.instrument.regions[0].rootNote = 50;
  doc.instrument.regions[1].rootNote = 33;
  dialogs.melodic = MelodicChoice{1, 0};
  registry.Run(cmd::kDistributeMelodic);
  EXPECT_THAT(frame.Lines(), Contains("Pitch estimation failed for region 2."));
  EXPECT_THAT(host.Texts(),
              ElementsAre("Aborted: One or more regions had pitch estimation failures.\nPlease check the output log "
                          "for details.\n\nRegions with failed pitch estimation will retain their previous root "
                          "notes."));
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(57, 33));
  EXPECT_EQ(LastUndo(), "Distribute Notes Melodic");
  doc.Undo();
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(50, 33));
}

TEST_F(NoteCommandsTest, MelodicRefusesRootsThatDoNotRise) {
  Load({60, 60});
  dialogs.melodic = MelodicChoice{0, 0};
  const std::vector<Region> before = doc.instrument.regions;
  registry.Run(cmd::kDistributeMelodic);
  ASSERT_EQ(host.Texts().size(), 1u);
  EXPECT_THAT(host.Texts()[0], ::testing::HasSubstr("Region 1 has root note 60 (C4)\nRegion 2 has root note 60 (C4)"));
  EXPECT_EQ(doc.instrument.regions, before);
}

TEST_F(NoteCommandsTest, RemapBuildsEightTunedRegionsAsOneUndoStep) {
  Load({48}, 22050);
  const std::vector<uint8_t> audioBefore = doc.audio.data;
  const InstrumentData instrumentBefore = doc.instrument;
  RecordingObserver observer;
  doc.AddObserver(&observer);
  context.playing = true;
  dialogs.remapRow = 1;
  ASSERT_TRUE(registry.Run(cmd::kTuningRemap));
  doc.RemoveObserver(&observer);
  // Playback stopped before anything was replaced.
  EXPECT_EQ(context.stops, 1);
  ASSERT_FALSE(observer.events.empty());
  EXPECT_EQ(observer.events.front(), RecordingObserver::kStop);
  EXPECT_THAT(host.Texts(),
              ElementsAre("Successfully created 8 microtuned regions for EP Major Scale mode.\n\nBase octave: "
                          "C3-C4\nGlobal root: C3 (MIDI 48)\nTuning: 12-TET (Reference: Equal Temperament)"));
  EXPECT_EQ(doc.instrument.params.rootNote, 48);
  EXPECT_THAT(Keys(&Region::rootNote), ElementsAre(48, 50, 52, 53, 55, 57, 59, 60));
  EXPECT_THAT(Keys(&Region::loKey), ElementsAre(0, 50, 52, 53, 55, 57, 59, 60));
  EXPECT_THAT(Keys(&Region::hiKey), ElementsAre(50, 52, 53, 55, 57, 59, 60, 127));
  EXPECT_EQ(doc.instrument.regions.front().Length(), 22050);
  EXPECT_EQ(doc.instrument.regions.back().Length(), 11025);
  EXPECT_EQ(doc.instrument.regions.back().endSample, doc.FrameCount());
  EXPECT_EQ(LastUndo(), "Non-12TET Microtuning Remap");
  doc.Undo();
  EXPECT_EQ(doc.audio.data, audioBefore);
  EXPECT_EQ(doc.instrument, instrumentBefore);
}

TEST_F(NoteCommandsTest, RemapRefusals) {
  // No regions, no audio, Cancel: no undo entry.
  dialogs.remapRow = 1;
  registry.Run(cmd::kTuningRemap);
  EXPECT_THAT(host.Texts(), ElementsAre("No regions to process. Please load a WAV file with regions first."));
  Load({48}, 4410);
  dialogs.remapRow = -1;
  registry.Run(cmd::kTuningRemap);
  EXPECT_EQ(dialogs.asked, 1);
  EXPECT_FALSE(doc.CanUndo());
  EXPECT_EQ(host.Texts().size(), 1u);

  // Samples other than 16-bit: both boxes, the document unchanged, the entry
  // recorded.
  doc.audio.format.wBitsPerSample = 8;
  doc.audio.format.nBlockAlign = 1;
  const std::vector<uint8_t> bytes = doc.audio.data;
  const InstrumentData instrument = doc.instrument;
  dialogs.remapRow = 1;
  registry.Run(cmd::kTuningRemap);
  const std::vector<std::string> texts = host.Texts();
  EXPECT_THAT(std::vector<std::string>(texts.begin() + 1, texts.end()),
              ElementsAre("Resampling only supports 16-bit audio. Please convert your audio first.",
                          "Resampling failed for region 0"));
  EXPECT_EQ(host.Shown()[1].icon, MessageIcon::Warning);
  EXPECT_EQ(host.Shown()[2].icon, MessageIcon::Error);
  EXPECT_EQ(doc.audio.data, bytes);
  EXPECT_EQ(doc.instrument, instrument);
  EXPECT_EQ(LastUndo(), "Non-12TET Microtuning Remap");
}

// A converter that throws half way through the pads: the error box names
// the failure, the document keeps its audio and regions, the step stays
// undoable as recorded.
TEST_F(NoteCommandsTest, AnExceptionDuringResamplingShowsTheErrorBoxAndKeepsTheDocument) {
  struct Case {
    std::function<void()> fail;
    std::string box;
  };
  const Case cases[] = {
      {[] { throw std::bad_alloc(); },
       "Error during resampling: std::bad_alloc\n\nOriginal data preserved. You can undo if needed."},
      {[] { throw std::runtime_error("converter broke"); },
       "Error during resampling: converter broke\n\nOriginal data preserved. You can undo if needed."},
      {[] { throw 42; }, "Unknown error during resampling.\n\nOriginal data preserved. You can undo if needed."},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.box);
    const size_t before = host.Shown().size();
    doc.undoHistory.Clear();
    Load({48, 60}, 4410);
    doc.SetModifiedFlag(false);
    const std::vector<uint8_t> bytes = doc.audio.data;
    const InstrumentData instrument = doc.instrument;
    int calls = 0;
    ScopedRemapConverter failing([&](std::vector<int16_t>& out, const int16_t* in, uint64_t frames, int channels,
                                     double ratio, unsigned threads, const WorkProgress& progress) {
      if (++calls == 4) k.fail();
      SincFilterSpec spec = SincFilterSpec::Medium();
      ResampleSinc(spec, out, in, frames, channels, ratio, threads, progress);
    });
    dialogs.remapRow = 1;
    ASSERT_TRUE(registry.Run(cmd::kTuningRemap));
    EXPECT_EQ(calls, 4);
    ASSERT_EQ(host.Shown().size(), before + 1);
    EXPECT_EQ(host.Shown().back().text, k.box);
    EXPECT_EQ(host.Shown().back().icon, MessageIcon::Error);
    EXPECT_EQ(doc.audio.data, bytes);
    EXPECT_EQ(doc.instrument, instrument);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(LastUndo(), "Non-12TET Microtuning Remap");
  }
}

TEST_F(NoteCommandsTest, RemapRefusesAnInstrumentLongerThanTenMinutes) {
  // A root far above the pads at 8 kHz: five seconds become about twenty minutes.
  Load({127}, 40000, 8000);
  const std::vector<uint8_t> bytes = doc.audio.data;
  dialogs.remapRow = 1;
  registry.Run(cmd::kTuningRemap);
  ASSERT_EQ(host.Texts().size(), 1u);
  EXPECT_THAT(host.Texts()[0], ::testing::MatchesRegex("The tuned instrument would be [0-9]+ seconds long; the "
                                                       "limit is 600 seconds\\."));
  EXPECT_EQ(host.Shown()[0].icon, MessageIcon::Warning);
  EXPECT_FALSE(doc.CanUndo());
  EXPECT_EQ(doc.audio.data, bytes);
}

TEST_F(NoteCommandsTest, MenuHoldsTheFourCommands) {
  std::vector<std::string> texts;
  for (int id : {cmd::kTranspose, cmd::kDistributePercussive, cmd::kDistributeMelodic, cmd::kTuningRemap}) {
    ASSERT_TRUE(registry.HasBody(id));
    texts.push_back(registry.Find(id)->text);
  }
  EXPECT_THAT(texts, ElementsAre("Transpose...", "Distribute Notes (Percussive)", "Distribute Notes (Melodic)",
                                 "Historic and World Tunings..."));
}

}  // namespace
}  // namespace zandrel
