// Hostile host calls, one row each, sent to the built module through the host layer as a careless
// host would send them, with the behaviour the effect promises for each: non-finite parameter
// values store nothing, parameter indexes and program numbers outside their range are ignored,
// program names are cut to 23 characters, no text reaches past 24 bytes (the host layer's guarded
// reads throw if one does), unknown opcodes answer 0 and touch nothing, text opcodes without a
// buffer do nothing, frame counts of 0 or less process nothing, and sample rates outside 8000 to
// 768000 Hz leave the sweep as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/host.h"

namespace {

using tfhost::Effect;
using Limits = std::numeric_limits<float>;

constexpr int32_t kNumParams = 8;
constexpr int32_t kNumPrograms = 16;
constexpr int32_t kWaveform = 5;
constexpr int32_t kFrames = 1024;

const tfhost::Module& flangerModule() {
  static const tfhost::Module module(TF_MODULE_PATH);
  return module;
}

std::unique_ptr<Effect> newEffect() {
  auto effect = flangerModule().instantiate();
  effect->open();
  effect->setSampleRate(44100.0f);
  effect->setBlockSize(kFrames);
  return effect;
}

uint32_t bitsOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// A text as the host layer reads it (guarded past 24 bytes: an overrun throws), or nothing when
// the effect writes nothing at all, which it may for a text it does not have.
std::optional<std::string> textOrNothing(Effect& effect, int32_t opcode, int32_t index) {
  std::vector<char> probe(tfhost::kTextLimit + tfhost::kTextGuard, 'Z');
  effect.dispatch(opcode, index, 0, probe.data());
  if (std::all_of(probe.begin(), probe.end(), [](char c) { return c == 'Z'; })) {
    return std::nullopt;
  }
  switch (opcode) {
    case effGetParamName:
      return effect.paramName(index);
    case effGetParamLabel:
      return effect.paramLabel(index);
    case effGetParamDisplay:
      return effect.paramDisplay(index);
    default:
      return effect.programName();
  }
}

// Everything a host can read back without audio: parameter values (as bits), their texts, the
// program and its name.
struct Readout {
  std::vector<uint32_t> values;
  std::vector<std::optional<std::string>> texts;
  VstIntPtr program = 0;
  std::string programName;

