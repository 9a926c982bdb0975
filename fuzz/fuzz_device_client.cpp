// Runs the device client on a device that answers with arbitrary bytes
// (device_link_fake.h has the layout of the records): connecting with its
// listings and metadata JSON, capabilities, project trees, the device
// manager's list of what it loaded, events, and the sound and project
// transfers.
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <vector>

#include "device/device_caps.h"
#include "device/device_client.h"
#include "device/device_manager_model.h"
#include "device/sound_transfers.h"
#include "device_link_fake.h"
#include "fuzz_support.h"

using namespace zandrel;
using namespace zandrel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The sound to upload, written once: at the device's usual rate, so that
  // only a device asking for another rate makes the upload convert.
  static const std::filesystem::path source = [] {
    InstallQuietHost(false);
    const std::filesystem::path path = ScratchDir() / "upload.wav";
    const std::vector<uint8_t> pcm(400, 0x11);
    WriteDeviceWav(path, pcm, 1, 46875,
                   R"({"sound.rootnote":60,"regions":[{"sample.start":0,"sample.end":100},{"sample.start":100}]})");
    return path;
  }();

  Input input(data, size);
  FuzzMidi midi(input);
  NullBuffer sink;
  std::ostream console(&sink);
  CEPDeviceClient client(&midi);
  client.SetConsole(&console, &console);
  client.SetTimeScale(0);
  if (client.Connect()) {
    if (client.Slots().size() != 999) __builtin_trap();
    std::vector<EPAudioFormat> formats;
    client.GetAudioFormatCaps(formats);
    // The device manager's list of what the client loaded, and each kind of line.
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
