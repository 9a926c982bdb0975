// CGlobalPropsDlg: the "Global" page of the "Properties" pane.
//
// Shows and edits the instrument's global settings over a GlobalPageModel:
// play mode, default root, pitch, pan, amplitude, envelope, time mode, tempo
// (with the audio's length in beats) and sample mode. "Update" and each value
// button read every field into editParams, which the main frame copies over
// the document's settings. User-interface thread only.
#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <vector>

#include "app/model/global_page_model.h"
#include "app/property_page.h"
#include "widgets/color_edit.h"
#include "widgets/flat_button.h"

namespace zandrel {

class CGlobalPropsDlg final : public CPropertyPage {
  Q_OBJECT

  GlobalPageModel model_;  // before editParams, which refers into it

 public:
  CGlobalPropsDlg(PageRequests& requests, QWidget* parent = nullptr);

  const GlobalPageModel& Model() const { return model_; }
  // The settings the page shows and edits; "Update" writes into them.
  InstrumentParams& editParams = model_.editParams;

  void ShowInstrument(const InstrumentParams& params, float seconds);
  // A new audio length (CMainFrame::SetGlobalDuration): Beats at the page's tempo.
  void SetDuration(float seconds);

  QLineEdit* Field(GlobalField field) const { return fields_[field]; }
  // The value button with |text| ("key", "bpm", "multi", ...), or nullptr.
  QPushButton* ValueButton(const QString& text) const;
  CFlatButton* updateButton;
  QPushButton* pickRootButton;

  // Handlers of the buttons.
  void ApplyGlobalEdits();
  void OnPickRootNote();

 private:
  void OnFieldEdited(GlobalField field, const QString& text);
  // Writes the model into the controls.
  void Sync();

  std::array<QLineEdit*, kGlobalFieldCount> fields_{};
  CColorEdit* rootField_;
  std::vector<QPushButton*> valueButtons_;
};

}  // namespace zandrel
