#include "flanger/delay_line.h"

#include <algorithm>

// The read position starts one ahead of the write position: a delay of size - 1 (0 for a line of
// one sample).
DelayLine::DelayLine(int32_t size)
    : buffer(new float[static_cast<size_t>(size)]),
      writeIndex(0),
      readIndex(size > 1 ? 1 : 0),
      size(size) {
  clear();
}

void DelayLine::clear() { std::fill(buffer.get(), buffer.get() + size, 0.0f); }
