#include <gmock/gmock.h>

#include <functional>

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QPushButton>
#include <QToolBar>
#include <QSettings>
#include <QTest>

#include "app/customize_dlg.h"
#include "app/editor_on_file.h"
#include "app/output_wnd.h"
#include "app/main_frame.h"
#include "app/qt_hosts.h"
#include "app/quorvel_app.h"
#include "commands/editor_commands.h"
#include "device/dialog_driver.h"
#include "kits/kit_commands.h"
#include "platform/text_format.h"
#include "support/document_fakes.h"
#include "view/model/view_commands.h"
#include "view/model/view_drawing.h"
#include "view/model/view_geometry.h"
#include "support/named_pipe.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"

namespace zandrel {
namespace {

using namespace zandrel::test;
using ::testing::Contains;
using ::testing::ElementsAre;

// A sine-ish ramp so the waveform shows something.
Bytes ToneWav(int frames, uint32_t rate = 44100) {
  std::vector<int16_t> samples(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i)
    samples[static_cast<size_t>(i)] = static_cast<int16_t>(20000 * std::sin(i * 0.002) * std::exp(-i / 60000.0));
  return MakePcm16Wav(samples, 1, rate);
}

void SaveScreenshot(QWidget& widget, const QString& name) {
  // A window that was never shown has no settled layout.
  widget.show();
  QApplication::processEvents();
  QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
  widget.grab().save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/") + name + ".png");
}

QStringList LogLines(CMainFrame& frame) { return frame.outputPane->logList().Lines(); }

class AppTest : public EditorOnFileTest {};

TEST_F(AppTest, StartsWithAnEmptyUntitledDocumentAndBothPanes) {
  ASSERT_TRUE(StartEditor());
  CMainFrame& frame = app->MainFrame();
  EXPECT_EQ(frame.windowTitle(), QStringLiteral("Untitled[*] - Zandrel"));
  EXPECT_FALSE(app->Document().HasAudio());
  EXPECT_EQ(frame.dockWidgetArea(frame.outputPane), Qt::BottomDockWidgetArea);
  EXPECT_EQ(frame.dockWidgetArea(frame.propertiesPane), Qt::RightDockWidgetArea);
  EXPECT_EQ(frame.outputPane->windowTitle(), QStringLiteral("Output"));
  EXPECT_EQ(frame.propertiesPane->windowTitle(), QStringLiteral("Properties"));
  EXPECT_EQ(LogLines(frame), QStringList{QStringLiteral("Load WAV")});
  EXPECT_EQ(frame.maxDeviceRegions, 8);
  EXPECT_EQ(app->Document().MaxDeviceRegions(), 8);
  SaveScreenshot(frame, "empty_window");
}

// A menu as the user sees it: item texts, "-" for a separator, "[title]"
// for a submenu.
QStringList MenuTexts(const QMenu* menu) {
  QStringList texts;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) {
      texts << QStringLiteral("-");
    } else if (a->menu()) {
      texts << QLatin1Char('[') + a->text() + QLatin1Char(']');
    } else {
      texts << a->text();
    }
  }
  return texts;
}

// The command actions of a menu and its submenus (not the recent files).
void CollectActions(const QMenu* menu, std::vector<QAction*>& out) {
  for (QAction* a : menu->actions()) {
    if (a->menu()) {
      if (a->text() != QStringLiteral("Recent Files")) CollectActions(a->menu(), out);
    } else if (!a->isSeparator()) {
      out.push_back(a);
    }
  }
}

