#include "support/edit_steps.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "commands/commands.h"
#include "commands/editor_commands.h"
#include "document/quorvel_doc.h"
#include "notes/note_commands.h"
#include "platform/clipboard.h"
#include "platform/file_dialogs.h"
#include "platform/message_host.h"
#include "platform/parameter_dialogs.h"
#include "platform/settings.h"
#include "processing/audio_edit_commands.h"
#include "processing/chop_tempo_commands.h"
#include "processing/loop_commands.h"
#include "processing/pitch_commands.h"
#include "processing/processing_commands.h"
#include "processing/rate_commands.h"
#include "sound_design/loop_synth_commands.h"
#include "support/wav_builder.h"
#include "view/model/audio_tools.h"
#include "view/model/mouse_editing.h"
#include "view/model/view_commands.h"
#include "view/model/view_drawing.h"
#include "view/model/view_model.h"

namespace zandrel::test {

uint32_t ByteChoices::Pick(uint32_t bound) {
  if (bound <= 1) return 0;
  uint32_t value = 0;
  const int bytes = bound > 256 ? 2 : 1;
  for (int i = 0; i < bytes; ++i) {
    value <<= 8;
    if (pos_ < bytes_.size()) value |= bytes_[pos_++];
  }
  return value % bound;
}

namespace {

constexpr int kClientWidth = 400;
constexpr int kClientHeight = 300;

// What undo must bring back: the audio as the snapshot file keeps it and the
// instrument data.
struct DocState {
  PcmFormat format;
  std::vector<uint8_t> data;
  std::vector<RiffChunk> chunks;
  InstrumentData instrument;
};

DocState StateOf(const CQuorvelDoc& doc) {
  return {doc.audio.format, doc.audio.data, doc.audio.chunks, doc.instrument};
}

bool SameChunks(const std::vector<RiffChunk>& a, const std::vector<RiffChunk>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].id != b[i].id || a[i].data != b[i].data) return false;
  }
  return true;
}

std::string RegionText(const Region& r) {
  std::ostringstream s;
  s << "[" << r.startSample << ".." << r.endSample << " loop " << r.loopStart << ".." << r.loopEnd << " keys "
    << r.loKey << "-" << r.hiKey << " root " << r.rootNote << "]";
  return s.str();
}

std::string ParamsText(const InstrumentParams& p) {
  std::ostringstream s;
  s << "{" << p.playMode << " root " << p.rootNote << " pitch " << p.pitch << " pan " << p.pan << " amp " << p.amplitude
    << " attack " << p.attack << " release " << p.release << " " << p.timeMode << " " << p.sampleMode << " bpm "
    << p.bpm << " bars " << p.bars << " beats " << p.beats << " loop " << p.loopStart << ".." << p.loopEnd
    << " unity " << p.smplUnityNote << "}";
  return s.str();
}

// Where two states differ, empty when they do not.
std::string Difference(const DocState& want, const DocState& got) {
  if (!(want.format == got.format)) return "the audio format differs";
  if (want.data.size() != got.data.size()) {
    return "the audio has " + std::to_string(got.data.size()) + " bytes, not " + std::to_string(want.data.size());
  }
  if (want.data != got.data) return "the audio bytes differ";
  if (!SameChunks(want.chunks, got.chunks)) return "the kept chunks differ";
  if (want.instrument.hasInstrument != got.instrument.hasInstrument) return "hasInstrument differs";
  if (!(want.instrument.params == got.instrument.params)) {
    return "the global settings are " + ParamsText(got.instrument.params) + ", not " + ParamsText(want.instrument.params);
  }
  if (want.instrument.regions.size() != got.instrument.regions.size()) {
    return std::to_string(got.instrument.regions.size()) + " regions, not " +
           std::to_string(want.instrument.regions.size());
  }
  for (size_t i = 0; i < want.instrument.regions.size(); ++i) {
    if (!(want.instrument.regions[i] == got.instrument.regions[i])) {
      return "region " + std::to_string(i) + " is " + RegionText(got.instrument.regions[i]) + ", not " +
             RegionText(want.instrument.regions[i]);
    }
  }
  return {};
}

std::vector<std::string> Descriptions(const std::deque<UndoState>& stack) {
  std::vector<std::string> out;
  for (const UndoState& s : stack) out.push_back(s.description);
  return out;
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& t : texts) out += (out.empty() ? "" : ", ") + ("\"" + t + "\"");
  return "[" + out + "]";
}

