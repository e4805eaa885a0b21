// The audio loop: TempoFlanger's process and processReplacing.
//
// On 32-bit x86 this file is built to rely on a 16-byte aligned stack, and the two audio entry
// functions realign the stack for it (TF_AUDIO_ENTRY in frame/effect_record.h), instead of each
// function realigning for itself, as the rest of the module does: realigning takes a register
// for the frame, and the loops below need every one of the eight.
#include <cmath>
#include <cstring>

#include "flanger/tempo_flanger.h"

namespace {

// The same value as static_cast<float>(n), through the signed conversion where it applies: that
// is one instruction on 32-bit x86 as well, where the unsigned one takes several.
float toFloat(uint32_t n) {
  return n <= INT32_MAX ? static_cast<float>(static_cast<int32_t>(n)) : static_cast<float>(n);
}

// Longest run mixed in one go. Bounds how long a parameter change from another thread waits,
// and the snapshots below.
constexpr int32_t kMaxRun = 128;

#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32) && !defined(TF_NO_AVX2)
#define TF_AVX2_PATH 1
// Decided once, when the module loads. AVX2 does the same single-precision operations as SSE2,
// only on more lanes, so the output is the same bits on either. 64-bit only: in the 32-bit build
// the AVX2 loops measured slower than the SSE2 ones. Not on Windows, where the compiler does not
// keep the stack aligned for 32-byte vectors. TF_NO_AVX2 leaves it out anywhere (the equivalence
// test builds the flanger that way too, to check the SSE2 loops).
const bool kUseAvx2 = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}();
#endif

// How a call's four channel buffers lie: outputs apart from each other and from every input
// (the inputs may share memory, as for a mono source), exactly in place, or overlapping in some
// other way, where outputs of earlier frames may be inputs of later ones.
enum class Layout { Separate, InPlace, Overlapping };

Layout layoutOf(const float* const* in, float* const* out, int32_t frames) {
  const auto overlap = [frames](const float* a, const float* b) {
    const auto x = reinterpret_cast<uintptr_t>(a);
    const auto y = reinterpret_cast<uintptr_t>(b);
    const uintptr_t bytes = sizeof(float) * static_cast<uintptr_t>(frames);
    return x < y + bytes && y < x + bytes;
  };
  if (overlap(out[0], out[1])) return Layout::Overlapping;
  if (out[0] == in[0] && out[1] == in[1]) return Layout::InPlace;
  if (overlap(out[0], in[0]) || overlap(out[0], in[1]) || overlap(out[1], in[0]) ||
      overlap(out[1], in[1])) {
    return Layout::Overlapping;
  }
  return Layout::Separate;
}

// The per-sample arithmetic of the two output paths, in the order and precision the effect has
// always used; the gains are fixed for a run.
template <bool Panned>
struct Mix {
  float send, gainLeft, gainRight, boostFactor;
  float left(float in, float delayed) const { return channel(gainLeft, in, delayed); }
  float right(float in, float delayed) const { return channel(gainRight, in, delayed); }
  float channel(float gain, float in, float delayed) const {
    return Panned ? gain * (delayed * send + in) * boostFactor
                  : (delayed * send + in) * boostFactor;
  }
};

// In the loops below each tick takes its delayed sample before it stores its input. That is the
// order of DelayLine::tick turned round, which makes no difference while the two positions
// differ: the sample taken was stored at least kVectorDistance ticks earlier (closer ones go
// through a snapshot), or is taken ahead of the store position and so is older than the stretch
// and is only overwritten by a later tick. Either way the iterations can run side by side in
// vector registers however the compiler groups them (up to 16 lanes, loads before stores);
// telling it so spares the overlap checks it would otherwise make on every call.
constexpr int32_t kVectorDistance = 16;
#if defined(__clang__)
#define TF_VECTOR_LOOP _Pragma("clang loop vectorize(assume_safety)")
#elif defined(__GNUC__)
#define TF_VECTOR_LOOP _Pragma("GCC ivdep")
#else
#define TF_VECTOR_LOOP
#endif

