// CPlayInstrumentDlg, the mini sampler player: plays the open document's
// instrument live from a MIDI input or the PC keyboard through a
// CRealTimeSynth joined to the shared audio output, and shows what each note
// played: a status line, the region's key range on a read-only piano and a
// small waveform of the region with its loop marks.
//
// The MIDI callback runs on the port's thread: it starts and stops notes on
// the synth and hands the note's result to the user-interface thread through
// a queued call; it never touches a widget. The envelope sliders change the
// synth's attack and release at once; the document keeps its values until
// the dialog has closed, when the caller may commit the moved values as one
// undoable change (EnvelopeChanged()).
#pragma once

#include <QDialog>
#include <QWidget>
#include <memory>
#include <vector>

#include "document/instrument.h"
#include "document/wav_loader.h"
#include "platform/midi_port.h"
#include "tools/player_model.h"
#include "tools/realtime_synth.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSlider;
class QTimer;

namespace zandrel {

class CPianoSelectorWnd;

// The region's waveform: one vertical line per column, loop marks in yellow.
class CSimpleWaveformCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CSimpleWaveformCtrl(QWidget* parent = nullptr);
  void SetSamples(const std::vector<int16_t>& values);
  const std::vector<WaveColumn>& Columns() const { return columns_; }
  QImage Render() const;

  uint32_t waveformColour = 0x4682B4;
  float loopStartFraction = -1;
  float loopEndFraction = -1;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<WaveColumn> columns_;
};

class CPlayInstrumentDlg : public QDialog {
  Q_OBJECT

 public:
  CPlayInstrumentDlg(const CWavLoader* audio, const InstrumentData* instrument, QWidget* parent = nullptr);
  ~CPlayInstrumentDlg() override;

  CRealTimeSynth& Synth() { return *synth_; }
  // The slider values; Moved* tell whether the user moved them.
  int AttackValue() const { return attackValue_; }
  int ReleaseValue() const { return releaseValue_; }
  // True when a slider was moved to a value that differs from the document's.
  bool EnvelopeChanged() const;
  // The envelope to keep: a moved slider's value, the document's own value
  // for a slider the user left alone (a stored release below the slider's
  // range stays as it was).
  int KeptAttack() const;
  int KeptRelease() const;

  QListWidget* MidiList() const { return midiList_; }
  QLabel* Status() const { return status_; }
  QComboBox* Interpolation() const { return interpolation_; }
  QSlider* AttackSlider() const { return attack_; }
  QSlider* ReleaseSlider() const { return release_; }
  CPianoSelectorWnd* Piano() const { return piano_; }
  CSimpleWaveformCtrl* Waveform() const { return waveform_; }
  bool MidiOpen() const { return midiIn_ != nullptr; }
  bool Sounding() const { return joined_; }

  void FillMidiInList();
  void OpenMidiInput(int item);
  // What a note-on shows (the user-interface thread).
  void ShowNoteStatus(int note, int velocity, int regionIndex, int root);

  static constexpr double kOutputRate = 44100.0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void done(int result) override;

 private:
  void OnMidiMessage(std::span<const uint8_t> message);  // the port's thread
  void OnInterpolationChange(int index);
  void ReleaseHeldKeys();
  void Shutdown();
  // The output's device stopped: leave it and say so; a later key joins again.
  void CheckOutput();

  const CWavLoader* audio_;
  const InstrumentData* instrument_;
  std::shared_ptr<CRealTimeSynth> synth_;
  std::unique_ptr<MidiInPort> midiIn_;
  bool joined_ = false;
  bool shutDown_ = false;
  QTimer* outputCheck_ = nullptr;  // watches the output's device while joined
  HeldKeys held_;
  int attackValue_ = 0;
  int releaseValue_ = 60;
  bool attackMoved_ = false;
  bool releaseMoved_ = false;

  QListWidget* midiList_;
  CSimpleWaveformCtrl* waveform_;
  QLabel* status_;
  QComboBox* interpolation_;
  QSlider* attack_;
  QSlider* release_;
  QLabel* attackLabel_;
  QLabel* releaseLabel_;
  CPianoSelectorWnd* piano_;
};

}  // namespace zandrel
