// The module's entry functions called on a misaligned stack. 32-bit x86 code compiled by GCC
// assumes the stack is 16-byte aligned at every call, but 32-bit hosts (on Windows above all) may
// call with only 4-byte alignment; SSE code that keeps aligned values on the stack would then
// fault or read the wrong bytes. The module is built to realign its stack itself: here every entry
// function is called through a trampoline that leaves the stack pointer 4, 8 or 12 bytes past a
// 16-byte boundary at the call, and each result must equal the same call made normally.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frame/effect_record.h"
#include "host/module_library.h"

#if !defined(__i386__)
#error "these tests are for 32-bit x86 targets"
#endif

// Calls `fn` with `count` 32-bit arguments in cdecl order, after first aligning the stack down to
// 16 bytes and then lowering it by `pad` bytes. The callee's result passes through untouched: eax
// for integers and pointers, the x87 top register for a float, so one body serves both
// declarations.
extern "C" uint32_t tf_call_padded_word(const void* fn, const uint32_t* args, uint32_t count,
                                        uint32_t pad);
extern "C" float tf_call_padded_float(const void* fn, const uint32_t* args, uint32_t count,
                                      uint32_t pad);
// Answers the stack pointer as it was at the call instruction that reached it.
extern "C" uint32_t tf_stack_at_call();

#define TF_STR2(x) #x
#define TF_STR(x) TF_STR2(x)
#define TF_SYM(name) TF_STR(__USER_LABEL_PREFIX__) #name

__asm__(
    ".text\n"
    ".globl " TF_SYM(tf_call_padded_word) "\n"
    ".globl " TF_SYM(tf_call_padded_float) "\n"
    ".globl " TF_SYM(tf_stack_at_call) "\n"
    TF_SYM(tf_call_padded_word) ":\n"
    TF_SYM(tf_call_padded_float) ":\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  movl 8(%ebp), %eax\n"   // fn
    "  movl 12(%ebp), %esi\n"  // args
    "  movl 16(%ebp), %ecx\n"  // count
    "  movl 20(%ebp), %edx\n"  // pad
    "  movl %esp, %ebx\n"      // callee-saved: the stack pointer to return to
    "  andl $-16, %esp\n"
    "  subl %edx, %esp\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%esi,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  call *%eax\n"
    "  movl %ebx, %esp\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n"
    TF_SYM(tf_stack_at_call) ":\n"
    "  leal 4(%esp), %eax\n"
    "  ret\n");

namespace {

// Makes the calls of one instance, either normally or through the trampoline with the stack
// pointer at `misalignment` (mod 16) when the call instruction runs.
class Caller {
 public:
  explicit Caller(int misalignment) : misalignment_(misalignment) {}

  bool direct() const { return misalignment_ == 0; }

  uint32_t stackAtCall(int argumentCount) const {
    const std::vector<uint32_t> args(static_cast<std::size_t>(argumentCount), 0);
    return word(reinterpret_cast<const void*>(&tf_stack_at_call), args);
  }

  AEffect* entry(PluginEntryProc fn, audioMasterCallback host) const {
    if (direct()) return fn(host);
    return reinterpret_cast<AEffect*>(
        word(reinterpret_cast<const void*>(fn), {ptr(reinterpret_cast<const void*>(host))}));
  }

  VstIntPtr dispatch(AEffect* e, int32_t opcode, int32_t index, VstIntPtr value, void* p,
                     float opt) const {
    if (direct()) return e->dispatcher(e, opcode, index, value, p, opt);
    return static_cast<VstIntPtr>(
        word(reinterpret_cast<const void*>(e->dispatcher),
             {ptr(e), bits(opcode), bits(index), bits(value), ptr(p), bits(opt)}));
  }

  void setParameter(AEffect* e, int32_t index, float value) const {
    if (direct()) return e->setParameter(e, index, value);
    word(reinterpret_cast<const void*>(e->setParameter), {ptr(e), bits(index), bits(value)});
  }

  float getParameter(AEffect* e, int32_t index) const {
    if (direct()) return e->getParameter(e, index);
    const std::vector<uint32_t> args{ptr(e), bits(index)};
    return tf_call_padded_float(reinterpret_cast<const void*>(e->getParameter), args.data(),
                                static_cast<uint32_t>(args.size()), pad(args.size()));
  }

  void audio(AEffectProcessProc fn, AEffect* e, float** in, float** out, int32_t frames) const {
    if (direct()) return fn(e, in, out, frames);
    word(reinterpret_cast<const void*>(fn), {ptr(e), ptr(in), ptr(out), bits(frames)});
  }

 private:
  static uint32_t ptr(const void* p) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
  }
  template <typename T>
  static uint32_t bits(T v) {
    static_assert(sizeof(T) == 4);
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
  }

  // Bytes to lower a 16-byte aligned stack by so that, after the arguments are pushed, the stack
  // pointer is `misalignment_` past a 16-byte boundary.
  uint32_t pad(std::size_t argumentCount) const {
    const int below = (misalignment_ + 4 * static_cast<int>(argumentCount)) % 16;
    return static_cast<uint32_t>((16 - below) % 16);
  }

  uint32_t word(const void* fn, const std::vector<uint32_t>& args) const {
    return tf_call_padded_word(fn, args.data(), static_cast<uint32_t>(args.size()),
                               pad(args.size()));
  }

  int misalignment_;
};

