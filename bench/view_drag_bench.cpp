// A paint during a drag: a region boundary of a sixty-minute document (44.1
// kHz mono 16-bit, three regions) dragged in a 1600 x 600 view with the ruler
// and the piano strip, at four zooms (the finest, 0.5 frames per pixel; the
// default, 256; 4096, where a bar at 120 BPM is 21 pixels wide; and the whole
// file on screen), for each of the three rulers; and the same for the drags
// of the Rearrange, Time Stretch and Retime tools with their overlays, over
// the Beats ruler. Each iteration moves the mouse one step
// (MouseEditing::Move) and paints the view as the widget does: the picture,
// then its rendering into the ARGB image. The frame budget is 8 ms; after the
// runs the table shows our wall and CPU times beside it and their ratios to
// it (CPU time of the whole process, as the painter may use helper threads;
// the wall time is the one that counts, but on a busy machine it also holds
// the waits for a core). "peak_rebuilds" counts the peak-cache rebuilds
// during the drag, which must stay 0. Runs under Qt's offscreen platform.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "document/quorvel_doc.h"
#include "view/model/mouse_editing.h"
#include "view/model/view_drawing.h"
#include "view/view_painter.h"

namespace zandrel {
namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 600;
constexpr int64_t kFrames = 44100LL * 3600;
constexpr double kBudgetMs = 8.0;

struct Scene {
  CQuorvelDoc doc;
  std::unique_ptr<ViewModel> model;
  std::unique_ptr<MouseEditing> mouse;

