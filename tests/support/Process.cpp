#include "support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace quillon::testing {

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& extraEnvironment) {
    return runProcessUntil(argv, extraEnvironment, nullptr, std::chrono::milliseconds(-1));
}

ProcessResult runProcessUntil(const std::vector<std::string>& argv,
                              const std::vector<std::string>& extraEnvironment,
                              const std::function<bool(const std::string& err)>& done,
                              std::chrono::milliseconds timeout, std::size_t addressSpaceLimit) {
    ProcessResult result;
    int out[2];
    int err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) {
        return result;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::setpgid(0, 0);
        if (addressSpaceLimit > 0) {
            const rlimit limit{addressSpaceLimit, addressSpaceLimit};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::close(out[0]);
        ::close(err[0]);
        for (const auto& entry : extraEnvironment) {
            ::putenv(const_cast<char*>(entry.c_str()));
        }
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool stopped = false;
    while (open > 0) {
        int wait = -1;
        if (timeout.count() >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait = static_cast<int>(std::max<long long>(0, left.count()));
        }
        const int ready = ::poll(fds, 2, wait);
        if (ready < 0) {
            break;
        }
        if (ready == 0 || (done && !stopped && done(result.err))) {
            ::kill(-child, SIGTERM);
            stopped = true;
            timeout = std::chrono::milliseconds(-1);  // now wait for the streams to close
            if (ready == 0) {
                continue;
            }
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) {
                continue;
            }
            char buffer[65536];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    result.status = (!stopped && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace quillon::testing
