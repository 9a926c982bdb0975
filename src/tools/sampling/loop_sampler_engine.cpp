#include "tools/sampling/loop_sampler_engine.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>

namespace zandrel {
namespace {

int16_t Saturate(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767)); }

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutTag(std::vector<uint8_t>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

}  // namespace

int LeadingInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t v = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
    v = std::min<int64_t>(v * 10 + (text[i] - '0'), int64_t{INT_MAX} + 1);
  v = negative ? -v : v;
  return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

LoopGrid ComputeLoopGrid(const std::string& tempo, const std::string& bars, const std::string& numerator,
                         const std::string& denominator, uint32_t rate) {
  int t = LeadingInt(tempo), b = LeadingInt(bars), n = LeadingInt(numerator), d = LeadingInt(denominator);
  if (t <= 0) t = 120;
  if (b <= 0) b = 1;
  if (n <= 0) n = 4;
  if (d <= 0) d = 4;
  LoopGrid grid;
  // The order of the products matters for the truncation: keep it.
  grid.loopFrames = static_cast<int64_t>(n * (4.0 / d) * b * 60.0 / t * rate);
  grid.framesPerBeat = 60.0 / t * rate * (4.0 / d);
  grid.beatsPerBar = n;
  return grid;
}

int LatencyFrames(const std::string& latencyMs, uint32_t rate) {
  const int ms = std::clamp(LeadingInt(latencyMs), 0, 1000);
  return static_cast<int>(ms * static_cast<int>(rate) / 1000.0);
}

LoopLengthCheck CheckLoopLength(int64_t loopFrames, uint32_t rate) {
  // Whole frames: 0.1 s at 44.1 kHz is exactly 4410.
  const int64_t lo = static_cast<int64_t>(std::llround(kMinSamplerLoopSeconds * rate));
  if (loopFrames < lo) return LoopLengthCheck::kTooShort;
  const uint64_t hi = kMaxTakeMemoryBytes / (kTakesInMemory * sizeof(int16_t));
  if (static_cast<uint64_t>(loopFrames) > hi) return LoopLengthCheck::kTooLong;
  return LoopLengthCheck::kAllowed;
}

MetronomeClicks BuildClicks(uint32_t rate) {
  const int count = static_cast<int>(rate) * 10 / 1000;
  MetronomeClicks c;
  c.accent.resize(static_cast<size_t>(count));
  c.normal.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double env = i <= 0.8 * count ? 1.0 : (count - i) / (0.2 * count);
    c.accent[static_cast<size_t>(i)] = static_cast<int16_t>(std::sin(t * 6283.18) * 26213.6 * env);
    c.normal[static_cast<size_t>(i)] = static_cast<int16_t>(std::sin(t * 5026.544) * 16383.5 * env);
  }
  return c;
}

std::vector<int16_t> BuildTakeBuffer(const std::deque<std::vector<int16_t>>& ring, int slot, int crossfadeMs,
                                     uint32_t rate) {
  if (slot < 0 || static_cast<size_t>(slot) >= ring.size()) return {};
  std::vector<int16_t> out = ring[static_cast<size_t>(slot)];
  const size_t nextSlot = static_cast<size_t>(slot) + 1;
  if (crossfadeMs > 0 && nextSlot < ring.size() && !ring[nextSlot].empty()) {
    const std::vector<int16_t>& next = ring[nextSlot];
    const size_t fade = static_cast<size_t>(static_cast<int64_t>(crossfadeMs) * rate / 1000);
    const size_t n = std::min({out.size(), next.size(), fade});
    for (size_t k = 0; k < n; ++k) {
      const float w = static_cast<float>(k) / static_cast<float>(n);
      const float v = next[k] * (1.0f - w) + out[k] * w;
      out[k] = static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));
    }
  }
  return out;
}

std::vector<int> TakeLevels(const std::vector<int16_t>& take) {
  constexpr size_t kBins = 2000;
  std::vector<int> levels(kBins, 0);
  if (take.empty()) return levels;
  const size_t step = std::max<size_t>(1, take.size() * 2 / 4000);
  for (size_t j = 0; j < kBins; ++j) {
    const size_t from = std::min(j * step, take.size());
    const size_t to = std::min(from + step, take.size());
    int peak = 0;
    for (size_t i = from; i < to; ++i) peak = std::max(peak, std::abs(static_cast<int>(take[i])));
    levels[j] = peak * 100 / 32768;
  }
  return levels;
}

