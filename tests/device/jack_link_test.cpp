// The link and the client's transfers over real MIDI ports: RtMidi on a JACK
// server, with the simulated device behind virtual ports named "EP-133 ...". scripts/jack.sh starts a
// private server (JACK_DEFAULT_SERVER names it); without a server every test
// here is skipped, saying so.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>
#include <atomic>

#include "client_fixture.h"
#include "device/device_manager_model.h"
#include "device/sysex_link.h"
#include "link_fixture.h"
#include "platform/rtmidi/rtmidi_system.h"
#include "platform/text_format.h"
#include "support/jack_probe.h"
#include "support/private_jack.h"
#include "support/sim_device/sim_rtmidi.h"

namespace zandrel::test {
namespace {

#define SKIP_WITHOUT_JACK() ZANDREL_REQUIRE_JACK_SERVER()

TEST(RtMidiBuild, HasTheJackBackEnd) {
  const std::vector<RtMidiBackend> backends = CompiledRtMidiBackends();
  EXPECT_NE(std::find(backends.begin(), backends.end(), RtMidiBackend::Jack), backends.end());
}

// The simulated device behind JACK ports, and |Endpoint| (a link or a
// client) on this program's side.
template <class Endpoint>
class JackSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_JACK();
    ports = std::make_unique<SimRtMidiPorts>(sim, RtMidiBackend::Jack);
    ASSERT_TRUE(ports->Ok()) << ports->Error();
    endpoint.SetConsole(&out, &err);
  }
  void TearDown() override {
    endpoint.CloseLink();
    ports.reset();
  }

  SimDevice sim;
  std::unique_ptr<SimRtMidiPorts> ports;
  RtMidiSystem midi{RtMidiBackend::Jack, "Zandrel"};
  ConsoleCapture out;
  ConsoleCapture err;
  Endpoint endpoint{&midi};
};

class JackLinkTest : public JackSimTest<CEPSysExLink> {
 protected:
  void SetUp() override {
    JackSimTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    sim.WithState([](SimState& s) {
      s.files.AddSound(1, "001 kick.pcm", 4000, R"({"name":"kick","sound.rootnote":60})");
      s.files.AddSound(2, "002 snare.pcm", 6000, R"({"name":"snare"})");
      s.files.AddSound(300, "300 pad.pcm", 90000, std::string(700, 'm'));
    });
  }

  CEPSysExLink& link = endpoint;
};

TEST_F(JackLinkTest, IdentityListingAndMetadataOverRealPorts) {
  ASSERT_TRUE(link.OpenLink()) << midi.LastError();
  ASSERT_TRUE(link.InitDevice());
  EXPECT_EQ(link.MaxMessageSize(), 65536u);
  // The identity reply left the device before the init reply, so it is here
  // now even on a machine too slow to answer within the opening's 200 ms.
  EXPECT_EQ(link.Sku(), "TE133AS007");

  const std::vector<EPFileEntry> root = link.ListDirectory(0);
  ASSERT_EQ(root.size(), 2u);
  EXPECT_EQ(root[0].name, "sounds");
  EXPECT_EQ(link.FindProjectsDirectory(), kSimProjectsDir);

  const std::vector<EPFileEntry> sounds = link.ListDirectory(kSimSoundsDir);
  ASSERT_EQ(sounds.size(), 3u);
  EXPECT_EQ(sounds[2], (EPFileEntry{300, kSimSoundsDir, 90000, kSimFlagUser, "300 pad.pcm"}));
  EXPECT_EQ(link.GetMetadataPages(1), R"({"name":"kick","sound.rootnote":60})");
  EXPECT_EQ(link.GetMetadataPages(300), std::string(700, 'm'));  // four pages
  EXPECT_TRUE(link.SetMetadata(2, std::string(300, 's')));
  EXPECT_EQ(link.GetMetadataPages(2), std::string(300, 's'));
  EXPECT_TRUE(link.CheckFreeSpace(1000, kSimSoundsDir));
  EXPECT_EQ(err.Text(), "");
  EXPECT_EQ(sim.FramingErrors(), 0);
  EXPECT_EQ(sim.SequenceErrors(), 0);
}

