#include "device/device_manager_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "device/device_caps.h"
#include "device/ep_display.h"
#include "platform/atomic_file.h"
#include "platform/text_format.h"

namespace zandrel {
namespace fs = std::filesystem;
namespace {

const std::string kRule40(40, '-');
const std::string kRule48(48, '-');
constexpr uint64_t kMaxArchiveBytes = kMaxUploadBytes;

char Lower(char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); }

bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
  if (needle.size() > haystack.size()) return false;
  for (size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && Lower(haystack[i + k]) == Lower(needle[k])) ++k;
    if (k == needle.size()) return true;
  }
  return false;
}

// The metadata text of a selection: indented by 2, bad UTF-8 replaced.
std::string IndentedDump(const EPJson& value) {
  if (value.is_null()) return {};
  return DumpDeviceJson(value, 2);
}

// A whole number under |key| of |metadata|, or |fallback| when there is none
// (also for a value that is no number).
int64_t NumberOr(const EPJson& metadata, const char* key, int64_t fallback) {
  if (!metadata.is_object()) return fallback;
  const auto it = metadata.find(key);
  if (it == metadata.end() || !it->is_number()) return fallback;
  if (it->is_number_float()) {
    const double v = it->get<double>();
    return std::isfinite(v) ? static_cast<int64_t>(std::clamp(v, -1.0e15, 1.0e15)) : fallback;
  }
  if (it->is_number_unsigned()) return static_cast<int64_t>(std::min<uint64_t>(it->get<uint64_t>(), INT64_MAX));
  return it->get<int64_t>();
}

// A size value read as the device's unsigned 32-bit number; nothing for a
// value that is no number.
std::optional<uint32_t> AsU32(const EPJson& value) {
  if (value.is_number_unsigned()) return static_cast<uint32_t>(value.get<uint64_t>());
  if (value.is_number_integer()) return static_cast<uint32_t>(value.get<int64_t>());
  if (value.is_number_float()) {
    const double v = value.get<double>();
    if (!std::isfinite(v) || v < 0 || v >= 18446744073709551616.0) return std::nullopt;
    return static_cast<uint32_t>(static_cast<uint64_t>(v));
  }
  return std::nullopt;
}

std::string SoundLine(const EPSoundSlot& sound) {
  return Format("%-5d %-14s %s", int{sound.fileId}, sound.fileName.c_str(), sound.displayName.c_str());
}

}  // namespace

// ---------------------------------------------------------------- snapshot --

const EPSoundSlot* EPDeviceSnapshot::FindSound(uint16_t id) const {
  if (id >= 1 && id <= CEPDeviceClient::kSlotCount) {
    if (static_cast<size_t>(id) <= soundSlots.size() && soundSlots[id - 1].occupied) return &soundSlots[id - 1];
    return nullptr;
  }
  for (const EPSoundSlot& sound : extraSounds) {
    if (sound.fileId == id) return &sound;
  }
  return nullptr;
}

const EPProjectEntry* EPDeviceSnapshot::FindProject(uint16_t id) const {
  for (const EPProjectEntry& project : projects) {
    if (project.id == id) return &project;
  }
  return nullptr;
}

EPDeviceSnapshot TakeSnapshot(const CEPDeviceClient& client) {
  EPDeviceSnapshot snapshot;
  snapshot.sku = client.Sku();
  snapshot.deviceInfo = client.DeviceInfo();
  snapshot.deviceInfoLoaded = client.DeviceInfoLoaded();
  snapshot.connected = client.IsConnected() && client.IsOpen();
  snapshot.soundsDirId = client.SoundsDirectoryId();
  snapshot.projectsDirId = client.ProjectsDirectoryId();
  snapshot.soundSlots = client.Slots();
  snapshot.extraSounds = client.ExtraSounds();
  snapshot.projects = client.Projects();
  return snapshot;
}

// ---------------------------------------------------------------- listing --

