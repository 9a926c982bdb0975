#include "device/ui/device_commands.h"

#include <filesystem>

#include "device/transfer_dialog_model.h"
#include "device/ui/device_manager_dlg.h"
#include "device/ui/transfer_dialogs.h"
#include "platform/message_host.h"

namespace zandrel {
namespace fs = std::filesystem;

void DeclareDeviceCommands(CommandRegistry& r, QWidget* parent) {
  r.Add({.id = cmd::kUploadToDevice,
         .text = "Upload...",
         .menus = {{"&File", 400}},
         .run = WithDocument(OnUploadToDevice, parent)});
  r.Add({.id = cmd::kDownloadFromDevice,
         .text = "Download...",
         .menus = {{"&File", 401}},
         .run = WithDocument(OnDownloadFromDevice, parent)});
  r.Add({.id = cmd::kDeviceManager,
         .text = "EP Manager...",
         .menus = {{"&Tools", 100}},
         .run = WithDocument(OnDeviceManager, parent)});
}

namespace {

void AppendLog(CommandContext& c, const std::string& line) {
  if (LogSink* log = c.Log()) log->AppendLog(line);
}

}  // namespace

void OnUploadToDevice(CommandContext& c, QWidget* parent) {
  CQuorvelDoc& doc = *c.Document();
  c.StopPlayback();
  if (!doc.HasAudio()) {
    ShowMessage(kNoAudioOpenFileText, MessageIcon::Warning);
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

  CUploadDlg dialog(copy, parent);
  const int result = dialog.exec();
  DeleteTransferFile(dialog.CurrentPath());
  if (result != QDialog::Accepted) return;
  AppendLog(c, "File uploaded to EP device successfully!");
  if (!dialog.TransferWarning().empty()) AppendLog(c, dialog.TransferWarning());
}

void OnDownloadFromDevice(CommandContext& c, QWidget* parent) {
  c.StopPlayback();
  if (!c.SaveModified()) return;

  CDownloadDlg dialog(parent);
  if (dialog.exec() == QDialog::Accepted && !dialog.DownloadPath().empty())
    OpenDownloadedSound(c, dialog.DownloadPath());
}

void OnDeviceManager(CommandContext& c, QWidget* parent) {
  c.StopPlayback();
  CEPViewDlg dialog(nullptr, parent);
  dialog.exec();
}

bool OpenDownloadedSound(CommandContext& c, const fs::path& file) {
  CQuorvelDoc& doc = *c.Document();
  const bool opened = doc.LoadWav(file);
  if (opened) {
    // The file is about to go: a later save must ask for a place of its own
    // rather than offer the temporary one.
    doc.SetPathName({});
    doc.SetTitle(file.filename().string());
    doc.SetModifiedFlag(true);
    AppendLog(c, "File downloaded from EP device and loaded successfully!");
  } else {
    ShowMessage("Failed to load downloaded file.", MessageIcon::Error);
  }
  DeleteTransferFile(file);
  return opened;
}

}  // namespace zandrel
