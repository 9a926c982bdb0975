// Loads arbitrary bytes as a WAV file, brings the audio into the editor's
// form both ways (passes over the loaded bytes, and converting while reading,
// which must agree), reads and rewrites the instrument chunks and saves the
// result, all in memory (the file paths go through the same reading and
// writing).
#include <cstdint>
#include <span>
#include <vector>

#include "document/instrument_chunks.h"
#include "document/wav_loader.h"
#include "fuzz_support.h"

using namespace zandrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool init = (fuzz::InstallQuietHost(true), true);
  (void)init;

  CWavLoader wav;
  if (!wav.LoadFromMemory(std::span(data, size), "input.wav")) return 0;
  const bool editable = UnsupportedFormatReason(wav).empty();
  wav.MixToMono();
  wav.ConvertTo16Bit();

  // The editor's own reading converts while it reads, block by block: it
  // must come to what the passes over the loaded bytes make (audio the
  // editor refuses stays as stored).
  {
    CWavLoader converted;
    if (!converted.LoadFromMemoryForEditing(std::span(data, size), "input.wav")) __builtin_trap();
    if (editable && (converted.format != wav.format || converted.data != wav.data)) __builtin_trap();
    if (!editable && converted.data.size() > size) __builtin_trap();
  }

  MemoryLog log;
  InstrumentData instrument;
  ParseInstrumentChunk(wav.chunks, wav.FrameCount(), instrument, &log);
  ReadSmplChunk(wav.chunks, instrument, &log);
  ReadAcidChunk(wav.chunks, instrument, &log);

  instrument.hasInstrument = true;
  WriteInstrumentChunk(wav.chunks, instrument, &log);
  UpdateSmplChunk(wav.chunks, instrument, wav.format.nSamplesPerSec, &log);
  UpdateAcidChunk(wav.chunks, instrument, &log);
  WriteInstrumentChunkFor(instrument, 0, wav.FrameCount() / 2, wav.chunks);
  std::vector<uint8_t> saved;
  if (!wav.SaveToMemory(saved, 1.0f)) return 0;

  // What was written must load again.
  CWavLoader back;
  if (!back.LoadFromMemory(saved, "output.wav")) __builtin_trap();
  return 0;
}
