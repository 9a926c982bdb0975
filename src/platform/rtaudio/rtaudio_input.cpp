#include "platform/rtaudio/rtaudio_input.h"

#include <RtAudio.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>

#include "platform/rate_converter.h"
#include "platform/rtaudio/jack_stream.h"
#include "platform/rtaudio/rtaudio_backends.h"
#include "platform/rtaudio/stream_closer.h"

namespace zandrel {
namespace {

// Device frames converted per pass: bounds the conversion buffer.
constexpr size_t kConvertChunk = 256;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void Fail(AudioInputError* error, int code, std::string detail) {
  if (error) {
    error->code = code;
    error->detail = std::move(detail);
  }
}

}  // namespace

int AudioInputErrorCode(int rtErrorType, const std::string& message) {
  const std::string m = Lower(message);
  if (m.find("busy") != std::string::npos || m.find("in use") != std::string::npos) return AudioInputError::kBusy;
  switch (static_cast<RtAudioError::Type>(rtErrorType)) {
    case RtAudioError::INVALID_DEVICE: return AudioInputError::kBadDevice;
    case RtAudioError::NO_DEVICES_FOUND: return AudioInputError::kNoDriver;
    case RtAudioError::MEMORY_ERROR: return AudioInputError::kMemory;
    case RtAudioError::INVALID_PARAMETER:
    case RtAudioError::INVALID_USE: return AudioInputError::kFormat;
    case RtAudioError::DRIVER_ERROR:
    case RtAudioError::SYSTEM_ERROR:
    case RtAudioError::THREAD_ERROR: return AudioInputError::kBusy;
    default: break;
  }
  return AudioInputError::kNoDriver;
}

// One open capture stream: the device's float frames, converted to the asked
// rate and channels, gathered into blocks of at most maxBlockFrames.
class RtAudioInput::Stream final : public AudioInputStream {
 public:
  Stream(std::unique_ptr<RtAudio> audio, uint32_t rate, int channels, int deviceChannels, uint32_t deviceRate,
         size_t maxBlockFrames, AudioInputCallback callback)
      : audio_(std::move(audio)),
        rate_(rate),
        channels_(channels),
        deviceChannels_(deviceChannels),
        deviceRate_(deviceRate),
        maxBlock_(std::max<size_t>(1, maxBlockFrames)),
        callback_(std::move(callback)) {
    converter_.Reset(deviceRate_, rate_, channels_);
    spread_.assign(kConvertChunk * static_cast<size_t>(channels_), 0.0f);
    converted_.assign(converter_.MaxOutputFrames(kConvertChunk) * static_cast<size_t>(channels_), 0.0f);
    block_.assign(maxBlock_ * static_cast<size_t>(channels_), 0);
  }
  ~Stream() override { Close(); }

  uint32_t SampleRate() const override { return rate_; }
  int Channels() const override { return channels_; }

  void Close() override {
    if (jack_) {
      closing_.store(true, std::memory_order_release);
      jack_->Close();
      jack_.reset();
      closed_.store(true, std::memory_order_release);
    }
    if (!audio_) return;
    closing_.store(true, std::memory_order_release);
    CloseRtAudioStream(audio_);
    closed_.store(true, std::memory_order_release);
  }

  bool Lost() const override {
    if (closed_.load(std::memory_order_acquire)) return false;
    if (jack_) return jack_->Lost();
    return audio_ && RtAudioStreamLost(*audio_, pulse_, quiet_);
  }

  static void JackProcess(void* user, const float* in, float*, size_t frames) {
    auto* self = static_cast<Stream*>(user);
    if (!self->closing_.load(std::memory_order_acquire)) self->Deliver(in, frames);
  }

  // JACK streams bypass RtAudio's own shutdown (see jack_stream.h).
  bool StartJack(const std::string& device, const std::string& clientName, std::string& error, int& code) {
    audio_.reset();
    auto jack = std::make_unique<JackStream>();
    if (!jack->Open(clientName, device, deviceChannels_, 0, &Stream::JackProcess, this, error)) {
      code = AudioInputError::kBadDevice;
      return false;
    }
    jack_ = std::move(jack);
    return true;
  }

