#include "sound_design/ui/simple_synth_dlg.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <algorithm>
#include <iterator>

#include "platform/message_host.h"

namespace zandrel {
namespace {

// Dialog units of an 8-point dialog font: 1.5 pixels across, 1.625 down.
QRect Units(int x, int y, int w, int h) {
  return QRect(x * 3 / 2, y * 13 / 8, w * 3 / 2, h * 13 / 8);
}

struct EngineButtonDecl {
  int engine;
  const char* text;
  QRect rect;
};

// Vox is engine 8 and Bowed 7: the buttons keep the order users know, the
// indices those of the engine table (which has no engine 6).
const EngineButtonDecl kEngineButtons[] = {
    {kEngineBasic, "Basic Synth", Units(18, 21, 53, 10)}, {kEngineStrings, "String", Units(82, 21, 35, 10)},
    {kEnginePiano, "Mallet", Units(124, 21, 35, 10)},     {kEngineDrum, "Drum", Units(164, 21, 33, 10)},
    {kEngineCymbal, "Bell", Units(201, 21, 27, 10)},      {kEngineFlute, "Flute", Units(233, 21, 32, 10)},
    {kEngineVoice, "Vox", Units(269, 21, 28, 10)},        {kEngineBowed, "Bowed", Units(298, 21, 37, 10)},
    {kEngineBrass, "Brass", Units(337, 21, 33, 10)},
};

// The knobs whose changes re-render the preview: the selectors 1 and 2 and
// every rotary knob of the table.
bool IsSelectorId(int id) { return id == 1 || id == 2; }

std::filesystem::path ToPath(const QString& s) { return std::filesystem::path(s.toStdString()); }

}  // namespace

CSimpleSynthDlg::CSimpleSynthDlg(QWidget* parent)
    : QDialog(parent),
      engines_(BuildSynthEngines()),
      engineGroup_(new QButtonGroup(this)),
      knobArea_(new QFrame(this)),
      default_(new QPushButton(QStringLiteral("Set to Default"), this)),
      preview_(new QPushButton(QStringLiteral("Preview"), this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)),
      status_(new QLabel(this)) {
  setWindowTitle(QStringLiteral("Micro Synth"));
  const QRect whole = Units(0, 0, 475, 301);
  setFixedSize(whole.width(), whole.height());
  // The positions are dialog units of an 8-point font: the dialog's texts
  // take that size.
  QFont dialogFont = font();
  dialogFont.setPointSize(8);
  setFont(dialogFont);
  auto* waveLabel = new QLabel(QStringLiteral("Wave Engine"), this);
  const QRect waveRect = Units(16, 7, 43, 8).adjusted(0, -1, 0, 2);
  waveLabel->setGeometry(waveRect);
  // Kept to its 43 units: a font that draws the name wider is set smaller.
  QFont waveFont = dialogFont;
  for (qreal points = 7.5; points >= 6.0 && QFontMetricsF(waveFont).horizontalAdvance(waveLabel->text()) >
                                                waveRect.width();
       points -= 0.5)
    waveFont.setPointSizeF(points);
  waveLabel->setFont(waveFont);
  // The buttons keep the layout's order and sizes, but one whose text a
  // font draws wider grows, and those after it move right, so that no text
  // runs into the next button.
  int nextFree = 0;
  for (const EngineButtonDecl& b : kEngineButtons) {
    auto* button = new QRadioButton(QString::fromUtf8(b.text), this);
    QRect r = b.rect.adjusted(0, -2, 0, 4);
    r.moveLeft(std::max(r.left(), nextFree));
    r.setWidth(std::max(r.width(), button->sizeHint().width()));
    button->setGeometry(r);
    nextFree = r.right() + 4;
    engineGroup_->addButton(button, b.engine);
  }
  // Over the buttons of the physical models, as the layout places it.
  auto* physicalLabel = new QLabel(QStringLiteral("Physical Modelling"), this);
  QRect physicalRect = Units(79, 7, 58, 8).adjusted(0, -1, 0, 2);
  physicalRect.moveLeft(engineGroup_->button(kEngineStrings)->x() - (Units(82, 0, 0, 0).left() - physicalRect.left()));
  physicalRect.setWidth(std::max(physicalRect.width(), physicalLabel->sizeHint().width()));
  physicalLabel->setGeometry(physicalRect);
  engineGroup_->setExclusive(true);
  connect(engineGroup_, &QButtonGroup::idClicked, this, &CSimpleSynthDlg::OnEngine);
  default_->setGeometry(Units(401, 18, 67, 14));
  knobArea_->setFrameShape(QFrame::Box);
  knobArea_->setGeometry(Units(13, 38, 455, 220));
  preview_->setGeometry(Units(7, 280, 50, 14));
  status_->setGeometry(Units(62, 280, 295, 14));
  status_->setWordWrap(true);
  ok_->setGeometry(Units(362, 280, 50, 14));
  cancel_->setGeometry(Units(418, 280, 50, 14));
  ok_->setDefault(true);
  rerender_.setSingleShot(true);
  rerender_.setInterval(kRerenderMilliseconds);
  connect(&rerender_, &QTimer::timeout, this, &CSimpleSynthDlg::OnRerenderTimer);
  connect(default_, &QPushButton::clicked, this, &CSimpleSynthDlg::OnSetToDefault);
  connect(preview_, &QPushButton::clicked, this, &CSimpleSynthDlg::OnPreview);
  connect(ok_, &QPushButton::clicked, this, &CSimpleSynthDlg::OnClickedOk);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

CSimpleSynthDlg::~CSimpleSynthDlg() {
  rerender_.stop();
  StopPreview();
  panel_.Clear();
}

QString CSimpleSynthDlg::EngineIniPath(const std::string& engineName) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  if (folder.isEmpty()) return {};
  if (QCoreApplication::applicationName().isEmpty()) folder += QStringLiteral("/Quorvel");
  if (!QDir().mkpath(folder)) return {};
  return folder + QLatin1Char('/') + QString::fromStdString(EngineIniFileName(engineName));
}

QRadioButton* CSimpleSynthDlg::EngineButton(int engine) const {
  return qobject_cast<QRadioButton*>(engineGroup_->button(engine));
}

void CSimpleSynthDlg::showEvent(QShowEvent* event) {
  if (!initialised_) OnInitDialog();
  QDialog::showEvent(event);
}

void CSimpleSynthDlg::OnInitDialog() {
  if (initialised_) return;
  initialised_ = true;
  EngineButton(kEngineBasic)->setChecked(true);
  knobArea_->hide();
  BuildEnginePanel(kEngineBasic);
  render_.assign(source.size(), 0);
  // Every session starts at the loop's own octave, whatever was saved.
  if (CKnobControl* octave = panel_.FindKnob(kSynthOctaveId)) octave->SetSelectedIndex(2);
}

void CSimpleSynthDlg::BuildEnginePanel(int engine) {
  const auto it = engines_.find(engine);
  if (it == engines_.end()) return;
  current_ = engine;
  panel_.Clear();
  panel_.parent = this;
  panel_.layoutRect = knobArea_->geometry();
  KnobPanelModel& model = panel_.Model();
  for (const KnobParam& p : it->second.knobs) {
    model.params[p.id] = p;
    model.order.push_back(p.id);
  }
  panel_.CreateControls();
  if (const QString path = EngineIniPath(it->second.name); !path.isEmpty()) panel_.LoadTextIgnoringCase(ToPath(path));
  // Only now: reading the file re-renders nothing.
  for (const KnobParam& p : it->second.knobs) {
    if (IsSelectorId(p.id))
      panel_.SetSelectionCallback(p.id, [this](int) { OnKnobChanged(); });
    else
      panel_.SetValueCallback(p.id, [this](float) { OnKnobChanged(); });
  }
}

void CSimpleSynthDlg::SaveSettings() {
  const auto it = engines_.find(current_);
  if (it == engines_.end()) return;
  if (const QString path = EngineIniPath(it->second.name); !path.isEmpty()) panel_.SaveText(ToPath(path));
}

void CSimpleSynthDlg::OnEngine(int engine) {
  if (engine == current_) return;
  SaveSettings();
  BuildEnginePanel(engine);
  if (QRadioButton* button = EngineButton(engine)) button->setChecked(true);
  if (Previewing()) RenderPreviewMix();
}

SynthKnobValues CSimpleSynthDlg::KnobValues() const {
  SynthKnobValues knobs;
  const KnobPanelModel& model = panel_.Model();
  for (const int id : model.order) {
    const KnobModel* knob = model.FindKnob(id);
    if (!knob) continue;
    knobs.values[id] = knob->GetValue();
    if (knob->IsSelector()) knobs.selections[id] = knob->GetSelectedIndex();
  }
  return knobs;
}

SynthRenderResult CSimpleSynthDlg::RenderSynth() {
  const uint64_t frames = channels ? source.size() / channels : 0;
  return zandrel::RenderSynth(current_, KnobValues(), rootNote, sampleRate, channels, frames, states_, render_);
}

void CSimpleSynthDlg::RenderPreviewMix() {
  ++previewRenders_;
  const SynthRenderResult rendered = RenderSynth();
  std::vector<int16_t> mix;
  if (rendered.refused) {
    // Nothing to mix: the loop plays as it is, and the user learns why.
    mix = source;
    status_->setText(QString::fromStdString(SynthRefusalText(engines_.at(current_).name, rendered.note)));
  } else {
    MixSynthWithSource(source, render_, panel_.GetValue(kSynthMixId), mix);
    status_->clear();
  }
  if (source_) source_->Swap(mix);
  else source_ = std::make_shared<PcmPreviewSource>(std::move(mix), sampleRate, channels, true);
}

void CSimpleSynthDlg::OnKnobChanged() {
  if (resetting_ || !Previewing()) return;
  pending_ = true;
  rerender_.start();
}

void CSimpleSynthDlg::OnRerenderTimer() {
  rerender_.stop();
  if (pending_ && Previewing()) {
    pending_ = false;
    RenderPreviewMix();
  }
}

void CSimpleSynthDlg::OnSetToDefault() {
  resetting_ = true;
  const KnobPanelModel& model = panel_.Model();
  for (const int id : model.order) {
    if (CKnobControl* knob = panel_.FindKnob(id)) knob->SetNormalizedValue(knob->Model().defaultValue);
  }
  resetting_ = false;
  if (Previewing()) RenderPreviewMix();
}

void CSimpleSynthDlg::OnPreview() {
  if (Previewing()) {
    StopPreview();
    preview_->setText(QStringLiteral("Preview"));
    rerender_.stop();
    pending_ = false;
    return;
  }
  if (source.empty()) return;
  source_.reset();
  RenderPreviewMix();  // makes the source
  if (!JoinOrReport(source_)) {
    source_.reset();
    return;
  }
  preview_->setText(QStringLiteral("Stop"));
}

void CSimpleSynthDlg::StopPreview() {
  if (!source_) return;
  CurrentAudioOutput().Leave(source_.get());
  source_.reset();
}

void CSimpleSynthDlg::OnClickedOk() {
  SaveSettings();
  // The note is rendered by the command, as long work: here only whether
  // the engine plays it.
  const uint64_t frames = channels ? source.size() / channels : 0;
  const SynthKnobValues knobs = KnobValues();
  const SynthRenderResult probed = ProbeSynth(current_, knobs, rootNote, sampleRate, channels, frames);
  if (probed.refused) {
    ShowMessage(SynthRefusalText(engines_.at(current_).name, probed.note), MessageIcon::Warning);
    return;
  }
  if (source.empty()) return;
  StopPreview();
  choice.engine = current_;
  choice.knobs = knobs;
  choice.mix = panel_.GetValue(kSynthMixId);
  // The states as the previews left them: the dialog is done with them.
  choice.states = std::make_shared<SynthStates>(std::move(states_));
  accept();
}

bool QtMicroSynthDialogs::RunMicroSynth(const MicroSynthRequest& request, MicroSynthChoice& result) {
  CSimpleSynthDlg dialog(parent_);
  dialog.source = request.source;
  dialog.sampleRate = request.sampleRate;
  dialog.channels = request.channels;
  dialog.rootNote = request.rootNote;
  if (dialog.exec() != QDialog::Accepted) return false;
  result = std::move(dialog.choice);
  return true;
}

void DeclareMicroSynthAppCommand(CommandRegistry& registry, QWidget* frame) {
  DeclareMicroSynthCommand(registry, *new QtMicroSynthDialogs(frame));
}

}  // namespace zandrel
