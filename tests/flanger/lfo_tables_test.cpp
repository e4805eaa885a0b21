// The sweep tables: capacity, cycle length per frequency, the values of each shape, reading a
// cycle, the step rhythm and clear.
#include "flanger/lfo_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

namespace {

constexpr uint32_t kStep = 100;  // samples per entry, as the flanger builds them
constexpr uint32_t kSpan = 96;   // seconds
constexpr float kRate = 44100.0f;
constexpr uint32_t kCapacity = 42336;  // 96 s of 100-sample steps at 44100 Hz

// The flanger's default sweep: 120.00008 BPM over 64 notes.
const float kDefaultSweep = 120.00008f / 3840.0f;

template <class Table>
class LfoTableTest : public ::testing::Test {};
using Shapes = ::testing::Types<SineLfo, TriangleLfo, SawtoothLfo>;
TYPED_TEST_SUITE(LfoTableTest, Shapes);

TEST(LfoTable, CapacityIsSpanSecondsOfSteps) {
  struct Case {
    uint32_t step, span;
    float rate;
    uint32_t capacity;
  };
  const Case cases[] = {
      {100, 96, 44100.0f, 42336},   {100, 96, 48000.0f, 46080}, {100, 96, 8000.0f, 7680},
      {100, 96, 768000.0f, 737280}, {1, 1, 44100.0f, 44100},    {100, 1, 22050.0f, 220},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.step) + " " + std::to_string(c.span) + " " +
                 std::to_string(c.rate));
    SineLfo table(c.step, c.span, c.rate);
    EXPECT_EQ(table.getCapacity(), c.capacity);
    EXPECT_EQ(table.getRate(), c.rate);
    EXPECT_EQ(table.getStep(), c.step);
    EXPECT_EQ(table.getReadIndex(), 0u);
    EXPECT_EQ(table.getLastStep(), 0);
  }
}

TYPED_TEST(LfoTableTest, PeriodPerFrequency) {
  struct Case {
    const char* what;
    float frequency;
    uint32_t period;
  };
  const Case cases[] = {
      {"2 Hz", 2.0f, 220},
      {"72 BPM over 64 notes: 53.333332 s, not 53.333333", 0.01875f, 23519},
      {"the default sweep, 0.031250019 Hz", kDefaultSweep, 14111},
      {"the fastest sweep, 200 BPM over 1 note", 200.0f / 60.0f, 132},
      {"the slowest sweep, 60 BPM over 96 notes: the whole table", 60.0f / 5760.0f, kCapacity},
      {"slower than the table holds", 0.001f, kCapacity},
      {"0 Hz", 0.0f, kCapacity},
      {"-0 Hz", -0.0f, kCapacity},
      {"NaN", std::numeric_limits<float>::quiet_NaN(), kCapacity},
      {"negative: the low 32 bits of -220 exceed the table", -2.0f, kCapacity},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TypeParam table(kStep, kSpan, kRate);
    table.setLastStep(1234);
    table.generate(24.0f, c.frequency, 50.0f);
    EXPECT_EQ(table.getPeriod(), c.period);
    EXPECT_EQ(table.getCapacity(), kCapacity);
    EXPECT_EQ(table.getReadIndex(), 0u);
    EXPECT_EQ(table.getLastStep(), 1234) << "generate keeps the step rhythm";
    for (uint32_t i = 0; i <= table.getPeriod(); ++i) {
      ASSERT_TRUE(std::isfinite(table.entry(i))) << "entry " << i;
    }
  }
}

TYPED_TEST(LfoTableTest, NextVisitsZeroToPeriodThenWraps) {
  TypeParam table(kStep, kSpan, kRate);
  table.generate(24.0f, 2.0f, 50.0f);
  ASSERT_EQ(table.getPeriod(), 220u);
  for (int cycle = 0; cycle < 2; ++cycle) {
    for (uint32_t i = 0; i <= 220; ++i) {
      ASSERT_EQ(table.getReadIndex(), i);
      ASSERT_EQ(table.next(), table.entry(i)) << "cycle " << cycle << " entry " << i;
    }
  }
  EXPECT_EQ(table.getReadIndex(), 0u);
}

TYPED_TEST(LfoTableTest, GenerateRestartsAtTheFirstEntry) {
  TypeParam table(kStep, kSpan, kRate);
  table.generate(24.0f, 2.0f, 50.0f);
  for (int i = 0; i < 77; ++i)
    table.next();
  table.generate(10.0f, 3.0f, 120.0f);
  EXPECT_EQ(table.getReadIndex(), 0u);
  EXPECT_EQ(table.next(), table.entry(0));
  const float first = std::is_same_v<TypeParam, SineLfo> ? 120.0f : 110.0f;
  EXPECT_EQ(table.entry(0), first);
}