std::vector<uint8_t> PlainWavBytes(const std::vector<int16_t>& pcm, uint32_t rate, int channels) {
  const uint32_t data = static_cast<uint32_t>(pcm.size() * 2);
  const uint16_t align = static_cast<uint16_t>(channels * 16 / 8);
  std::vector<uint8_t> out;
  out.reserve(44 + data);
  PutTag(out, "RIFF");
  PutU32(out, data + 36);
  PutTag(out, "WAVE");
  PutTag(out, "fmt ");
  PutU32(out, 16);
  PutU16(out, 1);
  PutU16(out, static_cast<uint16_t>(channels));
  PutU32(out, rate);
  PutU32(out, rate * align);
  PutU16(out, align);
  PutU16(out, 16);
  PutTag(out, "data");
  PutU32(out, data);
  for (int16_t s : pcm) PutU16(out, static_cast<uint16_t>(s));
  return out;
}

// ----------------------------------------------------------- engine --

LoopSamplerEngine::LoopSamplerEngine(size_t maxBlockFrames, uint32_t rate)
    : rate_(rate),
      maxBlockFrames_(std::max<size_t>(1, maxBlockFrames)),
      clicks_(BuildClicks(rate)),
      monitor_(std::make_shared<MonitorFifo>(std::max<size_t>(1, maxBlockFrames), 1)) {
  scratch_.assign(maxBlockFrames_, 0);
  spares_.reserve(8);
}

LoopSamplerEngine::~LoopSamplerEngine() = default;

void LoopSamplerEngine::SetGrid(const LoopGrid& grid) {
  std::lock_guard<std::mutex> lock(lock_);
  grid_ = grid;
}

LoopGrid LoopSamplerEngine::Grid() const {
  std::lock_guard<std::mutex> lock(lock_);
  return grid_;
}

void LoopSamplerEngine::ResetCounter() {
  std::lock_guard<std::mutex> lock(lock_);
  counter_ = 0;
  timerCounter_ = 0;
}

size_t LoopSamplerEngine::SpareCount() const {
  std::lock_guard<std::mutex> lock(lock_);
  return spares_.size();
}

LoopSamplerEngine::RecordResult LoopSamplerEngine::Record() {
  if (Recording() || Armed()) return RecordResult::kAlreadyArmed;
  const LoopGrid grid = Grid();
  switch (CheckLoopLength(grid.loopFrames, rate_)) {
    case LoopLengthCheck::kTooShort: return RecordResult::kTooShort;
    case LoopLengthCheck::kTooLong: return RecordResult::kTooLong;
    case LoopLengthCheck::kAllowed: break;
  }
  const size_t frames = static_cast<size_t>(grid.loopFrames);
  // Allocated here, on this thread: the work take and three zeroed spares.
  Take work(frames, 0);
  std::vector<Take> spares;
  spares.reserve(8);
  for (int i = 0; i < 3; ++i) spares.emplace_back(frames, 0);
  Take oldWork;
  std::vector<Take> oldSpares;
  {
    std::lock_guard<std::mutex> lock(lock_);
    recordLoop_ = grid.loopFrames;
    std::swap(work_, oldWork);
    std::swap(work_, work);
    std::swap(spares_, oldSpares);
    std::swap(spares_, spares);
    armed_.store(true, std::memory_order_release);
  }
  // oldWork and oldSpares are freed here, off the audio thread.
  return RecordResult::kStarted;
}

