#include "renderer/demo.h"

#include <cmath>

namespace tfrender {
namespace {

// A minor seventh, A2 E3 G3 C4, in Hz.
constexpr std::array<double, 4> kChord{110.0, 164.81378, 195.99772, 261.62557};
constexpr double kVoiceLevel = 0.06;
constexpr double kChordSmoothing = 0.35;  // one-pole lowpass coefficient: takes the edge off
constexpr double kAttackSeconds = 0.02;
constexpr double kReleaseSeconds = 0.25;

constexpr double kAccentedHat = 0.25;  // on the beat
constexpr double kOffbeatHat = 0.15;
constexpr double kHatDecay = 0.999;  // per frame: a time constant of 1000 frames, about 23 ms

}  // namespace

DemoSource::DemoSource(double bpm) {
  const double framesPerBeat = kSampleRate * 60.0 / bpm;
  framesPerEighth_ = framesPerBeat / 2.0;
  total_ = static_cast<int64_t>(std::llround(framesPerBeat * kBars * kBeatsPerBar));
}

double DemoSource::noise() {
  seed_ = seed_ * 1664525u + 1013904223u;  // the classic 32-bit LCG
  return static_cast<double>(seed_ >> 8) / 8388608.0 - 1.0;
}

int32_t DemoSource::read(float* left, float* right, int32_t frames) {
  const auto attack = static_cast<int64_t>(kAttackSeconds * kSampleRate);
  const auto release = static_cast<int64_t>(kReleaseSeconds * kSampleRate);
  int32_t done = 0;
  for (; done < frames && position_ < total_; ++done, ++position_) {
    if (position_ == nextHatFrame_) {
      hatLevel_ = eighth_ % 2 == 0 ? kAccentedHat : kOffbeatHat;
      ++eighth_;
      nextHatFrame_ = static_cast<int64_t>(std::llround(eighth_ * framesPerEighth_));
    }

    double chord = 0.0;
    for (std::size_t voice = 0; voice < kChord.size(); ++voice) {
      phase_[voice] += kChord[voice] / kSampleRate;
      if (phase_[voice] >= 1.0) phase_[voice] -= 1.0;
      chord += 2.0 * phase_[voice] - 1.0;  // a plain sawtooth: every harmonic
    }
    chordLowpass_ += kChordSmoothing * (chord * kVoiceLevel - chordLowpass_);
    double envelope = 1.0;
    if (position_ < attack) envelope = static_cast<double>(position_) / attack;
    const int64_t remaining = total_ - position_;
    if (remaining < release) envelope = static_cast<double>(remaining) / release;
    const double pad = chordLowpass_ * envelope;

    // Each channel its own noise, differentiated: a bright, hiss-like hat.
    double hats[2];
    for (std::size_t channel = 0; channel < 2; ++channel) {
      const double white = noise();
      hats[channel] = (white - previousNoise_[channel]) * 0.5 * hatLevel_;
      previousNoise_[channel] = white;
    }
    hatLevel_ *= kHatDecay;

    left[done] = static_cast<float>(pad + hats[0]);
    right[done] = static_cast<float>(pad + hats[1]);
  }
  return done;
}

}  // namespace tfrender
