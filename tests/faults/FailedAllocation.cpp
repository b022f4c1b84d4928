// The library's allocations, for the fault-injection suite alone (see
// Interposer.h). They go on to the allocator the program would have called,
// a sanitizer's or else the C library's, both reached without dlsym, which
// may itself allocate.
#include "faults/Interposer.h"

#include <errno.h>
#include <stddef.h>

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __interceptor_malloc(size_t size) __attribute__((weak));

extern "C" __attribute__((visibility("default"))) void* malloc(size_t size) noexcept {
    if (faults::Fails(faults::kMalloc, __builtin_return_address(0))) {
        errno = faults::FailingError();
        return nullptr;
    }
    return __interceptor_malloc ? __interceptor_malloc(size) : __libc_malloc(size);
}
