// Small generated drum kits for the loop render and the synth: 16-bit PCM
// held in a CWavLoader and one region per sound.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "document/instrument.h"
#include "document/wav_loader.h"

namespace zandrel::test {

inline CWavLoader MakeKitAudio(const std::vector<int16_t>& samples, uint16_t channels = 1, uint32_t rate = 44100,
                               uint16_t bits = 16) {
  CWavLoader wav;
  wav.format.wFormatTag = 1;
  wav.format.nChannels = channels;
  wav.format.nSamplesPerSec = rate;
  wav.format.wBitsPerSample = bits;
  wav.format.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
  wav.format.nAvgBytesPerSec = rate * wav.format.nBlockAlign;
  for (int16_t s : samples) {
    wav.data.push_back(static_cast<uint8_t>(s & 0xFF));
    wav.data.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
  }
  return wav;
}

inline Region MakeRegion(int64_t start, int64_t end, int root, int lo = 0, int hi = 127) {
  Region r;
  r.startSample = start;
  r.endSample = end;
  r.rootNote = root;
  r.loKey = lo;
  r.hiKey = hi;
  return r;
}

inline InstrumentData MakeInstrument(std::vector<Region> regions) {
  InstrumentData data;
  data.hasInstrument = true;
  data.regions = std::move(regions);
  return data;
}

// |frames| frames of a sine of |hz| at |rate| and |amplitude| (of full scale).
inline std::vector<int16_t> Sine(int64_t frames, double hz, double rate, double amplitude) {
  std::vector<int16_t> out(static_cast<size_t>(frames));
  for (int64_t i = 0; i < frames; ++i)
    out[static_cast<size_t>(i)] =
        static_cast<int16_t>(std::lround(amplitude * 32767.0 * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / rate)));
  return out;
}

}  // namespace zandrel::test
