// CQuorvelDoc: the one document of the editor.
//
// It holds one sample (`audio`: mono 16-bit PCM at the file's own rate after
// an open, with the file's other chunks), its instrument data, the save time
// limit and the undo history, plus what the application framework would keep
// for a document: path name, title and the modified flag.
//
// The document has no view. Whatever replaces or changes its audio first calls
// NotifyAudioAboutToChange() (the view stops playback there; once it returns
// nothing reads `audio` until playback starts again), and afterwards
// UpdateAllViews() with what changed (the view rebuilds its peaks, the
// property pages refresh). Code of other folders that edits `audio` or
// `instrument` directly follows the same contract. Whatever changes the
// view's cursor or selection (ViewSelection) announces it with
// NotifySelectionChanged(). These notifications are the only road by which
// an edit reaches the view and the pages.
//
// What it needs of the main frame (the log, the device's region count)
// reaches it through DocumentFrame; without a frame it logs nothing and caps
// regions at 1000. User-interface thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "document/instrument.h"
#include "document/undo_history.h"
#include "document/wav_loader.h"
#include "platform/log_sink.h"

namespace zandrel {

// What the document needs of the main frame.
class DocumentFrame {
 public:
  virtual ~DocumentFrame() = default;
  virtual LogSink& Log() = 0;
  // The device's region-count limit, `maxDeviceRegions`.
  virtual int MaxDeviceRegions() const { return 8; }
};

// The view's cursor and selection as the commands read and change them. The
// view owns it; edits that move or clear it announce that through
// CQuorvelDoc::NotifySelectionChanged. Frames of the document's audio.
struct ViewSelection {
  int64_t cursorFrame = -1;     // edit cursor and playhead, -1 = none
  int64_t playAnchor = -1;      // where the cursor returns when playback stops, -1 = none
  int64_t loopIn = -1;          // selection start (loop in), -1 = none
  int64_t loopOut = -1;         // selection end (loop out), -1 = none
  bool loopPlayback = false;    // playback loops over the selection; processing reads it too
  int32_t selectedRegion = -1;  // index into the instrument's regions, -1 = none
  std::vector<int64_t> beatMarkers;  // beat positions, drawn as lines

  // No selection and no loop playback.
  void ClearLoop() {
    loopIn = loopOut = -1;
    loopPlayback = false;
  }
};

enum class DocumentChange {
  kReplaced,    // a different sample (new, open, import): views reset cursor, selection and zoom
  kAudio,       // the audio bytes or format changed: peaks are rebuilt
  kInstrument,  // only regions or global settings changed
  kState,       // path name, title or modified flag
};

class DocumentObserver {
 public:
  virtual ~DocumentObserver() = default;
  // Called before `audio` is replaced or changed: stop reading it.
  virtual void OnAudioAboutToChange() {}
  virtual void OnDocumentChanged(DocumentChange /*change*/) {}
  // The view's cursor, selection, selected region or beat markers changed.
  virtual void OnSelectionChanged() {}
};

// What a command that needs audio says when the document has none, and the
// same where the user is told what to do about it.
inline constexpr const char* kNoAudioText = "No audio data loaded.";
inline constexpr const char* kNoAudioOpenFileText = "No audio data loaded. Please open a WAV file first.";

class CQuorvelDoc {
 public:
  // Reads the time limit ("Settings"/"MaxCutoffTime") from the settings.
  CQuorvelDoc();
  ~CQuorvelDoc();
  CQuorvelDoc(const CQuorvelDoc&) = delete;
  CQuorvelDoc& operator=(const CQuorvelDoc&) = delete;

  CWavLoader audio;
  InstrumentData instrument;
  float timeLimit = 20.0f;  // save time limit in seconds; -1 = none
  CUndoHistory undoHistory;

  // ------------------------------------------------ frame, views, state --
  void SetFrame(DocumentFrame* frame) { frame_ = frame; }
  DocumentFrame* Frame() const { return frame_; }
  // The log when a main frame exists, else nullptr.
  LogSink* GetLog() const { return frame_ ? &frame_->Log() : nullptr; }
  int MaxDeviceRegions() const;

  void AddObserver(DocumentObserver* observer);
  void RemoveObserver(DocumentObserver* observer);
  void NotifyAudioAboutToChange();
  void UpdateAllViews(DocumentChange change);
  void NotifySelectionChanged();

  bool IsModified() const { return modified_; }
  void SetModifiedFlag(bool modified = true);
  const std::filesystem::path& GetPathName() const { return pathName_; }
  // Sets the path name and the title (the file name).
  void SetPathName(const std::filesystem::path& path);
  const std::string& GetTitle() const { return title_; }
  void SetTitle(std::string title);

  bool HasAudio() const { return !audio.data.empty(); }
  int64_t FrameCount() const { return audio.FrameCount(); }

