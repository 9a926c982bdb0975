// The note and tuning commands: "Transpose...", "Distribute Notes
// (Percussive)", "Distribute Notes (Melodic)" and "Historic and World
// Tunings...". Each is one declaration in the command registry and one undo
// step. Their dialogs come through NoteDialogs (Qt in the app, scripted in
// tests); messages through the context's MessageHost, remembered choices
// through its SettingsStore.
//
// Whatever a command asks or checks before its undo entry happens first, so
// a Cancel (of a dialog or of long work) records nothing. The pitch
// estimates of the melodic distribution and the resampling of the remap run
// as long work, with progress per region or pad and Cancel between them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "notes/tuning_remap.h"

namespace zandrel {

namespace cmd {
inline constexpr int kTranspose = 32787;
inline constexpr int kDistributePercussive = 32820;
inline constexpr int kDistributeMelodic = 32821;
inline constexpr int kTuningRemap = 32915;
}  // namespace cmd

// Where the distribution dialogs keep their choices.
inline constexpr const char* kSpreadNotesSection = "SpreadNotesSettings";

struct PercussiveChoice {
  std::string startNoteText = "C4";
  int32_t spreadType = 1;
};

struct MelodicChoice {
  int32_t rootNoteCalc = 0;  // 0 roots already set, 1 estimate them
  int32_t distribution = 0;  // 0 centre, 1 downwards, 2 upwards
};

struct RemapChoice {
  int32_t baseOctave = 4;
  std::vector<PadMapping> plan;
  std::string selectedName;
};

class NoteDialogs {
 public:
  virtual ~NoteDialogs() = default;
  // The semitone text as typed; nullopt for Cancel.
  virtual std::optional<std::string> AskTranspose() = 0;
  virtual std::optional<PercussiveChoice> AskPercussive(const PercussiveChoice& initial) = 0;
  virtual std::optional<MelodicChoice> AskMelodic(const MelodicChoice& initial) = 0;
  // The confirmed plan for |regions|; nullopt for Cancel.
  virtual std::optional<RemapChoice> AskTuningRemap(const std::vector<Region>& regions) = 0;
};

// The command bodies.
void OnTranspose(CommandContext& context, NoteDialogs& dialogs);
void OnDistributePercussive(CommandContext& context, NoteDialogs& dialogs);
void OnDistributeMelodic(CommandContext& context, NoteDialogs& dialogs);
void OnApplyTuningRemap(CommandContext& context, NoteDialogs& dialogs);

// Declares the four commands in the "&Tools" menu; |dialogs| must outlive
// the registry.
void DeclareNoteCommands(CommandRegistry& registry, NoteDialogs& dialogs);

}  // namespace zandrel
