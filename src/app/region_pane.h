// The "Properties" pane: the Region and Global pages.
//
// The pages keep copies of what they edit (`editRegion`, `editParams`); the
// main frame's handlers copy them back whole when the user presses Update.
#pragma once

#include <QDockWidget>
#include <QTabWidget>

#include "document/instrument.h"

namespace zandrel {

class CRegionPane final : public QDockWidget {
 public:
  explicit CRegionPane(QWidget* parent = nullptr);

  // What the pages show and edit.
  Region editRegion;
  int editRegionIndex = -1;
  InstrumentParams editParams;
  double durationSeconds = 0.0;
  int64_t selectionIn = -1;
  int64_t selectionOut = -1;

  void ShowRegion(const Region& region, int index);
  void ShowSelection(int64_t loopIn, int64_t loopOut);
  void ShowInstrument(const InstrumentParams& params, double seconds);
  // The Region page's "no region" state.
  void ClearRegionPage();

  QTabWidget* tabs() { return tabs_; }

 private:
  QTabWidget* tabs_;
};

}  // namespace zandrel
