#include "commands/commands.h"

#include <gmock/gmock.h>

#include <stdexcept>

#include "commands/editor_commands.h"
#include "processing/level_commands.h"
#include "processing/processing_commands.h"

namespace zandrel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A menu as texts, "-" for a separator, "[name]" for a submenu.
std::vector<std::string> Texts(const std::vector<MenuEntry>& entries) {
  std::vector<std::string> out;
  for (const MenuEntry& e : entries) {
    switch (e.kind) {
      case MenuEntry::Kind::kSeparator: out.push_back("-"); break;
      case MenuEntry::Kind::kCommand: out.push_back(e.text); break;
      default: out.push_back("[" + e.text + "]");
    }
  }
  return out;
}

class CoreCommandsTest : public ::testing::Test {
 protected:
  CoreCommandsTest() { DeclareCoreCommands(registry); }
  CommandRegistry registry;
};

// The view adds its own entries to the other three menus (the view's
// commands test checks all four in full).
TEST_F(CoreCommandsTest, TheRegionBarMenuHoldsItsItemsInOrder) {
  EXPECT_THAT(Texts(registry.ContextMenu("Region Bar")),
              ElementsAre("Remove Region", "Remove and Delete Wave", "-", "Normalize", "-", "&Copy\tCtrl+C",
                          "&Paste\tCtrl+V"));
  EXPECT_THROW(registry.ContextMenu("Nope"), std::out_of_range);
  // The entries carry the commands' ids, whatever their text at the place.
  EXPECT_EQ(registry.ContextMenu("Region Bar")[1].id, cmd::kDeleteWavData);
  EXPECT_EQ(registry.ContextMenu("Region Bar")[3].id, cmd::kNormalize);
}

TEST_F(CoreCommandsTest, EveryEntryHasABodyOrIsBuiltLater) {
  EXPECT_THAT(registry.Problems(), IsEmpty());
  for (std::string_view name : kContextMenuNames) {
    for (const MenuEntry& e : registry.ContextMenu(name)) {
      if (e.kind != MenuEntry::Kind::kCommand) continue;
      EXPECT_NE(registry.HasBody(e.id), BuiltLaterIds().count(e.id) != 0) << name << ": " << e.text;
    }
  }
  // Built-later commands show, disabled (every command has its body now).
  BasicCommandContext context(nullptr);
  for (int waiting : BuiltLaterIds()) {
    EXPECT_TRUE(registry.Has(waiting));
    EXPECT_FALSE(registry.Enabled(waiting, context));
    EXPECT_FALSE(registry.Run(waiting, context));
  }
}

TEST_F(CoreCommandsTest, TheMenuBarSkeletonAndTheCoreEntries) {
  const std::vector<MenuEntry> bar = registry.MenuBar();
  std::vector<std::string> names;
  for (const MenuEntry& m : bar) names.push_back(m.text);
  EXPECT_THAT(names, ElementsAre("&File", "&Edit", "&Play", "&Audio", "&Selection", "&Region",
                                 "&ReTime/ReSample", "&Notes", "&Tools", "&View", "&Help"));
  // The File menu holds Append, the Export submenu and the recent-file list here.
  EXPECT_THAT(Texts(bar[0].entries), ElementsAre("Append Wav...", "-", "[Export]", "-", "[Recent Files]"));
  EXPECT_EQ(bar[0].entries[4].kind, MenuEntry::Kind::kRecentFiles);
  EXPECT_THAT(Texts(bar[0].entries[2].entries),
              ElementsAre("Export Wav Without EP restrictions...", "Export Overview...", "Export Instrument Data...",
                          "Export Selection..."));
  EXPECT_THAT(Texts(bar[1].entries), ElementsAre("&Undo", "Redo", "-", "Cu&t", "&Copy", "&Paste", "Paste in Place", "-",
                                                 "Split At Cursor", "Remove Selected Region", "Delete Wav Data"));
  EXPECT_THAT(Texts(bar[4].entries),
              ElementsAre("Delete everyting outside", "-", "Hanning Crossfade", "Equal-Power Crossfade", "Align Phase",
                          "-", "Find Looping Points (Slow)", "Find Looping Points (Pyramid)",
                          "Find Looping Points NCC", "-", "Align Looping Points (+/-200ms)",
                          "Set IN/OUT to Zero Crossing"));
  EXPECT_THAT(Texts(bar[5].entries),
              ElementsAre("Add Silence...", "Remove All Silences", "-", "Remove All Regions"));
  EXPECT_THAT(Texts(bar[3].entries),
              ElementsAre("Fade Out ", "Fade In", "Fade In EXP", "Fade Out EXP", "-", "Fade Out to Reverb",
                          "Fade Out to Delay", "-", "Silence", "Normalize to 92%", "-", "Adaptive Noise Gate",
                          "Adaptive Compressor", "-", "Spectral Isolation (Percussive)",
                          "Spectral Cleanup (Melodic)"));
  EXPECT_EQ(registry.ShortcutOf(cmd::kDeleteWavData), "Ctrl+Del");
  EXPECT_EQ(registry.ShortcutOf(cmd::kEditUndo), "Ctrl+Z");
  EXPECT_EQ(registry.ShortcutOf(cmd::kSplitAtCursor), "");
  EXPECT_EQ(registry.DefaultToolbar(), (std::vector<int>{cmd::kEditUndo, cmd::kEditRedo}));
  EXPECT_EQ(registry.PlainText(cmd::kEditUndo), "Undo");
}

