#include "kits/akai_program.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <string>

#include "platform/text_format.h"

namespace zandrel {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// A program file around the given "Program" content.
std::string ProgramXml(const std::string& programBody, const std::string& type = "Keygroup") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<MPCVObject><Version><Application_Version>2.9</Application_Version>"
         "</Version><Program type=\"" + type + "\">" + programBody + "</Program></MPCVObject>";
}

AkaiProgram Load(const std::string& text) {
  AkaiProgram program;
  std::string error;
  EXPECT_TRUE(CAKAIParse().LoadProgram(text, program, error)) << error;
  return program;
}

std::string Layer(int velStart, int velEnd, const std::string& name, const std::string& extra = "") {
  return Format("<Layer><Active>True</Active><VelStart>%d</VelStart><VelEnd>%d</VelEnd><SampleName>%s</SampleName>%s"
                "</Layer>",
                velStart, velEnd, name.c_str(), extra.c_str());
}

TEST(AkaiProgramRead, ParseXmlBoolAcceptsExactlyThreeSpellings) {
  struct Case {
    const char* xml;
    bool fallback;
    bool expected;
  };
  const Case cases[] = {
      {"<B>True</B>", false, true},  {"<B>true</B>", false, true},   {"<B>1</B>", false, true},
      {"<B>TRUE</B>", true, false},  {"<B> true</B>", true, false},  {"<B>0</B>", true, false},
      {"<B></B>", true, true},       {"<B/>", false, false},         {"<B><!-- c -->true</B>", false, true},
  };
  for (const Case& c : cases) {
    tinyxml2::XMLDocument doc;
    ASSERT_EQ(doc.Parse(c.xml), tinyxml2::XML_SUCCESS) << c.xml;
    EXPECT_EQ(CAKAIParse::ParseXmlBool(doc.FirstChildElement("B"), c.fallback), c.expected) << c.xml;
  }
  EXPECT_TRUE(CAKAIParse::ParseXmlBool(nullptr, true));
  EXPECT_FALSE(CAKAIParse::ParseXmlBool(nullptr, false));
}

TEST(AkaiProgramRead, MissingEmptyAndUnconvertibleElementsFollowTheirOwnRules) {
  const AkaiProgram p = Load(ProgramXml(
      "<Instruments>"
      "<Instrument number=\"3\"><Volume></Volume><WarpTempo>fast</WarpTempo><Polyphony/><HighNote>x</HighNote>"
      "<FilterKeytrack>1.000000</FilterKeytrack><Layers>"
      "<Layer><Volume></Volume><VelEnd></VelEnd><Pan><!-- left -->0.25</Pan></Layer>"
      "<Layer/></Layers></Instrument>"
      "<Instrument number=\"zz\"><LFO><Rate>2.5</Rate></LFO><LowNote> 0x10</LowNote><MuteGroup>+7abc</MuteGroup>"
      "</Instrument>"
      "</Instruments>"));
  ASSERT_EQ(p.instruments.size(), 2u);
  const AkaiInstrument& a = p.instruments[0];
  EXPECT_EQ(a.number, 3);
  EXPECT_FLOAT_EQ(a.volume, 1.0f);  // empty instrument volume reads as 1.0
  EXPECT_FLOAT_EQ(a.warpTempo, 0.0f);
  EXPECT_EQ(a.polyphony, 1);
  EXPECT_EQ(a.highNote, 127);
  EXPECT_TRUE(a.filterKeytrack);
  EXPECT_TRUE(a.oneShot);  // missing OneShot keeps true
  EXPECT_FALSE(a.mute);    // missing Mute keeps false
  ASSERT_EQ(a.layers.size(), 2u);
  EXPECT_FLOAT_EQ(a.layers[0].volume, 0.0f);  // empty layer volume reads as 0
  EXPECT_EQ(a.layers[0].velEnd, 0);
  EXPECT_FLOAT_EQ(a.layers[0].pan, 0.25f);  // the text after a comment counts
  EXPECT_FLOAT_EQ(a.layers[1].volume, 1.0f);  // a missing one keeps 1.0
  EXPECT_EQ(a.layers[1].velEnd, 127);
  const AkaiInstrument& b = p.instruments[1];
  EXPECT_EQ(b.number, 0);
  EXPECT_EQ(b.lfoType, "");
  EXPECT_FLOAT_EQ(b.lfoRate, 2.5f);
  EXPECT_EQ(b.lowNote, 16);
  EXPECT_EQ(b.muteGroup, 7);
  EXPECT_EQ(p.applicationVersion, "2.9");
  EXPECT_EQ(p.type, "Keygroup");
  EXPECT_TRUE(p.valid);
}

