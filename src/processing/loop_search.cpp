#include "processing/loop_search.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>

#include "platform/text_format.h"
#include "platform/work_progress.h"
#include "processing/parallel.h"
#include "processing/snapping.h"

namespace zandrel {
namespace {

constexpr double kLargest = std::numeric_limits<double>::max();

// Forwards progress from any worker thread to the caller's callback, one
// call at a time, and remembers a refusal so every thread stops.
class ProgressGate {
 public:
  explicit ProgressGate(const LoopProgress& progress) : progress_(progress) {}
  bool Report(double fraction) {
    if (stopped_.load(std::memory_order_relaxed)) return false;
    if (!progress_) return true;
    const std::lock_guard lock(mutex_);
    if (!progress_(fraction)) stopped_.store(true, std::memory_order_relaxed);
    return !stopped_.load(std::memory_order_relaxed);
  }
  bool Stopped() const { return stopped_.load(std::memory_order_relaxed); }

 private:
  const LoopProgress& progress_;
  std::mutex mutex_;
  std::atomic<bool> stopped_{false};
};

LoopSearchResult Cancelled() {
  LoopSearchResult r;
  r.cancelled = true;
  return r;
}

// The log form of a multi-line result text: line feeds become ", ", and the
// empty lines between paragraphs become ": ".
std::string OneLine(const std::string& text) {
  std::string s;
  for (char c : text) {
    if (c == '\n') {
      s += ", ";
    } else {
      s += c;
    }
  }
  std::string out;
  for (size_t i = 0; i < s.size();) {
    if (s.compare(i, 4, ", , ") == 0) {
      out += ": ";
      i += 4;
    } else {
      out += s[i++];
    }
  }
  return out;
}

// ------------------------------------------------------------ slow engine --

// One candidate loop of the slow engine; lower score is better.
struct LoopCandidate {
  int64_t start = 0;
  int64_t end = 0;
  double score = 0;
  double boundaryMatch = 0;  // RMS difference after the two points
  double energyRatio = 0;    // 0..1
  double alignment = 0;      // |value| at both points, channel 0; 0 in the coarse pass
};

// The measures the slow engine is built from, over one search range.
class SlowMeasures {
 public:
  SlowMeasures(const LoopSource& s, int64_t window) : s_(s), window_(window) {}

  // sqrt(sum of squares of frames p .. min(p + n, range end) - 1, all
  // channels, / (n * channels)); frames before the range read as 0.
  double WindowRms(int64_t p, int64_t n) const {
    const int64_t last = std::min(p + n, s_.range.end);
    double sum = 0;
    for (int64_t f = p; f < last; ++f) {
      for (int c = 0; c < s_.channels; ++c) {
        const double v = s_.Value(f, c);
        sum += v * v;
      }
    }
    return std::sqrt(sum / static_cast<double>(n * s_.channels));
  }

  // Frames compared by SegmentRmsDifference(p, q, n); fewer than 100 means
  // no comparison.
  int64_t SegmentLength(int64_t p, int64_t q, int64_t n) const {
    return std::min({n, window_, q - p, s_.range.end - q});
  }

  double SegmentRmsDifference(int64_t p, int64_t q, int64_t n) const {
    const int64_t m = SegmentLength(p, q, n);
    if (m < 100) return kLargest;
    double sum = 0;
    for (int64_t k = 0; k < m; ++k) {
      for (int c = 0; c < s_.channels; ++c) {
        const double d = s_.Value(p + k, c) - s_.Value(q + k, c);
        sum += d * d;
      }
    }
    return std::sqrt(sum / static_cast<double>(m * s_.channels));
  }

  // The crossing of channel 0 within 500 frames of p with the lowest
  // |j - p| + 0.1 |value(j)| (the first on ties); p when there is none.
  int64_t NearestZeroCrossingScored(int64_t p, bool directional, bool rising) const {
    int64_t best = p;
    double bestScore = kLargest;
    for (int64_t j = p - 500; j <= p + 500; ++j) {
      if (!(j > s_.range.start && j < s_.range.end - 1)) continue;
      const double a = s_.Value(j - 1, 0);
      const double b = s_.Value(j, 0);
      const bool up = a <= 0 && b > 0;
      const bool down = a >= 0 && b < 0;
      const bool crossing = directional ? (rising ? up : down) : (up || down);
      if (!crossing) continue;
      const double score = static_cast<double>(std::llabs(j - p)) + 0.1 * std::fabs(b);
      if (score < bestScore) {
        bestScore = score;
        best = j;
      }
    }
    return best;
  }

