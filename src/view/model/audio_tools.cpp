#include "view/model/audio_tools.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "document/edit_transaction.h"
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

int16_t S16(const std::vector<uint8_t>& data, size_t index) {
  int16_t v;
  std::memcpy(&v, data.data() + index * 2, 2);
  return v;
}
void PutS16(std::vector<uint8_t>& data, size_t index, int16_t v) { std::memcpy(data.data() + index * 2, &v, 2); }

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
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoWithAudio, "Paint Levels");
  if (!edit) return false;
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
  edit->Commit(DocumentChange::kAudio);
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

// Frames a Rearrange copies or mixes between two progress reports.
constexpr int64_t kRearrangeChunk = int64_t{1} << 14;

// The work of a Rearrange over |span|, a copy of the audio that holds the
// source and the target (and, for a ripple, the audio between them). Offsets
// and |length| in frames of the span. Copies and mixes in chunks, reporting
// after each; false once the progress says stop.
bool RearrangeSpan(std::vector<uint8_t>& span, int64_t source, int64_t target, int64_t length, int mode, int bits,
                   size_t block, const WorkProgress& progress) {
  const auto at = [&](int64_t f) { return span.begin() + static_cast<std::ptrdiff_t>(f * static_cast<int64_t>(block)); };
  const int64_t delta = target - source;
  // The frames the steps below go through, for the progress.
  const int64_t over = mode == kRearrangeRipple ? std::llabs(delta) : 0;
  ProgressTicker ticker(progress, static_cast<uint64_t>(2 * (length + over)), kRearrangeChunk);
  // Copies |n| frames from |from| to |to| chunk by chunk.
  const auto copy = [&](std::vector<uint8_t>::const_iterator from, std::vector<uint8_t>::iterator to, int64_t n) {
    for (int64_t done = 0; done < n;) {
      const int64_t k = std::min(kRearrangeChunk, n - done);
      const auto bytes = static_cast<std::ptrdiff_t>(k * static_cast<int64_t>(block));
      std::copy(from, from + bytes, to);
      from += bytes;
      to += bytes;
      done += k;
      if (!ticker.Step(static_cast<uint64_t>(k))) return false;
    }
    return true;
  };
  // The moved audio, and for a ripple the audio dragged over, are read into
  // buffers of their own first (the spans overlap what is written), growing
  // chunk by chunk so that no pass over them goes unreported.
  const auto read = [&](int64_t from, int64_t n, std::vector<uint8_t>& into) {
    into.reserve(static_cast<size_t>(n) * block);
    for (int64_t done = 0; done < n;) {
      const int64_t k = std::min(kRearrangeChunk, n - done);
      into.insert(into.end(), at(from + done), at(from + done + k));
      done += k;
      if (!ticker.Step(static_cast<uint64_t>(k))) return false;
    }
    return true;
  };
  std::vector<uint8_t> moved;
  if (!read(source, length, moved)) return false;
  switch (mode) {
    case kRearrangeCopy:
      return copy(moved.cbegin(), at(target), length);
    case kRearrangeMix: {
      const size_t bytes = static_cast<size_t>(bits / 8);
      if (bytes == 0) return true;
      const size_t perFrame = block / bytes;
      uint8_t* dst = &*at(target);
      for (int64_t done = 0; done < length;) {
        const int64_t k = std::min(kRearrangeChunk, length - done);
        const size_t from = static_cast<size_t>(done) * block;
        for (size_t i = 0; i < static_cast<size_t>(k) * perFrame; ++i)
          MixInto(dst + from + i * bytes, &moved[from + i * bytes], bits);
        done += k;
        if (!ticker.Step(static_cast<uint64_t>(k))) return false;
      }
      return true;
    }
    case kRearrangeRipple: {
      // The audio dragged over moves to where the source was.
      std::vector<uint8_t> between;
      if (!read(delta > 0 ? source + length : target, over, between)) return false;
      if (!copy(between.cbegin(), delta > 0 ? at(source) : at(target + length), over)) return false;
      return copy(moved.cbegin(), at(target), length);
    }
    default: {
      if (!copy(moved.cbegin(), at(target), length)) return false;
      // The part of the old span the moved audio no longer covers goes silent.
      const int64_t a = delta < 0 ? std::max(source, target + length) : source;
      const int64_t b = delta < 0 ? source + length : std::min(target, source + length);
      if (a < b) std::fill(at(a), at(b), 0);
      return true;
    }
  }
}

}  // namespace

