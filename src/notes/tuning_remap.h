// The tuning remap without a window: the plan that maps the document's
// regions onto the eight pads of an EP device set to scale Major with root C,
// the texts the remap dialog shows, and the rebuild of the instrument from a
// plan (eight resampled regions laid back to back).
//
// Pure functions over the regions, the audio bytes and a tuning row; they
// show no message (messages are returned) and record no undo entry.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "document/instrument.h"
#include "document/wav_loader.h"
#include "platform/colorref.h"
#include "platform/work_progress.h"
#include "notes/tuning_table.h"

namespace zandrel {

// One row of the plan: which region plays pad |pad| and how far it moves.
struct PadMapping {
  int32_t pad = 0;           // 0..7: C, D, E, F, G, A, B, C'
  int32_t targetNote = 0;    // the key the pad plays
  int32_t sourceRegion = 0;  // index into the regions
  int32_t sourceRoot = 0;
  float semitones = 0;       // target - source root
  float tuneCents = 0;       // the tuning's cents for the pad
  float totalCents = 0;      // semitones x 100 + tune
  float quality = 0;         // 1 for an untouched sample, down to 0.3

  bool operator==(const PadMapping&) const = default;
};

// The octave whose C is pad C: the truncated mean root / 12, clamped to
// 2..6; 4 without regions.
int32_t BaseOctave(const std::vector<Region>& regions);
// "C3 - C4" for base octave 4.
std::string BaseOctaveText(int32_t baseOctave);
// "3 (C4, D4, E4)": the region count and the roots in stored order.
std::string RegionsText(const std::vector<Region>& regions);

// 1 when |total| < 1 cent, else max(0.3, 1 - |total| / 2400).
float PadQuality(float totalCents);

// For each pad the nearest region by root (the first of equally near ones)
// and the pitch change to the tuned pad pitch. Empty without regions; a pad
// no region is near enough to is left out.
std::vector<PadMapping> BuildPadMapping(const std::vector<Region>& regions, int32_t baseOctave,
                                        const std::array<float, 8>& padCents);

// The mapping table's columns and its header row.
struct TableColumn {
  int32_t width = 0;
  int32_t alignment = 0;  // 0 left, 1 centre, 2 right
};
extern const std::array<TableColumn, 8> kMappingColumns;
extern const std::array<const char*, 8> kMappingHeader;
// The cells of one plan row: pad, target, source, shift, tune, total, the
// sounding note ("*C4" flat, "C4*" sharp of it by 5 cents or more) and the
// quality in percent.
std::array<std::string, 8> MappingRowCells(const PadMapping& row);
// "Overall quality: 87% (Very Good), Max pitch shift: ±8 semitones", or
// "N/A" for an empty plan.
std::string QualityText(const std::vector<PadMapping>& plan);

// The row a selection of |row| settles on: a tuning row stays; a header
// moves to the first tuning row below it, else to the nearest one above;
// nullopt when there is none (or |row| is outside the list).
std::optional<int32_t> SelectableRow(const std::vector<TuningPreset>& rows, int32_t row);
// The colour group of a row: the headers at or above it, less one (at least 0).
int32_t TuningGroup(const std::vector<TuningPreset>& rows, int32_t row);
struct ListColors {
  ColorRef header;
  ColorRef row;
};
extern const std::array<ListColors, 8> kTuningListPalette;

// The dialog's help text (markdown, lines joined by line feeds).
std::string TuningRemapHelpText();
// The question "Process" asks before the dialog closes.
std::string TuningRemapQuestion(const std::string& tuningName, int32_t baseOctave, const std::string& qualityText);
// The box shown after a successful remap.
std::string TuningRemapDoneText(int32_t baseOctave, const std::string& tuningName);
// The error boxes of a remap stopped by an exception: with the exception's
// text, and for anything that is not a standard exception.
std::string TuningRemapErrorText(const char* what);
inline constexpr const char* kTuningRemapUnknownError =
    "Unknown error during resampling.\n\nOriginal data preserved. You can undo if needed.";

// Input frames per output frame that move a root by the pad's total: the
// sum in single precision, the power in double.
double PadRatio(const PadMapping& row);

// One region's audio after resampling, with its loop mapped to the new
// length (frame offsets from the piece's start, -1 without a loop).
struct ResampledPiece {
  std::vector<int16_t> samples;  // interleaved; empty when nothing came out
  int64_t loopStart = kNoLoop;
  int64_t loopEnd = kNoLoop;
  std::optional<std::string> warning;  // why nothing came out, when the user must be told
};
// |threads| = 0 uses every core. When |progress| asks to stop, the samples
// are left empty (and no warning is set).
ResampledPiece ResampleRegionAudio(std::span<const uint8_t> piece, const Region& source, double ratio,
                                   const PcmFormat& format, unsigned threads = 0, const WorkProgress& progress = {});

// What the remap resamples each pad's piece with (ResampleSinc with the
// medium table's descriptor unless one is installed): |out| receives
// channels x floor(frames / ratio) samples, or stays empty.
using RemapConverter = std::function<void(std::vector<int16_t>& out, const int16_t* in, uint64_t frames,
                                          int channels, double ratio, unsigned threads,
                                          const WorkProgress& progress)>;
// Installs |converter| (empty restores ResampleSinc) and returns the one
// before. Install it before a remap starts, never while one runs.
RemapConverter SetRemapConverter(RemapConverter converter);

class ScopedRemapConverter {
 public:
  explicit ScopedRemapConverter(RemapConverter c) : previous_(SetRemapConverter(std::move(c))) {}
  ~ScopedRemapConverter() { SetRemapConverter(std::move(previous_)); }
  ScopedRemapConverter(const ScopedRemapConverter&) = delete;
  ScopedRemapConverter& operator=(const ScopedRemapConverter&) = delete;

 private:
  RemapConverter previous_;
};

// The longest instrument a remap may build, in seconds.
constexpr double kMaxRemapSeconds = 600.0;

// The frames the remap would produce: the sum over the plan's pads of
// floor(piece frames / ratio), as the resampler counts them. Pads whose
// source is missing or lies outside the audio count 0 (they fail later).
uint64_t RemapOutputFrames(const std::vector<Region>& regions, const std::vector<PadMapping>& plan,
                           uint64_t audioFrames);
// The warning for an instrument longer than kMaxRemapSeconds, or nullopt.
std::optional<std::string> RemapLengthWarning(uint64_t outputFrames, uint32_t sampleRate);

// The rebuilt instrument: the new audio bytes and the eight regions.
struct RemapOutcome {
  std::vector<uint8_t> audio;
  std::vector<Region> regions;
  // On failure: the boxes to show in order (text, is-warning) and nothing
  // else; the document must stay as it was.
  std::vector<std::pair<std::string, bool>> failures;
  bool Ok() const { return failures.empty(); }
};

// The remap, one pad at a time: |progress| (may be empty) hears the fraction
// done as each pad's resampling goes (pads weighed by their source's length)
// and returns false to stop (the outcome is then incomplete and must be
// dropped). An exception while it runs (memory exhausted, a converter that
// fails) ends it as a failure with TuningRemapErrorText or
// kTuningRemapUnknownError.
RemapOutcome BuildRemappedAudio(std::span<const uint8_t> audio, const PcmFormat& format,
                                const std::vector<Region>& regions, const std::vector<PadMapping>& plan,
                                const WorkProgress& progress = {}, unsigned threads = 0);

}  // namespace zandrel