  static int Callback(void*, void* input, unsigned int frames, double, unsigned int, void* user) {
    auto* self = static_cast<Stream*>(user);
    self->pulse_.Beat();
    if (input && !self->closing_.load(std::memory_order_acquire))
      self->Deliver(static_cast<const float*>(input), frames);
    return 0;
  }

  bool Start(unsigned int device, const std::string& clientName, std::string& error, int& code, bool alsaDefault) {
    RtAudio::StreamParameters params;
    params.deviceId = device;
    params.nChannels = static_cast<unsigned int>(deviceChannels_);
    RtAudio::StreamOptions options;
    options.flags = RTAUDIO_SCHEDULE_REALTIME;
    if (alsaDefault) options.flags |= RTAUDIO_ALSA_USE_DEFAULT;
    options.streamName = clientName;
    unsigned int bufferFrames = kRtAudioBufferFrames;
    try {
      audio_->openStream(nullptr, &params, RTAUDIO_FLOAT32, deviceRate_, &bufferFrames, &Stream::Callback, this,
                         &options, &IgnoreRtAudioStreamError);
      quiet_ = QuietLimit(bufferFrames, deviceRate_);
      pulse_.Restart();
      audio_->startStream();
    } catch (const RtAudioError& e) {
      error = e.getMessage();
      code = AudioInputErrorCode(e.getType(), e.getMessage());
      try {
        if (audio_->isStreamOpen()) audio_->closeStream();
      } catch (const RtAudioError&) {
      }
      return false;
    }
    return true;
  }

 private:
  // The driver's thread: no allocation, no lock.
  void Deliver(const float* in, size_t frames) {
    const size_t ch = static_cast<size_t>(channels_);
    const size_t dch = static_cast<size_t>(deviceChannels_);
    for (size_t done = 0; done < frames;) {
      const size_t n = std::min(kConvertChunk, frames - done);
      // The device's channels to the asked ones: the first one or two, a
      // mono device on both.
      for (size_t f = 0; f < n; ++f)
        for (size_t c = 0; c < ch; ++c) spread_[f * ch + c] = in[(done + f) * dch + std::min(c, dch - 1)];
      size_t out = n;
      const float* src = spread_.data();
      if (deviceRate_ != rate_) {
        out = converter_.Process(spread_.data(), n, converted_.data());
        src = converted_.data();
      }
      for (size_t i = 0; i < out * ch; ++i) {
        const float v = std::clamp(src[i] * 32768.0f, -32768.0f, 32767.0f);
        block_[filled_ * ch + i % ch] = static_cast<int16_t>(std::lrint(v));
        if (i % ch == ch - 1 && ++filled_ == maxBlock_) Flush();
      }
      done += n;
    }
    if (filled_ > 0) Flush();
  }

  void Flush() {
    callback_(block_.data(), filled_);
    filled_ = 0;
  }

