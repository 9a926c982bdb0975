// CMainFrame: the one top-level window.
//
// Menu bar, the "Standard" toolbar, the status bar, the "Output" pane (the
// log) at the bottom and the "Properties" pane at the right, around the
// waveform view. It also owns the edits of the region list that the pages
// and the view ask for: those requests are posted (queued), so a handler runs
// after the requesting command returned and reads the view's state then.
#pragma once

#include <QMainWindow>
#include <map>

#include "app/output_wnd.h"
#include "app/qt_task_host.h"
#include "processing/processing_command.h"
#include "app/toolbar_layout.h"
#include "app/region_pane.h"
#include "document/quorvel_doc.h"
#include "document/region_edits.h"
#include "view/commands.h"
#include "view/quorvel_view.h"

class QMenu;
class QPrinter;
class QToolBar;

namespace zandrel {

class CQuorvelApp;

class CMainFrame final : public QMainWindow, public DocumentFrame, public DocumentObserver {
  Q_OBJECT

 public:
  CMainFrame(CQuorvelApp& app, CQuorvelDoc& doc);
  ~CMainFrame() override;

  // The device's region-count limit.
  const int maxDeviceRegions = 8;

  // DocumentFrame
  LogSink& Log() override { return outputPane->logList(); }
  int MaxDeviceRegions() const override { return maxDeviceRegions; }

  COutputWnd* outputPane = nullptr;
  CRegionPane* propertiesPane = nullptr;
  CQuorvelView* view = nullptr;
  CommandRegistry commands;

  // The region requests of the pages and the view (queued).
  void PostEditRegion();
  void PostEditGlobal();
  void PostDeleteRegion();
  void PostSplitRegion();
  void PostRemoveAudio();

  // Services for other commands.
  void SetGlobalDuration(float seconds);
  void ClearRegionPane();
  bool CreateSingleRegionWithRoot(int rootNote);

  // The menu action of a command (nullptr when the menus do not hold it).
  QAction* Action(int id) const;
  void RebuildRecentFilesMenu();
  void UpdateTitle();

  // DocumentObserver
  void OnDocumentChanged(DocumentChange change) override;

  // Toolbars as the user arranged them.
  ToolbarLayout& Toolbars() { return toolbarLayout_; }
  void RebuildToolbars();
  void OnViewCustomize();

  // Printing the view: the picture of the waveform scaled onto the page.
  void OnFilePrint();
  void OnFilePrintPreview();
  void OnFilePrintSetup();
  void PrintView(QPrinter& printer);

  // Runs a processing command on the document and the view's selection; long
  // work waits in the task host (progress, Cancel, no edits meanwhile).
  ProcessingResult RunProcessing(const ProcessingCommand& command);
  QtTaskHost& TaskHost() { return taskHost_; }

  // The window, toolbar and pane layout, kept between runs.
  void SaveWindowLayout();
  void RestoreWindowLayout();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void OnEditRegion();
  void OnEditGlobalParameters();
  void OnDeleteRegion();
  void OnSplitRegion();
  void OnRemoveAudioData();
  void Apply(const RegionEditResult& result);
  ViewState CurrentViewState() const;

  void RegisterCommands();
  void BuildMenus();
  QAction* AddCommand(QMenu* menu, int id, const QString& text, const QKeySequence& key = {});
  void RefreshActions();

  CQuorvelApp& app_;
  CQuorvelDoc& doc_;
  std::map<int, QAction*> actions_;
  QMenu* recentMenu_ = nullptr;
  ToolbarLayout toolbarLayout_;
  std::vector<QToolBar*> toolbars_;
  std::unique_ptr<QPrinter> printer_;
  QtTaskHost taskHost_;
};

}  // namespace zandrel
