#include "processing/audio_edit_commands.h"

#include <algorithm>
#include <string>
#include <vector>

#include "commands/editor_commands.h"
#include "document/edit_transaction.h"
#include "document/region_edits.h"
#include "document/undo_history.h"
#include "platform/atomic_file.h"
#include "platform/clipboard.h"
#include "platform/parameter_dialogs.h"
#include "platform/text_format.h"
#include "processing/audio_clipboard.h"
#include "processing/audio_edits.h"
#include "processing/processing_range.h"
#include "processing/sample_access.h"

namespace zandrel {
namespace {

void Show(const EditRefusal& refusal) { ShowMessage(refusal.message, refusal.icon); }

void LogLines(LogSink* log, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) Log(log, line);
}

// Stops whatever reads the audio before it changes.
void StopReading(CommandContext& c, CQuorvelDoc& doc) {
  c.StopPlayback();
  doc.NotifyAudioAboutToChange();
}

// Runs |fit| (a rate conversion may take a while) off the user-interface
// thread; the result stays unset when the user cancelled.
template <typename Fit>
bool RunConversion(CommandContext& c, const std::string& title, Fit fit) {
  LongWork work;
  work.title = title;
  work.compute = [&fit](const std::function<bool(double)>& progress) {
    fit();
    return progress(1.0);
  };
  return c.RunLongWork(work);
}

// ---------------------------------------------------------------- Copy --

// Puts the selection on the clipboard; false (after its message) when
// nothing was put there.
bool CopySelection(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return false;
  const ViewSelection& view = c.Selection();
  CopyResult copy = CopyAudioSelection(doc->audio, doc->instrument, view.loopIn, view.loopOut);
  if (!copy.block) {
    Show(copy.refusal);
    return false;
  }
  ClipboardHost* clipboard = CurrentClipboardHost();
  if (!clipboard) {
    ShowMessage("Failed to open clipboard.", MessageIcon::Error);
    return false;
  }
  if (!clipboard->SetData(kAudioClipboardType, EncodeAudioClipboardBlock(*copy.block))) {
    ShowMessage("Failed to set clipboard data.", MessageIcon::Error);
    return false;
  }
  Log(c.Log(), copy.logLine);
  return true;
}

// --------------------------------------------------------------- Paste --

// The clipboard's block, fitted to the document (Paste rescales its
// positions). Nothing (after its message) when there is none to paste.
std::optional<AudioClipboardBlock> ReadBlock(CommandContext& c, CQuorvelDoc& doc, bool scalePositions) {
  if (c.Selection().cursorFrame < 0) {
    ShowMessage("No valid cursor position. Please click on the waveform to set the paste location.",
                MessageIcon::Information);
    return std::nullopt;
  }
  ClipboardHost* clipboard = CurrentClipboardHost();
  if (!clipboard || !clipboard->HasData(kAudioClipboardType)) {
    ShowMessage("No Quorvel audio data in clipboard.", MessageIcon::Information);
    return std::nullopt;
  }
  const std::optional<std::vector<uint8_t>> bytes = clipboard->GetData(kAudioClipboardType);
  if (!bytes) {
    ShowMessage("Failed to retrieve clipboard data.", MessageIcon::Error);
    return std::nullopt;
  }
  std::optional<AudioClipboardBlock> block = DecodeAudioClipboardBlock(*bytes);
  if (!block) {
    ShowMessage(kClipboardDecodeFailed, MessageIcon::Error);
    return std::nullopt;
  }

  std::vector<std::string> lines;
  std::optional<EditRefusal> refusal;
  const PcmFormat format = doc.audio.format;
  auto fit = [&] { refusal = FitBlockToDocument(*block, format, scalePositions, lines); };
  if (block->sampleRate == format.nSamplesPerSec || block->channels != format.nChannels ||
      block->bitsPerSample != format.wBitsPerSample || format.wBitsPerSample != 16) {
    fit();  // nothing to convert
  } else if (!RunConversion(c, "Resampling clipboard audio", fit)) {
    return std::nullopt;
  }
  LogLines(c.Log(), lines);
  if (refusal) {
    Show(*refusal);
    return std::nullopt;
  }
  return block;
}

void Paste(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  std::optional<AudioClipboardBlock> block = ReadBlock(c, *doc, true);
  if (!block) return;
  ViewSelection& view = c.Selection();
  // Checked before the undo entry: a refused paste leaves the history alone.
  if (auto refusal = CheckPasteCursor(view.cursorFrame, doc->FrameCount())) return Show(*refusal);
  StopReading(c, *doc);
  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoWithAudio, "Paste Audio Data");
  if (!edit) return;
  const PasteResult result = PasteInsert(doc->audio, doc->instrument, view.cursorFrame, *block, c.Log());
  if (result.refusal) return Show(*result.refusal);
  view.loopIn = result.selStart;
  view.loopOut = result.selEnd;
  Log(c.Log(), result.logLine);
  edit->Commit(DocumentChange::kAudio, SelectionMoved::kYes);
}

