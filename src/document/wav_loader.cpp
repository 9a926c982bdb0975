#include "document/wav_loader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "platform/atomic_file.h"
#include "platform/message_host.h"
#include "platform/text_format.h"

namespace zandrel {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads a chunk body of |declared| bytes starting at the current position.
// What the file holds is read; a body that runs past the end is zero-filled to
// its declared size, by at most kMaxZeroFill bytes.
std::vector<uint8_t> ReadBody(std::FILE* f, uint64_t declared, uint64_t available) {
  const uint64_t toRead = std::min(declared, available);
  const uint64_t keep = std::min<uint64_t>(declared, toRead + CWavLoader::kMaxZeroFill);
  std::vector<uint8_t> body(static_cast<size_t>(keep), 0);
  if (toRead > 0) std::fread(body.data(), 1, static_cast<size_t>(toRead), f);
  return body;
}

int32_t SignExtend24(const uint8_t* p) {
  const int32_t v = static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16));
  return (v & 0x800000) ? v - 0x1000000 : v;
}

void Store24(uint8_t* p, int32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}

constexpr uint32_t PaddedSize(uint64_t n) { return static_cast<uint32_t>(n + (n & 1)); }

}  // namespace

CWavLoader CWavLoader::Clone() const {
  CWavLoader copy;
  copy.format = format;
  copy.extensibleFormat = extensibleFormat;
  copy.isExtensible = isExtensible;
  copy.data = data;
  copy.chunks = chunks;
  return copy;
}

double CWavLoader::DurationSeconds() const {
  if (format.nSamplesPerSec == 0) return 0.0;
  return static_cast<double>(FrameCount()) / format.nSamplesPerSec;
}

uint16_t CWavLoader::EffectiveFormatTag() const {
  if (format.wFormatTag != kWaveFormatExtensible) return format.wFormatTag;
  if (!isExtensible) return kWaveFormatPcm;
  const uint16_t sub = ReadLE16(extensibleFormat.data() + 24);
  return sub == kWaveFormatExtensible ? kWaveFormatPcm : sub;
}

bool CWavLoader::Load(const std::filesystem::path& path) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  std::FILE* f = file.get();

  if (std::fseek(f, 0, SEEK_END) != 0) return false;
  const long endPos = std::ftell(f);
  if (endPos < 0) return false;
  const uint64_t fileLength = static_cast<uint64_t>(endPos);
  std::fseek(f, 0, SEEK_SET);

  uint8_t head[12] = {};
  const size_t got = std::fread(head, 1, sizeof head, f);
  if (got < 4 || std::memcmp(head, "RIFF", 4) != 0) {
    ShowMessage("This is not a valid RIFF file.");
    return false;
  }
  if (got < 12 || std::memcmp(head + 8, "WAVE", 4) != 0) {
    ShowMessage("This is not a valid WAVE file.");
    return false;
  }

  CWavLoader loaded;
  uint64_t pos = 12;
  while (pos < fileLength) {
    uint8_t header[8];
    if (std::fread(header, 1, 8, f) < 8) break;
    pos += 8;
    FourCC id;
    std::memcpy(id.data(), header, 4);
    const uint64_t size = ReadLE32(header + 4);
    const uint64_t available = fileLength > pos ? fileLength - pos : 0;

    if (FourCCIs(id, "fmt ")) {
      std::vector<uint8_t> body = ReadBody(f, std::min<uint64_t>(size, 40), available);
      body.resize(40, 0);
      PcmFormat fmt;
      const size_t used = static_cast<size_t>(std::min<uint64_t>(size, 16));
      uint8_t rec[16] = {};
      std::memcpy(rec, body.data(), used);
      fmt.wFormatTag = ReadLE16(rec);
      fmt.nChannels = ReadLE16(rec + 2);
      fmt.nSamplesPerSec = ReadLE32(rec + 4);
      fmt.nAvgBytesPerSec = ReadLE32(rec + 8);
      fmt.nBlockAlign = ReadLE16(rec + 12);
      fmt.wBitsPerSample = ReadLE16(rec + 14);
      loaded.format = fmt;
      if (fmt.wFormatTag == kWaveFormatExtensible && size >= 40) {
        std::copy_n(body.begin(), 40, loaded.extensibleFormat.begin());
        loaded.isExtensible = 1;
      } else {
        loaded.isExtensible = 0;
      }
    } else if (FourCCIs(id, "data")) {
      loaded.data = ReadBody(f, size, available);
    } else {
      RiffChunk chunk;
      chunk.id = id;
      chunk.size = static_cast<uint32_t>(size);
      chunk.data = ReadBody(f, size, available);
      loaded.chunks.push_back(std::move(chunk));
    }
    pos += size + (size & 1);
    if (pos >= fileLength) break;
    if (std::fseek(f, static_cast<long>(pos), SEEK_SET) != 0) break;
  }

  *this = std::move(loaded);
  return true;
}

