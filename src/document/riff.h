// Little-endian byte access and four-character codes for RIFF data.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace zandrel {

using FourCC = std::array<char, 4>;

constexpr FourCC MakeFourCC(const char (&text)[5]) { return {text[0], text[1], text[2], text[3]}; }

inline bool FourCCIs(const FourCC& id, std::string_view text) {
  return text.size() == 4 && std::memcmp(id.data(), text.data(), 4) == 0;
}

inline uint16_t ReadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline float ReadLEFloat(const uint8_t* p) {
  const uint32_t bits = ReadLE32(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

inline void WriteLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void WriteLEFloat(uint8_t* p, float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  WriteLE32(p, bits);
}

inline void AppendLE16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void AppendLE32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void AppendFourCC(std::vector<uint8_t>& out, const FourCC& id) {
  out.insert(out.end(), id.begin(), id.end());
}

}  // namespace zandrel
