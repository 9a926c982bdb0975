// The bytes of the protocol: packing, request and reply frames, identity
// replies, device events and the port-name rule.
#include "device/sysex_format.h"

#include <gtest/gtest.h>

#include <random>

#include "device/sysex_link.h"

namespace zandrel {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(Pack7Bit, WorkedExamples) {
  struct Case {
    Bytes payload;
    Bytes packed;
  };
  const Case cases[] = {
      {{}, {}},
      {{0x81, 0x02, 0xFF, 0x7F, 0x80}, {0x15, 0x01, 0x02, 0x7F, 0x7F, 0x00}},
      {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88},
       {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x01, 0x08}},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Pack7Bit(c.payload), c.packed);
    EXPECT_EQ(Unpack7Bit(c.packed), c.payload);
  }
}

TEST(Pack7Bit, SizesAndRoundTrip) {
  EXPECT_EQ(PackedSize(0), 0u);
  EXPECT_EQ(PackedSize(7), 8u);
  EXPECT_EQ(PackedSize(8), 10u);
  EXPECT_EQ(PackedSize(14), 16u);
  std::mt19937 rng(7);
  for (size_t size = 0; size <= 30; ++size) {
    Bytes payload(size);
    for (uint8_t& b : payload) b = static_cast<uint8_t>(rng());
    const Bytes packed = Pack7Bit(payload);
    ASSERT_EQ(packed.size(), PackedSize(size));
    for (uint8_t b : packed) EXPECT_LT(b, 0x80) << "size " << size;
    EXPECT_EQ(Unpack7Bit(packed), payload) << "size " << size;
  }
}

TEST(Unpack7Bit, StopsAtTheEndOfTheInput) {
  EXPECT_EQ(Unpack7Bit(Bytes{0x7F}), Bytes{});                    // a lone header
  EXPECT_EQ(Unpack7Bit(Bytes{0x03, 0x01, 0x02}), (Bytes{0x81, 0x82}));  // a group cut short
  EXPECT_EQ(Unpack7Bit(Bytes{0x00, 1, 2, 3, 4, 5, 6, 7, 0x01}), (Bytes{1, 2, 3, 4, 5, 6, 7}));
}

TEST(RequestFrame, BytesForGivenSequenceNumbers) {
  struct Case {
    uint16_t sequence;
    uint8_t device;
    Bytes payload;
    Bytes frame;
  };
  const Case cases[] = {
      // Listing request for page 0 of directory 0.
      {0, 0, {0x04, 0, 0, 0, 0}, {0xF0, 0x00, 0x20, 0x76, 0x00, 0x40, 0x60, 0x00, 0x05, 0x00, 0x04, 0, 0, 0, 0, 0xF7}},
      // Init request.
      {0, 0, {0x01, 0x01, 0x00, 0x40, 0x00, 0x00},
       {0xF0, 0x00, 0x20, 0x76, 0x00, 0x40, 0x60, 0x00, 0x05, 0x00, 0x01, 0x01, 0x00, 0x40, 0x00, 0x00, 0xF7}},
      // 300 = 12C hex; the device byte sits in byte 4.
      {300, 0x33, {}, {0xF0, 0x00, 0x20, 0x76, 0x33, 0x40, 0x62, 0x2C, 0x05, 0xF7}},
      {4095, 0, {}, {0xF0, 0x00, 0x20, 0x76, 0x00, 0x40, 0x7F, 0x7F, 0x05, 0xF7}},
      // Only the low 12 bits are sent.
      {4096, 0, {}, {0xF0, 0x00, 0x20, 0x76, 0x00, 0x40, 0x60, 0x00, 0x05, 0xF7}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BuildRequestFrame(c.sequence, c.device, c.payload), c.frame) << "sequence " << c.sequence;
  }
  EXPECT_EQ(BuildRequestFrame(1, 0, Bytes(15, 0x80)).size(), 10u + 15 + 3);
}

TEST(ReplyFrame, SequenceFlagsAndPayload) {
  struct Case {
    Bytes message;
    bool accepted;
    uint16_t sequence;
  };
  const Case cases[] = {
      {{0xF0, 0x00, 0x20, 0x76, 0x00, 0x00, 0x22, 0x2C, 0x05, 0x00, 0xF7}, true, 300},
      {{0xF0, 0x00, 0x20, 0x76, 0x00, 0x00, 0x02, 0x2C, 0x05, 0x00, 0xF7}, true, 0},  // no sequence bit
      {{0xF0, 0x00, 0x20, 0x76, 0x00, 0x00, 0x62, 0x2C, 0x05, 0x00, 0xF7}, false, 0},  // a request
      {{0xF0, 0x00, 0x20, 0x76, 0x00, 0x00, 0x20, 0x05, 0x05, 0x00, 0xF7}, true, 5},
      {{0xF0, 0x00, 0x20, 0x76, 0x00, 0x00, 0x20, 0x05, 0x05, 0xF7}, false, 0},        // 10 bytes
      {{0xF0, 0x00, 0x20, 0x77, 0x00, 0x00, 0x20, 0x05, 0x05, 0x00, 0xF7}, false, 0},  // another maker
  };
  for (const Case& c : cases) {
    const std::optional<EPReply> reply = ParseReplyFrame(c.message);
    ASSERT_EQ(reply.has_value(), c.accepted) << "byte 6 " << int(c.message[6]);
    if (reply) {
      EXPECT_EQ(reply->sequence, c.sequence);
    }
  }

  const std::optional<EPReply> empty =
      ParseReplyFrame(Bytes{0xF0, 0x00, 0x20, 0x76, 0x00, 0x00, 0x20, 0x05, 0x05, 0x00, 0xF7});
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->status, 0);
  EXPECT_TRUE(empty->payload.empty());

  // Byte 8 is held, byte 9 is the raw status, the rest up to F7 unpacks.
  Bytes message = {0xF0, 0x00, 0x20, 0x76, 0x00, 0x00, 0x20, 0x01, 0x66, 0x85};
  for (uint8_t b : Pack7Bit(Bytes{0x81, 0x02, 0xFF, 0x7F, 0x80})) message.push_back(b);
  message.push_back(0xF7);
  const std::optional<EPReply> full = ParseReplyFrame(message);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->heldByte, 0x66);
  EXPECT_EQ(full->status, 0x85);
  EXPECT_EQ(full->payload, (Bytes{0x81, 0x02, 0xFF, 0x7F, 0x80}));
}