bool LoopSamplerEngine::Stop() {
  if (!Recording() && !Armed()) return false;
  Take last;
  int64_t stopPos = 0;
  {
    std::lock_guard<std::mutex> lock(lock_);
    armed_.store(false, std::memory_order_release);
    recording_.store(false, std::memory_order_release);
    std::swap(work_, last);
    if (recordLoop_ > 0) stopPos = counter_ % recordLoop_;
  }
  bool changed = false;
  CollectReady(changed);
  if (!last.empty()) {
    // The loop in progress ends here: after a dropped boundary the buffer
    // still holds the previous loop beyond this point.
    const size_t from = std::min(static_cast<size_t>(stopPos), last.size());
    std::fill(last.begin() + static_cast<std::ptrdiff_t>(from), last.end(), int16_t{0});
    AddToRing(std::move(last));
  }
  return true;
}

void LoopSamplerEngine::Abandon() {
  Take lost;
  {
    std::lock_guard<std::mutex> lock(lock_);
    armed_.store(false, std::memory_order_release);
    recording_.store(false, std::memory_order_release);
    std::swap(work_, lost);
  }
}

void LoopSamplerEngine::CollectReady(bool& changed) {
  std::vector<Take> collected;
  collected.reserve(ready_.size());
  {
    std::lock_guard<std::mutex> lock(lock_);
    while (readyCount_ > 0) {
      collected.emplace_back();
      std::swap(collected.back(), ready_[readyHead_]);
      readyHead_ = (readyHead_ + 1) % ready_.size();
      --readyCount_;
    }
  }
  for (Take& t : collected) {
    if (t.empty()) continue;
    AddToRing(std::move(t));
    changed = true;
  }
}

void LoopSamplerEngine::AddToRing(Take take) {
  if (ring_.size() >= static_cast<size_t>(kMaxTakes)) {
    Take old = std::move(ring_[static_cast<size_t>(ringIndex_)]);
    ring_[static_cast<size_t>(ringIndex_)] = std::move(take);
    // The overwritten take rejoins the pool, zeroed here rather than on the
    // audio thread.
    std::fill(old.begin(), old.end(), int16_t{0});
    std::lock_guard<std::mutex> lock(lock_);
    if ((Recording() || Armed()) && old.size() == static_cast<size_t>(recordLoop_) && spares_.size() < 3)
      spares_.push_back(std::move(old));
  } else {
    ring_.push_back(std::move(take));
  }
  ringIndex_ = (ringIndex_ + 1) % kMaxTakes;
}

LoopSamplerEngine::TimerReport LoopSamplerEngine::TimerTick() {
  TimerReport report;
  CollectReady(report.takesChanged);
  // Top the pool up to three spares for the next boundaries.
  if (Recording() || Armed()) {
    size_t have;
    size_t frames;
    {
      std::lock_guard<std::mutex> lock(lock_);
      have = spares_.size();
      frames = static_cast<size_t>(recordLoop_);
    }
    for (; have < 3 && frames > 0; ++have) {
      Take t(frames, 0);
      std::lock_guard<std::mutex> lock(lock_);
      if (spares_.size() < spares_.capacity()) spares_.push_back(std::move(t));
    }
  }
  report.peakLevel = peak_.exchange(0, std::memory_order_relaxed);
  report.droppedTakes = dropped_.exchange(0, std::memory_order_relaxed);
  int64_t counter, loop;
  {
    std::lock_guard<std::mutex> lock(lock_);
    counter = counter_;
    loop = grid_.loopFrames;
  }
  if (loop > 0) {
    report.havePosition = true;
    report.position = static_cast<double>(counter % loop) / static_cast<double>(loop);
    report.newLoop = counter / loop > timerCounter_ / loop;
    timerCounter_ = counter;
  }
  return report;
}

void LoopSamplerEngine::SetPlayingTake(std::vector<int16_t>& take) {
  std::lock_guard<std::mutex> lock(lock_);
  std::swap(playingTake_, take);
}

std::vector<int16_t> LoopSamplerEngine::PlayingTakeCopy() const {
  std::lock_guard<std::mutex> lock(lock_);
  return playingTake_;
}