ManagerListing BuildManagerListing(const EPDeviceSnapshot& snapshot) {
  ManagerListing listing;
  const auto text = [&](std::string line) { listing.lines.push_back({std::move(line), ManagerLineKind::Text, -1}); };
  const auto sound = [&](const EPSoundSlot& slot, std::string line) {
    listing.lines.push_back({std::move(line), ManagerLineKind::Sound, static_cast<int>(listing.sounds.size())});
    EPFileEntry entry;
    entry.id = slot.fileId;
    entry.size = slot.size;
    entry.name = slot.fileName;
    listing.sounds.push_back(std::move(entry));
  };

  if (!snapshot.sku.empty()) text(Format("Connected Device SKU: %s", snapshot.sku.c_str()));
  if (snapshot.deviceInfoLoaded) {
    text("Device Info");
    if (snapshot.deviceInfo.is_object()) {
      for (const auto& [key, value] : snapshot.deviceInfo.items()) {
        std::string valueText = JsonScalarToText(value);
        if (key == "max_capacity" || key == "free_space_in_bytes") {
          // A value that is no number keeps the plain line.
          if (const std::optional<uint32_t> bytes = AsU32(value)) {
            valueText = Format("%s (%.2f MB)", valueText.c_str(), *bytes / 1048576.0);
          }
        }
        text(Format("%s: %s", key.c_str(), valueText.c_str()));
      }
    }
    text(" ");
  } else {
    listing.error = "Device info not available. Call RefreshFileList() first.";
  }
  text(Format("Sounds Directory ID: %d", int{snapshot.soundsDirId}));
  text(Format("Projects Directory ID: %d", int{snapshot.projectsDirId}));
  text("Sounds Directory:");
  text("ID    System Name    Real Name");
  text(kRule48);
  for (const EPSoundSlot& slot : snapshot.soundSlots) {
    sound(slot, slot.occupied ? SoundLine(slot) : Format("%-5d <empty>", int{slot.fileId}));
  }
  if (!snapshot.extraSounds.empty()) {
    text("");
    text("Used by Synths (1001-...):");
    text(kRule48);
    for (const EPSoundSlot& extra : snapshot.extraSounds) sound(extra, SoundLine(extra));
  }
  if (!snapshot.projects.empty()) {
    text("");
    text("Projects Directory:");
    text("ID     System Name          Real Name");
    text(kRule48);
    for (const EPProjectEntry& project : snapshot.projects) {
      listing.lines.push_back({Format("[DIR]  ID:%4d  %s", int{project.id}, project.displayName.c_str()),
                               ManagerLineKind::Project, static_cast<int>(listing.projects.size())});
      EPFileEntry entry;
      entry.id = project.id;
      entry.size = 0;
      entry.name = project.name;
      listing.projects.push_back(std::move(entry));
    }
  }
  return listing;
}

// ---------------------------------------------------------------- details --

std::string JsonScalarToText(const EPJson& value) {
  switch (value.type()) {
    case EPJson::value_t::string: return value.get<std::string>();
    case EPJson::value_t::number_integer: return Format("%lld", static_cast<long long>(value.get<int64_t>()));
    case EPJson::value_t::number_unsigned:
      return Format("%llu", static_cast<unsigned long long>(value.get<uint64_t>()));
    case EPJson::value_t::number_float: return Format("%.6f", value.get<double>());
    case EPJson::value_t::boolean: return value.get<bool>() ? "true" : "false";
    case EPJson::value_t::null: return "null";
    case EPJson::value_t::object:
    case EPJson::value_t::array: return DumpDeviceJson(value);
    default: return "<unknown>";
  }
}

void PrintJsonTree(const EPJson& value, const std::string& prefix, std::vector<std::string>& lines) {
  const auto member = [&](const std::string& label, const EPJson& child) {
    if (child.is_object() || child.is_array()) {
      lines.push_back(prefix + label + ":");
      PrintJsonTree(child, prefix + "  ", lines);
    } else {
      lines.push_back(prefix + label + ": " + JsonScalarToText(child));
    }
  };
  if (value.is_object()) {
    for (const auto& [key, child] : value.items()) member(key, child);
  } else if (value.is_array()) {
    for (size_t i = 0; i < value.size(); ++i) member(Format("[%d]", static_cast<int>(i)), value[i]);
  }
}

std::vector<std::string> HeaderLineInfo(std::string_view lineText) {
  std::string key;
  std::string_view rest = lineText;
  if (const size_t colon = lineText.find(':'); colon != std::string_view::npos) {
    key = std::string(lineText.substr(0, colon + 1));
    rest = lineText.substr(colon + 1);
  }
  const size_t start = rest.find_first_not_of(" \t\r\n");
  rest = start == std::string_view::npos ? std::string_view{} : rest.substr(start);

  std::vector<std::string> lines;
  if (!rest.empty() && (rest.front() == '[' || rest.front() == '{')) {
    const EPJson parsed = ParseDeviceJson(rest);
    if (parsed.is_object() || parsed.is_array()) {
      lines = {key, kRule40};
      PrintJsonTree(parsed, "", lines);
    } else {
      lines = {"Raw text:", kRule40, std::string(rest)};
    }
    return lines;
  }
  return {"Selected item:", kRule40, std::string(lineText)};
}

