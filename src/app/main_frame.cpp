#include "app/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

#include "app/quorvel_app.h"
#include "platform/message_host.h"
#include "platform/settings.h"
#include "platform/text_format.h"

namespace zandrel {
namespace {

QString Text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

}  // namespace

CMainFrame::CMainFrame(CQuorvelApp& app, CQuorvelDoc& doc) : app_(app), doc_(doc) {
  setObjectName(QStringLiteral("MainFrame"));
  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);

  view = new CQuorvelView(doc_, commands, this);
  setCentralWidget(view);
  view->openWavFile = [this](const QString& path) { app_.OpenDocumentFile(path.toStdString()); };

  outputPane = new COutputWnd(this);
  addDockWidget(Qt::BottomDockWidgetArea, outputPane);
  propertiesPane = new CRegionPane(this);
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
  add(cmd::kExportWavWithoutLimits, [this] { doc_.OnExportWavWithoutLimits(); });
  add(cmd::kExportOverview, [this] { doc_.OnExportOverview(); });
  add(cmd::kExportInstrumentData, [this] { doc_.OnExportInstrumentData(); });
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
  add(cmd::kLoop, [this] { view->HandleKey(ViewKey::kLoop); });
  add(cmd::kSetLoopIn, [this] { view->HandleKey(ViewKey::kLoopIn); });
  add(cmd::kSetLoopOut, [this] { view->HandleKey(ViewKey::kLoopOut); });
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
  auto key = [](int id) {
    for (const CommandInfo& c : Accelerators())
      if (c.id == id) return QKeySequence(Text(c.shortcut));
    return QKeySequence();
  };

  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  AddCommand(file, cmd::kFileNew, QStringLiteral("&New"), key(cmd::kFileNew));
  AddCommand(file, cmd::kFileOpen, QStringLiteral("&Open..."), key(cmd::kFileOpen));
  AddCommand(file, cmd::kFileSaveAs, QStringLiteral("Save &Wav..."), key(cmd::kFileSaveAs));
  file->addSeparator();
  AddCommand(file, cmd::kNewEmptySample, QStringLiteral("New Empty 1s Sample"));
  file->addSeparator();
  QMenu* exportMenu = file->addMenu(QStringLiteral("Export"));
  AddCommand(exportMenu, cmd::kExportWavWithoutLimits, QStringLiteral("Export Wav Without EP restrictions..."));
  AddCommand(exportMenu, cmd::kExportOverview, QStringLiteral("Export Overview..."));
  AddCommand(exportMenu, cmd::kExportInstrumentData, QStringLiteral("Export Instrument Data..."));
  file->addSeparator();
  recentMenu_ = file->addMenu(QStringLiteral("Recent Files"));
  file->addSeparator();
  AddCommand(file, cmd::kAppExit, QStringLiteral("E&xit"));

  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  AddCommand(edit, cmd::kEditUndo, QStringLiteral("&Undo"), key(cmd::kEditUndo));
  AddCommand(edit, cmd::kEditRedo, QStringLiteral("Redo"), key(cmd::kEditRedo));
  edit->addSeparator();
  AddCommand(edit, cmd::kSelectAll, QStringLiteral("Select All"), key(cmd::kSelectAll));
  AddCommand(edit, cmd::kDeselect, QStringLiteral("Deselect"), key(cmd::kDeselect));
  edit->addSeparator();
  AddCommand(edit, cmd::kSplitAtCursor, QStringLiteral("Split At Cursor"));
  AddCommand(edit, cmd::kRemoveSelectedRegion, QStringLiteral("Remove Selected Region"));
  QAction* del = AddCommand(edit, cmd::kDeleteWavData, QStringLiteral("Delete Wav Data"), key(cmd::kDeleteWavData));
  del->setShortcutContext(Qt::WindowShortcut);

  // Plain-letter keys act only while the view has the focus, so typing into
  // a field of the pages never triggers them.
  for (int id : {cmd::kLoop, cmd::kSetLoopIn, cmd::kSetLoopOut}) {
    QAction* a = AddCommand(nullptr, id, Text(std::string_view()), key(id));
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    view->addAction(a);
  }

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  AddCommand(help, cmd::kAppAbout, QStringLiteral("&About Zandrel..."));

  QToolBar* toolbar = addToolBar(QStringLiteral("Standard"));
  toolbar->setObjectName(QStringLiteral("Standard"));
  toolbar->setMovable(true);
  QStyle* s = style();
  Action(cmd::kFileNew)->setIcon(s->standardIcon(QStyle::SP_FileIcon));
  Action(cmd::kFileOpen)->setIcon(s->standardIcon(QStyle::SP_DialogOpenButton));
  Action(cmd::kFileSaveAs)->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
  Action(cmd::kEditUndo)->setIcon(s->standardIcon(QStyle::SP_ArrowBack));
  Action(cmd::kEditRedo)->setIcon(s->standardIcon(QStyle::SP_ArrowForward));
  for (int id : {cmd::kFileNew, cmd::kFileOpen, cmd::kFileSaveAs}) toolbar->addAction(Action(id));
  toolbar->addSeparator();
  for (int id : {cmd::kEditUndo, cmd::kEditRedo}) toolbar->addAction(Action(id));

  for (QMenu* m : {file, edit, help}) connect(m, &QMenu::aboutToShow, this, &CMainFrame::RefreshActions);
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
  event->accept();
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

void CMainFrame::OnEditRegion() { Apply(EditRegion(doc_, CurrentViewState(), propertiesPane->editRegion)); }
void CMainFrame::OnEditGlobalParameters() { Apply(EditGlobalParameters(doc_, propertiesPane->editParams)); }
void CMainFrame::OnDeleteRegion() { Apply(DeleteRegion(doc_, CurrentViewState())); }
void CMainFrame::OnSplitRegion() { Apply(SplitRegion(doc_, CurrentViewState())); }
void CMainFrame::OnRemoveAudioData() { Apply(RemoveAudioData(doc_, CurrentViewState())); }

void CMainFrame::SetGlobalDuration(float seconds) {
  propertiesPane->durationSeconds = seconds;
  (void)BeatsText(seconds, propertiesPane->editParams.bpm);
}

void CMainFrame::ClearRegionPane() { propertiesPane->ClearRegionPage(); }

bool CMainFrame::CreateSingleRegionWithRoot(int rootNote) {
  const bool ok = zandrel::CreateSingleRegionWithRoot(doc_, rootNote);
  ClearRegionPane();
  return ok;
}

}  // namespace zandrel
