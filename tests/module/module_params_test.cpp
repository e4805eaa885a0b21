// Parameters and programs of the built module, as a host reads and writes them: values, names,
// labels and display texts, the Resolution and Waveform bands, and the bank of 16 programs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/module/module_harness.h"

namespace tftest {
namespace {

constexpr float kDefaults[8] = {0.428572f, 0.8462f, 1.0f, 0.25f, 0.25f, 0.0f, 0.1f, 0.25f};

// Runs a text opcode on a buffer filled with a marker byte, without the host layer's checks, and
// tells whether the effect left every byte of it as it was.
bool leavesBufferUntouched(tfhost::Effect& effect, int32_t opcode, int32_t index) {
  std::vector<char> buffer(256, 'x');
  effect.dispatch(opcode, index, 0, buffer.data());
  return std::all_of(buffer.begin(), buffer.end(), [](char c) { return c == 'x'; });
}

std::vector<std::string> allDisplays(tfhost::Effect& effect) {
  std::vector<std::string> texts;
  for (int32_t i = 0; i < 8; ++i)
    texts.push_back(effect.paramDisplay(i));
  return texts;
}

std::vector<float> allValues(tfhost::Effect& effect) {
  std::vector<float> values;
  for (int32_t i = 0; i < 8; ++i)
    values.push_back(effect.getParameter(i));
  return values;
}

// ---------------------------------------------------------------------------------------------
// Defaults and fixed texts

TEST(ModuleParameters, DefaultsWithTheirNamesLabelsAndDisplays) {
  struct Row {
    const char* name;
    const char* label;
    const char* display;
  };
  const Row rows[8] = {
      {" Tempo ", "   BPM   ", "120"},  {" Resolution ", " note(s) ", "64"},
      {" Send ", "    %    ", "100"},   {" Depth ", "    %    ", "25"},
      {" Mod Amt ", "    %    ", "25"}, {" Waveform ", "   ---   ", "sinus"},
      {" Stereo ", " % of Pan", "10"},  {" 12 dB Boost ", "    dB   ", "0.000000"},
  };
  auto effect = newEffect();
  for (int32_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(bitsOf(effect->getParameter(i)), bitsOf(kDefaults[i]));
    EXPECT_EQ(effect->paramName(i), rows[i].name);
    EXPECT_EQ(effect->paramLabel(i), rows[i].label);
    EXPECT_EQ(effect->paramDisplay(i), rows[i].display);
    EXPECT_EQ(effect->dispatch(effCanBeAutomated, i), 1);
  }
}

TEST(ModuleParameters, IndexOutsideTheEightIsIgnored) {
  auto effect = newEffect();
  effect->setProgram(2);
  for (int32_t index : {8, -1, 1000, std::numeric_limits<int32_t>::min()}) {
    SCOPED_TRACE(index);
    for (int32_t opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
      EXPECT_TRUE(leavesBufferUntouched(*effect, opcode, index)) << "opcode " << opcode;
    }
    EXPECT_EQ(effect->getParameter(index), 0.0f);
    effect->setParameter(index, 0.5f);
    EXPECT_EQ(allValues(*effect), std::vector<float>(kDefaults, kDefaults + 8));
  }
  // Nothing was stored in the program either.
  effect->setProgram(3);
  effect->setProgram(2);
  EXPECT_EQ(allValues(*effect), std::vector<float>(kDefaults, kDefaults + 8));
}

TEST(ModuleParameters, NonFiniteValuesChangeNothing) {
  auto effect = newEffect();
  const auto displays = allDisplays(*effect);
  for (int32_t i = 0; i < 8; ++i) {
    for (float value :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
          -std::numeric_limits<float>::infinity()}) {
      effect->setParameter(i, value);
    }
  }
  EXPECT_EQ(allValues(*effect), std::vector<float>(kDefaults, kDefaults + 8));
  EXPECT_EQ(allDisplays(*effect), displays);
}

// ---------------------------------------------------------------------------------------------
// Display texts

TEST(ModuleParameters, DisplayTexts) {
  struct Case {
    int32_t index;
    float value;
    const char* text;
  };
  const Case cases[] = {
      {kTempo, 0.0f, "60"},
      {kTempo, 1.0f, "200"},
      {kTempo, 0.5f, "130"},
      {kTempo, 1.0e30f, " Huge!  "},  // more digits than a host's buffer holds
      {kSend, 0.0f, "0"},
      {kSend, 0.996f, "100"},
      {kSend, -0.25f, "25"},  // the magnitude
      {kDepth, 0.025f, "3"},  // 2.5 rounds away from zero
      {kDepth, 1.0f, "100"},
      {kModAmount, 0.0f, "off"},
      {kModAmount, -0.0f, "off"},
      {kModAmount, 0.004f, ""},  // rounds to nothing
      {kModAmount, 0.0049f, ""},
      {kModAmount, 0.005f, "1"},  // 100 x 0.005f is exactly 0.5 in single precision
      {kModAmount, 0.006f, "1"},
      {kModAmount, 1.0f, "100"},
      {kStereo, 0.0f, "0"},
      {kStereo, 1.0f, "100"},
      {kBoost, 1.0f, "12.04119"},  // factor 4
      {kBoost, 0.0f, "  -oo   "},
      {kBoost, 0.25f, "0.000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "index " << c.index << " value " << c.value);
    auto effect = newEffect();
    effect->setParameter(c.index, c.value);
    EXPECT_EQ(bitsOf(effect->getParameter(c.index)), bitsOf(c.value));
    EXPECT_EQ(effect->paramDisplay(c.index), c.text);
  }
}

// ---------------------------------------------------------------------------------------------
// Bands

// The smallest float not below the double k * q, where q is 1/13 in single precision: the lower
// bound of Resolution band k.
float resolutionBound(int k) {
  const double bound = k * static_cast<double>(1.0f / 13.0f);
  float v = static_cast<float>(bound);
  if (static_cast<double>(v) < bound) v = std::nextafter(v, 2.0f);
  return v;
}

TEST(ModuleParameters, ResolutionBandsAtAndBesideTheirBounds) {
  const char* notes[13] = {"1", "2", "3", "4", "5", "6", "7", "8", "16", "32", "48", "64", "96"};
  auto effect = newEffect();
  for (int k = 1; k <= 12; ++k) {
    SCOPED_TRACE(k);
    const float bound = resolutionBound(k);
    effect->setParameter(kResolution, bound);
    EXPECT_EQ(effect->paramDisplay(kResolution), notes[k]);
    effect->setParameter(kResolution, std::nextafter(bound, 0.0f));
    EXPECT_EQ(effect->paramDisplay(kResolution), notes[k - 1]);
  }

  struct Case {
    float value;
    const char* text;
  };
  const Case cases[] = {
      {0.0f, "1"},
      {-0.5f, "1"},
      {0.5f, "7"},
      {1.0f, "96"},
      {0.92307693f, "64"},  // 12/13 as a float lies just below the bound 12q in
                            // double
      {0.9231f, "96"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    effect->setParameter(kResolution, c.value);
    EXPECT_EQ(effect->paramDisplay(kResolution), c.text);
  }

  // Above 1.0 the band stays, though the value is stored.
  effect->setParameter(kResolution, 0.5f);
  for (float above : {std::nextafter(1.0f, 2.0f), 1.5f, 1.0e9f}) {
    effect->setParameter(kResolution, above);
    EXPECT_EQ(effect->getParameter(kResolution), above);
    EXPECT_EQ(effect->paramDisplay(kResolution), "7");
  }
}

TEST(ModuleParameters, WaveformBandsAtAndBesideTheirBounds) {
  const float w = 1.0f / 3.0f;
  const float w2 = w + w;
  struct Case {
    float value;
    const char* text;
  };
  const Case cases[] = {
      {0.0f, "sinus"},     {-1.0f, "sinus"},
      {w, "sinus"},        {std::nextafter(w, 1.0f), "triangle"},
      {0.34f, "triangle"}, {0.5f, "triangle"},
      {w2, "triangle"},    {std::nextafter(w2, 1.0f), "sawtooth"},
      {0.67f, "sawtooth"}, {1.0f, "sawtooth"},
  };
  auto effect = newEffect();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    effect->setParameter(kWaveform, c.value);
    EXPECT_EQ(effect->paramDisplay(kWaveform), c.text);
  }
  // Above 1.0 nothing is written at all.
  for (float above : {std::nextafter(1.0f, 2.0f), 1.2f}) {
    effect->setParameter(kWaveform, above);
    EXPECT_TRUE(leavesBufferUntouched(*effect, effGetParamDisplay, kWaveform)) << above;
  }
}

// ---------------------------------------------------------------------------------------------
// Programs

TEST(ModulePrograms, NamesOfANewBank) {
  auto effect = newEffect();
  EXPECT_EQ(effect->programName(), "--- Default ---");
  for (int32_t p = 1; p < 16; ++p) {
    effect->setProgram(p);
    EXPECT_EQ(effect->program(), p);
    EXPECT_EQ(effect->programName(), "Init " + std::to_string(p));
  }
  effect->setProgram(0);
  EXPECT_EQ(effect->programName(), "--- Default ---");
}

TEST(ModulePrograms, RenamedProgramKeepsItsNameAcrossSwitches) {
  auto effect = newEffect();
  effect->setProgram(3);
  EXPECT_EQ(effect->programName(), "Init 3");
  effect->setProgramName("Wide");
  EXPECT_EQ(effect->programName(), "Wide");
  effect->setProgram(4);
  EXPECT_EQ(effect->programName(), "Init 4");
  effect->setProgram(3);
  EXPECT_EQ(effect->programName(), "Wide");
  // Named "Init" again, it shows its number again.
  effect->setProgramName("Init");
  EXPECT_EQ(effect->programName(), "Init 3");
}

TEST(ModulePrograms, DefaultProgramNameReverts) {
  auto effect = newEffect();
  effect->setProgramName("Mine");
  EXPECT_EQ(effect->programName(), "--- Default ---");
  effect->setProgram(1);
  effect->setProgram(0);
  EXPECT_EQ(effect->programName(), "--- Default ---");
}

TEST(ModulePrograms, LongNamesAreCutTo23Characters) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  struct Case {
    std::size_t length;
    std::size_t kept;
  };
  const Case cases[] = {{0, 0}, {1, 1}, {22, 22}, {23, 23}, {24, 23}, {25, 23}, {62, 23}};
  auto effect = newEffect();
  effect->setProgram(9);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    effect->setProgramName(alphabet.substr(0, c.length));
    EXPECT_EQ(effect->programName(), alphabet.substr(0, c.kept));
  }
  // The cut name is stored, not just shown: it survives a switch and leaves its neighbours alone.
  effect->setProgram(10);
  EXPECT_EQ(effect->programName(), "Init 10");
  effect->setProgram(9);
  EXPECT_EQ(effect->programName(), alphabet.substr(0, 23));
}