size_t CWavLoader::CappedDataBytes(float maxSeconds) const {
  if (!(maxSeconds > 0.0f) || format.nAvgBytesPerSec == 0) return data.size();
  const float bytes = static_cast<float>(format.nAvgBytesPerSec) * maxSeconds;
  if (!std::isfinite(bytes) || bytes >= 1.8e19f) return data.size();
  uint64_t cap = static_cast<uint64_t>(bytes);
  if (format.nBlockAlign != 0) cap -= cap % format.nBlockAlign;
  return static_cast<size_t>(std::min<uint64_t>(cap, data.size()));
}

namespace {

// Writes the whole file into an open writer and commits it.
bool WriteWav(const CWavLoader& wav, AtomicFileWriter& writer, std::span<const uint8_t> audio, WavWriteError* error) {
  auto fail = [&](std::string reason) {
    if (error) *error = WavWriteError{false, std::move(reason)};
    return false;
  };
  const size_t dataBytes = audio.size();
  uint64_t riffSize = 36 + static_cast<uint64_t>(PaddedSize(dataBytes));
  for (const RiffChunk& c : wav.chunks) riffSize += 8 + static_cast<uint64_t>(PaddedSize(c.data.size()));
  if (riffSize > std::numeric_limits<uint32_t>::max())
    return fail("the audio and its chunks are larger than a WAV file can hold (4 GiB)");

  const PcmFormat& fmt = wav.format;
  std::vector<uint8_t> head;
  head.reserve(36);
  AppendFourCC(head, MakeFourCC("RIFF"));
  AppendLE32(head, static_cast<uint32_t>(riffSize));
  AppendFourCC(head, MakeFourCC("WAVE"));
  AppendFourCC(head, MakeFourCC("fmt "));
  AppendLE32(head, 16);
  // A 16-byte format record cannot declare the extensible tag: write the tag
  // the audio really has.
  AppendLE16(head, wav.EffectiveFormatTag());
  AppendLE16(head, fmt.nChannels);
  AppendLE32(head, fmt.nSamplesPerSec);
  AppendLE32(head, fmt.nAvgBytesPerSec);
  AppendLE16(head, fmt.nBlockAlign);
  AppendLE16(head, fmt.wBitsPerSample);
  bool ok = writer.Write(head.data(), head.size());

  static const uint8_t kPad = 0;
  auto writeChunk = [&](const FourCC& id, const uint8_t* bytes, size_t count) {
    std::vector<uint8_t> header;
    AppendFourCC(header, id);
    AppendLE32(header, static_cast<uint32_t>(count));
    ok = ok && writer.Write(header.data(), header.size()) && writer.Write(bytes, count);
    if (count & 1) ok = ok && writer.Write(&kPad, 1);
  };
  for (const RiffChunk& c : wav.chunks) writeChunk(c.id, c.data.data(), c.data.size());
  writeChunk(MakeFourCC("data"), audio.data(), dataBytes);

  ok = ok && writer.Commit();
  return ok ? true : fail(writer.Error());
}

}  // namespace

void ShowWavWriteError(const WavWriteError& error) {
  if (error.couldNotCreate) {
    ShowMessage("Failed to create file for saving.");
  } else {
    ShowMessage(Format("Failed to save the file: %s.\nThe file on disk was not changed.", error.reason.c_str()),
                MessageIcon::Error);
  }
}

bool CWavLoader::WriteTo(const std::filesystem::path& path, std::span<const uint8_t> audioData,
                         WavWriteError* error) const {
  AtomicFileWriter writer;
  if (!writer.Open(path)) {
    if (error) *error = WavWriteError{true, writer.Error()};
    return false;
  }
  return WriteWav(*this, writer, audioData, error);
}

bool CWavLoader::Save(const std::filesystem::path& path, float maxSeconds) {
  // The cap shortens `data` only once the file could be created: a save that
  // cannot even start must not cost the audio its tail.
  AtomicFileWriter writer;
  if (!writer.Open(path)) {
    ShowWavWriteError(WavWriteError{true, writer.Error()});
    return false;
  }
  data.resize(CappedDataBytes(maxSeconds));
  WavWriteError error;
  if (!WriteWav(*this, writer, data, &error)) {
    ShowWavWriteError(error);
    return false;
  }
  return true;
}

