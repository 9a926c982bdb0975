// Writes a small seed corpus for each fuzz target into the folder given on
// the command line: <folder>/<target>/<seed>.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "kits/akai_program.h"
#include "support/wav_builder.h"
#include "tools/midi_builder.h"

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

// Records for fuzz_device_replies: control byte (kind in bits 0-1: 1 reply,
// 2 event, 3 raw; bit 7 ends the answer to one message of the link), a
// one-byte length, the bytes.
Bytes DeviceRecord(uint8_t kind, const Bytes& bytes, bool last = true) {
  Bytes record = {static_cast<uint8_t>(kind | (last ? 0x80 : 0x00)), static_cast<uint8_t>(bytes.size())};
  record.insert(record.end(), bytes.begin(), bytes.end());
  return record;
}

void DeviceReplySeeds(const fs::path& out) {
  const Bytes identity = DeviceRecord(3, {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x00, 0x20, 0x76, 0x05, 0x01, 0x07, 0x00,
                                          0x01, 0x00, 0x00, 0x00, 0xF7});
  const Bytes init = DeviceRecord(1, {0x00, 0x00, 0x00, 0x00, 0x10, 0x00});
  const Bytes rootPage = DeviceRecord(1, {0x00, 0x00, 0x00, 0x07, 0xD0, 0x02, 0x00, 0x00, 0x00, 0x00, 's', 'o', 'u',
                                          'n', 'd', 's', 0x00, 0x0B, 0xB8, 0x02, 0x00, 0x00, 0x00, 0x00, 'p', 'r',
                                          'o', 'j', 'e', 'c', 't', 's', 0x00});
  const Bytes endPage = DeviceRecord(1, {0x00, 0x00, 0x00});
  const Bytes soundPage = DeviceRecord(1, {0x00, 0x00, 0x00, 0x00, 0x05, 0x10, 0x00, 0x00, 0x12, 0x34, 'a', 0x00});
  const Bytes fileInfo = DeviceRecord(1, {0x00, 0x00, 0x05, 0x07, 0xD0, 0x10, 0x00, 0x00, 0x12, 0x34, 'a', 0x00});
  const Bytes metadata = DeviceRecord(1, {0x00, 0x00, 0x00, '{', '"', 'f', 'r', 'e', 'e', '_', 's', 'p', 'a', 'c',
                                          'e', '_', 'i', 'n', '_', 'b', 'y', 't', 'e', 's', '"', ':', '9', '}', 0x00});
  const Bytes ok = DeviceRecord(1, {0x00});
  const Bytes deleted = DeviceRecord(2, {0x0A, 0x05, 0x00}, false);
  const Bytes moved = DeviceRecord(2, {0x0D, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00}, false);
  const Bytes session = Cat({identity, init, rootPage, endPage, soundPage, endPage, fileInfo, metadata, ok, ok, ok,
                             ok, ok, deleted, ok, metadata, rootPage, endPage});
  Seed(out, "session", session);
  Seed(out, "events", Cat({identity, moved, init, deleted, DeviceRecord(1, {0x00, 0x08, 0x01, 0x02})}));
  Seed(out, "errors", Cat({identity, DeviceRecord(1, {0x05}), DeviceRecord(0, {}), DeviceRecord(1, {0x00, 0x00})}));

  // The transfers after the session, then a client's connect, project tree
  // and sound transfers.
  const auto text = [](std::string_view json) { return Cat({Bytes{0x00, 0x00, 0x00}, Text(json), Bytes{0x00}}); };
  const Bytes transfers =
      Cat({DeviceRecord(1, {0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0xC8}),  // file read
           DeviceRecord(1, Cat({{0x00, 0x00, 0x00}, Bytes(200, 0x21)})),
           DeviceRecord(1, {0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x03, 0x20}),  // preview
           DeviceRecord(1, Cat({{0x00, 0x00, 0x00}, Bytes(200, 0x7F)})), endPage,
           DeviceRecord(1, {0x00, 0x00, 0x0B, 0xB9, 0x00, 0x00, 0x00, 0x20}),  // project archive
           DeviceRecord(1, Cat({{0x00, 0x00, 0x00}, Bytes(32, 0x33)})),
           ok, ok, ok, ok, ok, ok});  // two uploads: init, chunk, end marker
  const Bytes deviceInfo = DeviceRecord(
      1, text(R"({"free_space_in_bytes":9000000,"formats":[{"type":"pcm","formats":[{"samplerate.range":[22050,)"
              R"(48000],"channels":[1,2]}]}]})"));
  const Bytes projectsPage =
      DeviceRecord(1, {0x00, 0x00, 0x00, 0x0B, 0xB9, 0x02, 0x00, 0x00, 0x00, 0x00, 'P', '0', '1', 0x00});
  const Bytes client =
      Cat({identity, init, rootPage, endPage, deviceInfo, soundPage, endPage,
           DeviceRecord(1, text(R"({"name":"Kick","channels":1,"samplerate":46875,"regions":[{"sample.start":0}]})")),
           projectsPage, endPage, DeviceRecord(1, text(R"({"name":"P01"})")), projectsPage, endPage,
           DeviceRecord(1, text(R"({"sym":5})"))});
  Seed(out, "client", Cat({session, transfers, client}));
}

