#include "processing/audio_edits.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "document/instrument_chunks.h"
#include "document/region_ops.h"
#include "platform/byte_sink.h"
#include "platform/text_format.h"
#include "processing/edit_positions.h"

namespace zandrel {
namespace {

// Bytes per frame as the length-changing edits count them; 0 without a
// usable format.
int64_t EditFrameBytes(const PcmFormat& f) { return static_cast<int64_t>(f.nChannels) * (f.wBitsPerSample / 8); }

int64_t EditFrameCount(const CWavLoader& audio) {
  const int64_t fb = EditFrameBytes(audio.format);
  return fb ? static_cast<int64_t>(audio.data.size()) / fb : 0;
}

// A loop point that exists clamped into [lo, hi].
int64_t ClampLoop(int64_t p, int64_t lo, int64_t hi) { return p == kNoLoop ? kNoLoop : std::clamp(p, lo, hi); }

}  // namespace

// ------------------------------------------------------------ Add Silence --

// printf's "%.0f" rounds to the nearest whole number, ties to even, as
// nearbyint does in the default rounding mode.
float SilenceSeconds(float coarse, float fine) { return std::nearbyint(coarse) + fine; }

int64_t SilenceFrames(uint32_t rate, float seconds) {
  const double frames = std::trunc(static_cast<double>(static_cast<float>(rate) * seconds));
  return frames > 0 ? static_cast<int64_t>(frames) : 0;
}

std::string SilenceLogLine(float seconds, int64_t frames) {
  return Format("Inserted %.2f seconds (%lld samples) of silence", static_cast<double>(seconds),
                static_cast<long long>(frames));
}

int64_t InsertSilence(CWavLoader& audio, InstrumentData& instrument, ViewSelection& view, int64_t frames) {
  const int64_t blockAlign = audio.format.nBlockAlign;
  const int64_t n = audio.FrameCount();
  // After an undo of an append, or a cut, the cursor can lie past the end.
  const int64_t c = std::clamp<int64_t>(view.cursorFrame, 0, n);
  const int64_t s = std::max<int64_t>(frames, 0);
  if (blockAlign == 0) return c;
  // Silence of 8-bit audio is 128, of the signed widths 0.
  const uint8_t zero = audio.format.wBitsPerSample == 8 ? 0x80 : 0x00;
  audio.data.insert(audio.data.begin() + static_cast<ptrdiff_t>(c * blockAlign), static_cast<size_t>(s * blockAlign),
                    zero);

  for (Region& r : instrument.regions) {
    if (r.startSample >= c) {
      r.startSample = ShiftFrame(r.startSample, s);
      r.endSample = ShiftFrame(r.endSample, s);
      if (r.loopStart != kNoLoop) r.loopStart = ShiftFrame(r.loopStart, s);
      if (r.loopEnd != kNoLoop) r.loopEnd = ShiftFrame(r.loopEnd, s);
    } else if (c < r.endSample) {
      r.endSample = ShiftFrame(r.endSample, s);
      if (r.loopStart != kNoLoop && r.loopStart >= c) r.loopStart = ShiftFrame(r.loopStart, s);
      if (r.loopEnd != kNoLoop && r.loopEnd >= c) r.loopEnd = ShiftFrame(r.loopEnd, s);
    }
  }
  if (view.loopIn >= c) view.loopIn += s;
  if (view.loopOut > c) view.loopOut += s;
  view.cursorFrame = c + s;
  return c;
}

// --------------------------------------------------------- Delete Outside --

std::optional<EditRefusal> CheckKeepRange(const CWavLoader& audio, int64_t a, int64_t b) {
  if (a == -1 || b == -1) {
    return EditRefusal{"No loop points set. Please set loop start and loop end first.", MessageIcon::Warning};
  }
  if (a >= b) return EditRefusal{"Invalid loop range. Loop start must be before loop end.", MessageIcon::Warning};
  if (audio.data.empty()) return EditRefusal{kNoAudioText, MessageIcon::Warning};
  const int64_t n = EditFrameCount(audio);
  if (a < 0 || b > n) return EditRefusal{"Loop range exceeds file boundaries.", MessageIcon::Warning};
  if (a == 0 && b == n) {
    return EditRefusal{"Loop already spans the entire file. Nothing to delete.", MessageIcon::Information};
  }
  return std::nullopt;
}

std::string KeepRangeQuestion(int64_t a, int64_t b) {
  return Format(
      "This will delete:\n- Everything before sample %lld\n- Everything after sample %lld\n\nOnly the loop region "
      "(%lld samples) will remain.\n\nContinue?",
      static_cast<long long>(a), static_cast<long long>(b), static_cast<long long>(b - a));
}

void KeepRange(CWavLoader& audio, InstrumentData& instrument, ViewSelection& view, int64_t a, int64_t b,
               LogSink* log) {
  if (CheckKeepRange(audio, a, b)) return;
  std::vector<Region>& regions = instrument.regions;
  std::vector<bool> remove(regions.size(), false);
  for (size_t i = 0; i < regions.size(); ++i) {
    Region& r = regions[i];
    if (r.endSample <= a || r.startSample >= b) {
      remove[i] = true;
    } else if (r.startSample < a) {
      r.startSample = a;
      r.endSample = std::min(r.endSample, b);
      r.loopStart = ClampLoop(r.loopStart, a, b);
      r.loopEnd = ClampLoop(r.loopEnd, a, b);
    } else if (r.endSample > b) {
      r.endSample = b;
      if (r.loopStart != kNoLoop) r.loopStart = std::min(r.loopStart, b);
      if (r.loopEnd != kNoLoop) r.loopEnd = std::min(r.loopEnd, b);
    }
  }
  for (size_t i = regions.size(); i-- > 0;) {
    if (!remove[i]) continue;
    LogF(log, "Removing region %d (outside loop)", static_cast<int>(i));
    regions.erase(regions.begin() + static_cast<ptrdiff_t>(i));
  }

  const int64_t fb = EditFrameBytes(audio.format);
  audio.data.resize(static_cast<size_t>(b * fb));
  audio.data.erase(audio.data.begin(), audio.data.begin() + static_cast<ptrdiff_t>(a * fb));

  for (Region& r : regions) {
    r.startSample -= a;
    r.endSample -= a;
    if (r.loopStart != kNoLoop) r.loopStart = ShiftFrame(r.loopStart, -a);
    if (r.loopEnd != kNoLoop) r.loopEnd = ShiftFrame(r.loopEnd, -a);
  }
  if (regions.empty()) {
    Log(log, "WARNING: All regions were removed. Creating default region.");
    Region whole;
    whole.startSample = 0;
    whole.endSample = b - a;
    regions.push_back(whole);
    instrument.hasInstrument = true;
  }
  LogF(log, "Deleted audio outside loop. Kept %lld samples.", static_cast<long long>(b - a));
  LogF(log, "Remaining regions: %d", static_cast<int>(regions.size()));
  RemoveOrphanedRegions(instrument, log);
  SanitizeKeyRanges(instrument, log);

  view.selectedRegion = -1;
  view.loopIn = 0;
  view.loopOut = b - a;
  view.cursorFrame = 0;
}

// ---------------------------------------------------- Remove All Silences --

double SilenceThreshold(int bits) {
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0.0;
  return (std::ldexp(1.0, bits - 1) - 1.0) * 0.005;
}

int64_t MinimumSilentFrames(uint32_t rate) { return static_cast<int64_t>(rate * 0.05); }

std::vector<FrameSpan> FindSilentSpans(const PcmSpan& pcm, int64_t r0, int64_t r1) {
  std::vector<FrameSpan> spans;
  const int bits = pcm.bitsPerSample;
  const double threshold = SilenceThreshold(bits);
  const int bytes = bits / 8;
  if (threshold <= 0.0 || pcm.channels == 0 || pcm.blockAlign < pcm.channels * bytes) return spans;
  const int64_t frames = pcm.Frames();
  r0 = std::clamp<int64_t>(r0, 0, frames);
  r1 = std::clamp<int64_t>(r1, r0, frames);
  const int64_t minimum = MinimumSilentFrames(pcm.sampleRate);

  auto silent = [&](int64_t frame) {
    const uint8_t* p = pcm.bytes.data() + frame * pcm.blockAlign;
    int64_t peak = 0;
    for (int ch = 0; ch < pcm.channels; ++ch) {
      // RawSampleAt gives 8-bit samples as byte - 128.
      const int64_t v = RawSampleAt(p + ch * bytes, bits);
      peak = std::max(peak, v < 0 ? -v : v);
    }
    return static_cast<double>(peak) < threshold;
  };

  int64_t runStart = -1;
  for (int64_t f = r0; f < r1; ++f) {
    if (silent(f)) {
      if (runStart < 0) runStart = f;
    } else if (runStart >= 0) {
      if (f - runStart >= minimum) spans.push_back({runStart, f});
      runStart = -1;
    }
  }
  if (runStart >= 0 && r1 - runStart >= minimum) spans.push_back({runStart, r1});
  return spans;
}

int64_t MapPositionAfterRemoval(int64_t p, const FrameSpan& span) {
  if (p <= span.start) return p;
  if (p <= span.end) return span.start;
  return p - (span.end - span.start);
}

void RemoveSpans(CWavLoader& audio, InstrumentData& instrument, ViewSelection& view,
                 const std::vector<FrameSpan>& spans) {
  const int64_t fb = EditFrameBytes(audio.format);
  if (fb == 0) return;
  for (size_t i = spans.size(); i-- > 0;) {
    const FrameSpan& span = spans[i];
    const int64_t v = span.start, w = span.end, d = w - v;
    if (v < 0 || w <= v || w > EditFrameCount(audio)) continue;
    audio.data.erase(audio.data.begin() + static_cast<ptrdiff_t>(v * fb),
                     audio.data.begin() + static_cast<ptrdiff_t>(w * fb));
    auto map = [&](int64_t p) { return p == kNoLoop ? kNoLoop : MapPositionAfterRemoval(p, span); };
    for (Region& r : instrument.regions) {
      if (r.endSample <= v) continue;
      if (r.startSample >= w) {
        r.startSample -= d;
        r.endSample -= d;
        if (r.loopStart != kNoLoop) r.loopStart = ShiftFrame(r.loopStart, -d);
        if (r.loopEnd != kNoLoop) r.loopEnd = ShiftFrame(r.loopEnd, -d);
      } else if (r.startSample < v && r.endSample > w) {
        r.endSample -= d;
        r.loopStart = map(r.loopStart);
        r.loopEnd = map(r.loopEnd);
      } else {
        // The region begins or ends inside the span (or lies wholly inside
        // it and is left empty). Its loop points land where the mapping
        // puts their audio, held inside the region.
        if (r.startSample < v) {
          r.endSample = v;
        } else {
          r.endSample = r.endSample > w ? r.endSample - d : v;
          r.startSample = v;
        }
        if (r.loopStart != kNoLoop) r.loopStart = std::clamp(map(r.loopStart), r.startSample, r.endSample);
        if (r.loopEnd != kNoLoop) r.loopEnd = std::clamp(map(r.loopEnd), r.startSample, r.endSample);
      }
    }
    view.loopIn = MapPositionAfterRemoval(view.loopIn, span);
    view.loopOut = MapPositionAfterRemoval(view.loopOut, span);
  }
  view.cursorFrame = std::min(view.cursorFrame, EditFrameCount(audio));
}

// ----------------------------------------------------- Remove All Regions --

void ClearRegions(InstrumentData& instrument, ViewSelection& view) {
  instrument.regions.clear();
  view.loopIn = view.loopOut = -1;
  view.selectedRegion = -1;
}

// ------------------------------------------------------- Export Selection --

std::optional<EditRefusal> CheckExportSelection(const CWavLoader& audio, int64_t loopIn, int64_t loopOut) {
  if (audio.data.empty()) return EditRefusal{"Please open a WAV file first.", MessageIcon::None};
  if (loopIn < 0 || loopIn >= loopOut) {
    return EditRefusal{"Please select a valid region first (loop start < loop end).", MessageIcon::None};
  }
  if (audio.FrameCount() < loopOut) return EditRefusal{"Selection end is beyond audio data.", MessageIcon::None};
  return std::nullopt;
}

ExportSelectionResult ExportSelection(const CWavLoader& audio, const InstrumentData& instrument, int64_t loopIn,
                                      int64_t loopOut, LogSink* log) {
  ExportSelectionResult result;
  if ((result.refusal = CheckExportSelection(audio, loopIn, loopOut))) return result;

  // The save's preparation, on copies: the open document keeps its regions
  // and chunks.
  InstrumentData inst = instrument;
  RemoveOrphanedRegions(inst, log);
  CWavLoader header;
  header.format = audio.format;
  header.extensibleFormat = audio.extensibleFormat;
  header.isExtensible = audio.isExtensible;
  header.chunks = audio.chunks;
  StripNonEssentialChunks(header.chunks, log);
  UpdateSmplChunk(header.chunks, inst, audio.format.nSamplesPerSec, log);
  UpdateAcidChunk(header.chunks, inst, log);
  WriteInstrumentChunkFor(inst, loopIn, loopOut, header.chunks);

  const size_t blockAlign = audio.format.nBlockAlign;
  const std::span<const uint8_t> selection(audio.data.data() + static_cast<size_t>(loopIn) * blockAlign,
                                           static_cast<size_t>(loopOut - loopIn) * blockAlign);
  MemoryByteSink sink(result.file);
  WavWriteError error;
  if (!header.WriteTo(sink, selection, &error)) {
    result.file.clear();
    result.refusal = EditRefusal{"Failed to export selection.", MessageIcon::Error};
    return result;
  }
  result.frames = loopOut - loopIn;
  return result;
}

std::string ExportSelectionDefaultName(const std::string& pathName, const std::string& title) {
  // Only a dot of the file name ends the stem, not one of a folder.
  auto stem = [](const std::string& s) {
    const size_t slash = s.find_last_of("/\\");
    const size_t dot = s.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return s;
    return s.substr(0, dot);
  };
  return stem(pathName) + "_" + stem(title) + "_selection.wav";
}

std::string ExportSelectionLogLine(const std::filesystem::path& file, int64_t frames, uint32_t rate) {
  return Format("Selection exported successfully to:\n%s\n(%lld samples, %.3f seconds)", file.string().c_str(),
                static_cast<long long>(frames), rate ? static_cast<double>(frames) / rate : 0.0);
}

}  // namespace zandrel
