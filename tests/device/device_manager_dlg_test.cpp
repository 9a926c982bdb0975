// The device manager dialog against the simulated device, under the offscreen
// Qt platform: connecting, choosing lines (with and without device traffic),
// the search, the refresh after device changes, the transfers and deletion
// with their boxes, and the window staying alive while the device is slow,
// with Stop. Screenshots go to the build's screenshots folder.
#include "device/ui/device_manager_dlg.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <algorithm>

#include "client_fixture.h"
#include "device/ep_display.h"
#include "device/ui/ep_display_ctrl.h"
#include "dialog_driver.h"
#include "support/document_fakes.h"

namespace zandrel::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

Lines InfoOf(const CEPViewDlg& dialog) {
  Lines lines;
  for (const QString& line : dialog.InfoLines()) lines.push_back(line.toStdString());
  return lines;
}

bool Has(const Lines& lines, const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); }

int RowStarting(const QListWidget* list, const std::string& prefix) {
  for (int i = 0; i < list->count(); ++i) {
    if (list->item(i)->text().toStdString().starts_with(prefix)) return i;
  }
  ADD_FAILURE() << "no line " << prefix;
  return -1;
}

class ManagerDialogTest : public SimClientTest {
 protected:
  void SetUp() override {
    SimClientTest::SetUp();
    sim.WithState([](SimState& s) {
      SimFile& kick = s.files.AddSound(1, "001 kick", 0, R"({"name":"Kick","channels":1,"samplerate":46875})");
      kick.data = Pcm16(Sine(8000, 3000, 46875));
      kick.size = static_cast<uint32_t>(kick.data.size());
      SimFile& snare = s.files.AddSound(5, "005 snare", 0, R"({"name":"Snare","channels":1,"samplerate":46875})");
      snare.data = Pcm16(Sine(4000, 300, 46875));
      snare.size = static_cast<uint32_t>(snare.data.size());
      s.files.AddSound(6, "006 factory", 4, R"({"name":"Factory"})", 0).data = {1, 2, 3, 4};
      s.files.AddDirectory(3001, kSimProjectsDir, "P01", R"({"name":"Song","bpm":120})").data = Bytes(3000, 7);
      s.files.AddDirectory(3100, 3001, "a", R"({"group":"A"})");
      s.files.AddDirectory(3200, 3100, "1");
      s.files.Add({3300, 3200, kSimFlagUser, 10, "pad1", R"({"sym":1})", {}});
      s.files.Add({3301, 3200, kSimFlagUser, 10, "pad2", R"({"sym":7})", {}});
      s.files.Add({3302, 3200, kSimFlagUser, 10, "pad3", R"({"sym":1200})", {}});
    });
    dialog = std::make_unique<CEPViewDlg>(&midi);
    dialog->times = {150, 300, 20};
    dialog->Client().SetConsole(&out, &err);
    dialog->show();
  }
  void TearDown() override {
    dialog.reset();
    SimClientTest::TearDown();
  }

  bool Idle() {
    return WaitUntil([&] { return !dialog->IsJobRunning(); });
  }
  bool Connect() {
    dialog->ConnectButton()->click();
    return Idle() && dialog->Snapshot().connected;
  }
  void Choose(const std::string& prefix) {
    dialog->FileList()->setCurrentRow(RowStarting(dialog->FileList(), prefix));
    Idle();
  }
  size_t Traffic() const { return sim.Requests().size(); }
  SimFile Stored(uint16_t id) {
    return sim.WithState([&](SimState& s) { return s.files.Find(id) ? *s.files.Find(id) : SimFile{}; });
  }
  std::string DisplayText() const { return dialog->Display()->text; }
  // With no job running the bar stays shown, empty.
  void ExpectIdleBar() const {
    const QProgressBar* bar = dialog->ProgressBar();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_GT(bar->maximum(), 0);  // not the busy indicator
    EXPECT_EQ(bar->value(), bar->minimum());
  }

  ScriptedFileDialogs files;
  std::unique_ptr<CEPViewDlg> dialog;
};

TEST_F(ManagerDialogTest, TheProgressBarIsShownEmptyFromTheStart) {
  ExpectIdleBar();
  SaveScreenshot(*dialog, "device_manager_start");
  ASSERT_TRUE(Connect());
  ExpectIdleBar();
}

