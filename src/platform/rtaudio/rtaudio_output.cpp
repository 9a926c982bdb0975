#include "platform/rtaudio/rtaudio_output.h"

#include <RtAudio.h>

#include <algorithm>

#include "platform/rtaudio/jack_stream.h"
#include "platform/rtaudio/rtaudio_backends.h"
#include "platform/rtaudio/stream_closer.h"

namespace zandrel {

std::vector<AudioBackend> CompiledAudioBackends() {
  std::vector<RtAudio::Api> apis;
  RtAudio::getCompiledApi(apis);
  std::vector<AudioBackend> out;
  for (AudioBackend b : {AudioBackend::kJack, AudioBackend::kPulse, AudioBackend::kAlsa})
    if (std::find(apis.begin(), apis.end(), RtAudioApiOf(b)) != apis.end()) out.push_back(b);
  return out;
}

RtAudioOutput::RtAudioOutput(AudioBackend backend, std::string clientName)
    : backend_(backend), clientName_(std::move(clientName)) {}

RtAudioOutput::~RtAudioOutput() {
  if (IsOpen()) CloseDevice();
}

int RtAudioOutput::Callback(void* output, void*, unsigned int frames, double, unsigned int, void* user) {
  auto* self = static_cast<RtAudioOutput*>(user);
  self->pulse_.Beat();
  self->Mix(static_cast<float*>(output), frames, self->channels_);
  return 0;
}

bool RtAudioOutput::OpenDevice(uint32_t wantedRate, DeviceConfig& got, std::string& error) {
  lastError_.clear();
  for (AudioBackend b : BackendsToTry(backend_))
    if (TryOpen(RtAudioApiOf(b), wantedRate, got)) return true;
  error = lastError_.empty() ? "no audio output device" : lastError_;
  return false;
}

bool RtAudioOutput::TryOpen(int apiValue, uint32_t wantedRate, DeviceConfig& got) {
  const auto api = static_cast<RtAudio::Api>(apiValue);
  try {
    auto audio = std::make_unique<RtAudio>(api);
    audio->showWarnings(false);
    const unsigned int count = audio->getDeviceCount();
    if (count == 0) return false;
    // The default output device first, then the others.
    std::vector<unsigned int> order;
    const unsigned int preferred = audio->getDefaultOutputDevice();
    if (preferred < count) order.push_back(preferred);
    for (unsigned int d = 0; d < count; ++d)
      if (d != preferred) order.push_back(d);

    for (unsigned int device : order) {
      RtAudio::DeviceInfo info;
      try {
        info = audio->getDeviceInfo(device);
      } catch (const RtAudioError& e) {
        lastError_ = e.getMessage();
        continue;
      }
      if (!info.probed || info.outputChannels == 0) continue;
      const bool hasRate =
          std::find(info.sampleRates.begin(), info.sampleRates.end(), wantedRate) != info.sampleRates.end();
      unsigned int rate = hasRate ? wantedRate : info.preferredSampleRate;
      if (rate == 0 && !info.sampleRates.empty()) rate = info.sampleRates.back();
      if (rate == 0) continue;

      RtAudio::StreamParameters params;
      params.deviceId = device;
      params.nChannels = std::min(2u, info.outputChannels);
      if (api == RtAudio::UNIX_JACK) {
        // JACK streams bypass RtAudio's own shutdown (see jack_stream.h).
        channels_ = static_cast<int>(params.nChannels);
        auto jack = std::make_unique<JackStream>();
        if (!jack->Open(clientName_, info.name, 0, channels_, &RtAudioOutput::JackProcess, this, lastError_))
          continue;
        got.rate = jack->SampleRate();
        got.channels = channels_;
        latencySeconds_ = static_cast<double>(jack->LatencyFrames()) / got.rate;
        deviceName_ = RtAudio::getApiDisplayName(api) + ": " + info.name;
        jack_ = std::move(jack);
        return true;
      }
      RtAudio::StreamOptions options;
      options.flags = RTAUDIO_SCHEDULE_REALTIME;
      // ALSA's default device is the "default" PCM (usually the sound server).
      if (api == RtAudio::LINUX_ALSA && device == preferred) options.flags |= RTAUDIO_ALSA_USE_DEFAULT;
      options.streamName = clientName_;
      unsigned int bufferFrames = kRtAudioBufferFrames;
      channels_ = static_cast<int>(params.nChannels);
      try {
        audio->openStream(&params, nullptr, RTAUDIO_FLOAT32, rate, &bufferFrames, &RtAudioOutput::Callback, this,
                          &options, &IgnoreRtAudioStreamError);
        quiet_ = QuietLimit(bufferFrames, rate);
        pulse_.Restart();
        audio->startStream();
      } catch (const RtAudioError& e) {
        lastError_ = e.getMessage();
        try {
          if (audio->isStreamOpen()) audio->closeStream();
        } catch (const RtAudioError&) {
        }
        continue;
      }
      const unsigned int streamRate = audio->getStreamSampleRate();
      got.rate = streamRate ? streamRate : rate;
      got.channels = channels_;
      latencySeconds_ = static_cast<double>(audio->getStreamLatency()) / got.rate;
      deviceName_ = RtAudio::getApiDisplayName(api) + ": " + info.name;
      audio_ = std::move(audio);
      return true;
    }
  } catch (const RtAudioError& e) {
    lastError_ = e.getMessage();
  }
  return false;
}

void RtAudioOutput::JackProcess(void* user, const float*, float* out, size_t frames) {
  auto* self = static_cast<RtAudioOutput*>(user);
  self->Mix(out, frames, self->channels_);
}

void RtAudioOutput::CloseDevice() {
  if (jack_) {
    jack_->Close();
    jack_.reset();
  }
  if (!audio_) return;
  CloseRtAudioStream(audio_);
  deviceName_.clear();
  latencySeconds_ = 0.0;
}

bool RtAudioOutput::DeviceLost() const {
  if (jack_) return jack_->Lost();
  return audio_ && RtAudioStreamLost(*audio_, pulse_, quiet_);
}

}  // namespace zandrel
