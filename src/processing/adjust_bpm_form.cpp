#include "processing/adjust_bpm_form.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/text_format.h"
#include "processing/tempo.h"

namespace zandrel {

std::string WholeOrTwoDecimals(double value) {
  if (value == std::floor(value) && std::fabs(value) < 1e15) return Format("%lld", static_cast<long long>(value));
  return Format("%.2f", value);
}

double FieldNumber(const std::string& text) {
  // A number typed with a point or a comma, whatever the locale; what
  // follows it is ignored, and a field without one counts as 0.
  return ReadLeadingTypedNumber(text).value_or(0.0);
}

AdjustToBpmForm::AdjustToBpmForm(int64_t currentLength, uint32_t rate, double bpm)
    : currentLength_(currentLength), rate_(rate) {
  bpmText = Format("%.1f", bpm);
  const double seconds = rate ? static_cast<double>(currentLength) / rate : 0.0;
  const double current = bpm > 0.0 ? seconds / (60.0 / bpm) : 0.0;
  const int beats = std::max(1, static_cast<int>(current + 0.5));
  beatsText = Format("%d", beats);
  const int numerator = Numerator();
  barsText = Format("%d", numerator >= 1 ? std::max(1, static_cast<int>(static_cast<double>(beats) / numerator + 0.5)) : 1);
}

int AdjustToBpmForm::Numerator() const { return static_cast<int>(FieldNumber(numeratorText)); }

std::string AdjustToBpmForm::CurrentLengthText() const {
  return Format("%lld samples (%.3f sec)", static_cast<long long>(currentLength_),
                rate_ ? static_cast<double>(currentLength_) / rate_ : 0.0);
}

std::string AdjustToBpmForm::CurrentBeatsText() const {
  const double bpm = FieldNumber(bpmText);
  const double seconds = rate_ ? static_cast<double>(currentLength_) / rate_ : 0.0;
  return Format("%.2f", bpm > 0.0 ? seconds / (60.0 / bpm) : 0.0);
}

std::string AdjustToBpmForm::ResultText() const {
  return AdjustResultText(FieldNumber(bpmText), FieldNumber(beatsText), currentLength_, rate_);
}

void AdjustToBpmForm::SetBeatsText(std::string text) {
  beatsText = std::move(text);
  const int numerator = Numerator();
  const int denominator = static_cast<int>(FieldNumber(denominatorText));
  const double beats = FieldNumber(beatsText);
  if (mode == Mode::kBeats && numerator > 0 && denominator > 0 && beats >= 0)
    barsText = WholeOrTwoDecimals(beats / numerator);
}

void AdjustToBpmForm::SetBarsText(std::string text) {
  barsText = std::move(text);
  const int numerator = Numerator();
  const int denominator = static_cast<int>(FieldNumber(denominatorText));
  const double bars = FieldNumber(barsText);
  if (mode == Mode::kBars && numerator >= 1 && denominator >= 1 && bars >= 0)
    beatsText = WholeOrTwoDecimals(numerator * bars);
}

void AdjustToBpmForm::SetTimeSignature(std::string numerator, std::string denominator) {
  numeratorText = std::move(numerator);
  denominatorText = std::move(denominator);
  if (mode != Mode::kBars) return;
  const int n = std::max(1, Numerator());
  const double bars = FieldNumber(barsText);
  if (bars >= 0) beatsText = WholeOrTwoDecimals(n * bars);
}

void AdjustToBpmForm::SetMode(Mode newMode) {
  mode = newMode;
  if (mode == Mode::kBars) SetBarsText(barsText);
}

void AdjustToBpmForm::StepBeats(int delta) {
  SetBeatsText(WholeOrTwoDecimals(std::max(1.0, FieldNumber(beatsText) + delta)));
}

void AdjustToBpmForm::StepBars(int delta) {
  SetBarsText(Format("%d", static_cast<int>(std::max(1.0, FieldNumber(barsText) + delta))));
}

std::optional<std::string> AdjustToBpmForm::Accept() {
  const double bpm = FieldNumber(bpmText);
  if (!(bpm > 0.0)) return std::string("Please enter a valid BPM value.");
  if (bpm < kMinAdjustBpm || bpm > kMaxAdjustBpm)
    return Format("Please enter a BPM value from %.0f to %.0f.", kMinAdjustBpm, kMaxAdjustBpm);
  const double beats = FieldNumber(beatsText);
  if (!(beats > 0.0)) return std::string("Please enter a valid number of beats.");
  acceptedBpm_ = bpm;
  target_ = BeatsLengthFrames(bpm, beats, rate_);
  return std::nullopt;
}

}  // namespace zandrel
