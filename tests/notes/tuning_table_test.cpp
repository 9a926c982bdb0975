#include "notes/tuning_table.h"

#include <gmock/gmock.h>

#include <cmath>
#include <functional>
#include <set>

namespace zandrel {
namespace {

using ::testing::ElementsAreArray;

const std::vector<TuningPreset>& Table() {
  static const std::vector<TuningPreset> rows = BuildTuningPresets();
  return rows;
}

TEST(TuningTableTest, HoldsTwentyFiveHeadersAndTwoHundredTwentySixTunings) {
  const auto& rows = Table();
  ASSERT_EQ(rows.size(), 251u);
  std::vector<int> headers;
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].isCategory) headers.push_back(static_cast<int>(i));
  EXPECT_THAT(headers, ElementsAreArray({0,   5,   23,  29,  40,  46,  56,  73,  78,  84,  92,  100, 124,
                                         136, 143, 148, 162, 170, 174, 181, 191, 202, 207, 211, 226}));
  EXPECT_EQ(rows[1].name, "12-TET (Reference: Equal Temperament)");
  // A rebuild replaces, never appends.
  std::vector<TuningPreset> again;
  BuildTuningPresets(again);
  BuildTuningPresets(again);
  EXPECT_EQ(again.size(), 251u);
}

TEST(TuningTableTest, GivenRowsAreExact) {
  const struct {
    int row;
    const char* name;
    std::array<float, 8> cents;
  } given[] = {
      {1, "12-TET (Reference: Equal Temperament)", {0, 0, 0, 0, 0, 0, 0, 0}},
      {2, "432Hz 'Healing' Tuning (12-TET)", {-31.77f, -31.77f, -31.77f, -31.77f, -31.77f, -31.77f, -31.77f, -31.77f}},
      {3, "5-Limit Just Intonation", {0, 3.91f, -13.69f, -1.96f, 1.96f, -15.64f, -11.73f, 0}},
      {4, "5-Limit Just Intonation (C Natural Minor)", {0, 3.91f, -84.36f, -1.96f, 1.96f, -86.31f, -82.4f, 0}},
      {6, "Pythagorean Tuning (Medieval)", {0, 3.91f, 7.82f, -1.96f, 1.96f, 5.87f, 9.78f, 0}},
      {26, "Hurdy-Gurdy (G Major / Auvergnat)",
       {-500, -496.09f, -513.69f, -501.96f, -498.04f, -515.64f, -511.73f, -500}},
      {41, "Hungarian Minor (Gypsy Scale)", {0, 0, -100, 100, 0, -100, 0, 0}},
      {75, "Latvian Dainas (Folk Quatrains)", {0, 3.91f, -13.69f, 200, 200, 300, 300, 400}},
      {106, "Maqam Sikah (Neutral Root)", {-50, 0, 50, 0, -50, 0, 50, -50}},
      {137, "Equi-Heptatonic (7-Tone Equal, African/Thai)", {0, -28.57f, -57.14f, 14.29f, -14.29f, -42.86f, -71.43f, 0}},
      {239, "Bohlen-Pierce (Experimental)", {0, 46.15f, 92.31f, 138.46f, 184.62f, 230.77f, 276.92f, 323.08f}},
      {240, "Wendy Carlos Alpha (Non-Octave)", {0, -122, -244, -266, -388, -510, -632, -654}},
      {247, "Binaural Beat Offset (+10 cents / ~8-12Hz Alpha)", {10, 10, 10, 10, 10, 10, 10, 10}},
      {250, "Uncanny Valley (Psychological Unease)", {-3, 5, -7, 2, -4, 6, -8, 4}},
  };
  for (const auto& g : given) {
    const TuningPreset& row = Table()[g.row];
    EXPECT_EQ(row.name, g.name);
    EXPECT_FALSE(row.isCategory);
    EXPECT_EQ(row.padCents, g.cents) << g.name;
  }
  // The 432 Hz enigmatic row holds the single-precision difference itself.
  const TuningPreset& enigma = Table()[238];
  EXPECT_EQ(enigma.name, "Ostrani's Enigmatic Scale 1884 (A=432Hz)");
  int sharp = 0;
  for (float c : enigma.padCents) sharp += c == 100.0f - 31.77f;
  EXPECT_EQ(sharp, 3);
}

