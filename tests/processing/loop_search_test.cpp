// The loop-point search engines on generated signals: their texts, their
// fall-backs, the loops they find on periodic material, and the optimised
// slow engine against its literal transcription.
#include "processing/loop_search.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <limits>

#include "processing/loop_fixtures.h"

namespace zandrel::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

LoopSource Whole(const Pcm16Audio& a) {
  return LoopSource::Copy(a.Span(), LoopSearchRange{0, a.Frames(), -1});
}

TEST(LoopSearchRangeTest, RegionsAreCheckedAndARegionPastTheEndIsEmpty) {
  const std::vector<Region> regions = {{.startSample = 100, .endSample = 900},
                                       {.startSample = 500, .endSample = 500},
                                       {.startSample = 1000, .endSample = 4000},
                                       {.startSample = 600, .endSample = 5000}};
  EXPECT_EQ(LoopSearchRangeFor(1000, regions, 4).error, "Invalid region index specified.");
  EXPECT_EQ(LoopSearchRangeFor(1000, regions, 1).error, "Invalid region boundaries.");
  const auto r0 = LoopSearchRangeFor(1000, regions, 0);
  ASSERT_TRUE(r0.range);
  EXPECT_EQ(r0.range->start, 100);
  EXPECT_EQ(r0.range->end, 900);
  // Start at the frame count: an empty range, never a negative length.
  const auto r2 = LoopSearchRangeFor(1000, regions, 2);
  ASSERT_TRUE(r2.range);
  EXPECT_EQ(r2.range->end - r2.range->start, 0);
  EXPECT_EQ(LoopSearchRangeFor(1000, regions, 3).range->end, 1000);
  EXPECT_EQ(LoopSearchRangeFor(1000, regions, -1).range->end, 1000);
}

TEST(LoopSearchTest, ARegionPastTheEndIsTooSmallForBothEngines) {
  const Pcm16Audio a = Sine(1.0, 8000, 100);
  const std::vector<Region> regions = {{.startSample = 9000, .endSample = 20000}};
  const LoopSource s = LoopSource::Copy(a.Span(), *LoopSearchRangeFor(a.Frames(), regions, 0).range);
  for (const LoopSearchResult& r : {findLoopSlow(s), findLoopSlowReference(s), findLoopPyramid(s)}) {
    EXPECT_FALSE(r.found);
    EXPECT_THAT(r.message, StartsWith("Searching within region 0\n\nSearch region too small for automatic loop "
                                      "finding.\nRegion length: 0 samples (0.00 seconds)\n"));
  }
}

TEST(LoopSearchTest, SlowEngineRefusesARangeShorterThanItsMinimum) {
  const Pcm16Audio a = Sine(0.7, 44100, 441);
  ASSERT_EQ(a.Frames(), 30870);
  const LoopSearchResult r = findLoopSlow(Whole(a));
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.message,
            "Searching entire audio file\n\nSearch region too small for automatic loop finding.\n"
            "Region length: 30870 samples (0.70 seconds)\nMinimum required: 44100 samples (1.00 seconds)");
}

TEST(LoopSearchTest, SilenceHasNoCandidateForTheSlowEngineAndTheCentreForThePyramid) {
  Pcm16Audio a;
  a.rate = 8000;
  a.samples.assign(16000, 0);
  a.Pack();
  const LoopSearchResult slow = findLoopSlow(Whole(a));
  EXPECT_FALSE(slow.found);
  EXPECT_EQ(slow.message,
            "Searching entire audio file\n\nCould not find suitable loop regions.\nSearch range: [0 - 16000]\n"
            "Try adjusting the search parameters or selecting a different region.");
  const LoopSearchResult pyramid = findLoopPyramid(Whole(a));
  ASSERT_TRUE(pyramid.found);
  EXPECT_EQ(pyramid.loopIn, 4000);
  EXPECT_EQ(pyramid.loopOut, 12000);
  ASSERT_FALSE(pyramid.log.empty());
  EXPECT_THAT(pyramid.log.back(), StartsWith("Loop Detection (Searching entire WAV): Start 4000, End 12000, Len 1.00s"));
  EXPECT_THAT(pyramid.log.back(), HasSubstr("\n(Warning: Auto-loop weak. Defaulted to center 50%)"));
}

