// The device manager without a window: the list lines, the details of a line,
// the search, the decisions of the buttons, and the jobs against the
// simulated device (connect, details with preview, download, upload,
// restore, delete, and stopping a job).
#include "device/device_manager_model.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "client_fixture.h"
#include "device/ep_display.h"

namespace zandrel::test {
namespace {

using Lines = std::vector<std::string>;
const std::string kRule(40, '-');

EPSoundSlot Sound(uint16_t id, const std::string& file, const std::string& display, const std::string& metadata = {},
                  uint32_t size = 1000) {
  EPSoundSlot slot;
  slot.fileId = id;
  slot.size = size;
  slot.fileName = file;
  slot.displayName = display;
  slot.metadata = ParseDeviceJson(metadata);
  slot.occupied = true;
  return slot;
}

// 999 slots with 1 and 5 occupied, one extra sound and one project.
EPDeviceSnapshot MakeSnapshot() {
  EPDeviceSnapshot s;
  s.sku = "TE133AS007";
  s.connected = true;
  s.deviceInfoLoaded = true;
  s.deviceInfo = ParseDeviceJson(
      R"({"free_space_in_bytes":1048576,"max_capacity":5000000000,"label":"x","formats":[{"type":"pcm"}]})");
  s.soundsDirId = 2000;
  s.projectsDirId = 3000;
  for (int i = 1; i <= 999; ++i) {
    EPSoundSlot slot;
    slot.fileId = static_cast<uint16_t>(i);
    s.soundSlots.push_back(slot);
  }
  s.soundSlots[0] = Sound(1, "001 kick.wav", "Kick", R"({"channels":1,"samplerate":46875})");
  s.soundSlots[4] = Sound(5, "005 snare", "Snare.WAV");
  s.extraSounds.push_back(Sound(1001, "synth1", "Synth One"));
  EPProjectEntry project;
  project.id = 3001;
  project.name = "P01";
  project.displayName = "P01";
  s.projects.push_back(project);
  return s;
}

int RowOf(const ManagerListing& listing, std::string_view prefix) {
  for (size_t i = 0; i < listing.lines.size(); ++i) {
    if (listing.lines[i].text.rfind(prefix, 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

// ---- Listing ----

TEST(DeviceManagerListing, LinesAndTheirEntries) {
  const EPDeviceSnapshot snapshot = MakeSnapshot();
  const ManagerListing listing = BuildManagerListing(snapshot);
  const Lines head = {"Connected Device SKU: TE133AS007",
                      "Device Info",
                      "free_space_in_bytes: 1048576 (1.00 MB)",
                      // Read as the device's 32-bit number: 705032704 bytes.
                      "max_capacity: 5000000000 (672.37 MB)",
                      "label: x",
                      R"(formats: [{"type":"pcm"}])",
                      " ",
                      "Sounds Directory ID: 2000",
                      "Projects Directory ID: 3000",
                      "Sounds Directory:",
                      "ID    System Name    Real Name",
                      std::string(48, '-'),
                      "1     001 kick.wav   Kick",
                      "2     <empty>"};
  ASSERT_GT(listing.lines.size(), head.size());
  for (size_t i = 0; i < head.size(); ++i) EXPECT_EQ(listing.lines[i].text, head[i]) << i;
  EXPECT_EQ(listing.lines[16].text, "5     005 snare      Snare.WAV");
  EXPECT_EQ(listing.lines[12 + 998].text, "999   <empty>");
  const Lines tail = {"",          "Used by Synths (1001-...):", std::string(48, '-'), "1001  synth1         Synth One",
                      "",          "Projects Directory:", "ID     System Name          Real Name", std::string(48, '-'),
                      "[DIR]  ID:3001  P01"};
  ASSERT_EQ(listing.lines.size(), 12 + 999 + tail.size());
  for (size_t i = 0; i < tail.size(); ++i) EXPECT_EQ(listing.lines[12 + 999 + i].text, tail[i]) << i;

  // The line map: text lines point nowhere, sound and project lines at their records.
  EXPECT_EQ(listing.lines[0].kind, ManagerLineKind::Text);
  EXPECT_EQ(listing.lines[0].index, -1);
  EXPECT_EQ(listing.lines[12].kind, ManagerLineKind::Sound);
  EXPECT_EQ(listing.sounds[static_cast<size_t>(listing.lines[12].index)].id, 1);
  EXPECT_EQ(listing.sounds[static_cast<size_t>(listing.lines[12 + 999 + 3].index)].id, 1001);
  EXPECT_EQ(listing.lines.back().kind, ManagerLineKind::Project);
  EXPECT_EQ(listing.projects[0].id, 3001);
  EXPECT_EQ(listing.projects[0].size, 0u);
  EXPECT_EQ(listing.error, "");
}

TEST(DeviceManagerListing, SizeValuesThatAreNoNumbersKeepThePlainLine) {
  EPDeviceSnapshot snapshot;
  snapshot.deviceInfoLoaded = true;
  snapshot.deviceInfo = ParseDeviceJson(R"({"max_capacity":"lots","free_space_in_bytes":null})");
  const ManagerListing listing = BuildManagerListing(snapshot);
  EXPECT_EQ(listing.lines[1].text, "max_capacity: lots");
  EXPECT_EQ(listing.lines[2].text, "free_space_in_bytes: null");

  snapshot.deviceInfoLoaded = false;
  const ManagerListing without = BuildManagerListing(snapshot);
  EXPECT_EQ(without.lines[0].text, "Sounds Directory ID: 0");
  EXPECT_EQ(without.error, "Device info not available. Call RefreshFileList() first.");
}

// ---- Details ----

TEST(DeviceManagerDetails, JsonScalarsAsText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"("abc")", "abc"},       {"-12", "-12"},          {"18446744073709551615", "18446744073709551615"},
      {"0.5", "0.500000"},       {"true", "true"},        {"null", "null"},
      {R"({"a":[1,2]})", R"({"a":[1,2]})"}};
  for (const auto& [json, text] : cases) EXPECT_EQ(JsonScalarToText(EPJson::parse(json)), text) << json;
}

TEST(DeviceManagerDetails, HeaderLines) {
  EXPECT_EQ(HeaderLineInfo("Sounds Directory:"), (Lines{"Selected item:", kRule, "Sounds Directory:"}));
  EXPECT_EQ(HeaderLineInfo("Device Info"), (Lines{"Selected item:", kRule, "Device Info"}));
  EXPECT_EQ(HeaderLineInfo(R"(formats: [{"type":"pcm","channels":[1,2]}])"),
            (Lines{"formats:", kRule, "[0]:", "  type: pcm", "  channels:", "    [0]: 1", "    [1]: 2"}));
  EXPECT_EQ(HeaderLineInfo("label: {broken"), (Lines{"Raw text:", kRule, "{broken"}));
  EXPECT_EQ(HeaderLineInfo("[1,2]"), (Lines{"", kRule, "[0]: 1", "[1]: 2"}));
}

TEST(DeviceManagerDetails, NamesThatAreNoUtf8NeitherThrowNorVanish) {
  EPJson tree = EPJson::object();
  tree["name"] = std::string("P\xff\xfe");
  tree["groups"] = EPJson::array({EPJson::object({{"name", std::string("g\xc3")}})});
  ManagerSelection selection;
  ASSERT_NO_THROW(selection.SetMetadata(tree));
  EXPECT_NE(selection.metadataText.find("P\xef\xbf\xbd"), std::string::npos);  // U+FFFD
  Lines lines;
  ASSERT_NO_THROW(PrintJsonTree(tree, "", lines));
  EXPECT_EQ(lines, (Lines{"name: P\xff\xfe", "groups:", "  [0]:", "    name: g\xc3"}));
  EXPECT_NE(JsonScalarToText(tree["groups"]).find("\xef\xbf\xbd"), std::string::npos);
}

TEST(DeviceManagerDetails, EntriesShowTheirDetails) {
  const EPDeviceSnapshot snapshot = MakeSnapshot();
  const ManagerListing listing = BuildManagerListing(snapshot);

  // An empty slot: everything from the snapshot, nothing to ask the device.
  const LineChoice empty = ChooseLine(listing, snapshot, RowOf(listing, "2     <empty>"));
  EXPECT_EQ(empty.info, (Lines{"File ID: 2", "File Name: ", "File Size: 0 bytes", "Type: Sound", "", "Metadata:", kRule,
                               "No metadata available"}));
  EXPECT_EQ(empty.display, MakeEpDisplayName("* empty *"));
  EXPECT_EQ(empty.display->size(), 16u);
  EXPECT_TRUE(empty.clearPreview);
  EXPECT_FALSE(empty.needsDevice);

  // A sound with metadata: shown at once; the preview needs the device.
  const LineChoice kick = ChooseLine(listing, snapshot, RowOf(listing, "1     001"));
  EXPECT_EQ(kick.info, (Lines{"File ID: 1", "File Name: 001 kick.wav", "File Size: 1000 bytes", "Type: Sound", "",
                              "Metadata:", kRule, "channels: 1", "samplerate: 46875"}));
  EXPECT_EQ(kick.display, MakeEpDisplayName("Kick"));
  EXPECT_TRUE(kick.needsDevice);
  EXPECT_TRUE(kick.metadataKnown);
  EXPECT_EQ(kick.selection.metadataText, "{\n  \"channels\": 1,\n  \"samplerate\": 46875\n}");

  // A sound without cached metadata shows its display name.
  const LineChoice snare = ChooseLine(listing, snapshot, RowOf(listing, "5     005"));
  EXPECT_EQ(snare.display, MakeEpDisplayName("Snare.WAV"));
  EXPECT_FALSE(snare.metadataKnown);

  // A project: its used sounds come first, found, missing or synth.
  LineChoice project = ChooseLine(listing, snapshot, RowOf(listing, "[DIR]"));
  EXPECT_EQ(project.display, MakeEpDisplayName("PROJ P01"));
  EXPECT_TRUE(project.needsDevice);
  SelectionDetails details;
  details.metadata = ParseDeviceJson(
      R"({"bpm":120,"groups":[{"banks":[{"pads":[{"metadata":{"sym":1}},{"metadata":{"sym":7}},{"metadata":{"sym":1001}},{"metadata":{"sym":1500}}]}]}]})");
  ApplyDetails(project, details, snapshot);
  const Lines expected = {"File ID: 3001", "File Name: P01",     "File Size: 0 bytes", "Type: Project", "",
                          "Metadata:",     kRule,                "Used Sounds:",       "001    Kick",   "007    <not found>",
                          "1001    Synth One", "1500    SYNTH",  kRule,                "bpm: 120",      "groups:"};
  ASSERT_GE(project.info.size(), expected.size());
  EXPECT_EQ(Lines(project.info.begin(), project.info.begin() + static_cast<ptrdiff_t>(expected.size())), expected);

  // A header line: the line itself; nothing selected.
  const LineChoice header = ChooseLine(listing, snapshot, RowOf(listing, "Sounds Directory:"));
  EXPECT_FALSE(header.selection.has);
  EXPECT_EQ(header.info, (Lines{"Selected item:", kRule, "Sounds Directory:"}));
  EXPECT_FALSE(header.display.has_value());
  EXPECT_EQ(ChooseLine(listing, snapshot, -1).info, Lines{"No file selected"});
}

TEST(DeviceManagerDetails, PreviewChannelsAreOneOrTwo) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"{}", 1},        {R"({"channels":2})", 2},  {R"({"channels":2.7})", 2}, {R"({"channels":1.9})", 1},
      {R"({"channels":-3})", 1}, {R"({"channels":7})", 2}, {R"({"channels":"2"})", 1}, {R"({"channels":null})", 1},
      {R"({"channels":1e300})", 2}, {"[2]", 1}};
  for (const auto& [json, channels] : cases) EXPECT_EQ(PreviewChannels(ParseDeviceJson(json)), channels) << json;
}

// ---- Search ----

TEST(DeviceManagerSearch, FirstAndNextWithWrapping) {
  std::vector<ManagerLine> lines;
  for (const char* text : {"Sounds Directory:", "1     kick", "2     <empty>", "3     KICK2", "4     snare"}) {
    lines.push_back({text, ManagerLineKind::Text, -1});
  }
  EXPECT_EQ(FindFirstLine(lines, "Kick"), 1);
  EXPECT_EQ(FindFirstLine(lines, ""), std::nullopt);
  EXPECT_EQ(FindFirstLine(lines, "hat"), std::nullopt);
  const std::vector<std::tuple<std::string, int, std::optional<int>>> next = {
      {"kick", 1, 3},  {"kick", 3, 1},          // wraps to a match above the selection
      {"snare", 4, 4},                          // the selected line itself, last
      {"hat", 2, std::nullopt}, {"", 1, std::nullopt},
      {"kick", -1, 1},                          // nothing selected: from the top
  };
  for (const auto& [text, selected, found] : next) {
    EXPECT_EQ(FindNextLine(lines, text, selected), found) << text << " after " << selected;
  }
}

// ---- Decisions ----

TEST(DeviceManagerDecisions, ProposedNamesTargetsAndRefusals) {
  const EPDeviceSnapshot snapshot = MakeSnapshot();
  const auto select = [](uint16_t id, bool sound, const std::string& name = "file") {
    ManagerSelection s;
    s.has = true;
    s.id = id;
    s.isSound = sound;
    s.name = name;
    return s;
  };
  EXPECT_EQ(PlanDownload({}, snapshot).refusal, (ManagerBox{"Please select a file first.", MessageIcon::Information}));
  EXPECT_EQ(PlanDownload(select(1, true), snapshot).proposedName, "Kick.wav");
  EXPECT_EQ(PlanDownload(select(5, true), snapshot).proposedName, "Snare.WAV");  // kept as it is
  EXPECT_EQ(PlanDownload(select(2, true, "raw/name"), snapshot).proposedName, "raw_name.wav");
  const DownloadPlan project = PlanDownload(select(3001, false, "P01"), snapshot);
  EXPECT_TRUE(project.project);
  EXPECT_EQ(project.proposedName, "P01.tar");
  EXPECT_EQ(DownloadFileName("meta", ".json"), "meta.json");
  EXPECT_EQ(DownloadFileName("BACKUP.TAR", ".tar"), "BACKUP.TAR");

  EPDeviceSnapshot offline = snapshot;
  offline.connected = false;
  EXPECT_EQ(PlanUpload(select(2, true), offline).refusal,
            (ManagerBox{"Not connected to device. Please connect first.", MessageIcon::Warning}));
  EXPECT_TRUE(PlanUpload(select(3001, false), snapshot).project);
  EXPECT_FALSE(PlanUpload({}, snapshot).refusal.has_value());  // the file dialog comes first

  EXPECT_EQ(ChooseUploadTarget({}, snapshot).refusal, (ManagerBox{"Select valid empty slot", MessageIcon::None}));
  EXPECT_EQ(ChooseUploadTarget(select(1, true), snapshot).refusal,
            (ManagerBox{"The Slot is not empty", MessageIcon::None}));
  EXPECT_EQ(ChooseUploadTarget(select(2, true), snapshot).slot, 2);
  const UploadTarget extra = ChooseUploadTarget(select(1001, true), snapshot);
  EXPECT_FALSE(extra.refusal.has_value());
  EXPECT_EQ(extra.slot, 0);  // the first empty slot

  EXPECT_EQ(PlanDelete({}, snapshot).refusal->text, "No file selected.\n\nPlease select a sound or project to delete.");
  EXPECT_EQ(PlanDelete(select(3001, false), snapshot).refusal->text,
            "Cannot delete projects.\n\nOnly individual sound files can be deleted.");
  EXPECT_EQ(PlanDelete(select(2, true), snapshot).refusal->text,
            "Cannot delete empty slot.\n\nPlease select an occupied sound slot.");
  const DeletePlan del = PlanDelete(select(1, true, "001 kick.wav"), snapshot);
  EXPECT_FALSE(del.refusal.has_value());
  EXPECT_EQ(del.question, "Delete sound file?\n\nID: 1\nName: 001 kick.wav\n\nThis action cannot be undone.");
}

TEST(DeviceManagerDecisions, FilesCheckedBeforeTheyAreSent) {
  TempDir dir;
  WriteFileBytes(dir / "ok.wav", MakePcm16Wav({1, 2, 3}));
  WriteFileBytes(dir / "text.wav", Bytes{'h', 'e', 'l', 'l', 'o'});
  WriteFileBytes(dir / "riff.wav", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '});
  EXPECT_EQ(CheckWavHeader(dir / "ok.wav"), std::nullopt);
  EXPECT_EQ(CheckWavHeader(dir / "text.wav"), "This is not a valid RIFF file.");
  EXPECT_EQ(CheckWavHeader(dir / "riff.wav"), "This is not a valid WAVE file.");

  std::filesystem::resize_file(dir / "ok.wav", 4194304);
  EXPECT_EQ(CheckProjectArchive(dir / "ok.wav").size, 4194304u);
  std::filesystem::resize_file(dir / "ok.wav", 4194305);
  EXPECT_EQ(CheckProjectArchive(dir / "ok.wav").refusal,
            (ManagerBox{"The project archive is 4194305 bytes; the device accepts at most 4194304 bytes.",
                        MessageIcon::Error}));
  EXPECT_EQ(CheckProjectArchive(dir / "missing.tar").refusal->text, "Failed to open TAR file.");
  EXPECT_EQ(UploadStartLines(0)[0], "Uploading to first empty slot...");
  EXPECT_EQ(UploadStartLines(12), (Lines{"Uploading to slot 12...", "Loading WAV file...",
                                         "Validating and preparing format...", "Preparing metadata...",
                                         "Checking device space..."}));
  EXPECT_EQ(RestoreStartLines(3001, 512), (Lines{"Uploading project to slot 3001...", "File size: 512 bytes"}));
}

// ---- Jobs against the simulated device ----

class ManagerModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim.AttachTo(midi);
    model.Client().SetConsole(&out, &err);
    sim.WithState([](SimState& s) {
      SimFile& kick = s.files.AddSound(1, "001 kick", 4000, R"({"name":"Kick","channels":1,"samplerate":46875})");
      kick.data = Pcm16(Sine(2000, 440, 46875));
      SimFile& odd = s.files.AddSound(3, "003 odd", 4000, R"({"name":"Odd","channels":-4,"samplerate":"fast"})");
      odd.data = Pcm16(Sine(2000, 220, 46875));
      s.files.AddSound(4, "004 factory", 4, R"({"name":"Factory"})", 0).data = {1, 2, 3, 4};
      s.files.AddDirectory(3001, kSimProjectsDir, "P01", R"({"bpm":120})").data = Bytes(3000, 7);
    });
  }
  void TearDown() override {
    model.Client().Disconnect();
    EXPECT_EQ(sim.FramingErrors(), 0);
    EXPECT_EQ(sim.SequenceErrors(), 0);
  }
  size_t Count(int command) const { return RequestPayloads(sim, command).size(); }
  ManagerSelection Select(uint16_t id) {
    const EPDeviceSnapshot snapshot = TakeSnapshot(model.Client());
    const ManagerListing listing = BuildManagerListing(snapshot);
    for (size_t i = 0; i < listing.lines.size(); ++i) {
      const ManagerLine& line = listing.lines[i];
      const bool match = (line.kind == ManagerLineKind::Sound && listing.sounds[static_cast<size_t>(line.index)].id == id) ||
                         (line.kind == ManagerLineKind::Project && listing.projects[static_cast<size_t>(line.index)].id == id);
      if (match) return ChooseLine(listing, snapshot, static_cast<int>(i)).selection;
    }
    return {};
  }
  SimFile Stored(uint16_t id) {
    return sim.WithState([&](SimState& s) { return s.files.Find(id) ? *s.files.Find(id) : SimFile{}; });
  }

