// The chop and tempo commands of the "&Region" menu: the transient and pitch
// chops, the tempo estimates and beat search, and Adjust Loop to BPM, with
// their two dialogs answering OK.
#include "processing/adjust_bpm_form.h"
#include "processing/chop_tempo_commands.h"
#include "support/long_commands/long_commands.h"

namespace zandrel::test {
namespace {

// OK in both dialogs: the chop keeps the values it was given (the settings'
// defaults), Adjust Loop to BPM is typed 100 BPM over the beats the audio
// holds at its own tempo, so the audio grows by a fifth.
class OkChopTempoDialogs final : public ChopTempoDialogs {
 public:
  bool RunAutoChop(AutoChopValues&) override { return true; }
  bool RunAdjustToBpm(AdjustToBpmValues& values) override {
    AdjustToBpmForm form(values.currentLength, values.sampleRate, values.bpm);
    form.bpmText = "100";
    if (form.Accept()) return false;
    values.bpm = form.Bpm();
    values.targetLength = form.TargetLength();
    return true;
  }
};

LongCommandCase Row(std::string name, int id) {
  return {.name = std::move(name), .run = [id](LongCommandScene& scene) {
            OkChopTempoDialogs dialogs;
            RunRegisteredCommand(scene, id, [&dialogs](CommandRegistry& r) { DeclareChopTempoCommands(r, dialogs); });
          }};
}

}  // namespace

void AddChopAndTempoCases(std::vector<LongCommandCase>& cases) {
  cases.push_back(Row("Auto Chop (Percussive Simple)", cmd::kAutoChopPercussive));
  cases.push_back(Row("Auto Chop (Melodic Simple)", cmd::kAutoChopMelodic));
  cases.push_back(Row("Auto Chop (Melodic by Frequency)", cmd::kAutoChopByFrequency));
  cases.push_back(Row("Find BPM from Transients", cmd::kFindBpmFromTransients));
  cases.push_back(Row("Find Beats", cmd::kFindBeats));
  cases.push_back(Row("Adjust Loop to BPM", cmd::kAdjustLoopToBpm));
}

}  // namespace zandrel::test
