#include "processing/pitch_commands.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "document/edit_transaction.h"
#include "document/note_names.h"
#include "document/region_edits.h"
#include "platform/text_format.h"
#include "processing/loop_search.h"
#include "processing/loop_window.h"
#include "processing/pitch.h"
#include "processing/processing_range.h"
#include "processing/repitch.h"
#include "processing/stretch.h"

namespace zandrel {
namespace {

constexpr const char* kStretchLimitText =
    "The tempo change is too large: the length may change by a factor between 1/16 and 16.";
constexpr const char* kShiftLimitText = "The pitch may be shifted by -48 to +48 semitones.";
constexpr const char* kSelectLoop = "Please select a valid loop region first (use 'I' and 'O' keys or CTRL+Drag).";

void Log(const CQuorvelDoc& doc, const std::string& line) {
  if (LogSink* log = doc.GetLog()) log->AppendLog(line);
}

bool ValidRegion(const CQuorvelDoc& doc, int index) {
  return doc.instrument.hasInstrument && index >= 0 && index < static_cast<int>(doc.instrument.regions.size());
}

PitchEstimateInput EstimateInput(const CQuorvelDoc& doc, int64_t start, int64_t end) {
  return PitchEstimateInput::Copy(PcmSpan::Of(doc.audio), start, end);
}

// The pitch of [start, end) estimated as long work named |title| over a copy
// of the frames it reads; nullopt when it was cancelled.
std::optional<double> Estimate(CommandContext& c, int64_t start, int64_t end, const char* title) {
  const PitchEstimateInput input = EstimateInput(*c.Document(), start, end);
  double hz = 0.0;
  LongWork work{.title = title,
                .compute =
                    [&](const std::function<bool(double)>& progress) {
                      bool going = true;
                      hz = input.Estimate([&](double f) { return going = progress(f); });
                      return going;
                    },
                .commit = {}};
  if (!c.RunLongWork(work)) return std::nullopt;
  return hz;
}

// The region pages follow the document's notifications; this one names the
// region the command worked on.
void ShowRegion(CommandContext& c, int index) {
  if (ValidRegion(*c.Document(), index)) c.View().ShowRegion(index);
}

// ------------------------------------------------------------ Estimate --

void OnEstimatePitch(CommandContext& c) {
  CQuorvelDoc& doc = *c.Document();
  ViewSelection& view = c.Selection();
  if (!c.HasAudio()) {
    ShowMessage(kNoAudioText);
    return;
  }
  const auto range = ComputeProcessingRange({view.loopIn, view.loopOut, view.loopPlayback},
                                            !doc.instrument.regions.empty(), doc.FrameCount());
  if (!range) {
    ShowMessage(kSelectLoop);
    return;
  }
  const std::optional<double> estimate = Estimate(c, range->start, range->end, "Estimate Pitch");
  if (!estimate) return;
  const double hz = *estimate;
  if (hz > 0) {
    const std::string report = FormatPitchReport(hz);
    ShowMessage(report, MessageIcon::Information);
    Log(doc, report);
  } else {
    const std::string text = "Could not determine a stable pitch for the selected region.";
    ShowMessage(text, MessageIcon::Warning);
    Log(doc, text);
  }
}

// ----------------------------------------------------- Create Single Region --

// After the regions became one: it is selected, with the whole of it as the
// selection and the cursor at its start.
void SelectTheSingleRegion(CommandContext& c) {
  CQuorvelDoc& doc = *c.Document();
  ViewSelection& view = c.Selection();
  view.ClearLoop();
  doc.NotifySelectionChanged();
  view.loopPlayback = true;
  view.selectedRegion = 0;
  if (!doc.instrument.regions.empty()) {
    const Region& r = doc.instrument.regions[0];
    view.loopIn = r.startSample;
    view.loopOut = r.endSample;
    view.cursorFrame = view.playAnchor = std::clamp<int64_t>(r.startSample, 0, doc.FrameCount() - 1);
    ShowRegion(c, 0);
  }
}

// The question before the regions are replaced, then the check for audio;
// false when the command should stop.
bool MayCreateSingleRegion(CommandContext& c) {
  if (c.Document()->instrument.regions.size() > 1 &&
      !AskYesNo("This will delete all existing regions and create a single region spanning the entire audio file. "
                "Continue?"))
    return false;
  if (!c.HasAudio()) {
    ShowMessage(kNoAudioText, MessageIcon::Warning);
    return false;
  }
  return true;
}

void OnCreateSingleRegion(CommandContext& c) {
  CQuorvelDoc& doc = *c.Document();
  if (!MayCreateSingleRegion(c)) return;
  if (!CreateSingleRegionWithRoot(doc, -1)) return;
  SelectTheSingleRegion(c);
  doc.NotifySelectionChanged();
}

// Create Single Region Instrument +Pitch+LP: the single region gets the
// root note the whole file sounds at and the loop the pyramid search finds.
// The "Create Single Region" entry undoes all of it.
void OnCreateSingleRegionInstrument(CommandContext& c) {
  CQuorvelDoc& doc = *c.Document();
  ViewSelection& view = c.Selection();
  if (!MayCreateSingleRegion(c)) return;
  // The pitch and the loop search over the whole file run first, off this
  // thread, as one work: a Cancel anywhere in it leaves the regions as they were.
  const int64_t frames = doc.FrameCount();
  const PitchEstimateInput pitchInput = EstimateInput(doc, 0, frames);
  // The search's values (eight bytes a sample) are made on the worker from a
  // plain copy of the audio, which is all this thread has to make.
  const PcmWindow audio = PcmWindow::Copy(PcmSpan::Of(doc.audio), 0, frames);
  double hz = 0.0;
  LoopSearchResult found;
  LongWork work{.title = "Create Single Region Instrument",
                .compute =
                    [&](const std::function<bool(double)>& progress) {
                      // The estimate reads one short window; the search is the long part.
                      constexpr double kEstimateDone = 0.01;
                      constexpr double kSourceDone = 0.03;
                      bool going = true;
                      hz = pitchInput.Estimate([&](double f) { return going = progress(kEstimateDone * f); });
                      if (!going) return false;
                      const std::optional<LoopSource> source = LoopSource::Copy(
                          audio, LoopSearchRange{0, frames, -1}, SubProgress(progress, kEstimateDone, kSourceDone));
                      if (!source) return false;
                      found = findLoopPyramid(*source, SubProgress(progress, kSourceDone, 1.0));
                      return !found.cancelled;
                    },
                .commit = {}};
  if (!c.RunLongWork(work)) return;

  const int root = hz > 0 ? std::clamp(TruncatedNote(hz), 0, 127) : doc.instrument.params.rootNote;
  if (!CreateSingleRegionWithRoot(doc, root)) return;
  SelectTheSingleRegion(c);
  doc.NotifySelectionChanged();
  Log(doc, Format("Single region created and selected (root note: %d).", root));
  for (const std::string& line : found.log) Log(doc, line);
  if (!found.found) {
    if (!found.message.empty()) ShowMessage(found.message);
    return;
  }
  view.loopIn = found.loopIn;
  view.loopOut = found.loopOut;
  if (ValidRegion(doc, view.selectedRegion)) {
    Region& r = doc.instrument.regions[view.selectedRegion];
    r.loopStart = view.loopIn;
    r.loopEnd = view.loopOut;
    doc.UpdateAllViews(DocumentChange::kInstrument);
    ShowRegion(c, view.selectedRegion);
  }
  doc.NotifySelectionChanged();
}

// ------------------------------------------------------------- Re-pitch --

// The checks Auto-Tune and Tune/Repitch share; the selection cut to the audio
// (a stale selection past the end must not be read or erased), or nothing.
std::optional<FrameRange> RepitchPreconditions(CommandContext& c, const char* depthText) {
  CQuorvelDoc& doc = *c.Document();
  ViewSelection& view = c.Selection();
  if (!c.HasAudio()) return std::nullopt;
  if (!ValidRegion(doc, view.selectedRegion)) {
    ShowMessage("Please select a region first.");
    return std::nullopt;
  }
  const auto span = SelectionInsideAudio(view, doc.FrameCount());
  if (view.loopIn < 0 || view.loopOut < 0 || view.loopIn >= view.loopOut || !span) {
    ShowMessage(kSelectLoop);
    return std::nullopt;
  }
  if (doc.audio.format.wBitsPerSample != 16) {
    ShowMessage(depthText);
    return std::nullopt;
  }
  return span;
}

// A re-pitch closer to 1 than this is within what the pitch analysis can
// tell apart: the note is in tune, and resampling it would only change its
// length by a few frames.
constexpr double kInTuneCents = 1.0;
bool InTune(double ratio) { return std::abs(1200.0 * std::log2(ratio)) < kInTuneCents; }

// The frames [s, e) re-pitched off the user-interface thread: a copy of
// just those frames, resampled by the ratio Compute is given.
struct RepitchWork {
  RepitchWork(const CQuorvelDoc& doc, FrameRange span) : channels(doc.audio.format.nChannels), frames(span.Length()) {
    const size_t block = static_cast<size_t>(std::max(1, channels)) * sizeof(int16_t);
    const auto first = doc.audio.data.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(span.start) * block);
    copy.assign(first, first + static_cast<std::ptrdiff_t>(static_cast<size_t>(frames) * block));
  }
  // False when |progress| asked to stop.
  bool Compute(double ratio, const WorkProgress& progress) {
    bool going = true;
    resampled = ResampleSpan(copy, channels, 0, frames, ratio, [&](double f) { return going = progress(f); });
    return going;
  }