  TempDir dir;
  ScriptedMessageHost host;
  MemoryMidiSystem midi;
  SimDevice sim;
  ConsoleCapture out;
  ConsoleCapture err;
  CDeviceManagerModel model{&midi};  // last: closed before everything it uses goes
};

TEST_F(ManagerModelTest, ConnectListsTheDevice) {
  const ManagerOutcome outcome = model.Connect();
  ASSERT_TRUE(outcome.ok);
  const ManagerListing listing = BuildManagerListing(TakeSnapshot(model.Client()));
  EXPECT_EQ(listing.lines[0].text, "Connected Device SKU: TE133AS007");
  EXPECT_EQ(RowOf(listing, "1     001 kick       Kick"), 10);  // after two information members
  EXPECT_NE(RowOf(listing, "[DIR]  ID:3001  P01"), -1);

  // A second press reconnects.
  EXPECT_TRUE(model.Connect().ok);
  EXPECT_TRUE(TakeSnapshot(model.Client()).connected);
  EXPECT_TRUE(host.Shown().empty());
}

TEST_F(ManagerModelTest, FailedConnectSaysWhy) {
  sim.UnplugPorts(true);
  const ManagerOutcome outcome = model.Connect();
  EXPECT_FALSE(outcome.ok);
  ASSERT_TRUE(outcome.box.has_value());
  EXPECT_EQ(outcome.box->icon, MessageIcon::Error);
  EXPECT_EQ(outcome.box->text, model.Client().LastError());
  EXPECT_FALSE(outcome.box->text.empty());
}

