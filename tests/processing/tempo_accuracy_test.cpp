// How often the tempo analyses are right, over a set of generated click
// tracks and drum loops (straight and syncopated, 70 to 180 BPM, offset
// starts, a -60 dB noise floor, 10 to 30 s): Find Beats' tempo and markers,
// and the tempo from volume transients. aubio's tempo tracker runs on the
// same set as a peer, and both scores are printed side by side; only ours
// are asserted.
#include <aubio/aubio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "processing/beat_tracker.h"
#include "processing/sample_access.h"
#include "processing/tempo.h"

namespace zandrel {
namespace {

constexpr uint32_t kRate = 44100;

enum class Pattern { kClicks, kRock, kFourOnTheFloor, kFunk, kBreak };

const char* PatternName(Pattern p) {
  switch (p) {
    case Pattern::kClicks:
      return "clicks";
    case Pattern::kRock:
      return "rock";
    case Pattern::kFourOnTheFloor:
      return "four";
    case Pattern::kFunk:
      return "funk";
    case Pattern::kBreak:
      return "break";
  }
  return "";
}

struct Signal {
  double bpm;
  double seconds;
  double firstBeat;  // seconds; the true beats are firstBeat + k * 60 / bpm
  Pattern pattern;
  bool noiseFloor;  // -60 dBFS white noise under the whole signal
  std::vector<float> mono;
};

// One bar of sixteenth steps per instrument: the level of each step (0 = no
// hit). The hats sit 12 to 20 dB under the kick and snare, as in a mix.
struct Bar {
  float kick[16] = {};
  float snare[16] = {};
  float hat[16] = {};
  float click[16] = {};
};

Bar BarOf(Pattern p) {
  Bar b;
  switch (p) {
    case Pattern::kClicks:
      for (int s = 0; s < 16; s += 4) b.click[s] = s == 0 ? 0.8f : 0.6f;
      break;
    case Pattern::kRock:  // kick on 1 and 3 (and the "and" of 3), snare on 2 and 4, eighth hats
      b.kick[0] = b.kick[8] = 0.9f;
      b.kick[10] = 0.7f;
      b.snare[4] = b.snare[12] = 0.8f;
      for (int s = 0; s < 16; s += 2) b.hat[s] = s % 4 == 0 ? 0.15f : 0.1f;
      break;
    case Pattern::kFourOnTheFloor:  // kick on every beat, clap on 2 and 4, open hats off the beat
      for (int s = 0; s < 16; s += 4) b.kick[s] = 0.9f;
      b.snare[4] = b.snare[12] = 0.6f;
      for (int s = 2; s < 16; s += 4) b.hat[s] = 0.2f;
      break;
    case Pattern::kFunk:  // syncopated kick, ghost snares, sixteenth hats accented on the eighths
      b.kick[0] = 0.9f;
      b.kick[3] = 0.6f;
      b.kick[6] = 0.7f;
      b.kick[10] = 0.8f;
      b.snare[4] = b.snare[12] = 0.8f;
      b.snare[7] = b.snare[9] = 0.15f;
      for (int s = 0; s < 16; ++s) b.hat[s] = s % 2 == 0 ? 0.15f : 0.08f;
      break;
    case Pattern::kBreak:  // a break: kick on 1, the "and" of 2 and 3, snare on 2, the "e" of 3 and 4
      b.kick[0] = 0.9f;
      b.kick[6] = 0.7f;
      b.kick[10] = 0.8f;
      b.snare[4] = b.snare[12] = 0.8f;
      b.snare[9] = 0.5f;
      for (int s = 0; s < 16; s += 2) b.hat[s] = 0.12f;
      b.hat[14] = 0.2f;
      break;
  }
  return b;
}

// Adds one hit starting at frame |at|: each drum a decaying sine, noise or
// both (decays as per-sample factors, the sines as rotating phasors).
void AddHit(std::vector<float>& out, size_t at, int drum, float level, std::mt19937& rng) {
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  const double seconds[] = {0.6, 0.4, 0.15, 0.01};  // about five decay times
  const auto length = static_cast<size_t>(seconds[drum] * kRate);
  auto factor = [](double timeConstant) { return std::exp(-1.0 / (timeConstant * kRate)); };
  const double kickDecay = factor(0.12), sweepDecay = factor(0.03), snareBody = factor(0.05),
               snareNoise = factor(0.07), hatDecay = factor(0.025), clickDecay = factor(0.002);
  const double turn = 2.0 * std::numbers::pi * 190.0 / kRate;
  const double bodyCos = std::cos(turn), bodySin = std::sin(turn);
  double env = 1.0, env2 = 1.0, sweep = 1.0, phase = 0.0, re = 1.0, im = 0.0;
  float previousNoise = 0.0f;
  for (size_t i = 0; i < length && at + i < out.size(); ++i) {
    double v = 0.0;
    switch (drum) {
      case 0:  // kick: a sine falling from 150 to 50 Hz
        phase += 2.0 * std::numbers::pi * (50.0 + 100.0 * sweep) / kRate;
        v = env * std::sin(phase);
        env *= kickDecay;
        sweep *= sweepDecay;
        break;
      case 1: {  // snare: a 190 Hz body under a burst of noise
        v = 0.5 * env * im + 0.6 * env2 * noise(rng);
        const double r = re * bodyCos - im * bodySin;
        im = re * bodySin + im * bodyCos;
        re = r;
        env *= snareBody;
        env2 *= snareNoise;
        break;
      }
      case 2: {  // hat: differenced (high-passed) noise, short
        const float n = noise(rng);
        v = env * 0.7 * (n - previousNoise);
        previousNoise = n;
        env *= hatDecay;
        break;
      }
      default:  // click: 10 ms of decaying noise
        v = env * noise(rng);
        env *= clickDecay;
        break;
    }
    out[at + i] += static_cast<float>(level * v);
  }
}

Signal Render(double bpm, double seconds, double firstBeat, Pattern pattern, bool noiseFloor, unsigned seed) {
  Signal s{bpm, seconds, firstBeat, pattern, noiseFloor, {}};
  s.mono.assign(static_cast<size_t>(seconds * kRate), 0.0f);
  std::mt19937 rng(seed);
  const Bar bar = BarOf(pattern);
  const double sixteenth = 60.0 / bpm / 4.0;
  for (int step = 0;; ++step) {
    const double t = firstBeat + step * sixteenth;
    if (t >= seconds) break;
    const auto at = static_cast<size_t>(std::lround(t * kRate));
    const int k = step % 16;
    if (bar.kick[k] > 0) AddHit(s.mono, at, 0, bar.kick[k], rng);
    if (bar.snare[k] > 0) AddHit(s.mono, at, 1, bar.snare[k], rng);
    if (bar.hat[k] > 0) AddHit(s.mono, at, 2, bar.hat[k], rng);
    if (bar.click[k] > 0) AddHit(s.mono, at, 3, bar.click[k], rng);
  }
  if (noiseFloor) {
    std::normal_distribution<float> floorNoise(0.0f, 0.001f);  // RMS 0.001 = -60 dBFS
    for (float& v : s.mono) v += floorNoise(rng);
  }
  return s;
}

// The set: twelve tempi from 70 to 180 BPM, four signals each, the pattern,
// length, start and noise floor varying from signal to signal.
std::vector<Signal> SignalSet() {
  const double tempi[] = {70, 84, 90, 97, 108, 120, 128, 135, 140, 150, 174, 180};
  const double starts[] = {0.0, 0.37, 1.3, 0.05};
  std::vector<Signal> set;
  unsigned seed = 1;
  for (size_t t = 0; t < std::size(tempi); ++t) {
    for (size_t v = 0; v < 4; ++v) {
      const auto pattern = static_cast<Pattern>((t + v) % 5);
      const double seconds = 10.0 + static_cast<double>((t * 7 + v * 5) % 21);
      set.push_back(Render(tempi[t], seconds, starts[(t + v) % 4], pattern, (t + v) % 2 == 1, seed++));
    }
  }
  return set;
}

std::vector<uint8_t> Pcm16(const std::vector<float>& mono) {
  std::vector<uint8_t> out(mono.size() * 2);
  for (size_t i = 0; i < mono.size(); ++i) {
    const auto v = static_cast<int16_t>(std::lround(std::clamp(mono[i], -1.0f, 1.0f) * 32767.0f));
    out[2 * i] = static_cast<uint8_t>(v);
    out[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
  }
  return out;
}

// Mean distance in frames from each marker to the nearest true beat (the
// beat grid continued over the whole signal, silent start included).
double MeanMarkerError(const Signal& s, const std::vector<int64_t>& markers) {
  if (markers.empty()) return INFINITY;
  const double period = 60.0 / s.bpm * kRate;
  const double first = s.firstBeat * kRate;
  double sum = 0.0;
  for (int64_t m : markers) {
    const double k = std::round((static_cast<double>(m) - first) / period);
    sum += std::fabs(static_cast<double>(m) - (first + k * period));
  }
  return sum / static_cast<double>(markers.size());
}

bool WithinOneBpm(double found, double truth) { return std::fabs(found - truth) <= 1.0; }
bool WithinOneBpmOrOctave(double found, double truth) {
  return WithinOneBpm(found, truth) || WithinOneBpm(found, 2.0 * truth) || WithinOneBpm(found, 0.5 * truth);
}

struct Result {
  double bpm = 0.0;
  double markerError = INFINITY;
};

// Find Beats: the grid's frames and the median BPM of its intervals.
Result OurBeats(const Signal& s) {
  BeatDetector detector;
  const std::vector<double> beats = DetectBeats(detector, Pcm16(s.mono), 1, kRate, 16, 1);
  std::vector<int64_t> markers;
  for (double t : beats) markers.push_back(static_cast<int64_t>(t * kRate));
  return {MedianBeatBpm(beats), MeanMarkerError(s, markers)};
}

// aubio's tempo tracking with the same window and hop: its beats and its
// final tempo.
Result AubioBeats(const Signal& s) {
  constexpr uint32_t kHop = 512;
  aubio_tempo_t* tempo = new_aubio_tempo("default", 1024, kHop, kRate);
  fvec_t* in = new_fvec(kHop);
  fvec_t* out = new_fvec(2);
  std::vector<float> signal = s.mono;
  signal.resize(signal.size() + 2 * kRate, 0.0f);
  std::vector<int64_t> markers;
  for (size_t p = 0; p + kHop <= signal.size(); p += kHop) {
    std::copy_n(signal.data() + p, kHop, in->data);
    aubio_tempo_do(tempo, in, out);
    if (out->data[0] != 0.0f) {
      const auto at = static_cast<int64_t>(aubio_tempo_get_last(tempo));
      if (at <= static_cast<int64_t>(s.mono.size())) markers.push_back(at);
    }
  }
  Result r{aubio_tempo_get_bpm(tempo), MeanMarkerError(s, markers)};
  del_fvec(in);
  del_fvec(out);
  del_aubio_tempo(tempo);
  return r;
}

double Share(int count, size_t of) { return static_cast<double>(count) / static_cast<double>(of); }

TEST(TempoAccuracyTest, FindBeatsAndTransientTempoAreRightOnMostLoopsAndClickTracks) {
  const std::vector<Signal> set = SignalSet();
  ASSERT_GE(set.size(), 40u);
  int tempoHits = 0, octaveHits = 0, markerHits = 0, transientHits = 0;
  int aubioTempoHits = 0, aubioOctaveHits = 0, aubioMarkerHits = 0;
  std::printf("%-7s %5s %4s %5s %5s | %8s %8s %8s | %8s %8s\n", "pattern", "bpm", "s", "start", "noise", "beats",
              "markers", "transnt", "aubio", "markers");
  for (const Signal& s : set) {
    const Result ours = OurBeats(s);
    const Result aubio = AubioBeats(s);
    const std::vector<uint8_t> pcm = Pcm16(s.mono);
    PcmSpan span;
    span.bytes = pcm;
    span.channels = 1;
    span.sampleRate = kRate;
    span.blockAlign = 2;
    span.bitsPerSample = 16;
    const TransientTempo transients = BpmFromTransients(span, 0, static_cast<int64_t>(s.mono.size()));

    tempoHits += WithinOneBpm(ours.bpm, s.bpm);
    octaveHits += WithinOneBpmOrOctave(ours.bpm, s.bpm);
    markerHits += ours.markerError < 1000.0;
    transientHits += transients.outcome == TransientTempo::Outcome::kFound && WithinOneBpm(transients.bpm, s.bpm);
    aubioTempoHits += WithinOneBpm(aubio.bpm, s.bpm);
    aubioOctaveHits += WithinOneBpmOrOctave(aubio.bpm, s.bpm);
    aubioMarkerHits += aubio.markerError < 1000.0;
    std::printf("%-7s %5.0f %4.0f %5.2f %5s | %8.2f %8.0f %8.2f | %8.2f %8.0f\n", PatternName(s.pattern), s.bpm,
                s.seconds, s.firstBeat, s.noiseFloor ? "yes" : "no", ours.bpm, ours.markerError, transients.bpm,
                aubio.bpm, aubio.markerError);
  }
  const size_t n = set.size();
  std::printf("%zu signals           %12s %12s\n", n, "ours", "aubio");
  std::printf("tempo within 1 BPM     %12d %12d\n", tempoHits, aubioTempoHits);
  std::printf("  or double or half    %12d %12d\n", octaveHits, aubioOctaveHits);
  std::printf("markers within 1000    %12d %12d\n", markerHits, aubioMarkerHits);
  std::printf("transients within 1    %12d %12s\n", transientHits, "-");

  EXPECT_GE(Share(tempoHits, n), 0.80);
  EXPECT_GE(Share(octaveHits, n), 0.90);
  EXPECT_GE(Share(markerHits, n), 0.75);
  EXPECT_GE(Share(transientHits, n), 0.90);
}

}  // namespace
}  // namespace zandrel
