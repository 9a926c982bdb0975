// The instrument as it travels inside a WAV file.
//
// Three places carry it among the kept chunks of a CWavLoader:
//  - a JSON text in a "TNGE" sub-chunk of the first "LIST" chunk of type
//    "INFO": the EP devices' instrument data (global settings and regions);
//  - the "smpl" chunk: its unity note (the root note);
//  - the "acid" chunk: tempo, number of beats and root note.
// The readers fill an InstrumentData after a file was opened (after the audio
// became mono 16-bit); the writers store it back before a save or an export.
// They touch only the chunk list and the instrument, never the audio, and log
// through an optional sink (no sink: no main frame, no log lines).
//
// TNGE JSON: one flat object whose keys contain dots ("sound.rootnote" is one
// key), written compactly with the keys in a fixed order. Values read from a
// file are kept as read (no range checks on frames or keys); a value of the
// wrong type or out of range for its field is skipped with a log line.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "document/instrument.h"
#include "document/wav_loader.h"
#include "platform/log_sink.h"

namespace zandrel {

// The most regions a read takes from a file: the document's own limit when
// no device sets one. Hostile data may hold millions.
constexpr size_t kMaxRegionsRead = 1000;

// Reads every "TNGE" sub-chunk of the first LIST/INFO chunk into |instrument|
// (reset first). frameCount sizes the region made from a global loop.
// Reading stops after kMaxRegionsRead regions, with one warning; warnings of
// one kind are written for the first few entries and then summed up.
void ParseInstrumentChunk(const std::vector<RiffChunk>& chunks, int64_t frameCount,
                          InstrumentData& instrument, LogSink* log);
// smplUnityNote from the first "smpl" chunk; also the root note when no
// instrument data was read.
void ReadSmplChunk(const std::vector<RiffChunk>& chunks, InstrumentData& instrument, LogSink* log);
// beats, and the tempo when the instrument's own is the default, from the
// first "acid" chunk.
void ReadAcidChunk(const std::vector<RiffChunk>& chunks, InstrumentData& instrument, LogSink* log);

// The TNGE JSON of the document (regions must be sorted already).
std::string BuildInstrumentJson(const InstrumentData& instrument);
// The TNGE JSON of the regions inside [selStart, selEnd), rebased to selStart.
std::string BuildSelectionInstrumentJson(const InstrumentData& instrument, int64_t selStart, int64_t selEnd);

// Sorts the regions, then stores their JSON in the first LIST/INFO chunk,
// creating it when missing. Does nothing without instrument data.
void WriteInstrumentChunk(std::vector<RiffChunk>& chunks, InstrumentData& instrument, LogSink* log);
// Export of a selection: the JSON of the regions inside the selection, stored
// in |chunks| without log lines. Does nothing without instrument data.
void WriteInstrumentChunkFor(const InstrumentData& instrument, int64_t selStart, int64_t selEnd,
                             std::vector<RiffChunk>& chunks);
// Sets (or creates) the "smpl" chunk's unity note; a created chunk also gets
// the sample period of |sampleRate|.
void UpdateSmplChunk(std::vector<RiffChunk>& chunks, const InstrumentData& instrument, uint32_t sampleRate,
                     LogSink* log);
// Sets the "acid" chunk's root note, beats and tempo; creates one for a loop
// or a tempo other than 120.
void UpdateAcidChunk(std::vector<RiffChunk>& chunks, const InstrumentData& instrument, LogSink* log);

// One sub-chunk of a LIST/INFO chunk: its id and body (size bytes, no pad).
struct InfoSubChunk {
  FourCC id{};
  std::span<const uint8_t> body;
};
struct InfoSubChunks {
  std::vector<InfoSubChunk> entries;
  bool malformed = false;  // a sub-chunk ran past the chunk: it and what follows are left out
};
// The sub-chunks of a LIST/INFO chunk in order, from data offset 4. The walk
// stops when fewer than 8 bytes remain for a header or at the first sub-chunk
// whose body runs past the data.
InfoSubChunks WalkInfoSubChunks(const RiffChunk& list);

// The first LIST chunk whose data begins with "INFO", or nullptr.
const RiffChunk* FindListInfo(const std::vector<RiffChunk>& chunks);
RiffChunk* FindListInfo(std::vector<RiffChunk>& chunks);

}  // namespace zandrel