TEST(LoopSearchTest, AnEarlyDecayMovesTheSearchEndBackButNotTooFar) {
  // Loud until 21% of the file, then a tenth of that.
  const Pcm16Audio a = Generate(4.0, 8000, 1, [](int64_t i, int) {
    const double t = i / 8000.0;
    return (t < 0.84 ? 0.8 : 0.08) * std::sin(2 * M_PI * 200 * t);
  });
  const LoopSearchResult slow = findLoopSlow(Whole(a));
  EXPECT_THAT(slow.log, Contains("Decay detected: search range adjusted to 60.0% (was 90.0%), threshold: 70.0%"));
  const LoopSearchResult pyramid = findLoopPyramid(Whole(a));
  EXPECT_THAT(pyramid.log, Contains("Pyramid: Decay detected, search adjusted to 50.0%"));
  // A steady tone has no decay.
  const LoopSearchResult steady = findLoopSlow(Whole(Sine(4.0, 8000, 200)));
  for (const std::string& line : steady.log) EXPECT_THAT(line, Not(HasSubstr("Decay")));
}

TEST(LoopSearchTest, OnAPeriodicSignalEveryEngineLoopsWholePeriods) {
  // 200 Hz at 8000 Hz: 40 frames a period.
  const Pcm16Audio a = Sine(3.0, 8000, 200);
  const LoopSource s = Whole(a);
  NccInput ncc = NccInputFrom(a.Span(), 0, a.Frames(), 0, a.Frames());
  for (const LoopSearchResult& r : {findLoopSlow(s), findLoopPyramid(s), findLoopNcc(ncc)}) {
    ASSERT_TRUE(r.found) << r.message;
    EXPECT_EQ((r.loopOut - r.loopIn) % 40, 0) << r.loopIn << " " << r.loopOut;
    EXPECT_GT(r.loopOut - r.loopIn, 40);
    // The seam: the frame after the loop end continues as the loop start does.
    EXPECT_LE(std::abs(a.At(r.loopOut) - a.At(r.loopIn)), 2);
  }
  const LoopSearchResult slow = findLoopSlow(s);
  ASSERT_EQ(slow.log.size(), 1u);
  EXPECT_THAT(slow.log[0], StartsWith("Entire audio file: Possible Loop Found!: Loop Start: Sample "));
  EXPECT_THAT(slow.log[0], HasSubstr("samples): - Boundary Match (RMS): 0.0000, - Energy Consistency: "));
  EXPECT_THAT(slow.log[0], HasSubstr("(lower is better)"));
}

TEST(LoopSearchTest, RegionSearchesStayInsideTheRegionAndNameIt) {
  const Pcm16Audio a = Sine(4.0, 8000, 200);
  const std::vector<Region> regions = {{.startSample = 8000, .endSample = 28000}};
  const LoopSource s = LoopSource::Copy(a.Span(), *LoopSearchRangeFor(a.Frames(), regions, 0).range);
  const LoopSearchResult slow = findLoopSlow(s);
  ASSERT_TRUE(slow.found);
  EXPECT_GE(slow.loopIn, 8000);
  EXPECT_LE(slow.loopOut, 28000);
  EXPECT_THAT(slow.log.back(), StartsWith("Searching within region 0: Possible Loop Found!"));
  const LoopSearchResult pyramid = findLoopPyramid(s);
  ASSERT_TRUE(pyramid.found);
  EXPECT_GE(pyramid.loopIn, 8000);
  EXPECT_LE(pyramid.loopOut, 28000);
  EXPECT_THAT(pyramid.log.back(), StartsWith("Loop Detection (Searching within region 0): "));
}

