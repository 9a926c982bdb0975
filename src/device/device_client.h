// CEPDeviceClient: the EP device as the dialogs see it, a connection with a
// cached picture of the device's contents.
//
// The client is the link (CEPSysExLink) plus what the device holds: the table
// of the 999 sound slots (entry i is slot i + 1), the sounds outside that
// range, the projects, the device information (the parsed metadata of the
// "sounds" directory, with "formats" and "free_space_in_bytes"), and a last
// error text that says why the latest operation failed (empty after
// success). The picture is as of the last connect or refresh; uploads and
// deletions update their slot through the queued device events
// (ProcessAsyncEvents).
//
// Threads: every operation runs on the owner's thread (the user-interface
// thread) and blocks until the device has answered or its time limit passed.
// Only OnAsyncEvent runs on the MIDI input thread; it appends to the event
// queue, which has a mutex of its own that is never held across a request.
// The change listener is called on the owner's thread.
//
// Failure: every operation that can fail returns false (or an empty value)
// with LastError() telling why, in the texts the dialogs show.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <limits>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_caps.h"
#include "device/device_metadata.h"
#include "device/sysex_link.h"

namespace zandrel {

// One sound of the device.
struct EPSoundSlot {
  uint16_t fileId = 0;      // for slots, the slot number 1..999
  uint32_t size = 0;        // bytes of audio
  std::string fileName;     // the name in the device's listing
  std::string displayName;  // the metadata's "name", or a name made from fileName
  EPJson metadata;          // null when not loaded
  bool occupied = false;
};

// One project of the device.
struct EPProjectEntry {
  uint16_t id = 0;  // its directory's id
  std::string name;
  std::string displayName;  // the same text
  EPJson metadata;          // not loaded by the client: null
};

// How an upload ended.
enum class EPUploadResult {
  Failed,                   // nothing usable reached the device; LastError() says why
  Uploaded,                 // the sound and its metadata are on the device
  UploadedWithoutMetadata,  // the sound is on the device without its regions and
                            // settings; LastError() says so, the caller should warn
};

class CEPDeviceClient : public CEPSysExLink {
 public:
  static constexpr int kSlotCount = 999;
  // Sound ids from here on are not slots.
  static constexpr uint16_t kFirstExtraSoundId = 1000;
  // Events queued beyond this many push out the oldest: they all end in the
  // same re-read of one slot, and each costs two requests.
  static constexpr size_t kMaxQueuedEvents = 256;
  // The longest sound strict adherence lets through, seconds.
  static constexpr int kStrictMaxSeconds = 20;
  // The device's region-count limit, `maxDeviceRegions`.
  static constexpr size_t kMaxDeviceRegions = 8;

  // Receives the event code and the slot id after each applied event.
  using ChangeListener = std::function<void(uint8_t code, uint16_t slotId)>;

  // Uses the process's current MIDI system.
  CEPDeviceClient();
  // Uses |midi| (not owned).
  explicit CEPDeviceClient(MidiSystem* midi);
  ~CEPDeviceClient();

  // ---- Connection ----

  // Opens the link, initialises the device and loads everything (device
  // information, sounds with their metadata, projects).
  bool Connect();
  // The same without per-sound metadata and without projects: enough to
  // choose an empty slot for an upload.
  bool ConnectAndLoadSlots();
  // Closes the link and forgets the cached contents (the device information,
  // the listener and the event queue stay).
  void Disconnect();
  // Reloads device information, sounds with metadata and projects.
  bool RefreshFileList();
  bool Handshake();
  // The steps of a refresh; each returns true except LoadDeviceInfo when the
  // directory's metadata is empty or does not parse.
  bool LoadDeviceInfo(uint16_t directoryId);
  bool LoadSoundsWithMetadata(uint16_t directoryId);
  bool LoadSoundList(uint16_t directoryId);
  bool LoadProjectList(uint16_t directoryId);
  // The file's metadata as read now; null when not connected, empty or not
  // JSON.
  EPJson GetSoundMetadata(uint16_t fileId);

  // ---- Device events ----

  // The link's event callback (MIDI input thread): queues the event.
  static void OnAsyncEvent(uint8_t code, uint16_t fileId, CEPDeviceClient* client);
  // Applies the queued events to slot |slotId| after an upload or deletion
  // of it ({3, slotId} when none is queued): re-reads the slot from the
  // device and calls the listener once per event; then empties the queue.
  // The events are taken out of the queue first, so that replies that arrive
  // meanwhile (the device's file-information replies for slots 768..999 read
  // as events too) are not walked. A slot the device does not answer for
  // stays as it was.
  void ProcessAsyncEvents(uint16_t slotId);
  // A copy of the queue (for inspection).
  std::vector<EPDeviceEvent> QueuedEvents() const;

  // ---- Capabilities and project trees ----

