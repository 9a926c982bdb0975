#include "platform/settings.h"

#include <charconv>

namespace zandrel {
namespace {

MemorySettings g_defaultStore;
SettingsStore* g_store = nullptr;

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

int SettingsStore::GetInt(std::string_view section, std::string_view key, int fallback) const {
  const std::optional<std::string> text = Read(section, key);
  if (!text) return fallback;
  const std::string_view s = Trimmed(*text);
  int value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return (ec == std::errc() && end == s.data() + s.size()) ? value : fallback;
}

void SettingsStore::SetInt(std::string_view section, std::string_view key, int value) {
  Write(section, key, std::to_string(value));
}

double SettingsStore::GetDouble(std::string_view section, std::string_view key, double fallback) const {
  const std::optional<std::string> text = Read(section, key);
  if (!text) return fallback;
  const std::string_view s = Trimmed(*text);
  double value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return (ec == std::errc() && end == s.data() + s.size()) ? value : fallback;
}

void SettingsStore::SetDouble(std::string_view section, std::string_view key, double value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  Write(section, key, std::string_view(buffer, ec == std::errc() ? static_cast<size_t>(end - buffer) : 0));
}

std::string SettingsStore::GetString(std::string_view section, std::string_view key, std::string_view fallback) const {
  std::optional<std::string> text = Read(section, key);
  return text ? std::move(*text) : std::string(fallback);
}

std::optional<std::string> MemorySettings::Read(std::string_view section, std::string_view key) const {
  const auto it = values_.find(std::pair<std::string, std::string>(section, key));
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void MemorySettings::Write(std::string_view section, std::string_view key, std::string_view value) {
  values_[{std::string(section), std::string(key)}] = std::string(value);
}

SettingsStore& CurrentSettings() { return g_store ? *g_store : g_defaultStore; }

SettingsStore* SetSettingsStore(SettingsStore* store) {
  SettingsStore* previous = g_store;
  g_store = store;
  return previous;
}

}  // namespace zandrel
