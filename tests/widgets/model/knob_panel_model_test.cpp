#include "widgets/model/knob_panel_model.h"

#include <gmock/gmock.h>

#include <clocale>
#include <locale>

#include "support/temp_dir.h"
#include "widgets/model/text_lines.h"

namespace zandrel {
namespace {

using testing::ElementsAre;

// Makes the knobs of a panel the way the widget panel does, without windows.
void CreateAll(KnobPanelModel& panel) {
  for (int id : panel.order) panel.knobs[id] = panel.CreateKnob(panel.params.at(id), 0xF0F0F0);
}

KnobParam SelectorParam(int id, std::string label, float defaultValue) {
  KnobParam p;
  p.id = id;
  p.label = std::move(label);
  p.items = {{"Sine", 0x0000FF}, {"Saw", 0x00FF00}, {"Noise", 0xFF0000}};
  p.defaultValue = defaultValue;
  return p;
}

std::vector<std::pair<int, int>> Cells(const std::vector<PanelCell>& cells) {
  std::vector<std::pair<int, int>> out;
  for (const PanelCell& c : cells) out.emplace_back(c.left, c.top);
  return out;
}

TEST(KnobPanelLayoutTest, ThreeKnobsFitIn330PixelsAndTheFourthWraps) {
  const std::vector<std::pair<int, int>> knobs = {{1, 0}, {2, 0}, {3, 1}, {4, 0}};
  const auto cells = LayoutKnobPanel(knobs, 0, 0, 330);
  EXPECT_THAT(Cells(cells), ElementsAre(std::pair(0, 0), std::pair(110, 0), std::pair(220, 0), std::pair(0, 130)));
  EXPECT_EQ(cells[0].right, 100);
  EXPECT_EQ(cells[0].bottom, 120);
  // One pixel less and the third wraps.
  EXPECT_EQ(LayoutKnobPanel(knobs, 0, 0, 319)[2].top, 130);
  // Offsets carry through.
  EXPECT_EQ(LayoutKnobPanel(knobs, 10, 11, 340)[3].left, 10);
  EXPECT_EQ(LayoutKnobPanel(knobs, 10, 11, 340)[3].top, 141);
}

TEST(KnobPanelLayoutTest, SectionAndLabelRowsSpanTheWidth) {
  const std::vector<std::pair<int, int>> entries = {
      {1, 0}, {2, 0}, {3, kKnobSection}, {4, 0}, {5, kKnobLabelRow}, {6, 0}, {7, kKnobSection}};
  const auto cells = LayoutKnobPanel(entries, 0, 0, 442);
  // A section after two knobs starts 130 below them; a knob after a section
  // starts 70 below the section.
  EXPECT_THAT(Cells(cells), ElementsAre(std::pair(0, 0), std::pair(110, 0), std::pair(0, 130), std::pair(0, 200),
                                        std::pair(0, 330), std::pair(0, 355), std::pair(0, 485)));
  EXPECT_EQ(cells[2].right, 442);
  EXPECT_EQ(cells[2].bottom, 190);
  EXPECT_EQ(cells[4].bottom, 345);
}

TEST(KnobPanelLayoutTest, MeasuredHeightMatchesTheLayout) {
  const std::vector<int> kinds[] = {
      {},
      {0},
      {0, 0, kKnobSection},
      {kKnobSection, 0, 0, 0, 0, 0},
      {0, kKnobLabelRow, kKnobLabelRow, 0},
      {kKnobSection, kKnobSection},
  };
  const int expected[] = {0, 120, 200, 320, 300, 140};
  for (size_t i = 0; i < std::size(kinds); ++i) EXPECT_EQ(MeasureKnobPanelHeight(kinds[i], 442), expected[i]) << i;
  // Two knobs share a row from 210 pixels on.
  EXPECT_EQ(MeasureKnobPanelHeight(std::vector<int>{0, 0}, 210), 120);
  EXPECT_EQ(MeasureKnobPanelHeight(std::vector<int>{0, 0}, 209), 250);
}

TEST(KnobPanelModelTest, KnobsStartOnTheirDefaultsWithoutCallingTheirOwners) {
  KnobPanelModel panel;
  int valueCalls = 0;
  panel.AddParam(1, "Gain", "%.1f dB", -24.0f, 24.0f, 6.0f, 0xFF9632);
  panel.SetValueCallback(1, [&](float) { ++valueCalls; });
  panel.AddParam(2, "Flat", "%.0f%%", 1.0f, 1.0f, 1.0f, 0xFF9632);  // an empty range sits at 0
  CreateAll(panel);
  EXPECT_FLOAT_EQ(panel.GetValue(1), 6.0f);
  EXPECT_FLOAT_EQ(panel.FindKnob(1)->defaultValue, 0.625f);
  EXPECT_EQ(valueCalls, 0);
  EXPECT_EQ(panel.FindKnob(2)->value, 0.0f);
  EXPECT_EQ(panel.GetValue(99), 0.0f);
  panel.FindKnob(1)->SetNormalizedValue(1.0f);
  EXPECT_EQ(valueCalls, 1);
}

TEST(KnobPanelModelTest, SelectorsStartOnTheItemOfTheirDefault) {
  KnobPanelModel panel;
  std::vector<int> high, low;
  KnobParam a = SelectorParam(1, "Wave", 0.8333f);
  a.selectionCallback = [&](int i) { high.push_back(i); };
  KnobParam b = SelectorParam(2, "Shape", 0.1f);
  b.selectionCallback = [&](int i) { low.push_back(i); };
  panel.params = {{1, a}, {2, b}};
  panel.order = {1, 2};
  CreateAll(panel);
  EXPECT_EQ(panel.FindKnob(1)->GetSelectedIndex(), 2);
  EXPECT_THAT(high, ElementsAre(2));
  EXPECT_EQ(panel.FindKnob(2)->GetSelectedIndex(), 0);
  EXPECT_TRUE(low.empty());
}

TEST(KnobPanelModelTest, CommitCallbacksSkipSectionsAndLabelRows) {
  KnobPanelModel panel;
  panel.AddParam(1, "Mix", "%.0f%%", 0, 1, 0.5f, 0xFF9632);
  KnobParam section;
  section.id = 2;
  section.kind = kKnobSection;
  section.label = "Text";
  panel.params[2] = section;
  panel.order.push_back(2);
  CreateAll(panel);
  panel.SetCommitCallback(1, [] {});
  panel.SetCommitCallback(2, [] {});
  EXPECT_TRUE(static_cast<bool>(panel.FindKnob(1)->commitCallback));
  EXPECT_FALSE(static_cast<bool>(panel.FindKnob(2)->commitCallback));
  EXPECT_FALSE(static_cast<bool>(panel.params[2].commitCallback));
}

class PresetTest : public testing::Test {
 protected:
  void SetUp() override {
    panel.AddParam(1, "Mix", "%.0f%%", 0, 1, 0.5f, 0xFF9632);
    panel.AddParam(2, "Cutoff", "%.0f Hz", 0, 4000, 1000, 0xFF9632);
    KnobParam wave = SelectorParam(3, "Wave", 0.5f);
    wave.selectionCallback = [this](int i) { selections.push_back(i); };
    panel.params[3] = wave;
    panel.order.push_back(3);
    KnobParam row;
    row.id = 4;
    row.kind = kKnobLabelRow;
    row.label = "Filter";
    panel.params[4] = row;
    panel.order.push_back(4);
    panel.AddParam(5, "A:B", "%.2f", 0, 1, 0.25f, 0xFF9632);
    CreateAll(panel);
    selections.clear();
  }
  KnobPanelModel panel;
  std::vector<int> selections;
};

TEST_F(PresetTest, SaveWritesKnobsAndSelectorsInCreationOrder) {
  EXPECT_EQ(panel.SaveText(), "Mix: 0.500000\nCutoff: 1000.000000\nWave: Saw\nA:B: 0.250000\n");
}

TEST_F(PresetTest, LoadMatchesTrimmedCaseSensitiveLabels) {
  panel.LoadText("Mix : 0.75\nmix: 0.1\n  Cutoff:3000  \nno colon here\n\nA:B: 1\nUnknown: 3\n");
  EXPECT_FLOAT_EQ(panel.GetValue(1), 0.75f);
  EXPECT_FLOAT_EQ(panel.GetValue(2), 3000.0f);
  EXPECT_FLOAT_EQ(panel.GetValue(5), 0.25f);  // a label with a colon can't be matched
  panel.LoadText("Mix: 7\nCutoff: -5\n");      // clamped to the range
  EXPECT_FLOAT_EQ(panel.GetValue(1), 1.0f);
  EXPECT_FLOAT_EQ(panel.GetValue(2), 0.0f);
  panel.LoadText("Mix: soft\n");  // no number reads as 0
  EXPECT_FLOAT_EQ(panel.GetValue(1), 0.0f);
}

TEST_F(PresetTest, ASelectorLineNamingNoItemLeavesTheSelectorAlone) {
  panel.LoadText("Wave: Noise\n");
  EXPECT_EQ(panel.FindKnob(3)->GetSelectedLabel(), "Noise");
  EXPECT_THAT(selections, ElementsAre(2));
  selections.clear();
  panel.FindKnob(3)->SetSelectedIndex(0);
  selections.clear();
  panel.LoadText("Wave: Square\nMix: 0.2\n");  // a stale item name; the next line still counts
  EXPECT_EQ(panel.FindKnob(3)->GetSelectedLabel(), "Sine");
  EXPECT_TRUE(selections.empty());
  EXPECT_FLOAT_EQ(panel.GetValue(1), 0.2f);
}

TEST_F(PresetTest, RefusedNumbersAndOddLineEndsKeepValues) {
  panel.LoadText("Mix: nan\r\nCutoff: inf\r\nMix: -INF\nCutoff: 1e999\n");
  EXPECT_FLOAT_EQ(panel.GetValue(1), 0.5f);
  EXPECT_FLOAT_EQ(panel.GetValue(2), 1000.0f);
  // CRLF and no newline at the end.
  panel.LoadText("Mix: 0.3\r\nWave: Noise\r\nCutoff: 2000");
  EXPECT_FLOAT_EQ(panel.GetValue(1), 0.3f);
  EXPECT_EQ(panel.FindKnob(3)->GetSelectedLabel(), "Noise");
  EXPECT_NEAR(panel.GetValue(2), 2000.0f, 0.01f);
  // An over-long line is one line: it neither sets anything nor swallows the next.
  panel.LoadText("Mix: 0." + std::string(100000, '1') + "x" + std::string(50000, 'y') + "\nCutoff: 300\n");
  EXPECT_NEAR(panel.GetValue(1), 0.1111111f, 1e-6);
  EXPECT_NEAR(panel.GetValue(2), 300.0f, 0.01f);
}

// Switches the process to a comma-decimal locale where one is installed, and
// the C++ global locale to one whose numbers use a comma in any case.
class CommaLocale {
 public:
  CommaLocale() : previous_(std::setlocale(LC_ALL, nullptr)) {
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE.utf8", "nl_NL.UTF-8"})
      if (std::setlocale(LC_ALL, name)) break;
    std::locale::global(std::locale(std::locale::classic(), new Comma));
  }
  ~CommaLocale() {
    std::setlocale(LC_ALL, previous_.c_str());
    std::locale::global(std::locale::classic());
  }

