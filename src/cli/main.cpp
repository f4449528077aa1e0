#include <malloc.h>

#include "cli/ScanCommand.h"

int main(int argc, char** argv) {
#ifdef M_MMAP_THRESHOLD
    // A scan reads file after file into buffers of megabytes: keep them in the heap and reuse
    // its pages instead of mapping, faulting in and unmapping fresh ones for every file.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
#endif
    return quillon::cli::runScanCommand(argc, argv);
}
