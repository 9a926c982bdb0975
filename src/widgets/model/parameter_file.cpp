#include "widgets/model/parameter_file.h"

#include <algorithm>
#include <set>

#include "platform/text_format.h"
#include "widgets/model/text_lines.h"

namespace zandrel {
namespace {

bool ParseKeyLine(std::string_view line, ParameterLine* out) {
  line = TrimBlanks(line);
  if (line.empty() || line.front() == ';') return false;
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  const std::string_view key = TrimBlanks(line.substr(0, equals));
  if (key.empty()) return false;
  *out = {key, TrimBlanks(line.substr(equals + 1))};
  return true;
}

std::string KeyLine(const std::string& key, double value) { return key + "=" + Format("%f", value) + "\n"; }

}  // namespace

std::vector<ParameterLine> ReadParameterLines(std::string_view text) {
  std::vector<ParameterLine> lines;
  for (std::string_view line : SplitTextLines(text)) {
    ParameterLine parsed;
    if (ParseKeyLine(line, &parsed)) lines.push_back(parsed);
  }
  return lines;
}

std::string MergeParameterFile(std::string_view existing, std::string_view configName,
                               const std::vector<std::pair<std::string, double>>& values) {
  std::string out;
  std::set<std::string, std::less<>> written;
  const std::vector<std::string_view> lines = SplitTextLines(existing);
  if (lines.empty()) out = "; Config for " + std::string(configName) + "\n";
  for (std::string_view line : lines) {
    ParameterLine parsed;
    if (ParseKeyLine(line, &parsed)) {
      auto ours = std::find_if(values.begin(), values.end(), [&](const auto& kv) { return kv.first == parsed.key; });
      if (ours != values.end()) {
        if (written.insert(ours->first).second) out += KeyLine(ours->first, ours->second);
        continue;
      }
    }
    out.append(line);
    out += '\n';
  }
  for (const auto& [key, value] : values) {
    if (!written.count(key)) out += KeyLine(key, value);
  }
  return out;
}

}  // namespace zandrel
