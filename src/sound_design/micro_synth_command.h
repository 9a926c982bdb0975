// "Micro Synth Shaper..." (Audio menu): mixes a synthesised note into the
// loop selection. The command copies the loop's samples, hands them to the
// micro synth dialog (through MicroSynthDialogs, which the app fills with the
// Qt dialog and tests script) and, on OK, overwrites the loop in place with
// the dialog's mix: the length never changes, so regions and markers stay.
// One undo entry "SimpleSynth" with audio. User-interface thread.
#pragma once

#include <cstdint>
#include <vector>

#include "commands/commands.h"

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

class MicroSynthDialogs {
 public:
  virtual ~MicroSynthDialogs() = default;
  // Runs the dialog; true for OK, with the mix in |result|.
  virtual bool RunMicroSynth(const MicroSynthRequest& request, std::vector<int16_t>& result) = 0;
};

void OnMicroSynth(CommandContext& c, MicroSynthDialogs& dialogs);
void DeclareMicroSynthCommand(CommandRegistry& registry, MicroSynthDialogs& dialogs);

}  // namespace zandrel
