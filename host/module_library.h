// Loading a module file and looking up its symbols, behind a small interface so that each
// platform uses its own system loader (dlopen on POSIX systems, LoadLibrary on Windows).
#pragma once

#include <memory>
#include <string>

namespace tfhost {

class ModuleLibrary {
 public:
  virtual ~ModuleLibrary() = default;

  // The address of an exported symbol, or null when the module does not export it.
  virtual void* symbol(const char* name) const = 0;

  // Opens the module file at `path`. Throws HostError(kind LoadFailed) with the system's reason.
  static std::unique_ptr<ModuleLibrary> open(const std::string& path);
};

}  // namespace tfhost