void ManagerSelection::SetMetadata(EPJson value) {
  metadata = std::move(value);
  metadataText = IndentedDump(metadata);
}

std::vector<std::string> FileInfoLines(const ManagerSelection& selection, const EPDeviceSnapshot& snapshot) {
  if (!selection.has) return {"No file selected"};
  std::vector<std::string> lines = {Format("File ID: %d", int{selection.id}),
                                    Format("File Name: %s", selection.name.c_str()),
                                    Format("File Size: %u bytes", selection.size),
                                    Format("Type: %s", selection.isSound ? "Sound" : "Project"),
                                    "",
                                    "Metadata:",
                                    kRule40};
  const EPJson& metadata = selection.metadata;
  if (metadata.is_null() || ((metadata.is_object() || metadata.is_array()) && metadata.empty())) {
    lines.push_back("No metadata available");
    return lines;
  }
  if (!selection.isSound) {
    const std::vector<uint16_t> used = CollectUsedSoundIds(metadata);
    if (!used.empty()) {
      lines.push_back("Used Sounds:");
      for (const uint16_t id : used) {
        if (const EPSoundSlot* sound = snapshot.FindSound(id)) {
          lines.push_back(Format("%03d    %s", int{id}, sound->displayName.c_str()));
        } else if (id < CEPDeviceClient::kFirstExtraSoundId) {
          lines.push_back(Format("%03d    <not found>", int{id}));
        } else {
          lines.push_back(Format("%03d    SYNTH", int{id}));
        }
      }
      lines.push_back(kRule40);
    }
  }
  PrintJsonTree(metadata, "", lines);
  return lines;
}

int PreviewChannels(const EPJson& metadata) {
  const int64_t channels = NumberOr(metadata, "channels", 1);
  return static_cast<int>(std::clamp<int64_t>(channels, 1, 2));
}

LineChoice ChooseLine(const ManagerListing& listing, const EPDeviceSnapshot& snapshot, int row) {
  LineChoice choice;
  if (row < 0 || static_cast<size_t>(row) >= listing.lines.size()) {
    choice.info = FileInfoLines(choice.selection, snapshot);
    return choice;
  }
  const ManagerLine& line = listing.lines[static_cast<size_t>(row)];
  const bool sound = line.kind == ManagerLineKind::Sound && line.index >= 0 &&
                     static_cast<size_t>(line.index) < listing.sounds.size();
  const bool project = line.kind == ManagerLineKind::Project && line.index >= 0 &&
                       static_cast<size_t>(line.index) < listing.projects.size();
  if (!sound && !project) {
    choice.info = HeaderLineInfo(line.text);
    return choice;
  }
  ManagerSelection& selection = choice.selection;
  const EPFileEntry& entry =
      sound ? listing.sounds[static_cast<size_t>(line.index)] : listing.projects[static_cast<size_t>(line.index)];
  selection.has = true;
  selection.id = entry.id;
  selection.name = entry.name;
  selection.size = entry.size;
  selection.isSound = sound;
  if (sound) {
    if (const EPSoundSlot* slot = snapshot.FindSound(entry.id)) {
      choice.display = MakeEpDisplayName(slot->displayName);
      choice.needsDevice = true;  // the preview and the select notice
      if (!slot->metadata.is_null()) {
        selection.SetMetadata(slot->metadata);
        choice.metadataKnown = true;
      }
    } else {
      choice.display = MakeEpDisplayName("* empty *");
      choice.clearPreview = true;
    }
  } else {
    choice.display = MakeEpDisplayName("PROJ " + entry.name);
    choice.clearPreview = true;
    choice.needsDevice = true;  // the project tree
  }
  choice.info = FileInfoLines(selection, snapshot);
  return choice;
}

void ApplyDetails(LineChoice& choice, const SelectionDetails& details, const EPDeviceSnapshot& snapshot) {
  if (details.cancelled) return;
  ManagerSelection& selection = choice.selection;
  if (!selection.isSound) {
    selection.SetMetadata(details.metadata);
  } else if (!choice.metadataKnown) {
    selection.SetMetadata(details.metadata.is_object() ? details.metadata : EPJson());
  }
  if (selection.isSound && !selection.metadata.is_object()) selection.SetMetadata(EPJson());
  choice.info = FileInfoLines(selection, snapshot);
}

