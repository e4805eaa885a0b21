#include "flanger/delay_line.h"

#include <algorithm>

DelayLine::DelayLine(int32_t size)
    : buffer(new float[static_cast<size_t>(size)]), writeIndex(0), delay_(size - 1), size(size) {
  clear();
}

void DelayLine::clear() { std::fill(buffer.get(), buffer.get() + size, 0.0f); }
