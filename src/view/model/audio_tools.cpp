#include "view/model/audio_tools.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/message_host.h"
#include "platform/text_format.h"
#include "processing/sample_access.h"
#include "processing/stretch.h"
#include "view/model/view_geometry.h"

namespace zandrel {
namespace {

void Log(const CQuorvelDoc& doc, const std::string& line) {
  if (LogSink* log = doc.GetLog()) log->AppendLog(line);
}

long long LL(int64_t v) { return static_cast<long long>(v); }

// The audio changed: modified, one notification.
void Changed(CQuorvelDoc& doc) {
  doc.SetModifiedFlag(true);
  doc.UpdateAllViews(DocumentChange::kAudio);
}

int16_t S16(const std::vector<uint8_t>& data, size_t index) {
  int16_t v;
  std::memcpy(&v, data.data() + index * 2, 2);
  return v;
}
void PutS16(std::vector<uint8_t>& data, size_t index, int16_t v) { std::memcpy(data.data() + index * 2, &v, 2); }

// Frames [a, b) of |audio| stretched to exactly |target| frames by StretchWav
// (a stretcher's shorter or longer result is padded or cut), starting the
// result at |skip| frames; nothing when the stretch failed.
std::optional<std::vector<uint8_t>> StretchPart(const CWavLoader& audio, int64_t a, int64_t b, double ratio,
                                                int64_t skip, int64_t target) {
  CWavLoader part;
  part.format = audio.format;
  const size_t block = audio.format.nBlockAlign;
  part.data.assign(audio.data.begin() + static_cast<std::ptrdiff_t>(a * block),
                   audio.data.begin() + static_cast<std::ptrdiff_t>(b * block));
  if (!StretchWav(part, 100.0, 100.0 / ratio, 0.0).success) return std::nullopt;
  const size_t from = std::min(part.data.size(), static_cast<size_t>(std::max<int64_t>(skip, 0)) * block);
  std::vector<uint8_t> out(part.data.begin() + static_cast<std::ptrdiff_t>(from), part.data.end());
  out.resize(static_cast<size_t>(target) * block, 0);
  return out;
}

}  // namespace

// ----------------------------------------------------------------- Paint --

float PaintLevelAt(int y, int areaTop, int areaHeight, bool aboveCentre) {
  if (areaHeight <= 0) return 0.0f;
  const double centre = areaTop + areaHeight / 2;
  const double half = areaHeight * 0.5;
  const double d = aboveCentre ? (centre - y) / half : (y - centre) / half;
  return static_cast<float>(std::clamp(d, 0.0, 1.0));
}

void AddPaintPoint(std::vector<PaintPoint>& stroke, int64_t u, float level) {
  if (stroke.empty()) return;
  const int64_t f0 = stroke.front().frame;
  if (u <= f0) {
    stroke.resize(1);
    return;
  }
  while (stroke.size() > 1 && stroke.back().frame >= u) stroke.pop_back();
  if (stroke.back().frame < u) {
    stroke.push_back({u, level});
  } else {
    stroke.back().level = level;
  }
}

bool ApplyPaintedLevels(CQuorvelDoc& doc, std::vector<PaintPoint> stroke) {
  if (stroke.size() < 2 || !doc.HasAudio()) return false;
  std::stable_sort(stroke.begin(), stroke.end(), [](const PaintPoint& a, const PaintPoint& b) { return a.frame < b.frame; });
  const int64_t frames = doc.FrameCount();
  const int64_t start = std::max<int64_t>(0, stroke.front().frame);
  const int64_t end = std::min(frames, stroke.back().frame);
  if (end <= start) return false;
  doc.NotifyAudioAboutToChange();
  if (!doc.PushUndo(kUndoWithAudio, "Paint Levels")) return false;
  if (doc.audio.format.wBitsPerSample == 16) {
    const int channels = std::max<int>(1, doc.audio.format.nChannels);
    std::vector<uint8_t>& data = doc.audio.data;
    const auto peak = [&](int64_t a, int64_t n) {
      int m = 0;
      for (int64_t i = a; i < a + n; ++i)
        for (int c = 0; c < channels; ++c) m = std::max(m, std::abs(static_cast<int>(S16(data, i * channels + c))));
      return m / 32768.0;
    };
    const auto envelope = [&](int64_t f) -> double {
      for (size_t i = 1; i < stroke.size(); ++i) {
        if (f <= stroke[i].frame) {
          const PaintPoint& p = stroke[i - 1];
          const PaintPoint& q = stroke[i];
          if (q.frame == p.frame) return q.level;
          const double t = static_cast<double>(f - p.frame) / static_cast<double>(q.frame - p.frame);
          return p.level + (q.level - p.level) * std::clamp(t, 0.0, 1.0);
        }
      }
      return stroke.back().level;
    };
    const auto gainFor = [](double level, double p) {
      const double g = p > 0.001 ? level / p : (level < 0.01 ? 0.0 : 1.0);
      return std::min(4.0, g);
    };
    double previous = gainFor(stroke.front().level, peak(start, std::min<int64_t>(256, end - start)));
    for (int64_t a = start; a < end; a += 256) {
      const int64_t n = std::min<int64_t>(256, end - a);
      const double g = gainFor(envelope(a + n / 2), peak(a, n));
      for (int64_t l = 0; l < n; ++l) {
        const double gain = previous + (g - previous) * static_cast<double>(l) / static_cast<double>(n);
        for (int c = 0; c < channels; ++c) {
          const size_t k = static_cast<size_t>((a + l) * channels + c);
          PutS16(data, k, static_cast<int16_t>(std::clamp(S16(data, k) * gain, -32768.0, 32767.0)));
        }
      }
      previous = g;
    }
  }
  Changed(doc);
  Log(doc, "Levels applied based on painted envelope.");
  return true;
}

// ------------------------------------------------------------- Rearrange --

namespace {

// tanh(a + b) of two samples of one depth, as -1..1 values.
void MixInto(uint8_t* dst, const uint8_t* src, int bits) {
  const auto mix = [](double a, double b) { return std::tanh(a + b); };
  switch (bits) {
    case 8: {
      const double x = mix((src[0] - 128) / 128.0, (dst[0] - 128) / 128.0);
      dst[0] = static_cast<uint8_t>(std::trunc(std::clamp(x, -1.0, 1.0) * 127 + 128));
      break;
    }
    case 16: {
      int16_t s, d;
      std::memcpy(&s, src, 2);
      std::memcpy(&d, dst, 2);
      const double x = std::clamp(mix(s / 32768.0, d / 32768.0), -1.0, 1.0);
      const auto v = static_cast<int16_t>(std::trunc(x * 32767));
      std::memcpy(dst, &v, 2);
      break;
    }
    case 24: {
      const double x = std::clamp(mix(RawSampleAt(src, 24) / 8388608.0, RawSampleAt(dst, 24) / 8388608.0), -1.0, 1.0);
      const auto v = static_cast<int32_t>(std::trunc(x * 8388607));
      dst[0] = static_cast<uint8_t>(v & 0xFF);
      dst[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
      dst[2] = static_cast<uint8_t>((v >> 16) & 0xFF);
      break;
    }
    default: break;  // 32-bit audio is left as it is
  }
}

}  // namespace

bool ApplyRearrange(CQuorvelDoc& doc, const ViewSelection& view, int64_t srcStart, int64_t srcEnd, int mode) {
  if (!doc.HasAudio() || view.loopIn == srcStart) return false;
  const int64_t frames = doc.FrameCount();
  const int64_t length = srcEnd - srcStart;
  const int64_t in = view.loopIn, out = view.loopOut;
  // A selection held at the start of the audio while dragged is shorter than
  // its source: the spans computed from it would overlap what was just
  // written, so it rearranges nothing.
  if (length <= 0 || out - in != length) return false;
  if (srcStart < 0 || srcEnd > frames || in < 0 || in + length > frames) return false;
  doc.NotifyAudioAboutToChange();
  if (!doc.PushUndo(kUndoWithAudio, "Nudge Data")) return false;
  std::vector<uint8_t>& data = doc.audio.data;
  const size_t block = doc.audio.format.nBlockAlign;
  const auto at = [&](int64_t f) { return data.begin() + static_cast<std::ptrdiff_t>(f * block); };
  const std::vector<uint8_t> source(at(srcStart), at(srcEnd));
  const int64_t delta = in - srcStart;
  const char* verb = "moved";
  switch (mode) {
    case kRearrangeCopy:
      verb = "copied";
      std::copy(source.begin(), source.end(), at(in));
      break;
    case kRearrangeMix: {
      verb = "mixed";
      const int bits = doc.audio.format.wBitsPerSample;
      const size_t bytes = static_cast<size_t>(bits / 8);
      if (bytes > 0)
        for (size_t k = 0; k + bytes <= source.size(); k += bytes) MixInto(&*(at(in) + static_cast<std::ptrdiff_t>(k)), &source[k], bits);
      break;
    }
    case kRearrangeRipple: {
      verb = "rippled";
      if (delta > 0) {
        // The audio dragged over moves back to where the source began.
        const std::vector<uint8_t> over(at(srcEnd), at(out));
        std::copy(over.begin(), over.end(), at(srcStart));
      } else {
        const std::vector<uint8_t> over(at(in), at(srcStart));
        std::copy(over.begin(), over.end(), at(out));
      }
      std::copy(source.begin(), source.end(), at(in));
      break;
    }
    default: {
      std::copy(source.begin(), source.end(), at(in));
      const int64_t a = delta < 0 ? std::max(srcStart, out) : srcStart;
      const int64_t b = delta < 0 ? srcEnd : std::min(in, srcEnd);
      // The part of the old span the moved audio no longer covers goes silent.
      if (a < b) std::fill(at(a), at(b), 0);
      break;
    }
  }
  Changed(doc);
  Log(doc, Format("Audio %s by %lld samples (%s). Loop region: [%lld - %lld]", verb, LL(std::llabs(delta)),
                  delta > 0 ? "right" : "left", LL(in), LL(out)));
  return true;
}

// ---------------------------------------------------------- Time Stretch --

namespace {

constexpr int64_t kContextFrames = 8192;

// A frame position after |end| moves by |delta|; every position stays
// inside 0..frames.
int64_t Shifted(int64_t x, int64_t end, int64_t delta, int64_t frames) {
  if (x < 0) return x;
  return std::clamp<int64_t>(x >= end ? x + delta : x, 0, frames);
}

}  // namespace

bool ApplyTimeStretchTool(CQuorvelDoc& doc, ViewSelection& view, int64_t origIn, int64_t origOut, bool inPlace) {
  const int64_t n = view.loopOut - view.loopIn;
  const int64_t o = origOut - origIn;
  if (n == o || n <= 0 || o <= 0 || !doc.HasAudio()) return false;
  const auto restore = [&] {
    view.loopIn = origIn;
    view.loopOut = origOut;
    doc.NotifySelectionChanged();
  };
  if (doc.audio.format.wBitsPerSample != 16) {
    ShowMessage("Time stretch only supports 16-bit PCM audio.");
    restore();
    return false;
  }
  const int64_t frames = doc.FrameCount();
  if (origIn < 0 || origOut > frames) {
    restore();
    return false;
  }
  const int64_t right = std::min(kContextFrames, frames - origOut);
  const double r = static_cast<double>(n) / static_cast<double>(o);
  CWavLoader part;
  part.format = doc.audio.format;
  const size_t block = doc.audio.format.nBlockAlign;
  part.data.assign(doc.audio.data.begin() + static_cast<std::ptrdiff_t>(origIn * block),
                   doc.audio.data.begin() + static_cast<std::ptrdiff_t>((origOut + right) * block));
  if (!StretchWav(part, 100.0, 100.0 / r, 0.0).success) {
    ShowMessage("Time stretch failed. Operation cancelled.");
    restore();
    return false;
  }
  const int64_t written = std::min(n, part.FrameCount());
  part.data.resize(static_cast<size_t>(written) * block);

  doc.NotifyAudioAboutToChange();
  if (!doc.PushUndo(kUndoWithAudio, "Time Stretch")) {
    restore();
    return false;
  }
  std::vector<uint8_t>& data = doc.audio.data;
  const auto at = [&](int64_t f) { return data.begin() + static_cast<std::ptrdiff_t>(f * block); };
  int64_t result = written;
  if (inPlace) {
    result = std::min(written, frames - origIn);
    std::copy(part.data.begin(), part.data.begin() + static_cast<std::ptrdiff_t>(result * block), at(origIn));
  } else {
    data.erase(at(origIn), at(origOut));
    data.insert(at(origIn), part.data.begin(), part.data.end());
    // The audio after the span moved: regions and loops after it move along,
    // so none points past the data or at other audio.
    const int64_t delta = written - o;
    const int64_t now = doc.FrameCount();
    if (delta != 0 && doc.instrument.hasInstrument) {
      for (Region& reg : doc.instrument.regions) {
        reg.startSample = Shifted(reg.startSample, origOut, delta, now);
        reg.endSample = Shifted(reg.endSample, origOut, delta, now);
        if (reg.loopStart != kNoLoop) reg.loopStart = Shifted(reg.loopStart, origOut, delta, now);
        if (reg.loopEnd != kNoLoop) reg.loopEnd = Shifted(reg.loopEnd, origOut, delta, now);
      }
      doc.RemoveOrphanedRegions();
      if (view.selectedRegion >= static_cast<int>(doc.instrument.regions.size())) view.selectedRegion = -1;
    }
    if (view.cursorFrame >= 0) view.cursorFrame = Shifted(view.cursorFrame, origOut, delta, now);
  }
  view.loopIn = origIn;
  view.loopOut = origIn + result;
  Changed(doc);
  doc.NotifySelectionChanged();
  Log(doc, Format("Time-stretch: %.2fx. Padded L/R: %lld/%lld. Result: %lld samples.", r, 0LL, LL(right),
                  LL(result)));
  return true;
}

// ---------------------------------------------------------------- Retime --

bool ApplyRetime(CQuorvelDoc& doc, ViewSelection& view, int64_t origIn, int64_t origOut, bool rightHandle) {
  const int64_t n = view.loopOut - view.loopIn;
  const int64_t l = origOut - origIn;
  if (n == l || n <= 0 || l <= 0 || !doc.HasAudio()) return false;
  const auto fail = [&](const char* message) {
    ShowMessage(message);
    view.loopIn = origIn;
    view.loopOut = origOut;
    doc.NotifySelectionChanged();
    return false;
  };
  if (doc.audio.format.wBitsPerSample != 16) return fail("Retime only supports 16-bit PCM audio.");
  constexpr const char* kFailed = "Retime failed. Compensating region too small or time-stretch error.";
  const int64_t frames = doc.FrameCount();
  if (origIn < 0 || origOut > frames) return fail(kFailed);

  // The loop, with context around it when it is short.
  int64_t leftPad = 0, rightPad = 0;
  if (l <= kContextFrames - 1) {
    leftPad = std::min((kContextFrames - l) / 2, origIn);
    rightPad = kContextFrames - l - leftPad;
    if (origOut + rightPad > frames) {
      const int64_t overflow = origOut + rightPad - frames;
      rightPad = frames - origOut;
      leftPad = std::min(origIn, leftPad + overflow);
    }
  }
  const double loopRatio = static_cast<double>(n) / static_cast<double>(l);
  const auto loop = StretchPart(doc.audio, origIn - leftPad, origOut + rightPad, loopRatio,
                                static_cast<int64_t>(leftPad * loopRatio), n);

  std::optional<std::vector<uint8_t>> other;
  int64_t otherFrames = 0;
  if (rightHandle) {
    const int64_t a = frames - origOut;
    otherFrames = l + a - n;
    if (a < 1 || otherFrames < 1) return fail(kFailed);
    const double ratio = static_cast<double>(otherFrames) / static_cast<double>(a);
    const int64_t context = a < kContextFrames ? std::min(origOut, kContextFrames - a) : 0;
    other = StretchPart(doc.audio, origOut - context, frames, ratio, static_cast<int64_t>(context * ratio),
                        otherFrames);
  } else {
    const int64_t b = origIn;
    otherFrames = l + b - n;
    if (b < 1 || otherFrames < 1) return fail(kFailed);
    const double ratio = static_cast<double>(otherFrames) / static_cast<double>(b);
    const int64_t source = b < kContextFrames ? std::min(frames, kContextFrames) : b;
    other = StretchPart(doc.audio, 0, source, ratio, 0, otherFrames);
  }
  // Nothing is written unless both parts came out.
  if (!loop || !other) return fail(kFailed);

  doc.NotifyAudioAboutToChange();
  if (!doc.PushUndo(kUndoWithAudio, "Retime")) return fail(kFailed);
  std::vector<uint8_t>& data = doc.audio.data;
  const size_t block = doc.audio.format.nBlockAlign;
  const auto at = [&](int64_t f) { return data.begin() + static_cast<std::ptrdiff_t>(f * block); };
  if (rightHandle) {
    std::copy(loop->begin(), loop->end(), at(origIn));
    std::copy(other->begin(), other->end(), at(origIn + n));
    view.loopIn = origIn;
    view.loopOut = origIn + n;
  } else {
    std::vector<uint8_t> rebuilt;
    rebuilt.reserve(data.size());
    rebuilt.insert(rebuilt.end(), other->begin(), other->end());
    rebuilt.insert(rebuilt.end(), loop->begin(), loop->end());
    rebuilt.insert(rebuilt.end(), at(origOut), data.end());
    data = std::move(rebuilt);
    view.loopIn = otherFrames;
    view.loopOut = otherFrames + n;
  }
  Changed(doc);
  doc.NotifySelectionChanged();
  Log(doc, Format("Audio retimed by %.2fx. Loop: %lld samples -> %lld samples. Total size preserved.", loopRatio,
                  LL(l), LL(n)));
  return true;
}

void ConnectAudioTools(MouseEditing& mouse, ViewModel& model) {
  MouseEditing* m = &mouse;
  ViewModel* v = &model;
  mouse.tools.paintStroke = [m, v](int, int y, int64_t frame) {
    const ViewLayout layout = ComputeViewLayout(v->clientWidth, v->clientHeight, v->editKeyBoundaries);
    AddPaintPoint(v->paintPoints, frame, PaintLevelAt(y, layout.Top(), layout.areaHeight, m->paintAboveCentre));
  };
  mouse.tools.applyPaintedLevels = [v] { ApplyPaintedLevels(v->doc, v->paintPoints); };
  mouse.tools.applyRearrange = [m, v] {
    ApplyRearrange(v->doc, *v, m->rearrangeSrcStart, m->rearrangeSrcEnd, v->rearrangeMode);
  };
  mouse.tools.applyTimeStretch = [m, v](bool inPlace) {
    if (v->loopOut < v->loopIn) std::swap(v->loopIn, v->loopOut);
    ApplyTimeStretchTool(v->doc, *v, m->stretchOrigIn, m->stretchOrigOut, inPlace);
  };
  mouse.tools.applyRetime = [m, v] {
    if (v->loopOut < v->loopIn) std::swap(v->loopIn, v->loopOut);
    ApplyRetime(v->doc, *v, m->retimeOrigIn, m->retimeOrigOut, v->dragOperation == kDragLoopOut);
  };
}

}  // namespace zandrel