  int channels;
  int64_t frames;
  std::vector<uint8_t> copy;
  std::vector<int16_t> resampled;
};

// Splices the re-pitched frames in place of [s, e) on this thread. The undo
// entry is recorded just before the audio changes. False when nothing changed.
bool CommitRepitch(CommandContext& c, FrameRange span, const std::vector<int16_t>& resampled, const char* undoLabel) {
  CQuorvelDoc& doc = *c.Document();
  ViewSelection& view = c.Selection();
  if (resampled.empty()) return false;
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoWithAudio, undoLabel);
  if (!edit) return false;
  doc.NotifyAudioAboutToChange();
  SpliceRepitched(doc.audio, doc.instrument, view, span.start, span.end, resampled);
  const int region = SetRegionLoopFromSelection(doc.instrument, view);
  edit->Commit(DocumentChange::kAudio, SelectionMoved::kYes);
  if (region >= 0) ShowRegion(c, region);
  return true;
}

void OnAutoTuneToRoot(CommandContext& c) {
  const auto span = RepitchPreconditions(c, "Auto-Pitch supports 16-bit audio only.");
  if (!span) return;
  CQuorvelDoc& doc = *c.Document();
  ViewSelection& view = c.Selection();
  c.StopPlayback();
  // The estimate and the re-pitch it asks for run as one work.
  const PitchEstimateInput input = EstimateInput(doc, span->start, span->end);
  const int root = doc.instrument.regions[view.selectedRegion].rootNote;
  RepitchWork repitch(doc, *span);
  double hz = 0.0;
  int detected = 0, target = 0;
  double targetHz = 0.0;
  LongWork work{.title = "Auto-Tune to Root",
                .compute =
                    [&](const std::function<bool(double)>& progress) {
                      constexpr double kEstimateShare = 0.02;
                      bool going = true;
                      hz = input.Estimate([&](double f) { return going = progress(kEstimateShare * f); });
                      if (!going) return false;
                      if (!(hz > 0)) return true;
                      detected = NearestNote(hz);
                      target = AutoTuneTarget(root, detected);
                      targetHz = NoteFrequency(target);
                      if (InTune(targetHz / hz)) return true;
                      return repitch.Compute(targetHz / hz, SubProgress(progress, kEstimateShare, 1.0));
                    },
                .commit = {}};
  if (!c.RunLongWork(work)) return;
  if (!(hz > 0)) {
    ShowMessage("Could not detect pitch.");
    return;
  }
  if (InTune(targetHz / hz)) {
    Log(doc, Format("Auto-Pitch: Detected %.1fHz (MIDI %d / %s) is already in tune; nothing changed.", hz, detected,
                    MidiNoteName(detected).c_str()));
    return;
  }
  if (!CommitRepitch(c, *span, repitch.resampled, "Auto-Pitch")) return;
  Log(doc, Format("Auto-Pitched: Detected %.1fHz (MIDI %d / %s) -> Target %.1fHz (MIDI %d / %s).", hz, detected,
                  MidiNoteName(detected).c_str(), targetHz, target, MidiNoteName(target).c_str()));
}

