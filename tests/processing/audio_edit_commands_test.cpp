// The clipboard, Append and the length and region-list edits as commands:
// what the user is asked and shown, what the undo history holds afterwards,
// the notifications, and the audio and regions that end up in the document.
#include <gmock/gmock.h>

#include <cstring>

#include "processing/audio_edit_commands.h"
#include "commands/commands.h"
#include "commands/editor_commands.h"
#include "document/document_fixture.h"
#include "processing/audio_clipboard.h"
#include "processing/processing_commands.h"
#include "support/platform_fakes.h"
#include "support/region_frames.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Ev = RecordingObserver::Event;

class AudioEditCommandsTest : public DocumentTest {
 protected:
  AudioEditCommandsTest() { DeclareCoreCommands(registry); }

  // A mono 16-bit ramp (frame i holds i) with |regions|.
  void Open(int64_t frames, std::vector<Region> regions = {}, uint32_t rate = 44100) {
    OpenRamp(frames, rate);
    Doc().instrument.hasInstrument = !regions.empty();
    Doc().instrument.regions = std::move(regions);
    Doc().SetModifiedFlag(false);
    frame.log.Clear();
    observer.events.clear();
  }
  bool Run(int id) { return registry.Run(id, context); }
  int16_t SampleAt(int64_t frame) const {
    int16_t v = 0;
    std::memcpy(&v, doc_audio().data.data() + frame * 2, 2);
    return v;
  }
  const CWavLoader& doc_audio() const { return const_cast<AudioEditCommandsTest*>(this)->Doc().audio; }
  size_t UndoCount() { return Doc().undoHistory.undoStack.size(); }
  std::string LastUndo() { return Doc().undoHistory.undoStack.back().description; }
  // Puts a block on the clipboard.
  void Offer(const AudioClipboardBlock& block) {
    clipboard.SetData(kAudioClipboardType, EncodeAudioClipboardBlock(block));
  }
  // Leaves an entry on the redo stack (a region-only edit undone).
  void MakeRedoHistory() {
    Doc().undoHistory.Clear();
    ASSERT_TRUE(Doc().PushUndo(kUndoRegionsOnly, "Something"));
    Doc().Undo();
    ASSERT_TRUE(Doc().CanRedo());
    observer.events.clear();
    frame.log.Clear();
  }

  CommandRegistry registry;
  ViewSelection view;
  BasicCommandContext context{&Doc(), &view};
  FakeClipboard clipboard;
  ScriptedParameterDialogs knobs;
};

// A mono 16-bit block of |frames| frames holding -1, -2, ...
AudioClipboardBlock Block(int64_t frames, uint32_t rate = 44100) {
  AudioClipboardBlock b;
  b.channels = 1;
  b.sampleRate = rate;
  b.bitsPerSample = 16;
  b.sourceStart = 0;
  b.sourceEnd = frames;
  b.frameCount = frames;
  b.pcm.resize(static_cast<size_t>(frames) * 2);
  for (int64_t i = 0; i < frames; ++i) {
    const int16_t v = static_cast<int16_t>(-1 - i);
    std::memcpy(b.pcm.data() + i * 2, &v, 2);
  }
  return b;
}

TEST_F(AudioEditCommandsTest, EveryCommandIsDeclaredWithItsBodyAndPlace) {
  EXPECT_THAT(registry.Problems(), ::testing::IsEmpty());
  for (int id : {cmd::kEditCut, cmd::kEditCopy, cmd::kEditPaste, cmd::kPasteInPlace, cmd::kAppendWav,
                 cmd::kAddSilence, cmd::kDeleteOutsideLoop, cmd::kRemoveAllSilences, cmd::kRemoveAllRegions,
                 cmd::kExportSelection})
    EXPECT_TRUE(registry.HasBody(id)) << id;
  EXPECT_EQ(registry.Find(cmd::kDeleteOutsideLoop)->text, "Delete everyting outside");
  EXPECT_EQ(registry.ShortcutOf(cmd::kEditCut), "Ctrl+X");
  EXPECT_EQ(registry.ShortcutOf(cmd::kEditPaste), "Ctrl+V");
}

// ------------------------------------------------------------ clipboard --

