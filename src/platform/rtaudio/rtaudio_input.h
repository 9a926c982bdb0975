// The machine's audio inputs: the capture devices of a JACK server,
// PulseAudio and ALSA, in that order (with JACK, every client that has output
// ports is a device one can capture from). RtAudio lists them and drives
// PulseAudio and ALSA; JACK streams go through libjack directly
// (jack_stream.h).
//
// Not part of the display-free core: only the app and the tests link this
// library; the core records through platform/audio_input.h.
//
// A stream opens at the rate asked for when the device offers it, else at
// the device's own (a JACK server's), and converts to the asked rate with
// preallocated state (CubicRateConverter), so the callback always gets the
// rate and channel count asked for. A mono device asked for two channels
// gives its channel on both. Open failures carry the AudioInputError codes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/audio_input.h"
#include "platform/rtaudio/rtaudio_output.h"

namespace zandrel {

// The AudioInputError code for an RtAudio error of |rtErrorType| (the
// numeric RtAudioError::Type) with |message|.
int AudioInputErrorCode(int rtErrorType, const std::string& message);

class RtAudioInput final : public AudioInput {
 public:
  // |clientName| names the streams where the server shows names (JACK).
  explicit RtAudioInput(AudioBackend backend = AudioBackend::kAny, std::string clientName = "Zandrel input");
  ~RtAudioInput() override;

  std::vector<AudioInputDevice> Devices() override;
  std::unique_ptr<AudioInputStream> Open(const std::string& identity, uint32_t rate, int channels,
                                         size_t maxBlockFrames, AudioInputCallback callback,
                                         AudioInputError* error = nullptr) override;

 private:
  class Stream;
  AudioBackend backend_;
  std::string clientName_;
};

}  // namespace zandrel
