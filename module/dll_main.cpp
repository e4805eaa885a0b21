// The Windows module's DLL entry. Loading and unloading need no work of the module's own: every
// effect is made by the exported entry point and freed by effClose.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