void InstrumentSeeds(const fs::path& out) {
  Seed(out, "global",
       Text(R"({"sound.playmode":"loop","sound.rootnote":60,"sound.pitch":-3,"sound.pan":4,"sound.amplitude":90,)"
            R"("sound.loopstart":10,"sound.loopend":900,"sound.bpm":93.5,"envelope.attack":5,"envelope.release":20,)"
            R"("time.mode":"off","sample.mode":"single"})"));
  std::string many = R"({"sample.mode":"multi","regions":[)";
  for (int i = 0; i < 1500; ++i) {
    if (i) many += ',';
    many += R"({"sample.start":)" + std::to_string(i * 10) + R"(,"sample.end":)" + std::to_string(i * 10 + 10) +
            R"(,"sample.lokey":0,"sample.hikey":127,"sound.rootnote":60,"sound.loopstart":-1,"sound.loopend":-1})";
  }
  many += "]}";
  Seed(out, "many-regions", Text(many));
  Seed(out, "not-objects", Text(R"({"regions":[1,2,"x",null,[],{"sample.start":0,"sample.end":5}]})"));
}

void SettingsSeeds(const fs::path& out) {
  Seed(out, "layout", Text("Standard,57600,57601,0,57603\nMine,32771,0,32772\nSecond,,x,-1\n\n\n\n\n\n\n\n\n"
                           "/home/user/kick.wav\n\n/tmp/b.wav\nrelative.wav"));
  Seed(out, "empty", Bytes{});
}

// Header of fuzz_processing: channels, format, block alignment, pitch window,
// rate (LE), ratio (LE double).
Bytes ProcessingHeader(uint8_t channels, uint8_t format, uint32_t rate, double ratio) {
  Bytes header = {channels, format, 0, 0x80};
  for (int i = 0; i < 4; ++i) header.push_back(static_cast<uint8_t>(rate >> (8 * i)));
  uint64_t bits = 0;
  std::memcpy(&bits, &ratio, 8);
  for (int i = 0; i < 8; ++i) header.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  return header;
}

void ProcessingSeeds(const fs::path& out) {
  std::vector<int16_t> tone;
  for (int i = 0; i < 2048; ++i) tone.push_back(static_cast<int16_t>(12000 * std::sin(i * 2 * 3.14159265 * 220 / 8000)));
  std::vector<int16_t> clicks(4096, 0);
  for (size_t i = 0; i < clicks.size(); i += 500) clicks[i] = 30000;
  Seed(out, "tone", Cat({ProcessingHeader(1, 1, 8000, 8000.0 / 11025), Pcm16(tone)}));
  Seed(out, "clicks", Cat({ProcessingHeader(2, 1, 1000, 0.5), Pcm16(clicks)}));
  Seed(out, "float", Cat({ProcessingHeader(1, 7, 44100, 2.0), FloatLE(0.5f), FloatLE(-0.25f), FloatLE(1e30f)}));
}

