// What the tuning remap dialog shows and decides, without a window: the
// catalogue, the base octave and region texts, the selected row (headers are
// never selected), its plan, mapping cells and quality, and the check and
// question of "Process". The Qt dialog (notes/ui) only draws it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "document/instrument.h"
#include "notes/tuning_remap.h"
#include "notes/tuning_table.h"

namespace zandrel {

class TuningRemapModel {
 public:
  // The catalogue, the texts for |regions|, row 1 selected and its plan.
  explicit TuningRemapModel(std::vector<Region> regions);

  const std::vector<TuningPreset>& Presets() const { return presets_; }
  int32_t BaseOctave() const { return baseOctave_; }
  const std::string& BaseOctaveText() const { return baseOctaveText_; }
  const std::string& RegionsText() const { return regionsText_; }

  // The list asked for |row|: the selection settles on a tuning row (a
  // header moves to the next tuning row) and the plan follows. Returns the
  // settled row, -1 when there is none (nothing else then changes).
  int32_t Select(int32_t row);
  int32_t Selection() const { return selection_; }
  const std::string& Description() const { return description_; }
  // "Unknown" when no row is selected.
  const std::string& SelectedName() const { return selectedName_; }

  const std::vector<PadMapping>& Plan() const { return plan_; }
  const std::string& QualityText() const { return qualityText_; }

  // What "Process" says instead of asking: a plan of other than eight rows.
  std::optional<std::string> ProcessRefusal() const;
  // The Yes/No question "Process" asks.
  std::string ProcessQuestion() const;

  // Why the dialog cannot open for |regions| ("No regions found..."), or nullopt.
  static std::optional<std::string> OpenRefusal(const std::vector<Region>* regions);

 private:
  void Rebuild();

  std::vector<Region> regions_;
  std::vector<TuningPreset> presets_;
  int32_t baseOctave_ = 4;
  std::string baseOctaveText_;
  std::string regionsText_;
  int32_t selection_ = -1;
  std::string description_;
  std::string selectedName_ = "Unknown";
  std::vector<PadMapping> plan_;
  std::string qualityText_ = "N/A";
};

}  // namespace zandrel
