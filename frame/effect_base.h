// The base class of every effect: owns the host-facing record, keeps the host-facing state, turns
// opcodes into calls of its virtual operations, and offers setters, host queries and value-to-text
// conversions. A derived effect overrides what it needs; everything else keeps its default.
//
// Threads: the host may call the dispatcher, the parameter entries and the audio entries from
// different threads. Nothing here locks; ordering between those calls is the host's.
#pragma once

#include <cstdint>
#include <memory>

#include "frame/effect_record.h"

// An editor view. No effect of this product creates one; the dispatcher forwards the editor
// opcodes to it when one is held.
class EffectEditor {
 public:
  virtual ~EffectEditor() = default;
  virtual int32_t getRect(void* ptr) = 0;
  virtual int32_t open(void* ptr) = 0;
  virtual void close() = 0;
  virtual void idle() = 0;
};

class EffectBase {
 public:
  EffectBase(audioMasterCallback host, int32_t numPrograms, int32_t numParams);
  virtual ~EffectBase();
  EffectBase(const EffectBase&) = delete;
  EffectBase& operator=(const EffectBase&) = delete;

  virtual void setParameter(int32_t index, float value);
  virtual float getParameter(int32_t index);
  virtual void setParameterAndNotify(int32_t index, float value);
  virtual void process(float** inputs, float** outputs, int32_t sampleFrames) = 0;
  virtual void processReplacing(float** inputs, float** outputs, int32_t sampleFrames);
  virtual VstIntPtr dispatcher(int32_t opcode, int32_t index, VstIntPtr value, void* ptr,
                               float opt);
  virtual void open();
  virtual void close();
  virtual int32_t getProgram();
  virtual void setProgram(int32_t program);
  virtual void setProgramName(char* name);
  virtual void getProgramName(char* name);
  virtual void getParamLabel(int32_t index, char* label);
  virtual void getParamDisplay(int32_t index, char* text);
  virtual void getParamName(int32_t index, char* text);
  virtual float getVu();
  virtual int32_t getChunk(void** data, bool isPreset);
  virtual int32_t setChunk(void* data, int32_t byteSize, bool isPreset);
  virtual void setSampleRate(float rate);
  virtual void setBlockSize(int32_t size);
  virtual void suspend();
  virtual void resume();
  virtual void setUniqueID(int32_t id);
  virtual void setNumInputs(int32_t n);
  virtual void setNumOutputs(int32_t n);
  virtual void setHasVu(bool state);
  virtual void setHasClip(bool state);
  virtual void setCanMono(bool state);
  virtual void setCanReplacing(bool state);
  virtual void setProgramChunks(bool state);
  virtual void setRealQualities(int32_t n);
  virtual void setOffQualities(int32_t n);
  virtual void setInitialDelay(int32_t n);
  virtual float getSampleRate();
  virtual int32_t getBlockSize();
  virtual int32_t hostVersion();
  virtual int32_t hostCurrentId();
  virtual int32_t hostIdle();
  virtual bool inputPinConnected(int32_t input);
  virtual bool outputPinConnected(int32_t output);
  // Value-to-text conversions (value_text.cpp). Each writes at most 9 bytes, terminator included.
  virtual void formatDecibels(float value, char* text);
  virtual void formatHertz(float samples, char* text);
  virtual void formatMilliseconds(float samples, char* text);
  virtual void formatFloat(float value, char* text);
  virtual void formatInteger(int32_t value, char* text);

  AEffect* getEffectRecord() { return &effect; }

 protected:
  float sampleRate;
  std::unique_ptr<EffectEditor> editor;
  audioMasterCallback host;
  int32_t numPrograms;
  int32_t numParams;
  int32_t curProgram;
  int32_t blockSize;
  AEffect effect;

 private:
  VstIntPtr callHost(int32_t opcode, int32_t index, VstIntPtr value, float opt);
  void setFlag(int32_t bit, bool state);
};

// Truncation toward zero of a double to int32 that is defined for every input: values beyond the
// int32 range saturate, NaN gives 0.
inline int32_t truncToInt32(double x) {
  if (!(x == x)) return 0;
  if (x >= 2147483647.0) return INT32_MAX;
  if (x <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(x);
}
