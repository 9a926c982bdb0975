// AKAI MPC program files (".xpm"): XML text with a small JSON text of pad
// assignments ("ProgramPads") inside one element.
//
// CAKAIParse reads the text of a program into an AkaiProgram, turns a parsed
// program into the sample regions of a kit import, and writes a program back
// as text. It works on text in memory only and keeps no state; finding sample
// files and building the document are the kit commands' work (akai_kit.h).
//
// Strings hold the text exactly as read from or written into the XML (UTF-8).
// The key fields of a program (LowNote, HighNote, a layer's RootNote, drum
// pad notes) are MIDI notes raised by 13; this file copies them unchanged and
// the kit commands shift them. Numbers are read and written without regard to
// the process locale.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tinyxml2 {
class XMLElement;
}

namespace zandrel {

struct AkaiInsert {
  bool enable = false;
  std::string name;
  std::string data;
};

// One velocity layer of an instrument. Frames are frames of the sample file.
struct AkaiLayer {
  bool active = false;
  std::string sampleName;  // names the sample file, usually without extension
  std::string sampleFile;
  float volume = 1.0f;
  float pan = 0.5f;
  float pitch = 0.0f;
  int32_t tuneCoarse = 0;
  int32_t tuneFine = 0;
  int32_t velStart = 0;
  int32_t velEnd = 127;
  int32_t sampleStart = 0;
  int32_t sampleEnd = 0;
  bool loop = false;
  int32_t loopStart = 0;
  int32_t loopEnd = 0;
  int32_t loopTune = 0;
  int32_t rootNote = 0;  // program numbering (MIDI + 13)
  bool keyTrack = false;
};

// One keygroup or drum pad.
struct AkaiInstrument {
  int32_t number = 0;
  float volume = 1.0f;
  float pan = 0.5f;
  bool mute = false;
  int32_t muteGroup = 0;
  bool oneShot = true;
  bool mono = false;
  int32_t polyphony = 1;
  int32_t lowNote = 0;    // program numbering
  int32_t highNote = 127;  // program numbering
  bool warpEnable = false;
  float warpTempo = 120.0f;
  bool bpmLock = false;
  int32_t stretchPercentage = 100;
  int32_t filterType = 0;
  float cutoff = 1.0f;
  float resonance = 0.0f;
  float filterEnvAmt = 0.0f;
  bool filterKeytrack = false;  // a number in the file: true when above 0
  float filterAttack = 0.0f;
  float filterDecay = 0.0f;
  float filterSustain = 1.0f;
  float filterRelease = 0.0f;
  float filterHold = 0.0f;
  float volumeAttack = 0.0f;
  float volumeDecay = 0.0f;
  float volumeSustain = 1.0f;
  float volumeRelease = 0.0f;
  float volumeHold = 0.0f;
  bool volumeDecayType = true;
  bool volumeADEnvelope = true;
  std::string lfoType;
  float lfoRate = 0.0f;
  int32_t lfoSync = 0;
  bool lfoReset = false;
  float lfoPitch = 0.0f;
  float lfoCutoff = 0.0f;
  float lfoVolume = 0.0f;
  float lfoPan = 0.0f;
  std::vector<AkaiLayer> layers;
  int32_t padNote = -1;  // from the ProgramPads text; -1 = none
};

struct AkaiProgram {
  bool valid = false;  // set by a successful reading; never written
  std::string programName;
  std::string type;  // "Drum"/"drum" or anything else (a keygroup program)
  std::string applicationVersion;
  std::array<AkaiInsert, 4> inserts;
  float programVolume = 1.0f;
  std::vector<AkaiInstrument> instruments;
  std::map<int32_t, int32_t> padNoteMap;   // pad number -> note (program numbering)
  std::map<int32_t, int32_t> padGroupMap;  // pad number -> group
  float keygroupMasterTranspose = 0.5f;
  int32_t keygroupNumKeygroups = 0;
  float keygroupPitchBendRange = 0.0f;
  float keygroupWheelToLfo = 0.0f;
  float keygroupAftertouchToFilter = 0.0f;

  bool IsDrum() const { return type == "Drum" || type == "drum"; }
};

// One region a parsed program proposes to the kit import.
struct AkaiImportRegion {
  int64_t sampleStart = 0;  // frames of the sample file
  int64_t sampleEnd = 0;
  int64_t loopStart = -1;  // -1, -1: no loop
  int64_t loopEnd = -1;
  int32_t lowNote = 0;  // program numbering, unclamped
  int32_t highNote = 0;
  int32_t rootNote = 0;
  std::string sampleName;
};

class CAKAIParse {
 public:
  virtual ~CAKAIParse() = default;

  // Reads |text| into |program|, which should be a new record (it is not
  // cleared). On failure sets |error| and returns false; what was read before
  // the failure stays in the record.
  bool LoadProgram(std::string_view text, AkaiProgram& program, std::string& error) const;
  // "True", "true" or "1" give true, any other text false; no element or no
  // text gives |fallback|.
  static bool ParseXmlBool(const tinyxml2::XMLElement* element, bool fallback);
  // Sets padNote of the instruments the "pads" object names; text it cannot
  // scan is ignored.
  static void ParseProgramPads(std::string_view text, AkaiProgram& program);
  // One region per instrument with a playable layer, in instrument order.
  static std::vector<AkaiImportRegion> ProgramToImportRegions(const AkaiProgram& program);
  // Replaces |text| with the program file's XML text; always true.
  bool GenerateProgramXml(const AkaiProgram& program, std::string& text) const;
  static std::string BuildProgramPadsJson(const AkaiProgram& program);
};

}  // namespace zandrel
