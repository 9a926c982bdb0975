// Decodes arbitrary bytes as an audio clipboard block (any program can put
// them on the desktop clipboard) and pastes an accepted block into a small
// document, inserting and in place. The pastes must never read past the
// block, and every region must stay inside the audio.
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "processing/audio_clipboard.h"

using namespace zandrel;

namespace {

constexpr int64_t kFrames = 64;

CWavLoader SmallDocument() {
  CWavLoader a;
  a.format = PcmFormat{1, 1, 44100, 88200, 2, 16};
  a.data.resize(kFrames * 2);
  for (int64_t i = 0; i < kFrames; ++i) {
    const int16_t v = static_cast<int16_t>(i * 300 - 9000);
    std::memcpy(a.data.data() + i * 2, &v, 2);
  }
  return a;
}

InstrumentData SmallInstrument() {
  InstrumentData inst;
  inst.hasInstrument = true;
  inst.regions = {{0, 20, 5, 15, 0, 40, 30}, {20, 50, -1, -1, 41, 90, 60}, {50, 64, 52, 64, 91, 127, 100}};
  return inst;
}

void CheckInside(const InstrumentData& inst, int64_t frames) {
  for (const Region& r : inst.regions) {
    if (r.startSample < 0 || r.startSample > r.endSample || r.endSample > frames) __builtin_trap();
    for (const int64_t p : {r.loopStart, r.loopEnd}) {
      if (p != kNoLoop && (p < 0 || p > frames)) __builtin_trap();
    }
    if (r.loKey < 0 || r.hiKey > 127 || r.rootNote < 0 || r.rootNote > 127) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const std::optional<AudioClipboardBlock> decoded = DecodeAudioClipboardBlock(bytes);
  if (!decoded) return 0;
  if (static_cast<uint64_t>(decoded->frameCount) * decoded->channels * (decoded->bitsPerSample / 8) !=
      decoded->pcm.size()) {
    __builtin_trap();  // an accepted block always holds exactly its frames
  }
  // The reserved header bytes, which the editor never reads, pick the cursor.
  uint32_t pick = 0;
  std::memcpy(&pick, data + 88, 4);
  const int64_t cursor = static_cast<int64_t>(pick % (kFrames + 2));

  std::vector<std::string> log;
  {
    AudioClipboardBlock block = *decoded;
    CWavLoader audio = SmallDocument();
    InstrumentData inst = SmallInstrument();
    if (!FitBlockToDocument(block, audio.format, true, log, 1)) {
      const PasteResult r = PasteInsert(audio, inst, cursor, block, nullptr);
      if (!r.refusal && audio.FrameCount() != kFrames + block.frameCount) __builtin_trap();
      if (audio.data.size() % 2 != 0) __builtin_trap();
      CheckInside(inst, audio.FrameCount());
    }
  }
  {
    AudioClipboardBlock block = *decoded;
    CWavLoader audio = SmallDocument();
    if (!FitBlockToDocument(block, audio.format, false, log, 1)) {
      PasteInPlace(audio, cursor, block);
      if (audio.FrameCount() != kFrames || audio.data.size() != kFrames * 2) __builtin_trap();
    }
  }
  return 0;
}