  bool operator==(const Readout& other) const {
    return values == other.values && texts == other.texts && program == other.program &&
           programName == other.programName;
  }
};

Readout readout(Effect& effect) {
  Readout r;
  for (int32_t i = 0; i < kNumParams; ++i) {
    r.values.push_back(bitsOf(effect.getParameter(i)));
    for (int32_t opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
      r.texts.push_back(textOrNothing(effect, opcode, i));
    }
  }
  r.program = effect.program();
  r.programName = effect.programName();
  return r;
}

// Noise within -1 to 1, the same for every effect.
std::vector<float> noise(std::size_t frames, uint32_t seed) {
  std::vector<float> samples(frames);
  for (float& s : samples) {
    seed = seed * 1664525u + 1013904223u;
    s = static_cast<float>(static_cast<int32_t>(seed) >> 8) / 8388608.0f;
  }
  return samples;
}

// The bits of `blocks` blocks of processReplacing and process on a noise input, which moves the
// sweep through several steps.
std::vector<uint32_t> render(Effect& effect, int blocks = 4) {
  std::vector<uint32_t> bits;
  for (int block = 0; block < blocks; ++block) {
    std::vector<float> in[2] = {noise(kFrames, 1 + block), noise(kFrames, 100 + block)};
    std::vector<float> out[2] = {std::vector<float>(kFrames), std::vector<float>(kFrames)};
    float* inputs[2] = {in[0].data(), in[1].data()};
    float* outputs[2] = {out[0].data(), out[1].data()};
    if (block % 2 == 0) {
      effect.processReplacing(inputs, outputs, kFrames);
    } else {
      effect.process(inputs, outputs, kFrames);
    }
    for (const auto& channel : out) {
      for (float s : channel)
        bits.push_back(bitsOf(s));
    }
  }
  return bits;
}

bool allFinite(const std::vector<uint32_t>& bits) {
  return std::all_of(bits.begin(), bits.end(),
                     [](uint32_t b) { return (b & 0x7F800000u) != 0x7F800000u; });
}

// The output of a new effect that is resumed and rendered with nothing else done to it.
const std::vector<uint32_t>& untouchedRender() {
  static const std::vector<uint32_t> bits = [] {
    auto effect = newEffect();
    effect->resume();
    return render(*effect);
  }();
  return bits;
}

// ---------------------------------------------------------------------------------------------
// Parameter values

struct ValueRow {
  const char* name;
  float value;
};
void PrintTo(const ValueRow& row, std::ostream* out) { *out << row.name; }

class HostileParameterValue : public ::testing::TestWithParam<ValueRow> {};

// On every index: a finite value is stored as sent and reads back the same bits; a non-finite one
// stores and derives nothing, so every readout and the sound stay as they were. Every text stays
// within its buffer either way, and values within 0 to 1 give finite output.
TEST_P(HostileParameterValue, StoredWhenFiniteIgnoredOtherwise) {
  const float value = GetParam().value;
  const bool stored = std::isfinite(value);
  for (int32_t index = 0; index < kNumParams; ++index) {
    SCOPED_TRACE("parameter " + std::to_string(index));
    auto effect = newEffect();
    effect->resume();
    const Readout before = readout(*effect);
    effect->setParameter(index, value);
    const Readout after = readout(*effect);  // throws if a text overruns
    if (stored) {
      EXPECT_EQ(bitsOf(effect->getParameter(index)), bitsOf(value));
      for (int32_t other = 0; other < kNumParams; ++other) {
        if (other != index) {
          EXPECT_EQ(after.values[other], before.values[other]);
        }
      }
    } else {
      EXPECT_TRUE(after == before);
    }
    const std::vector<uint32_t> sound = render(*effect);
    if (!stored) {
      EXPECT_EQ(sound, untouchedRender());
    }
    if (value >= 0.0f && value <= 1.0f) {
      EXPECT_TRUE(allFinite(sound));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    , HostileParameterValue,
    ::testing::Values(ValueRow{"NaN", Limits::quiet_NaN()},
                      ValueRow{"NegativeNaN", -Limits::quiet_NaN()},
                      ValueRow{"SignalingNaN", Limits::signaling_NaN()},
                      ValueRow{"PlusInfinity", Limits::infinity()},
                      ValueRow{"MinusInfinity", -Limits::infinity()},
                      ValueRow{"SmallestDenormal", Limits::denorm_min()},
                      ValueRow{"NegativeDenormal", -Limits::denorm_min()},
                      ValueRow{"LargestFloat", Limits::max()},
                      ValueRow{"LowestFloat", Limits::lowest()}, ValueRow{"Huge", 1.0e38f},
                      ValueRow{"MinusOneBillion", -1.0e9f}, ValueRow{"TwoToThe32", 4294967296.0f},
                      ValueRow{"JustAboveOne", 1.0000001f}, ValueRow{"MinusZero", -0.0f}),
    [](const ::testing::TestParamInfo<ValueRow>& info) { return std::string(info.param.name); });

// Waveform above 1.0 is stored but selects no shape and has no display text: the effect writes
// nothing into the host's buffer.
TEST(HostileWaveformValue, AboveOneWritesNoDisplay) {
  auto effect = newEffect();
  effect->setParameter(kWaveform, 1.5f);
  EXPECT_EQ(textOrNothing(*effect, effGetParamDisplay, kWaveform), std::nullopt);
  effect->setParameter(kWaveform, 1.0f);
  EXPECT_EQ(textOrNothing(*effect, effGetParamDisplay, kWaveform), "sawtooth");
}

// ---------------------------------------------------------------------------------------------
// Parameter indexes

class HostileParameterIndex : public ::testing::TestWithParam<int32_t> {};

TEST_P(HostileParameterIndex, IgnoredReadsZeroAndHasNoTexts) {
  const int32_t index = GetParam();
  auto effect = newEffect();
  effect->resume();
  const Readout before = readout(*effect);
  effect->setParameter(index, 0.75f);
  EXPECT_TRUE(readout(*effect) == before);
  EXPECT_EQ(bitsOf(effect->getParameter(index)), bitsOf(0.0f));
  for (int32_t opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
    EXPECT_EQ(textOrNothing(*effect, opcode, index), std::nullopt) << "opcode " << opcode;
  }
  EXPECT_EQ(render(*effect), untouchedRender());
}

INSTANTIATE_TEST_SUITE_P(, HostileParameterIndex,
                         ::testing::Values(-1, kNumParams, kNumParams + 1, INT32_MIN, INT32_MAX),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                           const int32_t i = info.param;
                           return i < 0 ? "Minus" + std::to_string(-static_cast<int64_t>(i))
                                        : std::to_string(i);
                         });

// ---------------------------------------------------------------------------------------------
// Program numbers

struct ProgramRow {
  const char* name;
  VstIntPtr value;
};
void PrintTo(const ProgramRow& row, std::ostream* out) { *out << row.name; }

class HostileProgramNumber : public ::testing::TestWithParam<ProgramRow> {};

// Only 0 to 15 select a program; every other number of the whole `value` range is ignored, so the
// current program, its parameters and its name stay.
TEST_P(HostileProgramNumber, OnlyZeroToFifteenSelect) {
  const VstIntPtr value = GetParam().value;
  auto effect = newEffect();
  effect->setProgram(5);
  effect->setParameter(kWaveform, 0.5f);
  const Readout before = readout(*effect);
  effect->dispatch(effSetProgram, 0, value);
  if (value >= 0 && value < kNumPrograms) {
    EXPECT_EQ(effect->program(), value);
  } else {
    EXPECT_TRUE(readout(*effect) == before);
  }
}

INSTANTIATE_TEST_SUITE_P(, HostileProgramNumber,
                         ::testing::Values(
                             ProgramRow{"IntMin", INT32_MIN}, ProgramRow{"MinusOne", -1},
                             ProgramRow{"Zero", 0}, ProgramRow{"Fifteen", 15},
                             ProgramRow{"Sixteen", 16}, ProgramRow{"IntMax", INT32_MAX},
                             ProgramRow{"PointerMin", std::numeric_limits<VstIntPtr>::min()},
                             ProgramRow { "PointerMax", std::numeric_limits<VstIntPtr>::max() }
#if INTPTR_MAX == INT64_MAX
                             // Would select program 3 if `value` were cut to 32 bits.
                             ,
                             ProgramRow{"TwoToThe32PlusThree", (VstIntPtr{1} << 32) + 3}
#endif
                             ),
                         [](const ::testing::TestParamInfo<ProgramRow>& info) {
                           return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------------------------
// Program names

struct NameRow {
  const char* name;
  std::string sent;
  std::string readBack;
};
void PrintTo(const NameRow& row, std::ostream* out) { *out << row.name; }

class HostileProgramName : public ::testing::TestWithParam<NameRow> {};

TEST_P(HostileProgramName, CutToTwentyThreeCharacters) {
  auto effect = newEffect();
  effect->setProgram(5);
  effect->setProgramName(GetParam().sent);
  EXPECT_EQ(effect->programName(), GetParam().readBack);  // throws past 24 bytes
}

std::string letters(std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i)
    text += static_cast<char>('a' + i % 26);
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    , HostileProgramName,
    ::testing::Values(NameRow{"Empty", "", ""}, NameRow{"TwentyTwo", letters(22), letters(22)},
                      NameRow{"TwentyThree", letters(23), letters(23)},
                      NameRow{"TwentyFour", letters(24), letters(23)},
                      NameRow{"OneHundred", letters(100), letters(23)},
                      NameRow{"OneThousand", letters(1000), letters(23)},
                      NameRow{"HighBytes", std::string(40, '\xA5'), std::string(23, '\xA5')}),
    [](const ::testing::TestParamInfo<NameRow>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Opcodes

class HostileOpcode : public ::testing::TestWithParam<int32_t> {};

// Unknown opcodes, negative and huge ones included (compared unsigned), answer 0, leave the
// buffer they are given alone and change nothing.
TEST_P(HostileOpcode, AnswersZeroAndTouchesNothing) {
  auto effect = newEffect();
  effect->resume();
  const Readout before = readout(*effect);
  std::vector<char> buffer(256, 'Z');
  EXPECT_EQ(effect->dispatch(GetParam(), 3, 7, buffer.data(), 0.5f), 0);
  EXPECT_EQ(effect->dispatch(GetParam(), -1, -1, nullptr, Limits::quiet_NaN()), 0);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](char c) { return c == 'Z'; }));
  EXPECT_TRUE(readout(*effect) == before);
  EXPECT_EQ(render(*effect), untouchedRender());
}

INSTANTIATE_TEST_SUITE_P(, HostileOpcode,
                         ::testing::Values(-1, -2, INT32_MIN, INT32_MAX, 16, 25, 27, 35, 58, 255,
                                           0x10000),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                           const int32_t i = info.param;
                           return i < 0 ? "Minus" + std::to_string(-static_cast<int64_t>(i))
                                        : std::to_string(i);
                         });

// The text opcodes with no buffer do nothing and answer 0.
class NullTextPointer : public ::testing::TestWithParam<int32_t> {};

TEST_P(NullTextPointer, DoesNothing) {
  auto effect = newEffect();
  effect->setProgram(5);
  effect->setProgramName("kept");
  const Readout before = readout(*effect);
  for (int32_t index : {-1, 0, 7, 8}) {
    EXPECT_EQ(effect->dispatch(GetParam(), index, 0, nullptr), 0);
  }
  EXPECT_TRUE(readout(*effect) == before);
}

std::string textOpcodeName(const ::testing::TestParamInfo<int32_t>& info) {
  static const char* const kNames[] = {"SetProgramName", "GetProgramName", "GetParamLabel",
                                       "GetParamDisplay", "GetParamName"};
  return kNames[info.param - effSetProgramName];
}

INSTANTIATE_TEST_SUITE_P(, NullTextPointer,
                         ::testing::Values(effSetProgramName, effGetProgramName, effGetParamLabel,
                                           effGetParamDisplay, effGetParamName),
                         textOpcodeName);

// ---------------------------------------------------------------------------------------------
// Frame counts

class HostileFrameCount : public ::testing::TestWithParam<int32_t> {};

// Neither audio call reads, writes or advances anything for a count of 0 or less.
TEST_P(HostileFrameCount, ProcessesNothing) {
  auto effect = newEffect();
  effect->resume();
  std::vector<float> in[2] = {std::vector<float>(16, 0.5f), std::vector<float>(16, -0.5f)};
  std::vector<float> out[2] = {std::vector<float>(16, 3.0f), std::vector<float>(16, 3.0f)};
  float* inputs[2] = {in[0].data(), in[1].data()};
  float* outputs[2] = {out[0].data(), out[1].data()};
  effect->processReplacing(inputs, outputs, GetParam());
  effect->process(inputs, outputs, GetParam());
  effect->processReplacing(inputs, inputs, GetParam());
  for (const auto& channel : out) {
    EXPECT_TRUE(std::all_of(channel.begin(), channel.end(), [](float s) { return s == 3.0f; }));
  }
  EXPECT_TRUE(std::all_of(in[0].begin(), in[0].end(), [](float s) { return s == 0.5f; }));
  EXPECT_EQ(render(*effect), untouchedRender());
}

INSTANTIATE_TEST_SUITE_P(, HostileFrameCount, ::testing::Values(0, -1, -4096, INT32_MIN),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                           const int32_t i = info.param;
                           return i < 0 ? "Minus" + std::to_string(-static_cast<int64_t>(i))
                                        : std::to_string(i);
                         });

