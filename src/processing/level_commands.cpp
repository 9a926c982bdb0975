#include "processing/level_commands.h"

#include <algorithm>
#include <cmath>

#include "platform/text_format.h"

namespace zandrel {
namespace {

// Progress is reported (and Cancel looked at) once per this many frames.
constexpr int64_t kProgressStride = 1 << 16;

bool Tick(TaskProgress& p, int64_t done, int64_t total) {
  if (done % kProgressStride != 0) return true;
  return p.Report(total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0);
}

// Nearest integer, halves away from zero.
double Nearest(double v) { return std::round(v); }

constexpr double kCombSeconds[8] = {0.0297, 0.0371, 0.0411, 0.0437, 0.05, 0.061, 0.067, 0.073};
constexpr float kCombWeights[8] = {0.35f, 0.28f, 0.22f, 0.18f, 0.14f, 0.11f, 0.08f, 0.04f};

// One ring of floats per channel with a shared write index: the value written
// d frames ago sits at (idx - d) mod size.
class Rings {
 public:
  Rings(int channels, int64_t size)
      : size_(std::max<int64_t>(size, 1)), data_(static_cast<size_t>(channels * size_), 0.0f) {}
  float& At(int channel, int64_t slot) { return data_[static_cast<size_t>(channel * size_ + slot)]; }
  // |delay| is below the ring's size.
  float Delayed(int channel, int64_t delay) {
    int64_t slot = idx_ - delay;
    if (slot < 0) slot += size_;
    return At(channel, slot);
  }
  float& Current(int channel) { return At(channel, idx_); }
  void Advance() { idx_ = idx_ + 1 == size_ ? 0 : idx_ + 1; }

