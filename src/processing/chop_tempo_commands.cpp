#include "processing/chop_tempo_commands.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <string>

#include "document/edit_transaction.h"
#include "document/note_names.h"
#include "platform/text_format.h"
#include "platform/work_progress.h"
#include "processing/auto_chop.h"
#include "processing/beat_tracker.h"
#include "processing/pitch.h"
#include "processing/snapping.h"
#include "processing/tempo.h"

namespace zandrel {
namespace {


long long LL(int64_t v) { return static_cast<long long>(v); }

bool HasFrames(const CQuorvelDoc& doc) { return doc.HasAudio() && doc.FrameCount() > 0; }

void Tell(CommandContext& c, const std::string& text, MessageIcon icon = MessageIcon::None) {
  c.Messages().Show(text, icon, MessageButtons::Ok);
}

bool Ask(CommandContext& c, const std::string& text) {
  return c.Messages().Show(text, MessageIcon::Question, MessageButtons::YesNo) == MessageAnswer::Yes;
}

// The audio's bytes copied with their format, for analysis off the
// user-interface thread: the whole audio, or the frames [start, end).
struct AudioCopy {
  std::vector<uint8_t> bytes;
  PcmSpan span;

  explicit AudioCopy(const CWavLoader& audio) : bytes(audio.data) {
    span = PcmSpan::Of(audio);
    span.bytes = bytes;
  }
  AudioCopy(const CWavLoader& audio, int64_t start, int64_t end) {
    span = PcmSpan::Of(audio);
    const size_t align = span.blockAlign;
    const size_t from = std::min(static_cast<size_t>(start) * align, audio.data.size());
    const size_t to = std::clamp(static_cast<size_t>(end) * align, from, audio.data.size());
    bytes.assign(audio.data.begin() + static_cast<std::ptrdiff_t>(from),
                 audio.data.begin() + static_cast<std::ptrdiff_t>(to));
    span.bytes = bytes;
  }
  AudioCopy(const AudioCopy&) = delete;
  AudioCopy& operator=(const AudioCopy&) = delete;
};

// Long work that runs |compute|, which fills its caller's results and
// reports through its argument, and ends with a report of 1 (the bar full),
// whose answer tells whether the work was stopped on the way.
LongWork LongWorkOf(std::string title, std::function<void(const WorkProgress&)> compute) {
  return {.title = std::move(title),
          .compute =
              [compute = std::move(compute)](const WorkProgress& progress) {
                compute(progress);
                return ReportProgress(progress, 1.0);
              },
          .commit = {}};
}

// The instrument's new regions: the settings every chop writes, the
// document marked modified, and the view left without a selection.
void FinishChop(CommandContext& c, EditTransaction& edit, std::vector<Region> regions, int32_t release) {
  InstrumentData& inst = edit.Document().instrument;
  inst.regions = std::move(regions);
  InstrumentParams& p = inst.params;
  p.playMode = "key";
  p.rootNote = ParseNoteName("C4");
  p.pitch = 0;
  p.attack = 0;
  p.release = release;
  p.timeMode = "off";
  p.sampleMode = "multi";
  inst.hasInstrument = true;
  ViewSelection& view = c.Selection();
  view.selectedRegion = -1;
  view.ClearLoop();
  edit.Commit(DocumentChange::kInstrument, SelectionMoved::kYes);
}

std::string LimitWarning(const char* who, int count, int limit) {
  return Format(
      "%s created more regions than the maximum supported.\n\nCreated: %d regions\nMaximum supported by EP: %d "
      "regions\n\nYou need to reduce the number of regions or you will experience issues when trying to upload it "
      "into EP.",
      who, count, limit);
}

// The frames the two BPM estimates look at, and how the texts name them.
struct EstimationRange {
  int64_t start = 0;
  int64_t end = 0;
  bool playback = false;
  const char* From() const { return playback ? "from playback region" : "from entire file"; }
  const char* Name() const { return playback ? "playback region" : "entire file"; }
};

EstimationRange RangeOf(const ViewSelection& view, int64_t frames) {
  EstimationRange r{0, frames, false};
  if (view.loopIn >= 0 && view.loopOut > view.loopIn && view.loopPlayback) {
    // A selection left over from longer audio stops at its end.
    r = {std::min(view.loopIn, frames), std::min(view.loopOut, frames), true};
  }
  return r;
}

// Writes a found tempo: the settings change, and the pages show it.
void ApplyTempo(CQuorvelDoc& doc, double bpm, std::optional<int> beats) {
  EditTransaction edit = EditTransaction::WithoutUndo(doc);
  doc.instrument.params.bpm = static_cast<float>(bpm);
  if (beats) doc.instrument.params.beats = *beats;
  edit.Commit(DocumentChange::kInstrument);
}

}  // namespace

std::string AutoChopHelpText(bool melodic) {
  const char* heading = melodic ? "# Melodic Auto Chop" : "# One-shot Auto Chop";
  const char* sentence =
      melodic ? "This will clear all regions and create new ones based on transients. It will set the instrument as "
                "**key**."
              : "This will clear all regions and create new ones based on transients. It will set the instrument as "
                "**oneshot** with full release.";
  return std::string(heading) + "\n" + sentence + "\n```Be aware that EP supports only 8 regions max.```";
}

void OnAutoChopSimple(CommandContext& c, ChopTempoDialogs& dialogs, bool melodic) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!HasFrames(*doc)) {
    Tell(c, kNoAudioText, MessageIcon::Warning);
    return;
  }
  const char* section = melodic ? "AutoChopSettings2" : "AutoChopSettings";
  SettingsStore& settings = c.Settings();
  AutoChopValues values;
  values.threshold = static_cast<float>(settings.GetInt(section, "Sensitivity", 19)) / 10.0f;
  values.minSpacingMs = settings.GetInt(section, "MinSpacingMs", 200);
  values.helpText = AutoChopHelpText(melodic);
  if (!dialogs.RunAutoChop(values)) return;

  // The values the user confirmed are kept even when the chop is then
  // cancelled: the next dialog starts from them.
  settings.SetInt(section, "Sensitivity", static_cast<int>(values.threshold * 10.0f + 0.0001f));
  settings.SetInt(section, "MinSpacingMs", values.minSpacingMs);

  // The onsets are found in a copy; the view's zero-crossing snap is the
  // rising crossing nearest to the frame, looked up in that same copy.
  const bool snaps = static_cast<bool>(c.View().ZeroCrossingSnap());
  const int64_t frames = doc->FrameCount();
  const int limit = doc->MaxDeviceRegions();
  const AudioCopy copy(doc->audio);
  std::vector<Region> regions;
  const char* title = melodic ? "Auto Chop (Melodic Simple)" : "Auto Chop (Percussive Simple)";
  LongWork work = LongWorkOf(title, [&](const WorkProgress& progress) {
    const PcmSpan& audio = copy.span;
    std::function<int64_t(int64_t)> snap;
    if (snaps) snap = [&audio](int64_t f) { return FindRisingZeroCrossing(audio, f); };
    const std::vector<int64_t> onsets = TransientOnsets(audio, values.threshold, values.minSpacingMs, snap, progress);
    regions = RegionsFromOnsets(onsets, frames, audio.sampleRate);
    MapMajorScale(regions, melodic ? regions.size() : static_cast<size_t>(std::max(limit, 0)));
  });
  if (!c.RunLongWork(work)) return;

  c.StopPlayback();
  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoRegionsOnly, "Auto-Chop Regions");
  if (!edit) return;
  const int count = static_cast<int>(regions.size());
  FinishChop(c, *edit, std::move(regions), melodic ? 0 : 255);

  if (LogSink* log = doc->GetLog()) {
    LogF(log, "Auto-Chop: Created %d regions.", count);
    if (melodic && count > limit) {
      LogF(log, "WARNING: Created %d regions. Maximum of %d regions supported by EP.", count, limit);
      Tell(c, LimitWarning("Auto-Chop Melodic", count, limit), MessageIcon::Warning);
    }
  }
}

