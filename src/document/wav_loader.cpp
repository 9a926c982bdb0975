#include "document/wav_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

#include "platform/atomic_file.h"
#include "platform/message_host.h"
#include "platform/scratch_file.h"
#include "platform/text_format.h"

namespace zandrel {
namespace {

// The bytes a load reads: a file on disk or a buffer in memory. Read() copies
// at most |count| bytes from |offset| and returns how many it copied.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  virtual size_t Read(uint64_t offset, uint8_t* out, size_t count) = 0;
  // The |count| bytes at |offset|, read into |scratch| (what the source does
  // not hold reads as zero). A source in memory hands out its own bytes.
  virtual const uint8_t* View(uint64_t offset, size_t count, std::vector<uint8_t>& scratch) {
    if (scratch.size() < count) scratch.resize(count);
    const size_t got = Read(offset, scratch.data(), count);
    std::fill(scratch.begin() + static_cast<std::ptrdiff_t>(got), scratch.begin() + static_cast<std::ptrdiff_t>(count),
              uint8_t{0});
    return scratch.data();
  }
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  size_t Read(uint64_t offset, uint8_t* out, size_t count) override {
    if (offset >= bytes_.size()) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, bytes_.size() - offset));
    std::memcpy(out, bytes_.data() + offset, n);
    return n;
  }
  const uint8_t* View(uint64_t offset, size_t count, std::vector<uint8_t>& scratch) override {
    if (offset <= bytes_.size() && count <= bytes_.size() - offset) return bytes_.data() + offset;
    return ByteSource::View(offset, count, scratch);
  }

 private:
  std::span<const uint8_t> bytes_;
};

