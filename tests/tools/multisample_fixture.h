// A simulated instrument for the multisample robot: it listens on a memory
// MIDI output and, whenever the run waits, sounds what it was told into a
// memory audio input (a sine at the sounding note's pitch, silence
// otherwise), so a whole run takes no real time.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <numbers>
#include <vector>

#include "platform/audio_input.h"
#include "platform/memory_midi.h"
#include "tools/sampling/multisample_run.h"

namespace zandrel::test {

inline double NoteHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

class SimulatedInstrument {
 public:
  SimulatedInstrument() : line_(midi.AddOutput("Synth")) {
    audio.AddDevice("Line In", 1);
    line_->Connect([this](std::span<const uint8_t> m) {
      std::lock_guard<std::mutex> hold(lock_);
      messages_.emplace_back(m.begin(), m.end());
      if (m.size() == 3 && (m[0] & 0xF0) == 0x90 && m[2] > 0) {
        note_ = m[1];
        velocity_ = m[2];
        sinceOn_ = 0;
      } else if (m.size() == 3 && ((m[0] & 0xF0) == 0x80 || (m[0] & 0xF0) == 0x90) && m[1] == note_) {
        note_ = -1;
      }
    });
  }
  ~SimulatedInstrument() { line_->Disconnect(); }

  // |frames| of what the instrument plays now, pushed into the open input.
  void Play(int64_t frames) {
    line_->WaitUntilDelivered(std::chrono::seconds(5));
    std::vector<int16_t> block(static_cast<size_t>(frames));
    {
      std::lock_guard<std::mutex> hold(lock_);
      for (auto& s : block) {
        if (note_ >= 0 && sinceOn_ >= delayFrames) {
          const double t = static_cast<double>(phase_++) / kMultisampleRate;
          s = static_cast<int16_t>(std::lround(amplitude * velocity_ / 127.0 * std::sin(2 * std::numbers::pi * NoteHz(note_) * t)));
        }
        ++sinceOn_;
      }
    }
    audio.Push(block);
  }

  // The instrument's MIDI cable is pulled: sends to it fail from now on.
  void UnplugMidi() { line_->SetUnplugged(true); }

  std::vector<std::vector<uint8_t>> Messages() {
    line_->WaitUntilDelivered(std::chrono::seconds(5));
    std::lock_guard<std::mutex> hold(lock_);
    return messages_;
  }

  MemoryMidiSystem midi;
  MemoryAudioInput audio;
  double amplitude = 16000.0;  // at velocity 127
  int64_t delayFrames = 0;     // silence after each note-on

 private:
  std::shared_ptr<MemoryMidiLine> line_;
  std::mutex lock_;
  std::vector<std::vector<uint8_t>> messages_;
  int note_ = -1;
  int velocity_ = 0;
  int64_t sinceOn_ = 0;
  int64_t phase_ = 0;
};

// Waits by letting the instrument play the waited time (plus |extraFrames|
// each time). |onWait| runs first with the wait's number (0, 1, ...: hold and
// wait of the first note, then of the second ...); a hook that blocks can
// wait for Interrupt() through WaitInterrupted().
class PlayingWaiter final : public MultisampleWaiter {
 public:
  explicit PlayingWaiter(SimulatedInstrument& instrument) : instrument_(instrument) {}

  bool Wait(std::chrono::milliseconds duration) override {
    const int number = waits_++;
    if (onWait) onWait(number);
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (interrupted_) return false;
    }
    instrument_.Play(duration.count() * kMultisampleRate / 1000 + extraFrames);
    return true;
  }
  void Interrupt() override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      interrupted_ = true;
    }
    wake_.notify_all();
  }
  void Reset() override {
    std::lock_guard<std::mutex> hold(lock_);
    interrupted_ = false;
  }
  // Blocks until Interrupt() (for at most 10 s); true when interrupted.
  bool WaitInterrupted() {
    std::unique_lock<std::mutex> hold(lock_);
    return wake_.wait_for(hold, std::chrono::seconds(10), [this] { return interrupted_; });
  }

  std::function<void(int number)> onWait;
  int64_t extraFrames = 0;

 private:
  SimulatedInstrument& instrument_;
  int waits_ = 0;
  std::mutex lock_;
  std::condition_variable wake_;
  bool interrupted_ = false;
};

}  // namespace zandrel::test