TEST_F(AudioEditCommandsTest, CopyThenPasteInsertsTheSelectionAsANewRegion) {
  Open(10000, {R(0, 4000), R(4000, 10000)});
  view.loopIn = 100;
  view.loopOut = 300;
  EXPECT_FALSE(registry.Enabled(cmd::kEditPaste, context));
  ASSERT_TRUE(Run(cmd::kEditCopy));
  EXPECT_THAT(frame.Lines(), ElementsAre("Copied 200 samples to clipboard (with region metadata)"));
  EXPECT_EQ(UndoCount(), 0u);  // a copy changes nothing

  view.cursorFrame = 4000;  // a region starting at the cursor moves whole
  ASSERT_TRUE(registry.Enabled(cmd::kEditPaste, context));
  ASSERT_TRUE(Run(cmd::kEditPaste));
  EXPECT_EQ(Doc().FrameCount(), 10200);
  EXPECT_EQ(SampleAt(4000), 100);
  EXPECT_EQ(SampleAt(4199), 299);
  EXPECT_EQ(SampleAt(4200), 4000);
  EXPECT_EQ(FramesOf(Doc().instrument),
            (std::vector<Frames>{{0, 4000, -1, -1}, {4000, 4200, -1, -1}, {4200, 10200, -1, -1}}));
  EXPECT_EQ(view.loopIn, 4000);
  EXPECT_EQ(view.loopOut, 4200);
  EXPECT_EQ(LastUndo(), "Paste Audio Data");
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_THAT(frame.Lines(), Contains("Pasted 200 samples at position 4000. Created new region."));
  EXPECT_EQ(observer.Significant(), (std::vector<Ev>{Ev::kStop, Ev::kAudio, Ev::kSelection}));
  EXPECT_GE(context.stops, 1);
}

TEST_F(AudioEditCommandsTest, ARefusedPasteRecordsNothingAndKeepsTheRedoHistory) {
  Open(1000);
  Offer(Block(10));
  struct Case {
    int id;
    int64_t cursor;
    const char* message;
  };
  for (const Case& k : {Case{cmd::kEditPaste, 1001, "Cursor position is beyond audio data bounds."},
                        Case{cmd::kPasteInPlace, 1000,
                             "Cursor position is at or beyond audio data bounds. Cannot paste in place."}}) {
    MakeRedoHistory();
    view.cursorFrame = k.cursor;
    const size_t shown = host.Shown().size();
    registry.Find(k.id)->run(context);  // past the enable rule, as a stale menu would
    ASSERT_EQ(host.Shown().size(), shown + 1);
    EXPECT_EQ(host.Shown().back().text, k.message);
    EXPECT_EQ(UndoCount(), 0u);
    EXPECT_TRUE(Doc().CanRedo()) << "the redo history survives a refused paste";
    EXPECT_EQ(Doc().FrameCount(), 1000);
    EXPECT_TRUE(observer.Significant().empty());
  }
}

TEST_F(AudioEditCommandsTest, APasteAtTheEndAppendsAndLeavesRegionsEndingThere) {
  Open(1000, {R(0, 1000)});
  Offer(Block(50));
  view.cursorFrame = 1000;
  ASSERT_TRUE(Run(cmd::kEditPaste));
  EXPECT_EQ(FramesOf(Doc().instrument), (std::vector<Frames>{{0, 1000, -1, -1}, {1000, 1050, -1, -1}}));
  EXPECT_EQ(Doc().instrument.regions[1].loKey, 0);
  EXPECT_EQ(Doc().instrument.regions[1].hiKey, 127);
  EXPECT_EQ(Doc().instrument.regions[1].rootNote, 60);
  EXPECT_EQ(SampleAt(1049), -50);
}

