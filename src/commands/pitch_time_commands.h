// The commands that change a sample's rate, speed or pitch as a whole: the
// "&ReTime/ReSample" menu (rate conversions and double-time tricks, Time
// Stretch..., Pitch Shift...) and the pitch and root-note commands (Auto-Tune
// to Root, Tune/Repitch..., Find Root Note(s), Set Root Note, Create Single
// Region, Estimate Pitch, Remove Region's loop).
//
// Bodies run on the user-interface thread; the heavy work (resampling,
// stretching) runs through CommandContext::RunLongWork over a copy of the
// audio. Dialogs are asked through the current PitchTimeDialogs host
// (commands/pitch_time_dialogs.h).
#pragma once

#include "commands/commands.h"

namespace zandrel {

namespace cmd {
inline constexpr int kEstimatePitch = 32786;
inline constexpr int kCreateSingleRegionInstrument = 32806;
inline constexpr int kDoubleTime = 32809;
inline constexpr int kResampleTo22k = 32810;
inline constexpr int kResampleTo22kDoubleTime = 32811;
inline constexpr int kResampleTo16k = 32813;
inline constexpr int kResampleTo16kDoubleTime = 32814;
inline constexpr int kCreateSingleRegion = 32815;
inline constexpr int kSp1200Repitch = 32823;
inline constexpr int kResampleTo44k = 32831;
inline constexpr int kAutoTuneToRoot = 32841;
inline constexpr int kFindRootNotesAll = 32852;
inline constexpr int kResampleTo46875 = 32890;
inline constexpr int kTimeStretch = 32918;
inline constexpr int kPitchShift = 32919;
}  // namespace cmd

// The rate conversions of the "&ReTime/ReSample" menu. Each resamples the
// whole file, carries regions, loops, selection and cursor into the new
// length and, since it cannot be undone, clears the undo and redo history.
void DeclareRateCommands(CommandRegistry& registry);

}  // namespace zandrel
