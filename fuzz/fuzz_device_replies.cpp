// Feeds arbitrary bytes to the device link as the device's messages. The
// reply parsers see every record of the input directly (as a listing page, a
// metadata page, an init or read reply, a file record, an event, a framed
// reply and an identity reply), and the JSON readers see the input as one
// text. Then the link's command set and transfers run on the records as the
// device's answers (device_link_fake.h has their layout): the pairing of
// replies with requests and every command's and transfer's reading of its
// replies. The device client on top of the link has a target of its own
// (fuzz_device_client).
#include <algorithm>
#include <cstdint>
#include <ostream>
#include <span>
#include <string_view>

#include "device/device_caps.h"
#include "device/device_client.h"
#include "device/device_protocol.h"
#include "device/device_manager_model.h"
#include "device/device_metadata.h"
#include "device/device_transfers.h"
#include "device/sysex_link.h"
#include "device_link_fake.h"

using namespace zandrel;
using namespace zandrel::fuzz;

namespace {

// The parsers a reply or an event payload goes through.
void ParsePayload(std::span<const uint8_t> bytes) {
  ParseInitReply(bytes);
  if (ParseListingPage(bytes, 7).size() > bytes.size() / 7) __builtin_trap();
  ParseFileInfoRecord(bytes);
  const MetadataPage page = ParseMetadataPage(bytes);
  if (page.text.size() > bytes.size()) __builtin_trap();
  ParseProjectSize(bytes);
  ParseDeviceEvent(bytes);
}

void ParseRecord(const Record& record) {
  ParsePayload(record.bytes);
  switch (record.kind) {
    case 1: {
      const std::span<const uint8_t> payload = record.bytes.empty() ? record.bytes : record.bytes.subspan(1);
      const uint8_t status = record.bytes.empty() ? 0 : record.bytes[0] & 0x7F;
      const std::optional<EPReply> reply = ParseReplyFrame(Frame(300, 0x22, status, payload));
      if (!reply || reply->sequence != 300 || reply->status != status || !std::equal(reply->payload.begin(), reply->payload.end(),
                                                           payload.begin(), payload.end())) {
        __builtin_trap();  // a frame the device builds must read back as it was
      }
      break;
    }
    case 3:
      ParseReplyFrame(record.bytes);
      ParseIdentityReply(record.bytes);
      break;
    default: break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);

  // The parsers on their own: the whole input, then record by record.
  ParsePayload(bytes);
  ParseReplyFrame(bytes);
  ParseIdentityReply(bytes);
  ForEachRecord(data, size, ParseRecord);
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

  // The link and the command set, answered by the records.
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
  if (root.size() > kMaxListEntries) __builtin_trap();
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
  return 0;
}
