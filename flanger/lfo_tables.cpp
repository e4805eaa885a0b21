#include "flanger/lfo_tables.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

// 2π as the sweep has always used it, slightly below the full-precision value.
constexpr double kTwoPi = 6.28318530717958;

// Entries whose count does not fit the table: the cycle is cut to the table.
uint32_t periodFor(double quotient, uint32_t capacity) {
  if (std::isnan(quotient) || std::fabs(quotient) >= 9223372036854775808.0) return capacity;
  // Truncated toward zero to 64 bits, then the low 32 bits as an unsigned number.
  const auto entries = static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(quotient)));
  return entries > capacity ? capacity : entries;
}

// A linear segment value, formed in double in the order written and rounded once.
float linearValue(uint32_t i, float slope, float stepTime, float start) {
  return static_cast<float>(static_cast<double>(static_cast<float>(i)) * slope * stepTime + start);
}

uint32_t bitsOf(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof(bits));
  return bits;
}

}  // namespace

SineShape::SineShape(uint32_t capacity) : values(new double[capacity / 2 + 1]) {}

void SineShape::fill(float* table, uint32_t period, float frequency, float stepTime, float range,
                     float centre) {
  const uint32_t half = period / 2;
  const bool kept = valuesValid && period == valuesPeriod &&
                    bitsOf(frequency) == valuesFrequencyBits &&
                    bitsOf(stepTime) == valuesStepTimeBits;
  if (!kept) {
    valuesValid = false;  // until the new values are all in
    for (uint32_t i = 0; i <= half; ++i) {
      const double angle = static_cast<double>(frequency) * i * stepTime * kTwoPi;
      const double value = std::sin(angle);
      values[i] = value;
      const float t = static_cast<float>(value * range);
      table[i] = t + centre;
      table[period - i] = centre - t;  // at the half-way entry this write wins
    }
    valuesPeriod = period;
    valuesFrequencyBits = bitsOf(frequency);
    valuesStepTimeBits = bitsOf(stepTime);
    valuesValid = true;
    return;
  }
  // The same products and sums as above, in two passes the compiler vectorises; the second pass
  // writes the falling half last, so at the half-way entry it wins here too.
  const double* const sine = values.get();
  for (uint32_t i = 0; i <= half; ++i) {
    table[i] = static_cast<float>(sine[i] * range) + centre;
  }
  float* const last = table + period;
  for (uint32_t i = 0; i <= half; ++i) {
    last[-static_cast<ptrdiff_t>(i)] = centre - static_cast<float>(sine[i] * range);
  }
}

void TriangleShape::fill(float* table, uint32_t period, float frequency, float stepTime,
                         float range, float centre) {
  const float slope = frequency * range * 4.0f;
  const float start = centre - range;
  const uint32_t half = period / 2;
  for (uint32_t i = 0; i <= half; ++i) {
    const float v = linearValue(i, slope, stepTime, start);
    table[period - i] = v;
    table[i] = v;
  }
}

void SawtoothShape::fill(float* table, uint32_t period, float frequency, float stepTime,
                         float range, float centre) {
  const float slope = frequency * range * 2.0f;
  const float start = centre - range;
  for (uint32_t i = 0; i <= period; ++i)
    table[i] = linearValue(i, slope, stepTime, start);
}

template <class Shape>
LfoTable<Shape>::LfoTable(uint32_t step, uint32_t span, float rate)
    : inverseRate(1.0f / rate),
      rate(rate),
      step(step),
      capacity(static_cast<uint32_t>(static_cast<double>(static_cast<float>(span)) * rate /
                                     static_cast<double>(static_cast<float>(step)))),
      shape(capacity) {
  table.reset(new float[static_cast<size_t>(capacity) + 1]());
}

template <class Shape>
void LfoTable<Shape>::generate(float range, float frequency, float centre) {
  const float stepTime = static_cast<float>(step) * inverseRate;
  if (frequency == 0.0f || std::isnan(frequency)) frequency = 1.0e-5f;
  const float cycleTime = 1.0f / frequency;
  period = periodFor(
      static_cast<double>(cycleTime) * rate / static_cast<double>(static_cast<float>(step)),
      capacity);
  const float playedFrequency = rate / static_cast<float>(step * period);
  shape.fill(table.get(), period, playedFrequency, stepTime, range, centre);
  readIndex = 0;
}

template <class Shape>
void LfoTable<Shape>::clear() {
  std::fill(table.get(), table.get() + capacity + 1, 0.0f);
  readIndex = 0;
}

template class LfoTable<SineShape>;
template class LfoTable<TriangleShape>;
template class LfoTable<SawtoothShape>;