TEST_F(AppTest, TheMenuBarShowsTheDeclaredCommandsAsBefore) {
  ASSERT_TRUE(StartEditor());
  CMainFrame& frame = app->MainFrame();
  std::map<QString, QStringList> menus;
  QStringList titles;
  for (QAction* a : frame.menuBar()->actions()) {
    titles << a->text();
    menus[a->text()] = MenuTexts(a->menu());
  }
  EXPECT_EQ(titles, (QStringList{"&File", "&Edit", "&Play", "&Audio", "&Selection", "&Region",
                                 "&ReTime/ReSample", "&Notes", "&Tools", "&View", "&Help"}));
  EXPECT_EQ(menus["&File"], (QStringList{"&New", "&Open...", "Save &Wav...", "-", "New Empty 1s Sample",
                                         "Append Wav...", "[Import]", "-",
                                         "[Export]", "-", "Upload...", "Download...", "-", "&Print...",
                                         "Print Pre&view", "P&rint Setup...", "-", "[Recent Files]", "-", "E&xit"}));
  EXPECT_EQ(menus["&Edit"], (QStringList{"&Undo", "Redo", "-", "Select All", "Deselect", "Cu&t", "&Copy", "&Paste",
                                         "Paste in Place", "-", "Split At Cursor", "Remove Selected Region",
                                         "Delete Wav Data", "-", "Normal Tool", "Paint Tool", "Selection Tool",
                                         "Rearange Tool ", "Time Stretch Tool\n", "Retime Tool"}));
  EXPECT_EQ(menus["&Region"],
            (QStringList{"Add Silence...", "Remove All Silences", "-", "Remove All Regions", "-", "Create Single Region",
                         "Create Single Region Instrument +Pitch+LP", "-", "Auto Chop (Percussive Simple)", "Auto Chop (Melodic Simple)",
                         "Auto Chop (Melodic by Frequency)", "-", "Find BPM from length", "Find BPM from Transients",
                         "Find Beats", "Adjust Loop to BPM..."}));
  EXPECT_EQ(menus["&Play"], (QStringList{"Play/Stop", "Loop"}));
  EXPECT_EQ(menus["&Selection"],
            (QStringList{"Delete everyting outside", "-", "Hanning Crossfade", "Equal-Power Crossfade", "Align Phase",
                         "-", "Estimate Pitch", "Find Looping Points (Slow)", "Find Looping Points (Pyramid)", "Find Looping Points NCC", "-",
                         "Align Looping Points (+/-200ms)", "Set IN/OUT to Zero Crossing"}));
  EXPECT_EQ(menus["&Audio"], (QStringList{"Fade Out ", "Fade In", "Fade In EXP", "Fade Out EXP", "-",
                                            "Fade Out to Reverb", "Fade Out to Delay", "-", "Silence",
                                            "Normalize to 92%", "-", "Auto-Tune to Root", "Tune/Repitch...", "-",
                                            "Infinite Sustain Synth", "Morpher...", "Granular Cloud...",
                                            "Frequency Cloud...", "Micro Synth Shaper...", "-",
                                            "Adaptive Noise Gate", "Adaptive Compressor", "-",
                                            "Spectral Isolation (Percussive)", "Spectral Cleanup (Melodic)"}));
  EXPECT_EQ(menus["&ReTime/ReSample"],
            (QStringList{"Double Time (pitch shift +12)", "SP-1200 Repitch (+5 semi)", "-", "Downsample to 44kHz",
                         "Downsample to 22kHz", "Downsample to 22kHz with Double Time",
                         "Resample to 46.875kHz (Medieval)", "Downsample to 16kHz (voice)", "-", "Time Stretch...",
                         "Pitch Shift..."}));
  EXPECT_EQ(menus["&Notes"], (QStringList{"FInd Root Note", "Find Root Notes (All Regions)"}));
  EXPECT_EQ(menus["&Tools"], (QStringList{"EP Manager...", "-", "Loop Maker (MIDI/MPC to wav)",
                                          "Mini Sampler Player...", "MultiSample Robot (Midi+Audio)...",
                                          "Circular Loop Sampler...", "-",
                                          "Transpose...",
                                          "Distribute Notes (Percussive)", "Distribute Notes (Melodic)",
                                          "Historic and World Tunings..."}));
  EXPECT_EQ(menus["&View"], (QStringList{"Customize...", "-", "Time", "Frames", "Beats", "-", "Snap To Zero Crossing",
                                         "Show loupe when dragging", "Edit Key Boundaries", "Follow Playhead",
                                         "Sroll Wheel is Zoom", "Spectrum", "-", "Play animation on empty screen",
                                         "Trim to EP limits (~20s)"}));
  EXPECT_EQ(menus["&Help"], (QStringList{"&About Zandrel..."}));

  // Each item runs its command and carries the command's key.
  std::vector<QAction*> actions;
  for (QAction* a : frame.menuBar()->actions()) CollectActions(a->menu(), actions);
  ASSERT_EQ(actions.size(), 113u);
  for (QAction* a : actions) {
    const int id = a->data().toInt();
    const Command* command = frame.commands.Find(id);
    ASSERT_NE(command, nullptr) << a->text().toStdString();
    EXPECT_TRUE(command->run) << a->text().toStdString();
    EXPECT_EQ(a->shortcut(), QKeySequence(QString::fromStdString(command->key))) << command->text;
  }
  EXPECT_EQ(frame.Action(cmd::kFileSaveAs)->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
  // Keys of commands without a menu item work all the same, in the view.
  ASSERT_NE(frame.Action(cmd::kSetLoopIn), nullptr);
  EXPECT_EQ(frame.Action(cmd::kSetLoopIn)->shortcut(), QKeySequence(QStringLiteral("I")));
  EXPECT_EQ(frame.Action(cmd::kSetLoopIn)->shortcutContext(), Qt::WidgetWithChildrenShortcut);
  EXPECT_EQ(frame.Action(cmd::kPlayStop)->shortcutContext(), Qt::WidgetWithChildrenShortcut);
  EXPECT_EQ(frame.Action(cmd::kFileSaveAs)->shortcutContext(), Qt::WindowShortcut);

  // A screenshot with the Edit menu open: the window, and the menu drawn
  // where it pops up.
  frame.show();
  QApplication::processEvents();
  QAction* editTitle = frame.menuBar()->actions()[1];
  QMenu* edit = editTitle->menu();
  const QPoint at = frame.menuBar()->mapTo(&frame, frame.menuBar()->actionGeometry(editTitle).bottomLeft());
  edit->popup(frame.mapToGlobal(at));
  QApplication::processEvents();
  QPixmap shot = frame.grab();
  {
    QPainter painter(&shot);
    painter.drawPixmap(frame.mapFromGlobal(edit->pos()), edit->grab());
  }
  edit->hide();
  QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
  EXPECT_TRUE(shot.save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/edit_menu_open.png")));
}

TEST_F(AppTest, EveryMenuContextMenuToolbarAndKeyEntryHasACommandOrIsBuiltLater) {
  ASSERT_TRUE(StartEditor());
  CMainFrame& frame = app->MainFrame();
  const CommandRegistry& commands = frame.commands;
  EXPECT_THAT(commands.Problems(), ::testing::IsEmpty());
  auto check = [&](int id, const std::string& where) {
    const bool hasBody = commands.HasBody(id);
    const bool later = BuiltLaterIds().count(id) != 0;
    EXPECT_TRUE(hasBody != later) << where << ": " << id;
    // What the user sees agrees: a command without a body is disabled.
    if (later) {
      EXPECT_FALSE(commands.Enabled(id)) << where << ": " << id;
    }
  };
  std::vector<QAction*> actions;
  for (QAction* a : frame.menuBar()->actions()) CollectActions(a->menu(), actions);
  for (QAction* a : actions) check(a->data().toInt(), "menu bar " + a->text().toStdString());
  for (std::string_view name : kContextMenuNames)
    for (const MenuEntry& e : commands.ContextMenu(name))
      if (e.kind == MenuEntry::Kind::kCommand) check(e.id, std::string(name));
  for (int id : commands.DefaultToolbar())
    if (id != 0) check(id, "toolbar");
  for (const ToolbarSpec& bar : frame.Toolbars().Toolbars())
    for (int id : bar.commands)
      if (id != 0) check(id, "toolbar " + bar.name);
  int keys = 0;
  for (const auto& [key, id] : commands.Accelerators()) {
    check(id, "key " + key);
    QAction* action = frame.Action(id);
    ASSERT_NE(action, nullptr) << key;
    EXPECT_EQ(action->shortcut(), QKeySequence(QString::fromStdString(key)));
    ++keys;
  }
  EXPECT_EQ(keys, 16);  // the accelerator table without the two pane keys (F6, Shift+F6)
  // Every context-menu command has its body.
  EXPECT_EQ(BuiltLaterIds().size(), 0u);
}

TEST_F(AppTest, DeleteWavDataRebuildsThePeaksOnceAndOnlyAfterItRan) {
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", ToneWav(20000)));
  CMainFrame& frame = app->MainFrame();
  ViewModel& model = frame.view->Model();
  QApplication::processEvents();

  // Refused (no loop points): the beat markers stay, nothing is rebuilt.
  model.beatMarkers = {1000, 5000};
  const int64_t before = model.peakCache.Rebuilds();
  ASSERT_TRUE(frame.commands.Run(cmd::kDeleteWavData));
  QApplication::processEvents();
  EXPECT_EQ(host->Texts().back(), "Please set loop points first (loop start and loop end).");
  EXPECT_EQ(model.beatMarkers, (std::vector<int64_t>{1000, 5000}));
  EXPECT_EQ(model.peakCache.Rebuilds(), before);

  // Accepted: one rebuild; the markers go with the removed audio, and only
  // once the queued edit has run.
  model.loopIn = 5000;
  model.loopOut = 8000;
  ASSERT_TRUE(frame.commands.Run(cmd::kDeleteWavData));
  EXPECT_EQ(model.beatMarkers, (std::vector<int64_t>{1000, 5000}));
  EXPECT_EQ(app->Document().FrameCount(), 20000);
  QApplication::processEvents();
  EXPECT_EQ(app->Document().FrameCount(), 17000);
  EXPECT_TRUE(model.beatMarkers.empty());
  EXPECT_EQ(model.peakCache.Rebuilds(), before + 1);
  // The pages follow the cleared selection.
  EXPECT_EQ(frame.propertiesPane->regionPage->Model().fields[kRegionLoopIn], "---");
}

TEST_F(AppTest, OpensTheFileNamedOnTheCommandLine) {
  const std::string path = WriteFile("tone.wav", ToneWav(88200));
  ASSERT_TRUE(StartEditor({QString::fromStdString(path)}));
  CMainFrame& frame = app->MainFrame();
  EXPECT_EQ(app->Document().FrameCount(), 88200);
  EXPECT_EQ(frame.windowTitle(), QStringLiteral("tone.wav[*] - Zandrel"));
  EXPECT_THAT(LogLines(frame), Contains(QStringLiteral("--- WAV File Information: tone.wav ---")));
  EXPECT_FALSE(LogLines(frame).contains(QStringLiteral("Load WAV")));
  EXPECT_EQ(app->RecentFiles().Files().front(), path);
  QApplication::processEvents();
  EXPECT_FALSE(frame.view->Model().peakCache.empty());
  SaveScreenshot(frame, "opened_file");
}

TEST_F(AppTest, AFileThatCannotBeOpenedIsReportedAndTheEditorStartsEmpty) {
  std::filesystem::create_directory(dir / "folder.wav");
  NamedPipe pipe(dir / "pipe.wav");
  ASSERT_TRUE(pipe.Created());
  const struct {
    std::string path;
    const char* message;
  } cases[] = {
      {(dir / "missing.wav").string(), "Cannot open missing.wav: the file does not exist."},
      {(dir / "folder.wav").string(), "Cannot open folder.wav: it is a folder, not a file."},
      {pipe.Path().string(), "Cannot open pipe.wav: it is not a regular file."},
      {WriteFile("bad.wav", Text("not a wav")), "This is not a valid RIFF file."},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(StartEditor({QString::fromStdString(c.path)})) << c.path;
    EXPECT_EQ(host->Texts(), std::vector<std::string>{c.message});
    EXPECT_FALSE(app->Document().HasAudio());
    EXPECT_EQ(app->Document().GetTitle(), "Untitled");
    EXPECT_TRUE(app->MainFrame().isVisible());
    app.reset();
    dialogs.reset();
    host.reset();
  }
  EXPECT_FALSE(pipe.Rescued());  // the pipe was never read
}

TEST_F(AppTest, ThePlatformFileChoosersShowTheRequestedTitles) {
  QtFileDialogs files;
  QStringList titles;
  ModalDriver<QFileDialog> driver([&](QFileDialog& d) {
    titles << d.windowTitle();
    d.reject();
  });
  OpenFileRequest open;
  open.title = "Select Pattern File";
  open.defaultPath = dir.path();
  open.filter = "MIDI Files (*.mid;*.midi)|*.mid;*.midi||";
  EXPECT_FALSE(files.AskOpenFile(open));
  SaveFileRequest save;
  save.title = "Save Rendered Pattern";
  save.defaultPath = dir / "rendered_pattern.wav";
  save.filter = "WAV Files (*.wav)|*.wav||";
  EXPECT_FALSE(files.AskSaveFile(save));
  EXPECT_EQ(titles, (QStringList{QStringLiteral("Select Pattern File"), QStringLiteral("Save Rendered Pattern")}));
}

TEST_F(AppTest, TheLogPaneKeepsTheLastTenThousandLines) {
  ASSERT_TRUE(StartEditor());
  COutputList& log = app->MainFrame().outputPane->logList();
  log.Clear();
  for (int i = 0; i < 10050; ++i) log.AppendLog("line " + std::to_string(i));
  const QStringList lines = log.Lines();
  ASSERT_EQ(lines.size(), 10000);
  EXPECT_EQ(lines.front(), QStringLiteral("line 50"));
  EXPECT_EQ(lines.back(), QStringLiteral("line 10049"));
}

TEST_F(AppTest, AFileWithAMillionBadRegionsOpensWithAShortLog) {
  std::string json = R"({"regions":[)";
  for (int i = 0; i < 1000000; ++i) json += i ? ",1" : "1";
  json += "]}";
  const std::string path = WriteFile("hostile.wav", WavBuilder()
                                                    .Fmt(1, 1, 44100, 16)
                                                    .Chunk("LIST", ListInfo({{"TNGE", TngeBody(json)}}))
                                                    .Data(Pcm16(std::vector<int16_t>(4410, 1)))
                                                    .Build());
  ASSERT_TRUE(StartEditor({QString::fromStdString(path)}));
  EXPECT_EQ(app->Document().FrameCount(), 4410);
  const QStringList lines = LogLines(app->MainFrame());
  EXPECT_TRUE(lines.contains(QStringLiteral("... and 999990 more like it")));
  EXPECT_LT(lines.size(), 40);
}

TEST_F(AppTest, NewEmptySampleMakesOneSecondOfSilenceWithOneRegion) {
  ASSERT_TRUE(StartEditor());
  app->OnNewEmptySample();
  const CQuorvelDoc& doc = app->Document();
  EXPECT_EQ(doc.audio.format, (PcmFormat{1, 1, 44100, 88200, 2, 16}));
  EXPECT_EQ(doc.audio.data, Bytes(88200, 0));
  EXPECT_THAT(doc.instrument.regions, ElementsAre(Region{0, 44100, -1, -1, 0, 127, 60}));
  EXPECT_TRUE(doc.IsModified());
  EXPECT_FALSE(doc.CanUndo());
  EXPECT_EQ(doc.GetTitle(), "Untitled");
  EXPECT_EQ(LogLines(app->MainFrame()), QStringList{QStringLiteral("Load WAV")});
}

TEST_F(AppTest, CancellingTheSaveQuestionKeepsTheUnsavedDocument) {
  const std::string path = WriteFile("tone.wav", ToneWav(1000));
  ASSERT_TRUE(StartEditor({QString::fromStdString(path)}));
  CQuorvelDoc& doc = app->Document();
  doc.SetModifiedFlag(true);
  host->Answer(MessageAnswer::Cancel);
  app->OnNewEmptySample();
  EXPECT_EQ(host->Shown().back().text, "Save changes to tone.wav?");
  EXPECT_EQ(doc.FrameCount(), 1000);
  EXPECT_EQ(doc.GetTitle(), "tone.wav");
  EXPECT_TRUE(doc.instrument.regions.empty());

  // "No" discards it; "Yes" saves it through Save As first.
  host->Answer(MessageAnswer::No);
  EXPECT_TRUE(app->OnFileNew());
  EXPECT_FALSE(doc.HasAudio());
  app->OnNewEmptySample();
  host->Answer(MessageAnswer::Yes);
  dialogs->Answer(dir / "kept.wav");
  EXPECT_TRUE(app->OpenDocumentFile(path));
  EXPECT_TRUE(std::filesystem::exists(dir / "kept.wav"));
}

TEST_F(AppTest, ImportsAnAkaiKitFromTheFileMenuAndExportsItAgain) {
  // A keygroup program of three tones beside it, in a "Samples" folder and
  // one folder up.
  std::filesystem::create_directories(dir / "kit" / "Samples");
  WriteFileBytes(dir / "kit" / "low.wav", ToneWav(30000));
  WriteFileBytes(dir / "kit" / "Samples" / "mid.wav", ToneWav(20000));
  WriteFileBytes(dir / "high.wav", ToneWav(25000));
  std::string program = "<?xml version=\"1.0\"?><MPCVObject><Program type=\"Keygroup\"><Instruments>";
  const char* names[] = {"low", "mid", "high"};
  for (int i = 0; i < 3; ++i) {
    program += Format(
        "<Instrument number=\"%d\"><LowNote>%d</LowNote><HighNote>%d</HighNote><Layers><Layer><Active>True</Active>"
        "<SampleName>%s</SampleName><RootNote>%d</RootNote></Layer></Layers></Instrument>",
        i + 1, 13 + 40 * i, 13 + 40 * i + 39, names[i], 13 + 40 * i + 20);
  }
  program += "</Instruments></Program></MPCVObject>";
  WriteFileBytes(dir / "kit" / "Keys.xpm", Bytes(program.begin(), program.end()));

  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", ToneWav(1000)));
  CMainFrame& frame = app->MainFrame();
  CQuorvelDoc& doc = app->Document();
  doc.SetModifiedFlag(true);
  dialogs->Answer(dir / "kit" / "Keys.xpm");
  host->Answer(MessageAnswer::No);  // the save question, asked once the program has been read
  QAction* import = frame.Action(cmd::kImportAkaiKit);
  ASSERT_NE(import, nullptr);
  EXPECT_EQ(import->text(), "Import AKAI Keygroup/Kit...");
  import->trigger();
  EXPECT_EQ(host->Shown().front().text, "Save changes to tone.wav?");
  EXPECT_EQ(doc.GetTitle(), "Keys");
  EXPECT_FALSE(doc.IsModified());
  EXPECT_EQ(doc.FrameCount(), 75000);
  ASSERT_EQ(doc.instrument.regions.size(), 3u);
  EXPECT_EQ(doc.instrument.regions[1].loKey, 40);
  EXPECT_EQ(doc.instrument.regions[1].rootNote, 60);
  EXPECT_EQ(LogLines(frame).front(), "--- Akai Kit Import: Keys.xpm ---");
  EXPECT_TRUE(LogLines(frame).contains("MIDI Mapping: G#0 (20) to E7 (100)"));
  SaveScreenshot(frame, "akai_kit_imported");

  std::filesystem::create_directories(dir / "out");
  dialogs->Answer(dir / "out" / "Keys.xpm");
  frame.Action(cmd::kExportAkaiKeygroup)->trigger();
  EXPECT_EQ(host->Shown().back().text, "Successfully exported Akai kit:\n\n" + (dir / "out" / "Keys.xpm").string() +
                                           "\n\nExported 3 regions as WAV files.");
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "Pad02_Note060.wav"));
  EXPECT_FALSE(doc.IsModified());
}

