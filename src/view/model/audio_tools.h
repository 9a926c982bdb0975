// The edits four of the view's mouse tools apply when the button is
// released: Paint (a drawn level envelope), Rearrange (move, copy, mix or
// swap the selected audio), Time Stretch (the selected audio stretched to the
// length it was dragged to) and Retime (the loop stretched while the audio on
// the dragged side absorbs the change, so the file keeps its length).
//
// Each works on the document and the view's selection it is given, stops
// playback through the document's observers, records its undo entry (with
// the audio) only when it is about to change the audio, marks the document
// modified, notifies the views and writes its log line. What it refuses it
// says in a message box and changes nothing. The stretching goes through
// StretchWav (processing/stretch.h).
//
// Rearrange, Time Stretch and Retime grow with the length of the audio: they
// run as long work through a CommandContext (commands.h), computing over a
// copy of what they read on a worker thread, with progress and Cancel in the
// context's task host, and commit in one step here with their undo entry. A
// cancelled edit changes nothing, not even the selection: the caller drops
// the drag's preview (MouseEditing::DropToolPreview). The forms taking a
// document and a selection wait without a user interface.
// User-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "commands/commands.h"
#include "document/quorvel_doc.h"
#include "view/model/mouse_editing.h"
#include "view/model/view_model.h"

namespace zandrel {

// ----------------------------------------------------------------- Paint --

// The level of a stroke point at client row |y|: the distance from the
// waveform area's centre line in half-heights, counted on the side the
// stroke began (the other side gives 0), clamped to 0..1.
float PaintLevelAt(int y, int areaTop, int areaHeight, bool aboveCentre);
// Adds the point {u, level} to a stroke as the mouse moves: points at the
// end at or beyond u go while more than one is left, a point at u takes the
// new level, and a move back to or before the first point collapses the
// stroke to that point.
void AddPaintPoint(std::vector<PaintPoint>& stroke, int64_t u, float level);
// The painted envelope applied in blocks of 256 frames: each block's gain
// brings its peak to the envelope's level at its middle (at most 4x), ramped
// from the previous block's gain. Needs two points; 16-bit audio only
// changes. False when nothing was done.
bool ApplyPaintedLevels(CQuorvelDoc& doc, std::vector<PaintPoint> stroke);

// What a tool's edit came to.
enum class ToolEditResult {
  kApplied,    // the audio changed, with its undo entry
  kRefused,    // nothing changed (said in a message box where it says why)
  kCancelled,  // the user cancelled the long work: nothing changed, and one log line says so
};

// ------------------------------------------------------------- Rearrange --

enum RearrangeMode { kRearrangeMove = 0, kRearrangeCopy = 1, kRearrangeMix = 2, kRearrangeRipple = 3 };

// The source [srcStart, srcEnd) was dragged to the selection. Refused (no
// change) when the selection is not as long as the source (a selection held
// against the start of the audio while dragged) or either span leaves the
// audio. The length of the audio never changes; the regions stay.
// The selection is the context's.
ToolEditResult ApplyRearrange(CommandContext& c, int64_t srcStart, int64_t srcEnd, int mode);
bool ApplyRearrange(CQuorvelDoc& doc, ViewSelection& view, int64_t srcStart, int64_t srcEnd, int mode);

// ---------------------------------------------------------- Time Stretch --

// The selection [origIn, origOut) was dragged to [loopIn, loopOut): its
// audio is stretched to the new length. In place (Alt), the result
// overwrites the audio from origIn on and the length stays; otherwise it
// replaces [origIn, origOut) and regions and loop points after the span move
// by the change (clamped to the audio; regions left too short are removed).
ToolEditResult ApplyTimeStretchTool(CommandContext& c, int64_t origIn, int64_t origOut, bool inPlace);
bool ApplyTimeStretchTool(CQuorvelDoc& doc, ViewSelection& view, int64_t origIn, int64_t origOut, bool inPlace);

// ---------------------------------------------------------------- Retime --

// The loop [origIn, origOut) was dragged to [loopIn, loopOut) by its right
// (or left) handle: the loop is stretched to its new length and the audio
// after (before) it by the opposite amount, so the total length stays.
// Both parts are stretched into temporaries and brought to exactly their
// lengths before anything is written.
ToolEditResult ApplyRetime(CommandContext& c, int64_t origIn, int64_t origOut, bool rightHandle);
bool ApplyRetime(CQuorvelDoc& doc, ViewSelection& view, int64_t origIn, int64_t origOut, bool rightHandle);

// Hands the four edits above to the mouse handling of |model|'s view, which
// calls them as the tools' strokes and drags end. The long ones run in the
// context |context| returns when they run (the editor's, whose host shows
// progress and Cancel; one over |model| that waits without a user interface
// when it returns nullptr); a cancelled one drops the drag's preview.
void ConnectAudioTools(MouseEditing& mouse, ViewModel& model, std::function<CommandContext*()> context = {});

}  // namespace zandrel