ToolEditResult ApplyRearrange(CommandContext& c, int64_t srcStart, int64_t srcEnd, int mode) {
  CQuorvelDoc* docPointer = c.Document();
  if (!docPointer) return ToolEditResult::kRefused;
  CQuorvelDoc& doc = *docPointer;
  const ViewSelection& view = c.Selection();
  if (!doc.HasAudio() || view.loopIn == srcStart) return ToolEditResult::kRefused;
  const int64_t frames = doc.FrameCount();
  const int64_t length = srcEnd - srcStart;
  const int64_t in = view.loopIn, out = view.loopOut;
  // A selection held at the start of the audio while dragged is shorter than
  // its source: the spans computed from it would overlap what was just
  // written, so it rearranges nothing.
  if (length <= 0 || out - in != length) return ToolEditResult::kRefused;
  if (srcStart < 0 || srcEnd > frames || in < 0 || in + length > frames) return ToolEditResult::kRefused;

  // Only the span from the first to the last frame the edit writes is
  // copied, rewritten off this thread and put back.
  const size_t block = doc.audio.format.nBlockAlign;
  const int64_t lo = std::min(srcStart, in), hi = std::max(srcEnd, out);
  const auto at = [&](int64_t f) { return doc.audio.data.begin() + static_cast<std::ptrdiff_t>(f * static_cast<int64_t>(block)); };
  std::vector<uint8_t> span(at(lo), at(hi));
  const int bits = doc.audio.format.wBitsPerSample;
  LongWork work{.title = "Rearrange",
                .compute =
                    [&](const std::function<bool(double)>& progress) {
                      return RearrangeSpan(span, srcStart - lo, in - lo, length, mode, bits, block, progress);
                    },
                .commit = {}};
  if (!c.RunLongWork(work)) return ToolEditResult::kCancelled;

  doc.NotifyAudioAboutToChange();
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoWithAudio, "Nudge Data");
  if (!edit) return ToolEditResult::kRefused;
  std::copy(span.begin(), span.end(), at(lo));
  const int64_t delta = in - srcStart;
  const char* verb = mode == kRearrangeCopy ? "copied" : mode == kRearrangeMix ? "mixed"
                                                        : mode == kRearrangeRipple ? "rippled" : "moved";
  edit->Commit(DocumentChange::kAudio);
  Log(doc, Format("Audio %s by %lld samples (%s). Loop region: [%lld - %lld]", verb, LL(std::llabs(delta)),
                  delta > 0 ? "right" : "left", LL(in), LL(out)));
  return ToolEditResult::kApplied;
}

