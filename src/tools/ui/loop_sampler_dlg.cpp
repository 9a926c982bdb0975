#include "tools/ui/loop_sampler_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

#include "platform/atomic_file.h"
#include "platform/audio_output.h"
#include "platform/file_dialogs.h"
#include "platform/message_host.h"
#include "platform/settings.h"
#include "platform/text_format.h"
#include "tools/sampling/monitor_fifo.h"
#include "widgets/level_displays.h"
#include "widgets/markdown_text_ctrl.h"

namespace zandrel {

const char kLoopSamplerHelp[] = R"(# Loop Sampler

## Getting Started

Choose your audio input in the **Audio IN** list. While **Offline** is chosen nothing is recorded and this help is shown. Set the tempo, the loop size and the time signature, then press **Record** (or the space bar).

## How It Works

A timing grid one loop long runs continuously from the moment the input opens. While recording, every pass of the loop becomes a take, and recording goes straight on into the next pass without a gap. The last 8 takes are kept in a circular buffer: the ninth take replaces the oldest.

**The Workflow:**

1. Set Tempo, Loop Size and Time Signature.
2. Start the click with **Metronome** if you want to play along.
3. Press **Record** and play; every loop pass is kept as a take.
4. Press **Stop**, then pick a take in the stack and audition it with **Play Take** (a double click plays it too).
5. Press **Load Selected Take** to turn the take into a tempo-tagged loop in the editor.

## Controls

- **Tempo**: beats per minute (whole numbers count for the grid).
- **Loop Size**: the loop's length in bars. A loop must last at least 0.1 seconds; a long one is limited only by the memory its eight takes need.
- **Time Signature**: beats per bar and the beat unit.
- **Latency** (default: 50ms): the time your input and output take. To calibrate, record a few clicks of the metronome and raise or lower the value until the recorded clicks sit on the grid lines of the progress strip.
- **Crossfade**: the first milliseconds of a take fade in from the start of the next take, so the loop's seam does not click. Set to 0 to disable crossfading.
- **Rec Volume**: the input's gain while recording (0 to 200%).
- **Monitor to Output**: hear the input through your speakers. Watch for feedback!

## Metronome

The click emphasises the downbeat of each bar with a higher, louder accent. This setting shifts the metronome timing forward so you hear it early by the latency amount. While a take plays, the click follows the plain grid.
)";

namespace {

constexpr char kSection[] = "LoopSampler";
constexpr int kOfflineData = -1;

std::string Text(const QLineEdit* e) { return e->text().toStdString(); }

}  // namespace

