// The Region and Global pages' models: what their fields show, how Update
// reads them back, and the blinking of their buttons.
#include <gmock/gmock.h>

#include <cmath>
#include <limits>

#include "app/model/global_page_model.h"
#include "app/model/page_text.h"
#include "app/model/region_page_model.h"

namespace zandrel {
namespace {

TEST(PageTextTest, NumbersReadAsACReaderWouldWithoutTheLocale) {
  struct IntCase {
    const char* text;
    int64_t value;
  };
  for (const IntCase& c : {IntCase{"1234", 1234}, IntCase{"  -56x", -56}, IntCase{"+7", 7}, IntCase{"abc", 0},
                           IntCase{"", 0}, IntCase{"12abc", 12}, IntCase{"- 5", 0},
                           IntCase{"99999999999999999999", std::numeric_limits<int64_t>::max()},
                           IntCase{"-99999999999999999999", std::numeric_limits<int64_t>::min()}})
    EXPECT_EQ(ParseInteger(c.text), c.value) << c.text;

  EXPECT_DOUBLE_EQ(ParseDecimal(" 120.5"), 120.5);
  EXPECT_DOUBLE_EQ(ParseDecimal("+45bpm"), 45.0);
  EXPECT_DOUBLE_EQ(ParseDecimal("-3e1"), -30.0);
  EXPECT_DOUBLE_EQ(ParseDecimal("tempo"), 0.0);
  EXPECT_DOUBLE_EQ(ParseDecimal("1,5"), 1.5);  // a German user types a decimal comma
  EXPECT_DOUBLE_EQ(ParseDecimal(" 97,5 BPM"), 97.5);
  EXPECT_TRUE(std::isnan(ParseDecimal("nan")));
  EXPECT_TRUE(std::isinf(ParseDecimal("inf")));
  EXPECT_TRUE(std::isnan(ParseDecimal("1e999")));
  EXPECT_EQ(AsciiLower("OneShot"), "oneshot");
}

// ------------------------------------------------------------ Region page --

TEST(RegionPageModelTest, StartsDisabledAndClearsToNoRegion) {
  RegionPageModel m;
  EXPECT_FALSE(m.regionControlsEnabled);
  EXPECT_EQ(m.editRegion, (Region{0, 0, -1, -1, 0, 127, 60}));
  EXPECT_EQ(m.regionColour, 0xB48246u);
  m.ShowRegion({100, 900, 200, 800, 36, 72, 48}, 2);
  m.ShowSelection(150, 250);
  m.FieldEdited();
  m.Clear();
  EXPECT_FALSE(m.regionControlsEnabled);
  EXPECT_EQ(m.fields[kRegionName], "No Region Selected");
  for (RegionField f : {kRegionStart, kRegionEnd, kRegionLoopStart, kRegionLoopEnd, kRegionLowKey, kRegionHighKey,
                        kRegionRootKey, kRegionLoopIn, kRegionLoopOut})
    EXPECT_EQ(m.fields[f], "---") << f;
  EXPECT_FALSE(m.updateBlinking);
  EXPECT_FALSE(m.applyLoopBlinking);
  EXPECT_EQ(m.editRegion, (Region{0, 0, -1, -1, 0, 127, 60}));
  EXPECT_EQ(m.shownIndex, -1);
}

TEST(RegionPageModelTest, ShowRegionFillsTheFieldsAndColoursByIndex) {
  RegionPageModel m;
  m.FieldEdited();
  const Region r{1000, 5000, -1, -1, 0, 63, 60};
  m.ShowRegion(r, 0);
  EXPECT_TRUE(m.regionControlsEnabled);
  EXPECT_EQ(m.editRegion, r);
  EXPECT_EQ(m.fields[kRegionName], "Region 1");
  EXPECT_EQ(m.fields[kRegionStart], "1000");
  EXPECT_EQ(m.fields[kRegionEnd], "5000");
  EXPECT_EQ(m.fields[kRegionLoopStart], "-1");
  EXPECT_EQ(m.fields[kRegionLowKey], "C-1");
  EXPECT_EQ(m.fields[kRegionHighKey], "D#4");
  EXPECT_EQ(m.fields[kRegionRootKey], "C4");
  EXPECT_FALSE(m.updateBlinking);
  // Index 0 is steel blue: white on the dark tint, black on the light one.
  EXPECT_EQ(m.regionColour, 0xB48246u);
  EXPECT_TRUE(m.nameColours.set);
  EXPECT_EQ(m.nameColours.background, MakeColorRef(42, 78, 108));
  EXPECT_EQ(m.nameColours.text, 0xFFFFFFu);
  EXPECT_EQ(m.rootColours.background, MakeColorRef(181, 205, 225));
  EXPECT_EQ(m.rootColours.text, 0u);
  EXPECT_EQ(m.applyLoopScheme, (ButtonScheme{MakeColorRef(181, 205, 225), 1.1, 0.96}));

  // Index 10 wraps to the first colour; 12345 keeps the colours it had.
  m.ShowRegion(r, 11);
  EXPECT_EQ(m.regionColour, 0x3C14DCu);  // crimson
  EXPECT_EQ(m.fields[kRegionName], "Region 12");
  m.ShowRegion(r, 10);
  EXPECT_EQ(m.regionColour, 0xB48246u);
  m.ShowRegion(r, 3);
  const ColorRef third = m.regionColour;
  const FieldColours name = m.nameColours;
  m.ShowRegion(r, 12345);
  EXPECT_EQ(m.regionColour, third);
  EXPECT_EQ(m.nameColours.background, name.background);
  EXPECT_EQ(m.fields[kRegionName], "Region 12346");
}

TEST(RegionPageModelTest, TintsOfTheExtremes) {
  const RegionTints black = RegionColourTints(0x000000);
  EXPECT_EQ(black.light, MakeColorRef(153, 153, 153));
  EXPECT_EQ(black.dark, 0u);
  const RegionTints white = RegionColourTints(0xFFFFFF);
  EXPECT_EQ(white.light, 0xFFFFFFu);
  EXPECT_EQ(white.dark, MakeColorRef(153, 153, 153));
}

TEST(RegionPageModelTest, ApplyLoopBlinksWhileTheSelectionOffersANewLoop) {
  const Region plain{1000, 5000, -1, -1, 0, 127, 60};
  const Region looped{1000, 5000, 1200, 4800, 0, 127, 60};
  struct Case {
    const Region* region;
    int64_t a, b;
    bool blinks;
  };
  const Case cases[] = {
      {&plain, 2000, 3000, true},     // inside, neither bounds nor loop
      {&plain, 1000, 5000, false},    // the region's bounds
      {&plain, 500, 3000, false},     // starts before the region
      {&plain, 2000, 6000, false},    // ends after it
      {&plain, -1, -1, false},        // no selection and no loop
      {&looped, -1, -1, true},        // a loop but no selection: pressing removes the loop
      {&looped, 1200, 4800, false},   // the loop itself
      {&looped, 2000, 3000, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ApplyLoopShouldBlink(*c.region, c.a, c.b), c.blinks) << c.a << ".." << c.b;
    RegionPageModel m;
    m.ShowSelection(c.a, c.b);
    m.ShowRegion(*c.region, 0);  // reads the selection back from Loop IN / Loop OUT
    EXPECT_EQ(m.applyLoopBlinking, c.blinks) << c.a << ".." << c.b;
  }
  RegionPageModel m;
  m.ShowRegion(plain, 0);
  m.ShowSelection(2000, 3000);
  EXPECT_TRUE(m.applyLoopBlinking);
  EXPECT_EQ(m.fields[kRegionLoopIn], "2000");
  m.ShowSelection(-1, 3000);
  EXPECT_EQ(m.fields[kRegionLoopIn], "---");
  EXPECT_EQ(m.ShownLoopIn(), -1);
  EXPECT_EQ(m.ShownLoopOut(), 3000);
}

TEST(RegionPageModelTest, UpdateReadsNumbersAndKeysAsTyped) {
  RegionPageModel m;
  m.ShowRegion({1000, 5000, -1, -1, 12, 100, 60}, 0);
  m.FieldEdited();
  m.fields[kRegionStart] = "abc";       // not a number: frame 0
  m.fields[kRegionEnd] = "4000xyz";     // leading digits
  m.fields[kRegionLoopStart] = "4500";  // not checked here: the frame fits it
  m.fields[kRegionLoopEnd] = "1200";
  m.fields[kRegionLowKey] = "D4";
  m.fields[kRegionHighKey] = "200";     // out of range: the old key stays
  m.fields[kRegionRootKey] = "72";      // a number where no note name is
  m.ApplyEdits();
  EXPECT_EQ(m.editRegion, (Region{0, 4000, 4500, 1200, 62, 100, 72}));
  EXPECT_EQ(m.fields[kRegionLowKey], "D4");
  EXPECT_EQ(m.fields[kRegionHighKey], "E7");
  EXPECT_EQ(m.fields[kRegionRootKey], "C5");
  EXPECT_FALSE(m.updateBlinking);
  EXPECT_FALSE(m.applyLoopBlinking);

  m.fields[kRegionLowKey] = "xyz";  // neither a note nor a number: key 0
  m.ApplyEdits();
  EXPECT_EQ(m.editRegion.loKey, 0);
}

TEST(RegionPageModelTest, ApplyToRegionLoopNeverWritesHalfALoop) {
  struct Case {
    int64_t in, out, loopStart, loopEnd;
  };
  for (const Case& c : {Case{2000, 3000, 2000, 3000}, Case{-1, -1, -1, -1}, Case{2000, -1, -1, -1},
                        Case{-1, 3000, -1, -1}}) {
    RegionPageModel m;
    m.ShowRegion({1000, 5000, 1200, 4800, 0, 127, 60}, 0);
    m.ApplyToRegionLoop(c.in, c.out);
    EXPECT_EQ(m.editRegion.loopStart, c.loopStart) << c.in << ".." << c.out;
    EXPECT_EQ(m.editRegion.loopEnd, c.loopEnd) << c.in << ".." << c.out;
  }
  RegionPageModel m;
  m.ShowRegion({1000, 5000, 1200, 4800, 0, 127, 60}, 0);
  ASSERT_TRUE(m.applyLoopBlinking);
  m.RemoveLoop();
  EXPECT_FALSE(m.editRegion.HasLoop());
  EXPECT_EQ(m.fields[kRegionLoopStart], "-1");
  EXPECT_FALSE(m.applyLoopBlinking);
}

TEST(RegionPageModelTest, PickedNotesAreStoredAndApplied) {
  RegionPageModel m;
  m.ShowRegion({0, 100, -1, -1, 10, 20, 15}, 4);
  const NotePickerRequest request = m.PickerRequest(1);
  EXPECT_EQ(request.low, 10);
  EXPECT_EQ(request.high, 20);
  EXPECT_EQ(request.root, 15);
  EXPECT_EQ(request.mode, 1);
  EXPECT_EQ(request.accent, RegionPageColour(4));
  EXPECT_EQ(RegionPageColour(4), 0xE22B8Au);
  EXPECT_EQ(request.neutralColors, 0);
  m.fields[kRegionStart] = "50";  // typed before picking: applied with it
  EXPECT_TRUE(m.PickNote(1, 64));
  EXPECT_EQ(m.editRegion.hiKey, 64);
  EXPECT_EQ(m.editRegion.startSample, 50);
  EXPECT_EQ(m.fields[kRegionHighKey], "E4");
  EXPECT_FALSE(m.PickNote(0, -1));  // cancelled or no key
  EXPECT_FALSE(m.PickNote(2, 128));
  EXPECT_EQ(m.editRegion.loKey, 10);
  EXPECT_EQ(m.editRegion.rootNote, 15);
}

// ------------------------------------------------------------ Global page --

GlobalPageModel Shown(const InstrumentParams& p = {}, float seconds = 2.0f) {
  GlobalPageModel m;
  m.ShowInstrument(p, seconds);
  return m;
}

TEST(GlobalPageModelTest, ShowInstrumentWritesEveryField) {
  InstrumentParams p;
  p.rootNote = 62;
  p.pitch = -3;
  p.bpm = 120.0f;
  GlobalPageModel m;
  m.FieldEdited();
  m.ShowInstrument(p, 2.0f);
  EXPECT_EQ(m.editParams, p);
  EXPECT_EQ(m.fields[kGlobalRoot], "D4");
  EXPECT_EQ(m.fields[kGlobalMode], "key");
  EXPECT_EQ(m.fields[kGlobalPitch], "-3");
  EXPECT_EQ(m.fields[kGlobalAmplitude], "100");
  EXPECT_EQ(m.fields[kGlobalTimeMode], "off");
  EXPECT_EQ(m.fields[kGlobalSampleMode], "multi");
  EXPECT_EQ(m.fields[kGlobalBpm], "120.00");
  EXPECT_EQ(m.fields[kGlobalBeats], "4.00");
  EXPECT_FALSE(m.updateBlinking);
  EXPECT_EQ(m.rootColours.background, 0xE1CDB5u);
  EXPECT_EQ(m.rootColours.text, 0u);
  m.SetDuration(0.0f);
  EXPECT_EQ(m.fields[kGlobalBeats], "0.00");
  m.SetDuration(3.0f);
  EXPECT_EQ(m.fields[kGlobalBeats], "6.00");
}

TEST(GlobalPageModelTest, UpdateClampsNumbersToTheDevicesRanges) {
  struct Case {
    GlobalField field;
    const char* text;
    int32_t InstrumentParams::*member;
    int32_t stored;
    const char* shown;
  };
  const Case cases[] = {
      {kGlobalAmplitude, "300", &InstrumentParams::amplitude, 200, "200"},
      {kGlobalAmplitude, "-5", &InstrumentParams::amplitude, 0, "0"},
      {kGlobalPitch, "-20", &InstrumentParams::pitch, -12, "-12"},
      {kGlobalPitch, "7", &InstrumentParams::pitch, 7, "7"},
      {kGlobalPan, "20", &InstrumentParams::pan, 16, "16"},
      {kGlobalPan, "-99", &InstrumentParams::pan, -16, "-16"},
      {kGlobalAttack, "300", &InstrumentParams::attack, 255, "255"},
      {kGlobalRelease, "abc", &InstrumentParams::release, 0, "0"},
      {kGlobalRelease, "99999999999999999999", &InstrumentParams::release, 255, "255"},
      {kGlobalRoot, "D4", &InstrumentParams::rootNote, 62, "D4"},
      {kGlobalRoot, "C-1", &InstrumentParams::rootNote, 1, "C#-1"},  // the page's roots are 1..127
      {kGlobalRoot, "500", &InstrumentParams::rootNote, 127, "G9"},
      {kGlobalRoot, "40", &InstrumentParams::rootNote, 40, "E2"},
  };
  for (const Case& c : cases) {
    GlobalPageModel m = Shown();
    m.fields[c.field] = c.text;
    m.FieldEdited();
    m.ApplyEdits();
    EXPECT_EQ(m.editParams.*c.member, c.stored) << c.text;
    EXPECT_EQ(m.fields[c.field], c.shown) << c.text;
    EXPECT_FALSE(m.updateBlinking);
  }
}

TEST(GlobalPageModelTest, ModesTakeOnlyTheirValuesInAnyCase) {
  struct Case {
    GlobalField field;
    const char* text;
    std::string InstrumentParams::*member;
    const char* stored;
  };
  const Case cases[] = {
      {kGlobalMode, "ONESHOT", &InstrumentParams::playMode, "oneshot"},
      {kGlobalMode, "drone", &InstrumentParams::playMode, "key"},
      {kGlobalTimeMode, "BPM", &InstrumentParams::timeMode, "bpm"},
      {kGlobalTimeMode, "Bar", &InstrumentParams::timeMode, "bar"},
      {kGlobalTimeMode, "tempo", &InstrumentParams::timeMode, "off"},
      {kGlobalTimeMode, "", &InstrumentParams::timeMode, "off"},
      {kGlobalSampleMode, "Single", &InstrumentParams::sampleMode, "single"},
      {kGlobalSampleMode, "", &InstrumentParams::sampleMode, "multi"},
      {kGlobalSampleMode, "stereo", &InstrumentParams::sampleMode, "multi"},
  };
  for (const Case& c : cases) {
    GlobalPageModel m = Shown();
    m.fields[c.field] = c.text;
    m.ApplyEdits();
    EXPECT_EQ(m.editParams.*c.member, c.stored) << c.text;
    EXPECT_EQ(m.fields[c.field], c.stored) << c.text;  // the field shows what was kept
  }
}

TEST(GlobalPageModelTest, TempoFollowsTypingAndClampsOnUpdate) {
  GlobalPageModel m = Shown({}, 2.0f);
  m.fields[kGlobalBpm] = "45";
  m.BpmEdited();
  EXPECT_TRUE(m.updateBlinking);
  EXPECT_EQ(m.fields[kGlobalBeats], "1.50");
  m.ApplyEdits();
  EXPECT_FLOAT_EQ(m.editParams.bpm, 60.0f);
  EXPECT_EQ(m.fields[kGlobalBpm], "60.00");
  EXPECT_EQ(m.fields[kGlobalBeats], "2.00");  // Beats follows the stored tempo

  for (const char* text : {"nan", "inf", "-inf", "1e999"}) {
    GlobalPageModel k = Shown({}, 2.0f);
    k.fields[kGlobalBpm] = "95.5";
    k.ApplyEdits();
    k.fields[kGlobalBpm] = text;
    k.BpmEdited();
    EXPECT_EQ(k.fields[kGlobalBeats], "0.00") << text;
    k.ApplyEdits();
    EXPECT_FLOAT_EQ(k.editParams.bpm, 95.5f) << text;
    EXPECT_EQ(k.fields[kGlobalBpm], "95.50") << text;
  }
  GlobalPageModel k = Shown();
  k.fields[kGlobalBpm] = "500";
  k.ApplyEdits();
  EXPECT_FLOAT_EQ(k.editParams.bpm, 180.0f);
  k.fields[kGlobalBpm] = "fast";
  k.ApplyEdits();
  EXPECT_FLOAT_EQ(k.editParams.bpm, 60.0f);  // no number reads as 0, then clamps
}

TEST(GlobalPageModelTest, ValueButtonsSetTheirModesAndApplyEveryField) {
  struct Case {
    const char* button;
    const char* play;
    const char* sample;
    const char* time;
  };
  for (const Case& c : {Case{"oneshot", "oneshot", "single", "off"}, Case{"key", "key", "multi", "off"},
                        Case{"legato", "legato", "multi", "off"}, Case{"loop", "loop", "single", "bpm"}}) {
    InstrumentParams p;
    p.playMode = "legato";
    p.timeMode = "bar";
    GlobalPageModel m = Shown(p);
    m.fields[kGlobalPan] = "5";  // typed, not yet applied
    m.PresetPlayMode(c.button);
    EXPECT_EQ(m.editParams.playMode, c.play);
    EXPECT_EQ(m.editParams.sampleMode, c.sample);
    EXPECT_EQ(m.editParams.timeMode, c.time);
    EXPECT_EQ(m.editParams.pan, 5);
  }
  GlobalPageModel m = Shown();
  m.PresetTimeMode("bar");
  EXPECT_EQ(m.editParams.timeMode, "bar");
  m.PresetSampleMode("single");
  EXPECT_EQ(m.editParams.sampleMode, "single");
  EXPECT_EQ(m.editParams.timeMode, "bar");
}

TEST(GlobalPageModelTest, PickedRootKeepsThePagesRange) {
  InstrumentParams p;
  p.rootNote = 48;
  GlobalPageModel m = Shown(p);
  const NotePickerRequest request = m.PickerRequest();
  EXPECT_EQ(request.low, 0);
  EXPECT_EQ(request.high, 128);
  EXPECT_EQ(request.root, 48);
  EXPECT_EQ(request.mode, 2);
  EXPECT_EQ(request.accent, MakeColorRef(70, 130, 180));
  EXPECT_EQ(request.neutralColors, 1);
  EXPECT_TRUE(m.PickRoot(0));  // C-1 becomes 1
  EXPECT_EQ(m.editParams.rootNote, 1);
  EXPECT_EQ(m.fields[kGlobalRoot], "C#-1");
  EXPECT_TRUE(m.PickRoot(64));
  EXPECT_EQ(m.editParams.rootNote, 64);
  EXPECT_FALSE(m.PickRoot(-1));
  EXPECT_EQ(m.editParams.rootNote, 64);
}

}  // namespace
}  // namespace zandrel
