#include "processing/audio_clipboard.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "document/region_ops.h"
#include "platform/text_format.h"
#include "processing/edit_positions.h"
#include "processing/sinc_resampler.h"

namespace zandrel {
namespace {

template <typename T>
void Put(std::vector<uint8_t>& out, size_t offset, T value) {
  using U = std::make_unsigned_t<T>;
  const U u = static_cast<U>(value);
  for (size_t i = 0; i < sizeof(T); ++i) out[offset + i] = static_cast<uint8_t>(u >> (8 * i));
}

template <typename T>
T Get(std::span<const uint8_t> in, size_t offset) {
  using U = std::make_unsigned_t<T>;
  U u = 0;
  for (size_t i = 0; i < sizeof(T); ++i) u |= static_cast<U>(static_cast<U>(in[offset + i]) << (8 * i));
  return static_cast<T>(u);
}

bool ReadableWidth(uint16_t bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32; }

// A frame position multiplied by |factor| and truncated toward zero, held
// inside the int64 range.
int64_t ScalePosition(int64_t p, double factor) {
  const double v = std::trunc(static_cast<double>(p) * factor);
  if (!(v > -9.2e18)) return std::numeric_limits<int64_t>::min();
  if (!(v < 9.2e18)) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(v);
}

// Frame size of interleaved PCM as the pastes count it; 0 for a format
// without one.
int64_t FrameBytes(uint16_t channels, uint16_t bits) {
  return static_cast<int64_t>(channels) * (bits / 8);
}

}  // namespace

std::vector<uint8_t> EncodeAudioClipboardBlock(const AudioClipboardBlock& block) {
  std::vector<uint8_t> out(kClipboardHeaderBytes + block.pcm.size(), 0);
  std::memcpy(out.data(), "QRVL", 4);
  Put<uint32_t>(out, 4, kClipboardVersion);
  Put<uint16_t>(out, 8, block.channels);
  Put<uint32_t>(out, 10, block.sampleRate);
  Put<uint16_t>(out, 14, block.bitsPerSample);
  Put<int64_t>(out, 16, block.sourceStart);
  Put<int64_t>(out, 24, block.sourceEnd);
  Put<int64_t>(out, 32, block.frameCount);
  if (block.region) {
    const Region& r = *block.region;
    Put<uint32_t>(out, 40, 1);
    Put<int64_t>(out, 44, r.startSample);
    Put<int64_t>(out, 52, r.endSample);
    Put<int64_t>(out, 60, r.loopStart);
    Put<int64_t>(out, 68, r.loopEnd);
    Put<int32_t>(out, 76, r.loKey);
    Put<int32_t>(out, 80, r.hiKey);
    Put<int32_t>(out, 84, r.rootNote);
  }
  Put<uint32_t>(out, 92, static_cast<uint32_t>(block.pcm.size()));
  if (!block.pcm.empty()) std::memcpy(out.data() + kClipboardHeaderBytes, block.pcm.data(), block.pcm.size());
  return out;
}

std::optional<AudioClipboardBlock> DecodeAudioClipboardBlock(std::span<const uint8_t> bytes) {
  if (bytes.size() < kClipboardHeaderBytes) return std::nullopt;
  if (std::memcmp(bytes.data(), "QRVL", 4) != 0) return std::nullopt;
  if (Get<uint32_t>(bytes, 4) != kClipboardVersion) return std::nullopt;
  const uint64_t n = Get<uint32_t>(bytes, 92);
  if (static_cast<uint64_t>(bytes.size()) < kClipboardHeaderBytes + n) return std::nullopt;

  AudioClipboardBlock block;
  block.channels = Get<uint16_t>(bytes, 8);
  block.sampleRate = Get<uint32_t>(bytes, 10);
  block.bitsPerSample = Get<uint16_t>(bytes, 14);
  block.sourceStart = Get<int64_t>(bytes, 16);
  block.sourceEnd = Get<int64_t>(bytes, 24);
  block.frameCount = Get<int64_t>(bytes, 32);
  if (block.channels == 0 || block.sampleRate == 0 || !ReadableWidth(block.bitsPerSample)) return std::nullopt;
  // Every frame holds at least one byte, so a count above n cannot match and
  // the product below stays far inside 64 bits.
  if (block.frameCount < 0 || static_cast<uint64_t>(block.frameCount) > n) return std::nullopt;
  if (static_cast<uint64_t>(block.frameCount) * block.channels * (block.bitsPerSample / 8u) != n) return std::nullopt;

  if (Get<uint32_t>(bytes, 40) != 0) {
    Region r;
    r.startSample = Get<int64_t>(bytes, 44);
    r.endSample = Get<int64_t>(bytes, 52);
    r.loopStart = Get<int64_t>(bytes, 60);
    r.loopEnd = Get<int64_t>(bytes, 68);
    r.loKey = Get<int32_t>(bytes, 76);
    r.hiKey = Get<int32_t>(bytes, 80);
    r.rootNote = Get<int32_t>(bytes, 84);
    block.region = r;
  }
  block.pcm.assign(bytes.begin() + kClipboardHeaderBytes, bytes.begin() + kClipboardHeaderBytes + n);
  return block;
}

CopyResult CopyAudioSelection(const CWavLoader& audio, const InstrumentData& instrument, int64_t loopIn,
                              int64_t loopOut) {
  CopyResult result;
  if (loopIn < 0 || loopIn >= loopOut) {
    result.refusal = {"No valid playback loop region selected. Please set loop start and end points.",
                      MessageIcon::Information};
    return result;
  }
  if (audio.data.empty()) {
    result.refusal = {"No audio data available to copy.", MessageIcon::Warning};
    return result;
  }
  const int64_t frameBytes = FrameBytes(audio.format.nChannels, audio.format.wBitsPerSample);
  const int64_t frames = loopOut - loopIn;
  // A block holds at most 2^32 - 1 PCM bytes (its n is 32 bits).
  if (frameBytes == 0 || loopOut > static_cast<int64_t>(audio.data.size()) / frameBytes ||
      frames * frameBytes > static_cast<int64_t>(std::numeric_limits<uint32_t>::max())) {
    result.refusal = {"Invalid loop region. Please check loop boundaries.", MessageIcon::Warning};
    return result;
  }
  AudioClipboardBlock block;
  block.channels = audio.format.nChannels;
  block.sampleRate = audio.format.nSamplesPerSec;
  block.bitsPerSample = audio.format.wBitsPerSample;
  block.sourceStart = loopIn;
  block.sourceEnd = loopOut;
  block.frameCount = frames;
  if (instrument.hasInstrument) {
    const int64_t middle = (loopIn + loopOut) / 2;
    for (const Region& r : instrument.regions) {
      if (r.startSample <= middle && middle < r.endSample) {
        block.region = r;
        break;
      }
    }
  }
  const auto begin = audio.data.begin() + static_cast<ptrdiff_t>(loopIn * frameBytes);
  block.pcm.assign(begin, begin + static_cast<ptrdiff_t>(frames * frameBytes));
  result.logLine = Format("Copied %lld samples to clipboard%s", static_cast<long long>(frames),
                          block.region ? " (with region metadata)" : "");
  result.block = std::move(block);
  return result;
}

std::string ClipboardRateRefusal(uint32_t blockRate, uint32_t documentRate) {
  return Format("Cannot paste: the clipboard audio's sample rate of %u Hz cannot be converted to the document's "
                "%u Hz.",
                blockRate, documentRate);
}

std::optional<EditRefusal> FitBlockToDocument(AudioClipboardBlock& block, const PcmFormat& document,
                                              bool scalePositions, std::vector<std::string>& logLines,
                                              unsigned threads) {
  if (block.channels != document.nChannels || block.bitsPerSample != document.wBitsPerSample) {
    return EditRefusal{Format("Audio format mismatch!\n\nClipboard: %d channels, %d-bit\nDocument: %d channels, "
                              "%d-bit\n\nCannot paste audio with different channel count or bit depth.",
                              block.channels, block.bitsPerSample, document.nChannels, document.wBitsPerSample),
                       MessageIcon::Warning};
  }
  if (block.sampleRate == document.nSamplesPerSec) return std::nullopt;
  if (document.wBitsPerSample != 16) {
    return EditRefusal{Format("Sample rate mismatch: Clipboard is %u Hz, Document is %u Hz.\n\nAutomatic resampling "
                              "is only supported for 16-bit audio.\nCurrent document is %d-bit.",
                              block.sampleRate, document.nSamplesPerSec, document.wBitsPerSample),
                       MessageIcon::Warning};
  }
  const uint64_t inFrames = block.pcm.size() / (block.channels * 2u);
  const double ratio = document.nSamplesPerSec == 0
                           ? std::numeric_limits<double>::infinity()
                           : static_cast<double>(block.sampleRate) / document.nSamplesPerSec;
  // The converter serves rates at most 256 times apart; converting any
  // other block would paste nothing after the undo entry was recorded, so it
  // is refused here, saying why.
  if (!(ratio <= kSincMaxRatio && ratio >= 1.0 / kSincMaxRatio) || block.channels > kSincMaxChannels) {
    return EditRefusal{ClipboardRateRefusal(block.sampleRate, document.nSamplesPerSec), MessageIcon::Warning};
  }
  logLines.push_back(
      Format("Resampling clipboard audio: %u Hz to %u Hz...", block.sampleRate, document.nSamplesPerSec));
  std::vector<int16_t> in(inFrames * block.channels);
  if (!in.empty()) std::memcpy(in.data(), block.pcm.data(), in.size() * sizeof(int16_t));
  std::vector<int16_t> out;
  SincFilterSpec spec = SincFilterSpec::Best();
  ResampleSinc(spec, out, in.data(), inFrames, block.channels, ratio, threads);
  if (out.empty() && inFrames > 0 && static_cast<double>(inFrames) / ratio >= 1.0) {
    return EditRefusal{kClipboardDecodeFailed, MessageIcon::Error};
  }
  if (out.size() * sizeof(int16_t) > std::numeric_limits<uint32_t>::max()) {
    return EditRefusal{kClipboardDecodeFailed, MessageIcon::Error};
  }
  const int64_t oldFrames = block.frameCount;
  block.pcm.resize(out.size() * sizeof(int16_t));
  if (!out.empty()) std::memcpy(block.pcm.data(), out.data(), block.pcm.size());
  block.frameCount = static_cast<int64_t>(out.size() / block.channels);
  if (scalePositions) {
    const double back = static_cast<double>(document.nSamplesPerSec) / block.sampleRate;
    block.sourceStart = ScalePosition(block.sourceStart, back);
    if (block.region) {
      if (block.region->loopStart != kNoLoop) block.region->loopStart = ScalePosition(block.region->loopStart, back);
      if (block.region->loopEnd != kNoLoop) block.region->loopEnd = ScalePosition(block.region->loopEnd, back);
    }
  }
  block.sampleRate = document.nSamplesPerSec;
  logLines.push_back(Format("Resampling complete: %lld samples to %lld samples", static_cast<long long>(oldFrames),
                            static_cast<long long>(block.frameCount)));
  return std::nullopt;
}

std::optional<EditRefusal> CheckPasteCursor(int64_t cursor, int64_t frames) {
  if (cursor < 0) {
    return EditRefusal{"No valid cursor position. Please click on the waveform to set the paste location.",
                       MessageIcon::Information};
  }
  if (cursor > frames) return EditRefusal{"Cursor position is beyond audio data bounds.", MessageIcon::Warning};
  return std::nullopt;
}

std::optional<EditRefusal> CheckPasteInPlaceCursor(int64_t cursor, int64_t frames) {
  if (cursor < 0) {
    return EditRefusal{"No valid cursor position. Please click on the waveform to set the paste location.",
                       MessageIcon::Information};
  }
  if (cursor >= frames) {
    return EditRefusal{"Cursor position is at or beyond audio data bounds. Cannot paste in place.",
                       MessageIcon::Warning};
  }
  return std::nullopt;
}

namespace {

// The block's PCM must be the document's format and hold exactly its frames;
// a decoded and fitted block always does.
std::optional<EditRefusal> CheckBlockMatches(const CWavLoader& audio, const AudioClipboardBlock& block) {
  const int64_t frameBytes = FrameBytes(audio.format.nChannels, audio.format.wBitsPerSample);
  if (block.channels != audio.format.nChannels || block.bitsPerSample != audio.format.wBitsPerSample ||
      frameBytes == 0 || block.frameCount < 0 ||
      static_cast<uint64_t>(block.frameCount) * static_cast<uint64_t>(frameBytes) != block.pcm.size()) {
    return EditRefusal{kClipboardDecodeFailed, MessageIcon::Error};
  }
  return std::nullopt;
}

}  // namespace

PasteResult PasteInsert(CWavLoader& audio, InstrumentData& instrument, int64_t cursor,
                        const AudioClipboardBlock& block, LogSink* log) {
  PasteResult result;
  if ((result.refusal = CheckBlockMatches(audio, block))) return result;
  const int64_t frameBytes = FrameBytes(audio.format.nChannels, audio.format.wBitsPerSample);
  const int64_t n = static_cast<int64_t>(audio.data.size()) / frameBytes;
  if ((result.refusal = CheckPasteCursor(cursor, n))) return result;
  const int64_t c = cursor;
  const int64_t f = block.frameCount;

  bool inside = false;
  if (c < n - 1) {
    for (const Region& r : instrument.regions) {
      if (r.startSample < c && c < r.endSample) {
        inside = true;
        break;
      }
    }
  }

  // A document whose byte count is not whole frames keeps its odd tail at
  // the end.
  audio.data.insert(audio.data.begin() + static_cast<ptrdiff_t>(c * frameBytes), block.pcm.begin(), block.pcm.end());

  for (Region& r : instrument.regions) {
    if (r.endSample <= c) continue;
    if (r.startSample >= c) {
      r.startSample = ShiftFrame(r.startSample, f);
      r.endSample = ShiftFrame(r.endSample, f);
      if (r.loopStart != kNoLoop) r.loopStart = ShiftFrame(r.loopStart, f);
      if (r.loopEnd != kNoLoop) r.loopEnd = ShiftFrame(r.loopEnd, f);
    } else if (c < n - 1) {  // startSample < c < endSample
      r.endSample = ShiftFrame(r.endSample, f);
      if (r.loopStart != kNoLoop && r.loopStart >= c) r.loopStart = ShiftFrame(r.loopStart, f);
      if (r.loopEnd != kNoLoop && r.loopEnd >= c) r.loopEnd = ShiftFrame(r.loopEnd, f);
    }
  }

  if (!inside) {
    Region added;
    added.startSample = c;
    added.endSample = c + f;
    if (block.region) {
      const Region& src = *block.region;
      auto place = [&](int64_t p) {
        if (p == kNoLoop) return kNoLoop;
        return std::clamp(ShiftFrame(c, FrameDistance(p, block.sourceStart)), c, c + f);
      };
      added.loopStart = place(src.loopStart);
      added.loopEnd = place(src.loopEnd);
      // A block may carry a loop whose start lies after its end; such a loop
      // is no loop, and the region comes out without one.
      if (added.loopStart != kNoLoop && added.loopEnd != kNoLoop && added.loopStart > added.loopEnd)
        added.loopStart = added.loopEnd = kNoLoop;
      added.loKey = src.loKey;
      added.hiKey = src.hiKey;
      added.rootNote = src.rootNote;
    }
    instrument.regions.push_back(added);
    instrument.hasInstrument = true;
  }

  SortRegions(instrument.regions);
  RemoveOrphanedRegions(instrument, log);
  SanitizeKeyRanges(instrument, log);

  result.inside = inside;
  result.frames = f;
  result.selStart = c;
  result.selEnd = c + f;
  result.logLine = Format(inside ? "Pasted %lld samples at position %lld. Extended existing region."
                                 : "Pasted %lld samples at position %lld. Created new region.",
                          static_cast<long long>(f), static_cast<long long>(c));
  return result;
}

PasteResult PasteInPlace(CWavLoader& audio, int64_t cursor, const AudioClipboardBlock& block) {
  PasteResult result;
  if ((result.refusal = CheckBlockMatches(audio, block))) return result;
  const int64_t frameBytes = FrameBytes(audio.format.nChannels, audio.format.wBitsPerSample);
  const int64_t n = static_cast<int64_t>(audio.data.size()) / frameBytes;
  if ((result.refusal = CheckPasteInPlaceCursor(cursor, n))) return result;
  const int64_t k = std::min(block.frameCount, n - cursor);
  if (k > 0) std::memcpy(audio.data.data() + cursor * frameBytes, block.pcm.data(), static_cast<size_t>(k * frameBytes));
  result.frames = k;
  result.clipped = block.frameCount - k;
  result.selStart = cursor;
  result.selEnd = cursor + k;
  result.logLine =
      k < block.frameCount
          ? Format("Pasted in place %lld samples at position %lld (clipped %lld samples at end).",
                   static_cast<long long>(k), static_cast<long long>(cursor), static_cast<long long>(result.clipped))
          : Format("Pasted in place %lld samples at position %lld.", static_cast<long long>(k),
                   static_cast<long long>(cursor));
  return result;
}

namespace {

bool IsMono16Pcm(const PcmFormat& f, uint16_t effectiveTag) {
  return f.nChannels == 1 && f.wBitsPerSample == 16 && f.nBlockAlign == 2 && effectiveTag == kWaveFormatPcm;
}

}  // namespace

std::optional<EditRefusal> PrepareAppendSource(CWavLoader& file, const PcmFormat& document, const std::string& name,
                                               std::vector<std::string>& logLines, unsigned threads) {
  const EditRefusal failed{kAppendConversionFailed, MessageIcon::None};
  // Anything else would append bytes the document reads as other samples.
  const uint16_t documentTag = document.wFormatTag == kWaveFormatExtensible ? kWaveFormatPcm : document.wFormatTag;
  if (!IsMono16Pcm(file.format, file.EffectiveFormatTag()) || !IsMono16Pcm(document, documentTag)) return failed;
  if (file.format.nSamplesPerSec == document.nSamplesPerSec) return std::nullopt;

  logLines.push_back(Format("Resampling %s from %u Hz to %u Hz...", name.c_str(), file.format.nSamplesPerSec,
                            document.nSamplesPerSec));
  const uint64_t frames = file.data.size() / 2;
  std::vector<int16_t> in(frames);
  if (frames) std::memcpy(in.data(), file.data.data(), frames * 2);
  std::vector<int16_t> out;
  SincFilterSpec spec = SincFilterSpec::Best();
  const double ratio = document.nSamplesPerSec == 0
                           ? std::numeric_limits<double>::infinity()
                           : static_cast<double>(file.format.nSamplesPerSec) / document.nSamplesPerSec;
  ResampleSinc(spec, out, in.data(), frames, 1, ratio, threads);
  if (out.empty() && frames > 0) return failed;
  file.data.resize(out.size() * 2);
  if (!out.empty()) std::memcpy(file.data.data(), out.data(), file.data.size());
  file.format.nSamplesPerSec = document.nSamplesPerSec;
  file.format.nAvgBytesPerSec = document.nSamplesPerSec * 2;
  logLines.push_back("Resampling complete.");
  return std::nullopt;
}

AppendResult AppendAudio(CWavLoader& audio, InstrumentData& instrument, const CWavLoader& file,
                         const std::string& name) {
  AppendResult result;
  const uint16_t blockSize = audio.format.nBlockAlign;
  if (blockSize == 0 || file.format.nBlockAlign != blockSize) {
    result.refusal = EditRefusal{kAppendConversionFailed, MessageIcon::None};
    return result;
  }
  const int64_t start = audio.FrameCount();
  // Whole frames only: a stray odd byte would shift every later sample.
  audio.data.resize(static_cast<size_t>(start) * blockSize);
  const size_t appended = file.data.size() / blockSize * blockSize;
  audio.data.insert(audio.data.end(), file.data.begin(), file.data.begin() + static_cast<ptrdiff_t>(appended));
  const int64_t frames = static_cast<int64_t>(appended / blockSize);

  Region r;
  r.startSample = start;
  r.endSample = start + frames;
  if (instrument.regions.empty()) {
    r.loKey = 60;
    r.hiKey = 127;
    r.rootNote = 60;
  } else {
    int32_t highest = 0;
    for (const Region& x : instrument.regions) highest = std::max(highest, x.hiKey);
    const int32_t k = std::min(highest + 1, 127);
    r.loKey = r.hiKey = r.rootNote = k;
  }
  instrument.regions.push_back(r);
  instrument.hasInstrument = true;

  const uint32_t rate = audio.format.nSamplesPerSec;
  result.start = start;
  result.frames = frames;
  result.region = r;
  result.logLines.push_back(Format("--- Appended WAV: %s ---", name.c_str()));
  result.logLines.push_back(Format("Appended %lld samples (%.3f seconds)", static_cast<long long>(frames),
                                   rate ? static_cast<double>(frames) / rate : 0.0));
  result.logLines.push_back(Format("New region created: samples %lld - %lld, MIDI keys %d - %d",
                                   static_cast<long long>(start), static_cast<long long>(start + frames), r.loKey,
                                   r.hiKey));
  result.logLines.push_back(Format("Total audio duration: %.3f seconds",
                                   rate ? static_cast<double>(audio.data.size() / blockSize) / rate : 0.0));
  return result;
}

}  // namespace zandrel