// Message boxes answered from the choices.
class ChoiceMessages final : public MessageHost {
 public:
  explicit ChoiceMessages(StepChoices& choices) : choices_(choices) {}
  MessageAnswer Show(std::string_view, MessageIcon, MessageButtons buttons) override {
    switch (buttons) {
      case MessageButtons::Ok: return MessageAnswer::Ok;
      case MessageButtons::OkCancel: return choices_.Pick(4) == 0 ? MessageAnswer::Cancel : MessageAnswer::Ok;
      case MessageButtons::YesNo: return choices_.Pick(4) == 0 ? MessageAnswer::No : MessageAnswer::Yes;
      case MessageButtons::YesNoCancel: {
        const uint32_t c = choices_.Pick(5);
        return c == 0 ? MessageAnswer::Cancel : c == 1 ? MessageAnswer::No : MessageAnswer::Yes;
      }
    }
    return MessageAnswer::Ok;
  }

 private:
  StepChoices& choices_;
};

// Knob dialogs: Cancel now and then, else each knob at its default, an end
// of its range or somewhere in its lower half (the upper ends of lengths and
// repeats would only make the session slow).
class ChoiceParameters final : public ParameterDialogHost {
 public:
  explicit ChoiceParameters(StepChoices& choices) : choices_(choices) {}
  std::optional<ParameterValues> Ask(const ParameterDialogRequest& request) override {
    if (choices_.Pick(8) == 0) return std::nullopt;
    ParameterValues values;
    for (const ParameterItem& item : request.items) {
      if (item.section) continue;
      float v = item.defaultValue;
      switch (choices_.Pick(6)) {
        case 0: v = item.minimum; break;
        case 1: v = item.minimum + (item.maximum - item.minimum) * static_cast<float>(choices_.Pick(101)) / 200.0f; break;
        case 2: v = std::round(item.minimum + (item.maximum - item.minimum) * static_cast<float>(choices_.Pick(11)) / 20.0f); break;
        default: break;
      }
      values[item.key] = std::clamp(v, std::min(item.minimum, item.maximum), std::max(item.minimum, item.maximum));
    }
    return values;
  }

 private:
  StepChoices& choices_;
};

class ChoicePitchDialogs final : public PitchDialogs {
 public:
  explicit ChoicePitchDialogs(StepChoices& choices) : choices_(choices) {}
  bool RunTimeStretch(TimeStretchValues& v) override {
    if (choices_.Pick(6) == 0) return false;
    static constexpr float kTempos[] = {60.0f, 90.0f, 120.0f, 150.0f, 240.0f};
    v.toBpm = kTempos[choices_.Pick(5)];
    return true;
  }
  bool RunPitchShift(int& semitones) override {
    if (choices_.Pick(6) == 0) return false;
    semitones = static_cast<int>(choices_.Pick(25)) - 12;
    return true;
  }
  bool RunPitchCorrection(PitchCorrectionValues& v) override {
    if (choices_.Pick(6) == 0) return false;
    v.extraCents = static_cast<double>(choices_.Pick(101)) - 50.0;
    return true;
  }

 private:
  StepChoices& choices_;
};

class ChoiceChopTempoDialogs final : public ChopTempoDialogs {
 public:
  explicit ChoiceChopTempoDialogs(StepChoices& choices) : choices_(choices) {}
  bool RunAutoChop(AutoChopValues& v) override {
    if (choices_.Pick(6) == 0) return false;
    v.threshold = 0.5f + 0.1f * static_cast<float>(choices_.Pick(76));
    v.minSpacingMs = 10 + static_cast<int>(choices_.Pick(200));
    return true;
  }
  bool RunAdjustToBpm(AdjustToBpmValues& v) override {
    if (choices_.Pick(6) == 0) return false;
    const double old = v.bpm > 0.0 ? v.bpm : 120.0;
    v.bpm = 60.0 + static_cast<double>(choices_.Pick(181));
    v.targetLength = static_cast<int64_t>(static_cast<double>(v.currentLength) * old / v.bpm);
    return true;
  }

 private:
  StepChoices& choices_;
};

class ChoiceNoteDialogs final : public NoteDialogs {
 public:
  explicit ChoiceNoteDialogs(StepChoices& choices) : choices_(choices) {}
  std::optional<std::string> AskTranspose() override {
    const uint32_t c = choices_.Pick(10);
    if (c == 0) return std::nullopt;
    if (c == 1) return std::string("up");
    return std::to_string(static_cast<int>(choices_.Pick(49)) - 24);
  }
  std::optional<PercussiveChoice> AskPercussive(const PercussiveChoice& initial) override {
    if (choices_.Pick(6) == 0) return std::nullopt;
    PercussiveChoice c = initial;
    static constexpr const char* kStarts[] = {"C4", "C-1", "G9", "A#2", "H"};
    c.startNoteText = kStarts[choices_.Pick(5)];
    c.spreadType = static_cast<int32_t>(choices_.Pick(3));
    return c;
  }
  std::optional<MelodicChoice> AskMelodic(const MelodicChoice& initial) override {
    if (choices_.Pick(6) == 0) return std::nullopt;
    MelodicChoice c = initial;
    c.rootNoteCalc = static_cast<int32_t>(choices_.Pick(2));
    c.distribution = static_cast<int32_t>(choices_.Pick(3));
    return c;
  }
  // The remap's plan is built in its dialog, pad by pad: left out (Cancel).
  std::optional<RemapChoice> AskTuningRemap(const std::vector<Region>&) override { return std::nullopt; }

