// The tables the renderer prints: a module's identity, its parameters and its programs.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "host/host.h"

namespace tfrender {

struct ParameterRow {
  int32_t index;
  std::string name, display, label;  // trimmed
  float value;
};

// The module's parameter names, untrimmed, as the module reports them.
std::vector<std::string> parameterNames(tfhost::Effect& effect);
std::vector<ParameterRow> readParameters(tfhost::Effect& effect);

// Unique ID (as four characters and in hex), version, inputs, outputs, flags and counts.
void printIdentity(std::ostream& out, const tfhost::Module& module, const tfhost::Effect& effect);
void printParameters(std::ostream& out, const std::vector<ParameterRow>& rows);
// Reads every program's name from a new instance of the module, made for this and closed after
// it: the interface reads a name only by selecting its program, which re-applies the program's
// parameters, so listing them on the instance that renders would change its sound.
void printPrograms(std::ostream& out, const tfhost::Module& module);

// Text of a four-character code, with any unprintable character as '?'.
std::string fourCharText(int32_t code);

}  // namespace tfrender
