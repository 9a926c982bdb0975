// The commands that cut the sample into regions (Auto Chop
// Percussive, Melodic and by Frequency) and that find or impose its tempo
// (Find BPM from length, Find BPM from Transients, Find Beats, Adjust Loop
// to BPM...). The analysis is in processing/auto_chop.h and
// processing/tempo.h; the two dialogs reach the commands through
// ChopTempoDialogs, which the app fills with Qt dialogs and tests script.
#pragma once

#include <cstdint>
#include <string>

#include "commands/commands.h"

namespace zandrel {

namespace cmd {
inline constexpr int kAutoChopPercussive = 32819;
inline constexpr int kAutoChopMelodic = 32822;
inline constexpr int kAutoChopByFrequency = 32843;
inline constexpr int kFindBpmFromLength = 32830;
inline constexpr int kFindBpmFromTransients = 32838;
inline constexpr int kFindBeats = 32906;
inline constexpr int kAdjustLoopToBpm = 32907;
}  // namespace cmd

// The auto-chop dialog's values: in as the settings hold them, out as the
// user left them.
struct AutoChopValues {
  float threshold = 2.5f;  // onset sensitivity, 0.5 .. 8.0 in steps of 0.1
  int minSpacingMs = 50;
  std::string helpText;  // markdown
};

// The Adjust Loop to BPM dialog's values: the current length, rate and
// tempo in; on OK the typed tempo and the target length out.
struct AdjustToBpmValues {
  int64_t currentLength = 0;
  uint32_t sampleRate = 44100;
  double bpm = 120.0;
  int64_t targetLength = 0;
};

class ChopTempoDialogs {
 public:
  virtual ~ChopTempoDialogs() = default;
  // Each returns true for OK.
  virtual bool RunAutoChop(AutoChopValues& values) = 0;
  virtual bool RunAdjustToBpm(AdjustToBpmValues& values) = 0;
};

// The help texts of the two simple chop dialogs.
std::string AutoChopHelpText(bool melodic);

void DeclareChopTempoCommands(CommandRegistry& registry, ChopTempoDialogs& dialogs);

// The bodies, for the declarations above and for tests.
void OnAutoChopSimple(CommandContext& context, ChopTempoDialogs& dialogs, bool melodic);
void OnAutoChopByFrequency(CommandContext& context);
void OnFindBpmFromLength(CommandContext& context);
void OnFindBpmFromTransients(CommandContext& context);
void OnFindBeats(CommandContext& context);
void OnAdjustLoopToBpm(CommandContext& context, ChopTempoDialogs& dialogs);

}  // namespace zandrel
