// The spectrum display over the piano axis and the empty screen's animation
// in the running app, with screenshots and checks of what they show.
#include <gmock/gmock.h>

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QTimer>

#include <cmath>

#include <QPaintEvent>
#include <QPainter>

#include "app/editor_on_file.h"
#include "commands/commands.h"
#include "view/model/view_commands.h"
#include "view/model/view_drawing.h"
#include "view/quorvel_view.h"
#include "view/view_painter.h"
#include "view/model/piano_key_layout.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

// Ten seconds of A4 with its second and third harmonics, 20 and 30 dB down.
Bytes A4WithHarmonicsWav() {
  std::vector<int16_t> samples(441000);
  for (size_t i = 0; i < samples.size(); ++i) {
    const double t = static_cast<double>(i) / 44100.0;
    samples[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440 * t) + 1200 * std::sin(2 * M_PI * 880 * t) +
                                      380 * std::sin(2 * M_PI * 1320 * t));
  }
  return MakePcm16Wav(samples);
}

void SaveImage(const QImage& image, const QString& name) {
  QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
  image.save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + name + ".png");
}

// Pixels of |image| in column x between rows y1 and y2 that are (nearly) pure red.
int RedPixels(const QImage& image, int x, int y1, int y2) {
  int count = 0;
  for (int y = y1; y < y2; ++y) {
    const QRgb p = image.pixel(x, y);
    if (qRed(p) > 230 && qGreen(p) < 40 && qBlue(p) < 40) ++count;
  }
  return count;
}

class SpectrumAppTest : public EditorOnFileTest {};

TEST_F(SpectrumAppTest, ViewMenuTogglesTheSpectrumOverThePianoAxis) {
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("a4.wav", A4WithHarmonicsWav()));
  QAction* toggle = frame->Action(cmd::kSpectrum);
  ASSERT_NE(toggle, nullptr);
  EXPECT_EQ(toggle->text(), QStringLiteral("Spectrum"));
  EXPECT_TRUE(toggle->isCheckable());
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
  QApplication::processEvents();
  view->viewport()->repaint();
  const QImage before = view->BackBuffer().copy();

  toggle->trigger();
  EXPECT_TRUE(view->Model().showSpectrum);
  view->viewport()->repaint();
  const QImage image = view->BackBuffer().copy();
  ASSERT_FALSE(image.isNull());
  SaveImage(image, QStringLiteral("spectrum_over_piano_axis"));
  frame->grab().save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/spectrum_window.png"));

  // The red line of the strongest peak stands in the column of key 69, in the
  // bottom third of the waveform area; nothing red was there before.
  const int width = image.width();
  const int bottom = image.height() - kPianoStripHeight;
  const int bandTop = bottom - (bottom - kRegionBarHeight) / 3;
  const PianoKeyLayout keys = PianoKeyLayout::For(width, false);
  int redInKey = 0, redBefore = 0, redElsewhere = 0;
  for (int x = 0; x < width; ++x) {
    const int red = RedPixels(image, x, bandTop, bottom);
    if (x >= keys.X1(69) && x < keys.X2(69)) {
      redInKey += red;
      redBefore += RedPixels(before, x, bandTop, bottom);
    } else if (x < keys.X1(69) - 2 || x > keys.X2(69) + 2) {
      redElsewhere += red;
    }
  }
  EXPECT_GT(redInKey, 20);
  EXPECT_EQ(redBefore, 0);
  EXPECT_EQ(redElsewhere, 0);
  // The curve's cyan rises over key 81 (the octave) too, with a fainter line.
  int cyan = 0;
  for (int y = bandTop; y < bottom; ++y) {
    const QRgb p = image.pixel((keys.X1(81) + keys.X2(81)) / 2 - 1, y);
    cyan += qBlue(p) > 150 && qGreen(p) > 150;
  }
  EXPECT_GT(cyan, 3);

  toggle->trigger();
  view->viewport()->repaint();
  int redAfter = 0;
  for (int x = keys.X1(69); x < keys.X2(69); ++x) redAfter += RedPixels(view->BackBuffer(), x, bandTop, bottom);
  EXPECT_EQ(redAfter, 0);
}

class EmptyScreenAppTest : public EditorOnFileTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartEditor());
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
    QApplication::processEvents();
  }
};