TEST_F(ManagerModelTest, DetailsBringPreviewAndOneSelectNotice) {
  ASSERT_TRUE(model.Connect().ok);
  sim.ClearRequests();
  ManagerSelection kick = Select(1);
  const SelectionDetails details = model.LoadDetails(kick, true);
  EXPECT_FALSE(details.cancelled);
  EXPECT_TRUE(details.previewRead);
  EXPECT_FALSE(details.preview.empty());
  EXPECT_EQ(details.previewChannels, 1);
  EXPECT_EQ(Count(kCmdSoundSelect), 1u);
  EXPECT_EQ(sim.WithState([](SimState& s) { return s.lastSelected; }), 1);
  EXPECT_EQ(Count(kCmdMetadata), 0u);  // known already

  // A channel count that is no sane number reads a mono preview.
  sim.ClearRequests();
  const SelectionDetails odd = model.LoadDetails(Select(3), true);
  EXPECT_EQ(odd.previewChannels, 1);
  ASSERT_TRUE(odd.previewRead);
  const std::vector<Bytes> reads = RequestPayloads(sim, kCmdRead);
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads[0], BuildPreviewInit(3, PlanPreview(4000, 1).stride, PlanPreview(4000, 1).points));

  // A project's tree and no select notice.
  sim.ClearRequests();
  const SelectionDetails project = model.LoadDetails(Select(3001), false);
  EXPECT_EQ(project.metadata.value("bpm", 0), 120);
  EXPECT_TRUE(project.metadata.contains("groups"));
  EXPECT_EQ(Count(kCmdSoundSelect), 0u);
}