void PasteInPlaceCommand(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  std::optional<AudioClipboardBlock> block = ReadBlock(c, *doc, false);
  if (!block) return;
  ViewSelection& view = c.Selection();
  if (auto refusal = CheckPasteInPlaceCursor(view.cursorFrame, doc->FrameCount())) return Show(*refusal);
  StopReading(c, *doc);
  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoWithAudio, "Paste In Place");
  if (!edit) return;
  const PasteResult result = PasteInPlace(doc->audio, view.cursorFrame, *block);
  if (result.refusal) return Show(*result.refusal);
  view.loopIn = result.selStart;
  view.loopOut = result.selEnd;
  Log(c.Log(), result.logLine);
  edit->Commit(DocumentChange::kAudio, SelectionMoved::kYes);
}

// ---------------------------------------------------------- Add Silence --

void AddSilence(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc || !doc->HasAudio()) return ShowMessage(kNoAudioText);
  ViewSelection& view = c.Selection();
  if (view.cursorFrame < 0) return ShowMessage("Please set cursor position first.");
  c.StopPlayback();

  ParameterDialogRequest request;
  request.title = "Add Silence at Cursor";
  request.configName = "addsilence";
  request.Knob("coarse", "*Coarse", "%.0f s", 0.0f, 20.0f, 1.0f, 0xFF9632)
      .Knob("fine", "*Fine", "%+.2f s", 0.0f, 1.0f, 0.0f, 0xFFC864)
      .Section("Inserts silence at the current cursor position.");
  const std::optional<ParameterValues> values = AskParameters(request);
  if (!values) return;
  auto value = [&](const char* key) {
    const auto it = values->find(key);
    return it == values->end() ? 0.0f : it->second;
  };
  const float seconds = SilenceSeconds(value("coarse"), value("fine"));
  const int64_t frames = SilenceFrames(doc->audio.format.nSamplesPerSec, seconds);

  doc->NotifyAudioAboutToChange();
  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoWithAudio, "Add Silence");
  if (!edit) return;
  InsertSilence(doc->audio, doc->instrument, view, frames);
  Log(c.Log(), SilenceLogLine(seconds, frames));
  edit->Commit(DocumentChange::kAudio, SelectionMoved::kYes);
}

// ------------------------------------------------------- Delete Outside --

void DeleteOutside(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  ViewSelection& view = c.Selection();
  const int64_t a = view.loopIn, b = view.loopOut;
  if (auto refusal = CheckKeepRange(doc->audio, a, b)) return Show(*refusal);
  if (!AskYesNo(KeepRangeQuestion(a, b), MessageIcon::Question)) return;
  StopReading(c, *doc);
  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoWithAudio, "Delete Outside Loop");
  if (!edit) return;
  KeepRange(doc->audio, doc->instrument, view, a, b, c.Log());
  view.beatMarkers.clear();
  edit->Commit(DocumentChange::kAudio, SelectionMoved::kYes);
}

// -------------------------------------------------- Remove All Silences --

void RemoveAllSilences(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  if (!doc->HasAudio()) return ShowMessage(kNoAudioText);
  ViewSelection& view = c.Selection();
  const std::optional<FrameRange> range =
      ComputeProcessingRange(SelectionState{view.loopIn, view.loopOut, view.loopPlayback},
                             !doc->instrument.regions.empty(), doc->FrameCount());
  if (!range) return ShowMessage("No valid loop region set. Use Playback > Set Loop In/Out first.");
  c.StopPlayback();

  const PcmSpan pcm = PcmSpan::Of(doc->audio);
  const std::vector<FrameSpan> spans = FindSilentSpans(pcm, range->start, range->end);
  if (spans.empty()) return ShowMessage("No significant silence detected in the selection.");
  int64_t total = 0;
  for (const FrameSpan& s : spans) total += s.end - s.start;
  const uint32_t rate = doc->audio.format.nSamplesPerSec;
  const std::string question = Format("Found %d silent region(s) totaling %.2f seconds. Remove them?",
                                      static_cast<int>(spans.size()), rate ? static_cast<double>(total) / rate : 0.0);
  Log(c.Log(), question);
  if (!AskYesNo(question, MessageIcon::Question)) return;

  doc->NotifyAudioAboutToChange();
  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoWithAudio, "Remove Silence");
  if (!edit) return;
  RemoveSpans(doc->audio, doc->instrument, view, spans);
  LogF(c.Log(), "Removed %d silent region(s).", static_cast<int>(spans.size()));
  edit->Commit(DocumentChange::kAudio, SelectionMoved::kYes);
}

