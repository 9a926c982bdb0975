// Which commands the toolbars hold: the "Standard" toolbar and up to ten
// toolbars of the user's own, as the user arranged them in "Customize...".
// Kept in the settings section "Toolbars" ("Standard", "User1".."User10":
// the names, then the command ids, separated by commas).
#pragma once

#include <string>
#include <vector>

namespace zandrel {

struct ToolbarSpec {
  std::string name;
  std::vector<int> commands;  // 0 = separator
  bool user = false;
};

class ToolbarLayout {
 public:
  static constexpr size_t kMaxUserToolbars = 10;

  explicit ToolbarLayout(std::vector<int> standardDefault);
  // The "Standard" toolbar's commands until the user changes them; resets
  // the layout to it (call Load() afterwards for the user's).
  void SetStandardDefault(std::vector<int> standardDefault);
  void Load();
  void Save() const;

  std::vector<ToolbarSpec>& Toolbars() { return toolbars_; }
  const std::vector<ToolbarSpec>& Toolbars() const { return toolbars_; }
  // Adds "Toolbar N"; false when ten user toolbars exist already.
  bool AddUserToolbar();
  // Removes a user toolbar (the Standard one stays).
  void RemoveToolbar(size_t index);

 private:
  std::vector<int> standardDefault_;
  std::vector<ToolbarSpec> toolbars_;
};

}  // namespace zandrel
