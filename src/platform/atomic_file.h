// Writes a file so that the old content survives any failure.
//
// The bytes go to a new unnamed file in the target's folder (O_TMPFILE);
// Commit() flushes them to disk, gives the file a name beside the target and
// renames it over the target. Until then the file has no name, so even a
// process killed mid-write leaves nothing behind. Where the file system has no
// unnamed files, a hidden named temporary file is used instead. A writer
// destroyed without a successful Commit() removes its temporary file, so a
// full disk, a failed write or an exception leaves the target exactly as it
// was. A target that is a symbolic link is written through the link.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/byte_sink.h"

namespace zandrel {

class AtomicFileWriter final : public ByteSink {
 public:
  AtomicFileWriter() = default;
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Creates the temporary file beside |target|. False (with Error()) when it
  // cannot be created.
  bool Open(const std::filesystem::path& target);
  // Appends bytes; after the first failure every call returns false.
  bool Write(const void* bytes, size_t count) override;
  bool Write(std::string_view text) { return Write(text.data(), text.size()); }
  // Flushes, syncs, closes and renames over the target.
  bool Commit();

  const std::string& Error() const { return error_; }

 private:
  void Abort();
  bool Fail(const char* what);
  bool LinkUnnamedFile();

  std::filesystem::path target_;
  std::filesystem::path temp_;
  std::FILE* file_ = nullptr;
  bool unnamed_ = false;  // file_ has no name yet (temp_ is empty until Commit)
  bool failed_ = false;
  std::string error_;
};

// Convenience: the whole content at once.
bool WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes, std::string* error);

}  // namespace zandrel
