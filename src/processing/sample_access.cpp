#include "processing/sample_access.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "document/wav_loader.h"

namespace zandrel {
namespace {

bool SupportedWidth(int bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32; }

double NormalisedAt(const uint8_t* p, int bits) {
  switch (bits) {
    case 8:
      return RawSampleAt(p, 8) / 128.0;
    case 16:
      return RawSampleAt(p, 16) / 32768.0;
    case 24:
      return RawSampleAt(p, 24) / 8388608.0;
    case 32:
      return RawSampleAt(p, 32) / 2147483648.0;
    default:
      return 0.0;
  }
}

void WriteNormalised(uint8_t* p, int bits, float value) {
  // A NaN has no place in the clamp order; it is written as silence.
  const double v = std::isnan(value) ? 0.0 : std::clamp(static_cast<double>(value), -1.0, 1.0);
  switch (bits) {
    case 8:
      p[0] = static_cast<uint8_t>(static_cast<int>(v * 127.0 + 128.0));
      break;
    case 16: {
      const auto s = static_cast<uint16_t>(static_cast<int16_t>(v * 32767.0));
      p[0] = static_cast<uint8_t>(s);
      p[1] = static_cast<uint8_t>(s >> 8);
      break;
    }
    case 24: {
      const auto s = static_cast<uint32_t>(static_cast<int32_t>(v * 8388607.0));
      p[0] = static_cast<uint8_t>(s);
      p[1] = static_cast<uint8_t>(s >> 8);
      p[2] = static_cast<uint8_t>(s >> 16);
      break;
    }
    case 32: {
      const double scaled = v * 2147483648.0;
      const int32_t s = scaled >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(scaled);
      std::memcpy(p, &s, 4);
      break;
    }
    default:
      break;
  }
}

// Byte offset of a sample, or -1 when any byte of it lies outside the buffer
// or the channel lies outside the frame.
int64_t SampleOffset(size_t size, int64_t frame, int64_t stride, int channel, int bytesPerSample) {
  if (frame < 0 || channel < 0 || stride <= 0) return -1;
  if ((static_cast<int64_t>(channel) + 1) * bytesPerSample > stride) return -1;
  if (frame > static_cast<int64_t>(size) / stride) return -1;
  const int64_t offset = frame * stride + static_cast<int64_t>(channel) * bytesPerSample;
  if (offset + bytesPerSample > static_cast<int64_t>(size)) return -1;
  return offset;
}

}  // namespace

int32_t RawSampleAt(const uint8_t* p, int bits) {
  switch (bits) {
    case 8:
      return static_cast<int32_t>(p[0]) - 128;
    case 16:
      return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    case 24: {
      const uint32_t u =
          static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
      return static_cast<int32_t>(u << 8) >> 8;  // sign-extend from bit 23
    }
    case 32: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    default:
      return 0;
  }
}

float FloatSampleAt(const uint8_t* p) {
  float v;
  std::memcpy(&v, p, 4);
  return v;
}

PcmSpan PcmSpan::Of(const CWavLoader& audio) {
  PcmSpan span;
  span.bytes = audio.data;
  span.formatTag = audio.EffectiveFormatTag();
  span.channels = audio.format.nChannels;
  span.sampleRate = audio.format.nSamplesPerSec;
  span.blockAlign = audio.format.nBlockAlign;
  span.bitsPerSample = audio.format.wBitsPerSample;
  return span;
}

double ReadSampleValue(std::span<const uint8_t> pcm, int64_t frame, int channel, int channels, int bits) {
  if (!SupportedWidth(bits) || channels < 1) return 0.0;
  const int bytesPerSample = bits / 8;
  const int64_t offset = SampleOffset(pcm.size(), frame, int64_t{channels} * bytesPerSample, channel, bytesPerSample);
  return offset < 0 ? 0.0 : RawSampleAt(pcm.data() + offset, bits);
}

void ChannelToFloat(std::span<const uint8_t> pcm, std::vector<float>& out, int64_t startFrame, int64_t count,
                    int channel, int bits, int blockAlign) {
  out.assign(static_cast<size_t>(std::max<int64_t>(count, 0)), 0.0f);
  if (!SupportedWidth(bits) || blockAlign <= 0) return;
  const int64_t frames = static_cast<int64_t>(pcm.size()) / blockAlign;
  for (size_t i = 0; i < out.size(); ++i) {
    const int64_t frame = startFrame + static_cast<int64_t>(i);
    if (frame >= frames) break;
    const int64_t offset = SampleOffset(pcm.size(), frame, blockAlign, channel, bits / 8);
    if (offset >= 0) out[i] = static_cast<float>(NormalisedAt(pcm.data() + offset, bits));
  }
}

void FloatToChannel(const std::vector<float>& in, std::span<uint8_t> pcm, int64_t startFrame, int channel, int bits,
                    int blockAlign) {
  if (!SupportedWidth(bits) || blockAlign <= 0) return;
  const int64_t frames = static_cast<int64_t>(pcm.size()) / blockAlign;
  for (size_t i = 0; i < in.size(); ++i) {
    const int64_t frame = startFrame + static_cast<int64_t>(i);
    if (frame >= frames) break;
    const int64_t offset = SampleOffset(pcm.size(), frame, blockAlign, channel, bits / 8);
    if (offset >= 0) WriteNormalised(pcm.data() + offset, bits, in[i]);
  }
}

}  // namespace zandrel
