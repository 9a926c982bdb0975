// Peak memory of StretchWav on a minute of loud stereo audio, beside its
// floor: the new audio's own size plus what Rubber Band needs on its own when
// fed block by block from the 16-bit samples, its output dropped. Both are
// measured in this run as the rise of the peak resident memory (VmHWM, reset
// through /proc/self/clear_refs) above what the process held before, each in
// a child process of its own. The goal is the floor: beside the loaded file
// the new audio and a constant, no working copy of the file (each float copy
// of a whole file would add twice the input's size). Rubber Band's own
// buffers do not grow with the file, though they are several times larger
// when it shifts the pitch.
#include <rubberband/RubberBandStretcher.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "document/wav_loader.h"
#include "processing/stretch.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr int kSeconds = 60;
constexpr size_t kBlock = 4096;

// A field of /proc/self/status in kB.
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
      return std::stol(line.substr(length + 1));
  }
  return -1;
}

// Sets the peak to the current resident size; false where the kernel does
// not allow it.
bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return clear.good();
}

// Rise of the peak above the resident size before |work|, in MB, or -1.
// Each runs in a child process of its own, so that no heap left over from
// an earlier measurement is reused and hides what this one needs.
template <typename Work>
double PeakRiseMb(Work work) {
  int channel[2];
  if (pipe(channel) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    const long before = StatusKb("VmRSS");
    double rise = -1;
    if (ResetPeak() && work()) rise = static_cast<double>(StatusKb("VmHWM") - before) / 1024.0;
    const ssize_t written = write(channel[1], &rise, sizeof rise);
    _exit(written == sizeof rise ? 0 : 1);
  }
  close(channel[1]);
  double rise = -1;
  if (child < 0 || read(channel[0], &rise, sizeof rise) != sizeof rise) rise = -1;
  close(channel[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return rise;
}

zandrel::CWavLoader LoudStereo() {
  zandrel::CWavLoader wav;
  const size_t frames = size_t{kRate} * kSeconds;
  wav.format = zandrel::PcmFormat{1, 2, kRate, kRate * 4, 4, 16};
  wav.data.resize(frames * 4);
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    for (int c = 0; c < 2; ++c) {
      // Peaks near full scale: two partials and a little noise-like detune per channel.
      const double v = 0.6 * std::sin(2 * std::numbers::pi * (220 + 3 * c) * t) +
                       0.38 * std::sin(2 * std::numbers::pi * (331 + 5 * c) * t + 0.3 * std::sin(7 * t));
      const auto s = static_cast<int16_t>(std::clamp(v, -1.0, 1.0) * 32767);
      std::memcpy(wav.data.data() + (i * 2 + c) * 2, &s, 2);
    }
  }
  return wav;
}

// Rubber Band alone on the same samples, read and drained block by block.
bool RubberBandStreamed(const zandrel::CWavLoader& wav, double ratio, double pitchScale) {
  using RB = RubberBand::RubberBandStretcher;
  const size_t frames = wav.data.size() / 4;
  RB rb(kRate, 2, RB::OptionProcessOffline | RB::OptionEngineFiner, ratio, pitchScale);
  rb.setExpectedInputDuration(frames);
  rb.setMaxProcessSize(kBlock);
  std::vector<float> in(2 * kBlock), out(2 * kBlock);
  float* inPtr[2] = {in.data(), in.data() + kBlock};
  float* outPtr[2] = {out.data(), out.data() + kBlock};
  const auto read = [&](size_t at, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      for (int c = 0; c < 2; ++c) {
        int16_t s;
        std::memcpy(&s, wav.data.data() + ((at + i) * 2 + c) * 2, 2);
        inPtr[c][i] = s / 32768.0f;
      }
    }
  };
  for (size_t at = 0; at < frames; at += kBlock) {
    const size_t n = std::min(kBlock, frames - at);
    read(at, n);
    rb.study(inPtr, n, at + n >= frames);
  }
  const auto drain = [&] {
    for (int av = rb.available(); av > 0; av = rb.available())
      rb.retrieve(outPtr, std::min<size_t>(static_cast<size_t>(av), kBlock));
  };
  for (size_t at = 0; at < frames; at += kBlock) {
    const size_t n = std::min(kBlock, frames - at);
    read(at, n);
    rb.process(inPtr, n, at + n >= frames);
    drain();
  }
  while (rb.available() != -1) drain();
  return true;
}

}  // namespace

int main() {
  const zandrel::CWavLoader original = LoudStereo();
  const double inputMb = static_cast<double>(original.data.size()) / (1024.0 * 1024.0);
  std::printf("input: %d s of 16-bit stereo at %u Hz, %.1f MB\n\n", kSeconds, kRate, inputMb);
  std::printf("%-40s %12s %12s %8s %14s\n", "peak memory above the loaded file", "ours (MB)", "floor (MB)", "ratio",
              "ours / input");
  struct Case {
    const char* name;
    double a, b, semitones;
  };
  for (const Case& k : {Case{"StretchWav, 1.5x as long", 3, 2, 0}, Case{"StretchWav, half as long", 1, 2, 0},
                        Case{"StretchWav, +5 semitones", 1, 1, 5}}) {
    const double ratio = k.a / k.b;
    const double rubberBand = PeakRiseMb([&] { return RubberBandStreamed(original, ratio, std::pow(2.0, k.semitones / 12.0)); });
    zandrel::CWavLoader wav = original.Clone();
    const double ours = PeakRiseMb([&] { return zandrel::StretchWav(wav, k.a, k.b, k.semitones).success; });
    if (rubberBand < 0 || ours < 0) {
      std::printf("%-40s (not measured)\n", k.name);
      continue;
    }
    // The floor: the new audio (it replaces the old only at the end) and
    // Rubber Band's own buffers.
    const double floor = inputMb * ratio + rubberBand;
    std::printf("%-40s %12.1f %12.1f %7.2fx %13.2fx\n", k.name, ours, floor, ours / floor, ours / inputMb);
  }
  return 0;
}
