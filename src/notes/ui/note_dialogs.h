// The note tools' dialogs (Qt): transpose, the two note distributions and
// the tuning remap, and QtNoteDialogs, which runs them modally for the note
// commands. What they decide is in the core (notes/note_commands.h,
// notes/tuning_remap_model.h); these only show it and read the user's
// choice. User-interface thread only.
#pragma once

#include <QDialog>
#include <QStyledItemDelegate>
#include <memory>

#include "notes/note_commands.h"
#include "notes/tuning_remap_model.h"
#include "processing/pcm_preview_source.h"
#include "sound_design/tuning_previews.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace zandrel {

class CMarkdownTextCtrl;

// "Shift/Transpose all notes by semitones".
class CTransposeDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CTransposeDlg(QWidget* parent = nullptr);
  QString valueText = QStringLiteral("0");

  QLineEdit* ValueEdit() const { return edit_; }
  QPushButton* OctaveUpButton() const { return up_; }
  QPushButton* OctaveDownButton() const { return down_; }
  QPushButton* PlayHigherButton() const { return higher_; }
  CMarkdownTextCtrl* Help() const { return help_; }

  // The seven help lines, joined by line feeds.
  static std::string HelpText();

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetValue(const QString& text);
  QLineEdit* edit_;
  QPushButton* higher_;
  QPushButton* up_;
  QPushButton* down_;
  CMarkdownTextCtrl* help_;
};

// "Distribute Notes": start note and scale.
class CSpreadNotesNMDlg : public QDialog {
  Q_OBJECT
 public:
  CSpreadNotesNMDlg(const PercussiveChoice& initial, QWidget* parent = nullptr);
  PercussiveChoice Choice() const;

  QLineEdit* StartNoteEdit() const { return edit_; }
  QLabel* NoteLabel() const { return noteLabel_; }
  QPushButton* PickButton() const { return pick_; }
  QRadioButton* ScaleRadio(int type) const;
  // The ".." button: the note picker on the start note; a picked key
  // becomes the start note's text.
  void OnPickStartNote();

 private:
  void UpdateNoteLabel();
  QLineEdit* edit_;
  QLabel* noteLabel_;
  QPushButton* pick_;
  QButtonGroup* scales_;
};

// "Distribute (Melodic)": where roots come from and how zones are cut.
class CSpreadNotesMelodicDlg : public QDialog {
  Q_OBJECT
 public:
  CSpreadNotesMelodicDlg(const MelodicChoice& initial, QWidget* parent = nullptr);
  MelodicChoice Choice() const;
  QRadioButton* RootRadio(int value) const;
  QRadioButton* DistributionRadio(int value) const;

 private:
  QButtonGroup* roots_;
  QButtonGroup* distribution_;
};

// Draws the tuning list: group colours, bold headers, "&&" as "&".
class TuningListDelegate : public QStyledItemDelegate {
 public:
  TuningListDelegate(const std::vector<TuningPreset>* rows, QObject* parent) : QStyledItemDelegate(parent), rows_(rows) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  const std::vector<TuningPreset>* rows_;
};

// Draws the mapping table's cells in their columns.
class MappingTableDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// "Micro Tonal, Historic and World Tuning". Two check boxes play the selected
// tuning once through CurrentAudioOutput(): the demo melody on the flute
// ("Audition using Valdro Flute Synth") or the pads as a scale ("Audition
// Scale"); at most one is on, and a new selection restarts a running preview.
class CNon12TETRemapDlg : public QDialog {
  Q_OBJECT
 public:
  CNon12TETRemapDlg(const std::vector<Region>& regions, QWidget* parent = nullptr);
  // Stops and leaves an open preview (playing or finished).
  ~CNon12TETRemapDlg() override;

  const TuningRemapModel& Model() const { return model_; }
  RemapChoice Choice() const { return {model_.BaseOctave(), model_.Plan(), model_.SelectedName()}; }

  QListWidget* TuningList() const { return tunings_; }
  QListWidget* MappingTable() const { return table_; }
  QLineEdit* RegionsEdit() const { return regions_; }
  QLineEdit* BaseOctaveEdit() const { return baseOctave_; }
  QLineEdit* QualityEdit() const { return quality_; }
  QPlainTextEdit* DescriptionEdit() const { return description_; }
  CMarkdownTextCtrl* Help() const { return help_; }
  QPushButton* ProcessButton() const { return process_; }
  QCheckBox* AuditionFluteBox() const { return auditionFlute_; }
  QCheckBox* AuditionScaleBox() const { return auditionScale_; }
  // The open preview (playing or finished), or null.
  const PcmPreviewSource* Preview() const { return preview_.get(); }

  // "Process": the plan is checked, then the user is asked.
  void OnProcess();

  // Renders the selected row's preview (scale or demo, as the boxes say) and
  // plays it once; an open preview is stopped first. Nothing plays without a
  // selected tuning row or when the output refuses the source.
  void StartPreview();
  void StopPreview();

 private:
  void OnSelChangeTuningList(int row);
  void OnAuditionFluteClicked();
  void OnAuditionScaleClicked();
  void FillMappingTable();
  void RefreshTexts();

  TuningRemapModel model_;
  QLineEdit* regions_;
  QLineEdit* baseOctave_;
  QListWidget* tunings_;
  QPlainTextEdit* description_;
  QListWidget* table_;
  QLineEdit* quality_;
  CMarkdownTextCtrl* help_;
  QPushButton* process_;
  QCheckBox* auditionFlute_;  // 1049
  QCheckBox* auditionScale_;  // 1050
  // The previews' flute voice; its filter states carry from note to note for
  // as long as the dialog lives.
  FluteVoiceState fluteState_ = NewPreviewFluteState();
  std::shared_ptr<PcmPreviewSource> preview_;
  bool settling_ = false;
};

// Runs the dialogs above for the note commands.
class QtNoteDialogs final : public NoteDialogs {
 public:
  explicit QtNoteDialogs(QWidget* parent) : parent_(parent) {}
  std::optional<std::string> AskTranspose() override;
  std::optional<PercussiveChoice> AskPercussive(const PercussiveChoice& initial) override;
  std::optional<MelodicChoice> AskMelodic(const MelodicChoice& initial) override;
  std::optional<RemapChoice> AskTuningRemap(const std::vector<Region>& regions) override;

 private:
  QWidget* parent_;
};

}  // namespace zandrel
