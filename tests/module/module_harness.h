// Shared pieces of the tests that load the built TempoFlanger module through the host layer, as a
// host does: the module itself, new instances, stereo buffers, a deterministic noise source and
// the audio calls in blocks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"

namespace tftest {

// Parameter indices of the module, in the order a host sees them.
enum Param : int32_t {
  kTempo,
  kResolution,
  kSend,
  kDepth,
  kModAmount,
  kWaveform,
  kStereo,
  kBoost,
};

// The module file, loaded once for the whole test program.
inline const tfhost::Module& flangerModule() {
  static const tfhost::Module module(TF_MODULE_PATH);
  return module;
}

// A new instance prepared as hosts prepare one before processing: opened, told the sample rate and
// the largest block. Not resumed.
inline std::unique_ptr<tfhost::Effect> newEffect(float sampleRate = 44100.0f) {
  auto effect = flangerModule().instantiate();
  effect->open();
  effect->setSampleRate(sampleRate);
  effect->setBlockSize(4096);
  return effect;
}

// Two channels of samples with the channel-pointer arrays the audio calls take.
struct Stereo {
  std::vector<float> left, right;

  Stereo() = default;
  explicit Stereo(std::size_t frames, float value = 0.0f)
      : left(frames, value), right(frames, value) {}

  std::size_t frames() const { return left.size(); }
  float* channel(int index) { return index == 0 ? left.data() : right.data(); }
  const float* channel(int index) const { return index == 0 ? left.data() : right.data(); }
};

// 32-bit linear congruential generator; floats come from integers by exact conversions only, so
// every platform produces the same bits.
class Lcg {
 public:
  explicit Lcg(uint32_t seed) : state_(seed) {}
  uint32_t next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_;
  }
  // Uniform in [-1, 1), 24 bits of resolution.
  float sample() {
    const auto top = static_cast<int32_t>(next() >> 8) - (1 << 23);
    return static_cast<float>(top) * (1.0f / 8388608.0f);
  }

 private:
  uint32_t state_;
};

// Noise in both channels (different sequences), never exactly zero, at the given level.
inline Stereo noise(std::size_t frames, uint32_t seed, float level = 0.5f) {
  Stereo s(frames);
  Lcg lcg(seed);
  for (std::size_t i = 0; i < frames; ++i) {
    s.left[i] = (lcg.sample() + 1.0f / 16777216.0f) * level;
    s.right[i] = (lcg.sample() + 1.0f / 16777216.0f) * level;
  }
  return s;
}

enum class Call { Replacing, Accumulating };

// Runs frames [begin, begin + frames) of `in` into the same frames of `out`, in blocks of at most
// `block` frames, with the chosen audio call.
inline void render(tfhost::Effect& effect, Call call, const Stereo& in, Stereo& out,
                   std::size_t begin, std::size_t frames, std::size_t block) {
  for (std::size_t done = 0; done < frames;) {
    const std::size_t n = std::min(block, frames - done);
    const std::size_t at = begin + done;
    float* inputs[2] = {const_cast<float*>(in.channel(0)) + at,
                        const_cast<float*>(in.channel(1)) + at};
    float* outputs[2] = {out.channel(0) + at, out.channel(1) + at};
    if (call == Call::Replacing) {
      effect.processReplacing(inputs, outputs, static_cast<int32_t>(n));
    } else {
      effect.process(inputs, outputs, static_cast<int32_t>(n));
    }
    done += n;
  }
}

// The whole of `in`, with processReplacing into a new buffer, in one call.
inline Stereo renderAll(tfhost::Effect& effect, const Stereo& in) {
  Stereo out(in.frames());
  render(effect, Call::Replacing, in, out, 0, in.frames(), in.frames());
  return out;
}

inline uint32_t bitsOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Compares two buffers bit for bit; reports the first difference in each channel.
inline ::testing::AssertionResult sameBits(const Stereo& expected, const Stereo& actual) {
  if (expected.frames() != actual.frames()) {
    return ::testing::AssertionFailure()
           << "lengths differ: " << expected.frames() << " vs " << actual.frames();
  }
  for (int c = 0; c < 2; ++c) {
    for (std::size_t i = 0; i < expected.frames(); ++i) {
      const float e = expected.channel(c)[i];
      const float a = actual.channel(c)[i];
      if (bitsOf(e) != bitsOf(a)) {
        return ::testing::AssertionFailure()
               << (c == 0 ? "left" : "right") << " frame " << i << ": expected " << e << " (0x"
               << std::hex << bitsOf(e) << "), got " << a << " (0x" << bitsOf(a) << std::dec << ")";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace tftest
