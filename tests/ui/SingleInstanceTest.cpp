#include "ui/SingleInstance.h"

#include <gtest/gtest.h>

#include <QStandardPaths>
#include <QTest>
#include <atomic>
#include <thread>

namespace quillon::ui {
namespace {

TEST(SingleInstance, ASecondLaunchHandsOverToTheFirst) {
    QStandardPaths::setTestModeEnabled(true);
    auto first = std::make_unique<SingleInstance>();
    ASSERT_TRUE(first->isPrimary());
    bool activated = false;
    QObject::connect(first.get(), &SingleInstance::activationRequested, [&] { activated = true; });

    SingleInstance second;
    EXPECT_FALSE(second.isPrimary());
    std::atomic<bool> answered{false};
    std::thread caller([&] { answered = second.activatePrimary(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return activated; }, 5000));
    caller.join();
    EXPECT_TRUE(answered);

    first.reset();  // the first one quits: the next launch runs
    SingleInstance third;
    EXPECT_TRUE(third.isPrimary());
    QStandardPaths::setTestModeEnabled(false);
}

}  // namespace
}  // namespace quillon::ui
