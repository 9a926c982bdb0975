#include "tools/loop_render.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <set>

#include "document/note_names.h"
#include "processing/sample_access.h"

namespace zandrel {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

// The text as a decimal integer: its leading number (sign allowed), 0 when
// it has none, and kOutOfRange when it does not fit an int32.
constexpr int64_t kOutOfRange = -1000000;
int64_t LeadingInteger(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) return kOutOfRange;
  if (ec != std::errc()) return 0;
  if (value < INT32_MIN || value > INT32_MAX) return kOutOfRange;
  return value;
}

int64_t NoteOrNumber(std::string_view text) {
  const int note = ParsePatternNoteName(text);
  return note >= 0 ? note : LeadingInteger(text);
}

void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutFloat(uint8_t* p, float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  PutLE32(p, v);
}

}  // namespace

int NoteMapTables::RootCount() const {
  int count = 0;
  while (count < 128 && rootList[static_cast<size_t>(count)] != -1) ++count;
  return count;
}

int KitStartNote(std::string_view text) {
  const int64_t k = NoteOrNumber(text);
  return k < 0 || k > 127 ? 36 : static_cast<int>(k);
}

CustomMapping ParseCustomMapping(std::string_view text) {
  CustomMapping mapping;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string_view piece = Trim(text.substr(start, comma - start));
    start = comma + 1;
    if (piece.empty()) continue;
    const size_t arrow = piece.find('>');
    if (arrow == std::string_view::npos) continue;
    const std::string_view from = Trim(piece.substr(0, arrow));
    const std::string_view to = Trim(piece.substr(arrow + 1));
    if (from.empty() || to.empty()) continue;
    const int64_t source = NoteOrNumber(from);
    const int64_t destination = NoteOrNumber(to);
    if (source >= 1 && source <= 127 && destination >= 1 && destination <= 127)
      mapping[static_cast<int32_t>(source)] = static_cast<int32_t>(destination);
  }
  return mapping;
}

NoteMapTables BuildNoteMap(const InstrumentData* instrument, std::string_view kitStartText,
                           const CustomMapping& custom) {
  NoteMapTables t;
  if (!instrument || instrument->regions.empty()) return t;
  const std::vector<Region>& regions = instrument->regions;
  for (size_t i = 0; i < regions.size() && i < 128; ++i) t.rootList[i] = regions[i].rootNote;

  std::array<int32_t, 128> rootRegion;
  rootRegion.fill(-1);
  for (size_t i = 0; i < regions.size(); ++i) {
    const int32_t root = regions[i].rootNote;
    if (root >= 0 && root <= 127) rootRegion[static_cast<size_t>(root)] = static_cast<int32_t>(i);
  }
  std::array<int32_t, 128> nearest;
  std::array<int32_t, 128> regionOf;
  for (int n = 0; n < 128; ++n) {
    int below = -1, above = -1;
    for (int k = n; k >= 0; --k)
      if (rootRegion[static_cast<size_t>(k)] >= 0) {
        below = k;
        break;
      }
    for (int k = n; k < 128; ++k)
      if (rootRegion[static_cast<size_t>(k)] >= 0) {
        above = k;
        break;
      }
    int root = -1;
    if (below >= 0 && (above < 0 || n - below <= above - n)) root = below;
    else if (above >= 0) root = above;
    nearest[static_cast<size_t>(n)] = root;
    regionOf[static_cast<size_t>(n)] = root >= 0 ? rootRegion[static_cast<size_t>(root)] : -1;
  }

  const int shift = KitStartNote(kitStartText) - 36;
  for (int i = 0; i < 128; ++i) {
    const int k = i + shift;
    if (k < 0 || k > 127) continue;
    t.noteMap[static_cast<size_t>(i)] = nearest[static_cast<size_t>(k)];
    t.regionMap[static_cast<size_t>(i)] = regionOf[static_cast<size_t>(k)];
  }
  for (const auto& [source, destination] : custom) {
    if (source < 0 || source > 127 || destination < 0 || destination > 127) continue;
    t.noteMap[static_cast<size_t>(source)] = nearest[static_cast<size_t>(destination)];
    t.regionMap[static_cast<size_t>(source)] = regionOf[static_cast<size_t>(destination)];
  }
  return t;
}

AutoMapResult AutoMapNotes(const std::vector<PatternEvent>& events, const InstrumentData* instrument) {
  AutoMapResult result;
  if (events.empty()) {
    result.warning = "Please load a pattern file first.";
    return result;
  }
  if (!instrument || instrument->regions.empty()) {
    result.warning = "No instrument regions available.";
    return result;
  }
  std::set<int32_t> notes, roots;
  for (const PatternEvent& e : events)
    if (e.type == 2 && e.note >= 0 && e.note <= 127) notes.insert(e.note);
  if (notes.empty()) {
    result.warning = "No note events found in pattern.";
    return result;
  }
  for (const Region& r : instrument->regions)
    if (r.rootNote >= 0 && r.rootNote <= 127) roots.insert(r.rootNote);
  if (roots.empty()) {
    result.warning = "No valid root keys found in instrument regions.";
    return result;
  }
  auto n = notes.begin();
  auto r = roots.begin();
  for (; n != notes.end() && r != roots.end(); ++n, ++r) {
    if (*n == *r) continue;
    if (!result.text.empty()) result.text += ", ";
    result.text += NoteNameOrDashes(*n) + ">" + NoteNameOrDashes(*r);
  }
  return result;
}

