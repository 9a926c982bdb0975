#include "kits/akai_kit.h"

#include <gmock/gmock.h>

#include "kits/akai_program.h"
#include "kit_fixture.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
namespace fs = std::filesystem;
using Ev = RecordingObserver::Event;

std::string Instrument(int number, const std::string& sample, const std::string& keys, int root = 73,
                       const std::string& layerExtra = "") {
  return Format("<Instrument number=\"%d\">%s<Layers><Layer><Active>True</Active><SampleName>%s</SampleName>"
                "<RootNote>%d</RootNote>%s</Layer></Layers></Instrument>",
                number, keys.c_str(), sample.c_str(), root, layerExtra.c_str());
}

std::string Keys(int64_t low, int64_t high) {
  return Format("<LowNote>%lld</LowNote><HighNote>%lld</HighNote>", static_cast<long long>(low),
                static_cast<long long>(high));
}

class AkaiImportTest : public KitTest {
 protected:
  fs::path Program(const std::string& instruments, const std::string& type = "Keygroup",
                   const std::string& extra = "", const fs::path& at = {}) {
    const fs::path path = at.empty() ? dir / "kit" / "Kit.xpm" : at;
    fs::create_directories(path.parent_path());
    const std::string text = "<?xml version=\"1.0\"?><MPCVObject><Program type=\"" + type +
                             "\"><Instruments>" + instruments + "</Instruments>" + extra + "</Program></MPCVObject>";
    WriteFileBytes(path, Bytes(text.begin(), text.end()));
    return path;
  }
  bool Import(const fs::path& xpm) {
    return ImportAkaiKit(KitDoc(), xpm, [this] {
      ++saveQuestions;
      return saveAnswer;
    });
  }
  int saveQuestions = 0;
  bool saveAnswer = true;
};

TEST_F(AkaiImportTest, KeygroupJoinsSamplesInRootOrderAndLogsTheKit) {
  WriteWav(dir / "kit" / "high.wav", Ramp(1000, 30));
  WriteWav(dir / "kit" / "low.wav", Ramp(2000, 20));
  WriteWav(dir / "kit" / "mid.wav", Ramp(3000, 10));
  const fs::path xpm = Program(Instrument(1, "high", Keys(13, 140), 85) + Instrument(2, "low", Keys(0, 20), 5) +
                               Instrument(3, "mid", Keys(30, 80), 73, "<Loop>True</Loop><LoopStart>2</LoopStart>"
                                                                      "<LoopEnd>8</LoopEnd>"));
  ASSERT_TRUE(Import(xpm));
  const CQuorvelDoc& doc = KitDoc();
  // Root 5 - 13 is below 0 and becomes 60, which sorts as 18 (program numbering).
  EXPECT_EQ(doc.instrument.regions,
            (std::vector<Region>{Region{0, 20, -1, -1, 0, 7, 60}, Region{20, 30, 22, 28, 17, 67, 60},
                                 Region{30, 60, -1, -1, 0, 127, 72}}));
  EXPECT_EQ(doc.audio.data, Cat({PcmBytes(Ramp(2000, 20)), PcmBytes(Ramp(3000, 10)), PcmBytes(Ramp(1000, 30))}));
  EXPECT_EQ(doc.audio.format, (PcmFormat{1, 1, 44100, 88200, 2, 16}));
  EXPECT_TRUE(doc.instrument.hasInstrument);
  EXPECT_EQ(doc.instrument.params.playMode, "legato");
  EXPECT_EQ(doc.instrument.params.release, 0);
  EXPECT_EQ(doc.instrument.params.sampleMode, "multi");
  EXPECT_EQ(doc.GetTitle(), "Kit");
  EXPECT_TRUE(doc.GetPathName().empty());
  EXPECT_FALSE(doc.IsModified());
  EXPECT_FALSE(doc.CanUndo());
  EXPECT_EQ(saveQuestions, 1);
  EXPECT_EQ(observer.Significant(), (std::vector<Ev>{Ev::kStop, Ev::kReplaced}));
  EXPECT_THAT(history.log.lines,
              ElementsAre("--- Akai Kit Import: Kit.xpm ---", "Imported Kit (Instrument mode)", "Audio Format: 1 (PCM)",
                          "Channels: 1 (Mono)", "Sample Rate: 44100 Hz", "Bits Per Sample: 16-bit",
                          "Block Align: 2 bytes", "Average Bytes/Sec: 88200", "Audio Data Size: 120 bytes",
                          "Duration: 0.001 seconds", "", "Import Successful: 3 files combined into 3 regions",
                          "MIDI Mapping: C4 (60) to C5 (72)"));
  EXPECT_THAT(host.Texts(), IsEmpty());
}