 private:
  const LoopSource& s_;
  int64_t window_;
};

// RMS of all channels over frames [from, from + len) cut at |cut|; 0 when empty.
double SegmentEnergy(const LoopSource& s, int64_t from, int64_t len, int64_t cut) {
  const int64_t last = std::min(from + len, cut);
  if (last <= from) return 0.0;
  double sum = 0;
  for (int64_t f = from; f < last; ++f) {
    for (int c = 0; c < s.channels; ++c) {
      const double v = s.Value(f, c);
      sum += v * v;
    }
  }
  return std::sqrt(sum / static_cast<double>((last - from) * s.channels));
}

// What DecaySegment returns when its progress said stop.
constexpr int64_t kDecayStopped = -2;

// Decay detection over [from, to): twenty segment energies; the first
// segment after the loudest whose energy falls below 70% of the peak, or -1.
// |progress| hears of each segment measured.
int64_t DecaySegment(const LoopSource& s, int64_t from, int64_t to, int64_t cut, const LoopProgress& progress = {}) {
  const int64_t w = to - from;
  double e[20];
  for (int k = 0; k < 20; ++k) {
    if (!ReportProgress(progress, k / 20.0)) return kDecayStopped;
    e[k] = SegmentEnergy(s, from + k * w / 20, std::max<int64_t>(1, w / 20), std::min(to, cut));
  }
  double peak = 0;
  for (double v : e) peak = std::max(peak, v);
  int first = 0;
  while (first < 20 && e[first] != peak) ++first;
  for (int k = first + 1; k < 20; ++k) {
    if (e[k] < 0.7 * peak) return k;
  }
  return -1;
}

// What the coarse pass works with.
struct SlowPlan {
  std::string label;
  int64_t s0 = 0, e0 = 0, d = 0;
  int64_t g = 0, f = 0;     // search window [G, F)
  int64_t minLen = 0, maxLen = 0;
  int64_t window = 0, step = 0;
};

// Steps 1-5 of the slow engine: the plan, or the result that ends the search
// (a cancelled one when |progress| said stop).
std::optional<LoopSearchResult> PlanSlow(const LoopSource& s, SlowPlan& plan, std::vector<std::string>& log,
                                         const LoopProgress& progress = {}) {
  plan.s0 = s.range.start;
  plan.e0 = s.range.end;
  plan.d = std::max<int64_t>(0, plan.e0 - plan.s0);
  plan.label = s.range.regionIndex < 0 ? std::string("Searching entire audio file")
                                       : Format("Searching within region %d", s.range.regionIndex);
  const int64_t d = plan.d;
  plan.g = plan.s0 + static_cast<int64_t>(0.2 * static_cast<double>(d));
  plan.f = plan.s0 + static_cast<int64_t>(0.9 * static_cast<double>(d));
  const int64_t w = plan.f - plan.g;
  if (d > 0) {
    const int64_t k = DecaySegment(s, plan.g, plan.f, plan.e0, progress);
    if (k == kDecayStopped) return Cancelled();
    if (k >= 0) {
      plan.f = std::min(plan.f, plan.g + std::max((k - 1) * w / 20, static_cast<int64_t>(0.4 * static_cast<double>(d))));
      log.push_back(Format("Decay detected: search range adjusted to %.1f%% (was 90.0%%), threshold: %.1f%%",
                           static_cast<double>(plan.f - plan.s0) * 100.0 / static_cast<double>(d), 70.0));
    }
  }
  const double rate = s.sampleRate;
  plan.minLen = static_cast<int64_t>(std::max(0.3 * static_cast<double>(d), 0.5 * rate));
  plan.maxLen = static_cast<int64_t>(0.8 * static_cast<double>(d));
  if (plan.f - plan.g < plan.minLen) {
    LoopSearchResult r;
    r.message = Format(
        "%s\n\nSearch region too small for automatic loop finding.\nRegion length: %lld samples (%.2f seconds)\n"
        "Minimum required: %lld samples (%.2f seconds)",
        plan.label.c_str(), static_cast<long long>(d), rate > 0 ? static_cast<double>(d) / rate : 0.0,
        static_cast<long long>(2 * plan.minLen), rate > 0 ? static_cast<double>(2 * plan.minLen) / rate : 0.0);
    r.log = log;
    return r;
  }
  if (plan.minLen / 4 <= 4000) {
    plan.window = plan.minLen / 4;
    plan.step = std::max<int64_t>(100, plan.minLen / 80);
  } else {
    plan.window = 4000;
    plan.step = 200;
  }
  return std::nullopt;
}

// Steps 7-9: the refinement of the best ten and the result.
LoopSearchResult FinishSlow(const LoopSource& s, const SlowPlan& plan, std::vector<LoopCandidate> candidates,
                            bool any, std::vector<std::string> log) {
  LoopSearchResult r;
  if (!any) {
    r.message = Format(
        "%s\n\nCould not find suitable loop regions.\nSearch range: [%lld - %lld]\nTry adjusting the search "
        "parameters or selecting a different region.",
        plan.label.c_str(), static_cast<long long>(plan.s0), static_cast<long long>(plan.e0));
    r.log = std::move(log);
    return r;
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const LoopCandidate& a, const LoopCandidate& b) { return a.score < b.score; });
  const SlowMeasures m(s, plan.window);
  std::vector<LoopCandidate> refined;
  const size_t count = std::min<size_t>(10, candidates.size());
  for (size_t i = 0; i < count; ++i) {
    const LoopCandidate& c = candidates[i];
    const int64_t end = m.NearestZeroCrossingScored(c.end, false, false);
    const bool rising = s.Value(end - 1, 0) < s.Value(end, 0);
    int64_t start = c.start;
    double bestB = kLargest;
    for (int64_t o = c.start - 200; o <= c.start + 200; o += 10) {
      if (o < plan.g || o >= end - plan.minLen) continue;
      const int64_t q = m.NearestZeroCrossingScored(o, true, rising);
      const double b = m.SegmentRmsDifference(q, end, plan.window);
      if (b < bestB) {
        bestB = b;
        start = q;
      }
    }
    const double a = std::fabs(s.Value(end, 0)) + std::fabs(s.Value(start, 0));
    refined.push_back({start, end, (2 - c.energyRatio) * bestB * (1 + 0.1 * a), bestB, c.energyRatio, a});
  }
  std::stable_sort(refined.begin(), refined.end(),
                   [](const LoopCandidate& a, const LoopCandidate& b) { return a.score < b.score; });
  const LoopCandidate& best = refined.front();
  const bool whole = s.range.regionIndex < 0;
  auto percent = [&](int64_t frame) {
    if (whole) return s.fileFrames > 0 ? static_cast<double>(frame) * 100.0 / static_cast<double>(s.fileFrames) : 0.0;
    return plan.d > 0 ? static_cast<double>(frame - plan.s0) * 100.0 / static_cast<double>(plan.d) : 0.0;
  };
  const double rate = s.sampleRate;
  const std::string text = Format(
      "%s\n\nPossible Loop Found!\n\nLoop Start: Sample %lld (%.2f%%)\nLoop End: Sample %lld (%.2f%%)\n"
      "Loop Length: %.2f seconds (%lld samples)\n\n- Boundary Match (RMS): %.4f\n- Energy Consistency: %.1f%%\n"
      "- Zero-Crossing Alignment: %.4f\n- Overall Score: %.4f (lower is better)",
      whole ? "Entire audio file" : plan.label.c_str(), static_cast<long long>(best.start), percent(best.start),
      static_cast<long long>(best.end), percent(best.end),
      rate > 0 ? static_cast<double>(best.end - best.start) / rate : 0.0, static_cast<long long>(best.end - best.start),
      best.boundaryMatch, best.energyRatio * 100.0, best.alignment, best.score);
  log.push_back(OneLine(text));
  r.found = true;
  r.loopIn = best.start;
  r.loopOut = best.end;
  r.log = std::move(log);
  return r;
}

// -------------------------------------------------------- pyramid engine --

struct PyramidLevel {
  int factor = 1;
  std::vector<double> averaged;  // interleaved; empty for factor 1 (reads the audio)
  int64_t frames = 0;            // range length / factor
  int step = 0;
  int radius = 0;
  int window = 0;
  const double* data = nullptr;  // averaged, or the audio for factor 1
};

// Pearson correlation of the w frames after a and after b, all channels
// pooled; -1 when a window passes the level's end, 0 without variance.
double PyramidCorrelation(const PyramidLevel& l, int channels, int64_t a, int64_t b, int64_t w) {
  if (a < 0 || b < 0 || a + w > l.frames || b + w > l.frames) return -1.0;
  const int64_t n = w * channels;
  if (n <= 0) return 0.0;
  const double* x = l.data + a * channels;
  const double* y = l.data + b * channels;
  double sx = 0, sy = 0;
  for (int64_t i = 0; i < n; ++i) {
    sx += x[i];
    sy += y[i];
  }
  const double mx = sx / static_cast<double>(n);
  const double my = sy / static_cast<double>(n);
  double sxy = 0, sxx = 0, syy = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double dx = x[i] - mx;
    const double dy = y[i] - my;
    sxy += dx * dy;
    sxx += dx * dx;
    syy += dy * dy;
  }
  const double den = std::sqrt(sxx * syy);
  return den > 0 ? sxy / den : 0.0;
}

