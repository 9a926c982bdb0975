#include "app/main_frame.h"

#include <QAction>
#include <QByteArray>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <functional>

#include "app/customize_dlg.h"
#include "app/device_commands.h"
#include "app/quorvel_app.h"
#include "platform/message_host.h"
#include "platform/settings.h"
#include "platform/text_format.h"
#include "processing/registered_commands.h"

namespace zandrel {
namespace {

QString Text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

}  // namespace

CMainFrame::CMainFrame(CQuorvelApp& app, CQuorvelDoc& doc)
    : app_(app),
      doc_(doc),
      toolbarLayout_({cmd::kFileNew, cmd::kFileOpen, cmd::kFileSaveAs, 0, cmd::kEditUndo, cmd::kEditRedo}) {
  setObjectName(QStringLiteral("MainFrame"));
  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);

  view = new CQuorvelView(doc_, commands, this);
  setCentralWidget(view);
  view->openWavFile = [this](const QString& path) { app_.OpenDocumentFile(path.toStdString()); };

  outputPane = new COutputWnd(this);
  addDockWidget(Qt::BottomDockWidgetArea, outputPane);
  propertiesPane = new CRegionPane(this);
  propertiesPane->ConnectTo(*this);
  addDockWidget(Qt::RightDockWidgetArea, propertiesPane);
  resizeDocks({outputPane}, {150}, Qt::Vertical);
  resizeDocks({propertiesPane}, {260}, Qt::Horizontal);

  ViewHooks& hooks = view->Model().hooks;
  hooks.showSelection = [this](int64_t in, int64_t out) { propertiesPane->ShowSelection(in, out); };
  hooks.showRegion = [this](const Region& r, int index) { propertiesPane->ShowRegion(r, index); };
  hooks.showInstrument = [this](double seconds) { propertiesPane->ShowInstrument(doc_.instrument.params, seconds); };

  RegisterCommands();
  BuildMenus();
  statusBar()->showMessage(QStringLiteral("Ready"));
  doc_.SetFrame(this);
  doc_.AddObserver(this);
  UpdateTitle();
  resize(1200, 760);
  RestoreWindowLayout();
}

CMainFrame::~CMainFrame() {
  doc_.RemoveObserver(this);
  doc_.SetFrame(nullptr);
}

// ------------------------------------------------------------- commands --

void CMainFrame::RegisterCommands() {
  auto add = [this](int id, std::function<void()> run, std::function<bool()> enabled = {}) {
    commands.Add(id, {std::move(run), std::move(enabled), {}});
  };
  add(cmd::kFileNew, [this] { app_.OnFileNew(); });
  add(cmd::kFileOpen, [this] { app_.OnFileOpen(); });
  add(cmd::kFileSaveAs, [this] { app_.OnFileSaveAs(); });
  add(cmd::kFileSave, [this] { app_.OnFileSaveAs(); });
  add(cmd::kNewEmptySample, [this] { app_.OnNewEmptySample(); });
  add(cmd::kAppAbout, [this] { app_.OnAppAbout(); });
  add(cmd::kAppExit, [this] { close(); });
  add(cmd::kFilePrint, [this] { OnFilePrint(); });
  add(cmd::kFilePrintDirect, [this] { OnFilePrint(); });
  add(cmd::kFilePrintPreview, [this] { OnFilePrintPreview(); });
  add(cmd::kFilePrintSetup, [this] { OnFilePrintSetup(); });
  add(cmd::kViewCustomize, [this] { OnViewCustomize(); });
  add(cmd::kExportWavWithoutLimits, [this] { doc_.OnExportWavWithoutLimits(); });
  add(cmd::kExportOverview, [this] { doc_.OnExportOverview(); });
  add(cmd::kExportInstrumentData, [this] { doc_.OnExportInstrumentData(); });
  add(cmd::kUploadToDevice, [this] { OnUploadToDevice(app_); });
  add(cmd::kDownloadFromDevice, [this] { OnDownloadFromDevice(app_); });
  add(cmd::kEditUndo, [this] { doc_.OnEditUndo(); }, [this] { return doc_.CanUndo(); });
  add(cmd::kEditRedo, [this] { doc_.OnEditRedo(); }, [this] { return doc_.CanRedo(); });
  add(cmd::kSplitAtCursor, [this] { PostSplitRegion(); });
  add(cmd::kRemoveSelectedRegion, [this] { PostDeleteRegion(); });
  add(cmd::kDeleteWavData, [this] {
    PostRemoveAudio();
    view->Model().beatMarkers.clear();
  });
  add(cmd::kSelectAll, [this] { view->HandleKey(ViewKey::kSelectAll); });
  add(cmd::kDeselect, [this] { view->ClearSelection(); });
  // Play/Stop and Loop show their state as a check mark.
  commands.Add(cmd::kPlayStop,
               {[this] { view->HandleKey(ViewKey::kSpace); }, {}, [this] { return view->IsPlaying(); }});
  commands.Add(cmd::kLoop,
               {[this] { view->HandleKey(ViewKey::kLoop); }, {}, [this] { return view->Model().loopPlayback; }});
  add(cmd::kSetLoopIn, [this] { view->HandleKey(ViewKey::kLoopIn); });
  add(cmd::kSetLoopOut, [this] { view->HandleKey(ViewKey::kLoopOut); });
  for (const ProcessingCommand* c : RegisteredProcessingCommands()) {
    add(c->id, [this, c] { RunProcessing(*c); });
  }
}

