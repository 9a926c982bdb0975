// CSimpleSynthDlg: the "Micro Synth" dialog. The user picks one of nine tone
// engines, shapes it with the engine's knobs, listens to a looping preview of
// the note mixed with the loop, and on OK the note chosen (engine, knobs,
// engine states, mix) becomes what the command renders, mixes and writes
// into the loop, as long work.
//
// The caller sets source, sampleRate, channels and rootNote before exec()
// and reads choice after OK. Each engine's knobs persist in
// "Settings_<name>.ini" (EngineIniPath) in the parameter dialog's folder:
// saved when another engine is picked and on OK, read when an engine is
// shown. The "Octave" selector opens on "Octave +0" whatever the file held.
//
// The preview is a looping PcmPreviewSource joined to CurrentAudioOutput();
// while it plays, a knob change restarts a 30 ms single-shot timer whose
// timeout renders once, and the new mix is swapped in at the position
// playing. An engine that refuses its note previews the loop unchanged and
// shows why in the status line; OK then warns and keeps the dialog open.
// User-interface thread.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sound_design/micro_synth_command.h"
#include "processing/pcm_preview_source.h"
#include "sound_design/micro_synth.h"
#include "widgets/knob_panel.h"

class QButtonGroup;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;

namespace zandrel {

class CSimpleSynthDlg : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kRerenderMilliseconds = 30;

  explicit CSimpleSynthDlg(QWidget* parent = nullptr);
  ~CSimpleSynthDlg() override;

  std::vector<int16_t> source;  // the loop, interleaved
  uint32_t sampleRate = 44100;
  uint16_t channels = 2;
  int rootNote = 60;
  MicroSynthChoice choice;  // the result, after OK

  // The settings file of an engine; empty when there is no data folder.
  static QString EngineIniPath(const std::string& engineName);

  int CurrentEngine() const { return current_; }
  const std::map<int, SynthEngine>& Engines() const { return engines_; }
  CKnobPanel& Panel() { return panel_; }
  QRadioButton* EngineButton(int engine) const;
  QPushButton* PreviewButton() const { return preview_; }
  QPushButton* DefaultButton() const { return default_; }
  QPushButton* OkButton() const { return ok_; }
  QLabel* StatusLine() const { return status_; }
  bool Previewing() const { return source_ != nullptr; }
  // How often the preview mix was rendered (the knob-drag debounce shows here).
  int PreviewRenders() const { return previewRenders_; }

  // The dialog's steps, public for the engine buttons and for tests.
  void OnInitDialog();
  void OnEngine(int engine);
  void OnSetToDefault();
  void OnPreview();
  void OnClickedOk();
  void StopPreview();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildEnginePanel(int engine);
  // The shown engine's knob values, as RenderSynth reads them.
  SynthKnobValues KnobValues() const;
  SynthRenderResult RenderSynth();
  void RenderPreviewMix();
  void OnKnobChanged();
  void OnRerenderTimer();
  void SaveSettings();

  std::map<int, SynthEngine> engines_;
  int current_ = -1;
  bool initialised_ = false;
  bool resetting_ = false;  // "Set to Default" is moving the knobs
  bool pending_ = false;    // a knob changed since the last preview render
  int previewRenders_ = 0;
  SynthStates states_;
  std::vector<int16_t> render_;
  std::shared_ptr<PcmPreviewSource> source_;
  CKnobPanel panel_;
  QTimer rerender_;
  QButtonGroup* engineGroup_;
  QFrame* knobArea_;
  QPushButton* default_;
  QPushButton* preview_;
  QPushButton* ok_;
  QPushButton* cancel_;
  QLabel* status_;
};

// The command's dialog host: runs CSimpleSynthDlg over the request.
class QtMicroSynthDialogs final : public QObject, public MicroSynthDialogs {
 public:
  explicit QtMicroSynthDialogs(QWidget* parent) : QObject(parent), parent_(parent) {}
  bool RunMicroSynth(const MicroSynthRequest& request, MicroSynthChoice& result) override;

 private:
  QWidget* parent_;
};

// Declares "Micro Synth Shaper..." with the Qt dialog host (owned by |frame|).
void DeclareMicroSynthAppCommand(CommandRegistry& registry, QWidget* frame);

}  // namespace zandrel
