// Shared plumbing for the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace zandrel::fuzz {

// A scratch folder private to this fuzzing process (made once, reused, and
// removed when the process exits normally). It is made inside the folder
// named by ZANDREL_FUZZ_SCRATCH when that is set (scripts/fuzz.sh sets it and
// removes it after the run, so a crashed target leaves nothing behind either),
// else in /dev/shm or the system's temporary folder.
const std::filesystem::path& ScratchDir();
// Writes the input to a file in the scratch folder and returns its path.
std::filesystem::path WriteInput(const uint8_t* data, size_t size, const char* name);
// Installs a message host that answers every box silently (Yes to questions
// when |answerYes|), so the fuzzer runs the same paths as a user who agrees.
void InstallQuietHost(bool answerYes);

}  // namespace zandrel::fuzz