TEST_F(AudioEditCommandsTest, HostileClipboardBlocksAreRefusedWithoutAnyChange) {
  Open(1000, {R(0, 1000)});
  const std::vector<uint8_t> good = EncodeAudioClipboardBlock(Block(10));
  auto with32 = [&](size_t offset, uint32_t v) {
    std::vector<uint8_t> b = good;
    std::memcpy(b.data() + offset, &v, 4);
    return b;
  };
  auto with16 = [&](size_t offset, uint16_t v) {
    std::vector<uint8_t> b = good;
    std::memcpy(b.data() + offset, &v, 2);
    return b;
  };
  std::vector<uint8_t> wrapping = with32(92, 0xFFFFFFF0u);  // 96 + n wraps in 32 bits
  std::vector<uint8_t> shortBlock(good.begin(), good.begin() + 60);
  std::vector<uint8_t> moreFrames = good;
  const int64_t frames = 11;  // the header claims a frame more than the bytes hold
  std::memcpy(moreFrames.data() + 32, &frames, 8);
  const std::vector<std::vector<uint8_t>> blocks = {wrapping,          shortBlock,        moreFrames,
                                                    with32(10, 0),     with16(8, 0),      with16(14, 12),
                                                    with32(4, 2),      with32(0, 0x4C565251u + 1)};
  for (int id : {cmd::kEditPaste, cmd::kPasteInPlace}) {
    for (size_t i = 0; i < blocks.size(); ++i) {
      clipboard.SetData(kAudioClipboardType, blocks[i]);
      view.cursorFrame = 10;
      const size_t shown = host.Shown().size();
      ASSERT_TRUE(Run(id));
      ASSERT_EQ(host.Shown().size(), shown + 1) << i;
      EXPECT_EQ(host.Shown().back().text, "Failed to deserialize clipboard data.") << i;
      EXPECT_EQ(host.Shown().back().icon, MessageIcon::Error);
    }
  }
  EXPECT_EQ(UndoCount(), 0u);
  EXPECT_EQ(Doc().FrameCount(), 1000);
  EXPECT_EQ(FramesOf(Doc().instrument), (std::vector<Frames>{{0, 1000, -1, -1}}));
}

// Rates the converter cannot bring to the document's are refused, naming
// them, before anything is recorded or marked.
TEST_F(AudioEditCommandsTest, ABlockAtARateThatCannotBeConvertedIsRefusedBeforeTheUndoEntry) {
  Open(1000, {R(0, 1000)});
  for (const uint32_t rate : {4000000000u, 1u, 44100u * 257u}) {
    for (int id : {cmd::kEditPaste, cmd::kPasteInPlace}) {
      Offer(Block(100, rate));
      view.cursorFrame = 10;
      const size_t shown = host.Shown().size();
      ASSERT_TRUE(Run(id));
      ASSERT_EQ(host.Shown().size(), shown + 1) << rate;
      EXPECT_EQ(host.Shown().back().text, "Cannot paste: the clipboard audio's sample rate of " +
                                              std::to_string(rate) +
                                              " Hz cannot be converted to the document's 44100 Hz.");
      EXPECT_EQ(host.Shown().back().icon, MessageIcon::Warning);
    }
  }
  EXPECT_EQ(UndoCount(), 0u);
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_EQ(Doc().FrameCount(), 1000);
  EXPECT_THAT(frame.Lines(), ::testing::Not(Contains(HasSubstr("Resampling"))));
  EXPECT_EQ(FramesOf(Doc().instrument), (std::vector<Frames>{{0, 1000, -1, -1}}));
}

// A block whose region claims a loop starting after its end pastes a region
// without a loop rather than an inverted one.
TEST_F(AudioEditCommandsTest, AnInvertedLoopInTheBlockIsNotPasted) {
  Open(1000);
  AudioClipboardBlock b = Block(100);
  b.region = R(0, 100, 80, 20);
  Offer(b);
  view.cursorFrame = 500;
  ASSERT_TRUE(Run(cmd::kEditPaste));
  ASSERT_EQ(Doc().instrument.regions.size(), 1u);
  EXPECT_EQ(FramesOf(Doc().instrument), (std::vector<Frames>{{500, 600, -1, -1}}));
  // An ordered loop still comes through.
  b.region = R(0, 100, 20, 80);
  Offer(b);
  view.cursorFrame = 0;
  ASSERT_TRUE(Run(cmd::kEditPaste));
  EXPECT_EQ(FramesOf(Doc().instrument), (std::vector<Frames>{{0, 100, 20, 80}, {600, 700, -1, -1}}));
}

TEST_F(AudioEditCommandsTest, PasteWithoutClipboardDataSaysSo) {
  Open(1000);
  view.cursorFrame = 5;
  registry.Find(cmd::kEditPaste)->run(context);
  EXPECT_THAT(host.Texts(), ElementsAre("No Quorvel audio data in clipboard."));
  Offer(Block(5));
  clipboard.unreadable = true;
  registry.Find(cmd::kEditPaste)->run(context);
  EXPECT_EQ(host.Texts().back(), "Failed to retrieve clipboard data.");
  view.cursorFrame = -1;
  EXPECT_FALSE(registry.Enabled(cmd::kEditPaste, context));
  registry.Find(cmd::kEditPaste)->run(context);
  EXPECT_EQ(host.Texts().back(), "No valid cursor position. Please click on the waveform to set the paste location.");
  EXPECT_EQ(UndoCount(), 0u);
}

