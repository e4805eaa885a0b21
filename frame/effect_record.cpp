#include "frame/effect_record.h"

#include "frame/effect_base.h"

namespace {
EffectBase* owner(AEffect* effect) { return static_cast<EffectBase*>(effect->object); }
}  // namespace

VstIntPtr TF_CALLCONV dispatcherEntry(AEffect* effect, int32_t opcode, int32_t index,
                                      VstIntPtr value, void* ptr, float opt) {
  EffectBase* object = owner(effect);
  if (opcode != effClose) return object->dispatcher(opcode, index, value, ptr, opt);
  // Let the effect run its close(), then end it. The record lives inside the object, so it is
  // gone too: the host must not use it after this call.
  object->dispatcher(opcode, index, value, ptr, opt);
  delete object;
  return 1;
}

void TF_CALLCONV TF_AUDIO_ENTRY processEntry(AEffect* effect, float** inputs, float** outputs,
                                             int32_t sampleFrames) {
  owner(effect)->process(inputs, outputs, sampleFrames);
}

void TF_CALLCONV setParameterEntry(AEffect* effect, int32_t index, float value) {
  owner(effect)->setParameter(index, value);
}

float TF_CALLCONV getParameterEntry(AEffect* effect, int32_t index) {
  return owner(effect)->getParameter(index);
}

void TF_CALLCONV TF_AUDIO_ENTRY processReplacingEntry(AEffect* effect, float** inputs,
                                                      float** outputs, int32_t sampleFrames) {
  owner(effect)->processReplacing(inputs, outputs, sampleFrames);
}