CLoopSamplerDlg::CLoopSamplerDlg(LogSink* log, QWidget* parent)
    : QDialog(parent), log_(log), engine_(std::make_unique<LoopSamplerEngine>(1024)) {
  setWindowTitle(QStringLiteral("Circular Loop Sampler"));
  monitorSource_ = std::make_shared<MonitorFifoSource>(engine_->Monitor(), engine_->Rate());

  meter_ = new CAudioMeter(this);
  meter_->setMinimumHeight(18);
  strip_ = new CLoopProgressDisplay(this);
  strip_->setMinimumHeight(90);
  takes_ = new CTakeStackDisplay(this);
  takes_->laneCount = 8;
  takes_->ringIndex = 0;
  takes_->setMinimumHeight(200);
  help_ = new CMarkdownTextCtrl(this);
  help_->setMinimumHeight(200);

  devices_ = new QListWidget(this);
  devices_->setMaximumHeight(80);
  rescan_ = new QPushButton(QStringLiteral("Rescan"), this);
  monitor_ = new QCheckBox(QStringLiteral("Monitor to Output (Watch for Feedback!)"), this);
  recVolume_ = new QSlider(Qt::Horizontal, this);
  recVolume_->setRange(0, 200);
  recVolume_->setValue(100);
  recVolumeLabel_ = new QLabel(QStringLiteral("Rec Volume 100%"), this);
  tempo_ = new QLineEdit(this);
  bars_ = new QLineEdit(this);
  numerator_ = new QLineEdit(this);
  denominator_ = new QLineEdit(this);
  metronome_ = new QPushButton(QStringLiteral("Metronome"), this);
  metronomeVolume_ = new QSlider(Qt::Horizontal, this);
  metronomeVolume_->setRange(0, 100);
  metronomeVolume_->setValue(100);
  latency_ = new QLineEdit(this);
  latencyUp_ = new QToolButton(this);
  latencyUp_->setArrowType(Qt::UpArrow);
  latencyDown_ = new QToolButton(this);
  latencyDown_->setArrowType(Qt::DownArrow);
  record_ = new QPushButton(QStringLiteral("Record"), this);
  stop_ = new QPushButton(QStringLiteral("Stop"), this);
  play_ = new QPushButton(QStringLiteral("Play Take"), this);
  export_ = new QPushButton(QStringLiteral("Export Take"), this);
  crossfade_ = new QLineEdit(this);
  load_ = new QPushButton(QStringLiteral("Load Selected Take"), this);
  close_ = new QPushButton(QStringLiteral("Close"), this);
  for (QLineEdit* e : {tempo_, bars_, numerator_, denominator_, latency_, crossfade_}) e->setMaximumWidth(60);
  for (QPushButton* b : {rescan_, metronome_, record_, stop_, play_, export_, load_, close_}) b->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  auto* top = new QGridLayout;
  top->addWidget(new QLabel(QStringLiteral("Audio IN"), this), 0, 0);
  top->addWidget(devices_, 0, 1, 2, 1);
  top->addWidget(rescan_, 0, 2);
  top->addWidget(monitor_, 1, 2);
  top->addWidget(recVolumeLabel_, 2, 0);
  top->addWidget(recVolume_, 2, 1);
  top->addWidget(meter_, 2, 2);
  layout->addLayout(top);
  layout->addWidget(strip_);
  auto* timing = new QHBoxLayout;
  timing->addWidget(new QLabel(QStringLiteral("Tempo"), this));
  timing->addWidget(tempo_);
  timing->addWidget(new QLabel(QStringLiteral("BPM   Loop Length"), this));
  timing->addWidget(bars_);
  timing->addWidget(new QLabel(QStringLiteral("bars   Time Signature"), this));
  timing->addWidget(numerator_);
  timing->addWidget(new QLabel(QStringLiteral("/"), this));
  timing->addWidget(denominator_);
  timing->addStretch();
  layout->addLayout(timing);
  auto* click = new QHBoxLayout;
  click->addWidget(metronome_);
  click->addWidget(metronomeVolume_);
  click->addWidget(new QLabel(QStringLiteral("Latency Compensation"), this));
  click->addWidget(latency_);
  click->addWidget(latencyUp_);
  click->addWidget(latencyDown_);
  click->addWidget(new QLabel(QStringLiteral("ms"), this));
  layout->addLayout(click);
  auto* transport = new QHBoxLayout;
  transport->addWidget(record_);
  transport->addWidget(stop_);
  transport->addStretch();
  layout->addLayout(transport);
  layout->addWidget(takes_, 1);
  layout->addWidget(help_, 1);
  auto* takeRow = new QHBoxLayout;
  takeRow->addWidget(play_);
  takeRow->addWidget(export_);
  takeRow->addWidget(new QLabel(QStringLiteral("Crossfade"), this));
  takeRow->addWidget(crossfade_);
  takeRow->addWidget(new QLabel(QStringLiteral("ms"), this));
  takeRow->addStretch();
  takeRow->addWidget(load_);
  takeRow->addWidget(close_);
  layout->addLayout(takeRow);

  // Light grey on the dark grey of the take stack it stands in for.
  help_->backgroundColour = MakeColorRef(30, 30, 30);
  help_->textColour = MakeColorRef(180, 180, 180);
  help_->SetMarkdownText(kLoopSamplerHelp);
  FillDeviceList();
  LoadSettings();
  engine_->SetLatencyFrames(LatencyFrames(Text(latency_)));
  OnTimingChange();
  if (deviceIdentity_.empty()) {
    ShowOffline(true);
  } else {
    ShowOffline(false);
    OpenInput();
  }

  connect(rescan_, &QPushButton::clicked, this, &CLoopSamplerDlg::OnRescan);
  connect(devices_, &QListWidget::itemSelectionChanged, this, &CLoopSamplerDlg::OnDeviceSelChange);
  connect(record_, &QPushButton::clicked, this, &CLoopSamplerDlg::OnRecord);
  connect(stop_, &QPushButton::clicked, this, &CLoopSamplerDlg::OnStop);
  connect(metronome_, &QPushButton::clicked, this, &CLoopSamplerDlg::OnMetronome);
  connect(play_, &QPushButton::clicked, this, &CLoopSamplerDlg::OnPlayTake);
  connect(export_, &QPushButton::clicked, this, &CLoopSamplerDlg::OnExportTake);
  connect(monitor_, &QCheckBox::toggled, this, [this](bool on) { engine_->SetMonitor(on); });
  for (QLineEdit* e : {tempo_, bars_, numerator_, denominator_})
    connect(e, &QLineEdit::textChanged, this, &CLoopSamplerDlg::OnTimingChange);
  connect(latency_, &QLineEdit::textChanged, this, &CLoopSamplerDlg::OnLatencyChange);
  connect(latencyUp_, &QToolButton::clicked, this, [this] { OnLatencyStep(1); });
  connect(latencyDown_, &QToolButton::clicked, this, [this] { OnLatencyStep(-1); });
  connect(recVolume_, &QSlider::valueChanged, this, [this](int v) {
    engine_->SetRecordGain(v / 100.0);
    recVolumeLabel_->setText(QStringLiteral("Rec Volume %1%").arg(v));
  });
  connect(metronomeVolume_, &QSlider::valueChanged, this, [this](int v) { engine_->SetMetronomeVolume(v / 100.0); });
  connect(takes_, &CTakeStackDisplay::takeClicked, this, [this](int slot) {
    if (engine_->Playing() && slot >= 0 && slot < static_cast<int>(engine_->Takes().size())) PlaySlot(slot);
  });
  connect(takes_, &CTakeStackDisplay::takeDoubleClicked, this, [this](int slot) {
    if (!engine_->Recording() && !engine_->Armed() && !engine_->Playing() && slot >= 0 &&
        slot < static_cast<int>(engine_->Takes().size()))
      PlaySlot(slot);
  });
  connect(load_, &QPushButton::clicked, this, [this] {
    SaveSettings();
    result_ = BuildTakeBuffer(engine_->Takes(), SelectedSlot(), Crossfade(), engine_->Rate());
    accept();
  });
  connect(close_, &QPushButton::clicked, this, &CLoopSamplerDlg::reject);
  connect(&timer_, &QTimer::timeout, this, &CLoopSamplerDlg::OnTimer);
  timer_.start(40);
  // The space bar records and stops whichever control has the focus.
  qApp->installEventFilter(this);
  resize(640, 720);
}

