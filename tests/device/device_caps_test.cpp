// What the device accepts (its audio formats and the upload rate chosen from
// them) and the sounds a project's pads use.
#include "device/device_caps.h"

#include <gtest/gtest.h>

namespace zandrel {
namespace {

std::vector<EPAudioFormat> Formats(const char* deviceInfo, bool ok = true) {
  std::vector<EPAudioFormat> formats;
  std::string error;
  EXPECT_EQ(ParseAudioFormats(EPJson::parse(deviceInfo), formats, error), ok) << deviceInfo;
  EXPECT_EQ(error.empty(), ok) << error;
  return formats;
}

TEST(AudioFormats, ReadFromTheDeviceInformation) {
  const EPAudioFormat fallback{"pcm", 46875, 46875, 46875, {1, 2}, {}};
  EXPECT_EQ(Formats(R"({"free_space_in_bytes":5})"), std::vector<EPAudioFormat>{fallback});
  EXPECT_EQ(Formats(R"({"formats":{"type":"pcm"}})"), std::vector<EPAudioFormat>{fallback});
  EXPECT_EQ(Formats("[1]"), std::vector<EPAudioFormat>{fallback});

  EXPECT_EQ(Formats(R"({"formats":[{"type":"pcm","formats":[{"samplerate.range":[22050,48000]}]}]})"),
            (std::vector<EPAudioFormat>{{"pcm", 22050, 48000, 35025, {}, {}}}));
  EXPECT_EQ(Formats(R"({"formats":[{"formats":[{"samplerate.native":46875,"channels":[1,"two",2.5],)"
                    R"("format":["s16",3]}]}]})"),
            (std::vector<EPAudioFormat>{{"", 46875, 46875, 46875, {1, 2}, {"s16"}}}));
  EXPECT_EQ(Formats(R"({"formats":[{"type":"pcm","formats":[{"samplerate.range":[46875],"samplerate.native":9}]}]})"),
            (std::vector<EPAudioFormat>{{"pcm", 0, 0, 0, {}, {}}}));
  EXPECT_EQ(Formats(R"({"formats":[{"type":"a","formats":[{"samplerate.range":[8000,16000],"samplerate.native":11025},)"
                    R"(5,{"channels":[1]}]},"x",{"type":"b"}]})"),
            (std::vector<EPAudioFormat>{{"a", 8000, 16000, 11025, {}, {}}, {"a", 0, 0, 0, {1}, {}}}));
  // Entries without variants: an empty list, which the upload refuses.
  EXPECT_TRUE(Formats(R"({"formats":[{"type":"pcm"}]})").empty());
}

TEST(AudioFormats, ARangeBoundThatIsNoNumberFails) {
  std::vector<EPAudioFormat> formats;
  std::string error;
  EXPECT_FALSE(ParseAudioFormats(EPJson::parse(R"({"formats":[{"formats":[{"samplerate.range":["a",48000]}]}]})"),
                                 formats, error));
  EXPECT_EQ(error, "Failed to parse audio formats: [json.exception.type_error.302] type must be number, but is string");
}

TEST(UploadRate, FromTheFirstFormat) {
  struct Case {
    EPAudioFormat format;
    uint32_t source;
    uint32_t target;
  };
  const Case cases[] = {
      {{"pcm", 22050, 48000, 35025, {}, {}}, 44100, 44100},
      {{"pcm", 22050, 48000, 35025, {}, {}}, 96000, 48000},
      {{"pcm", 22050, 48000, 35025, {}, {}}, 8000, 22050},
      {{"pcm", 46875, 46875, 46875, {}, {}}, 44100, 46875},
      {{"pcm", 0, 0, 0, {}, {}}, 44100, 46875},
      {{"pcm", 0, 0, 0, {}, {}}, 46875, 46875},
      {{"pcm", 0, 48000, 24000, {}, {}}, 44100, 24000},
      // Rates nobody plays at fall back to the device's usual rate.
      {{"pcm", 0, 0, 4294967295u, {}, {}}, 44100, 46875},
      {{"pcm", 1, 2, 1, {}, {}}, 44100, 46875},
      {{"pcm", 8000, 4000000, 8000, {}, {}}, 3000000, 46875},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseUploadRate(c.format, c.source), c.target) << c.format.minRate << ".." << c.format.maxRate;
  }
}

TEST(UsedSounds, FromThePadsOfAProjectTree) {
  const EPJson tree = EPJson::parse(R"({"groups":[
    {"banks":[{"pads":[{"metadata":{"sym":12}},{"metadata":{"sym":5}},{"metadata":{"sym":12}},
                       {"metadata":{"sym":0}},{"metadata":{"sym":7.0}},{"metadata":{"sym":-3}},
                       {"metadata":{"sym":70000}},{"metadata":{"sym":18446744073709551615}},
                       {"metadata":{"sym":"9"}},{"metadata":[1]},{"nometadata":1},3]},
              {"pads":{"metadata":{"sym":40}}}, 5]},
    {"banks":[{"pads":[{"metadata":{"sym":65535}}]}]},
    {"nobanks":[]}, "x"]})");
  EXPECT_EQ(CollectUsedSoundIds(tree), (std::vector<uint16_t>{5, 12, 65535}));
  EXPECT_TRUE(CollectUsedSoundIds(EPJson::parse("[]")).empty());
  EXPECT_TRUE(CollectUsedSoundIds(EPJson::parse(R"({"groups":{}})")).empty());
}

}  // namespace
}  // namespace zandrel
