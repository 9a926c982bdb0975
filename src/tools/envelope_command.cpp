#include "tools/envelope_command.h"

namespace zandrel {

bool CommitEnvelope(CQuorvelDoc& doc, int attack, int release) {
  InstrumentParams& params = doc.instrument.params;
  if (params.attack == attack && params.release == release) return false;
  if (!doc.PushUndo(kUndoRegionsOnly, "Envelope")) return false;
  params.attack = attack;
  params.release = release;
  doc.SetModifiedFlag(true);
  doc.UpdateAllViews(DocumentChange::kInstrument);
  return true;
}

}  // namespace zandrel
