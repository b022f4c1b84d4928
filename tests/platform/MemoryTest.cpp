// The memory tests the library relies on (is a callback code, is a
// destination writable), checked against the platform underneath: the POSIX
// layer natively, Win32 under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "platform/platform.h"
#include "support/Memory.h"

namespace {

const DWORD kExecutable =
    PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

const char kReadOnlyData[64] = "read-only data";

void SomeCode() {}

FARPROC AsCode(const void* address) {
    return reinterpret_cast<FARPROC>(const_cast<void*>(address));
}

MEMORY_BASIC_INFORMATION Query(const void* address) {
    MEMORY_BASIC_INFORMATION info = {};
    EXPECT_EQ(sizeof info, VirtualQuery(address, &info, sizeof info));
    return info;
}

}  // namespace

TEST(Memory, CodeIsCommittedReadableAndExecutable) {
    const FARPROC code = reinterpret_cast<FARPROC>(&SomeCode);
    EXPECT_FALSE(IsBadCodePtr(code));
    const MEMORY_BASIC_INFORMATION page = Query(reinterpret_cast<void*>(code));
    EXPECT_EQ(MEM_COMMIT, page.State);
    EXPECT_TRUE(page.Protect & kExecutable) << std::hex << page.Protect;
}

// IsBadCodePtr only tests that memory is readable, so data passes it; the
// page protection tells it from code.
TEST(Memory, HeapReadOnlyDataAndStackAreReadableButNotExecutable) {
    std::unique_ptr<char, void (*)(void*)> heap(static_cast<char*>(std::malloc(64)), std::free);
    char stack[64] = {};
    const struct {
        const void* address;
        DWORD protect;
    } cases[] = {
        {heap.get(), PAGE_READWRITE}, {kReadOnlyData, PAGE_READONLY}, {stack, PAGE_READWRITE}};
    for (const auto& c : cases) {
        EXPECT_FALSE(IsBadCodePtr(AsCode(c.address)));
        const MEMORY_BASIC_INFORMATION page = Query(c.address);
        EXPECT_EQ(MEM_COMMIT, page.State);
        EXPECT_EQ(c.protect, page.Protect) << std::hex << page.Protect;
    }
}

TEST(Memory, NullAndNoAccessPagesAreNotCode) {
    EXPECT_TRUE(IsBadCodePtr(nullptr));
    test::GuardedBytes bytes(16, 0);
    ASSERT_NE(nullptr, bytes.data());
    const unsigned char* noAccess = bytes.data() + 16;  // the inaccessible page
    EXPECT_TRUE(IsBadCodePtr(AsCode(noAccess)));
    const MEMORY_BASIC_INFORMATION page = Query(noAccess);
    EXPECT_EQ(MEM_COMMIT, page.State);
    EXPECT_EQ(PAGE_NOACCESS, page.Protect) << std::hex << page.Protect;
}

// A range is writable exactly up to its last byte, and the test never
// changes the memory it looks at.
TEST(Memory, WritableRangesEndExactlyWhereAccessEnds) {
    constexpr unsigned char kFill = 0xA5;
    test::GuardedBytes bytes(10, kFill);
    unsigned char* data = bytes.data();
    ASSERT_NE(nullptr, data);
    EXPECT_FALSE(IsBadWritePtr(data, 10));
    EXPECT_FALSE(IsBadWritePtr(data + 9, 1));
    EXPECT_TRUE(IsBadWritePtr(data, 11));
    EXPECT_TRUE(IsBadWritePtr(data + 10, 1));
    EXPECT_FALSE(IsBadWritePtr(data + 10, 0)) << "an empty range";
    EXPECT_TRUE(IsBadWritePtr(nullptr, 1));
    EXPECT_TRUE(std::all_of(data, data + 10, [](unsigned char b) { return b == kFill; }));

    EXPECT_EQ(static_cast<DWORD>(PAGE_READWRITE), Query(data).Protect);
    ASSERT_TRUE(bytes.MakeReadOnly());
    EXPECT_TRUE(IsBadWritePtr(data, 1));
    EXPECT_EQ(static_cast<DWORD>(PAGE_READONLY), Query(data).Protect)
        << "a query on the same thread sees the new protection";
    EXPECT_TRUE(std::all_of(data, data + 10, [](unsigned char b) { return b == kFill; }));
}
