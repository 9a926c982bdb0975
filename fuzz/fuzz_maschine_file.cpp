// Reads arbitrary bytes as a Maschine group or sound: collects the sample
// paths, groups velocity layers, reads notes, and resolves every path, which
// must stay inside the folder it is resolved under.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "fuzz_support.h"
#include "kits/kit_import.h"
#include "kits/kit_text.h"
#include "kits/maschine_import.h"

using namespace zandrel;
namespace fs = std::filesystem;

namespace {

class FuzzFrame final : public DocumentFrame {
 public:
  LogSink& Log() override { return log; }
  MemoryLog log;
};

bool Inside(const fs::path& base, const fs::path& path) {
  const std::string b = base.lexically_normal().string();
  const std::string p = path.lexically_normal().string();
  return p.size() > b.size() && p.compare(0, b.size(), b) == 0 && p[b.size()] == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool init = (fuzz::InstallQuietHost(true), true);
  (void)init;
  const fs::path base = fuzz::ScratchDir() / "library";
  static const bool made = (fs::create_directories(base / "Samples"), true);
  (void)made;

  MaschineSampleLists lists;
  ReadMaschineSamplePaths(lists, std::span(data, size));
  GroupVelocityLayers(lists);
  for (const auto& list : lists.lists)
    if (list.size() != lists.lists[0].size()) __builtin_trap();
  for (const std::string& entry : lists.lists[0]) {
    const int note = ParseNoteFromFileName(entry);
    if (note < -1 || note > 127) __builtin_trap();
    if (const std::optional<fs::path> path = ResolveKitPath(base, entry))
      if (!Inside(base, *path)) __builtin_trap();
  }
  // Also as a reference with neither a library nor a kit around it.
  const std::string asName(reinterpret_cast<const char*>(data), size);
  if (const std::optional<fs::path> path = ResolveKitPath(base, asName))
    if (!Inside(base, *path)) __builtin_trap();

  FuzzFrame frame;
  CQuorvelDoc doc;
  doc.SetFrame(&frame);
  ImportMaschineFile(doc, fuzz::WriteInput(data, size, size % 2 ? "library/kit.mxsnd" : "library/kit.mxgrp"));
  return 0;
}