TEST_F(ManagerModelTest, DownloadsASoundAndAProject) {
  ASSERT_TRUE(model.Connect().ok);
  const ManagerOutcome sound = model.Download(Select(1), dir / "Kick.wav");
  ASSERT_TRUE(sound.ok) << sound.box->text;
  EXPECT_EQ(sound.box->text, "File downloaded successfully:\n" + (dir / "Kick.wav").string() +
                                 "\n\nSize: 4000 bytes\nChannels: 1\nSample Rate: 46875 Hz");
  CWavLoader wav;
  ASSERT_TRUE(wav.Load(dir / "Kick.wav"));
  EXPECT_EQ(wav.data, Pcm16(Sine(2000, 440, 46875)));

  // Metadata whose format is no sound is refused by the client, not thrown.
  const ManagerOutcome odd = model.Download(Select(3), dir / "Odd.wav");
  EXPECT_FALSE(odd.ok);
  EXPECT_EQ(odd.box->icon, MessageIcon::Error);
  EXPECT_FALSE(std::filesystem::exists(dir / "Odd.wav"));

  const ManagerOutcome project = model.Download(Select(3001), dir / "P01.tar");
  ASSERT_TRUE(project.ok);
  EXPECT_EQ(project.box, (ManagerBox{"Project downloaded successfully:\n" + (dir / "P01.tar").string(),
                                     MessageIcon::Information}));
  EXPECT_EQ(ReadFileBytes(dir / "P01.tar"), Bytes(3000, 7));
}

