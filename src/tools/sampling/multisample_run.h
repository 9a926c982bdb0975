// MultisampleRun: one run of the multisample robot, without a window.
//
// A run plays the notes From, From + interval, ... up to To on a MIDI output,
// one at a time, and records each from an audio input into one growing
// sample with one region per note. Its worker thread, per note: reserve the
// note's buffer for hold + wait + 1 s, open the input's gate, note-on, wait
// the hold time, note-off, wait the wait time, close the gate, trim and
// normalise when asked, append region and audio. The owner learns of
// progress only through MultisampleEvents, called on the worker thread with
// everything by value (status text, overview levels), so it never reads what
// the worker writes.
//
// The recording input is opened once by Start() and stays open between
// notes: its callback (the input's driver thread) copies into the note's
// buffer only while the gate is open and only within the reserved frames,
// and never allocates or locks. The worker closes it when the run ends.
//
// Every note-on is paired with its note-off on every road out (a scope
// guard). The waits go through an injected MultisampleWaiter, so they can be
// cut short and tests need not sleep. Stop() lets the current note finish;
// a worker still busy after the grace time is aborted: its wait ends, the
// note-off goes out, the unfinished note is dropped, and Stop() joins it.
//
// Start(), Stop(), Join() and the result belong to the owner's thread; the
// result may be read once no worker runs.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "document/instrument.h"
#include "platform/audio_input.h"
#include "platform/midi_port.h"
#include "tools/sampling/monitor_fifo.h"

namespace zandrel {

// The robot's one audio format: mono 16-bit at 44100 frames per second.
inline constexpr uint32_t kMultisampleRate = 44100;
// Frames per recording block (186 ms).
inline constexpr size_t kMultisampleBlockFrames = 8192;

// The robot's MIDI output, shared by the run's worker and the dialog's MIDI
// test. Every send and close holds its lock; the lock is never held while
// another is taken. Any thread.
class MultisampleMidiOut {
 public:
  // True at once when the output is open already. Otherwise opens output
  // |index| of |system|; on failure |errorCode| (when given) receives the
  // code of the MIDI error table (2 no such output, 7 it would not open).
  bool Open(MidiSystem* system, size_t index, int* errorCode = nullptr);
  bool IsOpen() const;
  // A three-byte channel message; false when the output is closed or the
  // send failed.
  bool Send(uint8_t status, uint8_t data1, uint8_t data2);
  void Close();

 private:
  mutable std::mutex lock_;
  std::unique_ptr<MidiOutPort> port_;
};

// How the worker waits. The app's SteadyWaiter sleeps on a condition
// variable; a test's waiter may instead push the audio of the waited time.
class MultisampleWaiter {
 public:
  virtual ~MultisampleWaiter() = default;
  // Waits |duration|; false when Interrupt() ended (or had ended) the wait.
  virtual bool Wait(std::chrono::milliseconds duration) = 0;
  // Ends the current wait and makes later ones return false at once. Any
  // thread.
  virtual void Interrupt() = 0;
  // Allows waiting again (before a run).
  virtual void Reset() = 0;
};

class SteadyWaiter final : public MultisampleWaiter {
 public:
  bool Wait(std::chrono::milliseconds duration) override;
  void Interrupt() override;
  void Reset() override;

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool interrupted_ = false;
};

// What the user set up for a run, as the dialog reads it.
struct MultisampleSetup {
  int startNote = -1;  // ParseNoteOrNumber of From (-1: did not parse)
  int endNote = -1;
  int interval = 3;     // semitones
  int velocity = 100;   // 1..127
  int channel = 1;      // as typed; the run uses channel - 1 clamped to 0..15
  double holdSeconds = 2.0;  // 0 < hold <= 60
  double waitSeconds = 0.5;  // 0 <= wait <= 60
  bool normalize = false;
  bool autoTrim = false;
  MidiSystem* midiSystem = nullptr;
  size_t midiOutput = 0;        // index into midiSystem's outputs
  std::string midiProductName;  // names an EP device in the error text
  AudioInput* audioInput = nullptr;
  std::string audioIdentity;  // empty: the default input
};

// Called on the worker thread; copies, so the owner may queue them.
struct MultisampleEvents {
  // The status line, the progress position (notes done) and the total.
  std::function<void(std::string text, int position, int total)> status;
  // A note begins: the piano shows it.
  std::function<void(int note)> note;
  // A note was added: the overview of the whole result so far.
  std::function<void(std::vector<int> levels)> taken;
  // The worker is about to end; Join() it.
  std::function<void()> done;
};

class MultisampleRun {
 public:
  MultisampleRun(MultisampleMidiOut& midi, MultisampleWaiter& waiter, MultisampleEvents events);
  // Stops a run without grace (the current note is dropped).
  ~MultisampleRun();
  MultisampleRun(const MultisampleRun&) = delete;
  MultisampleRun& operator=(const MultisampleRun&) = delete;