// --------------------------------------------------- Remove All Regions --

void RemoveAllRegions(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  const size_t count = doc->instrument.regions.size();
  if (count == 0) return ShowMessage("There are no regions to remove.", MessageIcon::Information);
  if (!AskYesNo(Format("Are you sure you want to remove all %d region(s)?\n\nThis action can be undone.",
                       static_cast<int>(count)),
                MessageIcon::Warning))
    return;
  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoRegionsOnly, "Remove All Regions");
  if (!edit) return;
  ClearRegions(doc->instrument, c.Selection());
  Log(c.Log(), "All regions removed.");
  edit->Commit(DocumentChange::kInstrument, SelectionMoved::kYes);
}

// ----------------------------------------------------- Export Selection --

void ExportSelectionCommand(CommandContext& c) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return;
  const ViewSelection& view = c.Selection();
  if (auto refusal = CheckExportSelection(doc->audio, view.loopIn, view.loopOut)) return Show(*refusal);
  SaveFileRequest request;
  request.defaultPath = ExportSelectionDefaultName(doc->GetPathName().string(), doc->GetTitle());
  request.defaultExtension = "wav";
  request.filter = "WAV Files (*.wav)|*.wav|All Files (*.*)|*.*||";
  request.promptOverwrite = true;
  const std::optional<std::filesystem::path> path = AskSaveFile(request);
  if (!path) return;

  // Built from copies: the open document, its undo history and its modified
  // flag stay as they are.
  const ExportSelectionResult result =
      ExportSelection(doc->audio, doc->instrument, view.loopIn, view.loopOut, c.Log());
  if (result.refusal) return Show(*result.refusal);
  std::string error;
  const std::string_view bytes(reinterpret_cast<const char*>(result.file.data()), result.file.size());
  if (!WriteFileAtomically(*path, bytes, &error)) {
    ShowMessage("Failed to create file for saving.", MessageIcon::Error);
    ShowMessage("Failed to export selection.", MessageIcon::Error);
    return;
  }
  Log(c.Log(), ExportSelectionLogLine(*path, result.frames, doc->audio.format.nSamplesPerSec));
}

}  // namespace

bool ClipboardOffersAudio() {
  const ClipboardHost* clipboard = CurrentClipboardHost();
  return clipboard && clipboard->HasData(kAudioClipboardType);
}

bool AppendWavFile(CommandContext& c, const std::filesystem::path& path) {
  CQuorvelDoc* doc = c.Document();
  if (!doc) return false;
  if (!doc->HasAudio()) {
    ShowMessage(kNoAudioOpenFileText);
    return false;
  }
  const std::string name = path.filename().string();
  CWavLoader file;
  if (!file.Load(path)) {
    ShowMessage(Format("Failed to load WAV file: %s", name.c_str()));
    return false;
  }
  file.MixToMono();
  file.ConvertTo16Bit();

  const PcmFormat format = doc->audio.format;
  std::vector<std::string> lines;
  std::optional<EditRefusal> refusal;
  if (file.format.nSamplesPerSec != format.nSamplesPerSec) {
    const MessageAnswer answer = CurrentMessageHost().Show(
        Format("Sample Rate Mismatch:\n\nCurrent project: %u Hz\nFile to append: %u Hz\n\nDo you want to resample "
               "the appended file to match the project sample rate?",
               format.nSamplesPerSec, file.format.nSamplesPerSec),
        MessageIcon::Question, MessageButtons::YesNoCancel);
    if (answer == MessageAnswer::Cancel) return false;
    if (answer != MessageAnswer::Yes) {
      ShowMessage("Cannot append file with different sample rate.\nOperation cancelled.");
      return false;
    }
    auto fit = [&] { refusal = PrepareAppendSource(file, format, name, lines); };
    if (!RunConversion(c, "Resampling " + name, fit)) return false;
    // Beats found before the conversion no longer line up (the view learns
    // of it with the append's notifications).
    if (!refusal) c.Selection().beatMarkers.clear();
  } else {
    refusal = PrepareAppendSource(file, format, name, lines);
  }
  LogLines(c.Log(), lines);
  if (refusal) {
    Show(*refusal);
    return false;
  }

  StopReading(c, *doc);
  std::optional<EditTransaction> edit = EditTransaction::Begin(*doc, kUndoWithAudio, "Append WAV");
  if (!edit) return false;
  const AppendResult result = AppendAudio(doc->audio, doc->instrument, file, name);
  if (result.refusal) {
    Show(*result.refusal);
    return false;
  }
  LogLines(c.Log(), result.logLines);
  edit->Commit(DocumentChange::kAudio, SelectionMoved::kYes);
  return true;
}