// ---------------------------------------------------------------- search --

std::optional<int> FindFirstLine(const std::vector<ManagerLine>& lines, std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (ContainsNoCase(lines[i].text, text)) return static_cast<int>(i);
  }
  return std::nullopt;
}

std::optional<int> FindNextLine(const std::vector<ManagerLine>& lines, std::string_view text, int selected) {
  if (text.empty() || lines.empty()) return std::nullopt;
  const int count = static_cast<int>(lines.size());
  const int start = std::clamp(selected, -1, count - 1);
  for (int step = 1; step <= count; ++step) {
    const int i = (start + step) % count;
    if (ContainsNoCase(lines[static_cast<size_t>(i)].text, text)) return i;
    if (i == start) break;
  }
  return std::nullopt;
}

// ---------------------------------------------------------------- decisions --

DownloadPlan PlanDownload(const ManagerSelection& selection, const EPDeviceSnapshot& snapshot) {
  DownloadPlan plan;
  if (!selection.has) {
    plan.refusal = ManagerBox{"Please select a file first.", MessageIcon::Information};
    return plan;
  }
  if (selection.isSound) {
    const EPSoundSlot* slot = snapshot.FindSound(selection.id);
    const std::string& name = slot && !slot->displayName.empty() ? slot->displayName : selection.name;
    plan.proposedName = DownloadFileName(name, ".wav");
  } else {
    plan.project = true;
    const EPProjectEntry* project = snapshot.FindProject(selection.id);
    const std::string& name = project && !project->displayName.empty() ? project->displayName : selection.name;
    plan.proposedName = DownloadFileName(name, ".tar");
  }
  return plan;
}

UploadPlan PlanUpload(const ManagerSelection& selection, const EPDeviceSnapshot& snapshot) {
  UploadPlan plan;
  if (!snapshot.connected) {
    plan.refusal = ManagerBox{"Not connected to device. Please connect first.", MessageIcon::Warning};
    return plan;
  }
  plan.project = selection.has && !selection.isSound;
  return plan;
}

UploadTarget ChooseUploadTarget(const ManagerSelection& selection, const EPDeviceSnapshot& snapshot) {
  UploadTarget target;
  if (!selection.has) {
    target.refusal = ManagerBox{"Select valid empty slot", MessageIcon::None};
    return target;
  }
  target.slot = selection.id >= 1 && selection.id <= CEPDeviceClient::kSlotCount ? selection.id : 0;
  if (target.slot != 0 && snapshot.FindSound(static_cast<uint16_t>(target.slot))) {
    target.refusal = ManagerBox{"The Slot is not empty", MessageIcon::None};
  }
  return target;
}

std::optional<std::string> CheckWavHeader(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  char head[12] = {};
  file.read(head, sizeof head);
  const std::streamsize got = file.gcount();
  if (got < 4 || std::string_view(head, 4) != "RIFF") return "This is not a valid RIFF file.";
  if (got < 12 || std::string_view(head + 8, 4) != "WAVE") return "This is not a valid WAVE file.";
  return std::nullopt;
}

std::vector<std::string> UploadStartLines(int slot) {
  return {slot == 0 ? std::string("Uploading to first empty slot...") : Format("Uploading to slot %d...", slot),
          "Loading WAV file...", "Validating and preparing format...", "Preparing metadata...",
          "Checking device space..."};
}

ArchiveCheck CheckProjectArchive(const fs::path& path) {
  ArchiveCheck check;
  std::error_code error;
  const uintmax_t size = fs::file_size(path, error);
  if (error || !std::ifstream(path, std::ios::binary)) {
    check.refusal = ManagerBox{"Failed to open TAR file.", MessageIcon::Error};
    return check;
  }
  // Read nothing of an archive the device would refuse anyway.
  if (size > kMaxArchiveBytes) {
    check.refusal = ManagerBox{Format("The project archive is %llu bytes; the device accepts at most %llu bytes.",
                                      static_cast<unsigned long long>(size),
                                      static_cast<unsigned long long>(kMaxArchiveBytes)),
                               MessageIcon::Error};
    return check;
  }
  check.size = size;
  return check;
}

