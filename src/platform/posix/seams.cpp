// The test seams' functions, in test builds only.
#include "seams.h"

#if defined(VEKLINK_TEST_SEAMS)
#  include <atomic>

namespace win {
namespace seam {
namespace {
std::atomic<Hook> hook{nullptr};
std::atomic<Failure> failure{nullptr};
std::atomic<Grant> grant{nullptr};
}  // namespace

void SetHook(Hook installed) { hook.store(installed); }
void SetFailure(Failure installed) { failure.store(installed); }
void SetGrant(Grant installed) { grant.store(installed); }

void Reach(Point point) {
    if (const Hook installed = hook.load()) installed(point);
}

bool Fails(Point point) {
    const Failure installed = failure.load();
    return installed && installed(point);
}

uint16_t Granted(uint16_t granted) {
    const Grant installed = grant.load();
    return installed ? installed(granted) : granted;
}

}  // namespace seam
}  // namespace win
#endif