TEST_F(ManagerModelTest, DownloadBoxForMetadataWithoutNumbers) {
  sim.WithState([](SimState& s) {
    s.files.AddSound(7, "007 x", 4, R"({"name":"X","channels":"two","samplerate":[1]})").data = {1, 2, 3, 4};
  });
  ASSERT_TRUE(model.Connect().ok);
  // The client falls back to mono at the device's rate; so does the box.
  const ManagerOutcome outcome = model.Download(Select(7), dir / "X.wav");
  ASSERT_TRUE(outcome.ok);
  EXPECT_NE(outcome.box->text.find("Size: 4 bytes\nChannels: 1\nSample Rate: 46875 Hz"), std::string::npos);
}

TEST_F(ManagerModelTest, UploadsAWavIntoItsSlot) {
  ASSERT_TRUE(model.Connect().ok);
  WriteFileBytes(dir / "Hat.wav", MakePcm16Wav(Sine(1000, 440, 46875), 1, 46875));
  std::vector<int> progress;
  const ManagerOutcome outcome = model.UploadSound(dir / "Hat.wav", 2, [&](int p) { progress.push_back(p); });
  ASSERT_TRUE(outcome.ok) << outcome.lines.back();
  EXPECT_EQ(outcome.lines, (Lines{"", "File uploaded successfully!", "Waiting for device confirmation..."}));
  EXPECT_FALSE(outcome.box.has_value());
  EXPECT_EQ(Stored(2).name, "Hat");
  ASSERT_FALSE(progress.empty());
  EXPECT_GE(progress.front(), 70);
  EXPECT_LE(progress.back(), 95);
}

