#include "kits/akai_kit.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <system_error>

#include "kits/akai_program.h"
#include "kits/kit_text.h"
#include "platform/atomic_file.h"
#include "platform/file_dialogs.h"
#include "platform/message_host.h"
#include "platform/settings.h"
#include "platform/text_format.h"

namespace zandrel {
namespace fs = std::filesystem;

namespace {

constexpr const char* kAkaiFilter = "Akai Kit Files (*.xpm)|*.xpm|All Files (*.*)|*.*||";
// Program files number keys from MIDI note -13.
constexpr int64_t kAkaiNoteOffset = 13;

struct AkaiKitSample {
  std::vector<uint8_t> pcm;
  int64_t sampleStart = 0;
  int64_t sampleEnd = 0;
  int64_t loopStart = -1;
  int64_t loopEnd = -1;
  int32_t lowNote = 0;
  int32_t highNote = 0;
  int32_t rootNote = 0;
};

std::optional<std::string> ReadWholeFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;  // a pipe would block
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(text).str();
}

// The text before the last "." (the whole text when it has none).
std::string WithoutExtension(std::string_view name) {
  const size_t dot = name.rfind('.');
  return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

int32_t ClampKey(int64_t key) { return static_cast<int32_t>(std::clamp<int64_t>(key, 0, 127)); }

// Where a program may keep a sample: beside it, in "Samples" beside it, in
// the folder above, or (for a name with folders) by its file name beside it.
std::optional<fs::path> FindAkaiSample(const fs::path& folder, const std::string& name) {
  std::vector<std::optional<fs::path>> candidates;
  const std::optional<fs::path> direct = ResolveKitPath(folder, name);
  candidates.push_back(direct);
  if (direct) {
    candidates.push_back(ResolveKitPath(folder, "Samples/" + name));
    if (folder.has_parent_path() && folder.parent_path() != folder)
      candidates.push_back(ResolveKitPath(folder.parent_path(), name));
  }
  candidates.push_back(ResolveKitPath(folder, FileNamePart(name)));
  return FirstExistingCandidate(candidates);
}

// One region of the document as the export writes it.
struct PlannedPad {
  size_t region = 0;
  int64_t start = 0;
  int64_t count = 0;
};

}  // namespace

bool ImportAkaiKit(CQuorvelDoc& doc, const fs::path& xpm, const SaveModifiedCallback& saveModified) {
  const std::optional<std::string> text = ReadWholeFile(xpm);
  if (!text) {
    ShowMessage("Could not open the selected file for reading.", MessageIcon::Error);
    return false;
  }
  CAKAIParse parser;
  AkaiProgram program;
  std::string error;
  if (!parser.LoadProgram(*text, program, error)) {
    ShowMessage("Parsing Failed:\n" + error, MessageIcon::Error);
    return false;
  }
  const std::vector<AkaiImportRegion> regions = CAKAIParse::ProgramToImportRegions(program);
  const bool drum = program.IsDrum();
  if (regions.empty()) {
    ShowMessage("No sample regions found in the Akai kit file.", MessageIcon::Warning);
    return false;
  }
  if (saveModified && !saveModified()) return false;

  LogSink* log = doc.GetLog();
  KitSampleLoader loader(log, "Failed to load file: %s",
                         "Sample Rate Mismatch:\nFile: %s\nExpected: %d Hz\nFound: %d Hz\n\nSkipping this file.");
  const fs::path folder = xpm.parent_path();
  std::vector<AkaiKitSample> samples;
  for (const AkaiImportRegion& r : regions) {
    std::string name = r.sampleName;
    if (!EndsWithIgnoringAsciiCase(name, ".wav")) name += ".wav";
    const std::optional<fs::path> path = FindAkaiSample(folder, name);
    if (!path) {
      loader.LogFailed(name);
      continue;
    }
    std::optional<std::vector<uint8_t>> pcm = loader.Load(*path);
    if (!pcm) continue;
    samples.push_back({std::move(*pcm), r.sampleStart, r.sampleEnd, r.loopStart, r.loopEnd, r.lowNote, r.highNote,
                       r.rootNote});
  }
  if (samples.empty()) {
    ShowMessage("No valid WAV files could be loaded from the Akai kit.", MessageIcon::Error);
    return false;
  }

  // ------------------------------------------------------------ commit --
  BeginKitReplace(doc, loader.Rate(), TotalPcmBytes(samples), drum ? "key" : "legato");
  std::stable_sort(samples.begin(), samples.end(),
                   [](const AkaiKitSample& a, const AkaiKitSample& b) { return a.rootNote < b.rootNote; });

  InstrumentData& inst = doc.instrument;
  inst.params.pitch = 0;
  inst.params.attack = 0;
  inst.params.release = drum ? 255 : 0;
  inst.params.timeMode = "off";

  int64_t frames = 0;
  for (const AkaiKitSample& s : samples) {
    const int64_t n = static_cast<int64_t>(s.pcm.size() / 2);
    Region region;
    if (s.sampleStart < 0 || s.sampleEnd <= s.sampleStart) {
      region.startSample = frames;
      region.endSample = frames + n;
    } else {
      region.startSample = frames + std::min(s.sampleStart, n);
      region.endSample = frames + std::min(s.sampleEnd, n);
    }
    if (s.loopStart >= 0 && s.loopEnd > s.loopStart) {
      region.loopStart = frames + std::min(s.loopStart, n);
      region.loopEnd = frames + std::min(s.loopEnd, n);
    }
    // Key fields come straight from the file: 64-bit arithmetic, then clamp.
    region.loKey = ClampKey(int64_t{s.lowNote} - kAkaiNoteOffset);
    region.hiKey = ClampKey(int64_t{s.highNote} - kAkaiNoteOffset);
    const int64_t root = int64_t{s.rootNote} - kAkaiNoteOffset;
    region.rootNote = root < 0 ? 60 : static_cast<int32_t>(std::min<int64_t>(root, 127));
    inst.regions.push_back(region);
    doc.audio.data.insert(doc.audio.data.end(), s.pcm.begin(), s.pcm.end());
    frames += n;
  }

  const std::string fileName = xpm.filename().string();
  const std::string title = WithoutExtension(fileName);
  SetKitIdentity(doc, title);

  LogF(log, "--- Akai Kit Import: %s ---", fileName.c_str());
  LogF(log, "Imported %s (%s mode)", title.c_str(), drum ? "Drum Kit" : "Instrument");
  LogKitFormat(log, doc.audio, true);
  LogF(log, "\nImport Successful: %d files combined into %d regions", static_cast<int>(samples.size()),
       static_cast<int>(inst.regions.size()));
  LogKitMapping(log, inst.regions);
  WarnKitRegionCount(doc, false);
  EndKitReplace(doc);
  return true;
}

bool ExportAkaiKeygroup(const CQuorvelDoc& doc, const fs::path& xpm) {
  LogSink* log = doc.GetLog();
  const CWavLoader& audio = doc.audio;
  const InstrumentParams& params = doc.instrument.params;
  const std::vector<Region>& regions = doc.instrument.regions;
  const fs::path folder = xpm.parent_path();

  AkaiProgram program;
  program.valid = true;
  program.programName = WithoutExtension(doc.GetTitle().empty() ? std::string("Untitled") : doc.GetTitle());
  program.type = "Keygroup";
  program.applicationVersion = "3.0.0";
  program.programVolume = 0.7f;
  program.keygroupNumKeygroups = static_cast<int32_t>(regions.size());

  const size_t frameSize = size_t{audio.format.nChannels} * (audio.format.wBitsPerSample / 8u);
  const int64_t frames = audio.FrameCount();

  // The regions that have frames inside the audio, with the names they get
  // when every file can be written.
  std::vector<PlannedPad> plan;
  std::set<std::string> plannedNames;
  int existing = 0;
  int plannedPad = 1;
  for (size_t i = 0; i < regions.size(); ++i) {
    const Region& r = regions[i];
    const int64_t start = std::max<int64_t>(r.startSample, 0);
    const int64_t count = std::min(r.endSample, frames) - start;
    if (count <= 0) continue;
    plan.push_back({i, start, count});
    if (static_cast<uint64_t>(start + count) * frameSize > audio.data.size()) continue;
    const std::string name = Format("Pad%02d_Note%03d.wav", plannedPad++, static_cast<int>(r.rootNote));
    if (plannedNames.insert(name).second) {
      std::error_code ec;
      if (fs::exists(fs::symlink_status(folder / name, ec))) ++existing;
    }
  }
  if (existing > 0 &&
      !AskYesNo(Format("%d of the sample files this export writes already exist in %s.\nReplace them?", existing,
                       folder.c_str()),
                MessageIcon::Warning))
    return false;

  int pad = 1;
  for (const PlannedPad& p : plan) {
    const Region& r = regions[p.region];
    const int regionNumber = static_cast<int>(p.region) + 1;
    const std::string name = Format("Pad%02d_Note%03d.wav", pad, static_cast<int>(r.rootNote));
    const fs::path path = folder / name;
    if (static_cast<uint64_t>(p.start + p.count) * frameSize > audio.data.size()) {
      LogF(log, "Region %d exceeds audio data bounds. Skipping.", regionNumber);
      continue;
    }
    // After a failed file the names shift; a shifted name the user was not
    // asked about is never replaced.
    std::error_code ec;
    if (!plannedNames.contains(name) && fs::exists(fs::symlink_status(path, ec))) {
      LogF(log, "Failed to save: %s", path.c_str());
      continue;
    }
    CWavLoader header;
    header.format = audio.format;
    header.extensibleFormat = audio.extensibleFormat;
    header.isExtensible = audio.isExtensible;
    WavWriteError error;
    const std::span<const uint8_t> bytes(audio.data.data() + static_cast<size_t>(p.start) * frameSize,
                                         static_cast<size_t>(p.count) * frameSize);
    if (!header.WriteTo(path, bytes, &error)) {
      ShowWavWriteError(error);
      LogF(log, "Failed to save: %s", path.c_str());
      continue;
    }

    AkaiInstrument in;
    in.number = pad;
    in.volume = static_cast<float>(static_cast<double>(static_cast<float>(params.amplitude) * 0.7f) / 100.0);
    in.pan = static_cast<float>(params.pan) / 127.0f * 0.5f + 0.5f;
    in.oneShot = false;
    in.mono = false;
    in.polyphony = 16;
    in.lowNote = static_cast<int32_t>(std::clamp<int64_t>(int64_t{r.loKey} + kAkaiNoteOffset, INT32_MIN, INT32_MAX));
    in.highNote = static_cast<int32_t>(std::clamp<int64_t>(int64_t{r.hiKey} + kAkaiNoteOffset, INT32_MIN, INT32_MAX));
    in.warpTempo = params.bpm;
    in.stretchPercentage = 100;
    in.volumeAttack = static_cast<float>(params.attack) / 255.0f;
    in.volumeDecay = 0.0f;
    in.volumeSustain = 1.0f;
    in.volumeRelease = static_cast<float>(params.release) / 255.0f;
    in.volumeHold = 0.0f;
    in.volumeDecayType = true;
    in.volumeADEnvelope = true;
    in.lfoType = "Sine";
    in.padNote = -1;

    AkaiLayer layer;
    layer.active = true;
    layer.sampleName = name.substr(0, name.size() - 4);
    layer.sampleFile = name;
    layer.tuneCoarse = params.pitch;
    layer.velStart = 0;
    layer.velEnd = 127;
    layer.sampleStart = 0;
    layer.sampleEnd = static_cast<int32_t>(std::min<int64_t>(p.count, INT32_MAX));
    if (r.loopStart >= 0 && r.loopEnd > r.loopStart) {
      const int64_t loopStart = std::max<int64_t>(r.loopStart - p.start, 0);
      const int64_t loopEnd = std::min<int64_t>(r.loopEnd - p.start, p.count);
      // A loop that lies outside its region has nothing left to loop.
      if (loopStart < loopEnd) {
        layer.loop = true;
        layer.loopStart = static_cast<int32_t>(std::min<int64_t>(loopStart, INT32_MAX));
        layer.loopEnd = static_cast<int32_t>(std::min<int64_t>(loopEnd, INT32_MAX));
      }
    }
    layer.rootNote =
        static_cast<int32_t>(std::clamp<int64_t>(int64_t{r.rootNote} + kAkaiNoteOffset, INT32_MIN, INT32_MAX));
    layer.keyTrack = true;
    in.layers.push_back(std::move(layer));
    program.instruments.push_back(std::move(in));

    ++pad;
    LogF(log, "Exported region %d: %s (Note %d)", regionNumber, name.c_str(), static_cast<int>(r.rootNote));
  }

  std::string xml;
  CAKAIParse().GenerateProgramXml(program, xml);
  std::string error;
  if (!WriteFileAtomically(xpm, xml, &error)) {
    ShowMessage("Could not create the output .xpm file.", MessageIcon::Error);
    return false;
  }
  const int written = static_cast<int>(program.instruments.size());
  ShowMessage(Format("Successfully exported Akai kit:\n\n%s\n\nExported %d regions as WAV files.", xpm.c_str(),
                     written),
              MessageIcon::Information);
  LogF(log, "--- Akai Kit Export Complete ---\nFile: %s\nRegions: %d", xpm.c_str(), written);
  return true;
}

void OnImportAkaiKit(CQuorvelDoc& doc, const SaveModifiedCallback& saveModified) {
  const std::optional<fs::path> file = AskKitFile("AkaiKitLastDir", kAkaiFilter);
  if (!file) return;
  ImportAkaiKit(doc, *file, saveModified);
}

void OnExportAkaiKeygroup(const CQuorvelDoc& doc) {
  if (!doc.instrument.hasInstrument || doc.instrument.regions.empty()) {
    ShowMessage("No instrument data or regions to export.", MessageIcon::Warning);
    return;
  }
  if (doc.audio.data.empty()) {
    ShowMessage("No audio data to export.", MessageIcon::Error);
    return;
  }
  SaveFileRequest request;
  request.defaultPath = CurrentSettings().GetString("Settings", "AkaiKitLastDir", "");
  request.defaultExtension = "xpm";
  request.filter = kAkaiFilter;
  request.promptOverwrite = true;
  const std::optional<fs::path> file = AskSaveFile(request);
  if (!file) return;
  CurrentSettings().SetString("Settings", "AkaiKitLastDir", FolderOf(*file));
  ExportAkaiKeygroup(doc, *file);
}

}  // namespace zandrel
