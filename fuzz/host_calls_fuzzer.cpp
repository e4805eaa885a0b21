// libFuzzer target: one host-call sequence per input (fuzz/host_calls.h). A failed check aborts
// with its description, so libFuzzer keeps the input as a crash like any sanitizer finding.
#include <cstdio>
#include <cstdlib>

#include "fuzz/host_calls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string failure = tffuzz::runHostCalls(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "host-call check failed: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
