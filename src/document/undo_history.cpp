#include "document/undo_history.h"

#include <ctime>
#include <system_error>

#include "platform/temp_folder.h"
#include "platform/text_format.h"

namespace zandrel {
namespace fs = std::filesystem;

CUndoHistory::~CUndoHistory() {
  Clear();
  if (!snapshotFolder.empty()) {
    std::error_code ec;
    fs::remove(snapshotFolder, ec);  // fails, as it should, while other files remain
  }
}

void CUndoHistory::DeleteSnapshot(const UndoState& state) {
  if (!state.HasSnapshot()) return;
  std::error_code ec;
  fs::remove(state.snapshotPath, ec);
}

void CUndoHistory::AddUndo(UndoState state) {
  undoStack.push_back(std::move(state));
  while (undoStack.size() > kMaxUndoEntries) {
    DeleteSnapshot(undoStack.front());
    undoStack.pop_front();
  }
}

UndoState CUndoHistory::PopUndo() {
  if (undoStack.empty()) return {};
  UndoState state = std::move(undoStack.back());
  undoStack.pop_back();
  return state;
}

UndoState CUndoHistory::PopRedo() {
  if (redoStack.empty()) return {};
  UndoState state = std::move(redoStack.back());
  redoStack.pop_back();
  return state;
}

void CUndoHistory::ClearRedo() {
  for (const UndoState& s : redoStack) DeleteSnapshot(s);
  redoStack.clear();
}

void CUndoHistory::Clear() {
  for (const UndoState& s : undoStack) DeleteSnapshot(s);
  undoStack.clear();
  ClearRedo();
}

fs::path CUndoHistory::MakeSnapshotPath() {
  if (!snapshotFolder.empty()) CreatePrivateFolder(snapshotFolder);  // a failure shows when the save fails
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &local);
  return snapshotFolder / Format("Quorvel_%s_%04u.wav", stamp, snapshotCounter++);
}

}  // namespace zandrel
