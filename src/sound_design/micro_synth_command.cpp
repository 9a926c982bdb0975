#include "sound_design/micro_synth_command.h"

#include <algorithm>
#include <cstring>

#include "document/edit_transaction.h"

namespace zandrel {

std::vector<int16_t> MixMicroSynth(const MicroSynthRequest& request, const MicroSynthChoice& choice,
                                   const WorkProgress& progress, bool& cancelled) {
  cancelled = false;
  const uint64_t frames = request.channels ? request.source.size() / request.channels : 0;
  // Rendering is most of the work; the mix is one sweep.
  std::vector<int16_t> note, mixed;
  const SynthRenderResult rendered = RenderSynth(choice.engine, choice.knobs, request.rootNote, request.sampleRate,
                                                 request.channels, frames, *choice.states, note,
                                                 SubProgress(progress, 0.0, 0.9));
  if (rendered.cancelled) cancelled = true;
  if (rendered.cancelled || rendered.refused) return {};
  if (!MixSynthWithSource(request.source, note, choice.mix, mixed, SubProgress(progress, 0.9, 1.0))) {
    cancelled = true;
    return {};
  }
  return mixed;
}

void OnMicroSynth(CommandContext& c, MicroSynthDialogs& dialogs) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  CWavLoader& audio = doc->audio;
  if (audio.format.wBitsPerSample != 16) {
    ShowMessage("Micro Synth only supports 16-bit audio files.", MessageIcon::Warning);
    return;
  }
  const ViewSelection& view = c.Selection();
  if (view.loopIn < 0 || view.loopOut < 0 || view.loopIn >= view.loopOut) {
    ShowMessage("Please set valid loop points first (Loop > Set Loop In/Out).", MessageIcon::Information);
    return;
  }
  MicroSynthRequest request;
  const auto& regions = doc->instrument.regions;
  if (doc->instrument.hasInstrument && view.selectedRegion >= 0 &&
      static_cast<size_t>(view.selectedRegion) < regions.size())
    request.rootNote = regions[static_cast<size_t>(view.selectedRegion)].rootNote;
  const uint16_t channels = std::max<uint16_t>(audio.format.nChannels, 1);
  const auto length = static_cast<uint64_t>(view.loopOut - view.loopIn) * channels;
  const auto offset = static_cast<uint64_t>(view.loopIn) * channels;
  if (audio.data.size() / 2 < offset + length) {
    ShowMessage("Loop points extend beyond audio data.", MessageIcon::Warning);
    return;
  }
  request.source.resize(length);
  std::memcpy(request.source.data(), audio.data.data() + offset * 2, length * 2);
  request.sampleRate = audio.format.nSamplesPerSec;
  request.channels = channels;

  MicroSynthChoice choice;
  if (!dialogs.RunMicroSynth(request, choice)) return;
  // The note and the mix, off this thread, on the copy.
  std::vector<int16_t> result;
  LongWork work{.title = "Micro Synth Shaper...",
                .compute =
                    [&](const std::function<bool(double)>& progress) {
                      bool cancelled = false;
                      result = MixMicroSynth(request, choice, progress, cancelled);
                      return !cancelled;
                    },
                .commit = {}};
  if (!c.RunLongWork(work)) return;  // cancelled: nothing changed
  if (result.empty()) {
    ShowMessage("No mixed audio was generated.", MessageIcon::Warning);
    return;
  }
  c.StopPlayback();
  doc->NotifyAudioAboutToChange();
  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoWithAudio, "SimpleSynth");
  if (!edit) return;
  const size_t count = std::min<size_t>(result.size(), length);
  std::memcpy(audio.data.data() + offset * 2, result.data(), count * 2);
  if (LogSink* log = c.Log()) log->AppendLog("Micro Synth mixed into loop.");
  edit->Commit(DocumentChange::kAudio);
}

void DeclareMicroSynthCommand(CommandRegistry& registry, MicroSynthDialogs& dialogs) {
  MicroSynthDialogs* d = &dialogs;
  // After the loop re-synthesis tools, which come after "Tune/Repitch..."
  // and a separator.
  registry.Add({.id = cmd::kMicroSynth,
                .text = "Micro Synth Shaper...",
                .menus = {{"&Audio", 610}},
                .run = [d](CommandContext& c) { OnMicroSynth(c, *d); }});
}

}  // namespace zandrel
