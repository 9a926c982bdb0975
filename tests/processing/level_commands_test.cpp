// Fades, fades into reverb and echo, Silence and Normalize, checked on what
// they do to the audio at every depth each one handles.
#include "processing/level_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "processing/processing_fixture.h"
#include "processing/registered_commands.h"

namespace zandrel::test {
namespace {

using ::testing::ElementsAre;

const ProcessingCommand& Command(int id) { return *FindProcessingCommand(id); }

constexpr int kFadeOut = 32789, kFadeIn = 32791, kFadeInExp = 32793, kFadeOutExp = 32795, kReverb = 32790,
              kDelay = 32794, kSilence = 32796, kNormalize = 32797;

const DepthCase& Depth(SampleFormat f) {
  for (const DepthCase& d : AllDepths())
    if (d.format == f) return d;
  throw std::logic_error("no depth");
}

class LevelCommandsTest : public ProcessingTest {};

TEST_F(LevelCommandsTest, PlainFadeEnvelopesAtEveryDepth) {
  struct Fade {
    int id;
    double (*gain)(double t);  // t = i / n
  };
  const Fade fades[] = {
      {kFadeOut, [](double t) { return 1 - t; }},
      {kFadeIn, [](double t) { return t; }},
      {kFadeInExp, [](double t) { return 1 - std::exp(-3 * t); }},
      {kFadeOutExp, [](double t) { return std::exp(-3 * t); }},
  };
  constexpr int64_t n = 1000;
  for (const Fade& fade : fades) {
    const ProcessingCommand& c = Command(fade.id);
    for (const DepthCase& depth : AllDepths()) {
      if (!c.depths.Has(depth.format)) continue;
      SCOPED_TRACE(std::string(c.menuText) + " " + depth.name);
      SetConstant(depth, 2, n, 0.75);
      const double level = Raw(depth, 0);
      ASSERT_EQ(Run(c), ProcessingResult::kDone) << LastText();
      // Start, a quarter, the middle (a mid-ramp value: integer steps of i/n
      // or 3i/n would miss it), three quarters and the last frame.
      for (int64_t i : {int64_t{0}, n / 4, n / 2, 3 * n / 4, n - 1}) {
        const double expected = level * fade.gain(static_cast<double>(i) / n);
        const double tolerance = depth.isFloat ? 1e-6 : 1.0;
        EXPECT_NEAR(Raw(depth, i, 0), expected, tolerance) << "frame " << i;
        EXPECT_EQ(Raw(depth, i, 1), Raw(depth, i, 0)) << "frame " << i;  // same gain on every channel
      }
      Doc().undoHistory.Clear();
    }
  }
}

TEST_F(LevelCommandsTest, FadeRoundingPerLaw) {
  const DepthCase& d16 = Depth(SampleFormat::kS16);
  SetAudio(d16, 1, {1000, 1000, 1000, 1000});
  ASSERT_EQ(Run(Command(kFadeOut)), ProcessingResult::kDone);
  EXPECT_THAT(Doc().audio.data, ElementsAre(0xE8, 0x03, 0xEE, 0x02, 0xF4, 0x01, 0xFA, 0x00));  // 1000 750 500 250
  SetAudio(d16, 1, {1000, 1000, 1000, 1000});
  ASSERT_EQ(Run(Command(kFadeIn)), ProcessingResult::kDone);
  EXPECT_THAT(Doc().audio.data, ElementsAre(0x00, 0x00, 0xFA, 0x00, 0xF4, 0x01, 0xEE, 0x02));  // 0 250 500 750

  // -3 at gain 0.5 (frame 1 of 2): the linear fade-out rounds halves away
  // from zero, the fade-in rounds toward zero.
  SetAudio(d16, 1, {-3, -3});
  ASSERT_EQ(Run(Command(kFadeOut)), ProcessingResult::kDone);
  EXPECT_EQ(Raw(d16, 1), -2);
  SetAudio(d16, 1, {-3, -3});
  ASSERT_EQ(Run(Command(kFadeIn)), ProcessingResult::kDone);
  EXPECT_EQ(Raw(d16, 1), -1);

  // 8-bit fades work on byte - 128.
  const DepthCase& d8 = Depth(SampleFormat::kU8);
  SetAudio(d8, 1, {-100, -100, -100, -100});
  ASSERT_EQ(Run(Command(kFadeOut)), ProcessingResult::kDone);
  EXPECT_THAT(Doc().audio.data, ElementsAre(28, 53, 78, 103));
}

TEST_F(LevelCommandsTest, FadesFollowTheSelectionAndLeaveTheRestAlone) {
  const DepthCase& d24 = Depth(SampleFormat::kS24);
  SetConstant(d24, 1, 1000, 0.5);
  const double level = Raw(d24, 0);
  selection = {200, 600, true};
  ASSERT_EQ(Run(Command(kFadeOutExp)), ProcessingResult::kDone);
  EXPECT_EQ(Raw(d24, 199), level);
  EXPECT_EQ(Raw(d24, 200), level);
  EXPECT_NEAR(Raw(d24, 400), level * std::exp(-1.5), 1.0);
  EXPECT_EQ(Raw(d24, 600), level);
  EXPECT_EQ(frame.Lines().back(), "Applied exponential fade-out to 400 samples (from sample 200 to 600)");
}

TEST_F(LevelCommandsTest, SilenceIsExactlyZeroInsideAndUntouchedOutside) {
  for (const DepthCase& depth : AllDepths()) {
    SCOPED_TRACE(depth.name);
    SetConstant(depth, 2, 500, -0.6);
    const std::vector<uint8_t> before = Doc().audio.data;
    selection = {100, 300, false};
    ASSERT_EQ(Run(Command(kSilence)), ProcessingResult::kDone) << LastText();
    const size_t align = Doc().audio.format.nBlockAlign;
    const uint8_t silentByte = depth.format == SampleFormat::kU8 ? 128 : 0;
    for (size_t b = 100 * align; b < 300 * align; ++b) ASSERT_EQ(Doc().audio.data[b], silentByte) << b;
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 100 * align, Doc().audio.data.begin()));
    EXPECT_TRUE(std::equal(before.begin() + 300 * align, before.end(), Doc().audio.data.begin() + 300 * align));
    Doc().undoHistory.Clear();
  }
}