void OnPitchCorrection(CommandContext& c, PitchDialogs& dialogs) {
  const auto span = RepitchPreconditions(c, "Pitch correction supports 16-bit audio only.");
  if (!span) return;
  CQuorvelDoc& doc = *c.Document();
  ViewSelection& view = c.Selection();
  c.StopPlayback();
  const std::optional<double> estimate = Estimate(c, span->start, span->end, "Tune/Repitch");
  if (!estimate) return;
  double hz = *estimate;
  PitchCorrectionValues v;
  if (!(hz > 0)) {
    int root = doc.instrument.regions[view.selectedRegion].rootNote;
    if (root < 0) root = 60;
    hz = NoteFrequency(root);
    v.labelText = "Root Note Frequency";
    Log(doc, Format("Could not detect pitch, using root note %d (%.2f Hz) as fallback.", root, hz));
  }
  const int note = NearestNote(hz);
  v.measuredHz = hz;
  v.noteText = MidiNoteName(note);
  v.outOfTuneCents = CentsBetween(hz, NoteFrequency(note));
  v.targetNoteText = v.noteText;
  if (!dialogs.RunPitchCorrection(v)) return;
  const int target = ParseNoteName(v.targetNoteText);
  if (target < 0) {
    ShowMessage("Invalid target note.");
    return;
  }
  const double targetHz = NoteFrequency(target) * std::pow(2.0, v.extraCents / 1200.0);
  const double r = targetHz / hz;
  // One octave exactly asks nothing, even when the ratio of the two
  // frequencies comes out a rounding step beyond 2.
  if ((r < 0.5 - 1e-9 || r > 2.0 + 1e-9) &&
      !AskYesNo(Format("Pitch shift ratio %.2f is extreme (>1 octave). Continue?", r), MessageIcon::Warning))
    return;
  if (InTune(r)) {
    Log(doc, Format("Pitch Correction: %.2fHz is already at %.2fHz; nothing changed.", hz, targetHz));
    return;
  }
  RepitchWork repitch(doc, *span);
  LongWork work{.title = "Re-pitching",
                .compute = [&](const std::function<bool(double)>& progress) { return repitch.Compute(r, progress); },
                .commit = {}};
  if (!c.RunLongWork(work)) return;
  if (!CommitRepitch(c, *span, repitch.resampled, "Pitch Correction")) return;
  Log(doc, Format("Pitch Corrected: %.2fHz (%s %+.2fc) -> %.2fHz (%s %+.2fc) | Ratio: %.4f", hz, v.noteText.c_str(),
                  v.outOfTuneCents, targetHz, v.targetNoteText.c_str(), v.extraCents, r));
}

