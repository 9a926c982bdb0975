// "Upload..." and "Download..." from the editor's File menu, against the
// simulated device: the open document goes to the device through its upload
// copy and comes back as a new untitled document with its regions; the
// copy and the downloaded file leave nothing behind; the document and its
// unsaved changes are left alone by an upload, and a download asks about
// them first.
#include "device/ui/device_commands.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "device/client_fixture.h"
#include "device/dialog_driver.h"
#include "device/transfer_dialog_model.h"
#include "device/ui/device_manager_dlg.h"
#include "device/ui/transfer_dialogs.h"
#include "platform/audio_output.h"
#include "platform/temp_folder.h"
#include "support/document_fakes.h"

namespace zandrel::test {
namespace {

namespace fs = std::filesystem;

class DeviceCommandsTest : public EditorOnFileTest {
 protected:
  void SetUp() override {
    sim.AttachTo(midi);
    previousMidi_ = SetMidiSystem(&midi);
  }
  void TearDown() override {
    EditorOnFileTest::TearDown();
    SetMidiSystem(previousMidi_);
    EXPECT_EQ(sim.FramingErrors(), 0);
    EXPECT_EQ(sim.SequenceErrors(), 0);
  }
  void Trigger(int command) { app->MainFrame().Action(command)->trigger(); }
  QString LastLogLine() { return app->MainFrame().outputPane->logList().Lines().back(); }
  void Select(CTransferDlg& dialog, const std::string& line) {
    const QList<QListWidgetItem*> found =
        dialog.SlotListBox()->findItems(QString::fromStdString(line), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << line;
    dialog.SlotListBox()->setCurrentItem(found.front());
  }

  MemoryMidiSystem midi;
  SimDevice sim;
  ConsoleCapture out;
  ConsoleCapture err;

 private:
  MidiSystem* previousMidi_ = nullptr;
};

TEST_F(DeviceCommandsTest, TheDocumentGoesToTheDeviceAndComesBackWithItsRegions) {
  ASSERT_TRUE(SaveThreeRegionSample(dir / "Kick.wav"));
  ASSERT_TRUE(StartEditor({QString::fromStdString((dir / "Kick.wav").string())}));
  CQuorvelDoc& doc = app->Document();
  CMainFrame& frame = app->MainFrame();
  // Unsaved work, which the upload must neither save nor change.
  doc.instrument.params.pan = 5;
  doc.SetModifiedFlag(true);
  const Bytes audio = doc.audio.data;
  const InstrumentData instrument = doc.instrument;

  fs::path copy;
  fs::path uploaded;
  {
    ModalDriver<CUploadDlg> driver([&](CUploadDlg& dialog) {
      dialog.Client().SetConsole(&out, &err);
      copy = dialog.CurrentPath();
      ASSERT_TRUE(WaitUntil([&] { return dialog.IsConnected(); }));
      Select(dialog, "   001 (empty)");
      dialog.NameEdit()->setText(QStringLiteral("Snare Long"));
      SaveScreenshot(dialog, "app_upload_dialog");
      dialog.ActionButton()->click();
      uploaded = dialog.CurrentPath();
    });
    Trigger(cmd::kUploadToDevice);
    EXPECT_EQ(driver.Opened(), 1);
  }
  // The copy sat alone in a private folder, took the typed name there, and
  // is gone with its folder.
  EXPECT_EQ(copy.filename(), "Kick.wav");
  EXPECT_EQ(copy.parent_path().parent_path(), ProcessTempFolder());
  EXPECT_EQ(uploaded, copy.parent_path() / "Snare Long.wav");
  EXPECT_FALSE(fs::exists(uploaded));
  EXPECT_FALSE(fs::exists(copy.parent_path()));
  EXPECT_EQ(LastLogLine(), QStringLiteral("File uploaded to EP device successfully!"));
  EXPECT_TRUE(doc.IsModified());
  EXPECT_EQ(doc.GetPathName(), dir / "Kick.wav");
  EXPECT_EQ(doc.audio.data, audio);
  EXPECT_EQ(doc.instrument.regions, instrument.regions);
  EXPECT_EQ(doc.instrument.params.pan, 5);
  const SimFile stored = sim.WithState([](SimState& s) { return *s.files.Find(1); });
  EXPECT_EQ(stored.name, "Snare Long");
  EXPECT_EQ(ParseDeviceJson(stored.metadata)["sound.pan"], 5);

  // Back from the device, after the question about the unsaved changes.
  host->Answer(MessageAnswer::No);
  fs::path downloaded;
  {
    ModalDriver<CDownloadDlg> driver([&](CDownloadDlg& dialog) {
      dialog.Client().SetConsole(&out, &err);
      ASSERT_TRUE(WaitUntil([&] { return dialog.IsConnected(); }));
      Select(dialog, "   001: Snare Long");
      SaveScreenshot(dialog, "app_download_dialog");
      dialog.ActionButton()->click();
      downloaded = dialog.DownloadPath();
    });
    Trigger(cmd::kDownloadFromDevice);
    EXPECT_EQ(driver.Opened(), 1);
  }
  EXPECT_EQ(host->Texts(), std::vector<std::string>{"Save changes to Kick.wav?"});
  EXPECT_EQ(doc.GetTitle(), "Snare Long.wav");
  EXPECT_TRUE(doc.GetPathName().empty());
  EXPECT_TRUE(doc.IsModified());
  EXPECT_EQ(frame.windowTitle(), QStringLiteral("Snare Long.wav[*] - Zandrel"));
  EXPECT_EQ(doc.audio.format.nSamplesPerSec, 46875u);
  EXPECT_EQ(doc.FrameCount(), 21258);
  // As the save steps left them in the copy: neighbouring zones share their boundary key.
  std::vector<Region> regions = ThreeRegionsAt46875();
  regions[0].hiKey = 60;
  regions[1].hiKey = 72;
  EXPECT_EQ(doc.instrument.regions, regions);
  EXPECT_EQ(doc.instrument.params.pan, 5);
  EXPECT_EQ(doc.instrument.params.pitch, 2);
  EXPECT_EQ(LastLogLine(), QStringLiteral("File downloaded from EP device and loaded successfully!"));
  EXPECT_EQ(downloaded.filename(), "Snare Long.wav");
  EXPECT_FALSE(fs::exists(downloaded));
  EXPECT_FALSE(fs::exists(downloaded.parent_path()));
  SaveScreenshot(frame, "app_after_download");
}

TEST_F(DeviceCommandsTest, ASoundThatArrivesWithoutItsMetadataIsAWarningInTheLog) {
  ASSERT_TRUE(SaveThreeRegionSample(dir / "Pad.wav"));
  ASSERT_TRUE(StartEditor({QString::fromStdString((dir / "Pad.wav").string())}));
  EXPECT_EQ(app->MainFrame().Action(cmd::kUploadToDevice)->text(), QStringLiteral("Upload..."));
  EXPECT_EQ(app->MainFrame().Action(cmd::kDownloadFromDevice)->text(), QStringLiteral("Download..."));
  ModalDriver<CUploadDlg> driver([&](CUploadDlg& dialog) {
    dialog.Client().SetConsole(&out, &err);
    ASSERT_TRUE(WaitUntil([&] { return dialog.IsConnected(); }));
    Select(dialog, "   001 (empty)");
    // The first metadata read of the upload is the free-space check.
    sim.InjectFault({.kind = SimFaultKind::ErrorStatus, .command = kSimCmdMetadata, .skip = 1});
    dialog.ActionButton()->click();
  });
  Trigger(cmd::kUploadToDevice);
  const QStringList lines = app->MainFrame().outputPane->logList().Lines();
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines.mid(lines.size() - 2),
            (QStringList{QStringLiteral("File uploaded to EP device successfully!"),
                         QStringLiteral("Warning: Failed to update extended metadata (regions)")}));
}

TEST_F(DeviceCommandsTest, ADownloadAsksAboutUnsavedChangesFirst) {
  ASSERT_TRUE(SaveThreeRegionSample(dir / "Kick.wav"));
  ASSERT_TRUE(StartEditor({QString::fromStdString((dir / "Kick.wav").string())}));
  app->Document().SetModifiedFlag(true);
  host->Answer(MessageAnswer::Cancel);
  ModalDriver<CDownloadDlg> driver([](CDownloadDlg&) {});
  Trigger(cmd::kDownloadFromDevice);
  EXPECT_EQ(driver.Opened(), 0);
  EXPECT_EQ(host->Texts(), std::vector<std::string>{"Save changes to Kick.wav?"});
  EXPECT_TRUE(sim.Requests().empty());
  EXPECT_EQ(app->Document().GetPathName(), dir / "Kick.wav");
  EXPECT_TRUE(app->Document().IsModified());
}

TEST_F(DeviceCommandsTest, NothingIsUploadedWithoutAudio) {
  ASSERT_TRUE(StartEditor());
  ModalDriver<CUploadDlg> driver([](CUploadDlg&) {});
  Trigger(cmd::kUploadToDevice);
  EXPECT_EQ(driver.Opened(), 0);
  EXPECT_EQ(host->Texts(), std::vector<std::string>{"No audio data loaded. Please open a WAV file first."});
  EXPECT_TRUE(sim.Requests().empty());
}

TEST_F(DeviceCommandsTest, ADownloadThatDoesNotOpenIsDeletedAllTheSame) {
  ASSERT_TRUE(SaveThreeRegionSample(dir / "Kick.wav"));
  ASSERT_TRUE(StartEditor({QString::fromStdString((dir / "Kick.wav").string())}));
  const fs::path folder = MakeDownloadFolder();
  WriteFileBytes(folder / "Broken.wav", Text("not a wav"));
  EXPECT_FALSE(OpenDownloadedSound(app->MainFrame().Context(), folder / "Broken.wav"));
  EXPECT_EQ(host->Texts(),
            (std::vector<std::string>{"This is not a valid RIFF file.", "Failed to load downloaded file."}));
  EXPECT_EQ(host->Shown().back().icon, MessageIcon::Error);
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(app->Document().GetPathName(), dir / "Kick.wav");
  EXPECT_EQ(app->Document().FrameCount(), 20000);
}

TEST_F(DeviceCommandsTest, ToolsMenuOpensTheManagerWhichConnectsAndLists) {
  sim.WithState([](SimState& s) { s.files.AddSound(3, "003 hat", 4, R"({"name":"Hat"})").data = {1, 2, 3, 4}; });
  ASSERT_TRUE(SaveThreeRegionSample(dir / "Kick.wav"));
  ASSERT_TRUE(StartEditor({QString::fromStdString((dir / "Kick.wav").string())}));
  MemoryAudioOutput output;
  ScopedAudioOutput outputScope(&output);
  app->MainFrame().view->StartPlayback();
  ASSERT_TRUE(app->MainFrame().view->IsPlaying());
  bool playingInside = true;
  QAction* tools = nullptr;
  for (QAction* a : app->MainFrame().menuBar()->actions()) {
    if (a->text() == QStringLiteral("&Tools")) tools = a;
  }
  ASSERT_NE(tools, nullptr);
  ASSERT_FALSE(tools->menu()->actions().isEmpty());
  EXPECT_EQ(tools->menu()->actions()[0]->text(), QStringLiteral("EP Manager..."));
  const size_t logLines = app->MainFrame().outputPane->logList().Lines().size();
  QStringList listed;
  {
    ModalDriver<CEPViewDlg> driver([&](CEPViewDlg& dialog) {
      playingInside = app->MainFrame().view->IsPlaying();
      dialog.Client().SetConsole(&out, &err);
      dialog.ConnectButton()->click();
      ASSERT_TRUE(WaitUntil([&] { return !dialog.IsJobRunning() && dialog.FileList()->count() > 0; }));
      for (int i = 0; i < dialog.FileList()->count(); ++i) listed << dialog.FileList()->item(i)->text();
      dialog.accept();
    });
    tools->menu()->actions()[0]->trigger();
    EXPECT_EQ(driver.Opened(), 1);
  }
  EXPECT_FALSE(playingInside);  // playback stopped before the manager opened
  EXPECT_TRUE(listed.contains(QStringLiteral("3     003 hat        Hat")));
  EXPECT_EQ(app->MainFrame().outputPane->logList().Lines().size(), logLines);  // no document change, no log
  EXPECT_FALSE(app->Document().IsModified());
}

}  // namespace
}  // namespace zandrel::test
