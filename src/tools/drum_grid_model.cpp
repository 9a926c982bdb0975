#include "tools/drum_grid_model.h"

#include <algorithm>
#include <set>

namespace zandrel {

uint32_t BlendColour(uint32_t a, uint32_t b, double t) {
  uint32_t out = 0;
  for (int shift : {16, 8, 0}) {
    const double ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
    out |= static_cast<uint32_t>(static_cast<int>(ca * (1 - t) + cb * t)) << shift;
  }
  return out;
}

void DrumGridModel::SetPattern(const std::vector<PatternEvent>& events, int32_t bars) {
  if (&events != &events_) events_ = events;
  bars_ = std::max(0, bars);
  steps_ = bars_ * 4;
  std::set<int32_t> distinct;
  for (const PatternEvent& e : events_) distinct.insert(e.note);
  notes_.assign(distinct.begin(), distinct.end());
}

void DrumGridModel::SetTables(const NoteMapTables& tables) {
  tables_ = tables;
  rootCount_ = tables.RootCount();
}

DrumGridLayout DrumGridModel::Layout(int width, int height) const {
  DrumGridLayout l;
  l.width = width;
  l.height = height;
  if (events_.empty() || steps_ == 0) return l;  // "No pattern data"
  if (width < 96 || height < 51) {
    l.kind = DrumGridLayout::Kind::kTooSmall;
    return l;
  }
  l.kind = DrumGridLayout::Kind::kGrid;
  const int rows = RowCount();
  l.rowHeight = static_cast<float>(height - 50) / static_cast<float>(rows);
  l.stepWidth = static_cast<float>(width - 95) / static_cast<float>(steps_);
  for (int j = 0; j < rows; ++j) l.rows.push_back({0, l.RowTop(j), width, l.RowTop(j + 1)});
  l.hitRadius = std::clamp(static_cast<int>(std::min(l.stepWidth, l.rowHeight) * 0.2f), 3, 12);
  const int v = rootCount_;
  if (v > 0) {
    const int w = (width - 4 * v) / v;
    for (int k = 0; k < v; ++k) {
      const int left = 2 + k * (w + 4);
      l.rootLabels.push_back({left, height - 18, left + w, height - 2});
    }
  }
  return l;
}

void DrumGridModel::HitCentre(const DrumGridLayout& l, const PatternEvent& e, int& x, int& y) const {
  const auto it = std::lower_bound(notes_.begin(), notes_.end(), e.note);
  const int position = static_cast<int>(it - notes_.begin());
  x = 85 + static_cast<int>(static_cast<double>(e.time) / 960.0 * l.stepWidth) + static_cast<int>(l.stepWidth / 2);
  y = static_cast<int>(static_cast<float>(RowCount() - 1 - position) * l.rowHeight) +
      static_cast<int>(l.rowHeight / 2) + 20;
}

int64_t DrumGridModel::RowTint(int row) const {
  const int n = RowNote(row);
  if (n < 0 || n > 127) return -1;
  const int r = tables_.regionMap[static_cast<size_t>(n)];
  if (r < 0) return -1;
  const double t = tables_.noteMap[static_cast<size_t>(n)] == highlighted_ ? 0.7 : 0.9;
  return BlendColour(kToolRegionPalette[static_cast<size_t>(r % 10)], kBackground, t);
}

uint32_t DrumGridModel::RootLabelColour(int k) const {
  const double t = tables_.rootList[static_cast<size_t>(k)] == highlighted_ ? 0.3 : 0.54;
  return BlendColour(kToolRegionPalette[static_cast<size_t>(k % 10)], kBackground, t);
}

std::optional<DrumGridModel::Click> DrumGridModel::Press(int x, int y, int width, int height) {
  const DrumGridLayout l = Layout(width, height);
  for (size_t k = 0; k < l.rootLabels.size(); ++k) {
    if (!l.rootLabels[k].Contains(x, y)) continue;
    const int root = tables_.rootList[k];
    highlighted_ = root;
    if (root < 0) return Click{-1, -1};  // repaint only
    return Click{root, root};
  }
  for (size_t j = 0; j < l.rows.size(); ++j) {
    if (!l.rows[j].Contains(x, y)) continue;
    const int n = RowNote(static_cast<int>(j));
    const int root = n >= 0 && n <= 127 ? tables_.noteMap[static_cast<size_t>(n)] : -1;
    highlighted_ = root;
    return Click{root, n};
  }
  return std::nullopt;
}

bool DrumGridModel::Release() {
  if (highlighted_ == -1) return false;
  highlighted_ = -1;
  return true;
}

}  // namespace zandrel
