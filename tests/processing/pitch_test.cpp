#include "processing/pitch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <random>

namespace zandrel {
namespace {

// Generated PCM with its format; Span() views it.
struct Audio {
  std::vector<uint8_t> bytes;
  uint16_t tag = 1, channels = 1, bits = 16;
  uint32_t rate = 44100;

  PcmSpan Span() const {
    PcmSpan s;
    s.bytes = bytes;
    s.formatTag = tag;
    s.channels = channels;
    s.sampleRate = rate;
    s.bitsPerSample = bits;
    s.blockAlign = static_cast<uint16_t>(channels * bits / 8);
    return s;
  }
};

// |frames| frames whose every channel holds signal(t) (t in seconds), encoded
// at the given width (tag 3 = 32-bit float).
Audio Render(int64_t frames, const std::function<double(double)>& signal, uint16_t bits = 16, uint16_t channels = 1,
             uint16_t tag = 1, uint32_t rate = 44100) {
  Audio a;
  a.tag = tag;
  a.channels = channels;
  a.bits = bits;
  a.rate = rate;
  const int bytes = bits / 8;
  a.bytes.resize(static_cast<size_t>(frames) * channels * bytes);
  for (int64_t i = 0; i < frames; ++i) {
    const double v = signal(static_cast<double>(i) / rate);
    for (int ch = 0; ch < channels; ++ch) {
      uint8_t* p = a.bytes.data() + (i * channels + ch) * bytes;
      if (bits == 8) {
        p[0] = static_cast<uint8_t>(std::lround(v * 127 + 128));
      } else if (bits == 32 && tag == 3) {
        const auto f = static_cast<float>(v);
        std::memcpy(p, &f, 4);
      } else {
        const auto x = static_cast<int32_t>(std::llround(v * static_cast<double>((int64_t{1} << (bits - 1)) - 1)));
        for (int b = 0; b < bytes; ++b) p[b] = static_cast<uint8_t>(x >> (8 * b));
      }
    }
  }
  return a;
}

std::function<double(double)> Sine(double hz, double amplitude = 0.5) {
  return [=](double t) { return amplitude * std::sin(2 * std::numbers::pi * hz * t); };
}

// The difference function summed directly: differences and squares in
// single precision, sums in double.
std::vector<double> DirectDifference(const std::vector<float>& x, int64_t tauMax) {
  const int64_t terms = static_cast<int64_t>(x.size()) - tauMax;
  std::vector<double> d(static_cast<size_t>(tauMax + 1), 0.0);
  for (int64_t tau = 0; tau <= tauMax; ++tau) {
    for (int64_t j = 0; j < terms; ++j) {
      const float diff = x[j] - x[j + tau];
      d[tau] += static_cast<double>(diff * diff);
    }
  }
  return d;
}

TEST(YinDifferenceTest, EqualsTheDirectSumOnRandomSignals) {
  // Window and lag range at 44100 and 48000 Hz, and a small odd case; noise,
  // and a periodic signal whose dips at the period come close to zero.
  struct Case {
    int64_t n, tauMax;
    bool periodic;
  };
  std::mt19937 rng(17);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  YinDifference yin;  // one object for all sizes, as a worker keeps it
  for (const Case& c : {Case{2205, 1102, false}, Case{2205, 1102, true}, Case{2400, 1200, true}, Case{37, 11, false}}) {
    SCOPED_TRACE(testing::Message() << c.n << " / " << c.tauMax << (c.periodic ? " periodic" : " noise"));
    std::vector<float> x(static_cast<size_t>(c.n));
    for (size_t i = 0; i < x.size(); ++i)
      x[i] = c.periodic ? 0.6f * static_cast<float>(std::sin(2 * std::numbers::pi * static_cast<double>(i) / 100.25)) +
                              0.01f * u(rng)
                        : u(rng);
    const std::vector<double> want = DirectDifference(x, c.tauMax);
    const std::vector<double>& got = yin.Compute(x.data(), c.n, c.tauMax);
    ASSERT_EQ(got.size(), want.size());
    const double largest = *std::max_element(want.begin(), want.end());
    for (size_t tau = 0; tau < want.size(); ++tau) {
      EXPECT_NEAR(got[tau], want[tau], 1e-4 * largest) << "tau " << tau;
      EXPECT_GE(got[tau], 0.0) << "tau " << tau;
    }
  }
}

TEST(PitchTest, FindsA440WithinAFractionOfAHertzAndReportsIt) {
  const Audio a = Render(44100, Sine(440.0));
  const double hz = EstimatePitchYin(a.Span(), 0, 44100);
  EXPECT_NEAR(hz, 440.0, 0.05);

  const std::string report = FormatPitchReport(hz);
  EXPECT_NE(report.find("Note: A4 (MIDI: 69)\n"), std::string::npos) << report;
  const auto at = report.find("Deviation: ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_LE(std::fabs(std::stod(report.substr(at + 11))), 0.1);
}

TEST(PitchTest, ReportTextIsExact) {
  EXPECT_EQ(FormatPitchReport(261.63),
            "Estimated Pitch:\n\nFrequency: 261.63 Hz\nNote: C4 (MIDI: 60)\nDeviation: 0.0 cents\n");
  EXPECT_EQ(FormatPitchReport(452.0),
            "Estimated Pitch:\n\nFrequency: 452.00 Hz\nNote: A4 (MIDI: 69)\nDeviation: 46.6 cents\n");
  EXPECT_EQ(FormatPitchReport(0.0), "Pitch not detected.");
  EXPECT_EQ(FormatPitchReport(-5.0), "Pitch not detected.");
}

TEST(PitchTest, AnalysesEverySupportedFormat) {
  struct Case {
    const char* what;
    uint16_t bits, channels, tag;
    uint32_t rate;
    bool analysed;
  };
  const Case cases[] = {
      {"8-bit", 8, 1, 1, 44100, true},
      {"16-bit stereo", 16, 2, 1, 44100, true},
      {"24-bit", 24, 1, 1, 48000, true},
      {"32-bit float", 32, 1, 3, 44100, true},
      {"32-bit integer", 32, 1, 1, 44100, false},
      {"16-bit at 8000 Hz", 16, 1, 1, 8000, true},
  };
  for (const Case& c : cases) {
    const Audio a = Render(c.rate / 2, Sine(330.0), c.bits, c.channels, c.tag, c.rate);
    const double hz = EstimatePitchYin(a.Span(), 0, c.rate / 2);
    if (c.analysed) {
      EXPECT_NEAR(hz, 330.0, 0.5) << c.what;
    } else {
      EXPECT_EQ(hz, 0.0) << c.what;
    }
  }
}

TEST(PitchTest, GivesZeroWithoutAUsableWindow) {
  const Audio tone = Render(20000, Sine(440.0));
  const Audio quiet = Render(20000, Sine(440.0, 0.005));  // about -46 dBFS
  const Audio silence = Render(20000, [](double) { return 0.0; });
  struct Case {
    const char* what;
    const Audio* audio;
    int64_t start, end;
  };
  const Case cases[] = {
      {"silence", &silence, 0, 20000},
      {"below the loudness gate", &quiet, 0, 20000},
      {"start at the end of the data", &tone, 20000, 30000},
      {"end not after start", &tone, 500, 500},
      {"negative start", &tone, -10, 1000},
      {"fewer than 30 frames left", &tone, 19975, 20000},
  };
  for (const Case& c : cases) EXPECT_EQ(EstimatePitchYin(c.audio->Span(), c.start, c.end), 0.0) << c.what;

  Audio noRate = tone;
  noRate.rate = 0;
  EXPECT_EQ(EstimatePitchYin(noRate.Span(), 0, 20000), 0.0);
}

TEST(PitchTest, LongRangeIsAnalysedAtItsLoudestProbe) {
  // One second of near-silence (below the gate), then one second of 220 Hz.
  const Audio a = Render(88200, [](double t) {
    return t < 1.0 ? 0.001 * std::sin(2 * std::numbers::pi * 50 * t) : 0.5 * std::sin(2 * std::numbers::pi * 220 * t);
  });
  EXPECT_NEAR(EstimatePitchYin(a.Span(), 0, 88200), 220.0, 0.1);
  EXPECT_EQ(EstimatePitchYin(a.Span(), 0, 3000), 0.0);  // a short range is analysed where it starts

  // A range may reach past the data. When its loudest probe then lies within
  // a window of the end of the file, the range start is analysed instead.
  const Audio late =
      Render(30000, [](double t) { return t < 0.6 ? 0.0 : 0.5 * std::sin(2 * std::numbers::pi * 220 * t); });
  EXPECT_EQ(EstimatePitchYin(late.Span(), 0, 40000), 0.0);
  EXPECT_NEAR(EstimatePitchYin(late.Span(), 0, 30000), 220.0, 0.1);
}

TEST(PitchTest, AShortRegionIsAnalysedWithTheAudioAfterIt) {
  const Audio a = Render(44100, Sine(523.25));
  EXPECT_NEAR(EstimatePitchYin(a.Span(), 1000, 1100), 523.25, 0.1);
}

TEST(PitchTest, AnEstimateOfTheCopiedWindowEqualsTheEstimateOfTheWholeAudio) {
  // A glide whose level swells and falls: each range's probes pick another
  // window, and any other window would give another frequency.
  const auto glide = [](double t) {
    const double level = 0.05 + 0.6 * std::fabs(std::sin(1.3 * t));
    return level * std::sin(2 * std::numbers::pi * (150.0 * t + 60.0 * t * t));
  };
  const Audio mono = Render(88200, glide);
  const Audio stereo24 = Render(88200, glide, 24, 2);
  const Audio floats = Render(88200, glide, 32, 1, 3);
  const Audio late =
      Render(30000, [](double t) { return t < 0.6 ? 0.0 : 0.5 * std::sin(2 * std::numbers::pi * 220 * t); });
  struct Case {
    const char* what;
    const Audio* audio;
    int64_t start, end;
  };
  const Case cases[] = {
      {"whole file", &mono, 0, 88200},
      {"a long range in the middle", &mono, 20000, 70000},
      {"24-bit stereo", &stereo24, 5000, 80000},
      {"float", &floats, 30000, 88200},
      {"a range shorter than a window, read past its end", &mono, 1000, 1100},
      {"a range reaching past the data", &mono, 60000, 120000},
      {"the last frames", &mono, 87000, 88200},
      {"the loudest probe too near the end", &late, 0, 40000},
      {"fewer than 30 frames left", &mono, 88175, 88200},
      {"start at the end", &mono, 88200, 90000},
      {"end not after start", &mono, 500, 500},
  };
  std::vector<double> found;
  for (const Case& c : cases) {
    const PcmSpan span = c.audio->Span();
    const PitchEstimateInput input = PitchEstimateInput::Copy(span, c.start, c.end);
    const double hz = EstimatePitchYin(span, c.start, c.end);
    EXPECT_EQ(input.Estimate(), hz) << c.what;
    if (hz > 0) found.push_back(hz);
  }
  // The ranges did land on different stretches of the glide.
  std::sort(found.begin(), found.end());
  EXPECT_GE(std::unique(found.begin(), found.end()) - found.begin(), 5);
  // The copy does not see later changes of the audio.
  Audio changing = mono;
  const PitchEstimateInput input = PitchEstimateInput::Copy(changing.Span(), 0, 88200);
  const double before = input.Estimate();
  std::fill(changing.bytes.begin(), changing.bytes.end(), 0);
  EXPECT_GT(before, 0.0);
  EXPECT_EQ(input.Estimate(), before);
}

TEST(PitchTest, AnEstimateReportsItsStepsAndStopsWhenAsked) {
  const Audio a = Render(44100, Sine(440.0));
  std::vector<double> reports;
  const double hz = EstimatePitchYin(a.Span(), 0, 44100, [&](double f) {
    reports.push_back(f);
    return true;
  });
  EXPECT_NEAR(hz, 440.0, 0.5);
  ASSERT_GE(reports.size(), 3u);
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
  EXPECT_EQ(reports.back(), 1.0);
  // Stopped at each report in turn: no result, and no report after the stop.
  for (size_t stopAt = 0; stopAt < reports.size(); ++stopAt) {
    size_t calls = 0;
    EXPECT_EQ(EstimatePitchYin(a.Span(), 0, 44100, [&](double) { return calls++ < stopAt; }), 0.0) << stopAt;
    EXPECT_EQ(calls, stopAt + 1);
  }
}

TEST(NoteSegmentsTest, OneSteadyNoteIsOneSegmentFromTheConfirmingHop) {
  const Audio a = Render(3 * 44100, Sine(261.63));
  EXPECT_EQ(DetectNoteSegments(a.Span()), (std::vector<NoteSegment>{{60, 512, 3 * 44100}}));
  EXPECT_TRUE(DetectNoteSegments(Render(44100, [](double) { return 0.0; }).Span()).empty());
  EXPECT_TRUE(DetectNoteSegments(Audio{}.Span()).empty());
}

TEST(NoteSegmentsTest, TwoNotesGiveTwoAdjacentSegments) {
  // C4 for a second, then E4 for a second.
  const Audio a = Render(
      2 * 44100, [](double t) { return 0.5 * std::sin(2 * std::numbers::pi * (t < 1.0 ? 261.63 : 329.63) * t); });
  const auto segments = DetectNoteSegments(a.Span());
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].note, 60);
  EXPECT_EQ(segments[0].start, 512);
  EXPECT_EQ(segments[1].note, 64);
  EXPECT_EQ(segments[0].end, segments[1].start);
  EXPECT_NEAR(static_cast<double>(segments[1].start), 44100.0, 4 * 512.0);  // a hop or two after the change
  EXPECT_EQ(segments[1].end, 2 * 44100);
  EXPECT_EQ(segments[1].start % 512, 0);

  EXPECT_EQ(DetectNoteSegments(a.Span(), 1), segments);  // the same on one thread
}

TEST(NoteSegmentsTest, NotesNoLongerThanSixtyMillisecondsAreDropped) {
  // C4, a 0.05 s burst of G5, C4 again: the burst is heard but never kept.
  const Audio a = Render(44100, [](double t) {
    const double hz = (t >= 0.5 && t < 0.55) ? 783.99 : 261.63;
    return 0.5 * std::sin(2 * std::numbers::pi * hz * t);
  });
  for (const NoteSegment& s : DetectNoteSegments(a.Span())) EXPECT_EQ(s.note, 60);
}

}  // namespace
}  // namespace zandrel
