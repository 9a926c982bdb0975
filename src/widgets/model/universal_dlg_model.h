// UniversalDlgModel: what the generic parameter dialog knows without a
// display: its parameters in the order they were added, the map from a
// tool's parameter keys to knob ids, the height its knobs need, the knob
// panel, the values read back by key, the Default reset and the per-tool
// parameter file.
//
// The command that opens the dialog adds knobs by key (AddKnob) and section
// texts (AddSection), sets the title, the config name and auto-preview, and
// after the modal loop reads the values with GetParamValue, which stays valid
// until the dialog is destroyed. User-interface thread only.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "widgets/model/knob_panel_model.h"

namespace zandrel {

// One parameter of the dialog: a knob description (platform/knob_param.h)
// whose id the dialog assigns; knobs and section texts are added, selectors
// and label rows fill the panel the same way.
using ToolParam = KnobParam;

class UniversalDlgModel {
 public:
  static constexpr int kFirstId = 1000;

  std::string title;
  std::string configName;  // name of the tool's parameter file; empty = none
  bool autoPreview = false;
  std::vector<ToolParam> params;
  std::map<std::string, int> keys;  // ordinal, case-sensitive
  int nextId = kFirstId;
  KnobPanelModel panel;

  // A new key takes the next id; adding a known key again replaces its knob.
  int AddKnob(const std::string& key, std::string label, std::string format, float minimum, float maximum,
              float defaultValue, ColorRef colour);
  // A paragraph across the dialog; takes an id but no key.
  int AddSection(std::string text);

  // The real value of the knob of |key|; 0 for a key never added.
  float GetParamValue(std::string_view key) const;

  // The height the knobs need in an area |width| wide.
  int MeasureHeight(int width) const;
  // Turns every parameter into a panel parameter, in order.
  void FillPanel();

  // Puts every knob back on its default without callbacks or notifications;
  // the ids whose value changed (to be redrawn).
  std::vector<int> ResetToDefaults();

  // The values to save: every key with a live knob, in ascending key order.
  std::vector<std::pair<std::string, double>> CurrentValues() const;
  // Applies the key lines of a parameter file to this dialog's knobs; other
  // keys are ignored, numbers are clamped to the knob's range, refused values
  // ("nan", "inf") leave the knob as it was.
  void ApplyParameterText(std::string_view text);
  // LoadConfig: nothing happens when the file is missing.
  void LoadConfigFile(const std::filesystem::path& path);
  // SaveConfig: replaces this dialog's keys in the file, keeps the rest,
  // writes atomically. False when the file could not be written.
  bool SaveConfigFile(const std::filesystem::path& path) const;
};

}  // namespace zandrel
