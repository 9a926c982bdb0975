// Plain-text descriptions of the open document.
//
// The WAV overview lists the RIFF layout the document would have if it were
// saved now (offsets as CWavLoader::Save writes them, the LIST/INFO entries
// with their texts); the instrument overview lists the global settings and
// every region. Both describe memory, not the file on disk. The texts are
// built with "\n" line ends; WriteReportFile writes them with CRLF, as the
// reports have always been read on the device makers' side.
#pragma once

#include <filesystem>
#include <span>
#include <string>

#include "document/instrument.h"
#include "document/wav_loader.h"

namespace zandrel {

// The first (at most 32) bytes as lower-case hex, each followed by a space.
std::string HexPreview(std::span<const uint8_t> bytes);

std::string WavOverviewText(const CWavLoader& audio, const std::string& pathName);
std::string InstrumentOverviewText(const InstrumentData& instrument, const std::string& pathName);

// Writes |text| with CRLF line ends, atomically. A file that cannot be
// created shows |createFailedMessage|; a failed write shows the reason. Both
// return false and leave any existing file untouched.
bool WriteReportFile(const std::filesystem::path& path, const std::string& text, const char* createFailedMessage);

}  // namespace zandrel
