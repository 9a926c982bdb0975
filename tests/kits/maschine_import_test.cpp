#include "kits/maschine_import.h"

#include <gmock/gmock.h>

#include "kit_fixture.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace fs = std::filesystem;

// A group or sound file as far as the import reads it: binary noise with the
// sample paths in it, each ended by a byte outside printable ASCII.
Bytes MaschineFile(const std::vector<std::string>& paths) {
  Bytes bytes = {0x00, 0x12, 0xFF, 'N', 'I', 0x01};
  for (const std::string& p : paths) {
    bytes.insert(bytes.end(), {0x00, 0x00, 0x00, static_cast<uint8_t>(p.size())});
    bytes.insert(bytes.end(), p.begin(), p.end());
    bytes.insert(bytes.end(), {0x00, 0x9A});
  }
  return bytes;
}

std::vector<std::string> List0(const Bytes& bytes) {
  MaschineSampleLists lists;
  ReadMaschineSamplePaths(lists, bytes);
  GroupVelocityLayers(lists);
  return lists.lists[0];
}

TEST(MaschinePaths, CollectsPrintableRunsThatNameWavFiles) {
  Bytes bytes = MaschineFile({"C:/Users/me/Native Instruments/Samples/Drums/Kick.wav",  // cut at "Samples"
                              "D:/elsewhere/Snare One.wav",                            // a drive and no "Samples"
                              "My Hits/Clap 1.wav",                                    // kept whole
                              "short.wav",                                             // 10 characters or fewer
                              ".wav is not a path",                                    // ".wav" at index 0 only
                              "Hits/Upper.WAV"});                                      // exact case only
  const std::string open = "Samples/Open at end.wav";  // a run still open at the end
  bytes.insert(bytes.end(), open.begin(), open.end());
  MaschineSampleLists lists;
  ReadMaschineSamplePaths(lists, bytes);
  EXPECT_THAT(lists.lists[0], ElementsAre("Samples/Drums/Kick.wav", "My Hits/Clap 1.wav"));
  EXPECT_THAT(lists.lists[1], ElementsAre("", ""));
  EXPECT_THAT(lists.lists[3], ElementsAre("", ""));
}

TEST(MaschinePaths, GroupsVelocityLayersAndKeepsTheSoftestInListZero) {
  const std::vector<std::string> list0 = List0(MaschineFile({
      "Samples/Drums/Kick/Kick V48.wav", "Samples/Drums/Kick/Kick V24.wav", "Samples/Drums/Kick/Kick V99.wav",
      "Samples/Drums/Snare/Snare.wav", "Samples/Drums/Tom/Tom V70.wav", "Samples/Drums/Tom/Tom V30.wav",
      "Samples/Drums/Snare/Snare AR50sAutumn V24.wav", "Samples/Drums/Hat/Hat V999999999999999999999.wav",
  }));
  // Kick: V48 starts the group; V24 (up to 32) goes to list 0 of the group,
  // replacing V48 there; after sorting the softest layer comes first. The
  // misnamed side stick of the factory library is read under its real name.
  // A velocity number above 127 still keeps its only layer in list 0.
  EXPECT_THAT(list0, ElementsAre("Samples/Drums/Kick/Kick V24.wav", "Samples/Drums/Snare/Snare.wav",
                                 "Samples/Drums/Tom/Tom V30.wav",
                                 "Samples/Drums/Snare/SideStick AR50sAutumn V24.wav",
                                 "Samples/Drums/Hat/Hat V999999999999999999999.wav"));

  // Without any group nothing moves.
  EXPECT_THAT(List0(MaschineFile({"Samples/b V10.wav", "Samples/a V20.wav"})),
              ElementsAre("Samples/b V10.wav", "Samples/a V20.wav"));
}

class MaschineImportTest : public KitTest {
 protected:
  // A library: <dir>/Library/Samples/..., the groups in <dir>/Library/Groups/<sub>.
  fs::path Library() { return dir / "Library"; }
  fs::path WriteKit(const std::string& name, const std::vector<std::string>& paths) {
    const fs::path path = Library() / "Groups" / "Sub" / name;
    fs::create_directories(path.parent_path());
    WriteFileBytes(path, MaschineFile(paths));
    return path;
  }
};

