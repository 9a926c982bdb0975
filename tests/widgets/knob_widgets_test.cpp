#include <gmock/gmock.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QWheelEvent>
#include <cmath>

#include "widgets/knob_control.h"
#include "widgets/knob_panel.h"
#include "widgets/qt_colors.h"
#include "widgets/universal_dlg.h"

namespace zandrel {
namespace {

QString ScreenshotPath(const QString& name) {
  QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
  return QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + name + ".png";
}

void Move(QWidget* w, QPoint to, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = {}) {
  QMouseEvent move(QEvent::MouseMove, QPointF(to), w->mapToGlobal(QPointF(to)), Qt::NoButton, buttons, modifiers);
  QApplication::sendEvent(w, &move);
}

void Wheel(QWidget* w, int delta, Qt::KeyboardModifiers modifiers = {}) {
  const QPointF at(w->width() / 2.0, w->height() / 2.0);
  QWheelEvent wheel(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers, Qt::NoScrollPhase,
                    false);
  QApplication::sendEvent(w, &wheel);
}

void Key(QWidget* w, QEvent::Type type, int key, bool autoRepeat = false) {
  QKeyEvent event(type, key, Qt::NoModifier, key == Qt::Key_Space ? QStringLiteral(" ") : QString(), autoRepeat);
  QApplication::sendEvent(w, &event);
}

// The events of a double click as a widget gets them: press, release,
// press, double click, release.
void DoubleClick(QWidget* w, QPoint at) {
  const QPointF global = w->mapToGlobal(QPointF(at));
  const QEvent::Type types[] = {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
                                QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease};
  for (QEvent::Type type : types) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), global, Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
  }
}

// The pixel on the arc circle of a knob in a 100 x 120 cell at |degrees|.
QColor ArcPixel(const QImage& image, double degrees) {
  const double r = degrees * M_PI / 180.0;
  return image.pixelColor(static_cast<int>(std::lround(50 + 41 * std::cos(r))),
                          static_cast<int>(std::lround(49 + 41 * std::sin(r))));
}

bool IsBlueAccent(const QColor& c) { return c.blue() > c.red() + 60; }