TEST_F(AudioEditCommandsTest, APasteAtAnotherRateIsResampledOrRefused) {
  Open(1000);
  Offer(Block(4800, 48000));
  view.cursorFrame = 0;
  ASSERT_TRUE(Run(cmd::kEditPaste));
  EXPECT_THAT(frame.Lines(), Contains("Resampling clipboard audio: 48000 Hz to 44100 Hz..."));
  EXPECT_THAT(frame.Lines(), Contains(HasSubstr("Resampling complete: 4800 samples to ")));
  const int64_t pasted = Doc().FrameCount() - 1000;
  EXPECT_NEAR(pasted, 4410, 2);
  ASSERT_EQ(Doc().instrument.regions.size(), 1u);
  EXPECT_EQ(Doc().instrument.regions[0].endSample - Doc().instrument.regions[0].startSample, pasted);

  // An 8-bit document (an open converts to 16 bits; other code may not) at
  // another rate is not converted.
  Doc().audio.format = PcmFormat{1, 1, 44100, 44100, 1, 8};
  Doc().audio.data.assign(1000, 128);
  AudioClipboardBlock eight = Block(10, 48000);
  eight.bitsPerSample = 8;
  eight.pcm.resize(10);
  Offer(eight);
  Doc().undoHistory.Clear();
  view.cursorFrame = 0;
  ASSERT_TRUE(Run(cmd::kEditPaste));
  EXPECT_THAT(host.Texts().back(), HasSubstr("Sample rate mismatch: Clipboard is 48000 Hz, Document is 44100 Hz."));
  EXPECT_EQ(Doc().FrameCount(), 1000);
  EXPECT_EQ(UndoCount(), 0u);
}

TEST_F(AudioEditCommandsTest, PasteInPlaceOverwritesUpToTheEnd) {
  Open(1000, {R(0, 1000)});
  Offer(Block(50));
  view.cursorFrame = 980;
  ASSERT_TRUE(registry.Enabled(cmd::kPasteInPlace, context));
  ASSERT_TRUE(Run(cmd::kPasteInPlace));
  EXPECT_EQ(Doc().FrameCount(), 1000);
  EXPECT_EQ(SampleAt(979), 979);
  EXPECT_EQ(SampleAt(980), -1);
  EXPECT_EQ(SampleAt(999), -20);
  EXPECT_EQ(FramesOf(Doc().instrument), (std::vector<Frames>{{0, 1000, -1, -1}}));
  EXPECT_EQ(view.loopIn, 980);
  EXPECT_EQ(view.loopOut, 1000);
  EXPECT_EQ(LastUndo(), "Paste In Place");
  EXPECT_THAT(frame.Lines(), Contains("Pasted in place 20 samples at position 980 (clipped 30 samples at end)."));
}

TEST_F(AudioEditCommandsTest, CutRemovesTheSelectionOnlyOnceItIsOnTheClipboard) {
  Open(10000, {R(0, 10000)});
  view.loopIn = 1000;
  view.loopOut = 3000;
  clipboard.refuse = true;
  ASSERT_TRUE(Run(cmd::kEditCut));
  EXPECT_THAT(host.Texts(), ElementsAre("Failed to set clipboard data."));
  EXPECT_EQ(context.RunPosted(), 0);
  EXPECT_EQ(Doc().FrameCount(), 10000);
  EXPECT_EQ(UndoCount(), 0u);

  clipboard.refuse = false;
  ASSERT_TRUE(Run(cmd::kEditCut));
  EXPECT_EQ(context.RunPosted(), 1);
  EXPECT_EQ(Doc().FrameCount(), 8000);
  EXPECT_EQ(LastUndo(), "Remove Audio Data");
  EXPECT_EQ(SampleAt(1000), 3000);
  // What was cut pastes back.
  view.cursorFrame = 1000;
  ASSERT_TRUE(Run(cmd::kEditPaste));
  EXPECT_EQ(Doc().FrameCount(), 10000);
  for (int64_t f : {999, 1000, 2999, 3000}) EXPECT_EQ(SampleAt(f), f);
}

