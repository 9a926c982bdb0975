#include "tools/sampling/multisample_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/sampling/multisample_audio.h"
#include "tools/sampling/multisample_notes.h"

namespace zandrel {

// ------------------------------------------------------------ MIDI out --

bool MultisampleMidiOut::Open(MidiSystem* system, size_t index, int* errorCode) {
  std::lock_guard<std::mutex> hold(lock_);
  if (errorCode) *errorCode = 0;
  if (port_) return true;
  if (!system || index >= system->OutputNames().size()) {
    if (errorCode) *errorCode = 2;
    return false;
  }
  port_ = system->OpenOutput(index);
  // A listed output that will not open is most often held by another
  // program, which the multimedia codes call a failed allocation.
  if (!port_ && errorCode) *errorCode = 7;
  return port_ != nullptr;
}

bool MultisampleMidiOut::IsOpen() const {
  std::lock_guard<std::mutex> hold(lock_);
  return port_ != nullptr;
}

bool MultisampleMidiOut::Send(uint8_t status, uint8_t data1, uint8_t data2) {
  const uint8_t message[3] = {status, data1, data2};
  std::lock_guard<std::mutex> hold(lock_);
  return port_ && port_->Send(message);
}

void MultisampleMidiOut::Close() {
  std::unique_ptr<MidiOutPort> port;
  {
    std::lock_guard<std::mutex> hold(lock_);
    port = std::move(port_);
  }
  if (port) port->Close();
}

// -------------------------------------------------------------- waiter --

bool SteadyWaiter::Wait(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> hold(lock_);
  return !wake_.wait_for(hold, duration, [this] { return interrupted_; });
}

void SteadyWaiter::Interrupt() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    interrupted_ = true;
  }
  wake_.notify_all();
}

void SteadyWaiter::Reset() {
  std::lock_guard<std::mutex> hold(lock_);
  interrupted_ = false;
}

// ----------------------------------------------------------------- run --

namespace {

std::string RecordingText(int note, int number, int total) {
  char text[128];
  std::snprintf(text, sizeof text, "Recording note %s (%d of %d)...", FormatNoteName(note).c_str(), number, total);
  return text;
}

// Why a note was not kept, in the status line.
std::string BrokenNoteText(const char* what, int note, int kept) {
  char text[192];
  std::snprintf(text, sizeof text, "Error: %s while recording note %s. %d note%s kept.", what,
                FormatNoteName(note).c_str(), kept, kept == 1 ? "" : "s");
  return text;
}

// Sends the note-on when made and the note-off when left, whichever way.
// Sent() tells whether the output took the note-on.
class SoundingNote {
 public:
  SoundingNote(MultisampleMidiOut& midi, int channel, int note, int velocity)
      : midi_(midi), channel_(static_cast<uint8_t>(channel)), note_(static_cast<uint8_t>(note)) {
    sent_ = midi_.Send(static_cast<uint8_t>(0x90 | channel_), note_, static_cast<uint8_t>(velocity));
  }
  ~SoundingNote() {
    if (!off_) Off();
  }
  bool Sent() const { return sent_; }
  // Sends the note-off now; false when the output refused it.
  bool Off() {
    off_ = true;
    return midi_.Send(static_cast<uint8_t>(0x80 | channel_), note_, 0);
  }
  SoundingNote(const SoundingNote&) = delete;
  SoundingNote& operator=(const SoundingNote&) = delete;

 private:
  MultisampleMidiOut& midi_;
  const uint8_t channel_;
  const uint8_t note_;
  bool sent_ = false;
  bool off_ = false;
};

std::chrono::milliseconds Millis(double seconds) {
  return std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000.0));
}

}  // namespace

MultisampleRun::MultisampleRun(MultisampleMidiOut& midi, MultisampleWaiter& waiter, MultisampleEvents events)
    : midi_(midi), waiter_(waiter), events_(std::move(events)) {}