TEST(KnobControlTest, DragWheelAndKeysMoveTheValue) {
  CKnobControl knob;
  knob.resize(100, 120);
  KnobModel& m = knob.Model();
  m.label = "Mix";
  int commits = 0;
  std::vector<float> values;
  m.commitCallback = [&] { ++commits; };
  m.valueCallback = [&](float v) { values.push_back(v); };
  QSignalSpy scrolled(&knob, &CKnobControl::scrolled);

  // A Shift drag of 100 pixels to the right adds a sixth of the range.
  QTest::mousePress(&knob, Qt::LeftButton, {}, QPoint(50, 60));
  EXPECT_EQ(m.mouseState, KnobMouseState::kDragging);
  Move(&knob, QPoint(150, 60), Qt::LeftButton, Qt::ShiftModifier);
  EXPECT_NEAR(m.value, 0.5 + 1.0 / 6.0, 1e-6);
  EXPECT_EQ(m.DisplayText(), "67%");
  Move(&knob, QPoint(90, 20), Qt::LeftButton);  // 40 right and 40 up without Shift: +0.4
  EXPECT_NEAR(m.value, 0.9, 1e-6);
  QTest::mouseRelease(&knob, Qt::LeftButton, {}, QPoint(90, 20));
  EXPECT_EQ(m.mouseState, KnobMouseState::kHover);
  EXPECT_EQ(commits, 1);
  ASSERT_FALSE(scrolled.isEmpty());
  EXPECT_EQ(scrolled.last().at(0).toInt(), 90);
  EXPECT_EQ(values.size(), static_cast<size_t>(scrolled.count()));

  // Wheel notches; a touchpad's half notches add up.
  Wheel(&knob, -120);
  EXPECT_NEAR(m.value, 0.89, 1e-6);
  EXPECT_TRUE(m.valueDisplay);
  EXPECT_TRUE(knob.ValueDisplayTimer().isActive());
  EXPECT_EQ(knob.ValueDisplayTimer().interval(), 1500);
  Wheel(&knob, 60, Qt::ShiftModifier);
  EXPECT_NEAR(m.value, 0.89, 1e-6);
  Wheel(&knob, 60, Qt::ShiftModifier);
  EXPECT_NEAR(m.value, 0.891, 1e-6);

  // Keys.
  QTest::keyClick(&knob, Qt::Key_PageDown);
  EXPECT_NEAR(m.value, 0.791, 1e-6);
  QTest::keyClick(&knob, Qt::Key_End);
  EXPECT_EQ(m.value, 1.0f);
  QTest::keyClick(&knob, Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_NEAR(m.value, 0.999, 1e-6);
  QTest::keyClick(&knob, Qt::Key_Home);
  EXPECT_EQ(m.value, 0.0f);
  QTest::keyClick(&knob, Qt::Key_Up);
  EXPECT_NEAR(m.value, 0.01, 1e-6);

  // A double click restores the default, and its release commits it.
  commits = 0;
  DoubleClick(&knob, QPoint(50, 60));
  EXPECT_EQ(m.value, 0.5f);
  EXPECT_EQ(commits, 1);
  EXPECT_EQ(knob.focusPolicy(), Qt::StrongFocus);
}

TEST(KnobControlTest, PaintsTheArcUpToTheValue) {
  CKnobControl knob;
  knob.resize(100, 120);
  knob.Model().value = 0.0f;
  QImage image = knob.grab().toImage();
  EXPECT_FALSE(IsBlueAccent(ArcPixel(image, 270)));
  EXPECT_FALSE(IsBlueAccent(ArcPixel(image, 140)));
  knob.Model().value = 0.5f;  // from 135 to 270, straight up
  image = knob.grab().toImage();
  EXPECT_TRUE(IsBlueAccent(ArcPixel(image, 180)));
  EXPECT_TRUE(IsBlueAccent(ArcPixel(image, 260)));
  EXPECT_FALSE(IsBlueAccent(ArcPixel(image, 300)));
  EXPECT_FALSE(IsBlueAccent(ArcPixel(image, 90)));  // the gap at the bottom is never drawn
  // The pointer of a bipolar knob at real 0 points up, with no arc.
  knob.Model().minimum = -30;
  knob.Model().maximum = 30;
  image = knob.grab().toImage();
  EXPECT_FALSE(IsBlueAccent(ArcPixel(image, 200)));
  EXPECT_EQ(image.pixelColor(50, 49 - 12).red(), 0x96);  // the grey pointer inside the body
  EXPECT_EQ(image.pixelColor(50 + 12, 49).red(), 0xFF);  // white body beside it
}

TEST(KnobControlTest, HoverShowsThePointerInTheAccentColour) {
  CKnobControl knob;
  knob.resize(100, 120);
  knob.Model().value = 0.5f;  // the pointer runs straight up from the centre
  const QPoint onPointer(50, 49 - 10);
  EXPECT_EQ(knob.grab().toImage().pixelColor(onPointer), QColor(0x96, 0x96, 0x96));
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), knob.mapToGlobal(QPointF(5, 5)));
  QApplication::sendEvent(&knob, &enter);
  EXPECT_EQ(knob.Model().mouseState, KnobMouseState::kHover);
  EXPECT_EQ(knob.grab().toImage().pixelColor(onPointer), ToQColor(knob.Model().accentColour));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&knob, &leave);
  EXPECT_EQ(knob.Model().mouseState, KnobMouseState::kIdle);
  // Leaving during a drag keeps the drag.
  QTest::mousePress(&knob, Qt::LeftButton, {}, QPoint(50, 60));
  QApplication::sendEvent(&knob, &leave);
  EXPECT_EQ(knob.Model().mouseState, KnobMouseState::kDragging);
  // The right button shows the value while it is held.
  QTest::mouseRelease(&knob, Qt::LeftButton, {}, QPoint(50, 60));
  QTest::mousePress(&knob, Qt::RightButton, {}, QPoint(50, 60));
  EXPECT_TRUE(knob.Model().valueDisplay);
  QTest::mouseRelease(&knob, Qt::RightButton, {}, QPoint(50, 60));
  EXPECT_FALSE(knob.Model().valueDisplay);
}

TEST(KnobControlTest, SectionsAndLabelRowsIgnoreTheMouse) {
  CKnobControl row;
  row.resize(200, 15);
  row.Model().kind = kKnobLabelRow;
  row.Model().label = "Envelope";
  row.Model().accentColour = MakeColorRef(200, 40, 40);
  QTest::mousePress(&row, Qt::LeftButton, {}, QPoint(5, 5));
  Wheel(&row, 120);
  EXPECT_EQ(row.Model().mouseState, KnobMouseState::kIdle);
  EXPECT_EQ(row.Model().value, 0.5f);
  EXPECT_EQ(row.grab().toImage().pixelColor(1, 1), QColor(200, 40, 40));
}

