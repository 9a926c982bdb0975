// The machine's audio output: a JACK server, PulseAudio or ALSA, whichever
// this RtAudio build has and answers first, in that order; within a back end
// the default output device first, then the others. RtAudio lists the
// devices and drives PulseAudio and ALSA; a JACK stream is driven through
// libjack directly (jack_stream.h), so that a server that goes away never
// races our own close.
//
// Not part of the display-free core: only the app and the tests link this
// library (zandrel_platform_rtaudio); RtAudio's own headers stay inside it.
//
// The stream is 32-bit float with at most two channels. It runs at the
// rate of the source that opens it when the device offers that rate (a JACK
// server offers only its own), else at the device's preferred rate, and the
// mixer converts the sources to it. RtAudio reports errors by throwing; every
// call here catches them and turns them into a failed open.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio_output.h"
#include "platform/rtaudio/stream_closer.h"

class RtAudio;

namespace zandrel {

class JackStream;

enum class AudioBackend {
  kAny,  // the first back end, in the order below, that opens a device
  kJack,
  kPulse,
  kAlsa,
};

// The back ends this RtAudio build was compiled with, in the order tried.
std::vector<AudioBackend> CompiledAudioBackends();

class RtAudioOutput final : public MixingAudioOutput {
 public:
  // |clientName| names the stream where the server shows names (JACK).
  explicit RtAudioOutput(AudioBackend backend = AudioBackend::kAny, std::string clientName = "Zandrel");
  ~RtAudioOutput() override;

  double LatencySeconds() const override { return latencySeconds_; }
  // Where the open stream plays ("JACK: system", ...), empty while closed.
  std::string DeviceName() const { return deviceName_; }
  // Why the last open failed.
  std::string LastError() const { return lastError_; }
  bool DeviceLost() const override;

 protected:
  bool OpenDevice(uint32_t wantedRate, DeviceConfig& got, std::string& error) override;
  void CloseDevice() override;

 private:
  static int Callback(void* output, void* input, unsigned int frames, double streamTime, unsigned int status,
                      void* user);
  static void JackProcess(void* user, const float* in, float* out, size_t frames);
  bool TryOpen(int api, uint32_t wantedRate, DeviceConfig& got);

  AudioBackend backend_;
  std::string clientName_;
  std::unique_ptr<RtAudio> audio_;  // ALSA and PulseAudio
  std::unique_ptr<JackStream> jack_;
  int channels_ = 0;
  StreamPulse pulse_;  // the driver's callback beats it
  std::chrono::milliseconds quiet_{500};
  double latencySeconds_ = 0.0;
  std::string deviceName_;
  std::string lastError_;
};

}  // namespace zandrel
