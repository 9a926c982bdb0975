// A loop sampler take entering the document: format, tempo tags, the log
// lines, no stale loop points, and one undo step back to the old sample.
#include <gtest/gtest.h>

#include <cstring>

#include "document/document_fixture.h"
#include "document/instrument_chunks.h"
#include "support/comma_locale.h"
#include "tools/sampling/loop_take_intake.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

class LoopTakeIntakeTest : public DocumentTest {
 protected:
  void OpenOld() {
    OpenRamp(50000, 22050);
    Doc().instrument.hasInstrument = true;
    Doc().instrument.params.loopStart = 40000;
    Doc().instrument.params.loopEnd = 49000;
    Doc().instrument.params.rootNote = 48;
    Doc().instrument.regions.push_back(Region{});
    Doc().undoHistory.Clear();
    Doc().SetModifiedFlag(false);
  }
  // A whole 2-bar 4/4 take at 120 BPM: 4 seconds.
  static std::vector<int16_t> Take(size_t frames = 176400) {
    std::vector<int16_t> t(frames);
    for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<int16_t>(i % 1000 - 500);
    return t;
  }
};

TEST_F(LoopTakeIntakeTest, AFullTwoBarTakeBecomesAFourSecondLoopOfEightBeats) {
  OpenOld();
  const LoopIntakeResult r = TakeLoopIntoDocument(Doc(), Take(), "120", "2");
  ASSERT_TRUE(r.changed);
  EXPECT_EQ(r.log,
            "Loop recorded successfully: 4.00 seconds, 44100 Hz, 16-bit, Mono\n"
            "Tempo set to 120.0 BPM, display switched to beats");
  const CQuorvelDoc& doc = Doc();
  EXPECT_EQ(doc.FrameCount(), 176400);
  EXPECT_EQ(doc.audio.format.nSamplesPerSec, 44100u);
  EXPECT_EQ(doc.audio.format.nAvgBytesPerSec, 88200u);
  EXPECT_EQ(doc.audio.format.nBlockAlign, 2);
  int16_t s = 0;
  std::memcpy(&s, doc.audio.data.data() + 2 * 1234, 2);
  EXPECT_EQ(s, 234 - 500);
  const InstrumentParams& p = doc.instrument.params;
  EXPECT_TRUE(doc.instrument.hasInstrument);
  EXPECT_TRUE(doc.instrument.regions.empty());
  EXPECT_FLOAT_EQ(p.bpm, 120.0f);
  EXPECT_EQ(p.beats, 8);
  EXPECT_EQ(p.bars, 2);
  EXPECT_EQ(p.playMode, "loop");
  EXPECT_EQ(p.sampleMode, "single");
  EXPECT_EQ(p.timeMode, "bpm");
  EXPECT_EQ(p.loopStart, -1);  // the old loop lay beyond nothing it now knows
  EXPECT_EQ(p.loopEnd, -1);
  EXPECT_EQ(p.rootNote, 48);
  EXPECT_TRUE(doc.IsModified());
}

TEST_F(LoopTakeIntakeTest, UndoBringsBackTheOldSampleAndItsLoop) {
  OpenOld();
  const std::vector<uint8_t> oldData = Doc().audio.data;
  ASSERT_TRUE(TakeLoopIntoDocument(Doc(), Take(), "120", "2").changed);
  ASSERT_EQ(Doc().undoHistory.undoStack.size(), 1u);
  EXPECT_EQ(Doc().undoHistory.undoStack.back().kind, kUndoWithAudio);
  Doc().Undo();
  EXPECT_EQ(Doc().audio.data, oldData);
  EXPECT_EQ(Doc().audio.format.nSamplesPerSec, 22050u);
  EXPECT_EQ(Doc().instrument.params.loopStart, 40000);
  EXPECT_EQ(Doc().instrument.regions.size(), 1u);
  Doc().Redo();
  EXPECT_EQ(Doc().FrameCount(), 176400);
}

TEST_F(LoopTakeIntakeTest, TempoTexts) {
  struct Case {
    const char* tempo;
    bool hasInstrument;
    float bpm;
    int beats;
    const char* secondLine;
  };
  const Case cases[] = {
      {"120.5", true, 120.5f, 8, "Tempo set to 120.5 BPM, display switched to beats"},
      {"120,5", true, 120.5f, 8, "Tempo set to 120.5 BPM, display switched to beats"},  // typed in German
      {" 97.5 BPM", true, 97.5f, 7, "Tempo set to 97.5 BPM, display switched to beats"},
      {"0", false, 120.0f, 4, "Tempo set to 0.0 BPM, display switched to beats"},
      {"abc", false, 120.0f, 4, "Tempo set to 0.0 BPM, display switched to beats"},
  };
  for (const Case& c : cases) {
    OpenRamp(100);
    Doc().instrument.Reset();
    const LoopIntakeResult r = TakeLoopIntoDocument(Doc(), Take(), c.tempo, "0");
    EXPECT_EQ(Doc().instrument.hasInstrument, c.hasInstrument) << c.tempo;
    EXPECT_FLOAT_EQ(Doc().instrument.params.bpm, c.bpm) << c.tempo;
    EXPECT_EQ(Doc().instrument.params.beats, c.beats) << c.tempo;
    EXPECT_EQ(Doc().instrument.params.bars, 1) << c.tempo;  // "0" leaves the bars
    EXPECT_EQ(Doc().instrument.params.playMode, "loop") << c.tempo;
    EXPECT_EQ(Doc().instrument.params.timeMode, "bpm") << c.tempo;
    EXPECT_EQ(r.log.substr(r.log.find('\n') + 1), c.secondLine) << c.tempo;
  }
}

// Under the locale of a German user the tempo typed with a point keeps its
// fraction all the way into the saved file, and the log keeps its points.
TEST_F(LoopTakeIntakeTest, ACommaLocaleLosesNoTempoAndWritesPoints) {
  OpenOld();
  ScopedCommaLocale comma;
  const LoopIntakeResult r = TakeLoopIntoDocument(Doc(), Take(), "120.5", "2");
  EXPECT_EQ(r.log,
            "Loop recorded successfully: 4.00 seconds, 44100 Hz, 16-bit, Mono\n"
            "Tempo set to 120.5 BPM, display switched to beats");
  EXPECT_FLOAT_EQ(Doc().instrument.params.bpm, 120.5f);
  EXPECT_EQ(Doc().instrument.params.beats, 8);  // 4 s at 120.5 BPM: 8.03 beats

  ASSERT_TRUE(Doc().OnSaveDocument(dir / "take.wav"));
  CWavLoader saved;
  ASSERT_TRUE(saved.Load(dir / "take.wav"));
  InstrumentData tnge;
  ParseInstrumentChunk(saved.chunks, saved.FrameCount(), tnge, nullptr);
  EXPECT_FLOAT_EQ(tnge.params.bpm, 120.5f);
  InstrumentData acid;  // the default tempo, so the acid chunk's is taken
  ReadAcidChunk(saved.chunks, acid, nullptr);
  EXPECT_FLOAT_EQ(acid.params.bpm, 120.5f);
  EXPECT_EQ(acid.params.beats, 8);
}

}  // namespace
}  // namespace zandrel