// ---------------------------------------------------------------------------------------------
// Sample rates

struct RateRow {
  const char* name;
  float rate;
};
void PrintTo(const RateRow& row, std::ostream* out) { *out << row.name; }

class HostileSampleRate : public ::testing::TestWithParam<RateRow> {};

// A rate outside 8000 to 768000 Hz is recorded but the sweep keeps the tables it has: after a
// resume the effect sounds exactly as one that never heard of it.
TEST_P(HostileSampleRate, IgnoredByTheSweep) {
  auto effect = newEffect();
  effect->setSampleRate(GetParam().rate);
  effect->resume();
  EXPECT_EQ(render(*effect), untouchedRender());
  readout(*effect);  // texts stay in bounds
}

INSTANTIATE_TEST_SUITE_P(
    , HostileSampleRate,
    ::testing::Values(RateRow{"Zero", 0.0f}, RateRow{"MinusZero", -0.0f},
                      RateRow{"NaN", Limits::quiet_NaN()},
                      RateRow{"PlusInfinity", Limits::infinity()},
                      RateRow{"MinusInfinity", -Limits::infinity()}, RateRow{"Negative", -44100.0f},
                      RateRow{"OneGigahertz", 1.0e9f}, RateRow{"Denormal", Limits::denorm_min()},
                      RateRow{"JustBelow8000", 7999.9995f}, RateRow{"JustAbove768000", 768000.06f}),
    [](const ::testing::TestParamInfo<RateRow>& info) { return std::string(info.param.name); });