TEST(KnobPanelTest, CellsNotificationsAndValuesAfterTheParentIsGone) {
  auto* parent = new QWidget;
  parent->resize(360, 300);
  CKnobPanel panel;
  std::vector<std::pair<int, int>> notes;
  panel.scrollNotification = [&](int id, int position) { notes.emplace_back(id, position); };
  panel.AddParam(1, "Mix", "%.0f%%", 0, 1, 0.5f, 0xFF9632);
  panel.AddParam(2, "Gain", "%.1f dB", -12, 12, 6, 0xFF9632);
  panel.AddParam(3, "Rate", "%.2f Hz", 0, 10, 1, 0xFF9632);
  panel.AddParam(4, "Depth", "%.0f%%", 0, 1, 0.25f, 0xFF9632);
  panel.parent = parent;
  panel.layoutRect = QRect(10, 10, 330, 0);
  panel.CreateControls();
  ASSERT_NE(panel.FindKnob(4), nullptr);
  EXPECT_EQ(panel.FindKnob(3)->geometry(), QRect(230, 10, 100, 120));
  EXPECT_EQ(panel.FindKnob(4)->geometry(), QRect(10, 140, 100, 120));
  EXPECT_EQ(panel.FindKnob(2)->parentWidget(), parent);
  // The initial values other than the middle were notified, in order.
  EXPECT_THAT(notes, testing::ElementsAre(std::pair(2, 75), std::pair(3, 10), std::pair(4, 25)));

  panel.FindKnob(2)->SetNormalizedValue(1.0f);
  delete parent;
  EXPECT_EQ(panel.FindKnob(2), nullptr);
  EXPECT_FLOAT_EQ(panel.GetValue(2), 12.0f);
  panel.Model().FindKnob(2)->SetNormalizedValue(0.0f);  // no widget left to tell
  EXPECT_FLOAT_EQ(panel.GetValue(2), -12.0f);
  panel.Clear();
  EXPECT_EQ(panel.GetValue(2), 0.0f);
}

TEST(KnobPanelTest, ScreenshotOfAPanel) {
  QWidget host;
  host.resize(462, 420);
  CKnobPanel panel;
  panel.AddParam(1, "Mix", "%.0f%%", 0, 1, 0.65f, 0xFF9632);
  panel.AddParam(2, "Pan", "%.0f", -50, 50, -20, MakeColorRef(220, 80, 60));
  panel.AddParam(3, "*Cutoff", "%.0f Hz", 20, 20000, 8000, MakeColorRef(60, 170, 90));
  KnobParam wave;
  wave.id = 4;
  wave.label = "Wave";
  wave.items = {{"Sine", MakeColorRef(50, 150, 255)}, {"Saw", MakeColorRef(255, 150, 50)},
                {"Noise", MakeColorRef(150, 150, 150)}};
  wave.defaultValue = 0.5f;
  panel.Model().params[4] = wave;
  panel.Model().order.push_back(4);
  KnobParam section;
  section.id = 5;
  section.kind = kKnobSection;
  section.label = "The envelope shapes each note: a short attack keeps transients, a long release lets the tail ring.";
  panel.Model().params[5] = section;
  panel.Model().order.push_back(5);
  KnobParam row;
  row.id = 6;
  row.kind = kKnobLabelRow;
  row.label = "Envelope";
  row.colour = MakeColorRef(70, 130, 180);
  panel.Model().params[6] = row;
  panel.Model().order.push_back(6);
  panel.AddParam(7, "Attack", "%.0f ms", 0, 500, 20, 0xFF9632);
  panel.AddParam(8, "Release", "%.0f ms", 0, 2000, 1500, 0xFF9632);
  panel.parent = &host;
  panel.layoutRect = QRect(10, 10, 442, 0);
  panel.CreateControls();
  panel.FindKnob(8)->Model().valueDisplay = true;
  const QImage image = host.grab().toImage();
  EXPECT_TRUE(image.save(ScreenshotPath("knob_panel")));
  // The label row is filled with its colour across the width.
  const QRect rowRect = panel.FindKnob(6)->geometry();
  EXPECT_EQ(image.pixelColor(rowRect.left() + 1, rowRect.top() + 1), QColor(70, 130, 180));
  // Its text shows whole, not cut to the 5 pixels between the margins.
  int outsideTheMiddle = 0;
  for (int y = rowRect.top(); y <= rowRect.bottom(); ++y)
    for (int x = rowRect.left(); x <= rowRect.right(); ++x)
      if (image.pixelColor(x, y).lightness() > 200 && (y < rowRect.top() + 5 || y >= rowRect.top() + 10))
        ++outsideTheMiddle;
  EXPECT_GT(outsideTheMiddle, 10);
}

