// The test seams' hook, in test builds only.
#include "seams.h"

#if defined(VEKLINK_TEST_SEAMS)
#include <atomic>

namespace win {
namespace seam {
namespace {
std::atomic<Hook> installed{nullptr};
}

void SetHook(Hook hook) { installed.store(hook); }

void Reach(Point point) {
    if (const Hook hook = installed.load()) hook(point);
}

}  // namespace seam
}  // namespace win
#endif
