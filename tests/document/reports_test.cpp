#include "document/reports.h"

#include <gmock/gmock.h>

#include "document/quorvel_doc.h"
#include "document_fixture.h"

namespace zandrel {
namespace {

using namespace zandrel::test;

std::string ReadText(const std::filesystem::path& path) {
  const Bytes b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

class ReportsTest : public DocumentTest {};

TEST_F(ReportsTest, HexPreviewShowsAtMost32Bytes) {
  EXPECT_EQ(HexPreview({}), "");
  const std::vector<uint8_t> bytes = {0x00, 0xAB, 0x7f};
  EXPECT_EQ(HexPreview(bytes), "00 ab 7f ");
  EXPECT_EQ(HexPreview(std::vector<uint8_t>(36, 0x1)).size(), 96u);
}

TEST_F(ReportsTest, WavOverviewListsTheLayoutASaveWouldWrite) {
  const std::string json = R"({"sound.playmode":"key"})";
  OpenRamp(3, 44100,
           {{"smpl", SmplBody(60, 22675)},
            {"LIST", ListInfo({{"INAM", Text("  Caf\xe9 piano \0rest")}, {"TNGE", TngeBody(json)}})}});
  const auto path = dir / "ramp_overview.txt";
  ASSERT_TRUE(Doc().WriteWavOverview(path));
  const uint32_t listSize = static_cast<uint32_t>(Doc().audio.chunks[1].data.size());
  const std::string expected = Format(
      "--- BEGIN WAV OVERVIEW ---\n"
      "File Path: %s\n"
      "Total File Size: %u bytes\n\n"
      "[RIFF Header]\n"
      "  - Chunk ID: 'RIFF'\n"
      "  - RIFF Size: %u (File Size - 8)\n"
      "  - Format: 'WAVE'\n\n"
      "[Chunk 1: fmt ]\n"
      "  - Offset: 12\n"
      "  - Size: 16\n"
      "  - Content:\n"
      "    - wFormatTag: 1 (PCM)\n"
      "    - nChannels: 1 (Mono)\n"
      "    - nSamplesPerSec: 44100\n"
      "    - nAvgBytesPerSec: 88200\n"
      "    - nBlockAlign: 2\n"
      "    - wBitsPerSample: 16\n\n"
      "[Chunk 2: smpl]\n"
      "  - Offset: 36\n"
      "  - Size: 36\n"
      "  - Content:\n"
      "    - Hex Preview: 00 00 00 00 00 00 00 00 93 58 00 00 3c 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
      "00 00 00 \n\n"
      "[Chunk 3: LIST]\n"
      "  - Offset: 80\n"
      "  - Size: %u\n"
      "  - Content:\n"
      "    - List Type: 'INFO'\n"
      "    - [INAM]: \"Caf\xc3\xa9 piano\"\n"
      "    - [TNGE]: \"%s\"\n\n"
      "[Chunk 4: data]\n"
      "  - Offset: %u\n"
      "  - Size: 6\n"
      "  - Content: (Audio data omitted)\n\n"
      "--- END WAV OVERVIEW ---\n",
      (dir / "ramp.wav").c_str(), 44 + 6 + 44 + 8 + listSize, 36 + 6 + 44 + 8 + listSize, listSize, json.c_str(),
      80 + 8 + listSize);
  EXPECT_EQ(ReadText(path), Crlf(expected));
}

TEST_F(ReportsTest, MalformedInfoAndOtherListsAreDescribed) {
  CWavLoader wav;
  RiffChunk adtl{MakeFourCC("LIST"), 4, Text("adtl")};
  RiffChunk info{MakeFourCC("LIST"), 0, Cat({ListInfo({{"INAM", Text("ok")}}), Text("ICMT"), LE32(50), Text("x")})};
  info.size = static_cast<uint32_t>(info.data.size());
  wav.chunks = {adtl, info};
  const std::string text = WavOverviewText(wav, "");
  EXPECT_THAT(text, ::testing::HasSubstr("    - List Type: 'adtl'\n\n"));
  EXPECT_THAT(text, ::testing::HasSubstr("    - [INAM]: \"ok\"\n      - (Error: Malformed sub-chunk found)\n"));
  EXPECT_THAT(text, ::testing::HasSubstr("File Path: \nTotal File Size: "));
}

TEST_F(ReportsTest, InstrumentOverviewListsSettingsAndRegions) {
  InstrumentData d;
  d.hasInstrument = true;
  d.params.pitch = -2;
  d.params.bpm = 93.5f;
  d.regions = {{0, 100, 10, 90, 0, 59, 48}, {100, 200, 150, 150, 60, 200, 72}};
  EXPECT_EQ(InstrumentOverviewText(d, "/x/a.wav"),
            "--- BEGIN INSTRUMENT DATA OVERVIEW ---\n\n"
            "Source WAV: /x/a.wav\n\n"
            "### Global Settings ###\n"
            "  - Default Root Note: 60 (C4)\n"
            "  - Sound Play Mode: key\n"
            "  - Pitch Adjustment: -2 semitones\n"
            "  - Pan: 0\n"
            "  - Amplitude: 100\n"
            "  - Envelope Attack: 0\n"
            "  - Envelope Release: 0\n"
            "  - Time Mode: off\n"
            "  - Sample Mode: multi\n\n"
            "  - BPM: 93.50\n"
            "  - Loop Start Sample: -1\n"
            "  - Loop End Sample: -1\n\n"
            "### Region Data ###\n"
            "Total Regions Found: 2\n\n"
            "--- [Region 1 of 2] ---\n"
            "  - Sample Range: 0 to 100\n"
            "  - Loop Range:   10 to 90\n"
            "  - Key Zone:     0 (C-1) to 59 (B3)\n"
            "  - Root Key:       48 (C3)\n\n"
            "--- [Region 2 of 2] ---\n"
            "  - Sample Range: 100 to 200\n"
            "  - Loop Range:   None\n"
            "  - Key Zone:     60 (C4) to 200 (Invalid)\n"
            "  - Root Key:       72 (C5)\n\n"
            "--- END INSTRUMENT DATA OVERVIEW ---\n");
}

TEST_F(ReportsTest, CommandsCheckTheirPreconditionsAndReportFailures) {
  Doc().OnExportOverview();
  EXPECT_EQ(host.Texts().back(), "Please open a WAV file first.");
  OpenRamp(10);
  Doc().OnExportInstrumentData();
  EXPECT_EQ(host.Texts().back(), "No instrument data (TNGE chunk) was found in this file.");

  dialogs.Answer(dir / "nowhere" / "a.txt");
  Doc().OnExportOverview();
  EXPECT_EQ(dialogs.saveRequests.back().defaultPath, dir / "ramp_overview.txt");
  EXPECT_EQ(host.Texts().back(), "Failed to create the overview file.");

  Doc().instrument.hasInstrument = true;
  dialogs.Answer(dir / "inst.txt");
  Doc().OnExportInstrumentData();
  EXPECT_EQ(dialogs.saveRequests.back().defaultPath, dir / "ramp_instrument.txt");
  EXPECT_THAT(ReadText(dir / "inst.txt"), ::testing::StartsWith("--- BEGIN INSTRUMENT DATA OVERVIEW ---\r\n\r\n"));

  // A write that fails part-way is reported and leaves the old file.
  const auto child = [&] {
    LimitFileSize(200);
    ScriptedMessageHost childHost;
    const bool ok = Doc().WriteInstrumentOverview(dir / "inst.txt");
    std::exit(!ok && childHost.Texts().back().rfind("Failed to write inst.txt", 0) == 0 ? 0 : 1);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
  EXPECT_THAT(ReadText(dir / "inst.txt"), ::testing::StartsWith("--- BEGIN INSTRUMENT DATA OVERVIEW ---\r\n"));
}

}  // namespace
}  // namespace zandrel