TEST_F(AppTest, SaveAsAlwaysAsksAndFillsTheRecentList) {
  ASSERT_TRUE(StartEditor());
  for (int i = 0; i < 6; ++i)
    ASSERT_TRUE(app->OpenDocumentFile(WriteFile("f" + std::to_string(i) + ".wav", ToneWav(100))));
  ASSERT_EQ(app->RecentFiles().Files().size(), 4u);
  EXPECT_EQ(app->RecentFiles().Files().front(), dir / "f5.wav");

  dialogs->Answer(dir / "saved.wav");
  QAction* save = app->MainFrame().Action(cmd::kFileSaveAs);
  ASSERT_NE(save, nullptr);
  EXPECT_EQ(save->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
  save->trigger();
  ASSERT_EQ(dialogs->saveRequests.size(), 1u);
  EXPECT_EQ(dialogs->saveRequests[0].defaultPath, dir / "f5.wav");
  EXPECT_EQ(app->Document().GetPathName(), dir / "saved.wav");
  EXPECT_EQ(app->RecentFiles().Files().front(), dir / "saved.wav");

  // An untitled document with a title of its own proposes it, with one ".wav".
  app->OnFileNew();
  app->Document().SetTitle("Snare Long.WAV");
  dialogs->Answer(std::nullopt);
  app->OnFileSaveAs();
  EXPECT_EQ(dialogs->saveRequests.back().defaultPath, "Snare Long.WAV");

  // The list survives a restart.
  RecentFileList reloaded;
  reloaded.Load();
  EXPECT_EQ(reloaded.Files(), app->RecentFiles().Files());
}

TEST_F(AppTest, RegionRequestsRunAfterTheCommandReturns) {
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", ToneWav(5000)));
  CMainFrame& frame = app->MainFrame();
  frame.view->Model().SetCursorPosition(1000);
  frame.commands.Run(cmd::kSplitAtCursor);
  EXPECT_TRUE(app->Document().instrument.regions.empty());  // posted, not yet handled
  QApplication::processEvents();
  ASSERT_EQ(app->Document().instrument.regions.size(), 2u);
  EXPECT_EQ(app->Document().instrument.regions[1].startSample, 1000);
  EXPECT_THAT(LogLines(frame), Contains(QStringLiteral("Created two new regions from split.")));
  EXPECT_TRUE(frame.windowTitle().contains(QStringLiteral("[*]")));
  EXPECT_TRUE(frame.isWindowModified());
  frame.show();
  QApplication::processEvents();
  SaveScreenshot(frame, "split_regions");
}

TEST_F(AppTest, PlainLetterKeysDoNotFireWhileATextFieldHasFocus) {
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", ToneWav(5000)));
  CMainFrame& frame = app->MainFrame();
  frame.show();
  QApplication::setActiveWindow(&frame);
  auto* field = new QLineEdit(frame.propertiesPane);
  frame.propertiesPane->setTitleBarWidget(nullptr);
  field->show();
  field->setFocus();
  QTest::keyClick(field, Qt::Key_L);
  EXPECT_FALSE(frame.view->Model().loopPlayback);
  EXPECT_EQ(field->text(), QStringLiteral("l"));

  frame.view->setFocus();
  QTest::keyClick(frame.view, Qt::Key_L);
  EXPECT_TRUE(frame.view->Model().loopPlayback);
  EXPECT_THAT(LogLines(frame), Contains(QStringLiteral("Loop playback enabled.")));
}

TEST_F(AppTest, AltWheelZoomsInBothDirections) {
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", ToneWav(200000)));
  CMainFrame& frame = app->MainFrame();
  frame.show();
  QApplication::processEvents();
  ViewModel& model = frame.view->Model();
  model.scrollWheelZoom = false;  // Alt+wheel zooms
  QWidget* port = frame.view->viewport();
  auto wheel = [&](QPoint angle) {
    QWheelEvent event(QPointF(100, 100), port->mapToGlobal(QPointF(100, 100)), QPoint(), angle, Qt::NoButton,
                      Qt::AltModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(port, &event);
  };
  wheel(QPoint(120, 0));  // Qt moves the wheel to the x axis while Alt is held
  EXPECT_FLOAT_EQ(model.framesPerPixel, 256.0f / 1.25f);
  wheel(QPoint(-120, 0));
  EXPECT_FLOAT_EQ(model.framesPerPixel, 256.0f);
}

TEST_F(AppTest, ADroppedFileOpensOnlyTheFirst) {
  ASSERT_TRUE(StartEditor());
  CMainFrame& frame = app->MainFrame();
  const std::string first = WriteFile("first.wav", ToneWav(300));
  const std::string second = WriteFile("second.wav", ToneWav(600));
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(first)), QUrl::fromLocalFile(QString::fromStdString(second))});
  // Qt delivers a drop only to the widget that accepted the drag's entry.
  auto dropOnView = [&](Qt::KeyboardModifiers modifiers) {
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, modifiers);
    QApplication::sendEvent(frame.view->viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, modifiers);
    QApplication::sendEvent(frame.view->viewport(), &drop);
  };
  dropOnView(Qt::NoModifier);
  EXPECT_EQ(app->Document().FrameCount(), 300);
  EXPECT_EQ(app->Document().GetTitle(), "first.wav");

  // With Ctrl but nothing to append to yet, it opens too.
  frame.view->appendWavFile = [&](const QString&) { FAIL() << "nothing to append to"; };
  app->OnFileNew();
  dropOnView(Qt::ControlModifier);
  EXPECT_EQ(app->Document().FrameCount(), 300);
}

