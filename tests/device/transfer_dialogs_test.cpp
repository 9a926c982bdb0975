// The upload and download dialogs against the simulated device, under the
// offscreen Qt platform: connecting and retrying, the slot lists, the name
// shown as the device will show it, the transfers with every log line and
// box, and what the dialogs refuse. Screenshots go to the build's
// screenshots folder.
#include "device/ui/transfer_dialogs.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "client_fixture.h"
#include "device/ui/ep_display_ctrl.h"
#include "dialog_driver.h"
#include "platform/temp_folder.h"

namespace zandrel::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> TransferDialogsLines(const QStringList& list) {
  std::vector<std::string> lines;
  for (const QString& line : list) lines.push_back(line.toStdString());
  return lines;
}

std::vector<std::string> Rows(const QListWidget* list) {
  std::vector<std::string> rows;
  for (int i = 0; i < list->count(); ++i) rows.push_back(list->item(i)->text().toStdString());
  return rows;
}

int RowOf(const QListWidget* list, const std::string& text) {
  for (int i = 0; i < list->count(); ++i) {
    if (list->item(i)->text().toStdString() == text) return i;
  }
  ADD_FAILURE() << "no line " << text;
  return -1;
}

// The log from the line |first| on, without the upload's progress line (its
// phase is remembered for the whole run, so whether it shows depends on the
// uploads before).
std::vector<std::string> LogFrom(const CTransferDlg& dialog, const std::string& first) {
  std::vector<std::string> lines = TransferDialogsLines(dialog.LogLines());
  lines.erase(lines.begin(), std::find(lines.begin(), lines.end(), first));
  std::erase(lines, "Uploading chunks to device...");
  return lines;
}

// The download folders in the process's temporary folder.
int DownloadFolders() {
  int count = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(ProcessTempFolder())) {
    count += entry.path().filename().string().starts_with("download-");
  }
  return count;
}

class TransferDialogTest : public SimClientTest {
 protected:
  void SetUp() override {
    SimClientTest::SetUp();
    previousMidi_ = SetMidiSystem(&midi);
  }
  void TearDown() override {
    SetMidiSystem(previousMidi_);
    SimClientTest::TearDown();
  }

  // Shows |dialog| without delays and waits until it is connected; false
  // when it was not (it may have closed).
  bool Open(CTransferDlg& dialog, int retryMs = 0) {
    dialog.times = {0, retryMs, 0};
    dialog.Client().SetConsole(&out, &err);
    dialog.show();
    WaitUntil([&] { return dialog.IsConnected() || !dialog.isVisible(); });
    return dialog.IsConnected();
  }
  bool WaitClosed(CTransferDlg& dialog) {
    return WaitUntil([&] { return !dialog.isVisible(); });
  }
  void Select(CTransferDlg& dialog, const std::string& line) {
    dialog.SlotListBox()->setCurrentRow(RowOf(dialog.SlotListBox(), line));
  }
  void FillDevice() {
    sim.WithState([](SimState& s) {
      for (uint16_t slot = 1; slot <= 999; ++slot) s.files.AddSound(slot, "S" + std::to_string(slot), 2);
    });
  }
  // A mono sound of |frames| frames at 46875 Hz with a metadata "name".
  void AddNamedSound(uint16_t slot, const std::string& name, size_t frames = 100) {
    AddSound(slot, name + ".pcm", Pcm16(Sine(frames, 440, 46875)),
             R"({"name":")" + name + R"(","channels":1,"samplerate":46875,"sound.rootnote":48})");
  }
  SimFile Stored(uint16_t id) {
    return sim.WithState([&](SimState& s) { return s.files.Find(id) ? *s.files.Find(id) : SimFile{}; });
  }

 private:
  MidiSystem* previousMidi_ = nullptr;
};

