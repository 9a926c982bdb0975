#include "kits/folder_import.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include "kits/kit_text.h"
#include "platform/atomic_file.h"
#include "platform/file_dialogs.h"
#include "platform/message_host.h"
#include "platform/settings.h"
#include "platform/temp_folder.h"
#include "platform/text_format.h"

namespace zandrel {
namespace fs = std::filesystem;

namespace {

constexpr const char* kStkFilter = "SmplTrek Kit Files (*.stk)|*.stk|All Files (*.*)|*.*||";

struct FolderSample {
  fs::path path;
  std::string name;
  int note = -1;
  std::vector<uint8_t> pcm;
};

bool IsWavName(std::string_view name) { return EndsWithIgnoringAsciiCase(name, ".wav"); }

uint32_t ReadLE32(std::span<const uint8_t> bytes, size_t at) {
  return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
         uint32_t{bytes[at + 3]} << 24;
}

bool FourCCAt(std::span<const uint8_t> bytes, size_t at, const char* id) {
  return at + 4 <= bytes.size() && std::equal(id, id + 4, bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// Removes a folder and everything in it when the scope ends, however it ends.
class FolderRemover {
 public:
  explicit FolderRemover(fs::path folder) : folder_(std::move(folder)) {}
  ~FolderRemover() {
    std::error_code ec;
    if (!folder_.empty()) fs::remove_all(folder_, ec);
  }
  FolderRemover(const FolderRemover&) = delete;
  FolderRemover& operator=(const FolderRemover&) = delete;

 private:
  fs::path folder_;
};

// The name a folder is known by, also when the path ends with a separator.
std::string FolderName(const fs::path& folder) {
  fs::path p = folder;
  if (!p.has_filename() && p.has_parent_path()) p = p.parent_path();
  return p.filename().string();
}

}  // namespace

bool ImportWavFolder(CQuorvelDoc& doc, const fs::path& folder, bool detectNotes, const std::string& title) {
  std::vector<FolderSample> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    // Only regular files: a named pipe called *.wav would never finish reading.
    if (!IsWavName(name) || !it->is_regular_file(typeError)) continue;
    files.push_back({it->path(), name, -1, {}});
  }
  if (files.empty()) {
    ShowMessage("No WAV files found in the selected folder.");
    return false;
  }
  std::stable_sort(files.begin(), files.end(),
                   [](const FolderSample& a, const FolderSample& b) { return FileNameLess(a.name, b.name); });
  if (detectNotes) {
    bool anyNote = false;
    for (FolderSample& f : files) {
      f.note = ParseNoteFromFileName(f.name);
      anyNote |= f.note >= 0;
    }
    if (anyNote) {
      // Noted files first by note (equal notes in name order), then the
      // others in name order.
      std::stable_sort(files.begin(), files.end(), [](const FolderSample& a, const FolderSample& b) {
        if ((a.note >= 0) != (b.note >= 0)) return a.note >= 0;
        return a.note >= 0 && a.note < b.note;
      });
    }
  }

  LogSink* log = doc.GetLog();
  KitSampleLoader loader(log, "Failed to load file: %s",
                         "Sample Rate Mismatch:\nFile: %s\nExpected: %d Hz\nFound: %d Hz\n\nSkipping this file.");
  std::vector<FolderSample> loaded;
  for (FolderSample& f : files) {
    std::optional<std::vector<uint8_t>> pcm = loader.Load(f.path);
    if (!pcm) continue;
    f.pcm = std::move(*pcm);
    loaded.push_back(std::move(f));
  }
  if (loaded.empty()) {
    ShowMessage("No valid WAV files could be loaded from the folder.");
    return false;
  }

  // ------------------------------------------------------------ commit --
  BeginKitReplace(doc, loader.Rate(), TotalPcmBytes(loaded), "key");
  InstrumentData& inst = doc.instrument;
  inst.params.pitch = 0;
  inst.params.attack = 0;
  inst.params.release = 0;
  inst.params.timeMode = "off";

  bool anyNote = false;
  int64_t frames = 0;
  const size_t count = loaded.size();
  for (size_t i = 0; i < count; ++i) {
    const FolderSample& f = loaded[i];
    const int64_t n = static_cast<int64_t>(f.pcm.size() / 2);
    Region region;
    region.startSample = frames;
    region.endSample = frames + n;
    if (f.note < 0) {
      region.loKey = region.hiKey = region.rootNote =
          static_cast<int32_t>(std::min<int64_t>(36 + static_cast<int64_t>(i), 127));
    } else {
      anyNote = true;
      region.rootNote = f.note;
      const int p = i == 0 ? -1 : loaded[i - 1].note;
      region.loKey = p < 0 ? 0 : p + (f.note - p) / 2;
      const int m = i + 1 == count ? -1 : loaded[i + 1].note;
      region.hiKey = m < 0 ? 127 : f.note + (m - f.note) / 2;
    }
    inst.regions.push_back(region);
    doc.audio.data.insert(doc.audio.data.end(), f.pcm.begin(), f.pcm.end());
    frames += n;
  }
  SetKitIdentity(doc, title);

  LogF(log, "--- Folder Import: %s ---", title.c_str());
  LogF(log, "Imported %d WAV files (%s mode)", static_cast<int>(count), anyNote ? "Instrument" : "Drum Kit");
  LogKitFormat(log, doc.audio, false);
  LogKitMapping(log, inst.regions);
  WarnKitRegionCount(doc, true);
  EndKitReplace(doc);
  return true;
}

std::vector<std::string> ReadSmplTrekSampleNames(std::span<const uint8_t> bytes) {
  std::vector<std::string> names;
  std::string run;
  for (size_t i = 0; i < bytes.size() && !FourCCAt(bytes, i, "RIFF"); ++i) {
    const uint8_t byte = bytes[i];
    if (byte >= 0x20 && byte <= 0x7E) {
      run += static_cast<char>(byte);
      continue;
    }
    if (run.size() >= 4 && IsWavName(run)) names.emplace_back(FileNamePart(run));
    run.clear();
  }
  return names;
}

std::vector<fs::path> ExtractSmplTrekBlocks(std::span<const uint8_t> bytes, const fs::path& target) {
  std::vector<fs::path> written;
  const std::vector<std::string> names = ReadSmplTrekSampleNames(bytes);
  std::error_code ec;
  fs::create_directories(target, ec);
  size_t nextName = 0;
  const size_t size = bytes.size();
  for (size_t p = 0; p + 12 < size;) {
    if (!FourCCAt(bytes, p, "RIFF") || !FourCCAt(bytes, p + 8, "WAVE")) {
      ++p;
      continue;
    }
    // 64-bit: a size field near 4 GiB must not wrap to a tiny block.
    const uint64_t length = uint64_t{ReadLE32(bytes, p + 4)} + 8;
    if (length < 12 || length > size - p) {
      ++p;
      continue;
    }
    std::string name = nextName < names.size() ? names[nextName++]
                                               : Format("Unknown_%02d.wav", static_cast<int>(written.size() + 1));
    if (name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos)
      name = Format("Unknown_%02d.wav", static_cast<int>(written.size() + 1));
    const fs::path path = target / name;
    std::string error;
    if (WriteFileAtomically(
            path, std::string_view(reinterpret_cast<const char*>(bytes.data() + p), static_cast<size_t>(length)),
            &error))
      written.push_back(path);
    p += static_cast<size_t>(length);
  }
  return written;
}

std::vector<fs::path> ExtractSmplTrekKit(const fs::path& kit, const fs::path& target) {
  std::error_code ec;
  if (!fs::is_regular_file(kit, ec)) return {};
  std::ifstream in(kit, std::ios::binary);
  if (!in) return {};
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad() || bytes.empty()) return {};
  return ExtractSmplTrekBlocks(bytes, target);
}

bool ImportSmplTrekKit(CQuorvelDoc& doc, const fs::path& kit) {
  const fs::path& temp = ProcessTempFolder();
  const fs::path folder = temp.empty() ? fs::path() : MakeUniqueFolder(temp, "stk-");
  if (folder.empty()) {
    ShowMessage("Could not create a temporary folder for the kit's files.", MessageIcon::Error);
    return false;
  }
  FolderRemover remover(folder);
  if (ExtractSmplTrekKit(kit, folder).empty()) {
    ShowMessage("Something wrong, or a wrong STK file.");
    return false;
  }
  return ImportWavFolder(doc, folder, false, kit.stem().string());
}

void OnImportWavsFromFolder(CQuorvelDoc& doc, const SaveModifiedCallback& saveModified) {
  if (saveModified && !saveModified()) return;
  const std::optional<fs::path> folder =
      AskFolder(CurrentSettings().GetString("Settings", "FolderImportLastDir", ""));
  if (!folder) return;
  CurrentSettings().SetString("Settings", "FolderImportLastDir", folder->string());
  ImportWavFolder(doc, *folder, true, FolderName(*folder));
}

void OnImportSmplTrekKit(CQuorvelDoc& doc, const SaveModifiedCallback& saveModified) {
  if (saveModified && !saveModified()) return;
  const std::optional<fs::path> file = AskKitFile("StkImportLastDir", kStkFilter);
  if (!file) return;
  ImportSmplTrekKit(doc, *file);
}

}  // namespace zandrel
