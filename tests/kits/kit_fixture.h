// A document wired as the app wires it (see document_fixture.h), with a log
// that also remembers the lines an import clears, and helpers that build kit
// folders: WAV files of recognisable ramps and program files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "document/document_fixture.h"

namespace zandrel::test {

// Keeps every line ever appended, also after Clear(): an import clears the
// log after loading, and the lines of skipped samples must still be seen.
class HistoryLog final : public LogSink {
 public:
  void Clear() override { lines.clear(); }
  void RemoveLastLine() override {
    if (!lines.empty()) lines.pop_back();
  }
  size_t LineCount() const override { return lines.size(); }
  std::vector<std::string> lines;    // what the log pane shows
  std::vector<std::string> history;  // everything ever appended

 protected:
  void AddLine(std::string line) override {
    history.push_back(line);
    lines.push_back(std::move(line));
  }
};

class HistoryFrame final : public DocumentFrame {
 public:
  LogSink& Log() override { return log; }
  int MaxDeviceRegions() const override { return maxRegions; }
  HistoryLog log;
  int maxRegions = 8;
};

// |count| samples counting up from |first|: every file of a kit gets its own
// range, so the joined audio shows which file went where.
inline std::vector<int16_t> Ramp(int first, int count) {
  std::vector<int16_t> samples(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) samples[static_cast<size_t>(i)] = static_cast<int16_t>(first + i);
  return samples;
}

inline Bytes PcmBytes(const std::vector<int16_t>& samples) { return Pcm16(samples); }

class KitTest : public DocumentTest {
 protected:
  CQuorvelDoc& KitDoc() {
    CQuorvelDoc& doc = Doc();
    doc.SetFrame(&history);
    return doc;
  }
  std::filesystem::path WriteWav(const std::filesystem::path& path, const std::vector<int16_t>& samples,
                                 uint32_t rate = 44100, uint16_t channels = 1) {
    std::filesystem::create_directories(path.parent_path());
    WriteFileBytes(path, MakePcm16Wav(samples, channels, rate));
    return path;
  }
  // A document with audio, regions and history, to see that a failed import
  // leaves it alone.
  void OpenExisting() {
    OpenRamp(1000);
    CQuorvelDoc& doc = KitDoc();
    ASSERT_TRUE(doc.PushUndo(kUndoRegionsOnly, "edit"));
    doc.instrument.hasInstrument = true;
    doc.instrument.regions = {Region{0, 500, -1, -1, 0, 127, 60}};
    doc.SetModifiedFlag(true);
    history.log.Clear();
    history.log.AppendLog("before");
    observer.events.clear();
  }
  void ExpectUnchanged() {
    CQuorvelDoc& doc = KitDoc();
    EXPECT_EQ(doc.FrameCount(), 1000);
    EXPECT_EQ(doc.instrument.regions, (std::vector<Region>{Region{0, 500, -1, -1, 0, 127, 60}}));
    EXPECT_EQ(doc.GetTitle(), "ramp.wav");
    EXPECT_TRUE(doc.IsModified());
    EXPECT_TRUE(doc.CanUndo());
    EXPECT_EQ(history.log.lines.front(), "before");
    EXPECT_TRUE(observer.events.empty());
  }

  HistoryFrame history;
};

}  // namespace zandrel::test
