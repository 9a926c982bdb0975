#include "processing/auto_chop.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zandrel {
namespace {

// Blocks each side of the one whose onset test runs (61 blocks in all).
constexpr int64_t kContextBlocks = 30;
// Regions this short or shorter are not made.
constexpr int64_t kShortestDroppedRegion = 49;

// |sample| over full scale for the widths the level measure reads; 0 else.
float FrameValue(const uint8_t* frame, int channels, int bits) {
  const int bytes = bits / 8;
  float sum = 0.0f;
  for (int c = 0; c < channels; ++c) {
    const uint8_t* p = frame + static_cast<ptrdiff_t>(c) * bytes;
    switch (bits) {
      case 8:
        sum += static_cast<float>(std::abs(static_cast<int>(p[0]) - 128)) / 128.0f;
        break;
      case 16:
        sum += static_cast<float>(std::abs(RawSampleAt(p, 16))) / 32768.0f;
        break;
      case 24:
        sum += static_cast<float>(std::abs(RawSampleAt(p, 24))) / 8388608.0f;
        break;
      default:
        break;
    }
  }
  return sum / static_cast<float>(channels);
}

}  // namespace

int64_t ChopBlockLength(uint32_t rate) { return std::max<int64_t>(1, rate / 200); }

std::vector<float> BlockLevels(const PcmSpan& audio, int64_t start, int64_t end, int64_t blockLength,
                               const WorkProgress& progress) {
  std::vector<float> levels;
  const int64_t frames = audio.Frames();
  start = std::max<int64_t>(start, 0);
  end = std::min(end, frames);
  if (blockLength < 1 || start >= end || audio.channels < 1) return levels;
  const int channels = audio.channels;
  const int bits = audio.bitsPerSample;
  const bool readable = (bits == 8 || bits == 16 || bits == 24) && audio.formatTag != 3 &&
                        audio.blockAlign >= channels * (bits / 8);
  const int64_t count = (end - start + blockLength - 1) / blockLength;
  levels.reserve(static_cast<size_t>(count));
  ProgressTicker ticker(progress, static_cast<uint64_t>(count), kBlocksPerReport);
  for (int64_t b = start; b < end; b += blockLength) {
    const int64_t stop = std::min(b + blockLength, end);
    float sum = 0.0f;
    if (readable) {
      for (int64_t f = b; f < stop; ++f) {
        const float v = FrameValue(audio.bytes.data() + f * audio.blockAlign, channels, bits);
        sum += v * v;
      }
    }
    levels.push_back(std::sqrt(sum / static_cast<float>(stop - b)));
    if (!ticker.Step()) return {};
  }
  return levels;
}

std::vector<int64_t> TransientOnsets(const PcmSpan& audio, float threshold, int minSpacingMs,
                                     const std::function<int64_t(int64_t)>& snap, const WorkProgress& progress) {
  std::vector<int64_t> onsets;
  const int64_t blockLength = ChopBlockLength(audio.sampleRate);
  const int64_t minGap = static_cast<int64_t>(audio.sampleRate) * minSpacingMs / 1000;
  // Stopped, the level pass returns no levels, and so no onsets are found.
  const std::vector<float> level = BlockLevels(audio, 0, audio.Frames(), blockLength, progress);
  const auto count = static_cast<int64_t>(level.size());
  if (count < 2 * kContextBlocks + 1) return onsets;

  // The window's sum slides with w; it is re-added from scratch at a jump.
  auto windowMean = [&](int64_t w) {
    double sum = 0.0;
    for (int64_t k = w - kContextBlocks; k <= w + kContextBlocks; ++k) sum += level[static_cast<size_t>(k)];
    return sum / static_cast<double>(2 * kContextBlocks + 1);
  };
  const int64_t skip = (minGap / blockLength) / 2;
  int64_t lastOnset = -minGap;
  for (int64_t w = kContextBlocks; w < count - kContextBlocks; ++w) {
    const float here = level[static_cast<size_t>(w)];
    if (!(here > level[static_cast<size_t>(w - 1)] && here > level[static_cast<size_t>(w + 1)])) continue;
    if (w * blockLength - lastOnset < minGap) continue;
    const double mean = windowMean(w);
    if (!(here > threshold * mean + 0.001)) continue;

    // Walk back to the quiet block before the rise.
    const int64_t stopAt = lastOnset > 0 ? lastOnset / blockLength : w - kContextBlocks;
    int64_t onsetBlock = w;
    float runningMin = here;
    for (int64_t i = w; i > stopAt; --i) {
      const float v = level[static_cast<size_t>(i)];
      if (v < runningMin) {
        runningMin = v;
        onsetBlock = i;
      } else if (v > 1.2f * runningMin) {
        break;
      }
    }
    int64_t onset = onsetBlock * blockLength;
    if (snap) onset = snap(onset);
    onsets.push_back(onset);
    lastOnset = onset;
    w += skip;
  }
  return onsets;
}

