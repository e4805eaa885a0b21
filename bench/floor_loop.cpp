#include "bench/floor_loop.h"

void floorLoop(FloorRing& ring, const float* inLeft, const float* inRight, float* outLeft,
               float* outRight, int32_t frames) {
  int32_t p = ring.position;
  for (int32_t i = 0; i < frames; ++i) {
    const float inL = inLeft[i];
    const float inR = inRight[i];
    const float delayedL = ring.left[p];
    const float delayedR = ring.right[p];
    ring.left[p] = inL;
    ring.right[p] = inR;
    if (++p == 200) p = 0;
    outLeft[i] = delayedL * 0.5f + inL;
    outRight[i] = delayedR * 0.5f + inR;
  }
  ring.position = p;
}
