// The link's file transfers: the payloads and chunk sizes on their own, then
// reads, previews, project downloads and uploads against the simulated
// device, with the bounds that keep a misbehaving device from driving them.
#include "device/device_transfers.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "link_fixture.h"
#include "support/wav_builder.h"

namespace zandrel::test {
namespace {

Bytes Ramp(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return bytes;
}

TEST(TransferBytes, ChunkSizeFollowsTheMessageSize) {
  const std::pair<uint32_t, size_t> cases[] = {
      {512, 430}, {65536, 4096}, {20, 448}, {0, 448}, {21, 512}, {22, 1}, {4096, 3566},
  };
  for (const auto& [h, size] : cases) EXPECT_EQ(UploadChunkSize(h), size) << h;
}

TEST(TransferBytes, InitPayloads) {
  EXPECT_EQ(BuildSoundUploadInit(3, 5, 1000, "Kick", R"({"a":1})"),
            Cat({{0x02, 0x00, 0x05, 0x00, 0x03, 0x00, 0x05, 0x00, 0x00, 0x03, 0xE8, 'K', 'i', 'c', 'k', 0x00},
                 {'{', '"', 'a', '"', ':', '1', '}', 0x00}}));
  EXPECT_EQ(BuildSoundUploadInit(3, 5, 1000, "Kick", ""),
            (Bytes{0x02, 0x00, 0x05, 0x00, 0x03, 0x00, 0x05, 0x00, 0x00, 0x03, 0xE8, 'K', 'i', 'c', 'k', 0x00}));
  EXPECT_EQ(BuildProjectUploadInit(0x0BB9, 0x0BB8, 0x01020304, "project"),
            (Bytes{0x02, 0x00, 0x02, 0x0B, 0xB9, 0x0B, 0xB8, 0x01, 0x02, 0x03, 0x04, 'p', 'r', 'o', 'j', 'e', 'c', 't',
                   0x00, 0x00}));
  const std::string longName(60, 'n');
  EXPECT_EQ(BuildSoundUploadInit(1, 1, 0, longName, "").size(), 11u + 54 + 1);
  EXPECT_EQ(BuildReadInit(0x1234), (Bytes{0x03, 0x00, 0x12, 0x34, 0, 0, 0, 0}));
  EXPECT_EQ(BuildPreviewInit(7, 4, 2000), Cat({{0x03, 0x00, 0x00, 0x07, 0, 0, 0, 0}, Bytes(8, 0), {0x01, 0x00, 0x04, 0x07, 0xD0}}));
  EXPECT_EQ(BuildReadPage(300), (Bytes{0x03, 0x01, 0x01, 0x2C}));
}

TEST(TransferBytes, PreviewPlan) {
  struct Case {
    uint32_t size;
    int channels;
    uint16_t stride;
    uint16_t points;
  };
  const Case cases[] = {
      {16000, 1, 4, 2000}, {6000, 2, 7, 200}, {6000, 0, 15, 200}, {6000, -3, 15, 200},
      {100, 1, 0, 200},    {4294967295u, 1, 0xFFFF, 2000},
  };
  for (const Case& c : cases) {
    const PreviewRequest plan = PlanPreview(c.size, c.channels);
    EXPECT_EQ(plan.stride, c.stride) << c.size;
    EXPECT_EQ(plan.points, c.points) << c.size;
    EXPECT_EQ(plan.bytes, c.points * 4u);
  }
}

using TransferTest = SimLinkTest;

TEST_F(TransferTest, UploadSendsChunksThatFitTheMessageSize) {
  // Before any init the device's messages are 512 bytes: 430-byte chunks.
  const Bytes data = Ramp(1000);
  std::vector<int> progress;
  ASSERT_TRUE(link.UploadFile(data, "Kick", kSimSoundsDir, 3, R"({"name":"Kick"})",
                              [&](int percent) { progress.push_back(percent); }));
  const std::vector<Bytes> requests = Payloads(kCmdUpload);
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0], BuildSoundUploadInit(3, kSimSoundsDir, 1000, "Kick", R"({"name":"Kick"})"));
  EXPECT_EQ(requests[1], Cat({{0x02, 0x01, 0x00, 0x00}, Bytes(data.begin(), data.begin() + 430)}));
  EXPECT_EQ(requests[2], Cat({{0x02, 0x01, 0x00, 0x01}, Bytes(data.begin() + 430, data.begin() + 860)}));
  EXPECT_EQ(requests[3], Cat({{0x02, 0x01, 0x00, 0x02}, Bytes(data.begin() + 860, data.end())}));
  EXPECT_EQ(requests[4], (Bytes{0x02, 0x01, 0x00, 0x03}));
  EXPECT_EQ(progress, (std::vector<int>{80, 91, 95}));
  EXPECT_EQ(out.Text(), "\rUploading: 43%\rUploading: 86%\rUploading: 100%\n");
  const SimFile stored = sim.WithState([](SimState& s) { return *s.files.Find(3); });
  EXPECT_EQ(stored.data, data);
  EXPECT_EQ(stored.name, "Kick");
  EXPECT_EQ(stored.metadata, R"({"name":"Kick"})");

