// The editor's commands: one declaration per command.
//
// A Command holds everything about one command: its id, its menu text, its
// key, the places it shows (menu bar, the four context menus, the
// "Standard" toolbar), when it is enabled, when it carries a check mark, and
// its body. Each feature folder declares its own commands beside its
// algorithm (processing/, notes/, kits/, device/ui/, tools/ui/,
// sound_design/, view/model/, app/) into the one CommandRegistry of the main
// frame; the menu bar, the context menus, the accelerator table, the toolbar
// customisation and the tests read only the registry. A declaration without a body shows disabled,
// and its id must be listed in BuiltLaterIds() (editor_commands.h).
//
// Adding a command (a body that changes the document runs its change inside
// an EditTransaction, document/edit_transaction.h: Begin records the undo
// entry, Commit marks the document and sends its typed notification):
//
//   registry.Add({.id = cmd::kSilence, .text = "Silence",
//                 .menus = {{"&Audio", 300}},          // order; a new hundred starts a group
//                 .contextMenus = {{"Loop Region", 250}},
//                 .enabled = [](const CommandContext& c) { return c.HasAudio(); },
//                 .run = [](CommandContext& c) { SilenceSelection(*c.Document(), c.Selection()); }});
//
// If the id was waiting as a placeholder (DeclareBuiltLaterCommands), move
// its places into the new declaration and take the placeholder and its id in
// BuiltLaterIds() out (an id declared twice throws).
//
// Bodies and rules run on the user-interface thread. They reach the
// document, the view's cursor and selection (and what else they may ask of
// the view, command_view.h), playback and the platform hosts through
// CommandContext, never a window: their effects reach the view and the
// pages only through the document's notifications (UpdateAllViews,
// NotifySelectionChanged) and CommandView.
#pragma once

#include <concepts>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include "commands/command_view.h"
#include "commands/long_task.h"
#include "document/quorvel_doc.h"
#include "platform/file_dialogs.h"
#include "platform/log_sink.h"
#include "platform/message_host.h"
#include "platform/settings.h"

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
// The Edit menu
inline constexpr int kEditUndo = 57643;
inline constexpr int kEditRedo = 57644;
inline constexpr int kEditCopy = 57634;
inline constexpr int kEditCut = 57635;
inline constexpr int kEditPaste = 57637;
// The region edits of the Edit menu
inline constexpr int kSplitAtCursor = 32803;
inline constexpr int kRemoveSelectedRegion = 32804;
inline constexpr int kDeleteWavData = 32805;
}  // namespace cmd

// The four context menus of the view, by the band under the mouse.
inline constexpr std::string_view kContextMenuNames[] = {"Edit", "Region Bar", "Piano Roll", "Loop Region"};

// Work that may take longer than about 100 ms. |compute| runs off the
// user-interface thread over data it owns (never the live document); it
// reports progress 0..1 through its argument, which returns false once the
// user cancelled, and returns false itself when it stopped early. |commit|
// then runs on the user-interface thread, unless the work was cancelled.
struct LongWork {
  std::string title;
  std::function<bool(const std::function<bool(double)>& progress)> compute;
  std::function<void()> commit;
  // Optional: the progress as the host sees it, on the user-interface thread
  // while the work runs, and once more when it has ended uncancelled.
  std::function<void(double)> onProgress = {};
};

// The one log line that says long work named |title| was cancelled: "Time
// Stretch cancelled." (a menu text's "&" and "..." are left out). Nothing
// when |log| is null.
void LogCancelled(LogSink* log, std::string_view title);

// What a command's body and rules can reach. The main frame provides the
// editor's; tests use BasicCommandContext.
class CommandContext {
 public:
  virtual ~CommandContext() = default;

