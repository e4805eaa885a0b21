// A circular buffer that delays one channel by a whole number of samples, 0 to size - 1.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

class DelayLine {
 public:
  // Allocates and clears `size` samples (size >= 1). The starting delay is size - 1.
  explicit DelayLine(int32_t size);
  DelayLine(const DelayLine&) = delete;
  DelayLine& operator=(const DelayLine&) = delete;

  // Moves the read position; the output jumps to the older sample at once. Delays beyond the
  // buffer give size - 1, negative ones give 0. Safe to call from a host's parameter thread while
  // the audio thread ticks: the delay is the only thing it writes.
  void setDelay(int32_t delay) {
    delay_.store(delay < 0 ? 0 : (delay < size ? delay : size - 1), std::memory_order_relaxed);
  }

  // Stores `input`, then returns the sample `delay` ticks old (the input itself at delay 0).
  float tick(float input) {
    const int32_t write = writeIndex;
    buffer[write] = input;
    const int32_t read = positionBehind(write, getDelay());
    writeIndex = write + 1 == size ? 0 : write + 1;
    return buffer[read];
  }

  // Direct access for the audio loop, which runs the ticks of many frames inside its own loop:
  // with store = getWriteIndex() and take = getReadIndex(), read once, tick k of a stretch stores
  // its input at samples()[store + k] and then takes samples()[take + k], as tick does. A stretch
  // ends before either position wraps (ticksBeforeWrap); advance then moves past it.
  float* samples() { return buffer.get(); }
  int32_t ticksBeforeWrap(int32_t store, int32_t take) const {
    return size - (store > take ? store : take);
  }
  void advance(int32_t count) {
    const int32_t write = writeIndex + count;
    writeIndex = write >= size ? write - size : write;
  }

  // Silences the stored samples; the delay stays.
  void clear();

  int32_t getSize() const { return size; }
  int32_t getWriteIndex() const { return writeIndex; }
  // Where the next tick takes its sample (after storing its own at getWriteIndex()).
  int32_t getReadIndex() const { return positionBehind(writeIndex, getDelay()); }
  // The delay in effect, 0 to size - 1.
  int32_t getDelay() const { return delay_.load(std::memory_order_relaxed); }
  const float* data() const { return buffer.get(); }

 private:
  int32_t positionBehind(int32_t position, int32_t ticks) const {
    const int32_t p = position - ticks;
    return p < 0 ? p + size : p;
  }

  std::unique_ptr<float[]> buffer;
  int32_t writeIndex;  // moved by the audio thread only
  // The read position is kept as its distance behind the write position: a delay set from
  // another thread then always lands whole, and is never undone by the audio thread moving on.
  std::atomic<int32_t> delay_;
  int32_t size;
};
