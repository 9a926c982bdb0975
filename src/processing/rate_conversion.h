// Whole-file sample-rate conversion: the audio resampled by ResampleSinc,
// its positions (regions, loops, selection, cursor) carried into the new
// length, and the format's rate and the instrument's global pitch updated.
//
// A conversion is described by a RateConversion: the ratio handed to the
// converter (input frames per output frame, so 2.0 halves the length), the
// rate the file takes afterwards, how frame positions are scaled and the
// global pitch that compensates a speed-up. The resampling itself
// (ResampleWholeFile) is pure and may run on a worker thread over a copy of
// the audio; ApplyRateConversion then installs its result on the
// user-interface thread. Only 16-bit PCM is converted.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "document/instrument.h"
#include "document/quorvel_doc.h"
#include "document/wav_loader.h"
#include "platform/work_progress.h"

namespace zandrel {

// How a frame position x of the old audio becomes one of the new.
enum class FrameScaling {
  kHalve,          // x / 2, integer division (double time)
  kDivideByRatio,  // trunc(x / ratio)
  kMultiply,       // trunc(x * scale)
};

struct RateConversion {
  double ratio = 1.0;        // input frames per output frame, handed to ResampleSinc
  uint32_t targetRate = 0;   // the file's rate afterwards; 0 keeps it
  FrameScaling scaling = FrameScaling::kMultiply;
  double scale = 1.0;        // kMultiply: new length / old length
  std::optional<int32_t> globalPitch = {};  // overwrites the instrument's pitch (with instrument data only)
};

// The old position |x| in the new audio.
int64_t ScaleFrame(int64_t x, const RateConversion& conversion);

// The converted samples of the whole 16-bit audio |pcm| (interleaved,
// |channels| channels). Empty when nothing came out (no audio, an
// impossible ratio) or when |progress| asked to stop. |threads| = 0 uses
// every core.
std::vector<int16_t> ResampleWholeFile(const std::vector<int16_t>& pcm, int channels, double ratio,
                                       unsigned threads = 0, const WorkProgress& progress = {});

// Installs |converted| as the audio (the rate and byte rate follow
// targetRate), scales every region's start and end and moves each set loop
// point to the rising zero crossing nearest its scaled frame in the new
// audio (each region then kept within the audio and its loop within the
// region), sets the global pitch, and scales the selection (both points or
// neither) and the cursor, which is then kept inside the new audio. The beat
// markers are cleared. Notifies nobody and records no undo: the caller does.
void ApplyRateConversion(CWavLoader& audio, InstrumentData& instrument, ViewSelection& view,
                         std::vector<int16_t> converted, const RateConversion& conversion);

}  // namespace zandrel
