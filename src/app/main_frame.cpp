#include "app/main_frame.h"

#include <QAction>
#include <QByteArray>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <functional>

#include "app/app_commands.h"
#include "app/customize_dlg.h"
#include "app/quorvel_app.h"
#include "commands/editor_commands.h"
#include "device/ui/device_commands.h"
#include "document/region_edits.h"
#include "kits/kit_commands.h"
#include "notes/ui/note_dialogs.h"
#include "platform/message_host.h"
#include "platform/settings.h"
#include "platform/text_format.h"
#include "processing/audio_edit_commands.h"
#include "processing/processing_commands.h"
#include "processing/ui/chop_tempo_dialogs.h"
#include "processing/ui/pitch_dialogs.h"
#include "sound_design/loop_synth_commands.h"
#include "sound_design/ui/simple_synth_dlg.h"
#include "tools/ui/tool_commands.h"
#include "view/model/view_commands.h"

namespace zandrel {
namespace {

QString Text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }

}  // namespace

// The commands' context in the editor: the document, the view's model as
// the selection, the view's playback, and queued requests that run on the
// user-interface thread once the current event has been handled.
class CMainFrame::FrameContext final : public CommandContext {
 public:
  explicit FrameContext(CMainFrame& frame) : frame_(frame) {}
  CQuorvelDoc* Document() const override { return &frame_.doc_; }
  ViewSelection& Selection() const override { return frame_.view->Model(); }
  CommandView& View() const override { return frame_.view->Model(); }
  bool SaveModified() override { return frame_.app_.SaveModified(); }
  void PlayRegionByRootNote(int rootNote) override { frame_.view->PlayRegionByRootNote(rootNote); }
  bool IsPlaying() const override { return frame_.view->IsPlaying(); }
  void StopPlayback() override { frame_.view->StopPlayback(); }
  void StartPlayback() override { frame_.view->StartPlayback(); }
  void Post(std::function<void()> task) override {
    QTimer::singleShot(0, &frame_, [this, task = std::move(task)] {
      task();
      frame_.RefreshActions();
    });
  }
  LongTaskHost* Tasks() const override {
    frame_.taskHost_.parent = &frame_;
    return &frame_.taskHost_;
  }

 private:
  CMainFrame& frame_;
};

CMainFrame::CMainFrame(CQuorvelApp& app, CQuorvelDoc& doc)
    : app_(app), doc_(doc), context_(std::make_unique<FrameContext>(*this)) {
  setObjectName(QStringLiteral("MainFrame"));
  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);

  view = new CQuorvelView(doc_, commands, this);
  setCentralWidget(view);
  view->openWavFile = [this](const QString& path) { app_.OpenDocumentFile(path.toStdString()); };
  view->appendWavFile = [this](const QString& path) {
    AppendWavFile(*context_, path.toStdString());
    RefreshActions();
  };

  outputPane = new COutputWnd(this);
  addDockWidget(Qt::BottomDockWidgetArea, outputPane);
  propertiesPane = new CRegionPane(this);
  propertiesPane->ConnectTo(*this);
  addDockWidget(Qt::RightDockWidgetArea, propertiesPane);
  resizeDocks({outputPane}, {150}, Qt::Vertical);
  resizeDocks({propertiesPane}, {260}, Qt::Horizontal);

  ViewHooks& hooks = view->Model().hooks;
  hooks.showRegion = [this](const Region& r, int index) { propertiesPane->ShowRegion(r, index); };
  hooks.showInstrument = [this](double seconds) { propertiesPane->ShowInstrument(doc_.instrument.params, seconds); };

  DeclareCommands();
  BuildMenus();
  statusBar()->showMessage(QStringLiteral("Ready"));
  doc_.SetFrame(this);
  doc_.AddObserver(this);
  UpdateTitle();
  resize(1200, 760);
  RestoreWindowLayout();
  // Paste follows what the desktop clipboard offers, whoever put it there.
  connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, &CMainFrame::RefreshActions);
  // A device that stopped under a preview or a monitor (a tool's dialog
  // runs its own event loop; this timer still fires there).
  outputWatchTimer_ = new QTimer(this);
  outputWatchTimer_->setInterval(250);
  connect(outputWatchTimer_, &QTimer::timeout, this, [this] {
    if (!outputWatch_.Check(CurrentAudioOutput())) return;
    Log().AppendLog(OutputLossWatch::kLogLine);
    ShowMessage(OutputLossWatch::kMessage, MessageIcon::Error);
  });
  outputWatchTimer_->start();
}

CommandContext& CMainFrame::Context() { return *context_; }

CMainFrame::~CMainFrame() {
  doc_.RemoveObserver(this);
  doc_.SetFrame(nullptr);
}

// ------------------------------------------------------------- commands --

