#include "document/note_names.h"

#include <gtest/gtest.h>

namespace zandrel {
namespace {

TEST(NoteNamesTest, NumbersToText) {
  const struct {
    int note;
    const char* name;
    const char* orDashes;
  } cases[] = {{60, "C4", "C4"},           {0, "C-1", "C-1"},    {61, "C#4", "C#4"},
               {127, "G9", "G9"},          {128, "Invalid", "---"}, {-1, "Invalid", "---"},
               {-2147483647 - 1, "Invalid", "---"}};
  for (const auto& c : cases) {
    EXPECT_EQ(MidiNoteName(c.note), c.name) << c.note;
    EXPECT_EQ(NoteNameOrDashes(c.note), c.orDashes) << c.note;
  }
}

TEST(NoteNamesTest, TextToNumbers) {
  const struct {
    const char* text;
    int note;
  } cases[] = {
      {"C4", 60},   {"  c4\t", 60}, {"C-1", 0},   {"G9", 127},  {"G#9", -1},  {"Bb3", 58},  {"bb3", 58},
      {"Cb4", 59},  {"B#3", 60},    {"E#4", 65},  {"Db4", 61},  {"C4x", 60},  {"C 4", 60},  {"C", -1},
      {"H4", -1},   {"C#x", -1},    {"", -1},     {"   ", -1},  {"Cb-1", -1}, {"C+4", 60},  {"C--1", -1},
      // Octaves far outside the range are rejected, never wrapped into a note.
      {"C357913942", -1}, {"C99999999999999999999", -1}, {"C-357913943", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseNoteName(c.text), c.note) << '"' << c.text << '"';
}

TEST(NoteNamesTest, EveryNameParsesBack) {
  for (int note = 0; note < 128; ++note) EXPECT_EQ(ParseNoteName(MidiNoteName(note)), note);
}

}  // namespace
}  // namespace zandrel
