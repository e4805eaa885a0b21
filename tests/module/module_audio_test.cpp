// Audio through the built module: the dry and delayed mix, the sweep's step clock, the stereo
// pan, suspend and resume, the two audio calls, in-place and block-size independence, and the
// sweep's timing at other sample rates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/module/module_harness.h"

namespace tftest {
namespace {

using tfhost::Effect;

constexpr int64_t kSilent = -1;  // the delayed copy carried no ramp

// The ramp 1, 2, 3, ... on the left and its negative on the right, from frame `begin` on.
Stereo ramp(int64_t begin, std::size_t frames) {
  Stereo s(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    const auto value = static_cast<float>(begin + static_cast<int64_t>(i) + 1);
    s.left[i] = value;
    s.right[i] = -value;
  }
  return s;
}

// Reads the delay in force at every frame from the output. On the plain path (Stereo 0) with Send
// 1 and a boost factor of 1 each channel's output is in(t) + in(t - delay), so with the ramp as
// input the delayed term names the frame it came from. Frame 0 is the first frame the probe feeds.
class DelayProbe {
 public:
  explicit DelayProbe(Effect& effect) : effect_(effect) {}

  // Processes `frames` more frames and records their delays: kSilent where the delayed copy reaches
  // back before the ramp began or before the delay lines were last cleared.
  void run(std::size_t frames) {
    const Stereo in = ramp(now(), frames);
    const Stereo out = renderAll(effect_, in);
    for (std::size_t i = 0; i < frames; ++i) {
      const int64_t t = now();
      const double echoLeft = static_cast<double>(out.left[i]) - in.left[i];
      const double echoRight = static_cast<double>(out.right[i]) - in.right[i];
      if (echoLeft != -echoRight && !disagreed_) {
        disagreed_ = true;
        ADD_FAILURE() << "channels disagree from frame " << t << " on: " << echoLeft << " vs "
                      << -echoRight;
      }
      delays_.push_back(echoLeft == 0.0 ? kSilent : t - (static_cast<int64_t>(echoLeft) - 1));
    }
  }

  int64_t now() const { return static_cast<int64_t>(delays_.size()); }
  int64_t delayAt(int64_t frame) const { return delays_[static_cast<std::size_t>(frame)]; }

  // Frames [from, to) had delay `delay`, with the lines holding the ramp from frame `oldest` on.
  ::testing::AssertionResult delaysAre(int64_t from, int64_t to, int64_t delay,
                                       int64_t oldest = 0) const {
    for (int64_t t = from; t < to; ++t) {
      const int64_t expected = t - delay >= oldest ? delay : kSilent;
      if (delayAt(t) != expected) {
        return ::testing::AssertionFailure()
               << "frame " << t << ": delay " << delayAt(t) << ", expected " << expected
               << " (delay " << delay << " from frame " << from << ")";
      }
    }
    return ::testing::AssertionSuccess();
  }

