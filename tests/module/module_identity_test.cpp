// The built module as a host first meets it: its exported symbols, its entry point's answers to
// the host, and the identity in the record it returns.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/module_library.h"
#include "tests/module/module_harness.h"

namespace tftest {
namespace {

using tfhost::HostError;
using tfhost::HostOptions;

TEST(ModuleIdentity, RecordDescribesAStereoEffectWithSixteenProgramsAndEightParameters) {
  auto effect = newEffect();
  const AEffect* record = effect->record();
  EXPECT_EQ(flangerModule().entryName(), "VSTPluginMain");
  EXPECT_EQ(record->magic, fourCharCode('V', 's', 't', 'P'));
  EXPECT_EQ(record->numInputs, 2);
  EXPECT_EQ(record->numOutputs, 2);
  EXPECT_EQ(record->numPrograms, 16);
  EXPECT_EQ(record->numParams, 8);
  EXPECT_EQ(record->uniqueID, 0x50683632);  // 'Ph62'
  EXPECT_EQ(record->flags, 24);             // can mono, can replace
  EXPECT_EQ(record->version, 1);
  EXPECT_EQ(record->initialDelay, 0);
  EXPECT_NE(record->process, nullptr);
  EXPECT_NE(record->processReplacing, nullptr);
  EXPECT_EQ(effect->program(), 0);
}

TEST(ModuleIdentity, InstancesAreIndependent) {
  auto first = newEffect();
  auto second = newEffect();
  EXPECT_NE(first->record(), second->record());
  first->setParameter(kSend, 0.3f);
  first->setProgram(4);
  EXPECT_EQ(second->getParameter(kSend), 1.0f);
  EXPECT_EQ(second->program(), 0);
}

// ---------------------------------------------------------------------------------------------
// Exported symbols

TEST(ModuleExports, NmListsExactlyMainAndVSTPluginMainAtOneAddress) {
#if defined(_WIN32)
  GTEST_SKIP() << "nm -D reads ELF modules; a DLL's exports are checked elsewhere";
#else
  const std::string nm = TF_NM;
  if (nm.empty()) GTEST_SKIP() << "nm was not found when the tests were configured";
  const std::string command = "'" + nm + "' -D --defined-only '" + TF_MODULE_PATH + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr) << command;
  std::string listing;
  char chunk[512];
  while (std::fgets(chunk, sizeof chunk, pipe) != nullptr)
    listing += chunk;
  ASSERT_EQ(pclose(pipe), 0) << command << "\n" << listing;

  // Lines read "<address> <type> <name>".
  std::map<std::string, std::string> addressOf;
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) addressOf[name] = address;
  }
  std::vector<std::string> names;
  for (const auto& entry : addressOf)
    names.push_back(entry.first);
  EXPECT_THAT(names, ::testing::UnorderedElementsAre("main", "VSTPluginMain")) << listing;
  EXPECT_EQ(addressOf["main"], addressOf["VSTPluginMain"]) << listing;
#endif
}

TEST(ModuleExports, BothNamesResolveToTheSameFunction) {
  const auto library = tfhost::ModuleLibrary::open(TF_MODULE_PATH);
  void* main = library->symbol("main");
  void* pluginMain = library->symbol("VSTPluginMain");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main, pluginMain);
}

// ---------------------------------------------------------------------------------------------
// The entry point and the host's answer to audioMasterVersion

// A bare host callback for calling the entry points directly: answers audioMasterVersion with
// gVersion and keeps what it was asked.
struct RawCall {
  AEffect* record;
  int32_t opcode;
};
std::vector<RawCall> gCalls;
VstIntPtr gVersion = 2400;

VstIntPtr TF_CALLCONV rawHost(AEffect* record, int32_t opcode, int32_t, VstIntPtr, void*, float) {
  gCalls.push_back({record, opcode});
  return opcode == audioMasterVersion ? gVersion : 0;
}

TEST(ModuleEntry, EachNameCreatesAnEffectAfterAskingTheHostVersion) {
  const auto library = tfhost::ModuleLibrary::open(TF_MODULE_PATH);
  for (const char* name : {"main", "VSTPluginMain"}) {
    SCOPED_TRACE(name);
    const auto entry = reinterpret_cast<PluginEntryProc>(library->symbol(name));
    ASSERT_NE(entry, nullptr);
    gCalls.clear();
    gVersion = 2400;
    AEffect* record = entry(&rawHost);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->magic, fourCharCode('V', 's', 't', 'P'));
    EXPECT_EQ(record->uniqueID, 0x50683632);
    ASSERT_FALSE(gCalls.empty());
    EXPECT_EQ(gCalls[0].record, nullptr);
    EXPECT_EQ(gCalls[0].opcode, audioMasterVersion);
    record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);
  }
}

TEST(ModuleEntry, HostVersionZeroOrNoHostGivesNull) {
  const auto library = tfhost::ModuleLibrary::open(TF_MODULE_PATH);
  for (const char* name : {"main", "VSTPluginMain"}) {
    SCOPED_TRACE(name);
    const auto entry = reinterpret_cast<PluginEntryProc>(library->symbol(name));
    ASSERT_NE(entry, nullptr);
    gCalls.clear();
    gVersion = 0;
    EXPECT_EQ(entry(&rawHost), nullptr);
    // The version question is the only call: nothing was created that could call back.
    ASSERT_EQ(gCalls.size(), 1u);
    EXPECT_EQ(gCalls[0].opcode, audioMasterVersion);
    EXPECT_EQ(entry(nullptr), nullptr);
  }
  gVersion = 2400;
}

TEST(ModuleEntry, HostLayerReportsTheNullOfAVersionZeroHost) {
  HostOptions options;
  options.version = 0;
  try {
    flangerModule().instantiate(options);
    FAIL() << "an effect was created for a host answering version 0";
  } catch (const HostError& error) {
    EXPECT_EQ(error.kind(), HostError::Kind::EntryReturnedNull) << error.what();
  }
}

TEST(ModuleEntry, OldHostVersionsStillGetAnEffect) {
  for (VstIntPtr version : {1, 2, 1000, 2400, -1}) {
    SCOPED_TRACE(version);
    HostOptions options;
    options.version = version;
    EXPECT_NE(flangerModule().instantiate(options)->record(), nullptr);
  }
}

}  // namespace
}  // namespace tftest