TYPED_TEST(LfoTableTest, StepIsDueEveryHundredCounts) {
  TypeParam table(kStep, kSpan, kRate);
  for (int32_t counter = 0; counter <= 350; ++counter) {
    const bool due = counter == 100 || counter == 200 || counter == 300;
    ASSERT_EQ(table.isStepDue(counter), due) << "counter " << counter;
  }
  EXPECT_EQ(table.getLastStep(), 300);
  // A counter that jumped past the step is not due, and changes nothing.
  EXPECT_FALSE(table.isStepDue(450));
  EXPECT_EQ(table.getLastStep(), 300);
}

TYPED_TEST(LfoTableTest, StepRhythmGoesOnAcrossTheCounterWrap) {
  TypeParam table(kStep, kSpan, kRate);
  const int32_t start = INT32_MAX - 49;
  table.setLastStep(start);
  uint32_t counter = static_cast<uint32_t>(start);
  int dueCount = 0;
  for (int n = 1; n <= 300; ++n) {
    ++counter;
    const bool due = table.isStepDue(static_cast<int32_t>(counter));
    ASSERT_EQ(due, n % 100 == 0) << "count " << n;
    if (due) ++dueCount;
  }
  EXPECT_EQ(dueCount, 3);
  EXPECT_EQ(table.getLastStep(), static_cast<int32_t>(static_cast<uint32_t>(start) + 300u));
  EXPECT_LT(table.getLastStep(), 0) << "the counter did wrap";
}

TYPED_TEST(LfoTableTest, ClearZeroesEveryEntryEvenAWholeTableCycle) {
  TypeParam table(kStep, kSpan, kRate);
  table.generate(24.0f, 60.0f / 5760.0f, 50.0f);
  ASSERT_EQ(table.getPeriod(), table.getCapacity()) << "the cycle uses the extra entry";
  ASSERT_NE(table.entry(kCapacity), 0.0f);
  for (int i = 0; i < 5; ++i)
    table.next();
  table.setLastStep(700);
  table.clear();
  EXPECT_EQ(table.getReadIndex(), 0u);
  EXPECT_EQ(table.getPeriod(), kCapacity);
  EXPECT_EQ(table.getLastStep(), 700);
  for (uint32_t i = 0; i <= kCapacity; ++i) {
    ASSERT_EQ(table.next(), 0.0f) << "entry " << i;
  }
  EXPECT_EQ(table.getReadIndex(), 0u) << "still cycling over entries 0 to period";
}

// ---------------------------------------------------------------------------------------------
// Values of each shape, at range 24 and centre 50 and 2 Hz (period 220)

constexpr float kRange = 24.0f;
constexpr float kCentre = 50.0f;

TEST(SineLfo, StartsAtTheCentreAndPeaksAQuarterThrough) {
  SineLfo table(kStep, kSpan, kRate);
  table.generate(kRange, 2.0f, kCentre);
  ASSERT_EQ(table.getPeriod(), 220u);
  EXPECT_EQ(table.entry(0), 50.0f);
  EXPECT_EQ(table.entry(220), 50.0f);
  EXPECT_GE(table.entry(110), std::nextafter(50.0f, 0.0f));
  EXPECT_LE(table.entry(110), std::nextafter(50.0f, 100.0f));
  EXPECT_EQ(table.entry(55), 74.0f);
  EXPECT_EQ(table.entry(165), 26.0f);
  for (uint32_t i = 0; i <= 220; ++i) {
    EXPECT_GE(table.entry(i), 26.0f) << i;
    EXPECT_LE(table.entry(i), 74.0f) << i;
  }
}

TEST(SineLfo, ANegativeRangeFallsFirst) {
  SineLfo table(kStep, kSpan, kRate);
  table.generate(-kRange, 2.0f, kCentre);
  EXPECT_EQ(table.entry(0), 50.0f);
  EXPECT_EQ(table.entry(55), 26.0f);
  EXPECT_EQ(table.entry(165), 74.0f);
}

// ---------------------------------------------------------------------------------------------
// The sine table against the C library's sine: every entry must be the one std::sin gives,
// although the fill reads its own, faster sine.

uint32_t bitsOf(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, sizeof(bits));
  return bits;
}

// The sweep's angle at entry i of a cycle of `period` entries, as the fill forms it: the played
// frequency and the step time in single precision, their product with i and 2π in double.
double sweepAngleAt(uint32_t i, uint32_t period, float rate = kRate) {
  const float played = rate / static_cast<float>(kStep * period);
  const float stepTime = static_cast<float>(kStep) * (1.0f / rate);
  return static_cast<double>(played) * i * stepTime * 6.28318530717958;
}

// The table as std::sin makes it.
std::vector<float> sineReference(uint32_t period, float rate, float range, float centre) {
  std::vector<float> table(period + 1);
  for (uint32_t i = 0; i <= period / 2; ++i) {
    const float t = static_cast<float>(std::sin(sweepAngleAt(i, period, rate)) * range);
    table[i] = t + centre;
    table[period - i] = centre - t;
  }
  return table;
}

