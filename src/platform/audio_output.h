// The machine's audio output, shared by everything that plays.
//
// The editor's playback and the tools' previews each play through the
// process's current AudioOutput as an AudioSource. The output mixes every
// source that joined it into one stream: a source that plays at another
// sample rate or channel count than the device is converted on the way (cubic
// interpolation, mono spread to both channels, stereo averaged for a mono
// device), so nothing ever needs a second stream. The device is opened when
// the first source joins and closed when the last one leaves.
//
// Threads: Join and Leave run on the user-interface thread. Sources render on
// the output's own thread (a driver callback). Leave is the stop contract:
// once it has returned, the output is not inside the source's Render and
// never calls it again, so the caller may change whatever the source reads.
// The output's thread takes no lock and allocates nothing: a joined source
// reaches it through an atomic slot, and Leave waits for the mix under way
// to finish instead of the mix waiting for Join or Leave.
//
// The app installs the RtAudio output (platform/rtaudio); without one
// installed, joining fails. MemoryAudioOutput mixes on demand without a
// device: tests pull frames from it on their own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zandrel {

class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // Both stay the same while the source is joined.
  virtual uint32_t SampleRate() const = 0;
  virtual int Channels() const = 0;  // 1 or 2
  // Writes the next |frames| frames, interleaved, -1..1, into |out|, with
  // silence where it has nothing to play. Runs on the output's thread: it
  // must not block for long, allocate or call back into the output.
  virtual void Render(float* out, size_t frames) = 0;
};

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // Starts mixing |source|, opening the device when nothing else plays. On
  // failure returns false and sets |error| (when given) to the reason.
  virtual bool Join(std::shared_ptr<AudioSource> source, std::string* error = nullptr) = 0;
  // Stops mixing |source| (the stop contract above); closes the device when
  // it was the last one. Does nothing for a source that is not joined.
  virtual void Leave(const AudioSource* source) = 0;
  virtual bool Joined(const AudioSource* source) const = 0;
  // How long a rendered frame takes to be heard, in seconds (0 when unknown).
  virtual double LatencySeconds() const = 0;
  // True when the open device stopped playing though sources are joined:
  // the audio server went away, the device was unplugged. The sources stay
  // joined until they leave; the last Leave closes the device and the next
  // Join opens it anew. The user-interface thread.
  virtual bool DeviceLost() const { return false; }
  // Stops mixing every source (the stop contract above) and closes the
  // device: what remains to do once a lost device's own users have had
  // their turn. The user-interface thread.
  virtual void LeaveAll() {}
};

// Watches the shared output for a device that stopped while sources that
// nobody checks keep it open (previews, monitors). Playback and the
// instrument player notice a lost device themselves and leave; when the
// device is still lost after |kChecks| checks in a row, Check makes every
// remaining source leave, which closes the device so that the next Join
// opens it anew, and returns true: the caller then says so.
class OutputLossWatch {
 public:
  static constexpr int kChecks = 3;
  static constexpr const char* kLogLine = "Audio output stopped: the audio device stopped playing.";
  static constexpr const char* kMessage =
      "The audio output stopped: the device is gone or its server stopped.\n\nPreviews play again once the "
      "device is back.";
  // The user-interface thread, every quarter second or so.
  bool Check(AudioOutput& output);

 private:
  int lostChecks_ = 0;
};

// The output sources join. Never null: without an installed output, one
// that refuses every source.
AudioOutput& CurrentAudioOutput();
// Installs |output| (not owned); nullptr restores the refusing one. Returns
// the previously installed output (nullptr for none).
AudioOutput* SetAudioOutput(AudioOutput* output);

class LogSink;

// What a player says when the output refuses its source.
constexpr const char* kJoinFailedMessage = "Failed to open audio device.";
constexpr const char* kJoinFailedLogPrefix = "Failed to open audio device: ";

// Joins |source| to the current output, as every player and preview does.
// When the output refuses it (the device is gone, its server stopped, too
// many sounds play), the log gets kJoinFailedLogPrefix and the reason (when
// |log| is given) and a message box says kJoinFailedMessage, so that nothing
// the user asked to hear stays silent without a word. Returns whether the
// source plays. The user-interface thread.
bool JoinOrReport(std::shared_ptr<AudioSource> source, LogSink* log = nullptr);

