// The user's settings: small named values in sections ("Settings" /
// "MaxCutoffTime", "LoopSampler" / ...).
//
// Core code reads and writes them through the process's current
// SettingsStore. The app installs one backed by QSettings (organisation
// "Zindermast", application "Zandrel"); tests install a MemorySettings.
// Values are stored as text; numbers are written and parsed without regard to
// the process locale. Used from the user-interface thread.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zandrel {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::optional<std::string> Read(std::string_view section, std::string_view key) const = 0;
  virtual void Write(std::string_view section, std::string_view key, std::string_view value) = 0;

  // |fallback| when the value is missing or is not a whole number.
  int GetInt(std::string_view section, std::string_view key, int fallback) const;
  void SetInt(std::string_view section, std::string_view key, int value);
  double GetDouble(std::string_view section, std::string_view key, double fallback) const;
  void SetDouble(std::string_view section, std::string_view key, double value);
  std::string GetString(std::string_view section, std::string_view key, std::string_view fallback) const;
  void SetString(std::string_view section, std::string_view key, std::string_view value) { Write(section, key, value); }
};

class MemorySettings final : public SettingsStore {
 public:
  std::optional<std::string> Read(std::string_view section, std::string_view key) const override;
  void Write(std::string_view section, std::string_view key, std::string_view value) override;

 private:
  std::map<std::pair<std::string, std::string>, std::string, std::less<>> values_;
};

// The store settings go to. Never null: without an installed store, an
// in-memory one that lives as long as the process.
SettingsStore& CurrentSettings();
// Installs |store| (not owned; nullptr restores the in-memory default) and
// returns the previous one (nullptr for the default).
SettingsStore* SetSettingsStore(SettingsStore* store);

class ScopedSettingsStore {
 public:
  explicit ScopedSettingsStore(SettingsStore* store) : previous_(SetSettingsStore(store)) {}
  ~ScopedSettingsStore() { SetSettingsStore(previous_); }
  ScopedSettingsStore(const ScopedSettingsStore&) = delete;
  ScopedSettingsStore& operator=(const ScopedSettingsStore&) = delete;

 private:
  SettingsStore* previous_;
};

}  // namespace zandrel
