#include "app/model/region_page_model.h"

#include "app/model/page_text.h"
#include "document/note_names.h"
#include "platform/text_format.h"
#include "view/model/view_geometry.h"

namespace zandrel {
namespace {

constexpr const char* kNone = "---";

std::string FrameText(int64_t frame) { return Format("%lld", static_cast<long long>(frame)); }

int64_t SelectionPoint(const std::string& text) {
  if (text.empty() || text == kNone) return -1;
  return ParseInteger(text);
}

// A key field: a note name, else a decimal integer; outside 0..127 the
// previous key stays.
int32_t ReadKey(const std::string& text, int32_t previous) {
  int64_t key = ParseNoteName(text);
  if (key < 0) key = ParseInteger(text);
  return key >= 0 && key <= 127 ? static_cast<int32_t>(key) : previous;
}

constexpr RegionField kKeyFields[3] = {kRegionLowKey, kRegionHighKey, kRegionRootKey};

int32_t& KeyOf(Region& r, int which) { return which == 0 ? r.loKey : which == 1 ? r.hiKey : r.rootNote; }

}  // namespace

ColorRef RegionPageColour(int index) { return ColorrefFromArgb(RegionColor(index)); }

RegionTints RegionColourTints(ColorRef c) {
  auto light = [](int v) { return static_cast<int>(v * 0.4 + 153); };
  auto dark = [](int v) { return static_cast<int>(v * 0.6); };
  return {MakeColorRef(light(RedOf(c)), light(GreenOf(c)), light(BlueOf(c))),
          MakeColorRef(dark(RedOf(c)), dark(GreenOf(c)), dark(BlueOf(c)))};
}

bool ApplyLoopShouldBlink(const Region& r, int64_t a, int64_t b) {
  const bool outside = (a != -1 && a < r.startSample) || (b != -1 && b > r.endSample);
  if (a == r.startSample && b == r.endSample) return false;
  if (outside) return false;
  if (a == r.loopStart && b == r.loopEnd) return false;
  return true;
}

RegionPageModel::RegionPageModel() = default;

void RegionPageModel::ShowRegion(const Region& region, int index) {
  regionControlsEnabled = true;
  fields[kRegionStart] = FrameText(region.startSample);
  fields[kRegionEnd] = FrameText(region.endSample);
  fields[kRegionLoopStart] = FrameText(region.loopStart);
  fields[kRegionLoopEnd] = FrameText(region.loopEnd);
  fields[kRegionLowKey] = NoteNameOrDashes(region.loKey);
  fields[kRegionHighKey] = NoteNameOrDashes(region.hiKey);
  fields[kRegionRootKey] = NoteNameOrDashes(region.rootNote);
  fields[kRegionName] = Format("Region %d", index + 1);
  updateBlinking = false;

  if (index >= 0 && index <= 9999) {
    regionColour = RegionPageColour(index);
    const RegionTints tints = RegionColourTints(regionColour);
    nameColours = {true, tints.dark, 0xFFFFFF};
    rootColours = {true, tints.light, 0x000000};
    applyLoopScheme = {tints.light, 1.1, 0.96};
  }
  editRegion = region;
  shownIndex = index;
  DecideApplyLoopBlinking(ShownLoopIn(), ShownLoopOut());
}

void RegionPageModel::ShowSelection(int64_t a, int64_t b) {
  fields[kRegionLoopIn] = a < 0 ? kNone : FrameText(a);
  fields[kRegionLoopOut] = b < 0 ? kNone : FrameText(b);
  DecideApplyLoopBlinking(a, b);
}

void RegionPageModel::Clear() {
  regionControlsEnabled = false;
  for (RegionField f : {kRegionStart, kRegionEnd, kRegionLoopStart, kRegionLoopEnd, kRegionLowKey, kRegionHighKey,
                        kRegionRootKey, kRegionLoopIn, kRegionLoopOut})
    fields[f] = kNone;
  fields[kRegionName] = "No Region Selected";
  applyLoopBlinking = false;
  updateBlinking = false;
  editRegion = Region{0, 0, kNoLoop, kNoLoop, 0, 127, 60};
  shownIndex = -1;
}

void RegionPageModel::ApplyEdits() {
  editRegion.startSample = ParseInteger(fields[kRegionStart]);
  editRegion.endSample = ParseInteger(fields[kRegionEnd]);
  editRegion.loopStart = ParseInteger(fields[kRegionLoopStart]);
  editRegion.loopEnd = ParseInteger(fields[kRegionLoopEnd]);
  for (int which = 0; which < 3; ++which) {
    int32_t& key = KeyOf(editRegion, which);
    key = ReadKey(fields[kKeyFields[which]], key);
    fields[kKeyFields[which]] = NoteNameOrDashes(key);
  }
  applyLoopBlinking = false;
  updateBlinking = false;
}

void RegionPageModel::ApplyToRegionLoop(int64_t loopIn, int64_t loopOut) {
  // Half a selection is no loop: both points go, never just one.
  if (loopIn < 0 || loopOut < 0) loopIn = loopOut = kNoLoop;
  fields[kRegionLoopStart] = FrameText(loopIn);
  fields[kRegionLoopEnd] = FrameText(loopOut);
  ApplyEdits();
}

void RegionPageModel::RemoveLoop() {
  fields[kRegionLoopStart] = "-1";
  fields[kRegionLoopEnd] = "-1";
  applyLoopBlinking = false;
  ApplyEdits();
}

NotePickerRequest RegionPageModel::PickerRequest(int which) const {
  return {editRegion.loKey, editRegion.hiKey, editRegion.rootNote, which, regionColour, 0};
}

bool RegionPageModel::PickNote(int which, int note) {
  if (which < 0 || which > 2 || note < 0 || note > 127) return false;
  KeyOf(editRegion, which) = note;
  fields[kKeyFields[which]] = NoteNameOrDashes(note);
  ApplyEdits();
  return true;
}

int64_t RegionPageModel::ShownLoopIn() const { return SelectionPoint(fields[kRegionLoopIn]); }
int64_t RegionPageModel::ShownLoopOut() const { return SelectionPoint(fields[kRegionLoopOut]); }

void RegionPageModel::DecideApplyLoopBlinking(int64_t a, int64_t b) {
  applyLoopBlinking = ApplyLoopShouldBlink(editRegion, a, b);
}

}  // namespace zandrel
