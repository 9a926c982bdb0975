// CRealTimeSynth plays the open document's instrument as a polyphonic sampler
// in real time: each note plays the first region whose key range holds it,
// transposed by resampling relative to the region's root, shaped by a linear
// attack and release, and looped between the region's loop points while the
// key is held.
//
// Threads. NoteOn and NoteOff may run on any thread (a MIDI callback, the
// user-interface thread): NoteOn finds the region and works out the voice on
// the caller's thread, and both push one event into a fixed ring of
// kQueueSize entries (a full ring drops the event and counts it). Pushers
// take a lock among themselves, which the rendering thread never touches.
// Render runs on the audio output's thread: it takes the queued events at its
// start through the ring's two atomic counters and then mixes without any
// lock and without allocating. Attack, release and the interpolation mode
// are atomics, so a slider moves them while notes play; a change applies to
// the notes started (attack, release) or samples fetched (mode) afterwards.
//
// Binding (audio, instrument, output rate) happens before the synth joins an
// output, and the bound audio and regions must not change while it plays.
// Source audio is the document's 16-bit PCM, any channel count; output is
// stereo: left from channel 0, right from channel 1 (channel 0 for a mono
// source). At most kMaxVoices voices sound: a note-on at the cap drops the
// oldest voice in release, else the oldest voice.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "document/instrument.h"
#include "document/wav_loader.h"
#include "platform/audio_output.h"

namespace zandrel {

class CRealTimeSynth : public AudioSource {
 public:
  static constexpr size_t kMaxVoices = 64;
  static constexpr size_t kQueueSize = 256;
  static constexpr size_t kBlockFrames = 1024;  // RenderBlock's frames

  enum Interpolation : int32_t { kLinear = 0, kSinc4 = 1, kSinc8 = 2, kSinc16 = 3 };

  struct NoteStart {
    int32_t regionIndex = -1;  // 0-based, in the instrument's region list
    int32_t root = -1;
    bool operator==(const NoteStart&) const = default;
  };

  CRealTimeSynth();
  ~CRealTimeSynth() override;
  CRealTimeSynth(const CRealTimeSynth&) = delete;
  CRealTimeSynth& operator=(const CRealTimeSynth&) = delete;

  // Binds the document's audio and instrument (not owned; nullptr unbinds),
  // sets the output rate, seeds attack and release from the instrument's
  // global settings and empties the voices and the queue. Only while the
  // synth is not joined to an output.
  void Bind(const CWavLoader* audio, const InstrumentData* instrument, double outputRate = 44100.0);

  // Starts a voice for |note| at |velocity| (1..127) with the first region
  // whose key range holds the note. Returns the region and root it used, and
  // remembers them as the last note; nothing (and the last note unchanged)
  // when nothing is bound, the instrument flag is clear or no region holds
  // the note.
  std::optional<NoteStart> NoteOn(int note, int velocity);
  // Releases every held voice of |note|.
  void NoteOff(int note);
  // Silences every voice at the start of the next render.
  void AllNotesOff();

  // The last successful note start; -1 for both before any.
  NoteStart LastNote() const;

  void SetAttack(int attack) { attack_.store(attack, std::memory_order_relaxed); }
  void SetRelease(int release) { release_.store(release, std::memory_order_relaxed); }
  int Attack() const { return attack_.load(std::memory_order_relaxed); }
  int Release() const { return release_.load(std::memory_order_relaxed); }
  // 0 linear; 1, 2, 3 windowed sinc of radius 4, 8, 16; anything else acts as 1.
  void SetInterpolation(int mode) { interpolation_.store(mode, std::memory_order_relaxed); }
  int Interpolation() const { return interpolation_.load(std::memory_order_relaxed); }
  // Events a full queue dropped.
  uint64_t DroppedEvents() const { return dropped_.load(std::memory_order_relaxed); }

  // AudioSource: stereo at the output rate. Writes clamp(0.8 x, -1, 1).
  uint32_t SampleRate() const override { return static_cast<uint32_t>(outputRate_); }
  int Channels() const override { return 2; }
  void Render(float* out, size_t frames) override;
  // One block of 1024 stereo frames as 16-bit: trunc(v x 32767).
  void RenderBlock(int16_t* out);

  // Voices sounding after the last render (the rendering thread, or tests).
  size_t ActiveVoices() const { return voiceCount_; }
  // Their notes, oldest first (the same thread; allocates).
  std::vector<int> SoundingNotes() const;

  // One source sample of channel |channel| at |position| (source frames) by
  // the current interpolation mode, as the render reads it.
  float InterpolateSample(double position, int channel) const;
  // The windowed-sinc kernel as written out in full (one sine and two
  // cosines per tap, single precision), for comparison with the render's.
  float ReferenceSincSample(double position, int channel, int radius) const;

 private:
  struct Voice {
    int32_t note = 0;
    int32_t state = 0;  // 0 attack, 1 sustain, 2 release
    double position = 0;
    double increment = 1;
    double level = 0;
    double attackStep = 1;
    double releaseStep = 1;
    float gain = 1;
    int64_t loopStart = kNoLoop;
    int64_t loopEnd = kNoLoop;
    int64_t end = 0;
    bool loops = false;  // 0 <= loopStart < loopEnd
  };
  struct Event {
    enum Kind : int32_t { kOn, kOff, kAllOff } kind = kOn;
    int32_t note = 0;
    Voice voice;
  };

  bool Push(const Event& event);
  void TakeQueue();
  void MixBlock(size_t frames, int mode);
  void Apply(const Event& event);
  float Fetch(int64_t frame, int channel) const;
  float Linear(double position, int channel) const;
  float Sinc(double position, int channel, int radius) const;
  // Renders one voice into the mix; false when it ended.
  bool RenderVoice(Voice& v, float* mix, size_t frames, int mode);

  // Bound state: written by Bind only.
  const uint8_t* pcm_ = nullptr;
  int64_t samples_ = 0;       // 16-bit samples in the bound audio
  int64_t frameLimit_ = 0;    // frames at least partly inside the audio
  int channels_ = 1;
  double sourceRate_ = 44100.0;
  double outputRate_ = 44100.0;
  const InstrumentData* instrument_ = nullptr;

  std::atomic<int> attack_{0};
  std::atomic<int> release_{60};
  std::atomic<int> interpolation_{kLinear};
  std::atomic<int32_t> lastRegion_{-1};
  std::atomic<int32_t> lastRoot_{-1};
  std::atomic<uint64_t> dropped_{0};

  // Single-producer, single-consumer ring: pushers write queue_[head % size]
  // and then advance head_ (under pushLock_, so there is one producer at a
  // time); the rendering thread reads up to head_ and then advances tail_.
  // Both counters only grow; head_ - tail_ is the number of queued events.
  std::mutex pushLock_;  // between pushing threads only
  std::array<Event, kQueueSize> queue_;
  std::atomic<uint64_t> head_{0};
  std::atomic<uint64_t> tail_{0};

  // The rendering thread's own.
  std::array<Voice, kMaxVoices> voices_;
  size_t voiceCount_ = 0;
  std::array<float, 2 * kBlockFrames> mix_{};
  // Blackman windows by tap index for radius 4, 8 and 16.
  std::array<float, 9> window4_{};
  std::array<float, 17> window8_{};
  std::array<float, 33> window16_{};
};

}  // namespace zandrel
