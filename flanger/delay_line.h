// A circular buffer that delays one channel by a whole number of samples, 0 to size - 1.
#pragma once

#include <cstdint>
#include <memory>

class DelayLine {
 public:
  // Allocates and clears `size` samples (size >= 1). The starting delay is size - 1.
  explicit DelayLine(int32_t size);
  DelayLine(const DelayLine&) = delete;
  DelayLine& operator=(const DelayLine&) = delete;

  // Moves the read position; the output jumps to the older sample at once. Delays beyond the
  // buffer give size - 1, negative ones give 0.
  void setDelay(int32_t delay) {
    const int32_t e = delay < 0 ? 0 : (delay < size ? delay : size - 1);
    readIndex = writeIndex - e;
    if (readIndex < 0) readIndex += size;
  }

  // Stores `input`, then returns the sample `delay` ticks old (the input itself at delay 0).
  float tick(float input) {
    buffer[writeIndex] = input;
    if (++writeIndex == size) writeIndex = 0;
    const float output = buffer[readIndex];
    if (++readIndex == size) readIndex = 0;
    return output;
  }

  // Direct access for the audio loop, which runs the ticks of many frames inside its own loop:
  // tick k of a stretch stores its input at samples()[getWriteIndex() + k] and then takes
  // samples()[getReadIndex() + k], as tick does. A stretch is at most ticksBeforeWrap() long, so
  // that neither position wraps inside it; advance(count) then moves both positions past it.
  float* samples() { return buffer.get(); }
  int32_t ticksBeforeWrap() const {
    return size - (writeIndex > readIndex ? writeIndex : readIndex);
  }
  void advance(int32_t count) {
    writeIndex += count;
    if (writeIndex == size) writeIndex = 0;
    readIndex += count;
    if (readIndex == size) readIndex = 0;
  }

  // Silences the stored samples; the delay stays.
  void clear();

  int32_t getSize() const { return size; }
  int32_t getWriteIndex() const { return writeIndex; }
  int32_t getReadIndex() const { return readIndex; }
  // The delay in effect, 0 to size - 1.
  int32_t getDelay() const {
    const int32_t d = writeIndex - readIndex;
    return d < 0 ? d + size : d;
  }
  const float* data() const { return buffer.get(); }

 private:
  std::unique_ptr<float[]> buffer;
  int32_t writeIndex;
  int32_t readIndex;
  int32_t size;
};
