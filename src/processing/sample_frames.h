// Typed, mutable access to interleaved PCM for the sample work of the
// processing commands.
//
// The processing runner looks at the audio's depth once, picks the
// SampleFormat and hands the command's work a SampleFrames<F>: the work is a
// template over the format, so its inner loop reads and writes raw values
// without asking for the depth again.
//
// Raw values (the same as sample_access.h):
//   kU8   unsigned byte, 128 = silence    raw = byte - 128, -128..127
//   kS16  signed 16-bit                   raw as stored
//   kS24  packed 3 bytes, sign bit 23     raw as stored
//   kS32  signed 32-bit integer           raw as stored
//   kF32  32-bit IEEE float               raw = the float
// Set() clamps integer values to the format's range, so nothing wraps.
//
// Frames are indexed from the start of the buffer; the caller keeps every
// index inside [0, Frames()). A SampleFrames does not own its bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace zandrel {

enum class SampleFormat { kU8, kS16, kS24, kS32, kF32 };
constexpr int kSampleFormatCount = 5;

// The format of PCM with |bits| per sample; |isFloat| only matters for 32
// bits. nullopt for any other width.
constexpr std::optional<SampleFormat> SampleFormatOf(int bits, bool isFloat) {
  switch (bits) {
    case 8:
      return SampleFormat::kU8;
    case 16:
      return SampleFormat::kS16;
    case 24:
      return SampleFormat::kS24;
    case 32:
      return isFloat ? SampleFormat::kF32 : SampleFormat::kS32;
    default:
      return std::nullopt;
  }
}

template <SampleFormat F>
struct SampleTraits;

template <>
struct SampleTraits<SampleFormat::kU8> {
  using Raw = int32_t;
  static constexpr int kBytes = 1;
  static constexpr int64_t kMax = 127;  // full scale of the raw value
  static constexpr int64_t kMin = -128;
  static Raw Read(const uint8_t* p) { return static_cast<int32_t>(p[0]) - 128; }
  static void Write(uint8_t* p, int64_t v) { p[0] = static_cast<uint8_t>(std::clamp(v, kMin, kMax) + 128); }
};

template <>
struct SampleTraits<SampleFormat::kS16> {
  using Raw = int32_t;
  static constexpr int kBytes = 2;
  static constexpr int64_t kMax = 32767;
  static constexpr int64_t kMin = -32768;
  static Raw Read(const uint8_t* p) { return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8))); }
  static void Write(uint8_t* p, int64_t v) {
    const auto s = static_cast<uint16_t>(static_cast<int16_t>(std::clamp(v, kMin, kMax)));
    p[0] = static_cast<uint8_t>(s);
    p[1] = static_cast<uint8_t>(s >> 8);
  }
};

template <>
struct SampleTraits<SampleFormat::kS24> {
  using Raw = int32_t;
  static constexpr int kBytes = 3;
  static constexpr int64_t kMax = 8388607;
  static constexpr int64_t kMin = -8388608;
  static Raw Read(const uint8_t* p) {
    const uint32_t u = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                       (static_cast<uint32_t>(p[2]) << 16);
    return static_cast<int32_t>(u << 8) >> 8;  // sign-extend from bit 23
  }
  static void Write(uint8_t* p, int64_t v) {
    const auto s = static_cast<uint32_t>(static_cast<int32_t>(std::clamp(v, kMin, kMax)));
    p[0] = static_cast<uint8_t>(s);
    p[1] = static_cast<uint8_t>(s >> 8);
    p[2] = static_cast<uint8_t>(s >> 16);
  }
};

template <>
struct SampleTraits<SampleFormat::kS32> {
  using Raw = int32_t;
  static constexpr int kBytes = 4;
  static constexpr int64_t kMax = 2147483647;
  static constexpr int64_t kMin = -2147483648LL;
  static Raw Read(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }
  static void Write(uint8_t* p, int64_t v) {
    const auto s = static_cast<int32_t>(std::clamp(v, kMin, kMax));
    std::memcpy(p, &s, 4);
  }
};

template <>
struct SampleTraits<SampleFormat::kF32> {
  using Raw = float;
  static constexpr int kBytes = 4;
  static Raw Read(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
  }
  static void Write(uint8_t* p, float v) { std::memcpy(p, &v, 4); }
};

template <SampleFormat F>
class SampleFrames {
 public:
  using Traits = SampleTraits<F>;
  using Raw = typename Traits::Raw;
  static constexpr SampleFormat kFormat = F;

  // |blockAlign| must hold |channels| samples; the runner checks that.
  SampleFrames(std::span<uint8_t> bytes, int channels, int blockAlign, uint32_t sampleRate)
      : data_(bytes.data()),
        channels_(channels),
        stride_(blockAlign),
        frames_(blockAlign > 0 ? static_cast<int64_t>(bytes.size() / static_cast<size_t>(blockAlign)) : 0),
        sampleRate_(sampleRate) {}

  int64_t Frames() const { return frames_; }
  int Channels() const { return channels_; }
  uint32_t SampleRate() const { return sampleRate_; }

  Raw Get(int64_t frame, int channel) const { return Traits::Read(At(frame, channel)); }
  template <class V>
  void Set(int64_t frame, int channel, V value) {
    if constexpr (F == SampleFormat::kF32) {
      Traits::Write(At(frame, channel), static_cast<float>(value));
    } else {
      Traits::Write(At(frame, channel), static_cast<int64_t>(value));
    }
  }

 private:
  uint8_t* At(int64_t frame, int channel) const {
    return data_ + frame * stride_ + static_cast<int64_t>(channel) * Traits::kBytes;
  }

  uint8_t* data_;
  int channels_;
  int64_t stride_;
  int64_t frames_;
  uint32_t sampleRate_;
};

}  // namespace zandrel
