// Where a writer puts the bytes of a file it produces.
//
// File formats are written to a ByteSink, so one writer serves both a file on
// disk (AtomicFileWriter) and a buffer in memory (MemoryByteSink: tests, fuzz
// targets and anything that wants the bytes without a file). Write() appends;
// after the first failure a sink keeps returning false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zandrel {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Write(const void* bytes, size_t count) = 0;
};

// Appends to a byte vector it does not own.
class MemoryByteSink final : public ByteSink {
 public:
  explicit MemoryByteSink(std::vector<uint8_t>& out) : out_(out) {}
  bool Write(const void* bytes, size_t count) override {
    const auto* p = static_cast<const uint8_t*>(bytes);
    out_.insert(out_.end(), p, p + count);
    return true;
  }

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace zandrel
