#include "view/commands.h"

#include <stdexcept>

namespace zandrel {

const std::vector<CommandInfo>& Accelerators() {
  static const std::vector<CommandInfo> table = {
      {cmd::kEditCopy, "&Copy\tCtrl+C", "Ctrl+C"},
      {cmd::kEditCut, "Cu&t\tCtrl+X", "Ctrl+X"},
      {cmd::kEditPaste, "&Paste\tCtrl+V", "Ctrl+V"},
      {cmd::kEditRedo, "Redo\tCtrl+Y", "Ctrl+Y"},
      {cmd::kSelectAll, "Select All", "Ctrl+A"},
      {cmd::kEditUndo, "&Undo\tCtrl+Z", "Ctrl+Z"},
      {cmd::kFileNew, "&New\tCtrl+N", "Ctrl+N"},
      {cmd::kFileOpen, "&Open...\tCtrl+O", "Ctrl+O"},
      {cmd::kFilePrint, "&Print...\tCtrl+P", "Ctrl+P"},
      // Ctrl+S is Save As: saving always asks for a file name.
      {cmd::kFileSaveAs, "Save &Wav...", "Ctrl+S"},
      {cmd::kDeleteWavData, "Delete Wav Data\tCtrl+DEL", "Ctrl+Del"},
      {cmd::kLoop, "Loop\tL", "L"},
      {cmd::kPlayStop, "Play/Stop", "Space"},
      {cmd::kSetLoopIn, "Set Loop In\tI", "I"},
      {cmd::kSetLoopOut, "Set Loop Out\tO", "O"},
      {cmd::kDeselect, "Deselect", "Ctrl+D"},
  };
  return table;
}

std::string_view ShortcutOf(int id) {
  for (const CommandInfo& c : Accelerators())
    if (c.id == id) return c.shortcut;
  return {};
}

bool IsPlainKey(std::string_view shortcut) {
  return !shortcut.empty() && shortcut.find("Ctrl+") == std::string_view::npos &&
         shortcut.find("Alt+") == std::string_view::npos;
}

const std::vector<MainMenu>& MainMenus() {
  using E = MainMenuEntry;
  static const std::vector<MainMenu> menus = {
      {"&File",
       {{cmd::kFileNew, "&New", {}},
        {cmd::kFileOpen, "&Open...", {}},
        {cmd::kFileSaveAs, "Save &Wav...", {}},
        {0, "", {}},
        {cmd::kNewEmptySample, "New Empty 1s Sample", {}},
        {0, "", {}},
        {E::kSubmenu,
         "Export",
         {{cmd::kExportWavWithoutLimits, "Export Wav Without EP restrictions...", {}},
          {cmd::kExportOverview, "Export Overview...", {}},
          {cmd::kExportInstrumentData, "Export Instrument Data...", {}}}},
        {0, "", {}},
        {cmd::kUploadToDevice, "Upload...", {}},
        {cmd::kDownloadFromDevice, "Download...", {}},
        {0, "", {}},
        {cmd::kFilePrint, "&Print...", {}},
        {cmd::kFilePrintPreview, "Print Pre&view", {}},
        {cmd::kFilePrintSetup, "P&rint Setup...", {}},
        {0, "", {}},
        {E::kRecentFileList, "Recent Files", {}},
        {0, "", {}},
        {cmd::kAppExit, "E&xit", {}}}},
      {"&Edit",
       {{cmd::kEditUndo, "&Undo", {}},
        {cmd::kEditRedo, "Redo", {}},
        {0, "", {}},
        {cmd::kSelectAll, "Select All", {}},
        {cmd::kDeselect, "Deselect", {}},
        {0, "", {}},
        {cmd::kSplitAtCursor, "Split At Cursor", {}},
        {cmd::kRemoveSelectedRegion, "Remove Selected Region", {}},
        {cmd::kDeleteWavData, "Delete Wav Data", {}}}},
      {"&Play", {{cmd::kPlayStop, "Play/Stop", {}}, {cmd::kLoop, "Loop", {}}}},
      {"Audio",
       {{cmd::kFadeOut, "Fade Out ", {}},
        {cmd::kFadeIn, "Fade In", {}},
        {cmd::kFadeInExp, "Fade In EXP", {}},
        {cmd::kFadeOutExp, "Fade Out EXP", {}},
        {0, "", {}},
        {cmd::kFadeOutToReverb, "Fade Out to Reverb", {}},
        {cmd::kFadeOutToDelay, "Fade Out to Delay", {}},
        {0, "", {}},
        {cmd::kSilence, "Silence", {}},
        {cmd::kNormalize, "Normalize to 92%", {}}}},
      {"&View", {{cmd::kViewCustomize, "Customize...", {}}}},
      {"&Help", {{cmd::kAppAbout, "&About Zandrel...", {}}}},
  };
  return menus;
}

const std::vector<ContextMenu>& ContextMenus() {
  static const std::vector<ContextMenu> menus = {
      {"Edit",
       {{cmd::kSplitAtCursor, "Split Region"},
        {cmd::kSetLeftLoopPoint, "Set Left Loop Point"},
        {cmd::kSetRightLoopPoint, "Set Right Loop Point"},
        {0, ""},
        {cmd::kEditUndo, "&Undo\tCtrl+Z"},
        {cmd::kEditRedo, "Redo\tCtrl+Y"},
        {0, ""},
        {cmd::kCopyPositionAsText, "&Copy Position as text"},
        {0, ""},
        {cmd::kEditPaste, "&Paste\tCtrl+V"}}},
      {"Region Bar",
       {{cmd::kRemoveSelectedRegion, "Remove Region"},
        {cmd::kRemoveRegionLoop, "Remove Region's loop"},
        {cmd::kDeleteWavData, "Remove and Delete Wave"},
        {0, ""},
        {cmd::kFindRootNote, "Find and Set Root Note"},
        {cmd::kNormalize, "Normalize"},
        {cmd::kAutoTune, "Auto-Tune..."},
        {0, ""},
        {cmd::kEditCopy, "&Copy\tCtrl+C"},
        {cmd::kEditPaste, "&Paste\tCtrl+V"}}},
      {"Piano Roll", {{cmd::kEditKeyBoundaries, "Edit Key Boundaries"}, {0, ""}, {cmd::kSetRootNote, "Set Root Note"}}},
      {"Loop Region",
       {{cmd::kSplitAtCursor, "Split Region"},
        {cmd::kSetLeftLoopPoint, "Set Left Loop Point"},
        {cmd::kSetRightLoopPoint, "Set Right Loop Point"},
        {0, ""},
        {cmd::kFadeOutExp, "Fade Out EXP"},
        {cmd::kEqualPowerCrossfade, "Equal-Power Crossfade"},
        {cmd::kSetInOutToZeroCrossing, "Set IN/OUT to Zero Crossing"},
        {0, ""},
        {cmd::kEditUndo, "&Undo\tCtrl+Z"},
        {cmd::kEditRedo, "Redo\tCtrl+Y"},
        {0, ""},
        {cmd::kEditCopy, "&Copy\tCtrl+C"},
        {cmd::kEditPaste, "&Paste\tCtrl+V"}}},
  };
  return menus;
}

const ContextMenu& FindContextMenu(std::string_view name) {
  for (const ContextMenu& m : ContextMenus())
    if (m.name == name) return m;
  throw std::out_of_range("no such context menu");
}

}  // namespace zandrel

namespace zandrel {

bool CommandRegistry::Enabled(int id) const {
  const auto it = handlers_.find(id);
  if (it == handlers_.end()) return false;
  return !it->second.enabled || it->second.enabled();
}

bool CommandRegistry::Checkable(int id) const {
  const auto it = handlers_.find(id);
  return it != handlers_.end() && static_cast<bool>(it->second.checked);
}

bool CommandRegistry::Checked(int id) const {
  const auto it = handlers_.find(id);
  return it != handlers_.end() && it->second.checked && it->second.checked();
}

bool CommandRegistry::Run(int id) const {
  if (!Enabled(id)) return false;
  const auto it = handlers_.find(id);
  if (it->second.run) it->second.run();
  return true;
}

}  // namespace zandrel