TEST_F(LevelCommandsTest, SilenceClampsTheSelectionToTheAudio) {
  const DepthCase& d16 = Depth(SampleFormat::kS16);
  SetConstant(d16, 1, 500, 0.3);
  selection = {400, 900, false};
  ASSERT_EQ(Run(Command(kSilence)), ProcessingResult::kDone);
  EXPECT_NE(Raw(d16, 399), 0);
  EXPECT_EQ(Raw(d16, 499), 0);
  EXPECT_EQ(Doc().FrameCount(), 500);
}

TEST_F(LevelCommandsTest, NormalizeBringsThePeakTo92PercentAtEveryDepth) {
  for (const DepthCase& depth : AllDepths()) {
    if (!Command(kNormalize).depths.Has(depth.format)) continue;
    SCOPED_TRACE(depth.name);
    std::vector<double> raw;
    const double full = FullScale(depth.format);
    for (int i = 0; i < 400; ++i) raw.push_back(std::trunc(full * 0.3 * std::sin(0.1 * i)));
    raw[123] = -std::trunc(full * 0.4);  // the peak, negative
    SetAudio(depth, 1, raw);
    ASSERT_EQ(Run(Command(kNormalize)), ProcessingResult::kDone) << LastText();
    double peak = 0;
    for (int64_t f = 0; f < 400; ++f) peak = std::max(peak, std::abs(Raw(depth, f)));
    EXPECT_NEAR(peak, full * 0.92, 1.0);
    EXPECT_NEAR(Raw(depth, 123), -full * 0.92, 1.0);
    // Every other sample got the same gain.
    const double gain = full * 0.92 / std::trunc(full * 0.4);
    EXPECT_NEAR(Raw(depth, 17), std::trunc(raw[17] * gain), 1.0);
    EXPECT_EQ(Doc().undoHistory.undoStack.back().description, "Normalize");
    Doc().undoHistory.Clear();
  }
}

