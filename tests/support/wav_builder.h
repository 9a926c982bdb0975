// Builds WAV files byte by byte for tests, so each fixture shows at a glance
// what is special about it (an odd chunk, a lying header, a truncated body).
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zandrel::test {

using Bytes = std::vector<uint8_t>;

Bytes LE16(uint16_t v);
Bytes LE32(uint32_t v);
Bytes FloatLE(float v);
Bytes Cat(std::initializer_list<Bytes> parts);
Bytes Text(std::string_view s);
Bytes Pcm16(const std::vector<int16_t>& samples);
// A 16-byte format record.
Bytes FmtRecord(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t blockAlign = 0);
// A 40-byte extensible format record whose SubFormat stands for |subTag|.
Bytes ExtensibleFmtRecord(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t subTag);
// "INFO" followed by the given sub-chunks (each padded to an even size).
Bytes ListInfo(const std::vector<std::pair<std::string, Bytes>>& subChunks);
// A TNGE body: the JSON text and its terminating 0 byte.
Bytes TngeBody(std::string_view json);
Bytes SmplBody(uint32_t unityNote, uint32_t samplePeriod = 0);
Bytes AcidBody(uint16_t rootNote, uint32_t beats, float bpm);

class WavBuilder {
 public:
  // Appends a chunk whose size field is the body's length (padded when odd).
  WavBuilder& Chunk(std::string_view id, const Bytes& body);
  // Appends a chunk with a size field that need not match its body; no pad.
  WavBuilder& RawChunk(std::string_view id, uint32_t declaredSize, const Bytes& body);
  WavBuilder& Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t blockAlign = 0) {
    return Chunk("fmt ", FmtRecord(tag, channels, rate, bits, blockAlign));
  }
  WavBuilder& Data(const Bytes& body) { return Chunk("data", body); }
  // Appends raw bytes after the chunks (e.g. a truncated header).
  WavBuilder& Tail(const Bytes& bytes);

  Bytes Build() const;  // "RIFF", size, "WAVE", the chunks
  void WriteTo(const std::filesystem::path& path) const;

 private:
  Bytes body_;
};

// The common case: mono or stereo 16-bit PCM.
Bytes MakePcm16Wav(const std::vector<int16_t>& samples, uint16_t channels = 1, uint32_t rate = 44100);

Bytes ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);

}  // namespace zandrel::test
