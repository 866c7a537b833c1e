// The tree overlap check that every endpoint check of a run makes, against a
// mount table of a container host: N overlays below the source, each on an
// upper and a lower layer of its own, and N other mounts beside them. Prints
// the time of one check for 100 and 1,000 of each and their ratio, which
// stays near 10 while the check grows with the table.
// Usage: TreeOverlapBench [checks per size]
#include "BenchSupport.h"

#include "SyncAutomation/FileSystemPlaces.h"

#include <cstdlib>
#include <string>
#include <vector>

using namespace kelto;
using namespace kelto::bench;

namespace {

std::vector<MountedVolume> table(int n) {
    std::vector<MountedVolume> mounts{{"/", {}, "/", 1}};
    for (int i = 0; i < n; ++i) {
        const std::string name = std::to_string(i);
        mounts.push_back({"/srv/A/merged/" + name, {}, "/", 1000u + static_cast<unsigned>(i),
                          {"/srv/layers/" + name + "/diff", "/srv/layers/" + name + "/lower"}});
        mounts.push_back({"/run/other/" + name, {}, "/", 5000u + static_cast<unsigned>(i)});
    }
    return mounts;
}

double secondsPerCheck(int n, int checks) {
    const std::vector<MountedVolume> mounts = table(n);
    const auto start = std::chrono::steady_clock::now();
    int overlapping = 0;
    for (int i = 0; i < checks; ++i) overlapping += FileSystemPlaces::overlap(mounts, "/srv/A", "/backup/B") ? 1 : 0;
    if (overlapping != 0) std::printf("unexpected overlap\n");
    return secondsSince(start) / checks;
}

}  // namespace

int main(int argc, char** argv) {
    const int checks = argc > 1 ? std::atoi(argv[1]) : 5;
    const double small = secondsPerCheck(100, checks), large = secondsPerCheck(1000, checks);
    std::printf("one check, 100 overlays:   %9.3f ms\n", small * 1e3);
    std::printf("one check, 1,000 overlays: %9.3f ms\n", large * 1e3);
    std::printf("ratio: %.1f (10 when linear)\n", large / small);
    return 0;
}
