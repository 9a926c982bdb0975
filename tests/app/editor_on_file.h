// A fixture that starts the whole editor the way a user starts it from the
// command line, on a generated WAV file or on an empty document, with cleared
// settings and scripted message boxes and file dialogs, for tests that drive
// the window, its menus and dialogs, or take screenshots of it.
#pragma once

#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>

#include "app/main_frame.h"
#include "app/quorvel_app.h"
#include "support/document_fakes.h"
#include "support/temp_dir.h"
#include "support/test_host.h"
#include "support/wav_builder.h"

namespace zandrel::test {

class EditorOnFileTest : public ::testing::Test {
 protected:
  // Every test starts from the settings of a first run.
  EditorOnFileTest() { QSettings(QStringLiteral("Zindermast"), QStringLiteral("Zandrel")).clear(); }

  // Writes |bytes| as |name| into the test's folder and returns its path.
  std::string WriteFile(const std::string& name, const Bytes& bytes) {
    WriteFileBytes(dir / name, bytes);
    return (dir / name).string();
  }

  // Starts the editor with the command-line |args| (none: an empty untitled
  // document) behind freshly scripted boxes and file dialogs, made before the
  // editor so that it keeps them. An editor still running is closed first;
  // the settings are left as the last run wrote them.
  bool StartEditor(const QStringList& args = {}) {
    CloseEditor();
    host = std::make_unique<ScriptedMessageHost>();
    dialogs = std::make_unique<ScriptedFileDialogs>();
    app = std::make_unique<CQuorvelApp>();
    if (!app->InitInstance(args)) return false;
    frame = &app->MainFrame();
    view = frame->view;
    return true;
  }

  // Writes |wav| as |name| into the test's folder, starts the editor on it
  // and shows the main window. Use with ASSERT_NO_FATAL_FAILURE.
  void OpenEditorOn(const std::string& name, const Bytes& wav) {
    ASSERT_TRUE(StartEditor({QString::fromStdString(WriteFile(name, wav))}));
    frame->show();
  }

  // Closes the editor without the question about unsaved changes, then takes
  // down the hosts it used.
  void CloseEditor() {
    if (app) app->Document().SetModifiedFlag(false);
    frame = nullptr;
    view = nullptr;
    app.reset();
    dialogs.reset();
    host.reset();
  }

  void TearDown() override { CloseEditor(); }

  TempDir dir;
  std::unique_ptr<CQuorvelApp> app;
  std::unique_ptr<ScriptedMessageHost> host;
  std::unique_ptr<ScriptedFileDialogs> dialogs;
  CMainFrame* frame = nullptr;
  CQuorvelView* view = nullptr;
};

}  // namespace zandrel::test
