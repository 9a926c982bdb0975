#include "view/model/playback.h"

#include <algorithm>
#include <cmath>

#include "document/note_names.h"
#include "platform/log_sink.h"
#include "platform/message_host.h"
#include "platform/text_format.h"

namespace zandrel {
namespace {

bool IsFloatFormat(const CWavLoader& audio) {
  if (audio.format.wFormatTag == kWaveFormatIeeeFloat) return true;
  // An extensible file names its real format in the sub-format's first u16.
  return audio.format.wFormatTag == kWaveFormatExtensible && audio.isExtensible == 1 &&
         ReadLE16(audio.extensibleFormat.data() + 24) == kWaveFormatIeeeFloat;
}

}  // namespace

// ------------------------------------------------------ PlaybackSource --

PlaybackSource::PlaybackSource(const CWavLoader& audio, int64_t startFrame, LoopState loop, bool playOnce)
    : audio_(audio),
      frames_(audio.FrameCount()),
      rate_(audio.format.nSamplesPerSec),
      channels_(std::clamp<int>(audio.format.nChannels, 1, 2)),
      bits_(audio.format.wBitsPerSample),
      float_(IsFloatFormat(audio)),
      startFrame_(startFrame),
      loop_(loop),
      playOnce_(playOnce),
      position_(startFrame) {}

void PlaybackSource::SetLoop(const LoopState& loop) {
  std::lock_guard<std::mutex> lock(lock_);
  loop_ = loop;
}

PlaybackSource::Range PlaybackSource::CurrentRange() const {
  const bool pointsSet = loop_.loopIn >= 0 && loop_.loopOut >= 0;
  // The source renders only while playing, so "looping" needs no playing flag.
  const bool looping = loop_.loopPlayback && pointsSet;
  Range r;
  if (looping || (playOnce_ && pointsSet)) {
    // The loop's end frame is played; a loop reaching past the audio ends
    // with it, and one starting past it is empty.
    r.start = std::min(loop_.loopIn, loop_.loopOut);
    r.end = std::min(std::max(loop_.loopIn, loop_.loopOut), frames_ - 1) + 1;
  } else {
    r.start = 0;
    r.end = playOnce_ ? 0 : frames_;
  }
  r.wraps = looping && !playOnce_;
  return r;
}

void PlaybackSource::Decode(int64_t frame, float* out) const {
  const size_t align = audio_.format.nBlockAlign;
  const size_t width = static_cast<size_t>(bits_ / 8);
  const uint8_t* p = audio_.data.data() + static_cast<size_t>(frame) * align;
  for (int c = 0; c < channels_; ++c, p += width) {
    switch (bits_) {
      case 8: out[c] = (static_cast<int>(p[0]) - 128) / 128.0f; break;
      case 16: out[c] = static_cast<int16_t>(ReadLE16(p)) / 32768.0f; break;
      case 24: {
        int32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
        if (v & 0x800000) v -= 0x1000000;
        out[c] = static_cast<float>(v / 8388608.0);
        break;
      }
      case 32:
        out[c] = float_ ? ReadLEFloat(p) : static_cast<float>(static_cast<int32_t>(ReadLE32(p)) / 2147483648.0);
        break;
      default: out[c] = 0.0f; break;
    }
  }
}

void PlaybackSource::Render(float* out, size_t frames) {
  std::lock_guard<std::mutex> lock(lock_);
  const Range r = CurrentRange();
  if (r.wraps && position_ >= r.end) position_ = r.start;
  Checkpoint& cp = checkpoints_[checkpointCount_ % kCheckpoints];
  cp = Checkpoint{rendered_, position_, 0, r};
  ++checkpointCount_;

  // Never past the audio: `end` is at most the frame count, and a position
  // at or beyond it copies nothing.
  const int64_t want = static_cast<int64_t>(frames);
  const bool readable = audio_.format.nBlockAlign >= channels_ * (bits_ / 8) && bits_ / 8 > 0;
  int64_t copied = 0;
  while (copied < want) {
    if (position_ >= r.end) {
      if (r.wraps && r.start < r.end) {
        position_ = r.start;
        continue;
      }
      break;
    }
    const int64_t n = std::min(want - copied, r.end - position_);
    float* dst = out + copied * channels_;
    for (int64_t i = 0; i < n; ++i, dst += channels_) {
      if (readable) {
        Decode(position_ + i, dst);
      } else {
        std::fill(dst, dst + channels_, 0.0f);
      }
    }
    position_ += n;
    copied += n;
  }
  std::fill(out + copied * channels_, out + want * channels_, 0.0f);
  cp.copied = copied;
  copied_ += copied;
  rendered_ += want;
  if (copied == want) {
    endedAt_ = -1;
  } else if (copied > 0 || endedAt_ < 0) {
    endedAt_ = cp.at + copied;
  }
}

int64_t PlaybackSource::Advance(int64_t frame, int64_t count, const Range& range) {
  if (count <= 0) return frame;
  if (!range.wraps || frame + count < range.end) return frame + count;
  const int64_t length = range.end - range.start;
  if (length <= 0) return frame;
  return range.start + (frame + count - range.end) % length;
}

int64_t PlaybackSource::FrameHeard(int64_t latencyFrames) const {
  std::lock_guard<std::mutex> lock(lock_);
  int64_t frame = startFrame_;
  if (checkpointCount_ > 0) {
    const int64_t heard = std::max<int64_t>(0, rendered_ - std::max<int64_t>(0, latencyFrames));
    const size_t kept = std::min(checkpointCount_, kCheckpoints);
    const Checkpoint* cp = nullptr;
    for (size_t back = 1; back <= kept; ++back) {
      cp = &checkpoints_[(checkpointCount_ - back) % kCheckpoints];
      if (cp->at <= heard) break;
    }
    frame = Advance(cp->frame, std::min(heard - cp->at, cp->copied), cp->range);
  }
  return std::clamp<int64_t>(frame, 0, std::max<int64_t>(0, frames_ - 1));
}

bool PlaybackSource::Drained(int64_t latencyFrames) const {
  std::lock_guard<std::mutex> lock(lock_);
  return endedAt_ >= 0 && rendered_ - std::max<int64_t>(0, latencyFrames) >= endedAt_;
}

int64_t PlaybackSource::FramesRendered() const {
  std::lock_guard<std::mutex> lock(lock_);
  return rendered_;
}

int64_t PlaybackSource::FramesCopied() const {
  std::lock_guard<std::mutex> lock(lock_);
  return copied_;
}

// ------------------------------------------------------------ Playback --

Playback::Playback(ViewModel& model) : model_(model) {}

Playback::~Playback() {
  stateChanged = nullptr;
  Stop();
}

LoopState Playback::CurrentLoop() const { return LoopState{model_.loopIn, model_.loopOut, model_.loopPlayback}; }

int64_t Playback::LatencyFrames() const {
  if (!output_ || !source_) return 0;
  return std::llround(output_->LatencySeconds() * source_->SampleRate());
}

bool Playback::Start() {
  if (IsPlaying() || !model_.HasAudio()) return false;
  const LoopState loop = CurrentLoop();
  int64_t start = std::max<int64_t>(model_.cursorFrame, 0);
  // Starting before the loop plays into it; starting after it jumps to its start.
  if (loop.loopPlayback && loop.loopIn >= 0 && loop.loopOut >= 0 && start >= std::max(loop.loopIn, loop.loopOut))
    start = std::min(loop.loopIn, loop.loopOut);
  auto source = std::make_shared<PlaybackSource>(model_.doc.audio, start, loop, model_.playOnce);
  AudioOutput& output = CurrentAudioOutput();
  if (!JoinOrReport(source, model_.doc.GetLog())) return false;
  output_ = &output;
  source_ = std::move(source);
  if (stateChanged) stateChanged(true);
  return true;
}

bool Playback::Stop() {
  if (!source_) return false;
  model_.playOnce = false;
  // After Leave the output never calls the source again: from here on
  // nothing reads the document's audio.
  output_->Leave(source_.get());
  source_.reset();
  output_ = nullptr;
  if (model_.playAnchor >= 0) model_.cursorFrame = model_.playAnchor;
  if (stateChanged) stateChanged(false);
  return true;
}

Playback::TickResult Playback::Tick() {
  TickResult result;
  if (!source_) return result;
  // A device that stopped under us (the audio server went away, the
  // interface was unplugged) stops playback like its end would: Play/Stop
  // comes up, the device is closed, and the next Play opens it anew.
  if (output_->DeviceLost()) {
    Stop();
    if (LogSink* log = model_.doc.GetLog()) log->AppendLog("Playback stopped: the audio device stopped playing.");
    ShowMessage("Playback stopped: the audio device is no longer available.", MessageIcon::Error);
    result.stopped = true;
    return result;
  }
  const int64_t latency = LatencyFrames();
  // The end of the audio is noticed here, on the user-interface thread, and
  // only for the playback still running: a stop the user made first is
  // never undone by it.
  if (source_->Drained(latency)) {
    Stop();
    result.stopped = true;
    return result;
  }
  // Loop changes made while playing reach the next refill.
  source_->SetLoop(CurrentLoop());
  model_.cursorFrame = source_->FrameHeard(latency);
  if (model_.followPlayhead) {
    const double page = model_.FramesOnScreen();
    if (static_cast<double>(model_.cursorFrame) > model_.viewStart + 0.9 * page) {
      model_.viewStart += page / 2;
      model_.ClampViewStart();
      result.scrolled = true;
    }
  }
  return result;
}

bool Playback::PlayRegionByRootNote(int note) {
  const InstrumentData& inst = model_.doc.instrument;
  if (!inst.hasInstrument) return false;
  const auto it = std::find_if(inst.regions.begin(), inst.regions.end(),
                               [note](const Region& r) { return r.rootNote == note; });
  if (it == inst.regions.end()) return false;
  const int index = static_cast<int>(it - inst.regions.begin());
  if (model_.hooks.selectRegionWithLoop)
    model_.hooks.selectRegionWithLoop(index, Format("(root %s)", MidiNoteName(note).c_str()), true);
  Stop();
  if (model_.loopIn >= 0 && model_.loopOut >= 0 && model_.loopIn < model_.loopOut) {
    model_.cursorFrame = model_.loopIn;
    model_.playOnce = true;
    // A pass that could not start must not leave the next Play a single pass.
    if (!Start()) model_.playOnce = false;
  }
  return true;
}

}  // namespace zandrel
