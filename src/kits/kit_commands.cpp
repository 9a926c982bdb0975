#include "kits/kit_commands.h"

#include "kits/akai_kit.h"
#include "kits/folder_import.h"
#include "kits/maschine_import.h"

namespace zandrel {

void DeclareKitCommands(CommandRegistry& r) {
  r.AddMenu({"&File/Import", 250});
  r.Add({.id = cmd::kImportAkaiKit,
         .text = "Import AKAI Keygroup/Kit...",
         .menus = {{"&File/Import", 100}},
         .run = [](CommandContext& c) {
           if (CQuorvelDoc* doc = c.Document()) OnImportAkaiKit(*doc, [&c] { return c.SaveModified(); });
         }});
  r.Add({.id = cmd::kImportMaschineGroup,
         .text = "Import Maschine Group...",
         .menus = {{"&File/Import", 101}},
         .run = [](CommandContext& c) {
           if (CQuorvelDoc* doc = c.Document()) OnImportMaschineGroup(*doc, [&c] { return c.SaveModified(); });
         }});
  r.Add({.id = cmd::kImportWavsFromFolder,
         .text = "Import Wavs From Folder...",
         .menus = {{"&File/Import", 102}},
         .run = [](CommandContext& c) {
           if (CQuorvelDoc* doc = c.Document()) OnImportWavsFromFolder(*doc, [&c] { return c.SaveModified(); });
         }});
  r.Add({.id = cmd::kImportSmplTrekKit,
         .text = "Import SmplTrek kit...",
         .menus = {{"&File/Import", 103}},
         .run = [](CommandContext& c) {
           if (CQuorvelDoc* doc = c.Document()) OnImportSmplTrekKit(*doc, [&c] { return c.SaveModified(); });
         }});
  r.Add({.id = cmd::kExportAkaiKeygroup,
         .text = "Export AKAI Keygroup...",
         .menus = {{"&File/Export", 103}},
         .run = [](CommandContext& c) {
           if (const CQuorvelDoc* doc = c.Document()) OnExportAkaiKeygroup(*doc);
         }});
}

}  // namespace zandrel
