#include "view/model/view_commands.h"

namespace zandrel {

void DeclareViewCommands(CommandRegistry& r, ViewModel& model) {
  ViewModel* m = &model;
  auto key = [m](ViewKey k) { return [m, k](CommandContext&) { m->HandleKey(k); }; };
  r.Add({.id = cmd::kPlayStop,
         .text = "Play/Stop",
         .key = "Space",
         .menus = {{"&Play", 100}},
         .checked = [](const CommandContext& c) { return c.IsPlaying(); },
         .run = key(ViewKey::kSpace)});
  r.Add({.id = cmd::kLoop,
         .text = "Loop",
         .key = "L",
         .menus = {{"&Play", 101}},
         .checked = [](const CommandContext& c) { return c.Selection().loopPlayback; },
         .run = key(ViewKey::kLoop)});
  r.Add({.id = cmd::kSetLoopIn, .text = "Set Loop In", .key = "I", .run = key(ViewKey::kLoopIn)});
  r.Add({.id = cmd::kSetLoopOut, .text = "Set Loop Out", .key = "O", .run = key(ViewKey::kLoopOut)});
  r.Add({.id = cmd::kSelectAll,
         .text = "Select All",
         .key = "Ctrl+A",
         .menus = {{"&Edit", 200}},
         .run = key(ViewKey::kSelectAll)});
  r.Add({.id = cmd::kDeselect,
         .text = "Deselect",
         .key = "Ctrl+D",
         .menus = {{"&Edit", 201}},
         .run = [m](CommandContext&) { m->ClearSelection(); }});
}

}  // namespace zandrel
