// The multisample robot on a real audio server: a simulated instrument (an
// RtMidi virtual input that sounds a sine at the note's pitch through an
// RtAudio output client while its note is held) is sampled note by note
// through RtMidi and RtAudioInput in real time. scripts/jack.sh starts a
// private server; without one the test is skipped, saying so.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

#include "platform/rtaudio/rtaudio_input.h"
#include "platform/rtaudio/rtaudio_output.h"
#include "platform/rtmidi/rtmidi_system.h"
#include "processing/pitch.h"
#include "processing/sample_access.h"
#include "support/jack_probe.h"
#include "support/private_jack.h"
#include "tools/sampling/multisample_run.h"

namespace zandrel {
namespace {

double NoteHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

// Sounds the held note as a sine at half scale; silence without one.
class SineVoice final : public AudioSource {
 public:
  uint32_t SampleRate() const override { return 44100; }
  int Channels() const override { return 1; }
  void Render(float* out, size_t frames) override {
    const int note = note_.load(std::memory_order_relaxed);
    const double step = note >= 0 ? 2 * std::numbers::pi * NoteHz(note) / 44100.0 : 0.0;
    for (size_t i = 0; i < frames; ++i) {
      out[i] = note >= 0 ? static_cast<float>(0.5 * std::sin(phase_)) : 0.0f;
      phase_ = std::fmod(phase_ + step, 2 * std::numbers::pi);
    }
  }
  std::atomic<int> note_{-1};

 private:
  double phase_ = 0.0;
};

// A simulated instrument (a MIDI input that sounds the held note through an
// audio output client) and the robot's ends of it, all named after
// |prefix|. Ready() tells whether every port was found; Why() what failed.
struct SimulatedRig {
  explicit SimulatedRig(const std::string& prefix)
      : instrumentMidi{RtMidiBackend::Jack, prefix + "-synth"},
        output{AudioBackend::kJack, prefix + "-voice"},
        outputScope(&output),
        robotMidi{RtMidiBackend::Jack, prefix},
        input(AudioBackend::kJack, prefix + "-capture") {
    voice = std::make_shared<SineVoice>();
    keys = instrumentMidi.OpenVirtualInput("keys", [this](std::span<const uint8_t> m) {
      {
        std::lock_guard<std::mutex> hold(lock);
        received.emplace_back(m.begin(), m.end());
      }
      if (m.size() == 3 && (m[0] & 0xF0) == 0x90 && m[2] > 0) voice->note_.store(m[1]);
      if (m.size() == 3 && (m[0] & 0xF0) == 0x80 && voice->note_.load() == m[1]) voice->note_.store(-1);
    });
    if (!keys) {
      why = instrumentMidi.LastError();
      return;
    }
    if (!CurrentAudioOutput().Join(voice, &why)) return;
    const std::vector<std::string> outputs = robotMidi.OutputNames();
    midiIndex = outputs.size();
    for (size_t i = 0; i < outputs.size(); ++i)
      if (outputs[i].find(prefix + "-synth") != std::string::npos) midiIndex = i;
    for (const AudioInputDevice& d : input.Devices())
      if (d.name.find(prefix + "-voice") != std::string::npos) identity = d.identity;
    if (midiIndex == outputs.size() || identity.empty()) why = "the instrument's ports were not listed";
  }
  ~SimulatedRig() { CurrentAudioOutput().Leave(voice.get()); }
  bool Ready() const { return why.empty(); }

  // The robot's setup for notes |from| to |to| every |interval|.
  MultisampleSetup Setup(int from, int to, int interval, double hold) {
    MultisampleSetup setup;
    setup.startNote = from;
    setup.endNote = to;
    setup.interval = interval;
    setup.velocity = 100;
    setup.holdSeconds = hold;
    setup.waitSeconds = 0.2;
    setup.midiSystem = &robotMidi;
    setup.midiOutput = midiIndex;
    setup.audioInput = &input;
    setup.audioIdentity = identity;
    return setup;
  }

