// The loop tools as editor commands, in the "&Selection" menu (after its
// first group): the three
// loop-point searches, the +/-200 ms alignment, the zero-crossing snap of the
// selection, the two loop crossfades and Align Phase.
//
// The searches run as long work (CommandContext::RunLongWork) over a copy of
// the searched audio, with progress and Cancel; their result reaches the
// selection, the log and the selected region on the user-interface thread
// only when the search finished and the document's audio has not changed
// meanwhile. Cancel changes nothing. A loop written into a region that had
// none is recorded as a regions-only undo entry first.
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
