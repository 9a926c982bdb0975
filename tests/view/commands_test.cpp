#include "view/commands.h"

#include <gtest/gtest.h>

namespace zandrel {
namespace {

TEST(CommandTablesTest, ContextMenusHoldTheirItemsInOrder) {
  std::vector<std::string_view> names;
  for (const ContextMenu& m : ContextMenus()) names.push_back(m.name);
  EXPECT_EQ(names, (std::vector<std::string_view>{"Edit", "Region Bar", "Piano Roll", "Loop Region"}));

  std::vector<std::string_view> regionBar;
  for (const MenuItem& i : FindContextMenu("Region Bar").items) regionBar.push_back(i.id ? i.text : "-");
  EXPECT_EQ(regionBar, (std::vector<std::string_view>{"Remove Region", "Remove Region's loop", "Remove and Delete Wave",
                                                      "-", "Find and Set Root Note", "Normalize", "Auto-Tune...", "-",
                                                      "&Copy\tCtrl+C", "&Paste\tCtrl+V"}));
  std::vector<std::string_view> piano;
  for (const MenuItem& i : FindContextMenu("Piano Roll").items) piano.push_back(i.id ? i.text : "-");
  EXPECT_EQ(piano, (std::vector<std::string_view>{"Edit Key Boundaries", "-", "Set Root Note"}));
  EXPECT_THROW(FindContextMenu("Nope"), std::out_of_range);
}

TEST(CommandTablesTest, SaveIsSaveAsAndTheKeysAreUnique) {
  std::map<std::string_view, int> byKey;
  for (const CommandInfo& c : Accelerators()) {
    EXPECT_TRUE(byKey.emplace(c.shortcut, c.id).second) << c.shortcut;
  }
  EXPECT_EQ(byKey["Ctrl+S"], cmd::kFileSaveAs);
  EXPECT_EQ(byKey["Ctrl+D"], cmd::kDeselect);
  EXPECT_EQ(byKey["Ctrl+Del"], cmd::kDeleteWavData);
  EXPECT_EQ(byKey["Space"], cmd::kPlayStop);
  EXPECT_EQ(byKey["L"], cmd::kLoop);
  EXPECT_EQ(byKey["I"], cmd::kSetLoopIn);
  EXPECT_EQ(byKey["O"], cmd::kSetLoopOut);
  EXPECT_EQ(byKey["Ctrl+A"], cmd::kSelectAll);
}

TEST(CommandTablesTest, TheMenuBarAndWhichKeysBelongToTheView) {
  std::vector<std::string_view> names;
  for (const MainMenu& m : MainMenus()) names.push_back(m.name);
  EXPECT_EQ(names, (std::vector<std::string_view>{"&File", "&Edit", "&Play", "Audio", "&View", "&Help"}));
  EXPECT_EQ(ShortcutOf(cmd::kFileSaveAs), "Ctrl+S");
  EXPECT_EQ(ShortcutOf(cmd::kNewEmptySample), "");
  for (std::string_view plain : {"Space", "L", "I", "O"}) EXPECT_TRUE(IsPlainKey(plain)) << plain;
  for (std::string_view chord : {"Ctrl+S", "Ctrl+Del", "Alt+X", ""}) EXPECT_FALSE(IsPlainKey(chord)) << chord;
}

TEST(CommandRegistryTest, UnknownAndDisabledCommandsDoNotRun) {
  CommandRegistry registry;
  int runs = 0;
  bool enabled = false;
  registry.Add(1, {[&] { ++runs; }, [&] { return enabled; }, {}});
  registry.Add(2, {[&] { ++runs; }, {}, [] { return true; }});
  EXPECT_FALSE(registry.Run(1));
  EXPECT_FALSE(registry.Run(3));
  enabled = true;
  EXPECT_TRUE(registry.Run(1));
  EXPECT_TRUE(registry.Run(2));
  EXPECT_EQ(runs, 2);
  EXPECT_FALSE(registry.Checkable(1));
  EXPECT_TRUE(registry.Checked(2));
}

}  // namespace
}  // namespace zandrel
