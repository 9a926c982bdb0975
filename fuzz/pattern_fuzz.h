// The loop maker's path for any pattern the readers return: bars, the note
// map, the automatic mapping and the render onto a small 1000 Hz kit.
#pragma once

#include <cstdint>
#include <span>

#include "tools/loop_render.h"

namespace zandrel::fuzz {

inline void RenderPatternBytes(std::span<const uint8_t> bytes, bool midi) {
  static const CWavLoader kit = [] {
    CWavLoader wav;
    wav.format = {1, 1, 1000, 2000, 2, 16};
    for (int i = 0; i < 400; ++i) {
      const int16_t v = static_cast<int16_t>((i % 50) * 600 - 15000);
      wav.data.push_back(static_cast<uint8_t>(v & 0xFF));
      wav.data.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    }
    return wav;
  }();
  static const InstrumentData instrument = [] {
    InstrumentData data;
    data.hasInstrument = true;
    const int roots[] = {36, 38, 42, 200, -1, 46};
    for (int i = 0; i < 6; ++i) {
      Region r;
      r.startSample = i * 80 - 40;  // the first starts before the audio, the last runs past it
      r.endSample = r.startSample + 120;
      r.rootNote = roots[i];
      data.regions.push_back(r);
    }
    return data;
  }();

  const PatternLoad load = LoadPatternBytes(bytes, midi);
  if (load.status != PatternLoadStatus::kLoaded) return;
  if (load.bars < 1 || load.bars > kMaxLoopBars) __builtin_trap();
  (void)AutoMapNotes(load.events, &instrument);
  LoopRenderInput in;
  in.kit = &kit;
  in.instrument = &instrument;
  in.events = &load.events;
  in.bars = load.bars;
  in.tempo = 97.5;
  in.kitStartText = bytes.empty() ? "C2" : (bytes[0] & 1 ? "C3" : "x");
  in.custom = ParseCustomMapping("C2>D2, 40>200, A#2>F#2");
  const LoopRenderResult r = RenderPatternLoop(in);
  const int64_t frames = LoopFrames(load.bars, in.tempo, 1000);
  // At this tempo the longest patterns run past ten minutes: those are refused
  // with a message, every shorter one renders to exactly its length.
  if (frames < 1) {
    if (r.ok || r.message.empty()) __builtin_trap();
    return;
  }
  if (!r.ok) __builtin_trap();
  if (r.frames != frames || r.wav.data.size() != static_cast<size_t>(r.frames) * 2) __builtin_trap();
}

}  // namespace zandrel::fuzz
