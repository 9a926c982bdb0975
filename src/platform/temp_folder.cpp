#include "platform/temp_folder.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>

namespace zandrel {
namespace fs = std::filesystem;

fs::path MakeUniqueFolder(const fs::path& parent, const char* prefix) {
  std::string pattern = (parent / (std::string(prefix) + "XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) return {};
  return fs::path(pattern);
}

const fs::path& ProcessTempFolder() {
  // Never destroyed: the exit handler below still needs it after static
  // objects are gone.
  static const fs::path* const folder = [] {
    std::error_code ec;
    const fs::path system = fs::temp_directory_path(ec);
    fs::path made = ec ? fs::path() : MakeUniqueFolder(system, "zandrel-");
    if (!made.empty()) {
      // Removed only when empty: files a user may still want are never
      // deleted behind their back.
      std::atexit([] { ::rmdir(ProcessTempFolder().c_str()); });
    }
    return new fs::path(std::move(made));
  }();
  return *folder;
}

}  // namespace zandrel
