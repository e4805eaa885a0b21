// The audio path allocates nothing: every allocation the program makes while an audio call runs is
// counted, through a replaced global operator new and, on glibc, replaced malloc family functions
// (which also see the module's own operator new, linked into it from a static C++ runtime), across
// blocks of every size from 1 to 4096 frames, both audio calls, and parameter, program and
// suspend/resume changes between the blocks.
//
// This program replaces the allocator, so it is built without sanitizers and left out of the
// valgrind run.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "flanger/tempo_flanger.h"
#include "host/host.h"

#if defined(_WIN32)
#include <malloc.h>  // _aligned_malloc, _aligned_free
#endif

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};

void noteAllocation() {
  if (gCounting.load(std::memory_order_relaxed)) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace

#if defined(__GLIBC__)
// glibc's own allocator under its internal names; the replacements below forward to it.
extern "C" {
void* __libc_malloc(std::size_t size);
void __libc_free(void* p);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void* __libc_valloc(std::size_t size);
void* __libc_pvalloc(std::size_t size);

void* malloc(std::size_t size) {
  noteAllocation();
  return __libc_malloc(size);
}
void free(void* p) { __libc_free(p); }
void* calloc(std::size_t count, std::size_t size) {
  noteAllocation();
  return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
  noteAllocation();
  return __libc_realloc(p, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  noteAllocation();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  noteAllocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  noteAllocation();
  if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* p = __libc_memalign(alignment, size);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}
void* valloc(std::size_t size) {
  noteAllocation();
  return __libc_valloc(size);
}
void* pvalloc(std::size_t size) {
  noteAllocation();
  return __libc_pvalloc(size);
}
}

namespace {
constexpr bool kMallocCounted = true;
void* rawAllocate(std::size_t size) { return __libc_malloc(size == 0 ? 1 : size); }
void* rawAllocateAligned(std::size_t size, std::size_t alignment) {
  return __libc_memalign(alignment, size == 0 ? 1 : size);
}
void rawFree(void* p) { __libc_free(p); }
}  // namespace
#else
namespace {
constexpr bool kMallocCounted = false;
void* rawAllocate(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }
void* rawAllocateAligned(std::size_t size, std::size_t alignment) {
#if defined(_WIN32)
  return _aligned_malloc(size == 0 ? 1 : size, alignment);
#else
  return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
#endif
}
void rawFree(void* p) { std::free(p); }
void rawFreeAligned(void* p) {
#if defined(_WIN32)
  _aligned_free(p);
#else
  std::free(p);
#endif
}
}  // namespace
#endif

#if defined(__GLIBC__)
namespace {
void rawFreeAligned(void* p) { __libc_free(p); }
}  // namespace
#endif

// The replaced global allocation functions: each counts, then takes memory from the C allocator
// directly (so that an operator new is counted once, not again as a malloc). GCC sees the free of
// memory that an operator new returned once both are inlined into a caller: that pairing is this
// allocator's design.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  noteAllocation();
  if (void* p = rawAllocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  noteAllocation();
  if (void* p = rawAllocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  noteAllocation();
  return rawAllocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  noteAllocation();
  return rawAllocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  noteAllocation();
  if (void* p = rawAllocateAligned(size, static_cast<std::size_t>(alignment))) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  noteAllocation();
  if (void* p = rawAllocateAligned(size, static_cast<std::size_t>(alignment))) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  noteAllocation();
  return rawAllocateAligned(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  noteAllocation();
  return rawAllocateAligned(size, static_cast<std::size_t>(alignment));
}
void operator delete(void* p) noexcept { rawFree(p); }
void operator delete[](void* p) noexcept { rawFree(p); }
void operator delete(void* p, std::size_t) noexcept { rawFree(p); }
void operator delete[](void* p, std::size_t) noexcept { rawFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { rawFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { rawFree(p); }
void operator delete(void* p, std::align_val_t) noexcept { rawFreeAligned(p); }
void operator delete[](void* p, std::align_val_t) noexcept { rawFreeAligned(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { rawFreeAligned(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { rawFreeAligned(p); }

namespace {

// Allocations made anywhere in the program while `call` runs.
long allocationsDuring(const std::function<void()>& call) {
  gAllocations.store(0);
  gCounting.store(true);
  call();
  gCounting.store(false);
  return gAllocations.load();
}

VstIntPtr TF_CALLCONV hostCallback(AEffect*, int32_t opcode, int32_t, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

// An effect to measure: the flanger linked into this program, or the built module loaded as a
// host loads it.
class AudioPathSource {
 public:
  virtual ~AudioPathSource() = default;
  virtual AEffect* record() = 0;
};

class LinkedEffect : public AudioPathSource {
 public:
  LinkedEffect() : record_(createEffect(&hostCallback)) {}
  ~LinkedEffect() override {
    if (record_) record_->dispatcher(record_, effClose, 0, 0, nullptr, 0.0f);
  }
  AEffect* record() override { return record_; }

 private:
  AEffect* record_;
};

class ModuleEffect : public AudioPathSource {
 public:
  ModuleEffect() : module_(TF_MODULE_PATH), effect_(module_.instantiate()) {}
  AEffect* record() override { return effect_->record(); }

 private:
  tfhost::Module module_;
  std::unique_ptr<tfhost::Effect> effect_;
};

enum class Source { kLinked, kModule };

std::unique_ptr<AudioPathSource> makeSource(Source source) {
  if (source == Source::kLinked) return std::make_unique<LinkedEffect>();
  return std::make_unique<ModuleEffect>();
}

// What a host may do between two blocks: every parameter across its range (each shape, Stereo off
// and on, the sweep off and at its narrowest), program switches, suspend and resume.
void changeBetweenBlocks(AEffect* e, int32_t block) {
  static const float kValues[] = {0.0f, 1.0f, 0.5f, 0.01f, 0.0100001f, 0.02f, 0.25f, 0.75f, 0.4f};
  const int32_t index = block % kNumParams;
  const float value = kValues[(block / kNumParams) % (sizeof kValues / sizeof kValues[0])];
  e->setParameter(e, index, value);
  if (block % 97 == 0) e->dispatcher(e, effSetProgram, 0, (block / 97) % kNumPrograms, nullptr, 0);
  if (block % 251 == 0) {
    e->dispatcher(e, effMainsChanged, 0, 0, nullptr, 0.0f);
    e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
  }
}

class AudioPathAllocations : public ::testing::TestWithParam<Source> {
 protected:
  void SetUp() override {
    if (GetParam() == Source::kModule && !kMallocCounted) {
      GTEST_SKIP() << "the module's allocator is its own here: only malloc replacement reaches it";
    }
  }
};

// The counter sees what the effect allocates outside the audio path: creating it, and resuming at
// a new sample rate (its sweep tables are rebuilt for the rate). Without this, a zero below could
// mean that nothing is counted.
TEST_P(AudioPathAllocations, CounterSeesTheEffectsOwnAllocations) {
  std::unique_ptr<AudioPathSource> source;
  EXPECT_GT(allocationsDuring([&] { source = makeSource(GetParam()); }), 0);
  AEffect* e = source->record();
  ASSERT_NE(e, nullptr);
  e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
  EXPECT_GT(allocationsDuring([&] { e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f); }), 0);
}

TEST_P(AudioPathAllocations, NoneInBlocksOfEverySizeAcrossChanges) {
  std::unique_ptr<AudioPathSource> source = makeSource(GetParam());
  AEffect* e = source->record();
  ASSERT_NE(e, nullptr);
  e->dispatcher(e, effSetSampleRate, 0, 0, nullptr, 44100.0f);
  e->dispatcher(e, effSetBlockSize, 0, 4096, nullptr, 0.0f);
  e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);

  constexpr std::size_t kLargest = 4096;
  std::vector<float> in[2] = {std::vector<float>(kLargest), std::vector<float>(kLargest)};
  std::vector<float> out[2] = {std::vector<float>(kLargest), std::vector<float>(kLargest)};
  uint32_t noise = 1;
  for (std::size_t i = 0; i < kLargest; ++i) {
    noise = noise * 1664525u + 1013904223u;
    in[0][i] = static_cast<float>(static_cast<int32_t>(noise) >> 8) / 8388608.0f;
    in[1][i] = -in[0][i];
  }
  float* inputs[2] = {in[0].data(), in[1].data()};
  float* outputs[2] = {out[0].data(), out[1].data()};

  long total = 0;
  int32_t firstBlock = 0;
  for (int32_t frames = 1; frames <= static_cast<int32_t>(kLargest); ++frames) {
    changeBetweenBlocks(e, frames);
    long during = allocationsDuring([&] {
      e->processReplacing(e, inputs, outputs, frames);
      e->process(e, inputs, outputs, frames);
    });
    out[0] = in[0];
    out[1] = in[1];
    during += allocationsDuring([&] { e->processReplacing(e, outputs, outputs, frames); });
    if (during != 0 && firstBlock == 0) firstBlock = frames;
    total += during;
  }
  EXPECT_EQ(total, 0) << "first in the blocks of " << firstBlock << " frames";
}

INSTANTIATE_TEST_SUITE_P(, AudioPathAllocations,
                         ::testing::Values(Source::kLinked, Source::kModule),
                         [](const ::testing::TestParamInfo<Source>& info) {
                           return std::string(info.param == Source::kLinked ? "Linked" : "Module");
                         });

}  // namespace