TEST_F(ManagerDialogTest, FailedConnectSaysWhyAndKeepsTheLists) {
  EXPECT_EQ(DisplayText(), MakeEpDisplayName("Press Connect"));
  sim.UnplugPorts(true);
  dialog->ConnectButton()->click();
  ASSERT_TRUE(Idle());
  ASSERT_EQ(host.Shown().size(), 1u);
  EXPECT_EQ(host.Shown()[0].icon, MessageIcon::Error);
  EXPECT_FALSE(host.Shown()[0].text.empty());
  EXPECT_EQ(DisplayText(), MakeEpDisplayName("ERROR"));
  EXPECT_EQ(dialog->FileList()->count(), 0);
  ExpectIdleBar();
}

TEST_F(ManagerDialogTest, SoundWithPreviewAndOneSelectNotice) {
  ASSERT_TRUE(Connect());
  EXPECT_EQ(DisplayText(), MakeEpDisplayName("CONNECTED"));
  EXPECT_EQ(dialog->FileList()->item(0)->text(), "Connected Device SKU: TE133AS007");
  sim.ClearRequests();
  Choose("1     001 kick");
  const Lines info = InfoOf(*dialog);
  ASSERT_GE(info.size(), 8u);
  EXPECT_EQ(info[0], "File ID: 1");
  EXPECT_EQ(info[2], "File Size: 16000 bytes");
  EXPECT_TRUE(Has(info, "name: Kick"));
  EXPECT_EQ(DisplayText(), MakeEpDisplayName("Kick"));
  EXPECT_FALSE(dialog->Preview()->Preview().Lane(0).empty());
  EXPECT_EQ(RequestPayloads(sim, kCmdSoundSelect).size(), 1u);
  EXPECT_EQ(sim.WithState([](SimState& s) { return s.lastSelected; }), 1);
  // The preview shows the wave: strokes reach well above and below the
  // centre line in most of the strip.
  const QImage picture = dialog->Preview()->Render(QSize(400, 100));
  int above = 0, below = 0;
  for (int x = 0; x < picture.width(); ++x) {
    for (int y = 0; y < picture.height(); ++y) {
      if (QColor(picture.pixel(x, y)) != dialog->Preview()->waveformColour) continue;
      above += y < 40;
      below += y > 60;
    }
  }
  EXPECT_GT(above, 200);
  EXPECT_GT(below, 200);
  SaveScreenshot(*dialog, "device_manager_sound");
}

TEST_F(ManagerDialogTest, EmptySlotAndHeaderLinesSendNothing) {
  ASSERT_TRUE(Connect());
  Choose("1     001 kick");
  sim.ClearRequests();
  Choose("2     <empty>");
  EXPECT_EQ(InfoOf(*dialog), (Lines{"File ID: 2", "File Name: ", "File Size: 0 bytes", "Type: Sound", "", "Metadata:",
                                    std::string(40, '-'), "No metadata available"}));
  EXPECT_EQ(DisplayText(), MakeEpDisplayName("* empty *"));
  EXPECT_TRUE(dialog->Preview()->Preview().Lane(0).empty());
  Choose("Sounds Directory:");
  EXPECT_EQ(InfoOf(*dialog), (Lines{"Selected item:", std::string(40, '-'), "Sounds Directory:"}));
  EXPECT_EQ(Traffic(), 0u);
}

TEST_F(ManagerDialogTest, ProjectTreeWithItsSounds) {
  ASSERT_TRUE(Connect());
  Choose("[DIR]  ID:3001");
  const Lines info = InfoOf(*dialog);
  EXPECT_EQ(DisplayText(), MakeEpDisplayName("PROJ P01"));
  const auto used = std::find(info.begin(), info.end(), "Used Sounds:");
  ASSERT_NE(used, info.end());
  EXPECT_EQ(Lines(used + 1, used + 4), (Lines{"001    Kick", "007    <not found>", "1200    SYNTH"}));
  EXPECT_TRUE(Has(info, "            name: pad1"));
  EXPECT_EQ(RequestPayloads(sim, kCmdSoundSelect).size(), 0u);
  SaveScreenshot(*dialog, "device_manager_project");
}

