#include "sound_design/vocoder.h"

#include <algorithm>
#include <cmath>

#include "processing/complex_fft.h"
#include "sound_design/loop_synth.h"
#include "platform/work_progress.h"

namespace zandrel {
namespace {

constexpr int kVocoderFftSize = 2048;
constexpr int kVocoderHop = 512;

int32_t TruncateKnob(float value) {
  if (std::isnan(value)) return 0;
  return static_cast<int32_t>(std::clamp(value, -1.0e9f, 1.0e9f));
}

}  // namespace

VocoderCarrier BuildVocoderCarrier(std::span<const int16_t> loop, int channels, uint32_t sampleRate,
                                   const WorkProgress& progress) {
  // The robot with the loop's own magnitudes: no crossfade, no gate, no comb,
  // no frequency change.
  LoopSynthParams params;
  params.cycleOffset = 0.0f;
  params.amount = 1.0f;
  params.crossfadeMs = 0.0f;
  params.cycleCount = 1;
  SpectralMorphParams morph;
  morph.shift = 0;
  morph.dull = 0.0f;
  morph.hollow = 0;
  const LoopSynthResult robot =
      SynthesizeMorphLoop(loop, channels, sampleRate, params, morph, SubProgress(progress, 0.0, 0.97));
  if (robot.Empty() || robot.period == 0) return {};

  VocoderCarrier out;
  const auto body = robot.samples.begin() + robot.loopStart * channels;
  const size_t count = static_cast<size_t>((robot.loopEnd - robot.loopStart) * channels);
  if (!ZeroedInBlocks(out.carrier, count, SubProgress(progress, 0.97, 0.985))) return {};
  std::copy_n(body, count, out.carrier.begin());
  // The modulator starts at the loop's first frame, the carrier at the
  // detected crossing.
  if (!ZeroedInBlocks(out.modulator, count, SubProgress(progress, 0.985, 1.0))) return {};
  std::copy_n(loop.begin(), std::min(loop.size(), out.modulator.size()), out.modulator.begin());
  if (!ReportProgress(progress, 1.0)) return {};
  return out;
}

VocoderResult RunVocoder(std::span<const int16_t> carrier, std::span<const int16_t> modulator, int channels,
                         int bitsPerSample, const VocoderParams& params, const WorkProgress& progress) {
  VocoderResult result;
  if (carrier.empty() || modulator.empty() || bitsPerSample != 16 || carrier.size() != modulator.size())
    return result;
  result.samples = VocoderProcess(carrier, modulator, channels, 1.0f, params, progress);
  result.success = !result.samples.empty();
  return result;
}

std::vector<int16_t> VocoderProcess(std::span<const int16_t> carrier, std::span<const int16_t> modulator,
                                    int channels, float weight, const VocoderParams& params,
                                    const WorkProgress& progress) {
  if (channels <= 0 || carrier.size() != modulator.size()) return {};
  const int64_t ch = channels;
  const int64_t frames = static_cast<int64_t>(carrier.size()) / ch;
  if (frames == 0) return {};
  // Shares of the bar: the buffers zeroed, then per channel the frames and
  // the copy out.
  std::vector<int16_t> out;
  std::vector<float> acc;
  if (!ZeroedInBlocks(out, carrier.size(), SubProgress(progress, 0.0, 0.02)) ||
      !ZeroedInBlocks(acc, static_cast<size_t>(frames), SubProgress(progress, 0.02, 0.04)))
    return {};
  const WorkProgress framing = SubProgress(progress, 0.04, 1.0);

  std::vector<float> w(kVocoderFftSize);
  for (int i = 0; i < kVocoderFftSize; ++i)
    w[i] = (1.0f - std::cos(static_cast<float>(i) * 6.2831855f / 2047.0f)) * 0.5f;

  const float smooth = std::isnan(params.envelopeSmooth) ? 0.0f : std::clamp(params.envelopeSmooth, 0.0f, 0.999f);
  const float phaseMix = params.phaseMix;
  const int64_t shift = params.binShift;

  const FftPlan plan(kVocoderFftSize);
  // Split arrays laid out as the plan wants them: imaginary right after real.
  std::vector<float> specC(2 * kVocoderFftSize);
  std::vector<float> specM(2 * kVocoderFftSize);
  std::vector<float> specOut(2 * kVocoderFftSize);
  float* reC = specC.data();
  float* imC = specC.data() + kVocoderFftSize;
  float* reM = specM.data();
  float* imM = specM.data() + kVocoderFftSize;
  float* reOut = specOut.data();
  float* imOut = specOut.data() + kVocoderFftSize;
  std::vector<float> envelope(kVocoderFftSize);
  std::vector<float> magC(kVocoderFftSize);
  std::vector<float> phaseC(kVocoderFftSize);
  std::vector<float> phaseM(kVocoderFftSize);
  constexpr float kToUnit = 1.0f / 32768.0f;
  // Three transforms and four trigonometric calls per bin for each frame: a
  // report every 16 frames.
  const int64_t hops = (frames + kVocoderHop - 1) / kVocoderHop;
  ProgressTicker ticker(framing, static_cast<uint64_t>(2 * hops * ch), 16);

  for (int64_t c = 0; c < ch; ++c) {
    // The envelope restarts from silence for every channel.
    std::fill(envelope.begin(), envelope.end(), 0.0f);
    std::fill(acc.begin(), acc.end(), 0.0f);
    for (int64_t start = 0; start < frames; start += kVocoderHop) {
      if (!ticker.Step()) return {};
      // Frames past the end are padded with silence, not wrapped.
      const int valid = static_cast<int>(std::min<int64_t>(kVocoderFftSize, frames - start));
      for (int l = 0; l < valid; ++l) {
        const size_t at = static_cast<size_t>((start + l) * ch + c);
        reC[l] = static_cast<float>(carrier[at]) * kToUnit * w[l];
        reM[l] = static_cast<float>(modulator[at]) * kToUnit * w[l];
      }
      std::fill(reC + valid, reC + kVocoderFftSize, 0.0f);
      std::fill(reM + valid, reM + kVocoderFftSize, 0.0f);
      std::fill_n(imC, kVocoderFftSize, 0.0f);
      std::fill_n(imM, kVocoderFftSize, 0.0f);
      plan.Complex(reC, imC, false);
      plan.Complex(reM, imM, false);

      for (int b = 0; b < kVocoderFftSize; ++b) {
        envelope[b] =
            (std::sqrt(reM[b] * reM[b] + imM[b] * imM[b]) + 0.000000000001f) * (1.0f - smooth) + smooth * envelope[b];
        magC[b] = std::sqrt(reC[b] * reC[b] + imC[b] * imC[b]) + 0.000000000001f;
        phaseC[b] = std::atan2(imC[b], reC[b]);
        phaseM[b] = std::atan2(imM[b], reM[b]);
      }
      // Every bin alike; the upper half is not mirrored from the lower.
      for (int m = 0; m < kVocoderFftSize; ++m) {
        const auto j = static_cast<size_t>(std::clamp<int64_t>(m + shift, 0, kVocoderFftSize - 1));
        const float amplitude = (1.0f - weight) * magC[m] + weight * envelope[j];
        const float phase = phaseM[j] * phaseMix + (1.0f - phaseMix) * phaseC[m];
        reOut[m] = std::cos(phase) * amplitude;
        imOut[m] = std::sin(phase) * amplitude;
      }
      plan.Complex(reOut, imOut, true);
      for (int l = 0; l < valid; ++l) acc[start + l] += reOut[l] * w[l] * 0.6666667f;
    }
    for (int64_t i = 0; i < frames; ++i) {
      if (i % kVocoderHop == 0 && !ticker.Step()) return {};
      const double v = std::round(static_cast<double>(acc[i]) * 32768.0);
      out[i * ch + c] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
    }
  }
  return out;
}

VocoderParams VocoderParamsFromKnobs(const VocoderKnobs& knobs) {
  VocoderParams params;
  params.binShift = TruncateKnob(knobs.shiftBins);
  params.phaseMix = knobs.phaseMix;
  params.envelopeSmooth = knobs.envelopeSmooth;
  return params;
}

}  // namespace zandrel
