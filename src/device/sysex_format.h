// The bytes of the EP device's system-exclusive protocol.
//
// Every exchange is one request frame from the editor and one reply frame
// from the device, paired by a 12-bit sequence number:
//
//   request  F0 00 20 76 <device> 40 <60 | seq >> 7> <seq & 7F> 05 <payload> F7
//   reply    F0 00 20 76 <device> <-> <flags> <seq & 7F> <held> <status> <payload> F7
//
// Payloads travel packed 7-in-8 (Pack7Bit): MIDI data bytes carry seven bits,
// so each group of up to seven bytes is preceded by a byte holding their top
// bits. The device also sends unsolicited messages in the reply form; the
// first payload byte of those is a device-event code (ParseDeviceEvent).
// Numbers inside command payloads are big-endian; the file ids inside device
// events are little-endian.
//
// Everything here is pure: parsing never reads outside the given bytes and
// never allocates more than a small multiple of the input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zandrel {

// The device maker's system-exclusive id, bytes 1-3 of every frame.
inline constexpr std::array<uint8_t, 3> kDeviceManufacturerId = {0x00, 0x20, 0x76};
// MIDI Universal Identity Request to all devices, sent once on opening.
inline constexpr std::array<uint8_t, 6> kIdentityRequest = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
// Sequence numbers run 0..4095 and wrap.
inline constexpr uint16_t kSequenceMask = 0x0FFF;

// One received reply.
struct EPReply {
  uint16_t sequence = 0;
  uint8_t heldByte = 0;  // reply byte 8: kept, read by no command
  uint8_t status = 0;    // 0 = success, anything else = failure
  std::vector<uint8_t> payload;  // unpacked
};

// 7-in-8 packing. A payload of p bytes packs to p + ceil(p / 7) bytes.
size_t PackedSize(size_t payloadBytes);
std::vector<uint8_t> Pack7Bit(std::span<const uint8_t> payload);
// Stops at the end of the input, also inside a group; a header byte with
// nothing after it yields nothing.
std::vector<uint8_t> Unpack7Bit(std::span<const uint8_t> packed);

// The request frame for |payload|: 10 + PackedSize(payload) bytes.
std::vector<uint8_t> BuildRequestFrame(uint16_t sequence, uint8_t deviceByte, std::span<const uint8_t> payload);

// The reply carried by |message|, or nothing when the message is not a reply:
// shorter than 11 bytes, another maker's id, or a request (flag 0x40). A
// reply without flag 0x20 carries sequence number 0.
std::optional<EPReply> ParseReplyFrame(std::span<const uint8_t> message);

// What a MIDI Universal Identity Reply tells: the device byte (its byte 2)
// and, for replies of 12 bytes or more, the SKU text "TE%03dAS%03d" made from
// the family code and the model number.
struct IdentityReply {
  uint8_t deviceByte = 0;
  std::optional<std::string> sku;
};
std::optional<IdentityReply> ParseIdentityReply(std::span<const uint8_t> message);

// Device events: byte 0 of an accepted message's payload.
inline constexpr uint8_t kEventFileNamed = 3;     // id, then a name
inline constexpr uint8_t kEventFile8 = 8;         // id
inline constexpr uint8_t kEventFile9 = 9;         // id
inline constexpr uint8_t kEventFileDeleted = 10;  // id
inline constexpr uint8_t kEventFileMoved = 13;    // old id, 2 unread bytes, new id

// One device event as the link forwards it: for a move, the NEW id.
struct EPDeviceEvent {
  uint8_t code = 0;
  uint16_t fileId = 0;
  bool operator==(const EPDeviceEvent&) const = default;
};

// A decoded event message with what only the console line needs.
struct DeviceEventMessage {
  EPDeviceEvent event;
  uint16_t oldId = 0;  // moves only
  std::string name;    // kEventFileNamed only; read and not forwarded
};
// Nothing for other codes and for payloads shorter than the code's minimum.
std::optional<DeviceEventMessage> ParseDeviceEvent(std::span<const uint8_t> payload);
// The console line an event prints ("[Async Event] ..."), empty for none.
std::string DeviceEventConsoleLine(const DeviceEventMessage& message);

// Big-endian numbers inside command payloads.
void AppendU16BE(std::vector<uint8_t>& out, uint16_t value);
void AppendU32BE(std::vector<uint8_t>& out, uint32_t value);
// Read at |at|; the caller has checked that the bytes are there.
uint16_t ReadU16BE(std::span<const uint8_t> bytes, size_t at);
uint32_t ReadU32BE(std::span<const uint8_t> bytes, size_t at);

}  // namespace zandrel