TEST_F(ManagerDialogTest, TypingSendsOneSelectNoticeAndNextWraps) {
  ASSERT_TRUE(Connect());
  sim.ClearRequests();
  QTest::keyClicks(dialog->SearchEdit(), "snare");
  const int row = dialog->FileList()->currentRow();
  EXPECT_EQ(row, RowStarting(dialog->FileList(), "5     005 snare"));
  QTest::qWait(400);
  ASSERT_TRUE(Idle());
  EXPECT_EQ(RequestPayloads(sim, kCmdSoundSelect).size(), 1u);
  EXPECT_EQ(sim.WithState([](SimState& s) { return s.lastSelected; }), 5);
  EXPECT_EQ(InfoOf(*dialog)[0], "File ID: 5");

  // "Next" from the last match wraps to the first one above it.
  dialog->SearchEdit()->setText("directory id");
  dialog->FileList()->setCurrentRow(RowStarting(dialog->FileList(), "Projects Directory ID"));
  Idle();
  dialog->NextButton()->click();
  Idle();
  EXPECT_EQ(dialog->FileList()->currentRow(), RowStarting(dialog->FileList(), "Sounds Directory ID: 2000"));
  dialog->SearchEdit()->setText("no such line");
  dialog->NextButton()->click();
  EXPECT_EQ(dialog->FileList()->currentRow(), RowStarting(dialog->FileList(), "Sounds Directory ID: 2000"));
}

TEST_F(ManagerDialogTest, DownloadsASoundAndAProject) {
  ASSERT_TRUE(Connect());
  Choose("1     001 kick");
  files.Answer(dir / "Kick.wav");
  dialog->DownloadButton()->click();
  ASSERT_TRUE(Idle());
  ASSERT_EQ(files.saveRequests.size(), 1u);
  EXPECT_EQ(files.saveRequests[0].defaultPath, fs::path("Kick.wav"));
  EXPECT_EQ(files.saveRequests[0].defaultExtension, "wav");
  ASSERT_EQ(host.Shown().size(), 1u);
  EXPECT_EQ(host.Shown()[0].text, "File downloaded successfully:\n" + (dir / "Kick.wav").string() +
                                      "\n\nSize: 16000 bytes\nChannels: 1\nSample Rate: 46875 Hz");
  CWavLoader wav;
  ASSERT_TRUE(wav.Load(dir / "Kick.wav"));
  EXPECT_EQ(wav.data, Pcm16(Sine(8000, 3000, 46875)));

  Choose("[DIR]  ID:3001");
  files.Answer(dir / "P01.tar");
  dialog->DownloadButton()->click();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(files.saveRequests.back().defaultPath, fs::path("P01.tar"));
  EXPECT_EQ(host.Shown().back().text, "Project downloaded successfully:\n" + (dir / "P01.tar").string());
  EXPECT_EQ(ReadFileBytes(dir / "P01.tar"), Bytes(3000, 7));
}

TEST_F(ManagerDialogTest, UploadRefusalsComeBeforeAnyTraffic) {
  dialog->UploadButton()->click();  // not connected: no file dialog either
  EXPECT_EQ(host.Texts(), (Lines{"Not connected to device. Please connect first."}));

  ASSERT_TRUE(Connect());
  WriteFileBytes(dir / "Hat.wav", MakePcm16Wav(Sine(1000, 440, 46875), 1, 46875));
  WriteFileBytes(dir / "notes.wav", Bytes{'t', 'e', 'x', 't', ' ', 'f', 'i', 'l', 'e', '!', '!', '!'});
  Choose("1     001 kick");
  sim.ClearRequests();
  files.Answer(dir / "Hat.wav");
  dialog->UploadButton()->click();
  EXPECT_EQ(host.Texts().back(), "The Slot is not empty");
  Choose("2     <empty>");
  files.Answer(dir / "notes.wav");
  dialog->UploadButton()->click();
  EXPECT_EQ(host.Texts().back(), "This is not a valid RIFF file.");
  EXPECT_FALSE(dialog->IsJobRunning());
  EXPECT_EQ(RequestPayloads(sim, kCmdUpload).size(), 0u);
  EXPECT_EQ(Traffic(), 0u);
}

