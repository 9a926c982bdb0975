// The sampling and performance tools through the "&Tools" menu, offscreen:
// the loop maker over a generated drum kit and the mini sampler player with
// a MIDI input in memory and an audio output without a device.
#include "tools/ui/tool_commands.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <cmath>

#include "app/editor_on_file.h"
#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "device/dialog_driver.h"
#include "document/instrument_chunks.h"
#include "platform/audio_output.h"
#include "platform/memory_midi.h"
#include "platform/settings.h"
#include "support/comma_locale.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"
#include "tools/midi_builder.h"
#include "tools/ui/drum_pattern_wnd.h"
#include "tools/ui/play_instrument_dlg.h"
#include "tools/ui/render_akai_dlg.h"
#include "view/quorvel_view.h"
#include "widgets/piano_selector_wnd.h"

namespace zandrel::test {
namespace {
namespace fs = std::filesystem;

// A mono 44.1 kHz kit of three drums of 4410 frames, roots 36, 38 and 42:
// each a sine of its own pitch (441, 882, 150 Hz) at half scale.
void WriteKit(const fs::path& path) {
  std::vector<int16_t> pcm;
  const double pitches[] = {441, 882, 150};
  for (double hz : pitches)
    for (int i = 0; i < 4410; ++i) pcm.push_back(static_cast<int16_t>(16384 * std::sin(2 * M_PI * hz * i / 44100.0)));
  const std::string json =
      R"({"sound.playmode":"key","sound.rootnote":60,"sample.mode":"multi","regions":[)"
      R"({"sample.start":0,"sample.end":4410,"sample.lokey":0,"sample.hikey":37,"sound.rootnote":36},)"
      R"({"sample.start":4410,"sample.end":8820,"sample.lokey":38,"sample.hikey":41,"sound.rootnote":38},)"
      R"({"sample.start":8820,"sample.end":13230,"sample.lokey":42,"sample.hikey":127,"sound.rootnote":42,)"
      R"("sound.loopstart":9920,"sound.loopend":12125}]})";
  WavBuilder().Fmt(1, 1, 44100, 16).Chunk("LIST", ListInfo({{"TNGE", TngeBody(json)}})).Data(Pcm16(pcm)).WriteTo(path);
}

class ToolCommandsTest : public EditorOnFileTest {
 protected:
  bool StartWithKit() {
    WriteKit(dir / "Kit.wav");
    return StartEditor({QString::fromStdString((dir / "Kit.wav").string())});
  }
  QAction* ToolsItem(const QString& text) {
    for (QAction* menu : app->MainFrame().menuBar()->actions())
      if (menu->text() == QStringLiteral("&Tools"))
        for (QAction* a : menu->menu()->actions())
          if (a->text() == text) return a;
    return nullptr;
  }
};

// A one-bar beat: kick on 1 and 3, snare on 2 and 4, a hat (note 46, no
// region of its own) on every eighth.
void WriteOneBarBeat(const fs::path& path) {
  MidiBytes body;
  for (int beat = 0; beat < 4; ++beat) {
    const uint8_t drum = beat % 2 ? 38 : 36;
    const MidiBytes hit = Join({NoteOn(beat ? 240 : 0, drum, 127), NoteOn(0, 46, 64), NoteOff(240, drum),
                                NoteOff(0, 46), NoteOn(0, 46, 64), NoteOff(240, 46)});
    body.insert(body.end(), hit.begin(), hit.end());
  }
  WriteFileBytes(path, Join({MidiHeader(0, 1, 960), Track(Join({body, EndOfTrack()}))}));
}

// The level of the last |frames| frames played.
double Rms(const std::vector<float>& played, size_t frames) {
  double sum = 0;
  const size_t from = played.size() > frames ? played.size() - frames : 0;
  for (size_t i = from; i < played.size(); ++i) sum += played[i] * played[i];
  return played.size() > from ? std::sqrt(sum / static_cast<double>(played.size() - from)) : 0;
}

// ------------------------------------------------------------ loop maker --

TEST_F(ToolCommandsTest, LoopMakerRendersTheRememberedPatternAndPlaysItInALoop) {
  ASSERT_TRUE(StartWithKit());
  MemoryAudioOutput output;
  ScopedAudioOutput outputScope(&output);
  WriteOneBarBeat(dir / "beat.mid");
  CurrentSettings().SetString("RenderAkai", "InputFile", (dir / "beat.mid").string());
  CurrentSettings().SetString("RenderAkai", "OutputFile", (dir / "loop").string());
  CurrentSettings().SetString("RenderAkai", "BPM", "120.0");
  CurrentSettings().SetString("RenderAkai", "CustomMapping", "A#2>D2");

  QAction* item = ToolsItem(QStringLiteral("Loop Maker (MIDI/MPC to wav)"));
  ASSERT_NE(item, nullptr);
  bool loaded = false, played = false, auditioned = false;
  int clickedRoot = -2, clickedNote = -2;
  QString buttonWhilePlaying;
  double loopLevel = 0;
  {
    ModalDriver<CRenderAkaiDlg> driver([&](CRenderAkaiDlg& dialog) {
      EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Render MIDI or  MPC Pattern"));
      EXPECT_EQ(dialog.KitNoteEdit()->text(), QStringLiteral("C2"));  // the first region's root
      EXPECT_FALSE(dialog.PlayButton()->isEnabled());
      loaded = WaitUntil([&] { return dialog.events.size() == 12; });
      EXPECT_EQ(dialog.BarsEdit()->text(), QStringLiteral("1"));
      EXPECT_EQ(dialog.Grid()->Model().RowCount(), 3);
      EXPECT_EQ(dialog.Grid()->Model().Tables().noteMap[46], 38);  // the custom mapping
      dialog.resize(760, 760);
      SaveScreenshot(dialog, "tools_loop_maker");
      dialog.RenderButton()->click();
      played = WaitUntil([&] { return dialog.Playing(); });
      buttonWhilePlaying = dialog.PlayButton()->text();
      EXPECT_EQ(dialog.OutputEdit()->text().toStdString(), (dir / "loop.wav").string());
      // Two passes of the loop through the output.
      output.Pull(2 * 88200);
      loopLevel = Rms(output.Played(), 88200);
      // A click on the top row (note 46, mapped to the snare) auditions the snare in the editor.
      CDrumPatternWnd* grid = dialog.Grid();
      const DrumGridLayout layout = grid->Model().Layout(grid->width(), grid->height());
      QObject::connect(grid, &CDrumPatternWnd::drumNoteClicked, grid, [&](int root, int note) {
        clickedRoot = root;
        clickedNote = note;
      });
      QTest::mouseClick(grid, Qt::LeftButton, {}, QPoint(150, (layout.rows[0].top + layout.rows[0].bottom) / 2));
      auditioned = WaitUntil([&] { return app->MainFrame().view->IsPlaying(); });
      dialog.PlayButton()->click();
      EXPECT_EQ(dialog.PlayButton()->text(), QStringLiteral("Play"));
      dialog.reject();
    });
    item->trigger();
    EXPECT_EQ(driver.Opened(), 1);
  }
  EXPECT_TRUE(loaded);
  EXPECT_TRUE(played);  // by itself, 200 ms after the render
  EXPECT_EQ(buttonWhilePlaying, QStringLiteral("Stop"));
  EXPECT_GT(loopLevel, 0.05);
  EXPECT_EQ(clickedRoot, 38);
  EXPECT_EQ(clickedNote, 46);
  EXPECT_TRUE(auditioned);
  // The editor selected the snare's region, with its frames as the loop, and played it.
  const ViewModel& view = app->MainFrame().view->Model();
  EXPECT_EQ(view.selectedRegion, 1);
  EXPECT_EQ(view.loopIn, 4410);
  app->MainFrame().view->StopPlayback();  // before the output goes
  EXPECT_TRUE(host->Texts().empty());
  EXPECT_FALSE(app->Document().IsModified());

  // The written loop: one bar at 120 BPM, looped, four beats at 120.
  CWavLoader loop;
  ASSERT_TRUE(loop.Load(dir / "loop.wav"));
  EXPECT_EQ(loop.FrameCount(), 88200);
  EXPECT_EQ(CurrentSettings().GetString("RenderAkai", "BPM", ""), "120.0");
  EXPECT_EQ(CurrentSettings().GetString("RenderAkai", "OutputFile", ""), (dir / "loop.wav").string());
}

// A tempo with a fraction, under the locale of a German user, typed the
// English way or the German way: the loop is one bar at 97.5 BPM long
// (108553 frames, not the 109113 of 97), tagged 97.5, and remembered as
// "97.5".
TEST_F(ToolCommandsTest, LoopMakerKeepsAFractionalTempoUnderACommaLocale) {
  ASSERT_TRUE(StartWithKit());
  MemoryAudioOutput output;
  ScopedAudioOutput outputScope(&output);
  WriteOneBarBeat(dir / "beat.mid");
  ScopedCommaLocale comma;
  for (const char* typed : {"97.5", "97,5"}) {
    const fs::path path = dir / (std::string(typed) + ".wav");
    {
      CQuorvelDoc& doc = app->Document();
      CRenderAkaiDlg dialog(&doc.audio, &doc.instrument, {});
      ASSERT_TRUE(dialog.LoadPattern(dir / "beat.mid"));
      dialog.TempoEdit()->setText(QString::fromUtf8(typed));
      dialog.OutputEdit()->setText(QString::fromStdString(path.string()));
      dialog.OnRender();
    }
    CWavLoader loop;
    ASSERT_TRUE(loop.Load(path)) << typed;
    EXPECT_EQ(loop.FrameCount(), 108553) << typed;
    InstrumentData acid;  // the default tempo, so the acid chunk's is taken
    ReadAcidChunk(loop.chunks, acid, nullptr);
    EXPECT_FLOAT_EQ(acid.params.bpm, 97.5f) << typed;
    EXPECT_EQ(CurrentSettings().GetString("RenderAkai", "BPM", ""), "97.5") << typed;
  }
  EXPECT_TRUE(host->Texts().empty());
}

TEST_F(ToolCommandsTest, LoopMakerFileChoosersCarryTheirTitlesAndProposeTheRenderedName) {
  ASSERT_TRUE(StartWithKit());
  CQuorvelDoc& doc = app->Document();
  CRenderAkaiDlg dialog(&doc.audio, &doc.instrument, {});
  dialogs->Answer(std::nullopt).Answer(std::nullopt).Answer(std::nullopt);  // every chooser cancelled
  dialog.OnLoadPattern();
  ASSERT_EQ(dialogs->openRequests.size(), 1u);
  EXPECT_EQ(dialogs->openRequests.back().title, "Select Pattern File");
  for (const fs::path& current : {fs::path(), dir / "my_loop.wav"}) {
    dialog.OutputEdit()->setText(QString::fromStdString(current.string()));
    dialog.OnBrowseOutput();
    ASSERT_FALSE(dialogs->saveRequests.empty());
    EXPECT_EQ(dialogs->saveRequests.back().title, "Save Rendered Pattern");
    EXPECT_EQ(dialogs->saveRequests.back().defaultPath, current.parent_path() / "rendered_pattern.wav");
    EXPECT_EQ(dialogs->saveRequests.back().defaultExtension, "wav");
  }
  EXPECT_EQ(dialog.OutputEdit()->text().toStdString(), (dir / "my_loop.wav").string());  // Cancel keeps it
}

TEST_F(ToolCommandsTest, LoopMakerNeedsAKit) {
  ASSERT_TRUE(StartEditor());
  ToolsItem(QStringLiteral("Loop Maker (MIDI/MPC to wav)"))->trigger();
  EXPECT_EQ(host->Texts(), (std::vector<std::string>{"Please load a drum kit first."}));
  EXPECT_EQ(host->Shown().back().icon, MessageIcon::Warning);
}

TEST_F(ToolCommandsTest, LoopMakerLoadsKeepAndClear) {
  ASSERT_TRUE(StartWithKit());
  WriteFileBytes(dir / "a.mpcpattern", Text(R"({"events":[{"type":2,"time":0,"1":36,"2":1},{"type":2,"time":4000,"1":38,"2":1}]})"));
  WriteFileBytes(dir / "none.mpcpattern", Text(R"({"events":[{"type":1,"time":0}]})"));
  WriteFileBytes(dir / "junk.mid", Text("not a midi file"));
  CQuorvelDoc& doc = app->Document();
  CRenderAkaiDlg dialog(&doc.audio, &doc.instrument, {});
  ASSERT_TRUE(dialog.LoadPattern(dir / "a.mpcpattern"));
  EXPECT_EQ(dialog.bars, 2);
  EXPECT_FALSE(dialog.LoadPattern(dir / "junk.mid"));  // the pattern stays
  EXPECT_EQ(dialog.events.size(), 2u);
  EXPECT_FALSE(dialog.LoadPattern(dir / "none.mpcpattern"));  // no notes: nothing shown either
  EXPECT_TRUE(dialog.events.empty());
  EXPECT_TRUE(dialog.Grid()->Model().Events().empty());
  EXPECT_EQ(host->Texts(), (std::vector<std::string>{"Failed to parse MIDI file or file is empty.",
                                                     "No note events found in pattern file."}));
  // Render refuses: the grid and the render agree that nothing is loaded.
  dialog.OutputEdit()->setText(QString::fromStdString((dir / "x").string()));
  dialog.OnRender();
  EXPECT_EQ(host->Texts().back(), "Please load a pattern file first.");
  EXPECT_FALSE(fs::exists(dir / "x.wav"));
}

// --------------------------------------------------------- mini player --

TEST_F(ToolCommandsTest, MiniSamplerPlaysFromMidiAndTheKeyboardAndCommitsTheEnvelope) {
  ASSERT_TRUE(StartWithKit());
  MemoryMidiSystem midi;
  const std::shared_ptr<MemoryMidiLine> keys = midi.AddInput("Test Keys");
  MidiSystem* previousMidi = SetMidiSystem(&midi);
  MemoryAudioOutput output;
  output.rate = 44100;
  output.channels = 2;
  ScopedAudioOutput outputScope(&output);
  CurrentSettings().SetString("Settings", "LastMidiDevice", "Test Keys");
  CurrentSettings().SetInt("Settings", "InterpolationMode", 1);
  CQuorvelDoc& doc = app->Document();
  doc.instrument.params.release = 5;  // below the slider's range

  QAction* item = ToolsItem(QStringLiteral("Mini Sampler Player..."));
  ASSERT_NE(item, nullptr);
  QString midiStatus, keyStatus, unmatchedStatus;
  double loud = 0, quiet = 0;
  int sliderRelease = 0;
  size_t waveformColumns = 0;
  int pianoLow = -1, pianoHigh = -1;
  {
    ModalDriver<CPlayInstrumentDlg> driver([&](CPlayInstrumentDlg& dialog) {
      EXPECT_TRUE(dialog.Sounding());
      EXPECT_TRUE(dialog.MidiOpen());  // the remembered input
      EXPECT_EQ(dialog.MidiList()->currentItem()->text(), QStringLiteral("Test Keys"));
      EXPECT_EQ(dialog.MidiList()->item(0)->text(), QStringLiteral("None (Keyboard Only)"));
      EXPECT_EQ(dialog.Synth().Interpolation(), 1);
      EXPECT_EQ(dialog.Interpolation()->currentText(), QStringLiteral("Sinc (Better)"));
      sliderRelease = dialog.ReleaseSlider()->value();
      // A MIDI note-on on channel 5: an octave above the hi-hat's root.
      const uint8_t on[] = {0x95, 54, 100};
      keys->Post(on);
      EXPECT_TRUE(WaitUntil([&] { return dialog.Status()->text().startsWith(QStringLiteral("Note: 54")); }));
      midiStatus = dialog.Status()->text();
      output.Pull(8192);
      loud = Rms(output.Played(), 4096);
      pianoLow = dialog.Piano()->Model().lowNote;
      pianoHigh = dialog.Piano()->Model().highNote;
      waveformColumns = dialog.Waveform()->Columns().size();
      SaveScreenshot(dialog, "tools_mini_sampler");
      const uint8_t off[] = {0x85, 54, 0};
      keys->Post(off);
      keys->WaitUntilDelivered(std::chrono::milliseconds(2000));
      output.Pull(8192);
      quiet = Rms(output.Played(), 4096);
      // The PC keyboard: Q plays 60 once, however long it is held, and comma is the same note.
      QTest::keyPress(&dialog, Qt::Key_Q);
      keyStatus = dialog.Status()->text();
      QTest::keyPress(&dialog, Qt::Key_Comma);
      QTest::keyRelease(&dialog, Qt::Key_Comma);
      QTest::keyRelease(&dialog, Qt::Key_Q);
      dialog.ReleaseSlider()->setValue(100);
      dialog.AttackSlider()->setValue(3);
      QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    item->trigger();
    EXPECT_EQ(driver.Opened(), 1);
  }
  SetMidiSystem(previousMidi);
  EXPECT_EQ(midiStatus, QStringLiteral("Note: 54 (F#3) | Region: 3 | Root: 42 (F#2) | Vel: 100"));
  EXPECT_EQ(keyStatus, QStringLiteral("Note: 60 (C4) | Region: 3 | Root: 42 (F#2) | Vel: 100"));
  EXPECT_EQ(pianoLow, 42);
  EXPECT_EQ(pianoHigh, 127);
  EXPECT_EQ(waveformColumns, 89u);  // 4410 frames: every 50th
  EXPECT_GT(loud, 0.1);
  EXPECT_LT(quiet, 0.01);
  EXPECT_EQ(sliderRelease, 10);
  EXPECT_FALSE(output.IsOpen());  // left when the dialog closed
  // The moved sliders became one undoable change.
  EXPECT_EQ(doc.instrument.params.attack, 3);
  EXPECT_EQ(doc.instrument.params.release, 100);
  EXPECT_TRUE(doc.IsModified());
  doc.Undo();
  EXPECT_EQ(doc.instrument.params.attack, 0);
  EXPECT_EQ(doc.instrument.params.release, 5);
}

TEST_F(ToolCommandsTest, MiniSamplerKeepsTheValueOfASliderTheUserLeftAlone) {
  ASSERT_TRUE(StartWithKit());
  MemoryAudioOutput output;
  output.rate = 44100;
  output.channels = 2;
  ScopedAudioOutput outputScope(&output);
  CQuorvelDoc& doc = app->Document();
  struct Case {
    int storedAttack, storedRelease;
    bool moveAttack, moveRelease;
    int attack, release;
  };
  // A release below the slider's range shows as 10; it stays 5 unless the
  // release slider itself moves.
  for (const Case& c : {Case{0, 5, true, false, 3, 5}, Case{7, 5, false, true, 7, 40},
                        Case{0, 5, true, true, 3, 40}}) {
    doc.instrument.params.attack = c.storedAttack;
    doc.instrument.params.release = c.storedRelease;
    doc.SetModifiedFlag(false);
    ModalDriver<CPlayInstrumentDlg> driver([&](CPlayInstrumentDlg& dialog) {
      EXPECT_EQ(dialog.ReleaseSlider()->value(), std::max(10, c.storedRelease));
      if (c.moveAttack) dialog.AttackSlider()->setValue(3);
      if (c.moveRelease) dialog.ReleaseSlider()->setValue(40);
      QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    ToolsItem(QStringLiteral("Mini Sampler Player..."))->trigger();
    EXPECT_EQ(driver.Opened(), 1);
    EXPECT_EQ(doc.instrument.params.attack, c.attack);
    EXPECT_EQ(doc.instrument.params.release, c.release);
    EXPECT_TRUE(doc.IsModified());
    doc.Undo();
    EXPECT_EQ(doc.instrument.params.attack, c.storedAttack);
    EXPECT_EQ(doc.instrument.params.release, c.storedRelease);
  }
}

TEST_F(ToolCommandsTest, MiniSamplerReleasesHeldKeysWhenItLosesTheKeyboard) {
  ASSERT_TRUE(StartWithKit());
  MemoryAudioOutput output;
  ScopedAudioOutput outputScope(&output);
  CQuorvelDoc& doc = app->Document();
  CPlayInstrumentDlg dialog(&doc.audio, &doc.instrument);
  ASSERT_NO_FATAL_FAILURE(ShowModal(dialog));
  QTest::keyPress(&dialog, Qt::Key_Z);  // 48: the hat's region
  EXPECT_EQ(dialog.Status()->text(), QStringLiteral("Note: 48 (C3) | Region: 3 | Root: 42 (F#2) | Vel: 100"));
  output.Pull(4096);
  const double held = Rms(output.Played(), 2048);
  // Another window takes the keyboard while Z is still down: its key-up will never come.
  QWidget other;
  other.show();
  other.activateWindow();
  QApplication::processEvents();
  if (dialog.isActiveWindow()) {
    QEvent deactivate(QEvent::ActivationChange);
    QApplication::sendEvent(&dialog, &deactivate);
  }
  output.Pull(8192);
  const double after = Rms(output.Played(), 2048);
  EXPECT_GT(held, 0.1);
  EXPECT_LT(after, 0.001);  // the note was released and has faded
  dialog.reject();
  EXPECT_FALSE(output.IsOpen());
}

TEST_F(ToolCommandsTest, MiniSamplerSaysWhenItsOutputStopsAndPlaysAgainWithTheNextKey) {
  ASSERT_TRUE(StartWithKit());
  MemoryAudioOutput output;
  ScopedAudioOutput outputScope(&output);
  CQuorvelDoc& doc = app->Document();
  CPlayInstrumentDlg dialog(&doc.audio, &doc.instrument);
  ASSERT_NO_FATAL_FAILURE(ShowModal(dialog));
  ASSERT_TRUE(dialog.Sounding());

  // The server goes away: the player leaves the output and says so once.
  output.lost = true;
  ASSERT_TRUE(WaitUntil([&] { return !dialog.Sounding(); }));
  EXPECT_FALSE(output.IsOpen());
  EXPECT_EQ(dialog.Status()->text(), QStringLiteral("Audio output stopped."));
  ASSERT_EQ(host->Texts().size(), 1u);
  EXPECT_EQ(host->Texts()[0].rfind("The audio output stopped", 0), 0u);

  // The server is back: the next key opens the output and sounds.
  QTest::keyPress(&dialog, Qt::Key_Z);
  EXPECT_TRUE(dialog.Sounding());
  EXPECT_EQ(output.Opens(), 2);
  output.Pull(4096);
  EXPECT_GT(Rms(output.Played(), 2048), 0.1);
  QTest::keyRelease(&dialog, Qt::Key_Z);
  dialog.reject();
  EXPECT_FALSE(output.IsOpen());
  EXPECT_EQ(host->Texts().size(), 1u);
}

TEST_F(ToolCommandsTest, MiniSamplerNeedsAudioAndRegions) {
  ASSERT_TRUE(StartEditor());
  ToolsItem(QStringLiteral("Mini Sampler Player..."))->trigger();
  EXPECT_EQ(host->Texts(), (std::vector<std::string>{"No audio data loaded. Please open a WAV file first."}));
  WavBuilder().Fmt(1, 1, 44100, 16).Data(Pcm16({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})).WriteTo(dir / "Plain.wav");
  ASSERT_TRUE(app->Document().LoadWav(dir / "Plain.wav"));
  app->Document().instrument.regions.clear();
  ToolsItem(QStringLiteral("Mini Sampler Player..."))->trigger();
  EXPECT_EQ(host->Texts().back(), "No instrument regions found. Please create regions first.");
  EXPECT_EQ(host->Shown().back().icon, MessageIcon::Information);
}

}  // namespace
}  // namespace zandrel::test
