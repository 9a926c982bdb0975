#include "kits/akai_program.h"

#include <tinyxml2.h>

#include <charconv>
#include <cstdint>
#include <limits>

#include "kits/kit_text.h"
#include "platform/text_format.h"

namespace zandrel {
namespace {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;
using tinyxml2::XMLNode;

const XMLElement* Child(const XMLElement* parent, const char* name) {
  return parent ? parent->FirstChildElement(name) : nullptr;
}

// The text of an element: its first child that is not a comment, when that is
// text. tinyxml2's GetText() looks at the very first child only and so misses
// the text after a comment.
std::string ElementText(const XMLElement* element) {
  if (!element) return {};
  for (const XMLNode* node = element->FirstChild(); node; node = node->NextSibling()) {
    if (node->ToComment()) continue;
    if (const tinyxml2::XMLText* text = node->ToText()) return text->Value() ? text->Value() : "";
    return {};
  }
  return {};
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Integer text as the XML library reads it: leading white space, a "0x"
// prefix for hexadecimal, else an optional sign and decimal digits, anything
// after them ignored. Long digit runs saturate.
bool ToInt(std::string_view text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    i += 2;
    uint64_t v = 0;
    const size_t start = i;
    for (; i < text.size(); ++i) {
      const char c = text[i];
      int digit;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      else break;
      v = std::min<uint64_t>(v * 16 + static_cast<uint64_t>(digit), 0xFFFFFFFFull);
    }
    if (i == start) return false;
    value = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
  }
  int64_t v = 0;
  if (!ParseSaturatedInt(text.substr(i), v)) return false;
  value = static_cast<int32_t>(v);
  return true;
}

// Float text: leading white space, an optional sign, then a decimal number
// ("inf" and "nan" included), anything after it ignored.
bool ToFloat(std::string_view text, float& value) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) return false;
  float v = 0.0f;
  const auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), v);
  if (ec != std::errc() || end == text.data() + i) return false;
  value = negative ? -v : v;
  return true;
}

void ReadString(const XMLElement* parent, const char* name, std::string& field) {
  if (const XMLElement* e = Child(parent, name)) field = ElementText(e);
}

void ReadFloat(const XMLElement* parent, const char* name, float& field, float ifEmpty) {
  const XMLElement* e = Child(parent, name);
  if (!e) return;
  float v;
  field = ToFloat(ElementText(e), v) ? v : ifEmpty;
}

void ReadInt(const XMLElement* parent, const char* name, int32_t& field, int32_t ifEmpty) {
  const XMLElement* e = Child(parent, name);
  if (!e) return;
  int32_t v;
  field = ToInt(ElementText(e), v) ? v : ifEmpty;
}

void ReadBool(const XMLElement* parent, const char* name, bool& field) {
  field = CAKAIParse::ParseXmlBool(Child(parent, name), field);
}

int32_t NumberAttribute(const XMLElement* element) {
  const char* text = element->Attribute("number");
  int32_t v = 0;
  return text && ToInt(text, v) ? v : 0;
}

void ReadLayer(const XMLElement* e, AkaiLayer& layer) {
  ReadBool(e, "Active", layer.active);
  ReadString(e, "SampleName", layer.sampleName);
  ReadString(e, "SampleFile", layer.sampleFile);
  ReadFloat(e, "Volume", layer.volume, 0.0f);
  ReadFloat(e, "Pan", layer.pan, 0.0f);
  ReadFloat(e, "Pitch", layer.pitch, 0.0f);
  ReadInt(e, "TuneCoarse", layer.tuneCoarse, 0);
  ReadInt(e, "TuneFine", layer.tuneFine, 0);
  ReadInt(e, "VelStart", layer.velStart, 0);
  ReadInt(e, "VelEnd", layer.velEnd, 0);
  ReadInt(e, "SampleStart", layer.sampleStart, 0);
  ReadInt(e, "SampleEnd", layer.sampleEnd, 0);
  ReadBool(e, "Loop", layer.loop);
  ReadInt(e, "LoopStart", layer.loopStart, 0);
  ReadInt(e, "LoopEnd", layer.loopEnd, 0);
  ReadInt(e, "LoopTune", layer.loopTune, 0);
  ReadInt(e, "RootNote", layer.rootNote, 0);
  ReadBool(e, "KeyTrack", layer.keyTrack);
}

