#include "platform/LineWriter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace quillon::platform {
namespace {

// Writers on several threads, buffered and not, share one pipe: every line must arrive whole.
TEST(LineWriter, LinesNeverTearAcrossWriters) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::string received;
    std::thread reader([&] {
        char buffer[65536];
        for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
            received.append(buffer, static_cast<std::size_t>(got));
        }
    });
    const auto line = [](int writer, int i) {
        return std::string(static_cast<std::size_t>(100 + i % 5000),
                           static_cast<char>('a' + writer)) +
               std::to_string(i);
    };
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 4; ++writer) {
        writers.emplace_back([&, writer] {
            if (writer % 2 == 0) {
                BufferedLineWriter output(pipeFds[1], 4096);
                for (int i = 0; i < 300; ++i)
                    output.writeLine(line(writer, i));
            } else {
                for (int i = 0; i < 300; ++i)
                    writeWholeLine(pipeFds[1], line(writer, i));
            }
        });
    }
    for (auto& thread : writers)
        thread.join();
    ::close(pipeFds[1]);
    reader.join();
    ::close(pipeFds[0]);

    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = received.find('\n', start)) != std::string::npos;
         start = end + 1) {
        lines.push_back(received.substr(start, end - start));
    }
    std::vector<std::string> expected;
    for (int writer = 0; writer < 4; ++writer) {
        for (int i = 0; i < 300; ++i)
            expected.push_back(line(writer, i));
    }
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace quillon::platform
