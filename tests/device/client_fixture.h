// A device client joined to a simulated device over MIDI ports in memory,
// for the tests of the client and of its transfers.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "device/device_client.h"
#include "document/instrument_chunks.h"
#include "link_fixture.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"

namespace zandrel::test {

// Interleaved 16-bit sine waves, channel c at (c + 1) x |hz|.
inline std::vector<int16_t> Sine(size_t frames, double hz, double rate, int channels = 1) {
  std::vector<int16_t> samples;
  samples.reserve(frames * static_cast<size_t>(channels));
  for (size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const double phase = 2 * std::numbers::pi * hz * (c + 1) * static_cast<double>(i) / rate;
      samples.push_back(static_cast<int16_t>(10000 * std::sin(phase)));
    }
  }
  return samples;
}

// A sample as the document saves it: 20000 frames at 44100 Hz with three
// regions, the second without a loop.
inline bool SaveThreeRegionSample(const std::filesystem::path& path) {
  CWavLoader wav;
  wav.format = {kWaveFormatPcm, 1, 44100, 88200, 2, 16};
  wav.data = Pcm16(Sine(20000, 440, 44100));
  InstrumentData instrument;
  instrument.hasInstrument = true;
  instrument.params.pitch = 2;
  instrument.params.pan = -3;
  instrument.params.amplitude = 90;
  instrument.params.attack = 10;
  instrument.params.release = 20;
  instrument.regions = {{0, 7000, 1000, 6000, 0, 59, 48}, {7000, 14000, -1, -1, 60, 71, 60},
                        {14000, 20000, 15000, 19000, 72, 127, 84}};
  WriteInstrumentChunk(wav.chunks, instrument, nullptr);
  return wav.Save(path, 0);
}

// Those regions once the sample is at 46875 Hz (21258 frames).
inline std::vector<Region> ThreeRegionsAt46875() {
  return {{0, 7440, 1062, 6377, 0, 59, 48}, {7440, 14880, -1, -1, 60, 71, 60}, {14880, 21258, 15943, 20195, 72, 127, 84}};
}

class SimClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.AttachTo(midi);
    client.SetConsole(&out, &err);
  }
  void TearDown() override {
    client.Disconnect();
    EXPECT_EQ(sim.FramingErrors(), 0);
    EXPECT_EQ(sim.SequenceErrors(), 0);
  }

  std::vector<Bytes> Payloads(int command) const { return RequestPayloads(sim, command); }
  size_t Count(int command) const { return Payloads(command).size(); }

  // A user sound with |data| as its audio and |metadata| as its metadata.
  void AddSound(uint16_t id, const std::string& name, const Bytes& data, const std::string& metadata = {},
                uint16_t parent = kSimSoundsDir) {
    sim.WithState([&](SimState& s) {
      SimFile& file = s.files.AddSound(id, name, static_cast<uint32_t>(data.size()), metadata);
      file.parent = parent;
      file.data = data;
    });
  }

  void SetDeviceInfo(const std::string& json) {
    sim.WithState([&](SimState& s) { s.files.Find(kSimSoundsDir)->metadata = json; });
  }

  TempDir dir;
  ScriptedMessageHost host;  // boxes of the WAV loader
  MemoryMidiSystem midi;
  SimDevice sim;
  ConsoleCapture out;
  ConsoleCapture err;
  CEPDeviceClient client{&midi};  // last: closed before everything it uses goes
};

}  // namespace zandrel::test