std::vector<std::string> RestoreStartLines(uint16_t target, uint64_t size) {
  return {Format("Uploading project to slot %d...", int{target}),
          Format("File size: %llu bytes", static_cast<unsigned long long>(size))};
}

DeletePlan PlanDelete(const ManagerSelection& selection, const EPDeviceSnapshot& snapshot) {
  DeletePlan plan;
  if (!selection.has) {
    plan.refusal = ManagerBox{"No file selected.\n\nPlease select a sound or project to delete.", MessageIcon::Warning};
  } else if (!selection.isSound) {
    plan.refusal =
        ManagerBox{"Cannot delete projects.\n\nOnly individual sound files can be deleted.", MessageIcon::Warning};
  } else if (!snapshot.FindSound(selection.id)) {
    plan.refusal =
        ManagerBox{"Cannot delete empty slot.\n\nPlease select an occupied sound slot.", MessageIcon::Warning};
  } else {
    plan.question = Format("Delete sound file?\n\nID: %d\nName: %s\n\nThis action cannot be undone.",
                           int{selection.id}, selection.name.c_str());
  }
  return plan;
}

// ---------------------------------------------------------------- jobs --

CDeviceManagerModel::CDeviceManagerModel(MidiSystem* midi) : client_(midi ? midi : CurrentMidiSystem()) {}

void CDeviceManagerModel::BeginJob() {
  client_.ClearCancel();
  client_.ResetProgress();
}

ManagerOutcome CDeviceManagerModel::Connect() {
  ManagerOutcome outcome;
  if (client_.IsConnected() && client_.IsOpen()) client_.Disconnect();
  const bool connected = client_.Connect();
  if (client_.CancelRequested()) {
    // Whatever the connect got done, a stopped one leaves no connection.
    client_.Disconnect();
    outcome.cancelled = true;
    return outcome;
  }
  outcome.ok = connected;
  if (!connected) outcome.box = ManagerBox{client_.LastError(), MessageIcon::Error};
  return outcome;
}

void CDeviceManagerModel::Disconnect() {
  client_.Disconnect();
}

SelectionDetails CDeviceManagerModel::LoadDetails(const ManagerSelection& selection, bool metadataKnown) {
  SelectionDetails details;
  if (!selection.has) return details;
  if (!selection.isSound) {
    details.metadata = client_.GetProjectTree(selection.id);
    details.cancelled = client_.CancelRequested();
    return details;
  }
  details.metadata = metadataKnown ? selection.metadata : client_.GetSoundMetadata(selection.id);
  if (details.metadata.is_object() && !client_.CancelRequested()) {
    details.previewChannels = PreviewChannels(details.metadata);
    details.preview = client_.ReadPreview(selection.id, selection.size, details.previewChannels);
    details.previewRead = true;
  }
  if (client_.CancelRequested()) {
    details.cancelled = true;
    return details;
  }
  client_.NotifySoundSelected(selection.id);
  return details;
}

ManagerOutcome CDeviceManagerModel::Download(const ManagerSelection& selection, const fs::path& path) {
  ManagerOutcome outcome;
  const bool ok = selection.isSound ? client_.DownloadSound(selection.id, path)
                                    : client_.DownloadProject(selection.id, path);
  if (client_.CancelRequested()) {
    outcome.cancelled = true;
    outcome.lines = {"Cancelled."};
    return outcome;
  }
  outcome.ok = ok;
  if (!ok) {
    outcome.box = ManagerBox{client_.LastError(), MessageIcon::Error};
    return outcome;
  }
  if (!selection.isSound) {
    outcome.box = ManagerBox{Format("Project downloaded successfully:\n%s", path.string().c_str()),
                             MessageIcon::Information};
    return outcome;
  }
  const EPSoundSlot* slot = client_.FindSound(selection.id);
  if (!slot) {
    outcome.box = ManagerBox{"File downloaded successfully!", MessageIcon::Information};
    return outcome;
  }
  // Metadata that gives these as anything but numbers stands for the device's
  // usual format.
  const int64_t channels = NumberOr(slot->metadata, "channels", 1);
  const int64_t rate = NumberOr(slot->metadata, "samplerate", kDefaultDeviceSampleRate);
  outcome.box = ManagerBox{
      Format("File downloaded successfully:\n%s\n\nSize: %u bytes\nChannels: %d\nSample Rate: %u Hz",
             path.string().c_str(), slot->size, static_cast<int>(channels), static_cast<unsigned>(rate)),
      MessageIcon::Information};
  return outcome;
}