TEST_F(EmptyScreenAppTest, AnimationRunsOnTheEmptyViewAndStopsForAudio) {
  view->viewport()->repaint();
  const QTimer& timer = view->AnimationTimer();
  EXPECT_TRUE(timer.isActive());
  EXPECT_EQ(timer.interval(), 33);
  EXPECT_EQ(view->Model().animation.particles.size(), 320u);
  // The timer itself advances the phase.
  const float phase = view->Model().animation.animationPhase;
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->Model().animation.animationPhase >= phase + 0.03f; }, 5000));

  // Two frames a second apart, with the pointer in the window's upper left.
  view->Model().pointer = PointerPosition{100, 80};
  for (int i = 0; i < 60; ++i) view->OnAnimationTick();
  view->viewport()->repaint();
  const QImage first = view->BackBuffer().copy();
  SaveImage(first, QStringLiteral("animation_frame_1"));
  for (int i = 0; i < 30; ++i) view->OnAnimationTick();
  view->viewport()->repaint();
  const QImage second = view->BackBuffer().copy();
  SaveImage(second, QStringLiteral("animation_frame_2"));
  EXPECT_NE(first, second);
  // Particles are drawn: the frame is not all black above the hint.
  int lit = 0;
  for (int y = 0; y < first.height() - 50; y += 2)
    for (int x = 0; x < first.width(); x += 2) lit += qGray(first.pixel(x, y)) > 20;
  EXPECT_GT(lit, 50);

  // Audio stops the animation on its first paint; a new empty document
  // starts it again with a full swarm.
  WriteFileBytes(dir / "tone.wav", MakePcm16Wav(std::vector<int16_t>(44100, 1000)));
  ASSERT_TRUE(app->OpenDocumentFile(dir / "tone.wav"));
  view->viewport()->repaint();
  EXPECT_FALSE(timer.isActive());
  view->Model().animation.particles.resize(20);
  ASSERT_TRUE(app->OnFileNew());
  view->viewport()->repaint();
  EXPECT_TRUE(timer.isActive());
  EXPECT_EQ(view->Model().animation.particles.size(), 320u);

  // The setting off: the grey hint only, and no timer.
  QAction* setting = frame->Action(cmd::kPlayAnimation);
  ASSERT_NE(setting, nullptr);
  setting->trigger();
  view->viewport()->repaint();
  EXPECT_FALSE(timer.isActive());
}

// The largest difference of one channel between |a| and |b|, and the mean
// over all channels.
struct ImageDifference {
  int largest = 0;
  double mean = 0;
};
ImageDifference Difference(const QImage& a, const QImage& b) {
  ImageDifference d;
  double sum = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      for (const int c : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)}) {
        d.largest = std::max(d.largest, std::abs(c));
        sum += std::abs(c);
      }
    }
  d.mean = sum / (3.0 * a.width() * a.height());
  return d;
}

// The empty screen of a view |width| x |height|: Draw() lays out its
// picture (the first one starts the animation), Run() moves the swarm on a
// number of frames.
struct EmptyScreen {
  EmptyScreen(int w, int h) : width(w), height(h), model(doc) {
    model.clientWidth = width;
    model.clientHeight = height;
  }
  void Draw() {
    list.Clear();
    ViewDrawing(model, list).OnDraw(width, height);
  }
  void Run(int frames, std::optional<PointerPosition> pointer) {
    for (int i = 0; i < frames; ++i) AnimationTick(model.animation, now += 0.033, pointer, width, height);
  }

  int width, height;
  CQuorvelDoc doc;
  ViewModel model;
  DrawList list;
  double now = 0;
};

// A swarm some seconds in, half of it lit by bounces, drawn with each
// particle's circles and rings (the picture as described) and from the
// painter's pre-rendered images: the two look the same.
TEST(EmptyScreenSprites, ImagesDrawTheParticlesAsTheirCirclesDo) {
  constexpr int kWidth = 640, kHeight = 420;
  EmptyScreen screen(kWidth, kHeight);
  screen.Draw();  // starts the animation
  screen.Run(150, PointerPosition{420, 150});
  ParticleAnimation& a = screen.model.animation;
  for (size_t i = 0; i < a.particles.size(); i += 2) a.particles[i].glow = 0.2f + 0.8f * static_cast<float>(i % 7) / 6;
  screen.Draw();
  const DrawList& list = screen.list;
  ASSERT_FALSE(list.Find("particle-glow").empty());
  ASSERT_FALSE(list.Find("particle-ring").empty());
  const auto render = [&](ParticleSprites* sprites) {
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    PaintDrawList(p, list, sprites);
    return image;
  };
  const QImage circles = render(nullptr);
  ParticleSprites sprites;
  const QImage images = render(&sprites);
  SaveImage(circles, QStringLiteral("particles_circles"));
  SaveImage(images, QStringLiteral("particles_sprites"));
  EXPECT_GT(sprites.size(), 0u);
  const ImageDifference d = Difference(circles, images);
  // Within a few levels where the swarm is thickest (17 and 0.41 here).
  EXPECT_LE(d.largest, 24);
  EXPECT_LT(d.mean, 1.0);
  // Where a glowing particle is, the images lit the black background.
  int lit = 0, glowing = 0;
  for (const Particle& p : a.particles) {
    const ParticleSprite s = ProjectParticle(a, p, kWidth, kHeight);
    if (!s.visible || p.glow < 0.5f || s.x < 0 || s.y < 0 || s.x >= kWidth || s.y >= kHeight - 50) continue;
    ++glowing;
    lit += qGray(images.pixel(static_cast<int>(s.x), static_cast<int>(s.y))) > 20;
  }
  EXPECT_GT(glowing, 20);
  EXPECT_EQ(lit, glowing);
  // A drawn image is not drawn again.
  const size_t stored = sprites.size();
  render(&sprites);
  EXPECT_EQ(sprites.size(), stored);
}

