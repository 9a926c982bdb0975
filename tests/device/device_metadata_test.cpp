// Device sound metadata: the validity rule, the instrument chunk to device
// metadata conversion with its rescaled and clamped positions, the way back,
// and the names made for the device and for downloaded files.
#include "device/device_metadata.h"

#include <gtest/gtest.h>

#include <string>

#include "device/device_client.h"

namespace zandrel {
namespace {

EPJson J(const char* text) { return EPJson::parse(text); }

// The upload's call: defaults {0, 0, 60, 0.0}.
std::string Build(const std::string& instrument, int channels, uint32_t target, uint32_t source, uint32_t frames,
                  size_t maxRegions = 1000) {
  return CEPDeviceClient::BuildDeviceMetadata(instrument, DeviceMetadataDefaults{}, channels, target, source, "Kick",
                                              frames, maxRegions);
}

TEST(MetadataValidity, RangesPerKey) {
  struct Case {
    const char* key;
    const char* value;
    bool valid;
  };
  const Case cases[] = {
      {"sound.rootnote", "0", false},      {"sound.rootnote", "1", true},       {"sound.rootnote", "127", true},
      {"sound.rootnote", "128", false},    {"sound.pitch", "12", true},         {"sound.pitch", "13", false},
      {"sound.pitch", "-12", true},        {"sound.pitch", "-12.9", true},      {"sound.pitch", "\"3\"", true},
      {"sound.pan", "-16", true},          {"sound.pan", "-17", false},         {"sound.amplitude", "200", true},
      {"sound.amplitude", "201", false},   {"envelope.attack", "255", true},    {"envelope.release", "256", false},
      {"sound.bpm", "59.5", false},        {"sound.bpm", "180.9", true},        {"sound.bpm", "60", true},
      {"sound.loopstart", "0", true},      {"sound.loopend", "-1", false},      {"sound.loopstart", "2147483647", true},
      {"sound.playmode", "\"\"", false},   {"sound.playmode", "\"loop\"", true}, {"time.mode", "\"\"", false},
      {"sample.mode", "\"\"", true},       {"sample.mode", "null", false},      {"sample.mode", "5", true},
      {"regions", "[]", true},             {"regions", "{}", true},             {"sound.pitch", "true", true},
      // Numbers beyond 32 bits are no value of a ranged key, whatever their
      // low bits say.
      {"sound.rootnote", "4294967356", false}, {"sound.bpm", "4294967416", false}, {"sound.pan", "1e20", false},
      {"other.key", "4294967356", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidMetadataValue(c.key, J(c.value)), c.valid) << c.key << " " << c.value;
}

TEST(MetadataValidity, IntegerKeysTakeTheConvertedValue) {
  EXPECT_EQ(*MetadataValueFor("sound.pitch", J("3.7")), J("3"));
  EXPECT_TRUE(MetadataValueFor("sound.pitch", J("3.7"))->is_number_integer());
  EXPECT_EQ(*MetadataValueFor("sound.loopstart", J("100.9")), J("100"));
  // The tempo is a number of its own: kept as it came.
  EXPECT_EQ(*MetadataValueFor("sound.bpm", J("93.5")), J("93.5"));
  EXPECT_EQ(*MetadataValueFor("sound.pitch", J("\"3\"")), J("\"3\""));
}

TEST(DeviceMetadata, WithoutInstrumentDataTheDefaultsAndTheFixedKeys) {
  EXPECT_EQ(Build("", 2, 46875, 46875, 1000),
            R"({"sound.loopstart":0,"sound.loopend":0,"sound.rootnote":60,"format":"pcm","channels":2,)"
            R"("samplerate":46875,"name":"Kick"})");
  // Unparsable text or no object: the same.
  EXPECT_EQ(Build("{oops", 2, 46875, 46875, 1000), Build("", 2, 46875, 46875, 1000));
  EXPECT_EQ(Build("[1,2]", 2, 46875, 46875, 1000), Build("", 2, 46875, 46875, 1000));
  // A tempo in range among the defaults is written as a float.
  EXPECT_EQ(CEPDeviceClient::BuildDeviceMetadata("", {-1, -1, 0, 120.0f}, 1, 46875, 46875, "a", 10),
            R"({"sound.bpm":120.0,"format":"pcm","channels":1,"samplerate":46875,"name":"a"})");
}

TEST(DeviceMetadata, LoopPointsAreRescaledAndClamped) {
  struct Case {
    const char* instrument;
    const char* loops;
  };
  const Case cases[] = {
      {R"({"sound.loopstart":44100,"sound.loopend":88200})", R"("sound.loopstart":46875,"sound.loopend":93750)"},
      {R"({"sound.loopstart":44100,"sound.loopend":200000})", R"("sound.loopstart":46875,"sound.loopend":100000)"},
      {R"({"sound.loopstart":94080,"sound.loopend":200000})", R"("sound.loopstart":99999,"sound.loopend":100000)"},
      {R"({"sound.loopstart":-1,"sound.loopend":-1})", ""},
      {R"({"sound.loopstart":1e30,"sound.loopend":1e30})", R"("sound.loopstart":99999,"sound.loopend":100000)"},
  };
  for (const Case& c : cases) {
    const std::string loops = *c.loops ? std::string(c.loops) + "," : "";
    EXPECT_EQ(Build(c.instrument, 1, 46875, 44100, 100000),
              "{" + loops + R"("sound.rootnote":60,"format":"pcm","channels":1,"samplerate":46875,"name":"Kick"})")
        << c.instrument;
  }
}

TEST(DeviceMetadata, RegionsGoWithMultiSampleMode) {
  const std::string instrument =
      R"({"sound.playmode":"key","sound.rootnote":60,"sample.mode":"single","sound.pitch":2,"regions":[)"
      R"({"sample.start":0,"sample.end":44100,"sample.lokey":0,"sample.hikey":59,"sound.rootnote":48,)"
      R"("sound.loopstart":100,"sound.loopend":-1},)"
      R"({"sample.start":44100,"sample.end":300000,"sample.lokey":60,"sound.rootnote":72,"sound.pan":3},)"
      R"({"sample.start":10,"sample.end":20,"sample.lokey":70,"sample.hikey":60},7]})";
  EXPECT_EQ(Build(instrument, 1, 46875, 44100, 100000),
            R"({"sound.playmode":"key","sound.pitch":2,"sample.mode":"multi","sound.rootnote":60,"regions":[)"
            R"({"sample.start":0,"sample.end":46875,"sound.loopstart":106,"sample.lokey":0,"sample.hikey":59,)"
            R"("sound.rootnote":48},)"
            R"({"sample.start":46875,"sample.end":100000,"sample.lokey":60,"sample.hikey":127,"sound.rootnote":72,)"
            R"("sound.pan":3}],)"
            R"("format":"pcm","channels":1,"samplerate":46875,"name":"Kick"})");
  // Without a copied "sample.mode", it follows "regions".
  EXPECT_EQ(Build(R"({"regions":[{"sample.start":0,"sample.end":10}]})", 1, 100, 100, 10),
            R"({"regions":[{"sample.start":0,"sample.end":10,"sample.lokey":0,"sample.hikey":127}],)"
            R"("sample.mode":"multi","sound.rootnote":60,"format":"pcm","channels":1,"samplerate":100,"name":"Kick"})");
}

TEST(DeviceMetadata, RegionsLeftOutLeaveTheTopLevelLoop) {
  const char* cases[] = {
      R"({"sample.mode":"single","regions":[{"sample.lokey":70,"sample.hikey":60}]})",
      R"({"sample.mode":"single","regions":[{"sample.lokey":"low"}]})",
      R"({"sample.mode":"single","regions":[{"sample.hikey":null}]})",
      R"({"sample.mode":"single","regions":{"sample.start":0}})",
      R"({"sample.mode":"single","regions":[]})",
  };
  for (const char* instrument : cases) {
    EXPECT_EQ(Build(instrument, 1, 46875, 46875, 50),
              R"({"sample.mode":"single","sound.loopstart":0,"sound.loopend":0,"sound.rootnote":60,"format":"pcm",)"
              R"("channels":1,"samplerate":46875,"name":"Kick"})")
        << instrument;
  }
}

TEST(DeviceMetadata, PlainKeysPassTheValidityRuleConverted) {
  EXPECT_EQ(Build(R"({"sound.rootnote":0})", 1, 100, 100, 10), Build("", 1, 100, 100, 10));
  EXPECT_EQ(Build(R"({"sound.rootnote":4294967356})", 1, 100, 100, 10), Build("", 1, 100, 100, 10));
  EXPECT_EQ(Build(R"({"sound.rootnote":127,"sound.pitch":3.7,"sound.pan":-17,"sound.amplitude":200.5,)"
                  R"("envelope.release":-1,"sound.bpm":93.5,"time.mode":""})",
                  1, 100, 100, 10),
            R"({"sound.pitch":3,"sound.amplitude":200,"sound.rootnote":127,"sound.bpm":93.5,"sound.loopstart":0,)"
            R"("sound.loopend":0,"format":"pcm","channels":1,"samplerate":100,"name":"Kick"})");
}

TEST(DeviceMetadata, AudioWithoutFramesHasEveryPositionAtZero) {
  // "frame count - 1" must not wrap to 4294967295.
  EXPECT_EQ(Build(R"({"sound.loopstart":5,"sound.loopend":9})", 1, 100, 100, 0),
            R"({"sound.loopstart":0,"sound.loopend":0,"sound.rootnote":60,"format":"pcm","channels":1,)"
            R"("samplerate":100,"name":"Kick"})");
  EXPECT_EQ(Build(R"({"regions":[{"sample.start":5,"sample.end":9,"sound.loopstart":6,"sound.loopend":8}]})", 1, 100,
                  100, 0),
            R"({"regions":[{"sample.start":0,"sample.end":0,"sound.loopstart":0,"sound.loopend":0,"sample.lokey":0,)"
            R"("sample.hikey":127}],"sample.mode":"multi","sound.rootnote":60,"format":"pcm","channels":1,)"
            R"("samplerate":100,"name":"Kick"})");
}

TEST(DeviceMetadata, AtMostTheRegionLimitIsKept) {
  std::string instrument = R"({"regions":[)";
  for (int i = 0; i < 10; ++i) {
    instrument += (i ? "," : "") + std::string(R"({"sample.start":)") + std::to_string(i * 10) +
                  R"(,"sample.end":)" + std::to_string(i * 10 + 10) + R"(,"sample.lokey":)" + std::to_string(i * 10) +
                  R"(,"sample.hikey":)" + std::to_string(i * 10 + 9) + "}";
  }
  instrument += "]}";
  const EPJson out = ParseDeviceJson(Build(instrument, 1, 100, 100, 100, 8));
  ASSERT_EQ(out["regions"].size(), 8u);
  // The last kept zone takes over what the dropped ones covered.
  EXPECT_EQ(DumpDeviceJson(out["regions"][7]),
            R"({"sample.start":70,"sample.end":100,"sample.lokey":70,"sample.hikey":127})");
  EXPECT_EQ(DumpDeviceJson(out["regions"][6]), R"({"sample.start":60,"sample.end":70,"sample.lokey":60,"sample.hikey":69})");
}

TEST(DeviceMetadataDownload, InstrumentKeysOnly) {
  EXPECT_EQ(DeviceMetadataToInstrumentJson(J(R"({"name":"Kick","channels":1,"samplerate":46875})")), "");
  EXPECT_EQ(DeviceMetadataToInstrumentJson(J("[1,2]")), "");
  EXPECT_EQ(DeviceMetadataToInstrumentJson(J(R"("text")")), "");
  EXPECT_EQ(DeviceMetadataToInstrumentJson(EPJson()), "");
  EXPECT_EQ(DeviceMetadataToInstrumentJson(J(
                R"({"name":"x","sample.mode":"multi","regions":[{"anything":1}],"sound.pitch":3.7,"sound.pan":99,)"
                R"("sound.bpm":120.5,"sound.loopend":10,"sound.loopstart":2,"sound.playmode":"loop","sym":4})")),
            R"({"sound.loopstart":2,"sound.loopend":10,"sound.playmode":"loop","sound.bpm":120.5,"sound.pitch":3,)"
            R"("sample.mode":"multi","regions":[{"anything":1}]})");
}

TEST(SoundNames, MadeFitForTheDevice) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"C:\\Samples\\001 Snare.wav", "Snare"},
      {"/home/u/012 Kick.wav", "Kick"},
      {"my.sound", "my"},
      {"123 ", "123 "},
      {"12 Kick", "12 Kick"},
      {"Grand Piano Long Release", "Grand Piano Long"},
      {"a\"b\"cdefghijklmnopq", "abcdefghijklmn"},
      {"Caf\xE9", "Caf?"},
      {"tab\there", "tab?here"},
      {"", ""},
      {".hidden", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(SanitizeSoundName(c.in), c.out) << c.in;
}

TEST(SoundNames, DownloadFileNamesStayInTheirFolder) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"Kick", "Kick.wav"},
      {"Kick.WAV", "Kick.WAV"},
      {"../../etc/passwd", ".._.._etc_passwd.wav"},
      {"..", "...wav"},
      {".", "..wav"},
      {"", "download.wav"},
      {"a\\b", "a_b.wav"},
      {std::string("nul\0byte", 8), "nul_byte.wav"},
      {"line\nfeed\x7F", "line_feed_.wav"},
      {std::string(300, 'x'), std::string(200, 'x') + ".wav"},
  };
  for (const Case& c : cases) {
    const std::string name = DownloadFileName(c.in);
    EXPECT_EQ(name, c.out) << c.in;
    const std::filesystem::path joined = std::filesystem::path("/tmp/folder") / name;
    EXPECT_EQ(joined.lexically_normal().parent_path(), "/tmp/folder") << c.in;
  }
}

TEST(DeviceJson, ParsedSafely) {
  EXPECT_EQ(ParseDeviceJson(std::string("{\"a\":1}\0garbage", 15)), J(R"({"a":1})"));
  EXPECT_TRUE(ParseDeviceJson("").is_null());
  EXPECT_TRUE(ParseDeviceJson("{\"a\":").is_null());
  EXPECT_TRUE(ParseDeviceJson(std::string(65, '[') + std::string(65, ']')).is_null());
  EXPECT_EQ(ParseDeviceJson(std::string(64, '[') + std::string(64, ']')).size(), 1u);
  EXPECT_EQ(ParseDeviceJson(R"({"s":")" + std::string(100, '[') + R"("})")["s"].get<std::string>().size(), 100u);
  // Names from the device are raw bytes: writing them never throws.
  EPJson named = EPJson::object();
  named["name"] = std::string("\xFF\xFE");
  EXPECT_EQ(DumpDeviceJson(named), "{\"name\":\"\xEF\xBF\xBD\xEF\xBF\xBD\"}");
}

}  // namespace
}  // namespace zandrel
