// KnobPanelModel: the parameters of a panel of knobs, their grid layout, the
// knob models created for them, and the text preset that saves and loads
// their values.
//
// Owners describe the parameters (AddParam, or directly through params and
// order), then CreateKnobs makes one KnobModel per parameter with its initial
// value and callbacks; LayoutKnobPanel places them in cells. The knob models
// are shared with the widgets that show them and outlive those widgets, so
// values stay readable after the hosting window is gone, until Clear.
// User-interface thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/knob_param.h"
#include "widgets/model/knob_model.h"

namespace zandrel {

// A cell of the layout in the parent's client coordinates (right and bottom
// exclusive).
struct PanelCell {
  int id = 0;
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// Knobs sit in 100 x 120 cells 110 pixels apart, rows of knobs 130 pixels
// apart; a section text takes a 60-pixel row of the full width and moves on
// by 70, a label row a 15-pixel row and 25. One kind per entry.
std::vector<PanelCell> LayoutKnobPanel(std::span<const std::pair<int, int>> idsAndKinds, int left, int top,
                                       int right);
// The height the same layout needs in a rectangle |width| wide.
int MeasureKnobPanelHeight(std::span<const int> kinds, int width);

class KnobPanelModel {
 public:
  std::map<int, KnobParam> params;
  std::vector<int> order;  // creation order: layout and preset, each id once
  std::map<int, std::shared_ptr<KnobModel>> knobs;

  // Stores a new knob parameter under |id| (replacing one there) and appends
  // id to the order.
  void AddParam(int id, std::string label, std::string format, float minimum, float maximum, float defaultValue,
                ColorRef colour);
  void SetValueCallback(int id, std::function<void(float)> callback);
  void SetSelectionCallback(int id, std::function<void(int)> callback);
  // Sections and label rows take no commit callback.
  void SetCommitCallback(int id, std::function<void()> callback);

  // The kinds of the parameters in creation order, and their cells.
  std::vector<std::pair<int, int>> IdsAndKinds() const;
  std::vector<PanelCell> Layout(int left, int top, int right) const;
  // Makes the knob of one parameter (|background| is the panel's colour) and
  // sets its initial value; a selector may call its selection callback here.
  // |attach| runs before the initial value is set, so that a widget showing
  // the knob hears the first scroll notification.
  std::shared_ptr<KnobModel> CreateKnob(
      const KnobParam& param, ColorRef background,
      const std::function<void(const std::shared_ptr<KnobModel>&)>& attach = {});

  KnobModel* FindKnob(int id) const;
  float GetValue(int id) const;
  void Clear();

  // The text preset: "Label: 0.500000" per knob, "Label: Item" per selector,
  // in creation order; sections and label rows are not saved.
  std::string SaveText() const;
  // Applies preset text: for each "name: value" line, the first parameter in
  // ascending id order with exactly that label and a knob. A selector takes
  // the item of that label and stays as it is when no item has it; a knob
  // takes the number (clamped to its range, 0 when the text is no number) and
  // keeps its value on "nan", "inf" or an overflow.
  void LoadText(std::string_view text);
  // The same with the rules of the engine settings files of the synth
  // dialogs: labels and item names compare ignoring case, and a selector
  // whose line names no item walks through its items and stays on the last.
  void LoadTextIgnoringCase(std::string_view text);
  // Files: the save is atomic; both return false on a file error.
  bool SaveTextFile(const std::filesystem::path& path) const;
  bool LoadTextFile(const std::filesystem::path& path);
  bool LoadTextFileIgnoringCase(const std::filesystem::path& path);

 private:
  void ApplyText(std::string_view text, bool ignoreCase);
};

// (value - minimum) / (maximum - minimum), or 0 for an empty range.
float NormaliseToRange(double value, float minimum, float maximum);

}  // namespace zandrel
