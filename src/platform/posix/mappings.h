// The process's memory mappings, which the memory tests read. A thread that
// the layer creates reads them through a descriptor CreateThread opened for
// it, so that a test on that thread (the listener's check of its callback)
// needs no free descriptor and no memory; any other thread opens one for each
// test.
#ifndef VEKLINK_POSIX_MAPPINGS_H
#define VEKLINK_POSIX_MAPPINGS_H

namespace win {

// A descriptor on the mappings whose reads need no new memory, or -1.
int OpenMappings();

// Makes descriptor the calling thread's own for as long as the object
// lives, and closes it after, however the thread ends.
class ThreadMappings {
public:
    explicit ThreadMappings(int descriptor);
    ~ThreadMappings();
    ThreadMappings(const ThreadMappings&) = delete;
    ThreadMappings& operator=(const ThreadMappings&) = delete;
};

}  // namespace win

#endif
