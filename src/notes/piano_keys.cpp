#include "notes/piano_keys.h"

#include <algorithm>

#include "document/note_names.h"

namespace zandrel {
namespace {

constexpr int kWhiteKeySemitones[7] = {0, 2, 4, 5, 7, 9, 11};
constexpr int kSemitoneToWhiteKey[12] = {0, 0, 1, 1, 2, 3, 3, 4, 4, 5, 5, 6};

// Each channel of |c| as trunc(channel x scale + offset).
ColorRef Tint(ColorRef c, double scale, double offset) {
  auto channel = [&](int v) { return static_cast<int>(v * scale + offset); };
  return MakeColorRef(channel(RedOf(c)), channel(GreenOf(c)), channel(BlueOf(c)));
}

constexpr ColorRef Grey(int v) { return MakeColorRef(v, v, v); }

}  // namespace

bool IsBlackKey(int note) {
  if (note < 0 || note >= kPianoKeyCount) return false;
  switch (note % 12) {
    case 1: case 3: case 6: case 8: case 10: return true;
    default: return false;
  }
}

int WhiteKeyNote(int whiteIndex) { return (whiteIndex / 7) * 12 + kWhiteKeySemitones[whiteIndex % 7]; }

int WhiteKeyIndex(int note) {
  const int n = std::clamp(note, 0, kPianoKeyCount - 1);
  return (n / 12) * 7 + kSemitoneToWhiteKey[n % 12];
}

int VisibleWhiteKeys(int width) { return std::max(1, width / kWhiteKeyWidth); }

PianoRect PianoKeyArea(const PianoRect& client) {
  PianoRect area = client;
  area.bottom = client.bottom - kPianoBottomBand;
  return area;
}

int BlackKeyHeight(int keyAreaHeight) { return static_cast<int>(0.6 * keyAreaHeight); }

void PianoSelectorModel::SetKeyRange(int low, int high, int root, int mode, int visibleWhiteKeys) {
  lowNote = low;
  highNote = high;
  rootNote = root;
  selectMode = mode;
  pickedNote = -1;
  accentColor = kSteelBlue;
  pickedNote = EditedKey();
  const int first = std::clamp(WhiteKeyIndex(root) - visibleWhiteKeys / 2, 0, kWhiteKeyCount - 1);
  firstVisibleNote = WhiteKeyNote(first);
}

int PianoSelectorModel::EditedKey() const {
  switch (selectMode) {
    case 0: return lowNote;
    case 1: return highNote;
    case 2: return rootNote;
    default: return -1;
  }
}

PianoScrollBar PianoSelectorModel::ScrollBar(int visibleWhiteKeys) const {
  PianoScrollBar bar;
  bar.page = visibleWhiteKeys;
  bar.pos = FirstWhiteKey();
  return bar;
}

int PianoSelectorModel::HitTestKey(int x, int y, const PianoRect& keyArea) const {
  if (x < keyArea.left || x >= keyArea.right || y < keyArea.top || y >= keyArea.bottom) return -1;
  const int dx = x - keyArea.left;
  const int w = FirstWhiteKey() + dx / kWhiteKeyWidth;
  const int offset = dx % kWhiteKeyWidth;
  if (y <= keyArea.top + BlackKeyHeight(keyArea.Height())) {
    // The right part of a white key lies under the black key after it, the
    // left part under the black key after the previous white key.
    if (offset >= kBlackKeyOffset) {
      const int n = WhiteKeyNote(std::clamp(w, 0, kWhiteKeyCount - 1)) + 1;
      if (IsBlackKey(n)) return n;
    }
    // The leftmost key (C-1) has no white key before it, hence no black key
    // over its left edge.
    if (offset <= kBlackKeyWidth / 2 && w >= 1) {
      const int n = WhiteKeyNote(std::min(w - 1, kWhiteKeyCount - 1)) + 1;
      if (IsBlackKey(n)) return n;
    }
  }
  if (w < 0 || w >= kWhiteKeyCount) return -1;
  return WhiteKeyNote(w);
}

bool PianoSelectorModel::Click(int x, int y, const PianoRect& client) {
  if (readOnly != 0) return false;
  const int note = HitTestKey(x, y, PianoKeyArea(client));
  if (note < 0 || note >= kPianoKeyCount) return false;
  pickedNote = note;
  switch (selectMode) {
    case 0: lowNote = note; break;
    case 1: highNote = note; break;
    case 2: rootNote = note; break;
    default: break;
  }
  return true;
}

int PianoSelectorModel::Scroll(PianoScroll action, int visibleWhiteKeys, int thumbPosition) {
  const int c = FirstWhiteKey();
  const int v = visibleWhiteKeys;
  const int last = kWhiteKeyCount - v;  // where the scroll bar's thumb stops
  int next = c;
  switch (action) {
    case PianoScroll::kLineLeft: next = std::max(c - 1, 0); break;
    case PianoScroll::kLineRight: next = std::min(c + 1, last); break;
    case PianoScroll::kPageLeft: next = std::max(c - v, 0); break;
    case PianoScroll::kPageRight: next = std::min(c + v, last); break;
    case PianoScroll::kThumbPosition:
    case PianoScroll::kThumbTrack: next = std::min(thumbPosition, last); break;
    case PianoScroll::kOther: break;
  }
  next = std::clamp(next, 0, kWhiteKeyCount - 1);
  firstVisibleNote = WhiteKeyNote(next);
  return next;
}

ColorRef PianoSelectorModel::WhiteKeyColour(int note) const {
  if (!InRange(note) || neutralColors == 1) return Grey(220);
  return Tint(accentColor, 0.5, 127.5);
}

ColorRef PianoSelectorModel::BlackKeyColour(int note) const {
  if (!InRange(note)) return Grey(40);
  if (neutralColors == 1) return Grey(16);
  return Tint(accentColor, 0.5, 0.0);
}

PianoPicture PianoSelectorModel::Picture(const PianoRect& client) const {
  PianoPicture picture;
  picture.client = client;
  const PianoRect area = PianoKeyArea(client);
  if (area.Height() <= 0 || client.Width() <= 0) return picture;
  const int top = area.top;
  const int bottom = area.bottom;
  const int blackHeight = BlackKeyHeight(area.Height());
  const int visible = VisibleWhiteKeys(client.Width());
  const int first = FirstWhiteKey();

  // Every walk over the visible white keys stops after the last key, at the
  // right edge, or after visible + 2 keys.
  auto walk = [&](auto&& visit) {
    int x = client.left;
    for (int w = first, count = 0; w < kWhiteKeyCount && x < client.right && count < visible + 2;
         ++w, ++count, x += kWhiteKeyWidth)
      visit(w, x);
  };

  walk([&](int w, int x) {
    PianoWhiteKey key;
    key.note = WhiteKeyNote(w);
    key.body = {x, top, x + kWhiteKeyWidth, bottom};
    key.fill = WhiteKeyColour(key.note);
    if (key.note == rootNote) key.rootMark = PianoRect{x + 2, top + blackHeight + 5, x + 24, bottom};
    key.separatorX = x + kWhiteKeyWidth - 1;
    key.label = MidiNoteName(key.note);
    key.labelRect = {x, bottom - 16, x + kWhiteKeyWidth, bottom - 2};
    key.labelColour = key.note == pickedNote ? kPianoPickedLabel : kPianoLabel;
    picture.whiteKeys.push_back(std::move(key));
  });

  walk([&](int w, int x) {
    const int n = WhiteKeyNote(w) + 1;
    if (!IsBlackKey(n)) return;
    PianoBlackKey key;
    key.note = n;
    key.body = {x + kBlackKeyOffset, top, x + kBlackKeyOffset + kBlackKeyWidth, top + blackHeight};
    key.fill = BlackKeyColour(n);
    if (n == rootNote) {
      key.rootMark = PianoRect{key.body.left + 2, key.body.top + 2, key.body.right - 2, key.body.bottom - 2 - 10};
    }
    picture.blackKeys.push_back(key);
  });

  // Only a key that exists gets the marker (the high key may be 128).
  const int edited = EditedKey();
  if (edited >= 0 && edited < kPianoKeyCount) {
    const int offset = WhiteKeyIndex(edited) - first;
    if (offset >= -1 && offset <= visible + 1) {
      const int x = client.left + kWhiteKeyWidth * offset;
      PianoMarker marker;
      marker.note = edited;
      marker.black = IsBlackKey(edited);
      if (marker.black) {
        marker.inner = {x + kBlackKeyOffset, top, x + kBlackKeyOffset + kBlackKeyWidth, top + blackHeight};
        marker.outer = {marker.inner.left - 1, marker.inner.top - 1, marker.inner.right + 1, marker.inner.bottom + 1};
      } else {
        // The white key's visible shape: notched where a black key covers it.
        const int a = IsBlackKey(edited - 1) ? 8 : 1;
        const int b = IsBlackKey(edited + 1) ? 8 : 1;
        const int notch = top + blackHeight;
        marker.outline = {{{x + 1, bottom - 1}, {x + 1, notch}, {x + a, notch}, {x + a, top + 1},
                           {x + kWhiteKeyWidth - b, top + 1}, {x + kWhiteKeyWidth - b, notch},
                           {x + kWhiteKeyWidth - 1, notch}, {x + kWhiteKeyWidth - 1, bottom - 1}}};
      }
      picture.marker = marker;
    }
  }

  walk([&](int w, int x) {
    const int n = WhiteKeyNote(w);
    if (keyMarks[static_cast<size_t>(n)] == 1) picture.dots.push_back({n, {x + 10, top + 5, x + 16, top + 11}, kPianoWhiteMark});
    // IsBlackKey is false past 127, so the mark after G9 is never read.
    if (IsBlackKey(n + 1) && keyMarks[static_cast<size_t>(n + 1)] == 1)
      picture.dots.push_back({n + 1, {x + 23, top + 5, x + 29, top + 11}, kPianoBlackMark});
  });
  return picture;
}

}  // namespace zandrel
