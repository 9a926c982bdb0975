#include "kits/folder_import.h"

#include <gmock/gmock.h>

#include "kit_fixture.h"
#include "platform/temp_folder.h"
#include "support/named_pipe.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace fs = std::filesystem;

class FolderImportTest : public KitTest {
 protected:
  fs::path Folder() { return dir / "Drums"; }
  bool Import(bool detectNotes = true) { return ImportWavFolder(KitDoc(), Folder(), detectNotes, "Drums"); }
  std::vector<int32_t> Roots() {
    std::vector<int32_t> roots;
    for (const Region& r : KitDoc().instrument.regions) roots.push_back(r.rootNote);
    return roots;
  }
};

TEST_F(FolderImportTest, WithoutNotesTheFilesLieOnKeysFromC2InNameOrder) {
  WriteWav(Folder() / "kick.wav", Ramp(100, 3));
  WriteWav(Folder() / "Snare.WAV", Ramp(200, 4));
  WriteWav(Folder() / "hat.wav", Ramp(300, 5));
  WriteFileBytes(Folder() / "notes.txt", Text("not audio"));
  fs::create_directories(Folder() / "folder.wav");
  ASSERT_TRUE(Import());
  const CQuorvelDoc& doc = KitDoc();
  EXPECT_EQ(doc.instrument.regions,
            (std::vector<Region>{Region{0, 5, -1, -1, 36, 36, 36}, Region{5, 8, -1, -1, 37, 37, 37},
                                 Region{8, 12, -1, -1, 38, 38, 38}}));
  EXPECT_EQ(doc.audio.data, Cat({PcmBytes(Ramp(300, 5)), PcmBytes(Ramp(100, 3)), PcmBytes(Ramp(200, 4))}));
  EXPECT_EQ(doc.instrument.params.playMode, "key");
  EXPECT_EQ(doc.instrument.params.release, 0);
  EXPECT_EQ(doc.GetTitle(), "Drums");
  EXPECT_TRUE(doc.GetPathName().empty());
  EXPECT_FALSE(doc.IsModified());
  EXPECT_FALSE(doc.CanUndo());
  EXPECT_THAT(history.log.lines,
              ElementsAre("--- Folder Import: Drums ---", "Imported 3 WAV files (Drum Kit mode)", "Audio Format: 1 (PCM)",
                          "Channels: 1 (Mono)", "Sample Rate: 44100 Hz", "Bits Per Sample: 16-bit",
                          "Audio Data Size: 24 bytes", "Duration: 0.000 seconds", "MIDI Mapping: C2 (36) to D2 (38)"));
}

TEST_F(FolderImportTest, NotesInTheNamesMakeAnInstrumentWithSharedBoundaryKeys) {
  WriteWav(Folder() / "Bass C4.wav", Ramp(0, 2));
  WriteWav(Folder() / "Bass C2.wav", Ramp(0, 2));
  WriteWav(Folder() / "Bass C3.wav", Ramp(0, 2));
  ASSERT_TRUE(Import());
  EXPECT_EQ(KitDoc().instrument.regions,
            (std::vector<Region>{Region{0, 2, -1, -1, 0, 42, 36}, Region{2, 4, -1, -1, 42, 54, 48},
                                 Region{4, 6, -1, -1, 54, 127, 60}}));
  EXPECT_THAT(history.log.lines, Contains("Imported 3 WAV files (Instrument mode)"));
}

TEST_F(FolderImportTest, NotedFilesComeFirstThenTheOthersByPosition) {
  WriteWav(Folder() / "zap.wav", Ramp(1, 1));
  WriteWav(Folder() / "Lead G3.wav", Ramp(2, 1));
  WriteWav(Folder() / "boom.wav", Ramp(3, 1));
  WriteWav(Folder() / "Lead D3.wav", Ramp(4, 1));
  ASSERT_TRUE(Import());
  EXPECT_EQ(KitDoc().audio.data, PcmBytes({4, 2, 3, 1}));
  EXPECT_EQ(KitDoc().instrument.regions,
            (std::vector<Region>{Region{0, 1, -1, -1, 0, 52, 50}, Region{1, 2, -1, -1, 52, 127, 55},
                                 Region{2, 3, -1, -1, 38, 38, 38}, Region{3, 4, -1, -1, 39, 39, 39}}));

  // Without note detection the same folder is a drum kit in name order.
  ASSERT_TRUE(Import(false));
  EXPECT_EQ(KitDoc().audio.data, PcmBytes({3, 4, 2, 1}));
  EXPECT_EQ(Roots(), (std::vector<int32_t>{36, 37, 38, 39}));
}

TEST_F(FolderImportTest, ANamedPipeCalledWavIsPassedOver) {
  WriteWav(Folder() / "kick.wav", Ramp(100, 3));
  NamedPipe pipe(Folder() / "pipe.wav");
  ASSERT_TRUE(pipe.Created());
  ASSERT_TRUE(Import());
  EXPECT_FALSE(pipe.Rescued());  // the import never waited on the pipe
  EXPECT_EQ(KitDoc().instrument.regions, (std::vector<Region>{Region{0, 3, -1, -1, 36, 36, 36}}));
  EXPECT_EQ(KitDoc().audio.data, PcmBytes(Ramp(100, 3)));
}