TEST(TuningTableTest, NamesAreStoredAsListed) {
  const auto& rows = Table();
  EXPECT_EQ(rows[0].name, " STANDARDS && JUST INTONATION");
  EXPECT_EQ(rows[91].name, "Icelandic R\xC3\x83\xC2\xADmur (Epic Recitation)");
  EXPECT_EQ(rows[146].name, "Kazakh Dombra (K\xC3\x83\xC2\xBCi Instrumental)");
  EXPECT_EQ(rows[170].name, " AMERICAS - Mexico & Central America  ");
  EXPECT_EQ(rows[174].name, " AMERICAS - Caribbean ");
  std::set<std::string> names;
  for (const TuningPreset& row : rows) {
    EXPECT_TRUE(names.insert(row.name).second) << "twice: " << row.name;
    const bool leadingBlank = !row.name.empty() && row.name[0] == ' ';
    EXPECT_EQ(leadingBlank, row.isCategory) << row.name;
    if (row.isCategory) {
      EXPECT_NE(row.name[1], ' ') << row.name;
    }
  }
}

TEST(TuningTableTest, EveryRowIsPlayable) {
  for (const TuningPreset& row : Table()) {
    float previous = -1e9f;
    for (size_t pad = 0; pad < 8; ++pad) {
      const float c = row.padCents[pad];
      ASSERT_TRUE(std::isfinite(c)) << row.name;
      EXPECT_LE(std::fabs(c), 1200.0f) << row.name;
      EXPECT_NEAR(c * 100.0f, std::round(c * 100.0f), 0.01f) << row.name << " pad " << pad;
      if (row.isCategory) {
        EXPECT_EQ(c, 0.0f) << row.name;
      }
      // A higher pad never sounds lower than the one before it.
      const float pitch = 100.0f * static_cast<float>(kPadSemitones[pad]) + c;
      EXPECT_GE(pitch, previous) << row.name << " pad " << pad;
      previous = pitch;
    }
    if (!row.isCategory) {
      EXPECT_NE(row.description.find("\r\nCharacter: "), std::string::npos) << row.name;
      EXPECT_NE(row.description.find("\r\nUsage: "), std::string::npos) << row.name;
    } else {
      EXPECT_EQ(row.description.find('\n'), std::string::npos) << row.name;
    }
  }
}

// Intended pitches above C for the eight pads.
using Pitches = std::array<double, 8>;

double Cents(double ratio) { return 1200.0 * std::log2(ratio); }

Pitches FromRatios(std::array<double, 8> r) {
  Pitches p{};
  for (int i = 0; i < 8; ++i) p[i] = Cents(r[i]);
  return p;
}

// Steps of a scale within the octave, continued into the next octaves until
// eight pads are filled.
Pitches FromSteps(std::vector<double> steps) {
  Pitches p{};
  for (size_t i = 0; i < 8; ++i) p[i] = steps[i % steps.size()] + 1200.0 * static_cast<double>(i / steps.size());
  return p;
}

Pitches FromEdo(int n, std::array<int, 8> steps) {
  Pitches p{};
  for (int i = 0; i < 8; ++i) p[i] = steps[i] * 1200.0 / n;
  return p;
}

Pitches Meantone(double fifth) {
  auto reduce = [fifth](int k) { return k * fifth - 1200.0 * std::floor(k * fifth / 1200.0); };
  return {0, reduce(2), reduce(4), reduce(-1), reduce(1), reduce(3), reduce(5), 1200};
}

Pitches EqualSteps(double step) {
  Pitches p{};
  for (int i = 0; i < 8; ++i) p[i] = i * step;
  return p;
}

Pitches Offset(double cents) {
  Pitches p{};
  for (int i = 0; i < 8; ++i) p[i] = 100.0 * kPadSemitones[i] + cents;
  return p;
}

// The twelve notes above C of a temperament built as a chain of eleven
// fifths Eb-Bb-F-C-G-D-A-E-B-F#-C#-G#, fifth i narrowed by narrowing[i]
// cents from the pure 3:2 (the wolf, G#-Eb, takes what is left).
std::array<double, 12> FifthChain(const std::array<double, 11>& narrowing) {
  const double pure = 1200.0 * std::log2(1.5);
  std::array<double, 12> above{};  // by pitch class, above Eb
  double pitch = 0.0;
  int pc = 3;  // Eb
  for (int i = 0; i < 11; ++i) {
    pitch += pure - narrowing[i];
    pc = (pc + 7) % 12;
    above[pc] = pitch;
  }
  std::array<double, 12> note{};
  for (int n = 0; n < 12; ++n) {
    const double c = above[n] - above[0];
    note[n] = c - 1200.0 * std::floor(c / 1200.0);
  }
  return note;
}

// The pads C D E F G A B C' of a twelve-note temperament.
Pitches PadsOf(const std::array<double, 12>& note) {
  return {note[0], note[2], note[4], note[5], note[7], note[9], note[11], 1200};
}

