// CWavLoader: one RIFF/WAVE file held in memory.
//
// It keeps the 16-byte PCM format record, the bytes of the "data" chunk and
// every other top-level chunk verbatim, in file order. The loader never
// interprets the kept chunks (the instrument chunks are read and written by
// instrument_chunks.h). Lengths are never stored: frames = data.size() /
// nBlockAlign, and FrameCount() guards a zero block alignment.
//
// The editor's reading sequence is Load, MixToMono, ConvertTo16Bit, after
// which `data` holds 16-bit PCM at the file's own rate; LoadForEditing does
// all three in one pass over the audio. Save writes the
// format record, the kept chunks in list order and then "data"; every WAV file
// the system writes goes out through it, so it fixes their layout.
//
// A loader holds whole files of audio: copying one is explicit (Clone()),
// moving is cheap. It has no lock; the user-interface thread owns it, and the
// playback of the document's loader is stopped before it is replaced.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "document/riff.h"
#include "platform/byte_sink.h"

#ifndef ZANDREL_MAX_ZERO_FILL
#define ZANDREL_MAX_ZERO_FILL (16u << 20)
#endif

namespace zandrel {

constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatIeeeFloat = 3;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// Exactly the first 16 bytes of a "fmt " chunk.
struct PcmFormat {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;  // bytes per frame, all channels
  uint16_t wBitsPerSample = 0;

  bool operator==(const PcmFormat&) const = default;
};

// A kept top-level chunk. `size` is the size field as read from the file (or
// as the code that built the chunk set it); it serves the WAV report only.
// The writer always writes data.size(), padded to an even length.
struct RiffChunk {
  FourCC id{};
  uint32_t size = 0;
  std::vector<uint8_t> data;

  bool Is(std::string_view fourcc) const { return FourCCIs(id, fourcc); }
  bool operator==(const RiffChunk&) const = default;
};

// Why a WAV file could not be written.
struct WavWriteError {
  bool couldNotCreate = false;  // the file could not even be created
  std::string reason;
};

// What a load noticed about a file it could still read (a truncated audio
// chunk, ...): one line each, starting "Warning: ", for the caller's log.
struct WavLoadReport {
  std::vector<std::string> warnings;
};

// True when 16-bit PCM of this format (stereo mixed to mono first) still
// fits the header: its block alignment in 16 bits, its byte rate in 32.
bool ConvertedFormatFits(const PcmFormat& format);

// Shows the message box for a failed write: "Failed to create file for
// saving." when the file could not be created, else the reason.
void ShowWavWriteError(const WavWriteError& error);

// The message for a path that names something other than a regular file
// (a named pipe, a device): %s is the file name.
inline constexpr char kNotRegularFileFormat[] = "Cannot open %s: it is not a regular file.";

class CWavLoader {
 public:
  // A truncated chunk body other than "data" is zero-filled to its declared
  // size, but never by more than this: a header claiming 4 GiB must not allocate 4 GiB. (The
  // fuzz build lowers it so that each input stays fast.)
  static constexpr size_t kMaxZeroFill = ZANDREL_MAX_ZERO_FILL;

  CWavLoader() = default;
  virtual ~CWavLoader() = default;
  CWavLoader(CWavLoader&&) noexcept = default;
  CWavLoader& operator=(CWavLoader&&) noexcept = default;
  CWavLoader(const CWavLoader&) = delete;
  CWavLoader& operator=(const CWavLoader&) = delete;
  CWavLoader Clone() const;

  PcmFormat format;
  // Verbatim first 40 bytes of an extensible "fmt " chunk; valid when
  // isExtensible is 1. SubFormat GUID at byte 24, its first u16 is the
  // format tag it stands for (1 PCM, 3 IEEE float).
  std::array<uint8_t, 40> extensibleFormat{};
  int32_t isExtensible = 0;
  std::vector<uint8_t> data;     // interleaved little-endian samples
  std::vector<RiffChunk> chunks;  // every other top-level chunk, in order

