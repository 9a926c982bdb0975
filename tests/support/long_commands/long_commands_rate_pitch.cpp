// The sinc converter's commands (the rate conversions of "&ReTime/ReSample",
// Auto-Tune and Tune/Repitch, the tuning remap) and the pitch analyses
// (Estimate Pitch, Create Single Region Instrument, Find Root Note(s),
// Distribute Notes with estimated roots).
#include <string>

#include "document/note_names.h"
#include "notes/note_commands.h"
#include "notes/tuning_remap_model.h"
#include "platform/message_host.h"
#include "processing/pitch_commands.h"
#include "processing/processing_commands.h"
#include "processing/rate_commands.h"
#include "support/long_commands/long_commands.h"

namespace zandrel::test {
namespace {

// Answers every question Yes (the conversions and the single-region command
// ask before they start) and every box OK.
class YesToEverything final : public MessageHost {
 public:
  YesToEverything() : scope_(this) {}
  MessageAnswer Show(std::string_view, MessageIcon, MessageButtons buttons) override {
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Yes;
  }

 private:
  ScopedMessageHost scope_;
};

// Tune/Repitch aims two semitones above the note it measured.
class TwoSemitonesUp final : public PitchDialogs {
 public:
  bool RunTimeStretch(TimeStretchValues&) override { return false; }
  bool RunPitchShift(int&) override { return false; }
  bool RunPitchCorrection(PitchCorrectionValues& v) override {
    const int note = ParseNoteName(v.noteText);
    v.targetNoteText = MidiNoteName(note >= 0 ? note + 2 : 62);
    v.extraCents = 0.0;
    return true;
  }
};

// Distribute Notes (Melodic) with estimated roots, spread from the centre;
// the tuning remap with the catalogue's first tuning.
class EstimatingNoteDialogs final : public NoteDialogs {
 public:
  std::optional<std::string> AskTranspose() override { return std::nullopt; }
  std::optional<PercussiveChoice> AskPercussive(const PercussiveChoice&) override { return std::nullopt; }
  std::optional<MelodicChoice> AskMelodic(const MelodicChoice&) override {
    return MelodicChoice{.rootNoteCalc = 1, .distribution = 0};
  }
  std::optional<RemapChoice> AskTuningRemap(const std::vector<Region>& regions) override {
    TuningRemapModel model(regions);
    if (model.Select(1) < 0) return std::nullopt;
    return RemapChoice{model.BaseOctave(), model.Plan(), model.SelectedName()};
  }
};

void RunRateCommand(LongCommandScene& scene, int id) {
  YesToEverything yes;
  RunRegisteredCommand(scene, id, [](CommandRegistry& r) { DeclareRateCommands(r); });
}

void RunPitchCommand(LongCommandScene& scene, int id) {
  YesToEverything yes;
  TwoSemitonesUp dialogs;
  RunRegisteredCommand(scene, id, [&dialogs](CommandRegistry& r) { DeclarePitchCommands(r, dialogs); });
}

void RunNoteCommand(LongCommandScene& scene, int id) {
  YesToEverything yes;
  EstimatingNoteDialogs dialogs;
  RunRegisteredCommand(scene, id, [&dialogs](CommandRegistry& r) { DeclareNoteCommands(r, dialogs); });
}

}  // namespace

void AddRateAndPitchCases(std::vector<LongCommandCase>& cases) {
  struct Rate {
    const char* name;
    int id;
  };
  for (const Rate& rate : {Rate{"Double Time", cmd::kDoubleTime}, Rate{"SP-1200 Repitch", cmd::kSp1200Repitch},
                           Rate{"Downsample to 22kHz", cmd::kResampleTo22k},
                           Rate{"Downsample to 22kHz with Double Time", cmd::kResampleTo22kDoubleTime},
                           Rate{"Resample to 46.875kHz", cmd::kResampleTo46875},
                           Rate{"Downsample to 16kHz", cmd::kResampleTo16k},
                           Rate{"Resample to 16kHz with Double Time", cmd::kResampleTo16kDoubleTime}}) {
    const int id = rate.id;
    cases.push_back({.name = rate.name,
                     .sixteenBitOnly = true,
                     .run = [id](LongCommandScene& scene) { RunRateCommand(scene, id); }});
  }
  // Downsampling to 44.1 kHz needs a higher rate: the scene's audio is
  // declared at 48 kHz.
  cases.push_back({.name = "Downsample to 44kHz",
                   .sixteenBitOnly = true,
                   .prepare =
                       [](LongCommandScene& scene) {
                         PcmFormat& f = scene.doc.audio.format;
                         f.nSamplesPerSec = 48000;
                         f.nAvgBytesPerSec = 48000u * f.nBlockAlign;
                       },
                   .run = [](LongCommandScene& scene) { RunRateCommand(scene, cmd::kResampleTo44k); }});

  struct Pitch {
    const char* name;
    int id;
    bool sixteenBitOnly;
  };
  for (const Pitch& pitch : {Pitch{"Estimate Pitch", cmd::kEstimatePitch, false},
                             Pitch{"Create Single Region Instrument +Pitch+LP", cmd::kCreateSingleRegionInstrument,
                                   false},
                             Pitch{"Find Root Note", cmd::kFindRootNote, false},
                             Pitch{"Find Root Notes (All Regions)", cmd::kFindRootNotesAll, false},
                             Pitch{"Auto-Tune to Root", cmd::kAutoTuneToRoot, true},
                             Pitch{"Tune/Repitch", cmd::kAutoTune, true}}) {
    const int id = pitch.id;
    cases.push_back({.name = pitch.name,
                     .sixteenBitOnly = pitch.sixteenBitOnly,
                     .run = [id](LongCommandScene& scene) { RunPitchCommand(scene, id); }});
  }

  cases.push_back({.name = "Distribute Notes (Melodic) estimating roots",
                   .run = [](LongCommandScene& scene) { RunNoteCommand(scene, cmd::kDistributeMelodic); }});
  // Every pad plays region 0 (both roots are 60, ties go to the first): an
  // eighth of the audio keeps the eight tuned copies within the remap's
  // length limit on a ten-minute file too.
  cases.push_back({.name = "Historic and World Tunings",
                   .sixteenBitOnly = true,
                   .prepare =
                       [](LongCommandScene& scene) {
                         Region& r = scene.doc.instrument.regions[0];
                         r.endSample = scene.doc.FrameCount() / 8;
                         r.loopStart = r.endSample / 4;
                         r.loopEnd = 3 * r.endSample / 4;
                       },
                   .run = [](LongCommandScene& scene) { RunNoteCommand(scene, cmd::kTuningRemap); }});
}

}  // namespace zandrel::test
