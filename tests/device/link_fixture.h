// Shared pieces of the device tests: a thread-safe console capture, an event
// recorder, and a fixture that joins a CEPSysExLink to a simulated device
// over MIDI ports in memory.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "device/sysex_link.h"
#include "platform/memory_midi.h"
#include "support/sim_device/sim_device.h"

namespace zandrel::test {

using namespace std::chrono_literals;

// Every wait in a test that expects a reply or a message is bounded by this.
inline constexpr auto kTestDeadline = 5s;
// Time scale for tests that wait out a limit: 5000 ms become 100 ms.
inline constexpr double kShortScale = 0.02;

// An output stream the link writes console lines into from any thread.
class ConsoleCapture : public std::ostream {
 public:
  ConsoleCapture() : std::ostream(&buffer_) {}

  std::string Text() const {
    std::lock_guard lock(buffer_.mutex);
    return buffer_.text;
  }
  // Waits (bounded) until the text contains |part|.
  bool WaitFor(const std::string& part, std::chrono::milliseconds limit = kTestDeadline) const {
    std::unique_lock lock(buffer_.mutex);
    return buffer_.grew.wait_for(lock, limit, [&] { return buffer_.text.find(part) != std::string::npos; });
  }
  void Clear() {
    std::lock_guard lock(buffer_.mutex);
    buffer_.text.clear();
  }

 private:
  struct Buffer : std::streambuf {
    mutable std::mutex mutex;
    mutable std::condition_variable grew;
    std::string text;

    int_type overflow(int_type c) override {
      if (c != traits_type::eof()) {
        std::lock_guard lock(mutex);
        text.push_back(static_cast<char>(c));
        grew.notify_all();
      }
      return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
      std::lock_guard lock(mutex);
      text.append(s, static_cast<size_t>(n));
      grew.notify_all();
      return n;
    }
  };
  mutable Buffer buffer_;
};

class EventRecorder {
 public:
  void Record(const EPDeviceEvent& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    grew_.notify_all();
  }
  std::vector<EPDeviceEvent> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  bool WaitForCount(size_t count, std::chrono::milliseconds limit = kTestDeadline) const {
    std::unique_lock lock(mutex_);
    return grew_.wait_for(lock, limit, [&] { return events_.size() >= count; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable grew_;
  std::vector<EPDeviceEvent> events_;
};

// The payloads of the requests |sim| received for |command|, in order.
inline std::vector<Bytes> RequestPayloads(const SimDevice& sim, int command) {
  std::vector<Bytes> payloads;
  for (const SimRequest& request : sim.Requests()) {
    if (request.Command() == command) payloads.push_back(request.payload);
  }
  return payloads;
}

// A link opened on a simulated device (standard tree) through memory ports.
class SimLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.AttachTo(midi);
    link.SetConsole(&out, &err);
    link.SetEventCallback([this](const EPDeviceEvent& event) { events.Record(event); });
    ASSERT_TRUE(link.OpenLink());
  }
  void TearDown() override {
    link.CloseLink();
    EXPECT_EQ(sim.FramingErrors(), 0);
    EXPECT_EQ(sim.SequenceErrors(), 0);
  }

  std::vector<Bytes> Payloads(int command) const { return RequestPayloads(sim, command); }

  MemoryMidiSystem midi;
  SimDevice sim;
  ConsoleCapture out;
  ConsoleCapture err;
  EventRecorder events;
  CEPSysExLink link{&midi};  // last: closed before everything it uses goes
};

}  // namespace zandrel::test
