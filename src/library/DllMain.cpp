// The module's entry handler: the library needs no per-process or per-thread
// set-up, so every notification succeeds without work.
#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
