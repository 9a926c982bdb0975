#include "widgets/model/knob_model.h"

#include <algorithm>
#include <cmath>

#include "widgets/model/text_lines.h"

namespace zandrel {

bool KnobModel::IsBipolar() const { return std::fabs(minimum + maximum) < 0.0001f && minimum < 0.0f; }

bool KnobModel::Place(float x, bool withCallbacks) {
  const float old = value;
  if (!(x >= 0.0f)) x = 0.0f;  // also a NaN
  value = std::min(x, 1.0f);
  if (IsSelector()) {
    const int n = static_cast<int>(items.size());
    const int index = std::clamp(static_cast<int>(static_cast<float>(n) * value), 0, n - 1);
    if (index != selectedIndex) {
      selectedIndex = index;
      value = (static_cast<float>(index) + 0.5f) / static_cast<float>(n);
      if (withCallbacks && selectionCallback) selectionCallback(index);
    }
  }
  return value != old;
}

bool KnobModel::SetNormalizedValue(float x) {
  if (!Place(x, true)) return false;
  Repaint();
  if (kind != kKnobSelector && valueCallback) valueCallback(value);
  if (scrollNotification) scrollNotification(ScrollPosition(value));
  return true;
}

bool KnobModel::SetNormalizedValueSilently(float x) { return Place(x, false); }

void KnobModel::SetSelectedIndex(int index) {
  if (!IsSelector() || index < 0 || index >= static_cast<int>(items.size())) return;
  const int old = selectedIndex;
  selectedIndex = index;
  value = (static_cast<float>(index) + 0.5f) / static_cast<float>(items.size());
  if (index != old) {
    if (selectionCallback) selectionCallback(index);
    Repaint();
  }
}

std::string KnobModel::GetSelectedLabel() const {
  if (!IsSelector() || selectedIndex < 0 || selectedIndex >= static_cast<int>(items.size())) return {};
  return items[static_cast<size_t>(selectedIndex)].label;
}

std::string KnobModel::FormatValue() const {
  double real = GetValue();
  if (valueFormat.find("%%") != std::string::npos && minimum == 0.0f && maximum == 1.0f) real *= 100.0;
  return FormatOneValue(valueFormat, real);
}

std::string KnobModel::DisplayText() const {
  if (kind == kKnobSelector) return GetSelectedLabel();
  if (mouseState == KnobMouseState::kDragging || valueDisplay || (!label.empty() && label.front() == '*'))
    return FormatValue();
  return label;
}

void KnobModel::BeginDrag(int x, int y) {
  dragStartX = x;
  dragStartY = y;
  dragStartValue = value;
  mouseState = KnobMouseState::kDragging;
  Repaint();
}

void KnobModel::DragTo(int x, int y, bool fine) {
  if (mouseState != KnobMouseState::kDragging) return;
  const float travel = static_cast<float>((x - dragStartX) - (y - dragStartY));
  SetNormalizedValue(dragStartValue + travel / (fine ? fineSensitivity : dragSensitivity));
}

void KnobModel::EndDrag(bool inside) {
  mouseState = inside ? KnobMouseState::kHover : KnobMouseState::kIdle;
  if (value != dragStartValue && commitCallback) commitCallback();
  Repaint();
}

void KnobModel::Wheel(bool up, bool fine) {
  if (IsSelector()) {
    const int last = static_cast<int>(items.size()) - 1;
    SetSelectedIndex(up ? std::min(selectedIndex + 1, last) : std::max(selectedIndex - 1, 0));
  } else {
    const float step = fine ? 0.001f : 0.01f;
    SetNormalizedValue(value + (up ? step : -step));
  }
  valueDisplay = true;
  Repaint();
}

void KnobModel::Key(KnobKey key, bool fine) {
  const float step = fine ? 0.001f : 0.01f;
  switch (key) {
    case KnobKey::kPageUp: SetNormalizedValue(value + 0.1f); break;
    case KnobKey::kPageDown: SetNormalizedValue(value - 0.1f); break;
    case KnobKey::kEnd: SetNormalizedValue(1.0f); break;
    case KnobKey::kHome: SetNormalizedValue(0.0f); break;
    case KnobKey::kLeft:
    case KnobKey::kDown: SetNormalizedValue(value - step); break;
    case KnobKey::kUp:
    case KnobKey::kRight: SetNormalizedValue(value + step); break;
  }
}

KnobFigure LayoutKnobFigure(const KnobModel& knob, int clientWidth, int clientHeight) {
  KnobFigure f;
  f.top = (clientHeight - 112) / 2;
  f.squareLeft = (clientWidth - 90) / 2;
  f.centreX = f.squareLeft + 45.0;
  f.centreY = f.top + 45.0;
  f.textTop = f.top + 90;
  f.textBottom = f.top + 112;
  const bool bipolar = knob.IsBipolar() && knob.kind != kKnobSelector;
  const double real = knob.GetValue();
  if (bipolar) {
    f.pointerAngle = 270.0 + 135.0 * real / knob.maximum;
    if (real >= 0.0) {
      f.arcStart = 270.0;
      f.arcSweep = 135.0 * real / knob.maximum;
    } else {
      f.arcSweep = 135.0 * real / knob.minimum;
      f.arcStart = 270.0 - f.arcSweep;
    }
  } else {
    f.pointerAngle = 135.0 + 270.0 * knob.value;
    f.arcStart = 135.0;
    f.arcSweep = 270.0 * knob.value;
  }
  f.drawArc = knob.kind != kKnobSelector && f.arcSweep > 0.0;
  return f;
}

}  // namespace zandrel