void LoopSamplerEngine::WriteTake(const int16_t* samples, size_t frames) {
  const size_t loop = static_cast<size_t>(recordLoop_);
  size_t done = 0;
  int64_t g = counter_;
  while (done < frames) {
    const size_t pos = static_cast<size_t>(g % recordLoop_);
    const size_t chunk = std::min(frames - done, loop - pos);
    // Bounded by the take's own size, whatever the grid says.
    if (work_.size() == loop) std::copy_n(samples + done, chunk, work_.data() + pos);
    done += chunk;
    g += static_cast<int64_t>(chunk);
    if (pos + chunk < loop) continue;
    // A loop boundary: queue the finished take and go on in a spare.
    if (!spares_.empty() && readyCount_ < ready_.size() && !work_.empty()) {
      std::swap(ready_[(readyHead_ + readyCount_) % ready_.size()], work_);
      ++readyCount_;
      std::swap(work_, spares_.back());
      spares_.pop_back();  // an empty vector: nothing is freed
    } else {
      // No spare: this loop is lost, and the next one overwrites it.
      dropped_.fetch_add(1, std::memory_order_relaxed);
    }
  }
}

void LoopSamplerEngine::OnInputBlock(const int16_t* samples, size_t frames) {
  if (samples == nullptr || frames == 0) return;
  frames = std::min(frames, maxBlockFrames_);
  int16_t* block = scratch_.data();
  const double gain = gain_.load(std::memory_order_relaxed);
  int peak = 0;
  for (size_t i = 0; i < frames; ++i) {
    int16_t s = samples[i];
    if (gain != 1.0) s = Saturate(static_cast<int64_t>(s * gain));
    block[i] = s;
    peak = std::max(peak, std::abs(static_cast<int>(s)));
  }
  const int level = peak * 100 / 32768;
  int stored = peak_.load(std::memory_order_relaxed);
  while (level > stored && !peak_.compare_exchange_weak(stored, level, std::memory_order_relaxed)) {
  }

  int16_t* out = monitor_->BeginPush();
  if (out) {
    if (monitorInput_.load(std::memory_order_relaxed))
      std::copy_n(block, frames, out);
    else
      std::fill_n(out, frames, int16_t{0});
  }
  const bool playing = playing_.load(std::memory_order_acquire);
  int64_t counter;
  LoopGrid grid;
  {
    std::lock_guard<std::mutex> lock(lock_);
    if (armed_.load(std::memory_order_relaxed)) {
      armed_.store(false, std::memory_order_release);
      recording_.store(true, std::memory_order_release);
    }
    if (recording_.load(std::memory_order_relaxed) && recordLoop_ > 0 && !work_.empty()) WriteTake(block, frames);
    counter_ += static_cast<int64_t>(frames);
    counter = counter_;
    grid = grid_;
    // The playing take, aligned to the grid (the counter already counts
    // this block).
    if (out && playing && !playingTake_.empty() && grid.loopFrames > 0) {
      for (size_t i = 0; i < frames; ++i) {
        const size_t idx = static_cast<size_t>((counter + static_cast<int64_t>(i)) % grid.loopFrames);
        if (idx < playingTake_.size()) out[i] = Saturate(int64_t{out[i]} + playingTake_[idx]);
      }
    }
  }
  if (!out) return;
  if (metronome_.load(std::memory_order_relaxed) && grid.loopFrames > 0 && grid.framesPerBeat > 0.0 &&
      grid.beatsPerBar > 0) {
    const double volume = metronomeVolume_.load(std::memory_order_relaxed);
    // Heard early by the latency, unless a take plays on the plain grid.
    const int64_t off = playing ? 0 : latencyFrames_.load(std::memory_order_relaxed);
    const int64_t clickLen = static_cast<int64_t>(clicks_.accent.size());
    for (size_t i = 0; i < frames; ++i) {
      const int64_t pos = (counter + off + static_cast<int64_t>(i)) % grid.loopFrames;
      const int64_t beat = static_cast<int64_t>(pos / grid.framesPerBeat);
      const int64_t k = pos - static_cast<int64_t>(beat * grid.framesPerBeat);
      if (k < 0 || k >= clickLen) continue;
      const std::vector<int16_t>& click = beat % grid.beatsPerBar == 0 ? clicks_.accent : clicks_.normal;
      out[i] = Saturate(int64_t{out[i]} + static_cast<int64_t>(click[static_cast<size_t>(k)] * volume));
    }
  }
  monitor_->CommitPush(frames);
}

}  // namespace zandrel
