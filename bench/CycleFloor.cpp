// What a monitoring cycle costs before any analysis runs: the one walk of a folder that serves
// every analysis and one read of every file any of them takes, in a fresh process like
// quillon-scan's, nothing printed. bench/compare.sh times it beside the real cycle.
//
//   quillon_cycle_floor FOLDER
#include <malloc.h>

#include <cstdio>
#include <unordered_set>

#include "core/FileDiscovery.h"
#include "platform/TextFile.h"
#include "scan/Analyses.h"

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
    std::vector<const core::DiscoveryConfiguration*> configurations;
    for (const auto& analysis : scan::analyses()) {
        configurations.push_back(&analysis.files());
    }
    const auto lists = core::discoverFilesOnce(root, configurations);
    std::unordered_set<std::string> read;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < lists.size(); ++i) {
        const auto reads = scan::analyses()[i].reads;
        for (const auto& file : lists[i]) {
            if (!file.isDirectory() && (reads == nullptr || reads(file)) &&
                read.insert(file.path()).second) {
                bytes += platform::readTextFile(file.path()).value_or("").size();
            }
        }
    }
    return bytes == 0 ? 1 : 0;
}