// A file read with positioned reads straight into the caller's buffer: no
// stream buffer, no seeks.
class FileSource final : public ByteSource {
 public:
  FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  ~FileSource() override { ::close(fd_); }
  uint64_t Size() const override { return size_; }
  size_t Read(uint64_t offset, uint8_t* out, size_t count) override {
    if (offset >= size_) return 0;
    count = static_cast<size_t>(std::min<uint64_t>(count, size_ - offset));
    size_t done = 0;
    while (done < count) {
      const ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    return done;
  }

 private:
  int fd_;
  uint64_t size_;
};

// Reads a chunk body of |declared| bytes at |offset|. What the source holds
// is read; a body that runs past the end is zero-filled to its declared size,
// by at most |maxZeroFill| bytes.
std::vector<uint8_t> ReadBody(ByteSource& src, uint64_t offset, uint64_t declared, uint64_t maxZeroFill) {
  const uint64_t available = src.Size() > offset ? src.Size() - offset : 0;
  const uint64_t toRead = std::min(declared, available);
  const uint64_t keep = std::min<uint64_t>(declared, toRead + maxZeroFill);
  std::vector<uint8_t> body(static_cast<size_t>(keep), 0);
  if (toRead > 0) src.Read(offset, body.data(), static_cast<size_t>(toRead));
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

namespace {

std::string ChunkIdText(const FourCC& id) {
  std::string text(id.begin(), id.end());
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
  }
  return text;
}

void ReadAudioForEditing(ByteSource& src, uint64_t offset, uint64_t held, CWavLoader& wav);

// Walks the chunks of |src| into |out|. False, after the message box, when
// the bytes are no RIFF/WAVE file or their audio cannot be found. The audio
// is read once the walk is over, when the format is known: as stored, or
// |forEditing| mixed and converted on the way in.
bool ParseWav(ByteSource& src, std::string_view name, CWavLoader& out, WavLoadReport* report, bool forEditing) {
  const uint64_t fileLength = src.Size();
  uint8_t head[12] = {};
  const size_t got = src.Read(0, head, sizeof head);
  if (got < 4 || std::memcmp(head, "RIFF", 4) != 0) {
    ShowMessage("This is not a valid RIFF file.");
    return false;
  }
  if (got < 12 || std::memcmp(head + 8, "WAVE", 4) != 0) {
    ShowMessage("This is not a valid WAVE file.");
    return false;
  }

  CWavLoader loaded;
  bool foundData = false;
  uint64_t dataOffset = 0, dataHeld = 0;  // where the last "data" chunk's bytes are
  uint64_t dataMissing = 0;  // bytes the last "data" chunk declares beyond the end of the file
  // The first chunk whose declared size runs past the end of the file: when
  // no "data" chunk was seen, that size swallowed the audio.
  std::string overrunChunk;
  uint64_t overrunDeclared = 0, overrunAvailable = 0;
  uint64_t pos = 12;
  while (pos + 8 <= fileLength) {
    uint8_t header[8];
    if (src.Read(pos, header, 8) < 8) break;
    pos += 8;
    FourCC id;
    std::memcpy(id.data(), header, 4);
    const uint64_t size = ReadLE32(header + 4);
    const uint64_t available = fileLength - pos;
    if (size > available && overrunChunk.empty() && !FourCCIs(id, "data")) {
      overrunChunk = ChunkIdText(id);
      overrunDeclared = size;
      overrunAvailable = available;
    }

    if (FourCCIs(id, "fmt ")) {
      std::vector<uint8_t> body = ReadBody(src, pos, std::min<uint64_t>(size, 40), CWavLoader::kMaxZeroFill);
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
      // The audio is what the file holds: padding a lying size with silence
      // would turn a damaged 9 KB file into minutes of audio.
      dataOffset = pos;
      dataHeld = std::min(size, available);
      dataMissing = size - dataHeld;
      foundData = true;
    } else {
      RiffChunk chunk;
      chunk.id = id;
      chunk.size = static_cast<uint32_t>(size);
      chunk.data = ReadBody(src, pos, size, CWavLoader::kMaxZeroFill);
      loaded.chunks.push_back(std::move(chunk));
    }
    pos += size + (size & 1);
  }

  if (!foundData && !overrunChunk.empty()) {
    ShowMessage(Format("Cannot open %.*s: a chunk claims more bytes than the file holds (the \"%s\" chunk declares "
                       "%llu bytes, the file holds %llu after its header), so the audio cannot be found.",
                       static_cast<int>(name.size()), name.data(), overrunChunk.c_str(),
                       static_cast<unsigned long long>(overrunDeclared),
                       static_cast<unsigned long long>(overrunAvailable)),
                MessageIcon::Error);
    return false;
  }
  if (dataMissing > 0) {
    const uint16_t align = loaded.format.nBlockAlign;
    if (align != 0) dataHeld -= dataHeld % align;
    if (report) {
      report->warnings.push_back(Format("Warning: The file lacks %llu bytes of the audio data its header declares; "
                                        "the audio ends where the file ends.",
                                        static_cast<unsigned long long>(dataMissing)));
    }
  }
  if (forEditing) {
    ReadAudioForEditing(src, dataOffset, dataHeld, loaded);
  } else if (foundData) {
    loaded.data = ReadBody(src, dataOffset, dataHeld, 0);
  }
  out = std::move(loaded);
  return true;
}

}  // namespace

namespace {

bool LoadFile(const std::filesystem::path& path, CWavLoader& out, WavLoadReport* report, bool forEditing) {
  // Non-blocking, so that a named pipe or a device opens at once instead of
  // waiting for a writer; only a regular file is read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size < 0) {
    ::close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    ShowMessage(Format(kNotRegularFileFormat, path.filename().c_str()), MessageIcon::Error);
    return false;
  }
  FileSource source(fd, static_cast<uint64_t>(st.st_size));
  return ParseWav(source, path.filename().string(), out, report, forEditing);
}

}  // namespace

bool CWavLoader::Load(const std::filesystem::path& path, WavLoadReport* report) {
  return LoadFile(path, *this, report, false);
}

bool CWavLoader::LoadFromMemory(std::span<const uint8_t> bytes, std::string_view name, WavLoadReport* report) {
  MemorySource source(bytes);
  return ParseWav(source, name, *this, report, false);
}

bool CWavLoader::LoadForEditing(const std::filesystem::path& path, WavLoadReport* report) {
  return LoadFile(path, *this, report, true);
}

