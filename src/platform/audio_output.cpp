#include "platform/audio_output.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "platform/log_sink.h"
#include "platform/message_host.h"

namespace zandrel {
namespace {

class RefusingAudioOutput final : public AudioOutput {
 public:
  bool Join(std::shared_ptr<AudioSource>, std::string* error) override {
    if (error) *error = "no audio output is installed";
    return false;
  }
  void Leave(const AudioSource*) override {}
  bool Joined(const AudioSource*) const override { return false; }
  double LatencySeconds() const override { return 0.0; }
};

RefusingAudioOutput g_refusing;
AudioOutput* g_output = nullptr;

// Device frames mixed per pass over the voices.
constexpr size_t kBlockFrames = 512;

// Catmull-Rom interpolation between x1 and x2 at t in [0, 1).
float Cubic(float x0, float x1, float x2, float x3, float t) {
  const float c1 = 0.5f * (x2 - x0);
  const float c2 = x0 - 2.5f * x1 + 2.0f * x2 - 0.5f * x3;
  const float c3 = 0.5f * (x3 - x0) + 1.5f * (x1 - x2);
  return ((c3 * t + c2) * t + c1) * t + x1;
}

}  // namespace

AudioOutput& CurrentAudioOutput() { return g_output ? *g_output : g_refusing; }

AudioOutput* SetAudioOutput(AudioOutput* output) {
  AudioOutput* previous = g_output;
  g_output = output;
  return previous;
}

// ------------------------------------------------------------- mixer --

// One joined source and its rate conversion. The conversion keeps the four
// source frames around the current position (n - 1 .. n + 2) and the
// fractional position between frames n and n + 1; it asks the source for
// only as many frames as the next device frames need, so the source runs at
// most a few frames ahead of what has been mixed.
struct MixingAudioOutput::Voice {
  std::shared_ptr<AudioSource> source;
  int channels = 1;
  bool direct = true;  // same rate as the device: no conversion
  double step = 1.0;   // source frames per device frame
  double phase = 0.0;
  bool primed = false;
  float window[4][2] = {};
  std::vector<float> input;  // source frames rendered, not yet used (interleaved)
  size_t inputFrames = 0;
  size_t inputPos = 0;
  size_t capacity = 0;  // in frames

