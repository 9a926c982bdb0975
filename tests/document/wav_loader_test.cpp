#include "document/wav_loader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/file_limits.h"
#include "support/named_pipe.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::ElementsAre;

class WavLoaderTest : public ::testing::Test {
 protected:
  CWavLoader LoadBytes(const Bytes& bytes) {
    const auto path = dir_ / "in.wav";
    WriteFileBytes(path, bytes);
    CWavLoader wav;
    EXPECT_TRUE(wav.Load(path));
    return wav;
  }
  Bytes SaveBytes(CWavLoader& wav, float maxSeconds = -1) {
    const auto path = dir_ / "out.wav";
    EXPECT_TRUE(wav.Save(path, maxSeconds));
    return ReadFileBytes(path);
  }

  ScriptedMessageHost host_;
  TempDir dir_;
};

std::vector<int16_t> Samples16(const CWavLoader& wav) {
  std::vector<int16_t> out(wav.data.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<int16_t>(ReadLE16(wav.data.data() + 2 * i));
  return out;
}

// ------------------------------------------------------------------ Load --

TEST_F(WavLoaderTest, RefusesFilesThatAreNotRiffWaveAndStaysUnchanged) {
  CWavLoader wav = LoadBytes(MakePcm16Wav({1, 2, 3}));
  const auto path = dir_ / "bad.wav";
  const struct {
    Bytes bytes;
    const char* message;
  } cases[] = {
      {Text("RIFX\x04\0\0\0WAVE"), "This is not a valid RIFF file."},
      {Text("RI"), "This is not a valid RIFF file."},
      {Cat({Text("RIFF"), LE32(4), Text("AVI ")}), "This is not a valid WAVE file."},
      {Text("RIFF\x04\0\0\0"), "This is not a valid WAVE file."},
  };
  for (const auto& c : cases) {
    WriteFileBytes(path, c.bytes);
    EXPECT_FALSE(wav.Load(path));
    EXPECT_EQ(host_.Texts().back(), c.message);
    EXPECT_THAT(Samples16(wav), ElementsAre(1, 2, 3));
  }
  const size_t boxes = host_.Shown().size();
  EXPECT_FALSE(wav.Load(dir_ / "does-not-exist.wav"));  // silently: the caller reports
  EXPECT_EQ(host_.Shown().size(), boxes);
}

TEST_F(WavLoaderTest, ANamedPipeOrADeviceIsRefusedWithoutWaitingOnIt) {
  NamedPipe pipe(dir_ / "pipe.wav");
  ASSERT_TRUE(pipe.Created());
  const struct {
    std::filesystem::path path;
    const char* message;
  } cases[] = {
      {pipe.Path(), "Cannot open pipe.wav: it is not a regular file."},
      {"/dev/null", "Cannot open null: it is not a regular file."},
  };
  for (const auto& c : cases) {
    for (const bool forEditing : {false, true}) {
      CWavLoader wav;
      wav.data = {1, 2};
      EXPECT_FALSE(forEditing ? wav.LoadForEditing(c.path) : wav.Load(c.path)) << c.path;
      EXPECT_EQ(wav.data, (std::vector<uint8_t>{1, 2}));
      ASSERT_FALSE(host_.Shown().empty());
      EXPECT_EQ(host_.Shown().back().text, c.message);
      EXPECT_EQ(host_.Shown().back().icon, MessageIcon::Error);
    }
  }
  EXPECT_FALSE(pipe.Rescued());  // nothing ever waited for a writer
}

TEST_F(WavLoaderTest, ReadsFormatRecordsOfEveryLength) {
  // 18-byte plain fmt: 16 bytes used, 2 skipped.
  CWavLoader wav = LoadBytes(
      WavBuilder().Chunk("fmt ", Cat({FmtRecord(1, 1, 44100, 16), LE16(0)})).Data(Pcm16({7})).Build());
  EXPECT_EQ(wav.format, (PcmFormat{1, 1, 44100, 88200, 2, 16}));
  EXPECT_EQ(wav.isExtensible, 0);
  EXPECT_THAT(Samples16(wav), ElementsAre(7));

  // 40-byte extensible fmt: the full copy is kept.
  const Bytes ext = ExtensibleFmtRecord(2, 48000, 24, 1);
  wav = LoadBytes(WavBuilder().Chunk("fmt ", ext).Data(Bytes(6, 0)).Build());
  EXPECT_EQ(wav.format.wFormatTag, 0xFFFE);
  EXPECT_EQ(wav.isExtensible, 1);
  EXPECT_TRUE(std::equal(ext.begin(), ext.end(), wav.extensibleFormat.begin()));

  // A 22-byte extensible fmt is too short for the copy.
  wav = LoadBytes(WavBuilder().Chunk("fmt ", Bytes(ext.begin(), ext.begin() + 22)).Build());
  EXPECT_EQ(wav.format.wFormatTag, 0xFFFE);
  EXPECT_EQ(wav.isExtensible, 0);

  // A short fmt leaves the missing fields 0.
  wav = LoadBytes(WavBuilder().Chunk("fmt ", Cat({LE16(1), LE16(2)})).Build());
  EXPECT_EQ(wav.format, (PcmFormat{1, 2, 0, 0, 0, 0}));
}

TEST_F(WavLoaderTest, KeepsOtherChunksInOrderAndTheLastDataChunk) {
  CWavLoader wav = LoadBytes(WavBuilder()
                                 .Chunk("LIST", Bytes(27, 'L'))
                                 .Fmt(1, 1, 44100, 16)
                                 .Data(Pcm16({1, 2}))
                                 .Chunk("smpl", Bytes(36, 0))
                                 .Data(Pcm16({3}))
                                 .Chunk("zzzz", Bytes{9})
                                 .Build());
  ASSERT_EQ(wav.chunks.size(), 3u);
  EXPECT_TRUE(wav.chunks[0].Is("LIST"));
  EXPECT_EQ(wav.chunks[0].size, 27u);  // the pad byte is not part of the chunk
  EXPECT_EQ(wav.chunks[0].data.size(), 27u);
  EXPECT_TRUE(wav.chunks[1].Is("smpl"));
  EXPECT_TRUE(wav.chunks[2].Is("zzzz"));
  EXPECT_THAT(Samples16(wav), ElementsAre(3));
}

TEST_F(WavLoaderTest, ATruncatedDataChunkKeepsWhatTheFileHoldsInWholeFrames) {
  const auto path = dir_ / "short.wav";
  const struct {
    Bytes bytes;
    std::vector<int16_t> samples;
    const char* warning;
  } cases[] = {
      {WavBuilder().Fmt(1, 1, 8000, 16).RawChunk("data", 8, Pcm16({5, 6})).Build(), {5, 6},
       "Warning: The file lacks 4 bytes of the audio data its header declares; the audio ends where the file ends."},
      // Stereo: the half frame at the end goes.
      {WavBuilder().Fmt(1, 2, 8000, 16).RawChunk("data", 100, Pcm16({1, 2, 3})).Build(), {1, 2},
       "Warning: The file lacks 94 bytes of the audio data its header declares; the audio ends where the file ends."},
      // The size field of a damaged 8.8 KB file: no minutes of silence.
      {WavBuilder().Fmt(1, 1, 44100, 16).RawChunk("data", 0xFFFFFFFF, Pcm16(std::vector<int16_t>(4400, 7))).Build(),
       std::vector<int16_t>(4400, 7),
       "Warning: The file lacks 4294958495 bytes of the audio data its header declares; the audio ends where the file "
       "ends."},
  };
  for (const auto& c : cases) {
    WriteFileBytes(path, c.bytes);
    CWavLoader wav;
    WavLoadReport report;
    ASSERT_TRUE(wav.Load(path, &report));
    EXPECT_EQ(Samples16(wav), c.samples);
    EXPECT_THAT(report.warnings, ElementsAre(c.warning));
  }

  // A whole file says nothing.
  WavLoadReport report;
  CWavLoader wav;
  ASSERT_TRUE(wav.LoadFromMemory(MakePcm16Wav({1, 2}), "x.wav", &report));
  EXPECT_TRUE(report.warnings.empty());

  // Other chunks keep their declared size with zeros.
  wav = LoadBytes(WavBuilder().Fmt(1, 1, 8000, 16).Data(Pcm16({5})).RawChunk("junk", 6, Text("ab")).Build());
  ASSERT_EQ(wav.chunks.size(), 1u);
  EXPECT_EQ(wav.chunks[0].data, (Bytes{'a', 'b', 0, 0, 0, 0}));

  // An incomplete chunk header ends the walk.
  wav = LoadBytes(WavBuilder().Fmt(1, 1, 8000, 16).Data(Pcm16({5})).Tail(Text("smp")).Build());
  EXPECT_TRUE(wav.chunks.empty());
  EXPECT_THAT(Samples16(wav), ElementsAre(5));
}

TEST_F(WavLoaderTest, AChunkRunningPastTheEndBeforeAnyDataRefusesTheFile) {
  CWavLoader wav = LoadBytes(MakePcm16Wav({1, 2, 3}));
  const auto path = dir_ / "swallowed.wav";
  const struct {
    Bytes bytes;
    const char* message;
  } cases[] = {
      // The LIST chunk's size swallows the fmt and data chunks behind it.
      {WavBuilder().RawChunk("LIST", 5000, Text("INFO")).Fmt(1, 1, 8000, 16).Data(Pcm16({9, 9})).Build(),
       "Cannot open swallowed.wav: a chunk claims more bytes than the file holds (the \"LIST\" chunk declares 5000 "
       "bytes, the file holds 40 after its header), so the audio cannot be found."},
      {WavBuilder().Fmt(1, 1, 8000, 16).RawChunk("junk", 0xFFFFFFFF, Text("ab")).Build(),
       "Cannot open swallowed.wav: a chunk claims more bytes than the file holds (the \"junk\" chunk declares "
       "4294967295 bytes, the file holds 2 after its header), so the audio cannot be found."},
  };
  for (const auto& c : cases) {
    WriteFileBytes(path, c.bytes);
    EXPECT_FALSE(wav.Load(path));
    ASSERT_FALSE(host_.Shown().empty());
    EXPECT_EQ(host_.Shown().back().text, c.message);
    EXPECT_EQ(host_.Shown().back().icon, MessageIcon::Error);
    EXPECT_THAT(Samples16(wav), ElementsAre(1, 2, 3));  // unchanged
  }
}

TEST_F(WavLoaderTest, AHugeDeclaredSizeDoesNotDriveTheAllocation) {
  CWavLoader wav = LoadBytes(WavBuilder()
                                 .Fmt(1, 1, 8000, 16)
                                 .Data(Pcm16({4}))
                                 .Chunk("LIST", Text("INFO"))
                                 .RawChunk("junk", 0xFFFFFFFF, Text("ab"))
                                 .Build());
  ASSERT_EQ(wav.chunks.size(), 2u);
  EXPECT_EQ(wav.chunks[1].size, 0xFFFFFFFFu);  // declared size kept for the report
  EXPECT_EQ(wav.chunks[1].data.size(), 2 + CWavLoader::kMaxZeroFill);

  wav = LoadBytes(WavBuilder().Fmt(1, 1, 8000, 16).RawChunk("data", 0xFFFFFFF0, Pcm16({1})).Build());
  EXPECT_EQ(wav.data.size(), 2u);
}

TEST_F(WavLoaderTest, MemoryAndFilePathsReadAndWriteTheSameBytes) {
  const Bytes file = WavBuilder()
                         .Fmt(1, 2, 22050, 16)
                         .Chunk("LIST", ListInfo({{"INAM", Text("name")}}))
                         .Data(Pcm16({1, -1, 300, -300, 7, 8}))
                         .Chunk("smpl", SmplBody(60))
                         .Build();
  CWavLoader fromFile = LoadBytes(file);
  CWavLoader fromMemory;
  ASSERT_TRUE(fromMemory.LoadFromMemory(file));
  EXPECT_EQ(fromMemory.format, fromFile.format);
  EXPECT_EQ(fromMemory.data, fromFile.data);
  EXPECT_EQ(fromMemory.chunks, fromFile.chunks);

  const Bytes written = SaveBytes(fromFile, 0.0001f);
  Bytes inMemory;
  ASSERT_TRUE(fromMemory.SaveToMemory(inMemory, 0.0001f));
  EXPECT_EQ(inMemory, written);
  EXPECT_EQ(fromMemory.data, fromFile.data);  // the cap applies the same way

  Bytes viaSink;
  MemoryByteSink sink(viaSink);
  ASSERT_TRUE(fromFile.WriteTo(sink, fromFile.data));
  EXPECT_EQ(viaSink, written);

  // Refusals go the same way too.
  EXPECT_FALSE(fromMemory.LoadFromMemory(Text("RIFX")));
  EXPECT_EQ(host_.Texts().back(), "This is not a valid RIFF file.");
}

TEST_F(WavLoaderTest, ALoadWithoutFmtOrDataStillSucceeds) {
  CWavLoader wav = LoadBytes(WavBuilder().Build());
  EXPECT_EQ(wav.format, PcmFormat{});
  EXPECT_EQ(wav.FrameCount(), 0);
  EXPECT_EQ(wav.DurationSeconds(), 0.0);
}

// ------------------------------------------------------------------ Save --

TEST_F(WavLoaderTest, EmptyLoaderSavesAs44Bytes) {
  CWavLoader wav;
  EXPECT_EQ(SaveBytes(wav), Cat({Text("RIFF"), LE32(36), Text("WAVEfmt "), LE32(16), Bytes(16, 0), Text("data"), LE32(0)}));
}

TEST_F(WavLoaderTest, SavePadsOddChunksWritesKeptChunksFirstAndCountsThePads) {
  CWavLoader wav = LoadBytes(WavBuilder()
                                 .Fmt(1, 1, 8000, 8)
                                 .Data(Bytes{1, 2, 3})
                                 .Chunk("LIST", Bytes(27, 'L'))
                                 .Chunk("acid", Bytes(24, 'a'))
                                 .Build());
  const Bytes out = SaveBytes(wav);
  const Bytes expected = Cat({Text("RIFF"), LE32(36 + (8 + 28) + (8 + 24) + 4), Text("WAVEfmt "), LE32(16),
                              FmtRecord(1, 1, 8000, 8), Text("LIST"), LE32(27), Bytes(27, 'L'), Bytes{0},
                              Text("acid"), LE32(24), Bytes(24, 'a'), Text("data"), LE32(3), Bytes{1, 2, 3, 0}});
  EXPECT_EQ(out, expected);
  EXPECT_EQ(out.size(), 8u + ReadLE32(out.data() + 4));
}

TEST_F(WavLoaderTest, SaveCapsDataToMaxSeconds) {
  CWavLoader wav;
  wav.format = {1, 1, 44100, 88200, 2, 16};
  wav.data.assign(5 * 88200, 1);
  SaveBytes(wav, -1);
  EXPECT_EQ(wav.data.size(), 5u * 88200);
  SaveBytes(wav, 0);
  EXPECT_EQ(wav.data.size(), 5u * 88200);
  const Bytes out = SaveBytes(wav, 2.0f);
  EXPECT_EQ(wav.data.size(), 176400u);
  EXPECT_EQ(out.size(), 44u + 176400);

  // The cap is rounded down to whole frames.
  wav.format = {1, 2, 44100, 176400, 4, 16};
  wav.data.assign(176400, 0);
  SaveBytes(wav, 0.1f);
  EXPECT_EQ(wav.data.size() % 4, 0u);
  EXPECT_EQ(wav.data.size(), 17640u);
}

TEST_F(WavLoaderTest, SaveThatCannotCreateTheFileChangesNothing) {
  CWavLoader wav;
  wav.format = {1, 1, 44100, 88200, 2, 16};
  wav.data.assign(88200 * 3, 1);
  EXPECT_FALSE(wav.Save(dir_ / "no-such-folder" / "x.wav", 1.0f));
  EXPECT_EQ(host_.Texts().back(), "Failed to create file for saving.");
  EXPECT_EQ(wav.data.size(), 88200u * 3);  // the cap applies only once the file opened
}

TEST_F(WavLoaderTest, AFailedWriteKeepsTheOldFileAndReportsFailure) {
  const auto path = dir_ / "song.wav";
  const Bytes original = MakePcm16Wav({1, 2, 3, 4});
  WriteFileBytes(path, original);
  const auto child = [&] {
    LimitFileSize(1024);
    ScriptedMessageHost host;
    CWavLoader wav;
    wav.format = {1, 1, 44100, 88200, 2, 16};
    wav.data.assign(100000, 7);
    const bool saved = wav.Save(path, -1);
    const bool told = !host.Texts().empty() && host.Texts().back().rfind("Failed to save the file", 0) == 0;
    std::exit(!saved && told ? 0 : 1);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadFileBytes(path), original);
}

TEST_F(WavLoaderTest, ExtensibleAudioIsSavedWithThePlainTagItStandsFor) {
  CWavLoader wav =
      LoadBytes(WavBuilder().Chunk("fmt ", ExtensibleFmtRecord(1, 44100, 16, 1)).Data(Pcm16({1, 2})).Build());
  wav.ConvertTo16Bit();  // 16-bit extensible PCM is left as it is...
  EXPECT_EQ(wav.format.wFormatTag, 0xFFFE);
  const Bytes out = SaveBytes(wav);
  EXPECT_EQ(ReadLE16(out.data() + 20), 1);  // ...but never written as 0xFFFE in a 16-byte fmt

  wav.isExtensible = 0;  // 0xFFFE without the extensible record counts as PCM
  EXPECT_EQ(wav.EffectiveFormatTag(), 1);
}

TEST_F(WavLoaderTest, SaveThenLoadRoundTrips) {
  CWavLoader wav = LoadBytes(
      WavBuilder().Fmt(1, 2, 48000, 16).Chunk("LIST", Text("INFOINAM\x03\0\0\0ab\0\0")).Data(Pcm16({1, -1, 300, -300})).Build());
  SaveBytes(wav);
  CWavLoader back;
  ASSERT_TRUE(back.Load(dir_ / "out.wav"));
  EXPECT_EQ(back.format, wav.format);
  EXPECT_EQ(back.data, wav.data);
  EXPECT_EQ(back.chunks, wav.chunks);
}

// ------------------------------------------------------------ MixToMono --

TEST_F(WavLoaderTest, MixToMonoAveragesEachWidth) {
  CWavLoader wav;
  wav.format = {1, 2, 1000, 0, 4, 16};
  wav.data = Pcm16({-3, 0, 100, 201, -32768, -32768});
  wav.MixToMono();
  EXPECT_THAT(Samples16(wav), ElementsAre(-1, 150, -32768));  // truncation toward zero
  EXPECT_EQ(wav.format, (PcmFormat{1, 1, 1000, 2000, 2, 16}));

  wav.format = {1, 2, 1000, 0, 2, 8};
  wav.data = {0xFF, 0x00, 3, 4};
  wav.MixToMono();
  EXPECT_EQ(wav.data, (Bytes{0x7F, 3}));  // floor of the mean

  wav.format = {1, 2, 1000, 0, 6, 24};
  wav.data = {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x80};  // (-1,0), (min,min)
  wav.MixToMono();
  EXPECT_EQ(wav.data, (Bytes{0, 0, 0, 0x00, 0x00, 0x80}));

  wav.format = {3, 2, 1000, 0, 8, 32};
  wav.data = Cat({FloatLE(0.5f), FloatLE(0.25f)});
  wav.MixToMono();
  EXPECT_EQ(ReadLEFloat(wav.data.data()), 0.375f);

  wav.format = {1, 2, 1000, 0, 8, 32};
  wav.data = Cat({LE32(0x7FFFFFFF), LE32(0x7FFFFFFF)});
  wav.MixToMono();
  EXPECT_EQ(static_cast<int32_t>(ReadLE32(wav.data.data())), 0x7FFFFFFF);  // no overflow
}

TEST_F(WavLoaderTest, MixingAndConvertingALongFileInPlaceKeepsEveryFrame) {
  // Both passes reuse the loaded bytes: every later frame must still be read
  // before an earlier result overwrites it.
  CWavLoader wav;
  wav.format = {1, 2, 44100, 0, 6, 24};
  const int frames = 5000;
  std::vector<int32_t> left(frames), right(frames);
  for (int i = 0; i < frames; ++i) {
    left[i] = (i * 7919) % 8388607 - 4194304;
    right[i] = 4194303 - (i * 104729) % 8388607;
    for (int32_t v : {left[i], right[i]})
      for (int b = 0; b < 3; ++b) wav.data.push_back(static_cast<uint8_t>(v >> (8 * b)));
  }
  wav.MixToMono();
  wav.ConvertTo16Bit();
  ASSERT_EQ(wav.data.size(), 2u * frames);
  const std::vector<int16_t> got = Samples16(wav);
  for (int i = 0; i < frames; ++i) {
    const int32_t mean = (left[i] + right[i]) / 2;
    ASSERT_EQ(got[i], std::min((mean + 128) >> 8, 32767)) << "frame " << i;
  }
  EXPECT_EQ(wav.format, (PcmFormat{1, 1, 44100, 88200, 2, 16}));
}

// Bytes of every value (noise, NaN and infinite floats, odd lengths).
Bytes NoiseBytes(size_t n, uint32_t seed) {
  Bytes out(n);
  for (uint8_t& b : out) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

TEST_F(WavLoaderTest, LoadingForEditingEqualsLoadingThenMixingAndConverting) {
  // The editor converts while it reads, a block of the file at a time; the
  // result must be what loading and the two passes make of the same file.
  // Long bodies cross several blocks and end in the middle of one, some in
  // the middle of a frame.
  const size_t kLong = 300001;
  const struct {
    Bytes file;
    const char* what;
  } cases[] = {
      {WavBuilder().Fmt(1, 2, 44100, 24).Data(NoiseBytes(kLong, 1)).Build(), "24-bit stereo"},
      {WavBuilder().Fmt(1, 2, 44100, 8).Data(NoiseBytes(kLong, 2)).Build(), "8-bit stereo"},
      {WavBuilder().Fmt(1, 2, 44100, 16).Data(NoiseBytes(kLong, 3)).Build(), "16-bit stereo"},
      {WavBuilder().Fmt(1, 2, 44100, 32).Data(NoiseBytes(kLong, 4)).Build(), "32-bit stereo"},
      {WavBuilder().Fmt(3, 2, 44100, 32).Data(NoiseBytes(kLong, 5)).Build(), "float stereo"},
      {WavBuilder().Fmt(1, 1, 44100, 24).Data(NoiseBytes(kLong, 6)).Build(), "24-bit mono"},
      {WavBuilder().Fmt(1, 1, 44100, 8).Data(NoiseBytes(kLong, 7)).Build(), "8-bit mono"},
      {WavBuilder().Fmt(3, 1, 44100, 32).Data(NoiseBytes(kLong, 8)).Build(), "float mono"},
      {WavBuilder().Fmt(1, 1, 44100, 32).Data(NoiseBytes(kLong, 9)).Build(), "32-bit mono"},
      {WavBuilder().Fmt(1, 4, 44100, 24).Data(NoiseBytes(kLong, 10)).Build(), "24-bit, four channels"},
      {WavBuilder().Fmt(1, 1, 44100, 16).Data(NoiseBytes(1001, 11)).Build(), "16-bit mono"},
      {WavBuilder().Chunk("fmt ", ExtensibleFmtRecord(2, 48000, 16, 1)).Data(NoiseBytes(999, 12)).Build(),
       "extensible 16-bit stereo"},
      {WavBuilder().Chunk("fmt ", ExtensibleFmtRecord(2, 48000, 32, 3)).Data(NoiseBytes(999, 13)).Build(),
       "extensible float stereo"},
      {WavBuilder().Fmt(1, 2, 8000, 24).RawChunk("data", 5000, NoiseBytes(1003, 14)).Build(),
       "truncated data chunk"},
      {WavBuilder().Fmt(1, 2, 8000, 24).Data({}).Build(), "empty data chunk"},
      {WavBuilder().Fmt(1, 2, 8000, 24).Data(NoiseBytes(5, 15)).Build(), "less than a frame"},
      {WavBuilder().Fmt(1, 2, 8000, 24).Build(), "no data chunk"},
      {WavBuilder().Data(NoiseBytes(600, 16)).Fmt(1, 2, 8000, 24).Build(), "format after the audio"},
      {WavBuilder().Fmt(1, 2, 8000, 8).Data(NoiseBytes(64, 17)).Fmt(1, 2, 8000, 24).Data(NoiseBytes(66, 18)).Build(),
       "two formats, two data chunks"},
      {WavBuilder().Fmt(2, 2, 8000, 4).Data(NoiseBytes(600, 19)).Build(), "ADPCM, left as stored"},
      {WavBuilder().Fmt(1, 2, 8000, 24, 8).Data(NoiseBytes(600, 20)).Build(), "padded frames, left as stored"},
      {WavBuilder().Fmt(1, 2, 8000, 12).Data(NoiseBytes(600, 21)).Build(), "12-bit, left as stored"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto path = dir_ / "in.wav";
    WriteFileBytes(path, c.file);
    CWavLoader expected;
    WavLoadReport expectedReport;
    ASSERT_TRUE(expected.Load(path, &expectedReport));
    if (UnsupportedFormatReason(expected).empty()) {
      expected.MixToMono();
      expected.ConvertTo16Bit();
    }

    CWavLoader fromFile, fromMemory;
    WavLoadReport fileReport, memoryReport;
    ASSERT_TRUE(fromFile.LoadForEditing(path, &fileReport));
    ASSERT_TRUE(fromMemory.LoadFromMemoryForEditing(c.file, "in.wav", &memoryReport));
    for (const CWavLoader* got : {&fromFile, &fromMemory}) {
      EXPECT_EQ(got->format, expected.format);
      EXPECT_EQ(got->isExtensible, expected.isExtensible);
      EXPECT_EQ(got->chunks, expected.chunks);
      ASSERT_EQ(got->data.size(), expected.data.size());
      EXPECT_TRUE(got->data == expected.data);
    }
    EXPECT_EQ(fileReport.warnings, expectedReport.warnings);
    EXPECT_EQ(memoryReport.warnings, expectedReport.warnings);
  }
}

TEST_F(WavLoaderTest, LoadingForEditingRefusesWhatLoadingRefuses) {
  CWavLoader wav;
  EXPECT_FALSE(wav.LoadForEditing(dir_ / "missing.wav"));
  const Bytes swallowed =
      WavBuilder().RawChunk("LIST", 5000, Text("INFO")).Fmt(1, 2, 8000, 24).Data(NoiseBytes(60, 1)).Build();
  EXPECT_FALSE(wav.LoadFromMemoryForEditing(swallowed, "swallowed.wav"));
  ASSERT_FALSE(host_.Shown().empty());
  EXPECT_THAT(host_.Shown().back().text, ::testing::StartsWith("Cannot open swallowed.wav: a chunk claims more"));
  EXPECT_FALSE(wav.LoadFromMemoryForEditing(Text("RIFX\x04\0\0\0WAVE")));
  EXPECT_EQ(host_.Shown().back().text, "This is not a valid RIFF file.");
  EXPECT_TRUE(wav.data.empty());
}

TEST_F(WavLoaderTest, MixToMonoLeavesOtherLayoutsAlone) {
  const struct {
    PcmFormat format;
    const char* why;
  } cases[] = {
      {{1, 1, 1000, 2000, 2, 16}, "mono"},
      {{1, 4, 1000, 8000, 8, 16}, "four channels"},
      {{1, 2, 1000, 0, 0, 16}, "block alignment 0"},
      {{1, 2, 1000, 0, 2, 16}, "block alignment smaller than two samples"},
      {{1, 2, 1000, 0, 4, 12}, "a width that is not whole bytes"},
      {{1, 2, 1000, 0, 16, 64}, "64-bit samples"},
  };
  for (const auto& c : cases) {
    CWavLoader wav;
    wav.format = c.format;
    wav.data = Bytes(16, 1);
    wav.MixToMono();
    EXPECT_EQ(wav.format, c.format) << c.why;
    EXPECT_EQ(wav.data, Bytes(16, 1)) << c.why;
  }
}

// -------------------------------------------------------- ConvertTo16Bit --

TEST_F(WavLoaderTest, ConvertTo16BitMapsEverySupportedWidth) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    PcmFormat format;
    Bytes samples;
    std::vector<int16_t> expected;
  } cases[] = {
      {{1, 1, 8000, 8000, 1, 8}, {0x80, 0xFF, 0x00}, {0, 32512, -32768}},
      {{1, 1, 8000, 24000, 3, 24},
       {0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x80, 0x00, 0x00, 0x7F, 0xFF, 0xFF},  // 8388607, -8388608, 128, -129
       {32767, -32768, 1, -1}},
      {{3, 1, 8000, 32000, 4, 32},
       Cat({FloatLE(1.5f), FloatLE(1.0f), FloatLE(0.5f), FloatLE(-1.0f), FloatLE(nan), FloatLE(-7.0f)}),
       {32767, 32767, 16384, -32767, 0, -32767}},
      {{1, 1, 8000, 32000, 4, 32},
       Cat({LE32(0x7FFFFFFF), LE32(0x80000000), LE32(65536), LE32(static_cast<uint32_t>(-32769))}),
       {32767, -32768, 1, -1}},
  };
  for (const auto& c : cases) {
    CWavLoader wav;
    wav.format = c.format;
    wav.data = c.samples;
    wav.ConvertTo16Bit();
    EXPECT_THAT(Samples16(wav), ::testing::ElementsAreArray(c.expected)) << c.format.wBitsPerSample;
    EXPECT_EQ(wav.format.wFormatTag, 1);
    EXPECT_EQ(wav.format.wBitsPerSample, 16);
    EXPECT_EQ(wav.format.nBlockAlign, 2);
    EXPECT_EQ(wav.format.nAvgBytesPerSec, 16000u);
  }
}

TEST_F(WavLoaderTest, ExtensibleFloatConvertsAsFloat) {
  CWavLoader wav = LoadBytes(WavBuilder()
                                 .Chunk("fmt ", ExtensibleFmtRecord(1, 44100, 32, 3))
                                 .Data(Cat({FloatLE(0.5f), FloatLE(-1.0f)}))
                                 .Build());
  wav.ConvertTo16Bit();
  EXPECT_THAT(Samples16(wav), ElementsAre(16384, -32767));

  wav = LoadBytes(
      WavBuilder().Chunk("fmt ", ExtensibleFmtRecord(1, 44100, 32, 1)).Data(LE32(0x40000000)).Build());
  wav.ConvertTo16Bit();
  EXPECT_THAT(Samples16(wav), ElementsAre(16384));
}

TEST_F(WavLoaderTest, FourChannelsStayFourChannelsAfterConversion) {
  CWavLoader wav = LoadBytes(WavBuilder().Fmt(1, 4, 8000, 8).Data(Bytes{0x80, 0x80, 0xFF, 0x00}).Build());
  wav.MixToMono();
  wav.ConvertTo16Bit();
  EXPECT_EQ(wav.format.nChannels, 4);
  EXPECT_EQ(wav.format.nBlockAlign, 8);
  EXPECT_THAT(Samples16(wav), ElementsAre(0, 0, 32512, -32768));
}

TEST_F(WavLoaderTest, ConvertTo16BitLeavesFormatsWhoseHeaderWouldWrap) {
  // 8-bit with 65535 channels: 2 x 65535 does not fit the 16-bit block
  // alignment; a mono rate near 2^32 Hz makes a byte rate that does not fit.
  const PcmFormat cases[] = {{1, 65535, 8000, 8000u * 65535, 65535, 8}, {1, 40000, 8000, 8000u * 40000, 40000, 8},
                             {1, 1, 0xFFFFFFF0u, 0xFFFFFFF0u, 1, 8}};
  for (const PcmFormat& f : cases) {
    EXPECT_FALSE(ConvertedFormatFits(f));
    CWavLoader wav;
    wav.format = f;
    wav.data.assign(f.nBlockAlign, 0x80);
    wav.ConvertTo16Bit();
    EXPECT_EQ(wav.format, f);
    EXPECT_EQ(wav.data.size(), f.nBlockAlign);
  }
  EXPECT_TRUE(ConvertedFormatFits({1, 32767, 8000, 8000u * 32767, 32767, 8}));
  EXPECT_TRUE(ConvertedFormatFits({1, 2, 0x7FFFFFF0u, 0, 2, 8}));  // stereo becomes mono first
}

TEST_F(WavLoaderTest, ConvertTo16BitLeavesWhatItCannotInterpret) {
  const PcmFormat cases[] = {
      {1, 1, 8000, 16000, 2, 16},     // already 16-bit PCM
      {0xFFFE, 1, 8000, 16000, 2, 16},  // 16-bit with another tag
      {1, 1, 8000, 0, 4, 24},         // block alignment disagrees with the width
      {1, 0, 8000, 0, 3, 24},         // no channels
      {1, 1, 8000, 0, 0, 32},         // block alignment 0
      {1, 1, 8000, 0, 2, 12},         // 12-bit
      {3, 1, 8000, 0, 8, 64},         // 64-bit float
  };
  for (const PcmFormat& f : cases) {
    CWavLoader wav;
    wav.format = f;
    wav.data = Bytes(24, 3);
    wav.ConvertTo16Bit();
    EXPECT_EQ(wav.format, f);
    EXPECT_EQ(wav.data, Bytes(24, 3));
  }
}

}  // namespace
}  // namespace zandrel