TEST(IdentityReply, DeviceByteAndSku) {
  const Bytes standard = {0xF0, 0x7E, 0x21, 0x06, 0x02, 0x00, 0x20, 0x76, 0x05,
                          0x01, 0x07, 0x00, 0x01, 0x00, 0x00, 0x00, 0xF7};
  std::optional<IdentityReply> identity = ParseIdentityReply(standard);
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->deviceByte, 0x21);
  EXPECT_EQ(identity->sku, "TE133AS007");

  identity = ParseIdentityReply(Bytes{0xF0, 0x7E, 0x05, 0x06, 0x02, 0x00, 0x20, 0xF7});
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->deviceByte, 0x05);
  EXPECT_FALSE(identity->sku);

  const Bytes twelve(standard.begin(), standard.begin() + 12);
  EXPECT_EQ(ParseIdentityReply(twelve)->sku, "TE133AS007");
  // The largest numbers still make 14 characters.
  Bytes big = standard;
  big[8] = big[9] = big[10] = big[11] = 0x7F;
  EXPECT_EQ(ParseIdentityReply(big)->sku, "TE16383AS16383");

  EXPECT_FALSE(ParseIdentityReply(Bytes{0xF0, 0x7E, 0x05, 0x06, 0x02}));           // 5 bytes
  EXPECT_FALSE(ParseIdentityReply(Bytes{0xF0, 0x7E, 0x05, 0x06, 0x01, 0xF7}));     // a request
  EXPECT_FALSE(ParseIdentityReply(Bytes{0xF0, 0x7D, 0x05, 0x06, 0x02, 0xF7}));
}

TEST(DeviceEvent, CodesIdsAndConsoleLines) {
  struct Case {
    Bytes payload;
    bool event;
    uint8_t code;
    uint16_t id;
    std::string line;
  };
  const Case cases[] = {
      {{0x0A, 0x34, 0x12}, true, 10, 4660, "[Async Event] File Deleted: 4660"},
      {{0x0D, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00}, true, 13, 2, "[Async Event] Moved 1 -> 2"},
      {{0x03, 0x05, 0x00, 'a', 'b', 0x00, 'c'}, true, 3, 5, ""},
      {{0x03, 0x05, 0x01}, true, 3, 261, ""},
      {{0x08, 0x01, 0x02}, true, 8, 513, ""},
      {{0x09, 0xFF, 0xFF, 0x00}, true, 9, 65535, ""},
      {{0x08, 0x01}, false, 0, 0, ""},                   // too short
      {{0x0D, 0x01, 0x00, 0x00, 0x00, 0x02}, false, 0, 0, ""},  // a move needs 7 bytes
      {{0x63, 0x01, 0x00}, false, 0, 0, ""},             // unknown code
      {{}, false, 0, 0, ""},
  };
  for (const Case& c : cases) {
    const std::optional<DeviceEventMessage> message = ParseDeviceEvent(c.payload);
    ASSERT_EQ(message.has_value(), c.event) << "code " << (c.payload.empty() ? -1 : c.payload[0]);
    if (!message) continue;
    EXPECT_EQ(message->event, (EPDeviceEvent{c.code, c.id}));
    EXPECT_EQ(DeviceEventConsoleLine(*message), c.line);
  }
  EXPECT_EQ(ParseDeviceEvent(Bytes{0x03, 0x05, 0x00, 'a', 'b', 0x00, 'c'})->name, "ab");
}

TEST(PortName, EpOrKoIiAnywhereIgnoringCase) {
  struct Case {
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"EP-133", true},
      {"EP-133 KO II:EP-133 KO II MIDI 1 24:0", true},
      {"ep-1320", true},
      {"SLEEP-X", true},      // inside a longer word
      {"Teenage KO II", true},
      {"ko ii synth", true},
      {"EP-", true},
      {"EP", false},
      {"EP 133", false},
      {"KO I", false},
      {"Midi Through Port-0", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsEpPortName(c.name), c.matches) << c.name;
}

TEST(BigEndian, AppendAndRead) {
  Bytes out;
  AppendU16BE(out, 0x1234);
  AppendU32BE(out, 0x89ABCDEF);
  EXPECT_EQ(out, (Bytes{0x12, 0x34, 0x89, 0xAB, 0xCD, 0xEF}));
  EXPECT_EQ(ReadU16BE(out, 0), 0x1234);
  EXPECT_EQ(ReadU32BE(out, 2), 0x89ABCDEFu);
}

}  // namespace
}  // namespace zandrel
