#include "document/quorvel_doc.h"

#include <gmock/gmock.h>

#include <algorithm>

#include "document/instrument_chunks.h"
#include "document_fixture.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using QuorvelDocEv = RecordingObserver::Event;

class OpenTest : public DocumentTest {};

TEST_F(OpenTest, ConvertsToMono16AndLogsTheFileProperties) {
  frame.log.AppendLog("Load WAV");
  const Bytes stereo24 = WavBuilder().Fmt(1, 2, 48000, 24).Data(Bytes(6 * 48000, 0)).Build();
  ASSERT_TRUE(Doc().LoadWav(Write("song.wav", stereo24)));
  EXPECT_THAT(frame.Lines(), ElementsAre("No 'smpl' chunk found in this WAV file.",
                                         "--- WAV File Information: song.wav ---", "Audio Format: 1 (PCM)",
                                         "Channels: 1 (Mono)", "Sample Rate: 48000 Hz", "Bits Per Sample: 16-bit",
                                         "Block Align: 2 bytes", "Average Bytes/Sec: 96000",
                                         "Audio Data Size: 96000 bytes", "Duration: 1.000 seconds"));
  EXPECT_EQ(Doc().GetTitle(), "song.wav");
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_FALSE(Doc().CanRedo());
  EXPECT_EQ(observer.Significant(), (std::vector<QuorvelDocEv>{QuorvelDocEv::kStop, QuorvelDocEv::kReplaced}));
}

TEST_F(OpenTest, ExtensiblePcmBecomesPlainPcmAndFourChannelsStay) {
  ASSERT_TRUE(Doc().LoadWav(
      Write("ext.wav", WavBuilder().Chunk("fmt ", ExtensibleFmtRecord(2, 44100, 16, 1)).Data(Pcm16({2, 4})).Build())));
  EXPECT_THAT(frame.Lines(), Contains("Audio Format: 65534 (PCM (Extensible))"));
  EXPECT_THAT(frame.Lines(), Contains("Channels: 1 (Mono)"));
  EXPECT_EQ(Doc().audio.format.wFormatTag, 1);
  EXPECT_EQ(Doc().audio.isExtensible, 0);

  ASSERT_TRUE(Doc().LoadWav(Write("quad.wav", WavBuilder().Fmt(1, 4, 44100, 16).Data(Pcm16({1, 2, 3, 4})).Build())));
  EXPECT_THAT(frame.Lines(), Contains("Channels: 4 (Multichannel)"));
  EXPECT_EQ(Doc().audio.format.nChannels, 4);
  EXPECT_EQ(Doc().FrameCount(), 1);
}

TEST_F(OpenTest, AFailedOpenLeavesTheDocumentAsItWas) {
  const Bytes json = TngeBody(R"({"regions":[{"sample.end":10},{"sample.start":10,"sample.end":20}]})");
  OpenRamp(100, 44100, {{"LIST", ListInfo({{"TNGE", json}})}});
  ASSERT_TRUE(Doc().PushUndo(kUndoRegionsOnly, "edit"));
  const auto lines = frame.Lines();
  const auto data = Doc().audio.data;
  observer.events.clear();

  struct Case {
    const char* name;
    Bytes bytes;
    const char* message;
  };
  const Case cases[] = {
      {"text.wav", Text("hello"), "This is not a valid RIFF file."},
      {"nofmt.wav", WavBuilder().Data(Pcm16({1})).Build(), "Cannot open nofmt.wav: it has no format chunk."},
      {"alaw.wav", WavBuilder().Fmt(6, 1, 8000, 8).Data(Bytes{0xD5, 0x55}).Build(),
       "Cannot open alaw.wav: its audio is compressed or encoded (format 6), which cannot be edited."},
      {"adpcm.wav", WavBuilder().Fmt(2, 1, 8000, 4, 256).Data(Bytes(256, 1)).Build(),
       "Cannot open adpcm.wav: its audio is compressed or encoded (format 2), which cannot be edited."},
      {"zero-rate.wav", WavBuilder().Fmt(1, 1, 0, 16).Data(Pcm16({1})).Build(),
       "Cannot open zero-rate.wav: its format chunk names no channels or no sample rate."},
      {"align.wav", WavBuilder().Fmt(1, 2, 8000, 16, 3).Data(Bytes(12, 1)).Build(),
       "Cannot open align.wav: its block alignment (3 bytes) does not match 2 channels of 16-bit samples."},
      {"double.wav", WavBuilder().Fmt(3, 1, 8000, 64).Data(Bytes(16, 0)).Build(),
       "Cannot open double.wav: 64-bit floating-point samples are not supported."},
      // Its 16-bit form would need a block alignment of 131070 bytes.
      {"wide.wav", WavBuilder().Fmt(1, 65535, 8000, 8).Data(Bytes(65535, 0x80)).Build(),
       "Cannot open wide.wav: 65535 channels at 8000 Hz are more than a 16-bit WAV header can describe."},
      {"swallowed.wav", WavBuilder().RawChunk("LIST", 5000, Text("INFO")).Fmt(1, 1, 8000, 16).Data(Pcm16({9})).Build(),
       "Cannot open swallowed.wav: a chunk claims more bytes than the file holds (the \"LIST\" chunk declares 5000 "
       "bytes, the file holds 38 after its header), so the audio cannot be found."},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Doc().LoadWav(Write(c.name, c.bytes))) << c.name;
    EXPECT_EQ(host.Texts().back(), c.message);
  }
  EXPECT_FALSE(Doc().LoadWav(dir / "missing.wav"));
  EXPECT_EQ(Doc().audio.data, data);
  EXPECT_EQ(Doc().instrument.regions.size(), 2u);
  EXPECT_TRUE(Doc().CanUndo());
  EXPECT_EQ(frame.Lines(), lines);
  EXPECT_EQ(Doc().GetTitle(), "ramp.wav");
  EXPECT_THAT(observer.events, IsEmpty());
}

