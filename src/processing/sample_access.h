// Sample access: single samples and whole channels of interleaved PCM at every
// integer width the editor handles, and a read-only view of PCM with its format.
//
// Encodings (little-endian, interleaved frame by frame):
//   bits  stored as                       raw value    normalised (read)   written from v in -1..1
//   8     unsigned byte, 128 = silence    byte - 128   (byte - 128) / 128  trunc(v * 127 + 128)
//   16    signed 16-bit                   as stored    x / 32768           trunc(v * 32767)
//   24    packed 3 bytes, sign bit 23     as stored    x / 8388608         trunc(v * 8388607)
//   32    signed 32-bit integer           as stored    x / 2147483648      trunc(v * 2147483648),
//                                                                          at most 2147483647
// trunc rounds toward zero; written values are clamped first, never wrapped.
// Any other width reads as 0 and writes nothing.
//
// Every routine checks its offsets against the buffer and the channel against
// the frame: reads outside them give 0, writes outside them are skipped. The functions are pure and may run on any
// thread on buffers nobody else is writing.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace zandrel {

class CWavLoader;

// Read-only view of interleaved PCM and the format fields the analysis
// routines need. It does not own the bytes: the buffer must outlive the view
// and must not be resized while it is in use.
struct PcmSpan {
  std::span<const uint8_t> bytes;
  uint16_t formatTag = 1;  // 1 integer PCM, 3 IEEE float (an extensible file's real tag)
  uint16_t channels = 1;
  uint32_t sampleRate = 0;  // frames per second
  uint16_t blockAlign = 0;  // bytes per frame, all channels
  uint16_t bitsPerSample = 0;

  // The loader's audio; the loader must stay unchanged while the view is used.
  static PcmSpan Of(const CWavLoader& audio);
  // bytes / blockAlign; 0 when the block alignment is 0.
  int64_t Frames() const { return blockAlign ? static_cast<int64_t>(bytes.size() / blockAlign) : 0; }
};

// The raw value of the sample whose bytes start at |p| (the table's third
// column; 32-bit as an integer); 0 for other widths. |p| must hold bits / 8
// bytes.
int32_t RawSampleAt(const uint8_t* p, int bits);
// The 32-bit float sample whose bytes start at |p|.
float FloatSampleAt(const uint8_t* p);

// The raw value of one sample (the table's third column). The frame stride is
// channels * (bits / 8). Out-of-range positions and other widths give 0.
double ReadSampleValue(std::span<const uint8_t> pcm, int64_t frame, int channel, int channels, int bits);

// out = count normalised values of |channel| from startFrame on; frames
// outside the data (frames = bytes / blockAlign) read as 0. A width other
// than 8, 16, 24 or 32 gives count zeros. A negative count gives nothing.
void ChannelToFloat(std::span<const uint8_t> pcm, std::vector<float>& out, int64_t startFrame, int64_t count,
                    int channel, int bits, int blockAlign);

// Writes in[i], clamped to -1..1, into frame startFrame + i of |channel| for
// every i whose frame lies inside the data; nothing else is touched.
void FloatToChannel(const std::vector<float>& in, std::span<uint8_t> pcm, int64_t startFrame, int channel, int bits,
                    int blockAlign);

}  // namespace zandrel