TEST_F(AkaiImportTest, TheSpecExampleKeysAndDrumPads) {
  WriteWav(dir / "kit" / "a.wav", Ramp(0, 10));
  ASSERT_TRUE(Import(Program(Instrument(1, "a", Keys(13, 140), 73))));
  EXPECT_EQ(KitDoc().instrument.regions, (std::vector<Region>{Region{0, 10, -1, -1, 0, 127, 60}}));

  // A drum pad without a map entry plays on 60 - 13 = 47; drum kits play
  // "key" with full release.
  ASSERT_TRUE(Import(Program(Instrument(1, "a", "") + Instrument(2, "a", ""), "Drum", "<PadNoteMap><PadNote "
                                                                                    "number=\"2\"><Note>50</Note>"
                                                                                    "</PadNote></PadNoteMap>")));
  EXPECT_EQ(KitDoc().instrument.regions,
            (std::vector<Region>{Region{0, 10, -1, -1, 37, 37, 37}, Region{10, 20, -1, -1, 47, 47, 47}}));
  EXPECT_EQ(KitDoc().instrument.params.playMode, "key");
  EXPECT_EQ(KitDoc().instrument.params.release, 255);
  EXPECT_THAT(history.log.lines, Contains("Imported Kit (Drum Kit mode)"));
}

TEST_F(AkaiImportTest, KeyArithmeticOnFileValuesClampsInsteadOfOverflowing) {
  WriteWav(dir / "kit" / "a.wav", Ramp(0, 10));
  WriteWav(dir / "kit" / "b.wav", Ramp(0, 10));
  ASSERT_TRUE(Import(Program(Instrument(1, "a", Keys(-2147483648LL, 2147483647LL), -2147483647 - 1) +
                             Instrument(2, "b", Keys(2147483647LL, -2147483648LL), 2147483647))));
  // A keygroup root below 1 already reads as 60 (47 after the shift).
  EXPECT_EQ(KitDoc().instrument.regions,
            (std::vector<Region>{Region{0, 10, -1, -1, 0, 127, 47}, Region{10, 20, -1, -1, 127, 0, 127}}));

  ASSERT_TRUE(Import(Program(Instrument(1, "a", ""), "Drum",
                             "<PadNoteMap><PadNote number=\"1\"><Note>-2147483648</Note></PadNote></PadNoteMap>")));
  EXPECT_EQ(KitDoc().instrument.regions, (std::vector<Region>{Region{0, 10, -1, -1, 0, 0, 60}}));
}

TEST_F(AkaiImportTest, FrameRangesAndLoopsOfTheLayer) {
  WriteWav(dir / "kit" / "a.wav", Ramp(0, 40));
  struct Case {
    std::string layer;
    Region expected;
  };
  const Case cases[] = {
      {"<SampleStart>100</SampleStart><SampleEnd>50</SampleEnd>", {0, 40, -1, -1, 0, 127, 60}},
      {"<SampleStart>-5</SampleStart><SampleEnd>10</SampleEnd>", {0, 40, -1, -1, 0, 127, 60}},
      {"<SampleStart>5</SampleStart><SampleEnd>500</SampleEnd>", {5, 40, -1, -1, 0, 127, 60}},
      {"<Loop>True</Loop><LoopStart>20</LoopStart><LoopEnd>20</LoopEnd>", {0, 40, -1, -1, 0, 127, 60}},
      {"<Loop>True</Loop><LoopStart>10</LoopStart><LoopEnd>90</LoopEnd>", {0, 40, 10, 40, 0, 127, 60}},
      {"<Loop>False</Loop><LoopStart>10</LoopStart><LoopEnd>20</LoopEnd>", {0, 40, -1, -1, 0, 127, 60}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Import(Program(Instrument(1, "a", Keys(13, 140), 73, c.layer)))) << c.layer;
    EXPECT_EQ(KitDoc().instrument.regions, std::vector<Region>{c.expected}) << c.layer;
  }
}

