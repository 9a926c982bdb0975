#include "view/model/playback.h"

#include <gmock/gmock.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "document/document_fixture.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// A stretch of played frames: document frames first .. first + count - 1,
// or `count` frames of silence when first is -1.
struct Span {
  int64_t first;
  int64_t count;
  bool operator==(const Span&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Span& r) { return os << "{" << r.first << ", " << r.count << "}"; }

// What was played (mono, frame i holding i + 1), as runs.
std::vector<Span> Runs(const std::vector<float>& played) {
  std::vector<Span> runs;
  for (float v : played) {
    const int64_t frame = std::lround(v * 32768.0f) - 1;
    if (!runs.empty()) {
      Span& last = runs.back();
      if ((frame == -1 && last.first == -1) || (frame >= 0 && last.first >= 0 && frame == last.first + last.count)) {
        ++last.count;
        continue;
      }
    }
    runs.push_back({frame, 1});
  }
  return runs;
}

class PlaybackTest : public DocumentTest {
 protected:
  void SetUp() override {
    output.rate = 0;  // the document's own rate: frames arrive unconverted
    Open(1000);
  }
  // A mono 16-bit document whose frame i holds i + 1, so that every played
  // value names its frame and 0 is silence.
  void Open(int64_t frames, uint32_t rate = 44100) {
    WavBuilder b;
    b.Fmt(1, 1, rate, 16);
    std::vector<int16_t> samples(static_cast<size_t>(frames));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i + 1);
    b.Data(Pcm16(samples));
    ASSERT_TRUE(Doc().LoadWav(Write("ramp.wav", b.Build())));
    model = std::make_unique<ViewModel>(Doc());
    model->clientWidth = 800;
    model->clientHeight = 400;
    model->ResetForDocument();
    playback = std::make_unique<Playback>(*model);
    playback->stateChanged = [this](bool playing) { states.push_back(playing); };
    model->hooks.isPlaying = [this] { return playback->IsPlaying(); };
    model->hooks.startPlayback = [this] { playback->Start(); };
    model->hooks.stopPlayback = [this] { playback->Stop(); };
  }
  void SetLatencyFrames(int frames) { output.latencySeconds = frames / 44100.0; }
  // The cursor (and anchor) at |cursor|, loop playback over in .. out.
  void SetLoop(int64_t cursor, int64_t in, int64_t out) {
    model->SetCursorPosition(cursor);
    model->loopIn = in;
    model->loopOut = out;
    model->loopPlayback = true;
  }

  // Pulls |frames| frames from the output in chunks of |chunk|.
  void Pull(size_t frames, size_t chunk = 37) {
    for (size_t done = 0; done < frames; done += chunk) ASSERT_TRUE(output.Pull(std::min(chunk, frames - done)));
  }
  std::vector<Span> Played() const { return Runs(output.Played()); }

  MemoryAudioOutput output;
  ScopedAudioOutput outputScope{&output};
  std::unique_ptr<ViewModel> model;
  std::unique_ptr<Playback> playback;
  std::vector<bool> states;
};