TEST_F(MaschineImportTest, GroupBecomesADrumKitOnWhiteKeysFromC2) {
  WriteWav(Library() / "Samples" / "Drums" / "Kick" / "Kick V24.wav", Ramp(100, 10));
  WriteWav(Library() / "Samples" / "Drums" / "Kick" / "Kick V48.wav", Ramp(200, 10));
  WriteWav(Library() / "Samples" / "Drums" / "Snare" / "Snare.wav", Ramp(300, 20));
  const fs::path group = WriteKit("Kit.mxgrp", {"Samples/Drums/Kick/Kick V24.wav", "Samples/Drums/Kick/Kick V48.wav",
                                                "Samples/Drums/Snare/Snare.wav"});
  ASSERT_TRUE(ImportMaschineFile(KitDoc(), group));
  const CQuorvelDoc& doc = KitDoc();
  EXPECT_EQ(doc.instrument.regions,
            (std::vector<Region>{Region{0, 10, -1, -1, 0, 37, 36}, Region{10, 30, -1, -1, 37, 127, 38}}));
  EXPECT_EQ(doc.audio.data, Cat({PcmBytes(Ramp(100, 10)), PcmBytes(Ramp(300, 20))}));
  EXPECT_EQ(doc.instrument.params.playMode, "key");
  EXPECT_EQ(doc.instrument.params.release, 255);
  EXPECT_EQ(doc.GetTitle(), "Kit");
  EXPECT_FALSE(doc.IsModified());
  EXPECT_FALSE(doc.CanUndo());
  EXPECT_THAT(history.log.lines,
              ElementsAre("--- Maschine Group Import: Kit.mxgrp ---", "Imported Kit (Drum Kit mode)",
                          "Audio Format: 1 (PCM)", "Channels: 1 (Mono)", "Sample Rate: 44100 Hz",
                          "Bits Per Sample: 16-bit", "Block Align: 2 bytes", "Average Bytes/Sec: 88200",
                          "Audio Data Size: 60 bytes", "Duration: 0.001 seconds", "",
                          "Import Successful: 2 files combined into 2 regions", "MIDI Mapping: C2 (36) to D2 (38)"));
}

TEST_F(MaschineImportTest, SoundZonesFollowTheNotesInTheFileNames) {
  for (const char* name : {"Lead C5.wav", "Lead C3.wav", "Lead C4.wav"})
    WriteWav(Library() / "Samples" / "Maschine 2 Library" / name, Ramp(0, 10));
  const fs::path sound = WriteKit("Lead.mxsnd", {"Samples/Maschine 2 Library/Lead C5.wav",
                                                 "Samples/Maschine 2 Library/Lead C3.wav",
                                                 "Samples/Maschine 2 Library/Lead C4.wav"});
  ASSERT_TRUE(ImportMaschineFile(KitDoc(), sound));
  EXPECT_EQ(KitDoc().instrument.regions,
            (std::vector<Region>{Region{0, 10, -1, -1, 0, 54, 48}, Region{10, 20, -1, -1, 55, 66, 60},
                                 Region{20, 30, -1, -1, 67, 127, 72}}));
  EXPECT_EQ(KitDoc().instrument.params.release, 0);
  EXPECT_THAT(history.log.lines, Contains("Imported Lead (Instrument mode)"));
}

TEST_F(MaschineImportTest, ZonesReachTheirRootAfterASampleWithoutNoteOrWithTheSameNote) {
  WriteWav(Library() / "Samples" / "Pad.wav", Ramp(0, 10));
  WriteWav(Library() / "Samples" / "Bass C2.wav", Ramp(0, 10));
  WriteWav(Library() / "Samples" / "Bass C2 b.wav", Ramp(0, 10));
  const fs::path sound = WriteKit("Mix.mxsnd", {"Samples/Bass C2.wav", "Samples/Pad.wav", "Samples/Bass C2 b.wav"});
  ASSERT_TRUE(ImportMaschineFile(KitDoc(), sound));
  // Pad has no note (60 by position); the first Bass would start at
  // 60 + (36 - 60) / 2 + 1 = 49, above its root, and the second at 37.
  for (const Region& r : KitDoc().instrument.regions) {
    EXPECT_LE(r.loKey, r.rootNote);
    EXPECT_GE(r.hiKey, r.rootNote);
  }
  EXPECT_EQ(KitDoc().instrument.regions[1].loKey, 36);
  EXPECT_EQ(KitDoc().instrument.regions[2].loKey, 36);
}

