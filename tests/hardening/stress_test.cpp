// Concurrency as hosts call: the audio calls run on one thread while another changes parameters
// (within 0 to 1), switches programs, suspends and resumes and reads display texts, for a few
// seconds. Nothing may crash, every output sample must be finite, and the delay lines must stay in
// bounds with the delay in effect 0 to 199.
//
// The effect shares its fields between the threads without locks by design; this test shows that
// no interleaving of the two threads' calls leaves those bounds. (The sample rate stays put: hosts
// change it while audio is stopped, and a resume at a new rate rebuilds the sweep tables.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "flanger/tempo_flanger.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kDuration = std::chrono::milliseconds(3000);

VstIntPtr TF_CALLCONV hostCallback(AEffect*, int32_t opcode, int32_t, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

uint32_t nextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state;
}

// What the audio thread saw. Written by it alone, read after it has been joined.
struct AudioReport {
  long blocks = 0;
  long nonFinite = 0;
  long outOfBounds = 0;
  std::string firstProblem;
};

bool lineInBounds(const DelayLine& line) {
  const int32_t size = line.getSize();
  return line.getReadIndex() >= 0 && line.getReadIndex() < size && line.getWriteIndex() >= 0 &&
         line.getWriteIndex() < size && line.getDelay() >= 0 && line.getDelay() <= 199;
}

void runAudio(AEffect* e, const TempoFlanger& flanger, const std::atomic<bool>& stop,
              AudioReport& report) {
  constexpr int32_t kLargest = 1024;
  std::vector<float> in[2] = {std::vector<float>(kLargest), std::vector<float>(kLargest)};
  std::vector<float> out[2] = {std::vector<float>(kLargest), std::vector<float>(kLargest)};
  float* inputs[2] = {in[0].data(), in[1].data()};
  float* outputs[2] = {out[0].data(), out[1].data()};
  uint32_t random = 7;
  while (!stop.load(std::memory_order_relaxed)) {
    const auto frames = static_cast<int32_t>(1 + nextRandom(random) % kLargest);
    for (int32_t c = 0; c < 2; ++c) {
      for (int32_t i = 0; i < frames; ++i) {
        in[c][static_cast<std::size_t>(i)] =
            static_cast<float>(static_cast<int32_t>(nextRandom(random)) >> 8) / 8388608.0f;
        out[c][static_cast<std::size_t>(i)] = 0.0f;
      }
    }
    if (report.blocks % 2 == 0) {
      e->processReplacing(e, inputs, outputs, frames);
    } else {
      e->process(e, inputs, outputs, frames);
    }
    ++report.blocks;
    for (int32_t c = 0; c < 2; ++c) {
      for (int32_t i = 0; i < frames; ++i) {
        if (!std::isfinite(out[c][static_cast<std::size_t>(i)])) {
          if (report.firstProblem.empty()) {
            report.firstProblem = "non-finite output in block " + std::to_string(report.blocks);
          }
          ++report.nonFinite;
        }
      }
    }
    if (!lineInBounds(flanger.leftLine()) || !lineInBounds(flanger.rightLine())) {
      if (report.firstProblem.empty()) {
        report.firstProblem = "delay line out of bounds after block " +
                              std::to_string(report.blocks) + ": delay " +
                              std::to_string(flanger.leftLine().getDelay()) + " / " +
                              std::to_string(flanger.rightLine().getDelay());
      }
      ++report.outOfBounds;
    }
  }
}

// Values within 0 to 1, with the ones where the mappings change behaviour drawn often.
float parameterValue(uint32_t& random) {
  static const float kEdges[] = {0.0f, 1.0f, 0.01f, 0.0100001f, 0.02f, 0.33333334f, 0.6666667f};
  const uint32_t r = nextRandom(random);
  if (r % 4 == 0) return kEdges[(r >> 8) % (sizeof kEdges / sizeof kEdges[0])];
  return static_cast<float>(r >> 8) / 16777215.0f;
}

TEST(Concurrency, AudioThreadAgainstAHostParameterThread) {
  AEffect* e = createEffect(&hostCallback);
  ASSERT_NE(e, nullptr);
  const auto& flanger = *static_cast<TempoFlanger*>(static_cast<EffectBase*>(e->object));
  e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, 44100.0f);
  e->dispatcher(e, effSetBlockSize, 0, 1024, nullptr, 0.0f);
  e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);

  std::atomic<bool> stop{false};
  AudioReport report;
  std::thread audio([&] { runAudio(e, flanger, stop, report); });

  long changes = 0;
  uint32_t random = 99;
  char text[kProgramNameSize];
  const auto end = Clock::now() + kDuration;
  while (Clock::now() < end) {
    const uint32_t what = nextRandom(random) % 16;
    if (what < 11) {
      e->setParameter(e, static_cast<int32_t>(nextRandom(random) % kNumParams),
                      parameterValue(random));
    } else if (what < 13) {
      e->dispatcher(e, effSetProgram, 0, static_cast<VstIntPtr>(nextRandom(random) % kNumPrograms),
                    nullptr, 0.0f);
    } else if (what < 14) {
      e->dispatcher(e, effMainsChanged, 0, 0, nullptr, 0.0f);
      e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    } else {
      e->dispatcher(e, effGetParamDisplay, static_cast<int32_t>(nextRandom(random) % kNumParams), 0,
                    text, 0.0f);
    }
    ++changes;
  }
  stop.store(true);
  audio.join();
  e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);

  EXPECT_EQ(report.nonFinite, 0) << report.firstProblem;
  EXPECT_EQ(report.outOfBounds, 0) << report.firstProblem;
  // Both threads really ran side by side.
  EXPECT_GT(report.blocks, 100);
  EXPECT_GT(changes, 100);
  std::printf("%ld audio blocks against %ld host calls\n", report.blocks, changes);
}

}  // namespace