// One glowing particle's circles as the empty screen draws them, painted
// circle by circle and from the painter's images, on black: the images are
// cut to whole pixels (the glow's place and diameter), so they differ from
// the circles at the rims by a fraction of the outer circles' alpha (on the
// smallest glow, six pixels across, half a pixel is much of it), and they
// give as much light (within the circles' own rounding of faded alphas; a
// glow two pixels too wide, or not faded by its glow, gives far more).
TEST(EmptyScreenSprites, AGlowFromItsImageLooksAsItsCirclesDo) {
  struct Case {
    float size, glow, x, y;
    int largest;  // channel levels
  };
  const Case cases[] = {{0.2f, 1.0f, 40.0f, 40.0f, 32},   {0.5f, 0.7f, 40.3f, 40.6f, 14},
                        {1.0f, 1.0f, 60.5f, 60.5f, 14},   {1.37f, 0.4f, 61.2f, 59.8f, 14},
                        {2.9f, 0.15f, 70.75f, 70.25f, 14}, {4.0f, 1.0f, 80.0f, 80.5f, 14}};
  constexpr Argb kColour = 0xFF50C8F0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "size " << c.size << " glow " << c.glow);
    DrawList list;
    for (int i = 0; i <= 5; ++i) {
      const GlowCircle circle = GlowCircleAt(i, c.size, c.glow);
      if (circle.diameter <= 1.0f || circle.alpha <= 0) continue;
      list.Ellipse("particle-glow", c.x - circle.diameter / 2, c.y - circle.diameter / 2, circle.diameter,
                   circle.diameter, (static_cast<uint32_t>(circle.alpha) << 24) | (kColour & 0x00FFFFFFu), 0, 0.0f);
    }
    list.MarkGlow(0, c.size, c.glow);
    const auto render = [&](ParticleSprites* sprites) {
      QImage image(170, 170, QImage::Format_ARGB32_Premultiplied);
      image.fill(Qt::black);
      QPainter p(&image);
      p.setRenderHint(QPainter::Antialiasing, true);
      PaintDrawList(p, list, sprites);
      return image;
    };
    ParticleSprites sprites;
    const QImage circles = render(nullptr);
    const QImage images = render(&sprites);
    ASSERT_GT(sprites.size(), 0u);
    const ImageDifference d = Difference(circles, images);
    EXPECT_LE(d.largest, c.largest);
    double light[2] = {0, 0};
    for (int y = 0; y < circles.height(); ++y)
      for (int x = 0; x < circles.width(); ++x) {
        light[0] += qGray(circles.pixel(x, y));
        light[1] += qGray(images.pixel(x, y));
      }
    ASSERT_GT(light[0], 0);
    EXPECT_NEAR(light[1] / light[0], 1.0, 0.05);
  }
}

// A repaint of part of the picture, clipped to a region of many rectangles
// (whole tiles and odd ones), changes no pixel outside it, and inside it
// paints the particles as the whole picture does: the images that lie
// inside the clip are drawn with it turned off.
TEST(EmptyScreenSprites, ARepaintWithinAClipLeavesTheRestAlone) {
  constexpr int kWidth = 400, kHeight = 300;
  EmptyScreen screen(kWidth, kHeight);
  screen.Draw();
  screen.Run(120, std::nullopt);
  ParticleAnimation& a = screen.model.animation;
  for (size_t i = 0; i < a.particles.size(); i += 3) a.particles[i].glow = 1.0f;
  screen.Draw();
  const DrawList& list = screen.list;
  QRegion clip;
  for (int y = 0; y < kHeight; y += 32)
    for (int x = (y / 32 % 2) * 48; x < kWidth; x += 96) clip += QRect(x, y, 80, 32);
  clip += QRect(13, 7, 41, 23);
  clip += QRect(201, 151, 77, 5);
  constexpr QRgb kGrey = 0xFF404040;
  const auto render = [&](const QRegion* region) {
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(kGrey);
    QPainter p(&image);
    if (region) p.setClipRegion(*region);
    p.setRenderHint(QPainter::Antialiasing, true);
    ParticleSprites sprites;
    // Without the black background: what the particles drew shows.
    PaintDrawList(p, list, &sprites, 1);
    return image;
  };
  const QImage whole = render(nullptr);
  const QImage part = render(&clip);
  int outside = 0, inside = 0, lit = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      if (!clip.contains(QPoint(x, y))) {
        outside += part.pixel(x, y) != kGrey;
        continue;
      }
      const QRgb p = part.pixel(x, y), q = whole.pixel(x, y);
      inside += std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))}) > 1;
      lit += p != kGrey;
    }
  EXPECT_EQ(outside, 0);
  EXPECT_EQ(inside, 0);
  EXPECT_GT(lit, 2000);
}

