// Zandrel: an editor for the samples and instruments of EP-family samplers.
#include <QApplication>

#include "app/quorvel_app.h"
#include "platform/rtaudio/rtaudio_input.h"
#include "platform/rtaudio/rtaudio_output.h"
#include "platform/rtmidi/rtmidi_system.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // The machine's audio output, shared by everything that plays; it outlives
  // the application object, whose view leaves it on the way out.
  zandrel::RtAudioOutput audioOutput;
  zandrel::ScopedAudioOutput audioScope(&audioOutput);
  // The machine's audio inputs, where the recording tools capture.
  zandrel::RtAudioInput audioInput;
  zandrel::ScopedAudioInput inputScope(&audioInput);
  // The machine's MIDI ports, where the device dialogs look for the device.
  zandrel::RtMidiSystem midi(zandrel::RtMidiBackend::Default);
  zandrel::SetMidiSystem(&midi);
  zandrel::CQuorvelApp app;
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  if (!app.InitInstance(arguments)) return 1;
  return QApplication::exec();
}