TEST_F(ManagerModelTest, UploadWithoutItsMetadataIsAWarning) {
  ASSERT_TRUE(model.Connect().ok);
  WriteFileBytes(dir / "Hat.wav", MakePcm16Wav(Sine(1000, 440, 46875), 1, 46875));
  // The free-space read passes, the metadata write that follows the audio fails.
  sim.InjectFault({.kind = SimFaultKind::ErrorStatus, .command = kSimCmdMetadata, .skip = 1, .times = -1});
  const ManagerOutcome outcome = model.UploadSound(dir / "Hat.wav", 2, {});
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.lines, (Lines{"", "File uploaded successfully!", "Failed to update extended metadata (regions)",
                                  "Waiting for device confirmation..."}));
  EXPECT_EQ(outcome.box, (ManagerBox{"Failed to update extended metadata (regions)", MessageIcon::Warning}));
}

TEST_F(ManagerModelTest, FailedUploadSaysWhy) {
  ASSERT_TRUE(model.Connect().ok);
  WriteFileBytes(dir / "Hat.wav", MakePcm16Wav(Sine(1000, 440, 46875), 1, 46875));
  const ManagerOutcome outcome = model.UploadSound(dir / "Hat.wav", 1, {});  // occupied
  EXPECT_FALSE(outcome.ok);
  ASSERT_EQ(outcome.lines.size(), 3u);
  EXPECT_EQ(outcome.lines[1], "*** UPLOAD FAILED ***");
  EXPECT_EQ(outcome.box->text, "Upload failed:\n\n" + outcome.lines[2]);
  EXPECT_EQ(Count(kCmdUpload), 0u);
}

