#include "processing/snapping.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/wav_builder.h"

namespace zandrel {
namespace {

using test::Bytes;

// Mono 16-bit audio of |frames| frames at -100 (below zero) with rising
// crossings (0 -> 100) at the frames in |rises|.
struct SnappingAudio {
  Bytes bytes;
  PcmSpan Span(uint32_t rate = 44100, uint16_t channels = 1, uint16_t bits = 16, uint16_t tag = 1) const {
    PcmSpan s;
    s.bytes = bytes;
    s.formatTag = tag;
    s.channels = channels;
    s.sampleRate = rate;
    s.bitsPerSample = bits;
    s.blockAlign = static_cast<uint16_t>(channels * bits / 8);
    return s;
  }
};

SnappingAudio SnappingMono16(int64_t frames, std::vector<int64_t> rises, int16_t below = -100) {
  std::vector<int16_t> s(static_cast<size_t>(frames), below);
  for (int64_t r : rises) {
    s[static_cast<size_t>(r - 1)] = 0;
    for (int64_t i = r; i < std::min<int64_t>(frames, r + 2); ++i) s[static_cast<size_t>(i)] = 100;
  }
  return {test::Pcm16(s)};
}

TEST(FindRisingZeroCrossingTest, FindsTheNearestRisingCrossingLaterFrameFirst) {
  struct Case {
    const char* what;
    std::vector<int64_t> rises;
    int64_t from;
    int64_t expected;
  };
  const Case cases[] = {
      {"crossing right at the frame", {500}, 500, 500},
      {"crossing 7 frames earlier", {493}, 500, 493},
      {"crossing 7 frames later", {507}, 500, 507},
      {"equal distance: the later frame wins", {497, 503}, 500, 503},
      {"nearer earlier beats farther later", {498, 503}, 500, 498},
      {"none within 10 ms (441 frames): the input", {50}, 500, 500},
      {"crossing 440 frames away is within reach", {940}, 500, 940},
      {"beyond the end: clamped to frames - 2", {}, 5000, 998},
      {"frame 0 searches from frame 1", {1, 5}, 0, 1},
  };
  for (const Case& c : cases) {
    const SnappingAudio a = SnappingMono16(1000, c.rises);
    EXPECT_EQ(FindRisingZeroCrossing(a.Span(), c.from), c.expected) << c.what;
  }
}

TEST(FindRisingZeroCrossingTest, IgnoresSilenceAndFallingCrossings) {
  const SnappingAudio silence{test::Pcm16(std::vector<int16_t>(1000, 0))};
  EXPECT_EQ(FindRisingZeroCrossing(silence.Span(), 300), 300);
  EXPECT_EQ(FindRisingZeroCrossing(silence.Span(), 0), 1);  // the clamped input

  // Falls through zero at 301 (positive to negative), rises at 320.
  std::vector<int16_t> s(1000, 100);
  for (size_t i = 301; i < 320; ++i) s[i] = -100;
  const SnappingAudio falling{test::Pcm16(s)};
  EXPECT_EQ(FindRisingZeroCrossing(falling.Span(), 301), 320);
}

TEST(FindRisingZeroCrossingTest, LeavesNegativeFramesAndTinyAudioAlone) {
  const SnappingAudio a = SnappingMono16(1000, {10});
  EXPECT_EQ(FindRisingZeroCrossing(a.Span(), -5), -5);
  const SnappingAudio one{test::Pcm16({5})};
  EXPECT_EQ(FindRisingZeroCrossing(one.Span(), 7), 7);
  EXPECT_EQ(FindRisingZeroCrossing(PcmSpan{}, 7), 7);
}

TEST(FindRisingZeroCrossingTest, RadiusIsTenMillisecondsOfTheRate) {
  // At 8000 Hz the search reaches 79 frames either way, not 80.
  EXPECT_EQ(FindRisingZeroCrossing(SnappingMono16(1000, {579}).Span(8000), 500), 579);
  EXPECT_EQ(FindRisingZeroCrossing(SnappingMono16(1000, {580}).Span(8000), 500), 500);
  // Below 100 Hz there is no radius: only the clamp.
  EXPECT_EQ(FindRisingZeroCrossing(SnappingMono16(1000, {501}).Span(99), 500), 500);
  EXPECT_EQ(FindRisingZeroCrossing(SnappingMono16(1000, {501}).Span(99), 999), 998);
}

TEST(FindRisingZeroCrossingTest, AnyChannelAndEveryDepthCounts) {
  // Stereo 16-bit: the left channel stays below zero, the right rises at 40.
  std::vector<int16_t> stereo;
  for (int f = 0; f < 100; ++f) {
    stereo.push_back(-50);
    stereo.push_back(f >= 40 ? 50 : -50);
  }
  const SnappingAudio st{test::Pcm16(stereo)};
  EXPECT_EQ(FindRisingZeroCrossing(st.Span(44100, 2), 30), 40);

  // 8-bit: 128 is zero; rises at 60.
  Bytes u8(100, 100);
  for (size_t i = 60; i < 100; ++i) u8[i] = 160;
  EXPECT_EQ(FindRisingZeroCrossing(SnappingAudio{u8}.Span(44100, 1, 8), 50), 60);

  // 24-bit: rises at 25.
  Bytes p24;
  for (int f = 0; f < 50; ++f) {
    const int32_t v = f >= 25 ? 1000 : -1000;
    p24.push_back(static_cast<uint8_t>(v & 0xFF));
    p24.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    p24.push_back(static_cast<uint8_t>((v >> 16) & 0xFF));
  }
  EXPECT_EQ(FindRisingZeroCrossing(SnappingAudio{p24}.Span(44100, 1, 24), 20), 25);

  // 32-bit float (tag 3): rises at 12.
  Bytes fl;
  for (int f = 0; f < 40; ++f) {
    const Bytes v = test::FloatLE(f >= 12 ? 0.25f : -0.25f);
    fl.insert(fl.end(), v.begin(), v.end());
  }
  EXPECT_EQ(FindRisingZeroCrossing(SnappingAudio{fl}.Span(44100, 1, 32, 3), 20), 12);
}

TEST(BeatGridTest, SixteenthNotesAtTheTempo) {
  EXPECT_DOUBLE_EQ(BeatGridStep(120, 44100), 5512.5);
  EXPECT_DOUBLE_EQ(BeatGridStep(0, 44100), 5512.5);  // no tempo: 120 BPM
  EXPECT_DOUBLE_EQ(BeatGridStep(-3, 44100), 5512.5);
  EXPECT_DOUBLE_EQ(BeatGridStep(90, 48000), 8000.0);
  EXPECT_EQ(BeatGridStep(120, 0), 0.0);

  const double g = BeatGridStep(120, 44100);
  EXPECT_EQ(SnapToGridStep(8000, g), 5512);
  EXPECT_EQ(SnapToGridStep(9000, g), 11025);
  EXPECT_EQ(SnapToGridStep(2756, g), 0);
  EXPECT_EQ(SnapToGridStep(2757, g), 5512);  // 0.5001 steps: away from zero
  EXPECT_EQ(SnapToGridStep(-3000, g), -5512);
  EXPECT_EQ(SnapToGridStep(1234, 0.0), 1234);
}

}  // namespace
}  // namespace zandrel
