// ModuleLibrary on POSIX systems: dlopen / dlsym / dlclose.
#include "host/module_library.h"

#include <dlfcn.h>

#include "host/host.h"

namespace tfhost {
namespace {

class PosixModuleLibrary final : public ModuleLibrary {
 public:
  explicit PosixModuleLibrary(void* handle) : handle_(handle) {}
  ~PosixModuleLibrary() override { dlclose(handle_); }
  PosixModuleLibrary(const PosixModuleLibrary&) = delete;
  PosixModuleLibrary& operator=(const PosixModuleLibrary&) = delete;

  void* symbol(const char* name) const override {
    dlerror();
    return dlsym(handle_, name);
  }

 private:
  void* handle_;
};

}  // namespace

std::unique_ptr<ModuleLibrary> ModuleLibrary::open(const std::string& path) {
  if (path.empty()) {
    // dlopen would read an empty name as the running program itself.
    throw HostError(HostError::Kind::LoadFailed, "cannot load module '': the path is empty");
  }
  // A name without a slash would be searched for in the system's library directories; a module
  // path always means a file, relative to the working directory if it is not absolute.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    throw HostError(
        HostError::Kind::LoadFailed,
        "cannot load module '" + path + "': " + (reason != nullptr ? reason : "unknown error"));
  }
  return std::make_unique<PosixModuleLibrary>(handle);
}

}  // namespace tfhost