  // An empty file: the init and the end marker with count 0.
  sim.ClearRequests();
  ASSERT_TRUE(link.UploadFile({}, "Empty", kSimSoundsDir, 4, ""));
  EXPECT_EQ(Payloads(kCmdUpload),
            (std::vector<Bytes>{BuildSoundUploadInit(4, kSimSoundsDir, 0, "Empty", ""), {0x02, 0x01, 0x00, 0x00}}));
}

TEST_F(TransferTest, UploadsAreBoundedBeforeAnythingIsSent) {
  sim.WithState([](SimState& s) { s.maxMessageSize = 65536; });
  ASSERT_TRUE(link.InitDevice());
  sim.ClearRequests();
  EXPECT_FALSE(link.UploadFile(Bytes(kMaxUploadBytes + 1, 1), "big", kSimSoundsDir, 1, ""));
  EXPECT_EQ(err.Text(), "[Error] File size exceeds safety limit (4MB).\n");
  EXPECT_FALSE(link.UploadProjectArchive(Bytes(kMaxUploadBytes + 1, 1), "project", kSimProjectsDir, 3001));

  // A device with 22-byte messages takes 1-byte chunks: the 16-bit chunk
  // numbers would run out (and wrap) long before 70000 bytes.
  err.Clear();
  sim.WithState([](SimState& s) { s.maxMessageSize = 22; });
  ASSERT_TRUE(link.InitDevice());
  sim.ClearRequests();
  EXPECT_FALSE(link.UploadFile(Bytes(70000, 1), "many", kSimSoundsDir, 1, ""));
  EXPECT_EQ(err.Text(), "[Error] Upload of 70000 bytes would need 70000 chunks of 1 bytes; the device numbers at "
                        "most 65535.\n");
  EXPECT_TRUE(sim.WaitUntilIdle(kTestDeadline));
  EXPECT_TRUE(sim.Requests().empty());

  link.CloseLink();
  EXPECT_FALSE(link.UploadFile(Bytes(10, 1), "closed", kSimSoundsDir, 1, ""));
}

TEST_F(TransferTest, FourMegabytesAreAllowed) {
  sim.WithState([](SimState& s) {
    s.maxMessageSize = 65536;
    s.files.Find(kSimSoundsDir)->metadata = SimFileSystem::DeviceInfoJson(100000000);
  });
  ASSERT_TRUE(link.InitDevice());
  const Bytes data = Ramp(kMaxUploadBytes);
  ASSERT_TRUE(link.UploadFile(data, "big", kSimSoundsDir, 9, ""));
  EXPECT_EQ(Payloads(kCmdUpload).size(), 1 + 1024 + 1u);  // init, 4096-byte chunks, end
  EXPECT_EQ(sim.WithState([](SimState& s) { return s.files.Find(9)->data; }), data);
}