TEST(AkaiProgramRead, ReportsTheThreeFailures) {
  struct Case {
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {"", "TinyXML2 Parse Error (ID: "},
      {"this is not xml <", "TinyXML2 Parse Error (ID: "},
      {"<Other><Program type=\"Drum\"/></Other>", "Invalid Format: Missing <MPCVObject> tag."},
      {"<MPCVObject><Version/></MPCVObject>", "Invalid Format: Missing <Program> tag."},
  };
  for (const Case& c : cases) {
    AkaiProgram program;
    std::string error;
    EXPECT_FALSE(CAKAIParse().LoadProgram(c.text, program, error)) << c.text;
    EXPECT_THAT(error, StartsWith(c.error)) << c.text;
  }
}

TEST(AkaiProgramRead, ProgramWithoutTypeIsUnknownAndAKeygroup) {
  AkaiProgram p = Load("<MPCVObject><Program><Instruments><Instrument number=\"1\"><LowNote>20</LowNote><Layers>" +
                       Layer(0, 127, "a", "<RootNote>0</RootNote>") + "</Layers></Instrument></Instruments>"
                       "</Program></MPCVObject>");
  EXPECT_EQ(p.type, "Unknown");
  const auto regions = CAKAIParse::ProgramToImportRegions(p);
  ASSERT_EQ(regions.size(), 1u);
  EXPECT_EQ(regions[0].lowNote, 20);
  EXPECT_EQ(regions[0].rootNote, 60);  // a root below 1 becomes 60
}

TEST(AkaiProgramRead, ProgramPadsNameThePadNotes) {
  const std::string pads =
      "{\"ProgramPads\": {\"pads\": {\"value0\": 36, \"value10\": -5, \"value1\":  +99999999999, \"value2\": x}}}";
  AkaiProgram p = Load(ProgramXml("<ProgramPads>" + pads + "</ProgramPads><Instruments>"
                                  "<Instrument number=\"1\"/><Instrument number=\"11\"/><Instrument number=\"2\"/>"
                                  "<Instrument number=\"3\"/><Instrument number=\"4\"/></Instruments>"));
  ASSERT_EQ(p.instruments.size(), 5u);
  EXPECT_EQ(p.instruments[0].padNote, 36);
  EXPECT_EQ(p.instruments[1].padNote, -5);          // "value10" is not "value1"
  EXPECT_EQ(p.instruments[2].padNote, 2147483647);  // saturates
  EXPECT_EQ(p.instruments[3].padNote, -1);          // no digits
  EXPECT_EQ(p.instruments[4].padNote, -1);

  // Unbalanced or missing blocks are ignored.
  for (const char* text : {"{\"pads\": {\"value0\": 1", "\"pads\" none", "{}", "\"pads\""}) {
    AkaiProgram q;
    q.instruments.resize(1);
    q.instruments[0].number = 1;
    CAKAIParse::ParseProgramPads(text, q);
    EXPECT_EQ(q.instruments[0].padNote, -1) << text;
  }
}

