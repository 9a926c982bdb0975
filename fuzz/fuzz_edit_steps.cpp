// Reads the input as the choices of an editing session (tests/support/
// edit_steps.h): the generated document, then steps of registered commands
// with their dialogs' answers, mouse drags, Undo and Redo. A broken invariant
// prints the steps that led to it and aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "fuzz_support.h"
#include "support/edit_steps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zandrel::test::ByteChoices choices(std::span(data, size));
  const std::string failure = zandrel::test::RunEditSession(choices, zandrel::fuzz::ScratchDir() / "undo");
  if (!failure.empty()) {
    std::fprintf(stderr, "Editing invariant broken: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