  // ------------------------------------------------------- lifecycle --
  // An empty, untitled document with no history.
  bool OnNewDocument();
  // Empties the audio and resets the instrument data (history, modified flag
  // and title are left alone).
  void ClearAudio();
  bool OnOpenDocument(const std::filesystem::path& path) { return LoadWav(path); }
  // Opens a WAV file into the document. On failure the document (audio,
  // instrument, history and log) is left exactly as it was.
  bool LoadWav(const std::filesystem::path& path);
  // The same for a file's bytes held in memory; |path| names the file (title,
  // messages, log) as if it had been read from there.
  bool LoadWavFromMemory(std::span<const uint8_t> bytes, const std::filesystem::path& path);

  // ------------------------------------------------------------ saving --
  // Prepares the instrument for the device (orphans, key ranges, time limit
  // after asking, region cap, chunks) and writes the file. The steps run on a
  // copy: only a written file changes the document, which then holds what the
  // file holds, takes the path and is no longer modified.
  bool OnSaveDocument(const std::filesystem::path& path);
  // The same save with the file's bytes going to |sink| instead; the
  // document then takes |path| as its file as after a save to disk.
  bool OnSaveDocument(ByteSink& sink, const std::filesystem::path& path);
  // The same steps without the question, into a file in the process's private
  // temporary folder named after the document ("<base>.wav"); the document
  // is not changed. Returns the file's path, empty on failure.
  std::filesystem::path SaveTempCopy();
  // The steps without the time limit and with a region cap of 10000 into
  // |path|; the document is not changed.
  bool ExportWavWithoutLimits(const std::filesystem::path& path);
  // The same export into |sink|, without the log line.
  bool ExportWavWithoutLimits(ByteSink& sink);
  // Command "Export Wav Without EP restrictions...": asks for the file.
  void OnExportWavWithoutLimits();

  // Region steps on the live document (used by edits of other folders).
  void RemoveOrphanedRegions();
  void SanitizeKeyRanges();
  void SortRegions();
  void TrimRegionsToDuration(float seconds);
  void LimitRegionCount(int cap);
  void StripNonEssentialChunks();
  // Moves every key by |semitones| and marks the document modified.
  void TransposeRegions(int semitones);

  // Instrument chunks of the document's audio.
  void ParseInstrumentChunk();
  void ReadSmplChunk();
  void ReadAcidChunk();
  void WriteInstrumentChunk();
  void WriteInstrumentChunkFor(int64_t selStart, int64_t selEnd, std::vector<RiffChunk>& chunks) const;
  void UpdateSmplChunk();
  void UpdateAcidChunk();

  // -------------------------------------------------------- undo, redo --
  // Records the current state before an edit. With kUndoWithAudio the audio
  // is written to a snapshot; when that fails the user is told why and asked
  // whether to go on without undo. Returns true when the edit may go on (with
  // or without an entry), false when the user declined: the caller then
  // changes nothing. Edits call it through EditTransaction::Begin, whose
  // Commit marks the document modified.
  [[nodiscard]] bool PushUndo(int kind, const std::string& description);
  void Undo();
  void Redo();
  bool CanUndo() const { return !undoHistory.undoStack.empty(); }
  bool CanRedo() const { return !undoHistory.redoStack.empty(); }
  void OnEditUndo() { Undo(); }
  void OnEditRedo() { Redo(); }

  // ----------------------------------------------------------- reports --
  bool WriteWavOverview(const std::filesystem::path& path) const;
  bool WriteInstrumentOverview(const std::filesystem::path& path) const;
  // Commands "Export Overview..." and "Export Instrument Data...".
  void OnExportOverview() const;
  void OnExportInstrumentData() const;

 private:
  struct SaveDraft;
  enum class DraftMode { kSave, kTempCopy, kExportWithoutLimits };
  // Runs the save steps on a copy; false when the user refused the cut.
  bool PrepareDraft(DraftMode mode, SaveDraft& draft) const;
  // Takes a loaded file into the document (LoadWav's second half).
  bool AdoptLoaded(CWavLoader&& loaded, const WavLoadReport& report, const std::filesystem::path& path);
  // Writes the file (header, then the audio) somewhere; false with |error| set.
  using SaveWriter =
      std::function<bool(const CWavLoader& header, std::span<const uint8_t> audio, WavWriteError* error)>;
  // The save: the steps, the trim's undo entry, the writing, then the
  // document takes what was written.
  bool SaveDocumentWith(const SaveWriter& write, const std::filesystem::path& path);
  void Step(bool undo);
  // The text file a report goes to, named after the document plus |suffix|.
  std::optional<std::filesystem::path> AskReportFile(const char* suffix) const;
  std::string PathNameText() const { return pathName_.string(); }

  DocumentFrame* frame_ = nullptr;
  std::vector<DocumentObserver*> observers_;
  bool modified_ = false;
  std::filesystem::path pathName_;
  std::string title_ = "Untitled";
};

}  // namespace zandrel
