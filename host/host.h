// The host layer: loads an effect module through its exported entry point as a music host does,
// answers the effect's callback, and gives typed, RAII access to one effect instance.
//
// Used by the tests, the command-line renderer, the benchmarks and the fuzzers. This is the host
// side of the interface; it never reaches into the effect other than through its record.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/effect_record.h"

namespace tfhost {

class ModuleLibrary;

class HostError : public std::runtime_error {
 public:
  enum class Kind {
    LoadFailed,    // the file is missing or the system loader refused it
    NoEntryPoint,  // neither VSTPluginMain nor main is exported
    EntryReturnedNull,
    BadMagic,     // the entry returned a record without the 'VstP' magic
    TextOverrun,  // the effect wrote past the text limit of a host buffer
  };
  HostError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// One call the effect made to the host callback.
struct HostCall {
  int32_t opcode;
  int32_t index;
  VstIntPtr value;
  float opt;
  bool withRecord;  // false for the entry point's call, made before any record exists
};

// How the host answers the effect's callback.
struct HostOptions {
  VstIntPtr version = 2400;  // answer to audioMasterVersion
  bool record = false;       // keep every callback in Effect::calls()
};

// Texts are read into buffers guarded past this many bytes (terminator included). An effect that
// writes more, or leaves no terminator inside the limit, makes the read throw TextOverrun.
constexpr std::size_t kTextLimit = 24;
// Bytes of guard area after the limit, filled with a canary before each read and checked after it.
constexpr std::size_t kTextGuard = 1000;

class Effect;

// A module file, loaded. Instances made from it keep it loaded for as long as they live.
class Module {
 public:
  // Throws HostError: LoadFailed, NoEntryPoint.
  explicit Module(const std::string& path);

  const std::string& path() const { return path_; }
  PluginEntryProc entry() const { return entry_; }
  // Which exported name was used: "VSTPluginMain", or "main" as the fallback.
  const std::string& entryName() const { return entryName_; }

  // Calls the entry point with a callback of this layer. Throws HostError: EntryReturnedNull,
  // BadMagic.
  std::unique_ptr<Effect> instantiate(const HostOptions& options = {}) const;

 private:
  std::string path_;
  std::shared_ptr<ModuleLibrary> library_;
  PluginEntryProc entry_ = nullptr;
  std::string entryName_;
};

// One effect instance, closed with effClose when destroyed.
class Effect {
 public:
  ~Effect();
  Effect(const Effect&) = delete;
  Effect& operator=(const Effect&) = delete;

  // Null once close() has run.
  AEffect* record() const { return record_; }
  // The module file this instance was made from, for messages.
  const std::string& modulePath() const { return path_; }

  VstIntPtr dispatch(int32_t opcode, int32_t index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                     float opt = 0.0f);

  void setParameter(int32_t index, float value);
  float getParameter(int32_t index);

  std::string paramName(int32_t index);
  std::string paramLabel(int32_t index);
  std::string paramDisplay(int32_t index);
  std::string programName();
  void setProgramName(const std::string& name);
  void setProgram(int32_t program);
  int32_t program();

  void open();
  void setSampleRate(float rate);
  void setBlockSize(int32_t frames);
  void resume();   // effMainsChanged 1
  void suspend();  // effMainsChanged 0

  void process(float** inputs, float** outputs, int32_t frames);
  void processReplacing(float** inputs, float** outputs, int32_t frames);

  // Closes now (effClose) instead of at destruction. The effect may free its record then, so every
  // later call throws std::logic_error instead of reaching it; a second close() does nothing.
  void close();

  const HostOptions& options() const { return options_; }
  const std::vector<HostCall>& calls() const { return calls_; }
  void clearCalls() { calls_.clear(); }

 private:
  friend class Module;
  friend struct HostCallbackAccess;
  Effect(std::shared_ptr<ModuleLibrary> library, const HostOptions& options);
  std::string readText(int32_t opcode, int32_t index);
  AEffect* live(const char* what) const;

  std::shared_ptr<ModuleLibrary> library_;
  std::string path_;
  HostOptions options_;
  AEffect* record_ = nullptr;
  std::vector<HostCall> calls_;
};

}  // namespace tfhost
