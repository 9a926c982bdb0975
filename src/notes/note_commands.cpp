#include "notes/note_commands.h"

#include <atomic>

#include "document/edit_transaction.h"
#include "document/note_names.h"
#include "document/region_ops.h"
#include "notes/note_distribution.h"
#include "platform/text_format.h"
#include "processing/pitch.h"
#include "processing/sample_access.h"

namespace zandrel {
namespace {

void Show(CommandContext& c, const std::string& text, MessageIcon icon) {
  c.Messages().Show(text, icon, MessageButtons::Ok);
}

// Ends an edit that rewrote the region list: no region stays selected.
void FinishRegionListEdit(CommandContext& c, EditTransaction& edit,
                          DocumentChange change = DocumentChange::kInstrument) {
  c.Selection().selectedRegion = -1;
  edit.Commit(change, SelectionMoved::kYes);
}

// The checks both distributions make first; false when one refused.
bool CanDistribute(CommandContext& c, const CQuorvelDoc& doc) {
  const auto count = static_cast<int>(doc.instrument.regions.size());
  if (count == 0) {
    Show(c, "No regions to distribute. Please create regions first.", MessageIcon::Warning);
    return false;
  }
  const int limit = doc.MaxDeviceRegions();
  if (count > limit) {
    Show(c,
         Format("You have %d regions, but only %d regions are supported by EP.\nPlease reduce the number of regions "
                "first.",
                count, limit),
         MessageIcon::Warning);
    return false;
  }
  return true;
}

}  // namespace

void OnTranspose(CommandContext& c, NoteDialogs& dialogs) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!doc->instrument.hasInstrument) {
    Show(c, "No instrument data found. Please load a WAV file with embedded instrument data first.",
         MessageIcon::None);
    return;
  }
  const std::optional<std::string> text = dialogs.AskTranspose();
  if (!text) return;
  const int64_t value = ReadLeadingInteger(*text);
  if (value < -kMaxTransposeSemitones || value > kMaxTransposeSemitones) {
    Show(c, "Transpose value must be between -127 and +127 semitones.", MessageIcon::None);
    return;
  }
  if (value == 0) return;
  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoRegionsOnly, "Transpose");
  if (!edit) return;
  doc->TransposeRegions(static_cast<int>(value));
  FinishRegionListEdit(c, *edit);
}

void OnDistributePercussive(CommandContext& c, NoteDialogs& dialogs) {
  CQuorvelDoc* doc = c.Document();
  if (!doc || !CanDistribute(c, *doc)) return;
  SettingsStore& settings = c.Settings();
  PercussiveChoice initial;
  initial.startNoteText = settings.GetString(kSpreadNotesSection, "StartNote", "G3");
  initial.spreadType = settings.GetInt(kSpreadNotesSection, "SpreadType", 1);
  const std::optional<PercussiveChoice> choice = dialogs.AskPercussive(initial);
  if (!choice) return;

  c.StopPlayback();
  settings.SetString(kSpreadNotesSection, "StartNote", choice->startNoteText);
  settings.SetInt(kSpreadNotesSection, "SpreadType", choice->spreadType);
  const int start = ParseNoteName(choice->startNoteText);
  if (start < 0) {
    Show(c, "Invalid starting note. Please use format like 'C4', 'D#3', etc.", MessageIcon::Error);
    return;
  }
  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoRegionsOnly, "Distribute Notes");
  if (!edit) return;
  const std::string scale =
      DistributePercussive(doc->instrument, start, choice->spreadType, choice->startNoteText);
  Log(c.Log(), Format("Distributed %d regions using %s scale starting from %s.",
                      static_cast<int>(doc->instrument.regions.size()), scale.c_str(),
                      choice->startNoteText.c_str()));
  FinishRegionListEdit(c, *edit);
}

