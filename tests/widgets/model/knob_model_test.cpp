#include "widgets/model/knob_model.h"

#include <gmock/gmock.h>

#include <vector>

namespace zandrel {
namespace {

// A knob that records what it tells its owner and its parent.
struct RecordingKnob {
  KnobModel knob;
  std::vector<float> values;
  std::vector<int> selections;
  std::vector<int> notifications;
  int commits = 0;
  int repaints = 0;

  RecordingKnob() {
    knob.valueCallback = [this](float v) { values.push_back(v); };
    knob.selectionCallback = [this](int i) { selections.push_back(i); };
    knob.commitCallback = [this] { ++commits; };
    knob.scrollNotification = [this](int p) { notifications.push_back(p); };
    knob.repaint = [this] { ++repaints; };
  }
  void Forget() {
    values.clear();
    selections.clear();
    notifications.clear();
    commits = repaints = 0;
  }
};

RecordingKnob Selector(int items) {
  RecordingKnob r;
  r.knob.kind = kKnobSelector;
  for (int i = 0; i < items; ++i) r.knob.items.push_back({"item" + std::to_string(i), 0x0000FF});
  r.knob.value = 0.5f / static_cast<float>(items);
  return r;
}

TEST(KnobModelTest, SetNormalizedValueClampsAndIsSilentWithoutAChange) {
  RecordingKnob r;
  EXPECT_TRUE(r.knob.SetNormalizedValue(1.7f));
  EXPECT_EQ(r.knob.value, 1.0f);
  EXPECT_TRUE(r.knob.SetNormalizedValue(-0.2f));
  EXPECT_EQ(r.knob.value, 0.0f);
  EXPECT_THAT(r.values, testing::ElementsAre(1.0f, 0.0f));
  EXPECT_THAT(r.notifications, testing::ElementsAre(100, 0));
  EXPECT_EQ(r.repaints, 2);
  r.Forget();
  EXPECT_FALSE(r.knob.SetNormalizedValue(0.0f));
  EXPECT_FALSE(r.knob.SetNormalizedValue(-3.0f));  // clamps to the value it has
  EXPECT_TRUE(r.values.empty());
  EXPECT_TRUE(r.notifications.empty());
  EXPECT_EQ(r.repaints, 0);
}

TEST(KnobModelTest, ThreeItemSelectorSnapsOnlyWhenTheItemChanges) {
  RecordingKnob r = Selector(3);
  r.knob.SetNormalizedValue(0.99f);
  EXPECT_EQ(r.knob.GetSelectedIndex(), 2);
  EXPECT_FLOAT_EQ(r.knob.value, 2.5f / 3.0f);
  r.knob.SetNormalizedValue(0.4f);
  EXPECT_EQ(r.knob.GetSelectedIndex(), 1);
  EXPECT_FLOAT_EQ(r.knob.value, 0.5f);
  r.knob.SetNormalizedValue(0.6f);
  EXPECT_EQ(r.knob.GetSelectedIndex(), 1);
  EXPECT_FLOAT_EQ(r.knob.value, 0.6f);
  EXPECT_THAT(r.selections, testing::ElementsAre(2, 1));
  EXPECT_TRUE(r.values.empty());  // selectors report items, not values
  EXPECT_THAT(r.notifications, testing::ElementsAre(83, 50, 60));
  EXPECT_EQ(r.knob.GetSelectedLabel(), "item1");
}

TEST(KnobModelTest, SelectedIndexAndLabelOfNonSelectors) {
  RecordingKnob r;
  EXPECT_EQ(r.knob.GetSelectedIndex(), -1);
  EXPECT_EQ(r.knob.GetSelectedLabel(), "");
  r.knob.SetSelectedIndex(0);  // no selector: ignored
  EXPECT_EQ(r.knob.value, 0.5f);

  RecordingKnob s = Selector(4);
  s.knob.SetSelectedIndex(4);  // out of range: ignored
  s.knob.SetSelectedIndex(-1);
  EXPECT_EQ(s.knob.GetSelectedIndex(), 0);
  s.knob.SetSelectedIndex(3);
  EXPECT_EQ(s.knob.value, 3.5f / 4.0f);
  EXPECT_THAT(s.selections, testing::ElementsAre(3));
  EXPECT_TRUE(s.notifications.empty());  // no scroll notification from here
}

TEST(KnobModelTest, ValueTextAndRealValue) {
  struct Case {
    float minimum, maximum, normalised;
    const char* format;
    const char* text;
  };
  const Case cases[] = {
      {0, 1, 0.25f, "%.0f%%", "25%"},        // 0..1 with a percent shows times 100
      {0, 100, 0.25f, "%.0f%%", "25%"},      // real 25
      {0, 2, 0.25f, "%.0f%%", "0%"},         // not exactly 0..1: no scaling
      {-30, 30, 0.75f, "%.1f dB", "15.0 dB"},
      {0, 1, 0.5f, "%s", "0.5"},             // not a value format: not trusted
      {0, 1, 0.5f, "%f %f", "0.5"},
  };
  for (const Case& c : cases) {
    KnobModel k;
    k.minimum = c.minimum;
    k.maximum = c.maximum;
    k.value = c.normalised;
    k.valueFormat = c.format;
    EXPECT_EQ(k.FormatValue(), c.text) << c.format << " " << c.maximum;
  }
  KnobModel k;
  k.minimum = 20;
  k.maximum = 220;
  k.value = 0.25f;
  EXPECT_FLOAT_EQ(k.GetValue(), 70.0f);
  EXPECT_FALSE(k.IsBipolar());
  k.minimum = -30;
  k.maximum = 30;
  EXPECT_TRUE(k.IsBipolar());
  k.minimum = 0;
  k.maximum = 0;
  EXPECT_FALSE(k.IsBipolar());  // symmetric but not below zero
}

TEST(KnobModelTest, DisplayTextShowsTheValueWhileDraggingOrAsked) {
  KnobModel k;
  k.label = "Mix";
  k.value = 0.25f;
  EXPECT_EQ(k.DisplayText(), "Mix");
  k.valueDisplay = true;
  EXPECT_EQ(k.DisplayText(), "25%");
  k.valueDisplay = false;
  k.mouseState = KnobMouseState::kDragging;
  EXPECT_EQ(k.DisplayText(), "25%");
  k.mouseState = KnobMouseState::kIdle;
  k.label = "*Gain";  // never shows as a name
  EXPECT_EQ(k.DisplayText(), "25%");
}

TEST(KnobModelTest, ScrollPositionTruncates) {
  EXPECT_EQ(KnobModel::ScrollPosition(0.505f), 50);
  EXPECT_EQ(KnobModel::ScrollPosition(1.0f), 100);
  EXPECT_EQ(KnobModel::ScrollPosition(0.0f), 0);
}

TEST(KnobModelTest, DragMovesRightAndUpAndCommitsAChange) {
  RecordingKnob r;
  r.knob.value = 0.2f;
  r.knob.BeginDrag(10, 10);
  r.knob.DragTo(110, 10, /*fine=*/true);
  EXPECT_NEAR(r.knob.value, 0.2f + 1.0f / 6.0f, 1e-6);
  r.knob.DragTo(10, -30, /*fine=*/false);  // 40 up: +0.2
  EXPECT_NEAR(r.knob.value, 0.4f, 1e-6);
  r.knob.DragTo(60, 60, false);  // right 50, down 50: back to the start
  EXPECT_NEAR(r.knob.value, 0.2f, 1e-6);
  r.knob.EndDrag(true);
  EXPECT_EQ(r.knob.mouseState, KnobMouseState::kHover);
  EXPECT_EQ(r.commits, 0);  // released where it started

  r.knob.BeginDrag(0, 0);
  r.knob.DragTo(0, 400, false);  // far down: clamps at 0
  EXPECT_EQ(r.knob.value, 0.0f);
  r.knob.EndDrag(false);
  EXPECT_EQ(r.knob.mouseState, KnobMouseState::kIdle);
  EXPECT_EQ(r.commits, 1);
}

TEST(KnobModelTest, WheelAndKeys) {
  RecordingKnob r;
  r.knob.value = 0.5f;
  r.knob.Wheel(true, false);
  EXPECT_NEAR(r.knob.value, 0.51f, 1e-6);
  EXPECT_TRUE(r.knob.valueDisplay);
  r.knob.Wheel(false, true);
  EXPECT_NEAR(r.knob.value, 0.509f, 1e-6);
  struct Case {
    KnobKey key;
    bool fine;
    float from, to;
  };
  const Case cases[] = {
      {KnobKey::kPageUp, false, 0.5f, 0.6f},  {KnobKey::kPageDown, false, 0.05f, 0.0f},
      {KnobKey::kEnd, false, 0.3f, 1.0f},     {KnobKey::kHome, false, 0.3f, 0.0f},
      {KnobKey::kLeft, false, 0.5f, 0.49f},   {KnobKey::kDown, true, 0.5f, 0.499f},
      {KnobKey::kUp, false, 0.5f, 0.51f},     {KnobKey::kRight, true, 0.5f, 0.501f},
  };
  for (const Case& c : cases) {
    r.knob.value = c.from;
    r.knob.Key(c.key, c.fine);
    EXPECT_NEAR(r.knob.value, c.to, 1e-6);
  }
}

TEST(KnobModelTest, WheelStepsASelectorWithinItsItems) {
  RecordingKnob r = Selector(3);
  r.knob.Wheel(false, false);  // already the first item
  EXPECT_EQ(r.knob.GetSelectedIndex(), 0);
  EXPECT_TRUE(r.selections.empty());
  r.knob.Wheel(true, false);
  r.knob.Wheel(true, false);
  r.knob.Wheel(true, false);
  EXPECT_EQ(r.knob.GetSelectedIndex(), 2);
  EXPECT_THAT(r.selections, testing::ElementsAre(1, 2));
}

TEST(KnobModelTest, SilentPlacementCallsNothing) {
  RecordingKnob r = Selector(3);
  EXPECT_TRUE(r.knob.SetNormalizedValueSilently(0.9f));
  EXPECT_EQ(r.knob.GetSelectedIndex(), 2);
  EXPECT_FLOAT_EQ(r.knob.value, 2.5f / 3.0f);
  EXPECT_TRUE(r.selections.empty());
  EXPECT_TRUE(r.notifications.empty());
  EXPECT_TRUE(r.knob.SetNormalizedValueSilently(0.7f));  // same item: no snap
  EXPECT_FLOAT_EQ(r.knob.value, 0.7f);
  EXPECT_FALSE(r.knob.SetNormalizedValueSilently(0.7f));
  EXPECT_TRUE(r.selections.empty());
}

TEST(KnobFigureTest, ArcsAndPointers) {
  KnobModel k;
  k.minimum = -30;
  k.maximum = 30;
  k.value = 0.5f;  // real 0
  KnobFigure f = LayoutKnobFigure(k, 100, 120);
  EXPECT_EQ(f.top, 4);
  EXPECT_EQ(f.squareLeft, 5);
  EXPECT_DOUBLE_EQ(f.centreX, 50.0);
  EXPECT_DOUBLE_EQ(f.centreY, 49.0);
  EXPECT_FALSE(f.drawArc);
  EXPECT_DOUBLE_EQ(f.pointerAngle, 270.0);  // straight up
  k.value = 0.0f;  // the minimum
  f = LayoutKnobFigure(k, 100, 120);
  EXPECT_TRUE(f.drawArc);
  EXPECT_DOUBLE_EQ(f.arcStart, 135.0);
  EXPECT_DOUBLE_EQ(f.arcStart + f.arcSweep, 270.0);
  EXPECT_DOUBLE_EQ(f.pointerAngle, 135.0);
  k.value = 1.0f;
  f = LayoutKnobFigure(k, 100, 120);
  EXPECT_DOUBLE_EQ(f.arcStart, 270.0);
  EXPECT_DOUBLE_EQ(f.arcSweep, 135.0);

  KnobModel u;
  u.value = 0.0f;
  EXPECT_FALSE(LayoutKnobFigure(u, 100, 120).drawArc);
  u.value = 1.0f;
  f = LayoutKnobFigure(u, 100, 120);
  EXPECT_DOUBLE_EQ(f.arcStart, 135.0);
  EXPECT_DOUBLE_EQ(f.arcSweep, 270.0);
  EXPECT_DOUBLE_EQ(f.pointerAngle, 405.0);
  EXPECT_EQ(f.textTop, 94);
  EXPECT_EQ(f.textBottom, 116);
}

}  // namespace
}  // namespace zandrel
