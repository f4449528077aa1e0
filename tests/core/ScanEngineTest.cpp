#include "core/ScanEngine.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>

namespace quillon::core {
namespace {

using platform::FileURL;

// Takes files by extension and scores them from a table; records every call.
class FakeScanner final : public FileScanner {
  public:
    FakeScanner(std::string name, std::string extension, std::map<std::string, std::int64_t> scores,
                std::vector<std::string>* calls)
        : name_(std::move(name)),
          extension_(std::move(extension)),
          scores_(std::move(scores)),
          calls_(calls) {}

    bool canScan(const FileURL& file) const override { return file.pathExtension() == extension_; }
    ScanResult scan(const FileURL& file) const override {
        calls_->push_back(name_ + ":" + file.lastPathComponent());
        const auto found = scores_.find(file.lastPathComponent());
        const std::int64_t score = found == scores_.end() ? 0 : found->second;
        return ScanResult{file, score,
                          score > 0 ? std::vector<std::string>{name_} : std::vector<std::string>{}};
    }

  private:
    std::string name_;
    std::string extension_;
    std::map<std::string, std::int64_t> scores_;
    std::vector<std::string>* calls_;
};

std::vector<FileURL> files(std::initializer_list<const char*> names) {
    std::vector<FileURL> out;
    for (const char* name : names) {
        out.emplace_back(std::string("/p/") + name, false);
    }
    return out;
}

TEST(ScanEngine, NoFilesCallsNoDetector) {
    std::vector<std::string> calls;
    const ScanEngine engine(
        {std::make_shared<FakeScanner>("a", "sh", std::map<std::string, std::int64_t>{}, &calls)});
    EXPECT_TRUE(engine.scanFiles({}).empty());
    EXPECT_TRUE(calls.empty());
}

TEST(ScanEngine, KeepsPositiveScoresFileByFileThenDetectorByDetector) {
    std::vector<std::string> calls;
    const ScanEngine engine({
        std::make_shared<FakeScanner>(
            "first", "sh",
            std::map<std::string, std::int64_t>{{"x.sh", 10}, {"y.sh", 0}, {"z.sh", 5}}, &calls),
        std::make_shared<FakeScanner>(
            "second", "sh", std::map<std::string, std::int64_t>{{"x.sh", 20}, {"y.sh", -3}},
            &calls),
    });
    const auto results = engine.scanFiles(files({"x.sh", "skip.swift", "y.sh", "z.sh"}));
    EXPECT_EQ(calls, (std::vector<std::string>{"first:x.sh", "second:x.sh", "first:y.sh",
                                               "second:y.sh", "first:z.sh", "second:z.sh"}));
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0], (ScanResult{FileURL("/p/x.sh", false), 10, {"first"}}));
    EXPECT_EQ(results[1], (ScanResult{FileURL("/p/x.sh", false), 20, {"second"}}));
    EXPECT_EQ(results[2], (ScanResult{FileURL("/p/z.sh", false), 5, {"first"}}));
}

class PositiveWithoutFindings final : public FileScanner {
  public:
    bool canScan(const FileURL&) const override { return true; }
    ScanResult scan(const FileURL& file) const override { return ScanResult{file, 1, {}}; }
};

TEST(ScanEngine, PositiveScoreWithoutFindingsIsKept) {
    const ScanEngine engine({std::make_shared<PositiveWithoutFindings>()});
    const auto results = engine.scanFiles(files({"a"}));
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].findings.empty());
}

}  // namespace
}  // namespace quillon::core
