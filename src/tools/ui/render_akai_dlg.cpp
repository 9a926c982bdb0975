#include "tools/ui/render_akai_dlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <fstream>

#include "document/note_names.h"
#include "platform/audio_output.h"
#include "platform/file_dialogs.h"
#include "platform/message_host.h"
#include "platform/settings.h"
#include "platform/text_format.h"
#include "tools/ui/drum_pattern_wnd.h"
#include "view/model/playback.h"
#include "widgets/note_select_dlg.h"

namespace zandrel {
namespace fs = std::filesystem;

namespace {

constexpr const char* kPatternSection = "RenderAkai";

QString QText(const std::string& s) { return QString::fromStdString(s); }

// The decimal value |text| starts with, typed with a point or a comma; 0
// when it starts with none.
double DecimalValue(const std::string& text) { return ReadLeadingTypedNumber(text).value_or(0.0); }

}  // namespace

CRenderAkaiDlg::CRenderAkaiDlg(const CWavLoader* audio, const InstrumentData* instrument,
                               std::function<void(int)> audition, QWidget* parent)
    : QDialog(parent),
      audio_(audio),
      instrument_(instrument),
      audition_(std::move(audition)),
      input_(new QLineEdit(this)),
      kitNote_(new QLineEdit(this)),
      bars_(new QLineEdit(this)),
      tempo_(new QLineEdit(this)),
      overwrite_(new QCheckBox(QStringLiteral("Overwrite without asking"), this)),
      output_(new QLineEdit(this)),
      grid_(new CDrumPatternWnd(this)),
      mapping_(new QLineEdit(this)),
      play_(new QPushButton(QStringLiteral("Play"), this)),
      render_(new QPushButton(QStringLiteral("Render"), this)) {
  setWindowTitle(QStringLiteral("Render MIDI or  MPC Pattern"));
  input_->setReadOnly(true);
  bars_->setReadOnly(true);
  kitNote_->setFixedWidth(46);
  bars_->setFixedWidth(38);
  tempo_->setFixedWidth(62);
  grid_->setMinimumSize(690, 380);

  auto* intro = new QLabel(
      QStringLiteral("This requires you to have a drum kit wave (with regions set) loaded in the main window which "
                     "will be used to render this pattern into a perfect loop with tail wrapping."),
      this);
  intro->setWordWrap(true);
  auto* load = new QPushButton(QStringLiteral("Load"), this);
  auto* pick = new QPushButton(QStringLiteral(".."), this);
  auto* browse = new QPushButton(QStringLiteral("..."), this);
  auto* clear = new QPushButton(QStringLiteral("Clear"), this);
  auto* autoMap = new QPushButton(QStringLiteral("Auto Map"), this);
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  pick->setFixedWidth(30);
  browse->setFixedWidth(30);
  render_->setDefault(true);
  render_->setAutoDefault(true);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(intro);
  layout->addWidget(new QLabel(QStringLiteral("Input MPC Pattern or MIDI"), this));
  auto* inputRow = new QHBoxLayout;
  inputRow->addWidget(input_, 1);
  inputRow->addWidget(load);
  layout->addLayout(inputRow);
  auto* settingsRow = new QHBoxLayout;
  settingsRow->addWidget(new QLabel(QStringLiteral("Kit start note"), this));
  settingsRow->addWidget(kitNote_);
  settingsRow->addWidget(pick);
  settingsRow->addSpacing(16);
  settingsRow->addWidget(new QLabel(QStringLiteral("Number of bars"), this));
  settingsRow->addWidget(bars_);
  settingsRow->addSpacing(16);
  settingsRow->addWidget(new QLabel(QStringLiteral("Render with BPM"), this));
  settingsRow->addWidget(tempo_);
  settingsRow->addStretch(1);
  layout->addLayout(settingsRow);
  layout->addWidget(new QLabel(QStringLiteral("Typical kits start at C2, but if your current kit start at different "
                                              "note, put that there"),
                               this));
  auto* outputLabels = new QHBoxLayout;
  outputLabels->addWidget(new QLabel(QStringLiteral("Output file"), this));
  outputLabels->addStretch(1);
  outputLabels->addWidget(overwrite_);
  layout->addLayout(outputLabels);
  auto* outputRow = new QHBoxLayout;
  outputRow->addWidget(output_, 1);
  outputRow->addWidget(browse);
  layout->addLayout(outputRow);
  layout->addWidget(grid_, 1);
  auto* mappingLabels = new QHBoxLayout;
  mappingLabels->addWidget(new QLabel(QStringLiteral("Custom Mapping"), this));
  mappingLabels->addSpacing(40);
  mappingLabels->addWidget(new QLabel(QStringLiteral("Example: C2>D4, D2>F#4"), this));
  mappingLabels->addStretch(1);
  mappingLabels->addWidget(clear);
  mappingLabels->addWidget(autoMap);
  layout->addLayout(mappingLabels);
  layout->addWidget(mapping_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(close);
  buttons->addStretch(1);
  buttons->addWidget(play_);
  buttons->addWidget(render_);
  layout->addLayout(buttons);

  connect(load, &QPushButton::clicked, this, &CRenderAkaiDlg::OnLoadPattern);
  connect(pick, &QPushButton::clicked, this, &CRenderAkaiDlg::OnPickKitNote);
  connect(browse, &QPushButton::clicked, this, &CRenderAkaiDlg::OnBrowseOutput);
  connect(clear, &QPushButton::clicked, this, &CRenderAkaiDlg::OnClearMapping);
  connect(autoMap, &QPushButton::clicked, this, &CRenderAkaiDlg::OnAutoMap);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(play_, &QPushButton::clicked, this, &CRenderAkaiDlg::OnPlay);
  connect(render_, &QPushButton::clicked, this, &CRenderAkaiDlg::OnRender);
  connect(kitNote_, &QLineEdit::textChanged, this, [this] {
    if (updating_) return;
    ReadControls();
    RefreshGrid();
  });
  connect(mapping_, &QLineEdit::textChanged, this, [this] {
    if (updating_) return;
    ReadControls();
    customMapping = ParseCustomMapping(customMappingText);
    RefreshGrid();
  });
  // Like a posted message: the audition runs after the click has been handled.
  connect(grid_, &CDrumPatternWnd::drumNoteClicked, this, [this](int root, int) { OnDrumNoteClicked(root); },
          Qt::QueuedConnection);

  // The remembered inputs.
  SettingsStore& settings = CurrentSettings();
  inputPath = settings.GetString(kPatternSection, "InputFile", "");
  outputPath = settings.GetString(kPatternSection, "OutputFile", "");
  tempo = DecimalValue(settings.GetString(kPatternSection, "BPM", "90.0"));
  if (tempo <= 0) tempo = 90.0;
  customMappingText = settings.GetString(kPatternSection, "CustomMapping", "");
  overwriteWithoutAsking = settings.GetInt(kPatternSection, "OverwriteWithoutAsking", 0) != 0;
  if (instrument_ && !instrument_->regions.empty()) {
    const int root = instrument_->regions.front().rootNote;
    if (root >= 0 && root <= 127) kitStartText = NoteNameOrDashes(root);
  }
  UpdateControls();
  if (audio_ && instrument_) RefreshGrid();
  std::error_code ec;
  if (!inputPath.empty() && fs::exists(inputPath, ec)) {
    QTimer::singleShot(kReloadDelayMs, this, [this] {
      if (LoadPattern(inputPath)) {
        customMapping = ParseCustomMapping(customMappingText);
        RefreshGrid();
      }
    });
  }
  play_->setEnabled(false);
}

CRenderAkaiDlg::~CRenderAkaiDlg() { StopOutput(); }

void CRenderAkaiDlg::ReadControls() {
  kitStartText = kitNote_->text().toStdString();
  tempo = DecimalValue(tempo_->text().toStdString());
  outputPath = output_->text().toStdString();
  customMappingText = mapping_->text().toStdString();
  overwriteWithoutAsking = overwrite_->isChecked();
}

void CRenderAkaiDlg::UpdateControls() {
  updating_ = true;
  input_->setText(QText(inputPath.string()));
  kitNote_->setText(QText(kitStartText));
  bars_->setText(QString::number(bars));
  tempo_->setText(QText(Format("%g", tempo)));
  output_->setText(QText(outputPath.string()));
  mapping_->setText(QText(customMappingText));
  overwrite_->setChecked(overwriteWithoutAsking);
  updating_ = false;
}

void CRenderAkaiDlg::RefreshGrid() {
  if (!instrument_ || instrument_->regions.empty()) return;
  grid_->SetTables(BuildNoteMap(instrument_, kitStartText, customMapping));
}

bool CRenderAkaiDlg::LoadPattern(const fs::path& path) {
  const PatternLoad load = LoadPatternFile(path);
  switch (load.status) {
    case PatternLoadStatus::kLoaded:
      events = load.events;
      bars = load.bars;
      RefreshGrid();
      grid_->SetPattern(events, bars);
      UpdateControls();
      return true;
    case PatternLoadStatus::kNoNotes:
      // Nothing to render any more: the grid says so too.
      events.clear();
      grid_->SetPattern(events, bars);
      break;
    case PatternLoadStatus::kNoEvents:
    case PatternLoadStatus::kTooLong:
      break;  // the previous pattern stays
  }
  ShowMessage(load.warning, MessageIcon::Warning);
  return false;
}

void CRenderAkaiDlg::OnLoadPattern() {
  SettingsStore& settings = CurrentSettings();
  OpenFileRequest request;
  request.title = "Select Pattern File";
  request.defaultPath = settings.GetString("Settings", "PatternLastDir", "");
  request.filter =
      "Pattern Files (*.mpcpattern;*.mid;*.midi)|*.mpcpattern;*.mid;*.midi|MPC Pattern Files "
      "(*.mpcpattern)|*.mpcpattern|MIDI Files (*.mid;*.midi)|*.mid;*.midi||";
  const auto chosen = AskOpenFile(request);
  if (!chosen) return;
  ReadControls();
  inputPath = *chosen;
  settings.SetString("Settings", "PatternLastDir", inputPath.parent_path().string());
  UpdateControls();
  LoadPattern(inputPath);
}

void CRenderAkaiDlg::OnPickKitNote() {
  ReadControls();
  CNoteSelectDlg picker(this);
  picker.lowNote = 0;
  picker.highNote = 128;
  const int current = ParsePatternNoteName(kitStartText);
  picker.rootNote = current >= 0 ? current : 36;
  picker.selectMode = 2;
  picker.accentColor = kSteelBlue;
  picker.neutralColors = 1;
  if (picker.exec() != QDialog::Accepted || picker.resultNote < 0 || picker.resultNote > 127) return;
  kitStartText = NoteNameOrDashes(picker.resultNote);
  UpdateControls();
  RefreshGrid();
}

void CRenderAkaiDlg::OnClearMapping() { mapping_->clear(); }

void CRenderAkaiDlg::OnAutoMap() {
  ReadControls();
  const AutoMapResult result = AutoMapNotes(events, instrument_);
  if (!result.Ok()) {
    ShowMessage(result.warning, MessageIcon::Warning);
    return;
  }
  mapping_->setText(QText(result.text));  // reparses and refreshes the grid
}

void CRenderAkaiDlg::OnBrowseOutput() {
  ReadControls();
  SaveFileRequest request;
  request.title = "Save Rendered Pattern";
  // The proposed name is always the same; the folder is the current output's.
  request.defaultPath = outputPath.parent_path() / "rendered_pattern.wav";
  request.defaultExtension = "wav";
  request.filter = "WAV Files (*.wav)|*.wav||";
  request.promptOverwrite = !overwriteWithoutAsking;
  const auto chosen = AskSaveFile(request);
  if (!chosen) return;
  outputPath = *chosen;
  UpdateControls();
}

void CRenderAkaiDlg::OnRender() {
  StopOutput();
  ReadControls();
  customMapping = ParseCustomMapping(customMappingText);
  if (outputPath.empty()) {
    ShowMessage("Please specify an output file path.", MessageIcon::Warning);
    return;
  }
  const fs::path withWav = WithWavExtension(outputPath);
  if (withWav != outputPath) {
    outputPath = withWav;
    UpdateControls();
  }
  std::error_code ec;
  if (fs::exists(outputPath, ec)) {
    if (!overwriteWithoutAsking &&
        !AskYesNo("File '" + outputPath.string() + "' already exists.\n\nDo you want to overwrite it?"))
      return;
  } else {
    // Can the file be written there at all?
    bool writable = false;
    {
      std::ofstream probe(outputPath, std::ios::binary);
      writable = static_cast<bool>(probe);
    }
    if (writable) fs::remove(outputPath, ec);
    if (!writable) {
      ShowMessage(
          "Cannot write to the specified path.\n\nPlease check that the directory exists and you have write "
          "permission.",
          MessageIcon::Error);
      return;
    }
  }
  RenderPatternLoop();
}

bool CRenderAkaiDlg::RenderPatternLoop() {
  LoopRenderInput in;
  in.kit = audio_;
  in.instrument = instrument_;
  in.events = &events;
  in.bars = bars;
  in.tempo = tempo;
  in.kitStartText = kitStartText;
  in.custom = customMapping;
  if (audio_ && !audio_->data.empty() && instrument_ && !instrument_->regions.empty() && !events.empty() && bars >= 1)
    play_->setEnabled(true);
  LoopRenderResult result = zandrel::RenderPatternLoop(in);
  if (!result.ok) {
    ShowMessage(result.message, result.icon);
    return false;
  }
  if (!result.wav.Save(outputPath, 0)) {
    ShowMessage("Failed to save the rendered file.", MessageIcon::Error);
    return false;
  }
  SettingsStore& settings = CurrentSettings();
  settings.SetString(kPatternSection, "InputFile", inputPath.string());
  settings.SetString(kPatternSection, "OutputFile", outputPath.string());
  settings.SetString(kPatternSection, "BPM", Format("%.1f", tempo));
  settings.SetString(kPatternSection, "CustomMapping", customMappingText);
  settings.SetInt(kPatternSection, "OverwriteWithoutAsking", overwriteWithoutAsking ? 1 : 0);
  QTimer::singleShot(kAutoPlayDelayMs, this, [this] { PlayOutput(); });
  return true;
}

void CRenderAkaiDlg::OnPlay() {
  if (Playing()) {
    StopOutput();
  } else {
    PlayOutput();
  }
}

bool CRenderAkaiDlg::PlayOutput() {
  if (Playing()) return true;
  std::error_code ec;
  CWavLoader loaded;
  if (outputPath.empty() || !fs::exists(outputPath, ec) || !loaded.Load(outputPath)) {
    ShowMessage("Cannot load output file for playback.\nPlease render a pattern first.", MessageIcon::Warning);
    return false;
  }
  if (loaded.FrameCount() < 1) {
    ShowMessage("No audio data to play.", MessageIcon::Warning);
    return false;
  }
  playData_ = std::move(loaded);
  // The whole file, over and over without a gap.
  auto source = std::make_shared<PlaybackSource>(playData_, 0, LoopState{0, playData_.FrameCount() - 1, true}, false);
  if (!JoinOrReport(source)) return false;
  source_ = std::move(source);
  play_->setText(QStringLiteral("Stop"));
  return true;
}

void CRenderAkaiDlg::StopOutput() {
  if (source_) {
    CurrentAudioOutput().Leave(source_.get());
    source_.reset();
  }
  if (play_) play_->setText(QStringLiteral("Play"));
}

void CRenderAkaiDlg::OnDrumNoteClicked(int root) {
  if (root < 0 || !audition_) return;
  audition_(root);
}

}  // namespace zandrel