bool ApplyRearrange(CQuorvelDoc& doc, ViewSelection& view, int64_t srcStart, int64_t srcEnd, int mode) {
  BasicCommandContext c(&doc, &view);
  return ApplyRearrange(c, srcStart, srcEnd, mode) == ToolEditResult::kApplied;
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

// Frames [a, b) of |audio| as audio of its own, for a stretch off this thread.
CWavLoader CopyPart(const CWavLoader& audio, int64_t a, int64_t b) {
  CWavLoader part;
  part.format = audio.format;
  const auto block = static_cast<int64_t>(audio.format.nBlockAlign);
  part.data.assign(audio.data.begin() + static_cast<std::ptrdiff_t>(a * block),
                   audio.data.begin() + static_cast<std::ptrdiff_t>(b * block));
  return part;
}

// A part that stretches and what came of it.
struct StretchJob {
  CWavLoader audio;      // the part's frames, then the stretched result
  double ratio = 1.0;    // new length / old length
  StretchResult result;
};

// Stretches every job in turn, each reporting in a part of the whole as
// large as its share of the input frames. False once the progress says stop.
bool StretchJobs(std::vector<StretchJob*> jobs, const WorkProgress& progress) {
  int64_t total = 0;
  for (const StretchJob* j : jobs) total += j->audio.FrameCount();
  int64_t done = 0;
  for (StretchJob* j : jobs) {
    const int64_t frames = j->audio.FrameCount();
    const double from = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
    const double to = total > 0 ? static_cast<double>(done + frames) / static_cast<double>(total) : 1.0;
    j->result = StretchWav(j->audio, 100.0, 100.0 / j->ratio, 0.0, SubProgress(progress, from, to));
    if (j->result.cancelled) return false;
    if (!j->result.success) return true;  // the caller refuses: the other parts need not be done
    done += frames;
  }
  return true;
}

// The stretched job's audio from frame |skip| on, brought to exactly
// |target| frames (padded with silence or cut).
std::vector<uint8_t> Trimmed(const StretchJob& job, int64_t skip, int64_t target) {
  const std::vector<uint8_t>& data = job.audio.data;
  const size_t block = job.audio.format.nBlockAlign;
  const size_t from = std::min(data.size(), static_cast<size_t>(std::max<int64_t>(skip, 0)) * block);
  std::vector<uint8_t> out(data.begin() + static_cast<std::ptrdiff_t>(from), data.end());
  out.resize(static_cast<size_t>(target) * block, 0);
  return out;
}

}  // namespace

ToolEditResult ApplyTimeStretchTool(CommandContext& c, int64_t origIn, int64_t origOut, bool inPlace) {
  CQuorvelDoc* docPointer = c.Document();
  if (!docPointer) return ToolEditResult::kRefused;
  CQuorvelDoc& doc = *docPointer;
  ViewSelection& view = c.Selection();
  const int64_t n = view.loopOut - view.loopIn;
  const int64_t o = origOut - origIn;
  if (n == o || n <= 0 || o <= 0 || !doc.HasAudio()) return ToolEditResult::kRefused;
  const auto refuse = [&] {
    view.loopIn = origIn;
    view.loopOut = origOut;
    doc.NotifySelectionChanged();
    return ToolEditResult::kRefused;
  };
  if (doc.audio.format.wBitsPerSample != 16) {
    ShowMessage("Time stretch only supports 16-bit PCM audio.");
    return refuse();
  }
  const int64_t frames = doc.FrameCount();
  if (origIn < 0 || origOut > frames) {
    // The selection was drawn before an edit made the audio shorter.
    ShowMessage("Time stretch needs a selection inside the audio. Select the part to stretch again.");
    return refuse();
  }
  const int64_t right = std::min(kContextFrames, frames - origOut);
  const double r = static_cast<double>(n) / static_cast<double>(o);
  StretchJob part{CopyPart(doc.audio, origIn, origOut + right), r, {}};
  LongWork work{.title = "Time Stretch",
                .compute = [&](const std::function<bool(double)>& progress) { return StretchJobs({&part}, progress); },
                .commit = {}};
  if (!c.RunLongWork(work)) return ToolEditResult::kCancelled;
  if (!part.result.success) {
    ShowMessage("Time stretch failed. Operation cancelled.");
    return refuse();
  }
  const size_t block = doc.audio.format.nBlockAlign;
  const int64_t written = std::min(n, part.audio.FrameCount());
  part.audio.data.resize(static_cast<size_t>(written) * block);

  doc.NotifyAudioAboutToChange();
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoWithAudio, "Time Stretch");
  if (!edit) return refuse();
  std::vector<uint8_t>& data = doc.audio.data;
  const auto at = [&](int64_t f) { return data.begin() + static_cast<std::ptrdiff_t>(f * static_cast<int64_t>(block)); };
  int64_t result = written;
  if (inPlace) {
    result = std::min(written, frames - origIn);
    std::copy(part.audio.data.begin(), part.audio.data.begin() + static_cast<std::ptrdiff_t>(result * static_cast<int64_t>(block)),
              at(origIn));
  } else {
    data.erase(at(origIn), at(origOut));
    data.insert(at(origIn), part.audio.data.begin(), part.audio.data.end());
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
        // A region that starts inside the span stays while its loop after
        // the span moves back: the loop is kept inside the region.
        reg = reg.WithLoopInside();
      }
      doc.RemoveOrphanedRegions();
      if (view.selectedRegion >= static_cast<int>(doc.instrument.regions.size())) view.selectedRegion = -1;
    }
    if (view.cursorFrame >= 0) view.cursorFrame = Shifted(view.cursorFrame, origOut, delta, now);
  }
  view.loopIn = origIn;
  view.loopOut = origIn + result;
  edit->Commit(DocumentChange::kAudio, SelectionMoved::kYes);
  Log(doc, Format("Time-stretch: %.2fx. Padded L/R: %lld/%lld. Result: %lld samples.", r, 0LL, LL(right),
                  LL(result)));
  return ToolEditResult::kApplied;
}

