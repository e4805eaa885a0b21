// ModuleLibrary on Windows: LoadLibraryA / GetProcAddress / FreeLibrary. Built by the mingw-w64
// presets; the host layer's tests run against it under wine.
#include "host/module_library.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "host/host.h"

namespace tfhost {
namespace {

std::string lastErrorText() {
  const DWORD code = GetLastError();
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result =
      length != 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!result.empty() &&
         (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
    result.pop_back();
  }
  return result;
}

class WindowsModuleLibrary final : public ModuleLibrary {
 public:
  explicit WindowsModuleLibrary(HMODULE handle) : handle_(handle) {}
  ~WindowsModuleLibrary() override { FreeLibrary(handle_); }
  WindowsModuleLibrary(const WindowsModuleLibrary&) = delete;
  WindowsModuleLibrary& operator=(const WindowsModuleLibrary&) = delete;

  void* symbol(const char* name) const override {
    return reinterpret_cast<void*>(GetProcAddress(handle_, name));
  }

 private:
  HMODULE handle_;
};

}  // namespace

std::unique_ptr<ModuleLibrary> ModuleLibrary::open(const std::string& path) {
  if (path.empty()) {
    throw HostError(HostError::Kind::LoadFailed, "cannot load module '': the path is empty");
  }
  // A bare file name would be searched for in the system's directories; a module path always
  // means a file, relative to the working directory if it is not absolute.
  const std::string file = path.find_first_of("/\\:") == std::string::npos ? ".\\" + path : path;
  // A file that fails to load is reported to the caller, never in a system dialog that would wait
  // for a click.
  DWORD previousMode = 0;
  const bool modeSet =
      SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode) != 0;
  HMODULE handle = LoadLibraryA(file.c_str());
  const DWORD loadError = GetLastError();
  if (modeSet) SetThreadErrorMode(previousMode, nullptr);
  SetLastError(loadError);
  if (handle == nullptr) {
    throw HostError(HostError::Kind::LoadFailed,
                    "cannot load module '" + path + "': " + lastErrorText());
  }
  return std::make_unique<WindowsModuleLibrary>(handle);
}

}  // namespace tfhost
