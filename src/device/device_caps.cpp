#include "device/device_caps.h"

#include <algorithm>
#include <limits>

namespace zandrel {
namespace {

// A rate as an unsigned 32-bit number. Integers wrap as the JSON library's
// own conversion does; fractions are truncated and held to the 32-bit range.
// Anything but a number or a boolean throws the library's type error, whose
// text explains the failure.
uint32_t RateValue(const EPJson& value) {
  if (value.is_number_float()) {
    return static_cast<uint32_t>(std::clamp(value.get<double>(), 0.0, 4294967295.0));
  }
  return value.get<uint32_t>();
}

int32_t ChannelValue(const EPJson& value) {
  if (value.is_number_float()) return static_cast<int32_t>(std::clamp(value.get<double>(), -2147483648.0, 2147483647.0));
  if (value.is_number_unsigned()) {
    return static_cast<int32_t>(std::min<uint64_t>(value.get<uint64_t>(), std::numeric_limits<int32_t>::max()));
  }
  return static_cast<int32_t>(std::clamp<int64_t>(value.get<int64_t>(), std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

EPAudioFormat ReadVariant(const EPJson& variant, const std::string& type) {
  EPAudioFormat format;
  format.type = type;
  const auto native = variant.find("samplerate.native");
  const bool hasNative = native != variant.end() && native->is_number();
  const auto range = variant.find("samplerate.range");
  if (range != variant.end() && range->is_array()) {
    if (range->size() >= 2) {
      format.minRate = RateValue((*range)[0]);
      format.maxRate = RateValue((*range)[1]);
      format.nativeRate = hasNative ? RateValue(*native)
                                    : static_cast<uint32_t>((uint64_t{format.minRate} + format.maxRate) / 2);
    }
  } else if (hasNative) {
    format.minRate = format.maxRate = format.nativeRate = RateValue(*native);
  }
  if (const auto channels = variant.find("channels"); channels != variant.end() && channels->is_array()) {
    for (const EPJson& count : *channels) {
      if (count.is_number()) format.channels.push_back(ChannelValue(count));
    }
  }
  if (const auto names = variant.find("format"); names != variant.end() && names->is_array()) {
    for (const EPJson& name : *names) {
      if (name.is_string()) format.formats.push_back(name.get<std::string>());
    }
  }
  return format;
}

}  // namespace

bool ParseAudioFormats(const EPJson& deviceInfo, std::vector<EPAudioFormat>& formats, std::string& error) {
  formats.clear();
  error.clear();
  const auto list = deviceInfo.is_object() ? deviceInfo.find("formats") : deviceInfo.end();
  if (!deviceInfo.is_object() || list == deviceInfo.end() || !list->is_array()) {
    formats.push_back({"pcm", kDefaultDeviceSampleRate, kDefaultDeviceSampleRate, kDefaultDeviceSampleRate, {1, 2}, {}});
    return true;
  }
  try {
    for (const EPJson& entry : *list) {
      if (!entry.is_object()) continue;
      const auto type = entry.find("type");
      const std::string typeName = type != entry.end() && type->is_string() ? type->get<std::string>() : "";
      const auto variants = entry.find("formats");
      if (variants == entry.end() || !variants->is_array()) continue;
      for (const EPJson& variant : *variants) {
        if (variant.is_object()) formats.push_back(ReadVariant(variant, typeName));
      }
    }
  } catch (const EPJson::exception& e) {
    error = std::string("Failed to parse audio formats: ") + e.what();
    return false;
  } catch (...) {
    error = "Failed to parse audio formats";
    return false;
  }
  return true;
}

uint32_t ChooseUploadRate(const EPAudioFormat& format, uint32_t sourceRate) {
  uint32_t target = kDefaultDeviceSampleRate;
  if (format.minRate != 0 && format.maxRate != 0) {
    target = sourceRate > format.maxRate ? format.maxRate : sourceRate < format.minRate ? format.minRate : sourceRate;
  } else if (format.nativeRate != 0) {
    target = format.nativeRate;
  }
  // A device that reports, say, -1 as its native rate must not make the
  // upload convert to four billion samples a second.
  if (target < kMinSaneSampleRate || target > kMaxSaneSampleRate) target = kDefaultDeviceSampleRate;
  return target;
}

std::vector<uint16_t> CollectUsedSoundIds(const EPJson& projectTree) {
  std::vector<uint16_t> ids;
  // The array under |key| of |object|, or nullptr.
  const auto array = [](const EPJson& object, const char* key) -> const EPJson* {
    if (!object.is_object()) return nullptr;
    const auto it = object.find(key);
    return it != object.end() && it->is_array() ? &*it : nullptr;
  };
  const EPJson* groups = array(projectTree, "groups");
  if (!groups) return ids;
  for (const EPJson& group : *groups) {
    const EPJson* banks = array(group, "banks");
    if (!banks) continue;
    for (const EPJson& bank : *banks) {
      const EPJson* pads = array(bank, "pads");
      if (!pads) continue;
      for (const EPJson& pad : *pads) {
        if (!pad.is_object()) continue;
        const auto metadata = pad.find("metadata");
        if (metadata == pad.end() || !metadata->is_object()) continue;
        const auto sym = metadata->find("sym");
        if (sym == metadata->end() || !sym->is_number_integer()) continue;
        // Sound numbers are 16-bit; a larger one names no sound rather than
        // the sound its low bits would.
        const int64_t number = sym->is_number_unsigned() ? static_cast<int64_t>(std::min<uint64_t>(sym->get<uint64_t>(), 0x10000))
                                                         : sym->get<int64_t>();
        if (number > 0 && number <= 0xFFFF) ids.push_back(static_cast<uint16_t>(number));
      }
    }
  }
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

}  // namespace zandrel
