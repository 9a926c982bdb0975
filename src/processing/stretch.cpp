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
// The study pass's part of the stretcher's progress (it reads the input
// once, about a hundredth of the processing's time on a ten-minute file),
// and how many frames it studies between reports.
constexpr double kStudyShare = 0.01;
constexpr size_t kStudyReportFrames = 64 * kBlock;
// The conversions around the stretcher (16-bit samples to floats and back)
// take this part of StretchWav's progress each, in chunks of this many
// frames between reports.
constexpr double kConversionShare = 0.02;
constexpr int64_t kConversionChunk = int64_t{1} << 20;

}  // namespace

bool RubberBandStretch::Stretch(const std::vector<std::vector<float>>& in, uint32_t rate, int64_t outFrames,
                                double pitchScale, std::vector<std::vector<float>>& out, const WorkProgress& progress) {
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

  // Room for the expected output and a block of slack, reserved once; each
  // piece is retrieved straight into it. Anything beyond is read and dropped
  // so that the stretcher can finish.
  const size_t capacity = static_cast<size_t>(outFrames) + kBlock;
  out.resize(channels);
  for (auto& v : out) {
    v.clear();
    v.reserve(capacity);
  }
  std::vector<std::vector<float>> spill;
  std::vector<float*> outPtr(channels);
  size_t got = 0;
  const auto drain = [&](int available) {
    while (available > 0) {
      const size_t room = capacity - got;
      const size_t n = std::min<size_t>(static_cast<size_t>(available), room > 0 ? room : kBlock);
      if (room > 0) {
        for (size_t c = 0; c < channels; ++c) {
          out[c].resize(got + n);  // within the reserve: no reallocation
          outPtr[c] = out[c].data() + got;
        }
      } else {
        if (spill.empty()) spill.assign(channels, std::vector<float>(kBlock));
        for (size_t c = 0; c < channels; ++c) outPtr[c] = spill[c].data();
      }
      const size_t read = rb.retrieve(outPtr.data(), n);
      if (room > 0) {
        got += read;
        for (auto& v : out) v.resize(got);
      }
      if (read == 0) break;
      available -= static_cast<int>(read);
    }
  };

  // The study pass costs a small part of the processing pass; each reports
  // its blocks in its own part of the whole.
  const WorkProgress study = SubProgress(progress, 0.0, kStudyShare);
  const WorkProgress processing = SubProgress(progress, kStudyShare, 1.0);
  ProgressTicker studied(study, frames, kStudyReportFrames);
  for (size_t at = 0; at < frames; at += kBlock) {
    const size_t n = std::min(kBlock, frames - at);
    point(at);
    rb.study(inPtr.data(), n, at + n >= frames);
    if (!studied.Step(n)) return false;
  }
  // Drained after every block: one whole-buffer process() drained only
  // while output is available comes back short. A block is a few
  // milliseconds of work, so each one reports.
  ProgressTicker processed(processing, frames, kBlock);
  for (size_t at = 0; at < frames; at += kBlock) {
    const size_t n = std::min(kBlock, frames - at);
    point(at);
    rb.process(inPtr.data(), n, at + n >= frames);
    drain(rb.available());
    if (!processed.Step(n)) return false;
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

namespace {

int16_t SampleAt(const uint8_t* bytes, size_t index) {
  int16_t v;
  std::memcpy(&v, bytes + index * sizeof(int16_t), sizeof v);
  return v;
}

int16_t ToPcm16(float y) {
  if (std::isnan(y)) return 0;
  return static_cast<int16_t>(std::clamp(y * 32767.0f, -32768.0f, 32767.0f));
}

}  // namespace

namespace {

// Frames [from, to) of 16-bit |wav| appended to each channel vector (which
// holds |from| frames already); |to| is within the data.
void AppendPcm16(const CWavLoader& wav, std::vector<std::vector<float>>& channels, size_t from, size_t to) {
  const size_t count = channels.size();
  const uint8_t* bytes = wav.data.data();
  for (size_t c = 0; c < count; ++c) {
    std::vector<float>& v = channels[c];
    for (size_t i = from; i < to; ++i)
      v.push_back(static_cast<float>(SampleAt(bytes, i * count + c)) * (1.0f / 32768.0f));
  }
}

// Frames [from, to) of the interleaved 16-bit output.
void InterleaveRange(const std::vector<std::vector<float>>& channels, uint8_t* out, size_t from, size_t to, int count) {
  for (int c = 0; c < count; ++c) {
    const auto& ch = channels[static_cast<size_t>(c)];
    const size_t have = std::min(to, ch.size());
    for (size_t i = from; i < to; ++i) {
      const int16_t v = i < have ? ToPcm16(ch[i]) : int16_t{0};
      std::memcpy(out + (i * static_cast<size_t>(count) + static_cast<size_t>(c)) * sizeof(int16_t), &v, sizeof v);
    }
  }
}

// The whole frames of |frames| that |wav|'s 16-bit data holds for |count|
// channels (0 for other depths).
size_t WholePcm16Frames(const CWavLoader& wav, size_t count, size_t frames) {
  const bool pcm16 = wav.format.wBitsPerSample == 16 && count > 0;
  return pcm16 ? std::min(frames, wav.data.size() / (count * sizeof(int16_t))) : 0;
}

}  // namespace

void DeinterleavePcm16(const CWavLoader& wav, std::vector<std::vector<float>>& channels, int64_t frames) {
  const size_t n = static_cast<size_t>(std::max<int64_t>(frames, 0));
  // Filled in one pass from the samples (no zeroing first); frames past the
  // data stay silent.
  for (auto& v : channels) {
    v.clear();
    v.reserve(n);
  }
  AppendPcm16(wav, channels, 0, WholePcm16Frames(wav, channels.size(), n));
  for (auto& v : channels) v.resize(n, 0.0f);
}

void InterleavePcm16(const std::vector<std::vector<float>>& channels, uint8_t* out, int64_t frames, int count) {
  InterleaveRange(channels, out, 0, static_cast<size_t>(std::max<int64_t>(frames, 0)), count);
}

double MinimumStretchInput(uint32_t rate, double playbackRate) {
  const double h = std::trunc(0.12 * rate) / 2.0;
  return h + playbackRate * h;
}

StretchResult StretchWav(CWavLoader& wav, double a, double b, double semitones, const WorkProgress& progress) {
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

  // Each phase reports in its own part of the whole: the samples to floats,
  // the stretcher, the floats back to samples.
  const WorkProgress toFloats = SubProgress(progress, 0.0, kConversionShare);
  const WorkProgress stretching = SubProgress(progress, kConversionShare, 1.0 - kConversionShare);
  const WorkProgress toSamples = SubProgress(progress, 1.0 - kConversionShare, 1.0);
  StretchResult cancelled;
  cancelled.cancelled = true;

  std::vector<std::vector<float>> in(static_cast<size_t>(channels)), out;
  const size_t total = static_cast<size_t>(frames);
  for (auto& v : in) v.reserve(total);
  const size_t whole = WholePcm16Frames(wav, in.size(), total);
  for (size_t at = 0; at < whole;) {
    const size_t to = std::min(whole, at + static_cast<size_t>(kConversionChunk));
    AppendPcm16(wav, in, at, to);
    at = to;
    if (!ReportProgress(toFloats, static_cast<double>(at) / static_cast<double>(total))) return cancelled;
  }
  for (auto& v : in) v.resize(total, 0.0f);

  // Whether the stretcher stopped because it was told to, or failed.
  bool stopped = false;
  const WorkProgress watched = stretching ? WorkProgress([&](double f) { return !(stopped = !stretching(f)); })
                                          : WorkProgress{};
  const bool stretched = CurrentStretcher().Stretch(in, rate, n, std::pow(2.0, semitones / 12.0), out, watched);
  if (stopped) return cancelled;
  if (!stretched || out.size() != static_cast<size_t>(channels)) return fail;
  in = {};
  StretchResult result;
  result.lengthCorrection = static_cast<int64_t>(out[0].size()) - n;
  // Padded with silence or cut to exactly n frames. Written into a buffer of
  // its own, so that a cancel while writing leaves the audio as it was; it
  // grows chunk by chunk, so that touching its pages for the first time is
  // spread between the reports too.
  const size_t frameBytes = static_cast<size_t>(channels) * sizeof(int16_t);
  std::vector<uint8_t> bytes;
  bytes.reserve(static_cast<size_t>(n) * frameBytes);
  for (size_t at = 0, end = static_cast<size_t>(n); at < end;) {
    const size_t to = std::min(end, at + static_cast<size_t>(kConversionChunk));
    bytes.resize(to * frameBytes);
    InterleaveRange(out, bytes.data(), at, to, channels);
    at = to;
    if (!ReportProgress(toSamples, static_cast<double>(at) / static_cast<double>(end))) return cancelled;
  }
  wav.data = std::move(bytes);
  wav.format.nBlockAlign = static_cast<uint16_t>(channels * 2);
  wav.format.nAvgBytesPerSec = static_cast<uint32_t>(channels) * 2 * rate;
  result.success = true;
  result.seconds = static_cast<double>(n) / rate;
  return result;
}

}  // namespace zandrel
