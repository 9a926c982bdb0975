// Notes and frequencies, and re-pitching a stretch of audio by resampling it.
//
// A MIDI note n sounds at 440 x 2^((n - 69) / 12) Hz. A frequency becomes a
// whole note in two ways, both used by the commands: the nearest note
// (rounded, halves away from zero) and the truncated note (0.5 added, the
// fraction then dropped toward zero).
//
// Re-pitching plays the selection [s, e) faster or slower: the frames are
// resampled by r input frames per output frame (r > 1 raises the pitch and
// shortens the audio) and spliced back in place of the old ones; the audio
// after them moves by the change of length, and so do the regions after it.
// ResampleSelection is pure and may run on a worker thread over a copy;
// SpliceRepitched installs its result on the user-interface thread.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "document/instrument.h"
#include "document/quorvel_doc.h"
#include "document/wav_loader.h"
#include "platform/work_progress.h"
#include "processing/processing_range.h"

namespace zandrel {

double NoteFrequency(double note);
// 12 x log2(hz / 440) + 69.
double FractionalNote(double hz);
int NearestNote(double hz);
int TruncatedNote(double hz);
// Cents from b to a: 1200 x log2(a / b).
double CentsBetween(double a, double b);

// The note Auto-Tune aims at: the root's pitch class inside the block of
// twelve notes (C to B) that holds the detected note, never the nearer one
// across the block's edge. A negative root counts as 60.
int AutoTuneTarget(int root, int detected);

// The selection [loopIn, loopOut) cut to the audio's frames, or nothing when
// no frames of it remain (either point unset, or the selection empty once cut).
std::optional<FrameRange> SelectionInsideAudio(const ViewSelection& view, int64_t frames);

// The frames [s, e) of interleaved 16-bit |pcm| resampled by |ratio|:
// floor((e - s) / ratio) frames (empty when the ratio is impossible, or when
// |progress| asked to stop).
std::vector<int16_t> ResampleSpan(const std::vector<uint8_t>& pcm, int channels, int64_t s, int64_t e, double ratio,
                                  const WorkProgress& progress = {});

struct RepitchOutcome {
  int64_t newLength = 0;  // frames now in place of [s, e)
  int64_t delta = 0;      // newLength - (e - s)
  int adjustedRegion = -1;  // the region whose end moved, -1 for none
};

// Replaces frames [s, e) (inside the audio) by |resampled|. The region that
// holds [s, e), the selected one when it does, else the first that does,
// ends delta frames later; every other region that starts at or after e
// moves by delta, its set loop points moved too and put on the nearest rising
// zero crossing of the new audio. Then every region is clamped into the new
// audio with its loop inside it. The selection becomes [s, s + newLength).
RepitchOutcome SpliceRepitched(CWavLoader& audio, InstrumentData& instrument, ViewSelection& view, int64_t s,
                               int64_t e, const std::vector<int16_t>& resampled);

}  // namespace zandrel