// A dialog of one tool with its parameter file removed before and after. The
// file is named after the test: the tests of this program may run at once.
class UniversalDlgTest : public testing::Test {
 protected:
  void SetUp() override {
    config = std::string("zandrel_test_") + testing::UnitTest::GetInstance()->current_test_info()->name();
    header = QStringLiteral("; Config for ") + QString::fromStdString(config) + QLatin1Char('\n');
    CUniversalDlg probe;
    probe.configName = config;
    path = probe.ConfigIniPath();
    ASSERT_FALSE(path.isEmpty());
    QFile::remove(path);
  }
  void TearDown() override { QFile::remove(path); }

  // Mix 0..1 (0.5), Coarse -12..12 (0), Attack 0..1000 (10) and a section.
  void Fill(CUniversalDlg& dlg) {
    dlg.title = "Granular Cloud";
    dlg.configName = config;
    dlg.AddKnob("mix", "Mix", "%.0f%%", 0.0f, 1.0f, 0.5f, 0xFF9632);
    dlg.AddKnob("coarse", "Coarse", "%+.0f st", -12.0f, 12.0f, 0.0f, MakeColorRef(220, 80, 60));
    dlg.AddKnob("attack", "Attack", "%.0f ms", 0.0f, 1000.0f, 10.0f, MakeColorRef(60, 170, 90));
    dlg.AddSection("Space previews the cloud; OK keeps these settings for the next time.");
  }
  CKnobControl* KnobOf(CUniversalDlg& dlg, const char* key) {
    return dlg.Panel().FindKnob(dlg.Model().keys.at(key));
  }
  QString FileText() {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
  }

  std::string config;
  QString header;  // the first line of the file
  QString path;
};

TEST_F(UniversalDlgTest, DefaultPreviewAndHeldSpace) {
  CUniversalDlg dlg;
  Fill(dlg);
  dlg.autoPreview = true;
  int previews = 0;
  dlg.SetPreviewCallback([&] { ++previews; });
  dlg.show();
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Granular Cloud"));
  EXPECT_TRUE(dlg.PreviewButton()->isVisible());
  EXPECT_FALSE(dlg.progressBar->isVisible());
  EXPECT_FALSE(dlg.KnobArea()->isVisible());
  CKnobControl* mix = KnobOf(dlg, "mix");
  ASSERT_NE(mix, nullptr);

  // Releasing a turned knob previews once, 200 ms later, even after a burst.
  for (int i = 0; i < 3; ++i) {
    QTest::mousePress(mix, Qt::LeftButton, {}, QPoint(50, 60));
    Move(mix, QPoint(60, 60), Qt::LeftButton);
    QTest::mouseRelease(mix, Qt::LeftButton, {}, QPoint(60, 60));
  }
  EXPECT_TRUE(dlg.PreviewTimer().isActive());
  EXPECT_EQ(dlg.PreviewTimer().interval(), 200);
  EXPECT_EQ(previews, 0);
  QTRY_COMPARE(previews, 1);
  EXPECT_NEAR(dlg.GetParamValue("mix"), 0.65f, 1e-5);
  // A click without a change schedules nothing.
  QTest::mouseClick(mix, Qt::LeftButton, {}, QPoint(50, 60));
  EXPECT_FALSE(dlg.PreviewTimer().isActive());

  // Default puts every knob back without telling the owner, then previews.
  std::vector<float> values;
  mix->Model().valueCallback = [&](float v) { values.push_back(v); };
  QSignalSpy scrolled(mix, &CKnobControl::scrolled);
  KnobOf(dlg, "attack")->SetNormalizedValue(0.9f);
  dlg.DefaultButton()->click();
  EXPECT_EQ(previews, 2);
  EXPECT_FLOAT_EQ(dlg.GetParamValue("mix"), 0.5f);
  EXPECT_FLOAT_EQ(dlg.GetParamValue("attack"), 10.0f);
  EXPECT_TRUE(values.empty());
  EXPECT_EQ(scrolled.count(), 0);

  // A held Space previews once, wherever the focus is; it never clicks the
  // focused button.
  QSignalSpy okClicks(dlg.OkButton(), &QPushButton::clicked);
  Key(dlg.OkButton(), QEvent::KeyPress, Qt::Key_Space);
  for (int i = 0; i < 4; ++i) Key(dlg.OkButton(), QEvent::KeyPress, Qt::Key_Space, true);
  Key(mix, QEvent::KeyPress, Qt::Key_Space, true);
  Key(dlg.OkButton(), QEvent::KeyRelease, Qt::Key_Space);
  EXPECT_EQ(previews, 3);
  Key(mix, QEvent::KeyPress, Qt::Key_Space);
  Key(mix, QEvent::KeyRelease, Qt::Key_Space);
  EXPECT_EQ(previews, 4);
  EXPECT_EQ(okClicks.count(), 0);
  EXPECT_TRUE(dlg.isVisible());
  dlg.PreviewButton()->click();
  EXPECT_EQ(previews, 5);
  dlg.reject();
}

