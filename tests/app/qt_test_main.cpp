// Test main for programs that need a QApplication: offscreen, with Qt's test
// paths so that no test touches the user's settings. ctest runs each test in
// a process of its own, many at once: every process gets a home folder of its
// own, so that one test's settings and parameter files never change under
// another's feet.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QStandardPaths>
#include <filesystem>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::error_code ec;
  std::string home = (std::filesystem::temp_directory_path(ec) / "zandrel-qttest-XXXXXX").string();
  const bool ownHome = mkdtemp(home.data()) != nullptr;
  if (ownHome) {
    qputenv("HOME", QByteArray::fromStdString(home));
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_CACHE_HOME");
  }
  QStandardPaths::setTestModeEnabled(true);
  int result = 0;
  {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  if (ownHome) std::filesystem::remove_all(home, ec);
  return result;
}
