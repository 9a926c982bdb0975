#include "document/instrument_chunks.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include <nlohmann/json.hpp>

#include "document/note_names.h"
#include "platform/text_format.h"

namespace zandrel {
namespace {

using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;

constexpr size_t kSmplSize = 36;
constexpr size_t kAcidSize = 24;

const RiffChunk* FindChunk(const std::vector<RiffChunk>& chunks, std::string_view id) {
  for (const RiffChunk& c : chunks)
    if (c.Is(id)) return &c;
  return nullptr;
}
RiffChunk* FindChunk(std::vector<RiffChunk>& chunks, std::string_view id) {
  for (RiffChunk& c : chunks)
    if (c.Is(id)) return &c;
  return nullptr;
}

// ---------------------------------------------------------------- reading --

// Reads typed values out of one parsed TNGE object. A key that is absent
// gives the default; a value of the wrong type or out of range for the field
// is skipped (the default is used) and named in the log.
class JsonReader {
 public:
  JsonReader(const json& object, LogSink* log, std::string context)
      : object_(object), log_(log), context_(std::move(context)) {}

  int32_t Int32(const char* key, int32_t fallback) const {
    const std::optional<double> v = Number(key, /*allowBool=*/true);
    if (!v) return fallback;
    const double whole = std::trunc(*v);  // a fraction is truncated toward zero
    return InRange<int32_t>(key, whole) ? static_cast<int32_t>(whole) : fallback;
  }

