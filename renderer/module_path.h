// Where the renderer finds the plug-in module when no --plugin is given.
#pragma once

#include <string>

namespace tfrender {

// The TempoFlanger.so beside the command (<dir>/TempoFlanger.so), then the installed layout
// (<prefix>/bin/tempoflanger with <prefix>/lib/vst/TempoFlanger.so), then the module of the build
// tree the command was built in. Throws RenderError naming the places it looked.
std::string defaultModulePath();

}  // namespace tfrender
