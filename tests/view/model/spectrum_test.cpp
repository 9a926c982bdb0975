#include "view/model/spectrum.h"

#include <gmock/gmock.h>

#include <cmath>
#include <numbers>

#include "view/model/piano_key_layout.h"

namespace zandrel {
namespace {

// A mono 16-bit buffer of |frames| frames of a sine at |hz| with |amplitude|
// (raw sample units) at |rate|.
CWavLoader Sine(int64_t frames, double hz, double amplitude, uint32_t rate = 44100) {
  CWavLoader audio;
  audio.format = PcmFormat{1, 1, rate, rate * 2, 2, 16};
  audio.data.resize(static_cast<size_t>(frames) * 2);
  for (int64_t i = 0; i < frames; ++i) {
    const auto v = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate)));
    audio.data[static_cast<size_t>(i) * 2] = static_cast<uint8_t>(v & 0xFF);
    audio.data[static_cast<size_t>(i) * 2 + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
  }
  return audio;
}

TEST(SpectrumFramesTest, HopAndFrameCountsOfTheVisibleRange) {
  struct Case {
    int64_t frameCount;
    double viewStart;
    float framesPerPixel;
    int width;
    int64_t start, end, hop;
    int count;
  };
  const Case cases[] = {
      // 1,000,000 visible frames: hop 25000, positions 0 .. 975000 below end - 8192.
      {2000000, 0, 1250, 800, 0, 1000000, 25000, 40},
      // Under 40 x 8192 frames the hop stays 8192: positions below 91808.
      {2000000, 0, 125, 800, 0, 100000, 8192, 12},
      // The view's margin left of the file: the range starts at frame 0.
      {2000000, -5000, 100, 800, 0, 75000, 8192, 9},
      // The end of the file cuts the range.
      {50000, 10000, 256, 800, 10000, 50000, 8192, 4},
      // 8192 visible frames or fewer: no frame fits.
      {2000000, 0, 8, 1024, 0, 8192, 8192, 0},
      // A view past the end shows nothing.
      {50000, 60000, 256, 800, 60000, 50000, 8192, 0},
  };
  for (const Case& c : cases) {
    const SpectrumFrames f = PlanSpectrumFrames(c.frameCount, c.viewStart, c.framesPerPixel, c.width);
    SCOPED_TRACE(testing::Message() << "frames " << c.frameCount << " start " << c.viewStart << " fpp "
                                    << c.framesPerPixel);
    EXPECT_EQ(f.start, c.start);
    EXPECT_EQ(f.end, c.end);
    if (c.start < c.end) {
      EXPECT_EQ(f.hop, c.hop);
    }
    EXPECT_EQ(f.count, c.count);
    // Every analysis frame lies inside the range and frames never overlap.
    if (f.count > 0) {
      EXPECT_LT(f.start + (f.count - 1) * f.hop, f.end - kSpectrumFftSize);
      EXPECT_GE(f.start + f.count * f.hop, f.end - kSpectrumFftSize);
      EXPECT_GE(f.hop, kSpectrumFftSize);
    }
  }
}

TEST(SpectrumScaleTest, NinetyDecibelsAboveTheReference) {
  EXPECT_EQ(SpectrumScale(0), 0.0f);
  // 20 log10(8192) / 90: a full-scale 16-bit sine's windowed magnitude.
  EXPECT_NEAR(SpectrumScale(8191.0 * 8192.0), 0.8697, 1e-4);
  EXPECT_NEAR(SpectrumScale(8192.0 * (std::pow(10.0, 45.0 / 20.0) - 1.0)), 0.5, 1e-6);
  EXPECT_EQ(SpectrumScale(8192.0 * std::pow(10.0, 90.0 / 20.0)), 1.0f);
  EXPECT_EQ(SpectrumScale(1e30), 1.0f);
}

TEST(ComputeSpectrumTest, FullScaleSineOnItsBinAndSilence) {
  // Bin 82 exactly (82 x 44100 / 8192 Hz): the window's whole energy falls on it.
  const double hz = 82.0 * 44100.0 / kSpectrumFftSize;
  const CWavLoader audio = Sine(200000, hz, 32767);
  const std::vector<float> s = ComputeSpectrum(audio, PlanSpectrumFrames(200000, 0, 250, 800));
  ASSERT_EQ(s.size(), static_cast<size_t>(kSpectrumBins));
  EXPECT_NEAR(s[82], 0.87f, 0.005f);
  EXPECT_EQ(std::max_element(s.begin(), s.end()) - s.begin(), 82);
  // Far from the tone the Hann window's leakage is some 60 dB down.
  EXPECT_LT(s[400], 0.3f);

  const CWavLoader silence = Sine(200000, hz, 0);
  const std::vector<float> quiet = ComputeSpectrum(silence, PlanSpectrumFrames(200000, 0, 250, 800));
  EXPECT_THAT(quiet, testing::Each(0.0f));
}

TEST(ComputeSpectrumTest, ChannelsAreMixedBeforeTheTransform) {
  // Left a sine, right its negation: the mix is silence.
  CWavLoader audio = Sine(100000, 1000, 20000);
  CWavLoader stereo;
  stereo.format = PcmFormat{1, 2, 44100, 176400, 4, 16};
  stereo.data.resize(audio.data.size() * 2);
  for (size_t i = 0; i + 1 < audio.data.size(); i += 2) {
    const auto v = static_cast<int16_t>(audio.data[i] | (audio.data[i + 1] << 8));
    const auto n = static_cast<int16_t>(-v);
    stereo.data[i * 2] = audio.data[i];
    stereo.data[i * 2 + 1] = audio.data[i + 1];
    stereo.data[i * 2 + 2] = static_cast<uint8_t>(n & 0xFF);
    stereo.data[i * 2 + 3] = static_cast<uint8_t>((n >> 8) & 0xFF);
  }
  const std::vector<float> s = ComputeSpectrum(stereo, PlanSpectrumFrames(100000, 0, 125, 800));
  EXPECT_THAT(s, testing::Each(0.0f));
}