std::vector<Region> RegionsFromOnsets(std::vector<int64_t> onsets, int64_t frames, uint32_t rate) {
  if (onsets.empty()) {
    onsets.push_back(0);
  } else if (onsets.front() > static_cast<int64_t>(rate / 50)) {
    onsets.insert(onsets.begin(), 0);
  } else {
    onsets.front() = 0;
  }
  std::vector<Region> regions;
  for (size_t i = 0; i < onsets.size(); ++i) {
    const int64_t start = onsets[i];
    const int64_t end = i + 1 < onsets.size() ? onsets[i + 1] : frames;
    if (end - start <= kShortestDroppedRegion) continue;
    Region r;
    r.startSample = start;
    r.endSample = end;
    regions.push_back(r);
  }
  return regions;
}

int32_t MajorScaleNote(size_t index) {
  static constexpr int32_t kSteps[7] = {0, 2, 4, 5, 7, 9, 11};
  const size_t octave = index / 7;
  if (octave > 20) return 127;
  return std::clamp<int32_t>(kSteps[index % 7] + 12 * static_cast<int32_t>(octave) + 60, 0, 127);
}

void KeyRangesFromRoots(std::vector<Region>& regions, size_t count) {
  count = std::min(count, regions.size());
  for (size_t i = 0; i < count; ++i) {
    Region& r = regions[i];
    const int32_t note = r.rootNote;
    r.loKey = i == 0 ? 0 : std::min(note, regions[i - 1].rootNote + 1);
    r.hiKey = i + 1 == regions.size() ? 127 : std::min(note + 1, 127);
  }
}

void MapMajorScale(std::vector<Region>& regions, size_t count) {
  count = std::min(count, regions.size());
  for (size_t i = 0; i < count; ++i) regions[i].rootNote = MajorScaleNote(i);
  KeyRangesFromRoots(regions, count);
}

MelodySegments PrepareMelodySegments(std::vector<NoteSegment> segments, uint32_t rate) {
  MelodySegments out;
  const auto shortest = static_cast<int64_t>(rate * 0.2);
  std::erase_if(segments, [shortest](const NoteSegment& s) { return s.end - s.start < shortest; });

  std::vector<NoteSegment>& s = segments;
  const size_t n = s.size();
  if (n > 0) {
    // An octave under the note before: the detector heard the octave below.
    for (size_t i = 1; i < n; ++i) {
      if (s[i].note == s[i - 1].note - 12) {
        s[i].note = s[i - 1].note;
        ++out.corrections;
      }
    }
    // A dip between a note and the octave above the next one.
    for (size_t i = 1; i + 1 < n; ++i) {
      if (s[i].note < s[i - 1].note && s[i].note == s[i + 1].note - 12) {
        s[i].note = s[i + 1].note;
        ++out.corrections;
      }
    }
    // Anything still lower than its predecessor goes up an octave.
    for (size_t i = 1; i < n; ++i) {
      if (s[i].note < s[i - 1].note) {
        s[i].note = std::min(s[i].note + 12, 127);
        ++out.corrections;
      }
    }
  }
  for (const NoteSegment& seg : s) {
    if (!out.segments.empty() && out.segments.back().note == seg.note) {
      out.segments.back().end = seg.end;
    } else {
      out.segments.push_back(seg);
    }
  }
  return out;
}

std::vector<Region> RegionsFromSegments(const std::vector<NoteSegment>& segments, int64_t frames,
                                        bool* descending) {
  std::vector<Region> regions;
  bool down = false;
  for (size_t i = 0; i < segments.size(); ++i) {
    const int64_t start = segments[i].start;
    const int64_t end = i + 1 < segments.size() ? segments[i + 1].start : frames;
    if (end - start <= kShortestDroppedRegion) continue;
    Region r;
    r.startSample = start;
    r.endSample = end;
    r.rootNote = std::clamp(segments[i].note, 0, 127);
    if (!regions.empty() && r.rootNote < regions.back().rootNote) down = true;
    regions.push_back(r);
  }
  if (descending) *descending = down;
  return regions;
}

}  // namespace zandrel