CLoopSamplerDlg::~CLoopSamplerDlg() {
  qApp->removeEventFilter(this);
  timer_.stop();
  engine_->SetPlaying(false);
  engine_->Abandon();
  // The engine and its buffers go only once neither the input nor the
  // output can call into them again.
  CloseInput();
  if (monitorJoined_) CurrentAudioOutput().Leave(monitorSource_.get());
}

std::string CLoopSamplerDlg::TempoText() const { return Text(tempo_); }
std::string CLoopSamplerDlg::BarsText() const { return Text(bars_); }

int CLoopSamplerDlg::Crossfade() const { return LeadingInt(Text(crossfade_)); }

int CLoopSamplerDlg::SelectedSlot() const {
  const int s = takes_->selectedTake;
  return s >= 0 && s < static_cast<int>(engine_->Takes().size()) ? s : -1;
}

bool CLoopSamplerDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && (w == this || isAncestorOf(w))) {
      if (engine_->Recording() || engine_->Armed())
        OnStop();
      else
        OnRecord();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CLoopSamplerDlg::reject() {
  SaveSettings();
  QDialog::reject();
}

// ---------------------------------------------------------- settings --

void CLoopSamplerDlg::LoadSettings() {
  SettingsStore& s = CurrentSettings();
  tempo_->setText(QString::fromStdString(s.GetString(kSection, "Tempo", "120")));
  bars_->setText(QString::fromStdString(s.GetString(kSection, "LoopLength", "2")));
  numerator_->setText(QString::fromStdString(s.GetString(kSection, "TimeSigNum", "4")));
  denominator_->setText(QString::fromStdString(s.GetString(kSection, "TimeSigDenom", "4")));
  monitor_->setChecked(s.GetInt(kSection, "Monitor", 0) != 0);
  engine_->SetMonitor(monitor_->isChecked());
  latency_->setText(QString::fromStdString(s.GetString(kSection, "UserLatencyMS", "50")));
  crossfade_->setText(QString::fromStdString(s.GetString(kSection, "CrossfadeMS", "100")));
  const std::string stored = s.GetString(kSection, "AudioInUniqueId", "");
  QSignalBlocker block(devices_);
  int row = 0;
  if (!stored.empty())
    for (int i = 1; i < devices_->count(); ++i)
      if (deviceInfo_[static_cast<size_t>(i - 1)].identity == stored) {
        row = i;
        break;
      }
  devices_->setCurrentRow(row);
  deviceIdentity_ = row > 0 ? deviceInfo_[static_cast<size_t>(row - 1)].identity : std::string();
}

void CLoopSamplerDlg::SaveSettings() {
  SettingsStore& s = CurrentSettings();
  // Stored with a point whatever the user typed ("120,5" is kept as "120.5").
  s.SetString(kSection, "Tempo", WithDecimalPoint(Text(tempo_)));
  s.SetString(kSection, "LoopLength", Text(bars_));
  s.SetString(kSection, "TimeSigNum", Text(numerator_));
  s.SetString(kSection, "TimeSigDenom", Text(denominator_));
  s.SetInt(kSection, "Monitor", monitor_->isChecked() ? 1 : 0);
  s.SetString(kSection, "UserLatencyMS", Text(latency_));
  s.SetString(kSection, "CrossfadeMS", Text(crossfade_));
}

// ----------------------------------------------------------- devices --

void CLoopSamplerDlg::FillDeviceList() {
  QSignalBlocker block(devices_);
  devices_->clear();
  deviceInfo_.clear();
  auto* offline = new QListWidgetItem(QStringLiteral("Offline"), devices_);
  offline->setData(Qt::UserRole, kOfflineData);
  if (AudioInput* input = CurrentAudioInput()) deviceInfo_ = input->Devices();
  for (size_t i = 0; i < deviceInfo_.size(); ++i) {
    auto* item = new QListWidgetItem(QString::fromStdString(deviceInfo_[i].name), devices_);
    item->setData(Qt::UserRole, static_cast<int>(i));
  }
}

void CLoopSamplerDlg::OnRescan() {
  FillDeviceList();
  QSignalBlocker block(devices_);
  devices_->setCurrentRow(-1);
  devices_->clearSelection();
}

void CLoopSamplerDlg::OnDeviceSelChange() {
  QListWidgetItem* item = devices_->currentItem();
  if (!item || devices_->selectedItems().isEmpty()) return;
  // The take in progress is lost, but the buttons and edits come back as
  // after Stop rather than staying disabled.
  const bool wasRecording = engine_->Recording() || engine_->Armed();
  engine_->Abandon();
  if (wasRecording) StopUiReset();
  CloseInput();
  const int data = item->data(Qt::UserRole).toInt();
  if (data == kOfflineData || data < 0 || static_cast<size_t>(data) >= deviceInfo_.size()) {
    deviceIdentity_.clear();
    CurrentSettings().SetString(kSection, "AudioInUniqueId", "");
    ShowOffline(true);
    return;
  }
  deviceIdentity_ = deviceInfo_[static_cast<size_t>(data)].identity;
  CurrentSettings().SetString(kSection, "AudioInUniqueId", deviceIdentity_);
  ShowOffline(false);
  OpenInput();
}

void CLoopSamplerDlg::ShowOffline(bool offline) {
  strip_->offline = offline;
  strip_->update();
  takes_->setVisible(!offline);
  help_->setVisible(offline);
}

void CLoopSamplerDlg::OpenMonitorOutput() {
  if (monitorJoined_) return;
  // Recording goes on without the monitor; the log says why it is silent.
  std::string why;
  monitorJoined_ = CurrentAudioOutput().Join(monitorSource_, &why);
  if (!monitorJoined_ && log_) log_->AppendLog(kJoinFailedLogPrefix + why);
}

bool CLoopSamplerDlg::OpenInput() {
  OpenMonitorOutput();
  if (stream_) return true;
  AudioInput* input = CurrentAudioInput();
  if (!input) return false;
  engine_->ResetCounter();
  LoopSamplerEngine* engine = engine_.get();
  AudioInputError error;
  stream_ = input->Open(
      deviceIdentity_, engine_->Rate(), 1, engine_->MaxBlockFrames(),
      [engine](const int16_t* frames, size_t n) { engine->OnInputBlock(frames, n); }, &error);
  return stream_ != nullptr;
}

// The input stopped delivering (its server went away, the interface was
// unplugged). The takes already finished stay (the tick above collected
// them); the loop in progress was cut short, so it is dropped rather than
// kept as a take with a silent tail. The stream is closed here, once.
void CLoopSamplerDlg::OnInputLost() {
  const bool wasRecording = engine_->Recording() || engine_->Armed();
  engine_->Abandon();
  if (wasRecording) StopUiReset();
  CloseInput();
  if (log_)
    log_->AppendLog(wasRecording ? "Loop sampler: the audio input stopped; the loop being recorded was dropped."
                                 : "Loop sampler: the audio input stopped.");
  ShowMessage(wasRecording ? "The audio input stopped. The loop being recorded was dropped; the finished takes are "
                             "kept.\n\nChoose the input again once the device is back."
                           : "The audio input stopped.\n\nChoose the input again once the device is back.",
              MessageIcon::Error);
}

void CLoopSamplerDlg::CloseInput() {
  if (!stream_) return;
  stream_->Close();  // returns once no callback runs
  stream_.reset();
}

// ------------------------------------------------------ record, stop --

void CLoopSamplerDlg::SetEditsEnabled(bool on) {
  for (QLineEdit* e : {tempo_, bars_, numerator_, denominator_, latency_, crossfade_}) e->setEnabled(on);
}

void CLoopSamplerDlg::OnRecord() {
  if (engine_->Recording() || engine_->Armed()) return;
  if (engine_->Playing()) StopTakePlayback();
  const LoopSamplerEngine::RecordResult r = engine_->Record();
  if (r == LoopSamplerEngine::RecordResult::kTooShort || r == LoopSamplerEngine::RecordResult::kTooLong) {
    strip_->statusText =
        QString::fromLatin1(r == LoopSamplerEngine::RecordResult::kTooShort ? kLoopTooShortText : kLoopTooLongText);
    strip_->statusColour = QColor(255, 120, 120);
    strip_->update();
    return;
  }
  if (r != LoopSamplerEngine::RecordResult::kStarted) return;
  if (strip_->statusText == QLatin1String(kLoopTooShortText) || strip_->statusText == QLatin1String(kLoopTooLongText))
    strip_->statusText.clear();
  takes_->recording = true;
  strip_->recording = true;
  takes_->ClearLevelHistory();
  record_->setEnabled(false);
  stop_->setEnabled(true);
  SetEditsEnabled(false);
}

void CLoopSamplerDlg::StopUiReset() {
  takes_->recording = false;
  strip_->recording = false;
  record_->setEnabled(true);
  stop_->setEnabled(false);
  SetEditsEnabled(true);
  if (engine_->Playing()) crossfade_->setEnabled(false);
  takes_->update();
  strip_->update();
}

void CLoopSamplerDlg::OnStop() {
  if (engine_->Playing()) {
    StopTakePlayback();
    return;
  }
  if (!engine_->Stop()) return;
  StopUiReset();
  RefreshTakeStack(false);
}

void CLoopSamplerDlg::RefreshTakeStack(bool emptyNextLane) {
  takes_->SetTakes(engine_->Takes(), static_cast<int>(engine_->Rate()), 16, 1);
  takes_->takeCount = static_cast<int>(engine_->Takes().size());
  takes_->ringIndex = engine_->RingIndex();
  if (emptyNextLane && static_cast<size_t>(takes_->ringIndex) < takes_->lanes.size()) {
    takes_->lanes[static_cast<size_t>(takes_->ringIndex)].minima.clear();
    takes_->lanes[static_cast<size_t>(takes_->ringIndex)].maxima.clear();
  }
  takes_->ClearLevelHistory();
  takes_->selectedTake = -1;
  takes_->update();
}

// ------------------------------------------------------------- timer --

void CLoopSamplerDlg::OnTimer() {
  const LoopSamplerEngine::TimerReport r = engine_->TimerTick();
  if (r.takesChanged) RefreshTakeStack(true);
  if (stream_ && stream_->Lost()) OnInputLost();
  if (r.droppedTakes > 0 && log_) {
    char text[64];
    std::snprintf(text, sizeof text, "Loop sampler: %d take(s) dropped", r.droppedTakes);
    log_->AppendLog(text);
  }
  meter_->SetLevel(r.peakLevel);
  const bool playing = engine_->Playing();
  const bool recording = engine_->Recording();
  if (!playing || recording) {
    strip_->AddLevel(r.peakLevel);
    if (takes_->recording) {
      takes_->history.AddLevel(r.peakLevel);
      takes_->history.dirty = true;
    }
  }
  if (r.havePosition) {
    const double pos = std::clamp(r.position, 0.0, 1.0);
    if (pos != strip_->history.position) {
      strip_->history.position = pos;
      strip_->history.dirty = true;
      takes_->history.position = pos;
      if (takes_->recording) takes_->history.dirty = true;
    }
    if (r.newLoop && !playing) strip_->ClearHistory();
  }
}

// ----------------------------------------------------------- takes --

void CLoopSamplerDlg::PlaySlot(int slot) {
  std::vector<int16_t> take = BuildTakeBuffer(engine_->Takes(), slot, Crossfade(), engine_->Rate());
  engine_->SetPlayingTake(take);
  ShowTakeLevels();
  engine_->SetPlaying(true);
  play_->setText(QStringLiteral("Stop"));
  strip_->statusText = QStringLiteral("Playing Take %1").arg(slot + 1);
  strip_->statusColour = QColor(255, 255, 100);
  strip_->update();
  crossfade_->setEnabled(false);
  stop_->setEnabled(true);
}

void CLoopSamplerDlg::OnPlayTake() {
  if (engine_->Playing()) {
    StopTakePlayback();
    return;
  }
  const int slot = SelectedSlot();
  if (slot < 0) return;
  PlaySlot(slot);
}

void CLoopSamplerDlg::StopTakePlayback() {
  engine_->SetPlaying(false);
  play_->setText(QStringLiteral("Play Take"));
  if (!engine_->Recording() && !engine_->Armed()) crossfade_->setEnabled(true);
  strip_->statusText.clear();
  strip_->statusColour = QColor(255, 255, 255);
  strip_->update();
  if (!engine_->Recording() && !engine_->Armed()) stop_->setEnabled(false);
}

void CLoopSamplerDlg::ShowTakeLevels() {
  if (engine_->Recording()) return;
  strip_->ClearHistory();
  const std::vector<int> levels = TakeLevels(engine_->PlayingTakeCopy());
  for (size_t j = 0; j < levels.size(); ++j) {
    strip_->history.position = static_cast<double>(j) / static_cast<double>(levels.size());
    strip_->AddLevel(levels[j]);
  }
  strip_->history.position = 0.0;
}

void CLoopSamplerDlg::OnExportTake() {
  const int slot = SelectedSlot();
  if (slot < 0) {
    ShowMessage("Please select a take to export.", MessageIcon::Information);
    return;
  }
  const std::vector<int16_t> take = BuildTakeBuffer(engine_->Takes(), slot, Crossfade(), engine_->Rate());
  if (take.empty()) {
    ShowMessage("Selected take (or generated buffer) is empty.", MessageIcon::Warning);
    return;
  }
  char name[32];
  std::snprintf(name, sizeof name, "Take_%d.wav", slot + 1);
  SaveFileRequest request;
  request.defaultPath = name;
  request.defaultExtension = "wav";
  request.filter = "WAV Files (*.wav)|*.wav|All Files (*.*)|*.*||";
  const std::optional<std::filesystem::path> path = AskSaveFile(request);
  if (!path) return;
  const std::vector<uint8_t> bytes = PlainWavBytes(take, engine_->Rate(), 1);
  std::string error;
  // Written whole or not at all: an earlier file of that name stays intact.
  if (!WriteFileAtomically(*path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                           &error)) {
    ShowMessage("Failed to create export file.", MessageIcon::Error);
    return;
  }
  char text[128];
  std::snprintf(text, sizeof text, "Take %d exported successfully to:\n", slot + 1);
  ShowMessage(std::string(text) + path->string() + "\n\nCrossfade applied: " + Text(crossfade_) + " ms",
              MessageIcon::Information);
}

// ----------------------------------------------- metronome, timing --

void CLoopSamplerDlg::OnMetronome() {
  metronomeOn_ = !metronomeOn_;
  engine_->SetMetronome(metronomeOn_);
  metronome_->setText(metronomeOn_ ? QStringLiteral("Stop Click") : QStringLiteral("Start Click"));
}

void CLoopSamplerDlg::OnTimingChange() {
  engine_->SetGrid(ComputeLoopGrid(Text(tempo_), Text(bars_), Text(numerator_), Text(denominator_), engine_->Rate()));
  const int b = LeadingInt(Text(bars_)), n = LeadingInt(Text(numerator_)), d = LeadingInt(Text(denominator_));
  strip_->bars = b > 0 ? b : 1;
  strip_->beatsPerBar = n > 0 ? n : 4;
  strip_->beatUnit = d > 0 ? d : 4;
  strip_->update();
}

void CLoopSamplerDlg::OnLatencyChange() { engine_->SetLatencyFrames(LatencyFrames(Text(latency_), engine_->Rate())); }

void CLoopSamplerDlg::OnLatencyStep(int delta) {
  const int value = std::min(500, std::max(0, LeadingInt(Text(latency_)) + delta));
  latency_->setText(QString::number(value));
  OnLatencyChange();
}

}  // namespace zandrel
