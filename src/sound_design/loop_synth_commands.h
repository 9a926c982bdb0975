// The loop re-synthesis commands: Morph Loop ("Morpher..."), Infinite
// Sustain Synth, Vocoder, Granular Cloud and Frequency Cloud.
//
// Each copies the loop range, opens the knob dialog with the tool's knobs,
// help text and a looping preview, and on OK runs its engine once more as
// long work (off the user-interface thread, with progress and Cancel) on the
// copy. The Vocoder builds its carrier before the dialog, as long work too. A
// cancelled run or an empty result changes nothing and records no undo entry
// (nor moves the commands' random sequence on); otherwise one undo entry
// with audio, the splice of the result into the audio and the bookkeeping of
// loop points and regions (sound_design/loop_splice.h) are committed here, on
// the user-interface thread.
//
// Previews run synchronously on the user-interface thread: the sound stops,
// the engine renders the loop copy again, and the result plays as a looping
// PcmPreviewSource on the current audio output. The Frequency Cloud's
// preview is limited to 4 loop lengths and moves the dialog's progress bar.
// When the dialog returns the sound stops before anything else.
//
// Random numbers: one Rand15 from state 1 that lives as long as the
// commands and is never reseeded, so each committed run continues the
// sequence.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "platform/parameter_dialogs.h"
#include "platform/work_progress.h"
#include "processing/rand15.h"
#include "sound_design/loop_clouds.h"
#include "sound_design/loop_splice.h"

namespace zandrel {

namespace cmd {
inline constexpr int kInfiniteSustainSynth = 32840;
inline constexpr int kGranularCloud = 32842;
inline constexpr int kFrequencyCloud = 32845;
inline constexpr int kVocoder = 32848;
inline constexpr int kMorphLoop = 32849;
}  // namespace cmd

// What an engine made of the loop copy.
struct LoopToolOutput {
  std::vector<int16_t> samples;  // interleaved, the loop's channel count; empty = no result
  int64_t loopStart = -1;        // Morph Loop, Infinite Sustain: the body within the result
  int64_t loopEnd = -1;
};

// Renders a tool's result from the loop copy and the dialog's values. With
// |preview| the tool renders what its preview plays (the Frequency Cloud at
// most 4 loop lengths). |progress| (0..1) may be empty; when it returns false
// the engine stops and the output is empty.
using LoopToolEngine = std::function<LoopToolOutput(const LoopPcm& loop, const ParameterValues& values,
                                                    Rand15& random, const WorkProgress& progress, bool preview)>;

// Work a tool does on the loop copy before its dialog opens (the Vocoder
// builds its carrier), as long work: returns the engine the dialog and OK
// use, or an empty engine and the message to show instead of the dialog
// (none when |progress| said stop). |bitsPerSample| is the document's.
using LoopToolPrepare = std::function<LoopToolEngine(const LoopPcm& loop, int bitsPerSample, std::string& message,
                                                     const WorkProgress& progress)>;

// How a tool finds its range.
enum class LoopRangeRule {
  kLoopSelection,          // the loop selection, clamped to the audio
  kProcessingRange,        // the processing commands' rule, else "Please set valid loop points first."
  kProcessingRangeRegion,  // the same, else "Please select a region to use as the source."
};

// Everything about one tool besides its engine's insides.
struct LoopToolSpec {
  LoopTool tool = LoopTool::kGranularCloud;
  int id = 0;
  std::string menuText;
  std::vector<CommandPlace> menus;  // none: reached only through its id
  std::vector<CommandPlace> contextMenus = {};
  std::string title;
  std::string configName;
  std::string undoLabel;
  std::string successLog;
  LoopRangeRule range = LoopRangeRule::kProcessingRange;
  std::vector<ParameterItem> items;  // knobs in order, then the help text
  std::string emptyMessage;          // shown when OK's result is empty; empty = nothing
  LoopToolEngine engine;
  LoopToolPrepare prepare = {};      // optional; when set it gives the engine instead
};

// The five tools' tables (knobs, texts, ids), the two clouds with their
// engines. The three pitch-cycle tools get theirs from SetLoopSynthEngine.
std::vector<LoopToolSpec> LoopToolSpecs();

// The Granular Cloud and Frequency Cloud parameters the knobs give.
GranularParams GranularFromKnobs(const ParameterValues& values);
PaulStretchParams PaulStretchFromKnobs(const ParameterValues& values, bool preview);

// Runs one tool as its command does (for the registry and tests).
void RunLoopTool(CommandContext& context, const LoopToolSpec& spec, Rand15& random);

// Declares each tool that has an engine. |random| defaults to one of the
// commands' own, from state 1.
void DeclareLoopSynthCommands(CommandRegistry& registry, std::shared_ptr<Rand15> random = nullptr);

}  // namespace zandrel
