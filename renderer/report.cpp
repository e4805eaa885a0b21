#include "renderer/report.h"

#include <algorithm>
#include <cstdio>

#include "renderer/parameters.h"

namespace tfrender {
namespace {

// Left-aligned columns, two spaces apart; the last column is not padded.
void printTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i)
      widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    out << line << '\n';
  }
}

std::string flagNames(int32_t flags) {
  static const struct {
    int32_t bit;
    const char* name;
  } kFlags[] = {{effFlagsHasEditor, "has editor"},
                {effFlagsHasClip, "has clip"},
                {effFlagsHasVu, "has VU"},
                {effFlagsCanMono, "can mono"},
                {effFlagsCanReplacing, "can replacing"},
                {effFlagsProgramChunks, "program chunks"}};
  std::string names;
  int32_t known = 0;
  for (const auto& flag : kFlags) {
    known |= flag.bit;
    if ((flags & flag.bit) != 0) names += (names.empty() ? "" : ", ") + std::string(flag.name);
  }
  if ((flags & ~known) != 0) names += (names.empty() ? "" : ", ") + std::string("other bits");
  return std::to_string(flags) + (names.empty() ? "" : " (" + names + ")");
}

}  // namespace

std::string fourCharText(int32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto c = static_cast<char>((static_cast<uint32_t>(code) >> shift) & 0xFFu);
    text += c >= 0x20 && c < 0x7F ? c : '?';
  }
  return text;
}

std::vector<std::string> parameterNames(tfhost::Effect& effect) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < effect.record()->numParams; ++i)
    names.push_back(effect.paramName(i));
  return names;
}

std::vector<ParameterRow> readParameters(tfhost::Effect& effect) {
  std::vector<ParameterRow> rows;
  for (int32_t i = 0; i < effect.record()->numParams; ++i) {
    rows.push_back({i, trimmed(effect.paramName(i)), trimmed(effect.paramDisplay(i)),
                    trimmed(effect.paramLabel(i)), effect.getParameter(i)});
  }
  return rows;
}

void printIdentity(std::ostream& out, const tfhost::Module& module, const tfhost::Effect& effect) {
  const AEffect& record = *effect.record();
  char id[64];
  std::snprintf(id, sizeof id, "'%s' (0x%08x)", fourCharText(record.uniqueID).c_str(),
                static_cast<unsigned>(record.uniqueID));
  printTable(out, {{"module", module.path()},
                   {"entry", module.entryName()},
                   {"unique ID", id},
                   {"version", std::to_string(record.version)},
                   {"inputs", std::to_string(record.numInputs)},
                   {"outputs", std::to_string(record.numOutputs)},
                   {"flags", flagNames(record.flags)},
                   {"programs", std::to_string(record.numPrograms)},
                   {"parameters", std::to_string(record.numParams)}});
}

void printParameters(std::ostream& out, const std::vector<ParameterRow>& rows) {
  std::vector<std::vector<std::string>> table{{"index", "name", "value", "display", "label"}};
  for (const ParameterRow& row : rows) {
    char value[32];
    std::snprintf(value, sizeof value, "%.6f", static_cast<double>(row.value));
    table.push_back({std::to_string(row.index), row.name, value, row.display, row.label});
  }
  printTable(out, table);
}

void printPrograms(std::ostream& out, const tfhost::Module& module) {
  const std::unique_ptr<tfhost::Effect> probe = module.instantiate();
  probe->open();
  std::vector<std::vector<std::string>> table{{"program", "name"}};
  for (int32_t program = 0; program < probe->record()->numPrograms; ++program) {
    probe->setProgram(program);
    table.push_back({std::to_string(program), probe->programName()});
  }
  printTable(out, table);
}

}  // namespace tfrender
