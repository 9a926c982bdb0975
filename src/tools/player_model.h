// The mini sampler player without a display: the PC keyboard's notes, the
// held-key rules, the status line, and the region's small waveform with its
// loop marks. The Qt dialog (tools/ui/play_instrument_dlg.h) draws what these
// return.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "document/instrument.h"
#include "document/wav_loader.h"

namespace zandrel {

// The note a key plays, by its key code (letters and digits are their upper
// case ASCII codes; ',' '.' '/' '[' ']' their ASCII codes too, which are the
// toolkit's key codes); -1 for a key without a note. The lower letter row
// plays the octave from 48, the upper row from 60.
int PcKeyToMidiNote(int keyCode);
// Every key code that gives a note (for tests).
std::vector<int> PcKeyCodes();

// Notes held on the PC keyboard: a key-down starts a note only when it is no
// auto-repeat and its note is not held already; a key-up ends the key's note.
class HeldKeys {
 public:
  // The note to start, if any.
  std::optional<int> KeyDown(int keyCode, bool autoRepeat);
  // The note to stop, if any.
  std::optional<int> KeyUp(int keyCode);
  // Every held note, emptied (the dialog lost the keyboard).
  std::vector<int> ReleaseAll();
  bool Empty() const { return held_.empty(); }

 private:
  std::set<int> held_;
};

// "Note: 60 (C4) | Region: 1 | Root: 60 (C4) | Vel: 100". Before any region
// has been found (region index -1) the region and root read "---".
std::string NoteStatusText(int note, int velocity, int regionIndex, int root);

// Every 50th frame of the region's first channel as 16-bit values, stopping
// at the first frame outside the audio. 8-bit: u x 256 - 32768; 24-bit: the
// upper two bytes; other widths 0.
std::vector<int16_t> RegionWaveform(const CWavLoader& audio, const Region& region);

// One (min, max) pair per drawn column: one per value when they fit |width|
// (187 when the width is below 1), else min and max of n / width values each.
struct WaveColumn {
  int16_t min = 0;
  int16_t max = 0;
  bool operator==(const WaveColumn&) const = default;
};
std::vector<WaveColumn> WaveformColumns(const std::vector<int16_t>& values, int width);

// The region's loop points as fractions of its length; -1 for both when the
// region has no usable loop inside it.
struct LoopFractions {
  float start = -1;
  float end = -1;
};
LoopFractions RegionLoopFractions(const Region& region);

}  // namespace zandrel