TEST_F(MaschineImportTest, LargeGroupsKeepTheirKeysBelow128) {
  std::vector<std::string> paths;
  for (int i = 0; i < 60; ++i) {
    const std::string name = Format("Samples/Hits/Hit number %02d.wav", i);
    WriteWav(Library() / name, Ramp(i, 2));
    paths.push_back(name);
  }
  ASSERT_TRUE(ImportMaschineFile(KitDoc(), WriteKit("Big.mxgrp", paths)));
  const auto& regions = KitDoc().instrument.regions;
  ASSERT_EQ(regions.size(), 60u);
  for (const Region& r : regions) {
    EXPECT_LE(r.hiKey, 127);
    EXPECT_LE(r.rootNote, 127);
  }
  EXPECT_EQ(regions[53].rootNote, 127);
  EXPECT_EQ(regions[53].hiKey, 127);
  ASSERT_EQ(host.Shown().size(), 1u);
  EXPECT_THAT(host.Shown()[0].text, ::testing::StartsWith("WARNING:\nThis kit has 60 regions"));
}

TEST_F(MaschineImportTest, FindsSamplesBesideTheGroupAndRefusesNamesOutsideTheLibrary) {
  WriteWav(Library() / "Groups" / "Sub" / "Hit.wav", Ramp(5, 4));
  WriteWav(dir / "outside.wav", Ramp(900, 4));
  const fs::path group = WriteKit("G.mxgrp", {"Samples/One Shots/Hit.wav", "Samples/../../outside.wav"});
  ASSERT_TRUE(ImportMaschineFile(KitDoc(), group));
  EXPECT_EQ(KitDoc().audio.data, PcmBytes(Ramp(5, 4)));
  EXPECT_THAT(history.log.history,
              Contains((Library() / "Groups" / "Sub" / "outside.wav").string()));  // tried beside the group only
}

TEST_F(MaschineImportTest, RateMismatchAndNothingLoadable) {
  WriteWav(Library() / "Samples" / "a long name.wav", Ramp(0, 4), 44100);
  WriteWav(Library() / "Samples" / "b long name.wav", Ramp(0, 4), 22050);
  ASSERT_TRUE(ImportMaschineFile(KitDoc(), WriteKit("R.mxgrp", {"Samples/a long name.wav", "Samples/b long name.wav"})));
  EXPECT_EQ(KitDoc().instrument.regions.size(), 1u);
  EXPECT_THAT(history.log.history, Contains("Found: 22050 Hz"));
  EXPECT_THAT(history.log.history, ::testing::Not(Contains("Skipping this file.")));

  OpenExisting();
  EXPECT_FALSE(ImportMaschineFile(KitDoc(), WriteKit("None.mxgrp", {"Samples/not there.wav"})));
  EXPECT_FALSE(ImportMaschineFile(KitDoc(), WriteKit("Empty.mxgrp", {})));
  EXPECT_FALSE(ImportMaschineFile(KitDoc(), Library() / "missing.mxgrp"));
  ExpectUnchanged();
  EXPECT_THAT(history.log.lines, Contains("Failed to load file:"));
  EXPECT_THAT(host.Texts(), IsEmpty());
}

TEST_F(MaschineImportTest, CommandAsksToSaveBeforeTheDialog) {
  WriteWav(Library() / "Samples" / "a long name.wav", Ramp(0, 4));
  const fs::path group = WriteKit("G.mxgrp", {"Samples/a long name.wav"});
  OnImportMaschineGroup(KitDoc(), [] { return false; });  // no dialog is scripted
  dialogs.Answer(group);
  OnImportMaschineGroup(KitDoc(), [] { return true; });
  EXPECT_EQ(KitDoc().GetTitle(), "G");
  EXPECT_EQ(settings.GetString("Settings", "MaschineLastDir", ""), group.parent_path().string());
}

}  // namespace
}  // namespace zandrel
