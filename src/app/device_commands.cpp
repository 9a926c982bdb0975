#include "app/device_commands.h"

#include <filesystem>

#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "device/transfer_dialog_model.h"
#include "device/ui/device_manager_dlg.h"
#include "device/ui/transfer_dialogs.h"
#include "platform/message_host.h"

namespace zandrel {
namespace fs = std::filesystem;

void DeclareDeviceCommands(CommandRegistry& r, CQuorvelApp& app) {
  CQuorvelApp* a = &app;
  r.Add({.id = cmd::kUploadToDevice,
         .text = "Upload...",
         .menus = {{"&File", 400}},
         .run = [a](CommandContext&) { OnUploadToDevice(*a); }});
  r.Add({.id = cmd::kDownloadFromDevice,
         .text = "Download...",
         .menus = {{"&File", 401}},
         .run = [a](CommandContext&) { OnDownloadFromDevice(*a); }});
  r.Add({.id = cmd::kDeviceManager,
         .text = "EP Manager...",
         .menus = {{"&Tools", 100}},
         .run = [a](CommandContext&) { OnDeviceManager(*a); }});
}

void OnUploadToDevice(CQuorvelApp& app) {
  CQuorvelDoc& doc = app.Document();
  CMainFrame& frame = app.MainFrame();
  frame.view->StopPlayback();
  if (!doc.HasAudio()) {
    ShowMessage("No audio data loaded. Please open a WAV file first.", MessageIcon::Warning);
    return;
  }
  fs::path copy = doc.SaveTempCopy();
  if (copy.empty()) {
    ShowMessage("Failed to save temporary file for upload.", MessageIcon::Error);
    return;
  }
  // The dialog renames the copy to the typed name: alone in its folder, it
  // cannot meet another file of that name.
  copy = MoveToOwnFolder(copy);

  CUploadDlg dialog(copy, &frame);
  const int result = dialog.exec();
  DeleteTransferFile(dialog.CurrentPath());
  if (result != QDialog::Accepted) return;
  frame.Log().AppendLog("File uploaded to EP device successfully!");
  if (!dialog.TransferWarning().empty()) frame.Log().AppendLog(dialog.TransferWarning());
}

void OnDownloadFromDevice(CQuorvelApp& app) {
  CMainFrame& frame = app.MainFrame();
  frame.view->StopPlayback();
  if (!app.SaveModified()) return;

  CDownloadDlg dialog(&frame);
  if (dialog.exec() == QDialog::Accepted && !dialog.DownloadPath().empty())
    OpenDownloadedSound(app, dialog.DownloadPath());
}

void OnDeviceManager(CQuorvelApp& app) {
  CMainFrame& frame = app.MainFrame();
  frame.view->StopPlayback();
  CEPViewDlg dialog(nullptr, &frame);
  dialog.exec();
}

bool OpenDownloadedSound(CQuorvelApp& app, const fs::path& file) {
  CQuorvelDoc& doc = app.Document();
  const bool opened = doc.LoadWav(file);
  if (opened) {
    // The file is about to go: a later save must ask for a place of its own
    // rather than offer the temporary one.
    doc.SetPathName({});
    doc.SetTitle(file.filename().string());
    doc.SetModifiedFlag(true);
    app.MainFrame().Log().AppendLog("File downloaded from EP device and loaded successfully!");
  } else {
    ShowMessage("Failed to load downloaded file.", MessageIcon::Error);
  }
  DeleteTransferFile(file);
  return opened;
}

}  // namespace zandrel
