// The commands of the audio clipboard and of the edits that change the
// audio's length or the region list as a whole: Cut, Copy, Paste, Paste in
// Place, Append Wav, Add Silence, Delete everything outside the selection,
// Remove All Silences, Remove All Regions and Export Selection.
//
// The clipboard is the desktop's (platform/clipboard.h): a copy holds one
// audio clipboard block (processing/audio_clipboard.h) under
// kAudioClipboardType, so that a second running editor can paste it. Every
// check comes before the undo entry: a refused command records nothing and
// keeps the redo history. Each change stops playback first and ends with the
// document's notifications (the audio or the instrument, then the view's
// selection), which bring the view, its scroll bar and the pages up to date.
#pragma once

#include <filesystem>

#include "commands/commands.h"

namespace zandrel {

namespace cmd {
inline constexpr int kPasteInPlace = 32908;
inline constexpr int kAppendWav = 32829;
inline constexpr int kAddSilence = 32847;
inline constexpr int kDeleteOutsideLoop = 32850;
inline constexpr int kRemoveAllSilences = 32876;
inline constexpr int kRemoveAllRegions = 32886;
inline constexpr int kExportSelection = 32916;
}  // namespace cmd

// The clipboard type the audio clipboard block travels under.
inline constexpr const char* kAudioClipboardType = "application/x-quorvel-audioregion";

void DeclareAudioEditCommands(CommandRegistry& registry);

// Appends the WAV file at |path| to the document as a new region (Append
// Wav after its file dialog, and a file dropped on the view with Ctrl
// held). True when the audio was appended.
bool AppendWavFile(CommandContext& context, const std::filesystem::path& path);

// Whether the clipboard offers an audio clipboard block.
bool ClipboardOffersAudio();

}  // namespace zandrel