TEST_F(AkaiImportTest, FindsSamplesBesideInSamplesAboveAndByFileNameIgnoringCase) {
  WriteWav(dir / "kit" / "beside.wav", Ramp(100, 2));
  WriteWav(dir / "kit" / "SAMPLES" / "Inner.WAV", Ramp(200, 2));
  WriteWav(dir / "above.wav", Ramp(300, 2));
  WriteWav(dir / "kit" / "Hit.wav", Ramp(400, 2));
  WriteWav(dir / "kit" / "sound.aif.wav", Ramp(500, 2));
  WriteWav(dir / "kit" / "Upper.WAV", Ramp(600, 2));
  ASSERT_TRUE(Import(Program(Instrument(1, "beside", "", 14) + Instrument(2, "samples/inner", "", 15) +
                             Instrument(3, "ABOVE", "", 16) + Instrument(4, "One Shots/hit", "", 17) +
                             Instrument(5, "sound.aif", "", 18) + Instrument(6, "Upper.WAV", "", 19))));
  EXPECT_EQ(KitDoc().audio.data, Cat({PcmBytes(Ramp(100, 2)), PcmBytes(Ramp(200, 2)), PcmBytes(Ramp(300, 2)),
                                      PcmBytes(Ramp(400, 2)), PcmBytes(Ramp(500, 2)), PcmBytes(Ramp(600, 2))}));
}

TEST_F(AkaiImportTest, NamesThatLeaveTheKitAreNeverLoaded) {
  WriteWav(dir / "secret.wav", Ramp(7000, 4));
  WriteWav(dir / "kit" / "ok.wav", Ramp(1, 4));
  const std::string absolute = (dir / "secret").string();
  ASSERT_TRUE(Import(Program(Instrument(1, "../secret", "", 20) + Instrument(2, absolute, "", 21) +
                             Instrument(3, "..\\..\\secret", "", 22) + Instrument(4, "ok", "", 23))));
  EXPECT_EQ(KitDoc().audio.data, PcmBytes(Ramp(1, 4)));
  // The only candidate left is the file name beside the program, which is
  // not there.
  EXPECT_THAT(history.log.history, Contains("Failed to load file: " + (dir / "kit" / "secret.wav").string()));
}

TEST_F(AkaiImportTest, SkipsSamplesOfAnotherRateOrThatCannotBecomeMono16) {
  WriteWav(dir / "kit" / "first48k.wav", Ramp(10, 4), 48000);
  WriteWav(dir / "kit" / "other44k.wav", Ramp(20, 4), 44100);
  WriteWav(dir / "kit" / "stereo.wav", {100, 300, 100, 300}, 48000, 2);
  WriteFileBytes(dir / "kit" / "quad.wav", WavBuilder().Fmt(1, 4, 48000, 16).Data(Pcm16(Ramp(0, 8))).Build());
  WriteFileBytes(dir / "kit" / "adpcm.wav", WavBuilder().Fmt(2, 1, 48000, 4, 256).Data(Bytes(256, 0)).Build());
  ASSERT_TRUE(Import(Program(Instrument(1, "first48k", "", 20) + Instrument(2, "other44k", "", 21) +
                             Instrument(3, "stereo", "", 22) + Instrument(4, "quad", "", 23) +
                             Instrument(5, "adpcm", "", 24))));
  EXPECT_EQ(KitDoc().audio.format.nSamplesPerSec, 48000u);
  EXPECT_EQ(KitDoc().audio.data, Cat({PcmBytes(Ramp(10, 4)), PcmBytes({200, 200})}));
  const fs::path k = dir / "kit";
  // The mismatch text is logged line by line.
  EXPECT_THAT(history.log.history, Contains("Sample Rate Mismatch:"));
  EXPECT_THAT(history.log.history, Contains("File: " + (k / "other44k.wav").string()));
  EXPECT_THAT(history.log.history, Contains("Expected: 48000 Hz"));
  EXPECT_THAT(history.log.history, Contains("Found: 44100 Hz"));
  EXPECT_THAT(history.log.history, Contains("Skipping this file."));
  EXPECT_THAT(history.log.history,
              Contains("Warning: " + (k / "quad.wav").string() +
                       " cannot be converted to mono 16-bit PCM (it has 4 channels). Skipping this file."));
  EXPECT_THAT(history.log.history,
              Contains(HasSubstr("Warning: " + (k / "adpcm.wav").string() + " cannot be converted to mono 16-bit PCM (")));
  EXPECT_THAT(history.log.lines, Contains("Import Successful: 2 files combined into 2 regions"));
}