TEST_F(TransferDialogTest, UploadListsTheFirstEmptySlotOfEachGroupOrAll) {
  CUploadDlg dialog(dir / "Kick.wav");
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Upload: Kick.wav");
  EXPECT_FALSE(dialog.ProgressBar()->isVisible());
  ASSERT_TRUE(Open(dialog));
  EXPECT_EQ(TransferDialogsLines(dialog.LogLines()),
            (std::vector<std::string>{"Initializing...", "Attempting to connect to EP device...",
                                      "Connected successfully!", "Loading empty slots...", "Found 10 empty slots",
                                      "Ready to upload. Select a slot and click OK."}));
  const std::vector<std::string> rows = Rows(dialog.SlotListBox());
  ASSERT_EQ(rows.size(), 20u);
  EXPECT_EQ(rows[0], "Group 000");
  EXPECT_EQ(rows[1], "   001 (empty)");
  EXPECT_EQ(rows[18], "Group 900");
  EXPECT_EQ(rows[19], "   901 (empty)");
  EXPECT_FALSE(dialog.ActionButton()->isEnabled());
  EXPECT_TRUE(dialog.ShowFirstEmptyCheck()->isChecked());
  SaveScreenshot(dialog, "upload_dialog");

  dialog.ShowFirstEmptyCheck()->click();
  EXPECT_EQ(dialog.SlotListBox()->count(), 1009);
  EXPECT_EQ(dialog.LogLines().back().toStdString(), "Found 999 empty slots");
  EXPECT_TRUE(host.Shown().empty());
}

TEST_F(TransferDialogTest, AHeaderLineChoosesTheFirstEmptySlotOfItsGroup) {
  sim.WithState([](SimState& s) {
    for (uint16_t slot : {1, 2, 3, 101}) s.files.AddSound(slot, "taken", 2);
  });
  CUploadDlg dialog(dir / "Kick.wav");
  ASSERT_TRUE(Open(dialog));
  Select(dialog, "Group 000");
  EXPECT_EQ(dialog.SelectedSlot(), 4);
  EXPECT_EQ(dialog.LogLines().back().toStdString(), "Selected slot 4");
  EXPECT_TRUE(dialog.ActionButton()->isEnabled());
  Select(dialog, "Group 100");
  EXPECT_EQ(dialog.SelectedSlot(), 102);
  dialog.SlotListBox()->clearSelection();
  EXPECT_EQ(dialog.SelectedSlot(), 0);
  EXPECT_FALSE(dialog.ActionButton()->isEnabled());
  // Pressed anyway (the button is off): the dialog says what is missing.
  dialog.OnUploadClicked();
  EXPECT_EQ(host.Texts(), std::vector<std::string>{"Please select an empty slot first."});
  EXPECT_EQ(Count(kSimCmdUpload), 0u);
}

TEST_F(TransferDialogTest, TheNameIsSanitisedAndShownAsTheDeviceShowsIt) {
  CUploadDlg dialog(dir / "007 \"Big\" Kick.01.wav");
  // No slot prefix, no quotes, no extension (the sound-name rule drops ".01" too).
  EXPECT_EQ(dialog.NameEdit()->text().toStdString(), "Big Kick");
  EXPECT_EQ(dialog.Display()->text, "Big Kick        ");
  const struct {
    const char* typed;
    const char* shown;
  } cases[] = {
      {"Snare Long", "Snare Long      "},
      {"\xc5\x81"
       "ata \xc3\xa9",
       "?ata ?          "},  // one '?' per character outside ASCII
      {"a/b\\c.wav", "c               "},
      {"A name longer than sixteen", "A name longer th"},
      {"", "                "},
  };
  for (const auto& c : cases) {
    dialog.NameEdit()->setText(QString::fromUtf8(c.typed));
    EXPECT_EQ(dialog.Display()->text, c.shown) << c.typed;
  }
  EXPECT_EQ(NarrowDeviceText(QString::fromUtf8("\xc5\x81"
                                               "a\xf0\x9f\x8e\xb9")),
            "?a??");  // a surrogate pair is two

  dialog.NameEdit()->setText(QStringLiteral("Snare Long"));
  dialog.Display()->resize(480, 66);
  SaveScreenshot(*dialog.Display(), "upload_display_snare_long");
  EXPECT_EQ(dialog.Display()->grab().toImage().pixel(0, 0), dialog.Display()->backgroundColour);
}

