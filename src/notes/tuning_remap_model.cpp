#include "notes/tuning_remap_model.h"

namespace zandrel {

TuningRemapModel::TuningRemapModel(std::vector<Region> regions) : regions_(std::move(regions)) {
  BuildTuningPresets(presets_);
  if (!regions_.empty()) baseOctave_ = zandrel::BaseOctave(regions_);
  baseOctaveText_ = zandrel::BaseOctaveText(baseOctave_);
  regionsText_ = zandrel::RegionsText(regions_);
  if (presets_.size() >= 2) {
    selection_ = 1;
    description_ = presets_[1].description;
    selectedName_ = presets_[1].name;
  }
  Rebuild();
}

int32_t TuningRemapModel::Select(int32_t row) {
  const std::optional<int32_t> settled = SelectableRow(presets_, row);
  if (!settled) {
    if (row >= 0 && row < static_cast<int32_t>(presets_.size())) selection_ = -1;
    return -1;
  }
  selection_ = *settled;
  description_ = presets_[selection_].description;
  selectedName_ = presets_[selection_].name;
  Rebuild();
  return selection_;
}

void TuningRemapModel::Rebuild() {
  // An invalid selection plans with row 0 (a header: all cents 0).
  const int32_t r = selection_ >= 0 && selection_ < static_cast<int32_t>(presets_.size()) ? selection_ : 0;
  plan_ = presets_.empty() ? std::vector<PadMapping>{}
                           : BuildPadMapping(regions_, baseOctave_, presets_[r].padCents);
  qualityText_ = zandrel::QualityText(plan_);
}

std::optional<std::string> TuningRemapModel::ProcessRefusal() const {
  if (plan_.size() != 8) return std::string("Invalid mapping - expected 8 regions.");
  return std::nullopt;
}

std::string TuningRemapModel::ProcessQuestion() const {
  return TuningRemapQuestion(selectedName_, baseOctave_, qualityText_);
}

std::optional<std::string> TuningRemapModel::OpenRefusal(const std::vector<Region>* regions) {
  if (!regions) return std::string("No document available.");
  if (regions->empty()) return std::string("No regions found. Please create at least one region first.");
  return std::nullopt;
}

}  // namespace zandrel
