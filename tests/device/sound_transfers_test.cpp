// Whole sounds and projects between files and the simulated device: upload
// at the device's rate with its metadata, download into a WAV file that
// reopens with the same regions, deletion, project backup, and what each of
// them refuses.
#include "device/sound_transfers.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "client_fixture.h"
#include "platform/text_format.h"
#include "processing/sinc_resampler.h"

namespace zandrel::test {
namespace {

// A WAV file whose instrument chunk has |regionCount| regions (the document
// itself keeps at most 8).
Bytes WavWithRegions(int regionCount, uint32_t rate = 46875) {
  std::string json = R"({"sample.mode":"multi","regions":[)";
  for (int i = 0; i < regionCount; ++i) {
    json += (i ? "," : "") + Format(R"({"sample.start":%d,"sample.end":%d,"sample.lokey":%d,"sample.hikey":%d})",
                                    i * 10, i * 10 + 10, i * 12, i * 12 + 11);
  }
  json += "]}";
  return WavBuilder()
      .Fmt(1, 1, rate, 16)
      .Chunk("LIST", ListInfo({{"TNGE", TngeBody(json)}}))
      .Data(Pcm16(Sine(200, 440, rate)))
      .Build();
}

class SoundTransferTest : public SimClientTest {
 protected:
  // Writes |bytes| as dir/|name| and returns the path.
  std::filesystem::path File(const std::string& name, const Bytes& bytes) {
    WriteFileBytes(dir / name, bytes);
    return dir / name;
  }
  SimFile Stored(uint16_t id) {
    return sim.WithState([&](SimState& s) { return s.files.Find(id) ? *s.files.Find(id) : SimFile{}; });
  }
  // The init JSON of the latest upload.
  std::string InitJson() const {
    const std::vector<Bytes> uploads = Payloads(kCmdUpload);
    for (auto it = uploads.rbegin(); it != uploads.rend(); ++it) {
      if ((*it)[1] != 0x00) continue;
      const auto name = std::find(it->begin() + 11, it->end(), uint8_t{0});
      return std::string(name + 1, std::find(name + 1, it->end(), uint8_t{0}));
    }
    return {};
  }
};

TEST_F(SoundTransferTest, UploadArrivesAtTheDeviceRateWithItsRegions) {
  ASSERT_TRUE(SaveThreeRegionSample(dir / "Kick.wav"));

  ASSERT_TRUE(client.ConnectAndLoadSlots());
  std::vector<int> progress;
  ASSERT_EQ(client.UploadSound(dir / "Kick.wav", 0, false, [&](int p) { progress.push_back(p); }),
            EPUploadResult::Uploaded)
      << client.LastError();
  EXPECT_EQ(client.LastError(), "");

  // The audio went through the shared converter to 46875 Hz.
  const std::vector<int16_t> source = Sine(20000, 440, 44100);
  std::vector<int16_t> converted;
  SincFilterSpec spec = SincFilterSpec::Best();
  ResampleSinc(spec, converted, source.data(), source.size(), 1, 44100.0 / 46875.0);
  ASSERT_EQ(converted.size(), 21258u);
  const SimFile stored = Stored(1);
  EXPECT_EQ(stored.data, Pcm16(converted));
  EXPECT_EQ(stored.name, "Kick");
  EXPECT_EQ(Payloads(kCmdUpload)[0],
            BuildSoundUploadInit(1, kSimSoundsDir, 42516, "Kick",
                                 R"({"name":"Kick","format":"pcm","channels":1,"samplerate":46875,"sample.mode":"multi"})"));
  EXPECT_EQ(stored.metadata,
            R"({"sound.playmode":"key","sound.pitch":2,"sound.pan":-3,"sound.amplitude":90,"envelope.attack":10,)"
            R"("envelope.release":20,"time.mode":"off","sample.mode":"multi","sound.rootnote":60,"regions":[)"
            R"({"sample.start":0,"sample.end":7440,"sound.loopstart":1062,"sound.loopend":6377,"sample.lokey":0,)"
            R"("sample.hikey":59,"sound.rootnote":48},)"
            R"({"sample.start":7440,"sample.end":14880,"sample.lokey":60,"sample.hikey":71,"sound.rootnote":60},)"
            R"({"sample.start":14880,"sample.end":21258,"sound.loopstart":15943,"sound.loopend":20195,)"
            R"("sample.lokey":72,"sample.hikey":127,"sound.rootnote":84}],)"
            R"("format":"pcm","channels":1,"samplerate":46875,"name":"Kick"})");
  ASSERT_FALSE(progress.empty());
  EXPECT_GE(progress.front(), 70);
  EXPECT_EQ(progress.back(), 95);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  // The slot was read back from the device.
  EXPECT_TRUE(client.Slots()[0].occupied);
  EXPECT_EQ(client.Slots()[0].displayName, "Kick");
  EXPECT_EQ(client.Slots()[0].size, 42516u);

  // Downloaded again, the file reopens with the same regions at 46875 Hz.
  ASSERT_TRUE(client.DownloadSound(1, dir / "down.wav")) << client.LastError();
  CWavLoader down;
  ASSERT_TRUE(down.Load(dir / "down.wav"));
  EXPECT_EQ(down.format, (PcmFormat{kWaveFormatPcm, 1, 46875, 93750, 2, 16}));
  EXPECT_EQ(down.data, stored.data);
  InstrumentData reopened;
  ParseInstrumentChunk(down.chunks, down.FrameCount(), reopened, nullptr);
  EXPECT_EQ(reopened.regions, ThreeRegionsAt46875());
  EXPECT_EQ(reopened.params.pitch, 2);
  EXPECT_EQ(reopened.params.pan, -3);
  EXPECT_EQ(reopened.params.release, 20);
}

TEST_F(SoundTransferTest, TheSlotIsChosenOrChecked) {
  AddSound(1, "001.pcm", Bytes(10), R"({"name":"One"})");
  AddSound(2, "002.pcm", Bytes(10), R"({"name":"Two"})");
  ASSERT_TRUE(client.Connect());
  const auto wav = File("Snare.wav", MakePcm16Wav(Sine(100, 440, 46875), 1, 46875));

  ASSERT_EQ(client.UploadSound(wav, 0, false), EPUploadResult::Uploaded);
  EXPECT_EQ(Stored(3).name, "Snare");
  EXPECT_TRUE(client.Slots()[2].occupied);

  struct Case {
    int slot;
    std::string error;
  };
  const Case cases[] = {
      {1000, "Invalid slot ID. Must be between 1 and 999, or 0 for auto-assign."},
      {-1, "Invalid slot ID. Must be between 1 and 999, or 0 for auto-assign."},
      {2, "Slot 2 is already occupied by 'Two'. Set overwriteIfOccupied=true to replace it."},
  };
  sim.ClearRequests();
  for (const Case& c : cases) {
    EXPECT_EQ(client.UploadSound(wav, c.slot, false), EPUploadResult::Failed);
    EXPECT_EQ(client.LastError(), c.error);
  }
  EXPECT_TRUE(sim.Requests().empty());
  EXPECT_EQ(client.UploadSound(wav, 2, true), EPUploadResult::Uploaded);
  EXPECT_EQ(Stored(2).name, "Snare");
}

TEST_F(SoundTransferTest, AFullDeviceHasNoSlotToChoose) {
  sim.WithState([](SimState& s) {
    for (uint16_t slot = 1; slot <= 999; ++slot) s.files.AddSound(slot, "x", 2);
  });
  ASSERT_TRUE(client.ConnectAndLoadSlots());
  EXPECT_EQ(client.UploadSound(File("a.wav", MakePcm16Wav({1, 2})), 0, false), EPUploadResult::Failed);
  EXPECT_EQ(client.LastError(), "No empty slots available (all 999 slots are occupied)");
}

TEST_F(SoundTransferTest, AnUnansweredSlotIsNeverChosenAsFree) {
  AddSound(1, "001.pcm", Bytes(10), R"({"name":"One"})");
  ASSERT_TRUE(client.ConnectAndLoadSlots());
  client.SetTimeScale(kShortScale);
  sim.InjectFault({.kind = SimFaultKind::NoReply, .command = kSimCmdFileInfo});
  client.ProcessAsyncEvents(1);
  EXPECT_TRUE(client.Slots()[0].occupied);
  ASSERT_EQ(client.UploadSound(File("b.wav", MakePcm16Wav({1, 2}, 1, 46875)), 0, false), EPUploadResult::Uploaded);
  EXPECT_EQ(Stored(1).name, "001.pcm");  // untouched
  EXPECT_EQ(Stored(2).name, "b");
}

TEST_F(SoundTransferTest, TheDeviceFormatDecidesTheRate) {
  struct Case {
    const char* deviceInfo;
    Bytes wav;
    uint32_t rate;
    Bytes data;  // empty: resampled
  };
  const Bytes pcm = Pcm16(Sine(300, 440, 44100, 2));
  const Bytes pcm24 = Cat({{0, 1, 2}, {0, 3, 4}, {0, 0xFF, 0xFF}, {0, 0x00, 0x80}});
  const Case cases[] = {
      // No "formats": 46875 Hz; a file at that rate goes unchanged.
      {R"({"free_space_in_bytes":9000000})", MakePcm16Wav(Sine(300, 440, 46875), 1, 46875), 46875,
       Pcm16(Sine(300, 440, 46875))},
      {R"({"free_space_in_bytes":9000000})", MakePcm16Wav(Sine(300, 440, 44100), 1, 44100), 46875, {}},
      // A 24-bit stereo file at the device's rate: 16-bit stereo, no conversion of the rate.
      {R"({"free_space_in_bytes":9000000})", WavBuilder().Fmt(1, 2, 46875, 24).Data(pcm24).Build(), 46875,
       Bytes{1, 2, 3, 4, 0xFF, 0xFF, 0x00, 0x80}},
      {R"({"free_space_in_bytes":9000000,"formats":[{"type":"pcm","formats":[{"samplerate.range":[22050,48000]}]}]})",
       MakePcm16Wav(Sine(300, 440, 44100, 2), 2, 44100), 44100, pcm},
      {R"({"free_space_in_bytes":9000000,"formats":[{"type":"pcm","formats":[{"samplerate.native":-1}]}]})",
       MakePcm16Wav(Sine(300, 440, 46875), 1, 46875), 46875, Pcm16(Sine(300, 440, 46875))},
  };
  int slot = 1;
  for (const Case& c : cases) {
    SetDeviceInfo(c.deviceInfo);
    client.Disconnect();
    ASSERT_TRUE(client.ConnectAndLoadSlots());
    ASSERT_EQ(client.UploadSound(File("s.wav", c.wav), slot, false), EPUploadResult::Uploaded) << client.LastError();
    EXPECT_EQ(ParseDeviceJson(InitJson())["samplerate"], c.rate) << c.deviceInfo;
    if (!c.data.empty()) {
      EXPECT_EQ(Stored(static_cast<uint16_t>(slot)).data, c.data) << c.deviceInfo;
    }
    ++slot;
  }
  EXPECT_EQ(ParseDeviceJson(InitJson())["channels"], 1);
}

TEST_F(SoundTransferTest, TheDeviceChannelListDoesNotRefuseAFile) {
  struct Case {
    const char* deviceInfo;
    int channels;
  };
  const Case cases[] = {
      {R"({"free_space_in_bytes":9000000,"formats":[{"formats":[{"samplerate.native":46875,"channels":[1]}]}]})", 2},
      {R"({"free_space_in_bytes":9000000})", 6},
  };
  uint16_t slot = 1;
  for (const Case& c : cases) {
    SetDeviceInfo(c.deviceInfo);
    client.Disconnect();
    ASSERT_TRUE(client.ConnectAndLoadSlots());
    const Bytes pcm = Pcm16(Sine(50, 440, 46875, c.channels));
    ASSERT_EQ(client.UploadSound(File("c.wav", WavBuilder().Fmt(1, static_cast<uint16_t>(c.channels), 46875, 16)
                                                   .Data(pcm)
                                                   .Build()),
                                 slot, false),
              EPUploadResult::Uploaded)
        << client.LastError();
    EXPECT_EQ(ParseDeviceJson(InitJson())["channels"], c.channels);
    EXPECT_EQ(Stored(slot).data, pcm);
    ++slot;
  }
}

TEST_F(SoundTransferTest, AudioThatCannotBeSentHonestlyIsRefused) {
  const Bytes mono = Pcm16({1, 2, 3, 4});
  struct Case {
    Bytes wav;
    std::string error;
  };
  const Case cases[] = {
      {WavBuilder().Fmt(1, 0, 46875, 16, 2).Data(mono).Build(), "Invalid WAV file: it declares no channels."},
      {WavBuilder().Fmt(1, 1, 0, 16).Data(mono).Build(), "Invalid WAV file: it declares a sample rate of 0 Hz."},
      {WavBuilder().Fmt(3, 1, 46875, 64).Data(Bytes(32, 0)).Build(),
       "Unsupported audio format: only PCM audio that converts to 16-bit samples can be uploaded."},
      {WavBuilder().Fmt(2, 1, 46875, 4, 256).Data(Bytes(256, 0)).Build(),
       "Unsupported audio format: only PCM audio that converts to 16-bit samples can be uploaded."},
      {WavBuilder().Fmt(1, 1, 46875, 16, 4).Data(mono).Build(),
       "Unsupported audio format: only PCM audio that converts to 16-bit samples can be uploaded."},
      {WavBuilder().Fmt(1, 1, 4, 16).Data(mono).Build(), "Failed to convert the audio from 4 Hz to 46875 Hz."},
  };
  ASSERT_TRUE(client.ConnectAndLoadSlots());
  for (const Case& c : cases) {
    sim.ClearRequests();
    EXPECT_EQ(client.UploadSound(File("bad.wav", c.wav), 0, false), EPUploadResult::Failed);
    EXPECT_EQ(client.LastError(), c.error);
    EXPECT_EQ(Count(kCmdUpload), 0u) << c.error;
  }

  // Not a WAV file: the loader says so in a box, the upload in its error.
  EXPECT_EQ(client.UploadSound(File("text.wav", Text("hello")), 0, false), EPUploadResult::Failed);
  EXPECT_EQ(client.LastError(), "Failed to load WAV file. Ensure it's a valid RIFF WAVE file.");
  EXPECT_EQ(host.Texts(), std::vector<std::string>{"This is not a valid RIFF file."});


  // Formats without variants, or not readable.
  for (const char* info : {R"({"formats":[{"type":"pcm"}]})", R"({"formats":[{"formats":[{"samplerate.range":["a",1]}]}]})"}) {
    SetDeviceInfo(info);
    client.Disconnect();
    ASSERT_TRUE(client.ConnectAndLoadSlots());
    EXPECT_EQ(client.UploadSound(File("m.wav", MakePcm16Wav({1, 2}, 1, 46875)), 0, false), EPUploadResult::Failed);
    EXPECT_EQ(client.LastError(), "Failed to get device audio format capabilities");
  }
}

TEST_F(SoundTransferTest, StrictAdherenceLimitsTheLength) {
  ASSERT_TRUE(client.ConnectAndLoadSlots());
  const auto exact = File("exact.wav", MakePcm16Wav(std::vector<int16_t>(937500, 7), 1, 46875));  // 20.0 s
  const auto over = File("over.wav", MakePcm16Wav(std::vector<int16_t>(937501, 7), 1, 46875));
  EXPECT_EQ(client.UploadSound(exact, 0, false), EPUploadResult::Uploaded) << client.LastError();
  EXPECT_EQ(Stored(1).data.size(), 1875000u);
  EXPECT_EQ(client.UploadSound(over, 0, false), EPUploadResult::Failed);
  EXPECT_EQ(client.LastError(),
            "Sample too long! Duration: 20.0s. Maximum allowed: 20s.\nDisable strict adherence to bypass this check.");
  client.SetStrictAdherence(false);
  EXPECT_EQ(client.UploadSound(over, 0, false), EPUploadResult::Uploaded);
  EXPECT_EQ(Stored(2).data.size(), 1875002u);
}

TEST_F(SoundTransferTest, FreeSpaceIsCheckedFirst) {
  SetDeviceInfo(R"({"free_space_in_bytes":400})");
  ASSERT_TRUE(client.ConnectAndLoadSlots());
  EXPECT_EQ(client.UploadSound(File("a.wav", MakePcm16Wav(std::vector<int16_t>(200), 1, 46875)), 0, false),
            EPUploadResult::Failed);
  EXPECT_EQ(client.LastError(), "Insufficient space on device. Required: 400 bytes\nCheck free space with GetFreeMemory().");
  EXPECT_EQ(Count(kCmdUpload), 0u);
}

TEST_F(SoundTransferTest, AFailedMetadataWriteIsReportedAsSuch) {
  ASSERT_TRUE(client.ConnectAndLoadSlots());
  sim.InjectFault({.kind = SimFaultKind::ErrorStatus, .command = kSimCmdMetadata, .skip = 1});  // after the free space
  EXPECT_EQ(client.UploadSound(File("Pad.wav", WavWithRegions(2)), 0, false), EPUploadResult::UploadedWithoutMetadata);
  EXPECT_EQ(client.LastError(), "Failed to update extended metadata (regions)");
  // The audio is there, with the init JSON the device took as its metadata.
  EXPECT_EQ(Stored(1).name, "Pad");
  EXPECT_EQ(Stored(1).metadata, R"({"name":"Pad","format":"pcm","channels":1,"samplerate":46875,"sample.mode":"multi"})");
  EXPECT_TRUE(client.Slots()[0].occupied);
}

TEST_F(SoundTransferTest, AnUploadCutOffHalfWaySaysWhy) {
  // Half a megabyte: many upload requests, cut off part way.
  const std::vector<int16_t> pcm(250000, 1000);
  struct Case {
    const char* name;
    bool pullPorts;  // the cable is pulled; else the device just falls silent
    const char* error;
  };
  // The pulled cable goes last: the device never sees the requests it
  // refused, and would count the gap as a sequence error in a later case.
  const Case cases[] = {
      {"no answer", false, "Failed to upload file to device: the device stopped answering."},
      {"port gone", true,
       "Failed to upload file to device: the MIDI port is gone (the device was unplugged or its port closed)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim.UnplugPorts(false);
    sim.SetUnplugged(false);
    ASSERT_TRUE(client.IsConnected() || client.ConnectAndLoadSlots());
    client.SetTimeScale(kShortScale);
    // Cut off once the audio is under way (progress past 70%).
    bool cut = false;
    const auto progress = [&](int percent) {
      if (percent <= 72 || cut) return;
      cut = true;
      if (c.pullPorts)
        sim.UnplugPorts(true);
      else
        sim.SetUnplugged(true);
    };
    EXPECT_EQ(client.UploadSound(File("long.wav", MakePcm16Wav(pcm, 1, 46875)), 0, false, progress),
              EPUploadResult::Failed);
    EXPECT_TRUE(cut);
    EXPECT_EQ(client.LastError(), c.error);
  }
}

TEST_F(SoundTransferTest, AFailedUploadSendsNothingMore) {
  ASSERT_TRUE(client.ConnectAndLoadSlots());
  sim.InjectFault({.kind = SimFaultKind::ErrorStatus, .command = kSimCmdUpload, .skip = 1});
  sim.ClearRequests();
  EXPECT_EQ(client.UploadSound(File("a.wav", MakePcm16Wav({1, 2, 3}, 1, 46875)), 0, false), EPUploadResult::Failed);
  EXPECT_EQ(client.LastError(), "Failed to upload file to device.");
  ASSERT_TRUE(sim.WaitUntilIdle(kTestDeadline));
  const std::vector<SimRequest> requests = sim.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().Command(), kCmdUpload);
  EXPECT_FALSE(client.Slots()[0].occupied);
}

TEST_F(SoundTransferTest, AtMostTheDeviceRegionCountIsSent) {
  ASSERT_TRUE(client.ConnectAndLoadSlots());
  ASSERT_EQ(client.UploadSound(File("Many.wav", WavWithRegions(10)), 0, false), EPUploadResult::Uploaded);
  const EPJson metadata = ParseDeviceJson(Stored(1).metadata);
  ASSERT_EQ(metadata["regions"].size(), CEPDeviceClient::kMaxDeviceRegions);
  EXPECT_EQ(metadata["regions"][7]["sample.end"], 200);
  EXPECT_EQ(metadata["regions"][7]["sample.hikey"], 127);
}

TEST_F(SoundTransferTest, EveryTransferNeedsAConnection) {
  const auto wav = File("a.wav", MakePcm16Wav({1, 2}));
  EXPECT_EQ(client.UploadSound(wav, 0, false), EPUploadResult::Failed);
  EXPECT_EQ(client.LastError(), "Not connected to device");
  for (const bool ok : {client.DownloadSound(1, dir / "x.wav"), client.DeleteSound(1),
                        client.DownloadProject(3001, dir / "x.tar")}) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(client.LastError(), "Not connected to device");
  }
  EXPECT_TRUE(sim.Requests().empty());
}

// ---- Download ----

TEST(DeviceWav, Layout) {
  TempDir dir;
  const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(WriteDeviceWav(dir / "a.wav", data, 1, 46875, "{\"a\"}"));
  EXPECT_EQ(ReadFileBytes(dir / "a.wav"),
            Cat({Text("RIFF"), LE32(8 + 62), Text("WAVE"), Text("fmt "), LE32(16), LE16(1), LE16(1), LE32(46875),
                 LE32(93750), LE16(2), LE16(16), Text("LIST"), LE32(18), Text("INFO"), Text("TNGE"), LE32(5),
                 Text("{\"a\"}"), {0}, Text("data"), LE32(8), data}));
  ASSERT_TRUE(WriteDeviceWav(dir / "b.wav", data, 2, 46875, ""));
  const Bytes b = ReadFileBytes(dir / "b.wav");
  EXPECT_EQ(Bytes(b.begin() + 4, b.begin() + 8), LE32(8 + 36));
  EXPECT_EQ(Bytes(b.begin() + 28, b.begin() + 34), Cat({LE32(187500), LE16(4)}));
  EXPECT_EQ(Bytes(b.begin() + 36, b.begin() + 40), Text("data"));
  EXPECT_FALSE(WriteDeviceWav(dir / "missing" / "c.wav", data, 1, 46875, ""));
}

TEST_F(SoundTransferTest, DownloadTakesTheFormatFromTheMetadata) {
  AddSound(5, "005.pcm", Pcm16(Sine(100, 440, 46875, 2)), R"({"name":"St","channels":2,"samplerate":44100.7})");
  AddSound(6, "006.pcm", Bytes{1, 2, 3, 4, 5}, R"({"name":"Plain"})");  // an odd byte at the end
  AddSound(1200, "1200.pcm", Bytes{9, 9}, "");
  AddSound(8, "008.pcm", Bytes{}, "");
  ASSERT_TRUE(client.Connect());

  ASSERT_TRUE(client.DownloadSound(5, dir / "st.wav"));
  CWavLoader stereo;
  ASSERT_TRUE(stereo.Load(dir / "st.wav"));
  EXPECT_EQ(stereo.format, (PcmFormat{kWaveFormatPcm, 2, 44100, 176400, 4, 16}));
  EXPECT_EQ(stereo.data, Pcm16(Sine(100, 440, 46875, 2)));
  EXPECT_TRUE(stereo.chunks.empty());  // nothing of the instrument in the metadata

  ASSERT_TRUE(client.DownloadSound(6, dir / "plain.wav"));
  EXPECT_EQ(ReadFileBytes(dir / "plain.wav"), Cat({Text("RIFF"), LE32(4 + 36), Text("WAVE"), Text("fmt "), LE32(16),
                                                   LE16(1), LE16(1), LE32(46875), LE32(93750), LE16(2), LE16(16),
                                                   Text("data"), LE32(4), {1, 2, 3, 4}}));
  ASSERT_TRUE(client.DownloadSound(1200, dir / "extra.wav"));
  EXPECT_FALSE(client.DownloadSound(8, dir / "empty.wav"));
  EXPECT_EQ(client.LastError(), "Failed to download file from device.");
  EXPECT_FALSE(client.DownloadSound(7, dir / "none.wav"));
  EXPECT_EQ(client.LastError(), "Sound file not found in cache. Try refreshing the file list.");
  EXPECT_FALSE(client.DownloadSound(6, dir / "missing" / "x.wav"));
  EXPECT_EQ(client.LastError(), "Failed to save WAV file.");
}

TEST_F(SoundTransferTest, DownloadChecksWhatTheDeviceSends) {
  const Bytes audio = Pcm16(Sine(3000, 440, 46875));
  AddSound(5, "005.pcm", audio, R"({"name":"A"})");
  sim.WithState([](SimState& s) { s.readPageBytes = 1000; });
  ASSERT_TRUE(client.Connect());

  // A last page that runs past the file is cut.
  sim.InjectFault({.kind = SimFaultKind::ExtendPayload, .command = kSimCmdRead, .skip = 6, .size = 300, .fill = 7});
  ASSERT_TRUE(client.DownloadSound(5, dir / "a.wav"));
  CWavLoader a;
  ASSERT_TRUE(a.Load(dir / "a.wav"));
  EXPECT_EQ(a.data, audio);

  // A read that stops early is a failure, and no file is written.
  client.SetTimeScale(kShortScale);
  sim.InjectFault({.kind = SimFaultKind::NoReply, .command = kSimCmdRead, .skip = 3});
  EXPECT_FALSE(client.DownloadSound(5, dir / "b.wav"));
  EXPECT_EQ(client.LastError(), "Failed to download file from device.");
  EXPECT_EQ(err.Text(), "[Error] Download of file 5 incomplete: 2000 of 6000 bytes.\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "b.wav"));
  sim.InjectFault({.kind = SimFaultKind::ErrorStatus, .command = kSimCmdRead});
  EXPECT_FALSE(client.DownloadSound(5, dir / "b.wav"));
  EXPECT_EQ(client.LastError(), "Failed to download file from device.");
}

TEST_F(SoundTransferTest, DownloadRefusesAFormatNoFileCanHold) {
  const char* cases[] = {
      R"({"channels":0})", R"({"channels":-2})", R"({"channels":100})", R"({"samplerate":0})",
      R"({"samplerate":4294967296})", R"({"samplerate":-46875})",
  };
  uint16_t id = 1;
  for (const char* metadata : cases) AddSound(id++, "x.pcm", Bytes(8, 1), metadata);
  ASSERT_TRUE(client.Connect());
  for (uint16_t i = 1; i < id; ++i) {
    EXPECT_FALSE(client.DownloadSound(i, dir / "bad.wav")) << cases[i - 1];
    EXPECT_NE(client.LastError().find("The sound's metadata gives an unusable audio format"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.wav"));
  }
  EXPECT_EQ(client.LastError(), "The sound's metadata gives an unusable audio format (1 channels at -46875 Hz).");
}

// ---- Deletion ----

TEST_F(SoundTransferTest, DeletionRemovesUserSoundsOnly) {
  AddSound(4, "004.pcm", Bytes(10), R"({"name":"Mine"})");
  AddSound(5, "005.pcm", Bytes(10), R"({"name":"Factory"})");
  sim.WithState([](SimState& s) { s.files.Find(5)->flags = 0x00; });
  ASSERT_TRUE(client.Connect());
  std::vector<EPDeviceEvent> calls;
  client.SetChangeListener([&](uint8_t code, uint16_t slot) { calls.push_back({code, slot}); });

  ASSERT_TRUE(client.DeleteSound(4));
  EXPECT_FALSE(client.Slots()[3].occupied);
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].fileId, 4);
  EXPECT_EQ(Stored(4).id, 0);

  sim.ClearRequests();
  EXPECT_FALSE(client.DeleteSound(5));
  EXPECT_EQ(client.LastError(),
            "This file is protected (Factory Content) and cannot be deleted.\nDisable strict adherence to bypass this "
            "check.");
  EXPECT_EQ(Count(kCmdDelete), 0u);
  EXPECT_FALSE(client.DeleteSound(4));
  EXPECT_EQ(client.LastError(), "Slot is already empty.");

  // Without strict adherence the device itself refuses.
  client.SetStrictAdherence(false);
  EXPECT_FALSE(client.DeleteSound(5));
  EXPECT_EQ(client.LastError(), "Failed to delete file from device. File may be protected or invalid.");
  EXPECT_EQ(Count(kCmdDelete), 1u);
  EXPECT_TRUE(client.Slots()[4].occupied);
}

TEST_F(SoundTransferTest, DeletionNeedsAnAnswerThatTheSoundIsTheUsers) {
  AddSound(4, "004.pcm", Bytes(10), R"({"name":"Mine"})");
  ASSERT_TRUE(client.Connect());
  client.SetTimeScale(kShortScale);
  sim.InjectFault({.kind = SimFaultKind::NoReply, .command = kSimCmdFileInfo});
  EXPECT_FALSE(client.DeleteSound(4));
  EXPECT_NE(client.LastError().find("This file is protected"), std::string::npos);
  EXPECT_EQ(Stored(4).id, 4);
}

// ---- Projects ----

TEST_F(SoundTransferTest, ProjectBackupIsByteForByte) {
  Bytes archive(70000);
  for (size_t i = 0; i < archive.size(); ++i) archive[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
  sim.WithState([&](SimState& s) { s.files.AddDirectory(3001, kSimProjectsDir, "P01").data = archive; });
  ASSERT_TRUE(client.Connect());
  ASSERT_TRUE(client.DownloadProject(3001, dir / "p01.tar")) << client.LastError();
  EXPECT_EQ(ReadFileBytes(dir / "p01.tar"), archive);

  EXPECT_FALSE(client.DownloadProject(3005, dir / "x.tar"));
  EXPECT_EQ(client.LastError(), "Project not found in cache. Try refreshing the file list.");
  EXPECT_FALSE(client.DownloadProject(3001, dir / "missing" / "x.tar"));
  EXPECT_EQ(client.LastError(), "Failed to create TAR file.");

  // A backup cut short is not saved as one.
  client.SetTimeScale(kShortScale);
  sim.InjectFault({.kind = SimFaultKind::NoReply, .command = kSimCmdRead, .skip = 5});
  EXPECT_FALSE(client.DownloadProject(3001, dir / "short.tar"));
  EXPECT_EQ(client.LastError(), "Failed to download project from device.");
  EXPECT_FALSE(std::filesystem::exists(dir / "short.tar"));
  EXPECT_EQ(ReadFileBytes(dir / "p01.tar"), archive);
}

}  // namespace
}  // namespace zandrel::test
