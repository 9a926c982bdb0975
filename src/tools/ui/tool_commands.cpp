#include "tools/ui/tool_commands.h"

#include <QDialog>

#include "tools/envelope_command.h"
#include "platform/message_host.h"
#include "tools/sampling/loop_take_intake.h"
#include "tools/ui/loop_sampler_dlg.h"
#include "tools/ui/play_instrument_dlg.h"
#include "tools/sampling/multisample_intake.h"
#include "tools/ui/multisample_dlg.h"
#include "tools/ui/render_akai_dlg.h"

namespace zandrel {

void DeclareToolCommands(CommandRegistry& r, QWidget* parent) {
  r.Add({.id = cmd::kLoopMaker,
         .text = "Loop Maker (MIDI/MPC to wav)",
         .menus = {{"&Tools", 200}},
         .run = WithDocument(OnLoopMaker, parent)});
  r.Add({.id = cmd::kMiniSamplerPlayer,
         .text = "Mini Sampler Player...",
         .menus = {{"&Tools", 201}},
         .run = WithDocument(OnMiniSamplerPlayer, parent)});
  r.Add({.id = cmd::kMultisampleRobot,
         .text = "MultiSample Robot (Midi+Audio)...",
         .menus = {{"&Tools", 202}},
         .run = WithDocument(OnMultisampleRobot, parent)});
  r.Add({.id = cmd::kCircularLoopSampler,
         .text = "Circular Loop Sampler...",
         .menus = {{"&Tools", 203}},
         .run = WithDocument(OnCircularLoopSampler, parent)});
}

void OnCircularLoopSampler(CommandContext& c, QWidget* parent) {
  if (!c.SaveModified()) return;
  CQuorvelDoc& doc = *c.Document();
  c.StopPlayback();
  std::vector<int16_t> take;
  std::string tempo, bars;
  {
    CLoopSamplerDlg dialog(doc.GetLog(), parent);
    if (dialog.exec() != QDialog::Accepted) return;
    take = dialog.Result();
    tempo = dialog.TempoText();
    bars = dialog.BarsText();
  }
  if (take.empty()) {
    ShowMessage(kNoTakeText);
    return;
  }
  const LoopIntakeResult result = TakeLoopIntoDocument(doc, take, tempo, bars);
  if (!result.changed) return;
  c.View().ShowTimelineInBeats();
  if (LogSink* log = doc.GetLog()) log->AppendLog(result.log);
}

void OnMiniSamplerPlayer(CommandContext& c, QWidget* parent) {
  CQuorvelDoc& doc = *c.Document();
  c.StopPlayback();
  if (!doc.HasAudio()) {
    ShowMessage(kNoAudioOpenFileText, MessageIcon::Information);
    return;
  }
  if (!doc.instrument.hasInstrument || doc.instrument.regions.empty()) {
    ShowMessage("No instrument regions found. Please create regions first.", MessageIcon::Information);
    return;
  }
  c.StopPlayback();
  CPlayInstrumentDlg dialog(&doc.audio, &doc.instrument, parent);
  dialog.exec();
  // The sliders played on the synth only; a moved envelope becomes one
  // undoable change of the document now that nothing plays.
  if (dialog.EnvelopeChanged()) CommitEnvelope(doc, dialog.KeptAttack(), dialog.KeptRelease());
}

void OnLoopMaker(CommandContext& c, QWidget* parent) {
  CQuorvelDoc& doc = *c.Document();
  if (!doc.HasAudio() || doc.instrument.regions.empty()) {
    ShowMessage("Please load a drum kit first.", MessageIcon::Warning);
    return;
  }
  CRenderAkaiDlg dialog(&doc.audio, &doc.instrument, [&c](int root) { c.PlayRegionByRootNote(root); }, parent);
  dialog.exec();
}

void OnMultisampleRobot(CommandContext& c, QWidget* parent) {
  if (!c.SaveModified()) return;
  CMultisampleDLG dialog(parent);
  if (dialog.exec() != QDialog::Accepted) return;
  TakeMultisampleIntoDocument(*c.Document(), dialog.ResultAudio(), dialog.ResultRegions());
}

}  // namespace zandrel
