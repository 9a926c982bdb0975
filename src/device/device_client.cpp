// The device client: connecting, the cached listing, device events,
// capabilities and project trees. The transfers are in sound_transfers.cpp,
// the metadata conversions in device_metadata.cpp.
#include "device/device_client.h"

#include <utility>

namespace zandrel {
namespace {

constexpr const char* kConnectFailed =
    "Failed to connect to EP device. Please ensure it is connected via USB-MIDI and EP Sample Tool is not opened in "
    "any browser.";
constexpr const char* kNotConnected = "Not connected to device";

// The name a listed sound is shown under: its metadata's "name", or the file
// name when there is none; an empty "name" of a slot sound shows as
// "User_" and the file name without its ".pcm".
std::string ListedDisplayName(const EPJson& metadata, uint16_t fileId, const std::string& fileName) {
  if (!metadata.is_object()) return fileName;
  const auto name = metadata.find("name");
  if (name == metadata.end() || !name->is_string()) return fileName;
  const std::string& text = name->get_ref<const std::string&>();
  if (!text.empty()) return text;
  const size_t pcm = fileName.find(".pcm");
  if (fileId >= CEPDeviceClient::kFirstExtraSoundId || pcm == std::string::npos) return fileName;
  return "User_" + fileName.substr(0, pcm) + fileName.substr(pcm + 4);
}

}  // namespace

CEPDeviceClient::CEPDeviceClient() : CEPDeviceClient(CurrentMidiSystem()) {}

CEPDeviceClient::CEPDeviceClient(MidiSystem* midi) : CEPSysExLink(midi) {
  // Installed once, before any port opens; it touches only the queue.
  SetEventCallback([this](const EPDeviceEvent& event) { OnAsyncEvent(event.code, event.fileId, this); });
}

CEPDeviceClient::~CEPDeviceClient() {
  // The input thread must be stopped while the queue still exists.
  Disconnect();
  CloseLink();
  SetEventCallback({});
}

// ---- Connection ----

bool CEPDeviceClient::BeginConnect() {
  if (connected_) {
    lastError_ = "Already connected";
    return false;
  }
  lastError_.clear();
  if (!OpenLink()) {
    lastError_ = kConnectFailed;
    return false;
  }
  return true;
}

bool CEPDeviceClient::Connect() {
  if (!BeginConnect()) return false;
  if (Handshake() && RefreshFileList()) {
    connected_ = true;
    return true;
  }
  CloseLink();
  return false;
}

bool CEPDeviceClient::ConnectAndLoadSlots() {
  if (!BeginConnect()) return false;
  if (!Handshake()) {
    CloseLink();
    return false;
  }
  OperationScope operation(*this);
  ResetSlots();
  FindDirectories();
  if (soundsDirId_ != 0) {
    LoadDeviceInfo(soundsDirId_);
    LoadSoundList(soundsDirId_);
  }
  connected_ = true;
  return true;
}

void CEPDeviceClient::Disconnect() {
  if (connected_) {
    CloseLink();
    connected_ = false;
  }
  slots_.clear();
  extraSounds_.clear();
  projects_.clear();
  deviceInfoLoaded_ = false;
  soundsDirId_ = 0;
  projectsDirId_ = 0;
  lastError_.clear();
}

bool CEPDeviceClient::RefreshFileList() {
  if (!IsOpen()) {
    lastError_ = kNotConnected;
    return false;
  }
  OperationScope operation(*this);
  lastError_.clear();
  ResetSlots();
  FindDirectories();
  if (soundsDirId_ != 0) {
    LoadDeviceInfo(soundsDirId_);
    LoadSoundsWithMetadata(soundsDirId_);
  }
  if (projectsDirId_ != 0) LoadProjectList(projectsDirId_);
  return true;
}

bool CEPDeviceClient::Handshake() {
  if (InitDevice()) return true;
  lastError_ = "Handshake failed. Device might be busy or incompatible.";
  return false;
}

void CEPDeviceClient::ResetSlots() {
  slots_.assign(kSlotCount, EPSoundSlot{});
  for (int i = 0; i < kSlotCount; ++i) slots_[i].fileId = static_cast<uint16_t>(i + 1);
  extraSounds_.clear();
  projects_.clear();
  deviceInfoLoaded_ = false;
}

void CEPDeviceClient::FindDirectories() {
  soundsDirId_ = 0;
  projectsDirId_ = 0;
  // When several entries match, the last one listed wins.
  for (const EPFileEntry& entry : ListDirectory(0)) {
    if (!entry.IsDirectory()) continue;
    if (entry.name == "sounds") soundsDirId_ = entry.id;
    if (entry.name == "projects") projectsDirId_ = entry.id;
  }
}

bool CEPDeviceClient::LoadDeviceInfo(uint16_t directoryId) {
  EPJson info = ParseDeviceJson(GetMetadataPages(directoryId));
  if (info.is_null()) return false;
  deviceInfo_ = std::move(info);
  deviceInfoLoaded_ = true;
  return true;
}

void CEPDeviceClient::StoreSound(EPSoundSlot record) {
  if (record.fileId >= 1 && record.fileId <= kSlotCount) {
    if (slots_.size() != static_cast<size_t>(kSlotCount)) ResetSlots();
    slots_[record.fileId - 1] = std::move(record);
  } else {
    extraSounds_.push_back(std::move(record));
  }
}

bool CEPDeviceClient::LoadSoundsWithMetadata(uint16_t directoryId) {
  OperationScope operation(*this);
  for (const EPFileEntry& entry : ListDirectory(directoryId)) {
    if (entry.IsDirectory()) continue;
    EPSoundSlot record{entry.id, entry.size, entry.name, {}, ParseDeviceJson(GetMetadataPages(entry.id)), true};
    record.displayName = ListedDisplayName(record.metadata, entry.id, entry.name);
    StoreSound(std::move(record));
  }
  return true;
}

bool CEPDeviceClient::LoadSoundList(uint16_t directoryId) {
  for (const EPFileEntry& entry : ListDirectory(directoryId)) {
    if (!entry.IsDirectory()) StoreSound({entry.id, entry.size, entry.name, entry.name, EPJson(), true});
  }
  return true;
}

bool CEPDeviceClient::LoadProjectList(uint16_t directoryId) {
  for (const EPFileEntry& entry : ListDirectory(directoryId)) {
    if (entry.IsDirectory()) projects_.push_back({entry.id, entry.name, entry.name, EPJson()});
  }
  return true;
}

EPJson CEPDeviceClient::GetSoundMetadata(uint16_t fileId) {
  if (!connected_ || !IsOpen()) return EPJson();
  return ParseDeviceJson(GetMetadataPages(fileId));
}

const EPSoundSlot* CEPDeviceClient::FindSound(uint16_t fileId) const {
  if (fileId >= 1 && fileId <= kSlotCount) {
    if (slots_.size() != static_cast<size_t>(kSlotCount) || !slots_[fileId - 1].occupied) return nullptr;
    return &slots_[fileId - 1];
  }
  for (const EPSoundSlot& sound : extraSounds_) {
    if (sound.fileId == fileId) return &sound;
  }
  return nullptr;
}

bool CEPDeviceClient::Ready() {
  if (connected_ && IsOpen()) return true;
  lastError_ = kNotConnected;
  return false;
}

// ---- Device events ----

void CEPDeviceClient::OnAsyncEvent(uint8_t code, uint16_t fileId, CEPDeviceClient* client) {
  if (!client) return;
  std::lock_guard lock(client->queueMutex_);
  client->queue_.push_back({code, fileId});
  if (client->queue_.size() > kMaxQueuedEvents) client->queue_.pop_front();
}

std::vector<EPDeviceEvent> CEPDeviceClient::QueuedEvents() const {
  std::lock_guard lock(queueMutex_);
  return {queue_.begin(), queue_.end()};
}

void CEPDeviceClient::ProcessAsyncEvents(uint16_t slotId) {
  // Walk a copy: the requests below bring replies that are read as events
  // and queued meanwhile (a file-information reply for slot 800 starts with
  // 03 and looks like event 3), so the live queue could never run dry.
  std::deque<EPDeviceEvent> events;
  {
    std::lock_guard lock(queueMutex_);
    if (queue_.empty()) queue_.push_back({kEventFileNamed, slotId});
    events.swap(queue_);
  }
  OperationScope operation(*this);
  for (const EPDeviceEvent& event : events) {
    switch (event.code) {
      case kEventFileNamed:
      case kEventFile9:
      case kEventFileDeleted: RereadSlot(slotId, true); break;
      case kEventFile8:
      case kEventFileMoved: RereadSlot(slotId, false); break;
      default: break;
    }
    if (listener_) listener_(event.code, slotId);
  }
  std::lock_guard lock(queueMutex_);
  queue_.clear();
}

void CEPDeviceClient::RereadSlot(uint16_t slotId, bool clearWhenGone) {
  EPFileInfoStatus status = EPFileInfoStatus::NoAnswer;
  const EPFileEntry info = GetFileInfo(slotId, &status);
  // Without an answer nothing is known: marking the slot free would let the
  // next automatic slot choice aim at a sound that is still there.
  if (status == EPFileInfoStatus::NoAnswer) return;
  const bool inTable = slotId >= 1 && slotId <= kSlotCount && slots_.size() == static_cast<size_t>(kSlotCount);
  if (status == EPFileInfoStatus::Found && info.id == slotId) {
    EPJson metadata = ParseDeviceJson(GetMetadataPages(slotId));
    const auto name = metadata.is_object() ? metadata.find("name") : metadata.end();
    std::string displayName = name != metadata.end() && name->is_string() ? name->get<std::string>() : info.name;
    if (inTable) slots_[slotId - 1] = {slotId, info.size, info.name, std::move(displayName), std::move(metadata), true};
  } else if (clearWhenGone && inTable) {
    slots_[slotId - 1] = {slotId, 0, {}, {}, EPJson(), false};
  }
}

// ---- Capabilities and project trees ----

bool CEPDeviceClient::GetAudioFormatCaps(std::vector<EPAudioFormat>& formats) {
  formats.clear();
  if (!deviceInfoLoaded_) {
    lastError_ = "Device info not available. Call RefreshFileList() first.";
    return false;
  }
  std::string error;
  if (!ParseAudioFormats(deviceInfo_, formats, error)) {
    lastError_ = error;
    return false;
  }
  lastError_.clear();
  return true;
}

EPJson CEPDeviceClient::GetProjectTree(uint16_t projectId) {
  if (!connected_ || !IsOpen()) return EPJson();
  OperationScope operation(*this);
  EPJson tree = ParseDeviceJson(GetMetadataPages(projectId));
  // The device keeps an object here; anything else cannot take "groups".
  if (!tree.is_object()) tree = EPJson::object();
  tree["groups"] = TreeLevel(projectId, 0);
  return tree;
}

// Depth 0 lists a project's groups, 1 a group's banks (directories only),
// 2 a bank's pads (every entry).
EPJson CEPDeviceClient::TreeLevel(uint16_t directoryId, int depth) {
  static constexpr const char* kChildren[] = {"banks", "pads"};
  const bool pads = depth == 2;
  EPJson level = EPJson::array();
  for (const EPFileEntry& entry : ListDirectory(directoryId)) {
    if (!pads && !entry.IsDirectory()) continue;
    EPJson node = EPJson::object();
    node["id"] = entry.id;
    node["name"] = entry.name;
    if (pads) {
      node["size"] = entry.size;
      node["isDir"] = entry.IsDirectory();
    }
    EPJson metadata = ParseDeviceJson(GetMetadataPages(entry.id));
    if (!metadata.is_null()) node["metadata"] = std::move(metadata);
    if (!pads) node[kChildren[depth]] = TreeLevel(entry.id, depth + 1);
    level.push_back(std::move(node));
  }
  return level;
}

}  // namespace zandrel
