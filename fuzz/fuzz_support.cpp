#include "fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
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

const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    // tmpfs when there is one: every input is written and saved, and a disk
    // would make each fsync cost milliseconds.
    std::error_code ec;
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string pattern = (base / "zandrel-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchDir(), ec);
    });
    return std::filesystem::path(pattern);
  }();
  return dir;
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
