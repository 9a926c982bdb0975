#include "notes/tuning_table.h"

#include <gmock/gmock.h>

#include <cmath>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
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

// Every fifth of the chain narrowed by the same amount.
std::array<double, 11> Even(double narrowing) {
  std::array<double, 11> n{};
  n.fill(narrowing);
  return n;
}

// Fifths of the chain by name: Eb-Bb 0, Bb-F 1, F-C 2, C-G 3, G-D 4, D-A 5,
// A-E 6, E-B 7, B-F# 8, F#-C# 9, C#-G# 10.
std::array<double, 11> Tempered(std::initializer_list<int> fifths, double narrowing) {
  std::array<double, 11> n{};
  for (int i : fifths) n[i] = narrowing;
  return n;
}

// The rows named for documented temperaments carry them. Each temperament is
// built from its definition, checked against its published cents (to 0.1),
// and then the row's pads are compared with it.
TEST(TuningTableTest, NamedTemperamentsCarryTheirPublishedCents) {
  const double syntonic = 1200.0 * std::log2(81.0 / 80.0);
  const double pythagorean = 1200.0 * std::log2(std::pow(3.0, 12) / std::pow(2.0, 19));
  const double schisma = pythagorean - syntonic;
  enum { EbBb, BbF, FC, CG, GD, DA, AE, EB, BFs, FsCs, CsGs };
  // Pythagorean: every fifth a pure 3:2.
  const auto pythagoreanChain = Even(0);
  // Meantones: every fifth narrowed by the named fraction of the syntonic
  // comma (81:80); Zarlino's 2/7 (1558), the sixth-comma meantone of
  // Silbermann's organs, the eighth-comma meantone, and the quarter-comma
  // meantone whose fifths give pure 5:4 thirds.
  const auto twoSevenths = Even(2.0 * syntonic / 7.0);
  const auto sixthComma = Even(syntonic / 6.0);
  const auto eighthComma = Even(syntonic / 8.0);
  const auto quarterComma = Even(syntonic / 4.0);
  // Werckmeister III: C-G, G-D, D-A and B-F# narrowed by a quarter of the
  // Pythagorean comma, the other fifths pure.
  const auto werckmeister = Tempered({CG, GD, DA, BFs}, pythagorean / 4.0);
  // Kirnberger III: C-G-D-A-E narrowed by a quarter of the syntonic comma
  // (C-E a pure 5:4), F#-C# by a schisma, the other fifths pure.
  auto kirnberger = Tempered({CG, GD, DA, AE}, syntonic / 4.0);
  kirnberger[FsCs] = schisma;
  // Kellner: C-G-D-A-E and B-F# narrowed by a fifth of the Pythagorean
  // comma, the other fifths pure.
  const auto kellner = Tempered({CG, GD, DA, AE, BFs}, pythagorean / 5.0);
  // Vallotti: F-C-G-D-A-E-B narrowed by a sixth of the Pythagorean comma,
  // B-F#-C#-G#-Eb-Bb-F pure.
  const auto vallotti = Tempered({FC, CG, GD, DA, AE, EB}, pythagorean / 6.0);
  // Young's second temperament: the same six fifths one step on, C-G-D-A-E-B-F#.
  const auto young = Tempered({CG, GD, DA, AE, EB, BFs}, pythagorean / 6.0);
  const struct {
    int row;
    const char* name;
    std::array<double, 12> notes;
    std::array<double, 12> published;
  } temperaments[] = {
      {6, "Pythagorean Tuning (Medieval)", FifthChain(pythagoreanChain),
       {0, 113.7, 203.9, 294.1, 407.8, 498.0, 611.7, 702.0, 815.6, 905.9, 996.1, 1109.8}},
      {8, "Old Italian (Zarlino's 2/7 Comma)", FifthChain(twoSevenths),
       {0, 70.7, 191.6, 312.6, 383.2, 504.2, 574.9, 695.8, 766.5, 887.4, 1008.4, 1079.1}},
      {12, "1/4-Comma Meantone (16th/17th-century)", FifthChain(quarterComma),
       {0, 76.0, 193.2, 310.3, 386.3, 503.4, 579.5, 696.6, 772.6, 889.7, 1006.8, 1082.9}},
      {13, "Gottfried Silbermann (Late Baroque Organ)", FifthChain(sixthComma),
       {0, 88.6, 196.7, 304.9, 393.5, 501.6, 590.2, 698.4, 787.0, 895.1, 1003.3, 1091.9}},
      {14, "1/8 Comma Meantone (Late Baroque / Classical)", FifthChain(eighthComma),
       {0, 94.9, 198.5, 302.2, 397.1, 500.7, 595.6, 699.3, 794.1, 897.8, 1001.5, 1096.3}},
      {15, "Werckmeister III (Well Temperament)", FifthChain(werckmeister),
       {0, 90.2, 192.2, 294.1, 390.2, 498.0, 588.3, 696.1, 792.2, 888.3, 996.1, 1092.2}},
      {16, "Kirnberger III (Baroque)", FifthChain(kirnberger),
       {0, 90.2, 193.2, 294.1, 386.3, 498.0, 590.2, 696.6, 792.2, 889.7, 996.1, 1088.3}},
      {17, "Kellner (Valdro's 'Wohltemperirte' Solution)", FifthChain(kellner),
       {0, 90.2, 194.5, 294.1, 389.1, 498.0, 588.3, 697.3, 792.2, 891.8, 996.1, 1091.0}},
      {19, "Vallotti && Young (Circa 1750)", FifthChain(vallotti),
       {0, 94.1, 196.1, 298.0, 392.2, 502.0, 592.2, 698.0, 796.1, 894.1, 1000.0, 1090.2}},
      {20, "Thomas Young Well Temperament (1799)", FifthChain(young),
       {0, 90.2, 196.1, 294.1, 392.2, 498.0, 588.3, 698.0, 792.2, 894.1, 996.1, 1090.2}},
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
      // Turkish Hicaz in commas of 1200/53 cents: the Hicaz tetrachord 5, 12,
      // 5, a whole tone 9, then the Buselik steps 4, 9, 9.
      {107, FromSteps({0, 5 * 1200.0 / 53, 17 * 1200.0 / 53, 22 * 1200.0 / 53, 31 * 1200.0 / 53, 35 * 1200.0 / 53,
                       44 * 1200.0 / 53})},
      // Rameau's ordinary temperament keeps the naturals in quarter-comma meantone.
      {18, Meantone(701.955 - kComma / 4)},
      {8, Meantone(701.955 - 2.0 / 7 * kComma)},
      // Pythagorean tetrachords in the Phrygian octave species: T S T T T S T.
      {9, FromRatios({1, 9.0 / 8, 32.0 / 27, 4.0 / 3, 3.0 / 2, 27.0 / 16, 16.0 / 9, 2})},
      // Soft diatonic in 72 moria: 12, 10, 8, 12, 12, 10, 8.
      {10, FromSteps({0, 12 * 1200.0 / 72, 22 * 1200.0 / 72, 30 * 1200.0 / 72, 42 * 1200.0 / 72, 54 * 1200.0 / 72,
                      64 * 1200.0 / 72})},
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

// A row that calls itself an approximation names the system it is given in;
// every pad must then lie on a pitch of that system (a row once said 12-TET
// and played quarter tones).
TEST(TuningTableTest, ApproximationsAreGivenInTheSystemTheySay) {
  const auto ratios = [](std::initializer_list<double> list) {
    std::vector<double> pitches;
    for (double r : list) pitches.push_back(Cents(r));
    return pitches;
  };
  std::vector<double> pythagorean;
  for (int k = -6; k <= 6; ++k) pythagorean.push_back(k * Cents(1.5));
  const auto steps = [](double step) {
    std::vector<double> pitches;
    for (double c = 0; c < 1200.0; c += step) pitches.push_back(c);
    return pitches;
  };
  const std::map<std::string, std::vector<double>> systems = {
      {"12-TET", steps(100)},
      {"quarter tones", steps(50)},
      {"Pythagorean intonation", pythagorean},
      {"5-limit just intonation", ratios({1, 16.0 / 15, 10.0 / 9, 9.0 / 8, 6.0 / 5, 5.0 / 4, 4.0 / 3, 45.0 / 32,
                                         64.0 / 45, 3.0 / 2, 8.0 / 5, 5.0 / 3, 16.0 / 9, 9.0 / 5, 15.0 / 8})},
      {"7-limit just intonation", ratios({1, 8.0 / 7, 7.0 / 6, 4.0 / 3, 3.0 / 2, 14.0 / 9, 7.0 / 4})},
  };
  int approximations = 0;
  for (const TuningPreset& row : Table()) {
    const std::string marker = "An approximation: no single documented intonation exists, so the ";
    const size_t at = row.description.find(marker);
    if (at == std::string::npos) continue;
    ++approximations;
    const size_t given = row.description.find(" is given in ", at);
    const size_t end = row.description.find(".\r\n", at);
    ASSERT_NE(given, std::string::npos) << row.name;
    ASSERT_NE(end, std::string::npos) << row.name;
    const std::string system = row.description.substr(given + 13, end - given - 13);
    const auto it = systems.find(system);
    ASSERT_NE(it, systems.end()) << row.name << ": " << system;
    for (int pad = 0; pad < 8; ++pad) {
      const double pitch = 100.0 * kPadSemitones[pad] + row.padCents[pad];
      double nearest = 1e9;
      for (double c : it->second) {
        const double d = std::remainder(pitch - c, 1200.0);
        nearest = std::min(nearest, std::fabs(d));
      }
      EXPECT_LT(nearest, 0.006) << row.name << " pad " << pad << " (" << system << ")";
    }
  }
  EXPECT_GE(approximations, 100);
}

}  // namespace
}  // namespace zandrel
