#include "app/quorvel_app.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "app/main_frame.h"
#include "document/edit_transaction.h"
#include "platform/file_dialogs.h"
#include "platform/message_host.h"
#include "platform/text_format.h"

namespace zandrel {
namespace {

constexpr const char* kWavFilter = "WAV Files (*.wav)|*.wav|All Files (*.*)|*.*||";

// "About Zandrel": the icon, the version and an OK button.
class CAboutDlg final : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Zandrel"));
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MediaVolume).pixmap(32, 32));
    auto* text = new QLabel(QStringLiteral("Zandrel, Version 1.01"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
  }
};

// Why |path| cannot be read as a file at all, or "" when it can.
std::string UnreadableFileReason(const std::filesystem::path& path) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) return "the file does not exist";
  if (status.type() == std::filesystem::file_type::directory) return "it is a folder, not a file";
  if (ec) return ec.message();
  // A named pipe or a device would block the reader or never end.
  if (status.type() != std::filesystem::file_type::regular) return "it is not a regular file";
  if (::access(path.c_str(), R_OK) != 0) return std::strerror(errno);
  return {};
}

}  // namespace

CQuorvelApp::CQuorvelApp() = default;

CQuorvelApp::~CQuorvelApp() {
  frame_.reset();
  doc_.reset();
  SetFileDialogHost(previousFileDialogs_);
  SetMessageHost(previousMessageHost_);
  SetParameterDialogHost(previousParameterDialogs_);
  SetClipboardHost(previousClipboard_);
  SetSettingsStore(nullptr);
}

bool CQuorvelApp::InitInstance(const QStringList& arguments) {
  QApplication::setApplicationName(QStringLiteral("Zandrel"));
  QApplication::setOrganizationName(QStringLiteral("Zindermast"));
  settings_ = std::make_unique<QtSettingsStore>();
  SetSettingsStore(settings_.get());
  previousMessageHost_ = SetMessageHost(&messageHost_);
  if (previousMessageHost_) SetMessageHost(previousMessageHost_);
  previousFileDialogs_ = SetFileDialogHost(&fileDialogs_);
  if (previousFileDialogs_) SetFileDialogHost(previousFileDialogs_);
  previousParameterDialogs_ = SetParameterDialogHost(&parameterDialogs_);
  if (previousParameterDialogs_) SetParameterDialogHost(previousParameterDialogs_);
  // Two editors in one process (tests) share the one desktop clipboard.
  previousClipboard_ = SetClipboardHost(&clipboard_);
  recentFiles_.Load();

  doc_ = std::make_unique<CQuorvelDoc>();
  frame_ = std::make_unique<CMainFrame>(*this, *doc_);
  messageHost_.parent = frame_.get();
  fileDialogs_.parent = frame_.get();
  parameterDialogs_.parent = frame_.get();

  // A file named on the command line that cannot be opened has been
  // reported by now; the editor still starts, with an empty document.
  if (arguments.isEmpty() || !OpenDocumentFile(arguments.front().toStdString())) {
    if (!doc_->OnNewDocument()) return false;
  }
  frame_->showNormal();
  return true;
}

bool CQuorvelApp::SaveModified() {
  if (!doc_->IsModified()) return true;
  const MessageAnswer answer = CurrentMessageHost().Show(Format("Save changes to %s?", doc_->GetTitle().c_str()),
                                                         MessageIcon::Warning, MessageButtons::YesNoCancel);
  if (answer == MessageAnswer::Cancel) return false;
  if (answer == MessageAnswer::No) return true;
  return OnFileSaveAs();
}

bool CQuorvelApp::OnFileNew() {
  if (!SaveModified()) return false;
  return doc_->OnNewDocument();
}

bool CQuorvelApp::OnFileOpen() {
  OpenFileRequest request;
  request.defaultPath = doc_->GetPathName().parent_path();
  request.filter = kWavFilter;
  const std::optional<std::filesystem::path> file = AskOpenFile(request);
  return file && OpenDocumentFile(*file);
}

bool CQuorvelApp::OpenDocumentFile(const std::filesystem::path& path) {
  if (!SaveModified()) return false;
  // The loader is silent about a file it cannot read at all; say why here
  // (a recent file that was moved, a folder, a path typed wrong).
  if (const std::string problem = UnreadableFileReason(path); !problem.empty()) {
    ShowMessage(Format("Cannot open %s: %s.", path.filename().c_str(), problem.c_str()), MessageIcon::Error);
    return false;
  }
  if (!doc_->OnOpenDocument(path)) return false;
  recentFiles_.Add(std::filesystem::absolute(path));
  if (frame_) frame_->RebuildRecentFilesMenu();
  return true;
}

bool CQuorvelApp::OnFileSaveAs() {
  SaveFileRequest request;
  // An untitled document proposes its title (a downloaded sound's title is
  // its file name already).
  std::string name = doc_->GetTitle();
  const bool hasWavExtension =
      name.size() >= 4 && QString::fromStdString(name.substr(name.size() - 4)).compare(".wav", Qt::CaseInsensitive) == 0;
  if (!hasWavExtension) name += ".wav";
  request.defaultPath = doc_->GetPathName().empty() ? std::filesystem::path(name) : doc_->GetPathName();
  request.defaultExtension = "wav";
  request.filter = kWavFilter;
  const std::optional<std::filesystem::path> file = AskSaveFile(request);
  if (!file || !doc_->OnSaveDocument(*file)) return false;
  recentFiles_.Add(std::filesystem::absolute(*file));
  if (frame_) frame_->RebuildRecentFilesMenu();
  return true;
}

void CQuorvelApp::OnNewEmptySample() {
  // A cancelled File New keeps the user's document: nothing may overwrite it.
  if (!OnFileNew()) return;
  CQuorvelDoc& doc = *doc_;
  // A new sample: nothing before it to undo to.
  EditTransaction edit = EditTransaction::WithoutUndo(doc);
  doc.NotifyAudioAboutToChange();
  doc.audio.format = PcmFormat{kWaveFormatPcm, 1, 44100, 88200, 2, 16};
  doc.audio.data.assign(88200, 0);
  doc.instrument.hasInstrument = true;
  doc.instrument.regions = {Region{0, 44100, -1, -1, 0, 127, 60}};
  edit.Commit(DocumentChange::kReplaced);
}

void CQuorvelApp::OnAppAbout() {
  CAboutDlg dialog(frame_.get());
  dialog.exec();
}

}  // namespace zandrel