ProcessingResult CMainFrame::RunProcessing(const ProcessingCommand& command) {
  const ViewModel& m = view->Model();
  ProcessingContext context;
  context.doc = &doc_;
  context.selection = SelectionState{m.loopIn, m.loopOut, m.loopPlayback};
  context.stopPlayback = [this] { view->StopPlayback(); };
  taskHost_.parent = this;
  context.tasks = &taskHost_;
  return RunProcessingCommand(command, context);
}

QAction* CMainFrame::AddCommand(QMenu* menu, int id, const QString& text, const QKeySequence& key) {
  QAction* action = new QAction(text, this);
  action->setData(id);
  if (!key.isEmpty()) action->setShortcut(key);
  connect(action, &QAction::triggered, this, [this, id] { commands.Run(id); });
  if (menu) menu->addAction(action);
  actions_[id] = action;
  return action;
}

QAction* CMainFrame::Action(int id) const {
  const auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::BuildMenus() {
  // Keys without Ctrl or Alt act only while the view has the focus, so typing
  // into a field of the pages never triggers them.
  auto addCommand = [this](QMenu* menu, int id, std::string_view text) {
    const std::string_view shortcut = ShortcutOf(id);
    QAction* a = AddCommand(menu, id, Text(text), QKeySequence(Text(shortcut)));
    if (IsPlainKey(shortcut)) {
      a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
      view->addAction(a);
    }
  };
  std::function<void(QMenu*, const std::vector<MainMenuEntry>&)> fill = [&](QMenu* menu,
                                                                         const std::vector<MainMenuEntry>& entries) {
    for (const MainMenuEntry& e : entries) {
      if (e.id == 0) {
        menu->addSeparator();
      } else if (e.id == MainMenuEntry::kSubmenu) {
        fill(menu->addMenu(Text(e.text)), e.entries);
      } else if (e.id == MainMenuEntry::kRecentFileList) {
        recentMenu_ = menu->addMenu(Text(e.text));
      } else {
        addCommand(menu, e.id, e.text);
      }
    }
  };
  for (const MainMenu& m : MainMenus()) {
    QMenu* menu = menuBar()->addMenu(Text(m.name));
    fill(menu, m.entries);
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::RefreshActions);
  }
  // Keys of commands that have no menu item (Set Loop In, Set Loop Out).
  for (const CommandInfo& c : Accelerators()) {
    if (Action(c.id) || !commands.Has(c.id)) continue;
    addCommand(nullptr, c.id, "");
    if (!IsPlainKey(c.shortcut)) addAction(Action(c.id));
  }

  QStyle* s = style();
  Action(cmd::kFileNew)->setIcon(s->standardIcon(QStyle::SP_FileIcon));
  Action(cmd::kFileOpen)->setIcon(s->standardIcon(QStyle::SP_DialogOpenButton));
  Action(cmd::kFileSaveAs)->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
  Action(cmd::kEditUndo)->setIcon(s->standardIcon(QStyle::SP_ArrowBack));
  Action(cmd::kEditRedo)->setIcon(s->standardIcon(QStyle::SP_ArrowForward));
  toolbarLayout_.Load();
  RebuildToolbars();

  RebuildRecentFilesMenu();
  RefreshActions();
}

