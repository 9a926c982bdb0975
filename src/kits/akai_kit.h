// AKAI MPC kits: the import of a program file (".xpm") with its WAV files into
// a new instrument, and the export of the document's regions as one WAV file
// per region ("Pad01_Note060.wav", ...) beside a keygroup program.
//
// The program's key fields are MIDI notes raised by 13: the import subtracts
// 13 (and clamps), the export adds 13. Both commands run synchronously on the
// user-interface thread and report through the message host and the
// document's log; the settings value "Settings"/"AkaiKitLastDir" holds the
// folder of the last program chosen in either.
#pragma once

#include <filesystem>

#include "kits/kit_import.h"

namespace zandrel {

// Imports the program at |xpm|. |saveModified| is asked once the program has
// been read and names samples; every failure before the samples are joined
// leaves the document, its history and its log as they were. True when the
// document was replaced.
bool ImportAkaiKit(CQuorvelDoc& doc, const std::filesystem::path& xpm, const SaveModifiedCallback& saveModified);
// Writes the regions' WAV files beside |xpm| and the program at |xpm|. The
// document is not changed. True when the program file was written.
bool ExportAkaiKeygroup(const CQuorvelDoc& doc, const std::filesystem::path& xpm);

// Commands "Import AKAI Keygroup/Kit..." and "Export AKAI Keygroup...": ask
// for the program file, then run the functions above.
void OnImportAkaiKit(CQuorvelDoc& doc, const SaveModifiedCallback& saveModified);
void OnExportAkaiKeygroup(const CQuorvelDoc& doc);

}  // namespace zandrel
