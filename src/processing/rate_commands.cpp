// The rate conversions of the "&ReTime/ReSample" menu.
//
// The EP samplers play a sample whose global pitch is -12 semitones at half
// speed, so a sample stored at double speed costs half the memory and sounds
// the same: the double-time commands speed the audio up and set the pitch
// that compensates. The plain conversions change the rate only.
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "processing/rate_commands.h"

#include "document/edit_transaction.h"
#include "platform/text_format.h"
#include "processing/rate_conversion.h"

namespace zandrel {
namespace {

constexpr double kSp1200Ratio = 1.3348398541700344;  // 2^(5/12): 33 -> 45 RPM

// What one conversion says along the way; empty texts are not shown.
struct ConversionTexts {
  std::string progressLog = {};
  std::string resampledLog = {};
  std::string rateLog = {};  // a second line after the resampled one
  std::string regionsLog = {};
  std::string pitchLog = {};  // logged with or without instrument data
  std::function<std::string(double newSeconds)> completeLog = {};
  std::string finalBox = {};
};

// Duration as the confirmations give it: bytes / (bits / 8 x channels x rate).
double DurationSeconds(const CWavLoader& audio) {
  const PcmFormat& f = audio.format;
  const double bytesPerSecond = static_cast<double>(f.wBitsPerSample / 8) * f.nChannels * f.nSamplesPerSec;
  return bytesPerSecond > 0 ? static_cast<double>(audio.data.size()) / bytesPerSecond : 0.0;
}

void LogLine(CommandContext& c, const std::string& line) {
  if (line.empty()) return;
  if (LogSink* log = c.Log()) log->AppendLog(line);
}

// Steps common to every conversion once it has been confirmed: stop, resample
// off the user-interface thread, install, carry positions, clear the history.
// False when the work was cancelled (nothing changed).
bool Convert(CommandContext& c, const RateConversion& conversion, const ConversionTexts& texts) {
  CQuorvelDoc& doc = *c.Document();
  c.StopPlayback();
  LogLine(c, texts.progressLog);

  const int channels = doc.audio.format.nChannels;
  std::vector<int16_t> input(doc.audio.data.size() / sizeof(int16_t));
  std::memcpy(input.data(), doc.audio.data.data(), input.size() * sizeof(int16_t));
  std::vector<int16_t> converted;
  LongWork work{.title = "Resampling",
                .compute =
                    [&](const std::function<bool(double)>& progress) {
                      // The converter's own reports; a stop leaves |converted| empty.
                      bool going = true;
                      converted = ResampleWholeFile(input, channels, conversion.ratio, 0,
                                                    [&](double f) { return going = progress(f); });
                      return going;
                    },
                .commit = {}};
  if (!c.RunLongWork(work)) return false;
  input = {};

  ViewSelection& view = c.Selection();
  const bool regions = doc.instrument.hasInstrument && !doc.instrument.regions.empty();
  // Nothing recorded before the conversion describes the new audio: an entry
  // restored now would put positions of the old rate onto it, so the
  // conversion records none and clears the history.
  EditTransaction edit = EditTransaction::WithoutUndo(doc);
  doc.NotifyAudioAboutToChange();
  ApplyRateConversion(doc.audio, doc.instrument, view, std::move(converted), conversion);
  LogLine(c, texts.resampledLog);
  LogLine(c, texts.rateLog);
  if (regions) LogLine(c, texts.regionsLog);
  LogLine(c, texts.pitchLog);
  doc.undoHistory.Clear();
  edit.Commit(DocumentChange::kAudio, SelectionMoved::kYes);
  if (texts.completeLog) LogLine(c, texts.completeLog(DurationSeconds(doc.audio)));
  if (!texts.finalBox.empty()) ShowMessage(texts.finalBox, MessageIcon::Information);
  return true;
}

bool HasAudio(CommandContext& c) {
  if (!c.Document()) return false;
  if (c.HasAudio()) return true;
  ShowMessage(kNoAudioText);
  return false;
}

bool Is16Bit(const CommandContext& c, const char* message) {
  if (c.Document()->audio.format.wBitsPerSample == 16) return true;
  ShowMessage(message);
  return false;
}

constexpr const char* kDepthTextLong = "Currently only 16-bit audio is supported for this operation.";
constexpr const char* kDepthTextShort = "Currently only 16-bit audio is supported.";

void OnDoubleTime(CommandContext& c) {
  if (!HasAudio(c)) return;
  const double seconds = DurationSeconds(c.Document()->audio);
  if (!AskYesNo(Format("This will double the speed of the sample (pitch up 12 semitones) for the EP-40 workflow.\n\n"
                       "Current length: %.2f seconds\nNew length: %.2f seconds\n\n"
                       "The global pitch will be set to -12 semitones so the EP-40 plays it back at correct pitch."
                       "\n\nThis operation cannot be undone. Continue?",
                       seconds, seconds * 0.5),
                MessageIcon::Warning))
    return;
  if (!Is16Bit(c, kDepthTextLong)) return;
  Convert(c, {.ratio = 2.0, .scaling = FrameScaling::kHalve, .globalPitch = -12},
          {.progressLog = "Double-time: Resampling audio at 2x speed...",
           .resampledLog = "Double-time: Audio resampled successfully.",
           .regionsLog = "Double-time: Adjusting region boundaries...",
           .pitchLog = "Double-time: Global pitch set to -12 semitones.",
           .completeLog =
               [](double s) {
                 return Format("Double-time complete! New length: %.2f seconds. Global pitch: -12 semitones.", s);
               },
           .finalBox = "Double-time operation complete!\n\nThe sample is now at 2x speed (half the length).\n"
                       "Global pitch is set to -12 semitones.\n\nNote: Check and touch up the loop points for "
                       "clicks.\nLoad this into your EP-40 and it will play back at the correct pitch and duration!"});
}

void OnSp1200Repitch(CommandContext& c) {
  if (!HasAudio(c) || !Is16Bit(c, kDepthTextLong)) return;
  const double seconds = DurationSeconds(c.Document()->audio);
  if (!AskYesNo(Format("This will speed up the sample (simulating 33 -> 45 RPM) for the EP-40 workflow.\n\n"
                       "Pitch Change: +5 Semitones\nSpeed Factor: %.4fx\nCurrent length: %.2f seconds\n"
                       "New length: %.2f seconds\n\nThe global pitch will be set to -5 semitones so the EP-40 plays "
                       "it back at correct pitch.\nThis saves memory and adds the classic SP-1200 alias texture.\n\n"
                       "This operation cannot be undone. Continue?",
                       kSp1200Ratio, seconds, seconds / kSp1200Ratio),
                MessageIcon::Question))
    return;
  Convert(c, {.ratio = kSp1200Ratio, .scaling = FrameScaling::kDivideByRatio, .globalPitch = -5},
          {.progressLog = "SP-1200 Trick: Resampling audio (+5 semitones)...",
           .resampledLog = "SP-1200 Trick: Audio resampled successfully.",
           .regionsLog = "SP-1200 Trick: Adjusting region boundaries...",
           .pitchLog = "SP-1200 Trick: Global pitch set to -5 semitones.",
           .completeLog =
               [](double s) {
                 return Format("SP-1200 repitch complete! New length: %.2f seconds. Global pitch: -5 semitones.", s);
               },
           .finalBox = "Operation complete!\n\nThe sample is now pitched up +5 semitones (shorter).\n"
                       "Global pitch is set to -5 semitones.\n\nNote: Check your loop points for clicks."});
}

// A plain conversion to |target| (44.1, 22.05 or 16 kHz): duration and pitch
// stay, only the rate changes.
void OnPlainConversion(CommandContext& c, uint32_t target) {
  if (!HasAudio(c)) return;
  const char* depthText = target == 16000 ? kDepthTextLong : kDepthTextShort;
  if (!Is16Bit(c, depthText)) return;
  const int rate = static_cast<int>(c.Document()->audio.format.nSamplesPerSec);
  const int t = static_cast<int>(target);
  if (target == 44100 && rate <= 44100) {
    ShowMessage(Format("Sample rate is already %d Hz. Use this function to resample down from higher samplerate.", rate));
    return;
  }
  if (target == 22050 && rate == 22050) {
    ShowMessage("Already at 22050 Hz.");
    return;
  }
  if (target == 16000 && rate == 16000) {
    ShowMessage("The sample is already at 16000 Hz.");
    return;
  }
  const std::string question =
      target == 16000
          ? Format("This will convert the sample rate from %d Hz to %d Hz.\n\nThe pitch and duration of the audio "
                   "will be preserved.\n\nThis operation cannot be undone. Do you want to continue?",
                   rate, t)
          : Format("Convert sample rate from %d Hz to %d Hz?\n\nDuration and pitch will remain unchanged.\n\n"
                   "This operation cannot be undone. Continue?",
                   rate, t);
  if (!AskYesNo(question, MessageIcon::Warning)) return;
  const double ratio = static_cast<double>(rate) / target;
  ConversionTexts texts{
      .progressLog = Format("Converting sample rate: %d Hz \xE2\x86\x92 %d Hz (speedFactor = %.3f)...", rate, t, ratio),
      .resampledLog = "Sample rate updated in WAV format.",
      .regionsLog = "Adjusting region boundaries..."};
  if (target == 44100)
    texts.completeLog = [rate](double) {
      return Format("Sample rate conversion complete! %d Hz \xE2\x86\x92 %d Hz", rate, 44100);
    };
  else if (target == 22050)
    texts.completeLog = [rate](double) { return Format("Sample rate conversion complete! %d Hz to %d Hz", rate, 22050); };
  if (target == 16000) texts.finalBox = "Sample rate conversion to 16000 Hz is complete.";
  Convert(c,
          {.ratio = ratio,
           .targetRate = target,
           .scaling = FrameScaling::kMultiply,
           .scale = static_cast<double>(target) / rate},
          texts);
}

void OnResampleTo46875(CommandContext& c) {
  if (!HasAudio(c) || !Is16Bit(c, kDepthTextShort)) return;
  const int rate = static_cast<int>(c.Document()->audio.format.nSamplesPerSec);
  if (rate == 46875) {
    ShowMessage(Format("Sample rate is already %d Hz.", rate));
    return;
  }
  const char* direction = rate < 46875 ? "up" : "down";
  if (!AskYesNo(Format("Convert sample rate from %d Hz to %d Hz?\n\nDirection: Resampling %s\nDuration and pitch "
                       "will remain unchanged.\n\nThis operation cannot be undone. Continue?",
                       rate, 46875, direction),
                MessageIcon::Warning))
    return;
  const double ratio = rate / 46875.0;
  Convert(c, {.ratio = ratio, .targetRate = 46875, .scaling = FrameScaling::kMultiply, .scale = 46875.0 / rate},
          {.progressLog = Format("Converting sample rate: %d Hz \xE2\x86\x92 %d Hz (speedFactor = %.3f, %s)...", rate,
                                 46875, ratio, direction),
           .resampledLog = "Sample rate updated in WAV format.",
           .regionsLog = "Adjusting region boundaries...",
           .completeLog =
               [rate, direction](double) {
                 return Format("Sample rate conversion complete! %d Hz \xE2\x86\x92 %d Hz (%s)", rate, 46875, direction);
               }});
}

void OnResampleTo22kDoubleTime(CommandContext& c) {
  if (!HasAudio(c) || !Is16Bit(c, kDepthTextShort)) return;
  const int rate = static_cast<int>(c.Document()->audio.format.nSamplesPerSec);
  const double seconds = DurationSeconds(c.Document()->audio);
  if (!AskYesNo(Format("This will:\nConvert sample rate: %d Hz to %d Hz\nDouble the speed (pitch up 12 semitones)\n"
                       "Adjust the pitch to -12 semitones\n\nCurrent length: %.2f seconds\nNew length: %.2f seconds "
                       "(halved)\n\nThis operation cannot be undone. Continue?",
                       rate, 22050, seconds, seconds * 0.5),
                MessageIcon::Warning))
    return;
  const double ratio = rate / 22050.0 * 2.0;
  Convert(c,
          {.ratio = ratio, .targetRate = 22050, .scaling = FrameScaling::kMultiply, .scale = 1.0 / ratio,
           .globalPitch = -12},
          {.progressLog = Format("Combined operation:,   Sample rate: %d Hz to %d Hz (factor = %.3f),   Speed: 2x "
                                 "(factor = %.1f),   Combined speedFactor = %.3f",
                                 rate, 22050, rate / 22050.0, 2.0, ratio),
           .resampledLog = "Resampling complete (single pass).",
           .rateLog = Format("Sample rate updated to %d Hz.", 22050),
           .regionsLog = "Adjusting region boundaries...",
           .pitchLog = "Global pitch set to -12 semitones.",
           .completeLog =
               [rate](double s) {
                 return Format("Combined operation complete!, Sample rate: %d Hz yo %d Hz, Duration: %.2f seconds "
                               "(halved), Global pitch: -12 semitones",
                               rate, 22050, s);
               },
           .finalBox = Format("Operation complete!\n\nSample rate: %d Hz -> %d Hz\nSpeed: 2x (duration halved)\n"
                              "Pitch: Up 12 semitones (compensated by -12)\nNote: Check and touch up the loop points "
                              "for clicks.\n\nLoad this into your EP-40 and it will play at correct pitch!\n\nBonus: "
                              "The file is now ~4x smaller!",
                              rate, 22050)});
}

// Only in the spare menu: a quiet conversion to 16 kHz at double speed.
void OnResampleTo16kDoubleTime(CommandContext& c) {
  if (!HasAudio(c) || !Is16Bit(c, kDepthTextLong)) return;
  const int rate = static_cast<int>(c.Document()->audio.format.nSamplesPerSec);
  if (!AskYesNo(Format("This will perform a combined operation:\n1. Resample from %d Hz to %d Hz.\n2. Double the "
                       "speed (pitch up 12 semitones).\n3. Set global pitch to -12 to compensate.\n\nThe final audio "
                       "will be half the original duration and at a 16kHz sample rate.\nThis operation cannot be "
                       "undone. Continue?",
                       rate, 16000),
                MessageIcon::Warning))
    return;
  const double ratio = rate / 16000.0 * 2.0;
  Convert(c,
          {.ratio = ratio, .targetRate = 16000, .scaling = FrameScaling::kMultiply, .scale = 1.0 / ratio,
           .globalPitch = -12},
          {.completeLog =
               [](double s) {
                 return Format("Combined operation complete! New rate: %d Hz, New duration: %.2f seconds, Global "
                               "pitch: -12 semitones.",
                               16000, s);
               },
           .finalBox = Format("Operation complete!\n\nSample rate: %d Hz -> %d Hz\nSpeed: 2x (duration halved)\n"
                              "Pitch: Compensated with global pitch of -12.\n\nNote: Please check and adjust loop "
                              "points if necessary.",
                              rate, 16000)});
}

}  // namespace

void DeclareRateCommands(CommandRegistry& r) {
  const char* menu = "&ReTime";  // shown as "&ReTime/ReSample"
  r.Add({.id = cmd::kDoubleTime, .text = "Double Time (pitch shift +12)", .menus = {{menu, 100}}, .run = OnDoubleTime});
  r.Add({.id = cmd::kSp1200Repitch, .text = "SP-1200 Repitch (+5 semi)", .menus = {{menu, 101}},
         .run = OnSp1200Repitch});
  r.Add({.id = cmd::kResampleTo44k, .text = "Downsample to 44kHz", .menus = {{menu, 200}},
         .run = [](CommandContext& c) { OnPlainConversion(c, 44100); }});
  r.Add({.id = cmd::kResampleTo22k, .text = "Downsample to 22kHz", .menus = {{menu, 201}},
         .run = [](CommandContext& c) { OnPlainConversion(c, 22050); }});
  r.Add({.id = cmd::kResampleTo22kDoubleTime, .text = "Downsample to 22kHz with Double Time", .menus = {{menu, 202}},
         .run = OnResampleTo22kDoubleTime});
  r.Add({.id = cmd::kResampleTo46875, .text = "Resample to 46.875kHz (Medieval)", .menus = {{menu, 203}},
         .run = OnResampleTo46875});
  r.Add({.id = cmd::kResampleTo16k, .text = "Downsample to 16kHz (voice)", .menus = {{menu, 204}},
         .run = [](CommandContext& c) { OnPlainConversion(c, 16000); }});
  r.Add({.id = cmd::kResampleTo16kDoubleTime, .text = "Resample to 16kHz with Double Time",
         .run = OnResampleTo16kDoubleTime});
}

}  // namespace zandrel
