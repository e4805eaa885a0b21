#include "frame/effect_base.h"

#include <cstring>

EffectBase::EffectBase(audioMasterCallback host, int32_t numPrograms, int32_t numParams)
    : sampleRate(44100.0f),
      host(host),
      numPrograms(numPrograms),
      numParams(numParams),
      curProgram(0),
      blockSize(1024) {
  std::memset(&effect, 0, sizeof(effect));
  effect.magic = kEffectMagic;
  effect.dispatcher = dispatcherEntry;
  effect.process = processEntry;
  effect.setParameter = setParameterEntry;
  effect.getParameter = getParameterEntry;
  effect.processReplacing = processReplacingEntry;
  effect.numPrograms = numPrograms;
  effect.numParams = numParams;
  effect.numInputs = 1;
  effect.numOutputs = 2;
  effect.flags = 0;
  effect.ioRatio = 1.0f;
  effect.object = this;
  effect.user = nullptr;
  effect.uniqueID = kNoEffectId;
  effect.version = 1;
}

EffectBase::~EffectBase() = default;

void EffectBase::setParameter(int32_t, float) {}
float EffectBase::getParameter(int32_t) { return 0.0f; }

void EffectBase::setParameterAndNotify(int32_t index, float value) {
  setParameter(index, value);
  if (host) host(&effect, audioMasterAutomate, index, 0, nullptr, value);
}

void EffectBase::processReplacing(float**, float**, int32_t) {}

VstIntPtr EffectBase::dispatcher(int32_t opcode, int32_t index, VstIntPtr value, void* ptr,
                                 float opt) {
  // Compared unsigned, so negative opcodes land in the default branch. Text opcodes without a
  // buffer do nothing.
  switch (static_cast<uint32_t>(opcode)) {
    case effOpen:
      open();
      return 0;
    case effClose:
      close();
      return 0;
    case effSetProgram:
      // A negative program number would index outside the bank: ignored like one too large.
      if (value >= 0 && value < numPrograms) setProgram(static_cast<int32_t>(value));
      return 0;
    case effGetProgram:
      return getProgram();
    case effSetProgramName:
      if (ptr) setProgramName(static_cast<char*>(ptr));
      return 0;
    case effGetProgramName:
      if (ptr) getProgramName(static_cast<char*>(ptr));
      return 0;
    case effGetParamLabel:
      if (ptr) getParamLabel(index, static_cast<char*>(ptr));
      return 0;
    case effGetParamDisplay:
      if (ptr) getParamDisplay(index, static_cast<char*>(ptr));
      return 0;
    case effGetParamName:
      if (ptr) getParamName(index, static_cast<char*>(ptr));
      return 0;
    case effGetVu:
      return truncToInt32(static_cast<double>(getVu()) * 32767.0);
    case effSetSampleRate:
      setSampleRate(opt);
      return 0;
    case effSetBlockSize:
      setBlockSize(static_cast<int32_t>(value));
      return 0;
    case effMainsChanged:
      if (value == 0) {
        suspend();
      } else {
        resume();
      }
      return 0;
    case effEditGetRect:
      return editor ? editor->getRect(ptr) : 0;
    case effEditOpen:
      return editor ? editor->open(ptr) : 0;
    case effEditClose:
      if (editor) editor->close();
      return 0;
    case effEditIdle:
      if (editor) editor->idle();
      return 0;
    case effIdentify:
      return kIdentifyAnswer;
    case effGetChunk:
      return getChunk(static_cast<void**>(ptr), index != 0);
    case effSetChunk:
      return setChunk(ptr, static_cast<int32_t>(value), index != 0);
    case effCanBeAutomated:
      // Hosts drop recorded automation of parameters that answer 0 here.
      return index >= 0 && index < numParams ? 1 : 0;
    default:
      return 0;
  }
}

void EffectBase::open() {}
void EffectBase::close() {}
int32_t EffectBase::getProgram() { return curProgram; }
void EffectBase::setProgram(int32_t program) { curProgram = program; }
void EffectBase::setProgramName(char* name) { *name = 0; }
void EffectBase::getProgramName(char* name) { *name = 0; }
void EffectBase::getParamLabel(int32_t, char* label) { *label = 0; }
void EffectBase::getParamDisplay(int32_t, char* text) { *text = 0; }
void EffectBase::getParamName(int32_t, char* text) { *text = 0; }
float EffectBase::getVu() { return 0.0f; }
int32_t EffectBase::getChunk(void**, bool) { return 0; }
int32_t EffectBase::setChunk(void*, int32_t, bool) { return 0; }
void EffectBase::setSampleRate(float rate) { sampleRate = rate; }
void EffectBase::setBlockSize(int32_t size) { blockSize = size; }
void EffectBase::suspend() {}
void EffectBase::resume() {}
void EffectBase::setUniqueID(int32_t id) { effect.uniqueID = id; }
void EffectBase::setNumInputs(int32_t n) { effect.numInputs = n; }
void EffectBase::setNumOutputs(int32_t n) { effect.numOutputs = n; }

void EffectBase::setFlag(int32_t bit, bool state) {
  if (state) {
    effect.flags |= bit;
  } else {
    effect.flags &= ~bit;
  }
}

void EffectBase::setHasVu(bool state) { setFlag(effFlagsHasVu, state); }
void EffectBase::setHasClip(bool state) { setFlag(effFlagsHasClip, state); }
void EffectBase::setCanMono(bool state) { setFlag(effFlagsCanMono, state); }
void EffectBase::setCanReplacing(bool state) { setFlag(effFlagsCanReplacing, state); }
void EffectBase::setProgramChunks(bool state) { setFlag(effFlagsProgramChunks, state); }
void EffectBase::setRealQualities(int32_t n) { effect.realQualities = n; }
void EffectBase::setOffQualities(int32_t n) { effect.offQualities = n; }
void EffectBase::setInitialDelay(int32_t n) { effect.initialDelay = n; }
float EffectBase::getSampleRate() { return sampleRate; }
int32_t EffectBase::getBlockSize() { return blockSize; }

VstIntPtr EffectBase::callHost(int32_t opcode, int32_t index, VstIntPtr value, float opt) {
  return host(&effect, opcode, index, value, nullptr, opt);
}

int32_t EffectBase::hostVersion() {
  if (!host) return 1;
  const VstIntPtr answer = callHost(audioMasterVersion, 0, 0, 0.0f);
  return answer == 0 ? 1 : static_cast<int32_t>(answer);
}

int32_t EffectBase::hostCurrentId() {
  return host ? static_cast<int32_t>(callHost(audioMasterCurrentId, 0, 0, 0.0f)) : 0;
}

int32_t EffectBase::hostIdle() {
  return host ? static_cast<int32_t>(callHost(audioMasterIdle, 0, 0, 0.0f)) : 0;
}

bool EffectBase::inputPinConnected(int32_t input) {
  return host ? callHost(audioMasterPinConnected, input, 0, 0.0f) == 0 : true;
}

bool EffectBase::outputPinConnected(int32_t output) {
  return host ? callHost(audioMasterPinConnected, output, 1, 0.0f) == 0 : true;
}