TEST_F(FolderImportTest, NothingToImportLeavesTheDocumentAlone) {
  OpenExisting();
  fs::create_directories(Folder());
  EXPECT_FALSE(Import());
  WriteFileBytes(Folder() / "broken.wav", Text("RIFF....WAVEjunk"));
  WriteFileBytes(Folder() / "quad.wav", WavBuilder().Fmt(1, 4, 44100, 16).Data(Pcm16(Ramp(0, 8))).Build());
  EXPECT_FALSE(Import());
  ExpectUnchanged();
  EXPECT_THAT(host.Texts(), Contains("No WAV files found in the selected folder."));
  EXPECT_EQ(host.Texts().back(), "No valid WAV files could be loaded from the folder.");
  EXPECT_THAT(history.log.lines,
              Contains("Warning: " + (Folder() / "quad.wav").string() +
                       " cannot be converted to mono 16-bit PCM (it has 4 channels). Skipping this file."));
}

TEST_F(FolderImportTest, NineFilesWarnWithTheFolderWording) {
  for (int i = 0; i < 9; ++i) WriteWav(Folder() / Format("hit%d.wav", i), Ramp(i, 2));
  WriteWav(Folder() / "other rate.wav", Ramp(0, 2), 48000);
  ASSERT_TRUE(Import());
  EXPECT_EQ(KitDoc().instrument.regions.size(), 9u);
  EXPECT_THAT(history.log.history,
              Contains("Found: 48000 Hz"));  // "hit0" fixed 44100 Hz; the rate line is followed by its skip note
  EXPECT_THAT(history.log.history, Contains("Skipping this file."));
  ASSERT_EQ(host.Shown().size(), 1u);
  EXPECT_EQ(host.Shown()[0].text,
            "WARNING:\nThis import has 9 regions, which exceeds the EP limit of 8 regions.\nWhen saving, only the first "
            "8 regions will be kept.\n\nTo avoid issues, remove the extra regions you don't need.");
}

TEST_F(FolderImportTest, CommandRemembersTheFolderAndTitlesAfterIt) {
  WriteWav(Folder() / "a.wav", Ramp(0, 2));
  OnImportWavsFromFolder(KitDoc(), [] { return false; });  // cancelled: no dialog
  dialogs.Answer(std::nullopt);
  OnImportWavsFromFolder(KitDoc(), [] { return true; });
  EXPECT_FALSE(KitDoc().HasAudio());
  dialogs.Answer(Folder() / "");
  OnImportWavsFromFolder(KitDoc(), [] { return true; });
  EXPECT_EQ(KitDoc().GetTitle(), "Drums");
  EXPECT_EQ(settings.GetString("Settings", "FolderImportLastDir", ""), (Folder() / "").string());
}

// ------------------------------------------------------------ SmplTrek --

// A kit: a header naming the samples, then their RIFF/WAVE files back to back.
Bytes SmplTrekKit(const std::vector<std::string>& names, const std::vector<Bytes>& wavs) {
  Bytes kit = {'S', 'T', 'K', 0x00, 0x01, 0x00};
  for (const std::string& n : names) {
    kit.insert(kit.end(), n.begin(), n.end());
    kit.insert(kit.end(), {0x00, 0x00, 0x10});
  }
  kit.insert(kit.end(), 7, 0xEE);
  for (const Bytes& w : wavs) kit.insert(kit.end(), w.begin(), w.end());
  return kit;
}

TEST(SmplTrekNames, TakesFinishedWavRunsBeforeTheFirstRiff) {
  const Bytes kit = Cat({Text("x"), Bytes{0}, Text("C:\\Kits\\Kick.wav"), Bytes{0}, Text("pad/Snare.WAV"), Bytes{1},
                         Text(".wav"), Bytes{0}, Text("wav"), Bytes{0}, Text("open.wavRIFF"), Bytes{0},
                         Text("after.wav"), Bytes{0}});
  EXPECT_THAT(ReadSmplTrekSampleNames(kit), ElementsAre("Kick.wav", "Snare.WAV", ".wav"));
}

