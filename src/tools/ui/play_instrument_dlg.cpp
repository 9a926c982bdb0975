#include "tools/ui/play_instrument_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include "platform/audio_output.h"
#include "platform/message_host.h"
#include "platform/settings.h"
#include "tools/loop_render.h"
#include "widgets/piano_selector_wnd.h"
#include "widgets/qt_colors.h"

namespace zandrel {

// ------------------------------------------------------------ waveform --

CSimpleWaveformCtrl::CSimpleWaveformCtrl(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CSimpleWaveformCtrl::SetSamples(const std::vector<int16_t>& values) {
  columns_ = WaveformColumns(values, width());
  update();
}

QImage CSimpleWaveformCtrl::Render() const {
  const int w = std::max(1, width()), h = std::max(1, height());
  QImage image(w, h, QImage::Format_RGB32);
  QPainter p(&image);
  p.fillRect(0, 0, w, h, QColor(20, 20, 20));
  const int mid = h / 2;
  p.setPen(QColor(60, 60, 60));
  p.drawLine(0, mid, w, mid);
  if (columns_.empty()) return image;
  const double scale = h * 0.5 * 0.9;
  p.setPen(RgbToQColor(waveformColour));
  for (int i = 0; i < w && i < static_cast<int>(columns_.size()); ++i) {
    const WaveColumn& c = columns_[static_cast<size_t>(i)];
    p.drawLine(i, mid - static_cast<int>(c.max / 32768.0 * scale), i, mid - static_cast<int>(c.min / 32768.0 * scale));
  }
  p.setPen(QPen(QColor(255, 255, 0), 2));
  for (float f : {loopStartFraction, loopEndFraction})
    if (f >= 0 && f <= 1) {
      const int x = static_cast<int>(w * f);
      p.drawLine(x, 0, x, h);
    }
  return image;
}

void CSimpleWaveformCtrl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, Render());
}

// -------------------------------------------------------------- dialog --

