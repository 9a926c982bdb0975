// Build-time tool: reads libsamplerate's three sinc coefficient tables out of
// the installed shared library and writes them as a C++ source file.
//
//   generate_sinc_tables <libsamplerate.so.0> <output.cpp>
//
// libsamplerate keeps each table in its read-only data as a 32-bit increment
// followed by the coefficients (float). The tool looks for that layout inside
// the ELF section ".rodata" only and accepts a table when exactly one place
// matches all of these:
//   - the increment and the coefficient count are the expected ones (the
//     count is confirmed by the final 0.0 and a non-zero entry before it);
//   - every coefficient is finite and within -1..1, the first is the largest;
//   - the taps at whole-sample spacing (entries 0, inc, 2 inc, ... of both
//     filter halves) sum to 1: within 1e-7 for the best table, within 1e-5
//     for the two smaller filters, whose pass-band gain is less exact.
// Anything else (another architecture, a library built with double
// coefficients, a changed table) stops the build with a message.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "sinc_tables.h"

namespace {

using zandrel::SincTableLayout;

struct Section {
  uint64_t offset = 0;
  uint64_t size = 0;
};

[[noreturn]] void Fail(const std::string& text) {
  std::fprintf(stderr, "generate_sinc_tables: %s\n", text.c_str());
  std::exit(1);
}

template <typename T>
T ReadLE(const std::vector<uint8_t>& bytes, uint64_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
    Fail("the ELF headers point past the end of the file");
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof(T));  // the host is little-endian, like the library
  return value;
}

// The file range of the section ".rodata" of a 64-bit little-endian ELF file.
Section FindRodata(const std::vector<uint8_t>& elf) {
  if (elf.size() < 64 || std::memcmp(elf.data(),
                                     "\x7f"
                                     "ELF",
                                     4) != 0)
    Fail("not an ELF file");
  if (elf[4] != 2 || elf[5] != 1) Fail("not a 64-bit little-endian ELF file");
  const auto shoff = ReadLE<uint64_t>(elf, 0x28);
  const auto shentsize = ReadLE<uint16_t>(elf, 0x3A);
  const auto shnum = ReadLE<uint16_t>(elf, 0x3C);
  const auto shstrndx = ReadLE<uint16_t>(elf, 0x3E);
  if (shentsize < 40 || shstrndx >= shnum) Fail("unexpected ELF section headers");
  auto header = [&](uint64_t index) { return shoff + index * shentsize; };
  const auto namesOffset = ReadLE<uint64_t>(elf, header(shstrndx) + 24);
  const auto namesSize = ReadLE<uint64_t>(elf, header(shstrndx) + 32);
  for (uint64_t i = 0; i < shnum; ++i) {
    const auto nameIndex = ReadLE<uint32_t>(elf, header(i));
    static constexpr char kWanted[] = ".rodata";
    if (nameIndex >= namesSize || namesSize - nameIndex < sizeof kWanted) continue;
    const uint64_t nameAt = namesOffset + nameIndex;
    if (nameAt > elf.size() || elf.size() - nameAt < sizeof kWanted) continue;
    if (std::memcmp(elf.data() + nameAt, kWanted, sizeof kWanted) != 0) continue;
    Section s{ReadLE<uint64_t>(elf, header(i) + 24), ReadLE<uint64_t>(elf, header(i) + 32)};
    if (s.offset > elf.size() || elf.size() - s.offset < s.size) Fail(".rodata lies outside the file");
    return s;
  }
  Fail("no .rodata section");
}

// Sum of the taps that a ratio-1 conversion applies at a whole-sample position.
double WholeSampleTapSum(const std::vector<float>& c, int32_t increment) {
  const size_t halfLen = c.size() - 2;
  double sum = c[0];
  for (size_t k = static_cast<size_t>(increment); k <= halfLen; k += static_cast<size_t>(increment)) sum += 2.0 * c[k];
  return sum;
}