void ReadInstrument(const XMLElement* e, AkaiInstrument& in) {
  in.number = NumberAttribute(e);
  ReadFloat(e, "Volume", in.volume, 1.0f);
  ReadFloat(e, "Pan", in.pan, 0.5f);
  ReadBool(e, "Mute", in.mute);
  ReadInt(e, "MuteGroup", in.muteGroup, 0);
  ReadBool(e, "OneShot", in.oneShot);
  ReadBool(e, "Mono", in.mono);
  ReadInt(e, "Polyphony", in.polyphony, 1);
  ReadInt(e, "LowNote", in.lowNote, 0);
  ReadInt(e, "HighNote", in.highNote, 127);
  ReadBool(e, "WarpEnable", in.warpEnable);
  ReadFloat(e, "WarpTempo", in.warpTempo, 0.0f);
  ReadBool(e, "BpmLock", in.bpmLock);
  ReadInt(e, "StretchPercentage", in.stretchPercentage, 0);
  ReadInt(e, "FilterType", in.filterType, 0);
  ReadFloat(e, "Cutoff", in.cutoff, 1.0f);
  ReadFloat(e, "Resonance", in.resonance, 0.0f);
  ReadFloat(e, "FilterEnvAmt", in.filterEnvAmt, 0.0f);
  if (const XMLElement* k = Child(e, "FilterKeytrack")) {
    float v;
    in.filterKeytrack = ToFloat(ElementText(k), v) && v > 0.0f;
  }
  ReadFloat(e, "FilterAttack", in.filterAttack, 0.0f);
  ReadFloat(e, "FilterDecay", in.filterDecay, 0.0f);
  ReadFloat(e, "FilterSustain", in.filterSustain, 0.0f);
  ReadFloat(e, "FilterRelease", in.filterRelease, 0.0f);
  ReadFloat(e, "FilterHold", in.filterHold, 0.0f);
  ReadFloat(e, "VolumeAttack", in.volumeAttack, 0.0f);
  ReadFloat(e, "VolumeDecay", in.volumeDecay, 0.0f);
  ReadFloat(e, "VolumeSustain", in.volumeSustain, 0.0f);
  ReadFloat(e, "VolumeRelease", in.volumeRelease, 0.0f);
  ReadFloat(e, "VolumeHold", in.volumeHold, 0.0f);
  ReadBool(e, "VolumeDecayType", in.volumeDecayType);
  ReadBool(e, "VolumeADEnvelope", in.volumeADEnvelope);
  if (const XMLElement* lfo = Child(e, "LFO")) {
    in.lfoType.clear();
    ReadString(lfo, "Type", in.lfoType);
    ReadFloat(lfo, "Rate", in.lfoRate, 0.0f);
    ReadInt(lfo, "Sync", in.lfoSync, 0);
    ReadBool(lfo, "Reset", in.lfoReset);
  }
  ReadFloat(e, "LfoPitch", in.lfoPitch, 0.0f);
  ReadFloat(e, "LfoCutoff", in.lfoCutoff, 0.0f);
  ReadFloat(e, "LfoVolume", in.lfoVolume, 0.0f);
  ReadFloat(e, "LfoPan", in.lfoPan, 0.0f);
  if (const XMLElement* layers = Child(e, "Layers")) {
    for (const XMLElement* l = layers->FirstChildElement("Layer"); l; l = l->NextSiblingElement("Layer")) {
      AkaiLayer layer;
      ReadLayer(l, layer);
      in.layers.push_back(std::move(layer));
    }
  }
}

void ReadMap(const XMLElement* program, const char* mapName, const char* entryName, const char* valueName,
             std::map<int32_t, int32_t>& map) {
  const XMLElement* m = Child(program, mapName);
  if (!m) return;
  for (const XMLElement* p = m->FirstChildElement(entryName); p; p = p->NextSiblingElement(entryName)) {
    const XMLElement* value = Child(p, valueName);
    if (!value) continue;
    int32_t v = 0;
    if (!ToInt(ElementText(value), v)) v = 0;
    map[NumberAttribute(p)] = v;
  }
}