TEST_F(TransferTest, UploadStopsAtTheFirstRefusal) {
  link.SetTimeScale(kShortScale);
  struct Case {
    SimFault fault;
    std::string err;
    size_t requests;
  };
  const Case cases[] = {
      {{.kind = SimFaultKind::ErrorStatus, .command = kSimCmdUpload, .status = 7}, "Upload Init Failed. Status: 7\n", 1},
      {{.kind = SimFaultKind::NoReply, .command = kSimCmdUpload}, "Upload Init Failed. Status: 0\n", 1},
      {{.kind = SimFaultKind::ErrorStatus, .command = kSimCmdUpload, .skip = 2}, "Upload Chunk Failed at offset 430\n",
       3},
      {{.kind = SimFaultKind::NoReply, .command = kSimCmdUpload, .skip = 4}, "", 5},  // the end marker
  };
  for (const Case& c : cases) {
    err.Clear();
    sim.ClearRequests();
    sim.InjectFault(c.fault);
    EXPECT_FALSE(link.UploadFile(Ramp(1000), "x", kSimSoundsDir, 3, ""));
    EXPECT_EQ(err.Text(), c.err);
    ASSERT_TRUE(sim.WaitUntilIdle(kTestDeadline));
    EXPECT_EQ(Payloads(kCmdUpload).size(), c.requests);
  }
}

TEST_F(TransferTest, ProjectUploadWaitsLongerForTheUnpacking) {
  sim.WithState([](SimState& s) { s.files.AddDirectory(3001, kSimProjectsDir, "P01"); });
  const Bytes archive = Ramp(900);
  ASSERT_TRUE(link.UploadProjectArchive(archive, "project", kSimProjectsDir, 3001));
  EXPECT_EQ(link.LastWaitLimitMs(), CEPSysExLink::kProjectEndLimitMs);
  EXPECT_EQ(Payloads(kCmdUpload)[0], BuildProjectUploadInit(3001, kSimProjectsDir, 900, "project"));
  EXPECT_EQ(sim.WithState([](SimState& s) { return s.files.Find(3001)->data; }), archive);
  EXPECT_EQ(out.Text(), "\rUploading: 47%\rUploading: 95%\rUploading: 100%\n");

  link.SetTimeScale(kShortScale);
  sim.InjectFault({.kind = SimFaultKind::NoReply, .command = kSimCmdUpload, .skip = 4});
  EXPECT_FALSE(link.UploadProjectArchive(archive, "project", kSimProjectsDir, 3001));
  EXPECT_EQ(err.Text(), "Finalize Upload Timed Out (Device might still be unpacking)\n");
  err.Clear();
  sim.InjectFault({.kind = SimFaultKind::ErrorStatus, .command = kSimCmdUpload, .skip = 4});
  EXPECT_FALSE(link.UploadProjectArchive(archive, "project", kSimProjectsDir, 3001));
  EXPECT_EQ(err.Text(), "");
}

TEST_F(TransferTest, FileReadGathersPagesUntilTheExpectedSize) {
  const Bytes data = Ramp(10000);
  sim.WithState([&](SimState& s) {
    s.readPageBytes = 4096;
    s.files.AddSound(12, "012.pcm", 10000).data = data;
  });
  EXPECT_EQ(link.ReadFile(12, 10000), data);
  EXPECT_EQ(Payloads(kCmdRead), (std::vector<Bytes>{{0x03, 0x00, 0x00, 0x0C, 0, 0, 0, 0},
                                                    {0x03, 0x01, 0x00, 0x00},
                                                    {0x03, 0x01, 0x00, 0x01},
                                                    {0x03, 0x01, 0x00, 0x02}}));
  // The last page is kept whole.
  EXPECT_EQ(link.ReadFile(12, 5000), Bytes(data.begin(), data.begin() + 8192));
  // Nothing expected: no page is asked for.
  sim.ClearRequests();
  EXPECT_TRUE(link.ReadFile(12, 0).empty());
  EXPECT_EQ(Payloads(kCmdRead).size(), 1u);
  // More than there is: what the device has, then a page without data ends it.
  EXPECT_EQ(link.ReadFile(12, 20000), data);
}

