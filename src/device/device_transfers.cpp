// The file transfers of CEPSysExLink and the payloads they send. Reads ask
// for pages until the expected amount has come; uploads send an init, numbered
// chunks and an end marker, each acknowledged before the next leaves.
#include "device/device_transfers.h"

#include <algorithm>

#include "device/sysex_link.h"
#include "platform/text_format.h"

namespace zandrel {

size_t UploadChunkSize(uint32_t maxMessageSize) {
  // A frame adds 10 bytes to the packed payload and packing adds one byte in
  // eight; 140 leaves room for the frame and the chunk header.
  const uint64_t room = maxMessageSize <= 20 ? 3584 : 7ull * maxMessageSize - 140;
  const size_t size = static_cast<size_t>(std::min<uint64_t>(room / 8, 4096));
  return size == 0 ? 512 : size;
}

std::vector<uint8_t> BuildReadInit(uint16_t fileId) {
  std::vector<uint8_t> payload = {kCmdRead, kTransferInit};
  AppendU16BE(payload, fileId);
  AppendU32BE(payload, 0);
  return payload;
}

std::vector<uint8_t> BuildPreviewInit(uint16_t fileId, uint16_t stride, uint16_t points) {
  std::vector<uint8_t> payload = BuildReadInit(fileId);
  payload.insert(payload.end(), 8, 0x00);
  payload.push_back(0x01);
  AppendU16BE(payload, stride);
  AppendU16BE(payload, points);
  return payload;
}

std::vector<uint8_t> BuildReadPage(uint16_t page) {
  std::vector<uint8_t> payload = {kCmdRead, kTransferData};
  AppendU16BE(payload, page);
  return payload;
}

namespace {

std::vector<uint8_t> UploadInit(uint8_t kind, uint16_t targetId, uint16_t parentId, uint32_t size,
                                std::string_view name) {
  std::vector<uint8_t> payload = {kCmdUpload, kTransferInit, kind};
  AppendU16BE(payload, targetId);
  AppendU16BE(payload, parentId);
  AppendU32BE(payload, size);
  const std::string_view sent = name.substr(0, kMaxUploadNameBytes);
  payload.insert(payload.end(), sent.begin(), sent.end());
  payload.push_back(0);
  return payload;
}

}  // namespace

std::vector<uint8_t> BuildSoundUploadInit(uint16_t slotId, uint16_t parentId, uint32_t size, std::string_view name,
                                          std::string_view initJson) {
  std::vector<uint8_t> payload = UploadInit(kUploadKindSound, slotId, parentId, size, name);
  if (!initJson.empty()) {
    payload.insert(payload.end(), initJson.begin(), initJson.end());
    payload.push_back(0);
  }
  return payload;
}

std::vector<uint8_t> BuildProjectUploadInit(uint16_t targetId, uint16_t parentId, uint32_t size,
                                            std::string_view name) {
  std::vector<uint8_t> payload = UploadInit(kUploadKindProject, targetId, parentId, size, name);
  payload.push_back(0);
  return payload;
}

PreviewRequest PlanPreview(uint32_t fileSize, int channels) {
  const uint32_t frames = (fileSize / 2) / static_cast<uint32_t>(std::max(channels, 1));
  PreviewRequest plan;
  plan.points = frames < 4000 ? 200 : 2000;
  // Only a file of over 250 MB would need a stride beyond 16 bits; it is held
  // there rather than wrapped.
  plan.stride = static_cast<uint16_t>(std::min<uint32_t>(frames / plan.points, 0xFFFF));
  plan.bytes = size_t{plan.points} * 4;
  return plan;
}

std::optional<uint32_t> ParseProjectSize(std::span<const uint8_t> payload) {
  if (payload.size() < 7) return std::nullopt;
  return ReadU32BE(payload, 3);
}

// ---- Reading ----

void CEPSysExLink::ReadPages(std::vector<uint8_t>& out, size_t wanted, uint16_t fileId) {
  SetProgress(out.size(), wanted);
  for (uint32_t page = 0; out.size() < wanted; ++page) {
    if (CancelRequested()) return;
    if (page == kMaxTransferPages) {
      PrintErr(Format("[Error] Read of file %u stopped after %u pages: page numbers end there.", unsigned{fileId},
                      kMaxTransferPages));
      return;
    }
    const std::optional<EPReply> reply = Exchange(BuildReadPage(static_cast<uint16_t>(page)), kReplyLimitMs);
    if (!reply || reply->status != 0 || reply->payload.size() < 3) return;
    out.insert(out.end(), reply->payload.begin() + 2, reply->payload.end());
    SetProgress(std::min(out.size(), wanted), wanted);
  }
}

std::vector<uint8_t> CEPSysExLink::ReadFile(uint16_t fileId, uint32_t expectedSize) {
  OperationScope operation(*this);
  if (expectedSize > kMaxDownloadBytes) {
    PrintErr(Format("[Error] File %u is said to hold %u bytes, more than a download may hold (%u).",
                    unsigned{fileId}, expectedSize, kMaxDownloadBytes));
    return {};
  }
  if (CancelRequested()) return {};
  const std::optional<EPReply> init = Exchange(BuildReadInit(fileId), kReplyLimitMs);
  if (!init || init->status != 0) return {};
  std::vector<uint8_t> data;
  data.reserve(std::min<size_t>(expectedSize, kMaxReserveBytes));
  ReadPages(data, expectedSize, fileId);
  return data;
}

std::vector<uint8_t> CEPSysExLink::ReadPreview(uint16_t fileId, uint32_t fileSize, int channels) {
  OperationScope operation(*this);
  const PreviewRequest plan = PlanPreview(fileSize, channels);
  if (CancelRequested()) return {};
  const std::optional<EPReply> init = Exchange(BuildPreviewInit(fileId, plan.stride, plan.points), kReplyLimitMs);
  if (!init || init->status != 0) {
    PrintErr("[Error] Preview Init Failed");
    return {};
  }
  std::vector<uint8_t> data;
  data.reserve(plan.bytes);
  ReadPages(data, plan.bytes, fileId);
  return data;
}

std::vector<uint8_t> CEPSysExLink::DownloadProjectTar(uint16_t projectId, bool* complete) {
  OperationScope operation(*this);
  if (complete) *complete = false;
  if (CancelRequested()) return {};
  const std::optional<EPReply> init = Exchange(BuildReadInit(projectId), kReplyLimitMs);
  if (!init || init->status != 0) {
    PrintErr("[Error] Project TAR Init Failed or Timed Out");
    return {};
  }
  const std::optional<uint32_t> announced = ParseProjectSize(init->payload);
  if (!announced) {
    PrintErr("[Error] Invalid Init Response length");
    return {};
  }
  const uint32_t size = *announced;
  if (size == 0) {
    PrintErr("[Warning] Project appears to be empty (Size 0)");
    return {};
  }
  if (size > kMaxDownloadBytes) {
    PrintErr(Format("[Error] Project %u is said to hold %u bytes, more than a download may hold (%u).",
                    unsigned{projectId}, size, kMaxDownloadBytes));
    return {};
  }
  PrintOut(Format("[*] Downloading Project TAR (%u bytes)...", size));
  std::vector<uint8_t> data;
  data.reserve(std::min<size_t>(size, kMaxReserveBytes));

  uint32_t emptyPages = 0;
  SetProgress(0, size);
  for (uint32_t page = 0; data.size() < size; ++page) {
    if (CancelRequested()) {
      PrintErr("\n[Warning] Project download cancelled.");
      break;
    }
    if (page == kMaxTransferPages) {
      PrintErr(Format("\n[Error] Project download stopped after %u pages: page numbers end there.", page));
      break;
    }
    const std::optional<EPReply> reply = Exchange(BuildReadPage(static_cast<uint16_t>(page)), kReplyLimitMs);
    if (!reply) {
      PrintErr(Format("\n[Error] Timeout waiting for page %u", page));
      break;
    }
    if (reply->status != 0) {
      PrintErr(Format("\n[Error] Device reported error on page %u Status: %u", page, unsigned{reply->status}));
      break;
    }
    if (reply->payload.size() > 2) {
      const size_t take = std::min(reply->payload.size() - 2, size - data.size());
      data.insert(data.end(), reply->payload.begin() + 2, reply->payload.begin() + 2 + static_cast<ptrdiff_t>(take));
      emptyPages = 0;
      SetProgress(data.size(), size);
    } else if (++emptyPages == kMaxEmptyProjectPages) {
      // A device that keeps answering without data would otherwise be asked
      // for all 65536 pages.
      PrintErr(Format("\n[Error] No data in %u pages in a row; download stopped.", emptyPages));
      break;
    }
    if (page > 0 && page % 10 == 0) PrintOutInline(Format("\r    %zu / %u bytes", data.size(), size));
  }
  PrintOut("\n[+] Download complete.");
  if (data.size() != size) PrintErr(Format("[Error] Incomplete download! Expected %u, got %zu", size, data.size()));
  if (complete) *complete = data.size() == size;
  return data;
}

// ---- Uploading ----

bool CEPSysExLink::UploadFile(std::span<const uint8_t> data, std::string_view name, uint16_t parentId,
                              uint16_t slotId, std::string_view initJson, const UploadProgress& progress) {
  if (!IsOpen()) return false;
  const std::vector<uint8_t> init =
      BuildSoundUploadInit(slotId, parentId, static_cast<uint32_t>(data.size()), name, initJson);
  return SendUpload(data, init, kReplyLimitMs, &progress, false);
}

bool CEPSysExLink::UploadProjectArchive(std::span<const uint8_t> data, std::string_view name, uint16_t parentId,
                                        uint16_t targetId) {
  if (!IsOpen()) return false;
  const std::vector<uint8_t> init =
      BuildProjectUploadInit(targetId, parentId, static_cast<uint32_t>(data.size()), name);
  return SendUpload(data, init, kProjectEndLimitMs, nullptr, true);
}

bool CEPSysExLink::SendUpload(std::span<const uint8_t> data, const std::vector<uint8_t>& init, int endLimitMs,
                              const UploadProgress* progress, bool project) {
  // Everything that can refuse the upload does so before the first message.
  if (data.size() > kMaxUploadBytes) {
    PrintErr("[Error] File size exceeds safety limit (4MB).");
    return false;
  }
  const size_t chunk = UploadChunkSize(MaxMessageSize());
  const size_t chunks = (data.size() + chunk - 1) / chunk;
  if (chunks > kMaxUploadChunks) {
    PrintErr(Format("[Error] Upload of %zu bytes would need %zu chunks of %zu bytes; the device numbers at most %zu.",
                    data.size(), chunks, chunk, kMaxUploadChunks));
    return false;
  }

  OperationScope operation(*this);
  std::optional<EPReply> reply = Exchange(init, kReplyLimitMs);
  if (!reply || reply->status != 0) {
    PrintErr(Format("Upload Init Failed. Status: %u", reply ? unsigned{reply->status} : 0u));
    return false;
  }
  uint16_t index = 0;
  for (size_t sent = 0; sent < data.size(); ++index) {
    const size_t count = std::min(chunk, data.size() - sent);
    std::vector<uint8_t> payload = {kCmdUpload, kTransferData};
    AppendU16BE(payload, index);
    payload.insert(payload.end(), data.begin() + static_cast<ptrdiff_t>(sent),
                   data.begin() + static_cast<ptrdiff_t>(sent + count));
    reply = Exchange(payload, kReplyLimitMs);
    if (!reply || reply->status != 0) {
      PrintErr(Format("Upload Chunk Failed at offset %zu", sent));
      return false;
    }
    sent += count;
    const int percent = static_cast<int>(static_cast<float>(sent) / static_cast<float>(data.size()) * 100.0f);
    if (progress && *progress) (*progress)(70 + percent * 25 / 100);
    PrintOutInline(Format("\rUploading: %d%%", percent));
  }
  PrintOutInline("\n");

  std::vector<uint8_t> end = {kCmdUpload, kTransferData};
  AppendU16BE(end, index);
  reply = Exchange(end, endLimitMs);
  if (!reply) {
    if (project) PrintErr("Finalize Upload Timed Out (Device might still be unpacking)");
    return false;
  }
  return reply->status == 0;
}

}  // namespace zandrel
