// The host layer: module loading, the host callback and the typed effect wrappers.
#include "host/host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "host/module_library.h"

namespace tfhost {
namespace {

// The instance whose entry point call is in progress on this thread. The effect may call back
// before its record exists (null record) or before the host has stored itself in the record.
thread_local Effect* tCreating = nullptr;

class CreatingScope {
 public:
  explicit CreatingScope(Effect* effect) : previous_(tCreating) { tCreating = effect; }
  ~CreatingScope() { tCreating = previous_; }
  CreatingScope(const CreatingScope&) = delete;
  CreatingScope& operator=(const CreatingScope&) = delete;

 private:
  Effect* previous_;
};

// Fills the guard and text bytes of a read buffer. Never part of UTF-8 text, and not zero, so a
// terminator or a zero padding written past the limit is seen.
constexpr char kCanary = static_cast<char>(0xFF);

std::string opcodeName(int32_t opcode) {
  switch (opcode) {
    case effGetProgramName:
      return "effGetProgramName";
    case effGetParamLabel:
      return "effGetParamLabel";
    case effGetParamDisplay:
      return "effGetParamDisplay";
    case effGetParamName:
      return "effGetParamName";
    default:
      return "opcode";
  }
}

std::string hex32(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(static_cast<uint32_t>(value)));
  return text;
}

}  // namespace

// The callback handed to every entry point. Finds the instance through the record's `user` field,
// or through tCreating while the entry point runs.
struct HostCallbackAccess {
  static VstIntPtr TF_CALLCONV callback(AEffect* record, int32_t opcode, int32_t index,
                                        VstIntPtr value, void* /*ptr*/, float opt) noexcept {
    Effect* effect = nullptr;
    if (record != nullptr && record->user != nullptr) {
      effect = static_cast<Effect*>(record->user);
    } else {
      effect = tCreating;
    }

    if (effect != nullptr && effect->options_.record) {
      try {
        effect->calls_.push_back(HostCall{opcode, index, value, opt, record != nullptr});
      } catch (...) {
        // Out of memory: the call goes unrecorded rather than unwinding into the effect.
      }
    }

    switch (opcode) {
      case audioMasterVersion:
        return effect != nullptr ? effect->options_.version : HostOptions{}.version;
      case audioMasterPinConnected: {
        // 0 means connected. value 0 asks about an input pin, 1 about an output pin.
        if (record == nullptr || index < 0) return 1;
        if (value == 0) return index < record->numInputs ? 0 : 1;
        if (value == 1) return index < record->numOutputs ? 0 : 1;
        return 1;
      }
      case audioMasterAutomate:
      case audioMasterCurrentId:
      case audioMasterIdle:
      default:
        return 0;
    }
  }
};

// ---------------------------------------------------------------------------------------------
// Module

Module::Module(const std::string& path) : path_(path), library_(ModuleLibrary::open(path)) {
  for (const char* name : {"VSTPluginMain", "main"}) {
    if (void* address = library_->symbol(name)) {
      entry_ = reinterpret_cast<PluginEntryProc>(address);
      entryName_ = name;
      return;
    }
  }
  throw HostError(HostError::Kind::NoEntryPoint,
                  "module '" + path_ + "' exports neither VSTPluginMain nor main");
}

std::unique_ptr<Effect> Module::instantiate(const HostOptions& options) const {
  std::unique_ptr<Effect> effect(new Effect(library_, options));
  effect->path_ = path_;

  AEffect* record = nullptr;
  {
    CreatingScope scope(effect.get());
    record = entry_(&HostCallbackAccess::callback);
  }
  if (record == nullptr) {
    throw HostError(HostError::Kind::EntryReturnedNull,
                    "module '" + path_ + "': " + entryName_ + " returned a null effect record");
  }
  if (record->magic != kEffectMagic) {
    // Not a record this layer understands: nothing in it is called or written, not even effClose.
    throw HostError(HostError::Kind::BadMagic,
                    "module '" + path_ + "': " + entryName_ + " returned a record with magic " +
                        hex32(record->magic) + " instead of 'VstP' (" + hex32(kEffectMagic) + ")");
  }
  record->user = effect.get();
  effect->record_ = record;
  return effect;
}

// ---------------------------------------------------------------------------------------------
// Effect

Effect::Effect(std::shared_ptr<ModuleLibrary> library, const HostOptions& options)
    : library_(std::move(library)), options_(options) {}

