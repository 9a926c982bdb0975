#include "tools/sampling/multisample_audio.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zandrel {

void ApplyInputGain(const int16_t* samples, size_t count, double gain, int16_t* out) {
  if (gain == 1.0) {
    if (out != samples) std::copy(samples, samples + count, out);
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    const double v = std::trunc(samples[i] * gain);
    out[i] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
  }
}

int MeasureLevel(const int16_t* samples, size_t count) {
  const size_t n = std::min<size_t>(count, 2000);
  int peak = 0;
  for (size_t i = 0; i < n; ++i) peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
  const int level = static_cast<int>(std::sqrt(peak / 32768.0) * 100.0);
  return std::clamp(level, 0, 100);
}

void TrimLeadingSilence(std::vector<int16_t>& samples, uint32_t rate) {
  const auto loud = std::find_if(samples.begin(), samples.end(),
                                 [](int16_t s) { return std::abs(static_cast<int>(s)) > kMultisampleSilence; });
  if (loud == samples.end()) return;
  const size_t first = static_cast<size_t>(loud - samples.begin());
  const size_t keep = static_cast<size_t>(rate * 0.01);
  if (keep >= first) return;
  samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(first - keep));
}

void TrimTrailingSilence(std::vector<int16_t>& samples, uint32_t rate) {
  size_t last = 0;  // sample 0 is not examined: a silent note fades from its start
  for (size_t i = samples.size(); i-- > 1;) {
    if (std::abs(static_cast<int>(samples[i])) > kMultisampleSilence) {
      last = i;
      break;
    }
  }
  const size_t fade = static_cast<size_t>(rate * 0.05);
  const size_t end = std::min(samples.size(), last + fade);
  for (size_t j = last; j < end; ++j) {
    const double weight = 1.0 - static_cast<double>(j - last) / static_cast<double>(fade);
    samples[j] = static_cast<int16_t>(std::trunc(weight * samples[j]));
  }
  samples.resize(end);
}

void NormalizePeak(std::vector<int16_t>& samples) {
  int peak = 0;
  for (int16_t s : samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
  if (peak < kMultisampleSilence || peak >= kMultisampleNormalPeak) return;
  const double factor = static_cast<double>(kMultisampleNormalPeak) / peak;
  for (int16_t& s : samples) s = static_cast<int16_t>(std::trunc(s * factor));
}

Region MultisampleRegion(int note, int interval, int endNote, int64_t startFrame, int64_t frames) {
  Region region;
  region.startSample = startFrame;
  region.endSample = startFrame + frames;
  region.loopStart = kNoLoop;
  region.loopEnd = kNoLoop;
  region.loKey = note;
  region.hiKey = endNote < note + interval ? 127 : note + interval - 1;
  region.rootNote = note;
  return region;
}

std::vector<int> OverviewLevels(const int16_t* samples, size_t count, int bars) {
  std::vector<int> levels(static_cast<size_t>(std::max(bars, 0)), 0);
  if (count == 0 || bars <= 0) return levels;
  const double share = static_cast<double>(count) / bars;
  for (int i = 0; i < bars; ++i) {
    const size_t from = static_cast<size_t>(share * i);
    const size_t to = std::min(count, static_cast<size_t>(share * (i + 1)));
    int peak = 0;
    for (size_t k = from; k < to; ++k) peak = std::max(peak, std::abs(static_cast<int>(samples[k])));
    levels[static_cast<size_t>(i)] = std::min(100, static_cast<int>(peak / 32767.0 * 100.0));
  }
  return levels;
}

}  // namespace zandrel
