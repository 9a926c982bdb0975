// What the upload and download dialogs show and decide, without a display.
//
// The dialogs (device/ui/transfer_dialogs.h) list the device's slots in
// groups of 100, log the phases of an upload's progress, move the upload copy
// to the name the user typed, and keep the files of a transfer in private
// folders of their own. These pieces live here so that they can be tested
// without a window; the dialogs only put them on screen.
//
// The files of a transfer: the upload copy and the downloaded sound each sit
// alone in a folder made for them inside the process's private temporary
// folder (platform/temp_folder.h). A rename within such a folder, and the
// removal afterwards, can then never touch a file the transfer did not make.
//
// Pure functions, apart from the file operations named so; any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_client.h"

namespace zandrel {

// One line of a slot list: a group header ("Group 100") or a slot. Either
// carries a slot number: a header the first listed slot of its group, so that
// choosing the header chooses that slot.
struct SlotListLine {
  std::string text;
  uint16_t slot = 0;
  bool header = false;
  bool operator==(const SlotListLine&) const = default;
};

struct SlotList {
  std::vector<SlotListLine> lines;
  int count = 0;  // slot lines, headers not counted
};

// The empty slots of |slots| (entry i is slot i + 1; only slots 1..999 are
// looked at) in groups of 100: "Group %03d" then "   %03d (empty)" per empty
// slot, or only the first empty slot of each group when |firstOnly|.
SlotList BuildEmptySlotList(const std::vector<EPSoundSlot>& slots, bool firstOnly);
// The occupied slots the same way, each as "   %03d: %s" with its display name.
SlotList BuildOccupiedSlotList(const std::vector<EPSoundSlot>& slots);

// The progress lines an upload logs. Percent 0 is the phase "Starting
// upload...", 1..99 "Uploading chunks to device...", 100 and above "Upload
// transmission complete!". A phase's line is logged when the previous logged
// line was of another phase; the completion line always is. The phase is
// remembered across uploads (the dialogs keep one for the whole run), so an
// upload that never reports 100 leaves the next upload without its
// "Uploading chunks" line.
class UploadProgressPhase {
 public:
  // |completeLine| is the completion line of the dialog that logs.
  explicit UploadProgressPhase(std::string completeLine = "Upload transmission complete!")
      : completeLine_(std::move(completeLine)) {}
  // The line to log for |percent|, if any.
  std::optional<std::string> LineFor(int percent);

 private:
  std::string completeLine_;
  std::optional<int> phase_;
};

// Where the upload copy at |current| moves so that the device takes
// |typedName| as the sound's name: the copy's folder + the sanitised name +
// ".wav". Nothing when the name sanitises to nothing, when the path has no
// folder, or when the copy already has that name (compared case-sensitively).
std::optional<std::filesystem::path> UploadRenameTarget(const std::filesystem::path& current,
                                                        std::string_view typedName);

struct UploadRenameResult {
  std::filesystem::path path;    // the copy's path afterwards
  std::vector<std::string> log;  // warnings for the dialog's log
};

// Moves the upload copy to UploadRenameTarget(). An existing file at the
// target is never replaced or deleted: the move is then refused with the
// error code of an existing file, logged as a warning, and the copy keeps its
// name, as on any other failure.
UploadRenameResult ApplyUploadName(const std::filesystem::path& current, std::string_view typedName);

// Moves a freshly written upload copy into a new folder of its own inside
// the process's temporary folder, so that renaming it cannot meet another
// file. The path afterwards; |file| itself when that fails. Removes the
// folder |file| was in when that was a folder of its own and is now empty.
std::filesystem::path MoveToOwnFolder(const std::filesystem::path& file);

// A new folder of its own for a download, inside the process's temporary
// folder; empty when none can be made.
std::filesystem::path MakeDownloadFolder();

// Deletes the file of a finished transfer, and its folder when that is a
// folder of its own inside the process's temporary folder and is empty now.
void DeleteTransferFile(const std::filesystem::path& file);

}  // namespace zandrel
