#include "platform/Log.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/LogCapture.h"

namespace quillon::platform {
namespace {

TEST(LogFormat, PrintfLikeArguments) {
    struct Case {
        const char* format;
        std::vector<LogArgument> arguments;
        const char* expected;
    };
    const Case cases[] = {
        {"Found %ld shellScript blocks in %s",
         {std::int64_t{3}, std::string_view("a.pbxproj")},
         "Found 3 shellScript blocks in a.pbxproj"},
        {"Has eval: %{bool}d", {true}, "Has eval: true"},
        {"Obfuscated: %{bool}d", {false}, "Obfuscated: false"},
        {"in %.2fs", {3.4219}, "in 3.42s"},
        {"in %.2fs", {0.004}, "in 0.00s"},
        {"100%% %s", {std::string_view("x")}, "100% x"},
        {"missing %s", {}, "missing "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(formatLogMessage(c.format, c.arguments), c.expected);
    }
}

TEST(LogSinks, StandardErrorLineKeepsARecordOnOneLine) {
    const LogRecord record{LogLevel::info, "com.quillon", "BackgroundScan", "a\nb"};
    EXPECT_EQ(StderrLogSink::formatLine(record), "info com.quillon BackgroundScan a\\nb");
    StderrLogSink sink(LogLevel::info);
    EXPECT_FALSE(sink.accepts(LogLevel::debug));
    EXPECT_TRUE(sink.accepts(LogLevel::error));
}

TEST(LogSinks, LoggerWritesToTheInstalledSinkFromManyThreads) {
    testing::LogCapture capture;
    const Logger logger("com.test", "Threads");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&logger, t] {
            for (int i = 0; i < 100; ++i) {
                logger.info("thread %ld record %ld", t, i);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 400u);
    EXPECT_EQ(records.front().subsystem, "com.test");
    EXPECT_EQ(records.front().category, "Threads");
    EXPECT_EQ(records.front().level, LogLevel::info);
}

}  // namespace
}  // namespace quillon::platform
