#include "fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/message_host.h"

namespace zandrel::fuzz {
namespace {

class QuietHost final : public MessageHost {
 public:
  bool answerYes = false;
  MessageAnswer Show(std::string_view, MessageIcon, MessageButtons buttons) override {
    if (buttons == MessageButtons::Ok) return MessageAnswer::Ok;
    if (buttons == MessageButtons::OkCancel) return answerYes ? MessageAnswer::Ok : MessageAnswer::Cancel;
    return answerYes ? MessageAnswer::Yes : MessageAnswer::No;
  }
};

QuietHost g_host;

}  // namespace

namespace {

// Never destroyed: the exit handler that removes the folder runs after the
// static objects of this file may have gone.
const std::filesystem::path* g_scratch = nullptr;

void RemoveScratch() {
  std::error_code ec;
  if (g_scratch) std::filesystem::remove_all(*g_scratch, ec);
}

std::filesystem::path ScratchBase() {
  std::error_code ec;
  if (const char* chosen = std::getenv("ZANDREL_FUZZ_SCRATCH"); chosen && std::filesystem::is_directory(chosen, ec)) {
    return chosen;
  }
  // tmpfs when there is one: a disk would make every write cost more.
  return std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : std::filesystem::temp_directory_path();
}

}  // namespace

const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path* dir = [] {
    std::string pattern = (ScratchBase() / "zandrel-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    g_scratch = new std::filesystem::path(pattern);
    std::atexit(RemoveScratch);
    return g_scratch;
  }();
  return *dir;
}

std::filesystem::path WriteInput(const uint8_t* data, size_t size, const char* name) {
  const std::filesystem::path path = ScratchDir() / name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  return path;
}

void InstallQuietHost(bool answerYes) {
  g_host.answerYes = answerYes;
  SetMessageHost(&g_host);
}

}  // namespace zandrel::fuzz