TEST_F(TransferDialogTest, AFullDeviceOrAnEmptyOneIsSaidSo) {
  {
    CDownloadDlg download;
    ASSERT_TRUE(Open(download));
    EXPECT_EQ(LogFrom(download, "Found 0 occupied slots"),
              (std::vector<std::string>{"Found 0 occupied slots", "WARNING: No occupied slots available!",
                                        "Ready to download. Select a sound and click OK."}));
    ASSERT_EQ(host.Shown().size(), 1u);
    EXPECT_EQ(host.Shown()[0].text, "No sounds found on device.\n\nAll slots are empty.");
    EXPECT_EQ(host.Shown()[0].icon, MessageIcon::Warning);
    EXPECT_EQ(download.SlotListBox()->count(), 0);
  }
  FillDevice();
  CUploadDlg upload(dir / "Kick.wav");
  ASSERT_TRUE(Open(upload));
  EXPECT_EQ(LogFrom(upload, "Found 0 empty slots"),
            (std::vector<std::string>{"Found 0 empty slots", "WARNING: No empty slots available!",
                                      "Ready to upload. Select a slot and click OK."}));
  ASSERT_EQ(host.Shown().size(), 2u);
  EXPECT_EQ(host.Shown()[1].text, "No empty slots available on device.\n\nAll 999 slots are occupied.");
  EXPECT_EQ(host.Shown()[1].icon, MessageIcon::Warning);
  EXPECT_TRUE(upload.isVisible());
}

TEST_F(TransferDialogTest, AFailedConnectAsksWhetherToRetry) {
  sim.UnplugPorts(true);
  host.Answer(MessageAnswer::Yes);
  CUploadDlg dialog(dir / "Kick.wav");
  dialog.times = {0, 200, 0};
  dialog.Client().SetConsole(&out, &err);
  dialog.show();
  ASSERT_TRUE(WaitUntil([&] { return dialog.LogLines().contains(QStringLiteral("Retrying connection...")); }));
  sim.UnplugPorts(false);
  ASSERT_TRUE(WaitUntil([&] { return dialog.IsConnected(); }));
  EXPECT_EQ(TransferDialogsLines(dialog.LogLines()),
            (std::vector<std::string>{
                "Initializing...", "Attempting to connect to EP device...", "Connection failed:",
                "Failed to connect to EP device. Please ensure it is connected via USB-MIDI and EP Sample Tool is not "
                "opened in any browser.",
                "Retrying connection...", "Connected successfully!", "Loading empty slots...", "Found 10 empty slots",
                "Ready to upload. Select a slot and click OK."}));
  ASSERT_EQ(host.Shown().size(), 1u);
  EXPECT_EQ(
      host.Shown()[0].text,
      "Failed to connect to EP device.\n\nPlease ensure:\n- Device is connected via USB-MIDI\n- EP Sample Tool is "
      "not open in any browser\n\nRetry connection?");
  EXPECT_EQ(host.Shown()[0].icon, MessageIcon::Error);
  EXPECT_EQ(host.Shown()[0].buttons, MessageButtons::YesNo);

  // No: the dialog ends with Cancel.
  sim.UnplugPorts(true);
  host.Answer(MessageAnswer::No);
  CDownloadDlg download;
  EXPECT_FALSE(Open(download));
  EXPECT_FALSE(download.isVisible());
  EXPECT_EQ(download.result(), QDialog::Rejected);
  EXPECT_EQ(download.LogLines().back().toStdString(),
            "Failed to connect to EP device. Please ensure it is connected via USB-MIDI and EP Sample Tool is not "
            "opened in any browser.");
  EXPECT_EQ(host.PendingAnswers(), 0u);
}

