#include "app/app_commands.h"

#include "app/main_frame.h"
#include "app/quorvel_app.h"

namespace zandrel {

void DeclareAppCommands(CommandRegistry& r, CQuorvelApp& app, CMainFrame& frame) {
  CQuorvelApp* a = &app;
  CMainFrame* f = &frame;
  r.Add({.id = cmd::kFileNew,
         .text = "&New",
         .key = "Ctrl+N",
         .menus = {{"&File", 100}},
         .toolbar = 100,
         .run = [a](CommandContext&) { a->OnFileNew(); }});
  r.Add({.id = cmd::kFileOpen,
         .text = "&Open...",
         .key = "Ctrl+O",
         .menus = {{"&File", 101}},
         .toolbar = 101,
         .run = [a](CommandContext&) { a->OnFileOpen(); }});
  // Ctrl+S is Save As: saving always asks for a file name.
  r.Add({.id = cmd::kFileSaveAs,
         .text = "Save &Wav...",
         .key = "Ctrl+S",
         .menus = {{"&File", 102}},
         .toolbar = 102,
         .run = [a](CommandContext&) { a->OnFileSaveAs(); }});
  r.Add({.id = cmd::kFileSave, .text = "", .run = [a](CommandContext&) { a->OnFileSaveAs(); }});
  r.Add({.id = cmd::kNewEmptySample,
         .text = "New Empty 1s Sample",
         .menus = {{"&File", 200}},
         .run = [a](CommandContext&) { a->OnNewEmptySample(); }});
  r.Add({.id = cmd::kFilePrint,
         .text = "&Print...",
         .key = "Ctrl+P",
         .menus = {{"&File", 500}},
         .run = [f](CommandContext&) { f->OnFilePrint(); }});
  r.Add({.id = cmd::kFilePrintDirect, .text = "", .run = [f](CommandContext&) { f->OnFilePrint(); }});
  r.Add({.id = cmd::kFilePrintPreview,
         .text = "Print Pre&view",
         .menus = {{"&File", 501}},
         .run = [f](CommandContext&) { f->OnFilePrintPreview(); }});
  r.Add({.id = cmd::kFilePrintSetup,
         .text = "P&rint Setup...",
         .menus = {{"&File", 502}},
         .run = [f](CommandContext&) { f->OnFilePrintSetup(); }});
  r.Add({.id = cmd::kAppExit,
         .text = "E&xit",
         .menus = {{"&File", 700}},
         .run = [f](CommandContext&) { f->close(); }});
  r.Add({.id = cmd::kViewCustomize,
         .text = "Customize...",
         .menus = {{"&View", 100}},
         .run = [f](CommandContext&) { f->OnViewCustomize(); }});
  r.Add({.id = cmd::kAppAbout,
         .text = "&About Zandrel...",
         .menus = {{"&Help", 100}},
         .run = [a](CommandContext&) { a->OnAppAbout(); }});
}

}  // namespace zandrel
