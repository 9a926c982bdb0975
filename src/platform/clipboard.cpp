#include "platform/clipboard.h"

namespace zandrel {
namespace {
ClipboardHost* g_clipboardHost = nullptr;
}

ClipboardHost* CurrentClipboardHost() { return g_clipboardHost; }

ClipboardHost* SetClipboardHost(ClipboardHost* host) {
  ClipboardHost* previous = g_clipboardHost;
  g_clipboardHost = host;
  return previous;
}

std::optional<std::vector<uint8_t>> MemoryClipboard::GetData(std::string_view type) const {
  if (!HasData(type)) return std::nullopt;
  return bytes_;
}

bool MemoryClipboard::SetData(std::string_view type, std::vector<uint8_t> bytes) {
  held_ = true;
  type_ = std::string(type);
  bytes_ = std::move(bytes);
  return true;
}

}  // namespace zandrel
