// The memory tests: readable code, page protection and writable ranges. All
// read the process's mappings instead of touching the memory, so they never
// fault and never change what they test.
#include "winapi.h"
#include "seams.h"

#include <stdio.h>

namespace {

struct Mapping {
    uintptr_t low = 0, high = 0;
    char perms[5] = "";  // the "rwxp" field
};

// Reads the mappings in ascending order of address (the kernel's order)
// until visit returns false.
template <typename Visit>
void ForEachMapping(Visit visit) {
    FILE* maps = fopen("/proc/self/maps", "re");
    if (!maps) return;
    Mapping m;
    unsigned long long start, end;
    while (fscanf(maps, "%llx-%llx %4s%*[^\n]", &start, &end, m.perms) == 3) {
        m.low = static_cast<uintptr_t>(start);
        m.high = static_cast<uintptr_t>(end);
        if (!visit(m)) break;
    }
    fclose(maps);
}

// The last executable mapping found on this thread, so that testing the same
// callback again costs no system call. Only code is kept: data mappings come
// and go (and change protection) far more often than a program's code.
thread_local Mapping lastCode;

// The mapping that holds address; false when none does.
bool FindMapping(uintptr_t address, Mapping* found) {
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
    if (hit && found->perms[2] == 'x') lastCode = *found;
    return hit;
}

DWORD Protection(const char* perms) {
    const bool read = perms[0] == 'r', write = perms[1] == 'w';
    if (perms[2] == 'x') return write ? PAGE_EXECUTE_READWRITE : read ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
    return write ? PAGE_READWRITE : read ? PAGE_READONLY : PAGE_NOACCESS;
}

}  // namespace

BOOL IsBadCodePtr(FARPROC code) {
    win::seam::Reach(win::seam::kCodeCheck);
    Mapping m;
    return code && FindMapping(reinterpret_cast<uintptr_t>(code), &m) && m.perms[0] == 'r'
               ? FALSE : TRUE;
}

size_t VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* info, size_t) {
    win::seam::Reach(win::seam::kPageQuery);
    Mapping m;
    const bool mapped = FindMapping(reinterpret_cast<uintptr_t>(address), &m);
    info->State = mapped ? MEM_COMMIT : MEM_FREE;
    info->Protect = mapped ? Protection(m.perms) : PAGE_NOACCESS;
    return sizeof *info;
}

BOOL IsBadWritePtr(void* address, UINT_PTR size) {
    if (size == 0) return FALSE;
    const uintptr_t low = reinterpret_cast<uintptr_t>(address);
    if (!low || size > UINTPTR_MAX - low) return TRUE;
    const uintptr_t high = low + size;
    // The range must lie in adjacent writable mappings.
    uintptr_t covered = low;
    ForEachMapping([&](const Mapping& m) {
        if (m.high <= covered) return true;
        if (m.low > covered || m.perms[1] != 'w') return false;
        covered = m.high;
        return covered < high;
    });
    return covered >= high ? FALSE : TRUE;
}
