// The device command set: the reply parsers on their own, then every command
// end to end against the simulated device, with the faults a device can show.
#include "device/device_protocol.h"

#include <gtest/gtest.h>

#include "link_fixture.h"
#include "support/wav_builder.h"

namespace zandrel::test {
namespace {

using Clock = std::chrono::steady_clock;

// ---- Parsers ----

TEST(InitReply, MaximumMessageSize) {
  struct Case {
    Bytes payload;
    std::optional<uint32_t> size;
  };
  const Case cases[] = {
      {{0x00, 0x00, 0x01, 0x00, 0x00}, 65536},
      {{0x00, 0x00, 0x01, 0x00, 0x01}, 512},  // above 65536
      {{0x00, 0x00, 0x00, 0x00, 0x00}, 512},  // zero
      {{0x00, 0x00, 0x00, 0x10, 0x00, 0x99}, 4096},
      {{0x00, 0x00, 0x00, 0x00, 0x15}, 21},
      {{0x00, 0x00, 0x01, 0x00}, std::nullopt},  // 4 bytes
      {{}, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseInitReply(c.payload), c.size);
}

TEST(ListingPage, EntriesFromByteTwo) {
  const Bytes page = {0x00, 0x00, 0x00, 0x05, 0x10, 0x00, 0x00, 0x12, 0x34, 0x61,
                      0x00, 0x00, 0x06, 0x12, 0x00, 0x00, 0x00, 0x01};
  const std::vector<EPFileEntry> entries = ParseListingPage(page, 9);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], (EPFileEntry{5, 9, 4660, 0x10, "a"}));
  EXPECT_EQ(entries[1], (EPFileEntry{6, 9, 1, 0x12, ""}));  // the payload ends after the size

