// Maschine groups (".mxgrp") and sounds (".mxsnd").
//
// Their structure is not parsed: the sample paths they hold are collected as
// plain text, resolved against the library folder that holds "Samples", and
// joined into a new instrument with one region per sample. A group becomes a
// drum kit on the white keys from C2; a sound becomes an instrument whose key
// zones follow the notes in its samples' file names.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "kits/kit_import.h"

namespace zandrel {

// Four parallel lists, one entry per collected sample: list 0 and the
// velocity-layer lists 1 to 3. Only list 0 feeds the import.
struct MaschineSampleLists {
  std::array<std::vector<std::string>, 4> lists;
};

// Appends the sample paths found in a group or sound file's bytes: finished
// runs of printable ASCII longer than 10 characters that contain ".wav",
// cut to start at "Samples" when they contain it (runs with a ":" and no
// "Samples" are dropped).
void ReadMaschineSamplePaths(MaschineSampleLists& lists, std::span<const uint8_t> bytes);
// Joins velocity layers of one sample ("Kick V24.wav", "Kick V48.wav") and
// keeps, per sample, the layer with the smallest velocity in list 0.
void GroupVelocityLayers(MaschineSampleLists& lists);
// The folder holding "Samples": |folder| or one of its three parents, else
// |folder| itself.
std::filesystem::path FindMaschineLibraryRoot(const std::filesystem::path& folder);

// Imports the group or sound at |file| (a sound when its extension is
// ".mxsnd"). True when the document was replaced; a file that names no
// loadable sample changes nothing.
bool ImportMaschineFile(CQuorvelDoc& doc, const std::filesystem::path& file);

// Command "Import Maschine Group...": the save question, the file dialog,
// then the import.
void OnImportMaschineGroup(CQuorvelDoc& doc, const SaveModifiedCallback& saveModified);

}  // namespace zandrel
