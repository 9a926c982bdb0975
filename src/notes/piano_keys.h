// The note picker's piano without a window: 128 keys (MIDI notes 0..127),
// 75 white keys 26 px wide, scrolled horizontally by whole white keys.
//
// PianoSelectorModel holds what the picker control shows (range, root, the
// key a click edits, the picked key, colours, key marks, the first visible
// white key) and the rules that change it: centring on the root, the hit
// test of a click, scrolling. Picture() lays out one paint of the keyboard
// as rectangles and colours, which the Qt control (widgets/piano_selector_wnd.h)
// only draws, so the whole look can be checked without a display.
//
// Geometry, in pixels of the control's client rectangle: the key area is the
// client rectangle less a 20-px band at the bottom (labels sit just above
// it, the band itself stays background). Black keys take the upper 0.6 of
// the key area (truncated) and are 16 px wide, spanning x + 18 .. x + 34 of
// the white key at x, so they straddle the boundary to the next white key.
// Rectangles are half-open: right and bottom are outside.
//
// highNote may be 128 (callers that mean "every key" pass it): it is only
// ever compared with, never used as an index. User-interface thread only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/colorref.h"

namespace zandrel {

constexpr int kPianoKeyCount = 128;
constexpr int kWhiteKeyCount = 75;
constexpr int kWhiteKeyWidth = 26;
constexpr int kBlackKeyWidth = 16;
constexpr int kBlackKeyOffset = 18;  // from the left edge of the white key below it
constexpr int kPianoBottomBand = 20;

// Colours of one paint.
constexpr ColorRef kPianoBackground = MakeColorRef(30, 30, 30);
constexpr ColorRef kPianoKeySeparator = MakeColorRef(128, 128, 128);
constexpr ColorRef kPianoLabel = MakeColorRef(80, 80, 80);
constexpr ColorRef kPianoPickedLabel = MakeColorRef(0, 0, 0);
constexpr ColorRef kPianoBlackEdgeLight = MakeColorRef(60, 60, 60);
constexpr ColorRef kPianoBlackEdgeDark = MakeColorRef(20, 20, 20);
constexpr ColorRef kPianoMarkPen = MakeColorRef(200, 0, 0);
constexpr ColorRef kPianoWhiteMark = MakeColorRef(255, 150, 100);
constexpr ColorRef kPianoBlackMark = MakeColorRef(255, 100, 100);
constexpr ColorRef kPianoMarkerWhite = MakeColorRef(255, 255, 255);
constexpr ColorRef kPianoMarkerShadow = MakeColorRef(1, 1, 1);
constexpr ColorRef kPianoMarkerOutline = MakeColorRef(0, 0, 0);

struct PianoRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const PianoRect&) const = default;
};

struct PianoPoint {
  int x = 0;
  int y = 0;
  bool operator==(const PianoPoint&) const = default;
};

// Note 1, 3, 6, 8 or 10 of its octave; false outside 0..127.
bool IsBlackKey(int note);
// The note of white key |whiteIndex| (0..74).
int WhiteKeyNote(int whiteIndex);
// The white key of |note| clamped to 0..127; a black key gives the white key
// just below it.
int WhiteKeyIndex(int note);
// How many whole white keys a client |width| shows, at least 1.
int VisibleWhiteKeys(int width);
// The client rectangle less the bottom band.
PianoRect PianoKeyArea(const PianoRect& client);
// Height of the black keys in a key area of |keyAreaHeight|.
int BlackKeyHeight(int keyAreaHeight);

enum class PianoScroll { kLineLeft, kLineRight, kPageLeft, kPageRight, kThumbPosition, kThumbTrack, kOther };

// The scroll bar: range 0..74 with a page of the visible keys, so its thumb
// stops at 75 - visible.
struct PianoScrollBar {
  int min = 0;
  int max = kWhiteKeyCount - 1;
  int page = 1;
  int pos = 0;
};

struct PianoWhiteKey {
  int note = 0;
  PianoRect body;
  ColorRef fill = 0;
  std::optional<PianoRect> rootMark;  // accent-coloured bar in the lower part
  int separatorX = 0;                 // 1-px line from the key area's top to its bottom
  std::string label;                  // "C4"
  PianoRect labelRect;
  ColorRef labelColour = kPianoLabel;
};

struct PianoBlackKey {
  int note = 0;
  PianoRect body;  // framed by a 3-D edge, light at the top left
  ColorRef fill = 0;
  std::optional<PianoRect> rootMark;
};

struct PianoDot {
  int note = 0;
  PianoRect box;  // ellipse inside it, outlined with kPianoMarkPen
  ColorRef fill = 0;
};

// The outline of the key that a click edits.
struct PianoMarker {
  int note = 0;
  bool black = false;
  PianoRect inner;  // black key: 1-px white rectangle on its outline
  PianoRect outer;  // black key: 1-px near-black rectangle one pixel outside
  std::array<PianoPoint, 8> outline{};  // white key: closed 2-px black outline of its visible shape
};

// One paint of the keyboard, in drawing order: background, white keys,
// black keys, the marker, the dots.
struct PianoPicture {
  PianoRect client;
  std::vector<PianoWhiteKey> whiteKeys;
  std::vector<PianoBlackKey> blackKeys;
  std::optional<PianoMarker> marker;
  std::vector<PianoDot> dots;
};

class PianoSelectorModel {
 public:
  PianoSelectorModel() { ClearKeyMarks(); }

  int32_t lowNote = 0;     // lowest key of the highlighted range
  int32_t highNote = 127;  // highest key of the highlighted range (may be 128)
  int32_t rootNote = 60;   // drawn in the accent colour
  int32_t selectMode = 2;  // which key a click moves: 0 low, 1 high, 2 root
  int32_t pickedNote = -1;  // last picked key, -1 = none; its label is black
  ColorRef accentColor = kSteelBlue;
  int32_t neutralColors = 0;  // 1: grey keys instead of accent-tinted ones
  int32_t readOnly = 0;       // 1: clicks are ignored
  std::array<int32_t, kPianoKeyCount> keyMarks{};  // 1: a dot on that key
  int32_t firstVisibleNote = 48;  // note of the leftmost visible white key

  void ClearKeyMarks() { keyMarks.fill(0); }
  // Stores the range, root and mode, makes the mode's key the picked one
  // (-1 for another mode), resets the accent colour and scrolls so that the
  // root's white key is centred among |visibleWhiteKeys|.
  void SetKeyRange(int low, int high, int root, int mode, int visibleWhiteKeys);
  int FirstWhiteKey() const { return WhiteKeyIndex(firstVisibleNote); }
  // The key that selectMode edits, -1 for a mode other than 0, 1 or 2.
  int EditedKey() const;
  PianoScrollBar ScrollBar(int visibleWhiteKeys) const;

  // The key under (x, y) in |keyArea|, -1 for none.
  int HitTestKey(int x, int y, const PianoRect& keyArea) const;
  // A left click at (x, y) of the |client| rectangle. A key under it becomes
  // the picked key and moves the key of selectMode there (nothing keeps low
  // <= high). True when a key was picked: the owner repaints and notifies.
  bool Click(int x, int y, const PianoRect& client);
  // Moves the first visible white key; returns its index.
  int Scroll(PianoScroll action, int visibleWhiteKeys, int thumbPosition = 0);

  ColorRef WhiteKeyColour(int note) const;
  ColorRef BlackKeyColour(int note) const;
  PianoPicture Picture(const PianoRect& client) const;

 private:
  bool InRange(int note) const { return note >= lowNote && note <= highNote; }
};

}  // namespace zandrel
