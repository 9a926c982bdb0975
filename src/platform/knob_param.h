// The description of one knob as plain data: what it is called, its range,
// its default, its look and its callbacks. Knob panels turn these into live
// knobs; tone engines list them for their parameters, so describing a
// parameter never needs a widget model.
//
// The builders below are the one place a description is put together, so a
// rotary knob, a selector and a text row get the same defaults everywhere.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/colorref.h"

namespace zandrel {

enum KnobKind : int { kKnobRotary = 0, kKnobSelector = 1, kKnobSection = 2, kKnobLabelRow = 3 };

// The accent of a knob and the text of a label row unless told otherwise.
inline constexpr ColorRef kKnobAccentColour = 0xFF9632;
inline constexpr ColorRef kKnobLabelTextColour = 0xFFFFFF;

// One item of a selector: its label and colour.
struct KnobChoice {
  std::string label;
  ColorRef colour = 0;
};

struct KnobParam {
  int id = 1;  // control id of the knob and key of the maps
  std::string label;
  std::string valueFormat = "%.0f%%";
  float defaultValue = 0.5f;  // knob: real units; selector: normalised 0..1
  float minimum = 0.0f;
  float maximum = 1.0f;
  ColorRef colour = kKnobAccentColour;         // accent of a knob; fill of a label row
  ColorRef labelColour = kKnobLabelTextColour;  // text of a label row
  std::function<void(float)> valueCallback;
  std::function<void(int)> selectionCallback;
  std::function<void()> commitCallback;
  std::vector<KnobChoice> items;  // a parameter with items becomes a selector
  int kind = kKnobRotary;         // only kinds 2 and 3 are read from here
};

// A rotary knob over minimum..maximum with its default in those units; the
// usual one shows a percentage of 0..1.
inline KnobParam RotaryKnob(int id, std::string label, float defaultValue, ColorRef colour = kKnobAccentColour,
                            std::string format = "%.0f%%", float minimum = 0.0f, float maximum = 1.0f) {
  KnobParam p;
  p.id = id;
  p.label = std::move(label);
  p.valueFormat = std::move(format);
  p.defaultValue = defaultValue;
  p.minimum = minimum;
  p.maximum = maximum;
  p.colour = colour;
  p.kind = kKnobRotary;
  return p;
}

// A selector over |choices|, on the normalised position 0.5 unless the caller
// picks another default.
inline KnobParam SelectorKnob(int id, std::string label, std::vector<KnobChoice> choices) {
  KnobParam p;
  p.id = id;
  p.label = std::move(label);
  p.items = std::move(choices);
  p.kind = kKnobSelector;
  return p;
}

// A row of text across the panel: a section paragraph (kKnobSection) or a
// label row (kKnobLabelRow), |textColour| on |fill|.
inline KnobParam TextRowKnob(int id, int kind, std::string text, ColorRef fill = kKnobAccentColour,
                             ColorRef textColour = kKnobLabelTextColour) {
  KnobParam p;
  p.id = id;
  p.label = std::move(text);
  p.colour = fill;
  p.labelColour = textColour;
  p.kind = kind;
  return p;
}

}  // namespace zandrel