// ------------------------------------------------------------ Root notes --

void OnFindRootNotesAll(CommandContext& c) {
  CQuorvelDoc& doc = *c.Document();
  if (!c.HasAudio()) {
    ShowMessage(kNoAudioText, MessageIcon::Warning);
    return;
  }
  if (!doc.instrument.hasInstrument || doc.instrument.regions.empty()) {
    ShowMessage("No regions found. Please create regions first.", MessageIcon::Warning);
    return;
  }
  c.StopPlayback();
  // Measured first, as one long work over copies of what each estimate
  // reads: the undo entry is recorded only when a root changes, so an
  // analysis that finds nothing (or is cancelled) leaves the history alone.
  std::vector<std::optional<PitchEstimateInput>> inputs;
  for (const Region& r : doc.instrument.regions) {
    inputs.emplace_back();
    if (r.endSample > r.startSample && r.endSample - r.startSample > 49)
      inputs.back() = EstimateInput(doc, r.startSample, r.endSample);
  }
  std::vector<int> roots(inputs.size(), -1);
  LongWork work{.title = "Find Root Notes",
                .compute =
                    [&](const std::function<bool(double)>& progress) {
                      const double count = static_cast<double>(inputs.size());
                      for (size_t i = 0; i < inputs.size(); ++i) {
                        if (inputs[i]) {
                          bool going = true;
                          const WorkProgress part = SubProgress(progress, i / count, (i + 1) / count);
                          const double hz = inputs[i]->Estimate([&](double f) { return going = part(f); });
                          if (!going) return false;
                          const int n = hz > 0 ? TruncatedNote(hz) : -1;
                          if (n >= 0 && n <= 127) roots[i] = n;
                        }
                        if (!progress((i + 1) / count)) return false;
                      }
                      return true;
                    },
                .commit = {}};
  if (!c.RunLongWork(work)) return;
  const int successes = static_cast<int>(std::count_if(roots.begin(), roots.end(), [](int r) { return r >= 0; }));
  const int count = static_cast<int>(roots.size());
  bool changes = false;
  for (int i = 0; i < count; ++i) changes |= roots[i] >= 0 && roots[i] != doc.instrument.regions[i].rootNote;
  if (changes) {
    std::optional<EditTransaction> edit =
        EditTransaction::Begin(doc, kUndoRegionsOnly, "Find Root Notes for All Regions");
    if (!edit) return;
    for (int i = 0; i < count; ++i)
      if (roots[i] >= 0) doc.instrument.regions[i].rootNote = roots[i];
    edit->Commit(DocumentChange::kInstrument);
  }
  Log(doc, Format("Find Root Notes: Analyzed %d regions. Success: %d, Failed: %d", count, successes,
                  count - successes));
}

