#include "view/model/view_commands.h"

#include <utility>

#include "platform/text_format.h"

namespace zandrel {
namespace {

void Repaint(ViewModel& m) {
  if (m.hooks.repaint) m.hooks.repaint();
}

// A display setting kept in the "Settings" section.
void Toggle(bool& flag, const char* key) {
  flag = !flag;
  CurrentSettings().SetInt("Settings", key, flag ? 1 : 0);
}

}  // namespace

void DeclareViewCommands(CommandRegistry& r, ViewModel& model,
                         std::function<void(const std::string&)> putTextOnClipboard) {
  ViewModel* m = &model;
  auto key = [m](ViewKey k) { return [m, k](CommandContext&) { m->HandleKey(k); }; };
  auto hasCursor = [](const CommandContext& c) { return c.HasAudio() && c.Selection().cursorFrame >= 0; };
  r.Add({.id = cmd::kPlayStop,
         .text = "Play/Stop",
         .key = "Space",
         .menus = {{"&Play", 100}},
         .checked = [](const CommandContext& c) { return c.IsPlaying(); },
         .run = key(ViewKey::kSpace)});
  r.Add({.id = cmd::kLoop,
         .text = "Loop",
         .key = "L",
         .menus = {{"&Play", 101}},
         .checked = [](const CommandContext& c) { return c.Selection().loopPlayback; },
         .run = key(ViewKey::kLoop)});
  r.Add({.id = cmd::kSetLoopIn, .text = "Set Loop In", .key = "I", .run = key(ViewKey::kLoopIn)});
  r.Add({.id = cmd::kSetLoopOut, .text = "Set Loop Out", .key = "O", .run = key(ViewKey::kLoopOut)});
  // The context menus' names for the same two commands; a right click in
  // the waveform has placed the cursor where the menu opened.
  r.Add({.id = cmd::kSetLeftLoopPoint,
         .text = "Set Left Loop Point",
         .contextMenus = {{"Edit", 101}, {"Loop Region", 101}},
         .enabled = hasCursor,
         .run = key(ViewKey::kLoopIn)});
  r.Add({.id = cmd::kSetRightLoopPoint,
         .text = "Set Right Loop Point",
         .contextMenus = {{"Edit", 102}, {"Loop Region", 102}},
         .enabled = hasCursor,
         .run = key(ViewKey::kLoopOut)});
  r.Add({.id = cmd::kSelectAll,
         .text = "Select All",
         .key = "Ctrl+A",
         .menus = {{"&Edit", 200}},
         .run = key(ViewKey::kSelectAll)});
  r.Add({.id = cmd::kDeselect,
         .text = "Deselect",
         .key = "Ctrl+D",
         .menus = {{"&Edit", 201}},
         .run = [m](CommandContext&) { m->ClearSelection(); }});
  r.Add({.id = cmd::kCopyPositionAsText,
         .text = "&Copy Position as text",
         .contextMenus = {{"Edit", 300}},
         .enabled = hasCursor,
         .run = [put = std::move(putTextOnClipboard)](CommandContext& c) {
           const int64_t cursor = c.Selection().cursorFrame;
           if (cursor < 0 || !put) return;
           put(Format("%lld", static_cast<long long>(cursor)));
         }});

  // The timeline, which also chooses the ruler and the beat grid.
  auto timeline = [m](int id, const char* text, TimelineMode mode, int order) {
    return Command{.id = id,
                   .text = text,
                   .menus = {{"&View", order}},
                   .checked = [m, mode](const CommandContext&) { return m->timelineMode == mode; },
                   .run = [m, mode](CommandContext&) {
                     m->timelineMode = mode;
                     Repaint(*m);
                   }};
  };
  r.Add(timeline(cmd::kTimelineTime, "Time", TimelineMode::kTime, 200));
  r.Add(timeline(cmd::kTimelineFrames, "Frames", TimelineMode::kFrames, 201));
  r.Add(timeline(cmd::kTimelineBeats, "Beats", TimelineMode::kBeats, 202));

  r.Add({.id = cmd::kSnapToZeroCrossing,
         .text = "Snap To Zero Crossing",
         .menus = {{"&View", 300}},
         .checked = [m](const CommandContext&) { return m->snapToZeroCrossing; },
         .run = [m](CommandContext& c) {
           m->snapToZeroCrossing = !m->snapToZeroCrossing;
           Log(c.Log(), m->snapToZeroCrossing ? "Snap to zero-crossing enabled." : "Snap to zero-crossing disabled.");
         }});
  r.Add({.id = cmd::kShowLoupe,
         .text = "Show loupe when dragging",
         .menus = {{"&View", 301}},
         .checked = [m](const CommandContext&) { return m->showLoupe; },
         .run = [m](CommandContext&) {
           Toggle(m->showLoupe, "ShowLoupeWhenDragging");
           Repaint(*m);
         }});
  r.Add({.id = cmd::kEditKeyBoundaries,
         .text = "Edit Key Boundaries",
         .menus = {{"&View", 302}},
         .contextMenus = {{"Piano Roll", 100}},
         .checked = [m](const CommandContext&) { return m->editKeyBoundaries; },
         .run = [m](CommandContext&) {
           m->editKeyBoundaries = !m->editKeyBoundaries;
           Repaint(*m);
         }});
  r.Add({.id = cmd::kFollowPlayhead,
         .text = "Follow Playhead",
         .menus = {{"&View", 303}},
         .checked = [m](const CommandContext&) { return m->followPlayhead; },
         .run = [m](CommandContext&) { m->followPlayhead = !m->followPlayhead; }});
  r.Add({.id = cmd::kScrollWheelZoom,
         .text = "Sroll Wheel is Zoom",
         .menus = {{"&View", 304}},
         .checked = [m](const CommandContext&) { return m->scrollWheelZoom; },
         .run = [m](CommandContext&) { Toggle(m->scrollWheelZoom, "ScrollWheelZoom"); }});
  r.Add({.id = cmd::kSpectrum,
         .text = "Spectrum",
         .menus = {{"&View", 305}},
         .checked = [m](const CommandContext&) { return m->showSpectrum; },
         .run = [m](CommandContext&) {
           m->showSpectrum = !m->showSpectrum;
           // Switched on, the first paint computes the spectrum at once.
           m->spectrum.Invalidate();
           Repaint(*m);
         }});
  r.Add({.id = cmd::kPlayAnimation,
         .text = "Play animation on empty screen",
         .menus = {{"&View", 400}},
         .checked = [m](const CommandContext&) { return m->playAnimation; },
         .run = [m](CommandContext&) {
           Toggle(m->playAnimation, "PlayAnimationOnEmptyScreen");
           Repaint(*m);
         }});
  // The save's time limit: on, 20 seconds; off, none. It takes effect at the
  // next save, so the document is not marked modified.
  r.Add({.id = cmd::kTrimToEpLimits,
         .text = "Trim to EP limits (~20s)",
         .menus = {{"&View", 401}},
         .enabled = [](const CommandContext& c) { return c.Document() != nullptr; },
         .checked = [](const CommandContext& c) { return c.Document() && c.Document()->timeLimit > 0; },
         .run = [m](CommandContext& c) {
           CQuorvelDoc* doc = c.Document();
           if (!doc) return;
           const bool on = !(doc->timeLimit > 0);
           doc->timeLimit = on ? 20.0f : -1.0f;
           CurrentSettings().SetInt("Settings", "MaxCutoffTime", on ? 2000 : 100000);
           Repaint(*m);
         }});
}

}  // namespace zandrel