double PyramidRmsDifference(const PyramidLevel& l, int channels, int64_t a, int64_t b, int64_t w) {
  int64_t m = std::min(w, b - a);
  m = std::min(m, l.frames - b);
  if (m < 10 || a < 0) return kLargest;
  const double* x = l.data + a * channels;
  const double* y = l.data + b * channels;
  double sum = 0;
  for (int64_t i = 0; i < m * channels; ++i) {
    const double d = x[i] - y[i];
    sum += d * d;
  }
  return std::sqrt(sum / static_cast<double>(m * channels));
}

struct PyramidCandidate {
  int64_t start = 0, end = 0;  // level frames
  double score = kLargest;
  double correlation = -1;
  double rms = kLargest;
};

}  // namespace

// ------------------------------------------------------------------ range --

LoopSearchRangeResult LoopSearchRangeFor(int64_t frames, const std::vector<Region>& regions, int regionIndex) {
  LoopSearchRangeResult r;
  if (regionIndex < 0) {
    r.range = LoopSearchRange{0, std::max<int64_t>(0, frames), -1};
    return r;
  }
  if (static_cast<size_t>(regionIndex) >= regions.size()) {
    r.error = "Invalid region index specified.";
    return r;
  }
  const Region& g = regions[static_cast<size_t>(regionIndex)];
  if (g.startSample < 0 || g.startSample >= g.endSample) {
    r.error = "Invalid region boundaries.";
    return r;
  }
  // A region that starts at or past the end of the audio has nothing to
  // search: an empty range, never a negative length.
  const int64_t start = std::min(g.startSample, std::max<int64_t>(0, frames));
  r.range = LoopSearchRange{start, std::max(start, std::min(g.endSample, frames)), regionIndex};
  return r;
}

LoopSource LoopSource::Copy(const PcmSpan& pcm, const LoopSearchRange& range) {
  LoopSource s;
  s.range = range;
  s.channels = std::max<int>(1, pcm.channels);
  s.sampleRate = pcm.sampleRate;
  s.fileFrames = pcm.Frames();
  const int64_t n = std::max<int64_t>(0, range.end - range.start);
  s.values.assign(static_cast<size_t>(n * s.channels), 0.0);
  std::vector<float> channel;
  for (int c = 0; c < pcm.channels; ++c) {
    if (pcm.formatTag == 3 && pcm.bitsPerSample == 32) {
      const int64_t frames = pcm.Frames();
      for (int64_t i = 0; i < n; ++i) {
        const int64_t f = range.start + i;
        if (f >= 0 && f < frames)
          s.values[static_cast<size_t>(i * s.channels + c)] =
              FloatSampleAt(pcm.bytes.data() + f * pcm.blockAlign + c * 4);
      }
      continue;
    }
    ChannelToFloat(pcm.bytes, channel, range.start, n, c, pcm.bitsPerSample, pcm.blockAlign);
    for (int64_t i = 0; i < n; ++i) s.values[static_cast<size_t>(i * s.channels + c)] = channel[static_cast<size_t>(i)];
  }
  return s;
}

std::optional<LoopSource> LoopSource::Copy(const PcmWindow& window, const LoopSearchRange& range,
                                           const LoopProgress& progress) {
  // Block by block, so that the bar moves and a Cancel is heard: each block
  // is what Copy makes of it (frames outside the audio read as 0).
  const PcmSpan pcm = window.Span();
  LoopSource s;
  s.range = range;
  s.channels = std::max<int>(1, pcm.channels);
  s.sampleRate = pcm.sampleRate;
  s.fileFrames = window.totalFrames;
  const int64_t n = std::max<int64_t>(0, range.end - range.start);
  s.values.reserve(static_cast<size_t>(n * s.channels));
  constexpr int64_t kBlock = 1 << 16;
  for (int64_t done = 0; done < n; done += kBlock) {
    if (!ReportProgress(progress, static_cast<double>(done) / static_cast<double>(n))) return std::nullopt;
    const int64_t from = range.start + done;
    const LoopSource block = Copy(pcm, {from - window.first, std::min(range.end, from + kBlock) - window.first, -1});
    s.values.insert(s.values.end(), block.values.begin(), block.values.end());
  }
  if (!ReportProgress(progress, 1.0)) return std::nullopt;
  return s;
}

// ------------------------------------------------------------ slow engine --

