// Command ids, menu texts and keys of the editor, kept as data so that menus,
// shortcuts and tests read one table.
#pragma once

#include <string_view>
#include <vector>

namespace zandrel {

namespace cmd {
// Application and document
inline constexpr int kFileNew = 57600;
inline constexpr int kFileOpen = 57601;
inline constexpr int kFileSave = 57603;
inline constexpr int kFileSaveAs = 57604;
inline constexpr int kFilePrintSetup = 57606;
inline constexpr int kFilePrint = 57607;
inline constexpr int kFilePrintDirect = 57608;
inline constexpr int kFilePrintPreview = 57609;
inline constexpr int kViewCustomize = 126;
inline constexpr int kAppAbout = 57664;
inline constexpr int kAppExit = 57665;
inline constexpr int kNewEmptySample = 32827;
inline constexpr int kExportOverview = 32779;
inline constexpr int kExportInstrumentData = 32780;
inline constexpr int kExportWavWithoutLimits = 32837;
inline constexpr int kEditUndo = 57643;
inline constexpr int kEditRedo = 57644;
inline constexpr int kEditCopy = 57634;
inline constexpr int kEditCut = 57635;
inline constexpr int kEditPaste = 57637;
// View
inline constexpr int kPlayStop = 32772;
inline constexpr int kLoop = 32773;
inline constexpr int kSetLoopIn = 32774;
inline constexpr int kSetLoopOut = 32775;
inline constexpr int kFadeOut = 32789;
inline constexpr int kFadeOutToReverb = 32790;
inline constexpr int kFadeIn = 32791;
inline constexpr int kFadeInExp = 32793;
inline constexpr int kFadeOutToDelay = 32794;
inline constexpr int kFadeOutExp = 32795;
inline constexpr int kSilence = 32796;
inline constexpr int kNormalize = 32797;
inline constexpr int kSplitAtCursor = 32803;
inline constexpr int kRemoveSelectedRegion = 32804;
inline constexpr int kDeleteWavData = 32805;
inline constexpr int kSetInOutToZeroCrossing = 32812;
inline constexpr int kCopyPositionAsText = 32826;
inline constexpr int kEditKeyBoundaries = 32828;
inline constexpr int kEqualPowerCrossfade = 32846;
inline constexpr int kAutoTune = 32851;
inline constexpr int kFindRootNote = 32853;
inline constexpr int kSetLeftLoopPoint = 32855;
inline constexpr int kSetRightLoopPoint = 32856;
inline constexpr int kRemoveRegionLoop = 32866;
inline constexpr int kSetRootNote = 32868;
inline constexpr int kSelectAll = 32877;
inline constexpr int kUploadToDevice = 32889;
inline constexpr int kDownloadFromDevice = 32891;
inline constexpr int kDeselect = 32912;
}  // namespace cmd

struct CommandInfo {
  int id;
  std::string_view text;      // menu text; "&" marks the mnemonic, "\t" precedes the key's label
  std::string_view shortcut;  // key sequence in portable text ("Ctrl+S"), empty for none
};

// One entry of a menu: a command, or a separator (id 0).
struct MenuItem {
  int id;
  std::string_view text;
};

struct ContextMenu {
  std::string_view name;
  std::vector<MenuItem> items;
};

// One entry of the main menu: a command, a separator (id 0), a submenu
// (kSubmenu, with its own entries) or the place of the recent-file list
// (kRecentFileList).
struct MainMenuEntry {
  static constexpr int kSubmenu = -1;
  static constexpr int kRecentFileList = -2;
  int id;
  std::string_view text;
  std::vector<MainMenuEntry> entries;
};

struct MainMenu {
  std::string_view name;
  std::vector<MainMenuEntry> entries;
};

// The accelerator table.
const std::vector<CommandInfo>& Accelerators();
// The key of a command in the accelerator table, empty when it has none.
std::string_view ShortcutOf(int id);
// A key without Ctrl or Alt (Space, L, I, O): such keys act only while the
// waveform view has the focus, so typing in a field never triggers them.
bool IsPlainKey(std::string_view shortcut);
// The menu bar, left to right.
const std::vector<MainMenu>& MainMenus();
// The four context menus: "Edit", "Region Bar", "Piano Roll", "Loop Region".
const std::vector<ContextMenu>& ContextMenus();
const ContextMenu& FindContextMenu(std::string_view name);

}  // namespace zandrel

#include <functional>
#include <map>

namespace zandrel {

// Who handles which command. The main frame fills one registry with the
// handlers of the application, the document, itself and the view; menus,
// shortcuts and context menus look commands up here. A command without a
// handler is shown disabled.
class CommandRegistry {
 public:
  struct Handler {
    std::function<void()> run;
    std::function<bool()> enabled;  // empty: always enabled
    std::function<bool()> checked;  // empty: not checkable
  };

  void Add(int id, Handler handler) { handlers_[id] = std::move(handler); }
  bool Has(int id) const { return handlers_.count(id) != 0; }
  bool Enabled(int id) const;
  bool Checkable(int id) const;
  bool Checked(int id) const;
  // Runs the command when it is known and enabled; false otherwise.
  bool Run(int id) const;

 private:
  std::map<int, Handler> handlers_;
};

}  // namespace zandrel
