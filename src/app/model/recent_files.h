// The most recently used files, newest first, at most four, kept in the
// settings section "Recent File List" as "File1" .. "File4".
#pragma once

#include <filesystem>
#include <vector>

namespace zandrel {

class RecentFileList {
 public:
  static constexpr size_t kMaxFiles = 4;

  void Load();
  void Save() const;
  // Moves |path| to the front (adding it when new) and drops the oldest.
  void Add(const std::filesystem::path& path);
  void Remove(const std::filesystem::path& path);
  const std::vector<std::filesystem::path>& Files() const { return files_; }

 private:
  std::vector<std::filesystem::path> files_;
};

}  // namespace zandrel
