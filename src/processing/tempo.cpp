#include "processing/tempo.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "platform/text_format.h"
#include "processing/auto_chop.h"

namespace zandrel {

LengthTempo BpmFromLength(double seconds) {
  LengthTempo best{240.0 / seconds, 4};
  double bestError = 1.0;
  for (int beats : {1, 2, 4, 8, 16, 32, 64, 128}) {
    const double bpm = beats * 60.0 / seconds;
    if (bpm < 50.0 || bpm > 190.0) continue;
    const double error = std::fabs(bpm - std::round(bpm));
    if (bestError - 0.001 > error || (std::fabs(error - bestError) < 0.001 && bpm > best.bpm)) {
      best = {bpm, beats};
      bestError = error;
    }
  }
  return best;
}

TransientTempo BpmFromTransients(const PcmSpan& audio, int64_t start, int64_t end, const WorkProgress& progress) {
  TransientTempo out;
  const uint32_t rate = audio.sampleRate;
  const int64_t blockLength = ChopBlockLength(rate);
  bool stopped = false;
  WorkProgress levelProgress;
  if (progress) {
    levelProgress = [&](double fraction) {
      stopped = !progress(fraction);
      return !stopped;
    };
  }
  const std::vector<float> level = BlockLevels(audio, start, end, blockLength, levelProgress);
  if (stopped) {
    out.outcome = TransientTempo::Outcome::kCancelled;
    return out;
  }
  const auto count = static_cast<int64_t>(level.size());
  if (count == 0 || rate == 0) return out;

  double sum = 0.0;
  for (float v : level) sum += v;
  const double threshold = std::max(0.001, sum / static_cast<double>(count)) * 1.5;
  const int64_t spacing = (static_cast<int64_t>(rate) * 150 / 1000) / blockLength;

  // Of two peaks closer than the spacing the stronger is kept. Keeping the
  // first lets a hi-hat's sixteenth just before a kick or snare shut the hit
  // itself out, and the intervals then measure three sixteenths (160 BPM for
  // a 120 BPM loop) instead of the beat. A peak must also top every block of
  // the spacing before it: the ripples of a low kick's decaying tail rise
  // above their neighbours, but not above the kick, and counted as hits they
  // break each beat into intervals of no tempo.
  int64_t previous = -spacing;
  for (int64_t i = 1; i + 1 < count; ++i) {
    const float v = level[static_cast<size_t>(i)];
    if (!(v > threshold && v > level[static_cast<size_t>(i - 1)] && v >= level[static_cast<size_t>(i + 1)])) continue;
    const auto from = level.begin() + std::max<int64_t>(0, i - spacing);
    if (*std::max_element(from, level.begin() + i) > v) continue;
    if (i - previous > spacing) {
      out.peaks.push_back(start + i * blockLength);
      previous = i;
    } else if (v > level[static_cast<size_t>(previous)]) {
      out.peaks.back() = start + i * blockLength;
      previous = i;
    }
  }
  if (out.peaks.size() < 2) return out;

  std::map<int, int> histogram;
  for (size_t i = 1; i < out.peaks.size(); ++i) {
    const double t = static_cast<double>(out.peaks[i] - out.peaks[i - 1]) / rate;
    if (t < 0.2) continue;
    const double bpm = 60.0 / t;
    if (bpm >= 60.0 && bpm <= 200.0) {
      ++histogram[static_cast<int>(bpm + 0.5)];
    } else if (bpm > 200.0 && bpm < 400.0) {
      ++histogram[static_cast<int>(bpm / 2.0 + 0.5)];
    } else if (bpm >= 30.0 && bpm < 60.0) {
      ++histogram[static_cast<int>(2.0 * bpm + 0.5)];
    }
  }
  if (histogram.empty()) {
    out.outcome = TransientTempo::Outcome::kInconsistent;
    return out;
  }
  int bestCount = 0;
  for (const auto& [bpm, n] : histogram) {
    if (n > bestCount) {  // ascending keys: a tie keeps the lower BPM
      bestCount = n;
      out.histogramBpm = bpm;
    }
  }
  const double duration = static_cast<double>(end - start) / rate;
  // The measured tempo: each interval between consecutive peaks that lies
  // near a whole number of half beats at the winning BPM counts with that
  // number, and the half beat is their total time over their total count.
  // The 5 ms blocks make one interval's tempo uncertain by a BPM or two, but
  // a run of consecutive intervals adds up to the time between its ends.
  const double halfBeat = 30.0 / out.histogramBpm;
  double seconds = 0.0, halves = 0.0;
  for (size_t i = 1; i < out.peaks.size(); ++i) {
    const double t = static_cast<double>(out.peaks[i] - out.peaks[i - 1]) / rate;
    const double m = std::round(t / halfBeat);
    if (m >= 1.0 && std::fabs(t - m * halfBeat) < 0.25 * halfBeat) {
      seconds += t;
      halves += m;
    }
  }
  const double measured = halves > 0.0 ? 30.0 * halves / seconds : out.histogramBpm;
  int beats = std::max(1, static_cast<int>(measured * duration / 60.0 + 0.5));
  double bpm = beats * 60.0 / duration;
  if (std::fabs(bpm - measured) <= kLoopBpmTolerance) {
    // The range holds a whole number of beats: a loop, whose tempo is that
    // number over its length, within the device's comfortable range.
    while (bpm < 75.0) {
      bpm *= 2.0;
      beats *= 2;
    }
    while (bpm > 175.0) {
      bpm /= 2.0;
      beats /= 2;
    }
  } else {
    // Not a loop: rounding to whole beats would move the tempo (a 140 BPM
    // groove over 20 s to 141, one at 70 over 10 s to 72 and then 144), so
    // the measured tempo stands, with the beats it fills rounded.
    bpm = measured;
  }
  out.bpm = bpm;
  out.beats = std::max(1, beats);
  out.outcome = TransientTempo::Outcome::kFound;
  return out;
}

double MedianBeatBpm(const std::vector<double>& beatTimes) {
  if (beatTimes.size() < 2) return 0.0;
  std::vector<double> bpms;
  for (size_t i = 1; i < beatTimes.size(); ++i) {
    const double d = beatTimes[i] - beatTimes[i - 1];
    if (d > 0.0) bpms.push_back(60.0 / d);
  }
  if (bpms.empty()) return 0.0;
  std::sort(bpms.begin(), bpms.end());
  const size_t n = bpms.size();
  return n % 2 ? bpms[n / 2] : (bpms[n / 2 - 1] + bpms[n / 2]) / 2.0;
}

int64_t BeatsLengthFrames(double bpm, double beats, uint32_t rate) {
  return static_cast<int64_t>(60.0 / bpm * beats * rate);
}

std::optional<std::vector<uint8_t>> FitPcmLength(std::span<const uint8_t> pcm, size_t length,
                                                 const WorkProgress& progress) {
  constexpr size_t kLeast = size_t{64} << 10;
  constexpr size_t kMost = size_t{4} << 20;
  const size_t block = std::clamp(length / 64, kLeast, kMost);
  const size_t kept = std::min(pcm.size(), length);
  std::vector<uint8_t> out;
  out.reserve(length);  // every block below appends without moving the others
  for (size_t at = 0; at < length; at += block) {
    const size_t stop = std::min(length, at + block);
    if (at < kept) {
      const auto from = pcm.begin() + static_cast<std::ptrdiff_t>(at);
      out.insert(out.end(), from, pcm.begin() + static_cast<std::ptrdiff_t>(std::min(stop, kept)));
    }
    out.resize(stop, 0);
    if (!ReportProgress(progress, static_cast<double>(stop) / static_cast<double>(length))) return std::nullopt;
  }
  return out;
}

std::string AdjustResultText(double bpm, double beats, int64_t currentLength, uint32_t rate) {
  if (!(bpm > 0.0)) return "Invalid BPM";
  if (!(beats > 0.0)) return "Invalid beats";
  if (bpm < kMinAdjustBpm || bpm > kMaxAdjustBpm) return Format("BPM must be %.0f to %.0f", kMinAdjustBpm, kMaxAdjustBpm);
  const int64_t delta = BeatsLengthFrames(bpm, beats, rate) - currentLength;
  const double r = rate ? static_cast<double>(rate) : 1.0;
  if (delta >= 1) return Format("Will add %.3f seconds (%lld samples)", delta / r, static_cast<long long>(delta));
  if (delta < 0) return Format("Will cut %.3f seconds (%lld samples)", -delta / r, static_cast<long long>(-delta));
  return "No change needed";
}

}  // namespace zandrel
