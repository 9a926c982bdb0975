// The multisample robot's dialog, offscreen, against a simulated instrument
// (memory MIDI and a memory audio input): the first-run values and the
// linked edits, the MIDI test and its note-off on every way out, a run with
// its status, piano and overview, and the command that takes the result into
// the document as one undoable change.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "tools/ui/tool_commands.h"
#include "device/dialog_driver.h"
#include "platform/audio_output.h"
#include "platform/settings.h"
#include "support/comma_locale.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "tools/multisample_fixture.h"
#include "tools/sampling/multisample_notes.h"
#include "tools/ui/multisample_dlg.h"
#include "widgets/level_displays.h"
#include "widgets/piano_selector_wnd.h"

namespace zandrel::test {
namespace {

class ScopedMidiSystem {
 public:
  explicit ScopedMidiSystem(MidiSystem* system) : previous_(SetMidiSystem(system)) {}
  ~ScopedMidiSystem() { SetMidiSystem(previous_); }

 private:
  MidiSystem* previous_;
};

// Feeds the instrument's sound into the input in real time (10 ms blocks)
// for runs that wait on the clock.
class Feeder {
 public:
  explicit Feeder(SimulatedInstrument& instrument)
      : thread_([this, &instrument] {
          while (!stop_) {
            instrument.Play(441);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          }
        }) {}
  ~Feeder() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class MultisampleDialogTest : public ::testing::Test {
 protected:
  MultisampleDialogTest() : settingsScope_(&settings), midiScope_(&instrument.midi), audioScope_(&instrument.audio) {}

  std::vector<int> Marked(const CMultisampleDLG& dialog) {
    std::vector<int> notes;
    const auto& marks = const_cast<CMultisampleDLG&>(dialog).Piano()->Model().keyMarks;
    for (int n = 0; n < 128; ++n)
      if (marks[static_cast<size_t>(n)]) notes.push_back(n);
    return notes;
  }

  MemorySettings settings;
  ScriptedMessageHost host;
  SimulatedInstrument instrument;

 private:
  ScopedSettingsStore settingsScope_;
  ScopedMidiSystem midiScope_;
  ScopedAudioInput audioScope_;
};

TEST_F(MultisampleDialogTest, FirstRunValuesDevicesAndIdleMonitor) {
  CMultisampleDLG dialog;
  dialog.show();
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Multisample Tool"));
  EXPECT_EQ(dialog.FromEdit()->text(), QStringLiteral("A3"));
  EXPECT_EQ(dialog.ToEdit()->text(), QStringLiteral("F#5"));
  EXPECT_EQ(dialog.IntervalEdit()->text(), QStringLiteral("3"));
  EXPECT_EQ(dialog.CountEdit()->text(), QStringLiteral("8"));
  EXPECT_EQ(dialog.VelocityEdit()->text(), QStringLiteral("100"));
  EXPECT_EQ(dialog.HoldEdit()->text(), QStringLiteral("2"));
  EXPECT_EQ(dialog.WaitEdit()->text(), QStringLiteral("0.5"));
  EXPECT_EQ(dialog.ChannelEdit()->text(), QStringLiteral("1"));
  EXPECT_FALSE(dialog.NormalizeCheck()->isChecked());
  EXPECT_FALSE(dialog.AutoTrimCheck()->isChecked());
  EXPECT_EQ(dialog.Status()->text(), QStringLiteral("Ready or not!"));
  EXPECT_EQ(dialog.VolumeLabel()->text(), QStringLiteral("Volume 100%"));
  // Nothing stored: the first input and the first output are chosen.
  EXPECT_EQ(dialog.AudioList()->currentItem()->text(), QStringLiteral("Line In"));
  EXPECT_EQ(dialog.MidiList()->currentItem()->text(), QStringLiteral("Synth"));
  // The piano shows the range with a dot on every key a run will sample.
  EXPECT_EQ(dialog.Piano()->Model().lowNote, 57);
  EXPECT_EQ(dialog.Piano()->Model().highNote, 78);
  EXPECT_EQ(dialog.Piano()->Model().rootNote, 57);
  EXPECT_EQ(Marked(dialog), (std::vector<int>{57, 60, 63, 66, 69, 72, 75, 78}));

  // The idle monitor opens on the next tick and its meter follows the input.
  dialog.OnTimer();
  ASSERT_TRUE(dialog.IdleMonitorOpen());
  std::vector<int16_t> loud(2048, 8192);
  instrument.audio.Push(loud);
  dialog.VolumeSlider()->setValue(150);
  EXPECT_EQ(dialog.VolumeLabel()->text(), QStringLiteral("Volume 150%"));
  instrument.audio.Push(loud);  // 12288 after the gain: level trunc(sqrt(0.375) * 100)
  dialog.OnTimer();
  EXPECT_EQ(dialog.Meter()->Model().Level(), 61);
  EXPECT_EQ(dialog.InputMonitor()->levels.back(), 61);
  dialog.OnTimer();  // no block since the last tick
  EXPECT_EQ(dialog.Meter()->Model().Level(), 0);
  for (int i = 0; i < 60; ++i) {
    instrument.audio.Push(std::vector<int16_t>(2048, static_cast<int16_t>(200 * i)));
    dialog.OnTimer();
  }
  SaveScreenshot(dialog, "multisample_idle");
  dialog.reject();
  EXPECT_FALSE(dialog.IdleMonitorOpen());
  EXPECT_EQ(instrument.audio.OpenStreams(), 0);
}

// The input meter is the segmented meter: green, yellow and red zones across
// its width, unlit segments above the level and the held peak in white; the
// input monitor beside it is the mirrored level envelope.
TEST_F(MultisampleDialogTest, TheInputMeterShowsZonesSegmentsAndTheHeldPeak) {
  CMultisampleDLG dialog;
  dialog.show();
  dialog.OnTimer();
  ASSERT_TRUE(dialog.IdleMonitorOpen());
  CAudioMeter* meter = dialog.Meter();
  ASSERT_GE(meter->width(), 120);
  ASSERT_GE(meter->height(), 8);
  const int n = meter->Model().segmentCount;
  const int ws = (meter->width() - (n - 1)) / n;
  // The pixel in the middle of segment i, and one in the gap after it.
  auto segment = [&](const QImage& image, int i) { return image.pixelColor(i * (ws + 1) + ws / 2, image.height() / 2); };
  auto gap = [&](const QImage& image, int i) { return image.pixelColor(i * (ws + 1) + ws, image.height() / 2); };

  // A loud input lights every zone. The images are taken without running the
  // event loop, so the peak's hold cannot run out in between.
  instrument.audio.Push(std::vector<int16_t>(2048, 32000));
  dialog.OnTimer();
  const int loud = meter->Model().Level();
  ASSERT_GE(loud, 95);
  const QImage full = meter->grab().toImage();
  EXPECT_EQ(segment(full, 5), QColor(0, 255, 0));    // 12 % of the range
  EXPECT_EQ(segment(full, 30), QColor(255, 255, 0));  // 75 %
  EXPECT_EQ(segment(full, 37), QColor(255, 0, 0));    // 92 %
  EXPECT_EQ(gap(full, 5), QColor(20, 20, 20));        // segments are separate

  // A quieter input: the segments above it go dark, the peak stays lit.
  instrument.audio.Push(std::vector<int16_t>(2048, 3000));
  dialog.OnTimer();
  const int quiet = meter->Model().Level();
  ASSERT_GT(quiet, 10);
  ASSERT_LT(quiet, 60);
  EXPECT_EQ(meter->Model().Peak(), loud);
  const QImage held = meter->grab().toImage();
  EXPECT_EQ(segment(held, 1), QColor(0, 255, 0));
  EXPECT_EQ(segment(held, n * quiet / 100 + 1), QColor(40, 40, 40));
  EXPECT_EQ(segment(held, std::min(n * loud / 100, n - 1)), QColor(255, 255, 255));
  EXPECT_EQ(segment(held, 30), QColor(40, 40, 40));

  // The input monitor: the newest level at the right edge, mirrored about
  // the centre line, on the dark background.
  CAudioLevelDisplay* monitor = dialog.InputMonitor();
  EXPECT_EQ(monitor->levels.back(), quiet);
  EXPECT_EQ(monitor->levels[monitor->levels.size() - 2], loud);
  const QImage envelope = monitor->grab().toImage();
  EXPECT_EQ(envelope.pixelColor(2, 2), QColor(20, 20, 20));
  const int mid = envelope.height() / 2;
  const int x = envelope.width() - 3;
  EXPECT_EQ(envelope.pixelColor(x, mid - 3), QColor(0, 160, 0));
  EXPECT_EQ(envelope.pixelColor(x, mid + 3), QColor(0, 160, 0));
  EXPECT_EQ(envelope.pixelColor(x, 1), QColor(20, 20, 20));  // above the envelope
  SaveScreenshot(dialog, "multisample_meter");
  dialog.reject();
}

// "Monitor to Output" plays the input (after the volume) on the current
// output while it is on, and nothing once it is off; an output that will not
// open leaves the box off with the warning.
TEST_F(MultisampleDialogTest, MonitorToOutputPlaysTheInputOnlyWhileOn) {
  MemoryAudioOutput output;
  ScopedAudioOutput outputScope(&output);
  CMultisampleDLG dialog;
  dialog.show();
  dialog.OnTimer();  // opens the idle monitor
  ASSERT_TRUE(dialog.IdleMonitorOpen());
  const auto peak = [&](size_t from) {
    const std::vector<float> played = output.Played();
    float p = 0.0f;
    for (size_t i = from; i < played.size(); ++i) p = std::max(p, std::abs(played[i]));
    return p;
  };
  const std::vector<int16_t> loud(2048, 8192);  // a quarter of full scale

  dialog.MonitorOutCheck()->setChecked(true);
  ASSERT_TRUE(dialog.MonitorOutCheck()->isChecked());
  instrument.audio.Push(loud);
  ASSERT_TRUE(output.Pull(2048));
  EXPECT_NEAR(peak(0), 0.25f, 0.01f);

  dialog.MonitorOutCheck()->setChecked(false);
  instrument.audio.Push(loud);
  const size_t before = output.Played().size();
  output.Pull(2048);  // the device may have closed with its last source gone
  EXPECT_EQ(peak(before), 0.0f);
  EXPECT_NE(dialog.Status()->text(), QStringLiteral("Warning: Failed to open audio output device for monitoring."));

  output.openError = "busy";
  dialog.MonitorOutCheck()->setChecked(true);
  EXPECT_FALSE(dialog.MonitorOutCheck()->isChecked());
  EXPECT_EQ(dialog.Status()->text(), QStringLiteral("Warning: Failed to open audio output device for monitoring."));
  dialog.reject();
}

TEST_F(MultisampleDialogTest, StoredDevicesAndSettings) {
  instrument.midi.AddOutput("EP-133 K.O. II MIDI 1 24:0");
  instrument.audio.AddDevice("USB Mic", 1);
  settings.SetString("Multisample", "MidiOutUniqueId", "EP-133 K.O. II MIDI 1");
  settings.SetString("Multisample", "AudioInUniqueId", "Memory: USB Mic");
  settings.SetString("Multisample", "StartNote", "C2");
  settings.SetString("Multisample", "EndNote", "C4");
  settings.SetInt("Multisample", "SampleInterval", 0);  // corrected to 5
  settings.SetInt("Multisample", "KeyVelocity", 300);   // corrected to 100
  settings.SetString("Multisample", "HoldTime", "-1");  // corrected to 2
  settings.SetString("Multisample", "WaitTime", "1.25");
  settings.SetInt("Multisample", "AutoTrimEnd", 1);
  CMultisampleDLG dialog;
  EXPECT_EQ(dialog.MidiList()->currentItem()->text(), QStringLiteral("EP-133 K.O. II MIDI 1 24:0"));
  EXPECT_EQ(dialog.AudioList()->currentItem()->text(), QStringLiteral("USB Mic"));
  EXPECT_EQ(dialog.IntervalEdit()->text(), QStringLiteral("5"));
  EXPECT_EQ(dialog.CountEdit()->text(), QStringLiteral("5"));  // 36..60 every 5
  EXPECT_EQ(dialog.VelocityEdit()->text(), QStringLiteral("100"));
  EXPECT_EQ(dialog.HoldEdit()->text(), QStringLiteral("2"));
  EXPECT_EQ(dialog.WaitEdit()->text(), QStringLiteral("1.25"));
  EXPECT_TRUE(dialog.AutoTrimCheck()->isChecked());
  // A stored output that is gone and matches no name: nothing is selected.
  settings.SetString("Multisample", "MidiOutUniqueId", "Gone");
  settings.SetString("Multisample", "MidiOutDevice", "Gone too");
  CMultisampleDLG second;
  EXPECT_EQ(second.MidiList()->currentItem(), nullptr);
  EXPECT_EQ(CMultisampleDLG::MidiIdentity("EP-133 K.O. II MIDI 1 24:0"), "EP-133 K.O. II MIDI 1");
}

TEST_F(MultisampleDialogTest, LinkedEdits) {
  CMultisampleDLG dialog;
  dialog.CountEdit()->setText(QStringLiteral("1"));
  EXPECT_EQ(dialog.ToEdit()->text(), QStringLiteral("A3"));
  dialog.CountEdit()->setText(QStringLiteral("8"));
  EXPECT_EQ(dialog.ToEdit()->text(), QStringLiteral("F#5"));
  dialog.ToEdit()->setText(QStringLiteral("C6"));
  EXPECT_EQ(dialog.CountEdit()->text(), QStringLiteral("10"));
  EXPECT_EQ(Marked(dialog).back(), 84);
  dialog.IntervalEdit()->setText(QStringLiteral("12"));
  EXPECT_EQ(dialog.ToEdit()->text(), QStringLiteral("G9"));  // 57 + 12 * 9 is past the keyboard
  EXPECT_EQ(dialog.CountEdit()->text(), QStringLiteral("10"));
  dialog.FromEdit()->setText(QStringLiteral("120"));
  dialog.CountEdit()->setText(QStringLiteral("3"));
  EXPECT_EQ(dialog.ToEdit()->text(), QStringLiteral("G9"));
  EXPECT_EQ(Marked(dialog), (std::vector<int>{120}));
  // A note that does not parse leaves the others alone; the piano spans all.
  dialog.FromEdit()->setText(QStringLiteral("H4"));
  EXPECT_EQ(dialog.ToEdit()->text(), QStringLiteral("G9"));
  EXPECT_EQ(dialog.Piano()->Model().lowNote, 0);
}

TEST_F(MultisampleDialogTest, MidiTestPlaysTheFromNoteOnceAndEndsOnEveryWayOut) {
  {
    CMultisampleDLG dialog;
    dialog.HoldEdit()->setText(QStringLiteral("61"));
    dialog.OnMidiTest();
    EXPECT_EQ(host.Texts().back(), "Hold time must be at most 60 seconds.");
    dialog.HoldEdit()->setText(QStringLiteral("x"));
    dialog.OnMidiTest();
    EXPECT_EQ(host.Texts().back(), "Enter a number.");
    dialog.HoldEdit()->setText(QStringLiteral("0.05"));
    dialog.ChannelEdit()->setText(QStringLiteral("3"));
    dialog.OnMidiTest();
    EXPECT_TRUE(dialog.MidiTestSounding());
    EXPECT_FALSE(dialog.MidiTestButton()->isEnabled());
    EXPECT_EQ(dialog.Status()->text(), QStringLiteral("Testing: Playing A3 (MIDI 57) at velocity 100 for 0.05 seconds..."));
    ASSERT_TRUE(WaitUntil([&] { return !dialog.MidiTestSounding(); }));
    EXPECT_EQ(dialog.Status()->text(), QStringLiteral("MIDI test complete."));
    EXPECT_TRUE(dialog.MidiTestButton()->isEnabled());
    EXPECT_EQ(instrument.Messages(), (std::vector<std::vector<uint8_t>>{{0x92, 57, 100}, {0x82, 57, 0}}));

    // Closing while a long test sounds sends its note-off.
    dialog.HoldEdit()->setText(QStringLiteral("30"));
    dialog.OnMidiTest();
    ASSERT_TRUE(dialog.MidiTestSounding());
    dialog.reject();
  }
  const auto messages = instrument.Messages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[3], (std::vector<uint8_t>{0x82, 57, 0}));
  {
    CMultisampleDLG dialog;  // destroyed without closing during a test
    dialog.HoldEdit()->setText(QStringLiteral("30"));
    dialog.OnMidiTest();
  }
  EXPECT_EQ(instrument.Messages().size(), 6u);
  EXPECT_EQ(instrument.Messages().back(), (std::vector<uint8_t>{0x80, 57, 0}));
}

// A German user types seconds with a comma, under a comma locale: the MIDI
// test takes them and says them with a point, Start stores them with a
// point, and the dialog opens with them again. Values that builds writing
// through the locale stored with a comma are read too.
TEST_F(MultisampleDialogTest, SecondsTypedWithACommaAreTakenAndStoredWithAPoint) {
  ScopedCommaLocale comma;
  {
    CMultisampleDLG dialog;
    dialog.HoldEdit()->setText(QStringLiteral("0,05"));
    dialog.OnMidiTest();
    EXPECT_TRUE(host.Texts().empty());
    EXPECT_EQ(dialog.Status()->text(), QStringLiteral("Testing: Playing A3 (MIDI 57) at velocity 100 for 0.05 seconds..."));
    ASSERT_TRUE(WaitUntil([&] { return !dialog.MidiTestSounding(); }));
    dialog.HoldEdit()->setText(QStringLiteral("3,5"));
    dialog.WaitEdit()->setText(QStringLiteral(" 0,75 "));
    dialog.FromEdit()->setText(QStringLiteral("C9"));  // refused, after the settings were stored
    dialog.ToEdit()->setText(QStringLiteral("C2"));
    dialog.OnStartStop();
    EXPECT_EQ(host.Texts().back(), "Start note must be less than or equal to end note.");
  }
  EXPECT_EQ(settings.GetString("Multisample", "HoldTime", ""), "3.50");
  EXPECT_EQ(settings.GetString("Multisample", "WaitTime", ""), "0.75");
  {
    CMultisampleDLG reopened;
    EXPECT_EQ(reopened.HoldEdit()->text(), QStringLiteral("3.5"));
    EXPECT_EQ(reopened.WaitEdit()->text(), QStringLiteral("0.75"));
  }
  settings.SetString("Multisample", "HoldTime", "1,25");
  settings.SetString("Multisample", "WaitTime", "0,10");
  CMultisampleDLG older;
  EXPECT_EQ(older.HoldEdit()->text(), QStringLiteral("1.25"));
  EXPECT_EQ(older.WaitEdit()->text(), QStringLiteral("0.1"));
}

TEST_F(MultisampleDialogTest, AMidiTestOnAGoneOutputStopsWithAMessage) {
  CMultisampleDLG dialog;
  dialog.HoldEdit()->setText(QStringLiteral("0.05"));
  dialog.OnMidiTest();
  ASSERT_TRUE(dialog.MidiTestSounding());
  // The cable is pulled while the note sounds: its note-off cannot go.
  instrument.UnplugMidi();
  ASSERT_TRUE(WaitUntil([&] { return !dialog.MidiTestSounding(); }));
  EXPECT_TRUE(dialog.MidiTestButton()->isEnabled());
  EXPECT_EQ(dialog.Status()->text(), QStringLiteral("MIDI test failed."));
  ASSERT_FALSE(host.Texts().empty());
  EXPECT_EQ(host.Texts().back(), "MIDI test failed: the MIDI output did not take the note. The MIDI device may be gone.");
  EXPECT_EQ(instrument.Messages(), (std::vector<std::vector<uint8_t>>{{0x90, 57, 100}}));
}

TEST_F(MultisampleDialogTest, RunShowsProgressAndStartEndsASoundingTest) {
  PlayingWaiter waiter(instrument);
  std::mutex lock;
  std::condition_variable wake;
  bool paused = false, released = false;
  waiter.onWait = [&](int number) {
    if (number != 4) return;  // the hold of the third note waits for the screenshot
    std::unique_lock<std::mutex> hold(lock);
    paused = true;
    wake.notify_all();
    wake.wait(hold, [&] { return released; });
  };
  CMultisampleDLG dialog(nullptr, &waiter);
  dialog.show();
  dialog.HoldEdit()->setText(QStringLiteral("0.2"));
  dialog.WaitEdit()->setText(QStringLiteral("0.05"));
  dialog.HoldEdit()->setText(QStringLiteral("30"));
  dialog.OnMidiTest();
  ASSERT_TRUE(dialog.MidiTestSounding());
  dialog.HoldEdit()->setText(QStringLiteral("0.2"));
  dialog.OnStartStop();
  EXPECT_FALSE(dialog.MidiTestSounding());
  EXPECT_EQ(dialog.StartButton()->text(), QStringLiteral("Stop"));
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> hold(lock);
    return paused;
  }));
  ASSERT_TRUE(WaitUntil([&] { return dialog.Status()->text() == QStringLiteral("Recording note D#4 (3 of 8)..."); }));
  dialog.OnMidiTest();  // refused during a run
  EXPECT_EQ(dialog.Progress()->value(), 2);
  EXPECT_EQ(dialog.Piano()->Model().rootNote, 63);
  dialog.OnTimer();
  EXPECT_TRUE(dialog.InputMonitor()->recording);
  EXPECT_GT(dialog.SampledWaveform()->levels[50], 0);
  SaveScreenshot(dialog, "multisample_running");
  {
    std::lock_guard<std::mutex> hold(lock);
    released = true;
  }
  wake.notify_all();
  ASSERT_TRUE(WaitUntil([&] { return !dialog.Sampling(); }));
  EXPECT_EQ(dialog.Status()->text(), QStringLiteral("Sampling complete! (File save not yet implemented)"));
  EXPECT_EQ(dialog.StartButton()->text(), QStringLiteral("Start Sampling"));
  EXPECT_EQ(dialog.Progress()->value(), 8);
  EXPECT_EQ(dialog.ResultRegions().size(), 8u);
  dialog.OnTimer();
  EXPECT_FALSE(dialog.InputMonitor()->recording);
  SaveScreenshot(dialog, "multisample_done");

  // The test's note-on and note-off come before the run's first note-on.
  const auto messages = instrument.Messages();
  ASSERT_EQ(messages.size(), 2u + 16u);
  EXPECT_EQ(messages[0], (std::vector<uint8_t>{0x90, 57, 100}));
  EXPECT_EQ(messages[1], (std::vector<uint8_t>{0x80, 57, 0}));
  EXPECT_EQ(messages[2], (std::vector<uint8_t>{0x90, 57, 100}));
  // The settings were stored at Start.
  EXPECT_EQ(settings.GetString("Multisample", "HoldTime", ""), "0.20");
  EXPECT_EQ(settings.GetString("Multisample", "WaitTime", ""), "0.05");
  dialog.OnDone();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(MultisampleDialogTest, DoneDuringARunStopsItAndKeepsTheFinishedNotes) {
  PlayingWaiter waiter(instrument);
  std::atomic<bool> holding{false};
  waiter.onWait = [&](int number) {
    if (number != 4) return;  // the hold of the third note hangs until the run is aborted
    holding = true;
    waiter.WaitInterrupted();
  };
  CMultisampleDLG dialog(nullptr, &waiter, std::chrono::milliseconds(50));
  dialog.show();
  dialog.HoldEdit()->setText(QStringLiteral("0.2"));
  dialog.WaitEdit()->setText(QStringLiteral("0"));
  dialog.OnStartStop();
  ASSERT_TRUE(WaitUntil([&] { return holding.load(); }));
  // The close box is refused while recording.
  dialog.close();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(host.Texts().back(),
            "Cannot close dialog while recording is in progress.\n\nPlease stop the recording first using the "
            "'Stop' button.");
  dialog.DoneButton()->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_FALSE(dialog.Sampling());
  EXPECT_EQ(dialog.Status()->text(), QStringLiteral("Stopped."));
  QApplication::processEvents();  // what the worker queued before it ended
  EXPECT_EQ(dialog.Status()->text(), QStringLiteral("Stopped."));
  ASSERT_EQ(dialog.ResultRegions().size(), 2u);
  EXPECT_EQ(dialog.ResultRegions()[1].rootNote, 60);
  const auto messages = instrument.Messages();
  ASSERT_EQ(messages.size(), 6u);  // the third note got its note-off
  EXPECT_EQ(messages[5], (std::vector<uint8_t>{0x80, 63, 0}));
}