// ------------------------------------------------------------- writing --

const char* BoolText(bool b) { return b ? "True" : "False"; }

class TreeWriter {
 public:
  explicit TreeWriter(XMLDocument& doc) : doc_(doc) {}

  XMLElement* Element(XMLNode* parent, const char* name) {
    XMLElement* e = doc_.NewElement(name);
    parent->InsertEndChild(e);
    return e;
  }
  XMLElement* Text(XMLNode* parent, const char* name, const std::string& text) {
    XMLElement* e = Element(parent, name);
    e->SetText(text.c_str());
    return e;
  }
  void Float(XMLNode* parent, const char* name, double v) { Text(parent, name, Format("%f", v)); }
  void Int(XMLNode* parent, const char* name, int32_t v) { Text(parent, name, Format("%d", v)); }
  void Bool(XMLNode* parent, const char* name, bool v) { Text(parent, name, BoolText(v)); }
  static void NumberAttribute(XMLElement* e, int32_t number) { e->SetAttribute("number", Format("%d", number).c_str()); }

 private:
  XMLDocument& doc_;
};

void WriteLayer(TreeWriter& w, XMLElement* e, const AkaiLayer& l) {
  w.Bool(e, "Active", l.active);
  w.Float(e, "Volume", l.volume);
  w.Float(e, "Pan", l.pan);
  w.Float(e, "Pitch", l.pitch);
  w.Int(e, "TuneCoarse", l.tuneCoarse);
  w.Int(e, "TuneFine", l.tuneFine);
  w.Int(e, "VelStart", l.velStart);
  w.Int(e, "VelEnd", l.velEnd);
  w.Int(e, "SampleStart", l.sampleStart);
  w.Int(e, "SampleEnd", l.sampleEnd);
  w.Bool(e, "Loop", l.loop);
  w.Int(e, "LoopStart", l.loopStart);
  w.Int(e, "LoopEnd", l.loopEnd);
  w.Int(e, "LoopTune", l.loopTune);
  w.Int(e, "RootNote", l.rootNote);
  w.Bool(e, "KeyTrack", l.keyTrack);
  w.Text(e, "SampleName", l.sampleName);
  w.Text(e, "SampleFile", l.sampleFile);
}

void WriteInstrument(TreeWriter& w, XMLElement* e, const AkaiInstrument& in) {
  w.Float(e, "Volume", in.volume);
  w.Float(e, "Pan", in.pan);
  w.Bool(e, "Mute", in.mute);
  w.Int(e, "MuteGroup", in.muteGroup);
  w.Bool(e, "Mono", in.mono);
  w.Int(e, "Polyphony", in.polyphony);
  w.Bool(e, "OneShot", in.oneShot);
  w.Int(e, "LowNote", in.lowNote);
  w.Int(e, "HighNote", in.highNote);
  w.Int(e, "FilterType", in.filterType);
  w.Float(e, "Cutoff", in.cutoff);
  w.Float(e, "Resonance", in.resonance);
  w.Float(e, "FilterEnvAmt", in.filterEnvAmt);
  w.Float(e, "FilterKeytrack", in.filterKeytrack ? 1.0 : 0.0);
  w.Float(e, "FilterAttack", in.filterAttack);
  w.Float(e, "FilterDecay", in.filterDecay);
  w.Float(e, "FilterSustain", in.filterSustain);
  w.Float(e, "FilterRelease", in.filterRelease);
  w.Float(e, "FilterHold", in.filterHold);
  w.Float(e, "VolumeAttack", in.volumeAttack);
  w.Float(e, "VolumeDecay", in.volumeDecay);
  w.Float(e, "VolumeSustain", in.volumeSustain);
  w.Float(e, "VolumeRelease", in.volumeRelease);
  w.Float(e, "VolumeHold", in.volumeHold);
  w.Bool(e, "VolumeDecayType", in.volumeDecayType);
  w.Bool(e, "VolumeADEnvelope", in.volumeADEnvelope);
  XMLElement* lfo = w.Element(e, "LFO");
  w.Text(lfo, "Type", in.lfoType.empty() ? std::string("Sine") : in.lfoType);
  w.Float(lfo, "Rate", in.lfoRate);
  w.Int(lfo, "Sync", in.lfoSync);
  w.Bool(lfo, "Reset", in.lfoReset);
  w.Float(e, "LfoPitch", in.lfoPitch);
  w.Float(e, "LfoCutoff", in.lfoCutoff);
  w.Float(e, "LfoVolume", in.lfoVolume);
  w.Float(e, "LfoPan", in.lfoPan);
  w.Float(e, "WarpTempo", in.warpTempo);
  w.Bool(e, "BpmLock", in.bpmLock);
  w.Bool(e, "WarpEnable", in.warpEnable);
  w.Int(e, "StretchPercentage", in.stretchPercentage);
  XMLElement* layers = w.Element(e, "Layers");
  // The device expects exactly four layers; missing ones are inactive
  // placeholders and layers beyond the fourth are dropped.
  for (int i = 0; i < 4; ++i) {
    XMLElement* layer = w.Element(layers, "Layer");
    TreeWriter::NumberAttribute(layer, i + 1);
    if (static_cast<size_t>(i) < in.layers.size()) {
      WriteLayer(w, layer, in.layers[static_cast<size_t>(i)]);
    } else {
      w.Bool(layer, "Active", false);
      w.Float(layer, "Volume", 1.0);
      w.Float(layer, "Pan", 0.5);
      w.Int(layer, "VelStart", 0);
      w.Int(layer, "VelEnd", 127);
      w.Text(layer, "SampleName", "");
    }
  }
}

}  // namespace