  // The audio formats of the loaded device information (device_caps.h).
  bool GetAudioFormatCaps(std::vector<EPAudioFormat>& formats);
  // The project's metadata object followed by "groups" (each with "banks",
  // each with "pads"), read from the device now; null when not connected.
  EPJson GetProjectTree(uint16_t projectId);

  // ---- Metadata ----

  // The device metadata text for an upload, from the instrument chunk text of
  // the source file. Positions are rescaled from |sourceRate| to |targetRate|
  // and clamped to |frameCount| (the length after conversion). At most
  // |maxRegions| regions are kept. Touches no state.
  static std::string BuildDeviceMetadata(std::string_view instrumentText, const DeviceMetadataDefaults& defaults,
                                         int channels, uint32_t targetRate, uint32_t sourceRate,
                                         std::string_view soundName, uint32_t frameCount,
                                         size_t maxRegions = std::numeric_limits<size_t>::max());

  // ---- Transfers ----

  // Sends a WAV file into slot |slotId| (1..999, or 0 for the lowest free
  // slot) at the device's rate, with its instrument chunk as metadata.
  // |overwriteIfOccupied| lets an occupied slot be replaced. |progress|
  // receives 70..95 while the audio is sent.
  EPUploadResult UploadSound(const std::filesystem::path& wavPath, int slotId, bool overwriteIfOccupied,
                             const UploadProgress& progress = {});
  // Writes sound |fileId| (a slot or an extra sound) into a WAV file at
  // |path| with the metadata as its instrument chunk.
  // Stopped (RequestCancel) while reading, it writes nothing and fails with
  // "Cancelled."; so does DownloadProject.
  bool DownloadSound(uint16_t fileId, const std::filesystem::path& path);
  // Deletes sound |fileId|; with strict adherence only user content.
  bool DeleteSound(uint16_t fileId);
  // Saves project |projectId| as a .tar archive at |path|.
  bool DownloadProject(uint16_t projectId, const std::filesystem::path& path);
  // Replaces project |targetId| with the .tar archive |archive| (named
  // "project" in the root's "projects" directory). False without a projects
  // directory ("[Error] Could not find /projects directory." on the error
  // stream) or when the device refused or did not acknowledge it.
  bool RestoreProject(std::span<const uint8_t> archive, uint16_t targetId);

  // ---- State ----

  // Exactly 999 entries after a connect or refresh; empty while disconnected.
  const std::vector<EPSoundSlot>& Slots() const { return slots_; }
  const std::vector<EPSoundSlot>& ExtraSounds() const { return extraSounds_; }
  const std::vector<EPProjectEntry>& Projects() const { return projects_; }
  // The record of sound |fileId|: its slot when occupied (ids 1..999), else
  // the extra sound with that id; nullptr when there is none.
  const EPSoundSlot* FindSound(uint16_t fileId) const;
  const EPJson& DeviceInfo() const { return deviceInfo_; }
  bool DeviceInfoLoaded() const { return deviceInfoLoaded_; }
  bool IsConnected() const { return connected_; }
  uint16_t SoundsDirectoryId() const { return soundsDirId_; }
  uint16_t ProjectsDirectoryId() const { return projectsDirId_; }
  const std::string& LastError() const { return lastError_; }

  // On from construction: refuses uploads over 20 seconds and deletion of
  // factory content.
  bool StrictAdherence() const { return strictAdherence_; }
  void SetStrictAdherence(bool strict) { strictAdherence_ = strict; }
  // Empty: none.
  void SetChangeListener(ChangeListener listener) { listener_ = std::move(listener); }

 private:
  // Refuses a second connect and opens the link, with the failure texts.
  bool BeginConnect();
  bool Ready();  // connected with both ports; else "Not connected to device"
  void ResetSlots();
  void FindDirectories();
  EPSoundSlot* MutableSound(uint16_t fileId);
  void StoreSound(EPSoundSlot record);
  // Re-reads slot |slotId| after an event; gone only when the device says so.
  void RereadSlot(uint16_t slotId, bool clearWhenGone);
  EPJson TreeLevel(uint16_t directoryId, int depth);

  std::vector<EPSoundSlot> slots_;
  std::vector<EPSoundSlot> extraSounds_;
  std::vector<EPProjectEntry> projects_;
  EPJson deviceInfo_;
  bool deviceInfoLoaded_ = false;
  bool connected_ = false;
  std::string lastError_;
  uint16_t soundsDirId_ = 0;
  uint16_t projectsDirId_ = 0;
  bool strictAdherence_ = true;
  ChangeListener listener_;

  // Guards queue_ only (OnAsyncEvent appends on the MIDI input thread).
  mutable std::mutex queueMutex_;
  std::deque<EPDeviceEvent> queue_;
};

}  // namespace zandrel