  // Checks |setup|, opens the MIDI output and the audio input, empties the
  // result and starts the worker. Returns the message for the user when it
  // cannot ("" when the run started); it then leaves no run and no open
  // device behind (the MIDI output stays as it was when it was open before).
  std::string Start(const MultisampleSetup& setup);
  // Asks the worker to leave after the note it is on (any thread).
  void RequestStop() { cancel_.store(true); }
  // Lets the current note finish; a worker not done after |grace| is aborted.
  // Returns once the worker has ended and the devices are closed. Nothing
  // when no worker exists.
  void Stop(std::chrono::milliseconds grace);
  // Joins a worker that ended by itself (after MultisampleEvents::done).
  void Join();

  bool Running() const { return running_.load(std::memory_order_acquire); }
  // The note being recorded (-1 before the first).
  int CurrentNote() const { return currentNote_.load(std::memory_order_relaxed); }
  // Input level of the latest block, 0..100 (after the gain).
  int RecordingLevel() const { return level_.load(std::memory_order_relaxed); }
  // Gain applied to the input, 0..1.5 from the dialog's slider.
  void SetInputGain(double gain) { gain_.store(gain, std::memory_order_relaxed); }
  // The FIFO the input callback feeds while monitoring is on (blocks of up
  // to kMultisampleBlockFrames frames). Set it while no run is active; the
  // switch may change at any time.
  void SetMonitor(std::shared_ptr<MonitorFifo> fifo) { monitorFifo_ = std::move(fifo); }
  void SetMonitoring(bool on) { monitoring_.store(on, std::memory_order_relaxed); }
  // The number of notes of the current or last run.
  int Total() const { return total_; }

  // The result: all notes one after another and one region per note. Read
  // only while no worker exists (after Stop() or Join()).
  const std::vector<int16_t>& Audio() const { return audio_; }
  const std::vector<Region>& Regions() const { return regions_; }

  // The input callback (public for the stream's lambda; audio thread).
  void OnInput(const int16_t* frames, size_t count);

 private:
  struct Job {
    int startNote = 0, endNote = 0, interval = 1, velocity = 100, channel = 0;
    double hold = 0, wait = 0;
    bool normalize = false, autoTrim = false;
  };
  void Worker();
  void SetStatus(std::string text, int position);
  // Publishes |data| to the callback and opens the gate.
  void OpenGate(int16_t* data, size_t capacity);
  // Closes the gate and waits until no callback writes; returns the frames
  // written.
  size_t CloseGate();
  void CloseInput();

  MultisampleMidiOut& midi_;
  MultisampleWaiter& waiter_;
  const MultisampleEvents events_;
  Job job_;
  int total_ = 0;
  int index_ = 0;  // notes finished (worker)
  std::thread worker_;
  std::unique_ptr<AudioInputStream> input_;

  std::atomic<bool> running_{false};
  std::atomic<bool> cancel_{false};
  std::atomic<int> currentNote_{-1};
  std::atomic<int> level_{0};
  std::atomic<double> gain_{1.0};

  // The per-note gate: the callback writes into noteData_ only while gate_
  // is open, and announces itself in writers_ first, so the worker knows
  // when it may take the buffer back.
  std::atomic<bool> gate_{false};
  std::atomic<int> writers_{0};
  int16_t* noteData_ = nullptr;  // published by the gate's release
  size_t noteCapacity_ = 0;
  std::atomic<size_t> noteFrames_{0};
  std::array<int16_t, kMultisampleBlockFrames> scratch_{};  // the audio thread's own
  std::shared_ptr<MonitorFifo> monitorFifo_;
  std::atomic<bool> monitoring_{false};

  std::mutex finishLock_;
  std::condition_variable finishWake_;
  bool finished_ = true;  // guarded by finishLock_

  std::vector<int16_t> audio_;
  std::vector<Region> regions_;
};

}  // namespace zandrel
