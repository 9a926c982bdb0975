#include "notes/note_distribution.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <limits>

#include "document/note_names.h"
#include "platform/text_format.h"

namespace zandrel {
namespace {

constexpr std::array<int, 12> kChromaticDegrees = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr std::array<int, 7> kMajorDegrees = {0, 2, 4, 5, 7, 9, 11};
constexpr std::array<int, 7> kMinorDegrees = {0, 2, 3, 5, 7, 8, 10};

template <size_t N>
bool HasDegree(const std::array<int, N>& degrees, int degree) {
  return std::find(degrees.begin(), degrees.end(), degree) != degrees.end();
}

int32_t ClampKey(int64_t key) { return static_cast<int32_t>(std::clamp<int64_t>(key, 0, 127)); }

}  // namespace

int64_t ReadLeadingInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Saturates well past the int range: the caller only needs "too large".
  constexpr int64_t kCeiling = int64_t{1} << 40;
  int64_t value = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    value = std::min(kCeiling, value * 10 + (text[i] - '0'));
    ++i;
  }
  return negative ? -value : value;
}

std::vector<int32_t> ScaleNotes(SpreadType type, int32_t key) {
  std::vector<int32_t> notes;
  for (int32_t n = 0; n <= 127; ++n) {
    const int degree = ((n % 12) + 12 - key % 12) % 12;
    bool in = false;
    switch (type) {
      case SpreadType::kChromatic:
        in = HasDegree(kChromaticDegrees, degree);
        break;
      case SpreadType::kCMinor:
      case SpreadType::kMinorWithKey:
        in = HasDegree(kMinorDegrees, degree);
        break;
      default:
        in = HasDegree(kMajorDegrees, degree);
        break;
    }
    if (in) notes.push_back(n);
  }
  return notes;
}

std::string DistributePercussive(InstrumentData& instrument, int32_t startNote, int32_t spreadType,
                                 std::string_view startNoteText) {
  SpreadType type = SpreadType::kCMajor;
  int32_t key = 0;
  std::string name = "C Major";
  const std::string typed(startNoteText);
  switch (spreadType) {
    case 0:
      type = SpreadType::kChromatic;
      name = "Chromatic";
      break;
    case 2:
      type = SpreadType::kCMinor;
      name = "C Minor";
      break;
    case 3:
      type = SpreadType::kMajorWithKey;
      key = startNote % 12;
      name = Format("Major (%s Key)", typed.c_str());
      break;
    case 4:
      type = SpreadType::kMinorWithKey;
      key = startNote % 12;
      name = Format("Minor (%s Key)", typed.c_str());
      break;
    default:
      break;
  }
  const std::vector<int32_t> scale = ScaleNotes(type, key);
  size_t j = scale.size() - 1;
  for (size_t i = 0; i < scale.size(); ++i) {
    if (scale[i] >= startNote) {
      j = i;
      break;
    }
  }

  std::vector<Region>& regions = instrument.regions;
  std::vector<int32_t> roots(regions.size());
  for (size_t k = 0; k < regions.size(); ++k) roots[k] = j + k < scale.size() ? scale[j + k] : 127;
  for (size_t k = 0; k < regions.size(); ++k) {
    Region& r = regions[k];
    r.rootNote = roots[k];
    r.loKey = k == 0 ? 0 : std::min(roots[k - 1] + 1, roots[k]);
    // A region that is not the last shares its upper key with the next one;
    // once the scale has run out every root is 127 and that key stays 127.
    r.hiKey = k + 1 == regions.size() ? 127 : ClampKey(int64_t{roots[k]} + 1);
  }
  instrument.params.playMode = "key";
  instrument.hasInstrument = true;
  return name;
}

std::optional<int32_t> NoteFromFrequency(double hz) {
  if (!std::isfinite(hz) || hz <= 0) return std::nullopt;
  const double note = 12.0 * std::log2(hz / 440.0) + 69.0;
  if (!std::isfinite(note)) return std::nullopt;
  return static_cast<int32_t>(std::clamp(std::round(note), 0.0, 127.0));
}

std::optional<size_t> FirstNonRisingRoot(const std::vector<Region>& regions) {
  for (size_t j = 1; j < regions.size(); ++j) {
    if (regions[j].rootNote <= regions[j - 1].rootNote) return j;
  }
  return std::nullopt;
}

std::string InvalidRootsMessage(const std::vector<Region>& regions, size_t j) {
  const int a = regions[j - 1].rootNote;
  const int b = regions[j].rootNote;
  return Format(
      "Invalid root notes detected:\n\nRegion %d has root note %d (%s)\nRegion %d has root note %d (%s)\n\n"
      "Each region's root note must be higher than the previous region.\nPlease fix the root notes manually and "
      "try again.",
      static_cast<int>(j), a, MidiNoteName(a).c_str(), static_cast<int>(j + 1), b, MidiNoteName(b).c_str());
}

std::string DistributeMelodic(InstrumentData& instrument, int32_t distribution) {
  std::vector<Region>& regions = instrument.regions;
  const size_t n = regions.size();
  std::vector<int32_t> bounds(n > 0 ? n - 1 : 0);
  std::string name;
  for (size_t k = 0; k + 1 < n; ++k) {
    const int32_t t = regions[k].rootNote;
    const int32_t u = regions[k + 1].rootNote;
    int64_t b;
    switch (distribution) {
      case 1:
        b = int64_t{t} + 1;
        break;
      case 2:
        b = u;
        break;
      default:
        b = std::llround(t + (static_cast<double>(u) - t) * 0.5);
        break;
    }
    bounds[k] = static_cast<int32_t>(std::clamp<int64_t>(b, std::min(t, u), std::max(t, u)));
  }
  name = distribution == 1 ? "Sample Downwards" : distribution == 2 ? "Sample Upwards" : "Center";
  for (size_t k = 0; k < n; ++k) {
    Region& r = regions[k];
    int32_t lo = k == 0 ? 0 : bounds[k - 1];
    int32_t hi = k + 1 == n ? 127 : bounds[k];
    if (r.rootNote < lo) lo = r.rootNote;
    if (r.rootNote > hi) hi = r.rootNote;
    r.loKey = ClampKey(lo);
    r.hiKey = ClampKey(hi);
  }
  instrument.params.playMode = "key";
  instrument.hasInstrument = true;
  return name;
}

}  // namespace zandrel
