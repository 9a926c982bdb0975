// The instrument's global attack and release as one undoable change: the
// mini sampler player commits its envelope sliders through it when it closes.
#pragma once

#include "document/quorvel_doc.h"

namespace zandrel {

// Records an instrument-only undo entry "Envelope", writes |attack| and
// |release| into the global settings, marks the document modified and
// announces an instrument change. Nothing (and false) when both already hold
// those values or the user declined to go on without undo.
bool CommitEnvelope(CQuorvelDoc& doc, int attack, int release);

}  // namespace zandrel
