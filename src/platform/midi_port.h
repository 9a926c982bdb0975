// MIDI ports as the core sees them.
//
// A MidiSystem lists the machine's MIDI input and output ports by name and
// opens one by its index in the latest listing. An open input port hands every
// complete incoming message to its callback: a whole system-exclusive message
// from F0 to F7, or one short channel or system message. The callback runs on
// a thread of the port (a driver thread, never the thread that opened the
// port), one message at a time, and must not close its own port. Close()
// returns only when no callback runs any more and none will start again, so
// the state the callback touches may be freed right after it.
//
// An open output port sends one whole message per call. Sending never throws:
// failure (a closed or vanished port, a message larger than the port can
// carry) is the return value.
//
// Implementations: MemoryMidiSystem (memory_midi.h) joins ports in memory for
// tests; the RtMidi ports (platform/rtmidi/, not part of the core) reach the
// ALSA sequencer and JACK.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zandrel {

// Receives one complete message; |message| is valid only during the call.
using MidiInputCallback = std::function<void(std::span<const uint8_t> message)>;

class MidiInPort {
 public:
  virtual ~MidiInPort() = default;
  // Stops delivery and waits until no callback runs. Safe to call twice.
  // Implementations close in their destructor as well.
  virtual void Close() = 0;
};

class MidiOutPort {
 public:
  virtual ~MidiOutPort() = default;
  // Sends one whole message; false when it could not be handed to the port.
  virtual bool Send(std::span<const uint8_t> message) = 0;
  // The longest message this port delivers intact, in bytes. Longer ones are
  // refused by Send(): some drivers would drop them without a word.
  virtual size_t MaxMessageBytes() const = 0;
  virtual void Close() = 0;
};

class MidiSystem {
 public:
  virtual ~MidiSystem() = default;
  // Port names as the driver reports them (UTF-8), in index order.
  virtual std::vector<std::string> InputNames() = 0;
  virtual std::vector<std::string> OutputNames() = 0;
  // Open the port at |index| of the latest listing; nullptr on failure.
  virtual std::unique_ptr<MidiInPort> OpenInput(size_t index, MidiInputCallback callback) = 0;
  virtual std::unique_ptr<MidiOutPort> OpenOutput(size_t index) = 0;
};

// The process's MIDI system, installed by the app at start-up (not owned).
// nullptr until then: nothing can be opened.
MidiSystem* CurrentMidiSystem();
// Installs |system| and returns the previous one. Call while no port is open.
MidiSystem* SetMidiSystem(MidiSystem* system);

}  // namespace zandrel