TEST_F(OpenTest, ATruncatedDataChunkOpensWithWhatTheFileHoldsAndSaysSo) {
  // 8.8 KB of audio whose data chunk claims 4 GiB.
  const Bytes damaged =
      WavBuilder().Fmt(1, 1, 44100, 16).RawChunk("data", 0xFFFFFFFF, Pcm16(std::vector<int16_t>(4400, 5))).Build();
  const auto path = Write("damaged.wav", damaged);
  ASSERT_TRUE(Doc().LoadWav(path));
  EXPECT_EQ(Doc().FrameCount(), 4400);
  EXPECT_THAT(frame.Lines(), Contains("Duration: 0.100 seconds"));
  const auto warnings = std::count_if(frame.Lines().begin(), frame.Lines().end(),
                                      [](const std::string& l) { return l.rfind("Warning: ", 0) == 0; });
  EXPECT_EQ(warnings, 1);
  EXPECT_THAT(frame.Lines(), Contains(HasSubstr("lacks 4294958495 bytes")));

  // Saved in place, the file holds the audio it showed.
  ASSERT_TRUE(Doc().OnSaveDocument(path));
  CWavLoader back;
  ASSERT_TRUE(back.Load(path));
  EXPECT_EQ(back.data, Pcm16(std::vector<int16_t>(4400, 5)));
}

TEST_F(OpenTest, ReadsTheTimeLimitFromTheSettings) {
  const struct {
    const char* value;
    float limit;
  } cases[] = {{nullptr, 20.0f}, {"1500", 15.0f}, {"100000", -1.0f}, {"99999", 999.99f}, {"junk", 20.0f}};
  for (const auto& c : cases) {
    MemorySettings s;
    if (c.value) s.SetString("Settings", "MaxCutoffTime", c.value);
    ScopedSettingsStore scope(&s);
    EXPECT_EQ(CQuorvelDoc().timeLimit, c.limit) << (c.value ? c.value : "missing");
  }
}

TEST_F(OpenTest, NewDocumentIsEmptyUntitledAndHasNoHistory) {
  OpenRamp(100);
  ASSERT_TRUE(Doc().PushUndo(kUndoWithAudio, "x"));
  Doc().SetModifiedFlag(true);
  observer.events.clear();
  ASSERT_TRUE(Doc().OnNewDocument());
  EXPECT_FALSE(Doc().HasAudio());
  EXPECT_EQ(Doc().audio.format, PcmFormat{});
  EXPECT_EQ(Doc().instrument, InstrumentData{});
  EXPECT_EQ(Doc().GetTitle(), "Untitled");
  EXPECT_TRUE(Doc().GetPathName().empty());
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_EQ(observer.Significant().front(), QuorvelDocEv::kStop);
  EXPECT_EQ(observer.Significant().back(), QuorvelDocEv::kReplaced);
}

// ------------------------------------------------------------------ Save --

