#include "tools/player_model.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "processing/sample_access.h"

namespace zandrel {
namespace {

struct KeyNote {
  int key;
  int note;
};
// 34 keys; no key plays 78.
constexpr std::array<KeyNote, 34> kKeyMap = {{
    {'Z', 48}, {'S', 49}, {'X', 50}, {'D', 51}, {'C', 52}, {'V', 53}, {'G', 54}, {'B', 55}, {'H', 56},
    {'N', 57}, {'J', 58}, {'M', 59}, {'Q', 60}, {',', 60}, {'2', 61}, {'W', 62}, {'.', 62}, {'3', 63},
    {'E', 64}, {'/', 64}, {'R', 65}, {'5', 66}, {'T', 67}, {'6', 68}, {'Y', 69}, {'7', 70}, {'U', 71},
    {'I', 72}, {'9', 73}, {'O', 74}, {'0', 75}, {'P', 76}, {'[', 77}, {']', 79},
}};

const char* const kNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

std::string NameAndOctave(int note) {
  const int semitone = ((note % 12) + 12) % 12;
  const int octave = note / 12 - 1;
  return std::string(kNames[semitone]) + std::to_string(octave);
}

}  // namespace

int PcKeyToMidiNote(int keyCode) {
  for (const KeyNote& k : kKeyMap)
    if (k.key == keyCode) return k.note;
  return -1;
}

std::vector<int> PcKeyCodes() {
  std::vector<int> keys;
  for (const KeyNote& k : kKeyMap) keys.push_back(k.key);
  return keys;
}

std::optional<int> HeldKeys::KeyDown(int keyCode, bool autoRepeat) {
  if (autoRepeat) return std::nullopt;
  const int note = PcKeyToMidiNote(keyCode);
  if (note < 0 || held_.count(note)) return std::nullopt;
  held_.insert(note);
  return note;
}

std::optional<int> HeldKeys::KeyUp(int keyCode) {
  const int note = PcKeyToMidiNote(keyCode);
  if (note < 0) return std::nullopt;
  held_.erase(note);
  return note;
}

std::vector<int> HeldKeys::ReleaseAll() {
  std::vector<int> notes(held_.begin(), held_.end());
  held_.clear();
  return notes;
}

std::string NoteStatusText(int note, int velocity, int regionIndex, int root) {
  std::string text = "Note: " + std::to_string(note) + " (" + NameAndOctave(note) + ") | ";
  if (regionIndex < 0) {
    text += "Region: --- | Root: ---";
  } else {
    text += "Region: " + std::to_string(regionIndex + 1) + " | Root: " + std::to_string(root) + " (" +
            NameAndOctave(root) + ")";
  }
  return text + " | Vel: " + std::to_string(velocity);
}

std::vector<int16_t> RegionWaveform(const CWavLoader& audio, const Region& region) {
  std::vector<int16_t> values;
  const int block = audio.format.nBlockAlign;
  const int bits = audio.format.wBitsPerSample;
  if (audio.data.empty() || block < 1 || region.endSample <= region.startSample || region.startSample < 0)
    return values;
  const int64_t frames = audio.FrameCount();
  const int bytesPerSample = bits / 8;
  for (int64_t f = region.startSample; f < region.endSample; f += 50) {
    if (f >= frames || bytesPerSample > block) break;
    const uint8_t* p = audio.data.data() + static_cast<size_t>(f) * static_cast<size_t>(block);
    int16_t v = 0;
    if (bits == 16) {
      v = static_cast<int16_t>(p[0] | (p[1] << 8));
    } else if (bits == 8) {
      v = static_cast<int16_t>(p[0] * 256 - 32768);
    } else if (bits == 24) {
      v = static_cast<int16_t>(p[1] | (p[2] << 8));
    }
    values.push_back(v);
  }
  return values;
}

std::vector<WaveColumn> WaveformColumns(const std::vector<int16_t>& values, int width) {
  std::vector<WaveColumn> columns;
  if (values.empty()) return columns;
  const size_t c = width < 1 ? 187 : static_cast<size_t>(width);
  const size_t n = values.size();
  if (n <= c) {
    for (int16_t v : values) columns.push_back({v, v});
    return columns;
  }
  const size_t step = std::max<size_t>(1, n / c);
  size_t i = 0;
  for (size_t j = 0; j < c && i < n; ++j, i += step) {
    WaveColumn col{32767, -32768};
    for (size_t k = i; k < std::min(n, i + step); ++k) {
      col.min = std::min(col.min, values[k]);
      col.max = std::max(col.max, values[k]);
    }
    columns.push_back(col);
  }
  return columns;
}

LoopFractions RegionLoopFractions(const Region& region) {
  const int64_t s = region.startSample, e = region.endSample;
  if (e - s >= 1 && 0 <= region.loopStart && region.loopStart < region.loopEnd && s <= region.loopStart &&
      region.loopEnd <= e) {
    const double length = static_cast<double>(e - s);
    return {static_cast<float>((region.loopStart - s) / length), static_cast<float>((region.loopEnd - s) / length)};
  }
  return {};
}

}  // namespace zandrel
