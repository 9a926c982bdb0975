// CRegionPropsDlg: the "Region" page of the "Properties" pane.
//
// Shows the selected region (frames, loop, keys), the view's selection
// (Loop IN / Loop OUT) and the region tools, over a RegionPageModel. Its
// buttons send requests to the main frame; "Update" first reads the fields
// into editRegion, which the frame copies over the selected region.
// User-interface thread only.
#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <array>

#include "app/property_page.h"
#include "app/model/region_page_model.h"
#include "widgets/color_edit.h"
#include "widgets/flat_button.h"

namespace zandrel {

class CRegionPropsDlg final : public CPropertyPage {
  Q_OBJECT

  RegionPageModel model_;  // before editRegion, which refers into it

 public:
  CRegionPropsDlg(PageRequests& requests, QWidget* parent = nullptr);

  const RegionPageModel& Model() const { return model_; }
  // The region the page shows and edits; "Update" writes into it.
  Region& editRegion = model_.editRegion;

  void ShowRegion(const Region& region, int index);
  void ShowSelection(int64_t a, int64_t b);
  // Enables or disables the fields and buttons that edit the region.
  void EnableRegionControls(bool enable);
  // The "no region" state (CMainFrame::ClearRegionPane).
  void ClearRegionPage();
  // True when the page already shows |region| as region |index|.
  bool Shows(const Region& region, int index) const;

  QLineEdit* Field(RegionField field) const { return fields_[field]; }
  CFlatButton* updateButton;
  CFlatButton* applyLoopButton;
  QPushButton* removeLoopButton;
  std::array<QPushButton*, 3> pickButtons{};  // low, high, root
  QPushButton* splitButton;
  QPushButton* removeRegionButton;
  QPushButton* deleteWavButton;

  // Handlers of the buttons.
  void ApplyRegionEdits();
  void OnApplyToRegionLoop();
  void OnRemoveLoop();
  void OnPickKey(int which);

 private:
  void OnFieldEdited(RegionField field, const QString& text);
  // Writes the model into the controls.
  void Sync();

  std::array<QLineEdit*, kRegionFieldCount> fields_{};
  CColorEdit* nameField_;
  CColorEdit* rootField_;
  ButtonScheme appliedLoopScheme_;
};

}  // namespace zandrel
