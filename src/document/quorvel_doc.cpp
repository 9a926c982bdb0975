#include "document/quorvel_doc.h"

#include <algorithm>
#include <system_error>

#include "document/instrument_chunks.h"
#include "document/region_ops.h"
#include "document/reports.h"
#include "platform/file_dialogs.h"
#include "platform/message_host.h"
#include "platform/settings.h"
#include "platform/temp_folder.h"
#include "platform/text_format.h"

namespace zandrel {
namespace fs = std::filesystem;

namespace {

// The PCM sub-format GUID 00000001-0000-0010-8000-00AA00389B71 as stored.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool HasPcmSubFormat(const CWavLoader& wav) {
  return wav.isExtensible == 1 && std::equal(std::begin(kPcmSubFormat), std::end(kPcmSubFormat),
                                             wav.extensibleFormat.begin() + 24);
}

const char* FormatName(const CWavLoader& wav) {
  switch (wav.format.wFormatTag) {
    case kWaveFormatPcm: return "PCM";
    case kWaveFormatExtensible: return HasPcmSubFormat(wav) ? "PCM (Extensible)" : "Compressed/Unknown";
    case kWaveFormatIeeeFloat: return "IEEE Float";
    default: return "Compressed/Unknown";
  }
}

std::string ChannelsName(unsigned channels) {
  if (channels == 1) return "Mono";
  if (channels == 2) return "Stereo";
  return "Multichannel";
}

// The text before the last "." of the file name part, the whole text when the
// name has none.
std::string WithoutExtension(const std::string& text) {
  const size_t dot = text.rfind('.');
  const size_t slash = text.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return text;
  return text.substr(0, dot);
}

}  // namespace

struct CQuorvelDoc::SaveDraft {
  CWavLoader header;  // format and the chunks to write; no audio
  InstrumentData instrument;
  size_t dataBytes = 0;  // how much of the document's audio goes into the file
};

CQuorvelDoc::CQuorvelDoc() {
  const fs::path& temp = ProcessTempFolder();
  if (!temp.empty()) undoHistory.snapshotFolder = temp / "quorvel";
  // Hundredths of a second; 100000 and above mean no limit.
  const int cutoff = CurrentSettings().GetInt("Settings", "MaxCutoffTime", 2000);
  timeLimit = cutoff < 100000 ? static_cast<float>(cutoff) / 100.0f : -1.0f;
}

CQuorvelDoc::~CQuorvelDoc() = default;

int CQuorvelDoc::MaxDeviceRegions() const {
  return frame_ ? frame_->MaxDeviceRegions() : kRegionCapWithoutFrame;
}

void CQuorvelDoc::AddObserver(DocumentObserver* observer) {
  if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) observers_.push_back(observer);
}

