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

}  // namespace

bool RubberBandStretch::Stretch(const StretchSource& in, uint32_t rate, int64_t outFrames, double pitchScale,
                                StretchSink& out, const WorkProgress& progress) {
  const size_t channels = in.Channels();
  if (channels == 0 || rate == 0 || outFrames < 1) return false;
  const size_t frames = in.Frames();
  if (frames == 0) return false;
  using RB = RubberBand::RubberBandStretcher;
  RB rb(rate, channels, RB::OptionProcessOffline | RB::OptionEngineFiner,
        static_cast<double>(outFrames) / static_cast<double>(frames), pitchScale);
  rb.setExpectedInputDuration(frames);
  rb.setMaxProcessSize(kBlock);

  // One block of input and one of output per channel: the input is read
  // from the source as each block is needed (twice: once to study, once to
  // process), the output handed on as it comes.
  std::vector<float> inBlock(channels * kBlock), outBlock(channels * kBlock);
  std::vector<float*> inPtr(channels), outPtr(channels);
  for (size_t c = 0; c < channels; ++c) {
    inPtr[c] = inBlock.data() + c * kBlock;
    outPtr[c] = outBlock.data() + c * kBlock;
  }
  const auto read = [&](size_t at, size_t n) { in.Read(at, n, inPtr.data()); };
  size_t delivered = 0;
  const auto drain = [&](int available) {
    while (available > 0) {
      const size_t got = rb.retrieve(outPtr.data(), std::min<size_t>(static_cast<size_t>(available), kBlock));
      if (got == 0) break;
      out.Write(outPtr.data(), got);
      delivered += got;
      available -= static_cast<int>(got);
    }
  };

  // The study pass costs a small part of the processing pass; each reports
  // its blocks in its own part of the whole.
  const WorkProgress study = SubProgress(progress, 0.0, kStudyShare);
  const WorkProgress processing = SubProgress(progress, kStudyShare, 1.0);
  ProgressTicker studied(study, frames, kStudyReportFrames);
  for (size_t at = 0; at < frames; at += kBlock) {
    const size_t n = std::min(kBlock, frames - at);
    read(at, n);
    rb.study(inPtr.data(), n, at + n >= frames);
    if (!studied.Step(n)) return false;
  }
  // Drained after every block: one whole-buffer process() drained only
  // while output is available comes back short. A block is a few
  // milliseconds of work, so each one reports.
  ProgressTicker processed(processing, frames, kBlock);
  for (size_t at = 0; at < frames; at += kBlock) {
    const size_t n = std::min(kBlock, frames - at);
    read(at, n);
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
  return delivered > 0;
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

int16_t StretchedToPcm16(float y) {
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
      const int16_t v = i < have ? StretchedToPcm16(ch[i]) : int16_t{0};
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

  StretchResult cancelled;
  cancelled.cancelled = true;

  // The loader's samples, read as floats a block at a time.
  class Pcm16Source final : public StretchSource {
   public:
    Pcm16Source(const CWavLoader& wav, size_t channels, size_t frames)
        : bytes_(wav.data.data()), channels_(channels), frames_(frames),
          whole_(WholePcm16Frames(wav, channels, frames)) {}
    size_t Channels() const override { return channels_; }
    size_t Frames() const override { return frames_; }
    void Read(size_t at, size_t count, float* const* channels) const override {
      for (size_t c = 0; c < channels_; ++c) {
        for (size_t i = 0; i < count; ++i) {
          const size_t frame = at + i;
          channels[c][i] = frame < whole_ ? static_cast<float>(SampleAt(bytes_, frame * channels_ + c)) * (1.0f / 32768.0f)
                                          : 0.0f;
        }
      }
    }

   private:
    const uint8_t* bytes_;
    size_t channels_, frames_, whole_;
  };

  // The output, written as 16-bit samples into a buffer of its own (so that
  // a cancel leaves the audio as it was) of exactly n frames: what comes
  // beyond is counted and dropped, what is missing at the end stays silent.
  class Pcm16Sink final : public StretchSink {
   public:
    Pcm16Sink(size_t channels, size_t frames) : channels_(channels), frames_(frames) {
      bytes.reserve(frames * channels * sizeof(int16_t));
    }
    void Write(const float* const* channels, size_t count) override {
      const size_t take = written < frames_ ? std::min(count, frames_ - written) : 0;
      // Grows with the output, so that touching its pages for the first time
      // is spread over the blocks.
      bytes.resize((written + take) * channels_ * sizeof(int16_t));
      for (size_t c = 0; c < channels_; ++c) {
        for (size_t i = 0; i < take; ++i) {
          const int16_t v = StretchedToPcm16(channels[c][i]);
          std::memcpy(bytes.data() + ((written + i) * channels_ + c) * sizeof(int16_t), &v, sizeof v);
        }
      }
      written += take;
      received += count;
    }
    std::vector<uint8_t> bytes;
    size_t written = 0;
    size_t received = 0;

   private:
    size_t channels_, frames_;
  };

  const size_t count = static_cast<size_t>(channels);
  const Pcm16Source source(wav, count, static_cast<size_t>(frames));
  Pcm16Sink sink(count, static_cast<size_t>(n));
  // Whether the stretcher stopped because it was told to, or failed.
  bool stopped = false;
  const WorkProgress watched = progress ? WorkProgress([&](double f) { return !(stopped = !progress(f)); })
                                        : WorkProgress{};
  const bool stretched =
      CurrentStretcher().Stretch(source, rate, n, std::pow(2.0, semitones / 12.0), sink, watched);
  if (stopped) return cancelled;
  if (!stretched) return fail;
  // The last report comes with the output written; stopping there still
  // leaves the audio as it was.
  if (!ReportProgress(progress, 1.0)) return cancelled;
  StretchResult result;
  result.lengthCorrection = static_cast<int64_t>(sink.received) - n;
  std::vector<uint8_t> bytes = std::move(sink.bytes);
  bytes.resize(static_cast<size_t>(n) * count * sizeof(int16_t), 0);  // silence where the stretcher fell short
  wav.data = std::move(bytes);
  wav.format.nBlockAlign = static_cast<uint16_t>(channels * 2);
  wav.format.nAvgBytesPerSec = static_cast<uint32_t>(channels) * 2 * rate;
  result.success = true;
  result.seconds = static_cast<double>(n) / rate;
  return result;
}

}  // namespace zandrel
