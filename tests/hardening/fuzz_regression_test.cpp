// Every input kept for the host-call fuzzer runs here on each test run, on the effect linked into
// this program (with the sanitizers in the asan-ubsan build): the seed corpus
// (fuzz/corpus/host_calls/) and each input that once failed (fuzz/regressions/host_calls/). A
// failure prints the calls the input decodes to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/host_calls.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> inputsIn(const char* set) {
  std::vector<std::string> paths;
  const fs::path folder = fs::path(TF_FUZZ_INPUTS) / set / "host_calls";
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.is_regular_file()) paths.push_back(entry.path().string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::vector<std::string> keptInputs() {
  std::vector<std::string> paths = inputsIn("corpus");
  for (const std::string& path : inputsIn("regressions"))
    paths.push_back(path);
  return paths;
}

std::string runFile(const std::string& path, std::string* trace) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  return tffuzz::runHostCalls(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), trace);
}

TEST(FuzzInputs, SeedCorpusIsFound) { EXPECT_GE(inputsIn("corpus").size(), 5u); }

class FuzzInput : public ::testing::TestWithParam<std::string> {};

TEST_P(FuzzInput, EveryCheckHolds) {
  std::string trace;
  const std::string failure = runFile(GetParam(), &trace);
  EXPECT_EQ(failure, "") << "calls:\n" << trace;
}

INSTANTIATE_TEST_SUITE_P(, FuzzInput, ::testing::ValuesIn(keptInputs()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           const fs::path path(info.param);
                           std::string name = path.parent_path().parent_path().filename().string() +
                                              "_" + path.filename().string();
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
