// The app's implementations of the core's outside-world interfaces: message
// boxes and file choosers as Qt dialogs, settings in QSettings under
// "Zindermast" / "Zandrel" (one group per section).
#pragma once

#include <QSettings>
#include <QWidget>
#include <memory>

#include "platform/file_dialogs.h"
#include "platform/message_host.h"
#include "platform/settings.h"

namespace zandrel {

class QtMessageHost final : public MessageHost {
 public:
  MessageAnswer Show(std::string_view text, MessageIcon icon, MessageButtons buttons) override;
  MessageAnswer ShowWithDefault(std::string_view text, MessageIcon icon, MessageButtons buttons,
                                MessageAnswer defaultAnswer) override;
  // Boxes are centred on this window (the main frame once it exists).
  QWidget* parent = nullptr;
};

class QtFileDialogs final : public FileDialogHost {
 public:
  std::optional<std::filesystem::path> AskSaveFile(const SaveFileRequest& request) override;
  std::optional<std::filesystem::path> AskOpenFile(const OpenFileRequest& request) override;
  std::optional<std::filesystem::path> AskFolder(const std::filesystem::path& start) override;
  QWidget* parent = nullptr;
};

class QtSettingsStore final : public SettingsStore {
 public:
  QtSettingsStore();
  std::optional<std::string> Read(std::string_view section, std::string_view key) const override;
  void Write(std::string_view section, std::string_view key, std::string_view value) override;
  QSettings& qsettings() { return *settings_; }

 private:
  std::unique_ptr<QSettings> settings_;
};

// "WAV Files (*.wav)|*.wav|All Files (*.*)|*.*||" as a Qt filter list.
QString QtFilterFromPipeList(const std::string& filter);

}  // namespace zandrel
