// TempoFlanger: a stereo flanger whose sweep is locked to a musical tempo.
//
// Each channel is mixed with a copy of itself delayed by a whole number of samples (0 to 199). The
// delay sweeps around a centre along a precomputed table whose cycle lasts a chosen number of
// beats at a chosen tempo; the sweep steps every 100 samples and can pan the channels opposite to
// each other. Eight automatable parameters, 16 programs, two inputs, two outputs.
//
// Threads: setParameter, program and suspend/resume calls may arrive on a host's parameter thread
// while the audio calls run; fields are shared without locks on purpose (see processBlock in
// audio_loop.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "flanger/delay_line.h"
#include "flanger/lfo_tables.h"
#include "frame/effect_base.h"

enum ParamIndex : int32_t {
  kTempo,       // 60 to 200 BPM
  kResolution,  // sweep cycle of 1 to 96 notes, 13 bands
  kSend,        // level of the delayed copy
  kDepth,       // base delay, 0 to 200 samples
  kModAmount,   // sweep half-width; 0 switches the sweep off
  kWaveform,    // sine, triangle, sawtooth
  kStereo,      // opposite panning of the channels by the sweep
  kBoost,       // output factor 0 to 4 (+12 dB)
  kNumParams
};

constexpr int32_t kNumPrograms = 16;
constexpr int32_t kUniqueId = fourCharCode('P', 'h', '6', '2');
constexpr std::size_t kProgramNameSize = 24;  // bytes, terminator included

// Default parameter values, as single-precision bit patterns where they matter.
constexpr std::array<float, kNumParams> kDefaultParams{
    0.428572f,  // Tempo: 120.00008 BPM
    0.8462f,    // Resolution: 64 notes
    1.0f,       // Send
    0.25f,      // Depth: 50 samples
    0.25f,      // Mod Amt: ± 24 samples
    0.0f,       // Waveform: sine
    0.1f,       // Stereo
    0.25f,      // 12 dB Boost: factor 1.0
};

struct FlangerProgram {
  std::array<float, kNumParams> params = kDefaultParams;
  char name[kProgramNameSize] = "Init";
};

// The effect's whole-number display: the magnitude of x rounded half away from zero, as decimal
// digits (empty when that rounds to 0; "0" for x = 0). Writes at most 24 bytes.
void wholeText(double x, char* text);

// Rounds a sweep value to a whole delay: to nearest, halves going down; defined for every float
// (NaN and values at or below -1 give 0, values from 2^32 on give 4294967295).
uint32_t roundSweep(float x);

class TempoFlanger : public EffectBase {
 public:
  explicit TempoFlanger(audioMasterCallback host);
  ~TempoFlanger() override;

  void setParameter(int32_t index, float value) override;
  float getParameter(int32_t index) override;
  void process(float** inputs, float** outputs, int32_t sampleFrames) override;
  void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) override;
  void setProgram(int32_t program) override;
  void setProgramName(char* name) override;
  void getProgramName(char* name) override;
  void getParamLabel(int32_t index, char* label) override;
  void getParamDisplay(int32_t index, char* text) override;
  void getParamName(int32_t index, char* text) override;
  void suspend() override;
  void resume() override;

  // Read-only views of the derived state, for tests and tools.
  struct State {
    uint32_t resolutionNotes;
    float lfoFrequency, depthSamples, modRange, centre, inverseModRange, panBase, boostFactor;
    int32_t waveType, lastWaveType;
    uint32_t currentDelay;
    int32_t sampleCounter;
  };
  State state() const;
  const DelayLine& leftLine() const { return *delayLeft; }
  const DelayLine& rightLine() const { return *delayRight; }
  const SineLfo& sine() const { return *sineLfo; }
  const TriangleLfo& triangle() const { return *triangleLfo; }
  const SawtoothLfo& sawtooth() const { return *sawtoothLfo; }

 private:
  // Values of waveType.
  enum WaveType : int32_t { kSine = 1, kTriangle = 2, kSawtooth = 3 };

  template <bool Accumulate>
  void processBlock(float** inputs, float** outputs, int32_t sampleFrames);
  // processBlock's runs, and the same built for AVX2 (see audio_loop.cpp).
  template <bool Accumulate>
  void processRuns(const float* const* inputs, float* const* outputs, int32_t sampleFrames);
  template <bool Accumulate>
  void processRunsAvx2(const float* const* inputs, float* const* outputs, int32_t sampleFrames);
  float* parameterField(int32_t index);
  __attribute__((noinline)) void applySweepParameter(int32_t index, float value);
  void refill();
  float clampCentre(float range, float x) const;
  float frequency(float bpm, uint32_t notes) const;
  void updateInverseModRange();
  void adoptHostSampleRate();

  std::unique_ptr<DelayLine> delayLeft, delayRight;
  std::unique_ptr<SineLfo> sineLfo;
  std::unique_ptr<TriangleLfo> triangleLfo;
  std::unique_ptr<SawtoothLfo> sawtoothLfo;
  std::array<FlangerProgram, kNumPrograms> programs;
  float tempo = 0.0f, resolution = 0.0f, send = 0.0f, depth = 0.0f, modAmount = 0.0f,
        waveform = 0.0f, stereo = 0.0f, boost = 0.0f;
  float creationRate;
  float resolutionStep = 0.0f;
  float depthSamples = 0.0f;
  float modRange = 0.0f;
  float lfoFrequency = 0.0f;
  float centre = 0.0f;
  float waveformStep = 0.0f;
  float inverseModRange = 0.0f;
  float panBase = 0.0f;
  float boostFactor = 0.0f;
  uint32_t maxDelay = 0;
  uint32_t resolutionNotes = 0;
  int32_t waveType = 0;
  int32_t lastWaveType = 0;
  uint32_t currentDelay = 0;
  int32_t sampleCounter = 0;
};

// The exported entry point's logic: asks the host for its version and creates the effect. Null
// when the host answers 0, when there is no host, or when the effect cannot be created.
AEffect* createEffect(audioMasterCallback host);
