// Reads arbitrary text as the multisample robot's note fields (typed, or the
// stored "StartNote" and "EndNote" values): a note that is read must be a
// key 0..127 whose written name reads back as the same key, and the range
// it spans with any interval must stay on the keyboard.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tools/sampling/multisample_notes.h"

using namespace zandrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const int note = ParseNoteOrNumber(text);
  if (note < -1 || note > 127) std::abort();
  if (note < 0) return 0;
  if (ParseNoteOrNumber(FormatNoteName(note)) != note) std::abort();
  const int interval = size > 0 ? 1 + data[0] % 24 : 1;
  const int count = size > 1 ? data[1] : 1;
  const int end = MultisampleEndNote(note, interval, count < 1 ? 1 : count);
  if (end > 127 || end < note) std::abort();
  for (int n : MultisampleNotes(note, end, interval))
    if (n < note || n > end) std::abort();
  return 0;
}
