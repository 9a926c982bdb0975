// Loop crossfades and phase alignment: preparing the selection [loopIn,
// loopOut) for seamless looping.
//
// loopCrossfade rewrites the audio around both loop points so that the jump
// from the loop end back to the loop start continues the waveform: the end
// of the loop blends into the audio before the loop start, and the audio
// after the loop end starts as a copy of the loop start and blends back. Its
// shapes are small types carrying their own length rule and curves.
//
// alignLoopPhase leaves the audio alone: it moves the loop end to its rising
// zero crossing and the loop start to the crossing within 2000 frames whose
// neighbourhood best matches the loop end (content, slope and crossing
// direction).
//
// Both are pure functions over 16-bit PCM (raw sample values, not
// normalised) and may run on any thread on buffers nobody else touches. The
// commands run them as long work on a PcmWindow (loop_window.h) holding only
// the frames they read: the checks of a crossfade first, on the
// user-interface thread, then the crossfade or the alignment on the window,
// reporting progress through an optional WorkProgress and stopping when it
// says so.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/work_progress.h"
#include "processing/loop_window.h"
#include "processing/sample_access.h"

namespace zandrel {

// A quarter of the loop, raised-cosine curves whose weights sum to 1.
struct HanningCrossfade {
  static constexpr const char* kName = "Hanning";
  static constexpr const char* kUndoLabel = "Loop Crossfade (Hanning)";
  static float LengthFor(int64_t loopLength, uint32_t rate);
  static void Weights(int64_t i, int64_t n, float& fadeIn, float& fadeOut);
};

// 15% of the loop, sine/cosine curves of constant power (their sum reaches
// sqrt(2) mid-fade, so each pass is rescaled when it would clip).
struct EqualPowerCrossfade {
  static constexpr const char* kName = "Equal-Power";
  static constexpr const char* kUndoLabel = "Loop Crossfade (Equal-Power)";
  static float LengthFor(int64_t loopLength, uint32_t rate);
  static void Weights(int64_t i, int64_t n, float& fadeIn, float& fadeOut);
};

enum class CrossfadeShape { kHanning, kEqualPower };

// Shortest crossfade, in frames.
constexpr int64_t kMinCrossfadeFrames = 100;

// The crossfade length for a loop of |loopLength| frames: max(100, trunc(L)).
int64_t CrossfadeLength(CrossfadeShape shape, int64_t loopLength, uint32_t rate);

struct LoopCrossfadeResult {
  enum class Status { kApplied, kNothing, kRefused };
  Status status = Status::kNothing;
  int64_t length = 0;   // n, frames
  int64_t start = 0;    // the loop cut to the audio, [start, end)
  int64_t end = 0;
  std::string message;  // kRefused: the message-box text
  std::string log;      // kApplied: the log line
};

// The checks alone, for audio of |frames| frames; nothing is written. The
// loop start must have n frames before it, the loop end n frames after it,
// and the audio must be 16-bit. An empty loop after clamping to the audio
// does nothing (kNothing). kApplied: the crossfade may go ahead, with the
// length and log line it will have.
LoopCrossfadeResult PlanLoopCrossfade(int64_t frames, int bitsPerSample, uint32_t rate, int64_t loopIn,
                                      int64_t loopOut, CrossfadeShape shape);

// Checks the loop [loopIn, loopOut) (already ordered and set) against the
// audio in |pcm16| and, when it fits, crossfades it in place.
LoopCrossfadeResult loopCrossfade(std::span<uint8_t> pcm16, int channels, int bitsPerSample, uint32_t rate,
                                  int64_t loopIn, int64_t loopOut, CrossfadeShape shape);

// The frames a planned crossfade reads and writes, [start - n, end + n).
PcmWindow LoopCrossfadeWindow(const PcmSpan& pcm, const LoopCrossfadeResult& plan);
// Crossfades a loop that PlanLoopCrossfade accepted inside its window; the
// window then holds what the whole audio would hold there. False when
// |progress| stopped it (the window is half written and must be dropped).
bool ApplyLoopCrossfade(PcmWindow& window, const LoopCrossfadeResult& plan, CrossfadeShape shape,
                        const WorkProgress& progress = {});

// The mean absolute difference of the slopes after candidate start |c| and
// after the loop end |e| (up to 32 frames, all channels); the largest double
// when no step fits.
double LoopBoundaryMismatch(const PcmSpan& pcm, int64_t c, int64_t e);

struct AlignPhaseResult {
  enum class Status { kMoved, kAlreadyOptimal, kRefused };
  Status status = Status::kRefused;
  int64_t loopIn = -1;   // the new loop start
  int64_t loopOut = -1;  // the loop end on its crossing (may move even when refused)
  int64_t offset = 0;
  double content = 0, derivative = 0, phase = 0, score = 0;
  std::string message;  // kRefused
  std::string log;      // otherwise
  bool cancelled = false;  // stopped through the progress: drop the result
};

// "Align Phase" on a set selection (0 <= loopIn < loopOut) of any depth.
AlignPhaseResult alignLoopPhase(const PcmSpan& pcm, int64_t loopIn, int64_t loopOut,
                                const WorkProgress& progress = {});
// The frames Align Phase reads for that selection: the loop end's crossing
// search, the candidates within 2000 frames of the loop start and the 4000
// frames compared after each.
PcmWindow AlignPhaseWindow(const PcmSpan& pcm, int64_t loopIn, int64_t loopOut);
// The same on a window from AlignPhaseWindow, in document frames: the
// result the whole audio gives.
AlignPhaseResult alignLoopPhase(const PcmWindow& window, int64_t loopIn, int64_t loopOut,
                                const WorkProgress& progress = {});

}  // namespace zandrel
