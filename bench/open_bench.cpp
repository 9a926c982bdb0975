// Opening a long WAV file: the editor's reading (load, mix to mono and
// convert to 16-bit in one pass over the file's blocks) beside libsndfile reading the same file as 16-bit
// samples, on a 10-minute 24-bit stereo file (about 159 MB) written once into
// a private temporary folder. Both read from the page cache after the first
// run. The peak memory each needs beyond what the process held before is
// measured once outside the timed loop (Linux: the resident high-water mark
// is reset through /proc/self/clear_refs) and shown per byte of the file.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "document/wav_loader.h"
#include "platform/temp_folder.h"

namespace zandrel {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kRate = 44100;
constexpr int kMinutes = 10;

void Put16(std::ofstream& out, uint16_t v) { out.put(static_cast<char>(v & 0xFF)).put(static_cast<char>(v >> 8)); }
void Put32(std::ofstream& out, uint32_t v) {
  Put16(out, static_cast<uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<uint16_t>(v >> 16));
}

// A 24-bit stereo WAV file of two slow sine sweeps and a little noise.
const fs::path& LongFile() {
  static const fs::path path = [] {
    const fs::path folder = MakeUniqueFolder(ProcessTempFolder(), "open-bench");
    const fs::path file = folder / "long-24bit-stereo.wav";
    const uint64_t frames = uint64_t{kRate} * 60 * kMinutes;
    const auto dataBytes = static_cast<uint32_t>(frames * 6);
    std::ofstream out(file, std::ios::binary);
    out.write("RIFF", 4);
    Put32(out, 36 + dataBytes);
    out.write("WAVEfmt ", 8);
    Put32(out, 16);
    Put16(out, 1);
    Put16(out, 2);
    Put32(out, kRate);
    Put32(out, kRate * 6);
    Put16(out, 6);
    Put16(out, 24);
    out.write("data", 4);
    Put32(out, dataBytes);
    std::vector<char> block;
    uint32_t noise = 1;
    for (uint64_t i = 0; i < frames; ++i) {
      for (int ch = 0; ch < 2; ++ch) {
        noise = noise * 1664525u + 1013904223u;
        const double t = static_cast<double>(i) / kRate;
        const double v = 0.4 * std::sin(2 * std::numbers::pi * (200 + ch * 50 + 10 * t) * t) +
                         1e-3 * (static_cast<double>(noise >> 8) / (1 << 24) - 0.5);
        const auto s = static_cast<int32_t>(std::lround(v * 8388607));
        block.push_back(static_cast<char>(s & 0xFF));
        block.push_back(static_cast<char>((s >> 8) & 0xFF));
        block.push_back(static_cast<char>((s >> 16) & 0xFF));
      }
      if (block.size() >= (1 << 20)) {
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
        block.clear();
      }
    }
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
    return file;
  }();
  return path;
}

long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(status, line))
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  return -1;
}

// Peak resident memory |work| adds, in bytes per byte of the file; -1 when
// the high-water mark cannot be reset.
double PeakBytesPerFileByte(const std::function<void()>& work) {
  {
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5";
    if (!reset) return -1;
  }
  const long before = StatusKb("VmRSS");
  work();
  const long peak = StatusKb("VmHWM");
  return static_cast<double>(peak - before) * 1024.0 / static_cast<double>(fs::file_size(LongFile()));
}

void OpenOurs() {
  CWavLoader loader;
  if (!loader.LoadForEditing(LongFile())) std::fprintf(stderr, "open_bench: the loader refused the file\n");
  benchmark::DoNotOptimize(loader.data.data());
}

void OpenLibsndfile() {
  SF_INFO info{};
  SNDFILE* file = sf_open(LongFile().c_str(), SFM_READ, &info);
  if (file == nullptr) return;
  std::vector<int16_t> samples(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
  benchmark::DoNotOptimize(sf_readf_short(file, samples.data(), info.frames));
  sf_close(file);
}

void BM_OpenWav(benchmark::State& state) {
  OpenOurs();  // warms the page cache
  state.counters["peak_bytes_per_file_byte"] = PeakBytesPerFileByte(OpenOurs);
  for (auto _ : state) OpenOurs();
}
BENCHMARK(BM_OpenWav)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LibsndfileRead16(benchmark::State& state) {
  OpenLibsndfile();
  state.counters["peak_bytes_per_file_byte"] = PeakBytesPerFileByte(OpenLibsndfile);
  for (auto _ : state) OpenLibsndfile();
}
BENCHMARK(BM_LibsndfileRead16)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zandrel

int main(int argc, char** argv) {
  zandrel::RatioReporter reporter;
  reporter.Add({"open a 10-minute 24-bit stereo file, one thread", "BM_OpenWav/real_time",
                "BM_LibsndfileRead16/real_time", "libsndfile read as 16-bit", true});
  const int result = zandrel::RunWithRatios(argc, argv, reporter);
  std::error_code ignored;
  std::filesystem::remove_all(zandrel::LongFile().parent_path(), ignored);
  return result;
}