TEST_F(JackLinkTest, NoFrameLongerThanJackCarriesIsSent) {
  // RtMidi's JACK output drops messages above 16379 bytes without a word;
  // the link refuses to send them instead of waiting for a reply that
  // cannot come.
  ASSERT_TRUE(link.OpenLink()) << midi.LastError();
  link.SendRequest(Bytes(14322, 0x2A));  // a 16378-byte frame
  ASSERT_TRUE(sim.WaitForRequests(1, kTestDeadline));
  EXPECT_EQ(sim.Requests()[0].frame.size(), 16378u);
  EXPECT_EQ(sim.Requests()[0].payload, Bytes(14322, 0x2A));

  const uint16_t seq = link.SendRequest(Bytes(14323, 0x2A));  // 16380 bytes
  EPReply reply;
  EXPECT_FALSE(link.WaitReply(seq, reply, CEPSysExLink::kReplyLimitMs));
  EXPECT_EQ(err.Text(), "[Error] Request of 16380 bytes exceeds the MIDI port's limit of 16379 bytes; not sent.\n");
  EXPECT_TRUE(sim.WaitUntilIdle(kTestDeadline));
  EXPECT_EQ(sim.Requests().size(), 1u);
}

TEST_F(JackLinkTest, ClosingWhileTheDeviceSendsIsClean) {
  ASSERT_TRUE(link.OpenLink()) << midi.LastError();
  EventRecorder events;
  link.SetEventCallback([&](const EPDeviceEvent& event) { events.Record(event); });
  for (uint8_t i = 0; i < 50; ++i) sim.SendEvent({0x0A, i, 0x00});
  ASSERT_TRUE(events.WaitForCount(1));
  link.CloseLink();
  const size_t seen = events.Events().size();
  for (uint8_t i = 0; i < 20; ++i) sim.SendEvent({0x0A, i, 0x00});
  ASSERT_TRUE(sim.WaitUntilIdle(kTestDeadline));
  EXPECT_EQ(events.Events().size(), seen);
}

// The client's transfers over the same ports: a sound with regions up and
// down again, and a 1 MB upload whose cost on the wire is reported.
class JackClientTest : public JackSimTest<CEPDeviceClient> {
 protected:
  TempDir dir;
  CEPDeviceClient& client = endpoint;
};

TEST_F(JackClientTest, UploadAndDownloadOverRealPorts) {
  ASSERT_TRUE(SaveThreeRegionSample(dir / "Kick.wav"));
  ASSERT_TRUE(client.ConnectAndLoadSlots()) << client.LastError() << midi.LastError();
  ASSERT_EQ(client.UploadSound(dir / "Kick.wav", 0, false), EPUploadResult::Uploaded) << client.LastError();
  EXPECT_EQ(client.Slots()[0].displayName, "Kick");
  const Bytes stored = sim.WithState([](SimState& s) { return s.files.Find(1)->data; });
  EXPECT_EQ(stored.size(), 42516u);

  client.Disconnect();
  ASSERT_TRUE(client.Connect()) << client.LastError();
  ASSERT_TRUE(client.DownloadSound(1, dir / "down.wav")) << client.LastError();
  CWavLoader down;
  ASSERT_TRUE(down.Load(dir / "down.wav"));
  EXPECT_EQ(down.format.nSamplesPerSec, 46875u);
  EXPECT_EQ(down.data, stored);
  InstrumentData reopened;
  ParseInstrumentChunk(down.chunks, down.FrameCount(), reopened, nullptr);
  EXPECT_EQ(reopened.regions, ThreeRegionsAt46875());
  EXPECT_EQ(err.Text(), "");
  EXPECT_EQ(sim.FramingErrors(), 0);
  EXPECT_EQ(sim.SequenceErrors(), 0);
}

