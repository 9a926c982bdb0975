#include "device/transfer_dialog_model.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "device/device_metadata.h"
#include "platform/temp_folder.h"
#include "platform/text_format.h"

namespace zandrel {
namespace fs = std::filesystem;
namespace {

constexpr int kGroupSize = 100;

template <class Keep, class LineText>
SlotList BuildSlotList(const std::vector<EPSoundSlot>& slots, bool firstOnly, Keep keep, LineText lineText) {
  SlotList list;
  const int last = std::min(static_cast<int>(slots.size()), CEPDeviceClient::kSlotCount);
  for (int start = 1; start <= last; start += kGroupSize) {
    std::vector<int> group;
    for (int n = start; n <= std::min(start + kGroupSize - 1, last); ++n) {
      if (keep(slots[static_cast<size_t>(n - 1)])) group.push_back(n);
    }
    if (group.empty()) continue;
    if (firstOnly) group.resize(1);
    // The header of slots 1..100 reads "Group 000", that of 901..999 "Group 900".
    list.lines.push_back(
        {Format("Group %03d", start / kGroupSize * kGroupSize), static_cast<uint16_t>(group[0]), true});
    for (const int n : group) {
      list.lines.push_back({lineText(n, slots[static_cast<size_t>(n - 1)]), static_cast<uint16_t>(n), false});
      ++list.count;
    }
  }
  return list;
}

// The folder |file| is in when that is a folder of its own inside the
// process's temporary folder (not that folder itself); empty otherwise.
fs::path OwnFolderOf(const fs::path& file) {
  const fs::path& temp = ProcessTempFolder();
  const fs::path folder = file.parent_path();
  if (temp.empty() || folder.empty() || folder == temp || folder.parent_path() != temp) return {};
  return folder;
}

void RemoveOwnFolderIfEmpty(const fs::path& file) {
  if (const fs::path folder = OwnFolderOf(file); !folder.empty()) {
    std::error_code ec;
    fs::remove(folder, ec);  // only an empty folder goes
  }
}

// Renames |from| to |to| unless something exists at |to|. 0 or the error number.
int RenameWithoutReplacing(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  const int error = errno;
  if (error != EINVAL && error != ENOSYS && error != ENOTSUP) return error;
  // A file system without the no-replace rename: a hard link is refused just
  // as well when the target exists.
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

}  // namespace

SlotList BuildEmptySlotList(const std::vector<EPSoundSlot>& slots, bool firstOnly) {
  return BuildSlotList(
      slots, firstOnly, [](const EPSoundSlot& s) { return !s.occupied; },
      [](int n, const EPSoundSlot&) { return Format("   %03d (empty)", n); });
}

SlotList BuildOccupiedSlotList(const std::vector<EPSoundSlot>& slots) {
  return BuildSlotList(
      slots, false, [](const EPSoundSlot& s) { return s.occupied; },
      [](int n, const EPSoundSlot& s) { return Format("   %03d: %s", n, s.displayName.c_str()); });
}

std::optional<std::string> UploadProgressPhase::LineFor(int percent) {
  int phase = 0;
  std::string line = "Starting upload...";
  if (percent >= 100) {
    phase = 2;
    line = completeLine_;
    phase_.reset();
  } else if (percent > 0) {
    phase = 1;
    line = "Uploading chunks to device...";
  }
  if (phase != 2 && phase_ == phase) return std::nullopt;
  phase_ = phase;
  return line;
}

std::optional<fs::path> UploadRenameTarget(const fs::path& current, std::string_view typedName) {
  const std::string name = SanitizeSoundName(typedName);
  if (name.empty() || !current.has_parent_path()) return std::nullopt;
  fs::path target = current.parent_path() / (name + ".wav");
  if (target == current) return std::nullopt;
  return target;
}

UploadRenameResult ApplyUploadName(const fs::path& current, std::string_view typedName) {
  UploadRenameResult result{current, {}};
  const std::optional<fs::path> target = UploadRenameTarget(current, typedName);
  if (!target) return result;
  // Whatever already has the target's name is not the upload's own file: the
  // copy is the only file the upload made.
  if (const int error = RenameWithoutReplacing(current, *target); error != 0) {
    result.log = {Format("Warning: Could not rename temp file (Error %d)", error), "   Old path: " + current.string(),
                  "   New path: " + target->string()};
    return result;
  }
  result.path = *target;
  return result;
}

fs::path MoveToOwnFolder(const fs::path& file) {
  const fs::path& temp = ProcessTempFolder();
  if (temp.empty()) return file;
  const fs::path folder = MakeUniqueFolder(temp, "upload-");
  if (folder.empty()) return file;
  const fs::path moved = folder / file.filename();
  if (RenameWithoutReplacing(file, moved) != 0) {
    std::error_code ec;
    fs::remove(folder, ec);
    return file;
  }
  RemoveOwnFolderIfEmpty(file);
  return moved;
}

fs::path MakeDownloadFolder() {
  const fs::path& temp = ProcessTempFolder();
  return temp.empty() ? fs::path() : MakeUniqueFolder(temp, "download-");
}

void DeleteTransferFile(const fs::path& file) {
  if (file.empty()) return;
  std::error_code ec;
  fs::remove(file, ec);
  RemoveOwnFolderIfEmpty(file);
}

}  // namespace zandrel
