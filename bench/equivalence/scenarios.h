// Randomised scenarios for the flanger and its sweep tables, each reduced to one FNV-1a
// fingerprint over every output bit and the state the audio loop leaves behind. The same seed
// always gives the same scenario, on every target.
#pragma once

#include <cstdint>

namespace equivalence {

// How a scenario's audio calls are cut into host blocks. Recorded fingerprints use AsDrawn; the
// other ways must give the same fingerprint, since the effect may not depend on block boundaries.
enum class Blocks { AsDrawn, SingleFrames, Redrawn };

// A run of random host calls (parameters in and out of range, programs, suspend/resume, sample
// rates, process and processReplacing in place or not, blocks of 1 to 4096 frames).
uint64_t audioScenario(uint32_t number, Blocks blocks = Blocks::AsDrawn);

// A run of random fills of one sweep table: shape 0 sine, 1 triangle, 2 ramp; `rateIndex` picks
// 44100, 48000, 22050 or 96000 Hz. Hashes every entry of the table, period and read position
// after each fill.
uint64_t tableScenario(uint32_t shape, uint32_t rateIndex, uint32_t number);

// Every fixed delay in turn (Mod Amt 0, Depth at `delay` samples): blocks of many sizes through
// process and processReplacing, apart and in place, so that each position of the delay lines
// relative to each other is met at every delay.
uint64_t delayScenario(uint32_t delay);

constexpr uint32_t kAudioScenarios = 400;
constexpr uint32_t kDelayScenarios = 200;
constexpr uint32_t kTableShapes = 3;
constexpr uint32_t kTableRates = 4;
constexpr uint32_t kTableScenariosPerTable = 3;

}  // namespace equivalence
