#include "app/tool_commands.h"

#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "commands/envelope_command.h"
#include "platform/message_host.h"
#include "tools/ui/play_instrument_dlg.h"
#include "tools/sampling/multisample_intake.h"
#include "tools/ui/multisample_dlg.h"
#include "tools/ui/render_akai_dlg.h"

namespace zandrel {

void DeclareToolCommands(CommandRegistry& r, CQuorvelApp& app) {
  CQuorvelApp* a = &app;
  r.Add({.id = cmd::kLoopMaker,
         .text = "Loop Maker (MIDI/MPC to wav)",
         .menus = {{"&Tools", 200}},
         .run = [a](CommandContext&) { OnLoopMaker(*a); }});
  r.Add({.id = cmd::kMiniSamplerPlayer,
         .text = "Mini Sampler Player...",
         .menus = {{"&Tools", 201}},
         .run = [a](CommandContext&) { OnMiniSamplerPlayer(*a); }});
  r.Add({.id = cmd::kMultisampleRobot,
         .text = "MultiSample Robot (Midi+Audio)...",
         .menus = {{"&Tools", 202}},
         .run = [a](CommandContext&) { OnMultisampleRobot(*a); }});
}

void OnMiniSamplerPlayer(CQuorvelApp& app) {
  CQuorvelDoc& doc = app.Document();
  CMainFrame& frame = app.MainFrame();
  frame.view->StopPlayback();
  if (!doc.HasAudio()) {
    ShowMessage("No audio data loaded. Please open a WAV file first.", MessageIcon::Information);
    return;
  }
  if (!doc.instrument.hasInstrument || doc.instrument.regions.empty()) {
    ShowMessage("No instrument regions found. Please create regions first.", MessageIcon::Information);
    return;
  }
  frame.view->StopPlayback();
  CPlayInstrumentDlg dialog(&doc.audio, &doc.instrument, &frame);
  dialog.exec();
  // The sliders played on the synth only; a moved envelope becomes one
  // undoable change of the document now that nothing plays.
  if (dialog.EnvelopeChanged()) CommitEnvelope(doc, dialog.AttackValue(), dialog.ReleaseValue());
}

void OnLoopMaker(CQuorvelApp& app) {
  CQuorvelDoc& doc = app.Document();
  CMainFrame& frame = app.MainFrame();
  if (!doc.HasAudio() || doc.instrument.regions.empty()) {
    ShowMessage("Please load a drum kit first.", MessageIcon::Warning);
    return;
  }
  CRenderAkaiDlg dialog(&doc.audio, &doc.instrument, [&frame](int root) { frame.view->PlayRegionByRootNote(root); },
                        &frame);
  dialog.exec();
}

void OnMultisampleRobot(CQuorvelApp& app) {
  if (!app.SaveModified()) return;
  CMultisampleDLG dialog(&app.MainFrame());
  if (dialog.exec() != QDialog::Accepted) return;
  TakeMultisampleIntoDocument(app.Document(), dialog.ResultAudio(), dialog.ResultRegions());
}

}  // namespace zandrel
