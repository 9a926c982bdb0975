// What the EP device says it accepts, and what its projects use.
//
// The device information (the metadata of the device's "sounds" directory)
// lists the audio formats the device takes under "formats": entries with a
// "type" and variants with "samplerate.range", "samplerate.native",
// "channels" and "format". ParseAudioFormats reads them into EPAudioFormat
// records; ChooseUploadRate picks the rate an upload is sent at from the
// first record.
//
// A project tree (CEPDeviceClient::GetProjectTree) holds groups, banks and
// pads; CollectUsedSoundIds lists the sound numbers its pads play.
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/device_metadata.h"

namespace zandrel {

// The rate the device runs at when it tells nothing else, in Hz.
inline constexpr uint32_t kDefaultDeviceSampleRate = 46875;
// Sample rates outside this range, wherever they come from, are not taken as
// real: a device or a file that claims one is not believed.
inline constexpr uint32_t kMinSaneSampleRate = 1000;
inline constexpr uint32_t kMaxSaneSampleRate = 384000;

// One variant of an audio type the device accepts.
struct EPAudioFormat {
  std::string type;         // the enclosing entry's "type"; empty when missing
  uint32_t minRate = 0;     // Hz; 0 = not given
  uint32_t maxRate = 0;     // Hz; 0 = not given
  uint32_t nativeRate = 0;  // Hz; 0 = not given
  std::vector<int32_t> channels;     // accepted channel counts
  std::vector<std::string> formats;  // sample format names

  bool operator==(const EPAudioFormat&) const = default;
};

// Reads |deviceInfo|'s "formats" into |formats| (cleared first). Without a
// "formats" array the device is taken to accept mono and stereo "pcm" at
// 46875 Hz. False, with |error| set, when a "samplerate.range" bound is not a
// number ("Failed to parse audio formats: " and the reason).
bool ParseAudioFormats(const EPJson& deviceInfo, std::vector<EPAudioFormat>& formats, std::string& error);

// The rate an upload of |sourceRate| audio is sent at: the source rate
// limited to the format's range when it has both bounds, else its native
// rate, else 46875 Hz. A result outside the sane range becomes 46875 Hz.
uint32_t ChooseUploadRate(const EPAudioFormat& format, uint32_t sourceRate);

// The distinct sound numbers (ascending) that the pads of a project tree
// play: each pad's metadata "sym" when it is an integer in 1..65535.
std::vector<uint16_t> CollectUsedSoundIds(const EPJson& projectTree);

}  // namespace zandrel
