// MIDI ports joined in memory: the far end of a port is a piece of code (a
// simulated device in tests) instead of a driver.
//
// A MemoryMidiLine carries messages one way. Post() queues a copy and returns
// at once; the line's own delivery thread hands each message to the receiver,
// in order, so a receiver never runs inside the sender's call, just as a
// driver callback would not. Messages posted while no receiver is connected
// are dropped, as on a cable with nobody listening. Disconnect() waits until
// no delivery runs (unless called from the receiver itself).
//
// MemoryMidiSystem is the MidiSystem over such lines. AddInput() makes a port
// the host can open as input (the far end posts to the line), AddOutput() one
// it can open as output (the far end connects as receiver); AddDevice() makes
// both under one name, which is how a USB MIDI device appears. A line that is
// unplugged disappears from the listings and refuses messages.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/midi_port.h"

namespace zandrel {

class MemoryMidiLine {
 public:
  explicit MemoryMidiLine(std::string name);
  // Stops the delivery thread; messages still queued are dropped.
  ~MemoryMidiLine();
  MemoryMidiLine(const MemoryMidiLine&) = delete;
  MemoryMidiLine& operator=(const MemoryMidiLine&) = delete;

  const std::string& Name() const { return name_; }

  // Queues a copy of |message|; false when the line is unplugged or the
  // message is longer than MaxMessageBytes().
  bool Post(std::span<const uint8_t> message);

  // Installs the receiver; false when one is connected already.
  bool Connect(MidiInputCallback receiver);
  // Removes the receiver and waits until its last delivery has returned.
  void Disconnect();
  bool Connected() const;

  void SetUnplugged(bool unplugged);
  bool Unplugged() const;
  // Longest message the line carries (no limit by default).
  void SetMaxMessageBytes(size_t bytes);
  size_t MaxMessageBytes() const;

  // Output ports currently open on this line (for tests of who opened what).
  int OpenSenders() const;

  // Waits until everything posted so far has been delivered or dropped.
  bool WaitUntilDelivered(std::chrono::milliseconds limit);

 private:
  friend class MemoryMidiOutPort;
  void AddSender(int delta);
  void Run();

  const std::string name_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::vector<uint8_t>> queue_;
  MidiInputCallback receiver_;
  bool delivering_ = false;
  bool stop_ = false;
  bool unplugged_ = false;
  int senders_ = 0;
  size_t maxBytes_ = std::numeric_limits<size_t>::max();
  std::thread::id deliveryThread_;
  std::thread thread_;  // last: starts after every other member exists
};

// One device's pair of ports: |toHost| is the host's input (the device posts
// to it), |fromHost| the host's output (the device connects as its receiver).
struct MemoryMidiDevicePorts {
  std::shared_ptr<MemoryMidiLine> toHost;
  std::shared_ptr<MemoryMidiLine> fromHost;
};

class MemoryMidiSystem final : public MidiSystem {
 public:
  std::shared_ptr<MemoryMidiLine> AddInput(std::string name);
  std::shared_ptr<MemoryMidiLine> AddOutput(std::string name);
  MemoryMidiDevicePorts AddDevice(const std::string& name);

  std::vector<std::string> InputNames() override;
  std::vector<std::string> OutputNames() override;
  std::unique_ptr<MidiInPort> OpenInput(size_t index, MidiInputCallback callback) override;
  std::unique_ptr<MidiOutPort> OpenOutput(size_t index) override;

 private:
  static std::vector<std::string> List(const std::vector<std::shared_ptr<MemoryMidiLine>>& lines,
                                       std::vector<std::shared_ptr<MemoryMidiLine>>& listed);

  std::mutex mutex_;
  std::vector<std::shared_ptr<MemoryMidiLine>> inputs_;
  std::vector<std::shared_ptr<MemoryMidiLine>> outputs_;
  // The latest listings, which indices refer to.
  std::vector<std::shared_ptr<MemoryMidiLine>> listedInputs_;
  std::vector<std::shared_ptr<MemoryMidiLine>> listedOutputs_;
};

}  // namespace zandrel