  int64_t Int64(const char* key, int64_t fallback) const {
    const auto it = object_.find(key);
    if (it == object_.end()) return fallback;
    // Integers are taken exactly; a double only covers 53 bits.
    if (it->is_number_integer() && !it->is_number_unsigned()) return it->get<int64_t>();
    if (it->is_number_unsigned()) {
      const uint64_t u = it->get<uint64_t>();
      if (u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return static_cast<int64_t>(u);
      Skip(key);
      return fallback;
    }
    const std::optional<double> v = Number(key, /*allowBool=*/false);
    if (!v) return fallback;
    const double whole = std::trunc(*v);
    return InRange<int64_t>(key, whole) ? static_cast<int64_t>(whole) : fallback;
  }

  float Float(const char* key, float fallback) const {
    const std::optional<double> v = Number(key, /*allowBool=*/true);
    if (!v) return fallback;
    const float f = static_cast<float>(*v);
    if (!std::isfinite(f)) {
      Skip(key);
      return fallback;
    }
    return f;
  }

  std::string String(const char* key, const char* fallback) const {
    const auto it = object_.find(key);
    if (it == object_.end()) return fallback;
    if (!it->is_string()) {
      Skip(key);
      return fallback;
    }
    return it->get<std::string>();
  }

 private:
  std::optional<double> Number(const char* key, bool allowBool) const {
    const auto it = object_.find(key);
    if (it == object_.end()) return std::nullopt;
    if (it->is_boolean() && allowBool) return it->get<bool>() ? 1.0 : 0.0;
    if (it->is_number()) return it->get<double>();
    Skip(key);
    return std::nullopt;
  }

  template <typename T>
  bool InRange(const char* key, double v) const {
    // The upper bound is exclusive: 2^63 itself does not fit an int64.
    const double lo = static_cast<double>(std::numeric_limits<T>::min());
    const double hi = -lo;
    if (v >= lo && v < hi) return true;
    Skip(key);
    return false;
  }

  void Skip(const char* key) const {
    LogF(log_, "Warning: TNGE %s\"%s\" has an invalid value; the default is used.", context_.c_str(), key);
  }

  const json& object_;
  LogSink* log_;
  std::string context_;
};

void ReadParams(const json& object, InstrumentParams& p, LogSink* log) {
  const JsonReader r(object, log, "");
  p.playMode = r.String("sound.playmode", "key");
  p.rootNote = r.Int32("sound.rootnote", 60);
  p.pitch = r.Int32("sound.pitch", 0);
  p.pan = r.Int32("sound.pan", 0);
  p.amplitude = r.Int32("sound.amplitude", 100);
  p.attack = r.Int32("envelope.attack", 0);
  p.release = r.Int32("envelope.release", 0);
  p.timeMode = r.String("time.mode", "off");
  p.sampleMode = r.String("sample.mode", "multi");
  p.bpm = r.Float("sound.bpm", 120.0f);
  p.loopStart = r.Int64("sound.loopstart", kNoLoop);
  p.loopEnd = r.Int64("sound.loopend", kNoLoop);
  // Read as 64 bits and kept in 32: the value must fit the field.
  const int64_t bars = r.Int64("sound.bars", 1);
  if (bars >= std::numeric_limits<int32_t>::min() && bars <= std::numeric_limits<int32_t>::max()) {
    p.bars = static_cast<int32_t>(bars);
  } else {
    LogF(log, "Warning: TNGE \"sound.bars\" has an invalid value; the default is used.");
    p.bars = 1;
  }
}

Region ReadRegion(const json& object, size_t index, LogSink* log) {
  const JsonReader r(object, log, Format("region %zu ", index + 1));
  Region region;
  region.startSample = r.Int64("sample.start", 0);
  region.endSample = r.Int64("sample.end", 0);
  region.loKey = r.Int32("sample.lokey", 0);
  region.hiKey = r.Int32("sample.hikey", 127);
  region.rootNote = r.Int32("sound.rootnote", 60);
  region.loopStart = r.Int64("sound.loopstart", kNoLoop);
  region.loopEnd = r.Int64("sound.loopend", kNoLoop);
  return region;
}

void ReadTngeText(std::string_view text, int64_t frameCount, InstrumentData& instrument, LogSink* targetLog) {
  // Hostile data can hold a million bad entries: warnings of one kind are
  // summed up rather than written a million times.
  StepLog step(targetLog);
  LogSink* log = step.Sink();
  while (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  json object;
  try {
    object = json::parse(text);
  } catch (const json::exception& e) {
    LogF(log, "Error parsing TNGE chunk: %s", e.what());
    return;
  }
  if (!object.is_object()) {
    LogF(log, "Error parsing TNGE chunk: the instrument data is not a JSON object");
    return;
  }

  instrument.hasInstrument = true;
  ReadParams(object, instrument.params, log);

  const auto regions = object.find("regions");
  size_t notObjects = 0;
  if (regions != object.end() && regions->is_array()) {
    for (size_t i = 0; i < regions->size(); ++i) {
      const json& element = (*regions)[i];
      if (element.is_object() && instrument.regions.size() >= kMaxRegionsRead) {
        LogF(log, "Warning: TNGE holds more than %zu regions; only the first %zu are read.", kMaxRegionsRead,
             kMaxRegionsRead);
        break;
      }
      if (!element.is_object()) {
        // Counted here rather than formatted a million times.
        if (++notObjects <= StepLog::kMaxPerKind) LogF(log, "Warning: TNGE region %zu is not an object; skipped.", i + 1);
        continue;
      }
      instrument.regions.push_back(ReadRegion(element, i, log));
    }
  }

  if (notObjects > StepLog::kMaxPerKind) LogF(log, "... and %zu more like it", notObjects - StepLog::kMaxPerKind);
  step.Finish();  // the sums belong to the regions, before the summary line

  const InstrumentParams& p = instrument.params;
  if (instrument.regions.empty() && p.loopStart != kNoLoop && p.loopEnd != kNoLoop) {
    Region whole;
    whole.startSample = 0;
    whole.endSample = frameCount;
    whole.loopStart = p.loopStart;
    whole.loopEnd = p.loopEnd;
    whole.loKey = 0;
    whole.hiKey = 127;
    whole.rootNote = p.rootNote;
    instrument.regions.push_back(whole);
  }
  LogF(log, "Successfully parsed 'TNGE' instrument data with %d regions.", static_cast<int>(instrument.regions.size()));
}

// ---------------------------------------------------------------- writing --

// The tempo as a JSON number in the shortest decimal form that reads back as
// the same 32-bit value (120 prints as 120.0, 93.5 as 93.5).
ordered_json BpmJson(float bpm) {
  if (!std::isfinite(bpm)) bpm = 120.0f;
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, bpm);
  double value = bpm;
  if (ec == std::errc()) std::from_chars(buffer, end, value);
  return ordered_json(value);
}

ordered_json RegionJson(const Region& r) {
  ordered_json o = ordered_json::object();
  o["sample.start"] = r.startSample;
  o["sample.end"] = r.endSample;
  o["sample.lokey"] = r.loKey;
  o["sample.hikey"] = r.hiKey;
  o["sound.rootnote"] = r.rootNote;
  o["sound.loopstart"] = r.loopStart;
  o["sound.loopend"] = r.loopEnd;
  return o;
}

// A sole region's loop travels as the global loop, which a reader turns
// back into a region only when both points are there: half a loop (which a
// file can hold) is written as none, so the text reads back as written.
void AddSingleRegionLoop(ordered_json& o, const Region& r) {
  if (r.loopStart == kNoLoop || r.loopEnd == kNoLoop) return;
  o["sound.loopstart"] = r.loopStart;
  o["sound.loopend"] = r.loopEnd;
}

// The regions with a non-zero end, or a null value when there is none.
ordered_json RegionsJson(const std::vector<Region>& regions) {
  ordered_json array = ordered_json::array();
  for (const Region& r : regions)
    if (r.endSample != 0) array.push_back(RegionJson(r));
  return array.empty() ? ordered_json() : array;
}

std::string Dump(const ordered_json& o) {
  // Strings read from a file may hold invalid UTF-8; replace rather than throw.
  return o.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

void AppendSubChunk(std::vector<uint8_t>& out, const FourCC& id, const uint8_t* body, uint32_t size) {
  AppendFourCC(out, id);
  AppendLE32(out, size);
  out.insert(out.end(), body, body + size);
  if (size & 1) out.push_back(0);
}

// Stores |text| as the TNGE sub-chunk of the first LIST/INFO chunk (creating
// the chunk at the end of the list when there is none). Sub-chunks of other
// kinds are kept in order; the first TNGE is replaced in place and any later
// TNGE dropped, so the file holds the instrument exactly once.
void StoreTngeText(std::vector<RiffChunk>& chunks, const std::string& text, LogSink* log) {
  RiffChunk* list = FindListInfo(chunks);
  if (!list) {
    Log(log, "No LIST INFO chunk found. Creating new one.");
    RiffChunk created;
    created.id = MakeFourCC("LIST");
    created.data = {'I', 'N', 'F', 'O'};
    created.size = 4;
    chunks.push_back(std::move(created));
    list = &chunks.back();
  }

  std::vector<uint8_t> tnge(text.begin(), text.end());
  tnge.push_back(0);
  const FourCC tngeId = MakeFourCC("TNGE");

  std::vector<uint8_t> rebuilt = {'I', 'N', 'F', 'O'};
  bool stored = false;
  // Sub-chunks that overrun the chunk are dropped with what follows them.
  for (const InfoSubChunk& sub : WalkInfoSubChunks(*list).entries) {
    if (sub.id == tngeId) {
      if (!stored) AppendSubChunk(rebuilt, tngeId, tnge.data(), static_cast<uint32_t>(tnge.size()));
      stored = true;
    } else {
      AppendSubChunk(rebuilt, sub.id, sub.body.data(), static_cast<uint32_t>(sub.body.size()));
    }
  }
  if (!stored) {
    Log(log, "Adding TNGE chunk.");
    AppendSubChunk(rebuilt, tngeId, tnge.data(), static_cast<uint32_t>(tnge.size()));
  }
  list->data = std::move(rebuilt);
  list->size = static_cast<uint32_t>(list->data.size());
}

}  // namespace

InfoSubChunks WalkInfoSubChunks(const RiffChunk& list) {
  InfoSubChunks result;
  const std::vector<uint8_t>& d = list.data;
  uint64_t offset = 4;
  while (offset + 8 <= d.size()) {
    const uint64_t size = ReadLE32(d.data() + offset + 4);
    if (offset + 8 + size > d.size()) {
      result.malformed = true;
      break;
    }
    InfoSubChunk sub;
    std::memcpy(sub.id.data(), d.data() + offset, 4);
    sub.body = std::span<const uint8_t>(d.data() + offset + 8, static_cast<size_t>(size));
    result.entries.push_back(sub);
    offset += 8 + size + (size & 1);
  }
  return result;
}

const RiffChunk* FindListInfo(const std::vector<RiffChunk>& chunks) {
  for (const RiffChunk& c : chunks)
    if (c.Is("LIST") && c.data.size() >= 4 && std::memcmp(c.data.data(), "INFO", 4) == 0) return &c;
  return nullptr;
}

RiffChunk* FindListInfo(std::vector<RiffChunk>& chunks) {
  return const_cast<RiffChunk*>(FindListInfo(std::as_const(chunks)));
}

void ParseInstrumentChunk(const std::vector<RiffChunk>& chunks, int64_t frameCount, InstrumentData& instrument,
                          LogSink* log) {
  instrument.Reset();
  const RiffChunk* list = FindListInfo(chunks);
  if (!list) return;
  for (const InfoSubChunk& sub : WalkInfoSubChunks(*list).entries) {
    if (!FourCCIs(sub.id, "TNGE")) continue;
    const std::string_view text(reinterpret_cast<const char*>(sub.body.data()), sub.body.size());
    ReadTngeText(text, frameCount, instrument, log);
  }
}

void ReadSmplChunk(const std::vector<RiffChunk>& chunks, InstrumentData& instrument, LogSink* log) {
  InstrumentParams& p = instrument.params;
  p.smplUnityNote = -1;
  const RiffChunk* smpl = FindChunk(chunks, "smpl");
  if (!smpl) {
    Log(log, "No 'smpl' chunk found in this WAV file.");
    return;
  }
  if (smpl->data.size() < 16) {
    Log(log, "'smpl' chunk skipped");
    return;
  }
  const int32_t unity = static_cast<int32_t>(ReadLE32(smpl->data.data() + 12));
  p.smplUnityNote = std::clamp(unity, 0, 127);
  LogF(log, "'smpl' chunk: dwMIDIUnityNote = %d (%s)", p.smplUnityNote, MidiNoteName(p.smplUnityNote).c_str());
  if (!instrument.hasInstrument) p.rootNote = p.smplUnityNote;
}

void ReadAcidChunk(const std::vector<RiffChunk>& chunks, InstrumentData& instrument, LogSink* log) {
  InstrumentParams& p = instrument.params;
  p.beats = 4;
  const RiffChunk* acid = FindChunk(chunks, "acid");
  if (!acid) return;
  if (acid->data.size() < kAcidSize) {
    Log(log, "'acid' chunk too small, skipped");
    return;
  }
  p.beats = static_cast<int32_t>(ReadLE32(acid->data.data() + 12));
  // The instrument's own tempo wins over the acid tempo unless it is the default.
  if (p.bpm == 120.0f) p.bpm = ReadLEFloat(acid->data.data() + 20);
  if (!std::isfinite(p.bpm) || p.bpm < 1.0f || p.bpm > 9999.0f) p.bpm = 120.0f;
  if (p.beats < 1) p.beats = 4;
  LogF(log, "BPM = %.2f, Beats = %d", p.bpm, p.beats);
}

std::string BuildInstrumentJson(const InstrumentData& instrument) {
  const InstrumentParams& p = instrument.params;
  const std::vector<Region>& regions = instrument.regions;
  ordered_json o = ordered_json::object();
  if (regions.size() == 1) AddSingleRegionLoop(o, regions.front());
  o["sound.playmode"] = p.playMode;
  o["sound.rootnote"] = p.rootNote;
  o["sound.pitch"] = p.pitch;
  o["sound.pan"] = p.pan;
  o["sound.amplitude"] = p.amplitude;
  if (p.playMode == "loop") o["sound.bpm"] = BpmJson(p.bpm);
  o["envelope.attack"] = p.attack;
  o["envelope.release"] = p.release;
  o["time.mode"] = p.timeMode;
  o["sample.mode"] = regions.size() == 1 ? std::string("single") : p.sampleMode;
  if (regions.size() >= 2) {
    ordered_json array = RegionsJson(regions);
    if (!array.is_null()) o["regions"] = std::move(array);
  }
  return Dump(o);
}

std::string BuildSelectionInstrumentJson(const InstrumentData& instrument, int64_t selStart, int64_t selEnd) {
  std::vector<Region> kept;
  for (const Region& r : instrument.regions) {
    if (!(r.endSample > selStart && r.startSample < selEnd)) continue;
    Region k = r;
    k.startSample = std::max(r.startSample, selStart) - selStart;
    k.endSample = std::min(r.endSample, selEnd) - selStart;
    auto rebase = [&](int64_t point) {
      if (point == kNoLoop) return point;
      return point < selStart ? int64_t{0} : std::min(point, selEnd) - selStart;
    };
    k.loopStart = rebase(r.loopStart);
    k.loopEnd = rebase(r.loopEnd);
    kept.push_back(k);
  }

  const InstrumentParams& p = instrument.params;
  ordered_json o = ordered_json::object();
  o["sound.playmode"] = p.playMode;
  o["sound.rootnote"] = p.rootNote;
  o["sound.pitch"] = p.pitch;
  o["sound.pan"] = p.pan;
  o["sound.amplitude"] = p.amplitude;
  o["sound.bpm"] = BpmJson(p.bpm);
  o["envelope.attack"] = p.attack;
  o["envelope.release"] = p.release;
  o["time.mode"] = p.timeMode;
  o["sample.mode"] = p.sampleMode;
  if (kept.size() == 1) AddSingleRegionLoop(o, kept.front());
  ordered_json array = RegionsJson(kept);
  if (!array.is_null()) o["regions"] = std::move(array);
  return Dump(o);
}

void WriteInstrumentChunk(std::vector<RiffChunk>& chunks, InstrumentData& instrument, LogSink* log) {
  if (!instrument.hasInstrument) return;
  SortRegions(instrument.regions);
  StoreTngeText(chunks, BuildInstrumentJson(instrument), log);
}

void WriteInstrumentChunkFor(const InstrumentData& instrument, int64_t selStart, int64_t selEnd,
                             std::vector<RiffChunk>& chunks) {
  if (!instrument.hasInstrument) return;
  StoreTngeText(chunks, BuildSelectionInstrumentJson(instrument, selStart, selEnd), nullptr);
}

void UpdateSmplChunk(std::vector<RiffChunk>& chunks, const InstrumentData& instrument, uint32_t sampleRate,
                     LogSink* log) {
  if (!instrument.hasInstrument) return;
  const int32_t root = instrument.params.rootNote;
  if (RiffChunk* smpl = FindChunk(chunks, "smpl")) {
    if (smpl->data.size() >= 16) {
      WriteLE32(smpl->data.data() + 12, static_cast<uint32_t>(root));
      LogF(log, "Updated smpl chunk: dwMIDIUnityNote = %d (%s)", root, MidiNoteName(root).c_str());
    } else {
      Log(log, "Cannot update smpl chunk: size too small");
    }
    return;
  }
  Log(log, "No smpl chunk found. Creating new one.");
  RiffChunk created;
  created.id = MakeFourCC("smpl");
  created.data.assign(kSmplSize, 0);
  created.size = kSmplSize;
  if (sampleRate != 0) WriteLE32(created.data.data() + 8, static_cast<uint32_t>(1e9 / sampleRate));
  WriteLE32(created.data.data() + 12, static_cast<uint32_t>(root));
  chunks.push_back(std::move(created));
  LogF(log, "Created new smpl chunk with dwMIDIUnityNote = %d (%s)", root, MidiNoteName(root).c_str());
}

void UpdateAcidChunk(std::vector<RiffChunk>& chunks, const InstrumentData& instrument, LogSink* log) {
  if (!instrument.hasInstrument) return;
  const InstrumentParams& p = instrument.params;
  if (RiffChunk* acid = FindChunk(chunks, "acid")) {
    if (acid->data.size() >= kAcidSize) {
      uint8_t* d = acid->data.data();
      WriteLE16(d + 4, static_cast<uint16_t>(p.rootNote));
      WriteLE32(d + 12, static_cast<uint32_t>(p.beats));
      WriteLEFloat(d + 20, p.bpm);
      LogF(log, "Updated acid chunk: BPM = %.2f, Beats = %d, RootNote = %d", p.bpm, p.beats, p.rootNote);
    } else {
      Log(log, "Cannot update acid chunk: size too small");
    }
    return;
  }
  if (p.playMode != "loop" && p.bpm == 120.0f) return;
  Log(log, "No acid chunk found. Creating new one for loop mode.");
  RiffChunk created;
  created.id = MakeFourCC("acid");
  created.data.assign(kAcidSize, 0);
  created.size = kAcidSize;
  uint8_t* d = created.data.data();
  WriteLE32(d + 0, 1);
  WriteLE16(d + 4, static_cast<uint16_t>(p.rootNote));
  WriteLEFloat(d + 8, 0.0f);
  WriteLE32(d + 12, static_cast<uint32_t>(p.beats));
  WriteLE16(d + 16, 4);
  WriteLE16(d + 18, 4);
  WriteLEFloat(d + 20, p.bpm);
  chunks.push_back(std::move(created));
  LogF(log, "Created new acid chunk: BPM = %.2f, Beats = %d, RootNote = %d", p.bpm, p.beats, p.rootNote);
}

}  // namespace zandrel