// The bounds themselves are accepted: the tables are rebuilt for them and the sound stays finite.
TEST(SampleRateBounds, AreAcceptedAndRebuildTheSweep) {
  for (float rate : {8000.0f, 768000.0f}) {
    auto effect = newEffect();
    effect->setSampleRate(rate);
    effect->resume();
    const std::vector<uint32_t> sound = render(*effect, 12);
    EXPECT_TRUE(allFinite(sound)) << rate;
    auto reference = newEffect();
    reference->resume();
    EXPECT_NE(sound, render(*reference, 12)) << rate << " Hz sounds as 44100 Hz";
  }
}

// ---------------------------------------------------------------------------------------------
// Suspend/resume values and block sizes

struct ValueCallRow {
  const char* name;
  int32_t opcode;
  VstIntPtr value;
  bool resumes;  // what the call amounts to: a resume, or nothing that sounds
};
void PrintTo(const ValueCallRow& row, std::ostream* out) { *out << row.name; }

class HostileCallValue : public ::testing::TestWithParam<ValueCallRow> {};

// effMainsChanged takes any value but 0 as a resume (it clears the delay lines and restarts the
// sweep); a block size, whatever it is, is only recorded.
TEST_P(HostileCallValue, ResumesOrChangesNothing) {
  const ValueCallRow& row = GetParam();
  auto effect = newEffect();
  effect->resume();
  render(*effect, 2);
  effect->dispatch(row.opcode, 0, row.value);

  auto reference = newEffect();
  reference->resume();
  render(*reference, 2);
  if (row.resumes) reference->resume();
  EXPECT_EQ(render(*effect), render(*reference));
}

