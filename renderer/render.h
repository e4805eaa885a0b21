// The render loop: streams a source through an effect's processReplacing in fixed-size blocks
// and writes the result, with a progress bar on a terminal.
#pragma once

#include <cstdint>

#include "host/host.h"
#include "renderer/audio_file.h"
#include "renderer/source.h"

namespace tfrender {

struct RenderSettings {
  int32_t blockFrames = 512;
  int64_t tailFrames = 0;  // silence fed through the effect after the source ends
  bool progress = false;   // draw a progress bar on stderr for renders longer than a second
};

struct RenderSummary {
  int64_t frames = 0;
  double wallSeconds = 0.0;
  float peak = 0.0f;          // largest magnitude of an output sample
  int64_t overFullScale = 0;  // output samples with a magnitude above 1.0
};

// Resumes the effect (already set up: sample rate, block size, parameters), streams the whole
// source and then the tail through it, suspends it. Memory use is fixed by the block size.
// Throws RenderError, also when SIGINT, SIGTERM or SIGHUP arrive (see catchInterrupts).
RenderSummary render(tfhost::Effect& effect, Source& source, OutputFile& output,
                     const RenderSettings& settings);

// Turns the first SIGINT, SIGTERM or SIGHUP into a clean stop of the render loop, so that the
// temporary output file is removed; a second one ends the command at once.
void catchInterrupts();

}  // namespace tfrender
