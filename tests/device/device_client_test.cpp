// The device client against the simulated device: connecting and the cached
// listing, device events, capabilities and project trees.
#include "device/device_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "client_fixture.h"

namespace zandrel::test {
namespace {

using ClientTest = SimClientTest;

TEST_F(ClientTest, ConnectListsSlotsFurtherSoundsAndProjects) {
  sim.WithState([](SimState& s) {
    s.files.AddSound(12, "012.pcm", 4000, R"({"name":"Kick","channels":1})");
    s.files.AddSound(7, "007.pcm", 10, R"({"name":""})");
    s.files.AddSound(8, "008", 10, R"({"name":""})");
    s.files.AddSound(9, "009.pcm", 10, "{not json");
    s.files.AddSound(10, "010.pcm", 10, R"({"name":5})");
    s.files.AddSound(1000, "1000.pcm", 10, R"({"name":""})");
    s.files.AddSound(1001, "1001.pcm", 10, R"({"name":"Synth"})");
    s.files.AddDirectory(3001, kSimProjectsDir, "P01");
    s.files.Add({3002, kSimProjectsDir, kSimFlagUser, 5, "notes.txt", {}, {}});  // no project
  });
  ASSERT_TRUE(client.Connect()) << client.LastError();
  EXPECT_TRUE(client.IsConnected());
  EXPECT_EQ(client.LastError(), "");
  EXPECT_EQ(client.Sku(), "TE133AS007");
  EXPECT_EQ(client.SoundsDirectoryId(), kSimSoundsDir);
  EXPECT_EQ(client.ProjectsDirectoryId(), kSimProjectsDir);
  EXPECT_TRUE(client.DeviceInfoLoaded());
  EXPECT_EQ(client.DeviceInfo()["free_space_in_bytes"], 8000000);

  const std::vector<EPSoundSlot>& slots = client.Slots();
  ASSERT_EQ(slots.size(), 999u);
  EXPECT_EQ(slots[0].fileId, 1);
  EXPECT_FALSE(slots[0].occupied);
  EXPECT_EQ(slots[998].fileId, 999);
  const EPSoundSlot& kick = slots[11];
  EXPECT_TRUE(kick.occupied);
  EXPECT_EQ(kick.fileId, 12);
  EXPECT_EQ(kick.size, 4000u);
  EXPECT_EQ(kick.fileName, "012.pcm");
  EXPECT_EQ(kick.displayName, "Kick");
  EXPECT_EQ(kick.metadata["channels"], 1);
  // An empty "name": "User_" and the file name without ".pcm" for slots,
  // the file name itself without ".pcm" to remove or beyond the slots;
  // metadata that is no JSON or has no string "name": the file name.
  EXPECT_EQ(slots[6].displayName, "User_007");
  EXPECT_EQ(slots[7].displayName, "008");
  EXPECT_EQ(slots[8].displayName, "009.pcm");
  EXPECT_TRUE(slots[8].metadata.is_null());
  EXPECT_EQ(slots[9].displayName, "010.pcm");

  const std::vector<EPSoundSlot>& extras = client.ExtraSounds();
  ASSERT_EQ(extras.size(), 2u);
  EXPECT_EQ(extras[0].fileId, 1000);
  EXPECT_EQ(extras[0].displayName, "1000.pcm");
  EXPECT_EQ(extras[1].displayName, "Synth");
  EXPECT_EQ(client.FindSound(1001), &extras[1]);
  EXPECT_EQ(client.FindSound(12), &kick);
  EXPECT_EQ(client.FindSound(13), nullptr);

  ASSERT_EQ(client.Projects().size(), 1u);
  EXPECT_EQ(client.Projects()[0].id, 3001);
  EXPECT_EQ(client.Projects()[0].name, "P01");
  EXPECT_EQ(client.Projects()[0].displayName, "P01");

  // The device information plus one metadata read per sound.
  EXPECT_EQ(Count(kCmdMetadata), 8u);
  EXPECT_FALSE(client.Connect());
  EXPECT_EQ(client.LastError(), "Already connected");
}

TEST_F(ClientTest, OneLostMetadataReplyCostsOnlyThatSound) {
  sim.WithState([](SimState& s) {
    for (uint16_t slot = 1; slot <= 5; ++slot) {
      s.files.AddSound(slot, "s.pcm", 10, R"({"name":"S)" + std::to_string(slot) + R"("})");
    }
    s.files.AddDirectory(3001, kSimProjectsDir, "P01");
  });
  client.SetTimeScale(kShortScale);
  // The device information is the first metadata read; the third sound's
  // reply is lost.
  sim.InjectFault({.kind = SimFaultKind::NoReply, .command = kSimCmdMetadata, .skip = 3});
  ASSERT_TRUE(client.Connect()) << client.LastError();
  for (int slot = 1; slot <= 5; ++slot) {
    const EPSoundSlot& record = client.Slots()[static_cast<size_t>(slot - 1)];
    ASSERT_TRUE(record.occupied) << slot;
    if (slot == 3) {
      EXPECT_TRUE(record.metadata.is_null());
    } else {
      EXPECT_EQ(record.displayName, "S" + std::to_string(slot));
    }
  }
  ASSERT_EQ(client.Projects().size(), 1u);
  EXPECT_EQ(client.Projects()[0].id, 3001);
  EXPECT_EQ(err.Text(), "[Error] Failed to fetch metadata page 0\n");
}

TEST_F(ClientTest, DirectoriesAreFoundByExactNameAndFlagTheLastOneWinning) {
  sim.WithState([](SimState& s) {
    s.files = SimFileSystem();
    s.files.AddDirectory(5, kSimRootDir, "sounds", SimFileSystem::DeviceInfoJson(1000));
    s.files.AddDirectory(6, kSimRootDir, "projects");
    s.files.Add({7, kSimRootDir, 0x00, 0, "sounds", {}, {}});  // a file, not a directory
    s.files.AddDirectory(8, kSimRootDir, "Sounds");
  });
  ASSERT_TRUE(client.Connect());
  EXPECT_EQ(client.SoundsDirectoryId(), 5);
  EXPECT_EQ(client.ProjectsDirectoryId(), 6);

  sim.WithState([](SimState& s) { s.files.AddDirectory(9, kSimRootDir, "sounds"); });
  ASSERT_TRUE(client.RefreshFileList());
  EXPECT_EQ(client.SoundsDirectoryId(), 9);
  // Its metadata is empty: no device information.
  EXPECT_FALSE(client.DeviceInfoLoaded());
}

TEST_F(ClientTest, ConnectingForAnUploadReadsNoSoundMetadataAndNoProjects) {
  sim.WithState([](SimState& s) {
    s.files.AddSound(3, "003.pcm", 10, R"({"name":"Snare"})");
    s.files.AddDirectory(3001, kSimProjectsDir, "P01");
  });
  ASSERT_TRUE(client.ConnectAndLoadSlots());
  EXPECT_TRUE(client.IsConnected());
  EXPECT_TRUE(client.DeviceInfoLoaded());
  EXPECT_TRUE(client.Slots()[2].occupied);
  EXPECT_EQ(client.Slots()[2].displayName, "003.pcm");
  EXPECT_TRUE(client.Slots()[2].metadata.is_null());
  EXPECT_TRUE(client.Projects().empty());
  EXPECT_EQ(Count(kCmdMetadata), 1u);  // the device information only
  EXPECT_EQ(client.ProjectsDirectoryId(), kSimProjectsDir);
}

TEST_F(ClientTest, FailedConnectionsLeaveTheClientClosed) {
  // No device at all.
  MemoryMidiSystem empty;
  CEPDeviceClient lonely(&empty);
  EXPECT_FALSE(lonely.Connect());
  EXPECT_EQ(lonely.LastError(),
            "Failed to connect to EP device. Please ensure it is connected via USB-MIDI and EP Sample Tool is not "
            "opened in any browser.");
  EXPECT_FALSE(lonely.ConnectAndLoadSlots());
  // Never connected: disconnecting only empties the lists.
  lonely.Disconnect();
  EXPECT_EQ(lonely.LastError(), "");
  EXPECT_TRUE(lonely.Slots().empty());
  EXPECT_FALSE(lonely.RefreshFileList());
  EXPECT_EQ(lonely.LastError(), "Not connected to device");

  // A device that answers the identity request but not the init.
  client.SetTimeScale(kShortScale);
  sim.InjectFault({.kind = SimFaultKind::NoReply, .command = kSimCmdInit, .times = 2});
  for (const bool forUpload : {false, true}) {
    EXPECT_FALSE(forUpload ? client.ConnectAndLoadSlots() : client.Connect());
    EXPECT_EQ(client.LastError(), "Handshake failed. Device might be busy or incompatible.");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_FALSE(client.IsOpen());
  }
  EXPECT_EQ(Count(kCmdList), 0u);
}

TEST_F(ClientTest, WithoutASoundsDirectoryEverySlotIsFree) {
  sim.WithState([](SimState& s) { s.files.Remove(kSimSoundsDir); });
  ASSERT_TRUE(client.Connect());
  EXPECT_EQ(client.SoundsDirectoryId(), 0);
  EXPECT_FALSE(client.DeviceInfoLoaded());
  ASSERT_EQ(client.Slots().size(), 999u);
  EXPECT_TRUE(std::none_of(client.Slots().begin(), client.Slots().end(), [](auto& s) { return s.occupied; }));

  client.Disconnect();
  EXPECT_FALSE(client.IsConnected());
  EXPECT_FALSE(client.IsOpen());
  EXPECT_TRUE(client.Slots().empty());
  EXPECT_EQ(client.ProjectsDirectoryId(), 0);
}

// ---- Device events ----

class ClientEventTest : public SimClientTest {
 protected:
  void SetUp() override {
    SimClientTest::SetUp();
    sim.WithState([](SimState& s) {
      s.eventOnDelete = false;
      s.files.AddSound(12, "012.pcm", 100, R"({"name":"Kick"})");
    });
    ASSERT_TRUE(client.Connect());
    client.SetChangeListener([this](uint8_t code, uint16_t slot) { calls.push_back({code, slot}); });
    sim.ClearRequests();
  }

