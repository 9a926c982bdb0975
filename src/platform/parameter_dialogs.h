// Parameter dialogs asked for from core code.
//
// A command that needs a few numbers from the user (Add Silence's length)
// describes its knobs and texts here and asks the process's current
// ParameterDialogHost. The app shows its knob dialog, which remembers each
// tool's values in the tool's parameter file; tests install a fake that
// answers from a script. Without a host every request is cancelled.
// User-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zandrel {

// One entry of the dialog, in order: a knob, or a paragraph of text.
struct ParameterItem {
  bool section = false;  // a paragraph of |label| across the dialog
  std::string key;       // the knob's key in the answer and the parameter file
  std::string label;     // a leading "*" shows the value under the knob instead of the label
  std::string format;    // printf format of the value ("%.0f s")
  float minimum = 0.0f;
  float maximum = 1.0f;
  float defaultValue = 0.0f;
  uint32_t colour = 0xFF9632;  // accent, 0x00BBGGRR
};

// Reports a preview's progress in whole percent to the dialog's bar; 100
// (or -1) hides the bar again.
using PreviewProgress = std::function<void(int percent)>;

struct ParameterDialogRequest {
  std::string title;
  std::string configName;  // the tool's parameter file; empty for none
  std::vector<ParameterItem> items;
  // Optional live preview: called on the user-interface thread with the
  // knobs' current values when the user asks for one (and, with
  // autoPreview, shortly after a knob changed). It runs synchronously; the
  // dialog does not answer meanwhile, so the progress reports repaint the
  // bar without handling other events.
  std::function<void(const std::map<std::string, float>& values, const PreviewProgress& progress)> preview = {};
  bool autoPreview = false;

  ParameterDialogRequest& Knob(std::string key, std::string label, std::string format, float minimum,
                               float maximum, float defaultValue, uint32_t colour);
  ParameterDialogRequest& Section(std::string text);
};

// The knobs' values by key.
using ParameterValues = std::map<std::string, float>;

class ParameterDialogHost {
 public:
  virtual ~ParameterDialogHost() = default;
  // The values the user accepted with OK; nothing when the dialog was left
  // any other way.
  virtual std::optional<ParameterValues> Ask(const ParameterDialogRequest& request) = 0;
};

ParameterDialogHost* CurrentParameterDialogHost();  // nullptr: every request is cancelled
ParameterDialogHost* SetParameterDialogHost(ParameterDialogHost* host);

std::optional<ParameterValues> AskParameters(const ParameterDialogRequest& request);

}  // namespace zandrel