TEST_F(AkaiImportTest, AppendsWholeFramesOnlySoAStrayByteShiftsNothing) {
  // 2 frames and a stray byte, then a normal file: the second sample must
  // start on a frame.
  fs::create_directories(dir / "kit");
  WriteFileBytes(dir / "kit" / "odd.wav",
                 WavBuilder().Fmt(1, 1, 44100, 16).RawChunk("data", 5, Cat({Pcm16({11, 12}), Bytes{0x7F}})).Build());
  WriteWav(dir / "kit" / "even.wav", Ramp(500, 3));
  ASSERT_TRUE(Import(Program(Instrument(1, "odd", "", 20) + Instrument(2, "even", "", 21))));
  EXPECT_EQ(KitDoc().audio.data, Cat({PcmBytes({11, 12}), PcmBytes(Ramp(500, 3))}));
  EXPECT_EQ(KitDoc().instrument.regions[1].startSample, 2);
}

TEST_F(AkaiImportTest, FailuresLeaveTheDocumentAsItWas) {
  OpenExisting();
  struct Case {
    std::string program;  // empty: no such file
    std::string message;
    MessageIcon icon;
    int saveQuestions;
  };
  WriteWav(dir / "kit" / "good.wav", Ramp(0, 4));
  const Case cases[] = {
      {"", "Could not open the selected file for reading.", MessageIcon::Error, 0},
      {"<MPCVObject></MPCVObject>", "Parsing Failed:\nInvalid Format: Missing <Program> tag.", MessageIcon::Error, 0},
      {"<MPCVObject><Program><Instruments><Instrument number=\"1\"/></Instruments></Program></MPCVObject>",
       "No sample regions found in the Akai kit file.", MessageIcon::Warning, 0},
      {"<MPCVObject><Program><Instruments>" + Instrument(1, "missing", "") + "</Instruments></Program></MPCVObject>",
       "No valid WAV files could be loaded from the Akai kit.", MessageIcon::Error, 1},
  };
  for (const Case& c : cases) {
    const fs::path xpm = dir / "kit" / "case.xpm";
    fs::remove(xpm);
    if (!c.program.empty()) WriteFileBytes(xpm, Bytes(c.program.begin(), c.program.end()));
    saveQuestions = 0;
    const size_t shown = host.Shown().size();
    EXPECT_FALSE(Import(xpm)) << c.message;
    ASSERT_EQ(host.Shown().size(), shown + 1) << c.message;
    EXPECT_EQ(host.Shown().back().text, c.message);
    EXPECT_EQ(host.Shown().back().icon, c.icon);
    EXPECT_EQ(saveQuestions, c.saveQuestions) << c.message;
    ExpectUnchanged();
  }
  // Cancelling the save question stops before anything is loaded.
  saveAnswer = false;
  EXPECT_FALSE(Import(Program(Instrument(1, "good", ""))));
  ExpectUnchanged();
}

