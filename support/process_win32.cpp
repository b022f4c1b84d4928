// The process calls on Windows (and Wine): the console's Ctrl-C, binary
// standard I/O, thread times, affinity masks, the system handle table, a
// thread snapshot and virtual memory.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <tlhelp32.h>

#include <cstdio>
#include <vector>

#include "internal.h"
#include "support.h"

namespace support {
namespace {

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    RequestStop();
    return TRUE;
}

// What ntdll exports beyond the Win32 calls, looked up by name.
typedef void (*AnyFunction)();
AnyFunction FromNtdll(const char* name) {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll ? reinterpret_cast<AnyFunction>(GetProcAddress(ntdll, name)) : nullptr;
}

// One row of the system handle table (information class 16).
struct HandleEntry {
    ULONG ownerProcess;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    void* object;
    ULONG access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};
typedef LONG(WINAPI* QuerySystem)(ULONG, void*, ULONG, ULONG*);
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

long OwnHandles(const HandleTable& rows) {
    long mine = 0;
    for (ULONG i = 0; i < rows.count; ++i)
        if (rows.entries[i].ownerProcess == GetCurrentProcessId()) ++mine;
    return mine;
}

DWORD Protection(PageAccess access) {
    switch (access) {
    case PageAccess::kNone: return PAGE_NOACCESS;
    case PageAccess::kReadOnly: return PAGE_READONLY;
    case PageAccess::kReadWrite: break;
    }
    return PAGE_READWRITE;
}

std::uint64_t Ticks(const FILETIME& t) {
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

}  // namespace

bool UnderWine() { return FromNtdll("wine_get_version") != nullptr; }

bool OnWindows() { return true; }

void InstallStopHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

void UseBinaryInput() { _setmode(_fileno(stdin), _O_BINARY); }

void UseBinaryOutput() { _setmode(_fileno(stdout), _O_BINARY); }

bool OutputIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

bool CalendarTime(std::time_t t, bool utc, std::tm* out) {
    return (utc ? gmtime_s(out, &t) : localtime_s(out, &t)) == 0;
}

void SleepUs(int microseconds) {
    // NtDelayExecution takes 100 ns units (negative: relative); under Wine it
    // sleeps that long, where Sleep would round up to a millisecond.
    typedef LONG(WINAPI * Delay)(BOOLEAN, const LARGE_INTEGER*);
    static const Delay delay = reinterpret_cast<Delay>(FromNtdll("NtDelayExecution"));
    LARGE_INTEGER interval;
    interval.QuadPart = -10LL * microseconds;
    if (delay)
        delay(FALSE, &interval);
    else
        Sleep(static_cast<DWORD>((microseconds + 999) / 1000));
}

CpuClock ThreadCpuClock() {
    CpuClock clock;
    const HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, GetCurrentThreadId());
    clock.id = reinterpret_cast<std::intptr_t>(thread);
    clock.valid = thread != nullptr;
    return clock;
}

double CpuSeconds(const CpuClock& clock) {
    FILETIME created, exited, kernel, user;
    if (!clock.valid ||
        !GetThreadTimes(reinterpret_cast<HANDLE>(clock.id), &created, &exited, &kernel, &user))
        return 0;
    return static_cast<double>(Ticks(kernel) + Ticks(user)) * 100e-9;
}

void ReleaseCpuClock(CpuClock& clock) {
    if (clock.valid) CloseHandle(reinterpret_cast<HANDLE>(clock.id));
    clock.valid = false;
}

bool PinToOneCpu() { return SetProcessAffinityMask(GetCurrentProcess(), 1) != 0; }

bool PinThread(int cpu) {
    return SetThreadAffinityMask(GetCurrentThread(), DWORD_PTR(1) << cpu) != 0;
}

void MarkInTrace(const std::string& text) {
    const HANDLE none = OpenEventA(SYNCHRONIZE, FALSE, text.c_str());
    if (none) CloseHandle(none);
}

long HeldHandles() {
    const QuerySystem query = reinterpret_cast<QuerySystem>(FromNtdll("NtQuerySystemInformation"));
    if (!query) return -1;
    std::vector<char> table(1 << 16);
    for (int attempt = 0; attempt < 12; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, table.data(),
                                  static_cast<ULONG>(table.size()), &needed);
        if (status == kInfoLengthMismatch) {
            table.resize(table.size() * 2);
            continue;
        }
        return status == 0 ? OwnHandles(*reinterpret_cast<const HandleTable*>(table.data())) : -1;
    }
    return -1;
}

long HeldThreads() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    long mine = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++mine;
    CloseHandle(snapshot);
    return mine;
}

std::size_t PageSize() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

unsigned char* MapPages(std::size_t bytes) {
    return static_cast<unsigned char*>(
        VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

void UnmapPages(unsigned char* pages, std::size_t) { VirtualFree(pages, 0, MEM_RELEASE); }

bool ProtectPages(unsigned char* pages, std::size_t bytes, PageAccess access) {
    DWORD old;
    return VirtualProtect(pages, bytes, Protection(access), &old) != 0;
}

}  // namespace support