std::optional<std::vector<float>> TableAt(const std::vector<uint8_t>& elf, uint64_t at, const SincTableLayout& t,
                                          double tolerance, std::string* why) {
  std::vector<float> c(static_cast<size_t>(t.count));
  std::memcpy(c.data(), elf.data() + at + 4, c.size() * sizeof(float));
  if (c.back() != 0.0f) return std::nullopt;  // not the table: its last entry is 0.0
  if (c[c.size() - 2] == 0.0f) {
    *why = "the entry before the final 0.0 is 0 too (wrong coefficient count)";
    return std::nullopt;
  }
  for (float v : c) {
    if (!std::isfinite(v) || std::fabs(v) > 1.0f || v > c[0]) {
      *why = "coefficients outside -1..1 or larger than the centre tap";
      return std::nullopt;
    }
  }
  const double sum = WholeSampleTapSum(c, t.increment);
  if (std::fabs(sum - 1.0) >= tolerance) {
    char text[160];
    std::snprintf(text, sizeof text, "taps at whole-sample spacing sum to %.12f, not 1 within %g", sum, tolerance);
    *why = text;
    return std::nullopt;
  }
  return c;
}

std::vector<float> ExtractTable(const std::vector<uint8_t>& elf, const Section& rodata, const SincTableLayout& t,
                                double tolerance) {
  const uint64_t bytes = 4 + static_cast<uint64_t>(t.count) * 4;
  std::vector<float> found;
  int matches = 0;
  std::string why;
  for (uint64_t at = rodata.offset; at + bytes <= rodata.offset + rodata.size; at += 4) {
    if (ReadLE<int32_t>(elf, at) != t.increment) continue;
    if (auto table = TableAt(elf, at, t, tolerance, &why)) {
      found = std::move(*table);
      ++matches;
    }
  }
  if (matches != 1) {
    char text[200];
    std::snprintf(text, sizeof text, "the %s table (increment %d, %d floats ending in 0.0) was found %d times%s%s",
                  t.name, t.increment, t.count, matches, why.empty() ? "" : "; last rejection: ", why.c_str());
    Fail(text);
  }
  return found;
}

void WriteTable(std::ofstream& out, const char* name, const std::vector<float>& c) {
  out << "alignas(64) const float " << name << "[" << c.size() << "] = {\n";
  char text[40];
  for (size_t i = 0; i < c.size(); ++i) {
    std::snprintf(text, sizeof text, "%af,", static_cast<double>(c[i]));  // hexadecimal: exact
    out << text << ((i % 8 == 7) ? "\n" : " ");
  }
  out << "};\n\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) Fail("usage: generate_sinc_tables <libsamplerate.so.0> <output.cpp>");
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) Fail(std::string("cannot open ") + argv[1]);
  const std::vector<uint8_t> elf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const Section rodata = FindRodata(elf);

  const auto best = ExtractTable(elf, rodata, zandrel::kSincBestLayout, 1e-7);
  const auto medium = ExtractTable(elf, rodata, zandrel::kSincMediumLayout, 1e-5);
  const auto fastest = ExtractTable(elf, rodata, zandrel::kSincFastestLayout, 1e-5);

  const std::filesystem::path target = argv[2];
  const std::filesystem::path temp = target.string() + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << "// Generated at build time by generate_sinc_tables from " << argv[1] << ". Do not edit.\n"
        << "#include \"processing/sinc_tables.h\"\n\nnamespace zandrel {\n\n";
    WriteTable(out, "kSincBestTable", best);
    WriteTable(out, "kSincMediumTable", medium);
    WriteTable(out, "kSincFastestTable", fastest);
    out << "}  // namespace zandrel\n";
    if (!out.flush()) Fail("cannot write " + temp.string());
  }
  std::error_code error;
  std::filesystem::rename(temp, target, error);
  if (error) Fail("cannot write " + target.string());
  return 0;
}
