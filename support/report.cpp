// The ok/not ok lines of a check program.
#include "support.h"

#include <cstdio>

namespace support {
namespace {

int failed = 0;

}  // namespace

bool Check(bool passed, const std::string& what) {
    std::printf("%s %s\n", passed ? "ok" : "not ok", what.c_str());
    if (!passed) ++failed;
    return passed;
}

int FailedChecks() { return failed; }

}  // namespace support
