// The audible previews of a tuning: the eight pads played as a rising flute
// scale, and a fixed demo melody with a bass accompaniment whose notes come
// from the tuned pads. Both are synthesised offline into one interleaved
// stereo 16-bit buffer at 44100 Hz, to be played once.
//
// A tuning is the eight cents of its pads (C, D, E, F, G, A, B, C' of the
// C major pad layout: 0, 2, 4, 5, 7, 9, 11, 12 semitones above C5). Notes
// are rendered through a PreviewNoteRenderer, so tests can record what is
// asked; the previews use the flute engine by default. Renders run on the
// user-interface thread and allocate.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "sound_design/modelled_engines.h"

namespace zandrel {

inline constexpr uint32_t kPreviewRate = 44100;
inline constexpr uint16_t kPreviewChannels = 2;

// One note of a preview: |frequency| Hz for |seconds| with |params|, into
// |out| as interleaved stereo 16-bit at kPreviewRate (empty for silence).
using PreviewNoteRenderer =
    std::function<void(float frequency, float seconds, const FluteParams& params, std::vector<int16_t>& out)>;

// The flute engine on |state| (which must outlive the renderer; its filter
// states carry from note to note).
PreviewNoteRenderer FlutePreviewRenderer(FluteVoiceState& state);

// A flute state as a preview owner builds it: seed 778899.
FluteVoiceState NewPreviewFluteState();

// The flute sets of the previews.
extern const FluteParams kScalePreviewFlute;
extern const FluteParams kMelodyPreviewFlute;
extern const FluteParams kAccompanimentPreviewFlute;

// One event of the demo. A beat lasts 0.25 s.
struct DemoNote {
  int32_t scaleDegree;  // pad degree % 7 (toward minus infinity) in octave floor(degree / 7) from C5
  float lengthBeats;
  float startBeat;
  float semitoneOffset;
};

inline constexpr size_t kDemoMelodyNotes = 72;
inline constexpr size_t kDemoAccompanimentNotes = 24;
const std::array<DemoNote, kDemoMelodyNotes>& DemoMelody();
const std::array<DemoNote, kDemoAccompanimentNotes>& DemoAccompaniment();

// The MIDI note (with cents as a fraction) of a scale degree of a tuning:
// 72 + 12 x floor(d / 7) + pad semitones + pad cents / 100.
float DemoDegreeNote(int32_t degree, const std::array<float, 8>& padCents);

// The scale: 246960 samples (2.8 s); pad i's 0.3 s note at 440 x 2^((cents /
// 100 + semitones + 3) / 12) Hz from sample i x 30870, at most 26460 samples.
std::vector<int16_t> RenderScalePreview(const std::array<float, 8>& padCents, const PreviewNoteRenderer& render);
std::vector<int16_t> RenderScalePreview(const std::array<float, 8>& padCents);

// The demo melody and accompaniment, mixed (melody x 0.9, accompaniment x
// 0.75, sums held to +-32000) with an echo of 0.16 s at 0.35 that feeds
// itself: (77 beats x 0.25 + 1.5) s, 1830150 samples. Each distinct note
// (degree, offset, length, part) is rendered once.
std::vector<int16_t> RenderDemoPreview(const std::array<float, 8>& padCents, const PreviewNoteRenderer& render);
std::vector<int16_t> RenderDemoPreview(const std::array<float, 8>& padCents);

}  // namespace zandrel
