#include "view/model/peak_cache.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace zandrel {
namespace {

CWavLoader Mono16(const std::vector<int16_t>& samples) {
  CWavLoader wav;
  wav.format = {1, 1, 44100, 88200, 2, 16};
  wav.data.resize(samples.size() * 2);
  for (size_t i = 0; i < samples.size(); ++i) WriteLE16(wav.data.data() + 2 * i, static_cast<uint16_t>(samples[i]));
  return wav;
}

// The literal table: one entry per bucket, each over its own frames.
std::vector<PeakEntry> Reference(const CWavLoader& wav, int64_t bucket) {
  std::vector<PeakEntry> out;
  const int64_t frames = wav.FrameCount();
  for (int64_t s = 0; s < frames; s += bucket) {
    PeakEntry e;
    e.first = static_cast<int16_t>(std::trunc(SampleAtFrame(wav, s) * 32767));
    double lo = 0, hi = 0;
    for (int64_t i = s; i < std::min(frames, s + bucket); ++i) {
      lo = std::min(lo, SampleAtFrame(wav, i));
      hi = std::max(hi, SampleAtFrame(wav, i));
    }
    e.min = static_cast<int16_t>(std::trunc(lo * 32767));
    e.max = static_cast<int16_t>(std::trunc(hi * 32767));
    out.push_back(e);
  }
  return out;
}

TEST(PeakCacheTest, EntriesEqualTheFullTableAtEveryBucketSize) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> dist(-32768, 32767);
  std::vector<int16_t> samples(5000);
  for (int16_t& s : samples) s = static_cast<int16_t>(dist(rng));
  samples[100] = -32768;
  samples[200] = 32767;
  const CWavLoader wav = Mono16(samples);
  PeakCache cache;
  cache.Rebuild(&wav, 1);
  for (int64_t bucket : {1, 2, 7, 63, 64, 65, 128, 200, 999, 5000, 9000}) {
    cache.SetBucketSize(bucket);
    const std::vector<PeakEntry> expected = Reference(wav, bucket);
    ASSERT_EQ(cache.size(), static_cast<int64_t>(expected.size())) << bucket;
    for (int64_t k = 0; k < cache.size(); ++k) ASSERT_EQ(cache[k], expected[static_cast<size_t>(k)]) << bucket << " " << k;
  }
}

// Long audio where the summaries of 1024, 16384 and 262144 frames come into
// play: quiet noise with isolated spikes of distinct heights, so that a
// bucket that took one summary too many or too few shows another peak.
TEST(PeakCacheTest, EntriesEqualTheFullTableOverLongAudio) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> noise(-50, 50);
  std::uniform_int_distribution<int> gap(1, 9000);
  std::vector<int16_t> samples(1100000);
  for (int16_t& s : samples) s = static_cast<int16_t>(noise(rng));
  int height = 200;
  for (size_t i = static_cast<size_t>(gap(rng)); i < samples.size(); i += static_cast<size_t>(gap(rng))) {
    height = height % 32000 + 97;
    samples[i] = static_cast<int16_t>(i % 2 ? height : -height);
  }
  const CWavLoader wav = Mono16(samples);
  PeakCache cache;
  cache.Rebuild(&wav, 1);
  for (int64_t bucket : {1000, 1024, 16385, 99225, 262144, 300001, 1100000}) {
    cache.SetBucketSize(bucket);
    const std::vector<PeakEntry> expected = Reference(wav, bucket);
    ASSERT_EQ(cache.size(), static_cast<int64_t>(expected.size())) << bucket;
    for (int64_t k = 0; k < cache.size(); ++k) ASSERT_EQ(cache[k], expected[static_cast<size_t>(k)]) << bucket << " " << k;
  }
}

