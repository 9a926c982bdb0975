// Feeds arbitrary bytes to the device link as the device's messages: the
// identity, reply and event parsers, the pairing of replies with requests,
// every command's and every transfer's reading of its replies, and then the
// device client (listings, metadata JSON, capabilities, project trees,
// events, sound and project transfers). The same bytes also go to the pure
// parsers on their own, read as JSON text where a text is expected.
//
// The input is a list of records, each answering the link's next message:
//   control byte: bits 0-1 kind (0 nothing, 1 reply to the awaited request,
//                 2 event without sequence number, 3 raw message as is),
//                 bit 6 a two-byte length follows instead of one,
//                 bit 7 the last record for this message of the link
//   length (1 or 2 bytes, big-endian), then that many bytes. For kind 1 the
//   first byte is the status and the rest the payload; kind 2 is the payload.
// The fake output port delivers the records inside Send(), so the link meets
// replies that arrive before it starts waiting; with the time scale at 0 an
// unanswered request fails at once.
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <span>
#include <streambuf>
#include <string_view>

#include "device/device_caps.h"
#include "device/device_client.h"
#include "device/device_commands.h"
#include "device/device_manager_model.h"
#include "device/device_metadata.h"
#include "device/sound_transfers.h"
#include "device/sysex_link.h"
#include "fuzz_support.h"

