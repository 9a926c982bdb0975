// The editor's device commands: "Upload..." sends the open document to an
// empty slot of a connected EP device, "Download..." opens a sound of the
// device as the document. Each runs its modal dialog (device/ui/
// transfer_dialogs.h) and reports the outcome in the log pane.
//
// The document itself is never written by an upload: the device receives a
// copy made by CQuorvelDoc::SaveTempCopy in a private folder, deleted once the
// dialog has closed. A downloaded sound is opened from a private folder, then
// deleted; the document keeps no path to it.
#pragma once

#include <filesystem>

#include "commands/commands.h"

class QWidget;

namespace zandrel {

namespace cmd {
inline constexpr int kDeviceManager = 32888;
inline constexpr int kUploadToDevice = 32889;
inline constexpr int kDownloadFromDevice = 32891;
}  // namespace cmd

// Declares "Upload..." and "Download..." (the "&File" menu) and "EP
// Manager..." (the "&Tools" menu).
void DeclareDeviceCommands(CommandRegistry& registry, QWidget* parent);

void OnUploadToDevice(CommandContext& context, QWidget* parent);
void OnDownloadFromDevice(CommandContext& context, QWidget* parent);
// Stops playback and runs the device manager (device/ui/device_manager_dlg.h);
// it changes nothing of the document.
void OnDeviceManager(CommandContext& context, QWidget* parent);

// The end of a download: opens |file| as the document, untitled but named
// after the file and marked modified, then deletes the file and its private
// folder whether it opened or not. False when it did not open.
bool OpenDownloadedSound(CommandContext& context, const std::filesystem::path& file);

}  // namespace zandrel