void OnFindRootNote(CommandContext& c) {
  CQuorvelDoc& doc = *c.Document();
  ViewSelection& view = c.Selection();
  if (!c.HasAudio()) {
    ShowMessage(kNoAudioText, MessageIcon::Warning);
    return;
  }
  if (!ValidRegion(doc, view.selectedRegion)) {
    ShowMessage("No region selected. Please select a region first.", MessageIcon::Warning);
    return;
  }
  c.StopPlayback();
  const int index = view.selectedRegion;
  const Region& r = doc.instrument.regions[index];
  if (!(r.endSample > r.startSample && r.endSample - r.startSample > 49)) {
    ShowMessage("Selected region is too small or invalid for pitch detection.", MessageIcon::Warning);
    return;
  }
  const std::optional<double> estimate = Estimate(c, r.startSample, r.endSample, "Find Root Note");
  if (!estimate) return;
  const double hz = *estimate;
  const int note = hz > 0 ? TruncatedNote(hz) : -1;
  if (note < 0 || note > 127) {
    // Nothing changed, so nothing is recorded.
    ShowMessage("Could not detect pitch in selected region (silence or noise).", MessageIcon::Warning);
    return;
  }
  if (note != r.rootNote) {
    std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoRegionsOnly, "Find Root Note");
    if (!edit) return;
    doc.instrument.regions[index].rootNote = note;
    edit->Commit(DocumentChange::kInstrument);
  }
  Log(doc, Format("Find Root Note: Region %d set to %s (MIDI %d, %.2f Hz)", index + 1, MidiNoteName(note).c_str(),
                  note, hz));
}