INSTANTIATE_TEST_SUITE_P(
    , HostileCallValue,
    ::testing::Values(ValueCallRow{"MainsIntMin", effMainsChanged, INT32_MIN, true},
                      ValueCallRow{"MainsMinusOne", effMainsChanged, -1, true},
                      ValueCallRow{"MainsTwo", effMainsChanged, 2, true},
                      ValueCallRow{"MainsPointerMax", effMainsChanged,
                                   std::numeric_limits<VstIntPtr>::max(), true},
                      ValueCallRow{"BlockSizeZero", effSetBlockSize, 0, false},
                      ValueCallRow{"BlockSizeMinusOne", effSetBlockSize, -1, false},
                      ValueCallRow{"BlockSizeIntMin", effSetBlockSize, INT32_MIN, false},
                      ValueCallRow{"BlockSizePointerMax", effSetBlockSize,
                                   std::numeric_limits<VstIntPtr>::max(), false}),
    [](const ::testing::TestParamInfo<ValueCallRow>& info) {
      return std::string(info.param.name);
    });

// ---------------------------------------------------------------------------------------------
// The entry point

TEST(HostileEntryCall, NullCallbackAnswersNull) {
  EXPECT_EQ(flangerModule().entry()(nullptr), nullptr);
}

TEST(HostileEntryCall, HostVersionZeroAnswersNull) {
  tfhost::HostOptions options;
  options.version = 0;
  try {
    flangerModule().instantiate(options);
    FAIL() << "an effect was created for a host that answered version 0";
  } catch (const tfhost::HostError& error) {
    EXPECT_EQ(error.kind(), tfhost::HostError::Kind::EntryReturnedNull);
  }
}

}  // namespace
