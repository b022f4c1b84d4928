// The memory tests: callable code and writable ranges. Both read the
// process's mappings instead of touching the memory, so they never fault and
// never change what they test.
#include "native.h"

#include <cstdio>

namespace win {
namespace {

struct Range {
    std::uintptr_t low = 0, high = 0;
};

enum Permission { kWrite = 1, kExecute = 2 };  // columns of the "rwxp" field

// True when [low, high) lies in adjacent mappings that all have the
// permission; *run is then the whole run of such mappings around it.
bool Permitted(std::uintptr_t low, std::uintptr_t high, Permission permission, Range* run) {
    FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps) return false;
    const char flag = permission == kWrite ? 'w' : 'x';
    Range covered;
    unsigned long long start, end;
    char perms[5];
    // The kernel lists mappings in ascending order of address.
    while (covered.high < high && std::fscanf(maps, "%llx-%llx %4s%*[^\n]", &start, &end, perms) == 3) {
        const bool adjacent = covered.high != 0 && start == covered.high;
        if (perms[permission] != flag || (!adjacent && (start > low || end <= low))) {
            if (covered.high != 0) break;
            continue;
        }
        if (!adjacent) covered.low = static_cast<std::uintptr_t>(start);
        covered.high = static_cast<std::uintptr_t>(end);
    }
    std::fclose(maps);
    *run = covered;
    return covered.high >= high && covered.high != 0;
}

// One executable run remembered per thread, so that repeated tests of the
// same callback cost no system call.
thread_local Range knownCode;

}  // namespace

BOOL IsBadCodePtr(FARPROC code) {
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(code);
    if (!address) return TRUE;
    if (address >= knownCode.low && address < knownCode.high) return FALSE;
    Range run;
    if (!Permitted(address, address + 1, kExecute, &run)) return TRUE;
    knownCode = run;
    return FALSE;
}

BOOL IsBadWritePtr(void* address, UINT_PTR size) {
    if (size == 0) return FALSE;
    const std::uintptr_t low = reinterpret_cast<std::uintptr_t>(address);
    if (!low || size > UINTPTR_MAX - low) return TRUE;
    Range run;
    return Permitted(low, low + size, kWrite, &run) ? FALSE : TRUE;
}

}  // namespace win