MultisampleRun::~MultisampleRun() { Stop(std::chrono::milliseconds(0)); }

std::string MultisampleRun::Start(const MultisampleSetup& s) {
  if (worker_.joinable() || Running()) return "Sampling is already in progress.";
  std::string problem =
      MultisampleStartProblem(s.startNote, s.endNote, s.interval, s.velocity, s.holdSeconds, s.waitSeconds);
  if (!problem.empty()) return problem;

  int midiError = 0;
  if (!midi_.Open(s.midiSystem, s.midiOutput, &midiError))
    return "Failed to open MIDI output device.\n\nError: " + MidiErrorText(midiError, s.midiProductName);

  if (!input_) {
    AudioInputError error;
    if (!s.audioInput) error.code = AudioInputError::kNoDriver;
    if (s.audioInput)
      input_ = s.audioInput->Open(
          s.audioIdentity, kMultisampleRate, 1, kMultisampleBlockFrames,
          [this](const int16_t* frames, size_t count) { OnInput(frames, count); }, &error);
    if (!input_) {
      midi_.Close();
      return "Failed to open audio input device.\n\nError: " + AudioErrorText(error.code);
    }
  }

  job_ = Job{s.startNote,  s.endNote,  s.interval, s.velocity, std::clamp(s.channel - 1, 0, 15),
             s.holdSeconds, s.waitSeconds, s.normalize, s.autoTrim};
  total_ = (s.endNote - s.startNote) / s.interval + 1;
  index_ = 0;
  currentNote_.store(-1, std::memory_order_relaxed);
  cancel_.store(false);
  audio_.clear();
  regions_.clear();
  waiter_.Reset();
  {
    std::lock_guard<std::mutex> hold(finishLock_);
    finished_ = false;
  }
  running_.store(true, std::memory_order_release);
  SetStatus("Starting sampling process...", 0);
  try {
    worker_ = std::thread([this] { Worker(); });
  } catch (const std::system_error&) {
    running_.store(false);
    {
      std::lock_guard<std::mutex> hold(finishLock_);
      finished_ = true;
    }
    midi_.Close();
    CloseInput();
    return "Failed to create sampling thread.";
  }
  return {};
}

void MultisampleRun::Stop(std::chrono::milliseconds grace) {
  if (!worker_.joinable()) return;
  cancel_.store(true);
  bool finished;
  {
    std::unique_lock<std::mutex> hold(finishLock_);
    finished = finishWake_.wait_for(hold, grace, [this] { return finished_; });
  }
  // Last resort: the wait in progress ends at once, its note is released by
  // the worker's own guard, and the note it was on is dropped.
  if (!finished) waiter_.Interrupt();
  worker_.join();
  midi_.Close();
  CloseInput();
  running_.store(false, std::memory_order_release);
}

void MultisampleRun::Join() {
  if (worker_.joinable()) worker_.join();
}

void MultisampleRun::SetStatus(std::string text, int position) {
  if (events_.status) events_.status(std::move(text), position, total_);
}

void MultisampleRun::OpenGate(int16_t* data, size_t capacity) {
  noteData_ = data;
  noteCapacity_ = capacity;
  noteFrames_.store(0, std::memory_order_relaxed);
  gate_.store(true);  // publishes the three above to the callback
}

size_t MultisampleRun::CloseGate() {
  gate_.store(false);
  // A callback that saw the gate open has announced itself before looking;
  // once none is left, the buffer is the worker's again.
  while (writers_.load() != 0) std::this_thread::yield();
  noteData_ = nullptr;
  return noteFrames_.load(std::memory_order_acquire);
}

void MultisampleRun::CloseInput() {
  if (input_) input_->Close();
  input_.reset();
}

