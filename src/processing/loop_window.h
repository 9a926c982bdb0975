// A copy of a stretch of the document's audio for the loop tools that look
// only near the loop points (Align Phase, Align Looping Points, the loop
// crossfades): they run off the user-interface thread on this copy instead
// of the live document, without copying the whole file.
//
// The window holds frames [first, first + Frames()) of an audio of
// totalFrames frames, in the audio's own format. Each tool says which
// window gives it exactly the result it gives on the whole audio; the copy
// is owned, moved rather than copied, and may be read on any thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "processing/sample_access.h"

namespace zandrel {

struct PcmWindow {
  std::vector<uint8_t> bytes;
  PcmSpan format;           // the audio's format; its bytes are not used
  int64_t first = 0;        // document frame of the window's first frame
  int64_t totalFrames = 0;  // frames of the whole audio

  PcmWindow() = default;
  PcmWindow(const PcmWindow&) = delete;
  PcmWindow& operator=(const PcmWindow&) = delete;
  PcmWindow(PcmWindow&&) = default;
  PcmWindow& operator=(PcmWindow&&) = default;

  // Frames [from, to) of |pcm|, cut to the audio.
  static PcmWindow Copy(const PcmSpan& pcm, int64_t from, int64_t to) {
    PcmWindow w;
    w.format = pcm;
    w.format.bytes = {};
    w.totalFrames = pcm.Frames();
    from = std::clamp<int64_t>(from, 0, w.totalFrames);
    to = std::clamp<int64_t>(to, from, w.totalFrames);
    w.first = from;
    const size_t align = pcm.blockAlign;
    w.bytes.resize(static_cast<size_t>(to - from) * align);
    if (!w.bytes.empty()) std::memcpy(w.bytes.data(), pcm.bytes.data() + static_cast<size_t>(from) * align, w.bytes.size());
    return w;
  }

  int64_t Frames() const { return format.blockAlign ? static_cast<int64_t>(bytes.size() / format.blockAlign) : 0; }
  // The window's frames as audio of their own (frame 0 = document frame first).
  PcmSpan Span() const {
    PcmSpan s = format;
    s.bytes = bytes;
    return s;
  }
};

}  // namespace zandrel
