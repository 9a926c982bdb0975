// The loop tools of the "&Selection" menu (the loop-point searches, the
// alignment of the loop ends, the two loop crossfades, Align Phase), the loop
// re-synthesis tools and the Micro Synth: each runs on the scene's selection
// (region 0's loop), its dialogs answered with OK and their defaults.
#include "platform/parameter_dialogs.h"
#include "processing/loop_commands.h"
#include "processing/processing_commands.h"
#include "sound_design/loop_synth_commands.h"
#include "sound_design/micro_synth_command.h"
#include "support/long_commands/long_commands.h"

namespace zandrel::test {
namespace {

LongCommandCase LoopCommand(std::string name, int id, bool sixteenBitOnly) {
  return {.name = std::move(name),
          .sixteenBitOnly = sixteenBitOnly,
          .run = [id](LongCommandScene& scene) {
            RunRegisteredCommand(scene, id, [](CommandRegistry& r) { DeclareCoreCommands(r); });
          }};
}

// Answers every knob dialog with OK and the knobs' defaults, while it lives.
class OkWithDefaults final : public ParameterDialogHost {
 public:
  OkWithDefaults() : previous_(SetParameterDialogHost(this)) {}
  ~OkWithDefaults() override { SetParameterDialogHost(previous_); }
  OkWithDefaults(const OkWithDefaults&) = delete;
  OkWithDefaults& operator=(const OkWithDefaults&) = delete;
  std::optional<ParameterValues> Ask(const ParameterDialogRequest& request) override {
    ParameterValues values;
    for (const ParameterItem& item : request.items)
      if (!item.section) values[item.key] = item.defaultValue;
    return values;
  }

 private:
  ParameterDialogHost* previous_;
};

// The micro synth's dialog answered with OK: the oscillator at its knobs'
// defaults, half mixed in.
class OkWithTheOscillator final : public MicroSynthDialogs {
 public:
  bool RunMicroSynth(const MicroSynthRequest&, MicroSynthChoice& choice) override {
    choice.engine = kEngineBasic;
    choice.knobs = DefaultKnobValues(BuildSynthEngines().at(kEngineBasic));
    choice.mix = 0.5f;
    return true;
  }
};

}  // namespace

void AddLoopAndSoundDesignCases(std::vector<LongCommandCase>& cases) {
  cases.push_back(LoopCommand("Find Looping Points (Slow)", cmd::kFindLoopPointsSlow, false));
  cases.push_back(LoopCommand("Find Looping Points (Pyramid)", cmd::kFindLoopPointsPyramid, false));
  cases.push_back(LoopCommand("Find Looping Points NCC", cmd::kFindLoopPointsNcc, true));
  cases.push_back(LoopCommand("Align Looping Points (+/-200ms)", cmd::kAlignLoopingPoints, true));
  cases.push_back(LoopCommand("Hanning Crossfade", cmd::kHanningCrossfade, true));
  cases.push_back(LoopCommand("Equal-Power Crossfade", cmd::kEqualPowerCrossfade, true));
  cases.push_back(LoopCommand("Align Phase", cmd::kAlignPhase, false));
  // The loop re-synthesis tools on OK (the Vocoder's first long work is its
  // carrier, made before the dialog).
  for (const LoopToolSpec& spec : LoopToolSpecs()) {
    const int id = spec.id;
    cases.push_back({.name = spec.menuText,
                     .sixteenBitOnly = true,
                     .run = [id](LongCommandScene& scene) {
                       OkWithDefaults dialogs;
                       RunRegisteredCommand(scene, id, [](CommandRegistry& r) { DeclareLoopSynthCommands(r); });
                     }});
  }
  cases.push_back({.name = "Micro Synth Shaper...",
                   .sixteenBitOnly = true,
                   .run = [](LongCommandScene& scene) {
                     OkWithTheOscillator dialogs;
                     RunRegisteredCommand(scene, cmd::kMicroSynth,
                                          [&dialogs](CommandRegistry& r) { DeclareMicroSynthCommand(r, dialogs); });
                   }});
}

}  // namespace zandrel::test