TEST(AkaiProgramRead, PadMapsTakeTheLastEntryPerNumber) {
  const AkaiProgram p = Load(ProgramXml(
      "<PadNoteMap><PadNote number=\"1\"><Note>40</Note></PadNote><PadNote number=\"1\"><Note>41</Note></PadNote>"
      "<PadNote number=\"2\"/><PadNote><Note></Note></PadNote></PadNoteMap>"
      "<PadGroupMap><PadGroup number=\"5\"><Group>3</Group></PadGroup></PadGroupMap>",
      "Drum"));
  EXPECT_EQ(p.padNoteMap, (std::map<int32_t, int32_t>{{0, 0}, {1, 41}}));
  EXPECT_EQ(p.padGroupMap, (std::map<int32_t, int32_t>{{5, 3}}));
}

TEST(AkaiProgramRegions, ChoosesTheLayerThatPlaysVelocity64OrTheNearest) {
  struct Case {
    std::string layers;
    std::string chosen;
  };
  const Case cases[] = {
      {Layer(0, 40, "low") + Layer(80, 127, "high"), "high"},  // 16 against 24
      {Layer(0, 54, "low") + Layer(74, 127, "high"), "low"},   // equal distance: the first
      {Layer(0, 63, "a") + Layer(64, 64, "b") + Layer(0, 127, "c"), "b"},
      {"<Layer><Active>False</Active><SampleName>off</SampleName></Layer>" + Layer(100, 127, "on"), "on"},
      {Layer(0, 127, "") + Layer(90, 127, "named"), "named"},
  };
  for (const Case& c : cases) {
    const AkaiProgram p = Load(ProgramXml("<Instruments><Instrument number=\"1\"><Layers>" + c.layers +
                                          "</Layers></Instrument></Instruments>"));
    const auto regions = CAKAIParse::ProgramToImportRegions(p);
    ASSERT_EQ(regions.size(), 1u) << c.layers;
    EXPECT_EQ(regions[0].sampleName, c.chosen) << c.layers;
  }
}

TEST(AkaiProgramRegions, DrumPadsTakeTheirMapNoteOr60AndInstrumentsWithoutLayersNone) {
  const AkaiProgram p = Load(ProgramXml(
      "<Instruments>"
      "<Instrument number=\"5\"><Layers>" + Layer(0, 127, "nomap", "<Loop>True</Loop><LoopStart>4</LoopStart>"
      "<LoopEnd>9</LoopEnd><SampleStart>1</SampleStart><SampleEnd>20</SampleEnd>") + "</Layers></Instrument>"
      "<Instrument number=\"6\"/>"
      "<Instrument number=\"7\"><Layers>" + Layer(0, 127, "mapped") + "</Layers></Instrument>"
      "</Instruments><PadNoteMap><PadNote number=\"7\"><Note>50</Note></PadNote></PadNoteMap>",
      "drum"));
  const auto regions = CAKAIParse::ProgramToImportRegions(p);
  ASSERT_EQ(regions.size(), 2u);
  EXPECT_EQ(regions[0].sampleName, "nomap");
  EXPECT_EQ(regions[0].lowNote, 60);
  EXPECT_EQ(regions[0].highNote, 60);
  EXPECT_EQ(regions[0].rootNote, 60);
  EXPECT_EQ(regions[0].sampleStart, 1);
  EXPECT_EQ(regions[0].sampleEnd, 20);
  EXPECT_EQ(regions[0].loopStart, 4);
  EXPECT_EQ(regions[0].loopEnd, 9);
  EXPECT_EQ(regions[1].rootNote, 50);
  EXPECT_EQ(regions[1].loopStart, -1);
  EXPECT_EQ(regions[1].loopEnd, -1);
}

// ------------------------------------------------------------- writing --

