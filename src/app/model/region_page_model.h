// The Region page without a window: its field texts, what "Update" reads
// from them, the blinking of its two flat buttons and its colours.
//
// The page never changes the document. It keeps a copy of the region it
// shows (editRegion); "Update" reads the fields into that copy and the Qt page
// then asks the main frame to copy it over the selected region. Numbers are
// frames ("%lld"), keys are note names; text that is no number reads as 0 and
// a key outside 0..127 keeps the key the copy had. The frame checks the
// values against the audio, not the page.
//
// The Qt page (app/region_props_dlg.h) mirrors `fields` into its controls and
// the blink flags into its buttons after every call.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/model/page_model_parts.h"
#include "document/instrument.h"
#include "platform/colorref.h"

namespace zandrel {

enum RegionField {
  kRegionName,       // read-only: "Region %d" (1-based) or "No Region Selected"
  kRegionStart,      // first frame
  kRegionEnd,        // end frame (exclusive)
  kRegionLoopIn,     // read-only: the view's selection start, "---" = none
  kRegionLoopOut,    // read-only: the view's selection end, "---" = none
  kRegionLoopStart,  // -1 = no loop
  kRegionLoopEnd,    // -1 = no loop
  kRegionLowKey,
  kRegionHighKey,
  kRegionRootKey,
  kRegionFieldCount,
};

// Region i is coloured by entry i mod 10 of the view's region palette
// (kRegionPalette), as a ColorRef value.
ColorRef RegionPageColour(int index);

// The two tints of a region colour, channel by channel, rounded down:
// light = v x 0.4 + 153 (a pale background), dark = v x 0.6.
struct RegionTints {
  ColorRef light = 0;
  ColorRef dark = 0;
};
RegionTints RegionColourTints(ColorRef colour);

// Whether "Apply to Region Loop" blinks for the region |r| and the selection
// a..b (-1 = none): it does while a selection inside the region differs from
// both the region's bounds and its loop, and while a region with a loop is
// shown without a selection (pressing the button then removes the loop).
bool ApplyLoopShouldBlink(const Region& r, int64_t a, int64_t b);

class RegionPageModel {
 public:
  RegionPageModel();

  Region editRegion{0, 0, kNoLoop, kNoLoop, 0, 127, 60};
  ColorRef regionColour = kSteelBlue;  // given to the note picker
  int shownIndex = -1;                 // index of the region shown, -1 = none
  std::array<std::string, kRegionFieldCount> fields;
  bool regionControlsEnabled = false;
  bool updateBlinking = false;
  bool applyLoopBlinking = false;
  FieldColours nameColours;
  FieldColours rootColours;
  ButtonScheme applyLoopScheme{0xDBD0FF, 1.04, 0.96};
  static constexpr ButtonScheme kUpdateScheme{0xF7E4CC, 1.04, 0.96};

  // Fills the page from |region| (index |index| of the list), enables it,
  // colours it by the index (0..9999; other indexes keep the colours) and
  // decides the blinking of "Apply to Region Loop" for the selection shown.
  void ShowRegion(const Region& region, int index);
  // Loop IN and Loop OUT ("---" when negative).
  void ShowSelection(int64_t a, int64_t b);
  // The "no region" state: disabled, "---" everywhere, no blinking, the copy
  // reset. Colours stay.
  void Clear();
  // A field was typed into: "Update" blinks until the edits are applied.
  void FieldEdited() { updateBlinking = true; }
  // "Update": reads the fields into editRegion, rewrites the key fields with
  // the stored keys and stops both blinkings. The caller then asks the frame
  // to apply editRegion.
  void ApplyEdits();
  // "Apply to Region Loop" with the view's selection: the loop becomes the
  // selection, or no loop when either end of it is unset. Then ApplyEdits.
  void ApplyToRegionLoop(int64_t loopIn, int64_t loopOut);
  // "Remove Loop": no loop, then ApplyEdits.
  void RemoveLoop();
  // The note picker for key |which| (0 low, 1 high, 2 root).
  NotePickerRequest PickerRequest(int which) const;
  // The picker answered |note| for key |which|: a note 0..127 is stored,
  // written into its field and applied (true); anything else is ignored.
  bool PickNote(int which, int note);

  // The selection the page shows (Loop IN / Loop OUT read back; "---" and
  // empty read as -1).
  int64_t ShownLoopIn() const;
  int64_t ShownLoopOut() const;

 private:
  void DecideApplyLoopBlinking(int64_t a, int64_t b);
};

}  // namespace zandrel
