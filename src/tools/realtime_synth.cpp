#include "tools/realtime_synth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zandrel {
namespace {

constexpr float kPi = 3.1415927f;

template <size_t N>
void FillWindow(std::array<float, N>& w) {
  const int taps = static_cast<int>(N);  // 2R + 1
  const float span = static_cast<float>(taps - 1);
  for (int t = 0; t < taps; ++t)
    w[static_cast<size_t>(t)] = 0.42f - 0.5f * std::cos(2.0f * kPi * static_cast<float>(t) / span) +
                                0.08f * std::cos(4.0f * kPi * static_cast<float>(t) / span);
}

int RadiusOf(int mode) { return mode == 2 ? 8 : mode == 3 ? 16 : 4; }

}  // namespace

CRealTimeSynth::CRealTimeSynth() {
  FillWindow(window4_);
  FillWindow(window8_);
  FillWindow(window16_);
}

CRealTimeSynth::~CRealTimeSynth() = default;

void CRealTimeSynth::Bind(const CWavLoader* audio, const InstrumentData* instrument, double outputRate) {
  instrument_ = instrument;
  outputRate_ = outputRate > 0 ? outputRate : 44100.0;
  if (audio && !audio->data.empty()) {
    pcm_ = audio->data.data();
    samples_ = static_cast<int64_t>(audio->data.size() / 2);
    channels_ = std::max<int>(1, audio->format.nChannels);
    sourceRate_ = audio->format.nSamplesPerSec;
    frameLimit_ = (samples_ + channels_ - 1) / channels_;
  } else {
    pcm_ = nullptr;
    samples_ = frameLimit_ = 0;
    channels_ = 1;
    sourceRate_ = 44100.0;
  }
  if (instrument) {
    attack_.store(instrument->params.attack);
    release_.store(instrument->params.release);
  }
  lastRegion_.store(-1);
  lastRoot_.store(-1);
  // Not joined, so nothing renders: the queue can be emptied from here.
  tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release);
  voiceCount_ = 0;
}

std::optional<CRealTimeSynth::NoteStart> CRealTimeSynth::NoteOn(int note, int velocity) {
  if (!pcm_ || !instrument_ || !instrument_->hasInstrument) return std::nullopt;
  const std::vector<Region>& regions = instrument_->regions;
  size_t index = 0;
  while (index < regions.size() && !(regions[index].loKey <= note && note <= regions[index].hiKey)) ++index;
  if (index == regions.size()) return std::nullopt;
  const Region& region = regions[index];
  const InstrumentParams& params = instrument_->params;
  int root = region.rootNote;
  if (root < 0 || root > 127) root = params.smplUnityNote != -1 ? params.smplUnityNote : params.rootNote;

  Event e;
  e.kind = Event::kOn;
  e.note = note;
  Voice& v = e.voice;
  v.note = note;
  v.position = static_cast<double>(region.startSample);
  v.increment = std::pow(2.0, (note - root) / 12.0) * (sourceRate_ / outputRate_);
  const int a = std::clamp(attack_.load(std::memory_order_relaxed), 0, 255);
  const double attackSeconds = a > 0 ? std::pow(a / 255.0, 3.0) * 5.0 : 0.0;
  const double attackFrames = outputRate_ * attackSeconds;
  if (attackFrames <= 1.0) {
    v.level = 1.0;
    v.attackStep = 1.0;
  } else {
    v.level = 0.0;
    v.attackStep = 1.0 / attackFrames;
  }
  const int r = std::clamp(release_.load(std::memory_order_relaxed), 0, 255);
  const double releaseSeconds = r >= 1 ? std::pow(r / 255.0, 3.0) * 10.0 : 0.0;
  v.releaseStep = 1.0 / (std::max(0.01, releaseSeconds) * outputRate_);
  v.state = 0;
  v.gain = static_cast<float>(velocity) / 127.0f;
  v.loopStart = region.loopStart;
  v.loopEnd = region.loopEnd;
  v.end = region.endSample;
  // A loop whose end does not lie after its start plays as no loop.
  v.loops = region.loopStart >= 0 && region.loopStart < region.loopEnd;

  const NoteStart start{static_cast<int32_t>(index), root};
  lastRegion_.store(start.regionIndex);
  lastRoot_.store(start.root);
  Push(e);
  return start;
}

void CRealTimeSynth::NoteOff(int note) {
  Event e;
  e.kind = Event::kOff;
  e.note = note;
  Push(e);
}

