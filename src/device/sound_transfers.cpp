// Whole sounds and projects between files and the device: upload, download,
// deletion and project backup.
#include "device/sound_transfers.h"

#include <algorithm>

#include "device/device_client.h"
#include "document/instrument_chunks.h"
#include "document/riff.h"
#include "platform/atomic_file.h"
#include "platform/text_format.h"
#include "processing/sinc_resampler.h"

namespace zandrel {

std::string FindInstrumentText(const std::vector<RiffChunk>& chunks) {
  const RiffChunk* list = FindListInfo(chunks);
  if (!list) return {};
  for (const InfoSubChunk& sub : WalkInfoSubChunks(*list).entries) {
    if (FourCCIs(sub.id, "TNGE")) return std::string(sub.body.begin(), sub.body.end());
  }
  return {};
}

bool WriteDeviceWav(const std::filesystem::path& path, std::span<const uint8_t> data, uint16_t channels,
                    uint32_t sampleRate, std::string_view instrumentText) {
  const uint32_t dataSize = static_cast<uint32_t>(data.size());
  const uint16_t blockAlign = static_cast<uint16_t>(channels * 2);
  const uint32_t textSize = static_cast<uint32_t>(instrumentText.size());
  const uint32_t listSize = instrumentText.empty() ? 0 : 12 + textSize + (textSize & 1);

  std::vector<uint8_t> header;
  AppendFourCC(header, MakeFourCC("RIFF"));
  AppendLE32(header, dataSize + 36 + (listSize ? 8 + listSize : 0));
  AppendFourCC(header, MakeFourCC("WAVE"));
  AppendFourCC(header, MakeFourCC("fmt "));
  AppendLE32(header, 16);
  AppendLE16(header, kWaveFormatPcm);
  AppendLE16(header, channels);
  AppendLE32(header, sampleRate);
  AppendLE32(header, uint32_t{blockAlign} * sampleRate);
  AppendLE16(header, blockAlign);
  AppendLE16(header, 16);
  if (listSize) {
    AppendFourCC(header, MakeFourCC("LIST"));
    AppendLE32(header, listSize);
    AppendFourCC(header, MakeFourCC("INFO"));
    AppendFourCC(header, MakeFourCC("TNGE"));
    AppendLE32(header, textSize);
    header.insert(header.end(), instrumentText.begin(), instrumentText.end());
    if (textSize & 1) header.push_back(0);
  }
  AppendFourCC(header, MakeFourCC("data"));
  AppendLE32(header, dataSize);

  AtomicFileWriter file;
  return file.Open(path) && file.Write(header.data(), header.size()) && file.Write(data.data(), data.size()) &&
         file.Commit();
}

namespace {

// The sound's name from its file: no folder, no extension.
std::string SoundNameOf(const std::filesystem::path& path) {
  const std::string full = path.string();
  size_t cut = full.rfind('\\');
  if (cut == std::string::npos) cut = full.rfind('/');
  std::string name = cut == std::string::npos ? full : full.substr(cut + 1);
  if (const size_t dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
  return name;
}

// The samples of 16-bit PCM audio converted by |ratio| (source frames per
// target frame); empty when the converter could produce nothing.
std::vector<uint8_t> Resample(const std::vector<uint8_t>& pcm, int channels, double ratio) {
  std::vector<int16_t> in(pcm.size() / 2);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(ReadLE16(pcm.data() + 2 * i));
  SincFilterSpec spec = SincFilterSpec::Best();
  std::vector<int16_t> out;
  ResampleSinc(spec, out, in.data(), in.size() / static_cast<size_t>(channels), channels, ratio);
  std::vector<uint8_t> bytes(out.size() * 2);
  for (size_t i = 0; i < out.size(); ++i) WriteLE16(bytes.data() + 2 * i, static_cast<uint16_t>(out[i]));
  return bytes;
}

// A whole number of the metadata's |key|, or |fallback| when it holds none.
int64_t MetadataNumber(const EPJson& metadata, const char* key, int64_t fallback) {
  if (!metadata.is_object()) return fallback;
  const auto it = metadata.find(key);
  if (it == metadata.end() || !it->is_number()) return fallback;
  if (it->is_number_float()) return static_cast<int64_t>(std::clamp(it->get<double>(), -1.0e12, 1.0e12));
  if (it->is_number_unsigned()) return static_cast<int64_t>(std::min<uint64_t>(it->get<uint64_t>(), 1'000'000'000'000));
  return it->get<int64_t>();
}

}  // namespace

EPUploadResult CEPDeviceClient::UploadSound(const std::filesystem::path& wavPath, int slotId,
                                            bool overwriteIfOccupied, const UploadProgress& progress) {
  if (!Ready()) return EPUploadResult::Failed;
  if (!deviceInfoLoaded_) LoadDeviceInfo(soundsDirId_);
  lastError_.clear();
  const auto fail = [this](std::string text) {
    lastError_ = std::move(text);
    return EPUploadResult::Failed;
  };

  int slot = slotId;
  if (slot == 0) {
    const auto empty = std::find_if(slots_.begin(), slots_.end(), [](const EPSoundSlot& s) { return !s.occupied; });
    if (empty == slots_.end()) return fail("No empty slots available (all 999 slots are occupied)");
    slot = empty->fileId;
  } else if (slot < 1 || slot > kSlotCount) {
    return fail("Invalid slot ID. Must be between 1 and 999, or 0 for auto-assign.");
  } else if (slots_[slot - 1].occupied && !overwriteIfOccupied) {
    return fail(Format("Slot %d is already occupied by '%s'. Set overwriteIfOccupied=true to replace it.", slot,
                       slots_[slot - 1].displayName.c_str()));
  }

  CWavLoader wav;
  if (!wav.Load(wavPath)) return fail("Failed to load WAV file. Ensure it's a valid RIFF WAVE file.");
  const int channels = wav.format.nChannels;
  const uint32_t sourceRate = wav.format.nSamplesPerSec;
  // Either would divide by zero below and would tell the device nonsense.
  if (channels == 0) return fail("Invalid WAV file: it declares no channels.");
  if (sourceRate == 0) return fail("Invalid WAV file: it declares a sample rate of 0 Hz.");
  const std::string instrumentText = FindInstrumentText(wav.chunks);

  std::vector<EPAudioFormat> formats;
  if (!GetAudioFormatCaps(formats) || formats.empty()) {
    return fail("Failed to get device audio format capabilities");
  }
  const uint32_t targetRate = ChooseUploadRate(formats.front(), sourceRate);

  if (wav.format.wBitsPerSample != 16) wav.ConvertTo16Bit();
  // What the conversion leaves alone (compressed audio, 64-bit floats, odd
  // widths) would reach the device as noise.
  if (wav.EffectiveFormatTag() != kWaveFormatPcm || wav.format.wBitsPerSample != 16 ||
      wav.format.nBlockAlign != channels * 2) {
    return fail("Unsupported audio format: only PCM audio that converts to 16-bit samples can be uploaded.");
  }
  std::vector<uint8_t> samples = std::move(wav.data);
  samples.resize(samples.size() / wav.format.nBlockAlign * wav.format.nBlockAlign);  // whole frames only
  if (targetRate != sourceRate) {
    samples = Resample(samples, channels, static_cast<double>(sourceRate) / targetRate);
    if (samples.empty()) return fail(Format("Failed to convert the audio from %u Hz to %u Hz.", sourceRate, targetRate));
  }

  const std::string soundName = SoundNameOf(wavPath);
  const size_t size = samples.size();
  const double seconds = static_cast<double>(size) / (static_cast<double>(targetRate) * channels * 2);
  if (strictAdherence_ && seconds > kStrictMaxSeconds) {
    return fail(Format("Sample too long! Duration: %.1fs. Maximum allowed: %ds.\nDisable strict adherence to bypass "
                       "this check.",
                       seconds, kStrictMaxSeconds));
  }
  const uint32_t required = static_cast<uint32_t>(std::min<size_t>(size, UINT32_MAX));
  if (!CheckFreeSpace(required, soundsDirId_)) {
    return fail(Format("Insufficient space on device. Required: %u bytes\nCheck free space with GetFreeMemory().",
                       required));
  }

  const uint32_t frames = static_cast<uint32_t>(size / (2 * static_cast<size_t>(channels)));
  const std::string metadata = BuildDeviceMetadata(instrumentText, DeviceMetadataDefaults{}, channels, targetRate,
                                                   sourceRate, soundName, frames, kMaxDeviceRegions);
  EPJson init = EPJson::object();
  init["name"] = SanitizeSoundName(soundName);
  init["format"] = "pcm";
  init["channels"] = channels;
  init["samplerate"] = targetRate;
  if (ParseDeviceJson(metadata).contains("regions")) init["sample.mode"] = "multi";

  if (!UploadFile(samples, soundName, soundsDirId_, static_cast<uint16_t>(slot), DumpDeviceJson(init), progress)) {
    const std::string why = FailureReason();
    return fail(why.empty() ? "Failed to upload file to device." : "Failed to upload file to device: " + why + ".");
  }
  EPUploadResult result = EPUploadResult::Uploaded;
  if (SetMetadata(static_cast<uint16_t>(slot), metadata)) {
    lastError_.clear();
  } else {
    lastError_ = "Failed to update extended metadata (regions)";
    result = EPUploadResult::UploadedWithoutMetadata;
  }
  ProcessAsyncEvents(static_cast<uint16_t>(slot));
  return result;
}

bool CEPDeviceClient::DownloadSound(uint16_t fileId, const std::filesystem::path& path) {
  if (!Ready()) return false;
  lastError_.clear();
  const EPSoundSlot* record = FindSound(fileId);
  if (!record) {
    lastError_ = "Sound file not found in cache. Try refreshing the file list.";
    return false;
  }
  const uint32_t size = record->size;
  const EPJson metadata = record->metadata;

  std::vector<uint8_t> data = ReadFile(fileId, size);
  if (CancelRequested()) {
    lastError_ = "Cancelled.";
    return false;
  }
  // A short read would be written as a shorter sound and called a success.
  if (data.empty() || data.size() < size) {
    if (!data.empty()) PrintErr(Format("[Error] Download of file %u incomplete: %zu of %u bytes.", unsigned{fileId},
                                       data.size(), size));
    lastError_ = "Failed to download file from device.";
    return false;
  }
  data.resize(size);  // the last page may run past the file

  const int64_t channels = MetadataNumber(metadata, "channels", 1);
  const int64_t rate = MetadataNumber(metadata, "samplerate", kDefaultDeviceSampleRate);
  // A channel count of 0 or a rate of 0 would make a file no reader can play.
  if (channels < 1 || channels > kMaxSoundChannels || rate < kMinSaneSampleRate || rate > kMaxSaneSampleRate) {
    lastError_ = Format("The sound's metadata gives an unusable audio format (%lld channels at %lld Hz).",
                        static_cast<long long>(channels), static_cast<long long>(rate));
    return false;
  }
  const size_t blockAlign = static_cast<size_t>(channels) * 2;
  data.resize(data.size() / blockAlign * blockAlign);

  if (!WriteDeviceWav(path, data, static_cast<uint16_t>(channels), static_cast<uint32_t>(rate),
                      DeviceMetadataToInstrumentJson(metadata))) {
    lastError_ = "Failed to save WAV file.";
    return false;
  }
  return true;
}

bool CEPDeviceClient::DeleteSound(uint16_t fileId) {
  if (!Ready()) return false;
  lastError_.clear();
  const EPSoundSlot* record = FindSound(fileId);
  if (!record) {
    lastError_ = "Slot is already empty.";
    return false;
  }
  if (!record->occupied) {
    lastError_ = "Slot is already empty. Nothing to delete.";
    return false;
  }
  // An unanswered request counts as flags 0: without an answer the file is
  // not known to be the user's.
  const EPFileEntry info = GetFileInfo(fileId);
  if (strictAdherence_ && !(info.flags & kEntryFlagUser)) {
    lastError_ =
        "This file is protected (Factory Content) and cannot be deleted.\nDisable strict adherence to bypass this "
        "check.";
    return false;
  }
  if (!DeleteFile(fileId)) {
    lastError_ = "Failed to delete file from device. File may be protected or invalid.";
    return false;
  }
  ProcessAsyncEvents(fileId);
  return true;
}

bool CEPDeviceClient::DownloadProject(uint16_t projectId, const std::filesystem::path& path) {
  if (!Ready()) return false;
  lastError_.clear();
  if (std::none_of(projects_.begin(), projects_.end(), [&](const EPProjectEntry& p) { return p.id == projectId; })) {
    lastError_ = "Project not found in cache. Try refreshing the file list.";
    return false;
  }
  bool complete = false;
  const std::vector<uint8_t> archive = DownloadProjectTar(projectId, &complete);
  if (CancelRequested()) {
    lastError_ = "Cancelled.";
    return false;
  }
  // A backup cut short is no backup: it is not saved as one.
  if (archive.empty() || !complete) {
    lastError_ = "Failed to download project from device.";
    return false;
  }
  AtomicFileWriter file;
  if (!file.Open(path)) {
    lastError_ = "Failed to create TAR file.";
    return false;
  }
  if (!file.Write(archive.data(), archive.size()) || !file.Commit()) {
    lastError_ = "Failed to save TAR file.";
    return false;
  }
  return true;
}

bool CEPDeviceClient::RestoreProject(std::span<const uint8_t> archive, uint16_t targetId) {
  if (!Ready()) return false;
  lastError_.clear();
  const uint16_t projectsDir = FindProjectsDirectory();
  if (projectsDir == 0xFFFF) {
    PrintErr("[Error] Could not find /projects directory.");
    lastError_ = "Could not find /projects directory.";
    return false;
  }
  PrintOut(Format("Uploading Project directly to ID %u...", unsigned{targetId}));
  if (!UploadProjectArchive(archive, "project", projectsDir, targetId)) {
    lastError_ = "Failed to upload project to device.";
    return false;
  }
  return true;
}

}  // namespace zandrel