 private:
  int64_t size_;
  std::vector<float> data_;
  int64_t idx_ = 0;
};

float CombWet(Rings& rings, int channel, const std::vector<int64_t>& delays) {
  float wet = 0.0f;
  for (size_t k = 0; k < delays.size(); ++k) wet += kCombWeights[k] * rings.Delayed(channel, delays[k]);
  return wet;
}

int16_t ToPcm16(float v) {
  return static_cast<int16_t>(Nearest(static_cast<double>(std::clamp(v, -1.0f, 1.0f)) * 32767.0));
}

}  // namespace

double FadeGain(FadeShape shape, int64_t i, int64_t n) {
  const double t = n > 0 ? static_cast<double>(i) / static_cast<double>(n) : 0.0;
  switch (shape) {
    case FadeShape::kLinearOut:
      return 1.0 - t;
    case FadeShape::kLinearIn:
      return t;
    case FadeShape::kExpIn:
      return 1.0 - std::exp(-3.0 * t);
    case FadeShape::kExpOut:
      return std::exp(-3.0 * t);
  }
  return 1.0;
}

template <SampleFormat F>
WorkOutcome FadeWork::operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const {
  const int64_t n = r.Length();
  const bool nearest = shape == FadeShape::kLinearOut && F == SampleFormat::kS16;
  for (int64_t i = 0; i < n; ++i) {
    if (!Tick(p, i, n)) return WorkOutcome::Done();
    const double g = FadeGain(shape, i, n);
    const int64_t frame = r.start + i;
    for (int c = 0; c < s.Channels(); ++c) {
      if constexpr (F == SampleFormat::kF32) {
        s.Set(frame, c, static_cast<double>(s.Get(frame, c)) * g);
      } else {
        const double v = static_cast<double>(s.Get(frame, c)) * g;
        s.Set(frame, c, nearest ? Nearest(v) : std::trunc(v));
      }
    }
  }
  p.Report(1.0);
  return WorkOutcome::Done();
}

std::vector<int64_t> ReverbCombDelays(uint32_t rate) {
  std::vector<int64_t> delays;
  for (double c : kCombSeconds) delays.push_back(static_cast<int64_t>(rate * c));
  return delays;
}

int64_t ReverbTailFrames(uint32_t rate) { return static_cast<int64_t>(rate * 0.8); }

template <SampleFormat F>
WorkOutcome FadeToReverbWork::operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const {
  if constexpr (F != SampleFormat::kS16) {
    return WorkOutcome::Refuse("This effect currently only supports 16-bit audio.");
  } else {
    const int64_t n = r.Length();
    const int channels = s.Channels();
    const int64_t total = n + n / 2;  // progress units: shaping, reverb, tail (tail counted in the reverb share)
    // 1. The dry signal fades to silence over the first half, then is silent.
    const int64_t h = n / 2;
    for (int64_t i = 0; i < h; ++i) {
      if (!Tick(p, i, total)) return WorkOutcome::Done();
      const float g = std::exp(-3.0f * static_cast<float>(i) / static_cast<float>(h));
      for (int c = 0; c < channels; ++c) s.Set(r.start + i, c, Nearest(static_cast<double>(s.Get(r.start + i, c)) * g));
    }
    for (int64_t f = r.start + h; f < r.end; ++f)
      for (int c = 0; c < channels; ++c) s.Set(f, c, 0);

    // 2. The comb bank.
    const std::vector<int64_t> delays = ReverbCombDelays(s.SampleRate());
    const int64_t longest = *std::max_element(delays.begin(), delays.end());
    Rings rings(channels, longest + 1);

    // 3. The reverb over the range, fed through a ramp over its first quarter.
    const int64_t q = n / 4;
    for (int64_t i = 0; i < n; ++i) {
      if (!Tick(p, h + i, total)) return WorkOutcome::Done();
      const float ramp = i < q ? static_cast<float>(i) / static_cast<float>(q) : 1.0f;
      const int64_t frame = r.start + i;
      for (int c = 0; c < channels; ++c) {
        const float y = static_cast<float>(s.Get(frame, c)) / 32768.0f;
        const float wet = CombWet(rings, c, delays);
        rings.Current(c) = y * ramp + wet * 0.6f;
        s.Set(frame, c, ToPcm16(wet * 1.5f + y));
      }
      rings.Advance();
    }

    // 4. The tail rings on into the audio after the range.
    const int64_t tail = ReverbTailFrames(s.SampleRate());
    const int64_t tailEnd = std::min(s.Frames(), r.end + tail);
    for (int64_t j = r.end; j < tailEnd; ++j) {
      const float decay = (1.0f - static_cast<float>(j - r.end) / static_cast<float>(tail)) * 1.2f;
      for (int c = 0; c < channels; ++c) {
        const float wet = CombWet(rings, c, delays);
        rings.Current(c) = wet * 0.6f;
        const float x = static_cast<float>(s.Get(j, c)) / 32768.0f;
        s.Set(j, c, ToPcm16(decay * wet + x));
      }
      rings.Advance();
    }
    p.Report(1.0);
    return WorkOutcome::Done();
  }
}

int64_t DelayFrames(uint32_t rate) {
  return std::max<int64_t>(1, static_cast<int64_t>(static_cast<float>(rate) * 0.09f));
}

template <SampleFormat F>
WorkOutcome FadeToDelayWork::operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const {
  if constexpr (F != SampleFormat::kS16) {
    return WorkOutcome::Refuse("This effect currently only supports 16-bit audio.");
  } else {
    const int64_t n = r.Length();
    const int channels = s.Channels();
    Rings rings(channels, DelayFrames(s.SampleRate()));
    const int64_t g = n / 3;
    const int64_t h = n / 4;
    const float floorGain = std::exp(-3.0f);
    const float norm = 1.0f / (1.0f - floorGain);
    for (int64_t t = 0; t < n; ++t) {
      if (!Tick(p, t, n)) return WorkOutcome::Done();
      // The input's gain falls from 1 to exactly 0 over the first third.
      const float v =
          t < g ? std::max(0.0f, (std::exp(-3.0f * static_cast<float>(t) / static_cast<float>(g)) - floorGain) * norm)
                : 0.0f;
      const float ramp = t < h ? static_cast<float>(t) / static_cast<float>(h) : 1.0f;
      const int64_t frame = r.start + t;
      for (int c = 0; c < channels; ++c) {
        const float a = rings.Current(c);  // written one delay ago
        const float b = static_cast<float>(s.Get(frame, c)) / 32768.0f * v;
        rings.Current(c) = ramp * b + 0.4f * a;
        s.Set(frame, c, std::floor(static_cast<double>(std::clamp(1.4f * a + b, -1.0f, 1.0f)) * 32767.0 + 0.5));
      }
      rings.Advance();
    }
    p.Report(1.0);
    return WorkOutcome::Done();
  }
}

template <SampleFormat F>
WorkOutcome SilenceWork::operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const {
  for (int64_t f = r.start; f < r.end; ++f) {
    if (!Tick(p, f - r.start, r.Length())) return WorkOutcome::Done();
    for (int c = 0; c < s.Channels(); ++c) s.Set(f, c, 0);
  }
  p.Report(1.0);
  return WorkOutcome::Done();
}

template <SampleFormat F>
WorkOutcome NormalizeWork::operator()(SampleFrames<F> s, FrameRange r, TaskProgress& p) const {
  if constexpr (F == SampleFormat::kF32) {
    // Not declared for float audio: the runner refuses it before this.
    return WorkOutcome::Refuse("Unsupported bit depth: 32-bit");
  } else {
    using Traits = SampleTraits<F>;
    int64_t peak = 0;
    for (int64_t f = r.start; f < r.end; ++f)
      for (int c = 0; c < s.Channels(); ++c) peak = std::max<int64_t>(peak, std::abs(static_cast<int64_t>(s.Get(f, c))));
    if (peak < 1) return WorkOutcome::Refuse("Audio is silent or near-silent. Cannot normalize.");
    const double full = static_cast<double>(Traits::kMax);
    const double gain = full * 0.92 / static_cast<double>(peak);
    if (gain < 1.0) {
      return WorkOutcome::Refuse(
          Format("Audio is already at or above target level (%.1f%% of maximum).\nNo normalization needed.",
                 static_cast<double>(peak) / full * 100.0));
    }
    for (int64_t f = r.start; f < r.end; ++f) {
      if (!Tick(p, f - r.start, r.Length())) return WorkOutcome::Done();
      for (int c = 0; c < s.Channels(); ++c) {
        const double v = std::clamp(static_cast<double>(s.Get(f, c)) * gain, -(full + 1.0), full);
        s.Set(f, c, std::trunc(v));
      }
    }
    p.Report(1.0);
    return WorkOutcome::Done();
  }
}

#define ZANDREL_INSTANTIATE_WORK(Work)                                                                  \
  template WorkOutcome Work::operator()(SampleFrames<SampleFormat::kU8>, FrameRange, TaskProgress&) const;  \
  template WorkOutcome Work::operator()(SampleFrames<SampleFormat::kS16>, FrameRange, TaskProgress&) const; \
  template WorkOutcome Work::operator()(SampleFrames<SampleFormat::kS24>, FrameRange, TaskProgress&) const; \
  template WorkOutcome Work::operator()(SampleFrames<SampleFormat::kS32>, FrameRange, TaskProgress&) const; \
  template WorkOutcome Work::operator()(SampleFrames<SampleFormat::kF32>, FrameRange, TaskProgress&) const;
ZANDREL_INSTANTIATE_WORK(FadeWork)
ZANDREL_INSTANTIATE_WORK(FadeToReverbWork)
ZANDREL_INSTANTIATE_WORK(FadeToDelayWork)
ZANDREL_INSTANTIATE_WORK(SilenceWork)
ZANDREL_INSTANTIATE_WORK(NormalizeWork)
#undef ZANDREL_INSTANTIATE_WORK

const std::vector<ProcessingCommand>& LevelCommands() {
  static const std::vector<ProcessingCommand> commands = [] {
    constexpr std::string_view kInvalidLoop = "Invalid loop region. Please set loop start and end points first.";
    constexpr std::string_view kNoLoopSet = "No valid loop region set. Use Playback > Set Loop In/Out first.";
    auto rangeLine = [](const char* fmt) {
      return [fmt](const LogFacts& f) {
        return Format(fmt, static_cast<long long>(f.range.Length()), static_cast<long long>(f.range.start),
                      static_cast<long long>(f.range.end));
      };
    };
    auto fade = [&](int id, std::string_view text, int order, FadeShape shape, DepthSet depths,
                    std::string_view undo, const char* log) {
      ProcessingCommand c;
      c.id = id;
      c.menuText = text;
      c.menus = {{"&Audio", order}};
      c.rangeFailureText = kInvalidLoop;
      c.depths = depths;
      c.depthCheck = DepthCheck::kAfterUndo;
      c.undoLabel = undo;
      c.logLine = rangeLine(log);
      c.work = SampleWork::Of(FadeWork{shape});
      return c;
    };
    std::vector<ProcessingCommand> v;
    v.push_back(fade(cmd::kFadeOut, "Fade Out ", 100, FadeShape::kLinearOut, DepthSet::AllWithFloat(), "Fade Out",
                     "Applied fade-out to %lld samples (from sample %lld to %lld)"));
    v.push_back(fade(cmd::kFadeIn, "Fade In", 101, FadeShape::kLinearIn, DepthSet::AllIntegers(), "Fade In (Linear)",
                     "Applied linear fade-in to %lld samples (from sample %lld to %lld)"));
    v.push_back(fade(cmd::kFadeInExp, "Fade In EXP", 102, FadeShape::kExpIn, DepthSet::AllIntegers(), "Fade In (Exponential)",
                     "Applied exponential fade-in to %lld samples (from sample %lld to %lld)"));
    v.push_back(fade(cmd::kFadeOutExp, "Fade Out EXP", 103, FadeShape::kExpOut, DepthSet::AllIntegers(), "Fade Out (Exponential)",
                     "Applied exponential fade-out to %lld samples (from sample %lld to %lld)"));
    v.back().contextMenus = {{"Loop Region", 200}};

    ProcessingCommand reverb;
    reverb.id = cmd::kFadeOutToReverb;
    reverb.menuText = "Fade Out to Reverb";
    reverb.menus = {{"&Audio", 200}};
    reverb.rangeFailureText = kInvalidLoop;
    reverb.depths = DepthSet::Only16();
    reverb.depthFailureText = "This effect currently only supports 16-bit audio.\nYour file is %d-bit.";
    reverb.undoLabel = "Fade Out to Reverb";
    reverb.logLine = [](const LogFacts& f) {
      const int64_t n = f.range.Length();
      const int64_t tail = std::min(f.frames, f.range.end + ReverbTailFrames(f.sampleRate)) - f.range.end;
      return Format(
          "Applied fade-out with reverb: Step 1) Faded to silence over %lld samples, Step 2) Applied progressive "
          "reverb over %lld samples, Step 3) Added %lld sample reverb tail",
          static_cast<long long>(n / 2), static_cast<long long>(n), static_cast<long long>(std::max<int64_t>(tail, 0)));
    };
    reverb.work = SampleWork::Of(FadeToReverbWork{});
    v.push_back(std::move(reverb));

    ProcessingCommand delay;
    delay.id = cmd::kFadeOutToDelay;
    delay.menuText = "Fade Out to Delay";
    delay.menus = {{"&Audio", 201}};
    delay.silentWithoutAudio = true;
    delay.rangeFailureText = "Invalid loop region.";
    delay.depths = DepthSet::Only16();
    delay.depthFailureText = "This effect currently only supports 16-bit audio.";
    delay.undoLabel = "Fade Out to Delay";
    delay.logLine = [](const LogFacts&) { return Format("Applied fade-out to delay (%dms)", 90); };
    delay.work = SampleWork::Of(FadeToDelayWork{});
    v.push_back(std::move(delay));

    ProcessingCommand silence;
    silence.id = cmd::kSilence;
    silence.menuText = "Silence";
    silence.menus = {{"&Audio", 300}};
    silence.range = RangeRule::kRawSelection;
    silence.rangeFailureText = kNoLoopSet;
    silence.emptyRangeText = "Invalid loop region.";
    // Silence is all-zero bytes in float audio as well.
    silence.depths = DepthSet::AllWithFloat();
    silence.undoLabel = "Silence";
    silence.work = SampleWork::Of(SilenceWork{});
    v.push_back(std::move(silence));

    ProcessingCommand normalize;
    normalize.id = cmd::kNormalize;
    normalize.menuText = "Normalize to 92%";
    normalize.menus = {{"&Audio", 301}};
    normalize.contextMenus = {{"Region Bar", 201, "Normalize"}};
    normalize.rangeFailureText = kNoLoopSet;
    normalize.depths = DepthSet::AllIntegers();
    normalize.undoLabel = "Normalize";
    normalize.work = SampleWork::Of(NormalizeWork{});
    v.push_back(std::move(normalize));
    return v;
  }();
  return commands;
}

}  // namespace zandrel
