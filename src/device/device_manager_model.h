// What the device manager shows and decides, without a display.
//
// The device manager browses everything an EP device holds: its identity and
// information, the 999 sound slots, the sounds beyond them and the projects;
// it shows a line's details and metadata as an indented tree, previews a
// sound, finds lines by text, and downloads, uploads and deletes. The dialog
// (device/ui/device_manager_dlg.h) only puts on screen what is computed here
// and turns the user's actions into these calls.
//
// Two kinds of work:
//  - Pure functions over an EPDeviceSnapshot (a copy of the client's picture
//    of the device): the list lines, the details of a line, the search, and
//    every decision a button takes before the device is asked (refusals,
//    proposed names, the target slot, the question before a deletion). They
//    never talk to the device and may run on any thread.
//  - CDeviceManagerModel's jobs, which talk to the device through the
//    model's client and return what to show (lines, a message box). They run
//    one at a time on the manager's worker (CDeviceWorker), never on the
//    user-interface thread, and ask nothing of the user: no message host, no
//    file dialog. Each job may be stopped (RequestStop) where the link allows
//    it; see CEPSysExLink's job control.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "device/device_client.h"
#include "platform/message_host.h"

namespace zandrel {

// The client's picture of the device, copied at the end of every job.
struct EPDeviceSnapshot {
  std::string sku;
  EPJson deviceInfo;
  bool deviceInfoLoaded = false;
  bool connected = false;  // connected, with both ports open
  uint16_t soundsDirId = 0;
  uint16_t projectsDirId = 0;
  std::vector<EPSoundSlot> soundSlots;  // entry i is slot i + 1 (not "slots": a Qt keyword)
  std::vector<EPSoundSlot> extraSounds;
  std::vector<EPProjectEntry> projects;

  // Ids 1..999 find their slot when it is occupied; other ids are looked for
  // among the extra sounds. nullptr: none.
  const EPSoundSlot* FindSound(uint16_t id) const;
  const EPProjectEntry* FindProject(uint16_t id) const;
};

// Copies |client|'s picture. Call on the thread that runs the client.
EPDeviceSnapshot TakeSnapshot(const CEPDeviceClient& client);

// ---- The file list ----

enum class ManagerLineKind { Text, Sound, Project };

struct ManagerLine {
  std::string text;
  ManagerLineKind kind = ManagerLineKind::Text;
  int index = -1;  // into the listing's sounds or projects; -1 for text lines
};

struct ManagerListing {
  std::vector<ManagerLine> lines;
  std::vector<EPFileEntry> sounds;    // one per sound line: id, size, device file name
  std::vector<EPFileEntry> projects;  // one per project line: id, size 0, file name
  // The device information was not loaded: the last-error text to show.
  std::string error;
};

// Builds the file list from |snapshot|: the SKU, the device information
// (sizes in MB beside "max_capacity" and "free_space_in_bytes"), the two
// directory ids, the 999 slots, the sounds beyond them and the projects.
ManagerListing BuildManagerListing(const EPDeviceSnapshot& snapshot);

// ---- Details ----

// A JSON value as one line: strings without quotes, integers in full,
// fractions with six decimals, containers compact (bad UTF-8 replaced).
std::string JsonScalarToText(const EPJson& value);
// |value| as indented lines appended to |lines|: one per member or element,
// nested containers under a "key:" line two spaces further in.
void PrintJsonTree(const EPJson& value, const std::string& prefix, std::vector<std::string>& lines);
// The details of a line that is no entry (a header or information line):
// a JSON value after its first colon as a tree under its key, else the line.
std::vector<std::string> HeaderLineInfo(std::string_view lineText);

// The entry the user chose.
struct ManagerSelection {
  bool has = false;
  uint16_t id = 0;
  std::string name;  // device file name
  uint32_t size = 0;
  bool isSound = false;
  EPJson metadata;           // null when there is none
  std::string metadataText;  // |metadata| indented by 2; empty when none