LoopSearchResult findLoopSlowReference(const LoopSource& s) {
  std::vector<std::string> log;
  SlowPlan plan;
  if (auto early = PlanSlow(s, plan, log)) return *early;
  const SlowMeasures m(s, plan.window);
  std::vector<LoopCandidate> candidates;
  const int64_t half = plan.window / 2;
  for (int64_t e = plan.f; plan.g + plan.minLen < e; e -= plan.step) {
    const double ee = m.WindowRms(e - half, plan.window);
    if (ee < 0.001) continue;
    for (int64_t p = plan.g; p < e - plan.minLen; p += plan.step) {
      const int64_t len = e - p;
      if (len < plan.minLen || len > plan.maxLen) continue;
      const double ep = m.WindowRms(p - half, plan.window);
      if (ep < 0.001) continue;
      const double u = std::min(ep, ee) / std::max(ep, ee);
      if (u < 0.5) continue;
      const double v = m.SegmentRmsDifference(p, e, plan.window);
      if (v == kLargest) continue;
      candidates.push_back({p, e, (2 - u) * v, v, u, 0});
    }
  }
  const bool any = !candidates.empty();
  return FinishSlow(s, plan, std::move(candidates), any, std::move(log));
}

LoopSearchResult findLoopSlow(const LoopSource& s, const LoopProgress& progress, unsigned threads) {
  std::vector<std::string> log;
  SlowPlan plan;
  ProgressGate gate(progress);
  // Shares of the bar: the decay check, the window energies, the coarse
  // pass, the refinement.
  if (auto early = PlanSlow(s, plan, log, [&gate](double f) { return gate.Report(0.02 * f); })) return *early;
  const SlowMeasures m(s, plan.window);
  const int64_t half = plan.window / 2;
  // The grids of the coarse pass: ends F, F - s, ... and starts G, G + s, ...
  std::vector<int64_t> ends;
  for (int64_t e = plan.f; plan.g + plan.minLen < e; e -= plan.step) ends.push_back(e);
  if (ends.empty()) return FinishSlow(s, plan, {}, false, std::move(log));
  std::vector<int64_t> starts;
  for (int64_t p = plan.g; p < ends.front() - plan.minLen; p += plan.step) starts.push_back(p);

  // The window energies depend on one position only: computed once per grid
  // point (the same arithmetic as the literal search, so the same values).
  // Each is a window of up to 4000 frames: a report every 64 of them.
  std::vector<double> endEnergy(ends.size()), startEnergy(starts.size());
  std::atomic<size_t> measured{0};
  const double points = static_cast<double>(ends.size() + starts.size());
  auto energies = [&](const std::vector<int64_t>& grid, std::vector<double>& out) {
    ParallelFor(grid.size(), 16, [&](size_t b, size_t e) {
      for (size_t j = b; j < e; ++j) {
        if ((j - b) % 64 == 63) {
          const size_t n = measured.fetch_add(64) + 64;
          if (!gate.Report(0.02 + 0.08 * static_cast<double>(n) / points)) return;
        }
        out[j] = m.WindowRms(grid[j] - half, plan.window);
      }
    }, threads);
  };
  energies(ends, endEnergy);
  if (gate.Stopped()) return Cancelled();
  energies(starts, startEnergy);
  if (gate.Stopped() || !gate.Report(0.1)) return Cancelled();

  // Each end's candidates in start order; only the ten best of all reach the
  // refinement, so a pair whose score already exceeds the tenth best its
  // chunk has seen cannot matter and its sum stops early. Sums of squares
  // only grow, so the partial score is a lower bound of the final one.
  std::vector<std::vector<LoopCandidate>> perEnd(ends.size());
  std::vector<uint8_t> anyPerEnd(ends.size(), 0);
  // Every chunk's tenth best is an upper bound of the final tenth best, and
  // so is the lowest of them: the chunks share it.
  std::atomic<size_t> done{0};
  std::atomic<double> sharedBound{std::numeric_limits<double>::infinity()};
  const int ch = s.channels;
  const double* values = s.values.data();
  ParallelFor(ends.size(), 4, [&](size_t b, size_t eEnd) {
    std::vector<double> best;  // the chunk's ten lowest scores, a max-heap
    double threshold = std::numeric_limits<double>::infinity();
    for (size_t j = b; j < eEnd; ++j) {
      threshold = std::min(threshold, sharedBound.load(std::memory_order_relaxed));
      if (gate.Stopped()) return;
      const int64_t e = ends[j];
      const double ee = endEnergy[j];
      if (ee >= 0.001) {
        for (size_t i = 0; i < starts.size() && starts[i] < e - plan.minLen; ++i) {
          const int64_t p = starts[i];
          const int64_t len = e - p;
          if (len < plan.minLen || len > plan.maxLen) continue;
          const double ep = startEnergy[i];
          if (ep < 0.001) continue;
          const double u = std::min(ep, ee) / std::max(ep, ee);
          if (u < 0.5) continue;
          const int64_t mm = m.SegmentLength(p, e, plan.window);
          if (mm < 100) continue;
          anyPerEnd[j] = 1;
          const double count = static_cast<double>(mm * ch);
          const double* x = values + (p - s.range.start) * ch;
          const double* y = values + (e - s.range.start) * ch;
          const int64_t n = mm * ch;
          double sum = 0;
          bool pruned = false;
          // Checked after 32 values, then at doubling spans up to 256: most
          // pairs lose within the first few dozen frames.
          for (int64_t k = 0, span = 32; k < n; span = std::min<int64_t>(256, 2 * span)) {
            const int64_t stop = std::min(n, k + span);
            for (; k < stop; ++k) {
              const double d = x[k] - y[k];
              sum += d * d;
            }
            if (k < n && (2 - u) * std::sqrt(sum / count) > threshold) {
              pruned = true;
              break;
            }
          }
          if (pruned) continue;
          const double v = std::sqrt(sum / count);
          const double score = (2 - u) * v;
          if (score > threshold) continue;
          perEnd[j].push_back({p, e, score, v, u, 0});
          best.push_back(score);
          std::push_heap(best.begin(), best.end());
          if (best.size() > 10) {
            std::pop_heap(best.begin(), best.end());
            best.pop_back();
          }
          if (best.size() == 10 && best.front() < threshold) {
            threshold = best.front();
            double shared = sharedBound.load(std::memory_order_relaxed);
            while (threshold < shared && !sharedBound.compare_exchange_weak(shared, threshold)) {
            }
          }
        }
      }
      const size_t finished = done.fetch_add(1) + 1;
      if (finished % 8 == 0 && !gate.Report(0.1 + 0.85 * static_cast<double>(finished) / ends.size())) return;
    }
  }, threads);
  if (gate.Stopped()) return Cancelled();

  std::vector<LoopCandidate> candidates;
  bool any = false;
  for (size_t j = 0; j < ends.size(); ++j) {
    any = any || anyPerEnd[j];
    candidates.insert(candidates.end(), perEnd[j].begin(), perEnd[j].end());
  }
  LoopSearchResult r = FinishSlow(s, plan, std::move(candidates), any, std::move(log));
  if (!gate.Report(1.0)) return Cancelled();
  return r;
}

