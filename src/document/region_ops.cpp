#include "document/region_ops.h"

#include <algorithm>

#include "document/instrument_chunks.h"
#include "platform/text_format.h"

namespace zandrel {
namespace {

int32_t ClampKey(int64_t key) { return static_cast<int32_t>(std::clamp<int64_t>(key, 0, 127)); }

// end - start exactly, also where it does not fit an int64 (the difference
// of two int64 values always fits a uint64 magnitude).
std::string RegionLengthText(int64_t start, int64_t end) {
  if (end >= start) {
    return Format("%llu", static_cast<unsigned long long>(static_cast<uint64_t>(end) - static_cast<uint64_t>(start)));
  }
  return Format("-%llu", static_cast<unsigned long long>(static_cast<uint64_t>(start) - static_cast<uint64_t>(end)));
}

}  // namespace

void RemoveOrphanedRegions(InstrumentData& instrument, LogSink* targetLog) {
  if (!instrument.hasInstrument) return;
  StepLog step(targetLog);
  LogSink* log = step.Sink();
  std::vector<Region>& regions = instrument.regions;
  std::vector<Region> kept;
  kept.reserve(regions.size());
  for (const Region& r : regions) {
    // Bounds read from a file can be anything: a region from -1 to INT64_MAX
    // has a length no int64 holds. Such a region cannot describe audio and
    // goes like any other that does not.
    int64_t size = 0;
    const bool overflows = __builtin_sub_overflow(r.endSample, r.startSample, &size);
    if (overflows || size < kMinRegionFrames) {
      LogF(log, "Removed orphaned region: startSample=%lld, endSample=%lld (size=%s samples)",
           static_cast<long long>(r.startSample), static_cast<long long>(r.endSample),
           RegionLengthText(r.startSample, r.endSample).c_str());
    } else {
      kept.push_back(r);
    }
  }
  regions = std::move(kept);
}

void SanitizeKeyRanges(InstrumentData& instrument, LogSink* targetLog) {
  if (!instrument.hasInstrument) return;
  StepLog step(targetLog);
  LogSink* log = step.Sink();
  std::vector<Region>& regions = instrument.regions;
  if (regions.empty()) return;
  SortRegions(regions);
  // Root notes read from a file are unchecked; the zones below are widened
  // to include them, so they must be keys first.
  for (Region& r : regions) r.rootNote = ClampKey(r.rootNote);

  bool changed = false;
  Region& first = regions.front();
  if (first.loKey != 0) {
    LogF(log, "Adjusted first region loKey from %d to 0", first.loKey);
    first.loKey = 0;
    changed = true;
  }
  Region& last = regions.back();
  if (last.hiKey != 127) {
    LogF(log, "Adjusted last region hiKey from %d to 127", last.hiKey);
    last.hiKey = 127;
    changed = true;
  }

  for (size_t i = 0; i + 1 < regions.size(); ++i) {
    Region& r = regions[i];
    const Region& next = regions[i + 1];
    if (r.hiKey != next.loKey && r.hiKey != next.loKey - 1) {
      LogF(log, "Adjusted region %d hiKey from %d to %d (Closing gap to be adjacent)", static_cast<int>(i), r.hiKey,
           next.loKey - 1);
      r.hiKey = next.loKey - 1;
      changed = true;
    }
    r.loKey = ClampKey(r.loKey);
    r.hiKey = ClampKey(r.hiKey);
    if (r.hiKey < r.loKey) {
      LogF(log, "Fixed region %d: hiKey was less than loKey", static_cast<int>(i));
      r.hiKey = r.loKey;
      changed = true;
    }
    if (r.rootNote < r.loKey) {
      r.loKey = r.rootNote;
      changed = true;
    } else if (r.rootNote > r.hiKey) {
      r.hiKey = r.rootNote;
      changed = true;
    }
  }
  for (size_t i = 0; i + 1 < regions.size(); ++i) {
    if (regions[i].hiKey == regions[i + 1].loKey - 1) {
      regions[i].hiKey = regions[i + 1].loKey;
      changed = true;
    }
  }

  last.loKey = ClampKey(last.loKey);
  bool summary = changed;
  if (last.hiKey < last.loKey) {
    last.hiKey = last.loKey;
    summary = true;
  }
  // The last region's low key is clamped only now, so the boundary its left
  // neighbour took from it may still lie outside the key range.
  for (Region& r : regions) {
    r.loKey = ClampKey(r.loKey);
    r.hiKey = ClampKey(r.hiKey);
  }
  if (summary) Log(log, "MIDI key ranges sanitized to ensure continuous coverage.");
}

void TrimRegionsToDuration(InstrumentData& instrument, uint32_t sampleRate, float seconds) {
  if (!instrument.hasInstrument || seconds <= 0 || sampleRate == 0 || instrument.regions.empty()) return;
  const float limitFrames = static_cast<float>(sampleRate) * seconds;
  const int64_t limit = limitFrames >= 9.2e18f ? INT64_MAX : static_cast<int64_t>(limitFrames);
  std::vector<Region> kept;
  int32_t removedHiKey = -1;
  bool removed = false;
  for (Region r : instrument.regions) {
    if (r.startSample >= limit || r.endSample > limit) {
      removed = true;
      removedHiKey = std::max(removedHiKey, r.hiKey);
      continue;
    }
    if (r.loopStart >= limit) r.loopStart = kNoLoop;
    if (r.loopEnd > limit) r.loopEnd = kNoLoop;
    if (r.loopStart == kNoLoop || r.loopEnd == kNoLoop) r.loopStart = r.loopEnd = kNoLoop;
    kept.push_back(r);
  }
  if (removed && !kept.empty() && removedHiKey > 0 && kept.back().hiKey < removedHiKey) {
    kept.back().hiKey = removedHiKey;
  }
  instrument.regions = std::move(kept);
}

void LimitRegionCount(InstrumentData& instrument, int cap, int64_t frameCount, LogSink* log) {
  if (!instrument.hasInstrument || cap < 0) return;
  std::vector<Region>& regions = instrument.regions;
  if (regions.size() <= static_cast<size_t>(cap)) return;
  const int removed = static_cast<int>(regions.size()) - cap;
  regions.resize(static_cast<size_t>(cap));
  if (!regions.empty()) {
    regions.back().endSample = frameCount;
    regions.back().hiKey = 127;
  }
  LogF(log, "Save: Trimmed %d regions to meet EP limit of %d regions.", removed, cap);
}

void StripNonEssentialChunks(std::vector<RiffChunk>& chunks, LogSink* log) {
  std::vector<RiffChunk> kept;
  for (RiffChunk& c : chunks) {
    bool keep = c.Is("smpl");
    if (!keep && c.Is("LIST") && c.data.size() >= 4 && std::memcmp(c.data.data(), "INFO", 4) == 0) {
      for (const InfoSubChunk& sub : WalkInfoSubChunks(c).entries) keep = keep || FourCCIs(sub.id, "TNGE");
    }
    if (keep) kept.push_back(std::move(c));
  }
  chunks = std::move(kept);
  LogF(log, "Stripped non-essential chunks. Kept %d chunks (LIST/INFO/TNGE and smpl).", static_cast<int>(chunks.size()));
}

void TransposeRegions(InstrumentData& instrument, int semitones, LogSink* log) {
  if (!instrument.hasInstrument) return;
  auto move = [semitones](int32_t key) { return ClampKey(static_cast<int64_t>(key) + semitones); };
  if (instrument.regions.size() < 2) instrument.params.rootNote = move(instrument.params.rootNote);
  for (Region& r : instrument.regions) {
    r.loKey = move(r.loKey);
    r.hiKey = move(r.hiKey);
    r.rootNote = move(r.rootNote);
  }
  LogF(log, "Transposed all MIDI notes by %d semitones (%d regions updated)", semitones,
       static_cast<int>(instrument.regions.size()));
}

float EffectiveTimeLimit(const PcmFormat& format, size_t dataBytes, float timeLimit) {
  if (!(timeLimit > 0) || format.nAvgBytesPerSec == 0 || dataBytes == 0) return -1.0f;
  const float budget = static_cast<float>(kEpMaxSampleBytes) / static_cast<float>(format.nAvgBytesPerSec);
  return (budget > 0 && budget < timeLimit) ? budget : timeLimit;
}

float SaveDurationSeconds(const PcmFormat& format, size_t dataBytes) {
  if (format.nAvgBytesPerSec == 0) return 0.0f;
  return static_cast<float>(dataBytes) / static_cast<float>(format.nAvgBytesPerSec);
}

std::string TrimQuestion(float duration, float limit, uint32_t sampleRate) {
  return Format(
      "The current audio duration is %.2f seconds, which exceeds the maximum limit of %.2f seconds for %d Hz Sample "
      "Rate.\n\nThe WAV file will be trimmed to %.2f seconds when saved and the regions adjusted accordingly.\n\nDo "
      "you want to continue?",
      static_cast<double>(duration), static_cast<double>(limit), static_cast<int>(sampleRate),
      static_cast<double>(limit));
}

}  // namespace zandrel
