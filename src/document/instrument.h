// The sampler instrument: global settings and regions.
//
// A Region is one zone of the sample: a frame range (end exclusive), an
// optional loop, the MIDI keys that play it and the key at which it sounds at
// its recorded pitch. InstrumentParams are the instrument's global settings,
// which travel as the top-level keys of the instrument JSON. InstrumentData
// joins them with the flag that says whether the sample carries instrument
// data at all. These are plain values: the document holds one, every undo
// entry a full copy.
//
// Invariants kept by the operations that change them, not by the records:
// keys lie in 0..127; a region has a loop only when both loop points are not
// -1; a saved file holds at most the device's region count and no region
// shorter than 10 frames. Values read from a file are kept as read; use
// Region::ClampedTo before indexing audio with them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zandrel {

constexpr int64_t kNoLoop = -1;

struct Region {
  int64_t startSample = 0;      // first frame
  int64_t endSample = 0;        // frame after the last one (exclusive)
  int64_t loopStart = kNoLoop;  // first frame of the loop; -1 = no loop
  int64_t loopEnd = kNoLoop;    // end of the loop; -1 = no loop
  int32_t loKey = 0;            // lowest MIDI key that plays the zone
  int32_t hiKey = 127;          // highest MIDI key that plays the zone
  int32_t rootNote = 60;        // key that plays the zone at its own pitch

  bool HasLoop() const { return loopStart != kNoLoop && loopEnd != kNoLoop; }
  int64_t Length() const { return endSample - startSample; }
  // This region with its frames clamped to 0..frameCount, its loop clamped
  // into the range (or removed when it does not fit) and its keys into 0..127.
  Region ClampedTo(int64_t frameCount) const;
  // This region with its loop clamped into the region's frames, or removed
  // when nothing of it lies inside.
  Region WithLoopInside() const;

  bool operator==(const Region&) const = default;
};

struct InstrumentParams {
  std::string playMode = "key";  // "oneshot", "key", "legato" or "loop"
  int32_t rootNote = 60;         // MIDI key
  int32_t pitch = 0;             // semitones (the Global page keeps -12..12)
  int32_t pan = 0;
  int32_t amplitude = 100;
  int32_t attack = 0;
  int32_t release = 0;
  std::string timeMode = "off";      // "off", "bpm" or "bar"
  std::string sampleMode = "multi";  // "single" or "multi"
  float bpm = 120.0f;                // beats per minute
  int32_t bars = 1;                  // read from the instrument JSON only
  int32_t beats = 4;                 // read from and written to the acid chunk
  int64_t loopStart = kNoLoop;       // global loop, frames; -1 = none
  int64_t loopEnd = kNoLoop;
  int32_t smplUnityNote = -1;  // from the file's smpl chunk, 0..127; -1 = none

  bool operator==(const InstrumentParams&) const = default;
};

struct InstrumentData {
  bool hasInstrument = false;  // instrument, smpl and acid chunks are written only when set
  InstrumentParams params;
  std::vector<Region> regions;  // sorted by startSample by the file writers

  void Reset();
  bool operator==(const InstrumentData&) const = default;
};

// Sorts regions by start frame; regions with equal starts keep their order.
void SortRegions(std::vector<Region>& regions);

}  // namespace zandrel
