#include "processing/dynamics.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

#include "processing/complex_fft.h"

namespace zandrel {
namespace {

// One-pole coefficient for a time constant of |seconds|.
double Coefficient(uint32_t rate, double seconds) { return 1.0 - std::exp(-1.0 / (rate * seconds)); }

// Normalised reading (full scale = 1) and writing of each integer format;
// 32-bit float is not handled by these commands.
template <SampleFormat F>
double ReadScale() {
  if constexpr (F == SampleFormat::kU8) return 128.0;
  if constexpr (F == SampleFormat::kS16) return 32768.0;
  if constexpr (F == SampleFormat::kS24) return 8388608.0;
  if constexpr (F == SampleFormat::kS32) return 2147483648.0;
  return 1.0;
}

// The raw value written for a normalised |v| (clamped to -1..1, truncated).
template <SampleFormat F>
int64_t WriteRaw(double v) {
  v = std::clamp(v, -1.0, 1.0);
  if constexpr (F == SampleFormat::kU8) return static_cast<int64_t>(v * 127.0 + 128.0) - 128;
  if constexpr (F == SampleFormat::kS16) return static_cast<int64_t>(v * 32767.0);
  if constexpr (F == SampleFormat::kS24) return static_cast<int64_t>(v * 8388607.0);
  if constexpr (F == SampleFormat::kS32) return static_cast<int64_t>(v * 2147483647.0);
  return 0;
}

constexpr int64_t kProgressStep = 65536;

bool Progress(TaskProgress& p, int64_t done, int64_t total) {
  return p.Report(total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0);
}

}  // namespace

template <SampleFormat F>
WorkOutcome GateWork::operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const {
  if constexpr (F == SampleFormat::kF32) {
    return WorkOutcome::Done();
  } else {
    const uint32_t rate = s.SampleRate();
    const double attack = Coefficient(rate, 0.010), release = Coefficient(rate, 0.150);
    const double rise = Coefficient(rate, 0.500), fall = Coefficient(rate, 0.050);
    const double scale = 1.0 / ReadScale<F>();
    const int channels = s.Channels();
    double floor = 0.05, gain = 1.0;
    for (int64_t f = r.start; f < r.end; ++f) {
      if ((f - r.start) % kProgressStep == 0 && !Progress(p, f - r.start, r.Length())) return WorkOutcome::Done();
      double peak = 0.0;
      for (int c = 0; c < channels; ++c) peak = std::max(peak, std::fabs(s.Get(f, c) * scale));
      floor += (peak - floor) * (floor > peak ? fall : rise);
      floor = std::max(0.001, floor);
      const double target = peak > 3.0 * floor ? 1.0 : 0.0;
      gain += (target - gain) * (target > gain ? attack : release);
      for (int c = 0; c < channels; ++c) s.Set(f, c, WriteRaw<F>(s.Get(f, c) * scale * gain));
    }
    return WorkOutcome::Done();
  }
}

template <SampleFormat F>
WorkOutcome CompressorWork::operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const {
  if constexpr (F != SampleFormat::kS16) {
    if (report) *report = {};
    return WorkOutcome::Done();
  } else {
    const uint32_t rate = s.SampleRate();
    const double levelC = Coefficient(rate, 0.300), attack = Coefficient(rate, 0.002);
    const double fastRelease = Coefficient(rate, 0.050), slowRelease = Coefficient(rate, 0.500);
    const int channels = s.Channels();
    // 20 log10(peak) > 20 log10(level) + 6 exactly when peak > level x 10^0.3:
    // the logarithms are taken only for frames above the threshold.
    const double overThreshold = std::pow(10.0, 6.0 / 20.0);
    double level = 0.05, gain = 1.0, maxReduction = 0.0;
    int32_t compressedPeak = 0;
    const int64_t total = 2 * r.Length();
    for (int64_t f = r.start; f < r.end; ++f) {
      if ((f - r.start) % kProgressStep == 0 && !Progress(p, f - r.start, total)) return WorkOutcome::Done();
      double peak = 0.0;
      for (int c = 0; c < channels; ++c) peak = std::max(peak, std::fabs(s.Get(f, c) / 32768.0));
      level += (peak - level) * levelC;
      level = std::max(1e-6, level);
      double reduction = 0.0;
      double target = 1.0;
      if (peak > 1e-7 && peak > level * overThreshold) {
        const double threshold = 20.0 * std::log10(level) + 6.0;
        const double peakDb = 20.0 * std::log10(peak);
        if (peakDb > threshold) {
          reduction = -0.75 * (peakDb - threshold);
          target = std::pow(10.0, reduction / 20.0);
        }
      }
      gain += (target - gain) * (target < gain ? attack : (gain < 0.8 ? slowRelease : fastRelease));
      for (int c = 0; c < channels; ++c) {
        const auto v = static_cast<int32_t>(WriteRaw<F>(s.Get(f, c) / 32768.0 * gain));
        s.Set(f, c, v);
        compressedPeak = std::max(compressedPeak, std::abs(v));
      }
      maxReduction = std::min(maxReduction, reduction);
    }
    // Half the largest reduction back, but never so much that a sample
    // would be clipped: at most full scale over the compressed peak.
    double makeup = std::pow(10.0, std::fabs(maxReduction) * 0.5 / 20.0);
    if (compressedPeak > 0) makeup = std::min(makeup, 32768.0 / compressedPeak);
    makeup = std::max(makeup, 1.0);
    for (int64_t f = r.start; f < r.end; ++f) {
      if ((f - r.start) % kProgressStep == 0 && !Progress(p, r.Length() + f - r.start, total))
        return WorkOutcome::Done();
      for (int c = 0; c < channels; ++c) s.Set(f, c, WriteRaw<F>(s.Get(f, c) / 32768.0 * makeup));
    }
    if (report) *report = {maxReduction, 20.0 * std::log10(makeup)};
    return WorkOutcome::Done();
  }
}

bool SpectralDenoiseChannel(std::vector<float>& x, const SpectralDenoiseSettings& settings,
                            const WorkProgress& progress) {
  constexpr int64_t kSize = 2048, kHop = 512, kBins = kSize / 2 + 1, kPad = 1536;
  const auto count = static_cast<int64_t>(x.size());
  if (count < 1) return true;  // nothing to clean; never index an empty channel

  // The steps' shares of the channel's progress, roughly their cost: the
  // two passes run the same transforms, the profile sorts every bin's list
  // once, the peaks and the copy back are single sweeps. A report every 32
  // frames or bins, or every 2^18 samples, is about a millisecond.
  const WorkProgress measuring = SubProgress(progress, 0.0, 0.03);
  const WorkProgress analysis = SubProgress(progress, 0.03, 0.45);
  const WorkProgress profile = SubProgress(progress, 0.45, 0.55);
  const WorkProgress rebuild = SubProgress(progress, 0.55, 0.95);
  const WorkProgress finishing = SubProgress(progress, 0.95, 1.0);
  constexpr uint64_t kEvery = 32;
  constexpr uint64_t kSamplesPerReport = 1 << 18;

  float inPeak = 0.0f;
  ProgressTicker measured(measuring, static_cast<uint64_t>(count), kSamplesPerReport);
  for (float v : x) {
    if (!measured.Step()) return false;
    inPeak = std::max(inPeak, std::fabs(v));
  }

  // The channel mirrored at both ends, edge samples included, then silence;
  // read in place rather than copied (a copy would double the memory of a
  // long channel and cost its page faults before the first frame).
  auto padded = [&x, count](int64_t at) -> float {
    if (at < kPad) return x[static_cast<size_t>(std::min(kPad - 1 - at, count - 1))];
    if (at < count + kPad) return x[static_cast<size_t>(at - kPad)];
    if (at < count + 2 * kPad) return x[static_cast<size_t>(std::max<int64_t>(0, count - 1 - (at - count - kPad)))];
    return 0.0f;
  };
  // Enough frames that every sample of the range lies under four windows,
  // the last ones included (frames up to (count + 1535) / 512); fewer would
  // fade the end of the range out.
  const int64_t frames = (count + kPad + kHop - 1) / kHop + 1;

  std::vector<float> window(kSize);
  for (int64_t k = 0; k < kSize; ++k)
    window[static_cast<size_t>(k)] = std::sin(static_cast<float>(k) * std::numbers::pi_v<float> * (1.0f / 2048.0f));

  FftPlan plan(kSize);
  const size_t offset = FftPlan::SplitOffset(kBins);
  std::vector<float> frame(kSize), spectrum(2 * offset), resynth(kSize);
  float* re = spectrum.data();
  float* im = spectrum.data() + offset;
  auto analyse = [&](int64_t f) {
    const int64_t base = f * kHop;
    for (int64_t k = 0; k < kSize; ++k) {
      const int64_t at = base + k;
      frame[static_cast<size_t>(k)] = padded(at);
    }
  };

  // Pass 1: each bin's magnitudes over the frames that are not silent.
  // Left uninitialised: each list is written up to |kept| before it is read,
  // and its pages are touched as the pass goes rather than all up front.
  std::unique_ptr<float[]> magnitudes(new float[static_cast<size_t>(kBins * frames)]);
  int64_t kept = 0;
  ProgressTicker analysed(analysis, static_cast<uint64_t>(frames), kEvery);
  if (!ReportProgress(analysis, 0.0)) return false;
  for (int64_t f = 0; f < frames; ++f) {
    if (!analysed.Step()) return false;
    analyse(f);
    double energy = 0.0;
    for (float v : frame) energy += static_cast<double>(v) * v;
    if (std::sqrt(energy / kSize) < 1e-4) continue;
    for (int64_t k = 0; k < kSize; ++k) frame[static_cast<size_t>(k)] *= window[static_cast<size_t>(k)];
    plan.RealForward(frame.data(), re, im);
    for (int64_t b = 0; b < kBins; ++b)
      magnitudes[static_cast<size_t>(b * frames + kept)] = std::sqrt(re[b] * re[b] + im[b] * im[b]);
    ++kept;
  }

  std::vector<float> raw(kBins, 1e-5f);
  ProgressTicker profiled(profile, kBins, kEvery);
  for (int64_t b = 0; b < kBins && kept > 0; ++b) {
    if (!profiled.Step()) return false;
    float* list = magnitudes.get() + b * frames;
    const auto index =
        std::min<int64_t>(static_cast<int64_t>(static_cast<float>(kept) * settings.percentile), kept - 1);
    std::nth_element(list, list + index, list + kept);
    raw[static_cast<size_t>(b)] = std::max(list[index], 1e-6f);
  }
  magnitudes.reset();
  std::vector<float> noise = raw;
  for (int64_t b = 2; b <= kBins - 4; ++b) {
    float sum = 0.0f;
    for (int64_t d = -2; d <= 2; ++d) sum += raw[static_cast<size_t>(b + d)];
    noise[static_cast<size_t>(b)] = sum * 0.2f;
  }

  // Pass 2: mask and overlap-add.
  std::vector<float> mask(kBins, 1.0f);
  // Left uninitialised like the magnitudes: frame f is the first to reach
  // out[f * hop + 1536 ..], so it stores there and adds below; only the
  // first frame's overlap needs zeros.
  std::unique_ptr<float[]> out(new float[static_cast<size_t>(count + 5120)]);
  std::fill_n(out.get(), kSize - kHop, 0.0f);
  ProgressTicker rebuilt(rebuild, static_cast<uint64_t>(frames), kEvery);
  for (int64_t f = 0; f < frames; ++f) {
    if (!rebuilt.Step()) return false;
    analyse(f);
    for (int64_t k = 0; k < kSize; ++k) frame[static_cast<size_t>(k)] *= window[static_cast<size_t>(k)];
    plan.RealForward(frame.data(), re, im);
    for (int64_t b = 0; b < kBins; ++b) {
      const float m = std::sqrt(re[b] * re[b] + im[b] * im[b]);
      const float t = 5.0f * noise[static_cast<size_t>(b)];
      float value = 1.0f;
      if (m < t) {
        const float q = m / (t + 1e-9f);
        value = q * q;
      }
      value = std::max(value, settings.maskFloor);
      float& state = mask[static_cast<size_t>(b)];
      state = settings.newWeight * value + settings.previousWeight * state;
      re[b] *= state;
      im[b] *= state;
    }
    plan.RealInverse(re, im, resynth.data());
    float* acc = out.get() + f * kHop;
    for (int64_t k = 0; k < kSize - kHop; ++k)
      acc[k] += window[static_cast<size_t>(k)] * resynth[static_cast<size_t>(k)] * 0.5f;
    for (int64_t k = kSize - kHop; k < kSize; ++k)
      acc[k] = window[static_cast<size_t>(k)] * resynth[static_cast<size_t>(k)] * 0.5f;
  }

  float outPeak = 0.0f;
  ProgressTicker copied(finishing, static_cast<uint64_t>(2 * count), kSamplesPerReport);
  for (int64_t i = 0; i < count; ++i) {
    if (!copied.Step()) return false;
    x[static_cast<size_t>(i)] = out[static_cast<size_t>(kPad + i)];
    outPeak = std::max(outPeak, std::fabs(x[static_cast<size_t>(i)]));
  }
  if (outPeak > 1e-5f) {
    const float g = inPeak / outPeak;
    for (float& v : x) {
      if (!copied.Step()) return false;
      v *= g;
    }
  }
  return true;
}

template <SampleFormat F>
WorkOutcome SpectralDenoiseWork::operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const {
  if constexpr (F == SampleFormat::kF32) {
    return WorkOutcome::Done();
  } else {
    const int64_t count = r.Length();
    if (count < 1) return WorkOutcome::Refuse("Please select a region first.");
    const int channels = s.Channels();
    const double scale = 1.0 / ReadScale<F>();
    // Filled as it is read, so that its pages are touched between reports.
    std::vector<float> x;
    x.reserve(static_cast<size_t>(count));
    const WorkProgress whole = [&p](double fraction) { return p.Report(fraction); };
    // Each channel its share; inside it, reading and writing the samples are
    // a few percent each, the clean-up the rest.
    constexpr uint64_t kFramesPerReport = 1 << 18;
    for (int c = 0; c < channels; ++c) {
      const double from = static_cast<double>(c) / channels, to = static_cast<double>(c + 1) / channels;
      const WorkProgress reading = SubProgress(whole, from, from + 0.03 * (to - from));
      const WorkProgress cleaning = SubProgress(whole, from + 0.03 * (to - from), from + 0.97 * (to - from));
      const WorkProgress writing = SubProgress(whole, from + 0.97 * (to - from), to);
      ProgressTicker read(reading, static_cast<uint64_t>(count), kFramesPerReport);
      x.clear();
      for (int64_t i = 0; i < count; ++i) {
        if (!read.Step()) return WorkOutcome::Done();
        x.push_back(static_cast<float>(s.Get(r.start + i, c) * scale));
      }
      if (!SpectralDenoiseChannel(x, settings, cleaning)) return WorkOutcome::Done();
      ProgressTicker written(writing, static_cast<uint64_t>(count), kFramesPerReport);
      for (int64_t i = 0; i < count; ++i) {
        if (!written.Step()) return WorkOutcome::Done();
        s.Set(r.start + i, c, WriteRaw<F>(x[static_cast<size_t>(i)]));
      }
      if (!p.Report(to)) return WorkOutcome::Done();
    }
    return WorkOutcome::Done();
  }
}

#define ZANDREL_INSTANTIATE_DYNAMICS(Work)                                                              \
  template WorkOutcome Work::operator()(SampleFrames<SampleFormat::kU8>, FrameRange, TaskProgress&) const;  \
  template WorkOutcome Work::operator()(SampleFrames<SampleFormat::kS16>, FrameRange, TaskProgress&) const; \
  template WorkOutcome Work::operator()(SampleFrames<SampleFormat::kS24>, FrameRange, TaskProgress&) const; \
  template WorkOutcome Work::operator()(SampleFrames<SampleFormat::kS32>, FrameRange, TaskProgress&) const; \
  template WorkOutcome Work::operator()(SampleFrames<SampleFormat::kF32>, FrameRange, TaskProgress&) const;
ZANDREL_INSTANTIATE_DYNAMICS(GateWork)
ZANDREL_INSTANTIATE_DYNAMICS(CompressorWork)
ZANDREL_INSTANTIATE_DYNAMICS(SpectralDenoiseWork)

const std::vector<ProcessingCommand>& DynamicsCommands() {
  static const std::vector<ProcessingCommand> commands = [] {
    constexpr std::string_view kNoLoop = "No valid loop region set.";
    std::vector<ProcessingCommand> v;
    ProcessingCommand gate;
    gate.id = cmd::kAdaptiveNoiseGate;
    gate.menuText = "Adaptive Noise Gate";
    gate.menus = {{"&Audio", 700}};
    gate.rangeFailureText = kNoLoop;
    gate.depths = DepthSet::AllIntegers();
    gate.undoLabel = "Adaptive Noise Gate";
    gate.work = SampleWork::Of(GateWork{});
    v.push_back(gate);
    ProcessingCommand compressor = gate;
    compressor.id = cmd::kAdaptiveCompressor;
    compressor.menuText = "Adaptive Compressor";
    compressor.menus = {{"&Audio", 701}};
    compressor.undoLabel = "Adaptive Compressor";
    // Its level arithmetic is for 16-bit samples; other depths are refused
    // rather than recorded as an edit that changes nothing.
    compressor.depths = DepthSet::Only16();
    compressor.work = SampleWork::Of(CompressorWork{});
    v.push_back(compressor);
    auto spectral = [](int id, std::string_view text, int order, SpectralDenoiseSettings settings) {
      ProcessingCommand c;
      c.id = id;
      c.menuText = text;
      c.menus = {{"&Audio", order}};
      c.silentWithoutAudio = true;
      c.rangeFailureText = "Please select a region first.";
      c.depths = DepthSet::AllIntegers();
      c.undoLabel = "Spectral Denoise";
      c.work = SampleWork::Of(SpectralDenoiseWork{settings});
      return c;
    };
    v.push_back(spectral(cmd::kSpectralIsolationPercussive, "Spectral Isolation (Percussive)", 800, SpectralDenoiseSettings::Percussive()));
    v.push_back(spectral(cmd::kSpectralCleanupMelodic, "Spectral Cleanup (Melodic)", 801, SpectralDenoiseSettings::Melodic()));
    return v;
  }();
  return commands;
}

}  // namespace zandrel
