#include "flanger/lfo_tables.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The sweep's angle for entry i, in double in the order written.
double sweepAngle(uint32_t i, float frequency, float stepTime) {
  return static_cast<double>(frequency) * i * stepTime * kTwoPi;
}

// π as the nearest double and the rest.
constexpr double kPiHigh = 3.141592653589793116;
constexpr double kPiLow = 1.2246467991473532e-16;

// (−1)^k / (2k + 1)! for k = 1 to 10: the sine's series after its first term.
constexpr double kSineSeries[10] = {
    -1.0 / 6.0,
    1.0 / 120.0,
    -1.0 / 5040.0,
    1.0 / 362880.0,
    -1.0 / 39916800.0,
    1.0 / 6227020800.0,
    -1.0 / 1307674368000.0,
    1.0 / 355687428096000.0,
    -1.0 / 121645100408832000.0,
    1.0 / 51090942171709440000.0,
};

// A double rounds to single precision by its low 29 bits: at 2^28 it lies half-way between two
// floats. Products within kNearBoundary units in their last place of that, which takes in all
// within 2^-42 of their size, are worked out again: the fill's sine is within 2^-48 of the true
// one and the C library's closer still, so any other product rounds the same from either.
constexpr uint32_t kBoundary = 0x10000000;
constexpr uint32_t kNearBoundary = 2048;
constexpr uint32_t kFlip = 0x80000000;

bool nearBoundary(double product) {
  uint64_t bits;
  std::memcpy(&bits, &product, sizeof(bits));
  const uint32_t low = static_cast<uint32_t>(bits) & 0x1FFFFFFF;
  return low - (kBoundary - kNearBoundary) <= 2 * kNearBoundary;
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
    for (uint32_t i = 0; i <= half; ++i)
      values[i] = sweepSine(sweepAngle(i, frequency, stepTime));
    valuesPeriod = period;
    valuesFrequencyBits = bitsOf(frequency);
    valuesStepTimeBits = bitsOf(stepTime);
    valuesValid = true;
  }
  scale(table, period, frequency, stepTime, range, centre);
}

// Entry i and its mirror from the C library's sine, which then replaces the kept value.
void SineShape::fillExactly(float* table, uint32_t i, uint32_t period, float frequency,
                            float stepTime, float range, float centre) {
  values[i] = std::sin(sweepAngle(i, frequency, stepTime));
  const float t = static_cast<float>(values[i] * range);
  table[i] = t + centre;
  table[period - i] = centre - t;  // at the half-way entry this write wins
}

// table[i] = t + centre and table[period − i] = centre − t with t = sin × range rounded to double
// and then to single precision, from the kept values; products near a rounding boundary are
// worked out again from std::sin. Blocks of four go through SSE2, which every target has.
void SineShape::scale(float* table, uint32_t period, float frequency, float stepTime, float range,
                      float centre) {
  const uint32_t half = period / 2;
  const double r = range;
  // Below 2^-60 a product could fall among the single-precision subnormals, whose boundaries
  // nearBoundary does not know. No Mod Amt gives such a range, nor one that is not finite.
  if (!std::isfinite(range) || (range != 0.0f && std::fabs(range) < 0x1p-60f)) {
    for (uint32_t i = 0; i <= half; ++i)
      fillExactly(table, i, period, frequency, stepTime, range, centre);
    return;
  }
  float* const last = table + period;
  uint32_t i = 0;
#if defined(__SSE2__)
  // Four entries at a time while all four lie in the first half, so that every write of an
  // entry up to the half-way one comes before the mirrored write of the same entry. A block of
  // 64 with a product near a boundary is gone over again entry by entry.
  const __m128d r2 = _mm_set1_pd(r);
  const __m128 c4 = _mm_set1_ps(centre);
  const __m128i lowBits = _mm_set1_epi32(0x1FFFFFFF);
  // nearBoundary's unsigned comparison as a signed one: both sides moved by 2^31.
  const __m128i below = _mm_set1_epi32(static_cast<int32_t>(kBoundary - kNearBoundary + kFlip));
  const __m128i window = _mm_set1_epi32(static_cast<int32_t>(2 * kNearBoundary + 1 + kFlip));
  const uint32_t quads = (half + 1) & ~3u;
  while (i < quads) {
    const uint32_t blockStart = i;
    const uint32_t blockEnd = std::min(quads, i + 64);
    __m128i near = _mm_setzero_si128();
    for (; i < blockEnd; i += 4) {
      const __m128d p0 = _mm_mul_pd(_mm_loadu_pd(&values[i]), r2);
      const __m128d p1 = _mm_mul_pd(_mm_loadu_pd(&values[i + 2]), r2);
      const __m128 t = _mm_movelh_ps(_mm_cvtpd_ps(p0), _mm_cvtpd_ps(p1));
      _mm_storeu_ps(table + i, _mm_add_ps(t, c4));
      const __m128 m = _mm_sub_ps(c4, t);
      _mm_storeu_ps(last - i - 3, _mm_shuffle_ps(m, m, _MM_SHUFFLE(0, 1, 2, 3)));
      // The low 32 bits of each product.
      const __m128i low = _mm_castps_si128(
          _mm_shuffle_ps(_mm_castpd_ps(p0), _mm_castpd_ps(p1), _MM_SHUFFLE(2, 0, 2, 0)));
      const __m128i offset = _mm_sub_epi32(_mm_and_si128(low, lowBits), below);
      near = _mm_or_si128(near, _mm_cmplt_epi32(offset, window));
    }
    if (_mm_movemask_epi8(near) != 0) {
      for (uint32_t j = blockStart; j < blockEnd; ++j) {
        if (nearBoundary(values[j] * r))
          fillExactly(table, j, period, frequency, stepTime, range, centre);
      }
    }
  }
#endif
  for (; i <= half; ++i) {
    const double p = values[i] * r;
    if (nearBoundary(p)) {
      fillExactly(table, i, period, frequency, stepTime, range, centre);
    } else {
      const auto t = static_cast<float>(p);
      table[i] = t + centre;
      last[-static_cast<ptrdiff_t>(i)] = centre - t;
    }
  }
}

double sweepSine(double angle) {
  if (!(angle >= 0.0 && angle <= 4.0)) return std::sin(angle);
  // π − angle keeps its precision near π: the first part is exact there.
  const double x = std::min(angle, (kPiHigh - angle) + kPiLow);
  const double x2 = x * x;
  double sum = kSineSeries[9];
  for (int k = 8; k >= 0; --k)
    sum = sum * x2 + kSineSeries[k];
  return x + x * (x2 * sum);
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