// One channel's share of tickAndMix below.
template <bool Accumulate, bool Panned, bool InPlace, bool Snapshot>
inline __attribute__((always_inline)) void tickAndMixChannel(
    const float* __restrict in, float* __restrict out, float* __restrict line,
    const float* __restrict snapshot, int32_t store, int32_t take, int32_t frames,
    const Mix<Panned>& mix, float gain) {
  TF_VECTOR_LOOP
  for (int32_t i = 0; i < frames; ++i) {
    const float input = InPlace ? out[i] : in[i];
    const float delayed = Snapshot ? snapshot[i] : line[take + i];
    line[store + i] = input;
    const float output = mix.channel(gain, input, delayed);
    if (Accumulate) {
      out[i] = (InPlace ? input : out[i]) + output;
    } else {
      out[i] = output;
    }
  }
}

// The ticks of both delay lines and the mix, frame by frame in the order the effect has always
// done them; the compiler vectorises the loop. The restrict qualifiers carry what layoutOf found
// about the host's buffers. `left` and `right` are the output buffers; in place they are the
// inputs too.
template <bool Accumulate, bool Panned, bool InPlace, bool Snapshot>
inline __attribute__((always_inline)) void tickAndMix(
    const float* __restrict inLeft, const float* __restrict inRight, float* __restrict left,
    float* __restrict right, float* __restrict lineL, float* __restrict lineR,
    const float* __restrict snapshotL, const float* __restrict snapshotR, int32_t store,
    int32_t take, int32_t frames, const Mix<Panned>& mix) {
#if defined(__i386__)
  // With only eight registers the loop below spills its pointers, so a 32-bit build takes one
  // channel at a time: the channels share no buffer (see layoutOf), so the order between them
  // does not matter.
  tickAndMixChannel<Accumulate, Panned, InPlace, Snapshot>(inLeft, left, lineL, snapshotL, store,
                                                           take, frames, mix, mix.gainLeft);
  tickAndMixChannel<Accumulate, Panned, InPlace, Snapshot>(inRight, right, lineR, snapshotR, store,
                                                           take, frames, mix, mix.gainRight);
#else
  TF_VECTOR_LOOP
  for (int32_t i = 0; i < frames; ++i) {
    const float inL = InPlace ? left[i] : inLeft[i];
    const float inR = InPlace ? right[i] : inRight[i];
    const float delayedL = Snapshot ? snapshotL[i] : lineL[take + i];
    lineL[store + i] = inL;
    const float delayedR = Snapshot ? snapshotR[i] : lineR[take + i];
    lineR[store + i] = inR;
    const float outL = mix.left(inL, delayedL);
    const float outR = mix.right(inR, delayedR);
    if (Accumulate) {
      left[i] = (InPlace ? inL : left[i]) + outL;
      right[i] = (InPlace ? inR : right[i]) + outR;
    } else {
      left[i] = outL;
      right[i] = outR;
    }
  }
#endif
}

// What `frames` ticks of `line` will take, gathered before any of them stores: the samples
// already in the line, then, once the ticks reach the delay, the run's own input, `delay` ticks
// late.
void gatherTaken(const float* samples, int32_t store, int32_t take, const float* input,
                 int32_t frames, float* snapshot) {
  const int32_t delay = store - take;
  const int32_t older = delay < frames ? delay : frames;
  std::memcpy(snapshot, samples + take, sizeof(float) * static_cast<size_t>(older));
  std::memcpy(snapshot + older, input, sizeof(float) * static_cast<size_t>(frames - older));
}

// Any layout and any positions of the two lines: one frame at a time, both inputs read before
// either output is written, exactly as the effect has always gone.
template <bool Accumulate, bool Panned>
inline __attribute__((always_inline)) void mixFrames(const float* inLeft, const float* inRight,
                                                     float* outLeft, float* outRight,
                                                     DelayLine& lineLeft, DelayLine& lineRight,
                                                     int32_t frames, const Mix<Panned>& mix) {
  for (int32_t i = 0; i < frames; ++i) {
    const float inL = inLeft[i];
    const float inR = inRight[i];
    const float left = mix.left(inL, lineLeft.tick(inL));
    const float right = mix.right(inR, lineRight.tick(inR));
    if (Accumulate) {
      outLeft[i] += left;
      outRight[i] += right;
    } else {
      outLeft[i] = left;
      outRight[i] = right;
    }
  }
}

