// The EP device's command set: codes, records and the parsers of the replies.
//
// The device keeps a small file system: numbered files and directories under
// root directory 0, each file with a JSON metadata text. A command is one
// request payload (byte 0 = the code, numbers unsigned big-endian, names
// narrow text ending in a zero byte) answered by one reply. The commands
// themselves are operations of CEPSysExLink (sysex_link.h); the pure pieces
// live here so that tests and the fuzzer reach them without a device.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zandrel {

inline constexpr uint8_t kCmdInit = 1;
inline constexpr uint8_t kCmdUpload = 2;
inline constexpr uint8_t kCmdRead = 3;
inline constexpr uint8_t kCmdList = 4;
inline constexpr uint8_t kCmdSoundSelect = 5;
inline constexpr uint8_t kCmdDelete = 6;
inline constexpr uint8_t kCmdMetadata = 7;
inline constexpr uint8_t kCmdFileInfo = 11;

// Second byte of a kCmdMetadata request.
inline constexpr uint8_t kMetadataSet = 1;       // the whole text in one message
inline constexpr uint8_t kMetadataReadPage = 2;  // one page of the text
inline constexpr uint8_t kMetadataPagedSet = 4;  // header, pieces, end marker

// Entry flags; other bits are carried along uninterpreted.
inline constexpr uint8_t kEntryFlagDir = 0x02;   // a directory
inline constexpr uint8_t kEntryFlagUser = 0x10;  // user content (may be deleted)

// The maximum message size before the device has told its own, and the
// value that replaces an answer of 0 or one above 65536.
inline constexpr uint32_t kDefaultMaxMessageSize = 512;
inline constexpr uint32_t kLargestMaxMessageSize = 65536;
// The value the init request offers the device.
inline constexpr uint32_t kInitOffer = 4194304;
// Longest metadata text sent in a single kMetadataSet message; longer texts
// go in pieces of this size.
inline constexpr size_t kMetadataPieceBytes = 256;
// Piece indices are 16-bit and the end marker carries the piece count, so a
// paged text holds at most 65535 pieces.
inline constexpr size_t kMaxMetadataSetBytes = 65535 * kMetadataPieceBytes;

// Bounds on what a device may make the editor read: a device that never ends
// a listing or a metadata text must not hold the editor forever or make it
// allocate without end. Far above anything the device stores (999 sounds,
// metadata texts of a few kilobytes).
inline constexpr uint32_t kMaxListPages = 4096;
inline constexpr size_t kMaxListEntries = 65536;  // file ids are 16-bit
inline constexpr uint32_t kMaxMetadataPages = 4096;
inline constexpr size_t kMaxMetadataBytes = 1 << 20;

// One directory entry.
struct EPFileEntry {
  uint16_t id = 0;
  uint16_t parentId = 0;  // listings: the directory that was listed
  uint32_t size = 0;      // bytes
  uint8_t flags = 0;
  std::string name;

  bool IsDirectory() const { return (flags & kEntryFlagDir) != 0; }
  bool operator==(const EPFileEntry&) const = default;
};

// How a file-information request ended. Only Found carries a record; callers
// must not take NoAnswer for a file that is gone.
enum class EPFileInfoStatus {
  Found,     // status 0 and a whole record
  Missing,   // the device answered, with an error status or without a record
  NoAnswer,  // no reply within the limit
};

// The maximum message size an init reply announces (payload bytes 1-4),
// with 0 and values above 65536 read as 512; nothing for a payload shorter
// than 5 bytes.
std::optional<uint32_t> ParseInitReply(std::span<const uint8_t> payload);

// The entries of one listing page: from payload byte 2, while at least 7
// bytes remain, u16 id, flags, u32 size and a name up to a zero byte or the
// end of the payload.
std::vector<EPFileEntry> ParseListingPage(std::span<const uint8_t> payload, uint16_t directoryId);

// A file-information record from payload byte 0 (u16 id, u16 parent, flags,
// u32 size, name); nothing for fewer than 9 bytes.
std::optional<EPFileEntry> ParseFileInfoRecord(std::span<const uint8_t> payload);

// One page of a metadata text: the bytes from payload byte 2 up to the first
// zero byte. |last| when the page held a zero byte or no text byte at all.
struct MetadataPage {
  std::string text;
  bool last = false;
};
MetadataPage ParseMetadataPage(std::span<const uint8_t> payload);

// The free space that the sounds directory's metadata text announces under
// "free_space_in_bytes" (a plain text search, not JSON parsing). A number
// followed by neither ',' nor '}' counts as 0.
enum class FreeSpaceResult { Ok, KeyMissing, BadNumber };
FreeSpaceResult ParseFreeSpace(std::string_view text, uint32_t& freeBytes);

}  // namespace zandrel