bool IsMidiPatternPath(const std::filesystem::path& path) {
  const std::string s = path.string();
  if (s.size() < 4) return false;
  std::string tail = s.substr(s.size() - 4);
  for (char& c : tail)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return tail == ".mid" || tail == "midi";
}

int32_t BarsOfPattern(const std::vector<PatternEvent>& notes) {
  int64_t latest = 0;
  for (const PatternEvent& e : notes) latest = std::max(latest, e.time);
  const int64_t bars = latest / kTicksPerBar + 1;
  return bars > kMaxLoopBars ? -1 : static_cast<int32_t>(bars);
}

PatternLoad LoadPatternBytes(std::span<const uint8_t> bytes, bool midi) {
  PatternLoad load;
  const std::vector<PatternEvent> read =
      midi ? ReadMidiBytes(bytes)
           : ReadMpcPatternText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (read.empty()) {
    load.status = PatternLoadStatus::kNoEvents;
    load.warning = midi ? "Failed to parse MIDI file or file is empty."
                        : "Failed to parse pattern file or file is empty.";
    return load;
  }
  for (const PatternEvent& e : read)
    if (e.type == 2) {
      load.events.push_back(e);
      if (midi) load.events.back().key3 = 0;
    }
  if (load.events.empty()) {
    load.status = PatternLoadStatus::kNoNotes;
    load.warning = midi ? "No note events found in MIDI file." : "No note events found in pattern file.";
    return load;
  }
  load.bars = BarsOfPattern(load.events);
  if (load.bars < 0) {
    load.events.clear();
    load.bars = 0;
    load.status = PatternLoadStatus::kTooLong;
    load.warning = "The pattern is longer than 256 bars.";
    return load;
  }
  load.status = PatternLoadStatus::kLoaded;
  return load;
}

PatternLoad LoadPatternFile(const std::filesystem::path& path) {
  const bool midi = IsMidiPatternPath(path);
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  if (!midi && bytes.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
      return LoadPatternBytes({}, midi);  // ReadMpcPattern's complaint is for the console only
  }
  return LoadPatternBytes(bytes, midi);
}

std::filesystem::path WithWavExtension(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (ext == ".wav") return path;
  std::filesystem::path out = path;
  out += ".wav";
  return out;
}

int64_t LoopFrames(int32_t bars, double tempo, uint32_t rate) {
  if (!std::isfinite(tempo) || tempo <= 0.0 || bars < 1 || rate == 0) return -1;
  const double q = 60.0 / tempo;
  const double frames = std::trunc(static_cast<double>(bars) * kTicksPerBar / kTicksPerQuarter * q * rate);
  if (!(frames >= 1.0) || frames > kMaxLoopSeconds * rate) return -1;
  return static_cast<int64_t>(frames);
}

RiffChunk LoopInstrumentChunk() {
  static constexpr std::string_view kJson =
      "{\"sound.playmode\":\"loop\",\"sound.rootnote\":60,\"sound.pitch\":0,\"sound.pan\":0,"
      "\"sound.amplitude\":100,\"envelope.attack\":0,\"envelope.release\":0,\"time.mode\":\"bpm\","
      "\"sample.mode\":\"single\"}";
  const uint32_t subSize = static_cast<uint32_t>(kJson.size() + 1);
  RiffChunk list;
  list.id = {'L', 'I', 'S', 'T'};
  std::string body = "INFOTNGE";
  for (int i = 0; i < 4; ++i) body += static_cast<char>((subSize >> (8 * i)) & 0xFF);
  body += kJson;
  body += '\0';
  if (subSize % 2) body += '\0';
  list.data.assign(body.begin(), body.end());
  list.size = static_cast<uint32_t>(list.data.size());
  return list;
}

RiffChunk LoopAcidChunk(int32_t bars, float tempo) {
  RiffChunk acid;
  acid.id = {'a', 'c', 'i', 'd'};
  acid.data.assign(24, 0);
  PutLE32(&acid.data[0], 1);
  PutLE16(&acid.data[4], 60);
  PutFloat(&acid.data[8], 0.0f);
  PutLE32(&acid.data[12], static_cast<uint32_t>(bars * 4));
  PutLE16(&acid.data[16], 4);
  PutLE16(&acid.data[18], 4);
  PutFloat(&acid.data[20], tempo);
  acid.size = 24;
  return acid;
}

