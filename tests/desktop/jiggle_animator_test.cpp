// The wobble of a key in edit mode: periods and start delays by seed, and no animations left
// stacked on a key after quick toggles.

#include "app/desktop/editor/jiggle_animator.h"

#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <vector>

#include "qt_application.h"

namespace velopad {
namespace {

using desktop::JiggleAnimator;

// The running animations' full periods (there and back) in milliseconds, sorted.
std::vector<int> periods(const JiggleAnimator& jiggle) {
    std::vector<int> result;
    for (const auto* animation : jiggle.findChildren<QVariantAnimation*>()) {
        result.push_back(animation->duration());
    }
    std::sort(result.begin(), result.end());
    return result;
}

TEST(JiggleAnimator, StartsAfterTheDelayOfItsSeedWithItsOwnPeriods) {
    testing::qtApplication();
    struct Case {
        int seed;
        int delayMs;
        std::vector<int> periodsMs;  // rotation (2 × 0.115…0.165 s), bounce (2 × 0.155…0.205 s)
        double amplitude;
    };
    const Case cases[] = {
        {5, 0, {290, 390}, -0.02},
        {7, 60, {310, 410}, -0.02},
        {4, 120, {280, 380}, 0.02},
        {10, 0, {230, 330}, 0.02},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seed);
        JiggleAnimator jiggle;
        jiggle.setActive(true, c.seed);
        EXPECT_EQ(jiggle.isAnimating(), c.delayMs == 0);
        EXPECT_EQ(jiggle.isStartPending(), c.delayMs != 0);
        EXPECT_EQ(jiggle.startDelayMs(), c.delayMs);
        EXPECT_TRUE(QTest::qWaitFor([&] { return jiggle.isAnimating(); }, 2000));
        EXPECT_EQ(periods(jiggle), c.periodsMs);
        EXPECT_EQ(JiggleAnimator::rotationAmplitude(c.seed), c.amplitude);
        EXPECT_TRUE(QTest::qWaitFor([&] { return jiggle.bounce() < -0.5; }, 2000));
        EXPECT_GE(jiggle.bounce(), -2.0);
        EXPECT_LE(std::abs(jiggle.rotation()), 0.02 + 1e-9);
    }
}

TEST(JiggleAnimator, QuickTogglesNeverStackAnimations) {
    testing::qtApplication();
    JiggleAnimator jiggle;
    jiggle.setActive(true, 7);
    ASSERT_TRUE(QTest::qWaitFor([&] { return jiggle.isAnimating(); }, 2000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return jiggle.rotation() != 0; }, 2000));

    for (int i = 0; i < 3; ++i) {
        jiggle.setActive(false, 7);
        EXPECT_LE(jiggle.animationCount(), 1);  // at most the settling one
        jiggle.setActive(true, 7);
        EXPECT_EQ(jiggle.animationCount(), 0);
        EXPECT_EQ(jiggle.rotation(), 0);
    }
    // Asking again while already wobbling with the same seed changes nothing.
    ASSERT_TRUE(QTest::qWaitFor([&] { return jiggle.isAnimating(); }, 2000));
    jiggle.setActive(true, 7);
    EXPECT_EQ(jiggle.animationCount(), 2);
    EXPECT_TRUE(jiggle.isAnimating());

    jiggle.setActive(false, 7);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return jiggle.animationCount() == 0 && jiggle.rotation() == 0; }, 2000));
    EXPECT_EQ(jiggle.bounce(), 0);
    EXPECT_FALSE(jiggle.runningSeed().has_value());
}

}  // namespace
}  // namespace velopad