  // Parses the file into this loader. Returns false (and leaves the loader as
  // it was) when the file cannot be opened (silently), is not RIFF/WAVE, or
  // is damaged so that its audio cannot be found: a chunk before any "data"
  // chunk claims more bytes than the file holds (each with a message box).
  // Only a regular file is read: a named pipe, a device or a socket is
  // refused with kNotRegularFileFormat at once, without waiting on it.
  // A "data" chunk cut short by the end of the file keeps what the file
  // holds, in whole frames, and adds a warning to |report|.
  bool Load(const std::filesystem::path& path, WavLoadReport* report = nullptr);
  // The same for a file held in memory; |name| names it in messages.
  bool LoadFromMemory(std::span<const uint8_t> bytes, std::string_view name = "the file",
                      WavLoadReport* report = nullptr);
  // Load() followed by MixToMono() and ConvertTo16Bit(), with the same
  // result, but the audio is mixed and converted while it is read, a block
  // at a time, straight into `data`: the file's own samples are never held
  // whole beside the result. Audio of a format UnsupportedFormatReason()
  // names is loaded as stored, neither mixed nor converted.
  bool LoadForEditing(const std::filesystem::path& path, WavLoadReport* report = nullptr);
  bool LoadFromMemoryForEditing(std::span<const uint8_t> bytes, std::string_view name = "the file",
                                WavLoadReport* report = nullptr);

  // Writes the loader as a WAV file. A positive maxSeconds first shortens
  // `data` to at most that duration (the loader loses the tail), but only
  // once the output file could be created. The file is written beside the
  // target and renamed over it, so a failed save leaves any existing file
  // untouched; failures show a message box and return false.
  bool Save(const std::filesystem::path& path, float maxSeconds);

  // Averages a stereo file into mono; any other channel count, an unusual
  // sample width or a block alignment too small for the frame is left alone.
  void MixToMono();
  // Converts 8-, 24- and 32-bit integer and 32-bit float samples to 16-bit
  // PCM in place. 16-bit audio and anything it cannot interpret safely is
  // left alone.
  void ConvertTo16Bit();

  // Frames in `data`; 0 when the block alignment is 0.
  int64_t FrameCount() const { return format.nBlockAlign ? static_cast<int64_t>(data.size() / format.nBlockAlign) : 0; }
  // Duration in seconds; 0 when the format cannot say.
  double DurationSeconds() const;

  // The format tag this audio really has: an extensible file stands for the
  // tag of its SubFormat; 0xFFFE without the extensible copy counts as PCM.
  uint16_t EffectiveFormatTag() const;
  bool IsFloat() const { return EffectiveFormatTag() == kWaveFormatIeeeFloat; }

  // Writes this loader's format and kept chunks with |audioData| as the
  // "data" chunk, the layout Save() writes, without touching the loader.
  // Lets a caller write a shortened or prepared copy of a document without
  // copying its audio. Shows no box; |error| says what failed.
  bool WriteTo(const std::filesystem::path& path, std::span<const uint8_t> audioData,
               WavWriteError* error = nullptr) const;
  // The same layout into any sink (no commit, no box). WriteTo() and Save()
  // go through it, so the bytes are the same as a file's.
  bool WriteTo(ByteSink& sink, std::span<const uint8_t> audioData, WavWriteError* error = nullptr) const;
  // Save() into memory: applies the cap to `data` the same way and appends
  // the file's bytes to |out|. False (no box) when the file would not fit.
  bool SaveToMemory(std::vector<uint8_t>& out, float maxSeconds, WavWriteError* error = nullptr);
  // Writes the whole loader (the layout Save() writes) to a file only this
  // process reads back, an undo snapshot: in place, private, not synced to
  // disk, and removed again when the write fails. Shows no box.
  bool WriteSnapshot(const std::filesystem::path& path, WavWriteError* error = nullptr) const;
  // The byte count Save() keeps for maxSeconds (data.size() when uncapped).
  size_t CappedDataBytes(float maxSeconds) const;
};

// Why the editor cannot turn this file's audio into 16-bit PCM, or "" when it
// can. Compressed formats (A-law, ADPCM, ...) would otherwise be converted as
// if they were plain samples and come out as noise.
std::string UnsupportedFormatReason(const CWavLoader& wav);

}  // namespace zandrel