 private:
  Effect& effect_;
  std::vector<int64_t> delays_;
  bool disagreed_ = false;
};

// Tempo 200 BPM, one note per cycle: 133 steps per sweep at 44100 Hz, so successive entries
// differ (the default sweep stays at its centre for its first 46 steps).
void fastSweep(Effect& effect) {
  effect.setParameter(kTempo, 1.0f);
  effect.setParameter(kResolution, 0.0f);
}

// The delays of the first `steps` sweep steps after resume (frames 100, 200, ...).
std::vector<int64_t> stepDelays(Effect& effect, std::size_t steps) {
  DelayProbe probe(effect);
  std::vector<int64_t> delays;
  probe.run(100);
  for (std::size_t k = 0; k < steps; ++k) {
    probe.run(100);
    delays.push_back(probe.delayAt(100 + 100 * static_cast<int64_t>(k)));
  }
  return delays;
}

// The shortest shift under which the sequence repeats itself, up to half its length.
std::size_t shortestPeriod(const std::vector<int64_t>& values) {
  for (std::size_t p = 1; p <= values.size() / 2; ++p) {
    bool repeats = true;
    for (std::size_t k = 0; k + p < values.size() && repeats; ++k) {
      repeats = values[k] == values[k + p];
    }
    if (repeats) return p;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// The mix without a sweep

TEST(ModuleAudio, OutputEqualsInputWithoutModulationSendOrBoost) {
  const Stereo in = noise(10000, 1);
  for (Call call : {Call::Replacing, Call::Accumulating}) {
    auto effect = newEffect();
    effect->resume();
    effect->setParameter(kModAmount, 0.0f);
    effect->setParameter(kSend, 0.0f);  // Boost stays at 0.25: factor 1
    Stereo out(in.frames());
    render(*effect, call, in, out, 0, in.frames(), 512);
    EXPECT_TRUE(sameBits(in, out)) << (call == Call::Replacing ? "replacing" : "accumulating");
  }
}

TEST(ModuleAudio, DepthZeroWithoutModulationGivesTwiceTheInputTimesTheBoost) {
  const Stereo in = noise(3000, 2);
  for (float boost : {0.25f, 1.0f, 0.1f, 0.6f}) {
    SCOPED_TRACE(boost);
    auto effect = newEffect();
    effect->resume();
    effect->setParameter(kModAmount, 0.0f);
    effect->setParameter(kDepth, 0.0f);  // with Mod Amt already 0: the lines move to delay 0
    effect->setParameter(kBoost, boost);
    Stereo expected(in.frames());
    const float factor = boost * 4.0f;
    for (std::size_t i = 0; i < in.frames(); ++i) {
      expected.left[i] = (in.left[i] + in.left[i]) * factor;
      expected.right[i] = (in.right[i] + in.right[i]) * factor;
    }
    EXPECT_TRUE(sameBits(expected, renderAll(*effect, in)));
  }
}

TEST(ModuleAudio, BoostZeroSilencesReplacingAndLeavesProcessBuffersAlone) {
  const Stereo in = noise(5000, 3);
  const Stereo before = noise(5000, 4);
  for (Call call : {Call::Replacing, Call::Accumulating}) {
    auto effect = newEffect();
    effect->resume();
    effect->setParameter(kStereo, 1.0f);
    effect->setParameter(kBoost, 0.0f);
    Stereo out = before;
    render(*effect, call, in, out, 0, in.frames(), 1000);
    for (std::size_t i = 0; i < in.frames(); ++i) {
      if (call == Call::Replacing) {
        ASSERT_EQ(out.left[i], 0.0f) << i;
        ASSERT_EQ(out.right[i], 0.0f) << i;
      } else {
        ASSERT_EQ(out.left[i], before.left[i]) << i;
        ASSERT_EQ(out.right[i], before.right[i]) << i;
      }
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The step clock

TEST(ModuleAudio, FirstSweepStepComesOnThe101stModulatedFrame) {
  {
    SCOPED_TRACE("straight after resume");
    auto effect = newEffect();
    effect->setParameter(kStereo, 0.0f);
    effect->resume();
    DelayProbe probe(*effect);
    probe.run(300);
    // The lines keep their starting delay of 199 until the step: nothing reaches back that far.
    EXPECT_TRUE(probe.delaysAre(0, 100, 199));
    // The step takes the sine's first entry, the sweep centre of 50 samples.
    EXPECT_TRUE(probe.delaysAre(100, 300, 50));
  }
  {
    SCOPED_TRACE("after 250 frames without modulation");
    auto effect = newEffect();
    effect->setParameter(kStereo, 0.0f);
    effect->resume();
    effect->setParameter(kModAmount, 0.0f);
    DelayProbe probe(*effect);
    probe.run(250);  // the clock stands still, and the delay is seen to be 199
    EXPECT_TRUE(probe.delaysAre(0, 250, 199));
    effect->setParameter(kModAmount, 0.25f);  // the default sweep again, its cycle restarted
    probe.run(300);
    EXPECT_TRUE(probe.delaysAre(250, 350, 199));
    EXPECT_TRUE(probe.delaysAre(350, 550, 50));
  }
}

TEST(ModuleAudio, WithoutResumeEveryStepTakesTheClearedTableUntilAParameterFillsIt) {
  auto effect = newEffect();
  effect->setParameter(kStereo, 0.0f);
  DelayProbe probe(*effect);
  probe.run(250);
  EXPECT_TRUE(probe.delaysAre(0, 100, 199));
  EXPECT_TRUE(probe.delaysAre(100, 250, 0));
  effect->setParameter(kDepth, 0.25f);  // refills the sine around the centre
  probe.run(250);
  EXPECT_TRUE(probe.delaysAre(250, 300, 0));
  EXPECT_TRUE(probe.delaysAre(300, 500, 50));
}

TEST(ModuleAudio, DepthWithoutModulationSetsTheDelayAtOnce) {
  struct Case {
    float depth;
    int64_t delay;
  };
  const Case cases[] = {
      {0.0f, 0},      {0.25f, 50}, {0.5049f, 100},  // 100.98 samples, truncated
      {0.995f, 199},  {1.0f, 199}, {2.0f, 199},     // the line holds 199 at most
      {1.0e30f, 199}, {-0.5f, 0},  {-1.0e30f, 0},   // a negative delay is none
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.depth);
    auto effect = newEffect();
    effect->setParameter(kStereo, 0.0f);
    effect->resume();
    effect->setParameter(kModAmount, 0.0f);
    effect->setParameter(kDepth, c.depth);
    DelayProbe probe(*effect);
    probe.run(400);
    EXPECT_TRUE(probe.delaysAre(0, 400, c.delay));
  }
}

TEST(ModuleAudio, ModAmtZeroHoldsTheDelayUntilDepthMovesItAndStopsTheClock) {
  auto effect = newEffect();
  effect->setParameter(kStereo, 0.0f);
  effect->resume();
  DelayProbe probe(*effect);
  probe.run(150);
  EXPECT_TRUE(probe.delaysAre(100, 150, 50));
  effect->setParameter(kModAmount, 0.0f);  // the lines keep the step's delay
  probe.run(100);
  EXPECT_TRUE(probe.delaysAre(150, 250, 50));
  effect->setParameter(kDepth, 0.5f);  // 100 samples, set at once while Mod Amt is 0
  probe.run(100);
  EXPECT_TRUE(probe.delaysAre(250, 350, 100));
  // The clock stood at 150 modulated frames: the next step comes 50 modulated frames later and
  // takes the refilled table's first entry, the centre that Depth left alone.
  effect->setParameter(kModAmount, 0.25f);
  probe.run(150);
  EXPECT_TRUE(probe.delaysAre(350, 400, 100));
  EXPECT_TRUE(probe.delaysAre(400, 500, 50));
}

TEST(ModuleAudio, SuspendClearsLinesAndTablesAndResumeKeepsTheStepClock) {
  auto effect = newEffect();
  effect->setParameter(kStereo, 0.0f);
  fastSweep(*effect);
  effect->resume();
  DelayProbe probe(*effect);
  probe.run(250);
  EXPECT_TRUE(probe.delaysAre(100, 200, 50));  // entry 0, the centre
  EXPECT_TRUE(probe.delaysAre(200, 250, 51));  // entry 1: 50 + 24 sin(2 pi / 132)

  effect->suspend();
  probe.run(100);
  // Cleared lines: the delay of 51 reaches only into silence. Cleared tables: the step at 300
  // sets a delay of 0.
  EXPECT_TRUE(probe.delaysAre(250, 300, 51, 250));
  EXPECT_TRUE(probe.delaysAre(300, 350, 0, 250));

  effect->resume();
  probe.run(250);
  // The clock was not restarted: the step comes at 400, 100 frames after the last one, and takes
  // the refilled table's first entry.
  EXPECT_TRUE(probe.delaysAre(350, 400, 0, 350));
  EXPECT_TRUE(probe.delaysAre(400, 500, 50, 350));
  EXPECT_TRUE(probe.delaysAre(500, 600, 51, 350));

  // Resume alone, too, clears the lines and starts the table's cycle again.
  effect->resume();
  probe.run(200);
  EXPECT_TRUE(probe.delaysAre(600, 700, 50, 600));
  EXPECT_TRUE(probe.delaysAre(700, 800, 51, 600));
}

TEST(ModuleAudio, ProgramSwitchesMoveTheCentreInParameterOrder) {
  // The first step after resume takes the table's first entry: the sweep centre.
  struct Case {
    const char* what;
    void (*setUp)(Effect&);
    int64_t centre;
  };
  const Case cases[] = {
      {"defaults", [](Effect&) {}, 50},
      {"Mod Amt 0.5 then Depth 0.8: clamped to the line",
       [](Effect& e) {
         e.setParameter(kModAmount, 0.5f);
         e.setParameter(kDepth, 0.8f);
       },
       151},
      {"Mod Amt 0.5 then Depth 0.1: raised to the half-width",
       [](Effect& e) {
         e.setParameter(kModAmount, 0.5f);
         e.setParameter(kDepth, 0.1f);
       },
       49},
      {"Mod Amt 1.0 then program 0: Depth is clamped with the old half-width",
       [](Effect& e) {
         e.setParameter(kModAmount, 1.0f);
         e.setProgram(0);
         e.setParameter(kStereo, 0.0f);  // program 0 brought back the default
       },
       99},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto effect = newEffect();
    effect->setParameter(kStereo, 0.0f);
    c.setUp(*effect);
    effect->resume();
    DelayProbe probe(*effect);
    probe.run(200);
    EXPECT_TRUE(probe.delaysAre(100, 200, c.centre));
  }
}

TEST(ModuleAudio, ReselectedProgramAppliesDepthWithTheModAmtOfTheProgramBefore) {
  auto effect = newEffect();
  effect->resume();
  effect->setProgram(2);
  effect->setParameter(kStereo, 0.0f);
  effect->setParameter(kModAmount, 0.5f);
  effect->setParameter(kDepth, 0.8f);  // centre 151
  effect->setProgram(1);
  effect->setParameter(kStereo, 0.0f);
  effect->setParameter(kModAmount, 0.0f);
  DelayProbe probe(*effect);
  probe.run(250);  // no modulation: the clock stands at 0, the lines at 199
  EXPECT_TRUE(probe.delaysAre(0, 250, 199));

  // Program 2 again: Depth 0.8 meets the Mod Amt 0 of program 1 and sets the lines to 160 at
  // once; Mod Amt 0.5 then clamps the centre that program 1 left (50), not 151.
  effect->setProgram(2);
  probe.run(200);
  EXPECT_TRUE(probe.delaysAre(250, 350, 160));
  EXPECT_TRUE(probe.delaysAre(350, 450, 50));
}

// ---------------------------------------------------------------------------------------------
// The sweep's shape

TEST(ModuleAudio, WaveformChoosesTheSweepShape) {
  // The fast sweep: entries 0 to 132, between 26 and 74 samples around the centre 50.
  enum Shape { kSine, kTriangle, kSawtooth };
  struct Case {
    std::vector<float> values;  // Waveform values set in turn
    Shape shape;
  };
  const Case cases[] = {
      {{0.0f}, kSine},       {{1.0f / 3.0f}, kSine},    {{0.5f}, kTriangle},
      {{0.9f}, kSawtooth},   {{0.5f, 1.5f}, kTriangle}, {{0.9f, 1.2f}, kSawtooth},
      {{0.9f, 0.1f}, kSine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "shape " << c.shape << ", last value " << c.values.back());
    auto effect = newEffect();
    effect->setParameter(kStereo, 0.0f);
    fastSweep(*effect);
    for (float value : c.values)
      effect->setParameter(kWaveform, value);
    effect->resume();
    const auto delays = stepDelays(*effect, 2 * 133);
    EXPECT_EQ(shortestPeriod(delays), 133u);
    const auto rising = [&](std::size_t from, std::size_t to) {
      return std::is_sorted(delays.begin() + static_cast<std::ptrdiff_t>(from),
                            delays.begin() + static_cast<std::ptrdiff_t>(to) + 1);
    };
    switch (c.shape) {
      case kSine:  // starts at the centre, a quarter cycle to the top, three quarters to the bottom
        EXPECT_EQ(delays[0], 50);
        EXPECT_EQ(delays[33], 74);
        EXPECT_EQ(delays[66], 50);
        EXPECT_EQ(delays[99], 26);
        EXPECT_TRUE(rising(0, 33));
        break;
      case kTriangle:  // bottom, top at the middle entry, back down symmetrically
        EXPECT_EQ(delays[0], 26);
        EXPECT_EQ(delays[66], 74);
        EXPECT_TRUE(rising(0, 66));
        for (std::size_t k = 0; k <= 132; ++k)
          ASSERT_EQ(delays[k], delays[132 - k]) << k;
        break;
      case kSawtooth:  // rises over the whole cycle, then jumps back
        EXPECT_EQ(delays[0], 26);
        EXPECT_EQ(delays[132], 74);
        EXPECT_EQ(delays[133], 26);
        EXPECT_TRUE(rising(0, 132));
        break;
    }
  }
}

TEST(ModuleAudio, ChangingTheShapeKeepsTheStepRhythm) {
  auto effect = newEffect();
  effect->setParameter(kStereo, 0.0f);
  fastSweep(*effect);
  effect->resume();
  DelayProbe probe(*effect);
  probe.run(250);
  EXPECT_TRUE(probe.delaysAre(200, 250, 51));
  effect->setParameter(kWaveform, 0.5f);  // triangle, filled from its first entry
  probe.run(250);
  EXPECT_TRUE(probe.delaysAre(250, 300, 51));
  EXPECT_TRUE(probe.delaysAre(300, 400, 26));
  EXPECT_TRUE(probe.delaysAre(400, 500, 27));  // 26 + 48 / 66
}

// ---------------------------------------------------------------------------------------------
// The stereo pan

TEST(ModuleAudio, StereoOneSilencesTheLeftChannelAtTheSweepCentre) {
  auto effect = newEffect();
  effect->setParameter(kStereo, 1.0f);
  effect->resume();
  const Stereo in = noise(2000, 5);
  const Stereo out = renderAll(*effect, in);
  // Before the first step the sweep position is 0, 50 samples from the centre: panL = 50 / 24.
  const float panL = 50.0f * (1.0f / 24.0f);
  const float panR = 1.0f - panL;
  for (std::size_t i = 0; i < 100; ++i) {
    ASSERT_EQ(bitsOf(out.left[i]), bitsOf(panL * in.left[i])) << i;
    ASSERT_EQ(bitsOf(out.right[i]), bitsOf(panR * in.right[i])) << i;
  }
  // From the 101st frame the sweep sits at its centre of 50 for dozens of steps.
  for (std::size_t i = 100; i < in.frames(); ++i) {
    ASSERT_EQ(out.left[i], 0.0f) << i;
    ASSERT_EQ(bitsOf(out.right[i]), bitsOf(in.right[i - 50] + in.right[i])) << i;
  }
}

TEST(ModuleAudio, PanFollowsTheSweepPosition) {
  constexpr std::size_t kFrames = 14000;  // more than one cycle of 133 steps
  const Stereo in = ramp(0, kFrames);
  for (float stereo : {1.0f, 0.5f, 0.1f}) {
    SCOPED_TRACE(stereo);
    // Two instances take the same steps; the one on the plain path shows the delay and the
    // unpanned mix (dry plus half the delayed copy) of each frame.
    auto plain = newEffect();
    auto panned = newEffect();
    for (Effect* effect : {plain.get(), panned.get()}) {
      fastSweep(*effect);
      effect->resume();
    }
    plain->setParameter(kStereo, 0.0f);
    panned->setParameter(kStereo, stereo);
    for (Effect* effect : {plain.get(), panned.get()})
      effect->setParameter(kSend, 0.5f);
    const Stereo mix = renderAll(*plain, in);
    const Stereo out = renderAll(*panned, in);

    int leftSilent = 0;
    int rightSilent = 0;
    for (std::size_t i = 0; i < kFrames; ++i) {
      // The sweep position: 0 until the first step, then the delay the plain twin shows.
      const float echo = (mix.left[i] - in.left[i]) * 2.0f;  // undoes Send 0.5, exactly
      const auto position = i < 100 ? 0.0f : static_cast<float>(i) + 1.0f - echo;
      const float d = std::fabs(position - 50.0f);
      const float panL = d * (1.0f / 24.0f);
      const float panR = 1.0f - panL;
      const float left = (panL * stereo + (1.0f - stereo)) * mix.left[i] * 1.0f;
      const float right = (panR * stereo + (1.0f - stereo)) * mix.right[i] * 1.0f;
      ASSERT_EQ(bitsOf(out.left[i]), bitsOf(left)) << "frame " << i << " position " << position;
      ASSERT_EQ(bitsOf(out.right[i]), bitsOf(right)) << "frame " << i << " position " << position;
      if (i >= 100 && d == 0.0f) ++leftSilent;
      if (d == 24.0f) ++rightSilent;
      if (stereo == 1.0f && i >= 100 && d == 0.0f) {
        ASSERT_EQ(out.left[i], 0.0f) << i;
      }
      if (stereo == 1.0f && d == 24.0f) {
        ASSERT_EQ(out.right[i], 0.0f) << i;
      }
    }
    // The sweep passed its centre and both of its ends.
    EXPECT_GT(leftSilent, 0);
    EXPECT_GT(rightSilent, 0);
  }
}

// ---------------------------------------------------------------------------------------------
// The two audio calls, in place and in blocks

// A sweeping, panned setting, so that every frame depends on the state the previous ones left.
std::unique_ptr<Effect> busyEffect() {
  auto effect = newEffect();
  fastSweep(*effect);
  effect->setParameter(kDepth, 0.4f);
  effect->setParameter(kModAmount, 0.6f);
  effect->setParameter(kWaveform, 0.5f);
  effect->setParameter(kStereo, 0.7f);
  effect->setParameter(kSend, 0.8f);
  effect->resume();
  return effect;
}

TEST(ModuleAudio, CallsInPlaceAndInAnyBlocksGiveTheSameOutput) {
  constexpr std::size_t kFrames = 20000;
  const Stereo in = noise(kFrames, 6);
  const Stereo before = noise(kFrames, 7, 0.25f);  // what the output buffers hold beforehand
  const Stereo reference = renderAll(*busyEffect(), in);
  Stereo accumulated(kFrames);
  for (std::size_t i = 0; i < kFrames; ++i) {
    accumulated.left[i] = before.left[i] + reference.left[i];
    accumulated.right[i] = before.right[i] + reference.right[i];
  }

  struct Variant {
    Call call;
    bool inPlace;
    std::size_t block;
    bool emptyCalls;  // calls of 0 and -5 frames between the blocks
  };
  const Variant variants[] = {
      {Call::Replacing, false, kFrames, false}, {Call::Accumulating, false, kFrames, false},
      {Call::Replacing, true, kFrames, false},  {Call::Replacing, true, 7, false},
      {Call::Replacing, false, 1, false},       {Call::Replacing, false, 7, false},
      {Call::Replacing, false, 100, false},     {Call::Replacing, false, 4096, false},
      {Call::Accumulating, false, 1, false},    {Call::Accumulating, false, 7, false},
      {Call::Accumulating, false, 100, false},  {Call::Accumulating, false, 4096, false},
      {Call::Replacing, false, 100, true},      {Call::Accumulating, false, 333, true},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(::testing::Message() << (v.call == Call::Replacing ? "replacing" : "accumulating")
                                      << (v.inPlace ? " in place" : "") << ", blocks of " << v.block
                                      << (v.emptyCalls ? ", empty calls between" : ""));
    auto effect = busyEffect();
    Stereo out = v.inPlace ? in : before;
    const Stereo& source = v.inPlace ? out : in;
    for (std::size_t at = 0; at < kFrames; at += v.block) {
      const std::size_t n = std::min(v.block, kFrames - at);
      render(*effect, v.call, source, out, at, n, n);
      if (v.emptyCalls) {
        for (int32_t frames : {0, -5}) {
          float* inputs[2] = {const_cast<float*>(source.channel(0)) + at,
                              const_cast<float*>(source.channel(1)) + at};
          float* outputs[2] = {out.channel(0) + at, out.channel(1) + at};
          effect->processReplacing(inputs, outputs, frames);
          effect->process(inputs, outputs, frames);
        }
      }
    }
    EXPECT_TRUE(sameBits(v.call == Call::Replacing ? reference : accumulated, out));
  }
}

// ---------------------------------------------------------------------------------------------
// Sample rates

TEST(ModuleAudio, SweepCycleFollowsTheHostSampleRate) {
  // The fast sweep lasts 0.3 s: 132 steps of 100 frames at 44100 Hz, plus the closing entry.
  struct Case {
    std::vector<float> rates;  // set in turn, each followed by resume (and suspend between)
    std::size_t steps;         // entries per sweep cycle
  };
  const Case cases[] = {
      {{44100.0f}, 133},
      {{48000.0f}, 145},
      {{22050.0f}, 67},
      {{96000.0f}, 289},
      {{8000.0f}, 25},      // the lowest rate the tables follow
      {{768000.0f}, 2305},  // the highest
      {{7999.0f}, 133},     // outside: the tables stay as they were
      {{768001.0f}, 133},
      {{48000.0f, 44100.0f}, 133},
      {{48000.0f, 7999.0f}, 145},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "last rate " << c.rates.back());
    auto effect = newEffect(c.rates.front());
    effect->setParameter(kStereo, 0.0f);
    fastSweep(*effect);
    for (std::size_t i = 0; i < c.rates.size(); ++i) {
      if (i > 0) {
        effect->suspend();
        effect->setSampleRate(c.rates[i]);
      }
      effect->resume();
    }
    const auto delays = stepDelays(*effect, 2 * c.steps + 20);
    EXPECT_EQ(shortestPeriod(delays), c.steps);
    EXPECT_EQ(delays[0], 50);
  }
}

TEST(ModuleAudio, DefaultSweepLastsSixtyFourBeatsAtAnyRate) {
  // 64 beats at 120 BPM are 32 s: 14111 + 1 steps at 44100 Hz, 15359 + 1 at 48000 Hz.
  for (const auto& [rate, steps] : {std::pair<float, std::size_t>{44100.0f, 14112},
                                    std::pair<float, std::size_t>{48000.0f, 15360}}) {
    SCOPED_TRACE(rate);
    auto effect = newEffect(rate);
    effect->setParameter(kStereo, 0.0f);
    effect->resume();
    const auto delays = stepDelays(*effect, 2 * steps + 20);
    EXPECT_EQ(shortestPeriod(delays), steps);
    EXPECT_EQ(*std::max_element(delays.begin(), delays.end()), 74);
    EXPECT_EQ(*std::min_element(delays.begin(), delays.end()), 26);
  }
}

TEST(ModuleAudio, RebuiltTablesKeepTheStepRhythm) {
  auto effect = newEffect(44100.0f);
  effect->setParameter(kStereo, 0.0f);
  fastSweep(*effect);
  effect->resume();
  DelayProbe probe(*effect);
  probe.run(250);
  EXPECT_TRUE(probe.delaysAre(200, 250, 51));
  effect->suspend();
  effect->setSampleRate(48000.0f);
  effect->resume();
  probe.run(350);
  // The next step comes 100 frames after the last one, from the rebuilt table's first entry.
  EXPECT_TRUE(probe.delaysAre(250, 300, 51, 250));
  EXPECT_TRUE(probe.delaysAre(300, 400, 50, 250));
  EXPECT_TRUE(probe.delaysAre(400, 500, 51, 250));  // 50 + 24 sin(2 pi / 144)
  EXPECT_TRUE(probe.delaysAre(500, 600, 52, 250));
}

}  // namespace
}  // namespace tftest