void OnRemoveRegionLoop(CommandContext& c) {
  CQuorvelDoc& doc = *c.Document();
  ViewSelection& view = c.Selection();
  if (!doc.instrument.hasInstrument) return;
  if (!ValidRegion(doc, view.selectedRegion)) {
    ShowMessage("No region selected.", MessageIcon::Warning);
    return;
  }
  Region& r = doc.instrument.regions[view.selectedRegion];
  if (r.loopStart < 0 && r.loopEnd < 0) {
    ShowMessage("Selected region has no loop points to remove.", MessageIcon::Information);
    return;
  }
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoRegionsOnly, "Remove Loop");
  if (!edit) return;
  doc.instrument.regions[view.selectedRegion].loopStart = kNoLoop;
  doc.instrument.regions[view.selectedRegion].loopEnd = kNoLoop;
  edit->Commit(DocumentChange::kInstrument);
  ShowRegion(c, view.selectedRegion);
  Log(doc, "Loop points removed from selected region.");
}

void OnSetRootNote(CommandContext& c) {
  CQuorvelDoc& doc = *c.Document();
  ViewSelection& view = c.Selection();
  if (!doc.instrument.hasInstrument) return;
  const std::optional<int> key = c.View().PianoKeyAtContextMenu();
  if (!key) return;
  const int note = *key;
  if (note < 0) {
    ShowMessage("Invalid piano key position.", MessageIcon::Warning);
    return;
  }
  auto& regions = doc.instrument.regions;
  for (size_t i = 0; i < regions.size(); ++i) {
    if (regions[i].loKey > note || note > regions[i].hiKey) continue;
    view.selectedRegion = static_cast<int>(i);
    std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoRegionsOnly, "Set Root Note from Piano");
    if (!edit) return;
    regions[i].rootNote = note;
    edit->Commit(DocumentChange::kInstrument, SelectionMoved::kYes);
    ShowRegion(c, static_cast<int>(i));
    Log(doc, Format("Region %d root note set to %s (MIDI %d).", static_cast<int>(i) + 1, MidiNoteName(note).c_str(),
                    note));
    return;
  }
  ShowMessage(Format("No region found for MIDI note %d (%s).", note, MidiNoteName(note).c_str()),
              MessageIcon::Information);
}


// ------------------------------------------------------- Stretch, shift --

int64_t Scaled(int64_t x, double o) { return static_cast<int64_t>(static_cast<double>(x) * o); }

// Stretches a copy of the audio as long work named |title|; the result is in
// |out|. False when it was cancelled (|result|.cancelled, logged once by the
// long work) or failed.
void LogCorrection(const CQuorvelDoc& doc, const StretchResult& r) {
  if (r.lengthCorrection > 0)
    Log(doc, Format("Time stretch: %lld extra frames of the stretcher dropped to keep the exact length.",
                    static_cast<long long>(r.lengthCorrection)));
  else if (r.lengthCorrection < 0)
    Log(doc, Format("Time stretch: %lld missing frames of the stretcher padded with silence.",
                    static_cast<long long>(-r.lengthCorrection)));
}

// Stretches a copy of the document's audio as long work and, when it
// succeeded, records the undo entry and swaps the result in (the caller then
// moves what depends on the new audio and commits). A failed stretch says
// |failText|; a cancelled one says nothing; neither records anything.
std::optional<EditTransaction> StretchDocument(CommandContext& c, CQuorvelDoc& doc, const char* title, double a,
                                               double b, double semitones, const char* undoLabel,
                                               const char* failText) {
  CWavLoader out = doc.audio.Clone();
  StretchResult result;
  LongWork work{.title = title,
                .compute =
                    [&](const std::function<bool(double)>& progress) {
                      result = StretchWav(out, a, b, semitones, progress);
                      return !result.cancelled;
                    },
                .commit = {}};
  // Cancelled at the very end, or out of memory: nothing is kept either way.
  if (!c.RunLongWork(work)) return std::nullopt;
  if (!result.success) {
    ShowMessage(failText);
    return std::nullopt;
  }
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoWithAudio, undoLabel);
  if (!edit) return std::nullopt;
  doc.NotifyAudioAboutToChange();
  doc.audio.data = std::move(out.data);
  doc.audio.format = out.format;
  LogCorrection(doc, result);
  return edit;
}