void PreviewSeeds(const fs::path& out) {
  Bytes mono = {1, 0x2C, 0x01, 0xC8, 0x00, 0x40, 0x3E, 0, 0};
  Bytes stereo = {2, 0x2C, 0x01, 0xC8, 0x00, 0x70, 0x17, 0, 0};
  for (int i = 0; i < 800; ++i) {
    const auto value = static_cast<int16_t>((i * 97) % 30000 - 15000);
    mono.push_back(static_cast<uint8_t>(value));
    mono.push_back(static_cast<uint8_t>(value >> 8));
    stereo.push_back(static_cast<uint8_t>(-value));
    stereo.push_back(static_cast<uint8_t>(-value >> 8));
  }
  Seed(out, "mono", mono);
  Seed(out, "stereo", stereo);
}

// Program files for fuzz_akai_program: one the writer produced, a drum kit
// with a pad map and pads text, and one with comments and odd numbers. The
// fuzz target keeps "a.wav" and "Samples/b.wav" beside the program.
void AkaiSeeds(const fs::path& out) {
  zandrel::AkaiProgram program;
  program.type = "Keygroup";
  zandrel::AkaiInstrument instrument;
  instrument.number = 1;
  instrument.lowNote = 13;
  instrument.highNote = 140;
  instrument.padNote = 40;
  zandrel::AkaiLayer layer;
  layer.active = true;
  layer.sampleName = "a";
  layer.rootNote = 73;
  layer.loop = true;
  layer.loopStart = 1;
  layer.loopEnd = 3;
  instrument.layers = {layer, layer};
  program.instruments = {instrument};
  std::string text;
  zandrel::CAKAIParse().GenerateProgramXml(program, text);
  Seed(out, "keygroup", Text(text));
  Seed(out, "drum",
       Text("<MPCVObject><Program type=\"Drum\"><ProgramPads>{\"pads\": {\"value0\": 36, \"value1\": -2}}"
            "</ProgramPads><Instruments><Instrument number=\"1\"><Layers><Layer><Active>True</Active>"
            "<SampleName>samples/B</SampleName><VelStart>80</VelStart></Layer></Layers></Instrument>"
            "<Instrument number=\"2\"><Layers><Layer><Active>1</Active><SampleName>../a</SampleName></Layer>"
            "</Layers></Instrument></Instruments><PadNoteMap><PadNote number=\"1\"><Note>-2147483648</Note>"
            "</PadNote></PadNoteMap></Program></MPCVObject>"));
  Seed(out, "odd",
       Text("<?xml version=\"1.0\"?><MPCVObject><Version><Application_Version><!--v-->1</Application_Version>"
            "</Version><Program type=\"Keygroup\"><Instruments><Instrument number=\"0x7fffffff\"><LowNote> -99999999999"
            "</LowNote><HighNote>2147483647</HighNote><Layers><Layer><Active>true</Active><SampleName>a.WAV"
            "</SampleName><SampleStart>5</SampleStart><SampleEnd>2</SampleEnd><RootNote>nan</RootNote>"
            "<Volume></Volume></Layer></Layers></Instrument></Instruments></Program></MPCVObject>"));
}

// Group and sound files for fuzz_maschine_file: paths in binary noise.
void MaschineSeeds(const fs::path& out) {
  const auto run = [](std::string_view path) { return Cat({Bytes{0x00, 0x01, 0xFF}, Text(path), Bytes{0x00}}); };
  Seed(out, "group", Cat({Text("NIMG"), run("Samples/Drums/Kick/Kick V24.wav"), run("Samples/Drums/Kick/Kick V48.wav"),
                          run("C:/Lib/Samples/Drums/Snare/Snare AR50sAutumn V24.wav"), run("D:/x/no samples.wav")}));
  Seed(out, "sound", Cat({Text("NIMS"), run("Samples/Lead/Lead C3.wav"), run("Samples/Lead/Lead C4.wav"),
                          run("Samples/../../../etc/x.wav"), run("Samples\\Lead\\Lead F#5 V127.wav")}));
}

