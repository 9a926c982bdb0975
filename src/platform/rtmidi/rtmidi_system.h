// The machine's MIDI ports through RtMidi: the ALSA sequencer or JACK.
//
// Not part of the display-free core: only the app and the tests link this
// library (zandrel_platform_rtmidi). RtMidi's own headers stay inside it.
//
// RtMidi reports driver errors by throwing unless an error callback is
// installed; every RtMidi object here gets one before its first use, and a
// reported error turns into a failed open or a false Send(). System-exclusive
// input is switched on (RtMidi filters it out by default). Closing an input
// port waits until its callback has returned and destroys the RtMidi object,
// which stops its driver thread.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/midi_port.h"

namespace zandrel {

enum class RtMidiBackend {
  Default,  // the ALSA sequencer when the machine has one, else JACK
  Alsa,
  Jack,
};

// The back ends this RtMidi build was compiled with.
std::vector<RtMidiBackend> CompiledRtMidiBackends();

class RtMidiSystem final : public MidiSystem {
 public:
  // Longest message an output port sends. RtMidi's JACK output passes
  // messages through a 16383-byte ring buffer behind a 4-byte length and
  // drops longer ones without reporting anything; the same bound serves the
  // ALSA sequencer, whose kernel event pool does not take much larger events.
  static constexpr size_t kMaxMessageBytes = 16379;

  // |clientName| names this program's client on the MIDI system (JACK shows
  // it before every port name of ours).
  explicit RtMidiSystem(RtMidiBackend backend = RtMidiBackend::Default, std::string clientName = "Zandrel");
  ~RtMidiSystem() override;

  RtMidiBackend Backend() const { return backend_; }

  std::vector<std::string> InputNames() override;
  std::vector<std::string> OutputNames() override;
  // The port is found again by the name it had in the latest listing, since
  // on JACK the ports this program opens meanwhile shift the indices.
  std::unique_ptr<MidiInPort> OpenInput(size_t index, MidiInputCallback callback) override;
  std::unique_ptr<MidiOutPort> OpenOutput(size_t index) override;

  // Ports of this program's own that other programs connect to, named
  // |portName| (JACK lists them as "<client name>:<port name>").
  std::unique_ptr<MidiInPort> OpenVirtualInput(const std::string& portName, MidiInputCallback callback);
  std::unique_ptr<MidiOutPort> OpenVirtualOutput(const std::string& portName);

  // The last error RtMidi reported while this system listed or opened ports.
  std::string LastError() const;

 private:
  void SetError(const std::string& text);
  // The name at |index| of a latest listing.
  std::optional<std::string> Listed(const std::vector<std::string>& names, size_t index) const;
  // Listed ports by index, virtual ones without.
  std::unique_ptr<MidiInPort> OpenIn(std::optional<size_t> index, const std::string& name, MidiInputCallback callback);
  std::unique_ptr<MidiOutPort> OpenOut(std::optional<size_t> index, const std::string& name);

  RtMidiBackend backend_;
  std::string clientName_;
  mutable std::mutex mutex_;
  std::vector<std::string> listedInputs_;
  std::vector<std::string> listedOutputs_;
  std::string lastError_;
};

}  // namespace zandrel
