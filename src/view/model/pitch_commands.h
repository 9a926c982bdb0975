// The view's commands that measure pitch and set root notes from it, re-tune
// the selection to a note, stretch or shift the whole sample, and the small
// region commands that share their menus: Estimate Pitch, Create Single
// Region, Create Single Region Instrument +Pitch+LP, Auto-Tune to Root,
// Tune/Repitch..., Find Root Note, Find Root Notes (All Regions), Remove
// Region's loop, Set Root Note (piano strip), Time Stretch... and Pitch
// Shift....
//
// The analysis and the audio work are in processing/ (pitch.h, repitch.h,
// stretch.h); the dialogs reach the commands through PitchDialogs, which the
// app fills with Qt dialogs and tests script. Bodies run on the
// user-interface thread; resampling and stretching run as long work.
#pragma once

#include <optional>
#include <string>

#include "commands/commands.h"
#include "commands/pitch_time_commands.h"
#include "view/model/view_model.h"

namespace zandrel {

// The Time Stretch dialog's four values (tempi and beat counts).
struct TimeStretchValues {
  float fromBpm = 120.0f;
  float toBpm = 120.0f;
  float fromBeats = 4.0f;
  float toBeats = 4.0f;
};
// "1/2 Speed", "2x Speed": To becomes half or twice From.
void TimeStretchHalfSpeed(TimeStretchValues& v);
void TimeStretchDoubleSpeed(TimeStretchValues& v);
// "Calc BPM": To = From x fromBeats / toBeats, the tempo at which a passage
// of fromBeats beats lasts toBeats beats of the old tempo. Returns the
// message to show instead when the values do not allow it.
std::optional<std::string> TimeStretchCalcBpm(TimeStretchValues& v);

// The Pitch Correction dialog's values. In: what was measured; out: the
// target note as typed or picked and the extra cents.
struct PitchCorrectionValues {
  double measuredHz = 0.0;
  std::string noteText;        // name of the nearest note
  double outOfTuneCents = 0.0;
  double extraCents = 0.0;
  std::string targetNoteText;
  std::string labelText = "Measured Frequency";  // or "Root Note Frequency"
};
// What the dialog shows for the target: its frequency (with the extra cents)
// and the total correction in cents; both 0 for a text that names no note.
struct PitchCorrectionTarget {
  double targetHz = 0.0;
  double totalCents = 0.0;
};
PitchCorrectionTarget ComputePitchCorrectionTarget(const PitchCorrectionValues& v);

class PitchDialogs {
 public:
  virtual ~PitchDialogs() = default;
  // Each returns true for OK.
  virtual bool RunTimeStretch(TimeStretchValues& values) = 0;
  virtual bool RunPitchShift(int& semitones) = 0;
  virtual bool RunPitchCorrection(PitchCorrectionValues& values) = 0;
};

// Set Root Note's hit test: the MIDI key under x of the piano strip drawn
// across |width| pixels (the strip's own layout), or -1 between or beside
// the drawn keys.
int PianoKeyAtX(int x, int width, bool editKeyBoundaries);

void DeclarePitchCommands(CommandRegistry& registry, ViewModel& model, PitchDialogs& dialogs);

}  // namespace zandrel