// Every sample layout the drawing reads, over audio long enough for the
// coarser summaries: quiet random samples with a spike of each sign in the ragged frames
// before and after the whole blocks of a bucket.
TEST(PeakCacheTest, EntriesEqualTheFullTableForEachSampleLayout) {
  struct Layout {
    const char* name;
    PcmFormat format;
  };
  const Layout layouts[] = {{"8-bit", {1, 1, 8000, 8000, 1, 8}},
                            {"16-bit stereo", {1, 2, 8000, 32000, 4, 16}},
                            {"24-bit", {1, 1, 8000, 24000, 3, 24}},
                            {"32-bit", {1, 1, 8000, 32000, 4, 32}},
                            {"float", {3, 1, 8000, 32000, 4, 32}}};
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_real_distribution<float> level(-0.3f, 0.3f);
  constexpr int64_t kFrames = 70000;
  for (const Layout& layout : layouts) {
    CWavLoader wav;
    wav.format = layout.format;
    wav.data.resize(static_cast<size_t>(kFrames) * layout.format.nBlockAlign);
    const bool isFloat = layout.format.wFormatTag == 3;
    for (int64_t i = 0; i < kFrames; ++i) {
      uint8_t* p = wav.data.data() + i * layout.format.nBlockAlign;
      if (isFloat) {
        WriteLEFloat(p, level(rng));
      } else {
        // Quiet: the top byte near zero, so that a spike stands out.
        for (int b = 0; b < layout.format.nBlockAlign; ++b) p[b] = static_cast<uint8_t>(byte(rng));
        const int width = layout.format.wBitsPerSample / 8;
        if (width == 1)
          p[0] = static_cast<uint8_t>(128 + byte(rng) % 40 - 20);
        else
          p[width - 1] = static_cast<uint8_t>(byte(rng) % 2 ? 0x00 : 0xFF);
      }
    }
    // Spikes 10 frames into the first and last blocks of the bucket of
    // 3000 frames starting at 6000 (blocks from 6016 to 8960 whole).
    const auto spike = [&](int64_t frame, bool up) {
      uint8_t* p = wav.data.data() + frame * layout.format.nBlockAlign;
      if (isFloat) {
        WriteLEFloat(p, up ? 0.95f : -0.9f);
      } else {
        const int width = layout.format.wBitsPerSample / 8;
        p[width - 1] = static_cast<uint8_t>(up ? (width == 1 ? 0xF0 : 0x70) : (width == 1 ? 0x10 : 0x90));
      }
    };
    spike(6010, true);
    spike(8970, false);
    PeakCache cache;
    cache.Rebuild(&wav, 1);
    for (int64_t bucket : {5, 64, 100, 1500, 3000, 20000}) {
      cache.SetBucketSize(bucket);
      const std::vector<PeakEntry> expected = Reference(wav, bucket);
      ASSERT_EQ(cache.size(), static_cast<int64_t>(expected.size())) << layout.name << " " << bucket;
      for (int64_t k = 0; k < cache.size(); ++k)
        ASSERT_EQ(cache[k], expected[static_cast<size_t>(k)]) << layout.name << " " << bucket << " " << k;
    }
  }
}

TEST(PeakCacheTest, MinAndMaxStraddleZeroAndOneFrameGivesOneEntry) {
  const CWavLoader positive = Mono16({1000});
  PeakCache cache;
  cache.Rebuild(&positive, 256);
  ASSERT_EQ(cache.size(), 1);
  EXPECT_EQ(cache[0], (PeakEntry{0, 999, 999}));  // 1000/32768*32767 truncated
  const CWavLoader empty;
  cache.Rebuild(&empty, 256);
  EXPECT_TRUE(cache.empty());
  EXPECT_EQ(cache.size(), 0);
}

TEST(PeakCacheTest, SampleAtFrameReadsEveryDepth) {
  CWavLoader wav;
  wav.format = {1, 1, 8000, 8000, 1, 8};
  wav.data = {0, 128, 255};
  EXPECT_EQ(SampleAtFrame(wav, 0), -1.0);
  EXPECT_EQ(SampleAtFrame(wav, 1), 0.0);
  EXPECT_EQ(SampleAtFrame(wav, 3), 0.0);  // past the end
  EXPECT_EQ(SampleAtFrame(wav, -1), 0.0);
  wav.format = {1, 1, 8000, 24000, 3, 24};
  wav.data = {0x00, 0x00, 0x80};
  EXPECT_EQ(SampleAtFrame(wav, 0), -1.0);
  wav.format = {3, 1, 8000, 32000, 4, 32};
  wav.data.resize(4);
  WriteLEFloat(wav.data.data(), 0.25f);
  EXPECT_EQ(SampleAtFrame(wav, 0), 0.25);
  wav.format = {1, 2, 8000, 32000, 4, 16};  // stereo: channel 0
  wav.data = {0x00, 0x40, 0xFF, 0x7F};
  EXPECT_EQ(SampleAtFrame(wav, 0), 0.5);
}

}  // namespace
}  // namespace zandrel
