// The renderer's two commands, behind the command-line parsing of main.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "renderer/parameters.h"

namespace tfrender {

constexpr int32_t kDefaultBlockFrames = 512;
constexpr int32_t kMaxBlockFrames = 65536;
constexpr double kMaxTailSeconds = 3600.0;

struct RenderOptions {
  std::string input;  // empty: the built-in demo
  std::string output;
  std::string plugin;  // empty: the module beside the command
  ParameterRequest parameters;
  int32_t blockFrames = kDefaultBlockFrames;
  double tailSeconds = 0.0;
  bool forceFloat = false;
  bool quiet = false;
};

// Each throws RenderError or tfhost::HostError on failure; a failed render leaves no output file
// behind and an existing one untouched.
void runRender(const RenderOptions& options);
void runInfo(const std::string& plugin);

}  // namespace tfrender