TEST_F(AudioEditCommandsTest, CopyWithoutAClipboardFailsAndCutKeepsTheAudio) {
  Open(1000);
  view.loopIn = 0;
  view.loopOut = 10;
  SetClipboardHost(nullptr);
  ASSERT_TRUE(Run(cmd::kEditCut));
  SetClipboardHost(&clipboard);
  EXPECT_THAT(host.Texts(), ElementsAre("Failed to open clipboard."));
  EXPECT_EQ(context.PendingTasks(), 0u);
  view.loopOut = 0;
  EXPECT_FALSE(registry.Enabled(cmd::kEditCopy, context));
}

// --------------------------------------------------------------- Append --

TEST_F(AudioEditCommandsTest, AppendAddsARegionKeyedAboveTheOthers) {
  Open(1000, {R(0, 1000)});
  Doc().instrument.regions[0].hiKey = 127;
  const auto file = Write("tail.wav", MakePcm16Wav(std::vector<int16_t>(441, 7)));
  dialogs.Answer(file);
  ASSERT_TRUE(Run(cmd::kAppendWav));
  EXPECT_EQ(Doc().FrameCount(), 1441);
  ASSERT_EQ(Doc().instrument.regions.size(), 2u);
  const Region& added = Doc().instrument.regions[1];
  EXPECT_EQ(added.startSample, 1000);
  EXPECT_EQ(added.endSample, 1441);
  EXPECT_EQ(added.loKey, 127);
  EXPECT_EQ(added.hiKey, 127);
  EXPECT_EQ(added.rootNote, 127);
  EXPECT_EQ(LastUndo(), "Append WAV");
  EXPECT_THAT(frame.Lines(), ElementsAre("--- Appended WAV: tail.wav ---", "Appended 441 samples (0.010 seconds)",
                                         "New region created: samples 1000 - 1441, MIDI keys 127 - 127",
                                         "Total audio duration: 0.033 seconds"));
}

TEST_F(AudioEditCommandsTest, AppendAtAnotherRateAsksFirst) {
  Open(1000);
  const auto file = Write("other.wav", MakePcm16Wav(std::vector<int16_t>(4800, 100), 1, 48000));
  const std::string question =
      "Sample Rate Mismatch:\n\nCurrent project: 44100 Hz\nFile to append: 48000 Hz\n\nDo you want to resample the "
      "appended file to match the project sample rate?";

  host.Answer(MessageAnswer::Cancel);
  EXPECT_FALSE(AppendWavFile(context, file));
  EXPECT_THAT(host.Texts(), ElementsAre(question));

  host.Answer(MessageAnswer::No);
  EXPECT_FALSE(AppendWavFile(context, file));
  EXPECT_EQ(host.Texts().back(), "Cannot append file with different sample rate.\nOperation cancelled.");
  EXPECT_EQ(UndoCount(), 0u);
  EXPECT_EQ(Doc().FrameCount(), 1000);

  view.beatMarkers = {10, 20};
  host.Answer(MessageAnswer::Yes);
  EXPECT_TRUE(AppendWavFile(context, file));
  EXPECT_NEAR(Doc().FrameCount() - 1000, 4410, 2);
  EXPECT_TRUE(view.beatMarkers.empty());
  EXPECT_THAT(frame.Lines(), Contains("Resampling other.wav from 48000 Hz to 44100 Hz..."));
  EXPECT_THAT(frame.Lines(), Contains("Resampling complete."));
  // Without regions the new one covers keys 60 to 127.
  EXPECT_EQ(Doc().instrument.regions.at(0).loKey, 60);
  EXPECT_EQ(Doc().instrument.regions.at(0).hiKey, 127);
}

TEST_F(AudioEditCommandsTest, AppendConvertsStereoAndRefusesWhatItCannotConvert) {
  Open(1000);
  // Stereo 16-bit mixes to mono and appends.
  EXPECT_TRUE(AppendWavFile(context, Write("stereo.wav", MakePcm16Wav(std::vector<int16_t>(200, 300), 2))));
  EXPECT_EQ(Doc().FrameCount(), 1100);
  EXPECT_EQ(SampleAt(1099), 300);

  // Three channels stay three channels: their bytes are not appended.
  const size_t undo = UndoCount();
  EXPECT_FALSE(AppendWavFile(context, Write("three.wav", MakePcm16Wav(std::vector<int16_t>(300, 5), 3))));
  EXPECT_EQ(host.Texts().back(), "Error: Audio conversion failed.");
  EXPECT_EQ(Doc().FrameCount(), 1100);
  EXPECT_EQ(UndoCount(), undo);

  EXPECT_FALSE(AppendWavFile(context, dir.path() / "missing.wav"));
  EXPECT_EQ(host.Texts().back(), "Failed to load WAV file: missing.wav");
}

