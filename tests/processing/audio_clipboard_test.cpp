// The audio clipboard block, Copy, both pastes and Append, checked on the
// bytes of the block, the audio that ends up in the document and the regions
// around it.
#include "processing/audio_clipboard.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "platform/text_format.h"
#include "processing/sinc_resampler.h"
#include "support/region_frames.h"
#include "support/test_host.h"

namespace zandrel::test {
namespace {

using ::testing::ElementsAre;

// Mono 16-bit audio holding |samples|.
CWavLoader Mono16(const std::vector<int16_t>& samples, uint32_t rate = 44100) {
  CWavLoader a;
  a.format = PcmFormat{1, 1, rate, rate * 2, 2, 16};
  a.data.resize(samples.size() * 2);
  std::memcpy(a.data.data(), samples.data(), a.data.size());
  return a;
}

// Frames 0..n-1 holding 0, 1, 2, ...
CWavLoader Ramp(int64_t n, uint32_t rate = 44100) {
  std::vector<int16_t> s(static_cast<size_t>(n));
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(i);
  return Mono16(s, rate);
}

std::vector<int16_t> Samples(const CWavLoader& a) {
  std::vector<int16_t> s(a.data.size() / 2);
  std::memcpy(s.data(), a.data.data(), s.size() * 2);
  return s;
}

// A mono 16-bit block of |frames| frames holding -1, -2, -3, ...
AudioClipboardBlock Block(int64_t frames, uint32_t rate = 44100) {
  AudioClipboardBlock b;
  b.channels = 1;
  b.sampleRate = rate;
  b.bitsPerSample = 16;
  b.sourceStart = 1000;
  b.sourceEnd = 1000 + frames;
  b.frameCount = frames;
  std::vector<int16_t> s(static_cast<size_t>(frames));
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(-1 - static_cast<int>(i));
  b.pcm.resize(s.size() * 2);
  std::memcpy(b.pcm.data(), s.data(), b.pcm.size());
  return b;
}

uint64_t LeAt(const std::vector<uint8_t>& b, size_t offset, size_t size) {
  uint64_t v = 0;
  for (size_t i = 0; i < size; ++i) v |= static_cast<uint64_t>(b[offset + i]) << (8 * i);
  return v;
}

// ------------------------------------------------------------- the block --

TEST(AudioClipboardBlock, LayoutByteForByte) {
  AudioClipboardBlock b;
  b.channels = 2;
  b.sampleRate = 48000;
  b.bitsPerSample = 24;
  b.sourceStart = 0x0102030405060708;
  b.sourceEnd = 0x0102030405060709;
  b.frameCount = 1;
  Region r = R(-5, 0x1122334455667788, kNoLoop, 77);
  r.loKey = 10;
  r.hiKey = 20;
  r.rootNote = -3;
  b.region = r;
  b.pcm = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

  const std::vector<uint8_t> bytes = EncodeAudioClipboardBlock(b);
  ASSERT_EQ(bytes.size(), 96u + 6u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "QRVL");
  EXPECT_EQ(LeAt(bytes, 4, 4), 1u);
  EXPECT_EQ(LeAt(bytes, 8, 2), 2u);
  EXPECT_EQ(LeAt(bytes, 10, 4), 48000u);  // unaligned: packed right after the channel count
  EXPECT_EQ(LeAt(bytes, 14, 2), 24u);
  EXPECT_EQ(LeAt(bytes, 16, 8), 0x0102030405060708u);
  EXPECT_EQ(bytes[16], 0x08);  // little-endian
  EXPECT_EQ(LeAt(bytes, 24, 8), 0x0102030405060709u);
  EXPECT_EQ(LeAt(bytes, 32, 8), 1u);
  EXPECT_EQ(LeAt(bytes, 40, 4), 1u);
  EXPECT_EQ(static_cast<int64_t>(LeAt(bytes, 44, 8)), -5);
  EXPECT_EQ(LeAt(bytes, 52, 8), 0x1122334455667788u);
  EXPECT_EQ(static_cast<int64_t>(LeAt(bytes, 60, 8)), -1);
  EXPECT_EQ(LeAt(bytes, 68, 8), 77u);
  EXPECT_EQ(LeAt(bytes, 76, 4), 10u);
  EXPECT_EQ(LeAt(bytes, 80, 4), 20u);
  EXPECT_EQ(static_cast<int32_t>(LeAt(bytes, 84, 4)), -3);
  EXPECT_EQ(LeAt(bytes, 88, 4), 0u);
  EXPECT_EQ(LeAt(bytes, 92, 4), 6u);
  EXPECT_THAT(std::vector<uint8_t>(bytes.begin() + 96, bytes.end()), ElementsAre(0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF));
  EXPECT_EQ(DecodeAudioClipboardBlock(bytes), b);

  b.region.reset();
  const std::vector<uint8_t> plain = EncodeAudioClipboardBlock(b);
  for (size_t i = 40; i < 92; ++i) EXPECT_EQ(plain[i], 0) << "offset " << i;
  EXPECT_EQ(DecodeAudioClipboardBlock(plain), b);
}

TEST(AudioClipboardBlock, DecoderRejectsEveryInconsistentBlock) {
  const std::vector<uint8_t> good = EncodeAudioClipboardBlock(Block(4));
  ASSERT_TRUE(DecodeAudioClipboardBlock(good));
  auto with = [&](size_t offset, uint64_t value, size_t size) {
    std::vector<uint8_t> b = good;
    for (size_t i = 0; i < size; ++i) b[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    return b;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"shorter than the header", std::vector<uint8_t>(good.begin(), good.begin() + 95)},
      {"wrong magic", with(0, 'X', 1)},
      {"version 2", with(4, 2, 4)},
      {"PCM cut short", std::vector<uint8_t>(good.begin(), good.end() - 1)},
      // 96 + n wraps to 95 in 32 bits: the old check let this copy 4 GiB.
      {"n near 2^32", with(92, 0xFFFFFFFFu, 4)},
      {"n disagrees with the frames", with(32, 3, 8)},
      {"negative frame count", with(32, static_cast<uint64_t>(-4), 8)},
      // 2^31 frames x 2 channels x 1 byte is 2^32: 0 in 32 bits.
      {"product wraps in 32 bits", [&] {
         AudioClipboardBlock z = Block(0);
         z.channels = 2;
         z.bitsPerSample = 8;
         std::vector<uint8_t> b = EncodeAudioClipboardBlock(z);
         for (size_t i = 0; i < 8; ++i) b[32 + i] = static_cast<uint8_t>((uint64_t{1} << 31) >> (8 * i));
         return b;
       }()},
      {"no channels", with(8, 0, 2)},
      {"rate 0", with(10, 0, 4)},
      {"12-bit samples", with(14, 12, 2)},
      {"0-bit samples", with(14, 0, 2)},
  };
  for (const Case& c : cases) EXPECT_FALSE(DecodeAudioClipboardBlock(c.bytes)) << c.what;

  std::vector<uint8_t> padded = good;
  padded.resize(good.size() + 10, 0x55);
  EXPECT_EQ(DecodeAudioClipboardBlock(padded), Block(4)) << "bytes after the PCM are ignored";
}

TEST(AudioClipboardCopy, CarriesTheRegionHoldingTheMiddleAndItsLogLine) {
  CWavLoader a = Ramp(100);
  InstrumentData inst;
  inst.hasInstrument = true;
  inst.regions = {R(0, 40), R(40, 100, 50, 90)};
  const CopyResult copy = CopyAudioSelection(a, inst, 30, 60);  // middle frame 45
  ASSERT_TRUE(copy.block);
  EXPECT_EQ(copy.block->region, inst.regions[1]);
  EXPECT_EQ(copy.block->frameCount, 30);
  EXPECT_EQ(copy.block->sourceStart, 30);
  EXPECT_EQ(copy.block->sourceEnd, 60);
  EXPECT_EQ(copy.block->pcm, std::vector<uint8_t>(a.data.begin() + 60, a.data.begin() + 120));
  EXPECT_EQ(copy.logLine, "Copied 30 samples to clipboard (with region metadata)");

  inst.hasInstrument = false;
  EXPECT_EQ(CopyAudioSelection(a, inst, 30, 60).logLine, "Copied 30 samples to clipboard");
  EXPECT_EQ(CopyAudioSelection(a, inst, 60, 60).refusal.message,
            "No valid playback loop region selected. Please set loop start and end points.");
  EXPECT_EQ(CopyAudioSelection(a, inst, 60, 101).refusal.message, "Invalid loop region. Please check loop boundaries.");
}

// ----------------------------------------------------------------- Paste --

TEST(AudioClipboardPaste, RegionsAroundTheCursor) {
  // Regions [0,40) with a loop 10..30 and [40,100); 100 frames; 20 pasted.
  struct Case {
    const char* what;
    int64_t cursor;
    bool inside;
    std::vector<Frames> regions;
  };
  const Case cases[] = {
      {"inside the first region: it grows, loop points from the cursor on move", 20, true,
       {{0, 60, 10, 50}, {60, 120, -1, -1}}},
      {"at a region's start: it moves whole, a new region fills the gap", 40, false,
       {{0, 40, 10, 30}, {40, 60, -1, -1}, {60, 120, -1, -1}}},
      {"at frame N - 1: never extends", 99, false, {{0, 40, 10, 30}, {40, 100, -1, -1}, {99, 119, -1, -1}}},
      {"at N: appends, regions ending at N stay", 100, false,
       {{0, 40, 10, 30}, {40, 100, -1, -1}, {100, 120, -1, -1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CWavLoader a = Ramp(100);
    InstrumentData inst;
    inst.hasInstrument = true;
    inst.regions = {R(0, 40, 10, 30), R(40, 100)};
    const PasteResult r = PasteInsert(a, inst, c.cursor, Block(20), nullptr);
    ASSERT_FALSE(r.refusal);
    EXPECT_EQ(r.inside, c.inside);
    EXPECT_EQ(r.frames, 20);
    EXPECT_EQ(r.selStart, c.cursor);
    EXPECT_EQ(r.selEnd, c.cursor + 20);
    EXPECT_EQ(FramesOf(inst), c.regions);
    const std::vector<int16_t> s = Samples(a);
    ASSERT_EQ(s.size(), 120u);
    EXPECT_EQ(s[c.cursor - 1], c.cursor - 1);
    EXPECT_EQ(s[c.cursor], -1);
    EXPECT_EQ(s[c.cursor + 19], -20);
    if (c.cursor < 100) {
      EXPECT_EQ(s[c.cursor + 20], c.cursor);
    }
    EXPECT_EQ(r.logLine, Format(c.inside ? "Pasted 20 samples at position %lld. Extended existing region."
                                         : "Pasted 20 samples at position %lld. Created new region.",
                                static_cast<long long>(c.cursor)));
  }
}

TEST(AudioClipboardPaste, NewRegionTakesTheBlocksRegionWithItsLoopClampedIntoThePaste) {
  CWavLoader a = Ramp(100);
  InstrumentData inst;
  AudioClipboardBlock b = Block(20);  // copied from source frames 1000..1020
  Region src = R(900, 1100, 990, 1005);  // loop starts before the copy
  src.loKey = 40;
  src.hiKey = 50;
  src.rootNote = 45;
  b.region = src;
  ASSERT_FALSE(PasteInsert(a, inst, 50, b, nullptr).refusal);
  ASSERT_EQ(inst.regions.size(), 1u);
  const Region& r = inst.regions[0];
  EXPECT_EQ(FramesOf(inst), (std::vector<Frames>{{50, 70, 50, 55}}));
  EXPECT_EQ(r.rootNote, 45);
  EXPECT_TRUE(inst.hasInstrument);

  // Without a region in the block: keys 0..127, root 60.
  CWavLoader a2 = Ramp(100);
  InstrumentData inst2;
  ASSERT_FALSE(PasteInsert(a2, inst2, 10, Block(20), nullptr).refusal);
  ASSERT_EQ(inst2.regions.size(), 1u);
  EXPECT_EQ(inst2.regions[0].loKey, 0);
  EXPECT_EQ(inst2.regions[0].hiKey, 127);
  EXPECT_EQ(inst2.regions[0].rootNote, 60);
}

TEST(AudioClipboardPaste, RefusalsChangeNothing) {
  CWavLoader a = Ramp(100);
  InstrumentData inst;
  inst.regions = {R(0, 100)};
  const auto before = a.data;
  const PasteResult beyond = PasteInsert(a, inst, 101, Block(20), nullptr);
  ASSERT_TRUE(beyond.refusal);
  EXPECT_EQ(beyond.refusal->message, "Cursor position is beyond audio data bounds.");
  // A block whose bytes disagree with its frame count is never pasted.
  AudioClipboardBlock lying = Block(20);
  lying.frameCount = 30;
  EXPECT_EQ(PasteInsert(a, inst, 10, lying, nullptr).refusal->message, kClipboardDecodeFailed);
  EXPECT_EQ(PasteInPlace(a, 10, lying).refusal->message, kClipboardDecodeFailed);
  EXPECT_EQ(a.data, before);
  EXPECT_EQ(FramesOf(inst), (std::vector<Frames>{{0, 100, -1, -1}}));

  EXPECT_EQ(CheckPasteCursor(-1, 100)->message,
            "No valid cursor position. Please click on the waveform to set the paste location.");
  EXPECT_FALSE(CheckPasteCursor(100, 100));
  EXPECT_EQ(CheckPasteInPlaceCursor(100, 100)->message,
            "Cursor position is at or beyond audio data bounds. Cannot paste in place.");
}

TEST(AudioClipboardPaste, InPlaceOverwritesUpToTheEnd) {
  CWavLoader a = Ramp(100);
  PasteResult r = PasteInPlace(a, 10, Block(20));
  ASSERT_FALSE(r.refusal);
  std::vector<int16_t> s = Samples(a);
  ASSERT_EQ(s.size(), 100u);
  EXPECT_EQ(s[9], 9);
  EXPECT_EQ(s[10], -1);
  EXPECT_EQ(s[29], -20);
  EXPECT_EQ(s[30], 30);
  EXPECT_EQ(r.logLine, "Pasted in place 20 samples at position 10.");

  r = PasteInPlace(a, 90, Block(20));
  s = Samples(a);
  ASSERT_EQ(s.size(), 100u);
  EXPECT_EQ(s[99], -10);
  EXPECT_EQ(r.frames, 10);
  EXPECT_EQ(r.selEnd, 100);
  EXPECT_EQ(r.logLine, "Pasted in place 10 samples at position 90 (clipped 10 samples at end).");
}

TEST(AudioClipboardPaste, FitsTheBlockToTheDocument) {
  std::vector<std::string> log;
  const PcmFormat mono16{1, 1, 44100, 88200, 2, 16};

  AudioClipboardBlock stereo = Block(4);
  stereo.channels = 2;
  stereo.frameCount = 2;
  EXPECT_EQ(FitBlockToDocument(stereo, mono16, true, log)->message,
            "Audio format mismatch!\n\nClipboard: 2 channels, 16-bit\nDocument: 1 channels, 16-bit\n\nCannot paste "
            "audio with different channel count or bit depth.");

  AudioClipboardBlock eight;
  eight.channels = 1;
  eight.bitsPerSample = 8;
  eight.sampleRate = 48000;
  eight.frameCount = 3;
  eight.pcm = {128, 128, 128};
  const PcmFormat mono8{1, 1, 44100, 44100, 1, 8};
  EXPECT_EQ(FitBlockToDocument(eight, mono8, true, log)->message,
            "Sample rate mismatch: Clipboard is 48000 Hz, Document is 44100 Hz.\n\nAutomatic resampling is only "
            "supported for 16-bit audio.\nCurrent document is 8-bit.");
  EXPECT_TRUE(log.empty());

  // 48000 Hz into 44100 Hz: the audio is converted, the positions rescaled.
  AudioClipboardBlock b = Block(4800, 48000);
  b.sourceStart = 48000;
  b.region = R(0, 96000, 48000, 96000);
  const AudioClipboardBlock original = b;
  ASSERT_FALSE(FitBlockToDocument(b, mono16, true, log));
  EXPECT_EQ(b.frameCount, 4410);
  EXPECT_EQ(b.pcm.size(), 4410u * 2);
  EXPECT_EQ(b.sampleRate, 44100u);
  EXPECT_EQ(b.sourceStart, 44100);
  EXPECT_EQ(b.region->loopStart, 44100);
  EXPECT_EQ(b.region->loopEnd, 88200);
  EXPECT_THAT(log, ElementsAre("Resampling clipboard audio: 48000 Hz to 44100 Hz...",
                               "Resampling complete: 4800 samples to 4410 samples"));
  std::vector<int16_t> in(4800), expected;
  std::memcpy(in.data(), original.pcm.data(), original.pcm.size());
  SincFilterSpec spec = SincFilterSpec::Best();
  ResampleSinc(spec, expected, in.data(), 4800, 1, 48000.0 / 44100.0);
  std::vector<int16_t> got(4410);
  std::memcpy(got.data(), b.pcm.data(), b.pcm.size());
  EXPECT_EQ(got, expected);

  // Paste in place converts the audio but leaves the positions.
  AudioClipboardBlock inPlace = original;
  ASSERT_FALSE(FitBlockToDocument(inPlace, mono16, false, log));
  EXPECT_EQ(inPlace.sourceStart, 48000);
  EXPECT_EQ(inPlace.frameCount, 4410);

  // Then the paste inserts exactly the converted frames.
  CWavLoader a = Ramp(100);
  InstrumentData inst;
  EXPECT_EQ(PasteInsert(a, inst, 100, b, nullptr).frames, 4410);
  EXPECT_EQ(a.FrameCount(), 4510);
}

// ---------------------------------------------------------------- Append --

class AppendTest : public ::testing::Test {
 protected:
  ScriptedMessageHost host;
};

TEST_F(AppendTest, NewRegionKeyedAboveTheOthers) {
  struct Case {
    std::vector<int32_t> hiKeys;
    int32_t lo, hi, root;
  };
  const Case cases[] = {{{}, 60, 127, 60}, {{40, 70}, 71, 71, 71}, {{127}, 127, 127, 127}};
  for (const Case& c : cases) {
    CWavLoader doc = Ramp(100);
    InstrumentData inst;
    for (size_t i = 0; i < c.hiKeys.size(); ++i) {
      Region r = R(static_cast<int64_t>(i) * 10, static_cast<int64_t>(i) * 10 + 10);
      r.hiKey = c.hiKeys[i];
      inst.regions.push_back(r);
    }
    CWavLoader file = Mono16({7, 8, 9});
    std::vector<std::string> log;
    ASSERT_FALSE(PrepareAppendSource(file, doc.format, "take.wav", log));
    EXPECT_TRUE(log.empty());
    const AppendResult r = AppendAudio(doc, inst, file, "take.wav");
    ASSERT_FALSE(r.refusal);
    EXPECT_EQ(r.start, 100);
    EXPECT_EQ(r.frames, 3);
    const Region& added = inst.regions.back();
    EXPECT_EQ(added.startSample, 100);
    EXPECT_EQ(added.endSample, 103);
    EXPECT_FALSE(added.HasLoop());
    EXPECT_EQ(added.loKey, c.lo);
    EXPECT_EQ(added.hiKey, c.hi);
    EXPECT_EQ(added.rootNote, c.root);
    EXPECT_TRUE(inst.hasInstrument);
    const std::vector<int16_t> s = Samples(doc);
    EXPECT_THAT(std::vector<int16_t>(s.end() - 4, s.end()), ElementsAre(99, 7, 8, 9));
    EXPECT_THAT(r.logLines, ElementsAre("--- Appended WAV: take.wav ---", "Appended 3 samples (0.000 seconds)",
                                        Format("New region created: samples 100 - 103, MIDI keys %d - %d", c.lo, c.hi),
                                        "Total audio duration: 0.002 seconds"));
  }
}

TEST_F(AppendTest, FileAtAnotherRateIsConverted) {
  CWavLoader doc = Ramp(100);
  InstrumentData inst;
  std::vector<int16_t> tone(4800);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(i % 100 * 100);
  CWavLoader file = Mono16(tone, 48000);
  std::vector<std::string> log;
  ASSERT_FALSE(PrepareAppendSource(file, doc.format, "take.wav", log));
  EXPECT_THAT(log, ElementsAre("Resampling take.wav from 48000 Hz to 44100 Hz...", "Resampling complete."));
  std::vector<int16_t> expected;
  SincFilterSpec spec = SincFilterSpec::Best();
  ResampleSinc(spec, expected, tone.data(), tone.size(), 1, 48000.0 / 44100.0);
  EXPECT_EQ(Samples(file), expected);
  const AppendResult r = AppendAudio(doc, inst, file, "take.wav");
  EXPECT_EQ(r.frames, 4410);
  EXPECT_EQ(doc.FrameCount(), 4510);
  EXPECT_EQ(inst.regions.back().endSample, 4510);
}

TEST_F(AppendTest, AudioStillNotMono16BitIsRefused) {
  // Three channels stay three after the mix to mono: their bytes would be
  // read as other samples.
  CWavLoader three = Mono16({1, 2, 3, 4, 5, 6});
  three.format = PcmFormat{1, 3, 44100, 44100 * 6, 6, 16};
  CWavLoader doc = Ramp(100);
  std::vector<std::string> log;
  const auto refusal = PrepareAppendSource(three, doc.format, "x.wav", log);
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->message, "Error: Audio conversion failed.");

  // Also when the rates differ (the question was answered Yes).
  three.format.nSamplesPerSec = 48000;
  EXPECT_EQ(PrepareAppendSource(three, doc.format, "x.wav", log)->message, "Error: Audio conversion failed.");

  // A file at rate 0 cannot be converted.
  CWavLoader zero = Mono16({1, 2, 3}, 0);
  EXPECT_EQ(PrepareAppendSource(zero, doc.format, "x.wav", log)->message, "Error: Audio conversion failed.");
  EXPECT_EQ(doc.FrameCount(), 100);
}

}  // namespace
}  // namespace zandrel::test
