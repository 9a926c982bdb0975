// The Adjust Loop to BPM dialog without its window: the texts of its fields
// and the rules that tie them together (beats or bars edited, the time
// signature, the result line, what OK accepts). The Qt dialog shows these
// texts and passes each edit in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zandrel {

class AdjustToBpmForm {
 public:
  enum class Mode { kBeats = 0, kBars = 1 };

  // Fills the fields for audio of |currentLength| frames at |rate| and the
  // instrument's tempo.
  AdjustToBpmForm(int64_t currentLength, uint32_t rate, double bpm);

  // The fields as shown.
  std::string bpmText;
  std::string beatsText;
  std::string barsText;
  std::string numeratorText = "4";
  std::string denominatorText = "4";
  Mode mode = Mode::kBeats;

  std::string CurrentLengthText() const;  // "%lld samples (%.3f sec)"
  std::string CurrentBeatsText() const;   // "%.2f"
  // What OK will do: "Will add ...", "Will cut ...", "No change needed",
  // "Invalid BPM", "Invalid beats", or the accepted tempo range.
  std::string ResultText() const;

  // Edits: each keeps the other fields in step as the dialog does.
  void SetBeatsText(std::string text);  // in beats mode also the bars
  void SetBarsText(std::string text);   // in bars mode also the beats
  void SetTimeSignature(std::string numerator, std::string denominator);
  void SetMode(Mode newMode);
  void StepBeats(int delta);
  void StepBars(int delta);

  // OK: the warning to show and keep the dialog open, or nullopt when the
  // values are accepted; then Bpm() and TargetLength() hold the result.
  std::optional<std::string> Accept();
  double Bpm() const { return acceptedBpm_; }
  int64_t TargetLength() const { return target_; }

 private:
  int Numerator() const;
  int64_t currentLength_;
  uint32_t rate_;
  double acceptedBpm_ = 0.0;
  int64_t target_ = 0;
};

// A number as the dialog writes beats and bars: "%d" when whole, else "%.2f".
std::string WholeOrTwoDecimals(double value);
// The leading number of a field's text (0 when there is none), as the
// dialog's fields read.
double FieldNumber(const std::string& text);

}  // namespace zandrel
