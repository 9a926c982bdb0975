// CKnobPanel: a grid of knobs inside a rectangle of a parent widget.
//
// The owner (the parameter dialog, the synth dialogs) describes the
// parameters through the model (AddParam, or params and order directly), sets
// the parent and the rectangle, calls CreateControls once the parent exists,
// and reads values by id. The panel is a plain member of its owner, not a
// widget. The knob models outlive their widgets: values read after the parent
// is gone are the last ones shown, until Clear. Presets are text files of
// "Label: value" lines. User-interface thread only.
#pragma once

#include <QPointer>
#include <QRect>
#include <filesystem>
#include <functional>
#include <map>

#include "widgets/knob_control.h"
#include "widgets/model/knob_panel_model.h"

class QWidget;

namespace zandrel {

class CKnobPanel {
 public:
  // A panel over its own model, or over |shared| (the parameter dialog keeps
  // the panel's model inside its own).
  explicit CKnobPanel(KnobPanelModel* shared = nullptr) : model_(shared ? shared : &ownModel_) {}
  ~CKnobPanel() { Clear(); }
  CKnobPanel(const CKnobPanel&) = delete;
  CKnobPanel& operator=(const CKnobPanel&) = delete;

  QWidget* parent = nullptr;
  QRect layoutRect;  // in the parent's client coordinates; the bottom is not used
  // Heard synchronously after every value change of a knob (id, position).
  std::function<void(int, int)> scrollNotification;
  KnobPanelModel& Model() { return *model_; }
  const KnobPanelModel& Model() const { return *model_; }

  void AddParam(int id, std::string label, std::string format, float minimum, float maximum, float defaultValue,
                ColorRef colour) {
    model_->AddParam(id, std::move(label), std::move(format), minimum, maximum, defaultValue, colour);
  }
  void SetValueCallback(int id, std::function<void(float)> cb) { model_->SetValueCallback(id, std::move(cb)); }
  void SetSelectionCallback(int id, std::function<void(int)> cb) { model_->SetSelectionCallback(id, std::move(cb)); }
  void SetCommitCallback(int id, std::function<void()> cb) { model_->SetCommitCallback(id, std::move(cb)); }

  // Lays the knobs out and creates their widgets; nothing without a parent.
  void CreateControls();
  // The widget of a knob while it exists.
  CKnobControl* FindKnob(int id) const;
  float GetValue(int id) const { return model_->GetValue(id); }
  // Deletes the widgets still there and forgets every parameter and knob.
  void Clear();

  bool SaveText(const std::filesystem::path& path) const { return model_->SaveTextFile(path); }
  bool LoadText(const std::filesystem::path& path) { return model_->LoadTextFile(path); }
  // The synth dialogs' settings files: see KnobPanelModel::LoadTextIgnoringCase.
  bool LoadTextIgnoringCase(const std::filesystem::path& path) { return model_->LoadTextFileIgnoringCase(path); }

 private:
  KnobPanelModel ownModel_;
  KnobPanelModel* model_;
  std::map<int, QPointer<CKnobControl>> controls_;
};

}  // namespace zandrel
