// The test build's seams; only the test build of the tool compiles this.
#include "Seams.h"

#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <string>

void HoldPickedPort(int port) {
    // Read on the main thread; nothing in the tool changes its environment.
    const char* path = std::getenv("VEKLINK_HOLD_PICKED_PORT");  // NOLINT(concurrency-mt-unsafe)
    if (!path || !*path) return;
    const std::string written = std::string(path) + ".new";
    std::FILE* file = std::fopen(written.c_str(), "w");
    if (!file) return;
    std::fprintf(file, "%d\n", port);
    std::fclose(file);
    // Renamed into place, so that a reader never sees half of it.
    if (std::rename(written.c_str(), path) != 0) return;
    for (int polls = 0; polls < 500; ++polls) {
        file = std::fopen(path, "r");
        if (!file) return;
        std::fclose(file);
        support::SleepUnlessStopped(20);
    }
}