TEST_F(PlaybackTest, RefillFollowsTheLoopRules) {
  const struct {
    const char* name;
    int64_t cursor, in, out;
    bool loop, once;
    size_t frames;
    std::vector<Span> expected;
  } cases[] = {
      {"plays to the end", 100, -1, -1, false, false, 1000, {{100, 900}, {-1, 100}}},
      {"no cursor plays from the start", -1, -1, -1, false, false, 1100, {{0, 1000}, {-1, 100}}},
      {"loop points without loop playback", 100, 300, 399, false, false, 950, {{100, 900}, {-1, 50}}},
      {"into the loop and around it", 10, 100, 199, true, false, 400, {{10, 190}, {100, 100}, {100, 100}, {100, 10}}},
      {"inside the loop", 150, 100, 199, true, false, 200, {{150, 50}, {100, 100}, {100, 50}}},
      {"after the loop jumps to its start", 500, 100, 199, true, false, 250, {{100, 100}, {100, 100}, {100, 50}}},
      {"on the loop's end frame too", 199, 100, 199, true, false, 150, {{100, 100}, {100, 50}}},
      {"reversed loop points", 500, 199, 100, true, false, 250, {{100, 100}, {100, 100}, {100, 50}}},
      {"a loop reaching past the audio", 950, 900, 5000, true, false, 260,
       {{950, 50}, {900, 100}, {900, 100}, {900, 10}}},
      {"a loop starting past the audio", 500, 2000, 3000, true, false, 600, {{500, 500}, {-1, 100}}},
      {"a cursor past the loop past the audio", 3000, 2000, 3000, true, false, 100, {{-1, 100}}},
      {"a one-frame loop", 100, 100, 100, true, false, 3, {{100, 1}, {100, 1}, {100, 1}}},
      {"loop playback without a loop out", 900, 100, -1, true, false, 150, {{900, 100}, {-1, 50}}},
      {"once through the selection", 100, 100, 199, true, true, 300, {{100, 100}, {-1, 200}}},
      {"once without loop playback", 100, 100, 199, false, true, 300, {{100, 100}, {-1, 200}}},
      {"once from before the selection", 50, 100, 199, false, true, 200, {{50, 150}, {-1, 50}}},
      {"once without a selection plays nothing", 100, -1, -1, false, true, 100, {{-1, 100}}},
  };
  for (size_t chunk : {size_t{37}, size_t{1000}}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", chunks of " + std::to_string(chunk));
      model->cursorFrame = c.cursor;
      model->loopIn = c.in;
      model->loopOut = c.out;
      model->loopPlayback = c.loop;
      model->playOnce = c.once;
      const size_t before = output.Played().size();
      ASSERT_TRUE(playback->Start());
      Pull(c.frames, chunk);
      const std::vector<float> played = output.Played();
      EXPECT_THAT(Runs({played.begin() + static_cast<std::ptrdiff_t>(before), played.end()}),
                  ElementsAreArray(c.expected));
      playback->Stop();
    }
  }
}

TEST_F(PlaybackTest, PlayheadFollowsTheFramesPlayedAcrossLoopPasses) {
  SetLoop(100, 100, 199);  // played: 100 frames a pass, 199 included
  ASSERT_TRUE(playback->Start());
  Pull(337, 64);
  playback->Tick();
  EXPECT_EQ(model->cursorFrame, 137);  // the plain modulo over 99 frames would say 140

  // With 64 frames between rendering and hearing, the cursor shows frame
  // 273 of the stream: 100 + 273 mod 100.
  SetLatencyFrames(64);
  playback->Tick();
  EXPECT_EQ(model->cursorFrame, 173);
}

TEST_F(PlaybackTest, PlayheadOfALoopCutAtTheEndOfTheAudio) {
  SetLoop(950, 900, 5000);
  ASSERT_TRUE(playback->Start());
  Pull(260);
  playback->Tick();
  EXPECT_EQ(model->cursorFrame, 910);
}

TEST_F(PlaybackTest, LoopChangesReachTheNextRefillAndThePlayhead) {
  SetLoop(100, 100, 199);
  ASSERT_TRUE(playback->Start());
  Pull(150, 50);
  // A drag moves the loop while playing; the tick hands it to the source.
  model->loopIn = 300;
  model->loopOut = 399;
  playback->Tick();
  Pull(300, 50);
  EXPECT_THAT(Played(), ElementsAre(Span{100, 100}, Span{100, 300}, Span{300, 50}));
  playback->Tick();
  EXPECT_EQ(model->cursorFrame, 350);
}