// --------------------------------------------------------- pyramid engine --

LoopSearchResult findLoopPyramid(const LoopSource& s, const LoopProgress& progress, unsigned threads) {
  std::vector<std::string> log;
  const int ch = s.channels;
  const int64_t s0abs = s.range.start;
  const int64_t e0abs = s.range.end;
  const int64_t n = std::max<int64_t>(0, e0abs - s0abs);
  const std::string label = s.range.regionIndex < 0 ? std::string("Searching entire WAV")
                                                    : Format("Searching within region %d", s.range.regionIndex);
  LoopSearchResult r;
  if (n <= 0) {
    // Nothing to search (a region past the end of the audio): the search's
    // "too small" answer, never levels sized from a negative length.
    const double rate = s.sampleRate;
    const int64_t minLen = static_cast<int64_t>(0.5 * rate);
    r.message = Format(
        "%s\n\nSearch region too small for automatic loop finding.\nRegion length: %lld samples (%.2f seconds)\n"
        "Minimum required: %lld samples (%.2f seconds)",
        label.c_str(), 0LL, 0.0, static_cast<long long>(2 * minLen), rate > 0 ? 2.0 * minLen / rate : 0.0);
    return r;
  }
  ProgressGate gate(progress);
  // Shares of the bar: the averaged levels and the decay check, the
  // exhaustive level, the finer levels and the crossings.
  constexpr double kLevelsShare = 0.04, kDecayShare = 0.01, kCoarseShare = 0.85;

  // The four levels: factor, step, radius, window.
  const int table[4][4] = {{8, 50, 400, 100}, {4, 25, 200, 200}, {2, 10, 100, 400}, {1, 5, 50, 800}};
  std::vector<PyramidLevel> levels(4);
  for (int i = 0; i < 4; ++i) {
    PyramidLevel& l = levels[static_cast<size_t>(i)];
    l.factor = table[i][0];
    l.step = table[i][1];
    l.radius = table[i][2];
    l.window = table[i][3];
    l.frames = n / l.factor;
    if (l.factor == 1) {
      l.data = s.values.data();
      continue;
    }
    // Filled in order as the bar moves, rather than zeroed first: zeroing a
    // long level touches all its pages before the first report.
    l.averaged.reserve(static_cast<size_t>(l.frames * ch));
    // Levels 8, 4 and 2 average n / 8 + n / 4 + n / 2 frames between them.
    const double before = i == 0 ? 0.0 : (i == 1 ? 1.0 / 7.0 : 3.0 / 7.0);
    const double share = (8.0 / l.factor) / 7.0;
    const WorkProgress levelProgress =
        SubProgress([&gate](double f) { return gate.Report(kLevelsShare * f); }, before, before + share);
    ProgressTicker ticker(levelProgress, static_cast<uint64_t>(l.frames), 1 << 16);
    for (int64_t f = 0; f < l.frames; ++f) {
      if (!ticker.Step()) return Cancelled();
      for (int c = 0; c < ch; ++c) {
        double sum = 0;
        for (int k = 0; k < l.factor; ++k) sum += s.values[static_cast<size_t>((f * l.factor + k) * ch + c)];
        l.averaged.push_back(sum / l.factor);
      }
    }
    l.data = l.averaged.data();
  }

  // Bounds, relative to the range.
  const int64_t startBound = static_cast<int64_t>(0.1 * static_cast<double>(n));
  int64_t t = static_cast<int64_t>(0.9 * static_cast<double>(n));
  const int64_t minLen = static_cast<int64_t>(0.2 * static_cast<double>(n));
  const int64_t maxLen = static_cast<int64_t>(0.8 * static_cast<double>(n));
  {
    const int64_t k = DecaySegment(s, s0abs + startBound, s0abs + t, e0abs, [&gate](double f) {
      return gate.Report(kLevelsShare + kDecayShare * f);
    });
    if (k == kDecayStopped) return Cancelled();
    if (k >= 0) {
      t = std::min(t, startBound + std::max((k - 1) * (t - startBound) / 20, static_cast<int64_t>(0.4 * static_cast<double>(n))));
      log.push_back(Format("Pyramid: Decay detected, search adjusted to %.1f%%",
                           static_cast<double>(t) * 100.0 / static_cast<double>(n)));
    }
  }

  // Level 8, exhaustively, one chunk of ends per task: each keeps its best
  // candidate (lowest score, first in search order) and its most correlated
  // pair; joined in search order they give what one pass would.
  // An end compares every start (some milliseconds on a long file): a report
  // every 4 ends.
  bool haveBest = false;
  int64_t bestStart = 0, bestEnd = 0;
  double bestCorr = -1;
  {
    const PyramidLevel& l = levels[0];
    const int64_t s8 = startBound / 8, t8 = t / 8, min8 = minLen / 8, max8 = maxLen / 8;
    std::vector<int64_t> ends;
    for (int64_t e = t8; s8 + min8 < e; e -= l.step) ends.push_back(e);
    struct ChunkBest {
      PyramidCandidate candidate;
      bool hasCandidate = false;
      PyramidCandidate mostCorrelated;
      bool hasPair = false;
    };
    std::vector<ChunkBest> perEnd(ends.size());
    std::atomic<size_t> done{0};
    ParallelFor(ends.size(), 4, [&](size_t b, size_t eEnd) {
      for (size_t j = b; j < eEnd; ++j) {
        if (gate.Stopped()) return;
        const int64_t e = ends[j];
        ChunkBest& out = perEnd[j];
        for (int64_t p = s8; p < e - min8; p += l.step) {
          const int64_t len = e - p;
          if (len < min8 || len > max8) continue;
          const double corr = PyramidCorrelation(l, ch, p, e, l.window);
          const double d = PyramidRmsDifference(l, ch, p, e, l.window);
          const PyramidCandidate c{p, e, (2 - corr) * d, corr, d};
          // Only a positive correlation is worth remembering: silence,
          // correlating 0 everywhere, leaves the search without a pair.
          if (corr > (out.hasPair ? out.mostCorrelated.correlation : 0.0)) {
            out.mostCorrelated = c;
            out.hasPair = true;
          }
          if (corr >= 0.5 && (!out.hasCandidate || c.score < out.candidate.score)) {
            out.candidate = c;
            out.hasCandidate = true;
          }
        }
        const size_t finished = done.fetch_add(1) + 1;
        if (finished % 4 == 0 &&
            !gate.Report(kLevelsShare + kDecayShare + kCoarseShare * static_cast<double>(finished) / ends.size()))
          return;
      }
    }, threads);
    if (gate.Stopped()) return Cancelled();
    PyramidCandidate best, most;
    bool hasCandidate = false, hasPair = false;
    for (const ChunkBest& c : perEnd) {
      if (c.hasPair && (!hasPair || c.mostCorrelated.correlation > most.correlation)) {
        most = c.mostCorrelated;
        hasPair = true;
      }
      if (c.hasCandidate && (!hasCandidate || c.candidate.score < best.score)) {
        best = c.candidate;
        hasCandidate = true;
      }
    }
    if (!hasCandidate && hasPair) {
      best = most;
      hasCandidate = true;
    }
    if (hasCandidate) {
      haveBest = true;
      bestStart = best.start;
      bestEnd = best.end;
      bestCorr = best.correlation;
    }
  }

  // Levels 4, 2 and 1 around the previous best.
  for (size_t li = 1; li < levels.size(); ++li) {
    const PyramidLevel& l = levels[li];
    const int64_t searchStart = startBound / l.factor;
    const int64_t levelMin = minLen / l.factor;
    bestStart *= 2;
    bestEnd *= 2;
    if (!haveBest) continue;
    PyramidCandidate best;
    bool found = false;
    for (int64_t ds = -l.radius; ds <= l.radius; ds += l.step) {
      const int64_t st = bestStart + ds;
      if (st < searchStart || st >= l.frames) continue;
      for (int64_t de = -l.radius; de <= l.radius; de += l.step) {
        const int64_t en = bestEnd + de;
        if (en <= st + levelMin || en > l.frames) continue;
        const double corr = PyramidCorrelation(l, ch, st, en, l.window);
        const double d = PyramidRmsDifference(l, ch, st, en, l.window);
        const double score = (2 - corr) * d;
        if (!found || score < best.score) {
          best = {st, en, score, corr, d};
          found = true;
        }
      }
    }
    if (found) {
      bestStart = best.start;
      bestEnd = best.end;
      bestCorr = best.correlation;
    }
  }
  if (!gate.Report(0.95)) return Cancelled();

  // Sample level: pairs of crossings of channel 0 around the best, scored by
  // the 64-frame difference, the slopes and a direction mismatch.
  int64_t a = s0abs + bestStart;
  int64_t b = s0abs + bestEnd;
  if (haveBest) {
    auto value = [&](int64_t f) { return s.Value(f, 0); };
    auto slope = [&](int64_t x, int c) {
      if (x <= s0abs || x >= e0abs - 1) return 0.0;
      return s.Value(x, c) - s.Value(x - 1, c);
    };
    auto direction = [&](int64_t x) {  // +1 rising, -1 falling, 0 none
      const double p = value(x - 1), q = value(x);
      if (p <= 0 && q > 0) return 1;
      if (p >= 0 && q < 0) return -1;
      return 0;
    };
    std::vector<int64_t> ys;
    for (int64_t y = b - 200; y <= b + 200; ++y)
      if (y > s0abs && y < e0abs - 1 && direction(y) != 0) ys.push_back(y);
    double bestScore = kLargest;
    bool found = false;
    int64_t fx = a, fy = b;
    for (int64_t x = a - 200; x <= a + 200; ++x) {
      if (!(x > s0abs + 1 && x < e0abs - 1)) continue;
      const int dx = direction(x);
      if (dx == 0) continue;
      for (int64_t y : ys) {
        if (y <= x + 100) continue;
        const double mismatch = direction(y) == dx ? 0.0 : 1.0;
        double sum = 0;
        int64_t k64 = 0;
        for (; k64 < 64 && x + k64 < e0abs && y + k64 < e0abs; ++k64)
          for (int c = 0; c < ch; ++c) {
            const double d = s.Value(x + k64, c) - s.Value(y + k64, c);
            sum += d * d;
          }
        const double r64 = k64 > 0 ? std::sqrt(sum / static_cast<double>(k64 * ch)) : kLargest;
        double slopes = 0;
        int64_t k32 = 0;
        for (; k32 < 32 && y + k32 < e0abs - 1; ++k32)
          for (int c = 0; c < ch; ++c) slopes += std::fabs(slope(x + k32, c) - slope(y + k32, c));
        const double slopeDiff = k32 > 0 ? slopes / static_cast<double>(k32 * ch) : kLargest;
        const double score = 2 * slopeDiff + r64 + 1.5 * mismatch;
        if (!found || score < bestScore) {
          bestScore = score;
          fx = x;
          fy = y;
          found = true;
        }
      }
    }
    if (found) {
      a = fx;
      b = fy;
    }
  } else {
    a = b = s0abs;
  }
  std::string note;
  if (a + 100 >= b) {
    a = s0abs + n / 4;
    b = s0abs + 3 * n / 4;
    note = "\n(Warning: Auto-loop weak. Defaulted to center 50%)";
  }
  const double rate = s.sampleRate;
  log.push_back(Format("Loop Detection (%s): Start %lld, End %lld, Len %.2fs, Corr %.3f%s", label.c_str(),
                       static_cast<long long>(a), static_cast<long long>(b),
                       rate > 0 ? static_cast<double>(b - a) / rate : 0.0, bestCorr, note.c_str()));
  if (!gate.Report(1.0)) return Cancelled();
  r.found = true;
  r.loopIn = a;
  r.loopOut = b;
  r.log = std::move(log);
  return r;
}

