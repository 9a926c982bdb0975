#include "commands/editor_commands.h"

namespace zandrel {

bool ClampCursorToAudio(CQuorvelDoc& doc, ViewSelection& view) {
  const int64_t frames = doc.FrameCount();
  if (view.cursorFrame <= frames) return false;
  view.cursorFrame = frames;
  doc.NotifySelectionChanged();
  return true;
}

void DeclareMenuBar(CommandRegistry& r) {
  r.AddMenu({"&File", 100});
  r.AddMenu({"&File/Export", 300});
  r.AddMenu({"&File/Recent Files", 600, true});
  r.AddMenu({"&Edit", 200});
  r.AddMenu({"&Play", 300});
  r.AddMenu({"&Audio", 400});
  r.AddMenu({"&Selection", 450});
  r.AddMenu({"&Region", 500});
  r.AddMenu({.path = "&ReTime", .order = 550, .title = "&ReTime/ReSample"});
  r.AddMenu({"&Notes", 600});
  r.AddMenu({"&Tools", 700});
  r.AddMenu({"&View", 800});
  r.AddMenu({"&Help", 900});
}

void DeclareDocumentCommands(CommandRegistry& r) {
  auto withDocument = [](const CommandContext& c) { return c.Document() != nullptr; };
  r.Add({.id = cmd::kEditUndo,
         .text = "&Undo",
         .key = "Ctrl+Z",
         .menus = {{"&Edit", 100}},
         .contextMenus = {{"Edit", 200, "&Undo\tCtrl+Z"}, {"Loop Region", 300, "&Undo\tCtrl+Z"}},
         .toolbar = 200,
         .enabled = [](const CommandContext& c) { return c.Document() && c.Document()->CanUndo(); },
         .run =
             [](CommandContext& c) {
               // Undoing a lengthening edit shortens the audio under the cursor.
               c.Document()->OnEditUndo();
               ClampCursorToAudio(*c.Document(), c.Selection());
             }});
  r.Add({.id = cmd::kEditRedo,
         .text = "Redo",
         .key = "Ctrl+Y",
         .menus = {{"&Edit", 101}},
         .contextMenus = {{"Edit", 201, "Redo\tCtrl+Y"}, {"Loop Region", 301, "Redo\tCtrl+Y"}},
         .toolbar = 201,
         .enabled = [](const CommandContext& c) { return c.Document() && c.Document()->CanRedo(); },
         .run =
             [](CommandContext& c) {
               c.Document()->OnEditRedo();
               ClampCursorToAudio(*c.Document(), c.Selection());
             }});
  r.Add({.id = cmd::kExportWavWithoutLimits,
         .text = "Export Wav Without EP restrictions...",
         .menus = {{"&File/Export", 100}},
         .enabled = withDocument,
         .run = [](CommandContext& c) { c.Document()->OnExportWavWithoutLimits(); }});
  r.Add({.id = cmd::kExportOverview,
         .text = "Export Overview...",
         .menus = {{"&File/Export", 101}},
         .enabled = withDocument,
         .run = [](CommandContext& c) { c.Document()->OnExportOverview(); }});
  r.Add({.id = cmd::kExportInstrumentData,
         .text = "Export Instrument Data...",
         .menus = {{"&File/Export", 102}},
         .enabled = withDocument,
         .run = [](CommandContext& c) { c.Document()->OnExportInstrumentData(); }});
}

}  // namespace zandrel
