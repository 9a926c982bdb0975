// Loop-point search: engines that find where a sustained sound can loop
// without an audible jump, and the small moves that put existing loop
// points on rising zero crossings.
//
//   findLoopSlow     exhaustive search on a coarse grid (energy and boundary
//                    match), then zero-crossing refinement of the best ten;
//   findLoopPyramid  correlation search on four decimation levels (8, 4, 2, 1),
//                    then a sample-level search over pairs of crossings;
//   findLoopNcc      the last 100 ms of the range as a template, matched by
//                    normalised cross-correlation;
//   autoLoopAlign    moves a selection's ends to nearby rising crossings with
//                    the best waveform match (+/-200 ms);
//   snapLoopToZeroCrossings  both ends to their nearest rising crossing.
//
// Every engine is a pure function of its inputs: it reads a copy of the
// audio it owns (never the live document), so it may run on a worker thread
// while the user-interface thread waits. The long engines report progress
// 0..1 through a callback that returns false once the user cancelled; they
// then return a result marked `cancelled`, which the caller drops. The
// results carry the exact message-box and log texts; the caller shows them
// and writes the loop points on the user-interface thread.
//
// Frames are frames of the document's audio; ranges are half-open [start,
// end). The slow and pyramid engines read sample values -1..1 of every
// channel inside their search range only and treat every frame outside it as
// 0. findLoopSlow gives exactly the loop points of findLoopSlowReference
// (the single-threaded transcription of its rules, kept as test oracle and
// benchmark baseline) for any thread count.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "document/instrument.h"
#include "processing/loop_window.h"
#include "processing/sample_access.h"

namespace zandrel {

// Returns false when the work should stop.
using LoopProgress = std::function<bool(double fraction)>;

// What the slow and pyramid engines search: a region, or the whole file.
struct LoopSearchRange {
  int64_t start = 0;      // first frame (S0)
  int64_t end = 0;        // frame after the last one (E0), at most the frame count
  int regionIndex = -1;   // zero-based region index, -1 = the whole file
};

// The range of a search over region |regionIndex| (-1: the whole file) of
// audio with |frames| frames. A region index outside the list gives
// "Invalid region index specified.", a region with start < 0 or start >= end
// "Invalid region boundaries." (as `error`). A region that starts at or past
// the end of the audio gives an empty range, which the engines report as too
// small to search.
struct LoopSearchRangeResult {
  std::optional<LoopSearchRange> range;
  std::string error;
};
LoopSearchRangeResult LoopSearchRangeFor(int64_t frames, const std::vector<Region>& regions, int regionIndex);

// A copy of the search range's samples as values -1..1, interleaved by
// channel. Heavy: moved, never copied by accident.
struct LoopSource {
  LoopSearchRange range;
  int channels = 1;
  uint32_t sampleRate = 0;
  int64_t fileFrames = 0;      // frames of the whole audio (percentages of a whole-file search)
  std::vector<double> values;  // (frame - range.start) * channels + channel

  LoopSource() = default;
  LoopSource(const LoopSource&) = delete;
  LoopSource& operator=(const LoopSource&) = delete;
  LoopSource(LoopSource&&) = default;
  LoopSource& operator=(LoopSource&&) = default;

  // Copies the frames of |range| out of |pcm|.
  static LoopSource Copy(const PcmSpan& pcm, const LoopSearchRange& range);
  // The same from a window that holds |range| (document frames), reporting
  // as it goes: off the user-interface thread, the conversion of a long
  // range is part of the search. Nothing when |progress| said stop.
  static std::optional<LoopSource> Copy(const PcmWindow& window, const LoopSearchRange& range,
                                        const LoopProgress& progress);
  // The value of |frame| (document frames), 0 outside the range.
  double Value(int64_t frame, int channel) const {
    if (frame < range.start || frame >= range.end) return 0.0;
    return values[static_cast<size_t>((frame - range.start) * channels + channel)];
  }
};

struct LoopSearchResult {
  bool found = false;      // loopIn/loopOut hold the loop to select
  bool cancelled = false;  // stopped by the progress callback: drop the result
  int64_t loopIn = -1;
  int64_t loopOut = -1;    // exclusive
  std::string message;     // message-box text when nothing was found, else empty
  std::vector<std::string> log;  // log lines, in order
};

// The slow engine. |threads| = 0 uses every core; the result does not depend
// on it.
LoopSearchResult findLoopSlow(const LoopSource& source, const LoopProgress& progress = {}, unsigned threads = 0);
// The same rules, single-threaded, computed literally (no caching, no
// pruning): the oracle of findLoopSlow.
LoopSearchResult findLoopSlowReference(const LoopSource& source);

// The pyramid engine (always finds something: a weak search falls back to
// the centre half of the range).
LoopSearchResult findLoopPyramid(const LoopSource& source, const LoopProgress& progress = {}, unsigned threads = 0);

// The correlation engine's input: channel 0 as raw / 32768 over a span of
// the audio, and the search range inside it.
struct NccInput {
  std::vector<float> signal;
  int64_t signalStart = 0;  // document frame of signal[0]
  int64_t rangeStart = 0;   // search range, document frames, inside the signal
  int64_t rangeEnd = 0;
  uint32_t sampleRate = 0;
};
// |pcm| must be 16-bit. The signal spans [spanStart, spanEnd), the search
// range is |range| clipped to it.
NccInput NccInputFrom(const PcmSpan& pcm, int64_t spanStart, int64_t spanEnd, int64_t rangeStart, int64_t rangeEnd);
// The same from a window that holds the span (document frames), reporting as
// it goes; nothing when |progress| said stop.
std::optional<NccInput> NccInputFrom(const PcmWindow& window, int64_t spanStart, int64_t spanEnd, int64_t rangeStart,
                                     int64_t rangeEnd, const LoopProgress& progress);
LoopSearchResult findLoopNcc(const NccInput& input, const LoopProgress& progress = {}, unsigned threads = 0);

// "Align Looping Points (+/-200ms)". |pcm| is 16-bit audio; [e, f) the
// clamped selection (e = max(0, loopIn), f = min(loopOut, frames), e < f).
struct AutoLoopAlignResult {
  int64_t loopIn = 0;
  int64_t loopOut = 0;
  int64_t errorScore = 0;  // INT64_MAX when no end crossing was found
  std::string log;
  bool cancelled = false;  // stopped through the progress: drop the result
};
AutoLoopAlignResult autoLoopAlign(const PcmSpan& pcm, int64_t e, int64_t f, const LoopProgress& progress = {});
// The frames the alignment reads: 200 ms around each end, and the 512
// frames compared after the farthest end candidate.
PcmWindow AutoLoopAlignWindow(const PcmSpan& pcm, int64_t e, int64_t f);
// The same on a window from AutoLoopAlignWindow, in document frames: the
// result the whole audio gives.
AutoLoopAlignResult autoLoopAlign(const PcmWindow& window, int64_t e, int64_t f, const LoopProgress& progress = {});

// "Set IN/OUT to Zero Crossing" on a valid selection (0 <= loopIn < loopOut).
struct ZeroCrossingSnapResult {
  bool changed = false;
  int64_t loopIn = 0;
  int64_t loopOut = 0;
  std::string message;  // information box when nothing moved
  std::string log;      // when something moved
};
ZeroCrossingSnapResult snapLoopToZeroCrossings(const PcmSpan& pcm, int64_t loopIn, int64_t loopOut);

}  // namespace zandrel
