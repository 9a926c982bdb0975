#include "platform/rtaudio/stream_closer.h"

#include <RtAudio.h>

#include <algorithm>

namespace zandrel {

using std::chrono::milliseconds;

std::chrono::milliseconds QuietLimit(unsigned int periodFrames, unsigned int rate) {
  const int64_t periodMs = rate ? static_cast<int64_t>(periodFrames) * 1000 / rate : 100;
  return milliseconds(std::max<int64_t>(500, 8 * periodMs));
}

bool RtAudioStreamLost(const RtAudio& audio, const StreamPulse& pulse, std::chrono::milliseconds quiet) {
  // A back end that closed the stream itself (a failed device) says so.
  if (!audio.isStreamOpen()) return true;
  return pulse.Silent(quiet);
}

bool CloseRtAudioStream(std::unique_ptr<RtAudio>& audio) {
  if (!audio) return false;
  const bool lost = !audio->isStreamOpen();
  // Stopping the stream joins the driver's thread (ALSA and PulseAudio join
  // their callback thread): once this returns no callback runs or will.
  try {
    if (audio->isStreamRunning()) audio->abortStream();
  } catch (const RtAudioError&) {
  }
  try {
    if (audio->isStreamOpen()) audio->closeStream();
  } catch (const RtAudioError&) {
  }
  audio.reset();
  return lost;
}

}  // namespace zandrel
