#include "app/region_pane.h"

#include <QScrollArea>

#include "app/main_frame.h"

namespace zandrel {
namespace {

// A page in a scroll area, so a short pane scrolls instead of squeezing it.
QScrollArea* Scrolled(QWidget* page, QWidget* parent) {
  auto* area = new QScrollArea(parent);
  area->setWidget(page);
  area->setWidgetResizable(true);
  area->setFrameShape(QFrame::NoFrame);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  return area;
}

}  // namespace

CRegionPane::CRegionPane(QWidget* parent) : QDockWidget(QStringLiteral("Properties"), parent) {
  setObjectName(QStringLiteral("Properties"));
  tabs_ = new QTabWidget(this);
  tabs_->setTabPosition(QTabWidget::South);
  regionPage = new CRegionPropsDlg(requests);
  globalPage = new CGlobalPropsDlg(requests);
  tabs_->addTab(Scrolled(regionPage, tabs_), QStringLiteral("Region"));
  tabs_->addTab(Scrolled(globalPage, tabs_), QStringLiteral("Global"));
  setWidget(tabs_);
}

CRegionPane::~CRegionPane() {
  if (doc_) doc_->RemoveObserver(this);
}

void CRegionPane::ConnectTo(CMainFrame& frame) {
  requests.editRegion = [&frame] { frame.PostEditRegion(); };
  requests.editGlobal = [&frame] { frame.PostEditGlobal(); };
  requests.deleteRegion = [&frame] { frame.commands.Run(cmd::kRemoveSelectedRegion); };
  requests.splitRegion = [&frame] { frame.commands.Run(cmd::kSplitAtCursor); };
  requests.removeAudio = [&frame] { frame.commands.Run(cmd::kDeleteWavData); };
  requests.deleteWavData = [&frame] { frame.commands.Run(cmd::kDeleteWavData); };
  requests.focusView = [&frame] { frame.view->setFocus(); };
  requests.selection = [&frame] {
    const ViewModel& m = frame.view->Model();
    return std::pair{m.loopIn, m.loopOut};
  };
  if (doc_) doc_->RemoveObserver(this);
  doc_ = &frame.view->GetDocument();
  view_ = &frame.view->Model();
  doc_->AddObserver(this);
}

void CRegionPane::OnDocumentChanged(DocumentChange change) {
  if (change != DocumentChange::kState) RefreshFromDocument(change == DocumentChange::kReplaced);
}

void CRegionPane::OnSelectionChanged() {
  if (!doc_ || !view_) return;
  RefreshFromDocument();
  regionPage->ShowSelection(view_->loopIn, view_->loopOut);
}

void CRegionPane::RefreshFromDocument(bool replaced) {
  if (!doc_ || !view_) return;
  const auto& regions = doc_->instrument.regions;
  // A replaced document has no selected region, whatever the view still holds.
  const int selected = replaced ? -1 : view_->selectedRegion;
  if (selected >= 0 && selected < static_cast<int>(regions.size())) {
    const Region& region = regions[static_cast<size_t>(selected)];
    if (!regionPage->Shows(region, selected)) regionPage->ShowRegion(region, selected);
  } else if (regionPage->Model().regionControlsEnabled) {
    // The region it showed is gone: the page must not keep editing it.
    regionPage->ClearRegionPage();
    regionPage->ShowSelection(view_->loopIn, view_->loopOut);
  }

  const float seconds = static_cast<float>(view_->DurationSeconds());
  if (!(globalPage->editParams == doc_->instrument.params)) {
    globalPage->ShowInstrument(doc_->instrument.params, seconds);
  } else if (globalPage->Model().durationSeconds != seconds) {
    globalPage->SetDuration(seconds);
  }
}

}  // namespace zandrel
