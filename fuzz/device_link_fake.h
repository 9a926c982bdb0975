// The device's side of the link for the device fuzz targets: MIDI ports in
// memory whose device answers each message of the link with records read
// from the fuzz input.
//
// The input is a list of records, each answering the link's next message:
//   control byte: bits 0-1 kind (0 nothing, 1 reply to the awaited request,
//                 2 event without sequence number, 3 raw message as is),
//                 bit 6 a two-byte length follows instead of one,
//                 bit 7 the last record for this message of the link
//   length (1 or 2 bytes, big-endian), then that many bytes. For kind 1 the
//   first byte is the status and the rest the payload; kind 2 is the payload.
// The output port delivers the records inside Send(), so the link meets
// replies that arrive before it starts waiting; with the time scale at 0 an
// unanswered request fails at once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <streambuf>
#include <string>
#include <vector>

#include "device/sysex_format.h"
#include "platform/midi_port.h"

namespace zandrel::fuzz {

// Reads the input front to back; past its end every read gives nothing.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::span<const uint8_t> Take(size_t n) {
    n = std::min(n, size_ - std::min(at_, size_));
    std::span<const uint8_t> out(data_ + at_, n);
    at_ += n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A reply frame (or, with flags 0, an event) as the device sends it.
inline std::vector<uint8_t> Frame(uint16_t sequence, uint8_t flags, uint8_t status, std::span<const uint8_t> payload) {
  std::vector<uint8_t> frame = {0xF0, 0x00, 0x20, 0x76, 0x00, 0x00, flags, static_cast<uint8_t>(sequence & 0x7F),
                                0x05, status};
  const std::vector<uint8_t> packed = Pack7Bit(payload);
  frame.insert(frame.end(), packed.begin(), packed.end());
  frame.push_back(0xF7);
  return frame;
}

// Answers each message with the input's next records.
class FuzzOut final : public MidiOutPort {
 public:
  FuzzOut(Input& input, MidiInputCallback& deliver) : input_(input), deliver_(deliver) {}
  bool Send(std::span<const uint8_t> message) override {
    uint16_t sequence = 0;
    if (message.size() >= 10 && message[1] == 0x00) sequence = static_cast<uint16_t>(((message[6] & 0x1F) << 7) | message[7]);
    while (!input_.Empty()) {
      const uint8_t control = input_.Byte();
      size_t length = input_.Byte();
      if (control & 0x40) length = (length << 8) | input_.Byte();
      const std::span<const uint8_t> bytes = input_.Take(length);
      std::vector<uint8_t> incoming;
      switch (control & 3) {
        case 1: {
          const uint8_t status = bytes.empty() ? 0 : bytes[0];
          incoming = Frame(sequence, static_cast<uint8_t>(0x20 | (sequence >> 7)), status,
                           bytes.empty() ? bytes : bytes.subspan(1));
          break;
        }
        case 2: incoming = Frame(0, 0x00, 0, bytes); break;
        case 3: incoming.assign(bytes.begin(), bytes.end()); break;
        default: break;
      }
      if (!incoming.empty() && deliver_) deliver_(incoming);
      if (control & 0x80) break;
    }
    return true;
  }
  size_t MaxMessageBytes() const override { return 65536; }
  void Close() override {}

 private:
  Input& input_;
  MidiInputCallback& deliver_;
};

class FuzzIn final : public MidiInPort {
 public:
  explicit FuzzIn(MidiInputCallback& deliver) : deliver_(deliver) {}
  void Close() override { deliver_ = nullptr; }

 private:
  MidiInputCallback& deliver_;
};

// One device port pair named like the device.
class FuzzMidi final : public MidiSystem {
 public:
  explicit FuzzMidi(Input& input) : input_(input) {}
  std::vector<std::string> InputNames() override { return {"EP-133"}; }
  std::vector<std::string> OutputNames() override { return {"EP-133"}; }
  std::unique_ptr<MidiInPort> OpenInput(size_t, MidiInputCallback callback) override {
    deliver_ = std::move(callback);
    return std::make_unique<FuzzIn>(deliver_);
  }
  std::unique_ptr<MidiOutPort> OpenOutput(size_t) override { return std::make_unique<FuzzOut>(input_, deliver_); }

 private:
  Input& input_;
  MidiInputCallback deliver_;
};

// Swallows the link's console lines.
class NullBuffer final : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};


// One record of the input, as ForEachRecord() hands it out.
struct Record {
  uint8_t kind = 0;
  std::span<const uint8_t> bytes;
};

// Calls |f| for every record of the input, in order.
inline void ForEachRecord(const uint8_t* data, size_t size, const std::function<void(const Record&)>& f) {
  Input input(data, size);
  while (!input.Empty()) {
    const uint8_t control = input.Byte();
    size_t length = input.Byte();
    if (control & 0x40) length = (length << 8) | input.Byte();
    f({static_cast<uint8_t>(control & 3), input.Take(length)});
  }
}

}  // namespace zandrel::fuzz
