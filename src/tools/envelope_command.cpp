#include "tools/envelope_command.h"

#include "document/edit_transaction.h"

namespace zandrel {

bool CommitEnvelope(CQuorvelDoc& doc, int attack, int release) {
  InstrumentParams& params = doc.instrument.params;
  if (params.attack == attack && params.release == release) return false;
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoRegionsOnly, "Envelope");
  if (!edit) return false;
  params.attack = attack;
  params.release = release;
  edit->Commit(DocumentChange::kInstrument);
  return true;
}

}  // namespace zandrel
