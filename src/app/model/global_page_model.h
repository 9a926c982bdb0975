// The Global page without a window: its field texts, what "Update" reads
// from them and how it clamps them to the device's ranges.
//
// The page keeps a copy of the instrument's settings (editParams); "Update"
// and each value button read every field into that copy, and the Qt page
// then asks the main frame to copy it over the document's settings. Input is
// never refused: numbers are clamped, a mode that is not one of its values
// keeps the previous one, and the fields are rewritten with what was stored.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "app/model/page_model_parts.h"
#include "document/instrument.h"
#include "platform/colorref.h"

namespace zandrel {

enum GlobalField {
  kGlobalRoot,        // note name, 1..127
  kGlobalMode,        // "oneshot", "key", "legato", "loop"
  kGlobalPitch,       // semitones, -12..12
  kGlobalPan,         // -16..16
  kGlobalAmplitude,   // 0..200
  kGlobalAttack,      // 0..255
  kGlobalRelease,     // 0..255
  kGlobalTimeMode,    // "off", "bpm", "bar"
  kGlobalBpm,         // "%.2f", 60..180
  kGlobalBeats,       // read-only: the audio's length in beats at the shown tempo
  kGlobalSampleMode,  // "single", "multi"
  kGlobalFieldCount,
};

// Background of the root field.
constexpr ColorRef kGlobalRootBackground = 0xE1CDB5;

class GlobalPageModel {
 public:
  InstrumentParams editParams;
  float durationSeconds = 0.0f;  // the audio's length, for the Beats field
  std::array<std::string, kGlobalFieldCount> fields;
  bool updateBlinking = false;
  FieldColours rootColours;

  // Fills the page from |params| and copies them into editParams.
  void ShowInstrument(const InstrumentParams& params, float seconds);
  // A new audio length: Beats at the page's tempo.
  void SetDuration(float seconds);
  void FieldEdited() { updateBlinking = true; }
  // The BPM field was typed into: Beats follows the typed tempo.
  void BpmEdited();
  // "Update": reads, clamps and stores every field, rewrites them from the
  // stored values and stops the blinking. The caller then asks the frame to
  // apply editParams.
  void ApplyEdits();
  // The value buttons write their texts, then apply all fields.
  void PresetPlayMode(std::string_view mode);  // also sets the sample and time modes that go with it
  void PresetSampleMode(std::string_view mode);
  void PresetTimeMode(std::string_view mode);
  NotePickerRequest PickerRequest() const;
  // The picker answered |note|: a note 0..127 becomes the root (then applied
  // with the page's root range 1..127, true); anything else is ignored.
  bool PickRoot(int note);

 private:
  void WriteFields();
};

}  // namespace zandrel