bool CAKAIParse::ParseXmlBool(const XMLElement* element, bool fallback) {
  if (!element) return fallback;
  const std::string text = ElementText(element);
  if (text.empty()) return fallback;
  return text == "True" || text == "true" || text == "1";
}

bool CAKAIParse::LoadProgram(std::string_view text, AkaiProgram& program, std::string& error) const {
  XMLDocument doc;
  const tinyxml2::XMLError result = doc.Parse(text.data(), text.size());
  if (result != tinyxml2::XML_SUCCESS || text.empty()) {
    const int id = text.empty() && result == tinyxml2::XML_SUCCESS ? tinyxml2::XML_ERROR_EMPTY_DOCUMENT : result;
    const char* description = doc.ErrorStr();
    error = Format("TinyXML2 Parse Error (ID: %d): %s", id, description ? description : "");
    return false;
  }
  const XMLElement* root = doc.FirstChildElement("MPCVObject");
  if (!root) {
    error = "Invalid Format: Missing <MPCVObject> tag.";
    return false;
  }
  if (const XMLElement* version = Child(root, "Version")) ReadString(version, "Application_Version", program.applicationVersion);
  const XMLElement* p = Child(root, "Program");
  if (!p) {
    error = "Invalid Format: Missing <Program> tag.";
    return false;
  }
  const char* type = p->Attribute("type");
  program.type = type ? type : "Unknown";
  program.programName = ElementText(Child(p, "Name"));
  ReadFloat(p, "Volume", program.programVolume, 1.0f);
  for (int i = 0; i < 4; ++i) {
    AkaiInsert& insert = program.inserts[static_cast<size_t>(i)];
    if (const XMLElement* e = Child(p, Format("Insert%d", i + 1).c_str())) {
      ReadString(e, "Name", insert.name);
      ReadString(e, "Data", insert.data);
    }
    insert.enable = ParseXmlBool(Child(p, Format("InsertEnable%d", i + 1).c_str()), false);
  }
  if (const XMLElement* list = Child(p, "Instruments")) {
    for (const XMLElement* e = list->FirstChildElement("Instrument"); e; e = e->NextSiblingElement("Instrument")) {
      AkaiInstrument instrument;
      ReadInstrument(e, instrument);
      program.instruments.push_back(std::move(instrument));
    }
  }
  if (const XMLElement* pads = Child(p, "ProgramPads")) ParseProgramPads(ElementText(pads), program);
  ReadMap(p, "PadNoteMap", "PadNote", "Note", program.padNoteMap);
  ReadMap(p, "PadGroupMap", "PadGroup", "Group", program.padGroupMap);
  ReadFloat(p, "KeygroupMasterTranspose", program.keygroupMasterTranspose, 0.5f);
  ReadInt(p, "KeygroupNumKeygroups", program.keygroupNumKeygroups, 0);
  ReadFloat(p, "KeygroupPitchBendRange", program.keygroupPitchBendRange, 0.0f);
  ReadFloat(p, "KeygroupWheelToLfo", program.keygroupWheelToLfo, 0.0f);
  ReadFloat(p, "KeygroupAftertouchToFilter", program.keygroupAftertouchToFilter, 0.0f);
  program.valid = true;
  return true;
}

