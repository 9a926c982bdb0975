#include "notes/tuning_remap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <numeric>

#include "platform/text_format.h"
#include "processing/sinc_resampler.h"

namespace zandrel {
namespace {

constexpr const char* kNoteNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
constexpr const char* kPadNames[8] = {"C", "D", "E", "F", "G", "A", "B", "C'"};

// "C4" for 60; notes outside the MIDI range keep counting octaves.
std::string NoteText(int64_t note) {
  const int64_t octave = (note >= 0 ? note / 12 : (note - 11) / 12);
  const int64_t pc = note - octave * 12;
  return Format("%s%lld", kNoteNames[pc], static_cast<long long>(octave - 1));
}

std::string NoteWithNumber(int32_t note) { return Format("%s (%d)", NoteText(note).c_str(), note); }

// The byte range of |region| in the audio, or nullopt when it does not lie
// inside it or is empty.
std::optional<std::pair<size_t, size_t>> RegionBytes(const Region& region, const PcmFormat& format,
                                                     size_t dataSize) {
  const int64_t b = int64_t{format.nChannels} * (format.wBitsPerSample / 8);
  if (b <= 0) return std::nullopt;
  // Bounds first, so that a huge frame number cannot overflow the product.
  const int64_t maxFrame = static_cast<int64_t>(dataSize) / b;
  if (region.startSample < 0 || region.endSample < 0 || region.startSample >= maxFrame ||
      region.endSample > maxFrame || region.startSample >= region.endSample) {
    return std::nullopt;
  }
  return std::make_pair(static_cast<size_t>(region.startSample * b), static_cast<size_t>(region.endSample * b));
}

bool UsableRatio(double ratio) {
  return std::isfinite(ratio) && ratio >= 1.0 / kSincMaxRatio && ratio <= kSincMaxRatio;
}

}  // namespace

const std::array<TableColumn, 8> kMappingColumns = {
    {{40, 1}, {70, 0}, {70, 0}, {70, 2}, {70, 2}, {70, 2}, {70, 1}, {70, 1}}};
const std::array<const char*, 8> kMappingHeader = {"Pad",  "Target", "Source", "Shift",
                                                   "Tune", "Total",  "Sound",  "Sample Q"};

const std::array<ListColors, 8> kTuningListPalette = {{
    {MakeColorRef(41, 80, 130), MakeColorRef(230, 242, 255)},
    {MakeColorRef(140, 110, 40), MakeColorRef(255, 250, 230)},
    {MakeColorRef(40, 90, 60), MakeColorRef(235, 250, 235)},
    {MakeColorRef(150, 60, 70), MakeColorRef(255, 235, 240)},
    {MakeColorRef(90, 60, 120), MakeColorRef(248, 240, 255)},
    {MakeColorRef(160, 70, 30), MakeColorRef(255, 240, 230)},
    {MakeColorRef(0, 100, 100), MakeColorRef(225, 252, 252)},
    {MakeColorRef(60, 70, 80), MakeColorRef(240, 240, 245)},
}};

int32_t BaseOctave(const std::vector<Region>& regions) {
  if (regions.empty()) return 4;
  int64_t sum = 0;
  for (const Region& r : regions) sum += r.rootNote;
  const int64_t mean = sum / static_cast<int64_t>(regions.size());
  return static_cast<int32_t>(std::clamp<int64_t>(mean / 12, 2, 6));
}

std::string BaseOctaveText(int32_t baseOctave) { return Format("C%d - C%d", baseOctave - 1, baseOctave); }

std::string RegionsText(const std::vector<Region>& regions) {
  std::string roots;
  for (size_t i = 0; i < regions.size(); ++i) {
    if (i > 0) roots += ", ";
    roots += NoteText(regions[i].rootNote);
  }
  return Format("%d (%s)", static_cast<int>(regions.size()), roots.c_str());
}

float PadQuality(float totalCents) {
  if (std::fabs(totalCents) < 1.0f) return 1.0f;
  return std::max(0.3f, 1.0f - std::fabs(totalCents) / 2400.0f);
}

std::vector<PadMapping> BuildPadMapping(const std::vector<Region>& regions, int32_t baseOctave,
                                        const std::array<float, 8>& padCents) {
  std::vector<PadMapping> plan;
  if (regions.empty()) return plan;
  for (int32_t pad = 0; pad < 8; ++pad) {
    const int32_t target = baseOctave * 12 + kPadSemitones[pad];
    float best = 999.0f;
    int32_t source = -1;
    for (size_t i = 0; i < regions.size(); ++i) {
      const float distance = std::fabs(static_cast<float>(target) - static_cast<float>(regions[i].rootNote));
      if (distance < best) {  // strictly: the first of equally near regions wins
        best = distance;
        source = static_cast<int32_t>(i);
      }
    }
    if (source < 0) continue;
    PadMapping row;
    row.pad = pad;
    row.targetNote = target;
    row.sourceRegion = source;
    row.sourceRoot = regions[source].rootNote;
    row.semitones = static_cast<float>(target - row.sourceRoot);
    row.tuneCents = padCents[pad];
    row.totalCents = row.semitones * 100.0f + row.tuneCents;
    row.quality = PadQuality(row.totalCents);
    plan.push_back(row);
  }
  return plan;
}

std::array<std::string, 8> MappingRowCells(const PadMapping& row) {
  std::array<std::string, 8> cells;
  cells[0] = row.pad >= 0 && row.pad < 8 ? kPadNames[row.pad] : "";
  cells[1] = NoteWithNumber(row.targetNote);
  cells[2] = NoteWithNumber(row.sourceRoot);
  cells[3] = Format("%+.1fst", row.semitones);
  cells[4] = Format("%+.1fc", row.tuneCents);
  cells[5] = Format("%+.0fc", row.totalCents);
  const float p = row.totalCents / 100.0f + static_cast<float>(row.sourceRoot);
  const float n = std::round(p);  // halves away from zero
  const float d = (p - n) * 100.0f;
  const std::string name = NoteText(static_cast<int64_t>(n));
  cells[6] = std::fabs(d) < 5.0f ? name : d > 0 ? name + "*" : "*" + name;
  cells[7] = Format("%d%%", static_cast<int>(row.quality * 100.0f));
  return cells;
}

std::string QualityText(const std::vector<PadMapping>& plan) {
  if (plan.empty()) return "N/A";
  double sum = 0;
  float maxShift = 0;
  for (const PadMapping& row : plan) {
    sum += row.quality;
    maxShift = std::max(maxShift, std::fabs(row.semitones));
  }
  const int q = static_cast<int>(100.0 * sum / static_cast<double>(plan.size()));
  const char* rating = q >= 90 ? "Excellent"
                       : q >= 80 ? "Very Good"
                       : q >= 70 ? "Good"
                       : q >= 60 ? "Acceptable"
                       : q >= 50 ? "Fair"
                                 : "Poor";
  return Format("Overall quality: %d%% (%s), Max pitch shift: \u00B1%.0f semitones", q, rating,
                static_cast<double>(maxShift));
}

std::optional<int32_t> SelectableRow(const std::vector<TuningPreset>& rows, int32_t row) {
  const auto count = static_cast<int32_t>(rows.size());
  if (row < 0 || row >= count) return std::nullopt;
  if (!rows[row].isCategory) return row;
  for (int32_t i = row + 1; i < count; ++i)
    if (!rows[i].isCategory) return i;
  for (int32_t i = row - 1; i >= 0; --i)
    if (!rows[i].isCategory) return i;
  return std::nullopt;
}

int32_t TuningGroup(const std::vector<TuningPreset>& rows, int32_t row) {
  int32_t headers = 0;
  for (int32_t i = 0; i <= row && i < static_cast<int32_t>(rows.size()); ++i)
    if (rows[i].isCategory) ++headers;
  return std::max(0, headers - 1);
}

std::string TuningRemapHelpText() {
  static const char* const kLines[] = {
      "# Microtonal & Historical Tuning Mode",
      "",
      "This tool remaps your samples to play **non-standard tunings** (like Just Intonation or Arabic scales) on "
      "the EP hardware.",
      "",
      "## IMPORTANT Requirement",
      "You must set your EP pads to **Scale: Major** and **Root: C**.",
      "",
      "## How it Works",
      "1. The EP supports only 8 specific note slots in this mode (C, D, E, F, G, A, B, C').",
      "2. We cleverly repitch the root notes from your existing regions for these 8 slots to achieve the target "
      "tuning. The tuning will be correct only if the pads are set in C Major and will be mapped to pads 1 to 8.",
      "",
      "## Important Note",
      "This process **replaces** your current regions with 8 micro tuned regions.",
      "",
      "## Suggestion",
      "Start with a rich sampled instrument. (Ideal would be to sample every semitone in an octave to minimise "
      "secondary resampling).",
  };
  std::string text;
  for (size_t i = 0; i < std::size(kLines); ++i) {
    if (i > 0) text += '\n';
    text += kLines[i];
  }
  return text;
}

std::string TuningRemapQuestion(const std::string& tuningName, int32_t baseOctave, const std::string& qualityText) {
  return Format(
      "This will replace all current regions with 8 new regions optimized for EP Major Scale mode.\n\nTuning: "
      "%s\nBase octave: C%d\nQuality: %s\n\nContinue?",
      tuningName.c_str(), baseOctave - 1, qualityText.c_str());
}

std::string TuningRemapDoneText(int32_t baseOctave, const std::string& tuningName) {
  return Format(
      "Successfully created 8 microtuned regions for EP Major Scale mode.\n\nBase octave: C%d-C%d\nGlobal root: "
      "C%d (MIDI %d)\nTuning: %s",
      baseOctave - 1, baseOctave, baseOctave - 1, baseOctave * 12, tuningName.c_str());
}

std::string TuningRemapErrorText(const char* what) {
  return Format("Error during resampling: %s\n\nOriginal data preserved. You can undo if needed.", what ? what : "");
}

namespace {

RemapConverter& InstalledConverter() {
  static RemapConverter converter;
  return converter;
}

}  // namespace

RemapConverter SetRemapConverter(RemapConverter converter) {
  RemapConverter previous = std::move(InstalledConverter());
  InstalledConverter() = std::move(converter);
  return previous;
}

double PadRatio(const PadMapping& row) {
  const float cents = row.semitones * 100.0f + row.tuneCents;
  return std::pow(2.0, static_cast<double>(cents) / 1200.0);
}

ResampledPiece ResampleRegionAudio(std::span<const uint8_t> piece, const Region& source, double ratio,
                                   const PcmFormat& format, unsigned threads, const WorkProgress& progress) {
  ResampledPiece result;
  if (format.wBitsPerSample != 16) {
    result.warning = "Resampling only supports 16-bit audio. Please convert your audio first.";
    return result;
  }
  const int channels = format.nChannels;
  if (channels < 1) return result;
  const uint64_t frames = piece.size() / (static_cast<size_t>(channels) * 2);
  std::vector<int16_t> in(frames * channels);
  if (!in.empty()) std::memcpy(in.data(), piece.data(), in.size() * sizeof(int16_t));
  if (const RemapConverter& installed = InstalledConverter()) {
    installed(result.samples, in.data(), frames, channels, ratio, threads, progress);
  } else {
    // The resampler filters with its best table whatever descriptor it gets.
    SincFilterSpec spec = SincFilterSpec::Medium();
    ResampleSinc(spec, result.samples, in.data(), frames, channels, ratio, threads, progress);
  }
  if (result.samples.empty()) return result;

  const auto n = static_cast<int64_t>(result.samples.size() / channels);
  const int64_t length = source.endSample - source.startSample;
  if (source.loopStart < 0 || source.loopEnd < 0 || length < 1) return result;
  const float span = static_cast<float>(length);
  int64_t ls = static_cast<int64_t>(static_cast<float>(source.loopStart - source.startSample) / span *
                                    static_cast<float>(n));
  int64_t le = static_cast<int64_t>(static_cast<float>(source.loopEnd - source.startSample) / span *
                                    static_cast<float>(n));
  ls = std::clamp<int64_t>(ls, 0, n - 1);
  le = std::min(le, n);
  if (le <= ls) le = ls + 1;
  result.loopStart = ls;
  result.loopEnd = le;
  return result;
}

uint64_t RemapOutputFrames(const std::vector<Region>& regions, const std::vector<PadMapping>& plan,
                           uint64_t audioFrames) {
  uint64_t total = 0;
  for (const PadMapping& row : plan) {
    if (row.sourceRegion < 0 || row.sourceRegion >= static_cast<int32_t>(regions.size())) continue;
    const Region& r = regions[row.sourceRegion];
    if (r.startSample < 0 || r.endSample > static_cast<int64_t>(audioFrames) || r.startSample >= r.endSample)
      continue;
    const double ratio = PadRatio(row);
    if (!UsableRatio(ratio)) continue;
    total += static_cast<uint64_t>(static_cast<double>(r.endSample - r.startSample) / ratio);
  }
  return total;
}

std::optional<std::string> RemapLengthWarning(uint64_t outputFrames, uint32_t sampleRate) {
  if (static_cast<double>(outputFrames) <= kMaxRemapSeconds * sampleRate) return std::nullopt;
  const double seconds = sampleRate > 0 ? static_cast<double>(outputFrames) / sampleRate : 0.0;
  return Format("The tuned instrument would be %.0f seconds long; the limit is %.0f seconds.", seconds,
                kMaxRemapSeconds);
}

namespace {

RemapOutcome BuildRemappedAudioUnguarded(std::span<const uint8_t> audio, const PcmFormat& format,
                                         const std::vector<Region>& regions, const std::vector<PadMapping>& plan,
                                         const WorkProgress& progress, unsigned threads) {
  RemapOutcome out;
  auto fail = [&out](std::string text, bool warning = false) {
    out.failures.emplace_back(std::move(text), warning);
    out.audio.clear();
    out.regions.clear();
    return std::move(out);
  };
  if (plan.size() != 8) return fail("Invalid mapping - expected 8 regions.");

  const size_t blockBytes = static_cast<size_t>(format.nChannels) * 2;
  // The new audio is allocated once, at its final size.
  if (format.wBitsPerSample == 16 && blockBytes > 0)
    out.audio.reserve(RemapOutputFrames(regions, plan, audio.size() / blockBytes) * blockBytes);
  out.regions.reserve(8);
  // Each pad's share of the progress: its source's length over all of them.
  std::array<double, 9> shareEnd{};
  {
    std::array<double, 8> weight{};
    double total = 0.0;
    for (int i = 0; i < 8; ++i) {
      const int32_t s = plan[i].sourceRegion;
      if (s >= 0 && s < static_cast<int32_t>(regions.size()))
        weight[i] = static_cast<double>(std::max<int64_t>(0, regions[s].endSample - regions[s].startSample));
      total += weight[i];
    }
    for (int i = 0; i < 8; ++i)
      shareEnd[i + 1] = total > 0 ? shareEnd[i] + weight[i] / total : (i + 1) / 8.0;
  }
  bool going = true;
  const WorkProgress watched = [&](double f) { return going = (!progress || progress(f)); };
  int64_t position = 0;
  for (int i = 0; i < 8; ++i) {
    const PadMapping& row = plan[i];
    const int32_t s = row.sourceRegion;
    if (s < 0 || s >= static_cast<int32_t>(regions.size())) return fail(Format("Invalid source region index %d", s));
    const Region& source = regions[s];
    const auto bytes = RegionBytes(source, format, audio.size());
    if (!bytes) return fail(Format("Failed to extract audio for region %d", i));
    ResampledPiece piece = ResampleRegionAudio(audio.subspan(bytes->first, bytes->second - bytes->first), source,
                                               PadRatio(row), format, threads,
                                               SubProgress(watched, shareEnd[i], shareEnd[i + 1]));
    if (!going) return out;
    if (piece.samples.empty()) {
      if (piece.warning) out.failures.emplace_back(*piece.warning, true);
      return fail(Format("Resampling failed for region %d", i));
    }
    const auto frames = static_cast<int64_t>(piece.samples.size() / format.nChannels);
    Region r;
    r.startSample = position;
    r.endSample = position + frames;
    r.loopStart = piece.loopStart < 0 ? kNoLoop : position + piece.loopStart;
    r.loopEnd = piece.loopEnd < 0 ? kNoLoop : position + piece.loopEnd;
    r.loKey = r.hiKey = r.rootNote = row.targetNote;
    out.regions.push_back(r);
    const auto* raw = reinterpret_cast<const uint8_t*>(piece.samples.data());
    out.audio.insert(out.audio.end(), raw, raw + piece.samples.size() * sizeof(int16_t));
    // The next piece starts where this one's resampled frames end, so the
    // regions lie back to back inside the new audio.
    position += frames;
    if (!watched(shareEnd[i + 1])) return out;
  }
  return out;
}

}  // namespace

RemapOutcome BuildRemappedAudio(std::span<const uint8_t> audio, const PcmFormat& format,
                                const std::vector<Region>& regions, const std::vector<PadMapping>& plan,
                                const WorkProgress& progress, unsigned threads) {
  // Whatever was built so far is dropped with the outcome: the document is
  // never touched here.
  RemapOutcome failed;
  try {
    return BuildRemappedAudioUnguarded(audio, format, regions, plan, progress, threads);
  } catch (const std::exception& e) {
    failed.failures.emplace_back(TuningRemapErrorText(e.what()), false);
  } catch (...) {
    failed.failures.emplace_back(kTuningRemapUnknownError, false);
  }
  return failed;
}

}  // namespace zandrel