TEST_F(MultisampleDialogTest, StartRefusalsShowTheirMessages) {
  CMultisampleDLG dialog;
  dialog.FromEdit()->setText(QStringLiteral("C9"));
  dialog.ToEdit()->setText(QStringLiteral("C2"));
  dialog.OnStartStop();
  EXPECT_EQ(host.Texts().back(), "Start note must be less than or equal to end note.");
  EXPECT_FALSE(dialog.Sampling());
  EXPECT_EQ(dialog.StartButton()->text(), QStringLiteral("Start Sampling"));
  dialog.FromEdit()->setText(QStringLiteral("C2"));
  dialog.WaitEdit()->setText(QStringLiteral("90"));
  dialog.OnStartStop();
  EXPECT_EQ(host.Texts().back(), "Invalid timing parameters.");
  dialog.WaitEdit()->setText(QStringLiteral("0.5"));
  instrument.audio.FailOpens(AudioInputError::kFormat);
  dialog.OnStartStop();
  EXPECT_EQ(host.Texts().back(), "Failed to open audio input device.\n\nError: Audio format is not supported");
  EXPECT_FALSE(dialog.Sampling());
  EXPECT_TRUE(instrument.Messages().empty());
}

// ------------------------------------------------------------- command --

class MultisampleCommandTest : public EditorOnFileTest {
 protected:
  QAction* ToolsItem(const QString& text) {
    for (QAction* menu : app->MainFrame().menuBar()->actions())
      if (menu->text() == QStringLiteral("&Tools"))
        for (QAction* a : menu->menu()->actions())
          if (a->text() == text) return a;
    return nullptr;
  }