  // The document; nullptr when there is none (commands then do nothing).
  virtual CQuorvelDoc* Document() const = 0;
  // The view's cursor and selection (the view's own state, changed in place;
  // announce changes with CQuorvelDoc::NotifySelectionChanged).
  virtual ViewSelection& Selection() const = 0;
  // The rest of what commands ask of the view (command_view.h); a context
  // without a view gives one that shows nothing.
  virtual CommandView& View() const;
  // The application's question before the document is replaced (an import,
  // a download, a recorded take): saves a modified document when the user
  // asks to. False when the user cancelled; true without a user interface.
  virtual bool SaveModified() { return true; }
  virtual bool IsPlaying() const { return false; }
  // The stop contract: once it has returned, nothing reads the audio.
  virtual void StopPlayback() {}
  virtual void StartPlayback() {}
  // Plays the region whose root note is |rootNote| once (a pad of the loop
  // maker heard while a pattern is drawn).
  virtual void PlayRegionByRootNote(int /*rootNote*/) {}
  // Runs |task| on the user-interface thread after the current command, and
  // the event that started it, have returned. Region edits are queued this
  // way, so they read the view's state as it is when they run.
  virtual void Post(std::function<void()> task) = 0;
  // Where long work waits (long_task.h): the editor's host shows progress
  // and Cancel and keeps the window alive; nullptr waits without a user
  // interface.
  virtual LongTaskHost* Tasks() const { return nullptr; }
  // Runs long work: |compute| on a worker thread, waiting in Tasks(), then
  // |commit| here unless it was cancelled. True when the work was committed.
  bool RunLongWork(LongWork& work);

  // A document with at least one whole frame of audio.
  bool HasAudio() const;
  // The log pane, nullptr without a main frame.
  LogSink* Log() const;
  MessageHost& Messages() const { return CurrentMessageHost(); }
  FileDialogHost* FileDialogs() const { return CurrentFileDialogHost(); }
  SettingsStore& Settings() const { return CurrentSettings(); }
};

// A context over a document and a selection of its own, whose posted tasks
// wait in a queue until RunPosted(). For tests and headless use.
class BasicCommandContext : public CommandContext {
 public:
  explicit BasicCommandContext(CQuorvelDoc* doc, ViewSelection* selection = nullptr, CommandView* view = nullptr)
      : doc_(doc), selection_(selection ? selection : &ownSelection_), view_(view) {}
  // Over a view model, which is both the selection and the view.
  template <class ViewModelType>
    requires std::derived_from<ViewModelType, ViewSelection> && std::derived_from<ViewModelType, CommandView>
  BasicCommandContext(CQuorvelDoc* doc, ViewModelType* model)
      : BasicCommandContext(doc, static_cast<ViewSelection*>(model), static_cast<CommandView*>(model)) {}

  CQuorvelDoc* Document() const override { return doc_; }
  ViewSelection& Selection() const override { return *selection_; }
  CommandView& View() const override { return view_ ? *view_ : CommandContext::View(); }
  bool IsPlaying() const override { return playing; }
  void StopPlayback() override {
    ++stops;
    playing = false;
  }
  void StartPlayback() override { playing = true; }
  void Post(std::function<void()> task) override { posted_.push_back(std::move(task)); }
  // Runs the queued tasks (and those they queue) in order; returns how many ran.
  int RunPosted();
  size_t PendingTasks() const { return posted_.size(); }

  bool playing = false;
  int stops = 0;

 private:
  CQuorvelDoc* doc_;
  ViewSelection* selection_;
  CommandView* view_;
  ViewSelection ownSelection_;
  std::vector<std::function<void()>> posted_;
};

// Where a command shows in a menu. |menu| names a menu of the menu bar by its
// path ("&File", "&File/Export") or one of kContextMenuNames. Entries sort by
// |order|; a separator goes between entries of different hundreds. |text|
// replaces the command's text at this place (context menus use their own).
struct CommandPlace {
  std::string menu;
  int order = 0;
  std::string text = {};
};

struct Command {
  int id = 0;
  std::string text;                       // menu text; "&" marks the mnemonic
  std::string key = {};                   // portable key text ("Ctrl+S", "Space"), empty for none
  std::vector<CommandPlace> menus = {};   // places in the menu bar
  std::vector<CommandPlace> contextMenus = {};
  int toolbar = -1;                       // order in the "Standard" toolbar, -1 = not on it
  std::function<bool(const CommandContext&)> enabled = {};  // empty: enabled whenever it has a body
  std::function<bool(const CommandContext&)> checked = {};  // empty: no check mark
  std::function<void(CommandContext&)> run = {};            // empty: built later, shown disabled
};

