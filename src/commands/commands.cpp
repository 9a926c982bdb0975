#include "commands/commands.h"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "commands/editor_commands.h"
#include "platform/text_format.h"

namespace zandrel {

// ---------------------------------------------------------------- context --

void LogCancelled(LogSink* log, std::string_view title) {
  if (!log) return;
  std::string name;
  for (char ch : title)
    if (ch != '&') name += ch;
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  log->AppendLog((name.empty() ? std::string("Work") : name) + " cancelled.");
}

bool CommandContext::RunLongWork(LongWork& work) {
  if (work.compute) {
    bool finished = false;
    LongTask task;
    task.onProgress = work.onProgress;
    BlockingTaskHost blocking;
    LongTaskHost* host = Tasks();
    LongTaskHost& waiter = host ? *host : blocking;
    waiter.Prepare(task);
    task.Start([&](TaskProgress& progress) {
      finished = work.compute([&progress](double fraction) { return progress.Report(fraction); });
    });
    waiter.Wait(task, work.title);
    task.Join();
    if (task.Failed()) {
      ShowMessage("Out of memory.", MessageIcon::Error);
      return false;
    }
    if (task.CancelRequested()) {
      LogCancelled(Log(), work.title);
      return false;
    }
    if (!finished) return false;
    task.PollProgress();
  }
  if (work.commit) work.commit();
  return true;
}

CommandView& CommandContext::View() const {
  // Stateless: every context without a view may share it.
  static CommandView none;
  return none;
}

bool CommandContext::HasAudio() const {
  const CQuorvelDoc* doc = Document();
  return doc && doc->HasAudio() && doc->FrameCount() > 0;
}

LogSink* CommandContext::Log() const {
  const CQuorvelDoc* doc = Document();
  return doc ? doc->GetLog() : nullptr;
}

int BasicCommandContext::RunPosted() {
  int ran = 0;
  while (!posted_.empty()) {
    std::function<void()> task = std::move(posted_.front());
    posted_.erase(posted_.begin());
    task();
    ++ran;
  }
  return ran;
}

// --------------------------------------------------------------- registry --

void CommandRegistry::Add(Command command) {
  if (command.id <= 0) throw std::invalid_argument("command id must be positive: " + command.text);
  const int id = command.id;
  if (!commands_.emplace(id, std::move(command)).second)
    throw std::invalid_argument(Format("command %d declared twice", id));
}

void CommandRegistry::AddMenu(MenuDecl menu) {
  for (const MenuDecl& m : menus_)
    if (m.path == menu.path) throw std::invalid_argument("menu declared twice: " + menu.path);
  menus_.push_back(std::move(menu));
}

const Command* CommandRegistry::Find(int id) const {
  const auto it = commands_.find(id);
  return it == commands_.end() ? nullptr : &it->second;
}

bool CommandRegistry::HasBody(int id) const {
  const Command* c = Find(id);
  return c && static_cast<bool>(c->run);
}

bool CommandRegistry::Enabled(int id, const CommandContext& context) const {
  const Command* c = Find(id);
  if (!c || !c->run) return false;
  return !c->enabled || c->enabled(context);
}

bool CommandRegistry::Checkable(int id) const {
  const Command* c = Find(id);
  return c && static_cast<bool>(c->checked);
}

bool CommandRegistry::Checked(int id, const CommandContext& context) const {
  const Command* c = Find(id);
  return c && c->checked && c->checked(context);
}

bool CommandRegistry::Run(int id, CommandContext& context) const {
  if (!Enabled(id, context)) return false;
  Find(id)->run(context);
  return true;
}

namespace {

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string LeafOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsContextMenu(std::string_view name) {
  return std::find(std::begin(kContextMenuNames), std::end(kContextMenuNames), name) != std::end(kContextMenuNames);
}

}  // namespace

std::vector<MenuEntry> CommandRegistry::MenuItems(const std::string& path, bool context) const {
  struct Item {
    int order;
    MenuEntry entry;
  };
  std::vector<Item> items;
  for (const auto& [id, c] : commands_) {
    for (const CommandPlace& p : context ? c.contextMenus : c.menus) {
      if (p.menu != path) continue;
      items.push_back({p.order, MenuEntry{MenuEntry::Kind::kCommand, id, p.text.empty() ? c.text : p.text}});
    }
  }
  if (!context) {
    for (const MenuDecl& m : menus_) {
      if (ParentOf(m.path) != path || m.path.find('/') == std::string::npos) continue;
      MenuEntry e;
      e.kind = m.recentFiles ? MenuEntry::Kind::kRecentFiles : MenuEntry::Kind::kSubmenu;
      e.text = m.title.empty() ? LeafOf(m.path) : m.title;
      if (!m.recentFiles) e.entries = MenuItems(m.path, false);
      items.push_back({m.order, std::move(e)});
    }
  }
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.order < b.order; });
  std::vector<MenuEntry> out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0 && items[i].order / 100 != items[i - 1].order / 100) out.push_back({MenuEntry::Kind::kSeparator, 0, {}, {}});
    out.push_back(std::move(items[i].entry));
  }
  return out;
}

