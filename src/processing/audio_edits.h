// Edits that change the length of the audio or the region list as a whole:
// insert silence, keep only a range, find and cut out silent stretches, drop
// every region, and the export of a selection as a file of its own.
//
// Each works on the audio, instrument and view selection it is given and
// changes nothing when it refuses. The commands around them ask the user,
// record the undo entry, stop playback and refresh the view. Whenever the
// audio gets shorter the cursor is brought back into 0..frames, so that no
// later edit inserts or reads past the end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "document/instrument.h"
#include "document/quorvel_doc.h"
#include "document/wav_loader.h"
#include "platform/log_sink.h"
#include "processing/audio_clipboard.h"
#include "processing/sample_access.h"

namespace zandrel {

// ------------------------------------------------------------ Add Silence --

// Add Silence's length from its two knobs: the whole seconds the "coarse"
// knob shows (its "%.0f s" value) plus |fine|, in single precision. The
// user gets exactly the length the knob showed.
float SilenceSeconds(float coarse, float fine);
// The frames inserted for |seconds| at |rate| (truncated toward zero).
int64_t SilenceFrames(uint32_t rate, float seconds);
// The log line "Inserted %.2f seconds (%lld samples) of silence".
std::string SilenceLogLine(float seconds, int64_t frames);

// Inserts |frames| frames of silence at the view's cursor, first clamped into
// 0..frame count. Regions from the cursor on move, a region holding the
// cursor grows; the selection moves with the audio and the cursor ends after
// the silence. Returns the cursor the silence went in at.
int64_t InsertSilence(CWavLoader& audio, InstrumentData& instrument, ViewSelection& view, int64_t frames);

// --------------------------------------------------------- Delete Outside --

// The checks of Delete Outside for the selection [a, b) (a, b = -1 unset),
// before its question; nothing when the edit may go on.
std::optional<EditRefusal> CheckKeepRange(const CWavLoader& audio, int64_t a, int64_t b);
// The question asked before it.
std::string KeepRangeQuestion(int64_t a, int64_t b);
// Keeps only frames [a, b) (checked): regions outside are removed, the rest
// are trimmed and moved to the new start, a default region over the kept
// audio replaces them when none is left; then the orphan and key-range
// repairs. Log lines go to |log|. The view gets the selection 0..b-a, the
// cursor and no selected region.
void KeepRange(CWavLoader& audio, InstrumentData& instrument, ViewSelection& view, int64_t a, int64_t b,
               LogSink* log);

// ---------------------------------------------------- Remove All Silences --

struct FrameSpan {
  int64_t start = 0;
  int64_t end = 0;  // exclusive
  bool operator==(const FrameSpan&) const = default;
};

// The threshold below which a frame's peak counts as silent:
// (2^(bits-1) - 1) x 0.005 (163.835 at 16 bits); 0 for widths the editor
// does not read.
double SilenceThreshold(int bits);
// The shortest stretch that counts, in frames: 50 ms, truncated.
int64_t MinimumSilentFrames(uint32_t rate);
// Silent stretches of at least MinimumSilentFrames inside [r0, r1), in
// ascending order. A frame is silent when the largest absolute sample over
// its channels (8-bit samples around 128) lies strictly below the threshold;
// there is no smoothing or hysteresis. Audio of a width the editor does not
// read has no silent spans.
std::vector<FrameSpan> FindSilentSpans(const PcmSpan& pcm, int64_t r0, int64_t r1);
// Where position |p| lands once |span| is cut out.
int64_t MapPositionAfterRemoval(int64_t p, const FrameSpan& span);
// Cuts the spans (ascending, inside the audio, not overlapping) out of the
// audio, last first, moving, shortening or emptying the regions (a region
// wholly inside a span stays, empty) and mapping the selection. The cursor
// is clamped into the shorter audio.
void RemoveSpans(CWavLoader& audio, InstrumentData& instrument, ViewSelection& view,
                 const std::vector<FrameSpan>& spans);

// ----------------------------------------------------- Remove All Regions --

// Empties the region list (the instrument's settings and flag stay) and
// clears the view's selection and selected region.
void ClearRegions(InstrumentData& instrument, ViewSelection& view);

// ------------------------------------------------------- Export Selection --

struct ExportSelectionResult {
  std::optional<EditRefusal> refusal;
  std::vector<uint8_t> file;  // the WAV file's bytes
  int64_t frames = 0;
};
// The checks of Export Selection, in the command's order.
std::optional<EditRefusal> CheckExportSelection(const CWavLoader& audio, int64_t loopIn, int64_t loopOut);
// The frames [loopIn, loopOut) as a WAV file with the document's kept chunks
// prepared as a save prepares them, and the instrument data of the regions
// inside the selection rebased to it. Works on copies: |audio| and
// |instrument| are not changed. Log lines of the repairs go to |log|.
ExportSelectionResult ExportSelection(const CWavLoader& audio, const InstrumentData& instrument, int64_t loopIn,
                                      int64_t loopOut, LogSink* log);
// The file name proposed for the export: the path name up to its last ".",
// "_", the title up to its last ".", "_selection.wav".
std::string ExportSelectionDefaultName(const std::string& pathName, const std::string& title);
// The log line of a written export.
std::string ExportSelectionLogLine(const std::filesystem::path& file, int64_t frames, uint32_t rate);

}  // namespace zandrel
