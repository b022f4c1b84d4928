// A plugin host under Windows: it loads tests/host/Plugin.cpp's DLL, whose
// listener runs this host's callback. The callback is held past Stop's
// 1000 ms wait, and the host unloads the plugin as soon as it has stopped:
// VekLink.dll, which only the plugin loaded, must stay until the callback
// has returned into it, and be gone once the receive thread has ended.
// Prints the ok/not ok lines the suites count.
#include <stdio.h>
#include <windows.h>

namespace {

volatile LONG entered = 0, released = 0, returned = 0;

// Held until the host releases it (at most ten seconds).
void HeldCallback(void*, int, void*, unsigned long, int) {
    InterlockedExchange(&entered, 1);
    for (int i = 0; i < 1000 && !released; ++i) Sleep(10);
    InterlockedExchange(&returned, 1);
}

// Waits at most five seconds for done() to hold.
template <typename Done>
bool Within5s(Done done) {
    for (int i = 0; i < 500 && !done(); ++i) Sleep(10);
    return done();
}

bool Check(bool passed, const char* what) {
    printf("%s %s\n", passed ? "ok" : "not ok", what);
    fflush(stdout);
    return passed;
}

}  // namespace

int main() {
    typedef int (*Start)(void (*)(void*, int, void*, unsigned long, int), int);
    typedef void (*Stop)();
    HMODULE plugin = LoadLibraryA("veklink_test_plugin.dll");
    const Start start =
        plugin ? reinterpret_cast<Start>(GetProcAddress(plugin, "StartListening")) : nullptr;
    const Stop stop =
        plugin ? reinterpret_cast<Stop>(GetProcAddress(plugin, "StopListening")) : nullptr;
    if (!Check(start && stop && GetModuleHandleA("VekLink.dll"),
               "the plugin loads, and VekLink.dll with it") ||
        !Check(start(HeldCallback, 47320) && Within5s([] { return entered != 0; }),
               "the plugin's listener calls the host's callback"))
        return 1;
    stop();  // its wait runs out while the callback is held
    FreeLibrary(plugin);
    bool passed =
        Check(!GetModuleHandleA("veklink_test_plugin.dll"), "the plugin is unloaded at once");
    passed &= Check(GetModuleHandleA("VekLink.dll") != nullptr,
                    "VekLink.dll stays while the callback still runs");
    InterlockedExchange(&released, 1);
    passed &= Check(Within5s([] { return returned != 0; }) &&
                        Within5s([] { return GetModuleHandleA("VekLink.dll") == nullptr; }),
                    "VekLink.dll is unloaded once the callback has returned and the thread ended");
    return passed ? 0 : 1;
}
