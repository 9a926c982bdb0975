// The loop tools of the "&Selection" menu (the loop-point searches, the
// alignment of the loop ends, the two loop crossfades, Align Phase), the loop
// search of "Create Single Region Instrument +Pitch+LP", the loop
// re-synthesis tools and the Micro Synth: each runs on the scene's selection
// (region 0's loop), its dialogs answered with OK and their defaults.
#include "processing/loop_commands.h"
#include "processing/pitch_commands.h"
#include "processing/processing_commands.h"
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

// The pitch commands' dialogs; the command of this table asks none.
class NoPitchDialogs final : public PitchDialogs {
 public:
  bool RunTimeStretch(TimeStretchValues&) override { return false; }
  bool RunPitchShift(int&) override { return false; }
  bool RunPitchCorrection(PitchCorrectionValues&) override { return false; }
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
  // One region: the command asks before it replaces several.
  cases.push_back({.name = "Create Single Region Instrument +Pitch+LP",
                   .prepare = [](LongCommandScene& scene) { scene.doc.instrument.regions.resize(1); },
                   .run = [](LongCommandScene& scene) {
                     NoPitchDialogs dialogs;
                     RunRegisteredCommand(scene, cmd::kCreateSingleRegionInstrument,
                                          [&dialogs](CommandRegistry& r) { DeclarePitchCommands(r, dialogs); });
                   }});
}

}  // namespace zandrel::test
