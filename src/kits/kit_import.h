// What every kit import shares: finding the sample files a kit names, loading
// them as mono 16-bit PCM, and replacing the document with the result.
//
// An import prepares everything first (reads the kit, resolves and loads the
// samples, checks them) and touches the document only once something can be
// built; a failure before that leaves document, history and log as they were.
// The replacement then runs in one go: playback stops, audio, instrument
// data, history and log are cleared, the new sample and regions go in, and the
// views are told that the document was replaced.
//
// User-interface thread only; the loaders may show their own message boxes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/quorvel_doc.h"

namespace zandrel {

// Asked before an import replaces a modified document (the save question):
// false means the user cancelled and nothing may change.
using SaveModifiedCallback = std::function<bool()>;

// Finds the file a kit names as |name| under |base|. The name may use "/" or
// "\"; "." and empty parts are skipped; each part matches a file of its
// folder exactly, else ignoring ASCII case (kits come from case-insensitive
// disks). A name that could leave |base| (a leading separator, a drive such as
// "C:", any ".." part) or that names nothing is refused: nullopt. A part that
// matches nothing is kept as written, so the result need not exist.
std::optional<std::filesystem::path> ResolveKitPath(const std::filesystem::path& base, std::string_view name);

// The first candidate that exists, else the last one that was not refused
// (loaded all the same, so that its failure is reported with its path); nullopt
// when every candidate was refused.
std::optional<std::filesystem::path> FirstExistingCandidate(
    const std::vector<std::optional<std::filesystem::path>>& candidates);

// Loads kit samples one by one. The first sample kept fixes the kit's rate; a
// later one at another rate is left out. A sample is kept only when it can be
// edited and comes out of MixToMono and ConvertTo16Bit as mono 16-bit PCM;
// its data is cut to whole frames.
class KitSampleLoader {
 public:
  // |failedFormat| logs a file that does not load (one %s: the path);
  // |mismatchFormat| a rate mismatch (%s path, %d kit rate, %d its rate).
  KitSampleLoader(LogSink* log, const char* failedFormat, const char* mismatchFormat)
      : log_(log), failedFormat_(failedFormat), mismatchFormat_(mismatchFormat) {}

  // The sample's 16-bit mono frames, or nullopt (logged) when it is left out.
  std::optional<std::vector<uint8_t>> Load(const std::filesystem::path& path);
  // Logs a sample that could not be found at all.
  void LogFailed(std::string_view path) const;
  uint32_t Rate() const { return rate_; }

 private:
  LogSink* log_;
  const char* failedFormat_;
  const char* mismatchFormat_;
  uint32_t rate_ = 0;
};

// Plain mono 16-bit PCM at |rate|: the format of every imported kit.
PcmFormat KitFormat(uint32_t rate);

// Stops playback, empties the document (audio, instrument data) and its log,
// gives it the kit's format with room for |totalBytes| of audio, and starts a
// multi-sample instrument with |playMode| and root note 60.
void BeginKitReplace(CQuorvelDoc& doc, uint32_t rate, size_t totalBytes, const std::string& playMode);

// The PCM bytes of a kit's loaded samples together (each has a |pcm| vector).
template <class Sample>
size_t TotalPcmBytes(const std::vector<Sample>& samples) {
  size_t total = 0;
  for (const Sample& s : samples) total += s.pcm.size();
  return total;
}
// Clears the history, the path name and sets the title.
void SetKitIdentity(CQuorvelDoc& doc, const std::string& title);
// "Audio Format", "Channels", "Sample Rate", "Bits Per Sample", (with
// |alignAndByteRate| "Block Align" and "Average Bytes/Sec"), "Audio Data
// Size" and "Duration" lines of the document's audio.
void LogKitFormat(LogSink* log, const CWavLoader& audio, bool alignAndByteRate);
// "MIDI Mapping: C2 (36) to D2 (38)": the first and last region's roots.
void LogKitMapping(LogSink* log, const std::vector<Region>& regions);
// The warning box when there are more regions than the device keeps.
void WarnKitRegionCount(const CQuorvelDoc& doc, bool folderWording);
// Clears the modified flag and tells the views the document was replaced.
void EndKitReplace(CQuorvelDoc& doc);

// The folder part of a chosen path, as stored in the "...LastDir" settings.
std::string FolderOf(const std::filesystem::path& path);
// Asks for a kit file to open, starting in the folder kept in the settings
// value "Settings"/|lastDirValue|, and keeps the chosen file's folder there.
std::optional<std::filesystem::path> AskKitFile(const std::string& lastDirValue, const std::string& filter);

}  // namespace zandrel
