// Runs the analysis and conversion routines on arbitrary audio with arbitrary
// parameters: the sinc converter, the pitch estimate and the note segments,
// and the beat detection. None may crash, hang or give a value that is not a
// number; what they return must keep their stated shape.
//
// Input: a 16-byte header, then the audio bytes.
//   0      channels (the converter takes the byte as is; the analyses 0..15)
//   1      sample format: bits 0-1 width (8, 16, 24, 32), bit 2 float,
//          bit 3 a block alignment from byte 2 instead of the natural one
//   2      block alignment when bit 3 of byte 1 is set
//   3      pitch window: start and end frames from the audio's length / 8 steps
//   4-7    sample rate, little-endian
//   8-15   conversion ratio, a little-endian IEEE double (anything, NaN too)
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "processing/beat_tracker.h"
#include "processing/pitch.h"
#include "processing/sinc_resampler.h"

using namespace zandrel;

namespace {

// Above this many output samples the conversion is skipped: a long one proves
// nothing more and would slow the search down.
constexpr double kMaxConvertedSamples = 4096;

bool Finite(double value) { return std::isfinite(value); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 16) return 0;
  const uint8_t channelByte = data[0];
  const uint8_t format = data[1];
  uint32_t rate = 0;
  std::memcpy(&rate, data + 4, 4);
  double ratio = 0;
  std::memcpy(&ratio, data + 8, 8);
  const std::span<const uint8_t> audio(data + 16, size - 16);

  // The converter on 16-bit samples.
  {
    const int channels = channelByte;
    const size_t samples = audio.size() / 2;
    std::vector<int16_t> in(samples);
    if (samples) std::memcpy(in.data(), audio.data(), samples * 2);
    const uint64_t frames = channels > 0 ? samples / static_cast<size_t>(channels) : samples;
    const bool valid = frames > 0 && channels >= 1 && channels <= kSincMaxChannels && Finite(ratio) &&
                       ratio >= 1.0 / kSincMaxRatio && ratio <= kSincMaxRatio;
    const double outFrames = valid ? std::floor(static_cast<double>(frames) / ratio) : 0;
    if (!valid || outFrames * channels <= kMaxConvertedSamples) {
      SincFilterSpec spec = SincFilterSpec::Fastest();
      std::vector<int16_t> out(3, 7);
      ResampleSinc(spec, out, in.data(), frames, channels, ratio, 1);
      if (!(spec == SincFilterSpec::Best())) __builtin_trap();
      const size_t expected = valid ? static_cast<size_t>(outFrames) * static_cast<size_t>(channels) : 0;
      if (out.size() != expected) __builtin_trap();
    }
  }

  // The analyses read any PCM layout a file can declare.
  static constexpr uint16_t kWidths[] = {8, 16, 24, 32};
  PcmSpan pcm;
  pcm.bytes = audio;
  pcm.channels = static_cast<uint16_t>(channelByte & 0x0F);
  pcm.bitsPerSample = kWidths[format & 3];
  pcm.formatTag = (format & 4) ? 3 : 1;
  pcm.sampleRate = rate;
  pcm.blockAlign = (format & 8) ? data[2] : static_cast<uint16_t>(pcm.channels * (pcm.bitsPerSample / 8));
  const int64_t frames = pcm.Frames();

  const int64_t eighth = frames / 8;
  const double hz = EstimatePitchYin(pcm, (data[3] & 0x0F) * eighth - 1, (data[3] >> 4) * eighth + 1);
  if (!Finite(hz) || hz < 0) __builtin_trap();

  // Whole-file analyses at the rates files really have; others (a billion
  // frames a second) only make these long.
  if (rate <= 384000) {
    int64_t previousEnd = 0;
    for (const NoteSegment& segment : DetectNoteSegments(pcm, 1)) {
      if (segment.start < previousEnd || segment.end <= segment.start || segment.end > frames) __builtin_trap();
      previousEnd = segment.end;
    }
  }

  // The beat detection's cost grows with the rate (its window is seconds
  // long, however short the audio), so it runs at a low rate taken from the
  // input; the rates it refuses are tried as they come.
  const int bits = pcm.formatTag == 3 ? 32 : pcm.bitsPerSample;
  BeatDetector detector;
  if (rate == 0 || rate > kMaxBeatSampleRate) {
    if (!DetectBeats(detector, audio, pcm.channels, rate, bits).empty()) __builtin_trap();
  }
  const uint32_t beatRate = rate % 4001;
  const std::vector<double> beats = DetectBeats(detector, audio, pcm.channels, beatRate, bits);
  for (size_t i = 0; i < beats.size(); ++i) {
    if (!Finite(beats[i]) || beats[i] < 0 || (i > 0 && beats[i] < beats[i - 1])) __builtin_trap();
  }
  return 0;
}
