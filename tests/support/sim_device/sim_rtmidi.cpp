#include "support/sim_device/sim_rtmidi.h"

namespace zandrel::test {

SimRtMidiPorts::SimRtMidiPorts(SimDevice& device, RtMidiBackend backend, const std::string& clientName,
                               const std::string& portName)
    : device_(device), system_(backend, clientName) {
  out_ = system_.OpenVirtualOutput(portName + " out");
  if (!out_) return;
  device_.Attach([out = out_](std::span<const uint8_t> message) { return out->Send(message); });
  in_ = system_.OpenVirtualInput(portName + " in",
                                 [&device](std::span<const uint8_t> message) { device.Receive(message); });
}

SimRtMidiPorts::~SimRtMidiPorts() {
  if (in_) in_->Close();
  device_.Attach(nullptr);
}

}  // namespace zandrel::test