LoopRenderResult RenderPatternLoop(const LoopRenderInput& in) {
  LoopRenderResult result;
  auto fail = [&result](std::string message, MessageIcon icon) -> LoopRenderResult {
    result.message = std::move(message);
    result.icon = icon;
    return std::move(result);
  };
  if (!in.kit || !in.instrument) return fail("Audio source not set.", MessageIcon::Error);
  if (in.kit->data.empty() || in.instrument->regions.empty())
    return fail("No audio data or regions available.", MessageIcon::Error);
  if (!in.events || in.events->empty() || in.bars < 1)
    return fail("Please load a pattern file first.", MessageIcon::Warning);

  const PcmFormat& format = in.kit->format;
  const int channels = format.nChannels;
  const int blockAlign = format.nBlockAlign;
  const int bits = format.wBitsPerSample;
  const uint32_t rate = format.nSamplesPerSec;
  const int64_t loop = LoopFrames(in.bars, in.tempo, rate);
  if (loop < 1)
    return fail("The tempo must give a loop between one frame and 10 minutes long.", MessageIcon::Warning);
  if (channels < 1 || blockAlign < 1) return fail("No audio data or regions available.", MessageIcon::Error);

  const NoteMapTables tables = BuildNoteMap(in.instrument, in.kitStartText, in.custom);
  std::array<const Region*, 128> regionByRoot{};
  for (const Region& r : in.instrument->regions)
    if (r.rootNote >= 0 && r.rootNote <= 127) regionByRoot[static_cast<size_t>(r.rootNote)] = &r;

  const int64_t kitFrames = in.kit->FrameCount();
  std::vector<std::vector<float>> kit;    // the kit's samples, one vector per channel
  std::vector<std::vector<float>> mix;    // the loop, one vector per channel
  try {
    kit.resize(static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c)
      ChannelToFloat(in.kit->data, kit[static_cast<size_t>(c)], 0, kitFrames, c, bits, blockAlign);
    mix.resize(static_cast<size_t>(channels));
    for (std::vector<float>& channel : mix) channel.assign(static_cast<size_t>(loop), 0.0f);
  } catch (const std::bad_alloc&) {
    return fail("Out of memory.", MessageIcon::Error);
  } catch (const std::length_error&) {
    return fail("Out of memory.", MessageIcon::Error);
  }

  const double q = 60.0 / in.tempo;
  const double loopLength = static_cast<double>(loop);
  for (const PatternEvent& e : *in.events) {
    if (e.note < 0 || e.note > 127) continue;
    const int32_t root = tables.noteMap[static_cast<size_t>(e.note)];
    if (root < 0) continue;
    const Region* region = regionByRoot[static_cast<size_t>(root)];
    if (!region) continue;
    const int64_t s = region->startSample;
    // A region reaching outside the kit at its start has no first frame to
    // play: it stays silent rather than sound from somewhere else.
    if (s < 0 || s >= kitFrames) continue;
    // The start frame, reduced into the loop before it meets an integer:
    // far or negative times sound where they fall in the loop's cycle.
    double f = std::fmod(std::trunc(static_cast<double>(e.time) / kTicksPerQuarter * q * rate), loopLength);
    if (f < 0) f += loopLength;
    int64_t p = static_cast<int64_t>(f);
    if (p >= loop) p = 0;
    const float v = static_cast<float>(e.velocity);
    const int64_t end = std::min(region->endSample, kitFrames);
    // Mix in runs that end at the loop's end, where the tail wraps to its start.
    for (int64_t frame = s; frame < end;) {
      const int64_t run = std::min(end - frame, loop - p);
      for (int c = 0; c < channels; ++c) {
        float* dst = mix[static_cast<size_t>(c)].data() + p;
        const float* src = kit[static_cast<size_t>(c)].data() + frame;
        for (int64_t i = 0; i < run; ++i) dst[i] += src[i] * v;
      }
      frame += run;
      p += run;
      if (p == loop) p = 0;
    }
  }

  float peak = 0.0f;
  for (const auto& channel : mix)
    for (float x : channel) peak = std::max(peak, std::fabs(x));
  const float gain = peak > 1.0f ? 0.95f / peak : 1.0f;
  result.gain = gain;

  CWavLoader& wav = result.wav;
  wav.format = format;
  try {
    wav.data.assign(static_cast<size_t>(loop) * static_cast<size_t>(blockAlign), 0);
  } catch (const std::bad_alloc&) {
    return fail("Out of memory.", MessageIcon::Error);
  }
  for (int c = 0; c < channels; ++c) {
    std::vector<float>& channel = mix[static_cast<size_t>(c)];
    for (float& x : channel) x *= gain;
    FloatToChannel(channel, wav.data, 0, c, bits, blockAlign);
  }
  wav.chunks = {LoopInstrumentChunk(), LoopAcidChunk(in.bars, static_cast<float>(in.tempo))};
  result.frames = loop;
  result.ok = true;
  return result;
}

}  // namespace zandrel
