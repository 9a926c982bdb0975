// The upload and download dialogs: one sound between the editor and a
// connected EP device.
//
// Each dialog owns its own CEPDeviceClient, connects shortly after it is
// shown (timer 1; a failed connect asks whether to retry), lists the device's
// slots in groups of 100 (empty ones for an upload, occupied ones for a
// download), performs one transfer, keeps a log of its own in a list and ends
// with OK half a second after a successful transfer (timer 2). A failed
// transfer leaves it open for another attempt. While a transfer runs, and
// after one succeeded, the dialog refuses to be cancelled.
//
// Threads: the user-interface thread only. The connect and the transfer block
// that thread until the device has answered; meanwhile the dialog only
// repaints its log and progress bar. Pending events are dispatched once before
// a transfer, without user input, and the dialog's buttons and slot list are
// disabled from before that until the transfer has ended, so nothing can send
// a second request while one waits for its reply.
//
// Messages go through the process's message host (platform/message_host.h).
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "device/device_client.h"
#include "device/transfer_dialog_model.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace zandrel {

class CEpDisplayCtrl;

// The device's names are 8-bit text: every character outside ASCII becomes
// '?' (one per character), which the sound-name rules then keep as '?'.
std::string NarrowDeviceText(const QString& text);

// What the two dialogs share: the slot list, the log, the progress bar, the
// device display, the two buttons, the client and the two timers.
class CTransferDlg : public QDialog {
 public:
  // Delays of the two timers, milliseconds (tests shorten them).
  struct Times {
    int connectMs;      // timer 1 after the dialog is first shown
    int retryMs = 200;  // timer 1 again after "Retry connection?" was answered Yes
    int closeMs = 500;  // timer 2 after a successful transfer
  };
  Times times;

  ~CTransferDlg() override;

  // Timer 1: connects the client and fills the slot list.
  void OnConnectTimer();
  // The selection of the slot list changed.
  void OnSlotSelChange();
  // Appends a line to the dialog's log, selects it and repaints the log at
  // once (the thread may block right after).
  void AddLogLine(std::string_view text);

  uint16_t SelectedSlot() const { return selectedSlot_; }
  bool IsConnected() const { return connected_; }
  bool IsTransferRunning() const { return transferRunning_; }
  CEPDeviceClient& Client() { return client_; }

  // The controls, for the tests.
  QListWidget* SlotListBox() const { return slotList_; }
  QListWidget* LogListBox() const { return logList_; }
  QProgressBar* ProgressBar() const { return progress_; }
  CEpDisplayCtrl* Display() const { return display_; }
  QPushButton* ActionButton() const { return actionButton_; }
  QPushButton* CloseButton() const { return closeButton_; }
  QStringList LogLines() const;

  // Escape, the close box and the Cancel/Close button.
  void reject() override;

 protected:
  CTransferDlg(int connectMs, const QString& slotsLabel, const QString& actionText, const QString& closeText,
               QWidget* parent);

  void showEvent(QShowEvent* event) override;

  // The connect of this dialog; false with the client's last error.
  virtual bool ConnectClient() = 0;
  // Refills the slot list and logs what it found.
  virtual void FillSlotList() = 0;
  // The slot list's selection became |slot| (0: none).
  virtual void OnSlotSelected(uint16_t /*slot*/) {}
  // The refusal shown when the dialog is cancelled during a transfer.
  virtual const char* CancelRefusal() const = 0;
  virtual const char* LoadingLine() const = 0;
  virtual const char* ReadyLine() const = 0;

  // Fills the slot list with |list|; logs the count with |foundFormat| ("%d"),
  // and when nothing was found |warningLine| and the box |warningBox|.
  void ShowSlotList(const SlotList& list, const char* foundFormat, const char* warningLine, const char* warningBox);
  // Sets the display to MakeEpDisplayName(|text|).
  void ShowOnDisplay(const std::string& text);
  // The controls while a transfer runs (|running|) or again after it failed.
  void LockForTransfer(bool running, bool lockCloseButton);
  // Empties the log and shows the progress bar at 0.
  void StartProgress();
  // Repaints the log and the progress bar, then dispatches the pending events
  // other than user input.
  void FlushBeforeTransfer();
  // After a successful transfer: the closing lines and timer 2.
  void FinishSuccessfully(std::string_view banner, std::string_view done, const std::string& warning = {});
  // After a failed transfer: the banner, what went wrong, the controls back
  // and the error box |box|.
  void ReportFailure(std::string_view banner, const std::string& error, const char* box);

  QVBoxLayout* leftColumn_ = nullptr;  // under the slot list
  QVBoxLayout* extraRows_ = nullptr;   // above the display
  QListWidget* slotList_ = nullptr;
  QListWidget* logList_ = nullptr;
  QProgressBar* progress_ = nullptr;
  CEpDisplayCtrl* display_ = nullptr;
  QPushButton* actionButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  uint16_t selectedSlot_ = 0;
  bool connected_ = false;
  bool transferRunning_ = false;
  CEPDeviceClient client_;

 private:
  QTimer connectTimer_;  // timer 1
  QTimer closeTimer_;    // timer 2
  bool shown_ = false;
};

// "Upload...": sends a WAV file (the document's upload copy) to an empty slot
// under the name typed in the dialog. The copy is moved to that name first,
// within its own folder (never replacing another file), so the device takes
// the name from it; CurrentPath() tells where the copy is afterwards.
class CUploadDlg final : public CTransferDlg {
 public:
  explicit CUploadDlg(std::filesystem::path path, QWidget* parent = nullptr);

  void OnUploadClicked();
  void OnShowFirstEmptyClicked();
  void OnNameChange();
  // The client's progress callback (70..95 while the audio is sent).
  void OnUploadProgress(int percent);

  const std::filesystem::path& CurrentPath() const { return currentPath_; }
  // Set when the sound reached the device without its metadata: what went
  // wrong, for the editor's log.
  const std::string& TransferWarning() const { return warning_; }

  QLineEdit* NameEdit() const { return nameEdit_; }
  QCheckBox* ShowFirstEmptyCheck() const { return showFirstEmpty_; }

 protected:
  bool ConnectClient() override;
  void FillSlotList() override;
  const char* CancelRefusal() const override { return "Cannot cancel while upload is in progress."; }
  const char* LoadingLine() const override { return "Loading empty slots..."; }
  const char* ReadyLine() const override { return "Ready to upload. Select a slot and click OK."; }

 private:
  const std::filesystem::path path_;
  std::filesystem::path currentPath_;
  bool firstEmptyOnly_ = true;
  QString name_;
  std::string warning_;
  QLineEdit* nameEdit_ = nullptr;
  QCheckBox* showFirstEmpty_ = nullptr;
};

// "Download...": fetches the sound of an occupied slot into a WAV file in a
// private folder of its own; DownloadPath() names it after the dialog ended
// with OK (empty otherwise). Whoever opens it deletes it with
// DeleteTransferFile().
class CDownloadDlg final : public CTransferDlg {
 public:
  explicit CDownloadDlg(QWidget* parent = nullptr);

  void OnDownloadClicked();
  const std::filesystem::path& DownloadPath() const { return downloadPath_; }

 protected:
  bool ConnectClient() override;
  void FillSlotList() override;
  void OnSlotSelected(uint16_t slot) override;
  const char* CancelRefusal() const override { return "Cannot cancel while download is in progress."; }
  const char* LoadingLine() const override { return "Loading occupied slots..."; }
  const char* ReadyLine() const override { return "Ready to download. Select a sound and click OK."; }

 private:
  std::filesystem::path downloadPath_;
};

}  // namespace zandrel
