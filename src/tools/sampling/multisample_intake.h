// The multisample robot's result entering the document: one undoable change
// that replaces the document's sample with the recorded notes and their
// regions, mapped across the whole keyboard. User-interface thread.
#pragma once

#include <cstdint>
#include <span>

#include "document/quorvel_doc.h"

namespace zandrel {

// Undo text of the intake.
inline constexpr const char* kMultisampleUndoText = "MultiSample Robot";

// Takes |audio| (mono 16-bit at 44100 frames per second) and |regions| into
// |doc| after recording an undo entry with the old audio. An empty result is
// refused with a message and changes nothing; so does declining to go on
// without undo. True when the document changed.
bool TakeMultisampleIntoDocument(CQuorvelDoc& doc, std::span<const int16_t> audio, std::span<const Region> regions);

}  // namespace zandrel
