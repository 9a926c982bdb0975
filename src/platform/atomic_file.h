// Writes a file so that the old content survives any failure.
//
// The bytes go to a new temporary file in the target's folder; Commit()
// flushes them to disk and renames the temporary file over the target. A
// writer destroyed without a successful Commit() removes its temporary file,
// so a full disk, a failed write or an exception leaves the target exactly as
// it was. A target that is a symbolic link is written through the link.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace zandrel {

class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Creates the temporary file beside |target|. False (with Error()) when it
  // cannot be created.
  bool Open(const std::filesystem::path& target);
  // Appends bytes; after the first failure every call returns false.
  bool Write(const void* bytes, size_t count);
  bool Write(std::string_view text) { return Write(text.data(), text.size()); }
  // Flushes, syncs, closes and renames over the target.
  bool Commit();

  const std::string& Error() const { return error_; }

 private:
  void Abort();
  bool Fail(const char* what);

  std::filesystem::path target_;
  std::filesystem::path temp_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  std::string error_;
};

// Convenience: the whole content at once.
bool WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes, std::string* error);

}  // namespace zandrel
