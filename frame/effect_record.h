// The effect record and the host callback: the binary interface between a host and an effect.
//
// Every host call arrives through the five entry functions stored in the record; each one is a
// trampoline (effect_base.cpp) that finds the effect object through `object` and forwards the call.
// This header is plain data and constants only, so the host layer can share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

// Entry functions use the platform's default convention for plain functions: arguments on the
// stack, removed by the caller. On 32-bit Windows that is cdecl, spelled out so that a project
// default of stdcall could never change it.
#if defined(_WIN32) && !defined(_WIN64)
#define TF_CALLCONV __cdecl
#else
#define TF_CALLCONV
#endif

// On 32-bit x86 a host may call with the stack aligned to only 4 bytes (the Windows convention;
// older Linux code too), while GCC's code keeps 16-byte stack slots for SSE values. The module is
// built to realign the stack in every function that needs it, except the audio loop: the two
// audio entry functions realign it once on the way in, and the code behind them relies on it.
#if defined(__i386__) && defined(__GNUC__)
#define TF_AUDIO_ENTRY __attribute__((force_align_arg_pointer))
#else
#define TF_AUDIO_ENTRY
#endif

// Pointer-sized signed integer: the `value` argument and every dispatcher or callback answer.
using VstIntPtr = std::intptr_t;

struct AEffect;

using audioMasterCallback = VstIntPtr(TF_CALLCONV*)(AEffect* effect, int32_t opcode, int32_t index,
                                                    VstIntPtr value, void* ptr, float opt);
using AEffectDispatcherProc = VstIntPtr(TF_CALLCONV*)(AEffect* effect, int32_t opcode,
                                                      int32_t index, VstIntPtr value, void* ptr,
                                                      float opt);
using AEffectProcessProc = void(TF_CALLCONV*)(AEffect* effect, float** inputs, float** outputs,
                                              int32_t sampleFrames);
using AEffectSetParameterProc = void(TF_CALLCONV*)(AEffect* effect, int32_t index, float value);
using AEffectGetParameterProc = float(TF_CALLCONV*)(AEffect* effect, int32_t index);

// The exported entry point's shape.
using PluginEntryProc = AEffect*(TF_CALLCONV*)(audioMasterCallback host);

// Four ASCII characters packed with the first one in the most significant byte.
constexpr int32_t fourCharCode(char a, char b, char c, char d) {
  return static_cast<int32_t>((static_cast<uint32_t>(static_cast<unsigned char>(a)) << 24) |
                              (static_cast<uint32_t>(static_cast<unsigned char>(b)) << 16) |
                              (static_cast<uint32_t>(static_cast<unsigned char>(c)) << 8) |
                              static_cast<uint32_t>(static_cast<unsigned char>(d)));
}

constexpr int32_t kEffectMagic = fourCharCode('V', 's', 't', 'P');
constexpr int32_t kNoEffectId = fourCharCode('N', 'o', 'E', 'f');
constexpr int32_t kIdentifyAnswer = fourCharCode('N', 'v', 'E', 'f');

// The host-facing record. 144 bytes on 32-bit targets, 192 on 64-bit ones.
struct AEffect {
  int32_t magic;
  AEffectDispatcherProc dispatcher;
  AEffectProcessProc process;
  AEffectSetParameterProc setParameter;
  AEffectGetParameterProc getParameter;
  int32_t numPrograms;
  int32_t numParams;
  int32_t numInputs;
  int32_t numOutputs;
  int32_t flags;
  VstIntPtr resvd1;
  VstIntPtr resvd2;
  int32_t initialDelay;
  int32_t realQualities;
  int32_t offQualities;
  float ioRatio;
  void* object;
  void* user;
  int32_t uniqueID;
  int32_t version;
  AEffectProcessProc processReplacing;
  // Reserved and zero. A newer host may read a function pointer from its start.
  char future[sizeof(void*) == 8 ? 64 : 60];
};

