// Undo and redo entries of the document.
//
// Every edit records the state before it. An entry always holds a full copy
// of the instrument data; an entry of an edit that changes the audio also
// holds the whole audio, written to a snapshot WAV file rather than kept in
// memory, so the audio is never held twice. The undo stack keeps the newest
// 50 entries; the redo stack has no limit. A snapshot file belongs to exactly
// one entry and is deleted when the entry is dropped.
//
// Snapshots live in the process's private temporary folder, in "quorvel",
// named "Quorvel_<local time>_<counter>.wav"; the counter only grows, so names
// never repeat within a run. User-interface thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>

#include "document/instrument.h"

namespace zandrel {

enum UndoKind : int32_t {
  kUndoRegionsOnly = 0,  // the instrument data only
  kUndoWithAudio = 1,    // the instrument data and a snapshot of the audio
};

struct UndoState {
  int32_t kind = kUndoRegionsOnly;  // any value but kUndoWithAudio counts as regions-only
  InstrumentData instrument;
  std::filesystem::path snapshotPath;  // kind kUndoWithAudio only
  std::string description;             // logged as "Undo: %s" / "Redo: %s"

  bool HasSnapshot() const { return kind == kUndoWithAudio && !snapshotPath.empty(); }
};

class CUndoHistory {
 public:
  static constexpr size_t kMaxUndoEntries = 50;

  CUndoHistory() = default;
  // Deletes every snapshot file and removes the folder when it is empty.
  ~CUndoHistory();
  CUndoHistory(const CUndoHistory&) = delete;
  CUndoHistory& operator=(const CUndoHistory&) = delete;

  std::deque<UndoState> undoStack;  // newest at the back
  std::deque<UndoState> redoStack;  // newest at the back
  std::filesystem::path snapshotFolder;
  uint32_t snapshotCounter = 0;

  // Pushes onto the undo stack, dropping (and deleting the snapshots of) the
  // oldest entries beyond 50.
  void AddUndo(UndoState state);
  // The newest entry, removed from its stack; a default entry when empty.
  UndoState PopUndo();
  UndoState PopRedo();
  // Deletes the snapshots of both stacks and empties them.
  void Clear();
  // Deletes the snapshots of the redo stack and empties it.
  void ClearRedo();
  // Creates the snapshot folder when missing and returns the next file name.
  std::filesystem::path MakeSnapshotPath();

  // Deletes the entry's snapshot file, if it has one.
  static void DeleteSnapshot(const UndoState& state);
};

}  // namespace zandrel
