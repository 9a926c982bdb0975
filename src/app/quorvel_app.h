// CQuorvelApp: the application object and the single-document controller.
//
// It owns the one document and the main frame, processes the command line,
// and carries out what a document/view framework does for the user: New and
// Open (asking to save a modified document first), Save As (Ctrl+S always
// asks for a file name), the recent-file list of four, "New Empty 1s Sample"
// and About.
#pragma once

#include <QObject>
#include <QStringList>
#include <filesystem>
#include <memory>

#include "app/qt_clipboard.h"
#include "app/qt_hosts.h"
#include "app/qt_parameter_dialogs.h"
#include "app/model/recent_files.h"
#include "document/quorvel_doc.h"

namespace zandrel {

class CMainFrame;

class CQuorvelApp final : public QObject {
  Q_OBJECT

 public:
  CQuorvelApp();
  ~CQuorvelApp() override;

  // Creates the document and the frame and processes the command line (the
  // arguments after the program name): none gives a new document, a path
  // opens that file. False ends the program.
  bool InitInstance(const QStringList& arguments);

  CQuorvelDoc& Document() { return *doc_; }
  CMainFrame& MainFrame() { return *frame_; }
  RecentFileList& RecentFiles() { return recentFiles_; }
  QtParameterDialogs& ParameterDialogs() { return parameterDialogs_; }

  // File commands. Each returns whether it went through.
  bool OnFileNew();
  bool OnFileOpen();
  bool OpenDocumentFile(const std::filesystem::path& path);
  bool OnFileSaveAs();
  void OnNewEmptySample();
  void OnAppAbout();
  // Asks to save a modified document: false when the user cancelled (or a
  // chosen save failed).
  bool SaveModified();

 private:
  // Hosts installed before the app started (a test's) are kept.
  MessageHost* previousMessageHost_ = nullptr;
  FileDialogHost* previousFileDialogs_ = nullptr;
  ClipboardHost* previousClipboard_ = nullptr;
  ParameterDialogHost* previousParameterDialogs_ = nullptr;
  std::unique_ptr<QtSettingsStore> settings_;
  QtMessageHost messageHost_;
  QtFileDialogs fileDialogs_;
  QtClipboardHost clipboard_;
  QtParameterDialogs parameterDialogs_;
  std::unique_ptr<CQuorvelDoc> doc_;
  std::unique_ptr<CMainFrame> frame_;
  RecentFileList recentFiles_;
};

}  // namespace zandrel