TEST_F(ManagerDialogTest, UploadInProgressKeepsTheWindowAlive) {
  ASSERT_TRUE(Connect());
  Choose("2     <empty>");
  // Enough audio for a few dozen chunks, each answered late.
  WriteFileBytes(dir / "Pad.wav", MakePcm16Wav(Sine(60000, 220, 46875), 1, 46875));
  sim.InjectFault({.kind = SimFaultKind::LateReply, .command = kSimCmdUpload, .times = -1,
                   .delay = std::chrono::milliseconds(15)});
  files.Answer(dir / "Pad.wav");
  dialog->UploadButton()->click();
  ASSERT_TRUE(WaitUntil([&] { return dialog->ProgressBar()->value() >= 70; }));
  EXPECT_TRUE(dialog->IsJobRunning());
  EXPECT_FALSE(dialog->StopButton()->isEnabled());  // an upload cannot stop halfway
  EXPECT_FALSE(dialog->FileList()->isEnabled());
  EXPECT_FALSE(dialog->DownloadButton()->isEnabled());
  EXPECT_TRUE(Has(InfoOf(*dialog), "Uploading to slot 2..."));
  SaveScreenshot(*dialog, "device_manager_upload");
  ASSERT_TRUE(Idle());
  const Lines info = InfoOf(*dialog);
  EXPECT_TRUE(Has(info, "File uploaded successfully!")) << dialog->InfoLines().join('\n').toStdString();
  EXPECT_EQ(Stored(2).name, "Pad");
  EXPECT_TRUE(dialog->FileList()->isEnabled());
  ExpectIdleBar();
}

TEST_F(ManagerDialogTest, ProjectRestoreAndItsRefusals) {
  ASSERT_TRUE(Connect());
  Choose("[DIR]  ID:3001");
  WriteFileBytes(dir / "backup.tar", Bytes(5000, 3));
  files.Answer(dir / "backup.tar");
  dialog->UploadButton()->click();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(host.Texts().back(), "Project uploaded successfully!");
  EXPECT_EQ(Stored(3001).data, Bytes(5000, 3));
  EXPECT_EQ(InfoOf(*dialog), (Lines{"Uploading project to slot 3001...", "File size: 5000 bytes", "",
                                    "Project uploaded successfully!", "Waiting for device confirmation..."}));

  // Too big for the device: nothing is read or sent.
  std::filesystem::resize_file(dir / "backup.tar", 4194305);
  sim.ClearRequests();
  files.Answer(dir / "backup.tar");
  dialog->UploadButton()->click();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(host.Texts().back(), "The project archive is 4194305 bytes; the device accepts at most 4194304 bytes.");
  EXPECT_EQ(Traffic(), 0u);
}

TEST_F(ManagerDialogTest, RestoreWithoutProjectsDirectoryFails) {
  ASSERT_TRUE(Connect());
  Choose("[DIR]  ID:3001");
  sim.WithState([](SimState& s) { s.files.Find(kSimProjectsDir)->name = "gone"; });
  WriteFileBytes(dir / "backup.tar", Bytes(100, 3));
  files.Answer(dir / "backup.tar");
  dialog->UploadButton()->click();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(host.Shown().back().text, "Failed to upload project to device.");
  EXPECT_EQ(host.Shown().back().icon, MessageIcon::Error);
  EXPECT_TRUE(Has(InfoOf(*dialog), "*** UPLOAD FAILED ***"));
  EXPECT_TRUE(err.WaitFor("[Error] Could not find /projects directory."));
  EXPECT_EQ(RequestPayloads(sim, kCmdUpload).size(), 0u);
}

TEST_F(ManagerDialogTest, DeleteAsksWithNoAsDefaultAndRefreshesOnce) {
  ASSERT_TRUE(Connect());
  Choose("[DIR]  ID:3001");
  dialog->DeleteButton()->click();
  EXPECT_EQ(host.Texts().back(), "Cannot delete projects.\n\nOnly individual sound files can be deleted.");

  Choose("5     005 snare");
  const Lines before = InfoOf(*dialog);
  sim.ClearRequests();
  host.Answer(MessageAnswer::No);
  dialog->DeleteButton()->click();
  EXPECT_EQ(host.Shown().back().text, "Delete sound file?\n\nID: 5\nName: 005 snare\n\nThis action cannot be undone.");
  EXPECT_EQ(host.Shown().back().defaultAnswer, MessageAnswer::No);
  EXPECT_EQ(Traffic(), 0u);
  EXPECT_EQ(InfoOf(*dialog), before);

  // Scroll the list so that its top line is not the first, keep a line chosen.
  dialog->FileList()->scrollToItem(dialog->FileList()->item(300), QAbstractItemView::PositionAtTop);
  const int top = dialog->FileList()->verticalScrollBar()->value();
  ASSERT_GT(top, 0);
  // A second change arrives with the deletion's own: one refresh for both.
  sim.SendEvent({0x0A, 0x06, 0x00});
  ASSERT_TRUE(WaitUntil([&] { return !dialog->Client().QueuedEvents().empty(); }));
  host.Answer(MessageAnswer::Yes);
  dialog->DeleteButton()->click();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(InfoOf(*dialog), Lines{"Deleting file 5...\n\nWaiting for device confirmation."});
  EXPECT_EQ(Stored(5).id, 0);
  QTest::qWait(500);
  ASSERT_TRUE(Idle());
  EXPECT_EQ(dialog->RefreshCount(), 1);
  EXPECT_EQ(dialog->FileList()->currentItem()->text().toStdString(), "5     <empty>");
  EXPECT_EQ(dialog->FileList()->verticalScrollBar()->value(), top);
  EXPECT_EQ(DisplayText(), MakeEpDisplayName("* empty *"));
}

