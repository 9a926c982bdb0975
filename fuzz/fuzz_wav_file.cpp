// Loads arbitrary bytes as a WAV file, brings the audio into the editor's
// form, reads and rewrites the instrument chunks and saves the result.
#include <cstdint>

#include "document/instrument_chunks.h"
#include "document/wav_loader.h"
#include "fuzz_support.h"

using namespace zandrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool init = (fuzz::InstallQuietHost(true), true);
  (void)init;

  CWavLoader wav;
  if (!wav.Load(fuzz::WriteInput(data, size, "input.wav"))) return 0;
  wav.MixToMono();
  wav.ConvertTo16Bit();

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
  wav.Save(fuzz::ScratchDir() / "output.wav", 1.0f);

  // What was written must load again.
  CWavLoader back;
  if (!back.Load(fuzz::ScratchDir() / "output.wav")) __builtin_trap();
  return 0;
}
