// CMainFrame: the one top-level window.
//
// Menu bar, the "Standard" toolbar, the status bar, the "Output" pane (the
// log) at the bottom and the "Properties" pane at the right, around the
// waveform view. It collects the commands of every module into one
// registry, builds its menus, keys and toolbars from it, and gives the
// commands their context (the document, the view's selection, playback, and
// a queue for requests that run after the asking command has returned).
#pragma once

#include <QMainWindow>
#include <map>
#include <memory>

#include "app/output_wnd.h"
#include "app/model/toolbar_layout.h"
#include "app/qt_task_host.h"
#include "app/region_pane.h"
#include "document/quorvel_doc.h"
#include "commands/commands.h"
#include "platform/audio_output.h"
#include "view/quorvel_view.h"

class QMenu;
class QPrinter;
class QTimer;
class QToolBar;

namespace zandrel {

class NoteDialogs;

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
  // What the commands run with.
  CommandContext& Context();

  // The pages' "Update" requests (queued): the page's values are read when
  // the edit runs.
  void PostEditRegion();
  void PostEditGlobal();

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

  // Where long work waits: progress, Cancel, no edits meanwhile.
  QtTaskHost& TaskHost() { return taskHost_; }

  // The window, toolbar and pane layout, kept between runs.
  void SaveWindowLayout();
  void RestoreWindowLayout();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class FrameContext;

  void DeclareCommands();
  void BuildMenus();
  void FillMenu(QMenu* menu, const std::vector<MenuEntry>& entries);
  void RefreshActions();

  CQuorvelApp& app_;
  CQuorvelDoc& doc_;
  std::unique_ptr<FrameContext> context_;
  std::map<int, QAction*> actions_;
  QMenu* recentMenu_ = nullptr;
  ToolbarLayout toolbarLayout_{std::vector<int>{}};
  std::vector<QToolBar*> toolbars_;
  std::unique_ptr<QPrinter> printer_;
  QtTaskHost taskHost_;
  // Closes an output device that stopped under previews and monitors.
  QTimer* outputWatchTimer_ = nullptr;
  OutputLossWatch outputWatch_;
  // The note tools' dialogs, run by their commands.
  std::unique_ptr<NoteDialogs> noteDialogs_;
};

}  // namespace zandrel
