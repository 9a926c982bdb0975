// The machine's audio inputs as the core sees them.
//
// An AudioInput lists the capture devices and opens one of them by its
// identity. An open stream hands the captured audio to its callback as
// interleaved signed 16-bit frames at the rate and channel count asked for,
// 1..maxBlockFrames frames per call. The callback runs on the input's own
// thread (a driver thread, never the thread that opened the stream): it must
// not block for long, allocate, or close its own stream.
//
// Close() (and the stream's destructor) returns only once no callback runs
// and none will start again, so whatever the callback touches may be freed
// right after it. Close() is safe to call twice.
//
// Identities are the names the user sees: "<back end>: <device name>", the
// same text in Devices() and in saved settings.
//
// The app installs the RtAudio input (platform/rtaudio); without one nothing
// opens. MemoryAudioInput (below) has no device: a test pushes blocks and the
// callback runs inside the push.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zandrel {

struct AudioInputDevice {
  std::string name;      // as shown to the user
  std::string identity;  // what Open() takes ("<back end>: <name>")
  int channels = 0;      // the most channels the device captures
};

// Why an open failed. The codes are the ones the sampling tools report to the
// user (their message tables key on them).
struct AudioInputError {
  enum Code : int {
    kNone = 0,
    kBadDevice = 2,  // no device with that identity
    kBusy = 4,       // the device is in use
    kNoDriver = 6,   // no audio system at all
    kMemory = 7,     // a buffer could not be had
    kFormat = 32,    // the rate, channels or block size cannot be captured
  };
  int code = kNone;
  std::string detail;  // the driver's own words, for the log
};

// |frames| holds |frameCount| interleaved frames of the opened channel count;
// it is valid only during the call.
using AudioInputCallback = std::function<void(const int16_t* frames, size_t frameCount)>;

class AudioInputStream {
 public:
  virtual ~AudioInputStream() = default;
  // What the stream delivers (the rate and channels asked for).
  virtual uint32_t SampleRate() const = 0;
  virtual int Channels() const = 0;
  // Stops delivery; see the contract above.
  virtual void Close() = 0;
  // True once the device stopped delivering though the stream was not
  // closed: the audio server went away, the device was unplugged, or no
  // block came for several periods. The stream stays lost; the owner closes
  // it and keeps what it had received. The owner's thread.
  virtual bool Lost() const { return false; }
};

class AudioInput {
 public:
  virtual ~AudioInput() = default;
  virtual std::vector<AudioInputDevice> Devices() = 0;
  // Opens |identity| (empty: the default input) at |rate| with |channels|
  // (1 or 2), delivering at most |maxBlockFrames| frames per callback.
  // nullptr on failure, with |error| (when given) filled.
  virtual std::unique_ptr<AudioInputStream> Open(const std::string& identity, uint32_t rate, int channels,
                                                 size_t maxBlockFrames, AudioInputCallback callback,
                                                 AudioInputError* error = nullptr) = 0;
};

// The process's audio input, installed by the app at start-up (not owned).
// nullptr until then: nothing can be opened.
AudioInput* CurrentAudioInput();
// Installs |input| and returns the previous one. Call while no stream is open.
AudioInput* SetAudioInput(AudioInput* input);

class ScopedAudioInput {
 public:
  explicit ScopedAudioInput(AudioInput* input) : previous_(SetAudioInput(input)) {}
  ~ScopedAudioInput() { SetAudioInput(previous_); }
  ScopedAudioInput(const ScopedAudioInput&) = delete;
  ScopedAudioInput& operator=(const ScopedAudioInput&) = delete;

 private:
  AudioInput* previous_;
};

// An input without a device. AddDevice() lists one; Push() hands frames to
// the open stream of that device, cut into blocks of at most the stream's
// maxBlockFrames, the callback running inside the call on the caller's
// thread. Push() converts nothing: the frames must be in the opened format.
class MemoryAudioInput final : public AudioInput {
 public:
  MemoryAudioInput();
  ~MemoryAudioInput() override;

  // Adds a device named |name|; its identity is "Memory: <name>".
  void AddDevice(const std::string& name, int channels = 2);
  // When set (not kNone), every open fails with this code.
  void FailOpens(int code);

  std::vector<AudioInputDevice> Devices() override;
  std::unique_ptr<AudioInputStream> Open(const std::string& identity, uint32_t rate, int channels,
                                         size_t maxBlockFrames, AudioInputCallback callback,
                                         AudioInputError* error = nullptr) override;

  // Delivers |frameCount| interleaved frames to the open stream of
  // |identity| (empty: whichever stream is open); false when none is open.
  bool Push(const int16_t* frames, size_t frameCount, const std::string& identity = {});
  bool Push(const std::vector<int16_t>& frames, const std::string& identity = {});
  // Makes the open stream of |identity| (empty: whichever) lost, as an
  // unplugged device: Lost() turns true and Push delivers nothing more.
  // False when no stream is open.
  bool Lose(const std::string& identity = {});
  // Streams open now, and opens so far.
  int OpenStreams() const;
  int Opens() const;
  // The arguments of the latest successful open.
  uint32_t OpenedRate() const;
  int OpenedChannels() const;
  size_t OpenedMaxBlockFrames() const;

 private:
  class Stream;
  friend class Stream;
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace zandrel
