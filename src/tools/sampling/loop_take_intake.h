// A loop sampler take entering the document: the document's audio becomes
// the take (mono 16-bit PCM at 44.1 kHz) tagged as a tempo loop, as one
// undoable edit (the undo entry holds the whole previous audio).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zandrel {

class CQuorvelDoc;

inline constexpr char kNoTakeText[] = "No take was selected or recorded.";

struct LoopIntakeResult {
  bool changed = false;  // false: the user declined going on without undo
  std::string log;       // the two log lines, joined by "\n"
};

// Replaces |doc|'s audio with |take| (|rate|, mono, 16-bit) after recording
// an undo entry with the audio: no regions, no global loop; play mode
// "loop", sample mode "single", time mode "bpm"; the tempo text (a decimal
// number as typed, with a point or a comma, whatever the locale) > 0 sets
// bpm and beats and marks the instrument present; a bars text > 0 sets bars.
// Marks the document modified and tells the views. The log has points too.
// |take| must not be empty.
LoopIntakeResult TakeLoopIntoDocument(CQuorvelDoc& doc, const std::vector<int16_t>& take,
                                      const std::string& tempoText, const std::string& barsText,
                                      uint32_t rate = 44100);

}  // namespace zandrel