void CMainFrame::RefreshActions() {
  for (const auto& [id, action] : actions_) {
    action->setEnabled(commands.Enabled(id));
    if (commands.Checkable(id)) {
      action->setCheckable(true);
      action->setChecked(commands.Checked(id));
    }
  }
}

void CMainFrame::RebuildRecentFilesMenu() {
  recentMenu_->clear();
  const auto& files = app_.RecentFiles().Files();
  for (size_t i = 0; i < files.size(); ++i) {
    const std::filesystem::path path = files[i];
    QAction* a = recentMenu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QString::fromStdString(path.string())));
    connect(a, &QAction::triggered, this, [this, path] { app_.OpenDocumentFile(path); });
  }
  recentMenu_->setEnabled(!files.empty());
}

void CMainFrame::UpdateTitle() {
  setWindowTitle(QString::fromStdString(doc_.GetTitle()) + QStringLiteral("[*] - Zandrel"));
  setWindowModified(doc_.IsModified());
}

void CMainFrame::OnDocumentChanged(DocumentChange) {
  UpdateTitle();
  RefreshActions();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!app_.SaveModified()) {
    event->ignore();
    return;
  }
  view->StopPlayback();
  SaveWindowLayout();
  event->accept();
}

// ------------------------------------------------------------- toolbars --

void CMainFrame::RebuildToolbars() {
  for (QToolBar* bar : toolbars_) {
    removeToolBar(bar);
    delete bar;
  }
  toolbars_.clear();
  for (const ToolbarSpec& spec : toolbarLayout_.Toolbars()) {
    QToolBar* bar = addToolBar(QString::fromStdString(spec.name));
    bar->setObjectName(QString::fromStdString(spec.user ? "User:" + spec.name : spec.name));
    for (int id : spec.commands) {
      if (id == 0) {
        bar->addSeparator();
      } else if (QAction* a = Action(id)) {
        bar->addAction(a);
      }
    }
    // Every toolbar offers the way to change it.
    bar->addSeparator();
    bar->addAction(Action(cmd::kViewCustomize));
    toolbars_.push_back(bar);
  }
}

void CMainFrame::OnViewCustomize() {
  std::map<int, QString> names;
  for (const auto& [id, action] : actions_) {
    if (id == cmd::kViewCustomize || action->text().isEmpty()) continue;
    names[id] = action->text().remove('&');
  }
  CCustomizeDlg dialog(toolbarLayout_, names, this);
  dialog.exec();
  toolbarLayout_.Save();
  RebuildToolbars();
}

// ------------------------------------------------------------- printing --

void CMainFrame::PrintView(QPrinter& printer) {
  const QImage image = view->viewport()->grab().toImage();
  QPainter painter(&printer);
  const QRect page = painter.viewport();
  QSize size = image.size();
  size.scale(page.size(), Qt::KeepAspectRatio);
  painter.setViewport(page.x(), page.y(), size.width(), size.height());
  painter.setWindow(image.rect());
  painter.drawImage(0, 0, image);
}

void CMainFrame::OnFilePrint() {
  if (!printer_) printer_ = std::make_unique<QPrinter>();
  QPrintDialog dialog(printer_.get(), this);
  if (dialog.exec() == QDialog::Accepted) PrintView(*printer_);
}

void CMainFrame::OnFilePrintPreview() {
  if (!printer_) printer_ = std::make_unique<QPrinter>();
  QPrintPreviewDialog dialog(printer_.get(), this);
  connect(&dialog, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) { PrintView(*p); });
  dialog.exec();
}

