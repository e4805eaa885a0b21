// The flanger's audio loop and sweep tables must sound exactly as recorded: every output bit of
// hundreds of randomised scenarios, compared with fingerprints taken from the straightforward
// per-frame implementation. Run with `--record FILE` to write the fingerprints of the code as it
// is (only when the sound is meant to change).
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "bench/equivalence/scenarios.h"

namespace {

using equivalence::Blocks;

struct Recorded {
  const char* kind;
  uint32_t number;
  uint64_t fingerprint;
};

const Recorded kRecorded[] = {
#include "recorded_fingerprints.inc"
    {nullptr, 0, 0},
};

std::map<uint32_t, uint64_t> recorded(const char* kind) {
  std::map<uint32_t, uint64_t> found;
  for (const Recorded& r : kRecorded) {
    if (r.kind && std::strcmp(r.kind, kind) == 0) found[r.number] = r.fingerprint;
  }
  return found;
}

uint32_t tableNumber(uint32_t shape, uint32_t rate, uint32_t number) {
  return (shape * equivalence::kTableRates + rate) * equivalence::kTableScenariosPerTable + number;
}

TEST(Equivalence, AudioScenariosMatchTheRecording) {
  const auto expected = recorded("audio");
  ASSERT_EQ(expected.size(), equivalence::kAudioScenarios) << "fingerprints.txt is incomplete";
  for (const auto& [number, fingerprint] : expected) {
    EXPECT_EQ(equivalence::audioScenario(number), fingerprint) << "audio scenario " << number;
  }
}

TEST(Equivalence, EveryDelayMatchesTheRecording) {
  const auto expected = recorded("delay");
  ASSERT_EQ(expected.size(), equivalence::kDelayScenarios) << "fingerprints.txt is incomplete";
  for (const auto& [delay, fingerprint] : expected) {
    EXPECT_EQ(equivalence::delayScenario(delay), fingerprint) << "delay " << delay;
  }
}

// Run boundaries inside the effect must not show: one frame per call, random cuts and whole
// blocks all give the recorded sound.
TEST(Equivalence, HostBlockSizesDoNotChangeTheSound) {
  for (uint32_t number = 0; number < 60; ++number) {
    const uint64_t whole = equivalence::audioScenario(number);
    EXPECT_EQ(equivalence::audioScenario(number, Blocks::SingleFrames), whole)
        << "audio scenario " << number << " in single frames";
    EXPECT_EQ(equivalence::audioScenario(number, Blocks::Redrawn), whole)
        << "audio scenario " << number << " in random blocks";
  }
}

TEST(Equivalence, SweepTablesMatchTheRecording) {
  const auto expected = recorded("table");
  ASSERT_EQ(expected.size(), equivalence::kTableShapes * equivalence::kTableRates *
                                 equivalence::kTableScenariosPerTable)
      << "fingerprints.txt is incomplete";
  static const char* const kShapes[] = {"sine", "triangle", "ramp"};
  static const char* const kRates[] = {"44100", "48000", "22050", "96000"};
  for (uint32_t shape = 0; shape < equivalence::kTableShapes; ++shape) {
    for (uint32_t rate = 0; rate < equivalence::kTableRates; ++rate) {
      for (uint32_t number = 0; number < equivalence::kTableScenariosPerTable; ++number) {
        EXPECT_EQ(equivalence::tableScenario(shape, rate, number),
                  expected.at(tableNumber(shape, rate, number)))
            << kShapes[shape] << " table at " << kRates[rate] << " Hz, scenario " << number;
      }
    }
  }
}

int record(const char* path) {
  std::FILE* file = std::fopen(path, "w");
  if (!file) {
    std::perror(path);
    return 1;
  }
  std::fprintf(file,
               "# Fingerprints (FNV-1a, 64 bits) of the flanger's randomised scenarios, recorded "
               "by\n# tf_equivalence_tests --record. kind, scenario, fingerprint.\n");
  for (uint32_t number = 0; number < equivalence::kAudioScenarios; ++number) {
    std::fprintf(file, "audio %u %016" PRIx64 "\n", number, equivalence::audioScenario(number));
  }
  for (uint32_t delay = 0; delay < equivalence::kDelayScenarios; ++delay) {
    std::fprintf(file, "delay %u %016" PRIx64 "\n", delay, equivalence::delayScenario(delay));
  }
  for (uint32_t shape = 0; shape < equivalence::kTableShapes; ++shape) {
    for (uint32_t rate = 0; rate < equivalence::kTableRates; ++rate) {
      for (uint32_t number = 0; number < equivalence::kTableScenariosPerTable; ++number) {
        std::fprintf(file, "table %u %016" PRIx64 "\n", tableNumber(shape, rate, number),
                     equivalence::tableScenario(shape, rate, number));
      }
    }
  }
  return std::fclose(file) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--record") == 0) return record(argv[2]);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
