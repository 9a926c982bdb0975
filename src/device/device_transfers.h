// The bytes and bounds of the EP device's file transfers.
//
// Files are read page by page with kCmdRead and written chunk by chunk with
// kCmdUpload; the operations themselves belong to CEPSysExLink
// (sysex_link.h: ReadFile, ReadPreview, DownloadProjectTar, UploadFile,
// UploadProjectArchive). Numbers are big-endian.
//
//   read init      03 00 <u16 file id> <u32 0>
//   preview init   the read init, 8 zero bytes, 01 <u16 stride> <u16 points>
//   read page      03 01 <u16 page>        reply: data from payload byte 2
//   upload init    02 00 <kind> <u16 target> <u16 parent> <u32 size> <name> 00 ...
//   upload chunk   02 01 <u16 index> <data>
//   end marker     02 01 <u16 chunk count>  (no data)
//
// Page and chunk numbers are 16-bit: a transfer that would need more is
// refused instead of wrapping onto page 0. Sizes the device announces drive
// neither an allocation nor a loop beyond the bounds below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace zandrel {

inline constexpr uint8_t kUploadKindSound = 5;
inline constexpr uint8_t kUploadKindProject = 2;

// Second byte of kCmdRead and kCmdUpload requests.
inline constexpr uint8_t kTransferInit = 0;
inline constexpr uint8_t kTransferData = 1;

// The most one upload may carry (4 MB); exactly this much is allowed.
inline constexpr size_t kMaxUploadBytes = 4194304;
// An upload name is cut to this many bytes.
inline constexpr size_t kMaxUploadNameBytes = 54;
// The end marker carries the chunk count in 16 bits.
inline constexpr size_t kMaxUploadChunks = 65535;
// Pages 0..65535.
inline constexpr uint32_t kMaxTransferPages = 65536;
// The most a read or a project download gathers: far above the device's
// memory, so only a device that misreports sizes meets it.
inline constexpr uint32_t kMaxDownloadBytes = 128u << 20;
// The most reserved ahead of the first page; larger transfers grow as pages
// come.
inline constexpr size_t kMaxReserveBytes = 8u << 20;
// A project download gives up after this many pages in a row without data.
inline constexpr uint32_t kMaxEmptyProjectPages = 64;

// Receives the percentage (70..95) after each acknowledged chunk of a sound
// upload, on the uploading thread.
using UploadProgress = std::function<void(int percent)>;

// The chunk size for a device whose maximum message size is |maxMessageSize|:
// what fits one message after framing and 7-in-8 packing, at most 4096 bytes
// (512 when the formula gives 0).
size_t UploadChunkSize(uint32_t maxMessageSize);

std::vector<uint8_t> BuildReadInit(uint16_t fileId);
std::vector<uint8_t> BuildPreviewInit(uint16_t fileId, uint16_t stride, uint16_t points);
std::vector<uint8_t> BuildReadPage(uint16_t page);
// The init of a sound upload: kind 5, the name's first 54 bytes and its zero
// byte, then the init JSON and a zero byte when the JSON is not empty.
std::vector<uint8_t> BuildSoundUploadInit(uint16_t slotId, uint16_t parentId, uint32_t size, std::string_view name,
                                          std::string_view initJson);
// The init of a project upload: kind 2, the name and two zero bytes.
std::vector<uint8_t> BuildProjectUploadInit(uint16_t targetId, uint16_t parentId, uint32_t size,
                                            std::string_view name);

// What a preview request asks for, from the file's size in bytes (16-bit
// samples) and its channel count (0 counts as 1).
struct PreviewRequest {
  uint16_t stride = 0;  // frames per point
  uint16_t points = 0;  // 200 below 4000 frames, else 2000
  size_t bytes = 0;     // gathered before the read ends: 4 per point
};
PreviewRequest PlanPreview(uint32_t fileSize, int channels);

// The size a project's read-init reply announces (payload bytes 3-6), or
// nothing for a payload shorter than 7 bytes.
std::optional<uint32_t> ParseProjectSize(std::span<const uint8_t> payload);

}  // namespace zandrel
