// StretchWav on Rubber Band: exact lengths, the pitch measured after a
// shift, the level kept, the failure rule for short input; and the contract
// around any stretcher (padding, trimming, NaN) with a stand-in.
#include "processing/stretch.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "processing/pitch.h"
#include "processing/sample_access.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

CWavLoader Sine(int64_t frames, double hz, uint32_t rate = 44100, double amplitude = 0.5, int channels = 1) {
  std::vector<int16_t> s(static_cast<size_t>(frames * channels));
  for (int64_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      s[static_cast<size_t>(i * channels + c)] =
          static_cast<int16_t>(std::lround(32767 * amplitude * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate)));
  CWavLoader wav;
  EXPECT_TRUE(wav.LoadFromMemory(MakePcm16Wav(s, static_cast<uint16_t>(channels), rate)));
  return wav;
}

double Rms(const CWavLoader& wav, int64_t from, int64_t to) {
  double sum = 0;
  for (int64_t i = from; i < to; ++i) {
    int16_t v;
    std::memcpy(&v, wav.data.data() + i * wav.format.nBlockAlign, 2);
    sum += (v / 32768.0) * (v / 32768.0);
  }
  return std::sqrt(sum / static_cast<double>(to - from));
}

double PitchAtMiddle(const CWavLoader& wav) {
  const int64_t mid = wav.FrameCount() / 2;
  return EstimatePitchYin(PcmSpan::Of(wav), mid, mid + 4410);
}

TEST(StretchWav, RubberBandGivesTheExactLengthAndKeepsPitchAndLevel) {
  struct Case {
    double a, b, semitones;
    int64_t frames;
    double pitch;
  };
  const Case cases[] = {
      {120, 240, 0, 44100, 440.0},                               // half the length, same pitch
      {2, 3, 0, 58800, 440.0},                                    // two thirds
      {1, 1, 12, 88200, 880.0},                                   // an octave up, same length
      {1, 1, 7, 88200, 440.0 * std::pow(2.0, 7.0 / 12.0)},        // a fifth up
      {100, 50, -12, 176400, 220.0},                              // twice as long, an octave down
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.a << "/" << k.b << " " << k.semitones);
    CWavLoader wav = Sine(88200, 440.0);
    const StretchResult r = StretchWav(wav, k.a, k.b, k.semitones);
    ASSERT_TRUE(r.success);
    EXPECT_EQ(wav.FrameCount(), k.frames);
    EXPECT_DOUBLE_EQ(r.seconds, static_cast<double>(k.frames) / 44100);
    EXPECT_NEAR(PitchAtMiddle(wav), k.pitch, k.pitch * 0.01);
    const int64_t n = wav.FrameCount();
    EXPECT_NEAR(Rms(wav, n / 4, 3 * n / 4), 0.5 / std::sqrt(2.0), 0.06);  // within about 1 dB
  }
}

TEST(StretchWav, StereoStaysStereoWithBothChannelsStretched) {
  CWavLoader wav = Sine(44100, 330.0, 44100, 0.5, 2);
  ASSERT_TRUE(StretchWav(wav, 3, 2, 0).success);
  EXPECT_EQ(wav.FrameCount(), 66150);
  EXPECT_EQ(wav.format.nBlockAlign, 4);
  EXPECT_EQ(wav.format.nAvgBytesPerSec, 44100u * 4);
}

TEST(StretchWav, RefusesWhatItCannotDoAndLeavesTheAudio) {
  struct Case {
    const char* name;
    int64_t frames;
    double a, b, semitones;
  };
  const Case cases[] = {
      {"0.05 s is shorter than the stretcher's blocks", 2205, 1, 1, 5},
      {"a not positive", 44100, 0, 1, 0},
      {"b not positive", 44100, 1, -2, 0},
      {"no output frame", 44100, 1, 1e9, 0},
      {"more than 16 times longer", 44100, 17, 1, 0},
      {"more than 16 times shorter", 44100, 1, 17, 0},
      {"beyond four octaves", 44100, 1, 1, 49},
      {"not a number", 44100, std::nan(""), 1, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CWavLoader wav = Sine(k.frames, 440.0);
    const auto before = wav.data;
    const StretchResult r = StretchWav(wav, k.a, k.b, k.semitones);
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.seconds, 0.0);
    EXPECT_EQ(wav.data, before);
  }
  CWavLoader deep = Sine(44100, 440.0);
  deep.format.wBitsPerSample = 24;
  EXPECT_FALSE(StretchWav(deep, 1, 2, 0).success);
  EXPECT_DOUBLE_EQ(MinimumStretchInput(44100, 1.0), 5292.0);
}