TEST_F(UniversalDlgTest, OkWritesTheFileAndTheNextOpeningShowsIt) {
  {
    CUniversalDlg dlg;
    Fill(dlg);
    dlg.show();
    EXPECT_FALSE(dlg.PreviewButton()->isVisible());  // no preview callback
    KnobOf(dlg, "coarse")->SetNormalizedValue(0.75f);
    KnobOf(dlg, "mix")->SetNormalizedValue(0.25f);
    dlg.OkButton()->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    // Read back after the modal loop.
    EXPECT_FLOAT_EQ(dlg.GetParamValue("coarse"), 6.0f);
  }
  EXPECT_EQ(FileText(), header + QStringLiteral("attack=10.000000\n"
                                       "coarse=6.000000\n"
                                       "mix=0.250000\n"));
  CUniversalDlg again;
  Fill(again);
  again.SetPreviewCallback([] {});
  again.show();
  EXPECT_TRUE(again.PreviewButton()->isVisible());
  EXPECT_FLOAT_EQ(again.GetParamValue("coarse"), 6.0f);
  EXPECT_FLOAT_EQ(again.GetParamValue("mix"), 0.25f);
  EXPECT_EQ(KnobOf(again, "coarse")->Model().DisplayText(), "Coarse");
  QImage image = again.grab().toImage();
  EXPECT_TRUE(image.save(ScreenshotPath("universal_dlg")));
  again.reject();
}

TEST_F(UniversalDlgTest, CancelWritesNothing) {
  {
    CUniversalDlg dlg;
    Fill(dlg);
    dlg.show();
    KnobOf(dlg, "mix")->SetNormalizedValue(0.9f);
    dlg.CancelButton()->click();
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
  }
  EXPECT_FALSE(QFile::exists(path));
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write((header + QStringLiteral("mix=0.1\n")).toUtf8());
  }
  CUniversalDlg dlg;
  Fill(dlg);
  dlg.show();
  EXPECT_FLOAT_EQ(dlg.GetParamValue("mix"), 0.1f);
  KnobOf(dlg, "mix")->SetNormalizedValue(0.9f);
  dlg.CancelButton()->click();
  EXPECT_EQ(FileText(), header + QStringLiteral("mix=0.1\n"));
}

TEST_F(UniversalDlgTest, TheDataFolderIsMadeWhenMissing) {
  const QString previous = QCoreApplication::applicationName();
  QCoreApplication::setApplicationName(QStringLiteral("zandrel-test-%1").arg(QCoreApplication::applicationPid()));
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  QDir(folder).removeRecursively();
  CUniversalDlg dlg;
  EXPECT_TRUE(dlg.ConfigIniPath().isEmpty());  // no config name, no file
  dlg.configName = "tool";
  EXPECT_EQ(dlg.ConfigIniPath(), folder + QStringLiteral("/tool.ini"));
  EXPECT_TRUE(QDir(folder).exists());
  QDir(folder).removeRecursively();
  QCoreApplication::setApplicationName(previous);
}

TEST_F(UniversalDlgTest, GrowsWhenTheKnobsNeedMoreThanTheArea) {
  CUniversalDlg fits;
  for (int i = 0; i < 8; ++i) fits.AddKnob("k" + std::to_string(i), "K", "%.2f", 0, 1, 0.5f, 0xFF9632);
  fits.show();
  const QSize base = fits.size();
  const int okTop = fits.OkButton()->y();
  EXPECT_EQ(fits.Panel().FindKnob(1004)->geometry().topLeft(), QPoint(10, 141));  // four to a row
  fits.reject();

  CUniversalDlg grows;
  for (int i = 0; i < 9; ++i) grows.AddKnob("k" + std::to_string(i), "K", "%.2f", 0, 1, 0.5f, 0xFF9632);
  grows.show();
  // Three rows need 380 pixels of the 275: 105 more, plus 20.
  EXPECT_EQ(grows.size(), QSize(base.width(), base.height() + 125));
  EXPECT_EQ(grows.OkButton()->y(), okTop + 125);
  EXPECT_EQ(grows.progressBar->y(), 293 + 125);
  EXPECT_EQ(grows.Panel().FindKnob(1008)->geometry().topLeft(), QPoint(10, 271));
  grows.reject();
}

}  // namespace
}  // namespace zandrel
