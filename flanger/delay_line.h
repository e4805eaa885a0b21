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
  // buffer give size - 1, negative ones give 0.
  void setDelay(int32_t delay) {
    const int32_t e = delay < 0 ? 0 : (delay < size ? delay : size - 1);
    const int32_t read = getWriteIndex() - e;
    readIndex.store(read < 0 ? read + size : read, std::memory_order_relaxed);
  }

  // Stores `input`, then returns the sample `delay` ticks old (the input itself at delay 0).
  float tick(float input) {
    const int32_t write = getWriteIndex();
    buffer[write] = input;
    writeIndex.store(write + 1 == size ? 0 : write + 1, std::memory_order_relaxed);
    const int32_t read = getReadIndex();
    const float output = buffer[read];
    readIndex.store(read + 1 == size ? 0 : read + 1, std::memory_order_relaxed);
    return output;
  }

  // Direct access for the audio loop, which runs the ticks of many frames inside its own loop:
  // from positions (store, take) read once, tick k of a stretch stores its input at
  // samples()[store + k] and then takes samples()[take + k], as tick does. A stretch ends before
  // either position wraps (ticksBeforeWrap); moveTo then sets both positions past it.
  float* samples() { return buffer.get(); }
  int32_t ticksBeforeWrap(int32_t store, int32_t take) const {
    return size - (store > take ? store : take);
  }
  void moveTo(int32_t store, int32_t take) {
    writeIndex.store(store == size ? 0 : store, std::memory_order_relaxed);
    readIndex.store(take == size ? 0 : take, std::memory_order_relaxed);
  }

  // Silences the stored samples; the delay stays.
  void clear();

  int32_t getSize() const { return size; }
  int32_t getWriteIndex() const { return writeIndex.load(std::memory_order_relaxed); }
  int32_t getReadIndex() const { return readIndex.load(std::memory_order_relaxed); }
  // The delay in effect, 0 to size - 1.
  int32_t getDelay() const {
    const int32_t d = getWriteIndex() - getReadIndex();
    return d < 0 ? d + size : d;
  }
  const float* data() const { return buffer.get(); }

 private:
  std::unique_ptr<float[]> buffer;
  // A host may move the delay (setDelay) from its parameter thread while the audio thread ticks.
  // Each position is read and written whole, and every value written is inside the buffer, so a
  // position is always valid whichever call wins.
  std::atomic<int32_t> writeIndex;
  std::atomic<int32_t> readIndex;
  int32_t size;
};