std::string ExpectedProgram(const std::vector<int>& padNotes, bool drum) {
  std::string text = R"xml(<?xml version="1.0" encoding="UTF-8"?>
<MPCVObject>
    <Version>
        <File_Version>2.1</File_Version>
        <Application>MPC-V</Application>
        <Application_Version>3.0.0</Application_Version>
        <Platform>Windows</Platform>
    </Version>
    <Program type="Keygroup">
        <ProgramName>Kit</ProgramName>
        <ProgramPads>{
    "ProgramPads": {
        "Universal": {
 "value0": true
 },
        "Type": {
 "value0": 1
 },
        "universalPad": 32512,
        "pads": {
)xml";
  for (int i = 0; i < 128; ++i)
    text += Format("            \"value%d\": %d%s\n", i, padNotes[static_cast<size_t>(i)], i < 127 ? "," : "");
  text += R"xml(        },
        "UnusedPads": {
 "value0": 1
 }
    }
}</ProgramPads>
        <Insert1>
            <Name></Name>
        </Insert1>
        <InsertEnable1>False</InsertEnable1>
        <Insert2>
            <Name></Name>
        </Insert2>
        <InsertEnable2>False</InsertEnable2>
        <Insert3>
            <Name></Name>
        </Insert3>
        <InsertEnable3>False</InsertEnable3>
        <Insert4>
            <Name></Name>
        </Insert4>
        <InsertEnable4>False</InsertEnable4>
        <Volume>0.700000</Volume>
        <Mute>False</Mute>
        <Solo>False</Solo>
        <Pan>0.500000</Pan>
        <Instruments>
            <Instrument number="1">
                <Volume>1.000000</Volume>
                <Pan>0.500000</Pan>
                <Mute>False</Mute>
                <MuteGroup>0</MuteGroup>
                <Mono>False</Mono>
                <Polyphony>1</Polyphony>
                <OneShot>True</OneShot>
                <LowNote>13</LowNote>
                <HighNote>140</HighNote>
                <FilterType>0</FilterType>
                <Cutoff>1.000000</Cutoff>
                <Resonance>0.000000</Resonance>
                <FilterEnvAmt>0.000000</FilterEnvAmt>
                <FilterKeytrack>0.000000</FilterKeytrack>
                <FilterAttack>0.000000</FilterAttack>
                <FilterDecay>0.000000</FilterDecay>
                <FilterSustain>1.000000</FilterSustain>
                <FilterRelease>0.000000</FilterRelease>
                <FilterHold>0.000000</FilterHold>
                <VolumeAttack>0.000000</VolumeAttack>
                <VolumeDecay>0.000000</VolumeDecay>
                <VolumeSustain>1.000000</VolumeSustain>
                <VolumeRelease>0.000000</VolumeRelease>
                <VolumeHold>0.000000</VolumeHold>
                <VolumeDecayType>True</VolumeDecayType>
                <VolumeADEnvelope>True</VolumeADEnvelope>
                <LFO>
                    <Type>Sine</Type>
                    <Rate>0.000000</Rate>
                    <Sync>0</Sync>
                    <Reset>False</Reset>
                </LFO>
                <LfoPitch>0.000000</LfoPitch>
                <LfoCutoff>0.000000</LfoCutoff>
                <LfoVolume>0.000000</LfoVolume>
                <LfoPan>0.000000</LfoPan>
                <WarpTempo>120.000000</WarpTempo>
                <BpmLock>False</BpmLock>
                <WarpEnable>False</WarpEnable>
                <StretchPercentage>100</StretchPercentage>
                <Layers>
                    <Layer number="1">
                        <Active>True</Active>
                        <Volume>1.000000</Volume>
                        <Pan>0.500000</Pan>
                        <Pitch>0.000000</Pitch>
                        <TuneCoarse>0</TuneCoarse>
                        <TuneFine>0</TuneFine>
                        <VelStart>0</VelStart>
                        <VelEnd>127</VelEnd>
                        <SampleStart>0</SampleStart>
                        <SampleEnd>100</SampleEnd>
                        <Loop>False</Loop>
                        <LoopStart>0</LoopStart>
                        <LoopEnd>0</LoopEnd>
                        <LoopTune>0</LoopTune>
                        <RootNote>73</RootNote>
                        <KeyTrack>True</KeyTrack>
                        <SampleName>Pad01_Note060</SampleName>
                        <SampleFile>Pad01_Note060.wav</SampleFile>
                    </Layer>
                    <Layer number="2">
                        <Active>False</Active>
                        <Volume>1.000000</Volume>
                        <Pan>0.500000</Pan>
                        <VelStart>0</VelStart>
                        <VelEnd>127</VelEnd>
                        <SampleName></SampleName>
                    </Layer>
                    <Layer number="3">
                        <Active>False</Active>
                        <Volume>1.000000</Volume>
                        <Pan>0.500000</Pan>
                        <VelStart>0</VelStart>
                        <VelEnd>127</VelEnd>
                        <SampleName></SampleName>
                    </Layer>
                    <Layer number="4">
                        <Active>False</Active>
                        <Volume>1.000000</Volume>
                        <Pan>0.500000</Pan>
                        <VelStart>0</VelStart>
                        <VelEnd>127</VelEnd>
                        <SampleName></SampleName>
                    </Layer>
                </Layers>
            </Instrument>
        </Instruments>
        <PadNoteMap>
)xml";
  for (int n = 1; n <= 128; ++n)
    text += Format("            <PadNote number=\"%d\">\n                <Note>%d</Note>\n            </PadNote>\n", n,
                   drum ? n + 35 : n - 1);
  text += R"xml(        </PadNoteMap>
        <PadGroupMap>
)xml";
  for (int n = 1; n <= 128; ++n)
    text += Format("            <PadGroup number=\"%d\">\n                <Group>0</Group>\n            </PadGroup>\n", n);
  text += R"xml(        </PadGroupMap>
        <KeygroupMasterTranspose>0.500000</KeygroupMasterTranspose>
        <KeygroupNumKeygroups>1</KeygroupNumKeygroups>
        <KeygroupPitchBendRange>0.000000</KeygroupPitchBendRange>
        <KeygroupWheelToLfo>0.000000</KeygroupWheelToLfo>
        <KeygroupAftertouchToFilter>0.000000</KeygroupAftertouchToFilter>
    </Program>