void MultisampleRun::OnInput(const int16_t* frames, size_t count) {
  while (count > 0) {
    const size_t n = std::min(count, scratch_.size());
    ApplyInputGain(frames, n, gain_.load(std::memory_order_relaxed), scratch_.data());
    level_.store(MeasureLevel(scratch_.data(), n), std::memory_order_relaxed);
    if (monitorFifo_ && monitoring_.load(std::memory_order_relaxed)) {
      if (int16_t* block = monitorFifo_->BeginPush()) {  // full: this block is dropped
        std::copy(scratch_.data(), scratch_.data() + n, block);
        monitorFifo_->CommitPush(n);
      }
    }
    writers_.fetch_add(1);
    if (gate_.load()) {
      const size_t at = noteFrames_.load(std::memory_order_relaxed);
      const size_t k = std::min(n, noteCapacity_ - at);
      std::copy(scratch_.data(), scratch_.data() + k, noteData_ + at);
      noteFrames_.store(at + k, std::memory_order_release);
    }
    writers_.fetch_sub(1);
    frames += n;
    count -= n;
  }
}

void MultisampleRun::Worker() {
  const Job job = job_;
  bool failed = false;
  for (int note = job.startNote; !cancel_.load(); note += job.interval) {
    currentNote_.store(note, std::memory_order_relaxed);
    const std::string recording = RecordingText(note, index_ + 1, total_);
    SetStatus(recording, index_);
    if (events_.note) events_.note(note);

    // The whole note fits the reserve, so the callback never has to grow it.
    std::vector<int16_t> buffer;
    const size_t capacity = static_cast<size_t>(kMultisampleRate * (job.hold + job.wait + 1.0));
    try {
      buffer.assign(capacity, 0);
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    if (failed || !input_) {
      failed = true;
      SetStatus("Error: Failed to start audio recording", index_);
      break;
    }
    OpenGate(buffer.data(), buffer.size());
    bool complete;
    bool midiFailed = false;
    {
      SoundingNote sounding(midi_, job.channel, note, job.velocity);
      midiFailed = !sounding.Sent();
      complete = !midiFailed && waiter_.Wait(Millis(job.hold));
      // A note-off the output refused leaves the note sounding into the
      // next one: the output is gone, and the run with it.
      if (!sounding.Off()) midiFailed = true;
    }
    if (complete && !midiFailed) complete = waiter_.Wait(Millis(job.wait));
    buffer.resize(CloseGate());
    // A device that stopped delivering leaves the note short or empty: it is
    // not a good take, and neither is a note the instrument never got.
    const bool inputLost = input_->Lost();
    if (!cancel_.load() && (midiFailed || inputLost)) {
      failed = true;
      const char* what = midiFailed ? "The MIDI output failed" : "The audio input stopped";
      SetStatus(BrokenNoteText(what, note, index_), index_);
      break;
    }
    if (!complete) break;  // aborted: the note is not finished, so it is not kept

    if (job.autoTrim) {
      TrimLeadingSilence(buffer, kMultisampleRate);
      TrimTrailingSilence(buffer, kMultisampleRate);
    }
    if (job.normalize) NormalizePeak(buffer);
    regions_.push_back(MultisampleRegion(note, job.interval, job.endNote, static_cast<int64_t>(audio_.size()),
                                         static_cast<int64_t>(buffer.size())));
    audio_.insert(audio_.end(), buffer.begin(), buffer.end());
    if (events_.taken) events_.taken(OverviewLevels(audio_.data(), audio_.size()));
    ++index_;
    SetStatus(recording, index_);
    if (note + job.interval > job.endNote) break;
  }

  midi_.Close();
  CloseInput();
  if (cancel_.load())
    SetStatus("Sampling cancelled.", index_);
  else if (!failed)
    SetStatus("Sampling complete! (File save not yet implemented)", total_);
  {
    std::lock_guard<std::mutex> hold(finishLock_);
    finished_ = true;
  }
  finishWake_.notify_all();
  running_.store(false, std::memory_order_release);
  if (events_.done) events_.done();
}

}  // namespace zandrel
