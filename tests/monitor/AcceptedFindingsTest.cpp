#include "monitor/AcceptedFindings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "monitor/URLStore.h"
#include "platform/Base64.h"
#include "platform/LoginItem.h"
#include "report/Baseline.h"
#include "support/TempTree.h"

namespace quillon::monitor {
namespace {

using platform::FileURL;

core::Finding finding(const std::string& fingerprint) {
    core::Finding out;
    out.ruleId = "xcsset-chmod";
    out.title = "Executable permission set";
    out.location.file = "Scripts/tool.sh";
    out.location.line = 1;
    out.fingerprint = fingerprint;
    return out;
}

TEST(AcceptedFindings, KeptPerProjectAcrossRestartsAndRestorable) {
    platform::MemoryDefaults defaults;
    const FileURL app("/work/App", true), other("/work/Other", true);
    const auto date = std::chrono::system_clock::from_time_t(1'760'000'000);
    {
        AcceptedFindings accepted(defaults);
        accepted.accept(app, finding("aa"), "our own tool script", date);
        accepted.accept(app, finding("aa"), "again", date);  // once per fingerprint
        accepted.accept(app, finding("bb"), "vendored", date);
        accepted.accept(other, finding("cc"), "", date);
    }
    AcceptedFindings restarted(defaults);
    const auto entries = restarted.entries(app);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], (AcceptedFinding{"aa", "xcsset-chmod", "Executable permission set",
                                           "Scripts/tool.sh", 1, "our own tool script", date}));
    EXPECT_EQ(restarted.fingerprints(other), (std::set<std::string>{"cc"}));

    EXPECT_TRUE(restarted.restore(app, "aa"));
    EXPECT_FALSE(restarted.restore(app, "aa"));
    EXPECT_FALSE(restarted.restore(FileURL("/elsewhere", true), "bb"));
    EXPECT_EQ(AcceptedFindings(defaults).fingerprints(app), (std::set<std::string>{"bb"}));
    // Stored in the application's settings, dated in UTC.
    const auto stored = nlohmann::json::parse(*defaults.data(AcceptedFindings::kStorageKey));
    EXPECT_EQ(stored["projects"]["file:///work/App/"][0]["date"], "2025-10-09T08:53:20Z");
}

TEST(AcceptedFindings, ExportedAsABaselineTheScannerReads) {
    platform::MemoryDefaults defaults;
    AcceptedFindings accepted(defaults);
    const FileURL app("/work/App", true);
    accepted.accept(app, finding("aa"), "our own tool script", {});
    std::string error;
    bool ok = false;
    const auto baseline = report::parseBaseline(accepted.exportBaseline(app), error, ok);
    ASSERT_TRUE(ok) << error;
    ASSERT_EQ(baseline.entries.size(), 1u);
    EXPECT_EQ(baseline.entries[0].fingerprint, "aa");
    EXPECT_EQ(baseline.entries[0].reason, "our own tool script");
    EXPECT_EQ(baseline.entries[0].file, "Scripts/tool.sh");
}

TEST(AcceptedFindings, UndecodableValueReadsAsNoneAndStaysUntilAChange) {
    platform::MemoryDefaults defaults;
    defaults.setData(AcceptedFindings::kStorageKey, "not json");
    AcceptedFindings accepted(defaults);
    EXPECT_TRUE(accepted.fingerprints(FileURL("/work/App", true)).empty());
    EXPECT_EQ(*defaults.data(AcceptedFindings::kStorageKey), "not json");
}

// The stored project list keeps the shape it always had; removal writes the rest in it.
TEST(ProjectStoreRemoval, AListStoredBeforeRemovalExistedLoadsAndShrinksInItsShape) {
    testing::TempTree tree;
    tree.mkdir("A");
    tree.mkdir("B");
    const FileURL a(tree.path("A"), true), b(tree.path("B"), true);
    auto bookmark = [](const FileURL& url) {
        return platform::encodeBase64(
            std::get<std::string>(platform::systemBookmarks().create(url)));
    };
    platform::MemoryDefaults defaults;
    defaults.setData(URLStore::kStorageKey, "[{\"bookmarkData\":\"" + bookmark(a) +
                                                "\"},{\"bookmarkData\":\"" + bookmark(b) + "\"}]");
    URLStore store(defaults, platform::systemBookmarks());
    store.load();
    ASSERT_EQ(store.urls(), (std::vector<FileURL>{a, b}));

    store.remove(a);
    EXPECT_EQ(store.urls(), (std::vector<FileURL>{b}));
    EXPECT_EQ(*defaults.data(URLStore::kStorageKey),
              "[{\"bookmarkData\":\"" + bookmark(b) + "\"}]");
    const int writes = defaults.writeCount();
    store.remove(a);  // not listed: nothing written
    EXPECT_EQ(defaults.writeCount(), writes);
}

TEST(XdgAutostart, WritesAndRemovesTheEntry) {
    testing::TempTree tree;
    platform::XdgAutostart autostart("/opt/Quillon App/bin/quillon", tree.path("config"));
    EXPECT_EQ(autostart.entryPath(), tree.path("config") + "/autostart/quillon.desktop");
    EXPECT_FALSE(autostart.isEnabled());
    std::string error;
    ASSERT_TRUE(autostart.setEnabled(true, error)) << error;
    EXPECT_TRUE(autostart.isEnabled());
    std::ifstream file(autostart.entryPath());
    const std::string entry{std::istreambuf_iterator<char>(file), {}};
    EXPECT_NE(entry.find("Exec=\"/opt/Quillon App/bin/quillon\" --background\n"), std::string::npos)
        << entry;
    EXPECT_TRUE(entry.starts_with("[Desktop Entry]\nType=Application\n"));
    ASSERT_TRUE(autostart.setEnabled(false, error)) << error;
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_TRUE(autostart.setEnabled(false, error));  // already gone

    tree.write("blocked", "a file where the folder would go");
    platform::XdgAutostart blocked("/usr/bin/quillon", tree.path("blocked"));
    EXPECT_FALSE(blocked.setEnabled(true, error));
    EXPECT_NE(error.find("blocked"), std::string::npos);
}

}  // namespace
}  // namespace quillon::monitor
