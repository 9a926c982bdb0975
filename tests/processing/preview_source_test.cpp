#include <gtest/gtest.h>

#include <thread>

#include "processing/pcm_preview_source.h"
#include "processing/rand15.h"

namespace zandrel {
namespace {

TEST(Rand15, SequenceFromStateOne) {
  Rand15 r;
  for (int expected : {41, 18467, 6334, 26500, 19169}) EXPECT_EQ(r.Next(), expected);
  r.Seed(1);
  EXPECT_EQ(r.Next(), 41);  // restarting gives the same draws
  Rand15 wide(0xFFFFFFFFu);
  for (int i = 0; i < 1000; ++i) {
    const int v = wide.Next();
    ASSERT_GE(v, 0);
    ASSERT_LE(v, Rand15::kMax);
  }
}

std::vector<float> Pull(PcmPreviewSource& s, size_t frames) {
  std::vector<float> out(frames * static_cast<size_t>(s.Channels()), -9.0f);
  s.Render(out.data(), frames);
  return out;
}

TEST(PcmPreviewSource, LoopsWithoutAGap) {
  PcmPreviewSource s({100, 200, 300}, 44100, 1, true);
  const auto out = Pull(s, 7);
  const float a = 100 / 32768.0f, b = 200 / 32768.0f, c = 300 / 32768.0f;
  EXPECT_EQ(out, (std::vector<float>{a, b, c, a, b, c, a}));
  EXPECT_FALSE(s.Finished());
}

TEST(PcmPreviewSource, OnceThenSilenceAndFinished) {
  PcmPreviewSource s({1000, -1000, 2000, -2000}, 22050, 2, false);
  EXPECT_EQ(s.Channels(), 2);
  EXPECT_EQ(s.SampleRate(), 22050u);
  auto out = Pull(s, 1);
  EXPECT_FALSE(s.Finished());
  out = Pull(s, 3);
  EXPECT_EQ(out, (std::vector<float>{2000 / 32768.0f, -2000 / 32768.0f, 0, 0, 0, 0}));
  EXPECT_TRUE(s.Finished());
}

TEST(PcmPreviewSource, SwapKeepsThePositionOrRestarts) {
  PcmPreviewSource s({1, 2, 3, 4, 5, 6}, 44100, 1, true);
  Pull(s, 4);
  std::vector<int16_t> next = {10, 20, 30, 40, 50, 60, 70};
  s.Swap(next);
  EXPECT_EQ(next.size(), 6u);  // the old buffer comes back
  EXPECT_EQ(Pull(s, 1)[0], 50 / 32768.0f);
  std::vector<int16_t> shorter = {7, 8};
  s.Swap(shorter);  // past the new end: from the start
  EXPECT_EQ(s.Position(), 0u);
  EXPECT_EQ(Pull(s, 1)[0], 7 / 32768.0f);
}

TEST(PcmPreviewSource, PlaysThroughTheSharedOutputWhileBeingSwapped) {
  MemoryAudioOutput output;
  ScopedAudioOutput scope(&output);
  auto source = std::make_shared<PcmPreviewSource>(std::vector<int16_t>(1000, 16384), 44100, 1, true);
  ASSERT_TRUE(CurrentAudioOutput().Join(source));
  std::thread swapper([&] {
    for (int i = 0; i < 200; ++i) {
      std::vector<int16_t> pcm(500 + i, 16384);
      source->Swap(pcm);
    }
  });
  for (int i = 0; i < 200; ++i) output.Pull(256);
  swapper.join();
  CurrentAudioOutput().Leave(source.get());
  const std::vector<float> played = output.Played();
  ASSERT_EQ(played.size(), 200u * 256);
  for (float v : played) ASSERT_FLOAT_EQ(v, 0.5f);  // never a gap or a stale sample
}

}  // namespace
}  // namespace zandrel
