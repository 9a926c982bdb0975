// "Micro Synth Shaper..." (Audio menu): mixes a synthesised note into the
// loop selection. The command copies the loop's samples and hands them to the
// micro synth dialog (through MicroSynthDialogs, which the app fills with the
// Qt dialog and tests script). On OK the dialog says which note to mix (its
// engine, knobs, engine states and mix); the command then renders the note as
// long as the loop and mixes it with the copy as long work (off the
// user-interface thread, with progress and Cancel), and overwrites the loop
// in place with the mix: the length never changes, so regions and markers
// stay. One undo entry "SimpleSynth" with audio; a Cancel changes nothing.
// The command runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "commands/commands.h"
#include "sound_design/micro_synth.h"

namespace zandrel {

namespace cmd {
inline constexpr int kMicroSynth = 32844;
}  // namespace cmd

// What the dialog works on: the loop's samples (interleaved 16-bit), the
// document's rate and channel count and the root note of the note to play.
struct MicroSynthRequest {
  std::vector<int16_t> source;
  uint32_t sampleRate = 44100;
  uint16_t channels = 2;
  int rootNote = 60;
};

// What OK asks for: the note of |engine| with |knobs|, rendered from the
// dialog's engine |states| as they were at OK, mixed into the loop at |mix|
// (0 = the loop alone, 1 = the note alone). The dialog has checked that the
// engine plays the note (ProbeSynth).
struct MicroSynthChoice {
  int engine = kEngineBasic;
  SynthKnobValues knobs;
  float mix = 0.5f;
  std::shared_ptr<SynthStates> states = std::make_shared<SynthStates>();
};

class MicroSynthDialogs {
 public:
  virtual ~MicroSynthDialogs() = default;
  // Runs the dialog; true for OK, with the note to mix in |choice|.
  virtual bool RunMicroSynth(const MicroSynthRequest& request, MicroSynthChoice& choice) = 0;
};

// The loop the command writes for |choice|: the note rendered over the
// request's loop and mixed with it. Empty when the engine refused the note or
// |progress| said stop (|cancelled| tells which).
std::vector<int16_t> MixMicroSynth(const MicroSynthRequest& request, const MicroSynthChoice& choice,
                                   const WorkProgress& progress, bool& cancelled);

void OnMicroSynth(CommandContext& c, MicroSynthDialogs& dialogs);
void DeclareMicroSynthCommand(CommandRegistry& registry, MicroSynthDialogs& dialogs);

}  // namespace zandrel
