// The splice of the loop re-synthesis tools and the bookkeeping after it.
//
// A tool rebuilds the frames [s, e) of the document's audio (the range) and
// the result, n frames long, takes their place; the audio after the range
// moves by D = n - (e - s) frames (D may be negative). Every position that
// points into the audio then moves by one rule, for all five tools:
//   x stays when x <= s, becomes x + D when x >= e, and min(x, s + n) when
//   s < x < e (a position inside the range stays where it was, or ends up at
//   the end of the shorter result).
// It applies to each region's start and end and to every loop point that is
// set, of the regions and of the global settings. Moving regions by the same
// rule as the audio keeps each region on the sound it had. The Granular
// Cloud then puts each loop point it moved by D on its nearest rising zero
// crossing, kept inside its region. Regions squeezed under the save limits
// are the save's business.
//
// The loop selection afterwards covers what the tool made: for Morph Loop
// and Infinite Sustain the result's loop body (the lead-in before it stays
// unselected), for the others the whole result [s, s + n).
//
// Pure functions of their arguments; any thread.
#pragma once

#include <cstdint>
#include <span>

#include "document/instrument.h"
#include "document/wav_loader.h"

namespace zandrel {

enum class LoopTool { kMorphLoop, kInfiniteSustain, kVocoder, kGranularCloud, kFrequencyCloud };

// The splice's positions: the range [start, end) and the result's length.
struct LoopSpliceMove {
  int64_t start = 0;
  int64_t end = 0;
  int64_t newLength = 0;

  int64_t Delta() const { return newLength - (end - start); }
  // Where position |x| of the old audio is after the splice (rule above).
  int64_t Move(int64_t x) const;
};

// The loop selection, in frames (-1 = none).
struct LoopPoints {
  int64_t loopIn = -1;
  int64_t loopOut = -1;
  bool operator==(const LoopPoints&) const = default;
};

// What one tool hands to the splice.
struct LoopSpliceResult {
  std::span<const int16_t> samples;  // interleaved, the document's channel count
  // Morph Loop and Infinite Sustain: the body's frames [loopStart, loopEnd)
  // within the result; -1 for the other tools.
  int64_t loopStart = -1;
  int64_t loopEnd = -1;
};

// Replaces frames [start, end) of |audio| by |result| (end is clamped to the
// audio), moves the regions and global loop points of |instrument| and sets
// |selection| as above. Returns the move it applied.
LoopSpliceMove SpliceLoopResult(LoopTool tool, CWavLoader& audio, InstrumentData& instrument, LoopPoints& selection,
                                int64_t start, int64_t end, const LoopSpliceResult& result);

}  // namespace zandrel