void CAKAIParse::ParseProgramPads(std::string_view text, AkaiProgram& program) {
  if (text.size() < 6) return;
  const size_t key = text.find("\"pads\"");
  if (key == std::string_view::npos) return;
  const size_t open = text.find('{', key);
  if (open == std::string_view::npos) return;
  size_t close = std::string_view::npos;
  int depth = 0;
  for (size_t i = open; i < text.size(); ++i) {
    if (text[i] == '{') ++depth;
    if (text[i] == '}' && --depth == 0) {
      close = i;
      break;
    }
  }
  if (close == std::string_view::npos) return;
  const std::string_view block = text.substr(open, close - open + 1);
  for (int j = 0; j < 128; ++j) {
    const std::string name = Format("\"value%d\"", j);
    const size_t at = block.find(name);
    if (at == std::string_view::npos) continue;
    const size_t colon = block.find(':', at);
    if (colon == std::string_view::npos) continue;
    int64_t note = 0;
    if (!ParseSaturatedInt(block.substr(colon + 1), note, /*skipSpace=*/true)) continue;
    for (AkaiInstrument& in : program.instruments) {
      if (in.number == j + 1) {
        in.padNote = static_cast<int32_t>(note);
        break;
      }
    }
  }
}

std::vector<AkaiImportRegion> CAKAIParse::ProgramToImportRegions(const AkaiProgram& program) {
  std::vector<AkaiImportRegion> regions;
  const bool drum = program.IsDrum();
  for (const AkaiInstrument& in : program.instruments) {
    std::vector<const AkaiLayer*> candidates;
    for (const AkaiLayer& l : in.layers)
      if (l.active && !l.sampleName.empty()) candidates.push_back(&l);
    if (candidates.empty()) continue;

    // The layer a middle velocity (64) plays, else the one nearest to it.
    const AkaiLayer* chosen = nullptr;
    for (const AkaiLayer* l : candidates) {
      if (l->velStart <= 64 && 64 <= l->velEnd) {
        chosen = l;
        break;
      }
    }
    if (!chosen) {
      int64_t best = std::numeric_limits<int64_t>::max();
      for (const AkaiLayer* l : candidates) {
        const int64_t distance = l->velStart > 64 ? int64_t{l->velStart} - 64 : 64 - int64_t{l->velEnd};
        if (distance < best) {
          best = distance;
          chosen = l;
        }
      }
    }

    AkaiImportRegion r;
    r.sampleStart = chosen->sampleStart;
    r.sampleEnd = chosen->sampleEnd;
    r.loopStart = chosen->loop ? chosen->loopStart : -1;
    r.loopEnd = chosen->loop ? chosen->loopEnd : -1;
    r.sampleName = chosen->sampleName;
    if (drum) {
      const auto it = program.padNoteMap.find(in.number);
      const int32_t note = it != program.padNoteMap.end() ? it->second : 60;
      r.lowNote = r.highNote = r.rootNote = note;
    } else {
      r.lowNote = in.lowNote;
      r.highNote = in.highNote;
      r.rootNote = chosen->rootNote >= 1 ? chosen->rootNote : 60;
    }
    regions.push_back(std::move(r));
  }
  return regions;
}