TEST_F(ManagerModelTest, RestoresAProjectArchive) {
  ASSERT_TRUE(model.Connect().ok);
  WriteFileBytes(dir / "backup.tar", Bytes(5000, 9));
  const ManagerOutcome outcome = model.RestoreProject(dir / "backup.tar", 3001);
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.lines, (Lines{"", "Project uploaded successfully!", "Waiting for device confirmation..."}));
  EXPECT_EQ(outcome.box, (ManagerBox{"Project uploaded successfully!", MessageIcon::Information}));
  EXPECT_EQ(Stored(3001).data, Bytes(5000, 9));
  EXPECT_TRUE(out.WaitFor("Uploading Project directly to ID 3001..."));
}

TEST_F(ManagerModelTest, RestoreWithoutProjectsDirectoryFails) {
  sim.WithState([](SimState& s) { s.files.Find(kSimProjectsDir)->name = "elsewhere"; });
  ASSERT_TRUE(model.Connect().ok);
  WriteFileBytes(dir / "backup.tar", Bytes(100, 9));
  const ManagerOutcome outcome = model.RestoreProject(dir / "backup.tar", 3001);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.lines, (Lines{"", "*** UPLOAD FAILED ***"}));
  EXPECT_EQ(outcome.box, (ManagerBox{"Failed to upload project to device.", MessageIcon::Error}));
  EXPECT_TRUE(err.WaitFor("[Error] Could not find /projects directory."));
  EXPECT_EQ(Count(kCmdUpload), 0u);
}

TEST_F(ManagerModelTest, DeletesUserSoundsOnly) {
  ASSERT_TRUE(model.Connect().ok);
  const ManagerOutcome gone = model.Delete(1);
  ASSERT_TRUE(gone.ok);
  EXPECT_TRUE(gone.replaceInfo);
  EXPECT_EQ(gone.lines, Lines{"Deleting file 1...\n\nWaiting for device confirmation."});
  EXPECT_EQ(Stored(1).id, 0);
  EXPECT_FALSE(TakeSnapshot(model.Client()).FindSound(1));

  const ManagerOutcome factory = model.Delete(4);
  EXPECT_FALSE(factory.ok);
  EXPECT_EQ(factory.box->text, model.Client().LastError());
  EXPECT_NE(factory.box->text.find("protected"), std::string::npos);
  EXPECT_EQ(Stored(4).id, 4);
}

