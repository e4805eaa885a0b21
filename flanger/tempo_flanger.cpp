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
    case kSend:
      break;
    case kStereo:
      panBase = 1.0f - value;
      updateInverseModRange();
      break;
    case kBoost:
      boostFactor = value * 4.0f;
      break;
    default:
      applySweepParameter(index, value);
      break;
  }
}

// The parameters that shape the sweep. Kept out of setParameter, so that the calls that only
// store a level stay a few instructions: on 32-bit x86 a function that calls another realigns the
// stack first.
void TempoFlanger::applySweepParameter(int32_t index, float value) {
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

AEffect* createEffect(audioMasterCallback host) {
  if (!host) return nullptr;
  if (host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
  try {
    return (new TempoFlanger(host))->getEffectRecord();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
