#include "app/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace zandrel {
namespace {

QString Type(std::string_view type) { return QString::fromUtf8(type.data(), static_cast<qsizetype>(type.size())); }

}  // namespace

bool QtClipboardHost::HasData(std::string_view type) const {
  QClipboard* clipboard = QGuiApplication::clipboard();
  const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
  return data && data->hasFormat(Type(type));
}

std::optional<std::vector<uint8_t>> QtClipboardHost::GetData(std::string_view type) const {
  QClipboard* clipboard = QGuiApplication::clipboard();
  const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
  if (!data || !data->hasFormat(Type(type))) return std::nullopt;
  const QByteArray bytes = data->data(Type(type));
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

bool QtClipboardHost::SetData(std::string_view type, std::vector<uint8_t> bytes) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard) return false;
  auto* data = new QMimeData;
  data->setData(Type(type), QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                       static_cast<qsizetype>(bytes.size())));
  clipboard->setMimeData(data);  // the clipboard owns it now
  return HasData(type);
}

}  // namespace zandrel
