#include "platform/rtmidi/rtmidi_system.h"

#include <RtMidi.h>
#include <jack/jack.h>

#include <atomic>
#include <filesystem>
#include <optional>

namespace zandrel {
namespace {

RtMidi::Api ToApi(RtMidiBackend backend) {
  switch (backend) {
    case RtMidiBackend::Alsa: return RtMidi::LINUX_ALSA;
    case RtMidiBackend::Jack: return RtMidi::UNIX_JACK;
    case RtMidiBackend::Default: break;
  }
  return RtMidi::UNSPECIFIED;
}

bool Compiled(RtMidiBackend backend) {
  for (RtMidiBackend b : CompiledRtMidiBackends()) {
    if (b == backend) return true;
  }
  return false;
}

// Collects what RtMidi reports through its error callback. Any report during
// a call, warnings included, means that call failed: a JACK output whose ring
// buffer is full or an open of a port that has gone only warn.
class ErrorTrap {
 public:
  static void Callback(RtMidiError::Type type, const std::string& text, void* user) {
    if (type == RtMidiError::DEBUG_WARNING) return;
    auto* trap = static_cast<ErrorTrap*>(user);
    std::lock_guard lock(trap->mutex_);
    trap->raised_ = true;
    trap->text_ = text;
  }
  void Reset() {
    std::lock_guard lock(mutex_);
    raised_ = false;
  }
  void Raise(const std::string& text) { Callback(RtMidiError::UNSPECIFIED, text, this); }
  std::optional<std::string> Raised() const {
    std::lock_guard lock(mutex_);
    if (!raised_) return std::nullopt;
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  bool raised_ = false;
  std::string text_;
};

// Builds an RtMidi object and installs the error callback at once. The
// constructors themselves throw when the back end cannot start.
template <class T>
std::unique_ptr<T> MakeRt(RtMidi::Api api, const std::string& clientName, ErrorTrap& trap) {
  try {
    auto object = std::make_unique<T>(api, clientName);
    object->setErrorCallback(&ErrorTrap::Callback, &trap);
    return object;
  } catch (const std::exception& e) {
    trap.Raise(e.what());
  } catch (...) {
    trap.Raise("RtMidi could not start");
  }
  return nullptr;
}

std::vector<std::string> PortNames(RtMidi& rt) {
  std::vector<std::string> names;
  try {
    const unsigned count = rt.getPortCount();
    for (unsigned i = 0; i < count; ++i) names.push_back(rt.getPortName(i));
  } catch (...) {
    names.clear();
  }
  return names;
}

// The index that |name| has now; the remembered index when it still holds it.
std::optional<unsigned> FindPort(RtMidi& rt, size_t index, const std::string& name) {
  const std::vector<std::string> names = PortNames(rt);
  if (index < names.size() && names[index] == name) return static_cast<unsigned>(index);
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<unsigned>(i);
  }
  return std::nullopt;
}

class RtInPort final : public MidiInPort {
 public:
  explicit RtInPort(MidiInputCallback callback) : callback_(std::move(callback)) {}
  ~RtInPort() override { Close(); }

  // Makes the RtMidi object and switches system-exclusive input on; the
  // caller opens the port.
  RtMidiIn* Create(RtMidi::Api api, const std::string& clientName) {
    in_ = MakeRt<RtMidiIn>(api, clientName, trap_);
    if (!in_) return nullptr;
    try {
      in_->ignoreTypes(false, true, true);
      in_->setCallback(&RtInPort::OnMessage, this);
    } catch (...) {
      in_.reset();
    }
    return in_.get();
  }
  ErrorTrap& Trap() { return trap_; }

  void Close() override {
    if (!in_) return;
    // No new delivery reaches the callback from here on; one that is running
    // is waited for. Only then is the RtMidi object destroyed, which stops
    // its driver thread (RtMidi joins the ALSA thread and closes the JACK
    // client).
    closing_.store(true);
    for (int n = active_.load(); n != 0; n = active_.load()) active_.wait(n);
    try {
      in_->closePort();
    } catch (...) {
    }
    in_.reset();
  }

