// Zandrel: an editor for the samples and instruments of EP-family samplers.
#include <QApplication>

#include "app/quorvel_app.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  zandrel::CQuorvelApp app;
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  if (!app.InitInstance(arguments)) return 1;
  return QApplication::exec();
}
