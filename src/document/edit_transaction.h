// EditTransaction: the one way an edit of the document begins and ends.
//
// Every command and mouse edit that changes the document's audio or
// instrument runs inside one:
//
//   std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoWithAudio, "Add Silence");
//   if (!edit) return;  // the user would not go on without undo: nothing changed
//   ... change doc.audio / doc.instrument / the view's selection ...
//   edit->Commit(DocumentChange::kAudio, SelectionMoved::kYes);
//
// Begin records the undo entry (CQuorvelDoc::PushUndo: when the audio's
// snapshot cannot be written the user is asked whether to go on without
// undo). Commit marks the document modified, sends the one typed
// notification of what changed and, when the edit moved the view's cursor or
// selection, NotifySelectionChanged. The view fits its own state (cursor,
// selection, zoom) to the new audio when it hears kAudio or kInstrument, so
// the edit itself only sets what it means to select.
//
// Checks and questions that may refuse the edit come before Begin: a refused
// edit leaves no undo entry and no modified flag. An edit that stops after
// Begin without Commit keeps its entry (undoing it restores the same state).
// Stopping playback (NotifyAudioAboutToChange) stays with the edit, which
// knows when it starts to touch the audio. User-interface thread only.
#pragma once

#include <optional>
#include <string>

#include "document/quorvel_doc.h"

namespace zandrel {

// Whether the edit changed the view's cursor, selection, selected region or
// beat markers (ViewSelection).
enum class SelectionMoved : bool { kNo = false, kYes = true };

class EditTransaction {
 public:
  // Records the undo entry of kind |undoKind| (kUndoWithAudio,
  // kUndoRegionsOnly) named |description|. Nothing when the user declined to
  // go on without undo: the caller then changes nothing.
  [[nodiscard]] static std::optional<EditTransaction> Begin(CQuorvelDoc& doc, int undoKind,
                                                            const std::string& description);
  // An edit that records no entry: one whose undo could not restore anything
  // sensible (the caller clears the history) or that builds a new sample.
  [[nodiscard]] static EditTransaction WithoutUndo(CQuorvelDoc& doc) { return EditTransaction(doc); }

  // Ends the edit: the document is modified, its views learn |change|, then
  // (with SelectionMoved::kYes) that the view's selection moved. Once only.
  void Commit(DocumentChange change, SelectionMoved moved = SelectionMoved::kNo);
  // Ends an edit that moved only the view's loop selection (a loop search,
  // a snap to zero crossings): the document is modified and the views learn
  // that the selection moved; no audio or instrument notification goes out.
  void CommitSelection();

  EditTransaction(EditTransaction&&) = default;
  EditTransaction& operator=(EditTransaction&&) = default;
  EditTransaction(const EditTransaction&) = delete;
  EditTransaction& operator=(const EditTransaction&) = delete;

  CQuorvelDoc& Document() const { return *doc_; }
  bool Committed() const { return committed_; }

 private:
  explicit EditTransaction(CQuorvelDoc& doc) : doc_(&doc) {}

  CQuorvelDoc* doc_;
  bool committed_ = false;
};

}  // namespace zandrel
