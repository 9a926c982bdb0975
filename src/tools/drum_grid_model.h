// The loop maker's pattern grid without a display: one row per note of the
// pattern (highest on top), one column per beat, a dot per hit, a label per
// row naming the kit note it plays, and a strip of the kit's region roots at
// the bottom. DrumGridLayout is the geometry for one window size; hit
// testing always computes it for the current pattern and size, so a click
// never meets a layout that an earlier paint left behind.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tools/loop_render.h"
#include "tools/pattern_readers.h"

namespace zandrel {

struct GridRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const GridRect&) const = default;
};

// Per red, green and blue channel a x (1 - t) + b x t, truncated (0xRRGGBB).
uint32_t BlendColour(uint32_t a, uint32_t b, double t);

struct DrumGridLayout {
  enum class Kind { kNoPattern, kTooSmall, kGrid } kind = Kind::kNoPattern;
  int width = 0, height = 0;
  float rowHeight = 0;  // d
  float stepWidth = 0;  // e
  std::vector<GridRect> rows;        // hit areas, row 0 at the top
  std::vector<GridRect> rootLabels;  // hit areas of the root strip's labels
  int hitRadius = 3;
  int RowTop(int j) const { return static_cast<int>(static_cast<float>(j) * rowHeight) + 20; }
  int StepX(int i) const { return 85 + static_cast<int>(static_cast<float>(i) * stepWidth); }
};

class DrumGridModel {
 public:
  static constexpr uint32_t kBackground = 0x1E1E23;
  static constexpr uint32_t kGridLine = 0x3C3C46;
  static constexpr uint32_t kBarLine = 0x505064;
  static constexpr uint32_t kHitFill = 0xFF8C00;
  static constexpr uint32_t kHitOutline = 0xC86400;

  // A copy of the pattern; bars below 1 show no pattern.
  void SetPattern(const std::vector<PatternEvent>& events, int32_t bars);
  // The note map, region map and root list of the kit (the root count is
  // the leading roots that are not -1).
  void SetTables(const NoteMapTables& tables);

  const std::vector<PatternEvent>& Events() const { return events_; }
  int32_t Bars() const { return bars_; }
  int32_t Steps() const { return steps_; }
  // The distinct notes, ascending; row j (from the top) shows notes[count - 1 - j].
  const std::vector<int32_t>& Notes() const { return notes_; }
  int RowCount() const { return notes_.empty() ? 1 : static_cast<int>(notes_.size()); }
  int RowNote(int row) const { return notes_[notes_.size() - 1 - static_cast<size_t>(row)]; }
  const NoteMapTables& Tables() const { return tables_; }
  int RootCount() const { return rootCount_; }
  int HighlightedRoot() const { return highlighted_; }

  DrumGridLayout Layout(int width, int height) const;
  // The centre of an event's dot in |layout|.
  void HitCentre(const DrumGridLayout& layout, const PatternEvent& e, int& x, int& y) const;
  // The row's tint: -1 when none.
  int64_t RowTint(int row) const;
  // The label colour of root k of the strip.
  uint32_t RootLabelColour(int k) const;

  // What a button-down at (x, y) in a window of |width| x |height| asks for:
  // the root to audition (-1 = none) and the clicked pattern note or root.
  struct Click {
    int root = -1;
    int note = -1;
  };
  std::optional<Click> Press(int x, int y, int width, int height);
  // Button up: true when a highlight went away (repaint).
  bool Release();

 private:
  std::vector<PatternEvent> events_;
  int32_t bars_ = 0;
  int32_t steps_ = 0;
  std::vector<int32_t> notes_;
  NoteMapTables tables_;
  int rootCount_ = 0;
  int highlighted_ = -1;
};

}  // namespace zandrel
