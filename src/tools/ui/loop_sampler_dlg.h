// CLoopSamplerDlg, the "Circular Loop Sampler" dialog: records tempo-locked
// loops from an audio input into a ring of eight takes, plays and exports
// them, and hands the chosen take (crossfaded) to the caller.
//
// The recording itself is LoopSamplerEngine (tools/sampling): the input's
// callback feeds it on the input's thread, and a 40 ms timer collects takes
// and feeds the meter, the loop strip and the take stack. The monitor plays
// through a MonitorFifoSource on the shared output from opening to closing.
// The settings live in the "LoopSampler" section. User-interface thread only.
#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio_input.h"
#include "platform/log_sink.h"
#include "tools/sampling/loop_sampler_engine.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;
class QToolButton;

namespace zandrel {

class CAudioMeter;
class CLoopProgressDisplay;
class CMarkdownTextCtrl;
class CTakeStackDisplay;
class MonitorFifoSource;

// The markdown help shown while the input is Offline.
extern const char kLoopSamplerHelp[];

class CLoopSamplerDlg : public QDialog {
  Q_OBJECT

 public:
  // |log| (may be null) receives the engine's warnings.
  explicit CLoopSamplerDlg(LogSink* log = nullptr, QWidget* parent = nullptr);
  ~CLoopSamplerDlg() override;

  // The crossfaded take chosen by "Load Selected Take" (empty: none).
  const std::vector<int16_t>& Result() const { return result_; }
  std::string TempoText() const;
  std::string BarsText() const;

  // The commands of the buttons, for the owner's tests as for the buttons.
  void OnRecord();
  void OnStop();
  void OnPlayTake();
  void OnExportTake();
  void OnMetronome();
  void OnRescan();
  void OnDeviceSelChange();
  void OnLatencyStep(int delta);  // +1 up, -1 down
  void OnTimer();

  LoopSamplerEngine& Engine() { return *engine_; }
  CAudioMeter* Meter() const { return meter_; }
  CLoopProgressDisplay* Strip() const { return strip_; }
  CTakeStackDisplay* TakeStack() const { return takes_; }
  CMarkdownTextCtrl* Help() const { return help_; }
  QListWidget* DeviceList() const { return devices_; }
  QPushButton* RecordButton() const { return record_; }
  QPushButton* StopButton() const { return stop_; }
  QPushButton* PlayButton() const { return play_; }
  QPushButton* MetronomeButton() const { return metronome_; }
  QPushButton* LoadButton() const { return load_; }
  QLineEdit* TempoEdit() const { return tempo_; }
  QLineEdit* BarsEdit() const { return bars_; }
  QLineEdit* NumeratorEdit() const { return numerator_; }
  QLineEdit* DenominatorEdit() const { return denominator_; }
  QLineEdit* LatencyEdit() const { return latency_; }
  QLineEdit* CrossfadeEdit() const { return crossfade_; }
  QCheckBox* MonitorCheck() const { return monitor_; }
  QSlider* RecVolumeSlider() const { return recVolume_; }
  QLabel* RecVolumeLabel() const { return recVolumeLabel_; }
  bool InputOpen() const { return stream_ != nullptr; }

  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FillDeviceList();
  void LoadSettings();
  void SaveSettings();
  void OnTimingChange();
  void OnLatencyChange();
  bool OpenInput();
  void CloseInput();
  void OpenMonitorOutput();
  void ShowOffline(bool offline);
  void StopUiReset();
  void OnInputLost();
  void StopTakePlayback();
  void PlaySlot(int slot);
  void ShowTakeLevels();
  void RefreshTakeStack(bool emptyNextLane);
  void SetEditsEnabled(bool on);
  int Crossfade() const;
  int SelectedSlot() const;

  LogSink* log_;
  std::unique_ptr<LoopSamplerEngine> engine_;
  std::unique_ptr<AudioInputStream> stream_;
  std::shared_ptr<MonitorFifoSource> monitorSource_;
  bool monitorJoined_ = false;
  std::vector<AudioInputDevice> deviceInfo_;
  std::string deviceIdentity_;  // empty: Offline
  bool metronomeOn_ = false;
  std::vector<int16_t> result_;
  QTimer timer_;

  CAudioMeter* meter_ = nullptr;
  CLoopProgressDisplay* strip_ = nullptr;
  CTakeStackDisplay* takes_ = nullptr;
  CMarkdownTextCtrl* help_ = nullptr;
  QListWidget* devices_ = nullptr;
  QPushButton* rescan_ = nullptr;
  QCheckBox* monitor_ = nullptr;
  QSlider* recVolume_ = nullptr;
  QLabel* recVolumeLabel_ = nullptr;
  QLineEdit* tempo_ = nullptr;
  QLineEdit* bars_ = nullptr;
  QLineEdit* numerator_ = nullptr;
  QLineEdit* denominator_ = nullptr;
  QPushButton* metronome_ = nullptr;
  QSlider* metronomeVolume_ = nullptr;
  QLineEdit* latency_ = nullptr;
  QToolButton* latencyUp_ = nullptr;
  QToolButton* latencyDown_ = nullptr;
  QPushButton* record_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* play_ = nullptr;
  QPushButton* export_ = nullptr;
  QLineEdit* crossfade_ = nullptr;
  QPushButton* load_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace zandrel
