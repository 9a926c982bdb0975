// Folders of WAV files and SmplTrek kits (".stk").
//
// ImportWavFolder loads every ".wav" file of a folder (any case) and joins
// them into a new instrument, one region per file: with note detection, notes
// found in the file names decide the order and key zones (an instrument),
// otherwise the files lie on successive keys from C2 in name order (a drum
// kit). A SmplTrek kit is a file with the kit's sample names followed by
// whole RIFF/WAVE files; its WAV files are extracted into a fresh private
// folder, imported as a drum kit and removed again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "kits/kit_import.h"

namespace zandrel {

// Imports the ".wav" files of |folder|; the document is titled |title| (the
// folder's or the kit's name). True when the document was replaced; when no
// file loads it is unchanged.
bool ImportWavFolder(CQuorvelDoc& doc, const std::filesystem::path& folder, bool detectNotes,
                     const std::string& title);

// The sample file names a kit lists before its first "RIFF": finished runs of
// printable ASCII of 4 or more characters ending in ".wav" (any case), each
// cut to the part after its last "/" or "\".
std::vector<std::string> ReadSmplTrekSampleNames(std::span<const uint8_t> bytes);
// Writes every complete RIFF/WAVE block of |bytes| into |target|, named by
// the kit's names in order ("Unknown_%02d.wav" once they run out), and
// returns the written paths. Files never leave |target| and a block is only
// taken when it lies wholly inside the kit.
std::vector<std::filesystem::path> ExtractSmplTrekBlocks(std::span<const uint8_t> bytes,
                                                         const std::filesystem::path& target);
// Reads the kit file and extracts it; nothing when it cannot be read.
std::vector<std::filesystem::path> ExtractSmplTrekKit(const std::filesystem::path& kit,
                                                      const std::filesystem::path& target);
// Extracts |kit| into a new folder in the process's temporary folder, imports
// it as a drum kit titled after the kit and removes the folder again.
bool ImportSmplTrekKit(CQuorvelDoc& doc, const std::filesystem::path& kit);

// Commands "Import Wavs From Folder..." and "Import SmplTrek kit...": the
// save question, the folder or file dialog, then the import.
void OnImportWavsFromFolder(CQuorvelDoc& doc, const SaveModifiedCallback& saveModified);
void OnImportSmplTrekKit(CQuorvelDoc& doc, const SaveModifiedCallback& saveModified);

}  // namespace zandrel
