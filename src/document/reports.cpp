#include "document/reports.h"

#include <cctype>

#include "document/instrument_chunks.h"
#include "document/note_names.h"
#include "platform/atomic_file.h"
#include "platform/message_host.h"
#include "platform/text_format.h"

namespace zandrel {
namespace {

uint64_t Padded(uint64_t n) { return n + (n & 1); }

std::string FourCCText(const uint8_t* p) { return std::string(reinterpret_cast<const char*>(p), 4); }
std::string FourCCText(const FourCC& id) { return std::string(id.data(), 4); }

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t extra;
    if (c < 0x80) {
      extra = 0;
    } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
    } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= s.size() && extra > 0) return false;
    for (size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}

// INFO texts are often written by Windows programs in their 8-bit code page.
// UTF-8 is kept as it is; anything else is read as Latin-1.
std::string InfoText(std::span<const uint8_t> body) {
  std::string raw;
  for (uint8_t b : body) {
    if (b == 0) break;
    raw.push_back(static_cast<char>(b));
  }
  auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!raw.empty() && isSpace(raw.front())) raw.erase(raw.begin());
  while (!raw.empty() && isSpace(raw.back())) raw.pop_back();
  if (IsValidUtf8(raw)) return raw;
  std::string utf8;
  for (char ch : raw) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      utf8.push_back(ch);
    } else {
      utf8.push_back(static_cast<char>(0xC0 | (c >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return utf8;
}

}  // namespace

std::string HexPreview(std::span<const uint8_t> bytes) {
  std::string out;
  const size_t n = std::min<size_t>(32, bytes.size());
  for (size_t i = 0; i < n; ++i) out += Format("%02x ", bytes[i]);
  return out;
}

std::string WavOverviewText(const CWavLoader& audio, const std::string& pathName) {
  const PcmFormat& f = audio.format;
  uint64_t total = 44 + Padded(audio.data.size());
  for (const RiffChunk& c : audio.chunks) total += 8 + Padded(c.data.size());

  std::string t;
  t += "--- BEGIN WAV OVERVIEW ---\n";
  t += Format("File Path: %s\n", pathName.c_str());
  t += Format("Total File Size: %u bytes\n\n", static_cast<unsigned>(total));
  t += "[RIFF Header]\n";
  t += "  - Chunk ID: 'RIFF'\n";
  t += Format("  - RIFF Size: %u (File Size - 8)\n", static_cast<unsigned>(total - 8));
  t += "  - Format: 'WAVE'\n\n";

  t += Format("[Chunk %d: fmt ]\n", 1);
  t += Format("  - Offset: %u\n", 12u);
  t += Format("  - Size: %u\n", 16u);
  t += "  - Content:\n";
  t += Format("    - wFormatTag: %u (%s)\n", f.wFormatTag, f.wFormatTag == 1 ? "PCM" : "Compressed");
  t += Format("    - nChannels: %u (%s)\n", f.nChannels, f.nChannels == 1 ? "Mono" : "Stereo");
  t += Format("    - nSamplesPerSec: %lu\n", static_cast<unsigned long>(f.nSamplesPerSec));
  t += Format("    - nAvgBytesPerSec: %lu\n", static_cast<unsigned long>(f.nAvgBytesPerSec));
  t += Format("    - nBlockAlign: %u\n", f.nBlockAlign);
  t += Format("    - wBitsPerSample: %u\n", f.wBitsPerSample);
  t += "\n";

  int n = 2;
  uint64_t offset = 36;
  for (const RiffChunk& c : audio.chunks) {
    t += Format("[Chunk %d: %s]\n", n, FourCCText(c.id).c_str());
    t += Format("  - Offset: %u\n", static_cast<unsigned>(offset));
    t += Format("  - Size: %u\n", c.size);
    t += "  - Content:\n";
    if (!c.Is("LIST") || c.data.size() < 4) {
      t += Format("    - Hex Preview: %s\n", HexPreview(c.data).c_str());
    } else if (std::memcmp(c.data.data(), "INFO", 4) != 0) {
      t += Format("    - List Type: '%s'\n", FourCCText(c.data.data()).c_str());
    } else {
      t += "    - List Type: 'INFO'\n";
      if (c.data.size() > 11) {
        const InfoSubChunks subs = WalkInfoSubChunks(c);
        for (const InfoSubChunk& sub : subs.entries)
          t += Format("    - [%s]: \"%s\"\n", FourCCText(sub.id).c_str(), InfoText(sub.body).c_str());
        if (subs.malformed) t += "      - (Error: Malformed sub-chunk found)\n";
      }
    }
    t += "\n";
    offset += 8 + Padded(c.size);
    ++n;
  }

  t += Format("[Chunk %d: data]\n", n);
  t += Format("  - Offset: %u\n", static_cast<unsigned>(offset));
  t += Format("  - Size: %llu\n", static_cast<unsigned long long>(audio.data.size()));
  t += "  - Content: (Audio data omitted)\n\n";
  t += "--- END WAV OVERVIEW ---\n";
  return t;
}

std::string InstrumentOverviewText(const InstrumentData& instrument, const std::string& pathName) {
  const InstrumentParams& p = instrument.params;
  std::string t;
  t += "--- BEGIN INSTRUMENT DATA OVERVIEW ---\n\n";
  t += Format("Source WAV: %s\n\n", pathName.c_str());
  t += "### Global Settings ###\n";
  t += Format("  - Default Root Note: %d (%s)\n", p.rootNote, MidiNoteName(p.rootNote).c_str());
  t += Format("  - Sound Play Mode: %s\n", p.playMode.c_str());
  // The pitch is held in semitones.
  t += Format("  - Pitch Adjustment: %d semitones\n", p.pitch);
  t += Format("  - Pan: %d\n", p.pan);
  t += Format("  - Amplitude: %d\n", p.amplitude);
  t += Format("  - Envelope Attack: %d\n", p.attack);
  t += Format("  - Envelope Release: %d\n", p.release);
  t += Format("  - Time Mode: %s\n", p.timeMode.c_str());
  t += Format("  - Sample Mode: %s\n\n", p.sampleMode.c_str());
  t += Format("  - BPM: %.2f\n", static_cast<double>(p.bpm));
  t += Format("  - Loop Start Sample: %lld\n", static_cast<long long>(p.loopStart));
  t += Format("  - Loop End Sample: %lld\n\n", static_cast<long long>(p.loopEnd));

  const size_t count = instrument.regions.size();
  t += "### Region Data ###\n";
  t += Format("Total Regions Found: %zu\n\n", count);
  for (size_t i = 0; i < count; ++i) {
    const Region& r = instrument.regions[i];
    t += Format("--- [Region %d of %zu] ---\n", static_cast<int>(i + 1), count);
    t += Format("  - Sample Range: %lld to %lld\n", static_cast<long long>(r.startSample),
                static_cast<long long>(r.endSample));
    if (r.loopStart >= 0 && r.loopStart < r.loopEnd) {
      t += Format("  - Loop Range:   %lld to %lld\n", static_cast<long long>(r.loopStart),
                  static_cast<long long>(r.loopEnd));
    } else {
      t += "  - Loop Range:   None\n";
    }
    t += Format("  - Key Zone:     %d (%s) to %d (%s)\n", r.loKey, MidiNoteName(r.loKey).c_str(), r.hiKey,
                MidiNoteName(r.hiKey).c_str());
    t += Format("  - Root Key:       %d (%s)\n\n", r.rootNote, MidiNoteName(r.rootNote).c_str());
  }
  t += "--- END INSTRUMENT DATA OVERVIEW ---\n";
  return t;
}

bool WriteReportFile(const std::filesystem::path& path, const std::string& text, const char* createFailedMessage) {
  std::string crlf;
  crlf.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') crlf.push_back('\r');
    crlf.push_back(c);
  }
  AtomicFileWriter writer;
  if (!writer.Open(path)) {
    ShowMessage(createFailedMessage);
    return false;
  }
  if (!writer.Write(crlf) || !writer.Commit()) {
    ShowMessage(Format("Failed to write %s: %s.", path.filename().c_str(), writer.Error().c_str()),
                MessageIcon::Error);
    return false;
  }
  return true;
}

}  // namespace zandrel