TEST_F(AppTest, UsersBuildTheirOwnToolbarsAndTheyAreKept) {
  ASSERT_TRUE(StartEditor());
  CMainFrame& frame = app->MainFrame();
  EXPECT_EQ(frame.findChildren<QToolBar*>().size(), 1);
  {
    ToolbarLayout& layout = frame.Toolbars();
    CCustomizeDlg dialog(layout, {{cmd::kNewEmptySample, "New Empty 1s Sample"}, {cmd::kSplitAtCursor, "Split"}},
                         &frame);
    dialog.newButton()->click();
    ASSERT_EQ(dialog.toolbarList()->count(), 2);
    EXPECT_EQ(dialog.toolbarList()->item(1)->text(), QStringLiteral("Toolbar 1"));
    dialog.commandList()->item(0)->setCheckState(Qt::Checked);  // sorted by id: Split first
    EXPECT_EQ(layout.Toolbars()[1].commands, std::vector<int>{cmd::kSplitAtCursor});
    for (int i = 0; i < 20; ++i) dialog.newButton()->click();
    EXPECT_EQ(dialog.toolbarList()->count(), 11);  // the Standard toolbar and ten of the user's
    layout.Save();
  }
  ToolbarLayout reloaded({});
  reloaded.Load();
  ASSERT_EQ(reloaded.Toolbars().size(), 11u);
  EXPECT_EQ(reloaded.Toolbars()[1].name, "Toolbar 1");
  EXPECT_EQ(reloaded.Toolbars()[1].commands, std::vector<int>{cmd::kSplitAtCursor});
  frame.RebuildToolbars();
  EXPECT_EQ(frame.findChildren<QToolBar*>().size(), 11);
}

