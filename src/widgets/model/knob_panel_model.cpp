#include "widgets/model/knob_panel_model.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "platform/atomic_file.h"
#include "platform/text_format.h"
#include "widgets/model/text_lines.h"

namespace zandrel {
namespace {

constexpr int kCellWidth = 100;
constexpr int kCellHeight = 120;
constexpr int kCellStep = 110;
constexpr int kRowGap = 10;
constexpr int kSectionHeight = 60;
constexpr int kSectionStep = 70;
constexpr int kLabelRowHeight = 15;
constexpr int kLabelRowStep = 25;

bool IsFullWidth(int kind) { return kind == kKnobSection || kind == kKnobLabelRow; }

}  // namespace

float NormaliseToRange(double value, float minimum, float maximum) {
  const double d = static_cast<double>(maximum) - minimum;
  if (std::fabs(d) < 0.000001) return 0.0f;
  return static_cast<float>((value - minimum) / d);
}

std::vector<PanelCell> LayoutKnobPanel(std::span<const std::pair<int, int>> idsAndKinds, int left, int top,
                                       int right) {
  std::vector<PanelCell> cells;
  int x = left;
  int y = top;
  int h = 0;
  for (const auto& [id, kind] : idsAndKinds) {
    if (IsFullWidth(kind)) {
      if (x > left) y += h + kRowGap;
      const int height = kind == kKnobSection ? kSectionHeight : kLabelRowHeight;
      cells.push_back({id, left, y, right, y + height});
      x = left;
      h = 0;
      y += kind == kKnobSection ? kSectionStep : kLabelRowStep;
    } else {
      if (x + kCellWidth > right) {
        y += h + kRowGap;
        x = left;
        h = 0;
      }
      cells.push_back({id, x, y, x + kCellWidth, y + kCellHeight});
      x += kCellStep;
      h = std::max(h, kCellHeight);
    }
  }
  return cells;
}

int MeasureKnobPanelHeight(std::span<const int> kinds, int width) {
  int x = 0;
  int y = 0;
  int h = 0;
  for (int kind : kinds) {
    if (kind == kKnobSection) {
      if (x > 0) {
        y += h + kRowGap;
        h = 0;
      }
      x = 0;
      y += kSectionStep;
    } else if (kind == kKnobLabelRow) {
      if (x > 0) y += h + kRowGap;
      x = 0;
      h = 0;
      y += kLabelRowStep;
    } else {
      if (x + kCellWidth > width) {
        y += h + kRowGap;
        x = 0;
        h = 0;
      }
      x += kCellStep;
      h = std::max(h, kCellHeight);
    }
  }
  return x > 0 ? y + h : y;
}

void KnobPanelModel::AddParam(int id, std::string label, std::string format, float minimum, float maximum,
                              float defaultValue, ColorRef colour) {
  params[id] = RotaryKnob(id, std::move(label), defaultValue, colour, std::move(format), minimum, maximum);
  order.push_back(id);
}

void KnobPanelModel::SetValueCallback(int id, std::function<void(float)> callback) {
  if (auto it = params.find(id); it != params.end()) it->second.valueCallback = callback;
  if (KnobModel* knob = FindKnob(id)) knob->valueCallback = callback;
}

void KnobPanelModel::SetSelectionCallback(int id, std::function<void(int)> callback) {
  if (auto it = params.find(id); it != params.end()) it->second.selectionCallback = callback;
  if (KnobModel* knob = FindKnob(id)) knob->selectionCallback = callback;
}

void KnobPanelModel::SetCommitCallback(int id, std::function<void()> callback) {
  if (auto it = params.find(id); it != params.end() && !IsFullWidth(it->second.kind))
    it->second.commitCallback = callback;
  if (KnobModel* knob = FindKnob(id); knob && !IsFullWidth(knob->kind)) knob->commitCallback = callback;
}

std::vector<std::pair<int, int>> KnobPanelModel::IdsAndKinds() const {
  std::vector<std::pair<int, int>> out;
  for (int id : order) {
    auto it = params.find(id);
    if (it == params.end()) continue;
    const KnobParam& p = it->second;
    const int kind = IsFullWidth(p.kind) ? p.kind : (p.items.empty() ? kKnobRotary : kKnobSelector);
    out.emplace_back(id, kind);
  }
  return out;
}

std::vector<PanelCell> KnobPanelModel::Layout(int left, int top, int right) const {
  const auto entries = IdsAndKinds();
  return LayoutKnobPanel(entries, left, top, right);
}

std::shared_ptr<KnobModel> KnobPanelModel::CreateKnob(
    const KnobParam& p, ColorRef background, const std::function<void(const std::shared_ptr<KnobModel>&)>& attach) {
  auto knob = std::make_shared<KnobModel>();
  knob->label = p.label;
  knob->accentColour = p.colour;
  knob->backgroundColour = background;
  if (IsFullWidth(p.kind)) {
    knob->kind = p.kind;
    if (p.kind == kKnobLabelRow) knob->textColour = p.labelColour;
    if (attach) attach(knob);
    return knob;
  }
  knob->valueFormat = p.valueFormat;
  knob->minimum = p.minimum;
  knob->maximum = p.maximum;
  if (attach) attach(knob);
  if (p.items.empty()) {
    const float normalised = std::clamp(NormaliseToRange(p.defaultValue, p.minimum, p.maximum), 0.0f, 1.0f);
    knob->defaultValue = normalised;
    knob->SetNormalizedValue(normalised);
    // Only now, so that the initial value calls nothing.
    knob->valueCallback = p.valueCallback;
  } else {
    knob->kind = kKnobSelector;
    knob->items = p.items;
    knob->selectedIndex = 0;
    knob->value = 0.5f / static_cast<float>(p.items.size());
    knob->selectionCallback = p.selectionCallback;
    knob->defaultValue = std::clamp(p.defaultValue, 0.0f, 1.0f);
    knob->SetNormalizedValue(p.defaultValue);
  }
  knob->commitCallback = p.commitCallback;
  return knob;
}

KnobModel* KnobPanelModel::FindKnob(int id) const {
  auto it = knobs.find(id);
  return it == knobs.end() ? nullptr : it->second.get();
}

float KnobPanelModel::GetValue(int id) const {
  const KnobModel* knob = FindKnob(id);
  return knob ? knob->GetValue() : 0.0f;
}

void KnobPanelModel::Clear() {
  knobs.clear();
  params.clear();
  order.clear();
}

std::string KnobPanelModel::SaveText() const {
  std::string text;
  for (int id : order) {
    const KnobModel* knob = FindKnob(id);
    auto it = params.find(id);
    if (!knob || it == params.end() || IsFullWidth(it->second.kind)) continue;
    if (knob->kind == kKnobSelector)
      text += it->second.label + ": " + knob->GetSelectedLabel() + "\n";
    else
      text += it->second.label + ": " + Format("%.6f", static_cast<double>(knob->GetValue())) + "\n";
  }
  return text;
}

void KnobPanelModel::LoadText(std::string_view text) { ApplyText(text, false); }

void KnobPanelModel::LoadTextIgnoringCase(std::string_view text) { ApplyText(text, true); }

void KnobPanelModel::ApplyText(std::string_view text, bool ignoreCase) {
  const auto same = [ignoreCase](std::string_view a, std::string_view b) {
    if (!ignoreCase) return a == b;
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
  };
  for (std::string_view line : SplitTextLines(text)) {
    line = TrimBlanks(line);
    const size_t colon = line.find(':');
    if (line.empty() || colon == std::string_view::npos) continue;
    const std::string_view name = TrimBlanks(line.substr(0, colon));
    const std::string_view valueText = TrimBlanks(line.substr(colon + 1));
    KnobModel* knob = nullptr;
    for (const auto& [id, param] : params) {
      if (same(param.label, name) && (knob = FindKnob(id))) break;
    }
    if (!knob) continue;
    if (knob->kind == kKnobSelector) {
      // A stale preset naming an item that no longer exists leaves the
      // selector alone rather than walking it to the last item; the synth
      // settings files walk it there, as their format always did.
      bool found = false;
      for (size_t i = 0; i < knob->items.size(); ++i) {
        if (same(knob->items[i].label, valueText)) {
          knob->SetSelectedIndex(static_cast<int>(i));
          found = true;
          break;
        }
      }
      if (!found && ignoreCase && !knob->items.empty()) knob->SetSelectedIndex(static_cast<int>(knob->items.size()) - 1);
    } else if (IsFullWidth(knob->kind)) {
      continue;
    } else {
      const ParsedNumber parsed = ParseFileNumber(valueText);
      if (parsed.kind == ParsedNumber::kRefused) continue;
      knob->SetNormalizedValue(NormaliseToRange(parsed.value, knob->minimum, knob->maximum));
    }
  }
}

bool KnobPanelModel::SaveTextFile(const std::filesystem::path& path) const {
  return WriteFileAtomically(path, SaveText(), nullptr);
}

bool KnobPanelModel::LoadTextFile(const std::filesystem::path& path) {
  std::string text;
  if (!ReadWholeFile(path, &text)) return false;
  LoadText(text);
  return true;
}

bool KnobPanelModel::LoadTextFileIgnoringCase(const std::filesystem::path& path) {
  std::string text;
  if (!ReadWholeFile(path, &text)) return false;
  LoadTextIgnoringCase(text);
  return true;
}

}  // namespace zandrel
