// The device manager dialog ("EP Deep Dive (experimental)"): browses an EP
// device's contents, shows a line's details, previews sounds, finds lines,
// and downloads, uploads and deletes.
//
// Everything it shows and decides comes from the display-free model
// (device/device_manager_model.h); the dialog puts it on screen and turns
// clicks into the model's calls.
//
// Threads: the dialog owns the model (and through it the device client) and
// one worker thread. Every request to the device is a job on that worker, one
// at a time; the user-interface thread never waits for the device. A job's
// result and a copy of the client's picture of the device (the snapshot, read
// by the list and every lookup) come back to the user-interface thread as a
// queued call. While a connect or a transfer runs, the list, the search and
// the buttons are disabled; "Stop" ends a read (connect, download, details)
// early. Closing waits for the running job (stopping a read), disconnects as
// the last job and then ends the dialog.
//
// Device events arrive through the client's change listener on the worker:
// it only posts the file id; half a second later the list is rebuilt from the
// snapshot, keeping the selected line and the scroll position.
//
// Messages and file choosers go through the process's message host and file
// dialog host, from the user-interface thread only.
#pragma once

#include <QDialog>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "device/device_manager_model.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace zandrel {

class CEpDisplayCtrl;
class CWaveformCtrl;

class CEPViewDlg final : public QDialog {
 public:
  // Delays, milliseconds (tests may shorten them).
  struct Times {
    int refreshMs = 500;      // from a device change to the rebuilt list
    int searchDelayMs = 300;  // from the last keystroke to the details job
    int progressPollMs = 50;  // progress of a download
  };
  Times times;

  // |midi| is the MIDI system the client uses (nullptr: the process's).
  explicit CEPViewDlg(MidiSystem* midi = nullptr, QWidget* parent = nullptr);
  ~CEPViewDlg() override;

  // ---- The handlers (user-interface thread) ----
  void OnConnect();
  void OnFileSelChange();
  void OnSearchChange();
  void OnSearchNext();
  void OnClearSearch();
  void OnDownload();
  void OnUpload();
  void OnDelete();
  void OnSaveMetadata();
  void OnStop();
  // Close and Escape.
  void accept() override;
  void reject() override;

  // ---- For the tests ----
  // The model's client: its console and time scale may be set before the
  // first job. Any other use races with the worker.
  CEPDeviceClient& Client() { return model_.Client(); }
  bool IsJobRunning() const { return !jobs_.empty(); }
  int RefreshCount() const { return refreshCount_; }
  const EPDeviceSnapshot& Snapshot() const { return snapshot_; }
  const ManagerSelection& Selection() const { return selection_; }
  QStringList InfoLines() const;
  QListWidget* FileList() const { return fileList_; }
  QListWidget* InfoList() const { return infoList_; }
  QLineEdit* SearchEdit() const { return searchEdit_; }
  QProgressBar* ProgressBar() const { return progress_; }
  CEpDisplayCtrl* Display() const { return display_; }
  CWaveformCtrl* Preview() const { return preview_; }
  QPushButton* ConnectButton() const { return connectButton_; }
  QPushButton* DownloadButton() const { return downloadButton_; }
  QPushButton* UploadButton() const { return uploadButton_; }
  QPushButton* DeleteButton() const { return deleteButton_; }
  QPushButton* StopButton() const { return stopButton_; }
  QPushButton* NextButton() const { return nextButton_; }

 private:
  enum class JobKind { Connect, Select, Read, Write, Close };
  struct Job {
    uint64_t id;
    JobKind kind;
    // Set when the job is no longer wanted: a queued one then does nothing.
    std::shared_ptr<std::atomic<bool>> dropped;
  };

  // Queues |work| on the worker. Its result, a function run on the
  // user-interface thread, runs after the snapshot was taken over.
  void RunJob(JobKind kind, std::function<std::function<void()>()> work);
  void JobFinished();
  // Stops the job |id| if it is the one running now.
  void StopJob(uint64_t id);
  // Stops a running or queued details job (a new selection supersedes it).
  void StopSelectionJobs();
  bool Busy() const;  // a connect, transfer or close is queued or running
  void UpdateControls();
  void UpdateProgress();

  void RebuildList();
  void OnDeviceChanged(uint16_t fileId);
  void OnRefreshTimer();
  void SelectRow(int row, bool delayDetails);
  void StartDetailsJob();
  void ShowInfo(const std::vector<std::string>& lines);
  void AddInfo(const std::string& line);
  void ShowDisplay(const std::string& text);
  void ClearPreview();
  void ShowOutcome(const ManagerOutcome& outcome);
  void ShowBox(const ManagerBox& box);
  void UploadProjectTar();
  void OnUploadProgress(int percent);
  void CloseManager(int result);

  QPushButton* connectButton_ = nullptr;
  QLineEdit* searchEdit_ = nullptr;
  QPushButton* nextButton_ = nullptr;
  QPushButton* clearButton_ = nullptr;
  QListWidget* fileList_ = nullptr;
  QListWidget* infoList_ = nullptr;
  CEpDisplayCtrl* display_ = nullptr;
  CWaveformCtrl* preview_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QPushButton* downloadButton_ = nullptr;
  QPushButton* uploadButton_ = nullptr;
  QPushButton* deleteButton_ = nullptr;
  QPushButton* saveMetadataButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;

  EPDeviceSnapshot snapshot_;
  ManagerListing listing_;
  ManagerSelection selection_;
  LineChoice choice_;       // the chosen line as shown
  uint64_t choiceSerial_ = 0;  // counts the choices; a details job applies only to its own
  bool choiceNeedsDevice_ = false;

  std::deque<Job> jobs_;  // queued or running, in order; the front one runs
  uint64_t nextJobId_ = 1;
  bool uploadRunning_ = false;
  bool closing_ = false;
  bool refreshPending_ = false;
  bool refreshAfterJob_ = false;
  int refreshCount_ = 0;
  QTimer refreshTimer_;
  QTimer searchTimer_;
  QTimer progressTimer_;

  // The job the worker runs now (0: none), for StopJob.
  std::mutex runningMutex_;
  uint64_t runningJob_ = 0;

  CDeviceManagerModel model_;
  std::unique_ptr<CDeviceWorker> worker_;  // started after the listener is in place
};

}  // namespace zandrel