TEST_F(AudioEditCommandsTest, UndoOfAnAppendBringsTheCursorBackIntoTheAudio) {
  Open(1000);
  ASSERT_TRUE(AppendWavFile(context, Write("tail.wav", MakePcm16Wav(std::vector<int16_t>(500, 1)))));
  view.cursorFrame = 1400;
  observer.events.clear();
  ASSERT_TRUE(Run(cmd::kEditUndo));
  EXPECT_EQ(Doc().FrameCount(), 1000);
  EXPECT_EQ(view.cursorFrame, 1000);
  EXPECT_EQ(observer.Significant().back(), Ev::kSelection);

  // Add Silence then goes in at the end, not past it.
  knobs.Answer(ParameterValues{{"coarse", 0.0f}, {"fine", 0.01f}});
  ASSERT_TRUE(Run(cmd::kAddSilence));
  EXPECT_EQ(Doc().FrameCount(), 1441);
  EXPECT_EQ(SampleAt(999), 999);
  EXPECT_EQ(SampleAt(1000), 0);
  EXPECT_EQ(view.cursorFrame, 1441);
}

// ---------------------------------------------------------- Add Silence --

TEST_F(AudioEditCommandsTest, AddSilenceAsksForItsLengthAndInsertsIt) {
  Open(44100, {R(0, 1000), R(1000, 44100, 2000, 3000)});
  view.cursorFrame = 1000;
  knobs.Answer(ParameterValues{{"coarse", 1.7f}, {"fine", 0.25f}});
  ASSERT_TRUE(Run(cmd::kAddSilence));
  ASSERT_EQ(knobs.requests.size(), 1u);
  const ParameterDialogRequest& r = knobs.requests[0];
  EXPECT_EQ(r.title, "Add Silence at Cursor");
  EXPECT_EQ(r.configName, "addsilence");
  ASSERT_EQ(r.items.size(), 3u);
  EXPECT_EQ(r.items[0].key, "coarse");
  EXPECT_EQ(r.items[0].label, "*Coarse");
  EXPECT_EQ(r.items[0].format, "%.0f s");
  EXPECT_EQ(r.items[0].maximum, 20.0f);
  EXPECT_EQ(r.items[0].defaultValue, 1.0f);
  EXPECT_EQ(r.items[0].colour, 0xFF9632u);
  EXPECT_EQ(r.items[1].key, "fine");
  EXPECT_EQ(r.items[1].format, "%+.2f s");
  EXPECT_EQ(r.items[1].colour, 0xFFC864u);
  EXPECT_TRUE(r.items[2].section);
  EXPECT_EQ(r.items[2].label, "Inserts silence at the current cursor position.");

  // The knob showed "2 s": 2.25 s go in.
  EXPECT_EQ(Doc().FrameCount(), 44100 + 99225);
  EXPECT_EQ(FramesOf(Doc().instrument),
            (std::vector<Frames>{{0, 1000, -1, -1}, {100225, 143325, 101225, 102225}}));
  EXPECT_EQ(view.cursorFrame, 100225);
  EXPECT_THAT(frame.Lines(), ElementsAre("Inserted 2.25 seconds (99225 samples) of silence"));
  EXPECT_EQ(LastUndo(), "Add Silence");
}

TEST_F(AudioEditCommandsTest, AddSilenceOfNothingStillRecordsItsStep) {
  Open(1000);
  view.cursorFrame = 10;
  knobs.Answer(ParameterValues{{"coarse", 0.0f}, {"fine", 0.0f}});
  ASSERT_TRUE(Run(cmd::kAddSilence));
  EXPECT_EQ(Doc().FrameCount(), 1000);
  EXPECT_EQ(LastUndo(), "Add Silence");
  EXPECT_THAT(frame.Lines(), ElementsAre("Inserted 0.00 seconds (0 samples) of silence"));

  knobs.Answer(std::nullopt);  // Cancel
  ASSERT_TRUE(Run(cmd::kAddSilence));
  EXPECT_EQ(UndoCount(), 1u);

  view.cursorFrame = -1;
  ASSERT_TRUE(Run(cmd::kAddSilence));
  EXPECT_THAT(host.Texts(), ElementsAre("Please set cursor position first."));
}