  std::vector<EPDeviceEvent> calls;
};

TEST_F(ClientEventTest, AnEmptyQueueRereadsTheSlotOnce) {
  sim.WithState([](SimState& s) {
    s.files.Find(12)->metadata = R"({"name":"Kick 2"})";
    s.files.Find(12)->size = 200;
  });
  client.ProcessAsyncEvents(12);
  EXPECT_EQ(Payloads(kCmdFileInfo), (std::vector<Bytes>{{0x0B, 0x00, 0x0C}}));
  EXPECT_EQ(calls, (std::vector<EPDeviceEvent>{{3, 12}}));
  EXPECT_EQ(client.Slots()[11].size, 200u);
  EXPECT_EQ(client.Slots()[11].displayName, "Kick 2");

  // The device says the file is gone: the slot is free.
  sim.WithState([](SimState& s) { s.files.Remove(12); });
  client.ProcessAsyncEvents(12);
  EXPECT_FALSE(client.Slots()[11].occupied);
  EXPECT_EQ(client.Slots()[11].fileId, 12);
  EXPECT_EQ(client.Slots()[11].displayName, "");
}

TEST_F(ClientEventTest, QueuedEventsAreAppliedToTheGivenSlot) {
  for (const EPDeviceEvent& event : std::vector<EPDeviceEvent>{{10, 500}, {8, 501}, {99, 502}}) {
    CEPDeviceClient::OnAsyncEvent(event.code, event.fileId, &client);
  }
  CEPDeviceClient::OnAsyncEvent(10, 1, nullptr);  // no client: nothing
  client.ProcessAsyncEvents(12);
  EXPECT_EQ(Count(kCmdFileInfo), 2u);  // for 10 and 8, not for 99
  EXPECT_EQ(calls, (std::vector<EPDeviceEvent>{{10, 12}, {8, 12}, {99, 12}}));
  EXPECT_TRUE(client.QueuedEvents().empty());

  // Codes 8 and 13 re-read a file that exists and leave a missing one.
  sim.WithState([](SimState& s) { s.files.Remove(12); });
  CEPDeviceClient::OnAsyncEvent(13, 12, &client);
  client.ProcessAsyncEvents(12);
  EXPECT_TRUE(client.Slots()[11].occupied);
}

TEST_F(ClientEventTest, SlotsWhoseInformationLooksLikeAnEventEndTheWalk) {
  // The file-information reply for slot 800 begins 03 20: the link reads it
  // as event 3 as well, so a walk over the live queue would feed itself.
  sim.WithState([](SimState& s) { s.files.AddSound(800, "800.pcm", 10, R"({"name":"Pad"})"); });
  client.ProcessAsyncEvents(800);
  EXPECT_EQ(Count(kCmdFileInfo), 1u);
  EXPECT_EQ(client.Slots()[799].displayName, "Pad");
  ASSERT_TRUE(sim.WaitUntilIdle(kTestDeadline));
  EXPECT_LE(client.QueuedEvents().size(), 1u);
  // Whether that reply's event came before the queue was emptied or after
  // (and is walked next time), every walk asks once.
  client.ProcessAsyncEvents(800);
  EXPECT_EQ(Count(kCmdFileInfo), 2u);
}

TEST_F(ClientEventTest, AnUnansweredRequestLeavesTheSlotAsItWas) {
  client.SetTimeScale(kShortScale);
  sim.InjectFault({.kind = SimFaultKind::NoReply, .command = kSimCmdFileInfo});
  client.ProcessAsyncEvents(12);
  EXPECT_TRUE(client.Slots()[11].occupied);
  EXPECT_EQ(client.Slots()[11].displayName, "Kick");
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(ClientEventTest, TheQueueKeepsTheNewestEvents) {
  for (uint16_t id = 0; id < 1000; ++id) sim.SendEvent({0x09, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)});
  const auto deadline = std::chrono::steady_clock::now() + kTestDeadline;
  std::vector<EPDeviceEvent> queued;
  do {
    std::this_thread::sleep_for(1ms);
    queued = client.QueuedEvents();
  } while ((queued.empty() || queued.back().fileId != 999) && std::chrono::steady_clock::now() < deadline);
  ASSERT_EQ(queued.size(), CEPDeviceClient::kMaxQueuedEvents);
  EXPECT_EQ(queued.front(), (EPDeviceEvent{9, 1000 - CEPDeviceClient::kMaxQueuedEvents}));
  EXPECT_EQ(queued.back(), (EPDeviceEvent{9, 999}));
}

// ---- Capabilities ----

TEST_F(ClientTest, CapabilitiesNeedTheDeviceInformation) {
  std::vector<EPAudioFormat> formats(3);
  EXPECT_FALSE(client.GetAudioFormatCaps(formats));
  EXPECT_TRUE(formats.empty());
  EXPECT_EQ(client.LastError(), "Device info not available. Call RefreshFileList() first.");

  SetDeviceInfo(R"({"free_space_in_bytes":9,"formats":[{"type":"pcm","formats":[{"samplerate.range":[22050,48000],)"
                R"("channels":[1,2],"format":["s16"]}]}]})");
  ASSERT_TRUE(client.Connect());
  ASSERT_TRUE(client.GetAudioFormatCaps(formats));
  EXPECT_EQ(formats, (std::vector<EPAudioFormat>{{"pcm", 22050, 48000, 35025, {1, 2}, {"s16"}}}));
  EXPECT_EQ(client.LastError(), "");
  EXPECT_EQ(Count(kCmdMetadata), 1u);
}

// ---- Project trees ----

TEST_F(ClientTest, ProjectTreeHoldsGroupsBanksAndPads) {
  sim.WithState([](SimState& s) {
    s.files.AddDirectory(3001, kSimProjectsDir, "P01", R"({"name":"P1","bpm":120})");
    s.files.AddDirectory(3100, 3001, "g1", R"({"g":1})");
    s.files.Add({3150, 3001, kSimFlagUser, 3, "settings", {}, {}});  // a file in the project: left out
    s.files.AddDirectory(3200, 3100, "b1");
    s.files.Add({3250, 3100, kSimFlagUser, 3, "loose", {}, {}});  // a file in the group: left out
    s.files.Add({3300, 3200, kSimFlagUser, 10, "pad1", R"({"sym":12})", {}});
    s.files.AddDirectory(3301, 3200, "pad2", "not json");
    s.files.Add({3302, 3200, kSimFlagUser, 4, "pad3", R"({"sym":5})", {}});
    s.files.AddDirectory(3002, kSimProjectsDir, "P02", "[1,2]");
  });
  EXPECT_TRUE(client.GetProjectTree(3001).is_null());  // not connected
  ASSERT_TRUE(client.Connect());
  sim.ClearRequests();

  const EPJson tree = client.GetProjectTree(3001);
  EXPECT_EQ(DumpDeviceJson(tree),
            R"({"name":"P1","bpm":120,"groups":[{"id":3100,"name":"g1","metadata":{"g":1},"banks":[{"id":3200,)"
            R"("name":"b1","pads":[{"id":3300,"name":"pad1","size":10,"isDir":false,"metadata":{"sym":12}},)"
            R"({"id":3301,"name":"pad2","size":0,"isDir":true},{"id":3302,"name":"pad3","size":4,"isDir":false,)"
            R"("metadata":{"sym":5}}]}]}]})");
  // One metadata read per project, group, bank and pad; one listing (and the
  // empty page that ends it) per project, group and bank.
  EXPECT_EQ(Count(kCmdMetadata), 6u);
  EXPECT_EQ(Count(kCmdList), 6u);
  EXPECT_EQ(CollectUsedSoundIds(tree), (std::vector<uint16_t>{5, 12}));

  // Metadata that is no object starts an empty one.
  EXPECT_EQ(DumpDeviceJson(client.GetProjectTree(3002)), R"({"groups":[]})");
}

}  // namespace
}  // namespace zandrel::test
