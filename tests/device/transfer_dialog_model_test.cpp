// What the upload and download dialogs list and decide: the slot lists in
// groups of 100, the progress lines, the move of the upload copy to the typed
// name (never over another file), and the private folders of a transfer.
#include "device/transfer_dialog_model.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/temp_folder.h"
#include "platform/text_format.h"
#include "support/temp_dir.h"
#include "support/wav_builder.h"

namespace zandrel {

void PrintTo(const SlotListLine& line, std::ostream* os) {
  *os << '{' << '"' << line.text << "\", " << line.slot << (line.header ? ", header}" : "}");
}

namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::ReadFileBytes;
using test::Text;
using test::WriteFileBytes;

// 999 slots, |occupied| of them holding a sound named "S<slot>".
std::vector<EPSoundSlot> Slots(const std::set<int>& occupied) {
  std::vector<EPSoundSlot> slots(CEPDeviceClient::kSlotCount);
  for (int i = 0; i < CEPDeviceClient::kSlotCount; ++i) {
    slots[static_cast<size_t>(i)].fileId = static_cast<uint16_t>(i + 1);
    if (occupied.count(i + 1)) {
      slots[static_cast<size_t>(i)].occupied = true;
      slots[static_cast<size_t>(i)].displayName = "S" + std::to_string(i + 1);
    }
  }
  return slots;
}

std::vector<std::string> Texts(const SlotList& list) {
  std::vector<std::string> texts;
  for (const SlotListLine& line : list.lines) texts.push_back(line.text);
  return texts;
}

TEST(SlotLists, AnEmptyDeviceListsOneSlotPerGroupOrAll) {
  const std::vector<EPSoundSlot> empty = Slots({});
  const SlotList first = BuildEmptySlotList(empty, true);
  EXPECT_EQ(first.count, 10);
  ASSERT_EQ(first.lines.size(), 20u);
  for (int g = 0; g < 10; ++g) {
    const uint16_t slot = static_cast<uint16_t>(g == 0 ? 1 : g * 100 + 1);
    EXPECT_EQ(first.lines[2 * g],
              (SlotListLine{"Group " + std::string(g == 0 ? "000" : std::to_string(g * 100)), slot, true}));
    EXPECT_EQ(first.lines[2 * g + 1].text, Format("   %03d (empty)", slot));
    EXPECT_EQ(first.lines[2 * g + 1].slot, slot);
  }

  const SlotList all = BuildEmptySlotList(empty, false);
  EXPECT_EQ(all.count, 999);
  ASSERT_EQ(all.lines.size(), 1009u);
  EXPECT_EQ(all.lines[1].text, "   001 (empty)");
  EXPECT_EQ(all.lines[100].text, "   100 (empty)");
  EXPECT_EQ(all.lines[101], (SlotListLine{"Group 100", 101, true}));
  EXPECT_EQ(all.lines[909], (SlotListLine{"Group 900", 901, true}));  // after 900 slots and 9 headers
  EXPECT_EQ(all.lines.back(), (SlotListLine{"   999 (empty)", 999, false}));
}

TEST(SlotLists, GroupsFollowTheSlotNumbers) {
  // Slots 100 and 101 sit in different groups.
  const std::vector<EPSoundSlot> slots = Slots({100, 101});
  const SlotList occupied = BuildOccupiedSlotList(slots);
  EXPECT_EQ(Texts(occupied), (std::vector<std::string>{"Group 000", "   100: S100", "Group 100", "   101: S101"}));
  EXPECT_EQ(occupied.count, 2);
  EXPECT_EQ(occupied.lines[0].slot, 100);
  EXPECT_EQ(occupied.lines[2].slot, 101);

  // A header carries the first empty slot of its group.
  const SlotList empty = BuildEmptySlotList(Slots({1, 2, 3, 101}), true);
  EXPECT_EQ(empty.lines[0], (SlotListLine{"Group 000", 4, true}));
  EXPECT_EQ(empty.lines[2], (SlotListLine{"Group 100", 102, true}));

  // A full device lists nothing, and neither does a client that has no slots.
  std::set<int> every;
  for (int i = 1; i <= 999; ++i) every.insert(i);
  EXPECT_EQ(BuildEmptySlotList(Slots(every), false).count, 0);
  EXPECT_TRUE(BuildEmptySlotList(Slots(every), false).lines.empty());
  EXPECT_TRUE(BuildOccupiedSlotList(Slots({})).lines.empty());
  EXPECT_TRUE(BuildEmptySlotList({}, true).lines.empty());
}

TEST(SlotLists, OnlySlotsOneTo999AreListed) {
  std::vector<EPSoundSlot> slots = Slots({999});
  slots.push_back({1000, 10, "x", "Extra", {}, true});
  EXPECT_EQ(Texts(BuildOccupiedSlotList(slots)), (std::vector<std::string>{"Group 900", "   999: S999"}));
}

TEST(UploadProgress, EachPhaseIsLoggedOnceUntilTheTransmissionCompletes) {
  UploadProgressPhase phase;
  std::vector<std::string> lines;
  for (const int percent : {0, 0, 70, 80, 95, 100, 100, 70, 95}) {
    if (const auto line = phase.LineFor(percent)) lines.push_back(*line);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"Starting upload...", "Uploading chunks to device...",
                                             "Upload transmission complete!", "Upload transmission complete!",
                                             "Uploading chunks to device..."}));
  // Uploads report 70..95 only: a second one logs no chunk line.
  UploadProgressPhase run;
  int chunkLines = 0;
  for (int upload = 0; upload < 2; ++upload) {
    for (const int percent : {70, 83, 95}) chunkLines += run.LineFor(percent).has_value();
  }
  EXPECT_EQ(chunkLines, 1);
}

