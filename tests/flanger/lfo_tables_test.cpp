// The sweep tables: capacity, cycle length per frequency, the values of each shape, reading a
// cycle, the step rhythm and clear.
#include "flanger/lfo_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

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