  RtMidiSystem instrumentMidi;
  std::shared_ptr<SineVoice> voice;
  std::mutex lock;
  std::vector<std::vector<uint8_t>> received;
  std::unique_ptr<MidiInPort> keys;
  RtAudioOutput output;
  ScopedAudioOutput outputScope;
  RtMidiSystem robotMidi;
  RtAudioInput input;
  size_t midiIndex = 0;
  std::string identity;
  std::string why;
};

// Waits until |done| holds; a bound against a hang on a busy machine.
template <typename Done>
bool Within60s(Done done) {
  for (int i = 0; i < 6000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST(MultisampleJack, ThreeNotesFromASimulatedInstrumentAtTheirPitch) {
  ZANDREL_REQUIRE_JACK_SERVER();
  SimulatedRig rig("zandrel-robot");
  ASSERT_TRUE(rig.Ready()) << rig.why;
  MultisampleMidiOut midi;
  SteadyWaiter waiter;
  std::atomic<bool> done{false};
  MultisampleEvents events;
  events.done = [&] { done = true; };
  MultisampleRun run(midi, waiter, events);
  MultisampleSetup setup = rig.Setup(57, 69, 6, 0.6);
  setup.autoTrim = true;  // the server's latency comes off the front
  ASSERT_EQ(run.Start(setup), "");
  // About 2.4 s of notes; a loaded machine may stretch that a lot.
  ASSERT_TRUE(Within60s([&] { return done.load(); }));
  run.Join();

  const std::vector<Region>& regions = run.Regions();
  ASSERT_EQ(regions.size(), 3u);
  PcmSpan span;
  span.bytes = {reinterpret_cast<const uint8_t*>(run.Audio().data()), run.Audio().size() * 2};
  span.channels = 1;
  span.sampleRate = 44100;
  span.blockAlign = 2;
  span.bitsPerSample = 16;
  const int notes[] = {57, 63, 69};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(regions[i].rootNote, notes[i]);
    const int64_t length = regions[i].Length();
    EXPECT_GT(length, 44100 / 4) << notes[i];  // most of the 0.6 s hold
    // The middle half: the note's onset and the trim's edges stay out.
    const double hz = EstimatePitchYin(span, regions[i].startSample + length / 4, regions[i].endSample - length / 4);
    EXPECT_NEAR(hz, NoteHz(notes[i]), NoteHz(notes[i]) * 0.01) << notes[i];
  }
  EXPECT_EQ(regions[2].hiKey, 127);
  // A note-off for every note-on, each before the next note-on.
  std::lock_guard<std::mutex> hold(rig.lock);
  ASSERT_EQ(rig.received.size(), 6u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(rig.received[2 * i], (std::vector<uint8_t>{0x90, static_cast<uint8_t>(notes[i]), 100}));
    EXPECT_EQ(rig.received[2 * i + 1], (std::vector<uint8_t>{0x80, static_cast<uint8_t>(notes[i]), 0}));
  }
}

// The server stops while the robot holds its second note: the first note
// is kept, the broken one is not stored, the status names it, and the run
// ends and closes its devices.
TEST(MultisampleJack, AServerThatStopsDuringTheSecondNoteKeepsTheFirst) {
  test::PrivateJackServer server;
  ZANDREL_START_PRIVATE_JACK(server);
  SimulatedRig rig("zandrel-loss");
  ASSERT_TRUE(rig.Ready()) << rig.why;
  MultisampleMidiOut midi;
  SteadyWaiter waiter;
  std::atomic<bool> done{false};
  std::mutex lock;
  std::string status;
  MultisampleEvents events;
  events.done = [&] { done = true; };
  events.status = [&](std::string text, int, int) {
    std::lock_guard<std::mutex> hold(lock);
    status = std::move(text);
  };
  MultisampleRun run(midi, waiter, events);
  ASSERT_EQ(run.Start(rig.Setup(57, 69, 6, 1.0)), "");
  ASSERT_TRUE(Within60s([&] { return run.CurrentNote() == 63 || done; }));
  ASSERT_EQ(run.CurrentNote(), 63);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  server.Stop();
  ASSERT_TRUE(Within60s([&] { return done.load(); }));
  run.Join();

  ASSERT_EQ(run.Regions().size(), 1u);
  EXPECT_EQ(run.Regions()[0].rootNote, 57);
  EXPECT_GT(run.Regions()[0].Length(), 44100 / 2);  // most of its one-second hold
  EXPECT_EQ(run.Audio().size(), static_cast<size_t>(run.Regions()[0].Length()));
  std::lock_guard<std::mutex> hold(lock);
  EXPECT_NE(status.find("while recording note D#4. 1 note kept."), std::string::npos) << status;
  EXPECT_EQ(status.rfind("Error: ", 0), 0u) << status;
}

}  // namespace
}  // namespace zandrel
