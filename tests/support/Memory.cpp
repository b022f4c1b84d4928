#include "support/Memory.h"

#include <cstring>

#include "support.h"

namespace test {

GuardedBytes::GuardedBytes(std::size_t size, unsigned char fill)
    : base_(nullptr), accessible_(0), data_(nullptr), size_(size) {
    const std::size_t page = support::PageSize();
    accessible_ = (size + page - 1) / page * page;
    if (accessible_ == 0) accessible_ = page;
    base_ = support::MapPages(accessible_ + page);
    if (!base_) return;
    if (!support::ProtectPages(base_ + accessible_, page, support::PageAccess::kNone)) return;
    data_ = base_ + accessible_ - size;
    std::memset(data_, fill, size);
}

GuardedBytes::~GuardedBytes() {
    if (base_) support::UnmapPages(base_, accessible_ + support::PageSize());
}

bool GuardedBytes::MakeReadOnly() {
    return support::ProtectPages(base_, accessible_, support::PageAccess::kReadOnly);
}

}  // namespace test
