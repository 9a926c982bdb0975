// The commands that need nothing but the document and the view's selection,
// the menu bar's menus, and the ids still waiting for their bodies.
#pragma once

#include <functional>
#include <set>

#include "commands/commands.h"
#include "document/instrument.h"

namespace zandrel {

// The menus of the menu bar, by order: "&File" 100 (with its submenus
// "Export" at 300 and the recent-file list at 600), "&Edit" 200, "&Play" 300,
// "&Audio" 400, "&Selection" 450, "&Region" 500, "&ReTime" 550, "&Notes" 600,
// "&Tools" 700, "&View" 800, "&Help" 900. A menu that holds nothing is not
// shown.
void DeclareMenuBar(CommandRegistry& registry);
// Undo, Redo and the document's exports and reports.
void DeclareDocumentCommands(CommandRegistry& registry);
// Split At Cursor, Remove Selected Region, Delete Wav Data: each queues its
// region edit (document/region_edits.h), which reads the view's state when
// it runs and changes nothing of it before.
void DeclareEditCommands(CommandRegistry& registry);
// The commands that show in the menus and keys already but whose bodies
// later work builds; they show disabled.
void DeclareBuiltLaterCommands(CommandRegistry& registry);
// (DeclareCoreCommands, in processing/processing_commands.h, adds these to
// the processing folder's commands.)

// The ids declared without a body. Giving one of them its body means taking
// it out of this list (CommandRegistry::Problems() checks both ways).
const std::set<int>& BuiltLaterIds();

// Brings the view's cursor back into the audio (0..frames) once the audio
// got shorter, announcing the change; a cursor of -1 (none) stays. True when
// it moved.
bool ClampCursorToAudio(CQuorvelDoc& doc, ViewSelection& view);

// The Region and Global pages' "Update": queue copying the page's values
// (read when the edit runs) over the selected region or the settings.
void PostEditRegion(CommandContext& context, std::function<Region()> pageRegion);
void PostEditGlobal(CommandContext& context, std::function<InstrumentParams()> pageParams);

}  // namespace zandrel