bool ApplyTimeStretchTool(CQuorvelDoc& doc, ViewSelection& view, int64_t origIn, int64_t origOut, bool inPlace) {
  BasicCommandContext c(&doc, &view);
  return ApplyTimeStretchTool(c, origIn, origOut, inPlace) == ToolEditResult::kApplied;
}

// ---------------------------------------------------------------- Retime --

ToolEditResult ApplyRetime(CommandContext& c, int64_t origIn, int64_t origOut, bool rightHandle) {
  CQuorvelDoc* docPointer = c.Document();
  if (!docPointer) return ToolEditResult::kRefused;
  CQuorvelDoc& doc = *docPointer;
  ViewSelection& view = c.Selection();
  const int64_t n = view.loopOut - view.loopIn;
  const int64_t l = origOut - origIn;
  if (n == l || n <= 0 || l <= 0 || !doc.HasAudio()) return ToolEditResult::kRefused;
  const auto fail = [&](const char* message) {
    ShowMessage(message);
    view.loopIn = origIn;
    view.loopOut = origOut;
    doc.NotifySelectionChanged();
    return ToolEditResult::kRefused;
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
  StretchJob loop{CopyPart(doc.audio, origIn - leftPad, origOut + rightPad), loopRatio, {}};
  const int64_t loopSkip = static_cast<int64_t>(leftPad * loopRatio);

  // The audio on the dragged side, stretched by the opposite amount.
  StretchJob other;
  int64_t otherFrames = 0, otherSkip = 0;
  if (rightHandle) {
    const int64_t a = frames - origOut;
    otherFrames = l + a - n;
    if (a < 1 || otherFrames < 1) return fail(kFailed);
    other.ratio = static_cast<double>(otherFrames) / static_cast<double>(a);
    const int64_t context = a < kContextFrames ? std::min(origOut, kContextFrames - a) : 0;
    other.audio = CopyPart(doc.audio, origOut - context, frames);
    otherSkip = static_cast<int64_t>(context * other.ratio);
  } else {
    const int64_t b = origIn;
    otherFrames = l + b - n;
    if (b < 1 || otherFrames < 1) return fail(kFailed);
    other.ratio = static_cast<double>(otherFrames) / static_cast<double>(b);
    const int64_t source = b < kContextFrames ? std::min(frames, kContextFrames) : b;
    other.audio = CopyPart(doc.audio, 0, source);
  }
  LongWork work{.title = "Retime",
                .compute =
                    [&](const std::function<bool(double)>& progress) { return StretchJobs({&loop, &other}, progress); },
                .commit = {}};
  if (!c.RunLongWork(work)) return ToolEditResult::kCancelled;
  // Nothing is written unless both parts came out.
  if (!loop.result.success || !other.result.success) return fail(kFailed);
  const std::vector<uint8_t> loopBytes = Trimmed(loop, loopSkip, n);
  const std::vector<uint8_t> otherBytes = Trimmed(other, otherSkip, otherFrames);
  loop.audio = CWavLoader();
  other.audio = CWavLoader();

  doc.NotifyAudioAboutToChange();
  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoWithAudio, "Retime");
  if (!edit) return fail(kFailed);
  std::vector<uint8_t>& data = doc.audio.data;
  const auto block = static_cast<int64_t>(doc.audio.format.nBlockAlign);
  const auto at = [&](int64_t f) { return data.begin() + static_cast<std::ptrdiff_t>(f * block); };
  if (rightHandle) {
    std::copy(loopBytes.begin(), loopBytes.end(), at(origIn));
    std::copy(otherBytes.begin(), otherBytes.end(), at(origIn + n));
    view.loopIn = origIn;
    view.loopOut = origIn + n;
  } else {
    std::vector<uint8_t> rebuilt;
    rebuilt.reserve(data.size());
    rebuilt.insert(rebuilt.end(), otherBytes.begin(), otherBytes.end());
    rebuilt.insert(rebuilt.end(), loopBytes.begin(), loopBytes.end());
    rebuilt.insert(rebuilt.end(), at(origOut), data.end());
    data = std::move(rebuilt);
    view.loopIn = otherFrames;
    view.loopOut = otherFrames + n;
  }
  edit->Commit(DocumentChange::kAudio, SelectionMoved::kYes);
  Log(doc, Format("Audio retimed by %.2fx. Loop: %lld samples -> %lld samples. Total size preserved.", loopRatio,
                  LL(l), LL(n)));
  return ToolEditResult::kApplied;
}

