#include "support/Memory.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <sys/mman.h>
#  include <unistd.h>
#endif

#include <cstring>

namespace test {
namespace {

#if defined(_WIN32)
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

const DWORD kNoAccess = PAGE_NOACCESS;
const DWORD kReadOnly = PAGE_READONLY;

bool Protect(unsigned char* start, std::size_t bytes, DWORD access) {
    DWORD old;
    return VirtualProtect(start, bytes, access, &old) != 0;
}
#else
std::size_t PageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

unsigned char* MapPages(std::size_t bytes) {
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : static_cast<unsigned char*>(pages);
}

void UnmapPages(unsigned char* pages, std::size_t bytes) { munmap(pages, bytes); }

const int kNoAccess = PROT_NONE;
const int kReadOnly = PROT_READ;

bool Protect(unsigned char* start, std::size_t bytes, int access) {
    return mprotect(start, bytes, access) == 0;
}
#endif

}  // namespace

GuardedBytes::GuardedBytes(std::size_t size, unsigned char fill)
    : base_(nullptr), accessible_(0), data_(nullptr), size_(size) {
    const std::size_t page = PageSize();
    accessible_ = (size + page - 1) / page * page;
    if (accessible_ == 0) accessible_ = page;
    base_ = MapPages(accessible_ + page);
    if (!base_) return;
    if (!Protect(base_ + accessible_, page, kNoAccess)) return;
    data_ = base_ + accessible_ - size;
    std::memset(data_, fill, size);
}

GuardedBytes::~GuardedBytes() {
    if (base_) UnmapPages(base_, accessible_ + PageSize());
}

bool GuardedBytes::MakeReadOnly() { return Protect(base_, accessible_, kReadOnly); }

}  // namespace test