TEST_F(PlaybackTest, FollowingThePlayheadScrollsHalfAPage) {
  Open(30000);
  model->followPlayhead = true;
  model->framesPerPixel = 1;  // a page of 800 frames
  model->viewStart = 0;
  ASSERT_TRUE(playback->Start());
  Pull(720);
  EXPECT_FALSE(playback->Tick().scrolled);
  Pull(1);
  EXPECT_TRUE(playback->Tick().scrolled);
  EXPECT_DOUBLE_EQ(model->viewStart, 400);
}

TEST_F(PlaybackTest, StopsOnceTheEndHasBeenHeardAndReturnsToTheAnchor) {
  SetLatencyFrames(64);
  model->SetCursorPosition(900);
  ASSERT_TRUE(playback->Start());
  EXPECT_EQ(output.Opens(), 1);
  Pull(100);
  EXPECT_FALSE(playback->Tick().stopped);  // the last 64 frames are still on their way
  EXPECT_TRUE(playback->IsPlaying());
  EXPECT_EQ(model->cursorFrame, 936);
  Pull(64);
  EXPECT_TRUE(playback->Tick().stopped);
  EXPECT_FALSE(playback->IsPlaying());
  EXPECT_EQ(model->cursorFrame, 900);
  EXPECT_EQ(output.Closes(), 1);
  EXPECT_THAT(states, ElementsAre(true, false));
}

TEST_F(PlaybackTest, TheEndOfTheAudioNeverRestartsAStoppedPlayback) {
  model->SetCursorPosition(990);
  ASSERT_TRUE(playback->Start());
  Pull(50);  // the audio has run out
  model->HandleKey(ViewKey::kSpace);  // the user stops before the tick notices
  EXPECT_FALSE(playback->IsPlaying());
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(playback->Tick().stopped);
  EXPECT_FALSE(playback->IsPlaying());
  EXPECT_EQ(output.Opens(), 1);
  EXPECT_THAT(states, ElementsAre(true, false));
  // Space still toggles as usual.
  model->HandleKey(ViewKey::kSpace);
  EXPECT_TRUE(playback->IsPlaying());
}

TEST_F(PlaybackTest, StopKeepsTheContractAndIsHarmlessWhenStopped) {
  model->SetCursorPosition(100);
  ASSERT_TRUE(playback->Start());
  const PlaybackSource* source = playback->Source();
  Pull(10);
  model->cursorFrame = 555;
  EXPECT_TRUE(playback->Stop());
  // Once Stop has returned the output neither holds nor calls the source.
  EXPECT_FALSE(output.Joined(source));
  EXPECT_FALSE(output.IsOpen());
  EXPECT_FALSE(output.Pull(10));
  EXPECT_EQ(model->cursorFrame, 100);

  model->cursorFrame = 555;
  EXPECT_FALSE(playback->Stop());
  EXPECT_EQ(model->cursorFrame, 555);
  EXPECT_THAT(states, ElementsAre(true, false));
}

TEST_F(PlaybackTest, AnOutputThatCannotOpenLeavesPlaybackStopped) {
  output.openError = "device busy";
  EXPECT_FALSE(playback->Start());
  EXPECT_FALSE(playback->IsPlaying());
  EXPECT_EQ(host.Texts(), std::vector<std::string>{"Failed to open audio device."});
  EXPECT_TRUE(states.empty());

  // Without audio nothing happens at all.
  output.openError.clear();
  Doc().ClearAudio();
  EXPECT_FALSE(playback->Start());
  EXPECT_EQ(host.Texts().size(), 1u);
}