void OnDistributeMelodic(CommandContext& c, NoteDialogs& dialogs) {
  CQuorvelDoc* doc = c.Document();
  if (!doc || !CanDistribute(c, *doc)) return;
  SettingsStore& settings = c.Settings();
  MelodicChoice initial;
  initial.rootNoteCalc = settings.GetInt(kSpreadNotesSection, "RootNoteCalc", 0);
  initial.distribution = settings.GetInt(kSpreadNotesSection, "Distribution", 0);
  const std::optional<MelodicChoice> choice = dialogs.AskMelodic(initial);
  if (!choice) return;
  settings.SetInt(kSpreadNotesSection, "RootNoteCalc", choice->rootNoteCalc);
  settings.SetInt(kSpreadNotesSection, "Distribution", choice->distribution);

  // The estimates run over a copy of the audio, region by region; a Cancel
  // there leaves everything as it was.
  const std::vector<Region> regions = doc->instrument.regions;
  std::vector<std::optional<int32_t>> estimates(regions.size());
  if (choice->rootNoteCalc == 1) {
    // Each estimate reads one short window: only those are copied.
    std::vector<PitchEstimateInput> inputs;
    const PcmSpan pcm = PcmSpan::Of(doc->audio);
    for (const Region& r : regions) inputs.push_back(PitchEstimateInput::Copy(pcm, r.startSample, r.endSample));
    LongWork work;
    work.title = "Estimating root notes";
    work.compute = [&](const std::function<bool(double)>& progress) {
      const double count = static_cast<double>(inputs.size());
      for (size_t i = 0; i < inputs.size(); ++i) {
        bool going = true;
        const WorkProgress part = SubProgress(progress, i / count, (i + 1) / count);
        const double hz = inputs[i].Estimate([&](double f) { return going = part(f); });
        if (!going) return false;
        estimates[i] = NoteFromFrequency(hz);
        if (!progress((i + 1) / count)) return false;
      }
      return true;
    };
    if (!c.RunLongWork(work)) return;
    // The document may have changed while the estimates ran.
    if (c.Document() != doc || doc->instrument.regions != regions) return;
  }

  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoRegionsOnly, "Distribute Notes Melodic");
  if (!edit) return;
  if (choice->rootNoteCalc == 1) {
    bool failed = false;
    for (size_t i = 0; i < estimates.size(); ++i) {
      if (estimates[i]) {
        doc->instrument.regions[i].rootNote = *estimates[i];
      } else {
        failed = true;
        Log(c.Log(), Format("Pitch estimation failed for region %d.\n", static_cast<int>(i + 1)));
      }
    }
    if (failed) {
      FinishRegionListEdit(c, *edit);
      Show(c,
           "Aborted: One or more regions had pitch estimation failures.\nPlease check the output log for "
           "details.\n\nRegions with failed pitch estimation will retain their previous root notes.",
           MessageIcon::Warning);
      return;
    }
  }
  if (const std::optional<size_t> j = FirstNonRisingRoot(doc->instrument.regions)) {
    FinishRegionListEdit(c, *edit);
    Show(c, InvalidRootsMessage(doc->instrument.regions, *j), MessageIcon::Warning);
    return;
  }
  const std::string name = DistributeMelodic(doc->instrument, choice->distribution);
  const std::vector<Region>& done = doc->instrument.regions;
  Log(c.Log(), Format("Distributed %d regions using %s distribution.\nRoot notes range from %s to %s.",
                      static_cast<int>(done.size()), name.c_str(), MidiNoteName(done.front().rootNote).c_str(),
                      MidiNoteName(done.back().rootNote).c_str()));
  FinishRegionListEdit(c, *edit);
}

void OnApplyTuningRemap(CommandContext& c, NoteDialogs& dialogs) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!doc->instrument.hasInstrument || doc->instrument.regions.empty()) {
    Show(c, "No regions to process. Please load a WAV file with regions first.", MessageIcon::Warning);
    return;
  }
  if (!doc->HasAudio()) {
    Show(c, "No audio data available.", MessageIcon::Warning);
    return;
  }
  const std::optional<RemapChoice> choice = dialogs.AskTuningRemap(doc->instrument.regions);
  if (!choice) return;

  // A plan that would build an enormous instrument is refused before
  // anything changes.
  const std::vector<Region> regions = doc->instrument.regions;
  const PcmFormat format = doc->audio.format;
  const uint64_t blockBytes = uint64_t{format.nChannels} * (format.wBitsPerSample / 8);
  if (blockBytes > 0) {
    const uint64_t frames = RemapOutputFrames(regions, choice->plan, doc->audio.data.size() / blockBytes);
    if (const auto warning = RemapLengthWarning(frames, format.nSamplesPerSec)) {
      Show(c, *warning, MessageIcon::Warning);
      return;
    }
  }

  const std::vector<uint8_t> audio = doc->audio.data;
  RemapOutcome outcome;
  LongWork work;
  work.title = "Historic and World Tunings";
  work.compute = [&](const std::function<bool(double)>& progress) {
    bool going = true;
    outcome = BuildRemappedAudio(audio, format, regions, choice->plan, [&](double f) { return going = progress(f); });
    return going;
  };
  if (!c.RunLongWork(work)) return;
  if (c.Document() != doc || doc->audio.data != audio || doc->instrument.regions != regions) return;

  // Nothing may read the audio once it is replaced.
  c.StopPlayback();
  doc->NotifyAudioAboutToChange();
  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoWithAudio, "Non-12TET Microtuning Remap");
  if (!edit) return;
  if (!outcome.Ok()) {
    for (const auto& [text, warning] : outcome.failures)
      Show(c, text, warning ? MessageIcon::Warning : MessageIcon::Error);
    return;
  }
  doc->instrument.params.rootNote = choice->baseOctave * 12;
  doc->audio.data = std::move(outcome.audio);
  doc->instrument.regions = std::move(outcome.regions);
  doc->instrument.hasInstrument = true;
  doc->SanitizeKeyRanges();
  FinishRegionListEdit(c, *edit, DocumentChange::kAudio);
  Show(c, TuningRemapDoneText(choice->baseOctave, choice->selectedName), MessageIcon::Information);
}

void DeclareNoteCommands(CommandRegistry& r, NoteDialogs& dialogs) {
  NoteDialogs* d = &dialogs;
  r.Add({.id = cmd::kTranspose,
         .text = "Transpose...",
         .menus = {{"&Tools", 430}},
         .run = [d](CommandContext& c) { OnTranspose(c, *d); }});
  r.Add({.id = cmd::kDistributePercussive,
         .text = "Distribute Notes (Percussive)",
         .menus = {{"&Tools", 431}},
         .run = [d](CommandContext& c) { OnDistributePercussive(c, *d); }});
  r.Add({.id = cmd::kDistributeMelodic,
         .text = "Distribute Notes (Melodic)",
         .menus = {{"&Tools", 432}},
         .run = [d](CommandContext& c) { OnDistributeMelodic(c, *d); }});
  r.Add({.id = cmd::kTuningRemap,
         .text = "Historic and World Tunings...",
         .menus = {{"&Tools", 433}},
         .run = [d](CommandContext& c) { OnApplyTuningRemap(c, *d); }});
}

}  // namespace zandrel
