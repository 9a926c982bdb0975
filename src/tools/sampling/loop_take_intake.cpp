#include "tools/sampling/loop_take_intake.h"

#include <cfloat>
#include <cmath>

#include "document/edit_transaction.h"
#include "document/quorvel_doc.h"
#include "document/undo_history.h"
#include "platform/text_format.h"
#include "tools/sampling/loop_sampler_engine.h"

namespace zandrel {

LoopIntakeResult TakeLoopIntoDocument(CQuorvelDoc& doc, const std::vector<int16_t>& take,
                                      const std::string& tempoText, const std::string& barsText, uint32_t rate) {
  LoopIntakeResult result;
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoWithAudio, "Circular Loop Sampler");
  if (!edit) return result;
  doc.NotifyAudioAboutToChange();
  const uint16_t channels = 1, bits = 16;
  PcmFormat& f = doc.audio.format;
  f.wFormatTag = kWaveFormatPcm;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = bits;
  f.nBlockAlign = static_cast<uint16_t>(bits * channels / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  doc.audio.isExtensible = 0;
  doc.audio.data.resize(take.size() * 2);
  for (size_t i = 0; i < take.size(); ++i) {
    const auto s = static_cast<uint16_t>(take[i]);
    doc.audio.data[2 * i] = static_cast<uint8_t>(s);
    doc.audio.data[2 * i + 1] = static_cast<uint8_t>(s >> 8);
  }

  InstrumentData& inst = doc.instrument;
  inst.regions.clear();
  inst.hasInstrument = false;
  // The old global loop may lie beyond the take.
  inst.params.loopStart = kNoLoop;
  inst.params.loopEnd = kNoLoop;
  // The tempo as typed ("120.5" or "120,5"), held in single precision; a
  // text with no number, or one no float holds, sets no tempo.
  const double typed = ReadLeadingTypedNumber(tempoText).value_or(0.0);
  const float tempo = std::fabs(typed) <= FLT_MAX ? static_cast<float>(typed) : 0.0f;
  const double frames = static_cast<double>(take.size());
  if (tempo > 0) {
    inst.params.bpm = tempo;
    inst.hasInstrument = true;
    inst.params.beats = static_cast<int32_t>(frames / rate * tempo / 60.0 + 0.5);
  }
  const int bars = LeadingInt(barsText);
  if (bars > 0) inst.params.bars = bars;
  inst.params.playMode = "loop";
  inst.params.sampleMode = "single";
  inst.params.timeMode = "bpm";
  edit->Commit(DocumentChange::kReplaced);

  result.log = Format(
      "Loop recorded successfully: %.2f seconds, %d Hz, %d-bit, %s\nTempo set to %.1f BPM, display switched to beats",
      frames / rate, static_cast<int>(rate), static_cast<int>(bits), channels == 1 ? "Mono" : "Stereo",
      static_cast<double>(tempo));
  result.changed = true;
  return result;
}

}  // namespace zandrel