// Compares entries by their bits, so that NaNs compare too; reports the first difference.
void expectSineReference(const SineLfo& table, float rate, float range, float centre) {
  const uint32_t period = table.getPeriod();
  const std::vector<float> expected = sineReference(period, rate, range, centre);
  for (uint32_t i = 0; i <= period; ++i) {
    ASSERT_EQ(bitsOf(table.entry(i)), bitsOf(expected[i]))
        << "period " << period << ", range " << range << ", centre " << centre << ": entry " << i
        << " is " << table.entry(i) << ", std::sin gives " << expected[i];
  }
}

TEST(SweepSine, WithinTwoToTheMinus49OfTheLibrarySine) {
  const auto check = [](double angle) {
    // Past 3 the sine of π − angle, with π in two parts: one Windows C runtime's sine loses
    // digits near π, while any is exact enough near 0.
    const double expected = angle > 3.0 && angle <= 4.0
                                ? std::sin((3.141592653589793116 - angle) + 1.2246467991473532e-16)
                                : std::sin(angle);
    const double error = std::fabs(sweepSine(angle) - expected);
    ASSERT_LE(error, std::fabs(expected) * 0x1p-49) << "angle " << angle;
  };
  for (int i = 0; i <= 400000; ++i)
    check(4.0 * i / 400000.0);
  // Each angle a table of the flanger's range of cycle lengths asks for.
  for (uint32_t period = 132; period <= kCapacity; period += period < 1000 ? 1 : 61) {
    for (uint32_t i = 0; i <= period / 2; i += 1 + period / 2000)
      check(sweepAngleAt(i, period));
  }
  // Near π, where the sine is near 0 and a careless reflection loses its digits.
  const double pi = 3.141592653589793;
  double angle = pi;
  for (int i = 0; i < 64; ++i) {
    check(angle);
    angle = std::nextafter(angle, 0.0);
  }
  for (double a : {pi + 1e-7, pi - 1e-9, pi / 2, 1e-300, 0x1p-30, 4.0})
    check(a);
  EXPECT_EQ(sweepSine(0.0), 0.0);
  // Outside its range it answers what std::sin does.
  for (double a : {-1.0, 4.5, 100.0, -0.0}) {
    EXPECT_EQ(sweepSine(a), std::sin(a)) << a;
  }
  EXPECT_TRUE(std::isnan(sweepSine(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_TRUE(std::isnan(sweepSine(std::numeric_limits<double>::infinity())));
}

TEST(SineLfo, EveryEntryIsTheOneTheLibrarySineGives) {
  // Cycle lengths from the shortest the flanger asks for to the whole table, odd and even, at
  // the rates a host may run at; ranges of both signs, whole and fractional.
  const float ranges[] = {24.0f, -24.0f, 98.0f, 0.5f, -0.9999999f, 31.415926f, 1e-3f};
  for (float rate : {44100.0f, 48000.0f, 96000.0f, 22050.0f}) {
    SineLfo table(kStep, kSpan, rate);
    for (float frequency : {10.0f / 3.0f, 2.0f, 1.0f / 3.0f, 0.1234567f, kDefaultSweep, 0.0f}) {
      for (float range : ranges) {
        table.generate(range, frequency, 100.0f - range);
        expectSineReference(table, rate, range, 100.0f - range);
      }
    }
  }
}

TEST(SineLfo, NewRangesAndCentresOfTheSameCycleMatchTheLibrarySine) {
  // Depth and Mod Amt keep the cycle and change only the range or the centre.
  SineLfo table(kStep, kSpan, kRate);
  const float frequency = 60.0f / 5760.0f;  // the whole table
  const float steps[][2] = {{48.0f, 50.0f}, {48.0f, 150.0f}, {12.5f, 150.0f},
                            {-7.0f, 7.0f},  {0.0f, 64.0f},   {99.0f, 100.0f}};
  for (const auto& [range, centre] : steps) {
    table.generate(range, frequency, centre);
    expectSineReference(table, kRate, range, centre);
  }
  // A new cycle after rescaled ones is worked out afresh.
  table.generate(20.0f, 2.0f, 60.0f);
  expectSineReference(table, kRate, 20.0f, 60.0f);
}

TEST(SineLfo, ProductsNearARoundingBoundaryMatchTheLibrarySine) {
  // Found by search: at one entry of each (in the comment), the fill's sine and the 64-bit GNU C
  // library's differ in the last place and their products with the range round to neighbouring
  // floats.
  struct Case {
    float frequency;
    uint32_t period;
    float range;
  };
  const Case found[] = {
      {60.0f / 5760.0f, kCapacity, 1.02049708f},  // entry 18878
      {60.0f / 5760.0f, kCapacity, 1.08453453f},  // entry 9964
      {0.01875f, 23519, 1.00422418f},             // entry 11542
      {kDefaultSweep, 14111, 1.25098598f},        // entry 3701
  };
  SineLfo table(kStep, kSpan, kRate);
  for (const Case& c : found) {
    for (float sign : {1.0f, -1.0f}) {
      // Centre 0, so that adding it keeps every bit of the product.
      table.generate(sign * c.range, c.frequency, 0.0f);
      ASSERT_EQ(table.getPeriod(), c.period);
      expectSineReference(table, kRate, sign * c.range, 0.0f);
    }
  }

  // And ranges for which some entry's product with std::sin lies within 16 units in the last
  // place of a half-way point between two floats, whatever the C library.
  std::vector<double> sines(kCapacity / 2 + 1);
  for (uint32_t i = 0; i <= kCapacity / 2; ++i)
    sines[i] = std::sin(sweepAngleAt(i, kCapacity));
  const auto onBoundary = [](double product) {
    uint64_t bits;
    std::memcpy(&bits, &product, sizeof(bits));
    const auto low = static_cast<int64_t>(bits & 0x1FFFFFFF);
    return std::abs(low - 0x10000000) <= 16;
  };
  std::vector<float> searched;
  for (float range = 40.0f; searched.size() < 3; range = std::nextafter(range, 100.0f)) {
    for (double sine : sines) {
      if (onBoundary(sine * range)) {
        searched.push_back(range);
        break;
      }
    }
  }
  for (float range : searched) {
    table.generate(range, 60.0f / 5760.0f, 0.0f);
    expectSineReference(table, kRate, range, 0.0f);
  }
}

TEST(SineLfo, RangesThatAreNotFiniteOrTinyMatchTheLibrarySine) {
  // No Mod Amt gives these; the table still holds what std::sin makes of them.
  SineLfo table(kStep, kSpan, kRate);
  const float ranges[] = {std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN(),
                          1e-30f,
                          -1e-40f,
                          std::numeric_limits<float>::max()};
  for (float range : ranges) {
    table.generate(range, 2.0f, 50.0f);
    expectSineReference(table, kRate, range, 50.0f);
  }
}

// A linear segment value as the fill forms it: the played frequency and the step time rounded to
// single precision, then i × slope × stepTime + start in double, rounded once.
float linearEntry(uint32_t i, uint32_t period, float slopeFactor, float range, float centre) {
  const float played = kRate / static_cast<float>(kStep * period);
  const float stepTime = static_cast<float>(kStep) * (1.0f / kRate);
  const float slope = played * range * slopeFactor;
  const float start = centre - range;
  return static_cast<float>(static_cast<double>(static_cast<float>(i)) *
                                static_cast<double>(slope) * static_cast<double>(stepTime) +
                            static_cast<double>(start));
}

TEST(TriangleLfo, RisesToTheMiddleAndFallsBackSymmetrically) {
  for (float range : {kRange, -kRange}) {
    SCOPED_TRACE(range);
    TriangleLfo table(kStep, kSpan, kRate);
    table.generate(range, 2.0f, kCentre);
    ASSERT_EQ(table.getPeriod(), 220u);
    for (uint32_t i : {0u, 1u, 2u, 54u, 55u, 109u, 110u}) {
      SCOPED_TRACE(i);
      const float expected = linearEntry(i, 220, 4.0f, range, kCentre);
      EXPECT_EQ(table.entry(i), expected);
      EXPECT_EQ(table.entry(220 - i), expected);
    }
    EXPECT_EQ(table.entry(0), kCentre - range);
    EXPECT_NEAR(table.entry(110), kCentre + range, 0.25);
  }
}

TEST(SawtoothLfo, RampsFromBottomToTopOverTheCycle) {
  for (float range : {kRange, -kRange}) {
    SCOPED_TRACE(range);
    SawtoothLfo table(kStep, kSpan, kRate);
    table.generate(range, 2.0f, kCentre);
    ASSERT_EQ(table.getPeriod(), 220u);
    for (uint32_t i : {0u, 1u, 55u, 110u, 111u, 219u, 220u}) {
      SCOPED_TRACE(i);
      EXPECT_EQ(table.entry(i), linearEntry(i, 220, 2.0f, range, kCentre));
    }
    EXPECT_EQ(table.entry(0), kCentre - range);
    EXPECT_NEAR(table.entry(220), kCentre + range, 0.25);
    for (uint32_t i = 1; i <= 220; ++i) {
      if (range > 0) {
        ASSERT_GT(table.entry(i), table.entry(i - 1)) << i;
      } else {
        ASSERT_LT(table.entry(i), table.entry(i - 1)) << i;
      }
    }
  }
}

}  // namespace
