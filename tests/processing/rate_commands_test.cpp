// The "&ReTime/ReSample" rate conversions, run through the registry on
// generated sines: lengths, rates, positions carried into the new length,
// the measured pitch, the guards and the cleared history.
#include <gmock/gmock.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "commands/commands.h"
#include "commands/editor_commands.h"
#include "processing/processing_commands.h"
#include "processing/rate_commands.h"
#include "document/document_fixture.h"
#include "processing/pitch.h"
#include "support/region_frames.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::HasSubstr;

class RateCommandsTest : public DocumentTest {
 protected:
  RateCommandsTest() { DeclareCoreCommands(registry); }

  // A mono sine of |hz| at |rate|, amplitude 0.5, |frames| frames long.
  void OpenSine(int64_t frames, uint32_t rate = 44100, double hz = 441.0) {
    std::vector<int16_t> s(static_cast<size_t>(frames));
    for (size_t i = 0; i < s.size(); ++i)
      s[i] = static_cast<int16_t>(std::lround(16384.0 * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / rate)));
    ASSERT_TRUE(Doc().LoadWavFromMemory(MakePcm16Wav(s, 1, rate), "sine.wav"));
    frame.log.Clear();
  }
  void WithOneRegion(Region r) {
    Doc().instrument.hasInstrument = true;
    Doc().instrument.regions = {r};
  }
  int16_t Sample(int64_t frame) {
    int16_t v;
    std::memcpy(&v, Doc().audio.data.data() + frame * 2, 2);
    return v;
  }
  double PitchOfWholeFile() {
    return EstimatePitchYin(PcmSpan::Of(Doc().audio), 0, Doc().FrameCount());
  }
  // A rising zero crossing lies at |f|: the sample before is <= 0, its own > 0.
  bool RisingAt(int64_t f) { return Sample(f - 1) <= 0 && Sample(f) > 0; }

  CommandRegistry registry;
  ViewSelection view;
  BasicCommandContext context{&Doc(), &view};
};

TEST_F(RateCommandsTest, DoubleTimeHalvesTheFileMovesTheLoopOntoCrossingsAndSetsThePitch) {
  OpenSine(88200);
  WithOneRegion(R(0, 88200, 44100, 88100));
  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(registry.Run(cmd::kDoubleTime, context));

  EXPECT_THAT(host.Shown()[0].text, HasSubstr("Current length: 2.00 seconds\nNew length: 1.00 seconds"));
  EXPECT_EQ(host.Shown()[0].icon, MessageIcon::Warning);
  EXPECT_EQ(Doc().FrameCount(), 44100);
  EXPECT_EQ(Doc().audio.format.nSamplesPerSec, 44100u);
  const Region& r = Doc().instrument.regions[0];
  EXPECT_EQ(r.startSample, 0);
  EXPECT_EQ(r.endSample, 44100);
  // The sine now has a 50-frame period: the nearest rising crossing is never
  // more than half a period away.
  EXPECT_TRUE(RisingAt(r.loopStart));
  EXPECT_LE(std::abs(r.loopStart - 22050), 25);
  EXPECT_TRUE(RisingAt(r.loopEnd));
  EXPECT_LE(std::abs(r.loopEnd - 44050), 25);
  EXPECT_EQ(Doc().instrument.params.pitch, -12);
  EXPECT_NEAR(PitchOfWholeFile(), 882.0, 1.0);  // an octave up
  EXPECT_EQ(frame.Lines().back(), "Double-time complete! New length: 1.00 seconds. Global pitch: -12 semitones.");
  EXPECT_THAT(host.Texts().back(), HasSubstr("Double-time operation complete!"));
  EXPECT_TRUE(Doc().IsModified());
}

TEST_F(RateCommandsTest, AConversionClearsTheHistorySoNoEntryOfTheOldRateComesBack) {
  OpenSine(88200);
  WithOneRegion(R(0, 88200));
  ASSERT_TRUE(Doc().PushUndo(kUndoWithAudio, "Earlier edit"));
  Doc().instrument.regions[0].endSample = 80000;
  ASSERT_TRUE(Doc().PushUndo(kUndoRegionsOnly, "Region edit"));
  const auto snapshot = Doc().undoHistory.undoStack.front().snapshotPath;
  ASSERT_TRUE(std::filesystem::exists(snapshot));

  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(registry.Run(cmd::kDoubleTime, context));
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_FALSE(Doc().CanRedo());
  EXPECT_FALSE(std::filesystem::exists(snapshot));
  // Undo now leaves the halved regions alone.
  Doc().Undo();
  EXPECT_EQ(Doc().instrument.regions[0].endSample, 40000);
}

