// Reads arbitrary bytes as a Standard MIDI File and renders what it gives
// onto a small kit, as the loop maker would.
#include <cstddef>
#include <cstdint>

#include "pattern_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zandrel::fuzz::RenderPatternBytes({data, size}, true);
  return 0;
}
