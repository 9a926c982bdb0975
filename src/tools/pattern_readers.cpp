#include "tools/pattern_readers.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <limits>

#include "document/note_names.h"

namespace zandrel {
namespace {

bool IsPatternSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// A double clamped into an integer field's range, then truncated toward zero.
template <typename Int>
Int ClampToField(double v) {
  // The largest double below the type's maximum that converts safely.
  constexpr double lo = static_cast<double>(std::numeric_limits<Int>::min());
  constexpr double hi = std::is_same_v<Int, int64_t> ? 9223372036854774784.0
                                                     : static_cast<double>(std::numeric_limits<Int>::max());
  if (!std::isfinite(v)) return 0;
  return static_cast<Int>(std::clamp(v, lo, hi));
}

}  // namespace

double ReadJsonNumberField(std::string_view object, std::string_view quotedKey) {
  const size_t key = object.find(quotedKey);
  if (key == std::string_view::npos) return 0.0;
  const size_t colon = object.find(':', key);
  if (colon == std::string_view::npos) return 0.0;
  size_t p = colon + 1;
  while (p < object.size() && (IsPatternSpace(object[p]) || object[p] == '"')) ++p;
  size_t end = p;
  while (end < object.size() && object[end] != ',' && object[end] != '}' && !IsPatternSpace(object[end])) ++end;
  std::string_view token = object.substr(p, end - p);
  if (!token.empty() && token.front() == '+') token.remove_prefix(1);
  double value = 0.0;
  const auto [ptr, ec] = std::from_chars(token.data(), token.data() + token.size(), value,
                                         std::chars_format::general);
  (void)ptr;
  if (ec != std::errc() || !std::isfinite(value)) return 0.0;
  return value;
}

std::vector<PatternEvent> ReadMpcPatternText(std::string_view text) {
  std::vector<PatternEvent> events;
  if (text.size() <= 7) return events;
  const size_t key = text.find("\"events\"");
  if (key == std::string_view::npos) return events;
  size_t c = text.find('[', key);
  if (c == std::string_view::npos) return events;
  // The first ']' at or after c, found again only once c has passed it, so
  // that a long array is scanned once.
  size_t bracket = text.find(']', c);
  while (events.size() < kMaxPatternEvents) {
    const size_t open = text.find('{', c);
    if (open == std::string_view::npos) break;
    const size_t close = text.find('}', open);
    if (bracket != std::string_view::npos && bracket < c) bracket = text.find(']', c);
    if (bracket != std::string_view::npos && bracket < open) break;  // the array has ended
    const std::string_view object =
        close == std::string_view::npos ? text.substr(open) : text.substr(open, close - open + 1);
    PatternEvent e;
    e.type = ClampToField<int32_t>(ReadJsonNumberField(object, "\"type\""));
    e.time = ClampToField<int64_t>(ReadJsonNumberField(object, "\"time\""));
    e.len = ClampToField<int64_t>(ReadJsonNumberField(object, "\"len\""));
    e.note = ClampToField<int32_t>(ReadJsonNumberField(object, "\"1\""));
    e.velocity = ReadJsonNumberField(object, "\"2\"");
    e.key3 = ClampToField<int32_t>(ReadJsonNumberField(object, "\"3\""));
    e.mod = ClampToField<int32_t>(ReadJsonNumberField(object, "\"mod\""));
    e.modVal = ReadJsonNumberField(object, "\"modVal\"");
    events.push_back(e);
    if (close == std::string_view::npos) break;  // the last object ran to the end of the text
    c = close + 1;
  }
  return events;
}

std::vector<PatternEvent> ReadMpcPattern(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    std::cerr << "Failed to open file: " << path.string() << '\n';
    return {};
  }
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  return ReadMpcPatternText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path, size_t maxBytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  const std::streamoff size = in.tellg();
  if (size < 0 || static_cast<uint64_t>(size) > maxBytes) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.seekg(0);
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) return {};
  return bytes;
}

namespace {

class MidiReader {
 public:
  explicit MidiReader(std::span<const uint8_t> bytes) : b_(bytes) {}

  std::vector<PatternEvent> Read() {
    const size_t n = b_.size();
    if (n < 14 || !Tag(0, "MThd")) return {};
    const unsigned tracks = Be16(10);
    const unsigned division = Be16(12);
    // SMPTE time has no quarter note; a division of 0 has no scale at all.
    if ((division & 0x8000u) != 0 || division == 0 || tracks == 0) return {};
    scale_ = static_cast<double>(kTicksPerQuarter) / division;
    size_t p = 14;
    for (unsigned t = 0; t < tracks && !stop_; ++t) {
      if (p + 4 > n || !Tag(p, "MTrk")) break;
      if (p + 8 > n) break;
      const uint64_t length = Be32(p + 4);
      p += 8;
      p = ReadTrack(p, p + length);
    }
    std::stable_sort(events_.begin(), events_.end(),
                     [](const PatternEvent& a, const PatternEvent& c) { return a.time < c.time; });
    return std::move(events_);
  }

