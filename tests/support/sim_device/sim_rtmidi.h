// Joins a SimDevice to real MIDI ports through RtMidi: the device opens a
// virtual input and a virtual output port that the editor finds by name, as
// it would find a USB device. Used over a private JACK server in CI.
#pragma once

#include <memory>
#include <string>

#include "platform/rtmidi/rtmidi_system.h"
#include "support/sim_device/sim_device.h"

namespace zandrel::test {

class SimRtMidiPorts {
 public:
  // Opens "<client>:<port> in" and "<client>:<port> out" on |backend| and
  // attaches |device| to them. Destroy this before the device.
  SimRtMidiPorts(SimDevice& device, RtMidiBackend backend, const std::string& clientName = "EP-133 Sim",
                 const std::string& portName = "EP-133 MIDI");
  ~SimRtMidiPorts();
  SimRtMidiPorts(const SimRtMidiPorts&) = delete;
  SimRtMidiPorts& operator=(const SimRtMidiPorts&) = delete;

  bool Ok() const { return in_ && out_; }
  std::string Error() const { return system_.LastError(); }

 private:
  SimDevice& device_;
  RtMidiSystem system_;
  std::unique_ptr<MidiInPort> in_;
  // Shared with the device's send function, which may still run while the
  // ports close.
  std::shared_ptr<MidiOutPort> out_;
};

}  // namespace zandrel::test