 private:
  StepChoices& choices_;
};

// The descriptions the commands' undo entries carry where they are not the
// command's text (without "&" and "...").
const std::map<std::string, std::set<std::string>>& DescriptionsByText() {
  static const std::map<std::string, std::set<std::string>> table = {
      {"Adjust Loop to BPM", {"Adjust to BPM"}},
      {"Align Looping Points (+/-200ms)", {"Auto-Loop Optimization"}},
      {"Auto Chop (Melodic Simple)", {"Auto-Chop Regions"}},
      {"Auto Chop (Percussive Simple)", {"Auto-Chop Regions"}},
      {"Auto Chop (Melodic by Frequency)", {"Auto-Chop by Frequency"}},
      {"Auto-Tune to Root", {"Auto-Pitch"}},
      {"Create Single Region Instrument +Pitch+LP", {"Create Single Region"}},
      {"Cut", {"Remove Audio Data"}},
      {"Delete Wav Data", {"Remove Audio Data"}},
      {"Delete everyting outside", {"Delete Outside Loop"}},
      {"Distribute Notes (Melodic)", {"Distribute Notes Melodic"}},
      {"Distribute Notes (Percussive)", {"Distribute Notes"}},
      {"Equal-Power Crossfade", {"Loop Crossfade (Equal-Power)"}},
      {"FInd Root Note", {"Find Root Note"}},
      {"Fade In", {"Fade In (Linear)"}},
      {"Fade In EXP", {"Fade In (Exponential)"}},
      {"Fade Out (Linear)", {"Fade Out"}},
      {"Hanning Crossfade", {"Loop Crossfade (Hanning)"}},
      {"Fade Out EXP", {"Fade Out (Exponential)"}},
      {"Find Root Notes (All Regions)", {"Find Root Notes for All Regions"}},
      {"Frequency Cloud", {"PaulStretch Slice"}},
      {"Infinite Sustain Synth", {"Synthesize Loop"}},
      {"Morpher", {"Synthesize Loop"}},
      {"Normalize to 92%", {"Normalize"}},
      {"Paste", {"Paste Audio Data"}},
      {"Paste in Place", {"Paste In Place"}},
      {"Pitch Shift", {"PitchShift"}},
      {"Remove All Silences", {"Remove Silence"}},
      {"Remove Region's loop", {"Remove Loop"}},
      {"Remove Selected Region", {"Delete Region"}},
      {"Spectral Cleanup (Melodic)", {"Spectral Denoise"}},
      {"Spectral Isolation (Percussive)", {"Spectral Denoise"}},
      {"Split At Cursor", {"Split Region"}},
      {"Set Root Note", {"Set Root Note from Piano"}},
      {"Time Stretch", {"Timestretch"}},
      {"Tune/Repitch", {"Pitch Correction"}},
  };
  return table;
}

// The edits a drag can record: the region-only entries taken at a grab and
// the tools' edits at the release.
const std::set<std::string>& DragDescriptions() {
  static const std::set<std::string> set = {"Drag Region Boundary", "Piano Region", "Drag Region Loop Start",
                                            "Drag Region Loop End", "Paint Levels", "Nudge Data",
                                            "Time Stretch", "Retime"};
  return set;
}

// The tempo estimates and Find Beats write the tempo (and the beats) into the settings
// without an undo entry.
const std::set<int>& TempoWithoutUndoCommands() {
  static const std::set<int> set = {cmd::kFindBpmFromLength, cmd::kFindBpmFromTransients, cmd::kFindBeats};
  return set;
}

// Commands that may leave the selection reversed as they are meant to: Set
// Loop In and Out place one point and leave the other where it is; Add
// Silence moves loop in when it lies at the cursor but loop out only when it
// lies past it; Align Phase puts loop out on its zero crossing before it
// looks at loop in, and keeps it there when it then refuses; Align Looping
// Points looks for the new start up to 200 ms either side of the old one,
// which can pass a short selection's end.
const std::set<int>& SelectionReorderingCommands() {
  static const std::set<int> set = {cmd::kSetLoopIn,         cmd::kSetLoopOut, cmd::kSetLeftLoopPoint,
                                    cmd::kSetRightLoopPoint, cmd::kAddSilence, cmd::kAlignPhase,
                                    cmd::kAlignLoopingPoints};
  return set;
}

