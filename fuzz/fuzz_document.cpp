// Opens arbitrary bytes as the document, edits it with undo and redo, and
// runs the save pipeline and the reports, in memory: only the undo
// snapshots, which are files by design, go to the scratch folder.
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "document/quorvel_doc.h"
#include "document/reports.h"
#include "fuzz_support.h"
#include "platform/byte_sink.h"

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
  if (!doc.LoadWavFromMemory(std::span(data, size), "document.wav")) return 0;

  if (!doc.PushUndo(kUndoWithAudio, "fuzz")) return 0;
  if (!doc.audio.data.empty()) doc.audio.data.resize(doc.audio.data.size() / 2);
  if (!doc.PushUndo(kUndoRegionsOnly, "fuzz regions")) return 0;
  doc.instrument.hasInstrument = true;
  doc.instrument.regions.push_back({0, doc.FrameCount(), -1, -1, 0, 127, 60});
  doc.Undo();
  doc.Undo();
  doc.Redo();

  std::vector<uint8_t> saved;
  MemoryByteSink sink(saved);
  if (doc.OnSaveDocument(sink, "saved.wav")) {
    CQuorvelDoc again;
    again.undoHistory.snapshotFolder = fuzz::ScratchDir() / "undo2";
    if (!again.LoadWavFromMemory(saved, "saved.wav")) __builtin_trap();  // what we wrote must open
  }
  std::vector<uint8_t> exported;
  MemoryByteSink exportSink(exported);
  doc.ExportWavWithoutLimits(exportSink);
  WavOverviewText(doc.audio, doc.GetPathName().string());
  InstrumentOverviewText(doc.instrument, doc.GetPathName().string());
  return 0;
}
