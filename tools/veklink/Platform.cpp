#include "Platform.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>

#if defined(_WIN32)
#  include <windows.h>
#  include <fcntl.h>
#  include <io.h>
#else
#  include <cerrno>
#  include <csignal>
#  include <cstring>
#endif

namespace platform {
namespace {

// Set from a signal handler or the console's control thread: a lock-free
// atomic is safe in both.
std::atomic<bool> stopRequested(false);

}  // namespace

#if defined(_WIN32)

static BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    stopRequested = true;
    return TRUE;
}

void InstallStopHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

static bool LocalTime(std::time_t t, std::tm* out) { return localtime_s(out, &t) == 0; }

std::string LastErrorText() {
    const DWORD code = GetLastError();
    return code ? ": error " + std::to_string(code) : std::string();
}

void UseBinaryInput() { _setmode(_fileno(stdin), _O_BINARY); }

#else

static void OnSignal(int) { stopRequested = true; }

void InstallStopHandler() {
    // No SA_RESTART: a read of standard input blocked at Ctrl-C returns, and
    // "send -" ends with its summary.
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

static bool LocalTime(std::time_t t, std::tm* out) { return localtime_r(&t, out) != nullptr; }

std::string LastErrorText() { return errno ? std::string(": ") + std::strerror(errno) : std::string(); }

void UseBinaryInput() {}

#endif

bool StopRequested() { return stopRequested; }

void SleepUnlessStopped(unsigned long milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!stopRequested) {
        const auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(50)));
    }
}

std::string TimeOfDay(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const long milliseconds = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000);
    std::tm local = {};
    char text[32];
    if (!LocalTime(seconds, &local) || !std::strftime(text, sizeof text, "%H:%M:%S", &local))
        return "--:--:--.---";
    return std::string(text) + "." + std::to_string(1000 + milliseconds).substr(1);
}

}  // namespace platform