void CMainFrame::OnFilePrintSetup() {
  if (!printer_) printer_ = std::make_unique<QPrinter>();
  QPageSetupDialog dialog(printer_.get(), this);
  dialog.exec();
}

// --------------------------------------------------------------- layout --

void CMainFrame::SaveWindowLayout() {
  SettingsStore& s = CurrentSettings();
  s.SetString("Workspace", "Geometry", saveGeometry().toBase64().toStdString());
  s.SetString("Workspace", "State", saveState().toBase64().toStdString());
}

void CMainFrame::RestoreWindowLayout() {
  const SettingsStore& s = CurrentSettings();
  const std::string geometry = s.GetString("Workspace", "Geometry", "");
  const std::string state = s.GetString("Workspace", "State", "");
  if (!geometry.empty()) restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(geometry)));
  if (!state.empty()) restoreState(QByteArray::fromBase64(QByteArray::fromStdString(state)));
}

// ------------------------------------------------------- region requests --

void CMainFrame::PostEditRegion() { QTimer::singleShot(0, this, [this] { OnEditRegion(); }); }
void CMainFrame::PostEditGlobal() { QTimer::singleShot(0, this, [this] { OnEditGlobalParameters(); }); }
void CMainFrame::PostDeleteRegion() { QTimer::singleShot(0, this, [this] { OnDeleteRegion(); }); }
void CMainFrame::PostSplitRegion() { QTimer::singleShot(0, this, [this] { OnSplitRegion(); }); }
void CMainFrame::PostRemoveAudio() { QTimer::singleShot(0, this, [this] { OnRemoveAudioData(); }); }

ViewState CMainFrame::CurrentViewState() const {
  const ViewModel& m = view->Model();
  return ViewState{m.selectedRegion, m.cursorFrame, m.loopIn, m.loopOut};
}

void CMainFrame::Apply(const RegionEditResult& result) {
  ViewModel& m = view->Model();
  if (result.selectRegion) {
    m.selectedRegion = *result.selectRegion;
    // The page's copy may be out of date after a correction or a sort.
    const auto& regions = doc_.instrument.regions;
    if (m.selectedRegion >= 0 && m.selectedRegion < static_cast<int>(regions.size()))
      propertiesPane->ShowRegion(regions[static_cast<size_t>(m.selectedRegion)], m.selectedRegion);
  }
  if (result.clearBeatMarkers) m.beatMarkers.clear();
  if (result.clearRegionPane) ClearRegionPane();
  if (result.clearSelection) view->ClearSelection();
  if (result.audioChanged) {
    view->RebuildPeakCache();
    m.ClampViewStart();
    view->UpdateScrollBar();
  }
  if (result.showInstrument) propertiesPane->ShowInstrument(doc_.instrument.params, m.DurationSeconds());
  view->viewport()->update();
  RefreshActions();
}

void CMainFrame::OnEditRegion() { Apply(EditRegion(doc_, CurrentViewState(), propertiesPane->regionPage->editRegion)); }
void CMainFrame::OnEditGlobalParameters() { Apply(EditGlobalParameters(doc_, propertiesPane->globalPage->editParams)); }
void CMainFrame::OnDeleteRegion() { Apply(DeleteRegion(doc_, CurrentViewState())); }
void CMainFrame::OnSplitRegion() { Apply(SplitRegion(doc_, CurrentViewState())); }
void CMainFrame::OnRemoveAudioData() { Apply(RemoveAudioData(doc_, CurrentViewState())); }

void CMainFrame::SetGlobalDuration(float seconds) {
  propertiesPane->globalPage->SetDuration(seconds);
}

void CMainFrame::ClearRegionPane() { propertiesPane->ClearRegionPage(); }

bool CMainFrame::CreateSingleRegionWithRoot(int rootNote) {
  const bool ok = zandrel::CreateSingleRegionWithRoot(doc_, rootNote);
  ClearRegionPane();
  return ok;
}

}  // namespace zandrel
