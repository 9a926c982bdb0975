#include "platform/rtaudio/jack_stream.h"

#include <jack/jack.h>

#include <algorithm>
#include <cstring>

namespace zandrel {
namespace {

jack_client_t* Client(void* c) { return static_cast<jack_client_t*>(c); }
jack_port_t* Port(void* p) { return static_cast<jack_port_t*>(p); }

// The names of |device|'s audio ports that carry |flags| (JackPortIsInput
// for where we play to, JackPortIsOutput for what we capture), in the
// server's order.
std::vector<std::string> DevicePorts(jack_client_t* client, const std::string& device, unsigned long flags) {
  std::vector<std::string> out;
  const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, flags);
  if (!ports) return out;
  const std::string prefix = device + ":";
  for (const char** p = ports; *p; ++p)
    if (std::strncmp(*p, prefix.c_str(), prefix.size()) == 0) out.emplace_back(*p);
  jack_free(ports);
  return out;
}

}  // namespace

JackStream::~JackStream() { Close(); }

bool JackStream::Open(const std::string& clientName, const std::string& device, int inputs, int outputs,
                      ProcessFn process, void* user, std::string& error) {
  Close();
  shutDown_.store(false);
  jack_status_t status{};
  jack_client_t* client = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
  if (!client) {
    error = "the JACK server is not running";
    return false;
  }
  client_ = client;
  process_ = process;
  user_ = user;
  rate_ = jack_get_sample_rate(client);
  auto fail = [&](std::string why) {
    error = std::move(why);
    Close();
    return false;
  };
  for (int i = 0; i < inputs; ++i) {
    const std::string name = "in_" + std::to_string(i + 1);
    jack_port_t* port = jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    if (!port) return fail("cannot register a JACK input port");
    inPorts_.push_back(port);
  }
  for (int i = 0; i < outputs; ++i) {
    const std::string name = "out_" + std::to_string(i + 1);
    jack_port_t* port = jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    if (!port) return fail("cannot register a JACK output port");
    outPorts_.push_back(port);
  }
  inBuffers_.assign(inPorts_.size(), nullptr);
  outBuffers_.assign(outPorts_.size(), nullptr);
  inScratch_.assign(kChunkFrames * inPorts_.size(), 0.0f);
  outScratch_.assign(kChunkFrames * outPorts_.size(), 0.0f);

  const uint32_t period = jack_get_buffer_size(client);
  quiet_ = QuietLimit(period, rate_);
  jack_set_process_callback(client, &JackStream::Process, this);
  jack_on_info_shutdown(
      client, [](jack_status_t code, const char* reason, void* self) { Shutdown(code, reason, self); }, this);
  pulse_.Restart();
  if (jack_activate(client) != 0) return fail("cannot start the JACK client");

  // Wire our ports to the device's, as far as both have ports.
  const std::vector<std::string> sources = DevicePorts(client, device, JackPortIsOutput);
  const std::vector<std::string> sinks = DevicePorts(client, device, JackPortIsInput);
  if ((inputs > 0 && sources.empty()) || (outputs > 0 && sinks.empty()))
    return fail("no JACK device \"" + device + "\"");
  for (size_t i = 0; i < inPorts_.size() && i < sources.size(); ++i)
    jack_connect(client, sources[i].c_str(), jack_port_name(Port(inPorts_[i])));
  for (size_t i = 0; i < outPorts_.size() && i < sinks.size(); ++i)
    jack_connect(client, jack_port_name(Port(outPorts_[i])), sinks[i].c_str());

  jack_latency_range_t range{0, 0};
  if (!outPorts_.empty())
    jack_port_get_latency_range(Port(outPorts_[0]), JackPlaybackLatency, &range);
  else if (!inPorts_.empty())
    jack_port_get_latency_range(Port(inPorts_[0]), JackCaptureLatency, &range);
  latencyFrames_ = period + range.max;
  return true;
}

int JackStream::Process(uint32_t frames, void* arg) {
  auto* self = static_cast<JackStream*>(arg);
  self->pulse_.Beat();
  const size_t ins = self->inPorts_.size(), outs = self->outPorts_.size();
  for (size_t c = 0; c < ins; ++c)
    self->inBuffers_[c] = static_cast<float*>(jack_port_get_buffer(Port(self->inPorts_[c]), frames));
  for (size_t c = 0; c < outs; ++c)
    self->outBuffers_[c] = static_cast<float*>(jack_port_get_buffer(Port(self->outPorts_[c]), frames));
  for (size_t done = 0; done < frames;) {
    const size_t n = std::min<size_t>(kChunkFrames, frames - done);
    float* in = ins ? self->inScratch_.data() : nullptr;
    float* out = outs ? self->outScratch_.data() : nullptr;
    for (size_t f = 0; f < n; ++f)
      for (size_t c = 0; c < ins; ++c) in[f * ins + c] = self->inBuffers_[c][done + f];
    self->process_(self->user_, in, out, n);
    for (size_t f = 0; f < n; ++f)
      for (size_t c = 0; c < outs; ++c) self->outBuffers_[c][done + f] = out[f * outs + c];
    done += n;
  }
  return 0;
}

void JackStream::Shutdown(int, const char*, void* arg) {
  // libjack's own thread: only raise the flag. The owner closes the client.
  static_cast<JackStream*>(arg)->shutDown_.store(true, std::memory_order_release);
}

bool JackStream::Lost() const {
  if (!client_) return false;
  return shutDown_.load(std::memory_order_acquire) || pulse_.Silent(quiet_);
}

void JackStream::Close() {
  if (!client_) return;
  jack_client_t* client = Client(client_);
  // Deactivating joins the process thread; a client the server has shut
  // down has none left to join, and its server cannot answer.
  if (!shutDown_.load(std::memory_order_acquire)) jack_deactivate(client);
  jack_client_close(client);
  client_ = nullptr;
  inPorts_.clear();
  outPorts_.clear();
}

}  // namespace zandrel