TEST_F(TransferTest, FileReadStopsAtAFailureWithWhatItHas) {
  link.SetTimeScale(kShortScale);
  sim.WithState([](SimState& s) {
    s.readPageBytes = 1000;
    s.files.AddSound(12, "012.pcm", 5000).data = Ramp(5000);
  });
  struct Case {
    SimFault fault;
    size_t bytes;
  };
  const Case cases[] = {
      {{.kind = SimFaultKind::NoReply, .command = kSimCmdRead}, 0},
      {{.kind = SimFaultKind::ErrorStatus, .command = kSimCmdRead}, 0},
      {{.kind = SimFaultKind::NoReply, .command = kSimCmdRead, .skip = 3}, 2000},
      {{.kind = SimFaultKind::ErrorStatus, .command = kSimCmdRead, .skip = 2}, 1000},
      {{.kind = SimFaultKind::TruncatePayload, .command = kSimCmdRead, .skip = 2, .size = 2}, 1000},
  };
  for (const Case& c : cases) {
    sim.InjectFault(c.fault);
    EXPECT_EQ(link.ReadFile(12, 5000).size(), c.bytes) << int(c.fault.kind);
    ASSERT_TRUE(sim.WaitUntilIdle(kTestDeadline));
  }
  // A size no device file has is not read at all.
  sim.ClearRequests();
  EXPECT_TRUE(link.ReadFile(12, kMaxDownloadBytes + 1).empty());
  EXPECT_TRUE(sim.WaitUntilIdle(kTestDeadline));
  EXPECT_TRUE(sim.Requests().empty());
  EXPECT_EQ(err.Text(), "[Error] File 12 is said to hold 134217729 bytes, more than a download may hold (134217728).\n");
}

// A device that answers inside Send(), on the sending thread. Without a
// thread hop per request a test can afford the 65536 requests of a read that
// runs out of page numbers.
class InlineDevice final : public MidiSystem {
 public:
  using Answer = std::function<Bytes(const Bytes& payload)>;
  explicit InlineDevice(Answer answer) : answer_(std::move(answer)) {}

  std::vector<std::string> InputNames() override { return {"EP-133"}; }
  std::vector<std::string> OutputNames() override { return {"EP-133"}; }
  std::unique_ptr<MidiInPort> OpenInput(size_t, MidiInputCallback callback) override {
    deliver_ = std::move(callback);
    return std::make_unique<In>();
  }
  std::unique_ptr<MidiOutPort> OpenOutput(size_t) override { return std::make_unique<Out>(*this); }

  std::vector<Bytes> payloads;

 private:
  struct In final : MidiInPort {
    void Close() override {}
  };
  struct Out final : MidiOutPort {
    explicit Out(InlineDevice& device) : device(device) {}
    bool Send(std::span<const uint8_t> m) override {
      if (m.size() < 11 || m[1] != 0x00) return true;  // the identity request goes unanswered
      const auto sequence = static_cast<uint16_t>(((m[6] & 0x1F) << 7) | m[7]);
      device.payloads.push_back(Unpack7Bit(m.subspan(9, m.size() - 10)));
      device.deliver_(SimDevice::ReplyFrame(0, sequence, 0, device.answer_(device.payloads.back())));
      return true;
    }
    size_t MaxMessageBytes() const override { return 65536; }
    void Close() override {}
    InlineDevice& device;
  };

  Answer answer_;
  MidiInputCallback deliver_;
};

TEST(TransferBounds, PagesNeverWrapToPageZero) {
  // One data byte per page and a file said to be larger than 65536 pages.
  InlineDevice device([](const Bytes& payload) {
    return payload[1] == 0x00 ? Bytes{0, 0, 12, 0, 1, 0, 0} : Bytes{0, 0, payload[3]};
  });
  ConsoleCapture err;
  CEPSysExLink link(&device);
  link.SetConsole(&err, &err);
  link.SetTimeScale(0);  // every reply is there before its wait begins
  ASSERT_TRUE(link.OpenLink());
  const Bytes data = link.ReadFile(12, 70000);
  EXPECT_EQ(data.size(), kMaxTransferPages);
  EXPECT_EQ(device.payloads.size(), 1 + kMaxTransferPages);
  EXPECT_EQ(device.payloads.back(), (Bytes{0x03, 0x01, 0xFF, 0xFF}));
  EXPECT_EQ(err.Text(), "[Error] Read of file 12 stopped after 65536 pages: page numbers end there.\n");
}