TEST_F(ManagerDialogTest, StopDuringConnectLeavesNoConnection) {
  // Enough sounds that the connect is still reading when Stop is pressed.
  sim.WithState([](SimState& s) {
    for (uint16_t slot = 100; slot < 160; ++slot) s.files.AddSound(slot, "x", 2, R"({"name":"X"})");
  });
  sim.InjectFault({.kind = SimFaultKind::LateReply, .command = kSimCmdMetadata, .times = -1,
                   .delay = std::chrono::milliseconds(30)});
  dialog->ConnectButton()->click();
  ASSERT_TRUE(WaitUntil([&] { return RequestPayloads(sim, kCmdMetadata).size() >= 2; }));
  // The window is alive meanwhile: its event loop runs this wait.
  EXPECT_TRUE(dialog->IsJobRunning());
  EXPECT_TRUE(dialog->ProgressBar()->isVisible());
  ASSERT_TRUE(dialog->StopButton()->isEnabled());
  dialog->StopButton()->click();
  ASSERT_TRUE(Idle());
  EXPECT_FALSE(dialog->Snapshot().connected);
  EXPECT_FALSE(dialog->Client().IsOpen());
  EXPECT_EQ(DisplayText(), MakeEpDisplayName("Press Connect"));
  EXPECT_TRUE(host.Shown().empty());
}

TEST_F(ManagerDialogTest, StopDuringDownloadWritesNoFile) {
  ASSERT_TRUE(Connect());
  Choose("1     001 kick");
  sim.WithState([](SimState& s) { s.readPageBytes = 200; });
  sim.InjectFault({.kind = SimFaultKind::LateReply, .command = kSimCmdRead, .times = -1,
                   .delay = std::chrono::milliseconds(20)});
  sim.ClearRequests();
  files.Answer(dir / "Kick.wav");
  dialog->DownloadButton()->click();
  ASSERT_TRUE(WaitUntil([&] { return RequestPayloads(sim, kCmdRead).size() >= 5; }));
  EXPECT_GT(dialog->ProgressBar()->maximum(), 0);  // bytes, not busy
  dialog->StopButton()->click();
  ASSERT_TRUE(Idle());
  EXPECT_FALSE(fs::exists(dir / "Kick.wav"));
  EXPECT_EQ(InfoOf(*dialog).back(), "Cancelled.");
  EXPECT_TRUE(host.Shown().empty());
  EXPECT_LT(RequestPayloads(sim, kCmdRead).size(), 81u);  // the whole sound takes 81
}

TEST_F(ManagerDialogTest, CloseDuringAReadEndsAfterIt) {
  ASSERT_TRUE(Connect());
  sim.InjectFault({.kind = SimFaultKind::LateReply, .command = kSimCmdRead, .times = -1,
                   .delay = std::chrono::milliseconds(20)});
  dialog->FileList()->setCurrentRow(RowStarting(dialog->FileList(), "1     001 kick"));
  ASSERT_TRUE(WaitUntil([&] { return !RequestPayloads(sim, kCmdRead).empty(); }));
  dialog->reject();
  EXPECT_TRUE(dialog->isVisible());  // the read ends first
  EXPECT_FALSE(dialog->FileList()->isEnabled());
  ASSERT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }));
  EXPECT_EQ(RequestPayloads(sim, kCmdSoundSelect).size(), 0u);
  EXPECT_FALSE(dialog->Client().IsOpen());
}

}  // namespace
}  // namespace zandrel::test
