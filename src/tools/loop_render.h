// The loop maker's engine: which kit region each pattern note plays (the
// note map), the automatic mapping, and the render of a pattern onto the kit
// as a seamless loop of whole bars.
//
// The kit is the open document: its audio holds the drum sounds one after
// another, each region is one sound, triggered by its root note. A pattern
// note n plays the region whose root is nearest to kit note n + shift, where
// the kit start note sets the shift (pattern note 36, C2, plays the kit start
// note); single notes can be sent elsewhere by a custom mapping
// ("C2>D4, D2>F#4"), whose destinations are kit notes and are not shifted.
//
// The render mixes every note's whole region, at unchanged pitch, from its
// start tick into a loop of bars x 4 beats at the render tempo; what passes
// the loop's end continues at its start, so the loop repeats without a cut.
// A loop that would clip is scaled to a peak of 0.95. The result is a WAV in
// the kit's format with an instrument chunk saying "loop" and an acid chunk
// saying so many beats at the tempo. Everything here runs on the caller's
// thread; the inputs are bounded (256 bars, 10 minutes of loop).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "document/instrument.h"
#include "document/wav_loader.h"
#include "platform/message_host.h"
#include "tools/pattern_readers.h"

namespace zandrel {

inline constexpr int32_t kMaxLoopBars = 256;
inline constexpr double kMaxLoopSeconds = 600.0;

// The editor's region colours, by region index mod 10, as 0xRRGGBB.
inline constexpr std::array<uint32_t, 10> kToolRegionPalette = {0x4682B4, 0xDC143C, 0xFF8C00, 0x32CD32, 0x8A2BE2,
                                                                0xFFD700, 0x00BFFF, 0xFF69B4, 0x3CB371, 0xFF4500};

// Pattern note -> kit source note, parsed from the custom mapping text.
using CustomMapping = std::map<int32_t, int32_t>;

// 128 entries each, indexed by MIDI note, -1 = none.
struct NoteMapTables {
  std::array<int32_t, 128> noteMap;    // pattern note -> kit root note to play
  std::array<int32_t, 128> regionMap;  // pattern note -> region index (for colours)
  std::array<int32_t, 128> rootList;   // i -> root of region i (the first 128 regions)
  NoteMapTables() {
    noteMap.fill(-1);
    regionMap.fill(-1);
    rootList.fill(-1);
  }
  // Leading root list entries that are not -1.
  int RootCount() const;
};

// The kit start note: a note name, else a decimal number (0 when it is
// none); outside 0..127 it is 36. Oversized numbers count as out of range.
int KitStartNote(std::string_view text);
// Reads "source>destination" pairs separated by commas; each side a note name
// or a number; pairs outside 1..127 (or unreadable) are skipped; a later pair
// for the same source replaces an earlier one.
CustomMapping ParseCustomMapping(std::string_view text);
// The three tables for |instrument| (nullptr or no regions: all -1). Region
// roots outside 0..127 take no part.
NoteMapTables BuildNoteMap(const InstrumentData* instrument, std::string_view kitStartText,
                           const CustomMapping& custom);

// The "Auto Map" button: pairs the pattern's distinct notes with the kit's
// distinct roots by rank. On success `text` is the new mapping text (pairs of
// equal notes left out); otherwise `warning` says why and the text is unused.
struct AutoMapResult {
  std::string text;
  std::string warning;
  bool Ok() const { return warning.empty(); }
};
AutoMapResult AutoMapNotes(const std::vector<PatternEvent>& events, const InstrumentData* instrument);

// Loading a pattern into the loop maker.
enum class PatternLoadStatus {
  kLoaded,     // events and bars replaced
  kNoEvents,   // the reader gave nothing: the previous pattern stays
  kNoNotes,    // no note events: the events are emptied, bars stay
  kTooLong,    // over kMaxLoopBars: the previous pattern stays
};
struct PatternLoad {
  PatternLoadStatus status = PatternLoadStatus::kNoEvents;
  std::vector<PatternEvent> events;  // the note events (type 2), in reader order
  int32_t bars = 0;
  std::string warning;  // empty when loaded
};
// True when the path's last four characters are ".mid" or "midi" (any case).
bool IsMidiPatternPath(const std::filesystem::path& path);
// The bars a pattern spans: (the latest start) / 3840 + 1, at least 1; -1
// when that is more than kMaxLoopBars.
int32_t BarsOfPattern(const std::vector<PatternEvent>& notes);
// Reads |path| with the reader its ending asks for and applies the rules above.
PatternLoad LoadPatternFile(const std::filesystem::path& path);
// The same for bytes held in memory.
PatternLoad LoadPatternBytes(std::span<const uint8_t> bytes, bool midi);

// "loop" -> "loop.wav"; "loop.WAV" stays; "loop.mp3" -> "loop.mp3.wav".
std::filesystem::path WithWavExtension(const std::filesystem::path& path);

// The loop's length in frames for |bars| 4/4 bars at |tempo| BPM and |rate|
// frames per second; -1 when the tempo is not a positive number or the loop
// would be shorter than one frame or longer than kMaxLoopSeconds.
int64_t LoopFrames(int32_t bars, double tempo, uint32_t rate);

struct LoopRenderInput {
  const CWavLoader* kit = nullptr;
  const InstrumentData* instrument = nullptr;
  const std::vector<PatternEvent>* events = nullptr;
  int32_t bars = 0;
  double tempo = 90.0;
  std::string kitStartText = "C2";
  CustomMapping custom;
};
struct LoopRenderResult {
  bool ok = false;
  std::string message;  // why it failed
  MessageIcon icon = MessageIcon::None;
  CWavLoader wav;       // the loop: the kit's format, "LIST" and "acid" chunks, the PCM
  int64_t frames = 0;
  float gain = 1.0f;
};
// Renders without writing anything.
LoopRenderResult RenderPatternLoop(const LoopRenderInput& input);

// The loop's "LIST" chunk ("INFO" with the "TNGE" JSON) and "acid" chunk.
RiffChunk LoopInstrumentChunk();
RiffChunk LoopAcidChunk(int32_t bars, float tempo);

}  // namespace zandrel
