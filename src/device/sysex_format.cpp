#include "device/sysex_format.h"

#include <algorithm>

#include "platform/text_format.h"

namespace zandrel {

size_t PackedSize(size_t payloadBytes) { return payloadBytes + (payloadBytes + 6) / 7; }

std::vector<uint8_t> Pack7Bit(std::span<const uint8_t> payload) {
  std::vector<uint8_t> out;
  out.reserve(PackedSize(payload.size()));
  for (size_t group = 0; group < payload.size(); group += 7) {
    const size_t count = std::min<size_t>(7, payload.size() - group);
    uint8_t header = 0;
    for (size_t k = 0; k < count; ++k) {
      if (payload[group + k] & 0x80) header |= static_cast<uint8_t>(1u << k);
    }
    out.push_back(header);
    for (size_t k = 0; k < count; ++k) out.push_back(payload[group + k] & 0x7F);
  }
  return out;
}

std::vector<uint8_t> Unpack7Bit(std::span<const uint8_t> packed) {
  std::vector<uint8_t> out;
  out.reserve(packed.size());
  size_t pos = 0;
  while (pos < packed.size()) {
    const uint8_t header = packed[pos++];
    for (int j = 0; j < 7 && pos < packed.size(); ++j, ++pos) {
      out.push_back((header >> j) & 1 ? static_cast<uint8_t>(packed[pos] | 0x80) : packed[pos]);
    }
  }
  return out;
}

std::vector<uint8_t> BuildRequestFrame(uint16_t sequence, uint8_t deviceByte, std::span<const uint8_t> payload) {
  const uint16_t seq = sequence & kSequenceMask;
  std::vector<uint8_t> frame;
  frame.reserve(10 + PackedSize(payload.size()));
  frame.push_back(0xF0);
  frame.insert(frame.end(), kDeviceManufacturerId.begin(), kDeviceManufacturerId.end());
  frame.push_back(deviceByte);
  frame.push_back(0x40);
  frame.push_back(static_cast<uint8_t>(0x60 | (seq >> 7)));
  frame.push_back(static_cast<uint8_t>(seq & 0x7F));
  frame.push_back(0x05);
  const std::vector<uint8_t> packed = Pack7Bit(payload);
  frame.insert(frame.end(), packed.begin(), packed.end());
  frame.push_back(0xF7);
  return frame;
}

std::optional<EPReply> ParseReplyFrame(std::span<const uint8_t> message) {
  const size_t n = message.size();
  if (n < 11 || !std::equal(kDeviceManufacturerId.begin(), kDeviceManufacturerId.end(), message.begin() + 1)) {
    return std::nullopt;
  }
  const uint8_t flags = message[6];
  if (flags & 0x40) return std::nullopt;
  EPReply reply;
  if (flags & 0x20) reply.sequence = static_cast<uint16_t>(((flags & 0x1F) << 7) | (message[7] & 0x7F));
  reply.heldByte = message[8];
  reply.status = message[9];
  // The last byte (F7) never belongs to the payload.
  reply.payload = Unpack7Bit(message.subspan(10, n - 11));
  return reply;
}

std::optional<IdentityReply> ParseIdentityReply(std::span<const uint8_t> message) {
  if (message.size() < 6 || message[1] != 0x7E || message[3] != 0x06 || message[4] != 0x02) return std::nullopt;
  IdentityReply identity;
  identity.deviceByte = message[2];
  if (message.size() >= 12) {
    const unsigned family = (static_cast<unsigned>(message[9]) << 7) | message[8];
    const unsigned model = (static_cast<unsigned>(message[11]) << 7) | message[10];
    // At most five digits each (even from bytes with their top bit set), so
    // the text never exceeds 14 characters.
    identity.sku = Format("TE%03uAS%03u", family, model);
  }
  return identity;
}

namespace {

uint16_t ReadU16LE(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

}  // namespace

std::optional<DeviceEventMessage> ParseDeviceEvent(std::span<const uint8_t> payload) {
  if (payload.empty()) return std::nullopt;
  const uint8_t code = payload[0];
  DeviceEventMessage message;
  message.event.code = code;
  switch (code) {
    case kEventFileNamed: {
      if (payload.size() < 3) return std::nullopt;
      message.event.fileId = ReadU16LE(payload, 1);
      const auto name = payload.subspan(3);
      const auto end = std::find(name.begin(), name.end(), uint8_t{0});
      message.name.assign(name.begin(), end);
      return message;
    }
    case kEventFile8:
    case kEventFile9:
    case kEventFileDeleted:
      if (payload.size() < 3) return std::nullopt;
      message.event.fileId = ReadU16LE(payload, 1);
      return message;
    case kEventFileMoved:
      if (payload.size() < 7) return std::nullopt;
      message.oldId = ReadU16LE(payload, 1);
      message.event.fileId = ReadU16LE(payload, 5);
      return message;
    default: return std::nullopt;
  }
}

std::string DeviceEventConsoleLine(const DeviceEventMessage& message) {
  switch (message.event.code) {
    case kEventFileDeleted: return Format("[Async Event] File Deleted: %u", unsigned{message.event.fileId});
    case kEventFileMoved:
      return Format("[Async Event] Moved %u -> %u", unsigned{message.oldId}, unsigned{message.event.fileId});
    default: return {};
  }
}

void AppendU16BE(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

void AppendU32BE(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 24));
  out.push_back(static_cast<uint8_t>(value >> 16));
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

uint16_t ReadU16BE(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

uint32_t ReadU32BE(std::span<const uint8_t> bytes, size_t at) {
  return (static_cast<uint32_t>(bytes[at]) << 24) | (static_cast<uint32_t>(bytes[at + 1]) << 16) |
         (static_cast<uint32_t>(bytes[at + 2]) << 8) | bytes[at + 3];
}

}  // namespace zandrel