TEST(CommandRegistryTest, BodiesRunOnlyWhenDeclaredAndEnabled) {
  CommandRegistry registry;
  BasicCommandContext context(nullptr);
  int runs = 0;
  bool enabled = false;
  registry.Add({.id = 1, .text = "One", .enabled = [&](const CommandContext&) { return enabled; },
                .run = [&](CommandContext&) { ++runs; }});
  registry.Add({.id = 2, .text = "Two", .checked = [](const CommandContext&) { return true; },
                .run = [&](CommandContext&) { ++runs; }});
  EXPECT_FALSE(registry.Run(1, context));
  EXPECT_FALSE(registry.Run(3, context));
  EXPECT_FALSE(registry.Run(2));  // no context bound
  enabled = true;
  EXPECT_TRUE(registry.Run(1, context));
  registry.Bind(&context);
  EXPECT_TRUE(registry.Run(2));
  EXPECT_EQ(runs, 2);
  EXPECT_FALSE(registry.Checkable(1));
  EXPECT_TRUE(registry.Checkable(2));
  EXPECT_TRUE(registry.Checked(2));

  EXPECT_THROW(registry.Add({.id = 1, .text = "Again"}), std::invalid_argument);
  EXPECT_THROW(registry.Add({.id = 0, .text = "None"}), std::invalid_argument);
  registry.AddMenu({"&File", 100});
  EXPECT_THROW(registry.AddMenu({"&File", 200}), std::invalid_argument);
}

TEST(CommandRegistryTest, MenusSortByOrderWithSeparatorsBetweenHundreds) {
  CommandRegistry registry;
  registry.AddMenu({"&Tools", 200});
  registry.AddMenu({"&File", 100});
  registry.AddMenu({"&Tools/More", 150});
  registry.AddMenu({"&Empty", 300});
  auto body = [](CommandContext&) {};
  registry.Add({.id = 10, .text = "Late", .menus = {{"&Tools", 210}}, .run = body});
  registry.Add({.id = 11, .text = "Early", .menus = {{"&Tools", 101}}, .run = body});
  registry.Add({.id = 12, .text = "First", .menus = {{"&Tools", 100}, {"&File", 100, "Elsewhere"}}, .run = body});
  registry.Add({.id = 13, .text = "Inner", .menus = {{"&Tools/More", 100}}, .toolbar = 300, .run = body});
  registry.Add({.id = 14, .text = "Tool", .toolbar = 100, .run = body});
  const std::vector<MenuEntry> bar = registry.MenuBar();
  ASSERT_EQ(bar.size(), 3u);
  EXPECT_EQ(bar[0].text, "&File");
  EXPECT_THAT(Texts(bar[0].entries), ElementsAre("Elsewhere"));
  EXPECT_THAT(Texts(bar[1].entries), ElementsAre("First", "Early", "[More]", "-", "Late"));
  EXPECT_THAT(Texts(bar[1].entries[2].entries), ElementsAre("Inner"));
  EXPECT_THAT(bar[2].entries, IsEmpty());
  EXPECT_EQ(registry.DefaultToolbar(), (std::vector<int>{14, 0, 13}));
}

TEST(CommandRegistryTest, ProblemsNameWhatIsInconsistent) {
  CommandRegistry registry;
  registry.AddMenu({"&File", 100});
  registry.AddMenu({"&Lost/Sub", 100});
  auto body = [](CommandContext&) {};
  registry.Add({.id = 1, .text = "A", .key = "Ctrl+A", .menus = {{"&File", 100}}, .run = body});
  registry.Add({.id = 2, .text = "B", .key = "Ctrl+A", .menus = {{"&File", 100}}, .run = body});
  registry.Add({.id = 3, .text = "C", .menus = {{"&Nowhere", 100}}, .contextMenus = {{"Nope", 1}}, .run = body});
  registry.Add({.id = 4, .text = "No body"});
  // A body for a command still listed as waiting for one.
  const bool anyWaiting = !BuiltLaterIds().empty();
  if (anyWaiting) registry.Add({.id = *BuiltLaterIds().begin(), .text = "Waiting", .run = body});
  const std::vector<std::string> problems = registry.Problems();
  const auto mentions = [&](const std::string& text) {
    return std::count_if(problems.begin(), problems.end(),
                         [&](const std::string& p) { return p.find(text) != std::string::npos; });
  };
  EXPECT_EQ(mentions("key Ctrl+A belongs to 1 and 2"), 1);
  EXPECT_EQ(mentions("commands 1 and 2 share order 100 in &File"), 1);
  EXPECT_EQ(mentions("undeclared menu &Nowhere"), 1);
  EXPECT_EQ(mentions("undeclared menu Nope"), 1);
  EXPECT_EQ(mentions("submenu &Lost/Sub has no parent"), 1);
  EXPECT_EQ(mentions("command 4 has no body and is not listed"), 1);
  EXPECT_EQ(mentions("has a body but is listed as built later"), anyWaiting ? 1 : 0);
  EXPECT_EQ(problems.size(), anyWaiting ? 7u : 6u) << ::testing::PrintToString(problems);
}

TEST(CommandKeysTest, PlainKeysHaveNeitherCtrlNorAlt) {
  for (std::string_view plain : {"Space", "L", "I", "O"}) EXPECT_TRUE(IsPlainKey(plain)) << plain;
  for (std::string_view chord : {"Ctrl+S", "Ctrl+Del", "Alt+X", ""}) EXPECT_FALSE(IsPlainKey(chord)) << chord;
}

}  // namespace
}  // namespace zandrel
