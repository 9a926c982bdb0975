// The commands that measure pitch and set root notes from it, re-tune
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
// user-interface thread; pitch estimates, loop searches, resampling and
// stretching run as long work over copies, and a cancelled one leaves the
// document, the selection and the history as they were.
#pragma once

#include <optional>
#include <string>

#include "commands/commands.h"

namespace zandrel {

namespace cmd {
inline constexpr int kAutoTune = 32851;
inline constexpr int kFindRootNote = 32853;
inline constexpr int kRemoveRegionLoop = 32866;
inline constexpr int kSetRootNote = 32868;
inline constexpr int kEstimatePitch = 32786;
inline constexpr int kCreateSingleRegionInstrument = 32806;
inline constexpr int kCreateSingleRegion = 32815;
inline constexpr int kAutoTuneToRoot = 32841;
inline constexpr int kFindRootNotesAll = 32852;
inline constexpr int kTimeStretch = 32918;
inline constexpr int kPitchShift = 32919;
}  // namespace cmd

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

void DeclarePitchCommands(CommandRegistry& registry, PitchDialogs& dialogs);

}  // namespace zandrel