// What a person would see on the printed page: the PDF is rendered to an
// image (poppler's pdftoppm) and the waveform and the region bar must be on it.
TEST_F(AppTest, PrintsTheViewOntoAPage) {
  ASSERT_NO_FATAL_FAILURE(OpenEditorOn("tone.wav", ToneWav(20000)));
  CMainFrame& frame = app->MainFrame();
  CQuorvelDoc& doc = app->Document();
  doc.instrument.hasInstrument = true;
  doc.instrument.regions = {Region{0, 10000, -1, -1, 0, 60, 48}, Region{10000, 20000, -1, -1, 61, 127, 72}};
  doc.UpdateAllViews(DocumentChange::kInstrument);
  frame.show();
  QApplication::processEvents();
  QPrinter printer;
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString((dir / "view.pdf").string()));
  frame.PrintView(printer);

  const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
  ASSERT_FALSE(pdftoppm.isEmpty()) << "pdftoppm (poppler-utils) renders the page; scripts/setup.sh installs it";
  const QString base = QString::fromStdString((dir / "page").string());
  QProcess render;
  render.start(pdftoppm, {QStringLiteral("-r"), QStringLiteral("60"), QStringLiteral("-png"),
                          QStringLiteral("-singlefile"), QString::fromStdString((dir / "view.pdf").string()), base});
  ASSERT_TRUE(render.waitForFinished(30000));
  ASSERT_EQ(render.exitCode(), 0) << render.readAllStandardError().toStdString();
  const QImage page(base + QStringLiteral(".png"));
  ASSERT_FALSE(page.isNull());
  QDir().mkpath(QStringLiteral(ZANDREL_SCREENSHOT_DIR));
  page.save(QStringLiteral(ZANDREL_SCREENSHOT_DIR "/printed_page.png"));

  // Waveform: bright green pixels. Region bar: the first two regions' colours
  // over the view's dark background, in the band above the waveform.
  auto near = [](QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 12 && std::abs(qGreen(a) - qGreen(b)) <= 12 &&
           std::abs(qBlue(a) - qBlue(b)) <= 12;
  };
  auto over = [](Argb argb, Argb under) {
    const double a = (argb >> 24) / 255.0;
    auto mix = [&](int shift) {
      return static_cast<int>(std::lround(((argb >> shift) & 0xFF) * a + ((under >> shift) & 0xFF) * (1 - a)));
    };
    return qRgb(mix(16), mix(8), mix(0));
  };
  const QRgb region0 = over(RegionBarColor(0), view_color::kClear);
  const QRgb region1 = over(RegionBarColor(1), view_color::kClear);
  int green = 0, bar0 = 0, bar1 = 0, lowestBar = -1, highestGreen = page.height(), lowestGreen = -1;
  for (int y = 0; y < page.height(); ++y) {
    for (int x = 0; x < page.width(); ++x) {
      const QRgb p = page.pixel(x, y);
      if (qGreen(p) > 200 && qRed(p) < 90 && qBlue(p) < 90) {
        ++green;
        highestGreen = std::min(highestGreen, y);
        lowestGreen = std::max(lowestGreen, y);
      }
    }
  }
  // The piano strip below the waveform shows the regions' colours too.
  for (int y = 0; y < lowestGreen; ++y) {
    for (int x = 0; x < page.width(); ++x) {
      const QRgb p = page.pixel(x, y);
      if (near(p, region0)) ++bar0, lowestBar = std::max(lowestBar, y);
      if (near(p, region1)) ++bar1, lowestBar = std::max(lowestBar, y);
    }
  }
  EXPECT_GT(green, 300) << "no waveform on the page";
  EXPECT_GT(bar0, 100) << "no region bar on the page";
  EXPECT_GT(bar1, 100) << "the second region is missing from the bar";
  EXPECT_LT(lowestBar, highestGreen + page.height() / 4) << "the bar is not above the waveform";
}

TEST_F(AppTest, TheWindowLayoutIsKeptBetweenRuns) {
  ASSERT_TRUE(StartEditor());
  app->MainFrame().show();
  app->MainFrame().resize(900, 600);
  app->MainFrame().outputPane->setFloating(true);
  app->MainFrame().close();
  app.reset();
  ASSERT_TRUE(StartEditor());
  EXPECT_TRUE(app->MainFrame().outputPane->isFloating());
}

}  // namespace
}  // namespace zandrel
