// The sampling and performance tools of the "&Tools" menu: "Mini Sampler
// Player..." plays the instrument live (tools/ui/play_instrument_dlg.h) and
// commits a moved envelope as one undoable change when it closes; "Loop
// Maker (MIDI/MPC to wav)" renders a drum pattern onto the loaded kit
// (tools/ui/render_akai_dlg.h) without changing the document; "MultiSample
// Robot (Midi+Audio)..." samples an external instrument note by note
// (tools/ui/multisample_dlg.h) and, when the user leaves with "Done", replaces
// the document's sample with the result as one undoable change.
#pragma once

#include "commands/commands.h"

namespace zandrel {

class CQuorvelApp;

void DeclareToolCommands(CommandRegistry& registry, CQuorvelApp& app);

void OnMiniSamplerPlayer(CQuorvelApp& app);
void OnLoopMaker(CQuorvelApp& app);
void OnMultisampleRobot(CQuorvelApp& app);

}  // namespace zandrel
