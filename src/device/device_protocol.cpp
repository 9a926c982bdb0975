// The device command set: the reply parsers and the command operations of
// CEPSysExLink. Every command follows one pattern: build the payload, send it,
// wait with the command's limit, test the status byte, read the payload.
#include "device/device_protocol.h"

#include <algorithm>
#include <bitset>
#include <limits>

#include "device/sysex_link.h"
#include "platform/text_format.h"

namespace zandrel {

std::optional<uint32_t> ParseInitReply(std::span<const uint8_t> payload) {
  if (payload.size() < 5) return std::nullopt;
  const uint32_t size = ReadU32BE(payload, 1);
  if (size == 0 || size > kLargestMaxMessageSize) return kDefaultMaxMessageSize;
  return size;
}

namespace {

// A name from |at| up to a zero byte or the end; |at| moves past the zero.
std::string ReadName(std::span<const uint8_t> bytes, size_t& at) {
  const auto begin = bytes.begin() + static_cast<ptrdiff_t>(std::min(at, bytes.size()));
  const auto end = std::find(begin, bytes.end(), uint8_t{0});
  std::string name(begin, end);
  at = static_cast<size_t>(end - bytes.begin()) + (end != bytes.end() ? 1 : 0);
  return name;
}

}  // namespace

std::vector<EPFileEntry> ParseListingPage(std::span<const uint8_t> payload, uint16_t directoryId) {
  std::vector<EPFileEntry> entries;
  // Every entry but the last ends in its name's 0 byte: at most one per 8 bytes.
  if (payload.size() >= 9) entries.reserve((payload.size() - 2) / 8 + 1);
  size_t at = 2;  // bytes 0-1 are not the listing's
  while (at + 7 <= payload.size()) {
    EPFileEntry entry;
    entry.id = ReadU16BE(payload, at);
    entry.flags = payload[at + 2];
    entry.size = ReadU32BE(payload, at + 3);
    entry.parentId = directoryId;
    at += 7;
    entry.name = ReadName(payload, at);
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::optional<EPFileEntry> ParseFileInfoRecord(std::span<const uint8_t> payload) {
  if (payload.size() < 9) return std::nullopt;
  EPFileEntry entry;
  entry.id = ReadU16BE(payload, 0);
  entry.parentId = ReadU16BE(payload, 2);
  entry.flags = payload[4];
  entry.size = ReadU32BE(payload, 5);
  size_t at = 9;
  entry.name = ReadName(payload, at);
  return entry;
}

MetadataPage ParseMetadataPage(std::span<const uint8_t> payload) {
  MetadataPage page;
  if (payload.size() <= 2) {
    page.last = true;
    return page;
  }
  const auto text = payload.subspan(2);
  const auto zero = std::find(text.begin(), text.end(), uint8_t{0});
  page.text.assign(text.begin(), zero);
  page.last = zero != text.end();
  return page;
}

FreeSpaceResult ParseFreeSpace(std::string_view text, uint32_t& freeBytes) {
  static constexpr std::string_view kKey = "\"free_space_in_bytes\":";
  const size_t key = text.find(kKey);
  if (key == std::string_view::npos) return FreeSpaceResult::KeyMissing;
  const size_t from = key + kKey.size();
  const size_t end = text.find_first_of(",}", from);
  if (end == std::string_view::npos) {
    freeBytes = 0;
    return FreeSpaceResult::Ok;
  }
  const std::string_view number = text.substr(from, end - from);
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };
  size_t i = 0;
  while (i < number.size() && space(number[i])) ++i;
  const size_t first = i;
  uint64_t value = 0;
  for (; i < number.size() && number[i] >= '0' && number[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint64_t>(number[i] - '0');
    if (value > std::numeric_limits<uint32_t>::max()) return FreeSpaceResult::BadNumber;
  }
  if (i == first) return FreeSpaceResult::BadNumber;
  while (i < number.size() && space(number[i])) ++i;
  if (i != number.size()) return FreeSpaceResult::BadNumber;
  freeBytes = static_cast<uint32_t>(value);
  return FreeSpaceResult::Ok;
}

// ---- Command operations ----

bool CEPSysExLink::InitDevice() {
  OperationScope operation(*this);
  std::vector<uint8_t> payload = {kCmdInit, 0x01};
  AppendU32BE(payload, kInitOffer);
  const std::optional<EPReply> reply = Exchange(payload, kReplyLimitMs);
  if (!reply || reply->status != 0) return false;
  const std::optional<uint32_t> size = ParseInitReply(reply->payload);
  if (!size) return false;
  maxMessageSize_ = *size;
  return true;
}

std::vector<EPFileEntry> CEPSysExLink::ListDirectory(uint16_t directoryId) {
  OperationScope operation(*this);
  std::vector<EPFileEntry> entries;
  std::bitset<65536> seen;  // by file id; on the stack, as listings are frequent
  for (uint32_t page = 0;; ++page) {
    if (CancelRequested()) break;
    if (page == kMaxListPages || entries.size() >= kMaxListEntries) {
      PrintErr(Format("[Warning] Listing of directory %u did not end; stopped after %u pages.",
                      unsigned{directoryId}, page));
      break;
    }
    std::vector<uint8_t> payload = {kCmdList};
    AppendU16BE(payload, static_cast<uint16_t>(page));
    AppendU16BE(payload, directoryId);
    const std::optional<EPReply> reply = Exchange(payload, kReplyLimitMs);
    if (!reply || reply->status != 0 || reply->payload.size() <= 2) break;
    // A page of 3 to 8 bytes holds no entry and the listing goes on; only
    // a short page, a missing reply, an error or the page cap end it. A file
    // the device lists a second time is kept once.
    for (EPFileEntry& entry : ParseListingPage(reply->payload, directoryId)) {
      if (seen[entry.id]) continue;
      seen[entry.id] = true;
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

EPFileEntry CEPSysExLink::GetFileInfo(uint16_t fileId, EPFileInfoStatus* status) {
  OperationScope operation(*this);
  std::vector<uint8_t> payload = {kCmdFileInfo};
  AppendU16BE(payload, fileId);
  const std::optional<EPReply> reply = Exchange(payload, kReplyLimitMs);
  std::optional<EPFileEntry> entry;
  if (reply && reply->status == 0) entry = ParseFileInfoRecord(reply->payload);
  if (status) {
    *status = entry ? EPFileInfoStatus::Found : reply ? EPFileInfoStatus::Missing : EPFileInfoStatus::NoAnswer;
  }
  return entry ? *entry : EPFileEntry{};
}

bool CEPSysExLink::DeleteFile(uint16_t fileId) {
  if (!IsOpen()) return false;
  OperationScope operation(*this);
  std::vector<uint8_t> payload = {kCmdDelete};
  AppendU16BE(payload, fileId);
  const std::optional<EPReply> reply = Exchange(payload, kReplyLimitMs);
  if (!reply) {
    PrintErr("[Error] Delete request timed out.");
    return false;
  }
  if (reply->status != 0) {
    PrintErr(Format("[Error] Failed to delete file ID %u. Status: %u (Likely protected/factory content or invalid ID)",
                    unsigned{fileId}, unsigned{reply->status}));
    return false;
  }
  PrintOut(Format("[Success] Deleted file ID %u", unsigned{fileId}));
  return true;
}

bool CEPSysExLink::NotifySoundSelected(uint16_t fileId) {
  if (!IsOpen()) return false;
  OperationScope operation(*this);
  std::vector<uint8_t> payload = {kCmdSoundSelect, 0x01};
  AppendU16BE(payload, fileId);
  AppendU32BE(payload, 0);
  AppendU32BE(payload, 0);
  return Exchange(payload, kSelectLimitMs).has_value();
}

std::string CEPSysExLink::GetMetadataPages(uint16_t fileId) {
  OperationScope operation(*this);
  std::string text;
  for (uint32_t page = 0;; ++page) {
    if (CancelRequested()) return text;
    if (page == kMaxMetadataPages) {
      PrintErr(Format("[Error] Metadata of file %u did not end; stopped after %u pages.", unsigned{fileId}, page));
      return {};
    }
    std::vector<uint8_t> payload = {kCmdMetadata, kMetadataReadPage};
    AppendU16BE(payload, fileId);
    AppendU16BE(payload, static_cast<uint16_t>(page));
    const std::optional<EPReply> reply = Exchange(payload, kReplyLimitMs);
    if (!reply || reply->status != 0) {
      PrintErr(Format("[Error] Failed to fetch metadata page %u", page));
      return {};
    }
    if (reply->payload.size() < 2) return text;
    MetadataPage piece = ParseMetadataPage(reply->payload);
    text += piece.text;
    if (text.size() > kMaxMetadataBytes) {
      PrintErr(Format("[Error] Metadata of file %u did not end; stopped after %u pages.", unsigned{fileId}, page + 1));
      return {};
    }
    if (piece.last) return text;
  }
}

bool CEPSysExLink::SetMetadata(uint16_t fileId, std::string_view text) {
  if (!IsOpen()) return false;
  OperationScope operation(*this);
  const auto succeeded = [this](const std::vector<uint8_t>& payload) {
    const std::optional<EPReply> reply = Exchange(payload, kReplyLimitMs);
    return reply && reply->status == 0;
  };
  if (text.size() <= kMetadataPieceBytes) {
    std::vector<uint8_t> payload = {kCmdMetadata, kMetadataSet};
    AppendU16BE(payload, fileId);
    payload.insert(payload.end(), text.begin(), text.end());
    payload.push_back(0);
    return succeeded(payload);
  }
  if (text.size() > kMaxMetadataSetBytes) return false;  // the piece index would wrap

  std::vector<uint8_t> header = {kCmdMetadata, kMetadataPagedSet, 0x00};
  AppendU16BE(header, fileId);
  AppendU32BE(header, static_cast<uint32_t>(text.size()));
  if (!succeeded(header)) return false;
  uint16_t index = 0;
  for (size_t at = 0; at < text.size(); at += kMetadataPieceBytes, ++index) {
    std::vector<uint8_t> piece = {kCmdMetadata, kMetadataPagedSet, 0x01};
    AppendU16BE(piece, index);
    const std::string_view data = text.substr(at, kMetadataPieceBytes);
    piece.insert(piece.end(), data.begin(), data.end());
    if (!succeeded(piece)) return false;
  }
  std::vector<uint8_t> end = {kCmdMetadata, kMetadataPagedSet, 0x01};
  AppendU16BE(end, index);
  return succeeded(end);
}

bool CEPSysExLink::CheckFreeSpace(uint32_t requiredBytes, uint16_t directoryId) {
  if (!IsOpen()) return false;
  const std::string text = GetMetadataPages(directoryId);
  if (text.empty()) {
    PrintErr("[Error] Metadata response was empty.");
    return false;
  }
  uint32_t freeBytes = 0;
  switch (ParseFreeSpace(text, freeBytes)) {
    case FreeSpaceResult::KeyMissing:
      PrintErr("[Error] 'free_space_in_bytes' key not found in metadata.");
      return false;
    case FreeSpaceResult::BadNumber:
      PrintErr("[Error] Could not parse free space number.");
      return false;
    case FreeSpaceResult::Ok: break;
  }
  PrintOut(Format("[Info] Free Space: %u bytes. Required: %u bytes.", freeBytes, requiredBytes));
  if (requiredBytes < freeBytes) return true;
  PrintErr("[Error] Not enough space on device.");
  return false;
}

uint16_t CEPSysExLink::FindProjectsDirectory() {
  for (const EPFileEntry& entry : ListDirectory(0)) {
    if (entry.IsDirectory() && entry.name == "projects") return entry.id;
  }
  return 0xFFFF;
}

}  // namespace zandrel
