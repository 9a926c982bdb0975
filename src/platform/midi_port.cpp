#include "platform/midi_port.h"

namespace zandrel {
namespace {

MidiSystem* g_system = nullptr;

}  // namespace

MidiSystem* CurrentMidiSystem() { return g_system; }

MidiSystem* SetMidiSystem(MidiSystem* system) {
  MidiSystem* previous = g_system;
  g_system = system;
  return previous;
}

}  // namespace zandrel