TEST_F(JackClientTest, OneMegabyteUpload) {
  constexpr size_t kFrames = 1 << 19;  // 1 MB of mono 16-bit audio, 11.2 s at 46875 Hz
  WriteFileBytes(dir / "Long.wav", MakePcm16Wav(Sine(kFrames, 440, 46875), 1, 46875));
  ASSERT_TRUE(client.ConnectAndLoadSlots()) << client.LastError() << midi.LastError();
  sim.ClearRequests();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(client.UploadSound(dir / "Long.wav", 0, false), EPUploadResult::Uploaded)
      << client.LastError() << "\n" << err.Text();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  size_t wireBytes = 0;
  size_t chunks = 0;
  for (const SimRequest& request : sim.Requests()) {
    if (request.Command() != kCmdUpload) continue;
    wireBytes += request.frame.size();
    chunks += request.payload[1] == 0x01 && request.payload.size() > 4 ? 1 : 0;
  }
  const double perByte = static_cast<double>(wireBytes) / (2 * kFrames);
  std::cout << Format("[ upload   ] %zu payload bytes in %zu chunks: %zu bytes on the wire (%.4f per payload byte), "
                      "%.2f s over JACK\n",
                      2 * kFrames, chunks, wireBytes, perByte, seconds);
  RecordProperty("wire_bytes_per_payload_byte", Format("%.4f", perByte));
  RecordProperty("upload_seconds", Format("%.2f", seconds));
  EXPECT_EQ(chunks, 256u);
  EXPECT_LT(perByte, 1.15);
  EXPECT_EQ(sim.WithState([](SimState& s) { return s.files.Find(1)->data; }), Pcm16(Sine(kFrames, 440, 46875)));

  client.Disconnect();
  ASSERT_TRUE(client.Connect()) << client.LastError();
  ASSERT_TRUE(client.DownloadSound(1, dir / "down.wav")) << client.LastError();
  CWavLoader down;
  ASSERT_TRUE(down.Load(dir / "down.wav"));
  EXPECT_EQ(down.data, Pcm16(Sine(kFrames, 440, 46875)));
}