// A body that calls |body|(context, extra...) when the context has a
// document, and does nothing without one: most command bodies start so.
template <class... Extra>
std::function<void(CommandContext&)> WithDocument(void (*body)(CommandContext&, Extra...),
                                                  std::type_identity_t<Extra>... extra) {
  return [body, args = std::tuple<Extra...>(extra...)](CommandContext& context) {
    if (context.Document()) std::apply([&](auto&&... a) { body(context, a...); }, args);
  };
}

// Features that declare their commands in a form of their own (a processing
// command, a loop tool) give the form an |id|, a |menuText| and its |menus|
// and |contextMenus| places; this one adapter makes the registry's Command
// of it, with the body that runs the form.
template <class Form>
Command CommandFrom(const Form& form, std::function<void(CommandContext&)> run) {
  Command command;
  command.id = form.id;
  command.text = std::string(form.menuText);
  command.menus = form.menus;
  command.contextMenus = form.contextMenus;
  command.run = std::move(run);
  return command;
}

// A menu of the menu bar ("&File") or a submenu ("&File/Export", placed in
// its parent by |order|). The recent-file list is a submenu the frame fills.
struct MenuDecl {
  std::string path;
  int order = 0;
  bool recentFiles = false;
  std::string title = {};  // shown instead of the path's last part (for a title holding a "/")
};

// One entry of a built menu.
struct MenuEntry {
  enum class Kind { kCommand, kSeparator, kSubmenu, kRecentFiles };
  Kind kind = Kind::kCommand;
  int id = 0;             // kCommand
  std::string text;       // the command's text at this place, or the submenu's name
  std::vector<MenuEntry> entries = {};  // kSubmenu
};

class CommandRegistry {
 public:
  // Throws std::invalid_argument for an id that is not positive or taken.
  void Add(Command command);
  // Throws std::invalid_argument for a path declared twice.
  void AddMenu(MenuDecl menu);

  const Command* Find(int id) const;
  bool Has(int id) const { return Find(id) != nullptr; }
  bool HasBody(int id) const;
  const std::map<int, Command>& Commands() const { return commands_; }

  // The context the rules and bodies get when none is passed.
  void Bind(CommandContext* context) { bound_ = context; }
  CommandContext* Bound() const { return bound_; }

  bool Enabled(int id, const CommandContext& context) const;
  bool Checkable(int id) const;
  bool Checked(int id, const CommandContext& context) const;
  // Runs the command when it is declared, has a body and is enabled; false
  // otherwise.
  bool Run(int id, CommandContext& context) const;
  // The same with the bound context (false without one).
  bool Enabled(int id) const { return bound_ && Enabled(id, *bound_); }
  bool Checked(int id) const { return bound_ && Checked(id, *bound_); }
  bool Run(int id) const { return bound_ && Run(id, *bound_); }

  // The menu bar, left to right: kSubmenu entries holding their items.
  std::vector<MenuEntry> MenuBar() const;
  // A context menu's items; throws std::out_of_range for another name.
  std::vector<MenuEntry> ContextMenu(std::string_view name) const;
  // The "Standard" toolbar's commands in order, 0 between groups.
  std::vector<int> DefaultToolbar() const;
  // Every key with its command, by id.
  std::vector<std::pair<std::string, int>> Accelerators() const;
  std::string ShortcutOf(int id) const;
  // The text of a command for lists (no mnemonic marks, no key after a tab).
  std::string PlainText(int id) const;

  // What is inconsistent: a key used twice, a place in a menu nobody
  // declared, two entries of one menu with the same order, a command without
  // a body that BuiltLaterIds() does not list, or a listed one that has a
  // body. Empty when all is well.
  std::vector<std::string> Problems() const;

 private:
  std::vector<MenuEntry> MenuItems(const std::string& path, bool context) const;

  std::map<int, Command> commands_;
  std::vector<MenuDecl> menus_;
  CommandContext* bound_ = nullptr;
};

// A key without Ctrl or Alt (Space, L, I, O): such keys act only while the
// waveform view has the focus, so typing in a field never triggers them.
bool IsPlainKey(std::string_view key);

}  // namespace zandrel
