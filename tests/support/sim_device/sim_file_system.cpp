#include "support/sim_device/sim_file_system.h"

namespace zandrel::test {

SimFileSystem::SimFileSystem() { AddDirectory(kSimRootDir, kSimRootDir, ""); }

SimFileSystem SimFileSystem::Standard(uint32_t freeSpaceBytes) {
  SimFileSystem fs;
  fs.AddDirectory(kSimSoundsDir, kSimRootDir, "sounds", DeviceInfoJson(freeSpaceBytes));
  fs.AddDirectory(kSimProjectsDir, kSimRootDir, "projects");
  return fs;
}

std::string SimFileSystem::DeviceInfoJson(uint32_t freeSpaceBytes) {
  return "{\"free_space_in_bytes\":" + std::to_string(freeSpaceBytes) + ",\"max_capacity\":16777216}";
}

SimFile& SimFileSystem::Add(SimFile file) {
  const uint16_t id = file.id;
  return files_[id] = std::move(file);
}

SimFile& SimFileSystem::AddSound(uint16_t slot, std::string name, uint32_t size, std::string metadata,
                                 uint8_t flags) {
  SimFile file;
  file.id = slot;
  file.parent = kSimSoundsDir;
  file.flags = flags;
  file.size = size;
  file.name = std::move(name);
  file.metadata = std::move(metadata);
  return Add(std::move(file));
}

SimFile& SimFileSystem::AddDirectory(uint16_t id, uint16_t parent, std::string name, std::string metadata) {
  SimFile dir;
  dir.id = id;
  dir.parent = parent;
  dir.flags = kSimFlagDir;
  dir.name = std::move(name);
  dir.metadata = std::move(metadata);
  return Add(std::move(dir));
}

bool SimFileSystem::Remove(uint16_t id) { return id != kSimRootDir && files_.erase(id) > 0; }

SimFile* SimFileSystem::Find(uint16_t id) {
  auto it = files_.find(id);
  return it == files_.end() ? nullptr : &it->second;
}

const SimFile* SimFileSystem::Find(uint16_t id) const {
  auto it = files_.find(id);
  return it == files_.end() ? nullptr : &it->second;
}

std::vector<const SimFile*> SimFileSystem::Children(uint16_t directory) const {
  std::vector<const SimFile*> children;
  for (const auto& [id, file] : files_) {
    if (id != kSimRootDir && file.parent == directory) children.push_back(&file);
  }
  return children;
}

}  // namespace zandrel::test
