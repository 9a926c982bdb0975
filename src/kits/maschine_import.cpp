#include "kits/maschine_import.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <limits>
#include <system_error>

#include "kits/kit_text.h"
#include "platform/file_dialogs.h"
#include "platform/settings.h"
#include "platform/text_format.h"

namespace zandrel {
namespace fs = std::filesystem;

namespace {

constexpr const char* kMaschineFilter =
    "Maschine Files (*.mxgrp;*.mxsnd)|*.mxgrp;*.mxsnd|Maschine Group File (*.mxgrp)|*.mxgrp|Maschine Sample Sound "
    "(*.mxsnd)|*.mxsnd||";

// One sample of the factory library is known under the wrong name in its
// groups: the side stick is stored as the snare's 24 layer.
constexpr const char* kMisnamedSideStick = "Samples/Drums/Snare/Snare AR50sAutumn V24.wav";
constexpr const char* kSideStick = "Samples/Drums/Snare/SideStick AR50sAutumn V24.wav";

struct MaschineSample {
  std::vector<uint8_t> pcm;
  fs::path path;
  int note = -1;
};

// The digits right after the first " V" (when it is not at the very start).
std::string VelocityDigits(const std::string& entry) {
  const size_t at = entry.find(" V");
  if (at == std::string::npos || at <= 1) return {};
  size_t end = at + 2;
  while (end < entry.size() && entry[end] >= '0' && entry[end] <= '9') ++end;
  return entry.substr(at + 2, end - at - 2);
}

// The sort key of a layer: its velocity number, 127 without one. An empty
// slot sorts after every layer, so a number above 127 cannot push the only
// layer of a sample out of list 0.
int64_t VelocitySortKey(const std::string& entry) {
  if (entry.empty()) return std::numeric_limits<int64_t>::max();
  const std::string digits = VelocityDigits(entry);
  int64_t v = 127;
  if (digits.empty() || !ParseSaturatedInt(digits, v)) return 127;
  return v;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::optional<std::vector<uint8_t>> ReadBytes(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;  // a pipe would block
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

bool IsDirectory(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// The k-th white key from C2, clamped to a MIDI note.
int32_t WhiteKeyFromC2(int64_t k) {
  static constexpr int kSteps[7] = {0, 2, 4, 5, 7, 9, 11};
  const int64_t note = 36 + 12 * (k / 7) + kSteps[k % 7];
  return static_cast<int32_t>(std::clamp<int64_t>(note, 0, 127));
}

}  // namespace

void ReadMaschineSamplePaths(MaschineSampleLists& lists, std::span<const uint8_t> bytes) {
  std::string run;
  for (const uint8_t byte : bytes) {
    if (byte >= 0x20 && byte <= 0x7E) {
      run += static_cast<char>(byte);
      continue;
    }
    const size_t wav = run.find(".wav", 1);
    if (run.size() > 10 && wav != std::string::npos) {
      const size_t samples = run.find("Samples");
      std::optional<std::string> path;
      if (samples != std::string::npos) path = run.substr(samples);
      else if (run.find(':') == std::string::npos) path = run;
      if (path) {
        lists.lists[0].push_back(*path);
        for (int k = 1; k < 4; ++k) lists.lists[static_cast<size_t>(k)].emplace_back();
      }
    }
    run.clear();
  }
}

void GroupVelocityLayers(MaschineSampleLists& lists) {
  auto& l = lists.lists;
  const size_t n = l[0].size();
  for (auto& list : l) list.resize(n);
  bool joined = false;
  bool havePrevious = false;
  std::string previousKey;
  size_t group = 0;
  for (size_t i = 0; i < n; ++i) {
    const std::string entry = l[0][i];
    const std::string digits = VelocityDigits(entry);
    if (digits.empty()) continue;
    const std::string key = ReplaceAll(entry, "V" + digits, "VEL");
    const std::string stored = entry == kMisnamedSideStick ? std::string(kSideStick) : entry;
    if (!havePrevious || key != previousKey) {
      havePrevious = true;
      previousKey = key;
      group = i;
      l[0][i] = stored;
      for (size_t k = 1; k < 4; ++k) l[k][i].clear();
      continue;
    }
    for (auto& list : l) list[i].clear();
    int64_t v = 0;
    ParseSaturatedInt(digits, v);
    const size_t target = v <= 32 ? 0 : v <= 64 ? 1 : v <= 96 ? 2 : 3;
    l[target][group] = stored;
    joined = true;
  }
  if (!joined) return;

  MaschineSampleLists kept;
  for (size_t i = 0; i < n; ++i) {
    if (l[0][i].empty()) continue;
    std::array<std::string, 4> layers = {l[0][i], l[1][i], l[2][i], l[3][i]};
    std::stable_sort(layers.begin(), layers.end(), [](const std::string& a, const std::string& b) {
      return VelocitySortKey(a) < VelocitySortKey(b);
    });
    for (size_t k = 0; k < 4; ++k) kept.lists[k].push_back(std::move(layers[k]));
  }
  lists = std::move(kept);
}

fs::path FindMaschineLibraryRoot(const fs::path& folder) {
  fs::path current = folder;
  for (int level = 0; level < 4; ++level) {
    const std::optional<fs::path> samples = ResolveKitPath(current, "Samples");
    if (samples && IsDirectory(*samples)) return current;
    const fs::path parent = current.parent_path();
    if (parent.empty() || parent == current) break;
    current = parent;
  }
  return folder;
}

bool ImportMaschineFile(CQuorvelDoc& doc, const fs::path& file) {
  const std::optional<std::vector<uint8_t>> bytes = ReadBytes(file);
  if (!bytes || bytes->empty()) return false;
  const bool sound = FoldAsciiCase(file.extension().string()) == ".mxsnd";
  MaschineSampleLists lists;
  ReadMaschineSamplePaths(lists, *bytes);
  GroupVelocityLayers(lists);
  if (lists.lists[0].empty()) return false;

  const fs::path folder = file.parent_path();
  const fs::path root = FindMaschineLibraryRoot(folder);
  LogSink* log = doc.GetLog();
  KitSampleLoader loader(log, "Failed to load file:\n%s",
                         "Sample Rate Mismatch:\nFile: %s\nExpected: %d Hz\nFound: %d Hz");
  std::vector<MaschineSample> samples;
  for (const std::string& entry : lists.lists[0]) {
    const std::optional<fs::path> path = FirstExistingCandidate(
        {ResolveKitPath(root, entry), ResolveKitPath(folder, entry), ResolveKitPath(folder, FileNamePart(entry))});
    if (!path) {
      loader.LogFailed(entry);
      continue;
    }
    std::optional<std::vector<uint8_t>> pcm = loader.Load(*path);
    if (!pcm) continue;
    samples.push_back({std::move(*pcm), *path, sound ? ParseNoteFromFileName(path->filename().string()) : -1});
  }
  if (samples.empty()) return false;
  if (sound)
    std::stable_sort(samples.begin(), samples.end(),
                     [](const MaschineSample& a, const MaschineSample& b) { return a.note < b.note; });

  // ------------------------------------------------------------ commit --
  BeginKitReplace(doc, loader.Rate(), TotalPcmBytes(samples), "key");
  InstrumentData& inst = doc.instrument;

  const size_t count = samples.size();
  int64_t frames = 0;
  for (size_t i = 0; i < count; ++i) {
    const MaschineSample& s = samples[i];
    const int64_t n = static_cast<int64_t>(s.pcm.size() / 2);
    Region region;
    region.startSample = frames;
    region.endSample = frames + n;
    const int32_t chromatic = static_cast<int32_t>(std::min<int64_t>(60 + static_cast<int64_t>(i), 127));
    region.loKey = region.hiKey = region.rootNote = chromatic;
    if (sound && s.note > 0) {
      const int n0 = s.note;
      region.rootNote = n0;
      if (i == 0) {
        region.loKey = 0;
      } else {
        const int r = inst.regions.back().rootNote;
        // After a sample without a note (or one on the same note) the middle
        // would lie above this root: the zone must still reach its root.
        region.loKey = std::min(r + (n0 - r) / 2 + 1, n0);
      }
      if (i + 1 == count) {
        region.hiKey = 127;
      } else {
        const int m = samples[i + 1].note == 0 ? 127 : samples[i + 1].note;
        region.hiKey = n0 + (m - n0) / 2;
      }
    }
    inst.regions.push_back(region);
    doc.audio.data.insert(doc.audio.data.end(), s.pcm.begin(), s.pcm.end());
    frames += n;
  }
  if (!sound) {
    // A drum kit on the white keys from C2; neighbours share one key.
    for (size_t k = 0; k < count; ++k) {
      Region& r = inst.regions[k];
      r.rootNote = WhiteKeyFromC2(static_cast<int64_t>(k));
      r.loKey = k == 0 ? 0 : std::min(r.rootNote, inst.regions[k - 1].rootNote + 1);
      r.hiKey = k + 1 == count ? 127 : std::min(r.rootNote + 1, 127);
    }
  }
  inst.params.pitch = 0;
  inst.params.attack = 0;
  inst.params.release = sound ? 0 : 255;
  inst.params.timeMode = "off";

  const std::string fileName = file.filename().string();
  const std::string title = file.stem().string();
  SetKitIdentity(doc, title);
  LogF(log, "--- Maschine Group Import: %s ---", fileName.c_str());
  LogF(log, "Imported %s (%s mode)", title.c_str(), sound ? "Instrument" : "Drum Kit");
  LogKitFormat(log, doc.audio, true);
  LogF(log, "\nImport Successful: %d files combined into %d regions", static_cast<int>(count),
       static_cast<int>(inst.regions.size()));
  LogKitMapping(log, inst.regions);
  WarnKitRegionCount(doc, false);
  EndKitReplace(doc);
  return true;
}

void OnImportMaschineGroup(CQuorvelDoc& doc, const SaveModifiedCallback& saveModified) {
  if (saveModified && !saveModified()) return;
  const std::optional<fs::path> file = AskKitFile("MaschineLastDir", kMaschineFilter);
  if (!file) return;
  ImportMaschineFile(doc, *file);
}

}  // namespace zandrel
