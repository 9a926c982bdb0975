#include "kits/kit_import.h"

#include <system_error>

#include "document/note_names.h"
#include "kits/kit_text.h"
#include "platform/file_dialogs.h"
#include "platform/message_host.h"
#include "platform/settings.h"
#include "platform/text_format.h"

namespace zandrel {
namespace fs = std::filesystem;

namespace {

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

// The entry of |folder| named |part|: the exact name when it exists, else the
// first name (in byte order) that equals it ignoring ASCII case, else |part|.
fs::path MatchPart(const fs::path& folder, const std::string& part) {
  if (Exists(folder / part)) return folder / part;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  std::string best;
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (EqualsIgnoringAsciiCase(name, part) && (best.empty() || name < best)) best = name;
  }
  return folder / (best.empty() ? part : best);
}

}  // namespace

std::optional<fs::path> ResolveKitPath(const fs::path& base, std::string_view name) {
  if (name.empty() || name.front() == '/' || name.front() == '\\') return std::nullopt;
  // A drive ("C:", "c:\x") names another disk; a colon elsewhere is an
  // ordinary character on this system.
  if (name.size() >= 2 && name[1] == ':' &&
      ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
    return std::nullopt;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view part = name.substr(start, end - start);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") parts.emplace_back(part);
    start = end + 1;
  }
  if (parts.empty()) return std::nullopt;
  fs::path path = base;
  for (const std::string& part : parts) path = MatchPart(path, part);
  return path;
}

std::optional<fs::path> FirstExistingCandidate(const std::vector<std::optional<fs::path>>& candidates) {
  std::optional<fs::path> last;
  for (const std::optional<fs::path>& c : candidates) {
    if (!c) continue;
    if (Exists(*c)) return c;
    last = c;
  }
  return last;
}

void KitSampleLoader::LogFailed(std::string_view path) const { LogF(log_, failedFormat_, std::string(path).c_str()); }

std::optional<std::vector<uint8_t>> KitSampleLoader::Load(const fs::path& path) {
  CWavLoader wav;
  if (!wav.LoadForEditing(path)) {
    LogFailed(path.string());
    return std::nullopt;
  }
  std::string reason = UnsupportedFormatReason(wav);
  if (reason.empty()) {
    const PcmFormat& f = wav.format;
    // Files of more than two channels are not mixed; appended as they are
    // they would play as noise.
    if (f.nChannels != 1) reason = Format("it has %u channels", f.nChannels);
    else if (f.wBitsPerSample != 16 || f.nBlockAlign != 2)
      reason = Format("it stays %u-bit with %u-byte frames", f.wBitsPerSample, f.nBlockAlign);
  }
  if (!reason.empty()) {
    LogF(log_, "Warning: %s cannot be converted to mono 16-bit PCM (%s). Skipping this file.", path.c_str(),
         reason.c_str());
    return std::nullopt;
  }
  const uint32_t rate = wav.format.nSamplesPerSec;
  if (rate_ == 0) {
    rate_ = rate;
  } else if (rate != rate_) {
    LogF(log_, mismatchFormat_, path.c_str(), static_cast<int>(rate_), static_cast<int>(rate));
    return std::nullopt;
  }
  // A stray odd byte would shift every later sample of the kit by a byte.
  wav.data.resize(wav.data.size() / 2 * 2);
  return std::move(wav.data);
}

PcmFormat KitFormat(uint32_t rate) { return PcmFormat{kWaveFormatPcm, 1, rate, rate * 2, 2, 16}; }

void BeginKitReplace(CQuorvelDoc& doc, uint32_t rate, size_t totalBytes, const std::string& playMode) {
  doc.ClearAudio();  // stops playback first
  if (LogSink* log = doc.GetLog()) log->Clear();
  doc.audio.format = KitFormat(rate);
  doc.audio.data.reserve(totalBytes);
  InstrumentData& inst = doc.instrument;
  inst.hasInstrument = true;
  inst.params.playMode = playMode;
  inst.params.rootNote = 60;
  inst.params.sampleMode = "multi";
}

void SetKitIdentity(CQuorvelDoc& doc, const std::string& title) {
  doc.undoHistory.Clear();
  doc.SetPathName({});
  doc.SetTitle(title);
}

void LogKitFormat(LogSink* log, const CWavLoader& audio, bool alignAndByteRate) {
  const PcmFormat& f = audio.format;
  LogF(log, "Audio Format: %u (%s)", f.wFormatTag, f.wFormatTag == kWaveFormatPcm ? "PCM" : "Compressed");
  LogF(log, "Channels: %u (%s)", f.nChannels, f.nChannels == 1 ? "Mono" : "Stereo");
  LogF(log, "Sample Rate: %lu Hz", static_cast<unsigned long>(f.nSamplesPerSec));
  LogF(log, "Bits Per Sample: %u-bit", f.wBitsPerSample);
  if (alignAndByteRate) {
    LogF(log, "Block Align: %u bytes", f.nBlockAlign);
    LogF(log, "Average Bytes/Sec: %lu", static_cast<unsigned long>(f.nAvgBytesPerSec));
  }
  LogF(log, "Audio Data Size: %llu bytes", static_cast<unsigned long long>(audio.data.size()));
  if (f.nBlockAlign != 0 && f.nSamplesPerSec != 0)
    LogF(log, "Duration: %.3f seconds", static_cast<double>(audio.FrameCount()) / f.nSamplesPerSec);
}

void LogKitMapping(LogSink* log, const std::vector<Region>& regions) {
  if (regions.empty()) return;
  const int first = regions.front().rootNote;
  const int last = regions.back().rootNote;
  LogF(log, "MIDI Mapping: %s (%d) to %s (%d)", MidiNoteName(first).c_str(), first, MidiNoteName(last).c_str(), last);
}

void WarnKitRegionCount(const CQuorvelDoc& doc, bool folderWording) {
  const int count = static_cast<int>(doc.instrument.regions.size());
  const int limit = doc.MaxDeviceRegions();
  if (count <= limit) return;
  ShowMessage(folderWording
                  ? Format("WARNING:\nThis import has %d regions, which exceeds the EP limit of %d regions.\nWhen "
                           "saving, only the first %d regions will be kept.\n\nTo avoid issues, remove the extra "
                           "regions you don't need.",
                           count, limit, limit)
                  : Format("WARNING:\nThis kit has %d regions, which exceeds the EP limit of %d regions.\nWhen "
                           "saving, only the first %d regions will be kept.\n\nTo avoid issues, remove the extra "
                           "regions you don't need and make sure the total number of regions stays under the "
                           "limit.",
                           count, limit, limit),
              MessageIcon::None);
}

void EndKitReplace(CQuorvelDoc& doc) {
  doc.SetModifiedFlag(false);
  doc.UpdateAllViews(DocumentChange::kReplaced);
}

std::string FolderOf(const fs::path& path) { return path.parent_path().string(); }

std::optional<fs::path> AskKitFile(const std::string& lastDirValue, const std::string& filter) {
  OpenFileRequest request;
  request.defaultPath = CurrentSettings().GetString("Settings", lastDirValue, "");
  request.filter = filter;
  std::optional<fs::path> file = AskOpenFile(request);
  if (file) CurrentSettings().SetString("Settings", lastDirValue, FolderOf(*file));
  return file;
}

}  // namespace zandrel