// ----------------------------------------------------- correlation engine --

NccInput NccInputFrom(const PcmSpan& pcm, int64_t spanStart, int64_t spanEnd, int64_t rangeStart, int64_t rangeEnd) {
  NccInput in;
  in.sampleRate = pcm.sampleRate;
  spanStart = std::clamp<int64_t>(spanStart, 0, pcm.Frames());
  spanEnd = std::clamp<int64_t>(spanEnd, spanStart, pcm.Frames());
  in.signalStart = spanStart;
  in.signal.resize(static_cast<size_t>(spanEnd - spanStart));
  for (int64_t f = spanStart; f < spanEnd; ++f)
    in.signal[static_cast<size_t>(f - spanStart)] =
        static_cast<float>(ReadSampleValue(pcm.bytes, f, 0, pcm.channels, pcm.bitsPerSample) / 32768.0);
  in.rangeStart = std::clamp(rangeStart, spanStart, spanEnd);
  in.rangeEnd = std::clamp(rangeEnd, in.rangeStart, spanEnd);
  return in;
}

std::optional<NccInput> NccInputFrom(const PcmWindow& window, int64_t spanStart, int64_t spanEnd, int64_t rangeStart,
                                     int64_t rangeEnd, const LoopProgress& progress) {
  const PcmSpan pcm = window.Span();
  spanStart = std::clamp<int64_t>(spanStart, window.first, window.first + window.Frames());
  spanEnd = std::clamp<int64_t>(spanEnd, spanStart, window.first + window.Frames());
  NccInput in;
  in.sampleRate = pcm.sampleRate;
  in.signalStart = spanStart;
  in.signal.reserve(static_cast<size_t>(spanEnd - spanStart));
  ProgressTicker ticker(progress, static_cast<uint64_t>(spanEnd - spanStart), 1 << 16);
  for (int64_t f = spanStart; f < spanEnd; ++f) {
    if (!ticker.Step()) return std::nullopt;
    in.signal.push_back(
        static_cast<float>(ReadSampleValue(pcm.bytes, f - window.first, 0, pcm.channels, pcm.bitsPerSample) / 32768.0));
  }
  in.rangeStart = std::clamp(rangeStart, spanStart, spanEnd);
  in.rangeEnd = std::clamp(rangeEnd, in.rangeStart, spanEnd);
  return in;
}