</MPCVObject>
)xml";
  return text;
}

AkaiProgram OneKeygroup() {
  AkaiProgram p;
  p.type = "Keygroup";
  p.programName = "Kit";
  p.applicationVersion = "3.0.0";
  p.programVolume = 0.7f;
  p.keygroupNumKeygroups = 1;
  AkaiInstrument in;
  in.number = 1;
  in.lowNote = 13;
  in.highNote = 140;
  AkaiLayer l;
  l.active = true;
  l.sampleName = "Pad01_Note060";
  l.sampleFile = "Pad01_Note060.wav";
  l.rootNote = 73;
  l.sampleEnd = 100;
  l.keyTrack = true;
  in.layers.push_back(l);
  p.instruments.push_back(in);
  return p;
}

TEST(AkaiProgramWrite, GoldenKeygroupProgram) {
  std::string text = "old content";
  EXPECT_TRUE(CAKAIParse().GenerateProgramXml(OneKeygroup(), text));
  EXPECT_EQ(text, ExpectedProgram(std::vector<int>(128, 0), false));
}

TEST(AkaiProgramWrite, PadsJsonHas144LinesAndDrumDefaults) {
  AkaiProgram p;
  p.type = "Drum";
  p.instruments.resize(2);
  p.instruments[0].number = 1;
  p.instruments[0].padNote = -1;
  p.instruments[1].number = 1;
  p.instruments[1].padNote = 36;  // the first instrument with a note wins
  const std::string json = CAKAIParse::BuildProgramPadsJson(p);
  EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 143);
  EXPECT_EQ(json.back(), '}');
  EXPECT_THAT(json, HasSubstr("            \"value0\": 36,\n            \"value1\": 0,\n"));
  EXPECT_THAT(json, HasSubstr("            \"value127\": 0\n        },\n"));

  std::string text;
  CAKAIParse().GenerateProgramXml(p, text);
  EXPECT_THAT(text, HasSubstr("<PadNote number=\"1\">\n                <Note>36</Note>"));
  EXPECT_THAT(text, HasSubstr("<PadNote number=\"128\">\n                <Note>163</Note>"));
}