  for (size_t size = 0; size <= 8; ++size) {
    EXPECT_TRUE(ParseListingPage(Bytes(size, 0x41), 0).empty()) << size;
  }
  // A name without its zero byte runs to the end of the payload.
  EXPECT_EQ(ParseListingPage(Bytes{0, 0, 0, 1, 2, 0, 0, 0, 3, 'x', 'y'}, 0)[0].name, "xy");
}

TEST(FileInfoRecord, FromByteZero) {
  const Bytes record = {0x00, 0x0C, 0x07, 0xD0, 0x12, 0x00, 0x01, 0x00, 0x00, '0', '1', '2', 0x00, 'z'};
  EXPECT_EQ(ParseFileInfoRecord(record), (EPFileEntry{12, 2000, 65536, 0x12, "012"}));
  EXPECT_EQ(ParseFileInfoRecord(Bytes(record.begin(), record.begin() + 9))->name, "");
  EXPECT_FALSE(ParseFileInfoRecord(Bytes(record.begin(), record.begin() + 8)));
}

TEST(MetadataPage, TextUpToTheZeroByte) {
  struct Case {
    Bytes payload;
    std::string text;
    bool last;
  };
  const Case cases[] = {
      {{0x00, 0x00, 'a', 'b'}, "ab", false},
      {{0x00, 0x00, 'c', 'd', 0x00, 'e'}, "cd", true},
      {{0x00, 0x00, 0x00}, "", true},
      {{0x00, 0x00}, "", true},
      {{0x00}, "", true},
  };
  for (const Case& c : cases) {
    const MetadataPage page = ParseMetadataPage(c.payload);
    EXPECT_EQ(page.text, c.text);
    EXPECT_EQ(page.last, c.last);
  }
}

TEST(FreeSpaceText, KeyNumberAndEnd) {
  struct Case {
    const char* text;
    FreeSpaceResult result;
    uint32_t free;
  };
  const Case cases[] = {
      {R"({"free_space_in_bytes":1000,"max_capacity":2})", FreeSpaceResult::Ok, 1000},
      {R"({"free_space_in_bytes": 1000})", FreeSpaceResult::Ok, 1000},
      {R"({"free_space_in_bytes":	4294967295 })", FreeSpaceResult::Ok, 4294967295u},
      {R"({"free_space_in_bytes":4294967296})", FreeSpaceResult::BadNumber, 0},
      {R"({"free_space_in_bytes":abc})", FreeSpaceResult::BadNumber, 0},
      {R"({"free_space_in_bytes":-5})", FreeSpaceResult::BadNumber, 0},
      {R"({"free_space_in_bytes":})", FreeSpaceResult::BadNumber, 0},
      {R"({"free_space_in_bytes":1000)", FreeSpaceResult::Ok, 0},  // nothing ends the number
      {R"({"free_space_in_bytes" : 1000})", FreeSpaceResult::KeyMissing, 0},
      {R"({"free_space":1000})", FreeSpaceResult::KeyMissing, 0},
      {"", FreeSpaceResult::KeyMissing, 0},
  };
  for (const Case& c : cases) {
    uint32_t free = 77;
    EXPECT_EQ(ParseFreeSpace(c.text, free), c.result) << c.text;
    if (c.result == FreeSpaceResult::Ok) {
      EXPECT_EQ(free, c.free) << c.text;
    }
  }
}

// ---- Commands against the simulated device ----

using CommandTest = SimLinkTest;

TEST_F(CommandTest, InitSetsTheMaximumMessageSize) {
  EXPECT_EQ(link.MaxMessageSize(), 512u);
  sim.WithState([](SimState& s) { s.maxMessageSize = 4096; });
  ASSERT_TRUE(link.InitDevice());
  EXPECT_EQ(link.MaxMessageSize(), 4096u);
  EXPECT_EQ(Payloads(kCmdInit), (std::vector<Bytes>{{0x01, 0x01, 0x00, 0x40, 0x00, 0x00}}));

  link.SetTimeScale(kShortScale);
  struct Case {
    SimFault fault;
    bool ok;
    uint32_t size;
  };
  const Case cases[] = {
      {{.kind = SimFaultKind::ReplacePayload, .bytes = {0x00, 0x00, 0x01, 0x00, 0x00}}, true, 65536},
      {{.kind = SimFaultKind::ReplacePayload, .bytes = {0x00, 0x00, 0x01, 0x00, 0x01}}, true, 512},
      {{.kind = SimFaultKind::ReplacePayload, .bytes = {0x00, 0x00, 0x00, 0x00, 0x00}}, true, 512},
      {{.kind = SimFaultKind::TruncatePayload, .size = 4}, false, 4096},
      {{.kind = SimFaultKind::ErrorStatus, .status = 3}, false, 4096},
      {{.kind = SimFaultKind::NoReply}, false, 4096},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(link.InitDevice());  // back to 4096
    sim.InjectFault(c.fault);
    EXPECT_EQ(link.InitDevice(), c.ok) << int(c.fault.kind);
    EXPECT_EQ(link.MaxMessageSize(), c.size) << int(c.fault.kind);
  }
}

TEST_F(CommandTest, ListingReadsPagesUntilAShortOne) {
  sim.WithState([](SimState& s) {
    s.listEntriesPerPage = 8;
    for (uint16_t slot = 1; slot <= 20; ++slot) s.files.AddSound(slot, "s" + std::to_string(slot), slot * 100u);
    s.files.AddSound(1001, "extra", 5, {}, 0);
  });
  const std::vector<EPFileEntry> entries = link.ListDirectory(kSimSoundsDir);
  ASSERT_EQ(entries.size(), 21u);
  EXPECT_EQ(entries[0], (EPFileEntry{1, kSimSoundsDir, 100, kSimFlagUser, "s1"}));
  EXPECT_EQ(entries[19], (EPFileEntry{20, kSimSoundsDir, 2000, kSimFlagUser, "s20"}));
  EXPECT_EQ(entries[20], (EPFileEntry{1001, kSimSoundsDir, 5, 0, "extra"}));
  // Pages 0-2 hold entries, page 3 holds none and ends the listing.
  const std::vector<Bytes> requests = Payloads(kCmdList);
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0], (Bytes{0x04, 0x00, 0x00, 0x07, 0xD0}));
  EXPECT_EQ(requests[3], (Bytes{0x04, 0x00, 0x03, 0x07, 0xD0}));

  const std::vector<EPFileEntry> root = link.ListDirectory(kSimRootDir);
  ASSERT_EQ(root.size(), 2u);
  EXPECT_EQ(root[0], (EPFileEntry{kSimSoundsDir, kSimRootDir, 0, kSimFlagDir, "sounds"}));
  EXPECT_EQ(root[1].name, "projects");
}

