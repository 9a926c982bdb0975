// A fixture that starts the whole editor on one generated WAV file, the way a
// user starts it from the command line, for tests that drive the window with
// real mouse events or take screenshots of it.
#pragma once

#include <gtest/gtest.h>

#include <QSettings>
#include <QString>

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
  // Writes |wav| as |name| into a fresh folder, starts the editor on it with
  // cleared settings and shows the main window. Use with ASSERT_NO_FATAL_FAILURE.
  void OpenEditorOn(const std::string& name, const Bytes& wav) {
    QSettings(QStringLiteral("Zindermast"), QStringLiteral("Zandrel")).clear();
    WriteFileBytes(dir / name, wav);
    host = std::make_unique<ScriptedMessageHost>();
    dialogs = std::make_unique<ScriptedFileDialogs>();
    app = std::make_unique<CQuorvelApp>();
    ASSERT_TRUE(app->InitInstance({QString::fromStdString((dir / name).string())}));
    frame = &app->MainFrame();
    view = frame->view;
    frame->show();
  }
  void TearDown() override {
    if (app) app->Document().SetModifiedFlag(false);
    app.reset();
    dialogs.reset();
    host.reset();
  }

  TempDir dir;
  std::unique_ptr<CQuorvelApp> app;
  std::unique_ptr<ScriptedMessageHost> host;
  std::unique_ptr<ScriptedFileDialogs> dialogs;
  CMainFrame* frame = nullptr;
  CQuorvelView* view = nullptr;
};

}  // namespace zandrel::test
