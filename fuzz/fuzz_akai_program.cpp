// Reads arbitrary text as an AKAI program, turns it into regions, imports it
// as a kit (one small sample lies beside it) and exports the result; every
// program the writer produces must read again.
#include <cstdint>
#include <filesystem>
#include <string>

#include "document/quorvel_doc.h"
#include "fuzz_support.h"
#include "kits/akai_kit.h"
#include "kits/akai_program.h"

using namespace zandrel;
namespace fs = std::filesystem;

namespace {

class FuzzFrame final : public DocumentFrame {
 public:
  LogSink& Log() override { return log; }
  MemoryLog log;
};

const fs::path& KitFolder() {
  static const fs::path folder = [] {
    const fs::path f = fuzz::ScratchDir() / "akai";
    fs::create_directories(f / "Samples");
    // A tiny mono 16-bit WAV under two names a program may use.
    static const uint8_t wav[] = {'R', 'I', 'F', 'F', 44, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0,
                                  0,   0,   1,   0,   1,  0, 0x44, 0xAC, 0, 0, 0x88, 0x58, 1, 0, 2, 0, 16, 0,
                                  'd', 'a', 't', 'a', 8, 0, 0, 0, 1, 0, 2, 0, 3, 0, 4, 0};
    for (const char* name : {"a.wav", "Samples/b.wav"}) {
      std::FILE* file = std::fopen((f / name).c_str(), "wb");
      if (!file) std::abort();
      std::fwrite(wav, 1, sizeof(wav), file);
      std::fclose(file);
    }
    return f;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool init = (fuzz::InstallQuietHost(true), true);
  (void)init;
  const std::string text(reinterpret_cast<const char*>(data), size);

  CAKAIParse parser;
  AkaiProgram program;
  std::string error;
  if (!parser.LoadProgram(text, program, error)) return 0;
  (void)CAKAIParse::ProgramToImportRegions(program);

  std::string written;
  parser.GenerateProgramXml(program, written);
  AkaiProgram again;
  if (!parser.LoadProgram(written, again, error)) __builtin_trap();  // what we write must read

  FuzzFrame frame;
  CQuorvelDoc doc;
  doc.SetFrame(&frame);
  std::FILE* file = std::fopen((KitFolder() / "kit.xpm").c_str(), "wb");
  if (!file) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  if (ImportAkaiKit(doc, KitFolder() / "kit.xpm", [] { return true; })) {
    for (const Region& r : doc.instrument.regions) {
      if (r.loKey < 0 || r.loKey > 127 || r.hiKey < 0 || r.hiKey > 127 || r.rootNote < 0 || r.rootNote > 127)
        __builtin_trap();
      if (r.startSample < 0 || r.endSample > doc.FrameCount() || r.startSample > r.endSample) __builtin_trap();
    }
    fs::create_directories(fuzz::ScratchDir() / "akai-out");
    ExportAkaiKeygroup(doc, fuzz::ScratchDir() / "akai-out" / "out.xpm");
  }
  return 0;
}
