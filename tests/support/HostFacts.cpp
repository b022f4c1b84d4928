#include "support/HostFacts.h"

#include <cstdlib>

namespace test {

std::string Layout() {
    const char* layout = std::getenv("VEKLINK_LAYOUT");
    return layout ? layout : "";
}

}  // namespace test