TEST_F(LevelCommandsTest, NormalizeRefusesSilenceAndLoudAudio) {
  const DepthCase& d16 = Depth(SampleFormat::kS16);
  SetAudio(d16, 1, {0, 0, 0, 0});
  EXPECT_EQ(Run(Command(kNormalize)), ProcessingResult::kRefused);
  EXPECT_EQ(LastText(), "Audio is silent or near-silent. Cannot normalize.");

  SetAudio(d16, 1, {100, -31000, 200});
  const std::vector<uint8_t> before = Doc().audio.data;
  EXPECT_EQ(Run(Command(kNormalize)), ProcessingResult::kRefused);
  EXPECT_EQ(LastText(),
            "Audio is already at or above target level (94.6% of maximum).\nNo normalization needed.");
  EXPECT_EQ(Doc().audio.data, before);
  EXPECT_TRUE(Doc().undoHistory.undoStack.empty());

  // A peak of 16384 is multiplied by 30145.64 / 16384.
  SetAudio(d16, 1, {16384, 1000});
  ASSERT_EQ(Run(Command(kNormalize)), ProcessingResult::kDone);
  EXPECT_EQ(Raw(d16, 0), 30145);
  EXPECT_EQ(Raw(d16, 1), 1839);
}

// Audio at 1000 Hz keeps the comb delays short: 29, 37, 41, 43, 50, 61, 67
// and 73 frames; the reverb's tail is 800 frames, the echo's delay 90.
constexpr uint32_t kSlowRate = 1000;

TEST_F(LevelCommandsTest, ReverbShapesTheDryPartAlongAFloatingPointCurve) {
  const DepthCase& d16 = Depth(SampleFormat::kS16);
  EXPECT_THAT(ReverbCombDelays(kSlowRate), ElementsAre(29, 37, 41, 43, 50, 61, 67, 73));
  EXPECT_EQ(ReverbCombDelays(44100).front(), 1309);
  // At 44100 Hz no comb answers within the first 1309 frames, so there the
  // output is the shaped dry signal alone: h = 1000, frame 500 has gain
  // e^-1.5 (an integer 3i/h would give e^-1).
  SetConstant(d16, 1, 2000, 0.5, 44100);
  const double level = Raw(d16, 0);
  ASSERT_EQ(Run(Command(kReverb)), ProcessingResult::kDone);
  for (int64_t i : {0, 250, 500, 750}) {
    const double dry = std::round(level * std::exp(-3.0 * i / 1000.0));
    EXPECT_NEAR(Raw(d16, i), std::round(dry / 32768.0 * 32767.0), 1.0) << i;
  }
  EXPECT_EQ(frame.Lines().back(),
            "Applied fade-out with reverb: Step 1) Faded to silence over 1000 samples, Step 2) Applied progressive "
            "reverb over 2000 samples, Step 3) Added 0 sample reverb tail");
}

TEST_F(LevelCommandsTest, ReverbFeedsItsCombsThroughAFloatingPointRamp) {
  const DepthCase& d16 = Depth(SampleFormat::kS16);
  // One click at frame 50 of a 400-frame range: q = 100, so the click enters
  // the combs at ramp 0.5 (an integer i/q would give 0 and no echo at all).
  std::vector<double> raw(1000, 0.0);
  raw[50] = 20000;
  SetAudio(d16, 1, raw, kSlowRate);
  selection = {0, 400, true};
  ASSERT_EQ(Run(Command(kReverb)), ProcessingResult::kDone);
  const float shaped = static_cast<float>(std::round(20000 * std::exp(-3.0f * 50 / 200))) / 32768.0f;
  // The first comb (29 frames, weight 0.35) answers first, scaled by 1.5.
  EXPECT_EQ(Raw(d16, 50 + 28), 0);
  EXPECT_NEAR(Raw(d16, 50 + 29), std::round(0.35 * shaped * 0.5 * 1.5 * 32767.0), 1.0);
}

