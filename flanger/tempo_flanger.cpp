#include "flanger/tempo_flanger.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "frame/value_text.h"

namespace {

constexpr int32_t kDelaySize = 200;  // samples per delay line
constexpr uint32_t kLfoStep = 100;   // samples per sweep step
constexpr uint32_t kLfoSpan = 96;    // seconds of the longest sweep cycle
constexpr float kMinHostRate = 8000.0f;
constexpr float kMaxHostRate = 768000.0f;

enum WaveType : int32_t { kSine = 1, kTriangle = 2, kSawtooth = 3 };

constexpr uint32_t kResolutionNotes[13] = {1, 2, 3, 4, 5, 6, 7, 8, 16, 32, 48, 64, 96};

struct ParamText {
  const char* name;
  const char* label;
};
constexpr ParamText kParamTexts[kNumParams] = {
    {" Tempo ", "   BPM   "},  {" Resolution ", " note(s) "},  {" Send ", "    %    "},
    {" Depth ", "    %    "},  {" Mod Amt ", "    %    "},     {" Waveform ", "   ---   "},
    {" Stereo ", " % of Pan"}, {" 12 dB Boost ", "    dB   "},
};

constexpr char kDefaultProgramName[] = "--- Default ---";
constexpr char kInitName[] = "Init";

bool validIndex(int32_t index) { return static_cast<uint32_t>(index) < kNumParams; }

// Decimal digits of a whole number below 2^80 held in a double, exactly. Returns the count.
int exactDigits(double r, char* digits) {
  int exponent = 0;
  const double mantissa = std::frexp(r, &exponent);
  auto m = static_cast<uint64_t>(std::ldexp(mantissa, 53));
  int shift = exponent - 53;
  // Little-endian limbs of nine decimal digits each.
  uint32_t limbs[4] = {0, 0, 0, 0};
  if (shift <= 0) {
    m >>= -shift;
    shift = 0;
  }
  limbs[0] = static_cast<uint32_t>(m % 1000000000u);
  limbs[1] = static_cast<uint32_t>((m / 1000000000u) % 1000000000u);
  limbs[2] = static_cast<uint32_t>(m / 1000000000000000000u);
  for (; shift > 0; --shift) {
    uint32_t carry = 0;
    for (uint32_t& limb : limbs) {
      const uint32_t doubled = limb * 2 + carry;
      carry = doubled >= 1000000000u ? 1 : 0;
      limb = doubled - carry * 1000000000u;
    }
  }
  char scratch[40];
  const int length = std::snprintf(scratch, sizeof(scratch), "%u%09u%09u%09u", limbs[3], limbs[2],
                                   limbs[1], limbs[0]);
  int first = 0;
  while (first < length - 1 && scratch[first] == '0')
    ++first;
  std::memcpy(digits, scratch + first, static_cast<size_t>(length - first));
  return length - first;
}

// Rounds a magnitude to a whole number, halves going up. Done by hand: one Windows C runtime's
// round() takes 0.49999999999999994 up to 1.
double roundHalfAway(double a) {
  if (!(a < 4503599627370496.0)) return a;  // from 2^52 on every double is whole; NaN, infinity
  const double whole = static_cast<double>(static_cast<int64_t>(a));
  return a - whole >= 0.5 ? whole + 1.0 : whole;  // the difference is exact
}

// The same value as static_cast<float>(n), through the signed conversion where it applies: that
// is one instruction on 32-bit x86 as well, where the unsigned one takes several.
float toFloat(uint32_t n) {
  return n <= INT32_MAX ? static_cast<float>(static_cast<int32_t>(n)) : static_cast<float>(n);
}

}  // namespace

void wholeText(double x, char* text) {
  constexpr int kMaxDigits = 23;  // a 24-byte host buffer, terminator included
  constexpr int kExactDigits = 17;
  if (x == 0.0) {
    std::strcpy(text, "0");
    return;
  }
  const double r = roundHalfAway(std::fabs(x));
  if (!(r < 1.0e24)) {  // also NaN and infinity
    std::strcpy(text, kHugeText);
    return;
  }
  char digits[40];
  const int count = r == 0.0 ? 0 : exactDigits(r, digits);
  if (count > kMaxDigits) {
    std::strcpy(text, kHugeText);
    return;
  }
  for (int i = kExactDigits; i < count; ++i)
    digits[i] = '0';
  std::memcpy(text, digits, static_cast<size_t>(count));
  text[count] = 0;
}

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

