// Concurrency as hosts call: the audio calls run on one thread while a host's other thread changes
// parameters (within 0 to 1), switches programs, suspends and resumes and reads display texts.
// Nothing may crash, every output sample must be finite, and the delay lines must stay in bounds
// with the delay in effect 0 to 199.
//
// The effect shares its fields between the threads without locks by design; these tests show that
// no interleaving of the two threads' calls leaves those bounds. (The sample rate stays put: hosts
// change it while audio is stopped, and a resume at a new rate rebuilds the sweep tables.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "flanger/tempo_flanger.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// Each test runs for at least its duration and until each thread has made this many calls, so that
// a slow tool (ThreadSanitizer, valgrind) still sees both threads interleave; it gives up after
// the limit. TF_STRESS_SECONDS sets a longer duration for a soak run.
constexpr long kMinimumCalls = 200;
constexpr auto kLimit = std::chrono::seconds(60);

Milliseconds duration(Milliseconds normal) {
  if (const char* seconds = std::getenv("TF_STRESS_SECONDS")) {
    return Milliseconds(static_cast<long>(std::atof(seconds) * 1000.0));
  }
  return normal;
}

VstIntPtr TF_CALLCONV hostCallback(AEffect*, int32_t opcode, int32_t, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

uint32_t nextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state;
}

bool lineInBounds(const DelayLine& line) {
  const int32_t size = line.getSize();
  return line.getReadIndex() >= 0 && line.getReadIndex() < size && line.getWriteIndex() >= 0 &&
         line.getWriteIndex() < size && line.getDelay() >= 0 && line.getDelay() <= 199;
}

// What the audio thread saw. Written by it alone, read after it has been joined (except the
// running count of blocks).
struct AudioReport {
  long blocks = 0;
  long nonFinite = 0;
  long outOfBounds = 0;
  std::string firstProblem;
  std::atomic<long> blocksSoFar{0};
  std::atomic<bool> gaveUp{false};  // stopped at lines out of bounds
};

// The host's audio thread: blocks of 1 to 1024 frames of noise within -1 to 1, both audio calls
// in turn, each output sample and the delay lines checked after every block. Stops at the first
// block that leaves the lines out of bounds: the next one would read outside them.
void runAudio(AEffect* e, const TempoFlanger& flanger, const std::atomic<bool>& stop,
              AudioReport& report) {
  constexpr int32_t kLargest = 1024;
  std::vector<float> in[2] = {std::vector<float>(kLargest), std::vector<float>(kLargest)};
  std::vector<float> out[2] = {std::vector<float>(kLargest), std::vector<float>(kLargest)};
  float* inputs[2] = {in[0].data(), in[1].data()};
  float* outputs[2] = {out[0].data(), out[1].data()};
  uint32_t random = 7;
  while (!stop.load(std::memory_order_relaxed)) {
    const auto frames = static_cast<std::size_t>(1 + nextRandom(random) % kLargest);
    for (int c = 0; c < 2; ++c) {
      for (std::size_t i = 0; i < frames; ++i) {
        in[c][i] = static_cast<float>(static_cast<int32_t>(nextRandom(random)) >> 8) / 8388608.0f;
        out[c][i] = 0.0f;
      }
    }
    if (report.blocks % 2 == 0) {
      e->processReplacing(e, inputs, outputs, static_cast<int32_t>(frames));
    } else {
      e->process(e, inputs, outputs, static_cast<int32_t>(frames));
    }
    ++report.blocks;
    report.blocksSoFar.store(report.blocks, std::memory_order_relaxed);
    for (int c = 0; c < 2; ++c) {
      for (std::size_t i = 0; i < frames; ++i) {
        if (!std::isfinite(out[c][i])) {
          if (report.firstProblem.empty()) {
            report.firstProblem = "non-finite output in block " + std::to_string(report.blocks);
          }
          ++report.nonFinite;
        }
      }
    }
    const DelayLine& left = flanger.leftLine();
    const DelayLine& right = flanger.rightLine();
    // Positions read once each: the host's thread may move them on.
    const int32_t positions[4] = {left.getReadIndex(), right.getReadIndex(), left.getWriteIndex(),
                                  right.getWriteIndex()};
    bool inBounds = lineInBounds(left) && lineInBounds(right);
    for (int32_t p : positions)
      inBounds = inBounds && p >= 0 && p < left.getSize();
    if (!inBounds) {
      report.firstProblem =
          "delay lines out of bounds after block " + std::to_string(report.blocks) +
          ": read positions " + std::to_string(positions[0]) + " and " +
          std::to_string(positions[1]) + ", write " + std::to_string(positions[2]) + " and " +
          std::to_string(positions[3]) + " (size " + std::to_string(left.getSize()) + ")";
      ++report.outOfBounds;
      report.gaveUp.store(true);
      return;
    }
  }
}