TEST_F(AkaiImportTest, MoreRegionsThanTheDeviceKeepsWarnsAndKeepsThemAll) {
  std::string instruments;
  for (int i = 0; i < 9; ++i) {
    WriteWav(dir / "kit" / Format("s%d.wav", i), Ramp(i * 10, 10));
    instruments += Instrument(i + 1, Format("s%d", i), "", 20 + i);
  }
  ASSERT_TRUE(Import(Program(instruments)));
  EXPECT_EQ(KitDoc().instrument.regions.size(), 9u);
  ASSERT_EQ(host.Shown().size(), 1u);
  EXPECT_EQ(host.Shown()[0].text,
            "WARNING:\nThis kit has 9 regions, which exceeds the EP limit of 8 regions.\nWhen saving, only the first 8 "
            "regions will be kept.\n\nTo avoid issues, remove the extra regions you don't need and make sure the "
            "total number of regions stays under the limit.");
  EXPECT_EQ(host.Shown()[0].icon, MessageIcon::None);
}

TEST_F(AkaiImportTest, CommandAsksForTheFileAndRemembersItsFolder) {
  WriteWav(dir / "kit" / "a.wav", Ramp(0, 4));
  const fs::path xpm = Program(Instrument(1, "a", ""));
  dialogs.Answer(std::nullopt);
  OnImportAkaiKit(KitDoc(), [] { return true; });
  EXPECT_FALSE(KitDoc().HasAudio());
  dialogs.Answer(xpm);
  OnImportAkaiKit(KitDoc(), [] { return true; });
  EXPECT_TRUE(KitDoc().HasAudio());
  EXPECT_EQ(settings.GetString("Settings", "AkaiKitLastDir", ""), (dir / "kit").string());
}

// -------------------------------------------------------------- export --

class AkaiExportTest : public AkaiImportTest {
 protected:
  // A document of |frames| frames counting up from 0 with the given regions.
  void Document(int frames, std::vector<Region> regions) {
    CQuorvelDoc& doc = KitDoc();
    doc.audio.format = PcmFormat{1, 1, 44100, 88200, 2, 16};
    doc.audio.data = PcmBytes(Ramp(0, frames));
    doc.instrument.hasInstrument = true;
    doc.instrument.regions = std::move(regions);
    doc.SetTitle("Song.wav");
    observer.events.clear();
  }
  AkaiProgram Written(const fs::path& xpm) {
    const Bytes bytes = ReadFileBytes(xpm);
    AkaiProgram program;
    std::string error;
    EXPECT_TRUE(CAKAIParse().LoadProgram(std::string(bytes.begin(), bytes.end()), program, error)) << error;
    return program;
  }
  Bytes WavData(const fs::path& path) {
    CWavLoader wav;
    EXPECT_TRUE(wav.Load(path)) << path;
    return wav.data;
  }
  fs::path Out() {
    fs::create_directories(dir / "out");
    return dir / "out" / "Song.xpm";
  }
};