 private:
  struct Held {
    bool held = false;
    int64_t start = 0;
    double velocity = 0;
  };

  bool Tag(size_t p, const char* tag) const {
    return b_[p] == tag[0] && b_[p + 1] == tag[1] && b_[p + 2] == tag[2] && b_[p + 3] == tag[3];
  }
  unsigned Be16(size_t p) const { return (unsigned{b_[p]} << 8) | b_[p + 1]; }
  uint64_t Be32(size_t p) const {
    return (uint64_t{b_[p]} << 24) | (uint64_t{b_[p + 1]} << 16) | (uint64_t{b_[p + 2]} << 8) | b_[p + 3];
  }

  // A variable-length quantity of at most four bytes; false (and the reading
  // stops) when it runs past the end or is longer.
  bool Vlq(size_t& p, uint64_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
      if (p >= b_.size()) return false;
      const uint8_t byte = b_[p++];
      value = (value << 7) | (byte & 0x7Fu);
      if ((byte & 0x80u) == 0) return true;
    }
    return false;
  }

  void Emit(int note, const Held& h, int64_t end) {
    if (events_.size() >= kMaxPatternEvents) {
      stop_ = true;
      return;
    }
    PatternEvent e;
    e.type = 2;
    e.time = static_cast<int64_t>(static_cast<double>(h.start) * scale_);
    e.len = static_cast<int64_t>(static_cast<double>(end - h.start) * scale_);
    if (e.len == 0) e.len = 1;
    e.note = note;
    e.velocity = h.velocity;
    e.modVal = 0.5;
    events_.push_back(e);
  }

  // Reads one track's events from |p|; returns where the last event ended.
  size_t ReadTrack(size_t p, uint64_t trackEnd) {
    const size_t n = b_.size();
    int64_t tick = 0;
    unsigned running = 0;
    std::array<Held, 128> held{};
    while (p < trackEnd && p < n && !stop_) {
      uint64_t delta = 0;
      if (!Vlq(p, delta)) return Stop(p);
      tick += static_cast<int64_t>(delta);
      if (p >= n) return Stop(p);
      if (b_[p] & 0x80u) running = b_[p++];
      if (running == 0) continue;  // a data byte without status reads as the next delta
      switch (running >> 4) {
        case 0x8:
        case 0x9: {
          if (p + 2 > n) return Stop(p);
          const unsigned note = b_[p];
          const unsigned velocity = b_[p + 1];
          p += 2;
          if (note >= 0x80 || velocity >= 0x80) break;  // not a note message after all
          Held& h = held[note];
          const bool on = (running >> 4) == 0x9 && velocity > 0;
          if (h.held) {
            Emit(static_cast<int>(note), h, tick);
            h.held = false;
          }
          if (on) h = {true, tick, velocity / 127.0};
          break;
        }
        case 0xC:
        case 0xD:
          if (p + 1 > n) return Stop(p);
          p += 1;
          break;
        case 0xA:
        case 0xB:
        case 0xE:
          if (p + 2 > n) return Stop(p);
          p += 2;
          break;
        default:
          if (running == 0xF0 || running == 0xF7) {
            uint64_t length = 0;
            if (!Vlq(p, length) || length > n - p) return Stop(p);
            p += static_cast<size_t>(length);
          } else if (running == 0xFF) {
            if (p >= n) return Stop(p);
            ++p;  // the meta type
            uint64_t length = 0;
            if (!Vlq(p, length) || length > n - p) return Stop(p);
            p += static_cast<size_t>(length);
          }
          break;
      }
    }
    return p;  // notes still held are dropped
  }

  size_t Stop(size_t p) {
    stop_ = true;
    return p;
  }

  std::span<const uint8_t> b_;
  double scale_ = 1.0;
  bool stop_ = false;
  std::vector<PatternEvent> events_;
};

}  // namespace

std::vector<PatternEvent> ReadMidiBytes(std::span<const uint8_t> bytes) { return MidiReader(bytes).Read(); }

std::vector<PatternEvent> ReadMidiFile(const std::filesystem::path& path) { return ReadMidiBytes(ReadFileBytes(path)); }

int ParsePatternNoteName(std::string_view text) { return ParseNoteName(text, NoteNameLayout::kCompact); }

}  // namespace zandrel
