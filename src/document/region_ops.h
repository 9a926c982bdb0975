// Region repairs and limits applied before an instrument is written.
//
// The device accepts at most a fixed number of regions, no region shorter
// than 10 frames, and key ranges that cover all 128 keys; these functions
// bring an InstrumentData into that shape. They run on whatever instrument
// they are given (the save pipeline runs them on a copy of the document's)
// and do nothing when it carries no instrument data. Log lines go to an
// optional sink. None of them records undo: their callers do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "document/instrument.h"
#include "document/wav_loader.h"
#include "platform/log_sink.h"

namespace zandrel {

// The most audio data bytes a saved sample may hold.
constexpr uint32_t kEpMaxSampleBytes = 1875000;
// Shortest region a saved file keeps, in frames.
constexpr int64_t kMinRegionFrames = 10;
// Region cap when no main frame exists, and for the export without limits.
constexpr int kRegionCapWithoutFrame = 1000;
constexpr int kRegionCapWithoutLimits = 10000;

// Removes regions shorter than 10 frames (zero and negative sizes too).
void RemoveOrphanedRegions(InstrumentData& instrument, LogSink* log);
// Sorts the regions and repairs their key ranges so that they cover keys
// 0..127 without gaps, neighbours sharing their boundary key and each root
// note inside its zone. Every key it writes lies in 0..127.
void SanitizeKeyRanges(InstrumentData& instrument, LogSink* log);
// Removes regions that reach past |seconds| (a region straddling the limit is
// removed, not shortened) and loops that reach past it.
void TrimRegionsToDuration(InstrumentData& instrument, uint32_t sampleRate, float seconds);
// Keeps the first |cap| regions; the last kept one then runs to the end of
// the audio with high key 127.
void LimitRegionCount(InstrumentData& instrument, int cap, int64_t frameCount, LogSink* log);
// Keeps only "smpl" chunks and LIST/INFO chunks holding a "TNGE" sub-chunk.
void StripNonEssentialChunks(std::vector<RiffChunk>& chunks, LogSink* log);
// Moves every key of the instrument by |semitones|, clamped to 0..127.
void TransposeRegions(InstrumentData& instrument, int semitones, LogSink* log);

// The time limit a save enforces, in seconds (-1: none): the device's byte
// budget at this format's byte rate, lowered by the user's limit.
float EffectiveTimeLimit(const PcmFormat& format, size_t dataBytes, float timeLimit);
// Audio duration as the save prompt computes it (data bytes / byte rate).
float SaveDurationSeconds(const PcmFormat& format, size_t dataBytes);
// The question asked before a save cuts audio longer than |limit|.
std::string TrimQuestion(float duration, float limit, uint32_t sampleRate);

}  // namespace zandrel