// Kits for fuzz_smpltrek_kit: names, then RIFF/WAVE blocks, one of them cut.
void SmplTrekSeeds(const fs::path& out) {
  const Bytes wav = MakePcm16Wav({1, 2, 3, 4});
  Seed(out, "kit", Cat({Text("STK"), Bytes{0}, Text("C:\\Kits\\kick.wav"), Bytes{0}, Text("snare.WAV"), Bytes{0},
                        wav, wav, wav}));
  Seed(out, "hostile", Cat({Text("x.wav"), Bytes{0}, Text("RIFF"), LE32(0xFFFFFFF8u), Text("WAVE"), wav,
                            Text("RIFF"), LE32(400), Text("WAVE"), Bytes(16, 0)}));
}

}  // namespace

void TextSeed(const fs::path& folder, const std::string& name, const std::string& text) {
  Seed(folder, name, Bytes(text.begin(), text.end()));
}

// Markdown help texts, knob presets and parameter files for fuzz_widget_texts.
void WidgetTextSeeds(const fs::path& out) {
  TextSeed(out, "markdown",
           "# Title\n## Sub\n#### Deep\n- **Bold** rest with `code` and _it_\n* star\n\n```\n  *x* _y_\n```\n"
           "```text```\na_b_c and a lone * or ` or _\n");
  TextSeed(out, "preset", "Mix: 0.500000\nCutoff : 1000\r\nWave: Saw\nmix: 0.1\nWave: Square\nMix: nan");
  TextSeed(out, "parameters",
           "; Config for fuzz\r\nmix=0.250000\r\n coarse = 3 \r\nother=7\r\nCoarse=1\r\nmix=inf\r\n=2\n");
}

// Audio clipboard blocks: one with a region at the document's rate, one
// without at another rate.
Bytes ClipboardBlock(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t frames, bool region) {
  auto le64 = [](int64_t v) {
    return Cat({LE32(static_cast<uint32_t>(v)), LE32(static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32))});
  };
  const uint32_t n = frames * channels * (bits / 8);
  Bytes regionBytes =
      region ? Cat({LE32(1), le64(0), le64(1000), le64(100), le64(-1), LE32(36), LE32(72), LE32(60)}) : Bytes(48, 0);
  Bytes pcm(n);
  for (uint32_t i = 0; i < n; ++i) pcm[i] = static_cast<uint8_t>(i * 37);
  return Cat({Text("QRVL"), LE32(1), LE16(channels), LE32(rate), LE16(bits), le64(100), le64(100 + frames),
              le64(frames), regionBytes, LE32(7), LE32(n), pcm});
}

void ClipboardSeeds(const fs::path& out) {
  Seed(out, "region", ClipboardBlock(1, 44100, 16, 32, true));
  Seed(out, "rate", ClipboardBlock(1, 48000, 16, 200, false));
  Seed(out, "stereo24", ClipboardBlock(2, 44100, 24, 8, true));
}