// The optimised slow engine (cached energies, pruned sums, threads) against
// the literal search, on material where the candidates differ a lot.
TEST(LoopSearchTest, TheSlowEngineGivesExactlyTheLiteralSearchesLoop) {
  struct Case {
    const char* name;
    Pcm16Audio audio;
  };
  const Case cases[] = {
      {"decaying sine", DecayingSine(3.0, 11025, 331, 1.5, 0.3)},
      {"sine with early decay", DecayingSine(3.0, 11025, 147, 0.4, 0.1)},
      {"noise bursts", NoiseBursts(3.0, 11025)},
      {"instrument tone", InstrumentTone(3.0, 11025)},
      {"stereo instrument tone", InstrumentTone(2.5, 11025, 2)},
      {"long instrument tone", InstrumentTone(5.0, 22050)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LoopSource s = Whole(c.audio);
    const LoopSearchResult oracle = findLoopSlowReference(s);
    ASSERT_TRUE(oracle.found) << oracle.message;
    for (unsigned threads : {1u, 3u, 0u}) {
      const LoopSearchResult r = findLoopSlow(s, {}, threads);
      EXPECT_EQ(r.loopIn, oracle.loopIn) << threads;
      EXPECT_EQ(r.loopOut, oracle.loopOut) << threads;
      EXPECT_EQ(r.log, oracle.log) << threads;
    }
  }
}

TEST(LoopSearchTest, CancelStopsEveryLongEngine) {
  const Pcm16Audio a = InstrumentTone(3.0, 11025);
  const LoopSource s = Whole(a);
  std::atomic<int> calls{0};
  const LoopProgress stop = [&](double) {
    ++calls;
    return false;
  };
  EXPECT_TRUE(findLoopSlow(s, stop).cancelled);
  EXPECT_TRUE(findLoopPyramid(s, stop).cancelled);
  EXPECT_TRUE(findLoopNcc(NccInputFrom(a.Span(), 0, a.Frames(), 0, a.Frames()), stop).cancelled);
  EXPECT_GE(calls.load(), 3);
  // Progress rises to 1 when nobody stops.
  double last = 0;
  bool rising = true;
  findLoopPyramid(s, [&](double f) {
    rising = rising && f >= last;
    last = f;
    return true;
  }, 1);
  EXPECT_TRUE(rising);
  EXPECT_EQ(last, 1.0);
}

TEST(LoopSearchTest, EveryLongEngineMovesTheBarInSmallStepsFromTheStart) {
  // Ten seconds of a decaying tone: the decay check, the levels, the
  // energies and the template preparation all come before the main passes
  // and must move the bar too.
  const Pcm16Audio a = InstrumentTone(10.0, 44100, 2);
  const LoopSource s = Whole(a);
  const NccInput in = NccInputFrom(a.Span(), 0, a.Frames(), 0, a.Frames());
  const std::pair<const char*, std::function<LoopSearchResult(const LoopProgress&)>> engines[] = {
      {"slow", [&](const LoopProgress& p) { return findLoopSlow(s, p, 1); }},
      {"pyramid", [&](const LoopProgress& p) { return findLoopPyramid(s, p, 1); }},
      {"ncc", [&](const LoopProgress& p) { return findLoopNcc(in, p, 1); }},
  };
  for (const auto& [name, run] : engines) {
    std::vector<double> seen;
    const LoopSearchResult r = run([&](double f) {
      seen.push_back(f);
      return true;
    });
    ASSERT_TRUE(r.found) << name;
    ASSERT_GE(seen.size(), 20u) << name;
    EXPECT_LE(seen.front(), 0.02) << name;
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_LT(seen[i] - seen[i - 1], 0.1) << name << " at " << seen[i];
    // Stopped half way, it hears it at that report and returns.
    int after = 0;
    EXPECT_TRUE(run([&](double f) {
                  if (f >= 0.5) ++after;
                  return f < 0.5;
                }).cancelled)
        << name;
    EXPECT_EQ(after, 1) << name;
  }
}

TEST(LoopSearchTest, InputsMadeFromAWindowAreThoseOfTheWholeAudio) {
  const Pcm16Audio a = InstrumentTone(2.0, 11025, 2);
  const LoopSearchRange range{3000, 19000, 0};
  const PcmWindow window = PcmWindow::Copy(a.Span(), range.start, range.end);
  int reports = 0;
  const std::optional<LoopSource> part = LoopSource::Copy(window, range, [&](double) { return ++reports > 0; });
  ASSERT_TRUE(part.has_value());
  const LoopSource whole = LoopSource::Copy(a.Span(), range);
  EXPECT_EQ(part->values, whole.values);
  EXPECT_EQ(part->fileFrames, whole.fileFrames);
  EXPECT_EQ(part->range.start, 3000);
  EXPECT_GE(reports, 2);
  EXPECT_FALSE(LoopSource::Copy(window, range, [](double) { return false; }).has_value());

  const std::optional<NccInput> ncc = NccInputFrom(window, 3000, 19000, 5000, 30000, {});
  const NccInput all = NccInputFrom(a.Span(), 3000, 19000, 5000, 30000);
  ASSERT_TRUE(ncc.has_value());
  EXPECT_EQ(ncc->signal, all.signal);
  EXPECT_EQ(ncc->signalStart, all.signalStart);
  EXPECT_EQ(ncc->rangeStart, all.rangeStart);
  EXPECT_EQ(ncc->rangeEnd, all.rangeEnd);
}

TEST(LoopSearchNccTest, AWeakBestMatchIsStillTakenWithAWarning) {
  // Everything before the last 100 ms is a 100 Hz sine; the last 100 ms mix
  // that sine at 0.3 of their energy with an orthogonal 210 Hz one, so no
  // offset correlates better than 0.3.
  const double alpha = 0.3, beta = std::sqrt(1 - alpha * alpha);
  const int64_t frames = 44100;
  const Pcm16Audio a = Generate(1.0, 44100, 1, [&](int64_t i, int) {
    const double t = i / 44100.0;
    if (i < frames - 4410) return 0.5 * std::sin(2 * M_PI * 100 * t);
    return 0.5 * (alpha * std::sin(2 * M_PI * 100 * t) + beta * std::sin(2 * M_PI * 210 * t));
  });
  const LoopSearchResult r = findLoopNcc(NccInputFrom(a.Span(), 0, frames, 0, frames));
  ASSERT_TRUE(r.found) << r.message;
  ASSERT_EQ(r.log.size(), 2u);
  EXPECT_EQ(r.log[0], "No strong loop candidate found.");
  EXPECT_THAT(r.log[1], StartsWith("Best Loop Found: 30.00% Match. Length: "));
}

TEST(LoopSearchNccTest, ShortRangesAreRefused) {
  const Pcm16Audio a = Sine(1.0, 8000, 200);
  struct Case {
    int64_t start, end;
    const char* message;
  };
  const Case cases[] = {{0, 1500, "Selection too short to find a good loop."},
                        {0, 2000, "Search area too small for minimum loop length."},
                        {1000, 4000, ""}};
  for (const Case& c : cases) {
    const LoopSearchResult r = findLoopNcc(NccInputFrom(a.Span(), 0, a.Frames(), c.start, c.end));
    EXPECT_EQ(r.message, c.message) << c.start << ".." << c.end;
    EXPECT_EQ(r.found, std::string(c.message).empty());
  }
}

TEST(LoopSearchNccTest, TheSearchRangeIsClippedToTheSignalSpan) {
  const Pcm16Audio a = Sine(2.0, 8000, 200);
  const NccInput in = NccInputFrom(a.Span(), 4000, 12000, 0, 16000);
  EXPECT_EQ(in.signal.size(), 8000u);
  EXPECT_EQ(in.rangeStart, 4000);
  EXPECT_EQ(in.rangeEnd, 12000);
  const LoopSearchResult r = findLoopNcc(in);
  ASSERT_TRUE(r.found);
  EXPECT_GE(r.loopIn, 4000);
  EXPECT_LE(r.loopOut, 12000);
}

TEST(AutoLoopAlignTest, EndsMoveToMatchingRisingCrossings) {
  // 100 Hz at 44100 Hz: a rising crossing every 441 frames (phase 0 at 0).
  const Pcm16Audio a = Sine(2.0, 44100, 100);
  const AutoLoopAlignResult r = autoLoopAlign(a.Span(), 10000, 60000);
  // Rising crossings (x[i] <= 0 < x[i + 1]) sit at multiples of 441.
  EXPECT_EQ(r.loopIn % 441, 0);
  EXPECT_EQ(r.loopOut % 441, 0);
  EXPECT_LE(std::abs(r.loopIn - 10000), 221);
  EXPECT_LE(std::abs(r.loopOut - 60000), 221);
  EXPECT_EQ(r.log, "Auto-Loop: Adjusted Start " + std::to_string(r.loopIn) + ", End " + std::to_string(r.loopOut) +
                       " (Error Score: " + std::to_string(r.errorScore) + ")");
}

TEST(AutoLoopAlignTest, WithoutAnEndCrossingTheEndStaysAndTheScoreIsTheLargest) {
  // Rising crossings only in the first 0.1 s; the rest stays below zero.
  const Pcm16Audio a = Generate(1.0, 8000, 1, [](int64_t i, int) {
    return i < 800 ? 0.5 * std::sin(2 * M_PI * 100 * i / 8000.0) : -0.25;
  });
  // Start within 200 ms of the file start: the search begins at frame 0.
  const AutoLoopAlignResult r = autoLoopAlign(a.Span(), 30, 6000);
  EXPECT_EQ(r.loopIn, 0);  // the crossing between frames 0 and 1
  EXPECT_EQ(r.loopOut, 6000);
  EXPECT_EQ(r.errorScore, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(r.log, "Auto-Loop: Adjusted Start 0, End 6000 (Error Score: 9223372036854775807)");
}

TEST(AutoLoopAlignTest, AWindowAroundTheEndsGivesTheWholeAudiosResult) {
  // Stereo with noise: crossings everywhere, every candidate scores apart.
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-0.1, 0.1);
  const Pcm16Audio a = Generate(3.0, 44100, 2, [&](int64_t i, int c) {
    return 0.5 * std::sin(2 * M_PI * (150.0 + 50 * c) * i / 44100.0) + u(rng);
  });
  const int64_t frames = a.Frames();
  // Ends near the start, in the middle, and within 200 ms of the end.
  const std::pair<int64_t, int64_t> selections[] = {
      {100, 20000}, {30000, 90000}, {40000, 41000}, {50000, frames - 300}, {60000, frames}};
  for (const auto& [e, f] : selections) {
    const AutoLoopAlignResult whole = autoLoopAlign(a.Span(), e, f);
    const PcmWindow window = AutoLoopAlignWindow(a.Span(), e, f);
    const AutoLoopAlignResult part = autoLoopAlign(window, e, f);
    EXPECT_EQ(part.loopIn, whole.loopIn) << e << ".." << f;
    EXPECT_EQ(part.loopOut, whole.loopOut) << e << ".." << f;
    EXPECT_EQ(part.errorScore, whole.errorScore);
    EXPECT_EQ(part.log, whole.log);
    EXPECT_LE(window.Frames(), f - e + 2 * 8820 + 513);
  }
}

TEST(AutoLoopAlignTest, ReportsAsItGoesAndStopsWhenTold) {
  const Pcm16Audio a = Sine(2.0, 44100, 100);
  std::vector<double> seen;
  EXPECT_FALSE(autoLoopAlign(a.Span(), 10000, 60000, [&](double f) {
                 seen.push_back(f);
                 return true;
               }).cancelled);
  ASSERT_GE(seen.size(), 40u);  // 17640 end candidates, a report per 256
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  int after = 0;
  EXPECT_TRUE(autoLoopAlign(a.Span(), 10000, 60000, [&](double f) {
                if (f >= 0.5) ++after;
                return f < 0.5;
              }).cancelled);
  EXPECT_EQ(after, 1);
}

TEST(SnapLoopToZeroCrossingsTest, MovesBothEndsOrSaysTheyAreThere) {
  const Pcm16Audio a = Sine(1.0, 44100, 100);
  const ZeroCrossingSnapResult moved = snapLoopToZeroCrossings(a.Span(), 1000, 5000);
  ASSERT_TRUE(moved.changed);
  EXPECT_EQ(moved.loopIn, 883);
  EXPECT_EQ(moved.loopOut, 4852);
  EXPECT_EQ(moved.log,
            "Loop points snapped to zero-crossings. Start: 1000 -> 883 (-117). End: 5000 -> 4852 (-148).");
  const ZeroCrossingSnapResult again = snapLoopToZeroCrossings(a.Span(), moved.loopIn, moved.loopOut);
  EXPECT_FALSE(again.changed);
  EXPECT_EQ(again.message, "Loop points are already at the nearest zero-crossings.");
  EXPECT_TRUE(again.log.empty());
}

}  // namespace
}  // namespace zandrel::test