namespace {

// The rising crossing (S[i] <= 0 < S[i + 1]) nearest to p within 500
// samples, the lower index on ties; p when there is none.
int64_t NearestRisingZeroCrossing(const std::vector<float>& s, int64_t p) {
  const int64_t len = static_cast<int64_t>(s.size());
  int64_t best = p;
  int64_t bestDistance = std::numeric_limits<int64_t>::max();
  for (int64_t i = std::max<int64_t>(0, p - 500); i < std::min(len - 2, p + 500); ++i) {
    if (s[static_cast<size_t>(i)] <= 0 && s[static_cast<size_t>(i + 1)] > 0 && std::llabs(i - p) < bestDistance) {
      bestDistance = std::llabs(i - p);
      best = i;
    }
  }
  return best;
}

// sum(T[i] S[o + i]) / sqrt(sum T^2 sum S[o + i]^2); 0 past the signal's
// end or without energy. |t| and |s| hold the values times 32768 (the raw
// 16-bit samples): their products and sums are whole numbers below 2^53, so
// every order of summation gives the same exact double, and the loop keeps
// eight sums the vector unit can run side by side. The window energies come
// from |squares|, exact prefix sums of s^2.
float NormalizedCrossCorrelation(const double* t, size_t n, double templateEnergy, const std::vector<double>& s,
                                 const std::vector<double>& squares, int64_t o) {
  if (o < 0 || static_cast<size_t>(o) + n > s.size()) return 0.0f;
  const double* x = s.data() + o;
  double dot[8] = {};
  size_t i = 0;
  for (; i + 8 <= n; i += 8)
    for (int k = 0; k < 8; ++k) dot[k] += t[i + k] * x[i + k];
  for (; i < n; ++i) dot[0] += t[i] * x[i];
  double d = 0;
  for (double v : dot) d += v;
  const double energy = squares[static_cast<size_t>(o) + n] - squares[static_cast<size_t>(o)];
  // In raw units: the 1e-9 limit of values -1..1 times 32768^2.
  const double root = std::sqrt(templateEnergy * std::max(0.0, energy));
  if (root < 1e-9 * 1073741824.0) return 0.0f;
  return static_cast<float>(d / root);
}

}  // namespace

LoopSearchResult findLoopNcc(const NccInput& in, const LoopProgress& progress, unsigned threads) {
  LoopSearchResult r;
  const std::vector<float>& s = in.signal;
  const int64_t rs = in.rangeStart - in.signalStart;
  const int64_t re = in.rangeEnd - in.signalStart;
  const double minLen = 0.2 * in.sampleRate;
  if (minLen > static_cast<double>(re - rs)) {
    r.message = "Selection too short to find a good loop.";
    return r;
  }
  int64_t n = static_cast<int64_t>(0.1 * in.sampleRate);
  if (re - rs < n) n = (re - rs) / 2;
  const int64_t m = std::max<int64_t>(0, re - n);
  const int64_t last = m - static_cast<int64_t>(minLen);  // offsets below this
  if (rs >= last) {
    r.message = "Search area too small for minimum loop length.";
    return r;
  }
  const size_t count = static_cast<size_t>((last - rs + 3) / 4);
  // Raw 16-bit values (exact: the signal holds raw / 32768) and the exact
  // prefix sums of their squares.
  ProgressGate gate(progress);
  std::vector<double> raw, squares;
  raw.reserve(s.size());
  squares.reserve(s.size() + 1);
  squares.push_back(0.0);
  // Filled as the bar moves: a long span's pages are touched between reports.
  const WorkProgress preparing = [&gate](double f) { return gate.Report(0.05 * f); };
  ProgressTicker prepared(preparing, s.size(), 1 << 16);
  for (size_t i = 0; i < s.size(); ++i) {
    if (!prepared.Step()) return Cancelled();
    raw.push_back(static_cast<double>(s[i]) * 32768.0);
    squares.push_back(squares[i] + raw[i] * raw[i]);
  }
  const double* t = raw.data() + m;
  const double templateEnergy = squares[static_cast<size_t>(m + n)] - squares[static_cast<size_t>(m)];
  std::vector<float> scores(count);
  std::atomic<size_t> done{0};
  // An offset costs a dot product of the template (up to 100 ms of frames):
  // a report every 256 offsets, from inside each chunk.
  constexpr size_t kOffsetsPerReport = 256;
  ParallelFor(count, 256, [&](size_t b, size_t e) {
    for (size_t i = b; i < e; ++i) {
      if ((i - b) % kOffsetsPerReport == kOffsetsPerReport - 1) {
        const size_t finished = done.fetch_add(kOffsetsPerReport) + kOffsetsPerReport;
        if (!gate.Report(0.05 + 0.9 * static_cast<double>(finished) / count)) return;
      }
      scores[i] = NormalizedCrossCorrelation(t, static_cast<size_t>(n), templateEnergy, raw, squares,
                                             rs + 4 * static_cast<int64_t>(i));
    }
  }, threads);
  if (gate.Stopped()) return Cancelled();
  float best = -1.0f;
  int64_t bestOffset = rs;
  for (size_t i = 0; i < count; ++i) {
    if (scores[i] > best) {
      best = scores[i];
      bestOffset = rs + 4 * static_cast<int64_t>(i);
    }
  }
  if (best < 0.4f) r.log.push_back("No strong loop candidate found.");
  const int64_t end = NearestRisingZeroCrossing(s, m) + in.signalStart;
  const int64_t start = NearestRisingZeroCrossing(s, bestOffset) + in.signalStart;
  if (start >= end || start < 0) {
    r.message = "Calculation error: Invalid bounds derived.";
    return r;
  }
  r.found = true;
  r.loopIn = start;
  r.loopOut = end;
  r.log.push_back(Format("Best Loop Found: %.2f%% Match. Length: %.2f ms", static_cast<double>(best) * 100.0,
                         static_cast<double>(end - start) * 1000.0 / in.sampleRate));
  if (!gate.Report(1.0)) return Cancelled();
  return r;
}

