// The "Properties" pane: the Region and Global pages in a tab control.
//
// The pages keep copies of what they edit (regionPage->editRegion,
// globalPage->editParams); the main frame's handlers copy them back whole
// when the user presses Update. So that a copy never lags behind the
// document (an Update would silently undo whatever changed it), the pane
// follows the document: after every change of its regions, settings or audio
// it shows the view's selected region and the settings again, unless the
// pages already hold exactly those values. Commands need not remember to
// refresh the pages themselves.
#pragma once

#include <QDockWidget>
#include <QTabWidget>

#include "app/global_props_dlg.h"
#include "app/property_page.h"
#include "app/region_props_dlg.h"
#include "document/quorvel_doc.h"
#include "view/model/view_model.h"

namespace zandrel {

class CMainFrame;

class CRegionPane final : public QDockWidget, public DocumentObserver {
 public:
  explicit CRegionPane(QWidget* parent = nullptr);
  ~CRegionPane() override;

  // Where the pages' requests go; set by ConnectTo.
  PageRequests requests;
  CRegionPropsDlg* regionPage;
  CGlobalPropsDlg* globalPage;

  // Sends the pages' requests to |frame| and follows its document and view.
  void ConnectTo(CMainFrame& frame);

  void ShowRegion(const Region& region, int index) { regionPage->ShowRegion(region, index); }
  void ShowSelection(int64_t loopIn, int64_t loopOut) { regionPage->ShowSelection(loopIn, loopOut); }
  void ShowInstrument(const InstrumentParams& params, double seconds) {
    globalPage->ShowInstrument(params, static_cast<float>(seconds));
  }
  // The Region page's "no region" state.
  void ClearRegionPage() { regionPage->ClearRegionPage(); }
  // Shows the document's selected region and settings where the pages do
  // not hold them already.
  void RefreshFromDocument(bool replaced = false);

  QTabWidget* tabs() { return tabs_; }

  // DocumentObserver
  void OnDocumentChanged(DocumentChange change) override;
  // The Region page shows the view's selection, and the selected region or
  // none.
  void OnSelectionChanged() override;

 private:
  QTabWidget* tabs_;
  CQuorvelDoc* doc_ = nullptr;
  const ViewModel* view_ = nullptr;
};

}  // namespace zandrel
