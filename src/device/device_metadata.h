// The metadata the EP device keeps beside each sound, and the names it shows.
//
// A sound's metadata is one flat JSON object with dotted keys
// ("sound.rootnote", "sample.mode", ...), plus the array "regions" whose
// elements are again flat objects. It is built in insertion order and sent
// compactly, so the keys reach the device in the order the builder adds
// them. The document's instrument chunk (the TNGE JSON) uses the same keys;
// the upload derives the device metadata from it
// (CEPDeviceClient::BuildDeviceMetadata, device_client.h) and the download
// derives it back (DeviceMetadataToInstrumentJson). Positions count frames at
// the sound's own sample rate.
//
// Every text that comes from the device or from a file is parsed with
// ParseDeviceJson, which refuses rather than throws, and written with
// DumpDeviceJson, which replaces invalid UTF-8 rather than throws: names on
// the device are raw bytes.
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace zandrel {

// The device's JSON values: metadata, device information, project trees.
using EPJson = nlohmann::ordered_json;

// Containers nested deeper than this are refused: no metadata the device or
// the editor writes comes near it, and it keeps every later walk and dump of
// a parsed text shallow.
inline constexpr int kMaxDeviceJsonDepth = 64;

// The JSON value of |text| up to its first zero byte; null when the text is
// empty, does not parse or nests too deeply.
EPJson ParseDeviceJson(std::string_view text);
// Compact text (no blanks), or indented by |indent| spaces per level when it
// is 0 or more; invalid UTF-8 in strings is replaced.
std::string DumpDeviceJson(const EPJson& value, int indent = -1);

// The fallback values the upload hands to BuildDeviceMetadata for what the
// instrument chunk does not supply. Loop points count frames at the source
// rate; a negative one means none.
struct DeviceMetadataDefaults {
  int32_t loopStart = 0;
  int32_t loopEnd = 0;
  int32_t rootNote = 60;
  float tempo = 0.0f;  // beats per minute
};

// Whether |value| may be taken over under |key|, in either direction. Numbers
// are read as 32-bit integers (fractions truncated toward zero) and checked
// against the key's range: "sound.rootnote" 1..127, "sound.pitch" -12..12,
// "sound.pan" -16..16, "sound.amplitude" 0..200, "envelope.attack" and
// "envelope.release" 0..255, "sound.bpm" 60..180, "sound.loopstart" and
// "sound.loopend" 0 or more; a number outside the 32-bit range fails every
// ranged key. "sound.playmode" and "time.mode" need a non-empty string. Null
// is refused; anything else passes.
bool IsValidMetadataValue(std::string_view key, const EPJson& value);
// The value to store under |key| when it is valid: for the integer keys the
// converted integer (a pitch of 3.7 is stored as 3), else the value itself.
std::optional<EPJson> MetadataValueFor(std::string_view key, const EPJson& value);

// The instrument chunk text for a downloaded sound: the instrument keys of
// |metadata| that pass the validity rule, "regions" as it is; empty when the
// metadata is not an object or holds none of them.
std::string DeviceMetadataToInstrumentJson(const EPJson& metadata);

// The name a sound gets on the device: no folder, no extension, a leading
// "NNN " slot number removed, printable ASCII only ('?' for the rest), at
// most 16 characters, without '"' and '\'. May be empty.
std::string SanitizeSoundName(std::string_view name);

// A file name for a sound downloaded into a folder, made from its display
// name (which the device supplies): path separators and control characters
// become '_', the name is kept short, an empty name becomes "download", and
// |extension| (".wav", ".tar", ".json") is appended unless it already ends so
// (in any case). The result never names anything outside the folder it is
// joined to.
std::string DownloadFileName(std::string_view displayName, std::string_view extension = ".wav");

}  // namespace zandrel
