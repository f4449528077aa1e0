#pragma once

#include <string>
#include <vector>

namespace quillon::testing {

struct ProcessResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// Runs a program with arguments (no shell), standard input closed, and collects both streams.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnvironment = {});

}  // namespace quillon::testing