TEST_F(AkaiExportTest, WritesAPadFilePerRegionAndAKeygroupProgram) {
  Document(300, {Region{0, 100, 10, 500, 0, 59, 60}, Region{100, 300, -1, -1, 60, 127, 72}});
  KitDoc().instrument.params.pan = 64;
  KitDoc().instrument.params.release = 255;
  KitDoc().instrument.params.pitch = -3;
  ASSERT_TRUE(ExportAkaiKeygroup(KitDoc(), Out()));

  EXPECT_EQ(WavData(dir / "out" / "Pad01_Note060.wav"), PcmBytes(Ramp(0, 100)));
  EXPECT_EQ(WavData(dir / "out" / "Pad02_Note072.wav"), PcmBytes(Ramp(100, 200)));
  const AkaiProgram p = Written(Out());
  EXPECT_EQ(p.type, "Keygroup");
  EXPECT_EQ(p.applicationVersion, "3.0.0");
  EXPECT_FLOAT_EQ(p.programVolume, 0.7f);
  EXPECT_EQ(p.keygroupNumKeygroups, 2);
  ASSERT_EQ(p.instruments.size(), 2u);
  const AkaiInstrument& in = p.instruments[0];
  EXPECT_EQ(in.number, 1);
  EXPECT_FLOAT_EQ(in.volume, 0.7f);
  EXPECT_FLOAT_EQ(in.pan, 0.751969f);
  EXPECT_FLOAT_EQ(in.volumeRelease, 1.0f);
  EXPECT_EQ(in.polyphony, 16);
  EXPECT_FALSE(in.oneShot);
  EXPECT_EQ(in.lowNote, 13);
  EXPECT_EQ(in.highNote, 72);
  const AkaiLayer& layer = in.layers[0];
  EXPECT_EQ(layer.rootNote, 73);
  EXPECT_EQ(layer.sampleName, "Pad01_Note060");
  EXPECT_EQ(layer.sampleFile, "Pad01_Note060.wav");
  EXPECT_EQ(layer.sampleEnd, 100);
  EXPECT_EQ(layer.tuneCoarse, -3);
  EXPECT_TRUE(layer.loop);  // a loop reaching past the region ends with it
  EXPECT_EQ(layer.loopStart, 10);
  EXPECT_EQ(layer.loopEnd, 100);
  EXPECT_EQ(p.instruments[1].layers[0].rootNote, 85);

  const std::string out = (dir / "out" / "Song.xpm").string();
  EXPECT_THAT(history.log.lines,
              ElementsAre("Exported region 1: Pad01_Note060.wav (Note 60)", "Exported region 2: Pad02_Note072.wav (Note 72)",
                          "--- Akai Kit Export Complete ---", "File: " + out, "Regions: 2"));
  ASSERT_EQ(host.Shown().size(), 1u);
  EXPECT_EQ(host.Shown()[0].text, "Successfully exported Akai kit:\n\n" + out + "\n\nExported 2 regions as WAV files.");
  EXPECT_EQ(host.Shown()[0].icon, MessageIcon::Information);
  // The export changes nothing in the document.
  EXPECT_FALSE(KitDoc().IsModified());
  EXPECT_TRUE(observer.events.empty());
}

TEST_F(AkaiExportTest, RegionsOutsideTheAudioAndLoopsOutsideTheirRegion) {
  Document(300, {Region{-10, 100, 150, 200, 0, 127, 60}, Region{500, 600, -1, -1, 0, 127, 61},
                 Region{200, 300, 0, 50, 0, 127, 62}});
  ASSERT_TRUE(ExportAkaiKeygroup(KitDoc(), Out()));
  EXPECT_EQ(WavData(dir / "out" / "Pad01_Note060.wav"), PcmBytes(Ramp(0, 100)));
  EXPECT_FALSE(fs::exists(dir / "out" / "Pad02_Note061.wav"));
  EXPECT_EQ(WavData(dir / "out" / "Pad02_Note062.wav"), PcmBytes(Ramp(200, 100)));
  const AkaiProgram p = Written(Out());
  EXPECT_EQ(p.keygroupNumKeygroups, 3);
  ASSERT_EQ(p.instruments.size(), 2u);
  for (const AkaiInstrument& in : p.instruments) {
    // Both loops lie outside their region: none is written.
    EXPECT_FALSE(in.layers[0].loop);
    EXPECT_EQ(in.layers[0].loopStart, 0);
    EXPECT_EQ(in.layers[0].loopEnd, 0);
  }
}

TEST_F(AkaiExportTest, AsksOnceBeforeReplacingPadFilesAndNoWritesNothing) {
  Document(300, {Region{0, 100, -1, -1, 0, 127, 60}, Region{100, 200, -1, -1, 0, 127, 61}});
  fs::create_directories(dir / "out");
  WriteFileBytes(dir / "out" / "Pad01_Note060.wav", Text("mine"));
  WriteFileBytes(dir / "out" / "Pad02_Note061.wav", Text("mine too"));
  host.Answer(MessageAnswer::No);
  EXPECT_FALSE(ExportAkaiKeygroup(KitDoc(), Out()));
  ASSERT_EQ(host.Shown().size(), 1u);
  EXPECT_EQ(host.Shown()[0].text, "2 of the sample files this export writes already exist in " +
                                      (dir / "out").string() + ".\nReplace them?");
  EXPECT_EQ(host.Shown()[0].buttons, MessageButtons::YesNo);
  EXPECT_EQ(ReadFileBytes(dir / "out" / "Pad01_Note060.wav"), Text("mine"));
  EXPECT_FALSE(fs::exists(Out()));

  host.Answer(MessageAnswer::Yes);
  EXPECT_TRUE(ExportAkaiKeygroup(KitDoc(), Out()));
  EXPECT_EQ(WavData(dir / "out" / "Pad01_Note060.wav"), PcmBytes(Ramp(0, 100)));
  EXPECT_EQ(WavData(dir / "out" / "Pad02_Note061.wav"), PcmBytes(Ramp(100, 100)));
}