// The rate conversions cannot be undone: each clears the history.
const std::set<int>& HistoryClearingCommands() {
  static const std::set<int> set = {cmd::kDoubleTime,       cmd::kResampleTo22k,          cmd::kResampleTo22kDoubleTime,
                                    cmd::kResampleTo16k,    cmd::kResampleTo16kDoubleTime, cmd::kSp1200Repitch,
                                    cmd::kResampleTo44k,    cmd::kResampleTo46875};
  return set;
}

std::string WithoutEllipsis(std::string text) {
  if (text.size() >= 3 && text.ends_with("...")) text.resize(text.size() - 3);
  return text;
}

}  // namespace

// The registry holds the display-free commands: the core's, the view's,
// the pitch, chop-and-tempo, note and loop-synthesis commands, with their
// dialogs answered from the choices. Not declared at all: the kit imports
// and exports (files), the device's commands (a sampler on MIDI), the
// sampling and other tools of tools/ui and the micro synth (windows of
// their own), and the application's (windows, files, the clipboard).
const std::vector<std::pair<int, std::string>>& EditSession::ExcludedCommands() {
  static const std::vector<std::pair<int, std::string>> list = {
      {cmd::kFileNew, "replaces the document and clears the history"},
      {cmd::kFileOpen, "reads a file"},
      {cmd::kFileSave, "writes a file"},
      {cmd::kFileSaveAs, "writes a file"},
      {cmd::kNewEmptySample, "replaces the document and clears the history"},
      {cmd::kExportOverview, "writes a file"},
      {cmd::kExportInstrumentData, "writes a file"},
      {cmd::kExportWavWithoutLimits, "writes a file"},
      {cmd::kEditUndo, "a step of its own"},
      {cmd::kEditRedo, "a step of its own"},
      {cmd::kPlayStop, "plays through the audio device"},
      {cmd::kCopyPositionAsText, "puts text on the desktop clipboard"},
  };
  return list;
}

struct EditSession::Impl final : DocumentObserver {
  Impl(StepChoices& c, const std::filesystem::path& folder)
      : choices(c),
        settingsScope(&settings),
        messages(c),
        messageScope(&messages),
        parameters(c),
        pitchDialogs(c),
        chopDialogs(c),
        noteDialogs(c) {
    previousParameters = SetParameterDialogHost(&parameters);
    previousClipboard = SetClipboardHost(&clipboard);
    previousFileDialogs = SetFileDialogHost(nullptr);
    doc = std::make_unique<CQuorvelDoc>();
    doc->undoHistory.snapshotFolder = folder;
    Generate();
    model = std::make_unique<ViewModel>(*doc);
    model->clientWidth = kClientWidth;
    model->clientHeight = kClientHeight;
    model->ResetForDocument();
    model->framesPerPixel = static_cast<float>(std::max<int64_t>(1, doc->FrameCount() / (kClientWidth - 100)));
    model->viewStart = -static_cast<double>(model->framesPerPixel) * (20 + choices.Pick(20));
    model->snapToZeroCrossing = choices.Pick(3) == 0;
    doc->AddObserver(this);
    context = std::make_unique<BasicCommandContext>(doc.get(), model.get());
    mouse = std::make_unique<MouseEditing>(*model);
    ConnectAudioTools(*mouse, *model, [this] { return context.get(); });

    DeclareCoreCommands(registry);
    DeclareViewCommands(registry, *model);
    DeclarePitchCommands(registry, pitchDialogs);
    DeclareChopTempoCommands(registry, chopDialogs);
    DeclareNoteCommands(registry, noteDialogs);
    DeclareLoopSynthCommands(registry);
    std::set<int> excluded;
    for (const auto& [id, why] : ExcludedCommands()) excluded.insert(id);
    for (const auto& [id, command] : registry.Commands()) {
      if (command.run && !excluded.contains(id)) commandIds.push_back(id);
    }
    original = StateOf(*doc);
  }
  ~Impl() override {
    doc->RemoveObserver(this);
    SetFileDialogHost(previousFileDialogs);
    SetClipboardHost(previousClipboard);
    SetParameterDialogHost(previousParameters);
  }

  void OnDocumentChanged(DocumentChange change) override { model->Follow(change); }