static_assert(std::is_standard_layout_v<AEffect>);
#if INTPTR_MAX == INT64_MAX
static_assert(offsetof(AEffect, magic) == 0);
static_assert(offsetof(AEffect, dispatcher) == 8);
static_assert(offsetof(AEffect, process) == 16);
static_assert(offsetof(AEffect, setParameter) == 24);
static_assert(offsetof(AEffect, getParameter) == 32);
static_assert(offsetof(AEffect, numPrograms) == 40);
static_assert(offsetof(AEffect, numParams) == 44);
static_assert(offsetof(AEffect, numInputs) == 48);
static_assert(offsetof(AEffect, numOutputs) == 52);
static_assert(offsetof(AEffect, flags) == 56);
static_assert(offsetof(AEffect, resvd1) == 64);
static_assert(offsetof(AEffect, resvd2) == 72);
static_assert(offsetof(AEffect, initialDelay) == 80);
static_assert(offsetof(AEffect, realQualities) == 84);
static_assert(offsetof(AEffect, offQualities) == 88);
static_assert(offsetof(AEffect, ioRatio) == 92);
static_assert(offsetof(AEffect, object) == 96);
static_assert(offsetof(AEffect, user) == 104);
static_assert(offsetof(AEffect, uniqueID) == 112);
static_assert(offsetof(AEffect, version) == 116);
static_assert(offsetof(AEffect, processReplacing) == 120);
static_assert(offsetof(AEffect, future) == 128);
static_assert(sizeof(AEffect) == 192);
#elif INTPTR_MAX == INT32_MAX
static_assert(offsetof(AEffect, magic) == 0);
static_assert(offsetof(AEffect, dispatcher) == 4);
static_assert(offsetof(AEffect, process) == 8);
static_assert(offsetof(AEffect, setParameter) == 12);
static_assert(offsetof(AEffect, getParameter) == 16);
static_assert(offsetof(AEffect, numPrograms) == 20);
static_assert(offsetof(AEffect, numParams) == 24);
static_assert(offsetof(AEffect, numInputs) == 28);
static_assert(offsetof(AEffect, numOutputs) == 32);
static_assert(offsetof(AEffect, flags) == 36);
static_assert(offsetof(AEffect, resvd1) == 40);
static_assert(offsetof(AEffect, resvd2) == 44);
static_assert(offsetof(AEffect, initialDelay) == 48);
static_assert(offsetof(AEffect, realQualities) == 52);
static_assert(offsetof(AEffect, offQualities) == 56);
static_assert(offsetof(AEffect, ioRatio) == 60);
static_assert(offsetof(AEffect, object) == 64);
static_assert(offsetof(AEffect, user) == 68);
static_assert(offsetof(AEffect, uniqueID) == 72);
static_assert(offsetof(AEffect, version) == 76);
static_assert(offsetof(AEffect, processReplacing) == 80);
static_assert(offsetof(AEffect, future) == 84);
static_assert(sizeof(AEffect) == 144);
#else
#error "the effect record is defined for 32-bit and 64-bit targets only"
#endif

// Bits of AEffect::flags.
enum : int32_t {
  effFlagsHasEditor = 1,
  effFlagsHasClip = 2,
  effFlagsHasVu = 4,
  effFlagsCanMono = 8,
  effFlagsCanReplacing = 16,
  effFlagsProgramChunks = 32,
};

// Opcodes a host sends to the effect's dispatcher.
enum : int32_t {
  effOpen = 0,
  effClose = 1,
  effSetProgram = 2,
  effGetProgram = 3,
  effSetProgramName = 4,
  effGetProgramName = 5,
  effGetParamLabel = 6,
  effGetParamDisplay = 7,
  effGetParamName = 8,
  effGetVu = 9,
  effSetSampleRate = 10,
  effSetBlockSize = 11,
  effMainsChanged = 12,
  effEditGetRect = 13,
  effEditOpen = 14,
  effEditClose = 15,
  effEditIdle = 19,
  effIdentify = 22,
  effGetChunk = 23,
  effSetChunk = 24,
  effCanBeAutomated = 26,
};

// Opcodes the effect sends to the host callback.
enum : int32_t {
  audioMasterAutomate = 0,
  audioMasterVersion = 1,
  audioMasterCurrentId = 2,
  audioMasterIdle = 3,
  audioMasterPinConnected = 4,
};

// The five entry functions stored in every record (effect_record.cpp). Each finds the effect
// object through the record's `object` field and forwards to its virtual operation.
VstIntPtr TF_CALLCONV dispatcherEntry(AEffect* effect, int32_t opcode, int32_t index,
                                      VstIntPtr value, void* ptr, float opt);
void TF_CALLCONV TF_AUDIO_ENTRY processEntry(AEffect* effect, float** inputs, float** outputs,
                                             int32_t sampleFrames);
void TF_CALLCONV setParameterEntry(AEffect* effect, int32_t index, float value);
float TF_CALLCONV getParameterEntry(AEffect* effect, int32_t index);
void TF_CALLCONV TF_AUDIO_ENTRY processReplacingEntry(AEffect* effect, float** inputs,
                                                      float** outputs, int32_t sampleFrames);
