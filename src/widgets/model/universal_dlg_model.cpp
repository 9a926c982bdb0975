#include "widgets/model/universal_dlg_model.h"

#include <algorithm>

#include "platform/atomic_file.h"
#include "widgets/model/parameter_file.h"
#include "widgets/model/text_lines.h"

namespace zandrel {

int UniversalDlgModel::AddKnob(const std::string& key, std::string label, std::string format, float minimum,
                               float maximum, float defaultValue, ColorRef colour) {
  ToolParam p = RotaryKnob(0, std::move(label), defaultValue, colour, std::move(format), minimum, maximum);
  auto [it, added] = keys.emplace(key, nextId);
  p.id = it->second;
  if (added) {
    ++nextId;
    params.push_back(std::move(p));
  } else {
    auto same = std::find_if(params.begin(), params.end(), [&](const ToolParam& q) { return q.id == p.id; });
    *same = std::move(p);
  }
  return it->second;
}

int UniversalDlgModel::AddSection(std::string text) {
  params.push_back(TextRowKnob(nextId++, kKnobSection, std::move(text)));
  return params.back().id;
}

float UniversalDlgModel::GetParamValue(std::string_view key) const {
  for (const auto& [k, id] : keys) {
    if (k == key) return panel.GetValue(id);
  }
  return 0.0f;
}

int UniversalDlgModel::MeasureHeight(int width) const {
  std::vector<int> kinds;
  for (const ToolParam& p : params) kinds.push_back(p.kind);
  return MeasureKnobPanelHeight(kinds, width);
}

void UniversalDlgModel::FillPanel() {
  for (const ToolParam& p : params) {
    if (p.kind == kKnobRotary) {
      panel.AddParam(p.id, p.label, p.valueFormat, p.minimum, p.maximum, p.defaultValue, p.colour);
      continue;
    }
    // Selectors, section texts and label rows go in as they were described.
    panel.params[p.id] = p;
    panel.order.push_back(p.id);
  }
}

std::vector<int> UniversalDlgModel::ResetToDefaults() {
  std::vector<int> changed;
  for (int id : panel.order) {
    KnobModel* knob = panel.FindKnob(id);
    if (knob && knob->SetNormalizedValueSilently(knob->defaultValue)) changed.push_back(id);
  }
  return changed;
}

std::vector<std::pair<std::string, double>> UniversalDlgModel::CurrentValues() const {
  std::vector<std::pair<std::string, double>> values;
  for (const auto& [key, id] : keys) {
    if (const KnobModel* knob = panel.FindKnob(id)) values.emplace_back(key, knob->GetValue());
  }
  return values;
}

void UniversalDlgModel::ApplyParameterText(std::string_view text) {
  for (const ParameterLine& line : ReadParameterLines(text)) {
    auto it = keys.find(std::string(line.key));
    if (it == keys.end()) continue;
    KnobModel* knob = panel.FindKnob(it->second);
    if (!knob) continue;
    const ParsedNumber parsed = ParseFileNumber(line.value);
    if (parsed.kind == ParsedNumber::kRefused) continue;
    knob->SetNormalizedValue(NormaliseToRange(parsed.value, knob->minimum, knob->maximum));
  }
}

void UniversalDlgModel::LoadConfigFile(const std::filesystem::path& path) {
  std::string text;
  if (ReadWholeFile(path, &text)) ApplyParameterText(text);
}

bool UniversalDlgModel::SaveConfigFile(const std::filesystem::path& path) const {
  std::string existing;
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && !ReadWholeFile(path, &existing)) return false;
  return WriteFileAtomically(path, MergeParameterFile(existing, configName, CurrentValues()), nullptr);
}

}  // namespace zandrel
