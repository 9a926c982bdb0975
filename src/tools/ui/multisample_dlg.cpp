#include "tools/ui/multisample_dlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "notes/piano_keys.h"
#include "platform/message_host.h"
#include "platform/midi_port.h"
#include "platform/settings.h"
#include "platform/text_format.h"
#include "tools/sampling/multisample_audio.h"
#include "tools/sampling/multisample_notes.h"
#include "widgets/level_displays.h"
#include "widgets/note_select_dlg.h"
#include "widgets/piano_selector_wnd.h"

namespace zandrel {

namespace {

constexpr const char* kMultisampleSection = "Multisample";
constexpr ColorRef kRangeAccent = MakeColorRef(70, 130, 180);

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

// The first item whose text starts with |prefix| (case-insensitive), or -1.
int FindPrefix(const QListWidget* list, const QString& prefix) {
  if (prefix.isEmpty()) return -1;
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->text().startsWith(prefix, Qt::CaseInsensitive)) return i;
  return -1;
}

}  // namespace

// ---------------------------------------------------------------- dialog --

CMultisampleDLG::CMultisampleDLG(QWidget* parent, MultisampleWaiter* waiter, std::chrono::milliseconds grace)
    : QDialog(parent),
      grace_(grace),
      audioList_(new QListWidget(this)),
      midiList_(new QListWidget(this)),
      from_(new QLineEdit(this)),
      to_(new QLineEdit(this)),
      interval_(new QLineEdit(this)),
      count_(new QLineEdit(this)),
      velocity_(new QLineEdit(this)),
      hold_(new QLineEdit(this)),
      wait_(new QLineEdit(this)),
      channel_(new QLineEdit(this)),
      monitorOut_(new QCheckBox(QStringLiteral("Monitor to Output (Default Output Device)"), this)),
      normalize_(new QCheckBox(QStringLiteral("Normalize Level of each sample"), this)),
      autoTrim_(new QCheckBox(QStringLiteral("AutoTrim"), this)),
      start_(new QPushButton(QStringLiteral("Start Sampling"), this)),
      done_(new QPushButton(QStringLiteral("Done"), this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)),
      midiTest_(new QPushButton(QStringLiteral("Midi test"), this)),
      status_(new QLabel(QStringLiteral("Ready or not!"), this)),
      progress_(new QProgressBar(this)),
      volume_(new QSlider(Qt::Horizontal, this)),
      volumeLabel_(new QLabel(QStringLiteral("Volume 100%"), this)),
      piano_(new CPianoSelectorWnd(this)),
      inputMonitor_(new CAudioLevelDisplay(this)),
      sampled_(new CAudioLevelDisplay(this)),
      meter_(new CAudioMeter(this)),
      timer_(new QTimer(this)),
      testTimer_(new QTimer(this)) {
  setWindowTitle(QStringLiteral("Multisample Tool"));
  if (!waiter) {
    ownWaiter_ = std::make_unique<SteadyWaiter>();
    waiter = ownWaiter_.get();
  }
  // Every event of the worker is copied into a queued call on this dialog;
  // Qt drops the calls still queued when the dialog is gone.
  QPointer<CMultisampleDLG> self(this);
  MultisampleEvents events;
  const std::atomic<int>* current = &serial_;
  events.status = [self, current](std::string text, int position, int) {
    const int s = *current;
    QMetaObject::invokeMethod(
        self.data(), [self, s, text = Q(text), position] { if (self) self->OnRunStatus(s, text, position); },
        Qt::QueuedConnection);
  };
  events.note = [self, current](int note) {
    const int s = *current;
    QMetaObject::invokeMethod(self.data(), [self, s, note] { if (self) self->OnRunNote(s, note); },
                              Qt::QueuedConnection);
  };
  events.taken = [self, current](std::vector<int> levels) {
    const int s = *current;
    QMetaObject::invokeMethod(
        self.data(), [self, s, levels = std::move(levels)] { if (self) self->OnRunTaken(s, levels); },
        Qt::QueuedConnection);
  };
  events.done = [self, current] {
    const int s = *current;
    QMetaObject::invokeMethod(self.data(), [self, s] { if (self) self->OnRunDone(s); }, Qt::QueuedConnection);
  };
  run_ = std::make_unique<MultisampleRun>(midiOut_, *waiter, std::move(events));

  // Layout: devices and monitors on the left, the range and MIDI settings on
  // the right, the piano and the run's controls below.
  auto* devices = new QGroupBox(QStringLiteral("Devices"), this);
  auto* dg = new QGridLayout(devices);
  auto* rescanIn = new QPushButton(QStringLiteral("Rescan"), this);
  auto* rescanOut = new QPushButton(QStringLiteral("Rescan"), this);
  dg->addWidget(new QLabel(QStringLiteral("Audio IN"), this), 0, 0);
  dg->addWidget(rescanIn, 0, 1);
  dg->addWidget(audioList_, 1, 0, 1, 2);
  dg->addWidget(new QLabel(QStringLiteral("Midi OUT"), this), 2, 0);
  dg->addWidget(rescanOut, 2, 1);
  dg->addWidget(midiList_, 3, 0, 1, 2);
  dg->addWidget(new QLabel(QStringLiteral("Input Monitor"), this), 4, 0, 1, 2);
  dg->addWidget(inputMonitor_, 5, 0, 1, 2);
  dg->addWidget(meter_, 6, 0, 1, 2);
  dg->addWidget(volume_, 7, 0);
  dg->addWidget(volumeLabel_, 7, 1);
  dg->addWidget(new QLabel(QStringLiteral("Sampled Waveform"), this), 8, 0, 1, 2);
  dg->addWidget(sampled_, 9, 0, 1, 2);
  audioList_->setMaximumHeight(80);
  midiList_->setMaximumHeight(80);

  auto* range = new QGroupBox(QStringLiteral("Sampling Region settings"), this);
  auto* rg = new QGridLayout(range);
  auto* pickFrom = new QPushButton(QStringLiteral(".."), this);
  auto* pickTo = new QPushButton(QStringLiteral(".."), this);
  pickFrom->setFixedWidth(28);
  pickTo->setFixedWidth(28);
  rg->addWidget(new QLabel(QStringLiteral("From"), this), 0, 0);
  rg->addWidget(from_, 0, 1);
  rg->addWidget(pickFrom, 0, 2);
  rg->addWidget(new QLabel(QStringLiteral("To"), this), 1, 0);
  rg->addWidget(to_, 1, 1);
  rg->addWidget(pickTo, 1, 2);
  rg->addWidget(new QLabel(QStringLiteral("Sample every"), this), 2, 0);
  rg->addWidget(interval_, 2, 1);
  rg->addWidget(new QLabel(QStringLiteral("semitone"), this), 2, 2);
  rg->addWidget(new QLabel(QStringLiteral("Number of Notes"), this), 3, 0);
  rg->addWidget(count_, 3, 1);
  rg->addWidget(new QLabel(QStringLiteral("Key Pressing Velocity"), this), 4, 0);
  rg->addWidget(velocity_, 4, 1);
  rg->addWidget(new QLabel(QStringLiteral("Hold Key for "), this), 5, 0);
  rg->addWidget(hold_, 5, 1);
  rg->addWidget(new QLabel(QStringLiteral("sec"), this), 5, 2);
  rg->addWidget(new QLabel(QStringLiteral("Wait after key release"), this), 6, 0);
  rg->addWidget(wait_, 6, 1);
  rg->addWidget(new QLabel(QStringLiteral("sec"), this), 6, 2);
  rg->addWidget(normalize_, 7, 0, 1, 3);
  rg->addWidget(autoTrim_, 8, 0, 1, 3);

  auto* midiBox = new QGroupBox(QStringLiteral("MIDI Out Settings"), this);
  auto* mg = new QGridLayout(midiBox);
  mg->addWidget(new QLabel(QStringLiteral("Send MIDI Channel"), this), 0, 0);
  mg->addWidget(channel_, 0, 1);
  mg->addWidget(midiTest_, 0, 2);
  mg->addWidget(monitorOut_, 1, 0, 1, 3);

  auto* right = new QVBoxLayout;
  right->addWidget(range);
  right->addWidget(midiBox);
  right->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addWidget(devices, 1);
  top->addLayout(right, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(status_, 1);
  buttons->addWidget(start_);
  buttons->addWidget(done_);
  buttons->addWidget(cancel_);
  auto* main = new QVBoxLayout(this);
  main->addLayout(top);
  main->addWidget(piano_);
  main->addWidget(progress_);
  main->addLayout(buttons);
  piano_->setMinimumHeight(90);
  start_->setDefault(true);
  resize(760, 640);

  inputMonitor_->setMinimumHeight(48);
  sampled_->setMinimumHeight(48);
  sampled_->outline = QColor(200, 200, 200);
  sampled_->fill = QColor(160, 160, 160);
  meter_->setMinimumHeight(16);
  meter_->Model().rangeMin = 0;
  meter_->Model().rangeMax = 100;
  meter_->SetLevel(0);
  progress_->setRange(0, 1);
  progress_->setValue(0);
  volume_->setRange(0, 150);
  volume_->setTickInterval(25);
  volume_->setTickPosition(QSlider::TicksBelow);
  volume_->setValue(100);

  connect(rescanIn, &QPushButton::clicked, this, &CMultisampleDLG::FillAudioInList);
  connect(rescanOut, &QPushButton::clicked, this, &CMultisampleDLG::FillMidiOutList);
  connect(pickFrom, &QPushButton::clicked, this, [this] { OnPickNote(false); });
  connect(pickTo, &QPushButton::clicked, this, [this] { OnPickNote(true); });
  connect(count_, &QLineEdit::textChanged, this, &CMultisampleDLG::OnNoteCountChange);
  connect(to_, &QLineEdit::textChanged, this, &CMultisampleDLG::OnEndNoteChange);
  connect(from_, &QLineEdit::textChanged, this, &CMultisampleDLG::OnStartNoteChange);
  connect(interval_, &QLineEdit::textChanged, this, &CMultisampleDLG::OnIntervalChange);
  connect(midiTest_, &QPushButton::clicked, this, &CMultisampleDLG::OnMidiTest);
  connect(start_, &QPushButton::clicked, this, &CMultisampleDLG::OnStartStop);
  connect(done_, &QPushButton::clicked, this, &CMultisampleDLG::OnDone);
  connect(cancel_, &QPushButton::clicked, this, &CMultisampleDLG::reject);
  connect(volume_, &QSlider::valueChanged, this, [this](int pos) {
    gain_ = pos / 100.0;
    monitorGain_->store(gain_);
    run_->SetInputGain(gain_);
    volumeLabel_->setText(QStringLiteral("Volume %1%").arg(pos));
  });
  run_->SetMonitor(monitorFifo_);
  monitorSource_ = std::make_shared<MonitorFifoSource>(monitorFifo_, kMultisampleRate);
  connect(monitorOut_, &QCheckBox::toggled, this, &CMultisampleDLG::SetMonitorOutput);
  testTimer_->setSingleShot(true);
  connect(testTimer_, &QTimer::timeout, this, &CMultisampleDLG::OnMidiTestEnd);
  connect(timer_, &QTimer::timeout, this, &CMultisampleDLG::OnTimer);

  FillAudioInList();
  FillMidiOutList();
  updating_ = true;  // the stored values go in as they are
  LoadSettings();
  updating_ = false;
  RestoreSelections();
  connect(audioList_, &QListWidget::currentRowChanged, this, &CMultisampleDLG::OnAudioInSelChange);
  connect(midiList_, &QListWidget::currentRowChanged, this, &CMultisampleDLG::OnMidiOutSelChange);

  PianoSelectorModel& piano = piano_->Model();
  piano.lowNote = 0;
  piano.highNote = 127;
  piano.rootNote = 60;
  piano.selectMode = 2;
  piano.pickedNote = 60;
  piano.accentColor = kRangeAccent;
  piano.readOnly = 1;
  const int half = piano_->GetVisibleWhiteKeys() / 2;
  const int first = std::min(half >= 36 ? 0 : 35 - half, 74);
  piano.firstVisibleNote = WhiteKeyNote(first);
  piano_->UpdateScrollBar();
  UpdatePianoRange();

  Values v = ReadNotes();
  if (v.from >= 0 && v.to >= 0 && v.interval > 0 && v.to >= v.from) {
    updating_ = true;
    count_->setText(QString::number((v.to - v.from) / v.interval + 1));
    updating_ = false;
  }
  timer_->start(50);
}

CMultisampleDLG::~CMultisampleDLG() { ShutDown(); }

std::string CMultisampleDLG::MidiIdentity(const std::string& portName) {
  static const QRegularExpression numbers(QStringLiteral("\\s+\\d+:\\d+$"));
  return S(Q(portName).remove(numbers));
}

// ------------------------------------------------------------- devices --

void CMultisampleDLG::FillAudioInList() {
  const QSignalBlocker block(audioList_);
  audioList_->clear();
  AudioInput* input = CurrentAudioInput();
  if (!input) return;
  for (const AudioInputDevice& device : input->Devices()) {
    if (device.name.empty()) continue;
    auto* item = new QListWidgetItem(Q(device.name), audioList_);
    item->setData(Qt::UserRole, Q(device.identity));
  }
  for (int i = audioList_->count() - 1; i >= 0; --i) {
    if (!audioName_.empty() && S(audioList_->item(i)->text()) == audioName_) {
      audioList_->setCurrentRow(i);
      break;
    }
  }
}

void CMultisampleDLG::FillMidiOutList() {
  const QSignalBlocker block(midiList_);
  midiList_->clear();
  MidiSystem* midi = CurrentMidiSystem();
  if (!midi) return;
  const std::vector<std::string> names = midi->OutputNames();
  for (size_t i = 0; i < names.size(); ++i) {
    auto* item = new QListWidgetItem(Q(names[i]), midiList_);
    item->setData(Qt::UserRole, static_cast<int>(i));
  }
  midiList_->setCurrentRow(-1);
}

void CMultisampleDLG::RestoreSelections() {
  SettingsStore& s = CurrentSettings();
  const QSignalBlocker blockMidi(midiList_);
  const QSignalBlocker blockAudio(audioList_);
  const std::string midiId = s.GetString(kMultisampleSection, "MidiOutUniqueId", "");
  int row = -1;
  if (!midiId.empty()) {
    for (int i = 0; i < midiList_->count() && row < 0; ++i)
      if (MidiIdentity(S(midiList_->item(i)->text())) == midiId) row = i;
    if (row < 0) row = FindPrefix(midiList_, Q(s.GetString(kMultisampleSection, "MidiOutDevice", "")));
  } else if (midiList_->count() > 0) {
    row = 0;
  }
  midiList_->setCurrentRow(row);
  // Without a match output 0 stays in use, though nothing shows selected.
  midiIndex_ = row >= 0 ? midiList_->item(row)->data(Qt::UserRole).toInt() : 0;

  const std::string audioId = s.GetString(kMultisampleSection, "AudioInUniqueId", "");
  row = -1;
  for (int i = 0; i < audioList_->count() && !audioId.empty() && row < 0; ++i)
    if (S(audioList_->item(i)->data(Qt::UserRole).toString()) == audioId) row = i;
  if (row < 0) row = FindPrefix(audioList_, Q(s.GetString(kMultisampleSection, "AudioInDevice", "")));
  if (row < 0 && audioList_->count() > 0) row = 0;
  audioList_->setCurrentRow(row);
  if (row >= 0) {
    audioName_ = S(audioList_->item(row)->text());
    audioIdentity_ = S(audioList_->item(row)->data(Qt::UserRole).toString());
  }
}

void CMultisampleDLG::OnAudioInSelChange() {
  QListWidgetItem* item = audioList_->currentItem();
  if (!item) return;
  CloseInputMonitor();  // the timer reopens it on the new input
  audioName_ = S(item->text());
  audioIdentity_ = S(item->data(Qt::UserRole).toString());
  CurrentSettings().SetString(kMultisampleSection, "AudioInDevice", audioName_);
  CurrentSettings().SetString(kMultisampleSection, "AudioInUniqueId", audioIdentity_);
}

void CMultisampleDLG::OnMidiOutSelChange() {
  QListWidgetItem* item = midiList_->currentItem();
  if (!item) return;
  midiIndex_ = item->data(Qt::UserRole).toInt();
  CurrentSettings().SetString(kMultisampleSection, "MidiOutDevice", S(item->text()));
  CurrentSettings().SetString(kMultisampleSection, "MidiOutUniqueId", MidiIdentity(S(item->text())));
}

// ------------------------------------------------------------ settings --

void CMultisampleDLG::LoadSettings() {
  SettingsStore& s = CurrentSettings();
  from_->setText(Q(s.GetString(kMultisampleSection, "StartNote", "A3")));
  to_->setText(Q(s.GetString(kMultisampleSection, "EndNote", "F#5")));
  int interval = s.GetInt(kMultisampleSection, "SampleInterval", 3);
  if (interval < 1) interval = 5;
  int velocity = s.GetInt(kMultisampleSection, "KeyVelocity", 100);
  if (velocity < 1 || velocity > 127) velocity = 100;
  interval_->setText(QString::number(interval));
  velocity_->setText(QString::number(velocity));
  normalize_->setChecked(s.GetInt(kMultisampleSection, "NormalizeLevel", 0) != 0);
  autoTrim_->setChecked(s.GetInt(kMultisampleSection, "AutoTrimEnd", 0) != 0);
  // Read like the fields they fill: builds that wrote them through the
  // user's locale left "3,50" behind.
  double hold = ReadTypedNumber(s.GetString(kMultisampleSection, "HoldTime", "2.0")).value_or(0.0);
  if (hold <= 0) hold = 2.0;
  double wait = ReadTypedNumber(s.GetString(kMultisampleSection, "WaitTime", "0.5")).value_or(-1.0);
  if (wait < 0) wait = 0.5;
  hold_->setText(QString::number(hold));
  wait_->setText(QString::number(wait));
  channel_->setText(QStringLiteral("1"));
}

void CMultisampleDLG::SaveSettings(const Values* read) {
  SettingsStore& s = CurrentSettings();
  s.SetString(kMultisampleSection, "StartNote", S(from_->text()));
  s.SetString(kMultisampleSection, "EndNote", S(to_->text()));
  if (!read) return;  // a field was not a number: the numbers stay as stored
  const Values& v = *read;
  s.SetInt(kMultisampleSection, "SampleInterval", v.interval);
  s.SetInt(kMultisampleSection, "KeyVelocity", v.velocity);
  s.SetInt(kMultisampleSection, "NormalizeLevel", normalize_->isChecked() ? 1 : 0);
  s.SetInt(kMultisampleSection, "AutoTrimEnd", autoTrim_->isChecked() ? 1 : 0);
  s.SetString(kMultisampleSection, "HoldTime", Format("%.2f", v.hold));
  s.SetString(kMultisampleSection, "WaitTime", Format("%.2f", v.wait));
}

bool CMultisampleDLG::ReadValues(Values& v) {
  struct IntField {
    QLineEdit* edit;
    int* value;
  };
  for (const IntField& f : {IntField{interval_, &v.interval}, IntField{count_, &v.count},
                            IntField{velocity_, &v.velocity}, IntField{channel_, &v.channel}}) {
    bool ok = false;
    *f.value = f.edit->text().trimmed().toInt(&ok);
    if (!ok) {
      ShowMessage("Enter an integer.");
      f.edit->setFocus();
      return false;
    }
  }
  // Seconds as typed: "3.5" or "3,5".
  for (auto [edit, value] : {std::pair{hold_, &v.hold}, std::pair{wait_, &v.wait}}) {
    const std::optional<double> typed = ReadTypedNumber(S(edit->text()));
    *value = typed.value_or(0.0);
    if (!typed) {
      ShowMessage("Enter a number.");
      edit->setFocus();
      return false;
    }
  }
  v.from = ParseNoteOrNumber(S(from_->text()));
  v.to = ParseNoteOrNumber(S(to_->text()));
  return true;
}

CMultisampleDLG::Values CMultisampleDLG::ReadNotes() const {
  Values v;
  v.from = ParseNoteOrNumber(S(from_->text()));
  v.to = ParseNoteOrNumber(S(to_->text()));
  v.interval = interval_->text().trimmed().toInt();
  v.count = count_->text().trimmed().toInt();
  return v;
}

// -------------------------------------------------------- linked edits --

void CMultisampleDLG::WriteEndNote(const Values& v, int count) {
  updating_ = true;
  to_->setText(Q(FormatNoteName(MultisampleEndNote(v.from, v.interval, count))));
  updating_ = false;
}

void CMultisampleDLG::OnNoteCountChange() {
  if (updating_) return;
  bool ok = false;
  const int count = count_->text().trimmed().toInt(&ok);
  if (!ok || count <= 0) return;
  const Values v = ReadNotes();
  if (v.from >= 0 && v.interval > 0) WriteEndNote(v, count);
  UpdatePianoRange();
}

void CMultisampleDLG::OnIntervalChange() {
  if (updating_) return;
  bool ok = false;
  const int interval = interval_->text().trimmed().toInt(&ok);
  if (!ok || interval <= 0) return;
  const Values v = ReadNotes();
  if (v.from >= 0 && v.count > 0) WriteEndNote(v, v.count);
  UpdatePianoRange();
}

void CMultisampleDLG::OnStartNoteChange() {
  if (updating_) return;
  const Values v = ReadNotes();
  if (v.from >= 0 && v.count >= 1 && v.interval > 0) WriteEndNote(v, v.count);
  UpdatePianoRange();
}

void CMultisampleDLG::OnEndNoteChange() {
  if (updating_) return;
  const Values v = ReadNotes();
  if (v.from >= 0 && v.to >= 0 && v.interval >= 1 && v.to >= v.from) {
    updating_ = true;
    count_->setText(QString::number((v.to - v.from) / v.interval + 1));
    updating_ = false;
  }
  UpdatePianoRange();
}

void CMultisampleDLG::OnPickNote(bool end) {
  const Values v = ReadNotes();
  CNoteSelectDlg picker(this);
  picker.lowNote = v.from >= 0 ? v.from : 57;
  picker.highNote = v.to >= 0 ? v.to : 69;
  picker.accentColor = kRangeAccent;
  picker.rootNote = end ? picker.highNote : picker.lowNote;
  picker.selectMode = end ? 1 : 0;
  if (picker.exec() != QDialog::Accepted || picker.resultNote < 0 || picker.resultNote > 127) return;
  (end ? to_ : from_)->setText(Q(FormatNoteName(picker.resultNote)));
  UpdatePianoRange();
}

void CMultisampleDLG::UpdatePianoRange() {
  const Values v = ReadNotes();
  PianoSelectorModel& piano = piano_->Model();
  piano.lowNote = v.from >= 0 ? v.from : 0;
  piano.highNote = v.to >= 0 ? v.to : 127;
  piano.selectMode = 2;
  const int current = sampling_ && run_->CurrentNote() >= 0 ? run_->CurrentNote() : piano.lowNote;
  piano.rootNote = piano.pickedNote = MultisamplePianoRoot(piano.lowNote, piano.highNote, current);
  if (v.from >= 0 && v.to >= 0 && v.interval >= 1) {
    piano.ClearKeyMarks();
    for (int note : MultisampleNotes(v.from, v.to, v.interval)) piano.keyMarks[static_cast<size_t>(note)] = 1;
  }
  piano_->update();
}

// ------------------------------------------------------------ monitors --

bool CMultisampleDLG::OpenInputMonitor() {
  if (monitor_ || sampling_) return false;
  AudioInput* input = CurrentAudioInput();
  if (!input || audioIdentity_.empty()) return false;
  auto level = monitorLevel_;
  auto gain = monitorGain_;
  auto monitoring = monitoring_;
  auto fifo = monitorFifo_;
  monitor_ = input->Open(audioIdentity_, kMultisampleRate, 1, 2048,
                         [level, gain, monitoring, fifo, scratch = std::vector<int16_t>(2048)](const int16_t* frames,
                                                                                            size_t count) mutable {
                           const size_t n = std::min(count, scratch.size());
                           if (n == 0) return;
                           ApplyInputGain(frames, n, gain->load(std::memory_order_relaxed), scratch.data());
                           level->store(MeasureLevel(scratch.data(), n) + 1, std::memory_order_relaxed);
                           if (!monitoring->load(std::memory_order_relaxed)) return;
                           if (int16_t* block = fifo->BeginPush()) {  // full: this block is dropped
                             std::copy(scratch.data(), scratch.data() + n, block);
                             fifo->CommitPush(n);
                           }
                         });
  return monitor_ != nullptr;
}

void CMultisampleDLG::SetMonitorOutput(bool on) {
  if (on && !monitorJoined_) {
    if (!CurrentAudioOutput().Join(monitorSource_)) {
      SetStatus(QStringLiteral("Warning: Failed to open audio output device for monitoring."));
      monitorOut_->setChecked(false);
      return;
    }
    monitorJoined_ = true;
  }
  monitoring_->store(on && monitorJoined_, std::memory_order_relaxed);
  run_->SetMonitoring(on && monitorJoined_);
  if (!on && monitorJoined_) {
    CurrentAudioOutput().Leave(monitorSource_.get());
    monitorJoined_ = false;
  }
}

void CMultisampleDLG::CloseInputMonitor() {
  if (monitor_) monitor_->Close();
  monitor_.reset();
  monitorLevel_->store(0);
}

void CMultisampleDLG::OnTimer() {
  int level = 0;
  if (sampling_) {
    CloseInputMonitor();
    level = run_->RecordingLevel();
    inputMonitor_->recording = true;
  } else {
    if (!monitor_) OpenInputMonitor();
    inputMonitor_->recording = false;
    const int latest = monitorLevel_->exchange(0);
    level = latest > 0 ? latest - 1 : 0;
  }
  meter_->SetLevel(level);
  // The history scrolls: the oldest level drops out, the newest comes last.
  std::vector<int>& history = inputMonitor_->levels;
  if (!history.empty()) {
    std::rotate(history.begin(), history.begin() + 1, history.end());
    history.back() = std::clamp(level, 0, 100);
  }
  inputMonitor_->update();
}

void CMultisampleDLG::SetStatus(const QString& text) { status_->setText(text); }

// ----------------------------------------------------------- MIDI test --

void CMultisampleDLG::OnMidiTest() {
  if (testNote_ >= 0 || sampling_) return;
  Values v;
  if (!ReadValues(v)) return;
  const std::string problem = MidiTestProblem(v.from, v.velocity, v.hold);
  if (!problem.empty()) {
    ShowMessage(problem);
    return;
  }
  testOpenedOutput_ = !midiOut_.IsOpen();
  int code = 0;
  if (!midiOut_.Open(CurrentMidiSystem(), static_cast<size_t>(midiIndex_), &code)) {
    const QListWidgetItem* item = midiList_->currentItem();
    ShowMessage("Failed to open MIDI output device.\n\nError: " + MidiErrorText(code, item ? S(item->text()) : ""));
    return;
  }
  testChannel_ = std::clamp(v.channel - 1, 0, 15);
  if (!midiOut_.Send(static_cast<uint8_t>(0x90 | testChannel_), static_cast<uint8_t>(v.from),
                     static_cast<uint8_t>(v.velocity))) {
    MidiTestFailed();
    return;
  }
  testNote_ = v.from;
  SetStatus(QString::fromStdString(Format("Testing: Playing %s (MIDI %d) at velocity %d for %.2f seconds...",
                                           FormatNoteName(testNote_).c_str(), testNote_, v.velocity, v.hold)));
  midiTest_->setEnabled(false);
  testTimer_->start(static_cast<int>(v.hold * 1000));
}

bool CMultisampleDLG::EndMidiTest() {
  testTimer_->stop();
  bool sent = true;
  if (testNote_ >= 0)
    sent = midiOut_.Send(static_cast<uint8_t>(0x80 | testChannel_), static_cast<uint8_t>(testNote_), 0);
  if (testOpenedOutput_) midiOut_.Close();
  testOpenedOutput_ = false;
  testNote_ = -1;
  return sent;
}

// The output refused a message: its port is gone (a cable pulled, the
// instrument switched off, its server stopped).
void CMultisampleDLG::MidiTestFailed() {
  EndMidiTest();
  SetStatus(QStringLiteral("MIDI test failed."));
  midiTest_->setEnabled(true);
  ShowMessage("MIDI test failed: the MIDI output did not take the note. The MIDI device may be gone.",
              MessageIcon::Error);
}

void CMultisampleDLG::OnMidiTestEnd() {
  if (!EndMidiTest()) {
    MidiTestFailed();
    return;
  }
  SetStatus(QStringLiteral("MIDI test complete."));
  midiTest_->setEnabled(true);
}

// ----------------------------------------------------------------- run --

void CMultisampleDLG::OnStartStop() {
  if (sampling_) {
    start_->setText(QStringLiteral("Start Sampling"));
    inputMonitor_->recording = false;
    StopSampling();
  } else {
    start_->setText(QStringLiteral("Stop"));
    inputMonitor_->recording = true;
    StartSampling();
  }
}

void CMultisampleDLG::StartSampling() {
  // A sounding test would share the output with the run: it ends first.
  if (testNote_ >= 0) OnMidiTestEnd();
  CloseInputMonitor();
  Values v;
  const bool numbers = ReadValues(v);
  SaveSettings(numbers ? &v : nullptr);
  if (!numbers) {
    start_->setText(QStringLiteral("Start Sampling"));
    return;
  }
  MultisampleSetup setup;
  setup.startNote = v.from;
  setup.endNote = v.to;
  setup.interval = v.interval;
  setup.velocity = v.velocity;
  setup.channel = v.channel;
  setup.holdSeconds = v.hold;
  setup.waitSeconds = v.wait;
  setup.normalize = normalize_->isChecked();
  setup.autoTrim = autoTrim_->isChecked();
  setup.midiSystem = CurrentMidiSystem();
  setup.midiOutput = static_cast<size_t>(midiIndex_);
  if (const QListWidgetItem* item = midiList_->currentItem()) setup.midiProductName = S(item->text());
  setup.audioInput = CurrentAudioInput();
  setup.audioIdentity = audioIdentity_;
  run_->SetInputGain(gain_);
  ++serial_;
  sampled_->Clear();
  const bool valid = MultisampleStartProblem(v.from, v.to, v.interval, v.velocity, v.hold, v.wait).empty();
  progress_->setRange(0, valid ? (v.to - v.from) / v.interval + 1 : 1);
  progress_->setValue(0);
  sampling_ = true;
  midiTest_->setEnabled(false);
  const std::string problem = run_->Start(setup);
  if (!problem.empty()) {
    sampling_ = false;
    midiTest_->setEnabled(true);
    start_->setText(QStringLiteral("Start Sampling"));
    ShowMessage(problem);
  }
}

void CMultisampleDLG::StopSampling() {
  if (!sampling_) return;
  SetStatus(QStringLiteral("Stopping..."));
  run_->Stop(grace_);
  sampling_ = false;
  ++serial_;  // what the worker still queued no longer speaks for the dialog
  midiTest_->setEnabled(true);
  SetStatus(QStringLiteral("Stopped."));
  progress_->setValue(static_cast<int>(run_->Regions().size()));
  sampled_->levels = OverviewLevels(run_->Audio().data(), run_->Audio().size());
  sampled_->update();
}

void CMultisampleDLG::OnRunStatus(int serial, const QString& text, int position) {
  if (serial != serial_) return;
  SetStatus(text);
  progress_->setValue(position);
}

void CMultisampleDLG::OnRunNote(int serial, int) {
  if (serial == serial_) UpdatePianoRange();
}

void CMultisampleDLG::OnRunTaken(int serial, const std::vector<int>& levels) {
  if (serial != serial_) return;
  sampled_->levels = levels;
  sampled_->update();
}

void CMultisampleDLG::OnRunDone(int serial) {
  if (serial != serial_ || !sampling_) return;
  run_->Join();
  sampling_ = false;
  midiTest_->setEnabled(true);
  start_->setText(QStringLiteral("Start Sampling"));
  inputMonitor_->recording = false;
  UpdatePianoRange();
}

// -------------------------------------------------------------- leaving --

void CMultisampleDLG::OnDone() {
  if (sampling_) {
    start_->setText(QStringLiteral("Start Sampling"));
    inputMonitor_->recording = false;
    StopSampling();
  }
  Values v;
  if (!ReadValues(v)) return;
  ShutDown();
  accept();
}

void CMultisampleDLG::reject() {
  if (sampling_) StopSampling();
  ShutDown();
  QDialog::reject();
}

void CMultisampleDLG::closeEvent(QCloseEvent* event) {
  if (sampling_) {
    ShowMessage(
        "Cannot close dialog while recording is in progress.\n\nPlease stop the recording first using the 'Stop' "
        "button.",
        MessageIcon::Warning);
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void CMultisampleDLG::ShutDown() {
  if (shutDown_) return;
  shutDown_ = true;
  timer_->stop();
  CloseInputMonitor();
  // A test still sounding must not be left on at the instrument.
  if (testNote_ >= 0) EndMidiTest();
  if (sampling_) StopSampling();
  run_->Stop(std::chrono::milliseconds(0));
  midiOut_.Close();
  SetMonitorOutput(false);
}

}  // namespace zandrel
