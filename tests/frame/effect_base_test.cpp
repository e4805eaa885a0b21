// EffectBase through its record: the dispatcher's opcode table, the program bound, the meter,
// mains and chunk opcodes, the record setters and the queries to the host.
#include "frame/effect_base.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/frame/probe_effect.h"

namespace {

// ---------------------------------------------------------------------------------------------
// The opcode table

struct DispatchCase {
  const char* what;
  int32_t opcode;
  int32_t index;
  VstIntPtr value;
  float opt;
  VstIntPtr answer;
  EventLog events;  // operations the opcode reaches, in order
};

std::vector<DispatchCase> dispatchCases() {
  std::vector<DispatchCase> cases = {
      {"effOpen", effOpen, 0, 0, 0.0f, 0, {"open"}},
      {"effSetProgram", effSetProgram, 0, 3, 0.0f, 0, {"setProgram 3"}},
      {"effGetProgram", effGetProgram, 0, 0, 0.0f, 0, {"getProgram"}},
      {"effSetProgramName", effSetProgramName, 0, 0, 0.0f, 0, {"setProgramName"}},
      {"effGetProgramName", effGetProgramName, 0, 0, 0.0f, 0, {"getProgramName"}},
      {"effGetParamLabel", effGetParamLabel, 2, 0, 0.0f, 0, {"getParamLabel 2"}},
      {"effGetParamDisplay", effGetParamDisplay, 1, 0, 0.0f, 0, {"getParamDisplay 1"}},
      {"effGetParamName", effGetParamName, 0, 0, 0.0f, 0, {"getParamName 0"}},
      {"effGetVu keeps the default", effGetVu, 0, 0, 0.0f, 0, {}},
      {"effSetSampleRate", effSetSampleRate, 0, 0, 48000.0f, 0, {"setSampleRate 48000.000000"}},
      {"effSetBlockSize", effSetBlockSize, 0, 512, 0.0f, 0, {"setBlockSize 512"}},
      {"effMainsChanged 0", effMainsChanged, 0, 0, 0.0f, 0, {"suspend"}},
      {"effMainsChanged 5", effMainsChanged, 0, 5, 0.0f, 0, {"resume"}},
      {"effMainsChanged -1", effMainsChanged, 0, -1, 0.0f, 0, {"resume"}},
      {"effEditGetRect without editor", effEditGetRect, 0, 0, 0.0f, 0, {}},
      {"effEditOpen without editor", effEditOpen, 0, 0, 0.0f, 0, {}},
      {"effEditClose without editor", effEditClose, 0, 0, 0.0f, 0, {}},
      {"effEditIdle without editor", effEditIdle, 0, 0, 0.0f, 0, {}},
      {"effIdentify", effIdentify, 0, 0, 0.0f, 0x4E764566, {}},
      {"effIdentify with other arguments", effIdentify, -7, 12345, 3.5f, 0x4E764566, {}},
      {"effGetChunk index 7", effGetChunk, 7, 0, 0.0f, 12, {"getChunk preset"}},
      {"effGetChunk index 0", effGetChunk, 0, 0, 0.0f, 12, {"getChunk bank"}},
      {"effGetChunk index -1", effGetChunk, -1, 0, 0.0f, 12, {"getChunk preset"}},
      {"effSetChunk index 0", effSetChunk, 0, 12, 0.0f, 0, {"setChunk 12 bank"}},
      {"effSetChunk index 3", effSetChunk, 3, 5, 0.0f, 0, {"setChunk 5 preset"}},
      {"effCanBeAutomated first", 26, 0, 0, 0.0f, 1, {}},
      {"effCanBeAutomated last", 26, ProbeEffect::kParams - 1, 0, 0.0f, 1, {}},
      {"effCanBeAutomated past the end", 26, ProbeEffect::kParams, 0, 0.0f, 0, {}},
      {"effCanBeAutomated negative", 26, -1, 0, 0.0f, 0, {}},
      {"effCanBeAutomated INT32_MIN", 26, INT32_MIN, 0, 0.0f, 0, {}},
      {"opcode -1", -1, 0, 0, 0.0f, 0, {}},
      {"opcode INT32_MIN", INT32_MIN, 0, 0, 0.0f, 0, {}},
      {"opcode INT32_MAX", INT32_MAX, 0, 0, 0.0f, 0, {}},
      {"opcode 25", 25, 0, 0, 0.0f, 0, {}},
      {"opcode 27", 27, 0, 0, 0.0f, 0, {}},
      {"opcode 1000", 1000, 0, 0, 0.0f, 0, {}},
  };
  for (int32_t opcode : {16, 17, 18, 20, 21}) {
    cases.push_back({"unused opcode", opcode, 0, 0, 0.0f, 0, {}});
  }
  for (uint32_t opcode = 0; opcode < 27; ++opcode) {
    // The table's opcodes with the sign bit set, and their negatives: none of them is in the table.
    cases.push_back(
        {"sign bit set", static_cast<int32_t>(opcode | 0x80000000u), 0, 0, 0.0f, 0, {}});
    cases.push_back({"negated", -static_cast<int32_t>(opcode) - 1, 0, 0, 0.0f, 0, {}});
  }
  if (kWideValues) {
    cases.push_back({"effMainsChanged with only high bits set",
                     effMainsChanged,
                     0,
                     wideValue(INT64_C(1) << 32),
                     0.0f,
                     0,
                     {"resume"}});
    cases.push_back({"effSetBlockSize narrowed",
                     effSetBlockSize,
                     0,
                     wideValue((INT64_C(1) << 32) + 256),
                     0.0f,
                     0,
                     {"setBlockSize 256"}});
    cases.push_back({"effSetChunk size narrowed",
                     effSetChunk,
                     0,
                     wideValue((INT64_C(1) << 32) + 7),
                     0.0f,
                     0,
                     {"setChunk 7 bank"}});
  }
  return cases;
}

TEST(Dispatcher, AnswersAndOperationsPerOpcode) {
  for (const DispatchCase& c : dispatchCases()) {
    SCOPED_TRACE(std::string(c.what) + ", opcode " + std::to_string(c.opcode));
    Harness<> h;
    alignas(void*) char text[32] = "untouched";
    EXPECT_EQ(h.dispatch(c.opcode, c.index, c.value, text, c.opt), c.answer);
    EXPECT_EQ(h.events, c.events);
    EXPECT_TRUE(h.host.calls.empty()) << "no opcode calls the host";
  }
}

TEST(Dispatcher, TextOpcodesWithoutABufferDoNothing) {
  for (int32_t opcode : {effSetProgramName, effGetProgramName, effGetParamLabel, effGetParamDisplay,
                         effGetParamName}) {
    SCOPED_TRACE(opcode);
    Harness<> h;
    EXPECT_EQ(h.dispatch(opcode, 0, 0, nullptr), 0);
    EXPECT_TRUE(h.events.empty());
  }
}

TEST(Dispatcher, DefaultTextOperationsWriteAnEmptyText) {
  for (int32_t opcode : {effSetProgramName, effGetProgramName, effGetParamLabel, effGetParamDisplay,
                         effGetParamName}) {
    SCOPED_TRACE(opcode);
    Harness<BareEffect> h;
    char text[8] = "abcdefg";
    EXPECT_EQ(h.dispatch(opcode, 1, 0, text), 0);
    EXPECT_EQ(text[0], 0);
    EXPECT_STREQ(text + 1, "bcdefg") << "only the first byte is written";
  }
}

TEST(Dispatcher, DefaultsOfAnEffectThatOverridesNothing) {
  Harness<BareEffect> h;
  EXPECT_EQ(h.dispatch(effGetVu), 0);
  void* data = &h;
  EXPECT_EQ(h.dispatch(effGetChunk, 1, 0, &data), 0);
  EXPECT_EQ(data, &h) << "the default getChunk leaves the host's pointer alone";
  EXPECT_EQ(h.dispatch(effSetChunk, 1, 4, &data), 0);
  EXPECT_EQ(h.record->getParameter(h.record, 0), 0.0f);
  h.record->setParameter(h.record, 0, 0.5f);
  EXPECT_EQ(h.record->getParameter(h.record, 0), 0.0f);
  EXPECT_EQ(h.dispatch(effGetProgram), 0);
  EXPECT_EQ(h.effect->getSampleRate(), 44100.0f);
  EXPECT_EQ(h.effect->getBlockSize(), 1024);
  h.dispatch(effSetSampleRate, 0, 0, nullptr, 96000.0f);
  h.dispatch(effSetBlockSize, 0, 64);
  EXPECT_EQ(h.effect->getSampleRate(), 96000.0f);
  EXPECT_EQ(h.effect->getBlockSize(), 64);
}

TEST(Dispatcher, GetChunkHandsTheChunkToTheHost) {
  Harness<> h;
  void* data = nullptr;
  EXPECT_EQ(h.dispatch(effGetChunk, 0, 0, &data), 12);
  EXPECT_EQ(data, h.effect->chunk);
  EXPECT_EQ(h.dispatch(effSetChunk, 0, 12, data), 1) << "setChunk's answer is passed back";
}

// ---------------------------------------------------------------------------------------------
// effSetProgram's bound: 0 to numPrograms - 1, compared on the whole pointer-sized value

TEST(Dispatcher, SetProgramOnlyWithinTheBank) {
  struct Case {
    const char* what;
    VstIntPtr value;
    int32_t program;  // expected afterwards; starts at 2
  };
  std::vector<Case> cases = {
      {"first", 0, 0},
      {"last", ProbeEffect::kPrograms - 1, ProbeEffect::kPrograms - 1},
      {"one past the end", ProbeEffect::kPrograms, 2},
      {"far past the end", INT32_MAX, 2},
      {"negative", -1, 2},
      {"most negative int32", INT32_MIN, 2},
  };
  if (kWideValues) {
    cases.push_back({"2^32 + 1, not truncated to 1", wideValue((INT64_C(1) << 32) + 1), 2});
    cases.push_back({"-2^32 + 1, not truncated to 1", wideValue(-(INT64_C(1) << 32) + 1), 2});
    cases.push_back({"INT64_MIN", wideValue(INT64_MIN), 2});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Harness<> h;
    h.dispatch(effSetProgram, 0, 2);
    h.events.clear();
    EXPECT_EQ(h.dispatch(effSetProgram, 0, c.value), 0);
    const bool called = c.program != 2;
    EXPECT_EQ(h.events.size(), called ? 1u : 0u);
    EXPECT_EQ(h.dispatch(effGetProgram), c.program);
  }
}

// ---------------------------------------------------------------------------------------------
// effGetVu: level × 32767 in double, truncated toward zero

class MeterEffect : public ProbeEffect {
 public:
  using ProbeEffect::ProbeEffect;
  float getVu() override { return level; }
  float level = 0.0f;
};

TEST(Dispatcher, GetVuScalesTheLevelInDouble) {
  struct Case {
    float level;
    VstIntPtr answer;
  };
  const Case cases[] = {
      {0.0f, 0},
      {0.5f, 16383},  // 16383.5
      {1.0f, 32767},
      {-0.5f, -16383},  // toward zero
      {0.1f, 3276},
      // 0.99999999907 in double; single precision would round the product up to 1.
      {0x1.0002p-15f, 0},
      {2.0f, 65534},
      {std::numeric_limits<float>::quiet_NaN(), 0},
      {1.0e30f, INT32_MAX},
      {-1.0e30f, INT32_MIN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    Harness<MeterEffect> h;
    h.effect->level = c.level;
    EXPECT_EQ(h.dispatch(effGetVu), c.answer);
  }
}

// ---------------------------------------------------------------------------------------------
// Record setters

TEST(EffectBaseSetters, EachFlagSetterSetsAndClearsItsOwnBit) {
  struct Case {
    const char* what;
    void (EffectBase::*setter)(bool);
    int32_t bit;
  };
  const Case cases[] = {
      {"setHasClip", &EffectBase::setHasClip, 2},
      {"setHasVu", &EffectBase::setHasVu, 4},
      {"setCanMono", &EffectBase::setCanMono, 8},
      {"setCanReplacing", &EffectBase::setCanReplacing, 16},
      {"setProgramChunks", &EffectBase::setProgramChunks, 32},
  };
  constexpr int32_t kAllSettable = 2 | 4 | 8 | 16 | 32;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Harness<> h;
    (h.effect->*c.setter)(true);
    EXPECT_EQ(h.record->flags, c.bit);
    (h.effect->*c.setter)(true);
    EXPECT_EQ(h.record->flags, c.bit) << "setting twice";
    (h.effect->*c.setter)(false);
    EXPECT_EQ(h.record->flags, 0);
    // Among all other flags, only its own bit goes.
    for (const Case& other : cases)
      (h.effect->*other.setter)(true);
    EXPECT_EQ(h.record->flags, kAllSettable);
    (h.effect->*c.setter)(false);
    EXPECT_EQ(h.record->flags, kAllSettable & ~c.bit);
  }
}

TEST(EffectBaseSetters, MonoAndReplacingGive24ThenMonoOffGives16) {
  Harness<> h;
  h.effect->setCanMono(true);
  h.effect->setCanReplacing(true);
  EXPECT_EQ(h.record->flags, 24);
  h.effect->setCanMono(false);
  EXPECT_EQ(h.record->flags, 16);
}

TEST(EffectBaseSetters, CountsIdentityAndLatencyLandInTheRecord) {
  Harness<> h;
  h.effect->setUniqueID(fourCharCode('T', 'e', 's', 't'));
  h.effect->setNumInputs(2);
  h.effect->setNumOutputs(6);
  h.effect->setRealQualities(3);
  h.effect->setOffQualities(4);
  h.effect->setInitialDelay(128);
  EXPECT_EQ(h.record->uniqueID, 0x54657374);
  EXPECT_EQ(h.record->numInputs, 2);
  EXPECT_EQ(h.record->numOutputs, 6);
  EXPECT_EQ(h.record->realQualities, 3);
  EXPECT_EQ(h.record->offQualities, 4);
  EXPECT_EQ(h.record->initialDelay, 128);
  EXPECT_EQ(h.record->flags, 0);
  EXPECT_EQ(h.record->numPrograms, ProbeEffect::kPrograms);
  EXPECT_EQ(h.record->numParams, ProbeEffect::kParams);
}

// ---------------------------------------------------------------------------------------------
// Queries to the host

TEST(HostQueries, WithoutAHost) {
  Harness<> h(false);
  EXPECT_EQ(h.effect->hostVersion(), 1);
  EXPECT_EQ(h.effect->hostCurrentId(), 0);
  EXPECT_EQ(h.effect->hostIdle(), 0);
  EXPECT_TRUE(h.effect->inputPinConnected(0));
  EXPECT_TRUE(h.effect->outputPinConnected(1));
  h.effect->setParameterAndNotify(1, 0.5f);
  EXPECT_EQ(h.events, (EventLog{"setParameter 1 0.500000"}));
  EXPECT_TRUE(h.host.calls.empty());
}

TEST(HostQueries, AnswersAndWhatIsSent) {
  struct Case {
    const char* what;
    int32_t opcode;
    VstIntPtr answer;  // the host's answer to that opcode
    int32_t (*ask)(EffectBase&);
    int32_t result;
    int32_t sentIndex;
    VstIntPtr sentValue;
  };
  auto version = [](EffectBase& e) { return e.hostVersion(); };
  auto currentId = [](EffectBase& e) { return e.hostCurrentId(); };
  auto idle = [](EffectBase& e) { return e.hostIdle(); };
  auto input3 = [](EffectBase& e) { return static_cast<int32_t>(e.inputPinConnected(3)); };
  auto output1 = [](EffectBase& e) { return static_cast<int32_t>(e.outputPinConnected(1)); };
  std::vector<Case> cases = {
      {"hostVersion, host answers 0", audioMasterVersion, 0, version, 1, 0, 0},
      {"hostVersion, host answers 2400", audioMasterVersion, 2400, version, 2400, 0, 0},
      {"hostVersion, host answers 1", audioMasterVersion, 1, version, 1, 0, 0},
      {"hostCurrentId", audioMasterCurrentId, 0x50683632, currentId, 0x50683632, 0, 0},
      {"hostCurrentId, host answers 0", audioMasterCurrentId, 0, currentId, 0, 0, 0},
      {"hostIdle", audioMasterIdle, 7, idle, 7, 0, 0},
      {"hostIdle, host answers 0", audioMasterIdle, 0, idle, 0, 0, 0},
      {"input pin, host answers 0", audioMasterPinConnected, 0, input3, 1, 3, 0},
      {"input pin, host answers 1", audioMasterPinConnected, 1, input3, 0, 3, 0},
      {"input pin, host answers -1", audioMasterPinConnected, -1, input3, 0, 3, 0},
      {"output pin, host answers 0", audioMasterPinConnected, 0, output1, 1, 1, 1},
      {"output pin, host answers 1", audioMasterPinConnected, 1, output1, 0, 1, 1},
  };
  if (kWideValues) {
    cases.push_back({"input pin, answer with only high bits set", audioMasterPinConnected,
                     wideValue(INT64_C(1) << 32), input3, 0, 3, 0});
    cases.push_back(
        {"hostIdle narrowed", audioMasterIdle, wideValue((INT64_C(1) << 32) + 9), idle, 9, 0, 0});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Harness<> h;
    h.host.answers[c.opcode] = c.answer;
    EXPECT_EQ(c.ask(*h.effect), c.result);
    ASSERT_EQ(h.host.calls.size(), 1u);
    const HostCall& call = h.host.calls[0];
    EXPECT_EQ(call.effect, h.record);
    EXPECT_EQ(call.opcode, c.opcode);
    EXPECT_EQ(call.index, c.sentIndex);
    EXPECT_EQ(call.value, c.sentValue);
    EXPECT_EQ(call.ptr, nullptr);
    EXPECT_EQ(call.opt, 0.0f);
  }
}

TEST(HostQueries, SetParameterAndNotifySetsThenTellsTheHost) {
  Harness<> h;
  h.effect->setParameterAndNotify(2, 0.75f);
  EXPECT_EQ(h.events, (EventLog{"setParameter 2 0.750000", "host 0"}));
  ASSERT_EQ(h.host.calls.size(), 1u);
  const HostCall& call = h.host.calls[0];
  EXPECT_EQ(call.effect, h.record);
  EXPECT_EQ(call.opcode, audioMasterAutomate);
  EXPECT_EQ(call.index, 2);
  EXPECT_EQ(call.value, 0);
  EXPECT_EQ(call.ptr, nullptr);
  EXPECT_EQ(call.opt, 0.75f);
}

}  // namespace
