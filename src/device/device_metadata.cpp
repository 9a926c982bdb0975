// Device sound metadata: the validity rule, the two conversions between the
// instrument chunk and the device's metadata, and the names.
#include "device/device_metadata.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "device/device_client.h"

namespace zandrel {

// ---- JSON text ----

namespace {

// Whether no container in |text| opens deeper than |maxDepth|. Brackets
// inside strings do not count.
bool NestingWithin(std::string_view text, int maxDepth) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > maxDepth) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

}  // namespace

EPJson ParseDeviceJson(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  if (text.empty() || !NestingWithin(text, kMaxDeviceJsonDepth)) return EPJson();
  EPJson value = EPJson::parse(text.begin(), text.end(), nullptr, false);
  return value.is_discarded() ? EPJson() : value;
}

std::string DumpDeviceJson(const EPJson& value, int indent) {
  return value.dump(indent, ' ', false, EPJson::error_handler_t::replace);
}

// ---- Validity ----

namespace {

struct KeyRange {
  std::string_view key;
  int32_t min;
  int32_t max;
  bool integer;  // stored as an integer; else the number as it came
};

constexpr std::array<KeyRange, 9> kRanges = {{
    {"sound.loopstart", 0, std::numeric_limits<int32_t>::max(), true},
    {"sound.loopend", 0, std::numeric_limits<int32_t>::max(), true},
    {"sound.rootnote", 1, 127, true},
    {"sound.bpm", 60, 180, false},
    {"sound.pitch", -12, 12, true},
    {"sound.pan", -16, 16, true},
    {"sound.amplitude", 0, 200, true},
    {"envelope.attack", 0, 255, true},
    {"envelope.release", 0, 255, true},
}};

const KeyRange* FindRange(std::string_view key) {
  for (const KeyRange& range : kRanges) {
    if (range.key == key) return &range;
  }
  return nullptr;
}

// A number or boolean as an integer: fractions truncated toward zero, values
// beyond 64 bits saturated. Nothing for other values.
std::optional<int64_t> AsInteger(const EPJson& value) {
  if (value.is_number_unsigned()) {
    return static_cast<int64_t>(std::min<uint64_t>(value.get<uint64_t>(), std::numeric_limits<int64_t>::max()));
  }
  if (value.is_number_integer()) return value.get<int64_t>();
  if (value.is_number_float()) {
    const double d = value.get<double>();
    if (std::isnan(d)) return std::nullopt;
    return static_cast<int64_t>(std::clamp(d, -9.0e18, 9.0e18));
  }
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  return std::nullopt;
}

}  // namespace

std::optional<EPJson> MetadataValueFor(std::string_view key, const EPJson& value) {
  if (value.is_null()) return std::nullopt;
  if (value.is_number()) {
    const KeyRange* range = FindRange(key);
    if (!range) return value;
    // A value is read as a 32-bit integer; one that does not fit is no value
    // of any ranged key (its low bits could otherwise pass, 4294967356 as 60).
    const std::optional<int64_t> n = AsInteger(value);
    if (!n || *n < range->min || *n > range->max) return std::nullopt;
    if (range->integer) return EPJson(static_cast<int32_t>(*n));
    return value;
  }
  if (value.is_string() && (key == "sound.playmode" || key == "time.mode") &&
      value.get_ref<const std::string&>().empty()) {
    return std::nullopt;
  }
  return value;
}

bool IsValidMetadataValue(std::string_view key, const EPJson& value) { return MetadataValueFor(key, value).has_value(); }

// ---- Instrument chunk -> device metadata ----

namespace {

// Positions rescaled to the converted audio, clamped to its frame count.
// Multiplying before dividing keeps positions that convert exactly exact
// (44100 frames at 44100 Hz are 46875 at 46875 Hz, not 46874.99...).
class PositionScale {
 public:
  PositionScale(uint32_t targetRate, uint32_t sourceRate, uint32_t frameCount)
      : target_(sourceRate ? targetRate : 1), source_(sourceRate ? sourceRate : 1), frames_(frameCount) {}