  // A few thousand frames of 16-bit audio (a decaying tone over noise with a
  // silent stretch), two or three regions side by side, some looped.
  void Generate() {
    const uint16_t channels = choices.Pick(2) == 0 ? 1 : 2;
    const uint32_t rate = choices.Pick(2) == 0 ? 8000 : 22050;
    const int64_t frames = 2000 + 50 * static_cast<int64_t>(choices.Pick(81));
    std::vector<int16_t> samples(static_cast<size_t>(frames * channels));
    uint32_t noise = 12345u + choices.Pick(1000);
    const double hz = 110.0 * (1 + choices.Pick(8));
    const int64_t silentFrom = frames / 2 + static_cast<int64_t>(choices.Pick(200));
    for (int64_t f = 0; f < frames; ++f) {
      const bool silent = f >= silentFrom && f < silentFrom + frames / 8;
      const double envelope = std::exp(-3.0 * static_cast<double>(f % (frames / 3 + 1)) / static_cast<double>(frames));
      for (uint16_t ch = 0; ch < channels; ++ch) {
        noise = noise * 1664525u + 1013904223u;
        const double tone = std::sin(2.0 * M_PI * hz * static_cast<double>(f) / rate + ch);
        const double n = static_cast<double>(static_cast<int32_t>(noise >> 16) - 32768) / 32768.0;
        const double v = silent ? 0.0 : 20000.0 * envelope * tone + 1500.0 * n;
        samples[static_cast<size_t>(f * channels + ch)] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
      }
    }
    const Bytes wav = MakePcm16Wav(samples, channels, rate);
    doc->LoadWavFromMemory(wav, "generated.wav");
    const int64_t loaded = doc->FrameCount();
    const int count = 2 + static_cast<int>(choices.Pick(2));
    InstrumentData& inst = doc->instrument;
    inst.hasInstrument = true;
    inst.regions.clear();
    for (int i = 0; i < count; ++i) {
      Region r;
      r.startSample = loaded * i / count;
      r.endSample = loaded * (i + 1) / count;
      r.loKey = 36 + 12 * i;
      r.hiKey = r.loKey + 11;
      r.rootNote = r.loKey + 5;
      if (choices.Pick(3) != 0) {
        r.loopStart = r.startSample + r.Length() / 4;
        r.loopEnd = r.endSample - r.Length() / 8;
      }
      inst.regions.push_back(r);
    }
    inst.params.bpm = 120.0f;
    doc->undoHistory.Clear();
    doc->SetModifiedFlag(false);
  }

  // ------------------------------------------------------------ steps --
  std::string Describe(int id) const {
    std::ostringstream s;
    s << "command " << id << " \"" << registry.PlainText(id) << "\"";
    return s.str();
  }
  std::set<std::string> ExpectedFor(int id) const {
    const std::string text = WithoutEllipsis(registry.PlainText(id));
    const auto& table = DescriptionsByText();
    if (auto it = table.find(text); it != table.end()) return it->second;
    return {text};
  }

  // A point on the screen worth pressing or releasing at: the edges of
  // regions and loops, the markers and the selection bar, the margins beside
  // the audio, or anywhere.
  ClientPoint PickPoint() {
    const InstrumentData& inst = doc->instrument;
    const int64_t frames = doc->FrameCount();
    const int regions = static_cast<int>(inst.regions.size());
    auto band = [&] {
      switch (choices.Pick(4)) {
        case 0: return static_cast<int>(choices.Pick(kRegionBarHeight));
        case 1: return model->WaveBottom() + static_cast<int>(choices.Pick(model->PianoStripHeight()));
        default: return model->WaveTop() + static_cast<int>(choices.Pick(model->WaveBottom() - model->WaveTop()));
      }
    };
    auto centre = [&](const Rect& r) -> std::optional<ClientPoint> {
      if (r.IsEmpty()) return std::nullopt;
      return ClientPoint{r.left + static_cast<int>(choices.Pick(r.Width())),
                         r.top + static_cast<int>(choices.Pick(r.Height()))};
    };
    const int jitter = static_cast<int>(choices.Pick(5)) - 2;
    switch (choices.Pick(9)) {
      case 0:
        if (regions > 0) {
          const Region& r = inst.regions[choices.Pick(regions)];
          return {model->XAtFrame(choices.Pick(2) ? r.startSample : r.endSample) + jitter, band()};
        }
        break;
      case 1:
        if (regions > 0) {
          const int i = static_cast<int>(choices.Pick(regions));
          if (auto p = centre(choices.Pick(2) ? mouse->RegionLoopStartHandle(i) : mouse->RegionLoopEndHandle(i))) {
            return *p;
          }
          const Region& r = inst.regions[i];
          if (r.HasLoop()) return {model->XAtFrame(choices.Pick(2) ? r.loopStart : r.loopEnd) + jitter, band()};
        }
        break;
      case 2:
        if (auto p = centre(choices.Pick(2) ? model->loopInHandleRect : model->loopOutHandleRect)) return *p;
        break;
      case 3:
        if (auto p = centre(model->selectionBarRect)) return *p;
        break;
      case 4: return {model->XAtFrame(frames) + 1 + static_cast<int>(choices.Pick(40)), band()};
      case 5: return {model->XAtFrame(0) - 1 - static_cast<int>(choices.Pick(20)), band()};
      case 6:
        if (auto p = centre(mouse->ToolRightHandle())) return *p;
        if (auto p = centre(mouse->RetimeLeftHandle())) return *p;
        break;
      default: break;
    }
    return {static_cast<int>(choices.Pick(kClientWidth + 40)) - 20, band()};
  }

