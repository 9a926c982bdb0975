// The real-time synth on a real audio server: note-ons arrive through an
// RtMidi input port from a JACK client of the test, the synth plays through
// RtAudio, and the same client records what the server plays. scripts/jack.sh
// starts a private server; without one the test is skipped, saying so.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "platform/rtaudio/rtaudio_output.h"
#include "platform/rtmidi/rtmidi_system.h"
#include "support/jack_probe.h"
#include "tools/kit_fixture.h"
#include "tools/realtime_synth.h"

namespace zandrel {
namespace {

using Clock = std::chrono::steady_clock;

// A JACK client with one MIDI output (the keys) and one audio input (the
// recorder). Its process callback sends the one pending message and appends
// the input to a buffer sized beforehand.
class Probe {
 public:
  Probe() {
    client_ = jack_client_open("zandrel-synth-probe", JackNoStartServer, nullptr);
    if (!client_) return;
    keys_ = jack_port_register(client_, "keys", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    in_ = jack_port_register(client_, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    recorded_.assign(static_cast<size_t>(jack_get_sample_rate(client_)) * 4, 0.0f);
    jack_set_process_callback(client_, [](jack_nframes_t n, void* self) { return static_cast<Probe*>(self)->Process(n); },
                              this);
    ok_ = keys_ && in_ && jack_activate(client_) == 0;
  }
  ~Probe() {
    if (client_) {
      jack_deactivate(client_);
      jack_client_close(client_);
    }
  }
  bool Ok() const { return ok_; }
  jack_client_t* Client() const { return client_; }
  void Send(uint8_t status, uint8_t note, uint8_t velocity) {
    pending_.store(status << 16 | note << 8 | velocity);
    while (pending_.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void Record(bool on) { recording_.store(on); }
  std::vector<float> Recorded() const {
    return std::vector<float>(recorded_.begin(), recorded_.begin() + static_cast<long>(written_.load()));
  }

 private:
  int Process(jack_nframes_t n) {
    void* midi = jack_port_get_buffer(keys_, n);
    jack_midi_clear_buffer(midi);
    if (const int m = pending_.load()) {
      const jack_midi_data_t bytes[3] = {static_cast<jack_midi_data_t>(m >> 16), static_cast<jack_midi_data_t>(m >> 8),
                                         static_cast<jack_midi_data_t>(m)};
      jack_midi_event_write(midi, 0, bytes, 3);
      pending_.store(0);
    }
    if (recording_.load()) {
      const auto* in = static_cast<const float*>(jack_port_get_buffer(in_, n));
      size_t w = written_.load();
      for (jack_nframes_t i = 0; i < n && w < recorded_.size(); ++i) recorded_[w++] = in[i];
      written_.store(w);
    }
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* keys_ = nullptr;
  jack_port_t* in_ = nullptr;
  bool ok_ = false;
  std::atomic<int> pending_{0};
  std::atomic<bool> recording_{false};
  std::vector<float> recorded_;
  std::atomic<size_t> written_{0};
};

double Peak(const std::vector<float>& x, size_t from, size_t to) {
  double peak = 0;
  for (size_t i = from; i < to && i < x.size(); ++i) peak = std::max(peak, std::fabs(static_cast<double>(x[i])));
  return peak;
}

double Frequency(const std::vector<float>& x, size_t from, size_t to, double rate) {
  std::vector<size_t> ups;
  for (size_t i = from + 1; i < to; ++i)
    if (x[i - 1] < 0 && x[i] >= 0) ups.push_back(i);
  if (ups.size() < 2) return 0;
  return rate * static_cast<double>(ups.size() - 1) / static_cast<double>(ups.back() - ups.front());
}

TEST(SynthJack, PlaysTheRegionAnOctaveUpWhileTheKeyIsHeld) {
  ZANDREL_REQUIRE_JACK_SERVER();
  const uint32_t rate = test::JackServerRate();
  Probe probe;
  ASSERT_TRUE(probe.Ok());
  // A 480-cycle-per-second sine at the server's rate, root 60, looped.
  const double hz = rate / 100.0;
  const CWavLoader audio = test::MakeKitAudio(test::Sine(rate, hz, rate, 0.5), 1, rate);
  Region region = test::MakeRegion(0, rate, 60);
  region.loopStart = 1000;
  region.loopEnd = 1000 + 100 * (rate / 200);  // whole cycles
  const InstrumentData inst = test::MakeInstrument({region});
  auto synth = std::make_shared<CRealTimeSynth>();
  synth->Bind(&audio, &inst, rate);

  RtMidiSystem midi{RtMidiBackend::Jack, "zandrel-synth-test"};
  const std::vector<std::string> inputs = midi.InputNames();
  size_t index = inputs.size();
  for (size_t i = 0; i < inputs.size(); ++i)
    if (inputs[i].find("zandrel-synth-probe") != std::string::npos) index = i;
  ASSERT_LT(index, inputs.size());
  std::unique_ptr<MidiInPort> port = midi.OpenInput(index, [&](std::span<const uint8_t> m) {
    if (m.size() != 3) return;
    if ((m[0] >> 4) == 0x9 && m[2] > 0) synth->NoteOn(m[1], m[2]);
    else if ((m[0] >> 4) == 0x8 || (m[0] >> 4) == 0x9) synth->NoteOff(m[1]);
  });
  ASSERT_NE(port, nullptr);

  RtAudioOutput output{AudioBackend::kJack, "zandrel-synth-out"};
  ScopedAudioOutput scope{&output};
  std::string error;
  ASSERT_TRUE(CurrentAudioOutput().Join(synth, &error)) << error;
  // Our output's ports into the recorder.
  const char** ports = jack_get_ports(probe.Client(), "zandrel-synth-out", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
  ASSERT_NE(ports, nullptr);
  ASSERT_EQ(jack_connect(probe.Client(), ports[0], "zandrel-synth-probe:in"), 0);
  jack_free(ports);

  probe.Record(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const size_t beforeOn = probe.Recorded().size();
  probe.Send(0x90, 72, 127);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const size_t beforeOff = probe.Recorded().size();
  probe.Send(0x80, 72, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  probe.Record(false);
  CurrentAudioOutput().Leave(synth.get());
  port->Close();

  const std::vector<float> x = probe.Recorded();
  ASSERT_GT(x.size(), beforeOff + rate / 5);
  EXPECT_LT(Peak(x, 0, beforeOn), 1e-4);  // silence before the key
  // The note sounds within the output's latency; measure well inside it.
  const size_t from = beforeOn + rate / 10, to = beforeOff;
  ASSERT_GT(to, from + rate / 10);
  EXPECT_NEAR(Frequency(x, from, to, rate), 2 * hz, 2 * hz * 0.01);  // an octave up
  EXPECT_NEAR(Peak(x, from, to), 0.5 * 0.8, 0.04);                    // the region's level after the 0.8 copy
  EXPECT_LT(Peak(x, beforeOff + rate / 8, x.size()), 1e-4);          // silence after the release
}

}  // namespace
}  // namespace zandrel
