#pragma once

#include <chrono>
#include <functional>
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

// Like runProcess, but ends the program and everything it started (SIGTERM to its process
// group) as soon as `done` holds for the standard error read so far, or when `timeout` passes.
// `status` is then -1.
ProcessResult runProcessUntil(const std::vector<std::string>& argv,
                              const std::vector<std::string>& extraEnvironment,
                              const std::function<bool(const std::string& err)>& done,
                              std::chrono::milliseconds timeout, std::size_t addressSpaceLimit = 0);

// Runs a program under a wall-clock limit and an address-space limit (bytes); a program that
// runs out of time is killed and reported with `status` -1, as is one that dies of a signal.
inline ProcessResult runLimited(const std::vector<std::string>& argv,
                                std::chrono::milliseconds timeout, std::size_t addressSpaceLimit) {
    return runProcessUntil(argv, {}, nullptr, timeout, addressSpaceLimit);
}

}  // namespace quillon::testing
