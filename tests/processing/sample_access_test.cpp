#include "processing/sample_access.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "document/wav_loader.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using test::Bytes;

// One sample at each width and its raw and normalised values.
struct WidthCase {
  int bits;
  Bytes bytes;
  double raw;
  float normalised;
};

const WidthCase kWidths[] = {
    {8, {0x00}, -128, -1.0f},
    {8, {0xC0}, 64, 0.5f},
    {16, {0x00, 0x80}, -32768, -1.0f},
    {16, {0x00, 0x40}, 16384, 0.5f},
    {24, {0x00, 0x00, 0x80}, -8388608, -1.0f},
    {24, {0xFF, 0xFF, 0xFF}, -1, -1.0f / 8388608},
    {24, {0x00, 0x00, 0x40}, 4194304, 0.5f},
    {32, {0x00, 0x00, 0x00, 0x80}, -2147483648.0, -1.0f},
    {32, {0x00, 0x00, 0x00, 0x40}, 1073741824, 0.5f},
};

TEST(SampleAccessTest, ReadsRawAndNormalisedValuesAtEveryWidth) {
  for (const WidthCase& c : kWidths) {
    SCOPED_TRACE(testing::Message() << c.bits << "-bit, raw " << c.raw);
    // The sample sits in channel 1 of a stereo frame, after a zero sample.
    const Bytes frame = test::Cat({Bytes(c.bytes.size(), c.bits == 8 ? 0x80 : 0x00), c.bytes});
    EXPECT_EQ(ReadSampleValue(frame, 0, 1, 2, c.bits), c.raw);
    std::vector<float> out;
    ChannelToFloat(frame, out, 0, 1, 1, c.bits, static_cast<int>(frame.size()));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FLOAT_EQ(out[0], c.normalised);
  }
}

TEST(SampleAccessTest, WritesFullScaleClampedNeverWrapped) {
  struct Case {
    int bits;
    float value;
    double expected;
  };
  const Case cases[] = {
      {8, 1.0f, 255 - 128},
      {8, -1.0f, 1 - 128},
      {8, 0.0f, 0},
      {16, 1.0f, 32767},
      {16, -1.0f, -32767},
      {16, 7.5f, 32767},
      {24, 1.0f, 8388607},
      {24, -1.0f, -8388607},
      {24, -3.0f, -8388607},
      {32, 1.0f, 2147483647},
      {32, -1.0f, -2147483648.0},
      {32, 2.0f, 2147483647},
      {16, std::numeric_limits<float>::quiet_NaN(), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << "-bit, v = " << c.value);
    Bytes pcm(static_cast<size_t>(c.bits / 8), 0);
    FloatToChannel({c.value}, pcm, 0, 0, c.bits, c.bits / 8);
    EXPECT_EQ(ReadSampleValue(pcm, 0, 0, 1, c.bits), c.expected);
  }
}

TEST(SampleAccessTest, RoundTripStaysWithinTwoSteps) {
  for (int bits : {8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    const std::vector<float> values = {0.0f, 0.25f, -0.5f, 0.999f, -0.999f};
    Bytes pcm(values.size() * (bits / 8), 0);
    FloatToChannel(values, pcm, 0, 0, bits, bits / 8);
    std::vector<float> back;
    ChannelToFloat(pcm, back, 0, static_cast<int64_t>(values.size()), 0, bits, bits / 8);
    for (size_t i = 0; i < values.size(); ++i) EXPECT_NEAR(back[i], values[i], 2.0 / (1 << (bits - 1)) + 1e-7);
  }
}

TEST(SampleAccessTest, ReadsPastTheEndAsZeroAndWritesStopAtTheEnd) {
  // Ten mono 16-bit frames holding 1..10.
  std::vector<int16_t> samples;
  for (int16_t i = 1; i <= 10; ++i) samples.push_back(static_cast<int16_t>(i * 1000));
  Bytes pcm = test::Pcm16(samples);

  std::vector<float> out = {9.0f};  // stale contents are replaced
  ChannelToFloat(pcm, out, 6, 10, 0, 16, 2);
  ASSERT_EQ(out.size(), 10u);
  for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(out[i], (7 + i) * 1000 / 32768.0f);
  for (int i = 4; i < 10; ++i) EXPECT_EQ(out[i], 0.0f);

  ChannelToFloat(pcm, out, -2, 3, 0, 16, 2);  // frames before the data read as 0 too
  EXPECT_EQ(out, (std::vector<float>{0.0f, 0.0f, 1000 / 32768.0f}));

  const Bytes before = pcm;
  FloatToChannel(std::vector<float>(5, 0.5f), pcm, 8, 0, 16, 2);
  EXPECT_EQ(ReadSampleValue(pcm, 8, 0, 1, 16), 16383);
  EXPECT_EQ(ReadSampleValue(pcm, 9, 0, 1, 16), 16383);
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.begin() + 16, before.begin()));

  // A start before the data writes only the frames inside it.
  FloatToChannel(std::vector<float>(3, -0.5f), pcm, -2, 0, 16, 2);
  EXPECT_EQ(ReadSampleValue(pcm, 0, 0, 1, 16), -16383);
  EXPECT_EQ(ReadSampleValue(pcm, 1, 0, 1, 16), 2000);
}

TEST(SampleAccessTest, RefusesWhatWouldLeaveTheBuffer) {
  const Bytes pcm = test::Pcm16({100, 200, 300});
  EXPECT_EQ(ReadSampleValue(pcm, 3, 0, 1, 16), 0);   // past the end
  EXPECT_EQ(ReadSampleValue(pcm, -1, 0, 1, 16), 0);  // before the start
  EXPECT_EQ(ReadSampleValue(pcm, 1, 1, 2, 16), 0);   // channel 1 of the last, partial stereo frame
  EXPECT_EQ(ReadSampleValue(pcm, 0, 0, 1, 12), 0);   // unsupported width

  // A channel outside the block alignment reads 0 and writes nothing.
  std::vector<float> out;
  ChannelToFloat(pcm, out, 0, 3, 1, 16, 2);
  EXPECT_EQ(out, std::vector<float>(3, 0.0f));
  Bytes copy = pcm;
  FloatToChannel({0.5f, 0.5f, 0.5f}, copy, 0, 1, 16, 2);
  EXPECT_EQ(copy, pcm);

  ChannelToFloat(pcm, out, 0, 2, 0, 20, 2);  // unsupported width: zeros
  EXPECT_EQ(out, std::vector<float>(2, 0.0f));
  ChannelToFloat(pcm, out, 0, -5, 0, 16, 2);
  EXPECT_TRUE(out.empty());
  FloatToChannel({0.5f}, copy, 0, 0, 16, 0);  // block alignment 0: nothing
  EXPECT_EQ(copy, pcm);
}

TEST(SampleAccessTest, SpanOfALoaderCarriesTheRealFormatTag) {
  CWavLoader wav;
  wav.format = {kWaveFormatExtensible, 2, 48000, 384000, 8, 32};
  wav.isExtensible = 1;
  wav.extensibleFormat[24] = 3;  // SubFormat: IEEE float
  wav.data.resize(80);
  const PcmSpan span = PcmSpan::Of(wav);
  EXPECT_EQ(span.formatTag, 3);
  EXPECT_EQ(span.channels, 2);
  EXPECT_EQ(span.sampleRate, 48000u);
  EXPECT_EQ(span.Frames(), 10);
  EXPECT_EQ(span.bytes.data(), wav.data.data());
}

}  // namespace
}  // namespace zandrel