TEST_F(CommandTest, ListingEndsAtAMissingReplyOrAnErrorWithWhatItHas) {
  link.SetTimeScale(kShortScale);
  sim.WithState([](SimState& s) {
    s.listEntriesPerPage = 2;
    for (uint16_t slot = 1; slot <= 6; ++slot) s.files.AddSound(slot, "x", 1);
  });
  struct Case {
    SimFault fault;
    size_t entries;
  };
  const Case cases[] = {
      {{.kind = SimFaultKind::NoReply, .command = kSimCmdList, .skip = 1}, 2},
      {{.kind = SimFaultKind::ErrorStatus, .command = kSimCmdList, .skip = 2}, 4},
      {{.kind = SimFaultKind::ReplacePayload, .command = kSimCmdList, .bytes = {0x00, 0x00}}, 0},
      {{.kind = SimFaultKind::WrongSequence, .command = kSimCmdList, .skip = 1}, 2},
      {{.kind = SimFaultKind::ReplyFlags, .command = kSimCmdList, .skip = 1, .flags = 0x62}, 2},
      {{.kind = SimFaultKind::LateReply, .command = kSimCmdList, .skip = 1, .delay = 300ms}, 2},
  };
  for (const Case& c : cases) {
    sim.InjectFault(c.fault);
    EXPECT_EQ(link.ListDirectory(kSimSoundsDir).size(), c.entries) << int(c.fault.kind);
    ASSERT_TRUE(sim.WaitUntilIdle(kTestDeadline));
  }
  // The late reply came after its request had given up and was not taken
  // for the next one.
  EXPECT_EQ(link.ListDirectory(kSimSoundsDir).size(), 6u);
}

TEST_F(CommandTest, APageWithoutAnEntryDoesNotEndTheListing) {
  // Pages 0 and 2 hold 3 to 8 bytes (no entry), page 4 is short.
  sim.SetHandler(kSimCmdList, [](const SimRequest& request, SimState&) {
    const int page = (request.payload[1] << 8) | request.payload[2];
    switch (page) {
      case 1: return SimReply::Ok(Bytes{0, 0, 0x00, 0x07, 0x10, 0, 0, 0, 1, 'a', 0});
      case 3: return SimReply::Ok(Bytes{0, 0, 0x00, 0x08, 0x10, 0, 0, 0, 2, 'b', 0});
      case 4: return SimReply::Ok(Bytes{0, 0});
      default: return SimReply::Ok(Bytes(static_cast<size_t>(3 + page), 0x00));
    }
  });
  const std::vector<EPFileEntry> entries = link.ListDirectory(kSimRootDir);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], (EPFileEntry{7, kSimRootDir, 1, 0x10, "a"}));
  EXPECT_EQ(entries[1], (EPFileEntry{8, kSimRootDir, 2, 0x10, "b"}));
  EXPECT_EQ(Payloads(kCmdList).size(), 5u);
  EXPECT_EQ(err.Text(), "");
}

TEST_F(CommandTest, ListingIsBoundedAgainstADeviceThatNeverEndsIt) {
  // Pages without any entry: 3 to 8 bytes, for ever.
  sim.SetHandler(kSimCmdList, [](const SimRequest&, SimState&) { return SimReply::Ok(Bytes(5, 0x00)); });
  EXPECT_TRUE(link.ListDirectory(kSimRootDir).empty());
  EXPECT_EQ(Payloads(kCmdList).size(), kMaxListPages);
  EXPECT_TRUE(err.WaitFor("[Warning] Listing of directory 0 did not end; stopped after 4096 pages.\n"));

  // The same page again and again: its files once each.
  sim.ClearRequests();
  err.Clear();
  sim.SetHandler(kSimCmdList, [](const SimRequest&, SimState&) {
    return SimReply::Ok(Bytes{0, 0, 0x00, 0x07, 0x10, 0, 0, 0, 1, 'a', 0, 0x00, 0x08, 0x10, 0, 0, 0, 1, 'b', 0});
  });
  EXPECT_EQ(link.ListDirectory(kSimRootDir).size(), 2u);
  EXPECT_EQ(Payloads(kCmdList).size(), kMaxListPages);

  // A new entry on every page, for ever.
  sim.ClearRequests();
  sim.SetHandler(kSimCmdList, [](const SimRequest& request, SimState&) {
    const uint16_t id = static_cast<uint16_t>(((request.payload[1] << 8) | request.payload[2]) + 1);
    return SimReply::Ok(Bytes{0, 0, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0x10, 0, 0, 0, 1, 0});
  });
  EXPECT_EQ(link.ListDirectory(kSimRootDir).size(), kMaxListPages);
  EXPECT_EQ(Payloads(kCmdList).size(), kMaxListPages);
  EXPECT_TRUE(err.WaitFor("[Warning] Listing of directory 0 did not end; stopped after 4096 pages.\n"));
}

