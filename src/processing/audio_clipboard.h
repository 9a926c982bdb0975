// The audio clipboard block, the two pastes and Append.
//
// Copy puts a selection of the document's audio on the desktop clipboard as
// one block: a 96-byte little-endian header, packed without alignment, and
// the copied PCM bytes exactly as they stand in the document.
//
//   offset size field
//   0      4    magic "QRVL"
//   4      4    u32 version, 1
//   8      2    u16 channel count
//   10     4    u32 sample rate (Hz)
//   14     2    u16 bits per sample
//   16     8    i64 source start (first copied frame of the source)
//   24     8    i64 source end (exclusive)
//   32     8    i64 frame count
//   40     4    u32 region present (1) or not (0)
//   44..87      i64 startSample, endSample, loopStart, loopEnd; i32 loKey, hiKey, rootNote
//   88     4    reserved
//   92     4    u32 n, the PCM byte count
//   96     n    PCM
// Without a region, offsets 40..91 are zero. Positions are frames of the
// source at the block's rate; the region is the source's whole region.
//
// Any program can put bytes on the clipboard under the block's type, so the
// decoder treats them as hostile: every size is checked in 64 bits, and a
// block is accepted only when its PCM byte count is exactly frames x channels
// x bytes per sample, its rate and channel count are not zero and its sample
// width is one the editor reads. The pastes then never read past the PCM and
// never move regions by a count that disagrees with the bytes inserted.
//
// The functions change only the audio and instrument they are given; the
// commands around them record the undo entry (after the checks here passed),
// show the messages, stop playback and refresh the view.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "document/instrument.h"
#include "document/wav_loader.h"
#include "platform/log_sink.h"
#include "platform/message_host.h"

namespace zandrel {

constexpr size_t kClipboardHeaderBytes = 96;
constexpr uint32_t kClipboardVersion = 1;

inline constexpr const char* kClipboardDecodeFailed = "Failed to deserialize clipboard data.";
inline constexpr const char* kAppendConversionFailed = "Error: Audio conversion failed.";

struct AudioClipboardBlock {
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint16_t bitsPerSample = 0;
  int64_t sourceStart = 0;
  int64_t sourceEnd = 0;
  int64_t frameCount = 0;
  std::optional<Region> region;  // the source region holding the copy's middle
  std::vector<uint8_t> pcm;

  bool operator==(const AudioClipboardBlock&) const = default;
};

// The block's bytes: the header and the PCM (n = pcm.size()).
std::vector<uint8_t> EncodeAudioClipboardBlock(const AudioClipboardBlock& block);
// The block held in |bytes|, or nothing when they are not a consistent block
// (the caller then shows kClipboardDecodeFailed). Bytes after the PCM are
// ignored.
std::optional<AudioClipboardBlock> DecodeAudioClipboardBlock(std::span<const uint8_t> bytes);

// A refusal: the message box text and its icon.
struct EditRefusal {
  std::string message;
  MessageIcon icon = MessageIcon::Warning;
};

// Copy: the selection [loopIn, loopOut) of |audio| as a block, with the first
// region (in list order) holding the selection's middle frame when the
// instrument has data. |logLine| receives "Copied ... samples to clipboard".
struct CopyResult {
  std::optional<AudioClipboardBlock> block;
  EditRefusal refusal;  // when there is no block
  std::string logLine;
};
CopyResult CopyAudioSelection(const CWavLoader& audio, const InstrumentData& instrument, int64_t loopIn,
                              int64_t loopOut);

// Brings a decoded block to the document's format before a paste: refuses a
// block whose channel count or width differs from the document's, converts
// one of another rate (16-bit documents only) with ResampleSinc. For a paste
// that inserts (|scalePositions|), the source start and the region's loop
// points are rescaled to the document's rate. |logLines| receives the
// resampling lines. |threads| as for ResampleSinc.
// The refusal of a block whose rate the converter cannot bring to the
// document's (rates more than 256 times apart).
std::string ClipboardRateRefusal(uint32_t blockRate, uint32_t documentRate);

std::optional<EditRefusal> FitBlockToDocument(AudioClipboardBlock& block, const PcmFormat& document,
                                              bool scalePositions, std::vector<std::string>& logLines,
                                              unsigned threads = 0);

struct PasteResult {
  std::optional<EditRefusal> refusal;  // nothing was changed
  bool inside = false;  // an existing region was extended (Paste only)
  int64_t frames = 0;   // frames written
  int64_t clipped = 0;  // frames dropped at the end (Paste in Place only)
  int64_t selStart = 0, selEnd = 0;  // the new selection
  std::string logLine;
};

// Paste: inserts the block's audio (already fitted) at |cursor| (0..frames),
// shifts and extends the regions or adds one, sorts them and repairs them
// (orphans, key ranges; their log lines go to |log|).
PasteResult PasteInsert(CWavLoader& audio, InstrumentData& instrument, int64_t cursor,
                        const AudioClipboardBlock& block, LogSink* log);
// Paste in Place: overwrites frames from |cursor| (below the frame count) on;
// what does not fit is dropped. Length and regions stay.
PasteResult PasteInPlace(CWavLoader& audio, int64_t cursor, const AudioClipboardBlock& block);

// The cursor checks of the pastes, made before anything is recorded.
std::optional<EditRefusal> CheckPasteCursor(int64_t cursor, int64_t frames);
std::optional<EditRefusal> CheckPasteInPlaceCursor(int64_t cursor, int64_t frames);

// Append: the file's audio (already loaded, mixed to mono and converted to
// 16 bits by the caller) at another rate is converted to the document's rate
// when |resample|; a file or document that is not mono 16-bit PCM, or a
// failed conversion, is refused with kAppendConversionFailed. Nothing is
// appended here. |logLines| receives the resampling lines; |name| names the
// file in them.
std::optional<EditRefusal> PrepareAppendSource(CWavLoader& file, const PcmFormat& document, const std::string& name,
                                               std::vector<std::string>& logLines, unsigned threads = 0);

struct AppendResult {
  std::optional<EditRefusal> refusal;
  int64_t start = 0;   // S: first appended frame
  int64_t frames = 0;  // A: appended frames
  Region region;
  std::vector<std::string> logLines;
};
// Appends the prepared file's audio at the end of |audio| as a new region
// keyed above the existing ones; |name| names the file in the log lines.
AppendResult AppendAudio(CWavLoader& audio, InstrumentData& instrument, const CWavLoader& file,
                         const std::string& name);

}  // namespace zandrel
