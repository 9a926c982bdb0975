#include "widgets/model/parameter_file.h"

#include <gmock/gmock.h>

#include <filesystem>

#include "support/temp_dir.h"
#include "widgets/model/text_lines.h"
#include "widgets/model/universal_dlg_model.h"

namespace zandrel {
namespace {

// A dialog's model with its knobs made, as the dialog does at initialisation.
void Initialise(UniversalDlgModel& dlg) {
  dlg.FillPanel();
  for (int id : dlg.panel.order) dlg.panel.knobs[id] = dlg.panel.CreateKnob(dlg.panel.params.at(id), 0xF0F0F0);
}

UniversalDlgModel SynthDialog() {
  UniversalDlgModel dlg;
  dlg.configName = "micro_tone";
  dlg.AddKnob("mix", "Mix", "%.0f%%", 0.0f, 1.0f, 0.5f, 0xFF9632);
  dlg.AddSection("Tuning");
  dlg.AddKnob("coarse", "Coarse", "%.0f st", -12.0f, 12.0f, 0.0f, 0xFF9632);
  dlg.AddKnob("attack", "Attack", "%.0f ms", 0.0f, 1000.0f, 10.0f, 0xFF9632);
  return dlg;
}

TEST(UniversalDlgModelTest, KeysTakeIdsFrom1000AndReadBack) {
  UniversalDlgModel dlg = SynthDialog();
  EXPECT_EQ(dlg.keys.at("mix"), 1000);
  EXPECT_EQ(dlg.keys.at("coarse"), 1002);  // the section took 1001
  EXPECT_EQ(dlg.params[1].kind, kKnobSection);
  EXPECT_EQ(dlg.AddKnob("mix", "Mix", "%.0f%%", 0.0f, 2.0f, 1.0f, 0xFF9632), 1000);  // known key, same id
  EXPECT_EQ(dlg.params.size(), 4u);
  Initialise(dlg);
  EXPECT_FLOAT_EQ(dlg.GetParamValue("mix"), 1.0f);
  EXPECT_FLOAT_EQ(dlg.GetParamValue("attack"), 10.0f);
  EXPECT_EQ(dlg.GetParamValue("never"), 0.0f);
  EXPECT_EQ(dlg.GetParamValue("Mix"), 0.0f);
}

TEST(UniversalDlgModelTest, HeightRuleOfTheKnobArea) {
  UniversalDlgModel dlg;
  dlg.AddKnob("a", "A", "%.2f", 0, 1, 0, 0);
  dlg.AddKnob("b", "B", "%.2f", 0, 1, 0, 0);
  dlg.AddSection("Below the knobs");
  EXPECT_EQ(dlg.MeasureHeight(210), 200);  // the knobs share a row
  EXPECT_EQ(dlg.MeasureHeight(209), 330);
}

TEST(UniversalDlgModelTest, DefaultsComeBackWithoutCallbacks) {
  UniversalDlgModel dlg = SynthDialog();
  Initialise(dlg);
  int calls = 0;
  for (auto& [id, knob] : dlg.panel.knobs) {
    knob->valueCallback = [&](float) { ++calls; };
    knob->scrollNotification = [&](int) { ++calls; };
  }
  dlg.panel.FindKnob(1000)->value = 0.9f;
  dlg.panel.FindKnob(1003)->value = 0.0f;
  EXPECT_THAT(dlg.ResetToDefaults(), testing::ElementsAre(1000, 1003));
  EXPECT_EQ(calls, 0);
  EXPECT_FLOAT_EQ(dlg.GetParamValue("mix"), 0.5f);
  EXPECT_FLOAT_EQ(dlg.GetParamValue("attack"), 10.0f);
  EXPECT_TRUE(dlg.ResetToDefaults().empty());
}

TEST(ParameterFileTest, ReadsKeysTrimmedAndCaseSensitive) {
  UniversalDlgModel dlg = SynthDialog();
  Initialise(dlg);
  dlg.ApplyParameterText("; Config for micro_tone\ncoarse = 3\n");
  EXPECT_FLOAT_EQ(dlg.GetParamValue("coarse"), 3.0f);
  dlg.ApplyParameterText("Coarse=7\n=5\nmix\n;mix=0.1\n");
  EXPECT_FLOAT_EQ(dlg.GetParamValue("coarse"), 3.0f);
  EXPECT_FLOAT_EQ(dlg.GetParamValue("mix"), 0.5f);
  // Out of range is clamped; no number reads as 0 (the bottom here).
  dlg.ApplyParameterText("coarse=40\nattack=-3\nmix=loud");
  EXPECT_FLOAT_EQ(dlg.GetParamValue("coarse"), 12.0f);
  EXPECT_FLOAT_EQ(dlg.GetParamValue("attack"), 0.0f);
  EXPECT_FLOAT_EQ(dlg.GetParamValue("mix"), 0.0f);
}

TEST(ParameterFileTest, RefusedValuesAndOddLinesKeepTheKnobs) {
  UniversalDlgModel dlg = SynthDialog();
  Initialise(dlg);
  dlg.ApplyParameterText("mix=nan\r\ncoarse=-inf\r\nattack=1e309\r\n");
  EXPECT_FLOAT_EQ(dlg.GetParamValue("mix"), 0.5f);
  EXPECT_FLOAT_EQ(dlg.GetParamValue("coarse"), 0.0f);
  EXPECT_FLOAT_EQ(dlg.GetParamValue("attack"), 10.0f);
  const std::string longKey(200000, 'k');
  dlg.ApplyParameterText(longKey + "=1\r\nmix=0.25\r\ncoarse=-6");  // CRLF, no final newline
  EXPECT_FLOAT_EQ(dlg.GetParamValue("mix"), 0.25f);
  EXPECT_FLOAT_EQ(dlg.GetParamValue("coarse"), -6.0f);
}

TEST(ParameterFileTest, NewFileHasTheHeaderAndKeysInOrdinalOrder) {
  UniversalDlgModel dlg = SynthDialog();
  dlg.AddKnob("Zeta", "Z", "%.2f", 0, 1, 0.125f, 0);
  Initialise(dlg);
  EXPECT_EQ(MergeParameterFile("", dlg.configName, dlg.CurrentValues()),
            "; Config for micro_tone\n"
            "Zeta=0.125000\n"  // upper case sorts first
            "attack=10.000000\n"
            "coarse=0.000000\n"
            "mix=0.500000\n");
}

TEST(ParameterFileTest, SaveKeepsOtherToolsKeysInTheirOrder) {
  const std::string existing =
      "; Config for micro_tone\r\n"
      "other=1.5\r\n"
      "mix = 0.9\r\n"
      "; a note someone wrote\r\n"
      "mix=0.8\r\n"
      "tail=2";
  const std::string merged = MergeParameterFile(existing, "micro_tone", {{"attack", 20.0}, {"mix", 0.25}});
  EXPECT_EQ(merged,
            "; Config for micro_tone\n"
            "other=1.5\n"
            "mix=0.250000\n"
            "; a note someone wrote\n"
            "tail=2\n"
            "attack=20.000000\n");
}

TEST(ParameterFileTest, SaveAndLoadFilesThroughTheModel) {
  test::TempDir dir;
  const std::filesystem::path file = dir / "micro_tone.ini";
  {
    UniversalDlgModel other;
    other.configName = "micro_tone";
    other.AddKnob("drive", "Drive", "%.2f", 0, 10, 2.5f, 0);
    Initialise(other);
    ASSERT_TRUE(other.SaveConfigFile(file));
  }
  UniversalDlgModel dlg = SynthDialog();
  Initialise(dlg);
  dlg.panel.FindKnob(1000)->SetNormalizedValue(0.75f);
  ASSERT_TRUE(dlg.SaveConfigFile(file));
  std::string text;
  ASSERT_TRUE(ReadWholeFile(file, &text));
  EXPECT_EQ(text,
            "; Config for micro_tone\n"
            "drive=2.500000\n"
            "attack=10.000000\n"
            "coarse=0.000000\n"
            "mix=0.750000\n");
  UniversalDlgModel again = SynthDialog();
  Initialise(again);
  again.LoadConfigFile(file);
  EXPECT_FLOAT_EQ(again.GetParamValue("mix"), 0.75f);
  again.LoadConfigFile(dir / "missing.ini");  // nothing happens
  EXPECT_FLOAT_EQ(again.GetParamValue("mix"), 0.75f);
  EXPECT_FALSE(dlg.SaveConfigFile(dir / "no-folder" / "x.ini"));
  // No temporary file stays behind.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST(TextLinesTest, SplitsLfCrlfAndAMissingFinalNewline) {
  EXPECT_THAT(SplitTextLines("a\r\nb\n\nc"), testing::ElementsAre("a", "b", "", "c"));
  EXPECT_THAT(SplitTextLines("a\n"), testing::ElementsAre("a"));
  EXPECT_TRUE(SplitTextLines("").empty());
  EXPECT_EQ(TrimBlanks(" \t x y \r\n"), "x y");
}

}  // namespace
}  // namespace zandrel