TEST_F(TransferTest, PreviewAsksForPointsAndReadsTheirBytes) {
  Bytes pcm;
  for (int i = 0; i < 8000; ++i) {
    const int16_t v = static_cast<int16_t>((i % 4) * 100 - i);
    pcm.push_back(static_cast<uint8_t>(v));
    pcm.push_back(static_cast<uint8_t>(v >> 8));
  }
  sim.WithState([&](SimState& s) {
    s.readPageBytes = 3000;
    s.files.AddSound(20, "020.pcm", 16000).data = pcm;
  });
  const Bytes preview = link.ReadPreview(20, 16000, 1);
  ASSERT_EQ(preview.size(), 8000u);
  EXPECT_EQ(Payloads(kCmdRead), (std::vector<Bytes>{BuildPreviewInit(20, 4, 2000), BuildReadPage(0), BuildReadPage(1),
                                                    BuildReadPage(2)}));
  // Point 1 covers frames 4..7: samples -4, 95, 194, 293.
  EXPECT_EQ(Bytes(preview.begin() + 4, preview.begin() + 8), (Bytes{0xFC, 0xFF, 0x25, 0x01}));

  // 200 points: the read ends once their 800 bytes are there.
  sim.ClearRequests();
  sim.WithState([](SimState& s) { s.readPageBytes = 500; });
  EXPECT_EQ(link.ReadPreview(20, 6000, 2).size(), 800u);
  EXPECT_EQ(Payloads(kCmdRead), (std::vector<Bytes>{BuildPreviewInit(20, 7, 200), BuildReadPage(0), BuildReadPage(1)}));

  link.SetTimeScale(kShortScale);
  sim.InjectFault({.kind = SimFaultKind::ErrorStatus, .command = kSimCmdRead});
  EXPECT_TRUE(link.ReadPreview(20, 16000, 1).empty());
  EXPECT_EQ(err.Text(), "[Error] Preview Init Failed\n");
}

class ProjectDownloadTest : public SimLinkTest {
 protected:
  void SetUp() override {
    SimLinkTest::SetUp();
    sim.WithState([this](SimState& s) {
      s.readPageBytes = 1000;
      s.files.AddDirectory(3001, kSimProjectsDir, "P01").data = archive;
    });
  }
  const Bytes archive = Ramp(25500);
};

TEST_F(ProjectDownloadTest, TheArchiveComesWhole) {
  bool complete = false;
  EXPECT_EQ(link.DownloadProjectTar(3001, &complete), archive);
  EXPECT_TRUE(complete);
  EXPECT_EQ(Payloads(kCmdRead).size(), 1 + 26u);
  EXPECT_EQ(out.Text(), "[*] Downloading Project TAR (25500 bytes)...\n\r    11000 / 25500 bytes\r    21000 / 25500 "
                        "bytes\n[+] Download complete.\n");
  EXPECT_EQ(err.Text(), "");
}

TEST_F(ProjectDownloadTest, PagesPastTheAnnouncedSizeAreCut) {
  sim.InjectFault({.kind = SimFaultKind::ExtendPayload, .command = kSimCmdRead, .skip = 26, .size = 700, .fill = 9});
  EXPECT_EQ(link.DownloadProjectTar(3001), archive);
}

TEST_F(ProjectDownloadTest, AStoppedDownloadReturnsWhatCameAndSaysSo) {
  link.SetTimeScale(kShortScale);
  sim.InjectFault({.kind = SimFaultKind::NoReply, .command = kSimCmdRead, .skip = 4});  // page 3
  bool complete = true;
  EXPECT_EQ(link.DownloadProjectTar(3001, &complete), Bytes(archive.begin(), archive.begin() + 3000));
  EXPECT_FALSE(complete);
  EXPECT_EQ(err.Text(), "\n[Error] Timeout waiting for page 3\n[Error] Incomplete download! Expected 25500, got 3000\n");

  err.Clear();
  sim.InjectFault({.kind = SimFaultKind::ErrorStatus, .command = kSimCmdRead, .skip = 2, .status = 4});
  EXPECT_EQ(link.DownloadProjectTar(3001).size(), 1000u);
  EXPECT_EQ(err.Text(), "\n[Error] Device reported error on page 1 Status: 4\n"
                        "[Error] Incomplete download! Expected 25500, got 1000\n");
}