// One run: stretches up to each wrap of either position, or frame by frame when nothing
// faster applies.
template <bool Accumulate, bool Panned>
inline __attribute__((always_inline)) void mixRun(Layout layout, const float* inLeft,
                                                  const float* inRight, float* outLeft,
                                                  float* outRight, DelayLine& lineLeft,
                                                  DelayLine& lineRight, int32_t frames,
                                                  const Mix<Panned>& mix, float* scratchLeft,
                                                  float* scratchRight) {
  // The two lines always move together; should they ever not, the frame-by-frame loop is right.
  if (layout == Layout::Overlapping || lineLeft.getSize() != lineRight.getSize() ||
      lineLeft.getWriteIndex() != lineRight.getWriteIndex() ||
      lineLeft.getDelay() != lineRight.getDelay()) {
    mixFrames<Accumulate>(inLeft, inRight, outLeft, outRight, lineLeft, lineRight, frames, mix);
    return;
  }
  float* const samplesL = lineLeft.samples();
  float* const samplesR = lineRight.samples();
  for (int32_t i = 0; i < frames;) {
    // Both lines stand at the same positions; read them once, so that a delay moved by another
    // thread meanwhile cannot make this stretch reach past the buffer (it applies from the next
    // stretch on).
    const int32_t store = lineLeft.getWriteIndex();
    const int32_t take = lineLeft.getReadIndex();
    const int32_t ahead = lineLeft.ticksBeforeWrap(store, take);
    const int32_t count = frames - i < ahead ? frames - i : ahead;
    // Taking fewer than kVectorDistance positions behind storing: gather what the ticks take.
    if (take <= store && store - take < kVectorDistance) {
      gatherTaken(samplesL, store, take, inLeft + i, count, scratchLeft);
      gatherTaken(samplesR, store, take, inRight + i, count, scratchRight);
      if (layout == Layout::InPlace) {
        tickAndMix<Accumulate, Panned, true, true>(nullptr, nullptr, outLeft + i, outRight + i,
                                                   samplesL, samplesR, scratchLeft, scratchRight,
                                                   store, take, count, mix);
      } else {
        tickAndMix<Accumulate, Panned, false, true>(inLeft + i, inRight + i, outLeft + i,
                                                    outRight + i, samplesL, samplesR, scratchLeft,
                                                    scratchRight, store, take, count, mix);
      }
    } else if (layout == Layout::InPlace) {
      tickAndMix<Accumulate, Panned, true, false>(nullptr, nullptr, outLeft + i, outRight + i,
                                                  samplesL, samplesR, nullptr, nullptr, store, take,
                                                  count, mix);
    } else {
      tickAndMix<Accumulate, Panned, false, false>(inLeft + i, inRight + i, outLeft + i,
                                                   outRight + i, samplesL, samplesR, nullptr,
                                                   nullptr, store, take, count, mix);
    }
    lineLeft.advance(count);
    lineRight.advance(count);
    i += count;
  }
}

}  // namespace

uint32_t roundSweep(float x) {
  if (!(x > -1.0f)) return 0;  // NaN too
  if (x >= 4294967296.0f) return UINT32_MAX;
  // Sweeps are delays of a few hundred samples: below 2^31 the signed conversion (one
  // instruction on 32-bit x86 too) gives the same whole part.
  const uint32_t n = x < 0.0f            ? 0u
                     : x < 2147483648.0f ? static_cast<uint32_t>(static_cast<int32_t>(x))
                                         : static_cast<uint32_t>(x);
  return x > toFloat(n) + 0.5f ? n + 1 : n;
}

