// The simulated device's files: numbered files and directories under root
// directory 0, each with a metadata text (and, for the transfers, data).
//
// Only what the editor reads and writes is modelled. The standard tree
// (SimFileSystem::Standard) holds the root with the directories "sounds"
// (kSimSoundsDir) and "projects" (kSimProjectsDir); sounds are files of
// "sounds" whose id is their slot number 1..999, and the metadata text of
// "sounds" is the device-information JSON with "free_space_in_bytes". Where
// the real device's choices are unknown (the ids of the two directories, the
// order of a listing) the simulator takes the simplest one: fixed ids, and
// listings in ascending id order.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zandrel::test {

inline constexpr uint16_t kSimRootDir = 0;
inline constexpr uint16_t kSimSoundsDir = 2000;
inline constexpr uint16_t kSimProjectsDir = 3000;
inline constexpr uint8_t kSimFlagDir = 0x02;
inline constexpr uint8_t kSimFlagUser = 0x10;

struct SimFile {
  uint16_t id = 0;
  uint16_t parent = kSimRootDir;
  uint8_t flags = 0;
  uint32_t size = 0;  // announced in listings and file information
  std::string name;
  std::string metadata;  // JSON text, may be empty
  std::vector<uint8_t> data;  // a sound's audio; a project directory's archive

  bool IsDirectory() const { return (flags & kSimFlagDir) != 0; }
};

class SimFileSystem {
 public:
  // Root directory only.
  SimFileSystem();
  // Root, "sounds" (device information as metadata) and "projects".
  static SimFileSystem Standard(uint32_t freeSpaceBytes = 8000000);

  // Adds or replaces the file with |file.id|.
  SimFile& Add(SimFile file);
  // A user sound in slot |slot| of "sounds".
  SimFile& AddSound(uint16_t slot, std::string name, uint32_t size, std::string metadata = {},
                    uint8_t flags = kSimFlagUser);
  SimFile& AddDirectory(uint16_t id, uint16_t parent, std::string name, std::string metadata = {});
  bool Remove(uint16_t id);

  SimFile* Find(uint16_t id);
  const SimFile* Find(uint16_t id) const;
  // The files whose parent is |directory|, in ascending id order.
  std::vector<const SimFile*> Children(uint16_t directory) const;

  // The device-information text the standard tree keeps as the metadata of
  // "sounds".
  static std::string DeviceInfoJson(uint32_t freeSpaceBytes);

 private:
  std::map<uint16_t, SimFile> files_;
};

}  // namespace zandrel::test
