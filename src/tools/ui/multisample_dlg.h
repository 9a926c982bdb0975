// CMultisampleDLG, the "Multisample Tool": plays a range of notes on an
// external instrument through a MIDI output and records each from an audio
// input into one sample with one region per note (MultisampleRun does the
// work on its own thread).
//
// The dialog keeps an idle input monitor open on the chosen input between
// runs (meter and level history, 50 ms timer), keeps From, To, interval and
// number of notes in step, shows the range and the sampled keys on a
// read-only piano, and plays the From note once for "Midi test". A run's
// progress arrives through queued calls that carry the status text, the
// note and the overview levels by value, so nothing here reads what the
// worker writes. The result stays in the dialog; the command takes it into
// the document when the dialog ends with "Done".
//
// A MIDI test and a run never share the output: "Midi test" is refused while
// a run is active, Start first ends a sounding test (its note-off is sent),
// and closing the dialog during a test sends the test's note-off.
// User-interface thread only.
#pragma once

#include <QDialog>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "document/instrument.h"
#include "platform/audio_input.h"
#include "tools/sampling/multisample_run.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSlider;
class QTimer;

namespace zandrel {

class CAudioLevelDisplay;
class CAudioMeter;
class CPianoSelectorWnd;

class CMultisampleDLG : public QDialog {
  Q_OBJECT

 public:
  // |waiter| (not owned) replaces the real-time waits (tests); |grace| is
  // how long Stop lets the current note finish.
  explicit CMultisampleDLG(QWidget* parent = nullptr, MultisampleWaiter* waiter = nullptr,
                           std::chrono::milliseconds grace = std::chrono::seconds(5));
  ~CMultisampleDLG() override;

  // The result of the last run (empty before one).
  const std::vector<int16_t>& ResultAudio() const { return run_->Audio(); }
  const std::vector<Region>& ResultRegions() const { return run_->Regions(); }
  bool Sampling() const { return sampling_; }
  bool MidiTestSounding() const { return testNote_ >= 0; }

  // Controls, for tests.
  QListWidget* AudioList() const { return audioList_; }
  QListWidget* MidiList() const { return midiList_; }
  QLineEdit* FromEdit() const { return from_; }
  QLineEdit* ToEdit() const { return to_; }
  QLineEdit* IntervalEdit() const { return interval_; }
  QLineEdit* CountEdit() const { return count_; }
  QLineEdit* VelocityEdit() const { return velocity_; }
  QLineEdit* HoldEdit() const { return hold_; }
  QLineEdit* WaitEdit() const { return wait_; }
  QLineEdit* ChannelEdit() const { return channel_; }
  QCheckBox* NormalizeCheck() const { return normalize_; }
  QCheckBox* MonitorOutCheck() const { return monitorOut_; }
  QCheckBox* AutoTrimCheck() const { return autoTrim_; }
  QPushButton* StartButton() const { return start_; }
  QPushButton* DoneButton() const { return done_; }
  QPushButton* CancelButton() const { return cancel_; }
  QPushButton* MidiTestButton() const { return midiTest_; }
  QLabel* Status() const { return status_; }
  QProgressBar* Progress() const { return progress_; }
  QSlider* VolumeSlider() const { return volume_; }
  QLabel* VolumeLabel() const { return volumeLabel_; }
  CPianoSelectorWnd* Piano() const { return piano_; }
  CAudioLevelDisplay* InputMonitor() const { return inputMonitor_; }
  CAudioLevelDisplay* SampledWaveform() const { return sampled_; }
  CAudioMeter* Meter() const { return meter_; }
  bool IdleMonitorOpen() const { return monitor_ != nullptr; }

  // Handlers, public for tests.
  void OnStartStop();
  void OnMidiTest();
  void OnMidiTestEnd();
  void OnDone();
  void OnTimer();
  void FillAudioInList();
  void FillMidiOutList();

  // A MIDI port's identity: its name without ALSA's "client:port" numbers.
  static std::string MidiIdentity(const std::string& portName);

