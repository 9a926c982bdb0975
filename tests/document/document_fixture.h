// A document wired as the app wires it: a main frame with a log, an observer,
// scripted boxes and file choosers, in-memory settings, and a private folder.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "document/quorvel_doc.h"
#include "platform/settings.h"
#include "platform/text_format.h"
#include "support/document_fakes.h"
#include "support/file_limits.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"

namespace zandrel::test {

class DocumentTest : public ::testing::Test {
 protected:
  DocumentTest() : settingsScope_(&settings) {}

  // Makes the document (after the test set its settings).
  CQuorvelDoc& Doc() {
    if (!doc_) {
      doc_ = std::make_unique<CQuorvelDoc>();
      doc_->SetFrame(&frame);
      doc_->AddObserver(&observer);
    }
    return *doc_;
  }
  void DestroyDoc() { doc_.reset(); }

  std::filesystem::path Write(const std::string& name, const Bytes& bytes) {
    const auto path = dir / name;
    WriteFileBytes(path, bytes);
    return path;
  }
  // Opens a mono 16-bit file of |frames| frames at |rate| with samples 0,1,2...
  void OpenRamp(int64_t frames, uint32_t rate = 44100, const std::vector<std::pair<std::string, Bytes>>& chunks = {}) {
    WavBuilder b;
    b.Fmt(1, 1, rate, 16);
    for (const auto& [id, body] : chunks) b.Chunk(id, body);
    std::vector<int16_t> samples(static_cast<size_t>(frames));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i);
    b.Data(Pcm16(samples));
    ASSERT_TRUE(Doc().LoadWav(Write("ramp.wav", b.Build())));
  }

  MemorySettings settings;
  ScriptedMessageHost host;
  ScriptedFileDialogs dialogs;
  FakeFrame frame;
  RecordingObserver observer;
  TempDir dir;

 private:
  ScopedSettingsStore settingsScope_;
  std::unique_ptr<CQuorvelDoc> doc_;
};

}  // namespace zandrel::test
