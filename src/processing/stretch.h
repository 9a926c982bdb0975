// Time stretch and pitch shift of a loader's 16-bit PCM: StretchWav changes
// the length without the pitch, the pitch without the length, or both.
//
// The stretching itself is behind the small Stretcher interface: the
// editor's is Rubber Band's offline finer engine; tests put a deterministic
// stand-in in its place (ScopedStretcher). StretchWav fixes the contract
// whatever the stretcher: exactly N = trunc(F x a / b) output frames for F
// input frames (a stretcher's longer or shorter result is trimmed or padded
// with silence, and the result says by how much), samples as value / 32768
// in and trunc(clamp(y x 32767)) out (a NaN written as 0), and failure,
// leaving the audio as it was, for inputs too short to stretch.
//
// Everything here holds no state except the installed stretcher, which the
// user-interface thread sets; StretchWav itself may run on a worker thread
// over a loader nobody else touches. It reports how far it is through an
// optional WorkProgress (the study and the processing of the stretcher's
// blocks, the conversions done on the way) and, once that says stop, returns
// a cancelled result between two blocks with the audio as it was.
#pragma once

#include <cstdint>
#include <vector>

#include "document/wav_loader.h"
#include "platform/work_progress.h"

namespace zandrel {

struct StretchResult {
  bool success = false;
  double seconds = 0.0;  // new length in seconds (output frames / rate); 0 on failure
  // Frames the stretcher's own output was off by (positive: it was longer
  // and was trimmed; negative: it was padded). 0 when it came out exact.
  int64_t lengthCorrection = 0;
  // The progress said stop before the end: success is false and the audio
  // is unchanged.
  bool cancelled = false;
};

// Limits of one stretch: the length may change by a factor 1/16 .. 16 and
// the pitch by -48 .. +48 semitones.
constexpr double kMaxStretchRatio = 16.0;
constexpr double kMaxTransposeSemitones = 48.0;

// The audio a stretcher reads, block by block, so that no float copy of a
// whole file is needed: |Channels()| channels of |Frames()| frames each.
class StretchSource {
 public:
  virtual ~StretchSource() = default;
  virtual size_t Channels() const = 0;
  virtual size_t Frames() const = 0;
  // Frames [at, at + count) of channel c into channels[c][0 .. count), for
  // every channel; the range lies within Frames().
  virtual void Read(size_t at, size_t count, float* const* channels) const = 0;
};

// Where a stretcher writes its output, block by block and in order.
class StretchSink {
 public:
  virtual ~StretchSink() = default;
  // The next |count| frames: channels[c][0 .. count) for every channel.
  virtual void Write(const float* const* channels, size_t count) = 0;
};

class Stretcher {
 public:
  virtual ~Stretcher() = default;
  // Stretches |in| at |rate| into about |outFrames| frames written to |out|
  // (as many channels as |in| has), transposed by |pitchScale| (2.0 is an
  // octave up). Reports 0..1 to |progress| (which may be empty) between
  // blocks and returns false as soon as it says stop. False on failure.
  virtual bool Stretch(const StretchSource& in, uint32_t rate, int64_t outFrames, double pitchScale, StretchSink& out,
                       const WorkProgress& progress) = 0;
};

// Rubber Band's offline finer (R3) engine: the whole input is studied, then
// processed in blocks, its output drained after each block and at the end.
// Both passes count towards the progress, by what they cost.
class RubberBandStretch final : public Stretcher {
 public:
  bool Stretch(const StretchSource& in, uint32_t rate, int64_t outFrames, double pitchScale, StretchSink& out,
               const WorkProgress& progress) override;
};

// The stretcher StretchWav uses: the installed one, else Rubber Band.
Stretcher& CurrentStretcher();
// Installs |stretcher| (not owned; nullptr restores Rubber Band) and returns
// the one before.
Stretcher* SetStretcher(Stretcher* stretcher);

class ScopedStretcher {
 public:
  explicit ScopedStretcher(Stretcher* s) : previous_(SetStretcher(s)) {}
  ~ScopedStretcher() { SetStretcher(previous_); }
  ScopedStretcher(const ScopedStretcher&) = delete;
  ScopedStretcher& operator=(const ScopedStretcher&) = delete;

 private:
  Stretcher* previous_;
};

// Channel vectors of |frames| frames: sample x 2^-15 for 16-bit data, zeros
// for other depths.
void DeinterleavePcm16(const CWavLoader& wav, std::vector<std::vector<float>>& channels, int64_t frames);
// The 16-bit little-endian samples of |frames| frames into |out| (room for
// frames x count samples): out[i x count + c] = trunc(clamp(y x 32767,
// -32768, 32767)); NaN and frames past a channel's end give 0.
void InterleavePcm16(const std::vector<std::vector<float>>& channels, uint8_t* out, int64_t frames, int count);

// The shortest input the stretch accepts at |rate| when the output plays at
// |playbackRate| (F / N): half a 120-ms analysis block on each side.
double MinimumStretchInput(uint32_t rate, double playbackRate);

// Stretches |wav| from a to b (the new length is frames x a / b) and moves
// its pitch by |semitones|. The samples are converted block by block on
// their way into and out of the stretcher: beside the stretcher's own
// buffers, the call holds the new 16-bit audio and nothing of file size
// else, so its memory is the input's and the output's size plus a constant. Failure, with the audio unchanged: no audio, a
// or b not positive, not 16-bit, fewer than one output frame, a length
// factor or transposition outside the limits, too short an input, or the
// stretcher failed. Cancelled (cancelled set, the audio unchanged) once
// |progress| says stop.
StretchResult StretchWav(CWavLoader& wav, double a, double b, double semitones, const WorkProgress& progress = {});

}  // namespace zandrel