TempoFlanger::TempoFlanger(audioMasterCallback host)
    : EffectBase(host, kNumPrograms, kNumParams), creationRate(getSampleRate()) {
  delayLeft = std::make_unique<DelayLine>(kDelaySize);
  delayRight = std::make_unique<DelayLine>(kDelaySize);
  sineLfo = std::make_unique<SineLfo>(kLfoStep, kLfoSpan, creationRate);
  triangleLfo = std::make_unique<TriangleLfo>(kLfoStep, kLfoSpan, creationRate);
  sawtoothLfo = std::make_unique<SawtoothLfo>(kLfoStep, kLfoSpan, creationRate);
  sampleCounter = 0;
  maxDelay = kDelaySize;
  resolutionStep = 1.0f / 13.0f;
  waveformStep = 1.0f / 3.0f;
  lastWaveType = 0;
  setNumInputs(2);
  setNumOutputs(2);
  setUniqueID(kUniqueId);
  setCanMono(true);
  setCanReplacing(true);
  setProgram(0);
  suspend();
}

TempoFlanger::~TempoFlanger() = default;

float* TempoFlanger::parameterField(int32_t index) {
  static constexpr float TempoFlanger::*kFields[kNumParams] = {
      &TempoFlanger::tempo,  &TempoFlanger::resolution, &TempoFlanger::send,
      &TempoFlanger::depth,  &TempoFlanger::modAmount,  &TempoFlanger::waveform,
      &TempoFlanger::stereo, &TempoFlanger::boost};
  return &(this->*kFields[index]);
}

float TempoFlanger::getParameter(int32_t index) {
  return validIndex(index) ? *parameterField(index) : 0.0f;
}

float TempoFlanger::frequency(float bpm, uint32_t notes) const {
  return bpm / static_cast<float>(notes * 60u);
}

// Keeps the sweep x ± range inside the delay line, each step rounded to single precision.
float TempoFlanger::clampCentre(float range, float x) const {
  const float m = static_cast<float>(maxDelay);
  const float h = m / 2.0f;
  const float d = range - x;
  const float s = range + x;
  const float e = s - m;
  if (x <= h) return range > x ? d + x : x;
  return s > m ? x - e : x;
}

void TempoFlanger::refill() {
  switch (waveType) {
    case kSine:
      sineLfo->generate(modRange, lfoFrequency, centre);
      break;
    case kTriangle:
      triangleLfo->generate(modRange, lfoFrequency, centre);
      break;
    case kSawtooth:
      sawtoothLfo->generate(modRange, lfoFrequency, centre);
      break;
    default:
      break;
  }
}

// A sweep narrower than one sample pans as if it were one sample wide, so the pan factor never
// explodes near the smallest Mod Amt values.
void TempoFlanger::updateInverseModRange() {
  inverseModRange = modRange >= 1.0f ? 1.0f / modRange : 1.0f;
}

void TempoFlanger::setParameter(int32_t index, float value) {
  if (!validIndex(index) || !std::isfinite(value)) return;
  programs[static_cast<size_t>(curProgram)].params[static_cast<size_t>(index)] = value;
  *parameterField(index) = value;

  switch (index) {
    case kTempo:
      lfoFrequency = frequency(value * 140.0f + 60.0f, resolutionNotes);
      refill();
      break;
    case kResolution: {
      if (value <= 1.0f) {
        const double q = resolutionStep;
        int band = 12;
        while (band > 0 && static_cast<double>(value) < band * q)
          --band;
        resolutionNotes = kResolutionNotes[band];
      }
      lfoFrequency = frequency(tempo * 140.0f + 60.0f, resolutionNotes);
      refill();
      break;
    }
    case kSend:
      break;
    case kDepth:
      depthSamples = static_cast<float>(maxDelay) * value;
      if (modAmount == 0.0f) {
        const int32_t delay = truncToInt32(depthSamples);
        delayLeft->setDelay(delay);
        delayRight->setDelay(delay);
        break;
      }
      centre = clampCentre(modRange, depthSamples);
      refill();
      updateInverseModRange();
      break;
    case kModAmount:
      modRange = static_cast<float>(maxDelay) * value / 2.0f - 1.0f;
      centre = clampCentre(modRange, centre);
      refill();
      updateInverseModRange();
      break;
    case kWaveform:
      if (value <= waveformStep) {
        waveType = kSine;
      } else if (value <= waveformStep + waveformStep) {
        waveType = kTriangle;
      } else if (value <= 1.0f) {
        waveType = kSawtooth;
      }
      if (waveType != lastWaveType) {
        refill();
        lastWaveType = waveType;
      }
      break;
    case kStereo:
      panBase = 1.0f - value;
      updateInverseModRange();
      break;
    case kBoost:
      boostFactor = value * 4.0f;
      break;
    default:
      break;
  }
}

// Parameters are applied in index order; Depth runs before Mod Amt and so clamps with the range
// in force before the switch. Programs have always sounded this way: keep the order.
void TempoFlanger::setProgram(int32_t program) {
  curProgram = program;
  if (program == 0) {
    for (int32_t i = 0; i < kNumParams; ++i)
      *parameterField(i) = kDefaultParams[i];
    for (int32_t i = 0; i < kNumParams; ++i)
      setParameter(i, kDefaultParams[i]);
    return;
  }
  const std::array<float, kNumParams> values = programs[static_cast<size_t>(program)].params;
  for (int32_t i = 0; i < kNumParams; ++i)
    setParameter(i, values[static_cast<size_t>(i)]);
}

