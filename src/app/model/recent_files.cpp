#include "app/model/recent_files.h"

#include <algorithm>
#include <string>

#include "platform/settings.h"

namespace zandrel {

void RecentFileList::Load() {
  files_.clear();
  const SettingsStore& s = CurrentSettings();
  for (size_t i = 1; i <= kMaxFiles; ++i) {
    const std::string value = s.GetString("Recent File List", "File" + std::to_string(i), "");
    if (!value.empty()) files_.emplace_back(value);
  }
}

void RecentFileList::Save() const {
  SettingsStore& s = CurrentSettings();
  for (size_t i = 1; i <= kMaxFiles; ++i)
    s.SetString("Recent File List", "File" + std::to_string(i), i <= files_.size() ? files_[i - 1].string() : "");
}

void RecentFileList::Add(const std::filesystem::path& path) {
  Remove(path);
  files_.insert(files_.begin(), path);
  if (files_.size() > kMaxFiles) files_.resize(kMaxFiles);
  Save();
}

void RecentFileList::Remove(const std::filesystem::path& path) {
  files_.erase(std::remove(files_.begin(), files_.end(), path), files_.end());
  Save();
}

}  // namespace zandrel
