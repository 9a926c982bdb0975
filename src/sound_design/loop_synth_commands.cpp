#include "sound_design/loop_synth_commands.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "platform/audio_output.h"
#include "platform/message_host.h"
#include "document/edit_transaction.h"
#include "document/region_edits.h"
#include "platform/text_format.h"
#include "processing/pcm_preview_source.h"
#include "processing/processing_range.h"
#include "sound_design/loop_synth.h"
#include "sound_design/vocoder.h"

namespace zandrel {
namespace {

constexpr const char* kSetLoopPoints = "Please set valid loop points first.";
constexpr const char* kSelectRegion = "Please select a region to use as the source.";
// The Frequency Cloud's preview renders at most this many loop lengths.
constexpr float kPreviewLengthLimit = 4.0f;

// 0x00BBGGRR from the tables' R, G, B.
constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

ParameterItem Knob(std::string key, std::string label, std::string format, float minimum, float maximum,
                   float defaultValue, uint32_t colour) {
  return ParameterItem{false, std::move(key), std::move(label), std::move(format), minimum, maximum, defaultValue,
                       colour};
}
ParameterItem Help(std::string text) {
  ParameterItem item;
  item.section = true;
  item.label = std::move(text);
  return item;
}

float Value(const ParameterValues& values, const std::string& key, float fallback) {
  const auto it = values.find(key);
  return it == values.end() ? fallback : it->second;
}

void Log(const CQuorvelDoc& doc, const std::string& line) {
  if (LogSink* log = doc.GetLog()) log->AppendLog(line);
}

// The looping preview sound of one command run. Stop() is the stop
// contract: once it returns the output reads nothing of the old PCM, which
// is freed with the source.
class PreviewSound {
 public:
  explicit PreviewSound(LogSink* log) : log_(log) {}
  ~PreviewSound() { Stop(); }
  void Stop() {
    if (!source_) return;
    CurrentAudioOutput().Leave(source_.get());
    source_.reset();
  }
  void Play(std::vector<int16_t> pcm, uint32_t rate, int channels) {
    Stop();
    source_ = std::make_shared<PcmPreviewSource>(std::move(pcm), rate, channels, /*loop=*/true);
    // The preview runs after every knob move: a refused sound is said once
    // per dialog, not once per move.
    const bool joined = refusalShown_ ? CurrentAudioOutput().Join(source_) : JoinOrReport(source_, log_);
    if (!joined) {
      refusalShown_ = true;
      source_.reset();
    }
  }

 private:
  LogSink* log_;
  bool refusalShown_ = false;
  std::shared_ptr<PcmPreviewSource> source_;
};

// The Frequency Cloud's running log line: "Generating PaulStretch... n%"
// replaces the previous progress line while that is still the log's last
// line, and is appended below whatever was logged since otherwise.
class ProgressLogLine {
 public:
  explicit ProgressLogLine(LogSink* log) : log_(log) {}
  void Start(const std::string& text) { Write(text, false); }
  void Percent(int percent) {
    if (percent == last_) return;
    last_ = percent;
    Write(Format("Generating PaulStretch... %d%%", percent), true);
  }

 private:
  void Write(const std::string& text, bool replace) {
    if (!log_) return;
    if (replace && written_ && log_->LinesAppended() == appended_ && log_->LineCount() == count_ && count_ > 0)
      log_->RemoveLastLine();
    log_->AppendLog(text);
    written_ = true;
    appended_ = log_->LinesAppended();
    count_ = log_->LineCount();
  }