  MouseModifiers PickModifiers() {
    MouseModifiers m;
    m.ctrl = choices.Pick(3) == 0;
    m.shift = choices.Pick(5) == 0;
    m.alt = choices.Pick(6) == 0;
    return m;
  }

  std::string ModsText(MouseModifiers m) const {
    std::string s = m.ctrl ? "Ctrl+" : "";
    if (m.shift) s += "Shift+";
    if (m.alt) s += "Alt+";
    return s;
  }

  // A paint records the hit rectangles the mouse handling reads.
  void Paint() {
    DrawList list;
    ViewDrawing(*model, list).OnDraw(model->clientWidth, model->clientHeight);
  }

  // Press, one to three moves and a release; now and then a double click.
  std::string Drag() {
    Paint();
    const MouseModifiers mods = PickModifiers();
    const ClientPoint from = PickPoint();
    std::ostringstream s;
    s << ModsText(mods) << "drag from (" << from.x << "," << from.y << ")";
    if (choices.Pick(10) == 0) {
      // A double click: the first click is a step of its own, checked
      // before the second arrives.
      mouse->Press(from.x, from.y, mods);
      mouse->Release(from.x, from.y, mods);
      s << " double click";
      pendingDoubleClick = DoubleClickRest{from, mods};
      return s.str();
    }
    mouse->Press(from.x, from.y, mods);
    ClientPoint to = from;
    const int moves = 1 + static_cast<int>(choices.Pick(3));
    for (int i = 0; i < moves; ++i) {
      to = PickPoint();
      mouse->Move(to.x, to.y, mods);
      s << " to (" << to.x << "," << to.y << ")";
    }
    mouse->Release(to.x, to.y, mods);
    return s.str();
  }

  bool SelectionOrdered() const { return model->loopIn < 0 || model->loopOut < 0 || model->loopIn <= model->loopOut; }

  // |checkOrder|: the selection must be ordered (Set Loop In and Out keep
  // the two points where they are set, reversed or not).
  std::string CheckInvariants(bool checkOrder = true) const {
    const int64_t frames = doc->HasAudio() ? doc->FrameCount() : 0;
    auto within = [&](int64_t f) { return f == -1 || (f >= 0 && f <= frames); };
    std::ostringstream s;
    if (!within(model->cursorFrame)) s << "cursor " << model->cursorFrame << " outside 0.." << frames;
    else if (!within(model->playAnchor)) s << "play anchor " << model->playAnchor << " outside 0.." << frames;
    else if (!within(model->loopIn) || !within(model->loopOut)) {
      s << "selection " << model->loopIn << ".." << model->loopOut << " outside 0.." << frames;
    } else if (checkOrder && !SelectionOrdered()) {
      s << "selection " << model->loopIn << ".." << model->loopOut << " not ordered";
    }
    if (!s.str().empty()) return s.str();
    const auto& regions = doc->instrument.regions;
    if (model->selectedRegion < -1 || model->selectedRegion >= static_cast<int>(regions.size())) {
      return "selected region " + std::to_string(model->selectedRegion) + " of " + std::to_string(regions.size());
    }
    for (size_t i = 0; i < regions.size(); ++i) {
      const Region& r = regions[i];
      if (r.startSample < 0 || r.startSample > r.endSample || r.endSample > frames) {
        return "region " + std::to_string(i) + " " + RegionText(r) + " outside 0.." + std::to_string(frames);
      }
      if ((r.loopStart == kNoLoop) != (r.loopEnd == kNoLoop)) return "region " + std::to_string(i) + " " + RegionText(r) + " has half a loop";
      if (r.HasLoop() && (r.loopStart < r.startSample || r.loopStart > r.loopEnd || r.loopEnd > r.endSample)) {
        return "region " + std::to_string(i) + " " + RegionText(r) + " has its loop outside";
      }
    }
    return {};
  }