TEST(StretchWav, ReportsRisingProgressAndGivesTheSameAudioAsWithoutIt) {
  CWavLoader unwatched = Sine(88200, 440.0, 44100, 0.5, 2);
  CWavLoader watched = unwatched.Clone();
  ASSERT_TRUE(StretchWav(unwatched, 2, 3, 0).success);
  std::vector<double> reports;
  const StretchResult r = StretchWav(watched, 2, 3, 0, [&](double f) {
    reports.push_back(f);
    return true;
  });
  ASSERT_TRUE(r.success);
  EXPECT_FALSE(r.cancelled);
  EXPECT_EQ(watched.data, unwatched.data);
  // 22 blocks of 4096 frames processed, each reporting, and the conversions.
  ASSERT_GE(reports.size(), 22u);
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
  EXPECT_LT(reports.front(), 0.1);
  EXPECT_DOUBLE_EQ(reports.back(), 1.0);
}

TEST(StretchWav, StopsAtTheReportThatSaysStopAndLeavesTheAudio) {
  struct Case {
    const char* name;
    double stopAt;
  };
  const Case cases[] = {
      {"at the first report", 0.0},
      {"half way through the processing", 0.5},
      {"at the last report, with the output written", 1.0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    CWavLoader wav = Sine(88200, 440.0, 44100, 0.5, 2);
    const auto before = wav.data;
    bool stopped = false;
    int reportsAfter = 0;
    const StretchResult r = StretchWav(wav, 1, 2, 3, [&](double f) {
      if (stopped) ++reportsAfter;
      if (f >= k.stopAt) stopped = true;
      return !stopped;
    });
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.seconds, 0.0);
    EXPECT_EQ(reportsAfter, 0);
    EXPECT_EQ(wav.data, before);
    EXPECT_EQ(wav.format.nBlockAlign, 4);
  }
}

// Returns a fixed number of frames of a fixed value.
class FixedStretcher final : public Stretcher {
 public:
  FixedStretcher(int64_t extra, float value) : extra_(extra), value_(value) {}
  bool Stretch(const StretchSource& in, uint32_t, int64_t outFrames, double, StretchSink& out,
               const WorkProgress&) override {
    // In pieces of up to 1000 frames, as a stretcher hands them on.
    const std::vector<float> piece(1000, value_);
    const std::vector<const float*> channels(in.Channels(), piece.data());
    for (int64_t left = outFrames + extra_; left > 0; left -= 1000) {
      out.Write(channels.data(), static_cast<size_t>(std::min<int64_t>(left, 1000)));
    }
    return true;
  }

 private:
  int64_t extra_;
  float value_;
};

TEST(StretchWav, BringsAnyStretcherToTheExactLengthAndWritesNanAsSilence) {
  for (int64_t extra : {-300, 0, 500}) {
    SCOPED_TRACE(extra);
    FixedStretcher fixed(extra, 0.25f);
    ScopedStretcher scope(&fixed);
    CWavLoader wav = Sine(20000, 440.0);
    const StretchResult r = StretchWav(wav, 1, 2, 0);
    ASSERT_TRUE(r.success);
    EXPECT_EQ(wav.FrameCount(), 10000);
    EXPECT_EQ(r.lengthCorrection, extra);
    int16_t last;
    std::memcpy(&last, wav.data.data() + wav.data.size() - 2, 2);
    EXPECT_EQ(last, extra < 0 ? 0 : static_cast<int16_t>(0.25f * 32767));
  }
  FixedStretcher nan(0, std::nanf(""));
  ScopedStretcher scope(&nan);
  CWavLoader wav = Sine(20000, 440.0);
  ASSERT_TRUE(StretchWav(wav, 1, 1, 3).success);
  EXPECT_EQ(wav.data, std::vector<uint8_t>(wav.data.size(), 0));
}

TEST(StretchWav, ClampsBeyondFullScale) {
  FixedStretcher loud(0, 3.0f);
  ScopedStretcher scope(&loud);
  CWavLoader wav = Sine(20000, 440.0);
  ASSERT_TRUE(StretchWav(wav, 1, 1, 1).success);
  int16_t v;
  std::memcpy(&v, wav.data.data(), 2);
  EXPECT_EQ(v, 32767);
}

}  // namespace
}  // namespace zandrel
