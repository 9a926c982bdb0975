// Reads arbitrary text as the saved toolbar layout and recent-file list (the
// values of the settings sections "Toolbars" and "Recent File List"), saves
// both and reads them again: what was read must survive the round trip, and
// the limits (ten user toolbars, four files) must hold.
//
// Input: the values, separated by line feeds, for "Standard", "User1" ..
// "User10", then "File1" .. "File4"; a value may hold any byte but a line feed.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/model/recent_files.h"
#include "app/model/toolbar_layout.h"
#include "platform/settings.h"

using namespace zandrel;

namespace {

bool SameToolbars(const std::vector<ToolbarSpec>& a, const std::vector<ToolbarSpec>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].commands != b[i].commands || a[i].user != b[i].user) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> values;
  for (size_t at = 0; at <= text.size() && values.size() < 15;) {
    const size_t end = std::min(text.find('\n', at), text.size());
    values.push_back(text.substr(at, end - at));
    at = end + 1;
  }

  MemorySettings store;
  ScopedSettingsStore scope(&store);
  for (size_t i = 0; i < values.size(); ++i) {
    if (i == 0) {
      store.Write("Toolbars", "Standard", values[i]);
    } else if (i <= ToolbarLayout::kMaxUserToolbars) {
      store.Write("Toolbars", "User" + std::to_string(i), values[i]);
    } else {
      store.Write("Recent File List", "File" + std::to_string(i - ToolbarLayout::kMaxUserToolbars), values[i]);
    }
  }

  const std::vector<int> standard = {57600, 57601, 0, 57603};
  ToolbarLayout layout(standard);
  layout.Load();
  const std::vector<ToolbarSpec>& toolbars = layout.Toolbars();
  if (toolbars.empty() || toolbars.size() > 1 + ToolbarLayout::kMaxUserToolbars) __builtin_trap();
  if (toolbars[0].user || toolbars[0].name != "Standard") __builtin_trap();
  for (size_t i = 1; i < toolbars.size(); ++i) {
    if (!toolbars[i].user || toolbars[i].name.empty()) __builtin_trap();
  }
  layout.Save();
  ToolbarLayout again(standard);
  again.Load();
  if (!SameToolbars(layout.Toolbars(), again.Toolbars())) __builtin_trap();
  const bool full = toolbars.size() > ToolbarLayout::kMaxUserToolbars;
  if (layout.AddUserToolbar() == full) __builtin_trap();
  layout.RemoveToolbar(1);

  RecentFileList recent;
  recent.Load();
  if (recent.Files().size() > RecentFileList::kMaxFiles) __builtin_trap();
  const std::vector<std::filesystem::path> files = recent.Files();
  recent.Save();
  RecentFileList recentAgain;
  recentAgain.Load();
  if (recentAgain.Files() != files) __builtin_trap();
  if (!values.empty()) recentAgain.Add(std::string(values.front()));
  if (recentAgain.Files().size() > RecentFileList::kMaxFiles) __builtin_trap();
  return 0;
}
