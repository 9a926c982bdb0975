// The loop tools as editor commands, in the "&Selection" menu (after its
// first group): the three
// loop-point searches, the +/-200 ms alignment, the zero-crossing snap of the
// selection, the two loop crossfades and Align Phase.
//
// Every tool but the zero-crossing snap runs as long work
// (CommandContext::RunLongWork) over a copy of the audio it reads (the
// searched range, or the frames near the loop points), with progress and
// Cancel; the checks that refuse come first, on the user-interface thread.
// The result (the selection, the log, the selected region's loop, the
// crossfaded audio with its undo entry) is committed on the user-interface
// thread only when the work finished and the document's audio has not
// changed meanwhile. Cancel changes nothing. A loop written into a region
// that had none is recorded as a regions-only undo entry first.
//
// The playback thread never sees the selection directly: the playback's
// tick hands changed loop points to its source under the source's lock.
#pragma once

#include "commands/commands.h"

namespace zandrel {

namespace cmd {
inline constexpr int kHanningCrossfade = 32798;
inline constexpr int kAlignPhase = 32801;
inline constexpr int kFindLoopPointsSlow = 32807;
inline constexpr int kFindLoopPointsPyramid = 32808;
inline constexpr int kAlignLoopingPoints = 32904;
inline constexpr int kFindLoopPointsNcc = 32905;
inline constexpr int kSetInOutToZeroCrossing = 32812;
inline constexpr int kEqualPowerCrossfade = 32846;
}  // namespace cmd

void DeclareLoopCommands(CommandRegistry& registry);

}  // namespace zandrel
