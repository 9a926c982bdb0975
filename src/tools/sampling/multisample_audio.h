// The multisample robot's sample routines: input gain and level of a captured
// block, the trims and the normalising of one recorded note, its region, and
// the bar overview of the recording so far.
//
// The robot records mono signed 16-bit PCM at 44100 frames per second; every
// routine here works on such samples (one sample = one frame). The trims
// and the normalising change a note's buffer in place. Pure functions, any
// thread; ApplyInputGain and MeasureLevel run on the audio thread and neither
// allocates nor locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "document/instrument.h"

namespace zandrel {

// Magnitude above which a sample counts as sound for the trims.
inline constexpr int kMultisampleSilence = 100;
// The peak a normalised note gets.
inline constexpr int kMultisampleNormalPeak = 32000;
// Bars of the "Sampled Waveform" overview.
inline constexpr int kMultisampleOverviewBars = 200;

// |samples| times |gain|, truncated and clamped to the 16-bit range, into
// |out| (which may be |samples|). A gain of exactly 1.0 copies.
void ApplyInputGain(const int16_t* samples, size_t count, double gain, int16_t* out);
// Input level 0..100: the square root of the peak of the first 2000 samples
// at most, relative to full scale; 0 for an empty block.
int MeasureLevel(const int16_t* samples, size_t count);

// Removes the silence before the first sound, keeping 10 ms before it.
void TrimLeadingSilence(std::vector<int16_t>& samples, uint32_t rate);
// Cuts 50 ms after the last sound, fading linearly from the last loud sample
// towards 0. Sample 0 is never examined: a note with no sound above the
// threshold keeps its first 50 ms, faded.
void TrimTrailingSilence(std::vector<int16_t>& samples, uint32_t rate);
// Scales the note so that its peak becomes 32000, when the peak is 100..31999.
void NormalizePeak(std::vector<int16_t>& samples);

// The region of one note: frames |startFrame|..+|frames|, keys note up to
// the next sampled note (up to 127 for the last note), rooted on the note.
Region MultisampleRegion(int note, int interval, int endNote, int64_t startFrame, int64_t frames);

// Levels 0..100 of |bars| bars over the whole |samples| (each bar the peak of
// its share of the frames); all 0 for no samples.
std::vector<int> OverviewLevels(const int16_t* samples, size_t count, int bars = kMultisampleOverviewBars);

}  // namespace zandrel
