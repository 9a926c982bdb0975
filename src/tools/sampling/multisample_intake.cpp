#include "tools/sampling/multisample_intake.h"

#include <cstring>

#include "document/edit_transaction.h"
#include "platform/log_sink.h"
#include "platform/message_host.h"
#include "tools/sampling/multisample_run.h"

namespace zandrel {

bool TakeMultisampleIntoDocument(CQuorvelDoc& doc, std::span<const int16_t> audio, std::span<const Region> regions) {
  if (audio.empty()) {
    ShowMessage("No audio data was recorded.");
    return false;
  }
  if (regions.empty()) {
    ShowMessage("No regions were created.");
    return false;
  }
  doc.NotifyAudioAboutToChange();
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoWithAudio, kMultisampleUndoText);
  if (!edit) return false;

  // The old file's chunks, loop points and settings describe another sample.
  doc.ClearAudio();
  PcmFormat& format = doc.audio.format;
  format.wFormatTag = kWaveFormatPcm;
  format.nChannels = 1;
  format.nSamplesPerSec = kMultisampleRate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = static_cast<uint16_t>(format.wBitsPerSample * format.nChannels / 8);
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  doc.audio.data.resize(audio.size_bytes());
  std::memcpy(doc.audio.data.data(), audio.data(), audio.size_bytes());

  InstrumentData& inst = doc.instrument;
  inst.hasInstrument = true;
  inst.regions.assign(regions.begin(), regions.end());
  inst.regions.front().loKey = 0;
  inst.regions.back().hiKey = 127;
  InstrumentParams& p = inst.params;
  p.playMode = "key";
  p.rootNote = 60;
  for (const Region& r : inst.regions) {
    if (r.rootNote % 12 == 0) {
      p.rootNote = r.rootNote;
      break;
    }
  }
  p.pitch = 0;
  p.pan = 0;
  p.amplitude = 100;
  p.attack = 0;
  p.release = 0;
  p.timeMode = "off";
  p.sampleMode = "multi";
  p.bpm = 120.0f;
  p.beats = 4;
  p.loopStart = kNoLoop;
  p.loopEnd = kNoLoop;
  p.smplUnityNote = -1;

  edit->Commit(DocumentChange::kReplaced);
  LogF(doc.GetLog(), "Multisample complete!\n\nRegions created: %d\nTotal samples: %lld",
       static_cast<int>(inst.regions.size()), static_cast<long long>(doc.audio.FrameCount()));
  return true;
}

}  // namespace zandrel
