#include "cli/ScanCommand.h"
#include "platform/Allocator.h"

int main(int argc, char** argv) {
    // A scan reads file after file into buffers of megabytes.
    quillon::platform::tuneAllocatorForLargeBuffers();
    return quillon::cli::runScanCommand(argc, argv);
}