 private:
  static void OnMessage(double, std::vector<unsigned char>* message, void* user) {
    auto* self = static_cast<RtInPort*>(user);
    // The count is raised before closing_ is read and Close() sets closing_
    // before it reads the count, so the two never miss each other.
    self->active_.fetch_add(1);
    if (!self->closing_.load() && message && !message->empty()) {
      try {
        self->callback_(std::span<const uint8_t>(message->data(), message->size()));
      } catch (...) {
        // An exception must not unwind into the driver's thread.
      }
    }
    self->active_.fetch_sub(1);
    self->active_.notify_all();
  }

  MidiInputCallback callback_;
  ErrorTrap trap_;
  std::atomic<bool> closing_{false};
  std::atomic<int> active_{0};
  std::unique_ptr<RtMidiIn> in_;
};

// Whether a JACK output can still reach its destination. RtMidi's JACK
// output only queues a message for the server's next cycle, so a send to a
// server that has gone, or to a port that has vanished, succeeds into the
// void. A small client of our own hears the server's shutdown, and the
// destination port is looked up in the server's port table before each send.
class JackReach {
 public:
  // |destination|: the full port name sent to (empty for a virtual port).
  explicit JackReach(std::string destination) : destination_(std::move(destination)) {
    jack_status_t status{};
    client_ = jack_client_open("Zandrel MIDI watch", JackNoStartServer, &status);
    if (client_) {
      jack_on_info_shutdown(
          client_, [](jack_status_t, const char*, void* self) { static_cast<JackReach*>(self)->gone_ = true; },
          this);
      if (jack_activate(client_) != 0) gone_ = true;
    }
  }
  ~JackReach() {
    // A client whose server has gone is closed as well: that frees it.
    if (client_) jack_client_close(client_);
  }
  JackReach(const JackReach&) = delete;
  JackReach& operator=(const JackReach&) = delete;

  // The reason a send cannot arrive, or empty.
  std::string Unreachable() const {
    if (!client_ || gone_.load()) return "the JACK server has stopped";
    if (!destination_.empty() && !jack_port_by_name(client_, destination_.c_str()))
      return "MIDI port " + destination_ + " is gone";
    return {};
  }

 private:
  std::string destination_;
  jack_client_t* client_ = nullptr;
  std::atomic<bool> gone_{false};
};

class RtOutPort final : public MidiOutPort {
 public:
  ~RtOutPort() override { Close(); }

  RtMidiOut* Create(RtMidi::Api api, const std::string& clientName) {
    out_ = MakeRt<RtMidiOut>(api, clientName, trap_);
    return out_.get();
  }
  ErrorTrap& Trap() { return trap_; }

  // JACK outputs: what tells whether a send can still arrive.
  void WatchJack(const std::string& destination) { reach_ = std::make_unique<JackReach>(destination); }

  bool Send(std::span<const uint8_t> message) override {
    if (!out_ || message.empty() || message.size() > RtMidiSystem::kMaxMessageBytes) return false;
    trap_.Reset();
    if (reach_) {
      if (std::string why = reach_->Unreachable(); !why.empty()) {
        trap_.Raise(why);
        return false;
      }
    }
    try {
      out_->sendMessage(message.data(), message.size());
    } catch (...) {
      return false;
    }
    return !trap_.Raised();
  }
  size_t MaxMessageBytes() const override { return RtMidiSystem::kMaxMessageBytes; }
  void Close() override {
    if (!out_) return;
    try {
      out_->closePort();
    } catch (...) {
    }
    out_.reset();
    reach_.reset();
  }

