// Opens arbitrary bytes as the document, edits it with undo and redo, and
// runs the save pipeline and the reports into the scratch folder.
#include <cstdint>
#include <filesystem>

#include "document/quorvel_doc.h"
#include "fuzz_support.h"

using namespace zandrel;

namespace {

class FuzzFrame final : public DocumentFrame {
 public:
  LogSink& Log() override { return log; }
  MemoryLog log;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool init = (fuzz::InstallQuietHost(true), true);
  (void)init;

  FuzzFrame frame;
  CQuorvelDoc doc;
  doc.SetFrame(&frame);
  doc.undoHistory.snapshotFolder = fuzz::ScratchDir() / "undo";
  if (!doc.LoadWav(fuzz::WriteInput(data, size, "document.wav"))) return 0;

  if (!doc.PushUndo(kUndoWithAudio, "fuzz")) return 0;
  if (!doc.audio.data.empty()) doc.audio.data.resize(doc.audio.data.size() / 2);
  if (!doc.PushUndo(kUndoRegionsOnly, "fuzz regions")) return 0;
  doc.instrument.hasInstrument = true;
  doc.instrument.regions.push_back({0, doc.FrameCount(), -1, -1, 0, 127, 60});
  doc.Undo();
  doc.Undo();
  doc.Redo();

  const std::filesystem::path out = fuzz::ScratchDir() / "saved.wav";
  if (doc.OnSaveDocument(out)) {
    CQuorvelDoc again;
    again.undoHistory.snapshotFolder = fuzz::ScratchDir() / "undo2";
    if (!again.LoadWav(out)) __builtin_trap();  // what we wrote must open
  }
  doc.ExportWavWithoutLimits(fuzz::ScratchDir() / "export.wav");
  doc.WriteWavOverview(fuzz::ScratchDir() / "overview.txt");
  doc.WriteInstrumentOverview(fuzz::ScratchDir() / "instrument.txt");
  return 0;
}
