#include "sound_design/tuning_previews.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace zandrel {
namespace {

// Semitones of the pads above C5 in the C major pad layout.
constexpr std::array<int, 8> kPadSemitones = {0, 2, 4, 5, 7, 9, 11, 12};

constexpr size_t kScaleSamples = 246960;  // 2.8 s of stereo
constexpr size_t kScaleSlot = 30870;      // 0.35 s of stereo
constexpr size_t kScaleNoteMax = 26460;   // 0.3 s of stereo
constexpr float kBeatSeconds = 0.25f;
constexpr size_t kEchoDelay = 14112;      // 0.16 s of stereo
constexpr int kMixLimit = 32000;

constexpr FluteParams Flute(float vibratoAmount, float vibratoRate, float growl, float swell, float release,
                            float gain, float harmonics, float darkness, float rollOff, float follow, float air,
                            float formant, float breathBrightness, float breathAttack, float waveguideMix,
                            float waveguideFeedback, float airLoss) {
  FluteParams p;
  p.vibratoAmount = vibratoAmount;
  p.vibratoRate = vibratoRate;
  p.growl = growl;
  p.swell = swell;
  p.release = release;
  p.gain = gain;
  p.harmonics = harmonics;
  p.darkness = darkness;
  p.rollOff = rollOff;
  p.envelopeFollow = follow;
  p.air = air;
  p.formant = formant;
  p.breathBrightness = breathBrightness;
  p.breathAttack = breathAttack;
  p.waveguideMix = waveguideMix;
  p.waveguideFeedback = waveguideFeedback;
  p.airLoss = airLoss;
  return p;
}

constexpr std::array<int32_t, kDemoMelodyNotes> kMelodyDegrees = {
    0, 1, 2,  4, 3,  3,  5, 4, 4, 7,  6, 7, 4, 2, 0,  1, 2,  3, 4, 5,  4, 3, 2, 1,
    2, 0, -1, 0, 1,  -3, -1, 1, 3, 2,  1, 2, 0, 1, 2,  4, 3,  3, 5, 4,  4, 7, 6, 7,
    4, 2, 0,  1, 2,  -2, 4, 3, 2, 1,  0, -3, 0, -1, 0, 2, 4, 7, 4, 2, 0, 2, 4, 2};

struct NoteKey {
  int32_t degree;
  float offset;
  float length;
  int part;  // 0 melody, 1 accompaniment
  bool operator==(const NoteKey& o) const {
    return degree == o.degree && offset == o.offset && length == o.length && part == o.part;
  }
};

uint64_t Fnv1a(const uint8_t* bytes, size_t count) {
  uint64_t hash = 14695981039346656037ull;
  for (size_t i = 0; i < count; ++i) {
    hash ^= bytes[i];
    hash *= 1099511628211ull;
  }
  return hash;
}

// FNV-1a over the degree's bytes XOR FNV-1a over the length's; -0 hashes as
// +0 so that equal keys hash alike.
struct PreviewKeyHash {
  size_t operator()(const NoteKey& key) const {
    uint8_t degree[4], length[4];
    std::memcpy(degree, &key.degree, 4);
    const float l = key.length == 0.0f ? 0.0f : key.length;
    std::memcpy(length, &l, 4);
    return static_cast<size_t>(Fnv1a(degree, 4) ^ Fnv1a(length, 4));
  }
};

int Held(int value) { return std::clamp(value, -kMixLimit, kMixLimit); }

}  // namespace

const FluteParams kScalePreviewFlute =
    Flute(0.1f, 5.0f, 0.2f, 0.2f, 0.4f, 0.5f, 0.8f, 0.7f, 1.0f, 1.0f, 0.6f, 0.7f, 0.5f, 0.8f, 0.7f, 0.98f, 0.2f);
const FluteParams kMelodyPreviewFlute =
    Flute(0.2f, 4.5f, 0.5f, 0.04f, 0.15f, 0.7f, 1.0f, 0.9f, 1.0f, 1.0f, 0.8f, 0.7f, 0.5f, 0.8f, 0.9f, 0.98f, 0.2f);
const FluteParams kAccompanimentPreviewFlute =
    Flute(0.0f, 4.5f, 0.0f, 0.04f, 0.15f, 0.3f, 0.5f, 0.4f, 1.0f, 1.0f, 0.5f, 0.7f, 0.5f, 0.8f, 0.4f, 0.98f, 0.2f);

PreviewNoteRenderer FlutePreviewRenderer(FluteVoiceState& state) {
  return [&state](float frequency, float seconds, const FluteParams& params, std::vector<int16_t>& out) {
    RenderFluteNoteSeconds(state, frequency, seconds, kPreviewRate, kPreviewChannels, params, out);
  };
}

FluteVoiceState NewPreviewFluteState() {
  FluteVoiceState state;
  state.seed = 778899;
  return state;
}

const std::array<DemoNote, kDemoMelodyNotes>& DemoMelody() {
  static const std::array<DemoNote, kDemoMelodyNotes> melody = [] {
    std::array<DemoNote, kDemoMelodyNotes> notes{};
    for (size_t i = 0; i < kDemoMelodyNotes; ++i) {
      notes[i] = {kMelodyDegrees[i], i + 1 == kDemoMelodyNotes ? 6.0f : 1.0f, static_cast<float>(i), 0.0f};
    }
    return notes;
  }();
  return melody;
}