// ------------------------------------------------------- Delete Outside --

TEST_F(AudioEditCommandsTest, DeleteOutsideKeepsTheSelectionAfterAsking) {
  Open(10000, {R(0, 1000), R(9000, 10000)});
  view.loopIn = 2000;
  view.loopOut = 5000;
  view.cursorFrame = 9500;
  host.Answer(MessageAnswer::No);
  ASSERT_TRUE(Run(cmd::kDeleteOutsideLoop));
  EXPECT_EQ(host.Texts().back(),
            "This will delete:\n- Everything before sample 2000\n- Everything after sample 5000\n\nOnly the loop "
            "region (3000 samples) will remain.\n\nContinue?");
  EXPECT_EQ(UndoCount(), 0u);
  EXPECT_EQ(Doc().FrameCount(), 10000);

  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(Run(cmd::kDeleteOutsideLoop));
  EXPECT_EQ(Doc().FrameCount(), 3000);
  EXPECT_EQ(SampleAt(0), 2000);
  EXPECT_THAT(frame.Lines(), Contains("WARNING: All regions were removed. Creating default region."));
  EXPECT_EQ(FramesOf(Doc().instrument), (std::vector<Frames>{{0, 3000, -1, -1}}));
  EXPECT_EQ(view.cursorFrame, 0);
  EXPECT_EQ(view.loopIn, 0);
  EXPECT_EQ(view.loopOut, 3000);
  EXPECT_EQ(LastUndo(), "Delete Outside Loop");
  EXPECT_EQ(observer.Significant(), (std::vector<Ev>{Ev::kStop, Ev::kAudio, Ev::kSelection}));

  view.loopIn = 0;
  view.loopOut = 3000;
  ASSERT_TRUE(Run(cmd::kDeleteOutsideLoop));
  EXPECT_EQ(host.Texts().back(), "Loop already spans the entire file. Nothing to delete.");
}

// -------------------------------------------------- Remove All Silences --

TEST_F(AudioEditCommandsTest, RemoveAllSilencesCutsStretchesOfFiftyMillisecondsOrMore) {
  // Loud, 2205 silent frames (exactly 50 ms), loud, 2204 silent, loud.
  std::vector<int16_t> s;
  auto add = [&](size_t n, int16_t v) { s.insert(s.end(), n, v); };
  add(1000, 1000);
  add(2205, 163);  // below 163.835
  add(1000, 1000);
  add(2204, 0);
  add(1000, 1000);
  ASSERT_TRUE(Doc().LoadWav(Write("gaps.wav", MakePcm16Wav(s))));
  Doc().undoHistory.Clear();
  view.cursorFrame = static_cast<int64_t>(s.size());
  view.loopIn = 500;
  view.loopOut = 7000;
  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(Run(cmd::kRemoveAllSilences));
  EXPECT_THAT(host.Texts(), ElementsAre("Found 1 silent region(s) totaling 0.05 seconds. Remove them?"));
  EXPECT_EQ(Doc().FrameCount(), static_cast<int64_t>(s.size()) - 2205);
  EXPECT_EQ(SampleAt(999), 1000);
  EXPECT_EQ(SampleAt(1000), 1000);
  EXPECT_EQ(SampleAt(2000), 0);  // the shorter stretch stays
  EXPECT_EQ(view.loopIn, 500);
  EXPECT_EQ(view.loopOut, 7000 - 2205);
  EXPECT_EQ(view.cursorFrame, Doc().FrameCount());  // clamped into the shorter audio
  EXPECT_EQ(LastUndo(), "Remove Silence");
  EXPECT_THAT(frame.Lines(), Contains("Removed 1 silent region(s)."));

  // Answered No: nothing changes.
  view.loopIn = 0;
  view.loopOut = 3000;
  host.Answer(MessageAnswer::No);
  ASSERT_TRUE(Run(cmd::kRemoveAllSilences));
  EXPECT_EQ(host.Texts().back(), "No significant silence detected in the selection.");
  EXPECT_EQ(UndoCount(), 1u);
}