  LogSink* log_;
  bool written_ = false;
  uint64_t appended_ = 0;
  size_t count_ = 0;
  int last_ = -1;
};

std::optional<FrameRange> FindRange(const LoopToolSpec& spec, const CQuorvelDoc& doc, const ViewSelection& view) {
  const int64_t frames = doc.FrameCount();
  if (spec.range == LoopRangeRule::kLoopSelection) {
    // A selection reaching past the audio is cut to it; what is left must
    // still be a range.
    if (view.loopIn < 0 || view.loopOut <= view.loopIn) return std::nullopt;
    const int64_t end = std::min(view.loopOut, frames);
    if (view.loopIn >= end) return std::nullopt;
    return FrameRange{view.loopIn, end};
  }
  auto range = ComputeProcessingRange({view.loopIn, view.loopOut, view.loopPlayback},
                                      !doc.instrument.regions.empty(), frames);
  if (range && range->Empty()) return std::nullopt;
  return range;
}

LoopToolOutput Plain(std::vector<int16_t> samples) {
  LoopToolOutput out;
  out.samples = std::move(samples);
  return out;
}

// The clouds count whole percentages; the rest of the commands hear 0..1.
CloudProgress Percent(const WorkProgress& progress) {
  if (!progress) return {};
  return [&progress](int percent) { return progress(percent / 100.0); };
}

LoopToolOutput SustainEngine(const LoopPcm& loop, const ParameterValues& v, Rand15&, const WorkProgress& progress,
                             bool) {
  SustainLoopKnobs k;
  k.cycleOffset = Value(v, "cycleOffset", k.cycleOffset);
  k.xfade = Value(v, "xfade", k.xfade);
  k.step = Value(v, "step", k.step);
  k.mix = Value(v, "mix", k.mix);
  LoopSynthResult r =
      SynthesizeSustainLoop(loop.samples, loop.channels, loop.rate, SustainLoopParamsFromKnobs(k), progress);
  return {std::move(r.samples), r.loopStart, r.loopEnd};
}

LoopToolOutput MorphEngine(const LoopPcm& loop, const ParameterValues& v, Rand15&, const WorkProgress& progress,
                           bool) {
  MorphLoopKnobs k;
  k.cycleOffset = Value(v, "cycleOffset", k.cycleOffset);
  k.xfade = Value(v, "xfade", k.xfade);
  k.morph = Value(v, "morph", k.morph);
  k.shift = Value(v, "shift", k.shift);
  k.dull = Value(v, "dull", k.dull);
  k.hollow = Value(v, "hollow", k.hollow);
  const MorphLoopSettings s = MorphLoopSettingsFromKnobs(k);
  LoopSynthResult r = SynthesizeMorphLoop(loop.samples, loop.channels, loop.rate, s.loop, s.morph, progress);
  return {std::move(r.samples), r.loopStart, r.loopEnd};
}

// The Vocoder's carrier and modulator are made once, before its dialog.
LoopToolEngine PrepareVocoder(const LoopPcm& loop, int bitsPerSample, std::string& message,
                              const WorkProgress& progress) {
  if (bitsPerSample != 16) {
    message = std::string(kVocoder16BitMessage);
    return {};
  }
  bool stopped = false;
  const WorkProgress watched = [&](double f) { return !(stopped = stopped || !ReportProgress(progress, f)); };
  auto carrier =
      std::make_shared<VocoderCarrier>(BuildVocoderCarrier(loop.samples, loop.channels, loop.rate, watched));
  if (stopped) return {};
  if (carrier->Empty()) {
    message = std::string(kNoCarrierMessage);
    return {};
  }
  return [carrier](const LoopPcm& l, const ParameterValues& v, Rand15&, const WorkProgress& progress, bool) {
    VocoderKnobs k;
    k.shiftBins = Value(v, "shiftBins", k.shiftBins);
    k.phaseMix = Value(v, "phaseMix", k.phaseMix);
    k.envelopeSmooth = Value(v, "envelopeSmooth", k.envelopeSmooth);
    VocoderResult r =
        RunVocoder(carrier->carrier, carrier->modulator, l.channels, 16, VocoderParamsFromKnobs(k), progress);
    if (!r.success) return LoopToolOutput{};
    return Plain(std::move(r.samples));
  };
}

}  // namespace

GranularParams GranularFromKnobs(const ParameterValues& v) {
  GranularParams p;
  p.lengthRatio = Value(v, "duration", 200.0f) / 100.0;
  p.grainMs = Value(v, "grain_size", 800.0f);
  p.density = Value(v, "density", 4.0f);
  p.jitter = Value(v, "jitter", 0.01f);
  p.loopFadeMs = Value(v, "xfade", 750.0f);
  p.mix = Value(v, "mix", 1.0f);
  return p;
}

PaulStretchParams PaulStretchFromKnobs(const ParameterValues& v, bool preview) {
  PaulStretchParams p;
  p.stretch = PaulStretchFactor(Value(v, "str_coarse", 4.0f), Value(v, "str_fine", 0.0f));
  p.windowMs = Value(v, "window", 250.0f);
  p.lengthRatio = Value(v, "duration", 200.0f) / 100.0f;
  if (preview) p.lengthRatio = std::min(p.lengthRatio, kPreviewLengthLimit);
  p.position = Value(v, "position", 0.0f);
  p.loopFadeMs = Value(v, "xfade", 750.0f);
  p.mix = Value(v, "mix", 1.0f);
  return p;
}

std::vector<LoopToolSpec> LoopToolSpecs() {
  const std::string pitchCycleHelp =
      "Offset: Start of loop synthesis.\nMix: 100% = Pure Robot, 0% = Crossfaded Original.\nX-Fade: Smooths the "
      "original audio boundary.";
  std::vector<LoopToolSpec> specs;
  specs.push_back({.tool = LoopTool::kInfiniteSustain,
                   .id = cmd::kInfiniteSustainSynth,
                   .menuText = "Infinite Sustain Synth",
                   .menus = {{"&Audio", 600}},
                   .title = "Synthesize Loop",
                   .configName = "synthesize_loop_mix",
                   .undoLabel = "Synthesize Loop",
                   .successLog = "Synthesized loop with mix.",
                   .range = LoopRangeRule::kLoopSelection,
                   .items = {Knob("cycleOffset", "Offset", "%.0f %%", 0, 90, 0, Rgb(50, 150, 255)),
                             Knob("xfade", "Orig X-Fade", "%.0f ms", 0, 1000, 200, Rgb(171, 42, 0)),
                             Knob("step", "Step", "%.0f", 1, 20, 1, Rgb(171, 42, 0)),
                             Knob("mix", "Mix", "%.0f %%", 0, 100, 100, Rgb(255, 100, 100)), Help(pitchCycleHelp)},
                   .emptyMessage = "Could not detect fundamental frequency.",
                   .engine = SustainEngine});
  specs.push_back({.tool = LoopTool::kMorphLoop,
                   .id = cmd::kMorphLoop,
                   .menuText = "Morpher...",
                   .menus = {{"&Audio", 601}},
                   .title = "Morph Loop",
                   .configName = "synthesize_loop_mix",
                   .undoLabel = "Synthesize Loop",
                   .successLog = "Synthesized perfect loop (Mix 0).",
                   .range = LoopRangeRule::kLoopSelection,
                   .items = {Knob("cycleOffset", "Offset", "%.0f %%", 0, 90, 0, Rgb(50, 150, 255)),
                             Knob("xfade", "Orig X-Fade", "%.0f ms", 0, 1000, 200, Rgb(171, 42, 0)),
                             Knob("morph", "Morph", "%.0f %%", 0, 100, 100, Rgb(255, 100, 100)),
                             Knob("shift", "Morph Timbre", "%+.0f", -30, 30, 0, Rgb(200, 100, 255)),
                             Knob("dull", "Morph Gate", "%.2f", 0, 1, 0, Rgb(100, 200, 255)),
                             Knob("hollow", "Morph Comb", "%.0f", 1, 10, 1, Rgb(255, 100, 100)), Help(pitchCycleHelp)},
                   .emptyMessage = "Could not detect fundamental frequency.",
                   .engine = MorphEngine});
  specs.push_back({.tool = LoopTool::kGranularCloud,
                   .id = cmd::kGranularCloud,
                   .menuText = "Granular Cloud...",
                   .menus = {{"&Audio", 602}},
                   .title = "Granular Cloud Settings",
                   .configName = "granular",
                   .undoLabel = "Granular Cloud",
                   .successLog = "Generated Slow Granular Cloud.",
                   .range = LoopRangeRule::kProcessingRange,
                   .items = {Knob("duration", "Loop Length", "%.0f %%", 100, 600, 200, Rgb(50, 150, 255)),
                             Knob("grain_size", "Grain Size", "%.0f ms", 50, 2000, 800, Rgb(50, 150, 255)),
                             Knob("density", "Density", "%.0fx", 2, 16, 4, Rgb(50, 150, 255)),
                             Knob("jitter", "Pitch Jitter", "%.2f", 0, 0.2f, 0.01f, Rgb(50, 150, 255)),
                             Knob("xfade", "Loop Fade", "%.0f ms", 0, 1500, 750, Rgb(171, 42, 0)),
                             Knob("mix", "Mix", "%.0f %%", 0, 1, 1, Rgb(255, 100, 100)),
                             Help("Generate a lush granular texture from the current loop. Loop Length is percentage "
                                  "of source loop. When using Mix, length is always quantized to exact loop "
                                  "multiples for seamless looping.")},
                   .emptyMessage = {},
                   .engine = [](const LoopPcm& loop, const ParameterValues& v, Rand15& random,
                                const WorkProgress& progress, bool /*preview*/) {
                     return Plain(GenerateGranularCloud(loop, GranularFromKnobs(v), random, Percent(progress)));
                   }});
  specs.push_back({.tool = LoopTool::kFrequencyCloud,
                   .id = cmd::kFrequencyCloud,
                   .menuText = "Frequency Cloud...",
                   .menus = {{"&Audio", 603}},
                   .title = "Frequency Cloud (Paul's Stretch)",
                   .configName = "paulstretch",
                   .undoLabel = "PaulStretch Slice",
                   .successLog = "Generated PaulStretch Slice.",
                   .range = LoopRangeRule::kProcessingRangeRegion,
                   .items = {Knob("str_coarse", "Str. Coarse", "%.0fx", 1, 50, 4, Rgb(50, 150, 255)),
                             Knob("str_fine", "Str. Fine", "%+.2fx", -1, 1, 0, Rgb(100, 200, 255)),
                             Knob("window", "Window", "%.0f ms", 20, 1000, 250, Rgb(50, 150, 255)),
                             Knob("duration", "Loop Length", "%.0f %%", 100, 1000, 200, Rgb(171, 42, 0)),
                             Knob("position", "Position", "%.0f %%", 0, 1, 0, Rgb(171, 42, 0)),
                             Knob("xfade", "Loop Fade", "%.0f ms", 0, 1500, 750, Rgb(171, 42, 0)),
                             Knob("mix", "Mix", "%.2f", 0, 1, 1, Rgb(255, 100, 100)),
                             Help("Generates a specific slice of the stretched universe. Loop Length is the "
                                  "percentage of source loop. Mix: Blend with original. When using Mix, length is "
                                  "quantized to exact loop multiples.")},
                   .emptyMessage = {},
                   .engine = [](const LoopPcm& loop, const ParameterValues& v, Rand15& random,
                                const WorkProgress& progress, bool preview) {
                     return Plain(PaulStretchSlice(loop, PaulStretchFromKnobs(v, preview), random, Percent(progress)));
                   }});
  specs.push_back({.tool = LoopTool::kVocoder,
                   .id = cmd::kVocoder,
                   .menuText = "Vocoder...",
                   .menus = {},
                   .title = "Vocoder",
                   .configName = "vocoder_params",
                   .undoLabel = "Vocoder",
                   .successLog = "Vocoder applied.",
                   .range = LoopRangeRule::kLoopSelection,
                   .items = {Knob("shiftBins", "Frequency Shift", "%+.0f bins", -60, 60, 0, Rgb(200, 100, 255)),
                             Knob("phaseMix", "Phase Mix", "%.2f", 0, 1, 0, Rgb(50, 150, 255)),
                             Knob("envelopeSmooth", "Envelope Smooth", "%.2f", 0, 0.99f, 0.6f, Rgb(100, 200, 255)),
                             Help("Frequency Shift: Shifts the modulator spectrum.\nPhase Mix: 0=Carrier phase "
                                  "(classic), 1=Modulator phase.\nEnvelope Smooth: Higher values = smoother vocoder "
                                  "sound.")},
                   .emptyMessage = "Vocoder processing failed.",
                   .engine = {},
                   .prepare = PrepareVocoder});
  return specs;
}

void RunLoopTool(CommandContext& c, const LoopToolSpec& spec, Rand15& random) {
  if (!c.HasAudio() || (!spec.engine && !spec.prepare)) return;
  CQuorvelDoc& doc = *c.Document();
  ViewSelection& view = c.Selection();
  // The engines read 16-bit samples, the document's depth; the Vocoder says
  // so itself (in its preparation), the others do nothing on other depths.
  if (!spec.prepare && doc.audio.format.wBitsPerSample != 16) return;
  const auto range = FindRange(spec, doc, view);
  if (!range) {
    if (spec.range == LoopRangeRule::kProcessingRangeRegion)
      ShowMessage(kSelectRegion);
    else
      ShowMessage(kSetLoopPoints, MessageIcon::Information);
    return;
  }
  c.StopPlayback();

  // The loop copy: the engines and the previews read only this.
  const PcmFormat format = doc.audio.format;
  const int channels = std::max(1, static_cast<int>(format.nBlockAlign / 2));
  const size_t block = format.nBlockAlign;
  auto copy = std::make_shared<std::vector<int16_t>>(static_cast<size_t>(range->Length()) * block / 2);
  std::memcpy(copy->data(), doc.audio.data.data() + range->start * static_cast<int64_t>(block),
              copy->size() * sizeof(int16_t));
  const LoopPcm loop{*copy, channels, format.nSamplesPerSec};
  LoopToolEngine engine = spec.engine;
  if (spec.prepare) {
    // The preparation reads the loop copy only; a Cancel ends the command
    // before its dialog.
    std::string message;
    const int bits = format.wBitsPerSample;
    LongWork preparing{.title = spec.title,
                       .compute =
                           [&](const std::function<bool(double)>& progress) {
                             engine = spec.prepare(loop, bits, message, progress);
                             return true;
                           },
                       .commit = {}};
    if (!c.RunLongWork(preparing)) return;
    if (!engine) {
      if (!message.empty()) ShowMessage(message);
      return;
    }
  }

  ParameterDialogRequest request;
  request.title = spec.title;
  request.configName = spec.configName;
  request.items = spec.items;
  request.autoPreview = true;
  PreviewSound sound(doc.GetLog());
  request.preview = [&](const ParameterValues& values, const PreviewProgress& bar) {
    sound.Stop();
    WorkProgress progress;
    if (spec.tool == LoopTool::kFrequencyCloud && bar) progress = [&bar](double f) {
      bar(static_cast<int>(std::lround(f * 100.0)));
      return true;
    };
    LoopToolOutput out = engine(loop, values, random, progress, /*preview=*/true);
    if (out.loopStart >= 0 && out.loopEnd > out.loopStart) {
      // The pitch-cycle tools play their body, without the lead-in.
      const int64_t frames = static_cast<int64_t>(out.samples.size()) / channels;
      if (out.loopEnd > frames) return;
      out.samples = std::vector<int16_t>(out.samples.begin() + out.loopStart * channels,
                                         out.samples.begin() + out.loopEnd * channels);
    }
    if (!out.samples.empty()) sound.Play(std::move(out.samples), format.nSamplesPerSec, channels);
  };
  const std::optional<ParameterValues> values = AskParameters(request);
  sound.Stop();
  if (!values) return;

  // The engine once more, off this thread, on the copy.
  ProgressLogLine logLine(doc.GetLog());
  const bool frequencyCloud = spec.tool == LoopTool::kFrequencyCloud;
  if (frequencyCloud) logLine.Start(Format("Starting PaulStretch... %d%%", 0));
  LoopToolOutput out;
  // The engine draws from a copy of the random sequence, which moves on only
  // when the result is committed.
  Rand15 drawn = random;
  LongWork work{.title = spec.title,
                .compute =
                    [&](const std::function<bool(double)>& progress) {
                      bool stopped = false;
                      out = engine(
                          loop, *values, drawn,
                          [&](double f) {
                            stopped = stopped || !progress(f);
                            return !stopped;
                          },
                          /*preview=*/false);
                      return !stopped;
                    },
                .commit = {},
                .onProgress = {}};
  if (frequencyCloud)
    work.onProgress = [&logLine](double fraction) { logLine.Percent(static_cast<int>(std::lround(fraction * 100.0))); };
  if (!c.RunLongWork(work)) return;  // cancelled: nothing changed
  random = drawn;
  if (out.samples.empty()) {
    if (!spec.emptyMessage.empty()) ShowMessage(spec.emptyMessage);
    return;
  }

  std::optional<EditTransaction> edit = EditTransaction::Begin(doc, kUndoWithAudio, spec.undoLabel);
  if (!edit) return;
  doc.NotifyAudioAboutToChange();
  LoopPoints points{view.loopIn, view.loopOut};
  SpliceLoopResult(spec.tool, doc.audio, doc.instrument, points, range->start, range->end,
                   {out.samples, out.loopStart, out.loopEnd});
  view.loopIn = points.loopIn;
  view.loopOut = points.loopOut;
  if (view.cursorFrame > doc.FrameCount()) view.cursorFrame = doc.FrameCount();
  // The selected region takes the new loop within the same edit.
  const int region = spec.tool != LoopTool::kFrequencyCloud ? SetRegionLoopFromSelection(doc.instrument, view) : -1;
  edit->Commit(DocumentChange::kAudio, SelectionMoved::kYes);

  if (region >= 0) {
    c.View().ShowRegion(region);
    c.View().ShowInstrument();
    if (spec.tool != LoopTool::kGranularCloud) Log(doc, spec.successLog);
  }
  if (spec.tool == LoopTool::kGranularCloud || frequencyCloud) Log(doc, spec.successLog);
}

void DeclareLoopSynthCommands(CommandRegistry& registry, std::shared_ptr<Rand15> random) {
  if (!random) random = std::make_shared<Rand15>(1);
  for (LoopToolSpec& spec : LoopToolSpecs()) {
    if (!spec.engine && !spec.prepare) continue;
    auto shared = std::make_shared<LoopToolSpec>(std::move(spec));
    registry.Add(CommandFrom(*shared, [shared, random](CommandContext& c) { RunLoopTool(c, *shared, *random); }));
  }
}

}  // namespace zandrel
