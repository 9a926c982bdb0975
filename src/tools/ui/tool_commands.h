// The sampling and performance tools of the "&Tools" menu: "Mini Sampler
// Player..." plays the instrument live (tools/ui/play_instrument_dlg.h) and
// commits a moved envelope as one undoable change when it closes; "Loop
// Maker (MIDI/MPC to wav)" renders a drum pattern onto the loaded kit
// (tools/ui/render_akai_dlg.h) without changing the document; "MultiSample
// Robot (Midi+Audio)..." samples an external instrument note by note
// (tools/ui/multisample_dlg.h) and, when the user leaves with "Done", replaces
// the document's sample with the result as one undoable change; "Circular
// Loop Sampler..." records loops from an audio input
// (tools/ui/loop_sampler_dlg.h) and loads the chosen take as the document's
// audio, one undoable change.
#pragma once

#include "commands/commands.h"

class QWidget;

namespace zandrel {

namespace cmd {
inline constexpr int kLoopMaker = 32835;
inline constexpr int kMiniSamplerPlayer = 32892;
inline constexpr int kMultisampleRobot = 32839;
inline constexpr int kCircularLoopSampler = 32917;
}  // namespace cmd

// The dialogs open over |parent|.
void DeclareToolCommands(CommandRegistry& registry, QWidget* parent);

void OnMiniSamplerPlayer(CommandContext& context, QWidget* parent);
void OnLoopMaker(CommandContext& context, QWidget* parent);
void OnMultisampleRobot(CommandContext& context, QWidget* parent);
void OnCircularLoopSampler(CommandContext& context, QWidget* parent);

}  // namespace zandrel
