#include "app/qt_hosts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace zandrel {
namespace {

QString ToQString(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::filesystem::path ToPath(const QString& s) { return std::filesystem::path(s.toStdString()); }
QString PathToQString(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

QString Key(std::string_view section, std::string_view key) { return ToQString(section) + "/" + ToQString(key); }

}  // namespace

MessageAnswer QtMessageHost::Show(std::string_view text, MessageIcon icon, MessageButtons buttons) {
  return ShowWithDefault(text, icon, buttons, MessageAnswer::Ok);
}

MessageAnswer QtMessageHost::ShowWithDefault(std::string_view text, MessageIcon icon, MessageButtons buttons,
                                             MessageAnswer defaultAnswer) {
  QMessageBox box(parent);
  box.setWindowTitle(QStringLiteral("Zandrel"));
  box.setText(ToQString(text));
  switch (icon) {
    case MessageIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MessageIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MessageIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
  }
  switch (buttons) {
    case MessageButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MessageButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MessageButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MessageButtons::YesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
  }
  switch (defaultAnswer) {
    case MessageAnswer::Yes: box.setDefaultButton(QMessageBox::Yes); break;
    case MessageAnswer::No: box.setDefaultButton(QMessageBox::No); break;
    case MessageAnswer::Cancel: box.setDefaultButton(QMessageBox::Cancel); break;
    case MessageAnswer::Ok: break;  // the box's own choice
  }
  switch (box.exec()) {
    case QMessageBox::Ok: return MessageAnswer::Ok;
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    default: return MessageAnswer::Cancel;
  }
}

QString QtFilterFromPipeList(const std::string& filter) {
  const QStringList parts = ToQString(filter).split('|', Qt::SkipEmptyParts);
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts[i];
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    // The names carry their patterns already ("WAV Files (*.wav)").
    out << (name.contains('(') ? name.section('(', 0, 0).trimmed() : name) + " (" + patterns + ")";
  }
  return out.join(";;");
}

std::optional<std::filesystem::path> QtFileDialogs::AskSaveFile(const SaveFileRequest& request) {
  QFileDialog dialog(parent, ToQString(request.title), PathToQString(request.defaultPath),
                     QtFilterFromPipeList(request.filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(ToQString(request.defaultExtension));
  if (!request.promptOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return ToPath(dialog.selectedFiles().front());
}

std::optional<std::filesystem::path> QtFileDialogs::AskOpenFile(const OpenFileRequest& request) {
  const QString file = QFileDialog::getOpenFileName(parent, ToQString(request.title),
                                                    PathToQString(request.defaultPath),
                                                    QtFilterFromPipeList(request.filter));
  if (file.isEmpty()) return std::nullopt;
  return ToPath(file);
}

std::optional<std::filesystem::path> QtFileDialogs::AskFolder(const std::filesystem::path& start) {
  const QString folder = QFileDialog::getExistingDirectory(parent, QString(), PathToQString(start));
  if (folder.isEmpty()) return std::nullopt;
  return ToPath(folder);
}

QtSettingsStore::QtSettingsStore()
    : settings_(std::make_unique<QSettings>(QStringLiteral("Zindermast"), QStringLiteral("Zandrel"))) {}

std::optional<std::string> QtSettingsStore::Read(std::string_view section, std::string_view key) const {
  const QVariant value = settings_->value(Key(section, key));
  if (!value.isValid()) return std::nullopt;
  return value.toString().toStdString();
}

void QtSettingsStore::Write(std::string_view section, std::string_view key, std::string_view value) {
  settings_->setValue(Key(section, key), ToQString(value));
}

}  // namespace zandrel