  // The history and the document after a step that may record one entry.
  std::string CheckRecorded(const DocState& before, const std::vector<std::string>& undoBefore,
                            const std::vector<std::string>& redoBefore, const std::set<std::string>& expected) {
    const std::vector<std::string> undoAfter = Descriptions(doc->undoHistory.undoStack);
    const std::vector<std::string> redoAfter = Descriptions(doc->undoHistory.redoStack);
    if (undoAfter == undoBefore && redoAfter == redoBefore) {
      const std::string diff = Difference(before, StateOf(*doc));
      return diff.empty() ? diff : "changed the document without an undo entry: " + diff;
    }
    if (undoAfter.size() == undoBefore.size() + 1 &&
        std::equal(undoBefore.begin(), undoBefore.end(), undoAfter.begin())) {
      if (!redoAfter.empty()) return "a new undo entry left the redo stack " + Joined(redoAfter);
      if (!expected.contains(undoAfter.back())) {
        std::vector<std::string> want(expected.begin(), expected.end());
        return "recorded \"" + undoAfter.back() + "\", expected one of " + Joined(want);
      }
      undoStates.push_back(before);
      redoStates.clear();
      return {};
    }
    return "the history went from " + Joined(undoBefore) + " / " + Joined(redoBefore) + " to " + Joined(undoAfter) +
           " / " + Joined(redoAfter);
  }

  std::string UndoOrRedo(bool undo) {
    auto& from = undo ? undoStates : redoStates;
    auto& to = undo ? redoStates : undoStates;
    const size_t undoCount = doc->undoHistory.undoStack.size();
    const size_t redoCount = doc->undoHistory.redoStack.size();
    const DocState before = StateOf(*doc);
    if (undo) doc->Undo(); else doc->Redo();
    if (from.empty()) {
      if (doc->undoHistory.undoStack.size() != undoCount || doc->undoHistory.redoStack.size() != redoCount) {
        return "an empty stack's step changed the history";
      }
      return Difference(before, StateOf(*doc));
    }
    const size_t wantUndo = undo ? undoCount - 1 : undoCount + 1;
    const size_t wantRedo = undo ? redoCount + 1 : redoCount - 1;
    if (doc->undoHistory.undoStack.size() != wantUndo || doc->undoHistory.redoStack.size() != wantRedo) {
      return "the stacks hold " + std::to_string(doc->undoHistory.undoStack.size()) + " / " +
             std::to_string(doc->undoHistory.redoStack.size()) + " entries, not " + std::to_string(wantUndo) +
             " / " + std::to_string(wantRedo);
    }
    const auto& moved = undo ? doc->undoHistory.redoStack.back() : doc->undoHistory.undoStack.back();
    if (moved.description != (undo ? "Redo" : "Undo")) return "the moved entry says \"" + moved.description + "\"";
    const std::string diff = Difference(from.back(), StateOf(*doc));
    if (!diff.empty()) return std::string(undo ? "Undo" : "Redo") + " did not restore the document: " + diff;
    from.pop_back();
    to.push_back(before);
    return {};
  }

  std::string Step() {
    const DocState before = StateOf(*doc);
    const auto undoBefore = Descriptions(doc->undoHistory.undoStack);
    const auto redoBefore = Descriptions(doc->undoHistory.redoStack);
    std::string failure;
    bool checkOrder = SelectionOrdered();
    const uint32_t kind = choices.Pick(20);
    if (kind < 9) {
      const int id = commandIds[choices.Pick(static_cast<uint32_t>(commandIds.size()))];
      std::string line = Describe(id);
      if (choices.Pick(3) == 0) {
        // Opened from a context menu: the right click comes first.
        Paint();
        const ClientPoint p = PickPoint();
        model->ContextMenuAt(p.x, p.y);
        line += " from a context menu at (" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
      }
      trace.push_back(line);
      if (SelectionReorderingCommands().contains(id)) checkOrder = false;
      registry.Run(id, *context);
      context->RunPosted();
      if (HistoryClearingCommands().contains(id) && (Difference(before, StateOf(*doc)) != "" || undoBefore != Descriptions(doc->undoHistory.undoStack))) {
        // A conversion that ran: the history is gone, and the session starts over from here.
        if (!doc->undoHistory.undoStack.empty() || !doc->undoHistory.redoStack.empty()) {
          failure = "a conversion that cannot be undone left history behind";
        }
        original = StateOf(*doc);
        undoStates.clear();
        redoStates.clear();
      } else if (TempoWithoutUndoCommands().contains(id) && undoBefore == Descriptions(doc->undoHistory.undoStack) &&
                 redoBefore == Descriptions(doc->undoHistory.redoStack)) {
        DocState tempoOnly = before;
        tempoOnly.instrument.params.bpm = doc->instrument.params.bpm;
        tempoOnly.instrument.params.beats = doc->instrument.params.beats;
        failure = Difference(tempoOnly, StateOf(*doc));
        if (!failure.empty()) failure = "a tempo estimate changed more than the tempo: " + failure;
        // With nothing to undo, the document undoing everything returns to is this one.
        if (undoStates.empty()) original = StateOf(*doc);
      } else {
        failure = CheckRecorded(before, undoBefore, redoBefore, ExpectedFor(id));
      }
    } else if (kind < 16) {
      trace.push_back(Drag());
      failure = CheckRecorded(before, undoBefore, redoBefore, DragDescriptions());
      if (failure.empty() && pendingDoubleClick) {
        const DoubleClickRest click = *pendingDoubleClick;
        pendingDoubleClick.reset();
        const DocState between = StateOf(*doc);
        const auto undoBetween = Descriptions(doc->undoHistory.undoStack);
        const auto redoBetween = Descriptions(doc->undoHistory.redoStack);
        Paint();
        mouse->DoubleClick(click.at.x, click.at.y, click.mods);
        mouse->Release(click.at.x, click.at.y, click.mods);
        failure = CheckRecorded(between, undoBetween, redoBetween, DragDescriptions());
        if (!failure.empty()) failure = "the double click's second click: " + failure;
      }
    } else if (kind < 18) {
      trace.push_back("Undo");
      failure = UndoOrRedo(true);
    } else {
      trace.push_back("Redo");
      failure = UndoOrRedo(false);
    }
    if (failure.empty()) failure = CheckInvariants(checkOrder);
    return failure;
  }

