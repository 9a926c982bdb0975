#include "platform/audio_input.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace zandrel {
namespace {

TEST(AudioInputTest, NothingIsInstalledUntilTheAppInstallsAnInput) {
  EXPECT_EQ(CurrentAudioInput(), nullptr);
  MemoryAudioInput memory;
  {
    ScopedAudioInput scope(&memory);
    EXPECT_EQ(CurrentAudioInput(), &memory);
  }
  EXPECT_EQ(CurrentAudioInput(), nullptr);
}

TEST(AudioInputTest, PushedFramesArriveInOrderInBlocksOfAtMostTheAskedSize) {
  MemoryAudioInput input;
  input.AddDevice("Line In", 2);
  ASSERT_EQ(input.Devices().size(), 1u);
  EXPECT_EQ(input.Devices()[0].identity, "Memory: Line In");

  std::vector<int16_t> got;
  std::vector<size_t> blocks;
  auto stream = input.Open("Memory: Line In", 44100, 2, 441, [&](const int16_t* frames, size_t count) {
    blocks.push_back(count);
    got.insert(got.end(), frames, frames + count * 2);
  });
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->SampleRate(), 44100u);
  EXPECT_EQ(stream->Channels(), 2);

  // 1000 stereo frames: a ramp on the left, its negation on the right.
  std::vector<int16_t> pushed;
  for (int i = 0; i < 1000; ++i) {
    pushed.push_back(static_cast<int16_t>(i));
    pushed.push_back(static_cast<int16_t>(-i));
  }
  ASSERT_TRUE(input.Push(pushed));
  EXPECT_EQ(blocks, (std::vector<size_t>{441, 441, 118}));
  EXPECT_EQ(got, pushed);

  stream->Close();
  EXPECT_FALSE(input.Push(pushed));  // nobody listens any more
  EXPECT_EQ(got.size(), pushed.size());
  stream->Close();  // twice is harmless
}

TEST(AudioInputTest, OpenFailuresCarryTheirCodes) {
  MemoryAudioInput none;
  AudioInputError error;
  auto cb = [](const int16_t*, size_t) {};
  EXPECT_EQ(none.Open("", 44100, 1, 1024, cb, &error), nullptr);
  EXPECT_EQ(error.code, AudioInputError::kNoDriver);

  MemoryAudioInput input;
  input.AddDevice("Mic", 1);
  struct Case {
    std::string identity;
    int channels;
    size_t maxBlock;
    int code;
  };
  for (const Case& c : {Case{"Memory: Nope", 1, 1024, AudioInputError::kBadDevice},
                        Case{"Memory: Mic", 2, 1024, AudioInputError::kFormat},  // a mono device
                        Case{"Memory: Mic", 1, 0, AudioInputError::kFormat}}) {
    error = {};
    EXPECT_EQ(input.Open(c.identity, 44100, c.channels, c.maxBlock, cb, &error), nullptr) << c.identity;
    EXPECT_EQ(error.code, c.code) << c.identity << " " << c.channels << " " << c.maxBlock;
  }
  auto first = input.Open("", 44100, 1, 1024, cb, &error);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(error.code, AudioInputError::kNone);
  EXPECT_EQ(input.Open("Memory: Mic", 44100, 1, 1024, cb, &error), nullptr);
  EXPECT_EQ(error.code, AudioInputError::kBusy);
  first.reset();  // the destructor closes
  EXPECT_EQ(input.OpenStreams(), 0);
  input.FailOpens(AudioInputError::kMemory);
  EXPECT_EQ(input.Open("", 44100, 1, 1024, cb, &error), nullptr);
  EXPECT_EQ(error.code, AudioInputError::kMemory);
}

// Close() must wait for a callback in progress on another thread: state the
// callback writes may be freed right after Close() returns.
TEST(AudioInputTest, CloseWaitsForTheCallbackInProgress) {
  MemoryAudioInput input;
  input.AddDevice("Mic", 1);
  std::atomic<bool> inside{false};
  std::atomic<bool> finished{false};
  auto stream = input.Open("", 48000, 1, 64, [&](const int16_t*, size_t) {
    inside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    finished = true;
  });
  ASSERT_NE(stream, nullptr);
  std::thread pusher([&] {
    std::vector<int16_t> block(64);
    input.Push(block);
  });
  while (!inside) std::this_thread::yield();
  stream->Close();
  EXPECT_TRUE(finished);
  pusher.join();
}

}  // namespace
}  // namespace zandrel
