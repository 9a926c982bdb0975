// Writes a small seed corpus for each fuzz target into the folder given on
// the command line: <folder>/<target>/<seed>.
#include <filesystem>
#include <string>

#include "support/wav_builder.h"

using namespace zandrel::test;
namespace fs = std::filesystem;

namespace {

void Seed(const fs::path& folder, const std::string& name, const Bytes& bytes) {
  fs::create_directories(folder);
  WriteFileBytes(folder / name, bytes);
}

void WavSeeds(const fs::path& out) {
  const std::string json =
      R"({"sound.playmode":"loop","sound.rootnote":60,"sound.bpm":93.5,"sample.mode":"multi","regions":[)"
      R"({"sample.start":0,"sample.end":4,"sample.lokey":0,"sample.hikey":60,"sound.rootnote":60,)"
      R"("sound.loopstart":1,"sound.loopend":3},{"sample.start":4,"sample.end":8}]})";
  Seed(out, "pcm16", MakePcm16Wav({0, 100, -100, 32767, -32768, 5, 6, 7}));
  Seed(out, "stereo", MakePcm16Wav({1, 2, 3, 4}, 2, 48000));
  Seed(out, "instrument",
       WavBuilder()
           .Fmt(1, 1, 44100, 16)
           .Chunk("LIST", ListInfo({{"INAM", Text("name")}, {"TNGE", TngeBody(json)}}))
           .Chunk("smpl", SmplBody(64, 22675))
           .Chunk("acid", AcidBody(60, 4, 95.0f))
           .Data(Pcm16({1, 2, 3, 4, 5, 6, 7, 8}))
           .Build());
  Seed(out, "float-ext", WavBuilder()
                             .Chunk("fmt ", ExtensibleFmtRecord(2, 44100, 32, 3))
                             .Data(Cat({FloatLE(0.5f), FloatLE(-0.5f)}))
                             .Build());
  Seed(out, "pcm24", WavBuilder().Fmt(1, 2, 44100, 24).Data(Bytes(12, 0x7F)).Build());
  Seed(out, "pcm8", WavBuilder().Fmt(1, 1, 8000, 8).Data(Bytes{0, 128, 255}).Chunk("LIST", Bytes(27, 'x')).Build());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const fs::path root = argv[1];
  WavSeeds(root / "fuzz_wav_file");
  WavSeeds(root / "fuzz_document");
  return 0;
}
