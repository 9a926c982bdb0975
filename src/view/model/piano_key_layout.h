// Where the keys of the piano strip are: the one layout the strip's drawing,
// its hit records, the key-boundary drags and the spectrum's frequency axis
// all use.
//
// The strip is a row of equal-width columns, one per MIDI key. A wide window
// shows the 88 keys of a piano (21..108) across its width; a narrower one
// shows as many keys of at least the minimum width as fit (25 px while key
// boundaries are edited, else 15 px), centred on key 64 and kept within
// 21..108, with the row centred in the window.
#pragma once

#include <vector>

#include "document/instrument.h"
#include "notes/piano_keys.h"  // IsBlackKey
#include "view/model/rect.h"

namespace zandrel {

constexpr int kLowestPianoKey = 21;
constexpr int kHighestPianoKey = 108;

struct PianoKeyLayout {
  int lowestKey = kLowestPianoKey;
  int highestKey = kHighestPianoKey;
  float keyWidth = 0.0f;  // pixels
  int offset = 0;         // pixels left of the first key

  // The layout across a window |width| pixels wide.
  static PianoKeyLayout For(int width, bool editKeyBoundaries);

  // Left and right edge of key |key|'s column (any key, shown or not).
  int X1(int key) const;
  int X2(int key) const;
  bool Shows(int key) const { return key >= lowestKey && key <= highestKey; }
  // The key whose left edge is nearest to |x|, within 21..108.
  int KeyAtBoundary(int x) const;
};

// Set Root Note's hit test: the MIDI key under x of the piano strip drawn
// across |width| pixels (the strip's own layout), or -1 between or beside
// the drawn keys.
int PianoKeyAtX(int x, int width, bool editKeyBoundaries);

// A hit record of the strip: a rectangle (nothing normalised, so an inverted
// one hits nothing), the region it belongs to and, for a key-boundary handle,
// whether it is the region's low-key handle.
struct KeyHitRecord {
  Rect rect;
  int region = -1;
  bool lowKeyHandle = false;
};

// The strip's hit records for a client of |width| x |height| pixels:
// |keyRects| one per region in list order (the region's key range), and
// |handles| one per key-boundary handle the strip draws (only while key
// boundaries are edited). Both empty without instrument data.
struct PianoHitRecords {
  std::vector<KeyHitRecord> keyRects;
  std::vector<KeyHitRecord> handles;
  // The x of the boundary line each handle is drawn at, parallel to |handles|.
  std::vector<int> handleLines;
};
PianoHitRecords ComputePianoHitRecords(const InstrumentData& instrument, int width, int height,
                                       bool editKeyBoundaries);

}  // namespace zandrel