// The crossing nearest a loop end just before the region's end can lie past
// that end: the loop stays inside its region.
TEST_F(RateCommandsTest, DoubleTimeKeepsALoopThatEndsNearItsRegionsEndInsideIt) {
  OpenSine(88200);
  WithOneRegion(R(0, 39980, 20000, 39978));
  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(registry.Run(cmd::kDoubleTime, context));
  const Region& r = Doc().instrument.regions[0];
  EXPECT_EQ(r.endSample, 19990);
  EXPECT_LT(r.loopStart, r.loopEnd);
  EXPECT_LE(r.loopEnd, r.endSample);
  EXPECT_GE(r.loopEnd, 19990 - 25);
}

TEST_F(RateCommandsTest, Sp1200RepitchTruncatesTheLengthAndSetsMinusFive) {
  OpenSine(44100);
  WithOneRegion(R(0, 44100));
  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(registry.Run(cmd::kSp1200Repitch, context));
  EXPECT_EQ(host.Shown()[0].icon, MessageIcon::Question);
  EXPECT_THAT(host.Shown()[0].text, HasSubstr("Speed Factor: 1.3348x"));
  EXPECT_EQ(Doc().FrameCount(), 33037);
  EXPECT_EQ(Doc().instrument.regions[0].endSample, 33037);  // trunc(44100 / ratio)
  EXPECT_EQ(Doc().instrument.params.pitch, -5);
  EXPECT_NEAR(PitchOfWholeFile(), 441.0 * 1.3348398541700344, 1.5);
}

TEST_F(RateCommandsTest, DownsampleTo44kFrom48kScalesSelectionAndKeepsTheCursorInside) {
  OpenSine(48000, 48000, 480.0);
  view.loopIn = 4800;
  view.loopOut = 9600;
  view.cursorFrame = 48000;  // at the very end
  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(registry.Run(cmd::kResampleTo44k, context));
  EXPECT_EQ(host.Shown()[0].text,
            "Convert sample rate from 48000 Hz to 44100 Hz?\n\nDuration and pitch will remain unchanged.\n\n"
            "This operation cannot be undone. Continue?");
  EXPECT_EQ(Doc().FrameCount(), 44099);
  EXPECT_EQ(Doc().audio.format.nSamplesPerSec, 44100u);
  EXPECT_EQ(Doc().audio.format.nAvgBytesPerSec, 88200u);
  EXPECT_EQ(view.loopIn, 4410);
  EXPECT_EQ(view.loopOut, 8820);
  EXPECT_LE(view.cursorFrame, Doc().FrameCount());
  EXPECT_NEAR(PitchOfWholeFile(), 480.0, 1.0);  // same pitch at the new rate
  EXPECT_EQ(frame.Lines().back(), "Sample rate conversion complete! 48000 Hz \xE2\x86\x92 44100 Hz");
}

TEST_F(RateCommandsTest, ResampleTo46875FromCdRateGoesUpAndLengthens) {
  OpenSine(44100);
  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(registry.Run(cmd::kResampleTo46875, context));
  EXPECT_THAT(host.Shown()[0].text, HasSubstr("Direction: Resampling up\n"));
  EXPECT_EQ(Doc().FrameCount(), static_cast<int64_t>(44100 / (44100 / 46875.0)));
  EXPECT_EQ(Doc().audio.format.nSamplesPerSec, 46875u);
  EXPECT_EQ(frame.Lines().back(), "Sample rate conversion complete! 44100 Hz \xE2\x86\x92 46875 Hz (up)");
}

TEST_F(RateCommandsTest, DoubleTimeConversionsHalveAtTheNewRate) {
  struct Case {
    int id;
    uint32_t rate;
    int64_t frames;
  };
  for (const Case& k : {Case{cmd::kResampleTo22kDoubleTime, 22050, 22050},
                        Case{cmd::kResampleTo16kDoubleTime, 16000, 16000}}) {
    SCOPED_TRACE(k.id);
    OpenSine(88200);
    WithOneRegion(R(0, 88200, 1000, 40000));
    host.Answer(MessageAnswer::Yes);
    ASSERT_TRUE(registry.Run(k.id, context));
    EXPECT_EQ(Doc().FrameCount(), k.frames);
    EXPECT_EQ(Doc().audio.format.nSamplesPerSec, k.rate);
    EXPECT_EQ(Doc().instrument.regions[0].endSample, k.frames);
    EXPECT_EQ(Doc().instrument.params.pitch, -12);
  }
}