void CRealTimeSynth::AllNotesOff() {
  Event e;
  e.kind = Event::kAllOff;
  Push(e);
}

std::vector<int> CRealTimeSynth::SoundingNotes() const {
  std::vector<int> notes;
  for (size_t i = 0; i < voiceCount_; ++i) notes.push_back(voices_[i].note);
  return notes;
}

CRealTimeSynth::NoteStart CRealTimeSynth::LastNote() const { return {lastRegion_.load(), lastRoot_.load()}; }

bool CRealTimeSynth::Push(const Event& event) {
  std::lock_guard lock(pushLock_);
  const uint64_t head = head_.load(std::memory_order_relaxed);
  if (head - tail_.load(std::memory_order_acquire) >= kQueueSize) {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  queue_[head % kQueueSize] = event;
  head_.store(head + 1, std::memory_order_release);
  return true;
}

void CRealTimeSynth::Apply(const Event& e) {
  switch (e.kind) {
    case Event::kOn: {
      if (voiceCount_ == kMaxVoices) {
        // Make room: the oldest voice already fading, else the oldest voice.
        size_t drop = 0;
        for (size_t i = 0; i < voiceCount_; ++i)
          if (voices_[i].state == 2) {
            drop = i;
            break;
          }
        std::move(voices_.begin() + static_cast<std::ptrdiff_t>(drop) + 1,
                  voices_.begin() + static_cast<std::ptrdiff_t>(voiceCount_),
                  voices_.begin() + static_cast<std::ptrdiff_t>(drop));
        --voiceCount_;
      }
      voices_[voiceCount_++] = e.voice;
      break;
    }
    case Event::kOff:
      for (size_t i = 0; i < voiceCount_; ++i)
        if (voices_[i].note == e.note && voices_[i].state != 2) voices_[i].state = 2;
      break;
    case Event::kAllOff:
      voiceCount_ = 0;
      break;
  }
}

float CRealTimeSynth::Fetch(int64_t frame, int channel) const {
  // The frame is checked before it takes part in any index arithmetic.
  if (frame < 0 || frame >= frameLimit_) return 0.0f;
  const int64_t index = frame * channels_ + (channel < channels_ ? channel : 0);
  if (index >= samples_) return 0.0f;
  int16_t s;
  std::memcpy(&s, pcm_ + 2 * index, 2);
  return static_cast<float>(s) / 32768.0f;
}

float CRealTimeSynth::Linear(double position, int channel) const {
  const int64_t i0 = static_cast<int64_t>(position);
  const float frac = static_cast<float>(position - static_cast<double>(i0));
  const float s0 = Fetch(i0, channel);
  const float s1 = Fetch(i0 + 1, channel);
  return s0 + (s1 - s0) * frac;
}

float CRealTimeSynth::Sinc(double position, int channel, int radius) const {
  const double b = std::round(position);
  const int64_t base = static_cast<int64_t>(b);
  const float frac = static_cast<float>(position - b);
  const float* window = radius == 16 ? window16_.data() : radius == 8 ? window8_.data() : window4_.data();
  // sin(pi (frac - k)) = (-1)^k sin(pi frac): one sine serves every tap.
  const float s = std::sin(kPi * frac);
  float sum = 0.0f;
  for (int k = -radius; k <= radius; ++k) {
    const float x = frac - static_cast<float>(k);
    float sinc;
    if (std::fabs(x) < 0.00001f) {
      sinc = 1.0f;
    } else {
      sinc = ((k & 1) ? -s : s) / (kPi * x);
    }
    sum += Fetch(base + k, channel) * sinc * window[k + radius];
  }
  return sum;
}

float CRealTimeSynth::ReferenceSincSample(double position, int channel, int radius) const {
  const double b = std::round(position);
  const int64_t base = static_cast<int64_t>(b);
  const float frac = static_cast<float>(position - b);
  float sum = 0.0f;
  int t = 0;
  for (int k = -radius; k <= radius; ++k, ++t) {
    const float x = frac - static_cast<float>(k);
    const float sinc = std::fabs(x) < 0.00001f ? 1.0f : std::sin(kPi * x) / (kPi * x);
    const float window = 0.42f - 0.5f * std::cos(2.0f * kPi * static_cast<float>(t) / static_cast<float>(2 * radius)) +
                         0.08f * std::cos(4.0f * kPi * static_cast<float>(t) / static_cast<float>(2 * radius));
    sum += Fetch(base + k, channel) * sinc * window;
  }
  return sum;
}

float CRealTimeSynth::InterpolateSample(double position, int channel) const {
  const int mode = interpolation_.load(std::memory_order_relaxed);
  return mode == kLinear ? Linear(position, channel) : Sinc(position, channel, RadiusOf(mode));
}

bool CRealTimeSynth::RenderVoice(Voice& v, float* mix, size_t frames, int mode) {
  const int right = channels_ > 1 ? 1 : 0;
  const int radius = RadiusOf(mode);
  const double loopLength = static_cast<double>(v.loopEnd - v.loopStart);
  const double boundary = v.loops ? static_cast<double>(v.loopEnd) : static_cast<double>(v.end);
  size_t n = 0;
  while (n < frames) {
    // Envelope.
    if (v.state == 0) {
      v.level += v.attackStep;
      if (v.level >= 1.0) {
        v.level = 1.0;
        v.state = 1;
      }
    } else if (v.state == 2) {
      v.level -= v.releaseStep;
      if (v.level <= 0.0) return false;
    }
    // Loop and end. An overshoot of a loop length or more wraps into the loop too.
    if (v.position >= boundary) {
      if (!v.loops) return false;
      v.position = static_cast<double>(v.loopStart) + std::fmod(v.position - boundary, loopLength);
    }
    // While sustaining nothing changes but the position: run on to the next
    // loop end (or region end) or the end of the block in a plain loop.
    size_t stop = n + 1;
    if (v.state == 1) {
      stop = frames;
    }
    const float level = static_cast<float>(v.level);
    const float gain = v.gain;
    double position = v.position;
    const double increment = v.increment;
    if (mode == kLinear) {
      if (right == 0) {
        for (size_t i = n; i < stop; ++i) {
          if (i > n && position >= boundary) {
            stop = i;
            break;
          }
          const float s = level * Linear(position, 0) * gain;
          mix[2 * i] += s;
          mix[2 * i + 1] += s;
          position += increment;
        }
      } else {
        for (size_t i = n; i < stop; ++i) {
          if (i > n && position >= boundary) {
            stop = i;
            break;
          }
          mix[2 * i] += level * Linear(position, 0) * gain;
          mix[2 * i + 1] += level * Linear(position, 1) * gain;
          position += increment;
        }
      }
    } else {
      for (size_t i = n; i < stop; ++i) {
        if (i > n && position >= boundary) {
          stop = i;
          break;
        }
        const float l = level * Sinc(position, 0, radius) * gain;
        mix[2 * i] += l;
        mix[2 * i + 1] += right == 0 ? l : level * Sinc(position, right, radius) * gain;
        position += increment;
      }
    }
    v.position = position;
    n = stop;
  }
  return true;
}

void CRealTimeSynth::TakeQueue() {
  const uint64_t head = head_.load(std::memory_order_acquire);
  uint64_t tail = tail_.load(std::memory_order_relaxed);
  for (; tail != head; ++tail) Apply(queue_[tail % kQueueSize]);
  tail_.store(tail, std::memory_order_release);
}

void CRealTimeSynth::MixBlock(size_t frames, int mode) {
  std::fill_n(mix_.begin(), 2 * frames, 0.0f);
  if (!pcm_) return;
  size_t kept = 0;
  for (size_t i = 0; i < voiceCount_; ++i) {
    Voice& v = voices_[i];
    if (RenderVoice(v, mix_.data(), frames, mode)) voices_[kept++] = v;
  }
  voiceCount_ = kept;
}

void CRealTimeSynth::Render(float* out, size_t frames) {
  TakeQueue();
  const int mode = interpolation_.load(std::memory_order_relaxed);
  while (frames > 0) {
    const size_t block = std::min(frames, kBlockFrames);
    MixBlock(block, mode);
    for (size_t i = 0; i < 2 * block; ++i)
      out[i] = static_cast<float>(std::clamp(static_cast<double>(mix_[i]) * 0.8, -1.0, 1.0));
    out += 2 * block;
    frames -= block;
  }
}

void CRealTimeSynth::RenderBlock(int16_t* out) {
  TakeQueue();
  MixBlock(kBlockFrames, interpolation_.load(std::memory_order_relaxed));
  for (size_t i = 0; i < 2 * kBlockFrames; ++i)
    out[i] = static_cast<int16_t>(std::clamp(static_cast<double>(mix_[i]) * 0.8, -1.0, 1.0) * 32767.0);
}

}  // namespace zandrel