  Scene() {
    doc.audio.format = PcmFormat{1, 1, 44100, 88200, 2, 16};
    doc.audio.data.resize(static_cast<size_t>(kFrames) * 2);
    for (int64_t i = 0; i < kFrames; ++i) {
      const auto v = static_cast<int16_t>(20000 * std::sin(i * 0.031) * std::sin(i * 0.0000071));
      doc.audio.data[static_cast<size_t>(i) * 2] = static_cast<uint8_t>(v & 0xFF);
      doc.audio.data[static_cast<size_t>(i) * 2 + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    }
    doc.instrument.hasInstrument = true;
    doc.instrument.params.bpm = 120.0f;
    model = std::make_unique<ViewModel>(doc);
    model->clientWidth = kWidth;
    model->clientHeight = kHeight;
    model->ResetForDocument();
    mouse = std::make_unique<MouseEditing>(*model);
  }
  // The regions split the part of the file on screen in three, so the
  // dragged boundary sits in the middle of the view.
  void Zoom(float framesPerPixel, double viewStart, TimelineMode timeline) {
    model->framesPerPixel = framesPerPixel;
    model->viewStart = viewStart;
    model->timelineMode = timeline;
    model->RebuildPeakCache();
    const auto at = [&](int x) { return model->FrameAtX(x); };
    doc.instrument.regions = {{0, at(533), -1, -1, 0, 59, 48},
                              {at(533), at(800), at(600), at(760), 60, 71, 64},
                              {at(800), kFrames, -1, -1, 72, 127, 76}};
    model->loopIn = at(300);
    model->loopOut = at(500);
    model->cursorFrame = at(700);
  }
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

void PaintInto(Scene& scene, QImage& image) {
  DrawList picture;
  ViewDrawing(*scene.model, picture).OnDraw(kWidth, kHeight);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  PaintDrawList(p, picture);
}

const char* const kTimelineNames[] = {"time", "frames", "beats"};

// The zooms of range(0): frames per pixel (0 for the whole file) and the
// label. Short of the whole file the view starts in the file's middle.
struct ZoomCase {
  float framesPerPixel;
  const char* label;
};
const ZoomCase kZooms[] = {{0.5f, "finest zoom"}, {256.0f, "256 fpp"}, {4096.0f, "4096 fpp"}, {0.0f, "whole file"}};

void ZoomTo(Scene& scene, int64_t zoom, TimelineMode timeline) {
  const ZoomCase& z = kZooms[zoom];
  if (z.framesPerPixel == 0)
    scene.Zoom(static_cast<float>(kFrames) / kWidth, 0.0, timeline);
  else
    scene.Zoom(z.framesPerPixel, kFrames / 2.0, timeline);
}

// range(0): the zoom (kZooms); range(1): the timeline.
void BM_PaintDuringBoundaryDrag(benchmark::State& state) {
  Scene& scene = TheScene();
  const auto timeline = static_cast<TimelineMode>(state.range(1));
  ZoomTo(scene, state.range(0), timeline);
  scene.model->snapToZeroCrossing = true;
  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  PaintInto(scene, image);  // records the hit rectangles
  const int64_t rebuildsBefore = scene.model->peakCache.Rebuilds();
  const int y = 20;  // the region bar
  if (!scene.mouse->Press(800, y, {}) || scene.model->dragOperation != kDragRegionBoundary) {
    state.SkipWithError("the boundary was not grabbed");
    return;
  }
  int step = 0;
  for (auto _ : state) {
    const int x = 700 + (step++ % 200);  // back and forth over 200 pixels
    scene.mouse->Move(x, y, {});
    PaintInto(scene, image);
    benchmark::DoNotOptimize(image.constBits());
  }
  scene.mouse->Release(700, y, {});
  scene.doc.undoHistory.Clear();
  state.counters["peak_rebuilds"] = static_cast<double>(scene.model->peakCache.Rebuilds() - rebuildsBefore);
  state.SetLabel(std::string(kZooms[state.range(0)].label) + ", " + kTimelineNames[state.range(1)] + " ruler");
}
BENCHMARK(BM_PaintDuringBoundaryDrag)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// A paint during a drag of one of the three tools that draw an overlay:
// range(0) as above; range(1): 0 Rearrange (the selection bar moved), 1 Time
// Stretch (the right handle), 2 Retime (the right handle). The release's
// edit is not part of the paint: the drag is let go without it.
void BM_PaintDuringToolDrag(benchmark::State& state) {
  Scene& scene = TheScene();
  ViewModel& m = *scene.model;
  // The Beats ruler, the costliest of the three, under the overlay.
  ZoomTo(scene, state.range(0), TimelineMode::kBeats);
  m.snapToZeroCrossing = true;
  const ToolMode tools[] = {ToolMode::kRearrange, ToolMode::kTimeStretch, ToolMode::kRetime};
  const char* const names[] = {"Rearrange", "Time Stretch", "Retime"};
  m.toolMode = tools[state.range(1)];
  QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  PaintInto(scene, image);  // records the hit rectangles
  const int64_t rebuildsBefore = m.peakCache.Rebuilds();
  const bool bar = m.toolMode == ToolMode::kRearrange;
  const int y = bar ? m.WaveTop() + 20 : (m.WaveTop() + m.WaveBottom()) / 2;
  const int x0 = bar ? 400 : 500;
  if (!scene.mouse->Press(x0, y, {}) || !(m.rearrangeActive || m.stretchActive || m.retimeActive)) {
    state.SkipWithError("the tool's drag did not start");
    m.toolMode = ToolMode::kNormal;
    return;
  }
  int step = 0;
  for (auto _ : state) {
    const int x = x0 + 100 + (step++ % 200);  // back and forth over 200 pixels
    scene.mouse->Move(x, y, {});
    PaintInto(scene, image);
    benchmark::DoNotOptimize(image.constBits());
  }
  m.rearrangeActive = m.stretchActive = m.retimeActive = false;
  scene.mouse->Release(x0, y, {});
  m.toolMode = ToolMode::kNormal;
  scene.doc.undoHistory.Clear();
  state.counters["peak_rebuilds"] = static_cast<double>(m.peakCache.Rebuilds() - rebuildsBefore);
  state.SetLabel(std::string(kZooms[state.range(0)].label) + ", " + names[state.range(1)] + " tool, beats");
}
BENCHMARK(BM_PaintDuringToolDrag)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// Prints each run's time beside the 8 ms budget of a paint during a drag.
class BudgetReporter : public benchmark::ConsoleReporter {
 public:
  BudgetReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const double ms = run.GetAdjustedRealTime() * benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                        benchmark::GetTimeUnitMultiplier(run.time_unit);
      const auto rebuilds = run.counters.find("peak_rebuilds");
      const double cpuMs = run.GetAdjustedCPUTime() * benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                           benchmark::GetTimeUnitMultiplier(run.time_unit);
      rows_.push_back(
          {run.report_label, ms, cpuMs, rebuilds == run.counters.end() ? -1.0 : rebuilds->second.value});
    }
  }

  void PrintSummary() const {
    std::printf("\n%-32s %10s %10s %12s %10s %10s %14s\n", "paint during a drag, 1600 x 600", "wall (ms)",
                "CPU (ms)", "budget (ms)", "wall ratio", "CPU ratio", "peak rebuilds");
    for (const Row& r : rows_) {
      std::printf("%-32s %10.2f %10.2f %12.1f %9.2fx %9.2fx %14.0f%s\n", r.label.c_str(), r.ms, r.cpuMs, kBudgetMs,
                  r.ms / kBudgetMs, r.cpuMs / kBudgetMs, r.rebuilds,
                  r.ms > kBudgetMs || r.rebuilds != 0 ? "  (over the budget or rebuilt)" : "");
    }
  }

 private:
  struct Row {
    std::string label;
    double ms;
    double cpuMs;
    double rebuilds;
  };
  std::vector<Row> rows_;
};

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  zandrel::BudgetReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
