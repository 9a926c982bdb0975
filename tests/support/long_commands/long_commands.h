// Every command and tool release whose work grows with the length of the
// audio, as one table: the long-work test cancels each half way and checks
// that nothing changed; the long-work benchmark times each one's progress
// reports and its Cancel on a ten-minute file.
//
// A case prepares the scene (beyond the audio, the instrument and the
// selection every scene starts with) and runs its command the way the editor
// does: through a registry with scripted dialogs answering OK, or through the
// view's tool release. The command's long work waits in the scene's task host.
// The table is filled by the files beside this one, one per feature.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "document/quorvel_doc.h"
#include "support/scripted_tasks.h"
#include "view/model/view_model.h"

namespace zandrel::test {

// What a case works on. The scene's document holds stereo audio (tones that
// change note every half second over a drum beat at 120 BPM), an instrument
// of two regions (the two halves, root note 60, each looped over its middle
// half), region 0 selected with the selection over its loop, and 120 BPM.
struct LongCommandScene {
  CQuorvelDoc& doc;
  ViewModel& view;
  TaskContext& context;
};

struct LongCommandCase {
  std::string name;
  // The command handles 16-bit audio only (the benchmark's file is 24-bit).
  bool sixteenBitOnly = false;
  // Optional: what the command needs besides the common scene.
  std::function<void(LongCommandScene&)> prepare = {};
  std::function<void(LongCommandScene&)> run;
};

// The whole table, in a stable order.
const std::vector<LongCommandCase>& LongCommandCases();

// The common scene's audio: |seconds| of stereo at |rate|, 16 or 24 bits, as
// a WAV file's bytes.
std::vector<uint8_t> LongCommandWav(double seconds, int bits, uint32_t rate = 44100);
// Gives |doc| (loaded from LongCommandWav) and |view| the common scene's
// instrument and selection.
void PrepareLongCommandScene(CQuorvelDoc& doc, ViewModel& view);

// Runs command |id| on the scene through a registry filled by |declare|.
void RunRegisteredCommand(LongCommandScene& scene, int id, const std::function<void(CommandRegistry&)>& declare);

// The rows of each feature (long_commands_<feature>.cpp).
void AddProcessingCases(std::vector<LongCommandCase>& cases);
void AddStretchCases(std::vector<LongCommandCase>& cases);
void AddRateAndPitchCases(std::vector<LongCommandCase>& cases);
void AddChopAndTempoCases(std::vector<LongCommandCase>& cases);
void AddLoopAndSoundDesignCases(std::vector<LongCommandCase>& cases);

}  // namespace zandrel::test
