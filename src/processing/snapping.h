// Snapping positions of the audio: to the nearest rising zero crossing (so
// that loop points and cuts do not click) and to a grid of sixteenth notes.
//
// Every snap of the editor looks for rising crossings only: a frame c where
// some channel's sample at c - 1 is <= 0 and its sample at c is > 0. The
// functions are pure and may run on any thread over audio nobody is writing.
#pragma once

#include <cstdint>

#include "processing/sample_access.h"

namespace zandrel {

// The rising zero crossing nearest to |frame|, searched within 10 ms of the
// frame clamped to [1, frames - 2]: frames r, r + 1, r - 1, r + 2, r - 2, ...
// so at equal distance the later frame wins. Without a crossing in reach the
// clamped frame is returned. |frame| comes back unchanged when it is negative
// or the audio has at most one frame. Depths other than 8, 16, 24 and 32 bits
// read as silence.
int64_t FindRisingZeroCrossing(const PcmSpan& pcm, int64_t frame);

// Frames of a sixteenth note at |bpm| (120 when bpm <= 0); 0 without a rate.
double BeatGridStep(double bpm, uint32_t sampleRate);
// |frame| moved to the nearest multiple of |step| (halves away from zero),
// truncated to a frame; unchanged when step <= 0.
int64_t SnapToGridStep(int64_t frame, double step);

}  // namespace zandrel
