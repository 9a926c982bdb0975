// One full paint of the waveform view: a ten-minute document (44.1 kHz mono
// 16-bit) with three regions, a loop selection, the cursor and the trim
// limit, in a 1600 x 600 view, at the opening zoom of 256 frames per pixel
// (one line per column from the peak cache) and at the finest zoom of 0.5
// (a line through samples). "Paint" builds the picture and renders it into
// the ARGB image as the widget does; "Picture" is the display-free part
// alone. Runs under Qt's offscreen platform (text needs a GUI application).
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <memory>

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
      const auto v = static_cast<int16_t>(20000 * std::sin(i * 0.031) * std::sin(i * 0.0000071));
      doc.audio.data[static_cast<size_t>(i) * 2] = static_cast<uint8_t>(v & 0xFF);
      doc.audio.data[static_cast<size_t>(i) * 2 + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    }
    doc.instrument.hasInstrument = true;
    doc.instrument.regions = {{0, 200000, -1, -1, 0, 59, 48},
                              {200000, 400000, 250000, 350000, 60, 71, 64},
                              {400000, kFrames, -1, -1, 72, 127, 76}};
    model = std::make_unique<ViewModel>(doc);
    model->clientWidth = kWidth;
    model->clientHeight = kHeight;
    model->ResetForDocument();
    model->loopIn = 180000;
    model->loopOut = 300000;
    model->loopPlayback = true;
    model->cursorFrame = 210000;
  }
  // Shows frames around the selection at |framesPerPixel|.
  void Zoom(float framesPerPixel) {
    model->framesPerPixel = framesPerPixel;
    model->viewStart = 200000 - kWidth * framesPerPixel / 2;
    model->RebuildPeakCache();
  }
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

void Paint(benchmark::State& state, float framesPerPixel, bool render) {
  Scene& scene = TheScene();
  scene.Zoom(framesPerPixel);
  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    DrawList picture;
    ViewDrawing(*scene.model, picture).OnDraw(kWidth, kHeight);
    if (render) {
      QPainter p(&image);
      p.setRenderHint(QPainter::Antialiasing, true);
      p.setRenderHint(QPainter::TextAntialiasing, true);
      PaintDrawList(p, picture);
    }
    benchmark::DoNotOptimize(picture.Ops().data());
  }
}

void BM_PaintTenMinutes_256FramesPerPixel(benchmark::State& state) { Paint(state, 256.0f, true); }
void BM_PaintTenMinutes_FinestZoom(benchmark::State& state) { Paint(state, 0.5f, true); }
void BM_PictureTenMinutes_256FramesPerPixel(benchmark::State& state) { Paint(state, 256.0f, false); }
void BM_PictureTenMinutes_FinestZoom(benchmark::State& state) { Paint(state, 0.5f, false); }

BENCHMARK(BM_PaintTenMinutes_256FramesPerPixel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintTenMinutes_FinestZoom)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PictureTenMinutes_256FramesPerPixel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PictureTenMinutes_FinestZoom)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