// Runs the audio thread against `hostCall`, called repeatedly on this thread, for at least
// `minimum`; checks what the audio thread saw.
void stress(Milliseconds minimum, const std::function<void(AEffect*)>& hostCall) {
  AEffect* e = createEffect(&hostCallback);
  ASSERT_NE(e, nullptr);
  const auto& flanger = *static_cast<TempoFlanger*>(static_cast<EffectBase*>(e->object));
  e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, 44100.0f);
  e->dispatcher(e, effSetBlockSize, 0, 1024, nullptr, 0.0f);
  e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);

  std::atomic<bool> stop{false};
  AudioReport report;
  std::thread audio([&] { runAudio(e, flanger, stop, report); });

  long calls = 0;
  const auto start = Clock::now();
  while (Clock::now() - start < kLimit && !report.gaveUp.load() &&
         (Clock::now() - start < minimum || calls < kMinimumCalls ||
          report.blocksSoFar.load(std::memory_order_relaxed) < kMinimumCalls)) {
    hostCall(e);
    ++calls;
  }
  stop.store(true);
  audio.join();
  e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);

  EXPECT_EQ(report.nonFinite, 0) << report.firstProblem;
  EXPECT_EQ(report.outOfBounds, 0) << report.firstProblem;
  // Both threads really ran side by side.
  EXPECT_GE(report.blocks, kMinimumCalls);
  EXPECT_GE(calls, kMinimumCalls);
  std::printf("%ld audio blocks against %ld host calls\n", report.blocks, calls);
}

// Values within 0 to 1, with the ones where the mappings change behaviour drawn often. Mod Amt is 0
// half the time: with the sweep off, a Depth change moves the delay lines' read positions from the
// host's thread while the audio thread moves them too.
float parameterValue(int32_t index, uint32_t& random) {
  static const float kEdges[] = {0.0f, 1.0f, 0.01f, 0.0100001f, 0.02f, 0.33333334f, 0.6666667f};
  const uint32_t r = nextRandom(random);
  if (index == kModAmount && r % 2 == 0) return 0.0f;
  if (r % 4 == 0) return kEdges[(r >> 8) % (sizeof kEdges / sizeof kEdges[0])];
  return static_cast<float>(r >> 8) / 16777215.0f;
}

TEST(Concurrency, AudioThreadAgainstEveryKindOfHostCall) {
  uint32_t random = 99;
  char text[kProgramNameSize];
  stress(duration(Milliseconds(2500)), [&](AEffect* e) {
    const uint32_t what = nextRandom(random) % 16;
    if (what < 10) {
      // Half of the changes are a Depth automation lane, the rest any parameter.
      const auto index = what < 5 ? kDepth : static_cast<int32_t>(nextRandom(random) % kNumParams);
      e->setParameter(e, index, parameterValue(index, random));
    } else if (what < 12) {
      e->dispatcher(e, effSetProgram, 0, static_cast<VstIntPtr>(nextRandom(random) % kNumPrograms),
                    nullptr, 0.0f);
    } else if (what < 13) {
      e->dispatcher(e, effMainsChanged, 0, 0, nullptr, 0.0f);
      e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    } else {
      e->dispatcher(e, effGetParamDisplay, static_cast<int32_t>(nextRandom(random) % kNumParams), 0,
                    text, 0.0f);
    }
  });
}

// A Depth automation lane with the sweep off (Mod Amt 0), sent as fast as a host's thread can:
// every change moves both lines' read positions from this thread while the audio thread moves
// them through whole runs of frames. A run that moved a position past the end of its line, never
// to wrap again, made the audio thread read and write outside the lines (found by this test).
TEST(Concurrency, DepthAutomationWithTheSweepOff) {
  uint32_t random = 5;
  bool first = true;
  stress(duration(Milliseconds(1500)), [&](AEffect* e) {
    if (first) {
      e->setParameter(e, kModAmount, 0.0f);
      first = false;
    }
    e->setParameter(e, kDepth, static_cast<float>(nextRandom(random) >> 8) / 16777215.0f);
  });
}

}  // namespace
