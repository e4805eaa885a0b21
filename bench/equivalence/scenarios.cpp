#include "bench/equivalence/scenarios.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "flanger/lfo_tables.h"
#include "flanger/tempo_flanger.h"

namespace equivalence {
namespace {

// splitmix64: small, and the same sequence on every target (the standard distributions are not).
class Rng {
 public:
  explicit Rng(uint64_t seed) : state(seed) {}
  uint64_t next() {
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
  // [0, 1) in steps of 2^-24: exact in single precision.
  float unit() { return static_cast<float>(next() >> 40) * (1.0f / 16777216.0f); }
  template <class T, size_t N>
  T pick(const T (&values)[N]) {
    return values[below(N)];
  }

 private:
  uint64_t state;
};

class Fnv {
 public:
  void bytes(const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
      hash ^= p[i];
      hash *= 0x100000001b3ull;
    }
  }
  template <class T>
  void value(T v) {
    bytes(&v, sizeof(v));
  }
  uint64_t result() const { return hash; }

 private:
  uint64_t hash = 0xcbf29ce484222325ull;
};

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

VstIntPtr TF_CALLCONV hostCallback(AEffect*, int32_t opcode, int32_t, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

// Parameter values as hosts and hostile callers send them: mostly within 0 to 1, with band and
// shape boundaries, values out of range, tiny ones (Mod Amt below 0.01 mirrors the sweep) and
// values that are not finite.
float drawValue(Rng& rng, int32_t index) {
  static const float kBoundaries[] = {0.0f,        1.0f,        0.5f,         0.25f,
                                      1.0f / 3.0f, 2.0f / 3.0f, 1.0f / 13.0f, 12.0f / 13.0f,
                                      0.8462f,     0.428572f,   0.1f,         0.0769231f};
  static const float kOutOfRange[] = {-1.0f,   2.0f,    1.0000001f, -1.0e-7f, 100.0f,
                                      -100.0f, 1.0e30f, -1.0e30f,   1.5f,     -0.25f};
  static const float kTiny[] = {1.0e-3f, 0.005f,   0.0099f,  0.01f,    0.0100001f, 0.0105f,
                                1.0e-7f, 1.0e-30f, 1.0e-40f, -1.0e-3f, -0.01f,     0.02f};
  static const float kNotFinite[] = {kNaN, kInf, -kInf};
  const uint32_t kind = rng.below(100);
  if (index == kModAmount && kind < 25) return kind < 8 ? 0.0f : rng.pick(kTiny);
  if (kind < 55) return rng.unit();
  if (kind < 70) return rng.pick(kBoundaries);
  if (kind < 80) return rng.unit() * 3.0f - 1.0f;
  if (kind < 87) return rng.pick(kOutOfRange);
  if (kind < 96) return rng.pick(kTiny);
  return rng.pick(kNotFinite);
}

int32_t drawBlock(Rng& rng) {
  static const int32_t kCommon[] = {32, 64, 100, 128, 200, 256, 512, 1024};
  const uint32_t kind = rng.below(100);
  if (kind < 2) return -static_cast<int32_t>(rng.below(3));  // nothing to do
  if (kind < 30) return 1 + static_cast<int32_t>(rng.below(16));
  if (kind < 60) return 17 + static_cast<int32_t>(rng.below(496));
  if (kind < 80) return rng.pick(kCommon);
  return 1 + static_cast<int32_t>(rng.below(4096));
}

// Noise mostly; also silence, clicks, loud and denormal signals and the odd infinity. No NaN input:
// which of two NaNs an addition passes on is not part of the sound.
void fillSignal(Rng& rng, float* signal, int32_t frames) {
  const uint32_t kind = rng.below(20);
  for (int32_t i = 0; i < frames; ++i) {
    float x = rng.unit() * 2.0f - 1.0f;
    switch (kind) {
      case 0:
        x = 0.0f;
        break;
      case 1:
        x = rng.below(50) == 0 ? 1.0f : 0.0f;
        break;
      case 2:
        x *= 1000.0f;
        break;
      case 3:
        x *= 1.0e-39f;
        break;
      case 4:
        if (rng.below(500) == 0) x = rng.below(2) ? kInf : -kInf;
        break;
      default:
        break;
    }
    signal[i] = x;
  }
}

void hashState(Fnv& fnv, const TempoFlanger& fx) {
  const TempoFlanger::State s = fx.state();
  fnv.value(s.resolutionNotes);
  for (float v : {s.lfoFrequency, s.depthSamples, s.modRange, s.centre, s.inverseModRange,
                  s.panBase, s.boostFactor}) {
    fnv.value(v);
  }
  fnv.value(s.waveType);
  fnv.value(s.lastWaveType);
  fnv.value(s.currentDelay);
  fnv.value(s.sampleCounter);
  for (const DelayLine* line : {&fx.leftLine(), &fx.rightLine()}) {
    fnv.value(line->getWriteIndex());
    fnv.value(line->getReadIndex());
  }
  fnv.value(fx.sine().getReadIndex());
  fnv.value(fx.sine().getLastStep());
  fnv.value(fx.triangle().getReadIndex());
  fnv.value(fx.sawtooth().getReadIndex());
}

// Splits `frames` into host blocks as `blocks` asks.
std::vector<int32_t> cutBlocks(int32_t frames, Blocks blocks, Rng& rng) {
  if (blocks == Blocks::AsDrawn || frames <= 0) return {frames};
  std::vector<int32_t> sizes;
  while (frames > 0) {
    const int32_t size = blocks == Blocks::SingleFrames
                             ? 1
                             : std::min(frames, 1 + static_cast<int32_t>(rng.below(300)));
    sizes.push_back(size);
    frames -= size;
  }
  return sizes;
}

}  // namespace

uint64_t audioScenario(uint32_t number, Blocks blocks) {
  Rng rng(0x5eed0000ull + number * 7919ull);
  Rng cutRng(0xc0ffee00ull + number);
  Fnv fnv;
  auto fx = std::make_unique<TempoFlanger>(hostCallback);
  if (rng.below(10) != 0) fx->resume();  // a host resumes before its first block, mostly

  constexpr int32_t kMaxFrames = 4096;
  std::vector<float> inLeft(kMaxFrames), inRight(kMaxFrames), outLeft(kMaxFrames),
      outRight(kMaxFrames);
  const uint32_t operations = 20 + rng.below(40);
  for (uint32_t op = 0; op < operations; ++op) {
    const uint32_t kind = rng.below(100);
    if (kind < 45) {
      const int32_t frames = drawBlock(rng);
      const bool accumulate = rng.below(2) == 0;
      const bool inPlace = rng.below(3) == 0;
      const int32_t filled = std::max(frames, 0);
      fillSignal(rng, inLeft.data(), filled);
      fillSignal(rng, inRight.data(), filled);
      if (inPlace) {
        std::copy(inLeft.begin(), inLeft.begin() + filled, outLeft.begin());
        std::copy(inRight.begin(), inRight.begin() + filled, outRight.begin());
      } else if (accumulate) {
        fillSignal(rng, outLeft.data(), filled);
        fillSignal(rng, outRight.data(), filled);
      }
      int32_t offset = 0;
      for (int32_t size : cutBlocks(frames, blocks, cutRng)) {
        float* in[2] = {(inPlace ? outLeft : inLeft).data() + offset,
                        (inPlace ? outRight : inRight).data() + offset};
        float* out[2] = {outLeft.data() + offset, outRight.data() + offset};
        if (accumulate) {
          fx->process(in, out, size);
        } else {
          fx->processReplacing(in, out, size);
        }
        offset += std::max(size, 0);
      }
      fnv.bytes(outLeft.data(), sizeof(float) * static_cast<size_t>(filled));
      fnv.bytes(outRight.data(), sizeof(float) * static_cast<size_t>(filled));
    } else if (kind < 80) {
      const auto index = static_cast<int32_t>(rng.below(kNumParams));
      fx->setParameter(index, drawValue(rng, index));
    } else if (kind < 87) {
      fx->setProgram(static_cast<int32_t>(rng.below(kNumPrograms)));
    } else if (kind < 92) {
      fx->suspend();
      if (rng.below(2) == 0) fx->resume();
    } else if (kind < 96) {
      fx->resume();
    } else {
      static const float kRates[] = {44100.0f, 48000.0f, 48000.0f, 96000.0f, 22050.0f};
      fx->setSampleRate(rng.pick(kRates));
      fx->resume();
    }
    hashState(fnv, *fx);
  }
  return fnv.result();
}

uint64_t delayScenario(uint32_t delay) {
  static const int32_t kBlocks[] = {1, 3, 7, 16, 100, 128, 199, 200, 255, 256, 1000, 37, 64};
  Rng rng(0xde1a0000ull + delay);
  Fnv fnv;
  auto fx = std::make_unique<TempoFlanger>(hostCallback);
  fx->resume();
  fx->setParameter(kModAmount, 0.0f);
  fx->setParameter(kDepth, (static_cast<float>(delay) + 0.5f) / 200.0f);
  fx->setParameter(kStereo, 0.0f);
  constexpr int32_t kMaxFrames = 1000;
  std::vector<float> inLeft(kMaxFrames), inRight(kMaxFrames), outLeft(kMaxFrames),
      outRight(kMaxFrames);
  int32_t block = 0;
  for (int32_t frames : kBlocks) {
    for (bool accumulate : {false, true}) {
      for (bool inPlace : {false, true}) {
        fillSignal(rng, inLeft.data(), frames);
        fillSignal(rng, inRight.data(), frames);
        fillSignal(rng, outLeft.data(), frames);
        fillSignal(rng, outRight.data(), frames);
        if (inPlace) {
          std::copy(inLeft.begin(), inLeft.begin() + frames, outLeft.begin());
          std::copy(inRight.begin(), inRight.begin() + frames, outRight.begin());
        }
        float* in[2] = {(inPlace ? outLeft : inLeft).data(), (inPlace ? outRight : inRight).data()};
        float* out[2] = {outLeft.data(), outRight.data()};
        if (accumulate) {
          fx->process(in, out, frames);
        } else {
          fx->processReplacing(in, out, frames);
        }
        fnv.bytes(outLeft.data(), sizeof(float) * static_cast<size_t>(frames));
        fnv.bytes(outRight.data(), sizeof(float) * static_cast<size_t>(frames));
        hashState(fnv, *fx);
        ++block;
      }
    }
  }
  fnv.value(block);
  return fnv.result();
}

namespace {

float drawFrequency(Rng& rng) {
  static const uint32_t kNotes[] = {1, 2, 3, 4, 5, 6, 7, 8, 16, 32, 48, 64, 96};
  static const float kSpecial[] = {0.0f,   -0.0f,   kNaN, -1.0f,           1.0e-5f,
                                   441.0f, 1000.0f, kInf, 60.0f / 5760.0f, 3.3333333f};
  if (rng.below(10) == 0) return rng.pick(kSpecial);
  const float bpm = rng.unit() * 140.0f + 60.0f;
  return bpm / static_cast<float>(rng.pick(kNotes) * 60u);
}

float drawRange(Rng& rng) {
  static const float kAmounts[] = {0.0f, 0.001f, 0.005f, 0.01f, 0.0100001f, 0.25f, 1.0f, 1.5f};
  const float amount = rng.below(4) == 0 ? rng.pick(kAmounts) : rng.unit();
  return 200.0f * amount / 2.0f - 1.0f;
}

float drawCentre(Rng& rng) {
  static const float kSpecial[] = {0.0f, 199.0f, 200.0f, -5.0f, 250.0f, 50.0f};
  return rng.below(5) == 0 ? rng.pick(kSpecial) : rng.unit() * 200.0f;
}

template <class Table>
uint64_t fillSequence(Table& table, Rng& rng, uint32_t number) {
  Fnv fnv;
  // Scenario 0 walks the corners on purpose: the longest table (60 BPM, 96 notes), cut to the
  // table, then only its range and centre changing, then the default sweep and the fastest one.
  struct Fill {
    float range, frequency, centre;
  };
  static const Fill kCorners[] = {
      {23.0f, 60.0f / 5760.0f, 50.0f},
      {23.0f, 60.0f / 5760.0f, 60.0f},
      {40.0f, 60.0f / 5760.0f, 60.0f},
      {-0.5f, 60.0f / 5760.0f, 0.0f},
      {-1.0f, 60.0f / 5760.0f, 0.0f},
      {99.0f, 60.0f / 5760.0f, 100.0f},
      {24.0f, 120.00008f / 3840.0f, 50.0f},
      {24.0f, 200.0f / 60.0f, 50.0f},
      {24.0f, 2.0f, 50.0f},
      {24.0f, 0.01875f, 50.0f},
      {24.0f, 0.0f, 50.0f},
      {7.0f, 0.0f, 8.0f},
      {23.0f, 60.0f / 5760.0f, 50.0f},
  };
  float range = drawRange(rng);
  float frequency = drawFrequency(rng);
  float centre = drawCentre(rng);
  const uint32_t fills = number == 0 ? sizeof(kCorners) / sizeof(kCorners[0]) : 40;
  for (uint32_t f = 0; f < fills; ++f) {
    if (number == 0) {
      range = kCorners[f].range;
      frequency = kCorners[f].frequency;
      centre = kCorners[f].centre;
    } else {
      const uint32_t kind = rng.below(10);
      if (kind < 5) {  // only the range or the centre moves: Depth, Mod Amt
        if (rng.below(2) == 0) range = drawRange(rng);
        if (rng.below(2) == 0) centre = drawCentre(rng);
      } else if (kind < 8) {  // Tempo, Resolution
        frequency = drawFrequency(rng);
      } else if (kind == 8) {
        table.clear();
      }
    }
    table.generate(range, frequency, centre);
    fnv.value(table.getPeriod());
    fnv.value(table.getReadIndex());
    for (uint32_t i = 0; i <= table.getCapacity(); ++i)
      fnv.value(table.entry(i));
    const uint32_t reads = rng.below(300);
    for (uint32_t i = 0; i < reads; ++i)
      fnv.value(table.next());
  }
  return fnv.result();
}

}  // namespace

uint64_t tableScenario(uint32_t shape, uint32_t rateIndex, uint32_t number) {
  static const float kRates[kTableRates] = {44100.0f, 48000.0f, 22050.0f, 96000.0f};
  const float rate = kRates[rateIndex % kTableRates];
  Rng rng(0x7ab1e000ull + (shape * 16 + rateIndex) * 1000ull + number);
  switch (shape) {
    case 0: {
      SineLfo table(100, 96, rate);
      return fillSequence(table, rng, number);
    }
    case 1: {
      TriangleLfo table(100, 96, rate);
      return fillSequence(table, rng, number);
    }
    default: {
      SawtoothLfo table(100, 96, rate);
      return fillSequence(table, rng, number);
    }
  }
}

}  // namespace equivalence