void OnTimeStretch(CommandContext& c, PitchDialogs& dialogs) {
  CQuorvelDoc& doc = *c.Document();
  ViewSelection& view = c.Selection();
  if (!c.HasAudio()) {
    ShowMessage(kNoAudioText);
    return;
  }
  const uint32_t rate = doc.audio.format.nSamplesPerSec;
  const float bpm = doc.instrument.params.bpm;
  const double duration = rate ? static_cast<double>(doc.FrameCount()) / rate : 0.0;
  TimeStretchValues v;
  v.fromBpm = v.toBpm = bpm;
  v.fromBeats = v.toBeats = static_cast<float>(static_cast<int64_t>(duration / 60.0 * bpm + 0.5));
  if (!dialogs.RunTimeStretch(v)) return;
  if (!(v.fromBpm > 0) || !(v.toBpm > 0) || v.fromBpm == v.toBpm) return;
  const double o = static_cast<double>(v.fromBpm) / v.toBpm;
  if (!(o >= 1.0 / kMaxStretchRatio && o <= kMaxStretchRatio)) {
    ShowMessage(kStretchLimitText);
    return;
  }
  c.StopPlayback();
  Log(doc, Format("Time Stretching: %.2f BPM -> %.2f BPM (Pitch Preserved)...", v.fromBpm, v.toBpm));
  std::optional<EditTransaction> edit =
      StretchDocument(c, doc, "Time Stretch", v.fromBpm, v.toBpm, 0.0, "Timestretch", "Time stretch failed.");
  if (!edit) return;
  const int64_t frames = doc.FrameCount();
  InstrumentParams& params = doc.instrument.params;
  params.bpm = v.toBpm;
  params.beats = static_cast<int32_t>(static_cast<double>(frames) / rate * v.toBpm / 60.0 + 0.5);
  view.beatMarkers.clear();
  if (doc.instrument.hasInstrument && !doc.instrument.regions.empty()) {
    Log(doc, "Adjusting region boundaries...");
    for (Region& r : doc.instrument.regions) {
      r.startSample = Scaled(r.startSample, o);
      r.endSample = std::min(Scaled(r.endSample, o), frames);
      if (r.loopStart != kNoLoop) r.loopStart = Scaled(r.loopStart, o);
      if (r.loopEnd != kNoLoop) r.loopEnd = Scaled(r.loopEnd, o);
    }
  }
  if (view.loopIn >= 0) view.loopIn = Scaled(view.loopIn, o);
  if (view.loopOut >= 0) view.loopOut = Scaled(view.loopOut, o);
  if (view.cursorFrame >= 0) view.cursorFrame = std::min(Scaled(view.cursorFrame, o), frames);
  edit->Commit(DocumentChange::kAudio, SelectionMoved::kYes);
  ShowRegion(c, view.selectedRegion);
  c.View().ShowInstrument();
  Log(doc, "Time Stretch Complete.");
}

void OnPitchShift(CommandContext& c, PitchDialogs& dialogs) {
  CQuorvelDoc& doc = *c.Document();
  ViewSelection& view = c.Selection();
  if (!c.HasAudio()) {
    ShowMessage(kNoAudioText);
    return;
  }
  int semitones = 0;
  if (!dialogs.RunPitchShift(semitones) || semitones == 0) return;
  if (std::abs(semitones) > static_cast<int>(kMaxTransposeSemitones)) {
    ShowMessage(kShiftLimitText);
    return;
  }
  c.StopPlayback();
  Log(doc, Format("Pitch Shift: %d Semitones (Time Preserved)...", semitones));
  std::optional<EditTransaction> edit =
      StretchDocument(c, doc, "Pitch Shift", 1.0, 1.0, semitones, "PitchShift", "Pitch Shift failed.");
  if (!edit) return;
  view.beatMarkers.clear();
  const auto key = [semitones](int32_t k) { return std::clamp(k + semitones, 0, 127); };
  if (doc.instrument.hasInstrument && !doc.instrument.regions.empty()) {
    Log(doc, "Adjusting region boundaries...");
    for (Region& r : doc.instrument.regions) {
      r.rootNote = key(r.rootNote);
      r.loKey = key(r.loKey);
      r.hiKey = key(r.hiKey);
    }
    doc.instrument.params.rootNote = key(doc.instrument.params.rootNote);
  }
  edit->Commit(DocumentChange::kAudio, SelectionMoved::kYes);
  ShowRegion(c, view.selectedRegion);
  c.View().ShowInstrument();
  Log(doc, "Pitch Shift Complete.");
}

}  // namespace

