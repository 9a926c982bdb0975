#include "notes/note_distribution.h"

#include <gmock/gmock.h>

#include <cmath>
#include <limits>
#include <set>

namespace zandrel {
namespace {

using ::testing::ElementsAreArray;

InstrumentData WithRoots(const std::vector<int>& roots) {
  InstrumentData d;
  d.hasInstrument = true;
  d.params.playMode = "oneshot";
  for (size_t i = 0; i < roots.size(); ++i) {
    Region r;
    r.startSample = static_cast<int64_t>(i) * 100;
    r.endSample = r.startSample + 100;
    r.rootNote = roots[i];
    d.regions.push_back(r);
  }
  return d;
}

std::vector<int> Field(const InstrumentData& d, int32_t Region::*field) {
  std::vector<int> out;
  for (const Region& r : d.regions) out.push_back(r.*field);
  return out;
}

TEST(ReadLeadingIntegerTest, ReadsLikeAtoiAndNeverOverflows) {
  const struct {
    const char* text;
    int64_t value;
  } cases[] = {{"12", 12}, {"  -12x", -12}, {"+5", 5}, {"abc", 0}, {"", 0}, {"- 3", 0}, {"127", 127},
               {"-128", -128}};
  for (const auto& c : cases) EXPECT_EQ(ReadLeadingInteger(c.text), c.value) << c.text;
  // Digits past the int range read as far out of range, with their sign, so
  // the caller's +/-127 check refuses them instead of seeing a wrapped value.
  for (const char* big : {"2147483648", "4294967308", "99999999999999999999999"})
    EXPECT_GT(ReadLeadingInteger(big), kMaxTransposeSemitones) << big;
  EXPECT_LT(ReadLeadingInteger("-99999999999999999999999"), -kMaxTransposeSemitones);
}

TEST(PercussiveDistributionTest, LaysSlicesOnTheScale) {
  const struct {
    int spreadType;
    int start;
    const char* startText;
    size_t regions;
    std::vector<int> roots, lo, hi;
    std::string name;
  } cases[] = {
      {1, 60, "C4", 3, {60, 62, 64}, {0, 61, 63}, {61, 63, 127}, "C Major"},
      {0, 60, "C4", 2, {60, 61}, {0, 61}, {61, 127}, "Chromatic"},
      {2, 60, "C4", 3, {60, 62, 63}, {0, 61, 63}, {61, 63, 127}, "C Minor"},
      {3, 62, "D4", 3, {62, 64, 66}, {0, 63, 65}, {63, 65, 127}, "Major (D4 Key)"},
      {4, 62, "D4", 3, {62, 64, 65}, {0, 63, 65}, {63, 65, 127}, "Minor (D4 Key)"},
      {9, 61, "C#4", 2, {62, 64}, {0, 63}, {63, 127}, "C Major"},  // any other type is C major, from the next note
      {1, 60, "C4", 1, {60}, {0}, {127}, "C Major"},
      // Past the scale's end every root is 127, and the high key of a
      // region that is not the last stays 127 instead of 128.
      {0, 127, "G9", 3, {127, 127, 127}, {0, 127, 127}, {127, 127, 127}, "Chromatic"},
      {1, 124, "E9", 3, {124, 125, 127}, {0, 125, 126}, {125, 126, 127}, "C Major"},
  };
  for (const auto& c : cases) {
    InstrumentData d = WithRoots(std::vector<int>(c.regions, 0));
    d.hasInstrument = false;
    EXPECT_EQ(DistributePercussive(d, c.start, c.spreadType, c.startText), c.name);
    EXPECT_THAT(Field(d, &Region::rootNote), ElementsAreArray(c.roots)) << c.name << " " << c.startText;
    EXPECT_THAT(Field(d, &Region::loKey), ElementsAreArray(c.lo)) << c.name << " " << c.startText;
    EXPECT_THAT(Field(d, &Region::hiKey), ElementsAreArray(c.hi)) << c.name << " " << c.startText;
    EXPECT_EQ(d.params.playMode, "key");
    EXPECT_TRUE(d.hasInstrument);
  }
}

TEST(PercussiveDistributionTest, KeyedMajorScaleHasTheKeysPitchClasses) {
  std::set<int> classes;
  for (int n : ScaleNotes(SpreadType::kMajorWithKey, 62 % 12)) classes.insert(n % 12);
  EXPECT_EQ(classes, (std::set<int>{1, 2, 4, 6, 7, 9, 11}));
}

TEST(MelodicDistributionTest, ZonesBetweenRoots) {
  const struct {
    int distribution;
    std::vector<int> roots, lo, hi;
    std::string name;
  } cases[] = {
      {0, {48, 60}, {0, 54}, {54, 127}, "Center"},
      {0, {60, 61}, {0, 61}, {61, 127}, "Center"},  // 60.5 rounds away from zero
      {1, {48, 60, 72}, {0, 49, 61}, {49, 61, 127}, "Sample Downwards"},
      {2, {48, 60, 72}, {0, 60, 72}, {60, 72, 127}, "Sample Upwards"},
      {0, {20}, {0}, {127}, "Center"},
      {1, {20}, {0}, {127}, "Sample Downwards"},
      {2, {20}, {0}, {127}, "Sample Upwards"},
  };
  for (const auto& c : cases) {
    InstrumentData d = WithRoots(c.roots);
    EXPECT_EQ(DistributeMelodic(d, c.distribution), c.name);
    EXPECT_THAT(Field(d, &Region::rootNote), ElementsAreArray(c.roots));
    EXPECT_THAT(Field(d, &Region::loKey), ElementsAreArray(c.lo)) << c.name;
    EXPECT_THAT(Field(d, &Region::hiKey), ElementsAreArray(c.hi)) << c.name;
    EXPECT_EQ(d.params.playMode, "key");
  }
}

TEST(MelodicDistributionTest, RootsMustRiseStrictly) {
  EXPECT_FALSE(FirstNonRisingRoot(WithRoots({48, 60, 72}).regions));
  const InstrumentData same = WithRoots({60, 60});
  ASSERT_EQ(FirstNonRisingRoot(same.regions), 1u);
  EXPECT_EQ(InvalidRootsMessage(same.regions, 1),
            "Invalid root notes detected:\n\nRegion 1 has root note 60 (C4)\nRegion 2 has root note 60 (C4)\n\n"
            "Each region's root note must be higher than the previous region.\nPlease fix the root notes manually "
            "and try again.");
  EXPECT_EQ(FirstNonRisingRoot(WithRoots({40, 50, 45}).regions), 2u);
}

TEST(MelodicDistributionTest, FrequencyToNote) {
  EXPECT_EQ(NoteFromFrequency(440.0), 69);
  EXPECT_EQ(NoteFromFrequency(261.63), 60);
  EXPECT_EQ(NoteFromFrequency(440.0 * std::pow(2.0, 0.5 / 12)), 70);  // a half rounds up
  EXPECT_EQ(NoteFromFrequency(1.0), 0);
  EXPECT_EQ(NoteFromFrequency(1e9), 127);
  // A failed estimate, whatever form it takes, is no note.
  for (double bad : {0.0, -5.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()})
    EXPECT_FALSE(NoteFromFrequency(bad)) << bad;
}

}  // namespace
}  // namespace zandrel