void OnAutoChopByFrequency(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!HasFrames(*doc)) {
    Tell(c, kNoAudioText, MessageIcon::Warning);
    return;
  }
  const int64_t frames = doc->FrameCount();
  const uint32_t rate = doc->audio.format.nSamplesPerSec;
  const AudioCopy copy(doc->audio);
  bool noNotes = false;
  MelodySegments melody;
  bool descending = false;
  std::vector<Region> regions;
  LongWork work = LongWorkOf("Auto Chop (Melodic by Frequency)", [&](const WorkProgress& progress) {
    std::vector<NoteSegment> segments = DetectNoteSegments(copy.span, 0, progress);
    noNotes = segments.empty();
    melody = PrepareMelodySegments(std::move(segments), rate);
    regions = RegionsFromSegments(melody.segments, frames, &descending);
    KeyRangesFromRoots(regions, regions.size());
  });
  if (!c.RunLongWork(work)) return;

  c.StopPlayback();
  if (noNotes) {
    Tell(c, "No notes detected in the audio.", MessageIcon::Information);
    return;
  }
  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoRegionsOnly, "Auto-Chop by Frequency");
  if (!edit) return;
  doc->instrument.regions.clear();
  if (regions.empty()) {
    // The regions stay cleared; Undo brings them back.
    edit->Commit(DocumentChange::kInstrument);
    Tell(c, "No valid regions could be created from the detected notes.", MessageIcon::Warning);
    return;
  }
  const int count = static_cast<int>(regions.size());
  FinishChop(c, *edit, std::move(regions), 0);

  LogSink* log = doc->GetLog();
  if (!log) return;
  const int limit = doc->MaxDeviceRegions();
  LogF(log, "Auto-Chop by Frequency: Created %d regions from detected pitches.", count);
  if (melody.corrections > 0) LogF(log, "NOTE: Corrected %d octave error(s) in pitch detection.", melody.corrections);
  if (count > limit) {
    LogF(log, "WARNING: Created %d regions. Maximum of %d regions supported by EP.", count, limit);
    Tell(c, LimitWarning("Auto-Chop by Frequency", count, limit), MessageIcon::Warning);
  }
  if (descending) {
    Log(log, "NOTE: Some detected notes have lower pitch than previous notes. Processing continued.");
    Tell(c,
         "The pitch detection found some notes with lower frequency than previous notes.\n\nThis may indicate:\n- "
         "This is a melody (not a correct sampling) that descends in pitch\n- Inaccurate pitch detection (false "
         "harmonics) in some regions\n\n",
         MessageIcon::Information);
  }
}