void CQuorvelDoc::RemoveObserver(DocumentObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void CQuorvelDoc::NotifyAudioAboutToChange() {
  for (DocumentObserver* o : std::vector<DocumentObserver*>(observers_)) o->OnAudioAboutToChange();
}

void CQuorvelDoc::UpdateAllViews(DocumentChange change) {
  for (DocumentObserver* o : std::vector<DocumentObserver*>(observers_)) o->OnDocumentChanged(change);
}

void CQuorvelDoc::NotifySelectionChanged() {
  for (DocumentObserver* o : std::vector<DocumentObserver*>(observers_)) o->OnSelectionChanged();
}

void CQuorvelDoc::SetModifiedFlag(bool modified) {
  if (modified_ == modified) return;
  modified_ = modified;
  UpdateAllViews(DocumentChange::kState);
}

void CQuorvelDoc::SetPathName(const fs::path& path) {
  pathName_ = path;
  title_ = path.filename().string();
  UpdateAllViews(DocumentChange::kState);
}

void CQuorvelDoc::SetTitle(std::string title) {
  title_ = std::move(title);
  UpdateAllViews(DocumentChange::kState);
}

// ----------------------------------------------------------- lifecycle --

bool CQuorvelDoc::OnNewDocument() {
  NotifyAudioAboutToChange();
  ClearAudio();
  undoHistory.Clear();
  pathName_.clear();
  title_ = "Untitled";
  modified_ = false;
  UpdateAllViews(DocumentChange::kReplaced);
  return true;
}

void CQuorvelDoc::ClearAudio() {
  // Stopping playback is harmless when nothing plays, and fatal to forget.
  NotifyAudioAboutToChange();
  audio = CWavLoader();
  instrument.Reset();
}

bool CQuorvelDoc::LoadWav(const fs::path& path) {
  CWavLoader loaded;
  WavLoadReport report;
  if (!loaded.LoadForEditing(path, &report)) return false;
  return AdoptLoaded(std::move(loaded), report, path);
}

bool CQuorvelDoc::LoadWavFromMemory(std::span<const uint8_t> bytes, const fs::path& path) {
  CWavLoader loaded;
  WavLoadReport report;
  if (!loaded.LoadFromMemoryForEditing(bytes, path.filename().string(), &report)) return false;
  return AdoptLoaded(std::move(loaded), report, path);
}

bool CQuorvelDoc::AdoptLoaded(CWavLoader&& loaded, const WavLoadReport& report, const fs::path& path) {
  const std::string problem = UnsupportedFormatReason(loaded);
  if (!problem.empty()) {
    ShowMessage(Format("Cannot open %s: %s.", path.filename().c_str(), problem.c_str()), MessageIcon::Error);
    return false;
  }

  NotifyAudioAboutToChange();
  audio = std::move(loaded);
  LogSink* log = GetLog();
  if (log) log->Clear();

  ParseInstrumentChunk();
  ReadSmplChunk();
  ReadAcidChunk();
  undoHistory.Clear();

  const PcmFormat& f = audio.format;
  LogF(log, "--- WAV File Information: %s ---", path.filename().c_str());
  LogF(log, "Audio Format: %u (%s)", f.wFormatTag, FormatName(audio));
  LogF(log, "Channels: %u (%s)", f.nChannels, ChannelsName(f.nChannels).c_str());
  LogF(log, "Sample Rate: %lu Hz", static_cast<unsigned long>(f.nSamplesPerSec));
  LogF(log, "Bits Per Sample: %u-bit", f.wBitsPerSample);
  LogF(log, "Block Align: %u bytes", f.nBlockAlign);
  LogF(log, "Average Bytes/Sec: %lu", static_cast<unsigned long>(f.nAvgBytesPerSec));
  LogF(log, "Audio Data Size: %llu bytes", static_cast<unsigned long long>(audio.data.size()));
  if (f.nBlockAlign != 0 && f.nSamplesPerSec != 0)
    LogF(log, "Duration: %.3f seconds", static_cast<double>(audio.FrameCount()) / f.nSamplesPerSec);
  for (const std::string& warning : report.warnings) Log(log, warning);

  // From here on extensible PCM is plain PCM and is saved as such.
  if (f.wFormatTag == kWaveFormatExtensible && audio.EffectiveFormatTag() == kWaveFormatPcm) {
    audio.format.wFormatTag = kWaveFormatPcm;
    audio.isExtensible = 0;
  }

  pathName_ = path;
  title_ = path.filename().string();
  modified_ = false;
  UpdateAllViews(DocumentChange::kReplaced);
  return true;
}

// -------------------------------------------------------------- saving --

bool CQuorvelDoc::PrepareDraft(DraftMode mode, SaveDraft& draft) const {
  LogSink* log = GetLog();
  draft.header.format = audio.format;
  draft.header.extensibleFormat = audio.extensibleFormat;
  draft.header.isExtensible = audio.isExtensible;
  draft.header.chunks = audio.chunks;
  draft.instrument = instrument;
  InstrumentData& inst = draft.instrument;

  ::zandrel::RemoveOrphanedRegions(inst, log);
  ::zandrel::SanitizeKeyRanges(inst, log);

  const float limit =
      mode == DraftMode::kExportWithoutLimits ? -1.0f : EffectiveTimeLimit(audio.format, audio.data.size(), timeLimit);
  if (mode == DraftMode::kSave && limit > 0) {
    const float duration = SaveDurationSeconds(audio.format, audio.data.size());
    if (duration > limit &&
        !AskYesNo(TrimQuestion(duration, limit, audio.format.nSamplesPerSec), MessageIcon::Warning)) {
      return false;
    }
  }
  draft.dataBytes = audio.CappedDataBytes(limit);
  ::zandrel::TrimRegionsToDuration(inst, audio.format.nSamplesPerSec, limit);
  // The last kept region runs to the end of the audio as it will be written,
  // not past a cut.
  const int64_t framesWritten =
      audio.format.nBlockAlign ? static_cast<int64_t>(draft.dataBytes / audio.format.nBlockAlign) : 0;
  const int cap = mode == DraftMode::kExportWithoutLimits ? kRegionCapWithoutLimits : MaxDeviceRegions();
  ::zandrel::LimitRegionCount(inst, cap, framesWritten, log);
  if (inst.hasInstrument && inst.params.playMode == "oneshot") inst.params.release = 255;
  ::zandrel::StripNonEssentialChunks(draft.header.chunks, log);
  ::zandrel::WriteInstrumentChunk(draft.header.chunks, inst, log);
  ::zandrel::UpdateSmplChunk(draft.header.chunks, inst, audio.format.nSamplesPerSec, log);
  ::zandrel::UpdateAcidChunk(draft.header.chunks, inst, log);
  return true;
}

bool CQuorvelDoc::OnSaveDocument(const fs::path& path) {
  return SaveDocumentWith(
      [&path](const CWavLoader& header, std::span<const uint8_t> audio, WavWriteError* error) {
        return header.WriteTo(path, audio, error);
      },
      path);
}

bool CQuorvelDoc::OnSaveDocument(ByteSink& sink, const fs::path& path) {
  return SaveDocumentWith(
      [&sink](const CWavLoader& header, std::span<const uint8_t> audio, WavWriteError* error) {
        return header.WriteTo(sink, audio, error);
      },
      path);
}

bool CQuorvelDoc::SaveDocumentWith(const SaveWriter& write, const fs::path& path) {
  SaveDraft draft;
  if (!PrepareDraft(DraftMode::kSave, draft)) return false;
  // The user agreed to the cut; Undo brings the cut audio back.
  const bool cut = draft.dataBytes < audio.data.size();
  if (cut && !PushUndo(kUndoWithAudio, "Trim to Device Limit")) return false;
  WavWriteError error;
  if (!write(draft.header, std::span(audio.data.data(), draft.dataBytes), &error)) {
    ShowWavWriteError(error);
    // Nothing was cut: the entry would restore what the document still holds.
    if (cut && !undoHistory.undoStack.empty() && undoHistory.undoStack.back().description == "Trim to Device Limit") {
      CUndoHistory::DeleteSnapshot(undoHistory.PopUndo());
    }
    return false;
  }
  // The file is written: the document now holds what the file holds.
  if (cut) {
    NotifyAudioAboutToChange();
    audio.data.resize(draft.dataBytes);
    LogF(GetLog(), "Duration: %.3f seconds (trimmed to the device limit)", audio.DurationSeconds());
  }
  audio.chunks = std::move(draft.header.chunks);
  instrument = std::move(draft.instrument);
  pathName_ = path;
  title_ = path.filename().string();
  modified_ = false;
  UpdateAllViews(cut ? DocumentChange::kAudio : DocumentChange::kInstrument);
  UpdateAllViews(DocumentChange::kState);
  return true;
}

fs::path CQuorvelDoc::SaveTempCopy() {
  SaveDraft draft;
  PrepareDraft(DraftMode::kTempCopy, draft);
  const fs::path& folder = ProcessTempFolder();
  if (folder.empty()) return {};
  // The device takes the sound's name from the file name, so the copy keeps
  // the document's name; a second copy under the same name gets a folder of
  // its own instead of replacing the first.
  // A document without a file (a downloaded sound, a new one) is named after
  // its title.
  std::string base = WithoutExtension(pathName_.empty() ? title_ : pathName_.filename().string());
  if (base.empty()) base = "Untitled";
  fs::path file = folder / (base + ".wav");
  std::error_code ec;
  if (fs::exists(fs::symlink_status(file, ec))) {
    const fs::path own = MakeUniqueFolder(folder, "copy-");
    if (own.empty()) return {};
    file = own / (base + ".wav");
  }
  WavWriteError error;
  if (!draft.header.WriteTo(file, std::span(audio.data.data(), draft.dataBytes), &error)) {
    ShowWavWriteError(error);
    return {};
  }
  return file;
}

bool CQuorvelDoc::ExportWavWithoutLimits(const fs::path& path) {
  SaveDraft draft;
  PrepareDraft(DraftMode::kExportWithoutLimits, draft);
  WavWriteError error;
  if (!draft.header.WriteTo(path, std::span(audio.data.data(), draft.dataBytes), &error)) {
    ShowMessage(Format("Failed to export WAV file.\n%s", error.reason.c_str()), MessageIcon::Error);
    return false;
  }
  LogF(GetLog(), "WAV file exported successfully to:\n%s", path.c_str());
  return true;
}

bool CQuorvelDoc::ExportWavWithoutLimits(ByteSink& sink) {
  SaveDraft draft;
  PrepareDraft(DraftMode::kExportWithoutLimits, draft);
  WavWriteError error;
  if (!draft.header.WriteTo(sink, std::span(audio.data.data(), draft.dataBytes), &error)) {
    ShowMessage(Format("Failed to export WAV file.\n%s", error.reason.c_str()), MessageIcon::Error);
    return false;
  }
  return true;
}

void CQuorvelDoc::OnExportWavWithoutLimits() {
  if (!HasAudio()) {
    ShowMessage("Please open a WAV file first.");
    return;
  }
  SaveFileRequest request;
  request.defaultPath = WithoutExtension(PathNameText()) + "_" + WithoutExtension(title_) + "_nocrop.wav";
  request.defaultExtension = "wav";
  request.filter = "WAV Files (*.wav)|*.wav|All Files (*.*)|*.*||";
  const std::optional<fs::path> file = AskSaveFile(request);
  if (file) ExportWavWithoutLimits(*file);
}

void CQuorvelDoc::RemoveOrphanedRegions() { ::zandrel::RemoveOrphanedRegions(instrument, GetLog()); }
void CQuorvelDoc::SanitizeKeyRanges() { ::zandrel::SanitizeKeyRanges(instrument, GetLog()); }
void CQuorvelDoc::SortRegions() { ::zandrel::SortRegions(instrument.regions); }
void CQuorvelDoc::TrimRegionsToDuration(float seconds) {
  ::zandrel::TrimRegionsToDuration(instrument, audio.format.nSamplesPerSec, seconds);
}
void CQuorvelDoc::LimitRegionCount(int cap) { ::zandrel::LimitRegionCount(instrument, cap, FrameCount(), GetLog()); }
void CQuorvelDoc::StripNonEssentialChunks() { ::zandrel::StripNonEssentialChunks(audio.chunks, GetLog()); }
void CQuorvelDoc::TransposeRegions(int semitones) {
  if (!instrument.hasInstrument) return;
  ::zandrel::TransposeRegions(instrument, semitones, GetLog());
  SetModifiedFlag(true);
}

void CQuorvelDoc::ParseInstrumentChunk() {
  ::zandrel::ParseInstrumentChunk(audio.chunks, FrameCount(), instrument, GetLog());
}
void CQuorvelDoc::ReadSmplChunk() { ::zandrel::ReadSmplChunk(audio.chunks, instrument, GetLog()); }
void CQuorvelDoc::ReadAcidChunk() { ::zandrel::ReadAcidChunk(audio.chunks, instrument, GetLog()); }
void CQuorvelDoc::WriteInstrumentChunk() { ::zandrel::WriteInstrumentChunk(audio.chunks, instrument, GetLog()); }
void CQuorvelDoc::WriteInstrumentChunkFor(int64_t selStart, int64_t selEnd, std::vector<RiffChunk>& chunks) const {
  ::zandrel::WriteInstrumentChunkFor(instrument, selStart, selEnd, chunks);
}
void CQuorvelDoc::UpdateSmplChunk() {
  ::zandrel::UpdateSmplChunk(audio.chunks, instrument, audio.format.nSamplesPerSec, GetLog());
}
void CQuorvelDoc::UpdateAcidChunk() { ::zandrel::UpdateAcidChunk(audio.chunks, instrument, GetLog()); }

// ---------------------------------------------------------- undo, redo --

bool CQuorvelDoc::PushUndo(int kind, const std::string& description) {
  UndoState entry;
  entry.kind = kind;
  entry.instrument = instrument;
  entry.description = description;
  if (kind == kUndoWithAudio) {
    WavWriteError error;
    bool stored = false;
    if (undoHistory.snapshotFolder.empty()) {
      error.reason = "there is no temporary folder";
    } else {
      entry.snapshotPath = undoHistory.MakeSnapshotPath();
      stored = audio.WriteTo(entry.snapshotPath, audio.data, &error);
    }
    if (!stored) {
      Log(GetLog(), "Warning: Failed to save undo snapshot to temp file");
      // A full disk must not turn an edit into one that cannot be taken back
      // without the user knowing it.
      return AskYesNo(Format("The undo step for \"%s\" could not be stored: %s.\n\nDo you want to go on without undo? "
                             "The change cannot be undone then.",
                             description.c_str(), error.reason.c_str()),
                      MessageIcon::Warning);
    }
  }
  undoHistory.ClearRedo();
  undoHistory.AddUndo(std::move(entry));
  return true;
}

void CQuorvelDoc::Undo() { Step(true); }
void CQuorvelDoc::Redo() { Step(false); }

void CQuorvelDoc::Step(bool undo) {
  std::deque<UndoState>& from = undo ? undoHistory.undoStack : undoHistory.redoStack;
  if (from.empty()) return;
  LogSink* log = GetLog();

  UndoState current;
  current.kind = kUndoRegionsOnly;
  current.instrument = instrument;
  current.description = undo ? "Redo" : "Undo";
  UndoState entry = undo ? undoHistory.PopUndo() : undoHistory.PopRedo();
  const bool withAudio = entry.kind == kUndoWithAudio;

  if (withAudio) {
    // The current audio must be stored for the other direction first. When
    // it cannot be (a full disk), the entry goes back where it came from: it
    // is still good and may work once there is room.
    current.kind = kUndoWithAudio;
    current.snapshotPath = undoHistory.MakeSnapshotPath();
    if (undoHistory.snapshotFolder.empty() || !audio.Save(current.snapshotPath, -1.0f)) {
      Log(log, undo ? "Error: Failed to save redo snapshot" : "Error: Failed to save undo snapshot");
      from.push_back(std::move(entry));
      return;
    }
    // An entry whose snapshot is gone or damaged can never be restored:
    // it is dropped, so the older entries behind it stay reachable.
    CWavLoader restored;
    if (!restored.Load(entry.snapshotPath)) {
      Log(log, undo ? "Error: Failed to restore audio from undo" : "Error: Failed to restore audio from redo");
      CUndoHistory::DeleteSnapshot(current);
      CUndoHistory::DeleteSnapshot(entry);
      return;
    }
    NotifyAudioAboutToChange();
    audio = std::move(restored);
    CUndoHistory::DeleteSnapshot(entry);  // its audio is the document's again
  }

  instrument = std::move(entry.instrument);
  if (undo) {
    undoHistory.redoStack.push_back(std::move(current));
  } else {
    undoHistory.AddUndo(std::move(current));
  }
  SetModifiedFlag(true);
  UpdateAllViews(withAudio ? DocumentChange::kAudio : DocumentChange::kInstrument);
  LogF(log, undo ? "Undo: %s" : "Redo: %s", entry.description.c_str());
}

// ------------------------------------------------------------- reports --

bool CQuorvelDoc::WriteWavOverview(const fs::path& path) const {
  return WriteReportFile(path, WavOverviewText(audio, PathNameText()), "Failed to create the overview file.");
}

bool CQuorvelDoc::WriteInstrumentOverview(const fs::path& path) const {
  return WriteReportFile(path, InstrumentOverviewText(instrument, PathNameText()),
                         "Failed to create the instrument data file.");
}

std::optional<fs::path> CQuorvelDoc::AskReportFile(const char* suffix) const {
  SaveFileRequest request;
  request.defaultPath = WithoutExtension(PathNameText()) + suffix;
  request.defaultExtension = "txt";
  request.filter = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||";
  return AskSaveFile(request);
}

void CQuorvelDoc::OnExportOverview() const {
  if (!HasAudio()) {
    ShowMessage("Please open a WAV file first.");
    return;
  }
  if (const std::optional<fs::path> file = AskReportFile("_overview.txt")) WriteWavOverview(*file);
}

void CQuorvelDoc::OnExportInstrumentData() const {
  if (!instrument.hasInstrument) {
    ShowMessage("No instrument data (TNGE chunk) was found in this file.");
    return;
  }
  if (const std::optional<fs::path> file = AskReportFile("_instrument.txt")) WriteInstrumentOverview(*file);
}

}  // namespace zandrel
