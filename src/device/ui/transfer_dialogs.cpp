#include "device/ui/transfer_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "device/ep_display.h"
#include "device/ui/ep_display_ctrl.h"
#include "platform/message_host.h"
#include "platform/text_format.h"

namespace zandrel {
namespace fs = std::filesystem;
namespace {

constexpr int kSlotRole = Qt::UserRole;

QString TransferText(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The phase of the last logged upload progress line, for the whole run.
UploadProgressPhase& RunProgressPhase() {
  static UploadProgressPhase phase;
  return phase;
}

}  // namespace

std::string NarrowDeviceText(const QString& text) {
  std::string out;
  out.reserve(static_cast<size_t>(text.size()));
  for (const QChar c : text) out.push_back(c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?');
  return out;
}

// ---------------------------------------------------------------- shared --

CTransferDlg::CTransferDlg(int connectMs, const QString& slotsLabel, const QString& actionText,
                           const QString& closeText, QWidget* parent)
    : QDialog(parent), times{connectMs} {
  slotList_ = new QListWidget(this);
  logList_ = new QListWidget(this);
  progress_ = new QProgressBar(this);
  display_ = new CEpDisplayCtrl(this);
  actionButton_ = new QPushButton(actionText, this);
  closeButton_ = new QPushButton(closeText, this);

  slotList_->setSelectionMode(QAbstractItemView::SingleSelection);
  slotList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  logList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  logList_->setSelectionMode(QAbstractItemView::SingleSelection);
  QFont fixed = slotList_->font();
  fixed.setFamily(QStringLiteral("monospace"));
  fixed.setStyleHint(QFont::TypeWriter);
  slotList_->setFont(fixed);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  // The bar appears and disappears with each transfer; the layout keeps its place.
  QSizePolicy keep = progress_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  progress_->setSizePolicy(keep);
  progress_->hide();
  // Sixteen cells about as tall for their width as the device's own.
  display_->setFixedSize(420, 56);
  actionButton_->setEnabled(false);
  actionButton_->setDefault(true);

  leftColumn_ = new QVBoxLayout;
  leftColumn_->addWidget(new QLabel(slotsLabel, this));
  leftColumn_->addWidget(slotList_, 1);
  auto* rightColumn = new QVBoxLayout;
  rightColumn->addWidget(new QLabel(QStringLiteral("Log"), this));
  rightColumn->addWidget(logList_, 1);
  auto* lists = new QHBoxLayout;
  lists->addLayout(leftColumn_, 2);
  lists->addLayout(rightColumn, 3);
  extraRows_ = new QVBoxLayout;
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(actionButton_);
  buttons->addWidget(closeButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(lists, 1);
  layout->addLayout(extraRows_);
  layout->addWidget(display_, 0, Qt::AlignHCenter);
  layout->addWidget(progress_);
  layout->addLayout(buttons);
  resize(620, 460);

  connectTimer_.setSingleShot(true);
  closeTimer_.setSingleShot(true);
  connect(&connectTimer_, &QTimer::timeout, this, [this] { OnConnectTimer(); });
  connect(&closeTimer_, &QTimer::timeout, this, [this] { done(QDialog::Accepted); });
  connect(slotList_, &QListWidget::itemSelectionChanged, this, [this] { OnSlotSelChange(); });
  connect(closeButton_, &QPushButton::clicked, this, [this] { reject(); });
}

CTransferDlg::~CTransferDlg() {
  if (connected_) client_.Disconnect();
}

void CTransferDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!shown_) {
    shown_ = true;
    connectTimer_.start(times.connectMs);
  }
}

QStringList CTransferDlg::LogLines() const {
  QStringList lines;
  for (int i = 0; i < logList_->count(); ++i) lines << logList_->item(i)->text();
  return lines;
}

void CTransferDlg::AddLogLine(std::string_view text) {
  logList_->addItem(TransferText(text));
  logList_->setCurrentRow(logList_->count() - 1);
  logList_->repaint();
}

void CTransferDlg::ShowOnDisplay(const std::string& text) {
  display_->text = MakeEpDisplayName(text);
  display_->update();
}

void CTransferDlg::OnConnectTimer() {
  connectTimer_.stop();
  if (!connected_) {
    if (!ConnectClient()) {
      AddLogLine("Connection failed:");
      AddLogLine(client_.LastError());
      const MessageAnswer answer = CurrentMessageHost().Show(
          "Failed to connect to EP device.\n\nPlease ensure:\n- Device is connected via USB-MIDI\n- EP Sample Tool is "
          "not open in any browser\n\nRetry connection?",
          MessageIcon::Error, MessageButtons::YesNo);
      if (answer == MessageAnswer::Yes) {
        AddLogLine("Retrying connection...");
        connectTimer_.start(times.retryMs);
      } else {
        done(QDialog::Rejected);
      }
      return;
    }
    // Device events change nothing in these dialogs.
    client_.SetChangeListener({});
    connected_ = true;
  }
  AddLogLine("Connected successfully!");
  AddLogLine(LoadingLine());
  FillSlotList();
  AddLogLine(ReadyLine());
}

void CTransferDlg::ShowSlotList(const SlotList& list, const char* foundFormat, const char* warningLine,
                                const char* warningBox) {
  slotList_->clear();
  for (const SlotListLine& line : list.lines) {
    auto* item = new QListWidgetItem(TransferText(line.text), slotList_);
    item->setData(kSlotRole, line.slot);
  }
  AddLogLine(Format(foundFormat, list.count));
  if (list.count == 0) {
    AddLogLine(warningLine);
    ShowMessage(warningBox, MessageIcon::Warning);
  }
}

void CTransferDlg::OnSlotSelChange() {
  const QList<QListWidgetItem*> selected = slotList_->selectedItems();
  if (selected.isEmpty()) {
    selectedSlot_ = 0;
    actionButton_->setEnabled(false);
    OnSlotSelected(0);
    return;
  }
  selectedSlot_ = static_cast<uint16_t>(selected.front()->data(kSlotRole).toUInt());
  actionButton_->setEnabled(true);
  OnSlotSelected(selectedSlot_);
  AddLogLine(Format("Selected slot %d", selectedSlot_));
}

void CTransferDlg::reject() {
  if (transferRunning_) {
    ShowMessage(CancelRefusal(), MessageIcon::Warning);
    return;
  }
  QDialog::reject();
}

void CTransferDlg::LockForTransfer(bool running, bool lockCloseButton) {
  transferRunning_ = running;
  actionButton_->setEnabled(!running);
  if (lockCloseButton || !running) closeButton_->setEnabled(!running);
  slotList_->setEnabled(!running);
}

void CTransferDlg::StartProgress() {
  logList_->clear();
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->show();
}

void CTransferDlg::FlushBeforeTransfer() {
  logList_->repaint();
  progress_->repaint();
  // User input stays queued: the transfer must not be interrupted by a click.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void CTransferDlg::FinishSuccessfully(std::string_view banner, std::string_view done, const std::string& warning) {
  AddLogLine("");
  AddLogLine(banner);
  AddLogLine(done);
  if (!warning.empty()) AddLogLine(warning);
  AddLogLine("Dialog will close automatically...");
  // The transfer flag stays set: the dialog can no longer be cancelled.
  closeTimer_.start(times.closeMs);
}

void CTransferDlg::ReportFailure(std::string_view banner, const std::string& error, const char* box) {
  AddLogLine("");
  AddLogLine(banner);
  AddLogLine(error);
  LockForTransfer(false, true);
  ShowMessage(box, MessageIcon::Error);
}

// ---------------------------------------------------------------- upload --

CUploadDlg::CUploadDlg(fs::path path, QWidget* parent)
    : CTransferDlg(200, QStringLiteral("Empty Slots"), QStringLiteral("Upload"), QStringLiteral("Cancel"), parent),
      path_(std::move(path)),
      currentPath_(path_) {
  const QString fileName = TransferText(path_.filename().string());
  setWindowTitle(QStringLiteral("Upload: ") + fileName);

  showFirstEmpty_ = new QCheckBox(QStringLiteral("Show First Empty in a Group"), this);
  showFirstEmpty_->setChecked(firstEmptyOnly_);
  leftColumn_->addWidget(showFirstEmpty_);
  nameEdit_ = new QLineEdit(this);
  auto* nameRow = new QHBoxLayout;
  nameRow->addWidget(new QLabel(QStringLiteral("Name"), this));
  nameRow->addWidget(nameEdit_, 1);
  extraRows_->addLayout(nameRow);

  // The file name without its folder and without the part from its last '.'.
  const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
  const std::string name = SanitizeSoundName(NarrowDeviceText(dot < 0 ? fileName : fileName.left(dot)));
  name_ = TransferText(name);
  nameEdit_->setText(name_);
  ShowOnDisplay(name);

  connect(showFirstEmpty_, &QCheckBox::clicked, this, [this] { OnShowFirstEmptyClicked(); });
  connect(nameEdit_, &QLineEdit::textChanged, this, [this] { OnNameChange(); });
  connect(actionButton_, &QPushButton::clicked, this, [this] { OnUploadClicked(); });

  AddLogLine("Initializing...");
  AddLogLine("Attempting to connect to EP device...");
}

bool CUploadDlg::ConnectClient() { return client_.ConnectAndLoadSlots(); }

void CUploadDlg::FillSlotList() {
  ShowSlotList(BuildEmptySlotList(client_.Slots(), firstEmptyOnly_), "Found %d empty slots",
               "WARNING: No empty slots available!",
               "No empty slots available on device.\n\nAll 999 slots are occupied.");
}

void CUploadDlg::OnShowFirstEmptyClicked() {
  firstEmptyOnly_ = showFirstEmpty_->isChecked();
  name_ = nameEdit_->text();
  FillSlotList();
}

void CUploadDlg::OnNameChange() { ShowOnDisplay(NarrowDeviceText(nameEdit_->text())); }

void CUploadDlg::OnUploadProgress(int percent) {
  progress_->setValue(percent);
  progress_->repaint();
  if (const std::optional<std::string> line = RunProgressPhase().LineFor(percent)) AddLogLine(*line);
}

void CUploadDlg::OnUploadClicked() {
  if (selectedSlot_ == 0) {
    ShowMessage("Please select an empty slot first.", MessageIcon::Warning);
    return;
  }
  if (transferRunning_) {
    ShowMessage("Upload already in progress.", MessageIcon::Warning);
    return;
  }
  LockForTransfer(true, true);
  StartProgress();
  firstEmptyOnly_ = showFirstEmpty_->isChecked();
  name_ = nameEdit_->text();

  // The device names the sound after the file, so the copy takes the typed name.
  const UploadRenameResult renamed = ApplyUploadName(currentPath_, NarrowDeviceText(name_));
  for (const std::string& line : renamed.log) AddLogLine(line);
  currentPath_ = renamed.path;

  AddLogLine(Format("Uploading to slot %d...", selectedSlot_));
  AddLogLine("Loading WAV file...");
  AddLogLine("Validating and preparing format...");
  AddLogLine("Preparing metadata...");
  AddLogLine("Checking device space...");
  FlushBeforeTransfer();

  const EPUploadResult result =
      client_.UploadSound(currentPath_, selectedSlot_, false, [this](int percent) { OnUploadProgress(percent); });
  progress_->hide();
  if (result == EPUploadResult::Failed) {
    ReportFailure("*** UPLOAD FAILED ***", client_.LastError(), "Upload failed. See log for details.");
    return;
  }
  // The sound is on the device; without its regions and settings it is not
  // what the user sent, and the dialog closes too soon for its log to say so.
  warning_ = result == EPUploadResult::UploadedWithoutMetadata ? "Warning: " + client_.LastError() : std::string();
  FinishSuccessfully("*** UPLOAD SUCCESSFUL ***", "File uploaded successfully!", warning_);
}

// -------------------------------------------------------------- download --

CDownloadDlg::CDownloadDlg(QWidget* parent)
    : CTransferDlg(300, QStringLiteral("Slots with Data"), QStringLiteral("Download"), QStringLiteral("Close"),
                   parent) {
  setWindowTitle(QStringLiteral("Download from EP"));
  ShowOnDisplay("Select a sound");
  connect(actionButton_, &QPushButton::clicked, this, [this] { OnDownloadClicked(); });
  AddLogLine("Initializing...");
  AddLogLine("Attempting to connect to EP device... Please Wait");
}

bool CDownloadDlg::ConnectClient() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool connected = client_.Connect();
  QApplication::restoreOverrideCursor();
  return connected;
}

void CDownloadDlg::FillSlotList() {
  ShowSlotList(BuildOccupiedSlotList(client_.Slots()), "Found %d occupied slots",
               "WARNING: No occupied slots available!", "No sounds found on device.\n\nAll slots are empty.");
}

void CDownloadDlg::OnSlotSelected(uint16_t slot) {
  if (slot == 0) {
    ShowOnDisplay("Select a sound");
    return;
  }
  const EPSoundSlot* sound = client_.FindSound(slot);
  if (sound && sound->occupied) {
    ShowOnDisplay(sound->displayName);
    client_.NotifySoundSelected(slot);  // the device shows it too; its answer is not needed
  } else {
    ShowOnDisplay("");
  }
}

void CDownloadDlg::OnDownloadClicked() {
  if (selectedSlot_ == 0) {
    ShowMessage("Please select a sound first.", MessageIcon::Warning);
    return;
  }
  if (transferRunning_) {
    ShowMessage("Download already in progress.", MessageIcon::Warning);
    return;
  }
  const EPSoundSlot* sound = client_.FindSound(selectedSlot_);
  if (!sound || !sound->occupied) {
    ShowMessage("Selected slot is empty.", MessageIcon::Warning);
    return;
  }
  // The name comes from the device: DownloadFileName keeps it a plain file
  // name, and the folder is the download's own.
  const fs::path folder = MakeDownloadFolder();
  downloadPath_ = folder.empty() ? fs::path() : folder / DownloadFileName(sound->displayName);

  LockForTransfer(true, false);
  StartProgress();
  AddLogLine(Format("Downloading slot %d...", selectedSlot_));
  AddLogLine("Fetching sound data from device...");
  AddLogLine("Retrieving metadata...");
  FlushBeforeTransfer();

  const bool ok = !downloadPath_.empty() && client_.DownloadSound(selectedSlot_, downloadPath_);
  progress_->setValue(100);
  progress_->hide();
  if (ok) {
    FinishSuccessfully("*** DOWNLOAD SUCCESSFUL ***", "File downloaded successfully!");
    return;
  }
  DeleteTransferFile(downloadPath_);
  const std::string error = downloadPath_.empty() ? std::string("Could not create a temporary folder for the download.")
                                                  : client_.LastError();
  downloadPath_.clear();
  ReportFailure("*** DOWNLOAD FAILED ***", error, "Download failed. See log for details.");
}

}  // namespace zandrel