std::vector<MenuEntry> CommandRegistry::MenuBar() const {
  std::vector<const MenuDecl*> top;
  for (const MenuDecl& m : menus_)
    if (m.path.find('/') == std::string::npos) top.push_back(&m);
  std::stable_sort(top.begin(), top.end(), [](const MenuDecl* a, const MenuDecl* b) { return a->order < b->order; });
  std::vector<MenuEntry> bar;
  for (const MenuDecl* m : top)
    bar.push_back({MenuEntry::Kind::kSubmenu, 0, m->title.empty() ? m->path : m->title, MenuItems(m->path, false)});
  return bar;
}

std::vector<MenuEntry> CommandRegistry::ContextMenu(std::string_view name) const {
  if (!IsContextMenu(name)) throw std::out_of_range("no such context menu: " + std::string(name));
  return MenuItems(std::string(name), true);
}

std::vector<int> CommandRegistry::DefaultToolbar() const {
  std::vector<std::pair<int, int>> placed;  // order, id
  for (const auto& [id, c] : commands_)
    if (c.toolbar >= 0) placed.emplace_back(c.toolbar, id);
  std::sort(placed.begin(), placed.end());
  std::vector<int> ids;
  for (size_t i = 0; i < placed.size(); ++i) {
    if (i > 0 && placed[i].first / 100 != placed[i - 1].first / 100) ids.push_back(0);
    ids.push_back(placed[i].second);
  }
  return ids;
}

std::vector<std::pair<std::string, int>> CommandRegistry::Accelerators() const {
  std::vector<std::pair<std::string, int>> keys;
  for (const auto& [id, c] : commands_)
    if (!c.key.empty()) keys.emplace_back(c.key, id);
  return keys;
}

std::string CommandRegistry::ShortcutOf(int id) const {
  const Command* c = Find(id);
  return c ? c->key : std::string();
}

std::string CommandRegistry::PlainText(int id) const {
  const Command* c = Find(id);
  if (!c) return {};
  std::string text = c->text.substr(0, c->text.find('\t'));
  text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
  // Trailing blanks and line feeds of the menu texts are not part of the name.
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
  return text;
}

std::vector<std::string> CommandRegistry::Problems() const {
  std::vector<std::string> problems;
  std::map<std::string, int> keys;
  for (const auto& [key, id] : Accelerators()) {
    const auto [it, fresh] = keys.emplace(key, id);
    if (!fresh) problems.push_back(Format("key %s belongs to %d and %d", key.c_str(), it->second, id));
  }
  std::set<std::string> menuPaths;
  for (const MenuDecl& m : menus_) {
    menuPaths.insert(m.path);
    const std::string parent = ParentOf(m.path);
    if (!parent.empty() && !std::any_of(menus_.begin(), menus_.end(), [&](const MenuDecl& p) { return p.path == parent; }))
      problems.push_back("submenu " + m.path + " has no parent menu");
  }
  std::map<std::pair<std::string, int>, int> orders;  // (menu, order) -> id
  auto checkPlace = [&](int id, const CommandPlace& p, bool context) {
    if (context ? !IsContextMenu(p.menu) : menuPaths.count(p.menu) == 0)
      problems.push_back(Format("command %d is placed in the undeclared menu ", id) + p.menu);
    const auto [it, fresh] = orders.emplace(std::pair{(context ? "context:" : "") + p.menu, p.order}, id);
    if (!fresh) problems.push_back(Format("commands %d and %d share order %d in ", it->second, id, p.order) + p.menu);
  };
  const std::set<int>& later = BuiltLaterIds();
  for (const auto& [id, c] : commands_) {
    for (const CommandPlace& p : c.menus) checkPlace(id, p, false);
    for (const CommandPlace& p : c.contextMenus) checkPlace(id, p, true);
    const bool listed = later.count(id) != 0;
    if (!c.run && !listed) problems.push_back(Format("command %d has no body and is not listed as built later", id));
    if (c.run && listed) problems.push_back(Format("command %d has a body but is listed as built later", id));
  }
  return problems;
}

bool IsPlainKey(std::string_view key) {
  return !key.empty() && key.find("Ctrl+") == std::string_view::npos && key.find("Alt+") == std::string_view::npos;
}

}  // namespace zandrel
