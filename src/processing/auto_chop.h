// Auto-chop: cutting a sample into regions at its volume transients or where
// its detected pitch changes, and mapping the regions onto keys.
//
// Levels are measured over blocks of ChopBlockLength(rate) frames (5 ms). A
// frame's value is the mean over its channels of |sample| (8-bit
// |byte - 128| / 128, 16-bit / 32768, 24-bit / 8388608; other formats count
// as 0); a block's level is the root of the mean of its frames' values
// squared. All functions are pure and may run on any thread.
//
// The level pass grows with the audio: BlockLevels and TransientOnsets report
// through an optional WorkProgress every kBlocksPerReport blocks and return
// an empty result as soon as it answers false.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "document/instrument.h"
#include "platform/work_progress.h"
#include "processing/pitch.h"
#include "processing/sample_access.h"

namespace zandrel {

// Frames per level block: rate / 200, at least 1 (rates below 200 Hz).
int64_t ChopBlockLength(uint32_t rate);

// Blocks measured between two progress reports: about 2.5 s of audio, well
// under a millisecond of work on one core.
constexpr int64_t kBlocksPerReport = 512;

// The levels of the blocks of |blockLength| frames that cut [start, end)
// from |start| on; the last block may be shorter. Empty when |progress|
// stopped the work.
std::vector<float> BlockLevels(const PcmSpan& audio, int64_t start, int64_t end, int64_t blockLength,
                               const WorkProgress& progress = {});

// Transient onsets, ascending, as frames. A block is an onset peak when it is
// louder than both neighbours, louder than threshold x the mean of the 61
// blocks around it (+0.001), and at least |minSpacingMs| after the last
// onset; the onset then walks back to the quietest block before the rise.
// |snap| (when set) moves each onset, e.g. to a zero crossing. Audio of fewer
// than 61 blocks has no onsets. |progress| follows the level pass, which is
// nearly all of the work; empty when it stopped the work.
std::vector<int64_t> TransientOnsets(const PcmSpan& audio, float threshold, int minSpacingMs,
                                     const std::function<int64_t(int64_t)>& snap = {},
                                     const WorkProgress& progress = {});

// One region per onset up to the next one (the last up to |frames|), keys
// 0..127, root 60, no loop; the first region always starts at frame 0 (a
// first onset within rate / 50 frames moves there, a later one gets a region
// before it). Regions of 49 frames or fewer are not made.
std::vector<Region> RegionsFromOnsets(std::vector<int64_t> onsets, int64_t frames, uint32_t rate);

// The note of region |index| on the C major scale from C4 (60, 62, 64, 65,
// ...), at most 127.
int32_t MajorScaleNote(size_t index);

// Gives the first |count| regions the major-scale roots and key ranges
// (KeyRangesFromRoots over them); the others are left as they are.
void MapMajorScale(std::vector<Region>& regions, size_t count);

// Key ranges from the roots of regions[0 .. count): the first starts at key 0,
// each next at min(root, previous root + 1); each ends at root + 1, the last
// of the whole list at 127. Neighbours share their boundary key.
void KeyRangesFromRoots(std::vector<Region>& regions, size_t count);

// The segments of a melody made ready for regions: segments shorter than
// trunc(rate x 0.2) frames dropped, octave errors repaired in three passes
// (a note an octave under its predecessor takes its note; a dip between a
// predecessor and an octave above it takes the follower's; any note under its
// predecessor goes an octave up), runs of one note merged.
struct MelodySegments {
  std::vector<NoteSegment> segments;
  int corrections = 0;  // octave repairs made
};
MelodySegments PrepareMelodySegments(std::vector<NoteSegment> segments, uint32_t rate);

// One region per segment up to the next segment's start (the last up to
// |frames|), root = its note; regions of 49 frames or fewer are not made.
// |descending| is set when a region's root is below the previous region's.
std::vector<Region> RegionsFromSegments(const std::vector<NoteSegment>& segments, int64_t frames,
                                        bool* descending);

}  // namespace zandrel