class SaveTest : public DocumentTest {
 protected:
  void AddRegions(std::vector<Region> regions) {
    Doc().instrument.hasInstrument = true;
    Doc().instrument.regions = std::move(regions);
  }
  CWavLoader Reload(const std::filesystem::path& path) {
    CWavLoader wav;
    EXPECT_TRUE(wav.Load(path));
    return wav;
  }
};

TEST_F(SaveTest, AudioPastTheLimitIsCutOnlyAfterTheUserAgrees) {
  OpenRamp(30 * 44100);
  AddRegions({{0, 800000}, {800000, 882000}, {881000, 900000}, {900000, 1323000}});
  const auto path = dir / "out.wav";
  const std::string question =
      "The current audio duration is 30.00 seconds, which exceeds the maximum limit of 20.00 seconds for 44100 Hz "
      "Sample Rate.\n\nThe WAV file will be trimmed to 20.00 seconds when saved and the regions adjusted "
      "accordingly.\n\nDo you want to continue?";

  // No: nothing is written and the document is exactly as it was.
  Doc().SetModifiedFlag(true);
  const InstrumentData before = Doc().instrument;
  const auto chunksBefore = Doc().audio.chunks;
  host.Answer(MessageAnswer::No);
  EXPECT_FALSE(Doc().OnSaveDocument(path));
  EXPECT_EQ(host.Shown().back().text, question);
  EXPECT_EQ(host.Shown().back().icon, MessageIcon::Warning);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(Doc().FrameCount(), 30 * 44100);
  EXPECT_EQ(Doc().instrument, before);
  EXPECT_EQ(Doc().audio.chunks, chunksBefore);
  EXPECT_TRUE(Doc().IsModified());

  // Yes: the file and the document hold 882000 frames; straddling regions go.
  host.Answer(MessageAnswer::Yes);
  observer.events.clear();
  ASSERT_TRUE(Doc().OnSaveDocument(path));
  const CWavLoader saved = Reload(path);
  EXPECT_EQ(saved.FrameCount(), 882000);
  EXPECT_EQ(Doc().FrameCount(), 882000);
  ASSERT_EQ(Doc().instrument.regions.size(), 2u);
  EXPECT_EQ(Doc().instrument.regions[1].endSample, 882000);
  EXPECT_FALSE(Doc().IsModified());
  EXPECT_EQ(Doc().GetPathName(), path);
  EXPECT_EQ(observer.Significant(), (std::vector<QuorvelDocEv>{QuorvelDocEv::kStop, QuorvelDocEv::kAudio}));
}

TEST_F(SaveTest, TheCutOfASaveCanBeUndone) {
  OpenRamp(30 * 44100);
  AddRegions({{0, 800000}, {800000, 1323000}});
  const InstrumentData before = Doc().instrument;
  const auto audioBefore = Doc().audio.data;
  frame.log.Clear();

  host.Answer(MessageAnswer::Yes);
  ASSERT_TRUE(Doc().OnSaveDocument(dir / "cut.wav"));
  EXPECT_EQ(Doc().FrameCount(), 882000);
  EXPECT_THAT(frame.Lines(), Contains("Duration: 20.000 seconds (trimmed to the device limit)"));
  ASSERT_TRUE(Doc().CanUndo());
  Doc().Undo();
  EXPECT_EQ(Doc().audio.data, audioBefore);
  EXPECT_EQ(Doc().instrument, before);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_THAT(frame.Lines(), Contains("Undo: Trim to Device Limit"));

  // A save that fails after the question leaves no entry behind.
  host.Answer(MessageAnswer::Yes);
  EXPECT_FALSE(Doc().OnSaveDocument(dir / "no-such-folder" / "cut.wav"));
  EXPECT_FALSE(Doc().CanUndo());
  EXPECT_EQ(Doc().audio.data, audioBefore);

  // When the undo step cannot be stored and the user will not go on, nothing
  // is written or cut.
  Doc().undoHistory.snapshotFolder = "/dev/null/cannot-exist";
  host.Answer(MessageAnswer::Yes).Answer(MessageAnswer::No);
  EXPECT_FALSE(Doc().OnSaveDocument(dir / "kept.wav"));
  EXPECT_FALSE(std::filesystem::exists(dir / "kept.wav"));
  EXPECT_EQ(Doc().audio.data, audioBefore);
  EXPECT_EQ(host.PendingAnswers(), 0u);
}