  std::string UndoAllAndRedoAll() {
    const DocState last = StateOf(*doc);
    const size_t undone = undoStates.size();
    while (!undoStates.empty()) {
      trace.push_back("Undo (final)");
      if (std::string f = UndoOrRedo(true); !f.empty()) return f;
      if (std::string f = CheckInvariants(false); !f.empty()) return f;
    }
    if (doc->CanUndo()) return "an undo entry is left over";
    if (std::string diff = Difference(original, StateOf(*doc)); !diff.empty()) {
      return "undoing everything did not give back the generated document: " + diff;
    }
    for (size_t i = 0; i < undone; ++i) {
      trace.push_back("Redo (final)");
      if (std::string f = UndoOrRedo(false); !f.empty()) return f;
      if (std::string f = CheckInvariants(false); !f.empty()) return f;
    }
    if (std::string diff = Difference(last, StateOf(*doc)); !diff.empty()) {
      return "redoing everything did not give back the last document: " + diff;
    }
    return {};
  }

  struct DoubleClickRest {
    ClientPoint at;
    MouseModifiers mods;
  };
  std::optional<DoubleClickRest> pendingDoubleClick;

  StepChoices& choices;
  MemorySettings settings;
  ScopedSettingsStore settingsScope;
  ChoiceMessages messages;
  ScopedMessageHost messageScope;
  ChoiceParameters parameters;
  MemoryClipboard clipboard;
  ChoicePitchDialogs pitchDialogs;
  ChoiceChopTempoDialogs chopDialogs;
  ChoiceNoteDialogs noteDialogs;
  ParameterDialogHost* previousParameters = nullptr;
  ClipboardHost* previousClipboard = nullptr;
  FileDialogHost* previousFileDialogs = nullptr;

  std::unique_ptr<CQuorvelDoc> doc;
  std::unique_ptr<ViewModel> model;
  std::unique_ptr<BasicCommandContext> context;
  std::unique_ptr<MouseEditing> mouse;
  CommandRegistry registry;
  std::vector<int> commandIds;

  DocState original;
  // The document each undo entry brings back, and each redo entry.
  std::vector<DocState> undoStates;
  std::vector<DocState> redoStates;
  std::vector<std::string> trace;
};

EditSession::EditSession(StepChoices& choices, const std::filesystem::path& snapshotFolder)
    : impl_(std::make_unique<Impl>(choices, snapshotFolder)) {}
EditSession::~EditSession() = default;
std::string EditSession::Step() { return impl_->Step(); }
std::string EditSession::UndoAllAndRedoAll() { return impl_->UndoAllAndRedoAll(); }
const std::vector<std::string>& EditSession::Trace() const { return impl_->trace; }
const std::vector<int>& EditSession::CommandIds() const { return impl_->commandIds; }

std::string RunEditSession(StepChoices& choices, const std::filesystem::path& snapshotFolder, int steps) {
  EditSession session(choices, snapshotFolder);
  std::string failure;
  for (int i = 0; i < std::min(steps, kMaxEditSteps) && failure.empty() && !choices.Exhausted(); ++i) {
    failure = session.Step();
  }
  if (failure.empty()) failure = session.UndoAllAndRedoAll();
  if (failure.empty()) return {};
  std::ostringstream s;
  s << failure << "\nafter these steps:";
  for (size_t i = 0; i < session.Trace().size(); ++i) s << "\n  " << i + 1 << ". " << session.Trace()[i];
  return s.str();
}

}  // namespace zandrel::test