void OnFindBpmFromLength(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!doc->HasAudio()) {
    Tell(c, kNoAudioText);
    return;
  }
  const uint32_t rate = doc->audio.format.nSamplesPerSec;
  if (rate == 0) {
    Tell(c, "Invalid sample rate.");
    return;
  }
  const int64_t frames = doc->FrameCount();
  if (frames == 0) {
    Tell(c, "No samples in audio data.");
    return;
  }
  const EstimationRange range = RangeOf(c.Selection(), frames);
  if (range.end <= range.start) {
    Tell(c, "Invalid sample range for BPM estimation.");
    return;
  }
  const LengthTempo tempo = BpmFromLength(static_cast<double>(range.end - range.start) / rate);
  const double bars = tempo.beats * 0.25;
  const std::string question =
      bars >= 1.0 ? Format("%.2f BPM (%.0f bar(s), %d beats)\nEstimated %s\n\nUse this BPM?", tempo.bpm, bars,
                           tempo.beats, range.From())
                  : Format("%.2f BPM (%d beats)\nEstimated %s\n\nUse this BPM?", tempo.bpm, tempo.beats, range.From());
  if (Ask(c, question)) ApplyTempo(*doc, tempo.bpm, tempo.beats);
}

void OnFindBpmFromTransients(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!HasFrames(*doc)) {
    Tell(c, kNoAudioText);
    return;
  }
  const EstimationRange range = RangeOf(c.Selection(), doc->FrameCount());
  if (range.end <= range.start) return;
  // Only the range is copied; the estimate reads it from its own frame 0.
  const AudioCopy copy(doc->audio, range.start, range.end);
  TransientTempo tempo;
  LongWork work = LongWorkOf("Find BPM from Transients", [&](const WorkProgress& progress) {
    tempo = BpmFromTransients(copy.span, 0, range.end - range.start, progress);
  });
  if (!c.RunLongWork(work)) return;
  switch (tempo.outcome) {
    case TransientTempo::Outcome::kCancelled:
      return;
    case TransientTempo::Outcome::kTooFewPeaks:
      Tell(c, "Could not detect enough distinct beats based on average volume.");
      return;
    case TransientTempo::Outcome::kInconsistent:
      Tell(c, "Beat detection was inconsistent.");
      return;
    case TransientTempo::Outcome::kFound:
      break;
  }
  const std::string question = Format(
      "BPM Detection (Volume Analysis):\n\nBase Average Volume Analysis detected peaks at ~%d BPM.\nRefined for %s "
      "duration:\n\n>> %.2f BPM\n>> %d Beats\n\nSet this BPM to Global Data?",
      tempo.histogramBpm, range.Name(), tempo.bpm, tempo.beats);
  if (Ask(c, question)) ApplyTempo(*doc, tempo.bpm, tempo.beats);
}