CPlayInstrumentDlg::CPlayInstrumentDlg(const CWavLoader* audio, const InstrumentData* instrument, QWidget* parent)
    : QDialog(parent),
      audio_(audio),
      instrument_(instrument),
      synth_(std::make_shared<CRealTimeSynth>()),
      midiList_(new QListWidget(this)),
      waveform_(new CSimpleWaveformCtrl(this)),
      status_(new QLabel(QStringLiteral("PLay on MIDI or the PC Keyboard"), this)),
      interpolation_(new QComboBox(this)),
      attack_(new QSlider(Qt::Horizontal, this)),
      release_(new QSlider(Qt::Horizontal, this)),
      attackLabel_(new QLabel(this)),
      releaseLabel_(new QLabel(this)),
      piano_(new CPianoSelectorWnd(this)) {
  setWindowTitle(QStringLiteral("Mini Sampler Player"));
  auto* rescan = new QPushButton(QStringLiteral("Rescan"), this);
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  close->setDefault(true);
  midiList_->setFixedSize(282, 163);
  waveform_->setFixedSize(280, 68);
  piano_->setFixedSize(572, 120);
  attack_->setFixedWidth(150);
  release_->setFixedWidth(150);
  attackLabel_->setMinimumWidth(30);
  releaseLabel_->setMinimumWidth(30);
  interpolation_->setVisible(false);  // kept for the remembered mode; the dialog does not show it
  for (QWidget* w : std::initializer_list<QWidget*>{midiList_, rescan, close, attack_, release_, interpolation_})
    w->setFocusPolicy(Qt::NoFocus);

  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(QStringLiteral("Midi In"), this));
  left->addWidget(midiList_);
  left->addWidget(rescan);
  auto* right = new QGridLayout;
  right->addWidget(waveform_, 0, 0, 1, 3);
  right->addWidget(new QLabel(QStringLiteral("Attack"), this), 1, 0);
  right->addWidget(attack_, 1, 1);
  right->addWidget(attackLabel_, 1, 2);
  right->addWidget(new QLabel(QStringLiteral("Release"), this), 2, 0);
  right->addWidget(release_, 2, 1);
  right->addWidget(releaseLabel_, 2, 2);
  right->addWidget(interpolation_, 3, 0, 1, 3);
  right->addWidget(status_, 4, 0, 1, 3);
  right->setRowStretch(5, 1);
  auto* top = new QHBoxLayout;
  top->addLayout(left);
  top->addLayout(right, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(new QLabel(QStringLiteral("You can also use your computer keyboard "), this));
  bottom->addStretch(1);
  bottom->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(piano_);
  layout->addLayout(bottom);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  connect(rescan, &QPushButton::clicked, this, &CPlayInstrumentDlg::FillMidiInList);
  connect(midiList_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row < 0) return;
    OpenMidiInput(row);
    CurrentSettings().SetString("Settings", "LastMidiDevice", midiList_->item(row)->text().toStdString());
  });

  // The synth, bound before any output starts.
  synth_->Bind(audio_, instrument_, kOutputRate);

  interpolation_->addItem(QStringLiteral("Linear (Fast)"));
  interpolation_->addItem(QStringLiteral("Sinc (Better)"));
  const int stored = CurrentSettings().GetInt("Settings", "InterpolationMode", 0);
  interpolation_->setCurrentIndex(stored >= 0 && stored < interpolation_->count() ? stored : -1);
  OnInterpolationChange(interpolation_->currentIndex());
  connect(interpolation_, &QComboBox::currentIndexChanged, this, &CPlayInstrumentDlg::OnInterpolationChange);

  attack_->setRange(0, 255);
  release_->setRange(10, 255);
  attack_->setValue(instrument_ ? instrument_->params.attack : 0);
  release_->setValue(instrument_ ? instrument_->params.release : 60);
  attackValue_ = attack_->value();
  releaseValue_ = release_->value();
  attackLabel_->setText(QString::number(attackValue_));
  releaseLabel_->setText(QString::number(releaseValue_));
  // A stored release below 10 shows as 10 but plays as stored until moved.
  connect(attack_, &QSlider::valueChanged, this, [this](int v) {
    attackValue_ = v;
    attackMoved_ = true;
    attackLabel_->setText(QString::number(v));
    synth_->SetAttack(v);
  });
  connect(release_, &QSlider::valueChanged, this, [this](int v) {
    releaseValue_ = v;
    releaseMoved_ = true;
    releaseLabel_->setText(QString::number(v));
    synth_->SetRelease(v);
  });

  PianoSelectorModel& piano = piano_->Model();
  piano.readOnly = 1;
  piano.lowNote = 0;
  piano.highNote = 127;
  piano.rootNote = 60;
  piano.selectMode = 2;
  piano.accentColor = kSteelBlue;
  piano.pickedNote = 60;
  const int visible = piano_->GetVisibleWhiteKeys();
  const int whiteIndex = visible / 2 >= 36 ? 0 : std::min(74, 35 - visible / 2);
  piano.firstVisibleNote = WhiteKeyNote(std::max(0, whiteIndex));
  piano_->UpdateScrollBar();
  piano_->update();

  if (audio_ && !audio_->data.empty()) {
    std::string error;
    joined_ = CurrentAudioOutput().Join(synth_, &error);
    if (!joined_) ShowMessage("Failed to open audio output device!", MessageIcon::Error);
  }
  outputCheck_ = new QTimer(this);
  outputCheck_->setInterval(250);
  connect(outputCheck_, &QTimer::timeout, this, &CPlayInstrumentDlg::CheckOutput);
  if (joined_) outputCheck_->start();
  FillMidiInList();
  const std::string last = CurrentSettings().GetString("Settings", "LastMidiDevice", "");
  if (!last.empty()) {
    for (int i = 0; i < midiList_->count(); ++i)
      if (midiList_->item(i)->text().toStdString() == last) {
        midiList_->setCurrentRow(i);  // opens it
        break;
      }
  }
  qApp->installEventFilter(this);
}

CPlayInstrumentDlg::~CPlayInstrumentDlg() { Shutdown(); }

void CPlayInstrumentDlg::done(int result) {
  Shutdown();
  QDialog::done(result);
}

void CPlayInstrumentDlg::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  qApp->removeEventFilter(this);
  held_.ReleaseAll();
  if (midiIn_) {
    midiIn_->Close();  // no callback runs after this
    midiIn_.reset();
  }
  if (joined_) {
    CurrentAudioOutput().Leave(synth_.get());  // synchronous: no render runs after this
    joined_ = false;
  }
  synth_->AllNotesOff();
}

void CPlayInstrumentDlg::CheckOutput() {
  if (!joined_ || shutDown_ || !CurrentAudioOutput().DeviceLost()) return;
  outputCheck_->stop();
  held_.ReleaseAll();
  CurrentAudioOutput().Leave(synth_.get());  // closes the lost device
  joined_ = false;
  synth_->AllNotesOff();
  status_->setText(QStringLiteral("Audio output stopped."));
  ShowMessage("The audio output stopped: the device is gone or its server stopped.\n\nThe next key plays again "
              "once the device is back.",
              MessageIcon::Error);
}

bool CPlayInstrumentDlg::EnvelopeChanged() const {
  if (!instrument_) return false;
  return (attackMoved_ && attackValue_ != instrument_->params.attack) ||
         (releaseMoved_ && releaseValue_ != instrument_->params.release);
}