void DeclareAudioEditCommands(CommandRegistry& r) {
  auto withDocument = [](const CommandContext& c) { return c.Document() != nullptr; };
  auto selectionSet = [](const CommandContext& c) {
    const ViewSelection& v = c.Selection();
    return c.Document() && v.loopIn >= 0 && v.loopIn < v.loopOut;
  };
  r.Add({.id = cmd::kEditCut,
         .text = "Cu&t",
         .key = "Ctrl+X",
         .menus = {{"&Edit", 210}},
         .enabled = selectionSet,
         .run =
             [](CommandContext& c) {
               // Only what is safely on the clipboard is removed.
               if (CopySelection(c)) {
                 c.Post([&c] {
                   if (CQuorvelDoc* doc = c.Document()) RemoveAudioData(*doc, c.Selection());
                 });
               }
             }});
  r.Add({.id = cmd::kEditCopy,
         .text = "&Copy",
         .key = "Ctrl+C",
         .menus = {{"&Edit", 211}},
         .contextMenus = {{"Region Bar", 300, "&Copy\tCtrl+C"}, {"Loop Region", 400, "&Copy\tCtrl+C"}},
         .enabled = selectionSet,
         .run = [](CommandContext& c) { CopySelection(c); }});
  r.Add({.id = cmd::kEditPaste,
         .text = "&Paste",
         .key = "Ctrl+V",
         .menus = {{"&Edit", 212}},
         .contextMenus = {{"Edit", 400, "&Paste\tCtrl+V"},
                          {"Region Bar", 301, "&Paste\tCtrl+V"},
                          {"Loop Region", 401, "&Paste\tCtrl+V"}},
         .enabled = [](const CommandContext& c) { return c.Selection().cursorFrame >= 0 && ClipboardOffersAudio(); },
         .run = Paste});
  r.Add({.id = cmd::kPasteInPlace,
         .text = "Paste in Place",
         .menus = {{"&Edit", 213}},
         .enabled =
             [](const CommandContext& c) {
               const int64_t cursor = c.Selection().cursorFrame;
               return c.Document() && cursor >= 0 && cursor < c.Document()->FrameCount() && ClipboardOffersAudio();
             },
         .run = PasteInPlaceCommand});
  r.Add({.id = cmd::kAppendWav,
         .text = "Append Wav...",
         .menus = {{"&File", 201}},
         .enabled = withDocument,
         .run =
             [](CommandContext& c) {
               OpenFileRequest request;
               request.filter = "WAV Files (*.wav)|*.wav||";
               if (const auto path = AskOpenFile(request)) AppendWavFile(c, *path);
             }});
  r.Add({.id = cmd::kAddSilence, .text = "Add Silence...", .menus = {{"&Region", 100}}, .run = AddSilence});
  r.Add({.id = cmd::kRemoveAllSilences,
         .text = "Remove All Silences",
         .menus = {{"&Region", 101}},
         .run = RemoveAllSilences});
  r.Add({.id = cmd::kRemoveAllRegions,
         .text = "Remove All Regions",
         .menus = {{"&Region", 200}},
         .run = RemoveAllRegions});
  r.Add({.id = cmd::kDeleteOutsideLoop,
         .text = "Delete everyting outside",
         .menus = {{"&Selection", 100}},
         .run = DeleteOutside});
  r.Add({.id = cmd::kExportSelection,
         .text = "Export Selection...",
         .menus = {{"&File/Export", 104}},
         .run = ExportSelectionCommand});
}

}  // namespace zandrel