class ScopedAudioOutput {
 public:
  explicit ScopedAudioOutput(AudioOutput* output) : previous_(SetAudioOutput(output)) {}
  ~ScopedAudioOutput() { SetAudioOutput(previous_); }
  ScopedAudioOutput(const ScopedAudioOutput&) = delete;
  ScopedAudioOutput& operator=(const ScopedAudioOutput&) = delete;

 private:
  AudioOutput* previous_;
};

// The mixer behind every output. A subclass opens its device in OpenDevice
// and calls Mix from the device's thread; it must close the device in its
// own destructor (this class cannot call CloseDevice from its destructor).
class MixingAudioOutput : public AudioOutput {
 public:
  MixingAudioOutput();
  ~MixingAudioOutput() override;

  bool Join(std::shared_ptr<AudioSource> source, std::string* error = nullptr) override;
  void Leave(const AudioSource* source) override;
  bool Joined(const AudioSource* source) const override;
  void LeaveAll() override;

  bool IsOpen() const { return open_; }
  // The stream's rate and channel count while open.
  uint32_t DeviceRate() const { return deviceRate_; }
  int DeviceChannels() const { return deviceChannels_; }

 protected:
  struct DeviceConfig {
    uint32_t rate = 0;
    int channels = 0;  // 1 or 2
  };
  // Opens and starts the device, preferring |wantedRate| (the first source's)
  // and at most two channels; fills |got| with what the stream runs at.
  virtual bool OpenDevice(uint32_t wantedRate, DeviceConfig& got, std::string& error) = 0;
  // Stops and closes the device: once it returns, Mix is neither running
  // nor called again.
  virtual void CloseDevice() = 0;
  // Fills |frames| frames of |out| (|channels| interleaved, the channels the
  // device was opened with) with the sum of the joined sources, clipped to
  // -1..1. The device's thread only.
  void Mix(float* out, size_t frames, int channels);

 private:
  struct Voice;
  void RenderVoice(Voice& voice, float* out, size_t frames, int channels);
  void WaitForRunningMix() const;

  // Sources that play at once, at most.
  static constexpr size_t kMaxVoices = 32;
  // What Mix reads: a voice is published by storing it into a free slot and
  // withdrawn by storing nullptr (Leave then waits for `mixCycle_` to move).
  std::array<std::atomic<Voice*>, kMaxVoices> slots_{};
  // Odd while Mix runs, even between runs; only Mix changes it.
  std::atomic<uint64_t> mixCycle_{0};
  // The voices' owners, by slot. Join, Leave and Joined only: Mix never
  // takes ownerLock_.
  mutable std::mutex ownerLock_;
  std::array<std::unique_ptr<Voice>, kMaxVoices> owned_;
  bool open_ = false;  // user-interface thread
  uint32_t deviceRate_ = 0;
  int deviceChannels_ = 0;
};

// An output without a device: the mix is produced when the caller pulls it
// and kept in `played`. Pull may run on any one thread.
class MemoryAudioOutput final : public MixingAudioOutput {
 public:
  ~MemoryAudioOutput() override;

  // What the "device" runs at: rate 0 takes the first source's rate.
  uint32_t rate = 0;
  int channels = 1;
  double latencySeconds = 0.0;
  // When not empty, opening fails with this reason.
  std::string openError;
  // Set to make the open device count as lost (a test's stopped server).
  std::atomic<bool> lost{false};

  // Mixes |frames| more frames into `played`; false (and nothing) while the
  // device is closed.
  bool Pull(size_t frames);
  // A copy of what was played so far.
  std::vector<float> Played() const;
  int Opens() const { return opens_; }
  int Closes() const { return closes_; }

  double LatencySeconds() const override { return latencySeconds; }
  bool DeviceLost() const override { return IsOpen() && lost.load(); }

 protected:
  bool OpenDevice(uint32_t wantedRate, DeviceConfig& got, std::string& error) override;
  void CloseDevice() override;

 private:
  mutable std::mutex pullLock_;  // Pull against CloseDevice and Played
  bool running_ = false;
  int runningChannels_ = 1;
  std::vector<float> played_;
  std::vector<float> block_;
  int opens_ = 0;
  int closes_ = 0;
};

}  // namespace zandrel
