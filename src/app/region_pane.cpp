#include "app/region_pane.h"

namespace zandrel {

CRegionPane::CRegionPane(QWidget* parent) : QDockWidget(QStringLiteral("Properties"), parent) {
  setObjectName(QStringLiteral("Properties"));
  tabs_ = new QTabWidget(this);
  tabs_->addTab(new QWidget(tabs_), QStringLiteral("Region"));
  tabs_->addTab(new QWidget(tabs_), QStringLiteral("Global"));
  setWidget(tabs_);
  ClearRegionPage();
}

void CRegionPane::ShowRegion(const Region& region, int index) {
  editRegion = region;
  editRegionIndex = index;
}

void CRegionPane::ShowSelection(int64_t loopIn, int64_t loopOut) {
  selectionIn = loopIn;
  selectionOut = loopOut;
}

void CRegionPane::ShowInstrument(const InstrumentParams& params, double seconds) {
  editParams = params;
  durationSeconds = seconds;
}

void CRegionPane::ClearRegionPage() {
  editRegion = Region{0, 0, -1, -1, 0, 127, 60};
  editRegionIndex = -1;
}

}  // namespace zandrel