VstIntPtr TF_CALLCONV hostCallback(AEffect*, int32_t opcode, int32_t, VstIntPtr, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

// Everything a host could observe of one instance over a short session.
struct Observed {
  std::vector<VstIntPtr> answers;
  std::vector<uint32_t> parameterBits;
  std::vector<std::string> texts;
  std::vector<uint32_t> sampleBits;
};

uint32_t floatBits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

std::string readText(const Caller& call, AEffect* e, int32_t opcode, int32_t index) {
  char text[256] = {};
  call.dispatch(e, opcode, index, 0, text, 0.0f);
  return text;
}

// A session through every entry function: open, rate and block size, texts, parameter changes on
// every index under each sweep shape, a program switch, suspend and resume, and both audio calls
// over a deterministic input, then close.
Observed session(PluginEntryProc entryPoint, const Caller& call) {
  constexpr int32_t kFrames = 512;
  constexpr int kBlocks = 24;
  Observed seen;
  AEffect* e = call.entry(entryPoint, hostCallback);
  if (e == nullptr) return seen;
  seen.answers.push_back(e->magic);
  seen.answers.push_back(call.dispatch(e, effOpen, 0, 0, nullptr, 0.0f));
  call.dispatch(e, effSetSampleRate, 0, 0, nullptr, 44100.0f);
  call.dispatch(e, effSetBlockSize, 0, kFrames, nullptr, 0.0f);
  seen.answers.push_back(call.dispatch(e, effMainsChanged, 0, 1, nullptr, 0.0f));

  std::vector<float> inL(kFrames), inR(kFrames), outL(kFrames), outR(kFrames);
  float* in[2] = {inL.data(), inR.data()};
  float* out[2] = {outL.data(), outR.data()};
  uint32_t noise = 12345;
  for (int block = 0; block < kBlocks; ++block) {
    const int32_t index = block % e->numParams;
    const float value = static_cast<float>((block * 37) % 101) / 100.0f;
    call.setParameter(e, index, value);
    seen.parameterBits.push_back(floatBits(call.getParameter(e, index)));
    seen.texts.push_back(readText(call, e, effGetParamDisplay, index));
    seen.texts.push_back(readText(call, e, effGetParamLabel, index));
    if (block == 8) {
      seen.answers.push_back(call.dispatch(e, effSetProgram, 0, 3, nullptr, 0.0f));
      seen.texts.push_back(readText(call, e, effGetProgramName, 0));
    }
    if (block == 16) {
      call.dispatch(e, effMainsChanged, 0, 0, nullptr, 0.0f);
      call.dispatch(e, effMainsChanged, 0, 1, nullptr, 0.0f);
    }
    for (int32_t i = 0; i < kFrames; ++i) {
      noise = noise * 1664525u + 1013904223u;
      inL[i] = static_cast<float>(static_cast<int32_t>(noise)) * 0x1p-31f;
      inR[i] = static_cast<float>((i % 64) - 32) / 32.0f;
    }
    const bool accumulate = block % 3 == 2;
    for (int32_t i = 0; i < kFrames; ++i)
      outL[i] = outR[i] = accumulate ? 0.25f : 0.0f;
    call.audio(accumulate ? e->process : e->processReplacing, e, in, out, kFrames);
    for (int32_t i = 0; i < kFrames; ++i) {
      seen.sampleBits.push_back(floatBits(outL[i]));
      seen.sampleBits.push_back(floatBits(outR[i]));
    }
  }
  seen.answers.push_back(call.dispatch(e, effClose, 0, 0, nullptr, 0.0f));
  return seen;
}

class MisalignedStack : public ::testing::TestWithParam<int> {
 protected:
  static void SetUpTestSuite() {
    library_ = tfhost::ModuleLibrary::open(TF_MODULE_PATH).release();
    entry_ = reinterpret_cast<PluginEntryProc>(library_->symbol("VSTPluginMain"));
  }
  static void TearDownTestSuite() {
    delete library_;
    library_ = nullptr;
  }
  static tfhost::ModuleLibrary* library_;
  static PluginEntryProc entry_;
};

tfhost::ModuleLibrary* MisalignedStack::library_ = nullptr;
PluginEntryProc MisalignedStack::entry_ = nullptr;

TEST_P(MisalignedStack, TrampolineCallsWithTheStackPointerOffAlignment) {
  const Caller call(GetParam());
  for (int argumentCount : {0, 1, 3, 4, 6})
    EXPECT_EQ(call.stackAtCall(argumentCount) % 16, static_cast<uint32_t>(GetParam()))
        << argumentCount << " arguments";
}

TEST_P(MisalignedStack, EveryEntryFunctionAnswersAsOnAnAlignedStack) {
  ASSERT_NE(entry_, nullptr) << "VSTPluginMain not found in " << TF_MODULE_PATH;
  const Observed expected = session(entry_, Caller(0));
  ASSERT_EQ(expected.answers.size(), 5u);
  EXPECT_EQ(expected.answers.front(), kEffectMagic);

  const Observed misaligned = session(entry_, Caller(GetParam()));
  EXPECT_EQ(misaligned.answers, expected.answers);
  EXPECT_EQ(misaligned.parameterBits, expected.parameterBits);
  EXPECT_EQ(misaligned.texts, expected.texts);
  ASSERT_EQ(misaligned.sampleBits.size(), expected.sampleBits.size());
  EXPECT_TRUE(misaligned.sampleBits == expected.sampleBits) << "the audio differs";
}

INSTANTIATE_TEST_SUITE_P(BytesPastABoundary, MisalignedStack, ::testing::Values(4, 8, 12),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "Esp" + std::to_string(info.param) + "Mod16";
                         });

}  // namespace