  std::unique_ptr<RtAudio> audio_;  // ALSA and PulseAudio
  std::unique_ptr<JackStream> jack_;
  const uint32_t rate_;
  const int channels_;
  const int deviceChannels_;
  const uint32_t deviceRate_;
  const size_t maxBlock_;
  AudioInputCallback callback_;
  std::atomic<bool> closing_{false};
  std::atomic<bool> closed_{false};
  StreamPulse pulse_;
  std::chrono::milliseconds quiet_{500};
  CubicRateConverter converter_;
  std::vector<float> spread_;     // one chunk in the asked channels
  std::vector<float> converted_;  // one chunk at the asked rate
  std::vector<int16_t> block_;    // what the callback gets
  size_t filled_ = 0;
};

RtAudioInput::RtAudioInput(AudioBackend backend, std::string clientName)
    : backend_(backend), clientName_(std::move(clientName)) {}

RtAudioInput::~RtAudioInput() = default;

std::vector<AudioInputDevice> RtAudioInput::Devices() {
  std::vector<AudioInputDevice> out;
  for (AudioBackend b : BackendsToTry(backend_)) {
    const RtAudio::Api api = RtAudioApiOf(b);
    try {
      RtAudio audio(api);
      audio.showWarnings(false);
      const unsigned int count = audio.getDeviceCount();
      for (unsigned int d = 0; d < count; ++d) {
        RtAudio::DeviceInfo info;
        try {
          info = audio.getDeviceInfo(d);
        } catch (const RtAudioError&) {
          continue;
        }
        if (!info.probed || info.inputChannels == 0) continue;
        out.push_back({info.name, RtAudio::getApiDisplayName(api) + ": " + info.name,
                       static_cast<int>(info.inputChannels)});
      }
    } catch (const RtAudioError&) {
    }
  }
  return out;
}

std::unique_ptr<AudioInputStream> RtAudioInput::Open(const std::string& identity, uint32_t rate, int channels,
                                                     size_t maxBlockFrames, AudioInputCallback callback,
                                                     AudioInputError* error) {
  if (rate == 0 || channels < 1 || channels > 2 || maxBlockFrames == 0 || !callback) {
    Fail(error, AudioInputError::kFormat, "unsupported format");
    return nullptr;
  }
  bool anyBackEnd = false;
  std::string lastError;
  int lastCode = AudioInputError::kBadDevice;
  for (AudioBackend b : BackendsToTry(backend_)) {
    const RtAudio::Api api = RtAudioApiOf(b);
    std::unique_ptr<RtAudio> audio;
    unsigned int count = 0;
    try {
      audio = std::make_unique<RtAudio>(api);
      audio->showWarnings(false);
      count = audio->getDeviceCount();
    } catch (const RtAudioError& e) {
      lastError = e.getMessage();
      continue;
    }
    if (count == 0) continue;
    anyBackEnd = true;
    const std::string prefix = RtAudio::getApiDisplayName(api) + ": ";
    unsigned int device = count;
    RtAudio::DeviceInfo info;
    const unsigned int preferred = audio->getDefaultInputDevice();
    for (unsigned int d = 0; d < count && device == count; ++d) {
      RtAudio::DeviceInfo candidate;
      try {
        candidate = audio->getDeviceInfo(d);
      } catch (const RtAudioError&) {
        continue;
      }
      if (!candidate.probed || candidate.inputChannels == 0) continue;
      const bool wanted = identity.empty() ? d == preferred || candidate.isDefaultInput : prefix + candidate.name == identity;
      if (wanted) {
        device = d;
        info = candidate;
      }
    }
    if (device == count) continue;
    const bool hasRate = std::find(info.sampleRates.begin(), info.sampleRates.end(), rate) != info.sampleRates.end();
    uint32_t deviceRate = hasRate ? rate : info.preferredSampleRate;
    if (deviceRate == 0 && !info.sampleRates.empty()) deviceRate = info.sampleRates.back();
    if (deviceRate == 0) {
      Fail(error, AudioInputError::kFormat, "the device reports no sample rate");
      return nullptr;
    }
    const int deviceChannels = std::min(channels, static_cast<int>(info.inputChannels));
    std::unique_ptr<Stream> stream;
    try {
      stream = std::make_unique<Stream>(std::move(audio), rate, channels, deviceChannels, deviceRate, maxBlockFrames,
                                        std::move(callback));
    } catch (const std::bad_alloc&) {
      Fail(error, AudioInputError::kMemory, "out of memory");
      return nullptr;
    }
    std::string why;
    int code = AudioInputError::kNone;
    const bool alsaDefault = api == RtAudio::LINUX_ALSA && device == preferred;
    const bool started = api == RtAudio::UNIX_JACK ? stream->StartJack(info.name, clientName_, why, code)
                                                    : stream->Start(device, clientName_, why, code, alsaDefault);
    if (!started) {
      Fail(error, code, why);
      return nullptr;
    }
    return stream;
  }
  if (!anyBackEnd)
    Fail(error, AudioInputError::kNoDriver, lastError.empty() ? "no audio input system answers" : lastError);
  else
    Fail(error, lastCode, "no input device \"" + identity + "\"");
  return nullptr;
}

}  // namespace zandrel