TEST_F(CommandTest, FileInformationTellsMissingFromUnanswered) {
  sim.WithState([](SimState& s) { s.files.AddSound(12, "012.pcm", 65536, {}, 0x12); });
  EPFileInfoStatus status = EPFileInfoStatus::NoAnswer;
  EXPECT_EQ(link.GetFileInfo(12, &status), (EPFileEntry{12, kSimSoundsDir, 65536, 0x12, "012.pcm"}));
  EXPECT_EQ(status, EPFileInfoStatus::Found);
  EXPECT_EQ(Payloads(kCmdFileInfo), (std::vector<Bytes>{{0x0B, 0x00, 0x0C}}));

  link.SetTimeScale(kShortScale);
  struct Case {
    std::optional<SimFault> fault;
    uint16_t id;
    EPFileInfoStatus status;
  };
  const Case cases[] = {
      {std::nullopt, 13, EPFileInfoStatus::Missing},  // no such file: the device says so
      {SimFault{.kind = SimFaultKind::TruncatePayload, .size = 8}, 12, EPFileInfoStatus::Missing},
      {SimFault{.kind = SimFaultKind::NoReply}, 12, EPFileInfoStatus::NoAnswer},
      {SimFault{.kind = SimFaultKind::ErrorStatus}, 12, EPFileInfoStatus::Missing},
  };
  for (const Case& c : cases) {
    if (c.fault) sim.InjectFault(*c.fault);
    const EPFileEntry entry = link.GetFileInfo(c.id, &status);
    EXPECT_EQ(entry, EPFileEntry{}) << c.id;
    EXPECT_EQ(status, c.status) << c.id;
  }
}

TEST_F(CommandTest, DeleteRemovesUserSoundsAndReportsOnTheConsole) {
  sim.WithState([](SimState& s) {
    s.files.AddSound(12, "user", 10);
    s.files.AddSound(13, "factory", 10, {}, 0x00);
  });
  ASSERT_TRUE(link.DeleteFile(12));
  EXPECT_EQ(Payloads(kCmdDelete), (std::vector<Bytes>{{0x06, 0x00, 0x0C}}));
  EXPECT_TRUE(sim.WithState([](SimState& s) { return s.files.Find(12) == nullptr; }));
  // The device announces the deletion afterwards.
  ASSERT_TRUE(events.WaitForCount(1));
  EXPECT_EQ(events.Events()[0], (EPDeviceEvent{kEventFileDeleted, 12}));
  // The reply's line and the event's line come from two threads.
  EXPECT_TRUE(out.WaitFor("[Success] Deleted file ID 12\n"));
  EXPECT_TRUE(out.WaitFor("[Async Event] File Deleted: 12\n"));

  EXPECT_FALSE(link.DeleteFile(13));
  sim.InjectFault({.kind = SimFaultKind::ErrorStatus, .status = 5});
  EXPECT_FALSE(link.DeleteFile(13));
  link.SetTimeScale(kShortScale);
  sim.InjectFault({.kind = SimFaultKind::NoReply});
  EXPECT_FALSE(link.DeleteFile(13));
  EXPECT_EQ(err.Text(),
            "[Error] Failed to delete file ID 13. Status: 1 (Likely protected/factory content or invalid ID)\n"
            "[Error] Failed to delete file ID 13. Status: 5 (Likely protected/factory content or invalid ID)\n"
            "[Error] Delete request timed out.\n");
}

TEST_F(CommandTest, CommandsThatNeedThePortsSendNothingWhileClosed) {
  link.CloseLink();
  sim.ClearRequests();
  EXPECT_FALSE(link.DeleteFile(1));
  EXPECT_FALSE(link.NotifySoundSelected(1));
  EXPECT_FALSE(link.SetMetadata(1, "{}"));
  EXPECT_FALSE(link.CheckFreeSpace(1, kSimSoundsDir));
  EXPECT_TRUE(sim.WaitUntilIdle(kTestDeadline));
  EXPECT_TRUE(sim.Requests().empty());
  EXPECT_EQ(err.Text(), "");
}