 private:
  struct Comma : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  std::string previous_;
};

TEST_F(PresetTest, FilesRoundTripUnderACommaLocale) {
  test::TempDir dir;
  CommaLocale comma;
  panel.FindKnob(1)->SetNormalizedValue(0.125f);
  panel.FindKnob(3)->SetSelectedIndex(2);
  ASSERT_TRUE(panel.SaveTextFile(dir / "preset.txt"));
  std::string text;
  ASSERT_TRUE(ReadWholeFile(dir / "preset.txt", &text));
  EXPECT_THAT(text, testing::HasSubstr("Mix: 0.125000\n"));
  panel.FindKnob(1)->SetNormalizedValue(0.9f);
  panel.FindKnob(3)->SetSelectedIndex(0);
  ASSERT_TRUE(panel.LoadTextFile(dir / "preset.txt"));
  EXPECT_FLOAT_EQ(panel.GetValue(1), 0.125f);
  EXPECT_EQ(panel.FindKnob(3)->GetSelectedIndex(), 2);
  EXPECT_FALSE(panel.LoadTextFile(dir / "missing.txt"));
  EXPECT_FALSE(panel.SaveTextFile(dir / "no-such-folder" / "preset.txt"));
}

TEST(ParseFileNumberTest, ReadsLikeTheFilesNeed) {
  struct Case {
    const char* text;
    ParsedNumber::Kind kind;
    double value;
  };
  const Case cases[] = {
      {"0.5", ParsedNumber::kNumber, 0.5},     {"+3", ParsedNumber::kNumber, 3.0},
      {"-2.5e2", ParsedNumber::kNumber, -250}, {" 7 ", ParsedNumber::kNumber, 7.0},
      {"0.5dB", ParsedNumber::kNumber, 0.5},   {"0,5", ParsedNumber::kNumber, 0.0},
      {"", ParsedNumber::kNotANumber, 0},      {"abc", ParsedNumber::kNotANumber, 0},
      {"+-1", ParsedNumber::kNotANumber, 0},   {"nan", ParsedNumber::kRefused, 0},
      {"-Infinity", ParsedNumber::kRefused, 0}, {"1e400", ParsedNumber::kRefused, 0},
  };
  for (const Case& c : cases) {
    const ParsedNumber p = ParseFileNumber(c.text);
    EXPECT_EQ(p.kind, c.kind) << c.text;
    EXPECT_DOUBLE_EQ(p.value, c.value) << c.text;
  }
}

}  // namespace
}  // namespace zandrel