  void SetMetadata(EPJson value);
};

// The details list of |selection| (the used sounds of a project looked up in
// |snapshot|).
std::vector<std::string> FileInfoLines(const ManagerSelection& selection, const EPDeviceSnapshot& snapshot);

// The channel count a preview is read and drawn with: the metadata's
// "channels" truncated to a whole number and kept within 1..2; 1 when it is
// missing or no number.
int PreviewChannels(const EPJson& metadata);

// What choosing line |row| shows at once, from the snapshot alone, and
// whether the device must be asked for the rest (SelectionDetails).
struct LineChoice {
  ManagerSelection selection;
  std::vector<std::string> info;
  std::optional<std::string> display;  // the display's new text (MakeEpDisplayName applied)
  bool clearPreview = false;           // the preview shows nothing
  bool needsDevice = false;            // a job must load metadata, tree, preview and select it
  bool metadataKnown = false;          // the snapshot held the sound's metadata
};
LineChoice ChooseLine(const ManagerListing& listing, const EPDeviceSnapshot& snapshot, int row);

// What the device told about a chosen entry.
struct SelectionDetails {
  bool cancelled = false;
  EPJson metadata;  // the metadata (sounds) or the project tree (projects)
  bool previewRead = false;
  std::vector<uint8_t> preview;
  int previewChannels = 1;
};
// Completes |choice| with |details|: metadata, info lines and display.
void ApplyDetails(LineChoice& choice, const SelectionDetails& details, const EPDeviceSnapshot& snapshot);

// ---- Search ----

// The first line containing |text| (ASCII case ignored); nothing for an
// empty text or no match.
std::optional<int> FindFirstLine(const std::vector<ManagerLine>& lines, std::string_view text);
// The next line after |selected| containing |text|, wrapping around to the
// start and ending at |selected| itself (-1: nothing selected).
std::optional<int> FindNextLine(const std::vector<ManagerLine>& lines, std::string_view text, int selected);

// ---- Decisions of the buttons ----

struct ManagerBox {
  std::string text;
  MessageIcon icon = MessageIcon::None;
  bool operator==(const ManagerBox&) const = default;
};

// Download: a refusal, or what the save dialog proposes.
struct DownloadPlan {
  std::optional<ManagerBox> refusal;
  bool project = false;
  std::string proposedName;  // with ".wav" or ".tar"
};
DownloadPlan PlanDownload(const ManagerSelection& selection, const EPDeviceSnapshot& snapshot);

// Upload, before the file dialog: a refusal, a project restore, or a sound.
struct UploadPlan {
  std::optional<ManagerBox> refusal;
  bool project = false;
};
UploadPlan PlanUpload(const ManagerSelection& selection, const EPDeviceSnapshot& snapshot);

// Upload of a sound after the file was chosen: the slot (1..999, or 0 for
// the first empty slot), or the refusal.
struct UploadTarget {
  std::optional<ManagerBox> refusal;
  int slot = 0;
};
UploadTarget ChooseUploadTarget(const ManagerSelection& selection, const EPDeviceSnapshot& snapshot);
// The first bytes of |path| as the WAV loader tests them: its message when
// they are no RIFF WAVE header; nothing when they are, or when the file
// cannot be opened (the upload says so itself).
std::optional<std::string> CheckWavHeader(const std::filesystem::path& path);
// The lines the info list shows while a sound upload starts.
std::vector<std::string> UploadStartLines(int slot);

// A project archive before it is read: its size, or the refusal.
struct ArchiveCheck {
  std::optional<ManagerBox> refusal;
  uint64_t size = 0;
};
ArchiveCheck CheckProjectArchive(const std::filesystem::path& path);
// The lines the info list shows while a restore starts.
std::vector<std::string> RestoreStartLines(uint16_t target, uint64_t size);

// Delete: a refusal, or the question to ask (No is its default answer).
struct DeletePlan {
  std::optional<ManagerBox> refusal;
  std::string question;
};
DeletePlan PlanDelete(const ManagerSelection& selection, const EPDeviceSnapshot& snapshot);

// ---- Jobs ----

// How a job ended: lines for the info list and a box to show.
struct ManagerOutcome {
  bool ok = false;
  bool cancelled = false;
  bool replaceInfo = false;  // the lines replace the info list instead of following it
  std::vector<std::string> lines;
  std::optional<ManagerBox> box;
};

class CDeviceManagerModel {
 public:
  // |midi| (not owned); nullptr: the process's current MIDI system.
  explicit CDeviceManagerModel(MidiSystem* midi = nullptr);
  CEPDeviceClient& Client() { return client_; }

  // Any thread: stops the running job where the link allows it. The request
  // stays until BeginJob().
  void RequestStop() { client_.RequestCancel(); }
  // Clears the stop request and the progress before a job.
  void BeginJob();

  // ---- Jobs (the worker's thread) ----

  // Reconnects and reloads everything. A stopped connect is undone.
  ManagerOutcome Connect();
  void Disconnect();
  // What the snapshot lacked of |selection| (metadata, tree), its preview,
  // and the device's select notice (sounds only; not when stopped).
  SelectionDetails LoadDetails(const ManagerSelection& selection, bool metadataKnown);
  ManagerOutcome Download(const ManagerSelection& selection, const std::filesystem::path& path);
  ManagerOutcome UploadSound(const std::filesystem::path& path, int slot, const UploadProgress& progress);
  ManagerOutcome RestoreProject(const std::filesystem::path& path, uint16_t target);
  ManagerOutcome Delete(uint16_t id);
  // Writes |text| to |path| (replacing the file in one step).
  static ManagerOutcome SaveMetadata(const std::filesystem::path& path, std::string_view text);

 private:
  CEPDeviceClient client_;
};

// A thread that runs jobs one at a time, in the order posted. The destructor
// lets the queued jobs finish, then joins.
class CDeviceWorker {
 public:
  CDeviceWorker();
  ~CDeviceWorker();
  CDeviceWorker(const CDeviceWorker&) = delete;
  CDeviceWorker& operator=(const CDeviceWorker&) = delete;

  void Post(std::function<void()> job);
  // Waits (bounded) until no job is queued or running.
  bool WaitIdle(std::chrono::milliseconds limit);

 private:
  void Run();
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;
  bool running_ = false;
  bool stop_ = false;
  std::thread thread_;  // last: starts after the rest exists
};

}  // namespace zandrel
