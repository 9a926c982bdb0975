// Tempo estimates of a sample: from its length, from its volume transients
// and from detected beats, and the arithmetic of fitting the audio to a
// whole number of beats. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/work_progress.h"
#include "processing/sample_access.h"

namespace zandrel {

// The tempo that makes |seconds| a whole number of beats: beats 1, 2, 4 ...
// 128 with a tempo in 50..190 BPM, the one closest to a whole BPM winning
// (the faster on a tie); 4 beats at 240 / seconds when none qualifies.
struct LengthTempo {
  double bpm = 0.0;
  int beats = 4;
};
LengthTempo BpmFromLength(double seconds);

// The tempo of the volume transients of [start, end): block levels as for
// auto-chop, peaks above 1.5 x their mean at least 150 ms apart (the stronger
// of two closer ones kept, and none under a block of the 150 ms before it), a
// histogram of the whole BPM of their intervals (folded into 60..200), then
// the tempo measured as the total time of the intervals near a whole number
// of half beats at the winning BPM over that number. When the range holds a
// whole number of beats at that tempo (within kLoopBpmTolerance BPM), it is a
// loop: the tempo is refined to that number of beats over the range's
// duration, within 75..175 BPM; otherwise the measured tempo stands.
// |progress| follows the level pass (BlockLevels), nearly all of the work;
// when it stops the work the outcome is kCancelled.
struct TransientTempo {
  enum class Outcome { kFound, kTooFewPeaks, kInconsistent, kCancelled };
  Outcome outcome = Outcome::kTooFewPeaks;
  int histogramBpm = 0;  // the most counted BPM (the lowest on a tie)
  double bpm = 0.0;      // refined
  int beats = 0;
  std::vector<int64_t> peaks;  // frames
};
constexpr double kLoopBpmTolerance = 0.25;  // BPM
TransientTempo BpmFromTransients(const PcmSpan& audio, int64_t start, int64_t end, const WorkProgress& progress = {});

// The median of 60 / (t[i] - t[i - 1]) over the positive differences of
// beat times in seconds; 0 when there is none.
double MedianBeatBpm(const std::vector<double>& beatTimes);

// Tempos the Adjust Loop to BPM dialog accepts.
constexpr double kMinAdjustBpm = 20.0;
constexpr double kMaxAdjustBpm = 999.0;

// trunc(60 / bpm x beats x rate): the length of |beats| beats at |bpm|.
int64_t BeatsLengthFrames(double bpm, double beats, uint32_t rate);

// Adjust Loop to BPM's new audio: the first |length| bytes of |pcm|, followed
// by zero bytes (silence) when |length| is longer. Built range by range (a
// sixty-fourth of the result, 64 KiB to 4 MiB) with a report after each:
// growing a long file to a slow tempo writes up to 4 GiB. nullopt when
// |progress| stopped the work.
std::optional<std::vector<uint8_t>> FitPcmLength(std::span<const uint8_t> pcm, size_t length,
                                                 const WorkProgress& progress = {});

// "Will add %.3f seconds (%lld samples)", "Will cut ..." or "No change
// needed" for a target against the current length; "Invalid BPM" and
// "Invalid beats" for values the dialog refuses.
std::string AdjustResultText(double bpm, double beats, int64_t currentLength, uint32_t rate);

}  // namespace zandrel
