// DelayLine: the starting delay, setDelay's bounds, the read position it picks, and clear.
#include "flanger/delay_line.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

constexpr int32_t kSize = 200;

// Feeds 1.0 then zeros and returns the tick on which the 1.0 comes out, or -1.
int32_t impulseArrival(DelayLine& line, int32_t ticks) {
  int32_t arrival = -1;
  for (int32_t t = 0; t < ticks; ++t) {
    const float out = line.tick(t == 0 ? 1.0f : 0.0f);
    if (out == 1.0f && arrival < 0) {
      arrival = t;
    } else if (out != 0.0f) {
      ADD_FAILURE() << "unexpected output " << out << " on tick " << t;
    }
  }
  return arrival;
}

TEST(DelayLine, ANewLineDelaysBySizeMinusOne) {
  DelayLine line(kSize);
  EXPECT_EQ(line.getWriteIndex(), 0);
  EXPECT_EQ(line.getReadIndex(), 1);
  EXPECT_EQ(line.getDelay(), 199);
  // 0.0 for 199 ticks, the impulse on the 200th.
  EXPECT_EQ(impulseArrival(line, 2 * kSize), 199);
}

TEST(DelayLine, SetDelayBoundsAndImpulseTiming) {
  struct Case {
    int32_t requested;
    int32_t delay;
  };
  const Case cases[] = {
      {0, 0},     {1, 1},         {3, 3},  {100, 100}, {198, 198}, {199, 199},   {200, 199},
      {500, 199}, {INT_MAX, 199}, {-1, 0}, {-200, 0},  {-201, 0},  {INT_MIN, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("setDelay(" + std::to_string(c.requested) + ")");
    DelayLine line(kSize);
    // Move the write position off 0 first, so that wrapping is exercised.
    for (int i = 0; i < 57; ++i)
      line.tick(0.0f);
    line.setDelay(c.requested);
    EXPECT_EQ(line.getDelay(), c.delay);
    EXPECT_GE(line.getReadIndex(), 0);
    EXPECT_LT(line.getReadIndex(), kSize);
    EXPECT_EQ(impulseArrival(line, 2 * kSize), c.delay);
  }
}

TEST(DelayLine, DelayZeroPassesTheInputThrough) {
  DelayLine line(kSize);
  line.setDelay(0);
  for (int i = 0; i < 3 * kSize; ++i) {
    const float in = static_cast<float>(i) * 0.25f - 7.0f;
    ASSERT_EQ(line.tick(in), in) << "tick " << i;
  }
}

TEST(DelayLine, SetDelayWrapsTheReadIndexBelowZero) {
  DelayLine line(kSize);
  line.tick(0.0f);
  ASSERT_EQ(line.getWriteIndex(), 1);
  line.setDelay(3);
  EXPECT_EQ(line.getReadIndex(), 198);
  EXPECT_EQ(line.getWriteIndex(), 1);
}

TEST(DelayLine, SetDelayJumpsToTheOlderSampleAtOnce) {
  DelayLine line(kSize);
  line.setDelay(0);
  for (int i = 1; i <= 10; ++i)
    line.tick(static_cast<float>(i));
  line.setDelay(4);
  // The input of 4 ticks before the newest write: 11 is written, 7 comes out.
  EXPECT_EQ(line.tick(11.0f), 7.0f);
  EXPECT_EQ(line.tick(12.0f), 8.0f);
}

TEST(DelayLine, ClearSilencesTheBufferAndKeepsTheDelay) {
  DelayLine line(kSize);
  line.setDelay(5);
  for (int i = 0; i < 3 * kSize; ++i)
    line.tick(1.0f + static_cast<float>(i));
  const int32_t write = line.getWriteIndex();
  const int32_t read = line.getReadIndex();
  line.clear();
  EXPECT_EQ(line.getWriteIndex(), write);
  EXPECT_EQ(line.getReadIndex(), read);
  EXPECT_EQ(line.getDelay(), 5);
  for (int32_t i = 0; i < kSize; ++i)
    EXPECT_EQ(line.data()[i], 0.0f) << "entry " << i;
  std::vector<float> out;
  for (int i = 1; i <= 8; ++i)
    out.push_back(line.tick(100.0f + static_cast<float>(i)));
  EXPECT_EQ(out, (std::vector<float>{0, 0, 0, 0, 0, 101, 102, 103}));
}

TEST(DelayLine, ANewLineOfAnySizeReadsInsideItsBuffer) {
  for (int32_t size : {1, 2, 3, 200}) {
    SCOPED_TRACE("size " + std::to_string(size));
    DelayLine line(size);
    EXPECT_EQ(line.getDelay(), size - 1);
    EXPECT_GE(line.getReadIndex(), 0);
    // Checked before any tick: a read position past the end would be read on the first tick.
    ASSERT_LT(line.getReadIndex(), size);
    EXPECT_EQ(impulseArrival(line, 2 * size + 1), size - 1);
  }
}

TEST(DelayLine, ALineOfOneSampleOnlyPassesThrough) {
  DelayLine line(1);
  for (int32_t requested : {0, 1, 5, -3}) {
    SCOPED_TRACE(requested);
    line.setDelay(requested);
    EXPECT_EQ(line.getDelay(), 0);
    EXPECT_EQ(line.tick(2.5f), 2.5f);
  }
}

}  // namespace
