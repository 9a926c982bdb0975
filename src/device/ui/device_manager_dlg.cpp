#include "device/ui/device_manager_dlg.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <atomic>

#include "device/ep_display.h"
#include "device/transfer_dialog_model.h"
#include "device/ui/ep_display_ctrl.h"
#include "platform/file_dialogs.h"
#include "platform/message_host.h"

namespace zandrel {
namespace fs = std::filesystem;
namespace {

QString ToQString(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The phase of the last logged upload progress line, for the whole run.
UploadProgressPhase& ManagerProgressPhase() {
  static UploadProgressPhase phase("Upload complete!");
  return phase;
}

const char* const kWavFilter = "WAV Files (*.wav)|*.wav|All Files (*.*)|*.*||";
const char* const kTarFilter = "TAR Files (*.tar)|*.tar|All Files (*.*)|*.*||";
const char* const kJsonFilter = "JSON Files (*.json)|*.json|All Files (*.*)|*.*||";

}  // namespace

CEPViewDlg::CEPViewDlg(MidiSystem* midi, QWidget* parent) : QDialog(parent), model_(midi) {
  setWindowTitle(QStringLiteral("EP Deep Dive (experimental)"));

  connectButton_ = new QPushButton(QStringLiteral("Connect / Reload"), this);
  auto* warning =
      new QLabel(QStringLiteral("Make sure EP Sample Tool is not opened in any browser or this will fail"), this);
  searchEdit_ = new QLineEdit(this);
  nextButton_ = new QPushButton(QStringLiteral("Next"), this);
  clearButton_ = new QPushButton(QStringLiteral("X"), this);
  fileList_ = new QListWidget(this);
  infoList_ = new QListWidget(this);
  display_ = new CEpDisplayCtrl(this);
  preview_ = new CWaveformCtrl(this);
  progress_ = new QProgressBar(this);
  stopButton_ = new QPushButton(QStringLiteral("Stop"), this);
  downloadButton_ = new QPushButton(QStringLiteral("Download"), this);
  uploadButton_ = new QPushButton(QStringLiteral("Upload"), this);
  deleteButton_ = new QPushButton(QStringLiteral("Delete"), this);
  saveMetadataButton_ = new QPushButton(QStringLiteral("Save Metadata"), this);
  closeButton_ = new QPushButton(QStringLiteral("Close"), this);

  fileList_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  for (QListWidget* list : {fileList_, infoList_}) {
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list->setUniformItemSizes(true);
  }
  nextButton_->setAutoDefault(false);
  clearButton_->setAutoDefault(false);
  clearButton_->setFixedWidth(28);
  closeButton_->setDefault(true);
  saveMetadataButton_->hide();  // wired, but the dialog does not offer it
  display_->setMinimumHeight(36);
  preview_->setMinimumHeight(110);
  QSizePolicy keepStop = stopButton_->sizePolicy();
  keepStop.setRetainSizeWhenHidden(true);
  stopButton_->setSizePolicy(keepStop);
  progress_->setRange(0, 100);
  progress_->setValue(0);

  auto* top = new QHBoxLayout;
  top->addWidget(connectButton_);
  top->addWidget(warning, 1);
  auto* search = new QHBoxLayout;
  search->addWidget(new QLabel(QStringLiteral("Search"), this));
  search->addWidget(searchEdit_, 1);
  search->addWidget(nextButton_);
  search->addWidget(clearButton_);
  auto* progressRow = new QHBoxLayout;
  progressRow->addWidget(progress_, 1);
  progressRow->addWidget(stopButton_);
  auto* transfer = new QHBoxLayout;
  transfer->addWidget(downloadButton_);
  transfer->addWidget(uploadButton_);
  transfer->addWidget(deleteButton_);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(saveMetadataButton_);
  bottom->addWidget(closeButton_);

  auto* grid = new QGridLayout;
  grid->addLayout(search, 0, 0);
  grid->addWidget(fileList_, 1, 0, 3, 1);
  grid->addWidget(infoList_, 0, 1, 2, 1);
  grid->addWidget(display_, 2, 1);
  grid->addWidget(preview_, 3, 1);
  grid->addLayout(progressRow, 4, 0);
  grid->addLayout(transfer, 4, 1);
  grid->setRowStretch(1, 1);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(grid, 1);
  layout->addLayout(bottom);
  resize(820, 580);

  refreshTimer_.setSingleShot(true);
  searchTimer_.setSingleShot(true);
  connect(&refreshTimer_, &QTimer::timeout, this, [this] { OnRefreshTimer(); });
  connect(&searchTimer_, &QTimer::timeout, this, [this] { StartDetailsJob(); });
  connect(&progressTimer_, &QTimer::timeout, this, [this] { UpdateProgress(); });
  connect(connectButton_, &QPushButton::clicked, this, [this] { OnConnect(); });
  connect(fileList_, &QListWidget::currentRowChanged, this, [this] { OnFileSelChange(); });
  connect(searchEdit_, &QLineEdit::textEdited, this, [this] { OnSearchChange(); });
  connect(nextButton_, &QPushButton::clicked, this, [this] { OnSearchNext(); });
  connect(clearButton_, &QPushButton::clicked, this, [this] { OnClearSearch(); });
  connect(downloadButton_, &QPushButton::clicked, this, [this] { OnDownload(); });
  connect(uploadButton_, &QPushButton::clicked, this, [this] { OnUpload(); });
  connect(deleteButton_, &QPushButton::clicked, this, [this] { OnDelete(); });
  connect(saveMetadataButton_, &QPushButton::clicked, this, [this] { OnSaveMetadata(); });
  connect(stopButton_, &QPushButton::clicked, this, [this] { OnStop(); });
  connect(closeButton_, &QPushButton::clicked, this, [this] { accept(); });

  // The listener runs on the worker: it only passes the id on.
  model_.Client().SetChangeListener([this](uint8_t, uint16_t fileId) {
    QMetaObject::invokeMethod(this, [this, fileId] { OnDeviceChanged(fileId); }, Qt::QueuedConnection);
  });
  worker_ = std::make_unique<CDeviceWorker>();

  ShowDisplay(MakeEpDisplayName("Press Connect"));
  ClearPreview();
  UpdateControls();
}

CEPViewDlg::~CEPViewDlg() {
  // A read still running ends early; the queued jobs run, the worker ends,
  // and then the client goes (disconnecting).
  model_.RequestStop();
  worker_.reset();
}

// ---------------------------------------------------------------- jobs --

void CEPViewDlg::RunJob(JobKind kind, std::function<std::function<void()>()> work) {
  const uint64_t id = nextJobId_++;
  auto dropped = std::make_shared<std::atomic<bool>>(false);
  jobs_.push_back({id, kind, dropped});
  worker_->Post([this, id, dropped, work = std::move(work)] {
    std::function<void()> apply;
    if (!dropped->load()) {
      {
        std::lock_guard lock(runningMutex_);
        runningJob_ = id;
        model_.BeginJob();
      }
      // Dropped after the mark: StopJob() has stopped it too.
      if (!dropped->load()) apply = work();
      std::lock_guard lock(runningMutex_);
      runningJob_ = 0;
    }
    EPDeviceSnapshot snapshot = TakeSnapshot(model_.Client());
    QMetaObject::invokeMethod(
        this,
        [this, apply = std::move(apply), snapshot = std::move(snapshot)]() mutable {
          snapshot_ = std::move(snapshot);
          jobs_.pop_front();
          if (apply) apply();
          JobFinished();
        },
        Qt::QueuedConnection);
  });
  UpdateControls();
}

void CEPViewDlg::JobFinished() {
  UpdateControls();
  if (refreshAfterJob_ && jobs_.empty() && !closing_) {
    refreshAfterJob_ = false;
    OnRefreshTimer();
  }
}

void CEPViewDlg::StopJob(uint64_t id) {
  std::lock_guard lock(runningMutex_);
  if (runningJob_ == id) model_.RequestStop();
}

void CEPViewDlg::StopSelectionJobs() {
  searchTimer_.stop();
  for (const Job& job : jobs_) {
    if (job.kind != JobKind::Select) continue;
    job.dropped->store(true);
    StopJob(job.id);
  }
}

bool CEPViewDlg::Busy() const {
  for (const Job& job : jobs_) {
    if (job.kind != JobKind::Select) return true;
  }
  return false;
}

void CEPViewDlg::UpdateControls() {
  const bool free = !Busy() && !closing_;
  for (QWidget* w : std::initializer_list<QWidget*>{connectButton_, fileList_, searchEdit_, nextButton_, clearButton_,
                                                    downloadButton_, uploadButton_, deleteButton_,
                                                    saveMetadataButton_}) {
    w->setEnabled(free);
  }
  closeButton_->setEnabled(!closing_);
  // Only reads can stop early; the device knows no abort of a write.
  const bool readRunning = !jobs_.empty() && jobs_.front().kind != JobKind::Write &&
                           jobs_.front().kind != JobKind::Close;
  stopButton_->setVisible(!jobs_.empty());
  stopButton_->setEnabled(readRunning && !closing_);
  UpdateProgress();
}

void CEPViewDlg::UpdateProgress() {
  if (jobs_.empty()) {
    // Idle, the bar stays in its place, empty.
    progressTimer_.stop();
    progress_->setRange(0, 100);
    progress_->setValue(0);
    return;
  }
  const JobKind kind = jobs_.front().kind;
  if (kind == JobKind::Write && uploadRunning_) {
    progressTimer_.stop();
    if (progress_->maximum() != 100) progress_->setRange(0, 100);
    return;
  }
  if (kind == JobKind::Read) {
    const CEPSysExLink::JobProgress p = model_.Client().Progress();
    progress_->setRange(0, 1000);
    progress_->setValue(p.expected ? static_cast<int>(std::min<uint64_t>(p.done, p.expected) * 1000 / p.expected) : 0);
    if (!progressTimer_.isActive()) progressTimer_.start(times.progressPollMs);
    return;
  }
  progressTimer_.stop();
  progress_->setRange(0, 0);  // busy
}

// ---------------------------------------------------------------- list --

QStringList CEPViewDlg::InfoLines() const {
  QStringList lines;
  for (int i = 0; i < infoList_->count(); ++i) lines << infoList_->item(i)->text();
  return lines;
}

void CEPViewDlg::ShowInfo(const std::vector<std::string>& lines) {
  infoList_->clear();
  for (const std::string& line : lines) infoList_->addItem(ToQString(line));
}

void CEPViewDlg::AddInfo(const std::string& line) {
  infoList_->addItem(ToQString(line));
  infoList_->setCurrentRow(infoList_->count() - 1);
}

void CEPViewDlg::ShowDisplay(const std::string& text) {
  display_->text = text;
  display_->update();
}

void CEPViewDlg::ClearPreview() {
  preview_->channelCount = 1;
  preview_->SetData({});
  preview_->update();
}

void CEPViewDlg::RebuildList() {
  listing_ = BuildManagerListing(snapshot_);
  const QSignalBlocker block(fileList_);
  fileList_->clear();
  for (const ManagerLine& line : listing_.lines) fileList_->addItem(ToQString(line.text));
  infoList_->clear();
  ++choiceSerial_;
  choice_ = {};
  selection_ = {};
}

void CEPViewDlg::OnFileSelChange() { SelectRow(fileList_->currentRow(), false); }

void CEPViewDlg::SelectRow(int row, bool delayDetails) {
  ++choiceSerial_;
  StopSelectionJobs();
  choice_ = ChooseLine(listing_, snapshot_, row);
  selection_ = choice_.selection;
  ShowInfo(choice_.info);
  if (choice_.display) ShowDisplay(*choice_.display);
  if (choice_.clearPreview) ClearPreview();
  if (!choice_.needsDevice) return;
  if (delayDetails) {
    searchTimer_.start(times.searchDelayMs);
  } else {
    StartDetailsJob();
  }
}

void CEPViewDlg::StartDetailsJob() {
  searchTimer_.stop();
  if (closing_ || !choice_.needsDevice) return;
  const uint64_t serial = choiceSerial_;
  const ManagerSelection selection = selection_;
  const bool known = choice_.metadataKnown;
  RunJob(JobKind::Select, [this, serial, selection, known]() -> std::function<void()> {
    SelectionDetails details = model_.LoadDetails(selection, known);
    return [this, serial, details = std::move(details)] {
      // Another line was chosen meanwhile: this one is old news.
      if (serial != choiceSerial_ || details.cancelled) return;
      ApplyDetails(choice_, details, snapshot_);
      selection_ = choice_.selection;
      ShowInfo(choice_.info);
      if (details.previewRead) {
        preview_->channelCount = details.previewChannels;
        preview_->SetData(details.preview);
        preview_->update();
      }
    };
  });
}

// ---------------------------------------------------------------- connect --

void CEPViewDlg::OnConnect() {
  if (Busy() || closing_) return;
  StopSelectionJobs();
  RunJob(JobKind::Connect, [this]() -> std::function<void()> {
    const ManagerOutcome outcome = model_.Connect();
    return [this, outcome] {
      if (outcome.cancelled) {
        ShowDisplay(MakeEpDisplayName("Press Connect"));
      } else if (!outcome.ok) {
        ShowDisplay(MakeEpDisplayName("ERROR"));
        if (outcome.box) ShowBox(*outcome.box);
      } else {
        RebuildList();
        ShowDisplay(MakeEpDisplayName("CONNECTED"));
      }
    };
  });
}

void CEPViewDlg::OnStop() {
  if (jobs_.empty()) return;
  const Job& job = jobs_.front();
  if (job.kind == JobKind::Write || job.kind == JobKind::Close) return;
  StopJob(job.id);
}

// ---------------------------------------------------------------- changes --

void CEPViewDlg::OnDeviceChanged(uint16_t /*fileId*/) {
  if (closing_ || refreshPending_) return;
  refreshPending_ = true;
  refreshTimer_.start(times.refreshMs);
}

void CEPViewDlg::OnRefreshTimer() {
  refreshPending_ = false;
  if (closing_) return;
  if (!jobs_.empty()) {
    refreshAfterJob_ = true;
    return;
  }
  ++refreshCount_;
  const int selected = fileList_->currentRow();
  const QModelIndex topIndex = fileList_->indexAt(QPoint(1, 1));
  const int topRow = topIndex.isValid() ? topIndex.row() : -1;
  RebuildList();
  const auto restoreTop = [&] {
    if (topRow >= 0 && topRow < fileList_->count()) {
      fileList_->scrollToItem(fileList_->item(topRow), QAbstractItemView::PositionAtTop);
    }
  };
  restoreTop();
  if (selected >= 0 && selected < fileList_->count()) {
    {
      const QSignalBlocker block(fileList_);
      fileList_->setCurrentRow(selected);
    }
    restoreTop();
    SelectRow(selected, false);
  }
}

// ---------------------------------------------------------------- search --

void CEPViewDlg::OnSearchChange() {
  const QByteArray text = searchEdit_->text().toUtf8();
  const std::optional<int> row = FindFirstLine(listing_.lines, std::string_view(text.constData(), text.size()));
  if (!row) return;
  {
    const QSignalBlocker block(fileList_);
    fileList_->setCurrentRow(*row);
    fileList_->scrollToItem(fileList_->item(*row), QAbstractItemView::PositionAtTop);
  }
  // The details wait until the typing pauses.
  SelectRow(*row, true);
}

void CEPViewDlg::OnSearchNext() {
  const QByteArray text = searchEdit_->text().toUtf8();
  const std::optional<int> row =
      FindNextLine(listing_.lines, std::string_view(text.constData(), text.size()), fileList_->currentRow());
  if (!row) return;
  {
    const QSignalBlocker block(fileList_);
    fileList_->setCurrentRow(*row);
    fileList_->scrollToItem(fileList_->item(*row), QAbstractItemView::PositionAtTop);
  }
  SelectRow(*row, false);
}

void CEPViewDlg::OnClearSearch() {
  searchEdit_->clear();
  searchEdit_->setFocus();
}

// ---------------------------------------------------------------- transfers --

void CEPViewDlg::ShowBox(const ManagerBox& box) { ShowMessage(box.text, box.icon); }

void CEPViewDlg::ShowOutcome(const ManagerOutcome& outcome) {
  if (outcome.replaceInfo) {
    ShowInfo(outcome.lines);
  } else {
    for (const std::string& line : outcome.lines) AddInfo(line);
  }
  if (outcome.box) ShowBox(*outcome.box);
}

void CEPViewDlg::OnDownload() {
  if (Busy() || closing_) return;
  const DownloadPlan plan = PlanDownload(selection_, snapshot_);
  if (plan.refusal) {
    ShowBox(*plan.refusal);
    return;
  }
  SaveFileRequest request;
  request.defaultPath = plan.proposedName;
  request.defaultExtension = plan.project ? "tar" : "wav";
  request.filter = plan.project ? kTarFilter : kWavFilter;
  request.promptOverwrite = true;
  const std::optional<fs::path> path = AskSaveFile(request);
  if (!path) return;
  StopSelectionJobs();
  const ManagerSelection selection = selection_;
  RunJob(JobKind::Read, [this, selection, path = *path]() -> std::function<void()> {
    const ManagerOutcome outcome = model_.Download(selection, path);
    return [this, outcome] { ShowOutcome(outcome); };
  });
}

void CEPViewDlg::OnUpload() {
  if (Busy() || closing_) return;
  const UploadPlan plan = PlanUpload(selection_, snapshot_);
  if (plan.refusal) {
    ShowBox(*plan.refusal);
    return;
  }
  if (plan.project) {
    UploadProjectTar();
    return;
  }
  OpenFileRequest request;
  request.filter = kWavFilter;
  const std::optional<fs::path> path = AskOpenFile(request);
  if (!path) return;
  const UploadTarget target = ChooseUploadTarget(selection_, snapshot_);
  if (target.refusal) {
    ShowBox(*target.refusal);
    return;
  }
  // The loader's own test, here: on the worker it could not show its box.
  if (const std::optional<std::string> refusal = CheckWavHeader(*path)) {
    ShowMessage(*refusal);
    return;
  }
  StopSelectionJobs();
  ShowInfo(UploadStartLines(target.slot));
  uploadRunning_ = true;
  progress_->setRange(0, 100);
  progress_->setValue(0);
  RunJob(JobKind::Write, [this, path = *path, slot = target.slot]() -> std::function<void()> {
    const ManagerOutcome outcome = model_.UploadSound(path, slot, [this](int percent) {
      QMetaObject::invokeMethod(this, [this, percent] { OnUploadProgress(percent); }, Qt::QueuedConnection);
    });
    return [this, outcome] {
      uploadRunning_ = false;
      ShowOutcome(outcome);
    };
  });
}

void CEPViewDlg::OnUploadProgress(int percent) {
  progress_->setRange(0, 100);
  progress_->setValue(percent);
  if (const std::optional<std::string> line = ManagerProgressPhase().LineFor(percent)) AddInfo(*line);
}

void CEPViewDlg::UploadProjectTar() {
  const uint16_t target = selection_.id;
  OpenFileRequest request;
  request.filter = kTarFilter;
  const std::optional<fs::path> path = AskOpenFile(request);
  if (!path) return;
  // Nothing is read of an archive the device would refuse.
  const ArchiveCheck check = CheckProjectArchive(*path);
  if (check.refusal) {
    ShowBox(*check.refusal);
    return;
  }
  StopSelectionJobs();
  ShowInfo(RestoreStartLines(target, check.size));
  RunJob(JobKind::Write, [this, path = *path, target]() -> std::function<void()> {
    const ManagerOutcome outcome = model_.RestoreProject(path, target);
    return [this, outcome] { ShowOutcome(outcome); };
  });
}

void CEPViewDlg::OnDelete() {
  if (Busy() || closing_) return;
  const DeletePlan plan = PlanDelete(selection_, snapshot_);
  if (plan.refusal) {
    ShowBox(*plan.refusal);
    return;
  }
  if (!AskYesNo(plan.question, MessageIcon::Question, MessageAnswer::No)) return;
  StopSelectionJobs();
  RunJob(JobKind::Write, [this, id = selection_.id]() -> std::function<void()> {
    const ManagerOutcome outcome = model_.Delete(id);
    return [this, outcome] { ShowOutcome(outcome); };
  });
}

void CEPViewDlg::OnSaveMetadata() {
  if (Busy() || closing_) return;
  if (!selection_.has) {
    ShowMessage("No file selected.\nPlease select a sound or project first.", MessageIcon::Information);
    return;
  }
  if (selection_.metadataText.empty()) {
    ShowMessage(selection_.isSound ? "No metadata available for the selected sound."
                                   : "No metadata available for the selected project.",
                MessageIcon::Information);
    return;
  }
  SaveFileRequest request;
  request.defaultPath = DownloadFileName(selection_.name, ".json");
  request.defaultExtension = "json";
  request.filter = kJsonFilter;
  const std::optional<fs::path> path = AskSaveFile(request);
  if (!path) return;
  ShowOutcome(CDeviceManagerModel::SaveMetadata(*path, selection_.metadataText));
}

// ---------------------------------------------------------------- closing --

void CEPViewDlg::accept() { CloseManager(QDialog::Accepted); }
void CEPViewDlg::reject() { CloseManager(QDialog::Rejected); }

void CEPViewDlg::CloseManager(int result) {
  if (closing_) return;
  closing_ = true;
  refreshTimer_.stop();
  searchTimer_.stop();
  // A read stops early; a write runs to its end (the device knows no abort).
  StopSelectionJobs();
  if (!jobs_.empty() && (jobs_.front().kind == JobKind::Connect || jobs_.front().kind == JobKind::Read)) {
    StopJob(jobs_.front().id);
  }
  RunJob(JobKind::Close, [this, result]() -> std::function<void()> {
    model_.Disconnect();
    return [this, result] { QDialog::done(result); };
  });
}

}  // namespace zandrel
