// The floor the audio loop is measured against: the least a delay-and-mix effect can do per
// frame written the obvious way, a 200-sample ring buffer per channel mixed into the input. Built
// at -O2 in a file of its own, so that it is the same loop in every run.
#pragma once

#include <cstdint>

struct FloorRing {
  float left[200] = {};
  float right[200] = {};
  int32_t position = 0;
};

void floorLoop(FloorRing& ring, const float* inLeft, const float* inRight, float* outLeft,
               float* outRight, int32_t frames);
