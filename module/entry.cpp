// The module's exported entry points: VSTPluginMain, looked up first by hosts of today, and main,
// the interface's original name. Both are the same function. This is the only file that exports.
#include "flanger/tempo_flanger.h"

#if defined(_WIN32)
#define TF_EXPORT
#else
#define TF_EXPORT __attribute__((visibility("default")))
#endif

extern "C" TF_EXPORT AEffect* TF_CALLCONV VSTPluginMain(audioMasterCallback host) {
  return createEffect(host);
}

#if !defined(_WIN32)
// C++ reserves the name main for the program's own function, so the second name is given to the
// symbol through an assembler label, as an alias of VSTPluginMain. (Windows builds export it
// through the module definition file instead.)
extern "C" TF_EXPORT AEffect* moduleMain(audioMasterCallback host) __asm__("main")
    __attribute__((alias("VSTPluginMain")));
#endif