TEST_F(SaveTest, TheByteBudgetDecidesTheCut) {
  const struct {
    const char* cutoff;
    uint32_t rate;
    size_t bytes;
  } cases[] = {{"3000", 44100, 1875000}, {"2000", 48000, 937500 * 2}, {"100000", 44100, 25 * 88200}};
  for (const auto& c : cases) {
    settings.SetString("Settings", "MaxCutoffTime", c.cutoff);
    DestroyDoc();
    OpenRamp(25 * c.rate, c.rate);
    if (std::string(c.cutoff) != "100000") host.Answer(MessageAnswer::Yes);
    ASSERT_TRUE(Doc().OnSaveDocument(dir / "cut.wav"));
    EXPECT_EQ(Reload(dir / "cut.wav").data.size(), c.bytes) << c.cutoff << " at " << c.rate;
  }
  EXPECT_EQ(host.PendingAnswers(), 0u);
}

TEST_F(SaveTest, RegionsAreCappedToTheDeviceLimit) {
  OpenRamp(12000);
  std::vector<Region> regions;
  for (int i = 0; i < 12; ++i) regions.push_back({i * 1000, i * 1000 + 1000, -1, -1, i * 10, i * 10 + 9, i * 10});
  AddRegions(regions);
  ASSERT_TRUE(Doc().OnSaveDocument(dir / "cap.wav"));
  ASSERT_EQ(Doc().instrument.regions.size(), 8u);
  EXPECT_EQ(Doc().instrument.regions[7].endSample, 12000);
  EXPECT_EQ(Doc().instrument.regions[7].hiKey, 127);
  EXPECT_THAT(frame.Lines(), Contains("Save: Trimmed 4 regions to meet EP limit of 8 regions."));

  // Without a main frame the cap is 1000 and nothing is logged.
  DestroyDoc();
  frame.log.Clear();
  OpenRamp(12000);
  Doc().SetFrame(nullptr);
  AddRegions(regions);
  ASSERT_TRUE(Doc().OnSaveDocument(dir / "nocap.wav"));
  EXPECT_EQ(Doc().instrument.regions.size(), 12u);
}

TEST_F(SaveTest, PreparesTheInstrumentForTheDevice) {
  OpenRamp(1000, 44100,
           {{"acid", AcidBody(60, 4, 120.0f)},
            {"LIST", ListInfo({{"INAM", Text("no tnge")}})},
            {"cue ", Bytes(28, 0)},
            {"smpl", SmplBody(60)}});
  AddRegions({{0, 10, -1, -1, 0, 40, 20}, {10, 15}, {15, 600, -1, -1, 50, 80, 60}, {600, 1000, -1, -1, 81, 127, 100}});
  Doc().instrument.params.playMode = "oneshot";
  frame.log.Clear();
  ASSERT_TRUE(Doc().OnSaveDocument(dir / "prep.wav"));
  EXPECT_THAT(frame.Lines(), ElementsAre("Removed orphaned region: startSample=10, endSample=15 (size=5 samples)",
                                         "Adjusted region 0 hiKey from 40 to 49 (Closing gap to be adjacent)",
                                         "MIDI key ranges sanitized to ensure continuous coverage.",
                                         "Stripped non-essential chunks. Kept 1 chunks (LIST/INFO/TNGE and smpl).",
                                         "No LIST INFO chunk found. Creating new one.", "Adding TNGE chunk.",
                                         "Updated smpl chunk: dwMIDIUnityNote = 60 (C4)"));
  const InstrumentData& inst = Doc().instrument;
  ASSERT_EQ(inst.regions.size(), 3u);
  EXPECT_EQ(inst.regions[0].hiKey, 50);
  EXPECT_EQ(inst.regions[1].loKey, 50);
  EXPECT_EQ(inst.regions[1].hiKey, 81);
  EXPECT_EQ(inst.params.release, 255);

  // The file: smpl kept, acid and cue gone, a new LIST/INFO with the TNGE.
  const CWavLoader saved = Reload(dir / "prep.wav");
  ASSERT_EQ(saved.chunks.size(), 2u);
  EXPECT_TRUE(saved.chunks[0].Is("smpl"));
  EXPECT_TRUE(saved.chunks[1].Is("LIST"));
  EXPECT_EQ(saved.chunks, Doc().audio.chunks);
  InstrumentData back;
  ParseInstrumentChunk(saved.chunks, saved.FrameCount(), back, nullptr);
  EXPECT_EQ(back.regions, inst.regions);
  EXPECT_EQ(back.params.release, 255);
}