class SmplTrekTest : public FolderImportTest {
 protected:
  std::vector<std::string> Files(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> ScratchFolders() {
    std::vector<std::string> names;
    const fs::path& temp = ProcessTempFolder();
    if (temp.empty() || !fs::exists(temp)) return names;
    for (const auto& e : fs::directory_iterator(temp))
      if (e.path().filename().string().rfind("stk-", 0) == 0) names.push_back(e.path().filename().string());
    return names;
  }
};

TEST_F(SmplTrekTest, ExtractsEveryCompleteBlockUnderTheKitsNames) {
  const Bytes a = MakePcm16Wav(Ramp(10, 3));
  const Bytes b = MakePcm16Wav(Ramp(20, 4));
  const Bytes c = MakePcm16Wav(Ramp(30, 5));
  const fs::path out = dir / "out";
  const auto written = ExtractSmplTrekBlocks(SmplTrekKit({"Kits/kick.wav", "snare.wav"}, {a, b, c}), out);
  EXPECT_EQ(written, (std::vector<fs::path>{out / "kick.wav", out / "snare.wav", out / "Unknown_03.wav"}));
  EXPECT_EQ(ReadFileBytes(out / "kick.wav"), a);
  EXPECT_EQ(ReadFileBytes(out / "Unknown_03.wav"), c);

  // A name listed twice is written twice: one file fewer than blocks.
  const fs::path twice = dir / "twice";
  EXPECT_EQ(ExtractSmplTrekBlocks(SmplTrekKit({"same.wav", "same.wav"}, {a, b}), twice).size(), 2u);
  EXPECT_EQ(Files(twice), (std::vector<std::string>{"same.wav"}));
  EXPECT_EQ(ReadFileBytes(twice / "same.wav"), b);
}

TEST_F(SmplTrekTest, HostileSizesEndTheScanAndWriteNothingOutsideTheBlocks) {
  struct Case {
    const char* what;
    Bytes kit;
    size_t files;
  };
  const Bytes wav = MakePcm16Wav(Ramp(0, 2));
  const Case cases[] = {
      {"wrapping size", Cat({Text("RIFF"), LE32(0xFFFFFFF8u), Text("WAVE"), Bytes(20, 0)}), 0},
      {"size below a header", Cat({Text("RIFF"), LE32(2), Text("WAVE"), Bytes(20, 0)}), 0},
      {"block past the end", Cat({Text("RIFF"), LE32(100), Text("WAVE"), Bytes(8, 0)}), 0},
      {"five bytes", Bytes{'R', 'I', 'F', 'F', 0}, 0},
      {"empty", Bytes{}, 0},
      {"truncated block, then a good one", Cat({Text("RIFF"), LE32(1000), Text("WAVE"), wav}), 1},
  };
  for (const Case& c : cases) {
    const fs::path out = dir / "hostile";
    fs::remove_all(out);
    EXPECT_EQ(ExtractSmplTrekBlocks(c.kit, out).size(), c.files) << c.what;
  }
}

TEST_F(SmplTrekTest, ImportsTheKitAsADrumKitAndRemovesItsFiles) {
  const fs::path kit = dir / "My Kit.stk";
  WriteFileBytes(kit, SmplTrekKit({"b snare.wav", "a kick.wav"}, {MakePcm16Wav(Ramp(20, 2)), MakePcm16Wav(Ramp(10, 3))}));
  ASSERT_TRUE(ImportSmplTrekKit(KitDoc(), kit));
  EXPECT_EQ(KitDoc().audio.data, Cat({PcmBytes(Ramp(10, 3)), PcmBytes(Ramp(20, 2))}));
  EXPECT_EQ(Roots(), (std::vector<int32_t>{36, 37}));
  EXPECT_EQ(KitDoc().GetTitle(), "My Kit");
  EXPECT_EQ(history.log.lines.front(), "--- Folder Import: My Kit ---");
  EXPECT_THAT(ScratchFolders(), IsEmpty());
}

TEST_F(SmplTrekTest, AWrongKitSaysSoAndKeepsTheTitle) {
  OpenExisting();
  const fs::path kit = dir / "Bad.stk";
  WriteFileBytes(kit, Text("no audio in here at all"));
  EXPECT_FALSE(ImportSmplTrekKit(KitDoc(), kit));
  EXPECT_EQ(host.Texts().back(), "Something wrong, or a wrong STK file.");
  // Blocks that are not usable WAV files: the folder import fails, and the
  // kit's name must not be put on the old document.
  WriteFileBytes(kit, SmplTrekKit({"x.wav"}, {Cat({Text("RIFF"), LE32(12), Text("WAVE"), Text("junkjunk")})}));
  EXPECT_FALSE(ImportSmplTrekKit(KitDoc(), kit));
  EXPECT_EQ(host.Texts().back(), "No valid WAV files could be loaded from the folder.");
  ExpectUnchanged();
  EXPECT_THAT(ScratchFolders(), IsEmpty());
}

TEST_F(SmplTrekTest, CommandRemembersTheKitsFolder) {
  const fs::path kit = dir / "kits" / "K.stk";
  fs::create_directories(kit.parent_path());
  WriteFileBytes(kit, SmplTrekKit({"a.wav"}, {MakePcm16Wav(Ramp(0, 2))}));
  dialogs.Answer(kit);
  OnImportSmplTrekKit(KitDoc(), [] { return true; });
  EXPECT_EQ(KitDoc().GetTitle(), "K");
  EXPECT_EQ(settings.GetString("Settings", "StkImportLastDir", ""), kit.parent_path().string());
}

}  // namespace
}  // namespace zandrel
