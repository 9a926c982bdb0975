// The transport: port discovery, the identity exchange, pairing replies with
// requests, events, time limits, and closing while messages flow. The far
// end here is a bare pair of memory ports that the test drives byte by byte.
#include "device/sysex_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "link_fixture.h"

namespace zandrel::test {
namespace {

using SysexLinkClock = std::chrono::steady_clock;

Bytes Identity(uint8_t device, bool full = true) {
  if (!full) return {0xF0, 0x7E, device, 0x06, 0x02, 0x00, 0x20, 0xF7};
  return {0xF0, 0x7E, device, 0x06, 0x02, 0x00, 0x20, 0x76, 0x05, 0x01, 0x07, 0x00, 0x01, 0x00, 0x00, 0x00, 0xF7};
}

Bytes Reply(uint16_t sequence, const Bytes& payload = {}, uint8_t status = 0) {
  return SimDevice::ReplyFrame(0, sequence, status, payload);
}

Bytes Event(const Bytes& payload) { return SimDevice::ReplyFrame(0, 0, 0, payload, uint8_t{0x00}); }

double Millis(SysexLinkClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Polls |done| until it holds or the test deadline passes.
template <class Predicate>
bool Eventually(Predicate done) {
  const auto deadline = SysexLinkClock::now() + kTestDeadline;
  while (!done()) {
    if (SysexLinkClock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return true;
}

// A device port pair driven by the test: what the link sends is recorded,
// what the test delivers reaches the link's input callback.
class RawPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ports = midi.AddDevice("EP-133");
    ports.fromHost->Connect([this](std::span<const uint8_t> message) {
      std::lock_guard lock(mutex);
      received.emplace_back(message.begin(), message.end());
      if (identity && message.size() == 6 && message[1] == 0x7E) ports.toHost->Post(*identity);
      grew.notify_all();
    });
    link.SetConsole(&out, &err);
    link.SetEventCallback([this](const EPDeviceEvent& event) { events.Record(event); });
  }
  void TearDown() override {
    link.CloseLink();
    ports.fromHost->Disconnect();
  }

  void Open() { ASSERT_TRUE(link.OpenLink()); }
  void AnswerIdentityWith(std::optional<Bytes> reply) {
    std::lock_guard lock(mutex);
    identity = std::move(reply);
  }
  // Hands |message| to the link and waits until the link has dealt with it.
  void Deliver(const Bytes& message) {
    ASSERT_TRUE(ports.toHost->Post(message));
    ASSERT_TRUE(ports.toHost->WaitUntilDelivered(kTestDeadline));
  }
  std::vector<Bytes> Received(size_t atLeast) {
    std::unique_lock lock(mutex);
    EXPECT_TRUE(grew.wait_for(lock, kTestDeadline, [&] { return received.size() >= atLeast; }));
    return received;
  }

  MemoryMidiSystem midi;
  MemoryMidiDevicePorts ports;
  std::mutex mutex;
  std::condition_variable grew;
  std::vector<Bytes> received;
  std::optional<Bytes> identity = Identity(0x00);
  ConsoleCapture out;
  ConsoleCapture err;
  EventRecorder events;
  CEPSysExLink link{&midi};
};

TEST(LinkPorts, OpensTheLastMatchingInputAndOutput) {
  MemoryMidiSystem midi;
  auto through = midi.AddInput("Midi Through Port-0");
  auto first = midi.AddInput("EP-133 MIDI 1");
  auto other = midi.AddInput("USB Keyboard");
  auto last = midi.AddInput("Teenage KO II MIDI 2");
  auto out = midi.AddOutput("EP-133 MIDI 1");
  auto synth = midi.AddOutput("Synth");
  CEPSysExLink link(&midi);
  link.SetTimeScale(kShortScale);
  ASSERT_TRUE(link.OpenLink());
  EXPECT_TRUE(link.IsOpen());
  EXPECT_TRUE(last->Connected());
  EXPECT_FALSE(first->Connected());
  EXPECT_EQ(out->OpenSenders(), 1);
  EXPECT_EQ(synth->OpenSenders(), 0);
  link.CloseLink();
  EXPECT_FALSE(last->Connected());
  EXPECT_EQ(out->OpenSenders(), 0);
}

TEST(LinkPorts, NothingOpensWithoutBothPorts) {
  MemoryMidiSystem midi;
  auto in = midi.AddInput("EP-133");
  auto out = midi.AddOutput("Synth");
  CEPSysExLink link(&midi);
  EXPECT_FALSE(link.OpenLink());
  EXPECT_FALSE(link.IsOpen());
  EXPECT_FALSE(in->Connected());
  EXPECT_EQ(out->OpenSenders(), 0);

  // An unplugged device is not listed.
  auto pair = midi.AddDevice("EP-1320");
  pair.fromHost->SetUnplugged(true);
  EXPECT_FALSE(link.OpenLink());
  EXPECT_FALSE(in->Connected());

  CEPSysExLink noMidi(nullptr);
  EXPECT_FALSE(noMidi.OpenLink());
}

TEST_F(RawPeerTest, IdentityReplySetsDeviceByteAndSku) {
  AnswerIdentityWith(Identity(0x21));
  Open();
  EXPECT_EQ(link.Sku(), "TE133AS007");
  EXPECT_EQ(link.DeviceByte(), 0x21);
  link.SendRequest(Bytes{0x0B, 0x00, 0x01});
  const std::vector<Bytes> frames = Received(2);
  EXPECT_EQ(frames[0], Bytes(kIdentityRequest.begin(), kIdentityRequest.end()));
  EXPECT_EQ(frames[1][4], 0x21);

  // A short identity reply after reopening sets the device byte only; the
  // SKU text survives the close.
  link.CloseLink();
  AnswerIdentityWith(Identity(0x05, false));
  Open();
  EXPECT_EQ(link.DeviceByte(), 0x05);
  EXPECT_EQ(link.Sku(), "TE133AS007");
}

TEST_F(RawPeerTest, OpensWithoutAnIdentityReply) {
  AnswerIdentityWith(std::nullopt);
  link.SetTimeScale(kShortScale);
  Open();
  EXPECT_EQ(link.Sku(), "");
  EXPECT_EQ(link.DeviceByte(), 0);
  // Opening an open link changes nothing and sends nothing.
  EXPECT_TRUE(link.OpenLink());
  EXPECT_EQ(Received(1).size(), 1u);
  link.CloseLink();
  link.CloseLink();
  EXPECT_FALSE(link.IsOpen());
}

TEST_F(RawPeerTest, ReplyArrivingBeforeTheWaitIsKept) {
  Open();
  const uint16_t seq = link.SendRequest(Bytes{0x01});
  Deliver(Reply(seq, {0x42}));
  link.SetTimeScale(0);  // the wait must not need any time
  EPReply reply;
  ASSERT_TRUE(link.WaitReply(seq, reply, CEPSysExLink::kReplyLimitMs));
  EXPECT_EQ(reply.sequence, seq);
  EXPECT_EQ(reply.payload, Bytes{0x42});
  // Waiting again for the same number finds it still.
  EXPECT_TRUE(link.WaitReply(seq, reply, CEPSysExLink::kReplyLimitMs));
}

TEST_F(RawPeerTest, AReplyForAnotherNumberDoesNotEndTheWait) {
  Open();
  link.SetTimeScale(kShortScale);
  uint16_t seq = 0;
  for (int i = 0; i < 9; ++i) seq = link.SendRequest(Bytes{0x01});
  ASSERT_EQ(seq, 8);
  Deliver(Reply(7));
  EPReply reply;
  const auto start = SysexLinkClock::now();
  EXPECT_FALSE(link.WaitReply(8, reply, CEPSysExLink::kReplyLimitMs));
  EXPECT_GE(Millis(SysexLinkClock::now() - start), CEPSysExLink::kReplyLimitMs * kShortScale);
  Deliver(Reply(8, {0x09}));
  ASSERT_TRUE(link.WaitReply(8, reply, CEPSysExLink::kReplyLimitMs));
  EXPECT_EQ(reply.payload, Bytes{0x09});
}

TEST_F(RawPeerTest, AMessageWithoutSequenceBitAnswersRequestZero) {
  Open();
  link.SetTimeScale(0);
  EPReply reply;
  const uint16_t first = link.SendRequest(Bytes{0x01});
  ASSERT_EQ(first, 0);
  Deliver(Event({0x42}));
  ASSERT_TRUE(link.WaitReply(0, reply, CEPSysExLink::kReplyLimitMs));
  EXPECT_EQ(reply.payload, Bytes{0x42});

  const uint16_t second = link.SendRequest(Bytes{0x01});
  Deliver(Event({0x42}));
  EXPECT_FALSE(link.WaitReply(second, reply, CEPSysExLink::kReplyLimitMs));
}

TEST_F(RawPeerTest, SequenceNumbersWrapAfter4096Requests) {
  Open();
  for (int i = 0; i < 4097; ++i) link.SendRequest({});
  const std::vector<Bytes> frames = Received(4098);  // the identity request first
  ASSERT_EQ(frames.size(), 4098u);
  auto bytes67 = [&](size_t request) { return Bytes{frames[request + 1][6], frames[request + 1][7]}; };
  EXPECT_EQ(bytes67(0), (Bytes{0x60, 0x00}));
  EXPECT_EQ(bytes67(300), (Bytes{0x62, 0x2C}));
  EXPECT_EQ(bytes67(4095), (Bytes{0x7F, 0x7F}));
  EXPECT_EQ(bytes67(4096), (Bytes{0x60, 0x00}));
}

TEST_F(RawPeerTest, EventsReachTheCallbackAndTheConsole) {
  Open();
  Deliver(Event({0x0A, 0x34, 0x12}));
  Deliver(Event({0x0D, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00}));
  Deliver(Event({0x03, 0x07, 0x00, 'k', 0x00}));
  Deliver(Event({0x08, 0x01}));        // too short
  Deliver(Event({0x63, 0x01, 0x00}));  // no such event
  EXPECT_EQ(out.Text(), "[Async Event] File Deleted: 4660\n[Async Event] Moved 1 -> 2\n");
  EXPECT_EQ(events.Events(), (std::vector<EPDeviceEvent>{{10, 4660}, {13, 2}, {3, 7}}));
}

TEST_F(RawPeerTest, AnAwaitedReplyIsAlsoLookedAtAsAnEvent) {
  Open();
  const uint16_t seq = link.SendRequest(Bytes{0x0B, 0x00, 0x01});
  Deliver(Reply(seq, {0x08, 0x01, 0x02}));
  EPReply reply;
  ASSERT_TRUE(link.WaitReply(seq, reply, CEPSysExLink::kReplyLimitMs));
  EXPECT_EQ(reply.payload, (Bytes{0x08, 0x01, 0x02}));
  EXPECT_EQ(events.Events(), (std::vector<EPDeviceEvent>{{8, 513}}));
}

TEST_F(RawPeerTest, OnlySystemExclusiveMessagesUpTo64KiBAreParsed) {
  Open();
  link.SetTimeScale(0);
  EPReply reply;
  // A reply of 65537 bytes is dropped, one of 65536 is taken.
  for (size_t total : {size_t{65537}, size_t{65536}}) {
    const uint16_t seq = link.SendRequest(Bytes{0x01});
    Bytes frame = Reply(seq);
    frame.pop_back();
    frame.resize(total - 1, 0x01);
    frame.push_back(0xF7);
    Deliver(frame);
    EXPECT_EQ(link.WaitReply(seq, reply, CEPSysExLink::kReplyLimitMs), total == 65536) << total;
  }
  // Channel messages are not the link's business.
  Deliver(Bytes{0x90, 0x3C, 0x7F});
  Deliver(Bytes{0xF0, 0xF7});
  EXPECT_TRUE(events.Events().empty());
}

TEST_F(RawPeerTest, RequestsLargerThanThePortCarriesAreNotSent) {
  ports.fromHost->SetMaxMessageBytes(16379);
  Open();
  // Frames can be 16378 or 16380 bytes long, never 16379.
  link.SendRequest(Bytes(14322, 0x55));
  EXPECT_EQ(Received(2)[1].size(), 16378u);
  const uint16_t seq = link.SendRequest(Bytes(14323, 0x55));
  EXPECT_EQ(err.Text(), "[Error] Request of 16380 bytes exceeds the MIDI port's limit of 16379 bytes; not sent.\n");
  EPReply reply;
  const auto start = SysexLinkClock::now();
  EXPECT_FALSE(link.WaitReply(seq, reply, CEPSysExLink::kReplyLimitMs));
  EXPECT_LT(Millis(SysexLinkClock::now() - start), 1000);
  ASSERT_TRUE(ports.fromHost->WaitUntilDelivered(kTestDeadline));
  EXPECT_EQ(Received(2).size(), 2u);
}

TEST_F(RawPeerTest, WaitsEndAtOnceWhenTheRequestCouldNotLeave) {
  // Closed: nothing to send into, so nothing to wait for.
  const auto start = SysexLinkClock::now();
  EXPECT_TRUE(link.ListDirectory(0).empty());
  EXPECT_EQ(link.GetMetadataPages(1), "");
  EXPECT_FALSE(link.InitDevice());
  EXPECT_LT(Millis(SysexLinkClock::now() - start), 1000);
  EXPECT_EQ(err.Text(), "[Error] Failed to fetch metadata page 0\n");

  // Open, but the cable has been pulled: the port refuses the frame.
  Open();
  ports.fromHost->SetUnplugged(true);
  EPFileInfoStatus status = EPFileInfoStatus::Found;
  const auto again = SysexLinkClock::now();
  EXPECT_EQ(link.GetFileInfo(3, &status).id, 0);
  EXPECT_EQ(status, EPFileInfoStatus::NoAnswer);
  EXPECT_LT(Millis(SysexLinkClock::now() - again), 1000);
}

TEST_F(RawPeerTest, AnOutputPortThatLostTheDeviceMakesTheOperationFailFast) {
  Open();
  const double scale = 0.05;  // a limit is 250 ms
  const double limit = CEPSysExLink::kReplyLimitMs * scale;
  link.SetTimeScale(scale);
  {
    CEPSysExLink::OperationScope operation(link);
    ports.fromHost->SetUnplugged(true);
    link.GetFileInfo(1);
    // The port takes messages again, but the device it lost does not answer:
    // the operation does not wait for it.
    ports.fromHost->SetUnplugged(false);
    const auto start = SysexLinkClock::now();
    for (int i = 0; i < 4; ++i) link.GetFileInfo(2);
    EXPECT_LT(Millis(SysexLinkClock::now() - start), limit);
  }
  // The next operation tries again with its full limit.
  const auto start = SysexLinkClock::now();
  link.GetFileInfo(3);
  EXPECT_GE(Millis(SysexLinkClock::now() - start), limit);
}

TEST_F(RawPeerTest, TimeLimitsAreNominalTimesTheScale) {
  Open();
  link.SetTimeScale(0.004);
  struct Case {
    std::function<void()> command;
    int limitMs;
  };
  const Case cases[] = {
      {[&] { link.GetFileInfo(1); }, 5000},
      {[&] { link.DeleteFile(1); }, 5000},
      {[&] { link.NotifySoundSelected(1); }, 500},
  };
  for (const Case& c : cases) {
    const auto start = SysexLinkClock::now();
    c.command();
    const double elapsed = Millis(SysexLinkClock::now() - start);
    EXPECT_EQ(link.LastWaitLimitMs(), c.limitMs);
    EXPECT_GE(elapsed, c.limitMs * 0.004);
    EXPECT_LT(elapsed, 2000);
  }
  EXPECT_EQ(CEPSysExLink::kReplyLimitMs, 5000);
  EXPECT_EQ(CEPSysExLink::kSelectLimitMs, 500);
  EXPECT_EQ(CEPSysExLink::kProjectEndLimitMs, 15000);
  EXPECT_EQ(CEPSysExLink::kIdentityWaitMs, 200);
}

TEST_F(RawPeerTest, TwoUnansweredRequestsInARowMakeTheRestOfTheOperationFailFast) {
  Open();
  const double scale = 0.05;  // a limit is 250 ms
  const double limit = CEPSysExLink::kReplyLimitMs * scale;
  link.SetTimeScale(scale);
  {
    CEPSysExLink::OperationScope operation(link);
    const auto start = SysexLinkClock::now();
    for (int i = 0; i < 8; ++i) link.GetFileInfo(static_cast<uint16_t>(i));
    const double elapsed = Millis(SysexLinkClock::now() - start);
    EXPECT_GE(elapsed, 2 * limit) << "the first two requests wait their full limits";
    EXPECT_LT(elapsed, 5 * limit) << "every request waited its own limit";

    // Anything from the device shows it is there again: each of the next
    // two requests waits its own limit once more.
    Deliver(Event({0x63}));
    const auto again = SysexLinkClock::now();
    link.GetFileInfo(9);
    EXPECT_GE(Millis(SysexLinkClock::now() - again), limit);
    const auto second = SysexLinkClock::now();
    link.GetFileInfo(10);
    EXPECT_GE(Millis(SysexLinkClock::now() - second), limit);
    const auto third = SysexLinkClock::now();
    link.GetFileInfo(11);
    EXPECT_LT(Millis(SysexLinkClock::now() - third), limit);
  }
  // Separate operations each wait.
  const auto start = SysexLinkClock::now();
  link.GetFileInfo(1);
  link.GetFileInfo(2);
  EXPECT_GE(Millis(SysexLinkClock::now() - start), 2 * limit);
}

// A peer that keeps sending events until stopped.
class Flood {
 public:
  explicit Flood(std::shared_ptr<MemoryMidiLine> line)
      : thread_([this, line] {
          for (uint16_t i = 0; !stop_.load(); ++i) {
            // Paced, so that the line's queue stays short.
            if (line->WaitUntilDelivered(kTestDeadline)) {
              line->Post(Event({0x0A, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)}));
            }
            ++sent_;
          }
        }) {}
  ~Flood() { Stop(); }
  void Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  int Sent() const { return sent_.load(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int> sent_{0};
  std::thread thread_;
};

TEST(LinkClosing, NoCallbackRunsAfterCloseReturns) {
  for (int round = 0; round < 20; ++round) {
    MemoryMidiSystem midi;
    MemoryMidiDevicePorts ports = midi.AddDevice("EP-133");
    ConsoleCapture console;
    auto link = std::make_unique<CEPSysExLink>(&midi);
    link->SetConsole(&console, &console);
    link->SetTimeScale(0);
    std::atomic<bool> closed{false};
    std::atomic<int> calls{0};
    std::atomic<int> late{0};
    link->SetEventCallback([&](const EPDeviceEvent&) {
      ++calls;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      if (closed.load()) ++late;
    });
    ASSERT_TRUE(link->OpenLink());
    Flood flood(ports.toHost);
    ASSERT_TRUE(Eventually([&] { return calls.load() >= 3; }));
    if (round % 2 == 0) {
      link->CloseLink();
      closed.store(true);
    } else {
      link.reset();  // destroying an open link closes it first
      closed.store(true);
    }
    const int sent = flood.Sent();
    ASSERT_TRUE(Eventually([&] { return flood.Sent() >= sent + 20; }));
    flood.Stop();
    EXPECT_EQ(late.load(), 0) << "round " << round;
  }
}

TEST(LinkEvents, ReplacingTheCallbackWaitsForTheOldOne) {
  MemoryMidiSystem midi;
  MemoryMidiDevicePorts ports = midi.AddDevice("EP-133");
  ConsoleCapture console;
  CEPSysExLink link(&midi);
  link.SetConsole(&console, &console);
  link.SetTimeScale(0);
  std::atomic<bool> firstRetired{false};
  std::atomic<int> firstCalls{0};
  std::atomic<int> lateFirstCalls{0};
  std::atomic<int> secondCalls{0};
  link.SetEventCallback([&](const EPDeviceEvent&) {
    ++firstCalls;
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    if (firstRetired.load()) ++lateFirstCalls;
  });
  ASSERT_TRUE(link.OpenLink());
  Flood flood(ports.toHost);
  ASSERT_TRUE(Eventually([&] { return firstCalls.load() >= 5; }));
  link.SetEventCallback([&](const EPDeviceEvent&) { ++secondCalls; });
  firstRetired.store(true);
  ASSERT_TRUE(Eventually([&] { return secondCalls.load() >= 5; }));
  flood.Stop();
  link.CloseLink();
  EXPECT_EQ(lateFirstCalls.load(), 0);
}

}  // namespace
}  // namespace zandrel::test