// Records the regions the viewport is asked to repaint, and the animation's
// phase each paint shows.
class PaintRegions : public QObject {
 public:
  explicit PaintRegions(const ParticleAnimation& a) : animation(a) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      regions.push_back(static_cast<QPaintEvent*>(event)->region());
      paintedPhase = animation.animationPhase;
    }
    return false;
  }
  const ParticleAnimation& animation;
  std::vector<QRegion> regions;
  float paintedPhase = -1;
};

int64_t Area(const QRegion& region) {
  int64_t area = 0;
  for (const QRect& r : region) area += static_cast<int64_t>(r.width()) * r.height();
  return area;
}

TEST_F(EmptyScreenAppTest, FramesRepaintOnlyWhatMovedAndLeaveNoTrails) {
  frame->resize(1000, 700);
  QApplication::processEvents();
  view->viewport()->repaint();
  const QRect client = view->viewport()->rect();
  const ParticleAnimation& animation = view->Model().animation;
  PaintRegions paints(animation);
  view->viewport()->installEventFilter(&paints);
  // No pointer: the swarm spreads and bounces.
  view->Model().pointer.reset();
  for (int i = 0; i < 40; ++i) {
    view->OnAnimationTick();
    QApplication::processEvents();
  }
  // The timer runs too: wait for the paint of its last step.
  ASSERT_TRUE(QTest::qWaitFor([&] { return paints.paintedPhase == animation.animationPhase; }, 5000));
  view->viewport()->removeEventFilter(&paints);
  ASSERT_GE(paints.regions.size(), 20u);
  // A busy machine may fold several ticks into one paint, whose region is
  // then their union: most frames, not every one, must stay small.
  const int64_t whole = static_cast<int64_t>(client.width()) * client.height();
  size_t small = 0;
  int64_t largest = 0;
  for (const QRegion& r : paints.regions) {
    small += Area(r) < whole / 2;
    largest = std::max(largest, Area(r));
  }
  EXPECT_GE(small * 4, paints.regions.size() * 3)
      << small << " of " << paints.regions.size() << " frames repainted less than half of " << whole
      << " pixels; the largest " << largest;
  // What the frames left equals the whole picture painted afresh.
  const QImage frames = view->BackBuffer().copy();
  SaveImage(frames, QStringLiteral("animation_partial_frames"));
  view->viewport()->repaint();
  const QImage afresh = view->BackBuffer().copy();
  const ImageDifference d = Difference(frames, afresh);
  EXPECT_LE(d.largest, 2);
  int lit = 0;
  for (int y = 0; y < frames.height() - 50; y += 2)
    for (int x = 0; x < frames.width(); x += 2) lit += qGray(frames.pixel(x, y)) > 20;
  EXPECT_GT(lit, 50);
}

TEST_F(EmptyScreenAppTest, AnimationRestsWhileHiddenOrMinimised) {
  view->viewport()->repaint();
  const QTimer& timer = view->AnimationTimer();
  ASSERT_TRUE(timer.isActive());
  frame->showMinimized();
  QApplication::processEvents();
  EXPECT_FALSE(timer.isActive());
  frame->showNormal();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
  ASSERT_TRUE(QTest::qWaitFor([&] { return timer.isActive(); }, 5000));
  frame->hide();
  QApplication::processEvents();
  EXPECT_FALSE(timer.isActive());
  // Shown again, it goes on with the same swarm (a new one has new colours).
  const uint32_t colour = view->Model().animation.particles.at(0).colour;
  frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
  ASSERT_TRUE(QTest::qWaitFor([&] { return timer.isActive(); }, 5000));
  EXPECT_EQ(view->Model().animation.particles.at(0).colour, colour);
}

}  // namespace
}  // namespace zandrel
