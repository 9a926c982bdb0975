#include "widgets/knob_panel.h"

#include <QPalette>
#include <QWidget>

namespace zandrel {

void CKnobPanel::CreateControls() {
  if (!parent) return;
  const QColor face = parent->palette().color(QPalette::Button);
  const ColorRef background = MakeColorRef(face.red(), face.green(), face.blue());
  for (const PanelCell& cell : model_->Layout(layoutRect.left(), layoutRect.top(), layoutRect.left() + layoutRect.width())) {
    const KnobParam& param = model_->params.at(cell.id);
    CKnobControl* control = nullptr;
    model_->knobs[cell.id] = model_->CreateKnob(param, background, [&](const std::shared_ptr<KnobModel>& knob) {
      control = new CKnobControl(knob, parent);
      control->id = cell.id;
      control->setGeometry(cell.left, cell.top, cell.right - cell.left, cell.bottom - cell.top);
      if (scrollNotification) {
        const int id = cell.id;
        QObject::connect(
            control, &CKnobControl::scrolled, control,
            [this, id](int position, CKnobControl*) {
              if (scrollNotification) scrollNotification(id, position);
            },
            Qt::DirectConnection);
      }
    });
    control->show();
    controls_[cell.id] = control;
  }
}

CKnobControl* CKnobPanel::FindKnob(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second.data();
}

void CKnobPanel::Clear() {
  for (auto& [id, control] : controls_) delete control.data();
  controls_.clear();
  model_->Clear();
}

}  // namespace zandrel
