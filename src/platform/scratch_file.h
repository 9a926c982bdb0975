// Writes a file that only this process reads back (undo snapshots in the
// private temporary folder).
//
// Unlike AtomicFileWriter it protects no earlier content, so it writes the
// file in place: no temporary name, no rename and no flush to disk (the file
// is worthless once the process ends). The file is private (0600) when it is
// created. A writer destroyed without a successful Commit() removes the file,
// so a full disk leaves no half-written file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/byte_sink.h"

namespace zandrel {

class ScratchFileWriter final : public ByteSink {
 public:
  ScratchFileWriter() = default;
  ~ScratchFileWriter();
  ScratchFileWriter(const ScratchFileWriter&) = delete;
  ScratchFileWriter& operator=(const ScratchFileWriter&) = delete;

  // Creates (or empties) the file. False (with Error()) when it cannot.
  bool Open(const std::filesystem::path& path);
  // Appends bytes; after the first failure every call returns false.
  bool Write(const void* bytes, size_t count) override;
  // Writes what is buffered and closes the file.
  bool Commit();

  const std::string& Error() const { return error_; }

 private:
  bool Flush();
  bool Fail(const char* what);
  void Abort();

  std::filesystem::path path_;
  int fd_ = -1;
  bool failed_ = false;
  std::vector<uint8_t> buffer_;
  std::string error_;
};

}  // namespace zandrel
