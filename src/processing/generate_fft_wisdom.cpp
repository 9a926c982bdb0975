// Build-time tool: times FFTW's candidate plans for the complex transforms
// ComplexFFT runs and writes the winners ("wisdom") as a C++ source file.
//
//   generate_fft_wisdom <output.cpp>
//
// At run time the library imports this text before it plans anything and
// plans with FFTW_ESTIMATE, which takes a plan from imported wisdom where
// there is one. Every run of one build therefore uses the same plans and
// gives the same bits, while the plans are the measured ones: FFTW's own
// estimate picks plans up to twice as slow at the larger sizes. Timing at run
// time instead would pick plans by the machine's load of the moment, so the
// same input would give results that differ in the last bits between runs.
//
// The transforms timed are exactly those complex_fft.cpp plans: interleaved,
// out of place from one aligned scratch array into another (the input may be
// overwritten), both signs, every power of two up to 2^16. Larger and other
// sizes are planned by the estimate alone.
#include <fftw3.h>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: generate_fft_wisdom <output.cpp>\n");
    return 2;
  }
  constexpr int kLargestLog2 = 16;
  fftwf_complex* in = fftwf_alloc_complex(size_t{1} << kLargestLog2);
  fftwf_complex* out = fftwf_alloc_complex(size_t{1} << kLargestLog2);
  if (in == nullptr || out == nullptr) return 1;
  for (int log2 = 1; log2 <= kLargestLog2; ++log2) {
    for (const int sign : {FFTW_FORWARD, FFTW_BACKWARD}) {
      fftwf_plan plan = fftwf_plan_dft_1d(1 << log2, in, out, sign, FFTW_MEASURE | FFTW_DESTROY_INPUT);
      if (plan == nullptr) return 1;
      fftwf_destroy_plan(plan);
    }
  }
  char* wisdom = fftwf_export_wisdom_to_string();
  if (wisdom == nullptr) return 1;
  const std::string text(wisdom);
  fftwf_free(wisdom);
  fftwf_free(in);
  fftwf_free(out);
  if (text.find(")wisdom\"") != std::string::npos) return 1;  // cannot happen: keeps the literal intact

  std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
  file << "// Generated at build time by generate_fft_wisdom: FFTW's measured plans\n"
          "// for the complex transforms of complex_fft.cpp on the build machine.\n"
          "namespace zandrel {\n"
          "extern const char kFftWisdom[];\n"
          "const char kFftWisdom[] = R\"wisdom("
       << text << ")wisdom\";\n}  // namespace zandrel\n";
  return file.good() ? 0 : 1;
}