TEST(UploadRename, TheTypedNameDecidesTheTarget) {
  struct Case {
    const char* current;
    const char* typed;
    const char* target;  // nullptr: no move
  };
  const Case cases[] = {
      {"/t/up/Kick.wav", "Kick", nullptr},
      {"/t/up/Kick.wav", "Snare Long", "/t/up/Snare Long.wav"},
      {"/t/up/Kick.wav", "kick", "/t/up/kick.wav"},  // names differ by case
      {"/t/up/Kick.wav", "", nullptr},
      {"/t/up/Kick.wav", "\"\"", nullptr},
      {"/t/up/Kick.wav", "../../etc/x", "/t/up/x.wav"},  // no folder survives the sanitising
      {"/t/up/Kick.wav", "001 Hat", "/t/up/Hat.wav"},
      {"/t/up/Kick.wav", "A name longer than sixteen", "/t/up/A name longer th.wav"},
      {"Kick.wav", "Snare", nullptr},  // no folder
  };
  for (const Case& c : cases) {
    const std::optional<fs::path> target = UploadRenameTarget(c.current, c.typed);
    if (c.target) {
      EXPECT_EQ(target, fs::path(c.target)) << c.typed;
    } else {
      EXPECT_FALSE(target) << c.typed;
    }
  }
}

TEST(UploadRename, TheCopyMovesButNeverOverAnotherFile) {
  test::TempDir dir;
  WriteFileBytes(dir / "Kick.wav", Text("copy"));
  UploadRenameResult moved = ApplyUploadName(dir / "Kick.wav", "Snare Long");
  EXPECT_EQ(moved.path, dir / "Snare Long.wav");
  EXPECT_TRUE(moved.log.empty());
  EXPECT_EQ(ReadFileBytes(dir / "Snare Long.wav"), Text("copy"));
  EXPECT_FALSE(fs::exists(dir / "Kick.wav"));

  // A file of the typed name is someone else's: it stays, and so does the copy's name.
  WriteFileBytes(dir / "Hat.wav", Text("user's own"));
  const UploadRenameResult refused = ApplyUploadName(dir / "Snare Long.wav", "Hat");
  EXPECT_EQ(refused.path, dir / "Snare Long.wav");
  EXPECT_EQ(refused.log, (std::vector<std::string>{"Warning: Could not rename temp file (Error 17)",
                                                   "   Old path: " + (dir / "Snare Long.wav").string(),
                                                   "   New path: " + (dir / "Hat.wav").string()}));
  EXPECT_EQ(ReadFileBytes(dir / "Hat.wav"), Text("user's own"));
  EXPECT_EQ(ReadFileBytes(dir / "Snare Long.wav"), Text("copy"));

  // A copy that has gone cannot be moved either.
  const UploadRenameResult missing = ApplyUploadName(dir / "Gone.wav", "Clap");
  EXPECT_EQ(missing.path, dir / "Gone.wav");
  ASSERT_EQ(missing.log.size(), 3u);
  EXPECT_EQ(missing.log[0], "Warning: Could not rename temp file (Error 2)");
  EXPECT_FALSE(fs::exists(dir / "Clap.wav"));
}

TEST(TransferFiles, EachTransferHasAFolderOfItsOwnThatGoesWithIt) {
  const fs::path& temp = ProcessTempFolder();
  ASSERT_FALSE(temp.empty());
  // An upload copy as the document writes it: directly in the temporary folder.
  WriteFileBytes(temp / "Pad.wav", Text("pad"));
  const fs::path own = MoveToOwnFolder(temp / "Pad.wav");
  EXPECT_EQ(own.filename(), "Pad.wav");
  EXPECT_EQ(own.parent_path().parent_path(), temp);
  EXPECT_NE(own.parent_path(), temp);
  EXPECT_FALSE(fs::exists(temp / "Pad.wav"));
  EXPECT_EQ(ReadFileBytes(own), Text("pad"));
  // Renamed there and deleted: the folder goes too.
  const fs::path renamed = ApplyUploadName(own, "Lead").path;
  EXPECT_EQ(renamed.parent_path(), own.parent_path());
  DeleteTransferFile(renamed);
  EXPECT_FALSE(fs::exists(own.parent_path()));

  // A second copy of the same name that the document put into a folder of
  // its own: moving it on leaves no empty folder behind.
  const fs::path copyFolder = MakeUniqueFolder(temp, "copy-");
  WriteFileBytes(copyFolder / "Pad.wav", Text("pad 2"));
  const fs::path moved = MoveToOwnFolder(copyFolder / "Pad.wav");
  EXPECT_FALSE(fs::exists(copyFolder));
  DeleteTransferFile(moved);
  EXPECT_FALSE(fs::exists(moved.parent_path()));

  // A download folder is new and private.
  const fs::path download = MakeDownloadFolder();
  ASSERT_FALSE(download.empty());
  EXPECT_EQ(download.parent_path(), temp);
  EXPECT_EQ(fs::status(download).permissions() & fs::perms::all, fs::perms::owner_all);
  WriteFileBytes(download / "Kick.wav", Text("kick"));
  DeleteTransferFile(download / "Kick.wav");
  EXPECT_FALSE(fs::exists(download));

  // Folders that are not a transfer's own stay, even when empty.
  test::TempDir dir;
  fs::create_directory(dir / "keep");
  WriteFileBytes(dir / "keep" / "a.wav", Text("a"));
  DeleteTransferFile(dir / "keep" / "a.wav");
  EXPECT_TRUE(fs::exists(dir / "keep"));
  WriteFileBytes(temp / "b.wav", Text("b"));
  DeleteTransferFile(temp / "b.wav");
  EXPECT_TRUE(fs::exists(temp));
}

}  // namespace
}  // namespace zandrel
