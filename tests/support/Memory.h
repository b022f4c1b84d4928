// Memory with chosen protection, for tests of the library's memory checks.
#ifndef VEKLINK_TEST_MEMORY_H
#define VEKLINK_TEST_MEMORY_H

#include <cstddef>

namespace test {

// size bytes of memory filled with fill, ending exactly where an
// inaccessible page begins.
class GuardedBytes {
public:
    GuardedBytes(std::size_t size, unsigned char fill);
    ~GuardedBytes();
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    unsigned char* data() const { return data_; }
    // The first byte of the inaccessible page.
    unsigned char* inaccessible() const { return data_ ? data_ + size_ : nullptr; }
    bool MakeReadOnly();

private:
    unsigned char* base_;
    std::size_t accessible_;  // bytes before the inaccessible page
    unsigned char* data_;
    std::size_t size_;
};

}  // namespace test

#endif
