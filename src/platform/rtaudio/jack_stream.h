// A stream on a JACK server, driven through libjack directly.
//
// RtAudio closes a JACK stream itself, from a thread of its own that nobody
// joins, when the server goes away; a close from the stream's owner then
// races with it (two jack_client_close calls on one client, or the RtAudio
// object freed under that thread), which hangs or aborts. Here the server's
// shutdown only raises a flag: the owner closes the client, once, from its
// own thread, whatever state the server is in.
//
// The stream has |inputs| capture and |outputs| playback ports, connected to
// the ports of one client of the server (a device, as the server shows
// them: "system" for the sound card). The process function sees interleaved
// float frames, in chunks of at most kChunkFrames, on JACK's process thread:
// nothing there allocates or locks.
//
// Not part of the display-free core: libjack's header stays in the .cpp.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtaudio/stream_closer.h"

namespace zandrel {

class JackStream {
 public:
  // |in| holds frames * inputs interleaved samples (nullptr without inputs);
  // |out| frames * outputs, to be filled (nullptr without outputs).
  using ProcessFn = void (*)(void* user, const float* in, float* out, size_t frames);
  static constexpr size_t kChunkFrames = 1024;

  JackStream() = default;
  ~JackStream();
  JackStream(const JackStream&) = delete;
  JackStream& operator=(const JackStream&) = delete;

  // Opens a client named |clientName| on the running server (never starts
  // one), registers the ports, starts processing and connects the ports to
  // |device|'s. False with |error| set when any step fails; nothing is left
  // open then.
  bool Open(const std::string& clientName, const std::string& device, int inputs, int outputs, ProcessFn process,
            void* user, std::string& error);

  bool IsOpen() const { return client_ != nullptr; }
  uint32_t SampleRate() const { return rate_; }
  // Frames between the process function and the device's ports, one way.
  uint32_t LatencyFrames() const { return latencyFrames_; }

  // True when the server shut the client down, or the process function was
  // not called for a few periods.
  bool Lost() const;

  // Stops processing and closes the client; afterwards the process function
  // runs no more. Safe to call twice, and after the server has gone.
  void Close();

 private:
  static int Process(uint32_t frames, void* self);
  static void Shutdown(int code, const char* reason, void* self);

  void* client_ = nullptr;  // jack_client_t
  std::vector<void*> inPorts_, outPorts_;  // jack_port_t
  std::vector<float*> inBuffers_, outBuffers_;  // the current period's
  std::vector<float> inScratch_, outScratch_;   // one chunk, interleaved
  ProcessFn process_ = nullptr;
  void* user_ = nullptr;
  uint32_t rate_ = 0;
  uint32_t latencyFrames_ = 0;
  std::atomic<bool> shutDown_{false};
  StreamPulse pulse_;
  std::chrono::milliseconds quiet_{500};
};

}  // namespace zandrel