std::string CAKAIParse::BuildProgramPadsJson(const AkaiProgram& program) {
  std::string json =
      "{\n"
      "    \"ProgramPads\": {\n"
      "        \"Universal\": {\n"
      " \"value0\": true\n"
      " },\n"
      "        \"Type\": {\n"
      " \"value0\": 1\n"
      " },\n"
      "        \"universalPad\": 32512,\n"
      "        \"pads\": {\n";
  for (int pad = 0; pad < 128; ++pad) {
    int32_t note = 0;
    for (const AkaiInstrument& in : program.instruments) {
      if (in.number == pad + 1 && in.padNote != -1) {
        note = in.padNote;
        break;
      }
    }
    json += Format("            \"value%d\": %d%s\n", pad, note, pad < 127 ? "," : "");
  }
  json +=
      "        },\n"
      "        \"UnusedPads\": {\n"
      " \"value0\": 1\n"
      " }\n"
      "    }\n"
      "}";
  return json;
}

bool CAKAIParse::GenerateProgramXml(const AkaiProgram& program, std::string& text) const {
  XMLDocument doc;
  TreeWriter w(doc);
  doc.InsertEndChild(doc.NewDeclaration());
  XMLElement* root = w.Element(&doc, "MPCVObject");

  XMLElement* version = w.Element(root, "Version");
  w.Text(version, "File_Version", "2.1");
  w.Text(version, "Application", "MPC-V");
  w.Text(version, "Application_Version",
         program.applicationVersion.empty() ? std::string("2.8.1.12") : program.applicationVersion);
  w.Text(version, "Platform", "Windows");

  XMLElement* p = w.Element(root, "Program");
  p->SetAttribute("type", program.type.c_str());
  w.Text(p, "ProgramName", program.programName);
  w.Text(p, "ProgramPads", BuildProgramPadsJson(program));
  for (int i = 0; i < 4; ++i) {
    const AkaiInsert& insert = program.inserts[static_cast<size_t>(i)];
    XMLElement* e = w.Element(p, Format("Insert%d", i + 1).c_str());
    w.Text(e, "Name", insert.name);
    if (!insert.data.empty()) w.Text(e, "Data", insert.data);
    w.Bool(p, Format("InsertEnable%d", i + 1).c_str(), insert.enable);
  }
  w.Float(p, "Volume", program.programVolume);
  w.Bool(p, "Mute", false);
  w.Bool(p, "Solo", false);
  w.Float(p, "Pan", 0.5);

  XMLElement* instruments = w.Element(p, "Instruments");
  for (const AkaiInstrument& in : program.instruments) {
    XMLElement* e = w.Element(instruments, "Instrument");
    TreeWriter::NumberAttribute(e, in.number);
    WriteInstrument(w, e, in);
  }

  const bool drum = program.IsDrum();
  XMLElement* noteMap = w.Element(p, "PadNoteMap");
  for (int32_t number = 1; number <= 128; ++number) {
    XMLElement* pad = w.Element(noteMap, "PadNote");
    TreeWriter::NumberAttribute(pad, number);
    const auto it = program.padNoteMap.find(number);
    w.Int(pad, "Note", it != program.padNoteMap.end() ? it->second : (drum ? number + 35 : number - 1));
  }
  XMLElement* groupMap = w.Element(p, "PadGroupMap");
  for (int32_t number = 1; number <= 128; ++number) {
    XMLElement* pad = w.Element(groupMap, "PadGroup");
    TreeWriter::NumberAttribute(pad, number);
    const auto it = program.padGroupMap.find(number);
    w.Int(pad, "Group", it != program.padGroupMap.end() ? it->second : 0);
  }
  w.Float(p, "KeygroupMasterTranspose", program.keygroupMasterTranspose);
  w.Int(p, "KeygroupNumKeygroups", program.keygroupNumKeygroups);
  w.Float(p, "KeygroupPitchBendRange", program.keygroupPitchBendRange);
  w.Float(p, "KeygroupWheelToLfo", program.keygroupWheelToLfo);
  w.Float(p, "KeygroupAftertouchToFilter", program.keygroupAftertouchToFilter);

  tinyxml2::XMLPrinter printer;
  doc.Print(&printer);
  text.assign(printer.CStr(), static_cast<size_t>(std::max(printer.CStrSize() - 1, 0)));
  return true;
}

}  // namespace zandrel