// The rows named for two documented temperaments carry them: quarter-comma
// meantone (every fifth narrowed by a quarter of the syntonic comma, 81:80)
// and Werckmeister III (C-G, G-D, D-A and B-F# narrowed by a quarter of the
// Pythagorean comma, the other fifths pure). The chains are checked against
// the published cents before the pads are compared with them.
TEST(TuningTableTest, NamedTemperamentsCarryTheirPublishedCents) {
  const double syntonic = 1200.0 * std::log2(81.0 / 80.0);
  const double pythagorean = 1200.0 * std::log2(std::pow(3.0, 12) / std::pow(2.0, 19));
  std::array<double, 11> quarterComma{};
  quarterComma.fill(syntonic / 4);
  std::array<double, 11> werckmeister{};
  for (int i : {3, 4, 5, 8}) werckmeister[i] = pythagorean / 4;  // C-G, G-D, D-A, B-F#
  const struct {
    int row;
    const char* name;
    std::array<double, 12> notes;
    std::array<double, 12> published;
  } temperaments[] = {
      {12, "1/4-Comma Meantone (16th/17th-century)", FifthChain(quarterComma),
       {0, 76.0, 193.2, 310.3, 386.3, 503.4, 579.5, 696.6, 772.6, 889.7, 1006.8, 1082.9}},
      {15, "Werckmeister III (Well Temperament)", FifthChain(werckmeister),
       {0, 90.2, 192.2, 294.1, 390.2, 498.0, 588.3, 696.1, 792.2, 888.3, 996.1, 1092.2}},
  };
  for (const auto& t : temperaments) {
    SCOPED_TRACE(t.name);
    for (int n = 0; n < 12; ++n) EXPECT_NEAR(t.notes[n], t.published[n], 0.05) << "note " << n;
    const TuningPreset& row = Table()[t.row];
    ASSERT_EQ(row.name, t.name);
    const Pitches pads = PadsOf(t.notes);
    for (int i = 0; i < 8; ++i)
      EXPECT_NEAR(row.padCents[i], pads[i] - 100.0 * kPadSemitones[i], 0.006) << "pad " << i;
  }
}

TEST(TuningTableTest, ComputedRowsFollowTheirDerivation) {
  constexpr double kComma = 21.506;  // syntonic comma
  const struct {
    int row;
    Pitches pitches;
  } derived[] = {
      {1, EqualSteps(0) /* replaced below */},
      {3, FromRatios({1, 9.0 / 8, 5.0 / 4, 4.0 / 3, 3.0 / 2, 5.0 / 3, 15.0 / 8, 2})},
      {137, EqualSteps(1200.0 / 7)},
      {8, Meantone(701.955 - 2.0 / 7 * kComma)},
      {11, Meantone(701.955 - kComma / 4)},
      {13, Meantone(701.955 - kComma / 6)},
      {14, Meantone(701.955 - kComma / 8)},
      {30, FromSteps({0, 100, 300, 500, 700, 800, 1000})},
      {212, FromSteps({0, 200, 400, 700, 900})},
      {102, FromSteps({0, 200, 350, 500, 700, 900, 1050})},
      {81, FromRatios({1, 9.0 / 8, 10.0 / 8, 11.0 / 8, 12.0 / 8, 13.0 / 8, 14.0 / 8, 15.0 / 8})},
      {233, FromRatios({1, 9.0 / 8, 10.0 / 8, 11.0 / 8, 12.0 / 8, 13.0 / 8, 14.0 / 8, 2})},
      {243, FromRatios({1, 9.0 / 8, 5.0 / 4, 11.0 / 8, 3.0 / 2, 7.0 / 4, 2, 9.0 / 4})},
      {232, FromEdo(19, {0, 3, 6, 8, 11, 14, 17, 19})},
      {246, FromEdo(22, {0, 4, 7, 9, 13, 16, 20, 22})},
      {133, FromSteps({0, 240, 480, 720, 960})},
      {241, EqualSteps(63.8)},
      {242, EqualSteps(35.1)},
      {248, Offset(5)},
      {249, Offset(18)},
  };
  for (const auto& d : derived) {
    Pitches p = d.pitches;
    if (d.row == 1) p = Offset(0);
    for (int i = 0; i < 8; ++i) {
      EXPECT_NEAR(Table()[d.row].padCents[i], p[i] - 100.0 * kPadSemitones[i], 0.006)
          << Table()[d.row].name << " pad " << i;
    }
  }
}

}  // namespace
}  // namespace zandrel