using namespace zandrel;
using zandrel::fuzz::InstallQuietHost;
using zandrel::fuzz::ScratchDir;

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::span<const uint8_t> Take(size_t n) {
    n = std::min(n, size_ - std::min(at_, size_));
    std::span<const uint8_t> out(data_ + at_, n);
    at_ += n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

std::vector<uint8_t> Frame(uint16_t sequence, uint8_t flags, uint8_t status, std::span<const uint8_t> payload) {
  std::vector<uint8_t> frame = {0xF0, 0x00, 0x20, 0x76, 0x00, 0x00, flags, static_cast<uint8_t>(sequence & 0x7F),
                                0x05, status};
  const std::vector<uint8_t> packed = Pack7Bit(payload);
  frame.insert(frame.end(), packed.begin(), packed.end());
  frame.push_back(0xF7);
  return frame;
}

class FuzzOut final : public MidiOutPort {
 public:
  FuzzOut(Input& input, MidiInputCallback& deliver) : input_(input), deliver_(deliver) {}
  bool Send(std::span<const uint8_t> message) override {
    uint16_t sequence = 0;
    if (message.size() >= 10 && message[1] == 0x00) sequence = static_cast<uint16_t>(((message[6] & 0x1F) << 7) | message[7]);
    while (!input_.Empty()) {
      const uint8_t control = input_.Byte();
      size_t length = input_.Byte();
      if (control & 0x40) length = (length << 8) | input_.Byte();
      const std::span<const uint8_t> bytes = input_.Take(length);
      std::vector<uint8_t> incoming;
      switch (control & 3) {
        case 1: {
          const uint8_t status = bytes.empty() ? 0 : bytes[0];
          incoming = Frame(sequence, static_cast<uint8_t>(0x20 | (sequence >> 7)), status,
                           bytes.empty() ? bytes : bytes.subspan(1));
          break;
        }
        case 2: incoming = Frame(0, 0x00, 0, bytes); break;
        case 3: incoming.assign(bytes.begin(), bytes.end()); break;
        default: break;
      }
      if (!incoming.empty() && deliver_) deliver_(incoming);
      if (control & 0x80) break;
    }
    return true;
  }
  size_t MaxMessageBytes() const override { return 65536; }
  void Close() override {}

 private:
  Input& input_;
  MidiInputCallback& deliver_;
};

class FuzzIn final : public MidiInPort {
 public:
  explicit FuzzIn(MidiInputCallback& deliver) : deliver_(deliver) {}
  void Close() override { deliver_ = nullptr; }

 private:
  MidiInputCallback& deliver_;
};

class FuzzMidi final : public MidiSystem {
 public:
  explicit FuzzMidi(Input& input) : input_(input) {}
  std::vector<std::string> InputNames() override { return {"EP-133"}; }
  std::vector<std::string> OutputNames() override { return {"EP-133"}; }
  std::unique_ptr<MidiInPort> OpenInput(size_t, MidiInputCallback callback) override {
    deliver_ = std::move(callback);
    return std::make_unique<FuzzIn>(deliver_);
  }
  std::unique_ptr<MidiOutPort> OpenOutput(size_t) override { return std::make_unique<FuzzOut>(input_, deliver_); }

 private:
  Input& input_;
  MidiInputCallback deliver_;
};

class NullBuffer final : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);

  // The parsers on their own.
  ParseReplyFrame(bytes);
  ParseIdentityReply(bytes);
  ParseDeviceEvent(bytes);
  ParseInitReply(bytes);
  ParseListingPage(bytes, 0);
  ParseFileInfoRecord(bytes);
  ParseMetadataPage(bytes);
  uint32_t freeBytes = 0;
  ParseFreeSpace(std::string_view(reinterpret_cast<const char*>(data), size), freeBytes);
  const std::vector<uint8_t> unpacked = Unpack7Bit(bytes);
  if (unpacked.size() > size) __builtin_trap();
  if (Unpack7Bit(Pack7Bit(bytes)) != std::vector<uint8_t>(bytes.begin(), bytes.end())) __builtin_trap();

  // The metadata, capability and project-tree readers on a JSON text.
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const EPJson json = ParseDeviceJson(text);
  std::vector<EPAudioFormat> formats;
  std::string formatError;
  if (ParseAudioFormats(json, formats, formatError) && !formats.empty()) {
    const uint32_t rate = ChooseUploadRate(formats.front(), 44100);
    if (rate < kMinSaneSampleRate || rate > kMaxSaneSampleRate) __builtin_trap();
  }
  CollectUsedSoundIds(json);
  DeviceMetadataToInstrumentJson(json);
  CEPDeviceClient::BuildDeviceMetadata(text, {}, 2, 46875, 44100, text, 1000, CEPDeviceClient::kMaxDeviceRegions);
  CEPDeviceClient::BuildDeviceMetadata(text, {}, 1, 48000, 0, text, 0);
  if (SanitizeSoundName(text).size() > 16) __builtin_trap();
  const std::string fileName = DownloadFileName(text);
  if (fileName.find('/') != std::string::npos || fileName == "." || fileName == "..") __builtin_trap();
  ParseProjectSize(bytes);

  // The device manager's lines and trees of the same text.
  HeaderLineInfo(text);
  JsonScalarToText(json);
  std::vector<std::string> treeLines;
  PrintJsonTree(json, "", treeLines);
  const int previewChannels = PreviewChannels(json);
  if (previewChannels < 1 || previewChannels > 2) __builtin_trap();
  ManagerSelection chosen;
  chosen.has = true;
  chosen.name = std::string(text.substr(0, 64));
  chosen.SetMetadata(json);
  FileInfoLines(chosen, EPDeviceSnapshot{});
  EPDeviceSnapshot infoSnapshot;
  infoSnapshot.deviceInfoLoaded = true;
  infoSnapshot.deviceInfo = json;
  for (const ManagerLine& line : BuildManagerListing(infoSnapshot).lines) HeaderLineInfo(line.text);

  // The link and the command set, answered by the input.
  Input input(data, size);
  FuzzMidi midi(input);
  NullBuffer sink;
  std::ostream console(&sink);
  CEPSysExLink link(&midi);
  link.SetConsole(&console, &console);
  link.SetTimeScale(0);
  size_t events = 0;
  link.SetEventCallback([&events](const EPDeviceEvent&) { ++events; });
  if (!link.OpenLink()) __builtin_trap();
  link.InitDevice();
  if (link.MaxMessageSize() == 0 || link.MaxMessageSize() > kLargestMaxMessageSize) __builtin_trap();
  const std::vector<EPFileEntry> root = link.ListDirectory(0);
  if (root.size() > kMaxListEntries + 65536) __builtin_trap();
  link.ListDirectory(2000);
  EPFileInfoStatus status;
  link.GetFileInfo(5, &status);
  if (link.GetMetadataPages(5).size() > kMaxMetadataBytes) __builtin_trap();
  link.SetMetadata(5, std::string(300, 'm'));
  link.NotifySoundSelected(5);
  link.DeleteFile(5);
  link.CheckFreeSpace(1000, 2000);
  link.FindProjectsDirectory();
  if (link.ReadFile(5, 200).size() > 200 + kLargestMaxMessageSize) __builtin_trap();
  link.ReadPreview(5, 800, 1);
  if (link.DownloadProjectTar(3001).size() > kMaxDownloadBytes) __builtin_trap();
  const std::vector<uint8_t> upload(100, 0x55);
  link.UploadFile(upload, "fz", 2000, 1, "{}");
  link.UploadProjectArchive(upload, "project", 3000, 3001);
  link.CloseLink();

  // The client on the rest of the input.
  InstallQuietHost(false);
  static const std::filesystem::path source = [] {
    const std::filesystem::path path = ScratchDir() / "upload.wav";
    const std::vector<uint8_t> pcm(400, 0x11);
    WriteDeviceWav(path, pcm, 1, 44100,
                   R"({"sound.rootnote":60,"regions":[{"sample.start":0,"sample.end":100},{"sample.start":100}]})");
    return path;
  }();
  FuzzMidi clientMidi(input);
  CEPDeviceClient client(&clientMidi);
  client.SetConsole(&console, &console);
  client.SetTimeScale(0);
  if (client.Connect()) {
    if (client.Slots().size() != 999) __builtin_trap();
    client.GetAudioFormatCaps(formats);
    // The manager's list of what the client loaded, and each kind of line.
    const EPDeviceSnapshot snapshot = TakeSnapshot(client);
    const ManagerListing listing = BuildManagerListing(snapshot);
    for (size_t row = 0; row < listing.lines.size(); ++row) {
      if (listing.lines[row].kind == ManagerLineKind::Sound && row > 40 && row + 40 < listing.lines.size()) continue;
      ChooseLine(listing, snapshot, static_cast<int>(row));
    }
    if (!client.Projects().empty()) {
      const EPJson tree = client.GetProjectTree(client.Projects().front().id);
      CollectUsedSoundIds(tree);
      ManagerSelection project;
      project.has = true;
      project.SetMetadata(tree);
      FileInfoLines(project, snapshot);
      client.DownloadProject(client.Projects().front().id, ScratchDir() / "project.tar");
    }
    client.ProcessAsyncEvents(800);
    uint16_t sound = client.ExtraSounds().empty() ? 0 : client.ExtraSounds().front().fileId;
    for (const EPSoundSlot& slot : client.Slots()) {
      if (slot.occupied) {
        sound = slot.fileId;
        break;
      }
    }
    client.DownloadSound(sound, ScratchDir() / "download.wav");
    client.GetSoundMetadata(sound);
    client.DeleteSound(sound);
    client.UploadSound(source, 0, false);
  }
  client.Disconnect();
  return 0;
}
