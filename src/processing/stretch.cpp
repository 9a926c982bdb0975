#include "processing/stretch.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

namespace zandrel {
namespace {

Stretcher* installed = nullptr;

// Rubber Band takes and gives blocks of this many frames.
constexpr size_t kBlock = 4096;

}  // namespace

bool RubberBandStretch::Stretch(const std::vector<std::vector<float>>& in, uint32_t rate, int64_t outFrames,
                                double pitchScale, std::vector<std::vector<float>>& out) {
  const size_t channels = in.size();
  if (channels == 0 || rate == 0 || outFrames < 1) return false;
  const size_t frames = in[0].size();
  if (frames == 0) return false;
  using RB = RubberBand::RubberBandStretcher;
  RB rb(rate, channels, RB::OptionProcessOffline | RB::OptionEngineFiner,
        static_cast<double>(outFrames) / static_cast<double>(frames), pitchScale);
  rb.setExpectedInputDuration(frames);
  rb.setMaxProcessSize(kBlock);

  std::vector<const float*> inPtr(channels);
  const auto point = [&](size_t at) {
    for (size_t c = 0; c < channels; ++c) inPtr[c] = in[c].data() + at;
  };

  // Room for the expected output and a block of slack; anything beyond is
  // read and dropped so that the stretcher can finish.
  const size_t capacity = static_cast<size_t>(outFrames) + kBlock;
  out.assign(channels, std::vector<float>(capacity, 0.0f));
  std::vector<std::vector<float>> spill(channels, std::vector<float>(kBlock));
  std::vector<float*> outPtr(channels);
  size_t got = 0;
  const auto drain = [&](int available) {
    while (available > 0) {
      const size_t room = capacity - got;
      const size_t n = std::min<size_t>(static_cast<size_t>(available), room > 0 ? room : kBlock);
      for (size_t c = 0; c < channels; ++c) outPtr[c] = room > 0 ? out[c].data() + got : spill[c].data();
      const size_t read = rb.retrieve(outPtr.data(), n);
      if (read == 0) break;
      if (room > 0) got += read;
      available -= static_cast<int>(read);
    }
  };

  for (size_t at = 0; at < frames; at += kBlock) {
    const size_t n = std::min(kBlock, frames - at);
    point(at);
    rb.study(inPtr.data(), n, at + n >= frames);
  }
  // Drained after every block: one whole-buffer process() drained only
  // while output is available comes back short.
  for (size_t at = 0; at < frames; at += kBlock) {
    const size_t n = std::min(kBlock, frames - at);
    point(at);
    rb.process(inPtr.data(), n, at + n >= frames);
    drain(rb.available());
  }
  // The finer engine keeps part of its output back until the end: drain
  // until it says it is finished (-1), not merely empty for now.
  int idle = 0;
  for (int available = rb.available(); available != -1; available = rb.available()) {
    if (available > 0) {
      idle = 0;
      drain(available);
    } else if (++idle > 10000) {
      break;  // offline processing never waits; a stretcher that does is not finishing
    } else {
      std::this_thread::yield();
    }
  }
  for (auto& v : out) v.resize(got);
  return got > 0;
}

Stretcher& CurrentStretcher() {
  static RubberBandStretch rubberBand;
  return installed ? *installed : rubberBand;
}

Stretcher* SetStretcher(Stretcher* stretcher) {
  Stretcher* previous = installed;
  installed = stretcher;
  return previous;
}

void DeinterleavePcm16(const CWavLoader& wav, std::vector<std::vector<float>>& channels, int64_t frames) {
  const int count = static_cast<int>(channels.size());
  for (auto& v : channels) v.assign(static_cast<size_t>(std::max<int64_t>(frames, 0)), 0.0f);
  if (wav.format.wBitsPerSample != 16 || count == 0) return;
  const size_t available = wav.data.size() / sizeof(int16_t);
  for (int64_t i = 0; i < frames; ++i)
    for (int c = 0; c < count; ++c) {
      const size_t k = static_cast<size_t>(i) * count + c;
      if (k >= available) return;
      int16_t v;
      std::memcpy(&v, wav.data.data() + k * sizeof(int16_t), sizeof v);
      channels[c][static_cast<size_t>(i)] = static_cast<float>(v) * (1.0f / 32768.0f);
    }
}

void InterleavePcm16(const std::vector<std::vector<float>>& channels, std::vector<int16_t>& out, int64_t frames,
                     int count) {
  out.assign(static_cast<size_t>(frames) * count, 0);
  for (int64_t i = 0; i < frames; ++i)
    for (int c = 0; c < count; ++c) {
      const auto& ch = channels[static_cast<size_t>(c)];
      const float y = static_cast<size_t>(i) < ch.size() ? ch[static_cast<size_t>(i)] : 0.0f;
      if (std::isnan(y)) continue;  // left at 0
      out[static_cast<size_t>(i) * count + c] =
          static_cast<int16_t>(std::clamp(y * 32767.0f, -32768.0f, 32767.0f));
    }
}

double MinimumStretchInput(uint32_t rate, double playbackRate) {
  const double h = std::trunc(0.12 * rate) / 2.0;
  return h + playbackRate * h;
}

StretchResult StretchWav(CWavLoader& wav, double a, double b, double semitones) {
  StretchResult fail;
  if (wav.data.empty() || !(a > 0) || !(b > 0) || wav.format.wBitsPerSample != 16 || wav.format.nBlockAlign == 0)
    return fail;
  const int channels = wav.format.nChannels;
  const int64_t frames = wav.FrameCount();
  const uint32_t rate = wav.format.nSamplesPerSec;
  if (channels <= 0 || frames <= 0 || rate == 0) return fail;
  const double factor = a / b;
  if (!(factor >= 1.0 / kMaxStretchRatio && factor <= kMaxStretchRatio) ||
      !(std::abs(semitones) <= kMaxTransposeSemitones))
    return fail;
  const int64_t n = static_cast<int64_t>(static_cast<double>(frames) * factor);
  if (n < 1) return fail;
  const float playbackRate = static_cast<float>(frames) / static_cast<float>(n);
  if (static_cast<double>(frames) < MinimumStretchInput(rate, playbackRate)) return fail;

  std::vector<std::vector<float>> in(static_cast<size_t>(channels)), out;
  DeinterleavePcm16(wav, in, frames);
  if (!CurrentStretcher().Stretch(in, rate, n, std::pow(2.0, semitones / 12.0), out) ||
      out.size() != static_cast<size_t>(channels))
    return fail;
  in = {};
  StretchResult result;
  result.lengthCorrection = static_cast<int64_t>(out[0].size()) - n;
  std::vector<int16_t> pcm;
  InterleavePcm16(out, pcm, n, channels);  // pads with silence or drops the excess
  wav.data.resize(pcm.size() * sizeof(int16_t));
  std::memcpy(wav.data.data(), pcm.data(), wav.data.size());
  wav.format.nBlockAlign = static_cast<uint16_t>(channels * 2);
  wav.format.nAvgBytesPerSec = static_cast<uint32_t>(channels) * 2 * rate;
  result.success = true;
  result.seconds = static_cast<double>(n) / rate;
  return result;
}

}  // namespace zandrel
