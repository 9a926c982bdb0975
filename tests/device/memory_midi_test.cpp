// The MIDI ports in memory that the device tests run on: delivery from the
// line's own thread, in order, and a disconnect that waits for a delivery in
// progress.
#include "platform/memory_midi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>

#include "link_fixture.h"

namespace zandrel::test {
namespace {

TEST(MemoryMidi, DeliversInOrderFromItsOwnThread) {
  MemoryMidiLine line("x");
  std::mutex mutex;
  std::vector<Bytes> got;
  std::set<std::thread::id> threads;
  ASSERT_TRUE(line.Connect([&](std::span<const uint8_t> m) {
    std::lock_guard lock(mutex);
    got.emplace_back(m.begin(), m.end());
    threads.insert(std::this_thread::get_id());
  }));
  EXPECT_FALSE(line.Connect([](std::span<const uint8_t>) {}));  // one receiver at a time
  for (uint8_t i = 0; i < 50; ++i) ASSERT_TRUE(line.Post(Bytes{0xF0, i, 0xF7}));
  ASSERT_TRUE(line.WaitUntilDelivered(kTestDeadline));
  std::lock_guard lock(mutex);
  ASSERT_EQ(got.size(), 50u);
  for (uint8_t i = 0; i < 50; ++i) EXPECT_EQ(got[i], (Bytes{0xF0, i, 0xF7}));
  EXPECT_EQ(threads.size(), 1u);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST(MemoryMidi, DisconnectWaitsForTheDeliveryInProgress) {
  MemoryMidiLine line("x");
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> finished{false};
  ASSERT_TRUE(line.Connect([&](std::span<const uint8_t>) {
    entered.set_value();
    released.wait();
    finished.store(true);
  }));
  line.Post(Bytes{1});
  ASSERT_EQ(entered.get_future().wait_for(kTestDeadline), std::future_status::ready);
  auto disconnected = std::async(std::launch::async, [&] { line.Disconnect(); });
  EXPECT_EQ(disconnected.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  release.set_value();
  ASSERT_EQ(disconnected.wait_for(kTestDeadline), std::future_status::ready);
  EXPECT_TRUE(finished.load());
  // Nobody listens now: messages are dropped.
  EXPECT_TRUE(line.Post(Bytes{2}));
  EXPECT_TRUE(line.WaitUntilDelivered(kTestDeadline));
}

TEST(MemoryMidi, AReceiverMayDisconnectItself) {
  MemoryMidiLine line("x");
  std::atomic<int> calls{0};
  ASSERT_TRUE(line.Connect([&](std::span<const uint8_t>) {
    ++calls;
    line.Disconnect();
  }));
  line.Post(Bytes{1});
  line.Post(Bytes{2});
  ASSERT_TRUE(line.WaitUntilDelivered(kTestDeadline));
  EXPECT_EQ(calls.load(), 1);
}

TEST(MemoryMidi, UnpluggedAndOversizedMessagesAreRefused) {
  MemoryMidiSystem midi;
  MemoryMidiDevicePorts device = midi.AddDevice("EP-133");
  midi.AddOutput("Synth");
  EXPECT_EQ(midi.OutputNames(), (std::vector<std::string>{"EP-133", "Synth"}));
  std::unique_ptr<MidiOutPort> out = midi.OpenOutput(0);
  ASSERT_TRUE(out);
  EXPECT_EQ(device.fromHost->OpenSenders(), 1);

  device.fromHost->SetMaxMessageBytes(4);
  EXPECT_EQ(out->MaxMessageBytes(), 4u);
  EXPECT_TRUE(out->Send(Bytes{1, 2, 3, 4}));
  EXPECT_FALSE(out->Send(Bytes{1, 2, 3, 4, 5}));

  device.fromHost->SetUnplugged(true);
  EXPECT_FALSE(out->Send(Bytes{1}));
  EXPECT_EQ(midi.OutputNames(), (std::vector<std::string>{"Synth"}));
  out->Close();
  EXPECT_EQ(device.fromHost->OpenSenders(), 0);
  EXPECT_FALSE(out->Send(Bytes{1}));
  EXPECT_FALSE(midi.OpenInput(5, [](std::span<const uint8_t>) {}));
}

}  // namespace
}  // namespace zandrel::test