 public:
  // "Cancel", Escape: stops a run, ends a MIDI test and closes.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Values {
    int from = -1, to = -1, interval = 0, count = 0, velocity = 0, channel = 1;
    double hold = 0, wait = 0;
  };
  // Reads the edits; a text that is not a number is refused with the
  // framework's message, and false.
  bool ReadValues(Values& v);
  // The note fields only (never refused).
  Values ReadNotes() const;
  void LoadSettings();
  // The run's settings; |read| null when a number field was refused.
  void SaveSettings(const Values* read);
  void RestoreSelections();
  void OnAudioInSelChange();
  void OnMidiOutSelChange();
  void OnNoteCountChange();
  void OnIntervalChange();
  void OnStartNoteChange();
  void OnEndNoteChange();
  void WriteEndNote(const Values& v, int count);
  void OnPickNote(bool end);
  void UpdatePianoRange();
  void StartSampling();
  void StopSampling();
  // Sends the test note's note-off; false when the output refused it.
  bool EndMidiTest();
  void MidiTestFailed();
  bool OpenInputMonitor();
  void CloseInputMonitor();
  void SetMonitorOutput(bool on);
  void SetStatus(const QString& text);
  void ShutDown();
  void OnRunStatus(int serial, const QString& text, int position);
  void OnRunNote(int serial, int note);
  void OnRunTaken(int serial, const std::vector<int>& levels);
  void OnRunDone(int serial);

  std::unique_ptr<SteadyWaiter> ownWaiter_;
  MultisampleMidiOut midiOut_;
  std::unique_ptr<MultisampleRun> run_;
  const std::chrono::milliseconds grace_;
  bool sampling_ = false;
  std::atomic<int> serial_{0};  // the run whose messages are shown (the worker reads it)
  bool updating_ = false;   // the linked edits are writing back
  bool shutDown_ = false;
  int testNote_ = -1;       // the MIDI test's sounding note, -1 = none
  int testChannel_ = 0;
  bool testOpenedOutput_ = false;
  double gain_ = 1.0;
  std::string audioName_;      // the chosen input's list text
  std::string audioIdentity_;  // the chosen input
  int midiIndex_ = 0;          // the chosen output's port index

  // The idle monitor: the callback leaves the level of its latest block
  // here plus one (0 = no block since the last tick).
  std::unique_ptr<AudioInputStream> monitor_;
  std::shared_ptr<std::atomic<int>> monitorLevel_ = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<std::atomic<double>> monitorGain_ = std::make_shared<std::atomic<double>>(1.0);
  // "Monitor to Output": the idle monitor's and the run's input callbacks
  // push their blocks into this FIFO while the box is on; the source plays
  // them on CurrentAudioOutput().
  std::shared_ptr<MonitorFifo> monitorFifo_ = std::make_shared<MonitorFifo>(kMultisampleBlockFrames, 1);
  std::shared_ptr<MonitorFifoSource> monitorSource_;
  std::shared_ptr<std::atomic<bool>> monitoring_ = std::make_shared<std::atomic<bool>>(false);
  bool monitorJoined_ = false;

  QListWidget* audioList_;
  QListWidget* midiList_;
  QLineEdit* from_;
  QLineEdit* to_;
  QLineEdit* interval_;
  QLineEdit* count_;
  QLineEdit* velocity_;
  QLineEdit* hold_;
  QLineEdit* wait_;
  QLineEdit* channel_;
  QCheckBox* monitorOut_;
  QCheckBox* normalize_;
  QCheckBox* autoTrim_;
  QPushButton* start_;
  QPushButton* done_;
  QPushButton* cancel_;
  QPushButton* midiTest_;
  QLabel* status_;
  QProgressBar* progress_;
  QSlider* volume_;
  QLabel* volumeLabel_;
  CPianoSelectorWnd* piano_;
  CAudioLevelDisplay* inputMonitor_;
  CAudioLevelDisplay* sampled_;
  CAudioMeter* meter_;
  QTimer* timer_;
  QTimer* testTimer_;
};

}  // namespace zandrel
