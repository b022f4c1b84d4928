// The memory tests: readable code, page protection and writable ranges. All
// read the process's mappings instead of touching the memory, so they never
// fault and never change what they test. The mappings are read with pread
// into a buffer on the stack and parsed a character at a time: no stdio and
// no allocation.
#include "winapi.h"
#include "mappings.h"
#include "seams.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Mapping {
    uintptr_t low = 0, high = 0;
    char perms[5] = "";  // the "rwxp" field
};

// The descriptor of a thread the layer created, else -1. Initial-exec, so
// that reaching it never allocates, even in a library loaded late.
__attribute__((tls_model("initial-exec"))) thread_local int threadMappings = -1;

int Digit(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }

// Builds one mapping from a line of the mappings ("low-high perms ..."),
// one character at a time, so reads may end anywhere in a line.
class LineReader {
public:
    // True when c ends a line, with its mapping in *m.
    bool Take(char c, Mapping* m) {
        if (c == '\n') {
            const bool complete = field_ == kRest;
            if (complete) *m = line_;
            line_ = Mapping();
            field_ = kLow;
            perms_ = 0;
            return complete;
        }
        switch (field_) {
        case kLow:
            if (c == '-')
                field_ = kHigh;
            else
                line_.low = line_.low * 16 + Digit(c);
            break;
        case kHigh:
            if (c == ' ')
                field_ = kPerms;
            else
                line_.high = line_.high * 16 + Digit(c);
            break;
        case kPerms:
            if (c == ' ')
                field_ = kRest;
            else if (perms_ < 4)
                line_.perms[perms_++] = c;
            break;
        case kRest: break;
        }
        return false;
    }

private:
    enum Field { kLow, kHigh, kPerms, kRest } field_ = kLow;
    Mapping line_;
    int perms_ = 0;
};

// pread, resumed when a signal interrupts it.
ssize_t ReadAt(int descriptor, char* buffer, size_t size, off_t offset) {
    ssize_t n;
    while ((n = ::pread(descriptor, buffer, size, offset)) < 0 && errno == EINTR) {}
    return n;
}

// Reads the mappings in ascending order of address (the kernel's order)
// until visit returns false; false when they could not be read. Each read
// continues where the last ended, so the kernel goes on from there.
template <typename Visit>
bool ReadMappings(int descriptor, Visit visit) {
    char chunk[4096];
    LineReader reader;
    Mapping m;
    for (off_t offset = 0;;) {
        const ssize_t n = ReadAt(descriptor, chunk, sizeof chunk, offset);
        if (n <= 0) return n == 0;
        offset += n;
        for (ssize_t i = 0; i < n; ++i)
            if (reader.Take(chunk[i], &m) && !visit(m)) return true;
    }
}

template <typename Visit>
bool ForEachMapping(Visit visit) {
    const int own = threadMappings;
    const int descriptor = own >= 0 ? own : ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    const bool read = ReadMappings(descriptor, visit);
    if (own < 0) ::close(descriptor);
    return read;
}

// The last executable mapping found on this thread, so that testing the same
// callback again costs no system call. Only code is kept: data mappings come
// and go (and change protection) far more often than a program's code.
__attribute__((tls_model("initial-exec"))) thread_local Mapping lastCode;

enum Lookup { kMapped, kUnmapped, kUnreadable };

// The mapping that holds address.
Lookup FindMapping(uintptr_t address, Mapping* found) {
    if (address >= lastCode.low && address < lastCode.high) {
        *found = lastCode;
        return kMapped;
    }
    bool hit = false;
    const bool read = ForEachMapping([&](const Mapping& m) {
        if (m.high <= address) return true;
        hit = m.low <= address;
        if (hit) *found = m;
        return false;
    });
    if (!read) return kUnreadable;
    if (hit && found->perms[2] == 'x') lastCode = *found;
    return hit ? kMapped : kUnmapped;
}

DWORD Protection(const char* perms) {
    const bool read = perms[0] == 'r', write = perms[1] == 'w';
    if (perms[2] == 'x')
        return write ? PAGE_EXECUTE_READWRITE : read ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
    return write ? PAGE_READWRITE : read ? PAGE_READONLY : PAGE_NOACCESS;
}

}  // namespace

namespace win {

// The first read makes the kernel allocate the descriptor's read buffer, so
// later reads need no memory.
int OpenMappings() {
    const int descriptor = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    char first;
    if (descriptor >= 0 && ReadAt(descriptor, &first, 1, 0) != 1) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

ThreadMappings::ThreadMappings(int descriptor) { threadMappings = descriptor; }

ThreadMappings::~ThreadMappings() {
    ::close(threadMappings);
    threadMappings = -1;
}

}  // namespace win

// Mappings that cannot be read count as no code.
BOOL IsBadCodePtr(FARPROC code) {
    win::seam::Reach(win::seam::kCodeCheck);
    Mapping m;
    return code && FindMapping(reinterpret_cast<uintptr_t>(code), &m) == kMapped &&
                   m.perms[0] == 'r'
               ? FALSE
               : TRUE;
}

// Mappings that cannot be read make the query fail, as Windows fails it.
size_t VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* info, size_t) {
    win::seam::Reach(win::seam::kPageQuery);
    Mapping m;
    const Lookup lookup = FindMapping(reinterpret_cast<uintptr_t>(address), &m);
    if (lookup == kUnreadable) return 0;
    info->State = lookup == kMapped ? MEM_COMMIT : MEM_FREE;
    info->Protect = lookup == kMapped ? Protection(m.perms) : PAGE_NOACCESS;
    return sizeof *info;
}

BOOL IsBadWritePtr(void* address, UINT_PTR size) {
    if (size == 0) return FALSE;
    const uintptr_t low = reinterpret_cast<uintptr_t>(address);
    if (!low || size > UINTPTR_MAX - low) return TRUE;
    const uintptr_t high = low + size;
    // The range must lie in adjacent writable mappings.
    uintptr_t covered = low;
    const bool read = ForEachMapping([&](const Mapping& m) {
        if (m.high <= covered) return true;
        if (m.low > covered || m.perms[1] != 'w') return false;
        covered = m.high;
        return covered < high;
    });
    return read && covered >= high ? FALSE : TRUE;
}
