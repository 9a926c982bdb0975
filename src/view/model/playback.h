// Playback of the document's audio through the shared audio output
// (platform/audio_output.h): from the cursor to the end, looping between the
// loop points, or once through the selection, with the cursor moving along
// as the playhead.
//
// PlaybackSource feeds the output. Each time the output asks for frames it
// takes the next ones from the document's audio by the refill rules below,
// under its lock, and notes where in the document each block started, so the
// playhead can later say which frame is being heard. Playback drives it from
// the user-interface thread: Start, Stop (the stop contract: once it has
// returned nothing reads the document's audio), and the 50 ms playhead tick,
// which moves the cursor, hands the current loop points to the source and
// ends playback once the audio has run out and been heard.
//
// Positions are frames. The range a refill plays: while looping (loop
// playback on and both loop points set) or for a single pass (`playOnce`)
// with both points set, min(loopIn, loopOut) up to and including
// max(loopIn, loopOut), cut at the end of the audio; otherwise the whole
// audio, or nothing for a single pass without a selection. A looping pass
// that reaches the range's end continues at its start; any other pass ends
// there.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/audio_output.h"
#include "view/model/view_model.h"

namespace zandrel {

// The loop state the refill reads.
struct LoopState {
  int64_t loopIn = -1;
  int64_t loopOut = -1;
  bool loopPlayback = false;
  bool operator==(const LoopState&) const = default;
};

class PlaybackSource final : public AudioSource {
 public:
  // |audio| must not change while the source is joined to an output.
  PlaybackSource(const CWavLoader& audio, int64_t startFrame, LoopState loop, bool playOnce);

  uint32_t SampleRate() const override { return rate_; }
  int Channels() const override { return channels_; }
  void Render(float* out, size_t frames) override;

  // New loop points for the next refill (user-interface thread).
  void SetLoop(const LoopState& loop);
  // The document frame heard |latencyFrames| frames after the last one
  // rendered: the frames actually played, across loop passes and loop
  // changes. The start frame before anything was rendered.
  int64_t FrameHeard(int64_t latencyFrames) const;
  // True once a refill found nothing more to play and everything played
  // before has been heard.
  bool Drained(int64_t latencyFrames) const;
  int64_t FramesRendered() const;
  // Frames taken from the document so far (without the silence after its end).
  int64_t FramesCopied() const;

 private:
  struct Range {
    int64_t start = 0;
    int64_t end = 0;     // exclusive
    bool wraps = false;  // a looping pass
  };
  // Where one Render call started: its first frame's index among all
  // rendered frames, the document frame it started at, how many frames it
  // copied and the range it followed.
  struct Checkpoint {
    int64_t at = 0;
    int64_t frame = 0;
    int64_t copied = 0;
    Range range;
  };
  static constexpr size_t kCheckpoints = 256;

  Range CurrentRange() const;
  static int64_t Advance(int64_t frame, int64_t count, const Range& range);
  void Decode(int64_t frame, float* out) const;

  const CWavLoader& audio_;
  const int64_t frames_;
  const uint32_t rate_;
  const int channels_;
  const int bits_;
  const bool float_;
  const int64_t startFrame_;

  mutable std::mutex lock_;  // everything below, between the output's thread and the user-interface thread
  LoopState loop_;
  bool playOnce_;
  int64_t position_;
  int64_t rendered_ = 0;
  int64_t copied_ = 0;
  int64_t endedAt_ = -1;  // rendered index where the audio ran out, -1 while it plays
  std::array<Checkpoint, kCheckpoints> checkpoints_{};
  size_t checkpointCount_ = 0;  // total written; the ring keeps the last kCheckpoints
};

class Playback {
 public:
  static constexpr int kPlayheadIntervalMs = 50;

  explicit Playback(ViewModel& model);
  ~Playback();
  Playback(const Playback&) = delete;
  Playback& operator=(const Playback&) = delete;

  // Called after playback started (true) or stopped (false): the view starts
  // or stops its playhead timer and repaints.
  std::function<void(bool playing)> stateChanged;

  bool IsPlaying() const { return source_ != nullptr; }
  // StartPlayback: nothing while playing or without audio. Plays from the
  // cursor (frame 0 without one); with loop playback on, a cursor at or
  // after the loop's end starts at the loop's start. When the output cannot
  // be opened: "Failed to open audio device." and nothing plays.
  bool Start();
  // StopPlayback, the stop contract: leaves the output (after which nothing
  // reads the document's audio) and returns the cursor to `playAnchor`.
  // Harmless when stopped. True when it stopped playback.
  bool Stop();

  struct TickResult {
    bool stopped = false;   // the audio had run out or the device stopped: playback stopped
    bool scrolled = false;  // following the playhead moved viewStart
  };
  // The playhead tick: stops playback with a message when the output's
  // device stopped playing (AudioOutput::DeviceLost); else moves the cursor
  // to the frame being heard and, with
  // `followPlayhead`, scrolls by half a page once it passes 90% of the page.
  TickResult Tick();

  // Auditions the first region whose root note is |note|: selects it with
  // its loop (hooks.selectRegionWithLoop), then plays the selection once.
  // False without instrument data or when no region has that root.
  bool PlayRegionByRootNote(int note);

  // The source playing now (tests), or nullptr.
  const PlaybackSource* Source() const { return source_.get(); }

 private:
  LoopState CurrentLoop() const;
  int64_t LatencyFrames() const;

  ViewModel& model_;
  AudioOutput* output_ = nullptr;
  std::shared_ptr<PlaybackSource> source_;
};

}  // namespace zandrel
