#include "cli/ScanCommand.h"

int main(int argc, char** argv) {
    return quillon::cli::runScanCommand(argc, argv);
}