void CMainFrame::DeclareCommands() {
  DeclareCoreCommands(commands);
  DeclareViewCommands(commands, view->Model(), [](const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
  });
  DeclareAppCommands(commands, app_, *this);
  DeclareDeviceCommands(commands, this);
  DeclareKitCommands(commands);
  DeclareToolCommands(commands, this);
  noteDialogs_ = std::make_unique<QtNoteDialogs>(this);
  DeclareNoteCommands(commands, *noteDialogs_);
  DeclarePitchAppCommands(commands, this);
  DeclareMicroSynthAppCommand(commands, this);
  DeclareChopTempoAppCommands(commands, this);
  DeclareLoopSynthCommands(commands);
  commands.Bind(context_.get());
}

QAction* CMainFrame::Action(int id) const {
  const auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::FillMenu(QMenu* menu, const std::vector<MenuEntry>& entries) {
  for (const MenuEntry& e : entries) {
    switch (e.kind) {
      case MenuEntry::Kind::kSeparator: menu->addSeparator(); break;
      case MenuEntry::Kind::kSubmenu: FillMenu(menu->addMenu(Text(e.text)), e.entries); break;
      case MenuEntry::Kind::kRecentFiles: recentMenu_ = menu->addMenu(Text(e.text)); break;
      case MenuEntry::Kind::kCommand: {
        QAction* action = Action(e.id);
        // A place with a text of its own gets an action of its own.
        if (Text(e.text) != action->text()) {
          QAction* own = new QAction(Text(e.text), this);
          own->setData(e.id);
          const int id = e.id;
          connect(own, &QAction::triggered, this, [this, id] {
            commands.Run(id);
            RefreshActions();
          });
          connect(action, &QAction::changed, own, [own, action] {
            own->setEnabled(action->isEnabled());
            own->setCheckable(action->isCheckable());
            own->setChecked(action->isChecked());
          });
          action = own;
        }
        menu->addAction(action);
        break;
      }
    }
  }
}

void CMainFrame::BuildMenus() {
  // One action per command, with its key. Keys without Ctrl or Alt act only
  // while the view has the focus, so typing into a field of the pages never
  // triggers them; the others act anywhere in the window.
  for (const auto& [id, command] : commands.Commands()) {
    QAction* action = new QAction(Text(command.text), this);
    action->setData(id);
    if (!command.key.empty()) {
      action->setShortcut(QKeySequence(Text(command.key)));
      if (IsPlainKey(command.key)) {
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        view->addAction(action);
      } else {
        addAction(action);
      }
    }
    const int commandId = id;
    // A checkable item toggles itself when chosen; the command's own rule
    // decides (the mouse tools are one at a time), so every mark is read
    // again afterwards.
    connect(action, &QAction::triggered, this, [this, commandId] {
      commands.Run(commandId);
      RefreshActions();
    });
    actions_[id] = action;
  }
  for (const MenuEntry& m : commands.MenuBar()) {
    if (m.entries.empty()) continue;  // a menu nothing has been placed in yet
    QMenu* menu = menuBar()->addMenu(Text(m.text));
    FillMenu(menu, m.entries);
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::RefreshActions);
  }

  QStyle* s = style();
  Action(cmd::kFileNew)->setIcon(s->standardIcon(QStyle::SP_FileIcon));
  Action(cmd::kFileOpen)->setIcon(s->standardIcon(QStyle::SP_DialogOpenButton));
  Action(cmd::kFileSaveAs)->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
  Action(cmd::kEditUndo)->setIcon(s->standardIcon(QStyle::SP_ArrowBack));
  Action(cmd::kEditRedo)->setIcon(s->standardIcon(QStyle::SP_ArrowForward));
  toolbarLayout_.SetStandardDefault(commands.DefaultToolbar());
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
  // Every command that runs can go on a toolbar.
  std::map<int, QString> names;
  for (const auto& [id, command] : commands.Commands()) {
    const std::string text = commands.PlainText(id);
    if (id == cmd::kViewCustomize || text.empty() || !command.run) continue;
    names[id] = Text(text);
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
  // The dialog's own size is a strip too low to show a page: open it over
  // most of the screen, with the whole page in view.
  if (const QScreen* screen = this->screen()) {
    const QSize room = screen->availableGeometry().size();
    dialog.resize(std::min(room.width() * 9 / 10, 1000), room.height() * 9 / 10);
  }
  // Through the dialog's own "Fit page" button, so that its toolbar agrees.
  if (QAction* fitPage = dialog.findChild<QAction*>(QStringLiteral("fitPageAction"))) fitPage->trigger();
  if (auto* preview = dialog.findChild<QPrintPreviewWidget*>()) preview->setZoomMode(QPrintPreviewWidget::FitInView);
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

void CMainFrame::PostEditRegion() {
  zandrel::PostEditRegion(*context_, [this] { return propertiesPane->regionPage->editRegion; });
}

void CMainFrame::PostEditGlobal() {
  zandrel::PostEditGlobal(*context_, [this] { return propertiesPane->globalPage->editParams; });
}

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