TEST_F(PlaybackTest, ADeviceThatStopsEndsPlaybackWithAMessageAndPlayWorksAgain) {
  model->SetCursorPosition(100);
  ASSERT_TRUE(playback->Start());
  ASSERT_TRUE(output.Pull(50));
  const size_t logBefore = frame.Lines().size();

  // The server goes away: the next tick stops playback and says so once.
  output.lost = true;
  EXPECT_TRUE(playback->Tick().stopped);
  EXPECT_FALSE(playback->IsPlaying());
  EXPECT_THAT(states, ElementsAre(true, false));  // Play/Stop comes up
  EXPECT_EQ(host.Texts(), std::vector<std::string>{"Playback stopped: the audio device is no longer available."});
  ASSERT_EQ(frame.Lines().size(), logBefore + 1);
  EXPECT_NE(frame.Lines().back().find("audio device stopped"), std::string::npos);
  EXPECT_FALSE(output.IsOpen());
  EXPECT_EQ(output.Closes(), 1);
  EXPECT_EQ(model->cursorFrame, 100);  // back at the anchor, as after Stop
  EXPECT_FALSE(playback->Tick().stopped);

  // The server is back: the first press of Play plays.
  EXPECT_TRUE(playback->Start());
  EXPECT_TRUE(playback->IsPlaying());
  EXPECT_EQ(output.Opens(), 2);
  ASSERT_TRUE(output.Pull(10));
  EXPECT_FALSE(playback->Tick().stopped);
  EXPECT_EQ(host.Texts().size(), 1u);
}

TEST_F(PlaybackTest, AnOpenFailureLogsItsReason) {
  output.openError = "device busy";
  EXPECT_FALSE(playback->Start());
  ASSERT_FALSE(frame.Lines().empty());
  EXPECT_EQ(frame.Lines().back(), "Failed to open audio device: device busy");
}

TEST_F(PlaybackTest, LoopKeyStopsPlaybackAndTogglesWithItsLogLine) {
  model->SetCursorPosition(100);
  model->loopIn = 300;
  model->loopOut = 399;
  ASSERT_TRUE(playback->Start());
  Pull(50);
  playback->Tick();
  EXPECT_EQ(model->cursorFrame, 150);
  model->HandleKey(ViewKey::kLoop);
  EXPECT_FALSE(playback->IsPlaying());
  EXPECT_TRUE(model->loopPlayback);
  EXPECT_EQ(frame.Lines().back(), "Loop playback enabled.");
  // Playing again starts from the anchor the cursor went back to, and loops.
  EXPECT_EQ(model->cursorFrame, 100);
  model->HandleKey(ViewKey::kSpace);
  Pull(500, 100);
  EXPECT_THAT(Played(), ElementsAre(Span{100, 50}, Span{100, 300}, Span{300, 100}, Span{300, 100}));
  model->HandleKey(ViewKey::kLoop);
  EXPECT_EQ(frame.Lines().back(), "Loop playback disabled.");
}

TEST_F(PlaybackTest, PlayRegionByRootNotePlaysTheFirstMatchingRegionOnce) {
  Doc().instrument.hasInstrument = true;
  Doc().instrument.regions = {Region{0, 300, 100, 199, 0, 59, 62}, Region{300, 600, 400, 499, 60, 70, 60},
                              Region{600, 900, 700, 799, 71, 127, 60}};
  std::vector<std::pair<int, std::string>> selected;
  model->hooks.selectRegionWithLoop = [&](int index, const std::string& suffix, bool recentre) {
    EXPECT_TRUE(recentre);
    selected.emplace_back(index, suffix);
    const Region& r = Doc().instrument.regions[static_cast<size_t>(index)];
    model->selectedRegion = index;
    model->SetCursorPosition(r.startSample);
    model->loopIn = r.loopStart;
    model->loopOut = r.loopEnd;
    model->loopPlayback = true;
  };
  EXPECT_TRUE(playback->PlayRegionByRootNote(60));
  EXPECT_THAT(selected, ElementsAre(std::pair<int, std::string>{1, "(root C4)"}));
  ASSERT_TRUE(playback->IsPlaying());
  Pull(150);
  EXPECT_TRUE(playback->Tick().stopped);
  EXPECT_THAT(Played(), ElementsAre(Span{400, 100}, Span{-1, 50}));
  EXPECT_EQ(model->cursorFrame, 300);  // back at the region's start
  EXPECT_FALSE(model->playOnce);

  EXPECT_FALSE(playback->PlayRegionByRootNote(61));
  // A pass that cannot start leaves the next Play an ordinary one.
  output.openError = "device busy";
  EXPECT_TRUE(playback->PlayRegionByRootNote(60));
  EXPECT_FALSE(playback->IsPlaying());
  EXPECT_FALSE(model->playOnce);
  output.openError.clear();
  // A loop of one frame is selected but not played.
  Doc().instrument.regions[0].loopEnd = 100;
  EXPECT_TRUE(playback->PlayRegionByRootNote(62));
  EXPECT_FALSE(playback->IsPlaying());
  Doc().instrument.hasInstrument = false;
  EXPECT_FALSE(playback->PlayRegionByRootNote(60));
}

