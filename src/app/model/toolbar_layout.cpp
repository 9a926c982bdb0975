#include "app/model/toolbar_layout.h"

#include <charconv>
#include <sstream>

#include "platform/settings.h"

namespace zandrel {
namespace {

constexpr const char* kSection = "Toolbars";

std::string Encode(const ToolbarSpec& spec) {
  std::string text = spec.name;
  for (int id : spec.commands) text += "," + std::to_string(id);
  return text;
}

bool Decode(const std::string& text, ToolbarSpec& spec) {
  std::stringstream in(text);
  std::string item;
  if (!std::getline(in, item, ',') || item.empty()) return false;
  spec.name = item;
  spec.commands.clear();
  while (std::getline(in, item, ',')) {
    int id = 0;
    const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), id);
    if (ec == std::errc() && end == item.data() + item.size()) spec.commands.push_back(id);
  }
  return true;
}

}  // namespace

ToolbarLayout::ToolbarLayout(std::vector<int> standardDefault) : standardDefault_(std::move(standardDefault)) {
  toolbars_.push_back({"Standard", standardDefault_, false});
}

void ToolbarLayout::SetStandardDefault(std::vector<int> standardDefault) {
  standardDefault_ = std::move(standardDefault);
  toolbars_.clear();
  toolbars_.push_back({"Standard", standardDefault_, false});
}

void ToolbarLayout::Load() {
  const SettingsStore& s = CurrentSettings();
  toolbars_.clear();
  ToolbarSpec standard{"Standard", standardDefault_, false};
  const std::string saved = s.GetString(kSection, "Standard", "");
  if (!saved.empty()) Decode(saved, standard);
  standard.name = "Standard";
  toolbars_.push_back(standard);
  for (size_t i = 1; i <= kMaxUserToolbars; ++i) {
    ToolbarSpec spec;
    spec.user = true;
    if (Decode(s.GetString(kSection, "User" + std::to_string(i), ""), spec)) toolbars_.push_back(spec);
  }
}

void ToolbarLayout::Save() const {
  SettingsStore& s = CurrentSettings();
  size_t user = 0;
  for (const ToolbarSpec& spec : toolbars_) {
    if (!spec.user) {
      s.SetString(kSection, "Standard", Encode(spec));
    } else if (user < kMaxUserToolbars) {
      s.SetString(kSection, "User" + std::to_string(++user), Encode(spec));
    }
  }
  while (user < kMaxUserToolbars) s.SetString(kSection, "User" + std::to_string(++user), "");
}

bool ToolbarLayout::AddUserToolbar() {
  size_t users = 0;
  for (const ToolbarSpec& spec : toolbars_) users += spec.user ? 1 : 0;
  if (users >= kMaxUserToolbars) return false;
  // The first free number, so names stay unique after removals.
  for (int n = 1;; ++n) {
    const std::string name = "Toolbar " + std::to_string(n);
    bool taken = false;
    for (const ToolbarSpec& spec : toolbars_) taken = taken || spec.name == name;
    if (!taken) {
      toolbars_.push_back({name, {}, true});
      return true;
    }
  }
}

void ToolbarLayout::RemoveToolbar(size_t index) {
  if (index < toolbars_.size() && toolbars_[index].user) toolbars_.erase(toolbars_.begin() + static_cast<long>(index));
}

}  // namespace zandrel
