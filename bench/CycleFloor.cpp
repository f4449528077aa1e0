// What a monitoring cycle costs before any detector runs: both discoveries over a folder and a
// read of every file each scan takes, in a fresh process like quillon-scan's, nothing printed.
// bench/compare.sh times it beside the real cycle.
//
//   quillon_cycle_floor FOLDER
#include <malloc.h>

#include <cstdio>

#include "core/FileDiscovery.h"
#include "detectors/xcodespy/XcodeSpyScanner.h"
#include "detectors/xcsset/XCSSETScanner.h"
#include "platform/TextFile.h"

int main(int argc, char** argv) {
    using namespace quillon;
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillon_cycle_floor FOLDER\n");
        return 2;
    }
#ifdef M_MMAP_THRESHOLD
    // The scanner's allocation settings, so that both processes fault in the same memory.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
    const platform::FileURL root(argv[1], true);
    const detectors::xcsset::XCSSETScanner xcsset(platform::nullOutput());
    const detectors::xcodespy::XcodeSpyScanner xcodeSpy;
    std::size_t bytes = 0;
    for (const auto& file :
         core::FileDiscovery().discoverFiles(root, core::xcssetDiscoveryConfiguration())) {
        if (xcsset.canScan(file)) {
            bytes += platform::readTextFile(file.path()).value_or("").size();
        }
    }
    for (const auto& file :
         core::FileDiscovery().discoverFiles(root, core::xcodeSpyDiscoveryConfiguration())) {
        if (xcodeSpy.canScan(file)) {
            bytes += platform::readTextFile(file.path()).value_or("").size();
        }
    }
    return bytes == 0 ? 1 : 0;
}
