#include "commands/editor_commands.h"

#include "document/region_edits.h"

namespace zandrel {
namespace {

// A region edit runs after the command has returned, on the state of that
// moment; before it has run, nothing of the view's state changes.
template <typename Edit>
std::function<void(CommandContext&)> Queued(Edit edit) {
  return [edit](CommandContext& c) {
    c.Post([&c, edit] {
      if (CQuorvelDoc* doc = c.Document()) edit(*doc, c.Selection());
    });
  };
}

}  // namespace

void DeclareEditCommands(CommandRegistry& r) {
  auto withDocument = [](const CommandContext& c) { return c.Document() != nullptr; };
  r.Add({.id = cmd::kSplitAtCursor,
         .text = "Split At Cursor",
         .menus = {{"&Edit", 300}},
         .contextMenus = {{"Edit", 100, "Split Region"}, {"Loop Region", 100, "Split Region"}},
         .enabled = withDocument,
         .run = Queued([](CQuorvelDoc& doc, ViewSelection& view) { SplitRegion(doc, view); })});
  r.Add({.id = cmd::kRemoveSelectedRegion,
         .text = "Remove Selected Region",
         .menus = {{"&Edit", 301}},
         .contextMenus = {{"Region Bar", 100, "Remove Region"}},
         .enabled = withDocument,
         .run = Queued([](CQuorvelDoc& doc, ViewSelection& view) { DeleteRegion(doc, view); })});
  r.Add({.id = cmd::kDeleteWavData,
         .text = "Delete Wav Data",
         .key = "Ctrl+Del",
         .menus = {{"&Edit", 302}},
         .contextMenus = {{"Region Bar", 102, "Remove and Delete Wave"}},
         .enabled = withDocument,
         .run = Queued([](CQuorvelDoc& doc, ViewSelection& view) { RemoveAudioData(doc, view); })});
}

void PostEditRegion(CommandContext& c, std::function<Region()> pageRegion) {
  c.Post([&c, pageRegion = std::move(pageRegion)] {
    if (CQuorvelDoc* doc = c.Document()) EditRegion(*doc, c.Selection(), pageRegion());
  });
}

void PostEditGlobal(CommandContext& c, std::function<InstrumentParams()> pageParams) {
  c.Post([&c, pageParams = std::move(pageParams)] {
    if (CQuorvelDoc* doc = c.Document()) EditGlobalParameters(*doc, pageParams());
  });
}

}  // namespace zandrel