void OnFindBeats(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!doc->HasAudio()) {
    Tell(c, kNoAudioText);
    return;
  }
  const PcmFormat& f = doc->audio.format;
  const uint32_t rate = f.nSamplesPerSec;
  if (rate == 0) {
    Tell(c, "Invalid sample rate.");
    return;
  }
  LogSink* log = doc->GetLog();
  const int64_t frames = doc->FrameCount();
  const double duration = static_cast<double>(frames) / rate;
  LogF(log, "Processing audio: %.2f seconds, %d Hz, %d channels, %d bits, %lld samples, %d bytes", duration,
       static_cast<int>(rate), f.nChannels, f.wBitsPerSample, LL(frames), static_cast<int>(doc->audio.data.size()));
  if (duration < 3.0) {
    LogF(log,
         "Warning: Audio is only %.2f seconds long. Beat detection works best with at least 6 seconds of audio.",
         duration);
  }
  const AudioCopy copy(doc->audio);
  std::vector<double> beats;
  LongWork work = LongWorkOf("Find Beats", [&](const WorkProgress& progress) {
    BeatDetector detector;  // its tracker ends with the detection
    beats = DetectBeats(detector, copy.span.bytes, copy.span.channels, rate, copy.span.bitsPerSample, 0, progress);
  });
  if (!c.RunLongWork(work)) return;

  ViewSelection& view = c.Selection();
  if (beats.empty()) {
    Tell(c,
         Format("No beats detected in the audio.\n\nAudio info:\nDuration: %.2f seconds\nSample Rate: %d Hz\nChannels: "
                "%d\nBit Depth: %d bits\n\nThe audio may not have clear rhythmic content, or the level may be too "
                "low.",
                duration, static_cast<int>(rate), f.nChannels, f.wBitsPerSample),
         MessageIcon::Information);
    Log(log, "Beat detection: No beats found.");
    view.beatMarkers.clear();
    doc->NotifySelectionChanged();
    return;
  }
  view.beatMarkers.clear();
  for (double t : beats) view.beatMarkers.push_back(static_cast<int64_t>(t * rate));
  doc->NotifySelectionChanged();
  const double bpm = MedianBeatBpm(beats);
  if (Ask(c, Format("Detected %d beats\nMedian BPM: %.1f\n\nApply this BPM to Global Data?",
                    static_cast<int>(beats.size()), bpm))) {
    ApplyTempo(*doc, bpm, std::nullopt);
  }
  LogF(log, "Beat Detection: %d beats detected, Median BPM: %.1f", static_cast<int>(beats.size()), bpm);
}

