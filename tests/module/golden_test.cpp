// The golden render: a fixed four-second scenario through the built module, fingerprinted over
// every output sample's bits. Every rounding step of the effect is pinned down, so any change to
// the output, however small, changes the fingerprint; 32-bit and 64-bit builds must agree.
//
// To re-record after a deliberate change of the sound, run this test, check why the output
// changed, and copy the fingerprint it prints into kGoldenFingerprint.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/module/module_harness.h"

namespace tftest {
namespace {

using tfhost::Effect;

constexpr uint64_t kGoldenFingerprint = 0xb13c2e6734ba0cf7u;

constexpr std::size_t kFrames = 4 * 44100;

// FNV-1a, 64 bits, over each sample's bit pattern in little-endian byte order.
class Fingerprint {
 public:
  void add(float sample) {
    const uint32_t bits = bitsOf(sample);
    for (int shift = 0; shift < 32; shift += 8) {
      hash_ ^= (bits >> shift) & 0xFFu;
      hash_ *= 0x100000001B3u;
    }
  }
  uint64_t value() const { return hash_; }

 private:
  uint64_t hash_ = 0xCBF29CE484222325u;
};

// The input: integer noise mixed with a parabolic approximation of a sine, from a 32-bit phase
// accumulator. Only integer arithmetic and exact or correctly rounded float and double operations:
// the same bits everywhere.
Stereo goldenInput() {
  Stereo in(kFrames);
  Lcg lcg(20240601u);
  uint32_t phaseLeft = 0;
  uint32_t phaseRight = 0x40000000u;
  for (std::size_t i = 0; i < kFrames; ++i) {
    phaseLeft += 42852281u;   // about 440 Hz at 44100 Hz
    phaseRight += 64278422u;  // about 660 Hz
    for (int c = 0; c < 2; ++c) {
      const uint32_t phase = c == 0 ? phaseLeft : phaseRight;
      const double x = (static_cast<double>(phase) - 2147483648.0) / 2147483648.0;  // [-1, 1)
      const double tone = 4.0 * x * (1.0 - std::fabs(x));
      const float sample = static_cast<float>(0.5 * tone) + 0.25f * lcg.sample();
      (c == 0 ? in.left : in.right)[i] = sample;
    }
  }
  return in;
}

// What happens at set frames of the scenario, before the frame is processed: an optional host
// action, then parameter changes in the order given.
enum class Action {
  None,
  Program,  // select program `argument`, then set the parameters
  Suspend,  // suspend; a new sample rate `argument` if not 0; set the parameters; resume
};

struct Event {
  std::size_t frame;
  Action action;
  float argument;
  std::vector<std::pair<int32_t, float>> params;
};

const std::vector<Event>& goldenEvents() {
  using A = Action;
  static const std::vector<Event> events = {
      {5000, A::None, 0, {{kStereo, 1.0f}}},
      {10000, A::None, 0, {{kTempo, 1.0f}}},
      {15000, A::None, 0, {{kResolution, 0.0f}}},  // 200 BPM, one note per cycle: fast
      {20000, A::None, 0, {{kWaveform, 0.5f}}},    // triangle
      {22000, A::None, 0, {{kWaveform, 1.5f}}},    // above the bands: the shape stays
      {25000, A::None, 0, {{kModAmount, 0.6f}, {kDepth, 0.45f}}},
      {30000, A::None, 0, {{kWaveform, 0.9f}}},  // sawtooth
      {35000, A::None, 0, {{kSend, 0.6f}, {kBoost, 0.7f}}},
      {40000, A::None, 0, {{kStereo, 0.0f}}},
      {45000,
       A::Program,
       3,
       {{kTempo, 0.6f}, {kResolution, 0.2f}, {kWaveform, 0.2f}, {kStereo, 0.4f}}},
      {52000, A::Suspend, 0, {}},
      {60000, A::None, 0, {{kModAmount, 0.0f}, {kDepth, 0.3f}}},  // a fixed delay of 60
      {65000, A::None, 0, {{kDepth, 0.0533f}}},                   // 10.66, truncated to 10
      {70000, A::None, 0, {{kModAmount, 0.35f}, {kStereo, 0.8f}}},
      {76000, A::Program, 0, {}},
      {82000,
       A::Program,
       5,
       {{kModAmount, 1.0f},
        {kDepth, 0.9f},
        {kWaveform, 0.7f},
        {kResolution, 0.5f},
        {kTempo, 0.9f}}},
      {88000,
       A::Program,
       6,
       {{kSend, 0.3f}, {kTempo, 0.3f}, {kResolution, 0.1f}, {kModAmount, 0.0f}}},
      {94000, A::Program, 5, {}},  // Depth meets the Mod Amt 0 of program 6
      {100000, A::Suspend, 0, {{kWaveform, 0.34f}}},
      {108000, A::None, 0, {{kModAmount, 0.012f}, {kStereo, 1.0f}}},  // narrower than a sample
      {114000, A::None, 0, {{kModAmount, 0.25f}, {kDepth, 0.25f}, {kBoost, 1.0f}, {kSend, 1.0f}}},
      {120000, A::Program, 0, {}},
      {126000, A::Suspend, 48000.0f, {}},                           // tables rebuilt
      {134000, A::None, 0, {{kTempo, 0.0f}, {kResolution, 1.0f}}},  // 60 BPM, 96 notes
      {140000, A::None, 0, {{kTempo, 1.0f}, {kResolution, 0.0f}, {kWaveform, 1.0f}}},
      {150000, A::Program, 0, {{kStereo, 1.0f}}},
      {160000, A::None, 0, {{kBoost, 0.0f}}},
      {165000, A::None, 0, {{kBoost, 0.25f}, {kModAmount, 0.0f}, {kDepth, 0.0f}}},
      {170000, A::None, 0, {{kModAmount, 0.5f}}},
  };
  return events;
}

void apply(Effect& effect, const Event& event) {
  const auto setParams = [&] {
    for (const auto& [index, value] : event.params)
      effect.setParameter(index, value);
  };
  switch (event.action) {
    case Action::None:
      setParams();
      break;
    case Action::Program:
      effect.setProgram(static_cast<int32_t>(event.argument));
      setParams();
      break;
    case Action::Suspend:
      effect.suspend();
      if (event.argument != 0.0f) effect.setSampleRate(event.argument);
      setParams();
      effect.resume();
      break;
  }
}

// Block sizes in turn; a block also ends where the next event begins.
constexpr std::size_t kBlocks[] = {64, 1, 512, 7, 100, 333, 4096, 2, 1000, 257};

struct Render {
  uint64_t fingerprint;
  std::size_t frames;
  std::size_t calls;
  float peak;
  bool finite;
};

// The scenario. Calls rotate through processReplacing out of place, process onto buffers that
// already hold a signal, and processReplacing in place.
Render renderGolden() {
  const Stereo in = goldenInput();
  const std::vector<Event>& events = goldenEvents();
  Lcg prefill(7u);

  auto effect = newEffect(44100.0f);
  effect->resume();

  Fingerprint fingerprint;
  Render result{0, 0, 0, 0.0f, true};
  std::size_t nextEvent = 0;
  Stereo out(4096);
  for (std::size_t at = 0; at < kFrames;) {
    while (nextEvent < events.size() && events[nextEvent].frame <= at) {
      apply(*effect, events[nextEvent++]);
    }
    std::size_t n = std::min(kBlocks[result.calls % std::size(kBlocks)], kFrames - at);
    if (nextEvent < events.size()) n = std::min(n, events[nextEvent].frame - at);

    float* inputs[2] = {const_cast<float*>(in.left.data()) + at,
                        const_cast<float*>(in.right.data()) + at};
    float* outputs[2] = {out.left.data(), out.right.data()};
    switch (result.calls % 3) {
      case 0:
        effect->processReplacing(inputs, outputs, static_cast<int32_t>(n));
        break;
      case 1:
        for (std::size_t i = 0; i < n; ++i) {
          out.left[i] = 0.125f * prefill.sample();
          out.right[i] = 0.125f * prefill.sample();
        }
        effect->process(inputs, outputs, static_cast<int32_t>(n));
        break;
      default:
        std::copy(inputs[0], inputs[0] + n, out.left.data());
        std::copy(inputs[1], inputs[1] + n, out.right.data());
        effect->processReplacing(outputs, outputs, static_cast<int32_t>(n));
        break;
    }
    for (std::size_t i = 0; i < n; ++i) {
      for (float sample : {out.left[i], out.right[i]}) {
        fingerprint.add(sample);
        result.finite = result.finite && std::isfinite(sample);
        result.peak = std::max(result.peak, std::fabs(sample));
      }
    }
    at += n;
    result.frames += n;
    ++result.calls;
  }
  EXPECT_EQ(nextEvent, events.size());
  result.fingerprint = fingerprint.value();
  return result;
}

std::string hex64(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%016" PRIx64, value);
  return text;
}

TEST(GoldenRender, FingerprintOfAFixedScenario) {
  const Render render = renderGolden();
  EXPECT_EQ(render.frames, kFrames);
  EXPECT_TRUE(render.finite);
  EXPECT_GT(render.peak, 0.5f);
  EXPECT_LT(render.peak, 32.0f);
  EXPECT_EQ(hex64(render.fingerprint), hex64(kGoldenFingerprint))
      << "The module's output changed. If the change is deliberate, record the new fingerprint "
      << hex64(render.fingerprint) << " in kGoldenFingerprint (" << render.calls
      << " audio calls, peak " << render.peak << ").";
}

TEST(GoldenRender, RendersTheSameTwice) {
  EXPECT_EQ(renderGolden().fingerprint, renderGolden().fingerprint);
}

}  // namespace
}  // namespace tftest