// -------------------------------------------------------- short commands --

namespace {

// The alignment over |pcm|, whose frame 0 is document frame |first|; the
// positions and the log line are in document frames.
AutoLoopAlignResult AlignEnds(const PcmSpan& pcm, int64_t first, int64_t e, int64_t f, const LoopProgress& progress) {
  const int64_t frames = pcm.Frames();
  const int ch = pcm.channels;
  auto x = [&](int64_t frame, int c) {
    return static_cast<int64_t>(ReadSampleValue(pcm.bytes, frame, c, ch, pcm.bitsPerSample));
  };
  auto rises = [&](int64_t i) { return x(i, 0) <= 0 && x(i + 1, 0) > 0; };
  const int64_t radius = static_cast<int64_t>(0.2 * pcm.sampleRate);
  AutoLoopAlignResult r;
  // Start: the rising crossing nearest to e.
  int64_t start = e;
  int64_t bestDistance = std::numeric_limits<int64_t>::max();
  for (int64_t i = std::max<int64_t>(0, e - radius); i < std::min(frames, e + radius); ++i) {
    if (i < frames - 1 && rises(i) && std::llabs(i - e) < bestDistance) {
      bestDistance = std::llabs(i - e);
      start = i;
    }
  }
  // End: the rising crossing whose 512 following frames best match the
  // start's, with a pull towards the old end. Each crossing compares 512
  // frames: a report every 256 candidates.
  int64_t end = f;
  int64_t bestError = std::numeric_limits<int64_t>::max();
  const int64_t from = std::max(f - radius, start + 512), to = std::min(frames - 512, f + radius);
  ProgressTicker ticker(progress, static_cast<uint64_t>(std::max<int64_t>(1, to - from)), 256);
  for (int64_t k = from; k < to; ++k) {
    if (!ticker.Step()) {
      r.cancelled = true;
      return r;
    }
    if (!(k < frames - 1 && rises(k))) continue;
    int64_t error = 0;
    for (int64_t j = 0; j < 512 && start + j < frames && k + j < frames; ++j)
      for (int c = 0; c < ch; ++c) error += std::llabs(x(start + j, c) - x(k + j, c));
    error += 10 * std::llabs(k - f);
    if (error < bestError) {
      bestError = error;
      end = k;
    }
  }
  r.loopIn = start + first;
  r.loopOut = end + first;
  r.errorScore = bestError;
  r.log = Format("Auto-Loop: Adjusted Start %lld, End %lld (Error Score: %lld)", static_cast<long long>(r.loopIn),
                 static_cast<long long>(r.loopOut), static_cast<long long>(bestError));
  return r;
}

}  // namespace

AutoLoopAlignResult autoLoopAlign(const PcmSpan& pcm, int64_t e, int64_t f, const LoopProgress& progress) {
  return AlignEnds(pcm, 0, e, f, progress);
}

PcmWindow AutoLoopAlignWindow(const PcmSpan& pcm, int64_t e, int64_t f) {
  const int64_t radius = static_cast<int64_t>(0.2 * pcm.sampleRate);
  // The last end candidate reads 512 frames on; one more keeps its crossing
  // test (which reads the next frame) and the "512 before the end" bound
  // where they were.
  return PcmWindow::Copy(pcm, std::max<int64_t>(0, e - radius), std::min(pcm.Frames(), f + radius + 513));
}

AutoLoopAlignResult autoLoopAlign(const PcmWindow& window, int64_t e, int64_t f, const LoopProgress& progress) {
  return AlignEnds(window.Span(), window.first, e - window.first, f - window.first, progress);
}

ZeroCrossingSnapResult snapLoopToZeroCrossings(const PcmSpan& pcm, int64_t loopIn, int64_t loopOut) {
  ZeroCrossingSnapResult r;
  r.loopIn = FindRisingZeroCrossing(pcm, loopIn);
  r.loopOut = FindRisingZeroCrossing(pcm, loopOut);
  if (r.loopIn == loopIn && r.loopOut == loopOut) {
    r.message = "Loop points are already at the nearest zero-crossings.";
    return r;
  }
  r.changed = true;
  r.log = Format("Loop points snapped to zero-crossings. Start: %lld -> %lld (%+lld). End: %lld -> %lld (%+lld).",
                 static_cast<long long>(loopIn), static_cast<long long>(r.loopIn),
                 static_cast<long long>(r.loopIn - loopIn), static_cast<long long>(loopOut),
                 static_cast<long long>(r.loopOut), static_cast<long long>(r.loopOut - loopOut));
  return r;
}

}  // namespace zandrel
