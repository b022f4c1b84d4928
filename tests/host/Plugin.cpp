// A plugin that uses VekLink.dll, for tests/host/PluginHost.cpp: it runs a
// listener with the callback its host passes in, wakes it with one
// datagram, and stops and deletes both objects when told to, after which
// the host may unload it at once.
#include <VekLink.h>

#include <string.h>

namespace {

CVekListen* listener;
CVekSend* sender;

}  // namespace

extern "C" __declspec(dllexport) int StartListening(ReceiveCallback callback, int port) {
    if (!VekInitInstance()) return 0;
    listener = new CVekListen;
    sender = new CVekSend;
    const unsigned char octets[4] = {127, 0, 0, 1};
    unsigned int loopback;
    memcpy(&loopback, octets, sizeof loopback);
    char text[] = "wake";
    return listener->Run(VEK_MODE_UNICAST, callback, port, 0, 0, nullptr) &&
           sender->InitInstance(VEK_MODE_UNICAST, 0, 0) && sender->Send(text, 4, port, loopback);
}

// Leaves the socket layer started: the late callback's socket is closed
// only once it has returned.
extern "C" __declspec(dllexport) void StopListening() {
    sender->ExitInstance();
    delete sender;
    listener->Stop();
    delete listener;
}