  // The next source frame into |frame|; |needed| estimates how many more the
  // current block will take.
  void Next(float* frame, size_t needed) {
    if (inputPos == inputFrames) {
      inputFrames = std::min(capacity, needed);
      inputPos = 0;
      source->Render(input.data(), inputFrames);
    }
    const float* f = input.data() + inputPos * static_cast<size_t>(channels);
    frame[0] = f[0];
    frame[1] = channels > 1 ? f[1] : f[0];
    ++inputPos;
  }
};

MixingAudioOutput::MixingAudioOutput() = default;
MixingAudioOutput::~MixingAudioOutput() = default;

bool MixingAudioOutput::Join(std::shared_ptr<AudioSource> source, std::string* error) {
  auto fail = [error](const char* why) {
    if (error) *error = why;
    return false;
  };
  if (!source) return fail("no source");
  if (source->SampleRate() == 0 || source->Channels() < 1 || source->Channels() > 2)
    return fail("the source's format cannot be played");
  if (Joined(source.get())) return true;
  if (!open_) {
    DeviceConfig got;
    std::string why;
    if (!OpenDevice(source->SampleRate(), got, why)) {
      if (error) *error = why;
      return false;
    }
    open_ = true;
    deviceRate_ = got.rate;
    deviceChannels_ = got.channels;
  }
  auto voice = std::make_unique<Voice>();
  voice->channels = source->Channels();
  voice->direct = source->SampleRate() == deviceRate_;
  voice->step = static_cast<double>(source->SampleRate()) / deviceRate_;
  voice->capacity = voice->direct ? kBlockFrames : static_cast<size_t>(std::ceil(kBlockFrames * voice->step)) + 4;
  voice->input.assign(voice->capacity * static_cast<size_t>(voice->channels), 0.0f);
  voice->source = std::move(source);
  std::lock_guard<std::mutex> lock(ownerLock_);
  const auto free = std::find(owned_.begin(), owned_.end(), nullptr);
  if (free == owned_.end()) {
    if (std::none_of(owned_.begin(), owned_.end(), [](const auto& v) { return v != nullptr; })) {
      CloseDevice();
      open_ = false;
    }
    return fail("too many sounds play at once");
  }
  const size_t slot = static_cast<size_t>(free - owned_.begin());
  *free = std::move(voice);
  // Fully built before the mixer can see it.
  slots_[slot].store(free->get(), std::memory_order_seq_cst);
  return true;
}

void MixingAudioOutput::Leave(const AudioSource* source) {
  std::unique_ptr<Voice> removed;
  bool last = false;
  {
    std::lock_guard<std::mutex> lock(ownerLock_);
    const auto it = std::find_if(owned_.begin(), owned_.end(),
                                 [source](const std::unique_ptr<Voice>& v) { return v && v->source.get() == source; });
    if (it == owned_.end()) return;
    slots_[static_cast<size_t>(it - owned_.begin())].store(nullptr, std::memory_order_seq_cst);
    removed = std::move(*it);
    last = std::none_of(owned_.begin(), owned_.end(), [](const auto& v) { return v != nullptr; });
  }
  WaitForRunningMix();
  removed.reset();
  if (last && open_) {
    CloseDevice();
    open_ = false;
  }
}

void MixingAudioOutput::WaitForRunningMix() const {
  // A mix that started before a slot was cleared may still be rendering its
  // voice: wait for that one mix (a period at most) to end. A mix that
  // starts later sees the empty slot. A stopped device is never inside Mix.
  const uint64_t cycle = mixCycle_.load(std::memory_order_seq_cst);
  if (cycle & 1)
    while (mixCycle_.load(std::memory_order_acquire) == cycle) std::this_thread::yield();
}

void MixingAudioOutput::LeaveAll() {
  std::array<std::unique_ptr<Voice>, kMaxVoices> removed;
  {
    std::lock_guard<std::mutex> lock(ownerLock_);
    for (size_t i = 0; i < kMaxVoices; ++i) {
      slots_[i].store(nullptr, std::memory_order_seq_cst);
      removed[i] = std::move(owned_[i]);
    }
  }
  WaitForRunningMix();
  for (auto& voice : removed) voice.reset();
  if (open_) {
    CloseDevice();
    open_ = false;
  }
}

bool JoinOrReport(std::shared_ptr<AudioSource> source, LogSink* log) {
  std::string why;
  if (CurrentAudioOutput().Join(std::move(source), &why)) return true;
  if (log) log->AppendLog(kJoinFailedLogPrefix + why);
  ShowMessage(kJoinFailedMessage, MessageIcon::Error);
  return false;
}

bool OutputLossWatch::Check(AudioOutput& output) {
  if (!output.DeviceLost()) {
    lostChecks_ = 0;
    return false;
  }
  if (++lostChecks_ < kChecks) return false;
  lostChecks_ = 0;
  output.LeaveAll();
  return true;
}

bool MixingAudioOutput::Joined(const AudioSource* source) const {
  std::lock_guard<std::mutex> lock(ownerLock_);
  return std::any_of(owned_.begin(), owned_.end(),
                     [source](const std::unique_ptr<Voice>& v) { return v && v->source.get() == source; });
}

void MixingAudioOutput::RenderVoice(Voice& v, float* out, size_t frames, int channels) {
  const size_t outChannels = static_cast<size_t>(channels);
  auto add = [&](float* dst, float left, float right) {
    if (outChannels == 1) {
      dst[0] += v.channels > 1 ? 0.5f * (left + right) : left;
    } else {
      dst[0] += left;
      dst[1] += right;
    }
  };
  for (size_t done = 0; done < frames;) {
    const size_t n = std::min(kBlockFrames, frames - done);
    float* dst = out + done * outChannels;
    if (v.direct) {
      v.source->Render(v.input.data(), n);
      for (size_t i = 0; i < n; ++i) {
        const float* f = v.input.data() + i * static_cast<size_t>(v.channels);
        add(dst + i * outChannels, f[0], v.channels > 1 ? f[1] : f[0]);
      }
    } else {
      for (size_t i = 0; i < n; ++i) {
        const size_t needed = static_cast<size_t>(std::ceil((n - i) * v.step)) + 2;
        if (!v.primed) {
          v.window[0][0] = v.window[0][1] = 0.0f;
          v.Next(v.window[1], needed);
          v.Next(v.window[2], needed);
          v.Next(v.window[3], needed);
          v.primed = true;
        }
        const float t = static_cast<float>(v.phase);
        float s[2];
        for (int c = 0; c < 2; ++c) s[c] = Cubic(v.window[0][c], v.window[1][c], v.window[2][c], v.window[3][c], t);
        add(dst + i * outChannels, s[0], s[1]);
        v.phase += v.step;
        while (v.phase >= 1.0) {
          v.phase -= 1.0;
          std::copy(&v.window[1][0], &v.window[1][0] + 6, &v.window[0][0]);
          v.Next(v.window[3], needed);
        }
      }
    }
    done += n;
  }
}

void MixingAudioOutput::Mix(float* out, size_t frames, int channels) {
  const size_t samples = frames * static_cast<size_t>(channels);
  std::fill(out, out + samples, 0.0f);
  mixCycle_.fetch_add(1, std::memory_order_seq_cst);  // odd: mixing
  for (std::atomic<Voice*>& slot : slots_)
    if (Voice* v = slot.load(std::memory_order_seq_cst)) RenderVoice(*v, out, frames, channels);
  mixCycle_.fetch_add(1, std::memory_order_release);  // even: done
  for (size_t i = 0; i < samples; ++i) out[i] = std::clamp(out[i], -1.0f, 1.0f);
}

// ------------------------------------------------------ memory output --

MemoryAudioOutput::~MemoryAudioOutput() {
  if (IsOpen()) CloseDevice();
}

bool MemoryAudioOutput::OpenDevice(uint32_t wantedRate, DeviceConfig& got, std::string& error) {
  if (!openError.empty()) {
    error = openError;
    return false;
  }
  std::lock_guard<std::mutex> lock(pullLock_);
  got.rate = rate ? rate : wantedRate;
  got.channels = channels;
  runningChannels_ = channels;
  running_ = true;
  lost.store(false);
  ++opens_;
  return true;
}

void MemoryAudioOutput::CloseDevice() {
  std::lock_guard<std::mutex> lock(pullLock_);
  running_ = false;
  ++closes_;
}

bool MemoryAudioOutput::Pull(size_t frames) {
  std::lock_guard<std::mutex> lock(pullLock_);
  if (!running_) return false;
  block_.resize(frames * static_cast<size_t>(runningChannels_));
  Mix(block_.data(), frames, runningChannels_);
  played_.insert(played_.end(), block_.begin(), block_.end());
  return true;
}

std::vector<float> MemoryAudioOutput::Played() const {
  std::lock_guard<std::mutex> lock(pullLock_);
  return played_;
}

}  // namespace zandrel