bool ApplyRetime(CQuorvelDoc& doc, ViewSelection& view, int64_t origIn, int64_t origOut, bool rightHandle) {
  BasicCommandContext c(&doc, &view);
  return ApplyRetime(c, origIn, origOut, rightHandle) == ToolEditResult::kApplied;
}

void ConnectAudioTools(MouseEditing& mouse, ViewModel& model, std::function<CommandContext*()> context) {
  MouseEditing* m = &mouse;
  ViewModel* v = &model;
  // Runs |edit| in the editor's context, or in one over the model that waits
  // without a user interface; a cancelled edit drops the drag's preview.
  const auto run = [m, v, context](auto edit) {
    CommandContext* editor = context ? context() : nullptr;
    BasicCommandContext headless(&v->doc, v);
    if (edit(editor ? *editor : headless) == ToolEditResult::kCancelled) m->DropToolPreview();
  };
  mouse.tools.paintStroke = [m, v](int, int y, int64_t frame) {
    const ViewLayout layout = ComputeViewLayout(v->clientWidth, v->clientHeight, v->editKeyBoundaries);
    AddPaintPoint(v->paintPoints, frame, PaintLevelAt(y, layout.Top(), layout.areaHeight, m->paintAboveCentre));
  };
  mouse.tools.applyPaintedLevels = [v] { ApplyPaintedLevels(v->doc, v->paintPoints); };
  mouse.tools.applyRearrange = [m, v, run] {
    run([&](CommandContext& c) { return ApplyRearrange(c, m->rearrangeSrcStart, m->rearrangeSrcEnd, v->rearrangeMode); });
  };
  mouse.tools.applyTimeStretch = [m, v, run](bool inPlace) {
    if (v->loopOut < v->loopIn) std::swap(v->loopIn, v->loopOut);
    run([&](CommandContext& c) { return ApplyTimeStretchTool(c, m->stretchOrigIn, m->stretchOrigOut, inPlace); });
  };
  mouse.tools.applyRetime = [m, v, run] {
    if (v->loopOut < v->loopIn) std::swap(v->loopIn, v->loopOut);
    run([&](CommandContext& c) {
      return ApplyRetime(c, m->retimeOrigIn, m->retimeOrigOut, v->dragOperation == kDragLoopOut);
    });
  };
}

}  // namespace zandrel