TEST_F(SaveTest, AFailedWriteLeavesTheDocumentExactlyAsItWas) {
  OpenRamp(1000, 44100, {{"acid", AcidBody(60, 4, 120.0f)}, {"cue ", Bytes(28, 0)}});
  AddRegions({{0, 5}, {5, 1000, -1, -1, 10, 20, 15}});
  Doc().SetModifiedFlag(true);
  const InstrumentData before = Doc().instrument;
  const auto chunks = Doc().audio.chunks;
  observer.events.clear();
  EXPECT_FALSE(Doc().OnSaveDocument(dir / "missing-folder" / "x.wav"));
  EXPECT_EQ(host.Texts().back(), "Failed to create file for saving.");
  EXPECT_EQ(Doc().instrument, before);
  EXPECT_EQ(Doc().audio.chunks, chunks);
  EXPECT_EQ(Doc().FrameCount(), 1000);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_EQ(Doc().GetTitle(), "ramp.wav");
  EXPECT_THAT(observer.Significant(), IsEmpty());
}

TEST_F(SaveTest, ARegionWithExtremeBoundsIsRemovedAsOrphanedOnSave) {
  const Bytes json = TngeBody(
      R"({"regions":[{"sample.start":-1,"sample.end":9223372036854775807},{"sample.start":0,"sample.end":500}]})");
  OpenRamp(1000, 44100, {{"LIST", ListInfo({{"TNGE", json}})}});
  const auto path = dir / "saved.wav";
  ASSERT_TRUE(Doc().OnSaveDocument(path));
  EXPECT_THAT(frame.Lines(), Contains("Removed orphaned region: startSample=-1, endSample=9223372036854775807 "
                                      "(size=9223372036854775808 samples)"));
  ASSERT_EQ(Doc().instrument.regions.size(), 1u);
  EXPECT_EQ(Doc().instrument.regions[0].endSample, 500);
}

TEST_F(SaveTest, SavedFileReopensWithTheSameInstrument) {
  OpenRamp(44100);
  AddRegions({{0, 22050, 100, 20000, 0, 60, 48}, {22050, 44100, -1, -1, 60, 127, 72}});
  Doc().instrument.params.playMode = "loop";
  Doc().instrument.params.bpm = 93.5f;
  const auto path = dir / "again.wav";
  ASSERT_TRUE(Doc().OnSaveDocument(path));
  const InstrumentData saved = Doc().instrument;
  ASSERT_TRUE(Doc().LoadWav(path));
  EXPECT_EQ(Doc().instrument.regions, saved.regions);
  EXPECT_EQ(Doc().instrument.params.bpm, 93.5f);
  EXPECT_EQ(Doc().instrument.params.smplUnityNote, 60);
}

TEST_F(SaveTest, InMemoryOpenSaveAndExportGiveTheBytesOfTheFiles) {
  const Bytes file = WavBuilder().Fmt(1, 2, 44100, 24).Data(Bytes(6 * 1000, 0x11)).Build();
  ASSERT_TRUE(Doc().LoadWav(Write("disk.wav", file)));
  const std::vector<std::string> fromDisk = frame.Lines();
  AddRegions({{0, 500}, {500, 1000}});
  ASSERT_TRUE(Doc().OnSaveDocument(dir / "disk-saved.wav"));
  ASSERT_TRUE(Doc().ExportWavWithoutLimits(dir / "disk-export.wav"));

  CQuorvelDoc memory;
  FakeFrame memoryFrame;
  memory.SetFrame(&memoryFrame);
  ASSERT_TRUE(memory.LoadWavFromMemory(file, dir / "disk.wav"));
  EXPECT_EQ(memoryFrame.Lines(), fromDisk);
  EXPECT_EQ(memory.GetTitle(), "disk.wav");
  memory.instrument.hasInstrument = true;
  memory.instrument.regions = {{0, 500}, {500, 1000}};
  memory.SetModifiedFlag(true);
  Bytes saved;
  MemoryByteSink sink(saved);
  ASSERT_TRUE(memory.OnSaveDocument(sink, dir / "memory-saved.wav"));
  EXPECT_EQ(saved, ReadFileBytes(dir / "disk-saved.wav"));
  EXPECT_FALSE(memory.IsModified());
  EXPECT_EQ(memory.GetPathName(), dir / "memory-saved.wav");
  EXPECT_FALSE(std::filesystem::exists(dir / "memory-saved.wav"));
  Bytes exported;
  MemoryByteSink exportSink(exported);
  ASSERT_TRUE(memory.ExportWavWithoutLimits(exportSink));
  EXPECT_EQ(exported, ReadFileBytes(dir / "disk-export.wav"));

  // Bytes that are no WAV file leave the document as it was.
  EXPECT_FALSE(memory.LoadWavFromMemory(Text("hello"), "text.wav"));
  EXPECT_EQ(memory.GetPathName(), dir / "memory-saved.wav");
  EXPECT_EQ(memory.instrument.regions.size(), 2u);
}

