// Feeds arbitrary text to the readers of the shared widgets: the markdown
// parser with line wrapping, the knob panel's text presets and the parameter
// dialog's parameter files (read, merged on save, read back).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/text_format.h"
#include "widgets/model/knob_panel_model.h"
#include "widgets/model/markdown.h"
#include "widgets/model/parameter_file.h"
#include "widgets/model/universal_dlg_model.h"

using namespace zandrel;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Markdown(std::string_view text, int width) {
  TextMeasure measure;
  measure.width = [](MarkdownFont font, std::string_view word) {
    return static_cast<int>(word.size()) * (font == MarkdownFont::kHeading1 ? 15 : 8);
  };
  measure.lineHeight = [](MarkdownFont font) { return FontPixelSize(font, 16) + 3; };
  const auto parsed = parseMarkdown(text);
  for (const MarkdownLine& line : parsed)
    for (const TextSegment& s : line.segments) Check(!s.text.empty());
  const auto lines = wrapMarkdown(parsed, width, measure, 19);
  for (const FormattedLine& line : lines) {
    Check(line.x.size() == line.segments.size());
    for (size_t i = 1; i < line.x.size(); ++i) Check(line.x[i] > line.x[i - 1]);
  }
  MarkdownScroll scroll;
  scroll.contentHeight = ContentHeight(lines);
  scroll.clientHeight = 100;
  scroll.Wheel(-120, 19);
  Check(scroll.position >= 0 && scroll.position <= scroll.Maximum());
}

void Preset(std::string_view text) {
  KnobPanelModel panel;
  panel.AddParam(1, "Mix", "%.0f%%", 0, 1, 0.5f, 0);
  panel.AddParam(2, "Cutoff", "%.0f Hz", 20, 20000, 1000, 0);
  KnobParam wave;
  wave.id = 3;
  wave.label = "Wave";
  wave.items = {{"Sine", 0}, {"Saw", 0}, {"Noise", 0}};
  panel.params[3] = wave;
  panel.order.push_back(3);
  for (int id : panel.order) panel.knobs[id] = panel.CreateKnob(panel.params.at(id), 0);
  panel.LoadText(text);
  panel.LoadTextFile(fuzz::WriteInput(reinterpret_cast<const uint8_t*>(text.data()), text.size(), "preset.txt"));
  for (const auto& [id, knob] : panel.knobs) Check(knob->value >= 0.0f && knob->value <= 1.0f);

  // What is saved loads back to the same values.
  KnobPanelModel copy;
  copy.params = panel.params;
  copy.order = panel.order;
  for (int id : copy.order) copy.knobs[id] = copy.CreateKnob(copy.params.at(id), 0);
  copy.LoadText(panel.SaveText());
  for (int id : panel.order) {
    Check(std::fabs(copy.FindKnob(id)->value - panel.FindKnob(id)->value) < 1e-5f);
    Check(copy.FindKnob(id)->GetSelectedIndex() == panel.FindKnob(id)->GetSelectedIndex());
  }
}

UniversalDlgModel Dialog() {
  UniversalDlgModel dlg;
  dlg.configName = "fuzz";
  dlg.AddKnob("mix", "Mix", "%.0f%%", 0, 1, 0.5f, 0);
  dlg.AddSection("text");
  dlg.AddKnob("coarse", "Coarse", "%.0f", -12, 12, 0, 0);
  dlg.FillPanel();
  for (int id : dlg.panel.order) dlg.panel.knobs[id] = dlg.panel.CreateKnob(dlg.panel.params.at(id), 0);
  return dlg;
}

void ParameterFile(std::string_view text) {
  UniversalDlgModel dlg = Dialog();
  dlg.ApplyParameterText(text);
  dlg.LoadConfigFile(fuzz::WriteInput(reinterpret_cast<const uint8_t*>(text.data()), text.size(), "tool.ini"));
  const auto values = dlg.CurrentValues();
  for (const auto& [key, value] : values) Check(std::isfinite(value));

  // A save over this text holds each of the dialog's keys once, with its value.
  const std::string merged = MergeParameterFile(text, dlg.configName, values);
  for (const auto& [key, value] : values) {
    int seen = 0;
    for (const ParameterLine& line : ReadParameterLines(merged)) {
      if (line.key != key) continue;
      ++seen;
      Check(line.value == Format("%f", value));
    }
    Check(seen == 1);
  }
  UniversalDlgModel again = Dialog();
  again.ApplyParameterText(merged);
  for (const auto& [key, value] : values) Check(std::fabs(again.GetParamValue(key) - value) < 1e-4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const int width = size ? 20 + data[0] % 500 : 100;
  Markdown(text, width);
  Preset(text);
  ParameterFile(text);
  return 0;
}
