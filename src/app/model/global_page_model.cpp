#include "app/model/global_page_model.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "app/model/page_text.h"
#include "document/note_names.h"
#include "document/region_edits.h"
#include "platform/text_format.h"

namespace zandrel {
namespace {

int32_t ClampedInteger(const std::string& text, int32_t lo, int32_t hi) {
  return static_cast<int32_t>(std::clamp<int64_t>(ParseInteger(text), lo, hi));
}

// |text| lowered when it is one of |allowed|, else |previous|.
std::string OneOf(const std::string& text, std::initializer_list<std::string_view> allowed, const std::string& previous) {
  const std::string lower = AsciiLower(text);
  return std::find(allowed.begin(), allowed.end(), lower) != allowed.end() ? lower : previous;
}

std::string Integer(int32_t v) { return Format("%d", v); }
std::string Tempo(float bpm) { return Format("%.2f", static_cast<double>(bpm)); }

// The page keeps what a preset button means: play mode, sample mode, time mode.
struct PlayModePreset {
  std::string_view mode, sampleMode, timeMode;
};
constexpr PlayModePreset kPlayModePresets[] = {
    {"oneshot", "single", "off"}, {"key", "multi", "off"}, {"legato", "multi", "off"}, {"loop", "single", "bpm"}};

}  // namespace

void GlobalPageModel::ShowInstrument(const InstrumentParams& params, float seconds) {
  durationSeconds = seconds;
  editParams = params;
  WriteFields();
  updateBlinking = false;
  rootColours = {true, kGlobalRootBackground, 0x000000};
}

void GlobalPageModel::WriteFields() {
  const InstrumentParams& p = editParams;
  fields[kGlobalRoot] = NoteNameOrDashes(p.rootNote);
  fields[kGlobalMode] = p.playMode;
  fields[kGlobalPitch] = Integer(p.pitch);
  fields[kGlobalPan] = Integer(p.pan);
  fields[kGlobalAmplitude] = Integer(p.amplitude);
  fields[kGlobalAttack] = Integer(p.attack);
  fields[kGlobalRelease] = Integer(p.release);
  fields[kGlobalTimeMode] = p.timeMode;
  fields[kGlobalSampleMode] = p.sampleMode;
  fields[kGlobalBpm] = Tempo(p.bpm);
  fields[kGlobalBeats] = BeatsText(durationSeconds, p.bpm);
}

void GlobalPageModel::SetDuration(float seconds) {
  durationSeconds = seconds;
  fields[kGlobalBeats] = BeatsText(seconds, editParams.bpm);
}

void GlobalPageModel::BpmEdited() {
  updateBlinking = true;
  const double bpm = ParseDecimal(fields[kGlobalBpm]);
  fields[kGlobalBeats] = std::isfinite(bpm) ? BeatsText(durationSeconds, static_cast<float>(bpm)) : "0.00";
}

void GlobalPageModel::ApplyEdits() {
  InstrumentParams& p = editParams;
  int64_t root = ParseNoteName(fields[kGlobalRoot]);
  if (root < 0) root = ParseInteger(fields[kGlobalRoot]);
  p.rootNote = static_cast<int32_t>(std::clamp<int64_t>(root, 1, 127));
  p.playMode = OneOf(fields[kGlobalMode], {"oneshot", "key", "legato", "loop"}, p.playMode);
  p.pitch = ClampedInteger(fields[kGlobalPitch], -12, 12);
  p.pan = ClampedInteger(fields[kGlobalPan], -16, 16);
  p.amplitude = ClampedInteger(fields[kGlobalAmplitude], 0, 200);
  p.attack = ClampedInteger(fields[kGlobalAttack], 0, 255);
  p.release = ClampedInteger(fields[kGlobalRelease], 0, 255);
  // Only the values the device knows reach the saved instrument; other text
  // keeps the previous mode, as the play mode does.
  p.timeMode = OneOf(fields[kGlobalTimeMode], {"off", "bpm", "bar"}, p.timeMode);
  p.sampleMode = OneOf(fields[kGlobalSampleMode], {"single", "multi"}, p.sampleMode);
  // NaN would pass any clamp and be saved as a JSON null.
  const double bpm = ParseDecimal(fields[kGlobalBpm]);
  if (std::isfinite(bpm)) p.bpm = static_cast<float>(std::clamp(bpm, 60.0, 180.0));
  WriteFields();
  updateBlinking = false;
}

void GlobalPageModel::PresetPlayMode(std::string_view mode) {
  for (const PlayModePreset& preset : kPlayModePresets) {
    if (preset.mode != mode) continue;
    fields[kGlobalMode] = preset.mode;
    fields[kGlobalSampleMode] = preset.sampleMode;
    fields[kGlobalTimeMode] = preset.timeMode;
  }
  ApplyEdits();
}

void GlobalPageModel::PresetSampleMode(std::string_view mode) {
  fields[kGlobalSampleMode] = mode;
  ApplyEdits();
}

void GlobalPageModel::PresetTimeMode(std::string_view mode) {
  fields[kGlobalTimeMode] = mode;
  ApplyEdits();
}

NotePickerRequest GlobalPageModel::PickerRequest() const { return {0, 128, editParams.rootNote, 2, kSteelBlue, 1}; }

bool GlobalPageModel::PickRoot(int note) {
  if (note < 0 || note > 127) return false;
  editParams.rootNote = note;
  fields[kGlobalRoot] = NoteNameOrDashes(note);
  ApplyEdits();
  return true;
}

}  // namespace zandrel