namespace {

// Drum patterns for fuzz_midi_file and fuzz_mpc_pattern.
void MidiSeeds(const fs::path& out) {
  const Bytes drums = Join({NoteOn(0, 36, 100), NoteOff(240, 36), NoteOn(720, 38, 90), {0x00, 0x26, 0x00},
                            NoteOn(960, 42, 64), NoteOff(120, 42), EndOfTrack()});
  Seed(out, "format0", Join({MidiHeader(0, 1, 960), Track(drums)}));
  Seed(out, "format1", Join({MidiHeader(1, 2, 480), Track(Join({Tempo(0, 500000), EndOfTrack()})), Track(drums)}));
  Seed(out, "sysex", Join({MidiHeader(0, 1, 96), Track(Join({{0x00, 0xF0, 0x03, 0x7E, 0x01, 0xF7}, drums}))}));
}

void MpcSeeds(const fs::path& out) {
  Seed(out, "two-bars", Text(R"({"pattern":{"length":7680,"events":[)"
                             R"({"type":2,"time":0,"len":240,"1":36,"2":1.0,"3":0,"mod":0,"modVal":0.5},)"
                             R"({"type":2,"time":960,"1":38,"2":0.5},{"type":1,"time":0,"1":0},)"
                             R"({"type":2,"time":"4800","len":120,"1":42,"2":0.8}]}})"));
  Seed(out, "negative", Text(R"({"events":[{"type":2,"time":-960,"1":46,"2":1}]})"));
}

// Headers of fuzz_micro_synth: engine, root, rate, frames, channels, mix, then
// knob entries (id, float).
void MicroSynthSeeds(const fs::path& out) {
  const auto header = [](uint8_t engine, int root, uint32_t rate, int frames, uint8_t channels) {
    return Bytes{engine,
                 static_cast<uint8_t>(root),
                 static_cast<uint8_t>(root >> 8),
                 static_cast<uint8_t>(rate),
                 static_cast<uint8_t>(rate >> 8),
                 static_cast<uint8_t>(rate >> 16),
                 static_cast<uint8_t>(frames),
                 static_cast<uint8_t>(frames >> 8),
                 channels,
                 100};
  };
  const auto knob = [](uint8_t id, float value) {
    Bytes entry = {id, 0, 0, 0, 0};
    std::memcpy(entry.data() + 1, &value, sizeof value);
    return entry;
  };
  for (uint8_t engine = 0; engine < 10; ++engine)
    Seed(out, "engine" + std::to_string(engine), Cat({header(engine, 60, 44100, 4410, 1), Bytes{0x81, 2, 0, 0, 0}, knob(11, 0.5f)}));
  Seed(out, "high-octave", Cat({header(0, 127, 8000, 3000, 2), Bytes{0x81, 4, 0, 0, 0}, knob(4, 8.0f), knob(8, 0.0f)}));
  Seed(out, "low-brass", Cat({header(9, 0, 192000, 20000, 1), Bytes{0x81, 0, 0, 0, 0}, knob(125, 0.5f), knob(130, 10.0f)}));
}

// fuzz_edit_steps reads choices: a few sessions of pseudo-random bytes, and
// one that runs out at once (the generated document, undone and redone).
void EditStepSeeds(const fs::path& out) {
  Seed(out, "empty", Bytes{});
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    Bytes bytes(1200);
    uint32_t state = seed * 2654435761u;
    for (uint8_t& b : bytes) {
      state = state * 1664525u + 1013904223u;
      b = static_cast<uint8_t>(state >> 24);
    }
    Seed(out, "session" + std::to_string(seed), bytes);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const fs::path root = argv[1];
  WavSeeds(root / "fuzz_wav_file");
  WavSeeds(root / "fuzz_document");
  DeviceReplySeeds(root / "fuzz_device_replies");
  DeviceReplySeeds(root / "fuzz_device_client");
  InstrumentSeeds(root / "fuzz_instrument_json");
  SettingsSeeds(root / "fuzz_settings");
  ProcessingSeeds(root / "fuzz_processing");
  PreviewSeeds(root / "fuzz_device_preview");
  WidgetTextSeeds(root / "fuzz_widget_texts");
  AkaiSeeds(root / "fuzz_akai_program");
  MaschineSeeds(root / "fuzz_maschine_file");
  SmplTrekSeeds(root / "fuzz_smpltrek_kit");
  ClipboardSeeds(root / "fuzz_audio_clipboard");
  MidiSeeds(root / "fuzz_midi_file");
  MpcSeeds(root / "fuzz_mpc_pattern");
  MicroSynthSeeds(root / "fuzz_micro_synth");
  EditStepSeeds(root / "fuzz_edit_steps");
  return 0;
}