// The server stops while a long upload is under way: the upload fails, says
// why, and returns; the device keeps what it had, and closing is clean.
TEST(JackUploadLoss, AServerThatStopsMidwayFailsTheUploadAndSaysWhy) {
  PrivateJackServer server;
  ZANDREL_START_PRIVATE_JACK(server);
  TempDir dir;
  constexpr size_t kFrames = 1 << 19;
  WriteFileBytes(dir / "Long.wav", MakePcm16Wav(Sine(kFrames, 440, 46875), 1, 46875));
  SimDevice sim;
  auto ports = std::make_unique<SimRtMidiPorts>(sim, RtMidiBackend::Jack);
  ASSERT_TRUE(ports->Ok()) << ports->Error();
  RtMidiSystem midi{RtMidiBackend::Jack, "Zandrel"};
  ConsoleCapture out, err;
  CEPDeviceClient client{&midi};
  client.SetConsole(&out, &err);
  ASSERT_TRUE(client.ConnectAndLoadSlots()) << client.LastError() << midi.LastError();
  sim.ClearRequests();

  // A quarter of the way through the upload, the server goes.
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    for (int i = 0; i < 60000 && !stopped; ++i) {
      size_t chunks = 0;
      for (const SimRequest& request : sim.Requests()) chunks += request.Command() == kCmdUpload ? 1 : 0;
      if (chunks >= 64) {
        server.Stop();
        stopped = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const EPUploadResult result = client.UploadSound(dir / "Long.wav", 0, false);
  stopper.join();
  ASSERT_TRUE(stopped) << "the upload ended before a quarter of it was sent";
  EXPECT_EQ(result, EPUploadResult::Failed);
  // The log's line says why (the device stopped answering, or its port is gone).
  const std::string failed = "Failed to upload file to device: ";
  EXPECT_EQ(client.LastError().rfind(failed, 0), 0u) << client.LastError();
  EXPECT_GT(client.LastError().size(), failed.size() + 4) << client.LastError();
  EXPECT_FALSE(sim.WithState([](SimState& s) { return s.files.Find(1) != nullptr; }))
      << "a partial upload was stored as a sound";
  client.Disconnect();  // closing returns
  ports.reset();
}

// A JACK MIDI output whose server or destination has gone refuses to send:
// a queued message would otherwise vanish as if it had been sent.
TEST(JackMidiOutLoss, SendFailsOnceTheDestinationOrTheServerIsGone) {
  PrivateJackServer server;
  ZANDREL_START_PRIVATE_JACK(server);
  const std::vector<uint8_t> noteOn{0x90, 60, 100};
  auto open = [](RtMidiSystem& sender, const std::string& client) -> std::unique_ptr<MidiOutPort> {
    const std::vector<std::string> names = sender.OutputNames();
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i].find(client) != std::string::npos) return sender.OpenOutput(i);
    return nullptr;
  };
  RtMidiSystem sender{RtMidiBackend::Jack, "zandrel-sender"};
  {
    // The destination's port closes: the next send fails.
    RtMidiSystem device{RtMidiBackend::Jack, "zandrel-vanishing"};
    auto in = device.OpenVirtualInput("keys", [](std::span<const uint8_t>) {});
    ASSERT_NE(in, nullptr) << device.LastError();
    auto out = open(sender, "zandrel-vanishing");
    ASSERT_NE(out, nullptr) << sender.LastError();
    EXPECT_TRUE(out->Send(noteOn));
    in->Close();
    EXPECT_FALSE(out->Send(noteOn));
  }
  // The server stops: the next send fails.
  RtMidiSystem device{RtMidiBackend::Jack, "zandrel-device"};
  auto in = device.OpenVirtualInput("keys", [](std::span<const uint8_t>) {});
  ASSERT_NE(in, nullptr) << device.LastError();
  auto out = open(sender, "zandrel-device");
  ASSERT_NE(out, nullptr) << sender.LastError();
  EXPECT_TRUE(out->Send(noteOn));
  server.Stop();
  bool refused = false;
  for (int i = 0; i < 2000 && !refused; ++i) {  // the shutdown reaches us from libjack's thread
    refused = !out->Send(noteOn);
    if (!refused) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(refused);
  out->Close();  // closing returns
  in->Close();
}

// The device manager's jobs over the same ports: connect, a sound's details
// with its preview and select notice, and its download.
struct ManagerEndpoint : CDeviceManagerModel {
  using CDeviceManagerModel::CDeviceManagerModel;
  void SetConsole(std::ostream* out, std::ostream* err) { Client().SetConsole(out, err); }
  void CloseLink() { Client().Disconnect(); }
};

class JackManagerTest : public JackSimTest<ManagerEndpoint> {
 protected:
  TempDir dir;
  ManagerEndpoint& model = endpoint;
};

TEST_F(JackManagerTest, ConnectPreviewAndDownloadOverRealPorts) {
  const Bytes audio = Pcm16(Sine(6000, 440, 46875));
  sim.WithState([&](SimState& s) {
    s.files.AddSound(1, "001 kick", static_cast<uint32_t>(audio.size()), R"({"name":"Kick","channels":1})").data =
        audio;
  });
  const ManagerOutcome connected = model.Connect();
  ASSERT_TRUE(connected.ok) << model.Client().LastError() << midi.LastError();
  const EPDeviceSnapshot snapshot = TakeSnapshot(model.Client());
  const ManagerListing listing = BuildManagerListing(snapshot);
  const auto row = std::find_if(listing.lines.begin(), listing.lines.end(),
                                [](const ManagerLine& line) { return line.text.starts_with("1     001 kick"); });
  ASSERT_NE(row, listing.lines.end()) << err.Text();
  const LineChoice choice = ChooseLine(listing, snapshot, static_cast<int>(row - listing.lines.begin()));

  const SelectionDetails details = model.LoadDetails(choice.selection, choice.metadataKnown);
  EXPECT_TRUE(details.previewRead);
  EXPECT_FALSE(details.preview.empty());
  EXPECT_EQ(sim.WithState([](SimState& s) { return s.lastSelected; }), 1);

  const ManagerOutcome downloaded = model.Download(choice.selection, dir / "Kick.wav");
  ASSERT_TRUE(downloaded.ok) << model.Client().LastError();
  CWavLoader wav;
  ASSERT_TRUE(wav.Load(dir / "Kick.wav"));
  EXPECT_EQ(wav.data, audio);
  EXPECT_EQ(sim.FramingErrors(), 0);
  EXPECT_EQ(sim.SequenceErrors(), 0);
}

}  // namespace
}  // namespace zandrel::test
