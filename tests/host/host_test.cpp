// The host layer against fixture modules: loading and its errors, the entry point names, the host
// callback's answers and records, text reads and their overruns, and effect lifetime.
#include "host/host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "host/module_library.h"
#include "tests/host/fixture/fixture_probe.h"

namespace tfhost {
namespace {

using ::testing::HasSubstr;

#ifdef _WIN32
constexpr const char* kMissingFilePath = "C:\\nonexistent\\dir\\none.dll";
constexpr const char* kMissingFileReason = "cannot load module";
#else
constexpr const char* kMissingFilePath = "/nonexistent/dir/none.so";
constexpr const char* kMissingFileReason = "No such file";
#endif

// The fixture's exported probes, read through a handle of the module's own (the module stays
// loaded, and its globals with it, while the handle lives).
class FixtureProbe {
 public:
  explicit FixtureProbe(const std::string& path) : library_(ModuleLibrary::open(path)) {}
  int closeCount() const {
    return reinterpret_cast<int (*)()>(library_->symbol("fixtureCloseCount"))();
  }
  FixtureLastCall lastCall() const {
    return *reinterpret_cast<const FixtureLastCall* (*)()>(library_->symbol("fixtureLastCall"))();
  }

 private:
  std::unique_ptr<ModuleLibrary> library_;
};

// Asks the host a question through the fixture, with the effect's record as the caller.
VstIntPtr askHost(Effect& effect, int32_t opcode, int32_t index = 0, VstIntPtr value = 0,
                  float opt = 0.0f) {
  return effect.dispatch(kFixtureAskHost + opcode, index, value, nullptr, opt);
}

// ---------------------------------------------------------------------------------------------
// Entry point names

TEST(HostEntry, PrefersVSTPluginMainOverMain) {
  Module module(TF_FIXTURE_GOOD);
  EXPECT_EQ(module.entryName(), "VSTPluginMain");
  EXPECT_EQ(module.path(), TF_FIXTURE_GOOD);
  auto effect = module.instantiate();
  EXPECT_EQ(effect->record()->uniqueID, kFixtureIdVstPluginMain);
  EXPECT_EQ(effect->record()->magic, kEffectMagic);
  EXPECT_EQ(effect->record()->user, effect.get());
  EXPECT_EQ(effect->modulePath(), TF_FIXTURE_GOOD);
}

TEST(HostEntry, FallsBackToMain) {
  Module module(TF_FIXTURE_MAIN_ONLY);
  EXPECT_EQ(module.entryName(), "main");
  auto effect = module.instantiate();
  EXPECT_EQ(effect->record()->uniqueID, kFixtureIdMain);
}

TEST(HostEntry, BareFileNameMeansTheWorkingDirectory) {
  // Without a slash the system loader would search its library directories instead.
  const std::filesystem::path file(TF_FIXTURE_GOOD);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(file.parent_path());
  try {
    Module module(file.filename().string());
    EXPECT_EQ(module.instantiate()->record()->uniqueID, kFixtureIdVstPluginMain);
  } catch (...) {
    std::filesystem::current_path(previous);
    throw;
  }
  std::filesystem::current_path(previous);
}

// ---------------------------------------------------------------------------------------------
// Load and instantiation errors

struct ErrorCase {
  const char* name;
  std::string path;
  HostError::Kind kind;
  const char* reason;  // a fragment the message must hold besides the path
};
void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class HostErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(HostErrors, ThrowsTheKindWithAMessageNamingThePath) {
  const ErrorCase& c = GetParam();
  try {
    Module module(c.path);
    module.instantiate();
    FAIL() << "no error for " << c.path;
  } catch (const HostError& e) {
    EXPECT_EQ(e.kind(), c.kind) << e.what();
    EXPECT_THAT(e.what(), HasSubstr("'" + c.path + "'"));
    EXPECT_THAT(e.what(), HasSubstr(c.reason));
    EXPECT_EQ(std::strchr(e.what(), '\n'), nullptr) << "not a one-line message: " << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostErrors,
    ::testing::Values(
        ErrorCase{"MissingFile", kMissingFilePath, HostError::Kind::LoadFailed, kMissingFileReason},
        ErrorCase{"NotAModule", __FILE__, HostError::Kind::LoadFailed, "cannot load module"},
        ErrorCase{"Directory", "/", HostError::Kind::LoadFailed, "cannot load module"},
        ErrorCase{"EmptyPath", "", HostError::Kind::LoadFailed, "empty"},
        ErrorCase{"NoEntryPoint", TF_FIXTURE_NO_ENTRY, HostError::Kind::NoEntryPoint,
                  "neither VSTPluginMain nor main"},
        ErrorCase{"EntryReturnedNull", TF_FIXTURE_NULL, HostError::Kind::EntryReturnedNull,
                  "VSTPluginMain returned a null"},
        ErrorCase{"BadMagic", TF_FIXTURE_BAD_MAGIC, HostError::Kind::BadMagic, "0x4a756e6b"}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

TEST(HostErrorsBadMagic, NothingInTheRecordIsCalled) {
  FixtureProbe probe(TF_FIXTURE_BAD_MAGIC);
  Module module(TF_FIXTURE_BAD_MAGIC);
  EXPECT_THROW(module.instantiate(), HostError);
  EXPECT_EQ(probe.closeCount(), 0);
  EXPECT_EQ(probe.lastCall().opcode, 0);
  EXPECT_EQ(probe.lastCall().value, 0);
}

// ---------------------------------------------------------------------------------------------
// The host callback

struct VersionCase {
  const char* name;
  HostOptions options;
  VstIntPtr expected;
};
void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

class HostVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(HostVersion, AnswersBeforeAndAfterTheRecordExists) {
  Module module(TF_FIXTURE_GOOD);
  auto effect = module.instantiate(GetParam().options);
  // Asked with a null record during the entry call, then with the record once it is returned.
  EXPECT_EQ(effect->dispatch(kFixtureVersionAtEntry), GetParam().expected);
  EXPECT_EQ(askHost(*effect, audioMasterVersion), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, HostVersion,
                         ::testing::Values(VersionCase{"Default", HostOptions{}, 2400},
                                           VersionCase{"Custom", HostOptions{2500, false}, 2500},
                                           VersionCase{"CustomRecording", HostOptions{1, true}, 1}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(HostCallback, OtherOpcodesAnswerZero) {
  Module module(TF_FIXTURE_GOOD);
  auto effect = module.instantiate();
  for (int32_t opcode : std::initializer_list<int32_t>{audioMasterAutomate, audioMasterCurrentId,
                                                       audioMasterIdle, 5, 42, -1}) {
    EXPECT_EQ(askHost(*effect, opcode, 1, 1, 0.5f), 0) << "opcode " << opcode;
  }
}

TEST(HostCallback, PinConnectedFollowsTheRecordsInputsAndOutputs) {
  Module module(TF_FIXTURE_GOOD);
  auto effect = module.instantiate();
  ASSERT_EQ(effect->record()->numInputs, 1);
  ASSERT_EQ(effect->record()->numOutputs, 2);
  struct PinCase {
    int32_t pin;
    VstIntPtr direction;  // 0 input, 1 output
    VstIntPtr expected;   // 0 connected
  };
  const PinCase cases[] = {
      {0, 0, 0}, {1, 0, 1},  {-1, 0, 1},              // inputs
      {0, 1, 0}, {1, 1, 0},  {2, 1, 1},  {-1, 1, 1},  // outputs
      {0, 2, 1}, {0, -1, 1},                          // neither
  };
  for (const PinCase& c : cases) {
    EXPECT_EQ(askHost(*effect, audioMasterPinConnected, c.pin, c.direction), c.expected)
        << "pin " << c.pin << " direction " << c.direction;
  }
}

void expectCall(const HostCall& call, int32_t opcode, int32_t index, VstIntPtr value, float opt,
                bool withRecord) {
  EXPECT_EQ(call.opcode, opcode);
  EXPECT_EQ(call.index, index);
  EXPECT_EQ(call.value, value);
  EXPECT_EQ(call.opt, opt);
  EXPECT_EQ(call.withRecord, withRecord);
}

TEST(HostCallback, RecordsEveryCallWhenAsked) {
  Module module(TF_FIXTURE_GOOD);
  HostOptions options;
  options.record = true;
  auto effect = module.instantiate(options);

  // The entry call asks for the version with no record, then for the current id with its record
  // before returning it.
  ASSERT_EQ(effect->calls().size(), 2u);
  expectCall(effect->calls()[0], audioMasterVersion, 0, 0, 0.0f, false);
  expectCall(effect->calls()[1], audioMasterCurrentId, 0, 0, 0.0f, true);

  askHost(*effect, audioMasterAutomate, 3, 7, 0.25f);
  askHost(*effect, 77, -2, -5, -1.5f);
  ASSERT_EQ(effect->calls().size(), 4u);
  expectCall(effect->calls()[2], audioMasterAutomate, 3, 7, 0.25f, true);
  expectCall(effect->calls()[3], 77, -2, -5, -1.5f, true);

  effect->clearCalls();
  EXPECT_TRUE(effect->calls().empty());
  askHost(*effect, audioMasterIdle);
  ASSERT_EQ(effect->calls().size(), 1u);
  expectCall(effect->calls()[0], audioMasterIdle, 0, 0, 0.0f, true);
}

TEST(HostCallback, RecordsNothingByDefault) {
  Module module(TF_FIXTURE_GOOD);
  auto effect = module.instantiate();
  askHost(*effect, audioMasterAutomate, 1, 1, 1.0f);
  EXPECT_TRUE(effect->calls().empty());
}

TEST(HostCallback, EachInstanceAnswersWithItsOwnOptions) {
  Module module(TF_FIXTURE_GOOD);
  auto first = module.instantiate(HostOptions{2100, true});
  auto second = module.instantiate(HostOptions{2500, false});
  auto third = module.instantiate(HostOptions{2400, true});

  EXPECT_EQ(first->dispatch(kFixtureVersionAtEntry), 2100);
  EXPECT_EQ(second->dispatch(kFixtureVersionAtEntry), 2500);
  EXPECT_EQ(askHost(*second, audioMasterVersion), 2500);
  EXPECT_EQ(askHost(*first, audioMasterVersion), 2100);
  askHost(*third, audioMasterAutomate, 9);

  EXPECT_EQ(first->calls().size(), 3u);
  EXPECT_TRUE(second->calls().empty());
  ASSERT_EQ(third->calls().size(), 3u);
  EXPECT_EQ(third->calls()[2].index, 9);
}

// ---------------------------------------------------------------------------------------------
// Effect wrappers

TEST(HostEffect, WrappersSendTheirOpcodeAndArguments) {
  FixtureProbe probe(TF_FIXTURE_GOOD);
  Module module(TF_FIXTURE_GOOD);
  auto effect = module.instantiate();
  struct WrapperCase {
    const char* name;
    std::function<void(Effect&)> call;
    FixtureLastCall expected;
  };
  const WrapperCase cases[] = {
      {"open", [](Effect& e) { e.open(); }, {effOpen, 0, 0, 0.0f}},
      {"setSampleRate",
       [](Effect& e) { e.setSampleRate(48000.0f); },
       {effSetSampleRate, 0, 0, 48000.0f}},
      {"setBlockSize", [](Effect& e) { e.setBlockSize(512); }, {effSetBlockSize, 0, 512, 0.0f}},
      {"resume", [](Effect& e) { e.resume(); }, {effMainsChanged, 0, 1, 0.0f}},
      {"suspend", [](Effect& e) { e.suspend(); }, {effMainsChanged, 0, 0, 0.0f}},
      {"setProgram", [](Effect& e) { e.setProgram(2); }, {effSetProgram, 0, 2, 0.0f}},
      {"program", [](Effect& e) { EXPECT_EQ(e.program(), 2); }, {effGetProgram, 0, 0, 0.0f}},
      {"paramDisplay", [](Effect& e) { e.paramDisplay(3); }, {effGetParamDisplay, 3, 0, 0.0f}},
      {"paramLabel", [](Effect& e) { e.paramLabel(2); }, {effGetParamLabel, 2, 0, 0.0f}},
      {"paramName", [](Effect& e) { e.paramName(1); }, {effGetParamName, 1, 0, 0.0f}},
      {"programName", [](Effect& e) { e.programName(); }, {effGetProgramName, 0, 0, 0.0f}},
      {"setProgramName", [](Effect& e) { e.setProgramName("x"); }, {effSetProgramName, 0, 0, 0.0f}},
  };
  for (const WrapperCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.call(*effect);
    const FixtureLastCall last = probe.lastCall();
    EXPECT_EQ(last.opcode, c.expected.opcode);
    EXPECT_EQ(last.index, c.expected.index);
    EXPECT_EQ(last.value, c.expected.value);
    EXPECT_EQ(last.opt, c.expected.opt);
  }
}

TEST(HostEffect, ParametersAndProcessingReachTheRecordsFunctions) {
  Module module(TF_FIXTURE_GOOD);
  auto effect = module.instantiate();
  effect->setParameter(1, 0.75f);
  effect->setParameter(2, 0.125f);
  EXPECT_EQ(effect->getParameter(1), 0.75f);
  EXPECT_EQ(effect->getParameter(2), 0.125f);
  EXPECT_EQ(effect->getParameter(0), 0.0f);

  float in[3] = {1.0f, -0.5f, 0.25f};
  float left[3] = {1.0f, 1.0f, 1.0f};
  float right[3] = {0.0f, 0.0f, 0.0f};
  float* inputs[] = {in};
  float* outputs[] = {left, right};
  effect->process(inputs, outputs, 3);  // accumulates 2 * input
  EXPECT_THAT(left, ::testing::ElementsAre(3.0f, 0.0f, 1.5f));
  EXPECT_THAT(right, ::testing::ElementsAre(2.0f, -1.0f, 0.5f));
  effect->processReplacing(inputs, outputs, 3);  // overwrites with 2 * input
  EXPECT_THAT(left, ::testing::ElementsAre(2.0f, -1.0f, 0.5f));
  EXPECT_THAT(right, ::testing::ElementsAre(2.0f, -1.0f, 0.5f));
}

// ---------------------------------------------------------------------------------------------
// Texts

TEST(HostText, ReadsTextsUpToTheLimit) {
  Module module(TF_FIXTURE_GOOD);
  auto effect = module.instantiate();
  EXPECT_EQ(effect->paramName(0), "Rate");
  EXPECT_EQ(effect->paramName(1), "ABCDEFGHIJKLMNOPQRSTUVW");  // the limit, terminator included
  EXPECT_EQ(effect->paramName(2), "");
  EXPECT_EQ(effect->paramLabel(0), "Hz");
  effect->setParameter(3, 0.5f);
  EXPECT_EQ(effect->paramDisplay(3), "0.50");
  EXPECT_EQ(effect->programName(), "Init");
  effect->setProgramName("Slow Sweep");
  EXPECT_EQ(effect->programName(), "Slow Sweep");
}

TEST(HostText, SetProgramNamePassesATerminatedCopy) {
  Module module(TF_FIXTURE_GOOD);
  auto effect = module.instantiate();
  // The fixture keeps at most 23 characters; what reaches it must end where the string ends.
  const std::string name("Tape\0Hidden", 11);
  effect->setProgramName(name);
  EXPECT_EQ(effect->programName(), "Tape");
  effect->setProgramName("");
  EXPECT_EQ(effect->programName(), "");
}

struct OverrunCase {
  const char* name;
  int32_t index;
  const char* reason;
};
void PrintTo(const OverrunCase& c, std::ostream* os) { *os << c.name; }

class HostTextOverrun : public ::testing::TestWithParam<OverrunCase> {};

TEST_P(HostTextOverrun, IsReportedWithOpcodeAndIndex) {
  Module module(TF_FIXTURE_OVERRUN);
  auto effect = module.instantiate();
  const OverrunCase& c = GetParam();
  try {
    const std::string text = effect->paramName(c.index);
    FAIL() << "read '" << text << "' without an error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.kind(), HostError::Kind::TextOverrun) << e.what();
    EXPECT_THAT(e.what(), HasSubstr("effGetParamName (opcode 8) index " + std::to_string(c.index)));
    EXPECT_THAT(e.what(), HasSubstr(c.reason));
    EXPECT_THAT(e.what(), HasSubstr(TF_FIXTURE_OVERRUN));
  }
  // The instance stays usable for well-behaved reads.
  EXPECT_EQ(effect->paramLabel(0), "Hz");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostTextOverrun,
    ::testing::Values(OverrunCase{"TerminatorOneBytePast", 0, "wrote past the 24-byte"},
                      OverrunCase{"NoTerminator", 1, "no terminator within the 24-byte"},
                      OverrunCase{"ZeroPaddingPast", 2, "wrote past the 24-byte"},
                      OverrunCase{"LongText", 3, "wrote past the 24-byte"}),
    [](const ::testing::TestParamInfo<OverrunCase>& info) { return std::string(info.param.name); });

TEST(HostText, NothingWrittenIsReported) {
  // An index the fixture has no name for: the buffer comes back as the host filled it.
  Module module(TF_FIXTURE_GOOD);
  auto effect = module.instantiate();
  try {
    effect->paramName(kFixtureParams);
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.kind(), HostError::Kind::TextOverrun);
    EXPECT_THAT(e.what(), HasSubstr("wrote no text"));
  }
}

// ---------------------------------------------------------------------------------------------
// Lifetime

TEST(HostLifetime, DestructionSendsEffCloseOnce) {
  FixtureProbe probe(TF_FIXTURE_GOOD);
  Module module(TF_FIXTURE_GOOD);
  const int before = probe.closeCount();
  auto effect = module.instantiate();
  EXPECT_EQ(probe.closeCount(), before);
  effect.reset();
  EXPECT_EQ(probe.closeCount(), before + 1);
  EXPECT_EQ(probe.lastCall().opcode, effClose);
}

TEST(HostLifetime, CloseSendsEffCloseOnceAndEndsTheInstance) {
  FixtureProbe probe(TF_FIXTURE_GOOD);
  Module module(TF_FIXTURE_GOOD);
  const int before = probe.closeCount();
  auto effect = module.instantiate();
  effect->close();
  EXPECT_EQ(probe.closeCount(), before + 1);
  EXPECT_EQ(effect->record(), nullptr);
  // The fixture has freed its record: nothing may reach it any more.
  EXPECT_THROW(effect->dispatch(effGetProgram), std::logic_error);
  EXPECT_THROW(effect->getParameter(0), std::logic_error);
  EXPECT_THROW(effect->paramName(0), std::logic_error);
  effect->close();
  effect.reset();
  EXPECT_EQ(probe.closeCount(), before + 1);
}

TEST(HostLifetime, AnInstanceKeepsItsModuleLoaded) {
  std::unique_ptr<Effect> effect;
  {
    Module module(TF_FIXTURE_MAIN_ONLY);
    effect = module.instantiate();
  }
  effect->setParameter(0, 0.25f);
  EXPECT_EQ(effect->getParameter(0), 0.25f);
  EXPECT_EQ(effect->paramName(0), "Rate");
  effect.reset();  // effClose runs in the module's code
}

}  // namespace
}  // namespace tfhost
