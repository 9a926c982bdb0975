// The tuning previews: which notes the scale and the demo ask for, where
// they land in the buffer, how they mix, and the real flute's level.
#include "sound_design/tuning_previews.h"

#include <gmock/gmock.h>

#include <cmath>
#include <set>
#include <tuple>

#include "notes/tuning_table.h"

namespace zandrel {
namespace {

using PadCents = std::array<float, 8>;
constexpr PadCents kEqual = {0, 0, 0, 0, 0, 0, 0, 0};

// The 432 Hz row of the tuning table: every pad 31.77 cents low.
PadCents Row432() {
  for (const TuningPreset& row : BuildTuningPresets())
    if (row.name == "432Hz 'Healing' Tuning (12-TET)") return row.padCents;
  ADD_FAILURE() << "no 432 Hz row";
  return {};
}
const PadCents k432 = Row432();

struct Request {
  float frequency;
  float seconds;
  FluteParams params;
};

// Records what it is asked and answers with a short constant note whose
// value tells the requests apart (100, 200, ... in request order).
struct Recorder {
  std::vector<Request> requests;
  size_t noteSamples = 1000;
  PreviewNoteRenderer Renderer() {
    return [this](float f, float s, const FluteParams& p, std::vector<int16_t>& out) {
      requests.push_back({f, s, p});
      out.assign(noteSamples, static_cast<int16_t>(100 * requests.size()));
    };
  }
};

std::vector<float> FluteValues(const FluteParams& p) {
  return {p.vibratoAmount, p.vibratoRate, p.growl,  p.swell,  p.release,          p.gain,
          p.harmonics,     p.darkness,    p.rollOff, p.envelopeFollow, p.air,     p.formant,
          p.breathBrightness, p.breathAttack, p.waveguideMix, p.waveguideFeedback, p.airLoss};
}

TEST(TuningPreviewsTest, ScaleAsksForThePadsOfTheTuning) {
  struct Row {
    PadCents cents;
    std::array<double, 8> hz;
  };
  const Row rows[] = {
      {kEqual, {523.25, 587.33, 659.26, 698.46, 783.99, 880.00, 987.77, 1046.50}},
      {k432, {513.74, 576.65, 647.27, 685.76, 769.74, 864.00, 969.81, 1027.47}},
  };
  for (const Row& row : rows) {
    Recorder recorder;
    const auto buffer = RenderScalePreview(row.cents, recorder.Renderer());
    ASSERT_EQ(recorder.requests.size(), 8u);
    for (size_t i = 0; i < 8; ++i) {
      EXPECT_NEAR(recorder.requests[i].frequency, row.hz[i], 0.01) << "pad " << i;
      EXPECT_FLOAT_EQ(recorder.requests[i].seconds, 0.3f);
    }
  }
  Recorder recorder;
  RenderScalePreview(kEqual, recorder.Renderer());
  EXPECT_THAT(FluteValues(recorder.requests[0].params),
              ::testing::Pointwise(::testing::FloatEq(), std::vector<float>{0.1f, 5.0f, 0.2f, 0.2f, 0.4f, 0.5f, 0.8f,
                                                                            0.7f, 1.0f, 1.0f, 0.6f, 0.7f, 0.5f, 0.8f,
                                                                            0.7f, 0.98f, 0.2f}));
}

TEST(TuningPreviewsTest, ScaleNotesSitInTheirSlots) {
  // Notes longer than a slot's 26460 samples are cut there.
  for (size_t noteSamples : {size_t(1000), size_t(40000)}) {
    Recorder recorder;
    recorder.noteSamples = noteSamples;
    const auto buffer = RenderScalePreview(kEqual, recorder.Renderer());
    ASSERT_EQ(buffer.size(), 246960u);
    const size_t heard = std::min<size_t>(noteSamples, 26460);
    for (size_t i = 0; i < 8; ++i) {
      const size_t slot = i * 30870;
      EXPECT_EQ(buffer[slot], 100 * (i + 1)) << "pad " << i;
      EXPECT_EQ(buffer[slot + heard - 1], 100 * (i + 1)) << "pad " << i;
      if (slot + heard < buffer.size()) {
        EXPECT_EQ(buffer[slot + heard], 0) << "pad " << i;
      }
      if (slot > 0) {
        EXPECT_EQ(buffer[slot - 1], 0) << "pad " << i;
      }
    }
  }
  // A renderer that returns nothing leaves silence.
  const auto silent = RenderScalePreview(kEqual, [](float, float, const FluteParams&, std::vector<int16_t>& out) {
    out.clear();
  });
  EXPECT_EQ(silent, std::vector<int16_t>(246960, 0));
}

TEST(TuningPreviewsTest, DegreesFloorIntoPadsAndOctaves) {
  struct Row {
    int32_t degree;
    float note;
  };
  const Row rows[] = {{0, 72}, {6, 83}, {7, 84}, {-1, 71}, {-7, 60}, {-8, 59}, {-14, 48}, {-16, 45}, {-20, 38}};
  for (const Row& row : rows) EXPECT_FLOAT_EQ(DemoDegreeNote(row.degree, kEqual), row.note) << row.degree;
  // Pad cents move the note: degree -2 is pad A of octave 4.
  EXPECT_NEAR(DemoDegreeNote(-2, k432), 69.0f - 0.3177f, 1e-4);
}

TEST(TuningPreviewsTest, DemoTablesHoldTheSong) {
  const auto& melody = DemoMelody();
  const auto& accompaniment = DemoAccompaniment();
  int degreeSum = 0;
  for (size_t i = 0; i < melody.size(); ++i) {
    EXPECT_EQ(melody[i].startBeat, float(i));
    EXPECT_EQ(melody[i].lengthBeats, i + 1 == melody.size() ? 6.0f : 1.0f);
    degreeSum += melody[i].scaleDegree;
  }
  EXPECT_EQ(degreeSum, 170);
  int offsets = 0, accompanimentSum = 0;
  for (const DemoNote& n : accompaniment) {
    offsets += n.semitoneOffset != 0;
    accompanimentSum += n.scaleDegree;
  }
  EXPECT_EQ(offsets, 1);
  EXPECT_EQ(accompaniment[19].scaleDegree, -11);
  EXPECT_EQ(accompaniment[19].startBeat, 57.0f);
  EXPECT_EQ(accompaniment[19].semitoneOffset, 1.0f);
  EXPECT_EQ(accompaniment[21].lengthBeats, 6.0f);
  EXPECT_EQ(accompanimentSum, -259);
  EXPECT_EQ(melody.back().startBeat + melody.back().lengthBeats, 77.0f);
}

TEST(TuningPreviewsTest, DemoRendersEachDistinctNoteOnce) {
  Recorder recorder;
  const auto buffer = RenderDemoPreview(kEqual, recorder.Renderer());
  EXPECT_EQ(buffer.size(), 1830150u);
  std::set<std::tuple<int, float, float, int>> distinct;
  for (const DemoNote& n : DemoMelody()) distinct.insert({n.scaleDegree, n.semitoneOffset, n.lengthBeats, 0});
  for (const DemoNote& n : DemoAccompaniment()) distinct.insert({n.scaleDegree, n.semitoneOffset, n.lengthBeats, 1});
  EXPECT_EQ(recorder.requests.size(), distinct.size());
  std::set<std::tuple<float, float, float>> asked;
  for (const Request& r : recorder.requests) asked.insert({r.frequency, r.seconds, r.params.gain});
  EXPECT_EQ(asked.size(), recorder.requests.size());
  // The first melody note is C5 for 1.05 beats; the accompaniment's first is
  // C3 with its own set; the +1 offset lifts degree -11 (F3) to F#3.
  EXPECT_NEAR(recorder.requests[0].frequency, 523.25, 0.01);
  EXPECT_FLOAT_EQ(recorder.requests[0].seconds, 1.05f * 0.25f);
  EXPECT_FLOAT_EQ(recorder.requests[0].params.gain, 0.7f);
  EXPECT_THAT(FluteValues(recorder.requests[0].params),
              ::testing::Pointwise(::testing::FloatEq(), std::vector<float>{0.2f, 4.5f, 0.5f, 0.04f, 0.15f, 0.7f, 1.0f,
                                                                            0.9f, 1.0f, 1.0f, 0.8f, 0.7f, 0.5f, 0.8f,
                                                                            0.9f, 0.98f, 0.2f}));
  bool fSharp = false, lowC = false;
  for (const Request& r : recorder.requests) {
    if (r.params.gain == 0.3f && std::fabs(r.frequency - 130.81f) < 0.01f) {
      lowC = true;
      EXPECT_THAT(FluteValues(r.params),
                  ::testing::Pointwise(::testing::FloatEq(),
                                       std::vector<float>{0.0f, 4.5f, 0.0f, 0.04f, 0.15f, 0.3f, 0.5f, 0.4f, 1.0f, 1.0f,
                                                          0.5f, 0.7f, 0.5f, 0.8f, 0.4f, 0.98f, 0.2f}));
    }
    fSharp |= std::fabs(r.frequency - 185.00f) < 0.01f;
  }
  EXPECT_TRUE(lowC);
  EXPECT_TRUE(fSharp);
}

TEST(TuningPreviewsTest, DemoMixesAtEachStartAndEchoes) {
  // Each note a single sample of 1000 (left only): the melody's first note
  // adds trunc(0.9 x 1000) at 0, the accompaniment's trunc(0.75 x 1000);
  // the echo adds 0.35 of it 14112 samples later, and of that again.
  const auto buffer = RenderDemoPreview(kEqual, [](float, float, const FluteParams&, std::vector<int16_t>& out) {
    out.assign(1, 1000);
  });
  ASSERT_EQ(buffer.size(), 1830150u);
  EXPECT_EQ(buffer[0], 900 + 750);
  EXPECT_EQ(buffer[1], 0);
  EXPECT_EQ(buffer[14112], int(0.35f * 1650));
  EXPECT_EQ(buffer[2 * 14112], int(0.35f * int(0.35f * 1650)));
  // Beat 1 starts at 0.25 s of stereo: sample 22050, even.
  EXPECT_EQ(buffer[22050], 900 + int(0.35f * 0));
  // Loud notes are held at +-32000.
  const auto loud = RenderDemoPreview(kEqual, [](float, float, const FluteParams&, std::vector<int16_t>& out) {
    out.assign(50000, 32767);
  });
  EXPECT_EQ(*std::max_element(loud.begin(), loud.end()), 32000);
}

TEST(TuningPreviewsTest, TheFluteFillsTheScaleAudibly) {
  const auto buffer = RenderScalePreview(kEqual);
  ASSERT_EQ(buffer.size(), 246960u);
  for (size_t i = 0; i < 8; ++i) {
    int peak = 0;
    for (size_t j = i * 30870; j < i * 30870 + 26460; ++j) peak = std::max(peak, std::abs(int(buffer[j])));
    EXPECT_GT(peak, 2000) << "pad " << i;
    EXPECT_LE(peak, 26600) << "pad " << i;
    // Left and right are equal, and the gap after the note is silent.
    for (size_t j = i * 30870; j < i * 30870 + 26460; j += 2) ASSERT_EQ(buffer[j], buffer[j + 1]);
    if (i < 7) {
      for (size_t j = i * 30870 + 26460; j < (i + 1) * 30870; ++j) ASSERT_EQ(buffer[j], 0);
    }
  }
}

}  // namespace
}  // namespace zandrel