TEST(ModulePrograms, ParametersAreStoredPerProgram) {
  auto effect = newEffect();
  effect->setProgram(5);
  effect->setParameter(kSend, 0.3f);
  effect->setParameter(kDepth, 0.6f);
  effect->setParameter(kWaveform, 0.9f);
  effect->setProgram(6);
  EXPECT_EQ(allValues(*effect), std::vector<float>(kDefaults, kDefaults + 8));
  EXPECT_EQ(effect->paramDisplay(kWaveform), "sinus");
  effect->setParameter(kTempo, 1.0f);
  effect->setProgram(5);
  EXPECT_EQ(effect->getParameter(kSend), 0.3f);
  EXPECT_EQ(effect->getParameter(kDepth), 0.6f);
  EXPECT_EQ(effect->getParameter(kTempo), kDefaults[kTempo]);
  EXPECT_EQ(effect->paramDisplay(kSend), "30");
  EXPECT_EQ(effect->paramDisplay(kDepth), "60");
  EXPECT_EQ(effect->paramDisplay(kWaveform), "sawtooth");
  effect->setProgram(6);
  EXPECT_EQ(effect->paramDisplay(kTempo), "200");
}

TEST(ModulePrograms, DefaultProgramAlwaysRestoresTheDefaults) {
  auto effect = newEffect();
  effect->setParameter(kTempo, 1.0f);
  effect->setParameter(kResolution, 0.0f);
  effect->setParameter(kBoost, 1.0f);
  effect->setProgram(7);
  effect->setProgram(0);
  EXPECT_EQ(allValues(*effect), std::vector<float>(kDefaults, kDefaults + 8));
  EXPECT_EQ(allDisplays(*effect),
            (std::vector<std::string>{"120", "64", "100", "25", "25", "sinus", "10", "0.000000"}));
  effect->setParameter(kSend, 0.5f);
  effect->setProgram(0);  // selecting the current program applies it again
  EXPECT_EQ(effect->getParameter(kSend), 1.0f);
}

TEST(ModulePrograms, ProgramNumbersOutsideTheBankAreIgnored) {
  auto effect = newEffect();
  effect->setProgram(5);
  effect->setParameter(kSend, 0.3f);
  effect->setProgramName("Kept");
  for (VstIntPtr program : {VstIntPtr{16}, VstIntPtr{-1}, VstIntPtr{1000}}) {
    SCOPED_TRACE(program);
    EXPECT_EQ(effect->dispatch(effSetProgram, 0, program), 0);
    EXPECT_EQ(effect->program(), 5);
    EXPECT_EQ(effect->getParameter(kSend), 0.3f);
    EXPECT_EQ(effect->programName(), "Kept");
  }
}

TEST(ModulePrograms, SuspendAndResumeKeepParametersAndProgram) {
  auto effect = newEffect();
  effect->setProgram(2);
  effect->setParameter(kStereo, 0.7f);
  const auto displays = allDisplays(*effect);
  effect->resume();
  effect->suspend();
  effect->resume();
  EXPECT_EQ(effect->program(), 2);
  EXPECT_EQ(effect->getParameter(kStereo), 0.7f);
  EXPECT_EQ(allDisplays(*effect), displays);
}

}  // namespace
}  // namespace tftest