  SimulatedInstrument instrument;
};

TEST_F(MultisampleCommandTest, DoneTakesTheRunIntoTheDocumentAndUndoRestoresIt) {
  ASSERT_TRUE(StartEditor());
  ScopedMidiSystem midiScope(&instrument.midi);
  ScopedAudioInput audioScope(&instrument.audio);
  QAction* item = ToolsItem(QStringLiteral("MultiSample Robot (Midi+Audio)..."));
  ASSERT_NE(item, nullptr);
  Feeder feeder(instrument);
  {
    ModalDriver<CMultisampleDLG> driver([&](CMultisampleDLG& dialog) {
      // The interval first: a changed interval moves To to keep the count.
      dialog.FromEdit()->setText(QStringLiteral("C4"));
      dialog.IntervalEdit()->setText(QStringLiteral("2"));
      dialog.ToEdit()->setText(QStringLiteral("E4"));
      EXPECT_EQ(dialog.CountEdit()->text(), QStringLiteral("3"));
      dialog.HoldEdit()->setText(QStringLiteral("0.1"));
      dialog.WaitEdit()->setText(QStringLiteral("0"));
      dialog.OnStartStop();
      EXPECT_TRUE(WaitUntil([&] { return !dialog.Sampling(); }));
      dialog.DoneButton()->click();
    });
    item->trigger();
    EXPECT_EQ(driver.Opened(), 1);
  }
  CQuorvelDoc& doc = app->Document();
  ASSERT_EQ(doc.instrument.regions.size(), 3u);
  EXPECT_EQ(doc.instrument.regions[0].loKey, 0);
  EXPECT_EQ(doc.instrument.regions[0].hiKey, 61);
  EXPECT_EQ(doc.instrument.regions[1].loKey, 62);
  EXPECT_EQ(doc.instrument.regions[2].hiKey, 127);
  EXPECT_EQ(doc.instrument.params.rootNote, 60);
  EXPECT_EQ(doc.audio.format.nSamplesPerSec, 44100u);
  EXPECT_GT(doc.FrameCount(), 0);
  EXPECT_TRUE(doc.CanUndo());
  doc.Undo();
  EXPECT_FALSE(doc.HasAudio());
  EXPECT_TRUE(doc.instrument.regions.empty());
  // Every note-on had its note-off.
  int ons = 0, offs = 0;
  for (const auto& m : instrument.Messages()) (m[0] & 0xF0) == 0x90 ? ++ons : ++offs;
  EXPECT_EQ(ons, 3);
  EXPECT_EQ(offs, 3);
}

TEST_F(MultisampleCommandTest, CancelLeavesTheDocumentAlone) {
  ASSERT_TRUE(StartEditor());
  ScopedMidiSystem midiScope(&instrument.midi);
  ScopedAudioInput audioScope(&instrument.audio);
  {
    ModalDriver<CMultisampleDLG> driver([&](CMultisampleDLG& dialog) { dialog.CancelButton()->click(); });
    ToolsItem(QStringLiteral("MultiSample Robot (Midi+Audio)..."))->trigger();
  }
  EXPECT_FALSE(app->Document().HasAudio());
  EXPECT_FALSE(app->Document().CanUndo());
}

}  // namespace
}  // namespace zandrel::test
