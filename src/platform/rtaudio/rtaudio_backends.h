// What the RtAudio input and output share about RtAudio's back ends: which
// API a back end is, the back ends a stream tries in turn, the frames per
// callback asked for, and the error callback. Internal to
// zandrel_platform_rtaudio (it includes RtAudio's header).
#pragma once

#include <RtAudio.h>

#include <string>
#include <vector>

#include "platform/rtaudio/rtaudio_output.h"

namespace zandrel {

// Frames per callback where the back end lets us choose: about 23 ms at
// 44.1 kHz (a JACK server uses its own period instead).
inline constexpr unsigned int kRtAudioBufferFrames = 1024;

inline RtAudio::Api RtAudioApiOf(AudioBackend backend) {
  switch (backend) {
    case AudioBackend::kJack: return RtAudio::UNIX_JACK;
    case AudioBackend::kPulse: return RtAudio::LINUX_PULSE;
    case AudioBackend::kAlsa: return RtAudio::LINUX_ALSA;
    case AudioBackend::kAny: break;
  }
  return RtAudio::UNSPECIFIED;
}

// The back ends a stream asked for |backend| tries, in order.
inline std::vector<AudioBackend> BackendsToTry(AudioBackend backend) {
  return backend == AudioBackend::kAny ? CompiledAudioBackends() : std::vector<AudioBackend>{backend};
}

// Errors while a stream runs (under- and overruns, a vanished server) reach
// this callback instead of being thrown on the driver's thread; a stream
// that stops delivering is noticed by its silence instead, and the next open
// reports any problem.
inline void IgnoreRtAudioStreamError(RtAudioError::Type, const std::string&) {}

}  // namespace zandrel