TEST(SpectrumCurveTest, A440PeaksOverKey69WithTheRedLine) {
  const CWavLoader audio = Sine(400000, 440, 16000);
  SpectrumCache cache;
  ASSERT_TRUE(cache.Build(audio, 0, 200, 1760));
  // 1760 px: the 88 keys, 20 px each.
  const SpectrumCurve curve = ComputeSpectrumCurve(cache.Values(), 44100, 1760, false);
  const PianoKeyLayout layout = PianoKeyLayout::For(1760, false);
  EXPECT_EQ(curve.xs, 0);
  EXPECT_EQ(curve.xe, 1760);
  const auto top = std::max_element(curve.values.begin(), curve.values.end()) - curve.values.begin();
  EXPECT_GE(top, layout.X1(69));
  EXPECT_LT(top, layout.X2(69));
  // Within two pixels of the middle of the key's column.
  EXPECT_NEAR(static_cast<double>(top), (layout.X1(69) + layout.X2(69)) / 2.0, 2.0);
  std::vector<SpectrumPeak> red;
  for (const SpectrumPeak& p : curve.peaks)
    if (p.strongest) red.push_back(p);
  ASSERT_EQ(red.size(), 1u);
  EXPECT_EQ(red[0].x, top);
}

TEST(SpectrumCurveTest, NarrowWindowSpansOnlyTheKeysShownAndAboveNyquistReadsZero) {
  std::vector<float> flat(kSpectrumBins, 0.5f);
  // 500 px: 33 keys of 15 px centred on key 64, offset 2.
  const SpectrumCurve narrow = ComputeSpectrumCurve(flat, 44100, 500, false);
  const PianoKeyLayout layout = PianoKeyLayout::For(500, false);
  EXPECT_EQ(narrow.xs, layout.offset);
  EXPECT_EQ(narrow.xe, layout.offset + static_cast<int>((layout.highestKey - layout.lowestKey + 1) * 15.0f));
  EXPECT_EQ(narrow.values[0], 0.0f);
  EXPECT_FLOAT_EQ(narrow.values[static_cast<size_t>(narrow.xs)], 0.5f);
  // At 8000 Hz the Nyquist frequency (4000 Hz) lies near key 107: the keys
  // above it read 0, and a flat curve has no peaks.
  const SpectrumCurve low = ComputeSpectrumCurve(flat, 8000, 1760, false);
  EXPECT_FLOAT_EQ(low.values[0], 0.5f);
  EXPECT_EQ(low.values[1759], 0.0f);
}

TEST(SpectrumCurveTest, RateZeroGivesNoCurve) {
  const std::vector<float> flat(kSpectrumBins, 0.5f);
  const SpectrumCurve curve = ComputeSpectrumCurve(flat, 0, 1760, false);
  EXPECT_EQ(curve.xs, curve.xe);
  EXPECT_THAT(curve.peaks, testing::IsEmpty());
}

TEST(SpectrumCacheTest, RecomputesOnlyOutsideTheTolerancesOrWhenInvalidated) {
  const CWavLoader audio = Sine(400000, 440, 16000);
  SpectrumCache cache;
  EXPECT_TRUE(cache.Values().empty());
  EXPECT_TRUE(cache.Build(audio, 1000, 100, 800));
  EXPECT_EQ(cache.Start(), 1000);
  EXPECT_FALSE(cache.Build(audio, 1099, 100, 800));    // moved 99 frames
  EXPECT_FALSE(cache.Build(audio, 1000, 100.009f, 800));  // zoom within 0.01
  EXPECT_TRUE(cache.Build(audio, 1100, 100, 800));     // moved 100 frames
  EXPECT_TRUE(cache.Build(audio, 1100, 100.02f, 800));   // zoom changed
  cache.Invalidate();
  EXPECT_TRUE(cache.IsInvalid());
  EXPECT_TRUE(cache.Build(audio, 1100, 100.02f, 800));
  EXPECT_FALSE(cache.IsInvalid());
}

TEST(SpectrumCacheTest, InvalidatedAtTheFileStartStillRecomputes) {
  // The view at frame 0: an invalid cache must not be taken for a start
  // within 100 frames of it.
  const CWavLoader audio = Sine(400000, 440, 16000);
  SpectrumCache cache;
  ASSERT_TRUE(cache.Build(audio, 0, 100, 800));
  EXPECT_FALSE(cache.Build(audio, -50, 100, 800));
  cache.Invalidate();
  EXPECT_TRUE(cache.Build(audio, -50, 100, 800));
  EXPECT_EQ(cache.Start(), 0);
}

TEST(SpectrumCacheTest, NothingWithoutAudioOrWidth) {
  SpectrumCache cache;
  EXPECT_FALSE(cache.Build(CWavLoader{}, 0, 100, 800));
  EXPECT_FALSE(cache.Build(Sine(100000, 440, 100), 0, 100, 0));
  EXPECT_TRUE(cache.Values().empty());
}

}  // namespace
}  // namespace zandrel
