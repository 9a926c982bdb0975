// The rate conversions of the "&ReTime/ReSample" menu: resampling the whole
// file to 44.1, 22.05, 16 or 46.875 kHz, Double Time and the SP-1200 repitch.
// The heavy work runs through CommandContext::RunLongWork over a copy of the
// audio.
#pragma once

#include "commands/commands.h"

namespace zandrel {

namespace cmd {
inline constexpr int kDoubleTime = 32809;
inline constexpr int kResampleTo22k = 32810;
inline constexpr int kResampleTo22kDoubleTime = 32811;
inline constexpr int kResampleTo16k = 32813;
inline constexpr int kResampleTo16kDoubleTime = 32814;
inline constexpr int kSp1200Repitch = 32823;
inline constexpr int kResampleTo44k = 32831;
inline constexpr int kResampleTo46875 = 32890;
}  // namespace cmd

// Each conversion resamples the whole file, carries regions, loops, selection and cursor into the new
// length and, since it cannot be undone, clears the undo and redo history.
void DeclareRateCommands(CommandRegistry& registry);

}  // namespace zandrel
