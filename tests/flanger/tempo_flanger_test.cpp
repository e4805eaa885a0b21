// TempoFlanger's own pieces, reached through the class and its record: the rounding of sweep
// values, the whole-number display, and the state that parameters, programs and resume derive.
#include "flanger/tempo_flanger.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// ---------------------------------------------------------------------------------------------
// roundSweep: to nearest with halves going down, defined for every float

TEST(RoundSweep, Cases) {
  struct Case {
    float x;
    uint32_t delay;
  };
  const Case cases[] = {
      {0.0f, 0},
      {0.49f, 0},
      {0.5f, 0},
      {0.51f, 1},
      {2.5f, 2},
      {2.51f, 3},
      {199.5f, 199},
      {199.50002f, 200},
      {50.0f, 50},
      {-0.0f, 0},
      {-0.5f, 0},
      {-0.99f, 0},
      {-1.0f, 0},
      {-1.5f, 0},
      {-kInf, 0},
      {kNaN, 0},
      {8388606.5f, 8388606},         // halves go down at the last float with a fraction too
      {2147483520.0f, 2147483520u},  // the largest float below 2^31
      {2147483648.0f, 2147483648u},
      {4294967040.0f, 4294967040u},  // the largest float below 2^32
      {4294967296.0f, 4294967295u},
      {1e30f, 4294967295u},
      {kInf, 4294967295u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(roundSweep(c.x), c.delay);
  }
}

// ---------------------------------------------------------------------------------------------
// wholeText: the magnitude rounded half away from zero; 17 exact digits, at most 23

TEST(WholeText, Cases) {
  struct Case {
    double x;
    const char* text;
  };
  const Case cases[] = {
      {120.00008f, "120"},
      {25.0, "25"},
      {99.6f, "100"},
      {2.5, "3"},
      {0.5, "1"},
      {0.4f, ""},
      {-25.0, "25"},
      {-2.5, "3"},
      {0.0, "0"},
      {-0.0, "0"},
      {0.49999999999999994, ""},                 // the double just below 0.5
      {4503599627370497.0, "4503599627370497"},  // 2^52 + 1: adding 0.5 would round it up
      {99999999999999984.0, "99999999999999984"},
      {1e17, "100000000000000000"},
      {144115188075855872.0, "144115188075855870"},      // 2^57
      {1152921504606846976.0, "1152921504606846900"},    // 2^60
      {18446744073709551616.0, "18446744073709551000"},  // 2^64
      {-18446744073709551616.0, "18446744073709551000"},
      {123456789012345678901.0, "123456789012345680000"},
      {1e22, "10000000000000000000000"},  // 23 digits fit
      {1e23, "99999999999999991000000"},  // held as 9.9999999999999991611392e22
      {2e23, " Huge!  "},                 // 24 digits
      {1e24, " Huge!  "},
      {1e300, " Huge!  "},
      {std::numeric_limits<double>::infinity(), " Huge!  "},
      {-std::numeric_limits<double>::infinity(), " Huge!  "},
      {std::numeric_limits<double>::quiet_NaN(), " Huge!  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    char text[64];
    std::memset(text, '#', sizeof(text));
    wholeText(c.x, text);
    const std::size_t length = std::strlen(c.text);
    ASSERT_EQ(std::memchr(text, 0, sizeof(text)), text + length) << "terminator position";
    EXPECT_STREQ(text, c.text);
    for (std::size_t i = length + 1; i < sizeof(text); ++i) {
      ASSERT_EQ(text[i], '#') << "byte " << i << " written past the terminator";
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The effect's state

VstIntPtr TF_CALLCONV fakeHost(AEffect*, int32_t opcode, int32_t, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

// A flanger driven as a host drives it, with its derived state in view.
struct Flanger {
  Flanger()
      : effect(std::make_unique<TempoFlanger>(&fakeHost)), record(effect->getEffectRecord()) {}

  VstIntPtr dispatch(int32_t opcode, int32_t index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                     float opt = 0.0f) {
    return record->dispatcher(record, opcode, index, value, ptr, opt);
  }
  void set(int32_t index, float value) { record->setParameter(record, index, value); }
  float get(int32_t index) { return record->getParameter(record, index); }
  TempoFlanger::State state() const { return effect->state(); }
  void program(int32_t index) { dispatch(effSetProgram, 0, index); }
  // Silence through processReplacing, `frames` frames.
  void run(int32_t frames) {
    std::vector<float> in(static_cast<std::size_t>(frames)), outL(in.size()), outR(in.size());
    float* inputs[2] = {in.data(), in.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    record->processReplacing(record, inputs, outputs, frames);
  }
  // The table that a wave type selects.
  float firstEntry(int32_t waveType) const {
    switch (waveType) {
      case 1:
        return effect->sine().entry(0);
      case 2:
        return effect->triangle().entry(0);
      default:
        return effect->sawtooth().entry(0);
    }
  }

  std::unique_ptr<TempoFlanger> effect;
  AEffect* record;
};

void expectSameState(const TempoFlanger::State& a, const TempoFlanger::State& b) {
  EXPECT_EQ(a.resolutionNotes, b.resolutionNotes);
  EXPECT_EQ(a.lfoFrequency, b.lfoFrequency);
  EXPECT_EQ(a.depthSamples, b.depthSamples);
  EXPECT_EQ(a.modRange, b.modRange);
  EXPECT_EQ(a.centre, b.centre);
  EXPECT_EQ(a.inverseModRange, b.inverseModRange);
  EXPECT_EQ(a.panBase, b.panBase);
  EXPECT_EQ(a.boostFactor, b.boostFactor);
  EXPECT_EQ(a.waveType, b.waveType);
  EXPECT_EQ(a.lastWaveType, b.lastWaveType);
  EXPECT_EQ(a.currentDelay, b.currentDelay);
  EXPECT_EQ(a.sampleCounter, b.sampleCounter);
}

template <class Table>
void expectAllZero(const Table& table, const char* name) {
  for (uint32_t i = 0; i <= table.getCapacity(); ++i) {
    ASSERT_EQ(table.entry(i), 0.0f) << name << " entry " << i;
  }
}

TEST(TempoFlanger, StateAfterConstruction) {
  Flanger f;
  const TempoFlanger::State s = f.state();
  EXPECT_EQ(s.resolutionNotes, 64u);
  EXPECT_EQ(s.lfoFrequency, 120.00008f / 3840.0f);
  EXPECT_EQ(s.modRange, 24.0f);
  EXPECT_EQ(s.centre, 50.0f);
  EXPECT_EQ(s.depthSamples, 50.0f);
  EXPECT_EQ(s.inverseModRange, 1.0f / 24.0f);
  EXPECT_EQ(s.panBase, 0.9f);
  EXPECT_EQ(s.waveType, 1);
  EXPECT_EQ(s.lastWaveType, 1);
  EXPECT_EQ(s.boostFactor, 1.0f);
  EXPECT_EQ(s.sampleCounter, 0);
  const float defaults[] = {0.428572f, 0.8462f, 1.0f, 0.25f, 0.25f, 0.0f, 0.1f, 0.25f};
  for (int32_t i = 0; i < kNumParams; ++i)
    EXPECT_EQ(f.get(i), defaults[i]) << "parameter " << i;
  EXPECT_EQ(f.get(8), 0.0f);
  EXPECT_EQ(f.get(-1), 0.0f);
  EXPECT_EQ(f.effect->leftLine().getDelay(), 199);
  EXPECT_EQ(f.effect->rightLine().getDelay(), 199);
  expectAllZero(f.effect->sine(), "sine");
  expectAllZero(f.effect->triangle(), "triangle");
  expectAllZero(f.effect->sawtooth(), "sawtooth");
  EXPECT_EQ(f.effect->sine().getCapacity(), 42336u);
  EXPECT_EQ(f.effect->sine().getPeriod(), 14111u);
  EXPECT_EQ(f.record->numInputs, 2);
  EXPECT_EQ(f.record->numOutputs, 2);
  EXPECT_EQ(f.record->flags, 24);
  EXPECT_EQ(f.record->uniqueID, 0x50683632);
  EXPECT_EQ(f.record->numPrograms, 16);
  EXPECT_EQ(f.record->numParams, 8);
}

// Resolution: 13 bands with bounds k × (1/13 as a float), computed in double.
constexpr uint32_t kNotes[13] = {1, 2, 3, 4, 5, 6, 7, 8, 16, 32, 48, 64, 96};

TEST(TempoFlanger, ResolutionBandsAtAndBesideEveryBound) {
  const double q = 1.0f / 13.0f;
  for (int k = 1; k <= 12; ++k) {
    const double bound = k * q;
    float at = static_cast<float>(bound);
    if (static_cast<double>(at) < bound) at = std::nextafter(at, 1.0f);
    const float below = std::nextafter(at, 0.0f);
    for (const auto& [value, notes] : {std::pair{at, kNotes[k]}, std::pair{below, kNotes[k - 1]}}) {
      SCOPED_TRACE("bound " + std::to_string(k) + ", value " + std::to_string(value));
      Flanger f;
      f.set(kResolution, value);
      EXPECT_EQ(f.state().resolutionNotes, notes);
      EXPECT_EQ(f.state().lfoFrequency,
                (0.428572f * 140.0f + 60.0f) / static_cast<float>(notes * 60));
    }
  }
}

TEST(TempoFlanger, ResolutionCases) {
  struct Case {
    float before;  // set first
    float value;
    uint32_t notes;
  };
  const Case cases[] = {
      {0.5f, 0.0f, 1},         {0.0f, 0.5f, 7},
      {0.0f, 0.92307693f, 64},  // 12/13 as a float lies just below 12q
      {0.0f, 0.9231f, 96},     {0.0f, 1.0f, 96},
      {0.5f, -0.5f, 1},        {0.0f, 1.5f, 1},  // above 1.0: unchanged
      {0.5f, 1.5f, 7},         {0.5f, 1.0000001f, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.before) + " then " + std::to_string(c.value));
    Flanger f;
    f.set(kResolution, c.before);
    f.set(kResolution, c.value);
    EXPECT_EQ(f.state().resolutionNotes, c.notes);
    EXPECT_EQ(f.get(kResolution), c.value) << "stored unchanged";
  }
}

TEST(TempoFlanger, WaveformBands) {
  struct Case {
    float before;
    float value;
    int32_t waveType;
  };
  const float third = 1.0f / 3.0f;
  const float twoThirds = third + third;
  const Case cases[] = {
      {0.9f, 0.0f, 1},
      {0.9f, -1.0f, 1},
      {0.9f, third, 1},
      {0.0f, std::nextafter(third, 1.0f), 2},
      {0.0f, 0.5f, 2},
      {0.0f, twoThirds, 2},
      {0.0f, std::nextafter(twoThirds, 1.0f), 3},
      {0.0f, 0.9f, 3},
      {0.0f, 1.0f, 3},
      {0.5f, 1.5f, 2},  // above 1.0: unchanged
      {0.9f, 1.5f, 3},
      {0.0f, 1.5f, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.before) + " then " + std::to_string(c.value));
    Flanger f;
    f.set(kWaveform, c.before);
    f.set(kWaveform, c.value);
    const TempoFlanger::State s = f.state();
    EXPECT_EQ(s.waveType, c.waveType);
    EXPECT_EQ(s.lastWaveType, c.waveType);
    // The selected table was refilled when the shape changed: sine starts at the centre, the
    // others at centre - range. (Construction leaves all three cleared.)
    if (c.waveType != 1) {
      EXPECT_EQ(f.firstEntry(c.waveType), 26.0f);
    }
  }
}

TEST(TempoFlanger, SelectingTheSameShapeAgainRefillsNothing) {
  Flanger f;
  f.set(kWaveform, 0.2f);  // still sine, as at construction
  expectAllZero(f.effect->sine(), "sine");
}

TEST(TempoFlanger, DepthAndModAmtKeepTheSweepInsideTheDelayLine) {
  struct Case {
    float modAmount, depth;
    float modRange, depthSamples, centre;
    int32_t delay;  // of both lines afterwards
  };
  const Case cases[] = {
      {0.5f, 0.8f, 49.0f, 160.0f, 151.0f, 199},  // 160 + 49 > 200
      {0.5f, 0.1f, 49.0f, 20.0f, 49.0f, 199},    // 20 < 49
      {0.25f, 0.625f, 24.0f, 125.0f, 125.0f, 199},
      {1.0f, 0.0f, 99.0f, 0.0f, 99.0f, 199},
      {1.0f, 0.5f, 99.0f, 100.0f, 100.0f, 199},
      {1.0f, 1.0f, 99.0f, 200.0f, 101.0f, 199},
      // Beyond 1.0 the formulas apply unchanged; a centre at exactly half the line counts as
      // the lower half.
      {1.5f, 0.5f, 149.0f, 100.0f, 149.0f, 199},
      // Modulation off: Depth moves both lines and leaves the centre alone.
      {0.0f, 0.5f, -1.0f, 100.0f, 50.0f, 100},
      {0.0f, 0.0f, -1.0f, 0.0f, 50.0f, 0},
      {0.0f, 0.0175f, -1.0f, 3.5f, 50.0f, 3},  // truncated, not rounded
      {0.0f, 0.9975f, -1.0f, 199.5f, 50.0f, 199},
      {0.0f, 2.0f, -1.0f, 400.0f, 50.0f, 199},
      {0.0f, -0.5f, -1.0f, -100.0f, 50.0f, 0},
      {0.0f, -1.0e30f, -1.0f, -1.0e30f * 200.0f, 50.0f, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("Mod Amt " + std::to_string(c.modAmount) + ", Depth " + std::to_string(c.depth));
    Flanger f;
    f.set(kModAmount, c.modAmount);
    f.set(kDepth, c.depth);
    const TempoFlanger::State s = f.state();
    EXPECT_EQ(s.modRange, c.modRange);
    EXPECT_EQ(s.depthSamples, c.depthSamples);
    EXPECT_EQ(s.centre, c.centre);
    EXPECT_EQ(f.effect->leftLine().getDelay(), c.delay);
    EXPECT_EQ(f.effect->rightLine().getDelay(), c.delay);
    if (c.modAmount != 0.0f) {
      EXPECT_EQ(f.effect->sine().entry(0), c.centre) << "refilled";
    }
  }
}

TEST(TempoFlanger, InverseModRangeIsOneForSweepsNarrowerThanASample) {
  struct Case {
    float modAmount;
    float inverse;
  };
  const Case cases[] = {
      {0.25f, 1.0f / 24.0f}, {0.5f, 1.0f / 49.0f},
      {1.0f, 1.0f / 99.0f},  {0.0100001f, 1.0f},  // a range of about 1e-5 samples
      {0.01f, 1.0f},                              // a range of 0
      {0.005f, 1.0f},                             // a negative range
      {0.0f, 1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.modAmount);
    Flanger f;
    f.set(kModAmount, c.modAmount);
    EXPECT_EQ(f.state().inverseModRange, c.inverse) << "after Mod Amt";
    f.set(kDepth, 0.2501f);
    EXPECT_EQ(f.state().inverseModRange, c.inverse) << "after Depth";
    f.set(kStereo, 1.0f);
    EXPECT_EQ(f.state().inverseModRange, c.inverse) << "after Stereo";
    EXPECT_TRUE(std::isfinite(f.state().inverseModRange));
  }
}

TEST(TempoFlanger, NonFiniteValuesChangeNothing) {
  for (int32_t index = 0; index < kNumParams; ++index) {
    for (float bad : {kNaN, kInf, -kInf}) {
      SCOPED_TRACE("index " + std::to_string(index) + ", value " + std::to_string(bad));
      Flanger f;
      f.program(1);
      f.dispatch(effMainsChanged, 0, 0);  // tables zero again, so a refill would show
      const TempoFlanger::State before = f.state();
      std::vector<float> params;
      for (int32_t i = 0; i < kNumParams; ++i)
        params.push_back(f.get(i));
      f.set(index, bad);
      expectSameState(f.state(), before);
      for (int32_t i = 0; i < kNumParams; ++i)
        EXPECT_EQ(f.get(i), params[i]) << "parameter " << i;
      EXPECT_EQ(f.effect->sine().entry(0), 0.0f) << "no refill";
      EXPECT_EQ(f.effect->leftLine().getDelay(), 199);
      // Nothing was stored in program 1 either.
      f.program(2);
      f.program(1);
      EXPECT_EQ(f.get(index), kDefaultParams[static_cast<std::size_t>(index)]);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Programs

TEST(TempoFlanger, DefaultProgramClampsWithTheRangeInForceBeforeTheSwitch) {
  Flanger f;
  f.set(kModAmount, 1.0f);
  EXPECT_EQ(f.state().modRange, 99.0f);
  EXPECT_EQ(f.state().centre, 99.0f);
  f.program(0);
  // Depth (50 samples) is clamped with the old range 99 before Mod Amt sets 24.
  EXPECT_EQ(f.state().modRange, 24.0f);
  EXPECT_EQ(f.state().centre, 99.0f);
}

TEST(TempoFlanger, DefaultProgramAppliesDepthUnderTheDefaultModAmt) {
  Flanger f;
  f.set(kModAmount, 0.0f);
  f.set(kDepth, 0.5f);
  ASSERT_EQ(f.effect->leftLine().getDelay(), 100);
  f.program(0);
  // The default fields are in place before the calls, so Depth sees Mod Amt 0.25 and sweeps
  // instead of moving the lines.
  EXPECT_EQ(f.effect->leftLine().getDelay(), 100);
  EXPECT_EQ(f.effect->rightLine().getDelay(), 100);
  EXPECT_EQ(f.state().centre, 50.0f);
  EXPECT_EQ(f.state().modRange, 24.0f);
  EXPECT_EQ(f.effect->sine().entry(0), 50.0f);
}

TEST(TempoFlanger, ProgramSwitchKeepsItsOrderQuirks) {
  Flanger f;
  // Program 1: Mod Amt 0, Depth 0.25. Program 2: Mod Amt 0.5, Depth 0.8.
  f.program(1);
  f.set(kModAmount, 0.0f);
  f.program(2);
  f.set(kModAmount, 0.5f);
  f.set(kDepth, 0.8f);
  ASSERT_EQ(f.state().centre, 151.0f);
  // One sweep step moves both lines to the first entry of the table, the centre.
  f.run(101);
  ASSERT_EQ(f.effect->leftLine().getDelay(), 151);

  // Program 1's Depth takes the sweeping branch under the Mod Amt 0.5 still in force: no
  // setDelay, and the centre becomes 50.
  f.program(1);
  EXPECT_EQ(f.effect->leftLine().getDelay(), 151);
  EXPECT_EQ(f.effect->rightLine().getDelay(), 151);
  EXPECT_EQ(f.state().centre, 50.0f);
  EXPECT_EQ(f.state().modRange, -1.0f);

  // Back to program 2: Depth runs while Mod Amt is 0, so it sets the lines to 160 and leaves the
  // centre at 50; Mod Amt then refills around 50, not 151.
  f.program(2);
  EXPECT_EQ(f.effect->leftLine().getDelay(), 160);
  EXPECT_EQ(f.effect->rightLine().getDelay(), 160);
  EXPECT_EQ(f.state().centre, 50.0f);
  EXPECT_EQ(f.state().modRange, 49.0f);
  EXPECT_EQ(f.effect->sine().entry(0), 50.0f);
  EXPECT_EQ(f.effect->sine().getReadIndex(), 0u);
}

TEST(TempoFlanger, ProgramNamesAreCutTo23Characters) {
  struct Case {
    const char* name;
    const char* reported;
  };
  const Case cases[] = {
      {"Wide", "Wide"},
      {"", ""},
      {"12345678901234567890123", "12345678901234567890123"},
      {"123456789012345678901234", "12345678901234567890123"},
      {"a name far longer than any program name field holds", "a name far longer than "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Flanger f;
    f.program(3);
    std::string name = c.name;
    f.dispatch(effSetProgramName, 0, 0, name.data());
    char text[64];
    std::memset(text, '#', sizeof(text));
    f.dispatch(effGetProgramName, 0, 0, text);
    const std::size_t length = std::strlen(c.reported);
    ASSERT_EQ(std::memchr(text, 0, sizeof(text)), text + length);
    EXPECT_STREQ(text, c.reported);
    for (std::size_t i = length + 1; i < sizeof(text); ++i)
      ASSERT_EQ(text[i], '#') << i;
  }
}

// ---------------------------------------------------------------------------------------------
// The host's sample rate, adopted on resume

TEST(TempoFlanger, ResumeRebuildsTheTablesForTheHostsRate) {
  struct Case {
    float rate;
    bool rebuilt;
    uint32_t capacity, period;  // period of the default sweep
  };
  const Case cases[] = {
      {48000.0f, true, 46080, 15359}, {44100.0f, false, 42336, 14111},
      {8000.0f, true, 7680, 2559},    {768000.0f, true, 737280, 245759},
      {7999.0f, false, 42336, 14111}, {768001.0f, false, 42336, 14111},
      {kNaN, false, 42336, 14111},    {0.0f, false, 42336, 14111},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    Flanger f;
    f.run(101);  // one sweep step: the step clock stands at 100
    ASSERT_EQ(f.effect->sine().getLastStep(), 100);
    f.dispatch(effSetSampleRate, 0, 0, nullptr, c.rate);
    EXPECT_EQ(f.effect->sine().getRate(), 44100.0f) << "recording the rate rebuilds nothing";
    f.dispatch(effMainsChanged, 0, 1);
    const float rate = c.rebuilt ? c.rate : 44100.0f;
    EXPECT_EQ(f.effect->sine().getRate(), rate);
    EXPECT_EQ(f.effect->triangle().getRate(), rate);
    EXPECT_EQ(f.effect->sawtooth().getRate(), rate);
    EXPECT_EQ(f.effect->sine().getCapacity(), c.capacity);
    EXPECT_EQ(f.effect->triangle().getCapacity(), c.capacity);
    EXPECT_EQ(f.effect->sawtooth().getCapacity(), c.capacity);
    EXPECT_EQ(f.effect->sine().getPeriod(), c.period);
    EXPECT_EQ(f.effect->triangle().getPeriod(), c.period);
    EXPECT_EQ(f.effect->sawtooth().getPeriod(), c.period);
    EXPECT_EQ(f.effect->sine().getLastStep(), 100) << "the step rhythm goes on";
    EXPECT_EQ(f.effect->triangle().getLastStep(), 0);
    EXPECT_EQ(f.effect->sawtooth().getLastStep(), 0);
    EXPECT_EQ(f.effect->sine().entry(0), 50.0f) << "refilled after the rebuild";
    EXPECT_EQ(f.effect->triangle().entry(0), 26.0f);
    EXPECT_EQ(f.effect->sawtooth().entry(0), 26.0f);
  }
}

}  // namespace