TEST_F(PlaybackTest, PlaysEveryStoredSampleFormat) {
  // Frame values 0.5 and -0.25 in each format.
  const struct {
    const char* name;
    uint16_t tag, channels, bits;
    std::vector<uint8_t> frames;
    std::vector<float> expected;  // per device channel (two)
  } cases[] = {
      {"8-bit", 1, 1, 8, {192, 96}, {0.5f, 0.5f, -0.25f, -0.25f}},
      {"16-bit stereo", 1, 2, 16, {0x00, 0x40, 0x00, 0xE0, 0x00, 0xE0, 0x00, 0x40}, {0.5f, -0.25f, -0.25f, 0.5f}},
      {"24-bit", 1, 1, 24, {0x00, 0x00, 0x40, 0x00, 0x00, 0xE0}, {0.5f, 0.5f, -0.25f, -0.25f}},
      {"32-bit float", 3, 1, 32, {0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x80, 0xBE}, {0.5f, 0.5f, -0.25f, -0.25f}},
      {"32-bit integer", 1, 1, 32, {0, 0, 0, 0x40, 0, 0, 0, 0xE0}, {0.5f, 0.5f, -0.25f, -0.25f}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    output.channels = 2;
    CWavLoader& audio = Doc().audio;
    const uint16_t align = static_cast<uint16_t>(c.channels * c.bits / 8);
    audio.format = PcmFormat{c.tag, c.channels, 44100, 44100u * align, align, c.bits};
    audio.data = c.frames;
    model->SetCursorPosition(0);
    const size_t before = output.Played().size();
    ASSERT_TRUE(playback->Start());
    Pull(2);
    const std::vector<float> played = output.Played();
    EXPECT_THAT(std::vector<float>(played.begin() + static_cast<std::ptrdiff_t>(before), played.end()),
                ElementsAreArray(c.expected));
    playback->Stop();
  }
}

TEST_F(PlaybackTest, LoopChangesWhilePlayingAreNotDataRaces) {
  // The output's thread refills while this thread moves the loop on every
  // tick. Every value played must be a frame of the audio or silence. (The
  // sanitizer build checks the sharing itself.)
  SetLoop(0, 0, 99);
  ASSERT_TRUE(playback->Start());
  std::atomic<bool> done{false};
  std::thread device([&] {
    while (!done.load()) output.Pull(16);
  });
  for (int i = 0; i < 2000; ++i) {
    model->loopIn = (i * 37) % 1500;  // some start past the audio
    model->loopOut = model->loopIn + (i % 7) * 50;
    model->loopPlayback = i % 5 != 0;
    playback->Tick();
    EXPECT_GE(model->cursorFrame, 0);
    EXPECT_LT(model->cursorFrame, 1000);
  }
  done = true;
  device.join();
  playback->Stop();
  for (float v : output.Played()) {
    const long frame = std::lround(v * 32768.0f) - 1;
    ASSERT_GE(frame, -1);
    ASSERT_LT(frame, 1000);
  }
}

}  // namespace
}  // namespace zandrel
