// The spectrum display on a ten-minute document (44.1 kHz mono 16-bit) in the
// whole-file view of a 1600 x 600 window (about 16538 frames per pixel, 40
// analysis frames 661500 frames apart).
//
// - Compute: one recomputation of the spectrum (reading and windowing
//   40 x 8192 samples, 40 transforms, averaging, the scale), beside the floor
//   of FFTW's plain real transforms of the same 40 windows alone.
// - Paint: one full paint of the view with the spectrum on and cached
//   (picture and rendering, as the widget does), beside the same paint with
//   the spectrum off.
// Runs under Qt's offscreen platform (text needs a GUI application).
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <memory>

#include "bench/ratio_reporter.h"
#include "document/quorvel_doc.h"
#include "view/model/view_drawing.h"
#include "view/view_painter.h"

namespace zandrel {
namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 600;
constexpr int64_t kFrames = 44100LL * 600;

struct Scene {
  CQuorvelDoc doc;
  std::unique_ptr<ViewModel> model;

  Scene() {
    doc.audio.format = PcmFormat{1, 1, 44100, 88200, 2, 16};
    doc.audio.data.resize(static_cast<size_t>(kFrames) * 2);
    for (int64_t i = 0; i < kFrames; ++i) {
      // A tone whose pitch wanders, with a slow level swell.
      const double t = static_cast<double>(i) / 44100.0;
      const auto v = static_cast<int16_t>(16000 * std::sin(2 * M_PI * (220 + 30 * std::sin(t * 0.05)) * t) *
                                          (0.6 + 0.4 * std::sin(t * 0.3)));
      doc.audio.data[static_cast<size_t>(i) * 2] = static_cast<uint8_t>(v & 0xFF);
      doc.audio.data[static_cast<size_t>(i) * 2 + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    }
    model = std::make_unique<ViewModel>(doc);
    model->clientWidth = kWidth;
    model->clientHeight = kHeight;
    model->ResetForDocument();
    // The whole file across the window.
    model->framesPerPixel = static_cast<float>(kFrames) / kWidth;
    model->viewStart = 0;
    model->RebuildPeakCache();
  }
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

void BM_SpectrumComputeWholeFile(benchmark::State& state) {
  Scene& scene = TheScene();
  ViewModel& m = *scene.model;
  for (auto _ : state) {
    m.spectrum.Invalidate();
    m.spectrum.Build(scene.doc.audio, m.viewStart, m.framesPerPixel, kWidth);
    benchmark::DoNotOptimize(m.spectrum.Values().data());
  }
  state.counters["frames"] =
      PlanSpectrumFrames(kFrames, m.viewStart, m.framesPerPixel, kWidth).count;
}

// The floor: FFTW's real 8192-point transform of the same 40 windows, already
// read and windowed.
void BM_FftwPlainTransforms(benchmark::State& state) {
  Scene& scene = TheScene();
  const SpectrumFrames frames = PlanSpectrumFrames(kFrames, 0, scene.model->framesPerPixel, kWidth);
  float* in = fftwf_alloc_real(static_cast<size_t>(kSpectrumFftSize) * frames.count);
  fftwf_complex* out = fftwf_alloc_complex(kSpectrumBins + 1);
  for (int i = 0; i < frames.count; ++i)
    for (int n = 0; n < kSpectrumFftSize; ++n)
      in[static_cast<size_t>(i) * kSpectrumFftSize + n] = static_cast<float>(std::sin(n * 0.03 + i));
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(kSpectrumFftSize, in, out, FFTW_MEASURE);
  for (int i = 0; i < frames.count; ++i)
    for (int n = 0; n < kSpectrumFftSize; ++n)
      in[static_cast<size_t>(i) * kSpectrumFftSize + n] = static_cast<float>(std::sin(n * 0.03 + i));
  for (auto _ : state) {
    for (int i = 0; i < frames.count; ++i) {
      fftwf_execute_dft_r2c(plan, in + static_cast<size_t>(i) * kSpectrumFftSize, out);
      benchmark::DoNotOptimize(out[1][0]);
    }
  }
  fftwf_destroy_plan(plan);
  fftwf_free(out);
  fftwf_free(in);
}

void Paint(benchmark::State& state, bool spectrum) {
  Scene& scene = TheScene();
  ViewModel& m = *scene.model;
  m.showSpectrum = spectrum;
  m.spectrum.Invalidate();
  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  // The first paint computes the spectrum; the timed ones find it cached.
  {
    DrawList picture;
    ViewDrawing(m, picture).OnDraw(kWidth, kHeight);
  }
  for (auto _ : state) {
    DrawList picture;
    ViewDrawing(m, picture).OnDraw(kWidth, kHeight);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    PaintDrawList(p, picture);
    benchmark::DoNotOptimize(picture.Ops().data());
  }
  if (spectrum && m.spectrum.IsInvalid()) state.SkipWithError("the spectrum was not cached");
}

void BM_PaintWholeFileSpectrumCached(benchmark::State& state) { Paint(state, true); }
void BM_PaintWholeFileSpectrumOff(benchmark::State& state) { Paint(state, false); }

BENCHMARK(BM_SpectrumComputeWholeFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FftwPlainTransforms)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintWholeFileSpectrumCached)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintWholeFileSpectrumOff)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  zandrel::RatioReporter reporter;
  reporter.Add({"spectrum of the whole 10-min file (goal < 50 ms)", "BM_SpectrumComputeWholeFile",
                "BM_FftwPlainTransforms", "FFTW r2c of the same 40 windows alone", true});
  reporter.Add({"paint, spectrum on and cached (goal < 8 ms)", "BM_PaintWholeFileSpectrumCached",
                "BM_PaintWholeFileSpectrumOff", "the same paint, spectrum off", true});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
