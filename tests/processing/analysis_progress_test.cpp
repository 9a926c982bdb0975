// The chop, tempo and beat analyses as long work: each reports its progress
// as it goes without changing its result, and stops at the report that is
// answered with stop, returning nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "platform/work_progress.h"
#include "processing/auto_chop.h"
#include "processing/beat_tracker.h"
#include "processing/pitch.h"
#include "processing/tempo.h"
#include "support/generated_audio.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

// Records every report; answers stop from the first report at or past
// |stopAt| on.
struct Watcher {
  explicit Watcher(double stop = 2.0) : stopAt(stop) {}
  WorkProgress Progress() {
    return [this](double fraction) {
      seen.push_back(fraction);
      if (stoppedAfter == 0 && fraction >= stopAt) stoppedAfter = seen.size();
      return stoppedAfter == 0;
    };
  }
  double stopAt;
  std::vector<double> seen;
  size_t stoppedAfter = 0;  // reports seen when it said stop; 0 = never
};

// Twenty seconds of mono 16-bit at 44100 Hz: a note of the C major scale
// every half second over a drum hit on every beat at 120 BPM, so that every
// analysis finds something.
const std::vector<uint8_t>& Song() {
  static const std::vector<uint8_t> pcm = [] {
    const auto hits = DrumHits(HitTimes(40, 0.5), 0.5);
    const auto tune = Melody({60, 62, 64, 65, 67, 69, 71, 72}, 0.5);
    return Pcm16(RenderMono(20 * 44100, 44100, [&](double t) {
      const double looped = std::fmod(t, 4.0);
      return hits(t) + 0.6 * tune(looped);
    }));
  }();
  return pcm;
}

PcmSpan SongSpan() {
  PcmSpan s;
  s.bytes = Song();
  s.channels = 1;
  s.sampleRate = 44100;
  s.blockAlign = 2;
  s.bitsPerSample = 16;
  return s;
}

// The result of one analysis as numbers; nullopt for the result of a stopped
// run (an empty list, a cancelled outcome).
using Result = std::optional<std::vector<double>>;

template <class T>
Result Numbers(const std::vector<T>& values) {
  if (values.empty()) return std::nullopt;
  return std::vector<double>(values.begin(), values.end());
}

struct Case {
  std::string name;
  std::function<Result(const WorkProgress&)> run;
};

std::vector<Case> Cases() {
  return {
      {"BlockLevels",
       [](const WorkProgress& p) { return Numbers(BlockLevels(SongSpan(), 0, 20 * 44100, 220, p)); }},
      {"TransientOnsets", [](const WorkProgress& p) { return Numbers(TransientOnsets(SongSpan(), 1.9f, 200, {}, p)); }},
      {"BpmFromTransients",
       [](const WorkProgress& p) -> Result {
         const TransientTempo t = BpmFromTransients(SongSpan(), 0, 20 * 44100, p);
         if (t.outcome == TransientTempo::Outcome::kCancelled) return std::nullopt;
         std::vector<double> n = {static_cast<double>(t.outcome), static_cast<double>(t.histogramBpm), t.bpm,
                                  static_cast<double>(t.beats)};
         n.insert(n.end(), t.peaks.begin(), t.peaks.end());
         return n;
       }},
      {"DetectNoteSegments",
       [](const WorkProgress& p) -> Result {
         std::vector<double> n;
         for (const NoteSegment& s : DetectNoteSegments(SongSpan(), 0, p)) {
           n.insert(n.end(), {static_cast<double>(s.note), static_cast<double>(s.start), static_cast<double>(s.end)});
         }
         return Numbers(n);
       }},
      {"PcmToMonoFloat", [](const WorkProgress& p) { return Numbers(PcmToMonoFloat(Song(), 1, 16, p)); }},
      {"TrackBeats",
       [](const WorkProgress& p) {
         static const FloatVec mono = PcmToMonoFloat(Song(), 1, 16);
         BeatDetector detector;
         return Numbers(TrackBeats(mono, 44100, detector, 0, p));
       }},
      {"FitBeatGrid",
       [](const WorkProgress& p) {
         // Ten minutes of beats half a second apart, a few milliseconds early
         // or late.
         std::vector<double> times;
         for (int i = 0; i < 1200; ++i) times.push_back(0.2 + 0.5 * i + 0.004 * std::sin(i * 1.7));
         return Numbers(FitBeatGrid(times, 600.0, p));
       }},
      {"DetectBeats",
       [](const WorkProgress& p) {
         BeatDetector detector;
         return Numbers(DetectBeats(detector, Song(), 1, 44100, 16, 0, p));
       }},
      {"FitPcmLength",
       [](const WorkProgress& p) -> Result {
         const std::optional<std::vector<uint8_t>> out = FitPcmLength(Song(), Song().size() * 3 / 2, p);
         if (!out) return std::nullopt;
         return std::vector<double>{static_cast<double>(out->size()),
                                    static_cast<double>(std::accumulate(out->begin(), out->end(), uint64_t{0}))};
       }},
  };
}

TEST(AnalysisProgressTest, ReportsAsItGoesAndGivesTheSameResult) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    const Result unwatched = c.run({});
    ASSERT_TRUE(unwatched.has_value()) << "the fixture gives this analysis nothing to find";
    Watcher watcher;
    EXPECT_EQ(c.run(watcher.Progress()), unwatched);

    // Not only at the start and the end: the bar moves in steps.
    const std::vector<double>& seen = watcher.seen;
    ASSERT_GE(seen.size(), 4u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GE(seen.front(), 0.0);
    EXPECT_LE(seen.back(), 1.0);
    double step = seen.front();
    for (size_t i = 1; i < seen.size(); ++i) step = std::max(step, seen[i] - seen[i - 1]);
    step = std::max(step, 1.0 - seen.back());
    EXPECT_LE(step, 0.3);
  }
}

TEST(AnalysisProgressTest, StopsAtTheReportAnsweredWithStop) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    Watcher watcher(0.5);
    EXPECT_EQ(c.run(watcher.Progress()), std::nullopt);
    ASSERT_GT(watcher.stoppedAfter, 0u) << "no report reached half way";
    EXPECT_EQ(watcher.seen.size(), watcher.stoppedAfter) << "went on after the stop";
  }
}

}  // namespace
}  // namespace zandrel