TEST_F(AudioEditCommandsTest, RemoveAllSilencesNeedsARange) {
  Open(1000, {R(0, 1000)});
  ASSERT_TRUE(Run(cmd::kRemoveAllSilences));
  EXPECT_THAT(host.Texts(), ElementsAre("No valid loop region set. Use Playback > Set Loop In/Out first."));
}

// --------------------------------------------------- Remove All Regions --

TEST_F(AudioEditCommandsTest, RemoveAllRegionsAsksAndUndoBringsThemBack) {
  Open(1000);
  ASSERT_TRUE(Run(cmd::kRemoveAllRegions));
  EXPECT_THAT(host.Texts(), ElementsAre("There are no regions to remove."));

  Doc().instrument.hasInstrument = true;
  Doc().instrument.regions = {R(0, 500), R(500, 1000)};
  Doc().instrument.params.bpm = 97.0f;
  view.loopIn = 0;
  view.loopOut = 500;
  view.selectedRegion = 0;
  host.Answer(MessageAnswer::No).Answer(MessageAnswer::Yes);
  ASSERT_TRUE(Run(cmd::kRemoveAllRegions));
  EXPECT_EQ(Doc().instrument.regions.size(), 2u);
  ASSERT_TRUE(Run(cmd::kRemoveAllRegions));
  EXPECT_EQ(host.Shown().back().text, "Are you sure you want to remove all 2 region(s)?\n\nThis action can be undone.");
  EXPECT_EQ(host.Shown().back().icon, MessageIcon::Warning);
  EXPECT_TRUE(Doc().instrument.regions.empty());
  EXPECT_TRUE(Doc().instrument.hasInstrument);
  EXPECT_EQ(Doc().instrument.params.bpm, 97.0f);
  EXPECT_EQ(view.loopIn, -1);
  EXPECT_EQ(view.selectedRegion, -1);
  EXPECT_EQ(LastUndo(), "Remove All Regions");
  EXPECT_THAT(frame.Lines(), Contains("All regions removed."));
  ASSERT_TRUE(Run(cmd::kEditUndo));
  EXPECT_EQ(FramesOf(Doc().instrument), (std::vector<Frames>{{0, 500, -1, -1}, {500, 1000, -1, -1}}));
}

// ----------------------------------------------------- Export Selection --

TEST_F(AudioEditCommandsTest, ExportSelectionWritesAFileAndLeavesTheDocumentAlone) {
  Open(8000, {R(0, 3000), R(3000, 8000)});
  Doc().SetPathName(dir.path() / "kick.wav");
  Doc().SetModifiedFlag(false);
  const std::vector<RiffChunk> chunks = Doc().audio.chunks;
  view.loopIn = 1000;
  view.loopOut = 5000;
  const auto target = dir.path() / "out.wav";
  dialogs.Answer(target);
  ASSERT_TRUE(Run(cmd::kExportSelection));
  ASSERT_EQ(dialogs.saveRequests.size(), 1u);
  EXPECT_EQ(dialogs.saveRequests[0].defaultPath.filename(), "kick_kick_selection.wav");
  EXPECT_EQ(dialogs.saveRequests[0].defaultExtension, "wav");

  CQuorvelDoc exported;
  ASSERT_TRUE(exported.LoadWav(target));
  EXPECT_EQ(exported.FrameCount(), 4000);
  EXPECT_EQ(FramesOf(exported.instrument), (std::vector<Frames>{{0, 2000, -1, -1}, {2000, 4000, -1, -1}}));
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_EQ(UndoCount(), 0u);
  EXPECT_EQ(Doc().audio.chunks, chunks);
  EXPECT_EQ(Doc().FrameCount(), 8000);
  EXPECT_THAT(frame.Lines(), Contains(HasSubstr("(4000 samples, 0.091 seconds)")));

  view.loopOut = 8001;
  ASSERT_TRUE(Run(cmd::kExportSelection));
  EXPECT_EQ(host.Texts().back(), "Selection end is beyond audio data.");
  view.loopOut = 8000;
  dialogs.Answer(std::nullopt);
  ASSERT_TRUE(Run(cmd::kExportSelection));
  EXPECT_EQ(dialogs.saveRequests.size(), 2u);  // accepted up to the last frame, then cancelled
}

}  // namespace
}  // namespace zandrel