void OnAdjustLoopToBpm(CommandContext& c, ChopTempoDialogs& dialogs) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!doc->HasAudio()) {
    Tell(c, kNoAudioText, MessageIcon::Warning);
    return;
  }
  InstrumentParams& params = doc->instrument.params;
  if (!(params.bpm > 0.0f)) {
    Tell(c, "BPM is not set in global parameters. Please set BPM first.", MessageIcon::Warning);
    return;
  }
  const int64_t current = doc->FrameCount();
  const uint32_t rate = doc->audio.format.nSamplesPerSec;
  const size_t blockAlign = doc->audio.format.nBlockAlign;
  AdjustToBpmValues values;
  values.currentLength = current;
  values.sampleRate = rate;
  values.bpm = params.bpm;
  if (!dialogs.RunAdjustToBpm(values)) return;
  // The dialog accepts only tempos in range; a target that no WAV file can
  // hold is refused here, before anything is allocated.
  const int64_t target = values.targetLength;
  const auto maxBytes = static_cast<uint64_t>(UINT32_MAX);
  if (target < 0 || values.bpm < kMinAdjustBpm || values.bpm > kMaxAdjustBpm ||
      (blockAlign > 0 && static_cast<uint64_t>(target) > maxBytes / blockAlign)) {
    Tell(c, Format("The target length of %lld samples is not possible.", LL(target)), MessageIcon::Warning);
    return;
  }
  LogSink* log = doc->GetLog();
  // A target of the current length changes nothing and records no entry; it
  // still ends as an edit of the instrument (modified, kInstrument).
  std::optional<EditTransaction> edit = EditTransaction::WithoutUndo(*doc);
  if (target != current) {
    // The audio of the new length is built from a copy off the
    // user-interface thread (padding a long file to a slow tempo writes
    // gigabytes), then swapped in.
    const AudioCopy copy(doc->audio, 0, std::min(current, target));
    std::optional<std::vector<uint8_t>> fitted;
    LongWork work = LongWorkOf("Adjust Loop to BPM...", [&](const WorkProgress& progress) {
      fitted = FitPcmLength(copy.bytes, static_cast<size_t>(target) * blockAlign, progress);
    });
    if (!c.RunLongWork(work) || !fitted) return;

    c.StopPlayback();
    edit = EditTransaction::Begin(*doc, kUndoWithAudio, "Adjust to BPM");
    if (!edit) return;
    params.bpm = static_cast<float>(values.bpm);
    doc->NotifyAudioAboutToChange();
    doc->audio.data.swap(*fitted);
    ViewSelection& view = c.Selection();
    view.beatMarkers.clear();
    std::vector<Region>& regions = doc->instrument.regions;
    for (size_t i = 0; i < regions.size(); ++i) {
      Region& r = regions[i];
      if (r.startSample >= target) {
        // Emptied at the new end, for the save to drop: a region left past
        // the end would give a selection (or a dragged neighbour) beyond it.
        r.startSample = r.endSample = target;
      } else if (r.endSample > target) {
        r.endSample = target;
      }
      // A loop must stay inside its (possibly shortened) region.
      if (r.HasLoop()) {
        const int64_t ls = std::clamp(r.loopStart, r.startSample, r.endSample);
        const int64_t le = std::clamp(r.loopEnd, r.startSample, r.endSample);
        if (ls >= le) {
          LogF(log, "Region %d loop removed (it lay beyond the new end of the audio).", static_cast<int>(i));
          r.loopStart = r.loopEnd = kNoLoop;
        } else {
          r.loopStart = ls;
          r.loopEnd = le;
        }
      }
    }
    if (!regions.empty() && regions.back().endSample < target) regions.back().endSample = target;
    if (view.loopIn >= target) {
      view.loopIn = view.loopOut = 0;
    } else if (view.loopOut > target) {
      view.loopOut = target;
    }
    if (view.cursorFrame >= target) view.cursorFrame = target > 0 ? target - 1 : -1;
  }
  edit->Commit(target != current ? DocumentChange::kAudio : DocumentChange::kInstrument, SelectionMoved::kYes);
  const double r = rate ? static_cast<double>(rate) : 1.0;
  if (target == current) {
    Log(log, "Audio length already matches target BPM. No adjustment made.");
  } else if (target > current) {
    LogF(log, "Added %.3f seconds (%lld samples) of silence to fit BPM", (target - current) / r, LL(target - current));
  } else {
    LogF(log, "Removed %.3f seconds (%lld samples) to fit BPM", (current - target) / r, LL(current - target));
  }
}

void DeclareChopTempoCommands(CommandRegistry& r, ChopTempoDialogs& dialogs) {
  ChopTempoDialogs* d = &dialogs;
  r.Add({.id = cmd::kAutoChopPercussive,
         .text = "Auto Chop (Percussive Simple)",
         .menus = {{"&Region", 400}},
         .run = [d](CommandContext& c) { OnAutoChopSimple(c, *d, false); }});
  r.Add({.id = cmd::kAutoChopMelodic,
         .text = "Auto Chop (Melodic Simple)",
         .menus = {{"&Region", 401}},
         .run = [d](CommandContext& c) { OnAutoChopSimple(c, *d, true); }});
  r.Add({.id = cmd::kAutoChopByFrequency,
         .text = "Auto Chop (Melodic by Frequency)",
         .menus = {{"&Region", 402}},
         .run = [](CommandContext& c) { OnAutoChopByFrequency(c); }});
  r.Add({.id = cmd::kFindBpmFromLength,
         .text = "Find BPM from length",
         .menus = {{"&Region", 500}},
         .run = [](CommandContext& c) { OnFindBpmFromLength(c); }});
  r.Add({.id = cmd::kFindBpmFromTransients,
         .text = "Find BPM from Transients",
         .menus = {{"&Region", 501}},
         .run = [](CommandContext& c) { OnFindBpmFromTransients(c); }});
  r.Add({.id = cmd::kFindBeats,
         .text = "Find Beats",
         .menus = {{"&Region", 502}},
         .run = [](CommandContext& c) { OnFindBeats(c); }});
  r.Add({.id = cmd::kAdjustLoopToBpm,
         .text = "Adjust Loop to BPM...",
         .menus = {{"&Region", 503}},
         .run = [d](CommandContext& c) { OnAdjustLoopToBpm(c, *d); }});
}

}  // namespace zandrel