ManagerOutcome CDeviceManagerModel::UploadSound(const fs::path& path, int slot, const UploadProgress& progress) {
  ManagerOutcome outcome;
  const EPUploadResult result = client_.UploadSound(path, slot, false, progress);
  switch (result) {
    case EPUploadResult::Uploaded:
      outcome.ok = true;
      outcome.lines = {"", "File uploaded successfully!", "Waiting for device confirmation..."};
      break;
    case EPUploadResult::UploadedWithoutMetadata:
      // The sound is there, its regions and settings are not: say so.
      outcome.ok = true;
      outcome.lines = {"", "File uploaded successfully!", client_.LastError(), "Waiting for device confirmation..."};
      outcome.box = ManagerBox{client_.LastError(), MessageIcon::Warning};
      break;
    case EPUploadResult::Failed:
      outcome.lines = {"", "*** UPLOAD FAILED ***", client_.LastError()};
      outcome.box = ManagerBox{"Upload failed:\n\n" + client_.LastError(), MessageIcon::Error};
      break;
  }
  return outcome;
}

ManagerOutcome CDeviceManagerModel::RestoreProject(const fs::path& path, uint16_t target) {
  ManagerOutcome outcome;
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) {
    outcome.box = ManagerBox{"Failed to open TAR file.", MessageIcon::Error};
    return outcome;
  }
  const std::streamoff size = file.tellg();
  // Checked before, but the file may have grown since.
  if (size < 0 || static_cast<uint64_t>(size) > kMaxArchiveBytes) {
    outcome.box = CheckProjectArchive(path).refusal.value_or(ManagerBox{"Failed to read TAR file.", MessageIcon::Error});
    return outcome;
  }
  std::vector<uint8_t> archive(static_cast<size_t>(size));
  file.seekg(0);
  if (!file.read(reinterpret_cast<char*>(archive.data()), size)) {
    outcome.box = ManagerBox{"Failed to read TAR file.", MessageIcon::Error};
    return outcome;
  }
  if (client_.RestoreProject(archive, target)) {
    outcome.ok = true;
    outcome.lines = {"", "Project uploaded successfully!", "Waiting for device confirmation..."};
    outcome.box = ManagerBox{"Project uploaded successfully!", MessageIcon::Information};
  } else {
    outcome.lines = {"", "*** UPLOAD FAILED ***"};
    outcome.box = ManagerBox{"Failed to upload project to device.", MessageIcon::Error};
  }
  return outcome;
}

ManagerOutcome CDeviceManagerModel::Delete(uint16_t id) {
  ManagerOutcome outcome;
  if (client_.DeleteSound(id)) {
    outcome.ok = true;
    outcome.replaceInfo = true;
    outcome.lines = {Format("Deleting file %d...\n\nWaiting for device confirmation.", int{id})};
  } else {
    outcome.box = ManagerBox{client_.LastError(), MessageIcon::Error};
  }
  return outcome;
}

ManagerOutcome CDeviceManagerModel::SaveMetadata(const fs::path& path, std::string_view text) {
  ManagerOutcome outcome;
  AtomicFileWriter file;
  if (!file.Open(path)) {
    outcome.box = ManagerBox{"Failed to create metadata file.", MessageIcon::Error};
    return outcome;
  }
  if (!file.Write(text.data(), text.size()) || !file.Commit()) {
    outcome.box = ManagerBox{"Failed to save metadata file.", MessageIcon::Error};
    return outcome;
  }
  outcome.ok = true;
  outcome.box = ManagerBox{Format("Metadata saved successfully to:\n%s\n\nSize: %u bytes", path.string().c_str(),
                                  static_cast<unsigned>(text.size())),
                           MessageIcon::Information};
  return outcome;
}

// ---------------------------------------------------------------- worker --

CDeviceWorker::CDeviceWorker() : thread_([this] { Run(); }) {}

CDeviceWorker::~CDeviceWorker() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void CDeviceWorker::Post(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  changed_.notify_all();
}

bool CDeviceWorker::WaitIdle(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [this] { return jobs_.empty() && !running_; });
}

void CDeviceWorker::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping, and nothing left to do
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    running_ = true;
    lock.unlock();
    job();
    lock.lock();
    running_ = false;
    changed_.notify_all();
  }
}

}  // namespace zandrel