void CWavLoader::MixToMono() {
  if (format.nChannels != 2) return;
  const size_t width = format.wBitsPerSample / 8;
  if (width < 1 || width > 4 || format.wBitsPerSample % 8 != 0) return;
  const size_t align = format.nBlockAlign;
  if (align < 2 * width) return;  // a frame must hold both samples

  const size_t frames = data.size() / align;
  std::vector<uint8_t> mono(frames * width);
  const bool isFloat = IsFloat();
  for (size_t i = 0; i < frames; ++i) {
    const uint8_t* l = data.data() + i * align;
    const uint8_t* r = l + width;
    uint8_t* out = mono.data() + i * width;
    switch (width) {
      case 1:
        *out = static_cast<uint8_t>((static_cast<unsigned>(*l) + *r) >> 1);
        break;
      case 2: {
        const int sum = static_cast<int16_t>(ReadLE16(l)) + static_cast<int16_t>(ReadLE16(r));
        WriteLE16(out, static_cast<uint16_t>(static_cast<int16_t>(sum / 2)));
        break;
      }
      case 3:
        Store24(out, (SignExtend24(l) + SignExtend24(r)) / 2);
        break;
      case 4:
        if (isFloat) {
          WriteLEFloat(out, (ReadLEFloat(l) + ReadLEFloat(r)) * 0.5f);
        } else {
          const int64_t sum = static_cast<int64_t>(static_cast<int32_t>(ReadLE32(l))) +
                              static_cast<int32_t>(ReadLE32(r));
          WriteLE32(out, static_cast<uint32_t>(static_cast<int32_t>(sum / 2)));
        }
        break;
    }
  }
  data = std::move(mono);
  format.nChannels = 1;
  format.nBlockAlign = static_cast<uint16_t>(width);
  format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
}

void CWavLoader::ConvertTo16Bit() {
  if (data.empty()) return;
  if (format.wBitsPerSample == 16 && format.wFormatTag == kWaveFormatPcm) return;
  const size_t width = format.wBitsPerSample / 8;
  if (width < 1) return;
  const uint16_t bits = format.wBitsPerSample;
  if (bits != 8 && bits != 24 && bits != 32) return;
  // Samples are read back to back: a block alignment that says otherwise
  // would make every sample after the first frame garbage.
  if (format.nChannels == 0 || format.nBlockAlign != format.nChannels * width) return;

  const size_t n = data.size() / width;
  std::vector<uint8_t> out(n * 2);
  const bool isFloat = IsFloat();
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* p = data.data() + i * width;
    int32_t s = 0;
    if (bits == 8) {
      s = (static_cast<int32_t>(*p) - 128) * 256;
    } else if (bits == 24) {
      s = (SignExtend24(p) + 128) >> 8;
    } else if (isFloat) {
      float x = ReadLEFloat(p);
      if (std::isnan(x)) {
        s = 0;
      } else {
        x = std::clamp(x, -1.0f, 1.0f);
        float y = x * 32767.0f;
        y = (y >= 0.0f) ? y + 0.5f : y - 0.5f;
        s = static_cast<int32_t>(y);
      }
    } else {
      const int64_t v = static_cast<int32_t>(ReadLE32(p));
      s = static_cast<int32_t>((v + 32768) >> 16);
    }
    s = std::min(s, 32767);
    WriteLE16(out.data() + 2 * i, static_cast<uint16_t>(static_cast<int16_t>(s)));
  }
  data = std::move(out);
  format.wBitsPerSample = 16;
  format.wFormatTag = kWaveFormatPcm;
  format.nBlockAlign = static_cast<uint16_t>(2 * format.nChannels);
  format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
}

std::string UnsupportedFormatReason(const CWavLoader& wav) {
  const PcmFormat& f = wav.format;
  if (f == PcmFormat{}) return "it has no format chunk";
  const uint16_t tag = wav.EffectiveFormatTag();
  if (tag != kWaveFormatPcm && tag != kWaveFormatIeeeFloat)
    return Format("its audio is compressed or encoded (format %u), which cannot be edited", tag);
  if (f.nChannels == 0 || f.nSamplesPerSec == 0) return "its format chunk names no channels or no sample rate";
  const unsigned bits = f.wBitsPerSample;
  if (tag == kWaveFormatIeeeFloat && bits != 32)
    return Format("%u-bit floating-point samples are not supported", bits);
  if (tag == kWaveFormatPcm && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return Format("%u-bit samples are not supported", bits);
  if (f.nBlockAlign != f.nChannels * (bits / 8))
    return Format("its block alignment (%u bytes) does not match %u channels of %u-bit samples", f.nBlockAlign,
                  f.nChannels, bits);
  return {};
}

}  // namespace zandrel