bool CWavLoader::LoadFromMemoryForEditing(std::span<const uint8_t> bytes, std::string_view name,
                                          WavLoadReport* report) {
  MemorySource source(bytes);
  return ParseWav(source, name, *this, report, true);
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

// Writes the whole file into |writer|; committing is the caller's business.
bool WriteWav(const CWavLoader& wav, ByteSink& writer, std::span<const uint8_t> audio, WavWriteError* error) {
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
  return ok ? true : fail("write failed");
}

bool WriteAndCommit(const CWavLoader& wav, AtomicFileWriter& writer, std::span<const uint8_t> audio,
                    WavWriteError* error) {
  if (!WriteWav(wav, writer, audio, error)) {
    // The writer knows the system's reason.
    if (error && !writer.Error().empty()) error->reason = writer.Error();
    return false;
  }
  if (writer.Commit()) return true;
  if (error) *error = WavWriteError{false, writer.Error()};
  return false;
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
  return WriteAndCommit(*this, writer, audioData, error);
}

bool CWavLoader::WriteSnapshot(const std::filesystem::path& path, WavWriteError* error) const {
  ScratchFileWriter file;
  if (!file.Open(path)) {
    if (error) *error = WavWriteError{true, file.Error()};
    return false;
  }
  if (!WriteWav(*this, file, data, error)) {
    if (error && !file.Error().empty()) error->reason = file.Error();
    return false;
  }
  if (file.Commit()) return true;
  if (error) *error = WavWriteError{false, file.Error()};
  return false;
}

bool CWavLoader::WriteTo(ByteSink& sink, std::span<const uint8_t> audioData, WavWriteError* error) const {
  return WriteWav(*this, sink, audioData, error);
}

bool CWavLoader::SaveToMemory(std::vector<uint8_t>& out, float maxSeconds, WavWriteError* error) {
  data.resize(CappedDataBytes(maxSeconds));
  MemoryByteSink sink(out);
  return WriteWav(*this, sink, data, error);
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
  if (!WriteAndCommit(*this, writer, data, &error)) {
    ShowWavWriteError(error);
    return false;
  }
  return true;
}

namespace {

// The sample arithmetic of the mixing and conversion passes, one function per
// width, shared by the passes over loaded bytes and the block-wise read.

// Stereo means, truncated toward zero (8-bit: the floor of unsigned values).
uint8_t Mean8(const uint8_t* l, const uint8_t* r) { return static_cast<uint8_t>((static_cast<unsigned>(*l) + *r) >> 1); }
int16_t Mean16(const uint8_t* l, const uint8_t* r) {
  const int sum = static_cast<int16_t>(ReadLE16(l)) + static_cast<int16_t>(ReadLE16(r));
  return static_cast<int16_t>(sum / 2);
}
int32_t Mean24(const uint8_t* l, const uint8_t* r) { return (SignExtend24(l) + SignExtend24(r)) / 2; }
int32_t Mean32(const uint8_t* l, const uint8_t* r) {
  const int64_t sum = static_cast<int64_t>(static_cast<int32_t>(ReadLE32(l))) + static_cast<int32_t>(ReadLE32(r));
  return static_cast<int32_t>(sum / 2);
}
float MeanFloat(const uint8_t* l, const uint8_t* r) { return (ReadLEFloat(l) + ReadLEFloat(r)) * 0.5f; }

// One sample of each width as 16-bit, rounded to nearest, clipped.
int32_t From8(uint8_t v) { return (static_cast<int32_t>(v) - 128) * 256; }
int32_t From24(int32_t v) { return std::min((v + 128) >> 8, 32767); }
int32_t From32(int32_t v) { return std::min(static_cast<int32_t>((static_cast<int64_t>(v) + 32768) >> 16), 32767); }
int32_t FromFloat(float x) {
  if (std::isnan(x)) return 0;
  x = std::clamp(x, -1.0f, 1.0f);
  float y = x * 32767.0f;
  y = (y >= 0.0f) ? y + 0.5f : y - 0.5f;
  return std::min(static_cast<int32_t>(y), 32767);
}

// Whether MixToMono() changes this format, and what it makes of it.
bool MixApplies(const PcmFormat& f) {
  if (f.nChannels != 2) return false;
  const size_t width = f.wBitsPerSample / 8;
  if (width < 1 || width > 4 || f.wBitsPerSample % 8 != 0) return false;
  return f.nBlockAlign >= 2 * width;  // a frame must hold both samples
}
void SetMixedFormat(PcmFormat& f) {
  f.nChannels = 1;
  f.nBlockAlign = static_cast<uint16_t>(f.wBitsPerSample / 8);
  f.nAvgBytesPerSec = static_cast<uint32_t>(f.nBlockAlign) * f.nSamplesPerSec;
}

// Whether ConvertTo16Bit() changes audio of this format (when it holds any),
// and what it makes of it.
bool ConversionApplies(const PcmFormat& f) {
  if (f.wBitsPerSample == 16 && f.wFormatTag == kWaveFormatPcm) return false;
  const uint16_t bits = f.wBitsPerSample;
  if (bits != 8 && bits != 24 && bits != 32) return false;
  // Samples are read back to back: a block alignment that says otherwise
  // would make every sample after the first frame garbage.
  if (f.nChannels == 0 || f.nBlockAlign != f.nChannels * (bits / 8)) return false;
  // The 16-bit header must describe the result: a block alignment or byte
  // rate that wraps in its field makes a file that can never be reopened.
  return ConvertedFormatFits(f);
}
void SetConvertedFormat(PcmFormat& f) {
  f.wBitsPerSample = 16;
  f.wFormatTag = kWaveFormatPcm;
  f.nBlockAlign = static_cast<uint16_t>(2 * f.nChannels);
  f.nAvgBytesPerSec = static_cast<uint32_t>(f.nBlockAlign) * f.nSamplesPerSec;
}

// One mixing or conversion pass over every frame, with the sample width fixed
// at compile time: no switch per sample. |out| may be |in| itself (the
// result is never wider than what it is made from, and frame i is written
// only after it was read), so the passes need no second buffer.
template <size_t kWidth, typename Mix>
void MixFrames(const uint8_t* in, uint8_t* out, size_t frames, size_t align, Mix mix) {
  for (size_t i = 0; i < frames; ++i) mix(in + i * align, in + i * align + kWidth, out + i * kWidth);
}

template <size_t kWidth, typename Convert>
void ConvertSamples(const uint8_t* in, uint8_t* out, size_t n, Convert convert) {
  for (size_t i = 0; i < n; ++i) WriteLE16(out + 2 * i, static_cast<uint16_t>(static_cast<int16_t>(convert(in + i * kWidth))));
}

// Gives the buffer's unused capacity back once a pass has shrunk the audio:
// a loaded file's bytes are only needed until they are converted.
void Fit(std::vector<uint8_t>& data, size_t size) {
  data.resize(size);
  data.shrink_to_fit();
}

// Bytes of the file read per block when the audio is converted as it is
// read: small enough to stay in the processor's cache.
constexpr size_t kReadBlockBytes = size_t{1} << 17;

// Reads |units| units of kUnit bytes at |offset| (a stereo frame when mixing,
// else one sample) and appends each as one 16-bit sample to |out|, a block at
// a time: the file's own bytes are never held whole.
template <size_t kUnit, typename ToSample>
void ReadConverted(ByteSource& src, uint64_t offset, size_t units, std::vector<uint8_t>& out, ToSample toSample) {
  constexpr size_t kUnitsPerBlock = kReadBlockBytes / kUnit;
  std::vector<uint8_t> scratch;
  out.clear();
  out.reserve(2 * units);
  for (size_t done = 0; done < units;) {
    const size_t n = std::min(kUnitsPerBlock, units - done);
    const uint8_t* in = src.View(offset + done * kUnit, n * kUnit, scratch);
    const size_t at = out.size();
    out.resize(at + 2 * n);  // grows within the reserve: only this block's pages are touched
    ConvertSamples<kUnit>(in, out.data() + at, n, toSample);
    done += n;
  }
}

// Reads the |held| bytes of audio at |offset| into |wav| as MixToMono() and
// ConvertTo16Bit() would leave them. Audio of a format the editor does not
// take is read as stored.
void ReadAudioForEditing(ByteSource& src, uint64_t offset, uint64_t held, CWavLoader& wav) {
  PcmFormat f = wav.format;
  const bool supported = UnsupportedFormatReason(wav).empty();
  const bool mix = supported && MixApplies(f);
  if (mix) SetMixedFormat(f);
  const bool convert = supported && ConversionApplies(f);
  const size_t width = f.wBitsPerSample / 8;
  // A supported stereo frame is exactly its two samples.
  const size_t unitBytes = mix ? 2 * width : width;
  const size_t units = unitBytes ? static_cast<size_t>(held / unitBytes) : 0;
  if (!(mix || convert) || units == 0) {
    wav.data = ReadBody(src, offset, held, 0);
    if (supported) {
      wav.MixToMono();
      wav.ConvertTo16Bit();
    }
    return;
  }
  std::vector<uint8_t>& out = wav.data;
  const bool isFloat = wav.IsFloat();
  if (mix) {
    switch (width) {
      case 1:
        ReadConverted<2>(src, offset, units, out, [](const uint8_t* p) { return From8(Mean8(p, p + 1)); });
        break;
      case 2:
        ReadConverted<4>(src, offset, units, out, [](const uint8_t* p) { return Mean16(p, p + 2); });
        break;
      case 3:
        ReadConverted<6>(src, offset, units, out, [](const uint8_t* p) { return From24(Mean24(p, p + 3)); });
        break;
      default:
        if (isFloat) {
          ReadConverted<8>(src, offset, units, out, [](const uint8_t* p) { return FromFloat(MeanFloat(p, p + 4)); });
        } else {
          ReadConverted<8>(src, offset, units, out, [](const uint8_t* p) { return From32(Mean32(p, p + 4)); });
        }
        break;
    }
  } else {
    switch (width) {
      case 1:
        ReadConverted<1>(src, offset, units, out, [](const uint8_t* p) { return From8(*p); });
        break;
      case 3:
        ReadConverted<3>(src, offset, units, out, [](const uint8_t* p) { return From24(SignExtend24(p)); });
        break;
      default:
        if (isFloat) {
          ReadConverted<4>(src, offset, units, out, [](const uint8_t* p) { return FromFloat(ReadLEFloat(p)); });
        } else {
          ReadConverted<4>(src, offset, units, out,
                           [](const uint8_t* p) { return From32(static_cast<int32_t>(ReadLE32(p))); });
        }
        break;
    }
  }
  if (convert) SetConvertedFormat(f);
  wav.format = f;
}

}  // namespace

void CWavLoader::MixToMono() {
  if (!MixApplies(format)) return;
  const size_t width = format.wBitsPerSample / 8;
  const size_t align = format.nBlockAlign;
  const size_t frames = data.size() / align;
  uint8_t* const p = data.data();
  switch (width) {
    case 1:
      MixFrames<1>(p, p, frames, align, [](const uint8_t* l, const uint8_t* r, uint8_t* out) { *out = Mean8(l, r); });
      break;
    case 2:
      MixFrames<2>(p, p, frames, align, [](const uint8_t* l, const uint8_t* r, uint8_t* out) {
        WriteLE16(out, static_cast<uint16_t>(Mean16(l, r)));
      });
      break;
    case 3:
      MixFrames<3>(p, p, frames, align,
                   [](const uint8_t* l, const uint8_t* r, uint8_t* out) { Store24(out, Mean24(l, r)); });
      break;
    case 4:
      if (IsFloat()) {
        MixFrames<4>(p, p, frames, align,
                     [](const uint8_t* l, const uint8_t* r, uint8_t* out) { WriteLEFloat(out, MeanFloat(l, r)); });
      } else {
        MixFrames<4>(p, p, frames, align, [](const uint8_t* l, const uint8_t* r, uint8_t* out) {
          WriteLE32(out, static_cast<uint32_t>(Mean32(l, r)));
        });
      }
      break;
  }
  // Keep the larger buffer when a conversion to 16-bit follows in place
  // (it shrinks the audio once more); 16-bit audio is final here.
  if (width == 2) {
    Fit(data, frames * width);
  } else {
    data.resize(frames * width);
  }
  SetMixedFormat(format);
}

bool ConvertedFormatFits(const PcmFormat& format) {
  // Stereo is mixed to mono before the conversion.
  const uint64_t channels = format.nChannels == 2 ? 1 : format.nChannels;
  const uint64_t align = 2 * channels;
  return align <= std::numeric_limits<uint16_t>::max() &&
         align * format.nSamplesPerSec <= std::numeric_limits<uint32_t>::max();
}

void CWavLoader::ConvertTo16Bit() {
  if (data.empty() || !ConversionApplies(format)) return;
  const uint16_t bits = format.wBitsPerSample;
  const size_t n = data.size() / (bits / 8);
  const uint8_t* const in = data.data();
  if (bits == 8) {  // the only conversion that widens the audio: a new buffer
    std::vector<uint8_t> out(n * 2);
    ConvertSamples<1>(in, out.data(), n, [](const uint8_t* p) { return From8(*p); });
    data = std::move(out);
  } else {
    uint8_t* const out = data.data();
    if (bits == 24) {
      ConvertSamples<3>(in, out, n, [](const uint8_t* p) { return From24(SignExtend24(p)); });
    } else if (IsFloat()) {
      ConvertSamples<4>(in, out, n, [](const uint8_t* p) { return FromFloat(ReadLEFloat(p)); });
    } else {
      ConvertSamples<4>(in, out, n, [](const uint8_t* p) { return From32(static_cast<int32_t>(ReadLE32(p))); });
    }
    Fit(data, n * 2);
  }
  SetConvertedFormat(format);
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
  if (!ConvertedFormatFits(f))
    return Format("%u channels at %lu Hz are more than a 16-bit WAV header can describe", f.nChannels,
                  static_cast<unsigned long>(f.nSamplesPerSec));
  return {};
}

}  // namespace zandrel
