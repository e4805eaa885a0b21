// The sweep oscillator, precomputed: one cycle of delay values (in samples) in a table that the
// audio loop steps through, one entry every `step` samples. Three shapes share the layout and the
// operations and differ only in how they fill the table: SineLfo, TriangleLfo, SawtoothLfo (a
// rising ramp). They are distinct types with no common base.
//
// Threads: construction allocates; generate() and clear() only write the table (and the sine's
// kept values) and may run on a host's parameter thread while the audio thread reads it.
#pragma once

#include <cstdint>
#include <memory>

// Fills entries 0 to `period` for a sweep of centre ± range. `frequency` is the rate the table
// really plays and `stepTime` the seconds per entry, both already rounded to single precision.
// A shape is built with the table's capacity.
//
// The sine keeps the values sin(F·i·stepTime·2π) of the first half of the cycle it last filled,
// in double: they depend only on the period and F (stepTime is fixed for a table), so a fill for
// a new range or centre alone (Depth, Mod Amt) only rescales them. Room for the longest cycle is
// allocated with the table, never when filling.
//
// The kept values come from sweepSine, within 2^-48 of the true sine. An entry is sin × range
// rounded to double and then to single precision: a product more than 2^-42 of its size away
// from a single-precision rounding boundary gives the same entry from any sine that close to the
// true one. The few products nearer a boundary are worked out again with std::sin. So every
// entry is the one an accurate std::sin gives (the GNU C library's is within 2^-52), at a
// fraction of its cost.
class SineShape {
 public:
  explicit SineShape(uint32_t capacity);
  void fill(float* table, uint32_t period, float frequency, float stepTime, float range,
            float centre);

 private:
  void scale(float* table, uint32_t period, float frequency, float stepTime, float range,
             float centre);
  void fillExactly(float* table, uint32_t index, uint32_t period, float frequency, float stepTime,
                   float range, float centre);

  std::unique_ptr<double[]> values;  // capacity / 2 + 1 entries
  bool valuesValid = false;
  uint32_t valuesPeriod = 0;
  uint32_t valuesFrequencyBits = 0;
  uint32_t valuesStepTimeBits = 0;
};

// sin(angle) for angles from 0 to 4 (a sweep's half cycle runs from 0 to just past π), within
// 2^-48 of the true sine, relative; other angles go to std::sin. No table, no division: the
// angle is reflected into ±π/2 and the sine's series summed to its x^21 term.
double sweepSine(double angle);
struct TriangleShape {
  explicit TriangleShape(uint32_t) {}
  static void fill(float* table, uint32_t period, float frequency, float stepTime, float range,
                   float centre);
};
struct SawtoothShape {
  explicit SawtoothShape(uint32_t) {}
  static void fill(float* table, uint32_t period, float frequency, float stepTime, float range,
                   float centre);
};

template <class Shape>
class LfoTable {
 public:
  // `span` is the longest cycle in seconds; `step` >= 1 samples per entry. Allocates room for
  // capacity + 1 entries, all zero, so that a cycle cut to the table still has its last entry.
  LfoTable(uint32_t step, uint32_t span, float rate);
  virtual ~LfoTable() = default;
  LfoTable(const LfoTable&) = delete;
  LfoTable& operator=(const LfoTable&) = delete;

  // Refills the table for a sweep of centre ± range at `frequency` Hz and restarts the cycle at
  // its first entry. The step rhythm (lastStep) goes on.
  void generate(float range, float frequency, float centre);

  // The current entry; the cycle visits entries 0 to period inclusive.
  float next() {
    const float value = table[readIndex];
    if (readIndex < period) {
      ++readIndex;
    } else {
      readIndex = 0;
    }
    return value;
  }

  // True once every `step` counts of the caller's sample counter (wrapping arithmetic).
  bool isStepDue(int32_t counter) {
    if (static_cast<uint32_t>(counter) - static_cast<uint32_t>(lastStep) != step) return false;
    lastStep = counter;
    return true;
  }

  // Zeroes every entry and restarts the cycle; period and the step rhythm stay.
  void clear();

  float getRate() const { return rate; }
  uint32_t getStep() const { return step; }
  uint32_t getCapacity() const { return capacity; }
  uint32_t getPeriod() const { return period; }
  uint32_t getReadIndex() const { return readIndex; }
  int32_t getLastStep() const { return lastStep; }
  void setLastStep(int32_t counter) { lastStep = counter; }
  float entry(uint32_t index) const { return table[index]; }

 private:
  std::unique_ptr<float[]> table;
  float inverseRate;
  float rate;
  uint32_t step;
  uint32_t capacity;
  uint32_t readIndex = 0;
  int32_t lastStep = 0;
  uint32_t period = 0;
  Shape shape;
};

using SineLfo = LfoTable<SineShape>;
using TriangleLfo = LfoTable<TriangleShape>;
using SawtoothLfo = LfoTable<SawtoothShape>;

extern template class LfoTable<SineShape>;
extern template class LfoTable<TriangleShape>;
extern template class LfoTable<SawtoothShape>;