void TempoFlanger::setProgramName(char* name) {
  // Longer names are cut to fit the 24-byte field.
  char* stored = programs[static_cast<size_t>(curProgram)].name;
  size_t length = 0;
  while (length < kProgramNameSize - 1 && name[length] != 0)
    ++length;
  std::memcpy(stored, name, length);
  stored[length] = 0;
}

void TempoFlanger::getProgramName(char* name) {
  std::strcpy(programs[0].name, kDefaultProgramName);
  const char* stored = programs[static_cast<size_t>(curProgram)].name;
  if (std::strcmp(stored, kInitName) == 0) {
    std::snprintf(name, kProgramNameSize, "%s %d", stored, static_cast<int>(curProgram));
  } else {
    std::strcpy(name, stored);
  }
}

void TempoFlanger::getParamName(int32_t index, char* text) {
  if (validIndex(index)) std::strcpy(text, kParamTexts[index].name);
}

void TempoFlanger::getParamLabel(int32_t index, char* label) {
  if (validIndex(index)) std::strcpy(label, kParamTexts[index].label);
}

void TempoFlanger::getParamDisplay(int32_t index, char* text) {
  switch (index) {
    case kTempo:
      wholeText(tempo * 140.0f + 60.0f, text);
      break;
    case kResolution:
      std::snprintf(text, kProgramNameSize, "%u", static_cast<unsigned>(resolutionNotes));
      break;
    case kSend:
      wholeText(send * 100.0f, text);
      break;
    case kDepth:
      wholeText(depth * 100.0f, text);
      break;
    case kModAmount:
      if (modAmount == 0.0f) {
        std::strcpy(text, "off");
      } else {
        wholeText(modAmount * 100.0f, text);
      }
      break;
    case kWaveform:
      if (waveform <= waveformStep) {
        std::strcpy(text, "sinus");
      } else if (waveform <= waveformStep + waveformStep) {
        std::strcpy(text, "triangle");
      } else if (waveform <= 1.0f) {
        std::strcpy(text, "sawtooth");
      }
      break;
    case kStereo:
      wholeText(stereo * 100.0f, text);
      break;
    case kBoost:
      formatDecibels(boostFactor, text);
      break;
    default:
      break;
  }
}

// A host that changed the sample rate gets tables built for it, so that a sweep of N beats lasts
// N beats at any rate. Runs from resume, never on the audio path; on allocation failure the old
// tables stay.
void TempoFlanger::adoptHostSampleRate() {
  const float rate = getSampleRate();
  if (!(rate >= kMinHostRate && rate <= kMaxHostRate) || rate == sineLfo->getRate()) return;
  std::unique_ptr<SineLfo> newSine;
  std::unique_ptr<TriangleLfo> newTriangle;
  std::unique_ptr<SawtoothLfo> newSawtooth;
  try {
    newSine = std::make_unique<SineLfo>(kLfoStep, kLfoSpan, rate);
    newTriangle = std::make_unique<TriangleLfo>(kLfoStep, kLfoSpan, rate);
    newSawtooth = std::make_unique<SawtoothLfo>(kLfoStep, kLfoSpan, rate);
  } catch (const std::bad_alloc&) {
    return;
  }
  newSine->setLastStep(sineLfo->getLastStep());
  newTriangle->setLastStep(triangleLfo->getLastStep());
  newSawtooth->setLastStep(sawtoothLfo->getLastStep());
  sineLfo = std::move(newSine);
  triangleLfo = std::move(newTriangle);
  sawtoothLfo = std::move(newSawtooth);
}

void TempoFlanger::suspend() {
  delayLeft->clear();
  delayRight->clear();
  sineLfo->clear();
  triangleLfo->clear();
  sawtoothLfo->clear();
}

void TempoFlanger::resume() {
  adoptHostSampleRate();
  delayLeft->clear();
  delayRight->clear();
  sineLfo->generate(modRange, lfoFrequency, centre);
  triangleLfo->generate(modRange, lfoFrequency, centre);
  sawtoothLfo->generate(modRange, lfoFrequency, centre);
}

TempoFlanger::State TempoFlanger::state() const {
  return {resolutionNotes, lfoFrequency, depthSamples, modRange,     centre,       inverseModRange,
          panBase,         boostFactor,  waveType,     lastWaveType, currentDelay, sampleCounter};
}

namespace {

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

// One run: stretches up to each wrap of the store position, or frame by frame when nothing
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

AEffect* createEffect(audioMasterCallback host) {
  if (!host) return nullptr;
  if (host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
  try {
    return (new TempoFlanger(host))->getEffectRecord();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