int CPlayInstrumentDlg::KeptAttack() const {
  return attackMoved_ || !instrument_ ? attackValue_ : instrument_->params.attack;
}

int CPlayInstrumentDlg::KeptRelease() const {
  return releaseMoved_ || !instrument_ ? releaseValue_ : instrument_->params.release;
}

void CPlayInstrumentDlg::FillMidiInList() {
  const QSignalBlocker block(midiList_);
  midiList_->clear();
  midiList_->addItem(QStringLiteral("None (Keyboard Only)"));
  if (MidiSystem* midi = CurrentMidiSystem())
    for (const std::string& name : midi->InputNames()) midiList_->addItem(QString::fromStdString(name));
  midiList_->setCurrentRow(0);
}

void CPlayInstrumentDlg::OpenMidiInput(int item) {
  if (midiIn_) {
    midiIn_->Close();
    midiIn_.reset();
  }
  if (item < 1) return;
  MidiSystem* midi = CurrentMidiSystem();
  if (midi)
    midiIn_ = midi->OpenInput(static_cast<size_t>(item - 1),
                              [this](std::span<const uint8_t> message) { OnMidiMessage(message); });
  if (!midiIn_) ShowMessage("Failed to open MIDI input device!", MessageIcon::Warning);
}

void CPlayInstrumentDlg::OnMidiMessage(std::span<const uint8_t> m) {
  if (m.size() != 3) return;
  const int kind = m[0] >> 4;
  const int note = m[1] & 0x7F, velocity = m[2] & 0x7F;
  if (kind == 0x9 && velocity > 0) {
    const auto start = synth_->NoteOn(note, velocity);
    const CRealTimeSynth::NoteStart shown = start ? *start : synth_->LastNote();
    QMetaObject::invokeMethod(
        this, [this, note, velocity, shown] { ShowNoteStatus(note, velocity, shown.regionIndex, shown.root); },
        Qt::QueuedConnection);
  } else if (kind == 0x8 || kind == 0x9) {
    synth_->NoteOff(note);
  }
}

void CPlayInstrumentDlg::ShowNoteStatus(int note, int velocity, int regionIndex, int root) {
  status_->setText(QString::fromStdString(NoteStatusText(note, velocity, regionIndex, root)));
  if (!instrument_ || regionIndex < 0 || regionIndex >= static_cast<int>(instrument_->regions.size())) return;
  const Region& region = instrument_->regions[static_cast<size_t>(regionIndex)];
  const uint32_t colour = kToolRegionPalette[static_cast<size_t>(regionIndex % 10)];
  PianoSelectorModel& piano = piano_->Model();
  piano.accentColor = MakeColorRef((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
  piano.lowNote = region.loKey;
  piano.highNote = region.hiKey;
  piano.rootNote = note;
  piano.selectMode = 2;
  piano.pickedNote = note;
  piano_->update();
  waveform_->waveformColour = colour;
  const LoopFractions f = RegionLoopFractions(region);
  waveform_->loopStartFraction = f.start;
  waveform_->loopEndFraction = f.end;
  waveform_->SetSamples(audio_ ? RegionWaveform(*audio_, region) : std::vector<int16_t>{});
}

void CPlayInstrumentDlg::OnInterpolationChange(int index) {
  if (index < 0) return;
  synth_->SetInterpolation(index >= 1 && index <= 3 ? index : 0);
  CurrentSettings().SetInt("Settings", "InterpolationMode", index);
}

void CPlayInstrumentDlg::ReleaseHeldKeys() {
  for (int note : held_.ReleaseAll()) synth_->NoteOff(note);
}

void CPlayInstrumentDlg::changeEvent(QEvent* event) {
  // Keys held while the dialog loses the keyboard would never see their key-up.
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) ReleaseHeldKeys();
  QDialog::changeEvent(event);
}

bool CPlayInstrumentDlg::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && isVisible() &&
      QApplication::activeModalWidget() == this) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) return QDialog::eventFilter(watched, event);
    if (type == QEvent::KeyPress) {
      if (const auto note = held_.KeyDown(key->key(), key->isAutoRepeat())) {
        // After a lost device, a key opens the output again (quietly: the
        // loss was said once).
        if (!joined_ && audio_ && !audio_->data.empty() && CurrentAudioOutput().Join(synth_)) {
          joined_ = true;
          outputCheck_->start();
        }
        const auto start = synth_->NoteOn(*note, 100);
        const CRealTimeSynth::NoteStart shown = start ? *start : synth_->LastNote();
        ShowNoteStatus(*note, 100, shown.regionIndex, shown.root);
      }
    } else if (!key->isAutoRepeat()) {
      if (const auto note = held_.KeyUp(key->key())) synth_->NoteOff(*note);
    }
    return true;  // every other key is the keyboard's
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace zandrel