TEST_F(TransferDialogTest, UploadMovesTheCopyToTheTypedNameAndClosesAfterSuccess) {
  fs::create_directory(dir / "own");
  ASSERT_TRUE(SaveThreeRegionSample(dir / "own" / "Kick.wav"));
  CUploadDlg dialog(dir / "own" / "Kick.wav");
  ASSERT_TRUE(Open(dialog));
  dialog.times.closeMs = 300;
  dialog.ShowFirstEmptyCheck()->click();
  Select(dialog, "   005 (empty)");
  dialog.NameEdit()->setText(QStringLiteral("Snare Long"));
  dialog.ActionButton()->click();

  EXPECT_EQ(
      LogFrom(dialog, "Uploading to slot 5..."),
      (std::vector<std::string>{"Uploading to slot 5...", "Loading WAV file...", "Validating and preparing format...",
                                "Preparing metadata...", "Checking device space...", "", "*** UPLOAD SUCCESSFUL ***",
                                "File uploaded successfully!", "Dialog will close automatically..."}));
  EXPECT_EQ(dialog.LogLines().front().toStdString(), "Uploading to slot 5...");  // the log was emptied first
  EXPECT_LE(dialog.LogLines().count(QStringLiteral("Uploading chunks to device...")), 1);
  EXPECT_EQ(dialog.CurrentPath(), dir / "own" / "Snare Long.wav");
  EXPECT_TRUE(fs::exists(dir / "own" / "Snare Long.wav"));
  EXPECT_FALSE(fs::exists(dir / "own" / "Kick.wav"));
  EXPECT_TRUE(dialog.TransferWarning().empty());
  EXPECT_FALSE(dialog.ProgressBar()->isVisible());
  EXPECT_EQ(dialog.ProgressBar()->value(), 95);
  const SimFile stored = Stored(5);
  EXPECT_EQ(stored.name, "Snare Long");
  EXPECT_EQ(ParseDeviceJson(stored.metadata)["regions"].size(), 3u);
  SaveScreenshot(dialog, "upload_dialog_done");

  // The half second before it closes: no way out but OK, and no second upload.
  QTest::keyClick(&dialog, Qt::Key_Escape);
  dialog.close();  // the close box
  dialog.OnUploadClicked();
  EXPECT_EQ(host.Texts(),
            (std::vector<std::string>{"Cannot cancel while upload is in progress.",
                                      "Cannot cancel while upload is in progress.", "Upload already in progress."}));
  ASSERT_TRUE(WaitClosed(dialog));
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(TransferDialogTest, TheCopyNeverReplacesAFileOfTheTypedName) {
  ASSERT_TRUE(SaveThreeRegionSample(dir / "Kick.wav"));
  WriteFileBytes(dir / "Snare.wav", Text("the user's own snare"));
  CUploadDlg dialog(dir / "Kick.wav");
  ASSERT_TRUE(Open(dialog));
  Select(dialog, "   001 (empty)");
  dialog.NameEdit()->setText(QStringLiteral("Snare"));
  dialog.ActionButton()->click();
  EXPECT_EQ(LogFrom(dialog, "Warning: Could not rename temp file (Error 17)"),
            (std::vector<std::string>{
                "Warning: Could not rename temp file (Error 17)", "   Old path: " + (dir / "Kick.wav").string(),
                "   New path: " + (dir / "Snare.wav").string(), "Uploading to slot 1...", "Loading WAV file...",
                "Validating and preparing format...", "Preparing metadata...", "Checking device space...", "",
                "*** UPLOAD SUCCESSFUL ***", "File uploaded successfully!", "Dialog will close automatically..."}));
  EXPECT_EQ(ReadFileBytes(dir / "Snare.wav"), Text("the user's own snare"));
  EXPECT_EQ(dialog.CurrentPath(), dir / "Kick.wav");
  EXPECT_EQ(Stored(1).name, "Kick");
  ASSERT_TRUE(WaitClosed(dialog));
}

TEST_F(TransferDialogTest, AFailedUploadLeavesTheDialogOpenForAnotherAttempt) {
  ASSERT_TRUE(SaveThreeRegionSample(dir / "Kick.wav"));
  CUploadDlg dialog(dir / "Kick.wav");
  ASSERT_TRUE(Open(dialog));
  Select(dialog, "   001 (empty)");
  sim.InjectFault({.kind = SimFaultKind::ErrorStatus, .command = kSimCmdUpload, .skip = 1});
  dialog.ActionButton()->click();
  EXPECT_EQ(LogFrom(dialog, ""),
            (std::vector<std::string>{"", "*** UPLOAD FAILED ***", "Failed to upload file to device."}));
  ASSERT_EQ(host.Shown().size(), 1u);
  EXPECT_EQ(host.Shown()[0].text, "Upload failed. See log for details.");
  EXPECT_EQ(host.Shown()[0].icon, MessageIcon::Error);
  EXPECT_FALSE(dialog.IsTransferRunning());
  EXPECT_TRUE(dialog.ActionButton()->isEnabled());
  EXPECT_TRUE(dialog.CloseButton()->isEnabled());
  EXPECT_TRUE(dialog.SlotListBox()->isEnabled());
  EXPECT_FALSE(dialog.ProgressBar()->isVisible());
  SaveScreenshot(dialog, "upload_dialog_failed");

  dialog.ActionButton()->click();
  EXPECT_EQ(dialog.LogLines().last().toStdString(), "Dialog will close automatically...");
  ASSERT_TRUE(WaitClosed(dialog));
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(Stored(1).name, "Kick");
}

TEST_F(TransferDialogTest, ASoundThatArrivesWithoutItsMetadataIsAWarning) {
  ASSERT_TRUE(SaveThreeRegionSample(dir / "Pad.wav"));
  CUploadDlg dialog(dir / "Pad.wav");
  ASSERT_TRUE(Open(dialog));
  Select(dialog, "   001 (empty)");
  // The first metadata read is the free-space check.
  sim.InjectFault({.kind = SimFaultKind::ErrorStatus, .command = kSimCmdMetadata, .skip = 1});
  dialog.ActionButton()->click();
  EXPECT_EQ(LogFrom(dialog, ""),
            (std::vector<std::string>{"", "*** UPLOAD SUCCESSFUL ***", "File uploaded successfully!",
                                      "Warning: Failed to update extended metadata (regions)",
                                      "Dialog will close automatically..."}));
  EXPECT_EQ(dialog.TransferWarning(), "Warning: Failed to update extended metadata (regions)");
  ASSERT_TRUE(WaitClosed(dialog));
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(TransferDialogTest, DownloadListsTheOccupiedSlotsAndShowsTheChosenSound) {
  AddNamedSound(100, "Kick");
  AddNamedSound(101, "Snare Long Name Here");
  CDownloadDlg dialog;
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Download from EP");
  EXPECT_EQ(dialog.Display()->text, "Select a sound  ");
  ASSERT_TRUE(Open(dialog));
  EXPECT_EQ(Rows(dialog.SlotListBox()),
            (std::vector<std::string>{"Group 000", "   100: Kick", "Group 100", "   101: Snare Long Name Here"}));
  EXPECT_EQ(TransferDialogsLines(dialog.LogLines()),
            (std::vector<std::string>{"Initializing...", "Attempting to connect to EP device... Please Wait",
                                      "Connected successfully!", "Loading occupied slots...", "Found 2 occupied slots",
                                      "Ready to download. Select a sound and click OK."}));
  Select(dialog, "   101: Snare Long Name Here");
  EXPECT_EQ(dialog.Display()->text, "Snare Long Name ");
  EXPECT_EQ(dialog.LogLines().back().toStdString(), "Selected slot 101");
  EXPECT_EQ(sim.WithState([](SimState& s) { return s.lastSelected; }), 101);
  SaveScreenshot(dialog, "download_dialog");
  Select(dialog, "Group 000");
  EXPECT_EQ(dialog.SelectedSlot(), 100);
  EXPECT_EQ(dialog.Display()->text, "Kick            ");
  dialog.SlotListBox()->clearSelection();
  EXPECT_EQ(dialog.Display()->text, "Select a sound  ");
  dialog.OnDownloadClicked();
  EXPECT_EQ(host.Texts(), std::vector<std::string>{"Please select a sound first."});

  // The sound went from the device after the list was made.
  sim.WithState([](SimState& s) { s.files.Remove(100); });
  ASSERT_TRUE(dialog.Client().RefreshFileList());
  Select(dialog, "   100: Kick");
  EXPECT_EQ(dialog.Display()->text, "                ");
  dialog.OnDownloadClicked();
  EXPECT_EQ(host.Texts().back(), "Selected slot is empty.");
  EXPECT_EQ(Count(kSimCmdRead), 0u);
}

TEST_F(TransferDialogTest, ADownloadStaysInItsOwnFolderWhateverTheSoundIsCalled) {
  AddNamedSound(7, "../../evil/Kick", 300);
  CDownloadDlg dialog;
  ASSERT_TRUE(Open(dialog));
  dialog.times.closeMs = 300;
  Select(dialog, "   007: ../../evil/Kick");
  dialog.ActionButton()->click();
  EXPECT_EQ(TransferDialogsLines(dialog.LogLines()),
            (std::vector<std::string>{"Downloading slot 7...", "Fetching sound data from device...",
                                      "Retrieving metadata...", "", "*** DOWNLOAD SUCCESSFUL ***",
                                      "File downloaded successfully!", "Dialog will close automatically..."}));
  const fs::path file = dialog.DownloadPath();
  EXPECT_EQ(file.filename(), ".._.._evil_Kick.wav");
  EXPECT_EQ(file.parent_path().parent_path(), ProcessTempFolder());
  EXPECT_TRUE(file.parent_path().filename().string().starts_with("download-"));
  CWavLoader wav;
  ASSERT_TRUE(wav.Load(file));
  EXPECT_EQ(wav.data, Pcm16(Sine(300, 440, 46875)));
  EXPECT_EQ(wav.format.nSamplesPerSec, 46875u);
  EXPECT_FALSE(dialog.ProgressBar()->isVisible());
  SaveScreenshot(dialog, "download_dialog_done");

  dialog.reject();
  dialog.OnDownloadClicked();
  EXPECT_EQ(host.Texts(), (std::vector<std::string>{"Cannot cancel while download is in progress.",
                                                    "Download already in progress."}));
  ASSERT_TRUE(WaitClosed(dialog));
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  DeleteTransferFile(file);
  EXPECT_FALSE(fs::exists(file.parent_path()));
}

TEST_F(TransferDialogTest, AFailedDownloadLeavesNothingBehind) {
  AddNamedSound(3, "Kick");
  CDownloadDlg dialog;
  ASSERT_TRUE(Open(dialog));
  const int folders = DownloadFolders();
  Select(dialog, "   003: Kick");
  sim.InjectFault({.kind = SimFaultKind::ErrorStatus, .command = kSimCmdRead});
  dialog.ActionButton()->click();
  EXPECT_EQ(LogFrom(dialog, ""),
            (std::vector<std::string>{"", "*** DOWNLOAD FAILED ***", "Failed to download file from device."}));
  EXPECT_EQ(host.Texts(), std::vector<std::string>{"Download failed. See log for details."});
  EXPECT_EQ(host.Shown()[0].icon, MessageIcon::Error);
  EXPECT_TRUE(dialog.DownloadPath().empty());
  EXPECT_EQ(DownloadFolders(), folders);
  EXPECT_FALSE(dialog.IsTransferRunning());
  EXPECT_TRUE(dialog.ActionButton()->isEnabled());
  EXPECT_TRUE(dialog.SlotListBox()->isEnabled());
  // Not transferring: Close closes.
  dialog.CloseButton()->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

}  // namespace
}  // namespace zandrel::test