TEST(AkaiProgramWrite, WritesFourLayersAndReadsBackWhatItWrites) {
  AkaiProgram p = OneKeygroup();
  AkaiInstrument& in = p.instruments[0];
  in.volume = 0.123456789f;
  in.pan = 0.751969f;
  in.filterKeytrack = true;
  in.lfoType = "Saw";
  in.padNote = 37;
  in.layers[0].loop = true;
  in.layers[0].loopStart = 5;
  in.layers[0].loopEnd = 50;
  in.layers[0].tuneCoarse = -7;
  for (int i = 0; i < 5; ++i) in.layers.push_back(in.layers[0]);  // six layers
  in.layers[3].sampleName = "fourth";
  in.layers[5].sampleName = "sixth";
  p.inserts[1] = {true, "Reverb", "data"};
  p.padNoteMap[3] = 77;

  std::string text;
  CAKAIParse().GenerateProgramXml(p, text);
  const AkaiProgram back = Load(text);
  EXPECT_TRUE(back.valid);
  EXPECT_EQ(back.programName, "");  // written as ProgramName, read from Name
  EXPECT_EQ(back.type, "Keygroup");
  EXPECT_EQ(back.applicationVersion, "3.0.0");
  EXPECT_FLOAT_EQ(back.programVolume, 0.7f);
  EXPECT_EQ(back.padNoteMap.size(), 128u);
  EXPECT_EQ(back.padNoteMap.at(3), 77);
  EXPECT_EQ(back.padNoteMap.at(4), 3);
  EXPECT_EQ(back.padGroupMap.size(), 128u);
  EXPECT_TRUE(back.inserts[1].enable);
  EXPECT_EQ(back.inserts[1].name, "Reverb");
  EXPECT_EQ(back.inserts[1].data, "data");
  ASSERT_EQ(back.instruments.size(), 1u);
  const AkaiInstrument& r = back.instruments[0];
  EXPECT_FLOAT_EQ(r.volume, 0.123457f);  // six decimals
  EXPECT_FLOAT_EQ(r.pan, 0.751969f);
  EXPECT_TRUE(r.filterKeytrack);
  EXPECT_EQ(r.lfoType, "Saw");
  EXPECT_EQ(r.padNote, 37);
  EXPECT_EQ(r.lowNote, 13);
  EXPECT_EQ(r.highNote, 140);
  ASSERT_EQ(r.layers.size(), 4u);
  EXPECT_EQ(r.layers[0].sampleName, "Pad01_Note060");
  EXPECT_EQ(r.layers[0].sampleFile, "Pad01_Note060.wav");
  EXPECT_TRUE(r.layers[0].loop);
  EXPECT_EQ(r.layers[0].loopStart, 5);
  EXPECT_EQ(r.layers[0].loopEnd, 50);
  EXPECT_EQ(r.layers[0].tuneCoarse, -7);
  EXPECT_EQ(r.layers[0].rootNote, 73);
  EXPECT_TRUE(r.layers[0].keyTrack);
  EXPECT_EQ(r.layers[3].sampleName, "fourth");

  // One layer: three placeholders that read back inactive and empty.
  std::string single;
  CAKAIParse().GenerateProgramXml(OneKeygroup(), single);
  const AkaiProgram again = Load(single);
  ASSERT_EQ(again.instruments[0].layers.size(), 4u);
  for (size_t i = 1; i < 4; ++i) {
    const AkaiLayer& l = again.instruments[0].layers[i];
    EXPECT_FALSE(l.active);
    EXPECT_FLOAT_EQ(l.volume, 1.0f);
    EXPECT_FLOAT_EQ(l.pan, 0.5f);
    EXPECT_EQ(l.velStart, 0);
    EXPECT_EQ(l.velEnd, 127);
    EXPECT_EQ(l.sampleName, "");
  }
  EXPECT_EQ(CAKAIParse::ProgramToImportRegions(again).size(), 1u);
}

}  // namespace
}  // namespace zandrel