// The audio loop. Every 100 modulated frames the delay steps to the next table entry; the sweep
// position pans the channels when Stereo is on. A channel's input sample is read before its
// output is written, so in-place processing works. Runs on the host's audio thread: no
// allocation, no locks, no transcendental functions.
//
// Between two sweep steps nothing changes from frame to frame (delay, pan factors, levels), so
// the block is cut into runs that end before the next step, and each run goes through one loop
// that the compiler vectorises. Every sample goes through the same float operations in the same
// order as when the loop went frame by frame, so the output is the same to the bit. The fields
// are read once per run: a parameter change or resume from another thread takes effect at the
// next run boundary (at most 128 frames away, and never later than the next sweep step) rather
// than at the next frame.
template <bool Accumulate>
void TempoFlanger::processBlock(float** inputs, float** outputs, int32_t sampleFrames) {
  if (sampleFrames <= 0 || !inputs || !outputs) return;
  if (!inputs[0] || !inputs[1] || !outputs[0] || !outputs[1]) return;
#if defined(TF_AVX2_PATH)
  if (kUseAvx2) {
    processRunsAvx2<Accumulate>(inputs, outputs, sampleFrames);
    return;
  }
#endif
  processRuns<Accumulate>(inputs, outputs, sampleFrames);
}

#if defined(TF_AVX2_PATH)
// The same runs with the mixing loops built for AVX2: the same float operations, eight lanes at a
// time.
template <bool Accumulate>
__attribute__((target("avx2"))) void TempoFlanger::processRunsAvx2(const float* const* inputs,
                                                                   float* const* outputs,
                                                                   int32_t sampleFrames) {
  processRuns<Accumulate>(inputs, outputs, sampleFrames);
}
#endif

template <bool Accumulate>
inline __attribute__((always_inline)) void TempoFlanger::processRuns(const float* const* inputs,
                                                                     float* const* outputs,
                                                                     int32_t sampleFrames) {
  const float* inLeft = inputs[0];
  const float* inRight = inputs[1];
  float* outLeft = outputs[0];
  float* outRight = outputs[1];
  const Layout layout = layoutOf(inputs, outputs, sampleFrames);
  float scratchLeft[kMaxRun];
  float scratchRight[kMaxRun];
  for (int32_t done = 0; done < sampleFrames;) {
    int32_t frames = sampleFrames - done < kMaxRun ? sampleFrames - done : kMaxRun;
    const bool modulated = modAmount != 0.0f;
    if (modulated) {
      if (sineLfo->isStepDue(sampleCounter)) {
        switch (waveType) {
          case kSine:
            currentDelay = roundSweep(sineLfo->next());
            break;
          case kTriangle:
            currentDelay = roundSweep(triangleLfo->next());
            break;
          case kSawtooth:
            currentDelay = roundSweep(sawtoothLfo->next());
            break;
          default:
            break;
        }
        delayLeft->setDelay(static_cast<int32_t>(currentDelay));
        delayRight->setDelay(static_cast<int32_t>(currentDelay));
      }
      // The run ends before the counter reaches the next step (always at least one frame away).
      const uint32_t untilStep = static_cast<uint32_t>(sineLfo->getLastStep()) +
                                 sineLfo->getStep() - static_cast<uint32_t>(sampleCounter);
      if (untilStep < static_cast<uint32_t>(frames)) frames = static_cast<int32_t>(untilStep);
      sampleCounter = static_cast<int32_t>(static_cast<uint32_t>(sampleCounter) +
                                           static_cast<uint32_t>(frames));
    }

    if (stereo != 0.0f && modulated) {
      const float d = std::fabs(toFloat(currentDelay) - centre);
      const float panL = d * inverseModRange;
      const float panR = 1.0f - panL;
      const Mix<true> mix{send, panL * stereo + panBase, panR * stereo + panBase, boostFactor};
      mixRun<Accumulate>(layout, inLeft + done, inRight + done, outLeft + done, outRight + done,
                         *delayLeft, *delayRight, frames, mix, scratchLeft, scratchRight);
    } else {
      const Mix<false> mix{send, 0.0f, 0.0f, boostFactor};
      mixRun<Accumulate>(layout, inLeft + done, inRight + done, outLeft + done, outRight + done,
                         *delayLeft, *delayRight, frames, mix, scratchLeft, scratchRight);
    }
    done += frames;
  }
}

void TempoFlanger::process(float** inputs, float** outputs, int32_t sampleFrames) {
  processBlock<true>(inputs, outputs, sampleFrames);
}

void TempoFlanger::processReplacing(float** inputs, float** outputs, int32_t sampleFrames) {
  processBlock<false>(inputs, outputs, sampleFrames);
}