Effect::~Effect() { close(); }

void Effect::close() {
  AEffect* record = record_;
  if (record == nullptr) return;
  record_ = nullptr;
  if (record->dispatcher != nullptr) record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);
}

AEffect* Effect::live(const char* what) const {
  if (record_ == nullptr) {
    throw std::logic_error("module '" + path_ + "': " + what + " on an effect already closed");
  }
  return record_;
}

VstIntPtr Effect::dispatch(int32_t opcode, int32_t index, VstIntPtr value, void* ptr, float opt) {
  AEffect* record = live("dispatch");
  if (record->dispatcher == nullptr) {
    throw std::logic_error("module '" + path_ + "': the effect record has no dispatcher");
  }
  return record->dispatcher(record, opcode, index, value, ptr, opt);
}

void Effect::setParameter(int32_t index, float value) {
  AEffect* record = live("setParameter");
  if (record->setParameter == nullptr) {
    throw std::logic_error("module '" + path_ + "': the effect record has no setParameter");
  }
  record->setParameter(record, index, value);
}

float Effect::getParameter(int32_t index) {
  AEffect* record = live("getParameter");
  if (record->getParameter == nullptr) {
    throw std::logic_error("module '" + path_ + "': the effect record has no getParameter");
  }
  return record->getParameter(record, index);
}

void Effect::process(float** inputs, float** outputs, int32_t frames) {
  AEffect* record = live("process");
  if (record->process == nullptr) {
    throw std::logic_error("module '" + path_ + "': the effect record has no process");
  }
  record->process(record, inputs, outputs, frames);
}

void Effect::processReplacing(float** inputs, float** outputs, int32_t frames) {
  AEffect* record = live("processReplacing");
  if (record->processReplacing == nullptr) {
    throw std::logic_error("module '" + path_ + "': the effect record has no processReplacing");
  }
  record->processReplacing(record, inputs, outputs, frames);
}

std::string Effect::readText(int32_t opcode, int32_t index) {
  std::vector<char> buffer(kTextLimit + kTextGuard, kCanary);
  dispatch(opcode, index, 0, buffer.data(), 0.0f);

  const auto limit = buffer.begin() + static_cast<std::ptrdiff_t>(kTextLimit);
  const auto where = [&] {
    return "module '" + path_ + "': " + opcodeName(opcode) + " (opcode " + std::to_string(opcode) +
           ") index " + std::to_string(index) + ": ";
  };
  if (std::any_of(limit, buffer.end(), [](char c) { return c != kCanary; })) {
    throw HostError(
        HostError::Kind::TextOverrun,
        where() + "the effect wrote past the " + std::to_string(kTextLimit) + "-byte text limit");
  }
  const auto terminator = std::find(buffer.begin(), limit, '\0');
  if (terminator == limit) {
    const bool untouched = std::all_of(buffer.begin(), limit, [](char c) { return c == kCanary; });
    throw HostError(HostError::Kind::TextOverrun,
                    where() +
                        (untouched ? "the effect wrote no text" : "the text has no terminator") +
                        " within the " + std::to_string(kTextLimit) + "-byte limit");
  }
  return std::string(buffer.begin(), terminator);
}

std::string Effect::paramName(int32_t index) { return readText(effGetParamName, index); }
std::string Effect::paramLabel(int32_t index) { return readText(effGetParamLabel, index); }
std::string Effect::paramDisplay(int32_t index) { return readText(effGetParamDisplay, index); }
std::string Effect::programName() { return readText(effGetProgramName, 0); }

void Effect::setProgramName(const std::string& name) {
  std::vector<char> text(name.begin(), name.end());
  text.push_back('\0');
  dispatch(effSetProgramName, 0, 0, text.data(), 0.0f);
}

void Effect::setProgram(int32_t program) { dispatch(effSetProgram, 0, program); }
int32_t Effect::program() { return static_cast<int32_t>(dispatch(effGetProgram)); }

void Effect::open() { dispatch(effOpen); }
void Effect::setSampleRate(float rate) { dispatch(effSetSampleRate, 0, 0, nullptr, rate); }
void Effect::setBlockSize(int32_t frames) { dispatch(effSetBlockSize, 0, frames); }
void Effect::resume() { dispatch(effMainsChanged, 0, 1); }
void Effect::suspend() { dispatch(effMainsChanged, 0, 0); }

}  // namespace tfhost
