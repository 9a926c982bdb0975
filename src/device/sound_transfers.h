// The files the device transfers read and write: the instrument text an
// upload takes from a WAV file, and the WAV file a download writes. The
// transfers themselves are CEPDeviceClient's (device_client.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "document/wav_loader.h"

namespace zandrel {

// The most channels a downloaded sound may declare: more than any device
// sends, and what the editor's converters handle.
inline constexpr int kMaxSoundChannels = 16;

// The text of the first "TNGE" sub-chunk of the first LIST/INFO chunk among
// |chunks|; empty when there is none.
std::string FindInstrumentText(const std::vector<RiffChunk>& chunks);

// Writes a 16-bit PCM WAV file: the 16-byte "fmt " chunk, a LIST/INFO chunk
// holding |instrumentText| as its one "TNGE" sub-chunk when the text is not
// empty, and |data| as the "data" chunk, bytes as given. The file is
// replaced only once it is complete. False when it could not be written.
bool WriteDeviceWav(const std::filesystem::path& path, std::span<const uint8_t> data, uint16_t channels,
                    uint32_t sampleRate, std::string_view instrumentText);

}  // namespace zandrel
