// Reads arbitrary text, up to megabytes of it, as the instrument data of a WAV
// file (the JSON text of a "TNGE" sub-chunk), writes the instrument back and
// reads what was written: that must give the same text again.
#include <cstdint>
#include <vector>

#include "document/instrument_chunks.h"
#include "document/riff.h"

using namespace zandrel;

namespace {

void AppendLE32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A LIST/INFO chunk holding |text| as its one TNGE sub-chunk.
RiffChunk ListWithText(const uint8_t* text, size_t size) {
  RiffChunk list;
  list.id = MakeFourCC("LIST");
  AppendFourCC(list.data, MakeFourCC("INFO"));
  AppendFourCC(list.data, MakeFourCC("TNGE"));
  AppendLE32(list.data, static_cast<uint32_t>(size));
  list.data.insert(list.data.end(), text, text + size);
  if (size % 2) list.data.push_back(0);
  list.size = static_cast<uint32_t>(list.data.size());
  return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A frame count the regions may or may not fit: the reader keeps what it
  // reads, the frame count only sizes a region made from a global loop.
  constexpr int64_t kFrames = 100000;
  const std::vector<RiffChunk> chunks = {ListWithText(data, size)};
  MemoryLog log;
  InstrumentData instrument;
  ParseInstrumentChunk(chunks, kFrames, instrument, &log);
  if (instrument.regions.size() > size) __builtin_trap();  // every region takes text

  // What we write must read back into the same text: a sole region is not
  // written as one, so the instrument itself may differ, its text may not.
  std::vector<RiffChunk> written;
  instrument.hasInstrument = true;
  WriteInstrumentChunk(written, instrument, nullptr);
  InstrumentData again;
  ParseInstrumentChunk(written, kFrames, again, nullptr);
  again.hasInstrument = true;
  if (BuildInstrumentJson(again) != BuildInstrumentJson(instrument)) __builtin_trap();

  std::vector<RiffChunk> selection;
  WriteInstrumentChunkFor(instrument, kFrames / 4, kFrames / 2, selection);
  return 0;
}