const std::array<DemoNote, kDemoAccompanimentNotes>& DemoAccompaniment() {
  static const std::array<DemoNote, kDemoAccompanimentNotes> accompaniment = {{
      {-14, 3, 0, 0},  {-7, 3, 3, 0},   {-9, 3, 6, 0},   {-12, 3, 9, 0},  {-9, 3, 12, 0},  {-16, 3, 15, 0},
      {-13, 3, 18, 0}, {-12, 3, 21, 0}, {-11, 3, 24, 0}, {-10, 3, 27, 0}, {-8, 3, 30, 0},  {-10, 3, 33, 0},
      {-7, 3, 36, 0},  {-9, 3, 39, 0},  {-11, 3, 42, 0}, {-12, 3, 45, 0}, {-9, 3, 48, 0},  {-10, 3, 51, 0},
      {-11, 3, 54, 0}, {-11, 3, 57, 1}, {-10, 3, 60, 0}, {-14, 6, 63, 0}, {-10, 3, 69, 0}, {-14, 3, 72, 0},
  }};
  return accompaniment;
}

float DemoDegreeNote(int32_t degree, const std::array<float, 8>& padCents) {
  // Pad and octave floor toward minus infinity: degree -1 is pad B one
  // octave down, not pad C.
  const int32_t octave = degree >= 0 ? degree / 7 : -((-degree + 6) / 7);
  const int32_t pad = degree - 7 * octave;
  return static_cast<float>(72 + 12 * octave + kPadSemitones[pad]) + padCents[pad] / 100.0f;
}

std::vector<int16_t> RenderScalePreview(const std::array<float, 8>& padCents, const PreviewNoteRenderer& render) {
  std::vector<int16_t> buffer(kScaleSamples, 0);
  std::vector<int16_t> note;
  for (size_t i = 0; i < 8; ++i) {
    const float f = 440.0f * std::exp2((padCents[i] / 100.0f + static_cast<float>(kPadSemitones[i]) + 3.0f) / 12.0f);
    note.clear();
    render(f, 0.3f, kScalePreviewFlute, note);
    const size_t count = std::min(note.size(), kScaleNoteMax);
    std::copy_n(note.begin(), count, buffer.begin() + static_cast<ptrdiff_t>(i * kScaleSlot));
  }
  return buffer;
}

std::vector<int16_t> RenderScalePreview(const std::array<float, 8>& padCents) {
  FluteVoiceState state = NewPreviewFluteState();
  return RenderScalePreview(padCents, FlutePreviewRenderer(state));
}

std::vector<int16_t> RenderDemoPreview(const std::array<float, 8>& padCents, const PreviewNoteRenderer& render) {
  const auto& melody = DemoMelody();
  const auto& accompaniment = DemoAccompaniment();
  const float beats = std::max(melody.back().startBeat + melody.back().lengthBeats,
                               accompaniment.back().startBeat + accompaniment.back().lengthBeats);
  const auto samples =
      static_cast<size_t>((beats * kBeatSeconds + 1.5f) * static_cast<float>(kPreviewRate * kPreviewChannels));
  std::vector<int16_t> buffer(samples, 0);

  std::unordered_map<NoteKey, std::vector<int16_t>, PreviewKeyHash> cache;
  const auto play = [&](const DemoNote& event, int part, const FluteParams& params, float scale) {
    const NoteKey key{event.scaleDegree, event.semitoneOffset, event.lengthBeats, part};
    auto found = cache.find(key);
    if (found == cache.end()) {
      float f = 440.0f * std::exp2((DemoDegreeNote(event.scaleDegree, padCents) - 69.0f) / 12.0f);
      if (event.semitoneOffset != 0) f *= std::exp2(event.semitoneOffset / 12.0f);
      std::vector<int16_t> note;
      render(f, 1.05f * event.lengthBeats * kBeatSeconds, params, note);
      found = cache.emplace(key, std::move(note)).first;
    }
    const std::vector<int16_t>& note = found->second;
    auto start = static_cast<size_t>(event.startBeat * kBeatSeconds * static_cast<float>(kPreviewRate * kPreviewChannels));
    start &= ~size_t{1};  // a whole stereo frame
    for (size_t j = 0; j < note.size() && start + j < buffer.size(); ++j) {
      const int added = static_cast<int>(scale * static_cast<float>(note[j]));
      buffer[start + j] = static_cast<int16_t>(Held(buffer[start + j] + added));
    }
  };
  for (const DemoNote& event : melody) play(event, 0, kMelodyPreviewFlute, 0.9f);
  for (const DemoNote& event : accompaniment) play(event, 1, kAccompanimentPreviewFlute, 0.75f);

  // In place, so echoes of echoes follow.
  for (size_t i = kEchoDelay; i < buffer.size(); ++i) {
    const int echo = static_cast<int>(0.35f * static_cast<float>(buffer[i - kEchoDelay]));
    buffer[i] = static_cast<int16_t>(Held(buffer[i] + echo));
  }
  return buffer;
}

std::vector<int16_t> RenderDemoPreview(const std::array<float, 8>& padCents) {
  FluteVoiceState state = NewPreviewFluteState();
  return RenderDemoPreview(padCents, FlutePreviewRenderer(state));
}

}  // namespace zandrel