  // A region start: 0 .. frame count, the frame count itself only when
  // exactly reached; beyond it, the last frame.
  int64_t Start(double value) const {
    double x = std::max(0.0, Scaled(value));
    if (x > frames_) x = LastFrame();
    return Truncate(x);
  }
  // A region end or a loop end: at most the frame count.
  int64_t End(double value) const { return Truncate(std::min(frames_, Scaled(value))); }
  // A loop start: before the frame count.
  int64_t LoopStart(double value) const {
    double y = Scaled(value);
    if (y >= frames_) y = LastFrame();
    return Truncate(y);
  }

 private:
  double Scaled(double value) const { return value * target_ / source_; }
  // Audio without frames has no last frame: its positions are all 0.
  double LastFrame() const { return frames_ == 0 ? 0.0 : frames_ - 1.0; }
  static int64_t Truncate(double x) {
    if (std::isnan(x)) return 0;
    return static_cast<int64_t>(std::clamp(x, -9.0e18, 9.0e18));
  }

  double target_;
  double source_;
  double frames_;
};

// One element of the instrument's "regions" for the device, or nothing when
// it is left out (a high key below the low key, or keys that are no numbers).
std::optional<EPJson> DeviceRegion(const EPJson& element, const PositionScale& scale) {
  EPJson region = EPJson::object();
  const auto number = [&](const char* key) -> const EPJson* {
    const auto it = element.find(key);
    return it != element.end() && it->is_number() ? &*it : nullptr;
  };
  if (const EPJson* v = number("sample.start")) region["sample.start"] = scale.Start(v->get<double>());
  if (const EPJson* v = number("sample.end")) region["sample.end"] = scale.End(v->get<double>());
  if (const EPJson* v = number("sound.loopstart")) {
    if (const int64_t n = *AsInteger(*v); n >= 0) region["sound.loopstart"] = scale.LoopStart(static_cast<double>(n));
  }
  if (const EPJson* v = number("sound.loopend")) {
    if (const int64_t n = *AsInteger(*v); n >= 0) region["sound.loopend"] = scale.End(static_cast<double>(n));
  }

  const auto key = [&](const char* name, int64_t absent) -> std::optional<int64_t> {
    const auto it = element.find(name);
    return it == element.end() ? absent : AsInteger(*it);
  };
  const std::optional<int64_t> lo = key("sample.lokey", 0);
  const std::optional<int64_t> hi = key("sample.hikey", 127);
  if (!lo || !hi || *hi < *lo) return std::nullopt;
  region["sample.lokey"] = *lo;
  region["sample.hikey"] = *hi;
  for (const char* passed : {"sound.rootnote", "sound.pitch", "sound.pan", "sound.amplitude"}) {
    if (const auto it = element.find(passed); it != element.end()) region[passed] = *it;
  }
  return region;
}

constexpr std::array<const char*, 10> kPlainUploadKeys = {
    "sound.playmode", "sound.pitch", "sound.pan", "sound.amplitude", "envelope.attack",
    "envelope.release", "time.mode", "sample.mode", "sound.rootnote", "sound.bpm",
};

}  // namespace

