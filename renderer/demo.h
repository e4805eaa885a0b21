// The built-in demo: four bars of 4/4 at a given tempo, synthesized, so the renderer works on a
// fresh machine with nothing to download. A sustained chord of bright sawtooth voices under
// noise-burst hats on every eighth note: broadband sound, on which a flanger's sweep is plain to
// hear. Generated with additions and multiplications only, from a fixed seed, so it is the same
// bits on every machine.
#pragma once

#include <array>
#include <cstdint>

#include "renderer/source.h"

namespace tfrender {

class DemoSource final : public Source {
 public:
  static constexpr int kSampleRate = 44100;
  static constexpr int kBars = 4;
  static constexpr int kBeatsPerBar = 4;

  explicit DemoSource(double bpm);

  int sampleRate() const override { return kSampleRate; }
  int64_t frames() const override { return total_; }
  int32_t read(float* left, float* right, int32_t frames) override;

 private:
  double noise();  // white noise, -1 to 1

  int64_t total_;
  int64_t position_ = 0;
  double framesPerEighth_;
  int32_t eighth_ = 0;        // the next hat, counted in eighth notes from the start
  int64_t nextHatFrame_ = 0;  // where it starts
  double hatLevel_ = 0.0;     // current level of the hat's decaying envelope
  std::array<double, 2> previousNoise_{};
  std::array<double, 4> phase_{};  // of the chord's voices, 0 to 1
  double chordLowpass_ = 0.0;
  uint32_t seed_ = 0x2545F491u;
};

}  // namespace tfrender