TEST_F(SaveTest, TempCopyAndExportNeverChangeTheDocument) {
  settings.SetString("Settings", "MaxCutoffTime", "100");  // 1 s
  OpenRamp(2 * 44100, 44100, {{"cue ", Bytes(28, 0)}});
  AddRegions({{0, 3}, {3, 60000}, {60000, 88200}});
  Doc().SetModifiedFlag(true);
  const InstrumentData before = Doc().instrument;
  const auto chunks = Doc().audio.chunks;

  const auto copy = Doc().SaveTempCopy();
  ASSERT_FALSE(copy.empty());
  EXPECT_EQ(copy.filename(), "ramp.wav");
  EXPECT_EQ(Reload(copy).FrameCount(), 44100);  // cut without asking
  const auto second = Doc().SaveTempCopy();
  EXPECT_NE(second, copy);  // never over an existing file
  EXPECT_EQ(second.filename(), "ramp.wav");
  EXPECT_TRUE(std::filesystem::exists(copy));

  ASSERT_TRUE(Doc().ExportWavWithoutLimits(dir / "full.wav"));
  EXPECT_EQ(Reload(dir / "full.wav").FrameCount(), 2 * 44100);
  EXPECT_THAT(frame.Lines(), Contains("WAV file exported successfully to:"));

  EXPECT_EQ(Doc().instrument, before);
  EXPECT_EQ(Doc().audio.chunks, chunks);
  EXPECT_EQ(Doc().FrameCount(), 2 * 44100);
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_EQ(host.PendingAnswers(), 0u);
  std::filesystem::remove_all(second.parent_path());
  std::filesystem::remove(copy);

  // An untitled document's copy is "Untitled.wav"; one without a file but
  // with a title of its own (a downloaded sound) is named after the title.
  Doc().OnNewDocument();
  const auto untitled = Doc().SaveTempCopy();
  EXPECT_EQ(untitled.filename(), "Untitled.wav");
  std::filesystem::remove(untitled);
  Doc().SetTitle("Snare Long.wav");
  const auto titled = Doc().SaveTempCopy();
  EXPECT_EQ(titled.filename(), "Snare Long.wav");
  std::filesystem::remove(titled);
}

TEST_F(SaveTest, ExportCommandsAskForAFileWithTheirDefaultNames) {
  Doc().OnExportWavWithoutLimits();
  EXPECT_EQ(host.Texts().back(), "Please open a WAV file first.");
  OpenRamp(100);
  dialogs.Answer(std::nullopt);
  Doc().OnExportWavWithoutLimits();
  ASSERT_EQ(dialogs.saveRequests.size(), 1u);
  EXPECT_EQ(dialogs.saveRequests[0].defaultPath, dir / "ramp_ramp_nocrop.wav");
  EXPECT_EQ(dialogs.saveRequests[0].filter, "WAV Files (*.wav)|*.wav|All Files (*.*)|*.*||");

  dialogs.Answer(dir / "e.wav");
  Doc().OnExportWavWithoutLimits();
  EXPECT_TRUE(std::filesystem::exists(dir / "e.wav"));
  dialogs.Answer(dir / "no-folder" / "e.wav");
  Doc().OnExportWavWithoutLimits();
  EXPECT_THAT(host.Texts().back(), ::testing::StartsWith("Failed to export WAV file."));
}

TEST_F(SaveTest, TransposeMovesEveryKeyAndMarksModified) {
  OpenRamp(100);
  AddRegions({{0, 50, -1, -1, 120, 127, 124}, {50, 100, -1, -1, 0, 119, 60}});
  Doc().TransposeRegions(12);
  EXPECT_EQ(Doc().instrument.regions[0], (Region{0, 50, -1, -1, 127, 127, 127}));
  EXPECT_EQ(Doc().instrument.regions[1], (Region{50, 100, -1, -1, 12, 127, 72}));
  EXPECT_EQ(Doc().instrument.params.rootNote, 60);  // two regions: the global root stays
  EXPECT_TRUE(Doc().IsModified());
  EXPECT_THAT(frame.Lines(), Contains("Transposed all MIDI notes by 12 semitones (2 regions updated)"));
}

}  // namespace
}  // namespace zandrel