TEST_F(AkaiExportTest, AFailedFileShiftsTheNamesButNeverReplacesAFileNobodyAskedAbout) {
  Document(300, {Region{0, 100, -1, -1, 0, 127, 60}, Region{100, 200, -1, -1, 0, 127, 62},
                 Region{200, 300, -1, -1, 0, 127, 64}});
  fs::create_directories(dir / "out" / "Pad01_Note060.wav");  // cannot be written over
  WriteFileBytes(dir / "out" / "Pad01_Note062.wav", Text("keep me"));
  host.Answer(MessageAnswer::Yes);
  EXPECT_TRUE(ExportAkaiKeygroup(KitDoc(), Out()));
  EXPECT_EQ(ReadFileBytes(dir / "out" / "Pad01_Note062.wav"), Text("keep me"));
  EXPECT_EQ(WavData(dir / "out" / "Pad01_Note064.wav"), PcmBytes(Ramp(200, 100)));
  EXPECT_THAT(history.log.lines, Contains("Failed to save: " + (dir / "out" / "Pad01_Note060.wav").string()));
  EXPECT_THAT(history.log.lines, Contains("Failed to save: " + (dir / "out" / "Pad01_Note062.wav").string()));
  ASSERT_EQ(Written(Out()).instruments.size(), 1u);
}

TEST_F(AkaiExportTest, CommandChecksTheDocumentAndTheProgramFile) {
  OnExportAkaiKeygroup(KitDoc());
  Document(10, {});
  OnExportAkaiKeygroup(KitDoc());
  Document(0, {Region{0, 10, -1, -1, 0, 127, 60}});
  OnExportAkaiKeygroup(KitDoc());
  EXPECT_EQ(host.Texts(), (std::vector<std::string>{"No instrument data or regions to export.",
                                                    "No instrument data or regions to export.",
                                                    "No audio data to export."}));
  Document(10, {Region{0, 10, -1, -1, 0, 127, 60}});
  fs::create_directories(dir / "out" / "Song.xpm");  // a folder where the program goes
  dialogs.Answer(dir / "out" / "Song.xpm");
  OnExportAkaiKeygroup(KitDoc());
  EXPECT_EQ(host.Shown().back().text, "Could not create the output .xpm file.");
  EXPECT_EQ(dialogs.saveRequests.back().defaultExtension, "xpm");
  EXPECT_EQ(settings.GetString("Settings", "AkaiKitLastDir", ""), (dir / "out").string());
}

TEST_F(AkaiExportTest, RoundTripGivesBackTheRegionsAndTheirAudio) {
  Document(300, {Region{0, 100, 20, 80, 0, 50, 48}, Region{100, 180, 120, 400, 51, 70, 60},
                 Region{180, 300, -1, -1, 71, 127, 72}});
  KitDoc().instrument.params.attack = 30;
  ASSERT_TRUE(ExportAkaiKeygroup(KitDoc(), Out()));
  const Bytes audio = KitDoc().audio.data;
  ASSERT_TRUE(Import(Out()));
  // The loop past its region comes back cut at the region's end.
  EXPECT_EQ(KitDoc().instrument.regions,
            (std::vector<Region>{Region{0, 100, 20, 80, 0, 50, 48}, Region{100, 180, 120, 180, 51, 70, 60},
                                 Region{180, 300, -1, -1, 71, 127, 72}}));
  EXPECT_EQ(KitDoc().audio.data, audio);
  EXPECT_EQ(KitDoc().instrument.params.playMode, "legato");
  EXPECT_EQ(KitDoc().instrument.params.attack, 0);
  EXPECT_EQ(KitDoc().GetTitle(), "Song");
}

}  // namespace
}  // namespace zandrel
