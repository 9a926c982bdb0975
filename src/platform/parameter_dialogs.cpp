#include "platform/parameter_dialogs.h"

namespace zandrel {
namespace {
ParameterDialogHost* g_parameterDialogHost = nullptr;
}

ParameterDialogRequest& ParameterDialogRequest::Knob(std::string key, std::string label, std::string format,
                                                     float minimum, float maximum, float defaultValue,
                                                     uint32_t colour) {
  ParameterItem item;
  item.key = std::move(key);
  item.label = std::move(label);
  item.format = std::move(format);
  item.minimum = minimum;
  item.maximum = maximum;
  item.defaultValue = defaultValue;
  item.colour = colour;
  items.push_back(std::move(item));
  return *this;
}

ParameterDialogRequest& ParameterDialogRequest::Section(std::string text) {
  ParameterItem item;
  item.section = true;
  item.label = std::move(text);
  items.push_back(std::move(item));
  return *this;
}

ParameterDialogHost* CurrentParameterDialogHost() { return g_parameterDialogHost; }

ParameterDialogHost* SetParameterDialogHost(ParameterDialogHost* host) {
  ParameterDialogHost* previous = g_parameterDialogHost;
  g_parameterDialogHost = host;
  return previous;
}

std::optional<ParameterValues> AskParameters(const ParameterDialogRequest& request) {
  return g_parameterDialogHost ? g_parameterDialogHost->Ask(request) : std::nullopt;
}

}  // namespace zandrel
