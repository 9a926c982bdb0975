// KnobModel: the value and behaviour of one knob of a parameter dialog,
// without a display.
//
// A knob shows one parameter in one of four kinds: a rotary knob with a
// continuous value, a stepped selector over a few labelled items, a paragraph
// of section text, or a coloured label row. The value is kept normalised to
// 0..1 and mapped to the parameter's range (minimum..maximum, "real" units)
// only when asked. Every value change goes through SetNormalizedValue, which
// snaps selectors, calls the owner's callbacks and sends the scroll
// notification to the parent. The widget (CKnobControl) turns mouse, wheel
// and key events into the calls below and paints what KnobFigure describes.
// User-interface thread only. Colours are COLORREF values (0x00BBGGRR).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/colorref.h"
#include "platform/knob_param.h"

namespace zandrel {

enum class KnobMouseState : int { kIdle = 0, kHover = 1, kDragging = 2 };

enum class KnobKey { kPageUp, kPageDown, kHome, kEnd, kLeft, kRight, kUp, kDown };

class KnobModel {
 public:
  // Called with the new normalised value when a knob of kind 0 changes.
  std::function<void(float)> valueCallback;
  // Called with the new item index when a selector's item changes.
  std::function<void(int)> selectionCallback;
  // Called when a drag ends with a value other than the one at its start.
  std::function<void()> commitCallback;
  // The parent's notification after every change through SetNormalizedValue,
  // with the position ScrollPosition(value); delivered synchronously.
  std::function<void(int)> scrollNotification;
  // The widget's repaint request.
  std::function<void()> repaint;

  KnobMouseState mouseState = KnobMouseState::kIdle;
  bool valueDisplay = false;  // show the value text instead of the label
  float value = 0.5f;         // normalised, always within 0..1
  float minimum = 0.0f;       // real value at 0
  float maximum = 1.0f;       // real value at 1
  float defaultValue = 0.5f;  // normalised value restored by a double click
  int kind = kKnobRotary;
  std::vector<KnobChoice> items;
  int selectedIndex = 0;
  std::string label;  // name under the knob; the text of kinds 2 and 3
  std::string valueFormat = "%.0f%%";
  ColorRef accentColour = 0xFF9632;
  ColorRef backgroundColour = 0xF0F0F0;
  ColorRef textColour = 0x3C3C3C;
  int dragStartX = 0;
  int dragStartY = 0;
  float dragStartValue = 0.0f;
  float dragSensitivity = 200.0f;  // pixels of travel for the full range
  float fineSensitivity = 600.0f;  // the same with Shift held

  // Clamps x to 0..1, snaps a selector to the item it falls in when the item
  // changes, and when the value changed: repaints, calls the value callback
  // (not for selectors) and sends the scroll notification. True on a change.
  bool SetNormalizedValue(float x);
  // The same placement without any callback, repaint or notification (the
  // parameter dialog's Default button). True when the value changed.
  bool SetNormalizedValueSilently(float x);

  float GetValue() const { return minimum + (maximum - minimum) * value; }
  bool IsBipolar() const;
  bool IsSelector() const { return kind == kKnobSelector && !items.empty(); }
  int GetSelectedIndex() const { return IsSelector() ? selectedIndex : -1; }
  // Selects an item of a selector (ignored otherwise or out of range) and
  // moves the value to the item's middle; calls the selection callback when
  // the item changed. No scroll notification.
  void SetSelectedIndex(int index);
  std::string GetSelectedLabel() const;
  // The real value in the value format; a format with "%%" on a range of
  // exactly 0..1 shows the value times 100.
  std::string FormatValue() const;
  // The text under the figure: the selected item's label, the value text, or
  // the label (a label starting with "*" always shows the value).
  std::string DisplayText() const;

  static int ScrollPosition(float normalised) { return static_cast<int>(normalised * 100.0f); }

  // Input. Kinds 2 and 3 ignore the mouse and the wheel.
  bool TakesMouse() const { return kind != kKnobSection && kind != kKnobLabelRow; }
  void BeginDrag(int x, int y);
  void DragTo(int x, int y, bool fine);
  // The left button's release; |inside| tells whether the pointer is over the
  // knob. Calls the commit callback when the value differs from the one at the
  // last press (a drag, or a double click's reset to the default).
  void EndDrag(bool inside);
  void DoubleClick() { SetNormalizedValue(defaultValue); }
  // One wheel notch up or down: the next or previous item of a selector, or
  // 0.01 (0.001 fine) of the range. Turns the value display on.
  void Wheel(bool up, bool fine);
  // Keys move by 0.01 (0.001 fine), pages by 0.1, Home and End to the ends.
  void Key(KnobKey key, bool fine);

 private:
  void Repaint() const {
    if (repaint) repaint();
  }
  bool Place(float x, bool withCallbacks);
};

// Geometry of one paint of a knob or selector, in client pixels; angles in
// degrees clockwise from the positive x axis (270 is straight up).
struct KnobFigure {
  int top = 0;           // top of the 90 x 112 figure
  int squareLeft = 0;    // the 90-pixel square
  double centreX = 0.0;  // centre of the arc circle (diameter 82)
  double centreY = 0.0;
  double arcRadius = 41.0;
  double bodyRadius = 20.5;
  double pointerLength = 16.5;
  bool drawArc = false;  // a knob's value arc (never for selectors)
  double arcStart = 0.0;
  double arcSweep = 0.0;
  double pointerAngle = 0.0;
  int textTop = 0;  // band of the text under the figure
  int textBottom = 0;
};
KnobFigure LayoutKnobFigure(const KnobModel& knob, int clientWidth, int clientHeight);

}  // namespace zandrel