// ---------------------------------------------------------- dialog models --

void TimeStretchHalfSpeed(TimeStretchValues& v) { v.toBpm = v.fromBpm * 0.5f; }
void TimeStretchDoubleSpeed(TimeStretchValues& v) { v.toBpm = v.fromBpm * 2.0f; }

std::optional<std::string> TimeStretchCalcBpm(TimeStretchValues& v) {
  if (v.fromBeats <= 0.0001f || v.toBeats <= 0.0001f) return "Beat counts must be positive.";
  if (v.fromBpm <= 0.0001f) return "Please set a valid 'From BPM' first.";
  v.toBpm = v.fromBpm * v.fromBeats / v.toBeats;
  return std::nullopt;
}

PitchCorrectionTarget ComputePitchCorrectionTarget(const PitchCorrectionValues& v) {
  PitchCorrectionTarget t;
  const int n = ParseNoteName(v.targetNoteText);
  if (n < 0 || n > 127) return t;
  t.targetHz = NoteFrequency(n) * std::pow(2.0, v.extraCents / 1200.0);
  if (v.measuredHz > 0) t.totalCents = CentsBetween(t.targetHz, v.measuredHz);
  return t;
}

void DeclarePitchCommands(CommandRegistry& r, PitchDialogs& dialogs) {

  r.Add({.id = cmd::kEstimatePitch, .text = "Estimate Pitch", .menus = {{"&Selection", 300}},
         .run = WithDocument(OnEstimatePitch)});
  r.Add({.id = cmd::kCreateSingleRegion, .text = "Create Single Region", .menus = {{"&Region", 300}},
         .run = WithDocument(OnCreateSingleRegion)});
  r.Add({.id = cmd::kCreateSingleRegionInstrument, .text = "Create Single Region Instrument +Pitch+LP",
         .menus = {{"&Region", 301}}, .run = WithDocument(OnCreateSingleRegionInstrument)});
  r.Add({.id = cmd::kAutoTuneToRoot, .text = "Auto-Tune to Root", .menus = {{"&Audio", 500}},
         .run = WithDocument(OnAutoTuneToRoot)});
  r.Add({.id = cmd::kAutoTune,
         .text = "Tune/Repitch...",
         .menus = {{"&Audio", 501}},
         .contextMenus = {{"Region Bar", 202, "Auto-Tune..."}},
         .run = WithDocument(OnPitchCorrection, dialogs)});
  r.Add({.id = cmd::kFindRootNote,
         .text = "FInd Root Note",
         .menus = {{"&Notes", 100}},
         .contextMenus = {{"Region Bar", 200, "Find and Set Root Note"}},
         .run = WithDocument(OnFindRootNote)});
  r.Add({.id = cmd::kFindRootNotesAll, .text = "Find Root Notes (All Regions)", .menus = {{"&Notes", 101}},
         .run = WithDocument(OnFindRootNotesAll)});
  r.Add({.id = cmd::kTimeStretch, .text = "Time Stretch...", .menus = {{"&ReTime", 300}},
         .run = WithDocument(OnTimeStretch, dialogs)});
  r.Add({.id = cmd::kPitchShift, .text = "Pitch Shift...", .menus = {{"&ReTime", 301}},
         .run = WithDocument(OnPitchShift, dialogs)});
  r.Add({.id = cmd::kRemoveRegionLoop, .text = "Remove Region's loop", .contextMenus = {{"Region Bar", 101}},
         .run = WithDocument(OnRemoveRegionLoop)});
  r.Add({.id = cmd::kSetRootNote, .text = "Set Root Note", .contextMenus = {{"Piano Roll", 200}},
         .run = WithDocument(OnSetRootNote)});
}

}  // namespace zandrel