TEST_F(LevelCommandsTest, ReverbTailRingsIntoTheFollowingAudioAndDecays) {
  const DepthCase& d16 = Depth(SampleFormat::kS16);
  // A loud range followed by silence; the file is long enough for the whole tail.
  std::vector<double> raw(3000, 0.0);
  for (int i = 0; i < 600; ++i) raw[static_cast<size_t>(i)] = 12000;
  SetAudio(d16, 1, raw, kSlowRate);
  selection = {0, 600, true};
  ASSERT_EQ(Run(Command(kReverb)), ProcessingResult::kDone);
  EXPECT_THAT(frame.Lines().back(), ::testing::EndsWith("Step 3) Added 800 sample reverb tail"));

  auto rms = [&](int64_t from, int64_t to) {
    double sum = 0;
    for (int64_t f = from; f < to; ++f) sum += Raw(d16, f) * Raw(d16, f);
    return std::sqrt(sum / static_cast<double>(to - from));
  };
  // The tail is audible, decays over its 800 frames, and nothing follows it.
  EXPECT_GT(rms(600, 700), 50.0);
  EXPECT_LT(rms(1300, 1400), rms(600, 700) / 4);
  for (int64_t f = 1400; f < 3000; ++f) ASSERT_EQ(Raw(d16, f), 0) << f;
}

TEST_F(LevelCommandsTest, ReverbTailStopsAtTheEndOfTheFile) {
  const DepthCase& d16 = Depth(SampleFormat::kS16);
  SetConstant(d16, 2, 1000, 0.4, kSlowRate);
  selection = {0, 700, true};
  ASSERT_EQ(Run(Command(kReverb)), ProcessingResult::kDone);
  EXPECT_EQ(Doc().FrameCount(), 1000);
  EXPECT_THAT(frame.Lines().back(), ::testing::EndsWith("Step 3) Added 300 sample reverb tail"));
}

TEST_F(LevelCommandsTest, DelayEchoesEvery90msWithFeedback) {
  const DepthCase& d16 = Depth(SampleFormat::kS16);
  EXPECT_EQ(DelayFrames(44100), 3969);
  EXPECT_EQ(DelayFrames(kSlowRate), 90);
  EXPECT_EQ(DelayFrames(5), 1);

  // One second at 44100 Hz: the input fades out over 14700 frames, echoes
  // follow every 3969 frames, each 0.4 of the one before.
  std::vector<double> raw(50000, 0.0);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = 16000 * std::sin(0.05 * static_cast<double>(i));
  SetAudio(d16, 1, raw, 44100);
  const std::vector<uint8_t> before = Doc().audio.data;
  selection = {0, 44100, true};
  ASSERT_EQ(Run(Command(kDelay)), ProcessingResult::kDone);
  EXPECT_EQ(frame.Lines().back(), "Applied fade-out to delay (90ms)");

  // After the input has ended, every stretch is 0.4 of the stretch one delay earlier.
  auto rms = [&](int64_t from) {
    double sum = 0;
    for (int64_t f = from; f < from + 1000; ++f) sum += Raw(d16, f) * Raw(d16, f);
    return std::sqrt(sum / 1000.0);
  };
  for (int64_t t : {20000, 25000, 30000}) {
    ASSERT_GT(rms(t - 3969), 20.0) << t;
    EXPECT_NEAR(rms(t) / rms(t - 3969), 0.4, 0.02) << t;
  }
  // The echoes end with the range: the audio after it is untouched.
  EXPECT_TRUE(std::equal(before.begin() + 2 * 44100, before.end(), Doc().audio.data.begin() + 2 * 44100));
}

TEST_F(LevelCommandsTest, DelayInputGainIsAFloatingPointCurve) {
  const DepthCase& d16 = Depth(SampleFormat::kS16);
  // 1200 frames at 1000 Hz: the input fades over 400 frames; the echo's
  // first answer comes 90 frames in, so frames below 90 are the dry input
  // alone: x * v(t) with v from 1 down.
  SetConstant(d16, 1, 1200, 0.5, kSlowRate);
  const double level = Raw(d16, 0);
  ASSERT_EQ(Run(Command(kDelay)), ProcessingResult::kDone);
  const double floorGain = std::exp(-3.0);
  for (int64_t t : {0, 30, 60, 89}) {
    const double v = (std::exp(-3.0 * t / 400.0) - floorGain) / (1 - floorGain);
    EXPECT_NEAR(Raw(d16, t), std::floor(level / 32768.0 * v * 32767.0 + 0.5), 1.0) << t;
  }
}

}  // namespace
}  // namespace zandrel::test
