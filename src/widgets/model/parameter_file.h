// The per-tool parameter files of the parameter dialog: a comment line
// "; Config for <name>" and one "key=value" line per knob, value with six
// decimals in the "C" locale ("0.500000" whatever the user's locale).
//
// One file may be shared by several tools that use the same config name, so a
// save replaces only its own keys and keeps every other line where it was.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zandrel {

struct ParameterLine {
  std::string_view key;    // trimmed, never empty; case-sensitive
  std::string_view value;  // trimmed text after the first "="
};

// The key lines of a parameter file: blank lines, lines starting with ";",
// lines without "=" or with an empty key are skipped. LF or CRLF line ends; a
// missing final line end loses nothing.
std::vector<ParameterLine> ReadParameterLines(std::string_view text);

// The file to write: |existing| (the file as it is, empty when there is none)
// with the line of each key of |values| replaced in place (later duplicates of
// it dropped) and keys not yet in it appended in the order given; a new file
// starts with the "; Config for" line. Lines end with "\n".
std::string MergeParameterFile(std::string_view existing, std::string_view configName,
                               const std::vector<std::pair<std::string, double>>& values);

}  // namespace zandrel