 private:
  ErrorTrap trap_;
  std::unique_ptr<RtMidiOut> out_;
  std::unique_ptr<JackReach> reach_;
};

}  // namespace

std::vector<RtMidiBackend> CompiledRtMidiBackends() {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  std::vector<RtMidiBackend> backends;
  for (RtMidi::Api api : apis) {
    if (api == RtMidi::LINUX_ALSA) backends.push_back(RtMidiBackend::Alsa);
    if (api == RtMidi::UNIX_JACK) backends.push_back(RtMidiBackend::Jack);
  }
  return backends;
}

RtMidiSystem::RtMidiSystem(RtMidiBackend backend, std::string clientName)
    : backend_(backend), clientName_(std::move(clientName)) {
  if (backend_ == RtMidiBackend::Default) {
    // Asking RtMidi to pick would throw on a machine without the ALSA
    // sequencer device instead of trying JACK.
    std::error_code ec;
    const bool alsa = Compiled(RtMidiBackend::Alsa) && std::filesystem::exists("/dev/snd/seq", ec);
    backend_ = alsa ? RtMidiBackend::Alsa : RtMidiBackend::Jack;
  }
}

RtMidiSystem::~RtMidiSystem() = default;

void RtMidiSystem::SetError(const std::string& text) {
  std::lock_guard lock(mutex_);
  lastError_ = text;
}

std::string RtMidiSystem::LastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

std::vector<std::string> RtMidiSystem::InputNames() {
  ErrorTrap trap;
  auto in = MakeRt<RtMidiIn>(ToApi(backend_), clientName_, trap);
  std::vector<std::string> names = in ? PortNames(*in) : std::vector<std::string>{};
  if (auto error = trap.Raised()) SetError(*error);
  std::lock_guard lock(mutex_);
  listedInputs_ = names;
  return names;
}

std::vector<std::string> RtMidiSystem::OutputNames() {
  ErrorTrap trap;
  auto out = MakeRt<RtMidiOut>(ToApi(backend_), clientName_, trap);
  std::vector<std::string> names = out ? PortNames(*out) : std::vector<std::string>{};
  if (auto error = trap.Raised()) SetError(*error);
  std::lock_guard lock(mutex_);
  listedOutputs_ = names;
  return names;
}

std::optional<std::string> RtMidiSystem::Listed(const std::vector<std::string>& names, size_t index) const {
  std::lock_guard lock(mutex_);
  if (index >= names.size()) return std::nullopt;
  return names[index];
}

namespace {

// Opens the RtMidi object |rt| of |port|: on the port that was called |name|
// at |index| of the latest listing, or, without an index, as a virtual port
// named |name|. The error RtMidi reported, or nothing on success.
template <class Port, class Rt>
std::optional<std::string> OpenRt(Port& port, Rt* rt, std::optional<size_t> index, const std::string& name,
                                  const std::string& ownPortName) {
  if (!rt) return port.Trap().Raised().value_or("RtMidi could not start");
  port.Trap().Reset();
  try {
    if (!index) {
      rt->openVirtualPort(name);
    } else if (std::optional<unsigned> now = FindPort(*rt, *index, name)) {
      rt->openPort(*now, ownPortName);
    } else {
      port.Trap().Raise("MIDI port " + name + " is gone");
    }
  } catch (...) {
    port.Trap().Raise("RtMidi could not open " + name);
  }
  return port.Trap().Raised();
}

}  // namespace

std::unique_ptr<MidiInPort> RtMidiSystem::OpenInput(size_t index, MidiInputCallback callback) {
  const std::optional<std::string> name = Listed(listedInputs_, index);
  if (!name) return nullptr;
  return OpenIn(index, *name, std::move(callback));
}

std::unique_ptr<MidiInPort> RtMidiSystem::OpenVirtualInput(const std::string& portName, MidiInputCallback callback) {
  return OpenIn(std::nullopt, portName, std::move(callback));
}

std::unique_ptr<MidiInPort> RtMidiSystem::OpenIn(std::optional<size_t> index, const std::string& name,
                                                 MidiInputCallback callback) {
  auto port = std::make_unique<RtInPort>(std::move(callback));
  RtMidiIn* in = port->Create(ToApi(backend_), clientName_);
  if (auto error = OpenRt(*port, in, index, name, clientName_ + " in")) {
    SetError(*error);
    return nullptr;
  }
  return port;
}

std::unique_ptr<MidiOutPort> RtMidiSystem::OpenOutput(size_t index) {
  const std::optional<std::string> name = Listed(listedOutputs_, index);
  if (!name) return nullptr;
  return OpenOut(index, *name);
}

std::unique_ptr<MidiOutPort> RtMidiSystem::OpenVirtualOutput(const std::string& portName) {
  return OpenOut(std::nullopt, portName);
}

std::unique_ptr<MidiOutPort> RtMidiSystem::OpenOut(std::optional<size_t> index, const std::string& name) {
  auto port = std::make_unique<RtOutPort>();
  RtMidiOut* out = port->Create(ToApi(backend_), clientName_);
  if (auto error = OpenRt(*port, out, index, name, clientName_ + " out")) {
    SetError(*error);
    return nullptr;
  }
  if (backend_ == RtMidiBackend::Jack) port->WatchJack(index ? name : std::string());
  return port;
}

}  // namespace zandrel
