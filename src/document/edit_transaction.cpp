#include "document/edit_transaction.h"

#include <cassert>

namespace zandrel {

std::optional<EditTransaction> EditTransaction::Begin(CQuorvelDoc& doc, int undoKind, const std::string& description) {
  if (!doc.PushUndo(undoKind, description)) return std::nullopt;
  return EditTransaction(doc);
}

void EditTransaction::Commit(DocumentChange change, SelectionMoved moved) {
  assert(!committed_);
  committed_ = true;
  doc_->SetModifiedFlag(true);
  doc_->UpdateAllViews(change);
  if (moved == SelectionMoved::kYes) doc_->NotifySelectionChanged();
}

void EditTransaction::CommitSelection() {
  assert(!committed_);
  committed_ = true;
  doc_->SetModifiedFlag(true);
  doc_->NotifySelectionChanged();
}

}  // namespace zandrel
