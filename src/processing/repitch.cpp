#include "processing/repitch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "processing/sample_access.h"
#include "processing/sinc_resampler.h"
#include "processing/snapping.h"

namespace zandrel {

double NoteFrequency(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

double FractionalNote(double hz) { return 12.0 * std::log2(hz / 440.0) + 69.0; }

int NearestNote(double hz) { return static_cast<int>(std::round(FractionalNote(hz))); }

int TruncatedNote(double hz) { return static_cast<int>(FractionalNote(hz) + 0.5); }

double CentsBetween(double a, double b) { return 1200.0 * std::log2(a / b); }

int AutoTuneTarget(int root, int detected) {
  if (root < 0) root = 60;
  return root % 12 + 12 * (detected / 12);
}

std::optional<FrameRange> SelectionInsideAudio(const ViewSelection& view, int64_t frames) {
  if (view.loopIn < 0 || view.loopOut < 0) return std::nullopt;
  const FrameRange r{std::min(view.loopIn, frames), std::min(view.loopOut, frames)};
  if (r.Empty()) return std::nullopt;
  return r;
}

std::vector<int16_t> ResampleSpan(const std::vector<uint8_t>& pcm, int channels, int64_t s, int64_t e, double ratio,
                                  const WorkProgress& progress) {
  std::vector<int16_t> out;
  if (channels <= 0 || s < 0 || e <= s) return out;
  const size_t first = static_cast<size_t>(s) * channels;
  const size_t count = static_cast<size_t>(e - s) * channels;
  if ((first + count) * sizeof(int16_t) > pcm.size()) return out;
  // The samples as 16-bit values, copied a piece at a time between reports:
  // a long selection's fresh memory takes a while to fault in.
  constexpr double kCopyDone = 0.02;
  constexpr size_t kCopyStep = size_t{1} << 20;
  std::vector<int16_t> in;
  in.reserve(count);
  while (in.size() < count) {
    const size_t done = in.size();
    in.resize(std::min(count, done + kCopyStep));
    std::memcpy(in.data() + done, pcm.data() + (first + done) * sizeof(int16_t), (in.size() - done) * sizeof(int16_t));
    if (!ReportProgress(progress, kCopyDone * static_cast<double>(in.size()) / static_cast<double>(count))) return out;
  }
  SincFilterSpec spec = SincFilterSpec::Best();
  ResampleSinc(spec, out, in.data(), static_cast<uint64_t>(e - s), channels, ratio, 0,
               SubProgress(progress, kCopyDone, 1.0));
  return out;
}

RepitchOutcome SpliceRepitched(CWavLoader& audio, InstrumentData& instrument, ViewSelection& view, int64_t s,
                               int64_t e, const std::vector<int16_t>& resampled) {
  const int channels = std::max<int>(1, audio.format.nChannels);
  const size_t block = static_cast<size_t>(channels) * sizeof(int16_t);
  RepitchOutcome out;
  out.newLength = static_cast<int64_t>(resampled.size() / static_cast<size_t>(channels));
  out.delta = out.newLength - (e - s);

  std::vector<uint8_t>& data = audio.data;
  const auto at = [&](int64_t frame) { return data.begin() + static_cast<std::ptrdiff_t>(frame * block); };
  data.erase(at(s), at(e));
  const auto* bytes = reinterpret_cast<const uint8_t*>(resampled.data());
  data.insert(at(s), bytes, bytes + out.newLength * block);

  std::vector<Region>& regions = instrument.regions;
  const auto holds = [&](const Region& r) { return r.startSample <= s && e <= r.endSample; };
  const int selected = view.selectedRegion;
  if (selected >= 0 && selected < static_cast<int>(regions.size()) && holds(regions[selected])) {
    out.adjustedRegion = selected;
  } else {
    for (size_t i = 0; i < regions.size(); ++i)
      if (holds(regions[i])) {
        out.adjustedRegion = static_cast<int>(i);
        break;
      }
  }
  if (out.adjustedRegion >= 0) regions[out.adjustedRegion].endSample += out.delta;

  const PcmSpan pcm = PcmSpan::Of(audio);
  for (size_t i = 0; i < regions.size(); ++i) {
    Region& r = regions[i];
    if (static_cast<int>(i) == out.adjustedRegion || r.startSample < e) continue;
    r.startSample += out.delta;
    r.endSample += out.delta;
    if (r.loopStart >= 0) r.loopStart = FindRisingZeroCrossing(pcm, r.loopStart + out.delta);
    if (r.loopEnd >= 0) r.loopEnd = FindRisingZeroCrossing(pcm, r.loopEnd + out.delta);
  }
  // Shorter audio can leave a region that stayed put (or the shrunk region's
  // loop, or a loop moved to a crossing) past its end: bring each back in.
  for (Region& r : regions) r = r.ClampedTo(audio.FrameCount());
  view.loopIn = s;
  view.loopOut = s + out.newLength;
  return out;
}

}  // namespace zandrel