TEST_F(ProjectDownloadTest, PagesWithoutDataEndTheDownload) {
  // The device keeps answering page after page with nothing in it.
  sim.SetHandler(kSimCmdRead, [](const SimRequest& request, SimState&) {
    if (request.payload[1] == 0x00) return SimReply::Ok(Bytes{0, 0x0B, 0xB9, 0, 0, 0x10, 0});
    return SimReply::Ok(Bytes{0, 0});
  });
  EXPECT_TRUE(link.DownloadProjectTar(3001).empty());
  EXPECT_EQ(Payloads(kCmdRead).size(), 1 + kMaxEmptyProjectPages);
  EXPECT_EQ(err.Text(), "\n[Error] No data in 64 pages in a row; download stopped.\n"
                        "[Error] Incomplete download! Expected 4096, got 0\n");
}

TEST_F(ProjectDownloadTest, TheInitReplyIsChecked) {
  link.SetTimeScale(kShortScale);
  struct Case {
    SimFault fault;
    std::string err;
  };
  const Case cases[] = {
      {{.kind = SimFaultKind::NoReply}, "[Error] Project TAR Init Failed or Timed Out\n"},
      {{.kind = SimFaultKind::ErrorStatus}, "[Error] Project TAR Init Failed or Timed Out\n"},
      {{.kind = SimFaultKind::TruncatePayload, .size = 6}, "[Error] Invalid Init Response length\n"},
      {{.kind = SimFaultKind::ReplacePayload, .bytes = {0, 0, 0, 0, 0, 0, 0}},
       "[Warning] Project appears to be empty (Size 0)\n"},
      // An announced 4 GB is neither reserved nor asked for.
      {{.kind = SimFaultKind::ReplacePayload, .bytes = {0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
       "[Error] Project 3001 is said to hold 4294967295 bytes, more than a download may hold (134217728).\n"},
  };
  for (const Case& c : cases) {
    err.Clear();
    sim.ClearRequests();
    sim.InjectFault(c.fault);
    EXPECT_TRUE(link.DownloadProjectTar(3001).empty());
    EXPECT_EQ(err.Text(), c.err);
    ASSERT_TRUE(sim.WaitUntilIdle(kTestDeadline));
    EXPECT_EQ(Payloads(kCmdRead).size(), 1u);
  }
}

// ---- Job control ----

TEST_F(TransferTest, AStoppedJobReadsNothingMoreButWritesGoOn) {
  sim.WithState([](SimState& s) {
    s.files.AddSound(1, "a", 4000, R"({"name":"a"})").data = Bytes(4000, 1);
    s.files.AddDirectory(3001, kSimProjectsDir, "P01").data = Bytes(100, 2);
  });
  link.RequestCancel();
  ASSERT_TRUE(link.CancelRequested());
  EXPECT_TRUE(link.ReadFile(1, 4000).empty());
  EXPECT_TRUE(link.ReadPreview(1, 4000, 1).empty());
  EXPECT_TRUE(link.DownloadProjectTar(3001).empty());
  EXPECT_TRUE(link.ListDirectory(0).empty());
  EXPECT_EQ(link.GetMetadataPages(1), "");
  EXPECT_TRUE(sim.Requests().empty());

  // The device knows no abort: writes, deletion and file information ignore the flag.
  EXPECT_TRUE(link.SetMetadata(1, R"({"name":"b"})"));
  EXPECT_EQ(link.GetFileInfo(1).id, 1);
  EXPECT_TRUE(link.UploadFile(Bytes(100, 3), "c", kSimSoundsDir, 2, "{}"));
  EXPECT_TRUE(link.DeleteFile(1));
  EXPECT_EQ(Payloads(kCmdUpload).size(), 3u);  // init, one chunk, end marker

  link.ClearCancel();
  EXPECT_EQ(link.ReadFile(2, 100), Bytes(100, 3));
  const CEPSysExLink::JobProgress progress = link.Progress();
  EXPECT_EQ(progress.expected, 100u);
  EXPECT_EQ(progress.done, 100u);
  link.ResetProgress();
  EXPECT_EQ(link.Progress().expected, 0u);
}

}  // namespace
}  // namespace zandrel::test
