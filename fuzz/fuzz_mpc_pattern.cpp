// Reads arbitrary text as an MPC pattern and renders what it gives onto a
// small kit, as the loop maker would.
#include <cstddef>
#include <cstdint>

#include "pattern_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zandrel::fuzz::RenderPatternBytes({data, size}, false);
  return 0;
}