TEST_F(RateCommandsTest, WithoutInstrumentDataOnlyTheSelectionMovesAndThePitchLineStillShows) {
  OpenSine(88200);
  Doc().instrument.regions = {R(0, 88200)};  // present but not instrument data
  view.loopIn = 1000;
  view.loopOut = 3001;
  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(registry.Run(cmd::kDoubleTime, context));
  EXPECT_EQ(FramesOf(Doc().instrument), (std::vector<Frames>{{0, 88200, -1, -1}}));
  EXPECT_EQ(Doc().instrument.params.pitch, 0);
  EXPECT_EQ(view.loopIn, 500);
  EXPECT_EQ(view.loopOut, 1500);
  EXPECT_THAT(frame.Lines(), ::testing::Contains("Double-time: Global pitch set to -12 semitones."));
  EXPECT_THAT(frame.Lines(), ::testing::Not(::testing::Contains("Double-time: Adjusting region boundaries...")));
}

TEST_F(RateCommandsTest, GuardsAndRefusalsChangeNothing) {
  struct Case {
    int id;
    uint32_t rate;
    int bits;
    bool answerNo;
    const char* text;
  };
  const Case cases[] = {
      {cmd::kResampleTo44k, 22050, 16, false,
       "Sample rate is already 22050 Hz. Use this function to resample down from higher samplerate."},
      {cmd::kResampleTo22k, 22050, 16, false, "Already at 22050 Hz."},
      {cmd::kResampleTo16k, 16000, 16, false, "The sample is already at 16000 Hz."},
      {cmd::kResampleTo46875, 46875, 16, false, "Sample rate is already 46875 Hz."},
      {cmd::kResampleTo22k, 44100, 24, false, "Currently only 16-bit audio is supported."},
      {cmd::kSp1200Repitch, 44100, 24, false, "Currently only 16-bit audio is supported for this operation."},
      {cmd::kDoubleTime, 44100, 24, false, "Currently only 16-bit audio is supported for this operation."},
      {cmd::kResampleTo22k, 44100, 16, true, nullptr},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.id);
    OpenSine(3000, k.rate);
    ASSERT_TRUE(Doc().PushUndo(kUndoRegionsOnly, "Kept"));
    if (k.bits == 24) {  // relabel the bytes: only the depth guard reads them
      Doc().audio.format.wBitsPerSample = 24;
      Doc().audio.format.nBlockAlign = 3;
    }
    const auto before = Doc().audio.data;
    const size_t shown = host.Shown().size();
    // Double Time asks first and checks the depth after.
    if (k.answerNo)
      host.Answer(MessageAnswer::No);
    else if (k.id == cmd::kDoubleTime)
      host.Answer(MessageAnswer::Yes);
    ASSERT_TRUE(registry.Run(k.id, context));
    if (k.text) {
      EXPECT_EQ(host.Texts().back(), k.text);
    }
    EXPECT_EQ(Doc().audio.data, before);
    EXPECT_EQ(Doc().audio.format.nSamplesPerSec, k.rate);
    EXPECT_TRUE(Doc().CanUndo());
    EXPECT_GT(host.Shown().size(), shown);
  }
}

TEST_F(RateCommandsTest, WithoutAudioEachSaysSo) {
  for (int id : {cmd::kDoubleTime, cmd::kResampleTo44k, cmd::kResampleTo16kDoubleTime}) {
    ASSERT_TRUE(registry.Run(id, context));
    EXPECT_EQ(host.Texts().back(), "No audio data loaded.");
  }
}

TEST_F(RateCommandsTest, TheMenuListsTheConversionsInOrder) {
  std::vector<std::string> texts;
  for (const MenuEntry& m : registry.MenuBar())
    if (m.text == "&ReTime/ReSample")
      for (const MenuEntry& e : m.entries) texts.push_back(e.kind == MenuEntry::Kind::kSeparator ? "-" : e.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"Double Time (pitch shift +12)", "SP-1200 Repitch (+5 semi)", "-",
                                             "Downsample to 44kHz", "Downsample to 22kHz",
                                             "Downsample to 22kHz with Double Time",
                                             "Resample to 46.875kHz (Medieval)", "Downsample to 16kHz (voice)"}));
  EXPECT_TRUE(registry.Problems().empty());
}

}  // namespace
}  // namespace zandrel
