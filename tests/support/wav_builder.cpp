#include "support/wav_builder.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zandrel::test {

Bytes LE16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
Bytes LE32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
Bytes FloatLE(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return LE32(bits);
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Text(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes Pcm16(const std::vector<int16_t>& samples) {
  Bytes out;
  out.reserve(samples.size() * 2);
  for (int16_t s : samples) {
    const Bytes b = LE16(static_cast<uint16_t>(s));
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

Bytes FmtRecord(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t blockAlign) {
  if (blockAlign == 0) blockAlign = static_cast<uint16_t>(channels * (bits / 8));
  return Cat({LE16(tag), LE16(channels), LE32(rate), LE32(rate * blockAlign), LE16(blockAlign), LE16(bits)});
}

Bytes ExtensibleFmtRecord(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t subTag) {
  // KSDATAFORMAT_SUBTYPE_*: the tag followed by the fixed GUID tail.
  const Bytes guidTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  return Cat({FmtRecord(0xFFFE, channels, rate, bits), LE16(22), LE16(bits), LE32(channels == 2 ? 3 : 4),
              LE16(subTag), guidTail});
}

Bytes ListInfo(const std::vector<std::pair<std::string, Bytes>>& subChunks) {
  Bytes out = Text("INFO");
  for (const auto& [id, body] : subChunks) {
    Bytes header = Cat({Text(id), LE32(static_cast<uint32_t>(body.size()))});
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() & 1) out.push_back(0);
  }
  return out;
}

Bytes TngeBody(std::string_view json) {
  Bytes out = Text(json);
  out.push_back(0);
  return out;
}

Bytes SmplBody(uint32_t unityNote, uint32_t samplePeriod) {
  Bytes out(36, 0);
  const Bytes period = LE32(samplePeriod), unity = LE32(unityNote);
  std::copy(period.begin(), period.end(), out.begin() + 8);
  std::copy(unity.begin(), unity.end(), out.begin() + 12);
  return out;
}

Bytes AcidBody(uint16_t rootNote, uint32_t beats, float bpm) {
  return Cat({LE32(1), LE16(rootNote), LE16(0), FloatLE(0.0f), LE32(beats), LE16(4), LE16(4), FloatLE(bpm)});
}

WavBuilder& WavBuilder::Chunk(std::string_view id, const Bytes& body) {
  RawChunk(id, static_cast<uint32_t>(body.size()), body);
  if (body.size() & 1) body_.push_back(0);
  return *this;
}

WavBuilder& WavBuilder::RawChunk(std::string_view id, uint32_t declaredSize, const Bytes& body) {
  if (id.size() != 4) throw std::invalid_argument("chunk ids have four characters");
  const Bytes header = Cat({Text(id), LE32(declaredSize)});
  body_.insert(body_.end(), header.begin(), header.end());
  body_.insert(body_.end(), body.begin(), body.end());
  return *this;
}

WavBuilder& WavBuilder::Tail(const Bytes& bytes) {
  body_.insert(body_.end(), bytes.begin(), bytes.end());
  return *this;
}

Bytes WavBuilder::Build() const {
  return Cat({Text("RIFF"), LE32(static_cast<uint32_t>(4 + body_.size())), Text("WAVE"), body_});
}

void WavBuilder::WriteTo(const std::filesystem::path& path) const { WriteFileBytes(path, Build()); }

Bytes MakePcm16Wav(const std::vector<int16_t>& samples, uint16_t channels, uint32_t rate) {
  return WavBuilder().Fmt(1, channels, rate, 16).Data(Pcm16(samples)).Build();
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace zandrel::test