std::string CEPDeviceClient::BuildDeviceMetadata(std::string_view instrumentText,
                                                 const DeviceMetadataDefaults& defaults, int channels,
                                                 uint32_t targetRate, uint32_t sourceRate, std::string_view soundName,
                                                 uint32_t frameCount, size_t maxRegions) {
  const PositionScale scale(targetRate, sourceRate, frameCount);
  EPJson input = ParseDeviceJson(instrumentText);
  if (!input.is_object()) input = EPJson::object();

  EPJson out = EPJson::object();
  for (const char* key : kPlainUploadKeys) {
    if (const auto it = input.find(key); it != input.end()) {
      if (std::optional<EPJson> value = MetadataValueFor(key, *it)) out[key] = std::move(*value);
    }
  }

  if (const auto it = input.find("regions"); it != input.end() && it->is_array()) {
    EPJson regions = EPJson::array();
    bool dropped = false;
    for (const EPJson& element : *it) {
      if (!element.is_object()) continue;
      std::optional<EPJson> region = DeviceRegion(element, scale);
      if (!region) continue;
      if (regions.size() < maxRegions) {
        regions.push_back(std::move(*region));
      } else {
        dropped = true;
      }
    }
    if (dropped && !regions.empty()) {
      // As the document's own region cap does: the last zone kept reaches to
      // the end of the audio and the top of the keyboard.
      regions.back()["sample.end"] = frameCount;
      regions.back()["sample.hikey"] = 127;
    }
    if (!regions.empty()) {
      out["regions"] = std::move(regions);
      out["sample.mode"] = "multi";  // in place when already copied
    }
  }

  if (!out.contains("regions")) {
    const auto loopPoint = [&](const char* key, int32_t fallback) {
      const auto it = input.find(key);
      return it != input.end() && it->is_number() ? *AsInteger(*it) : int64_t{fallback};
    };
    if (const int64_t start = loopPoint("sound.loopstart", defaults.loopStart); start >= 0) {
      out["sound.loopstart"] = scale.LoopStart(static_cast<double>(start));
    }
    if (const int64_t end = loopPoint("sound.loopend", defaults.loopEnd); end >= 0) {
      out["sound.loopend"] = scale.End(static_cast<double>(end));
    }
  }
  if (!out.contains("sound.rootnote") && defaults.rootNote >= 1 && defaults.rootNote <= 127) {
    out["sound.rootnote"] = defaults.rootNote;
  }
  if (!out.contains("sound.bpm") && defaults.tempo >= 60.0f && defaults.tempo <= 180.0f) {
    out["sound.bpm"] = static_cast<double>(defaults.tempo);
  }
  out["format"] = "pcm";
  out["channels"] = channels;
  out["samplerate"] = targetRate;
  out["name"] = SanitizeSoundName(soundName);
  return DumpDeviceJson(out);
}

// ---- Device metadata -> instrument chunk ----

std::string DeviceMetadataToInstrumentJson(const EPJson& metadata) {
  if (!metadata.is_object()) return {};
  static constexpr std::array<const char*, 13> kKeys = {
      "sound.loopstart", "sound.loopend",   "sound.playmode",   "sound.rootnote", "sound.bpm",
      "sound.pitch",     "sound.pan",       "sound.amplitude",  "envelope.attack", "envelope.release",
      "time.mode",       "sample.mode",     "regions",
  };
  EPJson out = EPJson::object();
  for (const char* key : kKeys) {
    if (const auto it = metadata.find(key); it != metadata.end()) {
      if (std::optional<EPJson> value = MetadataValueFor(key, *it)) out[key] = std::move(*value);
    }
  }
  return out.empty() ? std::string() : DumpDeviceJson(out);
}

// ---- Names ----

std::string SanitizeSoundName(std::string_view name) {
  if (const size_t slash = name.find_last_of("/\\"); slash != std::string_view::npos) name.remove_prefix(slash + 1);
  if (const size_t dot = name.rfind('.'); dot != std::string_view::npos) name = name.substr(0, dot);
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (name.size() > 4 && digit(name[0]) && digit(name[1]) && digit(name[2]) && name[3] == ' ') name.remove_prefix(4);

  std::string out;
  for (const char c : name.substr(0, 16)) {
    const auto byte = static_cast<unsigned char>(c);
    const char shown = byte >= 32 && byte <= 126 ? c : '?';
    if (shown != '"' && shown != '\\') out.push_back(shown);
  }
  return out;
}

std::string DownloadFileName(std::string_view displayName, std::string_view extension) {
  // Long enough for any name the device shows, short enough that the folder
  // and the extension still fit a file name.
  constexpr size_t kMaxStemBytes = 200;
  std::string name;
  for (const char c : displayName.substr(0, kMaxStemBytes)) {
    const auto byte = static_cast<unsigned char>(c);
    name.push_back(c == '/' || c == '\\' || byte < 32 || byte == 127 ? '_' : c);
  }
  if (name.empty()) name = "download";
  const auto endsWithExtension = [extension](std::string_view text) {
    if (extension.empty()) return true;
    if (text.size() < extension.size()) return false;
    const std::string_view tail = text.substr(text.size() - extension.size());
    for (size_t i = 0; i < tail.size(); ++i) {
      const auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); };
      if (lower(tail[i]) != lower(extension[i])) return false;
    }
    return true;
  };
  // ".." and "." never survive: either the extension is appended or the name
  // already ends in it.
  if (!endsWithExtension(name)) name += extension;
  return name;
}

}  // namespace zandrel
