// A document wired as the app wires it, with audio of any depth written from
// raw sample values, and the context a processing command runs with.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <span>
#include <vector>

#include "document/document_fixture.h"
#include "processing/processing_command.h"
#include "processing/sample_frames.h"
#include "support/wav_builder.h"

namespace zandrel::test {

struct DepthCase {
  SampleFormat format;
  int bits;
  bool isFloat;
  const char* name;
};

inline const std::vector<DepthCase>& AllDepths() {
  static const std::vector<DepthCase> all = {{SampleFormat::kU8, 8, false, "8-bit"},
                                             {SampleFormat::kS16, 16, false, "16-bit"},
                                             {SampleFormat::kS24, 24, false, "24-bit"},
                                             {SampleFormat::kS32, 32, false, "32-bit"},
                                             {SampleFormat::kF32, 32, true, "32-bit float"}};
  return all;
}

// Full scale of the raw value (1 for float).
inline double FullScale(SampleFormat f) {
  switch (f) {
    case SampleFormat::kU8:
      return 127;
    case SampleFormat::kS16:
      return 32767;
    case SampleFormat::kS24:
      return 8388607;
    case SampleFormat::kS32:
      return 2147483647;
    case SampleFormat::kF32:
      return 1;
  }
  return 0;
}

template <class Fn>
auto WithFrames(SampleFormat f, std::span<uint8_t> bytes, int channels, Fn&& fn) {
  const int bytesPer = f == SampleFormat::kU8 ? 1 : f == SampleFormat::kS16 ? 2 : f == SampleFormat::kS24 ? 3 : 4;
  const int align = channels * bytesPer;
  switch (f) {
    case SampleFormat::kU8:
      return fn(SampleFrames<SampleFormat::kU8>(bytes, channels, align, 0));
    case SampleFormat::kS16:
      return fn(SampleFrames<SampleFormat::kS16>(bytes, channels, align, 0));
    case SampleFormat::kS24:
      return fn(SampleFrames<SampleFormat::kS24>(bytes, channels, align, 0));
    case SampleFormat::kS32:
      return fn(SampleFrames<SampleFormat::kS32>(bytes, channels, align, 0));
    case SampleFormat::kF32:
    default:
      return fn(SampleFrames<SampleFormat::kF32>(bytes, channels, align, 0));
  }
}

class ProcessingTest : public DocumentTest {
 protected:
  // Puts interleaved raw values (8-bit: byte - 128; float: the float) into
  // the document as audio of |depth| with |channels| channels.
  void SetAudio(const DepthCase& depth, int channels, const std::vector<double>& raw, uint32_t rate = 44100) {
    CWavLoader& a = Doc().audio;
    const int bytesPer = depth.bits / 8;
    a.format = PcmFormat{static_cast<uint16_t>(depth.isFloat ? 3 : 1),
                         static_cast<uint16_t>(channels),
                         rate,
                         static_cast<uint32_t>(rate * channels * bytesPer),
                         static_cast<uint16_t>(channels * bytesPer),
                         static_cast<uint16_t>(depth.bits)};
    a.data.assign(raw.size() * static_cast<size_t>(bytesPer), 0);
    WithFrames(depth.format, a.data, channels, [&](auto s) {
      for (size_t i = 0; i < raw.size(); ++i)
        s.Set(static_cast<int64_t>(i) / channels, static_cast<int>(i % static_cast<size_t>(channels)), raw[i]);
      return 0;
    });
  }
  // A constant mono or multi-channel signal of |frames| frames at |level| of full scale.
  void SetConstant(const DepthCase& depth, int channels, int64_t frames, double level, uint32_t rate = 44100) {
    SetAudio(depth, channels,
             std::vector<double>(static_cast<size_t>(frames * channels),
                                 depth.isFloat ? level : std::trunc(level * FullScale(depth.format))),
             rate);
  }
  double Raw(const DepthCase& depth, int64_t frame, int channel = 0) {
    CWavLoader& a = Doc().audio;
    return WithFrames(depth.format, a.data, a.format.nChannels,
                      [&](auto s) { return static_cast<double>(s.Get(frame, channel)); });
  }

  ProcessingContext Context() {
    ProcessingContext c;
    c.doc = &Doc();
    c.selection = selection;
    c.messages = &host;
    c.stopPlayback = [this] { ++playbackStops; };
    c.tasks = tasks;
    return c;
  }
  ProcessingResult Run(const ProcessingCommand& command) { return RunProcessingCommand(command, Context()); }
  // The text of the last box, empty when none was shown.
  std::string LastText() const { return host.Shown().empty() ? std::string() : host.Shown().back().text; }

  SelectionState selection;
  LongTaskHost* tasks = nullptr;
  int playbackStops = 0;
};

}  // namespace zandrel::test