TEST_F(CommandTest, SelectNoticeWaitsHalfASecond) {
  sim.WithState([](SimState& s) { s.files.AddSound(7, "x", 1); });
  // The nominal limit is what counts; a busy machine gets the simulator's
  // reply more time to arrive.
  link.SetTimeScale(20);
  EXPECT_TRUE(link.NotifySoundSelected(7));
  EXPECT_EQ(link.LastWaitLimitMs(), 500);
  EXPECT_EQ(Payloads(kCmdSoundSelect), (std::vector<Bytes>{{0x05, 0x01, 0x00, 0x07, 0, 0, 0, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(sim.WithState([](SimState& s) { return s.lastSelected; }), 7);
  link.SetTimeScale(kShortScale);
  sim.InjectFault({.kind = SimFaultKind::NoReply});
  EXPECT_FALSE(link.NotifySoundSelected(7));
  // An error status is still a reply.
  sim.InjectFault({.kind = SimFaultKind::ErrorStatus});
  EXPECT_TRUE(link.NotifySoundSelected(7));
}

TEST_F(CommandTest, MetadataIsReadPageByPage) {
  const std::string text = R"({"name":"kick","sound.rootnote":60,"sound.playmode":"oneshot"})";
  sim.WithState([&](SimState& s) {
    s.metadataPageBytes = 7;
    s.files.AddSound(3, "kick", 100, text);
  });
  EXPECT_EQ(link.GetMetadataPages(3), text);
  const std::vector<Bytes> requests = Payloads(kCmdMetadata);
  ASSERT_EQ(requests.size(), (text.size() + 1 + 6) / 7);  // the text and its zero byte
  EXPECT_EQ(requests[0], (Bytes{0x07, 0x02, 0x00, 0x03, 0x00, 0x00}));
  EXPECT_EQ(requests[1], (Bytes{0x07, 0x02, 0x00, 0x03, 0x00, 0x01}));

  // A text that exactly fills its pages ends with a page holding the zero
  // byte alone.
  sim.WithState([](SimState& s) { s.files.AddSound(4, "x", 1, "abcdefg"); });
  EXPECT_EQ(link.GetMetadataPages(4), "abcdefg");
  EXPECT_EQ(link.GetMetadataPages(kSimSoundsDir), SimFileSystem::DeviceInfoJson(8000000));
}

TEST_F(CommandTest, MetadataPagesEndAtTheZeroByteAndFailAsAWhole) {
  link.SetTimeScale(kShortScale);
  struct Case {
    std::vector<SimFault> faults;
    std::string text;
    std::string error;
  };
  const auto page = [](int skip, Bytes bytes) {
    return SimFault{.kind = SimFaultKind::ReplacePayload, .skip = skip, .bytes = std::move(bytes)};
  };
  const Case cases[] = {
      {{page(0, {0, 0, 'a', 'b'}), page(0, {0, 0, 'c', 'd', 0, 'e'})}, "abcd", ""},
      {{page(0, {0, 0, 'a', 'b'}), page(0, {0, 0})}, "ab", ""},  // no text byte
      {{page(0, {0, 0, 'a', 'b'}), page(0, {0})}, "ab", ""},     // shorter than 2 bytes
      {{page(0, {0, 0, 'a', 'b'}), {.kind = SimFaultKind::NoReply}}, "", "[Error] Failed to fetch metadata page 1\n"},
      {{page(0, {0, 0, 'a', 'b'}), {.kind = SimFaultKind::ErrorStatus}}, "", "[Error] Failed to fetch metadata page 1\n"},
      {{{.kind = SimFaultKind::WrongSequence}}, "", "[Error] Failed to fetch metadata page 0\n"},
  };
  for (const Case& c : cases) {
    err.Clear();
    for (const SimFault& fault : c.faults) sim.InjectFault(fault);
    EXPECT_EQ(link.GetMetadataPages(1), c.text);
    EXPECT_EQ(err.Text(), c.error);
    sim.ClearFaults();
    ASSERT_TRUE(sim.WaitUntilIdle(kTestDeadline));
  }
}

TEST_F(CommandTest, MetadataReadingIsBounded) {
  // Pages that never hold the zero byte.
  sim.SetHandler(kSimCmdMetadata, [](const SimRequest&, SimState&) { return SimReply::Ok(Bytes{0, 0, 'x'}); });
  EXPECT_EQ(link.GetMetadataPages(1), "");
  EXPECT_EQ(Payloads(kCmdMetadata).size(), kMaxMetadataPages);
  EXPECT_EQ(err.Text(), "[Error] Metadata of file 1 did not end; stopped after 4096 pages.\n");

  // Large pages: the text stops growing at the byte bound.
  err.Clear();
  sim.ClearRequests();
  sim.SetHandler(kSimCmdMetadata, [](const SimRequest&, SimState&) {
    Bytes page(50000, 'y');  // packed, still within the 64 KiB a message may have
    page[0] = page[1] = 0;
    return SimReply::Ok(page);
  });
  EXPECT_EQ(link.GetMetadataPages(1), "");
  EXPECT_EQ(Payloads(kCmdMetadata).size(), kMaxMetadataBytes / 49998 + 1);
  EXPECT_EQ(err.Text(), "[Error] Metadata of file 1 did not end; stopped after 21 pages.\n");
}

TEST_F(CommandTest, MetadataOfUpTo256BytesIsSetInOneMessage) {
  sim.WithState([](SimState& s) { s.files.AddSound(9, "x", 1, "old"); });
  const std::string text(256, 'm');
  ASSERT_TRUE(link.SetMetadata(9, text));
  EXPECT_EQ(Payloads(kCmdMetadata), (std::vector<Bytes>{Cat({{0x07, 0x01, 0x00, 0x09}, Text(text), {0x00}})}));
  EXPECT_EQ(sim.WithState([](SimState& s) { return s.files.Find(9)->metadata; }), text);
}

TEST_F(CommandTest, LongerMetadataIsSetInPieces) {
  sim.WithState([](SimState& s) { s.files.AddSound(9, "x", 1, "old"); });
  std::string text(257, 'p');
  text.back() = 'q';
  ASSERT_TRUE(link.SetMetadata(9, text));
  EXPECT_EQ(Payloads(kCmdMetadata), (std::vector<Bytes>{
                                        {0x07, 0x04, 0x00, 0x00, 0x09, 0x00, 0x00, 0x01, 0x01},
                                        Cat({{0x07, 0x04, 0x01, 0x00, 0x00}, Bytes(256, 'p')}),
                                        {0x07, 0x04, 0x01, 0x00, 0x01, 'q'},
                                        {0x07, 0x04, 0x01, 0x00, 0x02},
                                    }));
  EXPECT_EQ(sim.WithState([](SimState& s) { return s.files.Find(9)->metadata; }), text);

  // A failing piece ends the exchange at once.
  sim.ClearRequests();
  sim.InjectFault({.kind = SimFaultKind::ErrorStatus, .command = kSimCmdMetadata, .skip = 1});
  EXPECT_FALSE(link.SetMetadata(9, std::string(600, 'r')));
  EXPECT_EQ(Payloads(kCmdMetadata).size(), 2u);

  // A text whose piece count would not fit the 16-bit index is refused.
  sim.ClearRequests();
  EXPECT_FALSE(link.SetMetadata(9, std::string(kMaxMetadataSetBytes + 1, 'r')));
  EXPECT_TRUE(sim.WaitUntilIdle(kTestDeadline));
  EXPECT_TRUE(Payloads(kCmdMetadata).empty());
}

TEST_F(CommandTest, FreeSpaceIsCheckedAgainstTheDeviceInformation) {
  struct Case {
    std::string metadata;
    uint32_t required;
    bool ok;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {R"({"free_space_in_bytes":1000,"max_capacity":9})", 999, true,
       "[Info] Free Space: 1000 bytes. Required: 999 bytes.\n", ""},
      {R"({"free_space_in_bytes":1000,"max_capacity":9})", 1000, false,
       "[Info] Free Space: 1000 bytes. Required: 1000 bytes.\n", "[Error] Not enough space on device.\n"},
      {R"({"free_space_in_bytes": 1000})", 10, true, "[Info] Free Space: 1000 bytes. Required: 10 bytes.\n", ""},
      {R"({"free_space_in_bytes":abc})", 10, false, "", "[Error] Could not parse free space number.\n"},
      {R"({"free_space_in_bytes":1000)", 0, false, "[Info] Free Space: 0 bytes. Required: 0 bytes.\n",
       "[Error] Not enough space on device.\n"},
      {R"({"max_capacity":9})", 10, false, "", "[Error] 'free_space_in_bytes' key not found in metadata.\n"},
      {"", 10, false, "", "[Error] Metadata response was empty.\n"},
  };
  for (const Case& c : cases) {
    out.Clear();
    err.Clear();
    sim.WithState([&](SimState& s) { s.files.Find(kSimSoundsDir)->metadata = c.metadata; });
    EXPECT_EQ(link.CheckFreeSpace(c.required, kSimSoundsDir), c.ok) << c.metadata;
    EXPECT_EQ(out.Text(), c.out) << c.metadata;
    EXPECT_EQ(err.Text(), c.err) << c.metadata;
  }
}

TEST_F(CommandTest, ProjectsDirectoryIsTheRootDirectoryNamedProjects) {
  EXPECT_EQ(link.FindProjectsDirectory(), kSimProjectsDir);
  sim.WithState([](SimState& s) {
    s.files.Remove(kSimProjectsDir);
    SimFile file;
    file.id = 1500;
    file.name = "projects";  // a file, not a directory
    s.files.Add(file);
    s.files.AddDirectory(1600, kSimRootDir, "Projects");
  });
  EXPECT_EQ(link.FindProjectsDirectory(), 0xFFFF);
  sim.WithState([](SimState& s) { s.files.AddDirectory(1700, kSimRootDir, "projects"); });
  EXPECT_EQ(link.FindProjectsDirectory(), 1700);
}

TEST_F(CommandTest, RepliesOutOfTheOrdinaryLeaveTheNextCommandIntact) {
  link.SetTimeScale(kShortScale);
  sim.WithState([](SimState& s) { s.files.AddSound(5, "x", 1, "meta"); });
  // A duplicate reply, an event before the reply, and a reply without its
  // sequence bit (taken as number 0, so not as this request's answer).
  sim.InjectFault({.kind = SimFaultKind::DuplicateReply});
  EXPECT_EQ(link.GetMetadataPages(5), "meta");
  sim.InjectFault({.kind = SimFaultKind::EventBeforeReply, .bytes = {0x09, 0x05, 0x00}});
  EXPECT_EQ(link.GetMetadataPages(5), "meta");
  EXPECT_TRUE(events.WaitForCount(1));
  EXPECT_EQ(events.Events()[0], (EPDeviceEvent{9, 5}));
  sim.InjectFault({.kind = SimFaultKind::ReplyFlags, .flags = 0x00});
  EXPECT_EQ(link.GetMetadataPages(5), "");
  // An oversized page is read as it comes.
  sim.InjectFault({.kind = SimFaultKind::ExtendPayload, .size = 40000, .fill = 'z'});
  EXPECT_EQ(link.GetMetadataPages(5), "meta");
  ASSERT_TRUE(sim.WaitUntilIdle(kTestDeadline));
  EXPECT_EQ(link.GetMetadataPages(5), "meta");
  EXPECT_EQ(link.ListDirectory(kSimRootDir).size(), 2u);
}

TEST_F(CommandTest, AnUnpluggedDeviceCostsTwoLimitsPerOperation) {
  const double scale = 0.05;  // 250 ms per limit
  link.SetTimeScale(scale);
  sim.WithState([](SimState& s) {
    s.listEntriesPerPage = 1;
    for (uint16_t slot = 1; slot <= 10; ++slot) s.files.AddSound(slot, "x", 1, "{}");
  });
  sim.InjectFault({.kind = SimFaultKind::Unplug, .command = kSimCmdList, .skip = 6});
  const auto start = Clock::now();
  std::vector<EPFileEntry> entries = link.ListDirectory(kSimSoundsDir);
  EXPECT_EQ(entries.size(), 6u);
  {
    // What a client does next: one metadata read per sound, as one operation.
    CEPSysExLink::OperationScope operation(link);
    for (const EPFileEntry& entry : entries) EXPECT_EQ(link.GetMetadataPages(entry.id), "");
  }
  const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  // Three limits (the listing's and the first two reads'); seven without
  // the fail-fast rule.
  EXPECT_GE(elapsed, 3 * CEPSysExLink::kReplyLimitMs * scale);
  EXPECT_LT(elapsed, 5 * CEPSysExLink::kReplyLimitMs * scale);
  std::string failures;
  for (int i = 0; i < 6; ++i) failures += "[Error] Failed to fetch metadata page 0\n";
  EXPECT_EQ(err.Text(), failures);

  // Plugged in again, the device answers the next operation.
  sim.SetUnplugged(false);
  EXPECT_EQ(link.ListDirectory(kSimSoundsDir).size(), 10u);
}

}  // namespace
}  // namespace zandrel::test
