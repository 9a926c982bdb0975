// Extracts arbitrary bytes as a SmplTrek kit: the scan must end, every file
// must land in the extraction folder, and the files together never hold more
// bytes than the kit.
#include <cstdint>
#include <filesystem>
#include <span>
#include <system_error>

#include "fuzz_support.h"
#include "kits/folder_import.h"

using namespace zandrel;
namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool init = (fuzz::InstallQuietHost(true), true);
  (void)init;
  const fs::path target = fuzz::ScratchDir() / "stk";
  std::error_code ec;
  fs::remove_all(target, ec);

  (void)ReadSmplTrekSampleNames(std::span(data, size));
  const std::vector<fs::path> written = ExtractSmplTrekBlocks(std::span(data, size), target);
  for (const fs::path& p : written)
    if (p.parent_path() != target) __builtin_trap();
  uintmax_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(target, ec)) {
    if (entry.path().parent_path() != target || !entry.is_regular_file()) __builtin_trap();
    total += entry.file_size();
  }
  if (total > size) __builtin_trap();
  fs::remove_all(target, ec);
  return 0;
}
