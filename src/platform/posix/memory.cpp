// The memory tests: readable code, page protection and writable ranges. All
// read the process's mappings instead of touching the memory, so they never
// fault and never change what they test.
#include "native.h"
#include "seams.h"

#include <cstdio>

namespace win {
namespace {

struct Mapping {
    std::uintptr_t low = 0, high = 0;
    char perms[5] = "";  // the "rwxp" field
};

// Reads the mappings in ascending order of address (the kernel's order)
// until visit returns false.
template <typename Visit>
void ForEachMapping(Visit visit) {
    FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps) return;
    Mapping m;
    unsigned long long start, end;
    while (std::fscanf(maps, "%llx-%llx %4s%*[^\n]", &start, &end, m.perms) == 3) {
        m.low = static_cast<std::uintptr_t>(start);
        m.high = static_cast<std::uintptr_t>(end);
        if (!visit(m)) break;
    }
    std::fclose(maps);
}

// The mapping of the last code address tested on this thread, so that
// testing the same callback again costs no system call.
thread_local Mapping lastCode;

// The mapping that holds address; false when none does.
bool FindMapping(std::uintptr_t address, Mapping* found) {
    if (address >= lastCode.low && address < lastCode.high) {
        *found = lastCode;
        return true;
    }
    bool hit = false;
    ForEachMapping([&](const Mapping& m) {
        if (m.high <= address) return true;
        hit = m.low <= address;
        if (hit) *found = m;
        return false;
    });
    if (hit) lastCode = *found;
    return hit;
}

DWORD Protection(const char* perms) {
    const bool read = perms[0] == 'r', write = perms[1] == 'w', execute = perms[2] == 'x';
    if (execute) return write ? PAGE_EXECUTE_READWRITE : read ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
    return write ? PAGE_READWRITE : read ? PAGE_READONLY : PAGE_NOACCESS;
}

}  // namespace

BOOL IsBadCodePtr(FARPROC code) {
    seam::Reach(seam::kCodeCheck);
    Mapping m;
    return code && FindMapping(reinterpret_cast<std::uintptr_t>(code), &m) && m.perms[0] == 'r'
               ? FALSE : TRUE;
}

std::size_t VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* info, std::size_t size) {
    seam::Reach(seam::kPageQuery);
    if (!info || size < sizeof *info) {
        errno = EINVAL;
        return 0;
    }
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t page = at & ~std::uintptr_t(4095);
    *info = MEMORY_BASIC_INFORMATION{};
    Mapping m;
    if (FindMapping(at, &m)) {
        info->BaseAddress = info->AllocationBase = reinterpret_cast<void*>(page);
        info->RegionSize = m.high - page;
        info->State = MEM_COMMIT;
        info->Protect = info->AllocationProtect = Protection(m.perms);
    } else {
        info->BaseAddress = reinterpret_cast<void*>(page);
        info->RegionSize = 4096;
        info->State = MEM_FREE;
        info->Protect = PAGE_NOACCESS;
    }
    return sizeof *info;
}

BOOL IsBadWritePtr(void* address, UINT_PTR size) {
    if (size == 0) return FALSE;
    const std::uintptr_t low = reinterpret_cast<std::uintptr_t>(address);
    if (!low || size > UINTPTR_MAX - low) return TRUE;
    const std::uintptr_t high = low + size;
    // The range must lie in adjacent writable mappings.
    std::uintptr_t covered = low;
    ForEachMapping([&](const Mapping& m) {
        if (m.high <= covered) return true;
        if (m.low > covered || m.perms[1] != 'w') return false;
        covered = m.high;
        return covered < high;
    });
    return covered >= high ? FALSE : TRUE;
}

}  // namespace win
