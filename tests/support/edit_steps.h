// Random editing sessions for the property test and the fuzz target: a small
// generated document in a headless view, driven by steps drawn from a source
// of choices (a seeded generator or the fuzzer's bytes). A step is a
// registered command (its dialogs and questions answered from the same
// choices), a mouse drag of any kind the view's mouse editing knows, Undo or
// Redo. After each step the driver checks what must always hold:
//  - the cursor, the play anchor and the selection lie in 0..frames, and a
//    step leaves an ordered selection ordered (but for the few commands
//    that place one point by design, edit_steps.cpp);
//  - the selected region is -1 or an index of a region;
//  - every region lies within the audio and its loop within the region;
//  - a step either records exactly one undo entry with its own description
//    (and empties the redo stack) or leaves the history and the document as
//    they were; Undo and Redo bring back exactly the audio (format, bytes,
//    kept chunks) and instrument data they stand for. The exceptions are
//    the commands made so: a rate conversion clears the history, and the
//    tempo estimates and Find Beats write the tempo without an entry.
// At the end, undoing everything brings back the document as generated, and
// redoing everything the document as the last step left it.
//
// No test framework: a violation comes back as a text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace zandrel::test {

// Where a session's choices come from.
class StepChoices {
 public:
  virtual ~StepChoices() = default;
  // A number in 0..bound-1 (0 for a bound of 0 or 1).
  virtual uint32_t Pick(uint32_t bound) = 0;
  // No more choices: the session ends.
  virtual bool Exhausted() const { return false; }
};

// Choices from a seeded Mersenne Twister (the same on every platform).
class SeededChoices final : public StepChoices {
 public:
  explicit SeededChoices(uint32_t seed) : random_(seed) {}
  uint32_t Pick(uint32_t bound) override { return bound <= 1 ? 0 : static_cast<uint32_t>(random_() % bound); }

 private:
  std::mt19937 random_;
};

// Choices read from bytes: one byte per pick below 256, two above; 0 once
// the bytes have run out.
class ByteChoices final : public StepChoices {
 public:
  explicit ByteChoices(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint32_t Pick(uint32_t bound) override;
  bool Exhausted() const override { return pos_ >= bytes_.size(); }

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

// The most steps a session takes: fewer than the undo history keeps, so
// every entry stays reachable and undoing all of them must give back the
// generated document.
inline constexpr int kMaxEditSteps = 40;

class EditSession {
 public:
  // Generates the document from |choices| (channels, rate, length, regions
  // and loops); undo snapshots go to |snapshotFolder|. Installs in-memory
  // settings and clipboard and scripted message and parameter hosts for its
  // lifetime.
  EditSession(StepChoices& choices, const std::filesystem::path& snapshotFolder);
  ~EditSession();
  EditSession(const EditSession&) = delete;
  EditSession& operator=(const EditSession&) = delete;

  // Runs one step; the first invariant it broke, empty when all hold.
  std::string Step();
  // Undoes everything and compares with the generated document, then redoes
  // everything and compares with the document before; empty when both hold.
  std::string UndoAllAndRedoAll();
  // What ran so far, one line per step (for the report of a failure).
  const std::vector<std::string>& Trace() const;

  // The registered commands the steps draw from, and those left out with
  // the reason.
  const std::vector<int>& CommandIds() const;
  static const std::vector<std::pair<int, std::string>>& ExcludedCommands();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A whole session of at most |steps| steps (and kMaxEditSteps), ended early
// when the choices run out; the first violation with the steps that led to
// it, empty when every invariant held.
std::string RunEditSession(StepChoices& choices, const std::filesystem::path& snapshotFolder,
                           int steps = kMaxEditSteps);

}  // namespace zandrel::test
