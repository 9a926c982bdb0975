#include "platform/rtaudio/stream_closer.h"

#include <RtAudio.h>

#include <algorithm>
#include <thread>

namespace zandrel {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Waits until |done| holds or |limit| passes; returns whether it held.
template <typename Done>
bool WaitFor(Done done, milliseconds limit) {
  const auto until = steady_clock::now() + limit;
  while (!done()) {
    if (steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(milliseconds(2));
  }
  return true;
}

// RtAudio's JACK shutdown thread sets the stream closed as the last thing
// it does; this covers its return from closeStream after that.
constexpr milliseconds kShutdownTail{20};
// How long RtAudio's own shutdown may take to close a stream whose server
// is gone (jack_client_close on a dead server returns at once; a loaded
// machine may still take a while to schedule the thread).
constexpr milliseconds kShutdownLimit{5000};

}  // namespace

std::chrono::milliseconds QuietLimit(unsigned int periodFrames, unsigned int rate) {
  const int64_t periodMs = rate ? static_cast<int64_t>(periodFrames) * 1000 / rate : 100;
  return milliseconds(std::max<int64_t>(500, 8 * periodMs));
}

bool RtAudioStreamLost(const RtAudio& audio, const StreamPulse& pulse, std::chrono::milliseconds quiet) {
  // isStreamOpen reads one state word the shutdown thread writes last.
  if (!audio.isStreamOpen()) return true;
  return pulse.Silent(quiet);
}

bool CloseRtAudioStream(std::unique_ptr<RtAudio>& audio, const StreamPulse& pulse, std::chrono::milliseconds quiet) {
  if (!audio) return false;
  bool lost = !audio->isStreamOpen();
  try {
    if (!lost && audio->isStreamRunning() && audio->getCurrentApi() == RtAudio::UNIX_JACK) {
      // A server that has gone away stops calling back before RtAudio
      // starts closing the stream on its own thread. So one more callback
      // shows the server alive (a period at most); none within the quiet
      // limit means RtAudio is closing, or about to: let it finish rather
      // than close the client a second time.
      const uint64_t before = pulse.Beats();
      if (!WaitFor([&] { return pulse.Beats() != before; }, quiet)) {
        lost = true;
        if (WaitFor([&] { return !audio->isStreamOpen(); }, kShutdownLimit)) {
          std::this_thread::sleep_for(kShutdownTail);
          audio.reset();
        } else {
          // RtAudio's shutdown is stuck inside libjack (it can be, when
          // several clients of one process lose their server at once).
          // Closing again would wait on the same locks for ever, and freeing
          // the object would pull it from under that thread: leave the dead
          // client to it. Its server is gone, so no callback comes again.
          (void)audio.release();
        }
        return true;
      }
    }
  } catch (const RtAudioError&) {
  }
  // Stopping the stream joins the driver's thread (JACK deactivates the
  // client, ALSA and PulseAudio join their callback thread): once this
  // returns no callback runs or will.
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