TEST_F(ManagerModelTest, SavedMetadataIsWrittenWhole) {
  const ManagerOutcome saved = CDeviceManagerModel::SaveMetadata(dir / "m.json", "{\n  \"a\": 1\n}");
  ASSERT_TRUE(saved.ok);
  EXPECT_EQ(saved.box->text, "Metadata saved successfully to:\n" + (dir / "m.json").string() + "\n\nSize: 12 bytes");
  const Bytes bytes = ReadFileBytes(dir / "m.json");
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "{\n  \"a\": 1\n}");
  EXPECT_EQ(CDeviceManagerModel::SaveMetadata(dir / "no" / "m.json", "x").box->text, "Failed to create metadata file.");
}

// ---- Stopping ----

// Runs |job| on a thread of its own and stops it once the device has been
// asked |requests| times for |command|.
template <class Job>
void StopDuring(CDeviceManagerModel& model, SimDevice& sim, int command, size_t requests, Job job) {
  std::thread worker(job);
  const auto deadline = std::chrono::steady_clock::now() + kTestDeadline;
  while (RequestPayloads(sim, command).size() < requests && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  model.RequestStop();
  worker.join();
}

TEST_F(ManagerModelTest, StoppedDownloadWritesNothing) {
  ASSERT_TRUE(model.Connect().ok);
  sim.WithState([](SimState& s) { s.readPageBytes = 100; });
  // Every page arrives late: the stop meets the read in the middle.
  sim.InjectFault({.kind = SimFaultKind::LateReply, .command = kSimCmdRead, .times = -1,
                   .delay = std::chrono::milliseconds(20)});
  sim.ClearRequests();
  ManagerOutcome outcome;
  StopDuring(model, sim, kSimCmdRead, 4, [&] { outcome = model.Download(Select(1), dir / "Kick.wav"); });
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.lines, Lines{"Cancelled."});
  EXPECT_EQ(model.Client().LastError(), "Cancelled.");
  EXPECT_FALSE(std::filesystem::exists(dir / "Kick.wav"));
  EXPECT_LT(Count(kCmdRead), 41u);  // 4000 bytes would take 41 requests
  const CEPSysExLink::JobProgress progress = model.Client().Progress();
  EXPECT_EQ(progress.expected, 4000u);
  EXPECT_LT(progress.done, 4000u);
}

TEST_F(ManagerModelTest, StoppedConnectLeavesNoConnection) {
  sim.InjectFault({.kind = SimFaultKind::LateReply, .command = kSimCmdMetadata, .times = -1,
                   .delay = std::chrono::milliseconds(20)});
  ManagerOutcome outcome;
  StopDuring(model, sim, kSimCmdMetadata, 2, [&] { outcome = model.Connect(); });
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_FALSE(model.Client().IsConnected());
  EXPECT_FALSE(model.Client().IsOpen());
  EXPECT_FALSE(TakeSnapshot(model.Client()).connected);
}

TEST_F(ManagerModelTest, StoppedDetailsSendNoSelectNotice) {
  ASSERT_TRUE(model.Connect().ok);
  sim.InjectFault({.kind = SimFaultKind::LateReply, .command = kSimCmdRead, .times = -1,
                   .delay = std::chrono::milliseconds(20)});
  sim.ClearRequests();
  SelectionDetails details;
  const ManagerSelection kick = Select(1);
  StopDuring(model, sim, kSimCmdRead, 1, [&] { details = model.LoadDetails(kick, true); });
  EXPECT_TRUE(details.cancelled);
  EXPECT_EQ(Count(kCmdSoundSelect), 0u);
  // The next job starts afresh.
  sim.ClearFaults();
  model.BeginJob();
  EXPECT_FALSE(model.LoadDetails(kick, true).cancelled);
  EXPECT_EQ(Count(kCmdSoundSelect), 1u);
}

TEST(DeviceWorker, RunsJobsInOrderOneAtATime) {
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  {
    CDeviceWorker worker;
    for (int i = 0; i < 20; ++i) {
      worker.Post([&, i] {
        if (running.fetch_add(1) != 0) overlapped = true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        order.push_back(i);
        running.fetch_sub(1);
      });
    }
    EXPECT_TRUE(worker.WaitIdle(std::chrono::seconds(10)));
    worker.Post([&] { order.push_back(99); });
  }  // the queued job still runs before the thread ends
  ASSERT_EQ(order.size(), 21u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
  EXPECT_EQ(order.back(), 99);
  EXPECT_FALSE(overlapped);
}

}  // namespace
}  // namespace zandrel::test
