// A test effect and a fake host for the frame tests.
//
// ProbeEffect overrides the operations the dispatcher reaches and writes one line per call into
// an event log shared with the fake host, then keeps the base class's behaviour. Harness owns one
// effect and drives it through its record, as a host does, closing it with effClose at the end.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "frame/effect_base.h"
#include "frame/effect_record.h"

using EventLog = std::vector<std::string>;

// One call the effect made to its host.
struct HostCall {
  AEffect* effect;
  int32_t opcode;
  int32_t index;
  VstIntPtr value;
  void* ptr;
  float opt;
};

// The host callback is a plain function: it reaches the one live FakeHost through a static.
class FakeHost {
 public:
  explicit FakeHost(EventLog& events) : events_(events) { current_ = this; }
  ~FakeHost() { current_ = nullptr; }
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  static VstIntPtr TF_CALLCONV callback(AEffect* effect, int32_t opcode, int32_t index,
                                        VstIntPtr value, void* ptr, float opt) {
    FakeHost& self = *current_;
    self.calls.push_back({effect, opcode, index, value, ptr, opt});
    self.events_.push_back("host " + std::to_string(opcode));
    const auto answer = self.answers.find(opcode);
    return answer == self.answers.end() ? 0 : answer->second;
  }

  std::map<int32_t, VstIntPtr> answers;  // by opcode; 0 when absent
  std::vector<HostCall> calls;

 private:
  EventLog& events_;
  static inline FakeHost* current_ = nullptr;
};

// Overrides only what an effect must: the base class's defaults answer everything else.
class BareEffect : public EffectBase {
 public:
  static constexpr int32_t kPrograms = 4;
  static constexpr int32_t kParams = 3;
  BareEffect(audioMasterCallback host, EventLog& events)
      : EffectBase(host, kPrograms, kParams), events_(events) {}
  ~BareEffect() override { events_.push_back("destroyed"); }
  void process(float**, float**, int32_t) override { events_.push_back("process"); }

 protected:
  EventLog& events_;
};

// Logs every operation the dispatcher and the entry functions reach, then does what the base
// class does.
class ProbeEffect : public BareEffect {
 public:
  using BareEffect::BareEffect;

  void setParameter(int32_t index, float value) override {
    log("setParameter " + std::to_string(index) + " " + std::to_string(value));
    parameter = value;
  }
  float getParameter(int32_t index) override {
    log("getParameter " + std::to_string(index));
    return parameter;
  }
  void process(float** inputs, float** outputs, int32_t frames) override {
    log("process " + std::to_string(frames));
    lastInputs = inputs;
    lastOutputs = outputs;
  }
  void processReplacing(float** inputs, float** outputs, int32_t frames) override {
    log("processReplacing " + std::to_string(frames));
    lastInputs = inputs;
    lastOutputs = outputs;
  }
  void open() override { log("open"); }
  void close() override { log("close"); }
  int32_t getProgram() override {
    log("getProgram");
    return EffectBase::getProgram();
  }
  void setProgram(int32_t program) override {
    log("setProgram " + std::to_string(program));
    EffectBase::setProgram(program);
  }
  void setProgramName(char* name) override {
    log("setProgramName");
    EffectBase::setProgramName(name);
  }
  void getProgramName(char* name) override {
    log("getProgramName");
    EffectBase::getProgramName(name);
  }
  void getParamLabel(int32_t index, char* label) override {
    log("getParamLabel " + std::to_string(index));
    EffectBase::getParamLabel(index, label);
  }
  void getParamDisplay(int32_t index, char* text) override {
    log("getParamDisplay " + std::to_string(index));
    EffectBase::getParamDisplay(index, text);
  }
  void getParamName(int32_t index, char* text) override {
    log("getParamName " + std::to_string(index));
    EffectBase::getParamName(index, text);
  }
  int32_t getChunk(void** data, bool isPreset) override {
    log(std::string("getChunk ") + (isPreset ? "preset" : "bank"));
    if (data) *data = chunk;
    return static_cast<int32_t>(sizeof(chunk));
  }
  int32_t setChunk(void* data, int32_t byteSize, bool isPreset) override {
    log("setChunk " + std::to_string(byteSize) + (isPreset ? " preset" : " bank"));
    return data == chunk ? 1 : 0;
  }
  void setSampleRate(float rate) override {
    log("setSampleRate " + std::to_string(rate));
    EffectBase::setSampleRate(rate);
  }
  void setBlockSize(int32_t size) override {
    log("setBlockSize " + std::to_string(size));
    EffectBase::setBlockSize(size);
  }
  void suspend() override { log("suspend"); }
  void resume() override { log("resume"); }

  float parameter = 0.0f;
  float** lastInputs = nullptr;
  float** lastOutputs = nullptr;
  char chunk[12] = "chunk bytes";

 private:
  void log(std::string line) { events_.push_back(std::move(line)); }
};

// One effect of type E, created with or without the fake host and driven through its record.
template <class E = ProbeEffect>
class Harness {
 public:
  explicit Harness(bool withHost = true)
      : host(events),
        effect(new E(withHost ? &FakeHost::callback : nullptr, events)),
        record(effect->getEffectRecord()) {}
  ~Harness() {
    if (record) close();
  }
  Harness(const Harness&) = delete;
  Harness& operator=(const Harness&) = delete;

  VstIntPtr dispatch(int32_t opcode, int32_t index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                     float opt = 0.0f) {
    return record->dispatcher(record, opcode, index, value, ptr, opt);
  }
  // Closes as a host does; the effect and its record are gone afterwards.
  VstIntPtr close() {
    const VstIntPtr answer = dispatch(effClose);
    effect = nullptr;
    record = nullptr;
    return answer;
  }

  EventLog events;
  FakeHost host;
  E* effect;
  AEffect* record;
};

// A value of the interface's pointer-sized integer from a 64-bit constant; only meaningful on
// 64-bit targets, where it may exceed the int32 range.
inline VstIntPtr wideValue(int64_t value) { return static_cast<VstIntPtr>(value); }
constexpr bool kWideValues = sizeof(VstIntPtr) == 8;
