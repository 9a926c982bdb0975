// CRenderAkaiDlg, the loop maker: loads an MPC pattern or a MIDI file, shows
// it in the pattern grid over the kit loaded in the editor, and renders it
// onto the kit as a looped WAV file (tools/loop_render.h), which it then
// plays in a loop through the shared audio output. It never changes the
// document: it reads the kit and writes the output file. Its inputs are
// remembered in the settings section "RenderAkai" after each successful
// render; the folder of the last pattern in "Settings"/"PatternLastDir".
#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "document/instrument.h"
#include "document/wav_loader.h"
#include "tools/loop_render.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace zandrel {

class CDrumPatternWnd;
class PlaybackSource;

class CRenderAkaiDlg : public QDialog {
  Q_OBJECT

 public:
  // |audition| plays the first region with a root through the editor's view.
  CRenderAkaiDlg(const CWavLoader* audio, const InstrumentData* instrument, std::function<void(int)> audition,
                 QWidget* parent = nullptr);
  ~CRenderAkaiDlg() override;

  // Members as the controls show them.
  std::string kitStartText = "C2";
  double tempo = 90.0;
  int32_t bars = 0;
  std::filesystem::path outputPath;
  std::filesystem::path inputPath;
  std::string customMappingText;
  bool overwriteWithoutAsking = false;
  std::vector<PatternEvent> events;
  CustomMapping customMapping;

  // The actions behind the buttons.
  bool LoadPattern(const std::filesystem::path& path);  // "Load" after the file was chosen
  void OnLoadPattern();
  void OnRender();
  void OnPlay();
  void OnAutoMap();
  void OnClearMapping();
  void OnPickKitNote();
  void OnBrowseOutput();
  bool PlayOutput();
  void StopOutput();
  bool Playing() const { return source_ != nullptr; }

  CDrumPatternWnd* Grid() const { return grid_; }
  QPushButton* PlayButton() const { return play_; }
  QPushButton* RenderButton() const { return render_; }
  QLineEdit* MappingEdit() const { return mapping_; }
  QLineEdit* KitNoteEdit() const { return kitNote_; }
  QLineEdit* TempoEdit() const { return tempo_; }
  QLineEdit* OutputEdit() const { return output_; }
  QLineEdit* BarsEdit() const { return bars_; }

  // Milliseconds before the remembered pattern loads and before a rendered
  // loop starts to play.
  static constexpr int kReloadDelayMs = 100;
  static constexpr int kAutoPlayDelayMs = 200;

 private:
  void ReadControls();
  void UpdateControls();
  void RefreshGrid();
  bool RenderPatternLoop();
  void OnDrumNoteClicked(int root);

  const CWavLoader* audio_;
  const InstrumentData* instrument_;
  std::function<void(int)> audition_;
  CWavLoader playData_;
  std::shared_ptr<PlaybackSource> source_;

  QLineEdit* input_;
  QLineEdit* kitNote_;
  QLineEdit* bars_;
  QLineEdit* tempo_;
  QCheckBox* overwrite_;
  QLineEdit* output_;
  CDrumPatternWnd* grid_;
  QLineEdit* mapping_;
  QPushButton* play_;
  QPushButton* render_;
  bool updating_ = false;
};

}  // namespace zandrel
