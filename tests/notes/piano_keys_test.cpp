#include "notes/piano_keys.h"

#include <gmock/gmock.h>

#include <algorithm>

namespace zandrel {
namespace {

// A control 442 px wide (17 white keys) whose key area is 0..180.
const PianoRect kClient{0, 0, 442, 200};
const PianoRect kKeyArea = PianoKeyArea(kClient);
const int kBlackBottom = BlackKeyHeight(kKeyArea.Height());  // 108

// Model scrolled so that |note|'s white key is the leftmost.
PianoSelectorModel ScrolledTo(int note) {
  PianoSelectorModel m;
  m.firstVisibleNote = WhiteKeyNote(WhiteKeyIndex(note));
  return m;
}

TEST(PianoKeysTest, KeyTablesMapNotesToWhiteKeys) {
  EXPECT_EQ(WhiteKeyNote(0), 0);
  EXPECT_EQ(WhiteKeyNote(35), 60);
  EXPECT_EQ(WhiteKeyNote(74), 127);
  for (int w = 0; w < kWhiteKeyCount; ++w) {
    EXPECT_FALSE(IsBlackKey(WhiteKeyNote(w)));
    EXPECT_EQ(WhiteKeyIndex(WhiteKeyNote(w)), w);
  }
  EXPECT_EQ(WhiteKeyIndex(61), 35);  // a black key maps to the white key below it
  EXPECT_EQ(WhiteKeyIndex(-5), 0);
  EXPECT_EQ(WhiteKeyIndex(200), 74);
  int black = 0;
  for (int n = 0; n < kPianoKeyCount; ++n) black += IsBlackKey(n);
  EXPECT_EQ(black, kPianoKeyCount - kWhiteKeyCount);
  // G9 is the last key: no black key after it, even though 128 mod 12 is 8.
  EXPECT_FALSE(IsBlackKey(128));
  EXPECT_EQ(VisibleWhiteKeys(442), 17);
  EXPECT_EQ(VisibleWhiteKeys(10), 1);
}

TEST(PianoKeysTest, ANewControlHoldsTheDefaults) {
  const PianoSelectorModel m;
  EXPECT_EQ(m.lowNote, 0);
  EXPECT_EQ(m.highNote, 127);
  EXPECT_EQ(m.rootNote, 60);
  EXPECT_EQ(m.selectMode, 2);
  EXPECT_EQ(m.pickedNote, -1);
  EXPECT_EQ(m.accentColor, MakeColorRef(70, 130, 180));
  EXPECT_EQ(m.neutralColors, 0);
  EXPECT_EQ(m.readOnly, 0);
  EXPECT_EQ(m.firstVisibleNote, 48);
  EXPECT_TRUE(std::all_of(m.keyMarks.begin(), m.keyMarks.end(), [](int v) { return v == 0; }));
}

TEST(PianoKeysTest, SetKeyRangePicksTheModesKeyAndCentresTheRoot) {
  struct Case {
    int mode;
    int picked;
  };
  for (const Case c : {Case{0, 40}, Case{1, 80}, Case{2, 64}, Case{3, -1}, Case{-1, -1}}) {
    PianoSelectorModel m;
    m.accentColor = 0x123456;
    m.SetKeyRange(40, 80, 64, c.mode, 17);
    EXPECT_EQ(m.pickedNote, c.picked) << c.mode;
    EXPECT_EQ(m.accentColor, kSteelBlue);
    EXPECT_EQ(m.FirstWhiteKey(), WhiteKeyIndex(64) - 8);
  }
  PianoSelectorModel m;
  m.SetKeyRange(0, 127, 60, 2, 17);
  EXPECT_EQ(m.FirstWhiteKey(), 35 - 8);
  // Near the top the first key may lie past where the scroll bar stops.
  m.SetKeyRange(0, 128, 127, 2, 40);
  EXPECT_EQ(m.FirstWhiteKey(), 74 - 20);
  EXPECT_EQ(m.ScrollBar(40).page, 40);
  EXPECT_EQ(m.ScrollBar(40).max, 74);
  m.SetKeyRange(0, 127, 0, 2, 17);
  EXPECT_EQ(m.FirstWhiteKey(), 0);
  m.SetKeyRange(0, 127, 500, 2, 17);  // a root beyond the keyboard centres G9
  EXPECT_EQ(m.FirstWhiteKey(), 74 - 8);
}

TEST(PianoKeysTest, HitTestFindsBlackKeysInTheUpperPartOnly) {
  const PianoSelectorModel m = ScrolledTo(60);  // C4 at x 0, E4 at x 52
  struct Case {
    int x, y, note;
  };
  const Case cases[] = {
      {20, 10, 61},                    // right part of C4 lies under C#4
      {52 + 5, 10, 63},                // left part of E4 lies under D#4
      {52 + 20, 10, 64},               // no black key after E4
      {20, kBlackBottom, 61},          // the black key's last row
      {20, kBlackBottom + 1, 60},      // below the black keys every click is white
      {52 + 5, 150, 64},
      {13, 10, 60},                    // between the black keys
      {20, kKeyArea.bottom, -1},       // the band below the keys
      {441, 150, WhiteKeyNote(35 + 16)},
      {442, 150, -1},                  // right edge excluded
      {-1, 150, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(m.HitTestKey(c.x, c.y, kKeyArea), c.note) << c.x << "," << c.y;
}

TEST(PianoKeysTest, HitTestAtTheEndsOfTheKeyboard) {
  // Scrolled to the end: G9 is at x 26 x 16 and nothing lies right of it.
  PianoSelectorModel end = ScrolledTo(WhiteKeyNote(74 - 16));
  EXPECT_EQ(end.HitTestKey(16 * 26 + 20, 10, kKeyArea), 127);
  EXPECT_EQ(end.HitTestKey(16 * 26 + 5, 10, kKeyArea), 126);  // F#9 over G9's left edge
  // A key area wider than the keyboard: right of key 74 nothing is picked.
  const PianoRect wide = PianoKeyArea({0, 0, 26 * 20, 200});
  EXPECT_EQ(end.HitTestKey(17 * 26 + 5, 10, wide), -1);
  EXPECT_EQ(end.HitTestKey(17 * 26 + 20, 150, wide), -1);
  // The left edge of C-1 has no black key over it: it is C-1, not C#-1.
  const PianoSelectorModel start = ScrolledTo(0);
  EXPECT_EQ(start.HitTestKey(5, 10, kKeyArea), 0);
  EXPECT_EQ(start.HitTestKey(20, 10, kKeyArea), 1);
}

TEST(PianoKeysTest, AClickMovesTheKeyOfTheModeUnlessReadOnly) {
  PianoSelectorModel m;
  m.SetKeyRange(48, 72, 60, 0, 17);
  m.firstVisibleNote = 60;
  // A low key above the high key is taken as it is.
  ASSERT_TRUE(m.Click(26 * 14 + 10, 150, kClient));  // C5 + 2 octaves = 84
  EXPECT_EQ(m.pickedNote, 84);
  EXPECT_EQ(m.lowNote, 84);
  EXPECT_EQ(m.highNote, 72);
  m.selectMode = 2;
  ASSERT_TRUE(m.Click(20, 10, kClient));
  EXPECT_EQ(m.rootNote, 61);
  EXPECT_EQ(m.pickedNote, 61);

  EXPECT_FALSE(m.Click(20, kKeyArea.bottom + 5, kClient));  // the bottom band
  EXPECT_EQ(m.pickedNote, 61);
  m.readOnly = 1;
  EXPECT_FALSE(m.Click(10, 150, kClient));
  EXPECT_EQ(m.rootNote, 61);
}

TEST(PianoKeysTest, ScrollingStopsWhereTheScrollBarEnds) {
  struct Case {
    int first;
    PianoScroll action;
    int thumb;
    int expected;
  };
  const int v = 17;  // the thumb stops at 75 - 17 = 58
  const Case cases[] = {
      {0, PianoScroll::kLineLeft, 0, 0},         {10, PianoScroll::kLineLeft, 0, 9},
      {10, PianoScroll::kLineRight, 0, 11},      {58, PianoScroll::kLineRight, 0, 58},
      {10, PianoScroll::kPageLeft, 0, 0},        {30, PianoScroll::kPageLeft, 0, 13},
      {30, PianoScroll::kPageRight, 0, 47},      {50, PianoScroll::kPageRight, 0, 58},
      {10, PianoScroll::kThumbTrack, 40, 40},    {10, PianoScroll::kThumbPosition, 70, 58},
      {66, PianoScroll::kOther, 0, 66},          {66, PianoScroll::kLineRight, 0, 58},
  };
  for (const Case& c : cases) {
    PianoSelectorModel m;
    m.firstVisibleNote = WhiteKeyNote(c.first);
    EXPECT_EQ(m.Scroll(c.action, v, c.thumb), c.expected) << c.first << " " << static_cast<int>(c.action);
    EXPECT_EQ(m.firstVisibleNote, WhiteKeyNote(c.expected));
  }
  // Wider than the keyboard: nothing to scroll.
  PianoSelectorModel m;
  EXPECT_EQ(m.Scroll(PianoScroll::kLineRight, 80), 0);
}

TEST(PianoKeysTest, KeyColoursFollowRangeAccentAndNeutralMode) {
  PianoSelectorModel m;
  m.lowNote = 48;
  m.highNote = 72;
  EXPECT_EQ(m.WhiteKeyColour(60), MakeColorRef(162, 192, 217));
  EXPECT_EQ(m.BlackKeyColour(61), MakeColorRef(35, 65, 90));
  EXPECT_EQ(m.WhiteKeyColour(47), MakeColorRef(220, 220, 220));
  EXPECT_EQ(m.BlackKeyColour(73), MakeColorRef(40, 40, 40));
  m.neutralColors = 1;
  EXPECT_EQ(m.WhiteKeyColour(60), m.WhiteKeyColour(47));
  EXPECT_EQ(m.BlackKeyColour(61), MakeColorRef(16, 16, 16));
  EXPECT_EQ(m.BlackKeyColour(73), MakeColorRef(40, 40, 40));
}

TEST(PianoKeysTest, PictureLaysOutTheVisibleKeys) {
  PianoSelectorModel m;
  m.SetKeyRange(0, 127, 60, 2, 17);
  m.pickedNote = 62;
  const PianoPicture p = m.Picture(kClient);
  // 17 whole keys plus the partly visible ones, at most visible + 2.
  ASSERT_EQ(p.whiteKeys.size(), 17u);
  const PianoWhiteKey& first = p.whiteKeys.front();
  EXPECT_EQ(first.note, WhiteKeyNote(27));
  EXPECT_EQ(first.body, (PianoRect{0, 0, 26, 180}));
  EXPECT_EQ(first.separatorX, 25);
  EXPECT_EQ(first.labelRect, (PianoRect{0, 164, 26, 178}));

  auto white = [&](int note) {
    return *std::find_if(p.whiteKeys.begin(), p.whiteKeys.end(), [&](const PianoWhiteKey& k) { return k.note == note; });
  };
  const PianoWhiteKey c4 = white(60);
  EXPECT_EQ(c4.label, "C4");
  EXPECT_EQ(c4.body.left, 8 * 26);
  ASSERT_TRUE(c4.rootMark.has_value());
  EXPECT_EQ(*c4.rootMark, (PianoRect{8 * 26 + 2, kBlackBottom + 5, 8 * 26 + 24, 180}));
  EXPECT_EQ(c4.labelColour, kPianoLabel);
  EXPECT_EQ(white(62).labelColour, kPianoPickedLabel);
  EXPECT_FALSE(white(64).rootMark.has_value());

  const auto cs4 = std::find_if(p.blackKeys.begin(), p.blackKeys.end(), [](const PianoBlackKey& k) { return k.note == 61; });
  ASSERT_NE(cs4, p.blackKeys.end());
  EXPECT_EQ(cs4->body, (PianoRect{8 * 26 + 18, 0, 8 * 26 + 34, kBlackBottom}));

  // The root is the edited key: C4 is outlined, notched on its right only.
  ASSERT_TRUE(p.marker.has_value());
  EXPECT_FALSE(p.marker->black);
  const int x = 8 * 26;
  EXPECT_EQ(p.marker->outline[2], (PianoPoint{x + 1, kBlackBottom}));
  EXPECT_EQ(p.marker->outline[4], (PianoPoint{x + 18, 1}));
}

TEST(PianoKeysTest, PictureOfABlackRootAndOfAScrolledAwayMarker) {
  PianoSelectorModel m;
  m.SetKeyRange(0, 127, 61, 2, 17);
  PianoPicture p = m.Picture(kClient);
  ASSERT_TRUE(p.marker.has_value());
  EXPECT_TRUE(p.marker->black);
  const int x = 8 * 26;
  EXPECT_EQ(p.marker->inner, (PianoRect{x + 18, 0, x + 34, kBlackBottom}));
  EXPECT_EQ(p.marker->outer, (PianoRect{x + 17, -1, x + 35, kBlackBottom + 1}));
  const auto root = std::find_if(p.blackKeys.begin(), p.blackKeys.end(), [](const PianoBlackKey& k) { return k.note == 61; });
  ASSERT_TRUE(root->rootMark.has_value());
  EXPECT_EQ(*root->rootMark, (PianoRect{x + 20, 2, x + 32, kBlackBottom - 12}));

  m.firstVisibleNote = 0;  // the root is far right of the visible keys
  EXPECT_FALSE(m.Picture(kClient).marker.has_value());
  m.selectMode = 7;
  m.firstVisibleNote = 48;
  EXPECT_FALSE(m.Picture(kClient).marker.has_value());
}

TEST(PianoKeysTest, KeyMarksPastTheLastKeyAreNeverRead) {
  PianoSelectorModel m;
  m.SetKeyRange(0, 128, 127, 2, 17);  // callers pass a high key of 128
  m.keyMarks.fill(1);
  const PianoPicture p = m.Picture(kClient);
  ASSERT_FALSE(p.whiteKeys.empty());
  EXPECT_EQ(p.whiteKeys.back().note, 127);
  for (const PianoDot& dot : p.dots) EXPECT_LE(dot.note, 127);
  // G9 (the last visible white key) has its own dot and no black one after it.
  const auto last = std::count_if(p.dots.begin(), p.dots.end(), [](const PianoDot& d) { return d.note >= 127; });
  EXPECT_EQ(last, 1);
  // The keys of the last octave: F9, F#9, G9 each carry one dot.
  const int x = p.whiteKeys[p.whiteKeys.size() - 2].body.left;  // F#9 follows F9 at x
  EXPECT_THAT(p.dots, ::testing::Contains(::testing::Field(&PianoDot::box, PianoRect{x + 23, 5, x + 29, 11})));
}

}  // namespace
}  // namespace zandrel
