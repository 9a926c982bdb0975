#include "platform/audio_input.h"

#include <algorithm>
#include <atomic>

namespace zandrel {
namespace {

AudioInput* g_input = nullptr;

}  // namespace

AudioInput* CurrentAudioInput() { return g_input; }

AudioInput* SetAudioInput(AudioInput* input) {
  AudioInput* previous = g_input;
  g_input = input;
  return previous;
}

// One open stream's delivery state. Shared between the handle and the input
// so a Push that found the stream never touches freed memory.
struct MemoryStreamCore {
  std::string identity;
  uint32_t rate = 0;
  int channels = 1;
  size_t maxBlockFrames = 1;
  std::mutex deliver;  // held by Push while the callback runs and by Close
  bool closed = false;
  AudioInputCallback callback;
  std::atomic<bool> lost{false};  // a test's unplugged device: nothing more is delivered
};

struct MemoryAudioInput::State {
  mutable std::mutex mutex;
  std::vector<AudioInputDevice> devices;
  std::vector<std::shared_ptr<MemoryStreamCore>> open;
  int failCode = AudioInputError::kNone;
  int opens = 0;
  uint32_t lastRate = 0;
  int lastChannels = 0;
  size_t lastMaxBlock = 0;
};

class MemoryAudioInput::Stream final : public AudioInputStream {
 public:
  Stream(std::shared_ptr<State> state, std::shared_ptr<MemoryStreamCore> core)
      : state_(std::move(state)), core_(std::move(core)) {}
  ~Stream() override { Close(); }
  uint32_t SampleRate() const override { return core_->rate; }
  int Channels() const override { return core_->channels; }
  bool Lost() const override { return core_->lost.load(); }
  void Close() override {
    {
      std::lock_guard lock(core_->deliver);  // waits for a delivery in progress
      if (core_->closed) return;
      core_->closed = true;
      core_->callback = nullptr;
    }
    std::lock_guard lock(state_->mutex);
    std::erase(state_->open, core_);
  }

 private:
  std::shared_ptr<State> state_;
  std::shared_ptr<MemoryStreamCore> core_;
};

MemoryAudioInput::MemoryAudioInput() : state_(std::make_shared<State>()) {}
MemoryAudioInput::~MemoryAudioInput() = default;

void MemoryAudioInput::AddDevice(const std::string& name, int channels) {
  std::lock_guard lock(state_->mutex);
  state_->devices.push_back({name, "Memory: " + name, channels});
}

void MemoryAudioInput::FailOpens(int code) {
  std::lock_guard lock(state_->mutex);
  state_->failCode = code;
}

std::vector<AudioInputDevice> MemoryAudioInput::Devices() {
  std::lock_guard lock(state_->mutex);
  return state_->devices;
}

std::unique_ptr<AudioInputStream> MemoryAudioInput::Open(const std::string& identity, uint32_t rate, int channels,
                                                         size_t maxBlockFrames, AudioInputCallback callback,
                                                         AudioInputError* error) {
  auto fail = [&](int code, std::string detail) -> std::unique_ptr<AudioInputStream> {
    if (error) *error = {code, std::move(detail)};
    return nullptr;
  };
  std::lock_guard lock(state_->mutex);
  if (state_->failCode != AudioInputError::kNone) return fail(state_->failCode, "refused by the test");
  if (state_->devices.empty()) return fail(AudioInputError::kNoDriver, "no input devices");
  const AudioInputDevice* device = nullptr;
  if (identity.empty()) {
    device = &state_->devices.front();
  } else {
    for (const auto& d : state_->devices)
      if (d.identity == identity) device = &d;
  }
  if (!device) return fail(AudioInputError::kBadDevice, "no device " + identity);
  if (rate == 0 || channels < 1 || channels > 2 || channels > device->channels || maxBlockFrames == 0 || !callback)
    return fail(AudioInputError::kFormat, "format not supported");
  for (const auto& core : state_->open)
    if (core->identity == device->identity) return fail(AudioInputError::kBusy, device->identity + " is open");
  auto core = std::make_shared<MemoryStreamCore>();
  core->identity = device->identity;
  core->rate = rate;
  core->channels = channels;
  core->maxBlockFrames = maxBlockFrames;
  core->callback = std::move(callback);
  state_->open.push_back(core);
  ++state_->opens;
  state_->lastRate = rate;
  state_->lastChannels = channels;
  state_->lastMaxBlock = maxBlockFrames;
  if (error) *error = {};
  return std::make_unique<Stream>(state_, std::move(core));
}

bool MemoryAudioInput::Push(const int16_t* frames, size_t frameCount, const std::string& identity) {
  std::shared_ptr<MemoryStreamCore> core;
  {
    std::lock_guard lock(state_->mutex);
    for (const auto& c : state_->open)
      if (identity.empty() || c->identity == identity) {
        core = c;
        break;
      }
  }
  if (!core) return false;
  std::lock_guard lock(core->deliver);
  if (core->closed || core->lost.load()) return false;
  const size_t channels = static_cast<size_t>(core->channels);
  for (size_t done = 0; done < frameCount;) {
    const size_t n = std::min(core->maxBlockFrames, frameCount - done);
    core->callback(frames + done * channels, n);
    done += n;
  }
  return true;
}

bool MemoryAudioInput::Lose(const std::string& identity) {
  std::lock_guard lock(state_->mutex);
  for (const auto& c : state_->open)
    if (identity.empty() || c->identity == identity) {
      c->lost.store(true);
      return true;
    }
  return false;
}

bool MemoryAudioInput::Push(const std::vector<int16_t>& frames, const std::string& identity) {
  size_t channels = 1;
  {
    std::lock_guard lock(state_->mutex);
    for (const auto& c : state_->open)
      if (identity.empty() || c->identity == identity) {
        channels = static_cast<size_t>(c->channels);
        break;
      }
  }
  return Push(frames.data(), frames.size() / channels, identity);
}

int MemoryAudioInput::OpenStreams() const {
  std::lock_guard lock(state_->mutex);
  return static_cast<int>(state_->open.size());
}
int MemoryAudioInput::Opens() const {
  std::lock_guard lock(state_->mutex);
  return state_->opens;
}
uint32_t MemoryAudioInput::OpenedRate() const {
  std::lock_guard lock(state_->mutex);
  return state_->lastRate;
}
int MemoryAudioInput::OpenedChannels() const {
  std::lock_guard lock(state_->mutex);
  return state_->lastChannels;
}
size_t MemoryAudioInput::OpenedMaxBlockFrames() const {
  std::lock_guard lock(state_->mutex);
  return state_->lastMaxBlock;
}

}  // namespace zandrel
